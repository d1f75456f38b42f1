// The align worker's lifecycle and hand-off, driven through the framework's
// test pause points: each case holds the worker at the step where the race
// it guards against would happen, instead of hoping a sleep lands there.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tav/AlignThreadObject.h"
#include "tav/TAVTestPoints.h"

namespace {

using namespace std::chrono_literals;

std::atomic_ref<UInt32> field(UInt32& f) { return std::atomic_ref<UInt32>(f); }

// Spins (politely) until the condition holds; fails after a generous guard so a
// fault shows as a failure, not a hang.
template <class Pred>
bool waitUntil(Pred pred) {
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50us);
  }
  return true;
}

// ---- what the pause points do in the current case ----
enum class Mode { kCount, kHoldStart, kStartUntilDisposed, kJobUntilDisposed, kHoldJob, kStress };
std::atomic<Mode> gMode{Mode::kCount};
std::atomic<bool> gRelease{false};
std::atomic<bool> gAtStart{false};
std::atomic<bool> gInJob{false};
std::atomic<bool> gEnded{false};
std::atomic<UInt32> gDoneAtEnd{0};
constexpr int kMaxJobs = 16 * 2000;
std::atomic<UInt32> gRuns[kMaxJobs];

UInt32 jobId(AlignThreadObject* p) {
  UInt32 id;
  std::memcpy(&id, p->mWorkFrame, sizeof id);
  return id;
}

void pauseHook(AlignThreadObject* p, MyTAVPausePoint where) {
  const Mode mode = gMode.load();
  switch (where) {
    case kMyTAVPauseWorkerStart:
      gAtStart = true;
      if (mode == Mode::kHoldStart) waitUntil([] { return gRelease.load(); });
      if (mode == Mode::kStartUntilDisposed) waitUntil([&] { return field(p->mAlive).load() == 0; });
      break;
    case kMyTAVPauseJob: {
      gRuns[jobId(p)].fetch_add(1);
      gInJob = true;
      if (mode == Mode::kJobUntilDisposed) waitUntil([&] { return field(p->mAlive).load() == 0; });
      if (mode == Mode::kHoldJob) waitUntil([] { return gRelease.load(); });
      if (mode == Mode::kStress) {
        thread_local std::minstd_rand rng{std::random_device{}()};
        if (rng() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 50));
      }
      break;
    }
    case kMyTAVPauseWorkerEnd:
      gDoneAtEnd = field(p->mDoneFrame).load();
      gEnded = true;  // the record may be freed from here on
      break;
  }
}

AlignThreadObject* newRecord() {
  auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
  p->mWorkFrame = static_cast<UInt8*>(std::calloc(1, 64));
  return p;
}

bool isFree(AlignThreadObject* p) {
  return field(p->mNeedsFrame).load(std::memory_order_acquire) != 0 &&
         field(p->mDoneFrame).load(std::memory_order_acquire) == 0;
}

// The poster's side: frame first, then the job under the record's mutex.
void post(AlignThreadObject* p, UInt32 id) {
  std::memcpy(p->mWorkFrame, &id, sizeof id);
  pthread_mutex_lock(&p->mMutex);
  field(p->mNeedsFrame).fetch_sub(1);
  pthread_cond_signal(&p->mCond);
  pthread_mutex_unlock(&p->mMutex);
}

bool waitDone(AlignThreadObject* p) {
  return waitUntil([&] { return field(p->mDoneFrame).load(std::memory_order_acquire) != 0; });
}

// The collector's side: mNeedsFrame up before mDoneFrame down.
void collect(AlignThreadObject* p) {
  field(p->mNeedsFrame).fetch_add(1);
  field(p->mDoneFrame).fetch_sub(1, std::memory_order_release);
}

class AlignWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    gMode = Mode::kCount;
    gRelease = gAtStart = gInJob = gEnded = false;
    gDoneAtEnd = 0;
    for (auto& r : gRuns) r = 0;
    myTAVSetPauseHook(pauseHook);
  }
  void TearDown() override {
    myTAVSetPauseHook(nullptr);
    myTAVSetDisposePollLimit(10000);
    myTAVSetDetachHook(nullptr);
  }
};

TEST_F(AlignWorker, NullRecord) {
  EXPECT_EQ(mySetUpAlignThreadObject(nullptr, 1), -108);
  myDisposeAlignThreadObject(nullptr);  // ignored
}

TEST_F(AlignWorker, EveryJobRunsOnceUnderASlowCollector) {
  for (UInt32 argb32 : {1u, 0u}) {
    AlignThreadObject* p = newRecord();
    ASSERT_EQ(mySetUpAlignThreadObject(p, argb32), 0);
    for (UInt32 id = 0; id < 6; ++id) {
      ASSERT_TRUE(isFree(p));
      post(p, id);
      ASSERT_TRUE(waitDone(p));
      // A finished job is not pending: the worker waits for the collector
      // instead of running the same frame again.
      std::this_thread::sleep_for(20ms);
      EXPECT_EQ(field(p->mDoneFrame).load(std::memory_order_acquire), 1u);
      EXPECT_EQ(gRuns[id].load(), 1u) << "job " << id;
      EXPECT_EQ(p->mNoResult, 1);  // no job leaves an offset yet
      collect(p);
    }
    myDisposeAlignThreadObject(p);
    EXPECT_TRUE(gEnded.load());
    gEnded = false;
    for (auto& r : gRuns) r = 0;
  }
}

TEST_F(AlignWorker, JobPostedBeforeTheFirstWaitIsServed) {
  gMode = Mode::kHoldStart;
  AlignThreadObject* p = newRecord();
  ASSERT_EQ(mySetUpAlignThreadObject(p, 1), 0);
  ASSERT_TRUE(waitUntil([] { return gAtStart.load(); }));
  post(p, 7);
  gRelease = true;
  ASSERT_TRUE(waitDone(p));
  EXPECT_EQ(gRuns[7].load(), 1u);
  collect(p);
  myDisposeAlignThreadObject(p);
}

TEST_F(AlignWorker, DisposalRightAfterSetUpWaitsForTheWorker) {
  gMode = Mode::kStartUntilDisposed;  // the worker starts only once disposal began
  AlignThreadObject* p = newRecord();
  ASSERT_EQ(mySetUpAlignThreadObject(p, 0), 0);
  myDisposeAlignThreadObject(p);
  EXPECT_TRUE(gEnded.load());
  for (auto& r : gRuns) EXPECT_EQ(r.load(), 0u);
}

TEST_F(AlignWorker, DisposalDuringAJobLetsItFinish) {
  gMode = Mode::kJobUntilDisposed;
  AlignThreadObject* p = newRecord();
  ASSERT_EQ(mySetUpAlignThreadObject(p, 1), 0);
  post(p, 3);
  ASSERT_TRUE(waitUntil([] { return gInJob.load(); }));
  myDisposeAlignThreadObject(p);
  EXPECT_TRUE(gEnded.load());
  EXPECT_EQ(gDoneAtEnd.load(), 1u);  // raised after disposal cleared it, before the end
  EXPECT_EQ(gRuns[3].load(), 1u);
}

TEST_F(AlignWorker, AWorkerHeldPastThePollLimitKeepsItsRecord) {
  gMode = Mode::kHoldJob;
  myTAVSetDisposePollLimit(5);
  AlignThreadObject* p = newRecord();
  ASSERT_EQ(mySetUpAlignThreadObject(p, 0), 0);
  post(p, 1);
  ASSERT_TRUE(waitUntil([] { return gInJob.load(); }));
  testing::internal::CaptureStderr();
  myDisposeAlignThreadObject(p);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("record kept"), std::string::npos) << err;
  // The record, mutex and condition are still the worker's (ASan would flag
  // the worker's next touch otherwise).
  EXPECT_EQ(field(p->mRunning).load(), 1u);
  gRelease = true;
  ASSERT_TRUE(waitUntil([&] { return field(p->mRunning).load(std::memory_order_acquire) == 0; }));
  EXPECT_TRUE(gEnded.load());
  myDisposeAlignThreadObject(p);  // now it goes
}

TEST_F(AlignWorker, AnErrorSkipsTheJobAndStillRaisesDone) {
  AlignThreadObject* p = newRecord();
  ASSERT_EQ(mySetUpAlignThreadObject(p, 1), 0);
  p->mErr = -50;  // published to the worker by the posting mutex
  testing::internal::CaptureStderr();
  post(p, 2);
  ASSERT_TRUE(waitDone(p));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "pTAVTSPtr->mErr = -50 \n");
  EXPECT_EQ(gRuns[2].load(), 0u);
  EXPECT_EQ(p->mNoResult, 1);
  EXPECT_EQ(field(p->mDoneFrame).load(std::memory_order_acquire), 1u);
  collect(p);
  myDisposeAlignThreadObject(p);
}

int failDetach(pthread_t) { return 22; }

TEST_F(AlignWorker, AFailedDetachStopsAndWaitsForTheWorker) {
  myTAVSetDetachHook(failDetach);
  AlignThreadObject* p = newRecord();
  testing::internal::CaptureStderr();
  EXPECT_EQ(mySetUpAlignThreadObject(p, 1), 22);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "myAllocateAlignThread pthread_detach failed Err = 0x16 22\n");
  EXPECT_TRUE(gEnded.load());  // the worker ended before set-up returned
  EXPECT_EQ(p->mThreadValid, 0);
  myDisposeAlignThreadObject(p);  // frees the buffers and the record only
}

TEST_F(AlignWorker, SixteenRecordsTwoThousandJobsEachRunOnce) {
  gMode = Mode::kStress;
  constexpr int kRecords = 16, kJobs = 2000;
  std::vector<AlignThreadObject*> records;
  for (int r = 0; r < kRecords; ++r) {
    records.push_back(newRecord());
    ASSERT_EQ(mySetUpAlignThreadObject(records.back(), r % 2), 0);
  }
  std::atomic<int> failures{0};
  std::vector<std::thread> drivers;
  for (int r = 0; r < kRecords; ++r) {
    drivers.emplace_back([&, r] {
      AlignThreadObject* p = records[r];
      std::minstd_rand rng(r + 1);
      for (int j = 0; j < kJobs; ++j) {
        if (!isFree(p)) ++failures;
        if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30));
        post(p, UInt32(r * kJobs + j));
        if (!waitDone(p)) {
          ++failures;
          return;
        }
        if (rng() % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng() % 30));
        if (field(p->mDoneFrame).load(std::memory_order_acquire) != 1) ++failures;
        collect(p);
      }
    });
  }
  for (auto& t : drivers) t.join();
  for (AlignThreadObject* p : records) myDisposeAlignThreadObject(p);
  EXPECT_EQ(failures.load(), 0);
  int wrong = 0;
  for (int i = 0; i < kRecords * kJobs; ++i) wrong += gRuns[i].load() != 1;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
