// The trigger submenu on the simulated cameras' register log, and the soft
// and hard regions of interest driven through their sheet by a scripted user.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "app/RegionsOfInterest.h"
#include "app/TriggerModes.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/app/ExposureFixture.h"

namespace {

using WriteList = std::vector<std::pair<UInt32, UInt32>>;

constexpr UInt32 kPin0 = 0x1110, kPin1 = 0x1120, kPin2 = 0x1130, kPin3 = 0x1140, kTrigger = 0x830;
constexpr UInt32 kIdle = 0x80000000, kInput = 0x80000001, kLow = 0x80010000, kHigh = 0x80010001;

// The trigger control register as the driver writes it: present, on/off
// bit, source in bits 21-23, mode in bits 16-19.
constexpr UInt32 TriggerWord(bool on, UInt32 source, UInt32 mode) {
  return 0x80000000u | (on ? 0x02000000u : 0) | source << 21 | mode << 16;
}

bool Checked(MenuRef menu, MenuItemIndex item) {
  CharParameter mark = 0;
  GetItemMark(menu, item, &mark);
  return mark != noMark;
}

// A Point Grey camera whose GPIO inquiry (0x1100) reports four pins: the
// alternate pin set is offered.
SimCameraPersonality FourPinTriggerCamera() {
  SimCameraPersonality p = SimPointGreyTriggerPersonality();
  p.registers[0x1100] = 0x80040000;
  return p;
}

class TriggerROITest : public ExposureTest {
 protected:
  void TearDown() override {
    gMyTriggerGrabArm = savedArm_;
    ExposureTest::TearDown();
  }

  // Opens the camera and inserts the trigger submenu as start-up does.
  MyCameraWindowDataStruct* OpenWithMenu(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = Open(p);
    if (!GetMenuRef(kMyCameraTriggerMenuID)) {
      IBNibRef nib = nullptr;
      MenuRef menu = nullptr;
      EXPECT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
      EXPECT_EQ(CreateMenuFromNib(nib, CFSTR("CameraTrigger"), &menu), noErr);
      DisposeNibReference(nib);
      InsertMenu(menu, hierMenu);
      ReleaseMenu(menu);
    }
    return r;
  }
  MenuRef TriggerMenu() { return GetMenuRef(kMyCameraTriggerMenuID); }

  // Register writes since the log was cleared, failed attempts included.
  WriteList AllWrites() {
    WriteList out;
    for (const SimLogEntry& e : Camera().Log())
      if (IsWrite(e)) out.push_back({e.offset, e.value});
    return out;
  }

  OSStatus (*savedArm_)(MyCameraWindowDataStruct*, UInt8) = gMyTriggerGrabArm;
};

// ---------------------------------------------------------------- trigger menu

TEST_F(TriggerROITest, TriggerItemsWriteThePinsModeAndSwitch) {
  MyCameraWindowDataStruct* r = OpenWithMenu(FourPinTriggerCamera());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->mIsPointGrey, 1);
  EXPECT_EQ(r->mTrigger4PinAvailable, 1);
  WindowRef w = r->mControlWindow;
  const WriteList kOnPinSet0 = {{kPin0, kInput}, {kPin1, kHigh}, {kPin2, kIdle}, {kPin3, kIdle}};
  const WriteList kOnPinSet1 = {{kPin0, kIdle}, {kPin1, kIdle}, {kPin2, kHigh}, {kPin3, kInput}};
  const WriteList kOffPins = {{kPin0, kLow}, {kPin1, kLow}, {kPin2, kLow}, {kPin3, kLow}};
  auto join = [](WriteList a, const WriteList& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* what;
    UInt8 pointGrey, pinSet;
    UInt32 item;
    WriteList writes;
    UInt32 triggerItem, mode;
  } kCases[] = {
      {"on, pin set 0", 1, 0, 1,
       join(kOnPinSet0, {{kTrigger, TriggerWord(true, 0, 0)}, {kTrigger, TriggerWord(true, 0, 0)}}), 1, 0},
      {"off, Point Grey", 1, 0, 0, join({{kTrigger, TriggerWord(false, 0, 0)}}, kOffPins), 0, 0},
      {"on, pin set 1", 1, 1, 1,
       join(kOnPinSet1, {{kTrigger, TriggerWord(true, 0, 0)}, {kTrigger, TriggerWord(true, 0, 0)}}), 1, 0},
      // While on, the mode toggle only moves the mark.
      {"mode 14 while on", 1, 1, 3, {}, 1, 14},
      {"on again, mode 14", 1, 0, 1,
       join(kOnPinSet0, {{kTrigger, TriggerWord(true, 0, 14)}, {kTrigger, TriggerWord(true, 0, 14)}}), 1, 14},
      {"off, not Point Grey", 0, 0, 0, {{kTrigger, TriggerWord(false, 0, 14)}}, 0, 14},
      {"mode 0 again", 0, 0, 3, {}, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    r->mIsPointGrey = c.pointGrey;
    r->mTrigger4Pin = c.pinSet;
    Camera().ClearLog();
    myChangeCameraTriggerMenuItem(w, c.item);
    EXPECT_EQ(AllWrites(), c.writes);
    EXPECT_EQ(r->mTriggerItem, c.triggerItem);
    EXPECT_EQ(r->mTriggerMode, c.mode);
    for (MenuItemIndex i = 1; i <= 3; i++) EXPECT_EQ(Checked(TriggerMenu(), i), i == c.triggerItem + 1) << i;
    EXPECT_EQ(Checked(TriggerMenu(), 4), c.mode == 14);
  }
}

TEST_F(TriggerROITest, PinSetToggleWritesPinsAndSourceAndSwitchesOn) {
  // A camera without pins still gets the pin registers and the source, and
  // the trigger goes on with mode 0; the pin-set item is unchecked and
  // disabled.
  MyCameraWindowDataStruct* r = OpenWithMenu(SimColourFireWirePersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mTrigger4PinAvailable, 0);
  Camera().ClearLog();
  myChangeTriggerPins(r->mControlWindow);
  const WriteList expected = {{kTrigger, TriggerWord(true, 0, 0)}, {kPin0, kInput}, {kPin1, kHigh}, {kPin2, kIdle},
                           {kPin3, kIdle},   {kTrigger, TriggerWord(true, 0, 0)}, {kTrigger, TriggerWord(true, 0, 0)}};
  EXPECT_EQ(AllWrites(), expected);
  EXPECT_NE(Camera().Peek(kTrigger) & 0x02000000u, 0u);
  EXPECT_EQ(r->mTrigger4Pin, 0);
  EXPECT_FALSE(IsMenuItemEnabled(TriggerMenu(), 5));
  EXPECT_FALSE(Checked(TriggerMenu(), 5));
}

TEST_F(TriggerROITest, PinSetToggleOnAFourPinCamera) {
  MyCameraWindowDataStruct* r = OpenWithMenu(FourPinTriggerCamera());
  ASSERT_NE(r, nullptr);
  Camera().ClearLog();
  myChangeTriggerPins(r->mControlWindow);
  EXPECT_EQ(r->mTrigger4Pin, 1);
  EXPECT_TRUE(IsMenuItemEnabled(TriggerMenu(), 5));
  EXPECT_TRUE(Checked(TriggerMenu(), 5));
  // Off before: switched on, pins of set 1, source 3, then mode 0.
  const WriteList expected = {{kTrigger, TriggerWord(true, 0, 0)}, {kPin0, kIdle}, {kPin1, kIdle}, {kPin2, kHigh},
                           {kPin3, kInput},  {kTrigger, TriggerWord(true, 3, 0)}, {kTrigger, TriggerWord(true, 3, 0)}};
  EXPECT_EQ(Writes(), expected);
  // Already on: no switch and no mode write; back to set 0, source 0.
  Camera().ClearLog();
  myChangeTriggerPins(r->mControlWindow);
  EXPECT_EQ(r->mTrigger4Pin, 0);
  EXPECT_FALSE(Checked(TriggerMenu(), 5));
  const WriteList again = {{kPin0, kInput}, {kPin1, kHigh}, {kPin2, kIdle}, {kPin3, kIdle},
                        {kTrigger, TriggerWord(true, 0, 0)}};
  EXPECT_EQ(Writes(), again);
}

TEST_F(TriggerROITest, FailedModeWriteIsReportedAndRunningRestored) {
  MyCameraWindowDataStruct* r = OpenWithMenu(FourPinTriggerCamera());
  ASSERT_NE(r, nullptr);
  // The status the driver gives for the refused write.
  Camera().FailRegister(kTrigger, SimAccessKind::Write, kIOReturnNotResponding, 1);
  const OSStatus status = ORXDCAMSetPropertyValue(r->mCameraHandle, 0x530, 9, 0);
  ASSERT_NE(status, noErr);
  Camera().FailRegister(kTrigger, SimAccessKind::Write, kIOReturnNotResponding, 1);
  r->mRunning = 1;
  testing::internal::CaptureStderr();
  myChangeCameraTriggerMenuItem(r->mControlWindow, 2);
  const std::string printed = testing::internal::GetCapturedStderr();
  char expected[128];
  snprintf(expected, sizeof expected, "myChangeCameraTriggerMenuItem ORX_TRIGGER_REG TRIG_MODE_CNTL 0x00 failed %d 0x%X\n",
           int(status), UInt32(status));
  EXPECT_EQ(printed, expected);
  EXPECT_EQ(r->mTriggerItem, 2u);
  EXPECT_TRUE(Checked(TriggerMenu(), 3));
  EXPECT_FALSE(Checked(TriggerMenu(), 1));
  EXPECT_EQ(r->mRunning, 1);
}

TEST_F(TriggerROITest, SaveEachFrameArmsAGrabWithoutTimeOut) {
  MyCameraWindowDataStruct* r = OpenWithMenu(FourPinTriggerCamera());
  ASSERT_NE(r, nullptr);
  static int arms;
  static int timeoutSeen;
  static int runningSeen;
  static OSStatus answer;
  arms = 0;
  timeoutSeen = runningSeen = -1;
  answer = noErr;
  gMyTriggerGrabArm = [](MyCameraWindowDataStruct* rec, UInt8 timeoutOn) -> OSStatus {
    arms++;
    timeoutSeen = timeoutOn;
    runningSeen = std::atomic_ref<UInt8>(rec->mRunning).load();
    return answer;
  };
  r->mRunning = 1;
  myChangeCameraTriggerMenuItem(r->mControlWindow, 2);
  EXPECT_EQ(arms, 1);
  EXPECT_EQ(timeoutSeen, 0);
  EXPECT_EQ(runningSeen, 0);  // the camera reads as stopped while it changes
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_NE(Camera().Peek(kTrigger) & 0x02000000u, 0u);
  // A refused grab ends the change: running is restored all the same.
  answer = -108;
  myChangeCameraTriggerMenuItem(r->mControlWindow, 0);
  myChangeCameraTriggerMenuItem(r->mControlWindow, 2);
  EXPECT_EQ(arms, 2);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_EQ(r->mTriggerItem, 2u);
}

// ---------------------------------------------------------------- soft region

class SoftROITest : public TriggerROITest {
 protected:
  MyCameraWindowDataStruct* OpenFrame(UInt32 width, UInt32 height) {
    MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
    if (r) {
      r->mWidth = width;
      r->mHeight = height;
    }
    return r;
  }
  WindowRef Sheet() { return skyloom::ui::FindWindow("SetROI"); }
  std::string SheetLabel(OSType signature) {
    return skyloom::ui::ControlText(skyloom::ui::FindControl(Sheet(), signature, 1));
  }
  ControlRef SheetSlider(OSType signature) { return skyloom::ui::FindControl(Sheet(), signature, 0); }
  void StoreRegion(MyCameraWindowDataStruct* r, UInt32 left, UInt32 top, UInt32 width, UInt32 height) {
    r->mSoftROILeft = left;
    r->mSoftROITop = top;
    r->mSoftROIWidth = width;
    r->mSoftROIHeight = height;
  }
};

TEST_F(SoftROITest, SheetOpensWithTheStoredRegionNormalised) {
  const struct {
    const char* what;
    UInt32 left, top, width, height;
    UInt32 shownLeft, shownTop, shownWidth, shownHeight;
  } kCases[] = {
      {"nothing stored: the full frame", 0, 0, 0, 0, 0, 0, 1280, 960},
      {"reaching the right edge: full width", 640, 100, 640, 200, 0, 100, 1280, 200},
      {"past the bottom: full height", 10, 900, 100, 100, 10, 0, 100, 960},
      {"inside", 100, 50, 400, 300, 100, 50, 400, 300},
  };
  MyCameraWindowDataStruct* r = OpenFrame(1280, 960);
  ASSERT_NE(r, nullptr);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    StoreRegion(r, c.left, c.top, c.width, c.height);
    skyloom::ui::ScriptedUser user;
    user.Do([&] {
          ASSERT_NE(Sheet(), nullptr);
          EXPECT_EQ(skyloom::ui::SheetOf(r->mControlWindow), Sheet());
          EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("LEFT")), std::to_string(c.shownLeft));
          EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("TOP_")), std::to_string(c.shownTop));
          EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("WIDT")), std::to_string(c.shownWidth));
          EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("HEIG")), std::to_string(c.shownHeight));
          // Steps of 2 pixels; the offsets' ranges leave room for the size.
          ControlRef width = SheetSlider(FOUR_CHAR_CODE("WIDT")), left = SheetSlider(FOUR_CHAR_CODE("LEFT"));
          EXPECT_EQ(GetControl32BitMinimum(width), 1);
          EXPECT_EQ(GetControl32BitMaximum(width), 640);
          EXPECT_EQ(GetControl32BitValue(width), SInt32(c.shownWidth / 2));
          EXPECT_EQ(GetControl32BitMaximum(left), SInt32((1280 - c.shownWidth) / 2));
          EXPECT_EQ(GetControl32BitValue(left), SInt32(c.shownLeft / 2));
          EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("TOP_"))), SInt32((960 - c.shownHeight) / 2));
        })
        .ClickOK();
    myGetUserSoftROISettings();
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(Sheet(), nullptr);
    EXPECT_EQ(r->mSoftROILeft, c.shownLeft);
    EXPECT_EQ(r->mSoftROIWidth, c.shownWidth);
    const UInt8 smaller = c.shownWidth < 1280 || c.shownHeight < 960;
    EXPECT_EQ(r->mSoftROIEnabled, smaller);
    EXPECT_EQ(r->mSoftROIActive, smaller);
  }
}

TEST_F(SoftROITest, WidthAndCentreMoveTheRegion) {
  MyCameraWindowDataStruct* r = OpenFrame(1280, 960);
  ASSERT_NE(r, nullptr);
  StoreRegion(r, 0, 0, 0, 0);
  skyloom::ui::ScriptedUser user;
  user.SetValue(FOUR_CHAR_CODE("WIDT"), 0, 320)
      .Do([&] {
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("WIDT")), "640");
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("LEFT"))), 320);
      })
      .SetValue(FOUR_CHAR_CODE("LEFT"), 0, 320)  // right against the edge
      .SetValue(FOUR_CHAR_CODE("WIDT"), 0, 400)  // 800 wide: left is pulled back to 480
      .Do([&] {
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("LEFT")), "480");
        EXPECT_EQ(GetControl32BitValue(SheetSlider(FOUR_CHAR_CODE("LEFT"))), 240);
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("LEFT"))), 240);
      })
      .SetValue(FOUR_CHAR_CODE("WIDT"), 0, 320)
      .SetValue(FOUR_CHAR_CODE("HEIG"), 0, 101)  // 202 high
      .Click(FOUR_CHAR_CODE("CENT"), 0)
      .Do([&] {
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("LEFT")), "320");
        EXPECT_EQ(GetControl32BitValue(SheetSlider(FOUR_CHAR_CODE("LEFT"))), 160);
        // (960 - 202) / 2 = 379, on the grid of 2: 378.
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("TOP_")), "378");
      })
      .ClickOK();
  myGetUserSoftROISettings();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mSoftROILeft, 320u);
  EXPECT_EQ(r->mSoftROITop, 378u);
  EXPECT_EQ(r->mSoftROIWidth, 640u);
  EXPECT_EQ(r->mSoftROIHeight, 202u);
  EXPECT_EQ(r->mSoftROIEnabled, 1);
  EXPECT_EQ(r->mSoftROIActive, 1);
}

TEST_F(SoftROITest, CancelKeepsTheRegionAndRecomputesTheFlags) {
  const struct {
    const char* what;
    UInt32 left, top, width, height;
    UInt8 flagsBefore, flagsAfter;
  } kCases[] = {
      {"a smaller region inside", 100, 100, 200, 200, 0, 1},
      // Stored for a larger mode: it does not lie inside this frame.
      {"a region of a larger mode", 0, 0, 1280, 960, 1, 0},
      {"a region sticking out on the right only", 600, 0, 100, 100, 1, 0},
      {"the full frame", 0, 0, 640, 480, 1, 0},
      {"nothing stored", 0, 0, 0, 0, 1, 0},
  };
  MyCameraWindowDataStruct* r = OpenFrame(640, 480);
  ASSERT_NE(r, nullptr);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    StoreRegion(r, c.left, c.top, c.width, c.height);
    r->mSoftROIEnabled = r->mSoftROIActive = c.flagsBefore;
    skyloom::ui::ScriptedUser user;
    user.SetValue(FOUR_CHAR_CODE("WIDT"), 0, 10).ClickCancel();
    myGetUserSoftROISettings();
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(r->mSoftROILeft, c.left);
    EXPECT_EQ(r->mSoftROITop, c.top);
    EXPECT_EQ(r->mSoftROIWidth, c.width);
    EXPECT_EQ(r->mSoftROIHeight, c.height);
    EXPECT_EQ(r->mSoftROIEnabled, c.flagsAfter);
    EXPECT_EQ(r->mSoftROIActive, c.flagsAfter);
  }
}

TEST_F(SoftROITest, NothingWithoutACameraWindowInFront) {
  MyCameraWindowDataStruct* r = OpenFrame(640, 480);
  ASSERT_NE(r, nullptr);
  HideWindow(r->mControlWindow);
  HideWindow(r->mVideoWindow);
  StoreRegion(r, 0, 0, 0, 0);
  r->mSoftROIEnabled = 1;
  const size_t windows = skyloom::ui::Windows().size();
  myGetUserSoftROISettings();
  EXPECT_EQ(skyloom::ui::Windows().size(), windows);
  EXPECT_EQ(r->mSoftROIEnabled, 1);
}

// A region stored for a larger size stops counting when the video size
// shrinks, and counts again when it is back.
TEST_F(SoftROITest, SizeChangesRecomputeTheActiveFlag) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);  // 1280x960 Format 7
  ASSERT_EQ(r->mWidth, 1280u);
  StoreRegion(r, 100, 100, 1000, 800);
  r->mSoftROIEnabled = r->mSoftROIActive = 1;
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 0), noErr);  // 640x480
  EXPECT_EQ(r->mWidth, 640u);
  EXPECT_EQ(r->mSoftROIActive, 0);
  EXPECT_EQ(r->mSoftROIEnabled, 1);  // the user's choice is kept for the larger size
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->mSoftROIActive, 1);
}

// ---------------------------------------------------------------- hard region

class HardROITest : public SoftROITest {};

TEST_F(HardROITest, FixedFormatOnlyBeeps) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 0), noErr);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(r->mFormat, 0u);
  const long beeps = SkyloomBeepCount();
  const size_t windows = skyloom::ui::Windows().size();
  skyloom::ui::ScriptedUser user;
  myGetUserHardROISettings();
  EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
  EXPECT_EQ(skyloom::ui::Windows().size(), windows);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(HardROITest, OKProgramsTheRegionAndDropsCalibration) {
  MyCameraWindowDataStruct* r = Open(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);  // 1280x960 Format 7 mode 0
  ASSERT_EQ(r->mFormat, 7u);
  r->mUseDarkFrame = r->mDarkFrameAvailable = r->mUseFlatFrame = r->mFlatFrameAvailable = 1;
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        // Width and left steps 4, height and top steps 2 (the mode's units).
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("WIDT"))), 320);
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("HEIG"))), 480);
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("WIDT")), "1280");
      })
      .SetValue(FOUR_CHAR_CODE("WIDT"), 0, 160)
      .SetValue(FOUR_CHAR_CODE("HEIG"), 0, 240)
      .Click(FOUR_CHAR_CODE("CENT"), 0)
      .ClickOK();
  myGetUserHardROISettings();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mLeft, 320u);
  EXPECT_EQ(r->mTop, 240u);
  EXPECT_EQ(r->mWidth, 640u);
  EXPECT_EQ(r->mHeight, 480u);
  EXPECT_EQ(r->mF7ROIOn, 1);
  EXPECT_EQ(r->mUseDarkFrame | r->mDarkFrameAvailable | r->mUseFlatFrame | r->mFlatFrameAvailable, 0);
  // The camera's Format 7 block holds the region.
  EXPECT_EQ(Camera().Peek(kSimFormat7BlockBase + 0x08), 320u << 16 | 240u);
  EXPECT_EQ(Camera().Peek(kSimFormat7BlockBase + 0x0C), 640u << 16 | 480u);

  // The full size again: no region in force.
  skyloom::ui::ScriptedUser again;
  again.SetValue(FOUR_CHAR_CODE("WIDT"), 0, 320).SetValue(FOUR_CHAR_CODE("HEIG"), 0, 480).ClickOK();
  testing::internal::CaptureStderr();
  myGetUserHardROISettings();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(again.Errors().empty());
  EXPECT_EQ(r->mWidth, 1280u);
  EXPECT_EQ(r->mHeight, 960u);
  EXPECT_EQ(r->mLeft, 0u);
  EXPECT_EQ(r->mF7ROIOn, 0);
  EXPECT_EQ(Camera().Peek(kSimFormat7BlockBase + 0x0C), 1280u << 16 | 960u);
}

TEST_F(HardROITest, UnitStepOfOneIsUsedAsTwo) {
  SimCameraPersonality p = SimDefaultColourPersonality();
  p.registers[kSimFormat7BlockBase + 0x04] = 1u << 16 | 1u;
  p.registers[kSimFormat7BlockBase + 0x4C] = 1u << 16 | 1u;
  MyCameraWindowDataStruct* r = Open(p);
  ASSERT_NE(r, nullptr);
  testing::internal::CaptureStderr();
  ASSERT_EQ(mySetCameraFMRByIndexItem(r, 2), noErr);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(r->mF7UnitWidth, 1u);
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("WIDT"))), 640);
        EXPECT_EQ(GetControl32BitMaximum(SheetSlider(FOUR_CHAR_CODE("HEIG"))), 480);
      })
      .SetValue(FOUR_CHAR_CODE("WIDT"), 0, 101)
      .SetValue(FOUR_CHAR_CODE("LEFT"), 0, 3)
      .Do([&] {
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("WIDT")), "202");
        EXPECT_EQ(SheetLabel(FOUR_CHAR_CODE("LEFT")), "6");
      })
      .ClickCancel();
  myGetUserHardROISettings();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mWidth, 1280u);  // cancelled: nothing changes
  EXPECT_EQ(r->mF7ROIOn, 0);
}

}  // namespace
