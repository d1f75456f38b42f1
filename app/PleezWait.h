// The display timer of a running camera and the please-wait modes.
//
// myDisplayFrameTimer runs every 20 ms on the main event loop from the
// camera's start to its stop: it drives the please-wait window, shows the
// countdown of long exposures, ends recordings that must stop, completes or
// times out grabs and draws the newest preview.
//
// myDoPleezWait runs a collection mode over live frames in an app-modal loop
// on the "PleezWait" window ("PleezWaitTwo" for the brightness monitor):
//   1 sharpness reference  2 dark frame     3 flat frame    4 white balance
//   5 spot white balance   6 RA/Dec motion  7 average       8 sum
//   9 aligned average     10 aligned sum   11 brightness monitor
// The pipeline does the per-frame work on the delivery thread; the timer
// ends the loop when the pipeline reports done or an error, or the user
// presses Stop. Buffers the pipeline reads are freed only once its busy
// counters are 0.
#pragma once
#include <cstddef>

#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// The 20 ms timer; user data = the camera record (null: nothing).
void myDisplayFrameTimer(EventLoopTimerRef inTimer, void* inUserData);

void myDoPleezWait(MyCameraWindowDataStruct* record, UInt32 mode);
// Stop and the graph pop-up of the please-wait window; always eventNotHandledErr.
OSStatus myPleezWaitEventHandlerProc(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData);
// The progress bar 'BARR' set to value and redrawn.
void myUpdatePleezWaitWindow(WindowRef window, SInt32 value);
// Ends the brightness monitor's sampling and removes its graph timer.
void myRemoveBrighnessGraphBoxTimer(MyCameraWindowDataStruct* record);

// The brightness monitor's area (left, top, width, height) for a centre and
// an area size in a frame: clamped so it stays inside the frame.
void myBrightnessMonitorArea(float centreX, float centreY, UInt32 areaWidth, UInt32 areaHeight, UInt32 frameWidth,
                             UInt32 frameHeight, float area[4]);

// The pixel-format code a grab is saved with: the display format, or the
// high-quality colour code of the Bayer pattern.
UInt32 myGrabSavePixelFormat(const MyCameraWindowDataStruct* record);

// The control window's grab controls and menu 2's items 15-17 back as they
// are between grabs.
void myRestoreGrabControls(MyCameraWindowDataStruct* record);

// ---- tests ----
// The allocator of the please-wait buffers (malloc when null).
extern void* (*volatile gMyPleezWaitAllocate)(size_t bytes);
// The display timer's save of a grabbed frame (ORXDCAMSaveRAWFrametoDisk
// when null).
extern OSStatus (*volatile gMySaveGrabbedFrame)(MyDCAMCameraStruct* camera, const void* frame, UInt32 width,
                                                UInt32 height, UInt32 bitsPerPixel, FSSpec location, OSType saveKind,
                                                UInt32 pixelFormat);
