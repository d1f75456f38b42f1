#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "pixel/HotPixels.h"

namespace {

// Straight transcriptions of the repair rules, one sample at a time in scan
// order, to hold the fast routines against on larger frames.
template <typename T>
void referenceMono(T* f, size_t xs, size_t ys, UInt32 w, UInt32 h, UInt32 t) {
  auto d = [t](UInt32 a, UInt32 c) { return UInt32(std::abs(int(a) - int(c))) > t; };
  for (UInt32 y = 1; y + 1 < h; ++y)
    for (UInt32 x = 1; x + 1 < w; ++x) {
      T* p = f + y * ys + x * xs;
      const UInt32 c = *p;
      UInt32 sum = 0;
      bool all = true;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const UInt32 n = p[dy * std::ptrdiff_t(ys) + dx * std::ptrdiff_t(xs)];
          sum += n;
          all = all && d(n, c);
        }
      if (all && d(sum >> 3, c)) *p = T(sum >> 3);
    }
}

template <typename T>
void referenceBayer(T* f, UInt32 w, UInt32 h, UInt32 t) {
  auto d = [t](UInt32 a, UInt32 c) { return UInt32(std::abs(int(a) - int(c))) > t; };
  for (UInt32 y = 1; y + 1 < h; ++y)
    for (UInt32 x = 2; x + 2 < w; ++x) {
      T* p = f + size_t(y) * w + x;
      const UInt32 c = *p;
      bool all = d(p[-2], c) && d(p[2], c);
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (dx || dy) all = all && d(p[dy * int(w) + dx], c);
      if (all) *p = T((UInt32(p[-2]) + p[2]) >> 1);
    }
}

// Flat field with a sprinkling of hot and cold samples, some in pairs and
// some on the edges.
template <typename T>
std::vector<T> speckled(UInt32 w, UInt32 h, UInt32 seed, UInt32 scale) {
  std::vector<T> v(size_t(w) * h);
  for (auto& p : v) {
    seed = seed * 1103515245u + 12345u;
    const UInt32 r = (seed >> 16) & 0xFF;
    p = T((r < 12 ? 250 : r < 20 ? 2 : 90 + (r & 15)) * scale);
  }
  return v;
}

struct MonoCase {
  const char* what;
  UInt32 threshold;
  std::vector<UInt8> frame;  // 5 x 5
  std::vector<UInt8> expected;
};

TEST(HotPixels, MonoCasesAtBothDepths) {
  const std::vector<UInt8> flat(25, 10);
  auto with = [&](std::initializer_list<std::pair<int, UInt8>> set) {
    std::vector<UInt8> f = flat;
    for (auto [i, v] : set) f[i] = v;
    return f;
  };
  const MonoCase cases[] = {
      {"hot sample repaired", 100, with({{12, 255}}), flat},
      {"difference equal to threshold stays", 245, with({{12, 255}}), with({{12, 255}})},
      {"cold sample repaired", 5, with({{12, 0}}), flat},
      {"hot pair stays", 100, with({{12, 255}, {13, 250}}), with({{12, 255}, {13, 250}})},
      {"two-wide line stays", 100, with({{7, 200}, {8, 200}, {12, 200}, {13, 200}, {17, 200}, {18, 200}}),
       with({{7, 200}, {8, 200}, {12, 200}, {13, 200}, {17, 200}, {18, 200}})},
      {"edges never", 100, with({{2, 255}, {10, 255}, {14, 255}, {22, 255}}),
       with({{2, 255}, {10, 255}, {14, 255}, {22, 255}})},
      // The mean of the neighbours must differ too: 4 x 30 and 4 x 90 around 60.
      {"mean too close", 15,
       with({{6, 30}, {7, 30}, {8, 30}, {11, 30}, {12, 60}, {13, 90}, {16, 90}, {17, 90}, {18, 90}}),
       with({{6, 30}, {7, 30}, {8, 30}, {11, 30}, {12, 60}, {13, 90}, {16, 90}, {17, 90}, {18, 90}})},
  };
  for (const MonoCase& c : cases) {
    std::vector<UInt8> f8 = c.frame;
    myDoMonoHotPixel8Bit(f8.data(), 5, 5, c.threshold);
    EXPECT_EQ(f8, c.expected) << c.what;
    std::vector<UInt16> f16(25);
    std::transform(c.frame.begin(), c.frame.end(), f16.begin(), [](UInt8 v) { return UInt16(v * 256); });
    myDoMonoHotPixel16Bit(f16.data(), 5, 5, c.threshold * 256);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(f16[i], c.expected[i] * 256) << c.what << " at " << i;
  }
}

TEST(HotPixels, RepairedSamplesFeedTheirRightAndLowerNeighbours) {
  // (1, 1) = 250 is repaired to (7 x 10 + 130) >> 3 = 25 first. (2, 2) = 130
  // then sees the mean (25 + 7 x 10) >> 3 = 11 and is repaired too; with the
  // original 250 the mean would be 40, within the threshold of 130.
  std::vector<UInt8> f(25, 10);
  f[6] = 250;
  f[12] = 130;
  myDoMonoHotPixel8Bit(f.data(), 5, 5, 100);
  EXPECT_EQ(f[6], 25);
  EXPECT_EQ(f[12], 11);
}

TEST(HotPixels, WideFramesMatchTheRule) {
  UInt32 changed[4] = {};  // frames in which each routine repaired something
  for (UInt32 w : {3u, 4u, 9u, 17u, 18u, 19u, 33u, 64u, 67u}) {
    for (UInt32 t : {0u, 40u, 100u, 254u}) {
      std::vector<UInt8> a8 = speckled<UInt8>(w, 7, w * 31 + t, 1), b8 = a8;
      const std::vector<UInt8> original = a8;
      myDoMonoHotPixel8Bit(a8.data(), w, 7, t);
      referenceMono(b8.data(), 1, w, w, 7, t);
      ASSERT_EQ(a8, b8) << "mono8 w " << w << " t " << t;
      changed[0] += a8 != original;

      std::vector<UInt16> a16 = speckled<UInt16>(w, 7, w * 37 + t, 256), b16 = a16;
      myDoMonoHotPixel16Bit(a16.data(), w, 7, t * 256);
      referenceMono(b16.data(), 1, w, w, 7, t * 256);
      ASSERT_EQ(a16, b16) << "mono16 w " << w << " t " << t;
      changed[1] += a16 != speckled<UInt16>(w, 7, w * 37 + t, 256);

      a8 = speckled<UInt8>(w, 7, w * 41 + t, 1), b8 = a8;
      myDoBayerHotPixel8Bit(a8.data(), w, 7, t);
      referenceBayer(b8.data(), w, 7, t);
      ASSERT_EQ(a8, b8) << "bayer8 w " << w << " t " << t;
      changed[2] += a8 != speckled<UInt8>(w, 7, w * 41 + t, 1);

      a16 = speckled<UInt16>(w, 7, w * 43 + t, 256), b16 = a16;
      myDoBayerHotPixel16Bit(a16.data(), w, 7, t * 256);
      referenceBayer(b16.data(), w, 7, t * 256);
      ASSERT_EQ(a16, b16) << "bayer16 w " << w << " t " << t;
      changed[3] += a16 != speckled<UInt16>(w, 7, w * 43 + t, 256);
    }
  }
  for (UInt32 k = 0; k < 4; ++k) EXPECT_GT(changed[k], 12u) << "fixture " << k << " repairs too little";
}

TEST(HotPixels, MosaicTakesTheSameColourTwoColumnsAway) {
  const UInt32 w = 7, h = 3;
  std::vector<UInt8> f = {50, 50, 50, 50, 50, 50, 50,
                          50, 50, 40, 45, 250, 55, 60,
                          50, 50, 50, 50, 50, 50, 50};
  // Column 4 of row 1: L2 = 40, R2 = 60.
  f[1 * w + 4] = 250;
  f[1 * w + 2] = 40;
  f[1 * w + 6] = 60;
  std::vector<UInt8> expected = f;
  expected[1 * w + 4] = 50;
  myDoBayerHotPixel8Bit(f.data(), w, h, 100);
  EXPECT_EQ(f, expected);

  // Columns 1 and width - 2, and the first and last rows, are never repaired.
  std::vector<UInt8> g(7 * 4, 50);
  g[1 * 7 + 1] = 250;
  g[2 * 7 + 5] = 250;
  g[0 * 7 + 3] = 250;
  g[3 * 7 + 3] = 250;
  const std::vector<UInt8> g0 = g;
  myDoBayerHotPixel8Bit(g.data(), 7, 4, 100);
  EXPECT_EQ(g, g0);

  std::vector<UInt16> f16(f.size());
  for (size_t i = 0; i < f.size(); ++i) f16[i] = UInt16(f[i] * 256);
  f16[1 * w + 4] = 250 * 256;
  myDoBayerHotPixel16Bit(f16.data(), w, h, 100 * 256);
  EXPECT_EQ(f16[1 * w + 4], 50 * 256);
}

TEST(HotPixels, RGB48RepairsOnlyTheChannelThatStandsOut) {
  const UInt32 w = 4, h = 3, rowBytes = w * 6 + 4;  // padded rows
  std::vector<UInt16> f(rowBytes / 2 * h, 7);
  auto at = [&](UInt32 x, UInt32 y, UInt32 ch) -> UInt16& { return f[y * rowBytes / 2 + x * 3 + ch]; };
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) at(x, y, 0) = 1000, at(x, y, 1) = 2000, at(x, y, 2) = 3000;
  at(1, 1, 1) = 60000;
  at(2, 1, 0) = 1100;  // red stands out by less than the threshold
  std::vector<UInt16> expected = f;
  expected[1 * rowBytes / 2 + 1 * 3 + 1] = 2000;
  myDoRGB48HotPixel16Bit(f.data(), w, h, rowBytes, 23 * 256);
  EXPECT_EQ(f, expected);

  std::vector<UInt16> g(size_t(7) * 7 * 3);
  for (size_t i = 0; i < g.size(); ++i) g[i] = UInt16((i * 7919u) & 0xFFFF);
  std::vector<UInt16> ref = g;
  myDoRGB48HotPixel16Bit(g.data(), 7, 7, 7 * 6, 20000);
  for (UInt32 ch = 0; ch < 3; ++ch) referenceMono(ref.data() + ch, 3, 7 * 3, 7, 7, 20000);
  EXPECT_EQ(g, ref);
}

TEST(Binning, ConstantFramesIncludingTheLastRowsAndColumns) {
  struct Case {
    UInt32 block, value, depth, expected;
  };
  const Case cases[] = {
      {2, 100, 8, 255}, {2, 60, 8, 240},       {4, 10, 8, 160},       {4, 16, 8, 255},
      {2, 20000, 16, 65535}, {2, 1000, 16, 4000}, {4, 5000, 16, 65535}, {4, 1000, 16, 16000},
  };
  for (const Case& c : cases) {
    for (UInt32 w : {5u, 9u, 17u, 40u}) {
      const UInt32 h = 6;
      if (c.depth == 8) {
        std::vector<UInt8> f(w * h, UInt8(c.value));
        (c.block == 2 ? myBin2x2BufferMono8 : myBin4x4BufferMono8)(f.data(), w, h);
        EXPECT_TRUE(std::all_of(f.begin(), f.end(), [&](UInt8 v) { return v == c.expected; }))
            << c.block << "x" << c.block << " of " << c.value << " w " << w;
      } else {
        std::vector<UInt16> f(w * h, UInt16(c.value));
        (c.block == 2 ? myBin2x2BufferMono16 : myBin4x4BufferMono16)(f.data(), w, h);
        EXPECT_TRUE(std::all_of(f.begin(), f.end(), [&](UInt16 v) { return v == c.expected; }))
            << c.block << "x" << c.block << " of " << c.value << " w " << w;
      }
    }
  }
}

// Sums from the values before binning, on frames wide enough for the vector
// steps and their tails.
template <typename T>
std::vector<T> referenceBin(const std::vector<T>& in, UInt32 w, UInt32 h, UInt32 n) {
  const UInt32 maxv = T(~T(0));
  std::vector<T> out = in;
  for (UInt32 y = 0; y < h - (n == 2 ? 1 : 4); ++y) {
    const UInt32 lastX = w - (n == 2 ? 1 : 4);
    for (UInt32 x = 0; x < lastX; ++x) {
      UInt32 s = 0;
      for (UInt32 dy = 0; dy < n; ++dy)
        for (UInt32 dx = 0; dx < n; ++dx) s += in[(y + dy) * w + x + dx];
      out[y * w + x] = T(std::min(s, maxv));
    }
    for (UInt32 x = lastX; x < w; ++x) out[y * w + x] = out[y * w + lastX - 1];
  }
  const UInt32 src = h - (n == 2 ? 2 : 5);
  for (UInt32 y = src + 1; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) out[y * w + x] = out[src * w + x];
  return out;
}

TEST(Binning, NoisyFramesMatchSumsOfTheOriginalValues) {
  for (UInt32 w : {5u, 6u, 16u, 17u, 21u, 24u, 35u}) {
    const UInt32 h = 9;
    std::vector<UInt8> f8(w * h);
    std::vector<UInt16> f16(w * h);
    for (UInt32 i = 0; i < w * h; ++i) {
      f8[i] = UInt8((i * 37u) % 90);
      f16[i] = UInt16((i * 7919u) % 21000);
    }
    std::vector<UInt8> a = f8;
    myBin2x2BufferMono8(a.data(), w, h);
    EXPECT_EQ(a, referenceBin(f8, w, h, 2)) << w;
    a = f8;
    myBin4x4BufferMono8(a.data(), w, h);
    EXPECT_EQ(a, referenceBin(f8, w, h, 4)) << w;
    std::vector<UInt16> b = f16;
    myBin2x2BufferMono16(b.data(), w, h);
    EXPECT_EQ(b, referenceBin(f16, w, h, 2)) << w;
    b = f16;
    myBin4x4BufferMono16(b.data(), w, h);
    EXPECT_EQ(b, referenceBin(f16, w, h, 4)) << w;
  }
}

// Frames too small for a routine's neighbourhood come back unchanged; the
// vectors are exactly sized so the address sanitizer sees any stray access.
TEST(HotPixelsAndBinning, TinyFramesAreLeftAlone) {
  for (UInt32 w = 0; w <= 5; ++w)
    for (UInt32 h = 0; h <= 5; ++h) {
      std::vector<UInt8> f8(w * h, 200);
      if (!f8.empty()) f8[f8.size() / 2] = 0;
      std::vector<UInt16> f16(w * h, 200);
      const std::vector<UInt8> in8 = f8;
      const std::vector<UInt16> in16 = f16;
      myDoMonoHotPixel8Bit(f8.data(), w, h, 10);
      myDoMonoHotPixel16Bit(f16.data(), w, h, 10);
      if (w < 3 || h < 3) {
        EXPECT_EQ(f8, in8) << w << "x" << h;
      }
      f8 = in8;
      myDoBayerHotPixel8Bit(f8.data(), w, h, 10);
      myDoBayerHotPixel16Bit(f16.data(), w, h, 10);
      if (w < 5 || h < 3) {
        EXPECT_EQ(f8, in8) << w << "x" << h;
      }
      std::vector<UInt16> rgb(size_t(w) * h * 3, 9);
      myDoRGB48HotPixel16Bit(rgb.data(), w, h, w * 6, 1);
      f8 = in8;
      myBin2x2BufferMono8(f8.data(), w, h);
      if (w < 2 || h < 2) {
        EXPECT_EQ(f8, in8) << w << "x" << h;
      }
      f8 = in8;
      myBin4x4BufferMono8(f8.data(), w, h);
      if (w < 5 || h < 5) {
        EXPECT_EQ(f8, in8) << w << "x" << h;
      }
      myBin2x2BufferMono16(f16.data(), w, h);
      myBin4x4BufferMono16(f16.data(), w, h);
    }
}

}  // namespace
