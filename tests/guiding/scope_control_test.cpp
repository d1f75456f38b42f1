// Scope-control runs: building and tearing down the run, its failures, the
// guiding window's commands as the user clicks them, and the stop racing a
// centroid step on the delivery thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/guiding/ScopeFixture.h"

using skyloom::ui::ControlText;
using skyloom::ui::ControlTitle;
using skyloom::ui::FindWindow;
using skyloom::ui::ScriptedUser;

namespace {

constexpr OSType kPrefs = FOUR_CHAR_CODE("pref");

// A menu in the bar holding the preferences command, disabled.
MenuRef PrefsMenu() {
  MenuRef menu = nullptr;
  EXPECT_EQ(CreateNewMenu(200, 0, &menu), noErr);
  AppendMenuItemTextWithCFString(menu, CFSTR("Preferences"), 0, kPrefs, nullptr);
  DisableMenuItem(menu, 1);
  InsertMenu(menu, 0);
  return menu;
}

TEST_F(ScopeTest, RunOpensTheWindowAsASheetAndStopReleasesEverything) {
  MyCameraWindowDataStruct& r = *record_;
  MenuRef prefs = PrefsMenu();
  ScriptedUser user;
  MCBS* during = nullptr;
  user.Do([&] {
    during = r.mpMCBSPtr;
    ASSERT_NE(during, nullptr);
    EXPECT_EQ(during->mKind, kMCBSKind);
    EXPECT_EQ(r.mScopeControlOpen, 1);
    EXPECT_EQ(r.mScopeControlActive, 1);
    EXPECT_EQ(r.mGuideWindowShown, 1);
    EXPECT_EQ(skyloom::ui::SheetOf(r.mControlWindow), during->mWindow);
    EXPECT_EQ(GetWRefCon(during->mWindow), SRefCon(during));
    EXPECT_EQ(Status(), "Status: Idle");
    EXPECT_EQ(r.mMountCntlDeviceKind, UInt32(kMountCntlLX200));
    EXPECT_EQ(r.mMinPulseMs, 8.0);
    EXPECT_EQ(r.mFramesToAverage, 10u);
    EXPECT_NE(r.mSerial8BitBuffer, nullptr);
    EXPECT_NE(r.mSerialHistoGramBuffer, nullptr);
    EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("TRAK"))));  // no calibration yet
    EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("SPED"))));
    EXPECT_EQ(during->mHistoryStart, kMCBSHistoryLength);
    // The view lies over the chart area and embeds.
    HIViewRef view = during->mGuideHistogramView;
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(during->mGuideHistogramInstance, view);
    HIRect frame{}, area{};
    EXPECT_EQ(HIViewGetFrame(view, &frame), noErr);
    EXPECT_EQ(HIViewGetFrame(Control(FOUR_CHAR_CODE("TRBX")), &area), noErr);
    EXPECT_EQ(frame.origin.x, area.origin.x);
    EXPECT_EQ(frame.origin.y, area.origin.y);
    EXPECT_EQ(frame.size.width, area.size.width);
    EXPECT_EQ(frame.size.height, area.size.height);
    EXPECT_TRUE(HIViewIsVisible(view));
    UInt32 features = 0;
    EXPECT_EQ(GetControlFeatures(view, &features), noErr);
    EXPECT_EQ(features & kControlSupportsEmbedding, UInt32(kControlSupportsEmbedding));
    EXPECT_EQ(during->mTrackBoxBounds[0], 266);
    EXPECT_EQ(during->mTrackBoxBounds[3], 540);
    // Initial stop-all, then the guide rate.
    auto commands = Commands(2);
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "#:Q#");
    EXPECT_EQ(commands[1], "#:RG#");
    EXPECT_EQ(Log(), "Guiding via " + port_->SlavePath() + " Device \r");
    // A second "LXCT" during the run changes nothing.
    EXPECT_EQ(CommandLXCT(record_), noErr);
    EXPECT_EQ(r.mpMCBSPtr, during);
    EXPECT_EQ(port_->Commands().size(), 2u);
    EXPECT_FALSE(IsMenuItemEnabled(prefs, 1));
  });
  user.ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
  EXPECT_TRUE(IsMenuItemEnabled(prefs, 1));
  // The stop: stop-all as the pulse is cancelled, as calibration is removed
  // and before the device closes, then the guide rate.
  auto commands = Commands(6);
  ASSERT_EQ(commands.size(), 6u);
  for (size_t i = 2; i < 5; i++) EXPECT_EQ(commands[i], "#:Q#") << i;
  EXPECT_EQ(commands[5], "#:RG#");
  // Stopping again, or with no run, is harmless.
  myStopLXScopeControl(record_);
  myStopLXScopeControl(nullptr);
  ExpectNoRun();
  DeleteMenu(200);
  DisposeMenu(prefs);
}

TEST_F(ScopeTest, FramesToAverageFollowTheExposure) {
  const struct {
    double exposureMs;
    UInt32 frames;
  } cases[] = {{2500.0, 1}, {40.0, 25}, {999.0, 1}, {1000.0, 1}, {0.0, 0xFFFFFFFFu}};
  for (const auto& c : cases) {
    record_->mExposureMS = c.exposureMs;
    ScriptedUser user;
    UInt32 seen = 0;
    user.Do([&] { seen = record_->mFramesToAverage; }).ClickCancel();
    EXPECT_EQ(CommandLXCT(record_), noErr);
    EXPECT_EQ(seen, c.frames) << c.exposureMs << " ms";
  }
}

TEST_F(ScopeTest, PopUpsAreSetFromTheRecord) {
  MyCameraWindowDataStruct& r = *record_;
  // 'CAMT' items outside 1..14 give 2000 ms.
  for (UInt32 item : {0u, 15u, 9u}) {
    r.mCalibrationMoveItem = item;
    ScriptedUser user;
    double ms = 0;
    user.Do([&] { ms = Block().mCalibrationMoveMs; }).ClickCancel();
    EXPECT_EQ(CommandLXCT(record_), noErr);
    EXPECT_EQ(ms, item == 9 ? 10000.0 : 2000.0) << item;
  }
  // Every accuracy the pop-up offers comes back as its item, in single
  // precision (0.7 and 0.9 truncate to 6 and 8 in double arithmetic).
  for (SInt32 item = 1; item <= 19; item++) {
    r.mTrackAccuracy = item <= 10 ? float(item) * 0.1f : float(item - 9);
    ScriptedUser user;
    SInt32 shown = 0;
    user.Do([&] { shown = GetControl32BitValue(Control(FOUR_CHAR_CODE("ACCU"))); }).ClickCancel();
    EXPECT_EQ(CommandLXCT(record_), noErr);
    EXPECT_EQ(shown, item) << r.mTrackAccuracy;
  }
  // The other pop-ups and check boxes.
  r.mCorrectionOrder = 2;
  r.mDecCalibrationMode = 3;
  r.mMinRAMotionPixels = 15;
  r.mMinDecMotionPixels = 20;
  r.mSkipLargeChanges = 1;
  r.mMultipleObjects = 1;
  r.mTurbulenceLimit = 1;
  r.mEliminateHotPixels = 1;
  r.mFWHMAveraging = 1;
  ScriptedUser user;
  user.Do([&] {
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("RAFS"))), 3);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("CADE"))), 3);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("RAPX"))), 3);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("DEPX"))), 4);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("SKIP"))), 1);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("MOBJ"))), 1);
    // Several objects: no turbulence limit and no hot-pixel centroid.
    for (OSType s : {FOUR_CHAR_CODE("TURB"), FOUR_CHAR_CODE("EEHP")}) {
      EXPECT_EQ(GetControl32BitValue(Control(s)), 0);
      EXPECT_FALSE(IsControlEnabled(Control(s)));
    }
    EXPECT_EQ(r.mTurbulenceLimit, 0);
    EXPECT_EQ(r.mEliminateHotPixels, 0);
    EXPECT_EQ(r.mFWHMAveraging, 0);
    EXPECT_EQ(r.mFullFrameSearch, 1);
  });
  user.ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
}

TEST_F(ScopeTest, CancelledLogDialogLeavesTheRunWithoutALog) {
  MyCameraWindowDataStruct& r = *record_;
  fclose(r.mpGuideLogFile);
  r.mpGuideLogFile = nullptr;
  r.mGuideLogOpen = 0;
  ScriptedUser user;
  bool ran = false;
  user.ClickCancel().Do([&] {
    ran = r.mpMCBSPtr != nullptr && r.mScopeControlActive == 1;
    EXPECT_EQ(r.mGuideLogOpen, 0);
    EXPECT_EQ(r.mpGuideLogFile, nullptr);
  });
  user.ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
}

TEST_F(ScopeTest, CalibrationStateSurvivesOnlyWhenCompleted) {
  MyCameraWindowDataStruct& r = *record_;
  // A completed calibration: 'TRAK' is offered and the axes stay calibrated.
  r.mGuidingOn = 1;
  r.mCorrectRA = r.mCorrectDec = 1;
  {
    ScriptedUser user;
    bool trackable = false;
    user.Do([&] { trackable = IsControlEnabled(Control(FOUR_CHAR_CODE("TRAK"))); }).ClickCancel();
    EXPECT_EQ(CommandLXCT(record_), noErr);
    EXPECT_TRUE(trackable);
    EXPECT_EQ(r.mCorrectRA, 1);
    EXPECT_EQ(r.mCorrectDec, 1);
  }
  // A calibration started and interrupted: nothing of it is kept.
  ScriptedUser user;
  user.Click(FOUR_CHAR_CODE("CALI"), 0)
      .Type(FOUR_CHAR_CODE("DECV"), 0, "0", "EnterDeclination")
      .ClickOK("EnterDeclination")
      .Do([&] {
        EXPECT_EQ(Block().mCalibrating, 1);
        EXPECT_EQ(r.mGuidingActive, 1);
        EXPECT_EQ(r.mGuidingOn, 0);
        EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("LEFT"))));
        EXPECT_FALSE(IsControlEnabled(Control(kHICommandCancel)));
        EXPECT_EQ(ControlTitle(Control(FOUR_CHAR_CODE("CALI"))), "STOPCALIBRATION");
      })
      .ClickCancel()  // stops calibration only
      .Do([&] {
        ASSERT_NE(r.mpMCBSPtr, nullptr);
        EXPECT_EQ(Block().mCalibrating, 0);
        EXPECT_EQ(r.mGuidingActive, 0);
        EXPECT_EQ(Status(), "Status: Idle");
        EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("LEFT"))));
      })
      .ClickCancel();  // closes
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r.mCorrectRA, 0);
  EXPECT_EQ(r.mCorrectDec, 0);
  ExpectNoRun();
}

// ------------------------------------------------------------ failures

struct Failure {
  const char* name;
  std::function<void(ScopeTest*, ScriptedUser&)> arrange;
  OSStatus result;
  std::vector<std::string> lines;  // the start's own lines, before the bail line
};

class ScopeFailureTest : public ScopeTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(ScopeFailureTest, EachFailedStepIsReportedAndLeavesNothing) {
  const Failure& f = GetParam();
  ScriptedUser user;
  f.arrange(this, user);
  testing::internal::CaptureStderr();
  const OSStatus err = CommandLXCT(record_);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, f.result);
  size_t at = 0;
  for (const std::string& line : f.lines) {
    const size_t found = out.find(line, at);
    EXPECT_NE(found, std::string::npos) << "missing \"" << line << "\" in:\n" << out;
    if (found != std::string::npos) at = found + line.size();
  }
  char bailLine[128];
  snprintf(bailLine, sizeof bailLine, "myStartControlLXScope : An Err %d  0x%X occured  - bailing\n", int(f.result),
           unsigned(f.result));
  if (std::string(f.name) == "Block")
    EXPECT_EQ(out.find("bailing"), std::string::npos);
  else
    EXPECT_NE(out.find(bailLine, at), std::string::npos) << out;
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ScopeFailureTest,
    ::testing::Values(
        Failure{"Block", [](ScopeTest*, ScriptedUser&) { myFailScopeControlAllocationForTesting(1); }, memFullErr,
                {"myStartControlLXScope malloc() mpMCBSPtr != NULL\n"}},
        Failure{"DeviceDialogCancelled",
                [](ScopeTest* t, ScriptedUser& user) {
                  SimInstallMount({t->port_->SlavePath(), t->second_->SlavePath()}, {});
                  user.ClickCancel("SelectSerialInterface").AnswerAlert();
                },
                memFullErr, {}},
        Failure{"Nib",
                [](ScopeTest*, ScriptedUser&) {
                  // The device's dialog reads the nib first.
                  skyloom::ui::InjectFailureAt("CreateNibReference", kIBCarbonRuntimeCantFindNibFile, 2);
                },
                kIBCarbonRuntimeCantFindNibFile, {}},
        Failure{"ViewClass",
                [](ScopeTest*, ScriptedUser&) { skyloom::ui::InjectFailure("HIObjectRegisterSubclass", paramErr); },
                paramErr,
                {"-------------- HIObjectRegisterSubclass Installed -50 err\n",
                 "myStartControlLXScope : CreateWindowFromNib failed -50\n"}},
        Failure{"Window",
                [](ScopeTest*, ScriptedUser&) {
                  skyloom::ui::InjectFailureAt("CreateWindowFromNib", kIBCarbonRuntimeCantFindObject, 2);
                },
                kIBCarbonRuntimeCantFindObject, {"myStartControlLXScope : CreateWindowFromNib failed -10962\n"}},
        Failure{"HistogramBuffer", [](ScopeTest*, ScriptedUser&) { myFailScopeControlAllocationForTesting(2); },
                memFullErr, {"myStartControlLXScope: malloc() mSerialHistoGramBuffer failed -108\n"}},
        Failure{"PlaneBuffer", [](ScopeTest*, ScriptedUser&) { myFailScopeControlAllocationForTesting(3); },
                memFullErr, {"myStartControlLXScope: malloc() mSerial8BitBuffer failed -108\n"}},
        Failure{"Handler",
                [](ScopeTest*, ScriptedUser&) { skyloom::ui::InjectFailure("InstallEventHandler", eventInternalErr); },
                eventInternalErr, {"myStartControlLXScope: InstallEventHandler failed -9868\n"}}),
    [](const ::testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

TEST_F(ScopeTest, AViewClassRegisteredAlreadyCountsAsSuccess) {
  HIObjectClassRef other = nullptr;
  const EventTypeSpec construct = {kEventClassHIObject, kEventHIObjectConstruct};
  ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.guide.histogram"), kHIViewClassID, 0,
                                     [](EventHandlerCallRef, EventRef, void*) -> OSStatus { return noErr; }, 1,
                                     &construct, nullptr, &other),
            noErr);
  ScriptedUser user;
  bool ran = false;
  user.Do([&] {
    ran = record_->mScopeControlActive == 1;
    EXPECT_EQ(Block().mGuideHistogramView, nullptr);  // not through someone else's class
  });
  user.ClickCancel();
  testing::internal::CaptureStderr();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ran);
  EXPECT_NE(out.find("myCameraHistogramCustomControlHandler Installed failed -22080\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("bailing"), std::string::npos);
  EXPECT_EQ(HIObjectUnregisterClass(other), noErr);
  ExpectNoRun();
}

TEST_F(ScopeTest, AFailedViewOnlyLeavesTheRunWithoutIt) {
  skyloom::ui::InjectFailure("HIObjectCreate", memFullErr);
  ScriptedUser user;
  bool ran = false;
  user.Do([&] { ran = Block().mGuideHistogramView == nullptr && record_->mScopeControlActive == 1; }).ClickCancel();
  testing::internal::CaptureStderr();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(ran);
  EXPECT_NE(out.find("HIObjectCreate(CFSTR (com.skyloom.guide.histogram) err -108\n"), std::string::npos) << out;
  ExpectNoRun();
}

// ------------------------------------------------------------ the window's commands

TEST_F(ScopeTest, ManualMovesLatchOneDirectionPerAxis) {
  ScriptedUser user;
  const OSType left = FOUR_CHAR_CODE("LEFT"), right = FOUR_CHAR_CODE("RIGT");
  const OSType up = FOUR_CHAR_CODE("UPPP"), down = FOUR_CHAR_CODE("DOWN");
  auto value = [&](OSType s) { return GetControl32BitValue(Control(s)); };
  user.Do([&] { Commands(2); })
      .Click(left, 0)
      .Do([&] {
        EXPECT_EQ(Commands(3).back(), "#:Me#");
        EXPECT_EQ(Status(), "Status: Left");
        EXPECT_EQ(value(left), 1);
      })
      .Click(right, 0)
      .Do([&] {
        auto c = Commands(5);
        EXPECT_EQ(c[3], "#:Qe#");
        EXPECT_EQ(c[4], "#:Mw#");
        EXPECT_EQ(value(left), 0);
        EXPECT_EQ(value(right), 1);
        EXPECT_EQ(Block().mMoveLeft, 0);
        EXPECT_EQ(Status(), "Status: Right");
      })
      .Click(right, 0)
      .Do([&] {
        EXPECT_EQ(Commands(6).back(), "#:Qw#");
        EXPECT_EQ(Status(), "Status: Idle");
        EXPECT_EQ(value(right), 0);
      })
      .Click(up, 0)
      .Do([&] {
        EXPECT_EQ(Commands(7).back(), "#:Mn#");
        EXPECT_EQ(Status(), "Status: Up");
      })
      .Click(down, 0)
      .Do([&] {
        auto c = Commands(9);
        EXPECT_EQ(c[7], "#:Qn#");
        EXPECT_EQ(c[8], "#:Ms#");
        EXPECT_EQ(Status(), "Status: Down");
      })
      .Click(FOUR_CHAR_CODE("STOP"), 0)
      .Do([&] {
        EXPECT_EQ(Commands(10).back(), "#:Q#");
        EXPECT_EQ(Status(), "Status: Idle");
        for (OSType s : {left, right, up, down}) EXPECT_EQ(value(s), 0);
        EXPECT_EQ(Block().mMoveDown, 0);
      })
      .ChooseItem(FOUR_CHAR_CODE("SPED"), 0, 3)
      .Do([&] { EXPECT_EQ(Commands(11).back(), "#:RC#"); })
      .ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(ScopeTest, OptionsGoToTheRecord) {
  MyCameraWindowDataStruct& r = *record_;
  r.mTurbulenceLimit = 1;
  r.mEliminateHotPixels = 1;
  ScriptedUser user;
  const OSType turb = FOUR_CHAR_CODE("TURB"), hot = FOUR_CHAR_CODE("EEHP");
  user.ChooseItem(FOUR_CHAR_CODE("ACCU"), 0, 10)
      .Do([&] { EXPECT_EQ(r.mTrackAccuracy, 1.0f); })
      .ChooseItem(FOUR_CHAR_CODE("ACCU"), 0, 11)
      .Do([&] { EXPECT_EQ(r.mTrackAccuracy, 2.0f); })
      .ChooseItem(FOUR_CHAR_CODE("RAPX"), 0, 3)
      .Do([&] { EXPECT_EQ(r.mMinRAMotionPixels, 15u); })
      .ChooseItem(FOUR_CHAR_CODE("DEPX"), 0, 4)
      .Do([&] { EXPECT_EQ(r.mMinDecMotionPixels, 20u); })
      .ChooseItem(FOUR_CHAR_CODE("RAFS"), 0, 4)
      .Do([&] { EXPECT_EQ(r.mCorrectionOrder, 3u); })
      .ChooseItem(FOUR_CHAR_CODE("CAMT"), 0, 14)
      .Do([&] {
        EXPECT_EQ(r.mCalibrationMoveItem, 14u);
        EXPECT_EQ(Block().mCalibrationMoveMs, 30000.0);
      })
      .Do([&] {
        EXPECT_EQ(GetControl32BitValue(Control(turb)), 1);
        EXPECT_EQ(GetControl32BitValue(Control(hot)), 1);
      })
      .Click(FOUR_CHAR_CODE("SOLU"), 0)
      .Do([&] {
        EXPECT_EQ(r.mLunarSolarTracking, 1);
        for (OSType s : {turb, hot}) {
          EXPECT_EQ(GetControl32BitValue(Control(s)), 0);
          EXPECT_FALSE(IsControlEnabled(Control(s)));
        }
        EXPECT_EQ(r.mTurbulenceLimit, 0);
        EXPECT_EQ(r.mEliminateHotPixels, 0);
      })
      .Click(FOUR_CHAR_CODE("SOLU"), 0)
      .Do([&] {
        EXPECT_EQ(r.mLunarSolarTracking, 0);
        for (OSType s : {turb, hot}) {
          EXPECT_EQ(GetControl32BitValue(Control(s)), 0);
          EXPECT_TRUE(IsControlEnabled(Control(s)));
        }
      })
      .Click(turb, 0)
      .Do([&] {
        EXPECT_EQ(r.mTurbulenceLimit, 1);
        EXPECT_EQ(r.mFWHMAveraging, 1);
        EXPECT_EQ(r.mFWHMFrames, r.mFramesToAverage * 10);
      })
      .Click(FOUR_CHAR_CODE("SKIP"), 0)
      .Do([&] { EXPECT_EQ(r.mSkipLargeChanges, 1); })
      .ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(ScopeTest, TrackingScalesRAPulsesByTheDeclinations) {
  MyCameraWindowDataStruct& r = *record_;
  r.mGuidingOn = 1;  // calibrated
  r.mCalibratedDeclination = 0.0f;
  r.mTurbulenceLimit = 1;
  ScriptedUser user;
  user.Do([&] { Block().mHistoryStart = 3; })
      .Click(FOUR_CHAR_CODE("TRAK"), 0)
      .Type(FOUR_CHAR_CODE("DECV"), 0, "60", "EnterDeclination")
      .ClickOK("EnterDeclination")
      .Do([&] {
        EXPECT_FLOAT_EQ(r.mRADurationFactor, 2.0f);
        EXPECT_EQ(r.mGuidingActive, 1);
        EXPECT_EQ(r.mFWHMAveraging, 1);
        EXPECT_EQ(r.mFWHMFrames, 10 * r.mFramesToAverage);
        EXPECT_EQ(Block().mHistoryStart, kMCBSHistoryLength);
        EXPECT_EQ(ControlTitle(Control(FOUR_CHAR_CODE("TRAK"))), "STOPTRACKINGOBJ");
        EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("CALI"))));
        EXPECT_FALSE(IsControlEnabled(Control(FOUR_CHAR_CODE("SPED"))));
        EXPECT_EQ(Commands(4)[3], "#:Q#");
      })
      .Click(FOUR_CHAR_CODE("TRAK"), 0)
      .Do([&] {
        EXPECT_EQ(r.mGuidingActive, 0);
        EXPECT_EQ(Status(), "Status: Idle");
        EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("CALI"))));
        EXPECT_EQ(ControlTitle(Control(FOUR_CHAR_CODE("TRAK"))), "STARTTRACKINGOBJ");
      })
      // Near the pole the object's cosine counts as 0.01 at least: a factor of
      // 57,296 would make a 100 ms correction a 95-minute pulse.
      .Click(FOUR_CHAR_CODE("TRAK"), 0)
      .Type(FOUR_CHAR_CODE("DECV"), 0, "89.999", "EnterDeclination")
      .ClickOK("EnterDeclination")
      .Do([&] { EXPECT_FLOAT_EQ(r.mRADurationFactor, 100.0f); })
      .Click(FOUR_CHAR_CODE("TRAK"), 0)
      .ClickCancel();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r.mCorrectRA, 0);  // never set in this record; kept as it was
}

TEST_F(ScopeTest, CloseCommandClosesThroughAWindowCloseEvent) {
  ScriptedUser user;
  user.Do([&] { Commands(2); }).Command(kHICommandClose);
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());  // no escape was needed
  ExpectNoRun();
}

TEST_F(ScopeTest, TheCloseBoxEndsTheRun) {
  ScriptedUser user;
  user.Do([&] { Commands(2); }).CloseWindow();
  EXPECT_EQ(CommandLXCT(record_), noErr);
  EXPECT_TRUE(user.Errors().empty());
  ExpectNoRun();
}

TEST_F(ScopeTest, HandlerLeavesOtherEventsAlone) {
  EventRef e = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassMouse, kEventMouseDown, 0, 0, &e), noErr);
  EXPECT_EQ(myScopeContolEventHandler(nullptr, e, nullptr), eventNotHandledErr);
  ReleaseEvent(e);
}

// ------------------------------------------------------------ the stop and the delivery thread

class ScopeRaceTest : public ScopeTest {
 protected:
  // The state a run leaves for the centroid step, without the window: the
  // step is run on a thread of its own as the delivery thread would.
  void SetUpRun() {
    MyCameraWindowDataStruct& r = *record_;
    auto* block = static_cast<MCBS*>(calloc(1, sizeof(MCBS)));
    block->mKind = kMCBSKind;
    block->mCameraRecord = record_;
    block->mHistoryStart = kMCBSHistoryLength;
    r.mpMCBSPtr = block;
    r.mSerialHistoGramBuffer = static_cast<UInt32*>(malloc(1040));
    r.mSerial8BitBuffer = static_cast<UInt8*>(malloc(64 * 48 + 64));
    r.mScopeControlActive = 1;
    r.mGuidingActive = 1;
    r.mTrackingPhase = 1;
    r.mFramesToAverage = 1;
    r.mFullFrameSearch = 1;
    frame_.assign(64 * 48, 10);
    frame_[20 * 64 + 30] = 200;
  }
  std::vector<UInt8> frame_;
};

std::atomic<int> gInside{0};
std::atomic<bool> gRelease{false};
std::atomic<int> gStopPolls{0};

TEST_F(ScopeRaceTest, StopWaitsForTheCentroidStepBeforeFreeing) {
  SetUpRun();
  gInside = 0;
  gRelease = false;
  gStopPolls = 0;
  gGuideTestPausePoint = [](int where) {
    if (where != kGuidePauseMeasuring) return;
    gInside = 1;
    while (!gRelease) SkyloomSleepMicroseconds(1000);
    SkyloomSleepMicroseconds(20000);  // the step goes on using the buffers for a while
  };
  gScopeTestPausePoint = [](int where) {
    if (where != kScopePauseStopWaiting) return;
    gStopPolls++;
    gRelease = true;
  };
  std::thread delivery([&] { myGetImageTrackingCentroid(record_, frame_.data()); });
  while (!gInside) SkyloomSleepMicroseconds(1000);
  myStopLXScopeControl(record_);
  EXPECT_GE(gStopPolls.load(), 1);
  EXPECT_EQ(record_->mGuideBusy, 0);
  EXPECT_EQ(record_->mSerial8BitBuffer, nullptr);
  EXPECT_EQ(record_->mSerialHistoGramBuffer, nullptr);
  EXPECT_EQ(record_->mpMCBSPtr, nullptr);
  delivery.join();
}

TEST_F(ScopeRaceTest, AStepThatNeverEndsKeepsItsBuffers) {
  SetUpRun();
  MCBS* block = record_->mpMCBSPtr;
  gInside = 0;
  gRelease = false;
  gGuideTestPausePoint = [](int where) {
    if (where != kGuidePauseMeasuring) return;
    gInside = 1;
    while (!gRelease) SkyloomSleepMicroseconds(1000);
  };
  mySetGuideBusyWaitForTesting(50);
  std::thread delivery([&] { myGetImageTrackingCentroid(record_, frame_.data()); });
  while (!gInside) SkyloomSleepMicroseconds(1000);
  testing::internal::CaptureStderr();
  myStopLXScopeControl(record_);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("still running"), std::string::npos);
  EXPECT_NE(record_->mSerial8BitBuffer, nullptr);
  EXPECT_NE(record_->mSerialHistoGramBuffer, nullptr);
  EXPECT_EQ(record_->mpMCBSPtr, nullptr);
  EXPECT_EQ(record_->mScopeControlOpen, 0);
  gRelease = true;
  delivery.join();
  free(record_->mSerial8BitBuffer);
  free(record_->mSerialHistoGramBuffer);
  record_->mSerial8BitBuffer = nullptr;
  record_->mSerialHistoGramBuffer = nullptr;
  free(block);
}

}  // namespace
