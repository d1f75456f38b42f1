#include "app/PreviewDrawing.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/ExposureControls.h"
#include "pixel/live/HistogramPlot.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "utilities/Controls.h"

namespace {

// Fields the delivery thread writes while the preview reads them.
template <class T>
T shared(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

// Saturating float-to-integer conversions (NaN gives 0).
SInt32 toS32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return SInt32(-2147483647 - 1);
  return SInt32(v);
}

SInt16 toS16(double v) {
  if (!(v == v)) return 0;
  return SInt16(std::clamp(std::trunc(v), -32768.0, 32767.0));
}

constexpr double kTwoPi = 6.283185307179586;

struct ViewTransform {
  double z, scrollH, scrollV, height;
  CGPoint operator()(double x, double y) const { return CGPoint{x * z - scrollH, height - y * z + scrollV}; }
};

void strokeCircle(CGContextRef c, CGPoint centre, double radius) {
  CGContextBeginPath(c);
  CGContextAddArc(c, centre.x, centre.y, radius, 0.0, kTwoPi, 0);
  CGContextStrokePath(c);
}

void drawReticle(MyCameraWindowDataStruct* r, CGContextRef c, double z, double hd) {
  const double fw = double(r->mWidth) * z, fh = double(r->mHeight) * z;
  const double yb = hd - fh;
  const double cx = fw * 0.5 - r->mScrollOffset.h;
  const double cy = (yb + hd) * 0.5 + r->mScrollOffset.v;
  const double l = std::min(fw, fh);
  CGContextSetLineWidth(c, 1.5);
  const CGFloat dash[2] = {9.0, 6.0};
  CGContextSetLineDash(c, 0.0, dash, 2);
  CGContextSetRGBStrokeColor(c, 0.5, 0.5, 0.5, 1.0);
  double radius = 20.0;
  strokeCircle(c, {cx, cy}, radius);
  for (radius *= 2.0; radius < l * 0.5; radius *= 2.0) strokeCircle(c, {cx, cy}, radius);
  CGContextSetLineDash(c, 0.0, nullptr, 0);
  CGContextBeginPath(c);
  for (double y : {cy - 5.0, cy + 5.0}) {
    CGContextMoveToPoint(c, 0.0, y);
    CGContextAddLineToPoint(c, cx - 5.0, y);
    CGContextMoveToPoint(c, cx + 5.0, y);
    CGContextAddLineToPoint(c, fw, y);
  }
  for (double x : {cx - 5.0, cx + 5.0}) {
    CGContextMoveToPoint(c, x, yb);
    CGContextAddLineToPoint(c, x, cy - 5.0);
    CGContextMoveToPoint(c, x, cy + 5.0);
    CGContextAddLineToPoint(c, x, hd);
  }
  CGContextSetLineWidth(c, 1.3);
  CGContextStrokePath(c);
  CGContextSetRGBStrokeColor(c, 0.0, 0.0, 0.0, 1.0);
  CGContextSetLineWidth(c, 1.0);
}

void drawGuidingMarks(MyCameraWindowDataStruct* r, CGContextRef c, const ViewTransform& view) {
  CGContextSetLineWidth(c, 3.0);
  const float startX = shared(r->mStartX), startY = shared(r->mStartY);
  if (startX > 0) {
    const CGPoint p = view(startX, startY);
    CGContextBeginPath(c);
    myDrawCross(c, float(p.x), float(p.y), 16.0f, 1);
    CGContextSetRGBStrokeColor(c, 1.0, 0.0, 0.0, 0.7);
    CGContextStrokePath(c);
    const float boxW = shared(r->mTrackBoxWidth), boxH = shared(r->mTrackBoxHeight);
    if (boxW > 0 && boxH > 0) {
      const double w = boxW * view.z, h = boxH * view.z;
      CGContextStrokeRect(c, CGRectMake(p.x - w * 0.5, p.y - h * 0.5, w, h));
    }
  }
  const float currentX = shared(r->mCurrentX), currentY = shared(r->mCurrentY);
  if (currentX > 0) {
    const CGPoint t = view(currentX, currentY);
    if (shared(r->mGuidingOn) == 1) {
      const UInt32 orientation = shared(r->Orientation);
      double dx = 0, dy = 0;  // the direction of the RA line, per unit of offset
      bool draw = true;
      if (orientation == 1) {
        dx = 1.0;
      } else if (orientation == 0) {
        dx = 1.0;
        dy = shared(r->MSlopeFloat);
      } else if (orientation == 2) {
        dy = 1.0;
      } else {
        draw = false;
      }
      if (draw) {
        CGContextBeginPath(c);
        CGContextMoveToPoint(c, t.x - 6.0 * dx, t.y - 6.0 * dy);
        CGContextAddLineToPoint(c, t.x - 64.0 * dx, t.y - 64.0 * dy);
        CGContextMoveToPoint(c, t.x + 6.0 * dx, t.y + 6.0 * dy);
        CGContextAddLineToPoint(c, t.x + 64.0 * dx, t.y + 64.0 * dy);
        CGContextSetRGBStrokeColor(c, 1.0, 1.0, 0.0, 0.7);
        CGContextStrokePath(c);
      }
    }
    CGContextBeginPath(c);
    myDrawCross(c, float(t.x), float(t.y), 16.0f, 1);
    CGContextSetRGBStrokeColor(c, 0.0, 1.0, 0.0, 0.7);
    CGContextStrokePath(c);
  }
  CGContextSetRGBStrokeColor(c, 1.0, 1.0, 1.0, 1.0);
}

void drawStarMeasure(MyCameraWindowDataStruct* r, CGContextRef c, const ViewTransform& view, double hd) {
  if (shared(r->mFWHMFound) <= 0) {
    myDrawATSUIText(c, r->mRedTextStyle, 12.0f, float(hd - 40.0), "Lost Track of  Star, trying to re-acquire..");
    return;
  }
  const CGPoint p = view(shared(r->mStartX), shared(r->mStartY));
  const float fwhm = shared(r->mFWHM), prevFWHM = shared(r->mPrevFWHM);
  const float hfd = shared(r->mHFD), prevHFD = shared(r->mPrevHFD);
  const float peak = shared(r->mStarPeak), prevPeak = shared(r->mPrevStarPeak);
  char text[96];

  CGContextSetRGBStrokeColor(c, 1.0, 0.0, 0.0, 0.5);
  CGContextSetRGBFillColor(c, 1.0, 0.0, 0.0, 0.5);
  if (prevFWHM > 0) strokeCircle(c, p, prevFWHM * 10.0);
  CGContextSetRGBStrokeColor(c, 1.0, 0.0, 0.0, 1.0);
  CGContextSetRGBFillColor(c, 1.0, 0.0, 0.0, 1.0);
  strokeCircle(c, p, fwhm * 10.0);
  snprintf(text, sizeof text, "FWHM: %5.2f  %5.1f", double(fwhm), double(prevFWHM - fwhm));
  myDrawATSUIText(c, r->mRedTextStyle, 12.0f, float(hd - 40.0), text);

  CGContextSetRGBStrokeColor(c, 1.0, 1.0, 0.0, 0.5);
  CGContextSetRGBFillColor(c, 1.0, 1.0, 0.0, 0.5);
  if (prevHFD > 0) strokeCircle(c, p, prevHFD * 10.0);
  CGContextSetRGBStrokeColor(c, 1.0, 1.0, 0.0, 1.0);
  CGContextSetRGBFillColor(c, 1.0, 1.0, 0.0, 1.0);
  strokeCircle(c, p, hfd * 10.0);
  snprintf(text, sizeof text, "HFD: %5.2f  %5.1f", double(hfd), double(prevHFD - hfd));
  myDrawATSUIText(c, r->mYellowTextStyle, 12.0f, float(hd - 85.0), text);

  // The peak is held on the 8-bit scale; deep frames show it on 16 bits.
  const double scale = r->mBitsPerPixel == 12 || r->mBitsPerPixel == 16 ? 257.0 : 1.0;
  const double shownPeak = double(peak) * scale;
  const double change = double(peak) * scale - double(prevPeak) * scale;
  snprintf(text, sizeof text, "Max: %5.1f %i", shownPeak, toS32(std::round(change)));
  myDrawATSUIText(c, r->mGreenTextStyle, 12.0f, float(hd - 130.0), text);
  CGContextSetRGBStrokeColor(c, 1.0, 1.0, 1.0, 1.0);
  CGContextSetLineWidth(c, 1.0);
}

}  // namespace

void myFillInCourizedARGB32Table(UInt32* table, RGBColor colour) {
  if (!table) return;
  const double scale = 1.0 / 65535.0;
  const double r = colour.red * scale;
  const double g = colour.green * scale;
  const double b = colour.blue * scale;
  for (int i = 0; i < 256; ++i) {
    const UInt8 bytes[4] = {255, UInt8(std::min(255, int(r * i))), UInt8(std::min(255, int(g * i))),
                            UInt8(std::min(255, int(b * i)))};
    std::memcpy(&table[i], bytes, 4);
  }
}

float myZoomMenuToScaleValue(MyCameraWindowDataStruct* record, SInt16 item) {
  switch (item) {
    case 3: return 0.25f;
    case 4: return 0.5f;
    case 5: return 0.75f;
    case 6: return 1.0f;
    case 7: return 2.0f;
    case 8: return 4.0f;
    case 9: return 8.0f;
    case 10: break;
    default: return 1.0f;
  }
  Rect bounds;
  if (record == nullptr || record->mWidth == 0 || record->mHeight == 0 ||
      GetAvailableWindowPositioningBounds(GetMainDevice(), &bounds) != noErr)
    return 1.0f;
  const float width = float(bounds.right - bounds.left);
  const float height = float(bounds.bottom - bounds.top);
  float f = width / float(record->mWidth);
  if (height - 32.0f < f * float(record->mHeight)) f = (height - 32.0f) / float(record->mHeight);
  return f;
}

OSStatus myReSizePreviewWindowControls(WindowRef window) {
  if (window == nullptr) return paramErr;
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(window));
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return paramErr;
  Rect port;
  GetWindowPortBounds(window, &port);
  const SInt32 w = port.right - port.left, h = port.bottom - port.top;
  InvalWindowRect(window, &port);
  const SInt32 zw = r->mPreviewRect.right, zh = r->mPreviewRect.bottom;
  const SInt16 t = r->mScrollBarThickness;
  // A window larger than the zoomed image would give a negative offset,
  // which would place the visible region before the frame: 0 then.
  if (zw <= r->mScrollOffset.h + w) r->mScrollOffset.h = SInt16(std::max<SInt32>(0, zw - w));
  if (zh <= r->mScrollOffset.v + h) r->mScrollOffset.v = SInt16(std::max<SInt32>(0, zh - h));

  const SInt32 maxH = zw - w;
  if (maxH > r->mPreviewRect.left) {
    MoveControl(r->mHScrollBar, 0, SInt16(h - t));
    SizeControl(r->mHScrollBar, SInt16(w - t + 1), t);
    SetControl32BitMinimum(r->mHScrollBar, r->mPreviewRect.left);
    SetControl32BitMaximum(r->mHScrollBar, maxH);
    SetControlViewSize(r->mHScrollBar, w);
    if (r->mScrollOffset.h == 0) r->mScrollOffset.h = toS16(maxH * 0.5);
    SetControl32BitValue(r->mHScrollBar, r->mScrollOffset.h);
    if (!IsControlVisible(r->mHScrollBar)) ShowControl(r->mHScrollBar);
    r->mHScrollShown = 1;
  } else {
    if (IsControlVisible(r->mHScrollBar)) HideControl(r->mHScrollBar);
    r->mHScrollShown = 0;
  }
  const SInt32 maxV = zh - h;
  if (maxV > r->mPreviewRect.top) {
    MoveControl(r->mVScrollBar, SInt16(w - t), 0);
    SizeControl(r->mVScrollBar, t, SInt16(h - t + 1));
    SetControl32BitMinimum(r->mVScrollBar, r->mPreviewRect.top);
    SetControl32BitMaximum(r->mVScrollBar, maxV);
    SetControlViewSize(r->mVScrollBar, h);
    if (r->mScrollOffset.v == 0) r->mScrollOffset.v = toS16(maxV * 0.5);
    SetControl32BitValue(r->mVScrollBar, r->mScrollOffset.v);
    if (!IsControlVisible(r->mVScrollBar)) ShowControl(r->mVScrollBar);
    r->mVScrollShown = 1;
  } else {
    if (IsControlVisible(r->mVScrollBar)) HideControl(r->mVScrollBar);
    r->mVScrollShown = 0;
  }
  r->mDrawStateReset = 1;
  return noErr;
}

void myDrawCross(CGContextRef c, float x, float y, float halfSize, SInt32 style) {
  if (style == 1) {
    CGContextMoveToPoint(c, x - halfSize, y);
    CGContextAddLineToPoint(c, x - 6.0f, y);
    CGContextMoveToPoint(c, x + 6.0f, y);
    CGContextAddLineToPoint(c, x + halfSize, y);
    CGContextMoveToPoint(c, x, y - halfSize);
    CGContextAddLineToPoint(c, x, y - 6.0f);
    CGContextMoveToPoint(c, x, y + 6.0f);
    CGContextAddLineToPoint(c, x, y + halfSize);
  } else {
    CGContextMoveToPoint(c, x - halfSize, y);
    CGContextAddLineToPoint(c, x + halfSize, y);
    CGContextMoveToPoint(c, x, y - halfSize);
    CGContextAddLineToPoint(c, x, y + halfSize);
  }
}

void myMarkSaturatedPixels(UInt8* region, UInt32 columns, UInt32 rows, size_t rowBytes, UInt32 cutoff) {
  if (region == nullptr) return;
  const UInt32 t = cutoff == 0 ? 0 : cutoff - 1;
  if (t > 255) return;  // no 8-bit channel reaches it
  const UInt8 threshold = UInt8(t);
  for (UInt32 y = 0; y < rows; ++y) {
    UInt8* p = region + size_t(y) * rowBytes;
    for (UInt32 x = 0; x < columns; ++x, p += 4) {
      const bool hit = (p[1] >= threshold) | (p[2] >= threshold) | (p[3] >= threshold);
      if (hit) {
        p[0] = 0xFF;
        p[1] = 0xFF;
        p[2] = 0x00;
        p[3] = 0x00;
      }
    }
  }
}

double myTSLV1501ExposureToSliderValue(double e, UInt32 rateCode) {
  if (e < 2.01) return (e - 0.3) * 75.29411764705883;
  if (e < 5.01) return (e - 2.0) * 21.333333333333332 + 128.0;
  if (e < 9.01) return (e - 5.0) * 12.8 + 192.0;
  if (rateCode == 4) {
    if (e < 17.0) return (e - 9.0) * 16.0 + 255.0;
    return (e - 17.0) * 7.8383343539497865 + 383.0;
  }
  if (rateCode == 3) {
    if (e < 33.34) return (e - 9.0) * 5.2609946568023025 + 255.0;
    return (e - 33.33) * 3.840384038403841 + 383.0;
  }
  if (e < 33.34) return (e - 9.0) * 5.2609946568023025 + 255.0;
  if (e < 66.67) return (e - 33.33) * 1.9201920192019204 + 383.0;
  return (e - 66.666) * 0.960009600096001 + 447.0;
}

void myDoAutoExposureStep(MyCameraWindowDataStruct* r) {
  if (r->mAutoExposureOn != 1 || r->mAutoShutterAvailable != 1) return;
  std::atomic_ref<UInt8> pending(r->mAutoExposurePending);
  if (pending.load(std::memory_order_acquire) != 1) return;
  const double target = shared(r->mAutoExposureTarget);
  const double measured = shared(r->mAutoExposureMeasured);
  SInt32 v;
  if (r->mIsLongExposureCamera == 1) {
    if (!(measured > 0)) {
      pending.store(0, std::memory_order_release);
      return;
    }
    const double k = target / measured;
    const double e = k * myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, r->mExposureRateItem);
    v = std::clamp(toS32(myTSLV1501ExposureToSliderValue(e, r->mExposureRateItem)), 0, 511);
  } else {
    const double range = double(r->mAbsShutterMax) - double(r->mAbsShutterMin);
    // A camera reporting one absolute value has no scale to move on.
    if (!(range != 0) || !(measured > 0)) {
      pending.store(0, std::memory_order_release);
      return;
    }
    const double k = target / measured;
    v = std::clamp(toS32((k * double(r->mAbsShutterValue) - double(r->mAbsShutterMin)) / (range * 0.0025)), 1, 400);
  }
  mySetCCDExposTime(r, UInt32(v));
  mySetControlValue(r->mControlWindow, FOUR_CHAR_CODE("EXPO"), 0, v);
  pending.store(0, std::memory_order_release);
  std::atomic_ref<UInt32>(r->mAutoExposureFrameCount).store(0, std::memory_order_relaxed);
}

void myDrawVideoPreview(MyCameraWindowDataStruct* r, void* frame) {
  if (r == nullptr) return;
  CGContextRef c = nullptr;
  CGrafPtr port = GetWindowPort(r->mVideoWindow);
  const double z = r->mZoomScale;
  if (frame != nullptr && port != nullptr && z > 0 && r->mWidth > 0 && r->mHeight > 0 &&
      CreateCGContextForPort(port, &c) == noErr && c != nullptr) {
    // 1. The visible region of the frame, kept inside the frame whatever the
    // window's size and offsets.
    Rect bounds;
    GetWindowPortBounds(r->mVideoWindow, &bounds);
    const double w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    const UInt32 firstColumn = UInt32(std::clamp(std::trunc(r->mScrollOffset.h / z), 0.0, double(r->mWidth)));
    const UInt32 firstRow = UInt32(std::clamp(std::trunc(r->mScrollOffset.v / z), 0.0, double(r->mHeight)));
    const UInt32 columns = UInt32(std::clamp(std::trunc(w / z), 0.0, double(r->mWidth - firstColumn)));
    const UInt32 rows = UInt32(std::clamp(std::trunc(h / z), 0.0, double(r->mHeight - firstRow)));
    const size_t rowBytes = size_t(r->mWidth) * 4;
    UInt8* region = static_cast<UInt8*>(frame) + size_t(firstRow) * rowBytes + size_t(firstColumn) * 4;

    // 2. The clip leaves the scroll bars alone.
    const double thickness = r->mScrollBarThickness;
    const CGRect clip = CGRectMake(0, r->mHScrollShown ? thickness : 0, r->mVScrollShown ? w - thickness : w,
                                   r->mHScrollShown ? h - thickness : h);

    // 4. Saturation marks, written into the frame.
    if (r->mShowSaturated == 1) myMarkSaturatedPixels(region, columns, rows, rowBytes, r->mSaturationCutoff);

    // 5. The region as an image over the frame's own bytes.
    const size_t regionBytes = rows && columns ? size_t(rows - 1) * rowBytes + size_t(columns) * 4 : 0;
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, region, regionBytes, nullptr);
    CGColorSpaceRef space = provider ? CGColorSpaceCreateDeviceRGB() : nullptr;
    CGImageRef image = space ? CGImageCreate(columns, rows, 8, 32, rowBytes, space, kCGImageAlphaNoneSkipFirst,
                                             provider, nullptr, false, kCGRenderingIntentDefault)
                             : nullptr;
    if (image != nullptr) {
      // 6. The picture.
      const double wd = columns * z, hd = rows * z;
      const ViewTransform view{z, double(r->mScrollOffset.h), double(r->mScrollOffset.v), hd};
      CGContextSaveGState(c);
      if (r->mDrawStateReset == 1) {
        CGContextSetTextDrawingMode(c, kCGTextFillStroke);
        CGContextSetLineWidth(c, 1.0);
        CGContextSetLineCap(c, kCGLineCapSquare);
        CGContextSetLineJoin(c, kCGLineJoinMiter);
        CGContextSetLineDash(c, 0.0, nullptr, 0);
        CGContextSetInterpolationQuality(c, kCGInterpolationDefault);
        CGContextSetRGBFillColor(c, 1.0, 1.0, 1.0, 1.0);
        CGContextSetRGBStrokeColor(c, 0.0, 0.0, 0.0, 1.0);
      }
      CGContextClipToRect(c, clip);
      r->mDrawStateReset = 0;
      CGContextDrawImage(c, CGRectMake(0, 0, wd, hd), image);

      // 7. The software region of interest.
      if (r->mSoftROIEnabled == 1 && r->mSoftROIActive == 1) {
        CGContextSetLineWidth(c, 4.0);
        CGContextSetRGBStrokeColor(c, 0.5, 0.5, 0.5, 1.0);
        const CGPoint p = view(r->mSoftROILeft, double(r->mSoftROITop) + r->mSoftROIHeight);
        CGContextStrokeRect(c, CGRectMake(p.x, p.y, r->mSoftROIWidth * z, r->mSoftROIHeight * z));
      }
      // 8. The centring reticle.
      if (r->mShowReticle == 1) drawReticle(r, c, z, hd);
      // 9. Status lines.
      myDrawPreviewWindowText(r, c, CGRectMake(0, 0, wd, hd));
      // 10. Guiding marks.
      if (shared(r->mScopeControlActive) != 0 && shared(r->mGuidingActive) != 0) drawGuidingMarks(r, c, view);
      // 11. The tracked object's path.
      CGContextSetLineWidth(c, 1.0);
      myDrawTrackingAnalysis(r, c, CGRectMake(0, 0, wd, hd));
      // 12. FWHM and HFD of the guide star.
      if (shared(r->mFWHMOn) == 1) drawStarMeasure(r, c, view, hd);
      // 13. The brightness monitor's area.
      if (r->mBrightnessMonitorOn == 1) {
        CGContextSetLineWidth(c, 3.0);
        CGContextSetRGBStrokeColor(c, 0.0, 0.0, 1.0, 1.0);
        const float left = shared(r->mTrackingArea[0]), top = shared(r->mTrackingArea[1]);
        const float width = shared(r->mTrackingArea[2]), height = shared(r->mTrackingArea[3]);
        const CGPoint p = view(left, double(top) + height);
        CGContextStrokeRect(c, CGRectMake(p.x, p.y, width * z, height * z));
      }
      CGContextRestoreGState(c);
    }
    CGImageRelease(image);
    CGColorSpaceRelease(space);
    CGDataProviderRelease(provider);
    // 14.
    CGContextSynchronize(c);
    CGContextRelease(c);
  }
  // 15. The histogram view.
  if (r->mHistogramOption != 0) myDrawHistoGram(r);
  // 16. Automatic exposure.
  myDoAutoExposureStep(r);
}
