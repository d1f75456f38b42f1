// Feature capabilities, values and absolute values against the simulated
// camera. Each table row sets the feature's inquiry and control registers,
// makes one call and checks the status and the exact word written to the
// camera (or that nothing was written). Golden words are worked out by hand
// from the register layout: inquiry bits 31 present, 30 absolute, 28
// one-push, 27 read-out, 26 on/off, 25 auto, 24 manual, 23..12 min, 11..0
// max; control bits 31 present, 30 absolute on, 26 one-push, 25 on, 24 auto.
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "tests/camera_driver/dcam_fixture.h"

namespace {

constexpr OSStatus kMissing = -2201;
constexpr OSStatus kBad = -50;
constexpr UInt32 kDefaultID = 0x00003003;  // SimDefaultColourPersonality
constexpr UInt32 kGainBlock = 0x2480;      // 0x2400 + 0x10 x ((0x520 - 0x500) / 4)

struct Write {
  UInt32 offset;
  UInt32 value;
};

class FeaturesTest : public DCAMTest {
 protected:
  void SetUp() override {
    DCAMTest::SetUp();
    sim_ = Rig({SimDefaultColourPersonality()})[0];
    cam_ = ORX_DCAM_OpenACamera(kDefaultID);
    ASSERT_NE(cam_, nullptr);
  }
  void TearDown() override {
    if (cam_) {
      EXPECT_EQ(ORX_DCAM_CloseACamera(cam_), 0);
    }
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  void Registers(UInt32 feature, UInt32 inquiry, UInt32 control) {
    sim_->Poke(feature, inquiry);
    sim_->Poke(feature + 0x300, control);
    sim_->ClearLog();
  }
  std::vector<Write> Writes() const {
    std::vector<Write> w;
    for (const SimLogEntry& e : sim_->Log())
      if (e.kind == SimLogKind::FWWrite) w.push_back({e.offset, e.value});
    return w;
  }
  void ExpectOneWrite(UInt32 offset, std::optional<UInt32> value) {
    auto w = Writes();
    if (!value) {
      EXPECT_TRUE(w.empty()) << "wrote " << std::hex << w[0].value << " at " << w[0].offset;
      return;
    }
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].offset, offset) << std::hex;
    EXPECT_EQ(w[0].value, *value) << std::hex << w[0].value << " != " << *value;
  }
  float PeekFloat(UInt32 offset) const {
    UInt32 bits = sim_->Peek(offset);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }

  std::shared_ptr<SimCamera> sim_;
  MyDCAMCameraStruct* cam_ = nullptr;
};

// ---------------------------------------------------------------- writing

struct SetRow {
  const char* what;
  UInt32 feature;
  SInt32 selector;
  UInt32 value;
  UInt32 inquiry;
  UInt32 control;
  OSStatus status;
  std::optional<UInt32> written;  // to the control register; nullopt: no write
};

const SetRow kSetRows[] = {
    // gain 0x520: absolute, read-out, auto, manual; 0..0x2A8
    {"gain at max", 0x520, 0, 0x2A8, 0xCB0002A8, 0x83000000, 0, 0x820002A8},
    {"gain above max", 0x520, 0, 0x2A9, 0xCB0002A8, 0x82000000, kBad, std::nullopt},
    {"gain below min", 0x520, 0, 0x00F, 0xCB0102A8, 0x82000000, kBad, std::nullopt},
    {"gain at min, auto cleared", 0x520, 0, 0x010, 0xCB0102A8, 0xC3000555, 0, 0x82000010},
    {"gain without manual", 0x520, 0, 5, 0xCA0002A8, 0x82000000, kMissing, std::nullopt},
    {"gain absent", 0x520, 0, 5, 0x4B0002A8, 0x82000000, kMissing, std::nullopt},
    {"ordinary, selector 4", 0x520, 4, 5, 0xCB0002A8, 0x82000000, kMissing, std::nullopt},
    {"ordinary, selector -1", 0x520, -1, 5, 0xCB0002A8, 0x82000000, kMissing, std::nullopt},
    // selectors 1..3 move their own bit and keep the rest as read
    {"auto on", 0x520, 1, 1, 0xCB0002A8, 0x82000123, 0, 0x83000123},
    {"auto off keeps absolute", 0x520, 1, 0, 0xCB0002A8, 0xC3000123, 0, 0xC2000123},
    {"auto without capability", 0x520, 1, 1, 0xC90002A8, 0x82000123, kMissing, std::nullopt},
    {"switch off", 0x520, 2, 0, 0x8F0002A8, 0x82000123, 0, 0x80000123},
    {"switch off keeps bit 31 as read", 0x520, 2, 0, 0x8F0002A8, 0x02000123, 0, 0x00000123},
    {"switch on", 0x520, 2, 7, 0x8F0002A8, 0x80000123, 0, 0x82000123},
    {"on/off without capability", 0x520, 2, 0, 0xCB0002A8, 0x82000123, kMissing, std::nullopt},
    {"one-push keeps auto", 0x520, 3, 1, 0x9F0002A8, 0x83000100, 0, 0x87000100},
    {"one-push without capability", 0x520, 3, 1, 0x8F0002A8, 0x83000100, kMissing, std::nullopt},
    // feature offsets outside 0x500..0x58C: presence is tested first
    {"outside range, bit 31 set", 0x600, 0, 1, 0x80000000, 0, kBad, std::nullopt},
    {"outside range, bit 31 clear", 0x408, 0, 1, 0x00000000, 0, kMissing, std::nullopt},
    {"just below the range", 0x4FC, 0, 1, 0x890000FF, 0, kBad, std::nullopt},
    {"just above the range", 0x590, 0, 1, 0x890000FF, 0, kBad, std::nullopt},
    {"last feature", 0x58C, 0, 0x42, 0x890000FF, 0x80000000, 0, 0x82000042},
    // white balance 0x50C: one-push, read-out, auto, manual; 0..0x3FF
    {"U/B keeps V/R", 0x50C, 4, 0x123, 0x9B0003FF, 0x831E0200, 0, 0x82123200},
    {"V/R keeps U/B", 0x50C, 5, 0x0AB, 0x9B0003FF, 0x821E0200, 0, 0x821E00AB},
    {"U/B above max", 0x50C, 4, 0x400, 0x9B0003FF, 0x821E0200, kBad, std::nullopt},
    {"V/R without manual", 0x50C, 5, 1, 0x9A0003FF, 0x821E0200, kMissing, std::nullopt},
    {"white balance, selector 0", 0x50C, 0, 1, 0x9B0003FF, 0x821E0200, kMissing, std::nullopt},
    {"white balance auto", 0x50C, 1, 1, 0x9B0003FF, 0x821E0200, 0, 0x831E0200},
    {"white balance one-push", 0x50C, 3, 1, 0x9B0003FF, 0x821E0200, 0, 0x861E0200},
    // temperature 0x52C: absolute, read-out, manual; 0..0xFFF
    {"set point", 0x52C, 6, 0x123, 0xC9000FFF, 0x82456789, 0, 0x82123000},
    {"set point without manual", 0x52C, 6, 0x123, 0xC8000FFF, 0x82000000, kMissing, std::nullopt},
    {"set point above max", 0x52C, 6, 0x201, 0xC9100200, 0x82000000, kBad, std::nullopt},
    {"set point below min", 0x52C, 6, 0x0FF, 0xC9100200, 0x82000000, kBad, std::nullopt},
    {"current is read only", 0x52C, 7, 1, 0xC9000FFF, 0x82000000, kMissing, std::nullopt},
    // trigger 0x530: read-out, on/off, polarity; source 0; mode 0
    {"mode clears polarity", 0x530, 9, 0, 0x8E808000, 0x81E5A123, 0, 0x82E0A123},
    {"mode above 15", 0x530, 9, 16, 0x8E808000, 0x81E5A123, kBad, std::nullopt},
    {"mode not offered", 0x530, 9, 1, 0x8E808000, 0x81E5A123, kMissing, std::nullopt},
    {"mode 3 offered", 0x530, 9, 3, 0x8E801000, 0x80000000, 0, 0x82030000},
    {"source keeps polarity", 0x530, 12, 0, 0x8E808000, 0x81E5A123, 0, 0x8305A123},
    {"source above 3", 0x530, 12, 4, 0x8E808000, 0x81E5A123, kBad, std::nullopt},
    {"source not offered", 0x530, 12, 1, 0x8E808000, 0x81E5A123, kMissing, std::nullopt},
    {"source 2 offered", 0x530, 12, 2, 0x8E208000, 0x80000000, 0, 0x82400000},
    {"parameter", 0x530, 10, 0x1ABC, 0x8E808000, 0x81E5A123, 0, 0x82E5AABC},
    {"polarity on", 0x530, 8, 1, 0x8E808000, 0x80000000, 0, 0x83000000},
    {"polarity off", 0x530, 8, 0, 0x8E808000, 0x83000000, 0, 0x82000000},
    {"polarity not offered", 0x530, 8, 1, 0x8C808000, 0x80000000, kMissing, std::nullopt},
    {"trigger on", 0x530, 2, 1, 0x8E808000, 0x80000000, 0, 0x82000000},
    {"trigger, selector 0", 0x530, 0, 0, 0x8E808000, 0x80000000, kMissing, std::nullopt},
    {"trigger, selector 1", 0x530, 1, 0, 0x8E808000, 0x80000000, kMissing, std::nullopt},
    {"trigger, selector 13", 0x530, 13, 0, 0x8E808000, 0x80000000, kMissing, std::nullopt},
    {"trigger, selector -1", 0x530, -1, 0, 0x8E808000, 0x80000000, kMissing, std::nullopt},
};

TEST_F(FeaturesTest, SetPropertyValueTable) {
  for (const SetRow& r : kSetRows) {
    SCOPED_TRACE(r.what);
    Registers(r.feature, r.inquiry, r.control);
    EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam_, r.feature, r.selector, r.value), r.status);
    ExpectOneWrite(r.feature + 0x300, r.written);
  }
}

// ---------------------------------------------------------------- reading

struct GetRow {
  const char* what;
  UInt32 feature;
  SInt32 selector;
  UInt32 inquiry;
  UInt32 control;
  OSStatus status;
  UInt32 value;  // when the status is 0; otherwise the caller's value stays
};

const GetRow kGetRows[] = {
    {"gain value", 0x520, 0, 0xCB0002A8, 0x820001AB, 0, 0x1AB},
    {"value without manual", 0x520, 0, 0xCA0002A8, 0x820001AB, kMissing, 0},
    {"auto bit", 0x520, 1, 0xCB0002A8, 0x83000000, 0, 1},
    {"auto bit clear", 0x520, 1, 0xCB0002A8, 0x82000000, 0, 0},
    {"on/off without capability", 0x520, 2, 0xCB0002A8, 0x82000000, kMissing, 0},
    {"on/off", 0x520, 2, 0x8F0002A8, 0x82000000, 0, 1},
    {"one-push", 0x520, 3, 0x9F0002A8, 0x86000000, 0, 1},
    {"ordinary, selector 6", 0x520, 6, 0xCB0002A8, 0x82000000, kMissing, 0},
    {"absent", 0x520, 0, 0x4B0002A8, 0x820001AB, kMissing, 0},
    {"outside range, bit 31 set", 0x600, 0, 0x80000000, 0, kBad, 0},
    {"outside range, bit 31 clear", 0x408, 0, 0x00000000, 0, kMissing, 0},
    {"U/B", 0x50C, 4, 0x9B0003FF, 0x821E0200, 0, 0x1E0},
    {"V/R", 0x50C, 5, 0x9B0003FF, 0x821E0200, 0, 0x200},
    {"white balance in auto", 0x50C, 4, 0x9B0003FF, 0x831E0200, kBad, 0},
    {"white balance without manual", 0x50C, 5, 0x9A0003FF, 0x821E0200, kMissing, 0},
    {"white balance auto bit", 0x50C, 1, 0x9B0003FF, 0x831E0200, 0, 1},
    {"set point", 0x52C, 6, 0xC9000FFF, 0x82123456, 0, 0x123},
    {"current", 0x52C, 7, 0xC9000FFF, 0x82123123, 0, 0x123},
    {"polarity", 0x530, 8, 0x8E808000, 0x83000000, 0, 1},
    {"polarity not offered", 0x530, 8, 0x8C808000, 0x83000000, kMissing, 0},
    {"mode", 0x530, 9, 0x8E808000, 0x820A0000, 0, 0xA},
    {"parameter", 0x530, 10, 0x8E808000, 0x82E5AABC, 0, 0xABC},
    {"source", 0x530, 12, 0x8E808000, 0x82600000, 0, 3},
    {"trigger on/off", 0x530, 2, 0x8E808000, 0x82000000, 0, 1},
    {"trigger, selector 1", 0x530, 1, 0x8E808000, 0x83000000, kMissing, 0},
};

TEST_F(FeaturesTest, GetPropertyValueTable) {
  for (const GetRow& r : kGetRows) {
    SCOPED_TRACE(r.what);
    Registers(r.feature, r.inquiry, r.control);
    UInt32 v = 0xDEADBEEF;
    EXPECT_EQ(ORX_DCAM_GetPropertyValue(cam_, SInt32(r.feature), r.selector, &v), r.status);
    EXPECT_EQ(v, r.status == 0 ? r.value : 0xDEADBEEF);
    EXPECT_TRUE(Writes().empty());
  }
}

TEST_F(FeaturesTest, FailedReadsPassThrough) {
  // The inquiry read fails: its status, nothing written.
  Registers(0x520, 0xCB0002A8, 0x82000000);
  sim_->FailRegister(0x520, SimAccessKind::Read, kIOReturnNotResponding, 1);
  EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam_, 0x520, 0, 1), OSStatus(kIOReturnNotResponding));
  ExpectOneWrite(0x820, std::nullopt);

  // The control read of a read-modify-write fails: nothing written.
  Registers(0x50C, 0x9B0003FF, 0x821E0200);
  sim_->FailRegister(0x80C, SimAccessKind::Read, kIOReturnTimeout, 1);
  EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam_, 0x50C, 4, 1), OSStatus(kIOReturnTimeout));
  ExpectOneWrite(0x80C, std::nullopt);
  sim_->FailRegister(0x820, SimAccessKind::Read, kIOReturnTimeout, 1);
  Registers(0x520, 0xCB0002A8, 0x82000000);
  EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam_, 0x520, 1, 1), OSStatus(kIOReturnTimeout));
  ExpectOneWrite(0x820, std::nullopt);

  // The current temperature is stored even when its read fails (the reader
  // answers 0); the set point is not.
  Registers(0x52C, 0xC9000FFF, 0x82123456);
  sim_->FailRegister(0x82C, SimAccessKind::Read, kIOReturnNotResponding, 2);
  UInt32 v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_GetPropertyValue(cam_, 0x52C, 7, &v), OSStatus(kIOReturnNotResponding));
  EXPECT_EQ(v, 0u);
  v = 0xDEADBEEF;
  EXPECT_EQ(ORX_DCAM_GetPropertyValue(cam_, 0x52C, 6, &v), OSStatus(kIOReturnNotResponding));
  EXPECT_EQ(v, 0xDEADBEEFu);
}

// ---------------------------------------------------------------- capability

TEST_F(FeaturesTest, CapabilityTable) {
  struct Row {
    const char* what;
    UInt32 feature, inquiry;
    OSStatus status;
    UInt32 min, max;
    UInt8 onePush, readOut, onOff, autoMode, manual;
  };
  const Row rows[] = {
      {"gain", 0x520, 0xCB0102A8, 0, 0x010, 0x2A8, 0, 1, 0, 1, 1},
      {"white balance", 0x50C, 0x9B0003FF, 0, 0, 0x3FF, 1, 1, 0, 1, 1},
      {"everything", 0x500, 0xDFFFFFFF, 0, 0xFFF, 0xFFF, 1, 1, 1, 1, 1},
      {"nothing but presence", 0x500, 0x80000000, 0, 0, 0, 0, 0, 0, 0, 0},
      {"trigger modes 0..3", 0x530, 0x8E80F000, 0, 0, 0xF, 0, 1, 1, 1, 1},
      {"trigger mode 3 only", 0x530, 0x9E801FFF, 0, 0, 0x1, 0, 1, 1, 1, 1},
      {"trigger, no mode 0..3", 0x530, 0x8E800FFF, 0, 0, 0, 0, 1, 1, 1, 0},
      {"absent", 0x520, 0x7FFFFFFF, kMissing, 9, 9, 9, 9, 9, 9, 9},
      {"outside range, bit 31 set", 0x600, 0x80000000, kBad, 9, 9, 9, 9, 9, 9, 9},
      {"outside range, bit 31 clear", 0x408, 0x00000000, kMissing, 9, 9, 9, 9, 9, 9, 9},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Registers(r.feature, r.inquiry, 0);
    UInt32 min = 9, max = 9;
    UInt8 onePush = 9, readOut = 9, onOff = 9, autoMode = 9, manual = 9;
    EXPECT_EQ(ORX_DCAM_GetPropertyCapability(cam_, SInt32(r.feature), &min, &max, &onePush, &readOut, &onOff,
                                             &autoMode, &manual),
              r.status);
    EXPECT_EQ(min, r.min);
    EXPECT_EQ(max, r.max);
    EXPECT_EQ(onePush, r.onePush);
    EXPECT_EQ(readOut, r.readOut);
    EXPECT_EQ(onOff, r.onOff);
    EXPECT_EQ(autoMode, r.autoMode);
    EXPECT_EQ(manual, r.manual);
  }
}

// ---------------------------------------------------------------- absolute values

TEST_F(FeaturesTest, AbsoluteCapabilityAndValue) {
  // Gain's block: 0 .. 24 dB, value 0 (SimPersonalities.cpp).
  float min = -1, max = -1;
  UInt8 readOut = 9, manual = 9;
  ASSERT_EQ(ORX_DCAM_GetABSPropertyCapability(cam_, 0x520, &min, &max, &readOut, &manual), 0);
  EXPECT_EQ(min, 0.0f);
  EXPECT_EQ(max, 24.0f);
  EXPECT_EQ(readOut, 1);  // 0xCB0002A8: bit 27
  EXPECT_EQ(manual, 1);   // bit 24

  // The shutter's: 0.00002 .. 32 s.
  ASSERT_EQ(ORX_DCAM_GetABSPropertyCapability(cam_, 0x51C, &min, &max, &readOut, &manual), 0);
  EXPECT_EQ(min, 0.00002f);
  EXPECT_EQ(max, 32.0f);

  // No block (sharpness has no absolute control), an offset that is no
  // feature, and a feature the camera lacks: -2201 with the outputs cleared.
  for (UInt32 feature : {0x508u, 0x600u, 0x510u, 0x502u}) {
    SCOPED_TRACE(feature);
    min = max = -1;
    readOut = manual = 9;
    EXPECT_EQ(ORX_DCAM_GetABSPropertyCapability(cam_, feature, &min, &max, &readOut, &manual), kMissing);
    EXPECT_EQ(min, 0.0f);
    EXPECT_EQ(max, 0.0f);
    EXPECT_EQ(readOut, 0);
    EXPECT_EQ(manual, 0);
    float v = -1;
    EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, feature, 0, &v), kMissing);
    EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, feature, 0, 1.0), kMissing);
  }

  sim_->Poke(kGainBlock + 8, SimFloatBits(6.5f));
  float v = -1;
  ASSERT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x520, 0, &v), 0);
  EXPECT_EQ(v, 6.5f);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x520, 1, &v), kMissing);
  EXPECT_EQ(v, 0.0f);
}

TEST_F(FeaturesTest, AbsoluteValueWritesAreClamped) {
  struct Row {
    double value;
    std::optional<UInt32> bits;  // nullopt: no write
    OSStatus status;
  };
  const Row rows[] = {
      {12.5, 0x41480000, 0},   // 12.5f
      {30.0, 0x41C00000, 0},   // above max: 24.0f
      {24.0, 0x41C00000, 0},
      {-5.0, 0x00000000, 0},   // below min: 0.0f
      {1e300, 0x41C00000, 0},  // far above: max
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt, kBad},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    sim_->ClearLog();
    EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x520, 0, r.value), r.status);
    ExpectOneWrite(kGainBlock + 8, r.bits);
  }
  EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x520, 3, 1.0), kMissing);
}

TEST_F(FeaturesTest, AbsoluteMode) {
  // The control register's bit 30 says whether absolute control is on; the
  // inquiry (0xCB0002A8, bit 30 set) only says that it can be.
  float v = -1;
  sim_->Poke(0x820, 0xC2000000);
  ASSERT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x520, 11, &v), 0);
  EXPECT_EQ(v, 1.0f);
  sim_->Poke(0x820, 0x82000000);
  ASSERT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x520, 11, &v), 0);
  EXPECT_EQ(v, 0.0f);

  struct Row {
    double value;
    UInt32 before, written;
  };
  const Row rows[] = {{1.0, 0x82000123, 0xC2000123}, {0.5, 0x83000000, 0xC3000000},
                      {0.4, 0xC2000123, 0x82000123}, {0.0, 0xC0000000, 0x80000000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    Registers(0x520, 0xCB0002A8, r.before);
    EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x520, 11, r.value), 0);
    ExpectOneWrite(0x820, r.written);
  }
  // Switched on through the library, read back through it.
  ASSERT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x51C, 11, 1.0), 0);
  ASSERT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x51C, 11, &v), 0);
  EXPECT_EQ(v, 1.0f);
}

TEST_F(FeaturesTest, AbsentFeatureAnswersEveryOperationWithMissing) {
  // Hue (0x510): no presence bit in 0x404, inquiry 0.
  UInt32 u = 0, min = 0, max = 0;
  UInt8 b[5];
  float f = 0, fmin = 0, fmax = 0;
  EXPECT_EQ(ORX_DCAM_GetPropertyCapability(cam_, 0x510, &min, &max, &b[0], &b[1], &b[2], &b[3], &b[4]), kMissing);
  for (SInt32 selector : {0, 1, 2, 3}) {
    EXPECT_EQ(ORX_DCAM_GetPropertyValue(cam_, 0x510, selector, &u), kMissing);
    EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam_, 0x510, selector, 0), kMissing);
  }
  EXPECT_EQ(ORX_DCAM_GetABSPropertyCapability(cam_, 0x510, &fmin, &fmax, &b[0], &b[1]), kMissing);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x510, 0, &f), kMissing);
  EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x510, 0, 1.0), kMissing);
  EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam_, 0x510, 11, 1.0), kMissing);
}

TEST_F(FeaturesTest, NullHandleAndNullOutputs) {
  UInt32 u = 0;
  UInt8 b = 0;
  float f = 0;
  const OSStatus noDevice = OSStatus(0xE00002C0);
  EXPECT_EQ(ORX_DCAM_GetPropertyCapability(nullptr, 0x520, &u, &u, &b, &b, &b, &b, &b), noDevice);
  EXPECT_EQ(ORX_DCAM_GetPropertyValue(nullptr, 0x520, 0, &u), noDevice);
  EXPECT_EQ(ORX_DCAM_SetPropertyValue(nullptr, 0x520, 0, 0), noDevice);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyCapability(nullptr, 0x520, &f, &f, &b, &b), noDevice);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(nullptr, 0x520, 0, &f), noDevice);
  EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(nullptr, 0x520, 0, 0.0), noDevice);
  // Nowhere to put an answer is a bad argument, not a crash.
  EXPECT_EQ(ORX_DCAM_GetPropertyCapability(cam_, 0x520, &u, nullptr, &b, &b, &b, &b, &b), kBad);
  EXPECT_EQ(ORX_DCAM_GetPropertyValue(cam_, 0x520, 0, nullptr), kBad);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyCapability(cam_, 0x520, &f, &f, nullptr, &b), kBad);
  EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(cam_, 0x520, 0, nullptr), kBad);
}

// The same operations over USB, where only the low 16 bits of a register's
// offset travel: the absolute block (base + 0x2480) is reached all the same.
TEST_F(FeaturesTest, USBCamera) {
  ASSERT_EQ(ORX_DCAM_CloseACamera(cam_), 0);
  cam_ = nullptr;
  auto usb = Rig({SimUSBPersonality()})[0];
  MyDCAMCameraStruct* cam = ORX_DCAM_OpenACamera(0x1A2B);
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(ORX_DCAM_SetPropertyValue(cam, 0x520, 0, 0x100), 0);
  EXPECT_EQ(usb->Peek(0x820), 0x82000100u);
  EXPECT_EQ(ORX_DCAM_SetABSPropertyValue(cam, 0x520, 0, 99.0), 0);
  EXPECT_EQ(usb->Peek(kGainBlock + 8), 0x41C00000u);  // 24.0f
  float v = 0;
  EXPECT_EQ(ORX_DCAM_GetABSPropertyValue(cam, 0x520, 0, &v), 0);
  EXPECT_EQ(v, 24.0f);
  EXPECT_EQ(ORX_DCAM_CloseACamera(cam), 0);
}

}  // namespace
