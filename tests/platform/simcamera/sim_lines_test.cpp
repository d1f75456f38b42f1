// The simulated camera's sensor and trigger lines: the STA pins and region
// pulse of the long-exposure kind, its integration while transmission is
// off, and frames made by the trigger inputs its GPIO outputs drive.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/simcamera/SimCamera.h"
#include "platform/simcamera/SimFeatures.h"
#include "platform/simcamera/SimScene.h"
#include "platform/simcamera/SimStream.h"

namespace {

// The monotonic clock, moved by hand.
class ManualClock {
 public:
  ManualClock() {
    SkyloomSetMonotonicTimeSource([this] { return kStart + micros_.load(); });
  }
  ~ManualClock() { SkyloomSetMonotonicTimeSource(nullptr); }
  void Advance(double seconds) { micros_ += UInt64(seconds * 1e6); }

 private:
  static constexpr UInt64 kStart = 5'000'000'000ull;
  std::atomic<UInt64> micros_{0};
};

class SimLinesTest : public ::testing::Test {
 protected:
  void Use(SimCameraPersonality p) { cam_ = std::make_unique<SimCamera>(std::move(p)); }
  UInt32 Read(UInt32 offset) {
    UInt32 v = 0;
    EXPECT_EQ(cam_->ReadQuadlet(0xFFFF, 0xF0F00000 + offset, &v), kIOReturnSuccess);
    return v;
  }
  void Write(UInt32 offset, UInt32 value) {
    EXPECT_EQ(cam_->WriteQuadlet(0xFFFF, 0xF0F00000 + offset, value), kIOReturnSuccess);
  }

  // Format 0 mode 5 (640 x 480 grey) at 7.5 fps, transmission on, bulk
  // frames stepped by the test into reads that keep coming.
  void StartStream() {
    cam_->Poke(0x608, 0);
    cam_->Poke(0x604, 5u << 29);
    cam_->Poke(0x600, 2u << 29);
    cam_->Poke(0x614, 0x80000000);
    cam_->Stream().SetClock(SimClock::Stepped);
    buffer_.assign(640 * 480 + 512, 0);
    Submit();
  }
  void Submit() {
    cam_->Stream().SubmitBulkRead(0x81, buffer_.data(), UInt32(buffer_.size()), [this](IOReturn status, UInt32 n) {
      if (status == kIOReturnSuccess) {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.emplace_back(buffer_.begin(), buffer_.begin() + n);
      }
      if (status != kIOReturnAborted) Submit();
    });
  }
  void TearDown() override {
    if (cam_) cam_->Stream().AbortBulk(0x81);
  }
  // Whether the last frame is the scene at `exposure` (id stamps aside).
  bool LastFrameHasExposure(double exposure) {
    SimSceneSettings settings;
    settings.width = 640;
    settings.height = 480;
    const SimScene scene(settings);
    std::vector<UInt16> samples(640 * 480);
    scene.RenderMono(0, exposure, 8, samples.data());
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_.empty() || frames_.back().size() != samples.size()) return false;
    const std::vector<UInt8>& f = frames_.back();
    for (size_t i = 4; i + 4 < f.size(); i++)
      if (f[i] != samples[i]) return false;
    return true;
  }
  size_t FrameCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }

  std::unique_ptr<SimCamera> cam_;
  std::vector<UInt8> buffer_;
  std::mutex mutex_;
  std::vector<std::vector<UInt8>> frames_;
};

TEST_F(SimLinesTest, STAPinsAreLineStatesAndSTA1PulsesOncePerPeriod) {
  Use(SimLongExposurePersonality());
  EXPECT_EQ(Read(0xF20), 0x00010000u);
  Write(0xF20, 0);
  EXPECT_EQ(Read(0xF20), 0u);
  // Pins 0 and 2 follow the write; STA1 is the sensor's, whatever is written.
  Write(0xF1C, 0x07010601);
  cam_->SetSTA1(SimSTA1::Low);
  EXPECT_EQ(Read(0xF1C), 0x05010601u);
  cam_->SetSTA1(SimSTA1::High);
  EXPECT_EQ(Read(0xF1C), 0x07010601u);
  Write(0xF1C, 0x04010601);
  EXPECT_EQ(Read(0xF1C) >> 24, 6u);
  // Pulsing: low on the last read of every period.
  cam_->SetSTA1(SimSTA1::Pulsing);
  std::vector<UInt32> sta1;
  for (int i = 0; i < 3 * kSimSTA1Period; i++) sta1.push_back((Read(0xF1C) >> 25) & 1);
  size_t lows = 0;
  for (size_t i = 0; i < sta1.size(); i++) {
    if (sta1[i] == 0) {
      lows++;
      if (i + kSimSTA1Period < sta1.size()) {
        EXPECT_EQ(sta1[i + kSimSTA1Period], 0u) << i;
      }
      if (i + 1 < sta1.size()) {
        EXPECT_EQ(sta1[i + 1], 1u) << i;
      }
    }
  }
  EXPECT_EQ(lows, 3u);
}

TEST_F(SimLinesTest, FirstFrameAfterTransmissionResumesCarriesTheTimeItWasOff) {
  SimCameraPersonality p = SimUSBPersonality();
  p.staPins = true;
  Use(p);
  ManualClock clock;
  StartStream();
  ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(LastFrameHasExposure(SimExposure(*cam_)));
  Write(0x614, 0);
  clock.Advance(2.5);
  Write(0x614, 0x80000000);
  ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(LastFrameHasExposure(SimExposureFor(*cam_, 2.5)));
  EXPECT_FALSE(LastFrameHasExposure(SimExposure(*cam_)));
  ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(LastFrameHasExposure(SimExposure(*cam_)));
}

TEST_F(SimLinesTest, TriggerModeOneExposesWhileTheWiredInputIsActive) {
  Use(SimPointGreyTriggerPersonality());
  ManualClock clock;
  StartStream();
  // Trigger on in mode 1 from input 0: output 1 drives it, output 2 does not.
  Write(0x1120, 0x80010001);
  Write(0x830, 0x82010000);
  EXPECT_TRUE(cam_->Stream().Triggered());
  EXPECT_EQ(cam_->Stream().StepBulkFrames(1, 50), 0);  // no free-running frames
  Write(0x1130, 0x80010000);
  clock.Advance(0.3);
  Write(0x1130, 0x80010001);
  EXPECT_EQ(cam_->Stream().TriggeredFramesQueued(), 0u);

  Write(0x1120, 0x80010000);  // low: active
  clock.Advance(0.5);
  Write(0x1120, 0x80010000);  // still active
  clock.Advance(0.25);
  Write(0x1120, 0x80010001);  // inactive: one frame of 0.75 s
  EXPECT_EQ(cam_->Stream().TriggeredFramesQueued(), 1u);
  ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(LastFrameHasExposure(SimExposureFor(*cam_, 0.75)));
  EXPECT_FALSE(LastFrameHasExposure(SimExposureFor(*cam_, 0.5)));
  EXPECT_EQ(cam_->Stream().StepBulkFrames(1, 50), 0);

  // Source 3: output 2 is wired to input 3.
  Write(0x830, 0x82610000);
  Write(0x1130, 0x80010000);
  clock.Advance(0.1);
  Write(0x1130, 0x80010001);
  ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
  EXPECT_TRUE(LastFrameHasExposure(SimExposureFor(*cam_, 0.1)));
  EXPECT_FALSE(cam_->FireTrigger());  // mode 1 takes no external pulses
}

TEST_F(SimLinesTest, TriggerModesZeroAndFourteenSendOneFramePerPulse) {
  Use(SimPointGreyTriggerPersonality());
  StartStream();
  EXPECT_FALSE(cam_->FireTrigger());  // trigger off: free-running
  ASSERT_EQ(cam_->Stream().StepBulkFrames(2), 2);
  for (UInt32 control : {0x82000000u, 0x820E0000u}) {
    SCOPED_TRACE(control);
    Write(0x830, control);
    EXPECT_EQ(cam_->Stream().StepBulkFrames(1, 50), 0);
    EXPECT_TRUE(cam_->FireTrigger());
    const size_t before = FrameCount();
    ASSERT_EQ(cam_->Stream().StepBulkFrames(1), 1);
    EXPECT_EQ(FrameCount(), before + 1);
    EXPECT_TRUE(LastFrameHasExposure(SimExposure(*cam_)));  // the shutter's exposure
    EXPECT_EQ(cam_->Stream().StepBulkFrames(1, 50), 0);
  }
  Write(0x830, 0x80000000);
  EXPECT_FALSE(cam_->Stream().Triggered());
  EXPECT_EQ(cam_->Stream().StepBulkFrames(1), 1);
}

}  // namespace
