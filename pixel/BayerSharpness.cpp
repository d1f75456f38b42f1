#include "pixel/BayerSharpness.h"

#include <cstddef>

#include "utilities/BayerPhase.h"

// The term window. Every row is compared with the next one through greens,
// in both families, so a coloured but featureless scene scores 0:
//   - the row's four samples are greens (the row's green column parity g),
//     the next-row sample is a green of the other parity;
//   - term k takes the next-row green at column c = c0 + 2k, with c0 = 3 when
//     the next row's greens are in odd columns and c0 = 2 when they are in
//     even columns;
//   - its four row greens are the four nearest to c: columns c-3, c-1, c+1,
//     c+3, shifted inwards at the row's ends so they stay in the row, and
//     repeating the last green where the row holds fewer than four.
// Each term is |((sum of the four) >> 2) - next-row green|. For the BGGR
// family with startRowFlag 1 (row 0 G R) this is the even-columns-against-odd
// pattern of the first kind of row; in the RGGB family the roles of the two
// kinds of row are swapped so that greens meet greens there too.

namespace {

template <typename T>
SInt64 edgeTerm(const T* row, const T* next, SInt64 c, SInt64 g, SInt64 lastG) {
  SInt64 s = c - 3;
  if (s + 6 > lastG) s = lastG - 6;
  if (s < g) s = g;
  SInt64 sum = 0;
  for (int i = 0; i < 4; ++i) {
    SInt64 col = s + 2 * i;
    if (col > lastG) col = lastG;
    sum += row[col];
  }
  const SInt64 d = (sum >> 2) - SInt64(next[c]);
  return d < 0 ? -d : d;
}

template <typename T>
void estimate(const T* buffer, UInt32 width, UInt32 height, MyBayerPhase phase,
              double* out) {
  if (out == nullptr) return;
  *out = 0.0;
  if (buffer == nullptr || width < 4 || height < 2) return;
  const SInt64 terms = SInt64(width / 2) - 2;
  const SInt64 divisor = SInt64(height - 2) * terms;
  if (divisor <= 0) return;

  double accumulator = 0.0;
  for (UInt32 y = 0; y + 2 < height; ++y) {
    const T* row = buffer + std::size_t(y) * width;
    const T* next = row + width;
    const SInt64 g = phase.greenParity(y);
    const SInt64 lastG = ((width - 1) & 1u) == g ? SInt64(width) - 1 : SInt64(width) - 2;
    const SInt64 c0 = g == 0 ? 3 : 2;
    // Terms whose window needs no shifting run in the tight loop.
    SInt64 kLo = 0;
    while (kLo < terms && c0 + 2 * kLo - 3 < g) ++kLo;
    SInt64 kHi = terms;
    while (kHi > kLo && c0 + 2 * (kHi - 1) + 3 > lastG) --kHi;

    SInt64 rowSum = 0;
    for (SInt64 k = 0; k < kLo; ++k) rowSum += edgeTerm(row, next, c0 + 2 * k, g, lastG);
    const T* w = row + (c0 + 2 * kLo - 3);
    const T* n = next + (c0 + 2 * kLo);
    const std::size_t inner = std::size_t(kHi - kLo);
    UInt64 innerSum = 0;
    for (std::size_t k = 0; k < inner; ++k) {
      const SInt32 mean =
          SInt32((UInt32(w[2 * k]) + w[2 * k + 2] + w[2 * k + 4] + w[2 * k + 6]) >> 2);
      const SInt32 d = mean - SInt32(n[2 * k]);
      innerSum += UInt32(d < 0 ? -d : d);
    }
    rowSum += SInt64(innerSum);
    for (SInt64 k = kHi; k < terms; ++k) rowSum += edgeTerm(row, next, c0 + 2 * k, g, lastG);
    accumulator += double(rowSum);
  }
  *out = accumulator / double(divisor);
}

inline MyBayerPhase phaseRGGB(UInt32 startRowFlag) { return myBayerPhase(false, startRowFlag); }
inline MyBayerPhase phaseBGGR(UInt32 startRowFlag) { return myBayerPhase(true, startRowFlag); }

}  // namespace

void myBayer8RGGBSharpnessEstimator(const UInt8* buffer, UInt32 width, UInt32 height,
                                    UInt32 startRowFlag, double* out) {
  estimate(buffer, width, height, phaseRGGB(startRowFlag), out);
}

void myBayer8BGGRSharpnessEstimator(const UInt8* buffer, UInt32 width, UInt32 height,
                                    UInt32 startRowFlag, double* out) {
  estimate(buffer, width, height, phaseBGGR(startRowFlag), out);
}

void myBayer16RGGBSharpnessEstimator(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 startRowFlag, double* out) {
  estimate(buffer, width, height, phaseRGGB(startRowFlag), out);
}

void myBayer16BGGRSharpnessEstimator(const UInt16* buffer, UInt32 width, UInt32 height,
                                     UInt32 startRowFlag, double* out) {
  estimate(buffer, width, height, phaseBGGR(startRowFlag), out);
}
