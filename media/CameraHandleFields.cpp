#include "media/CameraHandleFields.h"

// TODO(rawconv): read the handle's fields once the camera library's handle is in.
UInt8 myCameraVectorUnitFlag(const MyDCAMCameraStruct*) { return 0; }
UInt8 myCameraPPC970Flag(const MyDCAMCameraStruct*) { return 0; }
OSType myCameraPixelFormat(const MyDCAMCameraStruct*) { return FOUR_CHAR_CODE("raw "); }
