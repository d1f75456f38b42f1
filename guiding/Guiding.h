// Tracking and autoguiding: the mount-control device (serial LX200 and
// NexStar ports, the GPUSB guide adapter, the camera's GPIO lines) and the
// adapter itself.
#pragma once
#include <pthread.h>
#include <termios.h>

#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/iokit/IOHIDLib.h"

// ------------------------------------------------------------ GPUSB adapter

constexpr UInt16 kGPUSBVendorID = 0x134A;
constexpr UInt16 kGPUSBProductID = 0x9020;
constexpr int kGPUSBMaxCookies = 17;

// Output lines: 0 RA east, 1 RA west, 2 Dec south, 3 Dec north, 4 and 5
// status lines. A three-element device has one 8-bit output (element 2)
// holding bit n for line n; other devices have line n at element 9 + n.
struct GPUSBDevice {
  io_service_t mService;
  IOHIDDeviceInterface** mInterface;
  UInt8 mOpen;
  UInt32 mCookies[kGPUSBMaxCookies];
  SInt32 mElementCount;
  UInt32 mLineMask;
};

// The adapter's record, or null when there is none or it cannot be opened.
GPUSBDevice* myOpenGPUSBDevice();
// Sets the stop state, closes and frees; null accepted; 0.
OSStatus myCloseGPUSB(GPUSBDevice* device);
// Line 0 to 5, value 0 or 1; the HID call's result, or -50.
OSStatus mySetGPUSBDeviceValue(GPUSBDevice* device, UInt32 line, UInt32 value);
// The whole mask of a three-element device; the HID result or -50.
OSStatus mySetEightBitGPUSBDeviceValue(GPUSBDevice* device, UInt32 mask);

// ------------------------------------------------------------ mount-control device

enum MountCntlDeviceKind : UInt32 {
  kMountCntlLX200 = 1,
  kMountCntlNexStar = 2,
  kMountCntlSilentSerial = 3,
  kMountCntlCameraGPIO = 253,  // "PGR GPIO to ST4"
  kMountCntlGPUSB = 254,
};

// Axis state: the last start command, or stopped.
constexpr UInt32 kMountAxisStopped = 8;

struct MountCntlDevice {
  SInt32 mFileDescriptor;
  char mDeviceName[256];
  struct termios mPortSettings;
  struct termios mSavedPortSettings;
  UInt32 mKind;
  UInt8 mOpen;
  SInt32 mReplyStatus;
  UInt8* mWriteBuffer;
  UInt32 mWriteLength;
  SInt32 mReplyBusy;  // changed atomically
  UInt32 mRAAxisState;
  UInt32 mDecAxisState;
  UInt8* mReplyBuffer;  // mReplyBytes: a reader outliving its writer writes only here
  UInt32 mReplyByteCount;
  UInt8 mReplyBytes[16];
  UInt32 mReplyTimeout;   // ms, the writer's plus 16
  UInt32 mReplyDeadline;  // TickCount
  pthread_t mReplyThread;
  pthread_mutex_t mReplyMutex;
  pthread_cond_t mReplyCondition;
  pthread_attr_t mReplyThreadAttributes;
  SInt32 mReaderStarted;
  SInt32 mReaderRunning;
  // 1 from the creation of a reply reader until it has let go of the reply
  // fields; a later reply-expecting write and close wait for it to drop.
  SInt32 mReaderAlive;
  UInt32 mFirstPulseCommand;
  UInt32 mSecondPulseCommand;
  double mFirstPulseDuration;   // ms
  double mSecondPulseDuration;  // ms; <= 0 for a one-axis pulse
  pthread_t mPulseThread;
  pthread_mutex_t mPulseMutex;
  pthread_cond_t mPulseCondition;
  pthread_attr_t mPulseThreadAttributes;
  SInt32 mPulseThreadRunning;
  SInt32 mPulseActive;
  // Set by the pulse thread as it starts and never cleared by it: the
  // starter's wait cannot miss a thread that has already run to its end.
  SInt32 mPulseThreadStarted;
  void* mAdapterHandle;  // GPUSBDevice* (kind 254) or the camera handle (253)
};

// The state of the device dialog while it is up.
struct MountCntlDialogState {
  WindowRef mWindow;
  SInt32 mResult;  // 0 OK, -128 cancelled
  SInt32 mSelection;
};

// Lets the user choose among the GPUSB adapter, the camera's GPIO lines (when
// cameraHasGPIO) and the usable serial ports, and opens the choice; null
// after the "USRER"/"NOSERUSBDEVERR" alert when nothing opens.
MountCntlDevice* myOpenMountCntlDevice(UInt32 kind, UInt32 cameraHasGPIO);
// Null accepted; 0.
OSStatus myCloseMountCntlDevice(MountCntlDevice* device);
// The command handler of the "SelectSerialInterface" window.
OSStatus mySelectControllerDevice(EventHandlerCallRef handlerCall, EventRef event, void* state);
// 0 with the port open (exclusive, blocking) and its settings in saved;
// -1 open, -2 TIOCEXCL, -3 F_SETFL, -4 tcgetattr failed.
SInt32 myOpenSerialPortByName(const char* path, int* fileDescriptor, struct termios* saved);

// Test hook: replaces tcsetattr for the port settings applied at open
// (null restores it).
void mySetMountTcsetattrForTesting(int (*fn)(int, int, const struct termios*));

// Makes the reply and pulse mutexes and conditions of an open device (open
// calls it); they live until close, so no thread waits on one being torn down.
OSStatus myInitMountCntlThreadObjects(MountCntlDevice* device);

// ------------------------------------------------------------ mount commands

enum MountCntlCommand : UInt32 {
  kMountRAEast = 0,
  kMountRAWest = 1,
  kMountDecSouth = 2,
  kMountDecNorth = 3,
  kMountStopRAEast = 4,  // the stop of a start command is that command + 4
  kMountStopRAWest = 5,
  kMountStopDecSouth = 6,
  kMountStopDecNorth = 7,
  kMountStopAll = 8,
  kMountSlewRate = 255,  // LX200 only
  kMountFindRate = 256,
  kMountCentreRate = 257,
  kMountGuideRate = 258,
};

// Encodes the command for the device's kind and sends it; rate (arc-seconds
// per second) is read by the NexStar kind only. Null device: 0.
OSStatus mySendMountCntlDevice(MountCntlDevice* device, UInt32 kind, UInt32 command, double rate);
// Writes the bytes; with a reply buffer and count, a reader thread collects
// the reply (time-out in ms). 0, -1, -50, the reader's status or a thread error.
OSStatus myWriteMountCntlDevice(MountCntlDevice* device, const UInt8* bytes, UInt32 length, UInt8* replyBuffer,
                                UInt32 replyByteCount, UInt32 timeoutMs);
// Thread body of the reply reader; the argument is the device.
void* myDoReadThread(void* device);
// Stops a reply reader and forgets it. Null accepted.
void myCancelReadThread(MountCntlDevice* device);

// ------------------------------------------------------------ guide pulses

struct MyCameraWindowDataStruct;

// Starts both axes (the longer pulse first) and hands the timing to the
// pulse thread: 0, -50 when a pulse cannot start, or an error. msB <= 0 moves
// one axis only.
OSStatus myKickOffSerialTimer(MyCameraWindowDataStruct* record, UInt32 commandA, double msA, UInt32 commandB,
                              double msB);
// Thread body of the pulse thread; the argument is the camera record.
void* myDoTimerThread(void* record);
// Ends a pulse in progress and sends stop-all. Null accepted.
void myCancelTimerThread(MyCameraWindowDataStruct* record);
// Lowers the counter by one when it is above 0, in one step; 1 when it did.
Boolean myDecrementIfPositive(SInt32* counter);

// Test-only pause point (null in the product). Called with:
enum MountTestPause : int {
  kMountPauseReaderBeforeStarted = 1,  // the reader, before it signals "started"
  kMountPauseReaderAfterStarted = 2,   // the reader, after the signal, before reading
  kMountPausePulseBeforeCounters = 3,  // the pulse thread, before it lowers the counters
  kMountPauseCancelWaiting = 4,        // cancel, on each wait for the pulse thread
};
extern void (*volatile gMountTestPausePoint)(int where);
