// The application's menu commands: the dispatch table, the camera commands
// that act on the record themselves ('REST', 'MOBR', the temperature
// toggles), the about box and quitting with a camera open.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/AboutAndHelp.h"
#include "app/CameraPrefs.h"
#include "app/CommandHandler.h"
#include "app/CommandPlaceholders.h"
#include "image_windows/ImageWindowRecord.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/simcamera/SimCamera.h"
#include "tests/app/DisplayTimerHarness.h"
#include "tests/support/UiFixture.h"

namespace {

namespace ui = skyloom::ui;

// ---- spies for every routine the commands reach ----
struct SpyCall {
  std::string name;
  double arg = -1;  // the numeric argument, -1 when there is none
  const void* p0 = nullptr;
  const void* p1 = nullptr;
  double extra[2] = {0, 0};  // 'MTEM': the mode and the flag
};
std::vector<SpyCall> gSpyLog;

void Log(const char* name, double arg = -1, const void* p0 = nullptr, const void* p1 = nullptr) {
  gSpyLog.push_back(SpyCall{name, arg, p0, p1, {0, 0}});
}

MyCommandRoutines Spies() {
  MyCommandRoutines s;
  s.findAndOpenCamera = [](UInt32 a) { Log("findAndOpenCamera", a); };
  s.doPreferences = [] { Log("doPreferences"); };
  s.showAboutBox = [] { Log("showAboutBox"); };
  s.recursiveCloseWindow = [](WindowRef w) { Log("recursiveCloseWindow", -1, w); };
  s.quitApplicationEventLoop = [] { Log("quitApplicationEventLoop"); };
  s.openHelpDocument = [] { Log("openHelpDocument"); return OSStatus(noErr); };
  s.changeZoomMenuItem = [](WindowRef w, SInt16 i) { Log("changeZoomMenuItem", i, w); };
  s.changeImageAlignMenuItem = [](WindowRef w, UInt32 m) { Log("changeImageAlignMenuItem", m, w); };
  s.doPleezWait = [](MyCameraWindowDataStruct* r, UInt32 m) { Log("doPleezWait", m, r); };
  s.startControlLXScope = [](MyCameraWindowDataStruct* r) { Log("startControlLXScope", -1, r); return OSStatus(noErr); };
  s.getUserSoftROISettings = [] { Log("getUserSoftROISettings"); };
  s.getUserHardROISettings = [] { Log("getUserHardROISettings"); };
  s.changeCameraTriggerMenuItem = [](WindowRef w, UInt32 i) { Log("changeCameraTriggerMenuItem", i, w); };
  s.changeTriggerPins = [](WindowRef w) { Log("changeTriggerPins", -1, w); };
  s.installTemperatureTimer = [](MyCameraWindowDataStruct* r) { Log("installTemperatureTimer", -1, r); return OSStatus(noErr); };
  s.removeTemperatureTimer = [](MyCameraWindowDataStruct* r) { Log("removeTemperatureTimer", -1, r); };
  s.setMaintainTemperature = [](MyDCAMCameraStruct* h, UInt32 mode, double kelvin, UInt8 on) {
    Log("setMaintainTemperature", kelvin, h);
    gSpyLog.back().extra[0] = mode;
    gSpyLog.back().extra[1] = on;
    return OSStatus(noErr);
  };
  s.getMaintainTemperatureGUI = [](MyCameraWindowDataStruct* r) { Log("getMaintainTemperatureGUI", -1, r); return OSStatus(noErr); };
  s.createCameraSettings = [](MyCameraWindowDataStruct* r, WindowRef w) { Log("createCameraSettings", -1, r, w); return OSStatus(noErr); };
  s.applyCameraSettings = [](MyCameraWindowDataStruct* r, UInt32 slot) { Log("applyCameraSettings", slot, r); return OSStatus(noErr); };
  s.deleteCameraSettings = [](WindowRef w, SInt32* count) { Log("deleteCameraSettings", -1, w, count); return OSStatus(noErr); };
  s.alignAndStackMovies = [] { Log("alignAndStackMovies"); return OSStatus(noErr); };
  s.darkSubtractOrFlattenMovie = [](int m) { Log("darkSubtractOrFlattenMovie", m); };
  s.fieldRotateMovie = [] { Log("fieldRotateMovie"); };
  s.filesToARGB32AlignedMovie = [] { Log("filesToARGB32AlignedMovie"); return OSErr(noErr); };
  s.filesTo16BitRGB48Movie = [] { Log("filesTo16BitRGB48Movie"); return OSErr(noErr); };
  s.qtMovieExport = [] { Log("qtMovieExport"); };
  s.processMultipleImages = [] { Log("processMultipleImages"); return OSErr(noErr); };
  s.importLRGBLayers = [](UInt32 m) { Log("importLRGBLayers", m); return OSStatus(noErr); };
  s.doMovieVARStarProcessing = [] { Log("doMovieVARStarProcessing"); };
  s.doMovieAstrometricProcessing = [] { Log("doMovieAstrometricProcessing"); };
  s.autoPhotomImageSelectionGUI = [] { Log("autoPhotomImageSelectionGUI"); return OSStatus(noErr); };
  s.hideShowTCT = [](UInt8 show) { Log("hideShowTCT", show); };
  return s;
}

// Sends one command to the handler as the menu would; the handler's result.
OSStatus SendCommand(UInt32 id) {
  EventRef e = nullptr;
  EXPECT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e), noErr);
  HICommand command{};
  command.attributes = kHICommandFromMenu;
  command.commandID = id;
  SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof command, &command);
  const OSStatus err = myCommandHandler(nullptr, e, nullptr);
  ReleaseEvent(e);
  return err;
}

std::string Text(UInt32 id) {
  const char c[5] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id), 0};
  return c;
}

class CommandHandler : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    gSpyLog.clear();
    myPlaceholderCalls().clear();
  }
  void TearDown() override {
    myResetCommandRoutines();
    UiTest::TearDown();
    free(record_);
    free(imageRecord_);
  }
  // A shown document window in front carrying refcon.
  WindowRef FrontWindowWith(void* refcon) {
    Rect bounds{100, 100, 580, 740};
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowStandardDocumentAttributes, &bounds, &w), noErr);
    SetWRefCon(w, SRefCon(refcon));
    ShowWindow(w);
    return w;
  }
  MyCameraWindowDataStruct* NewRecord() {
    record_ = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    record_->mKind = kMyCameraWindowDataKind;
    return record_;
  }
  MyCameraWindowDataStruct* record_ = nullptr;
  MyImageWindowDataStruct* imageRecord_ = nullptr;
};

// Which pointer an argument should be.
enum class Is { None, Front, Record, SlotCount };

struct Route {
  UInt32 id;
  const char* routine;  // null: the command calls no routine of the table
  double arg;
  Is p0, p1;
  bool needsRecord;
};

std::vector<Route> Table() {
  std::vector<Route> t = {
      {FOUR_CHAR_CODE("open"), "findAndOpenCamera", 0, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("pref"), "doPreferences", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("abou"), "showAboutBox", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("HELP"), "openHelpDocument", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("RADE"), "doPleezWait", 6, Is::Record, Is::None, true},
      {FOUR_CHAR_CODE("LXCT"), "startControlLXScope", -1, Is::Record, Is::None, true},
      {FOUR_CHAR_CODE("SROI"), "getUserSoftROISettings", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("HROI"), "getUserHardROISettings", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("TRG4"), "changeTriggerPins", -1, Is::Front, Is::None, false},
      {FOUR_CHAR_CODE("DTEM"), "installTemperatureTimer", -1, Is::Record, Is::None, true},
      {FOUR_CHAR_CODE("MTEM"), "setMaintainTemperature", 263.15, Is::None, Is::None, true},
      {FOUR_CHAR_CODE("STEM"), "getMaintainTemperatureGUI", -1, Is::Record, Is::None, true},
      {FOUR_CHAR_CODE("CRST"), "createCameraSettings", -1, Is::Record, Is::Front, true},
      {FOUR_CHAR_CODE("DEST"), "deleteCameraSettings", -1, Is::Front, Is::SlotCount, true},
      {FOUR_CHAR_CODE("STAK"), "alignAndStackMovies", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("DKMO"), "darkSubtractOrFlattenMovie", 0, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("FLMO"), "darkSubtractOrFlattenMovie", 1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("FRMO"), "fieldRotateMovie", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("IMAM"), "filesToARGB32AlignedMovie", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("FIMO"), "filesTo16BitRGB48Movie", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("EXPR"), "qtMovieExport", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("PRBI"), "processMultipleImages", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("BMRP"), "doMovieVARStarProcessing", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("BAST"), "doMovieAstrometricProcessing", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("AMSP"), "autoPhotomImageSelectionGUI", -1, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("HTCT"), "hideShowTCT", 0, Is::None, Is::None, false},
      {FOUR_CHAR_CODE("STCT"), "hideShowTCT", 1, Is::None, Is::None, false},
      // Acted on by the handler itself (tested on their own below).
      {FOUR_CHAR_CODE("REST"), nullptr, -1, Is::None, Is::None, true},
      {FOUR_CHAR_CODE("MOBR"), nullptr, -1, Is::None, Is::None, true},
  };
  const char digits[] = "0123456789";
  for (int i = 0; i < 8; i++) {
    const char id[5] = {char('1' + i), 'X', 'Z', 'M', 0};
    t.push_back({FOUR_CHAR_CODE(id), "changeZoomMenuItem", double(3 + i), Is::Front, Is::None, false});
  }
  for (int i = 0; i < 3; i++) {
    const char id[5] = {'I', 'M', 'A', digits[i], 0};
    t.push_back({FOUR_CHAR_CODE(id), "changeImageAlignMenuItem", double(i), Is::Front, Is::None, false});
  }
  for (int i = 0; i < 4; i++) {
    const char trg[5] = {'T', 'R', 'G', digits[i], 0};
    t.push_back({FOUR_CHAR_CODE(trg), "changeCameraTriggerMenuItem", double(i), Is::Front, Is::None, false});
    const char pri[5] = {'P', 'R', 'I', digits[i], 0};
    t.push_back({FOUR_CHAR_CODE(pri), "importLRGBLayers", double(i), Is::None, Is::None, false});
  }
  for (int n = 1; n <= 20; n++) {
    const char id[5] = {'C', 'S', digits[n / 10], digits[n % 10], 0};
    t.push_back({FOUR_CHAR_CODE(id), "applyCameraSettings", double(n - 1), Is::Record, Is::None, true});
  }
  return t;
}

TEST_F(CommandHandler, EveryCommandReachesItsRoutineWithItsArguments) {
  std::vector<Route> table = Table();
  ASSERT_EQ(table.size() + 1, 69u);  // and 'quit', below
  gMyCommandRoutines = Spies();

  MyCameraWindowDataStruct* r = NewRecord();
  r->mTemperatureSettable = 1;
  r->mTargetTemperature = 263.15f;
  r->mCameraHandle = reinterpret_cast<MyDCAMCameraStruct*>(r);  // never used by the spies
  imageRecord_ = static_cast<MyImageWindowDataStruct*>(calloc(1, sizeof(MyImageWindowDataStruct)));
  imageRecord_->mRecordTag = kImageWindowRecordTag;

  struct Front {
    const char* what;
    void* refcon;
    bool window;
  };
  for (const Front& f : {Front{"camera window", r, true}, Front{"image window", imageRecord_, true},
                         Front{"no window", nullptr, false}}) {
    SCOPED_TRACE(f.what);
    ui::ResetModel();
    WindowRef front = f.window ? FrontWindowWith(f.refcon) : nullptr;
    const bool hasRecord = f.refcon == r;
    for (const Route& route : table) {
      SCOPED_TRACE(Text(route.id));
      gSpyLog.clear();
      r->mMaintainTemperature = 0;
      const size_t hilites = ui::HilitedMenus().size();
      EXPECT_EQ(SendCommand(route.id), noErr);
      ASSERT_EQ(ui::HilitedMenus().size(), hilites + 1);
      EXPECT_EQ(ui::HilitedMenus().back(), 0);
      if (!route.routine || (route.needsRecord && !hasRecord)) {
        EXPECT_TRUE(gSpyLog.empty()) << gSpyLog[0].name;
        continue;
      }
      ASSERT_EQ(gSpyLog.size(), 1u);
      const SpyCall& c = gSpyLog[0];
      EXPECT_EQ(c.name, route.routine);
      EXPECT_FLOAT_EQ(float(c.arg), float(route.arg));
      auto pointer = [&](Is is) -> const void* {
        switch (is) {
          case Is::Front: return front;
          case Is::Record: return r;
          case Is::SlotCount: return &r->mSavedSlotCount;
          default: return nullptr;
        }
      };
      if (route.id != FOUR_CHAR_CODE("MTEM")) {
        EXPECT_EQ(c.p0, pointer(route.p0));
        EXPECT_EQ(c.p1, pointer(route.p1));
      }
    }

    // 'quit' closes from the front window when there is one, then ends the loop.
    gSpyLog.clear();
    EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("quit")), noErr);
    std::vector<std::string> names;
    for (const SpyCall& c : gSpyLog) names.push_back(c.name);
    if (front) {
      ASSERT_EQ(names, (std::vector<std::string>{"recursiveCloseWindow", "quitApplicationEventLoop"}));
      EXPECT_EQ(gSpyLog[0].p0, front);
    } else {
      EXPECT_EQ(names, std::vector<std::string>{"quitApplicationEventLoop"});
    }
    EXPECT_EQ(ui::HilitedMenus().back(), 0);

    // Commands of others (the application menu's own) are passed on.
    gSpyLog.clear();
    const size_t hilites = ui::HilitedMenus().size();
    for (UInt32 id : {FOUR_CHAR_CODE("hide"), FOUR_CHAR_CODE("CS00"), FOUR_CHAR_CODE("CS21"), FOUR_CHAR_CODE("9XZM"),
                      FOUR_CHAR_CODE("TRG5"), FOUR_CHAR_CODE("IMA3"), FOUR_CHAR_CODE("PRI4"), 0u})
      EXPECT_EQ(SendCommand(id), eventNotHandledErr) << Text(id);
    EXPECT_TRUE(gSpyLog.empty());
    EXPECT_EQ(ui::HilitedMenus().size(), hilites + 8);
    EXPECT_EQ(ui::HilitedMenus().back(), 0);
  }

  // An event without a command is not one of ours either.
  EventRef e = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &e), noErr);
  const size_t hilites = ui::HilitedMenus().size();
  EXPECT_EQ(myCommandHandler(nullptr, e, nullptr), eventNotHandledErr);
  EXPECT_EQ(ui::HilitedMenus().size(), hilites + 1);
  ReleaseEvent(e);
}

TEST_F(CommandHandler, CommandsNotYetBuiltReachTheirStandIns) {
  struct Expect {
    UInt32 id;
    const char* name;
    long arg;
  };
  const Expect expected[] = {
      {FOUR_CHAR_CODE("pref"), "myDoPreferences", 0},
      {FOUR_CHAR_CODE("DKMO"), "myDarkSubtractOrFlattenMovie", 0},
      {FOUR_CHAR_CODE("FLMO"), "myDarkSubtractOrFlattenMovie", 1},
      {FOUR_CHAR_CODE("FRMO"), "myFieldRotateMovie", 0},
      {FOUR_CHAR_CODE("IMAM"), "myFilesToARGB32AlignedMovie", 0},
      {FOUR_CHAR_CODE("BAST"), "myDoMovieAstrometricProcessing", 0},
      {FOUR_CHAR_CODE("AMSP"), "myAutoPhotomImageSelectionGUI", 0},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(Text(e.id));
    myPlaceholderCalls().clear();
    EXPECT_EQ(SendCommand(e.id), noErr);
    ASSERT_EQ(myPlaceholderCalls().size(), 1u);
    EXPECT_EQ(myPlaceholderCalls()[0].name, e.name);
    EXPECT_EQ(myPlaceholderCalls()[0].argument, e.arg);
  }
}

TEST_F(CommandHandler, TemperatureCommandsFollowTheCamerasAbilities) {
  gMyCommandRoutines = Spies();
  MyCameraWindowDataStruct* r = NewRecord();
  r->mCameraHandle = reinterpret_cast<MyDCAMCameraStruct*>(r);  // never used by the spies
  r->mTemperatureMode = 2;
  r->mTemperatureSettable = 1;
  r->mTargetTemperature = 263.15f;
  FrontWindowWith(r);

  // A set target toggles keeping it, through the camera: handle, mode,
  // target in kelvin, then the new flag.
  for (UInt8 before : {UInt8(0), UInt8(1), UInt8(7)}) {
    SCOPED_TRACE(int(before));
    gSpyLog.clear();
    r->mMaintainTemperature = before;
    EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MTEM")), noErr);
    const UInt8 after = before == 0 ? 1 : 0;
    EXPECT_EQ(r->mMaintainTemperature, after);
    ASSERT_EQ(gSpyLog.size(), 1u);
    EXPECT_EQ(gSpyLog[0].name, "setMaintainTemperature");
    EXPECT_EQ(gSpyLog[0].p0, r->mCameraHandle);
    EXPECT_EQ(gSpyLog[0].extra[0], 2.0);
    EXPECT_NEAR(gSpyLog[0].arg, 263.15, 1e-4);
    EXPECT_EQ(gSpyLog[0].extra[1], double(after));
  }

  // No target yet (1 K or less): the dialog asks for one.
  for (float target : {1.0f, 0.0f}) {
    gSpyLog.clear();
    r->mTargetTemperature = target;
    r->mMaintainTemperature = 0;
    EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MTEM")), noErr);
    ASSERT_EQ(gSpyLog.size(), 1u);
    EXPECT_EQ(gSpyLog[0].name, "getMaintainTemperatureGUI");
    EXPECT_EQ(r->mMaintainTemperature, 0);
  }

  // 'MTEM' only for a camera that takes a target the plain way; 'STEM' for any
  // that takes one.
  struct Case {
    UInt32 settable;
    UInt32 id;
    bool dialog;
  };
  for (const Case& c : {Case{2, FOUR_CHAR_CODE("MTEM"), false}, Case{2, FOUR_CHAR_CODE("STEM"), true},
                        Case{1, FOUR_CHAR_CODE("STEM"), true}, Case{0, FOUR_CHAR_CODE("STEM"), false},
                        Case{0, FOUR_CHAR_CODE("MTEM"), false}}) {
    SCOPED_TRACE(Text(c.id) + " settable " + std::to_string(c.settable));
    gSpyLog.clear();
    r->mTemperatureSettable = c.settable;
    r->mTargetTemperature = 263.15f;
    r->mMaintainTemperature = 0;
    EXPECT_EQ(SendCommand(c.id), noErr);
    EXPECT_EQ(gSpyLog.size(), c.dialog ? 1u : 0u);
    if (c.dialog) {
      EXPECT_EQ(gSpyLog[0].name, "getMaintainTemperatureGUI");
    }
    EXPECT_EQ(r->mMaintainTemperature, 0);
  }

  // 'DTEM' follows the shown flag.
  for (UInt8 shown : {UInt8(1), UInt8(0), UInt8(2)}) {
    gSpyLog.clear();
    r->mShowTemperature = shown;
    EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("DTEM")), noErr);
    ASSERT_EQ(gSpyLog.size(), 1u);
    EXPECT_EQ(gSpyLog[0].name, shown == 1 ? "removeTemperatureTimer" : "installTemperatureTimer");
  }
}

TEST_F(CommandHandler, BrightnessPickAndVideoSizeNeedARunningCamera) {
  MyCameraWindowDataStruct* r = NewRecord();
  Rect videoBounds{200, 300, 200 + 240, 300 + 320};  // content at 2x zoom-out of 640 x 480
  ASSERT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowStandardDocumentAttributes, &videoBounds, &r->mVideoWindow),
            noErr);
  SetWRefCon(r->mVideoWindow, SRefCon(r));
  ShowWindow(r->mVideoWindow);
  WindowRef control = FrontWindowWith(r);  // the control window in front
  r->mWidth = 640;
  r->mHeight = 480;
  r->mWhiteBalanceRunning = 1;
  r->mSpotWhiteBalance = 1;

  // Stopped: nothing moves.
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("REST")), noErr);
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MOBR")), noErr);
  Rect b;
  GetWindowBounds(r->mVideoWindow, kWindowContentRgn, &b);
  EXPECT_EQ(b.right - b.left, 320);
  EXPECT_EQ(r->mPickBrightnessArea, 0);
  EXPECT_EQ(r->mWhiteBalanceRunning, 1);
  EXPECT_EQ(FrontWindow(), control);

  r->mRunning = 1;
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("REST")), noErr);
  GetWindowBounds(r->mVideoWindow, kWindowContentRgn, &b);
  EXPECT_EQ(b.top, 200);
  EXPECT_EQ(b.left, 300);
  EXPECT_EQ(b.right - b.left, 640);
  EXPECT_EQ(b.bottom - b.top, 480);

  // The pick: white balance off, cross cursor, the preview in front.
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MOBR")), noErr);
  EXPECT_EQ(r->mPickBrightnessArea, 1);
  EXPECT_EQ(r->mWhiteBalanceRunning, 0);
  EXPECT_EQ(r->mSpotWhiteBalance, 0);
  EXPECT_EQ(ui::CurrentCursor(), kThemeCrossCursor);
  EXPECT_EQ(FrontWindow(), r->mVideoWindow);
  // Again (from the preview in front): the pick is abandoned.
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MOBR")), noErr);
  EXPECT_EQ(r->mPickBrightnessArea, 0);

  // Sizes are taken as 16-bit values.
  r->mWidth = 0x10000 + 800;
  r->mHeight = 0x10000 + 600;
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("REST")), noErr);
  GetWindowBounds(r->mVideoWindow, kWindowContentRgn, &b);
  EXPECT_EQ(b.right - b.left, 800);
  EXPECT_EQ(b.bottom - b.top, 600);

  // No video window: nothing.
  DisposeWindow(r->mVideoWindow);
  r->mVideoWindow = nullptr;
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MOBR")), noErr);
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("REST")), noErr);
  EXPECT_EQ(r->mPickBrightnessArea, 0);
}

// The same toggle on a cooled camera: the set point and the automatic mode
// reach the camera's temperature register, and come off again.
class TemperatureCommand : public CameraHarness {};

TEST_F(TemperatureCommand, KeepingTheTargetReachesTheCamera) {
  Rig({SimCooledPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  ASSERT_EQ(record_->mTemperatureSettable, 1u);
  ASSERT_EQ(FrontNonFloatingWindow(), record_->mControlWindow);
  auto selector = [&](SInt32 s) {
    UInt32 v = 0;
    EXPECT_EQ(ORXDCAMGetPropertyValue(record_->mCameraHandle, 0x52C, s, &v), noErr);
    return v;
  };
  record_->mTargetTemperature = 263.15f;
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MTEM")), noErr);
  EXPECT_EQ(record_->mMaintainTemperature, 1);
  EXPECT_NEAR(double(selector(6)), 2631.5, 1.0);  // tenths of a kelvin
  EXPECT_EQ(selector(1), 1u);
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("MTEM")), noErr);
  EXPECT_EQ(record_->mMaintainTemperature, 0);
  EXPECT_EQ(selector(1), 0u);
}

// ---- the about box ----
class AboutBox : public CommandHandler {
 protected:
  void SetUp() override {
    CommandHandler::SetUp();
    // A bundle whose resources hold the real nib and, when asked, the picture.
    resources_ = dir_ + "/Skyloom.app/Contents/Resources";
    for (const std::string& d : {dir_ + "/Skyloom.app", dir_ + "/Skyloom.app/Contents", resources_})
      ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    const std::string nib = std::string(SKYLOOM_SOURCE_DIR) + "/resources/ORX_DCAM.nib";
    ASSERT_EQ(symlink(nib.c_str(), (resources_ + "/ORX_DCAM.nib").c_str()), 0);
    ui::SetResourceDirectory(resources_);
    IBNibRef ref = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &ref), noErr);
    ASSERT_EQ(SetMenuBarFromNib(ref, CFSTR("MainMenu")), noErr);
    DisposeNibReference(ref);
    ASSERT_EQ(InstallApplicationEventHandler(myCommandHandler, 1, &kCommand, nullptr, &handler_), noErr);
  }
  void TearDown() override {
    RemoveEventHandler(handler_);
    CommandHandler::TearDown();
  }
  void AddPicture() {
    const std::string from = std::string(SKYLOOM_SOURCE_DIR) + "/resources/About_Image.jpg";
    ASSERT_EQ(symlink(from.c_str(), (resources_ + "/About_Image.jpg").c_str()), 0);
  }
  static bool AboutEnabled() { return IsMenuItemEnabled(GetMenuRef(1), 1); }
  static constexpr EventTypeSpec kCommand = {kEventClassCommand, kEventCommandProcess};
  std::string resources_;
  EventHandlerRef handler_ = nullptr;
};

// Straight 8-bit RGB of a port pixel or an image pixel, for comparing.
void PortRGB(WindowRef w, int x, int y, int rgb[3]) {
  const UInt32 p = SkyloomPortPixel(GetWindowPort(w), x, y);
  rgb[0] = (p >> 16) & 0xFF;
  rgb[1] = (p >> 8) & 0xFF;
  rgb[2] = p & 0xFF;
}

TEST_F(AboutBox, ShowsThePictureOnceAndReEnablesAboutWhenClosed) {
  AddPicture();
  ASSERT_TRUE(AboutEnabled());
  ASSERT_EQ(ui::UserChooseMenuItem(GetMenuRef(1), 1), noErr);
  WindowRef about = ui::FindWindow("AboutBox");
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(IsWindowVisible(about));
  EXPECT_EQ(GetWRefCon(about), 0);
  EXPECT_FALSE(AboutEnabled());
  // While it shows the command cannot be chosen: one box at most.
  EXPECT_NE(ui::UserChooseMenuItem(GetMenuRef(1), 1), noErr);
  int boxes = 0;
  for (WindowRef w : ui::Windows()) boxes += ui::WindowName(w) == "AboutBox";
  EXPECT_EQ(boxes, 1);

  ControlRef view = ui::FindControl(about, FOUR_CHAR_CODE("ABIM"), 0);
  ASSERT_NE(view, nullptr);
  CGImageRef image = HIImageViewCopyImage(view);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(CGImageGetWidth(image), 240u);
  EXPECT_EQ(CGImageGetHeight(image), 120u);
  EXPECT_FALSE(HIImageViewIsOpaque(view));
  EXPECT_EQ(HIImageViewGetAlpha(view), 1.0);
  EXPECT_TRUE(HIImageViewGetScaleToFit(view));
  EXPECT_TRUE(HIViewIsVisible(view));

  // The picture fills the view's bounds in the window: the view's centre
  // shows the picture's centre (the disc), its corner the picture's corner.
  Rect bounds;
  GetControlBounds(view, &bounds);
  const int vw = bounds.right - bounds.left, vh = bounds.bottom - bounds.top;
  struct Spot {
    double fx, fy;
  };
  for (Spot s : {Spot{0.5, 0.5}, Spot{0.1, 0.15}, Spot{0.9, 0.85}}) {
    UInt16 want[4];
    ASSERT_TRUE(SkyloomCGImagePixel(image, size_t(s.fx * 240), size_t(s.fy * 120), want));
    int got[3];
    PortRGB(about, bounds.left + int(s.fx * vw), bounds.top + int(s.fy * vh), got);
    for (int c = 0; c < 3; c++) EXPECT_NEAR(got[c], want[c], 6) << s.fx << "," << s.fy << " channel " << c;
  }
  // Outside the view the window's background stays.
  int outside[3];
  PortRGB(about, bounds.right + 2, bounds.bottom + 2, outside);
  EXPECT_EQ(outside[0], int((kSkyloomWindowBackground >> 16) & 0xFF));
  CGImageRelease(image);

  // The box's close: the command comes back, and a new box can open.
  ASSERT_EQ(ui::UserCloseWindow(about), noErr);
  EXPECT_EQ(ui::FindWindow("AboutBox"), nullptr);
  EXPECT_TRUE(AboutEnabled());
  ASSERT_EQ(ui::UserChooseMenuItem(GetMenuRef(1), 1), noErr);
  EXPECT_NE(ui::FindWindow("AboutBox"), nullptr);
  EXPECT_FALSE(AboutEnabled());
}

TEST_F(AboutBox, OpensWithAnEmptyViewWithoutThePicture) {
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("abou")), noErr);
  WindowRef about = ui::FindWindow("AboutBox");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(HIImageViewCopyImage(ui::FindControl(about, FOUR_CHAR_CODE("ABIM"), 0)), nullptr);
  EXPECT_FALSE(AboutEnabled());

  // A damaged picture leaves it empty as well.
  ASSERT_EQ(ui::UserCloseWindow(about), noErr);
  EXPECT_TRUE(AboutEnabled());
  { std::ofstream(resources_ + "/About_Image.jpg") << "\xFF\xD8\xFF\xE0 not a picture"; }
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("abou")), noErr);
  about = ui::FindWindow("AboutBox");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(HIImageViewCopyImage(ui::FindControl(about, FOUR_CHAR_CODE("ABIM"), 0)), nullptr);
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), 0);

  // No box when the nib has no window of that name: "abou" stays available.
  ui::InjectFailure("CreateWindowFromNib", kIBCarbonRuntimeCantFindObject);
  ASSERT_EQ(ui::UserCloseWindow(about), noErr);
  EXPECT_EQ(SendCommand(FOUR_CHAR_CODE("abou")), noErr);
  EXPECT_EQ(ui::FindWindow("AboutBox"), nullptr);
  EXPECT_TRUE(AboutEnabled());
}

// ---- quitting with a camera open and running ----
class QuitWithCamera : public DisplayTimerHarness {
 protected:
  // What closing the camera's two windows does in the application: the
  // preview's close only stops video; the control window's close stops it,
  // writes the camera's preferences and takes both windows and the record.
  static OSStatus VideoClose(EventHandlerCallRef, EventRef, void* self) {
    auto* t = static_cast<QuitWithCamera*>(self);
    t->closes_.push_back("VideoWindow");
    t->StopCamera();
    return noErr;
  }
  static OSStatus ControlClose(EventHandlerCallRef, EventRef, void* self) {
    auto* t = static_cast<QuitWithCamera*>(self);
    t->closes_.push_back("ControlWindow");
    t->StopCamera();
    t->prefsWrites_ += myReadWriteCameraPrefs(t->record_, 0) == noErr;
    t->CloseCamera();
    return noErr;
  }

  void QuitWith(bool videoInFront) {
    Rig({SimDefaultColourPersonality()});
    ASSERT_EQ(OpenCamera(), noErr);
    ASSERT_EQ(StartCamera(0, true), noErr);
    const EventTypeSpec close = {kEventClassWindow, kEventWindowClose};
    ASSERT_EQ(InstallWindowEventHandler(record_->mVideoWindow, VideoClose, 1, &close, this, nullptr), noErr);
    ASSERT_EQ(InstallWindowEventHandler(record_->mControlWindow, ControlClose, 1, &close, this, nullptr), noErr);
    SelectWindow(videoInFront ? record_->mVideoWindow : record_->mControlWindow);
    const EventTypeSpec command = {kEventClassCommand, kEventCommandProcess};
    EventHandlerRef handler = nullptr;
    ASSERT_EQ(InstallApplicationEventHandler(myCommandHandler, 1, &command, nullptr, &handler), noErr);

    bool after = false;
    {
      ui::ScriptedUser user;
      user.Wait(0.05)
          .Do([] {
            HICommand quit{};
            quit.commandID = kHICommandQuit;
            ProcessHICommand(&quit);
          })
          .Do([&] { after = true; });  // never reached: the loop ends at quit
      RunApplicationEventLoop();
      EXPECT_EQ(user.Pending(), 1u);
    }
    EXPECT_FALSE(after);
    RemoveEventHandler(handler);
    EXPECT_EQ(record_, nullptr);
    EXPECT_TRUE(ui::Windows().empty());
    EXPECT_EQ(prefsWrites_, 1);
    // The camera's own domain is on disk.
    int domains = 0;
    if (DIR* d = opendir(preferences_.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        domains += name.rfind("com.brindlemoor.SKYLOOM.CameraPrefs", 0) == 0 && name.size() > 6 &&
                   name.compare(name.size() - 6, 6, ".plist") == 0;
      }
      closedir(d);
    }
    EXPECT_EQ(domains, 1);
  }

  std::vector<std::string> closes_;
  int prefsWrites_ = 0;
};

TEST_F(QuitWithCamera, ControlWindowInFrontClosesThePreviewFirst) {
  QuitWith(false);
  EXPECT_EQ(closes_, (std::vector<std::string>{"VideoWindow", "ControlWindow"}));
}

TEST_F(QuitWithCamera, PreviewInFrontGetsNoEventOnceItsControlWindowTookIt) {
  QuitWith(true);
  // The control window, rearmost, closes first and takes the preview with
  // it; the preview is not sent anything after that.
  EXPECT_EQ(closes_, std::vector<std::string>{"ControlWindow"});
}

}  // namespace
