// The image window's render of a 3000 x 2000 picture, in milliseconds (items
// per second are pixels per second). Floors on one core: all settings at their
// defaults (luminance copy and recombination) at most 20 ms; everything on
// (sharpening sum, luminance stretch, noise level 13, levels, balance,
// saturation) at most 100 ms. Beside them: noise level 5, the colour stretch,
// and a channel-offset change with its cascade and detail rebuild; the "cores"
// argument 0 uses every core, 1 one.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "image_windows/ImageWindowRecord.h"
#include "image_windows/RenderPipeline.h"
#include "pixel/LumaRGB48.h"
#include "pixel/RowBands.h"

namespace {

constexpr UInt32 kWidth = 3000, kHeight = 2000;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

// A picture-like image: smooth gradients with noise.
void fillPicture(UInt16* v) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(0, 2047);
  for (UInt32 y = 0; y < kHeight; ++y)
    for (UInt32 x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        v[(size_t(y) * kWidth + x) * 3 + c] = UInt16((x * 11 + y * 17 + c * 5000) % 60000 + noise(rng));
}

// A record made as a window's creation makes it.
struct Window {
  MyImageWindowDataStruct r{};
  Window() {
    r.mRecordTag = kImageWindowRecordTag;
    r.mWidth = kWidth;
    r.mHeight = kHeight;
    r.mRowBytes = kWidth * 6;
    r.mGreenOffsetsLocked = 1;
    r.mSourceRGB48 = static_cast<UInt16*>(myAllocateImagePlane(kPixels * 6));
    r.mSourceLRGB64 = static_cast<UInt16*>(myAllocateImagePlane(kPixels * 8));
    r.mSourceLuma16 = static_cast<UInt16*>(myAllocateImagePlane(kPixels * 2));
    if (myAllocateImageWindowPlanes(&r) != noErr || !r.mSourceRGB48 || !r.mSourceLRGB64 || !r.mSourceLuma16)
      std::abort();
    fillPicture(r.mSourceRGB48);
    myRGB48ToLRGB64AndLuma16(r.mSourceRGB48, r.mSourceLRGB64, r.mSourceLuma16, kWidth, kHeight);
    myBuildBlurCascade(&r);
    defaults();
  }
  ~Window() { mydumpAllocatedBuffers(&r); }
  void defaults() {
    mySetImageWindowDefaultSettings(&r);
    for (Float32& a : r.mSharpAmount) a = 1.0f;
    myBuildDetailLevels(&r);
  }
  void allOn() {
    r.mSharpenActive = 1;
    for (int k = 0; k < 7; ++k) r.mSharpAmount[k] = 1.5f + 0.5f * float(k);
    myBuildDetailLevels(&r);
    r.mCurve = 1.5f;
    r.mNoiseReduction = 13;
    r.mMinRed = 1000, r.mMaxRed = 61000, r.mMinGreen = 500, r.mMaxBlue = 64000;
    r.mRedBalance = 1.1f, r.mBlueBalance = 0.9f;
    r.mSaturation = 1.5f;
  }
};

Window& window() {
  static Window w;
  return w;
}

enum Case { kDefaults, kAllOn, kNoise5, kColourStretch, kOffsetChange };

void BM_Render(benchmark::State& state) {
  Window& w = window();
  w.defaults();
  switch (Case(state.range(0))) {
    case kDefaults:
      break;
    case kAllOn:
      w.allOn();
      break;
    case kNoise5:
      w.r.mNoiseReduction = 5;
      break;
    case kColourStretch:
      w.r.mCurve = 1.5f;
      w.r.mLRGBMode = 0;
      break;
    case kOffsetChange:
      w.r.mRedHorzOffset = 2;
      w.r.mBlueVertOffset = -1;
      break;
  }
  mySetRowBandThreadLimit(UInt32(state.range(1)));
  for (auto _ : state) {
    if (state.range(0) == kOffsetChange) w.r.mOffsetsActive = 1;
    myRenderSettingsToRGB48(&w.r);
    benchmark::DoNotOptimize(w.r.mRenderRGB48[0]);
  }
  mySetRowBandThreadLimit(0);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
}
BENCHMARK(BM_Render)
    ->ArgNames({"case", "cores"})
    ->ArgsProduct({{kDefaults, kAllOn, kNoise5, kColourStretch, kOffsetChange}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
