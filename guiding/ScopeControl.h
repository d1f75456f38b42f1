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
