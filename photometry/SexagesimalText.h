// Sky coordinates as text: a value in seconds (of time for right ascension,
// of arc for declination) split into whole units, minutes and seconds. The
// seconds are rounded to hundredths before the split and carry into the
// minutes and units, so a text never shows "60.00" seconds.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct MySexagesimal {
  SInt32 units;    // hours or degrees
  SInt32 minutes;  // 0 .. 59
  double seconds;  // 0 .. 59.99, a whole number of hundredths
};

// |value| split; the sign is the caller's.
MySexagesimal mySplitSexagesimal(double seconds);

// Right ascension in arc seconds brought into one turn, [0, 1296000).
double myNormalizeRightAscension(double arcSeconds);
