#include "pixel/HotPixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline bool differs(UInt32 a, UInt32 c, UInt32 t) { return (a > c ? a - c : c - a) > t; }

// The mono test at one centre. xs and ys are the distances, in samples, to
// the next sample of the same channel on the row and to the row below. The
// samples right of and below the centre are tested first: they are still the
// originals and settle most centres.
template <typename T>
inline void repairMonoAt(T* p, std::ptrdiff_t xs, std::ptrdiff_t ys, UInt32 t) {
  const UInt32 c = p[0];
  const T* up = p - ys;
  const T* dn = p + ys;
  const UInt32 r = p[xs], dl = dn[-xs], d = dn[0], dr = dn[xs];
  if (!differs(r, c, t) || !differs(d, c, t) || !differs(dl, c, t) || !differs(dr, c, t)) return;
  const UInt32 l = p[-xs], ul = up[-xs], u = up[0], ur = up[xs];
  if (!differs(l, c, t) || !differs(ul, c, t) || !differs(u, c, t) || !differs(ur, c, t)) return;
  const UInt32 m = (r + dl + d + dr + l + ul + u + ur) >> 3;
  if (differs(m, c, t)) p[0] = T(m);
}

// The mosaic test at one centre of a packed row (ys = row length).
template <typename T>
inline void repairBayerAt(T* p, std::ptrdiff_t ys, UInt32 t) {
  const UInt32 c = p[0];
  const T* up = p - ys;
  const T* dn = p + ys;
  const UInt32 r2 = p[2];
  if (!differs(p[1], c, t) || !differs(r2, c, t) || !differs(dn[0], c, t) ||
      !differs(dn[-1], c, t) || !differs(dn[1], c, t))
    return;
  const UInt32 l2 = p[-2];
  if (!differs(p[-1], c, t) || !differs(l2, c, t) || !differs(up[-1], c, t) ||
      !differs(up[0], c, t) || !differs(up[1], c, t))
    return;
  p[0] = T((l2 + r2) >> 1);
}

#if defined(__SSE2__)
// Lanes where |a - b| <= t, as all-ones.
inline __m128i sameU8(__m128i a, __m128i b, __m128i t) {
  const __m128i ad = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
  return _mm_cmpeq_epi8(_mm_subs_epu8(ad, t), _mm_setzero_si128());
}
inline __m128i sameU16(__m128i a, __m128i b, __m128i t) {
  const __m128i ad = _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a));
  return _mm_cmpeq_epi16(_mm_subs_epu16(ad, t), _mm_setzero_si128());
}
inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
#endif

// Both mono routines: a vector pass over 16 (8-bit) or 8 (16-bit) centres
// at a time tests them against their still-original right and lower
// neighbours; only the centres that pass all four get the full test, in scan
// order, so the result is that of the plain scan.
void monoRepair8(UInt8* buf, UInt32 w, UInt32 h, UInt32 t) {
  if (w < 3 || h < 3 || t >= 255) return;  // nothing differs by more than 254
  for (UInt32 y = 1; y + 1 < h; ++y) {
    UInt8* row = buf + std::size_t(y) * w;
    const UInt8* dn = row + w;
    UInt32 x = 1;
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi8(char(t));
    for (; x + 16 <= w - 1; x += 16) {
      const __m128i c = load(row + x);
      const __m128i same = _mm_or_si128(
          _mm_or_si128(sameU8(c, load(row + x + 1), tv), sameU8(c, load(dn + x - 1), tv)),
          _mm_or_si128(sameU8(c, load(dn + x), tv), sameU8(c, load(dn + x + 1), tv)));
      UInt32 bits = ~UInt32(_mm_movemask_epi8(same)) & 0xFFFFu;
      while (bits != 0) {
        repairMonoAt(row + x + __builtin_ctz(bits), 1, w, t);
        bits &= bits - 1;
      }
    }
#endif
    for (; x + 1 < w; ++x) repairMonoAt(row + x, 1, w, t);
  }
}

void monoRepair16(UInt16* buf, UInt32 w, UInt32 h, UInt32 t) {
  if (w < 3 || h < 3 || t >= 65535) return;
  for (UInt32 y = 1; y + 1 < h; ++y) {
    UInt16* row = buf + std::size_t(y) * w;
    const UInt16* dn = row + w;
    UInt32 x = 1;
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi16(short(t));
    for (; x + 8 <= w - 1; x += 8) {
      const __m128i c = load(row + x);
      const __m128i same = _mm_or_si128(
          _mm_or_si128(sameU16(c, load(row + x + 1), tv), sameU16(c, load(dn + x - 1), tv)),
          _mm_or_si128(sameU16(c, load(dn + x), tv), sameU16(c, load(dn + x + 1), tv)));
      UInt32 bits = ~UInt32(_mm_movemask_epi8(same)) & 0x5555u;
      while (bits != 0) {
        repairMonoAt(row + x + (__builtin_ctz(bits) >> 1), 1, w, t);
        bits &= bits - 1;
      }
    }
#endif
    for (; x + 1 < w; ++x) repairMonoAt(row + x, 1, w, t);
  }
}

void bayerRepair8(UInt8* buf, UInt32 w, UInt32 h, UInt32 t) {
  if (w < 5 || h < 3 || t >= 255) return;
  for (UInt32 y = 1; y + 1 < h; ++y) {
    UInt8* row = buf + std::size_t(y) * w;
    const UInt8* dn = row + w;
    UInt32 x = 2;
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi8(char(t));
    for (; x + 16 <= w - 2; x += 16) {
      const __m128i c = load(row + x);
      const __m128i same = _mm_or_si128(
          _mm_or_si128(_mm_or_si128(sameU8(c, load(row + x + 1), tv),
                                    sameU8(c, load(row + x + 2), tv)),
                       sameU8(c, load(dn + x - 1), tv)),
          _mm_or_si128(sameU8(c, load(dn + x), tv), sameU8(c, load(dn + x + 1), tv)));
      UInt32 bits = ~UInt32(_mm_movemask_epi8(same)) & 0xFFFFu;
      while (bits != 0) {
        repairBayerAt(row + x + __builtin_ctz(bits), w, t);
        bits &= bits - 1;
      }
    }
#endif
    for (; x + 2 < w; ++x) repairBayerAt(row + x, w, t);
  }
}

void bayerRepair16(UInt16* buf, UInt32 w, UInt32 h, UInt32 t) {
  if (w < 5 || h < 3 || t >= 65535) return;
  for (UInt32 y = 1; y + 1 < h; ++y) {
    UInt16* row = buf + std::size_t(y) * w;
    const UInt16* dn = row + w;
    UInt32 x = 2;
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi16(short(t));
    for (; x + 8 <= w - 2; x += 8) {
      const __m128i c = load(row + x);
      const __m128i same = _mm_or_si128(
          _mm_or_si128(_mm_or_si128(sameU16(c, load(row + x + 1), tv),
                                    sameU16(c, load(row + x + 2), tv)),
                       sameU16(c, load(dn + x - 1), tv)),
          _mm_or_si128(sameU16(c, load(dn + x), tv), sameU16(c, load(dn + x + 1), tv)));
      UInt32 bits = ~UInt32(_mm_movemask_epi8(same)) & 0x5555u;
      while (bits != 0) {
        repairBayerAt(row + x + (__builtin_ctz(bits) >> 1), w, t);
        bits &= bits - 1;
      }
    }
#endif
    for (; x + 2 < w; ++x) repairBayerAt(row + x, w, t);
  }
}

// ---- binning

template <typename T>
inline T clampSum(UInt32 s) {
  constexpr UInt32 kMax = T(~T(0));
  return T(s > kMax ? kMax : s);
}

// One row of 2x2 sums into `row` from itself and the row below; every load
// of a step comes before its store, so each block sees the values before
// binning.
void bin2x2Row8(UInt8* row, const UInt8* dn, UInt32 w) {
  UInt32 x = 0;
#if defined(__SSE2__)
  for (; x + 16 <= w - 1; x += 16) {
    const __m128i a = _mm_adds_epu8(load(row + x), load(row + x + 1));
    const __m128i b = _mm_adds_epu8(load(dn + x), load(dn + x + 1));
    store(row + x, _mm_adds_epu8(a, b));  // saturating adds of non-negatives clamp the sum
  }
#endif
  for (; x + 1 < w; ++x) row[x] = clampSum<UInt8>(UInt32(row[x]) + row[x + 1] + dn[x] + dn[x + 1]);
  row[w - 1] = row[w - 2];
}

void bin2x2Row16(UInt16* row, const UInt16* dn, UInt32 w) {
  UInt32 x = 0;
#if defined(__SSE2__)
  for (; x + 8 <= w - 1; x += 8) {
    const __m128i a = _mm_adds_epu16(load(row + x), load(row + x + 1));
    const __m128i b = _mm_adds_epu16(load(dn + x), load(dn + x + 1));
    store(row + x, _mm_adds_epu16(a, b));
  }
#endif
  for (; x + 1 < w; ++x)
    row[x] = clampSum<UInt16>(UInt32(row[x]) + row[x + 1] + dn[x] + dn[x + 1]);
  row[w - 1] = row[w - 2];
}

void bin4x4Row8(UInt8* row, std::size_t stride, UInt32 w) {
  const UInt8* r1 = row + stride;
  const UInt8* r2 = r1 + stride;
  const UInt8* r3 = r2 + stride;
  UInt32 x = 0;
#if defined(__SSE2__)
  // Centres x .. x + 15 read columns up to x + 18, at most width - 2.
  for (; x + 16 <= w - 4; x += 16) {
    __m128i s = _mm_setzero_si128();
    for (UInt32 k = 0; k < 4; ++k) {
      s = _mm_adds_epu8(s, _mm_adds_epu8(_mm_adds_epu8(load(row + x + k), load(r1 + x + k)),
                                         _mm_adds_epu8(load(r2 + x + k), load(r3 + x + k))));
    }
    store(row + x, s);
  }
#endif
  for (; x + 4 < w; ++x) {
    UInt32 s = 0;
    for (UInt32 k = 0; k < 4; ++k) s += UInt32(row[x + k]) + r1[x + k] + r2[x + k] + r3[x + k];
    row[x] = clampSum<UInt8>(s);
  }
  std::fill(row + w - 4, row + w, row[w - 5]);
}

void bin4x4Row16(UInt16* row, std::size_t stride, UInt32 w) {
  const UInt16* r1 = row + stride;
  const UInt16* r2 = r1 + stride;
  const UInt16* r3 = r2 + stride;
  UInt32 x = 0;
#if defined(__SSE2__)
  for (; x + 8 <= w - 4; x += 8) {
    __m128i s = _mm_setzero_si128();
    for (UInt32 k = 0; k < 4; ++k) {
      s = _mm_adds_epu16(s,
                         _mm_adds_epu16(_mm_adds_epu16(load(row + x + k), load(r1 + x + k)),
                                        _mm_adds_epu16(load(r2 + x + k), load(r3 + x + k))));
    }
    store(row + x, s);
  }
#endif
  for (; x + 4 < w; ++x) {
    UInt32 s = 0;
    for (UInt32 k = 0; k < 4; ++k) s += UInt32(row[x + k]) + r1[x + k] + r2[x + k] + r3[x + k];
    row[x] = clampSum<UInt16>(s);
  }
  std::fill(row + w - 4, row + w, row[w - 5]);
}

}  // namespace

void myDoMonoHotPixel8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt32 threshold) {
  monoRepair8(buffer, rowBytes, height, threshold);
}

void myDoMonoHotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 threshold) {
  monoRepair16(buffer, width, height, threshold);
}

void myDoBayerHotPixel8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt32 threshold) {
  bayerRepair8(buffer, rowBytes, height, threshold);
}

void myDoBayerHotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 threshold) {
  bayerRepair16(buffer, width, height, threshold);
}

void myDoRGB48HotPixel16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt32 threshold) {
  if (width < 3 || height < 3 || threshold >= 65535) return;
  if ((rowBytes & 1u) != 0 || rowBytes / 6 < width) return;
  const std::size_t ys = rowBytes / 2;
  for (UInt32 channel = 0; channel < 3; ++channel) {
    for (UInt32 y = 1; y + 1 < height; ++y) {
      UInt16* p = buffer + y * ys + channel;
      for (UInt32 x = 1; x + 1 < width; ++x) repairMonoAt(p + std::size_t(x) * 3, 3, ys, threshold);
    }
  }
}

void myBin2x2BufferMono8(UInt8* buffer, UInt32 rowBytes, UInt32 height) {
  if (rowBytes < 2 || height < 2) return;
  for (UInt32 y = 0; y + 1 < height; ++y) {
    UInt8* row = buffer + std::size_t(y) * rowBytes;
    bin2x2Row8(row, row + rowBytes, rowBytes);
  }
  std::memcpy(buffer + std::size_t(height - 1) * rowBytes,
              buffer + std::size_t(height - 2) * rowBytes, rowBytes);
}

void myBin2x2BufferMono16(UInt16* buffer, UInt32 width, UInt32 height) {
  if (width < 2 || height < 2) return;
  for (UInt32 y = 0; y + 1 < height; ++y) {
    UInt16* row = buffer + std::size_t(y) * width;
    bin2x2Row16(row, row + width, width);
  }
  std::memcpy(buffer + std::size_t(height - 1) * width, buffer + std::size_t(height - 2) * width,
              std::size_t(width) * 2);
}

void myBin4x4BufferMono8(UInt8* buffer, UInt32 rowBytes, UInt32 height) {
  if (rowBytes < 5 || height < 5) return;
  for (UInt32 y = 0; y + 4 < height; ++y) bin4x4Row8(buffer + std::size_t(y) * rowBytes, rowBytes, rowBytes);
  const UInt8* src = buffer + std::size_t(height - 5) * rowBytes;
  for (UInt32 y = height - 4; y < height; ++y)
    std::memcpy(buffer + std::size_t(y) * rowBytes, src, rowBytes);
}

void myBin4x4BufferMono16(UInt16* buffer, UInt32 width, UInt32 height) {
  if (width < 5 || height < 5) return;
  for (UInt32 y = 0; y + 4 < height; ++y) bin4x4Row16(buffer + std::size_t(y) * width, width, width);
  const UInt16* src = buffer + std::size_t(height - 5) * width;
  for (UInt32 y = height - 4; y < height; ++y)
    std::memcpy(buffer + std::size_t(y) * width, src, std::size_t(width) * 2);
}
