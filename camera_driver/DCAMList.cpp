// Finding cameras: IIDC units on FireWire (unit specifier 0xA02D), then USB
// devices of vendor 0x1E10, with their names and ids.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "camera_driver/DCAMInternal.h"

namespace {

const char kInUseName[] = "Camera In Use - can not read name";
const char kUnknownModel[] = "Unknown Model";

void CopyName(char name[80], const char* text) {
  size_t n = 0;
  for (; n < 79 && text[n]; n++) name[n] = text[n];
  name[n] = 0;
}

// A registry number property, or false when the entry lacks it.
bool NumberProperty(io_registry_entry_t entry, const char* key, UInt64* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  CFTypeRef v = IORegistryEntryCreateCFProperty(entry, k, kCFAllocatorDefault, 0);
  CFRelease(k);
  if (!v) return false;
  SInt64 n = 0;
  bool ok = CFGetTypeID(v) == CFNumberGetTypeID() && CFNumberGetValue(CFNumberRef(v), kCFNumberSInt64Type, &n);
  CFRelease(v);
  *value = UInt64(n);
  return ok;
}

// One FireWire unit into the list entry. 0 or the status that ends the listing.
OSStatus ListFireWireUnit(io_service_t unit, MyDCAMCameraListEntry* entry) {
  UInt64 guid;
  if (!NumberProperty(unit, "GUID", &guid)) return memFullErr;
  entry->mVendor = UInt32(guid >> 32);
  entry->mCameraID = UInt32(guid);
  entry->mInUse = 0;
  CopyName(entry->mName, kInUseName);

  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score = 0;
  OSStatus err = IOCreatePlugInInterfaceForService(unit, kIOFireWireLibTypeID, kIOCFPlugInInterfaceID, &plugIn, &score);
  if (err != noErr) return err;
  if (!plugIn) return kIOReturnError;
  IOFireWireLibDeviceRef dev = nullptr;
  (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v3, (LPVOID*)&dev);
  if (!dev) (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v2, (LPVOID*)&dev);
  if (!dev) {
    IODestroyPlugInInterface(plugIn);
    return kIOReturnError;
  }
  err = (*dev)->Open(dev);
  if (err == kIOReturnExclusiveAccess) {
    entry->mInUse = 1;
    err = noErr;
  } else if (err == noErr) {
    IOFireWireLibConfigDirectoryRef unitDir = (*dev)->GetConfigDirectory(dev, kIOFireWireConfigDirectoryInterfaceID);
    IOFireWireLibConfigDirectoryRef depDir = nullptr;
    if (unitDir)
      (*unitDir)->GetKeyValue_ConfigDirectory(unitDir, kConfigUnitDependentInfoKey, &depDir,
                                              kIOFireWireConfigDirectoryInterfaceID);
    myExtractIIDCProductName(depDir, entry->mName);
    if (depDir) (*depDir)->Release(depDir);
    if (unitDir) (*unitDir)->Release(unitDir);
    (*dev)->Close(dev);
  }
  (*dev)->Release(dev);
  IODestroyPlugInInterface(plugIn);
  return err;
}

}  // namespace

CFMutableDictionaryRef myCreateMatchingDictionary(UInt32 unitSpecID) {
  CFMutableDictionaryRef matching = IOServiceMatching("IOFireWireUnit");
  if (!matching) return nullptr;
  SInt32 id = SInt32(unitSpecID);
  CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &id);
  CFDictionarySetValue(matching, CFSTR("Unit_Spec_ID"), number);
  CFRelease(number);
  return matching;
}

OSStatus myExtractIIDCProductName(IOFireWireLibConfigDirectoryRef dir, char name[80]) {
  CopyName(name, kUnknownModel);
  if (!dir) return noErr;
  int count = 0;
  (*dir)->GetNumEntries(dir, &count);
  for (int i = 0; i < count; i++) {
    int key = -1;
    if ((*dir)->GetIndexKey(dir, i, &key) != noErr || key != 2) continue;
    CFDataRef data = nullptr;
    if ((*dir)->GetIndexValue_Data(dir, i, &data) == noErr && data) {
      // Textual descriptor: two header quadlets, then the text.
      const UInt8* bytes = CFDataGetBytePtr(data);
      CFIndex length = CFDataGetLength(data);
      char text[80] = {0};
      for (CFIndex k = 8, n = 0; k < length && n < 79 && bytes[k]; k++, n++) text[n] = char(bytes[k]);
      if (text[0]) CopyName(name, text);
      CFRelease(data);
    }
    break;
  }
  return noErr;
}

UInt32 myParseUSBSerial(const char* serial) {
  // strtoul(serial, NULL, 16) as an unsigned long of 32 bits would answer it.
  const char* p = serial;
  while (std::isspace(UInt8(*p))) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (std::isspace(UInt8(*p)) || *p == '+' || *p == '-') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long magnitude = std::strtoull(p, &end, 16);
  if (end == p) return 0;
  if (errno == ERANGE || magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  UInt32 value = UInt32(magnitude);
  return negative ? UInt32(0u - value) : value;
}

OSStatus myGetUSBStringDescriptor(IOUSBDeviceRef device, UInt8 index, char* buffer, UInt32 bufferLength,
                                  UInt16 languageID) {
  if (!buffer || bufferLength < 2) return kIOReturnBadArgument;
  buffer[0] = 0;
  UInt8 descriptor[256] = {0};
  IOUSBDevRequestTO request = {0x80, kUSBRqGetDescriptor, UInt16(0x0300 | index), languageID, 2, descriptor,
                               0, 5000, 0};
  OSStatus err = (*device)->DeviceRequestTO(device, &request);
  if (err != noErr && err != kIOReturnOverrun) return err;
  UInt32 length = descriptor[0];
  if (length == 0) return noErr;
  if (descriptor[1] != kUSBStringDesc || (length & 1)) return kIOReturnDeviceError;
  request.wLength = UInt16(length);
  request.wLenDone = 0;
  err = (*device)->DeviceRequestTO(device, &request);
  if (err != noErr) return err;
  UInt32 received = std::min<UInt32>(request.wLenDone, length);
  UInt32 units = received >= 2 ? (received - 2) / 2 : 0;
  UInt32 n = 0;
  for (UInt32 i = 0; i < units && n < bufferLength - 1; i++) {
    UInt16 unit = UInt16(descriptor[2 + 2 * i] | descriptor[3 + 2 * i] << 8);
    // Names are kept as ASCII; anything wider would not survive a low-byte copy.
    buffer[n++] = unit > 0x7F ? '?' : char(unit);
  }
  buffer[n] = 0;
  return noErr;
}

OSStatus myGetUSBCameraProperties(io_service_t service, UInt8* inUse, UInt32* cameraID, char name[80]) {
  *inUse = 0;
  *cameraID = 0;
  name[0] = 0;
  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score = 0;
  IOCreatePlugInInterfaceForService(service, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn, &score);
  if (!plugIn) return -10;
  IOUSBDeviceRef dev = nullptr;
  (*plugIn)->QueryInterface(plugIn, kIOUSBDeviceInterfaceID, (LPVOID*)&dev);
  IODestroyPlugInInterface(plugIn);
  if (!dev) return -20;

  OSStatus err = noErr;
  UInt8 index = 0;
  if ((*dev)->USBGetProductStringIndex(dev, &index) == noErr && index)
    err = myGetUSBStringDescriptor(dev, index, name, 80, 0);
  if (err == noErr && (*dev)->USBGetSerialNumberStringIndex(dev, &index) == noErr && index) {
    char serial[31];
    err = myGetUSBStringDescriptor(dev, index, serial, sizeof serial, 0);
    if (err == noErr) *cameraID = myParseUSBSerial(serial);
  }
  if (err == noErr) {
    err = (*dev)->USBDeviceOpen(dev);
    if (err == kIOReturnExclusiveAccess) {
      *inUse = 1;
      err = noErr;
    } else if (err == noErr) {
      (*dev)->USBDeviceClose(dev);
    }
  }
  (*dev)->Release(dev);
  return err;
}

OSStatus ORX_DCAM_GetListOfCameras(MyDCAMCameraListStruct* list) {
  if (!list) return kIOReturnNoDevice;
  list->mCount = 0;
  UInt32 count = 0;

  // FireWire units first.
  io_iterator_t units = IO_OBJECT_NULL;
  OSStatus err = IOServiceGetMatchingServices(kIOMasterPortDefault, myCreateMatchingDictionary(0xA02D), &units);
  if (err != noErr) return err;
  io_service_t unit;
  while ((unit = IOIteratorNext(units)) != IO_OBJECT_NULL) {
    if (count < kDCAMMaxCameras) {
      MyDCAMCameraListEntry entry = {};
      err = ListFireWireUnit(unit, &entry);
      if (err == noErr) list->mEntries[count++] = entry;
    }
    IOObjectRelease(unit);
    if (err != noErr) break;
  }
  IOObjectRelease(units);
  if (err == memFullErr) {  // a unit without GUID: nothing is listed
    list->mCount = 0;
    return err;
  }
  list->mCount = count;
  if (err != noErr) return err;

  // Then USB cameras of our vendor.
  io_iterator_t devices = IO_OBJECT_NULL;
  err = IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOUSBDevice"), &devices);
  if (err != noErr) return err;
  io_service_t device;
  while ((device = IOIteratorNext(devices)) != IO_OBJECT_NULL) {
    UInt64 vendor = 0;
    if (!NumberProperty(device, "idVendor", &vendor)) {
      err = memFullErr;
    } else if (vendor == kDCAMUSBVendor && count < kDCAMMaxCameras) {
      MyDCAMCameraListEntry& entry = list->mEntries[count];
      entry = MyDCAMCameraListEntry{};
      entry.mVendor = kDCAMUSBVendor;
      err = myGetUSBCameraProperties(device, &entry.mInUse, &entry.mCameraID, entry.mName);
      if (err == noErr) count++;
    }
    IOObjectRelease(device);
    if (err != noErr) break;
  }
  IOObjectRelease(devices);
  list->mCount = count;
  return err;
}
