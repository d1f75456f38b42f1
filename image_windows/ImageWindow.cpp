#include "image_windows/ImageWindow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image_windows/ImageControlWindow.h"
#include "image_windows/ImageProcessingPrefs.h"
#include "image_windows/RenderPipeline.h"
#include "image_windows/StarClick.h"
#include "photometry/SexagesimalText.h"
#include "pixel/RowBands.h"
#include "pixel/Sharpen16.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/Controls.h"
#include "utilities/EditText.h"
#include "utilities/FileDialogs.h"
#include "utilities/LowLevel.h"

namespace {

constexpr OSType kHorzBar = FOUR_CHAR_CODE("CPHZ");
constexpr OSType kVertBar = FOUR_CHAR_CODE("CPVT");
constexpr OSType kSliders[kImageWindowLevelCount] = {
    FOUR_CHAR_CODE("SHR1"), FOUR_CHAR_CODE("SHR2"), FOUR_CHAR_CODE("SHR3"), FOUR_CHAR_CODE("SHR4"),
    FOUR_CHAR_CODE("SHR5"), FOUR_CHAR_CODE("SHR6"), FOUR_CHAR_CODE("SHR7")};
constexpr OSType kOffsetPopUps[6] = {FOUR_CHAR_CODE("RDHZ"), FOUR_CHAR_CODE("RDVT"), FOUR_CHAR_CODE("BLHZ"),
                                     FOUR_CHAR_CODE("BLVT"), FOUR_CHAR_CODE("GRHZ"), FOUR_CHAR_CODE("GRVT")};
constexpr OSType kPhotometryText = FOUR_CHAR_CODE("TXSP");
constexpr SInt16 kWindowTop = 40, kWindowLeft = 370;
constexpr SInt32 kScrollStep = 5;
constexpr SInt32 kMenuBarGap = 32;  // room kept above the window for its title bar

// The numeric edit fields of the control window.
enum class Kind { kFloat, kUnsigned, kThreshold };
struct EditField {
  OSType signature;
  Kind kind;
  UInt32 decimals;
  float min, max;  // floats; the whole-number fields use 0 .. 65535 and the cross-limits
  UInt32 arrowStep;  // setting units per arrow step of a whole-number field
};
constexpr EditField kFields[] = {
    {FOUR_CHAR_CODE("CURV"), Kind::kFloat, 2, 0.01f, 5.0f, 0},
    {FOUR_CHAR_CODE("CURC"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("SRED"), Kind::kFloat, 3, 0.01f, 10.0f, 0},
    {FOUR_CHAR_CODE("SGRN"), Kind::kFloat, 3, 0.01f, 10.0f, 0},
    {FOUR_CHAR_CODE("SBLU"), Kind::kFloat, 3, 0.01f, 10.0f, 0},
    {FOUR_CHAR_CODE("SATR"), Kind::kFloat, 2, -1.0f, 7.0f, 0},
    {FOUR_CHAR_CODE("MIRD"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("MXRD"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("MIGN"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("MXGN"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("MIBL"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("MXBL"), Kind::kUnsigned, 0, 0, 65535, 100},
    {FOUR_CHAR_CODE("STHR"), Kind::kThreshold, 0, 0, 65535, 10},
    {FOUR_CHAR_CODE("STHX"), Kind::kThreshold, 0, 0, 65535, 10},
};

const EditField* findField(OSType signature) {
  for (const EditField& f : kFields)
    if (f.signature == signature) return &f;
  return nullptr;
}

// The record's field behind an edit field.
void* settingOf(MyImageWindowDataStruct* r, OSType signature) {
  switch (signature) {
    case FOUR_CHAR_CODE("CURV"): return &r->mCurve;
    case FOUR_CHAR_CODE("CURC"): return &r->mCurveCutoff;
    case FOUR_CHAR_CODE("SRED"): return &r->mRedBalance;
    case FOUR_CHAR_CODE("SGRN"): return &r->mGreenBalance;
    case FOUR_CHAR_CODE("SBLU"): return &r->mBlueBalance;
    case FOUR_CHAR_CODE("SATR"): return &r->mSaturation;
    case FOUR_CHAR_CODE("MIRD"): return &r->mMinRed;
    case FOUR_CHAR_CODE("MXRD"): return &r->mMaxRed;
    case FOUR_CHAR_CODE("MIGN"): return &r->mMinGreen;
    case FOUR_CHAR_CODE("MXGN"): return &r->mMaxGreen;
    case FOUR_CHAR_CODE("MIBL"): return &r->mMinBlue;
    case FOUR_CHAR_CODE("MXBL"): return &r->mMaxBlue;
    case FOUR_CHAR_CODE("STHR"): return &r->mMinSharpenThreshold;
    case FOUR_CHAR_CODE("STHX"): return &r->mMaxSharpenThreshold;
  }
  return nullptr;
}

// A channel's minimum and maximum limit each other.
void crossLimits(const MyImageWindowDataStruct* r, OSType signature, UInt32* min, UInt32* max) {
  *min = 0;
  *max = 65535;
  switch (signature) {
    case FOUR_CHAR_CODE("MIRD"): *max = r->mMaxRed; break;
    case FOUR_CHAR_CODE("MXRD"): *min = r->mMinRed; break;
    case FOUR_CHAR_CODE("MIGN"): *max = r->mMaxGreen; break;
    case FOUR_CHAR_CODE("MXGN"): *min = r->mMinGreen; break;
    case FOUR_CHAR_CODE("MIBL"): *max = r->mMaxBlue; break;
    case FOUR_CHAR_CODE("MXBL"): *min = r->mMinBlue; break;
  }
}

UInt32 wholeSetting(const EditField& f, void* p) {
  return f.kind == Kind::kUnsigned ? *static_cast<UInt32*>(p) : UInt32(std::max(0, *static_cast<SInt32*>(p)));
}

SInt32 arrowValueOf(const EditField& f, void* p) {
  if (f.kind == Kind::kFloat) return SInt32(*static_cast<Float32*>(p) * 100.0f);
  return SInt32(wholeSetting(f, p) / f.arrowStep);
}

void fieldText(const EditField& f, void* p, char* out, size_t size) {
  if (f.kind == Kind::kFloat)
    myFormatEditTextValue(*static_cast<Float32*>(p), f.decimals, out, size);
  else
    snprintf(out, size, "%u", unsigned(wholeSetting(f, p)));
}

MyImageWindowDataStruct* recordOfWindow(WindowRef w) {
  if (w == nullptr) return nullptr;
  auto* r = reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w));
  return r != nullptr && r->mRecordTag == kImageWindowRecordTag ? r : nullptr;
}

MyImageWindowDataStruct* recordOfControl(ControlRef c) {
  if (c == nullptr) return nullptr;
  auto* r = reinterpret_cast<MyImageWindowDataStruct*>(GetControlReference(c));
  return r != nullptr && r->mRecordTag == kImageWindowRecordTag ? r : nullptr;
}

ControlRef findControl(WindowRef w, OSType signature, SInt32 id) {
  const ControlID cid{signature, id};
  ControlRef c = nullptr;
  return w != nullptr && GetControlByID(w, &cid, &c) == noErr ? c : nullptr;
}

void redraw(MyImageWindowDataStruct* r) {
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  InvalWindowRect(r->mImageWindow, &port);
  BeginUpdate(r->mImageWindow);
  myDrawImageWindow(r);
  EndUpdate(r->mImageWindow);
}

void removeHandler(EventHandlerRef* ref, EventHandlerUPP* upp) {
  if (*upp == nullptr) return;
  if (*ref != nullptr) RemoveEventHandler(*ref);
  DisposeEventHandlerUPP(*upp);
  *ref = nullptr;
  *upp = nullptr;
}

// Everything creation or disposal takes down, in the order disposal does it;
// the caller's buffers are freed only when freeSources is set.
void takeDown(MyImageWindowDataStruct* r, bool freeSources) {
  removeHandler(&r->mPhotometryWindowHandlerRef, &r->mPhotometryWindowHandlerUPP);
  removeHandler(&r->mControlWindowHandlerRef, &r->mControlWindowHandlerUPP);
  removeHandler(&r->mImageWindowHandlerRef, &r->mImageWindowHandlerUPP);
  DisposeControlActionUPP(r->mSliderActionUPP);
  DisposeControlActionUPP(r->mArrowActionUPP);
  DisposeControlActionUPP(r->mScrollActionUPP);
  DisposeControlKeyFilterUPP(r->mKeyFilterUPP);
  r->mSliderActionUPP = r->mArrowActionUPP = r->mScrollActionUPP = nullptr;
  r->mKeyFilterUPP = nullptr;
  if (!freeSources) r->mSourceRGB48 = r->mSourceLRGB64 = r->mSourceLuma16 = nullptr;
  mydumpAllocatedBuffers(r);
  if (r->mWindowGroup != nullptr) ReleaseWindowGroup(r->mWindowGroup);
  r->mWindowGroup = nullptr;
  for (WindowRef* w : {&r->mPhotometryWindow, &r->mControlWindow, &r->mImageWindow}) {
    if (*w == nullptr) continue;
    HideWindow(*w);
    DisposeWindow(*w);
    *w = nullptr;
  }
  r->mRecordTag = 0;
  SetThemeCursor(kThemeArrowCursor);
  std::free(r);
}

void setUpPopUp(WindowRef w, OSType signature, SInt32 item) {
  myChangePopMenuControl(w, signature, 1, 0, -1);
  myChangePopMenuControl(w, signature, item, 0, 1);
}

// The controls of the control window from the record's settings.
void setUpControls(MyImageWindowDataStruct* r) {
  WindowRef w = r->mControlWindow;
  for (int k = 0; k < kImageWindowLevelCount; ++k) {
    ControlRef slider = findControl(w, kSliders[k], 0);
    if (slider == nullptr) continue;
    mySetUpControlSlider(slider, 1, 211, SInt32(r->mSharpAmount[k]), SRefCon(r), r->mSliderActionUPP);
    myLiveSharpnessSliderProc(slider, 0);
  }
  for (const EditField& f : kFields) {
    void* p = settingOf(r, f.signature);
    char text[64];
    fieldText(f, p, text, sizeof text);
    mySetUpKeyFilterEditTextField(w, f.signature, 0, text, r->mKeyFilterUPP, SRefCon(r));
    mySetUpLiveArrowControl(w, f.signature, 1, arrowValueOf(f, p), r->mArrowActionUPP, SRefCon(r));
  }
  myCheckUncheckControl(w, FOUR_CHAR_CODE("CRGB"), 0, 1, r->mLRGBMode == 0);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("CLUM"), 0, 1, r->mLRGBMode == 1);
  setUpPopUp(w, FOUR_CHAR_CODE("NOIS"), SInt32(r->mNoiseReduction));
  if (r->mGreenOffsetsLocked) r->mGreenHorzOffset = r->mGreenVertOffset = 0;
  const SInt32 offsets[6] = {r->mRedHorzOffset,  r->mRedVertOffset,   r->mBlueHorzOffset,
                             r->mBlueVertOffset, r->mGreenHorzOffset, r->mGreenVertOffset};
  for (int i = 0; i < 6; ++i) setUpPopUp(w, kOffsetPopUps[i], 9 - offsets[i]);
  if (r->mGreenOffsetsLocked) {
    myEnableDisableControl(w, FOUR_CHAR_CODE("GRHZ"), 0, 0);
    myEnableDisableControl(w, FOUR_CHAR_CODE("GRVT"), 0, 0);
  }
  myCheckUncheckControl(w, FOUR_CHAR_CODE("SBCG"), 0, 1, r->mSharpenSmooth);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("PREV"), 0, 1, r->mPreview);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("M16T"), 0, 1, r->mSave16Bit);
}

// Size and place the image window on the main screen's available area.
void placeImageWindow(MyImageWindowDataStruct* r) {
  Rect b;
  SInt32 left = r->mWindowLeft, top = r->mWindowTop;
  SInt32 width = SInt32(std::min<UInt32>(r->mWidth, 32767));
  SInt32 height = SInt32(std::min<UInt32>(r->mHeight, 32767));
  if (GetAvailableWindowPositioningBounds(GetMainDevice(), &b) == noErr) {
    if (left < b.left || left > b.right) left = b.left;
    if (top < b.top + kMenuBarGap || top > b.bottom)
      top = b.top + kMenuBarGap < b.bottom ? b.top + kMenuBarGap : b.top;
    if (left + width > b.right) width = b.right - left;
    if (height > b.bottom - top - kMenuBarGap) height = b.bottom - top - kMenuBarGap;
    width = std::max<SInt32>(width, 1);
    height = std::max<SInt32>(height, 1);
  }
  r->mWindowLeft = SInt16(left);
  r->mWindowTop = SInt16(top);
  SizeWindow(r->mImageWindow, short(width), short(height), true);
  myReSizeImageWindowControls(r->mImageWindow);
  MoveWindow(r->mImageWindow, short(left), short(top), true);
}

OSStatus createWindows(MyImageWindowDataStruct* r) {
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) return err;
  err = CreateWindowFromNib(nib, CFSTR("ImageWindow"), &r->mImageWindow);
  if (err == noErr) err = CreateWindowFromNib(nib, CFSTR("ImageControls"), &r->mControlWindow);
  if (err == noErr) err = CreateWindowFromNib(nib, CFSTR("PhotometryWindow"), &r->mPhotometryWindow);
  DisposeNibReference(nib);
  return err;
}

OSStatus installImageWindowHandler(MyImageWindowDataStruct* r) {
  static const EventTypeSpec kEvents[] = {
      {kEventClassWindow, kEventWindowUpdate},          {kEventClassWindow, kEventWindowDrawContent},
      {kEventClassWindow, kEventWindowBoundsChanged},   {kEventClassWindow, kEventWindowBoundsChanging},
      {kEventClassWindow, kEventWindowGetMinimumSize},  {kEventClassWindow, kEventWindowGetMaximumSize},
      {kEventClassMouse, kEventMouseMoved},             {kEventClassWindow, kEventWindowClose},
      {kEventClassWindow, kEventWindowHandleContentClick}};
  r->mImageWindowTarget = GetWindowEventTarget(r->mImageWindow);
  r->mImageWindowHandlerUPP = NewEventHandlerUPP(myImageWindowEventHandler);
  return InstallEventHandler(r->mImageWindowTarget, r->mImageWindowHandlerUPP,
                             sizeof kEvents / sizeof kEvents[0], kEvents, r, &r->mImageWindowHandlerRef);
}

OSStatus makeWindow(MyImageWindowDataStruct* r) {
  OSStatus err = myAllocateImageWindowPlanes(r);
  if (err != noErr) return err;
  myBuildBlurCascade(r);
  r->mKeyFilterUPP = NewControlKeyFilterUPP(myImageDataKeyProc);
  mySetImageWindowDefaultSettings(r);
  myReadWriteImageProcessingPrefs(r, 1);
  if ((err = createWindows(r)) != noErr) return err;
  SetWRefCon(r->mImageWindow, SRefCon(r));
  SetWRefCon(r->mControlWindow, SRefCon(r));
  SetWRefCon(r->mPhotometryWindow, SRefCon(r));

  if ((err = installImageWindowHandler(r)) != noErr) return err;
  r->mWindowTop = kWindowTop;
  r->mWindowLeft = kWindowLeft;
  r->mScrollV = r->mScrollH = 0;
  r->mHorzBarShown = r->mVertBarShown = 0;
  r->mVertScrollBar = findControl(r->mImageWindow, kVertBar, 0);
  if (r->mVertScrollBar) HideControl(r->mVertScrollBar);
  r->mHorzScrollBar = findControl(r->mImageWindow, kHorzBar, 0);
  if (r->mHorzScrollBar) {
    Rect bar;
    GetControlBounds(r->mHorzScrollBar, &bar);
    r->mScrollBarSize = SInt16(bar.bottom - bar.top);
    HideControl(r->mHorzScrollBar);
  }
  r->mScrollActionUPP = NewControlActionUPP(liveImageWindowScrollImageUPPProc);
  if (r->mHorzScrollBar) SetControlAction(r->mHorzScrollBar, r->mScrollActionUPP);
  if (r->mVertScrollBar) SetControlAction(r->mVertScrollBar, r->mScrollActionUPP);
  r->mImageRect = {0, 0, SInt32(r->mHeight), SInt32(r->mWidth)};
  placeImageWindow(r);

  static const EventTypeSpec kControlEvents[] = {{kEventClassCommand, kEventCommandProcess},
                                                 {kEventClassWindow, kEventWindowClose},
                                                 {kEventClassMouse, kEventMouseDown},
                                                 {kEventClassKeyboard, kEventRawKeyDown}};
  r->mControlWindowTarget = GetWindowEventTarget(r->mControlWindow);
  r->mControlWindowHandlerUPP = NewEventHandlerUPP(myImageControlWindowEventHandler);
  if ((err = InstallEventHandler(r->mControlWindowTarget, r->mControlWindowHandlerUPP,
                                 sizeof kControlEvents / sizeof kControlEvents[0], kControlEvents, r,
                                 &r->mControlWindowHandlerRef)) != noErr)
    return err;
  // The measurement window's close box goes to the same handler, which hides
  // the window instead of letting the system dispose of it under the record.
  static const EventTypeSpec kCloseEvent[] = {{kEventClassWindow, kEventWindowClose}};
  if ((err = InstallEventHandler(GetWindowEventTarget(r->mPhotometryWindow), r->mControlWindowHandlerUPP, 1,
                                 kCloseEvent, r, nullptr)) != noErr)
    return err;
  static const EventTypeSpec kPhotometryEvents[] = {{kEventClassWindow, kEventWindowBoundsChanging},
                                                    {kEventClassWindow, kEventWindowGetMaximumSize},
                                                    {kEventClassCommand, kEventCommandProcess}};
  r->mPhotometryWindowHandlerUPP = NewEventHandlerUPP(myImagePhotoAstroMetricsWindowEventHandler);
  if ((err = InstallEventHandler(GetWindowEventTarget(r->mPhotometryWindow), r->mPhotometryWindowHandlerUPP,
                                 sizeof kPhotometryEvents / sizeof kPhotometryEvents[0], kPhotometryEvents, r,
                                 &r->mPhotometryWindowHandlerRef)) != noErr)
    return err;
  r->mSliderActionUPP = NewControlActionUPP(myLiveSharpnessSliderProc);
  r->mArrowActionUPP = NewControlActionUPP(myDoLiveArrowChangeProc);
  setUpControls(r);
  myBuildDetailLevels(r);
  if (r->mPhotometryWindow != nullptr)
    setUpPopUp(r->mPhotometryWindow, FOUR_CHAR_CODE("CHAN"), r->mMeasureChannel + 1);

  if (CFStringRef name = myFSRefGetCFStringName(&r->mFileRef)) {
    SetWindowTitleWithCFString(r->mImageWindow, name);
    CFRelease(name);
  }
  // 0xd: selected as a layer, layered together, activated together.
  const WindowGroupAttributes attributes =
      kWindowGroupAttrSelectAsLayer | kWindowGroupAttrLayerTogether | kWindowGroupAttrSharedActivation;
  if ((err = CreateWindowGroup(attributes, &r->mWindowGroup)) != noErr) return err;
  SetWindowGroupParent(r->mWindowGroup, GetWindowGroupOfClass(kDocumentWindowClass));
  SetWindowGroup(r->mImageWindow, r->mWindowGroup);
  SetWindowGroup(r->mControlWindow, r->mWindowGroup);
  SetWindowGroup(r->mPhotometryWindow, r->mWindowGroup);
  ShowWindow(r->mImageWindow);
  ShowWindow(r->mControlWindow);
  if (r->mPhotometryShown) ShowWindow(r->mPhotometryWindow);
  SetThemeCursor(kThemeArrowCursor);
  r->mWindowReady = 1;
  myRenderRGB48ToWindow(r);
  return noErr;
}

}  // namespace

OSStatus myMakeImageWindow(FSRef fileRef, UInt16* luma, UInt16* rgb, UInt16* lrgb, UInt32 width,
                           UInt32 height, Boolean greenOffsetsLocked) {
  auto* r = static_cast<MyImageWindowDataStruct*>(std::calloc(1, sizeof(MyImageWindowDataStruct)));
  if (r == nullptr) return memFullErr;
  r->mRecordTag = kImageWindowRecordTag;
  r->mNoiseReduction = 1;
  r->mZoom = 1.0f;
  mySkyloomCheckForSIMD(&r->mAltivecFlag, &r->mPrefetchFlag);
  r->mSourceLuma16 = luma;
  r->mSourceRGB48 = rgb;
  r->mSourceLRGB64 = lrgb;
  r->mFileRef = fileRef;
  r->mWidth = width;
  r->mHeight = height;
  r->mRowBytes = width * 6;
  r->mGreenOffsetsLocked = greenOffsetsLocked ? 1 : 0;
  const OSStatus err = makeWindow(r);
  if (err != noErr) takeDown(r, false);
  return err;
}

OSStatus myReSizeImageWindowControls(WindowRef window) {
  MyImageWindowDataStruct* r = recordOfWindow(window);
  if (r == nullptr) return paramErr;
  Rect port;
  GetWindowPortBounds(window, &port);
  InvalWindowRect(window, &port);
  const SInt32 W = port.right - port.left, H = port.bottom - port.top;
  const SInt32 w = SInt32(r->mImageRect.right), h = SInt32(r->mImageRect.bottom);
  const SInt32 bar = r->mScrollBarSize;
  if (w <= r->mScrollH + W) r->mScrollH = std::max(0, w - W);
  if (h <= r->mScrollV + H) r->mScrollV = std::max(0, h - H);
  if (ControlRef c = r->mHorzScrollBar) {
    r->mHorzBarShown = w - W > 0;
    if (r->mHorzBarShown) {
      const Rect b{short(H - bar), 0, short(H), short(W - bar + 1)};
      SetControlBounds(c, &b);
      SetControl32BitMinimum(c, 0);
      SetControl32BitMaximum(c, w - W);
      SetControlViewSize(c, W);
      SetControl32BitValue(c, r->mScrollH);
      ShowControl(c);
    } else {
      HideControl(c);
    }
  }
  if (ControlRef c = r->mVertScrollBar) {
    r->mVertBarShown = h - H > 0;
    if (r->mVertBarShown) {
      const Rect b{0, short(W - bar), short(H - bar + 1), short(W)};
      SetControlBounds(c, &b);
      SetControl32BitMinimum(c, 0);
      SetControl32BitMaximum(c, h - H);
      SetControlViewSize(c, H);
      SetControl32BitValue(c, r->mScrollV);
      ShowControl(c);
    } else {
      HideControl(c);
    }
  }
  return noErr;
}

OSStatus myDisposeImageWindow(MyImageWindowDataStruct* r) {
  if (r == nullptr || r->mRecordTag != kImageWindowRecordTag) return userCanceledErr;
  // Handlers and callbacks first, so nothing reaches the record while it goes.
  removeHandler(&r->mPhotometryWindowHandlerRef, &r->mPhotometryWindowHandlerUPP);
  removeHandler(&r->mControlWindowHandlerRef, &r->mControlWindowHandlerUPP);
  removeHandler(&r->mImageWindowHandlerRef, &r->mImageWindowHandlerUPP);
  // The slider positions are the stored form of the amounts.
  for (int k = 0; k < kImageWindowLevelCount; ++k)
    if (ControlRef slider = findControl(r->mControlWindow, kSliders[k], 0))
      r->mSharpAmount[k] = Float32(GetControl32BitValue(slider));
  myReadWriteImageProcessingPrefs(r, 0);
  if (r->mLogOpen && r->mLogFile != nullptr) {
    fflush(r->mLogFile);
    fclose(r->mLogFile);
  }
  r->mLogFile = nullptr;
  r->mLogOpen = 0;
  takeDown(r, true);
  return noErr;
}

void myRGB48ToARGB32(const UInt16* rgb48, UInt8* argb32, UInt32 width, UInt32 height) {
  if (rgb48 == nullptr || argb32 == nullptr) return;
  myRunRowBands(height, UInt64(width) * 4, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width, count = size_t(end - begin) * width;
    const UInt16* __restrict s = rgb48 + first * 3;
    UInt8* __restrict d = argb32 + first * 4;
    for (size_t i = 0; i < count; ++i) {
      d[4 * i] = 255;
      d[4 * i + 1] = UInt8(s[3 * i] >> 8);
      d[4 * i + 2] = UInt8(s[3 * i + 1] >> 8);
      d[4 * i + 3] = UInt8(s[3 * i + 2] >> 8);
    }
  });
}

void myRenderRGB48ToWindow(MyImageWindowDataStruct* r) {
  if (r == nullptr || !r->mWindowReady) return;
  if (r->mPreview)
    myRenderSettingsToRGB48(r);
  else if (r->mRenderRGB48 != nullptr && r->mSourceRGB48 != nullptr)
    std::memcpy(r->mRenderRGB48, r->mSourceRGB48, size_t(r->mRowBytes) * r->mHeight);
  myRGB48ToARGB32(r->mRenderRGB48, r->mDisplayARGB32, r->mWidth, r->mHeight);
  myDrawImageWindow(r);
}

void myDrawStarFWHM(float x, float y, float radius, float value, CGContextRef c) {
  const float r1 = 1.58f * radius;
  for (const float r : {r1, 1.5f * r1, 2.2f * r1}) {
    CGContextBeginPath(c);
    CGContextAddArc(c, x, y, r, 0.0, 2.0 * M_PI, 0);
    CGContextStrokePath(c);
  }
  char text[32];
  snprintf(text, sizeof text, "%5.3f", double(value));
  CGContextShowTextAtPoint(c, x + 2.2f * r1 + 4.0f, y, text, strlen(text));
}

void myDrawStarLocation(float x, float y, float radius, CGContextRef c) {
  CGContextBeginPath(c);
  CGContextAddArc(c, x, y, 1.58f * radius, 0.0, 2.0 * M_PI, 0);
  CGContextStrokePath(c);
}

namespace {

// The measured and known stars, while the measurement window is shown.
void drawOverlays(const MyImageWindowDataStruct* r, CGContextRef c, float drawnH) {
  const float zoom = r->mZoom;
  const float scrollH = float(r->mScrollH), scrollV = float(r->mScrollV);
  auto sx = [&](float x) { return x * zoom - scrollH; };
  auto sy = [&](float y) { return drawnH - zoom * y + scrollV; };
  if (r->mMagCalibrated == 1) {
    CGContextSetRGBStrokeColor(c, 1, 0, 0, 1);
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    for (int k = 0; k < 3; ++k)
      if (r->mKnownStarMag[k] > -999.0f)
        myDrawStarFWHM(sx(r->mKnownStarX[k]), sy(r->mKnownStarY[k]), zoom * r->mKnownStarFWHM[k],
                       r->mKnownStarMag[k], c);
    if (r->mClickMarkShown) {
      CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
      CGContextSetRGBFillColor(c, 0, 0, 1, 1);
      myDrawStarFWHM(sx(r->mClickMarkX), sy(r->mClickMarkY), zoom * r->mClickMarkFWHM, r->mClickMarkMagnitude, c);
    }
  } else if (r->mRADecStarCount == 3) {
    CGContextSetRGBStrokeColor(c, 1, 0, 0, 1);
    for (int k = 0; k < 3; ++k)
      myDrawStarLocation(sx(r->mKnownStarX[k]), sy(r->mKnownStarY[k]), zoom * r->mKnownStarFWHM[k], c);
    if (r->mClickMarkShown) {
      CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
      myDrawStarLocation(sx(r->mClickMarkX), sy(r->mClickMarkY), zoom * r->mClickMarkFWHM, c);
    }
  } else if (r->mKnownStarMarks != 0) {
    CGContextSetRGBStrokeColor(c, 0, 1, 0, 1);
    const SInt32 marks = std::min<SInt32>(std::max<SInt32>(r->mKnownStarMarks, 0), 3);
    for (SInt32 k = 0; k < marks; ++k)
      myDrawStarLocation(sx(r->mKnownStarX[k]), sy(r->mKnownStarY[k]), zoom * r->mKnownStarFWHM[k], c);
  }
}

}  // namespace

void myDrawImageWindow(MyImageWindowDataStruct* r) {
  if (r == nullptr || r->mImageWindow == nullptr || r->mDisplayARGB32 == nullptr) return;
  CGrafPtr port = GetWindowPort(r->mImageWindow);
  Rect bounds;
  GetPortBounds(port, &bounds);
  const SInt32 portW = bounds.right - bounds.left, portH = bounds.bottom - bounds.top;
  const float zoom = r->mZoom > 0.0f ? r->mZoom : 1.0f;
  SInt64 x0 = SInt64(float(r->mScrollH) / zoom), y0 = SInt64(float(r->mScrollV) / zoom);
  x0 = std::clamp<SInt64>(x0, 0, SInt64(r->mWidth) - 1);
  y0 = std::clamp<SInt64>(y0, 0, SInt64(r->mHeight) - 1);
  // The visible image, never past the picture: a window wider than the zoomed
  // image would otherwise read beyond the display buffer.
  const SInt64 W = std::min<SInt64>(SInt64(float(portW) / zoom), SInt64(r->mWidth) - x0);
  const SInt64 H = std::min<SInt64>(SInt64(float(portH) / zoom), SInt64(r->mHeight) - y0);
  if (W <= 0 || H <= 0) return;
  CGContextRef c = nullptr;
  if (CreateCGContextForPort(port, &c) != noErr) return;
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  const size_t rowBytes = size_t(r->mWidth) * 4;
  const UInt8* first = r->mDisplayARGB32 + (size_t(y0) * r->mWidth + size_t(x0)) * 4;
  CGDataProviderRef provider =
      CGDataProviderCreateWithData(nullptr, first, size_t(H - 1) * rowBytes + size_t(W) * 4, nullptr);
  CGImageRef image = CGImageCreate(size_t(W), size_t(H), 8, 32, rowBytes, space, kCGImageAlphaNoneSkipFirst,
                                   provider, nullptr, false, kCGRenderingIntentDefault);
  CGContextSaveGState(c);
  CGContextSelectFont(c, "Lucida Grande", 14, kCGEncodingMacRoman);
  CGContextSetTextDrawingMode(c, kCGTextFillStroke);
  CGContextSetLineWidth(c, 1);
  CGContextSetLineCap(c, kCGLineCapSquare);
  CGContextSetLineJoin(c, kCGLineJoinMiter);
  CGContextSetLineDash(c, 0, nullptr, 0);
  CGContextSetInterpolationQuality(c, kCGInterpolationDefault);
  CGContextSetRGBFillColor(c, 1, 1, 1, 1);
  CGContextSetRGBStrokeColor(c, 0, 0, 0, 1);
  // User space starts at the port's bottom left; the picture is drawn from
  // there, and the strip under a shown horizontal bar is clipped away.
  const SInt32 bar = r->mScrollBarSize;
  const SInt32 clipW = portW - (r->mVertBarShown ? bar : 0);
  const SInt32 clipH = portH - (r->mHorzBarShown ? bar : 0);
  CGContextClipToRect(c, CGRectMake(0, r->mHorzBarShown ? bar : 0, clipW, clipH));
  const float drawnH = float(H) * zoom;
  if (image != nullptr) CGContextDrawImage(c, CGRectMake(0, 0, double(float(W) * zoom), drawnH), image);
  if (r->mPhotometryShown) drawOverlays(r, c, drawnH);
  CGContextRestoreGState(c);
  CGImageRelease(image);
  CGColorSpaceRelease(space);
  CGDataProviderRelease(provider);
  CGContextSynchronize(c);
  CGContextRelease(c);
}

OSStatus myImageWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<MyImageWindowDataStruct*>(userData);
  if (r == nullptr || r->mRecordTag != kImageWindowRecordTag) return eventNotHandledErr;
  if (GetEventClass(event) == kEventClassMouse) {
    if (GetEventKind(event) != kEventMouseMoved || !r->mPhotometryShown) return eventNotHandledErr;
    Point where;
    if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where))
      return eventNotHandledErr;
    SkyloomGlobalToLocal(r->mImageWindow, &where);
    Rect port;
    GetWindowPortBounds(r->mImageWindow, &port);
    if (r->mHorzBarShown) port.bottom = short(port.bottom - r->mScrollBarSize);
    if (r->mVertBarShown) port.right = short(port.right - r->mScrollBarSize);
    if (where.h < port.left || where.h >= port.right || where.v < port.top || where.v >= port.bottom) return noErr;
    const float x = (float(where.h) + float(r->mScrollH)) / r->mZoom;
    const float y = (float(where.v) + float(r->mScrollV)) / r->mZoom;
    char position[128] = "", text[160];
    if (x > 1.0f && y > 1.0f) myConvertPixelXYtoCoordsString(r, x, y, true, position);
    snprintf(text, sizeof text, "CUR: %s", position);
    myChangeControlTxt(r->mPhotometryWindow, kPhotometryText, 7, text);
    char pixel[96] = "";
    if (r->mMeasurePlane != nullptr && r->mWidth >= 3 && r->mHeight >= 3) {
      // The 3 x 3 block under the cursor, held inside the plane at its edges.
      auto corner = [](float v, UInt32 size) {
        if (v < 1.1f) return UInt32(0);
        return std::min(UInt32(v - 1.0f), size - 3);
      };
      const UInt32 ix = corner(x, r->mWidth), iy = corner(y, r->mHeight);
      UInt32 sum = 0;
      for (UInt32 j = 0; j < 3; ++j)
        for (UInt32 i = 0; i < 3; ++i) sum += r->mMeasurePlane[size_t(iy + j) * r->mWidth + ix + i];
      snprintf(pixel, sizeof pixel, "SPOT %d AVG %.1f", int(r->mMeasurePlane[size_t(iy + 1) * r->mWidth + ix + 1]),
               double(float(sum) * (1.0f / 9.0f)));
    }
    snprintf(text, sizeof text, "PIXEL: %s", pixel);
    myChangeControlTxt(r->mPhotometryWindow, kPhotometryText, 8, text);
    return noErr;
  }
  if (GetEventClass(event) != kEventClassWindow) return eventNotHandledErr;
  if (GetEventKind(event) == kEventWindowHandleContentClick) {
    Point where;
    if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where))
      return eventNotHandledErr;
    SkyloomGlobalToLocal(r->mImageWindow, &where);
    return myDoMouseClickInImageWindow(where, r);
  }
  WindowRef window = nullptr;
  if (GetEventParameter(event, kEventParamDirectObject, typeWindowRef, nullptr, sizeof window, nullptr, &window) ||
      window == nullptr)
    return eventNotHandledErr;
  UInt32 attributes = 0;
  const UInt32 sizeChange = kWindowBoundsChangeSizeChanged | kWindowBoundsChangeUserResize | kWindowBoundsChangeZoom;
  switch (GetEventKind(event)) {
    case kEventWindowUpdate:
      BeginUpdate(window);
      myDrawImageWindow(r);
      EndUpdate(window);
      return noErr;
    case kEventWindowDrawContent:
      myDrawImageWindow(r);
      return noErr;
    case kEventWindowBoundsChanging: {
      GetEventParameter(event, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
      if (!(attributes & sizeChange)) return eventNotHandledErr;
      Rect b;
      OSStatus err = GetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b);
      if (err != noErr) return err;
      if (b.right - b.left > SInt32(r->mWidth)) b.right = short(b.left + SInt32(std::min<UInt32>(r->mWidth, 32767)));
      if (b.bottom - b.top > SInt32(r->mHeight)) b.bottom = short(b.top + SInt32(std::min<UInt32>(r->mHeight, 32767)));
      return SetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
    }
    case kEventWindowBoundsChanged: {
      GetEventParameter(event, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
      if (!(attributes & sizeChange)) return eventNotHandledErr;
      Rect b;
      if (GetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b) == noErr)
        myReSizeImageWindowControls(window);
      return noErr;
    }
    case kEventWindowGetMinimumSize: {
      const Point size{short(std::min<UInt32>(r->mHeight / 10, 32767)), short(std::min<UInt32>(r->mWidth / 10, 32767))};
      return SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
    }
    case kEventWindowGetMaximumSize: {
      Rect b;
      if (GetAvailableWindowPositioningBounds(GetMainDevice(), &b) != noErr) return eventNotHandledErr;
      const Point size{short(std::min<SInt64>(r->mHeight, b.bottom)), short(std::min<SInt64>(r->mWidth, b.right))};
      return SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
    }
    case kEventWindowClose:
      // The close box closes all three windows with the record, as the
      // control window's Close does.
      myDisposeImageWindow(r);
      return noErr;
  }
  return eventNotHandledErr;
}

void liveImageWindowScrollImageUPPProc(ControlRef control, ControlPartCode part) {
  if (part == 0 || control == nullptr) return;
  MyImageWindowDataStruct* r = recordOfWindow(GetControlOwner(control));
  if (r == nullptr) return;
  const bool horizontal = control == r->mHorzScrollBar;
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  const SInt32 page = horizontal ? port.right - port.left : port.bottom - port.top;
  const SInt32 min = GetControl32BitMinimum(control), max = GetControl32BitMaximum(control);
  SInt32 value = GetControl32BitValue(control);
  switch (part) {
    case kControlUpButtonPart: value = std::max(min, value - kScrollStep); break;
    case kControlDownButtonPart: value = std::min(max, value + kScrollStep); break;
    case kControlPageUpPart: value = std::max(min, value - page); break;
    case kControlPageDownPart: value = std::min(max, value + page); break;
    case kControlIndicatorPart: break;
    default: return;
  }
  SetControl32BitValue(control, value);
  (horizontal ? r->mScrollH : r->mScrollV) = value - min;
  redraw(r);
}

ControlKeyFilterResult myImageDataKeyProc(ControlRef control, SInt16*, SInt16* charCode, EventModifiers*) {
  MyImageWindowDataStruct* r = recordOfControl(control);
  if (r == nullptr || charCode == nullptr || (*charCode != 3 && *charCode != 13)) return kControlKeyFilterPassKey;
  ControlID id{0, 0};
  GetControlID(control, &id);
  myImageDataProcessEdTextFields(r, id.signature, id.id);
  SetThemeCursor(kThemeArrowCursor);
  return kControlKeyFilterBlockKey;
}

OSStatus myImageDataProcessEdTextFields(MyImageWindowDataStruct* r, OSType signature, SInt32 id) {
  const EditField* f = findField(signature);
  if (r == nullptr || f == nullptr) return eventNotHandledErr;
  void* p = settingOf(r, signature);
  WindowRef w = r->mControlWindow;
  if (f->kind == Kind::kFloat) {
    float value = *static_cast<Float32*>(p);
    myTestFloatEditTxt(w, signature, id, f->decimals, 1, f->min, f->max, &value);
    if (value == *static_cast<Float32*>(p)) return noErr;
    *static_cast<Float32*>(p) = value;
  } else {
    UInt32 min, max;
    crossLimits(r, signature, &min, &max);
    UInt32 value = wholeSetting(*f, p);
    myTestU32EditTxt(w, signature, id, 1, min, max, &value);
    if (value == wholeSetting(*f, p)) return noErr;
    if (f->kind == Kind::kUnsigned)
      *static_cast<UInt32*>(p) = value;
    else
      *static_cast<SInt32*>(p) = SInt32(value);
  }
  mySetControlValue(w, signature, 1, arrowValueOf(*f, p));
  if (f->kind == Kind::kThreshold) myBuildDetailLevels(r);
  myRenderRGB48ToWindow(r);
  return noErr;
}

void myDoLiveArrowChangeProc(ControlRef control, ControlPartCode part) {
  if (control == nullptr) return;
  SInt32 value = GetControl32BitValue(control);
  if (part == kControlUpButtonPart)
    ++value;
  else if (part == kControlDownButtonPart)
    --value;
  else
    return;
  if (value > GetControl32BitMaximum(control) || value < GetControl32BitMinimum(control)) return;
  SetControl32BitValue(control, value);
  MyImageWindowDataStruct* r = recordOfControl(control);
  if (r == nullptr) return;
  ControlID id{0, 0};
  GetControlID(control, &id);
  const EditField* f = findField(id.signature);
  if (f == nullptr) return;
  void* p = settingOf(r, id.signature);
  if (f->kind == Kind::kFloat) {
    const Float32 setting = Float32(value) * 0.01f;
    if (setting == *static_cast<Float32*>(p)) return;
    *static_cast<Float32*>(p) = setting;
  } else {
    const UInt32 setting = UInt32(std::min<SInt64>(65535, std::max<SInt64>(0, SInt64(value) * f->arrowStep)));
    if (setting == wholeSetting(*f, p)) return;
    if (f->kind == Kind::kUnsigned)
      *static_cast<UInt32*>(p) = setting;
    else
      *static_cast<SInt32*>(p) = SInt32(setting);
  }
  char text[64];
  fieldText(*f, p, text, sizeof text);
  myChangeControlTxt(r->mControlWindow, id.signature, 0, text);
  if (f->kind == Kind::kThreshold) myBuildDetailLevels(r);
  myRenderRGB48ToWindow(r);
}

Float32 mySharpnessSliderAmount(SInt32 p) {
  if (p <= 20) return Float32(p) * 0.1f;
  if (p <= 60) return Float32(p - 21) * 0.2f + 2.2f;
  return Float32(p - 61) + 11.0f;
}

void myLiveSharpnessSliderProc(ControlRef control, ControlPartCode) {
  SetThemeCursor(kThemeArrowCursor);
  MyImageWindowDataStruct* r = recordOfControl(control);
  if (r == nullptr) return;
  const Float32 amount = mySharpnessSliderAmount(GetControl32BitValue(control));
  ControlID id{0, 0};
  GetControlID(control, &id);
  for (UInt32 k = 0; k < kImageWindowLevelCount; ++k) {
    if (id.signature != kSliders[k]) continue;
    r->mSharpAmount[k] = amount;
    mySharpenFilterThresholdSingle16Bit(r, k + 1);
  }
  char text[32];
  snprintf(text, sizeof text, "%5.1f", double(amount));
  myChangeControlTxt(r->mControlWindow, id.signature, 1, text);
  r->mSharpenActive = 0;
  for (Float32 a : r->mSharpAmount)
    if (a != 1.0f) r->mSharpenActive = 1;
  myRenderRGB48ToWindow(r);
}

void myLocalOffsetControl(WindowRef window, OSType signature, SInt32 id, SInt32 dx, SInt32 dy) {
  ControlRef c = findControl(window, signature, id);
  if (c == nullptr) return;
  Rect b;
  GetControlBounds(c, &b);
  if (dx != 0) b.left = short(b.left + dx), b.right = short(b.right + dx);
  if (dy != 0) b.top = short(b.top + dy), b.bottom = short(b.bottom + dy);
  SetControlBounds(c, &b);
}

void myConvertPixelXYtoCoordsString(const MyImageWindowDataStruct* r, float x, float y, Boolean labelled,
                                    char* out) {
  const size_t size = 128;
  if (r == nullptr || r->mRADecStarCount != 3) {
    snprintf(out, size, labelled ? "X:%6.1f\tY:%6.1f" : "%6.1f\t%6.1f", double(x), double(y));
  } else {
    const float raFit = r->mRAFit[0] * x + r->mRAFit[1] * y + r->mRAFit[2];
    const float decFit = r->mDecFit[0] * x + r->mDecFit[1] * y + r->mDecFit[2];
    // An extrapolated RA below 0 or past a full turn still names an hour of the day.
    const double time = myNormalizeRightAscension(raFit) * double(1.0f / 15.0f);
    MySexagesimal ra = mySplitSexagesimal(time);
    if (ra.units >= 24) ra.units -= 24;
    const char letter = decFit < 0.0f ? 'S' : 'N';
    MySexagesimal dec = mySplitSexagesimal(std::fabs(double(decFit)));
    dec.units = std::min<SInt32>(dec.units, 90);
    char raResidual[32] = "", decResidual[32] = "";
    if (!(r->mRAFit[3] <= 0.01f && r->mDecFit[3] <= 0.01f)) {
      snprintf(raResidual, sizeof raResidual, labelled ? " \xB1%4.3f" : "  \xB1%4.3f", double(r->mRAFit[3]));
      snprintf(decResidual, sizeof decResidual, "\xB1%4.3f", double(r->mDecFit[3]));
    }
    snprintf(out, size, labelled ? "RA:%2d:%2d:%5.2f%s\tDEC:%2d:%2d:%5.2f%c%s\t" : "%2d:%2d:%5.2f%s\t%2d:%2d:%5.2f%c%s\t",
             int(ra.units), int(ra.minutes), ra.seconds, raResidual, int(dec.units), int(dec.minutes), dec.seconds,
             letter, decResidual);
  }
  for (char* p = out; *p; ++p)
    if (*p == ' ') *p = '0';
}
