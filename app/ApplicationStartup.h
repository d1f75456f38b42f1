// The application's start-up and its three own scripting events.
//
// myApplicationMain is everything `main` does: it checks the system and
// QuickTime versions, enters QuickTime, builds the menu bar "MainMenu" with
// its four submenus from the nib "ORX_DCAM", installs the command handler,
// the Apple-event handlers and the menu-enabling handler, opens a camera
// when one is attached, and runs the application event loop until the user
// quits. A start it refuses shows one stop alert titled "OSX Err" and never
// runs the loop. Tests run it in-process with a scripted user ('quit' ends
// it). Main thread only.
#pragma once
#include "platform/appleevents/AppleEvents.h"
#include "platform/hitoolbox/HIToolbox.h"

// Always 0, also after a refused start.
int myApplicationMain();

// 'aevt'/'oapp': opens a camera (silently) when no window carries a camera
// control record.
OSErr myAEHandleOapp(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'ORFW'/'viSC': starts the camera of the first window carrying a camera
// control record, opening a camera first when there is none; answers true
// when it runs.
OSErr myAEStartCamera(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'ORFW'/'viHC': stops that camera; true when it is stopped, false without a
// camera or while scope control is open (the camera keeps running).
OSErr myAEStopCamera(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);

// The menus start-up hangs on the camera menu (menu 2): nib name, menu ID and
// item, in the order they are made.
struct MyStartupSubmenu {
  const char* mName;
  MenuID mMenuID;
  MenuItemIndex mItem;
};
extern const MyStartupSubmenu kMyStartupSubmenus[4];

// The Apple events start-up installs, in its order, with the name a failed
// installation reports.
struct MyStartupAppleEvent {
  AEEventClass mClass;
  AEEventID mID;
  AEEventHandlerProcPtr mHandler;
  const char* mName;
};
extern const MyStartupAppleEvent kMyStartupAppleEvents[11];
