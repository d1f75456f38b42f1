// Rebuilding the marked picture of the photometry star-selection window after
// every change: the full grey frame drawn into a bitmap context, then three
// circles and a label per star, then an image copied out of the context.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "photometry/PhotomSelection.h"
#include "platform/coregraphics/CGImage.h"

namespace {

void BM_MarkedPicture(benchmark::State& state) {
  const UInt32 width = UInt32(state.range(0)), height = UInt32(state.range(1));
  const int stars = int(state.range(2));
  std::vector<UInt8> grey(size_t(width) * height * 4 + 64);
  for (size_t i = 0; i < size_t(width) * height; ++i) {
    grey[4 * i] = 0xFF;
    grey[4 * i + 1] = grey[4 * i + 2] = grey[4 * i + 3] = UInt8(i * 7);
  }
  TBPS r;
  std::memset(&r, 0, sizeof r);
  r.mKind = kBatchPhotomSelectionTag;
  r.mWidth = width;
  r.mHeight = height;
  r.mStarsPerKind = kBatchPhotomStarsPerKind;
  r.mFWHMMultiplier = 1.5f;
  r.mDisplayImage = grey.data();
  for (int s = 0; s < 16; ++s) {
    r.mStarX[s] = s < stars ? Float32(60 + 70 * s) : -1.0f;
    r.mStarY[s] = s < stars ? Float32(height / 2) : -1.0f;
    r.mStarFWHM[s] = 3.5f;
    r.mStarIsVariable[s] = s < 8;
  }
  for (auto _ : state) {
    CGImageRef image = nullptr;
    myPhotomImageTranferImage(&r, &image);
    benchmark::DoNotOptimize(image);
    CGImageRelease(image);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(width) * height);
}
BENCHMARK(BM_MarkedPicture)->Args({1280, 1024, 16})->Args({1280, 1024, 0})->Args({641, 481, 16})
    ->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
