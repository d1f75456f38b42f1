// The photometry star-selection window "BatchPhotometry".
#include "photometry/PhotomSelection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <numbers>

#include "media/CGImageSave.h"
#include "photometry/StarMeasure.h"
#include "pixel/Centroids.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "stacking/EnlargedView.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"
#include "utilities/ImageViews.h"

namespace {

constexpr OSType kImageArea = FOUR_CHAR_CODE("SCUM");
constexpr OSType kEnlarged = FOUR_CHAR_CODE("ENLV");
constexpr OSType kMultiplier = FOUR_CHAR_CODE("FWHM");
constexpr OSType kPlaceVariables = FOUR_CHAR_CODE("SVAR");
constexpr OSType kPlaceComparisons = FOUR_CHAR_CODE("SCON");
constexpr OSType kDeleteStars = FOUR_CHAR_CODE("DELS");
constexpr OSType kSaveLocations = FOUR_CHAR_CODE("SVLO");
constexpr OSType kReport = FOUR_CHAR_CODE("REPT");
constexpr OSType kOK = FOUR_CHAR_CODE("ok  ");
constexpr OSType kCancel = FOUR_CHAR_CODE("not!");
constexpr const char* kClassID = "com.skyloom.batchphotom.enlargedView";

constexpr UInt8 kModeNone = 0, kModeVariables = 1, kModeComparisons = 2, kModeDelete = 3;
constexpr SInt32 kCentroidBox = 32;    // pixels, centred on the click
constexpr double kPlacingMargin = 24;  // pixels from every edge while placing
constexpr double kOtherMargin = 16;
constexpr double kDeleteReach = 16;  // a click this near a star (each axis) picks it

const EventTypeSpec kWindowEvents[] = {{kEventClassMouse, kEventMouseMoved},
                                       {kEventClassCommand, kEventCommandProcess},
                                       {kEventClassWindow, kEventWindowClose}};
const EventTypeSpec kViewEvents[] = {{kEventClassControl, kEventControlClick}};

ThemeCursor cursorForMode(UInt8 mode) {
  if (mode == kModeDelete) return kThemePointingHandCursor;
  return mode == kModeNone ? kThemeArrowCursor : kThemeCrossCursor;
}

bool occupied(const TBPS* r, UInt32 slot) { return r->mStarX[slot] > 0 && r->mStarY[slot] > 0; }

void refreshControls(TBPS* r) {
  WindowRef w = r->mWindow;
  const UInt32 most = r->mStarsPerKind;
  myEnableDisableControl(w, kOK, 0, r->mVarCount >= 1 && r->mCompCount >= 1);
  myCheckUncheckControl(w, kPlaceVariables, 0, r->mVarCount < most, r->mVarCount < most && r->mMode == kModeVariables);
  myCheckUncheckControl(w, kPlaceComparisons, 0, r->mCompCount < most,
                        r->mCompCount < most && r->mMode == kModeComparisons);
  myCheckUncheckControl(w, kDeleteStars, 0, r->mVarCount + r->mCompCount > 0, r->mMode == kModeDelete);
}

// The image view's scroll origin, asked as the scroll view asks it; false
// (reported on standard error) when the question can't be put.
bool imageViewOrigin(TBPS* r, HIPoint* origin) {
  EventRef e = nullptr;
  if (CreateEvent(nullptr, kEventClassScrollable, kEventScrollableGetInfo, GetCurrentEventTime(),
                  kEventAttributeUserEvent, &e) != noErr) {
    fprintf(stderr, "CreateEvent( NULL, kEventClassScrollable, kEventScrollableGetInfo failed\n");
    return false;
  }
  bool ok = false;
  if (SendEventToControl(e, r->theImageView) != noErr) {
    fprintf(stderr, "SendEventToControl( tempEvent, pTBPSPtr->theImageView failed\n");
  } else if (OSStatus err = GetEventParameter(e, kEventParamOrigin, typeHIPoint, nullptr, sizeof *origin, nullptr,
                                              origin)) {
    fprintf(stderr, "GetEventParameter( tempEvent, kEventParamOrigin, typeHIPoint err %d\n", int(err));
  } else {
    ok = true;
  }
  ReleaseEvent(e);
  return ok;
}

void labelFor(const TBPS* r, UInt32 slot, char label[8]) {
  if (r->mStarIsVariable[slot])
    snprintf(label, 8, "V%u", unsigned(slot));
  else
    snprintf(label, 8, "C%u", unsigned(slot - r->mStarsPerKind));
}

void placeStar(TBPS* r, double x, double y) {
  UInt32 slot = 0;
  if (r->mMode == kModeVariables) {
    if (r->mVarCount >= r->mStarsPerKind) {
      // The group is full: placing ends quietly.
      r->mMode = kModeNone;
      SetThemeCursor(kThemeArrowCursor);
      refreshControls(r);
      return;
    }
    slot = r->mVarCount;
  } else {
    slot = r->mStarsPerKind + r->mCompCount;
    if (slot > 2 * r->mStarsPerKind - 1) {
      r->mMode = kModeNone;
      SetThemeCursor(kThemeArrowCursor);
      refreshControls(r);
      return;
    }
  }
  const UInt32 left = UInt32(std::rint(x - kCentroidBox / 2));
  const UInt32 top = UInt32(std::rint(y - kCentroidBox / 2));
  UInt32 background = 0;
  myCalculateImageSubCentroidClipped16Bit(r->mMono16FramePtr, left, top, kCentroidBox, kCentroidBox, r->mWidth * 2,
                                          &r->mStarX[slot], &r->mStarY[slot], &background, r->mWidth, r->mHeight);
  if (r->mStarX[slot] <= 0) {
    SysBeep(1);
    SetThemeCursor(kThemeCrossCursor);
    return;
  }
  double fwhm = 0;
  UInt32 halfMax = 0;
  if (myCalcFWHM16BitMono(r->mStarX[slot], r->mStarY[slot], r->mMono16FramePtr, r->mWidth, r->mHeight,
                          r->mWidth * 2, background, &fwhm, &halfMax) != noErr) {
    // Only x marks the slot empty; every reader asks for both above 0.
    r->mStarX[slot] = -1.0f;
    SysBeep(1);
    return;
  }
  r->mStarFWHM[slot] = Float32(fwhm);
  r->mStarIsVariable[slot] = r->mMode == kModeVariables ? 1 : 0;
  if (r->mMode == kModeVariables)
    ++r->mVarCount;
  else
    ++r->mCompCount;
  SetThemeCursor(kThemeCrossCursor);
  refreshControls(r);
  myUpdatePhotomImageHIView(r);
}

void deleteStar(TBPS* r, double x, double y) {
  const UInt32 slots = 2 * r->mStarsPerKind;
  UInt32 s = 0;
  while (s < slots && !(occupied(r, s) && std::fabs(r->mStarX[s] - x) <= kDeleteReach &&
                        std::fabs(r->mStarY[s] - y) <= kDeleteReach))
    ++s;
  if (s == slots) {
    SetThemeCursor(kThemeArrowCursor);
    return;
  }
  UInt32 last = 0;
  if (r->mStarIsVariable[s]) {
    last = r->mStarsPerKind - 1;
    if (r->mVarCount > 0) --r->mVarCount;
  } else {
    last = slots - 1;
    if (r->mCompCount > 0) --r->mCompCount;
  }
  for (UInt32 k = s; k < last; ++k) {
    r->mStarX[k] = r->mStarX[k + 1];
    r->mStarY[k] = r->mStarY[k + 1];
    r->mStarFWHM[k] = r->mStarFWHM[k + 1];
    r->mStarIsVariable[k] = r->mStarIsVariable[k + 1];
  }
  r->mStarX[last] = r->mStarY[last] = r->mStarFWHM[last] = -1.0f;
  r->mStarIsVariable[last] = 0;
  SetThemeCursor(kThemePointingHandCursor);
  refreshControls(r);
  myUpdatePhotomImageHIView(r);
}

void saveMarkedPicture(TBPS* r) {
  CFStringRef message = myGetLocalizedCFString("SAVEFILEAS");
  FSRef file;
  OSStatus err = myNavServSaveFileFSRef(nullptr, message, CFSTR("Photom Picked Stars.tiff"), &file,
                                        FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TIFF"), kNavDefaultNavDlogOptions, 0);
  if (message) CFRelease(message);
  if (err != noErr) return;
  CGImageRef image = HIImageViewCopyImage(r->theImageView);
  if (image == nullptr) {
    myPostAlert("", "HIImageViewCopyImage failed - Apple broke this in leopard");
    return;
  }
  if (mySaveCGImageRefToFileFSRef(file, FOUR_CHAR_CODE("TIFF"), image) != noErr)
    myPostAlert("", "mySaveCGImageRefToFileFSRef Saving tiff file of selectiosn points failed");
  CGImageRelease(image);
}

// Takes down whatever was made, in the reverse order of making.
void closeWindow(TBPS* r) {
  if (r->mWindow) HideWindow(r->mWindow);
  r->mShowEnlarged = 0;
  if (r->mArrowsUPP) {
    ControlRef arrows = nullptr;
    const ControlID id{kMultiplier, 1};
    if (GetControlByID(r->mWindow, &id, &arrows) == noErr && arrows) SetControlAction(arrows, nullptr);
    DisposeControlActionUPP(r->mArrowsUPP);
    r->mArrowsUPP = nullptr;
  }
  if (r->mViewHandler) RemoveEventHandler(r->mViewHandler);
  r->mViewHandler = nullptr;
  if (r->mViewHandlerUPP) DisposeEventHandlerUPP(r->mViewHandlerUPP);
  r->mViewHandlerUPP = nullptr;
  if (r->mEnlargedView) DisposeControl(r->mEnlargedView);
  r->mEnlargedView = nullptr;
  r->mEnlargedInstance = nullptr;
  if (r->mWindowHandler) RemoveEventHandler(r->mWindowHandler);
  r->mWindowHandler = nullptr;
  if (r->mWindowHandlerUPP) DisposeEventHandlerUPP(r->mWindowHandlerUPP);
  r->mWindowHandlerUPP = nullptr;
  // Views not yet placed in the window are not disposed with it.
  if (r->theImageView && GetControlOwner(r->theImageView) == nullptr) DisposeControl(r->theImageView);
  if (r->mScrollView && GetControlOwner(r->mScrollView) == nullptr) DisposeControl(r->mScrollView);
  r->theImageView = r->mScrollView = r->mContentView = nullptr;
  if (r->mWindow) DisposeWindow(r->mWindow);
  r->mWindow = nullptr;
  r->mWindowTarget = nullptr;
  myUnregisterEnlargedViewClass(&r->mEnlargedClass);
  if (r->mEnlargedUPP) DisposeEventHandlerUPP(r->mEnlargedUPP);
  r->mEnlargedUPP = nullptr;
}

void freeRecord(TBPS* r) {
  std::free(r->mDisplayImage);
  std::free(r->mEnlargedBuffer);
  std::free(r);
}

// Grows the image area with the window and moves what sits below it along.
void fitWindowToFrame(TBPS* r) {
  UInt32 width = 0, height = 0, left = 0, top = 0;
  if (myCalcOptimumWindowSizeforHIView(r->mWindow, kImageArea, 0, r->mWidth, r->mHeight, &width, &height, &left,
                                       &top) != 1)
    return;
  Rect content;
  GetWindowPortBounds(r->mWindow, &content);
  const SInt32 dw = SInt32(width) - (content.right - content.left);
  const SInt32 dh = SInt32(height) - (content.bottom - content.top);
  ControlRef area = nullptr;
  const ControlID areaID{kImageArea, 0};
  GetControlByID(r->mWindow, &areaID, &area);
  Rect areaBounds{0, 0, 0, 0};
  if (area) GetControlBounds(area, &areaBounds);
  if (area) {
    Rect b = areaBounds;
    b.right = SInt16(b.right + dw);
    b.bottom = SInt16(b.bottom + dh);
    SetControlBounds(area, &b);
  }
  // Everything below the image area keeps its distance to the bottom.
  const OSType below[] = {kEnlarged, kPlaceVariables, kPlaceComparisons, kDeleteStars, kSaveLocations,
                          kMultiplier, kReport, kOK, kCancel};
  for (OSType s : below)
    for (SInt32 id = 0; id <= 1; ++id) {
      ControlRef c = nullptr;
      const ControlID cid{s, id};
      if (GetControlByID(r->mWindow, &cid, &c) != noErr || !c) continue;
      Rect b;
      GetControlBounds(c, &b);
      MoveControl(c, b.left, SInt16(b.top + dh));
    }
  MoveWindow(r->mWindow, SInt16(left), SInt16(top), false);
  SizeWindow(r->mWindow, SInt16(width), SInt16(height), true);
}

// Test hook: the nth allocation of the window from now on fails (0: none).
int gFailAllocationAt = 0;

void* allocate(size_t size) {
  if (gFailAllocationAt > 0 && --gFailAllocationAt == 0) return nullptr;
  return std::malloc(size);
}

}  // namespace

void SkyloomPhotomSelectionFailAllocation(int nth) { gFailAllocationAt = nth; }

OSStatus myPhotomImageTranferImage(TBPS* r, CGImageRef* outImage) {
  if (outImage == nullptr) return paramErr;
  *outImage = nullptr;
  if (r == nullptr || r->mDisplayImage == nullptr) return paramErr;
  const size_t width = r->mWidth, height = r->mHeight, rowBytes = 4 * width;
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  if (space == nullptr) return memFullErr;
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, r->mDisplayImage, rowBytes * height, nullptr);
  CGImageRef grey = provider ? CGImageCreate(width, height, 8, 32, rowBytes, space, kCGImageAlphaPremultipliedFirst,
                                             provider, nullptr, false, kCGRenderingIntentDefault)
                             : nullptr;
  CGDataProviderRelease(provider);
  void* pixels = grey ? allocate(rowBytes * height) : nullptr;
  CGContextRef c = pixels ? CGBitmapContextCreate(pixels, width, height, 8, rowBytes, space,
                                                  kCGImageAlphaPremultipliedFirst)
                          : nullptr;
  OSStatus err = memFullErr;
  if (c) {
    CGContextSetInterpolationQuality(c, kCGInterpolationNone);
    CGContextSelectFont(c, "Lucida Grande", 12, kCGEncodingMacRoman);
    CGContextSetTextDrawingMode(c, kCGTextFillStroke);
    CGContextDrawImage(c, CGRectMake(0, 0, CGFloat(width), CGFloat(height)), grey);
    for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) {
      if (!(r->mStarX[s] > 0)) continue;
      if (r->mStarIsVariable[s]) {
        CGContextSetRGBStrokeColor(c, 1.0, 0.1, 0.1, 1.0);
        CGContextSetRGBFillColor(c, 1.0, 0.1, 0.1, 1.0);
      } else {
        CGContextSetRGBStrokeColor(c, 0, 0, 1.0, 1.0);
        CGContextSetRGBFillColor(c, 0, 0, 1.0, 1.0);
      }
      const CGFloat radius = CGFloat(r->mFWHMMultiplier * r->mStarFWHM[s]);
      const CGFloat x = r->mStarX[s], y = CGFloat(height) - r->mStarY[s];
      for (CGFloat scale : {1.0, 1.5, 2.2}) {
        CGContextBeginPath(c);
        CGContextAddArc(c, x, y, scale * radius, 0, 2 * std::numbers::pi, 0);
        CGContextStrokePath(c);
      }
      char label[8];
      labelFor(r, s, label);
      CGContextShowTextAtPoint(c, x + 2.2 * radius + 4, y - 6, label, strlen(label));
    }
    *outImage = CGBitmapContextCreateImage(c);
    if (*outImage) err = noErr;
    CGContextRelease(c);
  }
  std::free(pixels);
  CGImageRelease(grey);
  CGColorSpaceRelease(space);
  return err;
}

void myUpdatePhotomImageHIView(TBPS* r) {
  if (r == nullptr || r->theImageView == nullptr) return;
  HIViewSetVisible(r->theImageView, false);
  CGImageRef image = nullptr;
  myPhotomImageTranferImage(r, &image);
  HIImageViewSetImage(r->theImageView, image);
  CGImageRelease(image);
  HIViewSetVisible(r->theImageView, true);
  HIViewSetNeedsDisplay(r->theImageView, true);
}

void myAdjustFWHMValue(ControlRef control, ControlPartCode part) {
  auto* r = reinterpret_cast<TBPS*>(GetControlReference(control));
  if (r == nullptr || r->mKind != kBatchPhotomSelectionTag) return;
  SInt32 value = GetControl32BitValue(control);
  if (part == kControlUpButtonPart)
    ++value;
  else if (part == kControlDownButtonPart)
    --value;
  else
    return;
  if (value < GetControl32BitMinimum(control) || value > GetControl32BitMaximum(control)) return;
  SetControl32BitValue(control, value);
  r->mFWHMMultiplier = Float32(value) * 0.1f;
  char text[32];
  snprintf(text, sizeof text, "%.2f", double(r->mFWHMMultiplier));
  myChangeControlTxt(r->mWindow, kMultiplier, 0, text);
  myUpdatePhotomImageHIView(r);
}

OSStatus myPhotomImageViewEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<TBPS*>(userData);
  if (r == nullptr || GetEventClass(event) != kEventClassControl || GetEventKind(event) != kEventControlClick)
    return eventNotHandledErr;
  Point local;
  if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof local, nullptr, &local) != noErr)
    return eventNotHandledErr;
  HIPoint origin;
  if (!imageViewOrigin(r, &origin)) return eventNotHandledErr;
  const double x = local.h + origin.x, y = local.v + origin.y;
  const bool placing = r->mMode == kModeVariables || r->mMode == kModeComparisons;
  const double m = placing ? kPlacingMargin : kOtherMargin;
  if (!(m < x && x < double(r->mWidth) - m && m < y && y < double(r->mHeight) - m)) {
    SysBeep(1);
    return eventNotHandledErr;
  }
  if (r->mMode == kModeNone)
    SetThemeCursor(kThemeArrowCursor);
  else if (placing)
    placeStar(r, x, y);
  else if (r->mMode == kModeDelete)
    deleteStar(r, x, y);
  // The view keeps its own handling of the click.
  return eventNotHandledErr;
}

OSStatus myPhotomImageWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<TBPS*>(userData);
  if (r == nullptr || r->mKind != kBatchPhotomSelectionTag) return eventNotHandledErr;
  SetThemeCursor(cursorForMode(r->mMode));
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassMouse && kind == kEventMouseMoved) {
    HIPoint origin;
    if (!imageViewOrigin(r, &origin)) return eventNotHandledErr;
    Rect frame;
    GetControlBounds(r->mScrollView, &frame);
    UInt32 x = 0, y = 0;
    if (myEnlargedViewImagePoint(event, r->mWindow, frame, origin.x, origin.y, 1.0, &x, &y) == noErr)
      myBatchPhotomBlitEnlargedViewIntoImageWell3X(r, x, y);
    return eventNotHandledErr;
  }
  if (cls == kEventClassWindow && kind == kEventWindowClose) {
    // The close box cancels, as the Cancel button does.
    r->mAccepted = 0;
    QuitAppModalLoopForWindow(r->mWindow);
    return noErr;
  }
  if (cls != kEventClassCommand || kind != kEventCommandProcess) return eventNotHandledErr;
  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
      noErr)
    return eventNotHandledErr;
  switch (command.commandID) {
    case kPlaceVariables:
    case kPlaceComparisons: {
      const UInt8 own = command.commandID == kPlaceVariables ? kModeVariables : kModeComparisons;
      const UInt32 count = own == kModeVariables ? r->mVarCount : r->mCompCount;
      if (r->mMode == own)
        r->mMode = kModeNone;
      else
        r->mMode = count >= r->mStarsPerKind ? kModeNone : own;
      refreshControls(r);
      SetThemeCursor(r->mMode != kModeNone ? kThemeCrossCursor : kThemeArrowCursor);
      return noErr;
    }
    case kDeleteStars:
      r->mMode = r->mMode == kModeDelete ? kModeNone : kModeDelete;
      refreshControls(r);
      SetThemeCursor(kThemePointingHandCursor);
      return noErr;
    case kReport:
      r->mOutputMode = UInt32(myGetControlValue(r->mWindow, kReport, 0) - 1);
      return noErr;
    case kSaveLocations:
      r->mSaveLocations = r->mSaveLocations ? 0 : 1;
      return noErr;
    case kOK:
      r->mAccepted = 1;
      QuitAppModalLoopForWindow(r->mWindow);
      return noErr;
    case kCancel:
      r->mAccepted = 0;
      QuitAppModalLoopForWindow(r->mWindow);
      return noErr;
    default:
      return eventNotHandledErr;
  }
}

void myBatchPhotomBlitEnlargedViewIntoImageWell3X(TBPS* r, UInt32 x, UInt32 y) {
  if (r == nullptr || r->mWindow == nullptr) return;
  r->mViewCenterX = x;
  r->mViewCenterY = y;
  // The unmarked frame: the 16-bit samples when there are any.
  const EnlargedViewSource source =
      r->mMono16FramePtr ? EnlargedViewSource{r->mMono16FramePtr, 16, r->mWidth, r->mHeight, r->mWidth * 2}
                         : EnlargedViewSource{r->mDisplayImage, 32, r->mWidth, r->mHeight, r->mWidth * 4};
  myEnlargedViewBlit3X(r->mWindow, &source, r->mShowEnlarged, x, y, &r->mEnlargedBuffer);
}

OSStatus myBatchPhotomEnlargedViewCustomeControlller(EventHandlerCallRef call, EventRef event, void* userData) {
  auto* r = static_cast<TBPS*>(userData);
  if (r == nullptr) return myEnlargedViewController(call, event, nullptr);
  const EnlargedViewOwner owner{r, &r->mEnlargedInstance, &r->mShowEnlarged, &r->mViewCenterX, &r->mViewCenterY,
                                [](void* record, UInt32 x, UInt32 y) {
                                  myBatchPhotomBlitEnlargedViewIntoImageWell3X(static_cast<TBPS*>(record), x, y);
                                }};
  return myEnlargedViewController(call, event, &owner);
}

void myOutputStringToPhotomFiles(MyBatchPhotomDataStruct* d, const char* text) {
  if (d == nullptr || text == nullptr) return;
  const size_t n = strlen(text);
  if (d->mOutputMode != 1 && d->mSimpleFile) fwrite(text, 1, n, d->mSimpleFile);
  if (d->mOutputMode != 0 && d->mDetailedFile) fwrite(text, 1, n, d->mDetailedFile);
}

OSStatus myPhotomBatchImageSelectionGUI(MyBatchPhotomDataStruct* d) {
  if (d == nullptr) return paramErr;
  d->mStarCount = 0;
  for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) d->mStarX[s] = -1.0f;
  if (d->mMono16FramePtr == nullptr || d->mWidth <= 0 || d->mHeight <= 0) return paramErr;

  auto* r = static_cast<TBPS*>(allocate(sizeof(TBPS)));
  if (r == nullptr) return memFullErr;
  std::memset(r, 0, sizeof *r);
  r->mKind = kBatchPhotomSelectionTag;
  r->mStarsPerKind = kBatchPhotomStarsPerKind;
  for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) r->mStarX[s] = r->mStarY[s] = r->mStarFWHM[s] = -1.0f;
  r->mSaveLocations = d->mSaveLocations;
  r->mWidth = UInt32(d->mWidth);
  r->mHeight = UInt32(d->mHeight);
  r->mOutputMode = UInt32(d->mOutputMode);
  r->mFWHMMultiplier = d->mFWHMMultiplier;

  const size_t pixels = size_t(r->mWidth) * r->mHeight;
  r->mDisplayImage = static_cast<UInt8*>(allocate(pixels * 4 + 64));
  if (r->mDisplayImage == nullptr) {
    freeRecord(r);
    return memFullErr;
  }
  for (size_t i = 0; i < pixels; ++i) {
    const UInt8 grey = UInt8(d->mMono16FramePtr[i] >> 8);
    UInt8* p = r->mDisplayImage + 4 * i;
    p[0] = 0xFF;
    p[1] = p[2] = p[3] = grey;
  }
  r->mMono16FramePtr = d->mMono16FramePtr;

  CFStringRef classID = CFStringCreateWithCString(nullptr, kClassID, kCFStringEncodingUTF8);
  r->mEnlargedUPP = NewEventHandlerUPP(myBatchPhotomEnlargedViewCustomeControlller);
  OSStatus err = myRegisterEnlargedViewClass(classID, r->mEnlargedUPP, r, &r->mEnlargedClass);
  IBNibRef nib = nullptr;
  if (err == noErr) err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("BatchPhotometry"), &r->mWindow);
    DisposeNibReference(nib);
  }
  if (err == noErr) {
    SetWRefCon(r->mWindow, SRefCon(r));
    r->mWindowTarget = GetWindowEventTarget(r->mWindow);
    fitWindowToFrame(r);
    r->mWindowHandlerUPP = NewEventHandlerUPP(myPhotomImageWindowEventHandler);
    err = InstallEventHandler(r->mWindowTarget, r->mWindowHandlerUPP, std::size(kWindowEvents), kWindowEvents, r,
                              &r->mWindowHandler);
  }
  if (err == noErr)
    err = HIScrollViewCreate(kHIScrollViewOptionsVertScroll | kHIScrollViewOptionsHorizScroll, &r->mScrollView);
  if (err == noErr) {
    HIScrollViewSetScrollBarAutoHide(r->mScrollView, true);
    err = HIViewFindByID(HIViewGetRoot(r->mWindow), kHIViewWindowContentID, &r->mContentView);
  }
  if (err == noErr) err = HIViewAddSubview(r->mContentView, r->mScrollView);
  if (err == noErr) {
    ControlRef area = nullptr;
    const ControlID areaID{kImageArea, 0};
    HIRect frame = CGRectMake(20, 20, std::min<UInt32>(r->mWidth, 760), std::min<UInt32>(r->mHeight, 510));
    if (GetControlByID(r->mWindow, &areaID, &area) == noErr && area) {
      Rect b;
      GetControlBounds(area, &b);
      frame = CGRectMake(b.left, b.top, std::min<CGFloat>(b.right - b.left, r->mWidth),
                         std::min<CGFloat>(b.bottom - b.top, r->mHeight));
    }
    err = HIViewSetFrame(r->mScrollView, &frame);
  }
  if (err == noErr) {
    CGImageRef picture = nullptr;
    err = myPhotomImageTranferImage(r, &picture);
    if (err == noErr) err = HIImageViewCreate(picture, &r->theImageView);
    CGImageRelease(picture);
  }
  if (err == noErr) {
    HIImageViewSetAlpha(r->theImageView, 1.0);
    HIImageViewSetOpaque(r->theImageView, false);
    HIImageViewSetScaleToFit(r->theImageView, false);
    r->mViewHandlerUPP = NewEventHandlerUPP(myPhotomImageViewEventHandler);
    r->mViewTarget = GetControlEventTarget(r->theImageView);
    err = InstallEventHandler(r->mViewTarget, r->mViewHandlerUPP, std::size(kViewEvents), kViewEvents, r,
                              &r->mViewHandler);
  }
  if (err == noErr) err = HIViewAddSubview(r->mScrollView, r->theImageView);
  if (err != noErr) {
    CFRelease(classID);
    closeWindow(r);
    freeRecord(r);
    return err;
  }
  HIViewSetVisible(r->theImageView, true);
  HIViewSetVisible(r->mScrollView, true);

  WindowRef w = r->mWindow;
  ControlRef arrows = nullptr;
  const ControlID arrowsID{kMultiplier, 1};
  if (GetControlByID(w, &arrowsID, &arrows) == noErr && arrows) {
    SetControl32BitValue(arrows, SInt32(r->mFWHMMultiplier * 10.0f));
    SetControlReference(arrows, SRefCon(r));
    r->mArrowsUPP = NewControlActionUPP(myAdjustFWHMValue);
    SetControlAction(arrows, r->mArrowsUPP);
  }
  char text[32];
  snprintf(text, sizeof text, "%.2f", double(r->mFWHMMultiplier));
  myChangeControlTxt(w, kMultiplier, 0, text);
  myCheckUncheckControl(w, kPlaceVariables, 0, 1, 0);
  myCheckUncheckControl(w, kPlaceComparisons, 0, 1, 0);
  myCheckUncheckControl(w, kDeleteStars, 0, 0, 0);
  myEnableDisableControl(w, kOK, 0, 0);
  myCheckUncheckControl(w, kSaveLocations, 0, 1, r->mSaveLocations == 1);
  ControlRef report = nullptr;
  const ControlID reportID{kReport, 0};
  if (GetControlByID(w, &reportID, &report) == noErr && report) {
    MenuRef menu = GetControlPopupMenuHandle(report);
    for (UInt32 item = 1; menu && item <= 3; ++item) CheckMenuItem(menu, MenuItemIndex(item), item == r->mOutputMode + 1);
    SetControl32BitValue(report, SInt32(r->mOutputMode + 1));
  }

  r->mEnlargedView = myCreateEnlargedView(w, classID);
  CFRelease(classID);

  r->mShowEnlarged = 1;
  ShowWindow(w);
  SetThemeCursor(kThemeArrowCursor);
  myBatchPhotomBlitEnlargedViewIntoImageWell3X(r, 0, 0);
  RunAppModalLoopForWindow(w);
  SetThemeCursor(kThemeArrowCursor);

  OSStatus result = userCanceledErr;
  if (r->mAccepted == 1) {
    d->mFWHMMultiplier = r->mFWHMMultiplier;
    d->mOutputMode = SInt32(r->mOutputMode);
    d->mStarCount = 0;
    for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) {
      if (!occupied(r, s)) continue;
      d->mStarX[d->mStarCount] = r->mStarX[s];
      d->mStarY[d->mStarCount] = r->mStarY[s];
      d->mStarIsVariable[d->mStarCount] = r->mStarIsVariable[s];
      ++d->mStarCount;
    }
    if (r->mSaveLocations == 1) saveMarkedPicture(r);
    result = noErr;
  }
  closeWindow(r);
  freeRecord(r);
  return result;
}
