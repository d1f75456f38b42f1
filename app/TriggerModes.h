// The "Camera Trigger" submenu (menu 11): the IIDC trigger feature (0x530)
// switched off, on, or on with every triggered frame saved to disk; the
// trigger mode used when it goes on (0 or 14); and, on cameras with GPIO
// pins, the pin set the trigger input uses (0: input pin 0, output pin 1,
// source 0; 1: input pin 3, output pin 2, source 3).
//
// Main thread only.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

constexpr MenuID kMyCameraTriggerMenuID = 11;  // 'TRG0'..'TRG4'

// Item 0 off, 1 on, 2 on with a grab to disk armed after every saved frame,
// 3 toggles the trigger mode between 0 and 14 (it takes effect at the next
// switch-on). Moves menu 11's marks first; mRunning reads 0 while the
// camera is reprogrammed. Nothing happens without a camera record on the
// window or without menu 11.
void myChangeCameraTriggerMenuItem(WindowRef window, UInt32 item);

// Toggles the pin set (when the camera offers it), switches the trigger on
// when it was off (then with mode 0), and writes the pin registers and the
// trigger source for the pin set, whatever the camera.
void myChangeTriggerPins(WindowRef window);

// Arms the grab of trigger item 2 (the frame-grab routine with no
// time-out); tests may replace it.
extern OSStatus (*gMyTriggerGrabArm)(MyCameraWindowDataStruct* record, UInt8 timeoutOn);
