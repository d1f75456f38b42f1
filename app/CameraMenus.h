// Menu enabling for the camera control application and the two check-mark
// operations of the camera menu: zoom (which also rescales the preview
// window) and the image-alignment mode. Main thread only.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// Menu IDs of the menu bar "MainMenu" and its submenus.
constexpr MenuID kMyCameraMenuID = 2;          // open, zoom, camera actions, submenus
constexpr MenuID kMyImageAlignMenuID = 10;     // 'IMA0'..'IMA2'
constexpr MenuID kMyCameraTemperatureMenuID = 13;  // 'STEM', 'MTEM', 'DTEM'

// Items of the camera menu.
constexpr MenuItemIndex kMyOpenCameraItem = 1;
constexpr MenuItemIndex kMyFirstZoomItem = 3;   // '1XZM' (0.25x) .. item 10 '8XZM' (fit)
constexpr MenuItemIndex kMyLastZoomItem = 10;
constexpr MenuItemIndex kMyCameraActionItem1 = 12;  // need a running, idle camera
constexpr MenuItemIndex kMyCameraActionItem2 = 13;
constexpr MenuItemIndex kMyImageAlignItem = 15;     // submenu 10
constexpr MenuItemIndex kMyCameraTriggerItem = 16;  // submenu 11
constexpr MenuItemIndex kMyCameraSettingsItem = 17; // submenu 12
constexpr MenuItemIndex kMyTemperatureItem = 21;    // submenu 13

// Sets the enabled state of the camera menu, its submenus and the processing
// commands from the record of the front window. All arguments may be null
// (direct call); returns noErr.
OSStatus myMenuEventHandler(EventHandlerCallRef call, EventRef event, void* userData);

// Moves the zoom check mark to `item` (3..10) and rescales the preview of the
// window's camera. Does nothing unless the window carries a camera record.
void myChangeZoomMenuItem(WindowRef window, SInt16 item);

// Moves the ImageAlignment check mark to mode + 1 and stores the mode (0..2).
// Does nothing unless the window carries a camera record.
void myChangeImageAlignMenuItem(WindowRef window, UInt32 mode);
