// The table of operations behind the IOKit layer.
//
// The layer (IOKitLib.h, IOFireWireLib.h, IOUSBLib.h) owns registry objects,
// plug-in interfaces, exclusive-access bookkeeping and the parsing of
// configuration ROMs and USB descriptors. A back end only moves bytes: it
// lists the units and devices on its bus, hands out raw ROM quadlets and
// descriptors, and performs quadlet transactions and USB transfers. The
// simulated camera is the first back end; libusb and firewire-cdev back ends
// fill the same table.
//
// Back ends are called from any thread (main, I/O, guide pulses) and must be
// thread-safe. Quadlets are host-order values; a back end converts from the
// bus's big-endian wire order.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/iokit/IOReturn.h"

// A back end's own name for one unit or device; stable while it stays plugged.
typedef UInt64 IOKitBackendKey;

struct IOKitFireWireUnitInfo {
  IOKitBackendKey key = 0;
  bool hasGUID = true;
  UInt64 guid = 0;
  UInt32 unitSpecID = 0;
  bool hasUnitSWVersion = false;
  UInt32 unitSWVersion = 0;
};

struct IOKitUSBDeviceInfo {
  IOKitBackendKey key = 0;
  UInt16 idVendor = 0;
  UInt16 idProduct = 0;
};

// A serial port (an RS-232 stream); its device node is what opens it.
struct IOKitSerialPortInfo {
  IOKitBackendKey key = 0;
  std::string dialinDevice;
};

struct IOKitHIDDeviceInfo {
  IOKitBackendKey key = 0;
  UInt32 vendorID = 0;
  UInt32 productID = 0;
};

// One element of a HID device, in the device's own order.
struct IOKitHIDElementInfo {
  bool hasCookie = true;
  UInt32 cookie = 0;
};

// Steps of the layer itself that a back end may refuse (the simulator's fault
// injection); real back ends accept them all.
enum class IOKitStep {
  FireWirePlugIn,        // IOCreatePlugInInterfaceForService on a unit
  FireWireDeviceV3,      // QueryInterface for the newer device interface
  FireWireDeviceV2,      // QueryInterface for the older device interface
  FireWireConfigDirectory,
  FireWireCallbackDispatcher,
  FireWireIsochDispatcher,
  USBDevicePlugIn,
  USBDeviceInterface,
  USBInterfaceIterator,
  USBInterfacePlugIn,
  USBInterfaceInterface,
  USBGetPipeProperties,
  USBAsyncEventSource,
  HIDObjectClass,        // IOObjectGetClass on a HID device
  HIDPlugIn,             // IOCreatePlugInInterfaceForService on a HID device
  HIDDeviceInterface,    // QueryInterface for the HID device interface
};

// A USB setup packet as it travels on the wire (values host order).
struct IOKitUSBSetup {
  UInt8 bmRequestType = 0;
  UInt8 bRequest = 0;
  UInt16 wValue = 0;
  UInt16 wIndex = 0;
  UInt16 wLength = 0;
};

class IOKitBackend {
 public:
  virtual ~IOKitBackend() = default;
  virtual const char* Name() const = 0;

  // ---- enumeration (registry order) ----
  virtual std::vector<IOKitFireWireUnitInfo> FireWireUnits() = 0;
  virtual std::vector<IOKitUSBDeviceInfo> USBDevices() = 0;
  virtual IOReturn Preflight(IOKitBackendKey key, IOKitStep step) {
    (void)key, (void)step;
    return kIOReturnSuccess;
  }

  // ---- FireWire ----
  // Open answers kIOReturnExclusiveAccess when another program holds the unit.
  virtual IOReturn FWOpen(IOKitBackendKey key) = 0;
  virtual void FWClose(IOKitBackendKey key) = 0;
  // The whole configuration ROM as host-order quadlets, and the quadlet index
  // of this unit's unit directory in it.
  virtual IOReturn FWConfigROM(IOKitBackendKey key, std::vector<UInt32>* rom,
                               UInt32* unitDirectoryIndex) = 0;
  virtual IOReturn FWReadQuadlet(IOKitBackendKey key, UInt16 addressHi, UInt32 addressLo,
                                 UInt32* value) = 0;
  virtual IOReturn FWWriteQuadlet(IOKitBackendKey key, UInt16 addressHi, UInt32 addressLo,
                                  UInt32 value) = 0;
  virtual IOReturn FWBusGeneration(IOKitBackendKey key, UInt32* generation) = 0;
  // IOKit speed codes: 0 S100, 1 S200, 2 S400, 3 S800, 4 S1600.
  virtual IOReturn FWSpeedToNode(IOKitBackendKey key, UInt32 generation, UInt32* speed) = 0;
  // Isochronous resources at the bus's resource manager: a channel from the
  // mask (bit 63 - n = channel n) and bandwidth for packets of `packetSize`.
  virtual IOReturn FWAllocateIsochChannel(IOKitBackendKey key, UInt64 channelMask, UInt32 packetSize,
                                          UInt32 speed, UInt32* channel) {
    (void)key, (void)channelMask, (void)packetSize, (void)speed, (void)channel;
    return kIOReturnUnsupported;
  }
  virtual void FWReleaseIsochChannel(IOKitBackendKey key, UInt32 channel) { (void)key, (void)channel; }
  // One bus cycle of reception on `channel`: the packet (big-endian header
  // quadlet, then payload, cut to `capacity`) written to `slot`; its length,
  // or 0 for a cycle without a packet. `timeStamp` holds the engine's own bus
  // time of this cycle as a segment time-stamp word ((seconds mod 8) << 25 |
  // cycle << 12); a back end that knows when the packet crossed the bus
  // writes that time instead.
  virtual UInt32 FWIsochCycle(IOKitBackendKey key, UInt32 channel, UInt8* slot, UInt32 capacity,
                              UInt32* timeStamp) {
    (void)key, (void)channel, (void)slot, (void)capacity, (void)timeStamp;
    return 0;
  }

  // ---- USB ----
  // Open answers kIOReturnExclusiveAccess when another program holds the device.
  virtual IOReturn USBOpen(IOKitBackendKey key) = 0;
  virtual void USBClose(IOKitBackendKey key) = 0;
  // Cached descriptors, as the host read them at enumeration.
  virtual IOReturn USBDeviceDescriptor(IOKitBackendKey key, std::vector<UInt8>* bytes) = 0;
  virtual IOReturn USBConfigDescriptor(IOKitBackendKey key, UInt8 index,
                                       std::vector<UInt8>* bytes) = 0;
  virtual IOReturn USBSetConfiguration(IOKitBackendKey key, UInt8 configurationValue) = 0;
  virtual IOReturn USBClaimInterface(IOKitBackendKey key, UInt8 interfaceNumber) = 0;
  virtual void USBReleaseInterface(IOKitBackendKey key, UInt8 interfaceNumber) = 0;
  virtual IOReturn USBSetAlternateSetting(IOKitBackendKey key, UInt8 interfaceNumber,
                                          UInt8 alternateSetting) = 0;
  // A control transfer on the default pipe. data holds wLength bytes; lenDone
  // receives the bytes moved. Time-outs in ms (0 = none).
  virtual IOReturn USBControl(IOKitBackendKey key, const IOKitUSBSetup& setup, void* data,
                              UInt32* lenDone, UInt32 noDataTimeout,
                              UInt32 completionTimeout) = 0;
  // Clears a halt on both ends of an endpoint (address 0 = the default pipe).
  virtual IOReturn USBClearStall(IOKitBackendKey key, UInt8 endpointAddress) = 0;
  // Bulk IN: queue one transfer into `buffer`; `done` is called once, from
  // any thread, with the status and the bytes moved (kIOReturnAborted after
  // an abort). The buffer stays the caller's until then.
  virtual IOReturn USBBulkReadAsync(IOKitBackendKey key, UInt8 endpointAddress, void* buffer, UInt32 size,
                                    std::function<void(IOReturn, UInt32)> done) {
    (void)key, (void)endpointAddress, (void)buffer, (void)size, (void)done;
    return kIOReturnUnsupported;
  }
  // Completes the endpoint's outstanding transfers with kIOReturnAborted
  // before it returns (address 0: every endpoint).
  virtual IOReturn USBAbortPipe(IOKitBackendKey key, UInt8 endpointAddress) {
    (void)key, (void)endpointAddress;
    return kIOReturnSuccess;
  }
  // 0, or kIOUSBPipeStalled while the endpoint is halted.
  virtual IOReturn USBPipeStatus(IOKitBackendKey key, UInt8 endpointAddress) {
    (void)key, (void)endpointAddress;
    return kIOReturnSuccess;
  }

  // ---- serial ports ----
  virtual std::vector<IOKitSerialPortInfo> SerialPorts() { return {}; }

  // ---- HID devices ----
  virtual std::vector<IOKitHIDDeviceInfo> HIDDevices() { return {}; }
  virtual IOReturn HIDOpen(IOKitBackendKey key, UInt32 options) {
    (void)key, (void)options;
    return kIOReturnUnsupported;
  }
  virtual void HIDClose(IOKitBackendKey key) { (void)key; }
  virtual IOReturn HIDElements(IOKitBackendKey key, std::vector<IOKitHIDElementInfo>* elements) {
    (void)key, (void)elements;
    return kIOReturnUnsupported;
  }
  // Sets one element's value (an output report on the wire).
  virtual IOReturn HIDSetElementValue(IOKitBackendKey key, UInt32 cookie, SInt32 value) {
    (void)key, (void)cookie, (void)value;
    return kIOReturnUnsupported;
  }
};

// A back end of a bus without USB cameras: every USB operation answers that
// the device does not exist.
class IOKitNoUSBBackend : public IOKitBackend {
 public:
  std::vector<IOKitUSBDeviceInfo> USBDevices() override { return {}; }
  IOReturn USBOpen(IOKitBackendKey) override { return kIOReturnNoDevice; }
  void USBClose(IOKitBackendKey) override {}
  IOReturn USBDeviceDescriptor(IOKitBackendKey, std::vector<UInt8>*) override { return kIOReturnNoDevice; }
  IOReturn USBConfigDescriptor(IOKitBackendKey, UInt8, std::vector<UInt8>*) override { return kIOReturnNoDevice; }
  IOReturn USBSetConfiguration(IOKitBackendKey, UInt8) override { return kIOReturnNoDevice; }
  IOReturn USBClaimInterface(IOKitBackendKey, UInt8) override { return kIOReturnNoDevice; }
  void USBReleaseInterface(IOKitBackendKey, UInt8) override {}
  IOReturn USBSetAlternateSetting(IOKitBackendKey, UInt8, UInt8) override { return kIOReturnNoDevice; }
  IOReturn USBControl(IOKitBackendKey, const IOKitUSBSetup&, void*, UInt32* lenDone, UInt32, UInt32) override {
    if (lenDone) *lenDone = 0;
    return kIOReturnNoDevice;
  }
  IOReturn USBClearStall(IOKitBackendKey, UInt8) override { return kIOReturnNoDevice; }
};

// A back end that serves no cameras (serial ports, HID devices): every
// camera operation answers that the device does not exist.
class IOKitNoCameraBackend : public IOKitNoUSBBackend {
 public:
  std::vector<IOKitFireWireUnitInfo> FireWireUnits() override { return {}; }
  IOReturn FWOpen(IOKitBackendKey) override { return kIOReturnNoDevice; }
  void FWClose(IOKitBackendKey) override {}
  IOReturn FWConfigROM(IOKitBackendKey, std::vector<UInt32>*, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWReadQuadlet(IOKitBackendKey, UInt16, UInt32, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWWriteQuadlet(IOKitBackendKey, UInt16, UInt32, UInt32) override { return kIOReturnNoDevice; }
  IOReturn FWBusGeneration(IOKitBackendKey, UInt32*) override { return kIOReturnNoDevice; }
  IOReturn FWSpeedToNode(IOKitBackendKey, UInt32, UInt32*) override { return kIOReturnNoDevice; }
};

// The back ends the layer asks, in order. With none installed the layer uses
// IOKitDefaultBackends(): the real cameras of the host when it has any, else
// the simulated camera's rig.
void IOKitSetBackends(std::vector<IOKitBackend*> backends);
std::vector<IOKitBackend*> IOKitGetBackends();
std::vector<IOKitBackend*> IOKitDefaultBackends();
