#include <cstring>
#include <functional>

#include "platform/iokit/IOUSBLib.h"
#include "tests/camera_driver/dcam_fixture.h"

namespace {

class ListTest : public DCAMTest {};

std::vector<UInt8> StringDescriptor(const std::vector<UInt16>& units) {
  std::vector<UInt8> d = {UInt8(2 + 2 * units.size()), 3};
  for (UInt16 u : units) {
    d.push_back(UInt8(u));
    d.push_back(UInt8(u >> 8));
  }
  return d;
}

TEST_F(ListTest, ThreeCameraRigFireWireFirst) {
  auto mono = SimMonoFireWirePersonality();
  auto colour = SimColourFireWirePersonality();
  colour.inUse = true;
  Rig({SimUSBPersonality(), mono, colour});

  MyDCAMCameraListStruct list;
  std::memset(&list, 0xAA, sizeof list);
  ASSERT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  ASSERT_EQ(list.mCount, 3u);

  EXPECT_EQ(list.mEntries[0].mInUse, 0);
  EXPECT_EQ(list.mEntries[0].mVendor, 0x00A1B201u);
  EXPECT_EQ(list.mEntries[0].mCameraID, 0x00001001u);
  EXPECT_STREQ(list.mEntries[0].mName, "Sim IIDC Mono 640");

  EXPECT_EQ(list.mEntries[1].mInUse, 1);
  EXPECT_EQ(list.mEntries[1].mVendor, 0x00B09D01u);
  EXPECT_EQ(list.mEntries[1].mCameraID, 0x00002002u);
  EXPECT_STREQ(list.mEntries[1].mName, "Camera In Use - can not read name");

  EXPECT_EQ(list.mEntries[2].mInUse, 0);
  EXPECT_EQ(list.mEntries[2].mVendor, 0x1E10u);
  EXPECT_EQ(list.mEntries[2].mCameraID, 0x1A2Bu);
  EXPECT_STREQ(list.mEntries[2].mName, "Sim USB Camera");
  ExpectNothingLeft();
}

TEST_F(ListTest, NullListAndDefaultRig) {
  EXPECT_EQ(ORX_DCAM_GetListOfCameras(nullptr), OSStatus(0xE00002C0));
  SimRemoveRig();
  MyDCAMCameraListStruct list;
  ASSERT_EQ(ORX_DCAM_GetListOfCameras(&list), 0);
  ASSERT_EQ(list.mCount, 1u);  // one camera: the application opens it without asking
  EXPECT_EQ(list.mEntries[0].mVendor >> 8, 0xB09Du);
  EXPECT_EQ(list.mEntries[0].mInUse, 0);
}

TEST_F(ListTest, IdentityEdgeCases) {
  struct Case {
    const char* what;
    std::function<std::vector<SimCameraPersonality>()> rig;
    OSStatus status;
    UInt32 count;
    UInt32 entry;  // entry checked
    const char* name;
    UInt32 id;
  };
  const std::string hundred(100, 'N');
  const std::string seventyNine(79, 'N');
  auto fw = [](std::function<void(SimCameraPersonality&)> change) {
    auto p = SimMonoFireWirePersonality();
    change(p);
    return p;
  };
  auto usb = [](std::function<void(SimCameraPersonality&)> change) {
    auto p = SimUSBPersonality();
    change(p);
    return p;
  };
  const Case cases[] = {
      {"100-character model leaf", [&] { return std::vector{fw([&](auto& p) { p.modelName = hundred; })}; },
       0, 1, 0, seventyNine.c_str(), 0x1001},
      {"no model leaf", [&] { return std::vector{fw([](auto& p) { p.modelLeafAbsent = true; })}; },
       0, 1, 0, "Unknown Model", 0x1001},
      {"empty model text", [&] { return std::vector{fw([](auto& p) { p.modelName = ""; })}; },
       0, 1, 0, "Unknown Model", 0x1001},
      {"unit without GUID", [&] {
         return std::vector{SimMonoFireWirePersonality(), fw([](auto& p) { p.hasGUID = false; }), SimUSBPersonality()};
       }, -108, 0, 0, nullptr, 0},
      {"33 cameras", [&] {
         std::vector<SimCameraPersonality> v;
         for (UInt32 i = 0; i < 33; i++) v.push_back(fw([i](auto& p) { p.guid = 0x00A1B20100000000ull + i; }));
         return v;
       }, 0, 31, 30, "Sim IIDC Mono 640", 30},
      {"non-ASCII product name", [&] {
         return std::vector{usb([](auto& p) {
           p.rawStringDescriptors[2] = StringDescriptor({'C', 'a', 'm', 0xE9, 'r', 'a', 0x263C});
         })};
       }, 0, 1, 0, "Cam?ra?", 0x1A2B},
      {"serial of more than 8 hex digits", [&] { return std::vector{usb([](auto& p) { p.serial = "123456789"; })}; },
       0, 1, 0, "Sim USB Camera", 0xFFFFFFFF},
      {"lower-case serial", [&] { return std::vector{usb([](auto& p) { p.serial = "00c0ffee"; })}; },
       0, 1, 0, "Sim USB Camera", 0x00C0FFEE},
      {"USB device of another vendor", [&] {
         return std::vector{usb([](auto& p) { p.idVendor = 0x1234; }), SimUSBPersonality()};
       }, 0, 1, 0, "Sim USB Camera", 0x1A2B},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig(c.rig());
    MyDCAMCameraListStruct list;
    std::memset(&list, 0xAA, sizeof list);
    EXPECT_EQ(ORX_DCAM_GetListOfCameras(&list), c.status);
    ASSERT_EQ(list.mCount, c.count);
    if (c.name) {
      EXPECT_STREQ(list.mEntries[c.entry].mName, c.name);
      EXPECT_EQ(list.mEntries[c.entry].mCameraID, c.id);
    }
    ExpectNothingLeft();
  }
}

TEST_F(ListTest, SerialParseKeeps32BitSemantics) {
  EXPECT_EQ(myParseUSBSerial("1A2B"), 0x1A2Bu);
  EXPECT_EQ(myParseUSBSerial("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(myParseUSBSerial("100000000"), 0xFFFFFFFFu);
  EXPECT_EQ(myParseUSBSerial("0x12"), 0x12u);
  EXPECT_EQ(myParseUSBSerial("12G4"), 0x12u);
  EXPECT_EQ(myParseUSBSerial("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(myParseUSBSerial(""), 0u);
  EXPECT_EQ(myParseUSBSerial("XYZ"), 0u);
}

// The string descriptor reader against one simulated USB device.
class StringDescriptorTest : public DCAMTest {
 protected:
  void Open(const SimCameraPersonality& p) {
    Rig({p});
    io_iterator_t it;
    ASSERT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IOUSBDevice"), &it), 0);
    service_ = IOIteratorNext(it);
    IOObjectRelease(it);
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score;
    ASSERT_EQ(IOCreatePlugInInterfaceForService(service_, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                                &plugIn, &score), 0);
    (*plugIn)->QueryInterface(plugIn, kIOUSBDeviceInterfaceID, (LPVOID*)&dev_);
    IODestroyPlugInInterface(plugIn);
    ASSERT_NE(dev_, nullptr);
  }
  void TearDown() override {
    if (dev_) (*dev_)->Release(dev_);
    if (service_) IOObjectRelease(service_);
    ExpectNothingLeft();
    DCAMTest::TearDown();
  }
  io_service_t service_ = 0;
  IOUSBDeviceRef dev_ = nullptr;
};

TEST_F(StringDescriptorTest, Shapes) {
  auto p = SimUSBPersonality();
  p.rawStringDescriptors[4] = {0, 3};                  // length 0
  p.rawStringDescriptors[5] = {5, 3, 'A', 0, 'B'};     // odd length
  p.rawStringDescriptors[6] = {4, 2, 'A', 0};          // not a string descriptor
  std::vector<UInt16> long127(126, 'x');
  p.rawStringDescriptors[7] = StringDescriptor(long127);  // 254 bytes
  Open(p);

  char buffer[96];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 4, buffer, 80, 0), 0);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 5, buffer, 80, 0), OSStatus(0xE00002E9));
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 6, buffer, 80, 0), OSStatus(0xE00002E9));
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 2, buffer, 1, 0), OSStatus(0xE00002C2));

  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 7, buffer, 80, 0), 0);
  EXPECT_EQ(std::strlen(buffer), 79u);
  for (size_t i = 80; i < sizeof buffer; i++) EXPECT_EQ(buffer[i], 'Z') << "overrun at " << i;

  // The probe and the full read, as the device saw them.
  auto log = cameras_[0]->Log();
  ASSERT_GE(log.size(), 2u);
  const SimLogEntry& probe = log[log.size() - 2];
  const SimLogEntry& full = log.back();
  EXPECT_EQ(probe.setup.bmRequestType, 0x80);
  EXPECT_EQ(probe.setup.bRequest, 6);
  EXPECT_EQ(probe.setup.wValue, 0x0307);
  EXPECT_EQ(probe.setup.wIndex, 0);
  EXPECT_EQ(probe.setup.wLength, 2);
  EXPECT_EQ(full.setup.wLength, 254);
}

TEST_F(StringDescriptorTest, OverrunOnTheProbeIsAccepted) {
  auto p = SimUSBPersonality();
  p.shortStringReadOverruns = true;
  Open(p);
  char buffer[80];
  EXPECT_EQ(myGetUSBStringDescriptor(dev_, 3, buffer, sizeof buffer, 0), 0);
  EXPECT_STREQ(buffer, "1A2B");
}

}  // namespace
