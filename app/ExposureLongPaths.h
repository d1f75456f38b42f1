// The exposure paths that start or stop the long-exposure thread: the
// long-exposure camera kind's frame-rate and long items, and the Point Grey
// trigger scheme. Used by the exposure model only.
#pragma once
#include "app/CameraWindowData.h"

OSStatus myLongExposureKindRateItem(MyCameraWindowDataStruct* record, UInt32 item);
OSStatus myLongExposureKindLongItem(MyCameraWindowDataStruct* record, UInt32 item);
// From the wait after the rate step to the running timing thread.
OSStatus myPointGreyTriggerLongExposure(MyCameraWindowDataStruct* record);
