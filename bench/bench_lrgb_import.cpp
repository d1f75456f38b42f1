// Turning one 3000 x 2000 layer of an LRGB import into its 4500 x 3000 canvas
// by 2 degrees with a 1.01 scale (float conversion, warp, back, crop), on one
// core (floor 1 s), and on every core for comparison.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "image_windows/LRGBImport.h"
#include "pixel/RowBands.h"

namespace {

constexpr UInt32 kLayerW = 3000, kLayerH = 2000, kCanvasW = 4500, kCanvasH = 3000;

void BM_WarpLayer(benchmark::State& state) {
  static std::vector<UInt16> layer = [] {
    std::vector<UInt16> p(size_t(kLayerW) * kLayerH);
    for (size_t i = 0; i < p.size(); ++i) p[i] = UInt16((i * 2654435761u) >> 16);
    return p;
  }();
  mySetRowBandThreadLimit(UInt32(state.range(0)));
  for (auto _ : state) {
    UInt16* out = myCreateClippedRotatedScaledImageMono16Image(2.0f, 1.01f, 1.01f, layer.data(), kLayerW, kLayerH, 750,
                                                               500, kCanvasW, kCanvasH, 750, 500, 3750, 2500);
    if (!out) state.SkipWithError("the warp failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_WarpLayer)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
