#include "app/CameraMenus.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/PreviewDrawing.h"
#include "platform/coreservices/CoreServices.h"
#include "stacking/AlignAndStack.h"

namespace {

constexpr OSType kProcessingCommands[] = {
    FOUR_CHAR_CODE("HTCT"), FOUR_CHAR_CODE("STCT"), FOUR_CHAR_CODE("STAK"), FOUR_CHAR_CODE("FIMO"), FOUR_CHAR_CODE("DKMO"),
    FOUR_CHAR_CODE("FLMO"), FOUR_CHAR_CODE("FRMO"), FOUR_CHAR_CODE("EXPR"), FOUR_CHAR_CODE("PRI0"), FOUR_CHAR_CODE("PRI1"),
    FOUR_CHAR_CODE("PRI2"), FOUR_CHAR_CODE("PRI3"), FOUR_CHAR_CODE("PRBI"), FOUR_CHAR_CODE("AMSP"), FOUR_CHAR_CODE("IMAM"),
    FOUR_CHAR_CODE("BMRP"), FOUR_CHAR_CODE("BAST")};

// The record a window carries, or null when its reference constant is not a
// camera record.
MyCameraWindowDataStruct* cameraRecordOf(WindowRef window) {
  if (window == nullptr) return nullptr;
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(window));
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return nullptr;
  return r;
}

void setItem(MenuRef menu, MenuItemIndex item, bool enabled) {
  if (menu == nullptr) return;
  if (enabled)
    EnableMenuItem(menu, item);
  else
    DisableMenuItem(menu, item);
}

void setCommand(OSType command, bool enabled) {
  if (enabled)
    EnableMenuCommand(nullptr, command);
  else
    DisableMenuCommand(nullptr, command);
}

void setItems(MenuRef menu, std::initializer_list<MenuItemIndex> items, bool enabled) {
  for (MenuItemIndex i : items) setItem(menu, i, enabled);
}

void setZoomItems(MenuRef menu, bool enabled) {
  for (MenuItemIndex i = kMyFirstZoomItem; i <= kMyLastZoomItem; ++i) setItem(menu, i, enabled);
}

void enableProcessing(bool includingFIMO) {
  for (OSType c : kProcessingCommands) {
    if (!includingFIMO && c == FOUR_CHAR_CODE("FIMO")) continue;
    // A second stacking run beside a live one would rewrite the files the
    // first is writing: "STAK" stays as the run left it.
    if (c == FOUR_CHAR_CODE("STAK") && myMovieStackingRunIsAlive()) continue;
    EnableMenuCommand(nullptr, c);
  }
}

SInt16 clampS16(double v) {
  if (!(v == v)) return 0;
  return SInt16(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

}  // namespace

MyCameraWindowDataStruct* myNewCameraWindowData() {
  // NewPtr is malloc underneath (free() releases it); tests can make it fail.
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(NewPtr(sizeof(MyCameraWindowDataStruct)));
  if (r == nullptr) return nullptr;
  std::memset(static_cast<void*>(r), 0, sizeof *r);
  r->mKind = kMyCameraWindowDataKind;
  r->mBitsPerPixel = 8;
  r->mFrameRate = 30.0;
  r->mDisplayFormatItem = 2;
  r->mFileNaming = 1;
  r->mZoomScale = 1.0f;
  r->mZoomItem = 6;  // the 1x item, matching the scale
  r->mZoomX = 320;
  r->mZoomY = 240;
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  r->mMovieFrameItem = 19;
  r->mRecordRateScale = 1.0;
  r->mHotPixelThreshold = 23;
  r->mSkipSharpnessPercent = 10.0;
  r->mSharpFrameCount = 1;
  r->mDarkFrameCount = 1;
  r->mFlatFrameCount = 1;
  r->mBalanceColour = RGBColor{65535, 65535, 65535};
  r->mVideoWindowPos = Point{60, 4};
  r->mControlWindowPos = Point{60, 4};
  r->mControlWindowHeight = 566;
  r->mCaptureLogOn = 1;
  r->mHelpOption = 1;
  r->mOpenFrameAfterSave = 1;
  r->mOpenMovieAfterSave = 1;
  r->mAverageFrameCount = 1;
  r->mSumFrameCount = 1;
  r->mTextOrigin.h = 10;
  r->mTextOrigin.v = 40;
  r->mTextSpacing[0] = 6;
  r->mTextSpacing[1] = 4;
  r->mTextSpacing[2] = 0;
  r->mDecCalibrationMode = 1;
  r->mCalibrationMoveItem = 2;
  r->mTrackAccuracy = 0.1f;
  r->mMinRAMotionPixels = 30;
  r->mMinDecMotionPixels = 10;
  r->mGuideGain = 1.0f;
  r->mGuideFrameStep = 1;
  r->mFramesToAverage = 1;
  r->mSaturationCutoff = 255;
  r->mBrightnessAreaWidth = 64;
  r->mBrightnessAreaHeight = 64;
  r->mBrightnessSampleStep = 1;
  r->mShowTemperature = 1;
  r->mColourizeColour = RGBColor{65535, 65535, 65535};
  myFillInCourizedARGB32Table(r->mColourizeTable, r->mColourizeColour);
  r->mExposureRateItem = 5;
  r->mShutterValue = 0x1FF;
  r->mTSLFramePeriodMs = 33.333f;
  r->mDrawStateReset = 1;
  return r;
}

OSStatus myMenuEventHandler(EventHandlerCallRef, EventRef, void*) {
  MenuRef camera = GetMenuRef(kMyCameraMenuID);
  WindowRef front = FrontNonFloatingWindow();
  MyCameraWindowDataStruct* r = cameraRecordOf(front);

  if (r == nullptr) {
    if (front == nullptr) setItem(camera, kMyOpenCameraItem, true);
    setZoomItems(camera, false);
    setItems(camera,
             {kMyCameraActionItem1, kMyCameraActionItem2, kMyImageAlignItem, kMyCameraTriggerItem,
              kMyTemperatureItem},
             false);
    for (OSType c : {FOUR_CHAR_CODE("HROI"), FOUR_CHAR_CODE("SROI"), FOUR_CHAR_CODE("MOBR"), FOUR_CHAR_CODE("pref")})
      setCommand(c, false);
    enableProcessing(true);
    return noErr;
  }

  setItem(camera, kMyOpenCameraItem, false);
  if (r->mTemperatureMode == 0 && r->mTemperatureSettable == 0) {
    setItem(camera, kMyTemperatureItem, false);
  } else {
    setItem(camera, kMyTemperatureItem, true);
    MenuRef temperature = GetMenuRef(kMyCameraTemperatureMenuID);
    setItems(temperature, {1, 2}, r->mTemperatureSettable != 0);
    setItem(temperature, 3, r->mTemperatureMode != 0);
  }

  const bool running = r->mVideoWindow != nullptr &&
                       std::atomic_ref<UInt8>(r->mRunning).load(std::memory_order_relaxed) == 1;
  if (!running) {
    bool regionAdjustable = false;
    if (r->mVideoSizeIndex < kMyMaxVideoSizes && r->mVideoSizeIndex < r->mVideoSizeCount)
      regionAdjustable = r->mVideoSizes[r->mVideoSizeIndex].mRegionAllowed == 1;
    setCommand(FOUR_CHAR_CODE("HROI"), regionAdjustable);
    setCommand(FOUR_CHAR_CODE("SROI"), false);
    setZoomItems(camera, false);
    setItems(camera,
             {kMyCameraActionItem1, kMyCameraActionItem2, kMyImageAlignItem, kMyCameraTriggerItem,
              kMyCameraSettingsItem},
             false);
    setCommand(FOUR_CHAR_CODE("MOBR"), false);
    setCommand(FOUR_CHAR_CODE("pref"), true);
    enableProcessing(true);
    return noErr;
  }

  setCommand(FOUR_CHAR_CODE("HROI"), false);
  setCommand(FOUR_CHAR_CODE("MOBR"), false);
  setZoomItems(camera, true);
  // A grab is busy from its request until it completes.
  const bool busy = std::atomic_ref<SInt32>(r->mGrabPending).load(std::memory_order_acquire) != 0 ||
                    std::atomic_ref<UInt8>(r->mRecording).load(std::memory_order_relaxed) == 1 ||
                    r->mScopeControlOpen == 1;
  if (busy) {
    setItems(camera,
             {kMyCameraActionItem1, kMyCameraActionItem2, kMyCameraTriggerItem, kMyImageAlignItem,
              kMyCameraSettingsItem},
             false);
    setCommand(FOUR_CHAR_CODE("SROI"), false);
  } else {
    setItems(camera, {kMyCameraActionItem1, kMyCameraActionItem2}, true);
    setItem(camera, kMyCameraTriggerItem,
            !(r->mSoftLongExposure != 0 &&
              std::atomic_ref<UInt32>(r->mLongExposure).load(std::memory_order_relaxed) != 0));
    setItems(camera, {kMyImageAlignItem, kMyCameraSettingsItem}, true);
    setCommand(FOUR_CHAR_CODE("MOBR"), true);
    setCommand(FOUR_CHAR_CODE("SROI"), true);
  }
  enableProcessing(false);
  return noErr;
}

void myChangeZoomMenuItem(WindowRef window, SInt16 item) {
  MyCameraWindowDataStruct* r = cameraRecordOf(window);
  if (r == nullptr) return;
  MenuRef camera = GetMenuRef(kMyCameraMenuID);
  if (camera != nullptr) {
    if (r->mZoomItem > 0) CheckMenuItem(camera, MenuItemIndex(r->mZoomItem), false);
    if (item > 0) CheckMenuItem(camera, MenuItemIndex(item), true);
  }
  const float oldScale = myZoomMenuToScaleValue(r, r->mZoomItem);
  r->mZoomScale = oldScale;
  const float newScale = myZoomMenuToScaleValue(r, item);
  r->mZoomItem = item;

  if (oldScale > 0.0f) {
    const float ratio = newScale / oldScale;
    r->mScrollOffset.v = clampS16(double(float(r->mScrollOffset.v) * ratio));
    r->mScrollOffset.h = clampS16(double(float(r->mScrollOffset.h) * ratio));
  }
  // Products beyond the 16-bit range saturate (8x on a very wide frame).
  const SInt16 zoomedW = clampS16(double(newScale) * double(r->mWidth));
  const SInt16 zoomedH = clampS16(double(newScale) * double(r->mHeight));
  r->mPreviewRect = Rect{0, 0, zoomedH, zoomedW};

  WindowRef video = r->mVideoWindow != nullptr ? r->mVideoWindow : window;
  Rect content{};
  Rect area{};
  if (GetWindowBounds(video, kWindowContentRgn, &content) == noErr &&
      GetAvailableWindowPositioningBounds(GetMainDevice(), &area) == noErr) {
    const SInt32 contentW = content.right - content.left, contentH = content.bottom - content.top;
    SInt32 w = zoomedW, h = zoomedH;
    if (!(zoomedW < contentW || zoomedH < contentH)) {
      const SInt32 areaW = area.right - area.left, areaH = area.bottom - area.top;
      if (areaW < zoomedW || areaH < zoomedH) {
        w = areaW;
        h = areaH - 32;
      }
    }
    if (w > 0 && h > 0) SizeWindow(video, short(w), short(h), true);
  }

  r->mZoomScale = newScale;
  r->mTextOrigin.h = 10;
  r->mTextOrigin.v = 40;
  myReSizePreviewWindowControls(video);
}

void myChangeImageAlignMenuItem(WindowRef window, UInt32 mode) {
  MyCameraWindowDataStruct* r = cameraRecordOf(window);
  if (r == nullptr) return;
  MenuRef align = GetMenuRef(kMyImageAlignMenuID);
  if (align != nullptr) CheckMenuItem(align, MenuItemIndex(r->mImageAlignMode + 1), false);
  r->mImageAlignMode = mode;
  if (align != nullptr) CheckMenuItem(align, MenuItemIndex(mode + 1), true);
}
