#include "app/StartupPlaceholders.h"

MyStartupPlaceholderHooks& myStartupPlaceholderHooks() {
  static MyStartupPlaceholderHooks hooks;
  return hooks;
}

OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps) {
  auto& h = myStartupPlaceholderHooks().startCamera;
  return h ? h(record, format, mode, fps) : OSStatus(noErr);
}

OSStatus myStopCamera(MyCameraWindowDataStruct* record) {
  auto& h = myStartupPlaceholderHooks().stopCamera;
  return h ? h(record) : OSStatus(noErr);
}
