#include "media/CameraHandleFields.h"

#include <atomic>

// TODO(rawconv): read the handle's fields once the camera library's handle is in.
namespace {
std::atomic<OSType> gStandInPixelFormat{FOUR_CHAR_CODE("raw ")};
}

UInt8 myCameraVectorUnitFlag(const MyDCAMCameraStruct*) { return 0; }
UInt8 myCameraPPC970Flag(const MyDCAMCameraStruct*) { return 0; }
OSType myCameraPixelFormat(const MyDCAMCameraStruct*) { return gStandInPixelFormat.load(); }
void SkyloomSetStandInCameraPixelFormat(OSType code) { gStandInPixelFormat.store(code); }
