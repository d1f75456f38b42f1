// The align workers' colour filters on one 1280 x 960 frame, one core.
// Items per second are pixels per second. Floors (MP/s) for ARGB32: 3 x 3 blur
// and unsharp mask 250; 5 x 5 blur and hot pixels 150; binning and levels
// 300; the whole 20-pass background cut 50. RGB48: at least half of these.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "pixel/HotPixels.h"
#include "tav/FrameFilters.h"

namespace {

constexpr UInt32 kWidth = 1280, kHeight = 960;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

// A planet-like frame: dark sky with noise and a bright disc with detail.
template <class T>
std::vector<T> makeFrame(int stride, int full) {
  std::vector<T> v(kPixels * stride);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> noise(0, full / 32);
  for (UInt32 y = 0; y < kHeight; ++y)
    for (UInt32 x = 0; x < kWidth; ++x) {
      const int dx = int(x) - 640, dy = int(y) - 480;
      const bool disc = dx * dx + dy * dy < 300 * 300;
      for (int c = 0; c < stride; ++c) {
        const int base = disc ? full / 2 + (int(x * 7 + y * 3) % (full / 4)) : full / 16;
        v[(size_t(y) * kWidth + x) * stride + c] = T(base + noise(rng));
      }
    }
  return v;
}

void setRate(benchmark::State& state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
}

void BM_Blur3x3ARGB32(benchmark::State& state) {
  auto src = makeFrame<UInt8>(4, 256), dst = src;
  for (auto _ : state) {
    my3by3GaussianBlurARGB32(src.data(), dst.data(), kWidth, kHeight, 4 * kWidth);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_Blur3x3RGB48(benchmark::State& state) {
  auto src = makeFrame<UInt16>(3, 65536), dst = src;
  for (auto _ : state) {
    my3by3GaussianBlurRGB48(src.data(), dst.data(), kWidth, kHeight, 6 * kWidth);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_Blur5x5ARGB32(benchmark::State& state) {
  auto src = makeFrame<UInt8>(4, 256), dst = src;
  for (auto _ : state) {
    my5by5GaussianBlurARGB32(src.data(), dst.data(), kWidth, kHeight, 4 * kWidth);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_Blur5x5RGB48(benchmark::State& state) {
  auto src = makeFrame<UInt16>(3, 65536), dst = src;
  for (auto _ : state) {
    my5by5GaussianBlurRGB48(src.data(), dst.data(), kWidth, kHeight, 6 * kWidth);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_SharpenARGB32(benchmark::State& state) {
  auto src = makeFrame<UInt8>(4, 256), blur = src, dst = src;
  my3by3GaussianBlurARGB32(src.data(), blur.data(), kWidth, kHeight, 4 * kWidth);
  for (auto _ : state) {
    mySharpenFilterThresholdARGB32(src.data(), blur.data(), dst.data(), kWidth, kHeight, 4 * kWidth,
                                   1.5, 4, 0);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_SharpenRGB48(benchmark::State& state) {
  auto src = makeFrame<UInt16>(3, 65536), blur = src, dst = src;
  my3by3GaussianBlurRGB48(src.data(), blur.data(), kWidth, kHeight, 6 * kWidth);
  for (auto _ : state) {
    mySharpenFilterThresholdRGB48(src.data(), blur.data(), dst.data(), kWidth, kHeight, 6 * kWidth,
                                  1.5, 1000, 0);
    benchmark::ClobberMemory();
  }
  setRate(state);
}
// In-place filters run on a fresh copy each time; the copy is outside the timing.
template <class T, class F>
void inPlace(benchmark::State& state, const std::vector<T>& frame, F filter) {
  std::vector<T> work = frame;
  for (auto _ : state) {
    state.PauseTiming();
    work = frame;
    state.ResumeTiming();
    filter(work.data());
    benchmark::ClobberMemory();
  }
  setRate(state);
}
void BM_HotPixelARGB32(benchmark::State& state) {
  inPlace(state, makeFrame<UInt8>(4, 256),
          [](UInt8* f) { myDoARGB32HotPixel8Bit(f, kWidth, kHeight, 4 * kWidth, 20); });
}
void BM_HotPixelRGB48(benchmark::State& state) {
  inPlace(state, makeFrame<UInt16>(3, 65536),
          [](UInt16* f) { myDoRGB48HotPixel16Bit(f, kWidth, kHeight, 6 * kWidth, 5000); });
}
void BM_Bin2x2ARGB32(benchmark::State& state) {
  inPlace(state, makeFrame<UInt8>(4, 256),
          [](UInt8* f) { myBin2x2ARGB32(f, kWidth, kHeight, 4 * kWidth, 10); });
}
void BM_Bin2x2RGB48(benchmark::State& state) {
  inPlace(state, makeFrame<UInt16>(3, 65536),
          [](UInt16* f) { myBin2x2RGB48(f, kWidth, kHeight, 6 * kWidth, 1000); });
}
void BM_LevelARGB32(benchmark::State& state) {
  inPlace(state, makeFrame<UInt8>(4, 256),
          [](UInt8* f) { myLevelARGB32(f, f, kWidth, kHeight, 4 * kWidth, 0.25f); });
}
void BM_LevelRGB48(benchmark::State& state) {
  inPlace(state, makeFrame<UInt16>(3, 65536),
          [](UInt16* f) { myLevelRGB48(f, f, kWidth, kHeight, 6 * kWidth, 0.25f); });
}
void BM_BackgroundCutARGB32(benchmark::State& state) {
  inPlace(state, makeFrame<UInt8>(4, 256), [](UInt8* f) {
    myIterativelyChangeAverageCutPixelARGB32(f, kWidth, kHeight, 4 * kWidth, 20);
  });
}
void BM_BackgroundCutRGB48(benchmark::State& state) {
  inPlace(state, makeFrame<UInt16>(3, 65536), [](UInt16* f) {
    myIterativelyChangeAverageCutPixelRGB48(f, kWidth, kHeight, 6 * kWidth, 20);
  });
}

}  // namespace

BENCHMARK(BM_Blur3x3ARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur3x3RGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur5x5ARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur5x5RGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenRGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotPixelARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotPixelRGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bin2x2ARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bin2x2RGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelRGB48)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundCutARGB32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundCutRGB48)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
