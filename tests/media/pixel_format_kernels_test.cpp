#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "media/MediaSIMD.h"
#include "media/PixelFormatKernels.h"

namespace {

typedef void (*PlainFn)(const void*, void*, UInt32, UInt32, UInt32, UInt8, UInt8);
typedef void (*VectorFn)(const void*, void*, UInt32, UInt32, UInt32, UInt8);

struct Pixel {
  UInt8 r, g, b;
};

// (U, Y, V) and the expected R, G, B, worked out by hand from
// R = Y + (1432V' >> 10), G = Y - ((354U' + 730V') >> 10), B = Y + (1820U' >> 10).
struct YUVCase {
  UInt8 u, y, v;
  Pixel rgb;
};
const YUVCase kYUVCases[] = {
    {255, 0, 255, {177, 0, 225}},    // green -134 clamps to 0, not 255
    {0, 0, 0, {0, 136, 0}},          // R -179 and B -228 clamp to 0
    {0, 255, 0, {76, 255, 27}},      // G 391 clamps to 255
    {128, 100, 200, {200, 49, 100}},
    {127, 50, 128, {50, 51, 48}},    // -354 >> 10 is -1 and -1820 >> 10 is -2 (floor)
    {128, 255, 128, {255, 255, 255}},
    {128, 0, 128, {0, 0, 0}},
    {200, 30, 60, {0, 54, 157}},
};

void expectPixel(const UInt8* d, Pixel p, const char* what, int i) {
  EXPECT_EQ(d[0], 0xFF) << what << " case " << i;
  EXPECT_EQ(d[1], p.r) << what << " case " << i;
  EXPECT_EQ(d[2], p.g) << what << " case " << i;
  EXPECT_EQ(d[3], p.b) << what << " case " << i;
}

TEST(YUVToARGB32, PlainRuleTableInEveryLayout) {
  const int n = int(sizeof kYUVCases / sizeof kYUVCases[0]);
  for (int i = 0; i < n; ++i) {
    const YUVCase& c = kYUVCases[i];
    UInt8 out[16];
    const UInt8 s444[3] = {c.u, c.y, c.v};
    YUV444ToARGB32(s444, out, 3, 1, 4, 0, 0);
    expectPixel(out, c.rgb, "4:4:4", i);

    const UInt8 s422[4] = {c.u, c.y, c.v, c.y};
    YUV422ToARGB32(s422, out, 4, 2, 8, 0, 0);
    for (int p = 0; p < 2; ++p) expectPixel(out + 4 * p, c.rgb, "4:2:2", i);

    const UInt8 s411[6] = {c.u, c.y, c.y, c.v, c.y, c.y};
    YUV411ToARGB32(s411, out, 6, 4, 16, 0, 0);
    for (int p = 0; p < 4; ++p) expectPixel(out + 4 * p, c.rgb, "4:1:1", i);
  }
}

// The same table along rows long enough for the block paths, with the
// cases cycling from group to group, block paths on and off.
TEST(YUVToARGB32, PlainRuleTableAlongLongRows) {
  const int n = int(sizeof kYUVCases / sizeof kYUVCases[0]);
  struct Layout {
    const char* name;
    PlainFn fn;
    int pixelsPerGroup, bytesPerGroup;
  };
  const Layout layouts[] = {{"4:4:4", YUV444ToARGB32, 1, 3}, {"4:2:2", YUV422ToARGB32, 2, 4},
                            {"4:1:1", YUV411ToARGB32, 4, 6}};
  for (int simd = 0; simd < 2; ++simd) {
    myMediaSetSIMDEnabled(Boolean(simd));
    for (const Layout& L : layouts) {
      const UInt32 groups = 37, w = groups * L.pixelsPerGroup, h = 2;
      std::vector<UInt8> src(size_t(groups) * L.bytesPerGroup * h);
      for (UInt32 g = 0; g < groups * h; ++g) {
        const YUVCase& c = kYUVCases[(g * 5 + g / groups) % n];
        UInt8* q = &src[size_t(g) * L.bytesPerGroup];
        if (L.pixelsPerGroup == 1) q[0] = c.u, q[1] = c.y, q[2] = c.v;
        if (L.pixelsPerGroup == 2) q[0] = c.u, q[1] = c.y, q[2] = c.v, q[3] = c.y;
        if (L.pixelsPerGroup == 4) q[0] = c.u, q[1] = c.y, q[2] = c.y, q[3] = c.v, q[4] = c.y, q[5] = c.y;
      }
      std::vector<UInt8> dst(size_t(w) * 4 * h, 0xEE);
      L.fn(src.data(), dst.data(), UInt32(src.size()), w, 4 * w, 0, 0);
      for (UInt32 g = 0; g < groups * h; ++g)
        for (int p = 0; p < L.pixelsPerGroup; ++p)
          expectPixel(&dst[(size_t(g) * L.pixelsPerGroup + p) * 4], kYUVCases[(g * 5 + g / groups) % n].rgb, L.name,
                      int((g * 5 + g / groups) % n));
    }
  }
  myMediaSetSIMDEnabled(1);
}

// Block paths against the plain loops on random bytes, at widths that leave
// every kind of tail.
TEST(YUVToARGB32, BlockPathsEqualPlainLoops) {
  const struct {
    PlainFn fn;
    UInt32 num, den;  // source bytes per pixel as a fraction
  } layouts[] = {{YUV444ToARGB32, 3, 1}, {YUV422ToARGB32, 2, 1}, {YUV411ToARGB32, 3, 2}};
  for (auto& L : layouts)
    for (UInt32 w : {4u, 16u, 20u, 32u, 36u, 64u, 644u, 1280u}) {
      const UInt32 h = 3, n = w * h * L.num / L.den;
      std::vector<UInt8> src(n);
      std::mt19937 rng(w);
      for (auto& b : src) b = UInt8(rng());
      for (size_t i = 0; i < src.size(); i += 5) src[i] = (i & 8) ? 255 : 0;
      std::vector<UInt8> a(size_t(w) * 4 * h, 0xEE), b = a;
      myMediaSetSIMDEnabled(0);
      L.fn(src.data(), a.data(), n, w, 4 * w, 0, 0);
      myMediaSetSIMDEnabled(1);
      L.fn(src.data(), b.data(), n, w, 4 * w, 0, 0);
      ASSERT_EQ(a, b) << w;
    }
}

TEST(YUVToARGB32, GroupsShareChromaAndTakeTheirOwnLuma) {
  // The 4:2:2 word 80 FF 80 00 carries no chroma: one white, one black pixel.
  const UInt8 word[4] = {0x80, 0xFF, 0x80, 0x00};
  UInt8 out[8];
  YUV422ToARGB32(word, out, 4, 2, 8, 0, 0);
  expectPixel(out, {255, 255, 255}, "white", 0);
  expectPixel(out + 4, {0, 0, 0}, "black", 0);

  // 4:1:1 bytes U Y0 Y1 V Y2 Y3: the luma order within the group matters.
  const UInt8 group[6] = {128, 10, 20, 128, 30, 40};
  UInt8 o4[16];
  YUV411ToARGB32(group, o4, 6, 4, 16, 0, 0);
  const UInt8 ys[4] = {10, 20, 30, 40};
  for (int p = 0; p < 4; ++p) expectPixel(o4 + 4 * p, {ys[p], ys[p], ys[p]}, "4:1:1 luma", p);
}

TEST(YUVToARGB32, RemainderOfARowStaysUnconvertedAndRowsStayInStep) {
  // Width 5 in 4:2:2: two words a row are converted, the fifth pixel is left
  // alone, and row 1 starts 10 source bytes on.
  const UInt32 w = 5, h = 2, drb = 4 * w;
  std::vector<UInt8> src(2 * w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 i = 0; i < 2 * w; ++i) src[y * 2 * w + i] = (i % 2 == 0) ? 128 : UInt8(10 * y + i);
  std::vector<UInt8> dst(drb * h, 0xEE);
  YUV422ToARGB32(src.data(), dst.data(), UInt32(src.size()), w, drb, 0, 0);
  for (UInt32 y = 0; y < h; ++y) {
    for (UInt32 x = 0; x < 4; ++x) {
      const UInt8 Y = src[y * 2 * w + 2 * x + 1];
      expectPixel(&dst[y * drb + 4 * x], {Y, Y, Y}, "row", int(y));
    }
    for (int b = 0; b < 4; ++b) EXPECT_EQ(dst[y * drb + 16 + b], 0xEE) << y;
  }

  // Width 6 in 4:1:1: one group a row, the last two pixels untouched.
  const UInt32 w6 = 6, rb6 = 9;
  std::vector<UInt8> s6(rb6 * 2, 128), d6(4 * w6 * 2, 0xEE);
  s6[rb6 + 1] = 77;  // row 1, Y0
  YUV411ToARGB32(s6.data(), d6.data(), UInt32(s6.size()), w6, 4 * w6, 0, 0);
  expectPixel(&d6[4 * w6], {77, 77, 77}, "4:1:1 row 1", 0);
  for (UInt32 y = 0; y < 2; ++y)
    for (int b = 16; b < 24; ++b) EXPECT_EQ(d6[y * 4 * w6 + b], 0xEE) << y;
}

// Every layout at an odd width into padded rows: every pixel follows the
// layout's rule and the padding after each row keeps its bytes.
struct LayoutCase {
  const char* name;
  PlainFn fn;
  UInt32 bytesPerPixel;
  Pixel (*rule)(const UInt8* s);
};
UInt16 rd16(const UInt8* p) {
  UInt16 v;
  std::memcpy(&v, p, 2);
  return v;
}
const LayoutCase kLayouts[] = {
    {"Mono8", Mono8ToARGB32, 1, [](const UInt8* s) { return Pixel{s[0], s[0], s[0]}; }},
    {"Mono16", Mono16ToARGB32, 2,
     [](const UInt8* s) { UInt8 v = UInt8(rd16(s) >> 8); return Pixel{v, v, v}; }},
    {"RGB24", RGB24ToARGB32, 3, [](const UInt8* s) { return Pixel{s[0], s[1], s[2]}; }},
    {"RGB48", RGB48ToARGB32, 6,
     [](const UInt8* s) {
       return Pixel{UInt8(rd16(s) >> 8), UInt8(rd16(s + 2) >> 8), UInt8(rd16(s + 4) >> 8)};
     }},
};

TEST(PixelLayoutsToARGB32, OddWidthConvertsEveryPixelAndLeavesPaddingAlone) {
  for (int simd = 0; simd < 2; ++simd) {
    myMediaSetSIMDEnabled(Boolean(simd));
    for (const LayoutCase& L : kLayouts) {
      const UInt32 w = 643, h = 3, drb = 4 * w + 20;
      std::vector<UInt8> src(size_t(w) * h * L.bytesPerPixel);
      std::mt19937 rng(7);
      for (auto& b : src) b = UInt8(rng());
      std::vector<UInt8> dst(size_t(drb) * h + 64, 0xEE);
      L.fn(src.data(), dst.data(), UInt32(src.size()), w, drb, 0, 0);
      for (UInt32 y = 0; y < h; ++y) {
        for (UInt32 x = 0; x < w; ++x) {
          const Pixel p = L.rule(&src[(size_t(y) * w + x) * L.bytesPerPixel]);
          const UInt8* d = &dst[size_t(y) * drb + 4 * x];
          ASSERT_TRUE(d[0] == 0xFF && d[1] == p.r && d[2] == p.g && d[3] == p.b)
              << L.name << " x " << x << " y " << y << " simd " << simd;
        }
        for (UInt32 b = 4 * w; b < drb; ++b) ASSERT_EQ(dst[size_t(y) * drb + b], 0xEE) << L.name;
      }
      for (size_t b = size_t(drb) * h; b < dst.size(); ++b) ASSERT_EQ(dst[b], 0xEE) << L.name;
    }
  }
  myMediaSetSIMDEnabled(1);
}

TEST(PixelLayoutsToARGB32, PartialLastRowAndZeroWidthWriteNothingExtra) {
  // Two whole rows of width 4 and half a third: only two rows are written.
  std::vector<UInt8> src(10, 50), dst(3 * 16, 0xEE);
  Mono8ToARGB32(src.data(), dst.data(), 10, 4, 16, 0, 0);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(dst[i], (i % 4 == 0) ? 0xFF : 50) << i;
  for (int i = 32; i < 48; ++i) EXPECT_EQ(dst[i], 0xEE) << i;

  std::vector<UInt8> untouched(64, 0xEE);
  std::vector<UInt8> d2 = untouched;
  const PlainFn all[] = {Mono8ToARGB32, Mono16ToARGB32, RGB24ToARGB32, RGB48ToARGB32,
                         YUV444ToARGB32, YUV422ToARGB32, YUV411ToARGB32};
  for (PlainFn fn : all) {
    fn(src.data(), d2.data(), 10, 0, 16, 0, 0);
    fn(src.data(), d2.data(), 10, 0, 16, 1, 0);
  }
  EXPECT_EQ(d2, untouched);
}

// The vector-named forms, and the plain forms asked to use them on aligned
// buffers, give the plain forms' bytes.
TEST(PixelLayoutsToARGB32, VectorNamedFormsGiveThePlainResult) {
  struct Pair {
    PlainFn plain;
    VectorFn vec;
    UInt32 bytesPer2Pixels;  // source bytes of two pixels
  };
  const Pair pairs[] = {
      {Mono8ToARGB32, ALTIVEC_Mono8ToARGB32_ALIGNED, 2},   {Mono16ToARGB32, ALTIVEC_Mono16ToARGB32_ALIGNED, 4},
      {RGB24ToARGB32, ALTIVEC_RGB24ToARGB32_ALIGNED, 6},   {RGB48ToARGB32, ALTIVEC_RGB48ToARGB32_ALIGNED, 12},
      {YUV444ToARGB32, ALTIVEC_YUV444ToARGB32_ALIGNED, 6}, {YUV422ToARGB32, ALTIVEC_YUV422ToARGB32_ALIGNED, 4},
      {YUV411ToARGB32, ALTIVEC_YUV411ToARGB32_ALIGNED, 3},
  };
  const UInt32 w = 64, h = 5, drb = 4 * w + 16;
  for (const Pair& p : pairs) {
    const UInt32 rowBytes = w * p.bytesPer2Pixels / 2;
    alignas(16) static UInt8 src[64 * 12 * 5];
    std::mt19937 rng(11);
    for (UInt32 i = 0; i < rowBytes * h; ++i) src[i] = UInt8(rng());
    alignas(16) static UInt8 a[(4 * 64 + 16) * 5], b[(4 * 64 + 16) * 5], c[(4 * 64 + 16) * 5];
    std::memset(a, 0xEE, sizeof a);
    std::memset(b, 0xEE, sizeof b);
    std::memset(c, 0xEE, sizeof c);
    p.plain(src, a, rowBytes * h, w, drb, 0, 0);
    p.plain(src, b, rowBytes * h, w, drb, 1, 1);
    p.vec(src, c, rowBytes, h, drb, 1);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << rowBytes;
    EXPECT_EQ(0, std::memcmp(a, c, sizeof a)) << rowBytes;
  }
}

TEST(MyLocalMWMemCpy, CopiesInlineAndLargeCountsExactly) {
  for (UInt32 n : {0u, 1u, 7u, 8u, 9u, 63u, 64u, 65u, 1000u}) {
    std::vector<UInt8> s(n + 8), d(n + 8, 0xEE);
    for (size_t i = 0; i < s.size(); ++i) s[i] = UInt8(i * 13 + 1);
    myLocalMWMemCpy(d.data() + 1, s.data() + 3, n);
    EXPECT_EQ(d[0], 0xEE);
    EXPECT_EQ(0, std::memcmp(d.data() + 1, s.data() + 3, n)) << n;
    for (size_t i = n + 1; i < d.size(); ++i) EXPECT_EQ(d[i], 0xEE) << n;
  }
}

}  // namespace
