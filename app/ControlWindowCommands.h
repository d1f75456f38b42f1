// The camera control window's event handler: its size limits, zoom, redraw
// and close, and every command its controls send. Installed on the
// "ControlWindow" of an open camera with the camera control record as user
// data, for {'cmds' 1} and {'wind' 72, 26, 81, 82, 1, 2}.
#pragma once
#include "app/CameraLifecycle.h"
#include "app/CameraPrefs.h"  // myMovieFrameIntervalForItem
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// Sizes of the control window's content.
constexpr SInt16 kMyControlWindowWidth = 414;
constexpr SInt16 kMyControlWindowShortHeight = 108;  // histogram only: the zoomed-out state
constexpr SInt16 kMyControlWindowFullHeight = 566;

OSStatus myControlWindowEventHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent, void* inUserData);

// How the close box closes the camera: myCloseCameraWindows. Tests that open
// the camera their own way put their own closing here.
extern void (*gMyControlWindowClose)(MyCameraWindowDataStruct* record);
