// The scope-control block: all state of one scope-control run (the guiding
// window open on a camera), reached through the camera record's mpMCBSPtr.
//
// Threads: the run is built and torn down on the main thread. The drift
// histories and mHistoryStart are written by the correction step on the
// delivery thread and read by the strip chart on the main thread, so both
// sides go through std::atomic_ref (single entries and the countdown are
// values only: relaxed).
#pragma once
#include "guiding/Guiding.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

struct MyCameraWindowDataStruct;

// Kind tag in the first word (the camera record's is 1).
constexpr UInt32 kMCBSKind = 2;
// Entries in each drift history; mHistoryStart at this value means empty.
constexpr UInt32 kMCBSHistoryLength = 180;

struct MCBS {
  UInt32 mKind;  // kMCBSKind
  WindowRef mWindow;  // "LXControls"; null when not created
  EventHandlerUPP mWindowHandlerUPP;
  EventHandlerRef mWindowHandlerRef;
  HIObjectClassRef myGuideHistogramToolboxObjectClassRef;  // "com.skyloom.guide.histogram"
  EventHandlerUPP mGuideHistogramHandlerUPP;
  HIObjectRef mGuideHistogramInstance;
  HIViewRef mGuideHistogramView;
  UInt8 mMoveLeft;  // manual-move buttons latched on (1) or off
  UInt8 mMoveRight;
  UInt8 mMoveUp;
  UInt8 mMoveDown;
  MyCameraWindowDataStruct* mCameraRecord;
  MountCntlDevice* mMountDevice;
  UInt32 mCalibrationTicks;
  SInt32 mCalibrationStage;  // negative after a failure
  double mCalibrationMoveMs;
  double mCalibrationMoveMsA;  // command 1 (west; also Dec moves)
  double mCalibrationMoveMsB;  // command 0 (east)
  float mCalibrationPositions[3][2];  // P0, P1, P2 as (x, y)
  SInt16 mTrackBoxBounds[4];  // top, left, bottom, right of 'TRBX'
  EventLoopTimerUPP mTrackBoxTimerUPP;
  EventLoopTimerRef mTrackBoxTimer;
  UInt32 mHistoryStart;  // oldest valid history entry; kMCBSHistoryLength = empty
  SInt8 mRAHistory[kMCBSHistoryLength];  // oldest first; one unit = 0.2 pixel
  SInt8 mDecHistory[kMCBSHistoryLength];
  SInt32 mCalibrationError;
  SInt32 mCalibrating;  // changed atomically
  EventLoopTimerUPP mCalibrationTimerUPP;
  EventLoopTimerRef mCalibrationTimer;
};

// ---------------------------------------------------------------- the run

// One whole scope-control run on the camera: opens the mount device and the
// guiding window "LXControls" as a sheet on the control window, runs its
// app-modal loop and tears everything down when the loop ends. 0 after a run
// or at once when one exists; -108 when the block, a buffer or the device was
// not obtained; otherwise the failing toolbox or mount status.
OSStatus myStartControlLXScope(MyCameraWindowDataStruct* record);
// Ends the run: safe with a null record, with no run and on a half-built
// run; a second call does nothing.
void myStopLXScopeControl(MyCameraWindowDataStruct* record);

// ---------------------------------------------------------------- the window

// The handler of "LXControls" (window close and command process); the user
// data is the camera record.
OSStatus myScopeContolEventHandler(EventHandlerCallRef handlerCall, EventRef event, void* record);
// The status line 'MESG', shown at once.
void myPostTrackingMessage(WindowRef window, const char* text);
// LX200 only: sends the rate chosen in 'SPED'.
void mySetCurrentSpeedLX200(MyCameraWindowDataStruct* record);
// Stops a moving axis that must change direction or stop, then starts the
// wanted one (RA first). The first failing send's status, else 0.
OSStatus myChangeDirection(MountCntlDevice* device, UInt32 kind, float rate, UInt8 left, UInt8 right, UInt8 up,
                           UInt8 down);

// ---------------------------------------------------------------- the strip chart

// The chart of both drift histories with their statistics, and the drift in
// the status line; nothing unless guiding is active.
void myDrawTrackingAreaBox(MyCameraWindowDataStruct* record);
// The empty chart.
void myEraseTrackingAreaBox(MyCameraWindowDataStruct* record);
// The 0.5 s refresh; the user data is the camera record.
void myUpdateTrackingAreaBox(EventLoopTimerRef timer, void* record);
// The handler of the view class "com.skyloom.guide.histogram" over 'TRBX'.
OSStatus myGuideHistogramCustomControlHandler(EventHandlerCallRef handlerCall, EventRef event, void* record);

// ---------------------------------------------------------------- test hooks

// The nth allocation of the next starts (1 the block, 2 the histogram
// buffer, 3 the 8-bit buffer) fails; 0 = none.
void myFailScopeControlAllocationForTesting(int nth);
// How long the stop waits for a centroid step still running (10 s in the
// product).
void mySetGuideBusyWaitForTesting(UInt32 milliseconds);

// Test-only pause point (null in the product), called on the main thread with:
enum ScopeTestPause : int {
  kScopePauseStopWaiting = 1,  // the stop polls a centroid step still running
};
extern void (*volatile gScopeTestPausePoint)(int where);
