// Many workers running real jobs, posted and collected as the stacking engine
// does, with random delays on both sides: every frame's result must be what
// one record gives running the same jobs one after another.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "tav/AlignJob.h"
#include "tav/TAVTestPoints.h"
#include "tests/tav/AlignRecordFixture.h"

namespace {

constexpr UInt32 kW = 96, kH = 72;
// 2,000 jobs a worker; under the sanitizers, which slow every job many
// times, 250 (the thread sanitizer 100).
#if defined(__SANITIZE_THREAD__)
constexpr int kJobsPerWorker = 100;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kJobsPerWorker = 250;
#else
constexpr int kJobsPerWorker = 2000;
#endif
constexpr int kWorkers = 16, kJobs = kWorkers * kJobsPerWorker, kFrames = 40;

std::atomic_ref<UInt32> field(UInt32& v) { return std::atomic_ref<UInt32>(v); }

// A textured disc moved by a per-frame offset, ARGB32.
std::vector<UInt8> frame(int n) {
  const int dx = n % 7 - 3, dy = (n / 7) % 5 - 2;
  std::vector<UInt8> f(size_t(4) * kW * kH);
  for (UInt32 y = 0; y < kH; ++y)
    for (UInt32 x = 0; x < kW; ++x) {
      const int sx = int(x) - dx, sy = int(y) - dy;
      const UInt32 h = UInt32(sx * 2654435761u) ^ UInt32(sy * 40503u);
      int v = int((h >> 7) % 30);
      if ((sx - 48) * (sx - 48) + (sy - 36) * (sy - 36) < 500) v += 120 + int((h >> 3) % 60);
      if (n % 11 == 10) v = 0;  // now and then a frame with nothing in it
      UInt8* p = &f[(size_t(y) * kW + x) * 4];
      p[0] = 255, p[1] = UInt8(v), p[2] = UInt8(v), p[3] = UInt8(v);
    }
  return f;
}

struct Result {
  UInt8 noResult;
  float x, y;
  UInt64 colourSum;
  bool operator==(const Result&) const = default;
};

AlignSettings settings() {
  AlignSettings s;
  s.width = kW, s.height = kH, s.pixelAlign = 4, s.sharpen = 1.5f, s.pixelTolerance = 9;
  return s;
}

Result resultOf(AlignThreadObject* p) {
  UInt64 sum = 0;
  for (size_t i = 0; i < size_t(p->mScaledRowBytes) * p->mScaledHeight; ++i)
    sum = sum * 31 + p->mColorFrame[i];
  // Without a result the offsets are whatever the record's last job left.
  if (p->mNoResult != 0) return {1, 0, 0, 0};
  return {0, p->mOffsetX, p->mOffsetY, sum};
}

void delayHook(AlignThreadObject*, MyTAVPausePoint where) {
  if (where != kMyTAVPauseJob) return;
  thread_local std::minstd_rand rng{std::random_device{}()};
  if (rng() % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200));
}

TEST(AlignStress, WorkersGiveTheSerialResults) {
  std::vector<std::vector<UInt8>> frames;
  for (int n = 0; n < kFrames; ++n) frames.push_back(frame(n));

  // The serial run.
  std::vector<Result> want(kFrames);
  {
    AlignThreadObject* p = newAlignRecord(settings());
    putFrame(p, frames[0]);
    p->mIsReference = 1;
    p->mNoResult = 1;
    myRunARGB32AlignJob(p);
    ASSERT_EQ(p->mNoResult, 0);
    p->mIsReference = 0;
    for (int n = 0; n < kFrames; ++n) {
      putFrame(p, frames[n]);
      p->mNoResult = 1;
      myRunARGB32AlignJob(p);
      want[n] = resultOf(p);
    }
    freeAlignRecord(p);
  }
  int withResult = 0;
  for (const Result& r : want) withResult += r.noResult == 0;
  ASSERT_GT(withResult, kFrames / 2);

  myTAVSetPauseHook(delayHook);
  std::vector<AlignThreadObject*> records;
  for (int i = 0; i < kWorkers; ++i) {
    AlignThreadObject* p = newAlignRecord(settings());
    ASSERT_EQ(mySetUpAlignThreadObject(p, 1), 0);
    records.push_back(p);
  }
  auto post = [](AlignThreadObject* p, const std::vector<UInt8>& f) {
    putFrame(p, f);
    pthread_mutex_lock(&p->mMutex);
    field(p->mNeedsFrame).fetch_sub(1);
    pthread_cond_signal(&p->mCond);
    pthread_mutex_unlock(&p->mMutex);
  };
  auto done = [](AlignThreadObject* p) {
    return field(p->mDoneFrame).load(std::memory_order_acquire) != 0;
  };
  auto collect = [](AlignThreadObject* p) {
    field(p->mNeedsFrame).fetch_add(1);
    field(p->mDoneFrame).fetch_sub(1, std::memory_order_release);
  };
  // Each worker's own reference job: the state the poster would copy.
  for (AlignThreadObject* p : records) {
    p->mIsReference = 1;
    post(p, frames[0]);
  }
  for (AlignThreadObject* p : records) {
    while (!done(p)) std::this_thread::yield();
    ASSERT_EQ(p->mNoResult, 0);
    p->mIsReference = 0;
    collect(p);
  }

  std::minstd_rand rng(9);
  std::vector<int> jobOf(kWorkers, -1);
  int posted = 0, collected = 0, mismatches = 0;
  while (collected < kJobs) {
    for (int i = 0; i < kWorkers; ++i) {
      AlignThreadObject* p = records[i];
      if (jobOf[i] >= 0 && done(p)) {
        const Result got = resultOf(p);
        if (!(got == want[jobOf[i] % kFrames])) ++mismatches;
        collect(p);
        jobOf[i] = -1;
        ++collected;
      }
      if (jobOf[i] < 0 && posted < kJobs) {
        if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 100));
        jobOf[i] = posted++;
        post(p, frames[jobOf[i] % kFrames]);
      }
    }
    std::this_thread::yield();
  }
  for (AlignThreadObject* p : records) myDisposeAlignThreadObject(p);
  myTAVSetPauseHook(nullptr);
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
