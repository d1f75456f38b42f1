// What the stand-in of the camera's close was asked to do (see
// camera_lifecycle_stand_ins_support.cpp).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/CameraLifecycle.h"

struct CameraLifecycleCalls {
  std::vector<std::string> log;  // "close"
  std::function<void(MyCameraWindowDataStruct*)> close;  // what the close does besides logging
};
extern CameraLifecycleCalls gCameraLifecycleCalls;

// Logs "close" and runs gCameraLifecycleCalls.close.
void StandInCloseCameraWindows(MyCameraWindowDataStruct* record);
