// The simulated mount: the serial port a mount would sit on (a
// pseudo-terminal pair whose master end belongs to the simulator) and the
// simulated GPUSB guide adapter (a USB HID device with output elements).
//
// The IOKit layer lists them as serial and HID services through
// SimMountBackend(). Without a hook the set is one port and one adapter,
// served beside the simulated camera; tests install their own set.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/iokit/IOKitBackend.h"
#include "platform/simcamera/SimGuideLines.h"

// One byte that came in on the simulated line, stamped with the
// simulator's clock (SkyloomMicroseconds) as the master end saw it.
struct SimSerialByte {
  UInt64 micros = 0;
  UInt8 byte = 0;
};

// What the simulated mount makes of the bytes it receives.
enum class SimMountProtocol {
  Raw,      // bytes only
  LX200,    // text commands, split on '#'
  NexStar,  // 8-byte pass-through packets starting with 'P'
};

// One command as the mount took it in: the bytes of an LX200 command with
// its '#' on either side ("#:Mw#"), or a whole NexStar packet, stamped with
// the time of its first byte.
struct SimMountCommand {
  UInt64 micros = 0;
  std::vector<UInt8> bytes;
  std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

// A pseudo-terminal pair. A simulator thread owns the master end: it
// collects everything the program writes to the slave, and writes what it is
// asked to send.
class SimMountPort {
 public:
  SimMountPort();
  ~SimMountPort();
  SimMountPort(const SimMountPort&) = delete;
  SimMountPort& operator=(const SimMountPort&) = delete;

  bool Ok() const { return master_ >= 0; }
  // The slave's device path, as the program opens it.
  const std::string& SlavePath() const { return slavePath_; }
  // Bytes received so far, oldest first.
  std::vector<SimSerialByte> Received();
  void ClearReceived();
  // Queues bytes for the program to read from the slave.
  void Send(const std::vector<UInt8>& bytes);

  // Raw until set. Changing it drops a half-received command.
  void SetProtocol(SimMountProtocol protocol);
  // NexStar: each packet is answered with `reply` (a byte, or -1 for
  // silence) `delayMs` after its last byte came in. '#' after 5 ms at first.
  void SetNexStarReply(int reply, UInt32 delayMs);
  // True while a reply is scheduled or not yet handed to the line.
  bool RepliesPending();
  // Commands so far, oldest first; ClearReceived clears them too.
  std::vector<SimMountCommand> Commands();
  // The commands as guide line changes: an LX200 move turns its line on and
  // its halt turns it off ("#:Q#" all four); a NexStar packet at a non-zero
  // rate turns its axis's line of that direction on and the other off, at
  // rate 0 both off. Each change carries its command's time.
  std::vector<SimGuideLineState> LineStates();

 private:
  void Run();
  void Take(UInt64 now, UInt8 byte);  // under mutex_
  UInt64 NextReplyDue();              // under mutex_; 0 = none
  SimMountProtocol protocol_ = SimMountProtocol::Raw;
  int nexStarReply_ = '#';
  UInt32 nexStarDelayMs_ = 5;
  std::vector<UInt8> partial_;
  UInt64 partialStart_ = 0;
  std::vector<SimMountCommand> commands_;
  std::vector<std::pair<UInt64, UInt8>> scheduled_;  // replies by due time
  int master_ = -1;
  int wake_[2] = {-1, -1};  // the send queue and the stop request wake the thread
  std::string slavePath_;
  std::mutex mutex_;
  std::vector<SimSerialByte> received_;
  std::vector<UInt8> outgoing_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One write to an output element of the simulated adapter.
struct SimHIDWrite {
  UInt64 micros = 0;
  UInt32 element = 0;  // the element's index in the device's list
  UInt32 cookie = 0;
  SInt32 value = 0;
};

// Steps of the HID road where a simulated adapter can be told to fail.
enum class SimHIDFault { None, ObjectClass, PlugIn, DeviceInterface, Open, CopyElements, NoCookies };

// The simulated GPUSB adapter (vendor 0x134A, product 0x9020): the
// three-element layout (one 8-bit output element, index 2) or a device of
// more elements with one output per line. Element n has cookie 100 + n.
class SimGPUSB {
 public:
  explicit SimGPUSB(UInt32 elementCount = 3, UInt16 vendorID = 0x134A, UInt16 productID = 0x9020);

  UInt32 ElementCount() const { return elementCount_; }
  UInt16 VendorID() const { return vendor_; }
  UInt16 ProductID() const { return product_; }
  void SetFault(SimHIDFault fault);
  SimHIDFault Fault();
  // After `successes` more element writes, the next `failures` writes (all,
  // when negative) fail and are not logged; successes < 0 lets all through.
  void FailWritesAfter(int successes, int failures = -1);

  // The log of element writes, oldest first.
  std::vector<SimHIDWrite> Writes();
  void ClearWrites();
  // Changes of the adapter's lines 0-3 (RA east, RA west, Dec south, Dec
  // north) as guide lines, from the log of writes.
  std::vector<SimGuideLineState> LineStates();
  // The last value written to the element (0 when never written).
  SInt32 Value(UInt32 element);
  bool IsOpen();

  // Used by the back end.
  IOReturn Open();
  void Close();
  IOReturn SetValue(UInt32 cookie, SInt32 value);

 private:
  std::mutex mutex_;
  UInt32 elementCount_;
  UInt16 vendor_, product_;
  SimHIDFault fault_ = SimHIDFault::None;
  bool open_ = false;
  int writesLeft_ = -1;
  int failuresLeft_ = -1;
  std::vector<SimHIDWrite> writes_;
  std::vector<SInt32> values_;
};

// Replaces the set the layer sees: serial services for `serialPaths` (listed
// as given, in order; they need not be simulated ports) and the adapters.
void SimInstallMount(const std::vector<std::string>& serialPaths,
                     const std::vector<std::shared_ptr<SimGPUSB>>& adapters);
// Back to the default lists (the host's serial ports, and the simulated
// port and three-element adapter while the simulated camera is in use).
void SimRemoveMount();
// True while a test's set is installed: the layer then lists only that
// set's serial ports and adapters.
bool SimMountPinned();
// The default set, made at first use.
std::shared_ptr<SimMountPort> SimDefaultMountPort();
std::shared_ptr<SimGPUSB> SimDefaultGPUSB();

// The back end that serves the set to the IOKit layer.
IOKitBackend* SimMountBackend();
