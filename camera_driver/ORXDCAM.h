// The camera driver as the application sees it. Every function stands for
// one operation of the camera library: same arguments in the same order,
// and its result handed back unchanged (0xE00002C0 for a null handle). The
// one exception, ORXDCAMGetCameraProperties3, copies the capability block
// out of the handle.
//
// The handle (MyDCAMCameraStruct) is opaque here; the shared records
// (MyDCAMCameraListStruct, MyDCAMCameraListEntry,
// MyDCAMCameraPropertiesStruct) and the frame callback type
// (MyDCAMFrameCallback) come with the library's header.
#pragma once
#include "camera_driver/ORX_DCAM.h"

// ---- cameras ----
OSStatus ORXDCAMGetListOfCameras(MyDCAMCameraListStruct* list);
MyDCAMCameraStruct* ORXDCAMOpenACamera(UInt32 cameraID);
OSStatus ORXDCAMCloseACamera(MyDCAMCameraStruct* camera);
// Copies the 384-byte capability block to `destination`; 0xE00002C0 when
// either pointer is null.
OSStatus ORXDCAMGetCameraProperties3(MyDCAMCameraStruct* camera, UInt8* destination);

// ---- registers (absolute == 1: bus address; otherwise offset from the command base) ----
OSStatus ORXDCAMSetQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                           UInt32 value);
OSStatus ORXDCAMGetQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                           UInt32* value);

// ---- formats, modes and rates (see ORX_DCAM.h) ----
OSStatus ORXDCAMGetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo);
OSStatus ORXDCAMGetFMRProperties(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps,
                                 UInt32* maxWidth, UInt32* maxHeight, UInt32* unitWidth, UInt32* unitHeight,
                                 UInt32* unitPosWidth, UInt32* unitPosHeight, UInt32* packetUnit, UInt32* packetMax,
                                 UInt32* codingBits);
OSStatus ORXDCAMSetFMR(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps);
// Format 7: mode, region, colour coding id and bytes per packet.
OSStatus ORXDCAMSet7MR(MyDCAMCameraStruct* camera, UInt32 mode, UInt32 left, UInt32 top, UInt32 width,
                       UInt32 height, UInt32 colorCodingID, UInt32 bytesPerPacket);
// The current format, mode, rate, region, camera pixel-format code and bits per pixel.
OSStatus ORXDCAMGetFMRLTWHCB(MyDCAMCameraStruct* camera, UInt32* format, UInt32* mode, double* fps, UInt32* left,
                             UInt32* top, UInt32* width, UInt32* height, UInt32* pixelFormat, UInt32* bits);

// ---- streaming (see ORX_DCAM.h for the order of the calls) ----
// on 1 allocates the receive path (isochronous channel or bulk reads), other values release it.
OSStatus ORXDCAMAllocateReleaseIsochChannel(MyDCAMCameraStruct* camera, UInt32 on);
OSStatus ORXDCAMStartStopVideo(MyDCAMCameraStruct* camera, UInt32 on);
OSStatus ORXDCAMResumePauseVideo(MyDCAMCameraStruct* camera, UInt32 run);
// A null callback stops delivery.
OSStatus ORXDCAMAssignCallback(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback, void* refCon);
OSStatus ORXDCAMSixteenBitUpShiftAmount(MyDCAMCameraStruct* camera, UInt32 shift);
OSStatus ORXDCAMSixteenBitEndianSwap(MyDCAMCameraStruct* camera, UInt32 swap);

// ---- features (see ORX_DCAM.h for features and selectors) ----
OSStatus ORXDCAMGetPropertyCapability(MyDCAMCameraStruct* camera, SInt32 feature, UInt32* min, UInt32* max,
                                      UInt8* onePush, UInt8* readOut, UInt8* onOff, UInt8* autoMode,
                                      UInt8* manual);
OSStatus ORXDCAMGetPropertyValue(MyDCAMCameraStruct* camera, SInt32 feature, SInt32 selector, UInt32* value);
OSStatus ORXDCAMSetPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector, UInt32 value);
OSStatus ORXDCAMGetABSPropertyCapability(MyDCAMCameraStruct* camera, UInt32 feature, float* min, float* max,
                                         UInt8* readOut, UInt8* manual);
OSStatus ORXDCAMGetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, float* value);
OSStatus ORXDCAMSetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, double value);

// ---- tests ----
// Test-only (null in the product): told of every streaming, format and
// sample-option call before it runs, with its name and its first value
// (on, run, format, mode, shift, swap; 1 for a callback, 0 for none).
extern void (*volatile gORXDCAMTestCallLog)(const char* call, UInt32 argument);
