#include "tav/FrameFilters.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Sample layout of a pixel: ARGB32 bytes with R, G, B at 1..3; RGB48 16-bit
// samples with R, G, B at 0..2.
struct ARGB32Form {
  using T = UInt8;
  static constexpr int kStride = 4;
  static constexpr int kOff[3] = {1, 2, 3};
  static constexpr SInt64 kMax = 255;
  static constexpr bool kAlpha = true;
  using TileSum = UInt16;
};
struct RGB48Form {
  using T = UInt16;
  static constexpr int kStride = 3;
  static constexpr int kOff[3] = {0, 1, 2};
  static constexpr SInt64 kMax = 65535;
  static constexpr bool kAlpha = false;
  using TileSum = UInt32;
};

template <class F>
inline typename F::T* rowOf(typename F::T* base, UInt32 y, UInt32 rowBytes) {
  return reinterpret_cast<typename F::T*>(reinterpret_cast<UInt8*>(base) + size_t(y) * rowBytes);
}
template <class F>
inline const typename F::T* rowOf(const typename F::T* base, UInt32 y, UInt32 rowBytes) {
  return reinterpret_cast<const typename F::T*>(reinterpret_cast<const UInt8*>(base) +
                                                size_t(y) * rowBytes);
}

template <class F>
inline typename F::T clampSample(SInt64 v) {
  return typename F::T(std::clamp<SInt64>(v, 0, F::kMax));
}
// Saturating conversion of a double (NaN gives 0).
template <class F>
inline typename F::T clampSample(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= double(F::kMax)) return typename F::T(F::kMax);
  return typename F::T(v);
}
inline SInt64 truncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.0e18) return INT64_MAX;
  if (v <= -9.0e18) return INT64_MIN;
  return SInt64(v);
}

// ---- background floor ----

// One window position along an axis: tile t starts its window 16 pixels
// before the tile (at 0 for the first), moved back to fit inside the frame.
inline UInt32 windowStart(UInt32 tile, UInt32 extent) {
  UInt32 s = tile == 0 ? 0 : 16 * tile - 16;
  return std::min(s, extent - 32);
}

struct TileStats {
  UInt32 mn[3], mx[3];
  UInt64 sum[3];
};

// Minimum, maximum and sum of each channel over each 16 x 16 tile. Four
// pixels at a time into lanes of the sample type, which the compiler turns
// into vector minimum, maximum and add; lane k holds channel slot k % stride.
template <class F>
std::vector<TileStats> tileStats(const typename F::T* src, UInt32 tilesX, UInt32 tilesY,
                                 UInt32 rowBytes) {
  using T = typename F::T;
  using Sum = typename F::TileSum;  // holds 64 samples of a lane
  constexpr int kLanes = F::kStride * 4;
  std::vector<TileStats> tiles(size_t(tilesX) * tilesY);
  for (UInt32 ty = 0; ty < tilesY; ++ty) {
    for (UInt32 tx = 0; tx < tilesX; ++tx) {
      T mn[kLanes], mx[kLanes];
      Sum sum[kLanes];
      for (int k = 0; k < kLanes; ++k) {
        mn[k] = T(F::kMax);
        mx[k] = 0;
        sum[k] = 0;
      }
#ifdef __SSE2__
      if constexpr (sizeof(T) == 1 && kLanes == 16) {
        // The same lanes in SSE2 registers: byte minimum and maximum, sums
        // widened to 16 bits (64 bytes of at most 255 fit).
        __m128i vmn = _mm_set1_epi8(char(0xFF)), vmx = _mm_setzero_si128();
        __m128i sumLo = _mm_setzero_si128(), sumHi = _mm_setzero_si128();
        const __m128i zero = _mm_setzero_si128();
        for (UInt32 y = 16 * ty; y < 16 * ty + 16; ++y) {
          const T* r = rowOf<F>(src, y, rowBytes) + size_t(16 * tx) * F::kStride;
          for (int chunk = 0; chunk < 4; ++chunk, r += kLanes) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r));
            vmn = _mm_min_epu8(vmn, v);
            vmx = _mm_max_epu8(vmx, v);
            sumLo = _mm_add_epi16(sumLo, _mm_unpacklo_epi8(v, zero));
            sumHi = _mm_add_epi16(sumHi, _mm_unpackhi_epi8(v, zero));
          }
        }
        UInt16 lo[8], hi[8];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mn), vmn);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mx), vmx);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lo), sumLo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(hi), sumHi);
        for (int k = 0; k < 8; ++k) {
          sum[k] = Sum(lo[k]);
          sum[k + 8] = Sum(hi[k]);
        }
      } else
#endif
      for (UInt32 y = 16 * ty; y < 16 * ty + 16; ++y) {
        const T* r = rowOf<F>(src, y, rowBytes) + size_t(16 * tx) * F::kStride;
        for (int chunk = 0; chunk < 4; ++chunk, r += kLanes) {
          for (int k = 0; k < kLanes; ++k) {
            mn[k] = std::min(mn[k], r[k]);
            mx[k] = std::max(mx[k], r[k]);
            sum[k] = Sum(sum[k] + r[k]);
          }
        }
      }
      TileStats& t = tiles[size_t(ty) * tilesX + tx];
      for (int c = 0; c < 3; ++c) {
        t.mn[c] = UINT32_MAX;
        t.mx[c] = 0;
        t.sum[c] = 0;
        for (int k = F::kOff[c]; k < kLanes; k += F::kStride) {
          t.mn[c] = std::min<UInt32>(t.mn[c], mn[k]);
          t.mx[c] = std::max<UInt32>(t.mx[c], mx[k]);
          t.sum[c] += sum[k];
        }
      }
    }
  }
  return tiles;
}

template <class F>
void level(const typename F::T* src, typename F::T* dst, UInt32 width, UInt32 height,
           UInt32 rowBytes, float strength) {
  if (width < 32 || height < 32) return;
  const UInt32 tilesX = width / 16, tilesY = height / 16;
  SInt64 sumMin[3] = {0, 0, 0}, sumMax[3] = {0, 0, 0};
  UInt32 count[3] = {0, 0, 0};
  // When the frame is a whole number of tiles, every window is 2 x 2 tiles of
  // the 16-pixel grid: measure each tile once and combine four.
  const bool onGrid = width % 16 == 0 && height % 16 == 0;
  std::vector<TileStats> tiles;
  if (onGrid) tiles = tileStats<F>(src, tilesX, tilesY, rowBytes);
  for (UInt32 ty = 0; ty < tilesY; ++ty) {
    const UInt32 y0 = windowStart(ty, height);
    for (UInt32 tx = 0; tx < tilesX; ++tx) {
      const UInt32 x0 = windowStart(tx, width);
      UInt32 mn[3] = {UINT32_MAX, UINT32_MAX, UINT32_MAX}, mx[3] = {0, 0, 0};
      UInt64 sum[3] = {0, 0, 0};
      if (onGrid) {
        for (UInt32 j = 0; j < 2; ++j)
          for (UInt32 i = 0; i < 2; ++i) {
            const TileStats& t = tiles[size_t(y0 / 16 + j) * tilesX + x0 / 16 + i];
            for (int c = 0; c < 3; ++c) {
              mn[c] = std::min(mn[c], t.mn[c]);
              mx[c] = std::max(mx[c], t.mx[c]);
              sum[c] += t.sum[c];
            }
          }
      } else {
        for (UInt32 y = y0; y < y0 + 32; ++y) {
          const typename F::T* r = rowOf<F>(src, y, rowBytes) + size_t(x0) * F::kStride;
          for (UInt32 x = 0; x < 32; ++x, r += F::kStride) {
            for (int c = 0; c < 3; ++c) {
              const UInt32 v = r[F::kOff[c]];
              mn[c] = std::min(mn[c], v);
              mx[c] = std::max(mx[c], v);
              sum[c] += v;
            }
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        const SInt64 mean = std::llround(double(sum[c]) * (1.0 / 1024.0));
        const SInt64 needed = SInt64(mn[c]) + truncToInt(double(mx[c] - mn[c]) * 0.1);
        if (mean >= needed) {
          sumMin[c] += mn[c];
          sumMax[c] += mx[c];
          ++count[c];
        }
      }
    }
  }
  SInt64 floorOf[3];
  for (int c = 0; c < 3; ++c) {
    floorOf[c] = count[c] == 0 ? 0
                               : truncToInt((double(sumMin[c]) +
                                             double(strength) * double(sumMax[c] - sumMin[c])) /
                                            double(count[c]));
  }
  typename F::T lift[3];
  for (int c = 0; c < 3; ++c) lift[c] = clampSample<F>(floorOf[c]);
  for (UInt32 y = 0; y < height; ++y) {
    const typename F::T* s = rowOf<F>(src, y, rowBytes);
    typename F::T* d = rowOf<F>(dst, y, rowBytes);
    if (s == d) {
      // In place (as the workers call it) raising to the floor is the same
      // as writing the larger of sample and floor, which vectorises.
      // Alpha's lane has floor 0, so it stays.
      constexpr int kLanes = F::kStride * 4;
      typename F::T lanes[kLanes] = {};
      for (int k = 0; k < kLanes; k += F::kStride)
        for (int c = 0; c < 3; ++c) lanes[k + F::kOff[c]] = lift[c];
      UInt32 x = 0;
      for (; x + 4 <= width; x += 4, d += kLanes)
        for (int k = 0; k < kLanes; ++k) d[k] = std::max(d[k], lanes[k]);
      for (; x < width; ++x, d += F::kStride)
        for (int c = 0; c < 3; ++c) d[F::kOff[c]] = std::max(d[F::kOff[c]], lift[c]);
      continue;
    }
    for (UInt32 x = 0; x < width; ++x, s += F::kStride, d += F::kStride) {
      for (int c = 0; c < 3; ++c) {
        if (SInt64(s[F::kOff[c]]) <= floorOf[c]) d[F::kOff[c]] = lift[c];
      }
    }
  }
}

// ---- iterative background cut ----

template <class F>
void averageCut(typename F::T* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                UInt32 passLimit, UInt32 closeEnough) {
  if (width == 0 || height == 0) return;
  const UInt32 minCount = UInt32(float(width * height) * 3.0f * 0.1f);
  // Row sums are added as single-precision floats.
  float total = 0.0f;
  for (UInt32 y = 0; y < height; ++y) {
    const typename F::T* r = rowOf<F>(frame, y, rowBytes);
    UInt64 rowSum = 0;
    for (UInt32 x = 0; x < width; ++x, r += F::kStride)
      rowSum += UInt64(r[F::kOff[0]]) + r[F::kOff[1]] + r[F::kOff[2]];
    total += float(rowSum);
  }
  UInt32 cut = UInt32(total / float(3.0 * double(width) * double(height)));
  UInt32 previous = UInt32(F::kMax);
  for (UInt32 pass = 0; pass < passLimit; ++pass) {
    UInt64 below = 0;
    float belowSum = 0.0f;
    for (UInt32 y = 0; y < height; ++y) {
      const typename F::T* r = rowOf<F>(frame, y, rowBytes);
      UInt64 rowSum = 0;
      UInt32 rowCount = 0;
      for (UInt32 x = 0; x < width; ++x, r += F::kStride) {
        for (int c = 0; c < 3; ++c) {
          const UInt32 v = r[F::kOff[c]];
          const UInt32 in = v < cut ? 1u : 0u;
          rowCount += in;
          rowSum += in * v;
        }
      }
      below += rowCount;
      belowSum += float(rowSum);
    }
    if (below <= minCount) break;
    if ((cut > previous ? cut - previous : previous - cut) <= closeEnough) break;
    previous = cut;
    cut = UInt32(belowSum / float(below));
  }
  for (UInt32 y = 0; y < height; ++y) {
    typename F::T* r = rowOf<F>(frame, y, rowBytes);
    for (UInt32 x = 0; x < width; ++x, r += F::kStride) {
      for (int c = 0; c < 3; ++c) {
        const UInt32 v = r[F::kOff[c]];
        r[F::kOff[c]] = typename F::T(v > cut ? v - cut : 0);
      }
    }
  }
}

// ---- Gaussian blurs ----

template <class F>
inline void copyPixel(const typename F::T* s, typename F::T* d) {
  for (int k = 0; k < F::kStride; ++k) d[k] = s[k];
}

template <class F>
void blur3(const typename F::T* src, typename F::T* dst, UInt32 width, UInt32 height,
           UInt32 rowBytes) {
  for (UInt32 y = 0; y < height; ++y) {
    const typename F::T* s = rowOf<F>(src, y, rowBytes);
    typename F::T* d = rowOf<F>(dst, y, rowBytes);
    if (y == 0 || y + 1 >= height || width < 3) {
      std::memmove(d, s, size_t(width) * F::kStride * sizeof(typename F::T));
      continue;
    }
    const typename F::T* up = rowOf<F>(src, y - 1, rowBytes);
    const typename F::T* dn = rowOf<F>(src, y + 1, rowBytes);
    copyPixel<F>(s, d);
    copyPixel<F>(s + size_t(width - 1) * F::kStride, d + size_t(width - 1) * F::kStride);
    for (UInt32 x = 1; x + 1 < width; ++x) {
      const size_t l = size_t(x - 1) * F::kStride, m = l + F::kStride, r = m + F::kStride;
      if constexpr (F::kAlpha) d[m] = 255;
      for (int c = 0; c < 3; ++c) {
        const int o = F::kOff[c];
        const UInt32 sum = UInt32(up[l + o]) + 2u * up[m + o] + up[r + o] + 2u * s[l + o] +
                           4u * s[m + o] + 2u * s[r + o] + dn[l + o] + 2u * dn[m + o] + dn[r + o];
        d[m + o] = typename F::T(std::min<UInt32>(sum >> 4, UInt32(F::kMax)));
      }
    }
  }
}

template <class F>
void blur5(const typename F::T* src, typename F::T* dst, UInt32 width, UInt32 height,
           UInt32 rowBytes) {
  static constexpr UInt32 k[5][5] = {{0, 1, 2, 1, 0},
                                     {1, 2, 8, 2, 1},
                                     {2, 8, 8, 8, 2},
                                     {1, 2, 8, 2, 1},
                                     {0, 1, 2, 1, 0}};
  for (UInt32 y = 0; y < height; ++y) {
    const typename F::T* s = rowOf<F>(src, y, rowBytes);
    typename F::T* d = rowOf<F>(dst, y, rowBytes);
    if (y < 2 || y + 3 >= height || width < 5) {
      std::memmove(d, s, size_t(width) * F::kStride * sizeof(typename F::T));
      continue;
    }
    const typename F::T* rows[5];
    for (int j = 0; j < 5; ++j) rows[j] = rowOf<F>(src, y + j - 2, rowBytes);
    for (UInt32 x : {0u, 1u, width - 2, width - 1})
      copyPixel<F>(s + size_t(x) * F::kStride, d + size_t(x) * F::kStride);
    for (UInt32 x = 2; x + 2 < width; ++x) {
      const size_t m = size_t(x) * F::kStride;
      if constexpr (F::kAlpha) d[m] = 255;
      for (int c = 0; c < 3; ++c) {
        const int o = F::kOff[c];
        UInt32 sum = 0;
        for (int j = 0; j < 5; ++j)
          for (int i = 0; i < 5; ++i) sum += k[j][i] * rows[j][m + (i - 2) * F::kStride + o];
        d[m + o] = typename F::T(std::min<UInt32>(sum >> 6, UInt32(F::kMax)));
      }
    }
  }
}

// ---- unsharp mask ----

template <class F>
void sharpen(const typename F::T* src, const typename F::T* blurred, typename F::T* dst,
             UInt32 width, UInt32 height, UInt32 rowBytes, double amount, UInt32 threshold,
             UInt8 smoothing) {
  const SInt64 thr = threshold;
  // 8-bit differences take trunc(amount x d) from a table; held within
  // +-1000, which clamps the same as the full value would.
  SInt32 deltas[F::kAlpha ? 511 : 1];
  if constexpr (F::kAlpha) {
    for (SInt64 diff = -255; diff <= 255; ++diff)
      deltas[diff + 255] = SInt32(std::clamp<SInt64>(truncToInt(amount * double(diff)), -1000, 1000));
  }
  auto delta = [&](SInt64 diff) -> SInt64 {
    if constexpr (F::kAlpha) return deltas[diff + 255];
    return truncToInt(amount * double(diff));
  };
  for (UInt32 y = 0; y < height; ++y) {
    const typename F::T* s = rowOf<F>(src, y, rowBytes);
    const typename F::T* b = rowOf<F>(blurred, y, rowBytes);
    typename F::T* d = rowOf<F>(dst, y, rowBytes);
    for (UInt32 x = 0; x < width; ++x) {
      const size_t p = size_t(x) * F::kStride;
      // All loads before the stores: byte pointers may alias each other, and
      // the destination may be the source.
      SInt64 sIn[3], bIn[3];
      for (int c = 0; c < 3; ++c) {
        sIn[c] = s[p + F::kOff[c]];
        bIn[c] = b[p + F::kOff[c]];
      }
      if constexpr (F::kAlpha) d[p] = 255;
      for (int c = 0; c < 3; ++c) {
        const int o = F::kOff[c];
        const SInt64 sv = sIn[c], bv = bIn[c], diff = sv - bv;
        const SInt64 mag = diff < 0 ? -diff : diff;
        typename F::T out;
        if (smoothing != 0) {
          out = mag > thr ? clampSample<F>(sv + delta(diff)) : typename F::T(bv);
        } else if (threshold != 0) {
          // ARGB32 green is sharpened already at |d| == threshold.
          const bool over = (F::kAlpha && c == 1) ? mag >= thr : mag > thr;
          out = over ? clampSample<F>(sv + delta(diff)) : typename F::T(sv);
        } else if constexpr (F::kAlpha) {
          out = clampSample<F>(double(sv) + amount * double(diff));
        } else {
          out = clampSample<F>(sv + delta(diff));
        }
        d[p + o] = out;
      }
    }
  }
}

// ---- 2 x 2 binning ----

template <class F>
void bin2x2(typename F::T* frame, UInt32 width, UInt32 height, UInt32 rowBytes, UInt32 level) {
  if (width < 2 || height < 2) return;
  const SInt64 bias = 4 * SInt64(level);
  for (UInt32 y = 0; y + 1 < height; ++y) {
    typename F::T* r = rowOf<F>(frame, y, rowBytes);
    const typename F::T* n = rowOf<F>(frame, y + 1, rowBytes);
    for (UInt32 x = 0; x + 1 < width; ++x) {
      const size_t p = size_t(x) * F::kStride, q = p + F::kStride;
      for (int c = 0; c < 3; ++c) {
        const int o = F::kOff[c];
        const SInt64 sum = SInt64(r[p + o]) + r[q + o] + n[p + o] + n[q + o];
        r[p + o] = clampSample<F>(sum - bias);
      }
    }
    const size_t last = size_t(width - 1) * F::kStride, left = last - F::kStride;
    for (int c = 0; c < 3; ++c) r[last + F::kOff[c]] = r[left + F::kOff[c]];
  }
  const typename F::T* above = rowOf<F>(frame, height - 2, rowBytes);
  typename F::T* bottom = rowOf<F>(frame, height - 1, rowBytes);
  for (UInt32 x = 0; x < width; ++x)
    for (int c = 0; c < 3; ++c) {
      const size_t i = size_t(x) * F::kStride + F::kOff[c];
      bottom[i] = above[i];
    }
}

}  // namespace

void myLevelARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height, UInt32 rowBytes,
                   float strength) {
  level<ARGB32Form>(src, dst, width, height, rowBytes, strength);
}
void myLevelRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height, UInt32 rowBytes,
                  float strength) {
  level<RGB48Form>(src, dst, width, height, rowBytes, strength);
}

void myIterativelyChangeAverageCutPixelARGB32(UInt8* frame, UInt32 width, UInt32 height,
                                              UInt32 rowBytes, UInt32 passLimit) {
  averageCut<ARGB32Form>(frame, width, height, rowBytes, passLimit, 2);
}
void myIterativelyChangeAverageCutPixelRGB48(UInt16* frame, UInt32 width, UInt32 height,
                                             UInt32 rowBytes, UInt32 passLimit) {
  averageCut<RGB48Form>(frame, width, height, rowBytes, passLimit, 100);
}

void myDoARGB32HotPixel8Bit(UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt32 threshold) {
  if (width < 3 || height < 3) return;
  const SInt32 thr = SInt32(std::min<UInt32>(threshold, 0x7FFFFFFF));
  for (int c = 1; c <= 3; ++c) {
    for (UInt32 y = 1; y + 1 < height; ++y) {
      UInt8* up = frame + size_t(y - 1) * rowBytes + c;
      UInt8* mid = up + rowBytes;
      UInt8* dn = mid + rowBytes;
      for (UInt32 x = 1; x + 1 < width; ++x) {
        const size_t l = size_t(x - 1) * 4, m = l + 4, r = m + 4;
        const SInt32 s = mid[m];
        const SInt32 n[8] = {up[l], up[m], up[r], mid[l], mid[r], dn[l], dn[m], dn[r]};
        SInt32 sum = 0;
        bool allDiffer = true;
        for (SInt32 v : n) {
          sum += v;
          allDiffer = allDiffer && std::abs(v - s) > thr;
        }
        const SInt32 mean = sum >> 3;
        if (allDiffer && std::abs(mean - s) > thr) mid[m] = UInt8(mean);
      }
    }
  }
}

void my3by3GaussianBlurARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 rowBytes) {
  blur3<ARGB32Form>(src, dst, width, height, rowBytes);
}
void my3by3GaussianBlurRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes) {
  blur3<RGB48Form>(src, dst, width, height, rowBytes);
}
void my5by5GaussianBlurARGB32(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                              UInt32 rowBytes) {
  blur5<ARGB32Form>(src, dst, width, height, rowBytes);
}
void my5by5GaussianBlurRGB48(const UInt16* src, UInt16* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes) {
  blur5<RGB48Form>(src, dst, width, height, rowBytes);
}

void mySharpenFilterThresholdARGB32(const UInt8* src, const UInt8* blurred, UInt8* dst,
                                    UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                    UInt32 threshold, UInt8 smoothing) {
  sharpen<ARGB32Form>(src, blurred, dst, width, height, rowBytes, amount, threshold, smoothing);
}
void mySharpenFilterThresholdRGB48(const UInt16* src, const UInt16* blurred, UInt16* dst,
                                   UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                   UInt32 threshold, UInt8 smoothing) {
  sharpen<RGB48Form>(src, blurred, dst, width, height, rowBytes, amount, threshold, smoothing);
}

void myBin2x2ARGB32(UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes, UInt32 level) {
  bin2x2<ARGB32Form>(frame, width, height, rowBytes, level);
}
void myBin2x2RGB48(UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes, UInt32 level) {
  bin2x2<RGB48Form>(frame, width, height, rowBytes, level);
}
