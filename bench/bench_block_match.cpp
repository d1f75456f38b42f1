// Block search: microseconds per compare and per 32 x 32 block of search, at
// block sizes 1 and 2, beside a straightforward scalar loop of the same
// search (vectorisation switched off for it) that must give the same result.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "pixel/BlockMatch.h"

namespace {

struct Fixture {
  UInt32 width = 640, height = 480;
  std::vector<UInt8> frame, block;
  UInt32 blockSize;
  explicit Fixture(UInt32 bs) : frame(size_t(640) * 480), block(size_t(32 * bs) * (32 * bs)), blockSize(bs) {
    UInt32 s = 12345;
    for (auto& p : frame) {
      s = s * 1664525u + 1013904223u;
      p = UInt8(s >> 24);
    }
    if (myExtract32BlockPixels(frame.data(), block.data(), width, height, width, bs, 1.0, 323.0f,
                               237.0f) != 0)
      throw std::runtime_error("extract");
  }
};

#if defined(__clang__)
#define SCALAR_LOOP _Pragma("clang loop vectorize(disable) interleave(disable)")
#define NO_VECTORISE
#else
#define SCALAR_LOOP
#define NO_VECTORISE __attribute__((optimize("no-tree-vectorize")))
#endif

// The search as a plain scalar loop: same order, tie rule and results.
NO_VECTORISE SInt32 scalarSearch(const UInt8* block, const UInt8* frame, UInt32 width, UInt32 height,
                                 UInt32 rowBytes, UInt32 blockSize, SInt32 refMean, SInt32 frameMean,
                                 float maxMeanDifference, float cx, float cy, float* bestX,
                                 float* bestY) {
  *bestX = cx;
  *bestY = cy;
  const SInt32 xc = SInt32(std::lround(cx)), yc = SInt32(std::lround(cy));
  const SInt32 R = 64 * SInt32(blockSize), S = 32 * SInt32(blockSize);
  if (R > xc || xc + R > SInt32(width) || R > yc || yc + R > SInt32(height)) return -1;
  UInt32 best = 0xFFFFFFFFu, ties = 0;
  SInt32 bx = xc - R, by = yc - R;
  for (SInt32 y0 = yc - R; y0 < yc + R - S; ++y0)
    for (SInt32 x0 = xc - R; x0 < xc + R - S; ++x0) {
      UInt32 score = 0;
      for (SInt32 j = 0; j < S; ++j) {
        const UInt8* f = frame + size_t(y0 + j) * rowBytes + x0;
        const UInt8* b = block + size_t(j) * S;
        SCALAR_LOOP
        for (SInt32 i = 0; i < S; ++i)
          score += UInt32(std::abs((SInt32(f[i]) - frameMean) - (SInt32(b[i]) - refMean)));
      }
      if (score < best) {
        best = score;
        bx = x0;
        by = y0;
        ties = 0;
      } else if (score == best) {
        if (std::abs(x0 - bx) > 1 || std::abs(y0 - by) > 1) ++ties;
        bx = x0;
        by = y0;
      }
    }
  if (float(best) > float(S * S) * maxMeanDifference) return -1;
  *bestX = float(bx + S / 2);
  *bestY = float(by + S / 2);
  return ties ? -2 : SInt32(best);
}

template <bool Fast>
void BM_BlockSearch(benchmark::State& state) {
  const UInt32 bs = UInt32(state.range(0));
  Fixture fx(bs);
  // Search a shifted position with means 5 apart, so the correction matters.
  float fastX, fastY, refX, refY;
  const SInt32 fast = myCompare32BlockPixels(fx.block.data(), fx.frame.data(), fx.width, fx.height,
                                             fx.width, bs, 120, 125, 200.0f, 330.0f, 232.0f, &fastX,
                                             &fastY);
  const SInt32 ref = scalarSearch(fx.block.data(), fx.frame.data(), fx.width, fx.height, fx.width,
                                  bs, 120, 125, 200.0f, 330.0f, 232.0f, &refX, &refY);
  if (fast != ref || fastX != refX || fastY != refY) {
    state.SkipWithError("fast and scalar searches disagree");
    return;
  }
  for (auto _ : state) {
    float x, y;
    SInt32 r;
    if (Fast)
      r = myCompare32BlockPixels(fx.block.data(), fx.frame.data(), fx.width, fx.height, fx.width, bs,
                                 120, 125, 200.0f, 330.0f, 232.0f, &x, &y);
    else
      r = scalarSearch(fx.block.data(), fx.frame.data(), fx.width, fx.height, fx.width, bs, 120,
                       125, 200.0f, 330.0f, 232.0f, &x, &y);
    benchmark::DoNotOptimize(r);
  }
  // One compare searches blockSize^2 blocks of 32 x 32; the inverted rate of
  // blocks / 1e6 is microseconds a block.
  state.counters["us_per_32x32_block"] = benchmark::Counter(
      double(state.iterations()) * bs * bs * 1e-6,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
  state.counters["result"] = fast;
}

}  // namespace

BENCHMARK_TEMPLATE(BM_BlockSearch, true)->Name("BlockSearch/fast")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_BlockSearch, false)->Name("BlockSearch/scalar")->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
