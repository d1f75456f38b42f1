// Mono8 measuring and filtering on 640 x 480 frames: the coarse-to-fine star
// search (microseconds per call on a star field), the 3 x 3 blur and the
// thresholded sharpen (megapixels per second), the histogram and the noise
// figure.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "pixel/Centroids.h"
#include "pixel/FrameNoise.h"
#include "pixel/StarProfile.h"

namespace {

constexpr UInt32 kW = 640, kH = 480;

// Sky of 20 with a little noise and a few Gaussian stars, one bright.
std::vector<UInt8> starField() {
  std::vector<UInt8> f(size_t(kW) * kH);
  UInt32 s = 99;
  for (auto& p : f) {
    s = s * 1664525u + 1013904223u;
    p = UInt8(20 + (s >> 29));
  }
  const struct { double x, y, peak, sigma; } stars[] = {
      {412.3, 301.7, 220, 2.0}, {120.5, 80.2, 90, 1.5}, {560.1, 400.9, 120, 1.8}, {300.0, 240.0, 60, 1.2}};
  for (const auto& st : stars)
    for (int y = int(st.y) - 8; y <= int(st.y) + 8; ++y)
      for (int x = int(st.x) - 8; x <= int(st.x) + 8; ++x) {
        const double r2 = (x - st.x) * (x - st.x) + (y - st.y) * (y - st.y);
        const double v = f[size_t(y) * kW + x] + st.peak * std::exp(-r2 / (2 * st.sigma * st.sigma));
        f[size_t(y) * kW + x] = UInt8(v > 255 ? 255 : v);
      }
  return f;
}

void BM_CoarseToFineSubCentroids(benchmark::State& state) {
  const std::vector<UInt8> f = starField();
  for (auto _ : state) {
    float cx, cy;
    UInt32 bw, bh;
    myCalcMultipleImageSubCentroids(f.data(), kW, kH, kW, 40, 0, 0, &cx, &cy, &bw, &bh);
    benchmark::DoNotOptimize(cx);
  }
}
BENCHMARK(BM_CoarseToFineSubCentroids)->Unit(benchmark::kMicrosecond);

void BM_CoarseToFineDelta(benchmark::State& state) {
  const std::vector<UInt8> f = starField();
  for (auto _ : state) {
    float cx, cy;
    UInt32 bw, bh;
    myCalcDeltaMultipleCentroids(f.data(), kW, kH, kW, 20, 1, &cx, &cy, &bw, &bh);
    benchmark::DoNotOptimize(cx);
  }
}
BENCHMARK(BM_CoarseToFineDelta)->Unit(benchmark::kMicrosecond);

void setPixelRate(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(double(state.iterations()) * kW * kH / 1e6,
                                              benchmark::Counter::kIsRate);
}

void BM_GaussianBlur(benchmark::State& state) {
  const std::vector<UInt8> f = starField();
  std::vector<UInt8> out(f.size());
  for (auto _ : state) {
    my3by3GaussianBlurMono8(f.data(), out.data(), kW, kH, kW);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setPixelRate(state);
}
BENCHMARK(BM_GaussianBlur)->Unit(benchmark::kMicrosecond);

void BM_SharpenThreshold(benchmark::State& state) {
  const SInt32 threshold = SInt32(state.range(0));
  const std::vector<UInt8> f = starField();
  std::vector<UInt8> blurred(f.size()), out(f.size());
  my3by3GaussianBlurMono8(f.data(), blurred.data(), kW, kH, kW);
  for (auto _ : state) {
    my3x3SharpenFilterThresholdMono8(f.data(), blurred.data(), out.data(), kW, kH, kW, 8.0, threshold);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setPixelRate(state);
}
BENCHMARK(BM_SharpenThreshold)->Arg(0)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_HistogramAndMedian(benchmark::State& state) {
  const std::vector<UInt8> f = starField();
  UInt32 h[256];
  for (auto _ : state) {
    myGetFrequencyMono8(f.data(), h, kW, kH, kW);
    benchmark::DoNotOptimize(myCalcMono8MedianVal(h, 0.5));
  }
  setPixelRate(state);
}
BENCHMARK(BM_HistogramAndMedian)->Unit(benchmark::kMicrosecond);

void BM_SparseFrameNoise(benchmark::State& state) {
  const std::vector<UInt8> f = starField();
  for (auto _ : state) {
    double figure;
    mySIMDNxNCalculateSparseFrameNoise(f.data(), nullptr, 0, 0, kW, kH, kW, 30, 8, 0, 0, &figure);
    benchmark::DoNotOptimize(figure);
  }
  setPixelRate(state);
}
BENCHMARK(BM_SparseFrameNoise)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
