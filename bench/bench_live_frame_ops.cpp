// The per-frame operations of the live pipeline: lookup tables, inversion,
// flips, histograms, hot-pixel repair and binning. Each runs on every frame
// on the delivery thread, so each must take 8-bit frames at 500 MP/s or more
// on one core (hot-pixel repair at 150 MP/s or more). Reported at 640x480
// 8-bit and 1280x960 16-bit, plus an odd width (644) for the row tails.
#include <benchmark/benchmark.h>

#include <vector>

#include "pixel/Histogram.h"
#include "pixel/HotPixels.h"
#include "pixel/PixelOps.h"

namespace {

void report(benchmark::State& state, UInt32 pixels, UInt32 bytesPerSample) {
  state.SetBytesProcessed(int64_t(state.iterations()) * pixels * bytesPerSample);
  state.counters["MP/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// A plausible sky frame: a smooth background with noise and a few hot pixels.
template <typename T>
std::vector<T> skyFrame(UInt32 w, UInt32 h, UInt32 scale) {
  std::vector<T> f(size_t(w) * h);
  UInt32 seed = 12345;
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      UInt32 v = 30 + (x + y) / 16 % 40 + ((seed >> 16) & 7);
      if (((seed >> 8) & 1023) == 0) v = 250;
      f[size_t(y) * w + x] = T(v * scale);
    }
  return f;
}

#define SIZES_8 ->Args({640, 480})->Args({644, 480})
#define SIZES_16 ->Args({1280, 960})

void BM_ApplyLUT8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1), lut(256);
  for (UInt32 i = 0; i < 256; ++i) lut[i] = UInt8(i);  // identity keeps the data steady
  for (auto _ : state) {
    myApply8BitLUT(f.data(), lut.data(), n);
    benchmark::ClobberMemory();
  }
  report(state, n, 1);
}
BENCHMARK(BM_ApplyLUT8) SIZES_8;

void BM_ApplyLUT16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256), lut(65536);
  for (UInt32 i = 0; i < 65536; ++i) lut[i] = UInt16(i);
  for (auto _ : state) {
    myApply16BitLUT(f.data(), lut.data(), n);
    benchmark::ClobberMemory();
  }
  report(state, n, 2);
}
BENCHMARK(BM_ApplyLUT16) SIZES_16;

void BM_Invert8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1);
  for (auto _ : state) {
    myInvertPixels8Bit(f.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 1);
}
BENCHMARK(BM_Invert8) SIZES_8;

void BM_Invert16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256);
  for (auto _ : state) {
    myInvertPixels16Bit(f.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 2);
}
BENCHMARK(BM_Invert16) SIZES_16;

void BM_FlipHorizontal8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1);
  for (auto _ : state) {
    myFlipHorizontalImage8Bit(f.data(), w, h, UInt8(state.range(2)));
    benchmark::ClobberMemory();
  }
  report(state, w * h, 1);
}
BENCHMARK(BM_FlipHorizontal8)->Args({640, 480, 0})->Args({644, 480, 0})->Args({640, 480, 1});

void BM_FlipHorizontal16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256);
  for (auto _ : state) {
    myFlipHorizontalImage16Bit(f.data(), w, h, UInt8(state.range(2)));
    benchmark::ClobberMemory();
  }
  report(state, w * h, 2);
}
BENCHMARK(BM_FlipHorizontal16)->Args({1280, 960, 0})->Args({1280, 960, 1});

void BM_FlipVertical8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1), row(w);
  for (auto _ : state) {
    myFlipVerticalImage8Bit(f.data(), row.data(), w, h, 1);
    benchmark::ClobberMemory();
  }
  report(state, w * h, 1);
}
BENCHMARK(BM_FlipVertical8) SIZES_8;

void BM_FlipVertical16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256), row(w);
  for (auto _ : state) {
    myFlipVerticalImage16Bit(f.data(), row.data(), w, h, 1);
    benchmark::ClobberMemory();
  }
  report(state, w * h, 2);
}
BENCHMARK(BM_FlipVertical16) SIZES_16;

void BM_HistogramMono8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1);
  std::vector<UInt32> table(256);
  for (auto _ : state) {
    myGetHistogramDataMono8Bit(f.data(), w, h, table.data());
    benchmark::ClobberMemory();
  }
  report(state, w * h, 1);
}
BENCHMARK(BM_HistogramMono8) SIZES_8;

void BM_HistogramBayer8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<UInt8> f = skyFrame<UInt8>(w, h, 1);
  std::vector<UInt32> r(256), g(256), b(256);
  for (auto _ : state) {
    myGetBayerHistogramData8Bit(f.data(), w, h, 1, r.data(), g.data(), b.data());
    benchmark::ClobberMemory();
  }
  report(state, w * h, 1);
}
BENCHMARK(BM_HistogramBayer8) SIZES_8;

void BM_HistogramMono16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256);
  std::vector<UInt32> table(256);
  for (auto _ : state) {
    myGetHistogramDataMono16Bit(f.data(), w, h, table.data());
    benchmark::ClobberMemory();
  }
  report(state, w * h, 2);
}
BENCHMARK(BM_HistogramMono16) SIZES_16;

void BM_HistogramBayer16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<UInt16> f = skyFrame<UInt16>(w, h, 256);
  std::vector<UInt32> r(256), g(256), b(256);
  for (auto _ : state) {
    myGetBayerHistogramData16Bit(f.data(), w, h, 1, r.data(), g.data(), b.data());
    benchmark::ClobberMemory();
  }
  report(state, w * h, 2);
}
BENCHMARK(BM_HistogramBayer16) SIZES_16;

// The repairs and binning change the frame, so every pass starts from a copy
// made outside the timing.
template <typename T, typename Fn>
void runOnCopies(benchmark::State& state, const std::vector<T>& source, Fn fn) {
  std::vector<T> work(source.size());
  for (auto _ : state) {
    state.PauseTiming();
    work = source;
    state.ResumeTiming();
    fn(work.data());
    benchmark::ClobberMemory();
  }
}

void BM_HotPixelMono8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt8>(w, h, 1),
              [&](UInt8* p) { myDoMonoHotPixel8Bit(p, w, h, 23); });
  report(state, w * h, 1);
}
BENCHMARK(BM_HotPixelMono8) SIZES_8;

void BM_HotPixelBayer8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt8>(w, h, 1),
              [&](UInt8* p) { myDoBayerHotPixel8Bit(p, w, h, 23); });
  report(state, w * h, 1);
}
BENCHMARK(BM_HotPixelBayer8) SIZES_8;

void BM_HotPixelMono16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt16>(w, h, 256),
              [&](UInt16* p) { myDoMonoHotPixel16Bit(p, w, h, 23 * 256); });
  report(state, w * h, 2);
}
BENCHMARK(BM_HotPixelMono16) SIZES_16;

void BM_HotPixelBayer16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt16>(w, h, 256),
              [&](UInt16* p) { myDoBayerHotPixel16Bit(p, w, h, 23 * 256); });
  report(state, w * h, 2);
}
BENCHMARK(BM_HotPixelBayer16) SIZES_16;

void BM_Bin2x2Mono8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt8>(w, h, 1), [&](UInt8* p) { myBin2x2BufferMono8(p, w, h); });
  report(state, w * h, 1);
}
BENCHMARK(BM_Bin2x2Mono8) SIZES_8;

void BM_Bin2x2Mono16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt16>(w, h, 256),
              [&](UInt16* p) { myBin2x2BufferMono16(p, w, h); });
  report(state, w * h, 2);
}
BENCHMARK(BM_Bin2x2Mono16) SIZES_16;

void BM_Bin4x4Mono8(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt8>(w, h, 1), [&](UInt8* p) { myBin4x4BufferMono8(p, w, h); });
  report(state, w * h, 1);
}
BENCHMARK(BM_Bin4x4Mono8) SIZES_8;

void BM_Bin4x4Mono16(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  runOnCopies(state, skyFrame<UInt16>(w, h, 256),
              [&](UInt16* p) { myBin4x4BufferMono16(p, w, h); });
  report(state, w * h, 2);
}
BENCHMARK(BM_Bin4x4Mono16) SIZES_16;

}  // namespace

BENCHMARK_MAIN();
