// Frames of the simulated camera through the callback and the pipeline:
// synchronous delivery of the camera's reference frames, and a stream on the
// driver's delivery thread while the main thread grabs, draws and switches
// the FWHM/HFD measurement.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include <unistd.h>

#include "tests/app/PipelineHarness.h"

namespace {

template <typename T>
T Load(T& f) {
  return std::atomic_ref<T>(f).load();
}

class FrameDeliveryTest : public PipelineHarness {
 protected:
  void TearDown() override {
    PipelineHarness::TearDown();
    gMyAddMovieFrame = nullptr;
  }
};

// A recorder that only counts what it is given.
std::atomic<int> gRecorded{0};
OSErr CountFrame(MyMovieRecorderStruct*, const void*, double) {
  gRecorded++;
  return 0;
}

// The display timer's preview step: draws (here: reads) the newest preview
// unless a conversion is under way.
UInt32 DisplayStep(MyCameraWindowDataStruct* r) {
  UInt32 drawn = 0;
  IncrementAtomic(&r->mDisplayBusy);
  if (Load(r->mPreviewReady) != 0 && Load(r->mPreviewConverting) == 0) {
    volatile UInt8 sink = static_cast<const UInt8*>(r->mPreviewBuffer)[4 * 321 + 1];
    (void)sink;
    drawn = 1;
    std::atomic_ref<SInt32> ready(r->mPreviewReady);
    SInt32 v = ready.load();
    while (v > 0 && !ready.compare_exchange_weak(v, v - 1)) {
    }
  }
  DecrementAtomic(&r->mDisplayBusy);
  return drawn;
}

TEST_F(FrameDeliveryTest, AReferenceFrameReachesThePreviewAndAGrab) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(StartVideo(-1, false), noErr);
  ASSERT_EQ(r->mWidth, 640u);
  ASSERT_EQ(r->mBitsPerPixel, 8u);
  ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
  std::vector<UInt8> frame = Reference(7);
  const std::vector<UInt8> sent = frame;
  myDisplayCallback(r->mWidth, r->mHeight, UInt32(frame.size()), frame.data(), r, 33.3, 66.6);
  ASSERT_TRUE(myGrabShouldSave(r));
  EXPECT_EQ(memcmp(r->mGrabBuffer, sent.data(), sent.size()), 0);
  EXPECT_EQ(r->mPreviewReady, 1);
  EXPECT_EQ(r->mFrameTime, 66.6);
  // Grey preview: A, R, G, B of sample 1000.
  const auto* p = static_cast<const UInt8*>(r->mPreviewBuffer) + 4 * 1000;
  EXPECT_EQ(p[1], sent[1000]);
  EXPECT_EQ(p[2], sent[1000]);
  EXPECT_EQ(p[3], sent[1000]);
  EXPECT_TRUE(myFinishGrab(r));
  StopVideo();
}

TEST_F(FrameDeliveryTest, APacked12BitReferenceFrameIsWidenedAsTheCameraPackedIt) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  SInt32 index = -1;
  for (UInt32 i = 0; i < r->mVideoSizeCount; i++)
    if (r->mVideoSizes[i].mColorCoding == 11) index = SInt32(i);
  ASSERT_GE(index, 0);
  ASSERT_EQ(StartVideo(index, false), noErr);
  ASSERT_EQ(r->mBitsPerPixel, 12u);
  ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
  std::vector<UInt8> frame = Reference(3);
  const std::vector<UInt8> packed = frame;
  myDisplayCallback(r->mWidth, r->mHeight, UInt32(frame.size()), frame.data(), r, 33.3, 66.6);
  ASSERT_TRUE(myGrabShouldSave(r));
  const auto* grabbed = static_cast<const UInt16*>(r->mGrabBuffer);
  const size_t n = size_t(r->mWidth) * r->mHeight;
  for (size_t i : {size_t(0), size_t(1), size_t(2), size_t(641), n / 2, n - 2, n - 1}) {
    SCOPED_TRACE(i);
    const UInt8* b = &packed[(i / 2) * 3];
    const UInt32 sample = i % 2 == 0 ? b[0] * 16u + (b[1] & 0x0F) : b[2] * 16u + (b[1] >> 4);
    EXPECT_EQ(grabbed[i], UInt16(sample << 4));
  }
  EXPECT_TRUE(myFinishGrab(r));
  StopVideo();
}

TEST_F(FrameDeliveryTest, AThreadedStreamWithGrabsAndFWHMLeavesEveryCounterAtZero) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  Camera().Stream().SetClock(SimClock::Stepped);
  gRecorded = 0;
  gMyAddMovieFrame = CountFrame;
  int movie = 0;
  ASSERT_EQ(StartVideo(-1, true), noErr);
  r->mRecordWidth = r->mWidth;  // the recording's geometry is the stream's
  r->mRecordHeight = r->mHeight;
  r->mRecordBitsPerPixel = r->mBitsPerPixel;
  // 240 frames a second, as fast as the bus is stepped.
  r->mFrameRate = 240.0;
  r->mShowSharpness = 1;
  r->mInvert = 1;
  r->mFlipVertical = 1;

  constexpr int kFrames = 1000;
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread bus([&] {
    for (int i = 0; i < kFrames; i++) {
      if (Camera().Stream().StepBulkFrames(1) != 1) break;
      sent++;
    }
    done = true;
  });
  UInt32 grabs = 0, saved = 0, drawn = 0, toggles = 0;
  while (!done) {
    if (Load(r->mGrabPending) == 0) {
      ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
      grabs++;
    } else if (myGrabReadyToComplete(r)) {
      DecrementAtomic(&r->mGrabPending);
      DecrementAtomic(&r->mGrabsInFlight);
      if (myGrabShouldSave(r)) saved++;
      while (!myFinishGrab(r)) {
      }
    } else if (grabs % 3 == 0) {
      std::atomic_ref<UInt8>(r->mGrabCancel).store(1);  // the user cancels this one
    }
    drawn += DisplayStep(r);
    myStartStopFWHMHFD(r, ++toggles % 2);
    if (toggles % 7 == 0) {
      if (Load(r->mRecording) == 0) {
        std::atomic_ref<MyMovieRecorderStruct*>(r->mMovie).store(reinterpret_cast<MyMovieRecorderStruct*>(&movie));
        std::atomic_ref<UInt8>(r->mRecording).store(1);
      } else {
        while (!myDetachMovieFromFrames(r)) {
        }
      }
    }
    std::this_thread::yield();
  }
  bus.join();
  EXPECT_EQ(sent.load(), kFrames);

  // Quiet again: one more frame is grabbed, recorded and drawn. Assigning
  // the callback again waits for a frame still in the pipeline.
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr), noErr);
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, myDisplayCallback, r), noErr);
  if (Load(r->mGrabPending) != 0) {
    DecrementAtomic(&r->mGrabPending);
    DecrementAtomic(&r->mGrabsInFlight);
    while (!myFinishGrab(r)) {
    }
  }
  DisplayStep(r);
  ASSERT_EQ(Load(r->mPreviewReady), 0);
  ASSERT_EQ(myArmGrabBuffer(r, 0), noErr);
  if (Load(r->mRecording) == 0) {
    std::atomic_ref<MyMovieRecorderStruct*>(r->mMovie).store(reinterpret_cast<MyMovieRecorderStruct*>(&movie));
    std::atomic_ref<UInt8>(r->mRecording).store(1);
  }
  std::atomic_ref<double>(r->mFrameRate).store(7.5);  // every recorded frame shown
  const int recorded = gRecorded.load();
  ASSERT_EQ(Camera().Stream().StepBulkFrames(1), 1);
  for (int i = 0; i < 5000 && Load(r->mPreviewReady) == 0; i++) usleep(1000);
  EXPECT_TRUE(myGrabShouldSave(r));
  EXPECT_EQ(DisplayStep(r), 1u);
  EXPECT_EQ(gRecorded.load(), recorded + 1);
  while (!myDetachMovieFromFrames(r)) {
  }
  StopVideo();
  RecordProperty("grabs", int(grabs));
  RecordProperty("saved", int(saved));
  RecordProperty("drawn", int(drawn));
  EXPECT_EQ(r->mGrabBufferBusy, 0);
  EXPECT_EQ(r->mFWHMBusy, 0);
  EXPECT_EQ(r->mPreviewConverting, 0);
  EXPECT_EQ(r->mDisplayBusy, 0);
  EXPECT_EQ(r->mCalibrationBusy, 0);
  EXPECT_EQ(r->mPleezWaitBusy, 0);
  EXPECT_EQ(r->mMovieBusy, 0);
  EXPECT_LE(r->mPreviewReady, 1);
  EXPECT_EQ(r->mFWHMPlane, nullptr);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
}

}  // namespace
