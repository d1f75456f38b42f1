// Translations between the Linux hardware interfaces (libusb-1.0, the
// kernel's firewire-cdev) and the IOKit layer: status codes, registry
// properties of real devices, descriptors, and the placement of received
// isochronous packets into the receive slots the packet handler reads.
//
// Everything here is plain computation on bytes and numbers, so it is tested
// without hardware.
#pragma once
#include <cstddef>
#include <vector>

#include "platform/iokit/ConfigROM.h"
#include "platform/iokit/IOKitBackend.h"

// IOKit codes only the hardware back ends produce.
constexpr IOReturn kIOFireWireBusReset = (IOReturn)0xE0008001;
constexpr IOReturn kIOFireWireResponseBase = (IOReturn)0xE0008010;  // + the response code
constexpr IOReturn kIOReturnNotPrivilegedStatus = (IOReturn)0xE00002C1;

// ---- libusb ----
// A finished transfer's status (enum libusb_transfer_status).
IOReturn LibUSBTransferStatusToIOReturn(int transferStatus);
// The result of a synchronous libusb call (enum libusb_error; 0 or a
// positive byte count is success).
IOReturn LibUSBErrorToIOReturn(int libusbError);
// The result of claiming an interface: busy or refused means another program
// holds the camera.
IOReturn LibUSBClaimErrorToIOReturn(int libusbError);
// libusb has one time-out for a control transfer: the longer of the two (0 =
// none when both are 0).
unsigned LibUSBTimeout(UInt32 noDataTimeout, UInt32 completionTimeout);

// ---- firewire-cdev ----
// The response code of an FW_CDEV_EVENT_RESPONSE (RCODE_*).
IOReturn FWCdevRcodeToIOReturn(UInt32 rcode);
// The kernel's speed codes (SCODE_100..SCODE_1600) to IOKit speed codes; the
// numbering is the same, anything beyond is clamped to S1600.
UInt32 FWCdevSpeedToIOKit(int scode);

// The channel candidates of an isochronous allocation: IOKit masks give
// channel n as bit 63 - n, firewire-cdev as bit n.
UInt64 FWCdevChannelsFromIOKitMask(UInt64 iokitMask);
// Bandwidth allocation units (the time of one quadlet at S1600) for one
// packet of `payloadBytes` a cycle at IOKit speed `speed`: the payload and
// three quadlets of header and CRCs, plus the arbitration overhead of an
// unoptimised bus (512 units).
UInt32 FWCdevBandwidthUnits(UInt32 payloadBytes, UInt32 speed);

// ---- registry properties of real devices ----
// The units of a configuration ROM (host-order quadlets, as the kernel and
// the simulator hand them out): GUID from the bus information block,
// Unit_Spec_ID and Unit_SW_Version from each unit directory. `directory` is
// the quadlet index of the unit directory.
struct ConfigROMUnit {
  UInt32 directory = 0;
  bool hasSpecID = false;
  UInt32 unitSpecID = 0;
  bool hasSWVersion = false;
  UInt32 unitSWVersion = 0;
};
struct ConfigROMIdentity {
  bool hasGUID = false;
  UInt64 guid = 0;
  std::vector<ConfigROMUnit> units;
};
ConfigROMIdentity ConfigROMParseIdentity(const std::vector<UInt32>& rom);
// The registry entry of one unit; `key` is the back end's name for it.
IOKitFireWireUnitInfo FireWireUnitInfoFrom(const ConfigROMIdentity& identity, const ConfigROMUnit& unit,
                                           IOKitBackendKey key);
// The registry entry of a USB device from its device descriptor bytes; false
// when they are not a device descriptor.
bool USBDeviceInfoFrom(const std::vector<UInt8>& deviceDescriptor, IOKitBackendKey key, IOKitUSBDeviceInfo* info);

// ---- isochronous reception ----
// Receive memory as the packet handler reads it: packet slot j of a segment
// starts slotStride x j bytes after the segment base and holds the 4-byte
// big-endian isochronous header, then the payload; one time-stamp word per
// segment holds (seconds << 25) | (cycle << 12).
struct IsoSlotLayout {
  UInt8* segmentBase = nullptr;
  size_t slotStride = 16384;
  size_t slotCount = 0;        // slots in the segment
  UInt32* timeStamp = nullptr;  // the segment's time-stamp word (may be null)
};
// One FW_CDEV_EVENT_ISO_INTERRUPT of a receive context: `headers` holds
// headerLength bytes, headerSize bytes a packet (the big-endian iso header,
// then a big-endian time-stamp quadlet when headerSize >= 8); packet i's
// payload is at payload + i x payloadStride in the mmap'ed buffer, which holds
// payloadBytes bytes. Packets are written to slots firstSlot, firstSlot + 1,
// ...; a payload is cut at its slot, at the payload stride and at the
// buffer's end, and the header is kept as received (the handler checks
// lengths). The time stamp comes from the last packet (or from `eventCycle`
// when the headers carry none). Returns the packets written.
size_t IsoInterruptToSlots(const UInt8* headers, size_t headerLength, size_t headerSize, UInt32 eventCycle,
                           const UInt8* payload, size_t payloadBytes, size_t payloadStride, size_t firstSlot,
                           const IsoSlotLayout& layout);
// The segment time-stamp word from a cdev cycle value (3-bit seconds, 13-bit
// cycle count in its low 16 bits).
UInt32 IsoTimeStampWord(UInt32 cdevCycle);

// Received packets waiting for the DCL engine, which takes one a bus cycle.
// Each keeps the bus time the controller stamped it with on arrival, so the
// segment it ends is timed by the bus and not by the moment the engine came
// round to take it. Not thread-safe: the back end holds its own lock.
class IsoPacketQueue {
 public:
  // Room for `capacity` packets of at most `payloadRoom` payload bytes each.
  IsoPacketQueue(size_t payloadRoom, size_t capacity);
  // The packets of one FW_CDEV_EVENT_ISO_INTERRUPT, headers as for
  // IsoInterruptToSlots (`eventCycle` stamps them when the headers carry no
  // time stamp). Packet i's payload is chunk (firstChunk + i) mod chunkCount
  // of the receive buffer, chunkStride bytes each. Packets that find the
  // queue full are dropped, as hardware overruns a late reader. Returns the
  // packets queued.
  size_t PushInterrupt(const UInt8* headers, size_t headerLength, size_t headerSize, UInt32 eventCycle,
                       const UInt8* buffer, size_t chunkCount, size_t chunkStride, size_t firstChunk);
  // The oldest packet into `slot` (big-endian header quadlet, then the
  // payload, cut to `capacity`) and its segment time-stamp word into
  // *timeStamp; the bytes written, or 0 (nothing touched) when none waits.
  UInt32 Pop(UInt8* slot, UInt32 capacity, UInt32* timeStamp);
  size_t Size() const { return count_; }
  UInt64 Dropped() const { return dropped_; }

 private:
  size_t slotBytes_, capacity_;
  size_t head_ = 0, count_ = 0;
  UInt64 dropped_ = 0;
  std::vector<UInt8> packets_;
  std::vector<UInt32> stamps_;
};
