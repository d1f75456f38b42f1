#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pixel/BayerWhiteBalance.h"

namespace {

using Avg8 = void (*)(const UInt8*, UInt32, UInt32, UInt32, UInt8*, UInt8*, UInt8*);
using Avg16 = void (*)(const UInt16*, UInt32, UInt32, UInt32, UInt8*, UInt8*, UInt8*);
using Spot8 = void (*)(const UInt8*, UInt32, UInt32, UInt32, UInt32, UInt32, UInt32, UInt8*,
                       UInt8*, UInt8*);
using Spot16 = void (*)(const UInt16*, UInt32, UInt32, UInt32, UInt32, UInt32, UInt32, UInt8*,
                        UInt8*, UInt8*);

struct Form {
  const char* name;
  Avg8 avg8;
  Avg16 avg16;
  Spot8 spot8;
  Spot16 spot16;
  UInt32 flag;
  const char* rows[2];  // colours of rows 0 and 1, columns 0 and 1
};
const Form kForms[] = {
    {"RGGB flag 1", myGetBayerRGGBAverages8Bit, myGetBayerRGGBAverages16Bit,
     myGetBayerRGGBSpotAverages8Bit, myGetBayerRGGBSpotAverages16Bit, 1, {"RG", "GB"}},
    {"RGGB flag 0", myGetBayerRGGBAverages8Bit, myGetBayerRGGBAverages16Bit,
     myGetBayerRGGBSpotAverages8Bit, myGetBayerRGGBSpotAverages16Bit, 0, {"GB", "RG"}},
    {"BGGR flag 1", myGetBayerBGGRBAverages8Bit, myGetBayerBGGRBAverages16Bit,
     myGetBayerBGGRSpotAverages8Bit, myGetBayerBGGRSpotAverages16Bit, 1, {"GR", "BG"}},
    {"BGGR flag 0", myGetBayerBGGRBAverages8Bit, myGetBayerBGGRBAverages16Bit,
     myGetBayerBGGRSpotAverages8Bit, myGetBayerBGGRSpotAverages16Bit, 0, {"BG", "GR"}},
};

// A mosaic whose reds, greens and blues take their values in turn from the
// given lists (in scan order), scaled by `scale`.
template <typename T>
std::vector<T> mosaic(const Form& f, UInt32 w, UInt32 h, const std::vector<UInt32>& reds,
                      const std::vector<UInt32>& greens, const std::vector<UInt32>& blues,
                      UInt32 scale = 1) {
  std::vector<T> m(w * h);
  std::size_t ir = 0, ig = 0, ib = 0;
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const char c = f.rows[y & 1u][x & 1u];
      const UInt32 v = c == 'R'   ? reds[ir++ % reds.size()]
                       : c == 'G' ? greens[ig++ % greens.size()]
                                  : blues[ib++ % blues.size()];
      m[y * w + x] = T(v * scale);
    }
  return m;
}

struct Rgb {
  UInt8 r = 0xAA, g = 0xAA, b = 0xAA;
  bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Rgb& c) {
  return o << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

TEST(BayerAverages, FrameAveragesPerFamilyAndFlagRoundTiesToEven) {
  // 4 x 2 frame, N = 8: two reds 10 and 11 give round(21 x 4 / 8) = round(10.5)
  // = 10; four greens 1, 2, 1, 2 give round(6 x 2 / 8) = round(1.5) = 2; two
  // blues 50 and 60 give 55. The 16-bit frame is the same x 257.
  for (const Form& f : kForms) {
    const std::vector<UInt32> r = {10, 11}, g = {1, 2}, b = {50, 60};
    Rgb a8, a16;
    f.avg8(mosaic<UInt8>(f, 4, 2, r, g, b).data(), 4, 2, f.flag, &a8.r, &a8.g, &a8.b);
    f.avg16(mosaic<UInt16>(f, 4, 2, r, g, b, 257).data(), 4, 2, f.flag, &a16.r, &a16.g, &a16.b);
    EXPECT_EQ(a8, (Rgb{10, 2, 55})) << f.name;
    EXPECT_EQ(a16, (Rgb{10, 2, 55})) << f.name;
    // Reds 11 and 12: 11.5 goes up to 12.
    f.avg8(mosaic<UInt8>(f, 4, 2, {11, 12}, g, b).data(), 4, 2, f.flag, &a8.r, &a8.g, &a8.b);
    EXPECT_EQ(a8.r, 12) << f.name;
  }
}

TEST(BayerAverages, LargerFrameAndFullScale16Bit) {
  const UInt32 w = 64, h = 48;
  for (const Form& f : kForms) {
    Rgb a8, a16, full;
    f.avg8(mosaic<UInt8>(f, w, h, {190, 210}, {90, 110, 100}, {25, 35}).data(), w, h, f.flag,
           &a8.r, &a8.g, &a8.b);
    EXPECT_EQ(a8, (Rgb{200, 100, 30})) << f.name;
    f.avg16(mosaic<UInt16>(f, w, h, {190, 210}, {90, 110, 100}, {25, 35}, 257).data(), w, h,
            f.flag, &a16.r, &a16.g, &a16.b);
    EXPECT_EQ(a16, (Rgb{200, 100, 30})) << f.name;
    const std::vector<UInt16> white(w * h, 65535);
    f.avg16(white.data(), w, h, f.flag, &full.r, &full.g, &full.b);
    EXPECT_EQ(full, (Rgb{255, 255, 255})) << f.name;
  }
}

TEST(BayerAverages, SpotColoursFollowAbsolutePositions) {
  // Flat colours 200, 100, 30 everywhere except a bright border row and
  // column that a correct spot never touches. A spot at an odd x or y sees
  // the same colours as one at an even x.
  const UInt32 w = 12, h = 10;
  for (const Form& f : kForms) {
    std::vector<UInt8> m8 = mosaic<UInt8>(f, w, h, {200}, {100}, {30});
    std::vector<UInt16> m16 = mosaic<UInt16>(f, w, h, {200}, {100}, {30}, 257);
    for (UInt32 x = 0; x < w; ++x) m8[x] = 255, m16[x] = 65535;
    for (UInt32 y = 0; y < h; ++y) m8[y * w] = 255, m16[y * w] = 65535;
    struct Spot { UInt32 x, y, size; };
    for (const Spot s : {Spot{2, 2, 4}, Spot{3, 2, 4}, Spot{3, 3, 6}, Spot{1, 1, 8}}) {
      Rgb a8, a16;
      f.spot8(m8.data(), w, h, s.x, s.y, s.size, f.flag, &a8.r, &a8.g, &a8.b);
      f.spot16(m16.data(), w, h, s.x, s.y, s.size, f.flag, &a16.r, &a16.g, &a16.b);
      EXPECT_EQ(a8, (Rgb{200, 100, 30})) << f.name << " at " << s.x << "," << s.y;
      EXPECT_EQ(a16, (Rgb{200, 100, 30})) << f.name << " at " << s.x << "," << s.y;
    }
  }
}

TEST(BayerAverages, SpotNearTheEdgeIsClippedToTheFrame) {
  // Exactly sized buffers. A 6 x 6 spot at the last 2 x 2 block holds one
  // sample of each colour there and counts only those four: the bottom-right
  // block is red 40, greens 80 and 100, blue 8; the rest of the frame is 0.
  const UInt32 w = 10, h = 8;
  for (const Form& f : kForms) {
    std::vector<UInt8> m8(w * h, 0);
    std::vector<UInt16> m16(w * h, 0);
    UInt32 greens = 0;
    for (UInt32 y = h - 2; y < h; ++y)
      for (UInt32 x = w - 2; x < w; ++x) {
        const char c = f.rows[y & 1u][x & 1u];
        const UInt32 v = c == 'R' ? 40 : c == 'B' ? 8 : (greens++ == 0 ? 80 : 100);
        m8[y * w + x] = UInt8(v);
        m16[y * w + x] = UInt16(v * 257);
      }
    Rgb a8, a16;
    f.spot8(m8.data(), w, h, w - 2, h - 2, 6, f.flag, &a8.r, &a8.g, &a8.b);
    f.spot16(m16.data(), w, h, w - 2, h - 2, 6, f.flag, &a16.r, &a16.g, &a16.b);
    EXPECT_EQ(a8, (Rgb{40, 90, 8})) << f.name;
    EXPECT_EQ(a16, (Rgb{40, 90, 8})) << f.name;
    // A spot wholly outside the frame, or of size 0, measures nothing.
    Rgb untouched;
    f.spot8(m8.data(), w, h, w, 0, 4, f.flag, &untouched.r, &untouched.g, &untouched.b);
    f.spot8(m8.data(), w, h, 0, h, 4, f.flag, &untouched.r, &untouched.g, &untouched.b);
    f.spot8(m8.data(), w, h, 2, 2, 0, f.flag, &untouched.r, &untouched.g, &untouched.b);
    f.spot16(m16.data(), w, h, 0xFFFFFFF0u, 2, 0x20, f.flag, &untouched.r, &untouched.g,
             &untouched.b);
    EXPECT_EQ(untouched, Rgb{}) << f.name;
    // A square whose end would wrap past 2^32 is clipped too.
    f.spot8(m8.data(), w, h, w - 2, h - 2, 0xFFFFFFFFu, f.flag, &a8.r, &a8.g, &a8.b);
    EXPECT_EQ(a8, (Rgb{40, 90, 8})) << f.name;
  }
}

TEST(BayerAverages, BrightOddSizedAreaStaysAt255) {
  // A 3 x 3 white RGGB frame (R G R / G B G / R G R) holds 4 reds, 4 greens
  // and 1 blue among 9 samples: red 255 x 4 x 4 / 9 = 453 is kept at 255, not
  // wrapped to its low byte; green 255 x 4 x 2 / 9 = 226.7 gives 227, blue
  // 255 x 4 / 9 = 113.3 gives 113. BGGR with flag 0 is the same with red and
  // blue exchanged.
  const std::vector<UInt8> white(9, 255);
  Rgb a;
  myGetBayerRGGBAverages8Bit(white.data(), 3, 3, 1, &a.r, &a.g, &a.b);
  EXPECT_EQ(a, (Rgb{255, 227, 113}));
  myGetBayerBGGRBAverages8Bit(white.data(), 3, 3, 0, &a.r, &a.g, &a.b);
  EXPECT_EQ(a, (Rgb{113, 227, 255}));
}

}  // namespace
