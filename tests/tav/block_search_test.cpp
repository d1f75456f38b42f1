// Block placement by the strongest brightness steps and the clamped block
// search the workers fall back on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "tav/BlockSearch.h"

namespace {

struct Mono {
  UInt32 w, h, rb;
  std::vector<UInt8> px;
  Mono(UInt32 w_, UInt32 h_, UInt32 pad = 0) : w(w_), h(h_), rb(w_ + pad), px(size_t(rb) * h_, 0) {}
  UInt8& at(UInt32 x, UInt32 y) { return px[size_t(y) * rb + x]; }
  std::vector<UInt8> cut(UInt32 x0, UInt32 y0, UInt32 S) {
    std::vector<UInt8> b(size_t(S) * S);
    for (UInt32 j = 0; j < S; ++j)
      for (UInt32 i = 0; i < S; ++i) b[j * S + i] = at(x0 + i, y0 + j);
    return b;
  }
};

Mono noise(UInt32 w, UInt32 h, unsigned seed, int lo = 0, int hi = 255) {
  Mono m(w, h, 7);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) m.at(x, y) = UInt8(d(rng));
  return m;
}

struct Gradients {
  SInt32 hdx = 99, hdy = 99, vdx = 99, vdy = 99;
};

Gradients gradients(Mono& m, float x, float y, UInt8 local) {
  Gradients g;
  findMaxHorzVertMono8Gradient(m.px.data(), m.w, m.h, m.rb, x, y, local, 8, &g.hdx, &g.hdy, &g.vdx,
                               &g.vdy);
  return g;
}

TEST(Gradient, VerticalStepEdge) {
  Mono m(320, 240, 5);
  for (UInt32 y = 0; y < 240; ++y)
    for (UInt32 x = 100; x < 320; ++x) m.at(x, y) = 255;
  // First maximum of a row at x = 92 (middle 96); every row ties, so the
  // window's first row (120 - 64 = 56) wins. No vertical difference at all.
  Gradients g = gradients(m, 90.0f, 120.0f, 1);
  EXPECT_EQ(g.hdx, 6);
  EXPECT_EQ(g.hdy, -64);
  EXPECT_EQ(g.vdx, 0);
  EXPECT_EQ(g.vdy, 0);
  // The rounded centre; the whole-frame window starts at row 32.
  g = gradients(m, 89.6f, 119.5f, 0);
  EXPECT_EQ(g.hdx, 6);
  EXPECT_EQ(g.hdy, 32 - 120);

  // A horizontal step: the vertical search's first column wins.
  Mono n(320, 240);
  for (UInt32 y = 150; y < 240; ++y)
    for (UInt32 x = 0; x < 320; ++x) n.at(x, y) = 200;
  g = gradients(n, 160.0f, 140.0f, 1);
  EXPECT_EQ(g.hdx, 0);
  EXPECT_EQ(g.hdy, 0);
  EXPECT_EQ(g.vdx, -64);
  EXPECT_EQ(g.vdy, 146 - 140);
}

TEST(Gradient, NarrowFramesAndWindowsGiveZero) {
  for (UInt32 w : {40u, 72u}) {
    Mono m(w, 200);
    for (UInt32 y = 0; y < 200; ++y)
      for (UInt32 x = w / 2; x < w; ++x) m.at(x, y) = 255;
    Gradients g = gradients(m, float(w) / 2, 100.0f, 1);
    EXPECT_EQ(g.hdx, 0) << w;
    EXPECT_EQ(g.hdy, 0) << w;
  }
  // A centre far outside: the window is empty both ways.
  Mono m = noise(200, 200, 3);
  Gradients g = gradients(m, -500.0f, 1e9f, 1);
  EXPECT_EQ(g.hdx | g.hdy | g.vdx | g.vdy, 0);
}

struct Search {
  SInt32 result;
  float x, y;
};

Search all(Mono& m, const std::vector<UInt8>& block, float x, float y, double tol = 0.0,
           SInt32 refMean = 0, SInt32 frameMean = 0, UInt32 blockSize = 1) {
  Search s{0, x, y};
  s.result = myCompare32BlockPixelsALL(block.data(), m.px.data(), m.w, m.h, m.rb, blockSize, refMean,
                                       frameMean, tol, &s.x, &s.y);
  return s;
}

TEST(BlockSearchALL, FindsAnEmbeddedBlock) {
  Mono m = noise(320, 240, 1);
  const std::vector<UInt8> block = m.cut(200, 100, 32);
  Search s = all(m, block, 216.0f, 116.0f);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.x, 216.0f);
  EXPECT_EQ(s.y, 116.0f);

  // Means that differ are taken out of every difference.
  Mono dim = noise(320, 240, 1, 0, 200);
  std::vector<UInt8> dimBlock = dim.cut(40, 60, 32);
  for (UInt8& v : dim.px) v = UInt8(v + 30);
  s = all(dim, dimBlock, 60.0f, 70.0f, 0.0, 100, 130);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.x, 56.0f);
  EXPECT_EQ(s.y, 76.0f);
}

TEST(BlockSearchALL, WindowAndWholeFrame) {
  Mono m = noise(400, 300, 2);
  const std::vector<UInt8> far = m.cut(350, 250, 32);
  // (100, 100) +- 128 does not reach (350, 250): nothing exact.
  Search s = all(m, far, 100.0f, 100.0f);
  EXPECT_EQ(s.result, -1);
  EXPECT_EQ(s.x, 100.0f);
  EXPECT_EQ(s.y, 100.0f);
  // A centre outside the frame searches every position, in either axis.
  for (float x : {0.0f, -3.0f, 400.0f, 1e9f}) {
    s = all(m, far, x, 100.0f, 0.0);
    EXPECT_EQ(s.result, -1) << x;  // rows are still windowed around 100
    s = all(m, far, x, -1.0f, 0.0);
    EXPECT_EQ(s.result, 0) << x;
    EXPECT_EQ(s.x, 366.0f);
    EXPECT_EQ(s.y, 266.0f);
  }
  // A window clamped at the frame's corner.
  const std::vector<UInt8> corner = m.cut(0, 0, 32);
  s = all(m, corner, 10.0f, 20.0f);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.x, 16.0f);
  EXPECT_EQ(s.y, 16.0f);
}

TEST(BlockSearchALL, ToleranceTiesAndNarrowFrames) {
  Mono m = noise(200, 150, 4);
  std::vector<UInt8> block = m.cut(60, 50, 32);
  block[33] = UInt8(block[33] ^ 1);  // one level off: score 1
  EXPECT_EQ(all(m, block, 76.0f, 66.0f, 0.0).result, -1);
  Search s = all(m, block, 76.0f, 66.0f, 1.0 / 1024);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.x, 76.0f);

  // Flat frame and block: every score 0; the best jumps back at each row.
  Mono flat(200, 150);
  std::vector<UInt8> flatBlock(32 * 32, 0);
  s = all(flat, flatBlock, 100.0f, 75.0f);
  EXPECT_EQ(s.result, -2);

  // Frames narrower or lower than the block: no position, nothing read
  // outside (the buffers are exactly the frame).
  for (auto [w, h] : {std::pair<UInt32, UInt32>{16, 100}, {100, 16}, {32, 100}, {31, 31}}) {
    std::vector<UInt8> frame(size_t(w) * h, 0);
    float x = 8.0f, y = 8.0f;
    EXPECT_EQ(myCompare32BlockPixelsALL(flatBlock.data(), frame.data(), w, h, w, 1, 0, 0, 15.0, &x, &y),
              -1)
        << w << "x" << h;
    EXPECT_EQ(x, 8.0f);
    EXPECT_EQ(y, 8.0f);
  }
}

// The search straight from its rule, one pixel at a time, as the yardstick
// of the fast sums.
SInt32 referenceSearch(const std::vector<UInt8>& block, Mono& m, UInt32 blockSize, SInt32 rm,
                       SInt32 fm, double tol, float* X, float* Y) {
  const SInt64 S = 32 * SInt64(blockSize);
  auto range = [&](float c, SInt64 n, SInt64* a, SInt64* b) {
    if (c <= 0 || c >= float(n)) {
      *a = 0, *b = n - S;
    } else {
      *a = std::max<SInt64>(0, SInt64(double(c) - 4 * S));
      *b = std::min<SInt64>(n - S, SInt64(double(c) + 4 * S));
    }
  };
  SInt64 x0, x1, y0, y1;
  range(*X, m.w, &x0, &x1);
  range(*Y, m.h, &y0, &y1);
  UInt32 best = 0xFFFFFFFFu, ties = 0;
  SInt64 bx = -1, by = -1;
  for (SInt64 y = y0; y < y1; ++y)
    for (SInt64 x = x0; x < x1; ++x) {
      UInt32 score = 0;
      for (SInt64 j = 0; j < S; ++j)
        for (SInt64 i = 0; i < S; ++i) {
          const int f = m.at(UInt32(x + i), UInt32(y + j)), b = block[size_t(j * S + i)];
          score += UInt32(rm == fm ? std::abs(f - b) : std::abs((f - fm) - (b - rm)));
        }
      if (bx < 0 || score < best) {
        best = score, bx = x, by = y, ties = 0;
      } else if (score == best) {
        if (std::llabs(x - bx) > 1 || std::llabs(y - by) > 1) ++ties;
        bx = x, by = y;
      }
    }
  if (bx < 0 || !(float(best) <= float(S * S) * float(tol))) return -1;
  *X = float(bx + S / 2);
  *Y = float(by + S / 2);
  return ties != 0 ? -2 : SInt32(best);
}

TEST(BlockSearchALL, BothFormsFollowTheRuleOnRandomCases) {
  std::mt19937 rng(5);
  for (int i = 0; i < 1000; ++i) {
    const UInt32 blockSize = i % 10 == 0 ? 2 : 1, S = 32 * blockSize;
    const UInt32 w = S + 1 + rng() % 11, h = S + 1 + rng() % 11;
    // Low-contrast frames so that ties and near matches happen; means far
    // apart push the corrected block past 0 and 255.
    Mono m = noise(w, h, rng(), 0, i % 2 ? 3 : 255);
    std::vector<UInt8> block = m.cut(rng() % (w - S), rng() % (h - S), S);
    if (i % 3 == 0) block[rng() % block.size()] ^= 1;
    const SInt32 rm = SInt32(rng() % 3) * (i % 4 == 1 ? 100 : 1), fm = SInt32(rng() % 3);
    const double tol = (rng() % 8) * 0.25 + (i % 4 == 1 ? 100 : 0);
    const float x0 = float(int(rng() % (w + 20)) - 10), y0 = float(int(rng() % (h + 20)) - 10);
    float xa = x0, ya = y0, xb = x0, yb = y0, xr = x0, yr = y0;
    const SInt32 a = myCompare32BlockPixelsALL(block.data(), m.px.data(), w, h, m.rb, blockSize, rm,
                                               fm, tol, &xa, &ya);
    const SInt32 b = myAltivecCompare32BlockPixelsALL(block.data(), m.px.data(), w, h, m.rb,
                                                      blockSize, rm, fm, tol, &xb, &yb, 1);
    const SInt32 r = referenceSearch(block, m, blockSize, rm, fm, tol, &xr, &yr);
    ASSERT_EQ(a, r) << i;
    ASSERT_EQ(xa, xr) << i;
    ASSERT_EQ(ya, yr) << i;
    ASSERT_EQ(b, r) << i;
    ASSERT_EQ(xb, xr) << i;
    ASSERT_EQ(yb, yr) << i;
  }
}

}  // namespace
