// Frame delivery: the detached delivery thread that calls the frame callback.
#include "camera_driver/DCAMInternal.h"

bool myDeallocateWFFSThread(MyDCAMCameraStruct* camera) {
  // No delivery thread runs until a callback is assigned.
  return !myAtomicLoad(&camera->mWFFSAlive);
}
