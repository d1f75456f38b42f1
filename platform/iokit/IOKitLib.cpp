#include <cstring>
#include <map>
#include <mutex>

#include "platform/iokit/IOKitInternal.h"

std::atomic<long> gIOKitLiveInterfaces{0};

namespace {

struct ObjectRecord {
  IOKitObjectInfo info;
  int refs = 1;
  std::vector<io_object_t> items;  // iterators
  size_t next = 0;
};

struct ObjectTable {
  std::mutex mutex;
  std::map<io_object_t, ObjectRecord> objects;
  io_object_t nextId = 0x1000;
  std::vector<IOKitBackend*> backends;
};

ObjectTable& Table() {
  static ObjectTable table;
  return table;
}

std::string StringOf(CFStringRef s) {
  char buffer[256];
  if (!s || !CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8)) return {};
  return buffer;
}

bool NumberIn(CFDictionaryRef d, const char* key, SInt64* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  CFTypeRef v = CFDictionaryGetValue(d, k);
  CFRelease(k);
  if (!v || CFGetTypeID(v) != CFNumberGetTypeID()) return false;
  return CFNumberGetValue(CFNumberRef(v), kCFNumberSInt64Type, value);
}

// ---- the plug-in object ----
struct PlugIn {
  const IOCFPlugInInterface* vtbl;
  std::atomic<int> refs{1};
  io_service_t service;
  IOKitUUID family;
};

PlugIn* Self(void* self) { return static_cast<PlugIn*>(self); }

ULONG PlugInAddRef(void* self) { return ULONG(++Self(self)->refs); }

ULONG PlugInRelease(void* self) {
  PlugIn* p = Self(self);
  int left = --p->refs;
  if (left == 0) {
    IOObjectRelease(p->service);
    delete p;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}

HRESULT PlugInQueryInterface(void* self, REFIID iid, LPVOID* ppv) {
  PlugIn* p = Self(self);
  *ppv = nullptr;
  IOKitObjectInfo info;
  if (!IOKitLookup(p->service, &info)) return E_UNEXPECTED;
  IOKitStep step;
  switch (iid) {
    case kIOCFPlugInInterfaceID:
      PlugInAddRef(self);
      *ppv = self;
      return S_OK;
    case kIOFireWireDeviceInterfaceID_v3: step = IOKitStep::FireWireDeviceV3; break;
    case kIOFireWireDeviceInterfaceID_v2: step = IOKitStep::FireWireDeviceV2; break;
    case kIOUSBDeviceInterfaceID: step = IOKitStep::USBDeviceInterface; break;
    case kIOUSBInterfaceInterfaceID: step = IOKitStep::USBInterfaceInterface; break;
    case kIOHIDDeviceInterfaceID: step = IOKitStep::HIDDeviceInterface; break;
    default: return E_NOINTERFACE;
  }
  const bool fits = (p->family == kIOFireWireLibTypeID &&
                     (iid == kIOFireWireDeviceInterfaceID_v3 || iid == kIOFireWireDeviceInterfaceID_v2)) ||
                    (p->family == kIOUSBDeviceUserClientTypeID && iid == kIOUSBDeviceInterfaceID) ||
                    (p->family == kIOUSBInterfaceUserClientTypeID && iid == kIOUSBInterfaceInterfaceID) ||
                    (p->family == kIOHIDDeviceUserClientTypeID && iid == kIOHIDDeviceInterfaceID);
  if (!fits || info.backend->Preflight(info.key, step) != kIOReturnSuccess) return E_NOINTERFACE;
  if (iid == kIOFireWireDeviceInterfaceID_v3 || iid == kIOFireWireDeviceInterfaceID_v2)
    *ppv = IOKitCreateFireWireDevice(p->service, info, iid == kIOFireWireDeviceInterfaceID_v3 ? 3 : 2);
  else if (iid == kIOUSBDeviceInterfaceID)
    *ppv = IOKitCreateUSBDevice(p->service, info);
  else if (iid == kIOHIDDeviceInterfaceID)
    *ppv = IOKitCreateHIDDevice(p->service, info);
  else
    *ppv = IOKitCreateUSBInterface(p->service, info);
  return *ppv ? S_OK : E_NOINTERFACE;
}

const IOCFPlugInInterface kPlugInTable = {nullptr, PlugInQueryInterface, PlugInAddRef, PlugInRelease, 1, 0};

}  // namespace

// ------------------------------------------------------------ back ends

void IOKitSetBackends(std::vector<IOKitBackend*> backends) {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.backends = std::move(backends);
}

std::vector<IOKitBackend*> IOKitGetBackends() {
  ObjectTable& t = Table();
  std::unique_lock<std::mutex> lock(t.mutex);
  if (!t.backends.empty()) return t.backends;
  lock.unlock();
  return IOKitDefaultBackends();
}

// ------------------------------------------------------------ objects

io_object_t IOKitNewObject(const IOKitObjectInfo& info) {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  io_object_t id = t.nextId++;
  t.objects[id].info = info;
  return id;
}

bool IOKitLookup(io_object_t object, IOKitObjectInfo* info) {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(object);
  if (it == t.objects.end()) return false;
  *info = it->second.info;
  return true;
}

io_iterator_t IOKitNewIterator(const std::vector<io_object_t>& items) {
  IOKitObjectInfo info;
  info.kind = IOKitObjectKind::Iterator;
  io_iterator_t it = IOKitNewObject(info);
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  t.objects[it].items = items;
  return it;
}

kern_return_t IOObjectRetain(io_object_t object) {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(object);
  if (it == t.objects.end()) return kIOReturnBadArgument;
  it->second.refs++;
  return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t object) {
  std::vector<io_object_t> owned;
  {
    ObjectTable& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.objects.find(object);
    if (it == t.objects.end()) return kIOReturnBadArgument;
    if (--it->second.refs > 0) return kIOReturnSuccess;
    // An iterator drops the services it never handed out.
    owned.assign(it->second.items.begin() + long(it->second.next), it->second.items.end());
    t.objects.erase(it);
  }
  for (io_object_t o : owned) IOObjectRelease(o);
  return kIOReturnSuccess;
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(iterator);
  if (it == t.objects.end() || it->second.info.kind != IOKitObjectKind::Iterator) return IO_OBJECT_NULL;
  ObjectRecord& r = it->second;
  return r.next < r.items.size() ? r.items[r.next++] : IO_OBJECT_NULL;
}

void IOIteratorReset(io_iterator_t iterator) {
  // Handed-out services belong to their callers; only the rest can be walked again.
  (void)iterator;
}

Boolean IOIteratorIsValid(io_iterator_t iterator) {
  IOKitObjectInfo info;
  return IOKitLookup(iterator, &info) && info.kind == IOKitObjectKind::Iterator;
}

long SkyloomIOKitLiveObjectCount() {
  ObjectTable& t = Table();
  std::lock_guard<std::mutex> lock(t.mutex);
  return long(t.objects.size()) + gIOKitLiveInterfaces.load();
}

// ------------------------------------------------------------ registry

CFMutableDictionaryRef IOServiceMatching(const char* name) {
  if (!name) return nullptr;
  CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                       &kCFTypeDictionaryValueCallBacks);
  CFStringRef value = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
  CFDictionarySetValue(d, CFSTR("IOProviderClass"), value);
  CFRelease(value);
  return d;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t* existing) {
  if (!existing) {
    if (matching) CFRelease(matching);
    return kIOReturnBadArgument;
  }
  *existing = IO_OBJECT_NULL;
  if (!matching) return kIOReturnBadArgument;
  std::string cls = StringOf(CFStringRef(CFDictionaryGetValue(matching, CFSTR("IOProviderClass"))));
  SInt64 want;
  std::vector<io_object_t> items;
  for (IOKitBackend* b : IOKitGetBackends()) {
    if (cls == "IOFireWireUnit") {
      for (const IOKitFireWireUnitInfo& u : b->FireWireUnits()) {
        if (NumberIn(matching, "Unit_Spec_ID", &want) && SInt64(u.unitSpecID) != want) continue;
        if (NumberIn(matching, "Unit_SW_Version", &want) &&
            (!u.hasUnitSWVersion || SInt64(u.unitSWVersion) != want))
          continue;
        IOKitObjectInfo info;
        info.kind = IOKitObjectKind::FireWireUnit;
        info.backend = b;
        info.key = u.key;
        info.unit = u;
        items.push_back(IOKitNewObject(info));
      }
    } else if (cls == "IOUSBDevice") {
      for (const IOKitUSBDeviceInfo& d : b->USBDevices()) {
        if (NumberIn(matching, "idVendor", &want) && SInt64(d.idVendor) != want) continue;
        if (NumberIn(matching, "idProduct", &want) && SInt64(d.idProduct) != want) continue;
        IOKitObjectInfo info;
        info.kind = IOKitObjectKind::USBDevice;
        info.backend = b;
        info.key = d.key;
        info.device = d;
        items.push_back(IOKitNewObject(info));
      }
    } else {
      IOKitMatchFamily(cls, matching, b, &items);
    }
  }
  CFRelease(matching);
  *existing = IOKitNewIterator(items);
  return kIOReturnSuccess;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef, IOOptionBits) {
  IOKitObjectInfo info;
  if (!IOKitLookup(entry, &info)) return nullptr;
  std::string k = StringOf(key);
  SInt64 v;
  if (info.kind == IOKitObjectKind::FireWireUnit) {
    if (k == "GUID" && info.unit.hasGUID) v = SInt64(info.unit.guid);
    else if (k == "Unit_Spec_ID") v = info.unit.unitSpecID;
    else if (k == "Unit_SW_Version" && info.unit.hasUnitSWVersion) v = info.unit.unitSWVersion;
    else return nullptr;
  } else if (info.kind == IOKitObjectKind::USBDevice) {
    if (k == "idVendor") v = info.device.idVendor;
    else if (k == "idProduct") v = info.device.idProduct;
    else return nullptr;
  } else {
    return IOKitFamilyProperty(info, k);
  }
  return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
}

// ------------------------------------------------------------ plug-ins

kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, IOKitUUID pluginType, IOKitUUID interfaceType,
                                                IOCFPlugInInterface*** theInterface, SInt32* theScore) {
  if (!theInterface) return kIOReturnBadArgument;
  *theInterface = nullptr;
  if (theScore) *theScore = 0;
  IOKitObjectInfo info;
  if (!IOKitLookup(service, &info) || interfaceType != kIOCFPlugInInterfaceID) return kIOReturnBadArgument;
  IOKitStep step;
  if (pluginType == kIOFireWireLibTypeID && info.kind == IOKitObjectKind::FireWireUnit)
    step = IOKitStep::FireWirePlugIn;
  else if (pluginType == kIOUSBDeviceUserClientTypeID && info.kind == IOKitObjectKind::USBDevice)
    step = IOKitStep::USBDevicePlugIn;
  else if (pluginType == kIOUSBInterfaceUserClientTypeID && info.kind == IOKitObjectKind::USBInterface)
    step = IOKitStep::USBInterfacePlugIn;
  else if (pluginType == kIOHIDDeviceUserClientTypeID && info.kind == IOKitObjectKind::HIDDevice)
    step = IOKitStep::HIDPlugIn;
  else
    return kIOReturnUnsupported;
  if (IOReturn r = info.backend->Preflight(info.key, step)) return r;
  IOObjectRetain(service);
  PlugIn* p = new PlugIn{&kPlugInTable, {1}, service, pluginType};
  gIOKitLiveInterfaces++;
  *theInterface = reinterpret_cast<IOCFPlugInInterface**>(p);
  return kIOReturnSuccess;
}

kern_return_t IODestroyPlugInInterface(IOCFPlugInInterface** interface) {
  if (!interface) return kIOReturnBadArgument;
  (*interface)->Release(interface);
  return kIOReturnSuccess;
}
