// Drawing the live preview window: the zoomed and scrolled frame, the marks
// laid over it (saturated pixels, the software region, the centring reticle,
// the guiding marks, the tracking path, the FWHM/HFD circles and the
// brightness area) and the status texts; after the picture the histogram and
// one step of automatic exposure.
//
// Drawing is in the window context's user space (origin bottom left, y up).
// A frame pixel (x, y), y from the top of the frame, is drawn at
//   X = x * z - mScrollOffset.h,  Y = Hd - y * z + mScrollOffset.v
// with z = mZoomScale and Hd the height of the drawn image. Frames are ARGB32:
// four bytes a pixel, A, R, G, B in memory. Main thread only.
#pragma once

#include "app/CameraWindowData.h"
#include "platform/atsui/ATSUnicode.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"  // RGBColor

// Fills the 256-entry colourize table: entry i turns grey level i into an
// opaque pixel tinted by the colour, each channel trunc(component / 65535 * i)
// capped at 255. Each entry's four bytes in memory are A, R, G, B, so copying
// an entry writes one ARGB32 pixel.
void myFillInCourizedARGB32Table(UInt32* table, RGBColor colour);

// Redraws the preview window from the frame (ARGB32, mWidth x 4 row bytes);
// the saturation marks are written into the frame itself. A null frame draws
// nothing; the histogram and the automatic-exposure step still run.
void myDrawVideoPreview(MyCameraWindowDataStruct* record, void* frame);

// Zoom factor of zoom item 3 (0.25) .. 9 (8.0); item 10 fits the frame to the
// main screen's available area less 32 points of height (1.0 when the area
// cannot be had). Other items: 1.0.
float myZoomMenuToScaleValue(MyCameraWindowDataStruct* record, SInt16 item);

// Fits the preview's scroll bars to the window's content size after a resize
// or zoom, clamping and (when 0) centring the scroll offsets. -50 when the
// window carries no camera record.
OSStatus myReSizePreviewWindowControls(WindowRef window);

// Adds a cross to the context's path. Style 1 leaves a 12-point gap at the
// centre; other styles draw two full strokes.
void myDrawCross(CGContextRef context, float x, float y, float halfSize, SInt32 style);

// ---- steps of the redraw, for the redraw itself, tests and benchmarks ----
// Paints every pixel of the columns x rows region whose red, green or blue
// byte is at least cutoff - 1 (0 for a cut-off of 0) opaque red.
void myMarkSaturatedPixels(UInt8* region, UInt32 columns, UInt32 rows, size_t rowBytes, UInt32 cutoff);
// The long-exposure kind's slider position for an exposure of e ms at the
// iris rate code, before truncation and clamping.
double myTSLV1501ExposureToSliderValue(double e, UInt32 rateCode);
// One automatic-exposure step when one is pending (step 16 of the redraw).
void myDoAutoExposureStep(MyCameraWindowDataStruct* record);

// ---- text ----
// A bold-or-plain "Lucida Grande" style of the size and colour; 0 or the
// status of the first step that failed (nothing is left made then).
OSStatus myCreateATSUISTyle(SInt32 size, UInt8 bold, UInt16 red, UInt16 green, UInt16 blue, ATSUStyle* style);
// The record's four overlay styles, as the camera's opening makes them; a
// failure disposes of those made and is returned.
OSStatus myCreatePreviewTextStyles(MyCameraWindowDataStruct* record);
void myDisposePreviewTextStyles(MyCameraWindowDataStruct* record);
// Draws ASCII text with its baseline starting at (x, y); an empty or null
// text draws nothing.
void myDrawATSUIText(CGContextRef context, ATSUStyle style, float x, float y, const char* text);
// The recording counter and the sharpness line over the drawn image rect.
void myDrawPreviewWindowText(MyCameraWindowDataStruct* record, CGContextRef context, CGRect imageRect);
// The tracked object's path, from green at the first point to red.
void myDrawTrackingAnalysis(MyCameraWindowDataStruct* record, CGContextRef context, CGRect imageRect);
