// Filling an align worker record from the run's settings: derived fields,
// buffer sizes, which reference block buffers each PIXELALIGN gets, and the
// failure paths. The workers come from libtav.so, as in the application.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "stacking/AlignWorkerRecords.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

StackAlignJob defaultJob() {
  StackAlignJob job{};
  job.PIXELALIGN = 3;
  job.SCALE = 1;
  job.PIXELBLOCKSIZE = 1;
  job.COLORCHANNEL = 1;
  job.PIXELTOLERANCE = 9;
  job.SHARPEN = -1.0;
  job.REMOVEHOTPIXEL = 23;
  return job;
}

struct Allocated {
  AlignThreadObject* p;
  explicit Allocated(AlignThreadObject* r) : p(r) {}
  ~Allocated() { myDisposeAlignThreadObject(p); }
};

class AlignWorkerRecords : public UiTest {
 protected:
  AlignWorkerRecords() {
    reader.mExpandLow = 40;
    reader.mExpandHigh = 220;
  }
  void TearDown() override {
    myStackingSetBufferAllocator(nullptr);
    UiTest::TearDown();
  }
  MAMF reader{};
};

TEST_F(AlignWorkerRecords, BlockBuffersByPixelAlign) {
  struct Case {
    UInt32 pixelAlign;
    bool horizontal, vertical;
  } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true},
               {4, true, true},   {5, true, false}};
  for (const Case& c : cases) {
    StackAlignJob job = defaultJob();
    job.PIXELALIGN = c.pixelAlign;
    Allocated a(myAllocateAndFillInMPThread(&job, &reader, 64, 48, 0, 0, 0, 1, 0, 0));
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.p->temp32x32Ptr != nullptr, c.horizontal) << c.pixelAlign;
    EXPECT_EQ(a.p->tempTwo32x32Ptr != nullptr, c.vertical) << c.pixelAlign;
    EXPECT_EQ(a.p->mHorzBlockValid, c.horizontal ? 1 : 0);
    EXPECT_EQ(a.p->mVertBlockValid, c.vertical ? 1 : 0);
  }
}

size_t gFailBytes = 0;
void* failOneSize(size_t bytes) {
  if (bytes == gFailBytes) return nullptr;
  return std::malloc(bytes);
}

TEST_F(AlignWorkerRecords, SizesOfTheBuffers) {
  // ARGB32 640 x 480 at SCALE 2: 4 x 1280 x 960 + 64 bytes a frame buffer;
  // a block of size 1 is 1 x 1024 + 64 bytes. Failing exactly those sizes
  // shows the sizes asked for.
  StackAlignJob job = defaultJob();
  job.SCALE = 2;
  job.PIXELALIGN = 0;
  myStackingSetBufferAllocator(failOneSize);
  gFailBytes = 4915264;
  EXPECT_EQ(myAllocateAndFillInMPThread(&job, &reader, 640, 480, 0, 0, 0, 1, 0, 0), nullptr);
  gFailBytes = 4915265;
  {
    Allocated a(myAllocateAndFillInMPThread(&job, &reader, 640, 480, 0, 0, 0, 1, 0, 0));
    ASSERT_NE(a.p, nullptr);
    EXPECT_EQ(a.p->mRowBytes, 2560u);
    EXPECT_EQ(a.p->mScaledWidth, 1280u);
    EXPECT_EQ(a.p->mScaledHeight, 960u);
    EXPECT_EQ(a.p->mScaledRowBytes, 5120u);
  }
  job.SCALE = 1;
  gFailBytes = 6 * 10 * 7 + 64;  // RGB48
  EXPECT_EQ(myAllocateAndFillInMPThread(&job, &reader, 10, 7, 0, 0, 0, 0, 0, 0), nullptr);
  // A frame 2 pixels wide: its Mono8 rows are 16 bytes, longer than its 8-byte
  // ARGB32 rows, and the buffers hold Mono8 images too: 16 x 40 + 64.
  gFailBytes = 4 * 2 * 40 + 64;
  {
    Allocated a(myAllocateAndFillInMPThread(&job, &reader, 2, 40, 0, 0, 0, 1, 0, 0));
    ASSERT_NE(a.p, nullptr);
  }
  gFailBytes = 16 * 40 + 64;
  EXPECT_EQ(myAllocateAndFillInMPThread(&job, &reader, 2, 40, 0, 0, 0, 1, 0, 0), nullptr);
}

TEST_F(AlignWorkerRecords, ANarrowFramesJobStaysInsideItsBuffers) {
  // The job converts into the work buffer with Mono8 rows (GAUSBLUR), blurs
  // into the mono buffer, sharpens into the temporary one: under the address
  // sanitizer a buffer sized for the colour rows alone overflows here.
  StackAlignJob job = defaultJob();
  job.PIXELALIGN = 0;
  job.GAUSBLUR = 1;
  job.SHARPMATCH = 1;
  Allocated a(myAllocateAndFillInMPThread(&job, &reader, 1, 64, 0, 0, 0, 1, 0, 0));
  ASSERT_NE(a.p, nullptr);
  for (UInt32 y = 0; y < 64; ++y) {
    UInt8* px = a.p->mWorkFrame + 4 * y;
    px[0] = 255;
    px[1] = px[2] = px[3] = UInt8(y * 3);
  }
  a.p->mIsReference = 1;
  pthread_mutex_lock(&a.p->mMutex);
  std::atomic_ref<UInt32>(a.p->mNeedsFrame).fetch_sub(1);
  pthread_cond_signal(&a.p->mCond);
  pthread_mutex_unlock(&a.p->mMutex);
  while (std::atomic_ref<UInt32>(a.p->mDoneFrame).load(std::memory_order_acquire) == 0)
    std::this_thread::yield();
  EXPECT_EQ(a.p->mNoResult, 0);
}

TEST_F(AlignWorkerRecords, AFailedBlockBufferIsReportedAndNothingIsLeft) {
  ScriptedUser user;
  user.AnswerAlert().AnswerAlert();
  myStackingSetBufferAllocator(failOneSize);
  gFailBytes = 1088;
  StackAlignJob job = defaultJob();
  job.PIXELALIGN = 1;
  EXPECT_EQ(myAllocateAndFillInMPThread(&job, &reader, 32, 32, 0, 0, 0, 1, 0, 0), nullptr);
  job.PIXELALIGN = 2;
  EXPECT_EQ(myAllocateAndFillInMPThread(&job, &reader, 32, 32, 0, 0, 0, 1, 0, 0), nullptr);
  ASSERT_EQ(Alerts().size(), 2u);
  EXPECT_EQ(Alerts()[0].title, "OSX Err");
  EXPECT_EQ(Alerts()[0].message, "malloc failed temp32x32Ptr");
  EXPECT_EQ(Alerts()[1].message, "malloc failed tempTwo32x32Ptr");
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(AlignWorkerRecords, DerivedFields) {
  StackAlignJob job = defaultJob();
  job.PIXELTOLERANCE = 31;
  job.SHARPEN = 2.0;
  job.COLORCHANNEL = 2;
  Allocated a(myAllocateAndFillInMPThread(&job, &reader, 17, 5, 0, 1, 1, 0, 0, 1));
  ASSERT_NE(a.p, nullptr);
  EXPECT_EQ(a.p->mMatchTolerance, 15.0);
  EXPECT_EQ(a.p->mSharpenOn, 1);
  EXPECT_EQ(a.p->mSharpenThreshold, 225u);  // 30 / 2 x 15
  EXPECT_EQ(a.p->mColorChannel, 2u);
  EXPECT_EQ(a.p->mRowBytes, 102u);          // RGB48
  EXPECT_EQ(a.p->mMonoRowBytes, 32u);
  EXPECT_EQ(a.p->mBayerCode, 0u);  // raw: taken from the first frame
  EXPECT_EQ(a.p->mGradientStep, 8u);
  EXPECT_EQ(a.p->mRefX, -2.0f);
  EXPECT_EQ(a.p->mRefY, -2.0f);
  EXPECT_EQ(a.p->mExpandLow, 40u);
  EXPECT_EQ(a.p->mExpandHigh, 220u);
  EXPECT_EQ(a.p->mPrefetch, 1);
  EXPECT_EQ(a.p->mQuality, 1);
  EXPECT_EQ(std::atomic_ref<UInt32>(a.p->mNeedsFrame).load(), 1u);
  EXPECT_EQ(std::atomic_ref<UInt32>(a.p->mDoneFrame).load(), 0u);

  job.PIXELTOLERANCE = 1;
  job.SHARPEN = 0.0;
  Allocated b(myAllocateAndFillInMPThread(&job, &reader, 1, 1, 1, 0, 0, 1, 0, 0));
  ASSERT_NE(b.p, nullptr);
  EXPECT_EQ(b.p->mMatchTolerance, 0.0);
  EXPECT_EQ(b.p->mSharpenOn, 0);
  EXPECT_EQ(b.p->mSharpenThreshold, 0u);
  EXPECT_EQ(b.p->mColorChannel, 3u);  // a mono movie aligns on green
  EXPECT_EQ(b.p->mMonoRowBytes, 16u);
  EXPECT_EQ(b.p->mBayerCode, FOUR_CHAR_CODE("XXXX"));

  job.SCALE = 4;
  Allocated c(myAllocateAndFillInMPThread(&job, &reader, 4, 1, 0, 0, 0, 1, 0, 0));
  ASSERT_NE(c.p, nullptr);
  EXPECT_EQ(c.p->mMonoRowBytes, 16u);  // scaled width 16
}

TEST_F(AlignWorkerRecords, SharpenThreshold) {
  EXPECT_EQ(myAlignSharpenThreshold(2.0, 15.0), 225u);
  EXPECT_EQ(myAlignSharpenThreshold(-1.0, 15.0), 0u);
  EXPECT_EQ(myAlignSharpenThreshold(0.0, 15.0), 0u);
  EXPECT_EQ(myAlignSharpenThreshold(30.0, 3000000000.0), 3000000000u);  // above 2^31
  EXPECT_EQ(myAlignSharpenThreshold(1e-12, 15.0), 0xFFFFFFFFu);         // saturates
}

TEST_F(AlignWorkerRecords, NullRecordAndNullJob) {
  EXPECT_EQ(mySetUpAlignThreadObject(nullptr, 0), -108);
  myDisposeAlignThreadObject(nullptr);
  EXPECT_EQ(myAllocateAndFillInMPThread(nullptr, &reader, 8, 8, 0, 0, 0, 1, 0, 0), nullptr);
}

}  // namespace
