#include <gtest/gtest.h>

#include <vector>

#include "pixel/FrameNoise.h"

TEST(SparseNoise, LineTriples) {
  struct Case { UInt8 p, r, b; UInt32 threshold, sum, count; };
  const Case cases[] = {
      {100, 101, 102, 50, 1, 1},   // (101 + 102) / 2 = 101
      {100, 101, 101, 50, 1, 1},
      {200, 0, 0, 50, 200, 1},
      {50, 0, 0, 50, 0, 0},        // not above the threshold
      {0, 255, 255, 255, 0, 0},
  };
  for (const Case& c : cases) {
    UInt32 sum = 9, count = 9;
    myAltivecNxNCalculateSparseLineNoise(&c.p, &c.r, &c.b, 1, c.threshold, 0, &sum, &count);
    EXPECT_EQ(sum, c.sum) << int(c.p) << " " << int(c.r) << " " << int(c.b);
    EXPECT_EQ(count, c.count);
  }
}

// A 40 x 40 area reaching the right and bottom edges of an exactly sized
// 45 x 45 frame; background 10 under the threshold 50.
TEST(SparseNoise, AreaFigureAndItsLimits) {
  const UInt32 W = 45, H = 45;
  std::vector<UInt8> f(W * H, 10);
  auto at = [&](UInt32 x, UInt32 y) -> UInt8& { return f[y * W + x]; };
  at(10, 10) = 200;  // neighbours 10 and 10: adds 190
  at(20, 12) = 150;  // adds 140
  at(15, 15) = 50;   // at the threshold: not counted
  at(40, 15) = 200;  // beyond the first cols = 32 columns: not counted
  at(12, 40) = 200;  // beyond the first rows = 32 rows: not counted
  for (UInt8 altivec : {0, 1}) {
    double figure = -1;
    mySIMDNxNCalculateSparseFrameNoise(f.data(), nullptr, 5, 5, 45, 45, W, 50, 8, 0, altivec, &figure);
    EXPECT_EQ(figure, (190.0 + 140.0) / 2.0);
  }
  struct Case { UInt32 threshold, N; };
  const Case zero[] = {{50, 25}, {50, 0}, {250, 8}, {50, 24}};
  for (const Case& c : zero) {
    double figure = -1;
    mySIMDNxNCalculateSparseFrameNoise(f.data(), nullptr, 5, 5, 45, 45, W, c.threshold, c.N, 0, 0,
                                       &figure);
    if (c.N == 24)
      EXPECT_EQ(figure, 165.0);  // 16 x 16 pixels: column 20 is the last counted
    else
      EXPECT_EQ(figure, 0.0) << c.threshold << " " << c.N;
  }
  double figure = -1;
  mySIMDNxNCalculateSparseFrameNoise(f.data(), nullptr, 30, 30, 20, 20, W, 0, 1, 0, 0, &figure);
  EXPECT_EQ(figure, 0.0);  // an inverted area measures nothing
}

TEST(ExpandInPlace, Table) {
  struct Case { SInt32 low, high; UInt8 in, out; };
  const Case cases[] = {
      {10, 10, 200, 200}, {10, 10, 5, 5},    {30, 20, 25, 25},   // nothing happens
      {0, 255, 254, 254}, {0, 255, 255, 255}, {0, 255, 0, 0},   {0, 255, 128, 128},
      // factor 255 / 200 = 83558 / 65536: 50 x 83558 = 4177900 -> 63
      {20, 220, 20, 0},   {20, 220, 10, 0},   {20, 220, 220, 255}, {20, 220, 230, 255},
      {20, 220, 70, 63},  {20, 220, 120, 127},
      // factor 255 / 256 = 65280: 255 -> 0x00FE6700, written as 255; 254 -> 253
      {0, 256, 255, 255}, {0, 256, 254, 253},
  };
  for (const Case& c : cases) {
    UInt8 px[3] = {c.in, 99, 99};  // one pixel, then padding the call must not touch
    myExpandMono8InPlace(px, 1, 1, 3, c.low, c.high);
    EXPECT_EQ(px[0], c.out) << c.low << " " << c.high << " " << int(c.in);
    EXPECT_EQ(px[1], 99);
  }
}

TEST(GaussianBlur, UniformImpulseAndBorders) {
  for (UInt8 level : {0, 77, 255}) {
    std::vector<UInt8> src(6 * 5, level), dst(6 * 5, 1);
    my3by3GaussianBlurMono8(src.data(), dst.data(), 6, 5, 6);
    EXPECT_EQ(dst, src) << int(level);
  }
  // An impulse of 160 gives the kernel times 10.
  const UInt32 W = 7, H = 7;
  std::vector<UInt8> src(W * H, 0), dst(W * H, 1);
  src[3 * W + 3] = 160;
  my3by3GaussianBlurMono8(src.data(), dst.data(), W, H, W);
  const UInt8 kernel[3][3] = {{10, 20, 10}, {20, 40, 20}, {10, 20, 10}};
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) {
      const bool near = x >= 2 && x <= 4 && y >= 2 && y <= 4;
      EXPECT_EQ(dst[y * W + x], near ? kernel[y - 2][x - 2] : 0) << x << "," << y;
    }
  // Border rows and columns are copies of the source.
  std::vector<UInt8> tex(W * H);
  for (UInt32 k = 0; k < tex.size(); ++k) tex[k] = UInt8(k * 53 + 11);
  my3by3GaussianBlurMono8(tex.data(), dst.data(), W, H, W);
  for (UInt32 k = 0; k < W; ++k) {
    EXPECT_EQ(dst[k], tex[k]);
    EXPECT_EQ(dst[(H - 1) * W + k], tex[(H - 1) * W + k]);
    EXPECT_EQ(dst[k * W], tex[k * W]);
    EXPECT_EQ(dst[k * W + W - 1], tex[k * W + W - 1]);
  }
  // Frames with no inner pixel are copied, within exactly sized buffers.
  for (auto [w, h] : {std::pair<UInt32, UInt32>{1, 1}, {2, 2}, {3, 1}, {1, 3}, {2, 5}}) {
    std::vector<UInt8> s(w * h), d(w * h, 0);
    for (UInt32 k = 0; k < s.size(); ++k) s[k] = UInt8(k + 1);
    my3by3GaussianBlurMono8(s.data(), d.data(), w, h, w);
    EXPECT_EQ(d, s) << w << "x" << h;
  }
}

TEST(SharpenThreshold, Table) {
  struct Case { UInt8 s, g; double amount; SInt32 threshold; UInt8 out; };
  const Case cases[] = {
      {120, 100, 1.0, 5, 140}, {102, 100, 1.0, 5, 100}, {250, 200, 1.0, 5, 255},
      {10, 40, 1.0, 5, 0},     {105, 100, 1.0, 5, 100}, {106, 100, 1.0, 5, 112},
      {90, 100, 0.5, 5, 85},   {93, 100, 0.5, 5, 90},   // -3.5 truncates towards 0
      {100, 120, 1.0, 0, 100}, {100, 100, 8.0, 0, 100}, // at or below the blur: kept
      {110, 108, 8.0, 0, 126}, {120, 100, 8.0, 0, 255}, {101, 100, 0.5, 0, 101},
      {200, 0, 1e30, 5, 255},  {0, 200, 1e30, 5, 0},    // saturated products
  };
  for (const Case& c : cases) {
    UInt8 out = 7;
    my3x3SharpenFilterThresholdMono8(&c.s, &c.g, &out, 1, 1, 1, c.amount, c.threshold);
    EXPECT_EQ(out, c.out) << int(c.s) << " " << int(c.g) << " " << c.amount << " " << c.threshold;
  }
}
