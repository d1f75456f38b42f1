// The HID family of the IOKit layer: HID device services (class
// "IOHIDDevice", matched on "VendorID" and "ProductID"), the HID user-client
// plug-in and the HID device interface, dispatched to the back ends like the
// camera families. Also IOObjectGetClass.
//
//   io_service_t s = ...;                      // from IOServiceGetMatchingServices
//   IOCreatePlugInInterfaceForService(s, kIOHIDDeviceUserClientTypeID,
//                                     kIOCFPlugInInterfaceID, &plugIn, &score);
//   (*plugIn)->QueryInterface(plugIn, kIOHIDDeviceInterfaceID, (LPVOID*)&hid);
//   (*hid)->open(hid, 0); ... (*hid)->close(hid); (*hid)->Release(hid);
#pragma once
#include "platform/iokit/IOKitLib.h"

typedef char io_name_t[128];
// The service's class name ("IOHIDDevice", "IOSerialBSDClient",
// "IOFireWireUnit", "IOUSBDevice", "IOUSBInterface").
kern_return_t IOObjectGetClass(io_object_t object, io_name_t className);

typedef UInt32 IOHIDElementCookie;
typedef UInt32 IOHIDElementType;
enum : IOHIDElementType { kIOHIDElementTypeOutput = 129 };

// One value change of an element; longValue is for values wider than 32 bits.
struct IOHIDEventStruct {
  IOHIDElementType type;
  IOHIDElementCookie elementCookie;
  SInt32 value;
  UInt64 timestamp;
  UInt32 longValueSize;
  void* longValue;
};

typedef void (*IOHIDElementCallbackFunction)(void* target, IOReturn result, void* refcon, void* sender,
                                             IOHIDElementCookie elementCookie);

struct IOHIDDeviceInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  IOReturn (*open)(void* self, UInt32 flags);
  IOReturn (*close)(void* self);
  // An array of element dictionaries, each with its "ElementCookie" number
  // (the caller releases it). Only a null matching dictionary is served.
  IOReturn (*copyMatchingElements)(void* self, CFDictionaryRef matchingDict, CFArrayRef* elements);
  // Writes the event's value to the element now; a time-out and callback
  // are accepted and not used (writes complete at once).
  IOReturn (*setElementValue)(void* self, IOHIDElementCookie elementCookie, IOHIDEventStruct* valueEvent,
                              UInt32 timeoutMS, IOHIDElementCallbackFunction callback, void* callbackTarget,
                              void* callbackRefcon);
};
