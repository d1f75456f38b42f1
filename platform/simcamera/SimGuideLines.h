// Guide lines of the simulated rig: east, west, north and south, each on or
// off from a time on. The camera's GPIO registers, the GPUSB adapter's
// outputs and the motions a mount is told on its serial line all come down
// to these four lines, so the rig's motion is read from one view whichever
// device drives it.
#pragma once
#include <algorithm>
#include <initializer_list>
#include <vector>

#include "platform/coreservices/CoreServices.h"

enum SimGuideLine { kSimGuideEast = 0, kSimGuideWest = 1, kSimGuideNorth = 2, kSimGuideSouth = 3 };

struct SimGuideLineState {
  UInt64 micros = 0;  // SkyloomMicroseconds when the line changed
  int line = 0;       // a SimGuideLine
  bool on = false;
  bool operator==(const SimGuideLineState&) const = default;
};

// The changes of several devices as one list, oldest first; changes of the
// same time keep their device's order.
inline std::vector<SimGuideLineState> SimMergeGuideLines(
    std::initializer_list<std::vector<SimGuideLineState>> devices) {
  std::vector<SimGuideLineState> out;
  for (const auto& d : devices) out.insert(out.end(), d.begin(), d.end());
  std::stable_sort(out.begin(), out.end(),
                   [](const SimGuideLineState& a, const SimGuideLineState& b) { return a.micros < b.micros; });
  return out;
}

// The lines on at `micros` (bit n for line n), every line off before its
// first change.
inline UInt32 SimGuideLinesOnAt(const std::vector<SimGuideLineState>& states, UInt64 micros) {
  UInt32 mask = 0;
  for (const SimGuideLineState& s : states) {
    if (s.micros > micros) break;
    if (s.on) mask |= 1u << s.line;
    else mask &= ~(1u << s.line);
  }
  return mask;
}
