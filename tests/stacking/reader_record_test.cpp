// The reader record's thread: the ring reader against a consumer that drains
// it the way the run does, the poster against instrumented align workers, and
// the start and stop with their failures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "stacking/ReaderRecord.h"
#include "stacking/SharpnessList.h"
#include "tav/AlignThreadObject.h"
#include "tests/support/Movie16Fixture.h"

namespace {

inline std::atomic_ref<UInt32> flag(UInt32& field) { return std::atomic_ref<UInt32>(field); }

std::mutex gRandomLock;
std::mt19937 gRandom(12345);
// A random pause of 0 to 2 ms.
void jitter() {
  int us;
  {
    std::lock_guard<std::mutex> lock(gRandomLock);
    us = int(gRandom() % 2001);
  }
  usleep(useconds_t(us));
}

class ReaderRecordTest : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  Movie movie = nullptr;
  MAMF r{};
  std::vector<void*> buffers;

  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-reader-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    myReaderSetPauseHook(nullptr);
    SkyloomSetGestaltResponder(nullptr);
    for (void* b : buffers) std::free(b);
    if (r.mGWorld) DisposeGWorld(r.mGWorld);
    if (r.mSampleData) DisposeHandle(r.mSampleData);
    if (r.mSampleDesc) DisposeHandle(reinterpret_cast<Handle>(r.mSampleDesc));
    if (r.mSharpnessList) DisposeHandle(r.mSharpnessList);
    if (movie) DisposeMovie(movie);
    std::filesystem::remove_all(dir);
  }
  void* buffer(size_t bytes) {
    void* b = std::calloc(1, bytes);
    buffers.push_back(b);
    return b;
  }
  // A record over a fresh movie of `frames` frames, as the run fills it.
  void makeRecord(SInt32 kind, UInt32 frames, UInt32 w = 64, UInt32 h = 48,
                  Test16BitFormat format = Test16BitFormat::kGrey16) {
    movie = WriteAndOpenTest16BitMovie(dir / "m.mov", format, w, h, frames);
    ASSERT_NE(movie, nullptr);
    Media media = myGetMovie16BitVideoMedia(movie, 0);
    ASSERT_NE(media, nullptr);
    Handle desc = NewHandle(0);
    GetMediaSampleDescription(media, 1, desc);
    r.mSampleDesc = reinterpret_cast<ImageDescriptionHandle>(desc);
    Rect b{0, 0, SInt16(h), SInt16(w)};
    ASSERT_EQ(QTNewGWorld(&r.mGWorld, k48RGBPixelFormat, &b, nullptr, nullptr, 0), noErr);
    r.mMovie = movie;
    r.mSampleData = NewHandle(0);
    r.mQuality = codecLosslessQuality;
    r.mScale = 1;
    r.mChannel = 3;
    r.mWidth = r.mScaledWidth = w;
    r.mHeight = r.mScaledHeight = h;
    r.mMonoRowBytes = r.mScaledMonoRowBytes = (w + 15) & ~15u;
    r.mKind = kind;
    for (int s = 0; s < 3; ++s) {
      r.mRGBSlot[s] = static_cast<UInt16*>(buffer(size_t(w) * h * 6 + 64));
      r.mMonoSlot[s] = static_cast<UInt8*>(buffer(size_t(r.mMonoRowBytes) * h + 64));
    }
    r.mFrameBuffer = static_cast<UInt8*>(buffer(size_t(r.mMonoRowBytes) * h + 64));
  }
};

// ---- The ring ----

void ringJitter(MAMF*, MyReaderPausePoint where, UInt32) {
  if (where == kMyReaderPauseSlotDecoded) jitter();
}

struct Measured {
  SInt32 time;
  UInt16 value;
};

// Drains the ring as the run does, measuring each slot for a random time and
// checking that the slot is not written meanwhile. Stops the reader at the end.
std::vector<Measured> drainRing(MAMF* r, bool* overwritten) {
  std::vector<Measured> out;
  *overwritten = false;
  for (int idle = 0; idle < 100000;) {
    const SInt32 read = r->mReadSlot.load();
    if (read == kMyNoSlot || r->mFilled.load(std::memory_order_acquire) == 0) {
      if (r->mSleeping.load() == 1) pthread_cond_broadcast(&r->mCond);
      usleep(200);
      ++idle;
    } else {
      r->mCurrentSlot.store(read);
      const SInt32 time = r->mSlotTime[read];
      const UInt16 tag = r->mRGBSlot[read][0];
      const UInt8 mono = r->mMonoSlot[read][0];
      jitter();
      if (r->mRGBSlot[read][0] != tag || r->mMonoSlot[read][0] != mono || r->mSlotTime[read] != time)
        *overwritten = true;
      out.push_back({time, tag});
      myAlignReaderSlotMeasured(r);
    }
    if (r->mEndOfMovie.load() == 1 && r->mReadSlot.load() == kMyNoSlot) break;
  }
  return out;
}

TEST_F(ReaderRecordTest, RingMeasuresEveryFrameOnceInOrder) {
  struct Case {
    UInt32 frames;
    Test16BitFormat format;
  };
  for (const Case& c : {Case{500, Test16BitFormat::kGrey16}, Case{1, Test16BitFormat::kGrey16},
                        Case{7, Test16BitFormat::kRGB48}}) {
    SCOPED_TRACE(c.frames);
    TearDown();
    r.~MAMF();
    new (&r) MAMF{};
    buffers.clear();
    movie = nullptr;
    SetUp();
    makeRecord(0, c.frames, 64, 48, c.format);
    myReaderSetPauseHook(ringJitter);
    ASSERT_EQ(myAllocateAlignThread(&r), noErr);
    EXPECT_EQ(r.mUsesPthreads, 1);
    bool overwritten = false;
    std::vector<Measured> got = drainRing(&r, &overwritten);
    EXPECT_EQ(r.mEndOfMovie.load(), 1);
    EXPECT_EQ(r.mError.load(), 0);
    myDeallocateAlignThread(&r);
    EXPECT_EQ(r.mRunning.load(), 0);
    EXPECT_FALSE(overwritten);
    ASSERT_EQ(got.size(), c.frames);
    for (UInt32 k = 0; k < c.frames; ++k) {
      EXPECT_EQ(got[k].time, SInt32(20 * k)) << k;
      EXPECT_EQ(got[k].value, Test16BitFrameValue(k)) << k;
    }
  }
}

TEST_F(ReaderRecordTest, BlurredMonoSlotsOfAConstantFrameKeepTheirLevel) {
  makeRecord(0, 3, 16, 8, Test16BitFormat::kRGB48);
  r.mGausBlur = 1;
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  bool overwritten = false;
  std::vector<Measured> got = drainRing(&r, &overwritten);
  myDeallocateAlignThread(&r);
  ASSERT_EQ(got.size(), 3u);
  // The last frame stays in its slot: its Mono8 image is the high byte of the
  // (constant) samples, away from the borders after the blur too.
  EXPECT_EQ(r.mMonoSlot[2][r.mMonoRowBytes * 4 + 8], UInt8(Test16BitFrameValue(2) >> 8));
}

// ---- The poster ----

struct JobSeen {
  UInt32 worker;
  UInt16 frame;
  bool reference;
  bool sharedCopied;  // the reference results reached the worker
};

struct TestWorkers {
  std::vector<AlignThreadObject*> records;
  std::vector<pthread_t> threads;
  std::atomic<bool> quit{false};
  std::mutex lock;
  std::vector<JobSeen> jobs;
  std::atomic<int> holdFrame{-1};     // a job of this frame waits for release
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::atomic<bool> heldJobDone{false};
  std::atomic<bool> jitterJobs{true};
  UInt32 blockSize = 4;

  struct Arg {
    TestWorkers* set;
    UInt32 index;
  };
  std::vector<Arg> args;

  // A record set is started once: the flags of an earlier set would end the
  // new workers at once (quit) or hold their jobs.
  void start(UInt32 n) {
    ASSERT_TRUE(records.empty());
    quit.store(false);
    args.resize(n);
    for (UInt32 j = 0; j < n; ++j) {
      auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
      p->mNeedsFrame = 1;
      p->mIsReference = 1;
      p->mNoResult = 1;
      p->mRefX = p->mRefY = -2.0f;
      p->mPixelAlign = 3;
      p->mBlockSize = blockSize;
      p->temp32x32Ptr = static_cast<UInt8*>(std::calloc(1, blockSize * blockSize * 1024));
      p->tempTwo32x32Ptr = static_cast<UInt8*>(std::calloc(1, blockSize * blockSize * 1024));
      p->mWorkFrame = static_cast<UInt8*>(std::calloc(1, 64 * 48 * 6 + 64));
      p->mColorFrame = static_cast<UInt8*>(std::calloc(1, 64 * 48 * 6 + 64));
      pthread_mutex_init(&p->mMutex, nullptr);
      pthread_cond_init(&p->mCond, nullptr);
      records.push_back(p);
    }
    threads.resize(n);
    for (UInt32 j = 0; j < n; ++j) {
      args[j] = {this, j};
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
    threads.clear();
    for (AlignThreadObject* p : records) {
      pthread_mutex_destroy(&p->mMutex);
      pthread_cond_destroy(&p->mCond);
      for (UInt8* b : {p->temp32x32Ptr, p->tempTwo32x32Ptr, p->mWorkFrame, p->mColorFrame}) std::free(b);
      std::free(p);
    }
    records.clear();
  }
  static bool pending(AlignThreadObject* p) {
    return flag(p->mNeedsFrame).load(std::memory_order_acquire) == 0 &&
           flag(p->mDoneFrame).load(std::memory_order_acquire) == 0;
  }
  static void* loop(void* a) {
    auto* arg = static_cast<Arg*>(a);
    TestWorkers* set = arg->set;
    AlignThreadObject* p = set->records[arg->index];
    for (;;) {
      pthread_mutex_lock(&p->mMutex);
      while (!pending(p) && !set->quit.load()) {
        flag(p->mSFThreadIsSleeping).store(1);
        pthread_cond_wait(&p->mCond, &p->mMutex);
        flag(p->mSFThreadIsSleeping).store(0);
      }
      pthread_mutex_unlock(&p->mMutex);
      if (set->quit.load()) return nullptr;
      set->job(arg->index, p);
      flag(p->mDoneFrame).fetch_add(1, std::memory_order_release);
    }
  }
  // The job: records what it was given; the reference job leaves results.
  void job(UInt32 j, AlignThreadObject* p) {
    const UInt16 frame = UInt16(reinterpret_cast<UInt16*>(p->mWorkFrame)[0] - 1);
    JobSeen seen{j, frame, p->mIsReference != 0, false};
    if (p->mIsReference != 0) {
      p->mOffsetX = 3.5f;
      p->mOffsetY = -1.25f;
      p->mRefX = 10.0f;
      p->mRefY = 20.0f;
      p->mManualX = 7;
      p->mHorzBlockDX = 1;
      p->mHorzBlockDY = 2;
      p->mVertBlockDX = 3;
      p->mVertBlockDY = 4;
      std::memset(p->temp32x32Ptr, 0xAB, blockSize * blockSize * 1024);
      std::memset(p->tempTwo32x32Ptr, 0xCD, blockSize * blockSize * 1024);
    } else {
      const size_t n = blockSize * blockSize * 1024;
      seen.sharedCopied = p->mRefX == 10.0f && p->mRefY == 20.0f && p->mManualX == 7 && p->mHorzBlockDX == 1 &&
                          p->mHorzBlockDY == 2 && p->mVertBlockDX == 3 && p->mVertBlockDY == 4 &&
                          p->mHorzBlockValid == 1 && p->mVertBlockValid == 1 && p->temp32x32Ptr[0] == 0xAB &&
                          p->temp32x32Ptr[n - 1] == 0xAB && p->tempTwo32x32Ptr[n - 1] == 0xCD;
      p->mOffsetX = 0.5f;
      p->mNoResult = 0;
    }
    if (int(frame) == holdFrame.load()) {
      held.store(true);
      while (!release.load()) usleep(1000);
      heldJobDone.store(true);
    } else if (jitterJobs.load()) {
      jitter();
    }
    std::lock_guard<std::mutex> guard(lock);
    jobs.push_back(seen);
  }
};

struct Posting {
  UInt32 worker;
  UInt16 frame;
};
std::mutex gPostLock;
std::vector<Posting> gPosts;

void posterHook(MAMF* r, MyReaderPausePoint where, UInt32 arg) {
  if (where == kMyReaderPausePosted) {
    const UInt16 frame = UInt16(reinterpret_cast<UInt16*>(r->mWorkers[arg]->mWorkFrame)[0] - 1);
    std::lock_guard<std::mutex> guard(gPostLock);
    gPosts.push_back({arg, frame});
  }
  if (where != kMyReaderPauseStopping) jitter();
}

// Collects results as the run does until the end of the movie (or `limit`
// results); true when every worker was idle at the moment the end was seen.
struct Collector {
  std::vector<UInt16> frames;
  std::vector<float> offsets;
  bool idleAtEnd = true;
  void collect(MAMF* r, size_t limit = size_t(-1), const std::atomic<bool>* until = nullptr) {
    for (int cycles = 0; cycles < 200000 && frames.size() < limit; ++cycles) {
      if (until != nullptr && until->load()) return;
      if (r->mEndOfMovie.load() != 0) {
        for (UInt32 j = 0; j < r->mWorkerCount; ++j) {
          AlignThreadObject* w = r->mWorkers[j];
          if (flag(w->mNeedsFrame).load() == 0 || flag(w->mDoneFrame).load() != 0) idleAtEnd = false;
        }
        return;
      }
      for (UInt32 j = 0; j < r->mWorkerCount; ++j) {
        AlignThreadObject* w = r->mWorkers[j];
        if (flag(w->mDoneFrame).load(std::memory_order_acquire) != 0 && w->mIsReference == 0) {
          frames.push_back(UInt16(reinterpret_cast<UInt16*>(w->mWorkFrame)[0] - 1));
          offsets.push_back(w->mOffsetX);
          flag(w->mNeedsFrame).fetch_add(1, std::memory_order_acq_rel);
          flag(w->mDoneFrame).fetch_sub(1, std::memory_order_acq_rel);
        }
      }
      if (r->mSleeping.load() != 0) pthread_cond_broadcast(&r->mCond);
      usleep(200);
    }
  }
};

class PosterTest : public ReaderRecordTest {
 protected:
  TestWorkers workers;
  std::vector<NoiseStruct> list;  // sorted, as the poster reads it

  void TearDown() override {
    workers.stop();
    gPosts.clear();
    ReaderRecordTest::TearDown();
  }
  // A poster over `frames` frames with random sharpness, `pass` of them at
  // or above the cut-off.
  void makePoster(UInt32 workerCount, UInt32 frames, UInt32 pass) {
    makeRecord(1, frames);
    std::mt19937 rng(workerCount);
    for (UInt32 k = 0; k < frames; ++k) myAddNoiseStruct(&r.mSharpnessList, 20 * k, double(rng() % 100000) + 1.0);
    mySortNoiseStruct(r.mSharpnessList);
    r.mFrameCount = myCountNoiseStruct(r.mSharpnessList);
    list.resize(frames);
    for (UInt32 i = 0; i < frames; ++i) myGetNoiseStruct(r.mSharpnessList, i, &list[i]);
    r.mCutOff = list[pass - 1].mValue;
    workers.start(workerCount);
    r.mWorkerCount = workerCount;
    for (UInt32 j = 0; j < workerCount; ++j) r.mWorkers[j] = workers.records[j];
    gPosts.clear();
    myReaderSetPauseHook(posterHook);
  }
  void expectReset() {
    for (AlignThreadObject* w : workers.records) {
      EXPECT_EQ(w->mNeedsFrame, 1u);
      EXPECT_EQ(w->mDoneFrame, 0u);
      EXPECT_EQ(w->mIsReference, 1);
      EXPECT_EQ(w->mNoResult, 1);
      EXPECT_EQ(w->mRefX, -2.0f);
      EXPECT_EQ(w->mRefY, -2.0f);
      EXPECT_EQ(w->mOffsetX, 0.0f);
    }
  }
};

class PosterOrderTest : public PosterTest, public ::testing::WithParamInterface<UInt32> {};

TEST_P(PosterOrderTest, PostsTheReferenceThenEveryFrameAboveTheCutOffInOrder) {
  const UInt32 count = GetParam();
  const UInt32 frames = 60, pass = 40;
  makePoster(count, frames, pass);
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  EXPECT_EQ(r.mRefPosX, 3.5f);
  EXPECT_EQ(r.mRefPosY, -1.25f);
  Collector c;
  c.collect(&r);
  EXPECT_EQ(r.mEndOfMovie.load(), 1);
  EXPECT_TRUE(c.idleAtEnd);
  myDeallocateAlignThread(&r);
  EXPECT_EQ(r.mRunning.load(), 0);

  std::vector<Posting> posts = gPosts;
  ASSERT_EQ(posts.size(), pass);
  EXPECT_EQ(posts[0].worker, 0u);
  for (UInt32 i = 0; i < pass; ++i) {
    EXPECT_EQ(posts[i].frame, list[i].mFrameTime / 20) << "list entry " << i;
    EXPECT_LT(posts[i].worker, count);
  }
  ASSERT_FALSE(workers.jobs.empty());
  EXPECT_TRUE(workers.jobs[0].reference);
  EXPECT_EQ(workers.jobs[0].worker, 0u);
  for (size_t i = 1; i < workers.jobs.size(); ++i) {
    EXPECT_FALSE(workers.jobs[i].reference);
    EXPECT_TRUE(workers.jobs[i].sharedCopied) << "job " << i << " on worker " << workers.jobs[i].worker;
  }
  // The collector took the reference frame too, at (0, 0).
  ASSERT_EQ(c.frames.size(), pass);
  EXPECT_EQ(c.frames[0], list[0].mFrameTime / 20);
  EXPECT_EQ(c.offsets[0], 0.0f);
  EXPECT_EQ(std::set<UInt16>(c.frames.begin(), c.frames.end()).size(), size_t(pass));
  expectReset();
}

INSTANTIATE_TEST_SUITE_P(Workers, PosterOrderTest, ::testing::Values(1u, 3u, 16u));

TEST_F(PosterTest, OnlyTheReferencePassesTheCutOff) {
  makePoster(3, 10, 1);
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  Collector c;
  c.collect(&r);
  EXPECT_EQ(r.mEndOfMovie.load(), 1);
  myDeallocateAlignThread(&r);
  EXPECT_EQ(gPosts.size(), 1u);
  EXPECT_EQ(c.frames.size(), 1u);
}

TEST_F(PosterTest, CancelStopsPostingAndResetsTheWorkers) {
  makePoster(3, 200, 200);
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  Collector c;
  c.collect(&r, 10);
  r.mError.store(-128);
  usleep(20000);
  size_t before;
  {
    std::lock_guard<std::mutex> guard(gPostLock);
    before = gPosts.size();
  }
  c.collect(&r, 10000);  // drains until the poster sees every worker idle
  EXPECT_EQ(r.mEndOfMovie.load(), 1);
  {
    std::lock_guard<std::mutex> guard(gPostLock);
    EXPECT_EQ(gPosts.size(), before);
  }
  EXPECT_LT(before, 200u);
  myDeallocateAlignThread(&r);
  EXPECT_EQ(r.mRunning.load(), 0);
  expectReset();
}

TEST_F(PosterTest, StopWaitsForAJobInFlight) {
  makePoster(1, 10, 10);
  workers.holdFrame.store(int(list[1].mFrameTime / 20));
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  // The reference comes back; the next job stays with the worker until released.
  Collector c;
  c.collect(&r, size_t(-1), &workers.held);
  ASSERT_TRUE(workers.held.load());
  EXPECT_EQ(c.frames.size(), 1u);
  std::thread releaser([&] {
    usleep(100000);
    workers.release.store(true);
  });
  testing::internal::CaptureStderr();
  myDeallocateAlignThread(&r);
  const std::string err = testing::internal::GetCapturedStderr();
  releaser.join();
  EXPECT_TRUE(workers.heldJobDone.load());
  EXPECT_EQ(r.mRunning.load(), 0);
  EXPECT_NE(err.find("2 myMultiThread16BitGetMovieFrameProcessingThread thread# 0 was still processing\n"),
            std::string::npos)
      << err;
  expectReset();
}

// ---- Start failures ----

TEST_F(PosterTest, FailedStartsReturnTheirCode) {
  struct Case {
    const char* what;
    SInt32 kind;
    SkyloomMovieThreadCall call;  // failed call, or kSkyloomExitMoviesOnThread for none
    OSErr code;
    bool badReference;
  };
  const Case cases[] = {
      {"enter, reader", 0, kSkyloomEnterMoviesOnThread, -2001, false},
      {"attach, reader", 0, kSkyloomAttachMovieToThread, -2002, false},
      {"enter, poster", 1, kSkyloomEnterMoviesOnThread, -2003, false},
      {"attach, poster", 1, kSkyloomAttachMovieToThread, -2004, false},
      {"reference decode, poster", 1, kSkyloomExitMoviesOnThread, 0, true},
  };
  makePoster(3, 10, 10);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r.mKind = c.kind;
    NoiseStruct* entries = reinterpret_cast<NoiseStruct*>(*r.mSharpnessList);
    const UInt32 savedTime = entries[0].mFrameTime;
    if (c.badReference) entries[0].mFrameTime = 1000000;  // far beyond the movie's end
    if (c.code != 0) SkyloomFailNextMovieThreadCall(c.call, c.code);
    testing::internal::CaptureStderr();
    const OSStatus got = myAllocateAlignThread(&r);
    const std::string err = testing::internal::GetCapturedStderr();
    entries[0].mFrameTime = savedTime;
    if (c.code != 0)
      EXPECT_EQ(got, c.code);
    else
      EXPECT_NE(got, noErr);
    EXPECT_EQ(got, r.mError.load());
    EXPECT_EQ(r.mHasThread, 0);
    EXPECT_NE(err.find("myAllocateAlignThread pthread_detach failed Err = "), std::string::npos) << err;
    myDeallocateAlignThread(&r);  // no thread: left alone
    if (c.kind == 1) {
      EXPECT_TRUE(gPosts.empty());
      expectReset();
    }
  }
  // The record starts cleanly afterwards.
  r.mKind = 1;
  ASSERT_EQ(myAllocateAlignThread(&r), noErr);
  Collector c;
  c.collect(&r);
  myDeallocateAlignThread(&r);
  EXPECT_EQ(c.frames.size(), 10u);
}

TEST_F(ReaderRecordTest, RefusedThreadCreation) {
  makeRecord(0, 3);
  myReaderFailNextThreadCreation(11);
  testing::internal::CaptureStderr();
  EXPECT_EQ(myAllocateAlignThread(&r), 11);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "myAllocateAlignThread pthread_create failed Err = 0xb 11\n");
  EXPECT_EQ(r.mHasThread, 0);
  myDeallocateAlignThread(&r);
}

TEST_F(ReaderRecordTest, OldQuickTimeGivesNoThreadForTheSixteenBitKinds) {
  makeRecord(0, 3);
  SkyloomSetGestaltResponder([](OSType selector, SInt32* response) -> OSErr {
    if (selector != FOUR_CHAR_CODE("qtim")) return kGestaltFallThrough;
    *response = 0x06030000;
    return noErr;
  });
  for (SInt32 kind : {0, 1}) {
    r.mKind = kind;
    EXPECT_EQ(myAllocateAlignThread(&r), -108) << kind;
    EXPECT_EQ(r.mUsesPthreads, 0);
    myDeallocateAlignThread(&r);
  }
}

}  // namespace
