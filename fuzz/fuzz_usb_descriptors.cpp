// USB device and configuration descriptors from a device: any bytes must
// parse or be refused cleanly.
#include <cstddef>
#include <cstdint>

#include "platform/iokit/USBDescriptors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<UInt8> bytes(data, data + size);
  USBDeviceDescriptorInfo device;
  USBParseDeviceDescriptor(bytes, &device);
  USBConfigurationInfo config;
  if (USBParseConfigurationDescriptor(bytes, &config))
    for (const auto& a : config.alternates) config.Find(a.interfaceNumber, a.alternateSetting);
  return 0;
}
