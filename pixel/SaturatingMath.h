// Float-to-integer conversions of the pixel library. Every conversion
// saturates to the destination's range and takes NaN as 0, so a measurement
// of a degenerate frame never turns into undefined behaviour.
#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace skyloom_pixel {

template <typename Int>
inline Int saturateTrunc(double v) {
  if (!(v == v)) return 0;
  constexpr double lo = double(std::numeric_limits<Int>::min());
  constexpr double hi = double(std::numeric_limits<Int>::max());
  if (v <= lo) return std::numeric_limits<Int>::min();
  if (v >= hi) return std::numeric_limits<Int>::max();
  return Int(v);
}

// Round to nearest, halves away from zero.
template <typename Int>
inline Int saturateRound(double v) {
  return saturateTrunc<Int>(std::round(v));
}

}  // namespace skyloom_pixel
