// The libusb-1.0 back end: USB cameras of vendor 0x1E10 on a Linux host.
//
// Enumeration lists the vendor's devices with their descriptors as the host
// cached them. Each open camera gets its own libusb context, so its transfers
// complete on its own event thread and nothing is shared between cameras.
// Control requests before the device is opened (string descriptors while
// listing) use a short-lived handle.
#pragma once
#include <functional>
#include <vector>

#include "platform/iokit/IOKitBackend.h"

struct libusb_config_descriptor;
struct libusb_device_descriptor;

// One device as enumeration saw it.
struct LibUSBDeviceRecord {
  IOKitBackendKey key = 0;  // bus number << 8 | device address
  UInt8 bus = 0, address = 0;
  std::vector<UInt8> deviceDescriptor;
  std::vector<std::vector<UInt8>> configDescriptors;  // by index
};

constexpr UInt16 kLibUSBCameraVendor = 0x1E10;

// The process-wide back end.
IOKitBackend* LibUSBCameraBackend();
// True when at least one camera of the vendor is plugged in.
bool LibUSBCamerasPresent();
// Tests: enumerate from this list in place of the bus (an empty function goes
// back to the bus).
void LibUSBSetDeviceLister(std::function<std::vector<LibUSBDeviceRecord>()> lister);

// Descriptor bytes as the device sent them, rebuilt from libusb's parsed
// form (multi-byte fields little-endian; extra descriptors kept in place).
std::vector<UInt8> LibUSBDeviceDescriptorBytes(const libusb_device_descriptor& d);
std::vector<UInt8> LibUSBConfigDescriptorBytes(const libusb_config_descriptor& c);
