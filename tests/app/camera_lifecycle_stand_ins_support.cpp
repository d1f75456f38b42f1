// The control window's close for cameras the test harness opened: it records
// the call and runs the test's own closing.
#include "tests/app/CameraLifecycleStandIns.h"

CameraLifecycleCalls gCameraLifecycleCalls;

void StandInCloseCameraWindows(MyCameraWindowDataStruct* record) {
  gCameraLifecycleCalls.log.push_back("close");
  if (gCameraLifecycleCalls.close) gCameraLifecycleCalls.close(record);
}
