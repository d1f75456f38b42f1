#include "platform/iokit/LibUSBBackend.h"

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/iokit/HardwareTranslate.h"

namespace {

void Put16(std::vector<UInt8>& b, UInt16 v) {
  b.push_back(UInt8(v));
  b.push_back(UInt8(v >> 8));
}

void PutExtra(std::vector<UInt8>& b, const unsigned char* extra, int length) {
  if (extra && length > 0) b.insert(b.end(), extra, extra + length);
}

std::vector<LibUSBDeviceRecord> ListFromBus() {
  std::vector<LibUSBDeviceRecord> records;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return records;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx, &list);
  for (ssize_t i = 0; i < n; i++) {
    libusb_device_descriptor d;
    if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != kLibUSBCameraVendor) continue;
    LibUSBDeviceRecord r;
    r.bus = libusb_get_bus_number(list[i]);
    r.address = libusb_get_device_address(list[i]);
    r.key = IOKitBackendKey(r.bus) << 8 | r.address;
    r.deviceDescriptor = LibUSBDeviceDescriptorBytes(d);
    for (UInt8 c = 0; c < d.bNumConfigurations; c++) {
      libusb_config_descriptor* config = nullptr;
      if (libusb_get_config_descriptor(list[i], c, &config) != 0) break;
      r.configDescriptors.push_back(LibUSBConfigDescriptorBytes(*config));
      libusb_free_config_descriptor(config);
    }
    records.push_back(std::move(r));
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(ctx);
  return records;
}

// A device handle in its own context; closed when the last user lets go.
// Bulk transfers complete on the handle's own event thread, which runs while
// any were queued and leaves only after every one of them was reaped.
struct Handle;
struct InFlight {
  Handle* owner;
  UInt8 endpoint;
  std::function<void(IOReturn, UInt32)> done;
};

struct Handle {
  libusb_context* ctx = nullptr;
  libusb_device_handle* handle = nullptr;
  std::mutex mutex;
  std::condition_variable reaped;
  std::set<UInt8> claimed;
  std::map<libusb_transfer*, UInt8> inFlight;  // transfer -> endpoint
  std::thread events;
  std::atomic<bool> stopEvents{false};

  ~Handle() {
    if (handle) {
      Abort(0);
      if (events.joinable()) {
        stopEvents = true;
        libusb_interrupt_event_handler(ctx);
        events.join();
      }
      for (UInt8 i : claimed) libusb_release_interface(handle, i);
      libusb_close(handle);
    }
    if (ctx) libusb_exit(ctx);
  }

  void EnsureEventThread() {
    if (events.joinable()) return;
    events = std::thread([this] {
      while (!stopEvents) {
        timeval tv = {0, 200000};
        libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
      }
    });
  }

  // Cancels the endpoint's transfers (0: all) and waits until each has
  // completed through its callback.
  IOReturn Abort(UInt8 endpoint) {
    std::unique_lock<std::mutex> lock(mutex);
    auto mine = [&] {
      for (const auto& [t, ep] : inFlight)
        if (endpoint == 0 || ep == endpoint) return true;
      return false;
    };
    for (const auto& [t, ep] : inFlight)
      if (endpoint == 0 || ep == endpoint) libusb_cancel_transfer(t);
    // The guard is for a host controller that never gives a transfer back.
    return reaped.wait_for(lock, std::chrono::seconds(5), [&] { return !mine(); }) ? kIOReturnSuccess
                                                                                    : kIOReturnTimeout;
  }
};

void LIBUSB_CALL TransferDone(libusb_transfer* t) {
  auto* f = static_cast<InFlight*>(t->user_data);
  const IOReturn status = LibUSBTransferStatusToIOReturn(t->status);
  f->done(status, t->actual_length > 0 ? UInt32(t->actual_length) : 0);
  Handle* h = f->owner;
  delete f;
  libusb_free_transfer(t);
  std::lock_guard<std::mutex> lock(h->mutex);
  h->inFlight.erase(t);
  h->reaped.notify_all();
}

IOReturn OpenHandle(UInt8 bus, UInt8 address, std::shared_ptr<Handle>* out) {
  auto h = std::make_shared<Handle>();
  if (libusb_init(&h->ctx) != 0) {
    h->ctx = nullptr;
    return kIOReturnNoResources;
  }
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(h->ctx, &list);
  if (n < 0) return LibUSBErrorToIOReturn(int(n));
  int status = LIBUSB_ERROR_NO_DEVICE;
  for (ssize_t i = 0; i < n; i++)
    if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address) {
      status = libusb_open(list[i], &h->handle);
      break;
    }
  libusb_free_device_list(list, 1);
  if (status != 0) {
    h->handle = nullptr;
    return LibUSBErrorToIOReturn(status);
  }
  libusb_set_auto_detach_kernel_driver(h->handle, 1);
  *out = std::move(h);
  return kIOReturnSuccess;
}

class LibUSBBackend final : public IOKitBackend {
 public:
  const char* Name() const override { return "libusb"; }

  std::vector<IOKitFireWireUnitInfo> FireWireUnits() override { return {}; }

  std::vector<IOKitUSBDeviceInfo> USBDevices() override {
    std::vector<LibUSBDeviceRecord> records = List();
    std::vector<IOKitUSBDeviceInfo> out;
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
    for (LibUSBDeviceRecord& r : records) {
      IOKitUSBDeviceInfo info;
      if (!USBDeviceInfoFrom(r.deviceDescriptor, r.key, &info)) continue;
      out.push_back(info);
      records_[r.key] = std::move(r);
    }
    return out;
  }

  // FireWire: not on this bus.
  IOReturn FWOpen(IOKitBackendKey) override { return kIOReturnNoDevice; }
  void FWClose(IOKitBackendKey) override {}
  IOReturn FWConfigROM(IOKitBackendKey, std::vector<UInt32>*, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWReadQuadlet(IOKitBackendKey, UInt16, UInt32, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWWriteQuadlet(IOKitBackendKey, UInt16, UInt32, UInt32) override { return kIOReturnNoDevice; }
  IOReturn FWBusGeneration(IOKitBackendKey, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWSpeedToNode(IOKitBackendKey, UInt32, UInt32*) override { return kIOReturnNoDevice; }

  IOReturn USBOpen(IOKitBackendKey key) override {
    LibUSBDeviceRecord r;
    if (!Record(key, &r)) return kIOReturnNoDevice;
    std::shared_ptr<Handle> h;
    if (IOReturn status = OpenHandle(r.bus, r.address, &h)) return status;
    // usbfs lets every program open the device; holding it shows only when
    // an interface is claimed. Try the first one, so that a camera another
    // program streams from is reported held at open, as the listing expects.
    int claim = libusb_claim_interface(h->handle, 0);
    if (claim == LIBUSB_ERROR_BUSY) return kIOReturnExclusiveAccess;
    if (claim == 0) libusb_release_interface(h->handle, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    open_[key] = std::move(h);
    return kIOReturnSuccess;
  }

  void USBClose(IOKitBackendKey key) override {
    std::shared_ptr<Handle> h;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(key);
    if (it == open_.end()) return;
    h = std::move(it->second);
    open_.erase(it);
    // The handle closes when the last transfer in flight lets go of it.
  }

  IOReturn USBDeviceDescriptor(IOKitBackendKey key, std::vector<UInt8>* bytes) override {
    LibUSBDeviceRecord r;
    if (!Record(key, &r)) return kIOReturnNoDevice;
    *bytes = r.deviceDescriptor;
    return kIOReturnSuccess;
  }

  IOReturn USBConfigDescriptor(IOKitBackendKey key, UInt8 index, std::vector<UInt8>* bytes) override {
    LibUSBDeviceRecord r;
    if (!Record(key, &r)) return kIOReturnNoDevice;
    if (index >= r.configDescriptors.size()) return kIOReturnBadArgument;
    *bytes = r.configDescriptors[index];
    return kIOReturnSuccess;
  }

  IOReturn USBSetConfiguration(IOKitBackendKey key, UInt8 value) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    // Setting the active configuration again would reset the device's
    // state for nothing, and fails while another program holds it.
    int current = -1;
    if (libusb_get_configuration(h->handle, &current) == 0 && current == value) return kIOReturnSuccess;
    return LibUSBErrorToIOReturn(libusb_set_configuration(h->handle, value));
  }

  IOReturn USBClaimInterface(IOKitBackendKey key, UInt8 number) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    int status = libusb_claim_interface(h->handle, number);
    if (status != 0) return LibUSBClaimErrorToIOReturn(status);
    std::lock_guard<std::mutex> lock(h->mutex);
    h->claimed.insert(number);
    return kIOReturnSuccess;
  }

  void USBReleaseInterface(IOKitBackendKey key, UInt8 number) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return;
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->claimed.erase(number)) libusb_release_interface(h->handle, number);
  }

  IOReturn USBSetAlternateSetting(IOKitBackendKey key, UInt8 number, UInt8 alternate) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    return LibUSBErrorToIOReturn(libusb_set_interface_alt_setting(h->handle, number, alternate));
  }

  IOReturn USBControl(IOKitBackendKey key, const IOKitUSBSetup& setup, void* data, UInt32* lenDone,
                      UInt32 noDataTimeout, UInt32 completionTimeout) override {
    *lenDone = 0;
    std::shared_ptr<Handle> h = Open(key);
    if (!h) {
      // Requests on the default pipe work on a device nobody opened (the
      // listing reads string descriptors that way).
      LibUSBDeviceRecord r;
      if (!Record(key, &r)) return kIOReturnNoDevice;
      if (IOReturn status = OpenHandle(r.bus, r.address, &h)) return status;
    }
    int n = libusb_control_transfer(h->handle, setup.bmRequestType, setup.bRequest, setup.wValue, setup.wIndex,
                                    static_cast<unsigned char*>(data), setup.wLength,
                                    LibUSBTimeout(noDataTimeout, completionTimeout));
    if (n >= 0) *lenDone = UInt32(n);
    return LibUSBErrorToIOReturn(n);
  }

  IOReturn USBClearStall(IOKitBackendKey key, UInt8 endpoint) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    return LibUSBErrorToIOReturn(libusb_clear_halt(h->handle, endpoint));
  }

  IOReturn USBBulkReadAsync(IOKitBackendKey key, UInt8 endpoint, void* buffer, UInt32 size,
                            std::function<void(IOReturn, UInt32)> done) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    if (size > 0x7FFFFFFF) return kIOReturnBadArgument;
    libusb_transfer* t = libusb_alloc_transfer(0);
    if (!t) return kIOReturnNoMemory;
    auto* f = new InFlight{h.get(), endpoint, std::move(done)};
    libusb_fill_bulk_transfer(t, h->handle, endpoint, static_cast<unsigned char*>(buffer), int(size), TransferDone,
                              f, 0);
    std::lock_guard<std::mutex> lock(h->mutex);
    int status = libusb_submit_transfer(t);
    if (status != 0) {
      delete f;
      libusb_free_transfer(t);
      return LibUSBErrorToIOReturn(status);
    }
    h->inFlight[t] = endpoint;
    h->EnsureEventThread();
    return kIOReturnSuccess;
  }

  IOReturn USBAbortPipe(IOKitBackendKey key, UInt8 endpoint) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    return h->Abort(endpoint);
  }

  // GET_STATUS on the endpoint: bit 0 is the halt.
  IOReturn USBPipeStatus(IOKitBackendKey key, UInt8 endpoint) override {
    std::shared_ptr<Handle> h = Open(key);
    if (!h) return kIOReturnNotOpen;
    unsigned char status[2] = {};
    int n = libusb_control_transfer(h->handle, UInt8(LIBUSB_ENDPOINT_IN) | UInt8(LIBUSB_RECIPIENT_ENDPOINT),
                                    LIBUSB_REQUEST_GET_STATUS, 0, endpoint, status, 2, 5000);
    if (n < 0) return LibUSBErrorToIOReturn(n);
    return (n >= 1 && (status[0] & 1)) ? kIOUSBPipeStalled : kIOReturnSuccess;
  }

  void SetLister(std::function<std::vector<LibUSBDeviceRecord>()> lister) {
    std::lock_guard<std::mutex> lock(mutex_);
    lister_ = std::move(lister);
  }

  std::vector<LibUSBDeviceRecord> List() {
    std::function<std::vector<LibUSBDeviceRecord>()> lister;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lister = lister_;
    }
    return lister ? lister() : ListFromBus();
  }

 private:
  bool Record(IOKitBackendKey key, LibUSBDeviceRecord* r) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(key);
    if (it == records_.end()) return false;
    *r = it->second;
    return true;
  }
  std::shared_ptr<Handle> Open(IOKitBackendKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(key);
    return it == open_.end() ? nullptr : it->second;
  }

  std::mutex mutex_;
  std::function<std::vector<LibUSBDeviceRecord>()> lister_;
  std::map<IOKitBackendKey, LibUSBDeviceRecord> records_;
  std::map<IOKitBackendKey, std::shared_ptr<Handle>> open_;
};

LibUSBBackend& TheBackend() {
  static LibUSBBackend backend;
  return backend;
}

}  // namespace

IOKitBackend* LibUSBCameraBackend() { return &TheBackend(); }

bool LibUSBCamerasPresent() { return !TheBackend().List().empty(); }

void LibUSBSetDeviceLister(std::function<std::vector<LibUSBDeviceRecord>()> lister) {
  TheBackend().SetLister(std::move(lister));
}

std::vector<UInt8> LibUSBDeviceDescriptorBytes(const libusb_device_descriptor& d) {
  std::vector<UInt8> b = {18, LIBUSB_DT_DEVICE};
  Put16(b, d.bcdUSB);
  b.push_back(d.bDeviceClass);
  b.push_back(d.bDeviceSubClass);
  b.push_back(d.bDeviceProtocol);
  b.push_back(d.bMaxPacketSize0);
  Put16(b, d.idVendor);
  Put16(b, d.idProduct);
  Put16(b, d.bcdDevice);
  b.push_back(d.iManufacturer);
  b.push_back(d.iProduct);
  b.push_back(d.iSerialNumber);
  b.push_back(d.bNumConfigurations);
  return b;
}

std::vector<UInt8> LibUSBConfigDescriptorBytes(const libusb_config_descriptor& c) {
  std::vector<UInt8> b = {9, LIBUSB_DT_CONFIG, 0, 0, c.bNumInterfaces, c.bConfigurationValue, c.iConfiguration,
                          c.bmAttributes, c.MaxPower};
  PutExtra(b, c.extra, c.extra_length);
  for (int i = 0; i < c.bNumInterfaces && c.interface; i++) {
    const libusb_interface& intf = c.interface[i];
    for (int a = 0; a < intf.num_altsetting && intf.altsetting; a++) {
      const libusb_interface_descriptor& s = intf.altsetting[a];
      b.insert(b.end(), {9, LIBUSB_DT_INTERFACE, s.bInterfaceNumber, s.bAlternateSetting, s.bNumEndpoints,
                         s.bInterfaceClass, s.bInterfaceSubClass, s.bInterfaceProtocol, s.iInterface});
      PutExtra(b, s.extra, s.extra_length);
      for (int e = 0; e < s.bNumEndpoints && s.endpoint; e++) {
        const libusb_endpoint_descriptor& ep = s.endpoint[e];
        b.insert(b.end(), {7, LIBUSB_DT_ENDPOINT, ep.bEndpointAddress, ep.bmAttributes});
        Put16(b, ep.wMaxPacketSize);
        b.push_back(ep.bInterval);
        PutExtra(b, ep.extra, ep.extra_length);
      }
    }
  }
  const size_t total = std::min<size_t>(b.size(), 0xFFFF);
  b[2] = UInt8(total);
  b[3] = UInt8(total >> 8);
  return b;
}
