// The firewire-cdev back end: FireWire IIDC cameras through the kernel's
// /dev/fw* character devices on a Linux host.
//
// Enumeration reads each remote node's configuration ROM (from sysfs, or from
// the device node when sysfs has none) and lists every unit directory in it.
// An open node gets one reader thread that takes the kernel's events off the
// file descriptor: responses to quadlet requests (matched by closure), bus
// resets (the generation later requests carry) and isochronous events.
//
// Exclusive access is an advisory lock on the device node: other programs
// that do not take it are not kept out.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/iokit/IOKitBackend.h"

// One node as enumeration saw it.
struct FWCdevNodeRecord {
  std::string devicePath;  // "/dev/fw1"
  UInt32 number = 0;       // the 1 of fw1
  bool local = false;      // the host's own controller
  std::vector<UInt32> rom; // host-order quadlets
};

IOKitBackend* FireWireCdevBackend();
// True when a remote node carries an IIDC unit (specifier 0x00A02D).
bool FireWireCdevCamerasPresent();
// Tests: enumerate from this list in place of the system (an empty function
// goes back to the system).
void FWCdevSetNodeLister(std::function<std::vector<FWCdevNodeRecord>()> lister);
// The key a unit gets: node number << 8 | unit index in the ROM.
IOKitBackendKey FWCdevUnitKey(UInt32 nodeNumber, UInt32 unitIndex);

// What one event read from a cdev file descriptor says. The bytes come from
// the kernel, one event a read; sizes are still checked.
struct FWCdevEventHandlers {
  std::function<void(UInt32 generation, UInt32 nodeID, UInt32 localNodeID)> busReset;
  std::function<void(UInt64 closure, UInt32 rcode, const UInt8* data, size_t length)> response;
  std::function<void(UInt64 closure, UInt32 cycle, const UInt8* headers, size_t headerLength)> isoInterrupt;
  std::function<void(UInt64 closure, bool allocated, SInt32 channel, SInt32 bandwidth)> isoResource;
};
// False for a short or unknown event.
bool FWCdevDispatchEvent(const UInt8* event, size_t size, const FWCdevEventHandlers& handlers);
