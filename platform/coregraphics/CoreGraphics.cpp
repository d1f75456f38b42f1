#include "platform/coregraphics/CoreGraphics.h"

#include <cairo.h>

#include <atomic>
#include <mutex>
#include <utility>

struct CGContext {
  int refs = 1;
  cairo_t* cr = nullptr;
  // cairo has one source; CoreGraphics keeps a fill and a stroke colour.
  struct Colours {
    double fill[4] = {0, 0, 0, 1};
    double stroke[4] = {0, 0, 0, 1};
  };
  Colours colours;
  std::vector<Colours> saved;
};

namespace {

std::mutex gLogLock;
bool gRecording = false;
std::vector<SkyloomCGCall> gLog;
std::atomic<long> gLiveContexts{0};

void record(const char* name, std::initializer_list<double> args) {
  std::lock_guard<std::mutex> lock(gLogLock);
  if (gRecording) gLog.push_back({name, std::vector<double>(args)});
}

void setColour(double* dst, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  dst[0] = r;
  dst[1] = g;
  dst[2] = b;
  dst[3] = a;
}

void useColour(cairo_t* cr, const double* c) { cairo_set_source_rgba(cr, c[0], c[1], c[2], c[3]); }

}  // namespace

CGFloat CGRectGetMinX(CGRect r) { return r.size.width < 0 ? r.origin.x + r.size.width : r.origin.x; }
CGFloat CGRectGetMinY(CGRect r) { return r.size.height < 0 ? r.origin.y + r.size.height : r.origin.y; }
CGFloat CGRectGetMaxX(CGRect r) { return r.size.width < 0 ? r.origin.x : r.origin.x + r.size.width; }
CGFloat CGRectGetMaxY(CGRect r) { return r.size.height < 0 ? r.origin.y : r.origin.y + r.size.height; }
CGFloat CGRectGetWidth(CGRect r) { return r.size.width < 0 ? -r.size.width : r.size.width; }
CGFloat CGRectGetHeight(CGRect r) { return r.size.height < 0 ? -r.size.height : r.size.height; }

CGContextRef SkyloomCGCreateContextForSurface(void* cairoSurface, CGFloat height) {
  cairo_surface_t* surface = static_cast<cairo_surface_t*>(cairoSurface);
  if (surface == nullptr || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return nullptr;
  cairo_t* cr = cairo_create(surface);
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(cr);
    return nullptr;
  }
  cairo_translate(cr, 0, height);
  cairo_scale(cr, 1, -1);
  // The system's defaults: line width 1, miter joins with limit 10, butt caps.
  cairo_set_line_width(cr, 1.0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr, 10.0);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  CGContext* c = new CGContext;
  c->cr = cr;
  ++gLiveContexts;
  return c;
}

CGContextRef CGContextRetain(CGContextRef c) {
  if (c != nullptr) ++c->refs;
  return c;
}

void CGContextRelease(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextRelease", {});
  if (--c->refs > 0) return;
  cairo_destroy(c->cr);
  delete c;
  --gLiveContexts;
}

void CGContextSaveGState(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextSaveGState", {});
  cairo_save(c->cr);
  c->saved.push_back(c->colours);
}

void CGContextRestoreGState(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextRestoreGState", {});
  if (c->saved.empty()) return;  // unbalanced restore: nothing to go back to
  cairo_restore(c->cr);
  c->colours = c->saved.back();
  c->saved.pop_back();
}

void CGContextSetLineWidth(CGContextRef c, CGFloat width) {
  if (c == nullptr) return;
  record("CGContextSetLineWidth", {width});
  cairo_set_line_width(c->cr, width < 0 ? 0 : width);
}

void CGContextSetLineJoin(CGContextRef c, CGLineJoin join) {
  if (c == nullptr) return;
  record("CGContextSetLineJoin", {double(join)});
  cairo_set_line_join(c->cr, join == kCGLineJoinRound   ? CAIRO_LINE_JOIN_ROUND
                             : join == kCGLineJoinBevel ? CAIRO_LINE_JOIN_BEVEL
                                                        : CAIRO_LINE_JOIN_MITER);
}

void CGContextSetLineCap(CGContextRef c, CGLineCap cap) {
  if (c == nullptr) return;
  record("CGContextSetLineCap", {double(cap)});
  cairo_set_line_cap(c->cr, cap == kCGLineCapRound    ? CAIRO_LINE_CAP_ROUND
                            : cap == kCGLineCapSquare ? CAIRO_LINE_CAP_SQUARE
                                                      : CAIRO_LINE_CAP_BUTT);
}

void CGContextSetMiterLimit(CGContextRef c, CGFloat limit) {
  if (c == nullptr) return;
  record("CGContextSetMiterLimit", {limit});
  cairo_set_miter_limit(c->cr, limit);
}

void CGContextSetRGBFillColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  if (c == nullptr) return;
  record("CGContextSetRGBFillColor", {r, g, b, a});
  setColour(c->colours.fill, r, g, b, a);
}

void CGContextSetRGBStrokeColor(CGContextRef c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  if (c == nullptr) return;
  record("CGContextSetRGBStrokeColor", {r, g, b, a});
  setColour(c->colours.stroke, r, g, b, a);
}

void CGContextFillRect(CGContextRef c, CGRect rect) {
  if (c == nullptr) return;
  record("CGContextFillRect", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height});
  cairo_path_t* path = cairo_copy_path(c->cr);
  cairo_new_path(c->cr);
  cairo_rectangle(c->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  useColour(c->cr, c->colours.fill);
  cairo_fill(c->cr);
  cairo_append_path(c->cr, path);
  cairo_path_destroy(path);
}

void CGContextStrokeRect(CGContextRef c, CGRect rect) {
  if (c == nullptr) return;
  record("CGContextStrokeRect", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height});
  cairo_path_t* path = cairo_copy_path(c->cr);
  cairo_new_path(c->cr);
  cairo_rectangle(c->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  useColour(c->cr, c->colours.stroke);
  cairo_stroke(c->cr);
  cairo_append_path(c->cr, path);
  cairo_path_destroy(path);
}

void CGContextBeginPath(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextBeginPath", {});
  cairo_new_path(c->cr);
}

void CGContextMoveToPoint(CGContextRef c, CGFloat x, CGFloat y) {
  if (c == nullptr) return;
  record("CGContextMoveToPoint", {x, y});
  cairo_move_to(c->cr, x, y);
}

void CGContextAddLineToPoint(CGContextRef c, CGFloat x, CGFloat y) {
  if (c == nullptr) return;
  record("CGContextAddLineToPoint", {x, y});
  cairo_line_to(c->cr, x, y);
}

void CGContextAddRect(CGContextRef c, CGRect rect) {
  if (c == nullptr) return;
  record("CGContextAddRect", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height});
  cairo_rectangle(c->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
}

void CGContextClosePath(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextClosePath", {});
  cairo_close_path(c->cr);
}

void CGContextStrokePath(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextStrokePath", {});
  useColour(c->cr, c->colours.stroke);
  cairo_stroke(c->cr);
}

void CGContextFillPath(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextFillPath", {});
  useColour(c->cr, c->colours.fill);
  cairo_set_fill_rule(c->cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(c->cr);
}

void CGContextFlush(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextFlush", {});
  cairo_surface_flush(cairo_get_target(c->cr));
}

void CGContextSynchronize(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextSynchronize", {});
  cairo_surface_flush(cairo_get_target(c->cr));
}

void SkyloomCGSetRecording(bool on) {
  std::lock_guard<std::mutex> lock(gLogLock);
  gRecording = on;
  if (on) gLog.clear();
}

std::vector<SkyloomCGCall> SkyloomCGRecordedCalls() {
  std::lock_guard<std::mutex> lock(gLogLock);
  return gLog;
}

long SkyloomCGLiveContextCount() { return gLiveContexts.load(); }

void SkyloomCGRecord(const char* name, std::vector<double> args) {
  std::lock_guard<std::mutex> lock(gLogLock);
  if (gRecording) gLog.push_back({name, std::move(args)});
}
