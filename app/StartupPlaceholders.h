// Entry points that start-up and the scripting events call but that are
// built elsewhere in the application: the command handler, finding and
// opening a camera, and starting and stopping video. Until their own files
// land, app/StartupPlaceholders.cpp defines them as forwarders to the hooks
// below (tests set them; unset, each does nothing and reports success).
// Delete both files once the real routines are in the tree.
#pragma once
#include <functional>

#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// The application's command handler ({'cmds', 1} on the application target);
// eventNotHandledErr for commands it does not know.
OSStatus myCommandHandler(EventHandlerCallRef call, EventRef event, void* userData);
// Lists the cameras; with one, opens it, else lets the user choose. automatic
// != 0 keeps every failure silent (start-up and scripting).
void myFindAndOpenCamera(UInt32 automatic);
// Starts (stops) video of an open camera; 0 on success.
OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps);
OSStatus myStopCamera(MyCameraWindowDataStruct* record);

struct MyStartupPlaceholderHooks {
  std::function<OSStatus(EventHandlerCallRef, EventRef, void*)> commandHandler;
  std::function<void(UInt32)> findAndOpenCamera;
  std::function<OSStatus(MyCameraWindowDataStruct*, UInt32, UInt32, double)> startCamera;
  std::function<OSStatus(MyCameraWindowDataStruct*)> stopCamera;
};
// The hooks in use; assign to replace them, assign {} to clear them.
MyStartupPlaceholderHooks& myStartupPlaceholderHooks();
