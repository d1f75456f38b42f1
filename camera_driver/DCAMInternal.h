// Routines shared inside the camera library.
#pragma once
#include "camera_driver/DCAMCameraStruct.h"

constexpr UInt32 kDCAMUSBVendor = 0x1E10;
constexpr OSStatus kDCAMBusyErr = -9074;

// ---- register access (offset from the command base, or absolute) ----
OSStatus myGetRegisterQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32* value);
OSStatus mySetRegisterQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32 value);
OSStatus myGetAddressQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, UInt32* value);
OSStatus mySetAddressQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, UInt32 value);
OSStatus myUSBReadControlPipeQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32* value);
OSStatus myUSBWriteControlPipeQuadlet(MyDCAMCameraStruct* camera, UInt32 offset, UInt32 value);

// ---- capability block ----
void myExtractDCAMProperties(MyDCAMCameraStruct* camera);
void myCheckAbsProperty(MyDCAMCameraStruct* camera, UInt32 featureOffset, UInt32* absoluteOffset,
                        UInt8* absoluteCapable);

// ---- listing and identity ----
CFMutableDictionaryRef myCreateMatchingDictionary(UInt32 unitSpecID);
OSStatus myExtractIIDCProductName(IOFireWireLibConfigDirectoryRef unitDependentDirectory, char name[80]);
OSStatus myGetUSBCameraProperties(io_service_t device, UInt8* inUse, UInt32* cameraID, char name[80]);
OSStatus myGetUSBStringDescriptor(IOUSBDeviceRef device, UInt8 index, char* buffer, UInt32 bufferLength,
                                  UInt16 languageID);
// The serial number as the id: base-16 text with unsigned 32-bit semantics
// (more than 8 hex digits saturate to 0xFFFFFFFF).
UInt32 myParseUSBSerial(const char* serial);

// ---- the I/O thread ----
// Test-only pause point: while non-zero the I/O thread, once told to stop,
// stays alive (so a stop that times out can be shown).
extern SInt32 gDCAMTestHoldIOThreadExit;
void* myISOCHThreadLoop(void* camera);
OSStatus myStartIOThread(MyDCAMCameraStruct* camera);
// True when the thread has left (or never ran); false after 1000 polls.
bool myStopIOThread(MyDCAMCameraStruct* camera);

// ---- bus objects ----
// False when the I/O thread did not leave: nothing it may still use was freed.
bool myFinalizeFWInterface(MyDCAMCameraStruct* camera);
void myFinalizeUSBDevice(MyDCAMCameraStruct* camera);

// ---- formats, modes, rates (Format 7 blocks, geometry, the frame ring) ----
// The fixed-mode table: false for a format or mode without an entry. Bytes
// per packet is 0 when the rate index exceeds the mode's top rate.
bool myCameraFMToPixParams(UInt32 format, UInt32 mode, UInt32 rateIndex, UInt32* width, UInt32* height,
                           OSType* code, UInt32* bits, UInt32* bytesPerPacket);
UInt32 myRateIndexFromFPS(double fps);
double myFPSFromRateIndex(UInt32 rateIndex);
// 0, -1 (format above 2), -2 (mode unknown or unsupported), -3 (no rate).
OSStatus myGetValidCameraRate(const MyDCAMCameraPropertiesStruct* properties, UInt32 format, UInt32 mode,
                              UInt32* rateIndex);
UInt32 myPacketsPerSegment(UInt32 packetsPerFrame);
OSStatus myGetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo);
OSStatus myGetModeSevenCapabilities(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* maxWidth, UInt32* maxHeight,
                                    UInt32* unitWidth, UInt32* unitHeight, UInt32* unitPosWidth,
                                    UInt32* unitPosHeight, UInt32* packetUnit, UInt32* packetMax,
                                    UInt32* codingBits);
// Test-only: the sleeps between register writes, in µs (10 ms and 30 ms).
extern UInt32 gDCAMWriteSpacingMicros;
extern UInt32 gDCAMValueSettingPollMicros;

// ---- stopping and restarting a stream around reprogramming ----
// Stops transmission and releases the receive path, remembering both; a
// stop that finds the frame callback still running gives -9074.
OSStatus myStopForReprogramming(MyDCAMCameraStruct* camera, bool* wasTransmitting, bool* hadChannel);
OSStatus myRestartAfterReprogramming(MyDCAMCameraStruct* camera, bool wasTransmitting, bool hadChannel);

// ---- receive path and delivery: no-ops while nothing of them is allocated ----
void myFinalizeISOCHChanel(MyDCAMCameraStruct* camera);
// False when the delivery thread did not leave.
bool myDeallocateWFFSThread(MyDCAMCameraStruct* camera);
// False when the USB I/O thread did not leave (its objects are then kept).
bool myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera);

// ---- frame delivery ----
void* myWFFS(void* camera);
OSStatus myStartStopChannel(MyDCAMCameraStruct* camera, UInt32 on);
// The delivery mutex and condition live from the first assigned callback to
// close, so the I/O side can always signal them.
void myDestroyWFFSObjects(MyDCAMCameraStruct* camera);
// A frame is complete in the filling slot: when the callback is not busy
// (and, with `needEnabled`, delivery is enabled) it becomes the delivered
// slot, the ring advances and the delivery thread is woken once.
void myAdvanceRingAndSignal(MyDCAMCameraStruct* camera, bool needEnabled);
// Polls every 1 ms while the frame callback runs; false after the bound.
bool myWaitForCallbackIdle(MyDCAMCameraStruct* camera);
// Polls allowed for a running callback or a leaving delivery thread (10000
// x 1 ms); tests shorten it.
extern UInt32 gDCAMCallbackWaitPolls;
// Test-only pause points of the delivery thread (null in the product):
// where 0 = after the run test, before waiting; 1 = after waking with a
// frame ready, before raising the busy count.
extern void (*volatile gDCAMTestWFFSPausePoint)(MyDCAMCameraStruct* camera, int where);

// ---- USB bulk reception ----
OSStatus myStartQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera, UInt8 pipe);
void myQueBulKPipeDataCallBackFunction(void* refCon, IOReturn result, void* arg0);
UInt32 myUSBBulkReadSize(UInt32 frameBytes, UInt32 maxPacketSize);
// Whether a completion of `bytes` is a whole frame.
bool myUSBIsGoodFrame(UInt32 frameBytes, UInt32 readSize, IOReturn status, UInt32 bytes);

// ---- FireWire isochronous reception ----
// Each received packet has a slot of its own: the header quadlet, then the
// payload. The largest payload is what a slot holds beside its header.
constexpr UInt32 kDCAMPacketSlotBytes = 16384;
constexpr UInt32 kDCAMIsochHeaderBytes = 4;
constexpr UInt32 kDCAMLargestIsochPayload = kDCAMPacketSlotBytes - kDCAMIsochHeaderBytes;
// The per-segment work of the handler: `packets` slots of 16384 bytes
// (big-endian header quadlet, then payload) and the segment's time stamp.
void myProcessIsochSegment(MyDCAMCameraStruct* camera, UInt8* segment, UInt32 timeStamp, UInt32 packets);
// Each 16-bit sample shifted left (0 for shifts of 16 or more); unaligned
// buffers are fine.
void myUpshiftPacketData(const UInt16* source, UInt16* destination, UInt32 byteCount, UInt32 shift);
// One pass from a packet into the slot: each 16-bit sample byte-swapped (swap
// non-zero) and shifted left. The same bytes as mySwap16InPlace on the source
// and then myUpshiftPacketData (shift > 0) or a plain copy (shift 0): with a
// shift an odd last byte is left alone, without one it is copied unswapped.
void myCopyPacketSamples16(const UInt8* source, UInt8* destination, UInt32 byteCount, UInt32 swap,
                           UInt32 shift);
// Register 0x60C for a speed code and channel (legacy or 1394b form).
UInt32 myIsochChannelRegister(UInt32 speed, UInt32 channel);
// The I/O thread's time-constraint policy for one segment of `packets`;
// false when it cannot be computed (no bus clock rate).
bool myIsochTimeConstraint(UInt32 numer, UInt32 denom, UInt32 packets, double processorMHz, double busHz,
                           UInt32* period, UInt32* computation, UInt32* constraint);
OSStatus myInitializeISOCHChanel(MyDCAMCameraStruct* camera);
// Test-only pause point at the start of every segment handler (null in the
// product).
extern void (*volatile gDCAMTestIsochHandlerPausePoint)();
OSStatus myStartFWStream(MyDCAMCameraStruct* camera);
void myStopFWStream(MyDCAMCameraStruct* camera);

// ---- frame timing ----
// Host-order conversion of 16-bit wire samples in place.
void mySwap16InPlace(UInt8* bytes, UInt32 count);
constexpr bool kDCAMHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// ---- atomics on the handle's shared 32-bit fields ----
inline SInt32 myAtomicLoad(const SInt32* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void myAtomicStore(SInt32* p, SInt32 v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }
// Any other field shared between the main, I/O and delivery threads (byte
// flags, slot indices, the callback, the timing doubles).
template <typename T>
inline T myALoad(const T* p) {
  T v;
  __atomic_load(p, &v, __ATOMIC_SEQ_CST);
  return v;
}
template <typename T>
inline void myAStore(T* p, T v) {
  __atomic_store(p, &v, __ATOMIC_SEQ_CST);
}
// Lowers a 0/1 flag when set; true when this call lowered it.
inline bool myAtomicClearFlag(SInt32* p) {
  SInt32 expected = 1;
  return __atomic_compare_exchange_n(p, &expected, 0, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}
