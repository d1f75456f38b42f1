// The camera record's allocation defaults, the camera menu's enabling and the
// zoom and alignment check marks, driven through the real menu bar.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/CameraMenus.h"
#include "app/CameraWindowData.h"
#include "tests/support/UiFixture.h"

namespace {

struct DefaultRow {
  const char* name;
  double actual;
  double expected;
};

TEST(CameraRecord, AllocationStoresTheOpeningDefaults) {
  MyCameraWindowDataStruct* r = myNewCameraWindowData();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(offsetof(MyCameraWindowDataStruct, mKind), 0u);
  const DefaultRow rows[] = {
      {"mKind", double(r->mKind), 1},
      {"mBitsPerPixel", double(r->mBitsPerPixel), 8},
      {"mFrameRate", r->mFrameRate, 30.0},
      {"mDisplayFormatItem", double(r->mDisplayFormatItem), 2},
      {"mFileNaming", double(r->mFileNaming), 1},
      {"mZoomScale", double(r->mZoomScale), 1.0},
      {"mZoomX", double(r->mZoomX), 320},
      {"mZoomY", double(r->mZoomY), 240},
      {"mSaveFileType", double(r->mSaveFileType), double(UInt32(FOUR_CHAR_CODE("TIFF")))},
      {"mMovieFrameItem", double(r->mMovieFrameItem), 19},
      {"mRecordRateScale", r->mRecordRateScale, 1.0},
      {"HCRP", double(r->mHotPixelThreshold), 23},
      {"SKVA", r->mSkipSharpnessPercent, 10.0},
      {"SHFM", double(r->mSharpFrameCount), 1},
      {"DKFM", double(r->mDarkFrameCount), 1},
      {"BRFM", double(r->mFlatFrameCount), 1},
      {"balance red", double(r->mBalanceColour.red), 65535},
      {"balance green", double(r->mBalanceColour.green), 65535},
      {"balance blue", double(r->mBalanceColour.blue), 65535},
      {"video top", double(r->mVideoWindowPos.v), 60},
      {"video left", double(r->mVideoWindowPos.h), 4},
      {"control top", double(r->mControlWindowPos.v), 60},
      {"control left", double(r->mControlWindowPos.h), 4},
      {"mControlWindowHeight", double(r->mControlWindowHeight), 566},
      {"mCaptureLogOn", double(r->mCaptureLogOn), 1},
      {"HELP", double(r->mHelpOption), 1},
      {"OPFD", double(r->mOpenFrameAfterSave), 1},
      {"OPMO", double(r->mOpenMovieAfterSave), 1},
      {"GFAV", double(r->mAverageFrameCount), 1},
      {"GFSM", double(r->mSumFrameCount), 1},
      {"text x", double(r->mTextOrigin.h), 10},
      {"text y", double(r->mTextOrigin.v), 40},
      {"text spacing 0", double(r->mTextSpacing[0]), 6},
      {"text spacing 1", double(r->mTextSpacing[1]), 4},
      {"text spacing 2", double(r->mTextSpacing[2]), 0},
      {"DECTRACKING", double(r->mDecCalibrationMode), 1},
      {"MOTSTRTTIME", double(r->mCalibrationMoveItem), 2},
      {"PIXACCURCY", double(r->mTrackAccuracy), double(0.1f)},
      {"MAXRAPIX", double(r->mMinRAMotionPixels), 30},
      {"MAXDECPIX", double(r->mMinDecMotionPixels), 10},
      {"guide gain", double(r->mGuideGain), 1.0},
      {"SATPIXCUTOFF", double(r->mSaturationCutoff), 255},
      {"BRITAREAWIDTH", double(r->mBrightnessAreaWidth), 64},
      {"BRITAREAHEIGHT", double(r->mBrightnessAreaHeight), 64},
      {"mShowTemperature", double(r->mShowTemperature), 1},
      {"colourize red", double(r->mColourizeColour.red), 65535},
      {"colourize green", double(r->mColourizeColour.green), 65535},
      {"colourize blue", double(r->mColourizeColour.blue), 65535},
      {"mExposureRateItem", double(r->mExposureRateItem), 5},
      {"mShutterValue", double(r->mShutterValue), 0x1FF},
      {"TSL frame period", double(r->mTSLFramePeriodMs), double(33.333f)},
      {"mDrawStateReset", double(r->mDrawStateReset), 1},
      {"mImageAlignMode", double(r->mImageAlignMode), 0},
      {"mRunning", double(r->mRunning), 0},
  };
  for (const DefaultRow& row : rows) EXPECT_EQ(row.actual, row.expected) << row.name;
  EXPECT_EQ(r->mCameraHandle, nullptr);
  EXPECT_EQ(r->mVideoWindow, nullptr);
  EXPECT_EQ(r->mPreviewBuffer, nullptr);
  // The colourize table is ready for white: grey level i gives (255, i, i, i).
  const UInt8* t = reinterpret_cast<const UInt8*>(r->mColourizeTable);
  EXPECT_EQ(t[200 * 4 + 0], 255);
  EXPECT_EQ(t[200 * 4 + 1], 200);
  EXPECT_EQ(t[200 * 4 + 3], 200);
  std::free(r);
}

constexpr MenuID kProcessMenuID = 3;
const OSType kProcessing[] = {
    FOUR_CHAR_CODE("HTCT"), FOUR_CHAR_CODE("STCT"), FOUR_CHAR_CODE("STAK"), FOUR_CHAR_CODE("FIMO"), FOUR_CHAR_CODE("DKMO"),
    FOUR_CHAR_CODE("FLMO"), FOUR_CHAR_CODE("FRMO"), FOUR_CHAR_CODE("EXPR"), FOUR_CHAR_CODE("PRI0"), FOUR_CHAR_CODE("PRI1"),
    FOUR_CHAR_CODE("PRI2"), FOUR_CHAR_CODE("PRI3"), FOUR_CHAR_CODE("PRBI"), FOUR_CHAR_CODE("AMSP"), FOUR_CHAR_CODE("IMAM"),
    FOUR_CHAR_CODE("BMRP"), FOUR_CHAR_CODE("BAST")};

class CameraMenusTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    DefaultScreen();
    LinkRealNib();
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
    DisposeNibReference(nib);
    camera_ = GetMenuRef(kMyCameraMenuID);
    ASSERT_NE(camera_, nullptr);
    ASSERT_NE(GetMenuRef(kMyImageAlignMenuID), nullptr);
    temperature_ = GetMenuRef(kMyCameraTemperatureMenuID);
    if (temperature_ == nullptr) {
      ASSERT_EQ(CreateNewMenu(kMyCameraTemperatureMenuID, 0, &temperature_), noErr);
      AppendMenuItemTextWithCFString(temperature_, CFSTR("Set"), 0, FOUR_CHAR_CODE("STEM"), nullptr);
      AppendMenuItemTextWithCFString(temperature_, CFSTR("Maintain"), 0, FOUR_CHAR_CODE("MTEM"), nullptr);
      AppendMenuItemTextWithCFString(temperature_, CFSTR("Show"), 0, FOUR_CHAR_CODE("DTEM"), nullptr);
      ASSERT_EQ(SetMenuItemHierarchicalMenu(camera_, kMyTemperatureItem, temperature_), noErr);
      ReleaseMenu(temperature_);
      temperature_ = GetMenuRef(kMyCameraTemperatureMenuID);
      ASSERT_NE(temperature_, nullptr);
    }
    record_ = myNewCameraWindowData();
    ASSERT_NE(record_, nullptr);
  }
  void TearDown() override {
    for (WindowRef w : skyloom::ui::Windows()) DisposeWindow(w);
    std::free(record_);
    DefaultScreen();
    UiTest::TearDown();
  }
  // The model's main screen: 1920 x 1200 with a 22-pixel menu bar.
  static void DefaultScreen() {
    skyloom::ui::SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});
  }
  WindowRef CameraWindow(MyCameraWindowDataStruct* r) {
    WindowRef w = MakeWindow("ORX_DCAM", "VideoWindow");
    if (w == nullptr) return nullptr;
    SetWRefCon(w, reinterpret_cast<SRefCon>(r));
    r->mVideoWindow = w;
    r->mHScrollBar = skyloom::ui::FindControl(w, FOUR_CHAR_CODE("CPHZ"), 0);
    r->mVScrollBar = skyloom::ui::FindControl(w, FOUR_CHAR_CODE("CPVT"), 0);
    ShowWindow(w);
    SelectWindow(w);
    return w;
  }
  static bool Checked(MenuRef m, MenuItemIndex i) {
    CharParameter mark = 0;
    GetItemMark(m, i, &mark);
    return mark != 0;
  }
  static bool CommandEnabled(OSType c) {
    MenuRef m = nullptr;
    MenuItemIndex i = 0;
    if (GetIndMenuItemWithCommandID(nullptr, c, 1, &m, &i) != noErr) return false;
    return IsMenuItemEnabled(m, i);
  }
  MenuRef camera_ = nullptr;
  MenuRef temperature_ = nullptr;
  MyCameraWindowDataStruct* record_ = nullptr;
};

// Expected state of one item: enabled, disabled or kept as it was.
enum Want { E, D, K };

struct MenuStateRow {
  const char* name;
  std::function<void(MyCameraWindowDataStruct&)> setUp;  // null: no camera window
  bool imageWindow;                                          // a non-camera window in front
  std::map<int, Want> camera;                               // menu 2 items
  Want temp1, temp2, temp3;                                 // menu 13 items
  Want hroi, sroi, mobr, pref, processing, fimo;
};

const std::map<int, Want> kNoCamera = {{1, E}, {3, D}, {4, D}, {5, D}, {6, D}, {7, D}, {8, D}, {9, D}, {10, D},
                                       {12, D}, {13, D}, {15, D}, {16, D}, {17, K}, {21, D}};

std::map<int, Want> stopped(Want t21) {
  std::map<int, Want> m = {{1, D}, {12, D}, {13, D}, {15, D}, {16, D}, {17, D}, {21, t21}};
  for (int i = 3; i <= 10; ++i) m[i] = D;
  return m;
}
std::map<int, Want> running(Want actions, Want trigger) {
  std::map<int, Want> m = {{1, D}, {12, actions}, {13, actions}, {15, actions}, {16, trigger},
                           {17, actions}, {21, D}};
  for (int i = 3; i <= 10; ++i) m[i] = E;
  return m;
}

void run(MyCameraWindowDataStruct& r) { r.mRunning = 1; }

const MenuStateRow kRows[] = {
    {"no window", nullptr, false, kNoCamera, K, K, K, D, D, D, D, E, E},
    {"image window in front", nullptr, true,
     [] {
       auto m = kNoCamera;
       m[1] = K;
       return m;
     }(),
     K, K, K, D, D, D, D, E, E},
    {"stopped, no temperature", [](MyCameraWindowDataStruct&) {}, false, stopped(D), K, K, K, D, D, D, E, E, E},
    {"stopped, mode only", [](MyCameraWindowDataStruct& r) { r.mTemperatureMode = 1; }, false, stopped(E), D, D, E,
     D, D, D, E, E, E},
    {"stopped, settable only", [](MyCameraWindowDataStruct& r) { r.mTemperatureSettable = 1; }, false, stopped(E),
     E, E, D, D, D, D, E, E, E},
    {"stopped, both, region-adjustable size",
     [](MyCameraWindowDataStruct& r) {
       r.mTemperatureMode = 2;
       r.mTemperatureSettable = 1;
       r.mVideoSizeCount = 2;
       r.mVideoSizeIndex = 1;
       r.mVideoSizes[1].mRegionAllowed = 1;
     },
     false, stopped(E), E, E, E, E, D, D, E, E, E},
    {"running idle", run, false, running(E, E), K, K, K, D, E, E, K, E, K},
    {"running while grabbing",
     [](MyCameraWindowDataStruct& r) {
       run(r);
       r.mGrabPending = 1;
     },
     false, running(D, D), K, K, K, D, D, D, K, E, K},
    {"running while recording",
     [](MyCameraWindowDataStruct& r) {
       run(r);
       r.mRecording = 1;
     },
     false, running(D, D), K, K, K, D, D, D, K, E, K},
    {"running while guiding",
     [](MyCameraWindowDataStruct& r) {
       run(r);
       r.mScopeControlOpen = 1;
     },
     false, running(D, D), K, K, K, D, D, D, K, E, K},
    {"running idle with soft long exposure",
     [](MyCameraWindowDataStruct& r) {
       run(r);
       r.mSoftLongExposure = 1;
       r.mLongExposure = 1;
     },
     false, running(E, D), K, K, K, D, E, E, K, E, K},
};

TEST_F(CameraMenusTest, EnablingFollowsTheFrontCamera) {
  for (const MenuStateRow& row : kRows) {
    for (bool preset : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (preset ? ", all enabled before" : ", all disabled before"));
      for (WindowRef w : skyloom::ui::Windows()) DisposeWindow(w);
      std::free(record_);
      record_ = myNewCameraWindowData();
      ASSERT_NE(record_, nullptr);
      for (MenuID id : {kMyCameraMenuID, kMyCameraTemperatureMenuID, kProcessMenuID}) {
        MenuRef m = GetMenuRef(id);
        ASSERT_NE(m, nullptr);
        for (MenuItemIndex i = 1; i <= CountMenuItems(m); ++i) preset ? EnableMenuItem(m, i) : DisableMenuItem(m, i);
      }
      UInt32 imageKind = 0xAD;
      if (row.imageWindow) {
        WindowRef w = MakeWindow("ORX_DCAM", "VideoWindow");
        ASSERT_NE(w, nullptr);
        SetWRefCon(w, reinterpret_cast<SRefCon>(&imageKind));
        ShowWindow(w);
        SelectWindow(w);
      }
      if (row.setUp) {
        ASSERT_NE(CameraWindow(record_), nullptr);
        row.setUp(*record_);
      }
      EXPECT_EQ(myMenuEventHandler(nullptr, nullptr, nullptr), noErr);
      auto expect = [&](bool actual, Want want, const std::string& what) {
        if (want == K)
          EXPECT_EQ(actual, preset) << what << " should keep its state";
        else
          EXPECT_EQ(actual, want == E) << what;
      };
      for (auto [item, want] : row.camera)
        expect(IsMenuItemEnabled(camera_, MenuItemIndex(item)), want, "menu 2 item " + std::to_string(item));
      expect(IsMenuItemEnabled(temperature_, 1), row.temp1, "menu 13 item 1");
      expect(IsMenuItemEnabled(temperature_, 2), row.temp2, "menu 13 item 2");
      expect(IsMenuItemEnabled(temperature_, 3), row.temp3, "menu 13 item 3");
      expect(CommandEnabled(FOUR_CHAR_CODE("HROI")), row.hroi, "HROI");
      expect(CommandEnabled(FOUR_CHAR_CODE("SROI")), row.sroi, "SROI");
      expect(CommandEnabled(FOUR_CHAR_CODE("MOBR")), row.mobr, "MOBR");
      expect(CommandEnabled(FOUR_CHAR_CODE("pref")), row.pref, "pref");
      for (OSType c : kProcessing) {
        const char name[5] = {char(c >> 24), char(c >> 16), char(c >> 8), char(c), 0};
        expect(CommandEnabled(c), c == FOUR_CHAR_CODE("FIMO") ? row.fimo : row.processing, name);
      }
    }
  }
}

// A window whose reference constant is not a camera record: no handler
// touches the record, the marks or the window.
class KindGuardTest : public CameraMenusTest, public ::testing::WithParamInterface<std::tuple<int, UInt32>> {};

TEST_P(KindGuardTest, OtherKindsAreIgnored) {
  const auto [which, kind] = GetParam();
  WindowRef w = CameraWindow(record_);
  ASSERT_NE(w, nullptr);
  record_->mWidth = 640;
  record_->mHeight = 480;
  record_->mRunning = 1;
  record_->mKind = kind;
  std::vector<unsigned char> before(sizeof *record_);
  std::memcpy(before.data(), record_, sizeof *record_);
  Rect bounds{};
  GetWindowBounds(w, kWindowContentRgn, &bounds);
  MenuRef align = GetMenuRef(kMyImageAlignMenuID);
  EnableMenuItem(camera_, kMyOpenCameraItem);
  switch (which) {
    case 0:
      myMenuEventHandler(nullptr, nullptr, nullptr);
      EXPECT_TRUE(IsMenuItemEnabled(camera_, kMyOpenCameraItem));  // a window is in front: kept
      EXPECT_FALSE(IsMenuItemEnabled(camera_, 3));                 // no camera: zoom off
      break;
    case 1:
      myChangeZoomMenuItem(w, 7);
      break;
    case 2:
      myChangeImageAlignMenuItem(w, 2);
      break;
  }
  EXPECT_EQ(std::memcmp(before.data(), record_, sizeof *record_), 0);
  EXPECT_TRUE(Checked(camera_, 6));
  EXPECT_FALSE(Checked(camera_, 7));
  EXPECT_TRUE(Checked(align, 1));
  EXPECT_FALSE(Checked(align, 3));
  Rect after{};
  GetWindowBounds(w, kWindowContentRgn, &after);
  EXPECT_EQ(after.right - after.left, bounds.right - bounds.left);
  EXPECT_EQ(after.bottom - after.top, bounds.bottom - bounds.top);
}

INSTANTIATE_TEST_SUITE_P(MenuZoomAlign, KindGuardTest,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values(0xADu, 0u)));

class ZoomTest : public CameraMenusTest {
 protected:
  WindowRef Start(UInt32 w, UInt32 h) {
    record_->mWidth = w;
    record_->mHeight = h;
    record_->mRunning = 1;
    return CameraWindow(record_);
  }
  static Rect Content(WindowRef w) {
    Rect r{};
    GetWindowBounds(w, kWindowContentRgn, &r);
    return r;
  }
};

TEST_F(ZoomTest, FitToScreenUsesTheSmallerRatio) {
  skyloom::ui::SetScreenBounds(Rect{0, 0, 822, 1280}, Rect{22, 0, 822, 1280});
  WindowRef w = Start(640, 480);
  ASSERT_NE(w, nullptr);
  record_->mTextOrigin = Point{1, 2};
  myChangeZoomMenuItem(w, 10);
  EXPECT_FLOAT_EQ(record_->mZoomScale, 1.6f);
  EXPECT_EQ(record_->mZoomItem, 10);
  EXPECT_TRUE(Checked(camera_, 10));
  EXPECT_FALSE(Checked(camera_, 6));
  EXPECT_EQ(record_->mPreviewRect.right, 1024);
  EXPECT_EQ(record_->mPreviewRect.bottom, 768);
  EXPECT_EQ(record_->mTextOrigin.h, 10);
  EXPECT_EQ(record_->mTextOrigin.v, 40);
}

TEST_F(ZoomTest, DefaultScreenLimitsTheWindow) {
  WindowRef w = Start(1280, 960);
  ASSERT_NE(w, nullptr);
  myChangeZoomMenuItem(w, 10);
  EXPECT_FLOAT_EQ(record_->mZoomScale, 1.19375f);
  myChangeZoomMenuItem(w, 7);
  EXPECT_FLOAT_EQ(record_->mZoomScale, 2.0f);
  EXPECT_TRUE(Checked(camera_, 7));
  EXPECT_FALSE(Checked(camera_, 10));
  const Rect c = Content(w);
  EXPECT_EQ(c.right - c.left, 1920);
  EXPECT_EQ(c.bottom - c.top, 1146);
  EXPECT_TRUE(record_->mHScrollShown);
  EXPECT_TRUE(record_->mVScrollShown);
}

TEST_F(ZoomTest, ScrollOffsetScalesWithTheFactor) {
  WindowRef w = Start(4000, 3000);
  ASSERT_NE(w, nullptr);
  myChangeZoomMenuItem(w, 7);  // 2x
  record_->mScrollOffset = Point{100, 200};
  myChangeZoomMenuItem(w, 4);  // 0.5x
  EXPECT_EQ(record_->mScrollOffset.v, 25);
  EXPECT_EQ(record_->mScrollOffset.h, 50);
  EXPECT_EQ(record_->mPreviewRect.right, 2000);
  EXPECT_EQ(record_->mPreviewRect.bottom, 1500);
}

TEST_F(ZoomTest, WideFramesSaturateAtEightTimes) {
  WindowRef w = Start(4100, 3000);
  ASSERT_NE(w, nullptr);
  myChangeZoomMenuItem(w, 9);
  EXPECT_EQ(record_->mPreviewRect.right, 32767);
  EXPECT_EQ(record_->mPreviewRect.bottom, 24000);
}

TEST_F(ZoomTest, SmallerImageShrinksTheWindow) {
  WindowRef w = Start(640, 480);
  ASSERT_NE(w, nullptr);
  myChangeZoomMenuItem(w, 4);
  const Rect c = Content(w);
  EXPECT_EQ(c.right - c.left, 320);
  EXPECT_EQ(c.bottom - c.top, 240);
}

TEST_F(ZoomTest, NoPositioningAreaKeepsTheWindow) {
  WindowRef w = Start(640, 480);
  ASSERT_NE(w, nullptr);
  const Rect before = Content(w);
  skyloom::ui::InjectFailure("GetAvailableWindowPositioningBounds", paramErr, 10);
  myChangeZoomMenuItem(w, 10);
  skyloom::ui::InjectFailure("GetAvailableWindowPositioningBounds", paramErr, 0);
  EXPECT_FLOAT_EQ(record_->mZoomScale, 1.0f);
  EXPECT_TRUE(Checked(camera_, 10));
  const Rect after = Content(w);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
}

TEST_F(CameraMenusTest, AlignmentMarkFollowsTheMode) {
  WindowRef w = CameraWindow(record_);
  ASSERT_NE(w, nullptr);
  MenuRef align = GetMenuRef(kMyImageAlignMenuID);
  ASSERT_TRUE(Checked(align, 1));
  myChangeImageAlignMenuItem(w, 2);
  EXPECT_EQ(record_->mImageAlignMode, 2u);
  EXPECT_FALSE(Checked(align, 1));
  EXPECT_FALSE(Checked(align, 2));
  EXPECT_TRUE(Checked(align, 3));
  myChangeImageAlignMenuItem(w, 1);
  EXPECT_TRUE(Checked(align, 2));
  EXPECT_FALSE(Checked(align, 3));
}

}  // namespace
