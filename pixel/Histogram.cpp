#include "pixel/Histogram.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

constexpr UInt32 kBins = kHistoGram256Bins;

// Counting goes into private tables on the stack, one a column lane (and row
// parity for mosaics), so successive equal samples do not wait on the same
// counter; the finished bins are then stored once.
inline void publishBin(UInt32* table, UInt32 bin, UInt32 value) {
  __atomic_store_n(&table[bin], value, __ATOMIC_RELAXED);
}

template <typename T, UInt32 kShift>
void countMono(const T* frame, std::size_t n, UInt32* histogram) {
  UInt32 lanes[4][kBins] = {};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++lanes[0][frame[i] >> kShift];
    ++lanes[1][frame[i + 1] >> kShift];
    ++lanes[2][frame[i + 2] >> kShift];
    ++lanes[3][frame[i + 3] >> kShift];
  }
  for (; i < n; ++i) ++lanes[0][frame[i] >> kShift];
  for (UInt32 b = 0; b < kBins; ++b)
    publishBin(histogram, b, lanes[0][b] + lanes[1][b] + lanes[2][b] + lanes[3][b]);
}

enum Colour { kRed = 0, kGreen = 1, kBlue = 2 };

// Colours of (row parity, column parity) for a BayerFormat code.
void mosaicColours(UInt32 bayerFormat, Colour out[2][2]) {
  switch (bayerFormat) {
    case 1:  // R G / G B
      out[0][0] = kRed, out[0][1] = kGreen, out[1][0] = kGreen, out[1][1] = kBlue;
      break;
    case 2:  // G B / R G
      out[0][0] = kGreen, out[0][1] = kBlue, out[1][0] = kRed, out[1][1] = kGreen;
      break;
    case 3:  // G R / B G
      out[0][0] = kGreen, out[0][1] = kRed, out[1][0] = kBlue, out[1][1] = kGreen;
      break;
    default:  // B G / G R
      out[0][0] = kBlue, out[0][1] = kGreen, out[1][0] = kGreen, out[1][1] = kRed;
      break;
  }
}

// Mosaic counting: each row counts its first `used` samples (whole groups)
// into lanes by row parity and column mod 4; lanes then go to their colours.
template <typename T, UInt32 kShift>
void countMosaic(const T* mosaic, UInt32 width, UInt32 height, UInt32 used, UInt32 bayerFormat,
                 UInt32* red, UInt32* green, UInt32* blue) {
  UInt32 lanes[2][4][kBins] = {};
  for (UInt32 y = 0; y < height; ++y) {
    const T* row = mosaic + std::size_t(y) * width;
    UInt32(*l)[kBins] = lanes[y & 1];
    UInt32 x = 0;
    for (; x + 4 <= used; x += 4) {
      ++l[0][row[x] >> kShift];
      ++l[1][row[x + 1] >> kShift];
      ++l[2][row[x + 2] >> kShift];
      ++l[3][row[x + 3] >> kShift];
    }
    for (; x < used; ++x) ++l[x & 3][row[x] >> kShift];
  }
  Colour colours[2][2];
  mosaicColours(bayerFormat, colours);
  UInt32* tables[3] = {red, green, blue};
  const UInt32 weights[3] = {4, 2, 4};
  for (UInt32 b = 0; b < kBins; ++b) {
    UInt32 sums[3] = {0, 0, 0};
    for (UInt32 rp = 0; rp < 2; ++rp)
      for (UInt32 lane = 0; lane < 4; ++lane) sums[colours[rp][lane & 1]] += lanes[rp][lane][b];
    for (UInt32 c = 0; c < 3; ++c) publishBin(tables[c], b, sums[c] * weights[c]);
  }
}

struct Points {
  UInt32 low;
  UInt32 high;
};

Points percentilePoints(const UInt32* h) {
  UInt32 total = 0;
  for (UInt32 i = 0; i < kBins; ++i) total += (i + 1) * h[i];
  const UInt32 lowT = UInt32(double(total) * 0.01);
  const UInt32 highT = UInt32(double(total) * 0.995);
  UInt32 sums[kBins];
  UInt32 s = 0;
  for (UInt32 i = 0; i < kBins; ++i) {
    s += (i + 1) * h[i];
    sums[i] = s;
  }
  // sums[255] is the total, which both thresholds do not exceed.
  UInt32 low = 0;
  while (low < kBins - 1 && sums[low] < lowT) ++low;
  if (low == kBins - 1) return {low, low};
  UInt32 high = low + 1;
  while (high < kBins - 1 && sums[high] < highT) ++high;
  return {low, high};
}

Points combinedPoints(UInt32 mode, const UInt32* a, const UInt32* b, const UInt32* c) {
  const Points pa = percentilePoints(a);
  if (mode != 1) return pa;
  const Points pb = percentilePoints(b);
  const Points pc = percentilePoints(c);
  return {std::max(std::min(pa.low, pb.low), pc.low), std::max({pa.high, pb.high, pc.high})};
}

}  // namespace

void myGetHistogramDataMono8Bit(const UInt8* frame, UInt32 width, UInt32 height,
                                UInt32* histogram) {
  countMono<UInt8, 0>(frame, std::size_t(width) * height, histogram);
}

void myGetHistogramDataMono16Bit(const UInt16* frame, UInt32 width, UInt32 height,
                                 UInt32* histogram) {
  countMono<UInt16, 8>(frame, std::size_t(width) * height, histogram);
}

void myGetBayerHistogramData8Bit(const UInt8* mosaic, UInt32 width, UInt32 height,
                                 UInt32 bayerFormat, UInt32* red, UInt32* green, UInt32* blue) {
  countMosaic<UInt8, 0>(mosaic, width, height, width & ~3u, bayerFormat, red, green, blue);
}

void myGetBayerHistogramData16Bit(const UInt16* mosaic, UInt32 width, UInt32 height,
                                  UInt32 bayerFormat, UInt32* red, UInt32* green, UInt32* blue) {
  countMosaic<UInt16, 8>(mosaic, width, height, width & ~1u, bayerFormat, red, green, blue);
}

void myHistogramPercentilePoints(const UInt32* histogram, UInt32* low, UInt32* high) {
  const Points p = percentilePoints(histogram);
  *low = p.low;
  *high = p.high;
}

SInt32 myCalculateHistoGram95PercentileLUT8Bit(LUT8Bit* lut, UInt32 mode, const UInt32* a,
                                                const UInt32* b, const UInt32* c) {
  const Points p = combinedPoints(mode, a, b, c);
  const SInt32 d = SInt32(p.high) - SInt32(p.low);
  if (d <= 0) return 0;
  const float scale = 255.0f / float(d);
  for (UInt32 i = 0; i < 256; ++i) {
    if (i <= p.low) {
      lut[i] = 0;
      continue;
    }
    const float v = std::trunc(scale * float(i - p.low));
    lut[i] = v > 254.0f ? 255 : UInt8(v);
  }
  return 1;
}

SInt32 myCalculateHistoGram95PercentileLUT16Bit(LUT16Bit* lut, UInt32 mode, const UInt32* a,
                                                 const UInt32* b, const UInt32* c) {
  const Points p = combinedPoints(mode, a, b, c);
  if (SInt32(p.high) - SInt32(p.low) <= 0) return 0;
  // A bin b stands for the 16-bit value 255 x b.
  const SInt32 high16 = p.high >= 255 ? 65535 : SInt32(double(p.high) * 255.0);
  const SInt32 low16 = SInt32(double(p.low) * 255.0);
  const SInt32 d16 = high16 - low16;
  if (d16 <= 0) return 0;
  const float scale = 65535.0f / float(d16);
  lut[0] = 0;
  for (SInt32 v = 1; v <= 65535; ++v) {
    if (v <= low16) {
      lut[v] = 0;
      continue;
    }
    const float x = std::trunc(scale * float(v - low16));
    lut[v] = x > 65534.0f ? 65535 : (x < 1.0f ? 0 : UInt16(x));
  }
  return 1;
}

void myStoreHistogramReady(MyCameraWindowDataStruct* record, UInt32 value) {
  std::atomic_ref<UInt32>(record->mHistogramValid).store(value, std::memory_order_release);
}

UInt32 myLoadHistogramReady(MyCameraWindowDataStruct* record) {
  return std::atomic_ref<UInt32>(record->mHistogramValid).load(std::memory_order_acquire);
}

UInt32 myLoadHistogramBin(const UInt32* histogram, UInt32 bin) {
  return __atomic_load_n(&histogram[bin], __ATOMIC_RELAXED);
}
