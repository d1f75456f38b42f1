// The few fields of the camera library's handle that the frame converters
// and single-frame saving read: the vector-unit and PowerPC 970 flags (set
// when the camera is opened) and the camera pixel-format code of the current
// mode.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MyDCAMCameraStruct;

UInt8 myCameraVectorUnitFlag(const MyDCAMCameraStruct* camera);
UInt8 myCameraPPC970Flag(const MyDCAMCameraStruct* camera);
OSType myCameraPixelFormat(const MyDCAMCameraStruct* camera);
