// Exposure items applied to each camera kind: the ordered register writes of
// every path against goldens worked out by hand from the camera's registers
// (0x83C frame-rate control, 0x600/0x604/0x608 rate, mode and format,
// 0x2478 the shutter's absolute value in seconds, 0x24F8 the frame rate's).
#include <gtest/gtest.h>

#include "tests/app/ExposureFixture.h"

namespace {
using WriteLog = std::vector<std::pair<UInt32, UInt32>>;
constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
}  // namespace

TEST_F(ExposureTest, PointGreyRateLongAndBackToRate) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);  // 640x480 at 30 fps, items 4..8
  ASSERT_EQ(r->mFirstExposureItem, 4u);
  ASSERT_EQ(r->mExposureItemLimit, 8u);

  // C: item 5 is rate item 4, 15 fps.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 5), noErr);
  const WriteLog kC = {
      {0x83C, 0xC0000000},  // frame-rate control off (absolute stays on)
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x60000000},  // format 0, mode 5, 15 fps
      {0x2478, 0x37A7C5AC},  // the slider's live action: 0.02 ms
      {0x83C, 0xC0000000}, {0x83C, 0xC2000000}, {0x83C, 0xC2000000},  // automatic off, on, absolute
      {0x24F8, 0x41700000},  // 15.0 fps
  };
  EXPECT_EQ(Writes(), kC);
  EXPECT_EQ(r->mExposureRateItem, 4u);
  EXPECT_EQ(r->mFrameRate, 15.0);
  EXPECT_NEAR(r->mExposureMS, 66.667, 0.001);
  EXPECT_FLOAT_EQ(r->mAbsShutterMax, 66.666667f);
  EXPECT_TRUE(Enabled(kRate));
  EXPECT_EQ(r->mLongExposure, 0u);

  // D, extended shutter: item 12 is 3 s at the slowest rate.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 12), noErr);
  const WriteLog kD = {
      {0x83C, 0xC0000000},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x00000000},  // 1.875 fps
      {0x2478, 0x40400000},  // 3.0 s
  };
  EXPECT_EQ(Writes(), kD);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 3000.0);
  EXPECT_NE(r->mLongExposureFrame, nullptr);
  EXPECT_FALSE(Enabled(kRate));
  EXPECT_FALSE(Enabled(kExpo));
  EXPECT_FALSE(Enabled(kExpo, 2));
  EXPECT_FALSE(Enabled(FOUR_CHAR_CODE("AUEX")));

  // C again, leaving the long exposure: the shutter comes back first.
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 6), noErr);
  const WriteLog kBack = {
      {0x83C, 0xC0000000},
      {0x2478, 0x37A7C5AC},  // the shutter as it was
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x40000000},  // 7.5 fps
      {0x2478, 0x37A7C5AC},
      {0x83C, 0xC0000000}, {0x83C, 0xC2000000}, {0x83C, 0xC2000000},
      {0x24F8, 0x40F00000},  // 7.5
  };
  EXPECT_EQ(Writes(), kBack);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(r->mLongExposureFrame, nullptr);
  EXPECT_TRUE(Enabled(kExpo));
  EXPECT_EQ(GetControl32BitValue(Control(kRate)), 3);
}

TEST_F(ExposureTest, PointGreyLongItemWhenNoRateCanBeSet) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
  Camera().FailRegister(0x600, SimAccessKind::Write, -36);
  testing::internal::CaptureStderr();
  const OSStatus err = mySetBaseCCDExposureTime(r, 12);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(err, noErr);
  EXPECT_NE(out.find("mySetIIDC_ExposureTime mySetIIDCCameraFmtModeFR  failed"), std::string::npos);
  EXPECT_EQ(r->mLongExposure, 0u);
}

TEST_F(ExposureTest, VendorRuleRateAndLongItems) {
  MyCameraWindowDataStruct* r = Open(SimVendorPersonality(0x000748, "DBK 31AF03"));
  ASSERT_EQ(r->mShutterByAbsolute, 1);
  ASSERT_EQ(r->mAbsoluteShutter, 0);
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);  // 1.875 .. 30 fps: items 4..8
  ASSERT_EQ(r->mFirstRateItem, 1u);
  r->mShutterValue = 0x123;

  // E, long item: the slowest offered rate and the raw shutter.
  Camera().ClearLog();
  EXPECT_EQ(mySet_IIDC_CCDExposureTime(r, 10), noErr);
  const WriteLog kLong = {
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x00000000},  // 1.875 fps
      {0x81C, 0x82000123},
  };
  EXPECT_EQ(Writes(), kLong);
  EXPECT_EQ(r->mLongExposure, 1u);
  EXPECT_EQ(r->mExposureMS, 1000.0);

  // E, rate item: the shutter again, then the rate.
  r->mShutterValue = 0x124;
  Camera().ClearLog();
  EXPECT_EQ(mySet_IIDC_CCDExposureTime(r, 5), noErr);
  const WriteLog kRateItem = {
      {0x81C, 0x82000124},
      {0x608, 0x00000000}, {0x604, 0xA0000000}, {0x600, 0x60000000},  // 15 fps
      {0x81C, 0x82000001},  // the slider's live action: its own value, 1
  };
  EXPECT_EQ(Writes(), kRateItem);
  EXPECT_EQ(r->mLongExposure, 0u);
  EXPECT_EQ(r->mShutterValue, 1u);
  EXPECT_EQ(Label(kExpo), "1");
}

TEST_F(ExposureTest, OtherCamerasOnlyRefreshTheArrows) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  r->mIsPointGrey = 0;
  r->mShutterByAbsolute = 0;
  r->mLongExposure = 1;
  Camera().ClearLog();
  EXPECT_EQ(mySetBaseCCDExposureTime(r, 12), noErr);
  EXPECT_TRUE(Writes().empty());
  EXPECT_FALSE(Enabled(kExpo, 2));
  r->mLongExposure = 0;
}

TEST_F(ExposureTest, LongExposureKindRateItems) {
  MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
  ASSERT_EQ(r->mExposureItemLimit, 7u);
  r->mFormat = 0;
  r->mMode = 5;
  r->mShutterValue = 192;
  const struct {
    double before;
    UInt32 item, code;
    double after;
  } kCases[] = {{7.5, 3, 4, 30.0}, {7.5, 5, 3, 7.5}, {30.0, 5, 3, 15.0}, {30.0, 6, 2, 7.5}, {3.75, 7, 2, 3.75}};
  for (const auto& c : kCases) {
    r->mFrameRate = c.before;
    Camera().ClearLog();
    EXPECT_EQ(mySetBaseCCDExposureTime(r, c.item), noErr) << c.item;
    EXPECT_EQ(r->mFrameRate, c.after) << c.item;
    EXPECT_EQ(r->mExposureRateItem, c.code);
    const WriteLog log = Writes([](UInt32 o) { return o == 0x824 || o == 0x600; });
    ASSERT_EQ(log.size(), 2u) << c.item;
    EXPECT_EQ(log[0].second & 0xFFF, c.code);  // iris holds the rate code
    EXPECT_EQ(log[1].second >> 29, myRateItemForFramesPerSecond(c.after) - 1);
    EXPECT_EQ(Label(kExpo), " 5.00 ms");
    EXPECT_NEAR(r->mExposureMS, 1000.0 / c.after, 1e-9);
  }
}
