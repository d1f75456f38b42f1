// Shared by the IOKit layer's sources: the registry object table and the
// plug-in interface constructors.
#pragma once
#include <atomic>
#include <string>
#include <vector>

#include "platform/iokit/IOFireWireLib.h"
#include "platform/iokit/IOKitLib.h"

enum class IOKitObjectKind { Iterator, FireWireUnit, USBDevice, USBInterface, SerialPort, HIDDevice };

// What a registry object stands for; copied out of the table under its lock.
struct IOKitObjectInfo {
  IOKitObjectKind kind = IOKitObjectKind::Iterator;
  IOKitBackend* backend = nullptr;
  IOKitBackendKey key = 0;
  IOKitFireWireUnitInfo unit;
  IOKitUSBDeviceInfo device;
  UInt8 interfaceNumber = 0;  // USB interfaces
  IOKitSerialPortInfo serial;
  IOKitHIDDeviceInfo hid;
};

io_object_t IOKitNewObject(const IOKitObjectInfo& info);
// False when the object does not exist.
bool IOKitLookup(io_object_t object, IOKitObjectInfo* info);
// An iterator that owns one reference to each of `items`.
io_iterator_t IOKitNewIterator(const std::vector<io_object_t>& items);

// Interface objects count themselves here while alive.
extern std::atomic<long> gIOKitLiveInterfaces;

// Constructors used by the plug-in's QueryInterface; each retains `service`.
void* IOKitCreateFireWireDevice(io_service_t service, const IOKitObjectInfo& info, int generation);
void* IOKitCreateUSBDevice(io_service_t service, const IOKitObjectInfo& info);
void* IOKitCreateUSBInterface(io_service_t service, const IOKitObjectInfo& info);
void* IOKitCreateHIDDevice(io_service_t service, const IOKitObjectInfo& info);

// ---- the serial and HID families (IOKitFamilies.cpp) ----
// Adds the back end's services of class `cls` that fit `matching`; false when
// the class is not one of these families.
bool IOKitMatchFamily(const std::string& cls, CFDictionaryRef matching, IOKitBackend* backend,
                      std::vector<io_object_t>* items);
// A property of a serial or HID service (caller releases), or null.
CFTypeRef IOKitFamilyProperty(const IOKitObjectInfo& info, const std::string& key);

// ---- isochronous objects of a FireWire device (IOFireWireIsoch.cpp) ----
struct IOFireWireDeviceInterface;
// The back end and key behind a device interface.
void IOKitFireWireDeviceTarget(IOFireWireDeviceInterface** device, IOKitBackend** backend, IOKitBackendKey* key);
IOFireWireDCLCommandPoolInterface** IOKitCreateDCLPool(IOFireWireDeviceInterface** device);
IOFireWireRemoteIsochPortInterface** IOKitCreateRemoteIsochPort(IOFireWireDeviceInterface** device);
IOFireWireLocalIsochPortInterface** IOKitCreateLocalIsochPort(IOFireWireDeviceInterface** device, DCLCommand* program);
IOFireWireIsochChannelInterface** IOKitCreateIsochChannel(IOFireWireDeviceInterface** device, UInt32 packetSize,
                                                          UInt32 speed);
