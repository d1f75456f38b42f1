// The white-balance step against the simulated camera: values go out through
// the camera driver into the camera's white-balance register, and the next
// frame is rendered with the tint that register gives.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "app/CameraWindowData.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "pixel/BayerWhiteBalance.h"
#include "pixel/live/WhiteBalanceStep.h"
#include "platform/simcamera/SimBus.h"
#include "platform/simcamera/SimFeatures.h"
#include "platform/simcamera/SimScene.h"

namespace {

constexpr UInt32 kCameraID = 0x00003003;  // the default colour camera
constexpr UInt32 kControl = 0x80C;        // white-balance control register
constexpr UInt32 kInquiry = 0x50C;

// Red and blue halves of a written control word: U/B bits 23..12, V/R 11..0.
struct Halves {
  UInt32 red, blue;
  bool operator==(const Halves&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Halves& h) {
  return o << "(V/R " << h.red << ", U/B " << h.blue << ")";
}

class WhiteBalance : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = SimInstallRig({SimDefaultColourPersonality()})[0];
    record_.mKind = kMyCameraWindowDataKind;
    record_.mCameraHandle = ORXDCAMOpenACamera(kCameraID);
    ASSERT_NE(record_.mCameraHandle, nullptr);
    record_.mColourSensor = 1;
    record_.mBayerFormat = 1;  // RGGB, row 0 R G
  }
  void TearDown() override {
    if (record_.mCameraHandle != nullptr) {
      EXPECT_EQ(ORXDCAMCloseACamera(record_.mCameraHandle), noErr);
    }
    SimRemoveRig();
  }

  // What the application does to start a run: both flags cleared, no
  // previous values, each half sent the middle of its bounds.
  void startRun(UInt32 lower, UInt32 upper) {
    MyCameraWindowDataStruct& r = record_;
    r.mRedBalanceDone = r.mBlueBalanceDone = 0;
    r.mRedBalancePrevious = r.mBlueBalancePrevious = kMyWhiteBalanceNoValue;
    r.mRedBalanceLower = r.mBlueBalanceLower = lower;
    r.mRedBalanceUpper = r.mBlueBalanceUpper = upper;
    r.mRedBalanceValue = r.mBlueBalanceValue = lower + (upper - lower) / 2;
    ORXDCAMSetPropertyValue(r.mCameraHandle, 0x50C, 5, r.mRedBalanceValue);
    ORXDCAMSetPropertyValue(r.mCameraHandle, 0x50C, 4, r.mBlueBalanceValue);
    sim_->ClearLog();
  }

  // The camera's response model: a flat grey sky of linear level 0.45,
  // tinted by the camera's white balance (red gain V/R / 512, blue gain
  // U/B / 512, green 1) and quantised to 8 bits as round(level x 255), so
  // measured red and blue are linear in the values sent:
  // red = round(0.45 x V/R / 512 x 255) = round(0.22412 x V/R).
  // The frame is measured by the whole-frame averages as the live pipeline
  // does, into the record's average fields. A brighter sky makes each count
  // of the averages fewer register steps wide.
  void takeFrame(double sky = 0.45) {
    SimSceneSettings s;
    s.width = 32;
    s.height = 24;
    s.starCount = 0;
    s.noiseSigma = 0.0;
    s.hotPixelCount = 0;
    s.background = sky;
    const SimScene scene(s);
    double gains[3];
    SimWhiteBalance(*sim_, gains);
    std::vector<UInt16> raw(s.width * s.height);
    scene.RenderBayer(frame_++, 1.0, gains, int(record_.mBayerFormat), 8, raw.data());
    std::vector<UInt8> frame(raw.begin(), raw.end());
    const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(record_.mBayerFormat);
    ASSERT_EQ(choice.family, kMyBayerFamilyRGGB);
    myGetBayerRGGBAverages8Bit(frame.data(), s.width, s.height, choice.startRowFlag,
                               &record_.mBalanceR, &record_.mBalanceG, &record_.mBalanceB);
  }

  // Halves of every word written to the white-balance register since the
  // log was last cleared.
  std::vector<Halves> writes() const {
    std::vector<Halves> out;
    for (const SimLogEntry& e : sim_->Log())
      if (e.kind == SimLogKind::FWWrite && e.offset == kControl)
        out.push_back({e.value & 0xFFF, (e.value >> 12) & 0xFFF});
    return out;
  }

  void setAverages(UInt8 r, UInt8 g, UInt8 b) {
    record_.mBalanceR = r, record_.mBalanceG = g, record_.mBalanceB = b;
  }

  std::shared_ptr<SimCamera> sim_;
  MyCameraWindowDataStruct record_{};
  UInt32 frame_ = 0;
};

// Target (0x7000, 0x8000, 0x9000); the grey sky measures green
// round(0.45 x 255) = 115, so the targets are round(115 x 0.875) = 101 and
// round(115 x 1.125) = 129, and a half is done within 90 .. 112 (red) or
// 118 .. 140 (blue). Bounds 0 .. 1023, both halves start at 511. Each
// measurement moves the bound on its side to the value measured, and the far
// end is kept inside the bounds. By hand:
//   red  511 -> 115 high, no previous:         upper 511, far 0   -> 255
//        255 ->  57 low,  previous 511 above:  lower 255, far 511 -> 383
//        383 ->  86 low,  previous 255 below:  lower 383, far 511 (the upper
//                                              bound, not 1023)   -> 447
//        447 -> 100 done
//   blue 511 -> 115 low,  no previous:         lower 511, far 1023 -> 767
//        767 -> 172 high, previous 511 below:  upper 767, far 511  -> 639
//        639 -> 143 high, previous 767 above:  upper 639, far 511 (the lower
//                                              bound, not 0)       -> 575
//        575 -> 129 done
// Each frame sends red (V/R) first, then blue (U/B), each keeping the other
// half of the register.
TEST_F(WhiteBalance, ConvergesFromTheMidpointByTheExpectedSteps) {
  record_.mBalanceColour = {0x7000, 0x8000, 0x9000};
  startRun(0, 1023);
  std::vector<UInt32> results;
  for (int i = 0; i < 30; ++i) {
    takeFrame();
    const UInt32 done = myBalanceBayer_RB8Bit(&record_);
    results.push_back(done);
    if (done == 1) break;
  }
  const std::vector<Halves> want = {
      {255, 511}, {255, 767},  // frame 1
      {383, 767}, {383, 639},  // frame 2
      {447, 639}, {447, 575},  // frame 3
  };
  EXPECT_EQ(writes(), want);
  EXPECT_EQ(results, (std::vector<UInt32>{0, 0, 0, 1}));
  EXPECT_EQ(record_.mRedBalanceDone, 1);
  EXPECT_EQ(record_.mBlueBalanceDone, 1);
  EXPECT_EQ(record_.mBalanceR, 100);
  EXPECT_EQ(record_.mBalanceG, 115);
  EXPECT_EQ(record_.mBalanceB, 129);
  EXPECT_EQ(record_.mRedBalanceValue, 447u);
  EXPECT_EQ(record_.mRedBalancePrevious, 383u);
  EXPECT_EQ(record_.mBlueBalanceValue, 575u);
  EXPECT_EQ(record_.mBlueBalancePrevious, 639u);
  EXPECT_EQ(record_.mRedBalanceLower, 383u);
  EXPECT_EQ(record_.mRedBalanceUpper, 511u);
  EXPECT_EQ(record_.mBlueBalanceLower, 511u);
  EXPECT_EQ(record_.mBlueBalanceUpper, 639u);
  // A finished run sends nothing more.
  takeFrame();
  EXPECT_EQ(myBalanceBayer_RB8Bit(&record_), 1u);
  EXPECT_EQ(writes().size(), want.size());
}

TEST_F(WhiteBalance, FrameAlreadyWithinToleranceSendsNothing) {
  // A grey target over the grey sky: at 511 both halves measure
  // round(0.45 x 511 / 512 x 255) = 115, the green too.
  record_.mBalanceColour = {0x8080, 0x8080, 0x8080};
  startRun(0, 1023);
  takeFrame();
  EXPECT_EQ(myBalanceBayer_RB8Bit(&record_), 1u);
  EXPECT_EQ(record_.mRedBalanceDone, 1);
  EXPECT_EQ(record_.mBlueBalanceDone, 1);
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(record_.mRedBalanceValue, 511u);
  EXPECT_EQ(record_.mRedBalancePrevious, kMyWhiteBalanceNoValue);
}

TEST_F(WhiteBalance, TargetsFromHighBytesOrScaledByMeasuredGreen) {
  struct Case {
    RGBColor target;
    UInt8 r, g, b;  // measured
    bool redDone, blueDone;
  };
  const Case cases[] = {
      // Target green 255 or less: the high bytes 0x9A = 154 and 0x2B = 43,
      // whatever green is measured.
      {{0x9A00, 0x00FF, 0x2B00}, 165, 7, 32, true, true},
      {{0x9A00, 0x00FF, 0x2B00}, 166, 250, 31, false, false},
      {{0x9A00, 0x0000, 0x2B00}, 143, 0, 54, true, true},
      // Green above 255: round(green x target / target green); measured green
      // 100 and red twice the green target: 200; blue half of it: 50.
      {{0x4000, 0x2000, 0x1000}, 211, 100, 39, true, true},
      {{0x4000, 0x2000, 0x1000}, 212, 100, 38, false, false},
      // 200 x 2 = 400 is above 254: 255. Blue 0.25 x 200 = 50.
      {{0x8000, 0x4000, 0x1000}, 244, 200, 61, true, true},
      {{0x8000, 0x4000, 0x1000}, 243, 200, 62, false, false},
      // 3 x 0x300 / 0x200 = 4.5 rounds to 5: red 16 lies within 11 of it,
      // blue 17 does not.
      {{0x0300, 0x0200, 0x0300}, 16, 3, 17, true, false},
  };
  for (const Case& c : cases) {
    startRun(0, 1023);
    record_.mBalanceColour = c.target;
    setAverages(c.r, c.g, c.b);
    const UInt32 done = myBalanceBayer_RB8Bit(&record_);
    EXPECT_EQ(record_.mRedBalanceDone, c.redDone ? 1 : 0) << int(c.r);
    EXPECT_EQ(record_.mBlueBalanceDone, c.blueDone ? 1 : 0) << int(c.b);
    EXPECT_EQ(done, c.redDone && c.blueDone ? 1u : 0u);
    EXPECT_EQ(writes().size(), size_t(!c.redDone) + size_t(!c.blueDone)) << int(c.r);
  }
}

TEST_F(WhiteBalance, RefusedValuesKeepTheSearchGoing) {
  // Without manual control the camera refuses every value and its colour
  // stays put: the search keeps halving towards the lower bound from the
  // recorded values.
  record_.mBalanceColour = {0x8080, 0x8080, 0x8080};
  startRun(100, 900);  // both halves at 500
  sim_->Poke(kInquiry, 0x9A0003FF);
  for (int frame = 0; frame < 3; ++frame) {
    setAverages(200, 128, 128);
    EXPECT_EQ(myBalanceBayer_RB8Bit(&record_), 0u);
  }
  // Red: 500 -> far 100 -> 300; 300 with 500 above -> far 100 -> 200;
  // 200 with 300 above -> 150. Blue is done from the first frame.
  EXPECT_EQ(record_.mRedBalanceValue, 150u);
  EXPECT_EQ(record_.mRedBalancePrevious, 200u);
  EXPECT_EQ(record_.mBlueBalanceDone, 1);
  EXPECT_TRUE(writes().empty());
}

// A sweep of target colours over the camera's reach, on a bright sky of 0.75
// (green 191; red and blue measure round(0.3735 x value), 0 .. 255 over the
// bounds 0 .. 1023): red and blue from 0.1 to 1.3 times green (targets
// 19 .. 248), the blue order shuffled against the red one. Every run must
// settle; a bisection of 0 .. 1023 needs about ten frames a component.
TEST_F(WhiteBalance, EveryReachableTargetOfASweepSettles) {
  constexpr int kTargets = 200, kFrameLimit = 60;
  constexpr double kSky = 0.75;
  std::vector<int> unsettled;
  for (int k = 0; k < kTargets; ++k) {
    const double redRatio = 0.1 + 1.2 * k / (kTargets - 1);
    const double blueRatio = 0.1 + 1.2 * ((k * 67) % kTargets) / (kTargets - 1);
    record_.mBalanceColour = {UInt16(std::lround(0x4000 * redRatio)), 0x4000,
                              UInt16(std::lround(0x4000 * blueRatio))};
    startRun(0, 1023);
    bool settled = false;
    for (int frame = 0; frame < kFrameLimit && !settled; ++frame) {
      takeFrame(kSky);
      settled = myBalanceBayer_RB8Bit(&record_) == 1;
    }
    if (!settled) unsettled.push_back(k);
    // The bounds only ever close in on the value that settled.
    EXPECT_LE(record_.mRedBalanceLower, record_.mRedBalanceValue) << k;
    EXPECT_GE(record_.mRedBalanceUpper, record_.mRedBalanceValue) << k;
    EXPECT_LE(record_.mBlueBalanceLower, record_.mBlueBalanceValue) << k;
    EXPECT_GE(record_.mBlueBalanceUpper, record_.mBlueBalanceValue) << k;
  }
  EXPECT_TRUE(unsettled.empty()) << unsettled.size() << " of " << kTargets
                                 << " targets did not settle, the first k = "
                                 << (unsettled.empty() ? -1 : unsettled[0]);
}

TEST(WhiteBalanceWithoutCamera, NullRecordOrHandleIsHarmless) {
  EXPECT_EQ(myBalanceBayer_RB8Bit(nullptr), 0u);
  MyCameraWindowDataStruct record{};
  record.mRedBalancePrevious = record.mBlueBalancePrevious = kMyWhiteBalanceNoValue;
  record.mRedBalanceUpper = record.mBlueBalanceUpper = 1023;
  record.mBalanceColour = {0xFFFF, 0xFFFF, 0xFFFF};
  record.mBalanceR = record.mBalanceB = 10;
  record.mBalanceG = 255;
  EXPECT_EQ(myBalanceBayer_RB8Bit(&record), 0u);
  EXPECT_EQ(record.mRedBalanceValue, 511u);  // (1023 + 0) >> 1
  EXPECT_EQ(record.mBlueBalanceValue, 511u);
}

}  // namespace
