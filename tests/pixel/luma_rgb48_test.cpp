#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "pixel/LumaRGB48.h"

TEST(LumaRGB48, LumaAndTheLRGB64Copy) {
  struct Case { UInt16 r, g, b, l; };
  const Case cases[] = {
      {65535, 65535, 65535, 65535}, {65535, 0, 0, 19595},  // 19594.965
      {0, 65535, 0, 38469},         {0, 0, 65535, 7471},    // 38469.045, 7470.99
      {0, 0, 0, 0},                 {1000, 2000, 3000, 1815},
      {1, 1, 1, 1},
  };
  const UInt32 n = sizeof cases / sizeof cases[0];
  std::vector<UInt16> rgb, lrgb(n * 4 + 4, 0xEEEE), luma(n + 1, 0xEEEE), luma2(n + 1, 0xEEEE);
  for (const Case& c : cases) rgb.insert(rgb.end(), {c.r, c.g, c.b});
  myRGB48ToLRGB64AndLuma16(rgb.data(), lrgb.data(), luma.data(), n, 1);
  myRGB48PtrtoLumaPtr(rgb.data(), luma2.data(), 1, n);
  for (UInt32 i = 0; i < n; ++i) {
    EXPECT_EQ(luma[i], cases[i].l) << i;
    EXPECT_EQ(luma2[i], cases[i].l) << i;
    EXPECT_EQ(lrgb[4 * i], cases[i].l);
    EXPECT_EQ(lrgb[4 * i + 1], cases[i].r);
    EXPECT_EQ(lrgb[4 * i + 2], cases[i].g);
    EXPECT_EQ(lrgb[4 * i + 3], cases[i].b);
  }
  EXPECT_EQ(luma[n], 0xEEEE);
  EXPECT_EQ(luma2[n], 0xEEEE);
  EXPECT_EQ(lrgb[4 * n], 0xEEEE);
}

// Every grey level re-merged with its own luma comes back unchanged. (Forming
// Y in floating point and subtracting would lose one level of green for about
// a quarter of the grey levels.)
TEST(LumaRGB48, GreyRemergedWithItsOwnLumaIsTheIdentity) {
  const UInt32 n = 65536;
  std::vector<UInt16> luma(n), rgb(n * 3), lrgb(n * 4);
  for (UInt32 v = 0; v < n; ++v) luma[v] = rgb[3 * v] = rgb[3 * v + 1] = rgb[3 * v + 2] = UInt16(v);
  myLuma16AndRGB48ToMergedLRGB64(luma.data(), rgb.data(), lrgb.data(), 256, 256);
  for (UInt32 v = 0; v < n; ++v)
    for (int c = 0; c < 4; ++c) ASSERT_EQ(lrgb[4 * v + c], v) << "grey " << v << " sample " << c;
}

TEST(LumaRGB48, RemergeOfColourWithClamps) {
  struct Case { UInt16 l, r, g, b; UInt16 want[3]; };
  // Hand values of L + 1.000339 dR, L - 0.509082 dR - 0.19436 dB, L + 1.00005 dB.
  const Case cases[] = {
      {0, 30000, 10000, 10000, {14024, 0, 0}},          // green and blue below 1.0
      {65535, 65535, 0, 0, {65535, 45956, 45939}},      // red above 65534.0
      {20000, 30000, 20000, 10000, {28152, 18154, 8149}},
      {1000, 1000, 2000, 3000, {184, 1184, 2185}},
  };
  for (const Case& c : cases) {
    const UInt16 rgb[3] = {c.r, c.g, c.b};
    UInt16 out[4] = {};
    myLuma16AndRGB48ToMergedLRGB64(&c.l, rgb, out, 1, 1);
    EXPECT_EQ(out[0], c.l);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(out[k + 1], c.want[k]) << c.r << " " << k;
  }
}

TEST(LumaRGB48, RatioRemerge) {
  struct Case { UInt16 newLuma; UInt16 lrgb[4]; UInt16 want[3]; };
  const Case cases[] = {
      {0, {0, 1234, 65535, 7}, {1234, 65535, 7}},             // ratio 1
      {1999, {999, 1000, 30000, 40000}, {2000, 60000, 65535}},  // doubled, clamped
      {999, {1999, 1001, 3, 65535}, {500, 1, 32767}},          // halved, truncated
      {5000, {5000, 11, 22, 33}, {11, 22, 33}},
  };
  const UInt32 n = sizeof cases / sizeof cases[0];
  std::vector<UInt16> luma, lrgb, rgb(n * 3 + 1, 0xEEEE);
  for (const Case& c : cases) {
    luma.push_back(c.newLuma);
    lrgb.insert(lrgb.end(), c.lrgb, c.lrgb + 4);
  }
  myAltivecLRGB64ToRGB48Adjusted(luma.data(), lrgb.data(), rgb.data(), 2, 2);
  for (UInt32 i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb[3 * i + k], cases[i].want[k]) << i << " " << k;
  EXPECT_EQ(rgb[3 * n], 0xEEEE);
}

TEST(FloatPlane, RowBytesAvoidPowersOfTwo) {
  struct Case { UInt32 width; size_t rowBytes; };
  const Case cases[] = {{15, 80}, {16, 80}, {17, 80}, {64, 272}, {1, 48}, {4, 48}, {5, 48},
                        {20, 80}, {100, 400}, {0, 0}};
  for (const Case& c : cases) {
    vImage_Buffer b{};
    ASSERT_EQ(myFillInVImageFloatFromMono16Src(&b, c.width, 3, nullptr), 0);
    EXPECT_EQ(b.rowBytes, c.rowBytes) << c.width;
    EXPECT_EQ(b.width, c.width);
    EXPECT_EQ(b.height, 3u);
    EXPECT_NE(b.data, nullptr);
    std::free(b.data);
  }
}

TEST(FloatPlane, SamplesBecomeFloatsInPageAlignedRows) {
  const UInt32 w = 17, h = 5;
  std::vector<UInt16> mono(w * h);
  for (UInt32 i = 0; i < w * h; ++i) mono[i] = UInt16(i * 811);
  mono[0] = 65535;
  vImage_Buffer b{};
  ASSERT_EQ(myFillInVImageFloatFromMono16Src(&b, w, h, mono.data()), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b.data) % uintptr_t(sysconf(_SC_PAGESIZE)), 0u);
  for (UInt32 y = 0; y < h; ++y) {
    const float* row = reinterpret_cast<const float*>(static_cast<char*>(b.data) + y * b.rowBytes);
    for (UInt32 x = 0; x < w; ++x) ASSERT_EQ(row[x], float(mono[y * w + x])) << x << "," << y;
  }
  std::free(b.data);
}

TEST(FloatPlane, AllocationFailureGivesMemFullAndNoPlane) {
  const MyPlaneAllocator previous = mySetFloatPlaneAllocator([](size_t) -> void* { return nullptr; });
  vImage_Buffer b{reinterpret_cast<void*>(1), 0, 0, 0};
  const UInt16 mono[4] = {1, 2, 3, 4};
  EXPECT_EQ(myFillInVImageFloatFromMono16Src(&b, 2, 2, mono), -108);
  EXPECT_EQ(b.data, nullptr);
  EXPECT_EQ(b.rowBytes, 48u);  // the descriptor is filled before the allocation
  mySetFloatPlaneAllocator(previous);
  EXPECT_EQ(myFillInVImageFloatFromMono16Src(&b, 2, 2, mono), 0);
  std::free(b.data);
}

// A picture large enough to be cut into bands: every pixel against the
// formulas, with the luma rounded by the library's own nearest-even rounding.
TEST(LumaRGB48, WholePicturesFollowTheFormulas) {
  const UInt32 w = 701, h = 500;
  const size_t n = size_t(w) * h;
  std::mt19937 rng(13);
  std::uniform_int_distribution<int> d(0, 65535);
  std::vector<UInt16> rgb(n * 3), lrgb(n * 4), luma(n), luma2(n), newLuma(n), back(n * 3);
  for (auto& s : rgb) s = UInt16(d(rng));
  for (auto& s : newLuma) s = UInt16(d(rng));
  myRGB48ToLRGB64AndLuma16(rgb.data(), lrgb.data(), luma.data(), w, h);
  myRGB48PtrtoLumaPtr(rgb.data(), luma2.data(), w, h);
  myAltivecLRGB64ToRGB48Adjusted(newLuma.data(), lrgb.data(), back.data(), w, h);
  vImage_Buffer plane{};
  ASSERT_EQ(myFillInVImageFloatFromMono16Src(&plane, w, h, newLuma.data()), 0);
  for (size_t i = 0; i < n; ++i) {
    const double y = 0.299 * rgb[3 * i] + 0.587 * rgb[3 * i + 1] + 0.114 * rgb[3 * i + 2];
    const UInt16 l = UInt16(std::nearbyint(y));
    ASSERT_EQ(luma[i], l) << i;
    ASSERT_EQ(luma2[i], l) << i;
    ASSERT_EQ(lrgb[4 * i], l);
    const float ratio = float(newLuma[i] + 1) / float(l + 1);
    for (int c = 0; c < 3; ++c) {
      ASSERT_EQ(lrgb[4 * i + 1 + c], rgb[3 * i + c]);
      const float v = float(rgb[3 * i + c]) * ratio;
      ASSERT_EQ(back[3 * i + c], v >= 65535.0f ? 65535 : UInt16(v)) << i << " " << c;
    }
    const float* row = reinterpret_cast<const float*>(static_cast<char*>(plane.data) +
                                                      (i / w) * plane.rowBytes);
    ASSERT_EQ(row[i % w], float(newLuma[i]));
  }
  std::free(plane.data);
}
