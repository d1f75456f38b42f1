#include "pixel/FlatField.h"

#include "pixel/BayerPlanes.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/BayerPhase.h"
#include "utilities/CpuPaths.h"
#include "utilities/LowLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#define SKYLOOM_FLAT_AVX2 1
#endif

namespace {

// ---- factors

inline FlattenedFrame8Bit fixedFactor(double mean, UInt32 sample) {
  return (mean > 0.0 && sample > 0) ? X2Fix(mean / double(sample)) : fixed1;
}

inline FlattenedFrame16Bit floatFactor(double mean, UInt32 sample) {
  return (mean > 0.0 && sample > 0) ? float(mean / double(sample)) : 1.0f;
}

inline double meanOf(UInt64 sum, UInt64 count) {
  return count == 0 ? 0.0 : double(sum) / double(count);
}

template <typename S, typename F, typename Make>
void buildMono(const S* flat, F* factors, UInt32 width, UInt32 height, Make make) {
  const size_t count = size_t(width) * height;
  UInt64 sum = 0;  // 64 bits: exact for any frame size
  for (size_t i = 0; i < count; ++i) sum += flat[i];
  const double mean = meanOf(sum, count);
  for (size_t i = 0; i < count; ++i) factors[i] = make(mean, flat[i]);
}

enum { kRed = 0, kGreen = 1, kBlue = 2 };

inline int mosaicColour(MyBayerFamily family, UInt32 startRowFlag, UInt32 row, UInt32 col) {
  const MyBayerPhase phase = myBayerPhase(family != kMyBayerFamilyRGGB, startRowFlag);
  if (phase.green(col, row)) return kGreen;
  return phase.redRow(row) ? kRed : kBlue;
}

template <typename S, typename F, typename Make>
void buildMosaic(const S* flat, F* factors, UInt32 width, UInt32 height, MyBayerFamily family,
                 UInt32 startRowFlag, Make make) {
  UInt64 sum[3] = {0, 0, 0}, count[3] = {0, 0, 0};
  for (UInt32 r = 0; r < height; ++r) {
    const S* row = flat + size_t(r) * width;
    for (UInt32 c = 0; c < width; ++c) {
      const int k = mosaicColour(family, startRowFlag, r, c);
      sum[k] += row[c];
      ++count[k];
    }
  }
  const double mean[3] = {meanOf(sum[0], count[0]), meanOf(sum[1], count[1]),
                          meanOf(sum[2], count[2])};
  for (UInt32 r = 0; r < height; ++r) {
    const S* row = flat + size_t(r) * width;
    F* out = factors + size_t(r) * width;
    for (UInt32 c = 0; c < width; ++c) out[c] = make(mean[mosaicColour(family, startRowFlag, r, c)], row[c]);
  }
}

// ---- application

// Fixed-length blocks let the cheap vectoriser handle the body.
constexpr UInt32 kBlock = 32;

// The 16.16 product of p (as p x 65536) and f is exactly p x f; the sample
// becomes 255 when that exceeds 254 x 65536, else its integer part. Factors
// above 254.0 + 1/65536 saturate any non-zero sample, so clamping them there
// keeps the product in 32 bits; a negative factor gives 0.
constexpr UInt32 kLimit8 = 254u * 65536u;
constexpr SInt32 kFactorCap8 = SInt32(kLimit8 + 1);

inline UInt8 flatten8(UInt8 p, FlattenedFrame8Bit f) {
  const UInt32 fc = UInt32(f < 0 ? 0 : (f > kFactorCap8 ? kFactorCap8 : f));
  const UInt32 r = UInt32(p) * fc;
  return r > kLimit8 ? UInt8(255) : UInt8(r >> 16);
}

#if defined(__SSE2__)
// Eight samples in 16-bit lanes with the factors of `a` (samples 0-3) and `b`
// (4-7). With f = fi x 65536 + ff and 0 <= fi <= 254, p x f has the integer
// part p x fi + (p x ff) >> 16 and the fraction (p x ff) & 0xFFFF, all within
// 16 bits; the same result as flatten8.
inline __m128i flatten8Lanes(__m128i p, __m128i a, __m128i b) {
  const __m128i fi = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
  const __m128i ff = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                                     _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i v255 = _mm_set1_epi16(255);
  const __m128i v254 = _mm_set1_epi16(254);
  const __m128i whole = _mm_add_epi16(_mm_mullo_epi16(p, fi), _mm_mulhi_epu16(p, ff));
  const __m128i fraction = _mm_mullo_epi16(p, ff);
  // whole + (fraction != 0) > 254 says p x f > 254.0
  const __m128i roundedUp = _mm_add_epi16(_mm_add_epi16(whole, ones), _mm_cmpeq_epi16(fraction, zero));
  const __m128i fits = _mm_cmpeq_epi16(_mm_subs_epu16(roundedUp, v254), zero);
  __m128i out = _mm_or_si128(_mm_and_si128(fits, whole), _mm_andnot_si128(fits, v255));
  const __m128i big = _mm_cmpgt_epi16(fi, v254);
  const __m128i bigOut = _mm_andnot_si128(_mm_cmpeq_epi16(p, zero), v255);
  out = _mm_or_si128(_mm_and_si128(big, bigOut), _mm_andnot_si128(big, out));
  return _mm_andnot_si128(_mm_cmplt_epi16(fi, zero), out);
}
#endif

inline UInt16 flatten16(UInt16 p, FlattenedFrame16Bit f) {
  float v = f * float(p);
  v = v > 0.0f ? v : 0.0f;           // negative and NaN products give 0
  v = v > 65534.0f ? 65535.0f : v;
  return UInt16(SInt32(v));
}

#if defined(SKYLOOM_FLAT_AVX2)
// AVX2: flatten8 on eight 32-bit lanes at a time, 32 samples a step. The
// product p x min(max(f, 0), cap) fits 32 bits unsigned; above kLimit8 it
// gives 255, else its upper 16 bits.
__attribute__((target("avx2"))) UInt32 applyRun8AVX2(UInt8* __restrict image,
                                                      const FlattenedFrame8Bit* __restrict factors,
                                                      UInt32 count) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i cap = _mm256_set1_epi32(kFactorCap8);
  const __m256i over = _mm256_set1_epi32(SInt32(kLimit8 + 1));
  const __m256i v255 = _mm256_set1_epi32(255);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  UInt32 i = 0;
  for (; i + 32 <= count; i += 32) {
    __m256i r[4];
    for (int k = 0; k < 4; ++k) {
      const __m256i p =
          _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(image + i + 8 * k)));
      __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(factors + i + 8 * k));
      f = _mm256_min_epi32(_mm256_max_epi32(f, zero), cap);
      const __m256i prod = _mm256_mullo_epi32(p, f);
      const __m256i big = _mm256_cmpeq_epi32(_mm256_max_epu32(prod, over), prod);
      r[k] = _mm256_blendv_epi8(_mm256_srli_epi32(prod, 16), v255, big);
    }
    const __m256i ab = _mm256_packus_epi32(r[0], r[1]);
    const __m256i cd = _mm256_packus_epi32(r[2], r[3]);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(ab, cd), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + i), bytes);
  }
  return i;
}

// AVX2: flatten16 on eight samples at a time, in single precision as the plain
// form: max(v, 0) turns NaN and negative products into 0.
__attribute__((target("avx2"))) UInt32 applyRun16AVX2(UInt16* __restrict image,
                                                       const FlattenedFrame16Bit* __restrict factors,
                                                       UInt32 count) {
  const __m256 zero = _mm256_setzero_ps();
  const __m256 limit = _mm256_set1_ps(65534.0f);
  const __m256 top = _mm256_set1_ps(65535.0f);
  UInt32 i = 0;
  for (; i + 16 <= count; i += 16) {
    __m256i out[2];
    for (int k = 0; k < 2; ++k) {
      const __m256i p =
          _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(image + i + 8 * k)));
      __m256 v = _mm256_mul_ps(_mm256_loadu_ps(factors + i + 8 * k), _mm256_cvtepi32_ps(p));
      v = _mm256_max_ps(v, zero);
      v = _mm256_blendv_ps(v, top, _mm256_cmp_ps(v, limit, _CMP_GT_OQ));
      out[k] = _mm256_cvttps_epi32(v);
    }
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(out[0], out[1]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + i), packed);
  }
  return i;
}
#endif

void applyRun8(UInt8* __restrict image, const FlattenedFrame8Bit* __restrict factors,
               UInt32 count) {
  UInt32 i = 0;
  const MyCpuPath path = myCpuPath();
#if defined(SKYLOOM_FLAT_AVX2)
  if (path >= kMyCpuPathAVX2) i = applyRun8AVX2(image, factors, count);
#endif
#if defined(__SSE2__)
  if (path >= kMyCpuPathSSE2) {
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(image + i));
    const __m128i* f = reinterpret_cast<const __m128i*>(factors + i);
    const __m128i lo = flatten8Lanes(_mm_unpacklo_epi8(p, zero), _mm_loadu_si128(f),
                                     _mm_loadu_si128(f + 1));
    const __m128i hi = flatten8Lanes(_mm_unpackhi_epi8(p, zero), _mm_loadu_si128(f + 2),
                                     _mm_loadu_si128(f + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(image + i), _mm_packus_epi16(lo, hi));
  }
  }
#endif
  for (; i < count; ++i) image[i] = flatten8(image[i], factors[i]);
}

void applyRun16(UInt16* __restrict image, const FlattenedFrame16Bit* __restrict factors,
                UInt32 count) {
  UInt32 i = 0;
#if defined(SKYLOOM_FLAT_AVX2)
  if (myCpuPath() >= kMyCpuPathAVX2) i = applyRun16AVX2(image, factors, count);
#endif
  for (; i + kBlock <= count; i += kBlock) {
    UInt16* im = image + i;
    const FlattenedFrame16Bit* f = factors + i;
    for (UInt32 k = 0; k < kBlock; ++k) im[k] = flatten16(im[k], f[k]);
  }
  for (; i < count; ++i) image[i] = flatten16(image[i], factors[i]);
}

}  // namespace

void myCreateFlattenedFrameMono8Bit(const UInt8* flat, FlattenedFrame8Bit* factors, UInt32 width,
                                    UInt32 height, UInt8) {
  buildMono(flat, factors, width, height, fixedFactor);
}

void myCreateBayerFlattenedFrameRGGB8Bit(const UInt8* flat, FlattenedFrame8Bit* factors,
                                         UInt32 width, UInt32 height, UInt32 startRowFlag,
                                         UInt8) {
  buildMosaic(flat, factors, width, height, kMyBayerFamilyRGGB, startRowFlag, fixedFactor);
}

void myCreateBayerFlattenedFrameBGGR8Bit(const UInt8* flat, FlattenedFrame8Bit* factors,
                                         UInt32 width, UInt32 height, UInt32 startRowFlag,
                                         UInt8) {
  buildMosaic(flat, factors, width, height, kMyBayerFamilyBGGR, startRowFlag, fixedFactor);
}

void myCreateFlattenedFrameMono16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                     UInt32 width, UInt32 height) {
  buildMono(flat, factors, width, height, floatFactor);
}

void myCreateBayerFlattenedFrameRGGB16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                          UInt32 width, UInt32 height, UInt32 startRowFlag) {
  buildMosaic(flat, factors, width, height, kMyBayerFamilyRGGB, startRowFlag, floatFactor);
}

void myCreateBayerFlattenedFrameBGGR16Bit(const UInt16* flat, FlattenedFrame16Bit* factors,
                                          UInt32 width, UInt32 height, UInt32 startRowFlag) {
  buildMosaic(flat, factors, width, height, kMyBayerFamilyBGGR, startRowFlag, floatFactor);
}

void myAltivecFlattenFrame8Bit(UInt8* image, const FlattenedFrame8Bit* factors, UInt32 count,
                               UInt8) {
  applyRun8(image, factors, count);
}

void myAltivecFlattenFrame16Bit(UInt16* image, const FlattenedFrame16Bit* factors, UInt32 count,
                                UInt8) {
  applyRun16(image, factors, count);
}

void myFlattenFrame8Bit(UInt8* image, const FlattenedFrame8Bit* factors, UInt32 count,
                        UInt8 altivecFlag, UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(image) == 1 &&
      myIsBuffer16ByteAligned(factors) == 1) {
    myAltivecFlattenFrame8Bit(image, factors, count, prefetchFlag);
    return;
  }
  applyRun8(image, factors, count);
}

void myFlattenFrame16Bit(UInt16* image, const FlattenedFrame16Bit* factors, UInt32 count,
                         UInt8 altivecFlag, UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(image) == 1 &&
      myIsBuffer16ByteAligned(factors) == 1) {
    myAltivecFlattenFrame16Bit(image, factors, count, prefetchFlag);
    return;
  }
  applyRun16(image, factors, count);
}
