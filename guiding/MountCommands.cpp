// Mount commands: each MountCntlCommand encoded for the device's kind (LX200
// text, NexStar pass-through packets, camera GPIO registers, GPUSB lines),
// and serial writes whose one-byte reply is read by a short-lived thread.
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "camera_driver/ORXDCAM.h"
#include "guiding/Guiding.h"
#include "platform/coreservices/CoreServices.h"

void (*volatile gMountTestPausePoint)(int where) = nullptr;

namespace {

constexpr UInt32 kNexStarReplyMs = 500;
constexpr UInt64 kNexStarStopAllPauseUs = 200000;
constexpr UInt8 kNexStarRA = 0x10;
constexpr UInt8 kNexStarDec = 0x11;
constexpr UInt8 kNexStarPositive = 0x06;
constexpr UInt8 kNexStarNegative = 0x07;
constexpr UInt32 kGPIORegister[4] = {0x1110, 0x1120, 0x1140, 0x1130};  // by start command
constexpr UInt32 kGPIODrive = 0x80010001;
constexpr UInt32 kGPIORelease = 0x80010000;

void pausePoint(int where) {
  if (auto fn = gMountTestPausePoint) fn(where);
}

SInt32 load(SInt32& field) { return std::atomic_ref<SInt32>(field).load(std::memory_order_acquire); }
void store(SInt32& field, SInt32 value) { std::atomic_ref<SInt32>(field).store(value, std::memory_order_release); }

void sleepMs(UInt32 ms) { SkyloomSleepMicroseconds(UInt64(ms) * 1000); }

// Waits until a reader whose writer gave up on it has let go of the reply
// fields; it ends by its deadline (a blocked read adds up to a second).
void waitForEarlierReader(MountCntlDevice* device) {
  while (load(device->mReaderAlive) != 0) sleepMs(10);
}

void recordAxes(MountCntlDevice* device, UInt32 command) {
  if (command <= kMountRAWest) device->mRAAxisState = command;
  else if (command <= kMountDecNorth) device->mDecAxisState = command;
  else if (command <= kMountStopRAWest) device->mRAAxisState = kMountAxisStopped;
  else if (command <= kMountStopDecNorth) device->mDecAxisState = kMountAxisStopped;
  else if (command == kMountStopAll) device->mRAAxisState = device->mDecAxisState = kMountAxisStopped;
}

OSStatus sendLX200(MountCntlDevice* device, UInt32 command) {
  static const char* const kMoves[9] = {"#:Me#", "#:Mw#", "#:Ms#", "#:Mn#", "#:Qe#",
                                        "#:Qw#", "#:Qs#", "#:Qn#", "#:Q#"};
  static const char* const kRates[4] = {"#:RS#", "#:RM#", "#:RC#", "#:RG#"};
  const char* text = nullptr;
  if (command <= kMountStopAll) text = kMoves[command];
  else if (command >= kMountSlewRate && command <= kMountGuideRate) text = kRates[command - kMountSlewRate];
  if (!text) {
    fprintf(stderr, "mySendMountCntlDevice = Err %d 0x%X while Sending = %s\n", int(paramErr), unsigned(paramErr), "");
    return paramErr;
  }
  OSStatus err = myWriteMountCntlDevice(device, reinterpret_cast<const UInt8*>(text), UInt32(strlen(text)), nullptr,
                                        0, 0);
  if (err != noErr) {
    fprintf(stderr, "mySendMountCntlDevice myWriteMountCntlDevice =  Err %d 0x%X while Sending = %s\n", int(err),
            unsigned(err), text);
    return err;
  }
  recordAxes(device, command);
  return noErr;
}

void hexText(const UInt8* packet, char* text) {
  for (int i = 0; i < 8; i++) snprintf(text + 3 * i, 4, i < 7 ? "%02X " : "%02X", packet[i]);
}

// Writes one packet, with or without waiting for the '#' reply.
OSStatus writeNexStarPacket(MountCntlDevice* device, const UInt8* packet, bool reply, bool logBefore) {
  char text[32];
  hexText(packet, text);
  if (logBefore) fprintf(stderr, "k_CELESTRON_NEXSTAR_ sent it %s\n", text);
  UInt8 answer[1] = {0};
  OSStatus err = myWriteMountCntlDevice(device, packet, 8, reply ? answer : nullptr, reply ? 1 : 0, kNexStarReplyMs);
  if (err != noErr) {
    fprintf(stderr, "myWriteMountCntlDevice Err %d 0x%X while Sending = %s\n", int(err), unsigned(err), text);
    return err;
  }
  if (!reply) {
    fprintf(stderr, "Err numReceiveBytes is zero - not expected response from scope\n");
  } else if (answer[0] != '#') {
    char got[2] = {char(answer[0]), 0};
    fprintf(stderr, "Err Char (35) response expected but not received = %s\n", got);
  }
  return noErr;
}

OSStatus sendNexStar(MountCntlDevice* device, UInt32 command, double rate) {
  if (command > kMountStopAll) return paramErr;
  UInt8 packet[8] = {'P', 0x03, 0, kNexStarPositive, 0, 0, 0, 0};
  if (command == kMountStopAll) {
    packet[2] = kNexStarRA;
    char text[32];
    hexText(packet, text);
    OSStatus err = myWriteMountCntlDevice(device, packet, 8, nullptr, 0, 0);
    if (err == noErr) fprintf(stderr, "k_CELESTRON_NEXSTAR_ sent it %s\n", text);
    SkyloomSleepMicroseconds(kNexStarStopAllPauseUs);
    if (err != noErr) {
      fprintf(stderr, "myWriteMountCntlDevice Err %d 0x%X while Sending = %s\n", int(err), unsigned(err), text);
      return err;
    }
    packet[2] = kNexStarDec;
    return writeNexStarPacket(device, packet, false, true);
  }
  bool ra = command == kMountRAEast || command == kMountRAWest || command == kMountStopRAEast ||
            command == kMountStopRAWest;
  packet[2] = ra ? kNexStarRA : kNexStarDec;
  if (command <= kMountDecNorth) {
    packet[3] = (command == kMountRAEast || command == kMountDecNorth) ? kNexStarNegative : kNexStarPositive;
    // Quarter arc-seconds per second in 16 bits; a rate the word cannot hold
    // is clamped rather than wrapped into a slow one.
    double r = rate <= 0.01 ? 10.0 : rate;
    double word = std::trunc(r * 4.0);
    UInt32 w = word >= 65535.0 ? 65535u : UInt32(word);
    packet[4] = UInt8(w >> 8);
    packet[5] = UInt8(w);
  }
  // A RA stop is not answered; everything else is.
  bool reply = !(command == kMountStopRAEast || command == kMountStopRAWest);
  return writeNexStarPacket(device, packet, reply, true);
}

OSStatus sendSilent(MountCntlDevice* device, UInt32 command) {
  if (command > kMountDecNorth && command != kMountStopAll) return paramErr;
  static const UInt8 kNothing[1] = {0};
  return myWriteMountCntlDevice(device, kNothing, 0, nullptr, 0, 0);
}

OSStatus sendGPIO(MountCntlDevice* device, UInt32 command) {
  if (command > kMountStopAll) return paramErr;
  auto* camera = static_cast<MyDCAMCameraStruct*>(device->mAdapterHandle);
  OSStatus err;
  if (command == kMountStopAll) {
    for (UInt32 reg : {0x1110u, 0x1120u, 0x1130u, 0x1140u}) err = ORXDCAMSetQuadlet(camera, 0, reg, 0, kGPIORelease);
  } else if (command <= kMountDecNorth) {
    err = ORXDCAMSetQuadlet(camera, 0, kGPIORegister[command], 0, kGPIODrive);
  } else {
    err = ORXDCAMSetQuadlet(camera, 0, kGPIORegister[command - 4], 0, kGPIORelease);
  }
  recordAxes(device, command);
  return err;
}

OSStatus sendGPUSB(MountCntlDevice* device, UInt32 command) {
  if (command > kMountStopAll) return paramErr;
  auto* adapter = static_cast<GPUSBDevice*>(device->mAdapterHandle);
  OSStatus err = noErr;
  if (command == kMountStopAll) {
    for (UInt32 line : {0u, 1u, 3u, 2u}) {
      err = mySetGPUSBDeviceValue(adapter, line, 0);
      if (err != noErr) break;
    }
  } else if (command <= kMountDecNorth) {
    err = mySetGPUSBDeviceValue(adapter, command, 1);
  } else {
    err = mySetGPUSBDeviceValue(adapter, command - 4, 0);
  }
  recordAxes(device, command);
  return err;
}

}  // namespace

OSStatus myInitMountCntlThreadObjects(MountCntlDevice* device) {
  int err = pthread_mutex_init(&device->mReplyMutex, nullptr);
  if (err) return err;
  if ((err = pthread_cond_init(&device->mReplyCondition, nullptr))) {
    pthread_mutex_destroy(&device->mReplyMutex);
    return err;
  }
  if ((err = pthread_mutex_init(&device->mPulseMutex, nullptr))) {
    pthread_cond_destroy(&device->mReplyCondition);
    pthread_mutex_destroy(&device->mReplyMutex);
    return err;
  }
  if ((err = pthread_cond_init(&device->mPulseCondition, nullptr))) {
    pthread_mutex_destroy(&device->mPulseMutex);
    pthread_cond_destroy(&device->mReplyCondition);
    pthread_mutex_destroy(&device->mReplyMutex);
    return err;
  }
  return noErr;
}

OSStatus mySendMountCntlDevice(MountCntlDevice* device, UInt32 kind, UInt32 command, double rate) {
  if (!device) return noErr;
  switch (kind) {
    case kMountCntlLX200:
      return sendLX200(device, command);
    case kMountCntlNexStar:
      return sendNexStar(device, command, rate);
    case kMountCntlSilentSerial:
      return sendSilent(device, command);
    case kMountCntlCameraGPIO:
      if (device->mOpen != 1) return paramErr;
      return sendGPIO(device, command);
    case kMountCntlGPUSB:
      if (device->mOpen != 1) return paramErr;
      return sendGPUSB(device, command);
    default:
      return paramErr;
  }
}

OSStatus myWriteMountCntlDevice(MountCntlDevice* device, const UInt8* bytes, UInt32 length, UInt8* replyBuffer,
                                UInt32 replyByteCount, UInt32 timeoutMs) {
  if (!device || device->mOpen != 1) return paramErr;
  bool reply = replyBuffer && replyByteCount;
  if (reply) waitForEarlierReader(device);
  device->mWriteBuffer = const_cast<UInt8*>(bytes);
  device->mWriteLength = length;
  store(device->mReplyBusy, 0);
  if (!reply) {
    ssize_t put = write(device->mFileDescriptor, bytes, length);
    return put == ssize_t(length) ? noErr : -1;
  }

  UInt32 count = replyByteCount < sizeof device->mReplyBytes ? replyByteCount : UInt32(sizeof device->mReplyBytes);
  // The mount answers writes that expect nothing (a RA stop gets its '#'
  // too); left in the line, such a byte would pass for this write's reply.
  tcflush(device->mFileDescriptor, TCIFLUSH);
  memset(device->mReplyBytes, 0, sizeof device->mReplyBytes);
  device->mReplyBuffer = device->mReplyBytes;
  device->mReplyByteCount = count;
  device->mReplyTimeout = timeoutMs + 16;
  // A status left by an earlier reply would turn this one into a failure.
  store(device->mReplyStatus, noErr);
  store(device->mReaderStarted, 0);
  store(device->mReaderRunning, 0);
  int err = pthread_attr_init(&device->mReplyThreadAttributes);
  if (err) return err;
  store(device->mReaderAlive, 1);
  err = pthread_create(&device->mReplyThread, &device->mReplyThreadAttributes, myDoReadThread, device);
  pthread_attr_destroy(&device->mReplyThreadAttributes);
  if (err) {
    store(device->mReaderAlive, 0);
    return err;
  }
  err = pthread_detach(device->mReplyThread);
  if (err) return err;
  pthread_mutex_lock(&device->mReplyMutex);
  while (load(device->mReaderStarted) == 0) pthread_cond_wait(&device->mReplyCondition, &device->mReplyMutex);
  pthread_mutex_unlock(&device->mReplyMutex);

  ssize_t put = write(device->mFileDescriptor, bytes, length);
  if (put != ssize_t(length)) {
    store(device->mReaderRunning, 0);
    while (load(device->mReplyBusy) != 0) sleepMs(10);
    store(device->mReplyBusy, 0);
    return -1;
  }
  // The reader raised the busy counter before it signalled: a 0 here is its
  // own "done", never a value left from before it ran.
  // Half a second by the clock, looked at every 5 ms: counted sleeps would
  // stretch on a busy machine past the reader's own time-out.
  const UInt64 giveUp = SkyloomMicroseconds() + 500000;
  while (load(device->mReplyBusy) != 0 && SkyloomMicroseconds() < giveUp) sleepMs(5);
  if (load(device->mReplyBusy) != 0) {
    store(device->mReplyBusy, 0);
    return -1;
  }
  // A reader that ran out of time is a reply that never came, whichever of
  // the two noticed first.
  const OSStatus status = load(device->mReplyStatus);
  if (status == userCanceledErr) return -1;
  memcpy(replyBuffer, device->mReplyBytes, count);
  return status;
}

void* myDoReadThread(void* argument) {
  auto* device = static_cast<MountCntlDevice*>(argument);
  pausePoint(kMountPauseReaderBeforeStarted);
  pthread_mutex_lock(&device->mReplyMutex);
  store(device->mReaderStarted, 1);
  store(device->mReaderRunning, 1);
  UInt32 deadline = TickCount() + device->mReplyTimeout / 16 + 1;
  UInt32 expected = device->mReplyByteCount;
  IncrementAtomic(&device->mReplyBusy);
  pthread_mutex_unlock(&device->mReplyMutex);
  pthread_cond_broadcast(&device->mReplyCondition);
  pausePoint(kMountPauseReaderAfterStarted);

  UInt32 received = 0;
  while (load(device->mReaderRunning) != 0) {
    if (SInt32(TickCount() - deadline) > 0) {
      store(device->mReaderRunning, 0);
      store(device->mReplyStatus, userCanceledErr);
      break;
    }
    // Every byte lands at the start of the buffer: replies are one byte.
    ssize_t got = read(device->mFileDescriptor, device->mReplyBuffer, 1);
    if (got < 0) {
      if (errno == EINTR) continue;
      store(device->mReplyStatus, -1);
      store(device->mReaderRunning, 0);
    } else if (got == 1 && ++received >= expected) {
      store(device->mReaderRunning, 0);
    }
  }
  // Started stays up (the writer lowers it before the next reader): a writer
  // that comes to wait only after this reader is done must not wait forever.
  store(device->mReplyBusy, 0);
  // Last touch of the device: from here a new write or close may reuse it.
  store(device->mReaderAlive, 0);
  return nullptr;
}

void myCancelReadThread(MountCntlDevice* device) {
  if (!device) return;
  if (load(device->mReaderAlive) != 0) {
    myDecrementIfPositive(&device->mReaderStarted);
    myDecrementIfPositive(&device->mReaderRunning);
    pthread_mutex_lock(&device->mReplyMutex);
    pthread_cond_signal(&device->mReplyCondition);
    pthread_mutex_unlock(&device->mReplyMutex);
    int waits = 0;
    while (load(device->mReaderAlive) != 0 && waits < 10000) {
      sleepMs(10);
      waits++;
    }
    if (load(device->mReaderAlive) != 0) SysBeep(1);
  }
  store(device->mReplyBusy, 0);
}

Boolean myDecrementIfPositive(SInt32* counter) {
  SInt32 seen = std::atomic_ref<SInt32>(*counter).load();
  while (seen > 0) {
    if (CompareAndSwap(seen, seen - 1, counter)) return 1;
    seen = std::atomic_ref<SInt32>(*counter).load();
  }
  return 0;
}
