// The please-wait modes on the simulated camera: frames delivered while the
// modal loop runs, the display timer ending the loop, and each mode's result
// or abandonment, with a scripted Stop for the modes that run until stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/FramePipeline.h"
#include "app/PleezWait.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "pixel/BayerWhiteBalance.h"
#include "pixel/FlatField.h"
#include "pixel/live/WhiteBalanceStep.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "tests/app/DisplayTimerHarness.h"

namespace {

namespace ui = skyloom::ui;

std::atomic<int> gAllocations{0};
std::atomic<int> gFailAt{0};
void* FailingAllocate(size_t bytes) {
  if (++gAllocations == gFailAt) return nullptr;
  return malloc(bytes);
}

class PleezWaitTest : public DisplayTimerHarness {
 protected:
  void TearDown() override {
    if (record_) {  // calibration frames live until the camera closes
      free(record_->mDarkFrame);
      free(record_->mFlatFrame);
      record_->mDarkFrame = record_->mFlatFrame = nullptr;
    }
    DisplayTimerHarness::TearDown();
    gMyPleezWaitAllocate = nullptr;
  }
  MyCameraWindowDataStruct* Running(const SimCameraPersonality& p = SimUSBPersonality()) {
    MyCameraWindowDataStruct* r = Open(p);
    EXPECT_EQ(StartCamera(-1, false), noErr);
    SaveToFolder();
    return r;
  }
  double frameTime_ = 0.0;
  void Deliver(UInt32 id) {
    std::vector<UInt8> f = Reference(id);
    frameTime_ += 33.3;
    myDisplayCallback(record_->mWidth, record_->mHeight, UInt32(f.size()), f.data(), record_, 33.3, frameTime_);
  }
  // Frames first..first+count-1 delivered while the window is up, then time
  // for the display timer to see the run done.
  ui::ScriptedUser& Frames(ui::ScriptedUser& user, UInt32 first, UInt32 count) {
    return user.Do([this, first, count] {
      for (UInt32 i = 0; i < count; i++) Deliver(first + i);
    });
  }
  std::vector<std::string> Files(const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(saveFolder_)) {
      const std::string n = e.path().filename().string();
      if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(n);
    }
    return out;
  }
  std::string StatusText() {
    return ui::ControlText(ui::FindControl(record_->mPleezWaitWindow, FOUR_CHAR_CODE("STTX"), 0));
  }
  static void ExpectIdle(const MyCameraWindowDataStruct* r) {
    EXPECT_EQ(r->mPleezWaitActive, 0);
    EXPECT_EQ(r->mPleezWaitWindow, nullptr);
    EXPECT_EQ(r->mPleezWaitSum, nullptr);
    EXPECT_EQ(r->mTrackSamples, nullptr);
    EXPECT_EQ(r->mPleezWaitBusy, 0);
    EXPECT_EQ(ui::FindWindow("PleezWait"), nullptr);
    EXPECT_EQ(ui::FindWindow("PleezWaitTwo"), nullptr);
  }
};

TEST_F(PleezWaitTest, TheSharpnessReferenceIsTheMeanAndTheStretchComesBackWithThreeRequests) {
  MyCameraWindowDataStruct* r = Running();
  r->mSharpFrameCount = 4;
  r->mSkipSharpnessPercent = 50.0;
  r->mHistogramExpand = 2;
  r->mRejectBySharpness = 1;
  ui::ScriptedUser user;
  user.Do([&] {
    EXPECT_EQ(ui::WindowTitle(ui::FindWindow("PleezWait")), "Measuring the reference sharpness...");
    EXPECT_EQ(r->mRejectBySharpness, 0);
  });
  Frames(user, 1, 4).Wait(0.5);
  myDoPleezWait(r, 1);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(r->mSharpnessAvailable, 1);
  EXPECT_GT(r->mSharpnessReference, 0.0);
  EXPECT_DOUBLE_EQ(r->mSharpnessTolerance, r->mSharpnessReference * 50.0 * 0.01);
  EXPECT_EQ(r->mHistogramExpand, 2);
  EXPECT_EQ(r->mStretchRequest, 3);
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, StopInALimitedModeAbandonsTheRun) {
  MyCameraWindowDataStruct* r = Running();
  r->mSharpFrameCount = 50;
  r->mHistogramExpand = 1;
  ui::ScriptedUser user;
  Frames(user, 1, 2).Click(FOUR_CHAR_CODE("clos"), 0);
  myDoPleezWait(r, 1);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mPleezWaitError, userCanceledErr);
  EXPECT_EQ(r->mSharpnessAvailable, 0);
  EXPECT_EQ(r->mHistogramExpand, 1);
  EXPECT_EQ(r->mStretchRequest, 0);
  EXPECT_TRUE(ui::Alerts().empty());
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, ADarkFrameIsTheTruncatedAverageAndReplacesTheOldOne) {
  MyCameraWindowDataStruct* r = Running();
  r->mDarkFrameCount = 2;
  r->mDarkFrame = malloc(16);
  r->mUseDarkFrame = 1;
  r->mDarkFrameAvailable = 1;
  ui::ScriptedUser user;
  user.Do([&] { EXPECT_EQ(r->mUseDarkFrame, 0); });
  Frames(user, 3, 2).Wait(0.5);
  myDoPleezWait(r, 2);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(r->mDarkFrameAvailable, 1);
  ASSERT_NE(r->mDarkFrame, nullptr);
  const std::vector<UInt8> a = Reference(3), b = Reference(4);
  const auto* dark = static_cast<const UInt8*>(r->mDarkFrame);
  for (size_t i : {size_t(0), size_t(1), size_t(1000), a.size() / 2, a.size() - 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(dark[i], (a[i] + b[i]) / 2);
  }
  EXPECT_EQ(r->mUseDarkFrame, 0);
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, AFlatFrameBuildsFactorsOfTheAverage) {
  MyCameraWindowDataStruct* r = Running(SimMonoPersonality());
  r->mFlatFrameCount = 3;
  ui::ScriptedUser user;
  Frames(user, 1, 3).Wait(0.5);
  myDoPleezWait(r, 3);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(r->mFlatFrameAvailable, 1);
  ASSERT_NE(r->mFlatFrame, nullptr);
  // Flattening a frame of the flat's level leaves it about level.
  const auto* f = static_cast<const Fixed*>(r->mFlatFrame);
  EXPECT_GT(f[r->mWidth * 10 + 10], 0);
  ExpectIdle(r);
}

// A colour flat keeps the colour balance: each factor is the mean of the
// pixel's own colour over the pixel, so flattening the flat leaves every red,
// every green and every blue sample at its colour's mean, whatever the
// pattern the user chose.
TEST_F(PleezWaitTest, AColourFlatFrameBuildsFactorsPerColour) {
  MyCameraWindowDataStruct* r = Running(SimWhiteBalanceColourPersonality());
  ASSERT_EQ(r->mBitsPerPixel, 8u);
  r->mColourSensor = 1;
  const UInt32 w = r->mWidth, h = r->mHeight;
  // Four different levels in the 2 x 2 cell, fading towards the right as a
  // vignetted flat does.
  const double cell[4] = {200.0, 120.0, 90.0, 50.0};
  std::vector<UInt8> flat(size_t(w) * h);
  for (UInt32 y = 0; y < h; y++)
    for (UInt32 x = 0; x < w; x++)
      flat[size_t(y) * w + x] = UInt8(cell[(y % 2) * 2 + x % 2] * (1.0 - 0.4 * x / w));
  // The colour of each cell position, rows 0 and 1, for each pattern code.
  struct Case {
    UInt32 bayer;
    const char* pattern;
  } cases[] = {{1, "RGGB"}, {2, "GBRG"}, {3, "GRBG"}, {4, "BGGR"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    r->mBayerFormat = c.bayer;
    r->mFlatFrameCount = 2;
    ui::ScriptedUser user;
    user.Do([&] {
      for (int i = 0; i < 2; i++) {
        std::vector<UInt8> f = flat;
        frameTime_ += 33.3;
        myDisplayCallback(w, h, UInt32(f.size()), f.data(), r, 33.3, frameTime_);
      }
    }).Wait(0.5);
    myDoPleezWait(r, 3);
    EXPECT_TRUE(user.Errors().empty());
    ASSERT_EQ(r->mFlatFrameAvailable, 1);
    ASSERT_NE(r->mFlatFrame, nullptr);
    ExpectIdle(r);

    double sum[3] = {0, 0, 0};
    size_t count[3] = {0, 0, 0};
    auto colour = [&](UInt32 x, UInt32 y) {
      const char k = c.pattern[(y % 2) * 2 + x % 2];
      return k == 'R' ? 0 : k == 'G' ? 1 : 2;
    };
    for (UInt32 y = 0; y < h; y++)
      for (UInt32 x = 0; x < w; x++) {
        sum[colour(x, y)] += flat[size_t(y) * w + x];
        count[colour(x, y)]++;
      }
    std::vector<UInt8> flattened = flat;
    myFlattenFrame8Bit(flattened.data(), static_cast<const FlattenedFrame8Bit*>(r->mFlatFrame), w * h, 0, 0);
    int worst = 0;
    for (UInt32 y = 0; y < h; y += 7)
      for (UInt32 x = 0; x < w; x += 3) {
        const int k = colour(x, y);
        const int expected = int(sum[k] / double(count[k]));
        worst = std::max(worst, std::abs(int(flattened[size_t(y) * w + x]) - expected));
      }
    EXPECT_LE(worst, 1);
  }
}

TEST_F(PleezWaitTest, WhiteBalanceStartsBothHalvesMidRangeUnstretchedAndStopLeavesThem) {
  MyCameraWindowDataStruct* r = Running(SimWhiteBalanceColourPersonality());
  UInt32 lo = 0, hi = 0;
  UInt8 b1, b2, b3, b4, b5;
  ASSERT_EQ(ORXDCAMGetPropertyCapability(r->mCameraHandle, kMyWhiteBalanceFeature, &lo, &hi, &b1, &b2, &b3, &b4, &b5),
            noErr);
  const UInt32 middle = (lo + 1) + ((hi - 1) - (lo + 1)) / 2;
  r->mHistogramExpand = 2;
  for (UInt32 mode : {4u, 5u}) {
    SCOPED_TRACE(mode);
    ui::ScriptedUser user;
    user.Do([&] {
      UInt32 red = 0, blue = 0;
      ORXDCAMGetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, &red);
      ORXDCAMGetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorUB, &blue);
      EXPECT_EQ(red, middle);
      EXPECT_EQ(blue, middle);
      EXPECT_EQ(r->mRedBalanceLower, lo + 1);
      EXPECT_EQ(r->mRedBalanceUpper, hi - 1);
      EXPECT_EQ(r->mHistogramExpand, 0);
      EXPECT_EQ(r->mWhiteBalanceRunning, 1);
    });
    user.Click(FOUR_CHAR_CODE("clos"), 0);
    myDoPleezWait(r, mode);
    EXPECT_TRUE(user.Errors().empty());
    UInt32 red = 0;
    ORXDCAMGetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, &red);
    EXPECT_EQ(red, middle);  // the last trial value stays
    EXPECT_EQ(r->mHistogramExpand, 2);
    EXPECT_EQ(r->mStretchRequest, 3);
  }
}

// A full white balance over frames that do not follow the camera: the half
// whose colour already matches the target is done at the first measurement
// and keeps its trial value (its slider refreshed from the camera); a half
// that never balances gets back the value it had before the run, as do both
// halves when the frames cannot be measured (no Bayer pattern).
TEST_F(PleezWaitTest, AFullWhiteBalanceRestoresTheHalvesThatDidNotBalance) {
  MyCameraWindowDataStruct* r = Running(SimWhiteBalanceColourPersonality());
  // The camera does not name its pattern; the user chose RGGB.
  r->mBayerFormat = 1;
  ASSERT_EQ(r->mBitsPerPixel, 8u);
  UInt32 lo = 0, hi = 0;
  UInt8 b1, b2, b3, b4, b5;
  ASSERT_EQ(ORXDCAMGetPropertyCapability(r->mCameraHandle, kMyWhiteBalanceFeature, &lo, &hi, &b1, &b2, &b3, &b4, &b5),
            noErr);
  const UInt32 middle = (lo + 1) + ((hi - 1) - (lo + 1)) / 2;
  const UInt32 w = r->mWidth, h = r->mHeight;
  // The position in the 2 x 2 cell of each colour, found with the averages
  // the pipeline uses.
  const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(r->mBayerFormat);
  auto cellFrame = [&](const UInt8 cell[4]) {
    std::vector<UInt8> f(size_t(w) * h);
    for (UInt32 y = 0; y < h; y++)
      for (UInt32 x = 0; x < w; x++) f[size_t(y) * w + x] = cell[(y % 2) * 2 + x % 2];
    return f;
  };
  auto measure = [&](const std::vector<UInt8>& f, UInt8* R, UInt8* G, UInt8* B) {
    if (choice.family == kMyBayerFamilyRGGB)
      myGetBayerRGGBAverages8Bit(f.data(), w, h, choice.startRowFlag, R, G, B);
    else
      myGetBayerBGGRBAverages8Bit(f.data(), w, h, choice.startRowFlag, R, G, B);
  };
  int redAt = -1, blueAt = -1;
  for (int p = 0; p < 4; p++) {
    UInt8 cell[4] = {100, 100, 100, 100};
    cell[p] = 200;
    UInt8 R = 0, G = 0, B = 0;
    measure(cellFrame(cell), &R, &G, &B);
    if (R > 150) redAt = p;
    if (B > 150) blueAt = p;
  }
  ASSERT_GE(redAt, 0);
  ASSERT_GE(blueAt, 0);
  r->mBalanceColour = RGBColor{65535, 65535, 65535};  // white: red and blue at the green level

  struct Case {
    const char* what;
    UInt32 bayer;
    UInt8 red, blue;  // the frame's red and blue level; green is 100
    bool redBalances, blueBalances;
  };
  const Case cases[] = {
      {"red matches, blue never does", 1, 100, 200, true, false},
      {"blue matches, red never does", 1, 30, 105, false, true},
      {"neither matches", 1, 200, 20, false, false},
      {"no pattern: nothing measured", 0, 100, 100, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r->mBayerFormat = c.bayer;
    r->mBalanceR = r->mBalanceG = r->mBalanceB = 0;
    const UInt32 startRed = 600, startBlue = 300;
    ASSERT_EQ(ORXDCAMSetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, startRed),
              noErr);
    ASSERT_EQ(ORXDCAMSetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorUB, startBlue),
              noErr);
    UInt8 cell[4] = {100, 100, 100, 100};
    cell[redAt] = c.red;
    cell[blueAt] = c.blue;
    std::vector<UInt8> frame = cellFrame(cell);
    ui::ScriptedUser user;
    user.Do([&] {
      for (UInt32 i = 0; i < 83; i++) {
        frameTime_ += 33.3;
        myDisplayCallback(w, h, UInt32(frame.size()), frame.data(), r, 33.3, frameTime_);
      }
    }).Wait(0.5);
    myDoPleezWait(r, 4);
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(r->mPleezWaitError, 0);
    EXPECT_EQ(r->mWhiteBalanceRunning, 0);
    UInt32 red = 0, blue = 0;
    ORXDCAMGetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorVR, &red);
    ORXDCAMGetPropertyValue(r->mCameraHandle, kMyWhiteBalanceFeature, kMyWhiteBalanceSelectorUB, &blue);
    // A balanced half was done at the first measurement, still at the middle.
    EXPECT_EQ(red, c.redBalances ? middle : startRed);
    EXPECT_EQ(blue, c.blueBalances ? middle : startBlue);
    if (c.redBalances) {
      EXPECT_EQ(GetControl32BitValue(ui::FindControl(r->mControlWindow, FOUR_CHAR_CODE("VorR"), 0)), SInt32(middle));
    }
    if (c.blueBalances) {
      EXPECT_EQ(GetControl32BitValue(ui::FindControl(r->mControlWindow, FOUR_CHAR_CODE("UorB"), 0)), SInt32(middle));
    }
    ExpectIdle(r);
  }
}

TEST_F(PleezWaitTest, AnAverageIsSavedAsAGrabAndStopDiscardsIt) {
  MyCameraWindowDataStruct* r = Running();
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  r->mAverageFrameCount = 3;
  {
    ui::ScriptedUser user;
    Frames(user, 1, 3).Wait(0.5);
    myDoPleezWait(r, 7);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(Files(".tiff").size() + Files(".tif").size(), 1u);
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabsInFlight, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  ExpectIdle(r);

  r->mAverageFrameCount = 50;
  {
    ui::ScriptedUser user;
    Frames(user, 1, 2).Do([&] {
      EXPECT_NE(ui::ControlTitle(Control(FOUR_CHAR_CODE("GRFR"))), "Grab Frame");
    });
    user.Click(FOUR_CHAR_CODE("clos"), 0);
    myDoPleezWait(r, 7);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(Files(".tiff").size() + Files(".tif").size(), 1u);
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabsInFlight, 0);
  EXPECT_EQ(r->mGrabBufferBusy, 0);
  EXPECT_EQ(r->mGrabWanted, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_EQ(ui::ControlTitle(Control(FOUR_CHAR_CODE("GRFR"))), "Grab Frame");
  EXPECT_TRUE(ui::Alerts().empty());
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, StopInAnAlignedAverageSavesTheResult) {
  MyCameraWindowDataStruct* r = Running();
  r->mSaveFileType = FOUR_CHAR_CODE("PNGf");
  ui::ScriptedUser user;
  Frames(user, 1, 4).Wait(0.1).Do([&] {
    EXPECT_EQ(StatusText(), "# Frames: " + std::to_string(r->mAlignedFrameCount));
  });
  user.Click(FOUR_CHAR_CODE("clos"), 0);
  myDoPleezWait(r, 9);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(Files(".tiff").size() + Files(".tif").size(), 1u);
  EXPECT_EQ(r->mSaveFileType, FOUR_CHAR_CODE("PNGf"));
  EXPECT_EQ(r->mAlignCaptureOpen, 0);
  ExpectIdle(r);
}

// The sum modes: a sum of a fixed count is saved as a grab and a Stop
// discards it (mode 8); an aligned sum runs until Stop and then saves its
// TIFF (mode 10).
TEST_F(PleezWaitTest, SumsAreSavedOrDiscardedByMode) {
  MyCameraWindowDataStruct* r = Running();
  r->mSaveFileType = FOUR_CHAR_CODE("PNGf");
  struct Case {
    const char* what;
    UInt32 mode, count;
    bool stop;
    size_t tiffs;  // TIFF files in the folder afterwards
  };
  const Case cases[] = {
      {"sum of 3", 8, 3, false, 0},  // saved as a grab in the save type
      {"sum stopped", 8, 50, true, 0},
      {"aligned sum stopped", 10, 0, true, 1},
  };
  size_t pngs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r->mSumFrameCount = c.count;
    {
      ui::ScriptedUser user;
      Frames(user, 1, c.stop ? 3 : c.count).Wait(0.5);
      if (c.mode == 10) user.Do([&] { EXPECT_EQ(StatusText(), "# Frames: " + std::to_string(r->mAlignedFrameCount)); });
      if (c.stop) user.Click(FOUR_CHAR_CODE("clos"), 0);
      myDoPleezWait(r, c.mode);
      EXPECT_TRUE(user.Errors().empty());
    }
    if (c.mode == 8 && !c.stop) pngs++;
    EXPECT_EQ(Files(".png").size(), pngs);
    EXPECT_EQ(Files(".tiff").size() + Files(".tif").size(), c.tiffs);
    EXPECT_EQ(r->mSaveFileType, FOUR_CHAR_CODE("PNGf"));
    EXPECT_EQ(r->mGrabPending, 0);
    EXPECT_EQ(r->mGrabsInFlight, 0);
    EXPECT_EQ(r->mGrabBufferBusy, 0);
    EXPECT_EQ(r->mGrabBuffer, nullptr);
    EXPECT_EQ(r->mAlignCaptureOpen, 0);
    EXPECT_TRUE(ui::Alerts().empty());
    ExpectIdle(r);
  }
}

// The RA/Dec motion record follows a bright spot that starts at the frame's
// centre: the status shows its path from the first position (Y growing
// upwards), and the track is written when the user stops the run or when the
// object has been lost for more than five frames in a row.
TEST_F(PleezWaitTest, TheMotionRecordFollowsTheObjectAndWritesItsTrack) {
  MyCameraWindowDataStruct* r = Running();
  ASSERT_EQ(r->mBitsPerPixel, 8u);
  r->mExposureMS = 1000.0;  // a sample every frame, no averaging
  r->mHistogramExpand = 2;
  const UInt32 w = r->mWidth, h = r->mHeight;
  // A Gaussian spot on a dark sky, `k` frames into its drift of 2 pixels
  // right and 1 down a frame; lost: the sky alone.
  auto spotFrame = [&](int k, bool lost) {
    std::vector<UInt8> f(size_t(w) * h, 10);
    if (lost) return f;
    const double cx = w / 2 + 2.0 * k, cy = h / 2 + 1.0 * k;
    for (int y = int(cy) - 8; y <= int(cy) + 8; y++)
      for (int x = int(cx) - 8; x <= int(cx) + 8; x++) {
        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        f[size_t(y) * w + size_t(x)] = UInt8(10 + 240 * std::exp(-d2 / (2 * 1.5 * 1.5)));
      }
    return f;
  };
  auto deliver = [&](int k, bool lost) {
    std::vector<UInt8> f = spotFrame(k, lost);
    frameTime_ += 1000.0;
    myDisplayCallback(w, h, UInt32(f.size()), f.data(), r, 1000.0, frameTime_);
  };
  const std::string track = saveFolder_ + "/RA-Dec Track.txt";
  struct Case {
    const char* what;
    int frames, lost;
    bool stop;
    const char* lastRow;  // X and Y of the last sample in the track
  } cases[] = {
      {"stopped by the user", 5, 0, true, "\t8.00\t-4.00\r"},
      {"object lost for six frames", 3, 6, false, "\t4.00\t-2.00\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(track);
    ui::ScriptedUser user;
    user.Do([&] {
      EXPECT_EQ(ui::WindowTitle(ui::FindWindow("PleezWait")), "Recording the RA/Dec motion...");
      for (int k = 0; k < c.frames; k++) deliver(k, false);
    });
    if (c.stop) {
      user.Wait(0.1).Do([&] {
        const std::string text = StatusText();
        EXPECT_TRUE(std::regex_match(text, std::regex("T: [0-9]+\\.[0-9]  X:8\\.0 Y:-4\\.0"))) << text;
        EXPECT_EQ(r->mTrackSampleCount, 5u);
        EXPECT_EQ(r->mPleezWaitDone, 0);
      });
      user.Click(FOUR_CHAR_CODE("clos"), 0);
    } else {
      user.Do([&] {
        for (int k = 0; k < c.lost; k++) deliver(c.frames + k, true);
        EXPECT_EQ(r->mPleezWaitDone, 1);  // ends by itself
        EXPECT_EQ(r->mPleezWaitError, 0);
      }).Wait(0.5);
    }
    skyloom::nav::SaveInto(user, saveFolder_);
    myDoPleezWait(r, 6);
    EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
    EXPECT_TRUE(ui::Alerts().empty());
    EXPECT_EQ(r->mTrackingAnalysisOn, 0);
    EXPECT_EQ(r->mHistogramExpand, 2);
    EXPECT_EQ(r->mStretchRequest, 3);
    ExpectIdle(r);
    std::ifstream in(track, std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream text;
    text << in.rdbuf();
    const std::string body = text.str();
    // Three heading lines, then a row a sample.
    EXPECT_EQ(std::count(body.begin(), body.end(), '\r'), 3 + c.frames);
    EXPECT_NE(body.find("Starting X:\t" + std::to_string(w / 2) + ".0"), std::string::npos) << body;
    const std::string last = c.lastRow;
    ASSERT_GE(body.size(), last.size());
    EXPECT_EQ(body.substr(body.size() - last.size()), last) << body;
  }

  // Without room for its samples the run does not start.
  gAllocations = 0;
  gFailAt = 1;
  gMyPleezWaitAllocate = FailingAllocate;
  ui::ScriptedUser user;
  user.AnswerAlert();
  myDoPleezWait(r, 6);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts().back().message, "myDoPleezWait() error 0x002");
  EXPECT_EQ(r->mHistogramExpand, 2);
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, TheBrightnessAreaIsClampedToTheFrame) {
  struct Case {
    float centreX;
    float left, width;
  } cases[] = {{50.0f, 0.0f, 200.0f}, {620.0f, 520.0f, 120.0f}, {320.0f, 220.0f, 200.0f}, {700.0f, 600.0f, 40.0f}, {900.0f, 638.0f, 2.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.centreX);
    float area[4];
    myBrightnessMonitorArea(c.centreX, 240.0f, 200, 200, 640, 480, area);
    EXPECT_EQ(area[0], c.left);
    EXPECT_EQ(area[2], c.width);
    EXPECT_EQ(area[1], 140.0f);
    EXPECT_EQ(area[3], 200.0f);
  }
}

TEST_F(PleezWaitTest, TheBrightnessMonitorSamplesUntilStoppedAndExportsItsValues) {
  MyCameraWindowDataStruct* r = Running();
  r->mBrightnessAreaX = 320.0f;
  r->mBrightnessAreaY = 240.0f;
  r->mBrightnessAreaWidth = r->mBrightnessAreaHeight = 100;
  ui::ScriptedUser user;
  Frames(user, 1, 5).Wait(0.1).Do([&] {
    EXPECT_EQ(r->mTrackSampleCount, 5u);
    EXPECT_NE(r->mBrightnessGraphTimer, nullptr);
    EXPECT_EQ(StatusText().rfind("T: ", 0), 0u);
    EXPECT_NE(StatusText().find("#:5"), std::string::npos);
  });
  user.Click(FOUR_CHAR_CODE("clos"), 0);
  skyloom::nav::SaveInto(user, saveFolder_);
  myDoPleezWait(r, 11);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(Files("BrightnessValues.txt").size(), 1u);
  EXPECT_EQ(r->mBrightnessGraphTimer, nullptr);
  EXPECT_EQ(r->mBrightnessMonitorOn, 0);
  ExpectIdle(r);
}

TEST_F(PleezWaitTest, AFailedAllocationOfTheBrightnessMonitorFreesAndRestores) {
  MyCameraWindowDataStruct* r = Running();
  r->mHistogramExpand = 2;
  for (int nth : {1, 2}) {
    SCOPED_TRACE(nth);
    const size_t alerts = ui::Alerts().size();
    gAllocations = 0;
    gFailAt = nth;
    gMyPleezWaitAllocate = FailingAllocate;
    ui::ScriptedUser user;
    user.AnswerAlert();
    myDoPleezWait(r, 11);
    EXPECT_TRUE(user.Errors().empty());
    ASSERT_EQ(ui::Alerts().size(), alerts + 1);
    EXPECT_EQ(ui::Alerts().back().message, "myDoPleezWait() error 0x002");
    EXPECT_EQ(r->mHistogramExpand, 2);
    EXPECT_EQ(r->mStretchRequest, 3);
    EXPECT_EQ(r->mBrightnessGraphTimer, nullptr);
    ExpectIdle(r);
  }
}

}  // namespace
