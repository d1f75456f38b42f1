// A live colour-plane view runs one plane routine per frame: MP/s at 640x480,
// 8-bit and 16-bit, for a red plane (own and between rows) and a green plane.
#include <benchmark/benchmark.h>

#include <vector>

#include "pixel/BayerPlanes.h"

namespace {

template <typename T>
void runPlane(benchmark::State& state, void (*plane)(T*, UInt32, UInt32, UInt32)) {
  const UInt32 w = 640, h = 480, n = w * h;
  std::vector<T> mosaic(n), work(n);
  for (UInt32 i = 0; i < n; ++i) mosaic[i] = T(i * 2654435761u >> 9);
  for (auto _ : state) {
    state.PauseTiming();
    work = mosaic;
    state.ResumeTiming();
    plane(work.data(), w, h, 1);
    benchmark::ClobberMemory();
  }
  state.counters["MP/s"] = benchmark::Counter(n / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RedPlane8(benchmark::State& s) { runPlane<UInt8>(s, myRedBayer8ChannelRGGB); }
void BM_BluePlane8(benchmark::State& s) { runPlane<UInt8>(s, myBlueBayer8ChannelRGGB); }
void BM_GreenPlane8(benchmark::State& s) { runPlane<UInt8>(s, myGreenBayer8ChannelBGGR); }
void BM_RedPlane16(benchmark::State& s) { runPlane<UInt16>(s, myRedBayer16ChannelBGGR); }
void BM_GreenPlane16(benchmark::State& s) { runPlane<UInt16>(s, myGreenBayer16ChannelRGGB); }
BENCHMARK(BM_RedPlane8);
BENCHMARK(BM_BluePlane8);
BENCHMARK(BM_GreenPlane8);
BENCHMARK(BM_RedPlane16);
BENCHMARK(BM_GreenPlane16);

void BM_GreensToMono8(benchmark::State& state) {
  const UInt32 w = 640, h = 480, n = w * h;
  std::vector<UInt8> mosaic(n), out(n);
  for (UInt32 i = 0; i < n; ++i) mosaic[i] = UInt8(i * 7);
  for (auto _ : state) {
    myBayerRGGB8_Mono8(mosaic.data(), out.data(), w, h, w, 1);
    benchmark::ClobberMemory();
  }
  state.counters["MP/s"] = benchmark::Counter(n / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_GreensToMono8);

}  // namespace

BENCHMARK_MAIN();
