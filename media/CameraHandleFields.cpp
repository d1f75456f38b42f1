#include "media/CameraHandleFields.h"

#include "camera_driver/DCAMCameraStruct.h"

UInt8 myCameraVectorUnitFlag(const MyDCAMCameraStruct* camera) { return camera->mHasVectorUnit; }
UInt8 myCameraPPC970Flag(const MyDCAMCameraStruct* camera) { return camera->mIsPPC970; }
OSType myCameraPixelFormat(const MyDCAMCameraStruct* camera) { return camera->mPixelFormat; }
