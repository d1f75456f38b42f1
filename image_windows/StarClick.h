// Measuring a star by clicking it in an image window, and calibrating
// magnitudes and sky positions from up to three known stars. Main thread only.
#pragma once
#include "image_windows/ImageWindowRecord.h"
#include "platform/hitoolbox/HIToolbox.h"

// The record of the known-star sheet "GetRADECMag", alive while it is up.
struct MyKnownStarEntryStruct {
  WindowRef mSheetWindow;
  UInt8 mUseRADec;      // check box 'CRDX'
  Float32 mRA;          // arc seconds
  Float32 mDec;         // arc seconds, negative south
  UInt8 mUseMagnitude;  // check box 'MAGX'
  Float32 mMagnitude;
  SInt32 mResult;  // 0 accepted, -128 cancelled
};

// A content click at a point of the window's content: -9874 when the click
// is not taken and after every measuring click; 0 after a known-star click,
// or the error of its sheet.
OSStatus myDoMouseClickInImageWindow(Point where, MyImageWindowDataStruct* record);
// Measures the star next to image point (x, y) on the measurement plane:
// 1 and the star fields filled, or 0 (an edge refusal posts an alert).
SInt32 myGetFWHMMagImageWindowClick(float x, float y, MyImageWindowDataStruct* record);
// The measurement window's text lines: cleared, or ids 0 to 6 filled.
void myFillInCoodinates(MyImageWindowDataStruct* record, Boolean clear, float x, float y, SInt32 halfMax,
                        float fwhm, float hfd, SInt32 background, SInt32 backgroundCount, float starSum,
                        SInt32 starPixels, float magnitude, float magError, SInt32 peak);
OSStatus myImagePhotoAstroMetricsWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);

// The known-star sheet's command handler and its fields' key filter.
OSStatus myGetCoordsMagUserValuesProcHandler(EventHandlerCallRef call, EventRef event, void* userData);
ControlKeyFilterResult myGetCoordsMagUserValuesDataKeyProc(ControlRef control, SInt16* keyCode, SInt16* charCode,
                                                           EventModifiers* modifiers);
// Chooses the base star from the known stars that have a magnitude.
void myProcessMagEntries(MyImageWindowDataStruct* record);
// Least-squares line y = slope x + intercept and the residual variance
// (n - 2 degrees of freedom; 0 below three points). -1 when n < 2 or an array
// is missing, the outputs untouched.
SInt32 myDoLinearRegression(const float* x, const float* y, SInt32 n, float* slope, float* intercept,
                            float* variance);
