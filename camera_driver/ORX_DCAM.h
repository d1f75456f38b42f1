// The camera library: IIDC cameras on FireWire and USB cameras of vendor
// 0x1E10 that speak the same register set. Cameras are listed, opened by
// their 32-bit id, programmed through their registers and closed again; the
// handle (MyDCAMCameraStruct, DCAMCameraStruct.h) holds everything that
// belongs to one open camera.
//
// Threads: listing, opening and closing run on the caller's thread (the
// application's main thread). Register access may come from any thread; a
// second access of the same kind while one is in progress anywhere in the
// process answers -9074 at once instead of waiting.
#pragma once
#include <cstddef>

#include "platform/coreservices/MacTypes.h"

struct MyDCAMCameraStruct;

// ---- the camera list ----
constexpr UInt32 kDCAMMaxCameras = 31;

struct MyDCAMCameraListEntry {
  UInt8 mInUse;       // 1: held open by another program (its name could not be read)
  UInt32 mVendor;     // FireWire: GUID high word; USB: 0x1E10
  UInt32 mCameraID;   // FireWire: GUID low word; USB: the serial number read as hex
  char mName[80];     // at most 79 characters, NUL-terminated
};

struct MyDCAMCameraListStruct {
  UInt32 mCount;
  MyDCAMCameraListEntry mEntries[kDCAMMaxCameras];
};

// ---- the capability block (384 bytes, byte flags 0 or 1) ----
// Features, in the block's order; kDCAMFeatureInquiry gives each one's
// inquiry register (offset from the command base).
enum : UInt32 {
  kDCAMBrightness, kDCAMAutoExposure, kDCAMSharpness, kDCAMWhiteBalance, kDCAMHue, kDCAMSaturation,
  kDCAMGain, kDCAMGamma, kDCAMShutter, kDCAMIris, kDCAMFocus, kDCAMTemperature, kDCAMTrigger,
  kDCAMZoom, kDCAMPan, kDCAMTilt, kDCAMOpticalFilter, kDCAMTriggerDelay, kDCAMWhiteShading,
  kDCAMFrameRate, kDCAMFeatureCount
};
extern const UInt32 kDCAMFeatureInquiry[kDCAMFeatureCount];

struct MyDCAMFormatProperties {
  UInt8 mFormatSupported;
  UInt8 mModeSupported[8];
  UInt8 mRateSupported[8][8];  // [mode][rate index 0 = 1.875 .. 7 = 240 fps]
};

struct MyDCAMCameraPropertiesStruct {
  UInt32 mVersion;                         // 0x00030000 (native order)
  MyDCAMFormatProperties mFormat[3];       // Formats 0, 1, 2
  UInt8 mFormat7Supported;
  UInt8 mFormat7ModeSupported[32];
  UInt8 mFeaturePresent[kDCAMFeatureCount];
  // Identity, filled at opening (these bytes were reserved).
  UInt32 mCameraID;                        // the id that opens the camera
  UInt32 mVendor;                          // FireWire: GUID high word; USB: 0x1E10
  char mName[80];
  UInt8 mAbsoluteCapable[kDCAMFeatureCount];
};
static_assert(offsetof(MyDCAMCameraPropertiesStruct, mFormat) == 4);
static_assert(offsetof(MyDCAMCameraPropertiesStruct, mFormat7Supported) == 223);
static_assert(offsetof(MyDCAMCameraPropertiesStruct, mFeaturePresent) == 256);
static_assert(offsetof(MyDCAMCameraPropertiesStruct, mCameraID) == 276);
static_assert(offsetof(MyDCAMCameraPropertiesStruct, mAbsoluteCapable) == 364);
static_assert(sizeof(MyDCAMCameraPropertiesStruct) == 384);

// ---- the frame callback ----
// Called on the delivery thread with width, height, frame bytes, the frame
// (valid only during the call), the reference value given when it was
// assigned, the last frame interval and the accumulated time (ms).
typedef void (*MyDCAMFrameCallback)(UInt32 width, UInt32 height, UInt32 byteCount, void* frame,
                                    void* refCon, double interval, double accumulated);

// ---- camera features ----
// A feature is named by its inquiry register's offset from the command base
// (0x500 brightness, 0x50C white balance, 0x51C shutter, 0x520 gain, 0x52C
// temperature, 0x530 trigger, ...). Selectors of the value operations:
// 0 value, 1 auto, 2 on/off, 3 one-push, 4 and 5 the white balance's U/B
// and V/R halves, 6 and 7 the temperature's target and current value (7 is
// read only), 8 trigger polarity, 9 trigger mode, 10 trigger parameter,
// 12 trigger source; the absolute operations take 0 (value) and 11
// (absolute control on, 1.0, or off, 0.0).
// Results: -2201 when the feature, its capability for the selector, the
// selector or the absolute block is missing; -50 for a value outside the
// camera's range, an offset outside the feature registers, or white balance
// read while the camera balances by itself; register statuses pass through.
OSStatus ORX_DCAM_GetPropertyCapability(MyDCAMCameraStruct* camera, SInt32 feature, UInt32* min, UInt32* max,
                                        UInt8* onePush, UInt8* readOut, UInt8* onOff, UInt8* autoMode,
                                        UInt8* manual);
OSStatus ORX_DCAM_GetPropertyValue(MyDCAMCameraStruct* camera, SInt32 feature, SInt32 selector, UInt32* value);
// Value writes switch the feature on and (except the selectors that move a
// single bit) to manual.
OSStatus ORX_DCAM_SetPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector, UInt32 value);
OSStatus ORX_DCAM_GetABSPropertyCapability(MyDCAMCameraStruct* camera, UInt32 feature, float* min, float* max,
                                           UInt8* readOut, UInt8* manual);
OSStatus ORX_DCAM_GetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, float* value);
// Selector 0 clamps the value to the camera's absolute range.
OSStatus ORX_DCAM_SetABSPropertyValue(MyDCAMCameraStruct* camera, UInt32 feature, UInt32 selector, double value);

// ---- streaming ----
// The order a client follows: open, set a format (ORX_DCAM_SetFMR or
// ORX_DCAM_SetModeSeven), ORX_DCAM_StartStopISOCHTransfer(1), assign the
// callback, ORX_DCAM_StartStopVideo(1); frames then arrive on the delivery
// thread. Shutdown runs the same steps backwards. The callback must not
// pause, stop or reassign delivery of its own camera.
//
// A null callback stops delivery and leaves no delivery thread. -9074 when
// the old callback did not return in time (delivery then stays disabled).
OSStatus ORX_DCAM_AssignCallback(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback, void* refCon);
// run 1 resumes (from the next frame start), 0 pauses and restarts the
// accumulated time. -50 before a format is set; -9074 when a pause finds
// the callback still running after about 10 s.
OSStatus ORX_DCAM_ResumePauseVideo(MyDCAMCameraStruct* camera, UInt32 run);
// Allocates (1) or releases (other values) the receive path: the
// isochronous channel on FireWire, the queued bulk reads on USB. -50 before
// a format is set.
OSStatus ORX_DCAM_StartStopISOCHTransfer(MyDCAMCameraStruct* camera, UInt32 on);
// Starts (1) or stops (0) the camera's transmission. -50 unless a format is
// set and the receive path allocated; -9074 when a stop finds the callback
// still running after about 10 s.
OSStatus ORX_DCAM_StartStopVideo(MyDCAMCameraStruct* camera, UInt32 on);
// FireWire 16-bit frames: shift samples up by 0..7 bits (-50 above 7), and
// swap their bytes against the usual host order. Both apply from the next
// packet on.
OSStatus ORX_DCAM_SixteenBitUpShiftAmount(MyDCAMCameraStruct* camera, UInt32 shift);
OSStatus ORX_DCAM_SixteenBitEndianSwap(MyDCAMCameraStruct* camera, UInt32 swap);

// ---- operations ----
// Fills the caller's list: FireWire cameras first, then USB cameras.
// 0xE00002C0 for a null list; -108 (and an empty list) when a FireWire unit
// has no GUID; otherwise 0 or the status of the step that ended a pass.
OSStatus ORX_DCAM_GetListOfCameras(MyDCAMCameraListStruct* list);
// The handle, or null when no camera has the id or it cannot be opened.
MyDCAMCameraStruct* ORX_DCAM_OpenACamera(UInt32 cameraID);
// 0, 0xE00002C0 for a null handle, or -9074 when the camera's I/O thread
// did not leave (the handle is then kept rather than freed under it).
OSStatus ORX_DCAM_CloseACamera(MyDCAMCameraStruct* camera);
// absolute == 1: (addressHi, addressLo) is the register's bus address;
// otherwise addressLo is an offset from the command base.
OSStatus ORX_DCAM_ReadQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                              UInt32* value);
OSStatus ORX_DCAM_WriteQuadlet(MyDCAMCameraStruct* camera, UInt32 addressHi, UInt32 addressLo, SInt32 absolute,
                               UInt32 value);

// ---- formats, modes and rates ----
// Rate indices 0..7 stand for 1.875, 3.75, 7.5, 15, 30, 60, 120, 240 fps; a
// requested rate the mode lacks falls back to a supported one. -2201 when
// the format, mode or rate is not available.
OSStatus ORX_DCAM_SetFMR(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps);
// A Format 7 region (width or height 0: the whole sensor along that axis),
// colour coding id and bytes per packet (0: the largest allowed). -50 when
// the camera refuses the region, coding or packet size.
OSStatus ORX_DCAM_SetModeSeven(MyDCAMCameraStruct* camera, UInt32 mode, UInt32 left, UInt32 top, UInt32 width,
                               UInt32 height, UInt32 colorCodingID, UInt32 bytesPerPacket);
// Nine results, in this order: maximum width, maximum height, unit width,
// unit height, unit-position width, unit-position height, packet unit
// (bytes-per-packet step), packet maximum, colour-coding bits (bit 31 -
// id). Formats above 2 mean Format 7 (the rate is then ignored); for fixed
// formats a rate the mode lacks gives the validator's -1, -2 or -3.
OSStatus ORX_DCAM_GetFMRProperties(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps,
                                   UInt32* maxWidth, UInt32* maxHeight, UInt32* unitWidth, UInt32* unitHeight,
                                   UInt32* unitPosWidth, UInt32* unitPosHeight, UInt32* packetUnit,
                                   UInt32* packetMax, UInt32* codingBits);
// The current settings: format, mode, frames per second (Format 7: bytes per
// packet x 8000 / frame bytes), region, camera pixel-format code and bits
// per pixel. -50 before a format is set.
OSStatus ORX_DCAM_GetFMRWHOB(MyDCAMCameraStruct* camera, UInt32* format, UInt32* mode, double* fps, UInt32* left,
                             UInt32* top, UInt32* width, UInt32* height, UInt32* pixelFormat, UInt32* bits);
// The address low word of a Format 7 mode's register block (high word 0xFFFF).
OSStatus ORX_DCAM_GetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo);
