// The white-balance step of the live pipeline: it moves the camera's red and
// blue white-balance components towards the user's target colour, measured by
// the colour averages of pixel/BayerWhiteBalance.h. It sits above the pixel
// library because it talks to the camera.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

// The camera's white-balance feature (named by its inquiry offset) and the
// selectors of its two halves.
constexpr UInt32 kMyWhiteBalanceFeature = 0x50C;
constexpr SInt32 kMyWhiteBalanceSelectorUB = 4;  // blue
constexpr SInt32 kMyWhiteBalanceSelectorVR = 5;  // red
// How far (8-bit scale) a measured average may lie from its target.
constexpr SInt32 kMyWhiteBalanceTolerance = 11;

// One step of the white-balance run, after the frame's averages are in
// mBalanceR/G/B: each component not yet done either comes within tolerance
// (its done flag is set, nothing is sent) or is sent a new value halfway
// between its current value and the far end of its search. Each measurement
// narrows the record's lower or upper bound of that component to the value
// it ruled out, and the far end is held inside the bounds, so a run over a
// camera whose colour rises with the value always settles. Returns 1 when
// both components are done, else 0. Values go to the camera through
// ORXDCAMSetPropertyValue (feature 0x50C, selector 5 for red, 4 for blue)
// on the calling thread. The camera's answer is not examined: a
// refused value leaves the colour as it was and the search goes on from the
// recorded values.
UInt32 myBalanceBayer_RB8Bit(MyCameraWindowDataStruct* record);
