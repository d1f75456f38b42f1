// The simulated camera's feature registers, as the bus sees them, and what
// they do to the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/simcamera/SimFeatures.h"
#include "platform/simcamera/SimScene.h"
#include "platform/simcamera/SimStream.h"

namespace {

class SimFeaturesTest : public ::testing::Test {
 protected:
  SimFeaturesTest() : cam_(SimDefaultColourPersonality()) {}
  UInt32 Read(UInt32 offset) {
    UInt32 v = 0;
    EXPECT_EQ(cam_.ReadQuadlet(0xFFFF, 0xF0F00000 + offset, &v), kIOReturnSuccess);
    return v;
  }
  void Write(UInt32 offset, UInt32 value) {
    EXPECT_EQ(cam_.WriteQuadlet(0xFFFF, 0xF0F00000 + offset, value), kIOReturnSuccess);
  }
  SimCamera cam_;
};

TEST_F(SimFeaturesTest, ControlWordsKeepWhatTheFeatureOffers) {
  struct Row {
    const char* what;
    UInt32 offset, written, stored;
  };
  // Gain 0xCB0002A8: absolute, auto, manual, no on/off, no one-push, 0..0x2A8.
  // White balance 0x9B0003FF: one-push, auto, manual, no absolute.
  // Trigger 0x8E808000: on/off, polarity.
  const Row rows[] = {
      {"gain: no one-push, cannot be switched off", 0x820, 0x04000010, 0x82000010},
      {"gain: auto and absolute kept", 0x820, 0xC3000010, 0xC3000010},
      {"gain: value clamped to the maximum", 0x820, 0x82000FFF, 0x820002A8},
      {"white balance: no absolute, halves clamped", 0x80C, 0xC2FFF1FF, 0x823FF1FF},
      {"trigger: as written", 0x830, 0x83E5A123, 0x83E5A123},
      {"trigger: switched off", 0x830, 0x81E5A123, 0x81E5A123},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Write(r.offset, r.written);
    EXPECT_EQ(cam_.Peek(r.offset), r.stored);
  }
  // Hue has no presence bit: its control register takes nothing.
  Write(0x810, 0x82000010);
  EXPECT_EQ(cam_.Peek(0x810), 0u);
}

TEST_F(SimFeaturesTest, OnePushClearsItself) {
  Write(0x80C, 0x861E0200);
  EXPECT_EQ(Read(0x80C), 0x861E0200u);
  EXPECT_EQ(Read(0x80C), 0x821E0200u);
  EXPECT_EQ(Read(0x80C), 0x821E0200u);
  // Again, and a bit found set without a write.
  Write(0x80C, 0x861E0200);
  EXPECT_EQ(Read(0x80C), 0x861E0200u);
  EXPECT_EQ(Read(0x80C), 0x821E0200u);
  cam_.Poke(0x80C, 0x861E0200);
  EXPECT_EQ(Read(0x80C), 0x861E0200u);
  EXPECT_EQ(Read(0x80C), 0x821E0200u);
}

TEST_F(SimFeaturesTest, TemperatureSettlesTowardsItsTarget) {
  // Target 0x100 from 0: each read answers, then closes a quarter of the gap.
  Write(0x82C, 0x82100ABC);  // the current bits written are ignored
  const UInt32 expected[] = {0x000, 0x040, 0x070, 0x094};
  for (UInt32 e : expected) EXPECT_EQ(Read(0x82C), 0x82100000u | e);
  // The last steps are of 1, and it stays there.
  for (int i = 0; i < 40; i++) Read(0x82C);
  EXPECT_EQ(Read(0x82C), 0x82100100u);
  EXPECT_EQ(Read(0x82C), 0x82100100u);
  // Downwards.
  Write(0x82C, 0x820F0000);
  EXPECT_EQ(Read(0x82C), 0x820F0100u);
  EXPECT_EQ(Read(0x82C), 0x820F00FCu);
}

TEST_F(SimFeaturesTest, AbsoluteValueClampedToItsBlock) {
  const UInt32 gainValue = kSimAbsoluteBlockBase + 0x80 + 8;  // 0 .. 24 dB
  Write(gainValue, SimFloatBits(30.0f));
  EXPECT_EQ(cam_.Peek(gainValue), SimFloatBits(24.0f));
  Write(gainValue, SimFloatBits(-1.0f));
  EXPECT_EQ(cam_.Peek(gainValue), SimFloatBits(0.0f));
  Write(gainValue, SimFloatBits(6.0f));
  Write(gainValue, SimFloatBits(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ(cam_.Peek(gainValue), SimFloatBits(6.0f));
  // Minimum and maximum are the camera's own.
  Write(gainValue - 4, SimFloatBits(99.0f));
  EXPECT_EQ(cam_.Peek(gainValue - 4), SimFloatBits(24.0f));
}

TEST_F(SimFeaturesTest, ShutterAndGainMakeTheExposure) {
  // Shutter raw 0x200 x 20 us = 10.24 ms; gain raw 0: exposure 1.024.
  EXPECT_NEAR(SimExposure(cam_), 1.024, 1e-12);
  // Gain at its raw maximum 0x2A8: 24 dB, a factor 10^1.2.
  Write(0x820, 0x820002A8);
  EXPECT_NEAR(SimExposure(cam_), 16.2293062908018, 1e-9);
  // Gain switched off: no gain.
  cam_.Poke(0x820, 0x800002A8);
  EXPECT_NEAR(SimExposure(cam_), 1.024, 1e-12);
  // Absolute control: shutter 0.02 s, gain 6 dB.
  Write(0x81C, 0xC2000200);
  Write(0x820, 0xC2000000);
  Write(kSimAbsoluteBlockBase + 0x80 + 8, SimFloatBits(6.0f));
  Write(kSimAbsoluteBlockBase + 0x70 + 8, SimFloatBits(0.02f));
  EXPECT_NEAR(SimExposure(cam_), 3.990524629937759, 1e-6);
}

TEST_F(SimFeaturesTest, WhiteBalanceTints) {
  double g[3];
  SimWhiteBalance(cam_, g);  // 0x821E0200: U/B 0x1E0, V/R 0x200
  EXPECT_EQ(g[0], 1.0);
  EXPECT_EQ(g[1], 1.0);
  EXPECT_EQ(g[2], 0.9375);
  Write(0x80C, 0x82300100);
  SimWhiteBalance(cam_, g);
  EXPECT_EQ(g[0], 0.5);
  EXPECT_EQ(g[2], 1.5);
  cam_.Poke(0x80C, 0x80300100);  // off
  SimWhiteBalance(cam_, g);
  EXPECT_EQ(g[0], 1.0);
  EXPECT_EQ(g[2], 1.0);
}

// The frames the camera sends are drawn with its shutter, gain and white
// balance: compared with the scene drawn directly at the exposure and gains
// worked out by hand (frame id bytes at both ends left aside).
TEST_F(SimFeaturesTest, FramesFollowShutterGainAndWhiteBalance) {
  // Format 7 mode 0 at 64 x 48, Raw8 (coding 9), colour filter 0 (RGGB).
  cam_.Poke(0x608, 7u << 29);
  cam_.Poke(0x604, 0);
  cam_.Poke(kSimFormat7BlockBase + 0x0C, 64u << 16 | 48);
  cam_.Poke(kSimFormat7BlockBase + 0x10, 9u << 24);
  SimSceneSettings settings;
  settings.width = 64;
  settings.height = 48;
  const SimScene scene(settings);
  auto expectFrame = [&](double exposure, double red, double blue, bool mosaic) {
    std::vector<UInt16> samples(64 * 48);
    const double gains[3] = {red, 1.0, blue};
    if (mosaic)
      scene.RenderBayer(0, exposure, gains, 1, 8, samples.data());
    else
      scene.RenderMono(0, exposure, 8, samples.data());
    const std::vector<UInt8> frame = cam_.Stream().ReferenceFrame(7);
    ASSERT_EQ(frame.size(), samples.size());
    size_t differ = 0;
    for (size_t i = 4; i + 4 < frame.size(); i++) differ += frame[i] != samples[i];
    EXPECT_EQ(differ, 0u);
  };
  {
    SCOPED_TRACE("as the camera starts: shutter 0x200, gain 0, U/B 0x1E0, V/R 0x200");
    expectFrame(0x200 * 20e-6 / 0.01, 1.0, 0x1E0 / 512.0, true);
  }
  {
    SCOPED_TRACE("shutter 0x400");
    Write(0x81C, 0x82000400);
    expectFrame(0x400 * 20e-6 / 0.01, 1.0, 0x1E0 / 512.0, true);
  }
  {
    SCOPED_TRACE("white balance U/B 0x200, V/R 0x100");
    Write(0x80C, 0x82200100);
    expectFrame(0x400 * 20e-6 / 0.01, 0.5, 1.0, true);
  }
  {
    SCOPED_TRACE("gain 0x154 of 0x2A8: 12 dB");
    Write(0x820, 0x82000154);
    expectFrame(0x400 * 20e-6 / 0.01 * std::pow(10.0, 0x154 * 24.0 / 0x2A8 / 20.0), 0.5, 1.0, true);
  }
  {
    SCOPED_TRACE("Mono8 coding: grey");
    cam_.Poke(kSimFormat7BlockBase + 0x10, 0);
    expectFrame(0x400 * 20e-6 / 0.01 * std::pow(10.0, 0x154 * 24.0 / 0x2A8 / 20.0), 1.0, 1.0, false);
  }
}

// The default camera sends its grey fixed modes as a mosaic in the order of
// its tile register, as the application classifies them; another tile value
// (or a camera without the habit) sends grey.
TEST(SimFixedModeMosaic, FollowsTheTileRegister) {
  const double gains[3] = {1.0, 1.0, 0x1E0 / 512.0};
  const double exposure = 0x200 * 20e-6 / 0.01;
  const struct {
    bool defaultCamera;
    UInt32 tiles;
    int bayer;  // 0: grey
  } kCases[] = {{true, FOUR_CHAR_CODE("RGGB"), 1}, {true, FOUR_CHAR_CODE("BGGR"), 4},
                {true, FOUR_CHAR_CODE("YYYY"), 0}, {false, FOUR_CHAR_CODE("RGGB"), 0}};
  for (const auto& c : kCases) {
    SimCameraPersonality p = c.defaultCamera ? SimDefaultColourPersonality() : SimMonoFireWirePersonality();
    p.registers[0x1040] = c.tiles;
    p.registers[0x81C] = 0x82000200;  // shutter 0x200, gain 0
    p.registers[0x820] = 0x82000000;
    p.registers[0x80C] = 0x821E0200;
    p.registers[0x600] = 4u << 29;  // Format 0 mode 5 (640x480 Y8), 30 fps
    p.registers[0x604] = 5u << 29;
    p.registers[0x608] = 0;
    SimCamera cam(p);
    SimSceneSettings settings;
    settings.width = 640;
    settings.height = 480;
    const SimScene scene(settings);
    std::vector<UInt16> samples(640 * 480);
    if (c.bayer)
      scene.RenderBayer(0, exposure, gains, c.bayer, 8, samples.data());
    else
      scene.RenderMono(0, exposure, 8, samples.data());
    const std::vector<UInt8> frame = cam.Stream().ReferenceFrame(3);
    ASSERT_EQ(frame.size(), samples.size());
    size_t differ = 0;
    for (size_t i = 4; i + 4 < frame.size(); i++) differ += frame[i] != samples[i];
    EXPECT_EQ(differ, 0u) << std::hex << c.tiles << " default " << c.defaultCamera;
  }
}

}  // namespace
