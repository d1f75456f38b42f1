// The tracking-area strip chart: two bands (RA/X above, DEC/Y below) with the
// last 180 drift entries as traces and their statistics, drawn into the
// guiding window's port over the 'TRBX' area, and the view whose draw events
// redraw it. Main thread only; the histories are written by the correction
// step on the delivery thread and read here entry by entry as they stand.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CameraWindowData.h"
#include "guiding/ScopeControl.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/Controls.h"

namespace {

// Pixels between the 'TRBX' frame and the chart.
constexpr double kInset = 3.0;
// One history unit is one screen pixel and 0.2 pixel of drift.
constexpr double kPixelsPerUnit = 0.2;
// Entries at or beyond this size were clamped by the correction step.
constexpr int kClampedEntry = 25;
constexpr const char* kFont = "Lucida Grande";

struct Chart {
  CGRect rect;
  double raBaseline;
  double decBaseline;
  double top;
};

Chart geometry(const MCBS& b, double portHeight) {
  const SInt16 top = b.mTrackBoxBounds[0], left = b.mTrackBoxBounds[1];
  const SInt16 bottom = b.mTrackBoxBounds[2], right = b.mTrackBoxBounds[3];
  Chart c;
  c.rect = CGRectMake(left + kInset, portHeight - bottom + kInset, right - left - 2 * kInset,
                      bottom - top - 2 * kInset);
  const double q = c.rect.size.height * 0.25;
  const double minY = c.rect.origin.y;
  c.top = std::trunc(4.0 * q + minY);
  c.raBaseline = c.top - q;
  c.decBaseline = std::trunc(minY + q);
  return c;
}

void line(CGContextRef c, double x0, double x1, double y) {
  CGContextMoveToPoint(c, x0, y);
  CGContextAddLineToPoint(c, x1, y);
}

void text(CGContextRef c, double x, double y, const char* s) { CGContextShowTextAtPoint(c, x, y, s, strlen(s)); }

// Steps 1 to 4: the white chart, its labels, grid and baselines.
void drawFrame(CGContextRef c, const Chart& ch) {
  const double minX = ch.rect.origin.x, maxX = ch.rect.origin.x + ch.rect.size.width;
  CGContextSetLineWidth(c, 1.0);
  CGContextSetLineCap(c, kCGLineCapSquare);
  CGContextSetLineJoin(c, kCGLineJoinMiter);
  CGContextSetLineDash(c, 0, nullptr, 0);
  CGContextSetRGBFillColor(c, 1, 1, 1, 1);
  CGContextFillRect(c, ch.rect);

  CGContextSelectFont(c, kFont, 18, kCGEncodingMacRoman);
  CGContextSetTextDrawingMode(c, kCGTextFillStroke);
  CGContextSetRGBFillColor(c, 0.8, 0.8, 0.8, 1);
  CGContextSetRGBStrokeColor(c, 0.8, 0.8, 0.8, 1);
  const double labelX = std::trunc(minX) + 4;
  text(c, labelX, ch.raBaseline - 6, "RA/X");
  text(c, labelX, ch.decBaseline - 6, "DEC/Y");

  CGContextSetRGBStrokeColor(c, 0.5, 0.5, 0.5, 0.3);
  for (double base : {ch.raBaseline, ch.decBaseline}) {
    CGContextBeginPath(c);
    for (int d = -25; d <= 25; d += 5) line(c, minX, maxX, base + d);
    CGContextStrokePath(c);
  }
  CGContextSetRGBStrokeColor(c, 0.2, 0.2, 0.2, 1);
  CGContextBeginPath(c);
  line(c, minX, maxX, ch.raBaseline);
  line(c, minX, maxX, ch.decBaseline);
  CGContextStrokePath(c);
}

SInt8 entry(SInt8* history, UInt32 i) {
  return std::atomic_ref<SInt8>(history[i]).load(std::memory_order_relaxed);
}

void trace(CGContextRef c, const Chart& ch, SInt8* history, double baseline) {
  const double x0 = std::trunc(ch.rect.origin.x) + 1;
  CGContextBeginPath(c);
  CGContextMoveToPoint(c, x0, baseline + entry(history, 0));
  for (UInt32 i = 1; i < kMCBSHistoryLength; i++) CGContextAddLineToPoint(c, x0 + i, baseline + entry(history, i));
  CGContextStrokePath(c);
}

// Mean, sample deviation, RMS, minimum and maximum of the valid entries, in
// pixels; nothing with three entries or fewer.
void statistics(CGContextRef c, SInt8* history, UInt32 start, double x, double y) {
  if (start >= kMCBSHistoryLength || kMCBSHistoryLength - start <= 3) return;
  const double n = kMCBSHistoryLength - start;
  double sum = 0, squares = 0, lo = 0, hi = 0;
  for (UInt32 i = start; i < kMCBSHistoryLength; i++) {
    const double v = entry(history, i) * kPixelsPerUnit;
    sum += v;
    squares += v * v;
    if (i == start || v < lo) lo = v;
    if (i == start || v > hi) hi = v;
  }
  // Equal entries can leave a variance a rounding below 0.
  const double variance = std::max(0.0, (squares - sum * sum / n) / (n - 1));
  char s[128];
  snprintf(s, sizeof s, "%.2f, %.2f, %.2f, %.1f, %.1f", sum / n, std::sqrt(variance), std::sqrt(squares / n), lo, hi);
  CGContextSelectFont(c, kFont, 10, kCGEncodingMacRoman);
  CGContextSetTextDrawingMode(c, kCGTextFillStroke);
  CGContextSetRGBFillColor(c, 0, 0.7, 0, 1);
  CGContextSetRGBStrokeColor(c, 0, 0.7, 0, 1);
  text(c, x, y, s);
}

void driftText(SInt8 v, char* out, size_t size) {
  if (std::abs(int(v)) < kClampedEntry)
    snprintf(out, size, "%3.1f", v * kPixelsPerUnit);
  else
    snprintf(out, size, ">%d", int(v * kPixelsPerUnit));
}

// Draws the frame (and with data the traces and statistics) into the port.
void draw(MCBS& b, bool data) {
  CGrafPtr port = GetWindowPort(b.mWindow);
  CGContextRef c = nullptr;
  if (!port || CreateCGContextForPort(port, &c) != noErr || !c) return;
  Rect bounds;
  GetPortBounds(port, &bounds);
  const Chart ch = geometry(b, bounds.bottom - bounds.top);
  CGContextSaveGState(c);
  drawFrame(c, ch);
  if (data) {
    const UInt32 start = std::atomic_ref<UInt32>(b.mHistoryStart).load(std::memory_order_relaxed);
    const double textX = std::trunc(ch.rect.origin.x) + 4;
    CGContextSetRGBStrokeColor(c, 1, 0, 0, 1);
    trace(c, ch, b.mRAHistory, ch.raBaseline);
    statistics(c, b.mRAHistory, start, textX, ch.top - 14);
    CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
    trace(c, ch, b.mDecHistory, ch.decBaseline);
    statistics(c, b.mDecHistory, start, textX, std::trunc(ch.rect.origin.y) + 7);
  }
  CGContextRestoreGState(c);
  CGContextSynchronize(c);
  CGContextRelease(c);
}

}  // namespace

void myDrawTrackingAreaBox(MyCameraWindowDataStruct* record) {
  if (!record || !record->mpMCBSPtr) return;
  MyCameraWindowDataStruct& r = *record;
  MCBS& b = *r.mpMCBSPtr;
  if (std::atomic_ref<UInt8>(r.mGuidingActive).load() != 1 || !b.mWindow) return;
  draw(b, true);
  char ra[16], dec[16], status[96];
  driftText(entry(b.mRAHistory, kMCBSHistoryLength - 1), ra, sizeof ra);
  driftText(entry(b.mDecHistory, kMCBSHistoryLength - 1), dec, sizeof dec);
  snprintf(status, sizeof status, "Status: Tracking Delta RA/X: %s DEC/Y: %s", ra, dec);
  myPostTrackingMessage(b.mWindow, status);
}

void myEraseTrackingAreaBox(MyCameraWindowDataStruct* record) {
  if (!record || !record->mpMCBSPtr || !record->mpMCBSPtr->mWindow) return;
  draw(*record->mpMCBSPtr, false);
}

namespace {

void redraw(MyCameraWindowDataStruct* record) {
  if (std::atomic_ref<UInt8>(record->mGuidingActive).load() == 1 &&
      std::atomic_ref<UInt8>(record->mGuidingOn).load() == 1)
    myDrawTrackingAreaBox(record);
  else
    myEraseTrackingAreaBox(record);
}

}  // namespace

void myUpdateTrackingAreaBox(EventLoopTimerRef, void* data) {
  if (auto* record = static_cast<MyCameraWindowDataStruct*>(data)) redraw(record);
}

OSStatus myGuideHistogramCustomControlHandler(EventHandlerCallRef call, EventRef event, void* data) {
  auto* record = static_cast<MyCameraWindowDataStruct*>(data);
  if (!record) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassHIObject) {
    switch (kind) {
      case kEventHIObjectConstruct: {
        HIObjectRef instance = nullptr;
        OSStatus err = GetEventParameter(event, kEventParamHIObjectInstance, typeHIObjectRef, nullptr,
                                         sizeof instance, nullptr, &instance);
        if (err != noErr) return err;
        if (record->mpMCBSPtr) record->mpMCBSPtr->mGuideHistogramInstance = instance;
        void* self = record;
        return SetEventParameter(event, kEventParamHIObjectInstance, typeVoidPtr, sizeof self, &self);
      }
      case kEventHIObjectInitialize:
        return call ? CallNextEventHandler(call, event) : OSStatus(eventNotHandledErr);
      case kEventHIObjectDestruct:
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  if (cls != kEventClassControl) return eventNotHandledErr;
  switch (kind) {
    case kEventControlInitialize: {
      OSStatus err = call ? CallNextEventHandler(call, event) : OSStatus(eventNotHandledErr);
      if (err != noErr && err != eventNotHandledErr) return err;
      return myAddControlFeatures(event, kControlSupportsEmbedding);
    }
    case kEventControlDraw:
    case kEventControlActivate:
    case kEventControlDeactivate:
      if (std::atomic_ref<UInt8>(record->mGuideWindowShown).load() == 1) redraw(record);
      return noErr;
    default:
      return eventNotHandledErr;
  }
}
