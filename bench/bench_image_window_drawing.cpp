// Showing an image window's picture: the RGB48 to ARGB32 reduction of a
// 3000 x 2000 render (items per second are pixels per second; floor 500 MP/s
// on one core) and drawing a 1550 x 1114 port from it at zoom 1, 0.5 and 2
// (floors 8, 35 and 35 ms), all on one core.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "image_windows/ImageWindow.h"
#include "pixel/RowBands.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/UIModel.h"

namespace {

constexpr UInt32 kWidth = 3000, kHeight = 2000;

void BM_ReduceToARGB32(benchmark::State& state) {
  std::vector<UInt16> rgb(size_t(kWidth) * kHeight * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = UInt16(i * 2654435761u >> 16);
  std::vector<UInt8> argb(size_t(kWidth) * kHeight * 4);
  mySetRowBandThreadLimit(1);
  for (auto _ : state) {
    myRGB48ToARGB32(rgb.data(), argb.data(), kWidth, kHeight);
    benchmark::DoNotOptimize(argb[0]);
  }
  mySetRowBandThreadLimit(0);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}
BENCHMARK(BM_ReduceToARGB32)->Unit(benchmark::kMillisecond)->UseRealTime();

// A bare record over a window of the port's size: only what drawing reads.
void BM_DrawPort(benchmark::State& state) {
  const float zoom = float(state.range(0)) / 2.0f;
  WindowRef window = nullptr;
  const Rect bounds{54, 370, 54 + 1114, 370 + 1550};
  if (CreateNewWindow(kDocumentWindowClass, 0, &bounds, &window) != noErr) {
    state.SkipWithError("no window");
    return;
  }
  MyImageWindowDataStruct r{};
  r.mRecordTag = kImageWindowRecordTag;
  r.mImageWindow = window;
  r.mWidth = kWidth;
  r.mHeight = kHeight;
  r.mZoom = zoom;
  r.mScrollH = 100;
  r.mScrollV = 60;
  r.mDisplayARGB32 = static_cast<UInt8*>(myAllocateImagePlane(size_t(kWidth) * kHeight * 4));
  for (size_t i = 0; i < size_t(kWidth) * kHeight * 4; ++i) r.mDisplayARGB32[i] = UInt8(i * 131);
  for (auto _ : state) myDrawImageWindow(&r);
  std::free(r.mDisplayARGB32);
  DisposeWindow(window);
}
// Argument: zoom x 2.
BENCHMARK(BM_DrawPort)->ArgName("zoom_x2")->Arg(2)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
