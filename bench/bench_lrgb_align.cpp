// Redrawing the LRGB alignment canvas, the work of every drag step: a
// 4500 x 3000 canvas with two 3000 x 2000 layers, the grey fill, the
// reference opaque and the active layer blended at alpha 128, untouched
// (floor 40 ms) and turned by 5 degrees (floor 150 ms), on one core. Only the
// canvas is composed (no window to show it in).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "image_windows/LRGBAlign.h"

namespace {

constexpr UInt32 kLayerW = 3000, kLayerH = 2000;

// One record for every run: made once, so that the runs measure the redraw
// and not the first touch of 100 MB.
MyLRGBAlignDataStruct* sharedRecord() {
  static std::vector<UInt8> layers[2];
  static MyLRGBAlignDataStruct* r = nullptr;
  if (r != nullptr) return r;
  r = static_cast<MyLRGBAlignDataStruct*>(std::calloc(1, sizeof(MyLRGBAlignDataStruct)));
  for (int k = 0; k < 2; ++k) {
    layers[k].resize(size_t(kLayerW) * kLayerH * 4);
    for (size_t i = 0; i < layers[k].size(); i += 4) {
      layers[k][i] = 128;
      layers[k][i + 1] = UInt8(i * 2654435761u >> 24);
      layers[k][i + 2] = UInt8(k * 90 + (i >> 10));
      layers[k][i + 3] = UInt8(i >> 14);
    }
    r->mLayerImage[k] = layers[k].data();
    r->mLayerWidth[k] = r->mScaledWidth[k] = kLayerW;
    r->mLayerHeight[k] = r->mScaledHeight[k] = kLayerH;
    r->mLayerRowBytes[k] = kLayerW * 4;
  }
  r->mRecordTag = kLRGBAlignRecordTag;
  r->mLayerCount = 2;
  r->mReferenceLayer = 0;
  r->mActiveLayer = 1;
  r->mZoom = 1.0f;
  r->mCanvasWidth = kLayerW * 3 / 2;
  r->mCanvasHeight = kLayerH * 3 / 2;
  r->mCanvasRowBytes = r->mCanvasWidth * 4;
  r->mCanvas = static_cast<UInt8*>(std::malloc(size_t(r->mCanvasRowBytes) * r->mCanvasHeight + 16));
  for (int k = 0; k < 2; ++k) {
    r->mOffsetX[k] = SInt32(r->mCanvasWidth / 2 - kLayerW / 2) + 7 * k;
    r->mOffsetY[k] = SInt32(r->mCanvasHeight / 2 - kLayerH / 2) - 3 * k;
  }
  myUpdateTheLRGBPixelArea(r);
  return r;
}

void BM_RedrawCanvas(benchmark::State& state) {
  MyLRGBAlignDataStruct* r = sharedRecord();
  r->mRotation[1] = float(state.range(0));
  for (auto _ : state) {
    myUpdateTheLRGBPixelArea(r);
    benchmark::DoNotOptimize(r->mCanvas[12345]);
  }
}
BENCHMARK(BM_RedrawCanvas)->Arg(0)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
