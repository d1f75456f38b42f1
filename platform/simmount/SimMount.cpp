#include "platform/simmount/SimMount.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "platform/coreservices/CoreServices.h"

// ------------------------------------------------------------ serial port

SimMountPort::SimMountPort() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return;
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0 ||
      pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    close(master_);
    master_ = -1;
    return;
  }
  slavePath_ = name;
  // The master sees the bytes exactly as written: no echo, no line editing.
  termios t;
  if (tcgetattr(master_, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
  }
  thread_ = std::thread([this] { Run(); });
}

SimMountPort::~SimMountPort() {
  if (thread_.joinable()) {
    stop_ = true;
    char c = 0;
    (void)!write(wake_[1], &c, 1);
    thread_.join();
  }
  for (int fd : {master_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
}

void SimMountPort::Run() {
  UInt8 buffer[256];
  while (!stop_) {
    bool sending;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sending = !outgoing_.empty();
    }
    int timeout = 20;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      UInt64 now = SkyloomMicroseconds();
      for (auto it = scheduled_.begin(); it != scheduled_.end();) {
        if (it->first <= now) {
          outgoing_.push_back(it->second);
          it = scheduled_.erase(it);
        } else {
          ++it;
        }
      }
      sending = !outgoing_.empty();
      if (UInt64 due = NextReplyDue()) {
        UInt64 wait = due > now ? (due - now + 999) / 1000 : 0;
        if (wait < UInt64(timeout)) timeout = int(wait);
      }
    }
    pollfd fds[2] = {{master_, short(POLLIN | (sending ? POLLOUT : 0)), 0}, {wake_[0], POLLIN, 0}};
    // With no slave open the master reports a hang-up; look again shortly.
    int n = poll(fds, 2, timeout);
    if (n < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      while (read(wake_[0], buffer, sizeof buffer) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      ssize_t got = read(master_, buffer, sizeof buffer);
      if (got > 0) {
        UInt64 now = SkyloomMicroseconds();
        std::lock_guard<std::mutex> lock(mutex_);
        for (ssize_t i = 0; i < got; i++) {
          received_.push_back({now, buffer[i]});
          Take(now, buffer[i]);
        }
      }
    }
    if (fds[0].revents & POLLOUT) {
      std::lock_guard<std::mutex> lock(mutex_);
      ssize_t put = write(master_, outgoing_.data(), outgoing_.size());
      if (put > 0) outgoing_.erase(outgoing_.begin(), outgoing_.begin() + put);
    }
  }
}

std::vector<SimSerialByte> SimMountPort::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

void SimMountPort::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  commands_.clear();
}

void SimMountPort::SetProtocol(SimMountProtocol protocol) {
  std::lock_guard<std::mutex> lock(mutex_);
  protocol_ = protocol;
  partial_.clear();
}

void SimMountPort::SetNexStarReply(int reply, UInt32 delayMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  nexStarReply_ = reply;
  nexStarDelayMs_ = delayMs;
}

bool SimMountPort::RepliesPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !scheduled_.empty() || !outgoing_.empty();
}

std::vector<SimMountCommand> SimMountPort::Commands() {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<SimGuideLineState> SimMountPort::LineStates() {
  std::vector<SimGuideLineState> out;
  UInt32 mask = 0;
  auto set = [&](UInt64 micros, int line, bool on) {
    if (bool((mask >> line) & 1) == on) return;
    mask ^= 1u << line;
    out.push_back({micros, line, on});
  };
  for (const SimMountCommand& c : Commands()) {
    const std::string text = c.Text();
    if (text.size() == 5 && text.compare(0, 2, "#:") == 0 && (text[2] == 'M' || text[2] == 'Q')) {
      int line = text[3] == 'e' ? kSimGuideEast
                 : text[3] == 'w' ? kSimGuideWest
                 : text[3] == 'n' ? kSimGuideNorth
                 : text[3] == 's' ? kSimGuideSouth
                                  : -1;
      if (line >= 0) set(c.micros, line, text[2] == 'M');
    } else if (text == "#:Q#") {
      for (int line = 0; line < 4; line++) set(c.micros, line, false);
    } else if (c.bytes.size() == 8 && c.bytes[0] == 'P' && c.bytes[1] == 0x03 &&
               (c.bytes[2] == 0x10 || c.bytes[2] == 0x11) && (c.bytes[3] == 0x06 || c.bytes[3] == 0x07)) {
      // Direction 0x07 moves east (RA) or north (Dec), 0x06 west or south;
      // rate 0 stops the axis.
      bool ra = c.bytes[2] == 0x10;
      int negative = ra ? kSimGuideEast : kSimGuideNorth, positive = ra ? kSimGuideWest : kSimGuideSouth;
      bool moving = (c.bytes[4] | c.bytes[5]) != 0;
      bool toNegative = c.bytes[3] == 0x07;
      set(c.micros, toNegative ? positive : negative, false);
      set(c.micros, toNegative ? negative : positive, moving);
    }
  }
  return out;
}

void SimMountPort::Take(UInt64 now, UInt8 byte) {
  switch (protocol_) {
    case SimMountProtocol::Raw:
      return;
    case SimMountProtocol::LX200:
      if (byte != '#') {
        if (partial_.empty()) partialStart_ = now;
        partial_.push_back(byte);
      } else if (!partial_.empty()) {
        SimMountCommand c{partialStart_, {'#'}};
        c.bytes.insert(c.bytes.end(), partial_.begin(), partial_.end());
        c.bytes.push_back('#');
        commands_.push_back(std::move(c));
        partial_.clear();
      }
      return;
    case SimMountProtocol::NexStar:
      if (partial_.empty()) {
        if (byte != 'P') return;  // between packets: noise
        partialStart_ = now;
      }
      partial_.push_back(byte);
      if (partial_.size() == 8) {
        commands_.push_back({partialStart_, partial_});
        partial_.clear();
        if (nexStarReply_ >= 0) scheduled_.push_back({now + UInt64(nexStarDelayMs_) * 1000, UInt8(nexStarReply_)});
      }
      return;
  }
}

UInt64 SimMountPort::NextReplyDue() {
  UInt64 due = 0;
  for (auto& r : scheduled_)
    if (due == 0 || r.first < due) due = r.first;
  return due;
}

void SimMountPort::Send(const std::vector<UInt8>& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outgoing_.insert(outgoing_.end(), bytes.begin(), bytes.end());
  }
  char c = 0;
  (void)!write(wake_[1], &c, 1);
}

// ------------------------------------------------------------ GPUSB adapter

SimGPUSB::SimGPUSB(UInt32 elementCount, UInt16 vendorID, UInt16 productID)
    : elementCount_(elementCount), vendor_(vendorID), product_(productID), values_(elementCount, 0) {}

void SimGPUSB::SetFault(SimHIDFault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = fault;
}

void SimGPUSB::FailWritesAfter(int successes, int failures) {
  std::lock_guard<std::mutex> lock(mutex_);
  writesLeft_ = successes;
  failuresLeft_ = failures;
}

SimHIDFault SimGPUSB::Fault() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fault_;
}

std::vector<SimHIDWrite> SimGPUSB::Writes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::vector<SimGuideLineState> SimGPUSB::LineStates() {
  static const int kGuideLine[4] = {0, 1, 3, 2};  // adapter line -> east, west, north, south
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<SimGuideLineState> out;
  UInt32 mask = 0;
  for (const SimHIDWrite& w : writes_) {
    if (elementCount_ == 3) {
      // One 8-bit element: each bit of lines 0-3 that changed.
      if (w.element != 2) continue;
      for (int line = 0; line < 4; line++)
        if (((UInt32(w.value) ^ mask) >> line) & 1)
          out.push_back({w.micros, kGuideLine[line], ((w.value >> line) & 1) != 0});
      mask = UInt32(w.value);
    } else if (w.element >= 9 && w.element < 13) {
      out.push_back({w.micros, kGuideLine[w.element - 9], w.value != 0});
    }
  }
  return out;
}

void SimGPUSB::ClearWrites() {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.clear();
}

SInt32 SimGPUSB::Value(UInt32 element) {
  std::lock_guard<std::mutex> lock(mutex_);
  return element < values_.size() ? values_[element] : 0;
}

bool SimGPUSB::IsOpen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

IOReturn SimGPUSB::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fault_ == SimHIDFault::Open) return kIOReturnNotResponding;
  if (open_) return kIOReturnExclusiveAccess;
  open_ = true;
  return kIOReturnSuccess;
}

void SimGPUSB::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
}

IOReturn SimGPUSB::SetValue(UInt32 cookie, SInt32 value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return kIOReturnNotOpen;
  if (cookie < 100 || cookie - 100 >= elementCount_) return kIOReturnBadArgument;
  if (writesLeft_ == 0 && failuresLeft_ != 0) {
    if (failuresLeft_ > 0 && --failuresLeft_ == 0) writesLeft_ = -1;
    return kIOReturnNotResponding;
  }
  if (writesLeft_ > 0) writesLeft_--;
  UInt32 element = cookie - 100;
  values_[element] = value;
  writes_.push_back({SkyloomMicroseconds(), element, cookie, value});
  return kIOReturnSuccess;
}

// ------------------------------------------------------------ the set

namespace {

struct MountSet {
  std::mutex mutex;
  bool pinned = false;
  std::vector<std::string> paths;
  std::vector<std::shared_ptr<SimGPUSB>> adapters;
};

MountSet& Set() {
  static MountSet set;
  return set;
}

std::mutex gDefaultMutex;
std::shared_ptr<SimMountPort> gDefaultPort;
std::shared_ptr<SimGPUSB> gDefaultAdapter;

// Keys: serial ports 1 + index, adapters 0x10000 + index.
constexpr IOKitBackendKey kAdapterBase = 0x10000;

class MountBackend : public IOKitNoCameraBackend {
 public:
  const char* Name() const override { return "simulated mount"; }

  std::vector<IOKitSerialPortInfo> SerialPorts() override {
    std::vector<std::string> paths;
    bool pinned;
    {
      MountSet& s = Set();
      std::lock_guard<std::mutex> lock(s.mutex);
      pinned = s.pinned;
      paths = s.paths;
    }
    if (!pinned) paths = {SimDefaultMountPort()->SlavePath()};
    std::vector<IOKitSerialPortInfo> ports;
    for (size_t i = 0; i < paths.size(); i++) ports.push_back({IOKitBackendKey(1 + i), paths[i]});
    return ports;
  }

  std::vector<IOKitHIDDeviceInfo> HIDDevices() override {
    std::vector<IOKitHIDDeviceInfo> devices;
    auto adapters = Adapters();
    for (size_t i = 0; i < adapters.size(); i++)
      devices.push_back({kAdapterBase + i, adapters[i]->VendorID(), adapters[i]->ProductID()});
    return devices;
  }

  IOReturn Preflight(IOKitBackendKey key, IOKitStep step) override {
    auto a = Adapter(key);
    if (!a) return kIOReturnSuccess;
    SimHIDFault f = a->Fault();
    if ((step == IOKitStep::HIDObjectClass && f == SimHIDFault::ObjectClass) ||
        (step == IOKitStep::HIDPlugIn && f == SimHIDFault::PlugIn) ||
        (step == IOKitStep::HIDDeviceInterface && f == SimHIDFault::DeviceInterface))
      return kIOReturnNotResponding;
    return kIOReturnSuccess;
  }

  IOReturn HIDOpen(IOKitBackendKey key, UInt32) override {
    auto a = Adapter(key);
    return a ? a->Open() : kIOReturnNoDevice;
  }

  void HIDClose(IOKitBackendKey key) override {
    if (auto a = Adapter(key)) a->Close();
  }

  IOReturn HIDElements(IOKitBackendKey key, std::vector<IOKitHIDElementInfo>* elements) override {
    auto a = Adapter(key);
    if (!a) return kIOReturnNoDevice;
    SimHIDFault f = a->Fault();
    if (f == SimHIDFault::CopyElements) return kIOReturnNoMemory;
    elements->clear();
    for (UInt32 i = 0; i < a->ElementCount(); i++) elements->push_back({f != SimHIDFault::NoCookies, 100 + i});
    return kIOReturnSuccess;
  }

  IOReturn HIDSetElementValue(IOKitBackendKey key, UInt32 cookie, SInt32 value) override {
    auto a = Adapter(key);
    return a ? a->SetValue(cookie, value) : kIOReturnNoDevice;
  }

 private:
  static std::vector<std::shared_ptr<SimGPUSB>> Adapters() {
    {
      MountSet& s = Set();
      std::lock_guard<std::mutex> lock(s.mutex);
      if (s.pinned) return s.adapters;
    }
    return {SimDefaultGPUSB()};
  }
  static std::shared_ptr<SimGPUSB> Adapter(IOKitBackendKey key) {
    if (key < kAdapterBase) return nullptr;
    auto adapters = Adapters();
    return key - kAdapterBase < adapters.size() ? adapters[key - kAdapterBase] : nullptr;
  }
};

}  // namespace

void SimInstallMount(const std::vector<std::string>& serialPaths,
                     const std::vector<std::shared_ptr<SimGPUSB>>& adapters) {
  MountSet& s = Set();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.pinned = true;
  s.paths = serialPaths;
  s.adapters = adapters;
}

void SimRemoveMount() {
  MountSet& s = Set();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.pinned = false;
  s.paths.clear();
  s.adapters.clear();
}

bool SimMountPinned() {
  MountSet& s = Set();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.pinned;
}

std::shared_ptr<SimMountPort> SimDefaultMountPort() {
  std::lock_guard<std::mutex> lock(gDefaultMutex);
  if (!gDefaultPort) gDefaultPort = std::make_shared<SimMountPort>();
  return gDefaultPort;
}

std::shared_ptr<SimGPUSB> SimDefaultGPUSB() {
  std::lock_guard<std::mutex> lock(gDefaultMutex);
  if (!gDefaultAdapter) gDefaultAdapter = std::make_shared<SimGPUSB>(3);
  return gDefaultAdapter;
}

IOKitBackend* SimMountBackend() {
  static MountBackend backend;
  return &backend;
}
