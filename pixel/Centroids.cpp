#include "pixel/Centroids.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pixel/SaturatingMath.h"
#include "utilities/LowLevel.h"

using skyloom_pixel::saturateRound;
using skyloom_pixel::saturateTrunc;

namespace {

// Running totals of a centroid. Each row's weight and moments are summed as
// integers (64-bit, so a long bright row cannot wrap) and then added to the
// single-precision totals, one conversion per row.
struct CentroidTotals {
  float w = 0.0f, x = 0.0f, y = 0.0f;
  UInt64 wInt = 0;  // whole-rectangle integer weight, for myCalcRectCentroid
};

// Weight sum and column moment of one row: `count` weights, the first counted
// at column `firstColumn`. `scalar(i)` gives weight i; `vector(i)` the 16
// weights from i as bytes. The vector path sums exactly the same integers.
template <typename Scalar, typename Vector>
void sumRow(UInt32 count, UInt64 firstColumn, Scalar scalar, [[maybe_unused]] Vector vector,
            UInt64* rowWeight, UInt64* rowMoment) {
  UInt64 rw = 0, rx = 0;
  UInt32 i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i laneLo = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i laneHi = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
  while (i + 16 <= count) {
    // Per group g of 16: W_g by SAD against zero, sum of w x lane by
    // multiply-add. Sum over g of 16 g W_g comes from running totals:
    // after each group `prefix` gains the weight so far, so that in the end
    // prefix = sum of (G - g) W_g.
    __m128i weight = zero, prefix = zero, laneMoment = zero;
    UInt32 groups = 0;
    const UInt32 start = i;
    // Lane moments stay below 2^31 for 65536 groups (at most 2 x 7395 each).
    while (i + 16 <= count && groups < 65536) {
      const __m128i w = vector(i);
      weight = _mm_add_epi64(weight, _mm_sad_epu8(w, zero));
      prefix = _mm_add_epi64(prefix, weight);
      laneMoment = _mm_add_epi32(laneMoment,
                                 _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(w, zero), laneLo),
                                               _mm_madd_epi16(_mm_unpackhi_epi8(w, zero), laneHi)));
      i += 16;
      ++groups;
    }
    alignas(16) UInt64 w2[2], p2[2];
    alignas(16) UInt32 m4[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(w2), weight);
    _mm_store_si128(reinterpret_cast<__m128i*>(p2), prefix);
    _mm_store_si128(reinterpret_cast<__m128i*>(m4), laneMoment);
    const UInt64 W = w2[0] + w2[1];
    const UInt64 groupMoment = UInt64(groups) * W - (p2[0] + p2[1]);  // sum of g W_g
    rw += W;
    rx += W * (firstColumn + start) + 16 * groupMoment + UInt64(m4[0]) + m4[1] + m4[2] + m4[3];
  }
#endif
  for (; i < count; ++i) {
    const UInt32 wgt = scalar(i);
    rw += wgt;
    rx += UInt64(wgt) * (firstColumn + i);
  }
  *rowWeight = rw;
  *rowMoment = rx;
}

#if defined(__SSE2__)
inline __m128i load16Bytes(const UInt8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
#endif

// Weight = p - level for p > level (the clipped and sub-image centroids).
CentroidTotals sumAboveLevel(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width, UInt32 height,
                             UInt32 rowBytes, UInt8 level) {
  CentroidTotals t;
#if defined(__SSE2__)
  const __m128i lv = _mm_set1_epi8(char(level));
#endif
  for (UInt32 r = 0; r < height; ++r) {
    const UInt8* row = buffer + size_t(y + r) * rowBytes + x;
    UInt64 rw, rx;
    sumRow(
        width, x, [&](UInt32 i) { return row[i] > level ? UInt32(row[i] - level) : 0u; },
        [&](UInt32 i) {
#if defined(__SSE2__)
          return _mm_subs_epu8(load16Bytes(row + i), lv);
#else
          return i;
#endif
        },
        &rw, &rx);
    t.wInt += rw;
    t.w += float(rw);
    t.x += float(rx);
    t.y += float(rw * UInt64(y + r));
  }
  return t;
}

void writeCentroid(float weight, float xMoment, float yMoment, float* cx, float* cy) {
  if (weight > 0.0f) {
    const float inv = 1.0f / weight;
    *cx = xMoment * inv;
    *cy = yMoment * inv;
  } else {
    *cx = -1.0f;
    *cy = -1.0f;
  }
}

void plainSubCentroid(const UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes,
                      UInt8 threshold, float* cx, float* cy) {
  const CentroidTotals t = sumAboveLevel(image, 0, 0, width, height, rowBytes, threshold);
  writeCentroid(t.w, t.x, t.y, cx, cy);
}

// The box search shared by both coarse-to-fine routines. `centroidOfBox`
// measures the rectangle [x0, x0 + w) x [y0, y0 + h) in frame coordinates.
template <typename WholeFrame, typename Box>
void coarseToFine(UInt32 width, UInt32 height, WholeFrame centroidOfFrame, Box centroidOfBox,
                  float* cx, float* cy, UInt32* boxWidth, UInt32* boxHeight) {
  const UInt32 rounds = (width > height ? width : height) >> 6;
  float acx = -1.0f, acy = -1.0f;
  centroidOfFrame(&acx, &acy);
  // A centroid left of column 1 is taken as nothing found, like the -1 result.
  if (!(acx >= 1.0f)) {
    *cx = -1.0f;
    *cy = -1.0f;
    *boxWidth = 0;
    *boxHeight = 0;
    return;
  }
  *boxWidth = width;
  *boxHeight = height;
  UInt32 hw = width, hh = height;
  for (UInt32 round = 1; round <= rounds; ++round) {
    hw >>= 1;
    hh >>= 1;
    if (hw <= 64 || hh <= 64) break;
    const UInt32 x0 = acx > float(hw) ? saturateTrunc<UInt32>(double(acx) - hw) : 0;
    const UInt32 y0 = acy > float(hh) ? saturateTrunc<UInt32>(double(acy) - hh) : 0;
    if (x0 >= width || y0 >= height) break;
    UInt32 bw = 2 * hw, bh = 2 * hh;
    if (UInt64(x0) + bw >= width) bw = width - x0;
    if (UInt64(y0) + bh >= height) bh = height - y0;
    float ncx = -1.0f, ncy = -1.0f;
    centroidOfBox(x0, y0, bw, bh, &ncx, &ncy);
    if (ncx <= -1.0f) break;
    if (std::fabs(ncx - acx) > 4.0f || std::fabs(ncy - acy) > 4.0f) {
      acx = ncx;
      acy = ncy;
      *boxWidth = hw;
      *boxHeight = hh;
    } else {
      break;
    }
  }
  *cx = acx;
  *cy = acy;
}

inline UInt16 load16(const UInt16* buffer, UInt32 rowBytes, UInt32 col, UInt32 row) {
  // rowBytes need not keep rows 2-byte aligned.
  UInt16 v;
  std::memcpy(&v, reinterpret_cast<const UInt8*>(buffer) + size_t(row) * rowBytes + size_t(col) * 2, 2);
  return v;
}

}  // namespace

void myCalcRectCentroid(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width, UInt32 height,
                        UInt32 rowBytes, UInt32 threshold, float* cx, float* cy) {
  CentroidTotals t;
  if (threshold <= 255) {
#if defined(__SSE2__)
    const __m128i tv = _mm_set1_epi8(char(threshold));
#endif
    for (UInt32 r = 0; r < height; ++r) {
      const UInt8* row = buffer + size_t(y + r) * rowBytes + x;
      UInt64 rw, rx;
      sumRow(
          width, x, [&](UInt32 i) { return row[i] >= threshold ? UInt32(row[i]) : 0u; },
          [&](UInt32 i) {
#if defined(__SSE2__)
            const __m128i p = load16Bytes(row + i);
            return _mm_and_si128(p, _mm_cmpeq_epi8(_mm_max_epu8(p, tv), p));
#else
            return i;
#endif
          },
          &rw, &rx);
      t.wInt += rw;
      t.x += float(rx);
      t.y += float(rw * UInt64(y + r));
    }
  }
  writeCentroid(float(t.wInt), t.x, t.y, cx, cy);
}

void myCalculateImageSubCentroidClipped(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width,
                                        UInt32 height, UInt32 rowBytes, UInt8 clip, float* cx,
                                        float* cy) {
  const CentroidTotals t = sumAboveLevel(buffer, x, y, width, height, rowBytes, clip);
  writeCentroid(t.w, t.x, t.y, cx, cy);
}

void myCalcImageSubCentroid(const UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes,
                            UInt8 threshold, UInt8 altivecFlag, UInt8 prefetchFlag, float* cx,
                            float* cy) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(image) && (rowBytes & 15) == 0) {
    myAltivecCalculateImageSubCentroid(image, width, height, rowBytes, threshold, prefetchFlag, cx,
                                       cy);
    return;
  }
  plainSubCentroid(image, width, height, rowBytes, threshold, cx, cy);
}

// There is no vector unit of that kind here: the vector-named entry gives the
// plain result, so both paths of myCalcImageSubCentroid agree.
void myAltivecCalculateImageSubCentroid(const UInt8* image, UInt32 width, UInt32 height,
                                        UInt32 rowBytes, UInt8 threshold, UInt8 /*prefetchFlag*/,
                                        float* cx, float* cy) {
  plainSubCentroid(image, width, height, rowBytes, threshold, cx, cy);
}

void myCalRectImageDeltaCentroid(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width,
                                 UInt32 height, UInt32 rowBytes, UInt32 threshold, UInt32 d,
                                 float* cx, float* cy) {
  const UInt64 span = 2 * UInt64(d);
  float tw = 0.0f, tx = 0.0f, ty = 0.0f;
  if (width > span && threshold < 255) {
    const UInt32 pairs = UInt32(width - span);
#if defined(__SSE2__)
    const __m128i above = _mm_set1_epi8(char(threshold + 1));
#endif
    for (UInt32 r = 0; r < height; ++r) {
      const UInt8* row = buffer + size_t(y + r) * rowBytes + x;
      UInt64 rw, rx;
      sumRow(
          pairs, UInt64(x) + d,
          [&](UInt32 i) {
            const int diff = int(row[i]) - int(row[i + span]);
            const UInt32 D = UInt32(diff < 0 ? -diff : diff);
            return D > threshold ? D : 0u;
          },
          [&](UInt32 i) {
#if defined(__SSE2__)
            const __m128i a = load16Bytes(row + i), b = load16Bytes(row + i + span);
            const __m128i D = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
            return _mm_and_si128(D, _mm_cmpeq_epi8(_mm_max_epu8(D, above), D));
#else
            return i;
#endif
          },
          &rw, &rx);
      tw += float(rw);
      tx += float(rx);
      ty += float(rw * UInt64(y + r));
    }
  }
  writeCentroid(tw, tx, ty, cx, cy);
}

void myCalcDeltaMultipleCentroids(const UInt8* frame, UInt32 width, UInt32 height,
                                  UInt32 rowBytes, UInt32 threshold, UInt32 d, float* cx,
                                  float* cy, UInt32* boxWidth, UInt32* boxHeight) {
  coarseToFine(
      width, height,
      [&](float* ox, float* oy) {
        myCalRectImageDeltaCentroid(frame, 0, 0, width, height, rowBytes, threshold, d, ox, oy);
      },
      [&](UInt32 x0, UInt32 y0, UInt32 bw, UInt32 bh, float* ox, float* oy) {
        myCalRectImageDeltaCentroid(frame, x0, y0, bw, bh, rowBytes, threshold, d, ox, oy);
      },
      cx, cy, boxWidth, boxHeight);
}

void myCalcMultipleImageSubCentroids(const UInt8* frame, UInt32 width, UInt32 height,
                                     UInt32 rowBytes, UInt8 threshold, UInt8 altivecFlag,
                                     UInt8 prefetchFlag, float* cx, float* cy, UInt32* boxWidth,
                                     UInt32* boxHeight) {
  coarseToFine(
      width, height,
      [&](float* ox, float* oy) {
        myCalcImageSubCentroid(frame, width, height, rowBytes, threshold, altivecFlag,
                               prefetchFlag, ox, oy);
      },
      [&](UInt32 x0, UInt32 y0, UInt32 bw, UInt32 bh, float* ox, float* oy) {
        myCalculateImageSubCentroidClipped(frame, x0, y0, bw, bh, rowBytes, threshold, ox, oy);
      },
      cx, cy, boxWidth, boxHeight);
}

void myCalcRectRange(const UInt8* buffer, UInt32 x, UInt32 y, UInt32 width, UInt32 height,
                     UInt32 rowBytes, UInt32* level) {
  *level = 0xFFFFFFFFu;
  if (width == 0 || height == 0) return;
  UInt32 lo = 255, hi = 0;
  UInt64 sum = 0;
  for (UInt32 r = 0; r < height; ++r) {
    const UInt8* row = buffer + size_t(y + r) * rowBytes + x;
    for (UInt32 i = 0; i < width; ++i) {
      const UInt32 p = row[i];
      lo = p < lo ? p : lo;
      hi = p > hi ? p : hi;
      sum += p;
    }
  }
  if (hi - lo > 31) {
    const UInt32 mean = UInt32(sum / (UInt64(width) * height));
    *level = mean + (hi - mean) / 2;
  }
}

void myCalculateImageSubCentroidClipped16Bit(const UInt16* buffer, UInt32 x, UInt32 y,
                                             UInt32 width, UInt32 height, UInt32 rowBytes,
                                             float* cx, float* cy, UInt32* background,
                                             UInt32 imageWidth, UInt32 imageHeight) {
  *cx = -1.0f;
  *cy = -1.0f;
  *background = 0;
  const UInt64 n = UInt64(width) * height;
  if (n == 0) return;
  const UInt64 imgW = imageWidth;
  const UInt64 imgH = imageHeight;
  if (UInt64(x) + width > imgW || UInt64(y) + height > imgH) return;

  // Clip level: one standard deviation above the mean. The sum of squares is
  // kept in single precision; cancellation can leave the variance slightly
  // negative (or undefined for one pixel), which counts as no spread.
  UInt64 sum = 0;
  float sumSq = 0.0f;
  for (UInt32 r = 0; r < height; ++r) {
    for (UInt32 i = 0; i < width; ++i) {
      const UInt32 p = load16(buffer, rowBytes, x + i, y + r);
      sum += p;
      sumSq += float(p) * float(p);
    }
  }
  float variance = 0.0f;
  if (n > 1) {
    const float fsum = float(sum);
    variance = (sumSq - fsum * fsum / float(n)) / float(n - 1);
  }
  if (!(variance > 0.0f) || std::isinf(variance)) variance = 0.0f;
  const float spread = std::sqrt(variance);
  const UInt32 meanTrunc = UInt32(sum / n);
  const double raised = double(meanTrunc) + double(spread);
  const UInt32 clipLevel = raised < 65535.0 ? UInt32(raised) : meanTrunc;

  bool any = false;
  double W = 0.0, X = 0.0, Y = 0.0;
  for (UInt32 r = 0; r < height; ++r) {
    for (UInt32 i = 0; i < width; ++i) {
      const UInt32 p = load16(buffer, rowBytes, x + i, y + r);
      if (p >= clipLevel) any = true;
      if (p > clipLevel) {
        const double w = double(p - clipLevel);
        W += w;
        X += w * double(x + i);
        Y += w * double(y + r);
      }
    }
  }
  if (!any) return;
  // The mean excess over the clip level must exceed 10 counts a pixel.
  if (!(W > 10.0 * double(n))) return;
  *cx = float(X / W);
  *cy = float(Y / W);

  // Background: mean of the re-centred box's pixels within one standard
  // deviation of its mean, the box kept inside the image.
  const SInt64 bx0 = saturateRound<SInt64>(double(*cx) - double(width / 2));
  const SInt64 by0 = saturateRound<SInt64>(double(*cy) - double(height / 2));
  const SInt64 left = bx0 < 0 ? 0 : bx0;
  const SInt64 top = by0 < 0 ? 0 : by0;
  const SInt64 right = bx0 + SInt64(width) > SInt64(imgW) ? SInt64(imgW) : bx0 + SInt64(width);
  const SInt64 bottom = by0 + SInt64(height) > SInt64(imgH) ? SInt64(imgH) : by0 + SInt64(height);
  if (left >= right || top >= bottom) return;
  const UInt64 m = UInt64(right - left) * UInt64(bottom - top);
  double bsum = 0.0, bsq = 0.0;
  for (SInt64 r = top; r < bottom; ++r) {
    for (SInt64 c = left; c < right; ++c) {
      const double p = load16(buffer, rowBytes, UInt32(c), UInt32(r));
      bsum += p;
      bsq += p * p;
    }
  }
  const double bmean = bsum / double(m);
  double bvar = m > 1 ? (bsq - bsum * bsum / double(m)) / double(m - 1) : 0.0;
  if (!(bvar > 0.0) || std::isinf(bvar)) bvar = 0.0;
  const double bs = std::sqrt(bvar);
  const double bmeanTrunc = std::trunc(bmean);
  const double low = bmeanTrunc - bs > 0.0 ? bmeanTrunc - bs : 0.0;
  const double high = bmeanTrunc + bs < 65535.0 ? bmeanTrunc + bs : 65535.0;
  UInt64 inSum = 0, inCount = 0;
  for (SInt64 r = top; r < bottom; ++r) {
    for (SInt64 c = left; c < right; ++c) {
      const UInt32 p = load16(buffer, rowBytes, UInt32(c), UInt32(r));
      if (double(p) >= low && double(p) <= high) {
        inSum += p;
        ++inCount;
      }
    }
  }
  if (inCount) *background = UInt32(inSum / inCount);
}
