// Calibration of the mount on the sensor, and the two small pieces of the
// guiding window that go with it: the declination entry and the Dec tracking
// pop-up.
//
// Calibration is a state machine stepped by a 1 s event-loop timer on the
// main thread. Each step starts a guide pulse and then waits until the
// centroid step on the delivery thread has averaged a new position
// (mTrackingPhase -1, position in mStartX/mStartY); from those positions it
// derives the rates, directions and the RA line the correction step uses.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

struct MyCameraWindowDataStruct;

// Failure code of a calibration that saw no motion.
constexpr SInt32 kCalibrationNoMotion = -6969;
// Stage of a calibration that has completed.
constexpr SInt32 kCalibrationCompleted = 50;

// The timer procedure: one step per tick; the user data is the camera record.
void myCalibrateCameraTimedProc(EventLoopTimerRef timer, void* record);
// Stops calibration (stop-all, pulse cancelled, timer removed), lowers the
// calibrating counter and restores the guiding window's controls.
void myRemoveCalibrationTimedProc(MyCameraWindowDataStruct* record);

// Asks for a declination in degrees in "EnterDeclination" (a sheet on parent,
// else a window of its own). 0 with *value the accepted number; -108 without
// memory; otherwise the failing toolbox status with *value unchanged.
OSStatus myGetDecSettings(WindowRef parent, float* value);
// The command handler of the entry window; the user data is its record.
OSStatus myGetDecUPPProc(EventHandlerCallRef handlerCall, EventRef event, void* entry);
// Rebuilds the 'TKDE' pop-up of the window from the last calibration.
void myChangeDecSelectionMenu(WindowRef window, MyCameraWindowDataStruct* record);
