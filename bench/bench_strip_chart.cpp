// The guiding window's strip chart, drawn twice a second on the main thread
// with full histories (floor: 5 ms a drawing, so the event loop keeps up with
// the 20 ms display timer beside it), and the empty chart.
#include <benchmark/benchmark.h>

#include <cmath>

#include "app/CameraWindowData.h"
#include "guiding/ScopeControl.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

void BM_StripChart(benchmark::State& state) {
  const bool full = state.range(0) != 0;
  WindowRef window = nullptr;
  const Rect bounds{40, 40, 40 + 420, 40 + 560};
  if (CreateNewWindow(kDocumentWindowClass, 0, &bounds, &window) != noErr) {
    state.SkipWithError("no window");
    return;
  }
  static MCBS block;
  static MyCameraWindowDataStruct record;
  block = MCBS{};
  record = MyCameraWindowDataStruct{};
  block.mKind = kMCBSKind;
  block.mWindow = window;
  block.mTrackBoxBounds[0] = 266;
  block.mTrackBoxBounds[1] = 20;
  block.mTrackBoxBounds[2] = 370;
  block.mTrackBoxBounds[3] = 540;
  block.mHistoryStart = 0;
  for (UInt32 i = 0; i < kMCBSHistoryLength; i++) {
    block.mRAHistory[i] = SInt8(std::lround(20.0 * std::sin(i * 0.07)));
    block.mDecHistory[i] = SInt8(std::lround(8.0 * std::cos(i * 0.11)));
  }
  record.mKind = kMyCameraWindowDataKind;
  record.mpMCBSPtr = &block;
  record.mGuidingActive = 1;
  record.mGuidingOn = 1;
  for (auto _ : state) {
    if (full)
      myDrawTrackingAreaBox(&record);
    else
      myEraseTrackingAreaBox(&record);
  }
  DisposeWindow(window);
}
BENCHMARK(BM_StripChart)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
