#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "pixel/BlockMatch.h"

namespace {

// Deterministic texture: a small LCG, so fixtures never repeat a 32 x 32 patch.
std::vector<UInt8> texture(UInt32 w, UInt32 h, UInt32 seed, UInt8 range = 200) {
  std::vector<UInt8> f(size_t(w) * h);
  UInt32 s = seed;
  for (auto& p : f) {
    s = s * 1664525u + 1013904223u;
    p = UInt8((s >> 24) % range);
  }
  return f;
}

// The plain definition of the search score, for checking the fast search.
UInt32 plainScore(const UInt8* block, const UInt8* frame, UInt32 rowBytes, UInt32 side, SInt32 x0,
                  SInt32 y0, SInt32 refMean, SInt32 frameMean) {
  UInt32 score = 0;
  for (UInt32 j = 0; j < side; ++j)
    for (UInt32 i = 0; i < side; ++i) {
      const SInt32 f = frame[size_t(y0 + j) * rowBytes + x0 + i];
      const SInt32 b = block[j * side + i];
      score += UInt32(std::abs((f - frameMean) - (b - refMean)));
    }
  return score;
}

}  // namespace

TEST(BlockCompare, FindsAKnownShiftWithScoreZero) {
  const UInt32 W = 200, H = 200;
  std::vector<UInt8> ref = texture(W, H, 7);
  alignas(16) UInt8 block[32 * 32];
  ASSERT_EQ(myExtract32BlockPixels(ref.data(), block, W, H, W, 1, 10.0, 100.0f, 100.0f), 0);
  // The frame moved by (+3, -2); a second copy is 20 levels brighter, which
  // the mean correction takes out.
  std::vector<UInt8> moved(size_t(W) * H, 0), brighter(size_t(W) * H, 0);
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) {
      const SInt32 sx = SInt32(x) - 3, sy = SInt32(y) + 2;
      if (sx < 0 || sy >= SInt32(H)) continue;
      moved[y * W + x] = ref[size_t(sy) * W + sx];
      brighter[y * W + x] = UInt8(moved[y * W + x] + 20);
    }
  struct Case { const std::vector<UInt8>* frame; SInt32 refMean, frameMean; };
  const Case cases[] = {{&moved, 90, 90}, {&moved, 0, 0}, {&brighter, 90, 110}};
  for (const Case& c : cases) {
    float bx = 0, by = 0;
    EXPECT_EQ(myCompare32BlockPixels(block, c.frame->data(), W, H, W, 1, c.refMean, c.frameMean,
                                     10.0f, 100.0f, 100.0f, &bx, &by), 0);
    EXPECT_EQ(bx, 103.0f);
    EXPECT_EQ(by, 98.0f);
    EXPECT_EQ(myAltivecCompare32BlockPixels(block, c.frame->data(), W, H, W, 1, c.refMean,
                                            c.frameMean, 10.0f, 100.0f, 100.0f, 0, &bx, &by), 0);
    EXPECT_EQ(bx, 103.0f);
    EXPECT_EQ(by, 98.0f);
  }
}

TEST(BlockCompare, BlockSizeTwoSearchesA64Block) {
  const UInt32 W = 300, H = 290;
  std::vector<UInt8> ref = texture(W, H, 11);
  std::vector<UInt8> block(64 * 64);
  ASSERT_EQ(myExtract32BlockPixels(ref.data(), block.data(), W, H, W, 2, 10.0, 150.0f, 140.0f), 0);
  std::vector<UInt8> moved(size_t(W) * H, 0);
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 5; x < W; ++x) moved[y * W + x] = ref[y * W + x - 5];  // (+5, 0)
  float bx = 0, by = 0;
  EXPECT_EQ(myCompare32BlockPixels(block.data(), moved.data(), W, H, W, 2, 0, 0, 10.0f, 150.0f,
                                   140.0f, &bx, &by), 0);
  EXPECT_EQ(bx, 155.0f);
  EXPECT_EQ(by, 140.0f);
}

// The search's best score equals the plain definition's minimum, also with
// means that push the corrected block outside 0..255.
TEST(BlockCompare, ScoreMatchesThePlainDefinitionForEveryMeanPair) {
  const UInt32 W = 140, H = 136, RB = 143;
  std::vector<UInt8> frame = texture(RB, H, 3, 255);
  std::vector<UInt8> block = texture(32, 32, 5, 255);
  const SInt32 means[][2] = {{100, 100}, {0, 255}, {255, 0}, {30, 200}, {-400, 900}};
  for (const auto& m : means) {
    UInt32 best = 0xFFFFFFFFu;
    for (SInt32 y0 = 68 - 64; y0 < 68 + 64 - 32; ++y0)
      for (SInt32 x0 = 70 - 64; x0 < 70 + 64 - 32; ++x0) {
        const UInt32 s = plainScore(block.data(), frame.data(), RB, 32, x0, y0, m[0], m[1]);
        best = s < best ? s : best;
      }
    float bx = 0, by = 0;
    const SInt32 r = myCompare32BlockPixels(block.data(), frame.data(), W, H, RB, 1, m[0], m[1],
                                            1.0e6f, 70.0f, 68.0f, &bx, &by);
    ASSERT_GE(r, 0) << m[0] << " " << m[1];
    EXPECT_EQ(UInt32(r), best) << m[0] << " " << m[1];
    const SInt32 x0 = SInt32(bx) - 16, y0 = SInt32(by) - 16;
    EXPECT_EQ(plainScore(block.data(), frame.data(), RB, 32, x0, y0, m[0], m[1]), best);
  }
}

TEST(BlockCompare, TieRules) {
  const UInt32 W = 160, H = 160;
  const float c = 80.0f;  // origins 16..111 in both directions
  std::vector<UInt8> pattern = texture(32, 32, 99);
  alignas(16) UInt8 block[32 * 32];
  for (int k = 0; k < 32 * 32; ++k) block[k] = pattern[k];
  auto paste = [&](std::vector<UInt8>& f, UInt32 x0, UInt32 y0) {
    for (UInt32 j = 0; j < 32; ++j)
      for (UInt32 i = 0; i < 32; ++i) f[(y0 + j) * W + x0 + i] = pattern[j * 32 + i];
  };
  float bx = 0, by = 0;

  // Flat frame and flat block: score 0 everywhere, ambiguous.
  std::vector<UInt8> flat(size_t(W) * H, 50);
  alignas(16) UInt8 flatBlock[32 * 32];
  for (auto& p : flatBlock) p = 50;
  EXPECT_EQ(myCompare32BlockPixels(flatBlock, flat.data(), W, H, W, 1, 0, 0, 10.0f, c, c, &bx, &by),
            -2);

  // Equal matches far apart: ambiguous, the later one is reported.
  std::vector<UInt8> twoFar = texture(W, H, 1234);
  paste(twoFar, 20, 20);
  paste(twoFar, 70, 60);
  EXPECT_EQ(myCompare32BlockPixels(block, twoFar.data(), W, H, W, 1, 0, 0, 10.0f, c, c, &bx, &by), -2);
  EXPECT_EQ(bx, 86.0f);
  EXPECT_EQ(by, 76.0f);

  // Equal matches one pixel apart: rows that stay constant over 33 columns
  // match at x0 = 40 and 41; the later one wins, with its score.
  std::vector<UInt8> twoNear = texture(W, H, 4321);
  for (UInt32 j = 0; j < 32; ++j)
    for (UInt32 i = 0; i < 33; ++i) twoNear[(50 + j) * W + 40 + i] = UInt8(7 * j + 3);
  alignas(16) UInt8 rowsBlock[32 * 32];
  for (UInt32 j = 0; j < 32; ++j)
    for (UInt32 i = 0; i < 32; ++i) rowsBlock[j * 32 + i] = UInt8(7 * j + 3);
  EXPECT_EQ(myCompare32BlockPixels(rowsBlock, twoNear.data(), W, H, W, 1, 0, 0, 10.0f, c, c, &bx, &by),
            0);
  EXPECT_EQ(bx, 41.0f + 16);
  EXPECT_EQ(by, 50.0f + 16);

  // Two equal near-matches far apart, then an exact match later: the better
  // score clears the earlier tie.
  std::vector<UInt8> cleared = texture(W, H, 555);
  paste(cleared, 20, 20);
  paste(cleared, 60, 25);
  cleared[20 * W + 20] ^= 1;
  cleared[25 * W + 60] ^= 1;
  paste(cleared, 70, 90);
  EXPECT_EQ(myCompare32BlockPixels(block, cleared.data(), W, H, W, 1, 0, 0, 10.0f, c, c, &bx, &by), 0);
  EXPECT_EQ(bx, 86.0f);
  EXPECT_EQ(by, 106.0f);
}

TEST(BlockCompare, BoundsAndScoreLimitGiveMinusOneAndKeepThePosition) {
  const UInt32 W = 150, H = 140;
  std::vector<UInt8> frame = texture(W, H, 8);  // exactly sized, rowBytes = width
  alignas(16) UInt8 block[32 * 32];
  for (int k = 0; k < 32 * 32; ++k) block[k] = UInt8(k * 13);
  struct Case { float cx, cy; bool inside; };
  const Case cases[] = {{64.0f, 70.0f, true},   {63.4f, 70.0f, false}, {86.0f, 70.0f, true},
                        {86.5f, 70.0f, false},  {70.0f, 64.0f, true},  {70.0f, 63.0f, false},
                        {70.0f, 76.0f, true},   {70.0f, 77.0f, false}, {-5.0f, 70.0f, false},
                        {1e9f, 1e9f, false}};
  for (const Case& c : cases) {
    float bx = -7, by = -7;
    const SInt32 r = myCompare32BlockPixels(block, frame.data(), W, H, W, 1, 0, 0, 1000.0f, c.cx,
                                            c.cy, &bx, &by);
    if (c.inside) {
      EXPECT_GE(r, 0) << c.cx << "," << c.cy;
    } else {
      EXPECT_EQ(r, -1) << c.cx << "," << c.cy;
      EXPECT_EQ(bx, c.cx);
      EXPECT_EQ(by, c.cy);
    }
  }
  // Best score 255 x 1024 against a limit of 1024 x maxMeanDifference.
  std::vector<UInt8> black(size_t(W) * H, 0);
  alignas(16) UInt8 white[32 * 32];
  for (auto& p : white) p = 255;
  float bx = 0, by = 0;
  EXPECT_EQ(myCompare32BlockPixels(white, black.data(), W, H, W, 1, 0, 0, 254.9f, 75.0f, 70.0f, &bx,
                                   &by), -1);
  EXPECT_EQ(bx, 75.0f);
  EXPECT_EQ(by, 70.0f);
  EXPECT_EQ(myCompare32BlockPixels(white, black.data(), W, H, W, 1, 0, 0, 255.0f, 75.0f, 70.0f, &bx,
                                   &by), -2);
}

TEST(BlockExtract, ContrastAndBounds) {
  const UInt32 W = 64, H = 48;
  std::vector<UInt8> frame(size_t(W) * H, 77);  // exactly sized
  alignas(16) UInt8 block[32 * 32];
  for (auto& p : block) p = 0;
  // A uniform square fails with -16 but is still copied.
  EXPECT_EQ(myExtract32BlockPixels(frame.data(), block, W, H, W, 1, 10.0, 30.0f, 24.0f), -16);
  for (UInt8 p : block) ASSERT_EQ(p, 77);

  frame[20 * W + 20] = 87;  // contrast exactly 10
  EXPECT_EQ(myExtract32BlockPixels(frame.data(), block, W, H, W, 1, 10.0, 30.0f, 24.0f), 0);
  EXPECT_EQ(block[(20 - 8) * 32 + (20 - 14)], 87);
  EXPECT_EQ(myExtract32BlockPixels(frame.data(), block, W, H, W, 1, 10.5, 30.0f, 24.0f), -16);

  struct Case { float cx, cy; SInt32 result; };
  const Case cases[] = {{16.0f, 16.0f, 0},  {15.9f, 16.0f, -1}, {48.0f, 32.0f, 0},
                        {48.1f, 32.0f, -1}, {20.0f, 15.0f, -1}, {20.0f, 32.5f, -1}};
  frame[0] = 0;
  frame[W * H - 1] = 255;
  for (const Case& c : cases)
    EXPECT_EQ(myExtract32BlockPixels(frame.data(), block, W, H, W, 1, 1.0, c.cx, c.cy), c.result)
        << c.cx << "," << c.cy;
  EXPECT_EQ(block[0], 77);
}

TEST(StrongestEdge, StepEdgeNearAPointOverTheFrameAndTooSmallFrames) {
  const UInt32 W = 200, H = 200;
  // Vertical edge: columns from 100 on are bright. With d = 8 every row's
  // first largest step starts at c = 92, position 92 + 4.
  std::vector<UInt8> frame(size_t(W) * H);
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) frame[y * W + x] = x >= 100 ? 200 : 10;
  SInt32 dx = 9, dy = 9;
  findMaxMono8Gradient(frame.data(), W, H, W, 8, 1, 100.0f, 100.0f, &dx, &dy);
  EXPECT_EQ(dx, -4);
  EXPECT_EQ(dy, -64);  // the first selected row, 36
  findMaxMono8Gradient(frame.data(), W, H, W, 8, 0, 110.4f, 90.6f, &dx, &dy);
  EXPECT_EQ(dx, 96 - 110);
  EXPECT_EQ(dy, 32 - 91);

  // Horizontal edge from row 120 on: found by the column scan at r + d/2.
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) frame[y * W + x] = y >= 120 ? 150 : 20;
  findMaxMono8Gradient(frame.data(), W, H, W, 8, 1, 100.0f, 100.0f, &dx, &dy);
  EXPECT_EQ(dx, 36 - 100);
  EXPECT_EQ(dy, 116 - 100);

  // Near the bottom in mode 1 the rows stop at height - 1: a step only in the
  // last row is still found.
  std::fill(frame.begin(), frame.end(), 40);
  for (UInt32 x = 120; x < W; ++x) frame[(H - 1) * W + x] = 240;
  findMaxMono8Gradient(frame.data(), W, H, W, 3, 1, 150.0f, 190.0f, &dx, &dy);
  EXPECT_EQ(dx, 117 + 1 - 150);
  EXPECT_EQ(dy, 9);

  // Frames smaller than the margins, in both modes, on exactly sized buffers.
  for (UInt32 side : {20u, 40u, 64u}) {
    std::vector<UInt8> small(size_t(side) * side);
    for (UInt32 k = 0; k < small.size(); ++k) small[k] = UInt8(k * 37);
    for (SInt32 mode : {0, 1}) {
      dx = dy = 9;
      findMaxMono8Gradient(small.data(), side, side, side, 8, mode, side / 2.0f, side / 2.0f, &dx,
                           &dy);
      EXPECT_EQ(dx, 0) << side << " mode " << mode;
      EXPECT_EQ(dy, 0);
    }
  }
}
