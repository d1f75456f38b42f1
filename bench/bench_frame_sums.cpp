// Frame sums run per live frame while averaging and per stacked frame:
// MB/s of frame data for the whole-frame add and divide and the shifted adds.
#include <benchmark/benchmark.h>

#include <vector>

#include "pixel/FrameSums.h"

namespace {

constexpr UInt32 kW = 640, kH = 480, kN = kW * kH;

void BM_Add8to32Buff(benchmark::State& state) {
  std::vector<UInt8> frame(kN, 200);
  std::vector<UInt32> sums(kN);
  for (auto _ : state) {
    myAdd8to32Buff(frame.data(), sums.data(), kN);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kN);
}
BENCHMARK(BM_Add8to32Buff);

void BM_Add16to32Buff(benchmark::State& state) {
  std::vector<UInt16> frame(kN, 40000);
  std::vector<UInt32> sums(kN);
  for (auto _ : state) {
    myAdd16to32Buff(frame.data(), sums.data(), 2 * kN);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kN * 2);
}
BENCHMARK(BM_Add16to32Buff);

void BM_32to8FrameBuff8Bit(benchmark::State& state) {
  std::vector<UInt32> sums(kN, 2000);
  std::vector<UInt8> frame(kN);
  for (auto _ : state) {
    my32to8FrameBuff8Bit(sums.data(), frame.data(), kN, 10, 1);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kN);
}
BENCHMARK(BM_32to8FrameBuff8Bit);

void BM_ShiftedAddMono8(benchmark::State& state) {
  std::vector<UInt8> frame(kN, 100);
  std::vector<UInt32> sums(kN);
  for (auto _ : state) {
    myAdd8Buffto32BuffMono(frame.data(), sums.data(), kW, kH, 3, -2);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kN);
}
BENCHMARK(BM_ShiftedAddMono8);

void BM_ShiftedAddARGB32(benchmark::State& state) {
  std::vector<UInt8> frame(kN * 4, 100);
  std::vector<UInt32> sums(kN * 3);
  for (auto _ : state) {
    myAdd8Buffto32BuffRGB(frame.data(), sums.data(), kW, kH, -1, 1);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kN * 4);
}
BENCHMARK(BM_ShiftedAddARGB32);

}  // namespace

BENCHMARK_MAIN();
