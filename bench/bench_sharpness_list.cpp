// Sorting a movie's sharpness list, sharpest first.
#include <benchmark/benchmark.h>

#include <random>

#include "stacking/SharpnessList.h"

static void BM_SortNoiseList(benchmark::State& state) {
  const long n = state.range(0);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> value(0.0f, 100.0f);
  SharpnessList source = nullptr;
  for (long i = 0; i < n; ++i) myAddNoiseStruct(&source, UInt32(i * 20), value(rng));
  for (auto _ : state) {
    state.PauseTiming();
    Handle list = source;
    HandToHand(&list);
    state.ResumeTiming();
    mySortNoiseStruct(list);
    benchmark::DoNotOptimize(*list);
    state.PauseTiming();
    DisposeHandle(list);
    state.ResumeTiming();
  }
  DisposeHandle(source);
}
BENCHMARK(BM_SortNoiseList)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
