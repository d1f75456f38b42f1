#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "pixel/Centroids.h"

namespace {

struct Mono8Frame {
  UInt32 width, height, rowBytes;
  std::vector<UInt8> pixels;
  Mono8Frame(UInt32 w, UInt32 h, UInt32 rb, UInt8 fill = 0)
      : width(w), height(h), rowBytes(rb), pixels(size_t(rb) * h, fill) {}
  UInt8& at(UInt32 x, UInt32 y) { return pixels[size_t(y) * rowBytes + x]; }
  const UInt8* data() const { return pixels.data(); }
};

struct Mono16Frame {
  UInt32 width, height;
  std::vector<UInt16> pixels;  // exactly sized: rowBytes = 2 x width
  Mono16Frame(UInt32 w, UInt32 h) : width(w), height(h), pixels(size_t(w) * h) {}
  UInt16& at(UInt32 x, UInt32 y) { return pixels[size_t(y) * width + x]; }
  UInt32 rowBytes() const { return width * 2; }
};

}  // namespace

// A 5 x 5 area at (3, 2) of a padded buffer: background 10, one pixel exactly
// at the level 50 at (4, 3) and one brighter pixel 90 at (6, 5).
TEST(Centroid, ThreeWeightingsAtTheThresholdAndTheirCoordinateOrigins) {
  Mono8Frame f(10, 8, 12, 10);
  f.at(4, 3) = 50;
  f.at(6, 5) = 90;
  float cx = 0, cy = 0;

  // >= threshold with weight p: both pixels count, absolute coordinates.
  myCalcRectCentroid(f.data(), 3, 2, 5, 5, f.rowBytes, 50, &cx, &cy);
  EXPECT_FLOAT_EQ(cx, (50.0f * 4 + 90.0f * 6) / 140.0f);
  EXPECT_FLOAT_EQ(cy, (50.0f * 3 + 90.0f * 5) / 140.0f);

  // > clip with weight p - clip: only the brighter pixel.
  myCalculateImageSubCentroidClipped(f.data(), 3, 2, 5, 5, f.rowBytes, 50, &cx, &cy);
  EXPECT_FLOAT_EQ(cx, 6.0f);
  EXPECT_FLOAT_EQ(cy, 5.0f);

  // Sub-image: coordinates relative to its first pixel, both forms alike.
  const UInt8* sub = f.data() + 2 * f.rowBytes + 3;
  for (UInt8 altivec : {0, 1}) {
    myCalcImageSubCentroid(sub, 5, 5, f.rowBytes, 50, altivec, 0, &cx, &cy);
    EXPECT_FLOAT_EQ(cx, 3.0f);
    EXPECT_FLOAT_EQ(cy, 3.0f);
  }
  myAltivecCalculateImageSubCentroid(sub, 5, 5, f.rowBytes, 50, 1, &cx, &cy);
  EXPECT_FLOAT_EQ(cx, 3.0f);
  EXPECT_FLOAT_EQ(cy, 3.0f);

  // The no-contrast level of myCalcRectRange accepts nothing.
  myCalcRectCentroid(f.data(), 3, 2, 5, 5, f.rowBytes, 0xFFFFFFFFu, &cx, &cy);
  EXPECT_EQ(cx, -1.0f);
  EXPECT_EQ(cy, -1.0f);
}

TEST(Centroid, BlackFrameFindsNothingAnywhere) {
  Mono8Frame f(160, 130, 160, 0);
  float cx = 0, cy = 0;
  UInt32 bw = 9, bh = 9;
  myCalcRectCentroid(f.data(), 0, 0, 160, 130, 160, 1, &cx, &cy);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f);
  myCalculateImageSubCentroidClipped(f.data(), 0, 0, 160, 130, 160, 0, &cx, &cy);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f);
  myCalcImageSubCentroid(f.data(), 160, 130, 160, 0, 0, 0, &cx, &cy);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f);
  myCalRectImageDeltaCentroid(f.data(), 0, 0, 160, 130, 160, 0, 1, &cx, &cy);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f);
  myCalcMultipleImageSubCentroids(f.data(), 160, 130, 160, 0, 0, 0, &cx, &cy, &bw, &bh);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f); EXPECT_EQ(bw, 0u); EXPECT_EQ(bh, 0u);
  bw = bh = 9;
  myCalcDeltaMultipleCentroids(f.data(), 160, 130, 160, 0, 1, &cx, &cy, &bw, &bh);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f); EXPECT_EQ(bw, 0u); EXPECT_EQ(bh, 0u);
  Mono16Frame g(20, 20);
  UInt32 background = 7;
  myCalculateImageSubCentroidClipped16Bit(g.pixels.data(), 0, 0, 20, 20, g.rowBytes(), &cx, &cy,
                                          &background, 20, 20);
  EXPECT_EQ(cx, -1.0f); EXPECT_EQ(cy, -1.0f); EXPECT_EQ(background, 0u);
}

TEST(Centroid, DeltaCentroidWeightsHorizontalContrastAtTheMidpoint) {
  Mono8Frame f(12, 8, 12, 10);
  f.at(7, 4) = 100;
  float cx = 0, cy = 0;
  // |p(c) - p(c + 2)| = 90 at c = 5 (counted at 6) and c = 7 (counted at 8).
  myCalRectImageDeltaCentroid(f.data(), 2, 1, 9, 6, 12, 0, 1, &cx, &cy);
  EXPECT_FLOAT_EQ(cx, 7.0f);
  EXPECT_FLOAT_EQ(cy, 4.0f);
  // The threshold is strict.
  myCalRectImageDeltaCentroid(f.data(), 2, 1, 9, 6, 12, 90, 1, &cx, &cy);
  EXPECT_EQ(cx, -1.0f);
  // No pair fits in a rectangle not wider than 2d.
  myCalRectImageDeltaCentroid(f.data(), 6, 1, 2, 6, 12, 0, 1, &cx, &cy);
  EXPECT_EQ(cx, -1.0f);
  EXPECT_EQ(cy, -1.0f);
  myCalRectImageDeltaCentroid(f.data(), 3, 1, 8, 6, 12, 0, 4, &cx, &cy);
  EXPECT_EQ(cx, -1.0f);
}

// Three point stars; the sub-image search weighs p - 0 and the delta search
// 2p at the star's column (both neighbours are black), so both searches see
// the weights 2 : 1 : 1.
//   whole frame: (147000 / 400, 118000 / 400) = (367.5, 295)
//   round 1 (half 320 x 240): box [47, 640) x [55, 480) holds A and C:
//     (143000 / 300, 114000 / 300) = (476.67, 380), moved: accepted
//   round 2 (half 160 x 120): box [316, 640) x [260, 480) holds A only:
//     (560, 420), moved: accepted
//   round 3: 480 >> 3 = 60 is not above 64, so the search ends.
TEST(CoarseToFine, Frame640x480RunsTwoRefiningRoundsAndReportsTheLastBox) {
  Mono8Frame f(640, 480, 640, 0);
  f.at(560, 420) = 200;
  f.at(40, 40) = 100;
  f.at(310, 300) = 100;
  float cx = 0, cy = 0;
  UInt32 bw = 0, bh = 0;
  myCalcMultipleImageSubCentroids(f.data(), 640, 480, 640, 0, 0, 0, &cx, &cy, &bw, &bh);
  EXPECT_FLOAT_EQ(cx, 560.0f);
  EXPECT_FLOAT_EQ(cy, 420.0f);
  EXPECT_EQ(bw, 160u);
  EXPECT_EQ(bh, 120u);
  myCalcDeltaMultipleCentroids(f.data(), 640, 480, 640, 0, 1, &cx, &cy, &bw, &bh);
  EXPECT_FLOAT_EQ(cx, 560.0f);
  EXPECT_FLOAT_EQ(cy, 420.0f);
  EXPECT_EQ(bw, 160u);
  EXPECT_EQ(bh, 120u);

  // Without C the first round already lands on A and the second does not
  // move it: the box of round 1 is reported.
  f.at(310, 300) = 0;
  myCalcMultipleImageSubCentroids(f.data(), 640, 480, 640, 0, 0, 0, &cx, &cy, &bw, &bh);
  EXPECT_FLOAT_EQ(cx, 560.0f);
  EXPECT_FLOAT_EQ(cy, 420.0f);
  EXPECT_EQ(bw, 320u);
  EXPECT_EQ(bh, 240u);
}

TEST(CoarseToFine, Frame128x128RunsNoRefiningRound) {
  Mono8Frame f(128, 128, 128, 0);
  f.at(100, 100) = 200;
  f.at(20, 20) = 50;
  float cx = 0, cy = 0;
  UInt32 bw = 0, bh = 0;
  myCalcMultipleImageSubCentroids(f.data(), 128, 128, 128, 0, 0, 0, &cx, &cy, &bw, &bh);
  // (200 x 100 + 50 x 20) / 250 = 84: a smaller box would move it, but none runs.
  EXPECT_FLOAT_EQ(cx, 84.0f);
  EXPECT_FLOAT_EQ(cy, 84.0f);
  EXPECT_EQ(bw, 128u);
  EXPECT_EQ(bh, 128u);
  myCalcDeltaMultipleCentroids(f.data(), 128, 128, 128, 0, 1, &cx, &cy, &bw, &bh);
  EXPECT_FLOAT_EQ(cx, 84.0f);
  EXPECT_EQ(bw, 128u);
}

TEST(CoarseToFine, CentroidLeftOfColumnOneCountsAsNothingFound) {
  Mono8Frame f(200, 150, 200, 0);
  f.at(0, 70) = 100;
  f.at(1, 70) = 100;  // centroid at x = 0.5
  float cx = 0, cy = 0;
  UInt32 bw = 5, bh = 5;
  myCalcMultipleImageSubCentroids(f.data(), 200, 150, 200, 0, 0, 0, &cx, &cy, &bw, &bh);
  EXPECT_EQ(cx, -1.0f);
  EXPECT_EQ(cy, -1.0f);
  EXPECT_EQ(bw, 0u);
  EXPECT_EQ(bh, 0u);
}

TEST(RectRange, ContrastOf31IsNoneAnd32GivesTheLevel) {
  struct Case { UInt8 top; UInt32 level; };
  // 4 x 4 of 10 with one brighter pixel; mean = trunc((150 + top) / 16).
  const Case cases[] = {{41, 0xFFFFFFFFu}, {42, 12 + (42 - 12) / 2}, {10, 0xFFFFFFFFu},
                        {250, 25 + (250 - 25) / 2}};
  for (const Case& c : cases) {
    Mono8Frame f(8, 8, 9, 10);
    f.at(0, 0) = 255;  // outside the rectangle
    f.at(4, 5) = c.top;
    UInt32 level = 0;
    myCalcRectRange(f.data(), 2, 3, 4, 4, f.rowBytes, &level);
    EXPECT_EQ(level, c.level) << int(c.top);
  }
}

namespace {
// Background alternating 1000 / 1001 and a 2 x 2 star of 20000 whose top-left
// pixel is (sx, sy): centroid (sx + 0.5, sy + 0.5).
Mono16Frame starField16(UInt32 w, UInt32 h, UInt32 sx, UInt32 sy) {
  Mono16Frame f(w, h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) f.at(x, y) = UInt16(1000 + ((x + y) & 1));
  for (UInt32 y = sy; y < sy + 2; ++y)
    for (UInt32 x = sx; x < sx + 2; ++x) f.at(x, y) = 20000;
  return f;
}
}  // namespace

TEST(Centroid16Bit, StarCentroidAndInBandBackground) {
  Mono16Frame f = starField16(40, 40, 19, 19);
  float cx = 0, cy = 0;
  UInt32 background = 0;
  myCalculateImageSubCentroidClipped16Bit(f.pixels.data(), 12, 12, 16, 16, f.rowBytes(), &cx, &cy,
                                          &background, 40, 40);
  EXPECT_FLOAT_EQ(cx, 19.5f);
  EXPECT_FLOAT_EQ(cy, 19.5f);
  // The star lies far above mean + one deviation; the in-band pixels are the
  // background's 1000s and 1001s, whose mean truncates to 1000.
  EXPECT_EQ(background, 1000u);
}

// A star near the far corner of its rectangle on a sky rising to the right
// and downwards: the re-centred box reaches past the rectangle into the rest
// of the image, and the sky level must come from that whole box.
//   sky 1000 + x + 2y on a 48 x 48 image, a 3 x 3 star of 20000 on columns
//   and rows 27..29; rectangle 16 x 16 at (16, 16).
//   The clip level (about 5228) lies between sky (at most 1093 here) and
//   star, so the nine star pixels weigh alike: centroid (28, 28).
//   Re-centred box: columns and rows 20..35. Its mean is about 1747 and its
//   deviation about 3480, so every sky pixel is in the band and no star pixel:
//   sky sum over the box = 256 x 1000 + 16 x 440 + 2 x 16 x 440 = 277120,
//   less the sky under the star 9 x 1000 + 3 x 84 + 2 x 3 x 84 = 9756,
//   gives 267364 / 247 = 1082.4, background 1082. (A box cut off at the
//   rectangle's far edges, columns and rows 20..31, would give 1076.)
TEST(Centroid16Bit, OffCentreStarOnASlopedSkyTakesTheSkyOfTheWholeRecentredBox) {
  Mono16Frame f(48, 48);
  for (UInt32 y = 0; y < 48; ++y)
    for (UInt32 x = 0; x < 48; ++x) f.at(x, y) = UInt16(1000 + x + 2 * y);
  for (UInt32 y = 27; y < 30; ++y)
    for (UInt32 x = 27; x < 30; ++x) f.at(x, y) = 20000;
  float cx = 0, cy = 0;
  UInt32 background = 0;
  myCalculateImageSubCentroidClipped16Bit(f.pixels.data(), 16, 16, 16, 16, f.rowBytes(), &cx, &cy,
                                          &background, 48, 48);
  EXPECT_EQ(cx, 28.0f);
  EXPECT_EQ(cy, 28.0f);
  EXPECT_EQ(background, 1082u);
}

// Stars in the corners of exactly sized buffers: the re-centred box would
// start at -8 or end 7 pixels past the image, and is clipped instead.
TEST(Centroid16Bit, RecentredBoxStaysInsideTheImageAtEveryCorner) {
  struct Case { UInt32 sx, sy, rx, ry; };
  const Case cases[] = {{0, 0, 0, 0}, {38, 0, 24, 0}, {0, 38, 0, 24}, {38, 38, 24, 24}};
  for (const Case& c : cases) {
    Mono16Frame f = starField16(40, 40, c.sx, c.sy);
    float cx = 0, cy = 0;
    UInt32 background = 0;
    myCalculateImageSubCentroidClipped16Bit(f.pixels.data(), c.rx, c.ry, 16, 16, f.rowBytes(), &cx,
                                            &cy, &background, 40, 40);
    EXPECT_FLOAT_EQ(cx, c.sx + 0.5f) << c.sx << "," << c.sy;
    EXPECT_FLOAT_EQ(cy, c.sy + 0.5f);
    EXPECT_EQ(background, 1000u);
  }
}

TEST(Centroid16Bit, MeanExcessOfTenCountsAPixelOrLessFindsNothing) {
  // One raised pixel in a flat 16 x 16 rectangle of 1000: its excess over the
  // clip level is about 0.93 of its rise, against 10 x 256 = 2560 needed.
  struct Case { UInt16 peak; bool found; };
  const Case cases[] = {{3000, false}, {5000, true}, {1000, false}};
  for (const Case& c : cases) {
    Mono16Frame f(16, 16);
    for (auto& p : f.pixels) p = 1000;
    f.at(9, 6) = c.peak;
    float cx = 0, cy = 0;
    UInt32 background = 5;
    myCalculateImageSubCentroidClipped16Bit(f.pixels.data(), 0, 0, 16, 16, f.rowBytes(), &cx, &cy,
                                            &background, 16, 16);
    if (c.found) {
      EXPECT_FLOAT_EQ(cx, 9.0f);
      EXPECT_FLOAT_EQ(cy, 6.0f);
      EXPECT_EQ(background, 1000u);
    } else {
      EXPECT_EQ(cx, -1.0f) << c.peak;
      EXPECT_EQ(cy, -1.0f);
      EXPECT_EQ(background, 0u);
    }
  }
  // A single pixel has no spread (n - 1 = 0): nothing, and no undefined maths.
  Mono16Frame one(1, 1);
  one.at(0, 0) = 60000;
  float cx = 0, cy = 0;
  UInt32 background = 5;
  myCalculateImageSubCentroidClipped16Bit(one.pixels.data(), 0, 0, 1, 1, 2, &cx, &cy, &background,
                                          1, 1);
  EXPECT_EQ(cx, -1.0f);
  EXPECT_EQ(background, 0u);
}

namespace {

// The plain definition: per-row integer sums into single-precision totals,
// then moment x (1 / weight). `weightAt(col, row)` returns the weight and the
// column it counts at.
template <typename WeightAt>
std::pair<float, float> plainCentroid(UInt32 cols, UInt32 y, UInt32 height, WeightAt weightAt,
                                      bool integerWeight) {
  float W = 0, X = 0, Y = 0;
  UInt64 wInt = 0;
  for (UInt32 r = y; r < y + height; ++r) {
    UInt64 rw = 0, rx = 0;
    for (UInt32 i = 0; i < cols; ++i) {
      const auto [w, col] = weightAt(i, r);
      rw += w;
      rx += UInt64(w) * col;
    }
    wInt += rw;
    W += float(rw);
    X += float(rx);
    Y += float(rw * r);
  }
  if (integerWeight) W = float(wInt);
  if (!(W > 0)) return {-1.0f, -1.0f};
  return {X * (1.0f / W), Y * (1.0f / W)};
}

}  // namespace

// Wide rows run in groups of 16; widths around the group size, odd origins and
// outliers in the first and last column must give the plain sums exactly.
TEST(Centroid, GroupedSumsEqualThePlainDefinition) {
  const UInt32 RB = 700, H = 40;
  std::vector<UInt8> f(size_t(RB) * H);
  UInt32 s = 17;
  for (auto& p : f) {
    s = s * 1664525u + 1013904223u;
    p = UInt8((s >> 24) & 0x3F);
  }
  for (UInt32 width : {15u, 16u, 17u, 31u, 263u, 640u}) {
    const UInt32 x = 3, y = 2, h = 31;
    f[size_t(y + 5) * RB + x] = 255;
    f[size_t(y + 7) * RB + x + width - 1] = 250;
    const UInt8* row0 = f.data();
    auto px = [&](UInt32 c, UInt32 r) { return UInt32(row0[size_t(r) * RB + c]); };
    for (UInt32 level : {0u, 20u, 62u, 254u}) {
      float cx, cy;
      myCalcRectCentroid(f.data(), x, y, width, h, RB, level, &cx, &cy);
      auto e = plainCentroid(width, y, h, [&](UInt32 i, UInt32 r) {
        const UInt32 p = px(x + i, r);
        return std::pair<UInt32, UInt64>(p >= level ? p : 0, x + i);
      }, true);
      EXPECT_EQ(cx, e.first) << width << " " << level;
      EXPECT_EQ(cy, e.second);

      myCalculateImageSubCentroidClipped(f.data(), x, y, width, h, RB, UInt8(level), &cx, &cy);
      e = plainCentroid(width, y, h, [&](UInt32 i, UInt32 r) {
        const UInt32 p = px(x + i, r);
        return std::pair<UInt32, UInt64>(p > level ? p - level : 0, x + i);
      }, false);
      EXPECT_EQ(cx, e.first) << width << " " << level;
      EXPECT_EQ(cy, e.second);

      for (UInt32 d : {1u, 3u}) {
        if (width <= 2 * d) continue;
        myCalRectImageDeltaCentroid(f.data(), x, y, width, h, RB, level, d, &cx, &cy);
        e = plainCentroid(width - 2 * d, y, h, [&](UInt32 i, UInt32 r) {
          const int D = std::abs(int(px(x + i, r)) - int(px(x + i + 2 * d, r)));
          return std::pair<UInt32, UInt64>(UInt32(D) > level ? UInt32(D) : 0, x + i + d);
        }, false);
        EXPECT_EQ(cx, e.first) << width << " " << level << " d " << d;
        EXPECT_EQ(cy, e.second);
      }
    }
  }
}

// Here the vector-named sub-image centroid gives the plain result: the last
// width mod 16 columns count, and a threshold of 0 stays 0.
TEST(Centroid, VectorNamedSubCentroidGivesThePlainResult) {
  alignas(16) UInt8 img[4 * 32] = {};
  img[1 * 32 + 18] = 40;  // column 18 of a 20-pixel-wide image
  img[2 * 32 + 2] = 1;    // counts with threshold 0
  float cx = 0, cy = 0;
  myAltivecCalculateImageSubCentroid(img, 20, 4, 32, 0, 0, &cx, &cy);
  EXPECT_FLOAT_EQ(cx, (40.0f * 18 + 2.0f) / 41.0f);
  EXPECT_FLOAT_EQ(cy, (40.0f * 1 + 1.0f * 2) / 41.0f);
  float px = 0, py = 0;
  myCalcImageSubCentroid(img, 20, 4, 32, 0, 1, 0, &px, &py);
  EXPECT_EQ(px, cx);
  EXPECT_EQ(py, cy);
}

TEST(Centroid16Bit, RectangleOutsideAGivenImageIsRefusedUnread) {
  Mono16Frame f = starField16(20, 20, 9, 9);
  float cx = 0, cy = 0;
  UInt32 background = 3;
  // The image is said to be 12 x 20: the 16-wide rectangle does not fit.
  myCalculateImageSubCentroidClipped16Bit(f.pixels.data(), 2, 2, 16, 16, f.rowBytes(), &cx, &cy,
                                          &background, 12, 20);
  EXPECT_EQ(cx, -1.0f);
  EXPECT_EQ(cy, -1.0f);
  EXPECT_EQ(background, 0u);
}
