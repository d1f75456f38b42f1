// Minimal forms of the preview and control windows' handlers and of the
// video stop, for builds that do not carry the full ones yet. Each is weak:
// the full routine, once linked, takes its place.
#include <atomic>
#include <cstdlib>

#include "app/CameraOpening.h"
#include "app/LongExposure.h"
#include "camera_driver/ORXDCAM.h"

__attribute__((weak)) OSStatus myPreviewWindowEventHandler(EventHandlerCallRef, EventRef, void*) {
  return eventNotHandledErr;
}

__attribute__((weak)) void livePreviewWindowScrollImageUPPProc(ControlRef, ControlPartCode) {}

__attribute__((weak)) OSStatus myControlWindowEventHandler(EventHandlerCallRef, EventRef, void*) {
  return eventNotHandledErr;
}

// Delivery ends before the buffers it uses are freed; the long-exposure
// thread is stopped; register 0x610 goes to 0 as after every stop.
__attribute__((weak)) OSStatus myStopCamera(MyCameraWindowDataStruct* r) {
  myRemoveLongExposureTimer(r);
  if (std::atomic_ref<UInt8>(r->mRunning).exchange(0)) {
    ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
    ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
    ORXDCAMStartStopVideo(r->mCameraHandle, 0);
    ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 0);
  }
  if (r->mDisplayTimer) RemoveEventLoopTimer(r->mDisplayTimer);
  r->mDisplayTimer = nullptr;
  r->mDisplayTimerUPP = nullptr;
  free(r->mPreviewBuffer);
  free(r->mWorkBuffer);
  free(r->mFlipVerticalLinePtr);
  free(r->mSecondLongFrameBuffer);
  r->mPreviewBuffer = r->mWorkBuffer = r->mFlipVerticalLinePtr = r->mSecondLongFrameBuffer = nullptr;
  ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0x610, 0, 0);
  return noErr;
}
