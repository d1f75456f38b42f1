// The luma and colour steps of an image window on a 3000 x 2000 image: ms per
// cascade level, per sharpening level, per colour step, and the full cascade
// plus sharpening (which must stay under 100 ms on an 8-core desktop).
// Items per second are pixels per second.
#include <benchmark/benchmark.h>

#include <chrono>

#include <algorithm>

#include <cstdlib>
#include <random>
#include <vector>

#include "image_windows/ImageWindowRecord.h"
#include "pixel/ColourAdjust.h"
#include "pixel/Filters16.h"
#include "pixel/LumaRGB48.h"
#include "pixel/RowBands.h"
#include "pixel/Sharpen16.h"

namespace {

constexpr UInt32 kWidth = 3000, kHeight = 2000;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

using Blur = void (*)(const UInt16*, UInt16*, UInt32, UInt32, UInt32);
const Blur kLevels[7] = {myLocal2by2GaussianBlurLuma16, myLocal3by3GaussianBlurLuma16,
                         myLocal4by4GaussianBlurLuma16, myLocal5by5GaussianBlurLuma16,
                         myLocal6by6GaussianBlurLuma16, myLocal7by7GaussianBlurLuma16,
                         myLocal9by9GaussianBlurLuma16};

// A picture-like image: smooth gradients with noise.
std::vector<UInt16> makeRGB48() {
  std::vector<UInt16> v(kPixels * 3);
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> noise(0, 2047);
  for (UInt32 y = 0; y < kHeight; ++y)
    for (UInt32 x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        v[(size_t(y) * kWidth + x) * 3 + c] = UInt16((x * 11 + y * 17 + c * 5000) % 60000 + noise(rng));
  return v;
}

// 16-byte aligned planes with 16 spare bytes, as the image window allocates them.
struct Planes {
  std::vector<UInt16*> owned;
  UInt16* make(size_t samples) {
    auto* p = static_cast<UInt16*>(std::aligned_alloc(16, (samples * 2 + 16 + 15) & ~size_t(15)));
    owned.push_back(p);
    return p;
  }
  ~Planes() {
    for (UInt16* p : owned) std::free(p);
  }
};

struct Window {
  Planes planes;
  MyImageWindowDataStruct r{};
  std::vector<UInt16> rgb = makeRGB48();
  UInt16* lrgb = planes.make(kPixels * 4);
  Window() {
    r.mWidth = kWidth;
    r.mHeight = kHeight;
    r.mWorkRGB48 = planes.make(kPixels * 3);
    r.mSourceLuma16 = planes.make(kPixels);
    for (int k = 0; k < 7; ++k) {
      r.mBlurLevel[k] = planes.make(kPixels);
      r.mDetailLevel[k] = planes.make(kPixels);
      r.mSharpAmount[k] = 1.5f + 0.5f * float(k);
    }
    r.mMaxSharpenThreshold = 65535;
    myRGB48ToLRGB64AndLuma16(rgb.data(), lrgb, r.mSourceLuma16, kWidth, kHeight);
    cascade();
  }
  void cascade() {
    const UInt16* from = r.mSourceLuma16;
    for (int k = 0; k < 7; ++k) {
      kLevels[k](from, r.mBlurLevel[k], kWidth, kHeight, kWidth * 2);
      from = r.mBlurLevel[k];
    }
  }
  void sharpen() {
    for (UInt32 level = 1; level <= 7; ++level) mySharpenFilterThresholdSingle16Bit(&r, level);
    myAltivecSharpenFilterThresholdMulti16Bit(&r);
  }
};

Window& window() {
  static Window w;
  return w;
}

void finish(benchmark::State& state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPixels));
}

void BM_CascadeLevel(benchmark::State& state) {
  Window& w = window();
  const int k = int(state.range(0)) - 1;
  const UInt16* from = k == 0 ? w.r.mSourceLuma16 : w.r.mBlurLevel[k - 1];
  for (auto _ : state) kLevels[k](from, w.r.mBlurLevel[k], kWidth, kHeight, kWidth * 2);
  finish(state);
}
BENCHMARK(BM_CascadeLevel)->DenseRange(1, 7)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FullCascade(benchmark::State& state) {
  for (auto _ : state) window().cascade();
  finish(state);
}
BENCHMARK(BM_FullCascade)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SharpenLevel(benchmark::State& state) {
  Window& w = window();
  w.r.mMinSharpenThreshold = state.range(1) ? 500 : 0;
  w.r.mSharpenSmooth = UInt8(state.range(1) == 2);
  for (auto _ : state) mySharpenFilterThresholdSingle16Bit(&w.r, UInt32(state.range(0)));
  w.r.mMinSharpenThreshold = 0;
  w.r.mSharpenSmooth = 0;
  finish(state);
}
// Second argument: 0 plain rule, 1 threshold, 2 smoothed threshold.
BENCHMARK(BM_SharpenLevel)->Args({1, 0})->Args({7, 0})->Args({1, 1})->Args({1, 2})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SharpenSum(benchmark::State& state) {
  for (auto _ : state) myAltivecSharpenFilterThresholdMulti16Bit(&window().r);
  finish(state);
}
BENCHMARK(BM_SharpenSum)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument: the most threads a pass may use (0 = one a core).
void BM_CascadeAndSharpening(benchmark::State& state) {
  Window& w = window();
  mySetRowBandThreadLimit(UInt32(state.range(0)));
  for (auto _ : state) {
    w.cascade();
    w.sharpen();
  }
  mySetRowBandThreadLimit(0);
  finish(state);
}
BENCHMARK(BM_CascadeAndSharpening)->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// One thread and eight threads alternately in the same run: "eight_over_one"
// is the median eight-thread time over the median one-thread time (the goal
// is at most 1/3).
void BM_CascadeAndSharpeningThreadRatio(benchmark::State& state) {
  Window& w = window();
  std::vector<double> one, eight;
  for (auto _ : state) {
    for (UInt32 limit : {1u, 8u}) {
      mySetRowBandThreadLimit(limit);
      const auto a = std::chrono::steady_clock::now();
      w.cascade();
      w.sharpen();
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
      (limit == 1 ? one : eight).push_back(s);
    }
  }
  mySetRowBandThreadLimit(0);
  std::sort(one.begin(), one.end());
  std::sort(eight.begin(), eight.end());
  const double o = one[one.size() / 2], e = eight[eight.size() / 2];
  state.counters["one_thread_ms"] = o * 1e3;
  state.counters["eight_threads_ms"] = e * 1e3;
  state.counters["eight_over_one"] = o > 0 ? e / o : 0;
}
BENCHMARK(BM_CascadeAndSharpeningThreadRatio)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_NoiseFilter(benchmark::State& state) {
  using Noise = void (*)(const UInt16*, UInt16*, UInt32, UInt32, UInt32, UInt32);
  const Noise filters[3] = {my3by3AverageLuma16, my3by3MinMaxAverageLuma16, my3by3MedianLuma16};
  Window& w = window();
  for (auto _ : state)
    filters[state.range(0)](w.r.mSourceLuma16, w.r.mWorkRGB48, kWidth, kHeight, kWidth * 2, 2550);
  finish(state);
}
// 0 average, 1 min-max average, 2 median.
BENCHMARK(BM_NoiseFilter)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SplitLuma(benchmark::State& state) {
  Window& w = window();
  for (auto _ : state) myRGB48ToLRGB64AndLuma16(w.rgb.data(), w.lrgb, w.r.mWorkRGB48, kWidth, kHeight);
  finish(state);
}
BENCHMARK(BM_SplitLuma)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LumaChromaRemerge(benchmark::State& state) {
  Window& w = window();
  for (auto _ : state)
    myLuma16AndRGB48ToMergedLRGB64(w.r.mSourceLuma16, w.rgb.data(), w.lrgb, kWidth, kHeight);
  finish(state);
}
BENCHMARK(BM_LumaChromaRemerge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RatioRemerge(benchmark::State& state) {
  Window& w = window();
  for (auto _ : state)
    myAltivecLRGB64ToRGB48Adjusted(w.r.mBlurLevel[0], w.lrgb, w.r.mWorkRGB48, kWidth, kHeight);
  finish(state);
}
BENCHMARK(BM_RatioRemerge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FloatPlane(benchmark::State& state) {
  Window& w = window();
  for (auto _ : state) {
    vImage_Buffer b{};
    myFillInVImageFloatFromMono16Src(&b, kWidth, kHeight, w.r.mSourceLuma16);
    std::free(b.data);
  }
  finish(state);
}
BENCHMARK(BM_FloatPlane)->Unit(benchmark::kMillisecond)->UseRealTime();

// Colour steps, in place on a copy of the image (the copy is timed out).
template <class Step>
void colourStep(benchmark::State& state, Step step) {
  Window& w = window();
  std::vector<UInt16> img(w.rgb.size());
  for (auto _ : state) {
    state.PauseTiming();
    img = w.rgb;
    state.ResumeTiming();
    step(img.data());
  }
  finish(state);
}

void BM_Saturation(benchmark::State& state) {
  colourStep(state, [](UInt16* p) { myAltivecChangeSaturationRGB48(p, kWidth, kHeight, 0.8, 0); });
}
void BM_ColourBalance(benchmark::State& state) {
  colourStep(state, [](UInt16* p) {
    myAltivecChangeColorBalanceRGB48G(p, kWidth, kHeight, 1.2f, 0.9f, 1.1f, 0);
  });
}
void BM_Stretch(benchmark::State& state) {
  colourStep(state, [](UInt16* p) { myNonLinearStretch16BitBuffer(p, kWidth * 3, kHeight, 1.4, 1200); });
}
void BM_Expand(benchmark::State& state) {
  colourStep(state, [](UInt16* p) {
    myAltivecExpandRGB48(p, kWidth, kHeight, 1000, 60000, 500, 62000, 0, 65535, 0);
  });
}
BENCHMARK(BM_Saturation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ColourBalance)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Stretch)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Expand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
