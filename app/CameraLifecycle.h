// The camera's start, stop and close, as the two camera windows' handlers
// call them. Starting and stopping video live with the video start-up code,
// closing with the opening code; their headers, once present, declare the
// same routines.
#pragma once
#include "app/CameraWindowData.h"

#if __has_include("app/VideoStartStop.h")
#include "app/VideoStartStop.h"
#else
// Starts live video of an open camera; the format, mode and rate only appear
// in the diagnostic (the settings come from the record). 0 on success.
OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps);
// Stops live video; 0.
OSStatus myStopCamera(MyCameraWindowDataStruct* record);
#endif

// Closes the camera, its windows and the record (null: only resets the menus).
void myCloseCameraWindows(MyCameraWindowDataStruct* record);
