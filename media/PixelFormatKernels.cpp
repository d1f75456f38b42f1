#include "media/PixelFormatKernels.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/MediaSIMD.h"
#include "utilities/LowLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define SKYLOOM_MEDIA_SSE2 1
#endif

void myLocalMWMemCpy(void* dst, const void* src, UInt32 count) { myMemCpy(dst, src, count); }

namespace {

using u8 = unsigned char;

typedef void (*RowFn)(const u8* s, u8* d, UInt32 width);

inline u8 clamp255(SInt32 v) { return u8(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline void putARGB(u8* d, u8 r, u8 g, u8 b) {
  d[0] = 0xFF;
  d[1] = r;
  d[2] = g;
  d[3] = b;
}

#if SKYLOOM_MEDIA_SSE2
// Sixteen grey bytes to sixteen ARGB32 pixels.
inline void storeGrey16(__m128i v, u8* d) {
  const __m128i ff = _mm_set1_epi8(char(0xFF));
  __m128i arLo = _mm_unpacklo_epi8(ff, v), arHi = _mm_unpackhi_epi8(ff, v);
  __m128i gbLo = _mm_unpacklo_epi8(v, v), gbHi = _mm_unpackhi_epi8(v, v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(arHi, gbHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(arHi, gbHi));
}
#endif

void rowMono8(const u8* s, u8* d, UInt32 w) {
  UInt32 x = 0;
#if SKYLOOM_MEDIA_SSE2
  if (myMediaSIMDEnabled()) {
    for (; x + 16 <= w; x += 16)
      storeGrey16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)), d + 4 * size_t(x));
  }
#endif
  for (; x < w; ++x) putARGB(d + 4 * size_t(x), s[x], s[x], s[x]);
}

inline UInt16 load16(const u8* p) {
  UInt16 v;
  std::memcpy(&v, p, 2);
  return v;
}

void rowMono16(const u8* s, u8* d, UInt32 w) {
  UInt32 x = 0;
#if SKYLOOM_MEDIA_SSE2
  if (myMediaSIMDEnabled()) {
    for (; x + 16 <= w; x += 16) {
      __m128i a = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * size_t(x))), 8);
      __m128i b = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * size_t(x) + 16)), 8);
      storeGrey16(_mm_packus_epi16(a, b), d + 4 * size_t(x));
    }
  }
#endif
  for (; x < w; ++x) {
    u8 v = u8(load16(s + 2 * size_t(x)) >> 8);
    putARGB(d + 4 * size_t(x), v, v, v);
  }
}

void rowRGB24(const u8* s, u8* d, UInt32 w) {
  for (UInt32 x = 0; x < w; ++x, s += 3, d += 4) putARGB(d, s[0], s[1], s[2]);
}

void rowRGB48(const u8* s, u8* d, UInt32 w) {
  for (UInt32 x = 0; x < w; ++x, s += 6, d += 4)
    putARGB(d, u8(load16(s) >> 8), u8(load16(s + 2) >> 8), u8(load16(s + 4) >> 8));
}

// The chroma terms of one YUV group; products shift right arithmetically.
struct Chroma {
  SInt32 r, g, b;
};
inline Chroma chroma(u8 u, u8 v) {
  const SInt32 up = SInt32(u) - 128, vp = SInt32(v) - 128;
  return Chroma{(1432 * vp) >> 10, (354 * up + 730 * vp) >> 10, (1820 * up) >> 10};
}
inline void putYUV(u8* d, SInt32 y, const Chroma& c) {
  putARGB(d, clamp255(y + c.r), clamp255(y - c.g), clamp255(y + c.b));
}

#if SKYLOOM_MEDIA_SSE2
// The plain YUV rule on eight pixels in 16-bit lanes (Y, and U', V' already
// offset by -128); results before clamping. (c x a) >> 10 is computed as the
// high half of c x (a << 6), which is the same floor; the green products are
// added as 32-bit sums before their shift.
struct RGB16x8 {
  __m128i r, g, b;
};
inline RGB16x8 yuvRule8(__m128i y, __m128i up, __m128i vp) {
  const __m128i kR = _mm_set1_epi16(1432), kB = _mm_set1_epi16(1820);
  const __m128i kG = _mm_set1_epi32(354 | (730 << 16));
  const __m128i rT = _mm_mulhi_epi16(_mm_slli_epi16(vp, 6), kR);
  const __m128i bT = _mm_mulhi_epi16(_mm_slli_epi16(up, 6), kB);
  const __m128i gLo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(up, vp), kG), 10);
  const __m128i gHi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(up, vp), kG), 10);
  const __m128i gT = _mm_packs_epi32(gLo, gHi);
  return RGB16x8{_mm_add_epi16(y, rT), _mm_sub_epi16(y, gT), _mm_add_epi16(y, bT)};
}

// Sixteen pixels from (Y, U', V') lanes, clamped by unsigned saturation.
inline void storeYUV16(u8* d, __m128i y0, __m128i u0, __m128i v0, __m128i y1, __m128i u1, __m128i v1) {
  const RGB16x8 a = yuvRule8(y0, u0, v0), b = yuvRule8(y1, u1, v1);
  const __m128i r = _mm_packus_epi16(a.r, b.r), g = _mm_packus_epi16(a.g, b.g), bl = _mm_packus_epi16(a.b, b.b);
  const __m128i ff = _mm_set1_epi8(char(0xFF));
  __m128i arLo = _mm_unpacklo_epi8(ff, r), arHi = _mm_unpackhi_epi8(ff, r);
  __m128i gbLo = _mm_unpacklo_epi8(g, bl), gbHi = _mm_unpackhi_epi8(g, bl);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(arHi, gbHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(arHi, gbHi));
}

// Sixteen pixels gathered into Y, U, V byte arrays.
inline void storeYUVGathered(u8* d, const SInt16* y, const SInt16* u, const SInt16* v) {
  auto ld = [](const SInt16* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  const __m128i k128 = _mm_set1_epi16(128);
  storeYUV16(d, ld(y), _mm_sub_epi16(ld(u), k128), _mm_sub_epi16(ld(v), k128), ld(y + 8),
             _mm_sub_epi16(ld(u + 8), k128), _mm_sub_epi16(ld(v + 8), k128));
}
#endif

void rowYUV444(const u8* s, u8* d, UInt32 w) {
  UInt32 x = 0;
#if SKYLOOM_MEDIA_SSE2
  if (myMediaSIMDEnabled()) {
    alignas(16) SInt16 ys[16], us[16], vs[16];
    for (; x + 16 <= w; x += 16, s += 48, d += 64) {
      for (int i = 0; i < 16; ++i) us[i] = s[3 * i], ys[i] = s[3 * i + 1], vs[i] = s[3 * i + 2];
      storeYUVGathered(d, ys, us, vs);
    }
  }
#endif
  for (; x < w; ++x, s += 3, d += 4) putYUV(d, s[1], chroma(s[0], s[2]));
}

void rowYUV422(const u8* s, u8* d, UInt32 w) {
  UInt32 g = 0;
#if SKYLOOM_MEDIA_SSE2
  if (myMediaSIMDEnabled()) {
    // Eight words U Y0 V Y1: the odd bytes are the lumas in pixel order, the
    // even bytes U, V pairs that each serve two pixels.
    const __m128i lowByte = _mm_set1_epi16(0x00FF), k128 = _mm_set1_epi16(128);
    for (; g + 8 <= w / 2; g += 8, s += 32, d += 64) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
      const __m128i uvA = _mm_sub_epi16(_mm_and_si128(a, lowByte), k128);
      const __m128i uvB = _mm_sub_epi16(_mm_and_si128(b, lowByte), k128);
      auto spreadU = [](__m128i uv) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
      };
      auto spreadV = [](__m128i uv) {
        return _mm_shufflehi_epi16(_mm_shufflelo_epi16(uv, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
      };
      storeYUV16(d, _mm_srli_epi16(a, 8), spreadU(uvA), spreadV(uvA), _mm_srli_epi16(b, 8), spreadU(uvB),
                 spreadV(uvB));
    }
  }
#endif
  for (; g < w / 2; ++g, s += 4, d += 8) {
    const Chroma c = chroma(s[0], s[2]);
    putYUV(d, s[1], c);
    putYUV(d + 4, s[3], c);
  }
}

void rowYUV411(const u8* s, u8* d, UInt32 w) {
  UInt32 g = 0;
#if SKYLOOM_MEDIA_SSE2
  if (myMediaSIMDEnabled()) {
    alignas(16) SInt16 ys[16], us[16], vs[16];
    for (; g + 4 <= w / 4; g += 4, s += 24, d += 64) {
      for (int k = 0; k < 4; ++k) {
        const u8* q = s + 6 * k;
        for (int i = 0; i < 4; ++i) us[4 * k + i] = q[0], vs[4 * k + i] = q[3];
        ys[4 * k] = q[1], ys[4 * k + 1] = q[2], ys[4 * k + 2] = q[4], ys[4 * k + 3] = q[5];
      }
      storeYUVGathered(d, ys, us, vs);
    }
  }
#endif
  for (; g < w / 4; ++g, s += 6, d += 16) {
    const Chroma c = chroma(s[0], s[3]);
    putYUV(d, s[1], c);
    putYUV(d + 4, s[2], c);
    putYUV(d + 8, s[4], c);
    putYUV(d + 12, s[5], c);
  }
}

void convertRows(RowFn fn, const void* src, void* dst, size_t srcRowBytes, UInt32 rows, UInt32 width,
                 UInt32 dstRowBytes) {
  const u8* s = static_cast<const u8*>(src);
  u8* d = static_cast<u8*>(dst);
  if (width == 0 || s == nullptr || d == nullptr) return;
  for (UInt32 y = 0; y < rows; ++y, s += srcRowBytes, d += dstRowBytes) fn(s, d, width);
}

// One layout: the pixels of a frame of n bytes, the source row bytes of a
// width, the row rule, and the width multiple its vector form needs.
struct Layout {
  UInt64 (*pixels)(UInt64 n);
  UInt64 (*rowBytes)(UInt64 w);
  UInt32 (*widthOf)(UInt32 srcRowBytes);
  RowFn row;
  UInt32 vectorWidthMultiple;
};

const Layout kMono8{[](UInt64 n) { return n; }, [](UInt64 w) { return w; },
                    [](UInt32 rb) { return rb; }, rowMono8, 16};
const Layout kMono16{[](UInt64 n) { return n / 2; }, [](UInt64 w) { return 2 * w; },
                     [](UInt32 rb) { return rb / 2; }, rowMono16, 16};
const Layout kRGB24{[](UInt64 n) { return n / 3; }, [](UInt64 w) { return 3 * w; },
                    [](UInt32 rb) { return rb / 3; }, rowRGB24, 16};
const Layout kRGB48{[](UInt64 n) { return n / 6; }, [](UInt64 w) { return 6 * w; },
                    [](UInt32 rb) { return rb / 6; }, rowRGB48, 16};
const Layout kYUV444{[](UInt64 n) { return n / 3; }, [](UInt64 w) { return 3 * w; },
                     [](UInt32 rb) { return rb / 3; }, rowYUV444, 16};
const Layout kYUV422{[](UInt64 n) { return n / 2; }, [](UInt64 w) { return 2 * w; },
                     [](UInt32 rb) { return rb / 2; }, rowYUV422, 32};
const Layout kYUV411{[](UInt64 n) { return n * 2 / 3; }, [](UInt64 w) { return w * 3 / 2; },
                     [](UInt32 rb) { return UInt32(UInt64(rb) * 2 / 3); }, rowYUV411, 32};

void vectorForm(const Layout& L, const void* src, void* dst, UInt32 srcRowBytes, UInt32 rows,
                UInt32 dstRowBytes) {
  // The vector unit's rounding of the YUV products is not reproduced: these
  // forms compute the plain rule, which is the reference.
  convertRows(L.row, src, dst, srcRowBytes, rows, L.widthOf(srcRowBytes), dstRowBytes);
}

typedef void (*VectorFn)(const void*, void*, UInt32, UInt32, UInt32, UInt8);

void plainForm(const Layout& L, VectorFn vec, const void* src, void* dst, UInt32 n, UInt32 width,
               UInt32 dstRowBytes, UInt8 altivecFlag, UInt8 isG5) {
  if (width == 0) return;
  const UInt64 rowBytes = L.rowBytes(width);
  // Whole rows only: a byte count that is not a whole number of rows leaves
  // the partial last row unconverted instead of running past the buffers.
  const UInt64 rows = L.pixels(n) / width;
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(src) && myIsBuffer16ByteAligned(dst) &&
      (dstRowBytes & 15u) == 0 && width % L.vectorWidthMultiple == 0 && rowBytes <= 0xFFFFFFFFu) {
    vec(src, dst, UInt32(rowBytes), UInt32(n / rowBytes), dstRowBytes, UInt8(1 - isG5));
    return;
  }
  convertRows(L.row, src, dst, size_t(rowBytes), UInt32(rows), width, dstRowBytes);
}

}  // namespace

void ALTIVEC_Mono8ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kMono8, s, d, rb, rows, drb);
}
void ALTIVEC_Mono16ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kMono16, s, d, rb, rows, drb);
}
void ALTIVEC_RGB24ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kRGB24, s, d, rb, rows, drb);
}
void ALTIVEC_RGB48ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kRGB48, s, d, rb, rows, drb);
}
void ALTIVEC_YUV444ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kYUV444, s, d, rb, rows, drb);
}
void ALTIVEC_YUV422ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kYUV422, s, d, rb, rows, drb);
}
void ALTIVEC_YUV411ToARGB32_ALIGNED(const void* s, void* d, UInt32 rb, UInt32 rows, UInt32 drb, UInt8) {
  vectorForm(kYUV411, s, d, rb, rows, drb);
}

void Mono8ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kMono8, ALTIVEC_Mono8ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void Mono16ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kMono16, ALTIVEC_Mono16ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void RGB24ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kRGB24, ALTIVEC_RGB24ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void RGB48ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kRGB48, ALTIVEC_RGB48ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void YUV444ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kYUV444, ALTIVEC_YUV444ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void YUV422ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kYUV422, ALTIVEC_YUV422ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
void YUV411ToARGB32(const void* s, void* d, UInt32 n, UInt32 w, UInt32 drb, UInt8 av, UInt8 g5) {
  plainForm(kYUV411, ALTIVEC_YUV411ToARGB32_ALIGNED, s, d, n, w, drb, av, g5);
}
