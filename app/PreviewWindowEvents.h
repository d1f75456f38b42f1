// The preview ("VideoWindow") window's event handler and its scroll bars'
// action procedure. The opening installs the handler with the camera control
// record as user data for {'keyb' 1} and {'wind' 1, 2, 26, 27, 37, 72, 81,
// 82}, and the procedure on both scroll bars.
#pragma once
#include "app/CameraLifecycle.h"
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// The window's smallest content, points.
constexpr SInt16 kMyPreviewWindowMinimumSize = 120;
// The spot of the spot white balance keeps this far from the frame's edges.
constexpr UInt32 kMySpotBalanceMargin = 16;

OSStatus myPreviewWindowEventHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent, void* inUserData);
void livePreviewWindowScrollImageUPPProc(ControlRef inScrollBar, ControlPartCode inPart);

// Keeps a spot coordinate `margin` pixels inside a frame `size` pixels long;
// a frame too short for both margins gives its centre.
UInt32 myClampSpotCoordinate(UInt32 value, UInt32 size, UInt32 margin);
