// The whole per-frame road on the delivery thread, with every step switched
// on: dark, flat, gamma, invert, both flips, FWHM/HFD, sharpness, histogram
// and stretch, the brightness monitor, the recorder call (a no-op recorder:
// the recorder's own cost is bench_movie_recorder's), the grab copy and the
// ARGB32 preview. Floors: 640 x 480 8-bit at most 4 ms a frame (240 fps in
// one core, 60 fps in a quarter of one: the Time column is ms a frame);
// 1280 x 960 16-bit Bayer reported;
// the 12-bit widening at least 1 GB/s of packed input. "allocs/frame" counts
// malloc calls inside the timed loop and must stay 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/FramePipeline.h"
#include "pixel/FlatField.h"

// Every malloc of the process is counted (operator new goes through it);
// glibc's own allocator does the work.
namespace {
std::atomic<long> gNews{0};
}
extern "C" void* __libc_malloc(size_t n);
extern "C" void* malloc(size_t n) {
  gNews.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}

namespace {

OSErr NoRecorder(MyMovieRecorderStruct*, const void*, double) { return 0; }

template <typename T>
std::vector<T> skyFrame(UInt32 w, UInt32 h, UInt32 scale) {
  std::vector<T> f(size_t(w) * h);
  UInt32 seed = 12345;
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      UInt32 v = 30 + (x + y) / 16 % 40 + ((seed >> 16) & 7);
      if (x > w / 2 - 3 && x < w / 2 + 3 && y > h / 2 - 3 && y < h / 2 + 3) v = 200;  // a star
      f[size_t(y) * w + x] = T(v * scale);
    }
  return f;
}

// A record with every step on, and the buffers it points at.
template <typename T>
struct Rig {
  explicit Rig(UInt32 w, UInt32 h, bool bayer) : n(w * h) {
    r = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    r->mKind = kMyCameraWindowDataKind;
    r->mWidth = w;
    r->mHeight = h;
    r->mBitsPerPixel = sizeof(T) == 1 ? 8 : 16;
    r->mPixelFormat = FOUR_CHAR_CODE("raw ");
    r->mIsPointGrey = 1;
    r->mRunning = 1;
    r->mFrameRate = 7.5;  // every frame converted
    r->mColourSensor = bayer;
    r->mBayerFormat = bayer ? 1 : 0;
    r->mDisplayFormatItem = bayer ? 2 : 1;
    r->mDisplayFormat = bayer ? FOUR_CHAR_CODE("bmRG") : FOUR_CHAR_CODE("ARGB");
    dark.assign(n, T(2));
    flat.assign(n * 4, 0);
    auto* factors = reinterpret_cast<UInt8*>(flat.data());
    for (UInt32 i = 0; i < n; i++) {
      if (sizeof(T) == 1) {
        const FlattenedFrame8Bit k = 65536 + 300;
        memcpy(factors + 4 * i, &k, 4);
      } else {
        const FlattenedFrame16Bit k = 1.005f;
        memcpy(factors + 4 * i, &k, 4);
      }
    }
    lut.resize(sizeof(T) == 1 ? 256 : 65536);
    for (size_t i = 0; i < lut.size(); i++) lut[i] = T(lut.size() - 1 - i);
    stretch.assign(lut.size(), 0);
    hist.assign(3 * 256, 0);
    preview.assign(size_t(n) * 4 + 16, 0);
    row.assign(w * 2 + 32, 0);
    grab.assign(size_t(n) * sizeof(T) + 16, 0);
    values.assign(16, 0.0f);
    times.assign(16, 0.0f);
    r->mUseDarkFrame = 1;
    r->mDarkFrame = dark.data();
    r->mUseFlatFrame = 1;
    r->mFlatFrame = flat.data();
    r->mGammaOn = 1;
    r->mGammaLUT = lut.data();
    r->mInvert = 1;
    r->mFlipHorizontal = 1;
    r->mFlipVertical = 1;
    r->mFlipVerticalLinePtr = row.data();
    r->mShowSharpness = 1;
    r->mHistogramOption = 1;
    r->mHistogramR = hist.data();
    r->mHistogramG = hist.data() + 256;
    r->mHistogramB = hist.data() + 512;
    r->mHistogramExpand = 1;
    r->mStretchLUT = stretch.data();
    r->mPleezWaitActive = 1;
    r->mPleezWaitMode = 11;
    r->mBrightnessMonitorOn = 1;
    r->mPleezWaitSum = values.data();
    r->mTrackSamples = times.data();
    r->mTrackSampleCapacity = 16;
    r->mTrackingArea[0] = float(w / 4);
    r->mTrackingArea[1] = float(h / 4);
    r->mTrackingArea[2] = 64;
    r->mTrackingArea[3] = 64;
    r->mRecording = 1;
    r->mMovie = reinterpret_cast<MyMovieRecorderStruct*>(&fakeMovie);
    r->mGrabBuffer = grab.data();
    myStartStopFWHMHFD(r, 1);
    gMyAddMovieFrame = NoRecorder;
  }
  ~Rig() {
    myStartStopFWHMHFD(r, 0);
    gMyAddMovieFrame = nullptr;
    free(r);
  }
  // What the main thread would do between frames, without allocating.
  void Rearm() {
    r->mPleezWaitFramesLeft = 1000000;
    r->mPleezWaitDone = 0;
    r->mTrackSampleCount = 0;
    r->mGrabWanted = 1;
    r->mPreviewReady = 0;
  }
  UInt32 n;
  MyCameraWindowDataStruct* r;
  std::vector<T> dark, lut, stretch;
  std::vector<UInt32> flat, hist;
  std::vector<UInt8> preview, row, grab;
  std::vector<float> values, times;
  int fakeMovie = 0;
};

template <typename T>
void runPipeline(benchmark::State& state, bool bayer) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  Rig<T> rig(w, h, bayer);
  rig.r->mPreviewBuffer = rig.preview.data();
  const std::vector<T> source = skyFrame<T>(w, h, sizeof(T) == 1 ? 1 : 256);
  std::vector<T> frame = source;
  long news = 0;
  for (auto _ : state) {
    state.PauseTiming();
    frame = source;
    rig.Rearm();
    const long before = gNews.load();
    state.ResumeTiming();
    if constexpr (sizeof(T) == 1)
      myProcessFrame8Bit(rig.r, frame.data(), 1.0, 1.0);
    else
      myProcessFrame16Bit(rig.r, frame.data(), 1.0, 1.0);
    benchmark::ClobberMemory();
    news += gNews.load() - before;
  }
  state.counters["MP/s"] = benchmark::Counter(w * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["allocs/frame"] = double(news) / double(state.iterations());
}

void BM_Pipeline8BitMono(benchmark::State& state) { runPipeline<UInt8>(state, false); }
BENCHMARK(BM_Pipeline8BitMono)->Args({640, 480})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Pipeline16BitBayer(benchmark::State& state) { runPipeline<UInt16>(state, true); }
BENCHMARK(BM_Pipeline16BitBayer)->Args({1280, 960})->Unit(benchmark::kMillisecond)->UseRealTime();

// The 12-bit road: callback widening into the work buffer, then the 16-bit
// pipeline, through myDisplayCallback.
void BM_Callback12Bit(benchmark::State& state) {
  const UInt32 w = 1280, h = 960;
  Rig<UInt16> rig(w, h, true);
  rig.r->mBitsPerPixel = 12;
  rig.r->mPreviewBuffer = rig.preview.data();
  std::vector<UInt16> work(size_t(w) * h + 32);
  rig.r->mWorkBuffer = work.data();
  std::vector<UInt8> packed(size_t(w) * h * 3 / 2);
  for (size_t i = 0; i < packed.size(); i++) packed[i] = UInt8(i * 7);
  for (auto _ : state) {
    rig.Rearm();
    myDisplayCallback(w, h, UInt32(packed.size()), packed.data(), rig.r, 1.0, 1.0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Callback12Bit)->Unit(benchmark::kMillisecond)->UseRealTime();

// Widening alone; bytes are the packed input.
void BM_Widen12Bit(benchmark::State& state) {
  const UInt32 n = UInt32(state.range(0)) * UInt32(state.range(1));
  std::vector<UInt8> packed(size_t(n) * 3 / 2);
  for (size_t i = 0; i < packed.size(); i++) packed[i] = UInt8(i * 13);
  std::vector<UInt16> out(n);
  for (auto _ : state) {
    myWiden12BitFrame(packed.data(), out.data(), n);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(packed.size()));
}
BENCHMARK(BM_Widen12Bit)->Args({1280, 960})->Args({641, 480});

}  // namespace

BENCHMARK_MAIN();
