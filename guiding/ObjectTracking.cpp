// Object tracking: a 32 x 32 box follows the object from frame to frame. The
// first frame sets the box's threshold (half-way from the mean to the peak);
// every frame the intensity centroid above it is the object's position.
#include "guiding/ObjectTracking.h"

#include <atomic>

#include "pixel/BayerPlanes.h"
#include "pixel/Centroids.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/SharedFields.h"

namespace {

using skyloom_shared::BusyScope;
using skyloom_shared::loadAcquire;
using skyloom_shared::storeRelaxed;
using skyloom_shared::storeRelease;

constexpr OSStatus kObjectLost = -128;
// myCalcRectRange's answer for a box without usable contrast.
constexpr UInt32 kNoContrast = 0xFFFFFFFFu;
// With short exposures the positions of this many seconds make one sample.
constexpr float kAveragingSeconds = 1.0f;
constexpr float kHalfBox = float(kMyTrackBoxSize / 2);



struct Plane {
  const UInt8* pixels;
  UInt32 width, height, rowBytes;
};

// The box threshold at a position; kNoContrast when the box is flat.
UInt32 boxThreshold(const Plane& p, float x, float y) {
  UInt32 level = kNoContrast;
  myCalcRectRange(p.pixels, myTrackBoxOrigin(x, p.width), myTrackBoxOrigin(y, p.height), kMyTrackBoxSize,
                  kMyTrackBoxSize, p.rowBytes, &level);
  return level;
}

// Centroid of the pixels at or above the threshold in the box at a position;
// false when none is.
bool boxCentroid(const Plane& p, float x, float y, UInt32 threshold, float* cx, float* cy) {
  myCalcRectCentroid(p.pixels, myTrackBoxOrigin(x, p.width), myTrackBoxOrigin(y, p.height), kMyTrackBoxSize,
                     kMyTrackBoxSize, p.rowBytes, threshold, cx, cy);
  return *cx >= 0.0f && *cy >= 0.0f;
}

// The first frame: start the clocks, take the threshold at the frame centre,
// move onto the object and take the threshold again there. The run counts as
// started only when both boxes have contrast, so a frame without one leaves
// the next frame to try again rather than tracking with no threshold.
OSStatus startRun(MyCameraWindowDataStruct& r, const Plane& p) {
  const CFAbsoluteTime clock = CFAbsoluteTimeGetCurrent();
  const UInt64 micros = SkyloomMicroseconds();
  float x = float(p.width) * 0.5f, y = float(p.height) * 0.5f;
  UInt32 level = boxThreshold(p, x, y);
  if (level == kNoContrast) return kObjectLost;
  float cx, cy;
  if (!boxCentroid(p, x, y, level, &cx, &cy)) return kObjectLost;
  x = cx;
  y = cy;
  level = boxThreshold(p, x, y);
  if (level == kNoContrast) return kObjectLost;

  r.mBrightnessStartClock = clock;
  r.mBrightnessStartMicros = micros;
  storeRelaxed(r.mBrightnessElapsed, 0.0f);
  storeRelaxed(r.mTrackingArea[2], x);
  storeRelaxed(r.mTrackingArea[3], y);
  r.mTrackSumX = 0.0f;
  r.mTrackSumY = 0.0f;
  r.mTrackSumCount = 0;
  r.mBrightnessStartTime = kAveragingSeconds;
  r.mTrackThreshold = level;
  storeRelease(r.mTrackingAnalysisOn, UInt8(1));
  return noErr;
}

// The run ends by itself once the sample buffer is full.
void markWhenFull(MyCameraWindowDataStruct& r, UInt32 count) {
  if (count >= r.mTrackSampleCapacity) storeRelease(r.mPleezWaitDone, UInt8(1));
}

}  // namespace

UInt32 myTrackBoxOrigin(float position, UInt32 size) {
  const float low = position - kHalfBox;
  if (!(low > 0.0f)) return 0;
  if (position + kHalfBox < float(size)) return UInt32(low);
  return size - kMyTrackBoxSize;
}

OSStatus myDoImageTracking(MyCameraWindowDataStruct* record, const void* frame, UInt32 width, UInt32 height,
                           UInt32 rowBytes) {
  if (record == nullptr) return paramErr;
  MyCameraWindowDataStruct& r = *record;
  BusyScope busy(r.mTrackBusy);
  float* samples = loadAcquire(r.mTrackSamples);
  if (samples == nullptr || frame == nullptr) return paramErr;
  if (width < kMyTrackBoxSize || height < kMyTrackBoxSize) return paramErr;

  Plane plane{static_cast<const UInt8*>(frame), width, height, rowBytes};
  if (r.mBitsPerPixel > 8) {
    // The pipeline passes the width as the row bytes of every frame; deep
    // rows given fewer bytes than their samples take are packed rows.
    if (rowBytes / 2 < width) rowBytes = width * 2;
    if (rowBytes % 2 != 0) return paramErr;
    auto* mono = static_cast<UInt8*>(loadAcquire(r.mPleezWaitSum));
    if (mono == nullptr) return noErr;
    const auto* rows = static_cast<const UInt8*>(frame);
    if (rowBytes == width * 2) {
      myMono16_Mono8(reinterpret_cast<const UInt16*>(rows), mono, width, height, width);
    } else {
      for (UInt32 y = 0; y < height; ++y)
        myMono16_Mono8(reinterpret_cast<const UInt16*>(rows + size_t(y) * rowBytes), mono + size_t(y) * width,
                       width, 1, width);
    }
    plane = Plane{mono, width, height, width};
  } else if (rowBytes < width) {
    return paramErr;
  }

  if (r.mTrackingAnalysisOn == 0) {
    if (OSStatus err = startRun(r, plane)) return err;
  }

  float x, y;
  if (!boxCentroid(plane, r.mTrackingArea[2], r.mTrackingArea[3], r.mTrackThreshold, &x, &y)) return kObjectLost;
  const float t = float(double(SkyloomMicroseconds() - r.mBrightnessStartMicros) * 0.000001);

  if (r.mTrackSlowExposure != 0) {
    r.mTrackSumX += x;
    r.mTrackSumY += y;
    r.mTrackSumCount += 1;
    if (t < r.mBrightnessStartTime) {
      markWhenFull(r, r.mTrackSampleCount);
      return noErr;
    }
    r.mBrightnessStartTime = t + kAveragingSeconds;
    x = r.mTrackSumX / float(r.mTrackSumCount);
    y = r.mTrackSumY / float(r.mTrackSumCount);
    r.mTrackSumX = 0.0f;
    r.mTrackSumY = 0.0f;
    r.mTrackSumCount = 0;
  }
  storeRelaxed(r.mTrackingArea[2], x);
  storeRelaxed(r.mTrackingArea[3], y);

  // Frames that arrive after the buffer filled, before the run has ended,
  // are followed but not stored.
  const UInt32 n = r.mTrackSampleCount;
  if (n >= r.mTrackSampleCapacity) {
    markWhenFull(r, n);
    return noErr;
  }
  storeRelaxed(r.mBrightnessElapsed, t);
  float* sample = samples + size_t(n) * kMyTrackSampleFloats;
  sample[0] = x;
  sample[1] = y;
  sample[2] = t;
  if (n == 0) {
    storeRelaxed(r.mTrackingArea[0], x);
    storeRelaxed(r.mTrackingArea[1], y);
  }
  storeRelease(r.mTrackSampleCount, n + 1);
  markWhenFull(r, n + 1);
  return noErr;
}
