// The trigger's save-each-frame item with the real grab, display timer and
// external triggers of the simulated camera; and a recording made after the
// video size shrank below a stored soft region.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FrameGrabs.h"
#include "app/RegionsOfInterest.h"
#include "app/TriggerModes.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/app/CaptureFolder.h"
#include "tests/app/DisplayTimerHarness.h"
#include "tests/support/TestFiles.h"

namespace {

class TriggerGrabTest : public DisplayTimerHarness {
 protected:
  void SetUp() override {
    DisplayTimerHarness::SetUp();
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
    DisposeNibReference(nib);
  }
  void TearDown() override {
    if (record_) {
      myStopRecordMovie(record_);
      if (record_->mCaptureLogFile) fclose(record_->mCaptureLogFile);
      record_->mCaptureLogFile = nullptr;
      record_->mCaptureLogOpen = 0;
    }
    DisplayTimerHarness::TearDown();
  }

  // An open camera whose captures go to saveFolder_ without asking, named
  // by the counter, each logged.
  MyCameraWindowDataStruct* OpenWithFolder(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!r) return nullptr;
    SaveCapturesTo(r, saveFolder_);
    r->mFileNaming = 3;
    r->mCaptureLogOn = 1;
    r->mAddNoteOn = 0;
    return r;
  }
  std::vector<std::string> Files(const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(saveFolder_)) {
      const std::string n = e.path().filename().string();
      if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  bool Enabled(OSType signature) { return IsControlEnabled(Control(signature)); }
};

TEST_F(TriggerGrabTest, SaveEachFrameKeepsTheGrabArmedAcrossTriggers) {
  MyCameraWindowDataStruct* r = OpenWithFolder(SimPointGreyTriggerPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_NE(GetMenuRef(kMyCameraTriggerMenuID), nullptr);
  r->mGrabControlsEnabled = 1;
  ASSERT_EQ(StartVideo(-1, false), noErr);
  // The trigger goes on before the stream starts, so no free-running frame
  // comes.
  myChangeCameraTriggerMenuItem(r->mControlWindow, 2);
  ASSERT_EQ(r->mTriggerItem, 2u);
  EXPECT_EQ(r->mGrabTimeoutOn, 0);
  EXPECT_EQ(std::atomic_ref<SInt32>(r->mGrabPending).load(), 1);
  for (OSType c : {FOUR_CHAR_CODE("GRFR"), FOUR_CHAR_CODE("GMOV"), FOUR_CHAR_CODE("GRAV"), FOUR_CHAR_CODE("GRSM")})
    EXPECT_FALSE(Enabled(c));
  ASSERT_EQ(ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 1), noErr);
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, myDisplayCallback, r), noErr);
  streaming_ = true;
  ASSERT_EQ(ORXDCAMStartStopVideo(r->mCameraHandle, 1), noErr);

  for (size_t i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(Camera().FireTrigger());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);  // hang guard
    while (Files(".tiff").size() < i + 1 && std::chrono::steady_clock::now() < deadline) {
      Tick();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(Files(".tiff").size(), i + 1);
    // Still armed for the next trigger.
    EXPECT_EQ(std::atomic_ref<SInt32>(r->mGrabPending).load(), 1);
    EXPECT_EQ(std::atomic_ref<UInt8>(r->mGrabWanted).load(), 1);
  }
  const std::vector<std::string> expected = {"0000000000_S.tiff", "0000000001_S.tiff", "0000000002_S.tiff"};
  EXPECT_EQ(Files(".tiff"), expected);
  ASSERT_EQ(Files(".txt").size(), 1u);
  fflush(r->mCaptureLogFile);
  const std::string log = skyloom::test::RunStdout("cat '" + saveFolder_ + "/" + Files(".txt")[0] + "'");
  for (const std::string& name : expected)
    EXPECT_NE(log.find("=================== File:" + name + " #frames 1\r"), std::string::npos) << name;
  EXPECT_EQ(skyloom::ui::Alerts().size(), 0u);

  // Off: the grab controls follow mGrabControlsEnabled again.
  myChangeCameraTriggerMenuItem(r->mControlWindow, 0);
  EXPECT_EQ(Camera().Peek(0x830) & 0x02000000u, 0u);
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("GRAV")));
  EXPECT_TRUE(Enabled(FOUR_CHAR_CODE("GRSM")));
}

TEST_F(TriggerGrabTest, HardRegionUnchecksDarkAndFlat) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);
  for (OSType c : {FOUR_CHAR_CODE("UDKF"), FOUR_CHAR_CODE("UBRF")}) SetControl32BitValue(Control(c), 1);
  skyloom::ui::ScriptedUser user;
  user.SetValue(FOUR_CHAR_CODE("WIDT"), 0, 160).SetValue(FOUR_CHAR_CODE("HEIG"), 0, 240).ClickOK();
  myGetUserHardROISettings();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mF7ROIOn, 1);
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("UDKF"))), 0);
  EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("UBRF"))), 0);
}

// A soft region stored for the 1280 x 960 mode, then the 640 x 480 mode and
// a recording: the movie holds whole 640 x 480 frames. The second case
// forces the flags up again, as a region read with them would leave them.
TEST_F(TriggerGrabTest, ARecordingAfterTheSizeShrankHoldsWholeFrames) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
  for (bool forced : {false, true}) {
    SCOPED_TRACE(forced ? "flags forced" : "flags recomputed");
    MyCameraWindowDataStruct* r = OpenWithFolder(SimDefaultColourPersonality());
    ASSERT_NE(r, nullptr);
    r->mCaptureLogOn = 0;
    testing::internal::CaptureStderr();
    ASSERT_EQ(StartVideo(2, false), noErr);
    ASSERT_EQ(r->mWidth, 1280u);
    r->mSoftROIEnabled = r->mSoftROIActive = 1;
    r->mSoftROILeft = forced ? 0 : 100;
    r->mSoftROITop = forced ? 0 : 100;
    r->mSoftROIWidth = forced ? 1280 : 1000;
    r->mSoftROIHeight = forced ? 960 : 800;
    StopVideo();
    ASSERT_EQ(StartVideo(0, false), noErr);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(r->mWidth, 640u);
    EXPECT_EQ(r->mSoftROIActive, 0);
    if (forced) r->mSoftROIActive = 1;
    r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
    ASSERT_EQ(mySetUpRecordMovie(r), noErr);
    for (UInt32 i = 0; i < 4; i++) {
      std::vector<UInt8> f = Reference(1 + i);
      myDisplayCallback(r->mWidth, r->mHeight, UInt32(f.size()), f.data(), r, 33.3, 100.0 + 33.3 * i);
    }
    const std::string movie = saveFolder_ + "/" + CaptureName(r->mMovieFileSpec);
    myStopRecordMovie(r);
    const std::string probe = skyloom::test::Run(
        "ffprobe -v error -count_frames -show_entries stream=width,height,nb_read_frames -of default=nw=1 '" + movie +
        "'");
    EXPECT_NE(probe.find("width=640"), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=480"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=3"), std::string::npos) << probe;
    StopVideo();
    CloseCamera();
    std::filesystem::remove(movie);
  }
}

}  // namespace
