// Live measurements on the frame stream and the guide correction: the
// guide-star centroid, the focus figures (FWHM and HFD) for the preview
// overlay, and the step that turns an averaged position into guide pulses.
//
// All of it runs on the frame-delivery thread, on the camera record's
// fields. The pulse thread lowers mPulsesPending; calibration on the main
// thread takes positions through mTrackingPhase (see the record).
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MyCameraWindowDataStruct;

// Measures the guide object in the frame (8- or 16-bit samples of the
// record's geometry), averages its position over mFramesToAverage frames and
// hands it to the correction step (guiding on) or to calibration. 0.
OSStatus myGetImageTrackingCentroid(MyCameraWindowDataStruct* record, const void* frame);
// FWHM and HFD of the brightest star for the overlay. 0.
OSStatus myGetFWHMandHFD(MyCameraWindowDataStruct* record, const void* frame);

// One averaged position while guiding: the first of a run sets the start and
// writes the guiding-log header, later ones correct. The pulse start's
// result, or 0 when none was started.
OSStatus myMountCntlDeviceChangePosition(MyCameraWindowDataStruct* record, double x, double y);
// One axis, error in pixels: 1 when a pulse was started (*result its status).
Boolean myMountCntlDeviceCorrectRA(MyCameraWindowDataStruct* record, OSStatus* result, double error);
Boolean myMountCntlDeviceCorrectDEC(MyCameraWindowDataStruct* record, OSStatus* result, double error);

// Steps of the measurements, named so they can be checked alone.
//
// Thresholds from the plane's weighted levels: the limb threshold is
// trunc((p80 - p20) x 0.3) within [15, 200]; the star threshold is
// (p9999 + p80) / 2, or (p95 + p80) / 2 when p95 - p80 > 29, at most 200.
UInt32 myGuideLimbThreshold(UInt32 p80, UInt32 p20);
UInt32 myGuideStarThreshold(UInt32 p9999, UInt32 p95, UInt32 p80);
// The half-flux diameter of the star at the centroid (cx, cy) of a Mono8
// plane, given its FWHM and the background: the flux of the pixels above the
// background over a disc of radius 2.1 x FWHM centred on the nearest whole
// pixel, then the radius holding half of it, searched in half-pixel steps from
// 0.75 of that radius and interpolated. -1.0 when the disc does not fit in
// the plane; *peak is the largest pixel of the disc.
double myCalcHalfFluxDiameter8BitMono(const UInt8* plane, UInt32 rowBytes, UInt32 width, UInt32 height,
                                      double cx, double cy, double fwhm, UInt32 background, UInt32* peak);

// Test-only pause point (null in the product), called on the delivery thread
// with the place reached:
enum GuideTestPause : int {
  kGuidePauseAfterHandOff = 1,  // the centroid step has handed a position to calibration
  kGuidePauseMeasuring = 2,      // the frame is in the Mono8 plane, not yet measured
};
extern void (*volatile gGuideTestPausePoint)(int where);
