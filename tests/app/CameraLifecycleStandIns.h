// What the stand-ins of the camera's start, stop and close were asked to do
// (see camera_lifecycle_stand_ins_support.cpp).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/CameraLifecycle.h"

struct CameraLifecycleCalls {
  std::vector<std::string> log;  // "start", "stop", "close"
  OSStatus startStatus = noErr;
  std::function<void(MyCameraWindowDataStruct*)> close;  // what the close does besides logging
};
extern CameraLifecycleCalls gCameraLifecycleCalls;
