// The ORX_BAYER demosaic engine in MP/s beside the frame-conversion kernel of
// the same method, 640x480 (and 1280x960), in the same run: methods 0, 1 and
// 2, 8-bit samples to ARGB32 and 16-bit samples to 'b48r' (the kernels read
// host-order 16-bit samples and write host-order RGB48, the codec big-endian).
//
// Targets: each BM_Codec row at least as fast as the BM_Kernel row of its
// method and sample width (ratio 1.0 or more); method 2 and the HQ kernels,
// which share its code, at least 100 MP/s at 8 bits and 60 MP/s at 16 bits on
// one core.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bayer_codec/BayerDecode.h"
#include "media/BayerDemosaic.h"

namespace {

std::vector<unsigned char> noise(size_t n) {
  std::mt19937 rng(42);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = (unsigned char)rng();
  return v;
}

void setRate(benchmark::State& state, double pixels) {
  // Printed as pixels=<rate>/s with SI prefixes: 1.25G/s is 1250 MP/s.
  state.counters["pixels"] = benchmark::Counter(pixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

void applySizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1280, 960})->Unit(benchmark::kMicrosecond);
}

template <UInt32 Method, int InBytes, int OutBytes>
void BM_Codec(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<unsigned char> src = noise(size_t(w) * h * InBytes);
  std::vector<unsigned char> dst(size_t(w) * h * OutBytes);
  for (auto _ : state) {
    Bayer_DecodetoPixMap(src.data(), dst.data(), FOUR_CHAR_CODE("RGGB"), InBytes, Method, w * OutBytes, w, h);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setRate(state, double(w) * h);
}

template <BayerDemosaicKernel K, int InBytes, int OutBytes>
void BM_Kernel(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<unsigned char> src = noise(size_t(w) * h * InBytes);
  std::vector<unsigned char> dst(size_t(w) * h * OutBytes);
  for (auto _ : state) {
    K(src.data(), dst.data(), w * OutBytes, w, h, 1);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setRate(state, double(w) * h);
}

#define PAIR(method, K, in, out)                                                                         \
  BENCHMARK_TEMPLATE(BM_Codec, method, in, out)->Name("BM_Codec_method" #method "_" #in "byte")->Apply(applySizes); \
  BENCHMARK_TEMPLATE(BM_Kernel, K, in, out)->Name("BM_Kernel_" #K)->Apply(applySizes)
PAIR(0, BayerRGGB8_LQ_ARGB32, 1, 4);
PAIR(1, BayerRGGB8_MQ_ARGB32, 1, 4);
PAIR(2, BayerRGGB8_HQ_ARGB32, 1, 4);
PAIR(0, BayerRGGB16_LQ_RGB48, 2, 6);
PAIR(1, BayerRGGB16_MQ_RGB48, 2, 6);
PAIR(2, BayerRGGB16_HQ_RGB48, 2, 6);

}  // namespace

BENCHMARK_MAIN();
