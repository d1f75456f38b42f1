#include "app/ApplicationStartup.h"

#include <cstdio>

#include "app/CameraAppleEvents.h"
#include "app/CameraOpening.h"
#include "app/CameraMenus.h"
#include "app/CameraWindowData.h"
#include "app/CommandHandler.h"
#include "app/FrameGrabs.h"
#include "app/VideoStartStop.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Movies.h"
#include "utilities/Alerts.h"

const MyStartupSubmenu kMyStartupSubmenus[4] = {
    {"ImageAlignment", 10, 15},
    {"CameraTrigger", 11, 16},
    {"CameraSettings", 12, 17},
    {"CameraTemperature", 13, 21},
};

const MyStartupAppleEvent kMyStartupAppleEvents[11] = {
    {FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("oapp"), myAEHandleOapp, "kAEOpenApplication"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viSC"), myAEStartCamera, "myAEStartCamera"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viHC"), myAEStopCamera, "myAEStopCamera"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viSR"), myAEStartRecordMovie, "myAEStartRecordMovie"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viHR"), myAEStopRecordMovie, "myAEStopRecordMovie"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viGF"), myAEGrabFrame, "myAEGrabFrame"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viAS"), myAEApplyCameraSettings, "myAEApplyCameraSettings"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viCF"), myAEGrabFrameCompleted, "myAEGrabFrameCompleted"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viDF"), myAEDoDarkFrame, "myAEDoDarkFrame"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viFF"), myAEDoFlatFrame, "myAEDoFlatFrame"},
    {kMyCameraEventClass, FOUR_CHAR_CODE("viAF"), myAEDoGrabAverageFrame, "myAEDoGrabAverageFrame"},
};

namespace {

constexpr SInt32 kLowestSystem = 0x103F;     // 10.4 and later are greater
constexpr SInt32 kLowestQuickTime = 0x06FFFFFF;  // 7.0 and later are greater

// The camera menu of the menu bar.
constexpr MenuID k_File_MenuID = 2;

const EventTypeSpec kCommandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
const EventTypeSpec kMenuEvents[] = {{kEventClassMenu, kEventMenuEnableItems}};

// A start that cannot go on: one beep and one stop alert "OSX Err" with the
// message as it stands. What was set up before stays as it is.
int refuse(const char* message) {
  myPostAlert("", message);
  return 0;
}

}  // namespace

int myApplicationMain() {
  InitCursor();

  SInt32 version = 0;
  if (Gestalt(FOUR_CHAR_CODE("sysv"), &version) != noErr || version <= kLowestSystem)
    return refuse("Mac OS X 10.4 (minimum) is required for this application");
  version = 0;
  if (Gestalt(FOUR_CHAR_CODE("qtim"), &version) != noErr || version <= kLowestQuickTime)
    return refuse("QuickTime 7.0 (minimum) is required for this application");

  EnterMovies();

  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) return refuse("ORX_DCAM Nib missing");
  // The nib reference lives only while the menus are made.
  struct NibHolder {
    IBNibRef& nib;
    ~NibHolder() {
      if (nib) DisposeNibReference(nib);
    }
  } holder{nib};
  if (SetMenuBarFromNib(nib, CFSTR("MainMenu")) != noErr) return refuse("MainMenu missing");

  MenuRef fileMenu = GetMenuRef(k_File_MenuID);
  MenuRef lastSubmenu = nullptr;
  for (const MyStartupSubmenu& s : kMyStartupSubmenus) {
    CFStringRef name = CFStringCreateWithCString(nullptr, s.mName, kCFStringEncodingUTF8);
    MenuRef submenu = nullptr;
    const OSStatus err = CreateMenuFromNib(nib, name, &submenu);
    CFRelease(name);
    if (err != noErr) {
      char message[96];
      snprintf(message, sizeof message, "CreateMenuFromNib %s missing", s.mName);
      return refuse(message);
    }
    SetItemCmd(fileMenu, s.mItem, hMenuCmd);
    SetItemMark(fileMenu, s.mItem, CharParameter(s.mMenuID));
    InsertMenu(submenu, hierMenu);
    // The hierarchical list holds the menu from here on.
    ReleaseMenu(submenu);
    lastSubmenu = submenu;
  }

  // Preferences need an open camera: the opening enables them.
  EnableMenuCommand(nullptr, kHICommandPreferences);
  DisableMenuCommand(nullptr, kHICommandPreferences);

  DisposeNibReference(nib);
  nib = nullptr;

  EventHandlerUPP commandUPP = NewEventHandlerUPP(myCommandHandler);
  if (InstallApplicationEventHandler(commandUPP, 1, kCommandEvents, nullptr, nullptr) != noErr)
    return refuse("InstallApplicationEventHandler failed");

  for (const MyStartupAppleEvent& e : kMyStartupAppleEvents) {
    const OSErr err = AEInstallEventHandler(e.mClass, e.mID, NewAEEventHandlerUPP(e.mHandler), 0, false);
    if (err != noErr) fprintf(stderr, "AEInstallEventHandler failed for %s %d 0x%X\n", e.mName, int(err), unsigned(err));
  }

  EventHandlerUPP menuUPP = NewEventHandlerUPP(myMenuEventHandler);
  if (InstallMenuEventHandler(fileMenu, menuUPP, 1, kMenuEvents, nullptr, nullptr) != noErr)
    return refuse("InstallMenuEventHandler k_File_MenuID failed");
  if (InstallMenuEventHandler(lastSubmenu, menuUPP, 1, kMenuEvents, nullptr, nullptr) != noErr)
    return refuse("InstallMenuEventHandler outMenuRef failed");

  SetThemeCursor(kThemeArrowCursor);
  gNoteString[0] = 0;

  // The menus as they are with no camera window in front.
  myMenuEventHandler(nullptr, nullptr, nullptr);
  myFindAndOpenCamera(1);

  RunApplicationEventLoop();

  // The Apple-event handlers stay installed for the life of the process.
  DisposeEventHandlerUPP(commandUPP);
  DisposeEventHandlerUPP(menuUPP);
  ExitMovies();
  return 0;
}

OSErr myAEHandleOapp(const AppleEvent*, AppleEvent*, SRefCon) {
  if (myFindCameraControlWindowDataPtr() == nullptr) myFindAndOpenCamera(1);
  return noErr;
}

OSErr myAEStartCamera(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  if (r == nullptr) {
    myFindAndOpenCamera(1);
    r = myFindCameraControlWindowDataPtr();
  }
  bool running = false;
  OSStatus status = noErr;
  if (r != nullptr) {
    if (r->mRunning != 0) {
      running = true;
    } else {
      status = myStartCamera(r, r->mFormat, r->mMode, r->mFrameRate);
      running = status == noErr;
    }
  }
  myReportCameraEventError("myAEStartCamera", myAnswerCameraEvent(reply, running, status));
  return noErr;
}

OSErr myAEStopCamera(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  bool stopped = false;
  OSStatus status = noErr;
  if (r != nullptr) {
    if (r->mRunning == 0) {
      stopped = true;
    } else if (r->mpMCBSPtr == nullptr) {
      // Scope control drives the mount from the frames: the camera keeps
      // running while it is open.
      status = myStopCamera(r);
      stopped = status == noErr;
    }
  }
  myReportCameraEventError("myAEStopCamera", myAnswerCameraEvent(reply, stopped, status));
  return noErr;
}
