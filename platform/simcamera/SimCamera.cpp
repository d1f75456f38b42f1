#include "platform/simcamera/SimCamera.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "platform/coreservices/CoreServices.h"
#include "platform/simcamera/SimFeatures.h"

namespace {

std::atomic<IOKitBackendKey> gNextKey{1};

// IEEE 1212 CRC-16 over directory or leaf quadlets.
UInt16 RomCRC16(const std::vector<UInt32>& rom, size_t first, size_t count) {
  UInt32 crc = 0;
  for (size_t i = first; i < first + count; i++) {
    UInt32 data = rom[i];
    for (int shift = 28; shift >= 0; shift -= 4) {
      UInt32 sum = ((crc >> 12) ^ (data >> shift)) & 0xF;
      crc = ((crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum) & 0xFFFF;
    }
  }
  return UInt16(crc);
}

// Closes a directory or leaf that starts at `header`: length and CRC.
void SealBlock(std::vector<UInt32>& rom, size_t header, size_t end) {
  size_t length = end - header - 1;
  rom[header] = (UInt32(length) << 16) | RomCRC16(rom, header + 1, length);
}

UInt32 Entry(UInt8 keyByte, UInt32 value) { return (UInt32(keyByte) << 24) | (value & 0xFFFFFF); }

std::vector<UInt8> UTF16StringDescriptor(const std::string& text) {
  std::vector<UInt8> d;
  size_t n = std::min<size_t>(text.size(), 126);
  d.push_back(UInt8(2 + 2 * n));
  d.push_back(3);
  for (size_t i = 0; i < n; i++) {
    d.push_back(UInt8(text[i]));
    d.push_back(0);
  }
  return d;
}

}  // namespace

UInt32 SimQuadletOffsetFor(UInt32 commandBase, UInt32 offset) {
  // The block address is (q x 4) | 0xF0000000.
  return ((commandBase + offset) & 0x0FFFFFFF) >> 2;
}

UInt32 SimFloatBits(float f) {
  UInt32 bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

SimCamera::SimCamera(SimCameraPersonality personality)
    : personality_(std::move(personality)), key_(gNextKey++) {
  registers_ = personality_.registers;
  stream_ = std::make_unique<SimStream>(*this);
  SimInstallFeatureBehaviour(*this);
  SimInstallFormat7Behaviour(*this);
  InstallLineBehaviour();
}

// ---------------------------------------------------------------- STA pins and trigger lines

void SimCamera::InstallLineBehaviour() {
  constexpr UInt32 kSTA1 = 0x02000000;
  if (personality_.eepromIris)
    for (UInt32 iris : {0x524u, 0x824u})
      AddWriteHook(iris, iris, [this](SimCamera&, UInt32 offset, UInt32 value) {
        if (registers_[0xF00] == kSimEEPROMWriteEnableCode) registers_[offset] = value;
        return false;
      });
  if (personality_.staPins) {
    AddReadHook(0xF1C, 0xF1C, [this](SimCamera&, UInt32, UInt32* v) {
      const bool low = sta1_ == SimSTA1::Low || (sta1_ == SimSTA1::Pulsing && ++sta1Reads_ % kSimSTA1Period == 0);
      *v = (*v & ~kSTA1) | (low ? 0 : kSTA1);
    });
    AddWriteHook(0xF1C, 0xF1C, [this](SimCamera&, UInt32, UInt32 value) {
      // Only pins 0 and 2 are outputs; STA1 is read from the sensor.
      registers_[0xF1C] = value & ~kSTA1;
      return false;
    });
    AddWriteHook(0x614, 0x614, [this](SimCamera&, UInt32, UInt32 value) {
      const UInt64 now = SkyloomMicroseconds();
      if (value & 0x80000000u) {
        if (transmissionOff_)
          stream_->SetNextFrameExposure(SimExposureFor(*this, double(now - transmissionOffSince_) * 1e-6));
        transmissionOff_ = false;
      } else if (!transmissionOff_) {
        transmissionOff_ = true;
        transmissionOffSince_ = now;
      }
      return true;
    });
  }
  if (personality_.triggerWiring) {
    AddWriteHook(0x1120, 0x1130, [this](SimCamera&, UInt32 offset, UInt32 value) {
      const UInt32 trigger = registers_.count(0x830) ? registers_[0x830] : 0;
      const UInt32 source = (trigger >> 21) & 7, mode = (trigger >> 16) & 0xF;
      // Output 1 drives input 0, output 2 drives input 3.
      const UInt32 wired = source == 0 ? 0x1120 : source == 3 ? 0x1130 : 0;
      if (offset != wired) return true;
      const bool active = (value & 0x00010001u) == 0x00010000u;  // an output driving low
      if (!(trigger & 0x02000000u) || mode != 1) {
        triggerActive_ = false;
        return true;
      }
      const UInt64 now = SkyloomMicroseconds();
      if (active && !triggerActive_) {
        triggerActive_ = true;
        triggerActiveSince_ = now;
      } else if (!active && triggerActive_) {
        triggerActive_ = false;
        stream_->QueueTriggeredFrame(SimExposureFor(*this, double(now - triggerActiveSince_) * 1e-6));
      }
      return true;
    });
  }
}

bool SimCamera::FireTrigger() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const UInt32 trigger = registers_.count(0x830) ? registers_[0x830] : 0;
  const UInt32 mode = (trigger >> 16) & 0xF;
  if (!personality_.triggerWiring || !(trigger & 0x02000000u) || (mode != 0 && mode != 14)) return false;
  stream_->QueueTriggeredFrame(std::nullopt);
  return true;
}

void SimCamera::SetSTA1(SimSTA1 level) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  sta1_ = level;
}

// ---------------------------------------------------------------- bus side

bool SimCamera::AddressToOffset(UInt16 addressHi, UInt32 addressLo, UInt32* offset) const {
  UInt32 base = personality_.commandBase;
  if (addressHi != 0xFFFF || addressLo < base || addressLo - base >= 0x10000) return false;
  *offset = addressLo - base;
  return true;
}

bool SimCamera::Writable(UInt32 offset) {
  if (offset < 0x600) return false;                    // inquiry registers
  if (offset >= 0x700 && offset < 0x800) return false;  // CSR offset inquiries
  if (offset >= kSimAbsoluteBlockBase && offset < kSimAbsoluteBlockBase + 0x300)
    return (offset & 0xF) == 8;                         // only the absolute value itself
  return true;
}

bool SimCamera::TakeRegisterFault(UInt32 offset, SimAccessKind kind, IOReturn* status) {
  auto it = registerFaults_.find({offset, int(kind)});
  if (it == registerFaults_.end()) return false;
  *status = it->second.status;
  if (it->second.count > 0 && --it->second.count == 0) registerFaults_.erase(it);
  return true;
}

namespace {
constexpr UInt32 kSimGPIOFirst = 0x1110, kSimGPIOLast = 0x1140;
bool IsGPIORegister(UInt32 offset) {
  return offset >= kSimGPIOFirst && offset <= kSimGPIOLast && (offset & 0xF) == 0;
}
}  // namespace

IOReturn SimCamera::RegisterRead(UInt32 offset, UInt32* value, SimAccessKind kind) {
  IOReturn status;
  if (TakeRegisterFault(offset, kind, &status)) return status;
  // A camera without the lines has no such registers: the access fails.
  if (IsGPIORegister(offset) && !personality_.gpioLines) return kIOReturnUnsupported;
  if (IsGPIORegister(offset) && !registers_.count(offset)) registers_[offset] = 0x80010000;
  auto it = registers_.find(offset);
  UInt32 v = it == registers_.end() ? 0 : it->second;
  for (HookRange& h : hooks_)
    if (h.read && offset >= h.first && offset <= h.last) h.read(*this, offset, &v);
  *value = v;
  return kIOReturnSuccess;
}

IOReturn SimCamera::RegisterWrite(UInt32 offset, UInt32 value) {
  IOReturn status;
  if (TakeRegisterFault(offset, SimAccessKind::Write, &status)) return status;
  if (IsGPIORegister(offset) && !personality_.gpioLines) return kIOReturnUnsupported;
  bool store = Writable(offset);
  for (HookRange& h : hooks_)
    if (h.write && offset >= h.first && offset <= h.last && !h.write(*this, offset, value))
      store = false;
  if (store) registers_[offset] = value;
  return kIOReturnSuccess;
}

void SimCamera::PassGate(SimAccessKind kind) {
  std::unique_lock<std::mutex> lock(gateMutex_);
  if (!gateArmed_ || *gateArmed_ != kind || gateHeld_) return;
  gateArmed_.reset();
  gateHeld_ = true;
  gateRelease_ = false;
  gateCond_.notify_all();
  gateCond_.wait(lock, [this] { return gateRelease_; });
  gateHeld_ = false;
  gateCond_.notify_all();
}

void SimCamera::Append(SimLogEntry entry) {
  entry.micros = SkyloomMicroseconds();
  log_.push_back(std::move(entry));
}

IOReturn SimCamera::ReadQuadlet(UInt16 addressHi, UInt32 addressLo, UInt32* value) {
  PassGate(SimAccessKind::Read);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::FWRead;
  e.addressHi = addressHi;
  e.addressLo = addressLo;
  if (!plugged_) {
    e.status = kIOReturnNoDevice;
  } else if (!AddressToOffset(addressHi, addressLo, &e.offset)) {
    e.status = kIOReturnNotResponding;
  } else {
    UInt32 v = 0;
    e.status = RegisterRead(e.offset, &v, SimAccessKind::Read);
    if (e.status == kIOReturnSuccess) *value = e.value = v;
  }
  IOReturn status = e.status;
  Append(std::move(e));
  return status;
}

IOReturn SimCamera::WriteQuadlet(UInt16 addressHi, UInt32 addressLo, UInt32 value) {
  PassGate(SimAccessKind::Write);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::FWWrite;
  e.addressHi = addressHi;
  e.addressLo = addressLo;
  e.value = value;
  if (!plugged_) {
    e.status = kIOReturnNoDevice;
  } else if (!AddressToOffset(addressHi, addressLo, &e.offset)) {
    e.status = kIOReturnNotResponding;
  } else {
    e.status = RegisterWrite(e.offset, value);
  }
  IOReturn status = e.status;
  Append(std::move(e));
  return status;
}

IOReturn SimCamera::USBControl(const IOKitUSBSetup& setup, void* data, UInt32* lenDone) {
  const bool registerRead = setup.bmRequestType == 0xC0 && setup.bRequest == 0x7F;
  const bool registerWrite = setup.bmRequestType == 0x40 && setup.bRequest == 0x7F;
  if (registerRead) PassGate(SimAccessKind::Read);
  if (registerWrite) PassGate(SimAccessKind::Write);
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  UInt8* bytes = static_cast<UInt8*>(data);
  *lenDone = 0;
  SimLogEntry e;
  e.kind = SimLogKind::USBControl;
  e.setup = setup;
  if (!plugged_) {
    e.status = kIOReturnNoDevice;
  } else if ((registerRead || registerWrite) && setup.wIndex == 0xF0F0 && setup.wLength == 4) {
    // Register protocol: wValue = low 16 bits of the register address, data
    // little-endian.
    e.offset = setup.wValue;
    if (registerRead) {
      UInt32 v = 0;
      e.status = RegisterRead(e.offset, &v, SimAccessKind::Read);
      if (e.status == kIOReturnSuccess) {
        UInt8 le[4] = {UInt8(v), UInt8(v >> 8), UInt8(v >> 16), UInt8(v >> 24)};
        UInt32 n = 4;
        auto s = shortReads_.find(e.offset);
        if (s != shortReads_.end()) n = std::min<UInt32>(s->second, 4);
        std::memcpy(bytes, le, n);
        *lenDone = n;
        e.value = v;
        e.data.assign(le, le + n);
      }
    } else {
      UInt32 v = UInt32(bytes[0]) | UInt32(bytes[1]) << 8 | UInt32(bytes[2]) << 16 |
                 UInt32(bytes[3]) << 24;
      e.value = v;
      e.data.assign(bytes, bytes + 4);
      e.status = RegisterWrite(e.offset, v);
      if (e.status == kIOReturnSuccess) *lenDone = 4;
    }
  } else if (setup.bmRequestType == 0x80 && setup.bRequest == 6) {
    UInt8 type = UInt8(setup.wValue >> 8), index = UInt8(setup.wValue);
    std::vector<UInt8> d;
    if (type == 1) d = DeviceDescriptor();
    else if (type == 2) d = ConfigDescriptor();
    else if (type == 3) d = StringDescriptor(index);
    auto f = opFaults_.find(SimOp::USBStringDescriptor);
    if (type == 3 && f != opFaults_.end()) {
      e.status = f->second;
    } else if (d.empty()) {
      e.status = kIOUSBPipeStalled;
    } else {
      UInt32 n = std::min<UInt32>(UInt32(d.size()), setup.wLength);
      std::memcpy(bytes, d.data(), n);
      *lenDone = n;
      e.data.assign(d.begin(), d.begin() + n);
      e.status = (type == 3 && personality_.shortStringReadOverruns && n < d.size())
                     ? kIOReturnOverrun
                     : kIOReturnSuccess;
    }
  } else {
    e.status = kIOUSBPipeStalled;  // a request the camera does not know
  }
  IOReturn status = e.status;
  Append(std::move(e));
  return status;
}

IOReturn SimCamera::USBClearStall(UInt8 endpoint) {
  if (endpoint == 0x81 && Plugged()) stream_->ClearHalt();  // outside our lock: the stream locks first
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::USBClearStall;
  e.endpoint = endpoint;
  e.status = plugged_ ? kIOReturnSuccess : kIOReturnNoDevice;
  Append(e);
  return e.status;
}

IOReturn SimCamera::Open() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::Open;
  auto f = opFaults_.find(personality_.bus == SimBusKind::FireWire ? SimOp::FWOpen : SimOp::USBOpen);
  if (!plugged_) e.status = kIOReturnNoDevice;
  else if (personality_.inUse) e.status = kIOReturnExclusiveAccess;
  else if (f != opFaults_.end()) e.status = f->second;
  else openCount_++;
  Append(e);
  return e.status;
}

void SimCamera::Close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (openCount_ > 0) openCount_--;
  SimLogEntry e;
  e.kind = SimLogKind::Close;
  Append(e);
}

IOReturn SimCamera::SetConfiguration(UInt8 value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::USBSetConfiguration;
  e.value = value;
  auto f = opFaults_.find(SimOp::USBSetConfiguration);
  if (!plugged_) e.status = kIOReturnNoDevice;
  else if (f != opFaults_.end()) e.status = f->second;
  else if (value != 1) e.status = kIOReturnBadArgument;
  else configuration_ = value;
  Append(e);
  return e.status;
}

IOReturn SimCamera::ClaimInterface(UInt8 number) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::USBClaimInterface;
  e.value = number;
  auto f = opFaults_.find(SimOp::USBClaimInterface);
  if (!plugged_) e.status = kIOReturnNoDevice;
  else if (personality_.inUse) e.status = kIOReturnExclusiveAccess;
  else if (f != opFaults_.end()) e.status = f->second;
  else if (number != 0) e.status = kIOReturnNotFound;
  else claimedInterfaces_++;
  Append(e);
  return e.status;
}

void SimCamera::ReleaseInterface(UInt8 number) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (claimedInterfaces_ > 0) claimedInterfaces_--;
  SimLogEntry e;
  e.kind = SimLogKind::USBReleaseInterface;
  e.value = number;
  Append(e);
}

IOReturn SimCamera::SetAlternate(UInt8 interfaceNumber, UInt8 alternate) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  SimLogEntry e;
  e.kind = SimLogKind::USBSetAlternate;
  e.value = interfaceNumber;
  e.endpoint = alternate;
  auto f = opFaults_.find(SimOp::USBSetAlternate);
  if (!plugged_) e.status = kIOReturnNoDevice;
  else if (f != opFaults_.end()) e.status = f->second;
  else if (interfaceNumber != 0 || alternate > 1) e.status = kIOReturnBadArgument;
  else alternate_ = alternate;
  Append(e);
  return e.status;
}

IOReturn SimCamera::OpFault(SimOp op) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!plugged_) return kIOReturnNoDevice;
  auto f = opFaults_.find(op);
  return f == opFaults_.end() ? kIOReturnSuccess : f->second;
}

IOReturn SimCamera::StepFault(IOKitStep step) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto f = stepFaults_.find(step);
  return f == stepFaults_.end() ? kIOReturnSuccess : f->second;
}

// ------------------------------------------------------------ publications

std::vector<UInt32> SimCamera::ConfigROM(UInt32* unitDirectoryIndex) const {
  const SimCameraPersonality& p = personality_;
  std::vector<UInt32> rom;
  // Bus information block: "1394", capabilities, GUID.
  rom = {0, 0x31333934, 0xE0FF8112, UInt32(p.guid >> 32), UInt32(p.guid)};
  // Root directory: vendor, node capabilities, unit directory.
  size_t root = rom.size();
  rom.push_back(0);
  rom.push_back(Entry(0x03, UInt32(p.guid >> 40)));
  rom.push_back(Entry(0x0C, 0x0083C0));
  size_t unitEntry = rom.size();
  rom.push_back(0);
  std::vector<std::pair<size_t, size_t>> blocks;  // header, end: sealed once every pointer is in
  blocks.push_back({root, rom.size()});
  // Unit directory.
  size_t unit = rom.size();
  rom[unitEntry] = Entry(0xD1, UInt32(unit - unitEntry));
  rom.push_back(0);
  rom.push_back(Entry(0x12, 0x00A02D));
  if (p.hasUnitSWVersion) rom.push_back(Entry(0x13, p.unitSWVersion));
  size_t depEntry = rom.size();
  rom.push_back(0);
  blocks.push_back({unit, rom.size()});
  // Unit-dependent directory: command_regs_base, then the model-name leaf.
  size_t dep = rom.size();
  rom[depEntry] = Entry(0xD4, UInt32(dep - depEntry));
  rom.push_back(0);
  if (p.baseAsImmediate16)
    rom.push_back(Entry(0x00, p.commandBase >> 16));
  else
    rom.push_back(Entry(p.baseUnderOtherKey ? 0x78 : 0x40, (p.commandBase - 0xF0000000u) >> 2));
  size_t leafEntry = 0;
  if (!p.modelLeafAbsent) {
    leafEntry = rom.size();
    rom.push_back(0);
  }
  blocks.push_back({dep, rom.size()});
  if (!p.modelLeafAbsent) {
    size_t leaf = rom.size();
    rom[leafEntry] = Entry(0x82, UInt32(leaf - leafEntry));
    rom.push_back(0);
    rom.push_back(0);  // textual descriptor, minimal ASCII
    rom.push_back(0);
    for (size_t i = 0; i < p.modelName.size(); i += 4) {
      UInt32 q = 0;
      for (size_t k = 0; k < 4; k++)
        q |= UInt32(i + k < p.modelName.size() ? UInt8(p.modelName[i + k]) : 0) << (24 - 8 * k);
      rom.push_back(q);
    }
    blocks.push_back({leaf, rom.size()});
  }
  for (auto [header, end] : blocks) SealBlock(rom, header, end);
  // Bus info block header: info length 4, CRC over the whole ROM.
  size_t crcLength = std::min<size_t>(rom.size() - 1, 255);
  rom[0] = (4u << 24) | (UInt32(crcLength) << 16) | RomCRC16(rom, 1, crcLength);
  *unitDirectoryIndex = UInt32(unit);
  return rom;
}

std::vector<UInt8> SimCamera::DeviceDescriptor() const {
  const SimCameraPersonality& p = personality_;
  return {18,   1,    0x00, 0x02, 0xFF, 0x00, 0xFF, 64,
          UInt8(p.idVendor), UInt8(p.idVendor >> 8), UInt8(p.idProduct), UInt8(p.idProduct >> 8),
          0x00, 0x01,
          UInt8(p.manufacturer.empty() ? 0 : 1), UInt8(p.product.empty() ? 0 : 2),
          UInt8(p.serial.empty() ? 0 : 3), p.numConfigurations};
}

std::vector<UInt8> SimCamera::ConfigDescriptor() const {
  // One interface: alternate setting 0 without endpoints, alternate setting
  // 1 with the bulk IN endpoint 0x81 (512 bytes) the frames arrive on.
  std::vector<UInt8> d = {9, 2, 0, 0, 1, 1, 0, 0x80, 250,
                          9, 4, 0, 0, 0, 0xFF, 0x00, 0x00, 0,
                          9, 4, 0, 1, 1, 0xFF, 0x00, 0x00, 0,
                          7, 5, 0x81, 0x02, 0x00, 0x02, 0};
  d[2] = UInt8(d.size());
  d[3] = UInt8(d.size() >> 8);
  return d;
}

std::vector<UInt8> SimCamera::StringDescriptor(UInt8 index) const {
  const SimCameraPersonality& p = personality_;
  auto raw = p.rawStringDescriptors.find(index);
  if (raw != p.rawStringDescriptors.end()) return raw->second;
  switch (index) {
    case 0: return {4, 3, 0x09, 0x04};
    case 1: return p.manufacturer.empty() ? std::vector<UInt8>{} : UTF16StringDescriptor(p.manufacturer);
    case 2: return p.product.empty() ? std::vector<UInt8>{} : UTF16StringDescriptor(p.product);
    case 3: return p.serial.empty() ? std::vector<UInt8>{} : UTF16StringDescriptor(p.serial);
    default: return {};
  }
}

// ------------------------------------------------------------ test side

UInt32 SimCamera::Peek(UInt32 offset) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = registers_.find(offset);
  return it == registers_.end() ? 0 : it->second;
}

void SimCamera::Poke(UInt32 offset, UInt32 value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  registers_[offset] = value;
}

void SimCamera::AddReadHook(UInt32 first, UInt32 last, ReadHook hook) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  hooks_.push_back({first, last, std::move(hook), nullptr});
}

void SimCamera::AddWriteHook(UInt32 first, UInt32 last, WriteHook hook) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  hooks_.push_back({first, last, nullptr, std::move(hook)});
}

void SimCamera::FailRegister(UInt32 offset, SimAccessKind kind, IOReturn status, int count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  registerFaults_[{offset, int(kind)}] = {status, count};
}

void SimCamera::ShortRegisterRead(UInt32 offset, UInt32 bytes) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  shortReads_[offset] = bytes;
}

void SimCamera::FailOp(SimOp op, IOReturn status) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  opFaults_[op] = status;
}

void SimCamera::FailStep(IOKitStep step, IOReturn status) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  stepFaults_[step] = status;
}

void SimCamera::ClearFaults() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  registerFaults_.clear();
  shortReads_.clear();
  opFaults_.clear();
  stepFaults_.clear();
}

void SimCamera::HoldNextAccess(SimAccessKind kind) {
  std::lock_guard<std::mutex> lock(gateMutex_);
  gateArmed_ = kind;
}

bool SimCamera::WaitUntilHeld(int timeoutMs) {
  std::unique_lock<std::mutex> lock(gateMutex_);
  return gateCond_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return gateHeld_; });
}

void SimCamera::ReleaseHeldAccess() {
  std::unique_lock<std::mutex> lock(gateMutex_);
  gateArmed_.reset();
  gateRelease_ = true;
  gateCond_.notify_all();
}

void SimCamera::Record(SimLogEntry entry) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Append(std::move(entry));
}

std::vector<SimLogEntry> SimCamera::Log() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_;
}

size_t SimCamera::LogSize() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return log_.size();
}

std::vector<SimGuideLineState> SimCamera::GPIOLineStates() const {
  std::vector<SimGuideLineState> out;
  UInt32 mask = 0;
  for (const SimLogEntry& e : Log()) {
    if (e.kind != SimLogKind::FWWrite || e.status != kIOReturnSuccess || !IsGPIORegister(e.offset)) continue;
    int line = int((e.offset - kSimGPIOFirst) >> 4);
    bool on = (e.value & 1) != 0;
    if (bool((mask >> line) & 1) == on) continue;  // a release of a line already off
    mask ^= 1u << line;
    out.push_back({e.micros, line, on});
  }
  return out;
}

void SimCamera::ClearLog() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  log_.clear();
}

int SimCamera::OpenCount() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return openCount_;
}

int SimCamera::ClaimedInterfaceCount() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return claimedInterfaces_;
}

UInt8 SimCamera::AlternateSetting() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return alternate_;
}

void SimCamera::SetPlugged(bool plugged) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  plugged_ = plugged;
}

bool SimCamera::Plugged() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return plugged_;
}

void SimCamera::SetInUse(bool inUse) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  personality_.inUse = inUse;
}

void SimCamera::SetSpeedCode(int code) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  personality_.speedCode = code;
}

int SimCamera::SpeedCode() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return personality_.speedCode;
}
