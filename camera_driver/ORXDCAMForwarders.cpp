// The application's entry points into the camera library.
#include "camera_driver/ORXDCAM.h"

#include <cstring>

#include "camera_driver/DCAMCameraStruct.h"

void (*volatile gORXDCAMTestCallLog)(const char* call, UInt32 argument) = nullptr;

namespace {
void logCall(const char* call, UInt32 argument) {
  if (auto log = __atomic_load_n(&gORXDCAMTestCallLog, __ATOMIC_SEQ_CST)) log(call, argument);
}
}  // namespace

OSStatus ORXDCAMGetListOfCameras(MyDCAMCameraListStruct* list) { return ORX_DCAM_GetListOfCameras(list); }

MyDCAMCameraStruct* ORXDCAMOpenACamera(UInt32 cameraID) { return ORX_DCAM_OpenACamera(cameraID); }

OSStatus ORXDCAMCloseACamera(MyDCAMCameraStruct* camera) { return ORX_DCAM_CloseACamera(camera); }

OSStatus ORXDCAMGetCameraProperties3(MyDCAMCameraStruct* camera, UInt8* destination) {
  if (!camera || !destination) return kIOReturnNoDevice;
  std::memcpy(destination, &camera->mProperties, sizeof camera->mProperties);
  return noErr;
}

OSStatus ORXDCAMSetQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                           UInt32 value) {
  return ORX_DCAM_WriteQuadlet(camera, addressHi, addressLo, absolute, value);
}

OSStatus ORXDCAMGetQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                           UInt32* value) {
  return ORX_DCAM_ReadQuadlet(camera, addressHi, addressLo, absolute, value);
}

OSStatus ORXDCAMGetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo) {
  return ORX_DCAM_GetModeSevenBaseAddress(camera, mode, addressLo);
}

OSStatus ORXDCAMGetFMRProperties(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps,
                                 UInt32* maxWidth, UInt32* maxHeight, UInt32* unitWidth, UInt32* unitHeight,
                                 UInt32* unitPosWidth, UInt32* unitPosHeight, UInt32* packetUnit, UInt32* packetMax,
                                 UInt32* codingBits) {
  return ORX_DCAM_GetFMRProperties(camera, format, mode, fps, maxWidth, maxHeight, unitWidth, unitHeight,
                                   unitPosWidth, unitPosHeight, packetUnit, packetMax, codingBits);
}

OSStatus ORXDCAMSetFMR(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps) {
  logCall("ORXDCAMSetFMR", format);
  return ORX_DCAM_SetFMR(camera, format, mode, fps);
}

OSStatus ORXDCAMSet7MR(MyDCAMCameraStruct* camera, UInt32 mode, UInt32 left, UInt32 top, UInt32 width,
                       UInt32 height, UInt32 colorCodingID, UInt32 bytesPerPacket) {
  logCall("ORXDCAMSet7MR", mode);
  return ORX_DCAM_SetModeSeven(camera, mode, left, top, width, height, colorCodingID, bytesPerPacket);
}

OSStatus ORXDCAMGetFMRLTWHCB(MyDCAMCameraStruct* camera, UInt32* format, UInt32* mode, double* fps, UInt32* left,
                             UInt32* top, UInt32* width, UInt32* height, UInt32* pixelFormat, UInt32* bits) {
  logCall("ORXDCAMGetFMRLTWHCB", 0);
  return ORX_DCAM_GetFMRWHOB(camera, format, mode, fps, left, top, width, height, pixelFormat, bits);
}

OSStatus ORXDCAMAllocateReleaseIsochChannel(MyDCAMCameraStruct* camera, UInt32 on) {
  logCall("ORXDCAMAllocateReleaseIsochChannel", on);
  return ORX_DCAM_StartStopISOCHTransfer(camera, on);
}

OSStatus ORXDCAMStartStopVideo(MyDCAMCameraStruct* camera, UInt32 on) {
  logCall("ORXDCAMStartStopVideo", on);
  return ORX_DCAM_StartStopVideo(camera, on);
}

OSStatus ORXDCAMResumePauseVideo(MyDCAMCameraStruct* camera, UInt32 run) {
  logCall("ORXDCAMResumePauseVideo", run);
  return ORX_DCAM_ResumePauseVideo(camera, run);
}

OSStatus ORXDCAMAssignCallback(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback, void* refCon) {
  logCall("ORXDCAMAssignCallback", callback != nullptr);
  return ORX_DCAM_AssignCallback(camera, callback, refCon);
}

OSStatus ORXDCAMSixteenBitUpShiftAmount(MyDCAMCameraStruct* camera, UInt32 shift) {
  logCall("ORXDCAMSixteenBitUpShiftAmount", shift);
  return ORX_DCAM_SixteenBitUpShiftAmount(camera, shift);
}

OSStatus ORXDCAMSixteenBitEndianSwap(MyDCAMCameraStruct* camera, UInt32 swap) {
  logCall("ORXDCAMSixteenBitEndianSwap", swap);
  return ORX_DCAM_SixteenBitEndianSwap(camera, swap);
}

OSStatus ORXDCAMGetPropertyCapability(MyDCAMCameraStruct* camera, SInt32 feature, UInt32* min, UInt32* max,
                                      UInt8* onePush, UInt8* readOut, UInt8* onOff, UInt8* autoMode,
                                      UInt8* manual) {
  return ORX_DCAM_GetPropertyCapability(camera, feature, min, max, onePush, readOut, onOff, autoMode, manual);
}

OSStatus ORXDCAMGetPropertyValue(MyDCAMCameraStruct* camera, SInt32 feature, SInt32 selector, UInt32* value) {
  return ORX_DCAM_GetPropertyValue(camera, feature, selector, value);
}

OSStatus ORXDCAMSetPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector, UInt32 value) {
  return ORX_DCAM_SetPropertyValue(camera, feature, selector, value);
}

OSStatus ORXDCAMGetABSPropertyCapability(MyDCAMCameraStruct* camera, UInt32 feature, float* min, float* max,
                                         UInt8* readOut, UInt8* manual) {
  return ORX_DCAM_GetABSPropertyCapability(camera, feature, min, max, readOut, manual);
}

OSStatus ORXDCAMGetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, float* value) {
  return ORX_DCAM_GetABSPropertyValue(camera, feature, selector, value);
}

OSStatus ORXDCAMSetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, double value) {
  return ORX_DCAM_SetABSPropertyValue(camera, feature, selector, value);
}
