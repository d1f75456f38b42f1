// A running simulated camera end to end: frames on the driver's delivery
// thread, the display timer on the main event loop drawing them, saving a
// grab and ending a limited recording, checked with the outside readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FrameGrabs.h"
#include "app/LongExposure.h"
#include "app/FramePipeline.h"
#include "app/PleezWait.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/iokit/IOFireWireLib.h"
#include "tests/app/DisplayTimerHarness.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestFiles.h"

namespace {

namespace ui = skyloom::ui;

class CameraEndToEnd : public DisplayTimerHarness {
 protected:
  // Sends frames on the stepped clock, letting the event loop (and so the
  // display timer) run after each, until done() or the count runs out.
  template <typename Done>
  int Pump(int most, Done done) {
    int sent = 0;
    while (sent < most && !done()) {
      if (Camera().Stream().StepBulkFrames(1) != 1) break;
      sent++;
      RunCurrentEventLoop(0.03);
    }
    return sent;
  }
  std::string Only(const std::string& suffix) {
    std::string found;
    for (const auto& e : std::filesystem::directory_iterator(saveFolder_)) {
      const std::string n = e.path().filename().string();
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) found = n;
    }
    return found;
  }
  std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(CameraEndToEnd, FramesAreDrawnAGrabIsSavedAndALimitedRecordingEnds) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  Camera().Stream().SetClock(SimClock::Stepped);
  ASSERT_EQ(StartCamera(-1, true), noErr);
  SaveToFolder();
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  r->mFileNaming = 3;
  r->mCaptureLogOn = 1;
  r->mShowTimeCode = 1;

  // The preview is drawn.
  EXPECT_EQ(Pump(5, [] { return false; }), 5);
  RunCurrentEventLoop(0.05);
  EXPECT_NE(std::atomic_ref<double>(r->mFrameTime).load(), 0.0);
  EXPECT_EQ(std::atomic_ref<SInt32>(r->mPreviewReady).load(), 0);  // the newest frame was drawn
  {
    // "VideoWindow" shows the scene: rendered to a PNG that pngcheck reads,
    // grey pixels at the levels of one of the frames sent.
    ASSERT_NE(r->mVideoWindow, nullptr);
    CGrafPtr port = GetWindowPort(r->mVideoWindow);
    const std::string dir = std::string(SKYLOOM_BINARY_DIR) + "/test_artifacts";
    std::filesystem::create_directories(dir);
    const std::string png = dir + "/video_window_end_to_end.png";
    ASSERT_EQ(SkyloomWritePortPNG(port, png.c_str()), noErr);
    ASSERT_TRUE(skyloom::test::ToolInstalled("pngcheck"));
    int status = -1;
    const std::string out = skyloom::test::Run("pngcheck " + png, &status);
    EXPECT_EQ(status, 0) << out;
    // Points of a grid (mostly sky) and the frame's star pixels.
    bool shown = false;
    for (UInt32 id = 0; id <= 6 && !shown; id++) {
      const std::vector<UInt8> f = Reference(id);
      std::vector<size_t> points;
      for (size_t y = 40; y < 440; y += 50)
        for (size_t x = 40; x < 600; x += 70) points.push_back(y * r->mWidth + x);
      size_t stars = 0;
      for (size_t i = r->mWidth * 4; i < f.size(); i += 7)
        if (f[i] >= 200 && stars++ < 40) points.push_back(i);
      if (stars < 10) continue;
      shown = std::all_of(points.begin(), points.end(), [&](size_t i) {
        const UInt32 v = f[i];
        return SkyloomPortPixel(port, SInt32(i % r->mWidth), SInt32(i / r->mWidth)) ==
               (0xFF000000u | v << 16 | v << 8 | v);
      });
    }
    EXPECT_TRUE(shown);
  }

  // 'GRFR': the next frame saved as a TIFF of the frame's size and depth.
  ASSERT_EQ(mySaveAFrameToDisk(r, 1), noErr);
  Pump(50, [&] { return std::atomic_ref<SInt32>(r->mGrabPending).load() == 0; });
  RunCurrentEventLoop(0.05);
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  const std::string tiff = Only(".tiff").empty() ? Only(".tif") : Only(".tiff");
  ASSERT_FALSE(tiff.empty());
  const std::string info = skyloom::test::Run("tiffinfo '" + saveFolder_ + "/" + tiff + "'");
  EXPECT_NE(info.find("Image Width: 640 Image Length: 480"), std::string::npos) << info;
  EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
  const std::string log = Only("_S.txt").empty() ? Only(".txt") : Only("_S.txt");
  ASSERT_FALSE(log.empty());
  EXPECT_NE(Slurp(saveFolder_ + "/" + log).find(tiff), std::string::npos);
  EXPECT_TRUE(ui::Alerts().empty());

  // A recording of 10 frames ends at the first tick after its counter is 0.
  r->mRecordFrameLimit = 10;
  ASSERT_EQ(mySetUpRecordMovie(r), noErr);
  const std::string movie = Only(".mov");
  Pump(40, [&] { return std::atomic_ref<UInt8>(r->mRecording).load() == 0; });
  RunCurrentEventLoop(0.05);
  ASSERT_EQ(r->mRecording, 0);
  ASSERT_FALSE(movie.empty());
  const std::string probe =
      skyloom::test::Run("ffprobe -v error -count_frames -show_entries stream=codec_type,codec_tag_string,"
                         "nb_read_frames -of default=nw=1 '" + saveFolder_ + "/" + movie + "'");
  EXPECT_NE(probe.find("nb_read_frames=10\n"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_tag_string=tmcd"), std::string::npos) << probe;
}

std::atomic<int> gRecordedFrames{0};

// Frame ids through the stress run. The sim stamps each frame's id
// big-endian in its first four bytes.
UInt32 StampedId(const void* frame) {
  const auto* b = static_cast<const UInt8*>(frame);
  return UInt32(b[0]) << 24 | UInt32(b[1]) << 16 | UInt32(b[2]) << 8 | b[3];
}
struct FrameIds {
  std::mutex mutex;
  std::vector<UInt32> accepted, recorded;
  // Per delivered frame: the test's recording phase before and after it
  // went through the pipeline (even: stable, 0 mod 4 off, 2 mod 4 on).
  struct Delivered {
    UInt32 id;
    int before, after;
  };
  std::vector<Delivered> delivered;
};
FrameIds gIds;
std::atomic<int> gPhase{0};
thread_local UInt32 tDeliveredId = 0;

// The delivery thread's callback: the pipeline's, with the frame's id noted.
void IdNotingCallback(UInt32 w, UInt32 h, UInt32 bytes, void* frame, void* refCon, double interval,
                      double accumulated) {
  tDeliveredId = frame && bytes >= 4 ? StampedId(frame) : 0;
  const int before = gPhase.load();
  myDisplayCallback(w, h, bytes, frame, refCon, interval, accumulated);
  const int after = gPhase.load();
  std::lock_guard<std::mutex> lock(gIds.mutex);
  gIds.delivered.push_back({tDeliveredId, before, after});
}
// The pipeline has accepted the frame for the recorder (step 15, recording on).
void NoteAccepted(MyCameraWindowDataStruct*, int where) {
  if (where != kPipelinePauseInRecord) return;
  std::lock_guard<std::mutex> lock(gIds.mutex);
  gIds.accepted.push_back(tDeliveredId);
}
OSErr CountRecordedFrame(MyMovieRecorderStruct*, const void* frame, double) {
  gRecordedFrames++;
  std::lock_guard<std::mutex> lock(gIds.mutex);
  gIds.recorded.push_back(StampedId(frame));
  return noErr;
}

// Answers every alert with OK and lets a please-wait run go on (frames keep
// arriving on the bus thread) until the display timer ends it.
class AlertAnswerer : public ui::UserAgent {
 public:
  bool Act(const ui::LoopState& state) override {
    if (state.kind == ui::LoopKind::AppModal) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return true;
    }
    if (state.kind != ui::LoopKind::Alert) return false;
    return ui::UserAnswerAlert(state.alert, kAlertStdAlertOKButton) == noErr;
  }
};

TEST_F(CameraEndToEnd, FramesAt240PerSecondWhileGrabsRecordingsAndFWHMComeAndGo) {
  MyCameraWindowDataStruct* r = Open(SimUSBPersonality());
  ASSERT_NE(r, nullptr);
  AlertAnswerer answerer;
  ui::SetUserAgent(&answerer);
  gRecordedFrames = 0;
  gMyAddMovieFrame = CountRecordedFrame;
  Camera().Stream().SetClock(SimClock::Stepped);
  {
    std::lock_guard<std::mutex> lock(gIds.mutex);
    gIds.accepted.clear();
    gIds.recorded.clear();
    gIds.delivered.clear();
  }
  gPhase = 0;
  gMyPipelineTestPausePoint = NoteAccepted;
  ASSERT_EQ(StartCamera(-1, true), noErr);
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, IdNotingCallback, r), noErr);
  SaveToFolder();
  r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  r->mFileNaming = 3;
  r->mFrameRate = 240.0;
  r->mAverageFrameCount = 8;
  int averages = 0;
  auto startRecording = [&] {
    gPhase++;
    EXPECT_EQ(mySetUpRecordMovie(r), noErr);
    gPhase++;
  };
  auto stopRecording = [&] {
    gPhase++;
    myStopRecordMovie(r);
    gPhase++;
  };

  constexpr int kFrames = 2000;
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread bus([&] {
    // At 240 frames a second of real time, so the main loop's steps
    // interleave with the frames.
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; i++) {
      next += std::chrono::microseconds(4167);
      std::this_thread::sleep_until(next);
      if (Camera().Stream().StepBulkFrames(1) != 1) break;
      sent++;
    }
    done = true;
  });
  UInt32 step = 0;
  while (!done) {
    RunCurrentEventLoop(0.002);
    step++;
    if (step % 5 == 0 && std::atomic_ref<SInt32>(r->mGrabPending).load() == 0 && r->mGrabBuffer == nullptr &&
        std::atomic_ref<UInt8>(r->mRecording).load() == 0)
      mySaveAFrameToDisk(r, 1);
    if (step % 11 == 0 && std::atomic_ref<SInt32>(r->mGrabPending).load() == 1)
      std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
    if (step % 17 == 0) myStartStopFWHMHFD(r, (step / 17) % 2);
    if (step % 23 == 0 && std::atomic_ref<SInt32>(r->mGrabPending).load() == 0) {
      if (std::atomic_ref<UInt8>(r->mRecording).load() == 0)
        startRecording();
      else
        stopRecording();
    }
    // A mode-7 average, once, when no grab or recording is in progress.
    if (averages == 0 && step > 400 && std::atomic_ref<SInt32>(r->mGrabPending).load() == 0 &&
        r->mGrabBuffer == nullptr && std::atomic_ref<UInt8>(r->mRecording).load() == 0) {
      averages++;
      myDoPleezWait(r, 7);
      EXPECT_EQ(r->mPleezWaitDone, 1);
      EXPECT_EQ(r->mPleezWaitError, 0);
    }
  }
  bus.join();
  EXPECT_EQ(sent.load(), kFrames);
  EXPECT_EQ(averages, 1);
  if (std::atomic_ref<UInt8>(r->mRecording).load() != 0) stopRecording();
  if (std::atomic_ref<SInt32>(r->mGrabPending).load() != 0) std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
  RunCurrentEventLoop(0.1);
  myStartStopFWHMHFD(r, 0);
  StopCamera();
  gMyAddMovieFrame = nullptr;
  gMyPipelineTestPausePoint = nullptr;
  ui::SetUserAgent(nullptr);
  {
    std::lock_guard<std::mutex> lock(gIds.mutex);
    // The recorder got exactly the frames the pipeline accepted, each once,
    // with their own pixels.
    std::vector<UInt32> accepted = gIds.accepted, recorded = gIds.recorded;
    EXPECT_FALSE(recorded.empty());
    EXPECT_EQ(recorded, accepted);
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(std::adjacent_find(recorded.begin(), recorded.end()), recorded.end());
    // A frame that went through while recording was steadily on was
    // recorded; one while it was steadily off was not.
    int on = 0;
    for (const auto& d : gIds.delivered) {
      if (d.before != d.after || d.before % 2 != 0) continue;
      const bool was = std::binary_search(recorded.begin(), recorded.end(), d.id);
      if (d.before % 4 == 2) {
        on++;
        EXPECT_TRUE(was) << "frame " << d.id << " delivered while recording was not recorded";
      } else {
        EXPECT_FALSE(was) << "frame " << d.id << " delivered while not recording was recorded";
      }
    }
    EXPECT_GT(on, 0);
    RecordProperty("delivered while recording", on);
  }
  RecordProperty("recorded", gRecordedFrames.load());
  EXPECT_EQ(r->mGrabPending, 0);
  EXPECT_EQ(r->mGrabsInFlight, 0);
  EXPECT_EQ(r->mGrabBufferBusy, 0);
  EXPECT_EQ(r->mGrabBuffer, nullptr);
  EXPECT_EQ(r->mFWHMBusy, 0);
  EXPECT_EQ(r->mMovieBusy, 0);
  EXPECT_EQ(r->mPreviewConverting, 0);
  EXPECT_EQ(r->mDisplayBusy, 0);
  EXPECT_EQ(r->mPleezWaitBusy, 0);
  EXPECT_EQ(r->mMovie, nullptr);
}

// ---------------------------------------------------------------- long exposures

template <typename T>
T Load(T& field) {
  return std::atomic_ref<T>(field).load();
}
// Waits (hang guard 10 s) until `done` holds.
template <typename Done>
bool Eventually(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The trigger scheme end to end: the timing thread opens and closes the
// shutter, the display timer acknowledges each cycle, and the triggered
// frame goes through the pipeline and starts the next exposure.
TEST_F(CameraEndToEnd, TriggeredLongExposuresRunCyclesThroughTheDisplayTimer) {
  MyCameraWindowDataStruct* r = Open(SimPointGreyTriggerPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->mIsPointGrey, 1);
  TestClock clock;
  Camera().Stream().SetClock(SimClock::Stepped);
  ASSERT_EQ(StartCamera(-1, true), noErr);
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  ASSERT_EQ(myPGRStartStopTriggerFrames(cam, 1, 0), noErr);
  EXPECT_EQ(Camera().Stream().StepBulkFrames(1, 200), 0);  // triggered: nothing runs free

  constexpr double kExposureMs = 1000.0;
  r->mPGRLongExposureOn = 1;
  r->mTrigger4Pin = 0;
  r->mFirstRateItem = 1;
  std::atomic_ref<double>(r->mExposureMS).store(kExposureMs);
  std::atomic_ref<SInt32>(r->mLongExpReadout).store(0);
  std::atomic_ref<SInt32>(r->mLongExpShowPending).store(0);
  std::atomic_ref<SInt32>(r->mLongExpFrameDone).store(1);  // the first exposure is due at once
  std::atomic_ref<UInt64>(r->mExposureStartTime).store(SkyloomMicroseconds());
  std::atomic_ref<UInt64>(r->mCountdownTime).store(0);
  std::atomic_ref<UInt32>(r->mLongExposure).store(1);
  ASSERT_EQ(myInstallLongExposureTimer(r, kExposureMs), 0);
  struct ThreadStop {
    MyCameraWindowDataStruct* r;
    ~ThreadStop() { myRemoveLongExposureTimer(r); }
  } threadStop{r};

  for (int cycle = 1; cycle <= 3; cycle++) {
    SCOPED_TRACE(cycle);
    // The thread has taken the last frame and started an exposure the
    // display has not acknowledged yet.
    auto opened = [&] {  // shutter openings so far
      size_t n = 0;
      for (const SimLogEntry& e : Camera().Log())
        n += IsWrite(e) && e.status == 0 && e.offset == 0x1120 && e.value == 0x80010000u;
      return n;
    };
    ASSERT_TRUE(Eventually([&] {
      // The thread notes the countdown's start last, after the exposure's.
      return opened() >= size_t(cycle) && Load(r->mLongExpFrameDone) == 0 && Load(r->mLongExpShowPending) == 1 &&
             Load(r->mCountdownTime) == SkyloomMicroseconds();
    }));
    clock.Advance(kExposureMs / 1000.0 + 0.01);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Load(r->mLongExpReadout), 0) << "the exposure ended before the display took the cycle";
    // The display timer's tick draws the last cycle's frame and takes the
    // cycle; then the shutter closes.
    Tick();
    EXPECT_EQ(Load(r->mLongExpShowPending), 0);
    EXPECT_EQ(Load(r->mPreviewReady), 0);
    ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
    // The triggered frame reaches the pipeline: its preview is handed to
    // the display and the next cycle is due.
    const double timeBase = r->mFrameTimeBase;
    ASSERT_EQ(Camera().Stream().StepBulkFrames(1), 1);
    ASSERT_TRUE(Eventually([&] { return Load(r->mPreviewReady) != 0; }));
    EXPECT_GT(r->mFrameTimeBase, timeBase);
  }
  myRemoveLongExposureTimer(r);
  std::atomic_ref<UInt32>(r->mLongExposure).store(0);
  myPGRStartStopTriggerFrames(cam, 0, 0);
}

// The long-exposure sensor kind end to end on a FireWire bus the test steps:
// the exposure item starts the timing thread, which stops transmission for
// each exposure and resumes it for the read-out; the brighter frame of each
// read-out pair goes through the pipeline; the display timer's tick draws it
// and acknowledges the cycle, and only then may the next exposure end.
class LongExposureKindEndToEnd : public CameraEndToEnd {
 protected:
  void SetUp() override {
    CameraEndToEnd::SetUp();
    SkyloomFireWireBusSetStepped(true);
  }
  void TearDown() override {
    if (record_) myRemoveLongExposureTimer(record_);
    CameraEndToEnd::TearDown();
    SkyloomFireWireBusSetStepped(false);
  }

  static double MeanLevel(const UInt8* p, size_t n) {
    double sum = 0;
    for (size_t i = 8; i + 8 < n; i++) sum += p[i];  // past the id stamps
    return sum / double(n - 16);
  }

  // Three cycles with the STA pins (staPins 1) or without, on exposure item
  // `item` of `exposureMs`.
  void ThreeCycles(UInt32 staPins, UInt32 item, double exposureMs) {
    MyCameraWindowDataStruct* r = Open(SimLongExposurePersonality());
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->mIsLongExposureCamera, 1);
    TestClock clock;
    Camera().Stream().SetClock(SimClock::Stepped);
    // The sensor's grey mode, shown in grey.
    r->mFrameRate = 30.0;
    r->mDisplayFormatItem = 1;
    ASSERT_EQ(StartCamera(-1, true), noErr);
    ASSERT_EQ(r->mBitsPerPixel, 8u);
    const size_t n = size_t(r->mWidth) * r->mHeight;
    r->mLongExposureMenu = staPins;
    if (!staPins) r->mExposureItemLimit = 6;  // without pins item 7 is the long one
    ASSERT_EQ(mySetBaseCCDExposureTime(r, item), noErr);
    ASSERT_EQ(Load(r->mLongExposure), 1u);
    ASSERT_EQ(r->mExposureMS, exposureMs);
    ASSERT_TRUE(myLongExposureThreadHoldsRecord(r));
    // A frame of the read-out without integration, for comparison.
    const std::vector<UInt8> plain = Reference(1);
    const double plainLevel = MeanLevel(plain.data(), n);

    for (int cycle = 1; cycle <= 3; cycle++) {
      SCOPED_TRACE(cycle);
      if (cycle > 1) {
        // The thread started this exposure when the last pair came in; it
        // does not end it before the display has taken the last cycle.
        ASSERT_TRUE(Eventually([&] {
          return Load(r->mLongExpFrameDone) == 0 && Load(r->mLongExpShowPending) == 1 &&
                 Load(r->mLongExpReadout) == 0;
        }));
        clock.Advance(exposureMs / 1000.0 + 0.01);
        std::this_thread::sleep_for(std::chrono::milliseconds(staPins ? 50 : 400));
        EXPECT_EQ(Load(r->mLongExpReadout), 0) << "the exposure ended before the display took the cycle";
        EXPECT_NE(Load(r->mPreviewReady), 0);
        Tick();
        EXPECT_EQ(Load(r->mLongExpShowPending), 0);
        EXPECT_EQ(Load(r->mPreviewReady), 0);  // the last cycle's frame was drawn
      } else {
        clock.Advance(exposureMs / 1000.0 + 0.01);
      }
      ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpReadout) == 1; }));
      EXPECT_EQ(Camera().Peek(0x614), 0x80000000u);  // transmitting the read-out

      // The read-out, a frame period at a time, until the pair has gone
      // through the pipeline and the next exposure has begun.
      const double timeBase = r->mFrameTimeBase;
      int periods = 0;
      while (!(Load(r->mLongExpFrameDone) != 0 || Load(r->mLongExpShowPending) != 0) && periods < 20) {
        ASSERT_TRUE(SkyloomFireWireBusStepCycles(Camera().Stream().CyclesPerFrame()));
        periods++;
      }
      ASSERT_TRUE(Eventually([&] { return Load(r->mLongExpShowPending) == 1 && Load(r->mLongExpReadout) == 0; }))
          << periods << " frame periods stepped";
      EXPECT_GE(periods, 2);  // two frames make a pair
      EXPECT_EQ(r->mPairCount, 0u);
      EXPECT_NE(Load(r->mPreviewReady), 0);
      EXPECT_GT(r->mFrameTimeBase, timeBase);
      // The frame shown is the integrated one, brighter than a plain
      // read-out (without pins the first exposure ends at the thread's first
      // check, before the test's clock has moved).
      if (staPins || cycle > 1) {
        EXPECT_GT(MeanLevel(static_cast<const UInt8*>(r->mSecondLongFrameBuffer), n), plainLevel + 5.0);
      }
      // Transmission is off again while the sensor integrates.
      EXPECT_EQ(Camera().Peek(0x614), 0u);
      if (staPins) {
        EXPECT_EQ(Camera().Peek(0xF1C) & 0x01000000u, 0x01000000u);  // STA0 high
      }
    }

    // Back to a frame-rate item: the thread stops and frames run free again.
    ASSERT_EQ(mySetBaseCCDExposureTime(r, 3), noErr);
    EXPECT_EQ(Load(r->mLongExposure), 0u);
    EXPECT_FALSE(myLongExposureThreadHoldsRecord(r));
    Tick();
    ASSERT_EQ(Load(r->mPreviewReady), 0);
    // Frames go through the pipeline on the delivery thread: the last one
    // stepped may still be on its way.
    for (int i = 0; i < 20 && Load(r->mPreviewReady) == 0; i++)
      ASSERT_TRUE(SkyloomFireWireBusStepCycles(Camera().Stream().CyclesPerFrame()));
    EXPECT_TRUE(Eventually([&] { return Load(r->mPreviewReady) != 0; }));
  }
};

TEST_F(LongExposureKindEndToEnd, WithSTAPins) { ThreeCycles(1, 10, 1000.0); }

TEST_F(LongExposureKindEndToEnd, WithoutSTAPins) { ThreeCycles(0, 7, 1029.0); }

}  // namespace
