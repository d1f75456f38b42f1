// Dark subtraction and flat fielding run on every live frame on the delivery
// thread: each must handle well over 1 GB/s of frame data on one core.
// Reports MP/s and bytes/s at 640x480 8-bit and 1280x960 16-bit.
#include <benchmark/benchmark.h>

#include <vector>

#include "pixel/DarkFrame.h"
#include "pixel/FlatField.h"

namespace {

void report(benchmark::State& state, UInt32 pixels, UInt32 bytesPerSample) {
  state.SetBytesProcessed(int64_t(state.iterations()) * pixels * bytesPerSample);
  state.counters["MP/s"] =
      benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_SubtractDarkFrame8Bit(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt8> image(n), dark(n);
  for (UInt32 i = 0; i < n; ++i) {
    image[i] = UInt8(i * 7);
    dark[i] = UInt8(i % 13);
  }
  for (auto _ : state) {
    mySubtractDarkFrame8Bit(image.data(), dark.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 1);
}
BENCHMARK(BM_SubtractDarkFrame8Bit)->Args({640, 480})->Args({1280, 960});

void BM_SubtractDarkFrame16Bit(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt16> image(n), dark(n);
  for (UInt32 i = 0; i < n; ++i) {
    image[i] = UInt16(i * 7919);
    dark[i] = UInt16(i % 1301);
  }
  for (auto _ : state) {
    mySubtractDarkFrame16Bit(image.data(), dark.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 2);
}
BENCHMARK(BM_SubtractDarkFrame16Bit)->Args({640, 480})->Args({1280, 960});

void BM_FlattenFrame8Bit(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt8> flat(n), image(n);
  for (UInt32 i = 0; i < n; ++i) {
    flat[i] = UInt8(180 + i % 50);
    image[i] = UInt8(i * 7);
  }
  std::vector<FlattenedFrame8Bit> factors(n);
  myCreateFlattenedFrameMono8Bit(flat.data(), factors.data(), w, h, 0);
  for (auto _ : state) {
    myFlattenFrame8Bit(image.data(), factors.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 1);
}
BENCHMARK(BM_FlattenFrame8Bit)->Args({640, 480})->Args({1280, 960});

void BM_FlattenFrame16Bit(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1)), n = w * h;
  std::vector<UInt16> flat(n), image(n);
  for (UInt32 i = 0; i < n; ++i) {
    flat[i] = UInt16(40000 + i % 5000);
    image[i] = UInt16(i * 7919);
  }
  std::vector<FlattenedFrame16Bit> factors(n);
  myCreateFlattenedFrameMono16Bit(flat.data(), factors.data(), w, h);
  for (auto _ : state) {
    myFlattenFrame16Bit(image.data(), factors.data(), n, 0, 1);
    benchmark::ClobberMemory();
  }
  report(state, n, 2);
}
BENCHMARK(BM_FlattenFrame16Bit)->Args({640, 480})->Args({1280, 960});

}  // namespace

BENCHMARK_MAIN();
