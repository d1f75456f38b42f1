#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/BayerDemosaic.h"
#include "media/MediaMemory.h"
#include "media/MediaSIMD.h"
#include "media/RawFrameConversion.h"
#include "platform/simcamera/SimScene.h"

namespace {

#include "demosaic_golden.inc"

// The converters read only the flags of the handle: a camera without a
// vector unit, as on every host of this system.
MyDCAMCameraStruct* testCamera() {
  static MyDCAMCameraStruct camera{};
  return &camera;
}

UInt32 code(const char* s) {
  return (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) | UInt8(s[3]);
}

// Packs 12-bit samples two to three bytes: b0 = p0 >> 4,
// b1 = (p0 & 15) | (p1 & 15) << 4, b2 = p1 >> 4. An odd last sample leaves
// only its top 8 bits.
std::vector<UInt8> pack12(const std::vector<UInt16>& s) {
  std::vector<UInt8> out;
  size_t i = 0;
  for (; i + 1 < s.size(); i += 2) {
    out.push_back(UInt8(s[i] >> 4));
    out.push_back(UInt8((s[i] & 15) | ((s[i + 1] & 15) << 4)));
    out.push_back(UInt8(s[i + 1] >> 4));
  }
  if (i < s.size()) out.push_back(UInt8(s[i] >> 4));
  return out;
}

std::vector<UInt16> random12(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UInt16> v(n);
  for (auto& x : v) x = UInt16(rng() & 0xFFF);
  return v;
}

std::vector<UInt8> randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UInt8> v(n);
  for (auto& x : v) x = UInt8(rng());
  return v;
}

TEST(RawFrameToARGB32, DispatchTableOfCodesAndDepths) {
  struct Case {
    const char* code;
    UInt32 bits;
    OSStatus status;
  };
  const Case cases[] = {
      {"raw ", 8, 0},     {"raw ", 12, 0},    {"raw ", 16, 0},    {"raw ", 24, 0},    {"raw ", 32, 0},
      {"raw ", 48, 0},    {"raw ", 10, -50},  {"raw ", 0, -50},   {"raw ", 64, -50},  {"raw ", 36, -50},
      {"2vuy", 16, 0},    {"2vuy", 8, -50},   {"v308", 24, 0},    {"v308", 16, -50},  {"Y411", 12, 0},
      {"Y411", 16, -50},  {"blRG", 8, 0},     {"bmGR", 12, 0},    {"bhGB", 16, 0},    {"bmBG", 24, 0},
      {"mlRG", 8, 0},     {"mmBG", 12, 0},    {"mHGR", 16, 0},    {"mHGB", 32, 0},    {"mhRG", 8, -50},
      {"bHRG", 8, -50},   {"b16g", 16, -50},  {"b48r", 48, -50},  {"bmXY", 8, -50},   {"bmRR", 8, -50},
      {"bmrg", 8, -50},   {"ARGB", 32, -50},  {"mxRG", 8, -50},   {"blGG", 16, -50},
  };
  // Every accepted route's pixels come from demosaic_golden.py, which derives
  // them from the rules of each route: unpacking, kernel family,
  // start-row flag, quality and YUV arithmetic.
  const UInt32 w = 8, h = 6, rowBytes = w * 4 + 8;
  const std::vector<UInt8> src(kDispatchIn8x6[0], kDispatchIn8x6[0] + w * h * 6);
  for (const Case& c : cases) {
    std::vector<UInt8> dst(rowBytes * h, 0x5A);
    const OSStatus st =
        ORXDCAMConvertRawFrameToARGB32(testCamera(), src.data(), w, h, code(c.code), c.bits, dst.data(), rowBytes);
    EXPECT_EQ(st, c.status) << c.code << " " << c.bits;
    if (st != 0) {
      EXPECT_EQ(dst, std::vector<UInt8>(rowBytes * h, 0x5A)) << c.code << " " << c.bits << " wrote on refusal";
      continue;
    }
    const UInt8* want = nullptr;
    for (const auto& g : kDispatchGolden)
      if (std::strcmp(g.code, c.code) == 0 && g.bits == c.bits) want = g.argb;
    ASSERT_NE(want, nullptr) << c.code << " " << c.bits << " has no golden pixels";
    for (UInt32 y = 0; y < h; ++y) {
      for (UInt32 x = 0; x < w; ++x)
        for (UInt32 b = 0; b < 4; ++b)
          EXPECT_EQ(dst[y * rowBytes + x * 4 + b], want[(y * w + x) * 4 + b])
              << c.code << " " << c.bits << " pixel " << x << "," << y << " byte " << b;
      for (UInt32 i = w * 4; i < rowBytes; ++i) EXPECT_EQ(dst[y * rowBytes + i], 0x5A) << c.code << " row padding";
    }
  }
}

TEST(RawFrameToARGB32, NullArgumentsAreRefused) {
  UInt8 src[64] = {}, dst[64];
  EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(nullptr, src, 2, 2, code("raw "), 8, dst, 8), -50);
  EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), nullptr, 2, 2, code("raw "), 8, dst, 8), -50);
  EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), src, 2, 2, code("raw "), 8, nullptr, 8), -50);
  EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(nullptr, src, 2, 2, code("bmRG"), 16, dst, 12), -50);
  EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), nullptr, 2, 2, code("bmRG"), 16, dst, 12), -50);
  EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), src, 2, 2, code("bmRG"), 16, nullptr, 12), -50);
}

TEST(RawFrameToRGB48, OnlyColourBayerCodesAtTwelveOrSixteenBits) {
  struct Case {
    const char* code;
    UInt32 bits;
    OSStatus status;
  };
  const Case cases[] = {{"blRG", 16, 0},   {"bmGB", 12, 0},   {"bhBG", 16, 0},   {"bhGR", 12, 0},
                        {"bmRG", 8, -50},  {"bmRG", 24, -50}, {"mmRG", 16, -50}, {"mHGB", 12, -50},
                        {"raw ", 16, -50}, {"b48r", 48, -50}, {"bHRG", 16, -50}, {"2vuy", 16, -50}};
  const UInt32 w = 6, h = 4;
  const std::vector<UInt8> src = randomBytes(w * h * 2, 2);
  for (const Case& c : cases) {
    std::vector<UInt8> dst(w * h * 6, 0x5A);
    EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), src.data(), w, h, code(c.code), c.bits, dst.data(), w * 6),
              c.status)
        << c.code << " " << c.bits;
    if (c.status != 0) {
      EXPECT_EQ(dst, std::vector<UInt8>(w * h * 6, 0x5A)) << c.code << " " << c.bits;
    }
  }
}

// Bytes AB CD EF carry the samples 0xABD and 0xEFC.
TEST(TwelveBitFrames, TestVectorOnBothPaths) {
  const UInt8 frame[3] = {0xAB, 0xCD, 0xEF};
  UInt8 argb[8];
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), frame, 2, 1, code("raw "), 12, argb, 8), 0);
  const UInt8 expected[8] = {0xFF, 0xAB, 0xAB, 0xAB, 0xFF, 0xEF, 0xEF, 0xEF};
  EXPECT_EQ(0, std::memcmp(argb, expected, 8));

  UInt16 wide[2];
  myUnpack12BitTo16(frame, wide, 2, 1);
  EXPECT_EQ(wide[0], 0xABD0);
  EXPECT_EQ(wide[1], 0xEFC0);

  // A flat mosaic of 0xABD (bytes AB DD AB) demosaics to 0xABD0 everywhere.
  const UInt32 w = 4, h = 4;
  std::vector<UInt8> flat;
  for (UInt32 i = 0; i < w * h / 2; ++i) flat.insert(flat.end(), {0xAB, 0xDD, 0xAB});
  for (const char* c : {"blRG", "bmGB", "bhBG"}) {
    std::vector<UInt16> rgb(w * h * 3);
    ASSERT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), flat.data(), w, h, code(c), 12, rgb.data(), w * 6), 0);
    EXPECT_EQ(rgb, std::vector<UInt16>(w * h * 3, 0xABD0)) << c;
  }
}

// A 640 x 480 grey frame gives exactly 480 rows, each pixel the top 8 bits
// of its sample; the row after the frame stays as it was.
TEST(TwelveBitFrames, FullFrameShowsTopEightBitsOfEverySample) {
  const UInt32 w = 640, h = 480;
  const std::vector<UInt16> samples = random12(w * h, 3);
  const std::vector<UInt8> packed = pack12(samples);
  ASSERT_EQ(packed.size(), size_t(w * h * 3 / 2));
  std::vector<UInt8> dst(size_t(w) * 4 * (h + 1), 0x5A);
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("raw "), 12, dst.data(), w * 4), 0);
  for (UInt32 i = 0; i < w * h; ++i) {
    const UInt8 top = UInt8(samples[i] >> 4);
    const UInt8* p = &dst[size_t(i) * 4];
    ASSERT_TRUE(p[0] == 0xFF && p[1] == top && p[2] == top && p[3] == top) << "pixel " << i;
  }
  for (size_t i = size_t(w) * 4 * h; i < dst.size(); ++i) ASSERT_EQ(dst[i], 0x5A);
}

// Frames of the simulated sky at 12 bits, packed as the camera sends them:
// the grey preview shows the top 8 bits of every scene sample, and a GBRG
// mosaic (BayerFormat 2, code 'bmBG') widens to exactly the scene's samples
// << 4 before the demosaic.
TEST(TwelveBitFrames, SimulatedSkyDecodesToTheSceneSamples) {
  SimSceneSettings settings;
  settings.kind = SimSceneKind::Planet;
  const UInt32 w = settings.width, h = settings.height;
  const SimScene scene(settings);
  std::vector<UInt16> mono(size_t(w) * h), mosaic(size_t(w) * h);
  scene.RenderMono(3, 1.0, 12, mono.data());
  const double balance[3] = {1.0, 1.0, 1.0};
  scene.RenderBayer(3, 1.0, balance, 2, 12, mosaic.data());

  const std::vector<UInt8> packedMono = pack12(mono);
  std::vector<UInt8> argb(size_t(w) * h * 4);
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packedMono.data(), w, h, code("raw "), 12, argb.data(), w * 4),
            0);
  for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(argb[i * 4 + 1], mono[i] >> 4) << i;

  const std::vector<UInt8> packedMosaic = pack12(mosaic);
  std::vector<UInt16> wide(mosaic.size()), want(mosaic.size() * 3), got(mosaic.size() * 3);
  for (size_t i = 0; i < mosaic.size(); ++i) wide[i] = UInt16(mosaic[i] << 4);
  myUnpack12BitTo16(packedMosaic.data(), got.data(), w, h);
  EXPECT_TRUE(std::equal(wide.begin(), wide.end(), got.begin()));
  BayerRGGB16_MQ_RGB48(wide.data(), want.data(), w * 6, w, h, 0);
  ASSERT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packedMosaic.data(), w, h, code("bmBG"), 12, got.data(), w * 6),
            0);
  EXPECT_EQ(got, want);
}

// 5 x 3 = 15 samples in 22 bytes: seven whole triples, then the top 8 bits
// of the last sample. Buffers are exactly sized so ASan sees any overrun.
TEST(TwelveBitFrames, OddPixelCountUnpacksWholeTriplesAndTheLastTopByte) {
  const UInt32 w = 5, h = 3;
  const std::vector<UInt16> samples = random12(w * h, 4);
  const std::vector<UInt8> packed = pack12(samples);
  ASSERT_EQ(packed.size(), 22u);
  std::vector<UInt8> argb(w * h * 4);
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("raw "), 12, argb.data(), w * 4), 0);
  for (UInt32 i = 0; i < w * h; ++i) EXPECT_EQ(argb[i * 4 + 1], samples[i] >> 4) << i;

  std::vector<UInt16> wide(w * h);
  myUnpack12BitTo16(packed.data(), wide.data(), w, h);
  for (UInt32 i = 0; i + 1 < w * h; ++i) EXPECT_EQ(wide[i], samples[i] << 4) << i;
  EXPECT_EQ(wide[w * h - 1], (samples[w * h - 1] >> 4) << 8);

  std::vector<UInt16> rgb(w * h * 3);
  EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packed.data(), w, h, code("bmRG"), 12, rgb.data(), w * 6), 0);
  std::vector<UInt8> grey(w * h * 4);
  EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("mmRG"), 12, grey.data(), w * 4), 0);
}

// Every Bayer code against the demosaic kernel its letters name: colour
// 'RG' RGGB, 'GR' GRBG, 'BG' GBRG (RGGB family, row 0 blue), 'GB' BGGR (GRBG
// family, row 0 blue); grey codes name row 0: 'BG' BGGR, 'GB' GBRG.
struct PairCase {
  const char* pair;
  bool colourGRBG;
  UInt8 colourFlag;
  bool greyGRBG;
  UInt8 greyFlag;
};
const PairCase kPairs[] = {
    {"RG", false, 1, false, 1}, {"GR", true, 1, true, 1}, {"BG", false, 0, true, 0}, {"GB", true, 0, false, 0}};

std::string bayerCode(char first, char quality, const char* pair) {
  return std::string{first, quality, pair[0], pair[1]};
}
UInt32 code(const std::string& s) { return code(s.c_str()); }

TEST(BayerFrames, EveryCodeDecodesWithTheKernelItsLettersName) {
  const UInt32 w = 12, h = 8;
  const std::vector<UInt16> s12 = random12(w * h, 5);
  const std::vector<UInt8> packed = pack12(s12);
  std::vector<UInt8> s8(w * h), top12(w * h);
  std::vector<UInt16> s16(w * h), wide12(w * h);
  std::mt19937 rng(6);
  for (UInt32 i = 0; i < w * h; ++i) {
    s16[i] = UInt16(rng());
    s8[i] = UInt8(rng());
    top12[i] = UInt8(s12[i] >> 4);
    wide12[i] = UInt16(s12[i] << 4);
  }
  std::vector<UInt8> hi16(w * h);
  for (UInt32 i = 0; i < w * h; ++i) hi16[i] = UInt8(s16[i] >> 8);

  auto argb = [&](const std::string& c, const void* src, UInt32 bits) {
    std::vector<UInt8> d(w * h * 4, 0x5A);
    EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), src, w, h, code(c), bits, d.data(), w * 4), 0) << c;
    return d;
  };
  auto kernel8 = [&](BayerDemosaicKernel k, const void* src, UInt8 flag) {
    std::vector<UInt8> d(w * h * 4, 0);
    k(src, d.data(), w * 4, w, h, flag);
    return d;
  };
  auto rgb48 = [&](BayerDemosaicKernel k, const void* src, UInt8 flag) {
    std::vector<UInt16> d(w * h * 3, 0);
    k(src, d.data(), w * 6, w, h, flag);
    return d;
  };

  for (const PairCase& p : kPairs) {
    struct Q {
      char letter;
      BayerDemosaicKernel rggb8, grbg8, rggb16, grbg16;
    };
    const Q qualities[] = {
        {'l', BayerRGGB8_LQ_ARGB32, BayerGRBG8_LQ_ARGB32, BayerRGGB16_LQ_RGB48, BayerGRBG16_LQ_RGB48},
        {'m', BayerRGGB8_MQ_ARGB32, BayerGRBG8_MQ_ARGB32, BayerRGGB16_MQ_RGB48, BayerGRBG16_MQ_RGB48},
        {'h', BayerRGGB8_HQ_ARGB32, BayerGRBG8_HQ_ARGB32, BayerRGGB16_HQ_RGB48, BayerGRBG16_HQ_RGB48}};
    for (const Q& q : qualities) {
      const std::string c = bayerCode('b', q.letter, p.pair);
      const BayerDemosaicKernel k8 = p.colourGRBG ? q.grbg8 : q.rggb8;
      const BayerDemosaicKernel k16 = p.colourGRBG ? q.grbg16 : q.rggb16;
      EXPECT_EQ(argb(c, s8.data(), 8), kernel8(k8, s8.data(), p.colourFlag)) << c << " 8 bits";
      EXPECT_EQ(argb(c, s8.data(), 24), kernel8(k8, s8.data(), p.colourFlag)) << c << " 24 bits read as 8";
      EXPECT_EQ(argb(c, packed.data(), 12), kernel8(k8, top12.data(), p.colourFlag)) << c << " 12 bits";

      // 16 bits: LQ and MQ on the high bytes; HQ at full precision, then the high bytes.
      std::vector<UInt8> want16;
      if (q.letter == 'h') {
        const std::vector<UInt16> full = rgb48(k16, s16.data(), p.colourFlag);
        want16.assign(w * h * 4, 0xFF);
        for (UInt32 i = 0; i < w * h; ++i)
          for (int ch = 0; ch < 3; ++ch) want16[i * 4 + 1 + ch] = UInt8(full[i * 3 + ch] >> 8);
      } else {
        want16 = kernel8(k8, hi16.data(), p.colourFlag);
      }
      EXPECT_EQ(argb(c, s16.data(), 16), want16) << c << " 16 bits";

      std::vector<UInt16> got(w * h * 3);
      ASSERT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), s16.data(), w, h, code(c), 16, got.data(), w * 6), 0);
      EXPECT_EQ(got, rgb48(k16, s16.data(), p.colourFlag)) << c << " RGB48 16 bits";
      ASSERT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packed.data(), w, h, code(c), 12, got.data(), w * 6), 0);
      EXPECT_EQ(got, rgb48(k16, wide12.data(), p.colourFlag)) << c << " RGB48 12 bits";
    }
    for (char q : {'l', 'm', 'H'}) {
      const std::string c = bayerCode('m', q, p.pair);
      const BayerDemosaicKernel k8 = p.greyGRBG ? BayerGRBG8_MONO_ARGB32 : BayerRGGB8_MONO_ARGB32;
      const BayerDemosaicKernel k16 = p.greyGRBG ? BayerGRBG16_MONO_ARGB32 : BayerRGGB16_MONO_ARGB32;
      EXPECT_EQ(argb(c, s8.data(), 8), kernel8(k8, s8.data(), p.greyFlag)) << c << " 8 bits";
      EXPECT_EQ(argb(c, packed.data(), 12), kernel8(k8, top12.data(), p.greyFlag)) << c << " 12 bits";
      EXPECT_EQ(argb(c, s16.data(), 16), kernel8(k16, s16.data(), p.greyFlag)) << c << " 16 bits";
      EXPECT_EQ(argb(c, s16.data(), 32), kernel8(k16, s16.data(), p.greyFlag)) << c << " 32 bits read as 16";
    }
  }
}

// The documented examples, checked on the mosaic itself: a row 0 of G B
// under 'bmBG' is GBRG; a row 0 of B G under 'mmBG' is BGGR. A frame with
// only the blue sites lit shows blue only where a GBRG (BGGR) reading puts it.
TEST(BayerFrames, LetterPairExamplesDecodeTheIntendedMosaic) {
  const UInt32 w = 8, h = 8;
  std::vector<UInt8> gbrg(w * h, 0), bggr(w * h, 0);
  for (UInt32 y = 0; y < h; y += 2)
    for (UInt32 x = 0; x < w; x += 2) {
      gbrg[y * w + x + 1] = 200;  // G B / R G: blue at odd columns of even rows
      bggr[y * w + x] = 200;      // B G / G R: blue at even columns of even rows
    }
  std::vector<UInt8> d(w * h * 4);
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), gbrg.data(), w, h, code("bmBG"), 8, d.data(), w * 4), 0);
  for (UInt32 i = 0; i < w * h; ++i) {
    EXPECT_EQ(d[i * 4 + 1], 0) << "no red at " << i;
    EXPECT_EQ(d[i * 4 + 2], 0) << "no green at " << i;
    EXPECT_GT(d[i * 4 + 3], 0) << "blue spreads to " << i;
  }
  // Grey: luma of a blue-only frame is (117 x B) >> 10 at every pixel of the
  // interior, the same whichever pixel of the cell.
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), bggr.data(), w, h, code("mmBG"), 8, d.data(), w * 4), 0);
  EXPECT_EQ(d[(3 * w + 3) * 4 + 1], (117 * 200) >> 10);
  EXPECT_EQ(d[(2 * w + 2) * 4 + 1], (117 * 200) >> 10);
}

// 16- and 48-bit grey and RGB show their high bytes, on widths that do and
// do not suit the vector blocks, with the SSE2 paths on and off.
TEST(RawFrameToARGB32, WideSamplesShowTheirHighBytes) {
  for (UInt32 w : {640u, 648u}) {
    const UInt32 h = 3;
    for (UInt32 bits : {16u, 48u}) {
      const UInt32 channels = bits / 16;
      std::vector<UInt16> src(size_t(w) * h * channels);
      std::mt19937 rng(w + bits);
      for (auto& s : src) s = UInt16(rng());
      std::vector<UInt8> want(size_t(w) * h * 4);
      for (UInt32 i = 0; i < w * h; ++i) {
        want[i * 4] = 0xFF;
        for (UInt32 c = 0; c < 3; ++c) want[i * 4 + 1 + c] = UInt8(src[i * channels + (channels == 3 ? c : 0)] >> 8);
      }
      for (int simd = 0; simd < 2; ++simd) {
        myMediaSetSIMDEnabled(Boolean(simd));
        std::vector<UInt8> d(want.size());
        ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), src.data(), w, h, code("raw "), bits, d.data(), w * 4), 0);
        EXPECT_EQ(d, want) << "width " << w << " bits " << bits << " simd " << simd;
      }
      myMediaSetSIMDEnabled(1);
    }
  }
}

TEST(RawFrameToARGB32, FourBytePixelsAreCopiedRowByRow) {
  const UInt32 w = 5, h = 3, rowBytes = 24;
  const std::vector<UInt8> src = randomBytes(w * h * 4, 7);
  std::vector<UInt8> d(rowBytes * h, 0x5A);
  ASSERT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), src.data(), w, h, code("raw "), 32, d.data(), rowBytes), 0);
  for (UInt32 y = 0; y < h; ++y) {
    EXPECT_EQ(0, std::memcmp(&d[y * rowBytes], &src[y * w * 4], w * 4)) << y;
    for (UInt32 i = w * 4; i < rowBytes; ++i) EXPECT_EQ(d[y * rowBytes + i], 0x5A);
  }
}

// The unpack buffer cannot be had: -108 with nothing written, and the next
// frame converts. Runs on a thread of its own, which has no buffer yet.
TEST(TwelveBitFrames, AllocationFailureThenSuccess) {
  std::thread([] {
    const UInt32 w = 4, h = 2;
    const std::vector<UInt8> packed = pack12(random12(w * h, 8));
    std::vector<UInt8> d(w * h * 6, 0x5A);
    SkyloomFailMediaAllocation(1);
    EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("raw "), 12, d.data(), w * 4),
              -108);
    EXPECT_EQ(d, std::vector<UInt8>(w * h * 6, 0x5A));
    EXPECT_EQ(ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("raw "), 12, d.data(), w * 4), 0);
  }).join();
  std::thread([] {
    const UInt32 w = 4, h = 2;
    const std::vector<UInt8> packed = pack12(random12(w * h, 9));
    std::vector<UInt8> d(w * h * 6, 0x5A);
    SkyloomFailMediaAllocation(1);
    EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packed.data(), w, h, code("bmRG"), 12, d.data(), w * 6),
              -108);
    EXPECT_EQ(d, std::vector<UInt8>(w * h * 6, 0x5A));
    EXPECT_EQ(ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packed.data(), w, h, code("bmRG"), 12, d.data(), w * 6), 0);
  }).join();
  SkyloomFailMediaAllocation(0);
}

// The live pipeline converts on the delivery thread while a grab converts on
// the main thread, both with the same camera handle. Each thread must see
// its own frame, whatever the other is doing (and TSan must stay quiet).
TEST(TwelveBitFrames, TwoThreadsConvertFramesOfOneCamera) {
  auto worker = [](unsigned seed, UInt32 w, UInt32 h, int* failures) {
    const std::vector<UInt16> samples = random12(size_t(w) * h, seed);
    const std::vector<UInt8> packed = pack12(samples);
    std::vector<UInt8> want(size_t(w) * h * 4);
    for (UInt32 i = 0; i < w * h; ++i) {
      const UInt8 t = UInt8(samples[i] >> 4);
      want[i * 4] = 0xFF;
      want[i * 4 + 1] = want[i * 4 + 2] = want[i * 4 + 3] = t;
    }
    std::vector<UInt8> d(want.size());
    std::vector<UInt16> rgb(size_t(w) * h * 3);
    for (int i = 0; i < 40; ++i) {
      std::fill(d.begin(), d.end(), 0);
      if (ORXDCAMConvertRawFrameToARGB32(testCamera(), packed.data(), w, h, code("raw "), 12, d.data(), w * 4) != 0 ||
          d != want)
        ++*failures;
      if (ORXDCAMConvertRaw16FrameToRGB48(testCamera(), packed.data(), w, h, code("blRG"), 12, rgb.data(), w * 6) != 0)
        ++*failures;
    }
  };
  int failuresA = 0, failuresB = 0;
  std::thread a(worker, 10u, 160u, 120u, &failuresA);
  std::thread b(worker, 11u, 320u, 240u, &failuresB);
  a.join();
  b.join();
  EXPECT_EQ(failuresA, 0);
  EXPECT_EQ(failuresB, 0);
}

}  // namespace
