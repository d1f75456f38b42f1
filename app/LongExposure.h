// Long exposures timed by the application: one detached timing thread per
// camera control record starts each exposure, ends it when its time has
// passed and hands the cycle to the frame callback and the display timer
// through the record's counters (mLongExpFrameDone, mLongExpShowPending,
// mLongExpReadout). Three schemes:
// - the long-exposure sensor kind with STA pins: transmission stopped, STA
//   pin 0 (trigger) high and 0xF20's read-out bit clear while the sensor
//   integrates;
// - the long-exposure sensor kind without pins: transmission stopped and the
//   iris rate code 1 until the display has taken the last cycle;
// - the Point Grey trigger scheme: IIDC trigger mode 1 on a trigger input
//   wired to one of the camera's own GPIO outputs; the output low exposes.
//
// Threads: start and stop run on the main thread. The thread sleeps in timed
// waits on mLongExposCond, so a stop wakes it at once whatever the exposure.
// A stop that cannot see the thread leave within its bound leaves the
// synchronisation objects (and the record) alone; see
// myRemoveLongExposureTimer.
#pragma once
#include "app/CameraWindowData.h"

// Starts the timing thread with `value` ms (the check interval of the kinds
// without STA pins). 0 once the thread runs, else the POSIX error; EBUSY
// while a thread of this record still exists.
int myInstallLongExposureTimer(MyCameraWindowDataStruct* record, double value);

// Stops the timing thread: lowers mLongExposRun, wakes the thread and waits
// (10 ms polls, 1000 at most) for it to leave, then destroys the mutex,
// condition variable and attributes. When the thread has not left in that
// time it prints a diagnostic and returns, keeping the objects and the
// thread's handle: the record must then stay allocated
// (myLongExposureThreadHoldsRecord) and a later stop finishes the job.
void myRemoveLongExposureTimer(MyCameraWindowDataStruct* record);

// The thread body (start routine; the argument is the record). Returns null.
void* myDoLongExposureTimer(void* record);

// True while a timing thread may still touch the record: closing the camera
// must not free it then.
bool myLongExposureThreadHoldsRecord(const MyCameraWindowDataStruct* record);

// Sets STA pin 0, 1 or 2 of register 0xF1C high (state 1) or low (any other
// state). Returns the status of the final read of 0xF1C, a failed read's
// status, or -1 for a pin above 2 (-50 for a null record).
OSStatus mySetTSLV1501STAPins(MyCameraWindowDataStruct* record, UInt32 pin, UInt32 state);

// Waits for STA1 to fall and rise (bounded reads of 0xF1C), then sleeps
// `microseconds`. 1 when the edge came, else 0 (without sleeping).
SInt32 myWaitForRegionPulseonSTA1(MyCameraWindowDataStruct* record, UInt32 microseconds);

// Switches the Point Grey trigger scheme on (1) or off (other values) for the
// pin set (0: input 0, output 1, source 0; 1: input 3, output 2, source 3).
// 0 or the failing status; -1 for a null handle.
OSStatus myPGRStartStopTriggerFrames(MyDCAMCameraStruct* handle, UInt32 on, UInt8 pinSet);

// Drives the scheme's output pin low (open = 1: trigger active, the camera
// exposes) or high (the exposure ends). A busy driver (-9074) is tried again
// after 10 ms, three writes at most. The last status; -1 for a null handle.
OSStatus myPGROpenCloseShutter(MyDCAMCameraStruct* handle, UInt32 open, UInt8 pinSet);

// The read-out period R of the trigger scheme in ms: four frame periods of
// the slowest rate, 0 for the long-exposure sensor kind.
double myLongExposureReadoutPeriodMs(const MyCameraWindowDataStruct* record);

// Tests shorten the stop's wait: `polls` of 10 ms (0 restores 1000).
void mySetLongExposureStopPolls(UInt32 polls);
