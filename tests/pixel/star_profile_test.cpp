#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "pixel/StarProfile.h"

TEST(Histogram, CountsOnlyWholeGroupsOfFourInEachRow) {
  // 6 pixels a row plus 2 padding bytes; only the first four of a row count.
  const UInt8 rows[3][8] = {{1, 2, 3, 4, 5, 6, 9, 9}, {1, 2, 3, 4, 5, 6, 9, 9}, {4, 4, 4, 4, 5, 6, 9, 9}};
  UInt32 h[256];
  for (auto& v : h) v = 77;
  myGetFrequencyMono8(&rows[0][0], h, 6, 3, 8);
  EXPECT_EQ(h[1], 2u);
  EXPECT_EQ(h[2], 2u);
  EXPECT_EQ(h[3], 2u);
  EXPECT_EQ(h[4], 6u);
  EXPECT_EQ(h[5], 0u);
  EXPECT_EQ(h[6], 0u);
  EXPECT_EQ(h[9], 0u);
  EXPECT_EQ(h[0], 0u);
  // Narrower than four: nothing is counted, the bins are still cleared.
  myGetFrequencyMono8(&rows[0][0], h, 3, 3, 8);
  for (UInt32 v : h) ASSERT_EQ(v, 0u);
}

TEST(WeightedQuantile, Table) {
  struct Case { std::vector<std::pair<int, UInt32>> bins; double fraction; UInt32 result; };
  const Case cases[] = {
      {{{0, 1}}, 0.5, 0},                 // T = 1, target truncates to 0
      {{{0, 4}}, 1.0, 0},                 // T = h[0]
      {{{10, 5}, {200, 1}}, 1.0, 200},    // the top non-empty bin
      {{{10, 5}, {200, 1}}, 0.5, 200},    // 55 < 128 at bin 10
      {{{10, 30}, {200, 1}}, 0.5, 10},    // T = 531, target 265
      {{{3, 2}, {7, 1}}, 0.5, 3},         // running sum 8 reaches target 8
      {{{3, 2}, {7, 1}}, 0.5625, 7},      // target 9
      {{{3, 2}, {7, 1}}, 0.0, 0},
      {{{3, 2}, {7, 1}}, -0.01, 0},
      {{{3, 2}, {7, 1}}, 1.01, 0},
      {{{3, 2}, {7, 1}}, std::nan(""), 0},
      {{}, 0.5, 0},                        // empty histogram
      {{{255, 20000000}}, 1.0, 255},       // weights past 2^32 do not wrap
  };
  for (const Case& c : cases) {
    UInt32 h[256] = {};
    for (const auto& b : c.bins) h[b.first] = b.second;
    EXPECT_EQ(myCalcMono8MedianVal(h, c.fraction), c.result) << c.fraction;
  }
}

namespace {

// Background `bg`; the three rows through the centre are `level` for
// |dx| <= reach, the three columns likewise for |dy| <= reach.
std::vector<UInt8> plusStar(UInt32 w, UInt32 h, int cx, int cy, int reach, UInt8 level, UInt8 bg) {
  std::vector<UInt8> f(size_t(w) * h, bg);
  for (int y = 0; y < int(h); ++y)
    for (int x = 0; x < int(w); ++x) {
      const int dx = std::abs(x - cx), dy = std::abs(y - cy);
      if ((dy <= 1 && dx <= reach) || (dx <= 1 && dy <= reach)) f[size_t(y) * w + x] = level;
    }
  return f;
}

}  // namespace

TEST(Fwhm, TwelveLineFixtureAndHalfLevelCases) {
  struct Case { UInt8 level, bg; SInt32 background; double x, y; SInt32 result; UInt32 half; double fwhm; };
  const Case cases[] = {
      // 0, 1, 2 steps at 200 and the third at 100: every crossing at 2.5.
      {200, 100, 100, 10.0, 10.0, 0, 150, 5.0},
      // Off the pixel centre the distances are taken from (x, y) itself:
      // half the walks gain 0.2 and half lose it.
      {200, 100, 100, 10.2, 9.8, 0, 150, 5.0},
      // Peak 190 over 20: half 105 > 21, crossing at 7 + 85 / 170.
      {190, 20, 20, 10.0, 10.0, 0, 105, 5.0},
      // Peak 110 over 100: half 105 is not above 105.
      {110, 100, 100, 10.0, 10.0, -1, 105, 0.0},
  };
  for (const Case& c : cases) {
    std::vector<UInt8> f = plusStar(21, 21, 10, 10, 2, c.level, c.bg);
    double fwhm = -9;
    UInt32 half = 9;
    EXPECT_EQ(myCalcFWHM8BitMono(f.data(), 21, 21, 21, c.x, c.y, c.background, &fwhm, &half), c.result);
    EXPECT_EQ(half, c.half);
    EXPECT_DOUBLE_EQ(fwhm, c.fwhm);
  }
}

TEST(Fwhm, StarAtTheLeftEdgeAndPlateaus) {
  // Centre column 2, star columns 1..4, column 0 dark: the left walks
  // examine column 1 only, find no crossing and add nothing (had they looked
  // at column 0 they would cross at 0.5, 1.5 from x, and give 4.5). The right
  // walks and the six column walks all cross 2.5 from the centre.
  std::vector<UInt8> f = plusStar(21, 21, 2, 10, 2, 200, 100);
  for (UInt32 y = 9; y <= 11; ++y) {
    f[y * 21 + 0] = 100;
    f[y * 21 + 3] = 200;
    f[y * 21 + 4] = 200;
  }
  double fwhm = 0;
  UInt32 half = 0;
  EXPECT_EQ(myCalcFWHM8BitMono(f.data(), 21, 21, 21, 2.0, 10.0, 100, &fwhm, &half), 0);
  EXPECT_DOUBLE_EQ(fwhm, 5.0);

  // A plateau filling the frame: no walk crosses half.
  std::vector<UInt8> flat(21 * 21, 200);
  EXPECT_EQ(myCalcFWHM8BitMono(flat.data(), 21, 21, 21, 10.0, 10.0, 100, &fwhm, &half), -1);
  EXPECT_EQ(half, 150u);
  EXPECT_EQ(fwhm, 0.0);
}

// Exactly sized 9 x 7 frame: centres whose 3 x 3 neighbourhood would leave it
// are refused before any read.
TEST(Fwhm, CentresWithoutAFullNeighbourhoodAreRefused) {
  const UInt32 W = 9, H = 7;
  std::vector<UInt8> f(W * H, 250);
  struct Case { double x, y; bool accepted; };
  const Case cases[] = {{0.4, 3.0, false}, {0.5, 3.0, true},  {1.0, 3.0, true},  {7.0, 3.0, true},
                        {7.5, 3.0, false}, {4.0, 0.0, false}, {4.0, 1.0, true},  {4.0, 5.0, true},
                        {4.0, 5.6, false}, {-3.0, -3.0, false}, {1e12, 3.0, false},
                        {std::nan(""), 3.0, false}};
  for (const Case& c : cases) {
    double fwhm = 0;
    UInt32 half = 0;
    const SInt32 r = myCalcFWHM8BitMono(f.data(), W, W, H, c.x, c.y, 10, &fwhm, &half);
    if (c.accepted) {
      EXPECT_EQ(half, 130u) << c.x << "," << c.y;  // measured; flat, so no crossing
    } else {
      EXPECT_EQ(r, -1) << c.x << "," << c.y;
      EXPECT_EQ(half, 0u);
    }
  }
}
