// Stand-ins for the camera's start, stop and close while the code that owns
// them is not part of this build: they record their calls for the window
// handlers' tests. Each goes away by itself once the real routine's header is
// present; the weak definitions yield to the real ones in any case.
#include "tests/app/CameraLifecycleStandIns.h"

CameraLifecycleCalls gCameraLifecycleCalls;

#if !__has_include("app/VideoStartStop.h")
__attribute__((weak)) OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32, UInt32, double) {
  gCameraLifecycleCalls.log.push_back("start");
  if (gCameraLifecycleCalls.startStatus == noErr) record->mRunning = 1;
  return gCameraLifecycleCalls.startStatus;
}

__attribute__((weak)) OSStatus myStopCamera(MyCameraWindowDataStruct* record) {
  gCameraLifecycleCalls.log.push_back("stop");
  record->mRunning = 0;
  return noErr;
}
#endif

__attribute__((weak)) void myCloseCameraWindows(MyCameraWindowDataStruct* record) {
  gCameraLifecycleCalls.log.push_back("close");
  if (gCameraLifecycleCalls.close) gCameraLifecycleCalls.close(record);
}
