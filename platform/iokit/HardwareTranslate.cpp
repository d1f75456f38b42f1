#include "platform/iokit/HardwareTranslate.h"

#include <libusb.h>
#include <linux/firewire-constants.h>

#include <algorithm>
#include <cstring>

#include "platform/iokit/USBDescriptors.h"

IOReturn LibUSBTransferStatusToIOReturn(int transferStatus) {
  switch (transferStatus) {
    case LIBUSB_TRANSFER_COMPLETED: return kIOReturnSuccess;
    case LIBUSB_TRANSFER_STALL: return kIOUSBPipeStalled;
    case LIBUSB_TRANSFER_CANCELLED: return kIOReturnAborted;
    case LIBUSB_TRANSFER_OVERFLOW: return kIOReturnOverrun;
    case LIBUSB_TRANSFER_TIMED_OUT: return kIOUSBTransactionTimeout;
    case LIBUSB_TRANSFER_NO_DEVICE: return kIOReturnNoDevice;
    default: return kIOReturnError;
  }
}

IOReturn LibUSBErrorToIOReturn(int libusbError) {
  if (libusbError >= 0) return kIOReturnSuccess;
  switch (libusbError) {
    case LIBUSB_ERROR_PIPE: return kIOUSBPipeStalled;
    case LIBUSB_ERROR_TIMEOUT: return kIOUSBTransactionTimeout;
    case LIBUSB_ERROR_OVERFLOW: return kIOReturnOverrun;
    case LIBUSB_ERROR_NO_DEVICE: return kIOReturnNoDevice;
    case LIBUSB_ERROR_BUSY: return kIOReturnBusy;
    case LIBUSB_ERROR_ACCESS: return kIOReturnNotPrivilegedStatus;
    case LIBUSB_ERROR_INVALID_PARAM: return kIOReturnBadArgument;
    case LIBUSB_ERROR_NOT_FOUND: return kIOReturnNotFound;
    case LIBUSB_ERROR_NO_MEM: return kIOReturnNoMemory;
    case LIBUSB_ERROR_NOT_SUPPORTED: return kIOReturnUnsupported;
    case LIBUSB_ERROR_INTERRUPTED: return kIOReturnAborted;
    default: return kIOReturnError;
  }
}

IOReturn LibUSBClaimErrorToIOReturn(int libusbError) {
  if (libusbError == LIBUSB_ERROR_BUSY || libusbError == LIBUSB_ERROR_ACCESS) return kIOReturnExclusiveAccess;
  return LibUSBErrorToIOReturn(libusbError);
}

unsigned LibUSBTimeout(UInt32 noDataTimeout, UInt32 completionTimeout) {
  return std::max(noDataTimeout, completionTimeout);
}

IOReturn FWCdevRcodeToIOReturn(UInt32 rcode) {
  switch (rcode) {
    case RCODE_COMPLETE: return kIOReturnSuccess;
    case RCODE_CONFLICT_ERROR:
    case RCODE_DATA_ERROR:
    case RCODE_TYPE_ERROR:
    case RCODE_ADDRESS_ERROR: return IOReturn(UInt32(kIOFireWireResponseBase) + rcode);
    case RCODE_CANCELLED: return kIOReturnAborted;
    case RCODE_BUSY: return kIOReturnBusy;
    case RCODE_GENERATION: return kIOFireWireBusReset;
    case RCODE_NO_ACK: return kIOReturnNotResponding;
    case RCODE_SEND_ERROR:
    default: return kIOReturnError;
  }
}

UInt64 FWCdevChannelsFromIOKitMask(UInt64 iokitMask) {
  UInt64 channels = 0;
  for (int n = 0; n < 64; n++)
    if (iokitMask >> (63 - n) & 1) channels |= UInt64(1) << n;
  return channels;
}

UInt32 FWCdevBandwidthUnits(UInt32 payloadBytes, UInt32 speed) {
  const UInt64 quadlets = (UInt64(payloadBytes) + 3) / 4 + 3;
  return UInt32(std::min<UInt64>(512 + quadlets * (16u >> std::min<UInt32>(speed, 4)), 0xFFFFFFFFu));
}

UInt32 FWCdevSpeedToIOKit(int scode) { return UInt32(std::clamp(scode, 0, 4)); }

ConfigROMIdentity ConfigROMParseIdentity(const std::vector<UInt32>& rom) {
  ConfigROMIdentity id;
  if (rom.empty()) return id;
  const UInt32 infoLength = rom[0] >> 24;
  // A minimal ROM (info length 1) holds only a vendor id: no GUID, no units.
  if (infoLength < 4 || rom.size() < 5 || rom[1] != 0x31333934) return id;  // "1394"
  id.hasGUID = true;
  id.guid = UInt64(rom[3]) << 32 | rom[4];
  std::vector<ConfigROMEntry> root;
  if (!ConfigROMDirectory(rom, 1 + infoLength, &root)) return id;
  for (const ConfigROMEntry& e : root) {
    if (e.keyType != 3 || e.keyId != 0x11) continue;  // unit directory
    ConfigROMUnit unit;
    unit.directory = e.Target();
    std::vector<ConfigROMEntry> entries;
    if (!ConfigROMDirectory(rom, unit.directory, &entries)) continue;
    for (const ConfigROMEntry& u : entries) {
      if (u.keyType != 0) continue;
      if (u.keyId == 0x12 && !unit.hasSpecID) {
        unit.hasSpecID = true;
        unit.unitSpecID = u.value;
      } else if (u.keyId == 0x13 && !unit.hasSWVersion) {
        unit.hasSWVersion = true;
        unit.unitSWVersion = u.value;
      }
    }
    id.units.push_back(unit);
  }
  return id;
}

IOKitFireWireUnitInfo FireWireUnitInfoFrom(const ConfigROMIdentity& identity, const ConfigROMUnit& unit,
                                           IOKitBackendKey key) {
  IOKitFireWireUnitInfo info;
  info.key = key;
  info.hasGUID = identity.hasGUID;
  info.guid = identity.guid;
  info.unitSpecID = unit.hasSpecID ? unit.unitSpecID : 0;
  info.hasUnitSWVersion = unit.hasSWVersion;
  info.unitSWVersion = unit.unitSWVersion;
  return info;
}

bool USBDeviceInfoFrom(const std::vector<UInt8>& deviceDescriptor, IOKitBackendKey key, IOKitUSBDeviceInfo* info) {
  USBDeviceDescriptorInfo d;
  if (!USBParseDeviceDescriptor(deviceDescriptor, &d)) return false;
  info->key = key;
  info->idVendor = d.idVendor;
  info->idProduct = d.idProduct;
  return true;
}

UInt32 IsoTimeStampWord(UInt32 cdevCycle) {
  const UInt32 seconds = (cdevCycle >> 13) & 7;
  const UInt32 cycle = cdevCycle & 0x1FFF;
  return seconds << 25 | cycle << 12;
}

size_t IsoInterruptToSlots(const UInt8* headers, size_t headerLength, size_t headerSize, UInt32 eventCycle,
                           const UInt8* payload, size_t payloadBytes, size_t payloadStride, size_t firstSlot,
                           const IsoSlotLayout& layout) {
  if (!headers || headerSize < 4 || headerSize % 4 || !layout.segmentBase || layout.slotStride < 4) return 0;
  const size_t packets = headerLength / headerSize;
  size_t written = 0;
  UInt32 cycle = eventCycle;
  for (size_t i = 0; i < packets; i++) {
    const size_t slot = firstSlot + i;
    if (slot >= layout.slotCount) break;
    const UInt8* h = headers + i * headerSize;
    UInt8* s = layout.segmentBase + slot * layout.slotStride;
    std::memcpy(s, h, 4);  // big-endian on the wire, and so in the slot
    const size_t length = size_t(h[0]) << 8 | h[1];
    size_t n = std::min({length, layout.slotStride - 4, payloadStride});
    const size_t at = i * payloadStride;
    n = (payload && at < payloadBytes) ? std::min(n, payloadBytes - at) : 0;
    if (n) std::memcpy(s + 4, payload + at, n);
    if (headerSize >= 8) cycle = (UInt32(h[6]) << 8 | h[7]);  // the time-stamp quadlet's low 16 bits
    written++;
  }
  if (layout.timeStamp && written) *layout.timeStamp = IsoTimeStampWord(cycle);
  return written;
}

IsoPacketQueue::IsoPacketQueue(size_t payloadRoom, size_t capacity)
    : slotBytes_(4 + payloadRoom), capacity_(std::max<size_t>(capacity, 1)),
      packets_(slotBytes_ * capacity_, 0), stamps_(capacity_, 0) {}

size_t IsoPacketQueue::PushInterrupt(const UInt8* headers, size_t headerLength, size_t headerSize,
                                     UInt32 eventCycle, const UInt8* buffer, size_t chunkCount, size_t chunkStride,
                                     size_t firstChunk) {
  if (!headers || headerSize < 4 || headerSize % 4 || !buffer || !chunkCount) return 0;
  const size_t packets = headerLength / headerSize;
  size_t queued = 0;
  for (size_t i = 0; i < packets; i++) {
    if (count_ == capacity_) {
      dropped_++;
      continue;
    }
    const size_t tail = (head_ + count_) % capacity_;
    const size_t chunk = (firstChunk + i) % chunkCount;
    IsoSlotLayout layout{packets_.data() + tail * slotBytes_, slotBytes_, 1, &stamps_[tail]};
    if (IsoInterruptToSlots(headers + i * headerSize, headerSize, headerSize, eventCycle,
                            buffer + chunk * chunkStride, chunkStride, chunkStride, 0, layout) != 1)
      continue;
    count_++;
    queued++;
  }
  return queued;
}

UInt32 IsoPacketQueue::Pop(UInt8* slot, UInt32 capacity, UInt32* timeStamp) {
  if (count_ == 0 || !slot) return 0;
  const UInt8* p = packets_.data() + head_ * slotBytes_;
  const size_t length = std::min<size_t>(4 + (size_t(p[0]) << 8 | p[1]), slotBytes_);
  const size_t n = std::min<size_t>(length, capacity);
  std::memcpy(slot, p, n);
  if (timeStamp) *timeStamp = stamps_[head_];
  head_ = (head_ + 1) % capacity_;
  count_--;
  return UInt32(n);
}
