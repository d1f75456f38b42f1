// The camera's preference domain: the write pass, the read pass, refusals and
// fallbacks per key, and the single-control routines.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "app/PreviewDrawing.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/app/PrefsFixture.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kGain = FOUR_CHAR_CODE("GAIN");
constexpr OSType kBright = FOUR_CHAR_CODE("BRIT");

class CameraPrefs : public PrefsTest {
 protected:
  void SetControl(OSType signature, SInt32 value) {
    ASSERT_NE(Control(signature), nullptr);
    SetControl32BitValue(Control(signature), value);
  }
  SInt32 ControlValue(OSType signature) { return GetControl32BitValue(Control(signature)); }
  // Reads the preferences with every alert answered.
  OSStatus Read() {
    testing::internal::CaptureStderr();
    OSStatus err = myReadWriteCameraPrefs(record_, 1);
    testing::internal::GetCapturedStderr();
    return err;
  }
  OSStatus Write() {
    testing::internal::CaptureStderr();
    OSStatus err = myReadWriteCameraPrefs(record_, 0);
    testing::internal::GetCapturedStderr();
    return err;
  }
  // A camera domain that holds "VERS", so that it is the one read.
  void MarkSaved() { Put(CameraDomain(), "VERS", "4194319.000000"); }
};

// Sets a non-default value in every field the domain keeps; the controls too.
void FillRecord(MyCameraWindowDataStruct* r) {
  r->mPGRLongExposure = 0;
  r->m50HzScale = 1;
  r->mTriggerMode = 14;
  r->mTrigger4Pin = 1;
  r->mUserBayerCode = 3;
  r->mSaveFileType = FOUR_CHAR_CODE("FITS");
  r->mFileNaming = 3;
  r->mControlWindowPos = Point{100, 200};
  r->mControlWindowHeight = 400;
  r->mVideoWindowPos = Point{150, 700};
  r->mRecordFrameLimit = 500;
  r->mSkipSharpnessPercent = 12.5;
  r->mSharpFrameCount = 7;
  r->mDarkFrameCount = 8;
  r->mFlatFrameCount = 9;
  r->mHighQualityBayer = 1;
  r->mShowTimeCode = 1;
  r->mAddNoteOn = 1;
  r->mShowReticle = 1;
  r->mShowSaturated = 1;
  r->mSaturationCutoff = 250;
  r->mBrightnessAreaWidth = 32;
  r->mBrightnessAreaHeight = 24;
  r->mZoomScale = 2.0f;
  r->mZoomItem = 7;
  r->mZoomX = 100;
  r->mZoomY = 90;
  r->mColourizeOn = 1;
  r->mColourizeColour = RGBColor{1000, 2000, 3000};
  r->mBalanceColour = RGBColor{4000, 5000, 6000};
  r->mHotPixelFlag = 1;
  r->mLiveHotPixelFlag = 1;
  r->mHotPixelThreshold = 30;
  r->mHelpOption = 0;
  r->mOpenFrameAfterSave = 0;
  r->mOpenMovieAfterSave = 0;
  r->mAverageFrameCount = 11;
  r->mSumFrameCount = 12;
  r->mImageAlignMode = 2;
  r->mDecCalibrationMode = 3;
  r->mTrackAccuracy = 0.3f;
  r->mMinRAMotionPixels = 25;
  r->mMinDecMotionPixels = 15;
  r->mTurbulenceLimit = 1;
  r->mEliminateHotPixels = 1;
  r->mMultipleObjects = 1;
  r->mCalibrationMoveItem = 5;
  r->mCorrectionOrder = 2;
  r->mLunarSolarTracking = 1;
  r->mSkipLargeChanges = 1;
  r->mPixel16Shift = 4;
  r->mPixel16EndianSwap = 1;
  r->mSoftROIEnabled = 1;
  r->mSoftROILeft = 10;
  r->mSoftROITop = 20;
  r->mSoftROIWidth = 300;
  r->mSoftROIHeight = 200;
  r->mSoftROIActive = 1;
  r->mHistogramExpand = 2;
  r->mTemperatureSettable = 1;
  r->mTargetTemperature = 263.15f;
  r->mTemperatureMode = 1;
  r->mShowTemperature = 1;
}

// Every field the read pass fills, as text, for comparing two records.
std::string Fields(const MyCameraWindowDataStruct* r) {
  char s[2048];
  snprintf(s, sizeof s,
           "50hz %d trg %u pin %d inv %d flh %d flv %d bayr %u mofr %u %.4f fort %u ffmt %08X finm %u rate %.3f "
           "cw %d,%d h %d vw %d,%d mofm %u skva %.3f shfm %u dkfm %u brfm %u hiby %d utco %d lono %d resh %d "
           "sat %d %u brit %u %u zoom %.3f %d %d,%d col %d %u %u %u bal %u %u %u htpx %d %d %u hiof %u help %d %d %d "
           "gfav %u %u imal %u dec %u acc %.3f ra %u dec %u turb %d elim %d mult %d move %u order %u lun %d skip %d "
           "shift %u swap %d top %u left %u temp %.2f show %d size %u %ux%u soft %d %d %u %u %u %u",
           r->m50HzScale, r->mTriggerMode, r->mTrigger4Pin, r->mInvert, r->mFlipHorizontal, r->mFlipVertical,
           r->mUserBayerCode, r->mMovieFrameItem, r->mMovieFrameInterval, r->mDisplayFormatItem,
           unsigned(r->mSaveFileType), r->mFileNaming, r->mFrameRate, r->mControlWindowPos.v,
           r->mControlWindowPos.h, r->mControlWindowHeight, r->mVideoWindowPos.v, r->mVideoWindowPos.h,
           r->mRecordFrameLimit, r->mSkipSharpnessPercent, r->mSharpFrameCount, r->mDarkFrameCount,
           r->mFlatFrameCount, r->mHighQualityBayer, r->mShowTimeCode, r->mAddNoteOn, r->mShowReticle,
           r->mShowSaturated, r->mSaturationCutoff, r->mBrightnessAreaWidth, r->mBrightnessAreaHeight,
           double(r->mZoomScale), r->mZoomItem, r->mZoomX, r->mZoomY, r->mColourizeOn, r->mColourizeColour.red,
           r->mColourizeColour.green, r->mColourizeColour.blue, r->mBalanceColour.red, r->mBalanceColour.green,
           r->mBalanceColour.blue, r->mHotPixelFlag, r->mLiveHotPixelFlag, r->mHotPixelThreshold,
           r->mHistogramOption, r->mHelpOption, r->mOpenFrameAfterSave, r->mOpenMovieAfterSave,
           r->mAverageFrameCount, r->mSumFrameCount, r->mImageAlignMode, r->mDecCalibrationMode,
           double(r->mTrackAccuracy), r->mMinRAMotionPixels, r->mMinDecMotionPixels, r->mTurbulenceLimit,
           r->mEliminateHotPixels, r->mMultipleObjects, r->mCalibrationMoveItem, r->mCorrectionOrder,
           r->mLunarSolarTracking, r->mSkipLargeChanges, r->mPixel16Shift, r->mPixel16EndianSwap, r->mTop,
           r->mLeft, double(r->mTargetTemperature), r->mShowTemperature, r->mVideoSizeIndex, r->mWidth,
           r->mHeight, r->mSoftROIEnabled, r->mSoftROIActive, r->mSoftROILeft, r->mSoftROITop, r->mSoftROIWidth,
           r->mSoftROIHeight);
  return s;
}

TEST_F(CameraPrefs, WriteThenReadGivesTheSameRecordAndTheGoldenFile) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  // The second video size, 640 x 480 at 16 bits, and the controls.
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 1), noErr);
  SetControl(FOUR_CHAR_CODE("VISZ"), 2);
  FillRecord(r);
  SetControl(FOUR_CHAR_CODE("MOFR"), 10);
  r->mMovieFrameItem = 10;
  r->mMovieFrameInterval = 1000;
  SetControl(FOUR_CHAR_CODE("HIOF"), 4);
  r->mHistogramOption = 3;
  SetControl(FOUR_CHAR_CODE("IVFR"), 1);
  r->mInvert = 1;
  SetControl(FOUR_CHAR_CODE("FLIH"), 1);
  r->mFlipHorizontal = 1;
  SetControl(kGain, 77);
  SetControl(kBright, 33);
  SetControl(FOUR_CHAR_CODE("FRAM"), 4);
  r->mFrameRate = 15.0;
  SetControl(FOUR_CHAR_CODE("SAT_"), 0);
  SetControl(FOUR_CHAR_CODE("EXPO"), 200);
  SetControl(FOUR_CHAR_CODE("VorR"), 600);
  SetControl(FOUR_CHAR_CODE("UorB"), 400);
  SetControl(FOUR_CHAR_CODE("GAMA"), 150);
  SetControl(FOUR_CHAR_CODE("CCDB"), 5);
  ASSERT_EQ(Write(), noErr);
  EXPECT_TRUE(skyloom::ui::Alerts().empty());
  const std::string written = Fields(r);

  // The file, read by Python's plistlib, equals the hand-written golden.
  int status = 0;
  const std::string command = "python3 '" + std::string(SKYLOOM_SOURCE_DIR) +
                              "/tests/app/check_prefs_plist.py' '" + DomainFile(CameraDomain()) + "' '" +
                              SKYLOOM_SOURCE_DIR + "/tests/app/golden/camera_prefs.txt' " +
                              std::to_string(int(r->mProperties.mCameraID));
  const std::string out = Run(command, &status);
  EXPECT_EQ(status, 0) << out;

  // Another record state and other control values; a new process reads.
  MyCameraWindowDataStruct saved = *r;
  (void)saved;
  r->m50HzScale = 0;
  r->mTriggerMode = 0;
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  r->mControlWindowPos = Point{60, 4};
  r->mZoomScale = 1.0f;
  r->mColourizeColour = RGBColor{65535, 65535, 65535};
  r->mTrackAccuracy = 0.1f;
  r->mSoftROIWidth = 0;
  r->mTargetTemperature = 0;
  r->mSkipSharpnessPercent = 10.0;
  SetControl(FOUR_CHAR_CODE("MOFR"), 19);
  SetControl(FOUR_CHAR_CODE("HIOF"), 1);
  SetControl(FOUR_CHAR_CODE("IVFR"), 0);
  SetControl(kGain, 5);
  SetControl(kBright, 6);
  SetControl(FOUR_CHAR_CODE("VISZ"), 1);
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 0), noErr);
  SkyloomPreferencesForgetAll();
  ASSERT_EQ(Read(), noErr);
  // Single precision: 12.5, 0.3f and 263.15f come back as they went.
  EXPECT_EQ(Fields(r), written);
  EXPECT_EQ(r->mZoomItem, 7);
  EXPECT_EQ(r->mSoftROIActive, 1);
  EXPECT_EQ(ControlValue(kGain), 77);
  EXPECT_EQ(ControlValue(kBright), 33);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("VISZ")), 2);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("RESH")), 1);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("SHSA")), 1);
  // The stretch starts over, unasked, at its first item.
  EXPECT_EQ(r->mHistogramExpand, 0);
  EXPECT_EQ(r->mStretchRequest, 3);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("EXPD")), 1);
  // The colourize table follows the colour read.
  UInt32 table[256];
  myFillInCourizedARGB32Table(table, RGBColor{1000, 2000, 3000});
  EXPECT_EQ(memcmp(table, r->mColourizeTable, sizeof table), 0);
}

// One key stored (or missing, or no text), one field read back.
struct KeyCase {
  const char* key;
  const char* text;  // null: missing; "#" : a number object, not text
  std::function<double(const MyCameraWindowDataStruct*)> field;
  double expected;
};

TEST_F(CameraPrefs, RefusedKeysGiveTheirFallbacks) {
  auto trigger = [](const MyCameraWindowDataStruct* r) { return double(r->mTriggerMode); };
  auto zoom = [](const MyCameraWindowDataStruct* r) { return double(r->mZoomScale) * 100 + r->mZoomItem; };
  auto height = [](const MyCameraWindowDataStruct* r) { return double(r->mControlWindowHeight); };
  auto histogram = [](const MyCameraWindowDataStruct* r) { return double(r->mHistogramOption); };
  auto kind = [](const MyCameraWindowDataStruct* r) { return double(r->mSaveFileType); };
  auto red = [](const MyCameraWindowDataStruct* r) { return double(r->mColourizeColour.red); };
  auto spotGreen = [](const MyCameraWindowDataStruct* r) { return double(r->mBalanceColour.green); };
  auto hot = [](const MyCameraWindowDataStruct* r) { return double(r->mHotPixelThreshold); };
  auto average = [](const MyCameraWindowDataStruct* r) { return double(r->mAverageFrameCount); };
  auto size = [](const MyCameraWindowDataStruct* r) { return double(r->mVideoSizeIndex); };
  auto accuracy = [](const MyCameraWindowDataStruct* r) { return double(r->mTrackAccuracy); };
  auto zoomX = [](const MyCameraWindowDataStruct* r) { return double(r->mZoomX); };
  auto interval = [](const MyCameraWindowDataStruct* r) { return r->mMovieFrameInterval; };
  const KeyCase kCases[] = {
      {"TRGMD", "3", trigger, 0},
      {"TRGMD", "14", trigger, 14},
      {"TRGMD", "20", trigger, 14},
      {"TRGMD", nullptr, trigger, 0},
      {"ZOOA", "3.0", zoom, 310},
      {"ZOOA", "0.5", zoom, 54},
      {"ZOOA", "9", zoom, 106},
      {"ZOOA", nullptr, zoom, 106},
      {"ZOOA", "#", zoom, 106},
      {"CWHE", "1000", height, 1000},
      {"CWHE", nullptr, height, 566},
      {"HIOF", "1", histogram, 0},
      {"HIOF", "3", histogram, 2},
      {"HIOF", "99", histogram, 5},  // outside the pop-up: unchanged
      {"FFMT", "0", kind, double(FOUR_CHAR_CODE("TIFF"))},
      {"FFMT", "8", kind, double(FOUR_CHAR_CODE("TIFF"))},
      {"FFMT", "6", kind, double(FOUR_CHAR_CODE("FITS"))},
      {"COLOURIZE_R", "65536", red, 65535},
      {"COLOURIZE_R", "70000", red, 65535},
      {"COLOURIZE_R", "1000", red, 1000},
      {"SPCG", "65536", spotGreen, 65535},
      {"SPCG", "0", spotGreen, 0},
      {"HCRP", nullptr, hot, 23},
      {"HCRP", "#", hot, 23},
      {"HCRP", "36", hot, 23},
      {"HCRP", "35", hot, 35},
      {"GFAV", "0", average, 1},
      {"PIXACCURCY", "0.05", accuracy, double(0.1f)},
      {"ZOOX", "700", zoomX, 320},  // beyond the 640-pixel frame: half the width
      {"ZOOX", "12", zoomX, 12},
      {"MOFR", "12", interval, 266.66667},
      {"MOFR", "19", interval, 0},
      // The last of the seven video sizes comes back as itself.
      {"VISZ", "7", size, 6},
      {"VISZ", "1", size, 0},
      {"VISZ", "8", size, 0},
  };
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  const MyCameraWindowDataStruct fresh = *r;
  for (const KeyCase& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + " = " + (c.text ? c.text : "(missing)"));
    SkyloomPreferencesForgetAll();
    system(("rm -f '" + preferences_ + "'/*.plist").c_str());
    MarkSaved();
    if (c.text && strcmp(c.text, "#") == 0)
      PutNumberObject(CameraDomain(), c.key, 2.0);
    else
      Put(CameraDomain(), c.key, c.text);
    // The record and the controls as the camera's opening left them.
    WindowRef cw = r->mControlWindow, vw = r->mVideoWindow;
    *r = fresh;
    r->mControlWindow = cw;
    r->mVideoWindow = vw;
    r->mHistogramOption = 5;
    SetControl(FOUR_CHAR_CODE("HIOF"), 2);
    SetControl(FOUR_CHAR_CODE("MOFR"), 19);
    ASSERT_EQ(mySetCameraFMRByIndexItem(r, -1), noErr);
    ASSERT_EQ(Read(), noErr);
    EXPECT_NEAR(c.field(r), c.expected, 1e-4);
  }
}

TEST_F(CameraPrefs, ACameraNeverSavedReadsTheApplicationDomainAndTheWriteMakesItsOwn) {
  Put("com.brindlemoor.SKYLOOM_App", "GFAV", "7.000000");
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  Put(CameraDomain(), "GFAV", "9.000000");  // no "VERS": not read
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mAverageFrameCount, 7u);
  ASSERT_EQ(Write(), noErr);
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(Stored(CameraDomain(), "VERS"), "4194319.000000");
  EXPECT_EQ(Stored(CameraDomain(), "GFAV"), "7.000000");
  EXPECT_EQ(Stored(CameraDomain(), "CAID"), std::to_string(r->mProperties.mCameraID) + ".000000");
  r->mAverageFrameCount = 1;
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mAverageFrameCount, 7u);
}

TEST_F(CameraPrefs, AWindowOffEveryScreenComesBackNearTheDesktopsCorner) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  // Two screens' worth of desktop below a 30-pixel menu bar.
  skyloom::ui::SetScreenBounds(Rect{0, -1600, 1200, 1920}, Rect{30, -1600, 1200, 1920});
  Rect desktop;
  GetRegionBounds(GetGrayRgn(), &desktop);
  EXPECT_EQ(desktop.top, 30);
  EXPECT_EQ(desktop.left, -1600);
  MarkSaved();
  Put(CameraDomain(), "CWTO", "3000");
  Put(CameraDomain(), "CWLF", "100");
  Put(CameraDomain(), "VWTO", "500");
  Put(CameraDomain(), "VWLF", "-1200");  // on the left-hand screen
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mControlWindowPos.v, 62);
  EXPECT_EQ(r->mControlWindowPos.h, -1596);
  EXPECT_EQ(r->mVideoWindowPos.v, 500);
  EXPECT_EQ(r->mVideoWindowPos.h, -1200);
  // A refused top skips the left and the check.
  Put(CameraDomain(), "CWTO", nullptr);
  Put(CameraDomain(), "CWLF", "-30000");
  r->mControlWindowPos = Point{60, 4};
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mControlWindowPos.v, 60);
  EXPECT_EQ(r->mControlWindowPos.h, 4);
  skyloom::ui::SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});
}

TEST_F(CameraPrefs, ADisabledControlIsNeitherReadNorSkippedWhenWritten) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  MarkSaved();
  Put(CameraDomain(), "GAIN", "100");
  Put(CameraDomain(), "BRIT", "40");
  CFStringRef app = S(CameraDomain());
  SetControl(kGain, 12);
  DisableControl(Control(kGain));
  Camera().ClearLog();
  double v = -5;
  EXPECT_EQ(myReadInSetUpControlPref(app, kGain, r->mControlWindow, &v), noErr);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(ControlValue(kGain), 12);
  EXPECT_TRUE(Writes().empty());
  // An enabled one is set and applied: feature 0x500's value register.
  EXPECT_EQ(mySpecificReadInSetUpControlPref(app, kBright, r->mControlWindow, &v), noErr);
  EXPECT_EQ(v, 40.0);
  EXPECT_EQ(ControlValue(kBright), 40);
  EXPECT_FALSE(Writes([](UInt32 o) { return o == 0x800; }).empty());
  // Out of the control's range: refused, the control's value handed back.
  Put(CameraDomain(), "BRIT", "4000");
  EXPECT_EQ(myReadInSetUpControlPref(app, kBright, r->mControlWindow, &v), noErr);
  EXPECT_EQ(v, 40.0);

  // The camera's write stores the disabled control's value; a slot stores -1.0.
  ASSERT_EQ(Write(), noErr);
  EXPECT_EQ(Stored(CameraDomain(), "GAIN"), "12.000000");
  EXPECT_EQ(mySpecificWriteOutControlPref(app, kGain, r->mControlWindow), noErr);
  EXPECT_EQ(Stored(CameraDomain(), "GAIN"), "-1.000000");
  // A control the window lacks.
  EXPECT_EQ(myWriteOutControlPref(app, FOUR_CHAR_CODE("NONE"), r->mControlWindow), errUnknownControl);
  EXPECT_EQ(myReadInSetUpControlPref(app, FOUR_CHAR_CODE("NONE"), r->mControlWindow, &v), errUnknownControl);
  EXPECT_EQ(v, 0.0);
  CFRelease(app);
}

TEST_F(CameraPrefs, BayerOnAMonoModeKeepsTheCamerasPattern) {
  MyCameraWindowDataStruct* r = OpenReady(SimMonoPersonality());
  ASSERT_NE(r, nullptr);
  const UInt32 pattern = r->mBayerFormat;
  MarkSaved();
  Put(CameraDomain(), "BAYR", "3");
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mUserBayerCode, 3u);
  EXPECT_EQ(r->mBayerFormat, pattern);
  Put(CameraDomain(), "BAYR", "5");
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mUserBayerCode, 1u);
}

TEST_F(CameraPrefs, AFailedSizeChoiceEndsTheReadBeforeTheFeatures) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  MarkSaved();
  Put(CameraDomain(), "GAIN", "100");
  Put(CameraDomain(), "SOFTROI", "1");
  Put(CameraDomain(), "VISZ", "2");  // another mode: the camera is programmed
  SetControl(kGain, 12);
  // The camera refuses every format and mode change.
  for (UInt32 offset : {0x600u, 0x604u, 0x608u}) Camera().FailRegister(offset, SimAccessKind::Write, -36);
  EXPECT_NE(Read(), noErr);
  EXPECT_EQ(r->mSoftROIEnabled, 1);  // read before the size
  EXPECT_EQ(ControlValue(kGain), 12);
  Camera().ClearFaults();
}

TEST_F(CameraPrefs, AFailedStoreEndsTheWriteWithAnAlertAndNoFile) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  // The display-format pop-up is gone: the second control of the pass.
  DisposeControl(Control(FOUR_CHAR_CODE("FORT")));
  skyloom::ui::ScriptedUser user;
  user.AnswerAlert();
  EXPECT_EQ(Write(), errUnknownControl);
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  char message[96];
  snprintf(message, sizeof message, "Skyloom Write Preferences Error %d 0x%X", int(errUnknownControl),
           unsigned(errUnknownControl));
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, message);
  EXPECT_FALSE(FileExists(DomainFile(CameraDomain())));
  // Keys after the failure were never stored, not even in memory.
  EXPECT_EQ(Stored(CameraDomain(), "MOFR"), "19.000000");
  EXPECT_EQ(Stored(CameraDomain(), "BRIT"), "<none>");
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(CameraPrefs, NumbersStayInTheirFieldsWhateverTheFileSays) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  MarkSaved();
  Put(CameraDomain(), "CWTO", "1e30");
  Put(CameraDomain(), "CWLF", "-1e30");
  Put(CameraDomain(), "FMT7LEFT", "4294967295");
  Put(CameraDomain(), "FMT7WIDTH", "-5");
  Put(CameraDomain(), "SOFTROI", "1");
  Put(CameraDomain(), "SOFTROILEFT", "4294967000");
  Put(CameraDomain(), "SOFTROIWIDTH", "600");
  Put(CameraDomain(), "MAINTAINTEMP", "1e300");
  r->mTemperatureSettable = 1;
  ASSERT_EQ(Read(), noErr);
  // Clamped into the desktop check, then moved onto the desktop.
  EXPECT_EQ(r->mControlWindowPos.v, 54);
  EXPECT_EQ(r->mControlWindowPos.h, 4);
  EXPECT_EQ(r->mSoftROILeft, 8000u);
  // A region that does not lie inside the frame does not crop.
  EXPECT_EQ(r->mSoftROIActive, 0);
  EXPECT_TRUE(r->mTargetTemperature > 3e38f);
}

}  // namespace

namespace {

TEST_F(CameraPrefs, TheSaveFolderIsKeptWhileItCanBeFound) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  FSRef folder;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(saveFolder_.c_str()), &folder, nullptr), noErr);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
  r->mDefaultFolderValid = 1;
  r->mDefaultFolderVRefNum = info.volume;
  r->mDefaultFolderDirID = SInt32(info.nodeID);
  ASSERT_EQ(Write(), noErr);
  r->mDefaultFolderValid = 0;
  r->mDefaultFolderDirID = 0;
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mDefaultFolderValid, 1);
  EXPECT_EQ(r->mDefaultFolderDirID, SInt32(info.nodeID));
  // A folder id that names nothing, then a missing volume: the flag is cleared.
  Put(CameraDomain(), "PARID", "999999");
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mDefaultFolderValid, 0);
  Put(CameraDomain(), "PARID", std::to_string(info.nodeID).c_str());
  Put(CameraDomain(), "VREFNUM", nullptr);
  ASSERT_EQ(Read(), noErr);
  EXPECT_EQ(r->mDefaultFolderValid, 0);
}

}  // namespace
