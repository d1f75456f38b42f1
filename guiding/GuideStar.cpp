// The guide-star centroid and the live FWHM/HFD measurement. Both reduce the
// frame to one Mono8 plane first (greens of a mosaic, high bytes of 16-bit
// samples), bin it as the display does, and take their thresholds from the
// plane's brightness-weighted levels.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "app/CameraWindowData.h"
#include "guiding/GuideStar.h"
#include "pixel/BayerPlanes.h"
#include "pixel/Centroids.h"
#include "pixel/HotPixels.h"
#include "pixel/StarProfile.h"
#include "utilities/LogFiles.h"
#include "utilities/SharedFields.h"

namespace {

using skyloom_shared::BusyScope;
using skyloom_shared::loadRelaxed;
using skyloom_shared::storeRelaxed;

// Hot-pixel threshold of the centroid's plane (8-bit units).
constexpr UInt32 kGuideHotPixelThreshold = 23;
// Half size of the local search box around the last position, pixels.
constexpr UInt32 kLocalSearchHalf = 32;
// Frames whose FWHM exceeds the reference by this factor are seeing, not drift.
constexpr double kTurbulenceFactor = 1.3;
// The FWHM needs this margin (pixels) around the centroid.
constexpr double kFWHMEdgeMargin = 16.0;



// The frame as one Mono8 plane of the record's size (row bytes = width),
// binned in place as the display format asks.
void buildPlane(const MyCameraWindowDataStruct& r, const void* frame, UInt8* plane, bool hotPixelFilter) {
  const UInt32 w = r.mWidth, h = r.mHeight;
  const UInt32 code = r.mBayerFormat;
  const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(code);
  if (r.mBitsPerPixel == 8) {
    const auto* src = static_cast<const UInt8*>(frame);
    if (code == 0)
      for (UInt32 row = 0; row < h; ++row)
        std::copy(src + size_t(row) * w, src + size_t(row) * w + w, plane + size_t(row) * w);
    else if (choice.family == kMyBayerFamilyRGGB)
      myBayerRGGB8_Mono8(src, plane, w, h, w, choice.startRowFlag);
    else
      myBayerBGGR8_Mono8(src, plane, w, h, w, choice.startRowFlag);
  } else {
    const auto* src = static_cast<const UInt16*>(frame);
    if (code == 0)
      myMono16_Mono8(src, plane, w, h, w);
    else if (choice.family == kMyBayerFamilyRGGB)
      myBayerRGGB16_Mono8(src, plane, w, h, w, choice.startRowFlag);
    else
      myBayerBGGR16_Mono8(src, plane, w, h, w, choice.startRowFlag);
  }
  if (hotPixelFilter) myDoMonoHotPixel8Bit(plane, w, h, kGuideHotPixelThreshold);
  if (r.mDisplayFormatItem == 8)
    myBin4x4BufferMono8(plane, w, h);
  else if (r.mDisplayFormatItem == 3 || r.mDisplayFormatItem == 4)
    myBin2x2BufferMono8(plane, w, h);
}

struct Levels {
  UInt32 p9999, p95, p80, p50, p20;
};

Levels levelsOf(const UInt8* plane, UInt32* histogram, UInt32 w, UInt32 h) {
  myGetFrequencyMono8(plane, histogram, w, h, w);
  return Levels{myCalcMono8MedianVal(histogram, 0.9999), myCalcMono8MedianVal(histogram, 0.95),
                myCalcMono8MedianVal(histogram, 0.8), myCalcMono8MedianVal(histogram, 0.5),
                myCalcMono8MedianVal(histogram, 0.2)};
}

FILE* guideLog(const MyCameraWindowDataStruct& r) { return r.mGuideLogOpen == 1 ? r.mpGuideLogFile : nullptr; }

void stamp(char out[64]) { myGetDateTimePaddedString(out, 0, 0, 1); }

void clearSums(MyCameraWindowDataStruct& r) {
  r.mGuideSumX = r.mGuideSumY = r.mGuideSumBoxWidth = r.mGuideSumBoxHeight = 0.0f;
}

// The FWHM overlay's figures after one measured frame.
void updateOverlay(MyCameraWindowDataStruct& r, float fwhm, float hfd, float peak) {
  storeRelaxed(r.mFWHMFound, fwhm);
  storeRelaxed(r.mHFDFound, hfd);
  const UInt32 n = r.mFramesToAverage;
  if (n >= 2) {
    if (r.mFramesAveraged < n) {
      r.mFramesAveraged++;
      r.mFWHMRunningSum += fwhm;
      r.mHFDRunningSum += hfd;
      r.mStarPeakRunningSum += peak;
      return;
    }
    storeRelaxed(r.mPrevFWHM, loadRelaxed(r.mFWHM));
    storeRelaxed(r.mPrevHFD, loadRelaxed(r.mHFD));
    storeRelaxed(r.mPrevStarPeak, loadRelaxed(r.mStarPeak));
    storeRelaxed(r.mFWHM, r.mFWHMRunningSum / float(n));
    storeRelaxed(r.mHFD, r.mHFDRunningSum / float(n));
    storeRelaxed(r.mStarPeak, r.mStarPeakRunningSum / float(n));
    r.mFWHMRunningSum = r.mHFDRunningSum = r.mStarPeakRunningSum = 0.0f;
    r.mFramesAveraged = 0;
    return;
  }
  // Nothing to average over: the shown averages are this frame's, or long
  // exposures would leave the overlay frozen at its first figures.
  r.mFramesAveraged = 0;
  storeRelaxed(r.mPrevFWHM, loadRelaxed(r.mFWHM));
  storeRelaxed(r.mPrevHFD, loadRelaxed(r.mHFD));
  storeRelaxed(r.mPrevStarPeak, loadRelaxed(r.mStarPeak));
  storeRelaxed(r.mFWHM, fwhm);
  storeRelaxed(r.mHFD, hfd);
  storeRelaxed(r.mStarPeak, peak);
  r.mFWHMRunningSum = fwhm;
  r.mHFDRunningSum = hfd;
  r.mStarPeakRunningSum = peak;
}

// Flux above the background over the half-open disc of radius rho around the
// whole pixel (cx, cy): rows [trunc(cy - rho), trunc(cy + rho)), each from
// cx - h to cx + h (exclusive), h = rint(sqrt(|rho^2 - dy^2|)).
SInt64 discFlux(const UInt8* plane, UInt32 rowBytes, SInt64 cx, SInt64 cy, double rho, UInt32 background,
                UInt32* peak) {
  SInt64 flux = 0;
  const SInt64 first = SInt64(std::trunc(double(cy) - rho));
  const SInt64 last = SInt64(std::trunc(double(cy) + rho));
  for (SInt64 row = first; row < last; ++row) {
    const double dy = double(row - cy);
    const SInt64 h = SInt64(std::rint(std::sqrt(std::fabs(rho * rho - dy * dy)))) & 0xFF;
    const UInt8* line = plane + size_t(row) * rowBytes;
    for (SInt64 col = cx - h; col < cx + h; ++col) {
      const UInt32 p = line[col];
      if (p > background) flux += p - background;
      if (peak && p > *peak) *peak = p;
    }
  }
  return flux;
}

}  // namespace

void (*volatile gGuideTestPausePoint)(int where) = nullptr;

UInt32 myGuideLimbThreshold(UInt32 p80, UInt32 p20) {
  const double spread = (double(p80) - double(p20)) * 0.3;
  const SInt64 t = SInt64(std::trunc(spread));
  return t < 15 ? 15 : t > 200 ? 200 : UInt32(t);
}

UInt32 myGuideStarThreshold(UInt32 p9999, UInt32 p95, UInt32 p80) {
  UInt32 t = (p9999 + p80) / 2;
  if (SInt64(p95) - SInt64(p80) > 29) t = (p95 + p80) / 2;
  t &= 0xFF;
  return t > 200 ? 200 : t;
}

double myCalcHalfFluxDiameter8BitMono(const UInt8* plane, UInt32 rowBytes, UInt32 width, UInt32 height,
                                      double x, double y, double fwhm, UInt32 background, UInt32* peak) {
  *peak = 0;
  const double r = fwhm * 2.1;
  const double cxd = std::rint(x), cyd = std::rint(y);
  if (!(cxd - r > 1.0 && cxd + r < double(width) && cyd - r > 1.0 && cyd + r < double(height))) return -1.0;
  const SInt64 cx = SInt64(cxd), cy = SInt64(cyd);

  const SInt64 flux = discFlux(plane, rowBytes, cx, cy, r, background, peak);
  if (flux == 0) return 0.0;
  const SInt64 half = flux / 2;
  double rho = 0.75 * r, prevRho = rho;
  SInt64 f = 0, prevFlux = 0;
  for (;;) {
    f = discFlux(plane, rowBytes, cx, cy, rho, background, nullptr);
    if (f == half) break;
    if (f > half) {
      if (prevFlux != 0 && rho <= 1.0) break;
      prevRho = rho, prevFlux = f;
      rho -= 0.5;
    } else {
      if (rho + 0.5 >= r || (prevFlux != 0 && prevFlux >= half)) break;
      prevRho = rho, prevFlux = f;
      rho += 0.5;
    }
  }
  const bool between = (prevFlux > half && half > f) || (prevFlux < half && half < f);
  if (std::fabs(prevRho - rho) > 0.1 && f != prevFlux && between)
    rho = rho + (prevRho - rho) * double(half - f) / double(prevFlux - f);
  return 2.0 * rho;
}

OSStatus myGetImageTrackingCentroid(MyCameraWindowDataStruct* record, const void* frame) {
  if (!record || !frame) return noErr;
  MyCameraWindowDataStruct& r = *record;
  BusyScope busy(r.mGuideBusy);
  if (std::atomic_ref<UInt8>(r.mScopeControlActive).load(std::memory_order_seq_cst) == 0) return noErr;
  UInt8* plane = r.mSerial8BitBuffer;
  UInt32* histogram = r.mSerialHistoGramBuffer;
  if (!plane || !histogram) return noErr;

  std::atomic_ref<SInt32> phase(r.mTrackingPhase);
  const SInt32 nowPhase = phase.load(std::memory_order_acquire);
  if (std::atomic_ref<SInt32>(r.mPulsesPending).load(std::memory_order_acquire) > 0 || nowPhase == -1) {
    clearSums(r);
    return noErr;
  }
  if (nowPhase == 0) {
    // The first frame after a pulse may still show the move: not measured.
    r.mFramesAveraged = 0;
    clearSums(r);
    phase.store(1, std::memory_order_release);
    return noErr;
  }

  const UInt32 w = r.mWidth, h = r.mHeight;
  const bool lunar = r.mLunarSolarTracking == 1;
  const bool multiple = r.mMultipleObjects == 1;
  const bool guiding = loadRelaxed(r.mGuidingOn) == 1;
  buildPlane(r, frame, plane, !lunar && !multiple && r.mEliminateHotPixels == 1);
  if (auto pause = gGuideTestPausePoint) pause(kGuidePauseMeasuring);
  const Levels lv = levelsOf(plane, histogram, w, h);
  const UInt32 n = r.mFramesToAverage;

  float x = -1.0f, y = -1.0f;
  UInt32 boxW = 0, boxH = 0;
  if (lunar) {
    const UInt32 t = myGuideLimbThreshold(lv.p80, lv.p20);
    if (multiple && guiding)
      myCalRectImageDeltaCentroid(plane, 0, 0, w, h, w, t, 1, &x, &y);
    else
      myCalcDeltaMultipleCentroids(plane, w, h, w, t, 1, &x, &y, &boxW, &boxH);
  } else {
    const UInt8 t = UInt8(myGuideStarThreshold(lv.p9999, lv.p95, lv.p80));
    if (multiple && guiding) {
      myCalcImageSubCentroid(plane, w, h, w, t, r.mHasVectorUnit, r.mIsG5, &x, &y);
    } else {
      bool wholeFrame = true;
      const double lastX = loadRelaxed(r.mCurrentX), lastY = loadRelaxed(r.mCurrentY);
      const double margin = kLocalSearchHalf;
      if (r.mEliminateHotPixels == 1 && loadRelaxed(r.mFullFrameSearch) == 0 && lastX > margin &&
          lastX < double(w) - margin && lastY > margin && lastY < double(h) - margin) {
        const UInt32 x0 = UInt32(lastX) - kLocalSearchHalf, y0 = UInt32(lastY) - kLocalSearchHalf;
        myCalculateImageSubCentroidClipped(plane, x0, y0, 2 * kLocalSearchHalf, 2 * kLocalSearchHalf, w, t, &x, &y);
        if (x < 0.0f || y < 0.0f) {
          r.mLostFrames++;
          // A few misses are seeing or a cloud; after 2N the object has moved.
          wholeFrame = r.mLostFrames > 2 * n;
        } else {
          r.mLostFrames = 0;
          boxW = boxH = 2 * kLocalSearchHalf;
          wholeFrame = false;
        }
      }
      if (wholeFrame) myCalcMultipleImageSubCentroids(plane, w, h, w, t, r.mHasVectorUnit, r.mIsG5, &x, &y, &boxW, &boxH);
    }
  }

  FILE* log = guideLog(r);
  char when[64];
  bool turbulent = false;
  double fwhm = 0.0, tolerance = 0.0;
  if (x >= 0.0f && y >= 0.0f && r.mTurbulenceLimit == 1 && guiding && x > kFWHMEdgeMargin &&
      x < double(w) - kFWHMEdgeMargin && y > kFWHMEdgeMargin && y < double(h) - kFWHMEdgeMargin) {
    UInt32 halfLevel = 0;
    if (myCalcFWHM8BitMono(plane, w, w, h, x, y, SInt32(lv.p50), &fwhm, &halfLevel) == 0) {
      if (loadRelaxed(r.mFWHMAveraging) == 1) {
        r.mFWHMSum += float(fwhm);
        r.mFWHMCount++;
        if (r.mFWHMCount >= r.mFWHMFrames) {
          storeRelaxed(r.mFWHMAveraging, UInt8(0));
          r.mFWHMSum = r.mFWHMSum / float(r.mFWHMCount);
          if (log) {
            stamp(when);
            fprintf(log, "Time:\t%s\tAverage FWHM Calculated %.3f pixels\r", when, double(r.mFWHMSum));
          }
        }
      } else {
        tolerance = double(r.mFWHMSum) * kTurbulenceFactor;
        turbulent = fwhm > tolerance;
      }
    }
  }

  if (x < 0.0f || y < 0.0f || turbulent) {
    if (!turbulent) phase.store(1, std::memory_order_release);
    if (log) {
      stamp(when);
      if (turbulent)
        fprintf(log, "Time:\t%s\tFWHM Turbulence %.3f Exceeded Tolerance %.3f\r", when, fwhm, tolerance);
      else
        fprintf(log, "Time\t%s Lost Track of Object(s), trying to re-acquire..\r", when);
    }
    return noErr;
  }

  float px = x, py = y, pw = float(boxW), ph = float(boxH);
  if (n < 2) {
    r.mFramesAveraged = 0;
  } else if (r.mFramesAveraged < n) {
    r.mFramesAveraged++;
    r.mGuideSumX += x;
    r.mGuideSumY += y;
    r.mGuideSumBoxWidth += float(boxW);
    r.mGuideSumBoxHeight += float(boxH);
    return noErr;
  } else {
    // This frame only closes the average; it is not part of it.
    px = r.mGuideSumX / float(n);
    py = r.mGuideSumY / float(n);
    pw = r.mGuideSumBoxWidth / float(n);
    ph = r.mGuideSumBoxHeight / float(n);
    clearSums(r);
    r.mFramesAveraged = 0;
  }

  storeRelaxed(r.mTrackBoxWidth, pw);
  storeRelaxed(r.mTrackBoxHeight, ph);
  if (guiding) {
    phase.store(-1, std::memory_order_release);
    myMountCntlDeviceChangePosition(record, px, py);
    storeRelaxed(r.mFullFrameSearch, UInt8(0));
  } else {
    // Calibration reads the phase with acquire and then the position, so the
    // position goes first.
    storeRelaxed(r.mStartX, px);
    storeRelaxed(r.mStartY, py);
    phase.store(-1, std::memory_order_release);
    if (auto pause = gGuideTestPausePoint) pause(kGuidePauseAfterHandOff);
  }
  return noErr;
}

OSStatus myGetFWHMandHFD(MyCameraWindowDataStruct* record, const void* frame) {
  if (!record || !frame) return noErr;
  MyCameraWindowDataStruct& r = *record;
  BusyScope busy(r.mFWHMBusy);
  // Read after raising the counter: the main thread clears the switch, waits
  // for the counter and only then frees the buffers.
  if (std::atomic_ref<UInt8>(r.mFWHMOn).load(std::memory_order_seq_cst) == 0) return noErr;
  UInt8* plane = std::atomic_ref<UInt8*>(r.mFWHMPlane).load(std::memory_order_seq_cst);
  UInt32* histogram = std::atomic_ref<UInt32*>(r.mFWHMHistogram).load(std::memory_order_seq_cst);
  if (!plane || !histogram) return noErr;

  const UInt32 w = r.mWidth, h = r.mHeight;
  buildPlane(r, frame, plane, false);
  const Levels lv = levelsOf(plane, histogram, w, h);
  UInt32 t = myGuideStarThreshold(lv.p9999, lv.p95, lv.p80);
  if (t < 10) t = 10;

  float x = -1.0f, y = -1.0f;
  UInt32 boxW = 0, boxH = 0;
  myCalcMultipleImageSubCentroids(plane, w, h, w, UInt8(t), r.mHasVectorUnit, r.mIsG5, &x, &y, &boxW, &boxH);
  double fwhm = 0.0, hfd = -1.0;
  UInt32 peak = 0;
  if (x >= kFWHMEdgeMargin && y >= kFWHMEdgeMargin && double(w) - x >= kFWHMEdgeMargin &&
      double(h) - y >= kFWHMEdgeMargin) {
    UInt32 halfLevel = 0;
    if (myCalcFWHM8BitMono(plane, w, w, h, x, y, SInt32(lv.p50), &fwhm, &halfLevel) == 0)
      hfd = myCalcHalfFluxDiameter8BitMono(plane, w, w, h, x, y, fwhm, lv.p50, &peak);
  }
  if (hfd < 0.0) {
    storeRelaxed(r.mFWHMFound, 0.0f);
    storeRelaxed(r.mHFDFound, 0.0f);
    return noErr;
  }
  storeRelaxed(r.mStartX, x);
  storeRelaxed(r.mStartY, y);
  updateOverlay(r, float(fwhm), float(hfd), float(peak));
  return noErr;
}
