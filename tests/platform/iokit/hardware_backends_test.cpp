// The Linux hardware back ends without hardware: status translations, the
// configuration-ROM parser on the simulator's ROMs and on hand-made ones,
// registry properties of enumerated devices, descriptors rebuilt from
// libusb's parsed form, cdev events, and received isochronous packets laid
// out in the receive slots.
#include <gtest/gtest.h>
#include <libusb.h>
#include <linux/firewire-cdev.h>

#include <cstring>
#include <string>

#include "platform/iokit/FireWireCdevBackend.h"
#include "platform/iokit/HardwareTranslate.h"
#include "platform/iokit/IOFireWireLib.h"
#include "platform/iokit/IOUSBLib.h"
#include "platform/iokit/LibUSBBackend.h"
#include "platform/iokit/SerialPorts.h"
#include "platform/iokit/USBDescriptors.h"
#include "platform/simcamera/SimBus.h"
#include "platform/simmount/SimMount.h"

namespace {

// ---------------------------------------------------------------- statuses

TEST(HardwareStatus, LibUSBTransferStatuses) {
  const struct {
    int status;
    UInt32 expected;
  } cases[] = {
      {LIBUSB_TRANSFER_COMPLETED, 0},          {LIBUSB_TRANSFER_STALL, 0xE000404F},
      {LIBUSB_TRANSFER_CANCELLED, 0xE00002EB}, {LIBUSB_TRANSFER_OVERFLOW, 0xE00002E8},
      {LIBUSB_TRANSFER_TIMED_OUT, 0xE0004051}, {LIBUSB_TRANSFER_NO_DEVICE, 0xE00002C0},
      {LIBUSB_TRANSFER_ERROR, 0xE00002BC},     {77, 0xE00002BC},
  };
  for (const auto& c : cases)
    EXPECT_EQ(UInt32(LibUSBTransferStatusToIOReturn(c.status)), c.expected) << "status " << c.status;
}

TEST(HardwareStatus, LibUSBCallResults) {
  const struct {
    int error;
    UInt32 expected, claim;
  } cases[] = {
      {0, 0, 0},
      {4, 0, 0},  // a byte count
      {LIBUSB_ERROR_PIPE, 0xE000404F, 0xE000404F},
      {LIBUSB_ERROR_TIMEOUT, 0xE0004051, 0xE0004051},
      {LIBUSB_ERROR_OVERFLOW, 0xE00002E8, 0xE00002E8},
      {LIBUSB_ERROR_NO_DEVICE, 0xE00002C0, 0xE00002C0},
      {LIBUSB_ERROR_BUSY, 0xE00002D5, 0xE00002C5},    // claimed by another program
      {LIBUSB_ERROR_ACCESS, 0xE00002C1, 0xE00002C5},  // likewise, or no udev rule
      {LIBUSB_ERROR_INVALID_PARAM, 0xE00002C2, 0xE00002C2},
      {LIBUSB_ERROR_NOT_FOUND, 0xE00002F0, 0xE00002F0},
      {LIBUSB_ERROR_NO_MEM, 0xE00002BD, 0xE00002BD},
      {LIBUSB_ERROR_NOT_SUPPORTED, 0xE00002C7, 0xE00002C7},
      {LIBUSB_ERROR_IO, 0xE00002BC, 0xE00002BC},
      {LIBUSB_ERROR_OTHER, 0xE00002BC, 0xE00002BC},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UInt32(LibUSBErrorToIOReturn(c.error)), c.expected) << "error " << c.error;
    EXPECT_EQ(UInt32(LibUSBClaimErrorToIOReturn(c.error)), c.claim) << "claim error " << c.error;
  }
  // One time-out in libusb: the longer of the two the request carries.
  EXPECT_EQ(LibUSBTimeout(5000, 0), 5000u);
  EXPECT_EQ(LibUSBTimeout(5000, 5000), 5000u);
  EXPECT_EQ(LibUSBTimeout(100, 3000), 3000u);
  EXPECT_EQ(LibUSBTimeout(0, 0), 0u);
}

TEST(HardwareStatus, CdevResponseCodes) {
  const struct {
    UInt32 rcode;
    UInt32 expected;
  } cases[] = {
      {0x00, 0},           // complete
      {0x04, 0xE0008014},  // conflict: the response base + code, as the bus answered
      {0x05, 0xE0008015},  // data error
      {0x06, 0xE0008016},  // type error
      {0x07, 0xE0008017},  // address error
      {0x10, 0xE00002BC},  // send error
      {0x11, 0xE00002EB},  // cancelled
      {0x12, 0xE00002D5},  // busy
      {0x13, 0xE0008001},  // generation: a bus reset came between
      {0x14, 0xE00002ED},  // no acknowledge
      {0x99, 0xE00002BC},
  };
  for (const auto& c : cases) EXPECT_EQ(UInt32(FWCdevRcodeToIOReturn(c.rcode)), c.expected) << "rcode " << c.rcode;
  EXPECT_EQ(FWCdevSpeedToIOKit(0), 0u);
  EXPECT_EQ(FWCdevSpeedToIOKit(2), 2u);
  EXPECT_EQ(FWCdevSpeedToIOKit(3), 3u);
  EXPECT_EQ(FWCdevSpeedToIOKit(9), 4u);
  EXPECT_EQ(FWCdevSpeedToIOKit(-1), 0u);
}

TEST(HardwareStatus, CdevIsochronousResources) {
  // IOKit masks count channel n from the top bit, the kernel from the bottom.
  EXPECT_EQ(FWCdevChannelsFromIOKitMask(0x8000000000000000ull), 0x1ull);
  EXPECT_EQ(FWCdevChannelsFromIOKitMask(0x1ull), 0x8000000000000000ull);
  EXPECT_EQ(FWCdevChannelsFromIOKitMask(0xFFFFFFFF00000000ull), 0x00000000FFFFFFFFull);
  EXPECT_EQ(FWCdevChannelsFromIOKitMask(0x2000000000000000ull), 0x4ull);  // channel 2
  EXPECT_EQ(FWCdevChannelsFromIOKitMask(0), 0u);
  // 512 units of overhead, then (payload quadlets + 3) x (16 >> speed).
  EXPECT_EQ(FWCdevBandwidthUnits(4096, 2), 4620u);  // 1027 quadlets at S400, 4 units each
  EXPECT_EQ(FWCdevBandwidthUnits(0, 0), 560u);      // header and CRCs only, at S100
  EXPECT_EQ(FWCdevBandwidthUnits(5, 3), 522u);      // 2 + 3 quadlets at S800
  EXPECT_EQ(FWCdevBandwidthUnits(8, 4), 517u);      // S1600: one unit a quadlet
  EXPECT_EQ(FWCdevBandwidthUnits(8, 9), 517u);
}

// ---------------------------------------------------------------- ROMs

// A node with two units: an IIDC camera (version 0x102) and another unit.
// Its unit-dependent directory points at a model leaf beyond the ROM's end.
const std::vector<UInt32> kTwoUnitROM = {
    0x04100000,  // bus info length 4
    0x31333934,  // "1394"
    0xE0FF8112,  // bus options
    0x00112233,  // GUID high
    0x44556677,  // GUID low
    0x00030000,  // 5: root directory, 3 entries
    0x03001122,  //    vendor id
    0xD1000002,  //    unit directory at 7 + 2 = 9
    0xD1000005,  //    unit directory at 8 + 5 = 13
    0x00030000,  // 9: unit directory A
    0x1200A02D,  //    Unit_Spec_ID
    0x13000102,  //    Unit_SW_Version
    0xD4000004,  //    unit-dependent directory at 12 + 4 = 16
    0x00020000,  // 13: unit directory B
    0x1200609E,  //    Unit_Spec_ID of another protocol
    0x13010483,  //    Unit_SW_Version
    0x00020000,  // 16: unit-dependent directory
    0x403C0000,  //    command base: offset 0x3C0000 quadlets -> 0xF0F00000
    0x82000009,  //    model leaf at 18 + 9 = 27: beyond the ROM
    0x00000000,
};

// An IIDC unit whose model leaf claims 0x40 quadlets but the ROM ends after
// three of them.
const std::vector<UInt32> kLongLeafROM = {
    0x04100000, 0x31333934, 0xE0FF8112, 0x00A0B0C0, 0x00000042,
    0x00010000,  // 5: root directory
    0xD1000001,  //    unit directory at 7
    0x00020000,  // 7: unit directory
    0x1200A02D,  //
    0xD4000001,  //    unit-dependent directory at 10
    0x00020000,  // 10: unit-dependent directory
    0x403C0000,  //
    0x82000001,  //    model leaf at 13
    0x00400000,  // 13: leaf header: 0x40 quadlets
    0x00000000, 0x00000000,
    0x4C6F6E67,  // "Long"
};

TEST(ConfigROMIdentity, HandMadeROMs) {
  ConfigROMIdentity id = ConfigROMParseIdentity(kTwoUnitROM);
  ASSERT_TRUE(id.hasGUID);
  EXPECT_EQ(id.guid, 0x0011223344556677ull);
  ASSERT_EQ(id.units.size(), 2u);
  EXPECT_EQ(id.units[0].directory, 9u);
  EXPECT_TRUE(id.units[0].hasSpecID);
  EXPECT_EQ(id.units[0].unitSpecID, 0xA02Du);
  EXPECT_TRUE(id.units[0].hasSWVersion);
  EXPECT_EQ(id.units[0].unitSWVersion, 0x102u);
  EXPECT_EQ(id.units[1].directory, 13u);
  EXPECT_EQ(id.units[1].unitSpecID, 0x609Eu);
  EXPECT_EQ(id.units[1].unitSWVersion, 0x10483u);

  id = ConfigROMParseIdentity(kLongLeafROM);
  ASSERT_EQ(id.units.size(), 1u);
  EXPECT_EQ(id.guid, 0x00A0B0C000000042ull);
  EXPECT_FALSE(id.units[0].hasSWVersion);

  // A minimal ROM holds a vendor id only; a ROM that is not "1394" has no
  // identity; a unit directory pointing past the end is no unit.
  EXPECT_FALSE(ConfigROMParseIdentity({0x01001122}).hasGUID);
  EXPECT_FALSE(ConfigROMParseIdentity({0x04100000, 0x12345678, 0, 1, 2, 0x00010000, 0xD1000001}).hasGUID);
  id = ConfigROMParseIdentity({0x04100000, 0x31333934, 0, 1, 2, 0x00010000, 0xD1000040});
  EXPECT_TRUE(id.hasGUID);
  EXPECT_TRUE(id.units.empty());
  EXPECT_TRUE(ConfigROMParseIdentity({}).units.empty());
  // A root directory that claims more entries than the ROM holds.
  id = ConfigROMParseIdentity({0x04100000, 0x31333934, 0, 1, 2, 0x00FF0000, 0xD1000001, 0x00010000, 0x1200A02D});
  ASSERT_EQ(id.units.size(), 1u);
  EXPECT_EQ(id.units[0].unitSpecID, 0xA02Du);
}

TEST(ConfigROMIdentity, SimulatorROMs) {
  SimCameraPersonality longName = SimMonoFireWirePersonality();
  longName.modelName = std::string(100, 'M');
  SimCameraPersonality noLeaf = SimMonoFireWirePersonality();
  noLeaf.modelLeafAbsent = true;
  SimCameraPersonality noVersion = SimColourFireWirePersonality();
  noVersion.hasUnitSWVersion = false;
  SimCameraPersonality immediateBase = SimMonoFireWirePersonality();
  immediateBase.baseAsImmediate16 = true;
  for (const SimCameraPersonality& p : {SimDefaultColourPersonality(), SimMonoFireWirePersonality(),
                                        SimColourFireWirePersonality(), longName, noLeaf, noVersion, immediateBase}) {
    SimCamera camera(p);
    UInt32 unitDirectory = 0;
    std::vector<UInt32> rom = camera.ConfigROM(&unitDirectory);
    ConfigROMIdentity id = ConfigROMParseIdentity(rom);
    EXPECT_TRUE(id.hasGUID) << p.modelName;
    EXPECT_EQ(id.guid, p.guid) << p.modelName;
    ASSERT_EQ(id.units.size(), 1u) << p.modelName;
    EXPECT_EQ(id.units[0].directory, unitDirectory);
    EXPECT_EQ(id.units[0].unitSpecID, 0xA02Du);
    EXPECT_EQ(id.units[0].hasSWVersion, p.hasUnitSWVersion);
    if (p.hasUnitSWVersion) {
      EXPECT_EQ(id.units[0].unitSWVersion, p.unitSWVersion);
    }
  }
}

// ---------------------------------------------------------------- registry

class RealBackendRegistry : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = SkyloomIOKitLiveObjectCount(); }
  void TearDown() override {
    FWCdevSetNodeLister(nullptr);
    LibUSBSetDeviceLister(nullptr);
    IOKitSetBackends({});
    EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline_);
  }
  static std::vector<io_service_t> Services(CFMutableDictionaryRef matching) {
    io_iterator_t it;
    EXPECT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, matching, &it), 0);
    std::vector<io_service_t> v;
    while (io_service_t s = IOIteratorNext(it)) v.push_back(s);
    IOObjectRelease(it);
    return v;
  }
  static bool Property(io_service_t s, const char* key, SInt64* value) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFTypeRef v = IORegistryEntryCreateCFProperty(s, k, nullptr, 0);
    CFRelease(k);
    if (!v) return false;
    bool ok = CFNumberGetValue(CFNumberRef(v), kCFNumberSInt64Type, value);
    CFRelease(v);
    return ok;
  }
  // The model leaf's text of a unit, as the camera library reads it: the
  // unit-dependent directory's leaf, text from byte 8. Status of the leaf read.
  static IOReturn ModelLeaf(io_service_t unit, std::string* text) {
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score;
    EXPECT_EQ(IOCreatePlugInInterfaceForService(unit, kIOFireWireLibTypeID, kIOCFPlugInInterfaceID, &plugIn, &score), 0);
    IOFireWireLibDeviceRef dev = nullptr;
    (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v3, (LPVOID*)&dev);
    IODestroyPlugInInterface(plugIn);
    IOFireWireLibConfigDirectoryRef dir = (*dev)->GetConfigDirectory(dev, kIOFireWireConfigDirectoryInterfaceID);
    EXPECT_NE(dir, nullptr);
    IOFireWireLibConfigDirectoryRef dep = nullptr;
    IOReturn status = (*dir)->GetKeyValue_ConfigDirectory(dir, kConfigUnitDependentInfoKey, &dep,
                                                          kIOFireWireConfigDirectoryInterfaceID);
    if (status == kIOReturnSuccess) {
      CFDataRef leaf = nullptr;
      status = (*dep)->GetKeyValue_Data(dep, 2, &leaf);
      if (leaf) {
        const char* bytes = reinterpret_cast<const char*>(CFDataGetBytePtr(leaf));
        CFIndex n = CFDataGetLength(leaf);
        *text = n > 8 ? std::string(bytes + 8, strnlen(bytes + 8, size_t(n - 8))) : std::string();
        CFRelease(leaf);
      }
      (*dep)->Release(dep);
    }
    (*dir)->Release(dir);
    (*dev)->Release(dev);
    return status;
  }
  long baseline_ = 0;
};

TEST_F(RealBackendRegistry, FireWireUnitsFromNodeROMs) {
  SimCameraPersonality longName = SimMonoFireWirePersonality();
  longName.modelName = std::string(100, 'M');
  SimCameraPersonality noVersion = SimColourFireWirePersonality();
  noVersion.hasUnitSWVersion = false;
  UInt32 ignored;
  FWCdevSetNodeLister([&] {
    std::vector<FWCdevNodeRecord> nodes(4);
    nodes[0] = {"/dev/fw0", 0, true, SimCamera(SimMonoFireWirePersonality()).ConfigROM(&ignored)};  // the host
    nodes[1] = {"/dev/fw1", 1, false, SimCamera(longName).ConfigROM(&ignored)};
    nodes[2] = {"/dev/fw2", 2, false, kTwoUnitROM};
    nodes[3] = {"/dev/fw3", 3, false, SimCamera(noVersion).ConfigROM(&ignored)};
    return nodes;
  });
  EXPECT_TRUE(FireWireCdevCamerasPresent());
  IOKitSetBackends({FireWireCdevBackend()});

  auto all = Services(IOServiceMatching("IOFireWireUnit"));
  EXPECT_EQ(all.size(), 4u);  // the host's own node is not listed
  for (io_service_t s : all) IOObjectRelease(s);

  CFMutableDictionaryRef matching = IOServiceMatching("IOFireWireUnit");
  SInt32 location = 0xA02D;
  CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt32Type, &location);
  CFDictionarySetValue(matching, CFSTR("Unit_Spec_ID"), n);
  CFRelease(n);
  auto units = Services(matching);
  ASSERT_EQ(units.size(), 3u);
  const struct {
    UInt64 guid;
    bool hasVersion;
    SInt64 version;
  } expected[] = {{longName.guid, true, longName.unitSWVersion}, {0x0011223344556677ull, true, 0x102}, {noVersion.guid, false, 0}};
  for (size_t i = 0; i < units.size(); i++) {
    SInt64 v = 0;
    ASSERT_TRUE(Property(units[i], "GUID", &v));
    EXPECT_EQ(UInt64(v), expected[i].guid);
    ASSERT_TRUE(Property(units[i], "Unit_Spec_ID", &v));
    EXPECT_EQ(v, 0xA02D);
    EXPECT_EQ(Property(units[i], "Unit_SW_Version", &v), expected[i].hasVersion);
    if (expected[i].hasVersion) {
      EXPECT_EQ(v, expected[i].version);
    }
    EXPECT_FALSE(Property(units[i], "idVendor", &v));
  }

  // The model leaf through the layer's directories: the long name whole (the
  // library cuts it to 79), the leaf beyond the ROM's end not found.
  std::string text;
  EXPECT_EQ(ModelLeaf(units[0], &text), kIOReturnSuccess);
  EXPECT_EQ(text, std::string(100, 'M'));
  EXPECT_EQ(ModelLeaf(units[1], &text), kIOReturnNotFound);
  for (io_service_t s : units) IOObjectRelease(s);
}

TEST_F(RealBackendRegistry, LongLeafIsCutAtTheROMEnd) {
  FWCdevSetNodeLister([] { return std::vector<FWCdevNodeRecord>{{"/dev/fw5", 5, false, kLongLeafROM}}; });
  IOKitSetBackends({FireWireCdevBackend()});
  auto units = Services(IOServiceMatching("IOFireWireUnit"));
  ASSERT_EQ(units.size(), 1u);
  std::string text;
  EXPECT_EQ(ModelLeaf(units[0], &text), kIOReturnSuccess);
  EXPECT_EQ(text, "Long");
  // Nothing is plugged in: opening the node fails without touching the layer's state.
  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score;
  ASSERT_EQ(IOCreatePlugInInterfaceForService(units[0], kIOFireWireLibTypeID, kIOCFPlugInInterfaceID, &plugIn, &score), 0);
  IOFireWireLibDeviceRef dev = nullptr;
  (*plugIn)->QueryInterface(plugIn, kIOFireWireDeviceInterfaceID_v3, (LPVOID*)&dev);
  IODestroyPlugInInterface(plugIn);
  EXPECT_NE((*dev)->Open(dev), kIOReturnSuccess);
  FWAddress a = {0, 0xFFFF, 0xF0F00000};
  UInt32 v;
  EXPECT_EQ((*dev)->ReadQuadlet(dev, (*dev)->GetDevice(dev), &a, &v, false, 0), kIOReturnNotOpen);
  (*dev)->Release(dev);
  IOObjectRelease(units[0]);
}

TEST_F(RealBackendRegistry, CamerasPresentOnlyForRemoteIIDCUnits) {
  UInt32 ignored;
  std::vector<UInt32> simROM = SimCamera(SimMonoFireWirePersonality()).ConfigROM(&ignored);
  std::vector<UInt32> otherUnit = kTwoUnitROM;
  otherUnit[10] = 0x1200609E;  // unit A is no camera either
  FWCdevSetNodeLister([&] { return std::vector<FWCdevNodeRecord>{{"/dev/fw0", 0, true, simROM}}; });
  EXPECT_FALSE(FireWireCdevCamerasPresent());
  FWCdevSetNodeLister([&] { return std::vector<FWCdevNodeRecord>{{"/dev/fw1", 1, false, otherUnit}}; });
  EXPECT_FALSE(FireWireCdevCamerasPresent());
  FWCdevSetNodeLister([&] { return std::vector<FWCdevNodeRecord>{{"/dev/fw1", 1, false, simROM}}; });
  EXPECT_TRUE(FireWireCdevCamerasPresent());
}

// Bytes of a camera's descriptors as the device sends them.
const std::vector<UInt8> kDeviceDescriptor = {18,   1,    0x00, 0x02, 0xFF, 0x00, 0x00, 64, 0x10,
                                              0x1E, 0x34, 0x12, 0x01, 0x00, 1,    2,    3,  1};
const std::vector<UInt8> kConfigDescriptor = {
    9, 2, 34, 0, 1, 1, 0, 0x80, 250,          // configuration 1, 34 bytes in all
    9, 4, 0, 0, 0, 0xFF, 0, 0, 0,             // interface 0, alternate 0: no endpoints
    9, 4, 0, 1, 1, 0xFF, 0, 0, 0,             // interface 0, alternate 1: one endpoint
    7, 5, 0x81, 2, 0x00, 0x02, 0,             // bulk IN 0x81, 512 bytes
};

TEST_F(RealBackendRegistry, USBDevicesFromDescriptors) {
  LibUSBSetDeviceLister([] {
    LibUSBDeviceRecord r;
    r.bus = 3;
    r.address = 7;
    r.key = 0x307;
    r.deviceDescriptor = kDeviceDescriptor;
    r.configDescriptors = {kConfigDescriptor};
    LibUSBDeviceRecord bad = r;
    bad.key = 0x308;
    bad.deviceDescriptor.resize(10);  // not a device descriptor: not listed
    return std::vector<LibUSBDeviceRecord>{r, bad};
  });
  EXPECT_TRUE(LibUSBCamerasPresent());
  IOKitSetBackends({LibUSBCameraBackend()});
  auto devices = Services(IOServiceMatching("IOUSBDevice"));
  ASSERT_EQ(devices.size(), 1u);
  SInt64 v = 0;
  ASSERT_TRUE(Property(devices[0], "idVendor", &v));
  EXPECT_EQ(v, 0x1E10);
  ASSERT_TRUE(Property(devices[0], "idProduct", &v));
  EXPECT_EQ(v, 0x1234);
  EXPECT_FALSE(Property(devices[0], "GUID", &v));

  // The device interface reads the cached descriptors without opening.
  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score;
  ASSERT_EQ(IOCreatePlugInInterfaceForService(devices[0], kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                              &plugIn, &score), 0);
  IOUSBDeviceRef dev = nullptr;
  (*plugIn)->QueryInterface(plugIn, kIOUSBDeviceInterfaceID, (LPVOID*)&dev);
  IODestroyPlugInInterface(plugIn);
  ASSERT_NE(dev, nullptr);
  UInt8 index = 0, count = 0;
  EXPECT_EQ((*dev)->USBGetProductStringIndex(dev, &index), 0);
  EXPECT_EQ(index, 2);
  EXPECT_EQ((*dev)->USBGetSerialNumberStringIndex(dev, &index), 0);
  EXPECT_EQ(index, 3);
  EXPECT_EQ((*dev)->GetNumberOfConfigurations(dev, &count), 0);
  EXPECT_EQ(count, 1);
  IOUSBConfigurationDescriptorPtr config = nullptr;
  ASSERT_EQ((*dev)->GetConfigurationDescriptorPtr(dev, 0, &config), 0);
  EXPECT_EQ(config->wTotalLength[0], 34);
  EXPECT_EQ((*dev)->GetConfigurationDescriptorPtr(dev, 1, &config), kIOReturnBadArgument);
  // Nothing is plugged in: the open fails and nothing stays held.
  EXPECT_NE((*dev)->USBDeviceOpen(dev), kIOReturnSuccess);
  EXPECT_EQ((*dev)->SetConfiguration(dev, 1), kIOReturnNotOpen);
  (*dev)->Release(dev);
  IOObjectRelease(devices[0]);
  // Streaming calls on a device that is not open refuse without queueing.
  IOKitBackend* backend = LibUSBCameraBackend();
  UInt8 buffer[512];
  bool called = false;
  EXPECT_EQ(backend->USBBulkReadAsync(0x307, 0x81, buffer, sizeof buffer, [&](IOReturn, UInt32) { called = true; }),
            kIOReturnNotOpen);
  EXPECT_EQ(backend->USBAbortPipe(0x307, 0x81), kIOReturnNotOpen);
  EXPECT_EQ(backend->USBPipeStatus(0x307, 0x81), kIOReturnNotOpen);
  EXPECT_EQ(backend->USBClearStall(0x307, 0x81), kIOReturnNotOpen);
  EXPECT_FALSE(called);
}

TEST(LibUSBDescriptors, RebuiltFromTheParsedForm) {
  libusb_device_descriptor d = {};
  d.bLength = 18;
  d.bDescriptorType = 1;
  d.bcdUSB = 0x0200;
  d.bDeviceClass = 0xFF;
  d.bMaxPacketSize0 = 64;
  d.idVendor = 0x1E10;
  d.idProduct = 0x1234;
  d.bcdDevice = 0x0001;
  d.iManufacturer = 1;
  d.iProduct = 2;
  d.iSerialNumber = 3;
  d.bNumConfigurations = 1;
  EXPECT_EQ(LibUSBDeviceDescriptorBytes(d), kDeviceDescriptor);

  libusb_endpoint_descriptor bulk = {};
  bulk.bEndpointAddress = 0x81;
  bulk.bmAttributes = 2;
  bulk.wMaxPacketSize = 512;
  libusb_interface_descriptor alternates[2] = {};
  alternates[0].bInterfaceNumber = 0;
  alternates[0].bInterfaceClass = 0xFF;
  alternates[1].bInterfaceNumber = 0;
  alternates[1].bAlternateSetting = 1;
  alternates[1].bNumEndpoints = 1;
  alternates[1].bInterfaceClass = 0xFF;
  alternates[1].endpoint = &bulk;
  libusb_interface intf = {alternates, 2};
  libusb_config_descriptor c = {};
  c.bNumInterfaces = 1;
  c.bConfigurationValue = 1;
  c.bmAttributes = 0x80;
  c.MaxPower = 250;
  c.interface = &intf;
  std::vector<UInt8> bytes = LibUSBConfigDescriptorBytes(c);
  EXPECT_EQ(bytes, kConfigDescriptor);

  // Extra (class or vendor) descriptors stay where the device put them.
  const unsigned char extra[] = {4, 0x24, 0xAB, 0xCD};
  alternates[1].extra = extra;
  alternates[1].extra_length = 4;
  bytes = LibUSBConfigDescriptorBytes(c);
  ASSERT_EQ(bytes.size(), 38u);
  EXPECT_EQ(bytes[2], 38);
  EXPECT_EQ(std::vector<UInt8>(bytes.begin() + 27, bytes.begin() + 31), std::vector<UInt8>(extra, extra + 4));
  USBConfigurationInfo info;
  ASSERT_TRUE(USBParseConfigurationDescriptor(bytes, &info));
  const USBAlternateInfo* a = info.Find(0, 1);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->endpoints.size(), 1u);
  EXPECT_EQ(a->endpoints[0].address, 0x81);
  EXPECT_EQ(a->endpoints[0].maxPacketSize, 512);
}

// ---------------------------------------------------------------- cdev events

template <typename T>
std::vector<UInt8> Bytes(const T& event, const std::vector<UInt8>& tail = {}) {
  std::vector<UInt8> b(sizeof(T));
  std::memcpy(b.data(), &event, sizeof(T));
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

TEST(CdevEvents, DispatchedByType) {
  UInt32 generation = 0, rcode = 99;
  UInt64 closure = 0;
  std::vector<UInt8> data;
  UInt32 cycle = 0;
  size_t headerLength = 0;
  SInt32 channel = -1;
  bool allocated = false;
  FWCdevEventHandlers h;
  h.busReset = [&](UInt32 g, UInt32, UInt32) { generation = g; };
  h.response = [&](UInt64 c, UInt32 r, const UInt8* d, size_t n) {
    closure = c;
    rcode = r;
    data.assign(d, d + n);
  };
  h.isoInterrupt = [&](UInt64 c, UInt32 cy, const UInt8*, size_t n) {
    closure = c;
    cycle = cy;
    headerLength = n;
  };
  h.isoResource = [&](UInt64, bool a, SInt32 ch, SInt32) {
    allocated = a;
    channel = ch;
  };

  fw_cdev_event_bus_reset reset = {};
  reset.type = FW_CDEV_EVENT_BUS_RESET;
  reset.generation = 7;
  std::vector<UInt8> b = Bytes(reset);
  EXPECT_TRUE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_EQ(generation, 7u);
  EXPECT_FALSE(FWCdevDispatchEvent(b.data(), b.size() - 1, h));  // cut short

  fw_cdev_event_response response = {};
  response.closure = 42;
  response.type = FW_CDEV_EVENT_RESPONSE;
  response.rcode = 0;
  response.length = 4;
  b.assign(reinterpret_cast<UInt8*>(&response), reinterpret_cast<UInt8*>(&response) + offsetof(fw_cdev_event_response, data));
  b.insert(b.end(), {0x12, 0x34, 0x56, 0x78});
  b.resize(std::max(b.size(), sizeof response));
  EXPECT_TRUE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_EQ(closure, 42u);
  EXPECT_EQ(rcode, 0u);
  EXPECT_EQ(data, (std::vector<UInt8>{0x12, 0x34, 0x56, 0x78}));
  // A length beyond the bytes read is cut to them.
  response.length = 4000;
  b = Bytes(response, {1, 2, 3, 4});
  EXPECT_TRUE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_EQ(data.size(), b.size() - offsetof(fw_cdev_event_response, data));

  fw_cdev_event_iso_interrupt iso = {};
  iso.closure = 9;
  iso.type = FW_CDEV_EVENT_ISO_INTERRUPT;
  iso.cycle = 0x1234;
  iso.header_length = 16;
  b.assign(reinterpret_cast<UInt8*>(&iso), reinterpret_cast<UInt8*>(&iso) + offsetof(fw_cdev_event_iso_interrupt, header));
  b.resize(b.size() + 16);
  EXPECT_TRUE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_EQ(closure, 9u);
  EXPECT_EQ(cycle, 0x1234u);
  EXPECT_EQ(headerLength, 16u);

  fw_cdev_event_iso_resource resource = {};
  resource.type = FW_CDEV_EVENT_ISO_RESOURCE_ALLOCATED;
  resource.channel = 3;
  b = Bytes(resource);
  EXPECT_TRUE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_TRUE(allocated);
  EXPECT_EQ(channel, 3);

  fw_cdev_event_common unknown = {};
  unknown.type = 0x55;
  b = Bytes(unknown);
  EXPECT_FALSE(FWCdevDispatchEvent(b.data(), b.size(), h));
  EXPECT_FALSE(FWCdevDispatchEvent(nullptr, 0, h));
}

// ---------------------------------------------------------------- iso slots

// The cdev header of one received packet: the iso header and the time-stamp
// quadlet, both big-endian.
void PutHeader(std::vector<UInt8>& h, UInt32 length, UInt32 sy, UInt32 seconds, UInt32 cycle) {
  const UInt32 header = length << 16 | 1u << 14 | 5u << 8 | 0xAu << 4 | sy;
  const UInt32 stamp = seconds << 13 | cycle;
  for (int shift = 24; shift >= 0; shift -= 8) h.push_back(UInt8(header >> shift));
  for (int shift = 24; shift >= 0; shift -= 8) h.push_back(UInt8(stamp >> shift));
}

TEST(IsoSlots, PacketsLandInTheirSlots) {
  constexpr size_t kStride = 1028;  // bytes per packet 1024, four spare
  constexpr size_t kSlot = 2048;
  std::vector<UInt8> payload(3 * kStride);
  for (size_t i = 0; i < payload.size(); i++) payload[i] = UInt8(i * 7 + 1);
  std::vector<UInt8> headers;
  PutHeader(headers, 1024, 1, 2, 100);
  PutHeader(headers, 1024, 0, 2, 101);
  PutHeader(headers, 16, 0, 5, 7999);  // a short last packet
  std::vector<UInt8> memory(4 * kSlot, 0xEE);
  UInt32 stamp = 0;
  IsoSlotLayout layout{memory.data(), kSlot, 4, &stamp};
  EXPECT_EQ(IsoInterruptToSlots(headers.data(), headers.size(), 8, 0, payload.data(), payload.size(), kStride, 1,
                                layout),
            3u);
  // Slot 0 untouched; slots 1..3: header as on the wire, then the payload.
  EXPECT_EQ(memory[0], 0xEE);
  EXPECT_EQ(memory[kSlot - 1], 0xEE);
  const UInt8 first[4] = {0x04, 0x00, 0x45, 0xA1};  // 1024 << 16 | tag 1 | channel 5 | tcode 0xA | sy 1
  EXPECT_EQ(std::memcmp(&memory[kSlot], first, 4), 0);
  for (size_t p = 0; p < 3; p++) {
    const size_t length = p < 2 ? 1024 : 16;
    EXPECT_EQ(std::memcmp(&memory[(p + 1) * kSlot + 4], &payload[p * kStride], length), 0) << "packet " << p;
    EXPECT_EQ(memory[(p + 1) * kSlot + 4 + length], 0xEE) << "packet " << p;
  }
  EXPECT_EQ(memory[3 * kSlot + 3], 0xA0);  // sy 0
  // The segment's time stamp from its last packet: 5 s, cycle 7999.
  EXPECT_EQ(stamp, 0x0BF3F000u);
}

TEST(IsoSlots, OversizedPacketsAndSlotsAreBounded) {
  constexpr size_t kStride = 64;
  std::vector<UInt8> payload(2 * kStride, 0x5A);
  std::vector<UInt8> headers;
  PutHeader(headers, 4000, 1, 0, 1);  // longer than the stride and the slot
  PutHeader(headers, 32, 0, 0, 2);
  std::vector<UInt8> memory(2 * 48 + 16, 0xEE);  // two 48-byte slots, then a guard
  IsoSlotLayout layout{memory.data(), 48, 2, nullptr};
  EXPECT_EQ(IsoInterruptToSlots(headers.data(), headers.size(), 8, 0, payload.data(), payload.size(), kStride, 1,
                                layout),
            1u);  // the second packet has no slot left
  EXPECT_EQ(memory[48], 0x0F);  // the header says 4000 bytes: the handler judges that
  EXPECT_EQ(memory[48 + 4], 0x5A);
  EXPECT_EQ(memory[95], 0x5A);
  for (size_t i = 96; i < memory.size(); i++) EXPECT_EQ(memory[i], 0xEE);
  // A payload buffer shorter than the packets: no bytes from beyond it.
  std::fill(memory.begin(), memory.end(), 0xEE);
  EXPECT_EQ(IsoInterruptToSlots(headers.data(), headers.size(), 8, 0, payload.data(), 20, kStride, 0, layout), 2u);
  EXPECT_EQ(memory[4 + 19], 0x5A);
  EXPECT_EQ(memory[4 + 20], 0xEE);
  EXPECT_EQ(memory[48 + 4], 0xEE);
  // Headers without time stamps: the event's cycle stamps the segment.
  UInt32 stamp = 0;
  layout.timeStamp = &stamp;
  std::vector<UInt8> bare = {0x00, 0x08, 0x45, 0xA1};
  EXPECT_EQ(IsoInterruptToSlots(bare.data(), bare.size(), 4, 3u << 13 | 17, payload.data(), payload.size(), kStride,
                                0, layout),
            1u);
  EXPECT_EQ(stamp, (3u << 25) | (17u << 12));
  EXPECT_EQ(IsoInterruptToSlots(bare.data(), bare.size(), 6, 0, payload.data(), payload.size(), kStride, 0, layout),
            0u);  // not a whole number of quadlets
  EXPECT_EQ(IsoTimeStampWord(0xFFFF), 0x0FFFF000u);
  EXPECT_EQ(IsoTimeStampWord(0x12345), IsoTimeStampWord(0x2345));  // bits above the 16 are ignored
}

// A recorded FW_CDEV_EVENT_ISO_INTERRUPT as the kernel hands it out: the
// event, then its headers.
std::vector<UInt8> IsoInterruptEvent(UInt32 cycle, const std::vector<UInt8>& headers) {
  fw_cdev_event_iso_interrupt e = {};
  e.type = FW_CDEV_EVENT_ISO_INTERRUPT;
  e.cycle = cycle;
  e.header_length = UInt32(headers.size());
  std::vector<UInt8> b(reinterpret_cast<UInt8*>(&e),
                       reinterpret_cast<UInt8*>(&e) + offsetof(fw_cdev_event_iso_interrupt, header));
  b.insert(b.end(), headers.begin(), headers.end());
  return b;
}

TEST(IsoQueue, RecordedPacketsKeepTheirBusTime) {
  // The receive buffer: four chunks of 12 bytes (8 of payload, 4 spare),
  // chunk k holding 0xk0, 0xk1, ...
  constexpr size_t kChunks = 4, kStride = 12;
  std::vector<UInt8> ring(kChunks * kStride);
  for (size_t i = 0; i < ring.size(); i++) ring[i] = UInt8((i / kStride) << 4 | (i % kStride));
  IsoPacketQueue queue(kStride, 3);
  size_t nextChunk = 2;  // the first event's packets wrap round the buffer's end
  FWCdevEventHandlers h;
  h.isoInterrupt = [&](UInt64, UInt32 cycle, const UInt8* headers, size_t length) {
    queue.PushInterrupt(headers, length, 8, cycle, ring.data(), kChunks, kStride, nextChunk);
    nextChunk = (nextChunk + length / 8) % kChunks;
  };
  // Three packets across the wrap of the seconds (7 s cycle 7998, 7 s 7999,
  // 0 s 0), then one late packet (0 s, cycle 3) while the queue is full.
  std::vector<UInt8> first, late;
  PutHeader(first, 8, 1, 7, 7998);
  PutHeader(first, 8, 0, 7, 7999);
  PutHeader(first, 4, 0, 0, 0);
  PutHeader(late, 8, 0, 0, 3);
  std::vector<UInt8> event = IsoInterruptEvent(0, first);
  ASSERT_TRUE(FWCdevDispatchEvent(event.data(), event.size(), h));
  EXPECT_EQ(queue.Size(), 3u);
  event = IsoInterruptEvent(3, late);
  ASSERT_TRUE(FWCdevDispatchEvent(event.data(), event.size(), h));
  EXPECT_EQ(queue.Size(), 3u);
  EXPECT_EQ(queue.Dropped(), 1u);  // no room: dropped, as a late reader loses packets

  struct Want {
    UInt32 bytes;
    UInt8 header[4];
    size_t chunk;
    UInt32 stamp;  // (seconds mod 8) << 25 | cycle << 12
  };
  const Want want[] = {
      {12, {0x00, 0x08, 0x45, 0xA1}, 2, 0x0FF3E000},  // 7 << 25 | 7998 << 12
      {12, {0x00, 0x08, 0x45, 0xA0}, 3, 0x0FF3F000},  // 7 << 25 | 7999 << 12
      {8, {0x00, 0x04, 0x45, 0xA0}, 0, 0x00000000},
      {12, {0x00, 0x08, 0x45, 0xA0}, 2, 0x00003000},  // 0 << 25 | 3 << 12; chunk 1 held the dropped one
  };
  for (size_t i = 0; i < 4; i++) {
    SCOPED_TRACE(i);
    if (i == 3) {
      // Room again: the packet recorded next comes with its own stamp.
      event = IsoInterruptEvent(3, late);
      ASSERT_TRUE(FWCdevDispatchEvent(event.data(), event.size(), h));
    }
    std::vector<UInt8> slot(32, 0xEE);
    UInt32 stamp = 0xFFFFFFFF;
    ASSERT_EQ(queue.Pop(slot.data(), UInt32(slot.size()), &stamp), want[i].bytes);
    EXPECT_EQ(std::memcmp(slot.data(), want[i].header, 4), 0);
    EXPECT_EQ(std::memcmp(slot.data() + 4, &ring[want[i].chunk * kStride], want[i].bytes - 4), 0);
    EXPECT_EQ(slot[want[i].bytes], 0xEE);
    EXPECT_EQ(stamp, want[i].stamp);
  }
  // Nothing waits: nothing is written, the engine keeps its own time.
  UInt8 slot[16] = {};
  UInt32 stamp = 0x1234;
  EXPECT_EQ(queue.Pop(slot, sizeof slot, &stamp), 0u);
  EXPECT_EQ(stamp, 0x1234u);
  // A packet is cut to the receive slot it is taken into.
  event = IsoInterruptEvent(9, late);
  ASSERT_TRUE(FWCdevDispatchEvent(event.data(), event.size(), h));
  EXPECT_EQ(queue.Pop(slot, 6, &stamp), 6u);
  EXPECT_EQ(stamp, 0x00003000u);
}

// ---------------------------------------------------------------- selection

TEST(BackendSelection, AnInstalledRigPinsTheSimulator) {
  UInt32 ignored;
  std::vector<UInt32> rom = SimCamera(SimMonoFireWirePersonality()).ConfigROM(&ignored);
  FWCdevSetNodeLister([&] { return std::vector<FWCdevNodeRecord>{{"/dev/fw1", 1, false, rom}}; });
  ASSERT_TRUE(FireWireCdevCamerasPresent());  // a camera is "plugged in"
  SimInstallRig({SimUSBPersonality()});
  IOKitSetBackends({});
  EXPECT_TRUE(SimRigPinned());
  // The camera back ends come first; serial and HID back ends follow them.
  auto cameras = [] {
    std::vector<IOKitBackend*> b = IOKitGetBackends();
    std::erase_if(b, [](IOKitBackend* x) { return x == SysfsSerialBackend() || x == SimMountBackend(); });
    return b;
  };
  EXPECT_EQ(cameras(), std::vector<IOKitBackend*>{SimCameraBackend()});
  SimRemoveRig();
  EXPECT_EQ(cameras(), std::vector<IOKitBackend*>{SimCameraBackend()});
  FWCdevSetNodeLister(nullptr);
}

}  // namespace
