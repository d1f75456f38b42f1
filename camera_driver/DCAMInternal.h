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
void* myISOCHThreadLoop(void* camera);
OSStatus myStartIOThread(MyDCAMCameraStruct* camera);
// True when the thread has left (or never ran); false after 1000 polls.
bool myStopIOThread(MyDCAMCameraStruct* camera);

// ---- bus objects ----
// False when the I/O thread did not leave: nothing it may still use was freed.
bool myFinalizeFWInterface(MyDCAMCameraStruct* camera);
void myFinalizeUSBDevice(MyDCAMCameraStruct* camera);

// ---- receive path and delivery: no-ops while nothing of them is allocated ----
void myFinalizeISOCHChanel(MyDCAMCameraStruct* camera);
// False when the delivery thread did not leave.
bool myDeallocateWFFSThread(MyDCAMCameraStruct* camera);
void myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera);

// ---- atomics on the handle's shared 32-bit fields ----
inline SInt32 myAtomicLoad(const SInt32* p) { return __atomic_load_n(p, __ATOMIC_SEQ_CST); }
inline void myAtomicStore(SInt32* p, SInt32 v) { __atomic_store_n(p, v, __ATOMIC_SEQ_CST); }
