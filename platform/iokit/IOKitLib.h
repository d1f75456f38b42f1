// IOKit stand-in: registry matching and properties, object references and
// CFPlugIn-style interfaces, dispatched to the hardware back ends of
// IOKitBackend.h (the simulated camera first).
//
// Registry objects (io_object_t) are reference counted; IOObjectRelease drops
// one reference. An iterator owns the services it has not handed out yet;
// IOIteratorNext hands the caller one reference. Plug-in interfaces are
// COM-style: a pointer to a pointer to a table of functions, called as
// (*ref)->Method(ref, ...), released with (*ref)->Release(ref).
#pragma once
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/iokit/IOKitBackend.h"
#include "platform/iokit/IOReturn.h"
#include "platform/mach/Mach.h"

typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
constexpr mach_port_t kIOMasterPortDefault = 0;
constexpr io_object_t IO_OBJECT_NULL = 0;

// ---- registry ----
// The master port of the registry (always kIOMasterPortDefault).
kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
// A matching dictionary for services of the class (key "IOProviderClass");
// further keys must equal the service's properties.
CFMutableDictionaryRef IOServiceMatching(const char* name);
// Consumes one reference to `matching`.
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t* existing);
io_object_t IOIteratorNext(io_iterator_t iterator);
void IOIteratorReset(io_iterator_t iterator);
Boolean IOIteratorIsValid(io_iterator_t iterator);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOObjectRetain(io_object_t object);
// Properties of FireWire units: "GUID" (64-bit), "Unit_Spec_ID",
// "Unit_SW_Version"; of USB devices: "idVendor", "idProduct"; of serial ports
// (class "IOSerialBSDClient"): "IOSerialBSDClientType", "IODialinDevice",
// "IOCalloutDevice", "IOTTYDevice"; of HID devices (class "IOHIDDevice"):
// "VendorID", "ProductID". Null when the
// service lacks the property. The caller releases the result.
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                          CFAllocatorRef allocator, IOOptionBits options);

// ---- plug-in interfaces ----
typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;
enum : HRESULT { S_OK = 0, E_NOINTERFACE = (HRESULT)0x80000004, E_UNEXPECTED = (HRESULT)0x8000FFFF };

// Interface and plug-in type identifiers.
enum IOKitUUID : UInt32 {
  kIOCFPlugInInterfaceID = 1,
  kIOFireWireLibTypeID,
  kIOFireWireDeviceInterfaceID_v2,  // the older device interface (generation 2)
  kIOFireWireDeviceInterfaceID_v3,  // the newer one (generation 3)
  kIOFireWireConfigDirectoryInterfaceID,
  kIOFireWireLocalIsochPortInterfaceID,
  kIOFireWireRemoteIsochPortInterfaceID,
  kIOFireWireIsochChannelInterfaceID,
  kIOFireWireDCLCommandPoolInterfaceID,
  kIOUSBDeviceUserClientTypeID,
  kIOUSBDeviceInterfaceID,
  kIOUSBInterfaceUserClientTypeID,
  kIOUSBInterfaceInterfaceID,
  kIOHIDDeviceUserClientTypeID,
  kIOHIDDeviceInterfaceID,
};
typedef IOKitUUID REFIID;

struct IOCFPlugInInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  UInt16 version;
  UInt16 revision;
};

// pluginType names the family (kIOFireWireLibTypeID, kIOUSBDeviceUserClientTypeID,
// kIOUSBInterfaceUserClientTypeID, kIOHIDDeviceUserClientTypeID); interfaceType is kIOCFPlugInInterfaceID.
kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, IOKitUUID pluginType,
                                                IOKitUUID interfaceType,
                                                IOCFPlugInInterface*** theInterface, SInt32* theScore);
kern_return_t IODestroyPlugInInterface(IOCFPlugInInterface** interface);

// ---- bookkeeping for tests ----
// Registry objects and plug-in interfaces still alive.
long SkyloomIOKitLiveObjectCount();
