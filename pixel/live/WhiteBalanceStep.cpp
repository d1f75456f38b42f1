#include "pixel/live/WhiteBalanceStep.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "camera_driver/ORXDCAM.h"

namespace {

// The 8-bit target of one component.
SInt32 balanceTarget(const RGBColor& target, UInt16 component, UInt8 averageGreen) {
  if (target.green > 255) {
    const double t = std::round(double(averageGreen) * double(component) / double(target.green));
    return t > 254.0 ? 255 : SInt32(t);
  }
  return component >> 8;
}

void balanceComponent(MyDCAMCameraStruct* camera, SInt32 selector, UInt8 average, SInt32 target,
                      UInt8* done, UInt32* current, UInt32* previous, UInt32* lower,
                      UInt32* upper) {
  if (*done != 0) return;
  const SInt32 gap = SInt32(average) - target;
  if (gap <= kMyWhiteBalanceTolerance && gap >= -kMyWhiteBalanceTolerance) {
    *done = 1;
    return;
  }
  // The measurement rules out the current value and everything beyond it on
  // its side, so that side's bound closes in to it; the far end stays inside
  // the bounds, or a step back to an old bound can undo the search and cycle.
  UInt32 far;
  if (gap <= 0) {  // more of this colour needed
    *lower = std::max(*lower, std::min(*current, *upper));
    far = (*previous == kMyWhiteBalanceNoValue || *previous < *current) ? *upper : *previous;
  } else {
    *upper = std::min(*upper, std::max(*current, *lower));
    far = (*previous == kMyWhiteBalanceNoValue || *previous > *current) ? *lower : *previous;
  }
  far = std::clamp(far, *lower, *upper);
  const UInt32 next = UInt32((UInt64(far) + *current) >> 1);
  *previous = *current;
  *current = next;
  ORXDCAMSetPropertyValue(camera, kMyWhiteBalanceFeature, selector, next);
}

}  // namespace

UInt32 myBalanceBayer_RB8Bit(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return 0;
  const RGBColor target = record->mBalanceColour;
  const SInt32 targetRed = balanceTarget(target, target.red, record->mBalanceG);
  const SInt32 targetBlue = balanceTarget(target, target.blue, record->mBalanceG);
  balanceComponent(record->mCameraHandle, kMyWhiteBalanceSelectorVR, record->mBalanceR,
                   targetRed, &record->mRedBalanceDone, &record->mRedBalanceValue,
                   &record->mRedBalancePrevious, &record->mRedBalanceLower,
                   &record->mRedBalanceUpper);
  balanceComponent(record->mCameraHandle, kMyWhiteBalanceSelectorUB, record->mBalanceB,
                   targetBlue, &record->mBlueBalanceDone, &record->mBlueBalanceValue,
                   &record->mBlueBalancePrevious, &record->mBlueBalanceLower,
                   &record->mBlueBalanceUpper);
  return (record->mRedBalanceDone != 0 && record->mBlueBalanceDone != 0) ? 1u : 0u;
}
