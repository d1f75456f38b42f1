// Finding and opening a camera, and closing its windows.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Takes a camera from the driver's list and opens it with its control and
// video windows. automatic 1 (start-up, scripts) keeps every failure silent;
// 0 (the "open" command) tells the user when no camera is found.
void myFindAndOpenCamera(UInt32 automatic);
