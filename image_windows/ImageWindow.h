// The image window: one 16-bit colour picture shown through the processing
// settings, with its control window ("ImageControls") and its measurement
// window ("PhotometryWindow"), made from the nib "ORX_DCAM" and kept in one
// window group. Creation, layout, disposal, drawing and the callbacks of the
// windows' controls. Main thread only.
#pragma once
#include "image_windows/ImageWindowRecord.h"
#include "platform/hitoolbox/HIToolbox.h"

// Takes luma (Luma16), rgb (RGB48) and lrgb (LRGB64), each made with
// myAllocateImagePlane, and opens the window: 0, and the buffers belong to
// the window; otherwise -108 (memory) or the status of the nib or event call
// that failed, no window is left and the buffers stay the caller's.
OSStatus myMakeImageWindow(FSRef fileRef, UInt16* luma, UInt16* rgb, UInt16* lrgb, UInt32 width,
                           UInt32 height, Boolean greenOffsetsLocked);
// Clamps the scroll position to the port and lays out the scroll bars; -50
// for a window without a record.
OSStatus myReSizeImageWindowControls(WindowRef imageWindow);
// Stores the settings and closes the three windows; -128 for a null record
// or one that is not an image window's.
OSStatus myDisposeImageWindow(MyImageWindowDataStruct* record);

// Renders (when preview is on; else shows the source), reduces to ARGB32 and
// draws. Does nothing until the window is ready.
void myRenderRGB48ToWindow(MyImageWindowDataStruct* record);
// Draws mDisplayARGB32 into the image window at the zoom and scroll position.
void myDrawImageWindow(MyImageWindowDataStruct* record);
// Star marks in the context's coordinates (origin bottom left): three circles
// of radii r1 = 1.58 radius, 1.5 r1 and 2.2 r1 with the value "%5.3f" at
// (x + 2.2 r1 + 4, y); or one circle of radius 1.58 radius.
void myDrawStarFWHM(float x, float y, float radius, float value, CGContextRef context);
void myDrawStarLocation(float x, float y, float radius, CGContextRef context);
// RGB48 to ARGB32 bytes: 255, then the high byte of each channel.
void myRGB48ToARGB32(const UInt16* rgb48, UInt8* argb32, UInt32 width, UInt32 height);

// Callbacks of the windows.
OSStatus myImageWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
void liveImageWindowScrollImageUPPProc(ControlRef control, ControlPartCode part);
ControlKeyFilterResult myImageDataKeyProc(ControlRef control, SInt16* keyCode, SInt16* charCode,
                                          EventModifiers* modifiers);
// Validates and applies one edit field of the control window; -9874 for a
// signature that is not one of its fields.
OSStatus myImageDataProcessEdTextFields(MyImageWindowDataStruct* record, OSType signature, SInt32 id);
void myDoLiveArrowChangeProc(ControlRef control, ControlPartCode part);
void myLiveSharpnessSliderProc(ControlRef control, ControlPartCode part);
// Moves the control by dx, dy pixels (each only when non-zero).
void myLocalOffsetControl(WindowRef window, OSType signature, SInt32 id, SInt32 dx, SInt32 dy);

// The position text of image pixel (x, y): RA and Dec once three known stars
// give a fit, else X and Y; labelled ("X:", "RA:", ...) or bare. Spaces of the
// fixed-width fields are written as '0'. out holds at least 128 bytes.
void myConvertPixelXYtoCoordsString(const MyImageWindowDataStruct* record, float x, float y, Boolean labelled,
                                    char* out);

// Slider position 1 .. 211 to a sharpening amount.
Float32 mySharpnessSliderAmount(SInt32 position);
