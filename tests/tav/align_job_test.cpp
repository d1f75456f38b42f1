// One align job on a hand-built record: the enlargement, the centroid
// thresholds, the reference and ordinary paths (centroid, blocks, the
// whole-window retry and the no-result cases), raw frames and binning.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "pixel/BlockMatch.h"
#include "tav/AlignJob.h"
#include "tests/tav/AlignRecordFixture.h"

namespace {

// A test scene over the whole integer plane: a textured sky (a third of it
// black) and a bright textured disc of radius 20 at (cx, cy).
int sceneValue(int x, int y, int cx, int cy) {
  const UInt32 h = UInt32(x) * 73856093u ^ UInt32(y) * 19349663u ^ 0x5bd1e995u;
  const UInt32 mix = (h ^ (h >> 13)) * 0x27d4eb2du;
  const UInt32 t = mix >> 8;
  int v = t % 3 == 0 ? 0 : int(t % 41);
  if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < 400) v += 150;
  return v;
}

// ARGB32 frame of the scene moved by (dx, dy).
std::vector<UInt8> sceneARGB(UInt32 w, UInt32 h, int cx, int cy, int dx, int dy) {
  std::vector<UInt8> f(size_t(4) * w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const int v = sceneValue(int(x) - dx, int(y) - dy, cx, cy);
      UInt8* p = &f[(size_t(y) * w + x) * 4];
      p[0] = 255, p[1] = UInt8(v), p[2] = UInt8(v), p[3] = UInt8(v / 2);
    }
  return f;
}

void run(AlignThreadObject* p) {
  p->mNoResult = 1;  // as the worker loop leaves it before a job
  myRunARGB32AlignJob(p);
}

struct Record {
  AlignThreadObject* p;
  explicit Record(const AlignSettings& s) : p(newAlignRecord(s)) {}
  ~Record() { freeAlignRecord(p); }
};

TEST(AlignEnlargement, SamplesBetweenNeighbours) {
  // One row a = 0, b = 100 (and its repeat), ARGB32 with alpha 0 in.
  const UInt8 src[8] = {0, 0, 0, 0, 0, 100, 100, 100};
  struct Case {
    UInt32 scale;
    std::vector<int> row;
  } cases[] = {{1, {0, 100}},
               {2, {0, 50, 100, 100}},
               {3, {0, 37, 62, 100, 100, 100}},
               {4, {0, 25, 50, 75, 100, 100, 100, 100}}};
  for (const Case& c : cases) {
    std::vector<UInt8> dst(size_t(8) * c.scale * c.scale, 0xEE);
    myEnlargeARGB32(src, 8, dst.data(), 8 * c.scale, 2, 1, c.scale);
    for (UInt32 y = 0; y < c.scale; ++y)  // the one source row repeats downwards
      for (UInt32 x = 0; x < 2 * c.scale; ++x) {
        const UInt8* px = &dst[y * 8 * c.scale + 4 * x];
        EXPECT_EQ(px[0], c.scale == 1 ? 0 : 255) << c.scale;  // scale 1 copies the alpha
        EXPECT_EQ(px[1], c.row[x]) << "scale " << c.scale << " x " << x << " y " << y;
        EXPECT_EQ(px[2], c.row[x]) << c.scale;
      }
  }
  // The same along a column, and in 16 bits.
  const UInt16 col[6] = {0, 0, 0, 400, 400, 400};
  std::vector<UInt16> out(3 * 3 * 2 * 3);
  myEnlargeRGB48(col, 6, out.data(), 18, 1, 2, 3);
  const int want[6] = {0, 150, 250, 400, 400, 400};
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(out[size_t(y) * 9 + 3 * x + 1], want[y]) << y;
}

TEST(AlignEnlargement, Scale2AndTwoDimensions) {
  // 2 x 2 source 0, 100 / 200, 40 (red); odd-odd output = (0+100+200+40)/4.
  const UInt8 src[16] = {0, 0, 1, 2, 0, 100, 1, 2, 0, 200, 1, 2, 0, 40, 1, 2};
  std::vector<UInt8> dst(16 * 4);
  myEnlargeARGB32(src, 8, dst.data(), 16, 2, 2, 2);
  auto red = [&](int x, int y) { return int(dst[size_t(y) * 16 + 4 * x + 1]); };
  const int want[4][4] = {{0, 50, 100, 100}, {100, 85, 70, 70}, {200, 120, 40, 40}, {200, 120, 40, 40}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(red(x, y), want[y][x]) << x << "," << y;
  EXPECT_EQ(dst[4 * 3], 255);
  // Scale 3 interior: down the columns first, then across:
  // (5 (5 0 + 3 200) / 8 + 3 (5 100 + 3 40) / 8) / 8 = (5 75 + 3 77) / 8 = 75.
  std::vector<UInt8> d3(12 * 6 * 4);
  myEnlargeARGB32(src, 8, d3.data(), 24, 2, 2, 3);
  EXPECT_EQ(d3[1 * 24 + 4 * 1 + 1], 75);
}

TEST(AlignThresholds, T1AndT2) {
  EXPECT_EQ(myAlignThresholdT1(90, 90), 10u);   // flat image
  EXPECT_EQ(myAlignThresholdT1(0, 255), 12u);   // 255 x 0.05
  EXPECT_EQ(myAlignThresholdT1(0, 100), 10u);
  EXPECT_EQ(myAlignThresholdT1(0, 5000), 200u);  // capped
  EXPECT_EQ(myAlignThresholdT2(250, 180, 160), 200u);  // (a + c) / 2 = 205, capped
  EXPECT_EQ(myAlignThresholdT2(250, 200, 160), 180u);  // b and c 40 apart: (b + c) / 2
  EXPECT_EQ(myAlignThresholdT2(101, 129, 100), 100u);  // 29 apart still takes a
  EXPECT_EQ(myAlignThresholdT2(101, 130, 100), 115u);
  EXPECT_EQ(myAlignThresholdT2(255, 255, 255), 200u);
}

constexpr UInt32 kW = 256, kH = 192;

TEST(AlignJob, CentroidOffsetsAndAReferenceWithoutOne) {
  AlignSettings s;
  s.width = kW, s.height = kH;
  Record r(s);
  putFrame(r.p, sceneARGB(kW, kH, 128, 96, 0, 0));
  r.p->mIsReference = 1;
  run(r.p);
  ASSERT_EQ(r.p->mNoResult, 0);
  EXPECT_EQ(r.p->mOffsetX, 0.0f);
  r.p->mIsReference = 0;
  putFrame(r.p, sceneARGB(kW, kH, 128, 96, 3, -2));
  run(r.p);
  ASSERT_EQ(r.p->mNoResult, 0);
  EXPECT_NEAR(r.p->mOffsetX, -3.0f, 0.01f);
  EXPECT_NEAR(r.p->mOffsetY, 2.0f, 0.01f);

  // A black reference has no centroid: no result, then or later.
  std::vector<UInt8> black(size_t(4) * kW * kH, 0);
  putFrame(r.p, black);
  r.p->mIsReference = 1;
  run(r.p);
  EXPECT_EQ(r.p->mNoResult, 1);
  EXPECT_LE(r.p->mRefX, -1.0f);
  r.p->mIsReference = 0;
  putFrame(r.p, sceneARGB(kW, kH, 128, 96, 3, -2));
  run(r.p);
  EXPECT_EQ(r.p->mNoResult, 1);
  // And a frame without a centroid against a good reference.
  putFrame(r.p, sceneARGB(kW, kH, 128, 96, 0, 0));
  r.p->mIsReference = 1;
  run(r.p);
  r.p->mIsReference = 0;
  putFrame(r.p, black);
  run(r.p);
  EXPECT_EQ(r.p->mNoResult, 1);
}

// A reference job with both blocks on the scene at (128, 96).
void referenceWithBlocks(Record& r, UInt32 pixelAlign) {
  r.p->mPixelAlign = pixelAlign;
  putFrame(r.p, sceneARGB(r.p->mWidth, r.p->mHeight, 128, 96, 0, 0));
  r.p->mIsReference = 1;
  run(r.p);
  ASSERT_EQ(r.p->mNoResult, 0);
  ASSERT_EQ(r.p->mHorzBlockValid, 1);
  ASSERT_EQ(r.p->mVertBlockValid, 1);
  r.p->mIsReference = 0;
}

TEST(AlignJob, BlockPathsCombineBothSearches) {
  AlignSettings s;
  s.width = kW, s.height = kH, s.pixelAlign = 4, s.pixelTolerance = 1;  // exact matches only
  Record r(s);
  referenceWithBlocks(r, 4);
  // The reference job leaves the block centre for the engine.
  EXPECT_EQ(r.p->mOffsetX, float(SInt32(r.p->mRefX + float(r.p->mVertBlockDX))));
  const int dx = 5, dy = -3;
  auto frame = sceneARGB(kW, kH, 128, 96, dx, dy);
  auto offsets = [&](UInt32 pixelAlign) {
    r.p->mPixelAlign = pixelAlign;
    putFrame(r.p, frame);
    run(r.p);
    return std::vector<float>{float(r.p->mNoResult), r.p->mOffsetX, r.p->mOffsetY};
  };
  EXPECT_EQ(offsets(4), (std::vector<float>{0, -dx, -dy}));
  // Misplace the horizontal block's offset by one pixel each way: mode 3 takes
  // X from it and Y from the vertical search, mode 4 averages.
  r.p->mHorzBlockDX += 1;
  r.p->mHorzBlockDY += 1;
  EXPECT_EQ(offsets(3), (std::vector<float>{0, -dx + 1, -dy}));
  EXPECT_EQ(offsets(4), (std::vector<float>{0, -dx + 0.5f, -dy + 0.5f}));
  // A horizontal block that matches nowhere: the vertical search's offsets.
  std::vector<UInt8> saved(r.p->temp32x32Ptr, r.p->temp32x32Ptr + 1024);
  std::mt19937 rng(1);
  for (int i = 0; i < 1024; ++i) r.p->temp32x32Ptr[i] = UInt8(rng());
  EXPECT_EQ(offsets(3), (std::vector<float>{0, -dx, -dy}));
  // Neither matches: no result.
  for (int i = 0; i < 1024; ++i) r.p->tempTwo32x32Ptr[i] = UInt8(rng());
  EXPECT_EQ(offsets(4)[0], 1.0f);
  // Only the horizontal one (back in place) matches.
  std::copy(saved.begin(), saved.end(), r.p->temp32x32Ptr);
  r.p->mHorzBlockDX -= 1;
  r.p->mHorzBlockDY -= 1;
  EXPECT_EQ(offsets(4), (std::vector<float>{0, -dx, -dy}));
}

TEST(AlignJob, SearchesLeavingTheFrameAreRetriedOverTheWholeWindow) {
  // In 160 x 120 no search square of +-64 fits vertically: the ordinary
  // compare always gives -1 and only the whole-window search can match.
  AlignSettings s;
  s.width = 160, s.height = 120, s.pixelAlign = 1, s.pixelTolerance = 1;
  Record r(s);
  r.p->mPixelAlign = 1;
  putFrame(r.p, sceneARGB(160, 120, 80, 60, 0, 0));
  r.p->mIsReference = 1;
  run(r.p);
  ASSERT_EQ(r.p->mHorzBlockValid, 1);
  r.p->mIsReference = 0;
  putFrame(r.p, sceneARGB(160, 120, 80, 60, -4, 6));
  run(r.p);
  ASSERT_EQ(r.p->mNoResult, 0);
  EXPECT_EQ(r.p->mOffsetX, 4.0f);
  EXPECT_EQ(r.p->mOffsetY, -6.0f);
  float bx, by;
  EXPECT_EQ(myCompare32BlockPixels(r.p->temp32x32Ptr, r.p->mMonoFrame, 160, 120, r.p->mMonoRowBytes,
                                   1, 0, 0, 0.0f, 80.0f, 60.0f, &bx, &by),
            -1);
}

TEST(AlignJob, AnAmbiguousBlockIsNoMatch) {
  // A flat frame with one bright spot (the centroid) and a flat block: the
  // ordinary compare, inside the frame, finds equal scores everywhere: -2.
  AlignSettings s;
  s.width = kW, s.height = kH, s.pixelAlign = 1, s.pixelTolerance = 31;
  Record r(s);
  std::vector<UInt8> f(size_t(4) * kW * kH, 10);
  for (UInt32 y = 20; y < 24; ++y)
    for (UInt32 x = 20; x < 24; ++x) f[(size_t(y) * kW + x) * 4 + 2] = 250;
  putFrame(r.p, f);
  r.p->mRefX = 21.5f, r.p->mRefY = 21.5f;
  r.p->mHorzBlockDX = 110, r.p->mHorzBlockDY = 80;
  // Grey 10 is luma 10: the block is what the sky holds.
  std::fill(r.p->temp32x32Ptr, r.p->temp32x32Ptr + 1024, UInt8(10));
  run(r.p);
  EXPECT_EQ(r.p->mNoResult, 1);
  float bx, by;
  EXPECT_EQ(myCompare32BlockPixels(r.p->temp32x32Ptr, r.p->mMonoFrame, kW, kH, r.p->mMonoRowBytes, 1,
                                   0, 0, 15.0f, 131.5f, 101.5f, &bx, &by),
            -2);
}

TEST(AlignJob, RawFramesKeepTheFirstTrailersCode) {
  for (bool sixteen : {false, true}) {
    AlignSettings s;
    s.argb32 = !sixteen, s.width = 32, s.height = 24, s.rawBayer = 1;
    Record r(s);
    // A flat (200, 100, 50) mosaic laid out as 'GRBG': G R / B G.
    const int colour[3] = {200, 100, 50};
    auto post = [&](const char* trailer) {
      UInt8* c = r.p->mColorFrame;
      for (UInt32 y = 0; y < 24; ++y)
        for (UInt32 x = 0; x < 32; ++x) {
          const int site = (y & 1) == 0 ? ((x & 1) ? 0 : 1) : ((x & 1) ? 1 : 2);
          const size_t i = size_t(y) * 32 + x;
          if (sixteen) {
            const UInt16 v = UInt16(colour[site] * 257);
            std::memcpy(c + 2 * i, &v, 2);
          } else {
            c[i] = UInt8(colour[site]);
          }
        }
      std::memcpy(c + 32 * 24 * (sixteen ? 2 : 1), trailer, 4);
      r.p->mNoResult = 1;
      sixteen ? myRunRGB48AlignJob(r.p) : myRunARGB32AlignJob(r.p);
    };
    auto colourAt = [&](UInt32 x, UInt32 y, int ch) -> int {
      if (!sixteen) return r.p->mColorFrame[y * r.p->mScaledRowBytes + 4 * x + 1 + ch];
      UInt16 v;
      std::memcpy(&v, r.p->mColorFrame + y * r.p->mScaledRowBytes + 6 * x + 2 * ch, 2);
      return v / 257;
    };
    post("GRBG");
    EXPECT_EQ(r.p->mBayerCode, FOUR_CHAR_CODE("GRBG"));
    post("RGGB");  // a later trailer that disagrees is not read
    EXPECT_EQ(r.p->mBayerCode, FOUR_CHAR_CODE("GRBG"));
    for (UInt32 y : {0u, 11u, 23u})
      for (UInt32 x : {0u, 16u, 31u}) {
        EXPECT_EQ(colourAt(x, y, 0), 200) << sixteen;
        EXPECT_EQ(colourAt(x, y, 1), 100) << sixteen;
        EXPECT_EQ(colourAt(x, y, 2), 50) << sixteen;
      }
  }
}

TEST(AlignJob, BinningWithAZeroLowLevelOnlySums) {
  AlignSettings s;
  s.width = kW, s.height = kH, s.bin2x2 = 1;
  Record r(s);
  // Dim enough that no 2 x 2 sum saturates; a third of the sky is black, so
  // the 0.5 % level is 0.
  auto frame = sceneARGB(kW, kH, 128, 96, 0, 0);
  for (size_t i = 0; i < frame.size(); ++i)
    if (i % 4) frame[i] = UInt8(frame[i] / 4);
  putFrame(r.p, frame);
  r.p->mIsReference = 1;
  run(r.p);
  ASSERT_EQ(r.p->mNoResult, 0);
  for (UInt32 y = 0; y + 1 < kH; y += 7)
    for (UInt32 x = 0; x + 1 < kW; x += 5)
      for (int c = 1; c < 4; ++c) {
        auto at = [&](UInt32 xx, UInt32 yy) { return int(frame[(size_t(yy) * kW + xx) * 4 + c]); };
        ASSERT_EQ(int(r.p->mColorFrame[size_t(y) * r.p->mScaledRowBytes + 4 * x + c]),
                  at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1))
            << x << "," << y;
      }
}

}  // namespace
