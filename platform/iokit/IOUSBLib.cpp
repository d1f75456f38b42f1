#include "platform/iokit/IOUSBLib.h"

#include <deque>
#include <memory>
#include <mutex>
#include <set>

#include "platform/iokit/IOKitInternal.h"
#include "platform/iokit/USBDescriptors.h"

namespace {

std::mutex gOpenMutex;
std::set<std::pair<IOKitBackend*, IOKitBackendKey>> gOpenDevices;
std::set<std::tuple<IOKitBackend*, IOKitBackendKey, UInt8>> gOpenInterfaces;

constexpr IOReturn kIOUSBUnknownPipeErr = (IOReturn)0xE0004061;

// ---------------------------------------------------------------- device

struct Device {
  const IOUSBDeviceInterface* vtbl;
  std::atomic<int> refs{1};
  io_service_t service;
  IOKitObjectInfo info;
  std::mutex mutex;
  bool open = false;
  UInt8 configuration = 0;
  std::vector<UInt8> configDescriptor;  // what GetConfigurationDescriptorPtr points into
};

Device* Dev(void* self) { return static_cast<Device*>(self); }

IOReturn DeviceDescriptor(Device* d, USBDeviceDescriptorInfo* info) {
  std::vector<UInt8> bytes;
  if (IOReturn r = d->info.backend->USBDeviceDescriptor(d->info.key, &bytes)) return r;
  return USBParseDeviceDescriptor(bytes, info) ? kIOReturnSuccess : kIOReturnDeviceError;
}

IOReturn DevClose(IOUSBDeviceRef self) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  if (!d->open) return kIOReturnNotOpen;
  d->open = false;
  d->info.backend->USBClose(d->info.key);
  std::lock_guard<std::mutex> openLock(gOpenMutex);
  gOpenDevices.erase({d->info.backend, d->info.key});
  return kIOReturnSuccess;
}

ULONG DevAddRef(void* self) { return ULONG(++Dev(self)->refs); }
ULONG DevRelease(void* self) {
  Device* d = Dev(self);
  int left = --d->refs;
  if (left == 0) {
    DevClose(reinterpret_cast<IOUSBDeviceRef>(d));
    IOObjectRelease(d->service);
    delete d;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}
HRESULT DevQueryInterface(void* self, REFIID, LPVOID* ppv) {
  DevAddRef(self);
  *ppv = self;
  return S_OK;
}

IOReturn DevOpen(IOUSBDeviceRef self) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  if (d->open) return kIOReturnExclusiveAccess;
  {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    if (gOpenDevices.count({d->info.backend, d->info.key})) return kIOReturnExclusiveAccess;
    gOpenDevices.insert({d->info.backend, d->info.key});
  }
  IOReturn r = d->info.backend->USBOpen(d->info.key);
  if (r != kIOReturnSuccess) {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    gOpenDevices.erase({d->info.backend, d->info.key});
    return r;
  }
  d->open = true;
  return kIOReturnSuccess;
}

IOReturn DevGetVendor(IOUSBDeviceRef self, UInt16* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.idVendor;
  return r;
}
IOReturn DevGetProduct(IOUSBDeviceRef self, UInt16* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.idProduct;
  return r;
}
IOReturn DevManufacturerIndex(IOUSBDeviceRef self, UInt8* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.iManufacturer;
  return r;
}
IOReturn DevProductIndex(IOUSBDeviceRef self, UInt8* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.iProduct;
  return r;
}
IOReturn DevSerialIndex(IOUSBDeviceRef self, UInt8* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.iSerialNumber;
  return r;
}
IOReturn DevNumConfigurations(IOUSBDeviceRef self, UInt8* v) {
  USBDeviceDescriptorInfo info;
  IOReturn r = DeviceDescriptor(Dev(self), &info);
  if (r == kIOReturnSuccess) *v = info.bNumConfigurations;
  return r;
}
IOReturn DevConfigDescriptorPtr(IOUSBDeviceRef self, UInt8 index, IOUSBConfigurationDescriptorPtr* descriptor) {
  Device* d = Dev(self);
  std::vector<UInt8> bytes;
  if (IOReturn r = d->info.backend->USBConfigDescriptor(d->info.key, index, &bytes)) return r;
  if (bytes.size() < sizeof(IOUSBConfigurationDescriptor)) return kIOReturnDeviceError;
  std::lock_guard<std::mutex> lock(d->mutex);
  d->configDescriptor = std::move(bytes);
  *descriptor = reinterpret_cast<IOUSBConfigurationDescriptorPtr>(d->configDescriptor.data());
  return kIOReturnSuccess;
}
IOReturn DevSetConfiguration(IOUSBDeviceRef self, UInt8 value) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  if (!d->open) return kIOReturnNotOpen;
  IOReturn r = d->info.backend->USBSetConfiguration(d->info.key, value);
  if (r == kIOReturnSuccess) d->configuration = value;
  return r;
}
IOReturn DevGetConfiguration(IOUSBDeviceRef self, UInt8* value) {
  Device* d = Dev(self);
  std::lock_guard<std::mutex> lock(d->mutex);
  *value = d->configuration;
  return kIOReturnSuccess;
}
IOReturn DevRequestTO(IOUSBDeviceRef self, IOUSBDevRequestTO* req) {
  Device* d = Dev(self);
  if (!req || (req->wLength && !req->pData)) return kIOReturnBadArgument;
  IOKitUSBSetup setup{req->bmRequestType, req->bRequest, req->wValue, req->wIndex, req->wLength};
  req->wLenDone = 0;
  return d->info.backend->USBControl(d->info.key, setup, req->pData, &req->wLenDone, req->noDataTimeout,
                                     req->completionTimeout);
}
IOReturn DevRequest(IOUSBDeviceRef self, IOUSBDevRequest* req) {
  if (!req) return kIOReturnBadArgument;
  IOUSBDevRequestTO to{req->bmRequestType, req->bRequest, req->wValue, req->wIndex, req->wLength,
                       req->pData, 0, 5000, 5000};
  IOReturn r = DevRequestTO(self, &to);
  req->wLenDone = to.wLenDone;
  return r;
}
IOReturn DevCreateInterfaceIterator(IOUSBDeviceRef self, IOUSBFindInterfaceRequest* request, io_iterator_t* iterator) {
  Device* d = Dev(self);
  *iterator = IO_OBJECT_NULL;
  if (IOReturn r = d->info.backend->Preflight(d->info.key, IOKitStep::USBInterfaceIterator)) return r;
  std::vector<io_object_t> items;
  UInt8 configuration;
  {
    std::lock_guard<std::mutex> lock(d->mutex);
    configuration = d->configuration;
  }
  if (configuration != 0) {
    std::vector<UInt8> bytes;
    USBConfigurationInfo config;
    if (d->info.backend->USBConfigDescriptor(d->info.key, 0, &bytes) == kIOReturnSuccess &&
        USBParseConfigurationDescriptor(bytes, &config)) {
      for (const USBAlternateInfo& a : config.alternates) {
        if (a.alternateSetting != 0) continue;
        auto match = [](UInt16 want, UInt8 have) { return want == kIOUSBFindInterfaceDontCare || want == have; };
        if (request && (!match(request->bInterfaceClass, a.interfaceClass) ||
                        !match(request->bInterfaceSubClass, a.interfaceSubClass) ||
                        !match(request->bInterfaceProtocol, a.interfaceProtocol)))
          continue;
        IOKitObjectInfo info = d->info;
        info.kind = IOKitObjectKind::USBInterface;
        info.interfaceNumber = a.interfaceNumber;
        items.push_back(IOKitNewObject(info));
      }
    }
  }
  *iterator = IOKitNewIterator(items);
  return kIOReturnSuccess;
}
IOReturn DevGetDeviceService(IOUSBDeviceRef self, io_service_t* service) {
  *service = Dev(self)->service;
  return kIOReturnSuccess;
}

const IOUSBDeviceInterface kDeviceTable = {
    nullptr, DevQueryInterface, DevAddRef, DevRelease, DevOpen, DevClose, DevGetVendor, DevGetProduct,
    DevManufacturerIndex, DevProductIndex, DevSerialIndex, DevNumConfigurations, DevConfigDescriptorPtr,
    DevSetConfiguration, DevGetConfiguration, DevRequest, DevRequestTO, DevCreateInterfaceIterator,
    DevGetDeviceService};

// ---------------------------------------------------------------- interface

// The interface's asynchronous event source: completions that back ends
// report from any thread wait here until the source is performed on the run
// loop it was added to. Shared with pending completions, so a completion
// arriving after the interface is gone finds a live queue.
struct AsyncPort {
  struct Completion {
    IOAsyncCallback1 callback;
    void* refcon;
    IOReturn result;
    UInt32 bytes;
  };
  std::mutex mutex;
  CFRunLoopSourceRef source = nullptr;
  std::deque<Completion> done;
};

void AsyncPerform(void* info) {
  auto* port = static_cast<AsyncPort*>(info);
  for (;;) {
    AsyncPort::Completion c;
    {
      std::lock_guard<std::mutex> lock(port->mutex);
      if (port->done.empty()) return;
      c = port->done.front();
      port->done.pop_front();
    }
    if (c.callback) c.callback(c.refcon, c.result, reinterpret_cast<void*>(uintptr_t(c.bytes)));
  }
}

struct Interface {
  const IOUSBInterfaceInterface* vtbl;
  std::atomic<int> refs{1};
  io_service_t service;
  IOKitObjectInfo info;
  std::mutex mutex;
  bool open = false;
  UInt8 alternate = 0;
  USBConfigurationInfo config;
  std::shared_ptr<AsyncPort> async;
};

Interface* Intf(void* self) { return static_cast<Interface*>(self); }

IOReturn IntfClose(IOUSBInterfaceRef self) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  if (!i->open) return kIOReturnNotOpen;
  // Transfers still queued complete (aborted) before the buffers go.
  i->info.backend->USBAbortPipe(i->info.key, 0);
  i->open = false;
  i->info.backend->USBReleaseInterface(i->info.key, i->info.interfaceNumber);
  std::lock_guard<std::mutex> openLock(gOpenMutex);
  gOpenInterfaces.erase({i->info.backend, i->info.key, i->info.interfaceNumber});
  return kIOReturnSuccess;
}

ULONG IntfAddRef(void* self) { return ULONG(++Intf(self)->refs); }
ULONG IntfRelease(void* self) {
  Interface* i = Intf(self);
  int left = --i->refs;
  if (left == 0) {
    IntfClose(reinterpret_cast<IOUSBInterfaceRef>(i));
    if (i->async) {
      CFRunLoopSourceRef source;
      {
        std::lock_guard<std::mutex> lock(i->async->mutex);
        source = i->async->source;
        i->async->source = nullptr;
        i->async->done.clear();
      }
      if (source) {
        CFRunLoopSourceInvalidate(source);
        CFRelease(source);
      }
    }
    IOObjectRelease(i->service);
    delete i;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}
HRESULT IntfQueryInterface(void* self, REFIID, LPVOID* ppv) {
  IntfAddRef(self);
  *ppv = self;
  return S_OK;
}

IOReturn IntfOpen(IOUSBInterfaceRef self) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  if (i->open) return kIOReturnExclusiveAccess;
  {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    if (gOpenInterfaces.count({i->info.backend, i->info.key, i->info.interfaceNumber}))
      return kIOReturnExclusiveAccess;
    gOpenInterfaces.insert({i->info.backend, i->info.key, i->info.interfaceNumber});
  }
  IOReturn r = i->info.backend->USBClaimInterface(i->info.key, i->info.interfaceNumber);
  if (r != kIOReturnSuccess) {
    std::lock_guard<std::mutex> openLock(gOpenMutex);
    gOpenInterfaces.erase({i->info.backend, i->info.key, i->info.interfaceNumber});
    return r;
  }
  i->open = true;
  return kIOReturnSuccess;
}
IOReturn IntfNumber(IOUSBInterfaceRef self, UInt8* n) {
  *n = Intf(self)->info.interfaceNumber;
  return kIOReturnSuccess;
}
IOReturn IntfAlternate(IOUSBInterfaceRef self, UInt8* a) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  *a = i->alternate;
  return kIOReturnSuccess;
}
const USBAlternateInfo* Current(Interface* i) { return i->config.Find(i->info.interfaceNumber, i->alternate); }

IOReturn IntfNumEndpoints(IOUSBInterfaceRef self, UInt8* count) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  const USBAlternateInfo* a = Current(i);
  *count = a ? UInt8(a->endpoints.size()) : 0;
  return kIOReturnSuccess;
}
IOReturn IntfSetAlternate(IOUSBInterfaceRef self, UInt8 setting) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  if (!i->open) return kIOReturnNotOpen;
  if (!i->config.Find(i->info.interfaceNumber, setting)) return kIOReturnBadArgument;
  IOReturn r = i->info.backend->USBSetAlternateSetting(i->info.key, i->info.interfaceNumber, setting);
  if (r == kIOReturnSuccess) i->alternate = setting;
  return r;
}
IOReturn IntfPipeProperties(IOUSBInterfaceRef self, UInt8 pipeRef, UInt8* direction, UInt8* number,
                            UInt8* transferType, UInt16* maxPacketSize, UInt8* interval) {
  Interface* i = Intf(self);
  if (IOReturn r = i->info.backend->Preflight(i->info.key, IOKitStep::USBGetPipeProperties)) return r;
  std::lock_guard<std::mutex> lock(i->mutex);
  if (pipeRef == 0) {
    *direction = kUSBAnyDirn;
    *number = 0;
    *transferType = kUSBControl;
    *maxPacketSize = 64;
    *interval = 0;
    return kIOReturnSuccess;
  }
  const USBAlternateInfo* a = Current(i);
  if (!a || pipeRef > a->endpoints.size()) return kIOUSBUnknownPipeErr;
  const USBEndpointInfo& e = a->endpoints[pipeRef - 1];
  *direction = (e.address & 0x80) ? kUSBIn : kUSBOut;
  *number = e.address & 0x0F;
  *transferType = e.attributes & 3;
  *maxPacketSize = e.maxPacketSize & 0x7FF;
  *interval = e.interval;
  return kIOReturnSuccess;
}
IOReturn IntfControlRequestTO(IOUSBInterfaceRef self, UInt8 pipeRef, IOUSBDevRequestTO* req) {
  Interface* i = Intf(self);
  if (!req || (req->wLength && !req->pData)) return kIOReturnBadArgument;
  req->wLenDone = 0;
  {
    std::lock_guard<std::mutex> lock(i->mutex);
    if (!i->open) return kIOReturnNotOpen;
  }
  if (pipeRef != 0) return kIOUSBUnknownPipeErr;
  IOKitUSBSetup setup{req->bmRequestType, req->bRequest, req->wValue, req->wIndex, req->wLength};
  return i->info.backend->USBControl(i->info.key, setup, req->pData, &req->wLenDone, req->noDataTimeout,
                                     req->completionTimeout);
}
IOReturn IntfControlRequest(IOUSBInterfaceRef self, UInt8 pipeRef, IOUSBDevRequest* req) {
  if (!req) return kIOReturnBadArgument;
  IOUSBDevRequestTO to{req->bmRequestType, req->bRequest, req->wValue, req->wIndex, req->wLength,
                       req->pData, 0, 5000, 5000};
  IOReturn r = IntfControlRequestTO(self, pipeRef, &to);
  req->wLenDone = to.wLenDone;
  return r;
}
IOReturn IntfClearPipeStallBothEnds(IOUSBInterfaceRef self, UInt8 pipeRef) {
  Interface* i = Intf(self);
  UInt8 endpoint = 0;
  {
    std::lock_guard<std::mutex> lock(i->mutex);
    if (!i->open) return kIOReturnNotOpen;
    if (pipeRef != 0) {
      const USBAlternateInfo* a = Current(i);
      if (!a || pipeRef > a->endpoints.size()) return kIOUSBUnknownPipeErr;
      endpoint = a->endpoints[pipeRef - 1].address;
    }
  }
  return i->info.backend->USBClearStall(i->info.key, endpoint);
}
IOReturn IntfGetDevice(IOUSBInterfaceRef self, io_service_t* device) {
  *device = Intf(self)->service;
  return kIOReturnSuccess;
}

// The endpoint address of a pipe of the current alternate setting (0 when
// there is none); call with the interface's mutex held.
UInt8 PipeEndpoint(Interface* i, UInt8 pipeRef) {
  const USBAlternateInfo* a = Current(i);
  if (!a || pipeRef == 0 || pipeRef > a->endpoints.size()) return 0;
  return a->endpoints[pipeRef - 1].address;
}

IOReturn IntfCreateAsyncEventSource(IOUSBInterfaceRef self, CFRunLoopSourceRef* source) {
  Interface* i = Intf(self);
  if (source) *source = nullptr;
  if (!source) return kIOReturnBadArgument;
  if (IOReturn r = i->info.backend->Preflight(i->info.key, IOKitStep::USBAsyncEventSource)) return r;
  std::lock_guard<std::mutex> lock(i->mutex);
  if (!i->async) {
    auto port = std::make_shared<AsyncPort>();
    CFRunLoopSourceContext context = {};
    context.info = port.get();
    context.perform = AsyncPerform;
    port->source = CFRunLoopSourceCreate(nullptr, 0, &context);
    if (!port->source) return kIOReturnNoMemory;
    i->async = port;
  }
  CFRetain(i->async->source);
  *source = i->async->source;
  return kIOReturnSuccess;
}

CFRunLoopSourceRef IntfGetAsyncEventSource(IOUSBInterfaceRef self) {
  Interface* i = Intf(self);
  std::lock_guard<std::mutex> lock(i->mutex);
  return i->async ? i->async->source : nullptr;
}

IOReturn IntfReadPipeAsync(IOUSBInterfaceRef self, UInt8 pipeRef, void* buffer, UInt32 size,
                           IOAsyncCallback1 callback, void* refcon) {
  Interface* i = Intf(self);
  std::shared_ptr<AsyncPort> port;
  UInt8 endpoint;
  {
    std::lock_guard<std::mutex> lock(i->mutex);
    if (!i->open) return kIOReturnNotOpen;
    if (!i->async) return kIOReturnNotReady;
    port = i->async;
    endpoint = PipeEndpoint(i, pipeRef);
  }
  if (!endpoint || !(endpoint & 0x80)) return kIOUSBUnknownPipeErr;
  if (!buffer && size) return kIOReturnBadArgument;
  return i->info.backend->USBBulkReadAsync(
      i->info.key, endpoint, buffer, size, [port, callback, refcon](IOReturn result, UInt32 bytes) {
        std::lock_guard<std::mutex> lock(port->mutex);
        if (!port->source) return;
        port->done.push_back({callback, refcon, result, bytes});
        CFRunLoopSourceSignal(port->source);
      });
}

IOReturn IntfGetPipeStatus(IOUSBInterfaceRef self, UInt8 pipeRef) {
  Interface* i = Intf(self);
  UInt8 endpoint;
  {
    std::lock_guard<std::mutex> lock(i->mutex);
    endpoint = PipeEndpoint(i, pipeRef);
  }
  if (!endpoint) return kIOUSBUnknownPipeErr;
  return i->info.backend->USBPipeStatus(i->info.key, endpoint);
}

IOReturn IntfAbortPipe(IOUSBInterfaceRef self, UInt8 pipeRef) {
  Interface* i = Intf(self);
  UInt8 endpoint;
  {
    std::lock_guard<std::mutex> lock(i->mutex);
    if (!i->open) return kIOReturnNotOpen;
    endpoint = PipeEndpoint(i, pipeRef);
  }
  if (!endpoint) return kIOUSBUnknownPipeErr;
  return i->info.backend->USBAbortPipe(i->info.key, endpoint);
}

const IOUSBInterfaceInterface kInterfaceTable = {
    nullptr, IntfQueryInterface, IntfAddRef, IntfRelease, IntfOpen, IntfClose, IntfNumber, IntfAlternate,
    IntfNumEndpoints, IntfSetAlternate, IntfPipeProperties, IntfControlRequest, IntfControlRequestTO,
    IntfClearPipeStallBothEnds, IntfGetDevice, IntfCreateAsyncEventSource, IntfGetAsyncEventSource,
    IntfReadPipeAsync, IntfGetPipeStatus, IntfAbortPipe};

}  // namespace

void* IOKitCreateUSBDevice(io_service_t service, const IOKitObjectInfo& info) {
  IOObjectRetain(service);
  auto* d = new Device;
  d->vtbl = &kDeviceTable;
  d->service = service;
  d->info = info;
  gIOKitLiveInterfaces++;
  return d;
}

void* IOKitCreateUSBInterface(io_service_t service, const IOKitObjectInfo& info) {
  std::vector<UInt8> bytes;
  USBConfigurationInfo config;
  if (info.backend->USBConfigDescriptor(info.key, 0, &bytes) != kIOReturnSuccess ||
      !USBParseConfigurationDescriptor(bytes, &config))
    return nullptr;
  IOObjectRetain(service);
  auto* i = new Interface;
  i->vtbl = &kInterfaceTable;
  i->service = service;
  i->info = info;
  i->config = std::move(config);
  gIOKitLiveInterfaces++;
  return i;
}
