#include "platform/iokit/FireWireCdevBackend.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/firewire-cdev.h>
#include <linux/firewire-constants.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/iokit/HardwareTranslate.h"

namespace {

constexpr UInt32 kIIDCSpecifier = 0x00A02D;
constexpr size_t kROMBytes = 1024;

bool NodeNumber(const char* name, UInt32* number) {
  if (std::strncmp(name, "fw", 2) != 0 || !name[2]) return false;
  UInt32 n = 0;
  for (const char* p = name + 2; *p; p++) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + UInt32(*p - '0');
  }
  *number = n;
  return true;
}

std::vector<UInt32> QuadletsOf(const std::vector<char>& bytes) {
  std::vector<UInt32> rom(bytes.size() / 4);
  if (!rom.empty()) std::memcpy(rom.data(), bytes.data(), rom.size() * 4);
  return rom;
}

// The ROM and the first bus-reset event from the device node itself.
bool NodeInfo(int fd, std::vector<UInt32>* rom, fw_cdev_event_bus_reset* reset) {
  std::vector<UInt32> buffer(kROMBytes / 4);
  fw_cdev_get_info info = {};
  info.version = 4;
  info.rom_length = kROMBytes;
  info.rom = UInt64(uintptr_t(buffer.data()));
  info.bus_reset = UInt64(uintptr_t(reset));
  if (ioctl(fd, FW_CDEV_IOC_GET_INFO, &info) < 0) return false;
  buffer.resize(std::min<size_t>(info.rom_length, kROMBytes) / 4);
  *rom = std::move(buffer);
  return true;
}

std::vector<FWCdevNodeRecord> ListFromSystem() {
  std::vector<FWCdevNodeRecord> nodes;
  const std::string sys = "/sys/bus/firewire/devices/";
  DIR* dir = opendir(sys.c_str());
  const bool fromSysfs = dir != nullptr;
  if (!dir) dir = opendir("/dev");
  if (!dir) return nodes;
  while (dirent* e = readdir(dir)) {
    FWCdevNodeRecord r;
    if (!NodeNumber(e->d_name, &r.number)) continue;  // skips units "fw1.0"
    r.devicePath = std::string("/dev/") + e->d_name;
    if (fromSysfs) {
      std::ifstream romFile(sys + e->d_name + "/config_rom", std::ios::binary);
      r.rom = QuadletsOf(std::vector<char>(std::istreambuf_iterator<char>(romFile), {}));
      std::ifstream localFile(sys + e->d_name + "/is_local");
      int local = 0;
      if (localFile >> local) r.local = local != 0;
    }
    if (r.rom.empty()) {
      int fd = open(r.devicePath.c_str(), O_RDWR | O_CLOEXEC);
      if (fd < 0) continue;
      fw_cdev_event_bus_reset reset = {};
      bool ok = NodeInfo(fd, &r.rom, &reset);
      close(fd);
      if (!ok) continue;
      r.local = reset.node_id == reset.local_node_id;
    }
    if (!r.local) nodes.push_back(std::move(r));
  }
  closedir(dir);
  return nodes;
}

IOReturn ErrnoToIOReturn(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV: return kIOReturnNoDevice;
    case EACCES:
    case EPERM: return kIOReturnNotPrivilegedStatus;
    case EWOULDBLOCK: return kIOReturnExclusiveAccess;
    case ENOMEM: return kIOReturnNoMemory;
    case EINVAL: return kIOReturnBadArgument;
    case EBUSY: return kIOReturnBusy;
    default: return kIOReturnError;
  }
}

struct Pending {
  bool done = false;
  UInt32 rcode = 0;
  UInt8 data[4] = {};
};

// An open device node and its reader thread.
class Node {
 public:
  ~Node() { Stop(); }

  IOReturn Start(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return ErrnoToIOReturn(errno);
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return ErrnoToIOReturn(errno);
    fw_cdev_event_bus_reset reset = {};
    std::vector<UInt32> rom;
    if (!NodeInfo(fd_, &rom, &reset)) return ErrnoToIOReturn(errno);
    generation_ = reset.generation;
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) return ErrnoToIOReturn(errno);
    reader_ = std::thread([this] { Read(); });
    return kIOReturnSuccess;
  }

  void Stop() {
    if (reader_.joinable()) {
      UInt64 one = 1;
      (void)!write(wake_, &one, sizeof one);
      reader_.join();
    }
    if (wake_ >= 0) close(wake_);
    if (fd_ >= 0) close(fd_);  // drops the advisory lock too
    wake_ = fd_ = -1;
  }

  UInt32 Generation() {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
  }

  IOReturn Speed(UInt32* speed) {
    int s = ioctl(fd_, FW_CDEV_IOC_GET_SPEED, nullptr);
    if (s < 0) return ErrnoToIOReturn(errno);
    *speed = FWCdevSpeedToIOKit(s);
    return kIOReturnSuccess;
  }

  // One quadlet transaction; `data` is in bus order. A request that meets a
  // bus reset goes again with the new generation.
  IOReturn Quadlet(UInt32 tcode, UInt64 offset, UInt8 data[4]) {
    for (int attempt = 0; attempt < 4; attempt++) {
      Pending p;
      std::memcpy(p.data, data, 4);
      UInt64 closure;
      UInt32 generation;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return kIOReturnNoDevice;
        closure = nextClosure_++;
        pending_[closure] = &p;
        generation = generation_;
      }
      fw_cdev_send_request request = {};
      request.tcode = tcode;
      request.length = 4;
      request.offset = offset;
      request.closure = closure;
      request.data = UInt64(uintptr_t(p.data));
      request.generation = generation;
      std::unique_lock<std::mutex> lock(mutex_);
      if (ioctl(fd_, FW_CDEV_IOC_SEND_REQUEST, &request) < 0) {
        pending_.erase(closure);
        return ErrnoToIOReturn(errno);
      }
      // The kernel always answers (split time-outs included); the guard is
      // for a controller that stops.
      bool answered = cv_.wait_for(lock, std::chrono::seconds(5), [&] { return p.done || gone_; });
      pending_.erase(closure);
      if (!answered) return kIOReturnTimeout;
      if (!p.done) return kIOReturnNoDevice;
      if (p.rcode == RCODE_GENERATION) {
        cv_.wait_for(lock, std::chrono::milliseconds(100), [&] { return generation_ != generation || gone_; });
        continue;
      }
      if (p.rcode == RCODE_COMPLETE) std::memcpy(data, p.data, 4);
      return FWCdevRcodeToIOReturn(p.rcode);
    }
    return kIOFireWireBusReset;
  }

 private:
  void Read() {
    std::vector<UInt8> buffer(64 * 1024 + 64);
    FWCdevEventHandlers handlers;
    handlers.busReset = [this](UInt32 generation, UInt32, UInt32) {
      std::lock_guard<std::mutex> lock(mutex_);
      generation_ = generation;
      cv_.notify_all();
    };
    handlers.response = [this](UInt64 closure, UInt32 rcode, const UInt8* data, size_t length) {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = pending_.find(closure);
      if (it == pending_.end()) return;
      it->second->rcode = rcode;
      if (length >= 4) std::memcpy(it->second->data, data, 4);
      it->second->done = true;
      cv_.notify_all();
    };
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents) break;
      if (fds[0].revents & (POLLHUP | POLLERR)) break;
      ssize_t n = read(fd_, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        break;
      }
      FWCdevDispatchEvent(buffer.data(), size_t(n), handlers);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    cv_.notify_all();
  }

  int fd_ = -1, wake_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable cv_;
  UInt32 generation_ = 0;
  bool gone_ = false;
  UInt64 nextClosure_ = 1;
  std::map<UInt64, Pending*> pending_;
};

// Isochronous reception on a descriptor of its own (the kernel gives each
// descriptor one context and one buffer mapping): a channel and bandwidth
// from the resource manager, a receive context whose packets wait in a queue
// of slots, each with the bus time it arrived at, until the DCL engine takes
// them, one per bus cycle. After a bus
// reset the channel is asked for again; when that fails nothing more arrives.
class IsoReceiver {
 public:
  ~IsoReceiver() { Stop(); }

  IOReturn Start(const std::string& path, UInt64 iokitMask, UInt32 packetSize, UInt32 speed, UInt32* channel) {
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) return ErrnoToIOReturn(errno);
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) return ErrnoToIOReturn(errno);
    reader_ = std::thread([this] { Read(); });
    bandwidth_ = FWCdevBandwidthUnits(packetSize, speed);
    SInt32 got = -1;
    if (IOReturn r = Allocate(FWCdevChannelsFromIOKitMask(iokitMask), &got)) return r;
    channel_ = UInt32(got);
    allocated_ = true;
    stride_ = (std::max<UInt32>(packetSize, 4) + 3) / 4 * 4 + 4;  // a few spare bytes, as a DCL takes
    bufferBytes_ = stride_ * kChunks;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_ = std::make_unique<IsoPacketQueue>(stride_, kQueueSlots);
    }
    fw_cdev_create_iso_context create = {};
    create.type = FW_CDEV_ISO_CONTEXT_RECEIVE;
    create.header_size = 8;  // the iso header and the time stamp
    create.channel = channel_;
    create.speed = std::min<UInt32>(speed, 4);
    if (ioctl(fd_, FW_CDEV_IOC_CREATE_ISO_CONTEXT, &create) < 0) return ErrnoToIOReturn(errno);
    handle_ = create.handle;
    hasContext_ = true;
    void* map = mmap(nullptr, bufferBytes_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) return ErrnoToIOReturn(errno);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      buffer_ = static_cast<UInt8*>(map);
      if (IOReturn r = Queue(0, kChunks)) return r;
    }
    fw_cdev_start_iso start = {};
    start.cycle = -1;
    start.tags = FW_CDEV_ISO_CONTEXT_MATCH_ALL_TAGS;
    start.handle = handle_;
    if (ioctl(fd_, FW_CDEV_IOC_START_ISO, &start) < 0) return ErrnoToIOReturn(errno);
    *channel = channel_;
    return kIOReturnSuccess;
  }

  // The oldest received packet (header quadlet, then payload) into `slot`,
  // cut to `capacity`, and the bus time it arrived at into *timeStamp; the
  // bytes written, or 0 when none is waiting.
  UInt32 NextPacket(UInt8* slot, UInt32 capacity, UInt32* timeStamp) {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_ ? queue_->Pop(slot, capacity, timeStamp) : 0;
  }

  UInt32 Channel() const { return channel_; }

 private:
  static constexpr size_t kChunks = 512;        // packets in the receive buffer
  static constexpr size_t kSegment = 32;        // packets an interrupt
  static constexpr size_t kQueueSlots = 4096;   // packets waiting for the engine

  void Stop() {
    if (fd_ >= 0 && hasContext_) {
      fw_cdev_stop_iso stop = {handle_};
      ioctl(fd_, FW_CDEV_IOC_STOP_ISO, &stop);
    }
    if (fd_ >= 0 && allocated_) {
      fw_cdev_allocate_iso_resource release = {};
      release.channels = UInt64(1) << channel_;
      release.bandwidth = bandwidth_;
      ioctl(fd_, FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE_ONCE, &release);
    }
    if (reader_.joinable()) {
      UInt64 one = 1;
      (void)!write(wake_, &one, sizeof one);
      reader_.join();
    }
    if (buffer_) munmap(buffer_, bufferBytes_);
    buffer_ = nullptr;
    if (wake_ >= 0) close(wake_);
    if (fd_ >= 0) close(fd_);  // frees the context
    wake_ = fd_ = -1;
  }

  IOReturn Allocate(UInt64 channels, SInt32* channel) {
    std::unique_lock<std::mutex> lock(mutex_);
    resourceDone_ = false;
    fw_cdev_allocate_iso_resource request = {};
    request.channels = channels;
    request.bandwidth = bandwidth_;
    if (ioctl(fd_, FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE, &request) < 0) return ErrnoToIOReturn(errno);
    if (!cv_.wait_for(lock, std::chrono::seconds(5), [&] { return resourceDone_ || gone_; })) return kIOReturnTimeout;
    if (!resourceDone_) return kIOReturnNoDevice;
    if (resourceChannel_ < 0) return kIOReturnNoResources;
    if (bandwidth_ && resourceBandwidth_ <= 0) {
      // The channel came without the bandwidth: give it back.
      request.channels = UInt64(1) << resourceChannel_;
      request.bandwidth = 0;
      ioctl(fd_, FW_CDEV_IOC_DEALLOCATE_ISO_RESOURCE_ONCE, &request);
      return kIOReturnNoBandwidth;
    }
    *channel = resourceChannel_;
    return kIOReturnSuccess;
  }

  // Queues chunks [first, first + count) of the receive buffer, an interrupt
  // at each segment's end; call with mutex_ held.
  IOReturn Queue(size_t first, size_t count) {
    std::vector<UInt32> control(count);
    for (size_t i = 0; i < count; i++) {
      control[i] = FW_CDEV_ISO_PAYLOAD_LENGTH(UInt32(stride_)) | FW_CDEV_ISO_HEADER_LENGTH(8u);
      if ((first + i + 1) % kSegment == 0) control[i] |= FW_CDEV_ISO_INTERRUPT;
    }
    fw_cdev_queue_iso queue = {};
    queue.packets = UInt64(uintptr_t(control.data()));
    queue.data = UInt64(uintptr_t(buffer_ + first * stride_));
    queue.size = UInt32(count * sizeof(UInt32));
    queue.handle = handle_;
    return ioctl(fd_, FW_CDEV_IOC_QUEUE_ISO, &queue) < 0 ? ErrnoToIOReturn(errno) : kIOReturnSuccess;
  }

  // The packets of one interrupt into the queue, with their time stamps (a
  // full queue drops them, as hardware overruns a late handler), then their
  // chunks go back to the kernel in buffer order.
  void Received(UInt32 cycle, const UInt8* headers, size_t headerLength) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!buffer_ || !queue_) return;
    const size_t packets = std::min(headerLength / 8, kChunks);
    const size_t first = next_;
    queue_->PushInterrupt(headers, packets * 8, 8, cycle, buffer_, kChunks, stride_, first);
    next_ = (first + packets) % kChunks;
    for (size_t done = 0; done < packets;) {
      const size_t at = (first + done) % kChunks;
      const size_t n = std::min(packets - done, kChunks - at);
      Queue(at, n);
      done += n;
    }
  }

  void Read() {
    std::vector<UInt8> buffer(64 * 1024 + 64);
    FWCdevEventHandlers handlers;
    handlers.isoResource = [this](UInt64, bool allocated, SInt32 channel, SInt32 bandwidth) {
      if (!allocated) return;
      std::lock_guard<std::mutex> lock(mutex_);
      resourceDone_ = true;
      resourceChannel_ = channel;
      resourceBandwidth_ = bandwidth;
      cv_.notify_all();
    };
    handlers.isoInterrupt = [this](UInt64, UInt32 cycle, const UInt8* headers, size_t length) {
      Received(cycle, headers, length);
    };
    handlers.busReset = [this](UInt32, UInt32, UInt32) {
      // A one-shot allocation does not outlive the bus generation.
      if (!allocated_) return;
      fw_cdev_allocate_iso_resource again = {};
      again.channels = UInt64(1) << channel_;
      again.bandwidth = bandwidth_;
      ioctl(fd_, FW_CDEV_IOC_ALLOCATE_ISO_RESOURCE_ONCE, &again);
    };
    for (;;) {
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents || (fds[0].revents & (POLLHUP | POLLERR))) break;
      ssize_t n = read(fd_, buffer.data(), buffer.size());
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        break;
      }
      FWCdevDispatchEvent(buffer.data(), size_t(n), handlers);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    gone_ = true;
    cv_.notify_all();
  }

  int fd_ = -1, wake_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool gone_ = false, resourceDone_ = false;
  SInt32 resourceChannel_ = -1, resourceBandwidth_ = 0;
  std::atomic<bool> allocated_{false};
  UInt32 channel_ = 0, bandwidth_ = 0, handle_ = 0;
  bool hasContext_ = false;
  UInt8* buffer_ = nullptr;
  size_t bufferBytes_ = 0, stride_ = 0, next_ = 0;
  std::unique_ptr<IsoPacketQueue> queue_;
};

struct UnitRecord {
  FWCdevNodeRecord node;
  UInt32 unitDirectory = 0;
};

class CdevBackend final : public IOKitNoUSBBackend {
 public:
  const char* Name() const override { return "firewire-cdev"; }

  std::vector<IOKitFireWireUnitInfo> FireWireUnits() override {
    std::vector<FWCdevNodeRecord> nodes = List();
    std::vector<IOKitFireWireUnitInfo> out;
    std::lock_guard<std::mutex> lock(mutex_);
    units_.clear();
    for (const FWCdevNodeRecord& n : nodes) {
      if (n.local) continue;
      ConfigROMIdentity id = ConfigROMParseIdentity(n.rom);
      for (size_t u = 0; u < id.units.size(); u++) {
        IOKitBackendKey key = FWCdevUnitKey(n.number, UInt32(u));
        out.push_back(FireWireUnitInfoFrom(id, id.units[u], key));
        units_[key] = UnitRecord{n, id.units[u].directory};
      }
    }
    return out;
  }

  IOReturn FWOpen(IOKitBackendKey key) override {
    UnitRecord r;
    if (!Unit(key, &r)) return kIOReturnNoDevice;
    auto node = std::make_shared<Node>();
    if (IOReturn status = node->Start(r.node.devicePath)) return status;
    std::lock_guard<std::mutex> lock(mutex_);
    open_[key] = std::move(node);
    return kIOReturnSuccess;
  }

  void FWClose(IOKitBackendKey key) override {
    std::shared_ptr<Node> node;
    std::vector<std::shared_ptr<IsoReceiver>> receivers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto it = receivers_.begin(); it != receivers_.end();) {
        if (it->first.first != key) {
          ++it;
          continue;
        }
        receivers.push_back(std::move(it->second));
        it = receivers_.erase(it);
      }
      auto it = open_.find(key);
      if (it == open_.end()) return;
      node = std::move(it->second);
      open_.erase(it);
    }
    // The reader thread and the descriptor end with the last user.
  }

  IOReturn FWConfigROM(IOKitBackendKey key, std::vector<UInt32>* rom, UInt32* unitDirectoryIndex) override {
    UnitRecord r;
    if (!Unit(key, &r)) return kIOReturnNoDevice;
    *rom = r.node.rom;
    *unitDirectoryIndex = r.unitDirectory;
    return kIOReturnSuccess;
  }

  IOReturn FWReadQuadlet(IOKitBackendKey key, UInt16 hi, UInt32 lo, UInt32* value) override {
    std::shared_ptr<Node> node = OpenNode(key);
    if (!node) return kIOReturnNotOpen;
    UInt8 data[4] = {};
    IOReturn status = node->Quadlet(TCODE_READ_QUADLET_REQUEST, UInt64(hi) << 32 | lo, data);
    if (status == kIOReturnSuccess)
      *value = UInt32(data[0]) << 24 | UInt32(data[1]) << 16 | UInt32(data[2]) << 8 | data[3];
    return status;
  }

  IOReturn FWWriteQuadlet(IOKitBackendKey key, UInt16 hi, UInt32 lo, UInt32 value) override {
    std::shared_ptr<Node> node = OpenNode(key);
    if (!node) return kIOReturnNotOpen;
    UInt8 data[4] = {UInt8(value >> 24), UInt8(value >> 16), UInt8(value >> 8), UInt8(value)};
    return node->Quadlet(TCODE_WRITE_QUADLET_REQUEST, UInt64(hi) << 32 | lo, data);
  }

  IOReturn FWBusGeneration(IOKitBackendKey key, UInt32* generation) override {
    std::shared_ptr<Node> node = OpenNode(key);
    if (!node) return kIOReturnNotOpen;
    *generation = node->Generation();
    return kIOReturnSuccess;
  }

  IOReturn FWSpeedToNode(IOKitBackendKey key, UInt32 generation, UInt32* speed) override {
    std::shared_ptr<Node> node = OpenNode(key);
    if (!node) return kIOReturnNotOpen;
    if (generation != node->Generation()) return kIOReturnNotResponding;
    return node->Speed(speed);
  }

  // Isochronous reception for the DCL engine: allocation starts the receive
  // context, each bus cycle takes the oldest packet, release stops it.
  IOReturn FWAllocateIsochChannel(IOKitBackendKey key, UInt64 channelMask, UInt32 packetSize, UInt32 speed,
                                  UInt32* channel) override {
    UnitRecord r;
    if (!Unit(key, &r)) return kIOReturnNoDevice;
    if (!OpenNode(key)) return kIOReturnNotOpen;
    auto rx = std::make_shared<IsoReceiver>();
    if (IOReturn status = rx->Start(r.node.devicePath, channelMask, packetSize, speed, channel)) return status;
    std::lock_guard<std::mutex> lock(mutex_);
    receivers_[{key, *channel}] = std::move(rx);
    return kIOReturnSuccess;
  }
  void FWReleaseIsochChannel(IOKitBackendKey key, UInt32 channel) override {
    std::shared_ptr<IsoReceiver> rx;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = receivers_.find({key, channel});
    if (it == receivers_.end()) return;
    rx = std::move(it->second);
    receivers_.erase(it);
  }
  UInt32 FWIsochCycle(IOKitBackendKey key, UInt32 channel, UInt8* slot, UInt32 capacity,
                      UInt32* timeStamp) override {
    std::shared_ptr<IsoReceiver> rx;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = receivers_.find({key, channel});
      if (it == receivers_.end()) return 0;
      rx = it->second;
    }
    return rx->NextPacket(slot, capacity, timeStamp);
  }


  void SetLister(std::function<std::vector<FWCdevNodeRecord>()> lister) {
    std::lock_guard<std::mutex> lock(mutex_);
    lister_ = std::move(lister);
  }

  std::vector<FWCdevNodeRecord> List() {
    std::function<std::vector<FWCdevNodeRecord>()> lister;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      lister = lister_;
    }
    return lister ? lister() : ListFromSystem();
  }

 private:
  bool Unit(IOKitBackendKey key, UnitRecord* r) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = units_.find(key);
    if (it == units_.end()) return false;
    *r = it->second;
    return true;
  }
  std::shared_ptr<Node> OpenNode(IOKitBackendKey key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = open_.find(key);
    return it == open_.end() ? nullptr : it->second;
  }

  std::mutex mutex_;
  std::function<std::vector<FWCdevNodeRecord>()> lister_;
  std::map<IOKitBackendKey, UnitRecord> units_;
  std::map<IOKitBackendKey, std::shared_ptr<Node>> open_;
  std::map<std::pair<IOKitBackendKey, UInt32>, std::shared_ptr<IsoReceiver>> receivers_;
};

CdevBackend& TheBackend() {
  static CdevBackend backend;
  return backend;
}

template <typename T>
bool Load(const UInt8* event, size_t size, T* out) {
  if (size < sizeof(T)) return false;
  std::memcpy(out, event, sizeof(T));
  return true;
}

}  // namespace

IOKitBackend* FireWireCdevBackend() { return &TheBackend(); }

bool FireWireCdevCamerasPresent() {
  for (const FWCdevNodeRecord& n : TheBackend().List()) {
    if (n.local) continue;
    for (const ConfigROMUnit& u : ConfigROMParseIdentity(n.rom).units)
      if (u.hasSpecID && u.unitSpecID == kIIDCSpecifier) return true;
  }
  return false;
}

void FWCdevSetNodeLister(std::function<std::vector<FWCdevNodeRecord>()> lister) {
  TheBackend().SetLister(std::move(lister));
}

IOKitBackendKey FWCdevUnitKey(UInt32 nodeNumber, UInt32 unitIndex) {
  return IOKitBackendKey(nodeNumber) << 8 | (unitIndex & 0xFF);
}

bool FWCdevDispatchEvent(const UInt8* event, size_t size, const FWCdevEventHandlers& handlers) {
  fw_cdev_event_common common;
  if (!event || !Load(event, size, &common)) return false;
  switch (common.type) {
    case FW_CDEV_EVENT_BUS_RESET: {
      fw_cdev_event_bus_reset e;
      if (!Load(event, size, &e)) return false;
      if (handlers.busReset) handlers.busReset(e.generation, e.node_id, e.local_node_id);
      return true;
    }
    case FW_CDEV_EVENT_RESPONSE: {
      fw_cdev_event_response e;
      if (!Load(event, size, &e)) return false;
      const size_t at = offsetof(fw_cdev_event_response, data);
      const size_t length = std::min<size_t>(e.length, size - at);
      if (handlers.response) handlers.response(e.closure, e.rcode, event + at, length);
      return true;
    }
    case FW_CDEV_EVENT_ISO_INTERRUPT: {
      fw_cdev_event_iso_interrupt e;
      if (!Load(event, size, &e)) return false;
      const size_t at = offsetof(fw_cdev_event_iso_interrupt, header);
      const size_t length = std::min<size_t>(e.header_length, size - at);
      if (handlers.isoInterrupt) handlers.isoInterrupt(e.closure, e.cycle, event + at, length);
      return true;
    }
    case FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED:
    case FW_CDEV_EVENT_ISO_RESOURCE_DEALLOCATED: {
      fw_cdev_event_iso_resource e;
      if (!Load(event, size, &e)) return false;
      if (handlers.isoResource)
        handlers.isoResource(e.closure, common.type == FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED, e.channel, e.bandwidth);
      return true;
    }
    default: return false;
  }
}
