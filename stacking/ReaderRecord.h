// The record of one frame-reader or poster thread of a stacking run. Only the
// levels of the Mono8 stretch that the align worker records copy are here so
// far.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MAMF {
  UInt32 mExpandLow;   // low level of the Mono8 stretch of alignment frames
  UInt32 mExpandHigh;  // high level
};
