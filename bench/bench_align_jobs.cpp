// The align workers' per-frame work. Items per second are jobs per second for
// the worker benchmarks (frames posted and collected as the stacking engine
// does), pixels per second for the decoder, candidate positions per second
// for the whole-window block search.
// Floors: one worker, 640 x 480 ARGB32, SCALE 1, PIXELALIGN 4, block size 1,
// GAUSBLUR 1: 150 jobs/s; 4 workers at least 3 x one worker; decoder bilinear
// 1,000 MP/s (8-bit) and 500 MP/s (16-bit), gradient 30 MP/s. 1280 x 960
// RGB48 at SCALE 2 and the block search at S = 32 and 64 are reported.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/simcamera/SimScene.h"
#include "stacking/AlignWorkerRecords.h"
#include "tav/AlignJob.h"
#include "tav/BayerDecode.h"
#include "tav/BlockSearch.h"

namespace {

std::atomic_ref<UInt32> field(UInt32& v) { return std::atomic_ref<UInt32>(v); }

// Two frames of a planet, the second moved by (2, -1), in the engine's layout.
std::vector<std::vector<UInt8>> planetFrames(UInt32 w, UInt32 h, bool argb32) {
  SimSceneSettings set;
  set.kind = SimSceneKind::Planet;
  set.width = w;
  set.height = h;
  set.planetRadius = h / 4.0;
  set.driftX = 2.0;
  set.driftY = -1.0;
  const SimScene scene(set);
  const double wb[3] = {1, 1, 1};
  std::vector<std::vector<UInt8>> frames;
  for (UInt32 n = 0; n < 2; ++n) {
    std::vector<UInt16> rgb(size_t(3) * w * h);
    scene.RenderRGB(n, 1.0, wb, argb32 ? 8 : 16, rgb.data());
    std::vector<UInt8> f(size_t(argb32 ? 4 : 6) * w * h);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
      if (argb32) {
        f[4 * i] = 255;
        for (int c = 0; c < 3; ++c) f[4 * i + 1 + c] = UInt8(rgb[3 * i + c]);
      } else {
        std::memcpy(&f[6 * i], &rgb[3 * i], 6);
      }
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

struct Workers {
  std::vector<AlignThreadObject*> records;
  std::vector<std::vector<UInt8>> frames;

  Workers(int n, UInt32 w, UInt32 h, bool argb32, UInt32 scale) : frames(planetFrames(w, h, argb32)) {
    StackAlignJob job{};
    job.PIXELALIGN = 4;
    job.SCALE = scale;
    job.PIXELBLOCKSIZE = 1;
    job.COLORCHANNEL = 1;
    job.PIXELTOLERANCE = 9;
    job.SHARPEN = -1.0;
    job.GAUSBLUR = 1;
    MAMF reader{};
    reader.mExpandHigh = 255;
    for (int i = 0; i < n; ++i) {
      AlignThreadObject* p = myAllocateAndFillInMPThread(&job, &reader, w, h, 0, 0, 0, argb32 ? 1 : 0, 0, 0);
      if (p == nullptr) std::abort();
      records.push_back(p);
    }
    for (AlignThreadObject* p : records) {
      p->mIsReference = 1;
      post(p, frames[0]);
    }
    for (AlignThreadObject* p : records) {
      finish(p);
      p->mIsReference = 0;
    }
  }
  ~Workers() {
    for (AlignThreadObject* p : records) myDisposeAlignThreadObject(p);
  }
  void post(AlignThreadObject* p, const std::vector<UInt8>& f) {
    std::memcpy(p->mWorkFrame, f.data(), f.size());
    pthread_mutex_lock(&p->mMutex);
    field(p->mNeedsFrame).fetch_sub(1);
    pthread_cond_signal(&p->mCond);
    pthread_mutex_unlock(&p->mMutex);
  }
  void finish(AlignThreadObject* p) {
    while (field(p->mDoneFrame).load(std::memory_order_acquire) == 0) std::this_thread::yield();
    field(p->mNeedsFrame).fetch_add(1);
    field(p->mDoneFrame).fetch_sub(1, std::memory_order_release);
  }
  bool done(AlignThreadObject* p) { return field(p->mDoneFrame).load(std::memory_order_acquire) != 0; }
  void collect(AlignThreadObject* p) {
    field(p->mNeedsFrame).fetch_add(1);
    field(p->mDoneFrame).fetch_sub(1, std::memory_order_release);
  }
  // `jobs` frames, each posted to the first worker that is free, as the
  // stacking engine hands them out; returns when all are collected.
  void run(size_t jobs) {
    std::vector<bool> busy(records.size(), false);
    size_t posted = 0, collected = 0;
    while (collected < jobs) {
      bool idle = true;
      for (size_t i = 0; i < records.size(); ++i) {
        if (busy[i] && done(records[i])) {
          collect(records[i]);
          busy[i] = false;
          ++collected;
          idle = false;
        }
        if (!busy[i] && posted < jobs) {
          post(records[i], frames[posted++ & 1]);
          busy[i] = true;
          idle = false;
        }
      }
      if (idle) std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  }
};

void runWorkers(benchmark::State& state, UInt32 w, UInt32 h, bool argb32, UInt32 scale) {
  const int n = int(state.range(0));
  Workers workers(n, w, h, argb32, scale);
  const size_t jobsPerIteration = 8 * size_t(n);
  for (auto _ : state) workers.run(jobsPerIteration);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(jobsPerIteration));
}

void BM_AlignJobsARGB32_640x480_Scale1(benchmark::State& state) { runWorkers(state, 640, 480, true, 1); }
void BM_AlignJobsRGB48_1280x960_Scale2(benchmark::State& state) { runWorkers(state, 1280, 960, false, 2); }
BENCHMARK(BM_AlignJobsARGB32_640x480_Scale1)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlignJobsRGB48_1280x960_Scale2)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// One job on the calling thread, so that its CPU time is the job's own.
void BM_AlignJobDirectARGB32_640x480_Scale1(benchmark::State& state) {
  Workers workers(1, 640, 480, true, 1);
  AlignThreadObject* p = workers.records[0];
  size_t k = 1;
  for (auto _ : state) {
    std::memcpy(p->mWorkFrame, workers.frames[k++ & 1].data(), workers.frames[0].size());
    myRunARGB32AlignJob(p);
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_AlignJobDirectARGB32_640x480_Scale1)->Unit(benchmark::kMillisecond);

// The whole-window search on a 1280 x 960 noise frame from its middle:
// (8 S)^2 candidates of S^2 differences each.
void BM_BlockSearchALL(benchmark::State& state) {
  const UInt32 w = 1280, h = 960, blockSize = UInt32(state.range(0)), S = 32 * blockSize;
  std::vector<UInt8> frame(size_t(w) * h);
  std::mt19937 rng(1);
  for (UInt8& v : frame) v = UInt8(rng());
  std::vector<UInt8> block(size_t(S) * S);
  for (UInt32 j = 0; j < S; ++j) std::memcpy(&block[size_t(j) * S], &frame[size_t(500 + j) * w + 600], S);
  for (auto _ : state) {
    float x = 640.0f, y = 480.0f;
    benchmark::DoNotOptimize(myCompare32BlockPixelsALL(block.data(), frame.data(), w, h, w, blockSize,
                                                       0, 0, 4.0, &x, &y));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(8 * S) * int64_t(8 * S));
}
BENCHMARK(BM_BlockSearchALL)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The decoder on a 1280 x 960 mosaic; range(0) depth, range(1) quality.
void BM_BayerDecode(benchmark::State& state) {
  const UInt32 w = 1280, h = 960, depth = UInt32(state.range(0));
  const UInt8 quality = UInt8(state.range(1));
  std::vector<UInt16> src16(size_t(w) * h);
  std::vector<UInt8> src8(size_t(w) * h);
  std::mt19937 rng(2);
  for (size_t i = 0; i < src16.size(); ++i) {
    src16[i] = UInt16(rng());
    src8[i] = UInt8(src16[i]);
  }
  const UInt32 rowBytes = (depth == 1 ? 4 : 6) * w;
  std::vector<UInt8> dst(size_t(rowBytes) * h);
  const void* src = depth == 1 ? static_cast<const void*>(src8.data()) : src16.data();
  for (auto _ : state) {
    Bayer_DecodetoRGB_8or16Buffer(src, dst.data(), FOUR_CHAR_CODE("GRBG"), depth, quality, rowBytes, w, h);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w) * h);
}
BENCHMARK(BM_BayerDecode)->ArgsProduct({{1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
