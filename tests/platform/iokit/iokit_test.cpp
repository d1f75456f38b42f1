#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/iokit/HardwareTranslate.h"
#include "platform/iokit/IOFireWireLib.h"
#include "platform/iokit/IOUSBLib.h"
#include "platform/simcamera/SimBus.h"

namespace {

class IOKitTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = SkyloomIOKitLiveObjectCount(); }
  void TearDown() override {
    EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline_);
    SimRemoveRig();
    IOKitSetBackends({});
  }
  std::vector<io_service_t> Services(CFMutableDictionaryRef matching) {
    io_iterator_t it;
    EXPECT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, matching, &it), 0);
    std::vector<io_service_t> v;
    while (io_service_t s = IOIteratorNext(it)) v.push_back(s);
    IOObjectRelease(it);
    return v;
  }
  IOFireWireLibDeviceRef Device(io_service_t unit) {
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score;
    EXPECT_EQ(IOCreatePlugInInterfaceForService(unit, kIOFireWireLibTypeID, kIOCFPlugInInterfaceID, &plugIn, &score), 0);
    IOFireWireLibDeviceRef dev = nullptr;
    (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v3, (LPVOID*)&dev);
    IODestroyPlugInInterface(plugIn);
    return dev;
  }
  long baseline_ = 0;
};

TEST_F(IOKitTest, MatchingAndProperties) {
  auto mono = SimMonoFireWirePersonality();
  auto noVersion = SimColourFireWirePersonality();
  noVersion.hasUnitSWVersion = false;
  SimInstallRig({mono, noVersion, SimUSBPersonality()});

  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  ASSERT_EQ(units.size(), 2u);
  CFTypeRef guid = IORegistryEntryCreateCFProperty(units[0], CFSTR("GUID"), nullptr, 0);
  ASSERT_NE(guid, nullptr);
  SInt64 g = 0;
  CFNumberGetValue(CFNumberRef(guid), kCFNumberSInt64Type, &g);
  EXPECT_EQ(UInt64(g), 0x00A1B20100001001ull);
  CFRelease(guid);
  EXPECT_EQ(IORegistryEntryCreateCFProperty(units[1], CFSTR("Unit_SW_Version"), nullptr, 0), nullptr);
  EXPECT_EQ(IORegistryEntryCreateCFProperty(units[0], CFSTR("idVendor"), nullptr, 0), nullptr);
  for (auto u : units) IOObjectRelease(u);

  // A property in the matching dictionary must be equal.
  CFMutableDictionaryRef matching = IOServiceMatching("IOFireWireUnit");
  SInt32 other = 0x1234;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &other);
  CFDictionarySetValue(matching, CFSTR("Unit_Spec_ID"), n);
  CFRelease(n);
  EXPECT_TRUE(Services(matching).empty());

  auto devices = Services(IOServiceMatching("IOUSBDevice"));
  ASSERT_EQ(devices.size(), 1u);
  IOObjectRelease(devices[0]);

  // An iterator released half-way drops what it did not hand out.
  io_iterator_t it;
  IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOFireWireUnit"), &it);
  io_service_t first = IOIteratorNext(it);
  IOObjectRelease(it);
  IOObjectRelease(first);
}

TEST_F(IOKitTest, ExclusiveAccessIsKeptInTheLayer) {
  SimInstallRig({SimMonoFireWirePersonality()});
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  auto again = Services(IOServiceMatching("IOFireWireUnit"));
  IOFireWireLibDeviceRef a = Device(units[0]);
  IOFireWireLibDeviceRef b = Device(again[0]);
  ASSERT_TRUE(a && b);
  EXPECT_EQ((*a)->Open(a), 0);
  EXPECT_EQ((*b)->Open(b), kIOReturnExclusiveAccess);
  (*a)->Close(a);
  EXPECT_EQ((*b)->Open(b), 0);
  (*b)->Release(b);  // releasing an open interface closes it
  EXPECT_EQ((*a)->Open(a), 0);
  (*a)->Release(a);
  IOObjectRelease(units[0]);
  IOObjectRelease(again[0]);
  EXPECT_EQ(SimRigCameras()[0]->OpenCount(), 0);
}

TEST_F(IOKitTest, ConfigurationDirectoryWalk) {
  SimInstallRig({SimMonoFireWirePersonality()});
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  IOFireWireLibDeviceRef dev = Device(units[0]);
  IOFireWireLibConfigDirectoryRef unit = (*dev)->GetConfigDirectory(dev, kIOFireWireConfigDirectoryInterfaceID);
  ASSERT_NE(unit, nullptr);
  UInt32 location = 0;
  EXPECT_EQ((*unit)->GetKeyValue_UInt32(unit, kConfigUnitSpecIdKey, &location), 0);
  EXPECT_EQ(location, 0xA02Du);
  IOFireWireLibConfigDirectoryRef dep = nullptr;
  ASSERT_EQ((*unit)->GetKeyValue_ConfigDirectory(unit, kConfigUnitDependentInfoKey, &dep,
                                                 kIOFireWireConfigDirectoryInterfaceID), 0);
  int count = 0, key = -1;
  IOConfigKeyType type;
  (*dep)->GetNumEntries(dep, &count);
  ASSERT_EQ(count, 2);
  (*dep)->GetIndexKey(dep, 0, &key);
  (*dep)->GetIndexType(dep, 0, &type);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(type, kConfigOffsetKeyType);
  FWAddress base = {};
  EXPECT_EQ((*dep)->GetIndexOffset_FWAddress(dep, 0, &base), 0);
  EXPECT_EQ(base.addressHi, 0xFFFF);
  EXPECT_EQ(base.addressLo, 0xF0F00000u);
  CFDataRef leaf = nullptr;
  EXPECT_EQ((*dep)->GetIndexValue_Data(dep, 1, &leaf), 0);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(leaf)) + 8, 17), "Sim IIDC Mono 640");
  CFRelease(leaf);
  EXPECT_EQ((*dep)->GetIndexValue_Data(dep, 0, &leaf), kIOReturnBadArgument);  // not a leaf
  EXPECT_EQ((*dep)->GetIndexKey(dep, 5, &key), kIOReturnBadArgument);
  (*dep)->Release(dep);
  (*unit)->Release(unit);
  (*dev)->Release(dev);
  IOObjectRelease(units[0]);
}

TEST_F(IOKitTest, IsochDispatcherRunsWorkOnItsLoop) {
  SimInstallRig({SimMonoFireWirePersonality()});
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  IOFireWireLibDeviceRef dev = Device(units[0]);
  std::atomic<CFRunLoopRef> loop{nullptr};
  std::atomic<bool> ran{false};
  std::atomic<std::thread::id> ranOn{};
  std::thread io([&] {
    loop = CFRunLoopGetCurrent();
    while (!ran) CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.01, true);
  });
  while (!loop) std::this_thread::yield();
  EXPECT_FALSE(SkyloomIOFireWirePostIsoch(dev, [] {}));  // no dispatcher yet
  ASSERT_TRUE((*dev)->AddIsochCallbackDispatcherToRunLoop(dev, loop));
  EXPECT_TRUE(SkyloomIOFireWirePostIsoch(dev, [&] {
    ranOn = std::this_thread::get_id();
    ran = true;
  }));
  const std::thread::id ioId = io.get_id();
  io.join();
  EXPECT_EQ(ranOn.load(), ioId);
  (*dev)->RemoveIsochCallbackDispatcherFromRunLoop(dev);
  EXPECT_EQ(SkyloomIOFireWireIsochRunLoop(dev), nullptr);
  (*dev)->Release(dev);
  IOObjectRelease(units[0]);
}

// A back end of its own: the layer needs nothing but the table.
class OneUnitBackend : public IOKitNoUSBBackend {
 public:
  const char* Name() const override { return "one unit"; }
  std::vector<IOKitFireWireUnitInfo> FireWireUnits() override {
    IOKitFireWireUnitInfo u;
    u.key = 42;
    u.guid = 0x0000000100000002ull;
    u.unitSpecID = 0xA02D;
    return {u};
  }
  IOReturn FWOpen(IOKitBackendKey) override { return 0; }
  void FWClose(IOKitBackendKey) override {}
  IOReturn FWConfigROM(IOKitBackendKey, std::vector<UInt32>*, UInt32*) override { return kIOReturnUnsupported; }
  IOReturn FWReadQuadlet(IOKitBackendKey key, UInt16 hi, UInt32 lo, UInt32* v) override {
    *v = UInt32(key) + hi + lo;
    return 0;
  }
  IOReturn FWWriteQuadlet(IOKitBackendKey, UInt16, UInt32, UInt32) override { return 0; }
  IOReturn FWBusGeneration(IOKitBackendKey, UInt32* g) override { return *g = 1, 0; }
  IOReturn FWSpeedToNode(IOKitBackendKey, UInt32, UInt32* s) override { return *s = 1, 0; }
};

TEST_F(IOKitTest, AnotherBackendThroughTheSameTable) {
  OneUnitBackend backend;
  IOKitSetBackends({&backend});
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  ASSERT_EQ(units.size(), 1u);
  IOFireWireLibDeviceRef dev = Device(units[0]);
  ASSERT_EQ((*dev)->Open(dev), 0);
  FWAddress a = {0, 0xFFFF, 0x100};
  UInt32 v = 0;
  EXPECT_EQ((*dev)->ReadQuadlet(dev, (*dev)->GetDevice(dev), &a, &v, false, 0), 0);
  EXPECT_EQ(v, 42u + 0xFFFF + 0x100);
  EXPECT_EQ((*dev)->GetConfigDirectory(dev, kIOFireWireConfigDirectoryInterfaceID), nullptr);
  (*dev)->Release(dev);
  IOObjectRelease(units[0]);
}

// The unit's isochronous packets come recorded, with the bus times the
// controller stamped them with, as from the firewire-cdev back end.
class RecordedIsochBackend final : public OneUnitBackend {
 public:
  IsoPacketQueue queue{64, 16};
  IOReturn FWAllocateIsochChannel(IOKitBackendKey, UInt64, UInt32, UInt32, UInt32* channel) override {
    *channel = 0;
    return 0;
  }
  UInt32 FWIsochCycle(IOKitBackendKey, UInt32, UInt8* slot, UInt32 capacity, UInt32* timeStamp) override {
    return queue.Pop(slot, capacity, timeStamp);
  }
};

TEST_F(IOKitTest, ASegmentCarriesItsLastPacketsBusTime) {
  RecordedIsochBackend backend;
  IOKitSetBackends({&backend});
  SkyloomFireWireBusSetStepped(true);
  SkyloomFireWireBusSetStartCycleTime(0, 0);
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  ASSERT_EQ(units.size(), 1u);
  IOFireWireLibDeviceRef dev = Device(units[0]);
  ASSERT_EQ((*dev)->Open(dev), 0);

  // One segment of three packets, then its time stamp, round and round.
  std::vector<UInt8> memory(3 * 64, 0);
  UInt32 stamp = 0xFFFFFFFF;
  IOFireWireLibDCLCommandPoolRef pool = (*dev)->CreateDCLCommandPool(dev, 1024, kIOFireWireDCLCommandPoolInterfaceID);
  DCLCommandPtr start = (*pool)->AllocateLabelDCL(pool, nullptr);
  DCLCommandPtr label = (*pool)->AllocateLabelDCL(pool, start);
  DCLCommandPtr prev = label;
  for (int p = 0; p < 3; p++) prev = (*pool)->AllocateReceivePacketStartDCL(pool, prev, &memory[size_t(p) * 64], 64);
  prev = (*pool)->AllocatePtrTimeStampDCL(pool, prev, &stamp);
  (*pool)->AllocateJumpDCL(pool, prev, static_cast<DCLLabelPtr>(label));
  IOFireWireLibRemoteIsochPortRef remote = (*dev)->CreateRemoteIsochPort(dev, true, kIOFireWireRemoteIsochPortInterfaceID);
  IOVirtualRange programRange = {0, 0};
  IOVirtualRange bufferRange = {UInt64(uintptr_t(memory.data())), memory.size()};
  IOFireWireLibLocalIsochPortRef local = (*dev)->CreateLocalIsochPort(
      dev, false, start, 0, 0, 0, &programRange, 1, &bufferRange, 1, kIOFireWireLocalIsochPortInterfaceID);
  IOFireWireLibIsochChannelRef ch =
      (*dev)->CreateIsochChannel(dev, true, 64, kFWSpeed400MBit, kIOFireWireIsochChannelInterfaceID);
  ASSERT_EQ((*ch)->SetTalker(ch, remote), 0);
  ASSERT_EQ((*ch)->AddListener(ch, local), 0);
  ASSERT_EQ((*ch)->AllocateChannel(ch), 0);
  ASSERT_EQ((*ch)->Start(ch), 0);

  // Recorded packets that the engine takes in its cycles 0, 1 and 2 but that
  // crossed the bus at 3 s, cycles 100, 101 and 109 (the iso header, then
  // the controller's time-stamp quadlet: 3-bit seconds, 13-bit cycle).
  std::vector<UInt8> headers;
  for (UInt32 cycle : {100u, 101u, 109u}) {
    const UInt32 quadlets[2] = {8u << 16 | 1u << 14 | 0xAu << 4, 3u << 13 | cycle};
    for (UInt32 q : quadlets)
      for (int shift = 24; shift >= 0; shift -= 8) headers.push_back(UInt8(q >> shift));
  }
  std::vector<UInt8> payload(3 * 12);
  for (size_t i = 0; i < payload.size(); i++) payload[i] = UInt8(i);
  ASSERT_EQ(backend.queue.PushInterrupt(headers.data(), headers.size(), 8, 109, payload.data(), 3, 12, 0), 3u);
  ASSERT_TRUE(SkyloomFireWireBusStepCycles(10));
  EXPECT_EQ(stamp, 0x0606D000u);  // 3 << 25 | 109 << 12, not the engine's cycle 2
  for (int p = 0; p < 3; p++) {
    EXPECT_EQ(memory[size_t(p) * 64 + 1], 8) << p;                // header: 8 bytes
    EXPECT_EQ(memory[size_t(p) * 64 + 4], UInt8(p * 12)) << p;   // the packet's own payload
  }

  EXPECT_EQ((*ch)->Stop(ch), 0);
  EXPECT_EQ((*ch)->ReleaseChannel(ch), 0);
  (*ch)->Release(ch);
  (*local)->Release(local);
  (*remote)->Release(remote);
  (*pool)->Release(pool);
  (*dev)->Close(dev);
  (*dev)->Release(dev);
  IOObjectRelease(units[0]);
  SkyloomFireWireBusSetStepped(false);
}

}  // namespace
