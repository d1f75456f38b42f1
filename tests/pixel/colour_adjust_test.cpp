#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pixel/ColourAdjust.h"
#include "pixel/RowBands.h"

namespace {
struct Pixel { UInt16 r, g, b; };

std::vector<UInt16> image(std::initializer_list<Pixel> pixels) {
  std::vector<UInt16> v;
  for (const Pixel& p : pixels) v.insert(v.end(), {p.r, p.g, p.b});
  v.push_back(0xEEEE);  // guard after the last pixel
  return v;
}

std::vector<UInt16> randomImage(size_t pixels, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, 65535);
  std::vector<UInt16> v(pixels * 3);
  for (auto& s : v) s = UInt16(d(rng));
  return v;
}
}  // namespace

TEST(ColourAdjust, SaturationTable) {
  struct Case { double amount; Pixel in, want; };
  const Case cases[] = {
      {1.0, {30000, 20000, 10000}, {45000, 20000, 0}},
      {-1.0, {30000, 20000, 10000}, {15000, 20000, 25000}},  // mean of the other two
      {7.0, {1000, 1000, 2000}, {0, 0, 9000}},               // a = 8, b = -3.5
      {100.0, {1000, 1000, 2000}, {0, 0, 9000}},             // clamped to 7
      {-2.0, {30000, 20000, 10000}, {0, 20000, 40000}},      // a = -1, b = 1
      {-5.0, {30000, 20000, 10000}, {0, 20000, 40000}},      // clamped to -2
      {0.5, {65535, 0, 0}, {65535, 0, 0}},                   // 98302.5 and -16383.75
  };
  for (const Case& c : cases) {
    std::vector<UInt16> img = image({c.in, c.in});
    myAltivecChangeSaturationRGB48(img.data(), 2, 1, c.amount, 0);
    for (int p = 0; p < 2; ++p) {
      EXPECT_EQ(img[3 * p], c.want.r) << c.amount;
      EXPECT_EQ(img[3 * p + 1], c.want.g) << c.amount;
      EXPECT_EQ(img[3 * p + 2], c.want.b) << c.amount;
    }
    EXPECT_EQ(img[6], 0xEEEE);
  }
  for (double amount : {0.0, double(NAN)}) {
    const std::vector<UInt16> original = randomImage(700 * 500, 2);
    std::vector<UInt16> img = original;
    myAltivecChangeSaturationRGB48(img.data(), 700, 500, amount, 0);
    EXPECT_EQ(img, original) << amount;
  }
}

TEST(ColourAdjust, ColourBalanceTable) {
  std::vector<UInt16> img = image({{40000, 40000, 40000}, {40001, 20000, 5000}, {3, 65535, 1}});
  myAltivecChangeColorBalanceRGB48G(img.data(), 3, 1, 2.0f, 1.0f, 0.5f, 0);
  const UInt16 want[] = {65535, 40000, 20000, 65535, 20000, 2500, 6, 65535, 0, 0xEEEE};
  EXPECT_EQ(img, std::vector<UInt16>(want, want + 10));
  img = image({{40001, 20000, 5000}});
  myAltivecChangeColorBalanceRGB48G(img.data(), 1, 1, 0.5f, 1.5f, 0.0f, 0);
  EXPECT_EQ(img, (std::vector<UInt16>{20000, 30000, 0, 0xEEEE}));

  const std::vector<UInt16> original = randomImage(600 * 600, 4);
  img = original;
  myAltivecChangeColorBalanceRGB48G(img.data(), 600, 600, 1.0f, 1.0f, 1.0f, 0);
  EXPECT_EQ(img, original);
}

TEST(ColourAdjust, StretchTable) {
  struct Case { double curve; UInt32 black; UInt16 in, want; };
  const Case cases[] = {
      {2, 1000, 0, 0},          {2, 1000, 1000, 0},       {2, 1000, 1001, 1},
      {2, 1000, 33268, 32768},  {2, 1000, 65535, 65535},  {1, 0, 0, 0},
      {1, 0, 4096, 16383},      {1, 0, 16384, 32767},     {1, 0, 65535, 65535},
      {2, 65535, 65535, 0},     {2, 70000, 65535, 0},
      {4, 0, 32768, 16384},  // (32768 / 65535)^2 x 65535 = 16384.25
  };
  for (const Case& c : cases) {
    UInt16 s[3] = {c.in, c.in, 0xEEEE};
    myNonLinearStretch16BitBuffer(s, 1, 2, c.curve, c.black);
    EXPECT_EQ(s[0], c.want) << c.curve << " " << c.black << " " << c.in;
    EXPECT_EQ(s[1], c.want);
    EXPECT_EQ(s[2], 0xEEEE);
    s[0] = c.in;
    myAltivecNonLinearStretch16BitBuffer(s, 1, 1, c.curve, c.black, 0);
    EXPECT_EQ(s[0], c.want) << "vector-named form";
  }
}

// A large image takes the table; each sample must get what the sample alone
// would.
TEST(ColourAdjust, LargeStretchMatchesSampleBySample) {
  const UInt32 w = 3 * 700, h = 300;
  std::vector<UInt16> img = randomImage(w * h / 3, 6);
  std::vector<UInt16> one = img;
  myNonLinearStretch16BitBuffer(img.data(), w, h, 1.3, 2500);
  for (size_t i = 0; i < one.size(); i += 97) {
    myNonLinearStretch16BitBuffer(&one[i], 1, 1, 1.3, 2500);
    ASSERT_EQ(img[i], one[i]) << i;
  }
}

TEST(ColourAdjust, ExpandTable) {
  std::vector<UInt16> img = image({{500, 0, 7}, {1000, 1, 100}, {1500, 65535, 200},
                                   {2000, 12345, 300}, {3000, 0, 400}, {4000, 0, 65535}});
  // Red 1000 .. 3000; green the full range; blue with equal limits 200.
  myAltivecExpandRGB48(img.data(), 3, 2, 1000, 3000, 0, 65535, 200, 200, 0);
  const UInt16 red[] = {0, 0, 16383, 32767, 65535, 65535};
  const UInt16 green[] = {0, 1, 65535, 12345, 0, 0};
  const UInt16 blue[] = {0, 0, 0, 100, 200, 65335};
  for (int p = 0; p < 6; ++p) {
    EXPECT_EQ(img[3 * p], red[p]) << p;
    EXPECT_EQ(img[3 * p + 1], green[p]) << p;
    EXPECT_EQ(img[3 * p + 2], blue[p]) << p;
  }
  EXPECT_EQ(img[18], 0xEEEE);
}

TEST(ColourAdjust, ThreadedBandsGiveTheSameAsOneThread) {
  const std::vector<UInt16> original = randomImage(640 * 480, 8);
  std::vector<UInt16> results[2];
  for (int run = 0; run < 2; ++run) {
    mySetRowBandThreadLimit(run == 0 ? 1 : 0);
    std::vector<UInt16> img = original;
    myAltivecChangeSaturationRGB48(img.data(), 640, 480, 0.7, 0);
    myAltivecChangeColorBalanceRGB48G(img.data(), 640, 480, 1.1f, 0.9f, 1.3f, 0);
    myNonLinearStretch16BitBuffer(img.data(), 640 * 3, 480, 1.6, 300);
    myAltivecExpandRGB48(img.data(), 640, 480, 100, 60000, 200, 50000, 0, 65535, 0);
    results[run] = img;
  }
  mySetRowBandThreadLimit(0);
  EXPECT_EQ(results[0], results[1]);
}

// The single-precision fused formulas, written out with std::fma.
namespace {
UInt16 clampTrunc(float v) { return v >= 65535.0f ? 65535 : (v > 0.0f ? UInt16(v) : 0); }
}  // namespace

TEST(ColourAdjust, SaturationAndExpandFollowTheFusedFormulaForAnyAmount) {
  const std::vector<UInt16> original = randomImage(300 * 200, 12);
  for (double amount : {0.001, 0.37, -0.6, 3.3, -0.99999, 1e-6, -1e-7, 7.0, -2.0}) {
    std::vector<UInt16> img = original;
    myAltivecChangeSaturationRGB48(img.data(), 300, 200, amount, 0);
    const float a = float(1.0 + amount), b = float(-amount / 2.0);
    for (size_t i = 0; i < original.size(); i += 3) {
      const float r = original[i], g = original[i + 1], bl = original[i + 2];
      ASSERT_EQ(img[i], clampTrunc(std::fma(a, r, b * (g + bl)))) << amount << " " << i;
      ASSERT_EQ(img[i + 1], clampTrunc(std::fma(a, g, b * (r + bl)))) << amount << " " << i;
      ASSERT_EQ(img[i + 2], clampTrunc(std::fma(a, bl, b * (r + g)))) << amount << " " << i;
    }
  }
  const UInt32 limits[][2] = {{1000, 3000}, {0, 65535}, {7, 64000}, {33333, 33334},
                              {5, 5}, {40000, 70000000}, {3000000000u, 3000000001u}};
  for (const auto& l : limits) {
    std::vector<UInt16> img = original;
    myAltivecExpandRGB48(img.data(), 300, 200, l[0], l[1], l[0], l[1], 0, 65535, 0);
    const float k = l[0] == l[1] ? 1.0f : float(65535.0 / (double(l[1]) - double(l[0])));
    const float offset = -(k * float(l[0]));
    for (size_t i = 0; i < original.size(); i += 3) {
      ASSERT_EQ(img[i], clampTrunc(std::fma(k, float(original[i]), offset))) << l[0] << " " << i;
      ASSERT_EQ(img[i + 1], clampTrunc(std::fma(k, float(original[i + 1]), offset)));
      ASSERT_EQ(img[i + 2], original[i + 2]);
    }
  }
}
