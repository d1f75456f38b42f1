#include "pixel/BayerBinning.h"

#include <cstddef>

#include "utilities/BayerPhase.h"
#include "utilities/LowLevel.h"

namespace {

// 8-bit share of one sample. The 16.16 value floor(3 c L 65536 / S) is kept
// exact (a grey 50 must give 200, which rounding FixDiv(L, S) first loses);
// with n = 3 c L its tests reduce to integer division:
//   v < 1.0     <=>  n < S
//   v > 254.0   <=>  n > 254 S   (S < 65536, so any remainder lifts v past 254.0)
//   int part    =    n / S
inline UInt8 share8(UInt32 c, UInt32 L, UInt32 S) {
  if (L <= 3) return 0;
  if (L >= 255) return 255;
  if (S == 0) return 255;  // cannot happen with L > 3; v = L would exceed 254.0 anyway
  const UInt32 n = 3u * c * L;
  if (n < S) return 0;
  if (n > 254u * S) return 255;
  return UInt8(n / S);
}

inline UInt16 share16(UInt32 c, UInt32 L, UInt32 S) {
  if (L <= 3) return 0;
  if (L >= 65535) return 65535;
  double v = double(L);
  if (S != 0) v = double(c) * 3.0 * (double(L) / double(S));
  if (v > 65535.0) return 65535;
  if (v < 1.0) return 0;
  return UInt16(v);
}

template <typename T, T (*Share)(UInt32, UInt32, UInt32)>
void binMosaic(T* buffer, UInt32 width, UInt32 height, MyBayerPhase phase) {
  if (buffer == nullptr || width < 2 || height < 3) return;
  for (UInt32 y = 0; y + 1 < height; ++y) {
    T* row = buffer + std::size_t(y) * width;
    const T* next = row + width;
    const UInt32 g = phase.greenParity(y);
    const bool redTop = phase.redRow(y);
    // Row samples are rewritten as we go; the left neighbour's original is
    // carried for the last column, whose block repeats the last column pair.
    UInt32 leftOriginal = 0;
    for (UInt32 x = 0; x < width; ++x) {
      const bool last = x + 1 == width;
      const UInt32 a = row[x];
      const UInt32 b = last ? leftOriginal : row[x + 1];
      const UInt32 c = next[x];
      const UInt32 d = last ? next[x - 1] : next[x + 1];
      const bool green = (x & 1u) == g;
      // Top pair (a, b) and bottom pair (c, d): a green and a red or blue each,
      // the greens on opposite diagonals.
      const UInt32 greens = green ? a + d : b + c;
      const UInt32 top = green ? b : a;
      const UInt32 bottom = green ? c : d;
      const UInt32 R = redTop ? top : bottom;
      const UInt32 B = redTop ? bottom : top;
      const UInt32 Gm = greens >> 1;
      const UInt32 L = a + b + c + d;
      leftOriginal = a;
      row[x] = Share(green ? Gm : a, L, R + B + Gm);
    }
  }
  T* lastRow = buffer + std::size_t(height - 1) * width;
  myMemCpy(lastRow, lastRow - 2 * std::size_t(width), UInt32(width * sizeof(T)));
}

}  // namespace

// RGGB: row 0 is R G with startRowFlag 1, G B with 0.
// BGGR: row 0 is G R with startRowFlag 1, B G with 0.
void myBinBufferLRGBtoBayer8FixedRGGB(UInt8* buffer, UInt32 width, UInt32 height,
                                      UInt32 startRowFlag) {
  binMosaic<UInt8, share8>(buffer, width, height, myBayerPhase(false, startRowFlag));
}

void myBinBufferLRGBtoBayer8FixedBGGR(UInt8* buffer, UInt32 width, UInt32 height,
                                      UInt32 startRowFlag) {
  binMosaic<UInt8, share8>(buffer, width, height, myBayerPhase(true, startRowFlag));
}

void myBinBufferLRGBtoBayer16FloatRGGB(UInt16* buffer, UInt32 width, UInt32 height,
                                       UInt32 startRowFlag) {
  binMosaic<UInt16, share16>(buffer, width, height, myBayerPhase(false, startRowFlag));
}

void myBinBufferLRGBtoBayer16FloatBGGR(UInt16* buffer, UInt32 width, UInt32 height,
                                       UInt32 startRowFlag) {
  binMosaic<UInt16, share16>(buffer, width, height, myBayerPhase(true, startRowFlag));
}
