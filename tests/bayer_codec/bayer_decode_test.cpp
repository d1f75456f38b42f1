// The ORX_BAYER demosaic engine against the frame-conversion kernels it
// shares its rules with, the independent method-2 golden and the edge cases
// of its dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bayer_codec/BayerDecode.h"
#include "media/BayerDemosaic.h"

namespace {

#include "tests/media/bayer_codec_golden.inc"

using Bytes = std::vector<UInt8>;
constexpr UInt8 kGuard = 0xA5;

// The four patterns, each with the landed kernels of its family and flag.
struct Pattern {
  const char* code;
  BayerDemosaicKernel lq8, mq8, hq8, lq16, mq16, hq16, lq16to32, mq16to32;
  UInt8 flag;
};
const Pattern kPatterns[] = {
    {"RGGB", BayerRGGB8_LQ_ARGB32, BayerRGGB8_MQ_ARGB32, BayerRGGB8_HQ_ARGB32, BayerRGGB16_LQ_RGB48,
     BayerRGGB16_MQ_RGB48, BayerRGGB16_HQ_RGB48, BayerRGGB16_LQ_ARGB32, BayerRGGB16_MQ_ARGB32, 1},
    {"GBRG", BayerRGGB8_LQ_ARGB32, BayerRGGB8_MQ_ARGB32, BayerRGGB8_HQ_ARGB32, BayerRGGB16_LQ_RGB48,
     BayerRGGB16_MQ_RGB48, BayerRGGB16_HQ_RGB48, BayerRGGB16_LQ_ARGB32, BayerRGGB16_MQ_ARGB32, 0},
    {"GRBG", BayerGRBG8_LQ_ARGB32, BayerGRBG8_MQ_ARGB32, BayerGRBG8_HQ_ARGB32, BayerGRBG16_LQ_RGB48,
     BayerGRBG16_MQ_RGB48, BayerGRBG16_HQ_RGB48, BayerGRBG16_LQ_ARGB32, BayerGRBG16_MQ_ARGB32, 1},
    {"BGGR", BayerGRBG8_LQ_ARGB32, BayerGRBG8_MQ_ARGB32, BayerGRBG8_HQ_ARGB32, BayerGRBG16_LQ_RGB48,
     BayerGRBG16_MQ_RGB48, BayerGRBG16_HQ_RGB48, BayerGRBG16_LQ_ARGB32, BayerGRBG16_MQ_ARGB32, 0},
};

UInt32 code(const char* s) {
  return (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) | UInt8(s[3]);
}

// The colour letter of sample (x, y) as the pattern's name spells it.
char colourAt(const char* pattern, UInt32 x, UInt32 y) { return pattern[2 * (y & 1) + (x & 1)]; }

// A frame of 16-bit samples in host order and the same frame big-endian.
struct Frame16 {
  Bytes host, be;
};
Frame16 frame16(const std::vector<UInt16>& v) {
  Frame16 f{Bytes(2 * v.size()), Bytes(2 * v.size())};
  for (size_t i = 0; i < v.size(); ++i) {
    std::memcpy(&f.host[2 * i], &v[i], 2);
    f.be[2 * i] = UInt8(v[i] >> 8);
    f.be[2 * i + 1] = UInt8(v[i]);
  }
  return f;
}

unsigned be16(const UInt8* p) { return (unsigned(p[0]) << 8) | p[1]; }
unsigned host16(const UInt8* p) {
  UInt16 v;
  std::memcpy(&v, p, 2);
  return v;
}

// Decodes into a dense destination of `bytes` a pixel followed by guard bytes,
// checks the guards and returns the rows.
Bytes decode(const Bytes& src, const char* pattern, SInt32 bps, UInt32 method, UInt32 bytes, UInt32 w, UInt32 h,
             UInt32 rowBytes = 0) {
  if (rowBytes == 0) rowBytes = bytes * w;
  Bytes dst(size_t(rowBytes) * h + 64, kGuard);
  Bayer_DecodetoPixMap(src.data(), dst.data(), code(pattern), bps, method, rowBytes, w, h);
  for (size_t i = size_t(rowBytes) * h; i < dst.size(); ++i) EXPECT_EQ(dst[i], kGuard) << "guard byte " << i;
  dst.resize(size_t(rowBytes) * h);
  return dst;
}

Bytes landed(BayerDemosaicKernel k, const Bytes& src, UInt8 flag, UInt32 bytes, UInt32 w, UInt32 h) {
  Bytes dst(size_t(bytes) * w * h, kGuard);
  k(src.data(), dst.data(), bytes * w, w, h, flag);
  return dst;
}

// 'b48r' (big-endian) to the host-order RGB48 of the landed kernels.
Bytes b48rToHost(const Bytes& b) {
  Bytes out(b.size());
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    const UInt16 v = UInt16(be16(&b[i]));
    std::memcpy(&out[i], &v, 2);
  }
  return out;
}

struct Size {
  UInt32 w, h;
};
const Size kSizes[] = {{640, 480}, {8, 6}, {7, 5}, {2, 2}, {1, 1}};

TEST(BayerDecode, MethodsZeroAndOneEqualTheLandedKernels) {
  std::mt19937 rng(67);
  for (const Size& s : kSizes) {
    const size_t n = size_t(s.w) * s.h;
    Bytes src8(n);
    for (auto& b : src8) b = UInt8(rng());
    std::vector<UInt16> v16(n);
    for (auto& v : v16) v = UInt16(rng());
    const Frame16 f = frame16(v16);
    for (const Pattern& p : kPatterns) {
      SCOPED_TRACE(std::string(p.code) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
      EXPECT_EQ(decode(src8, p.code, 1, 0, 4, s.w, s.h), landed(p.lq8, src8, p.flag, 4, s.w, s.h));
      EXPECT_EQ(decode(src8, p.code, 1, 1, 4, s.w, s.h), landed(p.mq8, src8, p.flag, 4, s.w, s.h));
      EXPECT_EQ(decode(f.be, p.code, 2, 0, 4, s.w, s.h), landed(p.lq16to32, f.host, p.flag, 4, s.w, s.h));
      EXPECT_EQ(decode(f.be, p.code, 2, 1, 4, s.w, s.h), landed(p.mq16to32, f.host, p.flag, 4, s.w, s.h));
      EXPECT_EQ(b48rToHost(decode(f.be, p.code, 2, 0, 6, s.w, s.h)), landed(p.lq16, f.host, p.flag, 6, s.w, s.h));
      const Bytes mq48 = landed(p.mq16, f.host, p.flag, 6, s.w, s.h);
      EXPECT_EQ(b48rToHost(decode(f.be, p.code, 2, 1, 6, s.w, s.h)), mq48);
      // 'b64a' is drawn bilinear by both methods: the bilinear colours behind A 65535.
      for (UInt32 method : {0u, 1u}) {
        const Bytes b64 = decode(f.be, p.code, 2, method, 8, s.w, s.h);
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) {
          same = be16(&b64[8 * i]) == 65535;
          for (int c = 0; c < 3; ++c) same = same && be16(&b64[8 * i + 2 + 2 * c]) == host16(&mq48[6 * i + 2 * c]);
        }
        EXPECT_TRUE(same) << "method " << method << " at 'b64a'";
      }
    }
  }
}

// Method 2 differs from the landed HQ kernels only in the diagonal gradients
// at green centres, so its red and blue sites equal theirs.
TEST(BayerDecode, MethodTwoEqualsTheLandedHighQualityAtRedAndBlueSites) {
  std::mt19937 rng(1999);
  for (const Size& s : kSizes) {
    const size_t n = size_t(s.w) * s.h;
    Bytes src8(n);
    for (auto& b : src8) b = UInt8(rng());
    std::vector<UInt16> v16(n);
    for (auto& v : v16) v = UInt16(rng());
    const Frame16 f = frame16(v16);
    for (const Pattern& p : kPatterns) {
      SCOPED_TRACE(std::string(p.code) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
      const Bytes got8 = decode(src8, p.code, 1, 2, 4, s.w, s.h);
      const Bytes want8 = landed(p.hq8, src8, p.flag, 4, s.w, s.h);
      const Bytes got48 = decode(f.be, p.code, 2, 2, 6, s.w, s.h);
      const Bytes want48 = landed(p.hq16, f.host, p.flag, 6, s.w, s.h);
      const Bytes got32 = decode(f.be, p.code, 2, 2, 4, s.w, s.h);
      UInt32 mismatches = 0, greenDiffers = 0;
      for (UInt32 y = 0; y < s.h; ++y)
        for (UInt32 x = 0; x < s.w; ++x) {
          const size_t i = size_t(y) * s.w + x;
          // Depth 32 from 16-bit samples: the high bytes of the 16-bit results.
          for (int c = 0; c < 3; ++c) mismatches += got32[4 * i + 1 + c] != got48[6 * i + 2 * c];
          mismatches += got32[4 * i] != 0xFF;
          const bool same = std::memcmp(&got8[4 * i], &want8[4 * i], 4) == 0 &&
                            b48rToHost(Bytes(got48.begin() + 6 * i, got48.begin() + 6 * i + 6)) ==
                                Bytes(want48.begin() + 6 * i, want48.begin() + 6 * i + 6);
          if (colourAt(p.code, x, y) == 'G') greenDiffers += !same;
          else mismatches += !same;
        }
      EXPECT_EQ(mismatches, 0u);
      if (s.w == 640) {
        EXPECT_GT(greenDiffers, 0u) << "the green-centre diagonals must differ somewhere";
      }
    }
  }
}

TEST(BayerDecode, MethodTwoMatchesTheScript) {
  Bytes src8(kCodec8In8x8[0], kCodec8In8x8[0] + 64);
  const Frame16 f = frame16(std::vector<UInt16>(kCodec16In8x8[0], kCodec16In8x8[0] + 64));
  for (int p = 0; p < 4; ++p) {
    const char* pattern = kPatterns[p].code;
    SCOPED_TRACE(pattern);
    EXPECT_EQ(decode(src8, pattern, 1, 2, 4, 8, 8), Bytes(kCodec8Method2Depth32[p], kCodec8Method2Depth32[p] + 256));
    EXPECT_EQ(decode(f.be, pattern, 2, 2, 4, 8, 8),
              Bytes(kCodec16Method2Depth32[p], kCodec16Method2Depth32[p] + 256));
    EXPECT_EQ(decode(f.be, pattern, 2, 2, 6, 8, 8),
              Bytes(kCodec16Method2Depth48[p], kCodec16Method2Depth48[p] + 384));
    EXPECT_EQ(decode(f.be, pattern, 2, 2, 8, 8, 8),
              Bytes(kCodec16Method2Depth64[p], kCodec16Method2Depth64[p] + 512));
  }
}

// Rings around the centre: 100, then 104, then 108 (a Chebyshev cone). All
// eight gradients are 3 x 4; only the mean over all eight directions gives
// these results (the four straight ones alone, or the diagonals alone, give
// other greens at a red centre).
TEST(BayerDecode, EqualGradientsTakeAllEightDirections) {
  UInt16 window[25];
  for (int r = -2; r <= 2; ++r)
    for (int c = -2; c <= 2; ++c) window[5 * (r + 2) + (c + 2)] = UInt16(100 + 4 * std::max(std::abs(r), std::abs(c)));
  UInt16 red, green, blue;
  myWindowToPixels(window, 0, 1, 255, &red, &green, &blue);
  EXPECT_EQ(red, 100);
  EXPECT_EQ(green, 101);
  EXPECT_EQ(blue, 100);
  myWindowToPixels(window, 1, 1, 255, &red, &green, &blue);
  EXPECT_EQ(red, 101);
  EXPECT_EQ(green, 100);
  EXPECT_EQ(blue, 101);
}

TEST(BayerDecode, DepthAndPatternDispatch) {
  const UInt32 w = 8, h = 6;
  std::mt19937 rng(4);
  Bytes src8(w * h);
  for (auto& b : src8) b = UInt8(rng());
  // 8-bit input is ARGB whatever rowBytes says.
  const Bytes at4 = decode(src8, "BGGR", 1, 1, 4, w, h);
  const Bytes at6 = decode(src8, "BGGR", 1, 1, 4, w, h, 6 * w);
  for (UInt32 y = 0; y < h; ++y) {
    EXPECT_TRUE(std::equal(at4.begin() + 4 * w * y, at4.begin() + 4 * w * (y + 1), at6.begin() + 6 * w * y));
    for (UInt32 x = 0; x < w; ++x) EXPECT_EQ(at4[4 * (w * y + x)], 0xFF);
    for (UInt32 i = 4 * w; i < 6 * w; ++i) EXPECT_EQ(at6[6 * w * y + i], kGuard);
  }
  // 16-bit input at depth 40 is not drawn.
  Bytes src16(2 * w * h);
  for (auto& b : src16) b = UInt8(rng());
  for (UInt32 method : {0u, 1u, 2u}) {
    const Bytes d40 = decode(src16, "RGGB", 2, method, 5, w, h);
    EXPECT_EQ(d40, Bytes(d40.size(), kGuard)) << "method " << method;
  }
  // Any other pattern code is 'BGGR'; any other method draws nothing.
  for (UInt32 method : {0u, 1u, 2u}) {
    EXPECT_EQ(decode(src8, "XYZW", 1, method, 4, w, h), decode(src8, "BGGR", 1, method, 4, w, h));
    EXPECT_EQ(decode(src16, "\0\0\0\0", 2, method, 6, w, h), decode(src16, "BGGR", 2, method, 6, w, h));
  }
  for (UInt32 method : {3u, 254u, 256u}) {
    const Bytes none = decode(src8, "RGGB", 1, method, 4, w, h);
    EXPECT_EQ(none, Bytes(none.size(), kGuard)) << "method " << method;
  }
  // No pixels, no writes.
  for (UInt32 method : {0u, 1u, 2u, 255u}) {
    Bytes dst(64, kGuard);
    Bayer_DecodetoPixMap(src8.data(), dst.data(), code("RGGB"), 1, method, 0, 0, 4);
    Bayer_DecodetoPixMap(src8.data(), dst.data(), code("RGGB"), 1, method, 32, 8, 0);
    EXPECT_EQ(dst, Bytes(64, kGuard));
  }
}

TEST(BayerDecode, RawCopyAndCellLastRow) {
  const UInt32 w = 8, h = 6;
  std::mt19937 rng(5);
  Bytes src(2 * w * h);
  for (auto& b : src) b = UInt8(rng());
  // Method 255: width bytes from offset y x width into row y, for any sample width.
  for (SInt32 bps : {1, 2}) {
    const UInt32 rowBytes = 4 * w;
    const Bytes d = decode(src, "GRBG", bps, 255, 4, w, h);
    for (UInt32 y = 0; y < h; ++y) {
      EXPECT_TRUE(std::equal(src.begin() + w * y, src.begin() + w * (y + 1), d.begin() + rowBytes * y));
      for (UInt32 i = w; i < rowBytes; ++i) EXPECT_EQ(d[rowBytes * y + i], kGuard);
    }
  }
  // Method 0: the last row repeats the row above it.
  for (UInt32 bytes : {4u, 6u}) {
    const Bytes d = decode(src, "GBRG", 2, 0, bytes, w, h);
    EXPECT_TRUE(std::equal(d.end() - bytes * w, d.end(), d.end() - 2 * bytes * w));
  }
}

TEST(BayerDecode, MethodTwoKeepsAFlatGrey) {
  const UInt32 w = 9, h = 7;
  for (UInt16 grey : {UInt16(0), UInt16(40000), UInt16(65535)}) {
    const Frame16 f = frame16(std::vector<UInt16>(w * h, grey));
    const Bytes src8(w * h, UInt8(grey >> 8));
    for (const Pattern& p : kPatterns) {
      const Bytes b48 = decode(f.be, p.code, 2, 2, 6, w, h);
      for (size_t i = 0; i < b48.size(); i += 2) ASSERT_EQ(be16(&b48[i]), grey) << p.code;
      const Bytes argb = decode(src8, p.code, 1, 2, 4, w, h);
      for (size_t i = 0; i < argb.size(); ++i) ASSERT_EQ(argb[i], i % 4 ? UInt8(grey >> 8) : 0xFF) << p.code;
    }
  }
}

// A pure red, green or blue picture mosaicked in each pattern comes back
// exact away from the border: a swapped family or row phase shows at once.
TEST(BayerDecode, PureColoursSurviveMethodsZeroAndOne) {
  const UInt32 w = 12, h = 10;
  const char* names = "RGB";
  for (const Pattern& p : kPatterns) {
    for (int colour = 0; colour < 3; ++colour) {
      std::vector<UInt16> v(w * h);
      Bytes src8(w * h);
      for (UInt32 y = 0; y < h; ++y)
        for (UInt32 x = 0; x < w; ++x) {
          const bool lit = colourAt(p.code, x, y) == names[colour];
          v[y * w + x] = lit ? 52000 : 0;
          src8[y * w + x] = lit ? 203 : 0;
        }
      const Frame16 f = frame16(v);
      for (UInt32 method : {0u, 1u}) {
        SCOPED_TRACE(std::string(p.code) + " colour " + names[colour] + " method " + std::to_string(method));
        const Bytes argb = decode(src8, p.code, 1, method, 4, w, h);
        const Bytes b48 = decode(f.be, p.code, 2, method, 6, w, h);
        for (UInt32 y = 1; y + 1 < h; ++y)
          for (UInt32 x = 1; x + 1 < w; ++x)
            for (int c = 0; c < 3; ++c) {
              const size_t i = y * w + x;
              ASSERT_EQ(argb[4 * i + 1 + c], c == colour ? 203 : 0) << x << "," << y;
              ASSERT_EQ(be16(&b48[6 * i + 2 * c]), c == colour ? 52000u : 0u) << x << "," << y;
            }
      }
    }
  }
}

}  // namespace

namespace {

// The whole-frame converters of method 2 (vector rows included) equal the
// window routines applied pixel by pixel.
TEST(BayerDecode, MethodTwoEqualsItsWindowRoutines) {
  const Size sizes[] = {{643, 7}, {37, 5}, {16, 3}, {3, 3}};
  std::mt19937 rng(103);
  for (const Size& s : sizes) {
    const size_t n = size_t(s.w) * s.h;
    Bytes src8(n);
    for (auto& b : src8) b = UInt8(rng());
    std::vector<UInt16> v16(n);
    for (auto& v : v16) v = UInt16(rng() % 7 == 0 ? 65535 : rng());
    const Frame16 f = frame16(v16);
    for (const Pattern& p : kPatterns) {
      SCOPED_TRACE(std::string(p.code) + " " + std::to_string(s.w) + "x" + std::to_string(s.h));
      const Bytes got8 = decode(src8, p.code, 1, 2, 4, s.w, s.h);
      const Bytes got48 = decode(f.be, p.code, 2, 2, 6, s.w, s.h);
      UInt32 mismatches = 0;
      for (UInt32 y = 0; y < s.h; ++y)
        for (UInt32 x = 0; x < s.w; ++x) {
          const char c = colourAt(p.code, x, y);
          // The red-row flag: the centre's own colour, or at a green centre the
          // colour of its row, is red.
          const bool redRow = c == 'R' || (c == 'G' && colourAt(p.code, x ^ 1, y) == 'R');
          UInt16 window[25], r, g, b;
          const size_t i = size_t(y) * s.w + x;
          ASSERT_EQ(myFillBayerWindow8(src8.data(), s.w, s.h, x, y, window), 0);
          myWindowToPixels(window, c == 'G', redRow, 255, &r, &g, &b);
          mismatches += got8[4 * i + 1] != r || got8[4 * i + 2] != g || got8[4 * i + 3] != b;
          ASSERT_EQ(myFillBayerWindow16(f.host.data(), s.w, s.h, x, y, window), 0);
          myWindowToPixels(window, c == 'G', redRow, 65535, &r, &g, &b);
          mismatches += be16(&got48[6 * i]) != r || be16(&got48[6 * i + 2]) != g || be16(&got48[6 * i + 4]) != b;
        }
      EXPECT_EQ(mismatches, 0u);
    }
  }
  UInt16 window[25];
  EXPECT_EQ(myFillBayerWindow8(kCodec8In8x8[0], 8, 8, 8, 0, window), -1);
  EXPECT_EQ(myFillBayerWindow16(kCodec16In8x8[0], 8, 8, 0, 8, window), -1);
}

}  // namespace
