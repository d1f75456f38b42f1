#include "tests/camera_driver/dcam_fixture.h"

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/iokit/IOFireWireLib.h"

void DCAMTest::SetUp() {
  baselineObjects_ = SkyloomIOKitLiveObjectCount();
  // A first thread makes the sanitizers start their own helper threads; let
  // that happen before the count is taken.
  std::thread([] {}).join();
  baselineThreads_ = ProcessThreadCount();
  SkyloomIOFireWireLibSetVersion(0x01700000);
}

void DCAMTest::TearDown() {
  SimRemoveRig();
  SkyloomIOFireWireLibSetVersion(0x01700000);
}

std::vector<std::shared_ptr<SimCamera>> DCAMTest::Rig(const std::vector<SimCameraPersonality>& personalities) {
  cameras_ = SimInstallRig(personalities);
  return cameras_;
}

void DCAMTest::ExpectNothingLeft() {
  EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baselineObjects_);
  for (auto& c : cameras_) {
    EXPECT_EQ(c->OpenCount(), 0) << c->Personality().label;
    EXPECT_EQ(c->ClaimedInterfaceCount(), 0) << c->Personality().label;
  }
  EXPECT_TRUE(WaitForThreadCount(baselineThreads_));
}
