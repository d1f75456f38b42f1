// Shared by the camera library's tests: a rig of simulated cameras per test,
// and the checks that an open/close left nothing behind.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "camera_driver/DCAMInternal.h"
#include "platform/simcamera/SimBus.h"
#include "tests/support/ThreadCount.h"

class DCAMTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::vector<std::shared_ptr<SimCamera>> Rig(const std::vector<SimCameraPersonality>& personalities);
  // Nothing leaked: registry objects, plug-in interfaces, device opens,
  // claimed interfaces, threads.
  void ExpectNothingLeft();

  long baselineObjects_ = 0;
  int baselineThreads_ = 0;
  std::vector<std::shared_ptr<SimCamera>> cameras_;
};
