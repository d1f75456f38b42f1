// The guide-star centroid and the live FWHM/HFD measurement on hand-made
// frames: the phase machine and the averaging, the choice of search, the
// turbulence limit, the half-flux diameter and the overlay figures. Golden
// numbers come from guide_measure_golden.py beside this file.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/GuideStar.h"
#include "guiding/ScopeControl.h"
#include "tests/support/TestClock.h"

namespace {

constexpr UInt32 kW = 160, kH = 120;
constexpr UInt8 kSky = 20;
const std::string kStamp = "20260307_040506";  // TestClock's start, UTC

using Frame = std::vector<UInt8>;

Frame Sky(UInt32 w = kW, UInt32 h = kH) { return Frame(size_t(w) * h, kSky); }

// A sampled Gaussian star added over the sky (rounded to the nearest level).
void AddStar(Frame& f, UInt32 w, double x0, double y0, double sigma = 2.0, double amp = 150.0) {
  const UInt32 h = UInt32(f.size() / w);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const double v = amp * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2 * sigma * sigma));
      f[size_t(y) * w + x] = UInt8(std::min(255.0, std::floor(f[size_t(y) * w + x] + v + 0.5)));
    }
}
Frame StarFrame(double x0, double y0) {
  Frame f = Sky();
  AddStar(f, kW, x0, y0);
  return f;
}

// The 5 x 5 stars of the golden script (centre 220; 4-neighbours a,
// diagonals b, (2, 0) c, (2, 1) d) whose half-maximum walks measure exactly
// 2.7 and 2.5 pixels.
Frame ShapedStar(UInt32 cx, UInt32 cy, UInt8 a, UInt8 b, UInt8 c, UInt8 d) {
  Frame f = Sky();
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      int lo = std::min(std::abs(dx), std::abs(dy)), hi = std::max(std::abs(dx), std::abs(dy));
      UInt8 v = kSky;
      if (hi == 0) v = 220;
      else if (hi == 1) v = lo == 0 ? a : b;
      else if (lo == 0) v = c;
      else if (lo == 1) v = d;
      f[size_t(cy + dy) * kW + cx + dx] = v;
    }
  return f;
}

class GuideMeasureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    MyCameraWindowDataStruct& r = *record_;
    r.mKind = kMyCameraWindowDataKind;
    r.mBitsPerPixel = 8;
    r.mWidth = kW;
    r.mHeight = kH;
    r.mDisplayFormatItem = 1;
    r.mScopeControlActive = 1;
    r.mFramesToAverage = 1;
    r.mTrackingPhase = 1;
    r.mFullFrameSearch = 1;
    r.mStartX = -1.0f;
    r.mStartY = -1.0f;
    plane_.assign(size_t(kW) * kH * 2 + 64, 0);
    histogram_.assign(260, 0);
    r.mSerial8BitBuffer = plane_.data();
    r.mSerialHistoGramBuffer = histogram_.data();
    fwhmPlane_.assign(size_t(kW) * kH * 2 + 64, 0);
    fwhmHistogram_.assign(256, 0);
    r.mFWHMPlane = fwhmPlane_.data();
    r.mFWHMHistogram = fwhmHistogram_.data();
    block_ = std::make_unique<MCBS>();
    block_->mKind = kMCBSKind;
    block_->mHistoryStart = kMCBSHistoryLength;
    log_ = tmpfile();
    ASSERT_NE(log_, nullptr);
  }
  void TearDown() override {
    gGuideTestPausePoint = nullptr;
    fclose(log_);
  }
  void OpenLog() {
    record_->mGuideLogOpen = 1;
    record_->mpGuideLogFile = log_;
  }
  std::string Log() {
    fflush(log_);
    std::string out;
    rewind(log_);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, log_)) > 0) out.append(buf, n);
    return out;
  }
  // Guiding on, starting position set where the star is, nothing corrected:
  // each hand-off is one call of the correction step, seen as one step of
  // the block's countdown.
  void GuideAt(float x, float y) {
    MyCameraWindowDataStruct& r = *record_;
    r.mGuidingOn = 1;
    r.mpMCBSPtr = block_.get();
    r.mStartX = r.mCurrentX = x;
    r.mStartY = r.mCurrentY = y;
    r.mTrackAccuracy = 0.5f;
  }
  UInt32 CorrectionCalls() const { return kMCBSHistoryLength - block_->mHistoryStart; }
  void Centroid(const Frame& f) { ASSERT_EQ(myGetImageTrackingCentroid(record_.get(), f.data()), noErr); }
  void Focus(const void* f) { ASSERT_EQ(myGetFWHMandHFD(record_.get(), f), noErr); }
  SInt32 Phase() { return std::atomic_ref<SInt32>(record_->mTrackingPhase).load(); }

  TestClock clock_;
  std::unique_ptr<MyCameraWindowDataStruct> record_;
  std::unique_ptr<MCBS> block_;
  std::vector<UInt8> plane_, fwhmPlane_;
  std::vector<UInt32> histogram_, fwhmHistogram_;
  FILE* log_ = nullptr;
};

// ------------------------------------------------------------ phase machine

TEST_F(GuideMeasureTest, NothingIsMeasuredWhilePulsesArePendingAndTheFirstFrameAfterIsSkipped) {
  MyCameraWindowDataStruct& r = *record_;
  r.mFramesToAverage = 3;
  r.mFramesAveraged = 2;
  r.mGuideSumX = r.mGuideSumY = 50.0f;
  r.mGuideSumBoxWidth = r.mGuideSumBoxHeight = 64.0f;
  r.mPulsesPending = 1;
  Centroid(StarFrame(40, 60));
  EXPECT_EQ(r.mGuideSumX, 0.0f);
  EXPECT_EQ(r.mGuideSumY, 0.0f);
  EXPECT_EQ(r.mGuideSumBoxWidth, 0.0f);
  EXPECT_EQ(r.mGuideSumBoxHeight, 0.0f);
  EXPECT_EQ(Phase(), 1);

  // The pulse ends (phase 0): that frame restarts the averaging unmeasured.
  r.mPulsesPending = 0;
  r.mTrackingPhase = 0;
  Centroid(StarFrame(40, 60));
  EXPECT_EQ(Phase(), 1);
  EXPECT_EQ(r.mFramesAveraged, 0u);
  EXPECT_EQ(r.mGuideSumX, 0.0f);

  // A position waiting for calibration (-1) is not overwritten either.
  r.mTrackingPhase = -1;
  r.mStartX = 7.0f;
  Centroid(StarFrame(40, 60));
  EXPECT_EQ(Phase(), -1);
  EXPECT_EQ(r.mStartX, 7.0f);
  EXPECT_EQ(r.mFramesAveraged, 0u);
}

TEST_F(GuideMeasureTest, ThreeFramesAreAveragedAndTheFourthHandsTheirMeanOn) {
  MyCameraWindowDataStruct& r = *record_;
  r.mFramesToAverage = 3;
  const double xs[] = {40, 41, 45};
  for (double x : xs) {
    Centroid(StarFrame(x, 60));
    EXPECT_EQ(Phase(), 1);
  }
  EXPECT_EQ(r.mFramesAveraged, 3u);
  EXPECT_EQ(r.mStartX, -1.0f);
  Centroid(StarFrame(100, 70));  // closes the average, is not part of it
  EXPECT_EQ(Phase(), -1);
  EXPECT_NEAR(r.mStartX, 42.0, 1e-3);
  EXPECT_NEAR(r.mStartY, 60.0, 1e-3);
  EXPECT_EQ(r.mFramesAveraged, 0u);
  EXPECT_EQ(r.mGuideSumX, 0.0f);
}

TEST_F(GuideMeasureTest, OneFrameToAverageHandsOnAtOnce) {
  Centroid(StarFrame(50, 40));
  EXPECT_EQ(Phase(), -1);
  EXPECT_NEAR(record_->mStartX, 50.0, 1e-3);
  EXPECT_NEAR(record_->mStartY, 40.0, 1e-3);
}

TEST_F(GuideMeasureTest, WhileGuidingTheAverageGoesToTheCorrectionStepOnce) {
  MyCameraWindowDataStruct& r = *record_;
  GuideAt(10.0f, 10.0f);  // far off: a correction is due, but no axis is enabled
  r.mFramesToAverage = 3;
  for (double x : {50.0, 52.0, 54.0}) Centroid(StarFrame(x, 60));
  EXPECT_EQ(CorrectionCalls(), 0u);
  EXPECT_EQ(r.mFullFrameSearch, 1);
  Centroid(StarFrame(80, 60));
  EXPECT_EQ(CorrectionCalls(), 1u);
  EXPECT_NEAR(r.mCurrentX, 52.0, 1e-3);
  EXPECT_NEAR(r.mCurrentY, 60.0, 1e-3);
  EXPECT_EQ(r.mStartX, 10.0f);  // the start stays; calibration is not fed
  EXPECT_EQ(r.mFullFrameSearch, 0);
  EXPECT_EQ(Phase(), 0);  // the correction step restarts the averaging
}

TEST_F(GuideMeasureTest, CalibrationFindsThePositionStoredOnceThePhaseReadsMinusOne) {
  static MyCameraWindowDataStruct* record;
  static float seenX;
  static SInt32 seenPhase, seenBusy;
  record = record_.get();
  seenX = 0.0f;
  seenPhase = seenBusy = 0;
  // Calibration's side, at the first moment the phase can read -1.
  gGuideTestPausePoint = [](int where) {
    if (where != kGuidePauseAfterHandOff) return;
    seenPhase = std::atomic_ref<SInt32>(record->mTrackingPhase).load(std::memory_order_acquire);
    seenX = std::atomic_ref<float>(record->mStartX).load(std::memory_order_relaxed);
    seenBusy = std::atomic_ref<SInt32>(record->mGuideBusy).load();
  };
  Centroid(StarFrame(70, 50));
  EXPECT_EQ(seenPhase, -1);
  EXPECT_NEAR(seenX, 70.0, 1e-3);
  EXPECT_EQ(seenBusy, 1);
  EXPECT_EQ(record_->mGuideBusy, 0);
}

TEST_F(GuideMeasureTest, WithoutScopeControlTheCentroidStepReturnsAtOnce) {
  record_->mScopeControlActive = 0;
  record_->mTrackingPhase = 0;
  Centroid(StarFrame(70, 50));
  EXPECT_EQ(Phase(), 0);
  EXPECT_EQ(record_->mGuideBusy, 0);
}

// ------------------------------------------------------------ choice of search

TEST_F(GuideMeasureTest, Thresholds) {
  struct {
    UInt32 p80, p20, limb;
  } limb[] = {{200, 20, 54}, {60, 20, 15}, {255, 0, 76}, {20, 60, 15}};
  for (auto& c : limb) EXPECT_EQ(myGuideLimbThreshold(c.p80, c.p20), c.limb) << c.p80 << " " << c.p20;
  struct {
    UInt32 p9999, p95, p80, star;
  } star[] = {
      {200, 40, 20, 110},   // (p9999 + p80) / 2
      {200, 50, 20, 35},    // p95 - p80 = 30: (p95 + p80) / 2
      {200, 49, 20, 110},   // 29: not yet
      {255, 250, 240, 200}, // at most 200
      {20, 20, 20, 20},
  };
  for (auto& c : star) EXPECT_EQ(myGuideStarThreshold(c.p9999, c.p95, c.p80), c.star) << c.p9999 << " " << c.p95;
}

TEST_F(GuideMeasureTest, LimbTrackingFollowsTheEdgeOfABrightDisc) {
  Frame f = Sky();
  for (UInt32 y = 0; y < kH; ++y)
    for (UInt32 x = 0; x < 90; ++x) f[size_t(y) * kW + x] = 200;
  record_->mLunarSolarTracking = 1;
  Centroid(f);
  EXPECT_EQ(Phase(), -1);
  EXPECT_NEAR(record_->mStartX, 89.5, 1.0);
  EXPECT_NEAR(record_->mStartY, 59.5, 1.0);
}

TEST_F(GuideMeasureTest, NoPixelAboveTheThresholdIsALostFrame) {
  OpenLog();
  record_->mFramesToAverage = 3;
  record_->mFramesAveraged = 1;
  record_->mGuideSumX = 40.0f;
  Centroid(Sky());
  EXPECT_EQ(Log(), "Time\t" + kStamp + " Lost Track of Object(s), trying to re-acquire..\r");
  EXPECT_EQ(Phase(), 1);
  EXPECT_EQ(record_->mStartX, -1.0f);
}

TEST_F(GuideMeasureTest, TheLocalSearchIsUsedOnlyWellInsideTheFrame) {
  MyCameraWindowDataStruct& r = *record_;
  OpenLog();
  r.mEliminateHotPixels = 1;
  r.mFullFrameSearch = 0;
  // Last position 20 px from the left edge: the whole frame is searched.
  r.mCurrentX = 20.0f;
  r.mCurrentY = 60.0f;
  Centroid(StarFrame(110, 60));
  EXPECT_EQ(Phase(), -1);
  EXPECT_NEAR(r.mStartX, 110.0, 1e-3);
  EXPECT_EQ(r.mLostFrames, 0u);
  // 40 px in: the 64 x 64 box around it (8..71) misses the star.
  r.mTrackingPhase = 1;
  r.mCurrentX = 40.0f;
  Centroid(StarFrame(110, 60));
  EXPECT_EQ(r.mLostFrames, 1u);
  EXPECT_EQ(Phase(), 1);
  EXPECT_NE(Log().find("Lost Track"), std::string::npos);
  // Found inside the box: the count of misses clears.
  Centroid(StarFrame(50, 60));
  EXPECT_EQ(r.mLostFrames, 0u);
  EXPECT_NEAR(r.mStartX, 50.0, 1e-3);
  EXPECT_EQ(r.mTrackBoxWidth, 64.0f);
}

TEST_F(GuideMeasureTest, AfterTwiceNMissesTheWholeFrameIsSearched) {
  MyCameraWindowDataStruct& r = *record_;
  OpenLog();
  r.mEliminateHotPixels = 1;
  r.mFullFrameSearch = 0;
  r.mCurrentX = 40.0f;
  r.mCurrentY = 60.0f;
  for (UInt32 miss = 1; miss <= 2; ++miss) {  // N = 1: two misses are tolerated
    Centroid(StarFrame(110, 60));
    EXPECT_EQ(r.mLostFrames, miss);
    EXPECT_EQ(Phase(), 1);
  }
  Centroid(StarFrame(110, 60));
  EXPECT_EQ(Phase(), -1);
  EXPECT_NEAR(r.mStartX, 110.0, 1e-3);
  std::string log = Log();
  size_t lost = 0;
  for (size_t at = log.find("Lost Track"); at != std::string::npos; at = log.find("Lost Track", at + 1)) ++lost;
  EXPECT_EQ(lost, 2u);
}

TEST_F(GuideMeasureTest, Bayer16FramesAreMeasuredOnTheirGreens) {
  MyCameraWindowDataStruct& r = *record_;
  r.mBitsPerPixel = 16;
  r.mColourSensor = 1;
  const Frame f8 = StarFrame(60.0, 50.0);
  for (UInt32 code = 1; code <= 4; ++code) {
    SCOPED_TRACE(code);
    r.mBayerFormat = code;
    r.mTrackingPhase = 1;
    std::vector<UInt16> f16(f8.size());
    for (size_t i = 0; i < f8.size(); ++i) f16[i] = UInt16(f8[i] << 8);  // grey light: every channel alike
    Centroid(std::vector<UInt8>(reinterpret_cast<UInt8*>(f16.data()), reinterpret_cast<UInt8*>(f16.data() + f16.size())));
    EXPECT_EQ(Phase(), -1);
    EXPECT_NEAR(r.mStartX, 60.0, 0.6);
    EXPECT_NEAR(r.mStartY, 50.0, 0.6);
  }
}

// ------------------------------------------------------------ turbulence limit

TEST_F(GuideMeasureTest, FramesBeyondTheTurbulenceLimitAreRejected) {
  MyCameraWindowDataStruct& r = *record_;
  OpenLog();
  GuideAt(80.0f, 60.0f);
  r.mTurbulenceLimit = 1;
  r.mFWHMAveraging = 0;
  r.mFWHMSum = 2.0f;  // the reference: frames above 2.6 are seeing
  Centroid(ShapedStar(80, 60, 121, 121, 101, 119));  // measures 2.7
  EXPECT_EQ(Log(), "Time:\t" + kStamp + "\tFWHM Turbulence 2.700 Exceeded Tolerance 2.600\r");
  EXPECT_EQ(CorrectionCalls(), 0u);
  EXPECT_EQ(Phase(), 1);

  Centroid(ShapedStar(80, 60, 121, 121, 109, 118));  // 2.5: used
  EXPECT_EQ(CorrectionCalls(), 1u);
  EXPECT_EQ(Log().size(), std::string("Time:\t" + kStamp + "\tFWHM Turbulence 2.700 Exceeded Tolerance 2.600\r").size());
}

TEST_F(GuideMeasureTest, TheTurbulenceReferenceIsAveragedFirst) {
  MyCameraWindowDataStruct& r = *record_;
  OpenLog();
  GuideAt(80.0f, 60.0f);
  r.mTurbulenceLimit = 1;
  r.mFWHMAveraging = 1;
  r.mFWHMFrames = 2;
  Centroid(ShapedStar(80, 60, 121, 121, 101, 119));  // 2.7
  r.mTrackingPhase = 1;
  Centroid(ShapedStar(80, 60, 121, 121, 109, 118));  // 2.5
  EXPECT_EQ(r.mFWHMAveraging, 0);
  EXPECT_FLOAT_EQ(r.mFWHMSum, 2.6f);
  EXPECT_EQ(r.mFWHMCount, 2u);
  EXPECT_EQ(Log(), "Time:\t" + kStamp + "\tAverage FWHM Calculated 2.600 pixels\r");
  EXPECT_EQ(CorrectionCalls(), 2u);
}

// ------------------------------------------------------------ FWHM and HFD

class FocusTest : public GuideMeasureTest {
 protected:
  static constexpr UInt32 kSize = 128;
  void SetUp() override {
    GuideMeasureTest::SetUp();
    record_->mWidth = record_->mHeight = kSize;
    record_->mFWHMOn = 1;
    record_->mScopeControlActive = 0;
  }
  static Frame Gaussian(double x0, double y0, double sigma = 2.0) {
    Frame f(size_t(kSize) * kSize, kSky);
    AddStar(f, kSize, x0, y0, sigma, 200.0);
    return f;
  }
};

TEST_F(FocusTest, HalfFluxDiameterOfTheHalfOpenDisc) {
  struct {
    double x0, y0, hfd;
    UInt32 peak;
  } cases[] = {
      {64.0, 64.0, 5.158704, 220},  // not the ideal 4.71: the disc is half-open
      {64.5, 64.5, 5.694608, 208},  // half a pixel off: the disc stays on (64, 64)
  };
  for (auto& c : cases) {
    const Frame f = Gaussian(c.x0, c.y0);
    UInt32 peak = 0;
    EXPECT_NEAR(myCalcHalfFluxDiameter8BitMono(f.data(), kSize, kSize, kSize, c.x0, c.y0, 4.71, kSky, &peak), c.hfd,
                1e-5)
        << c.x0;
    EXPECT_EQ(peak, c.peak);
  }
  // The disc (radius 2.1 x 4.71 = 9.891) must keep more than a pixel from the
  // left and top edges and end inside the frame.
  const Frame f = Gaussian(64.0, 64.0);
  UInt32 peak = 0;
  EXPECT_EQ(myCalcHalfFluxDiameter8BitMono(f.data(), kSize, kSize, kSize, 10.0, 64.0, 4.71, kSky, &peak), -1.0);
  EXPECT_EQ(myCalcHalfFluxDiameter8BitMono(f.data(), kSize, kSize, kSize, 64.0, 119.0, 4.71, kSky, &peak), -1.0);
  EXPECT_GE(myCalcHalfFluxDiameter8BitMono(f.data(), kSize, kSize, kSize, 11.0, 118.0, 4.71, kSky, &peak), 0.0);
  // Nothing above the background: no flux, HFD 0.
  const Frame sky(size_t(kSize) * kSize, kSky);
  EXPECT_EQ(myCalcHalfFluxDiameter8BitMono(sky.data(), kSize, kSize, kSize, 64.0, 64.0, 4.71, kSky, &peak), 0.0);
}

TEST_F(FocusTest, TheFrameFiguresAndTheOverlayOfOneFrame) {
  MyCameraWindowDataStruct& r = *record_;
  r.mFWHM = 9.0f;
  r.mHFD = 8.0f;
  r.mStarPeak = 7.0f;
  Focus(Gaussian(64.0, 64.0).data());
  EXPECT_NEAR(r.mFWHMFound, 4.436667, 1e-4);
  EXPECT_NEAR(r.mHFDFound, 5.380112, 1e-4);
  // One frame to average: the shown figures are this frame's.
  EXPECT_NEAR(r.mFWHM, 4.436667, 1e-4);
  EXPECT_NEAR(r.mHFD, 5.380112, 1e-4);
  EXPECT_EQ(r.mStarPeak, 220.0f);
  EXPECT_EQ(r.mPrevFWHM, 9.0f);
  EXPECT_EQ(r.mPrevHFD, 8.0f);
  EXPECT_EQ(r.mPrevStarPeak, 7.0f);
  EXPECT_NEAR(r.mStartX, 64.0, 1e-3);
  EXPECT_NEAR(r.mStartY, 64.0, 1e-3);
  EXPECT_EQ(r.mFWHMBusy, 0);
}

TEST_F(FocusTest, OverThreeFramesTheFourthPublishesTheAverages) {
  MyCameraWindowDataStruct& r = *record_;
  r.mFramesToAverage = 3;
  r.mFWHM = 9.0f;
  const Frame f = Gaussian(64.0, 64.0);
  for (int i = 0; i < 3; ++i) {
    Focus(f.data());
    EXPECT_EQ(r.mFWHM, 9.0f);
  }
  EXPECT_EQ(r.mFramesAveraged, 3u);
  Focus(f.data());
  EXPECT_EQ(r.mPrevFWHM, 9.0f);
  EXPECT_NEAR(r.mFWHM, 4.436667, 1e-4);
  EXPECT_NEAR(r.mHFD, 5.380112, 1e-4);
  EXPECT_EQ(r.mStarPeak, 220.0f);
  EXPECT_EQ(r.mFramesAveraged, 0u);
  EXPECT_EQ(r.mFWHMRunningSum, 0.0f);
}

TEST_F(FocusTest, StarsTooNearAnEdgeLeaveTheOverlayAlone) {
  MyCameraWindowDataStruct& r = *record_;
  struct {
    const char* what;
    double x0, y0, sigma;
  } cases[] = {
      {"15 px from the left edge", 15.0, 64.0, 2.0},
      {"15 px from the bottom", 64.0, 113.0, 2.0},
      {"a disc wider than its distance to the edge", 20.0, 64.0, 4.0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    r.mFWHMFound = 3.0f;
    r.mHFDFound = 3.0f;
    r.mFWHM = 9.0f;
    r.mPrevFWHM = 8.0f;
    r.mStartX = -1.0f;
    Focus(Gaussian(c.x0, c.y0, c.sigma).data());
    EXPECT_EQ(r.mFWHMFound, 0.0f);
    EXPECT_EQ(r.mFWHM, 9.0f);
    EXPECT_EQ(r.mPrevFWHM, 8.0f);
    EXPECT_EQ(r.mStartX, -1.0f);
  }
}

TEST_F(FocusTest, SwitchedOffTheMeasurementTouchesNothing) {
  MyCameraWindowDataStruct& r = *record_;
  r.mFWHMOn = 0;
  r.mFWHMFound = -1.0f;
  Focus(Gaussian(64.0, 64.0).data());
  EXPECT_EQ(r.mFWHMFound, -1.0f);
  EXPECT_EQ(r.mFWHMBusy, 0);
  r.mFWHMOn = 1;
  r.mFWHMPlane = nullptr;  // freed by the main thread: nothing to use
  Focus(Gaussian(64.0, 64.0).data());
  EXPECT_EQ(r.mFWHMFound, -1.0f);
}

}  // namespace
