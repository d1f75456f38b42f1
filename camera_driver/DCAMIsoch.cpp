// FireWire isochronous reception: the channel, ports and DCL program that
// fill the receive memory, released here.
#include "camera_driver/DCAMInternal.h"

void myFinalizeISOCHChanel(MyDCAMCameraStruct* camera) {
  if (!camera->mChannelAllocated) return;
  camera->mTransmitting = 0;
  camera->mChannelAllocated = 0;
}

OSStatus myInitializeISOCHChanel(MyDCAMCameraStruct* camera) {
  (void)camera;
  return kIOReturnUnsupported;
}

OSStatus myStartFWStream(MyDCAMCameraStruct* camera) {
  (void)camera;
  return kIOReturnUnsupported;
}

void myStopFWStream(MyDCAMCameraStruct* camera) { (void)camera; }
