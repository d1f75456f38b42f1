// Exposure tables, the exposure slider and arrows, the exposure menu, the
// live sliders, the frame-rate control and the automatic exposure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "pixel/PixelOps.h"
#include "tests/app/ExposureFixture.h"
#include "utilities/Controls.h"

namespace {
constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
}

TEST(ExposureTables, RateItemsShutterKindsAndLongestItem) {
  const double kRates[] = {30, 1.875, 3.75, 7.5, 15, 30, 60, 120, 240, 30};
  for (UInt32 item = 0; item <= 9; item++) EXPECT_EQ(myRateItemFramesPerSecond(item), kRates[item]) << item;
  EXPECT_EQ(myShutterKindExposureMS(2), 8.333);
  EXPECT_EQ(myShutterKindExposureMS(6), 133.33);
  EXPECT_EQ(myShutterKindExposureMS(29), 105000.0);
  EXPECT_EQ(myShutterKindExposureMS(60), 3300000.0);
  for (UInt32 item : {0u, 61u, 62u, 1000u}) EXPECT_EQ(myShutterKindExposureMS(item), 3600000.0) << item;

  const struct {
    double ms;
    UInt32 item;
  } kLongest[] = {{0, 8},           {533, 8},        {533.5, 9},     {9000, 16},      {10000, 16},
                  {10000.5, 17},    {180000, 32},    {180001, 33},   {1500000, 54},   {1500001, 55},
                  {3300000, 60},    {3600000, 61},   {3600000.5, 62}};
  for (const auto& c : kLongest) EXPECT_EQ(myfindLongestIIDCExposuretime(c.ms), c.item) << c.ms;
  // Each longest item is the menu item whose time first reaches ms.
  // (item 8's threshold is 533 ms, below its 533.33 ms menu time).
  for (UInt32 item = 9; item <= 60; item++)
    EXPECT_EQ(myfindLongestIIDCExposuretime(myShutterKindExposureMS(item)), item) << item;
}

TEST(ExposureTables, LongExposureKindWithAndWithoutPins) {
  MyCameraWindowDataStruct r;
  memset(&r, 0, sizeof r);
  long beeps = SkyloomBeepCount();
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 7), 1029.0);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 4), 33.33);
  EXPECT_EQ(SkyloomBeepCount(), beeps);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 3), 0.0);
  EXPECT_EQ(SkyloomBeepCount(), beeps + 1);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 8), 0.0);
  r.mLongExposureMenu = 1;
  beeps = SkyloomBeepCount();
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 7), 266.67);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 8), 500.0);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 46), 3600000.0);
  EXPECT_EQ(SkyloomBeepCount(), beeps);
  // Items past the menu's "Other..." are never offered: a beep and 0 ms.
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 47), 0.0);
  EXPECT_EQ(myLongExposureKindExposureMS(&r, 61), 0.0);
  EXPECT_EQ(SkyloomBeepCount(), beeps + 2);
}

TEST(ExposureTables, LongExposureKindSliderScale) {
  const struct {
    UInt32 v, code;
    double ms;
  } kCases[] = {{0, 4, 0.3},       {128, 4, 2.0},        {192, 4, 5.0},        {193, 4, 5.15625},
                {256, 4, 10.078125}, {257, 4, 9.125},    {257, 2, 9.38015625}, {383, 4, 17.0},
                {511, 4, 33.3330},  {511, 3, 66.66},     {511, 2, 133.332},    {447, 2, 66.66}};
  for (const auto& c : kCases)
    EXPECT_NEAR(myCalcTSLV1501SliderValToExposTimeMS(c.v, c.code), c.ms, 0.0005) << c.v << " " << c.code;
}

// ---------------------------------------------------------------- slider and arrows

TEST_F(ExposureTest, AbsoluteSliderOnTheDefaultCamera) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mExposureRateItem = 5;
  ASSERT_EQ(myGetIIDCMinMaxExposureTime(r), noErr);
  EXPECT_FLOAT_EQ(r->mAbsShutterMin, 0.02f);
  EXPECT_FLOAT_EQ(r->mAbsShutterMax, 33.333333f);

  EXPECT_EQ(mySetCCDExposTime(r, 1), noErr);
  EXPECT_FLOAT_EQ(r->mAbsShutterValue, 0.02f);
  EXPECT_FLOAT_EQ(AbsoluteValue(0x51C), 0.00002f);
  EXPECT_EQ(mySetCCDExposTime(r, 200), noErr);
  EXPECT_NEAR(r->mAbsShutterValue, 16.6767, 0.0001);
  EXPECT_EQ(AbsoluteValue(0x51C), 0.016676666f);
  EXPECT_EQ(Label(kExpo), "16.68 ms");
  EXPECT_EQ(r->mShutterValue, 200u);
  EXPECT_EQ(mySetCCDExposTime(r, 400), noErr);
  EXPECT_NEAR(r->mAbsShutterValue, 33.3333, 0.0001);
  EXPECT_EQ(Label(kExpo), "33.33 ms");

  // The arrows step by 0.1 ms inside the range.
  ASSERT_EQ(mySetUpLiveArrowControl(r->mControlWindow, kExpo, 2, 0, myDoExposureArrowChangeProc, SRefCon(r)), noErr);
  ASSERT_EQ(mySetExposureArrowControllerMinMaxValue(r), noErr);
  ControlRef arrows = Control(kExpo, 2);
  EXPECT_TRUE(IsControlEnabled(arrows));
  EXPECT_EQ(GetControl32BitMinimum(arrows), 0);
  EXPECT_EQ(GetControl32BitMaximum(arrows), 333);
  EXPECT_EQ(GetControl32BitValue(arrows), 333);
  Camera().ClearLog();
  ASSERT_EQ(skyloom::ui::UserClickArrow(arrows, true), noErr);  // past the maximum: nothing
  EXPECT_EQ(GetControl32BitValue(arrows), 333);
  EXPECT_EQ(Label(kExpo), "33.33 ms");
  EXPECT_TRUE(Writes().empty());
  ASSERT_EQ(skyloom::ui::UserClickArrow(arrows, false), noErr);
  EXPECT_EQ(GetControl32BitValue(arrows), 332);
  EXPECT_EQ(AbsoluteValue(0x51C), 0.0332f);
  EXPECT_FLOAT_EQ(r->mAbsShutterValue, 33.2f);
  EXPECT_EQ(Label(kExpo), "33.20 ms");
  EXPECT_EQ(GetControl32BitValue(Control(kExpo)), SInt32((33.2 - 0.02) / (33.333333 - 0.02) * 399) + 1);

  // Equal ends put the slider at 1; a long exposure disables the arrows.
  r->mAbsShutterMax = r->mAbsShutterMin = 33.2f;
  SetControl32BitMinimum(arrows, 0);
  myDoExposureArrowChangeProc(arrows, kControlDownButtonPart);
  EXPECT_EQ(GetControl32BitValue(Control(kExpo)), 1);
  r->mLongExposure = 1;
  EXPECT_EQ(mySetExposureArrowControllerMinMaxValue(r), noErr);
  EXPECT_FALSE(IsControlEnabled(arrows));
  r->mLongExposure = 0;
}

TEST_F(ExposureTest, RawShutterAndRangeWithoutAbsoluteShutter) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mAbsoluteShutter = 0;
  EXPECT_EQ(mySetCCDExposTime(r, 300), noErr);
  EXPECT_EQ(Camera().Peek(0x81C) & 0xFFF, 300u);
  EXPECT_EQ(Label(kExpo), "300");
  Camera().FailRegister(0x81C, SimAccessKind::Write, -2201);
  EXPECT_EQ(mySetCCDExposTime(r, 301), -2201);
  EXPECT_EQ(Label(kExpo), "Err = -2201 0xFFFFF767 ");
  EXPECT_EQ(myGetIIDCMinMaxExposureTime(r), noErr);
  EXPECT_FLOAT_EQ(r->mAbsShutterMin, 0.001f);
  EXPECT_FLOAT_EQ(r->mAbsShutterMax, float(r->mVideoSizes[0].mMaxFramePeriodMs));
}

TEST_F(ExposureTest, LongExposureKindSliderOnTheExposureFeature) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  r->mExposureRateItem = 4;
  EXPECT_EQ(mySetCCDExposTime(r, 193), noErr);
  EXPECT_EQ(Camera().Peek(0x804) & 0xFFF, 193u);
  EXPECT_EQ(Label(kExpo), " 5.16 ms");
  Camera().Poke(0x504, 0);  // the feature is gone: -2201
  EXPECT_EQ(mySetCCDExposTime(r, 194), -2201);
  EXPECT_EQ(Label(kExpo), "Err = 0xFFFFF767 -2201");
  EXPECT_EQ(r->mShutterValue, 194u);
}

TEST_F(ExposureTest, LiveSlidersWriteTheirFeatureAndLabel) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  const struct {
    OSType signature;
    UInt32 control;
    SInt32 value;
    UInt32 expect;  // the control register afterwards, masked
    UInt32 mask;
  } kCases[] = {{FOUR_CHAR_CODE("GAIN"), 0x820, 0x120, 0x120, 0xFFF},
                {FOUR_CHAR_CODE("BRIT"), 0x800, 77, 77, 0xFFF},
                {FOUR_CHAR_CODE("UorB"), 0x80C, 300, 300u << 12, 0xFFF000},
                {FOUR_CHAR_CODE("VorR"), 0x80C, 400, 400, 0xFFF}};
  for (const auto& c : kCases) {
    ControlRef s = Control(c.signature);
    ASSERT_NE(s, nullptr);
    mySetUpControlSlider(s, 0, 1023, c.value, SRefCon(r), myLiveDCamControlProc);
    myLiveDCamControlProc(s, 0);
    EXPECT_EQ(Camera().Peek(c.control) & c.mask, c.expect);
    EXPECT_EQ(Label(c.signature), std::to_string(c.value));
  }
  ControlRef gain = Control(FOUR_CHAR_CODE("GAIN"));
  Camera().Poke(0x520, 0);  // the camera no longer has the feature: -2201
  ASSERT_EQ(skyloom::ui::UserSetValue(gain, 0x520), noErr);
  EXPECT_EQ(Label(FOUR_CHAR_CODE("GAIN")), "Err = 0xFFFFF767 -2201");

  // Saturation belongs to the long-exposure kind only.
  ControlRef sat = Control(FOUR_CHAR_CODE("SAT_"));
  mySetUpControlSlider(sat, 0, 255, 50, SRefCon(r), myLiveDCamControlProc);
  Camera().ClearLog();
  myLiveDCamControlProc(sat, 0);
  EXPECT_TRUE(Writes().empty());

  // Gamma: value x 0.01, the 8-bit table, "%.2f".
  void* tables[3] = {calloc(256, 1), calloc(256, 1), calloc(256, 1)};
  r->mGammaLUT = tables[0];
  r->mGammaLUTSpare[0] = tables[1];
  r->mGammaLUTSpare[1] = tables[2];
  ControlRef gamma = Control(FOUR_CHAR_CODE("GAMA"));
  mySetUpControlSlider(gamma, 1, 256, 150, SRefCon(r), myLiveDCamControlProc);
  myLiveDCamControlProc(gamma, 0);
  EXPECT_EQ(Label(FOUR_CHAR_CODE("GAMA")), "1.50");
  EXPECT_DOUBLE_EQ(r->mGamma, 1.5);
  EXPECT_EQ(r->mGammaOn, 1);
  r->mGammaLUT = r->mGammaLUTSpare[0] = r->mGammaLUTSpare[1] = nullptr;
  for (void* t : tables) free(t);

  // A control without a record does nothing.
  SetControlReference(gain, 0);
  Camera().ClearLog();
  myLiveDCamControlProc(gain, 0);
  EXPECT_TRUE(Writes().empty());
}

// ---------------------------------------------------------------- frame-rate control

TEST_F(ExposureTest, AbsoluteShutterFrameRateControl) {
  MyCameraWindowDataStruct* r = Open(SimPointGreyBoardType3Personality());
  ASSERT_EQ(r->mPointGreyBayer, 1);
  ASSERT_EQ(r->m50HzCapable, 1);
  EXPECT_EQ(mySetAbsoluteShutter(r, 1), noErr);
  EXPECT_EQ(Camera().Peek(0x1028), 0x80001234u);
  Camera().Poke(0x1028, 0x800F1234);
  EXPECT_EQ(mySetAbsoluteShutter(r, 0), noErr);
  EXPECT_EQ(Camera().Peek(0x1028), 0x80021234u);  // bit 17 stays as read
  Camera().FailRegister(0x1028, SimAccessKind::Read, -36, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(mySetAbsoluteShutter(r, 1), -36);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("DRFLY mySetAbsoluteShutter ORXDCAMGetQuadlet"),
            std::string::npos);
  CloseCamera();

  r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(r->mPointGreyBayer, 0);
  Camera().ClearLog();
  EXPECT_EQ(mySetAbsoluteShutter(r, 1), noErr);
  EXPECT_EQ(Camera().Peek(0x83C) & 0x02000000u, 0u);
  EXPECT_EQ(mySetAbsoluteShutter(r, 0), noErr);
  EXPECT_EQ(Camera().Peek(0x83C) & 0x02000000u, 0x02000000u);
  EXPECT_EQ(Writes().size(), 2u);
  r->m50HzCapable = 0;
  Camera().ClearLog();
  EXPECT_EQ(mySetAbsoluteShutter(r, 1), noErr);
  EXPECT_TRUE(Camera().Log().empty());
}

// ---------------------------------------------------------------- exposure menu

TEST_F(ExposureTest, ExposureMenuFromTheLongestExposure) {
  Open(SimDefaultColourPersonality());
  MenuRef menu = Menu(FOUR_CHAR_CODE("CCDB"));
  ASSERT_NE(menu, nullptr);
  const std::string item7 = ItemText(FOUR_CHAR_CODE("CCDB"), 7);

  mySetUpIIDC_CCDExpTimeMenu(menu, 266.0);
  ASSERT_EQ(CountMenuItems(menu), 8);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 7), item7);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 8), "Other...");
  EXPECT_FALSE(IsMenuItemEnabled(menu, 8));

  mySetUpIIDC_CCDExpTimeMenu(menu, 533.32);
  ASSERT_EQ(CountMenuItems(menu), 8);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 7), "266.66 ms");
  mySetUpIIDC_CCDExpTimeMenu(menu, 533.33);
  ASSERT_EQ(CountMenuItems(menu), 9);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 8), "533.33 ms");
  EXPECT_TRUE(IsMenuItemEnabled(menu, 8));
  EXPECT_FALSE(IsMenuItemEnabled(menu, 9));

  mySetUpIIDC_CCDExpTimeMenu(menu, 3600000.0);
  ASSERT_EQ(CountMenuItems(menu), 62);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 9), "750.00 ms");
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 15), "7.50 s");
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 29), "105.00 s");
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 33), "4.00 min");
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 61), "60.00 min");
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 62), "Other...");
  for (int i = 9; i <= 62; i++) EXPECT_FALSE(IsMenuItemEnabled(menu, i)) << i;
  // Every item carries the time of the shutter kinds' table.
  for (int i = 8; i <= 61; i++) {
    const std::string text = ItemText(FOUR_CHAR_CODE("CCDB"), i);
    double v = atof(text.c_str());
    if (text.find("min") != std::string::npos)
      v *= 60000;
    else if (text.find(" s") != std::string::npos)
      v *= 1000;
    EXPECT_NEAR(v, myShutterKindExposureMS(i), 0.01) << i;
  }
  // A rebuild starts again from item 7.
  mySetUpIIDC_CCDExpTimeMenu(menu, 1000.0);
  EXPECT_EQ(CountMenuItems(menu), 11);
  EXPECT_EQ(ItemText(FOUR_CHAR_CODE("CCDB"), 10), "1.00 s");
}

// ---------------------------------------------------------------- automatic exposure

class AutoExposure : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&r_, 0, sizeof r_);
    r_.mKind = kMyCameraWindowDataKind;
    r_.mBitsPerPixel = 8;
    r_.mWidth = 200;
    r_.mHeight = 1;
    r_.mAbsoluteShutter = 1;
    r_.mAbsShutterMin = 0.02f;
    r_.mAbsShutterMax = 33.333333f;
    r_.mShutterValue = 200;
    r_.mAbsShutterValue = float(0.02 + double(33.333333f - 0.02f) * 200 * 0.0025);
  }
  // A 200 x 1 frame whose byte sum is `sum`: sum / 512 percent of full scale.
  std::vector<UInt8> Frame(UInt32 sum) {
    std::vector<UInt8> f(200, UInt8(sum / 200));
    for (UInt32 i = 0; i < sum % 200; i++) f[i]++;
    return f;
  }
  float Percent(const std::vector<UInt8>& f) {
    float p = 0;
    myGet8BitPercentage(f.data(), 200, 1, &p);
    return p;
  }
  MyCameraWindowDataStruct r_;
};

TEST_F(AutoExposure, LearnsFourFramesThenSetsTheTarget) {
  const std::vector<UInt8> frames[4] = {Frame(20000), Frame(22000), Frame(24000), Frame(26000)};
  float sum = 0;
  for (const auto& f : frames) {
    myAnalyzeCCDExposure(&r_, f.data());
    sum += Percent(f);
    EXPECT_EQ(r_.mAutoExposureReady, 0);
  }
  EXPECT_EQ(r_.mAutoExposureFrameCount, 4u);
  r_.mAutoExposurePending = 1;  // learning clears a stale request
  myAnalyzeCCDExposure(&r_, Frame(0).data());
  EXPECT_EQ(r_.mAutoExposureReady, 1);
  EXPECT_EQ(r_.mAutoExposurePending, 0);
  EXPECT_FLOAT_EQ(r_.mAutoExposureTarget, sum * 0.25f);

  // Black frames learn a target of at least 0.01 %.
  SetUp();
  for (int i = 0; i < 5; i++) myAnalyzeCCDExposure(&r_, Frame(0).data());
  EXPECT_EQ(r_.mAutoExposureReady, 1);
  EXPECT_FLOAT_EQ(r_.mAutoExposureTarget, 0.01f);
}

TEST_F(AutoExposure, WatchingSkipsThreeFramesAndTestsTheNeighbours) {
  r_.mAutoExposureReady = 1;
  r_.mAutoExposureTarget = 50.0f;
  const auto dark = Frame(13312);    // 26 %
  const auto f515 = Frame(26368);    // 51.5 %
  const auto f52 = Frame(26624);     // 52 %
  ASSERT_NEAR(Percent(f515), 51.5f, 0.001f);
  ASSERT_NEAR(Percent(f52), 52.0f, 0.001f);
  // Three frames are skipped after a restart.
  for (int i = 0; i < 3; i++) {
    myAnalyzeCCDExposure(&r_, dark.data());
    EXPECT_EQ(r_.mAutoExposurePending, 0) << i;
  }
  EXPECT_EQ(r_.mAutoExposureFrameCount, 3u);
  myAnalyzeCCDExposure(&r_, f515.data());  // inside the dead band
  EXPECT_EQ(r_.mAutoExposurePending, 0);
  myAnalyzeCCDExposure(&r_, f52.data());   // 50/52 of the exposure is below slider 199's
  EXPECT_EQ(r_.mAutoExposurePending, 1);
  EXPECT_FLOAT_EQ(r_.mAutoExposureMeasured, Percent(f52));

  // A black frame restarts the skip.
  r_.mAutoExposurePending = 0;
  myAnalyzeCCDExposure(&r_, Frame(0).data());
  EXPECT_EQ(r_.mAutoExposureFrameCount, 0u);
  for (int i = 0; i < 3; i++) myAnalyzeCCDExposure(&r_, dark.data());
  EXPECT_EQ(r_.mAutoExposurePending, 0);
  myAnalyzeCCDExposure(&r_, dark.data());
  EXPECT_EQ(r_.mAutoExposurePending, 1);

  // At the slider's ends only the inward neighbour counts.
  r_.mAutoExposurePending = 0;
  r_.mShutterValue = 400;
  r_.mAbsShutterValue = r_.mAbsShutterMax;
  myAnalyzeCCDExposure(&r_, dark.data());  // wants longer than the maximum
  EXPECT_EQ(r_.mAutoExposurePending, 0);
  r_.mShutterValue = 1;
  r_.mAbsShutterValue = r_.mAbsShutterMin;
  myAnalyzeCCDExposure(&r_, f52.data());   // wants shorter than the minimum
  EXPECT_EQ(r_.mAutoExposurePending, 0);
}

TEST_F(AutoExposure, LongExposureKindUsesTheSliderScale) {
  r_.mAbsoluteShutter = 0;
  r_.mIsLongExposureCamera = 1;
  r_.mExposureRateItem = 4;
  r_.mAutoExposureReady = 1;
  r_.mAutoExposureFrameCount = 3;
  r_.mAutoExposureTarget = 2.0f;  // a target of 3 % or less checks every frame
  r_.mShutterValue = 0;
  myAnalyzeCCDExposure(&r_, Frame(1100).data());  // 2.15 %: shorter wanted, but s = 0
  EXPECT_EQ(r_.mAutoExposurePending, 0);
  myAnalyzeCCDExposure(&r_, Frame(500).data());   // 0.98 %: twice as long
  EXPECT_EQ(r_.mAutoExposurePending, 1);
}
