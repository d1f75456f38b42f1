// The histogram and brightness-graph views and the brightness graph's
// painting. The views paint through their own context on the window's port;
// the draw event's context is not used.
#include "app/HistogramViews.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pixel/Histogram.h"
#include "pixel/live/HistogramPlot.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/Controls.h"

namespace {

enum class ViewKind { histogram, brightness };

void paintView(MyCameraWindowDataStruct* r, ViewKind kind) {
  if (kind == ViewKind::histogram) {
    if (r->mHistogramShown == 0) return;
    if (r->mHistogramOption != 0 && myLoadHistogramReady(r) == 1)
      myDrawHistoGram(r);
    else
      myEraseHistoGramArea(r);
    return;
  }
  if (r->mBrightnessMonitorOn != 1) return;
  if (std::atomic_ref<UInt32>(r->mTrackSampleCount).load(std::memory_order_acquire) > 1)
    myDrawBrightnessGraphAreaBox(r);
  else
    myEraseBrightnessGraphAreaBox(r);
}

OSStatus viewHandler(EventHandlerCallRef call, EventRef event, void* userData, ViewKind kind) {
  if (userData == nullptr) return eventNotHandledErr;
  auto* r = static_cast<MyCameraWindowDataStruct*>(userData);
  const EventClass cls = GetEventClass(event);
  const EventKind what = GetEventKind(event);
  if (cls == kEventClassHIObject) {
    switch (what) {
      case kEventHIObjectConstruct: {
        HIObjectRef view = nullptr;
        GetEventParameter(event, kEventParamHIObjectInstance, typeHIObjectRef, nullptr, sizeof(view), nullptr,
                          &view);
        if (kind == ViewKind::histogram)
          r->mHistogramView = view;
        else
          r->mBrightnessGraphView = view;
        return SetEventParameter(event, kEventParamHIObjectInstance, typeVoidPtr, sizeof(userData), &userData);
      }
      case kEventHIObjectInitialize:
        return CallNextEventHandler(call, event);
      case kEventHIObjectDestruct:
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  if (cls == kEventClassControl) {
    switch (what) {
      case kEventControlInitialize: {
        CallNextEventHandler(call, event);
        return myAddControlFeatures(event, kControlSupportsEmbedding);
      }
      case kEventControlDraw:
      case kEventControlActivate:
      case kEventControlDeactivate:
        paintView(r, kind);
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  return eventNotHandledErr;
}

// Context for the sheet's port, its height; false when either is missing.
bool beginSheet(MyCameraWindowDataStruct* r, CGContextRef* ctx, float* portHeight) {
  if (r == nullptr || r->mPleezWaitWindow == nullptr) return false;
  CGrafPtr port = GetWindowPort(r->mPleezWaitWindow);
  if (port == nullptr) return false;
  Rect bounds{};
  GetWindowPortBounds(r->mPleezWaitWindow, &bounds);
  *portHeight = float(bounds.bottom - bounds.top);
  *ctx = nullptr;
  return CreateCGContextForPort(port, ctx) == noErr && *ctx != nullptr;
}

CGRect boxRect(const MyBrightnessGraphLayout& g) { return CGRectMake(g.minX, g.minY, g.maxX - g.minX, g.maxY - g.minY); }

void commonStart(CGContextRef ctx, const MyBrightnessGraphLayout& g) {
  CGContextSaveGState(ctx);
  CGContextSetLineWidth(ctx, 1.0);
  CGContextSetLineCap(ctx, kCGLineCapSquare);
  CGContextSetLineJoin(ctx, kCGLineJoinMiter);
  CGContextSetLineDash(ctx, 0, nullptr, 0);
  CGContextSetInterpolationQuality(ctx, kCGInterpolationDefault);
  CGContextSetRGBFillColor(ctx, 1, 1, 1, 1);
  CGContextSetRGBStrokeColor(ctx, 0, 0, 0, 1);
  CGContextFillRect(ctx, boxRect(g));
}

void commonEnd(CGContextRef ctx, const MyBrightnessGraphLayout& g) {
  CGContextSetLineWidth(ctx, 2.0);
  CGContextSetRGBStrokeColor(ctx, 0.8, 0.8, 0.8, 1);
  CGContextStrokeRect(ctx, boxRect(g));
  CGContextRestoreGState(ctx);
  CGContextSynchronize(ctx);
  CGContextRelease(ctx);
}

void horizontalLine(CGContextRef ctx, const MyBrightnessGraphLayout& g, float y) {
  CGContextBeginPath(ctx);
  CGContextMoveToPoint(ctx, g.minX, y);
  CGContextAddLineToPoint(ctx, g.maxX, y);
  CGContextStrokePath(ctx);
}

void drawEmpty(CGContextRef ctx, const MyBrightnessGraphLayout& g) {
  const float s = 0.2f * (g.maxY - g.minY);
  CGContextSetRGBStrokeColor(ctx, 0.5, 0.5, 0.5, 0.3);
  for (int k = 0; k <= 4; ++k) horizontalLine(ctx, g, g.minY + 1.0f + float(k) * s);
}

void showText(CGContextRef ctx, float x, float y, const char* text) {
  CGContextShowTextAtPoint(ctx, x, y, text, std::strlen(text));
}

}  // namespace

OSStatus myCameraHistogramCustomControlHandler(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData) {
  return viewHandler(inCall, inEvent, inUserData, ViewKind::histogram);
}

OSStatus myBrighnessGraphCustomControlHandler(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData) {
  return viewHandler(inCall, inEvent, inUserData, ViewKind::brightness);
}

MyBrightnessGraphLayout myBrightnessGraphLayout(const Rect& frame, float portHeight, UInt32 count, float lowest,
                                                float highest) {
  MyBrightnessGraphLayout g{};
  g.minX = float(frame.left) + 3.0f;
  g.minY = portHeight - float(frame.bottom) + 3.0f;
  g.maxX = g.minX + float(frame.right - frame.left) - 6.0f;
  g.maxY = g.minY + float(frame.bottom - frame.top) - 6.0f;
  g.last = count == 0 ? 0 : count - 1;
  const float span = (g.maxX - g.minX) - 2.0f;
  // A box narrower than 3 points has no room for a column.
  g.empty = (g.maxX - g.minX) < 3.0f || span <= 0.0f;
  if (g.empty) {
    g.perColumn = 1;
    g.columns = 0;
  } else {
    g.perColumn = UInt32(std::trunc(double(g.last) / double(span))) + 1;
    g.columns = g.last / g.perColumn;
  }
  g.scale = 1.0f;
  const float range = std::fabs(highest - lowest);
  if (range > 1.0f) g.scale = ((g.maxY - g.minY) - 2.0f) / range;
  return g;
}

void myBrightnessTimeLabel(double tau, char* out, size_t outSize) {
  if (tau > 3600.0)
    std::snprintf(out, outSize, "%.2fh", tau / 3600.0);
  else if (tau > 60.0)
    std::snprintf(out, outSize, "%.1fm", tau / 60.0);
  else
    std::snprintf(out, outSize, "%.0fs", tau);
}

float myBrightnessColumnValue(const float* samples, const MyBrightnessGraphLayout& g, UInt32 i, UInt32* start,
                              UInt32 mode) {
  if (g.perColumn < 2) return samples[i];
  const UInt32 s = *start;
  const UInt32 e = std::min(s + g.perColumn, g.last);
  *start = e;
  if (e <= s) return samples[std::min(s, g.last)];
  if (mode == 2) return *std::min_element(samples + s, samples + e);
  if (mode == 3) return *std::max_element(samples + s, samples + e);
  double sum = 0.0;
  for (UInt32 k = s; k < e; ++k) sum += samples[k];
  return float(sum / double(e - s));
}

void myUpdateBrighnessGraphBox(EventLoopTimerRef, void* inUserData) {
  if (inUserData == nullptr) return;
  auto* r = static_cast<MyCameraWindowDataStruct*>(inUserData);
  if (r->mBrightnessMonitorOn == 1 &&
      std::atomic_ref<UInt32>(r->mTrackSampleCount).load(std::memory_order_acquire) > 1)
    myDrawBrightnessGraphAreaBox(r);
  else
    myEraseBrightnessGraphAreaBox(r);
}

void myEraseBrightnessGraphAreaBox(MyCameraWindowDataStruct* record) {
  CGContextRef ctx = nullptr;
  float hp = 0;
  if (!beginSheet(record, &ctx, &hp)) return;
  const MyBrightnessGraphLayout g = myBrightnessGraphLayout(record->mBrightnessGraphRect, hp, 0, 0, 0);
  commonStart(ctx, g);
  drawEmpty(ctx, g);
  commonEnd(ctx, g);
}

void myDrawBrightnessGraphAreaBox(MyCameraWindowDataStruct* record) {
  CGContextRef ctx = nullptr;
  float hp = 0;
  if (!beginSheet(record, &ctx, &hp)) return;
  // The delivery thread appends behind this count; read it once.
  const UInt32 n = std::atomic_ref<UInt32>(record->mTrackSampleCount).load(std::memory_order_acquire);
  const float lo = std::atomic_ref<float>(record->mBrightnessMin).load(std::memory_order_relaxed);
  const float hi = std::atomic_ref<float>(record->mBrightnessMax).load(std::memory_order_relaxed);
  const MyBrightnessGraphLayout g = myBrightnessGraphLayout(record->mBrightnessGraphRect, hp, n, lo, hi);
  const auto* values = static_cast<const float*>(record->mPleezWaitSum);
  const float* times = record->mTrackSamples;
  commonStart(ctx, g);
  if (g.empty || n < 2 || values == nullptr || times == nullptr) {
    drawEmpty(ctx, g);
    commonEnd(ctx, g);
    return;
  }
  const float width = g.maxX - g.minX;
  const float height = g.maxY - g.minY;
  const float s = 0.2f * height;
  CGContextSetRGBStrokeColor(ctx, 0.5, 0.5, 0.5, 0.5);
  for (int k = 1; k <= 4; ++k) horizontalLine(ctx, g, g.minY + float(k) * s);

  CGContextSelectFont(ctx, "Lucida Grande", 9, kCGEncodingMacRoman);
  CGContextSetTextDrawingMode(ctx, kCGTextFillStroke);
  CGContextSetRGBFillColor(ctx, 0.8, 0.8, 0.8, 1);
  CGContextSetRGBStrokeColor(ctx, 0.8, 0.8, 0.8, 1);
  char label[64];
  const float d = 0.2f * (hi - lo);
  auto valueLabel = [&](float value, float y) {
    std::snprintf(label, sizeof(label), "%.0f", double(value));
    showText(ctx, g.minX + 4.0f, y, label);
    const float w = float(CGContextGetTextPosition(ctx).x) - (g.minX + 4.0f);
    showText(ctx, g.maxX - w - 9.0f, y, label);
  };
  for (int k = 0; k <= 4; ++k) valueLabel(lo + float(k) * d, g.minY + float(k) * s + 6.0f);
  valueLabel(hi, g.maxY - 12.0f);

  const float t = 0.1f * width;
  CGContextSetRGBStrokeColor(ctx, 0.5, 0.5, 0.5, 0.5);
  for (int k = 1; k <= 9; ++k) {
    CGContextBeginPath(ctx);
    CGContextMoveToPoint(ctx, g.minX + float(k) * t, g.minY);
    CGContextAddLineToPoint(ctx, g.minX + float(k) * t, g.maxY);
    CGContextStrokePath(ctx);
  }
  CGContextSetRGBStrokeColor(ctx, 0.8, 0.8, 0.8, 1);

  const float T = times[g.last];
  const float c = g.columns > 1 ? T / float(g.columns) : T;
  for (int k = 1; k <= 9; ++k) {
    myBrightnessTimeLabel(double(float(k) * t) * double(c), label, sizeof(label));
    showText(ctx, g.minX + float(k) * t + 4.0f, g.minY + 6.0f, label);
  }

  CGContextBeginPath(ctx);
  UInt32 start = 0;
  for (UInt32 i = 0; i < g.columns; ++i) {
    const float v = myBrightnessColumnValue(values, g, i, &start, record->mBrightnessGraphMode);
    const float x = g.minX + 1.0f + float(i);
    const float y = g.scale * (v - lo) + g.minY + 1.0f;
    if (i == 0)
      CGContextMoveToPoint(ctx, x, y);
    else
      CGContextAddLineToPoint(ctx, x, y);
  }
  CGContextSetRGBStrokeColor(ctx, 0, 0, 1, 1);
  CGContextSetLineWidth(ctx, 1.0);
  CGContextStrokePath(ctx);
  commonEnd(ctx, g);
}
