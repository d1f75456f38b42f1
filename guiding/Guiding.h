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
  UInt8* mReplyBuffer;
  UInt32 mReplyByteCount;
  UInt32 mReplyTimeout;   // ms, the writer's plus 16
  UInt32 mReplyDeadline;  // TickCount
  pthread_t mReplyThread;
  pthread_mutex_t mReplyMutex;
  pthread_cond_t mReplyCondition;
  pthread_attr_t mReplyThreadAttributes;
  SInt32 mReaderStarted;
  SInt32 mReaderRunning;
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
