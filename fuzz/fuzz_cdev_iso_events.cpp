// Events read from a firewire-cdev descriptor: whatever bytes the kernel (or
// a broken driver) hands out must dispatch or be refused cleanly, and the
// packets of isochronous interrupts must land in the queue and the receive
// slots without reading or writing outside them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/iokit/FireWireCdevBackend.h"
#include "platform/iokit/HardwareTranslate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kChunks = 5, kStride = 20;
  std::vector<UInt8> ring(kChunks * kStride, 0x5A);
  IsoPacketQueue queue(kStride, 7);
  size_t next = 3;
  FWCdevEventHandlers h;
  h.busReset = [](UInt32, UInt32, UInt32) {};
  h.response = [](UInt64, UInt32, const UInt8*, size_t) {};
  h.isoResource = [](UInt64, bool, SInt32, SInt32) {};
  h.isoInterrupt = [&](UInt64, UInt32 cycle, const UInt8* headers, size_t length) {
    for (size_t headerSize : {4u, 8u, 12u}) {
      queue.PushInterrupt(headers, length, headerSize, cycle, ring.data(), kChunks, kStride, next);
      next = (next + length / headerSize) % kChunks;
    }
  };
  FWCdevDispatchEvent(data, size, h);
  std::vector<UInt8> slot(16);
  UInt32 stamp = 0;
  while (queue.Pop(slot.data(), UInt32(slot.size()), &stamp)) {
  }
  return 0;
}
