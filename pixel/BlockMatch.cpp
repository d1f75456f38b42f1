#include "pixel/BlockMatch.h"

#include <cstdlib>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pixel/SaturatingMath.h"

using skyloom_pixel::saturateRound;
using skyloom_pixel::saturateTrunc;

namespace {

inline SInt64 clampTo(SInt64 v, SInt64 lo, SInt64 hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Sum of |f - c| over an S x S window of the frame against the clamped block.
inline UInt64 windowSad(const UInt8* f, UInt32 rowBytes, const UInt8* clamped, UInt32 side) {
#if defined(__SSE2__)
  if ((side & 15) == 0) {
    __m128i acc = _mm_setzero_si128();
    for (UInt32 j = 0; j < side; ++j) {
      const UInt8* fr = f + size_t(j) * rowBytes;
      const UInt8* cr = clamped + size_t(j) * side;
      for (UInt32 i = 0; i < side; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fr + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(a, b));
      }
    }
    return UInt64(_mm_cvtsi128_si64(acc)) + UInt64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(acc, acc)));
  }
#endif
  UInt64 total = 0;
  for (UInt32 j = 0; j < side; ++j) {
    const UInt8* fr = f + size_t(j) * rowBytes;
    const UInt8* cr = clamped + size_t(j) * side;
    UInt32 rowSum = 0;
    for (UInt32 i = 0; i < side; ++i) {
      const int diff = int(fr[i]) - int(cr[i]);
      rowSum += UInt32(diff < 0 ? -diff : diff);
    }
    total += rowSum;
  }
  return total;
}

}  // namespace

// sum |(f - fm) - (b - rm)| = sum |f - b'|,  b' = b - rm + fm. With b'
// clamped to 0..255 into c, |f - b'| = |f - c| + |b' - c| for every byte f,
// so the score is a plain byte SAD against c plus a constant: exact, and the
// form the processor's SAD instruction computes.
bool myScanBlockOrigins(const UInt8* block, const UInt8* frame, UInt32 rowBytes, UInt32 side,
                        SInt32 refMean, SInt32 frameMean, SInt64 xFirst, SInt64 xLast,
                        SInt64 yFirst, SInt64 yLast, BlockScan* scan) {
  *scan = BlockScan{};
  if (xFirst >= xLast || yFirst >= yLast) return false;
  const SInt64 shift = SInt64(frameMean) - SInt64(refMean);
  thread_local std::vector<UInt8> clamped;
  clamped.resize(size_t(side) * side);
  UInt64 constant = 0;
  for (size_t k = 0; k < clamped.size(); ++k) {
    const SInt64 target = SInt64(block[k]) + shift;
    const SInt64 c = clampTo(target, 0, 255);
    clamped[k] = UInt8(c);
    constant += UInt64(target > c ? target - c : c - target);
  }
  bool found = false;
  for (SInt64 y0 = yFirst; y0 < yLast; ++y0) {
    const UInt8* rowStart = frame + size_t(y0) * rowBytes;
    for (SInt64 x0 = xFirst; x0 < xLast; ++x0) {
      const UInt32 score = UInt32(constant + windowSad(rowStart + x0, rowBytes, clamped.data(), side));
      if (!found || score < scan->best) {
        *scan = BlockScan{score, x0, y0, 0};
        found = true;
      } else if (score == scan->best) {
        if (std::llabs(x0 - scan->x) > 1 || std::llabs(y0 - scan->y) > 1) ++scan->ties;
        scan->x = x0;
        scan->y = y0;
      }
    }
  }
  return true;
}

namespace {

// The search of both compare entry points.
SInt32 compareBlock(const UInt8* block, const UInt8* frame, UInt32 width, UInt32 height,
                    UInt32 rowBytes, UInt32 blockSize, SInt32 refMean, SInt32 frameMean,
                    float maxMeanDifference, float cx, float cy, float* bestX, float* bestY) {
  *bestX = cx;
  *bestY = cy;
  if (blockSize == 0 || blockSize > 0x00FFFFFFu) return -1;
  const SInt64 xc = saturateRound<SInt32>(cx), yc = saturateRound<SInt32>(cy);
  const SInt64 R = 64 * SInt64(blockSize), S = 32 * SInt64(blockSize);
  if (R > xc || xc + R > SInt64(width) || R > yc || yc + R > SInt64(height)) return -1;
  BlockScan scan;
  if (!myScanBlockOrigins(block, frame, rowBytes, UInt32(S), refMean, frameMean, xc - R,
                          xc + R - S, yc - R, yc + R - S, &scan) ||
      float(scan.best) > float(S * S) * maxMeanDifference)
    return -1;
  *bestX = float(scan.x + S / 2);
  *bestY = float(scan.y + S / 2);
  if (scan.ties != 0) return -2;
  return scan.best > 0x7FFFFFFFu ? 0x7FFFFFFF : SInt32(scan.best);
}

}  // namespace

void findMaxMono8Gradient(const UInt8* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                          SInt32 d, SInt32 mode, float x, float y, SInt32* dx, SInt32* dy) {
  *dx = 0;
  *dy = 0;
  if (d <= 0 || width == 0 || height == 0) return;
  const SInt64 W = width, H = height;
  const SInt64 xc = saturateRound<SInt32>(x), yc = saturateRound<SInt32>(y);
  SInt64 r0, r1, c0, c1;
  if (mode == 1) {
    r0 = yc - 64 > 0 ? yc - 64 : 0;
    r1 = yc + 64 < H - 1 ? yc + 64 : H - 1;
    c0 = xc - 64 > 0 ? xc - 64 : 0;
    c1 = xc + 64 < W - 1 ? xc + 64 : W - 1;
  } else {
    r0 = 32;
    r1 = H > 32 ? H - 32 : 32;
    c0 = 32;
    c1 = W > 32 ? W - 32 : 32;
  }
  if (r1 - r0 <= d && c1 - c0 <= d) return;

  // Selected rows and columns never reach outside the frame.
  const SInt64 rowFirst = r0 < 0 ? 0 : r0, rowLast = r1 > H - 1 ? H - 1 : r1;
  const SInt64 colFirst = c0 < 0 ? 0 : c0, colLast = c1 > W - 1 ? W - 1 : c1;
  int best = 0;
  SInt64 bestDx = 0, bestDy = 0;
  if (r1 - r0 > d) {
    for (SInt64 r = rowFirst; r <= rowLast; ++r) {
      const UInt8* row = frame + size_t(r) * rowBytes;
      int rowMax = 0;
      SInt64 at = 0;
      for (SInt64 c = 32; c <= W - d - 33; ++c) {
        const int v = std::abs(int(row[c]) - int(row[c + d]));
        if (v > rowMax) {
          rowMax = v;
          at = c;
        }
      }
      if (rowMax > best) {
        best = rowMax;
        bestDx = at + d / 2 - xc;
        bestDy = r - yc;
      }
    }
  }
  if (c1 - c0 > d) {
    for (SInt64 c = colFirst; c <= colLast; ++c) {
      int colMax = 0;
      SInt64 at = 0;
      for (SInt64 r = 32; r <= H - d - 33; ++r) {
        const int v = std::abs(int(frame[size_t(r) * rowBytes + c]) -
                               int(frame[size_t(r + d) * rowBytes + c]));
        if (v > colMax) {
          colMax = v;
          at = r;
        }
      }
      if (colMax > best) {
        best = colMax;
        bestDx = c - xc;
        bestDy = at + d / 2 - yc;
      }
    }
  }
  *dx = SInt32(clampTo(bestDx, INT32_MIN, INT32_MAX));
  *dy = SInt32(clampTo(bestDy, INT32_MIN, INT32_MAX));
}

SInt32 myExtract32BlockPixels(const UInt8* frame, UInt8* block, UInt32 width, UInt32 height,
                              UInt32 rowBytes, UInt32 blockSize, double minContrast, float cx,
                              float cy) {
  if (blockSize == 0 || blockSize > 0x00FFFFFFu) return -1;
  const UInt32 side = 32 * blockSize;
  const float h = float(side / 2);
  // Written as "inside" tests so a NaN position is refused too.
  if (!(h <= cx && cx + h <= float(width) && h <= cy && cy + h <= float(height))) return -1;
  const UInt32 x0 = saturateTrunc<UInt32>(double(cx) - double(h));
  const UInt32 y0 = saturateTrunc<UInt32>(double(cy) - double(h));
  if (UInt64(x0) + side > width || UInt64(y0) + side > height) return -1;
  int lo = 255, hi = 0;
  for (UInt32 j = 0; j < side; ++j) {
    const UInt8* src = frame + size_t(y0 + j) * rowBytes + x0;
    UInt8* dst = block + size_t(j) * side;
    for (UInt32 i = 0; i < side; ++i) {
      const int p = src[i];
      dst[i] = UInt8(p);
      lo = p < lo ? p : lo;
      hi = p > hi ? p : hi;
    }
  }
  return double(hi - lo) < minContrast ? -16 : 0;
}

SInt32 myCompare32BlockPixels(const UInt8* block, const UInt8* frame, UInt32 width, UInt32 height,
                              UInt32 rowBytes, UInt32 blockSize, SInt32 refMean, SInt32 frameMean,
                              float maxMeanDifference, float cx, float cy, float* bestX,
                              float* bestY) {
  return compareBlock(block, frame, width, height, rowBytes, blockSize, refMean, frameMean,
                      maxMeanDifference, cx, cy, bestX, bestY);
}

SInt32 myAltivecCompare32BlockPixels(const UInt8* block, const UInt8* frame, UInt32 width,
                                     UInt32 height, UInt32 rowBytes, UInt32 blockSize,
                                     SInt32 refMean, SInt32 frameMean, float maxMeanDifference,
                                     float cx, float cy, UInt8 /*prefetchFlag*/, float* bestX,
                                     float* bestY) {
  return compareBlock(block, frame, width, height, rowBytes, blockSize, refMean, frameMean,
                      maxMeanDifference, cx, cy, bestX, bestY);
}
