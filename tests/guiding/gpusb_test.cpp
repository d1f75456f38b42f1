// The GPUSB adapter on the simulated HID back end: start and stop states of
// both layouts, line writes, refusals, and every failure of the HID road.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "guiding/Guiding.h"
#include "platform/iokit/IOKitLib.h"
#include "platform/simmount/SimMount.h"

namespace {

using Writes = std::vector<std::pair<UInt32, SInt32>>;  // element, value

Writes ElementWrites(SimGPUSB& adapter) {
  Writes w;
  for (const SimHIDWrite& x : adapter.Writes()) {
    EXPECT_EQ(x.cookie, 100 + x.element);
    w.push_back({x.element, x.value});
  }
  adapter.ClearWrites();
  return w;
}

class GPUSBTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = SkyloomIOKitLiveObjectCount(); }
  void TearDown() override {
    SimRemoveMount();
    EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline_);
  }
  std::shared_ptr<SimGPUSB> Install(UInt32 elements) {
    auto a = std::make_shared<SimGPUSB>(elements);
    SimInstallMount({}, {a});
    return a;
  }
  long baseline_ = 0;
};

TEST_F(GPUSBTest, ThreeElementDeviceDrivesOneMask) {
  auto a = Install(3);
  GPUSBDevice* d = myOpenGPUSBDevice();
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(a->IsOpen());
  EXPECT_EQ(d->mElementCount, 3);
  EXPECT_EQ(ElementWrites(*a), (Writes{{2, 0x20}}));
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 1, 1), noErr);
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 2, 1), noErr);
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 1, 0), noErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{2, 0x22}, {2, 0x26}, {2, 0x24}}));
  EXPECT_EQ(d->mLineMask, 0x24u);
  // The whole mask goes out as given; the stored mask is the caller's.
  EXPECT_EQ(mySetEightBitGPUSBDeviceValue(d, 0x21), noErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{2, 0x21}}));
  EXPECT_EQ(d->mLineMask, 0x24u);
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 6, 1), paramErr);
  EXPECT_EQ(myCloseGPUSB(d), noErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{2, 0x30}}));
  EXPECT_FALSE(a->IsOpen());
}

TEST_F(GPUSBTest, SeventeenElementDeviceHasOneElementPerLine) {
  auto a = Install(17);
  GPUSBDevice* d = myOpenGPUSBDevice();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{9, 0}, {10, 0}, {11, 0}, {12, 0}, {13, 0}, {14, 1}}));
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 3, 1), noErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{12, 1}}));
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 6, 1), paramErr);
  EXPECT_EQ(mySetEightBitGPUSBDeviceValue(d, 0x20), paramErr);
  EXPECT_TRUE(ElementWrites(*a).empty());
  // A closed interface refuses every line.
  d->mOpen = 0;
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 0, 1), paramErr);
  d->mOpen = 1;
  EXPECT_EQ(myCloseGPUSB(d), noErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{9, 0}, {10, 0}, {11, 0}, {12, 0}, {13, 1}}));
  EXPECT_EQ(a->Value(14), 1);  // line 5 stays on from open
  EXPECT_EQ(mySetGPUSBDeviceValue(nullptr, 0, 1), paramErr);
  EXPECT_EQ(myCloseGPUSB(nullptr), noErr);
}

TEST_F(GPUSBTest, LinesPastTheDevicesElementsAreRefused) {
  // Twelve elements: lines 0 to 2 are elements 9 to 11; line 3 would be 12.
  auto a = Install(12);
  GPUSBDevice* d = myOpenGPUSBDevice();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{9, 0}, {10, 0}, {11, 0}}));
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 2, 1), noErr);
  EXPECT_EQ(mySetGPUSBDeviceValue(d, 3, 1), paramErr);
  EXPECT_EQ(ElementWrites(*a), (Writes{{11, 1}}));
  myCloseGPUSB(d);
}

TEST_F(GPUSBTest, NoAdapterOrAnotherDevice) {
  SimInstallMount({}, {});
  EXPECT_EQ(myOpenGPUSBDevice(), nullptr);
  auto other = std::make_shared<SimGPUSB>(3, 0x134A, 0x9021);
  SimInstallMount({}, {other});
  EXPECT_EQ(myOpenGPUSBDevice(), nullptr);
  EXPECT_TRUE(other->Writes().empty());
}

TEST_F(GPUSBTest, EachFailureOfTheHIDRoadPrintsItsLineAndGivesNull) {
  struct Case {
    SimHIDFault fault;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {SimHIDFault::ObjectClass, {"IOObjectGetClass failed 0x", "myCreateHIDDeviceInterface GPUSB Failed 0x"}},
      {SimHIDFault::PlugIn,
       {"IOCreatePlugInInterfaceForService faled 0x", "myCreateHIDDeviceInterface GPUSB Failed 0x"}},
      {SimHIDFault::DeviceInterface,
       {"No matching HID class devices found. ", "myCreateHIDDeviceInterface GPUSB Failed 0xFFFFFFFF -1\n"}},
      {SimHIDFault::Open, {"open GPUSB Failed 0x"}},
      {SimHIDFault::CopyElements, {"copyMatchingElements failed with error "}},
      {SimHIDFault::NoCookies, {"myGetAllHidCookies Failed 0x"}},
  };
  for (const Case& c : cases) {
    auto a = Install(17);
    a->SetFault(c.fault);
    testing::internal::CaptureStderr();
    GPUSBDevice* d = myOpenGPUSBDevice();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(d, nullptr) << int(c.fault);
    for (const std::string& line : c.lines) EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_FALSE(a->IsOpen()) << int(c.fault);
    EXPECT_TRUE(a->Writes().empty());
    EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline_) << int(c.fault);
    // The same adapter opens once the fault is gone.
    a->SetFault(SimHIDFault::None);
    d = myOpenGPUSBDevice();
    ASSERT_NE(d, nullptr);
    myCloseGPUSB(d);
  }
}

}  // namespace
