// Camera features inside the library: the IIDC feature register layout and
// the shared path of the auto, on/off and one-push selectors.
#pragma once
#include "camera_driver/DCAMCameraStruct.h"

// Feature inquiry register bits (0x500 + 4n).
constexpr UInt32 kDCAMInqPresent = 0x80000000u;   // 31
constexpr UInt32 kDCAMInqAbsolute = 0x40000000u;  // 30
constexpr UInt32 kDCAMInqOnePush = 0x10000000u;   // 28
constexpr UInt32 kDCAMInqReadOut = 0x08000000u;   // 27
constexpr UInt32 kDCAMInqOnOff = 0x04000000u;     // 26
constexpr UInt32 kDCAMInqAuto = 0x02000000u;      // 25 (trigger: polarity)
constexpr UInt32 kDCAMInqManual = 0x01000000u;    // 24

// Feature control register bits (inquiry + 0x300).
constexpr UInt32 kDCAMCtlPresent = 0x80000000u;   // 31
constexpr UInt32 kDCAMCtlAbsolute = 0x40000000u;  // 30
constexpr UInt32 kDCAMCtlOnePush = 0x04000000u;   // 26
constexpr UInt32 kDCAMCtlOn = 0x02000000u;        // 25
constexpr UInt32 kDCAMCtlAuto = 0x01000000u;      // 24 (trigger: polarity)
constexpr UInt32 kDCAMCtlWritten = kDCAMCtlPresent | kDCAMCtlOn;  // every value write: present, on

constexpr UInt32 kDCAMControlOffset = 0x300;
constexpr UInt32 kDCAMFirstFeature = 0x500;
constexpr UInt32 kDCAMLastFeature = 0x58C;

// The features whose control register has a layout of its own.
constexpr UInt32 kDCAMWhiteBalanceInquiry = 0x50C;
constexpr UInt32 kDCAMTemperatureInquiry = 0x52C;
constexpr UInt32 kDCAMTriggerInquiry = 0x530;

// Selectors of the value operations.
enum : SInt32 {
  kDCAMSelValue = 0,
  kDCAMSelAuto = 1,
  kDCAMSelOnOff = 2,
  kDCAMSelOnePush = 3,
  kDCAMSelWhiteBalanceUB = 4,
  kDCAMSelWhiteBalanceVR = 5,
  kDCAMSelTemperatureTarget = 6,
  kDCAMSelTemperatureCurrent = 7,
  kDCAMSelTriggerPolarity = 8,
  kDCAMSelTriggerMode = 9,
  kDCAMSelTriggerParameter = 10,
  kDCAMSelAbsoluteMode = 11,
  kDCAMSelTriggerSource = 12,
};

// Selectors 1, 2, 3 (auto, on/off, one-push): the inquiry word must carry
// the matching capability (bits 25, 26, 28), else -2201; any other selector
// is -2201. Reading gives the control bit (24, 25, 26) as 0 or 1; writing
// sets or clears only that bit and keeps every other bit as read.
OSStatus myGetCommonProps(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                          UInt32* value);
OSStatus mySetCommonProps(MyDCAMCameraStruct* camera, UInt32 inquiry, UInt32 feature, SInt32 selector,
                          UInt32 value);

// The index (0..19, the capability block's order) of a feature's inquiry
// offset, or -1 when the offset is none of the twenty.
int myFeatureIndex(UInt32 feature);
