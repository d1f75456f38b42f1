// The guide correction step: an averaged position becomes a right-ascension
// and a declination error along the calibrated axes, and the larger or the
// chosen axis gets a guide pulse of the calibrated length.
#include <atomic>
#include <cmath>

#include "app/CameraWindowData.h"
#include "guiding/CameraSettingsLog.h"
#include "guiding/GuideStar.h"
#include "guiding/Guiding.h"
#include "guiding/ScopeControl.h"
#include "utilities/LogFiles.h"
#include "utilities/SharedFields.h"

namespace {

using skyloom_shared::loadRelaxed;
using skyloom_shared::storeRelaxed;

// Drift history: 5 units a pixel, at most 5 pixels either way.
constexpr double kHistoryUnitsPerPixel = 5.0;
constexpr double kHistoryLimit = 25.0;
// Errors beyond this many times the accuracy are clamped when the user asks.
constexpr float kLargeChangeFactor = 10.0f;
// "No second axis" of a guide pulse.
constexpr UInt32 kNoAxis = kMountStopAll;
constexpr double kNoAxisMs = -1.0;


FILE* guideLog(const MyCameraWindowDataStruct& r) { return r.mGuideLogOpen == 1 ? r.mpGuideLogFile : nullptr; }

SInt8 historyEntry(double pixels) {
  double units = pixels * kHistoryUnitsPerPixel;
  if (units > kHistoryLimit) units = kHistoryLimit;
  if (units < -kHistoryLimit) units = -kHistoryLimit;
  return SInt8(std::trunc(units));
}

void appendHistory(SInt8* history, SInt8 entry) {
  for (UInt32 i = 0; i + 1 < kMCBSHistoryLength; ++i)
    storeRelaxed(history[i], loadRelaxed(history[i + 1]));
  storeRelaxed(history[kMCBSHistoryLength - 1], entry);
}

void writeHeader(MyCameraWindowDataStruct* record, FILE* log, double x, double y) {
  const MyCameraWindowDataStruct& r = *record;
  char when[64];
  myGetDateTimePaddedString(when, 0, 0, 1);
  fprintf(log, "----------------------------------------- Camera Settings: %s\r", when);
  myPrintCameraSettingsToLogFile(record, log);
  fprintf(log, "----------------------------------------- Guide Settings : %s\r", when);
  switch (r.mCorrectionOrder) {
    case 0: fputs("Correct Dec ChangesFirst.\r", log); break;
    case 1: fputs("Correct RA Changes First.\r", log); break;
    case 2: fputs("Correct Largest RA/Dec Changes First.\r", log); break;
    case 3: fputs("Correct Both RA and Dec Changes.\r", log); break;
    default: break;
  }
  switch (r.mDecTrackingMode) {
    case 1: fputs("Dec Tracking Off.\r", log); break;
    case 2: fputs("Dec Tracking Both Directions.\r", log); break;
    case 3: fputs("Dec Tracking Up Only.\r", log); break;
    case 4: fputs("Dec Tracking Down Only.\r", log); break;
    default: break;
  }
  fprintf(log, "Tracking Accuracy: %.1f pixels\r", double(r.mTrackAccuracy));
  fprintf(log, "Turbulence Limiting On: %d\r", int(r.mTurbulenceLimit));
  fprintf(log, "Skip Large 10x Changes On: %d\r", int(r.mSkipLargeChanges));
  fprintf(log, "Using Solar Lunar Edge Tracking On: %d\r", int(r.mLunarSolarTracking));
  fprintf(log, "Multiple Object Tracking On: %d\r", int(r.mMultipleObjects));
  fprintf(log, "Tracking Object Declination: %.3f degrees\r", double(r.mObjectDeclination));
  fprintf(log, "Calibrated Line Coordinates : MSlopeFloat = %.5f B_YinterceptFloat = %.5f Orientation = %d\r",
          double(r.MSlopeFloat), double(r.B_YinterceptFloat), int(r.Orientation));
  fprintf(log, "Calibrated Left Move Rate:  %.5f pixels per millisecond\r", r.mPixelPerMillSecXLeft);
  fprintf(log, "Calibrated Right Move Rate:  %.5f pixels per millisecond\r", r.mPixelPerMillSecXRight);
  fprintf(log, "Calibrated Up Move Rate:  %.5f pixels per millisecond\r", r.mPixelPerMillSecYUp);
  fprintf(log, "Calibrated Down Move Rate:  %.5f pixels per millisecond\r", r.mPixelPerMillSecYDown);
  fprintf(log, "Calibrated  Declination:  %.3f degrees\r", double(r.mCalibratedDeclination));
  fprintf(log, "----------------------------------------- Tracking Start : %s\r", when);
  fprintf(log, "Starting Position X Y: \t %5.2f  \t %5.2f\r", x, y);
  fflush(log);
}

// One axis of a correction before it is sent: the command and its length,
// or false when the axis is not corrected. `clampSignBelow` is the value
// below which a clamped error counts as negative.
bool planRA(const MyCameraWindowDataStruct& r, double e, double clampSignBelow, UInt32* command, double* ms) {
  const float accuracy = r.mTrackAccuracy;
  if (std::fabs(e) < accuracy || r.mCorrectRA != 1) return false;
  const float limit = accuracy * kLargeChangeFactor;
  if (r.mSkipLargeChanges == 1 && std::fabs(e) > limit) e = e < clampSignBelow ? -limit : limit;
  const double length = e < 0.0 ? std::fabs(e) / r.mPixelPerMillSecXLeft : std::fabs(e) / r.mPixelPerMillSecXRight;
  const bool positive = r.mPosAZMIsPositive == 1;
  *command = (e >= 0.0) == positive ? kMountRAWest : kMountRAEast;
  // An uncalibrated rate gives no length worth sending.
  if (!std::isfinite(length) || length < r.mMinPulseMs) return false;
  *ms = length;
  return true;
}

bool planDec(const MyCameraWindowDataStruct& r, double e, double clampSignBelow, UInt32* command, double* ms) {
  const float accuracy = r.mTrackAccuracy;
  const UInt32 mode = r.mDecTrackingMode;
  if (std::fabs(e) < accuracy || r.mCorrectDec != 1 || mode < 2) return false;
  const float limit = accuracy * kLargeChangeFactor;
  if (r.mSkipLargeChanges == 1 && std::fabs(e) > limit) e = e < clampSignBelow ? -limit : limit;
  const bool positive = r.mPosALTIsPositive == 1;
  double length;
  if (e > 0.0) {
    if (mode != 2 && mode != 4) return false;
    length = std::fabs(e) / r.mPixelPerMillSecYDown;
    *command = positive ? kMountDecSouth : kMountDecNorth;
  } else {
    if (mode != 2 && mode != 3) return false;
    length = std::fabs(e) / r.mPixelPerMillSecYUp;
    *command = positive ? kMountDecNorth : kMountDecSouth;
  }
  if (!std::isfinite(length) || length < r.mMinPulseMs) return false;
  *ms = length;
  return true;
}

void logRA(FILE* log, UInt32 command, double ms) {
  if (log) fprintf(log, command == kMountRAWest ? "\t RARight: %.2f ms " : "\t RALeft: %.2f ms ", ms);
}

// Both axes in one pulse; the pulse routine runs the longer one first.
OSStatus correctBoth(MyCameraWindowDataStruct* record, double raError, double decError, FILE* log) {
  MyCameraWindowDataStruct& r = *record;
  UInt32 raCommand = kNoAxis, decCommand = kNoAxis;
  double raMs = kNoAxisMs, decMs = kNoAxisMs;
  const bool ra = planRA(r, raError, 0.001, &raCommand, &raMs);
  const bool dec = planDec(r, decError, 0.001, &decCommand, &decMs);
  if (!ra) raCommand = kNoAxis, raMs = kNoAxisMs;
  if (!dec) decCommand = kNoAxis, decMs = kNoAxisMs;
  if (!ra && !dec) return noErr;
  // The declination factor applies to RA here as it does to a single RA
  // pulse, after the shortest-pulse test.
  if (ra) {
    raMs *= double(r.mRADurationFactor);
    logRA(log, raCommand, raMs);
  }
  if (dec && log) fprintf(log, decCommand == kMountDecNorth ? "\t DecUp: %.2f ms " : "\t DecDown: %.2f ms ", decMs);
  return myKickOffSerialTimer(record, raCommand, raMs, decCommand, decMs);
}

}  // namespace

Boolean myMountCntlDeviceCorrectRA(MyCameraWindowDataStruct* record, OSStatus* result, double error) {
  *result = noErr;
  UInt32 command = kNoAxis;
  double ms = 0.0;
  if (!planRA(*record, error, 0.0, &command, &ms)) return false;
  ms *= double(record->mRADurationFactor);
  logRA(guideLog(*record), command, ms);
  *result = myKickOffSerialTimer(record, command, ms, kNoAxis, kNoAxisMs);
  return *result == noErr;
}

Boolean myMountCntlDeviceCorrectDEC(MyCameraWindowDataStruct* record, OSStatus* result, double error) {
  *result = noErr;
  UInt32 command = kNoAxis;
  double ms = 0.0;
  if (!planDec(*record, error, 0.0, &command, &ms)) return false;
  if (FILE* log = guideLog(*record))
    fprintf(log, command == kMountDecNorth ? " \tDecUp:t %.2f ms " : "\t DecDown: %.2f ms ", ms);
  *result = myKickOffSerialTimer(record, command, ms, kNoAxis, kNoAxisMs);
  return *result == noErr;
}

OSStatus myMountCntlDeviceChangePosition(MyCameraWindowDataStruct* record, double x, double y) {
  if (!record) return noErr;
  MyCameraWindowDataStruct& r = *record;
  std::atomic_ref<SInt32> phase(r.mTrackingPhase);
  FILE* log = guideLog(r);

  if (loadRelaxed(r.mStartX) < 0.0f) {
    // The first position of a run is the start: the calibrated RA line is
    // moved to pass through it (frame y' = -Y).
    r.B_YinterceptFloat = r.Orientation == 0 ? float(-(x * double(r.MSlopeFloat) + y)) : 0.0f;
    storeRelaxed(r.mStartX, float(x));
    storeRelaxed(r.mStartY, float(y));
    storeRelaxed(r.mCurrentX, float(x));
    storeRelaxed(r.mCurrentY, float(y));
    if (log) writeHeader(record, log, x, y);
    phase.store(0, std::memory_order_release);
    return noErr;
  }

  storeRelaxed(r.mCurrentX, float(x));
  storeRelaxed(r.mCurrentY, float(y));
  const double startX = loadRelaxed(r.mStartX), startY = loadRelaxed(r.mStartY);
  if (MCBS* block = r.mpMCBSPtr) {
    std::atomic_ref<UInt32> countdown(block->mHistoryStart);
    const UInt32 left = countdown.load(std::memory_order_relaxed);
    if (left != 0) countdown.store(left - 1, std::memory_order_relaxed);
    appendHistory(block->mRAHistory, historyEntry(x - startX));
    appendHistory(block->mDecHistory, historyEntry(-(y - startY)));
  }

  // Errors in a frame whose y' axis points up.
  const double sx = startX, cx = x, sy = -startY, cy = -y;
  double raError = 0.0, decError = 0.0;
  switch (r.Orientation) {
    case 1:
      raError = sx - cx;
      decError = cy - sy;
      break;
    case 2:
      raError = cy - sy;
      decError = sx - cx;
      break;
    case 0: {
      // Signed projections on the calibrated line and its normal. Their sizes
      // are the distances along and across the line, and pure RA or Dec moves
      // keep the signs calibration saw; a mixed drift gets the RA sign of its
      // component along the line rather than of its raw x difference.
      const double m = r.MSlopeFloat, norm = std::sqrt(1.0 + m * m);
      const double dx = cx - sx, dy = cy - sy;
      // (+ 0.0: no "-0.00" in the log for a drift straight across the line)
      raError = -(dx + m * dy) / norm + 0.0;
      decError = (dy - m * dx) / norm + 0.0;
      break;
    }
    default:  // calibration sets no other orientation
      break;
  }

  phase.store(0, std::memory_order_release);
  const double accuracy = r.mTrackAccuracy;
  if (std::fabs(raError) < accuracy && std::fabs(decError) < accuracy) return noErr;

  if (log) {
    char when[64];
    myGetDateTimePaddedString(when, 0, 0, 1);
    fprintf(log, "Time:\t%s\t", when);
    fprintf(log, "Cur X Y:\t %5.2f  \t %5.2f \t Axis X Y:\t %5.2f \t %5.2f \t", x, y, raError, decError);
  }

  OSStatus result = noErr;
  UInt32 order = r.mCorrectionOrder;
  if (order == 2) order = std::fabs(decError) <= std::fabs(raError) ? 1 : 0;
  switch (order) {
    case 0:
      if (!myMountCntlDeviceCorrectDEC(record, &result, decError)) myMountCntlDeviceCorrectRA(record, &result, raError);
      break;
    case 3:
      result = correctBoth(record, raError, decError, log);
      break;
    default:
      if (!myMountCntlDeviceCorrectRA(record, &result, raError)) myMountCntlDeviceCorrectDEC(record, &result, decError);
      break;
  }

  if (log) {
    fputs("\r", log);
    fflush(log);
  }
  return result;
}
