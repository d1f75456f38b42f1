#include "platform/simcamera/SimBus.h"

#include <mutex>

namespace {

struct Rig {
  std::mutex mutex;
  bool installed = false;
  bool pinned = false;  // a test chose the rig
  std::vector<std::shared_ptr<SimCamera>> cameras;
  UInt32 generation = 1;
};

Rig& TheRig() {
  static Rig rig;
  return rig;
}

void EnsureDefault(Rig& rig) {
  if (!rig.installed) {
    rig.cameras = {std::make_shared<SimCamera>(SimDefaultColourPersonality())};
    rig.installed = true;
  }
}

std::shared_ptr<SimCamera> Find(IOKitBackendKey key) {
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  EnsureDefault(rig);
  for (auto& c : rig.cameras)
    if (c->Key() == key) return c;
  return nullptr;
}

class SimBackend final : public IOKitBackend {
 public:
  const char* Name() const override { return "simulated camera"; }

  std::vector<IOKitFireWireUnitInfo> FireWireUnits() override {
    std::vector<IOKitFireWireUnitInfo> units;
    for (auto& c : SimRigCameras()) {
      const SimCameraPersonality& p = c->Personality();
      if (p.bus != SimBusKind::FireWire || !c->Plugged()) continue;
      IOKitFireWireUnitInfo u;
      u.key = c->Key();
      u.hasGUID = p.hasGUID;
      u.guid = p.guid;
      u.unitSpecID = 0xA02D;
      u.hasUnitSWVersion = p.hasUnitSWVersion;
      u.unitSWVersion = p.unitSWVersion;
      units.push_back(u);
    }
    return units;
  }

  std::vector<IOKitUSBDeviceInfo> USBDevices() override {
    std::vector<IOKitUSBDeviceInfo> devices;
    for (auto& c : SimRigCameras()) {
      const SimCameraPersonality& p = c->Personality();
      if (p.bus != SimBusKind::USB || !c->Plugged()) continue;
      devices.push_back({c->Key(), p.idVendor, p.idProduct});
    }
    return devices;
  }

  IOReturn Preflight(IOKitBackendKey key, IOKitStep step) override {
    auto c = Find(key);
    return c ? c->StepFault(step) : kIOReturnNoDevice;
  }

  IOReturn FWOpen(IOKitBackendKey key) override {
    auto c = Find(key);
    return c ? c->Open() : kIOReturnNoDevice;
  }
  void FWClose(IOKitBackendKey key) override {
    if (auto c = Find(key)) c->Close();
  }
  IOReturn FWConfigROM(IOKitBackendKey key, std::vector<UInt32>* rom, UInt32* unitDirectoryIndex) override {
    auto c = Find(key);
    if (!c) return kIOReturnNoDevice;
    if (IOReturn f = c->OpFault(SimOp::FWConfigROM)) return f;
    *rom = c->ConfigROM(unitDirectoryIndex);
    return kIOReturnSuccess;
  }
  IOReturn FWReadQuadlet(IOKitBackendKey key, UInt16 hi, UInt32 lo, UInt32* value) override {
    auto c = Find(key);
    return c ? c->ReadQuadlet(hi, lo, value) : kIOReturnNoDevice;
  }
  IOReturn FWWriteQuadlet(IOKitBackendKey key, UInt16 hi, UInt32 lo, UInt32 value) override {
    auto c = Find(key);
    return c ? c->WriteQuadlet(hi, lo, value) : kIOReturnNoDevice;
  }
  IOReturn FWBusGeneration(IOKitBackendKey key, UInt32* generation) override {
    if (!Find(key)) return kIOReturnNoDevice;
    Rig& rig = TheRig();
    std::lock_guard<std::mutex> lock(rig.mutex);
    *generation = rig.generation;
    return kIOReturnSuccess;
  }
  IOReturn FWSpeedToNode(IOKitBackendKey key, UInt32 generation, UInt32* speed) override {
    auto c = Find(key);
    if (!c) return kIOReturnNoDevice;
    if (IOReturn f = c->OpFault(SimOp::FWSpeed)) return f;
    {
      Rig& rig = TheRig();
      std::lock_guard<std::mutex> lock(rig.mutex);
      if (generation != rig.generation) return kIOReturnNotResponding;
    }
    int code = c->SpeedCode();
    if (code < 0) return kIOReturnUnsupported;
    *speed = UInt32(code);
    return kIOReturnSuccess;
  }

  IOReturn FWAllocateIsochChannel(IOKitBackendKey key, UInt64 mask, UInt32, UInt32, UInt32* channel) override {
    auto c = Find(key);
    return c ? c->Stream().AllocateIsochChannel(mask, channel) : kIOReturnNoDevice;
  }
  void FWReleaseIsochChannel(IOKitBackendKey key, UInt32 channel) override {
    if (auto c = Find(key)) c->Stream().ReleaseIsochChannel(channel);
  }
  // The talker sends in the very cycle the engine runs: the engine's time
  // is the packet's.
  UInt32 FWIsochCycle(IOKitBackendKey key, UInt32 channel, UInt8* slot, UInt32 capacity, UInt32*) override {
    auto c = Find(key);
    return c ? c->Stream().IsochCycle(channel, slot, capacity) : 0;
  }

  IOReturn USBOpen(IOKitBackendKey key) override {
    auto c = Find(key);
    return c ? c->Open() : kIOReturnNoDevice;
  }
  void USBClose(IOKitBackendKey key) override {
    if (auto c = Find(key)) c->Close();
  }
  IOReturn USBDeviceDescriptor(IOKitBackendKey key, std::vector<UInt8>* bytes) override {
    auto c = Find(key);
    if (!c) return kIOReturnNoDevice;
    if (IOReturn f = c->OpFault(SimOp::USBDeviceDescriptor)) return f;
    *bytes = c->DeviceDescriptor();
    return kIOReturnSuccess;
  }
  IOReturn USBConfigDescriptor(IOKitBackendKey key, UInt8 index, std::vector<UInt8>* bytes) override {
    auto c = Find(key);
    if (!c) return kIOReturnNoDevice;
    if (IOReturn f = c->OpFault(SimOp::USBConfigDescriptor)) return f;
    if (index >= c->Personality().numConfigurations) return kIOReturnBadArgument;
    *bytes = c->ConfigDescriptor();
    return kIOReturnSuccess;
  }
  IOReturn USBSetConfiguration(IOKitBackendKey key, UInt8 value) override {
    auto c = Find(key);
    return c ? c->SetConfiguration(value) : kIOReturnNoDevice;
  }
  IOReturn USBClaimInterface(IOKitBackendKey key, UInt8 number) override {
    auto c = Find(key);
    return c ? c->ClaimInterface(number) : kIOReturnNoDevice;
  }
  void USBReleaseInterface(IOKitBackendKey key, UInt8 number) override {
    if (auto c = Find(key)) c->ReleaseInterface(number);
  }
  IOReturn USBSetAlternateSetting(IOKitBackendKey key, UInt8 number, UInt8 alternate) override {
    auto c = Find(key);
    return c ? c->SetAlternate(number, alternate) : kIOReturnNoDevice;
  }
  IOReturn USBControl(IOKitBackendKey key, const IOKitUSBSetup& setup, void* data, UInt32* lenDone,
                      UInt32, UInt32) override {
    auto c = Find(key);
    *lenDone = 0;
    return c ? c->USBControl(setup, data, lenDone) : kIOReturnNoDevice;
  }
  IOReturn USBClearStall(IOKitBackendKey key, UInt8 endpoint) override {
    auto c = Find(key);
    return c ? c->USBClearStall(endpoint) : kIOReturnNoDevice;
  }
  IOReturn USBBulkReadAsync(IOKitBackendKey key, UInt8 endpoint, void* buffer, UInt32 size,
                            std::function<void(IOReturn, UInt32)> done) override {
    auto c = Find(key);
    return c ? c->Stream().SubmitBulkRead(endpoint, buffer, size, std::move(done)) : kIOReturnNoDevice;
  }
  IOReturn USBAbortPipe(IOKitBackendKey key, UInt8 endpoint) override {
    auto c = Find(key);
    return c ? c->Stream().AbortBulk(endpoint) : kIOReturnNoDevice;
  }
  IOReturn USBPipeStatus(IOKitBackendKey key, UInt8 endpoint) override {
    auto c = Find(key);
    return c ? c->Stream().BulkPipeStatus(endpoint) : kIOReturnNoDevice;
  }
};

}  // namespace

std::vector<std::shared_ptr<SimCamera>> SimInstallRig(const std::vector<SimCameraPersonality>& personalities) {
  std::vector<std::shared_ptr<SimCamera>> cameras;
  for (const auto& p : personalities) cameras.push_back(std::make_shared<SimCamera>(p));
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  rig.cameras = cameras;
  rig.installed = true;
  rig.pinned = true;
  return cameras;
}

void SimRemoveRig() {
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  rig.installed = false;
  rig.pinned = true;
  rig.cameras.clear();
}

bool SimRigPinned() {
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  return rig.pinned;
}

std::vector<std::shared_ptr<SimCamera>> SimRigCameras() {
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  EnsureDefault(rig);
  return rig.cameras;
}

void SimPlug(const std::shared_ptr<SimCamera>& camera) {
  camera->SetPlugged(true);
  SimBusReset();
}

void SimUnplug(const std::shared_ptr<SimCamera>& camera) {
  camera->SetPlugged(false);
  SimBusReset();
}

void SimBusReset() {
  Rig& rig = TheRig();
  std::lock_guard<std::mutex> lock(rig.mutex);
  rig.generation++;
}

IOKitBackend* SimCameraBackend() {
  static SimBackend backend;
  return &backend;
}
