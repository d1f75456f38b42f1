// The brightness monitor's graph, repainted every second while samples
// arrive: 10,000,000 samples reduced to a box of 300 columns, in each of the
// three reductions (floor: 50 ms a repaint).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "app/HistogramViews.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

void BM_BrightnessGraphRepaint(benchmark::State& state) {
  const UInt32 n = UInt32(state.range(0));
  WindowRef sheet = nullptr;
  const Rect bounds{40, 40, 340, 460};
  if (CreateNewWindow(kDocumentWindowClass, 0, &bounds, &sheet) != noErr) {
    state.SkipWithError("no window");
    return;
  }
  auto* r = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
  std::vector<float> values(n), times(n);
  for (UInt32 i = 0; i < n; ++i) {
    values[i] = 100.0f + float((i * 2654435761u) >> 26);
    times[i] = float(i) * 0.02f;
  }
  r->mKind = kMyCameraWindowDataKind;
  r->mPleezWaitWindow = sheet;
  // A view 306 wide: a box of 300 points.
  r->mBrightnessGraphRect = Rect{20, 20, 200, 326};
  r->mBrightnessMonitorOn = 1;
  r->mBrightnessGraphMode = UInt32(state.range(1));
  r->mPleezWaitSum = values.data();
  r->mTrackSamples = times.data();
  r->mTrackSampleCount = n;
  r->mBrightnessMin = 100.0f;
  r->mBrightnessMax = 163.0f;
  for (auto _ : state) myDrawBrightnessGraphAreaBox(r);
  free(r);
  DisposeWindow(sheet);
}
BENCHMARK(BM_BrightnessGraphRepaint)
    ->Args({10000000, 1})
    ->Args({10000000, 2})
    ->Args({10000000, 3})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
