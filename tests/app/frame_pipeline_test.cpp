// The frame callback, the per-frame pipeline and the frame hand-off, on a
// plain camera record (no camera): widening, pairing, the dispatch of hot
// pixels, the order of the steps, recording, please-wait work, and the races
// of the hand-off, held open at the pipeline's pause points.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "app/FramePipeline.h"
#include "pixel/DarkFrame.h"
#include "pixel/FlatField.h"
#include "pixel/PixelOps.h"
#include "platform/coreservices/CoreServices.h"

namespace {

template <typename T>
T Load(T& f) {
  return std::atomic_ref<T>(f).load();
}

// Frames the callback handed on instead of running the pipeline.
struct SpyCall {
  std::vector<UInt8> bytes;
  UInt32 depth;
  double time, interval;
};
std::vector<SpyCall>* gSpyCalls = nullptr;
void Spy(MyCameraWindowDataStruct* r, void* frame, UInt32 depth, double time, double interval) {
  const size_t n = size_t(r->mWidth) * r->mHeight * (depth == 8 ? 1 : 2);
  const auto* b = static_cast<const UInt8*>(frame);
  gSpyCalls->push_back({std::vector<UInt8>(b, b + n), depth, time, interval});
}

// Recorder calls the pipeline made.
struct MovieCall {
  const void* frame;
  double time;
};
std::vector<MovieCall>* gMovieCalls = nullptr;
OSErr gMovieStatus = 0;
OSErr AddFrame(MyMovieRecorderStruct*, const void* frame, double time) {
  gMovieCalls->push_back({frame, time});
  return gMovieStatus;
}

// Holds the delivery thread at one pause point until released.
struct Gate {
  std::atomic<int> where{0};
  std::atomic<bool> reached{false}, released{false};
  static Gate* current;
  static void Point(MyCameraWindowDataStruct*, int w) {
    Gate* g = current;
    if (!g || w != g->where.load()) return;
    g->reached = true;
    while (!g->released) std::this_thread::yield();
  }
  void WaitReached() {
    while (!reached) std::this_thread::yield();
  }
};
Gate* Gate::current = nullptr;

class PipelineTest : public testing::Test {
 protected:
  void SetUp() override {
    r_ = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    r_->mKind = kMyCameraWindowDataKind;
    Geometry(8, 6, 8);
    r_->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
    r_->mPixelFormat = FOUR_CHAR_CODE("raw ");
    r_->mDisplayFormatItem = 1;
    r_->mIsPointGrey = 1;
    spy_.clear();
    movie_.clear();
    gSpyCalls = &spy_;
    gMovieCalls = &movie_;
    gMovieStatus = 0;
    gMyAddMovieFrame = AddFrame;
    now_ = 1000000;
    SkyloomSetMonotonicTimeSource([this] { return now_.load(); });
  }
  void TearDown() override {
    gMyFrameProcessorSpy = nullptr;
    gMyAddMovieFrame = nullptr;
    gMyPipelineTestPausePoint = nullptr;
    gMyFWHMAllocate = nullptr;
    Gate::current = nullptr;
    mySetFrameWorkWaitPolls(0);
    SkyloomSetMonotonicTimeSource({});
    myStartStopFWHMHFD(r_, 0);
    myFinishGrab(r_);
    free(r_);
  }
  void Geometry(UInt32 w, UInt32 h, UInt32 bits) {
    r_->mWidth = w;
    r_->mHeight = h;
    r_->mBitsPerPixel = bits;
    preview_.assign(size_t(w) * h * 4 + 16, 0);
    work_.assign(size_t(w) * h + 32, 0x5A5A);
    r_->mPreviewBuffer = preview_.data();
    r_->mWorkBuffer = work_.data();
  }
  UInt32 N() const { return r_->mWidth * r_->mHeight; }
  std::vector<UInt8> Ramp8(UInt8 start = 10) {
    std::vector<UInt8> f(N());
    for (size_t i = 0; i < f.size(); i++) f[i] = UInt8(start + i * 3);
    return f;
  }
  void Callback(std::vector<UInt8>& f, double interval = 33.3, double accumulated = 100.0) {
    myDisplayCallback(r_->mWidth, r_->mHeight, UInt32(f.size()), f.data(), r_, interval, accumulated);
  }
  void Spying() { gMyFrameProcessorSpy = Spy; }
  void Recording() {
    r_->mRecordWidth = r_->mWidth;
    r_->mRecordHeight = r_->mHeight;
    r_->mRecordBitsPerPixel = r_->mBitsPerPixel;
    r_->mRecording = 1;
    r_->mMovie = reinterpret_cast<MyMovieRecorderStruct*>(&fakeMovie_);
  }

  MyCameraWindowDataStruct* r_ = nullptr;
  std::vector<UInt8> preview_;
  std::vector<UInt16> work_;
  std::vector<SpyCall> spy_;
  std::vector<MovieCall> movie_;
  std::atomic<UInt64> now_{0};
  int fakeMovie_ = 0;
};

// ---------------------------------------------------------------- 12-bit widening

TEST(Widen12Bit, GoldenBytesAndAnOddLastPixel) {
  const UInt8 packed[] = {0xAB, 0xCD, 0xEF, 0x12, 0x34, 0x56, 0x99};
  UInt16 out[5] = {0x1111, 0x1111, 0x1111, 0x1111, 0x7777};
  myWiden12BitFrame(packed, out, 5);
  EXPECT_EQ(out[0], 0xABD0);
  EXPECT_EQ(out[1], 0xEFC0);
  EXPECT_EQ(out[2], 0x1240);  // 0x12 x 16 + 4
  EXPECT_EQ(out[3], 0x5630);  // 0x56 x 16 + 3
  EXPECT_EQ(out[4], 0x7777);  // the fifth sample is not written
}

TEST(Widen12Bit, EveryPairCountMatchesOneByOne) {
  for (UInt32 pairs = 1; pairs <= 9; pairs++) {
    SCOPED_TRACE(pairs);
    std::vector<UInt8> packed(pairs * 3);
    for (size_t i = 0; i < packed.size(); i++) packed[i] = UInt8(i * 37 + pairs * 11);
    std::vector<UInt16> got(pairs * 2 + 1, 0xEEEE), want(pairs * 2 + 1, 0xEEEE);
    for (UInt32 p = 0; p < pairs; p++) {
      const UInt8 b0 = packed[3 * p], b1 = packed[3 * p + 1], b2 = packed[3 * p + 2];
      want[2 * p] = UInt16((b0 * 16 + (b1 & 0x0F)) << 4);
      want[2 * p + 1] = UInt16((b2 * 16 + (b1 >> 4)) << 4);
    }
    myWiden12BitFrame(packed.data(), got.data(), pairs * 2);
    EXPECT_EQ(got, want);
  }
}

TEST_F(PipelineTest, TwelveBitFramesReachThePipelineWidened) {
  Spying();
  Geometry(4, 1, 12);
  std::vector<UInt8> f = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45};
  Callback(f);
  ASSERT_EQ(spy_.size(), 1u);
  EXPECT_EQ(spy_[0].depth, 16u);
  UInt16 s[4];
  memcpy(s, spy_[0].bytes.data(), 8);
  EXPECT_EQ(s[0], 0xABD0);
  EXPECT_EQ(s[1], 0xEFC0);
  EXPECT_EQ(s[2], 0x0130);
  EXPECT_EQ(s[3], 0x4520);
}

// ---------------------------------------------------------------- dispatch

TEST_F(PipelineTest, HotPixelRoutineByDepthModeAndColour) {
  r_->mHotPixelFlag = 1;
  r_->mLiveHotPixelFlag = 1;
  r_->mHotPixelThreshold = 23;
  const struct {
    UInt32 bits;
    bool longExposure;
    UInt8 colourSensor;
    OSType display;
    UInt8 sixteen, bayer;
    UInt32 threshold;
  } kCases[] = {
      {8, false, 0, FOUR_CHAR_CODE("ARGB"), 0, 0, 23},    {8, false, 1, FOUR_CHAR_CODE("ARGB"), 0, 1, 23},
      {12, false, 1, FOUR_CHAR_CODE("bmRG"), 1, 1, 5888}, {16, false, 0, FOUR_CHAR_CODE("bmRG"), 1, 0, 5888},
      {8, true, 1, FOUR_CHAR_CODE("ARGB"), 0, 0, 23},     {8, true, 0, FOUR_CHAR_CODE("mmRG"), 0, 1, 23},
      {12, true, 0, FOUR_CHAR_CODE("ARGB"), 1, 0, 5888},  {16, true, 1, FOUR_CHAR_CODE("bmRG"), 1, 1, 5888},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.bits << " long " << c.longExposure);
    r_->mBitsPerPixel = c.bits;
    r_->mColourSensor = c.colourSensor;
    r_->mDisplayFormat = c.display;
    const MyHotPixelChoice h = myHotPixelChoice(r_, c.longExposure);
    EXPECT_EQ(h.apply, 1);
    EXPECT_EQ(h.sixteenBit, c.sixteen);
    EXPECT_EQ(h.bayer, c.bayer);
    EXPECT_EQ(h.threshold, c.threshold);
  }
  // The long-exposure kind is 8-bit and follows the sensor's colour.
  r_->mIsLongExposureCamera = 1;
  r_->mBitsPerPixel = 16;
  r_->mColourSensor = 1;
  const MyHotPixelChoice h = myHotPixelChoice(r_, true);
  EXPECT_EQ(h.sixteenBit, 0);
  EXPECT_EQ(h.bayer, 1);
  EXPECT_EQ(h.threshold, 23u);
  r_->mHotPixelFlag = 0;
  EXPECT_EQ(myHotPixelChoice(r_, true).apply, 0);
}

TEST_F(PipelineTest, FramesThatCannotBeUsedAreDropped) {
  Spying();
  std::vector<UInt8> f = Ramp8();
  // No family flag: every frame is dropped.
  r_->mIsPointGrey = 0;
  Callback(f);
  EXPECT_TRUE(spy_.empty());
  r_->mShutterByAbsolute = 1;
  Callback(f);
  EXPECT_EQ(spy_.size(), 1u);
  // A frame shorter than the record's size needs (a size change in flight).
  std::vector<UInt8> shortFrame(N() - 1, 0);
  Callback(shortFrame);
  r_->mBitsPerPixel = 16;
  Callback(f);
  EXPECT_EQ(spy_.size(), 1u);
  // Null record or frame.
  myDisplayCallback(8, 6, 48, f.data(), nullptr, 1, 1);
  myDisplayCallback(8, 6, 48, nullptr, r_, 1, 1);
  EXPECT_EQ(spy_.size(), 1u);
  // Live frames keep the driver's times, frame time first.
  EXPECT_EQ(spy_[0].time, 100.0);
  EXPECT_EQ(spy_[0].interval, 33.3);
}

// ---------------------------------------------------------------- long exposures

class PairingTest : public PipelineTest {
 protected:
  void SetUp() override {
    PipelineTest::SetUp();
    Spying();
    r_->mIsPointGrey = 0;
    r_->mIsLongExposureCamera = 1;
    r_->mLongExposure = 1;
    r_->mExposureMS = 267.0;
    r_->mLongExpReadout = 1;
    r_->mExposureStartTime = 1000000;
    pair_.assign(N(), 0);
    r_->mSecondLongFrameBuffer = pair_.data();
  }
  std::vector<UInt8> Flat(UInt8 v) { return std::vector<UInt8>(N(), v); }
  std::vector<UInt8> pair_;
};

TEST_F(PairingTest, TheBrighterFrameOfAPairIsProcessedOnce) {
  std::vector<UInt8> dim = Flat(10), bright = Flat(20);
  now_ = 1000000 + 300000;
  Callback(dim);
  EXPECT_TRUE(spy_.empty());
  EXPECT_EQ(r_->mPairCount, 1u);
  Callback(bright);
  ASSERT_EQ(spy_.size(), 1u);
  EXPECT_EQ(spy_[0].bytes, bright);
  EXPECT_EQ(spy_[0].depth, 8u);
  EXPECT_DOUBLE_EQ(spy_[0].interval, 300.0);
  EXPECT_DOUBLE_EQ(spy_[0].time, 300.0);
  EXPECT_EQ(r_->mLongExpFrameDone, 1);
  EXPECT_EQ(r_->mPairCount, 0u);
  EXPECT_EQ(r_->mExposureStartTime, 1000000u);  // not moved here

  // FrameDone up: the next frame is dropped; once the thread takes it, the
  // next pair accumulates the frame time. Equal sums keep the first.
  Callback(dim);
  EXPECT_EQ(r_->mPairCount, 0u);
  r_->mLongExpFrameDone = 0;
  std::vector<UInt8> first = Ramp8(1), second = Ramp8(1);
  std::reverse(second.begin(), second.end());
  Callback(first);
  Callback(second);
  ASSERT_EQ(spy_.size(), 2u);
  EXPECT_EQ(spy_[1].bytes, first);
  EXPECT_DOUBLE_EQ(spy_[1].time, 600.0);
  EXPECT_EQ(r_->mLongExpFrameDone, 1);
}

TEST_F(PairingTest, EachGateDropsTheFrame) {
  std::vector<UInt8> f = Flat(5);
  r_->mLongExpShowPending = 1;
  Callback(f);
  r_->mLongExpShowPending = 0;
  r_->mLongExpReadout = 0;
  Callback(f);
  r_->mLongExpReadout = 1;
  r_->mLongExpFrameDone = 1;
  Callback(f);
  EXPECT_EQ(r_->mPairCount, 0u);
  EXPECT_TRUE(spy_.empty());
}

TEST_F(PairingTest, BelowThePairingExposureFramesPassStraightThrough) {
  r_->mExposureMS = 266.9;
  std::vector<UInt8> f = Flat(5);
  Callback(f, 12.5, 250.0);
  Callback(f, 12.5, 262.5);
  ASSERT_EQ(spy_.size(), 2u);
  EXPECT_EQ(spy_[1].time, 262.5);
  EXPECT_EQ(spy_[1].interval, 12.5);
  EXPECT_EQ(r_->mLongExpFrameDone, 0);
}

TEST_F(PipelineTest, AGenericLongExposureFrameClosesTheCycle) {
  Spying();
  r_->mLongExposure = 1;
  r_->mExposureStartTime = 500000;
  r_->mFrameTimeBase = 1000.0;
  r_->mPairCount = 1;
  now_ = 2500000;
  std::vector<UInt8> f = Ramp8();
  Callback(f);
  ASSERT_EQ(spy_.size(), 1u);
  EXPECT_DOUBLE_EQ(spy_[0].interval, 2000.0);
  EXPECT_DOUBLE_EQ(spy_[0].time, 3000.0);
  EXPECT_EQ(r_->mExposureStartTime, 2500000u);
  EXPECT_EQ(r_->mPairCount, 0u);
  EXPECT_EQ(r_->mLongExpShowPending, 1);
  EXPECT_EQ(r_->mLongExpReadout, 0);
  EXPECT_EQ(r_->mLongExpFrameDone, 1);
  // FrameDone still up: the counters are left alone.
  r_->mLongExpReadout = 1;
  Callback(f);
  EXPECT_EQ(r_->mLongExpFrameDone, 1);
  EXPECT_EQ(r_->mLongExpShowPending, 1);
  EXPECT_EQ(r_->mLongExpReadout, 1);
}

// ---------------------------------------------------------------- the steps

TEST_F(PipelineTest, CalibrationAndTransformsRunInTheirOrder) {
  Geometry(8, 6, 8);
  const UInt32 n = N();
  std::vector<UInt8> dark(n), lut(256);
  std::vector<FlattenedFrame8Bit> flat(n);
  for (UInt32 i = 0; i < n; i++) {
    dark[i] = UInt8(i % 7);
    flat[i] = FlattenedFrame8Bit(65536 + int(i % 5) * 9000);
  }
  for (int i = 0; i < 256; i++) lut[i] = UInt8(255.0 * std::pow(i / 255.0, 0.6));
  std::vector<UInt8> row(64);
  r_->mUseDarkFrame = 1;
  r_->mDarkFrame = dark.data();
  r_->mUseFlatFrame = 1;
  r_->mFlatFrame = flat.data();
  r_->mGammaOn = 1;
  r_->mGammaLUT = lut.data();
  r_->mInvert = 1;
  r_->mFlipHorizontal = 1;
  r_->mFlipVertical = 1;
  r_->mFlipVerticalLinePtr = row.data();
  // Dark collection sees the frame after dark and flat.
  std::vector<UInt32> sums(n, 0);
  r_->mPleezWaitActive = 1;
  r_->mPleezWaitMode = 2;
  r_->mPleezWaitFramesLeft = 2;
  r_->mDarkFrameCount = 2;
  r_->mPleezWaitSum = sums.data();

  std::vector<UInt8> f = Ramp8(40), want = f;
  mySubtractDarkFrame8Bit(want.data(), dark.data(), n, 0, 0);
  myFlattenFrame8Bit(want.data(), flat.data(), n, 0, 0);
  std::vector<UInt32> wantSums(want.begin(), want.end());
  myApply8BitLUT(want.data(), lut.data(), n);
  myInvertPixels8Bit(want.data(), n, 0, 0);
  myFlipHorizontalImage8Bit(want.data(), 8, 6, 0);
  myFlipVerticalImage8Bit(want.data(), row.data(), 8, 6, 0);

  myProcessFrame8Bit(r_, f.data(), 10.0, 10.0);
  EXPECT_EQ(f, want);
  EXPECT_EQ(sums, wantSums);
  EXPECT_EQ(r_->mPleezWaitFramesLeft, 1u);
  EXPECT_EQ(r_->mPleezWaitProgress, 50);
  EXPECT_EQ(r_->mPleezWaitDone, 0);
  EXPECT_EQ(r_->mCalibrationBusy, 0);
  EXPECT_EQ(r_->mPleezWaitBusy, 0);
}

TEST_F(PipelineTest, SharpnessMeanPublishesEveryThirtyFirstFrame) {
  Geometry(16, 8, 8);
  r_->mShowSharpness = 1;
  r_->mBayerFormat = 1;
  std::vector<UInt8> f = Ramp8();
  for (size_t i = 0; i < f.size(); i++) f[i] = UInt8((i * 53) % 251);
  auto run = [&] {
    std::vector<UInt8> c = f;
    myProcessFrame8Bit(r_, c.data(), 0, 0);
  };
  run();
  const double s = r_->mSharpness;
  ASSERT_GT(s, 0.0);
  for (int i = 2; i <= 30; i++) run();
  EXPECT_EQ(r_->mSharpnessCount, 30u);
  EXPECT_DOUBLE_EQ(r_->mSharpnessSum, 30 * s);
  run();  // frame 31
  EXPECT_DOUBLE_EQ(r_->mSharpnessAverage, 30 * s * 0.03333333334);
  EXPECT_EQ(r_->mSharpnessCount, 0u);
  EXPECT_EQ(r_->mSharpnessSum, 0.0);
  run();  // frame 32 opens the next window
  EXPECT_EQ(r_->mSharpnessCount, 1u);
}

TEST_F(PipelineTest, StretchHoldRecomputesOnRequestOnly) {
  Geometry(16, 8, 8);
  std::vector<UInt32> hist(256);
  std::vector<UInt8> lut(256);
  r_->mHistogramR = hist.data();
  r_->mHistogramExpand = 2;
  r_->mStretchLUT = lut.data();
  r_->mStretchRequest = 3;
  std::vector<UInt8> identity(256);
  for (int i = 0; i < 256; i++) identity[i] = UInt8(i);
  for (int frame = 1; frame <= 5; frame++) {
    SCOPED_TRACE(frame);
    lut = identity;
    std::vector<UInt8> f = Ramp8(UInt8(frame * 20));
    myProcessFrame8Bit(r_, f.data(), 0, 0);
    EXPECT_EQ(r_->mStretchRequest, frame <= 3 ? 3 - frame : 0);
    // A recomputed table stretches the ramp; a held one is applied as it is.
    EXPECT_EQ(lut != identity, frame <= 3);
    EXPECT_EQ(r_->mHistogramValid, 1u);
  }
}

TEST_F(PipelineTest, ColourizedPreviewTakesTheTableEntryOfEachSample) {
  std::vector<UInt32> table(256);
  for (UInt32 i = 0; i < 256; i++) {
    const UInt8 bytes[4] = {0xFF, UInt8(i), UInt8(i / 2), UInt8(255 - i)};
    memcpy(&table[i], bytes, 4);
  }
  r_->mColourizeOn = 1;
  memcpy(r_->mColourizeTable, table.data(), sizeof r_->mColourizeTable);
  r_->mRunning = 1;
  std::vector<UInt8> f8 = Ramp8();
  myProcessFrame8Bit(r_, f8.data(), 1, 1);
  const UInt8 want8[4] = {0xFF, f8[5], UInt8(f8[5] / 2), UInt8(255 - f8[5])};
  EXPECT_EQ(memcmp(&preview_[4 * 5], want8, 4), 0);
  // 16 bits: the entry of the high byte.
  r_->mPreviewReady = 0;
  r_->mBitsPerPixel = 16;
  std::vector<UInt16> f16(N(), 0x9A17);
  myProcessFrame16Bit(r_, f16.data(), 2, 1);
  const UInt8 want16[4] = {0xFF, 0x9A, 0x4D, 0x65};
  EXPECT_EQ(memcmp(&preview_[4 * 7], want16, 4), 0);
  EXPECT_EQ(r_->mPreviewReady, 1);
}

// ---------------------------------------------------------------- recording

TEST_F(PipelineTest, PreviewThinningWhileRecording) {
  Recording();
  const struct {
    double fps;
    UInt32 longExposure;
    std::vector<int> shown;
  } kCases[] = {
      {7.5, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {15.0, 0, {3, 6, 9, 12, 15}},
      {30.0, 0, {5, 10, 15}},
      {30.0, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.fps);
    r_->mFrameRate = c.fps;
    r_->mLongExposure = c.longExposure;
    r_->mPreviewSkip8Bit = r_->mPreviewSkip16Bit = 0;
    r_->mRunning = 1;
    std::vector<int> shown8, shown16;
    for (int i = 1; i <= 15; i++) {
      std::vector<UInt8> f8 = Ramp8();
      r_->mBitsPerPixel = 8;
      myProcessFrame8Bit(r_, f8.data(), i, 1);
      if (r_->mFrameTime == i) shown8.push_back(i);
      std::vector<UInt16> f16(N(), 300);
      r_->mBitsPerPixel = 16;
      myProcessFrame16Bit(r_, f16.data(), i + 0.5, 1);
      if (r_->mFrameTime == i + 0.5) shown16.push_back(i);
    }
    EXPECT_EQ(shown8, c.shown);
    EXPECT_EQ(shown16, c.shown);
    EXPECT_EQ(r_->mPreviewReady, 1);
    EXPECT_EQ(r_->mPreviewConverting, 0);
    r_->mPreviewReady = 0;
  }
}

TEST_F(PipelineTest, IntervalRecordingKeepsItsOwnClock) {
  Recording();
  r_->mMovieFrameInterval = 266.66667;
  std::vector<double> next;
  for (int t = 100; t <= 900; t += 100) {
    std::vector<UInt8> f = Ramp8();
    const size_t before = movie_.size();
    myProcessFrame8Bit(r_, f.data(), t, 100);
    if (movie_.size() != before) next.push_back(r_->mRecordNextFrameTime);
  }
  ASSERT_EQ(movie_.size(), 3u);
  EXPECT_EQ(movie_[0].time, 100.0);
  EXPECT_EQ(movie_[1].time, 400.0);
  EXPECT_EQ(movie_[2].time, 700.0);
  EXPECT_NEAR(next[0], 366.67, 0.005);
  EXPECT_NEAR(next[1], 633.33, 0.005);
  EXPECT_NEAR(next[2], 900.0, 0.005);
}

TEST_F(PipelineTest, RecordedFrameCropLimitAndDiskFull) {
  Geometry(640, 4, 8);
  Recording();
  r_->mRecordFirstFrame = 1;
  SkyloomSetUTCTimeSource([] { return 1.0e9; });
  r_->mSoftROIEnabled = r_->mSoftROIActive = 1;
  r_->mSoftROILeft = 10;
  r_->mSoftROITop = 2;
  r_->mSoftROIWidth = 630;
  r_->mSoftROIHeight = 2;
  r_->mRecordFrameLimit = 100;
  r_->mRecordFrameCounter = 101;
  std::vector<UInt8> f(N(), 1);
  myProcessFrame8Bit(r_, f.data(), 5, 5);
  ASSERT_EQ(movie_.size(), 1u);
  EXPECT_EQ(static_cast<const UInt8*>(movie_[0].frame) - f.data(), 1290);
  EXPECT_EQ(r_->mRecordFrameCounter, 100u);
  EXPECT_EQ(r_->mRecordFirstFrame, 0);
  EXPECT_EQ(r_->mRecordStartUTC.lowSeconds, UInt32(1000000000u + kMacEpochToUnixSeconds));
  SkyloomSetUTCTimeSource({});

  std::vector<UInt16> f16(N(), 1);
  myProcessFrame16Bit(r_, f16.data(), 6, 1);
  EXPECT_EQ(static_cast<const UInt8*>(movie_[1].frame) - reinterpret_cast<UInt8*>(f16.data()), 2580);
  EXPECT_EQ(r_->mRecordFrameCounter, 99u);

  // A region reaching past the frame leaves the pointer at the frame.
  r_->mSoftROIWidth = 631;
  myProcessFrame8Bit(r_, f.data(), 7, 1);
  EXPECT_EQ(movie_[2].frame, f.data());

  // No limit counts up; disk full asks the display timer to stop.
  r_->mRecordFrameLimit = 0;
  r_->mRecordFrameCounter = 0;
  gMovieStatus = -34;
  myProcessFrame8Bit(r_, f.data(), 8, 1);
  EXPECT_EQ(r_->mRecordFrameCounter, 1u);
  EXPECT_EQ(r_->mRecordStatus, -34);
  EXPECT_EQ(r_->mRecordStopRequested, 1);
  EXPECT_EQ(r_->mMovieBusy, 0);
}

// ---------------------------------------------------------------- please-wait work

TEST_F(PipelineTest, AverageModeExtendsTheRunForRejectedFrames) {
  r_->mPleezWaitActive = 1;
  r_->mPleezWaitMode = 7;
  r_->mAverageFrameCount = 10;
  r_->mPleezWaitFramesLeft = 10;
  std::vector<UInt32> sums(N(), 0);
  r_->mPleezWaitSum = sums.data();
  ASSERT_EQ(myArmGrabBuffer(r_, 0), noErr);
  r_->mRejectBySharpness = 1;
  r_->mSharpnessReference = 0.0;
  r_->mSharpnessTolerance = 1.0e9;
  Recording();
  UInt32 accepted = 0;
  for (int i = 0; i < 20; i++) {
    SCOPED_TRACE(i);
    const bool reject = i % 3 == 1;
    r_->mSharpnessTolerance = reject ? 0.0 : 1.0e9;
    std::vector<UInt8> f(N(), UInt8(10 + accepted));
    myProcessFrame8Bit(r_, f.data(), i, 1);
    if (!reject) accepted++;
    EXPECT_EQ(r_->mPleezWaitFramesLeft, 10 - accepted);
    EXPECT_EQ(r_->mPleezWaitDone, accepted == 10 ? 1 : 0);
    if (accepted == 10) break;
  }
  EXPECT_EQ(accepted, 10u);
  EXPECT_TRUE(movie_.empty());  // frames of the run are not recorded
  EXPECT_EQ(r_->mPleezWaitProgress, 100);
  EXPECT_EQ(r_->mGrabWanted, 0);
  ASSERT_TRUE(myGrabShouldSave(r_));
  // Mean of 10..19, truncated.
  EXPECT_EQ(static_cast<UInt8*>(r_->mGrabBuffer)[0], 14);
}

TEST_F(PipelineTest, SumModeClampsAndDarkAndFlatProgress) {
  r_->mPleezWaitActive = 1;
  r_->mPleezWaitMode = 8;
  r_->mSumFrameCount = 2;
  r_->mPleezWaitFramesLeft = 2;
  std::vector<UInt32> sums(N(), 0);
  r_->mPleezWaitSum = sums.data();
  ASSERT_EQ(myArmGrabBuffer(r_, 0), noErr);
  std::vector<UInt8> f(N(), 200);
  f[0] = 100;
  myProcessFrame8Bit(r_, f.data(), 1, 1);
  EXPECT_EQ(r_->mPleezWaitProgress, 50);
  f = std::vector<UInt8>(N(), 200);
  f[0] = 20;
  myProcessFrame8Bit(r_, f.data(), 2, 1);
  const auto* grab = static_cast<UInt8*>(r_->mGrabBuffer);
  EXPECT_EQ(grab[0], 120);   // divisor 1
  EXPECT_EQ(grab[1], 255);   // 400, clamped
  EXPECT_EQ(r_->mPleezWaitDone, 1);

  // Flat collection counts down by the flat count.
  std::fill(sums.begin(), sums.end(), 0);
  r_->mPleezWaitMode = 3;
  r_->mPleezWaitDone = 0;
  r_->mFlatFrameCount = 4;
  r_->mPleezWaitFramesLeft = 4;
  const SInt32 kProgress[] = {25, 50, 75, 100};
  for (SInt32 p : kProgress) {
    std::vector<UInt8> g(N(), 3);
    myProcessFrame8Bit(r_, g.data(), 1, 1);
    EXPECT_EQ(r_->mPleezWaitProgress, p);
  }
  EXPECT_EQ(r_->mPleezWaitDone, 1);
  EXPECT_EQ(sums[5], 12u);
}

TEST_F(PipelineTest, TrackingModeEndsAfterSixLostFramesAndFailsOnOtherErrors) {
  Geometry(64, 64, 8);
  std::vector<float> samples(3 * 16);
  r_->mTrackSamples = samples.data();
  r_->mTrackSampleCapacity = 16;
  r_->mPleezWaitActive = 1;
  r_->mPleezWaitMode = 6;
  r_->mPleezWaitFramesLeft = 1000;
  for (int i = 1; i <= 6; i++) {
    std::vector<UInt8> blank(N(), 30);  // nothing to track: the object is lost
    myProcessFrame8Bit(r_, blank.data(), i, 1);
    EXPECT_EQ(r_->mTrackLostCount, UInt32(i));
    EXPECT_EQ(r_->mPleezWaitError, 0);
    EXPECT_EQ(r_->mPleezWaitDone, i == 6 ? 1 : 0);
  }
  r_->mPleezWaitDone = 0;
  r_->mTrackSamples = nullptr;  // the tracker refuses the frame
  std::vector<UInt8> blank(N(), 30);
  myProcessFrame8Bit(r_, blank.data(), 7, 1);
  EXPECT_EQ(r_->mPleezWaitError, paramErr);
  EXPECT_EQ(r_->mTrackLostCount, 0u);
}

TEST_F(PipelineTest, BrightnessMonitorSumsTheAreaAtBothDepths) {
  Geometry(16, 8, 8);
  std::vector<float> values(3), times(3);
  r_->mPleezWaitSum = values.data();
  r_->mTrackSamples = times.data();
  r_->mTrackSampleCapacity = 2;
  r_->mPleezWaitActive = 1;
  r_->mPleezWaitMode = 11;
  r_->mPleezWaitFramesLeft = 100;
  r_->mBrightnessMonitorOn = 1;
  const float area[4] = {2.7f, 1.2f, 3.9f, 2.0f};  // x 2..4, y 1..2
  memcpy(r_->mTrackingArea, area, sizeof area);
  // Sample (x, y) = y x 16 + x.
  std::vector<UInt8> f8(N());
  for (UInt32 i = 0; i < N(); i++) f8[i] = UInt8(i);
  myProcessFrame8Bit(r_, f8.data(), 1000.0, 1);
  const float want = float((18 + 19 + 20) + (34 + 35 + 36));
  EXPECT_EQ(values[0], want);
  EXPECT_EQ(r_->mLastBrightness, want);
  EXPECT_EQ(r_->mBrightnessMin, want);
  EXPECT_EQ(r_->mBrightnessStartTime, 1000.0f);
  EXPECT_EQ(times[0], 0.0f);
  // 16 bits: rows are 2 x width bytes apart.
  std::vector<UInt16> f16(N());
  for (UInt32 i = 0; i < N(); i++) f16[i] = UInt16(i * 100);
  myProcessFrame16Bit(r_, f16.data(), 3500.0, 1);
  EXPECT_EQ(values[1], want * 100);
  EXPECT_EQ(r_->mBrightnessMax, want * 100);
  EXPECT_FLOAT_EQ(times[1], 2.5f);
  EXPECT_FLOAT_EQ(r_->mBrightnessElapsed, 2.5f);
  EXPECT_EQ(r_->mTrackSampleCount, 2u);
  // At capacity the mode ends and nothing more is stored.
  myProcessFrame8Bit(r_, f8.data(), 4000.0, 1);
  EXPECT_EQ(r_->mPleezWaitDone, 1);
  EXPECT_EQ(r_->mTrackSampleCount, 2u);
  EXPECT_EQ(values[2], 0.0f);
}

TEST_F(PipelineTest, WhiteBalanceProgressBases) {
  Geometry(32, 32, 8);
  r_->mBayerFormat = 1;
  r_->mColourSensor = 1;
  r_->mPleezWaitActive = 1;
  const struct {
    UInt32 mode, bits;
    SInt32 progress;
  } kCases[] = {{4, 8, SInt32((83.0 - 49) * 1.6667)},
                {5, 8, SInt32((63.0 - 49) * 1.6667)},
                {5, 16, SInt32((83.0 - 49) * 1.6667)}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.mode << "/" << c.bits);
    r_->mPleezWaitMode = c.mode;
    r_->mPleezWaitFramesLeft = 50;
    r_->mPleezWaitDone = 0;
    r_->mBitsPerPixel = c.bits;
    if (c.bits == 8) {
      std::vector<UInt8> f(N(), 90);
      myProcessFrame8Bit(r_, f.data(), 1, 1);
    } else {
      std::vector<UInt16> f(N(), 90 * 257);
      myProcessFrame16Bit(r_, f.data(), 1, 1);
    }
    EXPECT_EQ(r_->mPleezWaitProgress, c.progress);
    EXPECT_EQ(r_->mPleezWaitFramesLeft, 49u);
  }
}

// ---------------------------------------------------------------- FWHM/HFD switch

void* FailSecond(size_t bytes) {
  static int calls = 0;
  return ++calls % 2 == 0 ? nullptr : malloc(bytes);
}

TEST_F(PipelineTest, FWHMStartAllocatesAndFailsCleanly) {
  ASSERT_EQ(myStartStopFWHMHFD(r_, 1), noErr);
  EXPECT_EQ(r_->mFWHMOn, 1);
  EXPECT_NE(r_->mFWHMPlane, nullptr);
  EXPECT_NE(r_->mFWHMHistogram, nullptr);
  EXPECT_EQ(r_->mFramesToAverage, 8u);
  EXPECT_EQ(r_->mStartX, -1.0f);
  gMyFWHMAllocate = FailSecond;
  EXPECT_EQ(myStartStopFWHMHFD(r_, 1), -108);
  EXPECT_EQ(r_->mFWHMOn, 0);
  EXPECT_EQ(r_->mFWHMPlane, nullptr);
  EXPECT_EQ(r_->mFWHMHistogram, nullptr);
}

// ---------------------------------------------------------------- races of the hand-off

TEST_F(PipelineTest, AGrabFinishedDuringTheCopyIsNeitherFreedNorSaved) {
  for (int where : {kPipelinePauseBeforeGrabCopy, kPipelinePauseInGrabCopy}) {
    SCOPED_TRACE(where);
    ASSERT_EQ(myArmGrabBuffer(r_, 0), noErr);
    Gate gate;
    gate.where = where;
    Gate::current = &gate;
    gMyPipelineTestPausePoint = Gate::Point;
    std::vector<UInt8> f = Ramp8();
    std::thread delivery([&] { myProcessFrame8Bit(r_, f.data(), 1, 1); });
    gate.WaitReached();
    // The camera stops while the pipeline sits in the grab step.
    std::atomic_ref<UInt8>(r_->mGrabCancel).store(1);
    mySetFrameWorkWaitPolls(2);
    const bool freed = myFinishGrab(r_);
    EXPECT_EQ(freed, where == kPipelinePauseBeforeGrabCopy);
    EXPECT_FALSE(myGrabShouldSave(r_));
    gate.released = true;
    delivery.join();
    EXPECT_EQ(r_->mGrabBufferBusy, 0);
    EXPECT_FALSE(myGrabShouldSave(r_));  // never filled for this request
    EXPECT_TRUE(myFinishGrab(r_));
    EXPECT_EQ(r_->mGrabBuffer, nullptr);
    mySetFrameWorkWaitPolls(0);
  }
}

TEST_F(PipelineTest, APreviewConversionBacksOffFromTheDisplayTimer) {
  r_->mRunning = 1;
  Gate gate;
  gate.where = kPipelinePausePreviewCheck;
  Gate::current = &gate;
  gMyPipelineTestPausePoint = Gate::Point;
  std::vector<UInt8> f = Ramp8();
  std::thread delivery([&] { myProcessFrame8Bit(r_, f.data(), 1, 1); });
  gate.WaitReached();
  // The timer enters its step now and sees the conversion under way.
  IncrementAtomic(&r_->mDisplayBusy);
  EXPECT_NE(Load(r_->mPreviewConverting), 0);
  gate.released = true;
  delivery.join();
  DecrementAtomic(&r_->mDisplayBusy);
  EXPECT_EQ(r_->mPreviewConverting, 0);
  EXPECT_EQ(r_->mPreviewReady, 0);  // the frame was not converted
  EXPECT_EQ(preview_[1], 0);
}

TEST_F(PipelineTest, AnFWHMStopKeepsTheBuffersWhileAMeasurementRuns) {
  ASSERT_EQ(myStartStopFWHMHFD(r_, 1), noErr);
  Gate gate;
  gate.where = kPipelinePauseInFWHM;
  Gate::current = &gate;
  gMyPipelineTestPausePoint = Gate::Point;
  std::vector<UInt8> f = Ramp8();
  std::thread delivery([&] { myProcessFrame8Bit(r_, f.data(), 1, 1); });
  gate.WaitReached();
  mySetFrameWorkWaitPolls(1);
  EXPECT_EQ(myStartStopFWHMHFD(r_, 0), noErr);
  EXPECT_EQ(r_->mFWHMOn, 0);
  EXPECT_NE(r_->mFWHMPlane, nullptr);  // kept: the measurement holds it
  gate.released = true;
  delivery.join();
  EXPECT_EQ(r_->mFWHMBusy, 0);
  EXPECT_EQ(myStartStopFWHMHFD(r_, 0), noErr);
  EXPECT_EQ(r_->mFWHMPlane, nullptr);
  EXPECT_EQ(r_->mFWHMHistogram, nullptr);
}

TEST_F(PipelineTest, CalibrationAndPleezWaitBuffersAreKeptWhileAFrameUsesThem) {
  std::vector<UInt8> dark(N(), 1);
  std::vector<float> values(4), times(4);
  const struct {
    int where;
    UInt8* flag;
    SInt32* busy;
  } kCases[] = {{kPipelinePauseInCalibration, &r_->mUseDarkFrame, &r_->mCalibrationBusy},
                {kPipelinePauseInPleezWait, &r_->mPleezWaitActive, &r_->mPleezWaitBusy}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.where);
    r_->mUseDarkFrame = 1;
    r_->mDarkFrame = dark.data();
    r_->mPleezWaitActive = 1;
    r_->mPleezWaitDone = 0;
    r_->mPleezWaitMode = 11;
    r_->mPleezWaitFramesLeft = 10;
    r_->mBrightnessMonitorOn = 1;
    r_->mPleezWaitSum = values.data();
    r_->mTrackSamples = times.data();
    r_->mTrackSampleCapacity = 4;
    r_->mTrackSampleCount = 0;
    Gate gate;
    gate.where = c.where;
    Gate::current = &gate;
    gMyPipelineTestPausePoint = Gate::Point;
    std::vector<UInt8> f = Ramp8();
    std::thread delivery([&] { myProcessFrame8Bit(r_, f.data(), 1, 1); });
    gate.WaitReached();
    mySetFrameWorkWaitPolls(1);
    EXPECT_FALSE(myDisableFrameWork(c.flag, c.busy));  // the frame is inside: keep the buffers
    gate.released = true;
    delivery.join();
    EXPECT_TRUE(myDisableFrameWork(c.flag, c.busy));
    mySetFrameWorkWaitPolls(0);
  }
  // Switched off before the frame looked again: no sample was taken.
  EXPECT_EQ(r_->mTrackSampleCount, 0u);
}

TEST_F(PipelineTest, ARecordingStopWaitsForTheRecorderCall) {
  Recording();
  Gate gate;
  gate.where = kPipelinePauseInRecord;
  Gate::current = &gate;
  gMyPipelineTestPausePoint = Gate::Point;
  std::vector<UInt8> f = Ramp8();
  std::thread delivery([&] { myProcessFrame8Bit(r_, f.data(), 1, 1); });
  gate.WaitReached();
  mySetFrameWorkWaitPolls(1);
  EXPECT_EQ(myDetachMovieFromFrames(r_), nullptr);  // still inside the call
  EXPECT_NE(r_->mMovie, nullptr);
  gate.released = true;
  delivery.join();
  EXPECT_EQ(movie_.size(), 1u);
  EXPECT_EQ(myDetachMovieFromFrames(r_), reinterpret_cast<MyMovieRecorderStruct*>(&fakeMovie_));
  EXPECT_EQ(r_->mMovie, nullptr);
  // No frame reaches the recorder once it is detached.
  myProcessFrame8Bit(r_, f.data(), 2, 1);
  EXPECT_EQ(movie_.size(), 1u);
}

}  // namespace
