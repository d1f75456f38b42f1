// Object tracking per frame on one core: the high-byte reduction of a deep
// frame to the Mono8 copy, then the 32 x 32 box work. Frames are star fields
// of the scene generator with the tracked star at the centre. Floor: 240
// frames/s at 1280 x 960 16-bit (the reduction is nearly all of it).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/ObjectTracking.h"
#include "platform/simcamera/SimScene.h"

namespace {

struct Setup {
  std::unique_ptr<MyCameraWindowDataStruct> record = std::make_unique<MyCameraWindowDataStruct>();
  std::vector<float> samples = std::vector<float>(size_t(kMyTrackSampleCapacity) * kMyTrackSampleFloats);
  std::vector<UInt8> mono, frame8;
  std::vector<UInt16> frame16;
  const void* frame = nullptr;
  UInt32 width, height, rowBytes;

  Setup(UInt32 w, UInt32 h, UInt32 bits) : width(w), height(h), rowBytes(w * (bits > 8 ? 2 : 1)) {
    SimSceneSettings s;
    s.width = w;
    s.height = h;
    s.hotPixelCount = 0;
    SimScene scene(s);
    frame16.resize(size_t(w) * h);
    scene.RenderMono(0, 0.05, bits, frame16.data());
    // The tracked star: a Gaussian (sigma 1.5 px) at 70 % of full scale.
    const double x0 = w * 0.5 + 3.3, y0 = h * 0.5 - 2.6, peak = bits > 8 ? 45000.0 : 180.0;
    for (UInt32 y = UInt32(y0) - 8; y <= UInt32(y0) + 8; ++y)
      for (UInt32 x = UInt32(x0) - 8; x <= UInt32(x0) + 8; ++x) {
        const double v = peak * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2 * 1.5 * 1.5));
        UInt16& p = frame16[size_t(y) * w + x];
        p = UInt16(std::min(bits > 8 ? 65535.0 : 255.0, p + v));
      }
    if (bits > 8) {
      frame = frame16.data();
      mono.assign(size_t(w) * h + 16, 0);
    } else {
      frame8.assign(frame16.begin(), frame16.end());
      frame = frame8.data();
    }
    MyCameraWindowDataStruct& r = *record;
    r.mKind = kMyCameraWindowDataKind;
    r.mBitsPerPixel = bits;
    r.mTrackSamples = samples.data();
    r.mPleezWaitSum = mono.empty() ? nullptr : mono.data();
    Restart();
  }
  // A fresh run every time the buffer fills, as the mode would start again.
  void Restart() {
    MyCameraWindowDataStruct& r = *record;
    r.mTrackSampleCapacity = kMyTrackSampleCapacity;
    r.mTrackSampleCount = 0;
    r.mTrackingAnalysisOn = 0;
    r.mPleezWaitDone = 0;
    r.mTrackingArea[2] = width * 0.5f;
    r.mTrackingArea[3] = height * 0.5f;
  }
};

void BM_ObjectTracking(benchmark::State& state) {
  Setup s(UInt32(state.range(0)), UInt32(state.range(1)), UInt32(state.range(2)));
  OSStatus result = noErr;
  for (auto _ : state) {
    result |= myDoImageTracking(s.record.get(), s.frame, s.width, s.height, s.rowBytes);
    if (s.record->mPleezWaitDone) s.Restart();
    benchmark::DoNotOptimize(s.record->mTrackSampleCount);
  }
  state.counters["x"] = s.record->mTrackingArea[2];  // the star: width / 2 + 3.3
  if (result != noErr) state.SkipWithError("the star was lost");
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// width, height, bits
BENCHMARK(BM_ObjectTracking)
    ->Args({640, 480, 8})
    ->Args({640, 480, 16})
    ->Args({1280, 960, 16})
    ->Args({1283, 961, 16})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
