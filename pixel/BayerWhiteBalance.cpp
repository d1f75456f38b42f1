#include "pixel/BayerWhiteBalance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "utilities/BayerPhase.h"

namespace {

using Phase = MyBayerPhase;
inline Phase phaseRGGB(UInt32 startRowFlag) { return myBayerPhase(false, startRowFlag); }
inline Phase phaseBGGR(UInt32 startRowFlag) { return myBayerPhase(true, startRowFlag); }

inline UInt8 toByte(float v) {
  const float r = std::nearbyint(v);  // default rounding: nearest, ties to even
  if (!(r > 0.0f)) return 0;          // also NaN
  if (r >= 255.0f) return 255;
  return UInt8(r);
}

// Averages over columns [x0, x1) of rows [y0, y1); the caller has clipped the
// area to the frame and made it non-empty.
template <typename T>
void averageArea(const T* buffer, UInt32 width, UInt32 x0, UInt32 y0, UInt32 x1, UInt32 y1,
                 Phase phase, float scale, UInt8* outRed, UInt8* outGreen, UInt8* outBlue) {
  float red = 0.0f, green = 0.0f, blue = 0.0f;
  for (UInt32 y = y0; y < y1; ++y) {
    const T* row = buffer + std::size_t(y) * width;
    UInt64 even = 0, odd = 0;
    UInt32 x = x0;
    if ((x & 1u) != 0) odd += row[x++];
    for (; x + 1 < x1; x += 2) {
      even += row[x];
      odd += row[x + 1];
    }
    if (x < x1) even += row[x];
    const bool greensEven = phase.greenParity(y) == 0;
    const bool redRow = phase.redRow(y);
    green += float(greensEven ? even : odd);
    (redRow ? red : blue) += float(greensEven ? odd : even);
  }
  const float inv = 1.0f / float(UInt64(x1 - x0) * (y1 - y0));
  const float four = 4.0f * scale, two = 2.0f * scale;
  if (outRed != nullptr) *outRed = toByte(red * four * inv);
  if (outGreen != nullptr) *outGreen = toByte(green * two * inv);
  if (outBlue != nullptr) *outBlue = toByte(blue * four * inv);
}

template <typename T>
void frameAverages(const T* buffer, UInt32 width, UInt32 height, Phase phase, float scale,
                   UInt8* outRed, UInt8* outGreen, UInt8* outBlue) {
  if (buffer == nullptr || width == 0 || height == 0) return;
  averageArea(buffer, width, 0, 0, width, height, phase, scale, outRed, outGreen, outBlue);
}

template <typename T>
void spotAverages(const T* buffer, UInt32 width, UInt32 height, UInt32 x, UInt32 y, UInt32 size,
                  Phase phase, float scale, UInt8* outRed, UInt8* outGreen, UInt8* outBlue) {
  if (buffer == nullptr || size == 0 || x >= width || y >= height) return;
  const UInt32 x1 = UInt64(x) + size < width ? x + size : width;
  const UInt32 y1 = UInt64(y) + size < height ? y + size : height;
  averageArea(buffer, width, x, y, x1, y1, phase, scale, outRed, outGreen, outBlue);
}

constexpr float kScale8 = 1.0f;
constexpr float kScale16 = 1.0f / 257.0f;

}  // namespace

void myGetBayerRGGBAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height,
                                UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                UInt8* outBlue) {
  frameAverages(buffer, width, height, phaseRGGB(startRowFlag), kScale8, outRed, outGreen,
                outBlue);
}

void myGetBayerBGGRBAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height,
                                 UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                 UInt8* outBlue) {
  frameAverages(buffer, width, height, phaseBGGR(startRowFlag), kScale8, outRed, outGreen,
                outBlue);
}

void myGetBayerRGGBAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                 UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                 UInt8* outBlue) {
  frameAverages(buffer, width, height, phaseRGGB(startRowFlag), kScale16, outRed, outGreen,
                outBlue);
}

void myGetBayerBGGRBAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                  UInt32 startRowFlag, UInt8* outRed, UInt8* outGreen,
                                  UInt8* outBlue) {
  frameAverages(buffer, width, height, phaseBGGR(startRowFlag), kScale16, outRed, outGreen,
                outBlue);
}

void myGetBayerRGGBSpotAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height, UInt32 x,
                                    UInt32 y, UInt32 size, UInt32 startRowFlag, UInt8* outRed,
                                    UInt8* outGreen, UInt8* outBlue) {
  spotAverages(buffer, width, height, x, y, size, phaseRGGB(startRowFlag), kScale8, outRed,
               outGreen, outBlue);
}

void myGetBayerBGGRSpotAverages8Bit(const UInt8* buffer, UInt32 width, UInt32 height, UInt32 x,
                                    UInt32 y, UInt32 size, UInt32 startRowFlag, UInt8* outRed,
                                    UInt8* outGreen, UInt8* outBlue) {
  spotAverages(buffer, width, height, x, y, size, phaseBGGR(startRowFlag), kScale8, outRed,
               outGreen, outBlue);
}

void myGetBayerRGGBSpotAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 x, UInt32 y, UInt32 size, UInt32 startRowFlag,
                                     UInt8* outRed, UInt8* outGreen, UInt8* outBlue) {
  spotAverages(buffer, width, height, x, y, size, phaseRGGB(startRowFlag), kScale16, outRed,
               outGreen, outBlue);
}

void myGetBayerBGGRSpotAverages16Bit(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 x, UInt32 y, UInt32 size, UInt32 startRowFlag,
                                     UInt8* outRed, UInt8* outGreen, UInt8* outBlue) {
  spotAverages(buffer, width, height, x, y, size, phaseBGGR(startRowFlag), kScale16, outRed,
               outGreen, outBlue);
}
