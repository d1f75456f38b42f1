#include "platform/coregraphics/CoreGraphics.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/coregraphics/CGImage.h"

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
    CGInterpolationQuality interpolation = kCGInterpolationDefault;  // kept with the state
    std::string font = "Helvetica";
    double fontSize = 12.0;
    CGTextDrawingMode textMode = kCGTextFill;
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
  if (gRecording) gLog.push_back({name, std::vector<double>(args), {}});
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
  if (gRecording) gLog.push_back({name, std::move(args), {}});
}

void CGContextClipToRect(CGContextRef c, CGRect rect) {
  if (c == nullptr) return;
  record("CGContextClipToRect", {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height});
  cairo_rectangle(c->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  cairo_clip(c->cr);
}

void CGContextSetInterpolationQuality(CGContextRef c, CGInterpolationQuality quality) {
  if (c == nullptr) return;
  record("CGContextSetInterpolationQuality", {double(quality)});
  c->colours.interpolation = quality;
}

void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image) {
  if (c == nullptr) return;
  const size_t iw = CGImageGetWidth(image), ih = CGImageGetHeight(image);
  record("CGContextDrawImage",
         {rect.origin.x, rect.origin.y, rect.size.width, rect.size.height, double(iw), double(ih)});
  if (image == nullptr || iw == 0 || ih == 0 || CGImageGetBitsPerComponent(image) != 8) return;
  const size_t bpp = CGImageGetBitsPerPixel(image);
  if (bpp != 32 && bpp != 8) return;
  const double x = CGRectGetMinX(rect), y = CGRectGetMinY(rect);
  const double w = CGRectGetWidth(rect), h = CGRectGetHeight(rect);
  if (!(w > 0) || !(h > 0)) return;
  cairo_t* cr = c->cr;
  // The image pixels that can reach the clip, one spare on each side for the
  // bilinear filter.
  double cx1, cy1, cx2, cy2;
  cairo_clip_extents(cr, &cx1, &cy1, &cx2, &cy2);
  cx1 = std::max(cx1, x), cy1 = std::max(cy1, y);
  cx2 = std::min(cx2, x + w), cy2 = std::min(cy2, y + h);
  if (cx1 >= cx2 || cy1 >= cy2) return;
  const double sx = double(iw) / w, sy = double(ih) / h;
  const long c0 = std::max(0L, long(std::floor((cx1 - x) * sx)) - 1);
  const long c1 = std::min(long(iw), long(std::ceil((cx2 - x) * sx)) + 1);
  const long r0 = std::max(0L, long(std::floor((y + h - cy2) * sy)) - 1);
  const long r1 = std::min(long(ih), long(std::ceil((y + h - cy1) * sy)) + 1);
  if (c0 >= c1 || r0 >= r1) return;
  const int cw = int(c1 - c0), ch = int(r1 - r0);
  cairo_surface_t* part = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, cw, ch);
  if (cairo_surface_status(part) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(part);
    return;
  }
  cairo_surface_flush(part);
  UInt8* out = cairo_image_surface_get_data(part);
  const int stride = cairo_image_surface_get_stride(part);
  const UInt8* bytes = SkyloomCGImageBytes(image);
  const size_t rowBytes = CGImageGetBytesPerRow(image);
  const CGBitmapInfo info = CGImageGetBitmapInfo(image);
  const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
  const bool opaqueARGB = bpp == 32 && (info & kCGBitmapAlphaInfoMask) == kCGImageAlphaNoneSkipFirst &&
                          (order == kCGBitmapByteOrderDefault || order == kCGBitmapByteOrder32Big);
  for (int r = 0; r < ch; ++r) {
    UInt32* o = reinterpret_cast<UInt32*>(out + size_t(r) * stride);
    if (opaqueARGB) {
      // X R G B bytes, the layout the image windows draw.
      const UInt8* p = bytes + size_t(r0 + r) * rowBytes + size_t(c0) * 4;
      for (int i = 0; i < cw; ++i)
        o[i] = 0xFF000000u | (UInt32(p[4 * i + 1]) << 16) | (UInt32(p[4 * i + 2]) << 8) | p[4 * i + 3];
    } else {
      for (int i = 0; i < cw; ++i) {
        UInt16 v[4] = {0, 0, 0, 0};
        SkyloomCGImagePixel(image, size_t(c0 + i), size_t(r0 + r), v);
        const UInt32 a = v[3];
        o[i] = (a << 24) | ((v[0] * a + 127) / 255) << 16 | ((v[1] * a + 127) / 255) << 8 | (v[2] * a + 127) / 255;
      }
    }
  }
  cairo_surface_mark_dirty(part);
  cairo_save(cr);
  // Image space: x to the right, rows downwards from the rect's top.
  cairo_translate(cr, x, y + h);
  cairo_scale(cr, w / double(iw), -h / double(ih));
  cairo_rectangle(cr, double(c0), double(r0), double(cw), double(ch));
  cairo_clip(cr);
  cairo_set_source_surface(cr, part, double(c0), double(r0));
  cairo_pattern_t* pattern = cairo_get_source(cr);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(pattern, c->colours.interpolation == kCGInterpolationNone ? CAIRO_FILTER_NEAREST
                                                                                     : CAIRO_FILTER_BILINEAR);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(part);
}

void CGContextAddArc(CGContextRef c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                     int clockwise) {
  if (c == nullptr) return;
  record("CGContextAddArc", {x, y, radius, startAngle, endAngle, double(clockwise)});
  // Angles grow counter-clockwise in user space (y up), as cairo_arc draws them there.
  if (clockwise)
    cairo_arc_negative(c->cr, x, y, radius, startAngle, endAngle);
  else
    cairo_arc(c->cr, x, y, radius, startAngle, endAngle);
}

void CGContextSetLineDash(CGContextRef c, CGFloat phase, const CGFloat lengths[], size_t count) {
  if (c == nullptr) return;
  std::vector<double> args{phase};
  for (size_t i = 0; lengths != nullptr && i < count; ++i) args.push_back(lengths[i]);
  SkyloomCGRecord("CGContextSetLineDash", args);
  cairo_set_dash(c->cr, lengths, lengths == nullptr ? 0 : int(count), phase);
}

void CGContextSelectFont(CGContextRef c, const char* name, CGFloat size, CGTextEncoding encoding) {
  if (c == nullptr || name == nullptr) return;
  record("CGContextSelectFont", {size, double(encoding)});
  c->colours.font = name;
  c->colours.fontSize = size;
}

void CGContextSetTextDrawingMode(CGContextRef c, CGTextDrawingMode mode) {
  if (c == nullptr) return;
  record("CGContextSetTextDrawingMode", {double(mode)});
  c->colours.textMode = mode;
}

void CGContextShowTextAtPoint(CGContextRef c, CGFloat x, CGFloat y, const char* text, size_t length) {
  if (c == nullptr || text == nullptr) return;
  // Mac Roman to UTF-8 for the few characters the application writes (the
  // plus-minus sign, the degree sign); others above 127 become '?'.
  std::string utf8;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char ch = static_cast<unsigned char>(text[i]);
    if (ch < 0x80) utf8 += char(ch);
    else if (ch == 0xB1) utf8 += "\xC2\xB1";
    else if (ch == 0xA1) utf8 += "\xC2\xB0";
    else utf8 += '?';
  }
  {
    std::lock_guard<std::mutex> lock(gLogLock);
    if (gRecording) gLog.push_back({"CGContextShowTextAtPoint", {x, y}, utf8});
  }
  if (c->colours.textMode == kCGTextInvisible) return;
  cairo_t* cr = c->cr;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(c->colours.font.c_str());
  pango_font_description_set_absolute_size(font, c->colours.fontSize * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
  const double baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
  cairo_save(cr);
  // Text reads upright: undo the flip of user space around the baseline point.
  cairo_translate(cr, x, y);
  cairo_scale(cr, 1, -1);
  cairo_move_to(cr, 0, -baseline);
  pango_cairo_layout_path(cr, layout);
  const CGTextDrawingMode mode = c->colours.textMode;
  if (mode == kCGTextFill || mode == kCGTextFillStroke) {
    useColour(cr, c->colours.fill);
    if (mode == kCGTextFillStroke)
      cairo_fill_preserve(cr);
    else
      cairo_fill(cr);
  }
  if (mode == kCGTextStroke || mode == kCGTextFillStroke) {
    useColour(cr, c->colours.stroke);
    cairo_stroke(cr);
  }
  cairo_new_path(cr);
  cairo_restore(cr);
  g_object_unref(layout);
}

void SkyloomCGDrawStyledText(CGContextRef c, const char* name, std::vector<double> args, CGFloat x, CGFloat y,
                             const std::string& utf8, const char* family, CGFloat size, bool bold,
                             const double rgba[4]) {
  if (c == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(gLogLock);
    if (gRecording) gLog.push_back({name, std::move(args), utf8});
  }
  if (utf8.empty() || !(size > 0)) return;
  cairo_t* cr = c->cr;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, family ? family : "DejaVu Sans");
  pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
  const double baseline = double(pango_layout_get_baseline(layout)) / PANGO_SCALE;
  // The text leaves the path being built alone.
  cairo_path_t* path = cairo_copy_path(cr);
  cairo_new_path(cr);
  cairo_save(cr);
  // Text reads upright: undo the flip of user space around the baseline point.
  cairo_translate(cr, x, y);
  cairo_scale(cr, 1, -1);
  cairo_move_to(cr, 0, -baseline);
  cairo_set_source_rgba(cr, rgba[0], rgba[1], rgba[2], rgba[3]);
  pango_cairo_show_layout(cr, layout);
  cairo_restore(cr);
  cairo_new_path(cr);
  cairo_append_path(cr, path);
  cairo_path_destroy(path);
  g_object_unref(layout);
}

bool SkyloomCGFontFamilyExists(const char* family) {
  if (family == nullptr || *family == 0) return false;
  PangoFontMap* map = pango_cairo_font_map_get_default();
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(map, &families, &count);
  bool found = false;
  for (int i = 0; i < count && !found; ++i)
    found = g_ascii_strcasecmp(pango_font_family_get_name(families[i]), family) == 0;
  g_free(families);
  return found;
}

// fontconfig keeps its configuration and font caches for the life of the
// process and frees them only in FcFini, which pango never calls, and pango
// loads them on a thread of its own inside the (uninstrumented) library: the
// sanitizer builds are told to expect both.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __tsan_default_suppressions() { return "race:libfontconfig.so\n"; }
