// Starting and stopping video, which the scripting events call but which
// are built with the camera's video start and stop. Until that file lands,
// app/StartupPlaceholders.cpp defines them as forwarders to the hooks below
// (tests set them; unset, each does nothing and reports success). Delete
// both files once the real routines are in the tree.
#pragma once
#include <functional>

#include "app/CameraWindowData.h"

// Starts (stops) video of an open camera; 0 on success.
OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps);
OSStatus myStopCamera(MyCameraWindowDataStruct* record);

struct MyStartupPlaceholderHooks {
  std::function<OSStatus(MyCameraWindowDataStruct*, UInt32, UInt32, double)> startCamera;
  std::function<OSStatus(MyCameraWindowDataStruct*)> stopCamera;
};
// The hooks in use; assign to replace them, assign {} to clear them.
MyStartupPlaceholderHooks& myStartupPlaceholderHooks();
