// Calibration: a 1 s timer steps through the RA moves (west and east, grown
// until they move the object far enough, then three of each measured), the
// RA result, and the Dec moves (slack removal, then up and/or down), each
// step waiting for the centroid step's next averaged position.
#include "guiding/Calibration.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/CameraWindowData.h"
#include "guiding/Guiding.h"
#include "guiding/ScopeControl.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/EditText.h"
#include "utilities/SharedFields.h"

namespace {

using skyloom_shared::loadRelaxed;
using skyloom_shared::storeRelaxed;

// Moves grow x 1.5 up to this length before calibration gives up.
constexpr double kLongestMoveMs = 64000.0;
// Ticks a stage may wait for a new position.
constexpr UInt32 kMostTicksWaiting = 64;
constexpr double kDegreesToRadians = 0.017453292;
constexpr double kPauseMs = 900.0;
constexpr double kGrowth = 1.5;
constexpr double kNoSecondAxisMs = -1.0;

constexpr OSType kMessageSignature = FOUR_CHAR_CODE("MESG");
constexpr OSType kDecTrackingSignature = FOUR_CHAR_CODE("TKDE");
constexpr OSType kDecValueSignature = FOUR_CHAR_CODE("DECV");


// One tick's view of the run.
struct Tick {
  MyCameraWindowDataStruct& r;
  MCBS& b;
  FILE* log;

  float* P(int i) { return b.mCalibrationPositions[i]; }

  // A waiting stage acts once a new averaged position is ready: it takes it
  // and starts the wait afresh.
  bool Ready(float* position) {
    std::atomic_ref<SInt32> phase(r.mTrackingPhase);
    if (phase.load(std::memory_order_acquire) != -1) return false;
    position[0] = loadRelaxed(r.mStartX);
    position[1] = loadRelaxed(r.mStartY);
    phase.store(0, std::memory_order_release);
    b.mCalibrationTicks = 0;
    return true;
  }

  void Show(const char* text) {
    if (b.mWindow) myChangeControlTxt(b.mWindow, kMessageSignature, 0, text);
  }
  // Shown, and logged as "%s\r".
  void Post(const char* text) {
    Show(text);
    if (log) fprintf(log, "%s\r", text);
  }

  // A one-axis pulse; the machine goes on in `next`, or fails there when the
  // pulse cannot start.
  void Pulse(UInt32 command, double ms, SInt32 next) {
    b.mCalibrationStage = next;
    OSStatus err = myKickOffSerialTimer(&r, command, ms, kMountStopAll, kNoSecondAxisMs);
    if (err != noErr) {
      b.mCalibrationError = err;
      b.mCalibrationStage = -next;
    }
  }

  void Fail(SInt32 code) {
    b.mCalibrationError = code;
    b.mCalibrationStage = -b.mCalibrationStage;
  }
};

double distance(const float* a, const float* b) {
  const double dx = double(b[0]) - double(a[0]), dy = double(b[1]) - double(a[1]);
  return std::sqrt(dx * dx + dy * dy);
}

void copy(float* to, const float* from) { to[0] = from[0], to[1] = from[1]; }

// The coordinate a Dec move shows in: Y, or X when RA runs along Y.
double decAxis(const MyCameraWindowDataStruct& r, const float* p) { return r.Orientation == 2 ? p[0] : p[1]; }

void stage0(Tick& t) {
  MCBS& b = t.b;
  MyCameraWindowDataStruct& r = t.r;
  b.mCalibrationTicks = 0;
  b.mCalibrationMoveMsA = b.mCalibrationMoveMsB = b.mCalibrationMoveMs;
  r.mPixelPerMillSecXRight = r.mPixelPerMillSecXLeft = 0.0;
  r.mPixelPerMillSecYUp = r.mPixelPerMillSecYDown = 0.0;
  t.Post("CalibX0: Starting RA Calibration..");
  if (t.log) {
    fprintf(t.log, "---------------- Starting Calibration----------\r");
    fprintf(t.log, "Starting Move Duration: %.1f \r", b.mCalibrationMoveMs / 1000.0);
    fprintf(t.log, "Minimum RA Pixel Motion: %.1f\r", double(r.mMinRAMotionPixels));
    fprintf(t.log, "Minimum Dec Pixel Motion: %.1f\r", double(r.mMinDecMotionPixels));
    fprintf(t.log, "Declination  of Objec: %.2f\r", double(r.mCalibratedDeclination));
    fflush(t.log);
  }
  t.Pulse(kMountStopAll, kPauseMs, 1);
}

// Stages 4 to 9: one measured move each, alternating west and east.
void measuredMove(Tick& t, SInt32 stage) {
  MCBS& b = t.b;
  MyCameraWindowDataStruct& r = t.r;
  if (!t.Ready(t.P(2))) return;
  const bool west = stage % 2 == 0;  // 4, 6, 8 measure a west move
  const double d = distance(t.P(1), t.P(2));
  char text[128];
  snprintf(text, sizeof text, west ? "CalibX%d: R Dist %.2f" : "CalibX%d: L Dist %.2f", int(stage), d);
  t.Show(text);
  if (t.log) {
    const char* format = west ? (stage == 8 ? "%s X1: %.2f Y1 %.2f\r" : "%s X1: %.2f Y1: %.2f\r")
                              : "%s X2: %.2f Y2: %.2f\r";
    fprintf(t.log, format, text, double(t.P(2)[0]), double(t.P(2)[1]));
  }
  if (stage == 8) copy(t.P(0), t.P(2));
  if (stage != 9) copy(t.P(1), t.P(2));
  if (west) {
    if (stage == 4)
      r.mPixelPerMillSecXRight = d / b.mCalibrationMoveMsA;
    else
      r.mPixelPerMillSecXRight += d / b.mCalibrationMoveMsA;
    t.Pulse(kMountRAEast, b.mCalibrationMoveMsB, stage + 1);
  } else {
    if (stage == 5)
      r.mPixelPerMillSecXLeft = d / b.mCalibrationMoveMsB;
    else
      r.mPixelPerMillSecXLeft += d / b.mCalibrationMoveMsB;
    t.Pulse(kMountRAWest, b.mCalibrationMoveMsA, stage + 1);
  }
}

void raResult(Tick& t) {
  MCBS& b = t.b;
  MyCameraWindowDataStruct& r = t.r;
  float current[2];
  if (!t.Ready(current)) return;
  r.mPixelPerMillSecXRight *= 1.0 / 3.0;
  r.mPixelPerMillSecXLeft *= 1.0 / 3.0;
  r.mCorrectRA = 1;
  const float* p0 = t.P(0);
  const float* p2 = t.P(2);
  const double dy = double(p0[1]) - double(p2[1]);
  const double dx = double(p2[0]) - double(p0[0]);
  if (std::fabs(dy) > 0.5) {
    if (std::fabs(dx) <= 0.5) {
      r.Orientation = 2;
      r.MSlopeFloat = 0.0f;
      r.B_YinterceptFloat = 0.0f;
    } else {
      const double m = dy / dx;
      r.Orientation = 0;
      r.MSlopeFloat = float(m);
      r.B_YinterceptFloat = float(-(double(p0[0]) * m + double(p0[1])));
    }
  } else {
    r.Orientation = 1;
    r.MSlopeFloat = 0.0f;
    r.B_YinterceptFloat = 0.0f;
  }
  const int axis = r.Orientation == 2 ? 1 : 0;
  r.mPosAZMIsPositive = double(current[axis]) - double(p2[axis]) > -0.001 ? 1 : 0;
  if (t.log) {
    fprintf(t.log, "mPixelPerMillSecXRight = %.5f\r", r.mPixelPerMillSecXRight);
    fprintf(t.log, "mPixelPerMillSecXLeft = %.5f\r", r.mPixelPerMillSecXLeft);
    fprintf(t.log, "mPosAZMIsPositive =  %d\r", int(r.mPosAZMIsPositive));
    fprintf(t.log, "Left Move Time Duration: %.3f\r", b.mCalibrationMoveMsA / 1000.0);
    fprintf(t.log, "Right Move Time Duration: %.3f\r", b.mCalibrationMoveMsB / 1000.0);
  }
  if (r.mDecCalibrationMode < 2) {
    r.mCorrectDec = 0;
    b.mCalibrationStage = kCalibrationCompleted;
  } else {
    t.Pulse(kMountStopAll, kPauseMs, 20);
  }
}

// The first Dec move: as long as the RA moves that were enough, scaled to the
// Dec minimum, but kept to a quarter of the frame.
double decDuration(const MyCameraWindowDataStruct& r, const MCBS& b) {
  double d = std::fmax(b.mCalibrationMoveMsA, b.mCalibrationMoveMsB);
  if (r.mMinRAMotionPixels != 0) d *= double(r.mMinDecMotionPixels) / double(r.mMinRAMotionPixels);
  const double rmax = std::fmax(r.mPixelPerMillSecXRight, r.mPixelPerMillSecXLeft);
  double c = std::cos(std::fabs(double(r.mCalibratedDeclination)) * kDegreesToRadians);
  if (c < 0.01) c = 0.01;
  const double limit = double(r.mHeight) * 0.25;
  if (rmax > 0.0 && limit < rmax * d * c) d = (limit / rmax) * c;
  return d;
}

void logPosition(Tick& t, const char* text, const char* format, const float* p) {
  if (t.log) fprintf(t.log, format, text, double(p[0]), double(p[1]));
}

void logDecResult(Tick& t, bool withUp, bool withDown) {
  if (!t.log) return;
  if (withUp) fprintf(t.log, "mPixelPerMillSecYUp %f\r", t.r.mPixelPerMillSecYUp);
  if (withDown) fprintf(t.log, "mPixelPerMillSecYDown %f\r", t.r.mPixelPerMillSecYDown);
  fprintf(t.log, "Final Move Time Duration: %.3f\r", t.b.mCalibrationMoveMsA / 1000.0);
  fprintf(t.log, "mPosALTIsPositive %d\r", int(t.r.mPosALTIsPositive));
}

void decStage(Tick& t, SInt32 stage) {
  MCBS& b = t.b;
  MyCameraWindowDataStruct& r = t.r;
  const bool downOnly = r.mDecCalibrationMode == 4;
  double& D = b.mCalibrationMoveMsA;
  const double minimum = double(r.mMinDecMotionPixels);
  char text[128];
  switch (stage) {
    case 20: {
      if (!t.Ready(t.P(0))) return;
      D = decDuration(r, b);
      const char* message = downOnly ? "CalibY0: Removing Dec Down Slack" : "CalibY0: Removing Dec Up Slack";
      t.Show(message);
      t.Pulse(downOnly ? kMountDecSouth : kMountDecNorth, D * 0.5, 21);
      if (t.log) fprintf(t.log, "Starting Dec Move Time Duration: %.3f\r", D / 1000.0);
      logPosition(t, message, "%s X0: %.2f Y0: %.2f\r", t.P(0));
      return;
    }
    case 21:
      if (!t.Ready(t.P(1))) return;
      if (distance(t.P(0), t.P(1)) < minimum * 0.5) {
        const char* message =
            downOnly ? "CalibY0: Removing Dec Down Slack Again" : "CalibY0: Removing Dec Up Slack Again";
        t.Show(message);
        logPosition(t, message, "%s X1: %.2f Y1: %.2f\r", t.P(1));
        t.Pulse(downOnly ? kMountDecSouth : kMountDecNorth, D * 0.5, 22);
      } else {
        b.mCalibrationStage = 22;
      }
      return;
    case 22: {
      if (!t.Ready(t.P(0))) return;
      const char* message = downOnly ? "CalibY1: Starting Dec Down Calibration" : "CalibY1: Starting Dec Up Calibration";
      t.Show(message);
      b.mCalibrationStage = downOnly ? 25 : 23;
      // The machine goes on without this move; the next stage sees no
      // motion and grows the move.
      myKickOffSerialTimer(&r, downOnly ? kMountDecSouth : kMountDecNorth, D, kMountStopAll, kNoSecondAxisMs);
      logPosition(t, message, "%s X0: %.2f Y0: %.2f\r", t.P(0));
      return;
    }
    case 23: {
      if (!t.Ready(t.P(1))) return;
      const double d = distance(t.P(0), t.P(1));
      if (d < minimum) {
        if (D >= kLongestMoveMs) return t.Fail(kCalibrationNoMotion);
        copy(t.P(0), t.P(1));
        D *= kGrowth;
        snprintf(text, sizeof text, "No Motion detected for Dec Motor increasing Up time %.3f", D / 1000.0);
        t.Post(text);
        t.Pulse(kMountDecNorth, D, 23);
        return;
      }
      r.mPixelPerMillSecYUp = d / D;
      snprintf(text, sizeof text, "CalibY2: Up Distance %.2f", d);
      t.Show(text);
      logPosition(t, text, "%s X1: %.2f Y1: %.2f\r", t.P(1));
      if (r.mDecCalibrationMode == 3) {
        r.mCorrectDec = 1;
        r.mPosALTIsPositive = decAxis(r, t.P(0)) - decAxis(r, t.P(1)) > 0.0 ? 1 : 0;
        logDecResult(t, true, false);
        b.mCalibrationStage = kCalibrationCompleted;
      } else {
        // Longer than the measured move: it also takes up the slack.
        t.Pulse(kMountDecSouth, D * kGrowth, 24);
      }
      return;
    }
    case 24:
      if (!t.Ready(t.P(0))) return;
      t.Show("CalibY3: Removing Dec Down Slack");
      logPosition(t, "CalibY3: Removing Dec Down Slack", "%s X0: %.2f Y0: %.2f\r", t.P(0));
      t.Pulse(kMountDecSouth, D, 25);
      return;
    case 25: {
      if (!t.Ready(t.P(1))) return;
      r.mPosALTIsPositive = decAxis(r, t.P(0)) - decAxis(r, t.P(1)) < 0.0 ? 1 : 0;
      const double d = distance(t.P(0), t.P(1));
      if (d >= minimum) {
        r.mPixelPerMillSecYDown = d / D;
        snprintf(text, sizeof text, "CalibY4: Down Distance %.2f", d);
        t.Show(text);
        logPosition(t, text, "%s X1: %.2f Y1: %.2f\r", t.P(1));
        logDecResult(t, r.mDecCalibrationMode == 2, true);
        r.mCorrectDec = 1;
        b.mCalibrationStage = kCalibrationCompleted;
        return;
      }
      if (D >= kLongestMoveMs) return t.Fail(kCalibrationNoMotion);
      copy(t.P(0), t.P(1));
      D *= kGrowth;
      t.Pulse(kMountDecSouth, D, 25);
      snprintf(text, sizeof text, "No Motion detected for Dec Motor increasing Down time, %.3f", D / 1000.0);
      t.Post(text);
      return;
    }
    default:
      return;
  }
}

void completed(Tick& t) {
  MyCameraWindowDataStruct& r = t.r;
  t.b.mCalibrationTicks = 0;
  storeRelaxed(r.mCurrentX, -1.0f);
  storeRelaxed(r.mStartX, -1.0f);
  if (t.log) {
    fprintf(t.log, "---------------- Calibration Completed----------\r");
    fflush(t.log);
  }
  std::atomic_ref<UInt8>(r.mGuidingOn).store(1);
  myRemoveCalibrationTimedProc(&r);
  std::atomic_ref<SInt32>(r.mTrackingPhase).store(0, std::memory_order_release);
}

void failed(Tick& t) {
  MyCameraWindowDataStruct& r = t.r;
  MCBS& b = t.b;
  b.mCalibrationTicks = 0;
  storeRelaxed(r.mCurrentX, -1.0f);
  storeRelaxed(r.mStartX, -1.0f);
  SysBeep(1);
  char message[256];
  if (b.mCalibrationError == kCalibrationNoMotion)
    snprintf(message, sizeof message,
             "No motion detected. Serial Port or GPUSB is disconected from scope or motors may not be "
             "operational.\n");
  else
    snprintf(message, sizeof message, "myCalibrateCameraTimedProc Failed in Stage %d err = 0x%X %d\n",
             int(std::abs(b.mCalibrationStage)), unsigned(b.mCalibrationError), int(b.mCalibrationError));
  if (t.log) {
    fprintf(t.log, "%s\r", message);
    fflush(t.log);
  }
  myPostAlert("", message);
  myRemoveCalibrationTimedProc(&r);
}

void restoreControls(WindowRef w, MyCameraWindowDataStruct& r) {
  if (!w) return;
  myEnableDisableControl(w, FOUR_CHAR_CODE("TRAK"), 0, r.mGuidingOn == 1 ? 1 : 0);
  myEnableDisableControl(w, FOUR_CHAR_CODE("RAFS"), 0, 1);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("SOLU"), 0, 1, r.mLunarSolarTracking == 1 ? 1 : 0);
  myCheckUncheckControl(w, FOUR_CHAR_CODE("SKIP"), 0, 1, r.mSkipLargeChanges == 1 ? 1 : 0);
  if (r.mLunarSolarTracking != 1 && r.mMultipleObjects != 1) {
    myCheckUncheckControl(w, FOUR_CHAR_CODE("TURB"), 0, 1, r.mTurbulenceLimit == 1 ? 1 : 0);
    myCheckUncheckControl(w, FOUR_CHAR_CODE("EEHP"), 0, 1, r.mEliminateHotPixels == 1 ? 1 : 0);
  } else {
    myCheckUncheckControl(w, FOUR_CHAR_CODE("TURB"), 0, 0, 0);
    myCheckUncheckControl(w, FOUR_CHAR_CODE("EEHP"), 0, 0, 0);
    storeRelaxed(r.mFullFrameSearch, UInt8(1));
    storeRelaxed(r.mFWHMAveraging, UInt8(0));
    r.mEliminateHotPixels = 0;
    r.mTurbulenceLimit = 0;
  }
  myCheckUncheckControl(w, FOUR_CHAR_CODE("MOBJ"), 0, 1, r.mMultipleObjects == 1 ? 1 : 0);
  myEnableDisableControl(w, FOUR_CHAR_CODE("SPED"), 0, r.mMountCntlDeviceKind == kMountCntlLX200 ? 1 : 0);
  for (OSType s : {FOUR_CHAR_CODE("UPPP"), FOUR_CHAR_CODE("DOWN"), FOUR_CHAR_CODE("LEFT"), FOUR_CHAR_CODE("RIGT"),
                   FOUR_CHAR_CODE("STOP"), FOUR_CHAR_CODE("CALI"), FOUR_CHAR_CODE("ACCU"), FOUR_CHAR_CODE("CADE"),
                   FOUR_CHAR_CODE("CAMT"), FOUR_CHAR_CODE("RAPX"), FOUR_CHAR_CODE("DEPX"), FOUR_CHAR_CODE("not!")})
    myEnableDisableControl(w, s, 0, 1);
  myChangeDecSelectionMenu(w, &r);
  mySetControlTitleByKeyString(w, FOUR_CHAR_CODE("CALI"), 0, "STARTCALIBRATION");
}

// The record of one declination entry.
struct DecEntry {
  WindowRef mWindow;
  float mValue;
  SInt32 mStatus;
};

}  // namespace

void myCalibrateCameraTimedProc(EventLoopTimerRef, void* data) {
  auto* record = static_cast<MyCameraWindowDataStruct*>(data);
  if (!record || !record->mpMCBSPtr) return;
  Tick t{*record, *record->mpMCBSPtr, record->mGuideLogOpen == 1 ? record->mpGuideLogFile : nullptr};
  MCBS& b = t.b;
  MyCameraWindowDataStruct& r = t.r;
  const SInt32 stage = b.mCalibrationStage;
  char text[128];
  switch (stage) {
    case 0:
      stage0(t);
      break;
    case 1:
      if (!t.Ready(t.P(0))) break;
      snprintf(text, sizeof text, "CalibX1: X %.2f, Y %.2f", double(t.P(0)[0]), double(t.P(0)[1]));
      t.Post(text);
      t.Pulse(kMountRAWest, b.mCalibrationMoveMsA, 2);
      break;
    case 2:
      if (!t.Ready(t.P(1))) break;
      snprintf(text, sizeof text, "CalibX2: X %.2f, Y %.2f", double(t.P(1)[0]), double(t.P(1)[1]));
      t.Post(text);
      if (distance(t.P(0), t.P(1)) >= double(r.mMinRAMotionPixels)) {
        t.Pulse(kMountRAEast, b.mCalibrationMoveMsB, 3);
      } else if (b.mCalibrationMoveMsA >= kLongestMoveMs) {
        t.Fail(kCalibrationNoMotion);
      } else {
        b.mCalibrationMoveMsA = b.mCalibrationMoveMsB = b.mCalibrationMoveMsA * kGrowth;
        t.Pulse(kMountRAWest, b.mCalibrationMoveMsA, 2);
        if (t.log) fprintf(t.log, "Not enough horz motion - increasing time to %.3f\r", b.mCalibrationMoveMsA / 1000.0);
      }
      break;
    case 3:
      if (!t.Ready(t.P(2))) break;
      snprintf(text, sizeof text, "CalibX3: X %.2f, Y %.2f", double(t.P(2)[0]), double(t.P(2)[1]));
      t.Post(text);
      if (distance(t.P(1), t.P(2)) < double(r.mMinRAMotionPixels)) {
        if (b.mCalibrationMoveMsB < kLongestMoveMs) {
          b.mCalibrationMoveMsB *= kGrowth;
          t.Pulse(kMountRAEast, b.mCalibrationMoveMsB, 3);
          if (t.log)
            fprintf(t.log, "Not enough horz motion - increasing time to %.3f\n", b.mCalibrationMoveMsB / 1000.0);
        } else {
          t.Fail(kCalibrationNoMotion);
        }
      } else {
        copy(t.P(1), t.P(2));
        t.Pulse(kMountRAWest, b.mCalibrationMoveMsA, 4);
      }
      break;
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
      measuredMove(t, stage);
      break;
    case 10:
      raResult(t);
      break;
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
    case 25:
      decStage(t, stage);
      break;
    case kCalibrationCompleted:
      completed(t);
      break;
    default:
      failed(t);
      break;
  }
  if (t.log) fflush(t.log);
  b.mCalibrationTicks++;
  if (b.mCalibrationTicks > kMostTicksWaiting && b.mCalibrationStage > 0 &&
      b.mCalibrationStage != kCalibrationCompleted) {
    b.mCalibrationError = kCalibrationNoMotion;
    b.mCalibrationStage = -b.mCalibrationStage;
  }
}

void myRemoveCalibrationTimedProc(MyCameraWindowDataStruct* record) {
  if (!record || !record->mpMCBSPtr) return;
  MyCameraWindowDataStruct& r = *record;
  MCBS& b = *r.mpMCBSPtr;
  if (b.mCalibrationTimer) {
    // The pulse is cancelled first: its thread writes to the device too, and
    // the two writers must not meet on it.
    myCancelTimerThread(record);
    SetEventLoopTimerNextFireTime(b.mCalibrationTimer, -1.0);
    RemoveEventLoopTimer(b.mCalibrationTimer);
    b.mCalibrationTimer = nullptr;
    if (b.mCalibrationTimerUPP) DisposeEventLoopTimerUPP(b.mCalibrationTimerUPP);
    b.mCalibrationTimerUPP = nullptr;
  }
  mySendMountCntlDevice(b.mMountDevice, r.mMountCntlDeviceKind, kMountStopAll, 0.0);
  myDecrementIfPositive(&b.mCalibrating);
  std::atomic_ref<UInt8>(r.mGuidingActive).store(0);
  restoreControls(b.mWindow, r);
}

// ---------------------------------------------------------------- declination entry

OSStatus myGetDecUPPProc(EventHandlerCallRef, EventRef event, void* data) {
  if (GetEventClass(event) != kEventClassCommand || GetEventKind(event) != kEventCommandProcess)
    return eventNotHandledErr;
  HICommand command;
  OSStatus err =
      GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
  if (err != noErr) return err;
  auto* entry = static_cast<DecEntry*>(data);
  if (!entry) return noErr;
  if (command.commandID != kHICommandOK) return eventNotHandledErr;
  entry->mStatus = myTestFloatEditTxt(entry->mWindow, kDecValueSignature, 0, 2, 1, -89.999f, 89.999f, &entry->mValue);
  if (entry->mStatus != noErr) {
    // The field shows the bound; the window stays until a valid value.
    myPostAlertByKeyString("USRER", "DECRNGERR");
    return noErr;
  }
  QuitAppModalLoopForWindow(entry->mWindow);
  return noErr;
}

OSStatus myGetDecSettings(WindowRef parent, float* value) {
  auto* entry = static_cast<DecEntry*>(calloc(1, sizeof(DecEntry)));
  if (!entry) return memFullErr;
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  SetThemeCursor(kThemeArrowCursor);
  WindowRef window = nullptr;
  if (err == noErr) {
    // On a parent the entry is a sheet: the same window in the sheet class.
    err = CreateWindowFromNib(nib, parent ? CFSTR("EnterDeclinationSheet") : CFSTR("EnterDeclination"), &window);
    DisposeNibReference(nib);
  }
  if (err != noErr) {
    free(entry);
    return err;
  }
  SetWRefCon(window, 0);
  entry->mWindow = window;
  entry->mValue = value ? *value : 0.0f;
  entry->mStatus = noErr;
  EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(myGetDecUPPProc);
  EventHandlerRef handler = nullptr;
  err = InstallWindowEventHandler(window, upp, 1, &commandEvent, entry, &handler);
  if (err == noErr) {
    char text[32];
    snprintf(text, sizeof text, "%.1f", double(entry->mValue));
    myChangeControlTxt(window, kDecValueSignature, 0, text);
    mySetEditTextSelectionAndFocus(window, kDecValueSignature, 0);
    OSStatus shown = noErr;
    if (parent)
      shown = ShowSheetWindow(window, parent);
    else
      ShowWindow(window);
    if (shown == noErr) {
      RunAppModalLoopForWindow(window);
      if (entry->mStatus == noErr && value) *value = entry->mValue;
      if (parent)
        HideSheetWindow(window);
      else
        HideWindow(window);
    } else {
      err = shown;
    }
    RemoveEventHandler(handler);
  }
  DisposeEventHandlerUPP(upp);
  DisposeWindow(window);
  free(entry);
  SetThemeCursor(kThemeArrowCursor);
  return err;
}

void myChangeDecSelectionMenu(WindowRef window, MyCameraWindowDataStruct* record) {
  if (!window || !record) return;
  ControlID id = {kDecTrackingSignature, 0};
  ControlRef control = nullptr;
  if (GetControlByID(window, &id, &control) != noErr || !control) return;
  if (!GetControlPopupMenuHandle(control)) return;
  MyCameraWindowDataStruct& r = *record;
  myUncheckAllPopMenuControl(window, kDecTrackingSignature);
  myEnableDisableControl(window, kDecTrackingSignature, 0, 1);
  auto enableOnly = [&](std::initializer_list<SInt32> items) {
    for (SInt32 item = 1; item <= 4; item++) {
      bool on = false;
      for (SInt32 i : items) on = on || i == item;
      myChangePopMenuControl(window, kDecTrackingSignature, item, on ? 1 : -1, 0);
    }
  };
  if (r.mGuidingOn == 1 && r.mCorrectDec == 1) {
    r.mDecTrackingMode = r.mDecCalibrationMode;
    switch (r.mDecCalibrationMode) {
      case 1: enableOnly({1}); break;
      case 2: enableOnly({1, 2, 3, 4}); break;
      case 3: enableOnly({1, 3}); break;
      case 4: enableOnly({1, 4}); break;
      default: break;
    }
  } else {
    r.mDecTrackingMode = 1;
    enableOnly({1});
  }
  myChangePopMenuControl(window, kDecTrackingSignature, SInt32(r.mDecTrackingMode), 0, 1);
}
