#include "image_windows/LRGBAlign.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "image_windows/ImageWindow.h"
#include "pixel/StarProfile.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/coreservices/CoreServices.h"
#include "stacking/EnlargedView.h"
#include "utilities/Controls.h"
#include "utilities/EditText.h"
#include "utilities/ImageViews.h"

namespace {

constexpr OSType kWell = FOUR_CHAR_CODE("IMAG");
constexpr OSType kHorzBar = FOUR_CHAR_CODE("SBHZ");
constexpr OSType kVertBar = FOUR_CHAR_CODE("SBVT");
constexpr OSType kEnlarged = FOUR_CHAR_CODE("ENLV");
constexpr OSType kActivePopup = FOUR_CHAR_CODE("ACLY");
constexpr OSType kSizePopup = FOUR_CHAR_CODE("SIZL");
constexpr OSType kWidthField = FOUR_CHAR_CODE("WIDL");
constexpr OSType kHeightField = FOUR_CHAR_CODE("HETL");
constexpr OSType kRotationField = FOUR_CHAR_CODE("ROAT");
constexpr OSType kOpaque = FOUR_CHAR_CODE("OPAQ");
constexpr UInt32 kOK = FOUR_CHAR_CODE("ok  ");
constexpr UInt32 kCancel = FOUR_CHAR_CODE("not!");

constexpr SInt32 kCropStart = 40000;
constexpr float kDegreesToRadians = 0.017453292f;
constexpr char kEnlargedClassID[] = "com.skyloom.lrgbalign.enlargedView";

// Key codes of the arrow keys as characters.
constexpr char kTabKey = 9, kLeftArrow = 28, kRightArrow = 29, kUpArrow = 30, kDownArrow = 31;
constexpr char kReturnKey = 13, kEnterKey = 3;

bool present(const MyLRGBAlignDataStruct* r, UInt32 k) { return k < 4 && r->mLayerImage[k] != nullptr; }

bool untouched(const MyLRGBAlignDataStruct* r, UInt32 k) {
  return r->mScaledWidth[k] == r->mLayerWidth[k] && r->mScaledHeight[k] == r->mLayerHeight[k] &&
         r->mRotation[k] == 0.0f;
}

// A float to a whole number, saturating (NaN gives 0).
SInt32 truncToS32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return SInt32(-2147483647 - 1);
  return SInt32(v);
}

// The layer's transformation in the y-up canvas frame: scaled about the
// frame's origin, then turned about the rectangle's centre.
CGAffineTransform layerTransform(const MyLRGBAlignDataStruct* r, UInt32 k, CGRect rect) {
  const double cx = rect.origin.x + rect.size.width / 2, cy = rect.origin.y + rect.size.height / 2;
  const float phi = r->mRotation[k] * -kDegreesToRadians;
  const float sx = float(r->mScaledWidth[k]) / float(r->mLayerWidth[k]);
  const float sy = float(r->mScaledHeight[k]) / float(r->mLayerHeight[k]);
  CGAffineTransform t = CGAffineTransformIdentity;
  t = CGAffineTransformTranslate(t, cx, cy);
  t = CGAffineTransformRotate(t, phi);
  t = CGAffineTransformTranslate(t, -cx, -cy);
  t = CGAffineTransformScale(t, sx, sy);
  return t;
}

CGRect layerRect(const MyLRGBAlignDataStruct* r, UInt32 k) {
  return CGRectMake(r->mOffsetX[k], double(r->mCanvasHeight) - double(r->mOffsetY[k]) - r->mLayerHeight[k],
                    r->mLayerWidth[k], r->mLayerHeight[k]);
}

void setFieldText(MyLRGBAlignDataStruct* r, ControlKeyFilterUPP filter) {
  const UInt32 k = r->mSizeLayer;
  char text[64];
  std::snprintf(text, sizeof text, "%d", int(SInt64(r->mScaledWidth[k]) - SInt64(r->mLayerWidth[k])));
  mySetUpKeyFilterEditTextField(r->mWindow, kWidthField, 0, text, filter, SRefCon(r));
  std::snprintf(text, sizeof text, "%d", int(SInt64(r->mScaledHeight[k]) - SInt64(r->mLayerHeight[k])));
  mySetUpKeyFilterEditTextField(r->mWindow, kHeightField, 0, text, filter, SRefCon(r));
  std::snprintf(text, sizeof text, "%.3f", double(r->mRotation[k]));
  mySetUpKeyFilterEditTextField(r->mWindow, kRotationField, 0, text, filter, SRefCon(r));
}

void refillFields(MyLRGBAlignDataStruct* r) { setFieldText(r, NewControlKeyFilterUPP(myAlignImageKeyProc)); }

// Draws layer k into the canvas context with the given alpha layout.
void drawLayer(const MyLRGBAlignDataStruct* r, UInt32 k, CGContextRef context, CGColorSpaceRef space,
               CGImageAlphaInfo alpha) {
  if (!present(r, k) || r->mLayerWidth[k] == 0 || r->mLayerHeight[k] == 0) return;
  const size_t bytes = size_t(r->mLayerRowBytes[k]) * r->mLayerHeight[k];
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, r->mLayerImage[k], bytes, nullptr);
  CGImageRef image = provider ? CGImageCreate(r->mLayerWidth[k], r->mLayerHeight[k], 8, 32, r->mLayerRowBytes[k],
                                              space, alpha, provider, nullptr, false, kCGRenderingIntentDefault)
                              : nullptr;
  if (image != nullptr) {
    const CGRect rect = layerRect(r, k);
    const float sx = float(r->mScaledWidth[k]) / float(r->mLayerWidth[k]);
    const float sy = float(r->mScaledHeight[k]) / float(r->mLayerHeight[k]);
    if (sx == 1.0f && sy == 1.0f && r->mRotation[k] == 0.0f) {
      CGContextDrawImage(context, rect, image);
    } else {
      const double cx = rect.origin.x + rect.size.width / 2, cy = rect.origin.y + rect.size.height / 2;
      CGContextSaveGState(context);
      CGContextTranslateCTM(context, cx, cy);
      CGContextRotateCTM(context, -r->mRotation[k] * kDegreesToRadians);
      CGContextTranslateCTM(context, -cx, -cy);
      CGContextScaleCTM(context, sx, sy);
      CGContextDrawImage(context, rect, image);
      CGContextRestoreGState(context);
    }
  }
  CGImageRelease(image);
  CGDataProviderRelease(provider);
}

// The visible part of the canvas into the well.
void blitWell(MyLRGBAlignDataStruct* r) {
  if (r->mWindow == nullptr || r->mCanvas == nullptr) return;
  const float zoom = r->mZoom > 0 ? r->mZoom : 1.0f;
  SInt32 w = r->mWellRect.right - r->mWellRect.left;
  SInt32 h = r->mWellRect.bottom - r->mWellRect.top;
  if (r->mVertBarShown) w -= r->mScrollBarSize;
  if (r->mHorzBarShown) h -= r->mScrollBarSize;
  const SInt32 srcX = truncToS32(r->mScrollH / zoom), srcY = truncToS32(r->mScrollV / zoom);
  if (srcX < 0 || srcY < 0 || UInt32(srcX) >= r->mCanvasWidth || UInt32(srcY) >= r->mCanvasHeight) return;
  // A canvas smaller than the well: only the canvas is copied.
  w = std::min<SInt32>(w, SInt32(r->mCanvasWidth) - srcX);
  h = std::min<SInt32>(h, SInt32(r->mCanvasHeight) - srcY);
  if (w <= 0 || h <= 0) return;
  CGContextRef context = nullptr;
  CGrafPtr port = GetWindowPort(r->mWindow);
  if (CreateCGContextForPort(port, &context) != noErr || context == nullptr) return;
  Rect bounds;
  GetPortBounds(port, &bounds);
  const SInt32 portHeight = bounds.bottom - bounds.top;
  const UInt8* first = r->mCanvas + size_t(srcY) * r->mCanvasRowBytes + size_t(srcX) * 4;
  const size_t bytes = size_t(h - 1) * r->mCanvasRowBytes + size_t(w) * 4;
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, first, bytes, nullptr);
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGImageRef image = provider && space ? CGImageCreate(size_t(w), size_t(h), 8, 32, r->mCanvasRowBytes, space,
                                                       kCGImageAlphaNoneSkipFirst, provider, nullptr, false,
                                                       kCGRenderingIntentDefault)
                                       : nullptr;
  // Top-aligned with the well, in the port's y-up coordinates.
  if (image) CGContextDrawImage(context, CGRectMake(r->mWellRect.left, portHeight - r->mWellRect.top - h, w, h), image);
  CGImageRelease(image);
  CGColorSpaceRelease(space);
  CGDataProviderRelease(provider);
  CGContextSynchronize(context);
  CGContextRelease(context);
}

void layOutScrollBars(MyLRGBAlignDataStruct* r) {
  if (r->mWindow == nullptr) return;
  InvalWindowRect(r->mWindow, &r->mWellRect);
  const SInt32 wellW = r->mWellRect.right - r->mWellRect.left;
  const SInt32 wellH = r->mWellRect.bottom - r->mWellRect.top;
  const SInt32 size = r->mScrollBarSize;
  const SInt32 canvasW = SInt32(r->mCanvasWidth), canvasH = SInt32(r->mCanvasHeight);
  if (r->mScrollH + wellW > canvasW) r->mScrollH = SInt16(std::max<SInt32>(0, canvasW - wellW));
  if (r->mScrollV + wellH > canvasH) r->mScrollV = SInt16(std::max<SInt32>(0, canvasH - wellH));
  if (r->mHorzScrollBar) {
    if (canvasW > wellW) {
      Rect b{SInt16(r->mWellRect.bottom - size), r->mWellRect.left, r->mWellRect.bottom,
             SInt16(r->mWellRect.left + wellW - size + 1)};
      SetControlBounds(r->mHorzScrollBar, &b);
      SetControl32BitMinimum(r->mHorzScrollBar, 0);
      SetControl32BitMaximum(r->mHorzScrollBar, canvasW - wellW);
      SetControlViewSize(r->mHorzScrollBar, wellW);
      SetControl32BitValue(r->mHorzScrollBar, r->mScrollH);
      ShowControl(r->mHorzScrollBar);
      r->mHorzBarShown = 1;
    } else {
      HideControl(r->mHorzScrollBar);
      r->mHorzBarShown = 0;
    }
  }
  if (r->mVertScrollBar) {
    if (canvasH > wellH) {
      Rect b{r->mWellRect.top, SInt16(r->mWellRect.right - size), SInt16(r->mWellRect.top + wellH - size + 1),
             r->mWellRect.right};
      SetControlBounds(r->mVertScrollBar, &b);
      SetControl32BitMinimum(r->mVertScrollBar, 0);
      SetControl32BitMaximum(r->mVertScrollBar, canvasH - wellH);
      SetControlViewSize(r->mVertScrollBar, wellH);
      SetControl32BitValue(r->mVertScrollBar, r->mScrollV);
      ShowControl(r->mVertScrollBar);
      r->mVertBarShown = 1;
    } else {
      HideControl(r->mVertScrollBar);
      r->mVertBarShown = 0;
    }
  }
}

MyLRGBAlignDataStruct* recordOf(void* p) {
  auto* r = static_cast<MyLRGBAlignDataStruct*>(p);
  return r != nullptr && r->mRecordTag == kLRGBAlignRecordTag ? r : nullptr;
}

void applyFocusedField(MyLRGBAlignDataStruct* r) {
  ControlRef focus = nullptr;
  if (GetKeyboardFocus(r->mWindow, &focus) != noErr || focus == nullptr) return;
  ControlID id;
  if (GetControlID(focus, &id) == noErr) myAlignImagesProcessEdTextFields(r, id.signature, id.id);
}

void arrowMove(MyLRGBAlignDataStruct* r, char key) {
  const UInt32 k = r->mActiveLayer;
  if (k >= 4) return;
  SInt64 x = r->mOffsetX[k], y = r->mOffsetY[k];
  bool ok = false;
  switch (key) {
    case kLeftArrow: ok = --x >= 0; break;
    case kRightArrow: ok = ++x <= SInt64(r->mMaxLayerWidth); break;
    case kUpArrow: ok = --y >= 0; break;
    default: ok = ++y < SInt64(r->mMaxLayerHeight); break;
  }
  if (!ok) {
    SysBeep(1);
    return;
  }
  r->mOffsetX[k] = SInt32(x);
  r->mOffsetY[k] = SInt32(y);
  myUpdateTheLRGBPixelArea(r);
}

// The canvas point of a window-local mouse point (not rounded).
void canvasPoint(const MyLRGBAlignDataStruct* r, Point p, double* x, double* y) {
  const double zoom = r->mZoom > 0 ? r->mZoom : 1.0;
  *x = (double(p.h - r->mWellRect.left) + r->mScrollH) / zoom;
  *y = (double(p.v - r->mWellRect.top) + r->mScrollV) / zoom;
}

void dragActiveLayer(MyLRGBAlignDataStruct* r, Point start) {
  const UInt32 k = r->mActiveLayer;
  if (k >= 4) return;
  SetThemeCursor(kThemeClosedHandCursor);
  double lastX, lastY;
  canvasPoint(r, start, &lastX, &lastY);
  MouseTrackingResult result = kMouseTrackingMouseDown;
  while (result != kMouseTrackingMouseReleased) {
    Point p;
    if (TrackMouseLocation(nullptr, &p, &result) != noErr) break;
    double x, y;
    canvasPoint(r, p, &x, &y);
    const double dx = x - lastX, dy = y - lastY;
    const double nx = r->mOffsetX[k] + dx, ny = r->mOffsetY[k] + dy;
    const bool xOK = dx <= 0 ? nx >= 0 : nx <= double(r->mMaxLayerWidth);
    const bool yOK = dy <= 0 ? ny >= 0 : ny <= double(r->mMaxLayerHeight);
    if (xOK && yOK) {
      r->mOffsetX[k] = truncToS32(nx);
      r->mOffsetY[k] = truncToS32(ny);
      lastX = x;
      lastY = y;
      myUpdateTheLRGBPixelArea(r);
    } else {
      SysBeep(1);
    }
  }
  SetThemeCursor(kThemeOpenHandCursor);
}

OSStatus handleCommand(MyLRGBAlignDataStruct* r, UInt32 command) {
  switch (command) {
    case kWidthField:
    case kHeightField:
    case kRotationField:
      myAlignImagesProcessEdTextFields(r, command, 0);
      return noErr;
    case kOpaque:
      r->mOpaque = r->mOpaque ? 0 : 1;
      myUpdateTheLRGBPixelArea(r);
      return noErr;
    case kActivePopup: {
      const SInt32 item = myGetControlValue(r->mWindow, kActivePopup, 0);
      const SInt32 layer = r->mLayerCount == 4 ? item : item - 1;
      if (layer >= 0 && layer < 4 && present(r, UInt32(layer)) && UInt32(layer) != r->mActiveLayer) {
        r->mActiveLayer = UInt32(layer);
        myUpdateTheLRGBPixelArea(r);
      }
      return noErr;
    }
    case kSizePopup: {
      const SInt32 item = myGetControlValue(r->mWindow, kSizePopup, 0);
      // With three layers the luma item is gone: item n is the layer n - 1 of red, green, blue.
      if (item >= 1 && item <= 4 && present(r, UInt32(item - 1))) {
        r->mSizeLayer = UInt32(item - 1);
        refillFields(r);
      }
      return noErr;
    }
    case kOK: {
      SInt32 box[4];
      if (!myLRGBAlignCommonArea(r, box)) {
        SysBeep(1);  // nothing in common: the import would get an empty picture
        return noErr;
      }
      r->mAccepted = 1;
      QuitAppModalLoopForWindow(r->mWindow);
      return noErr;
    }
    case kCancel:
      r->mAccepted = 0;
      QuitAppModalLoopForWindow(r->mWindow);
      return noErr;
    default:
      return eventNotHandledErr;
  }
}

// Takes the window and everything made for it down.
void closeWindow(MyLRGBAlignDataStruct* r) {
  if (r->mWindow) HideWindow(r->mWindow);
  if (r->mWindowHandler) RemoveEventHandler(r->mWindowHandler);
  r->mWindowHandler = nullptr;
  if (r->mWindowHandlerUPP) DisposeEventHandlerUPP(r->mWindowHandlerUPP);
  r->mWindowHandlerUPP = nullptr;
  if (r->mScrollActionUPP) DisposeControlActionUPP(r->mScrollActionUPP);
  r->mScrollActionUPP = nullptr;
  if (r->mEnlargedView) DisposeControl(r->mEnlargedView);
  r->mEnlargedView = nullptr;
  r->mEnlargedInstance = nullptr;
  std::free(r->mEnlargedBuffer);
  r->mEnlargedBuffer = nullptr;
  std::free(r->mCanvas);
  r->mCanvas = nullptr;
  if (r->mWindow) DisposeWindow(r->mWindow);
  r->mWindow = nullptr;
  r->mWindowTarget = nullptr;
  r->mHorzScrollBar = r->mVertScrollBar = nullptr;
  myUnregisterEnlargedViewClass(&r->mEnlargedClass);
  if (r->mEnlargedUPP) DisposeEventHandlerUPP(r->mEnlargedUPP);
  r->mEnlargedUPP = nullptr;
}

}  // namespace

void myLRGBAlignStretchBytes(UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes, SInt32 lo, SInt32 hi) {
  if (image == nullptr) return;
  SInt32 range = hi - lo;
  if (range <= 0) return;
  // A narrow span is shown at 255 / 64 over 64 levels from lo, not cut at its
  // own top.
  range = std::max<SInt32>(range, 64);
  hi = lo + range;
  const Fixed factor = FixDiv(Long2Fix(255), Long2Fix(range));
  UInt8 table[256];
  for (SInt32 v = 0; v < 256; ++v) {
    if (v <= lo) {
      table[v] = 0;
    } else if (v >= hi) {
      table[v] = 255;
    } else {
      const SInt64 product = SInt64(factor) * (v - lo);
      table[v] = product >= 0xFE0001 ? 255 : UInt8(product >> 16);
    }
  }
  for (UInt32 y = 0; y < height; ++y) {
    UInt8* p = image + size_t(y) * rowBytes;
    for (UInt32 x = 0; x < width; ++x, p += 4) {
      p[1] = table[p[1]];
      p[2] = table[p[2]];
      p[3] = table[p[3]];
    }
  }
}

void myLRGBAlignStretchDisplayCopy(UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes) {
  if (image == nullptr) return;
  auto* histogram = static_cast<UInt32*>(std::calloc(256, sizeof(UInt32)));
  if (histogram == nullptr) return;  // shown as it is
  for (UInt32 y = 0; y < height; ++y) {
    const UInt8* p = image + size_t(y) * rowBytes;
    for (UInt32 x = 0; x < width; ++x, p += 4) {
      ++histogram[p[1]];
      ++histogram[p[2]];
      ++histogram[p[3]];
    }
  }
  const SInt32 lo = SInt32(myCalcMono8MedianVal(histogram, 0.005));
  const SInt32 hi = SInt32(myCalcMono8MedianVal(histogram, 0.995));
  std::free(histogram);
  myLRGBAlignStretchBytes(image, width, height, rowBytes, lo, hi);
}

void myLRGBAlignLayerBox(const MyLRGBAlignDataStruct* r, UInt32 k, SInt32 box[4]) {
  SInt64 left, top, right, bottom;
  if (untouched(r, k)) {
    left = r->mOffsetX[k];
    top = r->mOffsetY[k];
    right = left + r->mLayerWidth[k];
    bottom = top + r->mLayerHeight[k];
  } else {
    const CGRect b = CGRectApplyAffineTransform(layerRect(r, k), layerTransform(r, k, layerRect(r, k)));
    left = truncToS32(b.origin.x);
    top = truncToS32(double(r->mCanvasHeight) - (b.size.height + b.origin.y));
    right = truncToS32(double(left) + b.size.width);
    bottom = truncToS32(double(top) + b.size.height);
  }
  // Held inside the canvas in signed arithmetic: a box past an edge keeps its
  // part on the canvas.
  box[0] = SInt32(std::clamp<SInt64>(left, 0, r->mCanvasWidth));
  box[1] = SInt32(std::clamp<SInt64>(top, 0, r->mCanvasHeight));
  box[2] = SInt32(std::clamp<SInt64>(right, 0, r->mCanvasWidth));
  box[3] = SInt32(std::clamp<SInt64>(bottom, 0, r->mCanvasHeight));
}

bool myLRGBAlignCommonArea(const MyLRGBAlignDataStruct* r, SInt32 box[4]) {
  box[0] = box[1] = 0;
  box[2] = box[3] = kCropStart;
  for (UInt32 k = 0; k < 4; ++k) {
    if (!present(r, k)) continue;
    SInt32 b[4];
    myLRGBAlignLayerBox(r, k, b);
    box[0] = std::max(box[0], b[0]);
    box[1] = std::max(box[1], b[1]);
    box[2] = std::min(box[2], b[2]);
    box[3] = std::min(box[3], b[3]);
  }
  return box[2] > box[0] && box[3] > box[1];
}

void myUpdateTheLRGBPixelArea(MyLRGBAlignDataStruct* r) {
  if (r == nullptr || r->mCanvas == nullptr) return;
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGContextRef context = space ? CGBitmapContextCreate(r->mCanvas, r->mCanvasWidth, r->mCanvasHeight, 8,
                                                       r->mCanvasRowBytes, space, kCGImageAlphaPremultipliedFirst)
                               : nullptr;
  if (context != nullptr) {
    CGContextSetLineWidth(context, 1.0);
    CGContextSetLineCap(context, kCGLineCapSquare);
    CGContextSetLineJoin(context, kCGLineJoinMiter);
    CGContextSetLineDash(context, 0, nullptr, 0);
    CGContextSetInterpolationQuality(context, kCGInterpolationDefault);
    CGContextSetRGBFillColor(context, 0.5, 0.5, 0.5, 1.0);
    CGContextFillRect(context, CGRectMake(0, 0, r->mCanvasWidth, r->mCanvasHeight));
    drawLayer(r, r->mReferenceLayer, context, space, kCGImageAlphaNoneSkipFirst);
    drawLayer(r, r->mActiveLayer, context, space, r->mOpaque == 1 ? kCGImageAlphaNoneSkipFirst : kCGImageAlphaFirst);
    CGContextRelease(context);
  }
  CGColorSpaceRelease(space);
  if (context == nullptr) return;
  blitWell(r);
  if (r->mShowEnlarged) myLRGBAlignBlitEnlargedViewIntoImageWell3X(r, r->mViewCenterX, r->mViewCenterY);
}

void myLRGBAlignBlitEnlargedViewIntoImageWell3X(MyLRGBAlignDataStruct* r, UInt32 x, UInt32 y) {
  if (r == nullptr || r->mWindow == nullptr) return;
  r->mViewCenterX = x;
  r->mViewCenterY = y;
  const EnlargedViewSource source{r->mCanvas, 32, r->mCanvasWidth, r->mCanvasHeight, r->mCanvasRowBytes};
  myEnlargedViewBlit3X(r->mWindow, &source, r->mShowEnlarged, x, y, &r->mEnlargedBuffer);
}

OSStatus myLRGBAlignEnlargedViewCustomeControlller(EventHandlerCallRef call, EventRef event, void* userData) {
  auto* r = static_cast<MyLRGBAlignDataStruct*>(userData);
  if (r == nullptr) return myEnlargedViewController(call, event, nullptr);
  const EnlargedViewOwner owner{r,
                                &r->mEnlargedInstance,
                                &r->mShowEnlarged,
                                &r->mViewCenterX,
                                &r->mViewCenterY,
                                [](void* record, UInt32 x, UInt32 y) {
                                  myLRGBAlignBlitEnlargedViewIntoImageWell3X(
                                      static_cast<MyLRGBAlignDataStruct*>(record), x, y);
                                }};
  return myEnlargedViewController(call, event, &owner);
}

OSStatus myAlignImagesProcessEdTextFields(MyLRGBAlignDataStruct* r, OSType signature, SInt32 id) {
  if (r == nullptr || r->mWindow == nullptr || r->mSizeLayer >= 4) return noErr;
  const UInt32 k = r->mSizeLayer;
  if (signature == kRotationField) {
    float value = r->mRotation[k];
    if (myTestFloatEditTxt(r->mWindow, kRotationField, id, 3, 1, -360.0f, 360.0f, &value) == noErr &&
        value != r->mRotation[k]) {
      r->mRotation[k] = value;
      myUpdateTheLRGBPixelArea(r);
    }
  } else if (signature == kWidthField || signature == kHeightField) {
    const bool width = signature == kWidthField;
    const UInt32 natural = width ? r->mLayerWidth[k] : r->mLayerHeight[k];
    UInt32& scaled = width ? r->mScaledWidth[k] : r->mScaledHeight[k];
    const UInt32 canvas = width ? r->mCanvasWidth : r->mCanvasHeight;
    SInt32 value = SInt32(SInt64(scaled) - SInt64(natural));
    const SInt32 before = value;
    if (myTestS32EditTxt(r->mWindow, signature, id, 1, 1 - SInt32(natural), SInt32(canvas), &value) == noErr &&
        value != before) {
      scaled = UInt32(SInt64(natural) + value);
      myUpdateTheLRGBPixelArea(r);
    }
  }
  return noErr;
}

ControlKeyFilterResult myAlignImageKeyProc(ControlRef control, SInt16*, SInt16* charCode, EventModifiers*) {
  auto* r = recordOf(reinterpret_cast<void*>(GetControlReference(control)));
  if (r == nullptr || charCode == nullptr) return kControlKeyFilterPassKey;
  if (*charCode == kReturnKey || *charCode == kEnterKey) {
    ControlID id;
    if (GetControlID(control, &id) == noErr) myAlignImagesProcessEdTextFields(r, id.signature, id.id);
    return kControlKeyFilterBlockKey;
  }
  return kControlKeyFilterPassKey;
}

void myManualyAlignImagesWindowScrollImageUPPProc(ControlRef control, ControlPartCode part) {
  WindowRef window = GetControlOwner(control);
  auto* r = window ? recordOf(reinterpret_cast<void*>(GetWRefCon(window))) : nullptr;
  if (r == nullptr) return;
  const bool vertical = control == r->mVertScrollBar;
  const SInt32 page = vertical ? r->mWellRect.bottom - r->mWellRect.top : r->mWellRect.right - r->mWellRect.left;
  SInt32 value = GetControl32BitValue(control);
  switch (part) {
    case kControlUpButtonPart: value -= 5; break;
    case kControlDownButtonPart: value += 5; break;
    case kControlPageUpPart: value -= page; break;
    case kControlPageDownPart: value += page; break;
    default: break;  // the thumb: the value as it stands
  }
  const SInt32 minimum = GetControl32BitMinimum(control), maximum = GetControl32BitMaximum(control);
  value = std::clamp(value, minimum, std::max(minimum, maximum));
  SetControl32BitValue(control, value);
  if (vertical)
    r->mScrollV = SInt16(value - minimum);
  else
    r->mScrollH = SInt16(value - minimum);
  InvalWindowRect(r->mWindow, &r->mWellRect);
  BeginUpdate(r->mWindow);
  myUpdateTheLRGBPixelArea(r);
  EndUpdate(r->mWindow);
}

OSStatus myManuallyAlignEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  MyLRGBAlignDataStruct* r = recordOf(userData);
  if (r == nullptr || r->mWindow == nullptr) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassMouse && kind == kEventMouseMoved) {
    UInt32 x = 0, y = 0;
    if (myEnlargedViewImagePoint(event, r->mWindow, r->mWellRect, r->mScrollH, r->mScrollV, r->mZoom, &x, &y) ==
        noErr)
      myLRGBAlignBlitEnlargedViewIntoImageWell3X(r, x, y);
    return eventNotHandledErr;
  }
  if (cls == kEventClassMouse && kind == kEventMouseDown) {
    applyFocusedField(r);
    return eventNotHandledErr;
  }
  if (cls == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) != noErr)
      return eventNotHandledErr;
    return handleCommand(r, command.commandID);
  }
  if (cls == kEventClassWindow && kind == kEventWindowUpdate) {
    BeginUpdate(r->mWindow);
    myUpdateTheLRGBPixelArea(r);
    EndUpdate(r->mWindow);
    return noErr;
  }
  if (cls == kEventClassWindow && kind == kEventWindowDrawContent) {
    myUpdateTheLRGBPixelArea(r);
    return noErr;
  }
  if (cls == kEventClassWindow && kind == kEventWindowHandleContentClick) {
    Point where{0, 0};
    if (GetEventParameter(event, kEventParamWindowMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr,
                          &where) != noErr) {
      if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where) !=
          noErr)
        return eventNotHandledErr;
      SkyloomGlobalToLocal(r->mWindow, &where);
    }
    const SInt32 right = r->mWellRect.right - (r->mVertBarShown ? r->mScrollBarSize : 0);
    const SInt32 bottom = r->mWellRect.bottom - (r->mHorzBarShown ? r->mScrollBarSize : 0);
    if (where.h >= r->mWellRect.left && where.h < right && where.v >= r->mWellRect.top && where.v < bottom)
      dragActiveLayer(r, where);
    else
      SetThemeCursor(kThemeArrowCursor);
    return eventNotHandledErr;
  }
  if (cls == kEventClassKeyboard && (kind == kEventRawKeyDown || kind == kEventRawKeyRepeat)) {
    char key = 0;
    if (GetEventParameter(event, kEventParamKeyMacCharCodes, typeChar, nullptr, sizeof key, nullptr, &key) != noErr)
      return eventNotHandledErr;
    switch (key) {
      case kTabKey:
        applyFocusedField(r);
        return eventNotHandledErr;
      case kLeftArrow:
      case kRightArrow:
      case kUpArrow:
      case kDownArrow:
        arrowMove(r, key);
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  return eventNotHandledErr;
}

OSStatus myManualyAlignImages(MyLRGBAlignDataStruct* r) {
  if (r == nullptr) return paramErr;
  // Display copies stretched once for viewing; the canvas takes the largest layer.
  r->mMaxLayerWidth = r->mMaxLayerHeight = 0;
  for (UInt32 k = 0; k < 4; ++k) {
    if (!present(r, k)) continue;
    r->mRotation[k] = 0.0f;
    r->mScaledWidth[k] = r->mLayerWidth[k];
    r->mScaledHeight[k] = r->mLayerHeight[k];
    r->mMaxLayerWidth = std::max(r->mMaxLayerWidth, r->mLayerWidth[k]);
    r->mMaxLayerHeight = std::max(r->mMaxLayerHeight, r->mLayerHeight[k]);
    myLRGBAlignStretchDisplayCopy(r->mLayerImage[k], r->mLayerWidth[k], r->mLayerHeight[k], r->mLayerRowBytes[k]);
  }
  r->mCanvasWidth = UInt32(UInt64(r->mMaxLayerWidth) * 3 / 2);
  r->mCanvasHeight = UInt32(UInt64(r->mMaxLayerHeight) * 3 / 2);
  r->mCanvasRowBytes = 4 * r->mCanvasWidth;
  r->mCanvasCenterX = r->mCanvasWidth / 2;
  r->mCanvasCenterY = r->mCanvasHeight / 2;
  r->mRecordTag = kLRGBAlignRecordTag;
  r->mWindow = nullptr;
  r->mWindowTarget = nullptr;
  r->mWindowHandler = nullptr;
  r->mWindowHandlerUPP = nullptr;
  r->mScrollActionUPP = nullptr;
  r->mHorzScrollBar = r->mVertScrollBar = nullptr;
  r->mEnlargedClass = nullptr;
  r->mEnlargedUPP = nullptr;
  r->mEnlargedInstance = nullptr;
  r->mEnlargedView = nullptr;
  r->mEnlargedBuffer = nullptr;
  r->mShowEnlarged = 0;
  r->mViewCenterX = r->mViewCenterY = 0;
  r->mAccepted = 0;
  r->mSizeLayer = 0;
  r->mScrollH = r->mScrollV = 0;
  r->mHorzBarShown = r->mVertBarShown = 0;
  r->mScrollBarSize = 0;
  r->mZoom = 1.0f;
  r->mWellRect = Rect{0, 0, 0, 0};
  r->mCanvas = nullptr;
  // A canvas too large for a window's coordinates, or one that cannot be
  // made, ends the window before it is shown.
  const UInt64 canvasBytes = UInt64(r->mCanvasRowBytes) * r->mCanvasHeight + 16;
  if (r->mCanvasWidth == 0 || r->mCanvasHeight == 0 || r->mCanvasWidth > 32767 || r->mCanvasHeight > 32767)
    return memFullErr;
  r->mCanvas = static_cast<UInt8*>(std::malloc(size_t(canvasBytes)));
  if (r->mCanvas == nullptr) return memFullErr;
  for (UInt32 k = 0; k < 4; ++k) {
    if (!present(r, k)) continue;
    r->mOffsetX[k] = SInt32(r->mCanvasCenterX) - SInt32(r->mLayerWidth[k] / 2);
    r->mOffsetY[k] = SInt32(r->mCanvasCenterY) - SInt32(r->mLayerHeight[k] / 2);
  }
  r->mCanvasRect = Rect{0, 0, SInt16(r->mCanvasHeight), SInt16(r->mCanvasWidth)};

  r->mEnlargedUPP = NewEventHandlerUPP(myLRGBAlignEnlargedViewCustomeControlller);
  if (r->mEnlargedUPP == nullptr) {
    closeWindow(r);
    return memFullErr;
  }
  CFStringRef classID = CFStringCreateWithCString(nullptr, kEnlargedClassID, kCFStringEncodingUTF8);
  OSStatus err = myRegisterEnlargedViewClass(classID, r->mEnlargedUPP, r, &r->mEnlargedClass);
  if (err != noErr) {
    CFRelease(classID);
    closeWindow(r);
    return err;
  }
  IBNibRef nib = nullptr;
  err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("LRGBAlign"), &r->mWindow);
    DisposeNibReference(nib);
  }
  if (err != noErr || r->mWindow == nullptr) {
    r->mWindow = nullptr;
    CFRelease(classID);
    closeWindow(r);
    return err != noErr ? err : OSStatus(memFullErr);
  }
  SetWRefCon(r->mWindow, SRefCon(r));
  r->mWindowTarget = GetWindowEventTarget(r->mWindow);

  UInt32 newWidth = 0, newHeight = 0, left = 0, top = 0;
  if (myCalcOptimumWindowSizeforHIView(r->mWindow, kWell, 0, r->mCanvasWidth, r->mCanvasHeight, &newWidth,
                                       &newHeight, &left, &top) == 1) {
    Rect content;
    GetWindowPortBounds(r->mWindow, &content);
    const SInt32 dw = SInt32(newWidth) - (content.right - content.left);
    const SInt32 dh = SInt32(newHeight) - (content.bottom - content.top);
    const OSType moved[] = {kCancel, kOK, kActivePopup, kSizePopup, kOpaque};
    for (OSType s : moved) myLocalOffsetControl(r->mWindow, s, 0, dw, dh);
    for (OSType s : {kWidthField, kHeightField, kRotationField}) {
      myLocalOffsetControl(r->mWindow, s, 0, dw, dh);
      myLocalOffsetControl(r->mWindow, s, 1, dw, dh);
    }
    myLocalOffsetControl(r->mWindow, kEnlarged, 0, 0, dh);
    ControlRef well = nullptr;
    const ControlID wellID{kWell, 0};
    if (GetControlByID(r->mWindow, &wellID, &well) == noErr && well) {
      Rect b;
      GetControlBounds(well, &b);
      b.right = SInt16(b.right + dw);
      b.bottom = SInt16(b.bottom + dh);
      SetControlBounds(well, &b);
    }
    MoveWindow(r->mWindow, SInt16(left), SInt16(top), false);
    SizeWindow(r->mWindow, SInt16(newWidth), SInt16(newHeight), true);
  }
  {
    ControlRef well = nullptr;
    const ControlID wellID{kWell, 0};
    if (GetControlByID(r->mWindow, &wellID, &well) == noErr && well) GetControlBounds(well, &r->mWellRect);
  }
  static const EventTypeSpec events[] = {
      {kEventClassMouse, kEventMouseMoved},          {kEventClassCommand, kEventCommandProcess},
      {kEventClassMouse, kEventMouseDown},           {kEventClassWindow, kEventWindowUpdate},
      {kEventClassWindow, kEventWindowDrawContent},  {kEventClassWindow, kEventWindowHandleContentClick},
      {kEventClassKeyboard, kEventRawKeyDown},       {kEventClassKeyboard, kEventRawKeyRepeat},
  };
  r->mWindowHandlerUPP = NewEventHandlerUPP(myManuallyAlignEventHandler);
  err = InstallWindowEventHandler(r->mWindow, r->mWindowHandlerUPP, sizeof events / sizeof events[0], events, r,
                                  &r->mWindowHandler);
  if (err != noErr) {
    r->mWindowHandler = nullptr;
    CFRelease(classID);
    closeWindow(r);
    return err;
  }

  const ControlKeyFilterUPP keyFilter = NewControlKeyFilterUPP(myAlignImageKeyProc);
  r->mScrollActionUPP = NewControlActionUPP(myManualyAlignImagesWindowScrollImageUPPProc);
  const ControlID vertID{kVertBar, 0}, horzID{kHorzBar, 0};
  GetControlByID(r->mWindow, &vertID, &r->mVertScrollBar);
  GetControlByID(r->mWindow, &horzID, &r->mHorzScrollBar);
  if (r->mVertScrollBar) {
    HideControl(r->mVertScrollBar);
    SetControlAction(r->mVertScrollBar, r->mScrollActionUPP);
  }
  if (r->mHorzScrollBar) {
    HideControl(r->mHorzScrollBar);
    Rect b;
    GetControlBounds(r->mHorzScrollBar, &b);
    r->mScrollBarSize = SInt16(b.bottom - b.top);
    SetControlAction(r->mHorzScrollBar, r->mScrollActionUPP);
  }
  layOutScrollBars(r);

  if (r->mEnlargedClass != nullptr) {
    r->mEnlargedView = myCreateEnlargedView(r->mWindow, classID);
    if (r->mEnlargedView != nullptr) r->mShowEnlarged = 1;
  }
  CFRelease(classID);

  r->mAccepted = 1;
  if (r->mLayerCount == 3) {
    myChangePopMenuControl(r->mWindow, kActivePopup, 2, -1, 0);
    myDeleteAPopMenuItem(r->mWindow, kSizePopup, 1);
  } else if (r->mLayerCount == 2) {
    mySetControlValue(r->mWindow, kActivePopup, 0, 2);
    myEnableDisableControl(r->mWindow, kActivePopup, 0, 0);
    myChangePopMenuControl(r->mWindow, kSizePopup, 3, -1, 0);
    myChangePopMenuControl(r->mWindow, kSizePopup, 4, -1, 0);
    mySetPopMenuControlString(r->mWindow, kSizePopup, 2, "RGB");
  }
  if (r->mLayerCount != 2 && r->mActiveLayer < 4)
    mySetControlValue(r->mWindow, kActivePopup, 0, SInt32(r->mLayerCount == 4 ? r->mActiveLayer : r->mActiveLayer + 1));
  r->mSizeLayer = 0;
  mySetControlValue(r->mWindow, kSizePopup, 0, 1);
  setFieldText(r, keyFilter);
  mySetEditTextSelectionAndFocus(r->mWindow, kWidthField, 0);

  ShowWindow(r->mWindow);
  SetThemeCursor(kThemeArrowCursor);
  myUpdateTheLRGBPixelArea(r);
  RunAppModalLoopForWindow(r->mWindow);
  r->mShowEnlarged = 0;
  SetThemeCursor(kThemeArrowCursor);

  OSStatus result = userCanceledErr;
  if (r->mAccepted == 1) {
    SInt32 box[4];
    if (myLRGBAlignCommonArea(r, box)) {
      r->mCropLeft = UInt32(box[0]);
      r->mCropTop = UInt32(box[1]);
      r->mCropRight = UInt32(box[2]);
      r->mCropBottom = UInt32(box[3]);
      r->mCompositeWidth = r->mCropRight - r->mCropLeft;
      r->mCompositeHeight = r->mCropBottom - r->mCropTop;
      result = noErr;
    }
  }
  DisposeControlKeyFilterUPP(keyFilter);
  closeWindow(r);
  return result;
}
