#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "pixel/Filters16.h"
#include "pixel/RowBands.h"

namespace {

using Filter = void (*)(const UInt16*, UInt16*, UInt32, UInt32, UInt32);
using Kernel = std::vector<std::vector<UInt32>>;

Kernel outer(const std::vector<UInt32>& line) {
  Kernel k;
  for (UInt32 a : line) {
    std::vector<UInt32> row;
    for (UInt32 b : line) row.push_back(a * b);
    k.push_back(row);
  }
  return k;
}

// The cascade kernels written out as the level table gives them.
struct Level {
  const char* name;
  Filter filter;
  Kernel kernel;
  UInt32 divisor;
};

const std::vector<Level>& levels() {
  static const std::vector<Level> table = {
      {"2by2", myLocal2by2GaussianBlurLuma16, {{0, 1, 0}, {1, 2, 1}, {0, 1, 0}}, 6},
      {"3by3", myLocal3by3GaussianBlurLuma16, outer({1, 2, 1}), 16},
      {"4by4",
       myLocal4by4GaussianBlurLuma16,
       {{0, 1, 2, 1, 0}, {1, 2, 4, 2, 1}, {2, 4, 8, 4, 2}, {1, 2, 4, 2, 1}, {0, 1, 2, 1, 0}},
       48},
      {"5by5", myLocal5by5GaussianBlurLuma16, outer({1, 2, 4, 2, 1}), 100},
      {"6by6",
       myLocal6by6GaussianBlurLuma16,
       {{0, 1, 2, 4, 2, 1, 0},
        {1, 2, 4, 8, 4, 2, 1},
        {2, 4, 8, 16, 8, 4, 2},
        {4, 8, 16, 32, 16, 8, 4},
        {2, 4, 8, 16, 8, 4, 2},
        {1, 2, 4, 8, 4, 2, 1},
        {0, 1, 2, 4, 2, 1, 0}},
       240},
      {"7by7", myLocal7by7GaussianBlurLuma16, outer({1, 2, 4, 8, 4, 2, 1}), 484},
      {"9by9", myLocal9by9GaussianBlurLuma16, outer({1, 2, 4, 8, 16, 8, 4, 2, 1}), 2116},
  };
  return table;
}

// A plane with rows rowBytes apart; padding samples hold a guard value.
struct Plane {
  UInt32 width, height, stride;  // stride in samples
  std::vector<UInt16> data;
  Plane(UInt32 w, UInt32 h, UInt32 pad = 0, UInt16 fill = 0)
      : width(w), height(h), stride(w + pad), data(size_t(w + pad) * h, 0xBEEF) {
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x) at(x, y) = fill;
  }
  UInt16& at(UInt32 x, UInt32 y) { return data[size_t(y) * stride + x]; }
  UInt16 at(UInt32 x, UInt32 y) const { return data[size_t(y) * stride + x]; }
  UInt32 rowBytes() const { return stride * 2; }
};

Plane randomPlane(UInt32 w, UInt32 h, UInt32 pad, std::mt19937& rng, UInt16 top = 65535) {
  Plane p(w, h, pad);
  std::uniform_int_distribution<int> d(0, top);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) p.at(x, y) = UInt16(d(rng));
  return p;
}

// Straight from the definitions: border copied, interior by the full kernel.
template <class Interior>
Plane reference(const Plane& src, UInt32 border, Interior interior) {
  Plane out = src;
  if (src.width < 2 * border + 1 || src.height < 2 * border + 1) return out;
  for (UInt32 y = border; y + border < src.height; ++y)
    for (UInt32 x = border; x + border < src.width; ++x) out.at(x, y) = interior(x, y);
  return out;
}

Plane referenceBlur(const Plane& src, const Level& level) {
  const UInt32 border = UInt32(level.kernel.size() / 2);
  return reference(src, border, [&](UInt32 x, UInt32 y) {
    UInt64 sum = 0;
    for (UInt32 i = 0; i < level.kernel.size(); ++i)
      for (UInt32 j = 0; j < level.kernel.size(); ++j)
        sum += UInt64(level.kernel[i][j]) * src.at(x + j - border, y + i - border);
    return UInt16(std::min<UInt64>(65535, sum / level.divisor));
  });
}

std::vector<UInt16> block(const Plane& src, UInt32 x, UInt32 y) {
  std::vector<UInt16> v;
  for (int i = -1; i <= 1; ++i)
    for (int j = -1; j <= 1; ++j) v.push_back(src.at(x + j, y + i));
  return v;
}

Plane referenceAverage(const Plane& src, UInt32 threshold) {
  return reference(src, 1, [&](UInt32 x, UInt32 y) {
    std::vector<UInt16> v = block(src, x, y);
    UInt32 sum = 0;
    for (int i = 0; i < 9; ++i) sum += i == 4 ? 0 : v[i];
    const SInt64 m = sum >> 3, c = v[4];
    return UInt16(std::llabs(c - m) < SInt64(threshold) ? m : c);
  });
}

Plane referenceMinMax(const Plane& src, UInt32 threshold) {
  return reference(src, 1, [&](UInt32 x, UInt32 y) {
    std::vector<UInt16> v = block(src, x, y);
    UInt32 sum = 0;
    for (UInt16 s : v) sum += s;
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return UInt16(UInt32(*hi - *lo) < (threshold & 0xFFFF) ? sum / 9 : v[4]);
  });
}

// The bubble sort (descending, until a pass exchanges nothing) and the 5th value.
Plane referenceMedian(const Plane& src, UInt32 threshold) {
  return reference(src, 1, [&](UInt32 x, UInt32 y) {
    std::vector<UInt16> v = block(src, x, y);
    const UInt16 centre = v[4];
    bool exchanged = true;
    while (exchanged) {
      exchanged = false;
      for (int i = 0; i + 1 < 9; ++i)
        if (v[i] < v[i + 1]) std::swap(v[i], v[i + 1]), exchanged = true;
    }
    return UInt16(UInt32(v[0] - v[8]) < (threshold & 0xFFFF) ? v[4] : centre);
  });
}

void expectSame(const Plane& got, const Plane& want, const std::string& what) {
  for (UInt32 y = 0; y < want.height; ++y)
    for (UInt32 x = 0; x < want.stride; ++x)
      ASSERT_EQ(got.data[size_t(y) * got.stride + x], want.data[size_t(y) * want.stride + x])
          << what << " at " << x << "," << y << " of " << want.width << "x" << want.height;
}

Plane run(Filter f, const Plane& src) {
  Plane dst(src.width, src.height, src.stride - src.width, 0x1234);
  f(src.data.data(), dst.data.data(), src.width, src.height, src.rowBytes());
  return dst;
}

using NoiseFilter = void (*)(const UInt16*, UInt16*, UInt32, UInt32, UInt32, UInt32);
Plane runNoise(NoiseFilter f, const Plane& src, UInt32 threshold) {
  Plane dst(src.width, src.height, src.stride - src.width, 0x1234);
  f(src.data.data(), dst.data.data(), src.width, src.height, src.rowBytes(), threshold);
  return dst;
}

}  // namespace

// One row a level: a single sample in a plane of 0 gives kernel x value / divisor
// around it (values chosen so that most products divide exactly).
TEST(GaussianCascade, ImpulseResponseOfEveryLevel) {
  struct Tap { int dx, dy; UInt16 want; };
  struct Case { int level; UInt16 value; std::vector<Tap> taps; };
  const Case cases[] = {
      {0, 6000, {{0, 0, 2000}, {1, 0, 1000}, {0, -1, 1000}, {1, 1, 0}, {2, 0, 0}}},
      {0, 7, {{0, 0, 2}, {-1, 0, 1}}},
      {1, 1600, {{0, 0, 400}, {-1, 0, 200}, {0, 1, 200}, {1, 1, 100}, {-1, -1, 100}, {2, 0, 0}}},
      {2, 4800, {{0, 0, 800}, {1, 0, 400}, {1, 1, 200}, {0, 2, 200}, {1, 2, 100}, {2, 2, 0}}},
      {3, 1000, {{0, 0, 160}, {0, 1, 80}, {2, 0, 40}, {1, 1, 40}, {1, 2, 20}, {-2, -2, 10}}},
      {4, 2400, {{0, 0, 320}, {3, 0, 40}, {1, 1, 80}, {2, 3, 10}, {3, 3, 0}, {4, 0, 0}}},
      {5, 4840, {{0, 0, 640}, {0, 3, 80}, {1, 2, 80}, {3, 3, 10}, {-3, 3, 10}, {4, 0, 0}}},
      {6, 21160, {{0, 0, 2560}, {4, 0, 160}, {2, 3, 80}, {4, 4, 10}, {-4, 4, 10}, {5, 0, 0}}},
      {6, 65535, {{0, 0, 7928}, {4, 4, 30}}},
  };
  for (const Case& c : cases) {
    const Level& level = levels()[c.level];
    Plane src(17, 17, 0, 0);
    src.at(8, 8) = c.value;
    const Plane out = run(level.filter, src);
    for (const Tap& t : c.taps)
      EXPECT_EQ(out.at(8 + t.dx, 8 + t.dy), t.want) << level.name << " " << t.dx << "," << t.dy;
  }
}

TEST(GaussianCascade, EveryLevelMatchesItsKernelOnRandomPlanesOfAnySize) {
  std::mt19937 rng(17);
  const UInt32 sizes[][3] = {{1, 1, 0}, {2, 9, 0}, {9, 2, 3}, {3, 3, 0}, {5, 5, 1}, {7, 8, 0},
                             {9, 9, 0}, {8, 9, 2}, {10, 10, 0}, {33, 17, 5}, {64, 40, 0}};
  for (const auto& s : sizes) {
    const Plane src = randomPlane(s[0], s[1], s[2], rng);
    for (const Level& level : levels())
      expectSame(run(level.filter, src), referenceBlur(src, level), level.name);
  }
  // Every width and height from 1 to 9 (too small, just large enough, larger).
  for (UInt32 w = 1; w <= 9; ++w)
    for (UInt32 h = 1; h <= 9; ++h) {
      const Plane src = randomPlane(w, h, 0, rng);
      for (const Level& level : levels())
        expectSame(run(level.filter, src), referenceBlur(src, level), level.name);
    }
}

TEST(GaussianCascade, ThreadedBandsGiveTheSameAsOneThread) {
  std::mt19937 rng(3);
  const Plane src = randomPlane(517, 700, 3, rng);  // large enough to be split
  for (const Level& level : levels()) {
    mySetRowBandThreadLimit(1);
    const Plane one = run(level.filter, src);
    mySetRowBandThreadLimit(0);
    expectSame(run(level.filter, src), one, level.name);
  }
  expectSame(run(levels()[6].filter, src), referenceBlur(src, levels()[6]), "9by9");
}

TEST(NeighbourhoodFilters, FlatPlanePassesEveryFilterUnchanged) {
  const Plane flat(21, 14, 2, 54321);
  for (const Level& level : levels()) expectSame(run(level.filter, flat), flat, level.name);
  for (UInt32 threshold : {0u, 2550u, 65535u, 0x10000u}) {
    expectSame(runNoise(my3by3AverageLuma16, flat, threshold), flat, "average");
    expectSame(runNoise(my3by3MinMaxAverageLuma16, flat, threshold), flat, "minmax");
    expectSame(runNoise(my3by3MedianLuma16, flat, threshold), flat, "median");
  }
}

TEST(NeighbourhoodFilters, BrightSampleInAFlatPlane) {
  Plane src(9, 9, 0, 1000);
  src.at(4, 4) = 60000;
  // Threshold 2550: nothing changes (the 3x3 average of a neighbour is 8375,
  // 7375 away from it; the block ranges around the star are 59000).
  expectSame(runNoise(my3by3AverageLuma16, src, 2550), src, "average 2550");
  expectSame(runNoise(my3by3MinMaxAverageLuma16, src, 2550), src, "minmax 2550");
  expectSame(runNoise(my3by3MedianLuma16, src, 2550), src, "median 2550");

  Plane median = src;
  median.at(4, 4) = 1000;
  expectSame(runNoise(my3by3MedianLuma16, src, 65535), median, "median 65535");

  Plane average = src;  // the neighbours' mean is (7 x 1000 + 60000) >> 3
  Plane minMax = src;   // (8 x 1000 + 60000) / 9
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      average.at(4 + dx, 4 + dy) = (dx || dy) ? 8375 : 1000;
      minMax.at(4 + dx, 4 + dy) = 7555;
    }
  expectSame(runNoise(my3by3AverageLuma16, src, 65535), average, "average 65535");
  expectSame(runNoise(my3by3MinMaxAverageLuma16, src, 65535), minMax, "minmax 65535");
}

TEST(NeighbourhoodFilters, ThresholdBitsAndStrictComparison) {
  Plane src(5, 5, 0, 1000);
  src.at(2, 2) = 1800;  // centre: neighbours' mean 1000, |c - m| = 800; block range 800
  struct Case { const char* name; NoiseFilter filter; UInt32 threshold; UInt16 centre; };
  const Case cases[] = {
      {"average at the threshold", my3by3AverageLuma16, 800, 1800},
      {"average above it", my3by3AverageLuma16, 801, 1000},
      {"average uses all 32 bits", my3by3AverageLuma16, 0x10000, 1000},
      {"median at the threshold", my3by3MedianLuma16, 800, 1800},
      {"median above it", my3by3MedianLuma16, 801, 1000},
      {"median uses the low 16 bits", my3by3MedianLuma16, 0x10000, 1800},
      {"median low bits above", my3by3MedianLuma16, 0x10000 + 801, 1000},
      {"minmax low bits at the threshold", my3by3MinMaxAverageLuma16, 0x10000 + 800, 1800},
      {"minmax above it", my3by3MinMaxAverageLuma16, 801, 1088},  // 9800 / 9
  };
  for (const Case& c : cases)
    EXPECT_EQ(runNoise(c.filter, src, c.threshold).at(2, 2), c.centre) << c.name;
}

TEST(NeighbourhoodFilters, NoiseFiltersMatchTheirDefinitionsOnRandomPlanes) {
  std::mt19937 rng(5);
  for (UInt32 w = 1; w <= 9; ++w)
    for (UInt32 h = 1; h <= 9; ++h) {
      const Plane src = randomPlane(w, h, (w + h) % 3, rng, 6000);
      for (UInt32 t : {1500u, 65535u}) {
        expectSame(runNoise(my3by3AverageLuma16, src, t), referenceAverage(src, t), "average");
        expectSame(runNoise(my3by3MinMaxAverageLuma16, src, t), referenceMinMax(src, t), "minmax");
        expectSame(runNoise(my3by3MedianLuma16, src, t), referenceMedian(src, t), "median");
      }
    }
  const Plane big = randomPlane(300, 200, 1, rng);
  for (UInt32 t : {20000u, 65535u}) {
    expectSame(runNoise(my3by3AverageLuma16, big, t), referenceAverage(big, t), "average");
    expectSame(runNoise(my3by3MinMaxAverageLuma16, big, t), referenceMinMax(big, t), "minmax");
    expectSame(runNoise(my3by3MedianLuma16, big, t), referenceMedian(big, t), "median");
  }
}
