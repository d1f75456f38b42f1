// How the white-balance step reaches the camera. The camera driver's
// application-side calls are not part of this library yet, so the step sends
// its values through a settable function: the application installs one that
// forwards to the driver, tests install a recorder. With nothing installed a
// send does nothing and answers -50 (the step does not look at the answer).
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MyDCAMCameraStruct;

typedef OSStatus (*MyWhiteBalanceSendProc)(MyDCAMCameraStruct* camera, UInt32 feature,
                                           SInt32 selector, UInt32 value);

// Installs proc (null = none) and returns the one it replaces. Install before
// white balance runs; the step reads it on the delivery thread.
MyWhiteBalanceSendProc mySetWhiteBalanceSendProc(MyWhiteBalanceSendProc proc);

OSStatus mySendWhiteBalanceValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector,
                                 UInt32 value);
