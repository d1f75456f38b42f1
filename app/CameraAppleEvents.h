// Scripts drive a running camera through Apple events of class 'ORFW'. Each
// handler finds the camera control record, checks that the camera can take
// the command, starts it through the same routine as the control window and
// answers with one Boolean (direct parameter, 'bool'), written only when the
// sender waits for a reply. A refusal or failure is the script's false and a
// line on standard error; the Apple Event Manager always gets noErr.
//
// Main thread only. The average, flat and dark handlers return when their
// please-wait run has ended; a grab started by 'viGF' completes later on the
// display timer, and 'viCF' tells when it has.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/appleevents/AppleEvents.h"

constexpr AEEventClass kMyCameraEventClass = FOUR_CHAR_CODE("ORFW");

// Writes a handler's Boolean answer when the sender waits for one; returns
// the writing's status, or the action's when nothing was written.
OSStatus myAnswerCameraEvent(AppleEvent* reply, bool yes, OSStatus actionStatus);
// A handler's failure as a line on standard error ("ERR name status 0xhex").
void myReportCameraEventError(const char* name, OSStatus err);

// The first window, front to back, whose reference constant points at a
// camera control record (first word 1); null when there is none.
MyCameraWindowDataStruct* myFindCameraControlWindowDataPtr();

// 'viSR': starts a recording; true when it started (false while one runs).
OSErr myAEStartRecordMovie(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'viHR': stops the recording if one runs; true whenever the camera is ready.
OSErr myAEStopRecordMovie(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'viGF': arms a grab (time-out on unless the trigger grabs to disk); true
// when armed, false while a grab is pending.
OSErr myAEGrabFrame(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'viCF': true when no grab is in flight, or when the camera is not ready.
OSErr myAEGrabFrameCompleted(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'viAF', 'viFF', 'viDF': the exposure of the 'CCDB' pop-up, then the
// average (7), flat (3) or dark (2) collection; true when the exposure was
// set. The flat and dark runs then switch their 'UBRF' / 'UDKF' box.
OSErr myAEDoGrabAverageFrame(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
OSErr myAEDoFlatFrame(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
OSErr myAEDoDarkFrame(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
// 'viAS': applies settings slot 1..20 (direct parameter, 'long') while the
// settings menu (12) is enabled; true when it was applied.
OSErr myAEApplyCameraSettings(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);

// The eight events and their handlers, as start-up installs them.
struct MyCameraAppleEventEntry {
  AEEventID mEventID;
  AEEventHandlerProcPtr mHandler;
};
extern const MyCameraAppleEventEntry kMyCameraAppleEvents[8];
// Installs (removes) the eight handlers for class 'ORFW'; the first failing
// status, or 0.
OSErr myInstallCameraAppleEventHandlers();
OSErr myRemoveCameraAppleEventHandlers();
