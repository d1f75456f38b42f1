// Frame conversion speed in MP/s: the pixel-layout kernels to ARGB32 and
// every demosaic kernel and quality, at 640x480, 1280x960 and an odd width
// (641x480), 8 and 16 bits.
//
// Target: the bilinear (MQ) demosaic of a 1280x960 8-bit frame to ARGB32 is
// at least as fast as OpenCV's bilinear Bayer-to-BGRA conversion of the same
// frame, both on one thread (BM_OpenCV_BayerToBGRA, shown when the machine has
// OpenCV; the "/threads:default" row lets OpenCV use its own thread pool).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "media/BayerDemosaic.h"
#include "media/PixelFormatKernels.h"

#if SKYLOOM_BENCH_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

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
  b->Args({640, 480})->Args({1280, 960})->Args({641, 480})->Unit(benchmark::kMicrosecond);
}

template <BayerDemosaicKernel K, int InBytes, int OutBytes>
void BM_Demosaic(benchmark::State& state) {
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

#define DEMOSAIC(K, in, out) BENCHMARK_TEMPLATE(BM_Demosaic, K, in, out)->Name("BM_" #K)->Apply(applySizes)
DEMOSAIC(BayerRGGB8_LQ_ARGB32, 1, 4);
DEMOSAIC(BayerRGGB8_MQ_ARGB32, 1, 4);
DEMOSAIC(BayerGRBG8_MQ_ARGB32, 1, 4);
DEMOSAIC(BayerRGGB8_MONO_ARGB32, 1, 4);
DEMOSAIC(BayerRGGB8_HQ_ARGB32, 1, 4);
DEMOSAIC(BayerRGGB16_LQ_RGB48, 2, 6);
DEMOSAIC(BayerRGGB16_MQ_RGB48, 2, 6);
DEMOSAIC(BayerRGGB16_HQ_RGB48, 2, 6);
DEMOSAIC(BayerRGGB16_MONO_ARGB32, 2, 4);
DEMOSAIC(BayerRGGB16_MONO16, 2, 2);
DEMOSAIC(BayerRGGB16_LQ_ARGB32, 2, 4);
DEMOSAIC(BayerRGGB16_MQ_ARGB32, 2, 4);

#if SKYLOOM_BENCH_WITH_OPENCV
void BM_OpenCV_BayerToBGRA(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const bool ownThreads = state.range(2) != 0;
  const int saved = cv::getNumThreads();
  cv::setNumThreads(ownThreads ? -1 : 1);
  const std::vector<unsigned char> src = noise(size_t(w) * h);
  cv::Mat in(h, w, CV_8UC1, const_cast<unsigned char*>(src.data()));
  cv::Mat out(h, w, CV_8UC4);
  for (auto _ : state) {
    cv::cvtColor(in, out, cv::COLOR_BayerRG2BGRA);
    benchmark::DoNotOptimize(out.data);
    benchmark::ClobberMemory();
  }
  cv::setNumThreads(saved);
  setRate(state, double(w) * h);
}
BENCHMARK(BM_OpenCV_BayerToBGRA)
    ->ArgNames({"w", "h", "threads:default"})
    ->Args({640, 480, 0})
    ->Args({1280, 960, 0})
    ->Args({641, 480, 0})
    ->Args({1280, 960, 1})
    ->Unit(benchmark::kMicrosecond);
#endif

typedef void (*PlainKernel)(const void*, void*, UInt32, UInt32, UInt32, UInt8, UInt8);

template <PlainKernel K, int NumBytesPer2Px>
void BM_Layout(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const UInt32 n = UInt32(size_t(w) * h * NumBytesPer2Px / 2);
  const std::vector<unsigned char> src = noise(n);
  std::vector<unsigned char> dst(size_t(w) * h * 4);
  for (auto _ : state) {
    K(src.data(), dst.data(), n, w, 4 * w, 0, 0);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setRate(state, double(w) * h);
}

#define LAYOUT(K, b2) BENCHMARK_TEMPLATE(BM_Layout, K, b2)->Name("BM_" #K)->Apply(applySizes)
LAYOUT(Mono8ToARGB32, 2);
LAYOUT(Mono16ToARGB32, 4);
LAYOUT(RGB24ToARGB32, 6);
LAYOUT(RGB48ToARGB32, 12);
LAYOUT(YUV444ToARGB32, 6);
LAYOUT(YUV422ToARGB32, 4);
LAYOUT(YUV411ToARGB32, 3);

}  // namespace

BENCHMARK_MAIN();
