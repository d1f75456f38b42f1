#include "app/StartupPlaceholders.h"

MyStartupPlaceholderHooks& myStartupPlaceholderHooks() {
  static MyStartupPlaceholderHooks hooks;
  return hooks;
}

OSStatus myCommandHandler(EventHandlerCallRef call, EventRef event, void* userData) {
  auto& h = myStartupPlaceholderHooks().commandHandler;
  return h ? h(call, event, userData) : OSStatus(eventNotHandledErr);
}

void myFindAndOpenCamera(UInt32 automatic) {
  if (auto& h = myStartupPlaceholderHooks().findAndOpenCamera) h(automatic);
}

OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps) {
  auto& h = myStartupPlaceholderHooks().startCamera;
  return h ? h(record, format, mode, fps) : OSStatus(noErr);
}

OSStatus myStopCamera(MyCameraWindowDataStruct* record) {
  auto& h = myStartupPlaceholderHooks().stopCamera;
  return h ? h(record) : OSStatus(noErr);
}
