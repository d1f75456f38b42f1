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
void myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera);

// ---- atomics on the handle's shared 32-bit fields ----
inline SInt32 myAtomicLoad(const SInt32* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void myAtomicStore(SInt32* p, SInt32 v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }
