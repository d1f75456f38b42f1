// Dark subtraction and flat fielding run on every live frame on the delivery
// thread: each must handle well over 1 GB/s of frame data on one core.
// Reports MP/s and bytes/s at 640x480 8-bit and 1280x960 16-bit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "pixel/DarkFrame.h"
#include "pixel/FlatField.h"
#include "utilities/CpuPaths.h"

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

// Flat fielding as frames arrive: each step takes the next frame of a ring
// far larger than the caches, and a plain memcpy of a cold frame of the same
// size runs beside it. "vs_memcpy" is the memcpy's median time over the flat
// fielding's (the floor is 0.5). Arg 0 limits the instruction-set path
// (0 plain, 1 SSE2, 2 AVX2, 3 the host's widest).
template <typename Sample, typename Factor>
void FlattenCold(benchmark::State& state, void (*flatten)(Sample*, const Factor*, UInt32, UInt8, UInt8)) {
  constexpr UInt32 w = 1280, h = 960, n = w * h, kFrames = 96;
  const size_t frameBytes = size_t(n) * sizeof(Sample);
  std::unique_ptr<Sample[]> frames(new Sample[size_t(n) * kFrames]);
  std::unique_ptr<UInt8[]> copies(new UInt8[frameBytes * kFrames]);
  for (size_t i = 0; i < size_t(n) * kFrames; ++i) frames[i] = Sample(i * 2654435761u >> 13);
  std::memset(copies.get(), 1, frameBytes * kFrames);
  std::vector<Factor> factors(n);
  for (UInt32 i = 0; i < n; ++i) factors[i] = Factor(sizeof(Sample) == 1 ? 65536 + (i % 97) * 300 : 1.0f + float(i % 97) / 400.0f);
  mySetCpuPathLimit(MyCpuPath(state.range(0)));
  std::vector<double> ours, copy;
  UInt32 k = 0;
  for (auto _ : state) {
    Sample* frame = frames.get() + size_t(k % kFrames) * n;
    const UInt8* from = reinterpret_cast<const UInt8*>(frames.get() + size_t((k + kFrames / 2) % kFrames) * n);
    UInt8* to = copies.get() + size_t(k % kFrames) * frameBytes;
    const auto a = std::chrono::steady_clock::now();
    flatten(frame, factors.data(), n, 0, 1);
    benchmark::ClobberMemory();
    const auto b = std::chrono::steady_clock::now();
    std::memcpy(to, from, frameBytes);
    benchmark::ClobberMemory();
    const auto c = std::chrono::steady_clock::now();
    ours.push_back(std::chrono::duration<double>(b - a).count());
    copy.push_back(std::chrono::duration<double>(c - b).count());
    state.SetIterationTime(ours.back());
    ++k;
  }
  mySetCpuPathLimit(kMyCpuPathAVX512);
  std::sort(ours.begin(), ours.end());
  std::sort(copy.begin(), copy.end());
  const double o = ours[ours.size() / 2], m = copy[copy.size() / 2];
  state.counters["vs_memcpy"] = o > 0 ? m / o : 0;
  state.counters["memcpy_us"] = m * 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes));
}
void BM_FlattenFrame8BitCold(benchmark::State& state) { FlattenCold<UInt8, FlattenedFrame8Bit>(state, myFlattenFrame8Bit); }
void BM_FlattenFrame16BitCold(benchmark::State& state) { FlattenCold<UInt16, FlattenedFrame16Bit>(state, myFlattenFrame16Bit); }
BENCHMARK(BM_FlattenFrame8BitCold)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FlattenFrame16BitCold)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
