#include "pixel/StarProfile.h"

#include <cmath>
#include <cstring>

#include "pixel/SaturatingMath.h"

using skyloom_pixel::saturateRound;
using skyloom_pixel::saturateTrunc;

void myGetFrequencyMono8(const UInt8* buffer, UInt32* histogram, UInt32 width, UInt32 height,
                         UInt32 rowBytes) {
  std::memset(histogram, 0, 256 * sizeof(UInt32));
  // Pixels are counted four at a time; a row's last width mod 4 are left out.
  const UInt32 counted = width & ~3u;
  for (UInt32 r = 0; r < height; ++r) {
    const UInt8* row = buffer + size_t(r) * rowBytes;
    for (UInt32 i = 0; i < counted; ++i) ++histogram[row[i]];
  }
}

UInt32 myCalcMono8MedianVal(const UInt32* histogram, double fraction) {
  if (!(fraction >= 0.0 && fraction <= 1.0)) return 0;
  // 64-bit totals: a large bright frame would wrap a 32-bit weight sum.
  UInt64 total = 0;
  for (UInt32 i = 0; i < 256; ++i) total += UInt64(i + 1) * histogram[i];
  const UInt64 target = saturateTrunc<UInt64>(fraction * double(total));
  if (target == 0) return 0;
  UInt64 running = 0;
  for (UInt32 i = 0; i < 256; ++i) {
    running += UInt64(i + 1) * histogram[i];
    if (running >= target) return i;
  }
  return 0;
}

namespace {

// One half-maximum walk from a centre pixel above `half`: `step` is +-1 along
// the line, `last` the last index examined. Returns true with the crossing
// position when the profile drops to half or below.
template <typename Pixel>
bool walk(Pixel pixel, SInt64 centre, SInt64 step, SInt64 last, SInt32 half, double* crossing) {
  SInt32 previous = pixel(centre);
  for (SInt64 i = centre + step; step < 0 ? i >= last : i <= last; i += step) {
    const SInt32 p = pixel(i);
    if (p <= half) {
      if (p == half) {
        *crossing = double(i);
      } else {
        // Between this pixel and the previous one, on the previous pixel's side.
        const double frac = double(half - p) / double(previous - p);
        *crossing = double(i) - double(step) * frac;
      }
      return true;
    }
    previous = p;
  }
  return false;
}

}  // namespace

SInt32 myCalcFWHM8BitMono(const UInt8* buffer, UInt32 rowBytes, UInt32 width, UInt32 height,
                          double x, double y, SInt32 background, double* fwhm, UInt32* halfLevel) {
  *fwhm = 0.0;
  *halfLevel = 0;
  const SInt64 xr = saturateRound<SInt32>(x), yr = saturateRound<SInt32>(y);
  if (xr < 1 || yr < 1 || xr + 1 >= SInt64(width) || yr + 1 >= SInt64(height)) return -1;
  auto at = [&](SInt64 col, SInt64 row) -> SInt32 { return buffer[size_t(row) * rowBytes + size_t(col)]; };

  SInt32 peak = 0;
  for (SInt64 r = yr - 1; r <= yr + 1; ++r)
    for (SInt64 c = xr - 1; c <= xr + 1; ++c) peak = at(c, r) > peak ? at(c, r) : peak;
  const SInt32 half = saturateTrunc<SInt32>((double(peak) + double(background)) * 0.5);
  *halfLevel = half > 0 ? UInt32(half) : 0;
  if (double(half) <= 1.05 * double(background)) return -1;

  double sum = 0.0;
  UInt32 crossings = 0;
  double crossing = 0.0;
  for (SInt64 k = -1; k <= 1; ++k) {
    const SInt64 row = yr + k;
    auto alongRow = [&](SInt64 c) { return at(c, row); };
    if (alongRow(xr) > half) {
      if (walk(alongRow, xr, -1, 1, half, &crossing)) {
        sum += std::fabs(x - crossing);
        ++crossings;
      }
      if (walk(alongRow, xr, +1, SInt64(width) - 1, half, &crossing)) {
        sum += std::fabs(x - crossing);
        ++crossings;
      }
    }
    const SInt64 col = xr + k;
    auto alongColumn = [&](SInt64 r) { return at(col, r); };
    if (alongColumn(yr) > half) {
      if (walk(alongColumn, yr, -1, 1, half, &crossing)) {
        sum += std::fabs(y - crossing);
        ++crossings;
      }
      if (walk(alongColumn, yr, +1, SInt64(height) - 1, half, &crossing)) {
        sum += std::fabs(y - crossing);
        ++crossings;
      }
    }
  }
  if (crossings == 0) return -1;
  *fwhm = 2.0 * (sum / double(crossings));
  return 0;
}
