#include "tav/BlockSearch.h"

#include "pixel/BlockMatch.h"

#include <cmath>
#include <cstdlib>
#include <vector>

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

  BlockScan scan;
  myScanBlockOrigins(block, image, rowBytes, UInt32(S), refMean, frameMean, xFirst, xLast, yFirst,
                     yLast, &scan);
  if (!(float(scan.best) <= float(S * S) * float(tolerance))) return -1;
  *X = float(scan.x + S / 2);
  *Y = float(scan.y + S / 2);
  if (scan.ties != 0) return -2;
  return scan.best > 0x7FFFFFFFu ? 0x7FFFFFFF : SInt32(scan.best);
}

SInt32 myAltivecCompare32BlockPixelsALL(const UInt8* block, const UInt8* image, UInt32 width,
                                        UInt32 height, UInt32 rowBytes, UInt32 blockSize,
                                        SInt32 refMean, SInt32 frameMean, double tolerance,
                                        float* X, float* Y, UInt8 /*prefetchFlag*/) {
  return myCompare32BlockPixelsALL(block, image, width, height, rowBytes, blockSize, refMean,
                                   frameMean, tolerance, X, Y);
}
