// Frame delivery: the detached delivery thread that calls the frame callback.
#include "camera_driver/DCAMInternal.h"

bool myDeallocateWFFSThread(MyDCAMCameraStruct* camera) {
  // No delivery thread runs until a callback is assigned.
  return !myAtomicLoad(&camera->mWFFSAlive);
}

OSStatus myStopForReprogramming(MyDCAMCameraStruct* camera, bool* wasTransmitting, bool* hadChannel) {
  *wasTransmitting = camera->mTransmitting != 0;
  *hadChannel = camera->mChannelAllocated != 0;
  // Transmission and the receive path come with streaming; until a channel
  // is allocated there is nothing to stop.
  if (camera->mVendor == kDCAMUSBVendor)
    myStopQuedAsynchBulkReadsUSB(camera);
  else
    myFinalizeISOCHChanel(camera);
  return noErr;
}

OSStatus myRestartAfterReprogramming(MyDCAMCameraStruct* camera, bool wasTransmitting, bool hadChannel) {
  (void)camera, (void)wasTransmitting, (void)hadChannel;
  return noErr;
}
