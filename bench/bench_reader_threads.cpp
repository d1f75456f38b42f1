// The stacking run's frame-reader threads on a 640 x 480 'b16g' movie. Items
// per second are frames per second.
// Floors (one core each side): the sharpness reader (decode and Mono8
// conversion into the ring, drained at once) 1,500 frames/s; the poster
// (decode and post to idle workers that finish at once) 1,500 frames/s; the
// whole sharpness pass (reader, histogram, 30 % level, noise figure, append)
// 1,000 frames/s with Gestalt('cpus') 8.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "stacking/MovieStackingRun.h"
#include "stacking/AlignAndStack.h"
#include "stacking/ReaderRecord.h"
#include "stacking/SharpnessList.h"
#include "tav/AlignThreadObject.h"
#include "tests/support/Movie16Fixture.h"

namespace {

constexpr UInt32 kWidth = 640, kHeight = 480, kFrames = 100;

inline std::atomic_ref<UInt32> flag(UInt32& field) { return std::atomic_ref<UInt32>(field); }

// A movie on disk and a reader record over it, filled as the run fills it.
struct ReaderSetUp {
  std::filesystem::path dir;
  Movie movie = nullptr;
  MAMF r{};
  std::vector<void*> buffers;

  bool open(SInt32 kind) {
    char tmpl[] = "/tmp/skyloom-bench-reader-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return false;
    dir = tmpl;
    movie = WriteAndOpenTest16BitMovie(dir / "m.mov", Test16BitFormat::kGrey16, kWidth, kHeight, kFrames);
    if (movie == nullptr) return false;
    Media media = myGetMovie16BitVideoMedia(movie, 0);
    if (media == nullptr) return false;
    Handle desc = NewHandle(0);
    GetMediaSampleDescription(media, 1, desc);
    r.mSampleDesc = reinterpret_cast<ImageDescriptionHandle>(desc);
    Rect b{0, 0, SInt16(kHeight), SInt16(kWidth)};
    if (QTNewGWorld(&r.mGWorld, k48RGBPixelFormat, &b, nullptr, nullptr, 0) != noErr) return false;
    r.mMovie = movie;
    r.mSampleData = NewHandle(0);
    r.mQuality = codecLosslessQuality;
    r.mScale = 1;
    r.mChannel = 3;
    r.mWidth = r.mScaledWidth = kWidth;
    r.mHeight = r.mScaledHeight = kHeight;
    r.mMonoRowBytes = r.mScaledMonoRowBytes = (kWidth + 15) & ~15u;
    r.mKind = kind;
    for (int s = 0; s < 3; ++s) {
      r.mRGBSlot[s] = static_cast<UInt16*>(buffer(size_t(kWidth) * kHeight * 6 + 64));
      r.mMonoSlot[s] = static_cast<UInt8*>(buffer(size_t(r.mMonoRowBytes) * kHeight + 64));
    }
    r.mFrameBuffer = static_cast<UInt8*>(buffer(size_t(r.mMonoRowBytes) * kHeight + 64));
    return true;
  }
  void* buffer(size_t bytes) {
    void* b = std::calloc(1, bytes);
    buffers.push_back(b);
    return b;
  }
  ~ReaderSetUp() {
    for (void* b : buffers) std::free(b);
    if (r.mGWorld) DisposeGWorld(r.mGWorld);
    if (r.mSampleData) DisposeHandle(r.mSampleData);
    if (r.mSampleDesc) DisposeHandle(reinterpret_cast<Handle>(r.mSampleDesc));
    if (r.mSharpnessList) DisposeHandle(r.mSharpnessList);
    if (movie) DisposeMovie(movie);
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
};

void BM_SharpnessReader(benchmark::State& state) {
  ReaderSetUp s;
  if (!s.open(0)) {
    state.SkipWithError("movie set-up failed");
    return;
  }
  MAMF* r = &s.r;
  for (auto _ : state) {
    if (myAllocateAlignThread(r) != noErr) {
      state.SkipWithError("reader start failed");
      break;
    }
    // The consumer hands every slot straight back.
    for (;;) {
      const SInt32 read = r->mReadSlot.load();
      if (read != kMyNoSlot && r->mFilled.load(std::memory_order_acquire) != 0) {
        r->mCurrentSlot.store(read);
        benchmark::DoNotOptimize(r->mMonoSlot[read][0]);
        myAlignReaderSlotMeasured(r);
        if (r->mSleeping.load() != 0) pthread_cond_broadcast(&r->mCond);
      } else if (r->mEndOfMovie.load() != 0 && r->mReadSlot.load() == kMyNoSlot) {
        break;
      } else if (r->mSleeping.load() != 0) {
        pthread_cond_broadcast(&r->mCond);
      }
    }
    myDeallocateAlignThread(r);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
}
BENCHMARK(BM_SharpnessReader)->Unit(benchmark::kMillisecond)->UseRealTime();

// Workers that take a job and finish it at once.
struct InstantWorkers {
  std::vector<AlignThreadObject*> records;
  std::vector<pthread_t> threads;
  std::atomic<bool> quit{false};
  struct Arg {
    InstantWorkers* set;
    AlignThreadObject* record;
  };
  std::vector<Arg> args;

  void start(UInt32 n) {
    for (UInt32 j = 0; j < n; ++j) {
      auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
      p->mNeedsFrame = 1;
      p->mIsReference = 1;
      p->mNoResult = 1;
      p->mRefX = p->mRefY = -2.0f;
      p->mWorkFrame = static_cast<UInt8*>(std::calloc(1, size_t(kWidth) * kHeight * 6 + 64));
      p->mColorFrame = static_cast<UInt8*>(std::calloc(1, size_t(kWidth) * kHeight * 6 + 64));
      pthread_mutex_init(&p->mMutex, nullptr);
      pthread_cond_init(&p->mCond, nullptr);
      records.push_back(p);
    }
    threads.resize(n);
    args.resize(n);
    for (UInt32 j = 0; j < n; ++j) {
      args[j] = {this, records[j]};
      pthread_create(&threads[j], nullptr, loop, &args[j]);
    }
  }
  void stop() {
    quit.store(true);
    for (AlignThreadObject* p : records) {
      pthread_mutex_lock(&p->mMutex);
      pthread_cond_broadcast(&p->mCond);
      pthread_mutex_unlock(&p->mMutex);
    }
    for (pthread_t t : threads) pthread_join(t, nullptr);
    for (AlignThreadObject* p : records) {
      pthread_mutex_destroy(&p->mMutex);
      pthread_cond_destroy(&p->mCond);
      std::free(p->mWorkFrame);
      std::free(p->mColorFrame);
      std::free(p);
    }
  }
  static void* loop(void* a) {
    InstantWorkers* set = static_cast<Arg*>(a)->set;
    AlignThreadObject* p = static_cast<Arg*>(a)->record;
    for (;;) {
      pthread_mutex_lock(&p->mMutex);
      while (!(flag(p->mNeedsFrame).load() == 0 && flag(p->mDoneFrame).load() == 0) && !set->quit.load()) {
        flag(p->mSFThreadIsSleeping).store(1);
        pthread_cond_wait(&p->mCond, &p->mMutex);
        flag(p->mSFThreadIsSleeping).store(0);
      }
      pthread_mutex_unlock(&p->mMutex);
      if (set->quit.load()) return nullptr;
      benchmark::DoNotOptimize(p->mWorkFrame[0]);
      flag(p->mDoneFrame).fetch_add(1, std::memory_order_release);
    }
  }
};

void BM_Poster(benchmark::State& state) {
  const UInt32 workerCount = UInt32(state.range(0));
  ReaderSetUp s;
  if (!s.open(1)) {
    state.SkipWithError("movie set-up failed");
    return;
  }
  MAMF* r = &s.r;
  for (UInt32 k = 0; k < kFrames; ++k) myAddNoiseStruct(&r->mSharpnessList, 20 * k, double(kFrames - k));
  mySortNoiseStruct(r->mSharpnessList);
  r->mFrameCount = kFrames;
  r->mCutOff = 0.0;
  InstantWorkers workers;
  workers.start(workerCount);
  r->mWorkerCount = workerCount;
  for (UInt32 j = 0; j < workerCount; ++j) r->mWorkers[j] = workers.records[j];
  for (auto _ : state) {
    if (myAllocateAlignThread(r) != noErr) {
      state.SkipWithError("poster start failed");
      break;
    }
    // Collects every result as the run does, until the poster reports the end.
    while (r->mEndOfMovie.load() == 0) {
      for (UInt32 j = 0; j < workerCount; ++j) {
        AlignThreadObject* w = workers.records[j];
        if (flag(w->mDoneFrame).load(std::memory_order_acquire) != 0 && w->mIsReference == 0) {
          flag(w->mNeedsFrame).fetch_add(1, std::memory_order_acq_rel);
          flag(w->mDoneFrame).fetch_sub(1, std::memory_order_acq_rel);
        }
      }
      if (r->mSleeping.load() != 0) pthread_cond_broadcast(&r->mCond);
    }
    myDeallocateAlignThread(r);
  }
  workers.stop();
  state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
}
BENCHMARK(BM_Poster)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SharpnessPass(benchmark::State& state) {
  SkyloomSetGestaltResponder([](OSType selector, SInt32* response) -> OSErr {
    if (selector != FOUR_CHAR_CODE("cpus")) return kGestaltFallThrough;
    *response = 8;
    return noErr;
  });
  ReaderSetUp s;
  if (!s.open(0)) {
    state.SkipWithError("movie set-up failed");
    return;
  }
  StackAlignJob job;
  myInitStackAlignJob(&job);
  std::vector<UInt8> scratch(size_t(12) * s.r.mMonoRowBytes * kHeight + 64);
  const UInt32 region[4] = {0, 0, kWidth, kHeight};
  for (auto _ : state) {
    SharpnessList list = nullptr;
    if (myAllocateAlignThread(&s.r) != noErr) {
      state.SkipWithError("reader start failed");
      break;
    }
    const OSStatus err =
        myMeasureMovieSharpness(&job, &s.r, region, 1, scratch.data(), 1, 0, &list, nullptr);
    myDeallocateAlignThread(&s.r);
    if (err != noErr || myCountNoiseStruct(list) != kFrames) state.SkipWithError("pass failed");
    DisposeHandle(list);
  }
  SkyloomSetGestaltResponder(nullptr);
  state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
}
BENCHMARK(BM_SharpnessPass)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
