#include "photometry/StarMeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "utilities/Alerts.h"

namespace {

// The star must stand clear of the frame's edges by this many pixels.
constexpr UInt32 kStarMargin = 16;
// A star's half maximum must rise this far above the background (5%).
constexpr double kStarContrast = 1.05;
// Sub-pixels a pixel side; each is worth 1/25 of the pixel.
constexpr int kSub = 5;
constexpr float kSubWeight = 0.04f;
// Sky samples brighter than the threshold are marked with this and left out.
constexpr float kSkyExcluded = 65535.0f;

inline UInt16 Sample(const UInt16* frame, UInt32 rowBytes, long col, long row) {
  return reinterpret_cast<const UInt16*>(reinterpret_cast<const UInt8*>(frame) + size_t(row) * rowBytes)[col];
}

UInt32 Peak3x3(const UInt16* frame, UInt32 rowBytes, long cx, long cy) {
  UInt32 peak = 0;
  for (long r = cy - 1; r <= cy + 1; ++r)
    for (long c = cx - 1; c <= cx + 1; ++c) peak = std::max<UInt32>(peak, Sample(frame, rowBytes, c, r));
  return peak;
}

// The whole-pixel centre of a position, or false when it is not a number
// inside [0, limit).
bool WholePixel(double v, UInt32 limit, long* out) {
  if (!(v >= 0.0) || v >= double(limit)) return false;
  *out = long(v);
  return true;
}

// One profile walk from `start` (whose sample is known to be above hm) in
// direction `step`, over samples get(p) for p within [lo, hi]. Adds the
// distance from pos to the half-maximum crossing when the walk ends.
template <class Get>
void Walk(Get get, long start, int step, long lo, long hi, double pos, UInt32 hm, double* sum, int* count) {
  UInt32 vin = get(start);
  for (long p = start + step; p >= lo && p <= hi; p += step) {
    UInt32 v = get(p);
    if (v <= hm) {
      double frac = v == hm ? 0.0 : double(hm - v) / double(vin - v);
      *sum += step < 0 ? pos - double(p) - frac : double(p) - pos - frac;
      *count += 1;
      return;
    }
    vin = v;
  }
}

// Light above bg inside the disc of radius R: rows trunc(cy - R) up to
// trunc(cy + R), half-chords rint(sqrt(|dy^2 - R^2|)), columns cx - h up to
// cx + h. Sums in 64 bits, which a large disc of bright samples needs.
uint64_t DiscSum(const UInt16* frame, UInt32 rowBytes, long cx, long cy, double R, UInt32 bg, UInt32* peak) {
  uint64_t sum = 0;
  long first = long(std::trunc(double(cy) - R)), end = long(std::trunc(double(cy) + R));
  for (long row = std::max(first, 0L); row < end; ++row) {
    double dy = std::fabs(double(row - cy));
    long h = long(std::rint(std::sqrt(std::fabs(dy * dy - R * R))));
    const UInt16* line = reinterpret_cast<const UInt16*>(reinterpret_cast<const UInt8*>(frame) + size_t(row) * rowBytes);
    for (long col = std::max(cx - h, 0L); col < cx + h; ++col) {
      UInt32 v = line[col];
      if (peak) *peak = std::max(*peak, v);
      if (v > bg) sum += v - bg;
    }
  }
  return sum;
}

bool ApertureOffFrame(float r, UInt32 cx, UInt32 cy, UInt32 width, UInt32 height) {
  // Compared in double: the whole-pixel values are exact there.
  double rr = r;
  return !(rr <= cx) || rr > cy || double(cx) + rr > width || double(cy) + rr > height;
}

// The grid is the star's pixel and ceil(r) pixels each way, inside the frame.
// A sub-pixel (i, j) of pixel (px, py) lies in the circle when X^2 + Y^2 <
// 100 r^2 with X = 10 (px - cx) + 2i - 4 and Y = 10 (py - cy) + 2j - 4: its
// centre in tenths of a pixel from the star's pixel centre. Whole numbers,
// so the rule is exact and symmetric, and a star's sum does not depend on
// which corner of the box the circle would otherwise sit in.
struct Grid {
  long x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive pixel bounds
  long cx = 0, cy = 0;
  double limit = 0.0;  // 100 r^2
};

Grid MakeGrid(float r, UInt32 cx, UInt32 cy, UInt32 width, UInt32 height) {
  long k = long(std::ceil(double(r)));
  Grid g;
  g.cx = cx;
  g.cy = cy;
  g.x0 = std::max(long(cx) - k, 0L);
  g.y0 = std::max(long(cy) - k, 0L);
  g.x1 = std::min(long(cx) + k, long(width) - 1);
  g.y1 = std::min(long(cy) + k, long(height) - 1);
  g.limit = 100.0 * double(r) * double(r);
  return g;
}

// Visits the sub-pixels inside the circle sub-row by sub-row, left to right,
// handing each its pixel's sample.
template <class Visit>
void ForEachSubPixel(const Grid& g, const UInt16* frame, UInt32 rowBytes, Visit visit) {
  for (long py = g.y0; py <= g.y1; ++py) {
    const UInt16* line = reinterpret_cast<const UInt16*>(reinterpret_cast<const UInt8*>(frame) + size_t(py) * rowBytes);
    for (int j = 0; j < kSub; ++j) {
      long Y = 10 * (py - g.cy) + 2 * j - 4;
      double room = g.limit - double(Y * Y);
      if (room <= 0.0) continue;
      for (long px = g.x0; px <= g.x1; ++px) {
        long dx = 10 * (px - g.cx) - 4;
        for (int i = 0; i < kSub; ++i) {
          long X = dx + 2 * i;
          if (double(X * X) < room) visit(line[px]);
        }
      }
    }
  }
}

template <class Pred>
bool AnyPixel(const Grid& g, const UInt16* frame, UInt32 rowBytes, Pred pred) {
  for (long py = g.y0; py <= g.y1; ++py)
    for (long px = g.x0; px <= g.x1; ++px)
      if (pred(Sample(frame, rowBytes, px, py))) return true;
  return false;
}

}  // namespace

UInt8 myIsStarAtCentroid(double x, double y, const UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                         UInt32 background) {
  long cx, cy;
  if (!frame || !WholePixel(x, width, &cx) || !WholePixel(y, height, &cy)) return 0;
  if (!(cx > long(kStarMargin) && cx < long(width) - long(kStarMargin) && cy > long(kStarMargin) &&
        cy < long(height) - long(kStarMargin)))
    return 0;
  UInt32 peak = Peak3x3(frame, rowBytes, cx, cy);
  UInt32 hm = UInt32((double(peak) + double(background)) / 2.0);
  return double(hm) > kStarContrast * double(background) ? 1 : 0;
}

OSErr myCalcFWHM16BitMono(double x, double y, const UInt16* frame, UInt32 width, UInt32 height, UInt32 rowBytes,
                          UInt32 background, double* fwhm, UInt32* halfMax) {
  if (fwhm) *fwhm = 0.0;
  if (halfMax) *halfMax = 0;
  long cx, cy;
  if (!frame || !WholePixel(x, width, &cx) || !WholePixel(y, height, &cy)) return -1;
  if (cx < 1 || cy < 1 || cx + 1 >= long(width) || cy + 1 >= long(height)) return -1;
  UInt32 peak = Peak3x3(frame, rowBytes, cx, cy);
  UInt32 hm = UInt32((double(peak) + double(background)) / 2.0);
  if (halfMax) *halfMax = hm;
  if (double(hm) <= kStarContrast * double(background)) return -1;

  double sum = 0.0;
  int count = 0;
  long lastCol = long(width) - 1, lastRow = long(height) - 1;
  auto rowWalks = [&](int step) {
    for (long row = cy - 1; row <= cy + 1; ++row) {
      auto get = [&](long c) -> UInt32 { return Sample(frame, rowBytes, c, row); };
      if (get(cx) > hm) Walk(get, cx, step, 1, lastCol, x, hm, &sum, &count);
    }
  };
  auto colWalks = [&](int step) {
    for (long col = cx - 1; col <= cx + 1; ++col) {
      auto get = [&](long r) -> UInt32 { return Sample(frame, rowBytes, col, r); };
      if (get(cy) > hm) Walk(get, cy, step, 1, lastRow, y, hm, &sum, &count);
    }
  };
  rowWalks(-1);
  rowWalks(+1);
  colWalks(-1);
  colWalks(+1);
  if (count == 0) return -1;
  if (fwhm) *fwhm = 2.0 * sum / count;
  return 0;
}

float myCalculateHFD16BitMono(double radius, const UInt16* frame, UInt32 cx, UInt32 cy, UInt32 rowBytes,
                              UInt32 background, UInt32* peak) {
  if (peak) *peak = 0;
  if (!frame || !(radius > 0.0) || !std::isfinite(radius)) return 0.0f;
  UInt32 bg = background & 0xFFFF;
  UInt32 firstPeak = 0;
  uint64_t total = DiscSum(frame, rowBytes, cx, cy, radius, bg, &firstPeak);
  if (peak) *peak = firstPeak;
  if (total == 0) return 0.0f;
  uint64_t half = total / 2;

  double rho = 0.75 * radius, prevRho = rho;
  uint64_t S = 0, prevS = 0;
  for (;;) {
    S = DiscSum(frame, rowBytes, cx, cy, rho, bg, nullptr);
    if (S >= half) {
      if (S == half || (prevS != 0 && rho <= 1.0)) break;
      prevRho = rho;
      prevS = S;
      rho -= 0.5;
    } else {
      double next = rho + 0.5;
      if (next > radius || (prevS != 0 && half <= prevS)) break;
      prevRho = rho;
      prevS = S;
      rho = next;
    }
  }
  if (std::fabs(prevRho - rho) > 0.1 && prevS != S && std::min(prevS, S) < half && half < std::max(prevS, S))
    rho = (prevRho - rho) / (double(prevS) - double(S)) * (double(half) - double(S)) + rho;
  return float(2.0 * rho);
}

float myCalculateStarSNR(float S, UInt32 nStar, float B, UInt32 nBg) {
  if (!(S > 0.0f) || nBg == 0) return 0.0f;
  float b = B / float(nBg);
  float ratio = float(nStar) * (1.0f / float(nBg));
  double noise = double(S) + double(nStar) * (1.0 + double(ratio)) * (double(b) + 0.0841);
  return float(double(S) / std::sqrt(noise));
}

float myCalculateMagnitude(double m0, double I0, double I) {
  if (!(I0 > double(0.01f))) return float(m0);
  if (!(I > 0.0)) return -999.0f;
  // 2.512, the rounded fifth root of 100, not Pogson's 2.5: the tables have
  // always been computed with it.
  return float(m0 - 2.512 * std::log10(I / I0));
}

namespace {

// The checks both sums start with: the circle inside the frame (else -1.0)
// and some pixel of the grid selected (else -2.0), each with its alert when
// asked. 0.0 when the sum can go ahead, with the grid made.
template <class Selected>
double PrepareGrid(float r, const UInt16* frame, UInt32 cx, UInt32 cy, UInt32 width, UInt32 height,
                   UInt32 rowBytes, UInt8 alertFlag, Selected selected, Grid* g) {
  if (!frame || ApertureOffFrame(r, cx, cy, width, height)) {
    if (alertFlag == 1) myPostAlert("USRER", "TOCLOSEERR");
    return -1.0;
  }
  *g = MakeGrid(r, cx, cy, width, height);
  if (!AnyPixel(*g, frame, rowBytes, selected)) {
    if (alertFlag == 1) myPostAlert("USRER", "NOSIGERR");
    return -2.0;
  }
  return 0.0;
}

}  // namespace

double myQUADPIXCaclRadiusIntensity16BitMono(float r, const UInt16* frame, UInt32 cx, UInt32 cy, UInt32 width,
                                             UInt32 height, UInt32 rowBytes, UInt32 level, UInt8 alertFlag,
                                             UInt32* pixelCount) {
  if (pixelCount) *pixelCount = 0;
  const UInt32 lvl = level & 0xFFFF;
  Grid g;
  const double failed = PrepareGrid(r, frame, cx, cy, width, height, rowBytes, alertFlag,
                                    [&](UInt32 v) { return v >= lvl; }, &g);
  if (failed < 0.0) return failed;
  float sum = 0.0f;
  UInt32 counted = 0;
  ForEachSubPixel(g, frame, rowBytes, [&](UInt32 v) {
    if (v < lvl) return;
    float sub = float(v - lvl) * kSubWeight;
    if (sub > 0.0f) {
      sum += sub;
      ++counted;
    }
  });
  if (pixelCount) *pixelCount = UInt32(double(counted) * double(kSubWeight));
  return sum;
}

double myQUADPIXCaclBackgroundRadiusIntensity16BitMono(float r, const UInt16* frame, UInt32 cx, UInt32 cy,
                                                       UInt32 width, UInt32 height, UInt32 rowBytes,
                                                       UInt32 threshold, UInt8 alertFlag, UInt32* pixelCount) {
  if (pixelCount) *pixelCount = 0;
  const UInt32 thr = threshold & 0xFFFF;
  Grid g;
  const double failed = PrepareGrid(r, frame, cx, cy, width, height, rowBytes, alertFlag,
                                    [&](UInt32 v) { return v <= thr; }, &g);
  if (failed < 0.0) return failed;
  float sum = 0.0f;
  UInt32 counted = 0;
  ForEachSubPixel(g, frame, rowBytes, [&](UInt32 v) {
    float sub = v > thr ? kSkyExcluded : float(v) * kSubWeight;
    if (sub < kSkyExcluded) {
      sum += sub;
      ++counted;
    }
  });
  if (pixelCount) *pixelCount = UInt32(double(counted) * double(kSubWeight));
  return sum;
}

void mySolveLineEquations(const float x[3], const float y[3], const float q[3], float* A, float* B, float* C,
                          float* residual) {
  const double x0 = x[0], y0 = y[0], q0 = q[0];
  // Row 1 less f1 x row 0; the factor is kept in single precision.
  double f1 = float(double(x[1]) / x0);
  double b1 = y[1], c1 = 1.0, w1 = q[1];
  if (std::fabs(f1) > 1e-5) {
    b1 = y[1] - f1 * y0;
    c1 = 1.0 - f1;
    w1 = q[1] - f1 * q0;
  }
  double f2 = double(x[2]) / x0;
  double b2 = y[2], c2 = 1.0, w2 = q[2];
  if (std::fabs(f2) > 1e-5) {
    b2 = y[2] - f2 * y0;
    c2 = 1.0 - f2;
    w2 = q[2] - f2 * q0;
  }
  // Three stars whose reduced y term is exactly 0 (collinear with the first
  // pivot) have no solution: f3 is 0 then, never a division by zero.
  double f3 = b1 != 0.0 ? double(float(b2 / b1)) : 0.0;
  double d = c2 - f3 * c1;
  double c = std::fabs(d) > 1e-6 ? (w2 - f3 * w1) / d : 0.0;
  double b = std::fabs(b1) > 1e-6 ? (w1 - c * c1) / b1 : 0.0;
  double a = std::fabs(x0) > 1e-6 ? (q0 - c - b * y0) / x0 : 0.0;
  if (A) *A = float(a);
  if (B) *B = float(b);
  if (C) *C = float(c);

  double p[3], S = 0.0, T = 0.0, pp = 0.0, pq = 0.0;
  for (int i = 0; i < 3; ++i) {
    p[i] = a * x[i] + b * y[i] + c;
    S += p[i];
    T += q[i];
    pp += p[i] * p[i];
    pq += p[i] * q[i];
  }
  double den = pp - S * S / 3.0;
  double k = std::fabs(den) > 0.0001 ? (pq - T * S / 3.0) / den : 0.0;
  double m = float(T / 3.0 - k * S / 3.0);
  double res = 0.0;
  for (int i = 0; i < 3; ++i) {
    double e = k * p[i] + m - q[i];
    res += e * e;
  }
  if (residual) *residual = float(res);
}

void myAdjustRAArcSeconds(float* ra, UInt32 count) {
  // Half a turn and a whole turn of right ascension, in arc seconds.
  constexpr float kHalfTurn = 648000.0f, kFullTurn = 1296000.0f;
  if (!ra || count < 2) return;
  float lo = ra[0], hi = ra[0];
  for (UInt32 i = 1; i < count; ++i) {
    lo = std::min(lo, ra[i]);
    hi = std::max(hi, ra[i]);
  }
  if (!(hi - lo > kHalfTurn)) return;
  for (UInt32 i = 0; i < count; ++i)
    if (ra[i] < kHalfTurn) ra[i] += kFullTurn;
}
