// myMemCpy: ns per call for the inline sizes, GB/s for large copies, beside libc.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "utilities/LowLevel.h"

static void BM_myMemCpySmall(benchmark::State& state) {
  const UInt32 n = UInt32(state.range(0));
  unsigned char src[80], dst[80];
  std::memset(src, 1, sizeof src);
  for (auto _ : state) {
    myMemCpy(dst + 1, src + 3, n);
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_myMemCpySmall)->DenseRange(1, 8)->Arg(15)->Arg(16)->Arg(31)->Arg(32)->Arg(48)->Arg(63)->Arg(64);

static void BM_libcMemcpySmall(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  unsigned char src[80], dst[80];
  std::memset(src, 1, sizeof src);
  for (auto _ : state) {
    std::memcpy(dst + 1, src + 3, n);
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_libcMemcpySmall)->Arg(1)->Arg(8)->Arg(32)->Arg(64);

template <bool Mine>
static void BM_Large(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  std::vector<unsigned char> src(n, 7), dst(n);
  for (auto _ : state) {
    if (Mine) myMemCpy(dst.data(), src.data(), UInt32(n));
    else std::memcpy(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK_TEMPLATE(BM_Large, true)->Arg(4096)->Arg(1 << 20);
BENCHMARK_TEMPLATE(BM_Large, false)->Arg(4096)->Arg(1 << 20);

BENCHMARK_MAIN();
