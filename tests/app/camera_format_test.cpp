// Format, mode and frame rate; the rate and exposure menus; the feature
// sliders of the control window.
#include <gtest/gtest.h>

#include <cmath>

#include "pixel/BayerPlanes.h"
#include "tests/app/ExposureFixture.h"

namespace {
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
constexpr OSType kDisplay = FOUR_CHAR_CODE("FORT");
constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
}  // namespace

TEST(PacketSize, ClosestPacketForARate) {
  const struct {
    UInt32 max, unit, frameBytes;
    double fps;
    UInt32 packet;
    double actual;
  } kCases[] = {
      {4096, 4, 640 * 480, 30.0, 1152, 30.0},
      {4096, 4, 1280 * 960, 15.0, 2304, 15.0},
      {4096, 4, 1280 * 960, 10000.0, 4096, 4096 * 8000.0 / (1280 * 960)},
      {4096, 4, 1000, 10.0, 4, 32.0},           // 1.25 bytes: up to 2, then to the unit
      {4096, 8, 100003, 7.5, 96, 96 * 8000.0 / 100003},  // 93.75 -> 94 -> 96
      {4000, 8, 1280 * 960 * 2, 240.0, 4000, 4000 * 8000.0 / (1280 * 960 * 2)},  // never above the maximum
  };
  for (const auto& c : kCases) {
    UInt32 packet = 0;
    double actual = 0;
    ASSERT_EQ(myGetClosestPacketSizeForDesiredFrameRate(c.max, c.unit, c.frameBytes, c.fps, &packet, &actual), noErr);
    EXPECT_EQ(packet, c.packet) << c.frameBytes << " " << c.fps;
    EXPECT_DOUBLE_EQ(actual, c.actual) << c.frameBytes << " " << c.fps;
  }
  UInt32 packet = 77;
  double actual = 5;
  EXPECT_EQ(myGetClosestPacketSizeForDesiredFrameRate(4096, 4, 0, 30.0, &packet, &actual), paramErr);
  EXPECT_EQ(myGetClosestPacketSizeForDesiredFrameRate(4096, 0, 1000, 30.0, &packet, &actual), paramErr);
  EXPECT_EQ(packet, 77u);
}

// ---------------------------------------------------------------- sizes and rates

TEST_F(ExposureTest, Format7RateItemsByTheOnePercentRule) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_STREQ(skyloom::ui::MenuItemText(Menu(FOUR_CHAR_CODE("VISZ")), 3).c_str(), "1280x960 8bit FMT7");
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);
  EXPECT_EQ(r->mFormat, 7u);
  EXPECT_EQ(r->mFirstRateItem, 1u);
  EXPECT_EQ(r->mLastRateItem, 5u);  // 26.7 fps at most: more than 1 % above 15
  EXPECT_DOUBLE_EQ(r->mF7MaxRate, 4096 * 8000.0 / (1280 * 960));
  EXPECT_EQ(r->mF7BytesPerPacket, 4096u);  // 30 fps asks for more than the largest packet
  EXPECT_EQ(r->mFirstExposureItem, 4u);
  EXPECT_EQ(r->mExposureItemLimit, 8u);
  for (int k = 1; k <= 8; k++) EXPECT_EQ(ItemEnabled(kRate, k), k <= 5) << k;
  EXPECT_EQ(GetControl32BitValue(Control(kRate)), 5);

  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 5), noErr);  // 640x480 8bit FMT7
  EXPECT_EQ(r->mFirstRateItem, 1u);
  EXPECT_EQ(r->mLastRateItem, 7u);
  EXPECT_EQ(r->mFirstExposureItem, 2u);

  EXPECT_EQ(mySetCameraFMRByIndexItem(r, 100), paramErr);
}

TEST_F(ExposureTest, FixedModeRatesFromTheFlagsAndARateMovedIntoRange) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mFrameRate = 60.0;
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 1), noErr);  // 640x480 16bit: 1.875 .. 15 fps
  EXPECT_EQ(r->mFirstRateItem, 1u);
  EXPECT_EQ(r->mLastRateItem, 4u);
  EXPECT_EQ(r->mFrameRate, 15.0);
  EXPECT_EQ(GetControl32BitValue(Control(kRate)), 4);
  EXPECT_FALSE(ItemEnabled(kRate, 5));
  EXPECT_EQ(r->mFirstExposureItem, 5u);
}

TEST_F(ExposureTest, FiftyHertzScaling) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->m50HzScale = 1;
  myChangeIIDCFrameRateMenuItems(r);
  const std::vector<std::string> k50 = {"1.5625", "3.125", "6.250", "12.50", "25.00", "50.00", "100.0", "200.0"};
  EXPECT_EQ(skyloom::ui::ControlItems(Control(kRate)), k50);
  r->mFrameRate = 30.0;
  EXPECT_EQ(myAdjustFor50HzFrameRate(r), noErr);
  EXPECT_EQ(AbsoluteValue(0x53C), 24.99999f);
  EXPECT_EQ(Camera().Peek(0x83C) & 0x43000000u, 0x42000000u);  // absolute on, on, not automatic
  r->m50HzScale = 0;
  myChangeIIDCFrameRateMenuItems(r);
  EXPECT_EQ(skyloom::ui::MenuItemText(Menu(kRate), 1), "1.875");
  EXPECT_EQ(skyloom::ui::MenuItemText(Menu(kRate), 8), "240.0");
  EXPECT_EQ(myAdjustFor50HzFrameRate(r), noErr);
  EXPECT_EQ(AbsoluteValue(0x53C), 30.0f);
  // During a long exposure the camera runs the rate by itself.
  r->mLongExposure = 1;
  EXPECT_EQ(myAdjustFor50HzFrameRate(r), noErr);
  EXPECT_EQ(Camera().Peek(0x83C) & 0x43000000u, 0x01000000u);
  r->mLongExposure = 0;
  r->m50HzCapable = 0;
  Camera().ClearLog();
  EXPECT_EQ(myAdjustFor50HzFrameRate(r), noErr);
  EXPECT_TRUE(Camera().Log().empty());
}

TEST_F(ExposureTest, MonoEntryFallsBackFromColourDisplayFormats) {
  const struct {
    UInt32 before, after;
  } kCases[] = {{2, 1}, {4, 3}, {5, 1}, {7, 1}, {3, 3}, {8, 8}};
  for (const auto& c : kCases) {
    MyCameraWindowDataStruct* r = Open(SimMonoFireWirePersonality());
    ASSERT_EQ(r->mVideoSizes[0].mIsColor, 0);
    r->mDisplayFormatItem = c.before;
    ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
    EXPECT_EQ(r->mDisplayFormatItem, c.after) << c.before;
    EXPECT_EQ(r->mDisplayFormat, FOUR_CHAR_CODE("ARGB"));
    EXPECT_EQ(r->mColourDisplay, 0);
    EXPECT_EQ(GetControl32BitValue(Control(kDisplay)), SInt32(c.after));
    for (int k : {2, 4, 5, 6, 7}) EXPECT_FALSE(ItemEnabled(kDisplay, k)) << k;
    CloseCamera();
  }
  // A colour entry shown in colour takes the decoder's code.
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mDisplayFormatItem = 2;
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  EXPECT_EQ(r->mColourDisplay, 1);
  EXPECT_EQ(r->mDisplayFormat, myDisplayFormatFromBayerFormat(1, 1));
  for (int k : {2, 4, 5, 6, 7}) EXPECT_TRUE(ItemEnabled(kDisplay, k)) << k;
}

TEST_F(ExposureTest, RefusedRegionIsRetriedWithTheFullFrame) {
  SimCameraPersonality p = SimDefaultColourPersonality();
  p.format7RefuseRegions = true;
  MyCameraWindowDataStruct* r = Open(p);
  r->mFormat = 7;
  r->mMode = 0;
  r->mF7ColorCoding = 9;
  r->mF7ROIOn = 1;
  r->mLeft = 64;
  r->mTop = 32;
  r->mWidth = 320;
  r->mHeight = 240;
  Camera().ClearLog();
  testing::internal::CaptureStderr();
  const OSStatus err = mySetIIDCCameraFmtModeFR(15.0, r);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, paramErr);  // this camera refuses the full frame too
  EXPECT_EQ(r->mF7ROIOn, 0);
  EXPECT_EQ(r->mLeft, 0u);
  EXPECT_EQ(r->mWidth, 1280u);
  EXPECT_EQ(r->mHeight, 960u);
  // Two attempts: the region's size, then the full size.
  std::vector<UInt32> sizes;
  for (auto [offset, value] : Writes([](UInt32 o) { return o == kSimFormat7BlockBase + 0x0C; })) sizes.push_back(value);
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], 320u << 16 | 240);
  EXPECT_EQ(sizes[1], 1280u << 16 | 960);
}

TEST_F(ExposureTest, RawCodingFallsBackWhenTheCameraOffersNone) {
  SimCameraPersonality p = SimDefaultColourPersonality();
  p.registers[kSimFormat7BlockBase + 0x14] = 1u << 31 | 1u << 26;  // Mono8, Mono16 only
  MyCameraWindowDataStruct* r = Open(p);
  r->mFormat = 7;
  r->mMode = 0;
  r->mF7ColorCoding = 10;
  r->mWidth = 1280;
  r->mHeight = 960;
  ASSERT_EQ(mySetIIDCCameraFmtModeFR(7.5, r), noErr);
  EXPECT_EQ(Camera().Peek(kSimFormat7BlockBase + 0x10) >> 24, 5u);
  EXPECT_EQ(r->mF7BytesPerPacket, 2304u);  // 2 bytes a pixel at 7.5 fps
}

TEST_F(ExposureTest, OptimizedRateCandidates) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mFormat = 7;
  r->mMode = 0;
  r->mF7ColorCoding = 9;
  r->mWidth = 1280;
  r->mHeight = 960;
  // The rule by hand: n = ceil(F / p), q = n / unit, x = q / frac(q) (or q);
  // the first p where x is whole and below 270.
  auto pick = [](float frame, UInt32 unit, UInt32 max, bool slowest) -> UInt32 {
    auto ok = [&](UInt32 p) {
      float q = std::ceil(frame / float(p)) / float(unit);
      float rest = q - std::trunc(q);
      float x = q * (rest > 0 ? 1.0f / rest : 1.0f);
      return x - std::trunc(x) < 0.0001f && x < 270.0f;
    };
    if (slowest) {
      for (UInt32 p = unit; p <= max; p += unit)
        if (ok(p)) return p;
    } else {
      for (UInt32 p = max; p > unit; p -= unit)
        if (ok(p)) return p;
    }
    return 0;
  };
  ASSERT_EQ(mySetCameraOptimizedRate(r, 0), noErr);
  EXPECT_EQ(r->mF7BytesPerPacket, pick(1228800.0f, 4, 4096, false));
  EXPECT_EQ(r->mF7BytesPerPacket, 4096u);  // 300 packets: q = 75 is whole
  ASSERT_EQ(mySetCameraOptimizedRate(r, 1), noErr);
  const UInt32 slow = pick(1228800.0f, 4, 4096, true);
  EXPECT_EQ(r->mF7BytesPerPacket, slow);
  EXPECT_GT(slow, 4u);
  // A broken unit keeps the previous packet size.
  CloseCamera();
  SimCameraPersonality broken = SimDefaultColourPersonality();
  broken.format7PacketUnit = 0;
  r = Open(broken);
  r->mFormat = 7;
  r->mMode = 0;
  r->mF7ColorCoding = 9;
  r->mWidth = 1280;
  r->mHeight = 960;
  r->mF7BytesPerPacket = 1234;
  testing::internal::CaptureStderr();
  mySetCameraOptimizedRate(r, 0);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mF7UnitPacket, 0u);
  EXPECT_EQ(r->mF7BytesPerPacket, 1234u);
  // and the rate for a wanted frame rate is refused rather than divided by 0.
  EXPECT_EQ(mySetIIDCCameraFmtModeFR(15.0, r), paramErr);
}

// ---------------------------------------------------------------- feature sliders

TEST_F(ExposureTest, SliderSetUpFromTheCapability) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mExposureRateItem = 5;
  // Minimum = maximum: disabled, result 0.
  Camera().Poke(0x520, 0xCB000000 | 5u << 12 | 5u);
  EXPECT_EQ(mySetUpDCAMControls(r, FOUR_CHAR_CODE("GAIN"), 0x520, 0), noErr);
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("GAIN")));
  // A stored shutter above the maximum shows the maximum (1..400 on an absolute shutter).
  r->mShutterValue = 1000;
  EXPECT_EQ(mySetUpDCAMControls(r, kExpo, 0x51C, 0), noErr);
  ControlRef expo = Control(kExpo);
  EXPECT_TRUE(IsControlEnabled(expo));
  EXPECT_EQ(GetControl32BitMinimum(expo), 1);
  EXPECT_EQ(GetControl32BitMaximum(expo), 400);
  EXPECT_EQ(GetControl32BitValue(expo), 400);
  EXPECT_EQ(Label(kExpo), "33.33 ms");  // the live action ran once
  EXPECT_FLOAT_EQ(r->mAbsShutterValue, r->mAbsShutterMax);
  // Brightness: the camera's value and range, automatic mode off.
  Camera().Poke(0x800, 0x83000042);
  EXPECT_EQ(mySetUpDCAMControls(r, FOUR_CHAR_CODE("BRIT"), 0x500, 0), noErr);
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("BRIT"))), 0x42);
  EXPECT_EQ(GetControl32BitMaximum(Control(FOUR_CHAR_CODE("BRIT"))), 255);
  EXPECT_EQ(Camera().Peek(0x800) & 0x01000000u, 0u);
  EXPECT_EQ(Label(FOUR_CHAR_CODE("BRIT")), "66");
  // A capability that cannot be read: disabled, label blank, its status.
  Camera().FailRegister(0x500, SimAccessKind::Read, -36);
  EXPECT_NE(mySetUpDCAMControls(r, FOUR_CHAR_CODE("BRIT"), 0x500, 0), noErr);
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("BRIT")));
  EXPECT_EQ(Label(FOUR_CHAR_CODE("BRIT")), "");
  // A control the window lacks.
  EXPECT_NE(mySetUpDCAMControls(r, FOUR_CHAR_CODE("NONE"), 0x500, 0), noErr);
}

TEST_F(ExposureTest, MonoDisplayLeavesTheWhiteBalanceSlidersAlone) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mExposureRateItem = 5;
  r->mColourDisplay = 0;
  ControlRef u = Control(FOUR_CHAR_CODE("UorB"));
  SetControl32BitValue(u, 7);
  Camera().ClearLog();
  myRefreshControls(r);
  EXPECT_EQ(GetControl32BitValue(u), 7);
  EXPECT_EQ(GetControl32BitMaximum(u), 1023);
  EXPECT_TRUE(Writes([](UInt32 o) { return o == 0x80C; }).empty());
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("GAMA"))), SInt32(r->mGamma * 100.0));
  EXPECT_EQ(GetControl32BitMaximum(Control(FOUR_CHAR_CODE("GAMA"))), 256);
  myRefreshControlsForMono_ColorChanges(r);
  for (OSType s : {FOUR_CHAR_CODE("UorB"), FOUR_CHAR_CODE("VorR"), FOUR_CHAR_CODE("AWHB"), FOUR_CHAR_CODE("SWHB"),
                   FOUR_CHAR_CODE("PBCR"), FOUR_CHAR_CODE("SAT_")})
    EXPECT_FALSE(Enabled(s));

  // Colour display: the pair is set up, the commands follow running and inversion.
  r->mColourDisplay = 1;
  myRefreshControls(r);
  EXPECT_EQ(GetControl32BitValue(u), 0x1E0);
  r->mRunning = 1;
  myRefreshControlsForMono_ColorChanges(r);
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("UorB")));
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("AWHB")));
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("SAT_")));
  r->mInvert = 1;
  myRefreshControlsForMono_ColorChanges(r);
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("PBCR")));
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("VorR")));
  r->mRunning = 0;
}

TEST_F(ExposureTest, LongExposureKindChainStopsAtTheFirstFailure) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  ASSERT_EQ(r->mIsLongExposureCamera, 1);
  r->mColourDisplay = 1;
  r->mLongExposureMenu = 1;
  r->mLongExposure = 1;  // no exposure slider while a long exposure runs
  ControlRef brit = Control(FOUR_CHAR_CODE("BRIT"));
  SetControl32BitValue(brit, 9);
  Camera().FailRegister(0x520, SimAccessKind::Read, -36);
  Camera().ClearLog();
  const OSStatus err = myRefreshControls(r);
  EXPECT_NE(err, noErr);
  EXPECT_EQ(GetControl32BitValue(brit), 9);  // never reached
  for (const SimLogEntry& e : Camera().Log())
    EXPECT_TRUE(e.offset != 0x500 && e.offset != 0x804 && e.offset != 0x50C) << std::hex << e.offset;
  r->mLongExposure = 0;
}
