#include "photometry/SexagesimalText.h"

#include <cmath>

MySexagesimal mySplitSexagesimal(double seconds) {
  const double hundredths = std::nearbyint(std::fabs(seconds) * 100.0);
  if (!(hundredths < 9.0e15)) return {0, 0, 0.0};  // NaN or beyond any sky coordinate
  const SInt64 total = SInt64(hundredths);
  MySexagesimal out;
  out.units = SInt32(total / 360000);
  out.minutes = SInt32(total / 6000 % 60);
  out.seconds = double(total % 6000) / 100.0;
  return out;
}

double myNormalizeRightAscension(double arcSeconds) {
  constexpr double kTurn = 1296000.0;
  double ra = std::fmod(arcSeconds, kTurn);
  if (ra < 0.0) ra += kTurn;
  return ra >= kTurn ? 0.0 : ra;
}
