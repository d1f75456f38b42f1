// USB descriptor parsing: the device descriptor and the interfaces,
// alternate settings and endpoints of a configuration descriptor. The bytes
// come from the device and are untrusted: every length is checked.
#pragma once
#include <vector>

#include "platform/coreservices/MacTypes.h"

struct USBDeviceDescriptorInfo {
  UInt16 idVendor = 0, idProduct = 0;
  UInt8 iManufacturer = 0, iProduct = 0, iSerialNumber = 0;
  UInt8 bNumConfigurations = 0;
};
// False when the bytes are not a device descriptor.
bool USBParseDeviceDescriptor(const std::vector<UInt8>& bytes, USBDeviceDescriptorInfo* info);

struct USBEndpointInfo {
  UInt8 address = 0;  // bit 7 = IN
  UInt8 attributes = 0;
  UInt16 maxPacketSize = 0;
  UInt8 interval = 0;
};
struct USBAlternateInfo {
  UInt8 interfaceNumber = 0, alternateSetting = 0;
  UInt8 interfaceClass = 0, interfaceSubClass = 0, interfaceProtocol = 0;
  std::vector<USBEndpointInfo> endpoints;
};
struct USBConfigurationInfo {
  UInt8 configurationValue = 0;
  std::vector<USBAlternateInfo> alternates;  // in descriptor order
  const USBAlternateInfo* Find(UInt8 interfaceNumber, UInt8 alternateSetting) const;
};
// False when the bytes do not start with a configuration descriptor. A
// truncated or malformed tail ends the walk; what was read stays.
bool USBParseConfigurationDescriptor(const std::vector<UInt8>& bytes, USBConfigurationInfo* info);
