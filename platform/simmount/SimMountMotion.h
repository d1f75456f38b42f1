// The simulated mount's motion on the sensor: while a guide line is on, the
// mount moves the picture along its axis at that line's rate. The RA axis
// lies at a chosen angle on the sensor, counter-clockwise as seen with y
// pointing up (frame y grows downwards): west moves along (cos a, -sin a),
// east the other way; south along (sin a, cos a), north the other way. With
// angle 0, west is +x, east -x, north -y and south +y.
#pragma once
#include <cmath>
#include <vector>

#include "platform/simcamera/SimGuideLines.h"

struct SimMountMotion {
  // Pixels per millisecond of the monotonic clock, by SimGuideLine.
  double rate[4] = {0.0, 0.0, 0.0, 0.0};
  double raAngleDegrees = 0.0;
};

// The mount's offset in pixels at `micros` from the line changes (oldest
// first; SimMergeGuideLines); 0 before the first change.
inline void SimMountOffsetAt(const SimMountMotion& motion, const std::vector<SimGuideLineState>& states,
                             UInt64 micros, double* dx, double* dy) {
  double along[4] = {0.0, 0.0, 0.0, 0.0};  // ms each line was on
  UInt64 since[4] = {0, 0, 0, 0};
  bool on[4] = {false, false, false, false};
  for (const SimGuideLineState& s : states) {
    if (s.micros > micros) break;
    if (s.line < 0 || s.line > 3) continue;
    if (s.on && !on[s.line]) {
      on[s.line] = true;
      since[s.line] = s.micros;
    } else if (!s.on && on[s.line]) {
      on[s.line] = false;
      along[s.line] += double(s.micros - since[s.line]) * 1e-3;
    }
  }
  for (int l = 0; l < 4; l++)
    if (on[l]) along[l] += double(micros - since[l]) * 1e-3;
  const double a = motion.raAngleDegrees * 3.14159265358979323846 / 180.0;
  const double ra = along[kSimGuideWest] * motion.rate[kSimGuideWest] - along[kSimGuideEast] * motion.rate[kSimGuideEast];
  const double dec =
      along[kSimGuideSouth] * motion.rate[kSimGuideSouth] - along[kSimGuideNorth] * motion.rate[kSimGuideNorth];
  *dx = ra * std::cos(a) + dec * std::sin(a);
  *dy = -ra * std::sin(a) + dec * std::cos(a);
}
