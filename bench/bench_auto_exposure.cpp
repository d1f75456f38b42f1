// The automatic-exposure measurement on the delivery thread: megapixels per
// second of myAnalyzeCCDExposure on 8-bit and 16-bit 1280 x 960 frames while
// it watches (every frame measured).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/ExposureControls.h"

namespace {

constexpr UInt32 kW = 1280, kH = 960;

void Watching(MyCameraWindowDataStruct* r, UInt32 bits) {
  memset(r, 0, sizeof *r);
  r->mKind = kMyCameraWindowDataKind;
  r->mBitsPerPixel = bits;
  r->mWidth = kW;
  r->mHeight = kH;
  r->mAbsoluteShutter = 1;
  r->mAbsShutterMin = 0.02f;
  r->mAbsShutterMax = 33.3f;
  r->mAbsShutterValue = 16.0f;
  r->mShutterValue = 200;
  r->mAutoExposureReady = 1;
  r->mAutoExposureFrameCount = 3;
  r->mAutoExposureTarget = 50.0f;
}

// Frames of 8 or 16 bits with a spread of values; the mean pass runs whole.
template <typename Sample, int kBits, UInt32 kStep>
void BM_AnalyzeExposure(benchmark::State& state) {
  std::vector<Sample> frame(size_t(kW) * kH);
  for (size_t i = 0; i < frame.size(); i++) frame[i] = Sample(i * kStep);
  MyCameraWindowDataStruct r;
  Watching(&r, kBits);
  for (auto _ : state) {
    myAnalyzeCCDExposure(&r, frame.data());
    benchmark::DoNotOptimize(r.mAutoExposureMeasured);
    r.mAutoExposurePending = 0;
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(kW) * kH * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AnalyzeExposure<UInt8, 8, 7>)->Name("BM_AnalyzeExposure8Bit");
BENCHMARK(BM_AnalyzeExposure<UInt16, 16, 7919>)->Name("BM_AnalyzeExposure16Bit");

}  // namespace

BENCHMARK_MAIN();
