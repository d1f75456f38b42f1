// Single-precision fused multiply-adds a x r + t where r is a whole sample
// (|r| < 2^16) and t a float. Without a fused unit in the target, std::fma is a
// library call a sample; but a x r is exact in double (24 + 16 bits), and when
// the exponents of the two terms are close enough their sum is exact in double
// too, so rounding that sum once to float gives the fused result bit for bit,
// in plain vectorisable arithmetic. Callers check the exponents once a call and
// take std::fma in the rare other cases.
#pragma once
#include <algorithm>
#include <cmath>

// True when a x r + t (|r| < 2^16 whole, t a float whose exponent lies in
// [tExponentLow, tExponentHigh], or t = 0) is held exactly by a double.
inline bool myFusedSumFitsDouble(float a, int tExponentLow, int tExponentHigh) {
  if (a == 0.0f) return true;
  if (!std::isfinite(a)) return false;
  const int ea = std::ilogb(a);
  // The sum's bits run from 2^(min(ea, et) - 23) to below 2^(max(ea + 16, et) + 2).
  const auto span = [ea](int et) { return std::max(ea + 16, et) - std::min(ea, et); };
  return span(tExponentLow) <= 28 && span(tExponentHigh) <= 28;
}

// a x r + t rounded once to float, for operands that passed the check above.
inline float myFusedSumByDouble(float a, float r, float t) {
  return float(double(a) * double(r) + double(t));
}
