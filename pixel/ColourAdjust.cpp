#include "pixel/ColourAdjust.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pixel/FusedSum.h"
#include "pixel/RowBands.h"

namespace {

// Truncation toward zero and the clamp to 0 .. 65535; NaN gives 0.
inline UInt16 toSample(float v) {
  if (v >= 65535.0f) return 65535;
  return v > 0.0f ? UInt16(SInt32(v)) : UInt16(0);
}

// Runs fn(first, count) over the pixels of a packed image in bands of rows.
template <class Fn>
void overPixels(UInt32 width, UInt32 height, UInt64 workPerPixel, Fn fn) {
  myRunRowBands(height, UInt64(width) * workPerPixel, [&](UInt32 begin, UInt32 end) {
    fn(size_t(begin) * width, size_t(end - begin) * width);
  });
}

// The stretch of one sample value, exactly as the curve is defined.
inline UInt16 stretchSample(UInt32 v, double p, double k, UInt32 black) {
  if (v <= black) return 0;
  const double x = 65535.0 * std::exp(p * std::log(k * double(v - black)));
  if (x > 65534.0) return 65535;
  return x > 0.0 ? UInt16(SInt32(x)) : UInt16(0);
}

// One fused multiply-add, through double where the caller found that exact.
template <bool ByDouble>
inline float fused(float a, float r, float t) {
  if constexpr (ByDouble)
    return myFusedSumByDouble(a, r, t);
  else
    return std::fma(a, r, t);
}

template <bool ByDouble>
void saturate(UInt16* __restrict p, size_t count, float a, float b) {
  for (size_t i = 0; i < count; ++i) {
    const float r = float(SInt32(p[3 * i]));
    const float g = float(SInt32(p[3 * i + 1]));
    const float bl = float(SInt32(p[3 * i + 2]));
    p[3 * i] = toSample(fused<ByDouble>(a, r, b * (g + bl)));
    p[3 * i + 1] = toSample(fused<ByDouble>(a, g, b * (r + bl)));
    p[3 * i + 2] = toSample(fused<ByDouble>(a, bl, b * (r + g)));
  }
}

template <bool ByDouble>
void expand(UInt16* __restrict p, size_t count, const float* k, const float* offset) {
  const float k0 = k[0], k1 = k[1], k2 = k[2];
  const float o0 = offset[0], o1 = offset[1], o2 = offset[2];
  for (size_t i = 0; i < count; ++i) {
    p[3 * i] = toSample(fused<ByDouble>(k0, float(SInt32(p[3 * i])), o0));
    p[3 * i + 1] = toSample(fused<ByDouble>(k1, float(SInt32(p[3 * i + 1])), o1));
    p[3 * i + 2] = toSample(fused<ByDouble>(k2, float(SInt32(p[3 * i + 2])), o2));
  }
}

}  // namespace

void myAltivecChangeSaturationRGB48(UInt16* rgb48, UInt32 width, UInt32 height, double amount,
                                    UInt8) {
  if (rgb48 == nullptr || std::isnan(amount)) return;
  const double s = std::clamp(amount, -2.0, 7.0);
  const float a = float(1.0 + s);
  const float b = float(-s / 2.0);
  // t = b (G + B) has the exponent of b plus 0 .. 18 (G + B < 2^17).
  const bool byDouble =
      b == 0.0f || myFusedSumFitsDouble(a, std::ilogb(b) - 1, std::ilogb(b) + 18);
  overPixels(width, height, 12, [&](size_t first, size_t count) {
    UInt16* p = rgb48 + first * 3;
    if (byDouble)
      saturate<true>(p, count, a, b);
    else
      saturate<false>(p, count, a, b);
  });
}

void myAltivecChangeColorBalanceRGB48G(UInt16* rgb48, UInt32 width, UInt32 height, Float32 red,
                                       Float32 green, Float32 blue, UInt8) {
  if (rgb48 == nullptr) return;
  overPixels(width, height, 6, [&](size_t first, size_t count) {
    UInt16* __restrict p = rgb48 + first * 3;
    for (size_t i = 0; i < count; ++i) {
      p[3 * i] = toSample(float(SInt32(p[3 * i])) * red);
      p[3 * i + 1] = toSample(float(SInt32(p[3 * i + 1])) * green);
      p[3 * i + 2] = toSample(float(SInt32(p[3 * i + 2])) * blue);
    }
  });
}

void myNonLinearStretch16BitBuffer(UInt16* samples, UInt32 samplesPerRow, UInt32 rows,
                                   double curve, UInt32 black) {
  if (samples == nullptr) return;
  const double k = (black >= 1 && black <= 65534) ? 1.0 / double(65535 - black) : 1.0 / 65535.0;
  const double p = curve / 2.0;
  const UInt64 count = UInt64(samplesPerRow) * rows;
  // A sample's result depends on its value alone: past a few table lengths of
  // samples, the curve is worked out once for every value and looked up.
  if (count < 4 * 65536) {
    for (UInt64 i = 0; i < count; ++i) samples[i] = stretchSample(samples[i], p, k, black);
    return;
  }
  std::vector<UInt16> table(65536);
  myRunRowBands(256, 256 * 40, [&](UInt32 begin, UInt32 end) {
    for (UInt32 v = begin * 256; v < end * 256; ++v) table[v] = stretchSample(v, p, k, black);
  });
  const UInt16* lut = table.data();
  myRunRowBands(rows, UInt64(samplesPerRow) * 2, [&](UInt32 begin, UInt32 end) {
    UInt16* __restrict s = samples + size_t(begin) * samplesPerRow;
    const size_t n = size_t(end - begin) * samplesPerRow;
    for (size_t i = 0; i < n; ++i) s[i] = lut[s[i]];
  });
}

void myAltivecNonLinearStretch16BitBuffer(UInt16* samples, UInt32 samplesPerRow, UInt32 rows,
                                          double curve, UInt32 black, UInt8) {
  // The vector unit's estimate instructions have no equivalent here; every
  // sample takes the exact curve.
  myNonLinearStretch16BitBuffer(samples, samplesPerRow, rows, curve, black);
}

void myAltivecExpandRGB48(UInt16* rgb48, UInt32 width, UInt32 height, UInt32 redMinimum,
                          UInt32 redMaximum, UInt32 greenMinimum, UInt32 greenMaximum,
                          UInt32 blueMinimum, UInt32 blueMaximum, UInt8) {
  if (rgb48 == nullptr) return;
  const UInt32 lo[3] = {redMinimum, greenMinimum, blueMinimum};
  const UInt32 hi[3] = {redMaximum, greenMaximum, blueMaximum};
  float k[3], offset[3];
  bool byDouble = true;
  for (int c = 0; c < 3; ++c) {
    k[c] = hi[c] == lo[c] ? 1.0f : float(65535.0 / (double(hi[c]) - double(lo[c])));
    offset[c] = -(k[c] * float(lo[c]));
    if (offset[c] != 0.0f)
      byDouble = byDouble && myFusedSumFitsDouble(k[c], std::ilogb(offset[c]), std::ilogb(offset[c]));
  }
  overPixels(width, height, 6, [&](size_t first, size_t count) {
    UInt16* p = rgb48 + first * 3;
    if (byDouble)
      expand<true>(p, count, k, offset);
    else
      expand<false>(p, count, k, offset);
  });
}
