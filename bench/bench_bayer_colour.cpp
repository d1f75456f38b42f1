// Per-frame colour work at 640x480, in MP/s: the focus figure and the
// colour-preserving binning of the live pipeline (8-bit and 16-bit), the
// white-balance averages, and the one-channel extraction of the sharpness
// pass of stacking.
#include <benchmark/benchmark.h>

#include <vector>

#include "pixel/BayerBinning.h"
#include "pixel/BayerSharpness.h"
#include "pixel/BayerWhiteBalance.h"
#include "pixel/MonoConversions.h"

namespace {

constexpr UInt32 kW = 640, kH = 480, kN = kW * kH;

template <typename T>
std::vector<T> mosaic(UInt32 shift) {
  std::vector<T> m(kN);
  for (UInt32 i = 0; i < kN; ++i) m[i] = T((i * 2654435761u) >> shift);
  return m;
}

void setRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(kN / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

template <typename T>
void runSharpness(benchmark::State& state, void (*f)(const T*, UInt32, UInt32, UInt32, double*)) {
  const std::vector<T> m = mosaic<T>(sizeof(T) == 1 ? 24 : 16);
  double out = 0.0;
  for (auto _ : state) {
    f(m.data(), kW, kH, 1, &out);
    benchmark::DoNotOptimize(out);
  }
  setRate(state);
}
void BM_Sharpness8RGGB(benchmark::State& s) { runSharpness<UInt8>(s, myBayer8RGGBSharpnessEstimator); }
void BM_Sharpness8BGGR(benchmark::State& s) { runSharpness<UInt8>(s, myBayer8BGGRSharpnessEstimator); }
void BM_Sharpness16RGGB(benchmark::State& s) { runSharpness<UInt16>(s, myBayer16RGGBSharpnessEstimator); }
void BM_Sharpness16BGGR(benchmark::State& s) { runSharpness<UInt16>(s, myBayer16BGGRSharpnessEstimator); }
BENCHMARK(BM_Sharpness8RGGB);
BENCHMARK(BM_Sharpness8BGGR);
BENCHMARK(BM_Sharpness16RGGB);
BENCHMARK(BM_Sharpness16BGGR);

// Binning works in place: each run starts from a fresh copy (not timed).
// Samples stay low so most blocks take the division rather than a limit.
template <typename T>
void runBinning(benchmark::State& state, void (*f)(T*, UInt32, UInt32, UInt32)) {
  const std::vector<T> m = mosaic<T>(sizeof(T) == 1 ? 26 : 18);
  std::vector<T> work(kN);
  for (auto _ : state) {
    state.PauseTiming();
    work = m;
    state.ResumeTiming();
    f(work.data(), kW, kH, 1);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_Binning8RGGB(benchmark::State& s) { runBinning<UInt8>(s, myBinBufferLRGBtoBayer8FixedRGGB); }
void BM_Binning8BGGR(benchmark::State& s) { runBinning<UInt8>(s, myBinBufferLRGBtoBayer8FixedBGGR); }
void BM_Binning16RGGB(benchmark::State& s) { runBinning<UInt16>(s, myBinBufferLRGBtoBayer16FloatRGGB); }
void BM_Binning16BGGR(benchmark::State& s) { runBinning<UInt16>(s, myBinBufferLRGBtoBayer16FloatBGGR); }
BENCHMARK(BM_Binning8RGGB);
BENCHMARK(BM_Binning8BGGR);
BENCHMARK(BM_Binning16RGGB);
BENCHMARK(BM_Binning16BGGR);

void BM_Averages8(benchmark::State& state) {
  const std::vector<UInt8> m = mosaic<UInt8>(24);
  UInt8 r = 0, g = 0, b = 0;
  for (auto _ : state) {
    myGetBayerRGGBAverages8Bit(m.data(), kW, kH, 1, &r, &g, &b);
    benchmark::DoNotOptimize(r + g + b);
  }
  setRate(state);
}
void BM_Averages16(benchmark::State& state) {
  const std::vector<UInt16> m = mosaic<UInt16>(16);
  UInt8 r = 0, g = 0, b = 0;
  for (auto _ : state) {
    myGetBayerBGGRBAverages16Bit(m.data(), kW, kH, 0, &r, &g, &b);
    benchmark::DoNotOptimize(r + g + b);
  }
  setRate(state);
}
BENCHMARK(BM_Averages8);
BENCHMARK(BM_Averages16);

void BM_RGB48ToMono16Luma(benchmark::State& state) {
  const std::vector<UInt16> rgb = [] {
    std::vector<UInt16> v(3 * kN);
    for (UInt32 i = 0; i < 3 * kN; ++i) v[i] = UInt16(i * 40503u);
    return v;
  }();
  std::vector<UInt16> out(kN);
  for (auto _ : state) {
    myRGB48PtrToMonoRGB16(rgb.data(), out.data(), kW, kH, kMyChannelLuma);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_ARGBToMono8Luma(benchmark::State& state) {
  std::vector<UInt8> argb(4 * kN);
  for (UInt32 i = 0; i < 4 * kN; ++i) argb[i] = UInt8(i * 7);
  std::vector<UInt8> out(kN);
  for (auto _ : state) {
    myARGBuffertoMonoRGB8Ptr(argb.data(), out.data(), kW, kH, 4 * kW, kW, kMyChannelLuma);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
BENCHMARK(BM_RGB48ToMono16Luma);
BENCHMARK(BM_ARGBToMono8Luma);

}  // namespace

BENCHMARK_MAIN();
