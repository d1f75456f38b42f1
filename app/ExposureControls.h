// Exposure, frame rate, format and the feature sliders of the control window.
//
// The exposure is chosen two ways: the exposure pop-up 'CCDB' (the exposure
// item: items up to mExposureItemLimit are frame periods of a rate, higher
// items long exposures up to one hour) and the exposure slider 'EXPO' id 0
// (the slider value: 0..511 on the long-exposure camera kind, 1..400 with an
// absolute shutter, the raw shutter value otherwise). 'EXPO' id 1 is the
// slider's label, id 2 the little arrows that step the shutter by 0.1 ms.
//
// Camera kinds, tested in this order: the long-exposure kind
// (mIsLongExposureCamera: exposure on feature 0x504, iris 0x524 holds a rate
// code, long exposures by stopping transmission), Point Grey (mIsPointGrey:
// shutter 0x51C with the frame-rate control switched off; long exposures by
// an extended shutter or, with mPGRLongExposureOn, by the trigger scheme),
// the vendor rule (mShutterByAbsolute: a long shutter at the slowest rate)
// and any other camera (exposure items change nothing).
//
// Everything runs on the main thread except myAnalyzeCCDExposure, which the
// frame pipeline calls on the delivery thread. Driver failures print one line
// on standard error and are returned.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// Waits between camera steps (40 and 100 ms); tests replace it.
extern void (*gMyCameraSettleSleep)(UInt64 micros);

// ---- tables ----
// Rate item 1..8 -> 1.875 x 2^(item-1) frames per second; any other -> 30.
double myRateItemFramesPerSecond(UInt32 item);
// The first rate item whose rate is at least fps (8 above 120).
UInt32 myRateItemForFramesPerSecond(double fps);
// Long exposure item of the shutter kinds -> ms (0, 61 and above: one hour).
double myShutterKindExposureMS(UInt32 item);
// Long exposure item of the long-exposure kind -> ms; an item it does not
// offer beeps once and gives 0.
double myLongExposureKindExposureMS(const MyCameraWindowDataStruct* record, UInt32 item);
// Slider value of the long-exposure kind and iris rate code -> ms.
double myCalcTSLV1501SliderValToExposTimeMS(UInt32 slider, UInt32 rateCode);
// The exposure item of the shortest menu time that is at least ms.
UInt32 myfindLongestIIDCExposuretime(double ms);

// ---- the exposure model ----
OSStatus mySetBaseCCDExposureTime(MyCameraWindowDataStruct* record, UInt32 item);
OSStatus mySet_IIDC_CCDExposureTime(MyCameraWindowDataStruct* record, UInt32 item);
OSStatus myToggleExposureTimes(MyCameraWindowDataStruct* record, UInt32 item);
// Applies a slider value and writes the 'EXPO'/1 label; the write's status.
OSStatus mySetCCDExposTime(MyCameraWindowDataStruct* record, UInt32 slider);
// free 1 switches the camera's frame-rate control off (the shutter may
// exceed the frame period), 0 on again. Nothing without m50HzCapable.
OSStatus mySetAbsoluteShutter(MyCameraWindowDataStruct* record, UInt32 free);
// mAbsShutterMin/Max from the camera (or the mode), mAbsShutterValue clamped.
OSStatus myGetIIDCMinMaxExposureTime(MyCameraWindowDataStruct* record);

// ---- exposure menu, arrows, sliders and automatic exposure ----
void mySetUpIIDC_CCDExpTimeMenu(MenuRef menu, double longestMS);
// unit 0 ms, 1 s, 2 min, 3 h (localized "MILLISECOND" .. "HOUR").
void myAppendMenuTime(MenuRef menu, double value, UInt32 unit);
OSStatus mySetExposureArrowControllerMinMaxValue(MyCameraWindowDataStruct* record);
void myDoExposureArrowChangeProc(ControlRef control, ControlPartCode part);
void myLiveDCamControlProc(ControlRef control, ControlPartCode part);
// Delivery thread, once a frame while the automatic exposure is on.
void myAnalyzeCCDExposure(MyCameraWindowDataStruct* record, const void* frame);

// ---- format, mode and frame rate ----
OSStatus mySetCameraFMRByIndexItem(MyCameraWindowDataStruct* record, SInt32 index);
OSStatus mySetIIDCCameraFmtModeFR(double fps, MyCameraWindowDataStruct* record);
// -50 for a frame of 0 bytes or a packet unit of 0.
OSStatus myGetClosestPacketSizeForDesiredFrameRate(UInt32 maxPacket, UInt32 unitPacket, UInt32 frameBytes,
                                                   double fps, UInt32* packet, double* actualFps);
OSStatus mySetCameraOptimizedRate(MyCameraWindowDataStruct* record, UInt32 slowest);
OSStatus myAdjustFor50HzFrameRate(MyCameraWindowDataStruct* record);
void myChangeIIDCFrameRateMenuItems(MyCameraWindowDataStruct* record);
// 0, or the status of finding the 'FORT' and 'FRAM' pop-ups.
OSStatus mySetFMRMenus(MyCameraWindowDataStruct* record);
OSStatus mySetUpFrameRate_ExposMenu(MyCameraWindowDataStruct* record, UInt32 initial);

// ---- feature sliders ----
OSStatus mySetUpDCAMControls(MyCameraWindowDataStruct* record, OSType signature, UInt32 feature, SInt32 selector);
OSStatus myRefreshControls(MyCameraWindowDataStruct* record);
void myRefreshControlsForMono_ColorChanges(MyCameraWindowDataStruct* record);
