#include "pixel/live/HistogramPlot.h"

#include <algorithm>

#include "pixel/Histogram.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"

namespace {

// 1 / 307200 (one over 640 x 480) in single precision.
constexpr float kCountScale = 3.2552084e-06f;
constexpr CGFloat kMiterLimit = 5000.0;

struct Colour {
  CGFloat r, g, b;
};
constexpr Colour kRed{1, 0, 0};
constexpr Colour kGreen{0, 0.7, 0};
constexpr Colour kBlue{0, 0, 1};
constexpr Colour kBlack{0, 0, 0};

CGRect plotRect(const MyHistogramPlotGeometry& g) { return CGRectMake(g.x, g.y, g.width, g.height); }

void strokeCurve(CGContextRef ctx, const MyHistogramPlotGeometry& g, const UInt32* table,
                 UInt32 option, bool coarse, Colour colour) {
  MyHistogramPlotPoint points[256];
  const UInt32 n = myHistogramPlotPoints(g, table, option, coarse, points);
  CGContextMoveToPoint(ctx, points[0].x, points[0].y);
  for (UInt32 i = 1; i < n; ++i) CGContextAddLineToPoint(ctx, points[i].x, points[i].y);
  CGContextSetRGBStrokeColor(ctx, colour.r, colour.g, colour.b, 1.0);
  CGContextStrokePath(ctx);
}

// The port, its height and a context for it; false when any is missing.
bool beginDrawing(MyCameraWindowDataStruct* record, CGContextRef* ctx, CGrafPtr* port) {
  *port = GetWindowPort(record->mControlWindow);
  return *port != nullptr && CreateCGContextForPort(*port, ctx) == noErr && *ctx != nullptr;
}

float portHeight(CGrafPtr port) {
  Rect bounds;
  GetPortBounds(port, &bounds);
  return float(bounds.bottom - bounds.top);
}

}  // namespace

MyHistogramPlotGeometry myHistogramPlotGeometry(const Rect& area, float portHeight) {
  MyHistogramPlotGeometry g{};
  g.x = float(area.left) + 3.0f;
  g.y = portHeight - float(area.bottom) + 3.0f;
  g.width = float(area.right - area.left) - 6.0f;
  g.height = float(area.bottom - area.top) - 6.0f;
  // The curve limits come from P as a rectangle reads back (a negative size
  // of a tiny area counts from the other corner).
  const CGRect p = plotRect(g);
  const float ph = float(CGRectGetHeight(p));
  g.x0 = float(CGRectGetMinX(p)) + 2.0f;
  g.y0 = float(CGRectGetMinY(p)) + 2.0f;
  g.yTop = g.y0 + ph - 4.0f;
  g.scale = ph * kCountScale;
  return g;
}

float myHistogramPlotY(const MyHistogramPlotGeometry& g, UInt32 count, UInt32 option) {
  const UInt32 shift = option == 0 ? 0 : option - 1;
  const UInt32 zoomed = shift >= 32 ? 0 : count << shift;
  return std::min(g.yTop, g.y0 + g.scale * float(zoomed));
}

UInt32 myHistogramPlotPoints(const MyHistogramPlotGeometry& g, const UInt32* table,
                             UInt32 option, bool coarse, MyHistogramPlotPoint* points) {
  const float pw = float(CGRectGetWidth(plotRect(g)));
  auto bin = [table](UInt32 i) { return myLoadHistogramBin(table, i); };
  if (coarse) {
    const float step = (pw - 6.0f) * 0.015625f;
    for (UInt32 k = 0; k < 64; ++k) {
      const float x = g.x0 + float(k) * step;
      points[2 * k] = {x, myHistogramPlotY(g, std::max(bin(4 * k), bin(4 * k + 2)), option)};
      points[2 * k + 1] = {x + 2.0f,
                           myHistogramPlotY(g, std::max(bin(4 * k + 1), bin(4 * k + 3)), option)};
    }
    return 128;
  }
  const float step = (pw - 6.0f) * 0.00390625f;
  for (UInt32 i = 0; i < 256; ++i) points[i] = {g.x0 + float(i) * step, myHistogramPlotY(g, bin(i), option)};
  return 256;
}

void myDrawHistoGram(MyCameraWindowDataStruct* record) {
  if (record == nullptr || record->mControlWindow == nullptr) return;
  const UInt32 option = record->mHistogramOption;
  if (option == 0 || myLoadHistogramReady(record) != 1 || record->mControlWindowShown != 1) return;
  const bool colour = record->mDisplayFormatItem == 2 || record->mDisplayFormatItem == 4;
  if (record->mHistogramR == nullptr ||
      (colour && (record->mHistogramG == nullptr || record->mHistogramB == nullptr)))
    return;

  CGContextRef ctx = nullptr;
  CGrafPtr port = nullptr;
  if (!beginDrawing(record, &ctx, &port)) return;
  CGContextSaveGState(ctx);
  CGContextSetLineJoin(ctx, kCGLineJoinMiter);
  CGContextSetMiterLimit(ctx, kMiterLimit);
  const MyHistogramPlotGeometry g = myHistogramPlotGeometry(record->mHistogramRect, portHeight(port));
  CGContextSetLineWidth(ctx, 1.0);
  CGContextSetRGBFillColor(ctx, 1.0, 1.0, 1.0, 1.0);
  CGContextFillRect(ctx, plotRect(g));

  const bool coarse = record->mIsLongExposureCamera == 1;
  strokeCurve(ctx, g, record->mHistogramR, option, coarse, colour ? kRed : kBlack);
  if (colour) {
    strokeCurve(ctx, g, record->mHistogramG, option, coarse, kGreen);
    strokeCurve(ctx, g, record->mHistogramB, option, coarse, kBlue);
  }
  CGContextSetRGBStrokeColor(ctx, 0.0, 0.0, 0.0, 1.0);
  CGContextRestoreGState(ctx);
  CGContextSynchronize(ctx);
  CGContextRelease(ctx);
}

void myEraseHistoGramArea(MyCameraWindowDataStruct* record) {
  if (record == nullptr || record->mControlWindow == nullptr || record->mControlWindowShown == 0)
    return;
  CGContextRef ctx = nullptr;
  CGrafPtr port = nullptr;
  if (!beginDrawing(record, &ctx, &port)) return;
  CGContextSaveGState(ctx);
  const MyHistogramPlotGeometry g = myHistogramPlotGeometry(record->mHistogramRect, portHeight(port));
  CGContextSetLineWidth(ctx, 1.0);
  CGContextSetRGBFillColor(ctx, 1.0, 1.0, 1.0, 1.0);
  CGContextFillRect(ctx, plotRect(g));
  CGContextRestoreGState(ctx);
  CGContextSynchronize(ctx);
  CGContextRelease(ctx);
}
