// The serial and HID families of the IOKit layer: the sysfs enumerator on a
// made-up tty class, registry matching and properties, the HID device
// interface over the simulated adapter, and what the default run lists.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/iokit/IOHIDLib.h"
#include "platform/iokit/IOKitLib.h"
#include "platform/iokit/SerialPorts.h"
#include "platform/simcamera/SimBus.h"
#include "platform/simmount/SimMount.h"

namespace {

std::string StringProperty(io_object_t o, const char* key) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  CFTypeRef v = IORegistryEntryCreateCFProperty(o, k, nullptr, 0);
  CFRelease(k);
  if (!v) return "(none)";
  char buffer[256] = "";
  if (CFGetTypeID(v) == CFStringGetTypeID()) CFStringGetCString(CFStringRef(v), buffer, sizeof buffer, kCFStringEncodingUTF8);
  CFRelease(v);
  return buffer;
}

std::vector<std::string> SerialServices(const char* type = "IORS232SerialStream") {
  CFMutableDictionaryRef m = IOServiceMatching("IOSerialBSDClient");
  CFStringRef t = CFStringCreateWithCString(nullptr, type, kCFStringEncodingUTF8);
  CFDictionarySetValue(m, CFSTR("IOSerialBSDClientType"), t);
  CFRelease(t);
  io_iterator_t it = IO_OBJECT_NULL;
  EXPECT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, m, &it), kIOReturnSuccess);
  std::vector<std::string> paths;
  while (io_object_t s = IOIteratorNext(it)) {
    io_name_t cls;
    EXPECT_EQ(IOObjectGetClass(s, cls), kIOReturnSuccess);
    EXPECT_STREQ(cls, "IOSerialBSDClient");
    EXPECT_EQ(StringProperty(s, "IOSerialBSDClientType"), "IORS232SerialStream");
    EXPECT_EQ(StringProperty(s, "IOCalloutDevice"), StringProperty(s, "IODialinDevice"));
    paths.push_back(StringProperty(s, "IODialinDevice"));
    IOObjectRelease(s);
  }
  IOObjectRelease(it);
  return paths;
}

io_service_t FirstHID(SInt32 vendor, SInt32 product) {
  CFMutableDictionaryRef m = IOServiceMatching("IOHIDDevice");
  CFNumberRef v = CFNumberCreate(nullptr, kCFNumberSInt32Type, &vendor);
  CFNumberRef p = CFNumberCreate(nullptr, kCFNumberSInt32Type, &product);
  CFDictionarySetValue(m, CFSTR("VendorID"), v);
  CFDictionarySetValue(m, CFSTR("ProductID"), p);
  CFRelease(v);
  CFRelease(p);
  io_iterator_t it = IO_OBJECT_NULL;
  EXPECT_EQ(IOServiceGetMatchingServices(kIOMasterPortDefault, m, &it), kIOReturnSuccess);
  io_service_t s = IOIteratorNext(it);
  IOObjectRelease(it);
  return s;
}

TEST(SysfsSerialPorts, DeviceBackedTtysOnlyInNameOrder) {
  char tmpl[] = "/tmp/skyloom-tty-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  // With a device behind: UARTs, USB adapters, modems; rfcomm and ircomm
  // have one too but are left out. Without: consoles and pseudo-terminals.
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyACM1", "ttyAMA0", "rfcomm0", "ircomm0", "tty0", "tty1", "ptmx",
                           "console"}) {
    ASSERT_EQ(mkdir((root + "/" + name).c_str(), 0755), 0);
    std::ofstream(root + "/" + name + "/dev") << "4:64\n";
  }
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyACM1", "ttyAMA0", "rfcomm0", "ircomm0"})
    ASSERT_EQ(mkdir((root + "/" + name + "/device").c_str(), 0755), 0);
  // The tty class links to the device's folder, as sysfs does.
  ASSERT_EQ(mkdir((root + "/real-ttyS1").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../serial8250", (root + "/real-ttyS1/device").c_str()), 0);
  ASSERT_EQ(mkdir((root + "/serial8250").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real-ttyS1", (root + "/ttyS1").c_str()), 0);
  // A dangling device link is no device.
  ASSERT_EQ(mkdir((root + "/ttyS9").c_str(), 0755), 0);
  ASSERT_EQ(symlink("../nowhere", (root + "/ttyS9/device").c_str()), 0);

  std::vector<std::string> want = {"/dev/real-ttyS1", "/dev/ttyACM1", "/dev/ttyAMA0", "/dev/ttyS0", "/dev/ttyS1",
                                   "/dev/ttyUSB0"};
  EXPECT_EQ(SysfsSerialPorts(root, "/dev"), want);
  EXPECT_TRUE(SysfsSerialPorts(root + "/missing", "/dev").empty());
  std::string cmd = "rm -rf '" + root + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
}

TEST(SerialFamily, ListsTheInstalledPortsWithTheirProperties) {
  long baseline = SkyloomIOKitLiveObjectCount();
  SimInstallMount({"/dev/ttyUSB0", "/dev/pts/7"}, {});
  EXPECT_EQ(SerialServices(), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/pts/7"}));
  EXPECT_TRUE(SerialServices("IOModemSerialStream").empty());
  EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline);
  SimRemoveMount();
}

TEST(HIDFamily, MatchesOnIdsAndDrivesElements) {
  long baseline = SkyloomIOKitLiveObjectCount();
  auto other = std::make_shared<SimGPUSB>(5, 0x1234, 0x9020);
  auto adapter = std::make_shared<SimGPUSB>(4);
  SimInstallMount({}, {other, adapter});
  EXPECT_EQ(FirstHID(0x134A, 0x1111), IO_OBJECT_NULL);
  io_service_t s = FirstHID(0x134A, 0x9020);
  ASSERT_NE(s, IO_OBJECT_NULL);
  CFTypeRef vid = IORegistryEntryCreateCFProperty(s, CFSTR("VendorID"), nullptr, 0);
  SInt32 v = 0;
  ASSERT_NE(vid, nullptr);
  CFNumberGetValue(CFNumberRef(vid), kCFNumberSInt32Type, &v);
  CFRelease(vid);
  EXPECT_EQ(v, 0x134A);
  io_name_t cls;
  EXPECT_EQ(IOObjectGetClass(s, cls), kIOReturnSuccess);
  EXPECT_STREQ(cls, "IOHIDDevice");

  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score;
  // The USB user client is not a HID device's.
  EXPECT_NE(IOCreatePlugInInterfaceForService(s, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn, &score),
            kIOReturnSuccess);
  ASSERT_EQ(IOCreatePlugInInterfaceForService(s, kIOHIDDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn, &score),
            kIOReturnSuccess);
  IOHIDDeviceInterface** hid = nullptr;
  ASSERT_EQ((*plugIn)->QueryInterface(plugIn, kIOHIDDeviceInterfaceID, reinterpret_cast<LPVOID*>(&hid)), S_OK);
  (*plugIn)->Release(plugIn);
  IOHIDEventStruct event = {};
  event.value = 1;
  EXPECT_EQ((*hid)->setElementValue(hid, 101, &event, 0, nullptr, nullptr, nullptr), kIOReturnNotOpen);
  ASSERT_EQ((*hid)->open(hid, 0), kIOReturnSuccess);
  EXPECT_TRUE(adapter->IsOpen());
  CFArrayRef elements = nullptr;
  ASSERT_EQ((*hid)->copyMatchingElements(hid, nullptr, &elements), kIOReturnSuccess);
  ASSERT_EQ(CFArrayGetCount(elements), 4);
  for (CFIndex i = 0; i < 4; i++) {
    CFTypeRef c = CFDictionaryGetValue(CFDictionaryRef(CFArrayGetValueAtIndex(elements, i)), CFSTR("ElementCookie"));
    SInt32 cookie = 0;
    ASSERT_NE(c, nullptr);
    CFNumberGetValue(CFNumberRef(c), kCFNumberSInt32Type, &cookie);
    EXPECT_EQ(cookie, 100 + i);
  }
  CFRelease(elements);
  event.value = 7;
  EXPECT_EQ((*hid)->setElementValue(hid, 103, &event, 0, nullptr, nullptr, nullptr), kIOReturnSuccess);
  EXPECT_EQ(adapter->Value(3), 7);
  ASSERT_EQ(adapter->Writes().size(), 1u);
  EXPECT_EQ(adapter->Writes()[0].element, 3u);
  EXPECT_EQ((*hid)->close(hid), kIOReturnSuccess);
  EXPECT_FALSE(adapter->IsOpen());
  (*hid)->Release(hid);
  IOObjectRelease(s);
  EXPECT_TRUE(other->Writes().empty());
  EXPECT_EQ(SkyloomIOKitLiveObjectCount(), baseline);
  SimRemoveMount();
}

// With the simulated camera in use, the default lists hold the simulated
// mount's port and adapter beside the host's own serial ports.
TEST(MountDefaults, TheSimulatedCameraBringsTheSimulatedMount) {
  SimInstallRig({SimDefaultColourPersonality()});
  IOKitSetBackends({});
  ASSERT_FALSE(SimMountPinned());
  std::vector<std::string> ports = SerialServices();
  std::string mine = SimDefaultMountPort()->SlavePath();
  EXPECT_NE(std::find(ports.begin(), ports.end(), mine), ports.end());
  for (const std::string& p : SysfsSerialPorts("/sys/class/tty", "/dev"))
    EXPECT_NE(std::find(ports.begin(), ports.end(), p), ports.end()) << p;
  io_service_t s = FirstHID(0x134A, 0x9020);
  EXPECT_NE(s, IO_OBJECT_NULL);
  IOObjectRelease(s);
  SimRemoveRig();
}

}  // namespace
