#include "platform/coregraphics/CoreGraphics.h"

#include <cairo.h>
#include <pango/pangocairo.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/coregraphics/CGImage.h"

#include <atomic>
#include <bit>
#include <cstdlib>
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
    double alpha = 1.0;  // the global alpha images are drawn with
    std::string font = "Helvetica";
    double fontSize = 12.0;
    CGTextDrawingMode textMode = kCGTextFill;
    bool clipped = false;  // a clip narrower than the whole surface was set
  };
  Colours colours;
  std::vector<Colours> saved;
  // A bitmap context: the pixels it draws into. When the asked byte order is
  // not cairo's native word order the pixels are swapped around each call.
  cairo_surface_t* surface = nullptr;
  UInt8* bitmap = nullptr;
  bool ownsBitmap = false;
  bool swapBytes = false;
  size_t width = 0, height = 0, rowBytes = 0;
  UInt32 bitmapInfo = 0;  // a bitmap context's layout, for the images made from it
  CGPoint textPosition{0, 0};  // where the next text would start
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

// The byte order of n 32-bit words reversed, from `from` to `to` (which may
// be the same place), with `set` ORed into every result.
void swapWords(const UInt8* from, UInt8* to, size_t n, UInt32 set = 0) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i ones = _mm_set1_epi32(int(set));
  for (; i + 4 <= n; i += 4) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * i));
    v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4 * i), _mm_or_si128(v, ones));
  }
#endif
  for (; i < n; ++i) {
    UInt32 v;
    std::memcpy(&v, from + 4 * i, 4);
    v = __builtin_bswap32(v) | set;
    std::memcpy(to + 4 * i, &v, 4);
  }
}

// A R G B bytes with straight alpha to premultiplied native words (A high):
// each colour (c x a + 127) / 255.
void premultiplyARGB(const UInt8* from, UInt32* to, size_t n) {
  size_t i = 0;
#if defined(__SSE2__) && defined(__ORDER_LITTLE_ENDIAN__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(127);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i alphaMask = _mm_set1_epi32(int(0xFF000000u));
  for (; i + 4 <= n; i += 4) {
    // Bytes A R G B per pixel; as 16-bit lanes A, R, G, B of two pixels per half.
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * i));
    __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
    const __m128i alo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(lo, 0), 0);
    const __m128i ahi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(hi, 0), 0);
    lo = _mm_add_epi16(_mm_mullo_epi16(lo, alo), bias);
    hi = _mm_add_epi16(_mm_mullo_epi16(hi, ahi), bias);
    // x / 255 = (x + 1 + (x >> 8)) >> 8 for every x that c x a + 127 reaches.
    lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, one), _mm_srli_epi16(lo, 8)), 8);
    hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, one), _mm_srli_epi16(hi, 8)), 8);
    __m128i out = _mm_packus_epi16(lo, hi);  // A' R' G' B' bytes (A' wrong, set below)
    out = _mm_andnot_si128(alphaMask, [&] {
      __m128i w = _mm_or_si128(_mm_slli_epi16(out, 8), _mm_srli_epi16(out, 8));
      return _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
    }());
    // The alpha bytes themselves, moved to the high byte of each word.
    const __m128i alpha = _mm_slli_epi32(v, 24);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_or_si128(out, alpha));
  }
#endif
  for (; i < n; ++i) {
    const UInt8* p = from + 4 * i;
    const UInt32 a = p[0];
    to[i] = (a << 24) | ((p[1] * a + 127) / 255) << 16 | ((p[2] * a + 127) / 255) << 8 | (p[3] * a + 127) / 255;
  }
}

// Holds a bitmap context's pixels in cairo's word order for the length of one
// drawing call, over the device-space box that the call may touch (the user
// box given, through the transformation, within the clip and the surface).
class BitmapAccess {
 public:
  // skipIn: the call paints every pixel of the box opaquely, so the bytes
  // there need not be brought in first.
  // exact: the box is a whole-pixel device rectangle that the call paints
  // inside of, without antialiased spill (no margin is taken around it).
  BitmapAccess(CGContext* c, double ux0, double uy0, double ux1, double uy1, bool skipIn = false,
               bool exact = false)
      : c_(c) {
    if (c == nullptr || !c->swapBytes) return;
    double dx0 = 1e300, dy0 = 1e300, dx1 = -1e300, dy1 = -1e300;
    auto add = [&](double x, double y) {
      cairo_user_to_device(c->cr, &x, &y);
      dx0 = std::min(dx0, x), dy0 = std::min(dy0, y), dx1 = std::max(dx1, x), dy1 = std::max(dy1, y);
    };
    add(ux0, uy0), add(ux1, uy0), add(ux0, uy1), add(ux1, uy1);
    double cx0, cy0, cx1, cy1;
    cairo_clip_extents(c->cr, &cx0, &cy0, &cx1, &cy1);
    double kx0 = 1e300, ky0 = 1e300, kx1 = -1e300, ky1 = -1e300;
    auto addClip = [&](double x, double y) {
      cairo_user_to_device(c->cr, &x, &y);
      kx0 = std::min(kx0, x), ky0 = std::min(ky0, y), kx1 = std::max(kx1, x), ky1 = std::max(ky1, y);
    };
    addClip(cx0, cy0), addClip(cx1, cy0), addClip(cx0, cy1), addClip(cx1, cy1);
    // One pixel more on every side for antialiased edges.
    const double m = exact ? 0.0 : 1.0;
    const double x0 = std::max({dx0 - m, kx0 - m, 0.0}), y0 = std::max({dy0 - m, ky0 - m, 0.0});
    const double x1 = std::min({dx1 + m, kx1 + m, double(c->width)});
    const double y1 = std::min({dy1 + m, ky1 + m, double(c->height)});
    if (!(x0 < x1) || !(y0 < y1)) return;
    x0_ = size_t(std::floor(x0)), y0_ = size_t(std::floor(y0));
    x1_ = size_t(std::ceil(x1)), y1_ = size_t(std::ceil(y1));
    active_ = true;
    if (!skipIn) swap();
    cairo_surface_mark_dirty_rectangle(c->surface, int(x0_), int(y0_), int(x1_ - x0_), int(y1_ - y0_));
  }
  ~BitmapAccess() {
    if (!active_) return;
    cairo_surface_flush(c_->surface);
    swap();
  }
  BitmapAccess(const BitmapAccess&) = delete;
  BitmapAccess& operator=(const BitmapAccess&) = delete;

 private:
  void swap() {
    for (size_t y = y0_; y < y1_; ++y) {
      UInt8* row = c_->bitmap + y * c_->rowBytes + x0_ * 4;
      swapWords(row, row, x1_ - x0_);
    }
  }
  CGContext* c_;
  bool active_ = false;
  size_t x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
};

// Whether the rectangle lies on whole device pixels, axis-aligned and with
// no clip set: painting it touches exactly those pixels.
bool alignedRect(CGContext* c, CGRect rect) {
  if (c == nullptr || !c->swapBytes || c->colours.clipped) return false;
  cairo_matrix_t m;
  cairo_get_matrix(c->cr, &m);
  if (m.xy != 0 || m.yx != 0) return false;
  double x0 = rect.origin.x, y0 = rect.origin.y;
  double x1 = rect.origin.x + rect.size.width, y1 = rect.origin.y + rect.size.height;
  cairo_user_to_device(c->cr, &x0, &y0);
  cairo_user_to_device(c->cr, &x1, &y1);
  auto whole = [](double v) { return std::isfinite(v) && v == std::floor(v); };
  return whole(x0) && whole(y0) && whole(x1) && whole(y1);
}

// An opaque whole-pixel rectangle of a byte-swapped bitmap is written in the
// caller's byte order at once, as cairo would have painted it (each component
// through 16 bits, then its high byte).
bool fillBitmapDirectly(CGContext* c, CGRect rect) {
  double x0 = rect.origin.x, y0 = rect.origin.y;
  double x1 = rect.origin.x + rect.size.width, y1 = rect.origin.y + rect.size.height;
  cairo_user_to_device(c->cr, &x0, &y0);
  cairo_user_to_device(c->cr, &x1, &y1);
  const double lx = std::max(0.0, std::min(x0, x1)), hx = std::min(double(c->width), std::max(x0, x1));
  const double ly = std::max(0.0, std::min(y0, y1)), hy = std::min(double(c->height), std::max(y0, y1));
  if (!(lx < hx) || !(ly < hy)) return true;
  auto component = [](double v) {
    v = std::clamp(v, 0.0, 1.0);
    return UInt8(UInt32(v * 65535.0 + 0.5) >> 8);
  };
  const UInt8 pixel[4] = {0xFF, component(c->colours.fill[0]), component(c->colours.fill[1]),
                          component(c->colours.fill[2])};
  UInt32 word;
  std::memcpy(&word, pixel, 4);
  cairo_surface_flush(c->surface);
  for (size_t y = size_t(ly); y < size_t(hy); ++y) {
    UInt32* row = reinterpret_cast<UInt32*>(c->bitmap + y * c->rowBytes);
    std::fill(row + size_t(lx), row + size_t(hx), word);
  }
  cairo_surface_mark_dirty_rectangle(c->surface, int(lx), int(ly), int(hx - lx), int(hy - ly));
  return true;
}

// A buffer of at least n pixels kept for the thread (drawing is main-thread
// work); null when it cannot be made.
UInt32* scratchPixels(size_t n) {
  struct Scratch {
    UInt32* data = nullptr;
    size_t size = 0;
    ~Scratch() { std::free(data); }
  };
  static thread_local Scratch scratch;
  if (n > scratch.size) {
    std::free(scratch.data);
    scratch.size = 0;
    scratch.data = static_cast<UInt32*>(std::malloc(n * sizeof(UInt32)));
    if (scratch.data == nullptr) return nullptr;
    scratch.size = n;
  }
  return scratch.data;
}

// The whole clip in user space (for calls whose extent is not known first).
void clipBox(cairo_t* cr, double* x0, double* y0, double* x1, double* y1) { cairo_clip_extents(cr, x0, y0, x1, y1); }

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
  if (c->surface != nullptr) cairo_surface_destroy(c->surface);
  if (c->ownsBitmap) std::free(c->bitmap);
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
  const bool aligned = alignedRect(c, rect);
  if (aligned && c->colours.fill[3] >= 1.0 && fillBitmapDirectly(c, rect)) return;
  BitmapAccess access(c, rect.origin.x, rect.origin.y, rect.origin.x + rect.size.width,
                      rect.origin.y + rect.size.height, aligned && c->colours.fill[3] >= 1.0, aligned);
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
  const double half = cairo_get_line_width(c->cr) / 2 + 1;
  BitmapAccess access(c, rect.origin.x - half, rect.origin.y - half, rect.origin.x + rect.size.width + half,
                      rect.origin.y + rect.size.height + half);
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
  double x0, y0, x1, y1;
  cairo_stroke_extents(c->cr, &x0, &y0, &x1, &y1);
  BitmapAccess access(c, x0, y0, x1, y1);
  useColour(c->cr, c->colours.stroke);
  cairo_stroke(c->cr);
}

void CGContextFillPath(CGContextRef c) {
  if (c == nullptr) return;
  record("CGContextFillPath", {});
  double x0, y0, x1, y1;
  cairo_fill_extents(c->cr, &x0, &y0, &x1, &y1);
  BitmapAccess access(c, x0, y0, x1, y1);
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
  c->colours.clipped = true;
  cairo_rectangle(c->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
  cairo_clip(c->cr);
}

void CGContextSetInterpolationQuality(CGContextRef c, CGInterpolationQuality quality) {
  if (c == nullptr) return;
  record("CGContextSetInterpolationQuality", {double(quality)});
  c->colours.interpolation = quality;
}

void CGContextSetAlpha(CGContextRef c, CGFloat alpha) {
  if (c == nullptr) return;
  record("CGContextSetAlpha", {alpha});
  c->colours.alpha = std::clamp(double(alpha), 0.0, 1.0);
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
  const UInt8* bytes = SkyloomCGImageBytes(image);
  const size_t rowBytes = CGImageGetBytesPerRow(image);
  const CGBitmapInfo info = CGImageGetBitmapInfo(image);
  const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
  const bool memoryOrder = order == kCGBitmapByteOrderDefault || order == kCGBitmapByteOrder32Big;
  const CGBitmapInfo alpha = info & kCGBitmapAlphaInfoMask;
  const bool opaqueImage = alpha == kCGImageAlphaNone || alpha == kCGImageAlphaNoneSkipFirst ||
                           alpha == kCGImageAlphaNoneSkipLast;
  const bool opaqueARGB = bpp == 32 && alpha == kCGImageAlphaNoneSkipFirst && memoryOrder;
  const bool straightARGB = bpp == 32 && alpha == kCGImageAlphaFirst && memoryOrder;
  const bool premultipliedARGB = bpp == 32 && alpha == kCGImageAlphaPremultipliedFirst && memoryOrder;
  // The converted pixels go to a scratch buffer kept between draws: a fresh
  // surface each time costs more in page faults than the conversion itself.
  UInt32* out = scratchPixels(size_t(cw) * size_t(ch));
  if (out == nullptr) return;
  cairo_surface_t* part = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(out), opaqueImage ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, cw, ch, cw * 4);
  if (cairo_surface_status(part) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(part);
    return;
  }
  // A R G B bytes as a native word, A high.
  auto argbWord = [](const UInt8* p) {
    return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
  };
  for (int r = 0; r < ch; ++r) {
    UInt32* o = out + size_t(r) * size_t(cw);
    const UInt8* p = bytes + size_t(r0 + r) * rowBytes + size_t(c0) * 4;
    const bool little = std::endian::native == std::endian::little;
    if (straightARGB) {
      premultiplyARGB(p, o, size_t(cw));  // straight alpha, multiplied in here
    } else if (premultipliedARGB || opaqueARGB) {
      // X R G B bytes (the layout the image windows draw), or premultiplied.
      const UInt32 set = opaqueARGB ? 0xFF000000u : 0;
      if (little) {
        swapWords(p, reinterpret_cast<UInt8*>(o), size_t(cw), set);
      } else {
        for (int i = 0; i < cw; ++i) o[i] = argbWord(p + 4 * i) | set;
      }
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
  const bool aligned = alignedRect(c, rect);
  BitmapAccess access(c, x, y, x + w, y + h, opaqueImage && aligned && c->colours.alpha >= 1.0, aligned);
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
  if (c->colours.alpha >= 1.0)
    cairo_paint(cr);
  else
    cairo_paint_with_alpha(cr, c->colours.alpha);
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
  cairo_t* cr = c->cr;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(c->colours.font.c_str());
  pango_font_description_set_absolute_size(font, c->colours.fontSize * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, utf8.c_str(), int(utf8.size()));
  {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    c->textPosition = CGPoint{x + double(logical.x + logical.width) / PANGO_SCALE, y};
  }
  if (c->colours.textMode == kCGTextInvisible) {
    g_object_unref(layout);
    return;
  }
  double bx0, by0, bx1, by1;
  clipBox(cr, &bx0, &by0, &bx1, &by1);
  BitmapAccess access(c, bx0, by0, bx1, by1);
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

CGPoint CGContextGetTextPosition(CGContextRef c) {
  if (c == nullptr) return CGPoint{0, 0};
  record("CGContextGetTextPosition", {c->textPosition.x, c->textPosition.y});
  return c->textPosition;
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

// ---- Affine transformations ----

const CGAffineTransform CGAffineTransformIdentity = {1, 0, 0, 1, 0, 0};

CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty) {
  return CGAffineTransform{a, b, c, d, tx, ty};
}
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle) {
  const double s = std::sin(angle), co = std::cos(angle);
  return {co, s, -s, co, 0, 0};
}
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
  return {t1.a * t2.a + t1.b * t2.c,
          t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,
          t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx,
          t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, CGFloat tx, CGFloat ty) {
  return CGAffineTransformConcat(CGAffineTransformMakeTranslation(tx, ty), t);
}
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, CGFloat sx, CGFloat sy) {
  return CGAffineTransformConcat(CGAffineTransformMakeScale(sx, sy), t);
}
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, CGFloat angle) {
  return CGAffineTransformConcat(CGAffineTransformMakeRotation(angle), t);
}
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
  return CGPoint{t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}
CGRect CGRectApplyAffineTransform(CGRect rect, CGAffineTransform t) {
  const double x0 = CGRectGetMinX(rect), y0 = CGRectGetMinY(rect);
  const double x1 = CGRectGetMaxX(rect), y1 = CGRectGetMaxY(rect);
  const CGPoint corners[4] = {CGPointApplyAffineTransform({x0, y0}, t), CGPointApplyAffineTransform({x1, y0}, t),
                              CGPointApplyAffineTransform({x0, y1}, t), CGPointApplyAffineTransform({x1, y1}, t)};
  double lx = corners[0].x, hx = lx, ly = corners[0].y, hy = ly;
  for (const CGPoint& p : corners) {
    lx = std::min(lx, p.x), hx = std::max(hx, p.x);
    ly = std::min(ly, p.y), hy = std::max(hy, p.y);
  }
  return CGRectMake(lx, ly, hx - lx, hy - ly);
}

void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty) {
  if (c == nullptr) return;
  record("CGContextTranslateCTM", {tx, ty});
  cairo_translate(c->cr, tx, ty);
}

void CGContextRotateCTM(CGContextRef c, CGFloat angle) {
  if (c == nullptr) return;
  record("CGContextRotateCTM", {angle});
  cairo_rotate(c->cr, angle);
}

void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy) {
  if (c == nullptr) return;
  record("CGContextScaleCTM", {sx, sy});
  // cairo refuses a singular matrix; a zero scale draws nothing instead.
  if (sx == 0 || sy == 0 || !std::isfinite(sx) || !std::isfinite(sy)) {
    cairo_rectangle(c->cr, 0, 0, 0, 0);
    cairo_clip(c->cr);
    c->colours.clipped = true;
    return;
  }
  cairo_scale(c->cr, sx, sy);
}

void CGContextConcatCTM(CGContextRef c, CGAffineTransform t) {
  if (c == nullptr) return;
  record("CGContextConcatCTM", {t.a, t.b, t.c, t.d, t.tx, t.ty});
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) return;  // singular: left as it was
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
  cairo_transform(c->cr, &m);
}

// ---- Bitmap contexts ----

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, struct CGColorSpace* space, UInt32 bitmapInfo) {
  SkyloomCGRecord("CGBitmapContextCreate", {double(width), double(height), double(bytesPerRow)});
  if (space == nullptr || CGColorSpaceGetNumberOfComponents(space) != 3) return nullptr;
  if (bitsPerComponent != 8 || width == 0 || height == 0 || width > 32767 || height > 32767) return nullptr;
  if (bytesPerRow < width * 4 || bytesPerRow % 4 != 0 || bytesPerRow > size_t(INT32_MAX)) return nullptr;
  const CGBitmapInfo alpha = bitmapInfo & kCGBitmapAlphaInfoMask;
  const CGBitmapInfo order = bitmapInfo & kCGBitmapByteOrderMask;
  if (alpha != kCGImageAlphaPremultipliedFirst && alpha != kCGImageAlphaNoneSkipFirst) return nullptr;
  if (order != kCGBitmapByteOrderDefault && order != kCGBitmapByteOrder32Big && order != kCGBitmapByteOrder32Little)
    return nullptr;
  if (bitmapInfo & kCGBitmapFloatComponents) return nullptr;
  // cairo's pixels are native 32-bit words, A in the high byte.
  const bool wantLittle = order == kCGBitmapByteOrder32Little;
  const bool swap = wantLittle != (std::endian::native == std::endian::little);
  UInt8* bytes = static_cast<UInt8*>(data);
  bool owns = false;
  if (bytes == nullptr) {
    if (height > SIZE_MAX / bytesPerRow) return nullptr;
    bytes = static_cast<UInt8*>(std::calloc(height, bytesPerRow));
    if (bytes == nullptr) return nullptr;
    owns = true;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(bytes, alpha == kCGImageAlphaNoneSkipFirst ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
                                          int(width), int(height), int(bytesPerRow));
  CGContextRef c = SkyloomCGCreateContextForSurface(surface, CGFloat(height));
  if (c == nullptr) {
    cairo_surface_destroy(surface);
    if (owns) std::free(bytes);
    return nullptr;
  }
  c->surface = surface;
  c->bitmap = bytes;
  c->ownsBitmap = owns;
  c->swapBytes = swap;
  c->width = width;
  c->height = height;
  c->rowBytes = bytesPerRow;
  c->bitmapInfo = bitmapInfo;
  // The system's defaults for a new bitmap context.
  cairo_set_antialias(c->cr, CAIRO_ANTIALIAS_DEFAULT);
  return c;
}

void* CGBitmapContextGetData(CGContextRef c) { return c != nullptr ? c->bitmap : nullptr; }
size_t CGBitmapContextGetWidth(CGContextRef c) { return c != nullptr ? c->width : 0; }
size_t CGBitmapContextGetHeight(CGContextRef c) { return c != nullptr ? c->height : 0; }
size_t CGBitmapContextGetBytesPerRow(CGContextRef c) { return c != nullptr ? c->rowBytes : 0; }

CGImageRef CGBitmapContextCreateImage(CGContextRef c) {
  if (c == nullptr || c->bitmap == nullptr) return nullptr;
  SkyloomCGRecord("CGBitmapContextCreateImage", {double(c->width), double(c->height)});
  // A copy: later drawing into the context leaves the image as it was.
  const size_t size = c->rowBytes * c->height;
  void* copy = std::malloc(size);
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, c->bitmap, size);
  CGDataProviderRef provider =
      CGDataProviderCreateWithData(nullptr, copy, size, [](void*, const void* data, size_t) { std::free(const_cast<void*>(data)); });
  if (provider == nullptr) {
    std::free(copy);
    return nullptr;
  }
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGImageRef image = space ? CGImageCreate(c->width, c->height, 8, 32, c->rowBytes, space, c->bitmapInfo, provider,
                                           nullptr, false, kCGRenderingIntentDefault)
                           : nullptr;
  CGColorSpaceRelease(space);
  CGDataProviderRelease(provider);
  return image;
}

// fontconfig keeps its configuration and font caches for the life of the
// process and frees them only in FcFini, which pango never calls, and pango
// loads them on a thread of its own inside the (uninstrumented) library: the
// sanitizer builds are told to expect both.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __tsan_default_suppressions() { return "race:libfontconfig.so\n"; }
