// Starting and stopping live video on an open camera.
//
// myStartCamera takes an idle camera to live video: the long-exposure
// sensor's set-up registers, the sample options, format, mode and rate, the
// geometry, the buffers, the video window, the 20 ms display timer and the
// frame callback; then the control window's controls for a running camera.
// A failing step reports the error once (an alert) and leaves in place what
// was done before it; the record notes what was acquired (channel,
// transmission, callback, timer, buffers), and myStopCamera gives back each
// of them whether or not the start reached the running state.
//
// myStopCamera undoes a start in reverse order: grabs, recording,
// long exposures and the display timer first (frames still arrive until the
// callback is taken away), then delivery, transmission, the channel and the
// buffers, then the controls. Both run on the main thread. Their 100 ms
// register settle waits go through gMyCameraSettleSleep.
#pragma once
#include <cstddef>

#include "app/CameraWindowData.h"
#include "camera_driver/ORX_DCAM.h"
#include "platform/hitoolbox/HIToolbox.h"

// The driver's answer when the bus has no bandwidth left for the channel.
constexpr OSStatus kMyNoBandwidthErr = OSStatus(0xE00002DB);

// format, mode and fps appear only in the diagnostic; the record's own
// settings are programmed. 0, or the status of the step that failed (after
// its alert: "NOBANDWIDTH" for a full bus, else the numeric one).
OSStatus myStartCamera(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, double fps);
// Always 0.
OSStatus myStopCamera(MyCameraWindowDataStruct* record);

// ---- tests ----
// Test-only (null in the product): the buffers' allocator (malloc), the
// display timer's installation (InstallEventLoopTimer) and the callback's
// assignment at start (ORXDCAMAssignCallback).
extern void* (*volatile gMyVideoStartAllocate)(size_t bytes);
extern OSStatus (*volatile gMyVideoStartInstallTimer)(EventLoopRef loop, EventTimerInterval delay,
                                                      EventTimerInterval interval, EventLoopTimerUPP proc,
                                                      void* userData, EventLoopTimerRef* timer);
extern OSStatus (*volatile gMyVideoStartAssignCallback)(MyDCAMCameraStruct* camera, MyDCAMFrameCallback callback,
                                                        void* refCon);
