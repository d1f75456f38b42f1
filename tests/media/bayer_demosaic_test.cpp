#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "media/BayerDemosaic.h"
#include "media/MediaSIMD.h"
#include "utilities/CpuPaths.h"

namespace {

#include "demosaic_golden.inc"

struct Kernel {
  const char* name;
  BayerDemosaicKernel fn;
  int inBytes;   // bytes a source sample
  int outBytes;  // bytes a destination pixel
};
#define K(fn, in, out) {#fn, fn, in, out}
const Kernel kAll[] = {
    K(BayerRGGB8_LQ_ARGB32, 1, 4),    K(BayerGRBG8_LQ_ARGB32, 1, 4),    K(BayerRGGB16_LQ_RGB48, 2, 6),
    K(BayerGRBG16_LQ_RGB48, 2, 6),    K(BayerRGGB8_MQ_ARGB32, 1, 4),    K(BayerGRBG8_MQ_ARGB32, 1, 4),
    K(BayerRGGB16_MQ_RGB48, 2, 6),    K(BayerGRBG16_MQ_RGB48, 2, 6),    K(BayerRGGB8_HQ_ARGB32, 1, 4),
    K(BayerGRBG8_HQ_ARGB32, 1, 4),    K(BayerRGGB16_HQ_RGB48, 2, 6),    K(BayerGRBG16_HQ_RGB48, 2, 6),
    K(BayerRGGB8_MONO_ARGB32, 1, 4),  K(BayerGRBG8_MONO_ARGB32, 1, 4),  K(BayerRGGB16_MONO_ARGB32, 2, 4),
    K(BayerGRBG16_MONO_ARGB32, 2, 4), K(BayerRGGB16_MONO16, 2, 2),      K(BayerGRBG16_MONO16, 2, 2),
    K(BayerRGGB16_LQ_ARGB32, 2, 4),   K(BayerGRBG16_LQ_ARGB32, 2, 4),   K(BayerRGGB16_MQ_ARGB32, 2, 4),
    K(BayerGRBG16_MQ_ARGB32, 2, 4),
};
#undef K

std::vector<UInt8> randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<UInt8> v(n);
  for (auto& b : v) b = UInt8(rng());
  return v;
}

UInt16 rd16(const UInt8* p) {
  UInt16 v;
  std::memcpy(&v, p, 2);
  return v;
}

// Runs a kernel into rows of dstRowBytes with guard bytes after every row
// and after the frame; fails if any guard changed.
std::vector<UInt8> run(const Kernel& k, const std::vector<UInt8>& src, UInt32 w, UInt32 h, UInt8 flag,
                       UInt32 pad = 8) {
  const UInt32 drb = w * k.outBytes + pad;
  std::vector<UInt8> dst(size_t(drb) * h, 0xEE);
  k.fn(src.data(), dst.data(), drb, w, h, flag);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 b = w * k.outBytes; b < drb; ++b)
      EXPECT_EQ(dst[size_t(y) * drb + b], 0xEE) << k.name << " padding of row " << y;
  return dst;
}

// ---- Golden fixtures from the independent script. ----

enum Quality { LQ, MQ, HQ, MONO };
struct GoldenCase {
  BayerDemosaicKernel rggb, grbg;
  Quality q;
  int bits;
};

TEST(BayerDemosaicGolden, EveryQualityPhaseAndDepthMatchesTheScript) {
  const GoldenCase cases[] = {
      {BayerRGGB8_LQ_ARGB32, BayerGRBG8_LQ_ARGB32, LQ, 8},     {BayerRGGB8_MQ_ARGB32, BayerGRBG8_MQ_ARGB32, MQ, 8},
      {BayerRGGB8_HQ_ARGB32, BayerGRBG8_HQ_ARGB32, HQ, 8},     {BayerRGGB8_MONO_ARGB32, BayerGRBG8_MONO_ARGB32, MONO, 8},
      {BayerRGGB16_LQ_RGB48, BayerGRBG16_LQ_RGB48, LQ, 16},    {BayerRGGB16_MQ_RGB48, BayerGRBG16_MQ_RGB48, MQ, 16},
      {BayerRGGB16_HQ_RGB48, BayerGRBG16_HQ_RGB48, HQ, 16},    {BayerRGGB16_MONO16, BayerGRBG16_MONO16, MONO, 16},
  };
  for (int simd = 0; simd < 2; ++simd) {
    myMediaSetSIMDEnabled(Boolean(simd));
    for (const GoldenCase& c : cases) {
      const UInt32 w = 8, h = (c.q == HQ) ? 8 : 6;
      const UInt32 chans = (c.q == MONO) ? 1 : 3;
      const UInt32 outBytes = (c.bits == 8) ? 4 : (c.q == MONO ? 2 : 6);
      std::vector<UInt8> src(size_t(w) * h * (c.bits / 8));
      for (UInt32 i = 0; i < w * h; ++i) {
        if (c.bits == 8) {
          src[i] = (h == 8 ? &kGolden8In8x8[0][0] : &kGolden8In8x6[0][0])[i];
        } else {
          const UInt16 v = (h == 8 ? &kGolden16In8x8[0][0] : &kGolden16In8x6[0][0])[i];
          std::memcpy(&src[2 * i], &v, 2);
        }
      }
      for (int phase = 0; phase < 4; ++phase) {
        const UInt32 drb = w * outBytes;
        std::vector<UInt8> dst(size_t(drb) * h, 0xEE);
        (phase < 2 ? c.rggb : c.grbg)(src.data(), dst.data(), drb, w, h, UInt8(phase % 2 == 0 ? 1 : 0));
        for (UInt32 p = 0; p < w * h; ++p) {
          for (UInt32 ch = 0; ch < chans; ++ch) {
            unsigned expect = 0;
            if (c.bits == 8) {
              const unsigned char* t = c.q == LQ ? kGolden8LQ[phase] : c.q == MQ ? kGolden8MQ[phase] : kGolden8HQ[phase];
              expect = c.q == MONO ? kGolden8MONO[phase][p] : t[3 * p + ch];
            } else {
              const unsigned short* t =
                  c.q == LQ ? kGolden16LQ[phase] : c.q == MQ ? kGolden16MQ[phase] : kGolden16HQ[phase];
              expect = c.q == MONO ? kGolden16MONO[phase][p] : t[3 * p + ch];
            }
            const UInt8* px = &dst[size_t(p / w) * drb + size_t(p % w) * outBytes];
            unsigned got;
            if (c.bits == 8) {
              ASSERT_EQ(px[0], 0xFF);
              got = px[1 + (c.q == MONO ? 0 : ch)];
              if (c.q == MONO) {
                ASSERT_EQ(px[2], got);
                ASSERT_EQ(px[3], got);
              }
            } else {
              got = rd16(px + 2 * ch);
            }
            ASSERT_EQ(got, expect) << "quality " << c.q << " bits " << c.bits << " phase " << phase << " pixel ("
                                   << p % w << "," << p / w << ") channel " << ch << " simd " << simd;
          }
        }
      }
    }
  }
  myMediaSetSIMDEnabled(1);
}

// ---- Properties over every kernel. ----

TEST(BayerDemosaic, FlatMosaicGivesFlatGreyInEveryKernelAndSize) {
  const UInt32 sizes[][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}, {3, 3}, {4, 5}, {5, 4}, {8, 6}, {40, 7}};
  for (const Kernel& k : kAll) {
    for (auto sz : sizes) {
      const UInt32 w = sz[0], h = sz[1];
      const UInt16 v16 = 0xB3C5;
      std::vector<UInt8> src(size_t(w) * h * k.inBytes);
      for (size_t i = 0; i < size_t(w) * h; ++i) {
        if (k.inBytes == 1) src[i] = 0xB3;
        else std::memcpy(&src[2 * i], &v16, 2);
      }
      for (UInt8 flag = 0; flag < 2; ++flag) {
        const std::vector<UInt8> dst = run(k, src, w, h, flag);
        const UInt32 drb = w * k.outBytes + 8;
        for (UInt32 y = 0; y < h; ++y)
          for (UInt32 x = 0; x < w; ++x) {
            const UInt8* px = &dst[size_t(y) * drb + size_t(x) * k.outBytes];
            if (k.outBytes == 4) {
              ASSERT_TRUE(px[0] == 0xFF && px[1] == 0xB3 && px[2] == 0xB3 && px[3] == 0xB3)
                  << k.name << " " << w << "x" << h << " at " << x << "," << y;
            } else {
              for (int c = 0; c < k.outBytes / 2; ++c)
                ASSERT_EQ(rd16(px + 2 * c), v16) << k.name << " " << w << "x" << h << " at " << x << "," << y;
            }
          }
      }
    }
  }
}

TEST(BayerDemosaic, EmptyFramesWriteNothing) {
  std::vector<UInt8> src(64, 9);
  for (const Kernel& k : kAll) {
    std::vector<UInt8> dst(64, 0xEE);
    k.fn(src.data(), dst.data(), 32, 0, 4, 1);
    k.fn(src.data(), dst.data(), 32, 4, 0, 1);
    for (UInt8 b : dst) ASSERT_EQ(b, 0xEE) << k.name;
  }
}

// Random frames of every small size stay inside exact-size buffers (ASan
// checks the source; the guards check the destination).
TEST(BayerDemosaic, SmallAndOddFramesStayInsideTheirBuffers) {
  const UInt32 sizes[][2] = {{2, 2}, {3, 3}, {4, 5}, {5, 4}, {1, 7}, {7, 1}, {9, 3}, {3, 9}};
  for (const Kernel& k : kAll)
    for (auto sz : sizes)
      for (UInt8 flag = 0; flag < 2; ++flag) run(k, randomBytes(size_t(sz[0]) * sz[1] * k.inBytes, 5), sz[0], sz[1], flag);
}

// The SSE2 paths give the plain loops' bytes at widths that leave tails.
TEST(BayerDemosaic, VectorPathsEqualPlainLoops) {
  const UInt32 widths[] = {16, 17, 18, 33, 34, 263, 643};
  const UInt32 heights[] = {2, 3, 6};
  for (const Kernel& k : kAll) {
    for (UInt32 w : widths)
      for (UInt32 h : heights)
        for (UInt8 flag = 0; flag < 2; ++flag) {
          std::vector<UInt8> src = randomBytes(size_t(w) * h * k.inBytes, w * 31 + h);
          // Extremes next to each other, where 8-bit sums would overflow.
          for (size_t i = 0; i < src.size(); i += 7) src[i] = (i % 2) ? 0xFF : 0x00;
          myMediaSetSIMDEnabled(0);
          const std::vector<UInt8> plain = run(k, src, w, h, flag);
          myMediaSetSIMDEnabled(1);
          const std::vector<UInt8> fast = run(k, src, w, h, flag);
          ASSERT_EQ(plain, fast) << k.name << " " << w << "x" << h << " flag " << int(flag);
        }
  }
}

// The high-quality kernels give the same bytes by the plain loops, the
// baseline vector path and the AVX2 path (where the host has it), at every
// width up to 67 (every tail of every lane count) and odd heights.
TEST(BayerDemosaicHQ, EveryInstructionSetPathEqualsPlainLoops) {
  const UInt32 heights[] = {1, 2, 3, 5, 7, 9};
  for (const Kernel& k : kAll) {
    if (std::strstr(k.name, "_HQ_") == nullptr) continue;
    for (UInt32 w = 1; w <= 67; ++w)
      for (UInt32 h : heights)
        for (UInt8 flag = 0; flag < 2; ++flag) {
          std::vector<UInt8> src = randomBytes(size_t(w) * h * k.inBytes, w * 131 + h * 7 + flag);
          for (size_t i = 0; i < src.size(); i += 5) src[i] = (i % 2) ? 0xFF : 0x00;
          myMediaSetSIMDEnabled(0);
          const std::vector<UInt8> plain = run(k, src, w, h, flag);
          myMediaSetSIMDEnabled(1);
          mySetCpuPathLimit(kMyCpuPathSSE2);
          const std::vector<UInt8> sse2 = run(k, src, w, h, flag);
          mySetCpuPathLimit(kMyCpuPathAVX512);
          const std::vector<UInt8> widest = run(k, src, w, h, flag);
          ASSERT_EQ(plain, sse2) << k.name << " " << w << "x" << h << " flag " << int(flag);
          ASSERT_EQ(plain, widest) << k.name << " " << w << "x" << h << " flag " << int(flag) << " path "
                                   << int(myHostCpuPath());
        }
  }
}

// The 16-bit kernels to ARGB32 equal the 8-bit kernels run on the high bytes.
TEST(BayerDemosaic, SixteenBitToARGB32EqualsEightBitOnHighBytes) {
  const struct {
    BayerDemosaicKernel k16, k8;
  } pairs[] = {
      {BayerRGGB16_MONO_ARGB32, BayerRGGB8_MONO_ARGB32}, {BayerGRBG16_MONO_ARGB32, BayerGRBG8_MONO_ARGB32},
      {BayerRGGB16_LQ_ARGB32, BayerRGGB8_LQ_ARGB32},     {BayerGRBG16_LQ_ARGB32, BayerGRBG8_LQ_ARGB32},
      {BayerRGGB16_MQ_ARGB32, BayerRGGB8_MQ_ARGB32},     {BayerGRBG16_MQ_ARGB32, BayerGRBG8_MQ_ARGB32},
  };
  const UInt32 sizes[][2] = {{3, 3}, {8, 6}, {37, 5}, {64, 4}};
  for (auto& p : pairs)
    for (auto sz : sizes)
      for (UInt8 flag = 0; flag < 2; ++flag) {
        const UInt32 w = sz[0], h = sz[1];
        std::vector<UInt8> s16 = randomBytes(size_t(w) * h * 2, w + h), s8(size_t(w) * h);
        for (size_t i = 0; i < s8.size(); ++i) s8[i] = UInt8(rd16(&s16[2 * i]) >> 8);
        std::vector<UInt8> a(size_t(w) * h * 4), b(size_t(w) * h * 4);
        p.k16(s16.data(), a.data(), 4 * w, w, h, flag);
        p.k8(s8.data(), b.data(), 4 * w, w, h, flag);
        ASSERT_EQ(a, b) << w << "x" << h;
      }
}

TEST(BayerDemosaicMQ, InteriorRedImpulseSpreadsAtOneHalfAndOneQuarter) {
  // RGGB, flag 1: (4, 2) is a red site. Only its sample is non-zero.
  const UInt32 w = 10, h = 8;
  std::vector<UInt8> src(w * h, 0);
  src[2 * w + 4] = 200;
  std::vector<UInt8> dst(w * h * 4);
  BayerRGGB8_MQ_ARGB32(src.data(), dst.data(), 4 * w, w, h, 1);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const int dx = std::abs(int(x) - 4), dy = std::abs(int(y) - 2);
      int r = 0;
      if (dx == 0 && dy == 0) r = 200;
      else if (dx + dy == 1) r = 100;
      else if (dx == 1 && dy == 1) r = 50;
      const UInt8* px = &dst[(y * w + x) * 4];
      EXPECT_EQ(px[1], r) << x << "," << y;
      EXPECT_EQ(px[2], 0) << x << "," << y;
      EXPECT_EQ(px[3], 0) << x << "," << y;
    }
}

// ---- The HQ building blocks. ----

TEST(BayerDemosaicHQ, NeighbourhoodMirrorsAboutTheBorderSample) {
  const UInt32 w = 6, h = 6;
  std::vector<UInt8> s8(w * h);
  std::vector<UInt16> s16(w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) s8[y * w + x] = UInt8(10 * y + x), s16[y * w + x] = UInt16(1000 * y + x);
  struct Case {
    UInt32 x, y;
    int rows[5], cols[5];
  };
  const Case cases[] = {
      {0, 0, {2, 1, 0, 1, 2}, {2, 1, 0, 1, 2}},  // corner: -1 reads 1, -2 reads 2
      {1, 1, {1, 0, 1, 2, 3}, {1, 0, 1, 2, 3}},  // one from the border: -1 reads 1
      {5, 4, {2, 3, 4, 5, 4}, {3, 4, 5, 4, 3}},  // w reads w - 2, w + 1 reads w - 3
      {3, 2, {0, 1, 2, 3, 4}, {1, 2, 3, 4, 5}},  // interior
  };
  for (const Case& c : cases) {
    UInt16 n8[25], n16[25];
    ASSERT_EQ(myEX8PixArrs(s8.data(), w, h, c.x, c.y, n8), 0);
    ASSERT_EQ(myEX16PixArrs(s16.data(), w, h, c.x, c.y, n16), 0);
    for (int j = 0; j < 5; ++j)
      for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(n8[5 * j + i], 10 * c.rows[j] + c.cols[i]) << c.x << "," << c.y << " P" << 5 * j + i + 1;
        EXPECT_EQ(n16[5 * j + i], 1000 * c.rows[j] + c.cols[i]) << c.x << "," << c.y << " P" << 5 * j + i + 1;
      }
  }
}

TEST(BayerDemosaicHQ, NeighbourhoodOutsideTheFrameIsRefusedUnwritten) {
  std::vector<UInt8> s(6 * 4, 1);
  const struct {
    UInt32 w, h, x, y;
  } cases[] = {{6, 4, 6, 0}, {6, 4, 0, 4}, {6, 4, 100, 100}, {0, 4, 0, 0}, {6, 0, 0, 0}};
  for (auto c : cases) {
    UInt16 n[25];
    for (auto& v : n) v = 0xABCD;
    EXPECT_EQ(myEX8PixArrs(s.data(), c.w, c.h, c.x, c.y, n), -1);
    EXPECT_EQ(myEX16PixArrs(s.data(), c.w, c.h, c.x, c.y, n), -1);
    for (auto v : n) ASSERT_EQ(v, 0xABCD);
  }
}

TEST(BayerDemosaicHQ, GradientRuleWorkedCases) {
  // A lone centre of 100 among zeros: all eight gradients are 100, so all
  // eight directions count. Red site: own means are 50 each, the others 0:
  // missing = 100 + (0 - 400) / 8 = 50. Green site: own means 50 (axial) and
  // 33 (diagonal, mean of three): missing = 100 + (0 - 332) / 8 = 58.5 -> 58.
  UInt16 n[25] = {};
  n[12] = 100;
  UInt16 r, g, b;
  ASSERT_EQ(myGRDPixArrs(n, 0, 1, 255, &r, &g, &b), 0);
  EXPECT_EQ(r, 100); EXPECT_EQ(g, 50); EXPECT_EQ(b, 50);
  myGRDPixArrs(n, 0, 0, 255, &r, &g, &b);  // blue site
  EXPECT_EQ(r, 50); EXPECT_EQ(g, 50); EXPECT_EQ(b, 100);
  myGRDPixArrs(n, 1, 1, 255, &r, &g, &b);
  EXPECT_EQ(r, 58); EXPECT_EQ(g, 100); EXPECT_EQ(b, 58);

  // Red site 255 whose own-colour neighbours are 0 and the rest 255: every
  // gradient is 255, own means 127, others 255: 255 + 8 x 128 / 8 = 383,
  // clamped to the maximum of the kernel.
  UInt16 m[25];
  const bool ownColour[25] = {1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1};
  for (int i = 0; i < 25; ++i) m[i] = ownColour[i] ? 0 : 255;
  m[12] = 255;
  myGRDPixArrs(m, 0, 1, 255, &r, &g, &b);
  EXPECT_EQ(r, 255); EXPECT_EQ(g, 255); EXPECT_EQ(b, 255);
  myGRDPixArrs(m, 0, 1, 65535, &r, &g, &b);
  EXPECT_EQ(r, 255); EXPECT_EQ(g, 383); EXPECT_EQ(b, 383);
  // Inverted: centre 0, own-colour neighbours 255, the rest 0: 0 - 127 -> 0.
  for (int i = 0; i < 25; ++i) m[i] = ownColour[i] ? 255 : 0;
  m[12] = 0;
  myGRDPixArrs(m, 0, 0, 65535, &r, &g, &b);
  EXPECT_EQ(r, 0); EXPECT_EQ(g, 0); EXPECT_EQ(b, 0);
}

TEST(BayerDemosaicHQ, ValuesStayInRangeOnExtremeFrames) {
  // Mosaics of only 0 and the maximum, irregularly placed: the sharpest edges
  // the rule meets. The script's values include missing colours that fall
  // below 0 and above the maximum before the clamp, so a kernel that wraps,
  // clamps to the wrong bound or picks other directions differs from it.
  const UInt32 w = 12, h = 10;
  const BayerDemosaicKernel k8[2] = {BayerRGGB8_HQ_ARGB32, BayerGRBG8_HQ_ARGB32};
  const BayerDemosaicKernel k16[2] = {BayerRGGB16_HQ_RGB48, BayerGRBG16_HQ_RGB48};
  std::vector<UInt8> s8(kGolden8In12x10Extremes[0], kGolden8In12x10Extremes[0] + w * h), s16(w * h * 2);
  std::memcpy(s16.data(), kGolden16In12x10Extremes[0], s16.size());
  for (int simd = 0; simd < 2; ++simd) {
    myMediaSetSIMDEnabled(Boolean(simd));
    for (int phase = 0; phase < 4; ++phase) {
      const UInt8 flag = UInt8(phase % 2 == 0 ? 1 : 0);
      std::vector<UInt8> d8(w * h * 4), d16(w * h * 6);
      k8[phase / 2](s8.data(), d8.data(), 4 * w, w, h, flag);
      k16[phase / 2](s16.data(), d16.data(), 6 * w, w, h, flag);
      for (UInt32 p = 0; p < w * h; ++p) {
        ASSERT_EQ(d8[4 * p], 0xFF);
        for (int ch = 0; ch < 3; ++ch) {
          ASSERT_EQ(d8[4 * p + 1 + ch], kGolden8HQExtremes[phase][3 * p + ch])
              << "8 bits phase " << phase << " pixel (" << p % w << "," << p / w << ") channel " << ch << " simd " << simd;
          ASSERT_EQ(rd16(&d16[6 * p + 2 * ch]), kGolden16HQExtremes[phase][3 * p + ch])
              << "16 bits phase " << phase << " pixel (" << p % w << "," << p / w << ") channel " << ch << " simd " << simd;
        }
      }
    }
  }
  myMediaSetSIMDEnabled(1);
}

}  // namespace
