// Camera frames to the ARGB32 preview through the display converter, in MP/s
// (the "pixels" counter: 1.25G/s is 1250 MP/s): Mono8, raw Bayer 8-bit in
// each quality and as grey, 12-bit grey and Bayer frames (unpacked first),
// 16-bit grey and Bayer, RGB24 and RGB48, and the YUV layouts, at 640x480
// and 1280x960.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/RawFrameConversion.h"

namespace {

MyDCAMCameraStruct* benchCamera() {
  static MyDCAMCameraStruct camera{};
  return &camera;
}

void BM_RawFrameToARGB32(benchmark::State& state, const char* code, UInt32 bits) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<unsigned char> src(size_t(w) * h * 6);
  std::mt19937 rng(42);
  for (auto& b : src) b = (unsigned char)rng();
  std::vector<unsigned char> dst(size_t(w) * h * 4);
  const UInt32 fourcc = (UInt32(UInt8(code[0])) << 24) | (UInt32(UInt8(code[1])) << 16) |
                        (UInt32(UInt8(code[2])) << 8) | UInt8(code[3]);
  for (auto _ : state) {
    if (ORXDCAMConvertRawFrameToARGB32(benchCamera(), src.data(), w, h, fourcc, bits, dst.data(), w * 4) != 0)
      state.SkipWithError("conversion refused");
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.counters["pixels"] =
      benchmark::Counter(double(w) * h * double(state.iterations()), benchmark::Counter::kIsRate);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1280, 960})->Unit(benchmark::kMicrosecond);
}

BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Mono8, "raw ", 8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Mono12, "raw ", 12)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Mono16, "raw ", 16)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, RGB24, "raw ", 24)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, RGB48, "raw ", 48)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw8_LQ, "blRG", 8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw8_MQ, "bmRG", 8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw8_HQ, "bhRG", 8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw8_Grey, "mmRG", 8)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw12_MQ, "bmRG", 12)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw16_MQ, "bmRG", 16)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, Raw16_HQ, "bhRG", 16)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, YUV444, "v308", 24)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, YUV422, "2vuy", 16)->Apply(sizes);
BENCHMARK_CAPTURE(BM_RawFrameToARGB32, YUV411, "Y411", 12)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
