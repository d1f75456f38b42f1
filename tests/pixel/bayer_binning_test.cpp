#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pixel/BayerBinning.h"

namespace {

using Bin8 = void (*)(UInt8*, UInt32, UInt32, UInt32);
using Bin16 = void (*)(UInt16*, UInt32, UInt32, UInt32);

struct Form {
  const char* name;
  Bin8 bin8;
  Bin16 bin16;
  UInt32 flag;
  const char* rows[2];  // colours of rows 0 and 1, columns 0 and 1
};
const Form kForms[] = {
    {"RGGB flag 1", myBinBufferLRGBtoBayer8FixedRGGB, myBinBufferLRGBtoBayer16FloatRGGB, 1,
     {"RG", "GB"}},
    {"RGGB flag 0", myBinBufferLRGBtoBayer8FixedRGGB, myBinBufferLRGBtoBayer16FloatRGGB, 0,
     {"GB", "RG"}},
    {"BGGR flag 1", myBinBufferLRGBtoBayer8FixedBGGR, myBinBufferLRGBtoBayer16FloatBGGR, 1,
     {"GR", "BG"}},
    {"BGGR flag 0", myBinBufferLRGBtoBayer8FixedBGGR, myBinBufferLRGBtoBayer16FloatBGGR, 0,
     {"BG", "GR"}},
};

char colourAt(const Form& f, UInt32 x, UInt32 y) { return f.rows[y & 1u][x & 1u]; }

// A mosaic whose every red, green and blue sample has the given value.
template <typename T>
std::vector<T> flatColour(const Form& f, UInt32 w, UInt32 h, T r, T g, T b) {
  std::vector<T> m(w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const char c = colourAt(f, x, y);
      m[y * w + x] = c == 'R' ? r : c == 'G' ? g : b;
    }
  return m;
}

TEST(BayerBinning, GreyFrameGivesFourTimesEveryValue8Bit) {
  // Exactly sized frame with an odd width: the last column's block repeats
  // the last column pair and never reads past the frame.
  const UInt32 w = 5, h = 4;
  for (const Form& f : kForms)
    for (UInt32 v = 0; v <= 255; ++v) {
      std::vector<UInt8> m(w * h, UInt8(v));
      f.bin8(m.data(), w, h, f.flag);
      const UInt8 want = UInt8(v == 0 ? 0 : (4 * v >= 255 ? 255 : 4 * v));
      ASSERT_EQ(m, std::vector<UInt8>(w * h, want)) << f.name << " grey " << v;
    }
}

TEST(BayerBinning, GreyFrameGivesFourTimesEveryValue16Bit) {
  const UInt32 w = 4, h = 3;
  for (const Form& f : kForms)
    for (UInt32 v = 0; v <= 65535; ++v) {
      std::vector<UInt16> m(w * h, UInt16(v));
      f.bin16(m.data(), w, h, f.flag);
      const UInt16 want = UInt16(v == 0 ? 0 : (v >= 16384 ? 65535 : 4 * v));
      ASSERT_EQ(m, std::vector<UInt16>(w * h, want)) << f.name << " grey " << v;
    }
}

TEST(BayerBinning, ColourBlockKeepsEachSamplesShare) {
  // Every block: L = R + 2G + B, S = R + B + G. Red 40, green 20, blue 10:
  // L 90, S 70, shares floor(3 c 90 / 70) = 154, 77, 38. The 16-bit scene
  // 4000, 2000, 1000 gives 15428, 7714, 3857.
  const UInt32 w = 8, h = 6;
  for (const Form& f : kForms) {
    std::vector<UInt8> m8 = flatColour<UInt8>(f, w, h, 40, 20, 10);
    std::vector<UInt16> m16 = flatColour<UInt16>(f, w, h, 4000, 2000, 1000);
    f.bin8(m8.data(), w, h, f.flag);
    f.bin16(m16.data(), w, h, f.flag);
    EXPECT_EQ(m8, flatColour<UInt8>(f, w, h, 154, 77, 38)) << f.name;
    EXPECT_EQ(m16, flatColour<UInt16>(f, w, h, 15428, 7714, 3857)) << f.name;
  }
}

TEST(BayerBinning, DarkBlocksGiveZeroAndBrightOnesSaturate) {
  const UInt32 w = 6, h = 4;
  for (const Form& f : kForms) {
    // L = 3 -> 0, although 3 c L / S alone would not be.
    std::vector<UInt8> m = flatColour<UInt8>(f, w, h, 1, 1, 0);
    f.bin8(m.data(), w, h, f.flag);
    EXPECT_EQ(m, std::vector<UInt8>(w * h, 0)) << f.name;
    std::vector<UInt16> m16 = flatColour<UInt16>(f, w, h, 0, 1, 1);
    f.bin16(m16.data(), w, h, f.flag);
    EXPECT_EQ(m16, std::vector<UInt16>(w * h, 0)) << f.name;
    // L = 255 -> 255 whatever the colour.
    m = flatColour<UInt8>(f, w, h, 200, 25, 5);
    f.bin8(m.data(), w, h, f.flag);
    EXPECT_EQ(m, std::vector<UInt8>(w * h, 255)) << f.name;
    m16 = flatColour<UInt16>(f, w, h, 60000, 2000, 1535);
    f.bin16(m16.data(), w, h, f.flag);
    EXPECT_EQ(m16, std::vector<UInt16>(w * h, 65535)) << f.name;
  }
}

// Out-of-place reference straight from the description: colours by position,
// the 8-bit value as exact 16.16, the 16-bit one in double; the last column's
// block takes column width - 2 for the missing one; the last row copies row
// height - 3.
template <typename T>
std::vector<T> reference(const Form& f, const std::vector<T>& in, UInt32 w, UInt32 h) {
  std::vector<T> out = in;
  for (UInt32 y = 0; y + 1 < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const UInt32 cols[2] = {x, x + 1 < w ? x + 1 : w - 2};
      UInt64 L = 0, R = 0, B = 0, G = 0;
      for (UInt32 dy = 0; dy < 2; ++dy)
        for (UInt32 col : cols) {
          const UInt64 s = in[(y + dy) * w + col];
          L += s;
          const char c = colourAt(f, col, y + dy);
          (c == 'R' ? R : c == 'B' ? B : G) += s;
        }
      const UInt64 Gm = G >> 1, S = R + B + Gm;
      const char own = colourAt(f, x, y);
      const UInt64 c = own == 'R' ? R : own == 'B' ? B : Gm;
      UInt64 v;
      if (sizeof(T) == 1) {
        if (L <= 3) v = 0;
        else if (L >= 255) v = 255;
        else {
          const UInt64 fixed = (3 * c * L * 65536) / S;
          v = fixed < 65536 ? 0 : fixed > 0x00FE0000 ? 255 : fixed >> 16;
        }
      } else {
        if (L <= 3) v = 0;
        else if (L >= 65535) v = 65535;
        else {
          const double d = double(c) * 3.0 * (double(L) / double(S));
          v = d > 65535.0 ? 65535 : d < 1.0 ? 0 : UInt64(d);
        }
      }
      out[y * w + x] = T(v);
    }
  for (UInt32 x = 0; x < w; ++x) out[(h - 1) * w + x] = out[(h - 3) * w + x];
  return out;
}

TEST(BayerBinning, TexturedMosaicMatchesOutOfPlaceComputation) {
  for (UInt32 w : {2u, 7u, 16u})
    for (UInt32 h : {3u, 6u})
      for (const Form& f : kForms) {
        std::vector<UInt8> m8(w * h);
        std::vector<UInt16> m16(w * h);
        for (UInt32 i = 0; i < w * h; ++i) {
          const UInt32 hash = (i + 1) * 2654435761u;
          m8[i] = UInt8((hash >> 24) % 90);  // mostly below the 255 block limit
          m16[i] = UInt16(hash >> 17);
        }
        const std::vector<UInt8> want8 = reference(f, m8, w, h);
        const std::vector<UInt16> want16 = reference(f, m16, w, h);
        f.bin8(m8.data(), w, h, f.flag);
        f.bin16(m16.data(), w, h, f.flag);
        EXPECT_EQ(m8, want8) << f.name << " " << w << "x" << h;
        EXPECT_EQ(m16, want16) << f.name << " " << w << "x" << h;
        // The last row is the row two above it.
        for (UInt32 x = 0; x < w; ++x) EXPECT_EQ(m8[(h - 1) * w + x], m8[(h - 3) * w + x]);
      }
}

TEST(BayerBinning, FramesTooSmallAreLeftAlone) {
  struct Size { UInt32 w, h; };
  for (const Size s : {Size{1, 5}, Size{6, 2}, Size{6, 1}, Size{0, 0}})
    for (const Form& f : kForms) {
      std::vector<UInt8> m8(s.w * s.h, 50);
      std::vector<UInt16> m16(s.w * s.h, 5000);
      f.bin8(m8.data(), s.w, s.h, f.flag);
      f.bin16(m16.data(), s.w, s.h, f.flag);
      EXPECT_EQ(m8, std::vector<UInt8>(s.w * s.h, 50)) << f.name;
      EXPECT_EQ(m16, std::vector<UInt16>(s.w * s.h, 5000)) << f.name;
    }
}

}  // namespace
