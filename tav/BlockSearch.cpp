#include "tav/BlockSearch.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Nearest integer of a float, held inside +-2^40 so that a wild centre (or a
// NaN, taken as 0) cannot overflow the window arithmetic.
SInt64 roundedCentre(float v) {
  if (!(v == v)) return 0;
  const double r = std::nearbyint(double(v));
  if (r > 1099511627776.0) return 1099511627776LL;
  if (r < -1099511627776.0) return -1099511627776LL;
  return SInt64(r);
}

SInt32 clampS32(SInt64 v) {
  return v > 0x7FFFFFFFLL ? 0x7FFFFFFF : (v < -0x7FFFFFFFLL - 1 ? SInt32(-0x7FFFFFFFLL - 1) : SInt32(v));
}

// Sum of |f - c| over an S x S window against the packed square c.
inline UInt64 windowSad(const UInt8* f, UInt32 rowBytes, const UInt8* c, UInt32 side) {
#if defined(__SSE2__)
  if ((side & 15) == 0) {
    __m128i acc = _mm_setzero_si128();
    for (UInt32 j = 0; j < side; ++j) {
      const UInt8* fr = f + size_t(j) * rowBytes;
      const UInt8* cr = c + size_t(j) * side;
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
    const UInt8* cr = c + size_t(j) * side;
    for (UInt32 i = 0; i < side; ++i) total += UInt64(std::abs(int(fr[i]) - int(cr[i])));
  }
  return total;
}

// Candidate top-left positions along one axis: [first, last) in frame pixels.
void candidateRange(float centre, SInt64 extent, SInt64 S, SInt64* first, SInt64* last) {
  if (!(centre > 0.0f) || !(centre < float(extent))) {
    *first = 0;
    *last = extent - S;
    return;
  }
  const double c = double(centre);
  const SInt64 lo = SInt64(c - double(4 * S)), hi = SInt64(c + double(4 * S));
  *first = lo > 0 ? lo : 0;
  *last = hi < extent - S ? hi : extent - S;
}

}  // namespace

void findMaxHorzVertMono8Gradient(const UInt8* image, UInt32 width, UInt32 height,
                                  UInt32 rowBytes, float centreX, float centreY, UInt8 local,
                                  SInt32 d, SInt32* horzDX, SInt32* horzDY, SInt32* vertDX,
                                  SInt32* vertDY) {
  *horzDX = *horzDY = *vertDX = *vertDY = 0;
  if (d <= 0 || width == 0 || height == 0) return;
  const SInt64 W = width, H = height, D = d;
  const SInt64 cx = roundedCentre(centreX), cy = roundedCentre(centreY);
  SInt64 x0, x1, y0, y1;
  if (local != 0) {
    x0 = cx - 64 > 0 ? cx - 64 : 0;
    x1 = cx + 64 < W - 1 ? cx + 64 : W - 1;
    y0 = cy - 64 > 0 ? cy - 64 : 0;
    y1 = cy + 64 < H - 1 ? cy + 64 : H - 1;
  } else {
    x0 = y0 = 32;
    x1 = W > 32 ? W - 32 : 32;
    y1 = H > 32 ? H - 32 : 32;
  }
  // A window row or column outside the frame (a centre far outside) is skipped.
  if (y1 - y0 > D) {
    int best = 0;
    SInt64 at = 0, atRow = 0;
    const SInt64 pairs = W - D - 64;
    for (SInt64 y = y0; y <= y1 && pairs > 0; ++y) {
      if (y < 0 || y >= H) continue;
      const UInt8* row = image + size_t(y) * rowBytes;
      int rowMax = 0;
      SInt64 rowAt = 0;
      for (SInt64 x = 32; x < 32 + pairs; ++x) {
        const int v = std::abs(int(row[x]) - int(row[x + D]));
        if (v > rowMax) {
          rowMax = v;
          rowAt = x;
        }
      }
      if (rowMax > best) {
        best = rowMax;
        at = rowAt;
        atRow = y;
      }
    }
    if (best > 0) {
      *horzDX = clampS32(at + D / 2 - cx);
      *horzDY = clampS32(atRow - cy);
    }
  }
  if (x1 - x0 > D) {
    const SInt64 pairs = H - D - 64;
    if (pairs > 0) {
      // Column maxima kept side by side so the frame is read row by row.
      const SInt64 first = x0 > 0 ? x0 : 0, last = x1 < W - 1 ? x1 : W - 1;
      if (first <= last) {
        const size_t n = size_t(last - first + 1);
        // Kept per thread: a worker allocates nothing once it has warmed up.
        thread_local std::vector<int> colMax;
        thread_local std::vector<SInt64> colAt;
        colMax.assign(n, 0);
        colAt.assign(n, 0);
        for (SInt64 y = 32; y < 32 + pairs; ++y) {
          const UInt8* a = image + size_t(y) * rowBytes + first;
          const UInt8* b = image + size_t(y + D) * rowBytes + first;
          for (size_t i = 0; i < n; ++i) {
            const int v = std::abs(int(a[i]) - int(b[i]));
            if (v > colMax[i]) {
              colMax[i] = v;
              colAt[i] = y;
            }
          }
        }
        int best = 0;
        size_t bestCol = 0;
        for (size_t i = 0; i < n; ++i)
          if (colMax[i] > best) {
            best = colMax[i];
            bestCol = i;
          }
        if (best > 0) {
          *vertDX = clampS32(first + SInt64(bestCol) - cx);
          *vertDY = clampS32(colAt[bestCol] + D / 2 - cy);
        }
      }
    }
  }
}

SInt32 myCompare32BlockPixelsALL(const UInt8* block, const UInt8* image, UInt32 width,
                                 UInt32 height, UInt32 rowBytes, UInt32 blockSize, SInt32 refMean,
                                 SInt32 frameMean, double tolerance, float* X, float* Y) {
  if (blockSize == 0 || blockSize > 0x00FFFFFFu) return -1;
  const SInt64 S = 32 * SInt64(blockSize);
  SInt64 xFirst, xLast, yFirst, yLast;
  candidateRange(*X, SInt64(width), S, &xFirst, &xLast);
  candidateRange(*Y, SInt64(height), S, &yFirst, &yLast);
  if (xFirst >= xLast || yFirst >= yLast) return -1;

  // sum |(f - fm) - (b - rm)| = sum |f - b'| with b' = b - rm + fm; with b'
  // clamped to 0..255 into c, |f - b'| = |f - c| + |b' - c| for every byte f,
  // so the score is a byte SAD against c plus a constant: exact.
  const UInt32 side = UInt32(S);
  const SInt64 shift = refMean == frameMean ? 0 : SInt64(frameMean) - SInt64(refMean);
  thread_local std::vector<UInt8> clamped;  // per thread, as above
  clamped.resize(size_t(side) * side);
  UInt64 constant = 0;
  for (size_t k = 0; k < clamped.size(); ++k) {
    const SInt64 target = SInt64(block[k]) + shift;
    const SInt64 c = target < 0 ? 0 : (target > 255 ? 255 : target);
    clamped[k] = UInt8(c);
    constant += UInt64(target > c ? target - c : c - target);
  }

  UInt32 best = 0;
  SInt64 bx = 0, by = 0;
  UInt32 ties = 0;
  bool found = false;
  for (SInt64 y0 = yFirst; y0 < yLast; ++y0) {
    const UInt8* rowStart = image + size_t(y0) * rowBytes;
    for (SInt64 x0 = xFirst; x0 < xLast; ++x0) {
      const UInt32 score = UInt32(constant + windowSad(rowStart + x0, rowBytes, clamped.data(), side));
      if (!found || score < best) {
        best = score;
        bx = x0;
        by = y0;
        ties = 0;
        found = true;
      } else if (score == best) {
        if (std::llabs(x0 - bx) > 1 || std::llabs(y0 - by) > 1) ++ties;
        bx = x0;
        by = y0;
      }
    }
  }
  if (!(float(best) <= float(S * S) * float(tolerance))) return -1;
  *X = float(bx + S / 2);
  *Y = float(by + S / 2);
  if (ties != 0) return -2;
  return best > 0x7FFFFFFFu ? 0x7FFFFFFF : SInt32(best);
}

SInt32 myAltivecCompare32BlockPixelsALL(const UInt8* block, const UInt8* image, UInt32 width,
                                        UInt32 height, UInt32 rowBytes, UInt32 blockSize,
                                        SInt32 refMean, SInt32 frameMean, double tolerance,
                                        float* X, float* Y, UInt8 /*prefetchFlag*/) {
  return myCompare32BlockPixelsALL(block, image, width, height, rowBytes, blockSize, refMean,
                                   frameMean, tolerance, X, Y);
}
