// Shared by the streaming tests: a mode set on both the handle and the
// simulated camera, and a frame callback that keeps what it receives.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/camera_driver/dcam_fixture.h"

// The frame geometry of one test mode.
struct StreamMode {
  UInt32 width, height, bits;
  OSType code;
  UInt32 bytesPerPacket;
  double fps;
};
constexpr OSType kRawCode = FOUR_CHAR_CODE("raw ");
inline const StreamMode kMono8VGA = {640, 480, 8, kRawCode, 2560, 30};
inline const StreamMode kMono16VGA = {640, 480, 16, kRawCode, 5120, 30};

// Programs the camera and the simulator for `mode` and marks the format set.
void SetStreamMode(MyDCAMCameraStruct* camera, SimCamera& sim, const StreamMode& mode);

// The frame id the simulator stamped into the first and last four bytes
// (wire order); for host-order 16-bit frames pass swapped = true.
UInt32 FrameIDAtStart(const UInt8* frame, bool swapped16);
UInt32 FrameIDAtEnd(const UInt8* frame, UInt32 bytes, bool swapped16);
// The simulator's frame in host order as the driver should deliver it.
std::vector<UInt8> HostOrderReference(SimCamera& sim, UInt32 id, bool swap16);

// Waits (hang guard 10 s) until the delivery thread is done with the last
// frame (callback returned, frame-ready lowered).
bool WaitCallbackIdle(MyDCAMCameraStruct* camera);

struct FrameCollector {
  std::mutex mutex;
  std::condition_variable cond;
  std::vector<std::vector<UInt8>> frames;  // kept only when keepFrames
  std::vector<UInt32> startIDs, endIDs;
  std::vector<double> intervals, accumulated;
  bool keepFrames = true;
  bool swapped16 = false;
  std::atomic<int> count{0};
  std::atomic<int> sleepMs{0};
  // While set the callback blocks (a callback that does not return).
  std::atomic<bool> block{false};
  std::atomic<bool> inside{false};

  static void Callback(UInt32 width, UInt32 height, UInt32 bytes, void* frame, void* refCon, double interval,
                       double accumulated);
  // Waits (hang guard 10 s) until at least n frames arrived.
  bool WaitFor(int n);
  bool WaitInside();
};
