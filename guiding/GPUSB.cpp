// The GPUSB guide adapter: found by its USB ids among the HID devices,
// opened through the HID device interface, driven by element writes.
#include <cstdio>
#include <cstdlib>

#include "guiding/Guiding.h"

namespace {

constexpr int kMaskElement = 2;
constexpr int kFirstLineElement = 9;
constexpr UInt32 kLastLine = 5;

OSStatus writeElement(GPUSBDevice* d, int element, SInt32 value) {
  IOHIDEventStruct event = {};
  event.elementCookie = d->mCookies[element];
  event.value = value;
  event.longValueSize = 0;
  event.longValue = nullptr;
  return (*d->mInterface)->setElementValue(d->mInterface, d->mCookies[element], &event, 0, nullptr, nullptr,
                                           nullptr);
}

bool isThreeElement(const GPUSBDevice* d) { return d->mElementCount == 3; }

// Per-line devices keep line n at element 9 + n; a device that lists fewer
// elements than that has no such line (its cookie slot was never filled).
bool lineElementExists(const GPUSBDevice* d, UInt32 line) {
  SInt32 filled = d->mElementCount < kGPUSBMaxCookies ? d->mElementCount : kGPUSBMaxCookies;
  return SInt32(kFirstLineElement + line) < filled;
}

IOReturn myCreateHIDDeviceInterface(io_service_t service, IOHIDDeviceInterface*** interface) {
  io_name_t className;
  IOReturn r = IOObjectGetClass(service, className);
  if (r != kIOReturnSuccess) {
    fprintf(stderr, "IOObjectGetClass failed 0x%X. %d", unsigned(r), int(r));
    return r;
  }
  IOCFPlugInInterface** plugIn = nullptr;
  SInt32 score = 0;
  r = IOCreatePlugInInterfaceForService(service, kIOHIDDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn,
                                        &score);
  if (r != kIOReturnSuccess) {
    fprintf(stderr, "IOCreatePlugInInterfaceForService faled 0x%X. %d", unsigned(r), int(r));
    return r;
  }
  HRESULT h = (*plugIn)->QueryInterface(plugIn, kIOHIDDeviceInterfaceID, reinterpret_cast<LPVOID*>(interface));
  if (h != S_OK || !*interface) {
    *interface = nullptr;
    fprintf(stderr, "No matching HID class devices found. %d \n", int(h));
    r = -1;
  }
  (*plugIn)->Release(plugIn);
  return r;
}

// The "ElementCookie" of each of the first elements, at most 17; the number
// of elements the device lists goes to the record whatever was read.
IOReturn myGetAllHidCookies(GPUSBDevice* d) {
  CFArrayRef elements = nullptr;
  IOReturn r = (*d->mInterface)->copyMatchingElements(d->mInterface, nullptr, &elements);
  if (r != kIOReturnSuccess || !elements) {
    fprintf(stderr, "copyMatchingElements failed with error %d\n", int(r));
    return r != kIOReturnSuccess ? r : kIOReturnError;
  }
  d->mElementCount = SInt32(CFArrayGetCount(elements));
  int read = 0;
  for (CFIndex i = 0; i < d->mElementCount && i < kGPUSBMaxCookies; i++) {
    CFTypeRef element = CFArrayGetValueAtIndex(elements, i);
    if (!element || CFGetTypeID(element) != CFDictionaryGetTypeID()) continue;
    CFTypeRef cookie = CFDictionaryGetValue(CFDictionaryRef(element), CFSTR("ElementCookie"));
    SInt32 value = 0;
    if (cookie && CFGetTypeID(cookie) == CFNumberGetTypeID() &&
        CFNumberGetValue(CFNumberRef(cookie), kCFNumberSInt32Type, &value)) {
      d->mCookies[i] = UInt32(value);
      read++;
    }
  }
  CFRelease(elements);
  return read > 0 ? kIOReturnSuccess : kIOReturnNotFound;
}

void releaseRecord(GPUSBDevice* d) {
  if (d->mInterface) (*d->mInterface)->Release(d->mInterface);
  if (d->mService) IOObjectRelease(d->mService);
  free(d);
}

}  // namespace

GPUSBDevice* myOpenGPUSBDevice() {
  mach_port_t master = 0;
  kern_return_t kr = IOMasterPort(0, &master);
  if (kr != KERN_SUCCESS) {
    fprintf(stderr, "IOMasterPort Failed 0x%X %d\n", unsigned(kr), int(kr));
    return nullptr;
  }
  CFMutableDictionaryRef matching = IOServiceMatching("IOHIDDevice");
  if (!matching) return nullptr;
  SInt32 vendor = kGPUSBVendorID, product = kGPUSBProductID;
  CFNumberRef n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &vendor);
  if (!n) {
    fprintf(stderr, "CFNumberCreate1 Failed \n");
    CFRelease(matching);
    return nullptr;
  }
  CFDictionarySetValue(matching, CFSTR("VendorID"), n);
  CFRelease(n);
  n = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &product);
  if (!n) {
    fprintf(stderr, "CFNumberCreate2 Failed \n");
    CFRelease(matching);
    return nullptr;
  }
  CFDictionarySetValue(matching, CFSTR("ProductID"), n);
  CFRelease(n);
  io_iterator_t iterator = IO_OBJECT_NULL;
  if (IOServiceGetMatchingServices(master, matching, &iterator) != kIOReturnSuccess) return nullptr;
  io_service_t service = IOIteratorNext(iterator);
  IOObjectRelease(iterator);
  if (service == IO_OBJECT_NULL) return nullptr;

  auto* d = static_cast<GPUSBDevice*>(calloc(1, sizeof(GPUSBDevice)));
  if (!d) {
    fprintf(stderr, "malloc pGPUSBPtr Failed\n");
    IOObjectRelease(service);
    return nullptr;
  }
  d->mService = service;
  IOReturn r = myCreateHIDDeviceInterface(service, &d->mInterface);
  if (r != kIOReturnSuccess) {
    fprintf(stderr, "myCreateHIDDeviceInterface GPUSB Failed 0x%X %d\n", unsigned(r), int(r));
    releaseRecord(d);
    return nullptr;
  }
  r = (*d->mInterface)->open(d->mInterface, 0);
  if (r != kIOReturnSuccess) {
    fprintf(stderr, "open GPUSB Failed 0x%X %d\n", unsigned(r), int(r));
    releaseRecord(d);
    return nullptr;
  }
  d->mOpen = 1;
  r = myGetAllHidCookies(d);
  if (r != kIOReturnSuccess) {
    if (r == kIOReturnNotFound) fprintf(stderr, "myGetAllHidCookies Failed 0x%X %d\n", unsigned(r), int(r));
    (*d->mInterface)->close(d->mInterface);
    d->mOpen = 0;
    releaseRecord(d);
    return nullptr;
  }
  // Start state: status line 5 on, everything else off.
  if (isThreeElement(d)) {
    d->mLineMask = 0x20;
    writeElement(d, kMaskElement, SInt32(d->mLineMask));
  } else {
    for (UInt32 line = 0; line <= 4; line++) mySetGPUSBDeviceValue(d, line, 0);
    mySetGPUSBDeviceValue(d, 5, 1);
  }
  return d;
}

OSStatus myCloseGPUSB(GPUSBDevice* d) {
  if (!d) return noErr;
  if (d->mInterface && d->mOpen) {
    // Stop state: the guide lines off, status line 4 on (5 stays on).
    if (isThreeElement(d)) {
      d->mLineMask = 0x30;
      writeElement(d, kMaskElement, SInt32(d->mLineMask));
    } else {
      for (UInt32 line = 0; line <= 3; line++) mySetGPUSBDeviceValue(d, line, 0);
      mySetGPUSBDeviceValue(d, 4, 1);
    }
    (*d->mInterface)->close(d->mInterface);
    d->mOpen = 0;
  }
  releaseRecord(d);
  return noErr;
}

OSStatus mySetGPUSBDeviceValue(GPUSBDevice* d, UInt32 line, UInt32 value) {
  if (!d || line > kLastLine || !d->mInterface || !d->mOpen) return paramErr;
  if (isThreeElement(d)) {
    UInt32 bit = 1u << line;
    d->mLineMask = value == 1 ? (d->mLineMask | bit) : (d->mLineMask & (255 - bit));
    return writeElement(d, kMaskElement, SInt32(d->mLineMask));
  }
  if (!lineElementExists(d, line)) return paramErr;
  return writeElement(d, int(kFirstLineElement + line), SInt32(value));
}

OSStatus mySetEightBitGPUSBDeviceValue(GPUSBDevice* d, UInt32 mask) {
  if (!d || !d->mInterface || !d->mOpen || !isThreeElement(d)) return paramErr;
  return writeElement(d, kMaskElement, SInt32(mask));
}
