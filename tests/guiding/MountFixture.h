// A mount-control device opened the way scope control opens it, on one
// simulated serial port, and helpers that wait for what the mount received.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "guiding/Guiding.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/simmount/SimMount.h"
#include "tests/support/UiFixture.h"

class SerialMountTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    port_ = std::make_unique<SimMountPort>();
    ASSERT_TRUE(port_->Ok());
    SimInstallMount({port_->SlavePath()}, {});
    skyloom::ui::ScriptedUser user;  // one candidate: no dialog
    device_ = myOpenMountCntlDevice(kMountCntlLX200, 0);
    ASSERT_NE(device_, nullptr);
  }
  void TearDown() override {
    myCloseMountCntlDevice(device_);
    SimRemoveMount();
    port_.reset();
    UiTest::TearDown();
  }
  // Waits (no time limit is asserted: a generous guard only) for n bytes.
  std::vector<UInt8> WaitBytes(size_t n) {
    std::vector<UInt8> out;
    for (int i = 0; i < 5000; i++) {
      auto got = port_->Received();
      if (got.size() >= n) {
        for (auto& b : got) out.push_back(b.byte);
        return out;
      }
      SkyloomSleepMicroseconds(2000);
    }
    ADD_FAILURE() << "the mount received fewer than " << n << " bytes";
    for (auto& b : port_->Received()) out.push_back(b.byte);
    return out;
  }
  std::vector<SimMountCommand> WaitCommands(size_t n) {
    for (int i = 0; i < 5000; i++) {
      auto got = port_->Commands();
      if (got.size() >= n) return got;
      SkyloomSleepMicroseconds(2000);
    }
    ADD_FAILURE() << "the mount received fewer than " << n << " commands";
    return port_->Commands();
  }
  std::vector<std::string> CommandTexts() {
    std::vector<std::string> out;
    for (auto& c : port_->Commands()) out.push_back(c.Text());
    return out;
  }
  std::unique_ptr<SimMountPort> port_;
  MountCntlDevice* device_ = nullptr;
};
