// The colour phase of a Bayer mosaic: which colour each sample carries. One
// rule for every routine that reads or writes a mosaic.
//
// Rows alternate between a row holding the reds and a row holding the blues;
// a startRowFlag of 1 puts the red row first. The greens fill the other
// sites, on a diagonal:
//   RGGB family          red rows R G R G ...   blue rows G B G B ...
//   the other family     red rows G R G R ...   blue rows B G B G ...
// The pixel routines call the other family BGGR, the demosaic kernels GRBG.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MyBayerPhase {
  bool otherFamily;  // red rows begin with a green (BGGR / GRBG)
  bool redRow0;      // row 0 holds the reds

  constexpr bool redRow(UInt32 y) const { return redRow0 != ((y & 1u) != 0); }
  // Column parity (0 or 1) of the greens in row y.
  constexpr UInt32 greenParity(UInt32 y) const { return redRow(y) != otherFamily ? 1u : 0u; }
  constexpr bool green(UInt32 x, UInt32 y) const { return (x & 1u) == greenParity(y); }
};

constexpr MyBayerPhase myBayerPhase(bool otherFamily, UInt32 startRowFlag) {
  return {otherFamily, startRowFlag != 0};
}
