#include "platform/iokit/IOFireWireLib.h"

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "platform/iokit/ConfigROM.h"
#include "platform/iokit/IOKitInternal.h"

namespace {

// Units opened through a device interface of this process: FireWire has no
// exclusive open in the kernel, so the layer keeps it.
std::mutex gOpenMutex;
std::set<std::pair<IOKitBackend*, IOKitBackendKey>> gOpenUnits;

// ---------------------------------------------------------------- directories

struct ConfigDirectory {
  const IOFireWireConfigDirectoryInterface* vtbl;
  std::atomic<int> refs{1};
  std::shared_ptr<const std::vector<UInt32>> rom;
  std::vector<ConfigROMEntry> entries;
};

ConfigDirectory* Dir(void* self) { return static_cast<ConfigDirectory*>(self); }
IOFireWireLibConfigDirectoryRef NewDirectory(std::shared_ptr<const std::vector<UInt32>> rom, UInt32 index);

ULONG DirAddRef(void* self) { return ULONG(++Dir(self)->refs); }
ULONG DirRelease(void* self) {
  int left = --Dir(self)->refs;
  if (left == 0) {
    delete Dir(self);
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}
HRESULT DirQueryInterface(void* self, REFIID iid, LPVOID* ppv) {
  if (iid != kIOFireWireConfigDirectoryInterfaceID) {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  DirAddRef(self);
  *ppv = self;
  return S_OK;
}

const ConfigROMEntry* EntryAt(IOFireWireLibConfigDirectoryRef self, int index) {
  ConfigDirectory* d = Dir(self);
  if (index < 0 || size_t(index) >= d->entries.size()) return nullptr;
  return &d->entries[size_t(index)];
}

int IndexOfKey(IOFireWireLibConfigDirectoryRef self, int key, int type) {
  ConfigDirectory* d = Dir(self);
  for (size_t i = 0; i < d->entries.size(); i++)
    if (d->entries[i].keyId == key && (type < 0 || d->entries[i].keyType == type)) return int(i);
  return -1;
}

IOReturn DirGetNumEntries(IOFireWireLibConfigDirectoryRef self, int* count) {
  *count = int(Dir(self)->entries.size());
  return kIOReturnSuccess;
}
IOReturn DirGetIndexKey(IOFireWireLibConfigDirectoryRef self, int index, int* key) {
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e) return kIOReturnBadArgument;
  *key = e->keyId;
  return kIOReturnSuccess;
}
IOReturn DirGetIndexType(IOFireWireLibConfigDirectoryRef self, int index, IOConfigKeyType* type) {
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e) return kIOReturnBadArgument;
  *type = e->keyType;
  return kIOReturnSuccess;
}
IOReturn DirGetIndexValue_UInt32(IOFireWireLibConfigDirectoryRef self, int index, UInt32* value) {
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e) return kIOReturnBadArgument;
  if (e->keyType != kConfigImmediateKeyType) return kIOReturnBadArgument;
  *value = e->value;
  return kIOReturnSuccess;
}
IOReturn DirGetIndexValue_Data(IOFireWireLibConfigDirectoryRef self, int index, CFDataRef* value) {
  *value = nullptr;
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e || e->keyType != kConfigLeafKeyType) return kIOReturnBadArgument;
  std::vector<UInt8> bytes;
  if (!ConfigROMLeaf(*Dir(self)->rom, e->Target(), &bytes)) return kIOReturnNotFound;
  *value = CFDataCreate(nullptr, bytes.data(), CFIndex(bytes.size()));
  return *value ? kIOReturnSuccess : kIOReturnNoMemory;
}
IOReturn DirGetIndexValue_ConfigDirectory(IOFireWireLibConfigDirectoryRef self, int index,
                                          IOFireWireLibConfigDirectoryRef* value, REFIID) {
  *value = nullptr;
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e || e->keyType != kConfigDirectoryKeyType) return kIOReturnBadArgument;
  *value = NewDirectory(Dir(self)->rom, e->Target());
  return *value ? kIOReturnSuccess : kIOReturnNotFound;
}
IOReturn DirGetIndexOffset_FWAddress(IOFireWireLibConfigDirectoryRef self, int index, FWAddress* value) {
  const ConfigROMEntry* e = EntryAt(self, index);
  if (!e) return kIOReturnBadArgument;
  value->nodeID = 0;
  value->addressHi = 0xFFFF;
  switch (e->keyType) {
    case kConfigOffsetKeyType: value->addressLo = 0xF0000000u + 4 * e->value; break;
    case kConfigImmediateKeyType: value->addressLo = e->value; break;
    default: value->addressLo = 0xF0000400u + 4 * e->Target(); break;  // where the block sits in the ROM
  }
  return kIOReturnSuccess;
}
IOReturn DirGetKeyValue_UInt32(IOFireWireLibConfigDirectoryRef self, int key, UInt32* value) {
  int i = IndexOfKey(self, key, kConfigImmediateKeyType);
  return i < 0 ? kIOReturnNotFound : DirGetIndexValue_UInt32(self, i, value);
}
IOReturn DirGetKeyValue_Data(IOFireWireLibConfigDirectoryRef self, int key, CFDataRef* value) {
  int i = IndexOfKey(self, key, kConfigLeafKeyType);
  if (i < 0) {
    *value = nullptr;
    return kIOReturnNotFound;
  }
  return DirGetIndexValue_Data(self, i, value);
}
IOReturn DirGetKeyValue_ConfigDirectory(IOFireWireLibConfigDirectoryRef self, int key,
                                        IOFireWireLibConfigDirectoryRef* value, REFIID iid) {
  int i = IndexOfKey(self, key, kConfigDirectoryKeyType);
  if (i < 0) {
    *value = nullptr;
    return kIOReturnNotFound;
  }
  return DirGetIndexValue_ConfigDirectory(self, i, value, iid);
}
IOReturn DirGetKeyOffset_FWAddress(IOFireWireLibConfigDirectoryRef self, int key, FWAddress* value) {
  int i = IndexOfKey(self, key, kConfigOffsetKeyType);
  return i < 0 ? kIOReturnNotFound : DirGetIndexOffset_FWAddress(self, i, value);
}

const IOFireWireConfigDirectoryInterface kDirectoryTable = {
    nullptr, DirQueryInterface, DirAddRef, DirRelease, 1, 0,
    DirGetNumEntries, DirGetIndexKey, DirGetIndexType, DirGetIndexValue_UInt32, DirGetIndexValue_Data,
    DirGetIndexValue_ConfigDirectory, DirGetIndexOffset_FWAddress, DirGetKeyValue_UInt32,
    DirGetKeyValue_Data, DirGetKeyValue_ConfigDirectory, DirGetKeyOffset_FWAddress};

IOFireWireLibConfigDirectoryRef NewDirectory(std::shared_ptr<const std::vector<UInt32>> rom, UInt32 index) {
  auto* d = new ConfigDirectory{&kDirectoryTable, {1}, std::move(rom), {}};
  if (!ConfigROMDirectory(*d->rom, index, &d->entries)) {
    delete d;
    return nullptr;
  }
  gIOKitLiveInterfaces++;
  return reinterpret_cast<IOFireWireLibConfigDirectoryRef>(d);
}

// ---------------------------------------------------------------- device

// A callback dispatcher: a source on the run loop it was added to. Work
// posted to it (bus callbacks, DCL call-procs) runs on that loop's thread.
// The loop is retained, so removing the source later is safe even after the
// loop's thread has ended; the queue belongs to the source as much as to the
// device, so a perform already running when the device goes away finishes on
// memory that is still there.
struct DispatchQueue {
  std::atomic<int> refs{1};
  std::mutex mutex;
  std::deque<std::function<void()>> work;
};

const void* QueueRetain(const void* info) {
  static_cast<DispatchQueue*>(const_cast<void*>(info))->refs++;
  return info;
}

void QueueRelease(const void* info) {
  auto* q = static_cast<DispatchQueue*>(const_cast<void*>(info));
  if (--q->refs == 0) delete q;
}

void QueuePerform(void* info) {
  auto* q = static_cast<DispatchQueue*>(info);
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard<std::mutex> lock(q->mutex);
      if (q->work.empty()) return;
      job = std::move(q->work.front());
      q->work.pop_front();
    }
    job();
  }
}

struct Dispatcher {
  std::mutex mutex;
  CFRunLoopRef loop = nullptr;
  CFRunLoopSourceRef source = nullptr;
  DispatchQueue* queue = nullptr;
};

void DispatcherDetach(Dispatcher& d) {
  CFRunLoopRef loop;
  CFRunLoopSourceRef source;
  DispatchQueue* queue;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    loop = d.loop;
    source = d.source;
    queue = d.queue;
    d.loop = nullptr;
    d.source = nullptr;
    d.queue = nullptr;
  }
  if (queue) {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->work.clear();
  }
  if (source) {
    CFRunLoopSourceInvalidate(source);
    CFRelease(source);
  }
  if (loop) CFRelease(loop);
  if (queue) QueueRelease(queue);
}

void DispatcherAttach(Dispatcher& d, CFRunLoopRef loop) {
  DispatcherDetach(d);
  auto* queue = new DispatchQueue;
  CFRunLoopSourceContext context = {};
  context.info = queue;
  context.retain = QueueRetain;
  context.release = QueueRelease;
  context.perform = QueuePerform;
  CFRunLoopSourceRef source = CFRunLoopSourceCreate(nullptr, 0, &context);
  CFRetain(loop);
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.loop = loop;
    d.source = source;
    d.queue = queue;
  }
  CFRunLoopAddSource(loop, source, kCFRunLoopDefaultMode);
}

bool DispatcherPost(Dispatcher& d, std::function<void()> job) {
  std::lock_guard<std::mutex> lock(d.mutex);
  if (!d.source) return false;
  {
    std::lock_guard<std::mutex> queueLock(d.queue->mutex);
    d.queue->work.push_back(std::move(job));
  }
  CFRunLoopSourceSignal(d.source);
  return true;
}

struct Device {
  const IOFireWireDeviceInterface* vtbl;
  std::atomic<int> refs{1};
  io_service_t service;
  IOKitObjectInfo info;
  std::mutex mutex;
  bool open = false;
  Dispatcher callbackDispatcher;
  Dispatcher isochDispatcher;
};

Device* Dev(void* self) { return static_cast<Device*>(self); }

void DevClose(IOFireWireLibDeviceRef self) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  if (!d->open) return;
  d->open = false;
  d->info.backend->FWClose(d->info.key);
  std::lock_guard<std::mutex> openLock(gOpenMutex);
  gOpenUnits.erase({d->info.backend, d->info.key});
}

ULONG DevAddRef(void* self) { return ULONG(++Dev(self)->refs); }
ULONG DevRelease(void* self) {
  Device* d = Dev(self);
  int left = --d->refs;
  if (left == 0) {
    DevClose(reinterpret_cast<IOFireWireLibDeviceRef>(d));
    DispatcherDetach(d->callbackDispatcher);
    DispatcherDetach(d->isochDispatcher);
    IOObjectRelease(d->service);
    delete d;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}
HRESULT DevQueryInterface(void* self, REFIID iid, LPVOID* ppv) {
  (void)iid;
  DevAddRef(self);
  *ppv = self;
  return S_OK;
}

Boolean DevInterfaceIsInited(IOFireWireLibDeviceRef) { return true; }
io_object_t DevGetDevice(IOFireWireLibDeviceRef self) { return Dev(self)->service; }

IOReturn DevOpen(IOFireWireLibDeviceRef self) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  if (d->open) return kIOReturnSuccess;
  {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    if (gOpenUnits.count({d->info.backend, d->info.key})) return kIOReturnExclusiveAccess;
    gOpenUnits.insert({d->info.backend, d->info.key});
  }
  IOReturn r = d->info.backend->FWOpen(d->info.key);
  if (r != kIOReturnSuccess) {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    gOpenUnits.erase({d->info.backend, d->info.key});
    return r;
  }
  d->open = true;
  return kIOReturnSuccess;
}

bool IsOpen(Device* d) {
  std::lock_guard<std::mutex> lock(d->mutex);
  return d->open;
}

IOReturn DevReadQuadlet(IOFireWireLibDeviceRef self, io_object_t, const FWAddress* addr, UInt32* value,
                        Boolean, UInt32) {
  Device* d = Dev(self);
  if (!addr || !value) return kIOReturnBadArgument;
  if (!IsOpen(d)) return kIOReturnNotOpen;
  return d->info.backend->FWReadQuadlet(d->info.key, addr->addressHi, addr->addressLo, value);
}

IOReturn DevWriteQuadlet(IOFireWireLibDeviceRef self, io_object_t, const FWAddress* addr, const UInt32 value,
                         Boolean, UInt32) {
  Device* d = Dev(self);
  if (!addr) return kIOReturnBadArgument;
  if (!IsOpen(d)) return kIOReturnNotOpen;
  return d->info.backend->FWWriteQuadlet(d->info.key, addr->addressHi, addr->addressLo, value);
}

IOFireWireLibConfigDirectoryRef DevGetConfigDirectory(IOFireWireLibDeviceRef self, REFIID) {
  Device* d = Dev(self);
  if (d->info.backend->Preflight(d->info.key, IOKitStep::FireWireConfigDirectory) != kIOReturnSuccess)
    return nullptr;
  auto rom = std::make_shared<std::vector<UInt32>>();
  UInt32 unitDirectory = 0;
  if (d->info.backend->FWConfigROM(d->info.key, rom.get(), &unitDirectory) != kIOReturnSuccess) return nullptr;
  return NewDirectory(rom, unitDirectory);
}

IOReturn DevAddCallbackDispatcherToRunLoop(IOFireWireLibDeviceRef self, CFRunLoopRef runLoop) {
  Device* d = Dev(self);
  if (!runLoop) return kIOReturnBadArgument;
  if (IOReturn r = d->info.backend->Preflight(d->info.key, IOKitStep::FireWireCallbackDispatcher)) return r;
  DispatcherAttach(d->callbackDispatcher, runLoop);
  return kIOReturnSuccess;
}
void DevRemoveCallbackDispatcherFromRunLoop(IOFireWireLibDeviceRef self) {
  DispatcherDetach(Dev(self)->callbackDispatcher);
}
Boolean DevAddIsochCallbackDispatcherToRunLoop(IOFireWireLibDeviceRef self, CFRunLoopRef runLoop) {
  Device* d = Dev(self);
  if (!runLoop) return false;
  if (d->info.backend->Preflight(d->info.key, IOKitStep::FireWireIsochDispatcher) != kIOReturnSuccess)
    return false;
  DispatcherAttach(d->isochDispatcher, runLoop);
  return true;
}
void DevRemoveIsochCallbackDispatcherFromRunLoop(IOFireWireLibDeviceRef self) {
  DispatcherDetach(Dev(self)->isochDispatcher);
}
IOReturn DevGetBusGeneration(IOFireWireLibDeviceRef self, UInt32* generation) {
  Device* d = Dev(self);
  return d->info.backend->FWBusGeneration(d->info.key, generation);
}
IOReturn DevGetSpeedToNode(IOFireWireLibDeviceRef self, UInt32 checkGeneration, IOFWSpeed* speed) {
  Device* d = Dev(self);
  return d->info.backend->FWSpeedToNode(d->info.key, checkGeneration, speed);
}

IOFireWireLibDCLCommandPoolRef DevCreateDCLCommandPool(IOFireWireLibDeviceRef self, UInt32, REFIID) {
  return IOKitCreateDCLPool(self);
}
IOFireWireLibRemoteIsochPortRef DevCreateRemoteIsochPort(IOFireWireLibDeviceRef self, Boolean talking, REFIID) {
  return talking ? IOKitCreateRemoteIsochPort(self) : nullptr;
}
IOFireWireLibLocalIsochPortRef DevCreateLocalIsochPort(IOFireWireLibDeviceRef self, Boolean talking,
                                                       DCLCommandPtr program, UInt32, UInt32, UInt32,
                                                       IOVirtualRange*, UInt32, IOVirtualRange*, UInt32, REFIID) {
  return talking || !program ? nullptr : IOKitCreateLocalIsochPort(self, program);
}
IOFireWireLibIsochChannelRef DevCreateIsochChannel(IOFireWireLibDeviceRef self, Boolean, UInt32 packetSize,
                                                   IOFWSpeed speed, REFIID) {
  return IOKitCreateIsochChannel(self, packetSize, speed);
}

const IOFireWireDeviceInterface kDeviceTableV3 = {
    nullptr, DevQueryInterface, DevAddRef, DevRelease, 3, 0, DevInterfaceIsInited, DevGetDevice, DevOpen,
    DevClose, DevReadQuadlet, DevWriteQuadlet, DevGetConfigDirectory, DevAddCallbackDispatcherToRunLoop,
    DevRemoveCallbackDispatcherFromRunLoop, DevAddIsochCallbackDispatcherToRunLoop,
    DevRemoveIsochCallbackDispatcherFromRunLoop, DevGetBusGeneration, DevGetSpeedToNode,
    DevCreateDCLCommandPool, DevCreateRemoteIsochPort, DevCreateLocalIsochPort, DevCreateIsochChannel};
const IOFireWireDeviceInterface kDeviceTableV2 = {
    nullptr, DevQueryInterface, DevAddRef, DevRelease, 2, 0, DevInterfaceIsInited, DevGetDevice, DevOpen,
    DevClose, DevReadQuadlet, DevWriteQuadlet, DevGetConfigDirectory, DevAddCallbackDispatcherToRunLoop,
    DevRemoveCallbackDispatcherFromRunLoop, DevAddIsochCallbackDispatcherToRunLoop,
    nullptr, DevGetBusGeneration, DevGetSpeedToNode,
    DevCreateDCLCommandPool, DevCreateRemoteIsochPort, DevCreateLocalIsochPort, DevCreateIsochChannel};

// ---------------------------------------------------------------- bundle

struct SkyloomFireWireLibBundle {
  std::atomic<UInt32> version{0x01700000};
} gBundle;

}  // namespace

struct SkyloomCFBundle {};
static SkyloomCFBundle gFireWireLibBundle;

void* IOKitCreateFireWireDevice(io_service_t service, const IOKitObjectInfo& info, int generation) {
  IOObjectRetain(service);
  auto* d = new Device;
  d->vtbl = generation >= 3 ? &kDeviceTableV3 : &kDeviceTableV2;
  d->service = service;
  d->info = info;
  gIOKitLiveInterfaces++;
  return d;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
  char id[128];
  if (!bundleID || !CFStringGetCString(bundleID, id, sizeof id, kCFStringEncodingUTF8)) return nullptr;
  if (std::strcmp(id, "com.apple.IOFireWireLib") != 0 || gBundle.version.load() == 0) return nullptr;
  return &gFireWireLibBundle;
}

UInt32 CFBundleGetVersionNumber(CFBundleRef bundle) {
  return bundle == &gFireWireLibBundle ? gBundle.version.load() : 0;
}

void SkyloomIOFireWireLibSetVersion(UInt32 version) { gBundle.version = version; }

CFRunLoopRef SkyloomIOFireWireCallbackRunLoop(IOFireWireLibDeviceRef device) {
  Dispatcher& d = Dev(device)->callbackDispatcher;
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.loop;
}

CFRunLoopRef SkyloomIOFireWireIsochRunLoop(IOFireWireLibDeviceRef device) {
  Dispatcher& d = Dev(device)->isochDispatcher;
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.loop;
}

bool SkyloomIOFireWirePostIsoch(IOFireWireLibDeviceRef device, std::function<void()> job) {
  return DispatcherPost(Dev(device)->isochDispatcher, std::move(job));
}

bool SkyloomIOFireWirePostCallback(IOFireWireLibDeviceRef device, std::function<void()> job) {
  return DispatcherPost(Dev(device)->callbackDispatcher, std::move(job));
}

void IOKitFireWireDeviceTarget(IOFireWireLibDeviceRef device, IOKitBackend** backend, IOKitBackendKey* key) {
  Device* d = Dev(device);
  *backend = d->info.backend;
  *key = d->info.key;
}
