// The preview window: keys that grab and record, redraws, the size limits of
// the zoomed image, the close box, the measuring-point pick and scrolling.
// Main thread only; the frame buffers drawn here are written by the frame
// pipeline, so a redraw holds the display's busy counter as the display
// timer does.
#include "app/PreviewWindowEvents.h"

#include <algorithm>
#include <cmath>

#include "app/FrameGrabs.h"
#include "app/PleezWait.h"
#include "app/PreviewDrawing.h"
#include "app/RecordAtomics.h"
#include "guiding/ScopeControl.h"
#include "utilities/Controls.h"

using record_atomics::ld;
using record_atomics::st;

namespace {

constexpr char kReturnKey = 13;
constexpr char kEnterKey = 3;
constexpr char kSpaceKey = ' ';
constexpr SInt32 kLineScroll = 5;

MyCameraWindowDataStruct* recordOf(WindowRef w) {
  auto* r = w ? reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  return r && r->mKind == kMyCameraWindowDataKind ? r : nullptr;
}

void keyDown(MyCameraWindowDataStruct* r, EventRef event) {
  char key = 0;
  if (GetEventParameter(event, kEventParamKeyMacCharCodes, typeChar, nullptr, sizeof key, nullptr, &key) != noErr)
    return;
  if (key == kReturnKey || key == kEnterKey) {
    if (ld(r->mRecording) != 0) return;
    if (ld(r->mGrabPending) != 0)
      st(r->mGrabCancel, UInt8(1));
    else
      mySaveAFrameToDisk(r, r->mTriggerItem == 0 ? 1 : 0);
  } else if (key == kSpaceKey) {
    if (ld(r->mGrabPending) != 0) return;
    if (ld(r->mRecording) == 1)
      myStopRecordMovie(r);
    else
      mySetUpRecordMovie(r);
  }
}

bool drawLongExposure(MyCameraWindowDataStruct* r) {
  if (ld(r->mRunning) != 1 || r->mVideoWindow == nullptr || r->mLongExposureFrame == nullptr) return false;
  myDrawVideoPreview(r, r->mLongExposureFrame);
  return true;
}

OSStatus pick(MyCameraWindowDataStruct* r, EventRef event) {
  if (ld(r->mSpotWhiteBalance) != 1 && r->mPickBrightnessArea != 1) return eventNotHandledErr;
  Point where;
  if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where) != noErr)
    return eventNotHandledErr;
  SkyloomGlobalToLocal(r->mVideoWindow, &where);
  Rect active;
  GetWindowPortBounds(r->mVideoWindow, &active);
  if (r->mHScrollShown == 1) active.bottom = SInt16(active.bottom - r->mScrollBarThickness);
  if (r->mVScrollShown == 1) active.right = SInt16(active.right - r->mScrollBarThickness);
  if (where.h < active.left || where.h >= active.right || where.v < active.top || where.v >= active.bottom) {
    // On a scroll bar: the bar takes the click.
    SetThemeCursor(kThemeCrossCursor);
    return eventNotHandledErr;
  }
  const float zoom = r->mZoomScale > 0.0f ? r->mZoomScale : 1.0f;
  const auto toFrame = [zoom](int local, int offset) {
    const float v = float(local + offset) / zoom;
    return v > 0.0f ? UInt32(v) : UInt32(0);
  };
  const UInt32 x = toFrame(where.h, r->mScrollOffset.h);
  const UInt32 y = toFrame(where.v, r->mScrollOffset.v);
  SetThemeCursor(kThemeArrowCursor);
  if (r->mPickBrightnessArea == 1) {
    r->mBrightnessAreaX = float(x);
    r->mBrightnessAreaY = float(y);
    r->mPickBrightnessArea = 0;
    myDoPleezWait(r, 11);
    return noErr;
  }
  st(r->mSpotWhiteBalance, UInt8(0));
  r->mSpotBalanceX = myClampSpotCoordinate(x, r->mWidth, kMySpotBalanceMargin);
  r->mSpotBalanceY = myClampSpotCoordinate(y, r->mHeight, kMySpotBalanceMargin);
  myDoPleezWait(r, 5);
  myCheckUncheckControl(r->mControlWindow, FOUR_CHAR_CODE("SWHB"), 0, 1, ld(r->mSpotWhiteBalance));
  return noErr;
}

bool sizeAttributes(EventRef event) {
  UInt32 attributes = 0;
  GetEventParameter(event, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
  return (attributes & (kWindowBoundsChangeUserResize | kWindowBoundsChangeSizeChanged | kWindowBoundsChangeZoom)) !=
         0;
}

OSStatus windowEvent(MyCameraWindowDataStruct* r, EventRef event) {
  WindowRef w = r->mVideoWindow;
  const SInt32 imageWidth = r->mPreviewRect.right - r->mPreviewRect.left;
  const SInt32 imageHeight = r->mPreviewRect.bottom - r->mPreviewRect.top;
  switch (GetEventKind(event)) {
    case kEventWindowUpdate: {
      BeginUpdate(w);
      const bool drawn = drawLongExposure(r);
      EndUpdate(w);
      return drawn ? noErr : eventNotHandledErr;
    }
    case kEventWindowDrawContent:
      return drawLongExposure(r) ? noErr : eventNotHandledErr;
    case kEventWindowBoundsChanging: {
      if (!sizeAttributes(event)) return eventNotHandledErr;
      Rect b;
      OSStatus err = GetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b);
      if (err != noErr) return err;
      // The window never shows more than the zoomed image.
      if (b.right - b.left > imageWidth) b.right = SInt16(b.left + imageWidth);
      if (b.bottom - b.top > imageHeight) b.bottom = SInt16(b.top + imageHeight);
      return SetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
    }
    case kEventWindowBoundsChanged: {
      if (!sizeAttributes(event)) return eventNotHandledErr;
      Rect b;
      if (GetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b) ==
          noErr)
        myReSizePreviewWindowControls(w);
      return noErr;
    }
    case kEventWindowClose:
      // The close box stops the camera; the window stays until the camera closes.
      myStopLXScopeControl(r);
      myStopCamera(r);
      return noErr;
    case kEventWindowClickContentRgn:
      return pick(r, event);
    case kEventWindowGetMinimumSize: {
      const Point size = {kMyPreviewWindowMinimumSize, kMyPreviewWindowMinimumSize};
      return SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
    }
    case kEventWindowGetMaximumSize: {
      Rect area;
      if (GetAvailableWindowPositioningBounds(GetMainDevice(), &area) != noErr) return eventNotHandledErr;
      const Point size = {SInt16(std::min<SInt32>(imageHeight, area.bottom)),
                          SInt16(std::min<SInt32>(imageWidth, area.right))};
      return SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
    }
  }
  return eventNotHandledErr;
}

}  // namespace

UInt32 myClampSpotCoordinate(UInt32 value, UInt32 size, UInt32 margin) {
  if (size < 2 * margin) return size / 2;
  return std::clamp(value, margin, size - margin);
}

OSStatus myPreviewWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(userData);
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  if (cls == kEventClassKeyboard && GetEventKind(event) == kEventRawKeyDown) {
    keyDown(r, event);
    return eventNotHandledErr;  // the keys keep their standard handling
  }
  if (cls == kEventClassWindow) return windowEvent(r, event);
  return eventNotHandledErr;
}

void livePreviewWindowScrollImageUPPProc(ControlRef bar, ControlPartCode part) {
  if (part == kControlNoPart || bar == nullptr) return;
  WindowRef w = GetControlOwner(bar);
  MyCameraWindowDataStruct* r = recordOf(w);
  if (r == nullptr) return;
  const bool horizontal = bar == r->mHScrollBar;
  Rect content;
  GetWindowPortBounds(w, &content);
  const SInt32 page = horizontal ? content.right - content.left : content.bottom - content.top;
  const SInt32 minimum = GetControl32BitMinimum(bar), maximum = GetControl32BitMaximum(bar);
  SInt32 value = GetControl32BitValue(bar);
  switch (part) {
    case kControlUpButtonPart: value -= kLineScroll; break;
    case kControlDownButtonPart: value += kLineScroll; break;
    case kControlPageUpPart: value -= page; break;
    case kControlPageDownPart: value += page; break;
    case kControlIndicatorPart: break;  // the tracking has set the value
    default: return;
  }
  if (part != kControlIndicatorPart) {
    value = std::max(minimum, std::min(value, maximum));
    SetControl32BitValue(bar, value);
  }
  if (horizontal)
    r->mScrollOffset.h = SInt16(value - minimum);
  else
    r->mScrollOffset.v = SInt16(value - minimum);

  InvalWindowRect(w, &content);
  BeginUpdate(w);
  // As the display timer: raise the busy counter before looking at the
  // conversion counter, so a frame that starts converting now backs off.
  IncrementAtomic(&r->mDisplayBusy);
  if (ld(r->mPreviewConverting) == 0) {
    void* frame = r->mLongExposureFrame && ld(r->mLongExposure) == 1 ? r->mLongExposureFrame : r->mPreviewBuffer;
    myDrawVideoPreview(r, frame);
  }
  DecrementAtomic(&r->mDisplayBusy);
  EndUpdate(w);
}
