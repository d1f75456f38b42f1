// The simulated camera's video stream: the frames it sends for the current
// format, mode and rate (or a Format 7 region), as USB bulk transfers and as
// IIDC isochronous packets, with injectable faults.
//
// Frames are rendered from a SimScene once per geometry and stamped with a
// frame id, big-endian, in their first and last four bytes, so tests see
// repeats, gaps and torn frames. Data is in IIDC wire order: 16-bit and
// 48-bit samples big-endian, 12-bit packed as the project's layout says.
//
// Clocks: stepped (tests advance frames or cycles and wait until the driver
// has taken them) or real time (the application's default: frames at the
// mode's rate). All methods are thread-safe.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/iokit/IOReturn.h"

class SimCamera;

struct SimStreamGeometry {
  UInt32 width = 0, height = 0;
  UInt32 bits = 0;             // bits per pixel
  OSType code = 0;             // camera pixel-format code ('raw ', '2vuy', 'Y411', 'v308')
  UInt32 bytesPerPacket = 0;   // isochronous payload per packet
  double fps = 30.0;
  UInt32 FrameBytes() const { return UInt32(UInt64(width) * height * bits / 8); }
  UInt32 PacketsPerFrame() const { return bytesPerPacket ? (FrameBytes() + bytesPerPacket - 1) / bytesPerPacket : 0; }
};

enum class SimClock { Stepped, RealTime };

enum class SimBulkFault {
  Short,       // the transfer ends one byte early
  Stall,       // the transfer fails with kIOUSBPipeStalled and the endpoint halts
  StallAfter,  // a good frame, then the endpoint halts (the next queueing fails)
  Overrun,     // the device babbles: kIOReturnOverrun
  Slow,        // the frame comes 50 ms late
};

enum class SimIsochFault {
  Oversized,    // one packet longer than the receive size (its length says 8 bytes more)
  Lost,         // one packet of the frame never arrives
  MissingSync,  // the frame's first packet carries sync 0
};

class SimStream {
 public:
  explicit SimStream(SimCamera& camera);
  ~SimStream();
  SimStream(const SimStream&) = delete;
  SimStream& operator=(const SimStream&) = delete;

  // ---- what is sent ----
  // The geometry of the current mode: the override when set, else from the
  // format, mode and rate registers (or the Format 7 block). width 0: none.
  SimStreamGeometry Geometry() const;
  void SetGeometryOverride(std::optional<SimStreamGeometry> geometry);
  // The wire bytes of frame `id` in the current geometry.
  std::vector<UInt8> ReferenceFrame(UInt32 id) const;
  // The id the next frame will carry (frames count from 1).
  UInt32 NextFrameID() const;
  bool IsoEnabled() const;

  // ---- frames that do not follow the rate ----
  // True while the trigger feature (0x830) is on in mode 0, 1 or 14: frames
  // go out only as triggered frames.
  bool Triggered() const;
  // One frame to send when triggered, with its exposure (relative to 10 ms at
  // 0 dB, as SimExposure) or the shutter's when none.
  void QueueTriggeredFrame(std::optional<double> exposure);
  size_t TriggeredFramesQueued() const;
  // The exposure the next free-running frame carries instead of the
  // shutter's (a sensor that integrated while transmission was off).
  void SetNextFrameExposure(double exposure);

  void SetClock(SimClock clock);
  SimClock Clock() const;

  // ---- USB bulk endpoint 0x81 ----
  IOReturn SubmitBulkRead(UInt8 endpoint, void* buffer, UInt32 size, std::function<void(IOReturn, UInt32)> done);
  IOReturn AbortBulk(UInt8 endpoint);
  IOReturn BulkPipeStatus(UInt8 endpoint) const;
  void ClearHalt();
  void InjectBulkFault(SimBulkFault fault);
  // Stepped clock: sends up to n frames, each into the outstanding read
  // while ISO_EN is on, and waits until the driver has queued its next read.
  // Returns the frames sent (fewer when no read came within the time-out).
  int StepBulkFrames(int n, int timeoutMs = 10000);
  // Waits until a read is outstanding; false on time-out.
  bool WaitForBulkRead(int timeoutMs = 10000);
  bool BulkReadOutstanding() const;

  // ---- FireWire isochronous talker ----
  // Channel allocation at the bus's resource manager; `Fail...` makes it
  // answer a status (kIOReturnNoBandwidth for a full bus).
  IOReturn AllocateIsochChannel(UInt64 channelMask, UInt32* channel);
  void ReleaseIsochChannel(UInt32 channel);
  void FailIsochAllocation(IOReturn status);
  // One bus cycle on `channel`: writes the packet (big-endian header quadlet,
  // then the payload) into `slot` and returns its length with the header,
  // or 0 for an idle cycle. Packets go out only on the channel programmed in
  // 0x60C and only while ISO_EN is on. Payloads beyond `capacity` are cut.
  UInt32 IsochCycle(UInt32 channel, UInt8* slot, UInt32 capacity);
  void InjectIsochFault(SimIsochFault fault);
  // Cycles from one frame start to the next at the mode's rate (at least
  // the frame's packet count).
  UInt32 CyclesPerFrame() const;

 private:
  struct BulkRead {
    UInt8* buffer;
    UInt32 size;
    std::function<void(IOReturn, UInt32)> done;
  };
  // Call with mutex_ held; `exposure` replaces the shutter's when set.
  const std::vector<UInt8>& BaseFrame(const SimStreamGeometry& g, std::optional<double> exposure = {}) const;
  int BayerCodeNow() const;
  std::vector<UInt8> FrameLocked(const SimStreamGeometry& g, UInt32 id, std::optional<double> exposure = {}) const;
  // Whether a frame may go out now, and its exposure; takes a queued
  // triggered frame or the integrated exposure.
  bool TakeFrameExposure(std::optional<double>* exposure);
  bool SendOneBulkFrame(std::unique_lock<std::mutex>& lock, int timeoutMs);
  void RealTimeLoop();

  SimCamera& camera_;
  mutable std::mutex mutex_;
  std::condition_variable cond_;
  std::optional<SimStreamGeometry> override_;
  mutable std::map<std::tuple<UInt32, UInt32, UInt32, OSType>, std::vector<UInt8>> baseFrames_;
  // What the cached frames were drawn with: exposure, red and blue gains,
  // Bayer code (0: grey); a change of look empties the cache.
  mutable std::tuple<double, double, double, int> baseLook_{1.0, 1.0, 1.0, 0};
  UInt32 nextID_ = 1;
  SimClock clock_ = SimClock::RealTime;

  std::optional<BulkRead> bulkRead_;
  UInt64 bulkReadsSubmitted_ = 0;
  bool halted_ = false;
  std::deque<SimBulkFault> bulkFaults_;

  IOReturn isochAllocFault_ = kIOReturnSuccess;
  std::deque<SimIsochFault> isochFaults_;
  // The frame being sent on the bus: bytes, next packet, cycles into the frame.
  std::vector<UInt8> isochFrame_;
  UInt32 isochPacket_ = 0;
  UInt32 isochCycle_ = 0;
  bool isochMissingSync_ = false;
  UInt32 isochOversizedPacket_ = ~0u;
  UInt32 isochLostPacket_ = ~0u;

  // Set by writes of ISO_EN: the camera begins a new frame when it sends again.
  std::atomic<bool> isoRestart_{false};

  // Triggered frames and the integrated exposure: set from register hooks
  // (under the camera's lock), so their own lock is taken last and alone.
  mutable std::mutex exposureMutex_;
  std::deque<std::optional<double>> triggered_;
  std::optional<double> nextExposure_;

  bool quit_ = false;
  std::thread realTime_;
};
