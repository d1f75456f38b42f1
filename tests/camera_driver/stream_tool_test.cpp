// The streaming tool on both buses: every file holds a frame equal to the
// simulated camera's frame of the id stamped in it.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/iokit/IOFireWireLib.h"
#include "tests/camera_driver/stream_fixture.h"
#include "tests/camera_driver/stream_tool.h"

namespace {

class StreamToolTest : public DCAMTest {
 protected:
  void SetUp() override {
    DCAMTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("skyloom_stream_tool_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  // Checks 100 files against the camera's frames (host order, written
  // big-endian for 16-bit).
  void ExpectFrames(SimCamera& sim, UInt32 bits) {
    UInt32 lastID = 0;
    for (int i = 0; i < 100; i++) {
      char name[32];
      std::snprintf(name, sizeof name, "frame_%04d.pgm", i);
      std::ifstream in(dir_ / name, std::ios::binary);
      ASSERT_TRUE(in) << name;
      std::string magic;
      UInt32 width, height, maxval;
      in >> magic >> width >> height >> maxval;
      in.get();
      std::vector<UInt8> pixels((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      ASSERT_EQ(magic, "P5");
      ASSERT_EQ(pixels.size(), size_t(width) * height * bits / 8);
      // PGM is big-endian like the wire, so the file equals the wire frame.
      const UInt32 id = FrameIDAtStart(pixels.data(), false);
      EXPECT_GT(id, lastID) << name;
      lastID = id;
      ASSERT_EQ(pixels, sim.Stream().ReferenceFrame(id)) << name;
    }
  }
  std::filesystem::path dir_;
};

TEST_F(StreamToolTest, HundredFramesFromEachBus) {
  auto rig = Rig({SimMonoFireWirePersonality(), SimUSBPersonality()});
  SkyloomFireWireBusSetStepped(false);
  ASSERT_EQ(StreamFramesToFiles(0, 100, dir_.string(), 6, 15, nullptr), noErr);  // FireWire Mono16
  ExpectFrames(*rig[0], 16);
  ASSERT_EQ(StreamFramesToFiles(1, 100, dir_.string(), 5, 15, nullptr), noErr);  // USB Mono8
  ExpectFrames(*rig[1], 8);
  rig[1]->Stream().SetClock(SimClock::Stepped);  // its real-time sender stops
}

}  // namespace
