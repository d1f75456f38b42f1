// IOKit result codes used by the camera library and by the hardware back ends.
// Kept apart from IOKitLib.h so back ends (simulator, libusb, firewire-cdev)
// can speak the layer's results without pulling in the registry API.
#pragma once
#include "platform/coreservices/MacTypes.h"

typedef int kern_return_t;
typedef kern_return_t IOReturn;
typedef UInt32 IOOptionBits;

enum : IOReturn {
  kIOReturnSuccess = 0,
  kIOReturnError = (IOReturn)0xE00002BC,
  kIOReturnNoMemory = (IOReturn)0xE00002BD,
  kIOReturnNoResources = (IOReturn)0xE00002BE,
  kIOReturnBadArgument = (IOReturn)0xE00002C2,
  kIOReturnNoDevice = (IOReturn)0xE00002C0,
  kIOReturnExclusiveAccess = (IOReturn)0xE00002C5,
  kIOReturnUnsupported = (IOReturn)0xE00002C7,
  kIOReturnNotOpen = (IOReturn)0xE00002CD,
  kIOReturnBusy = (IOReturn)0xE00002D5,
  kIOReturnTimeout = (IOReturn)0xE00002D6,
  kIOReturnNotReady = (IOReturn)0xE00002D8,
  kIOReturnNoBandwidth = (IOReturn)0xE00002DB,
  kIOReturnOverrun = (IOReturn)0xE00002E8,
  kIOReturnDeviceError = (IOReturn)0xE00002E9,
  kIOReturnAborted = (IOReturn)0xE00002EB,
  kIOReturnNotResponding = (IOReturn)0xE00002ED,
  kIOReturnNotFound = (IOReturn)0xE00002F0,
  kIOUSBPipeStalled = (IOReturn)0xE000404F,
  kIOUSBTransactionTimeout = (IOReturn)0xE0004051,
};
