#include "platform/iokit/USBDescriptors.h"

bool USBParseDeviceDescriptor(const std::vector<UInt8>& d, USBDeviceDescriptorInfo* info) {
  if (d.size() < 18 || d[0] < 18 || d[1] != 1) return false;
  info->idVendor = UInt16(d[8] | d[9] << 8);
  info->idProduct = UInt16(d[10] | d[11] << 8);
  info->iManufacturer = d[14];
  info->iProduct = d[15];
  info->iSerialNumber = d[16];
  info->bNumConfigurations = d[17];
  return true;
}

const USBAlternateInfo* USBConfigurationInfo::Find(UInt8 interfaceNumber, UInt8 alternateSetting) const {
  for (const auto& a : alternates)
    if (a.interfaceNumber == interfaceNumber && a.alternateSetting == alternateSetting) return &a;
  return nullptr;
}

bool USBParseConfigurationDescriptor(const std::vector<UInt8>& d, USBConfigurationInfo* info) {
  *info = USBConfigurationInfo();
  if (d.size() < 9 || d[0] < 9 || d[1] != 2) return false;
  info->configurationValue = d[5];
  size_t total = std::min<size_t>(d.size(), size_t(d[2] | d[3] << 8));
  size_t pos = d[0];
  USBAlternateInfo* current = nullptr;
  while (pos + 2 <= total) {
    size_t length = d[pos];
    if (length < 2 || pos + length > total) break;
    UInt8 type = d[pos + 1];
    if (type == 4 && length >= 9) {
      USBAlternateInfo a;
      a.interfaceNumber = d[pos + 2];
      a.alternateSetting = d[pos + 3];
      a.interfaceClass = d[pos + 5];
      a.interfaceSubClass = d[pos + 6];
      a.interfaceProtocol = d[pos + 7];
      info->alternates.push_back(a);
      current = &info->alternates.back();
    } else if (type == 5 && length >= 7 && current) {
      USBEndpointInfo e;
      e.address = d[pos + 2];
      e.attributes = d[pos + 3];
      e.maxPacketSize = UInt16(d[pos + 4] | d[pos + 5] << 8);
      e.interval = d[pos + 6];
      current->endpoints.push_back(e);
    }
    pos += length;
  }
  return true;
}
