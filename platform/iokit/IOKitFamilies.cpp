// Serial ports and HID devices in the registry, and the HID device interface.
#include <cstring>

#include "platform/iokit/IOHIDLib.h"
#include "platform/iokit/IOKitInternal.h"

namespace {

std::string StringOf(CFTypeRef s) {
  char buffer[256];
  if (!s || CFGetTypeID(s) != CFStringGetTypeID() ||
      !CFStringGetCString(CFStringRef(s), buffer, sizeof buffer, kCFStringEncodingUTF8))
    return {};
  return buffer;
}

bool ValueIn(CFDictionaryRef d, const char* key, CFTypeRef* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  *value = CFDictionaryGetValue(d, k);
  CFRelease(k);
  return *value != nullptr;
}

// A key of the matching dictionary that the service's number must equal.
bool NumberFits(CFDictionaryRef matching, const char* key, UInt32 have) {
  CFTypeRef v;
  if (!ValueIn(matching, key, &v)) return true;
  SInt64 want;
  return CFGetTypeID(v) == CFNumberGetTypeID() && CFNumberGetValue(CFNumberRef(v), kCFNumberSInt64Type, &want) &&
         want == SInt64(have);
}

CFStringRef NewString(const std::string& s) {
  return CFStringCreateWithCString(nullptr, s.c_str(), kCFStringEncodingUTF8);
}

// ---- the HID device interface ----
struct HIDDevice {
  const IOHIDDeviceInterface* vtbl;
  std::atomic<int> refs{1};
  io_service_t service;
  IOKitObjectInfo info;
  bool open = false;
};

HIDDevice* Self(void* self) { return static_cast<HIDDevice*>(self); }

ULONG HIDAddRef(void* self) { return ULONG(++Self(self)->refs); }

ULONG HIDRelease(void* self) {
  HIDDevice* d = Self(self);
  int left = --d->refs;
  if (left == 0) {
    if (d->open) d->info.backend->HIDClose(d->info.key);
    IOObjectRelease(d->service);
    delete d;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}

HRESULT HIDQueryInterface(void* self, REFIID iid, LPVOID* ppv) {
  *ppv = nullptr;
  if (iid != kIOHIDDeviceInterfaceID && iid != kIOCFPlugInInterfaceID) return E_NOINTERFACE;
  HIDAddRef(self);
  *ppv = self;
  return S_OK;
}

IOReturn HIDOpen(void* self, UInt32 flags) {
  HIDDevice* d = Self(self);
  if (d->open) return kIOReturnExclusiveAccess;
  IOReturn r = d->info.backend->HIDOpen(d->info.key, flags);
  if (r == kIOReturnSuccess) d->open = true;
  return r;
}

IOReturn HIDClose(void* self) {
  HIDDevice* d = Self(self);
  if (!d->open) return kIOReturnNotOpen;
  d->info.backend->HIDClose(d->info.key);
  d->open = false;
  return kIOReturnSuccess;
}

IOReturn HIDCopyMatchingElements(void* self, CFDictionaryRef matchingDict, CFArrayRef* elements) {
  if (!elements) return kIOReturnBadArgument;
  *elements = nullptr;
  if (matchingDict) return kIOReturnUnsupported;
  HIDDevice* d = Self(self);
  std::vector<IOKitHIDElementInfo> list;
  if (IOReturn r = d->info.backend->HIDElements(d->info.key, &list)) return r;
  CFMutableArrayRef array = CFArrayCreateMutable(nullptr, CFIndex(list.size()), &kCFTypeArrayCallBacks);
  for (const IOKitHIDElementInfo& e : list) {
    CFMutableDictionaryRef element = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                               &kCFTypeDictionaryValueCallBacks);
    if (e.hasCookie) {
      SInt32 cookie = SInt32(e.cookie);
      CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &cookie);
      CFDictionarySetValue(element, CFSTR("ElementCookie"), n);
      CFRelease(n);
    }
    CFArrayAppendValue(array, element);
    CFRelease(element);
  }
  *elements = array;
  return kIOReturnSuccess;
}

IOReturn HIDSetElementValue(void* self, IOHIDElementCookie cookie, IOHIDEventStruct* event, UInt32,
                            IOHIDElementCallbackFunction, void*, void*) {
  HIDDevice* d = Self(self);
  if (!event) return kIOReturnBadArgument;
  if (!d->open) return kIOReturnNotOpen;
  return d->info.backend->HIDSetElementValue(d->info.key, cookie, event->value);
}

const IOHIDDeviceInterface kHIDTable = {nullptr, HIDQueryInterface, HIDAddRef, HIDRelease,
                                        HIDOpen, HIDClose,          HIDCopyMatchingElements, HIDSetElementValue};

}  // namespace

bool IOKitMatchFamily(const std::string& cls, CFDictionaryRef matching, IOKitBackend* backend,
                      std::vector<io_object_t>* items) {
  if (cls == "IOSerialBSDClient") {
    // Every port the back ends list is an RS-232 stream.
    CFTypeRef type;
    if (ValueIn(matching, "IOSerialBSDClientType", &type) && StringOf(type) != "IORS232SerialStream") return true;
    for (const IOKitSerialPortInfo& p : backend->SerialPorts()) {
      IOKitObjectInfo info;
      info.kind = IOKitObjectKind::SerialPort;
      info.backend = backend;
      info.key = p.key;
      info.serial = p;
      items->push_back(IOKitNewObject(info));
    }
    return true;
  }
  if (cls == "IOHIDDevice") {
    for (const IOKitHIDDeviceInfo& h : backend->HIDDevices()) {
      if (!NumberFits(matching, "VendorID", h.vendorID) || !NumberFits(matching, "ProductID", h.productID)) continue;
      IOKitObjectInfo info;
      info.kind = IOKitObjectKind::HIDDevice;
      info.backend = backend;
      info.key = h.key;
      info.hid = h;
      items->push_back(IOKitNewObject(info));
    }
    return true;
  }
  return false;
}

CFTypeRef IOKitFamilyProperty(const IOKitObjectInfo& info, const std::string& key) {
  if (info.kind == IOKitObjectKind::SerialPort) {
    // Linux has one node per port, no dial-in and call-out pair.
    if (key == "IODialinDevice" || key == "IOCalloutDevice") return NewString(info.serial.dialinDevice);
    if (key == "IOTTYDevice") {
      size_t slash = info.serial.dialinDevice.rfind('/');
      return NewString(slash == std::string::npos ? info.serial.dialinDevice
                                                  : info.serial.dialinDevice.substr(slash + 1));
    }
    if (key == "IOSerialBSDClientType") return NewString("IORS232SerialStream");
    return nullptr;
  }
  if (info.kind == IOKitObjectKind::HIDDevice) {
    SInt32 v;
    if (key == "VendorID") v = SInt32(info.hid.vendorID);
    else if (key == "ProductID") v = SInt32(info.hid.productID);
    else return nullptr;
    return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
  }
  return nullptr;
}

void* IOKitCreateHIDDevice(io_service_t service, const IOKitObjectInfo& info) {
  if (info.kind != IOKitObjectKind::HIDDevice) return nullptr;
  IOObjectRetain(service);
  auto* d = new HIDDevice;
  d->vtbl = &kHIDTable;
  d->service = service;
  d->info = info;
  gIOKitLiveInterfaces++;
  return d;
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) {
  IOKitObjectInfo info;
  if (!className || !IOKitLookup(object, &info)) return kIOReturnBadArgument;
  const char* name = "IOIterator";
  switch (info.kind) {
    case IOKitObjectKind::Iterator: name = "IOIterator"; break;
    case IOKitObjectKind::FireWireUnit: name = "IOFireWireUnit"; break;
    case IOKitObjectKind::USBDevice: name = "IOUSBDevice"; break;
    case IOKitObjectKind::USBInterface: name = "IOUSBInterface"; break;
    case IOKitObjectKind::SerialPort: name = "IOSerialBSDClient"; break;
    case IOKitObjectKind::HIDDevice:
      if (IOReturn r = info.backend->Preflight(info.key, IOKitStep::HIDObjectClass)) return r;
      name = "IOHIDDevice";
      break;
  }
  strncpy(className, name, sizeof(io_name_t) - 1);
  className[sizeof(io_name_t) - 1] = '\0';
  return kIOReturnSuccess;
}

kern_return_t IOMasterPort(mach_port_t, mach_port_t* masterPort) {
  if (!masterPort) return kIOReturnBadArgument;
  *masterPort = kIOMasterPortDefault;
  return kIOReturnSuccess;
}
