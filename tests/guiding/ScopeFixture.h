// A camera record set up the way the application makes one (its guiding
// defaults), stand-ins for the application's "LXCT" command and the camera's
// close, and one simulated LX200 port as the only mount: a run opens it
// without the device dialog.
#pragma once
#include <dirent.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/GuideStar.h"
#include "guiding/Guiding.h"
#include "guiding/ScopeControl.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/simmount/SimMount.h"
#include "tests/support/UiFixture.h"

// The guiding fields of a new camera record with their defaults.
inline void SetGuidingDefaults(MyCameraWindowDataStruct& r) {
  r.mKind = kMyCameraWindowDataKind;
  r.mDecCalibrationMode = 1;
  r.mDecTrackingMode = 1;
  r.mCorrectionOrder = 0;
  r.mCalibrationMoveItem = 2;
  r.mTrackAccuracy = 0.1f;
  r.mMinRAMotionPixels = 30;
  r.mMinDecMotionPixels = 10;
  r.mRADurationFactor = 1.0f;
  r.mFramesToAverage = 1;
}

// Stands in for the application's "LXCT" command (its handler ignores the
// result; the tests look at it).
inline OSStatus CommandLXCT(MyCameraWindowDataStruct* record) {
  return record ? myStartControlLXScope(record) : OSStatus(noErr);
}

// Stands in for the closing of the camera's windows: the run ends first,
// then the guiding log is closed.
inline void CloseCameraWindows(MyCameraWindowDataStruct* record) {
  myStopLXScopeControl(record);
  if (record->mpGuideLogFile && record->mGuideLogOpen == 1) {
    fflush(record->mpGuideLogFile);
    fclose(record->mpGuideLogFile);
  }
  record->mpGuideLogFile = nullptr;
  record->mGuideLogOpen = 0;
}

// True while the process has the file open (a descriptor links to it).
inline bool IsOpen(const std::string& path) {
  bool open = false;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      char link[512];
      const std::string fd = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t n = readlink(fd.c_str(), link, sizeof link - 1);
      if (n > 0 && std::string(link, size_t(n)) == path) open = true;
    }
    closedir(d);
  }
  return open;
}

class ScopeTest : public UiTest {
 public:
  std::unique_ptr<SimMountPort> port_;
  std::unique_ptr<SimMountPort> second_;  // a second port, listed only by the tests that want it

 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    port_ = std::make_unique<SimMountPort>();
    second_ = std::make_unique<SimMountPort>();
    ASSERT_TRUE(port_->Ok());
    port_->SetProtocol(SimMountProtocol::LX200);
    SimInstallMount({port_->SlavePath()}, {});
    record_ = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    MyCameraWindowDataStruct& r = *record_;
    SetGuidingDefaults(r);
    r.mWidth = 64;
    r.mHeight = 48;
    r.mBitsPerPixel = 8;
    r.mExposureMS = 100.0;
    r.mControlWindow = MakeWindow("ORX_DCAM", "ControlWindow");
    ShowWindow(r.mControlWindow);
    logPath_ = dir_ + "/guiding.txt";
    r.mpGuideLogFile = fopen(logPath_.c_str(), "w");
    ASSERT_NE(r.mpGuideLogFile, nullptr);
    r.mGuideLogOpen = 1;
  }
  void TearDown() override {
    if (record_) {
      CloseCameraWindows(record_);
      if (record_->mControlWindow) DisposeWindow(record_->mControlWindow);
      free(record_);
    }
    myFailScopeControlAllocationForTesting(0);
    mySetGuideBusyWaitForTesting(10000);
    gScopeTestPausePoint = nullptr;
    gGuideTestPausePoint = nullptr;
    SimRemoveMount();
    port_.reset();
    second_.reset();
    UiTest::TearDown();
  }

  MCBS& Block() { return *record_->mpMCBSPtr; }
  WindowRef Window() { return record_->mpMCBSPtr ? record_->mpMCBSPtr->mWindow : nullptr; }
  ControlRef Control(OSType signature) { return skyloom::ui::FindControl(Window(), signature, 0); }
  std::string Status() { return skyloom::ui::ControlText(Control(FOUR_CHAR_CODE("MESG"))); }

  // The mount's commands once at least n have come in.
  std::vector<std::string> Commands(size_t n) {
    for (int i = 0; i < 5000 && port_->Commands().size() < n; i++) SkyloomSleepMicroseconds(2000);
    std::vector<std::string> out;
    for (auto& c : port_->Commands()) out.push_back(c.Text());
    EXPECT_GE(out.size(), n) << "the mount received fewer commands than expected";
    return out;
  }
  std::string Log() {
    if (record_->mpGuideLogFile) fflush(record_->mpGuideLogFile);
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Nothing of a run is left.
  void ExpectNoRun() {
    MyCameraWindowDataStruct& r = *record_;
    EXPECT_EQ(r.mpMCBSPtr, nullptr);
    EXPECT_EQ(r.mScopeControlOpen, 0);
    EXPECT_EQ(r.mScopeControlActive, 0);
    EXPECT_EQ(r.mGuideWindowShown, 0);
    EXPECT_EQ(r.mpMountCntlDevicePtr, nullptr);
    EXPECT_EQ(r.mSerial8BitBuffer, nullptr);
    EXPECT_EQ(r.mSerialHistoGramBuffer, nullptr);
    EXPECT_EQ(skyloom::ui::FindWindow("LXControls"), nullptr);
    EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
    EXPECT_FALSE(IsOpen(port_->SlavePath())) << "the mount's port is still open";
    EXPECT_FALSE(IsOpen(second_->SlavePath()));
  }

  MyCameraWindowDataStruct* record_ = nullptr;
  std::string logPath_;
};
