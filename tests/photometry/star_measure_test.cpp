// Star measurement on synthetic frames: the rules' edge cases, Gaussian stars
// against an independent numpy reference (photometry_golden.py), the centred
// aperture's independence of sub-pixel phase, and the plate solution.
#include "photometry/StarMeasure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

struct Frame {
  UInt32 w, h;
  std::vector<UInt16> px;
  Frame(UInt32 width, UInt32 height, UInt16 v = 0) : w(width), h(height), px(size_t(width) * height, v) {}
  UInt16& at(UInt32 x, UInt32 y) { return px[size_t(y) * w + x]; }
  const UInt16* data() const { return px.data(); }
  UInt32 rowBytes() const { return w * 2; }
};

// The reference script's star: background + amplitude x Gaussian, rounded half up.
Frame GaussianStar(UInt32 size, double x0, double y0, double sigma, double amp, double bg) {
  Frame f(size, size);
  for (UInt32 y = 0; y < size; ++y)
    for (UInt32 x = 0; x < size; ++x) {
      double v = bg + amp * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2.0 * sigma * sigma));
      f.at(x, y) = UInt16(std::floor(v + 0.5));
    }
  return f;
}

struct Golden {
  double sigma, x0, y0;
  int amp, bg, size, fwhmResult;
  double fwhm;
  UInt32 hm, cx, cy;
  double R;
  float hfdR;
  UInt32 peakR;
  float r, hfdr;
  double apSum;
  UInt32 apN;
  float skyR;
  UInt32 skyThreshold;
  double skySum;
  UInt32 skyN;
};
const Golden kGolden[] = {
#include "tests/photometry/photometry_golden.inc"
};

TEST(StarMeasure, GaussianStarsMatchTheReference) {
  for (const Golden& g : kGolden) {
    SCOPED_TRACE(g.sigma);
    Frame f = GaussianStar(g.size, g.x0, g.y0, g.sigma, g.amp, g.bg);
    double fwhm = -5;
    UInt32 hm = 0;
    ASSERT_EQ(myCalcFWHM16BitMono(g.x0, g.y0, f.data(), f.w, f.h, f.rowBytes(), g.bg, &fwhm, &hm), g.fwhmResult);
    EXPECT_EQ(hm, g.hm);
    EXPECT_NEAR(fwhm, g.fwhm, 1e-6);
    EXPECT_EQ(myIsStarAtCentroid(g.x0, g.y0, f.data(), f.w, f.h, f.rowBytes(), g.bg), 1);

    UInt32 peak = 0;
    EXPECT_NEAR(myCalculateHFD16BitMono(g.R, f.data(), g.cx, g.cy, f.rowBytes(), g.bg, &peak), g.hfdR, 1e-6);
    EXPECT_EQ(peak, g.peakR);
    EXPECT_NEAR(myCalculateHFD16BitMono(g.r, f.data(), g.cx, g.cy, f.rowBytes(), g.bg, &peak), g.hfdr, 1e-6);

    UInt32 n = 99;
    double s = myQUADPIXCaclRadiusIntensity16BitMono(g.r, f.data(), g.cx, g.cy, f.w, f.h, f.rowBytes(), g.bg, 0, &n);
    EXPECT_NEAR(s, g.apSum, 1e-5 * g.apSum);
    EXPECT_EQ(n, g.apN);
    double b = myQUADPIXCaclBackgroundRadiusIntensity16BitMono(g.skyR, f.data(), g.cx, g.cy, f.w, f.h, f.rowBytes(),
                                                               g.skyThreshold, 0, &n);
    EXPECT_NEAR(b, g.skySum, 1e-5 * g.skySum);
    EXPECT_EQ(n, g.skyN);
  }
  // The sigma 2 star, worked out by hand from the rules.
  EXPECT_EQ(kGolden[0].hm, 5846u);
  EXPECT_NEAR(kGolden[0].fwhm, 4.4146, 5e-5);
  EXPECT_NEAR(kGolden[0].hfdR, 4.7010, 5e-5);
  EXPECT_NEAR(kGolden[0].hfdr, 5.3433, 5e-5);
  EXPECT_NEAR(kGolden[0].apSum, 250006.1, 0.06);
  EXPECT_EQ(kGolden[0].apN, 137u);
  EXPECT_NEAR(kGolden[0].skySum, 746497.8, 0.06);
  EXPECT_EQ(kGolden[0].skyN, 744u);
}

TEST(StarMeasure, ApertureSumDoesNotFollowTheSubPixelPhase) {
  // A circle centred on the star's pixel: the sum of one star moved within its
  // pixel changes only with the light that moves, not with the circle.
  const double phases[][2] = {{0, 0}, {0.2, 0.1}, {0.4, 0.3}, {-0.3, 0.45}, {0.45, -0.2}, {-0.1, -0.4}};
  const float r = float(1.5 * 2.3548 * 1.2);
  double lo = 1e30, hi = 0;
  for (auto& p : phases) {
    Frame f = GaussianStar(100, 50 + p[0], 50 + p[1], 1.2, 10000, 1000);
    UInt32 n;
    double s = myQUADPIXCaclRadiusIntensity16BitMono(r, f.data(), 50, 50, f.w, f.h, f.rowBytes(), 1000, 0, &n);
    lo = std::min(lo, s);
    hi = std::max(hi, s);
  }
  EXPECT_LT((hi - lo) / hi, 0.005);
}

class StarMeasureEdges : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteStrings("\"USRER\" = \"User Error\";\n\"TOCLOSEERR\" = \"Too close\";\n\"NOSIGERR\" = \"No signal\";\n");
  }
};

TEST_F(StarMeasureEdges, StarTestKeepsASixteenPixelMargin) {
  const UInt32 W = 100, H = 80;
  struct Row {
    UInt32 x, y;
    UInt8 star;
  } rows[] = {{16, 40, 0}, {17, 40, 1}, {W - 16, 40, 0}, {W - 17, 40, 1},
              {50, 16, 0}, {50, 17, 1}, {50, H - 16, 0}, {50, H - 17, 1}};
  for (const Row& r : rows) {
    Frame f(W, H, 1000);
    f.at(r.x, r.y) = 5000;
    EXPECT_EQ(myIsStarAtCentroid(r.x + 0.5, r.y + 0.5, f.data(), W, H, f.rowBytes(), 1000), r.star)
        << r.x << "," << r.y;
  }
  EXPECT_EQ(myIsStarAtCentroid(-3.0, 40, Frame(W, H).data(), W, H, W * 2, 0), 0);
}

TEST_F(StarMeasureEdges, FwhmEdgeCases) {
  double fwhm;
  UInt32 hm;
  // A flat patch: the half maximum is the background, which is no star.
  Frame flat(64, 64, 1200);
  EXPECT_EQ(myCalcFWHM16BitMono(32, 32, flat.data(), 64, 64, 128, 1200, &fwhm, &hm), -1);
  EXPECT_EQ(hm, 1200u);
  EXPECT_EQ(fwhm, 0.0);
  EXPECT_EQ(myIsStarAtCentroid(32, 32, flat.data(), 64, 64, 128, 1200), 0);

  // A plateau that runs to the frame's edges: no walk ends, so -1.
  Frame plateau(64, 64, 3000);
  EXPECT_EQ(myCalcFWHM16BitMono(32, 32, plateau.data(), 64, 64, 128, 100, &fwhm, &hm), -1);
  EXPECT_EQ(hm, 1550u);

  // Only the rightward walks end, one pixel short of the last column (which a
  // rightward walk may reach): the others add nothing.
  Frame right(64, 64, 3000);
  for (UInt32 y = 0; y < 64; ++y) right.at(63, y) = 100;
  EXPECT_EQ(myCalcFWHM16BitMono(32.0, 32.0, right.data(), 64, 64, 128, 100, &fwhm, &hm), 0);
  EXPECT_DOUBLE_EQ(fwhm, 2.0 * (63 - 32 - (1550.0 - 100) / (3000 - 100)));

  // Column 0 and row 0 are never examined: a drop there is not a crossing.
  Frame left(64, 64, 3000);
  for (UInt32 y = 0; y < 64; ++y) left.at(0, y) = 100;
  for (UInt32 x = 0; x < 64; ++x) left.at(x, 0) = 100;
  for (UInt32 y = 0; y < 64; ++y) left.at(63, y) = 100;
  for (UInt32 x = 0; x < 64; ++x) left.at(x, 63) = 100;
  ASSERT_EQ(myCalcFWHM16BitMono(32.0, 32.0, left.data(), 64, 64, 128, 100, &fwhm, &hm), 0);
  EXPECT_DOUBLE_EQ(fwhm, 2.0 * (31 - (1550.0 - 100) / 2900));

  // A crossing on a sample exactly at the half maximum gives whole pixels.
  Frame exact(64, 64, 100);
  for (UInt32 y = 28; y <= 36; ++y)
    for (UInt32 x = 28; x <= 36; ++x) exact.at(x, y) = (x >= 30 && x <= 34 && y >= 30 && y <= 34) ? 3000 : 1550;
  ASSERT_EQ(myCalcFWHM16BitMono(32.0, 32.0, exact.data(), 64, 64, 128, 100, &fwhm, &hm), 0);
  EXPECT_EQ(hm, 1550u);
  EXPECT_DOUBLE_EQ(fwhm, 2.0 * 3.0);

  // A position whose 3 x 3 block leaves the frame measures nothing.
  EXPECT_EQ(myCalcFWHM16BitMono(0.5, 10, exact.data(), 64, 64, 128, 100, &fwhm, &hm), -1);
  EXPECT_EQ(myCalcFWHM16BitMono(10, 63.2, exact.data(), 64, 64, 128, 100, &fwhm, &hm), -1);
}

TEST_F(StarMeasureEdges, HfdOfAnEmptyDiscIsZero) {
  Frame f(64, 64, 500);
  UInt32 peak = 7;
  EXPECT_EQ(myCalculateHFD16BitMono(10.0, f.data(), 32, 32, 128, 500, &peak), 0.0f);
  EXPECT_EQ(peak, 500u);
  // Only the low 16 bits of the background count.
  EXPECT_EQ(myCalculateHFD16BitMono(10.0, f.data(), 32, 32, 128, 0x10000 + 500, &peak), 0.0f);
  EXPECT_GT(myCalculateHFD16BitMono(10.0, f.data(), 32, 32, 128, 0x10000 + 400, &peak), 0.0f);
}

TEST_F(StarMeasureEdges, SnrAndMagnitude) {
  EXPECT_NEAR(myCalculateStarSNR(10000, 50, 50000, 200), 62.4631f, 5e-5);
  EXPECT_EQ(myCalculateStarSNR(0, 50, 50000, 200), 0.0f);
  EXPECT_EQ(myCalculateStarSNR(-5, 50, 50000, 200), 0.0f);
  EXPECT_EQ(myCalculateStarSNR(100, 50, 50000, 0), 0.0f);  // no sky pixel: no ratio
  // 2.512 per decade of intensity, not Pogson's 2.5: twice as bright is
  // 0.7562 magnitudes brighter (2.5 would give 0.7526).
  EXPECT_NEAR(myCalculateMagnitude(0, 1, 2), -0.7562f, 5e-5);
  EXPECT_NEAR(myCalculateMagnitude(10, 1000, 4000), 8.4876f, 5e-5);
  EXPECT_EQ(myCalculateMagnitude(7.25, 0.01f, 4000), 7.25f);
  EXPECT_NE(myCalculateMagnitude(7.25, 0.0100001, 4000), 7.25f);
  EXPECT_EQ(myCalculateMagnitude(7.25, 1000, 0), -999.0f);
  EXPECT_EQ(myCalculateMagnitude(7.25, 1000, -3), -999.0f);
}

TEST_F(StarMeasureEdges, ApertureOnAFlatFrame) {
  Frame f(100, 100, 100);
  struct Row {
    float r;
    double sum;
    UInt32 n;
  } rows[] = {{3.0f, 2788, 27}, {6.0f, 11236, 112}, {6.661f, 14020, 140}};
  for (const Row& r : rows) {
    UInt32 n = 0;
    EXPECT_DOUBLE_EQ(myQUADPIXCaclRadiusIntensity16BitMono(r.r, f.data(), 50, 50, 100, 100, 200, 0, 1, &n), r.sum);
    EXPECT_EQ(n, r.n);
  }
  // At the right edge the grid's last column is outside the frame.
  UInt32 n = 0;
  EXPECT_DOUBLE_EQ(myQUADPIXCaclRadiusIntensity16BitMono(6.0f, f.data(), 94, 50, 100, 100, 200, 0, 1, &n), 11092);
  EXPECT_EQ(n, 110u);

  Frame zeros(100, 100, 0);
  EXPECT_EQ(myQUADPIXCaclRadiusIntensity16BitMono(6.0f, zeros.data(), 50, 50, 100, 100, 200, 0, 1, &n), 0.0);
  EXPECT_EQ(n, 0u);
  // Pixels exactly at the level pass the signal test and add nothing.
  EXPECT_EQ(myQUADPIXCaclRadiusIntensity16BitMono(6.0f, f.data(), 50, 50, 100, 100, 200, 100, 1, &n), 0.0);
  EXPECT_EQ(n, 0u);
  // The sky disc counts zeros; every pixel above the threshold is no sky.
  EXPECT_DOUBLE_EQ(myQUADPIXCaclBackgroundRadiusIntensity16BitMono(3.0f, f.data(), 50, 50, 100, 100, 200, 100, 1, &n),
                   2788);
  EXPECT_EQ(n, 27u);
  EXPECT_EQ(myQUADPIXCaclBackgroundRadiusIntensity16BitMono(3.0f, zeros.data(), 50, 50, 100, 100, 200, 0, 1, &n), 0.0);
  EXPECT_EQ(n, 27u);
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(StarMeasureEdges, ApertureFailuresAndAlerts) {
  Frame f(100, 100, 100);
  UInt32 n = 5;
  ScriptedUser user;
  user.AnswerAlert().AnswerAlert().AnswerAlert().AnswerAlert();
  using Fn = double (*)(float, const UInt16*, UInt32, UInt32, UInt32, UInt32, UInt32, UInt32, UInt8, UInt32*);
  for (Fn fn : {Fn(myQUADPIXCaclRadiusIntensity16BitMono), Fn(myQUADPIXCaclBackgroundRadiusIntensity16BitMono)}) {
    const size_t alerts = Alerts().size();
    // Exactly r from the left or top edge is accepted; one pixel nearer is not.
    EXPECT_GE(fn(6.0f, f.data(), 6, 50, 100, 100, 200, 100, 0, &n), 0.0);
    EXPECT_GE(fn(6.0f, f.data(), 50, 6, 100, 100, 200, 100, 0, &n), 0.0);
    EXPECT_GE(fn(6.0f, f.data(), 94, 94, 100, 100, 200, 100, 0, &n), 0.0);
    const UInt32 near[][2] = {{5, 50}, {50, 5}, {95, 50}, {50, 95}};
    for (auto& c : near) {
      n = 5;
      EXPECT_EQ(fn(6.0f, f.data(), c[0], c[1], 100, 100, 200, 100, 0, &n), -1.0);
      EXPECT_EQ(n, 0u);
    }
    EXPECT_EQ(fn(NAN, f.data(), 50, 50, 100, 100, 200, 100, 0, &n), -1.0);
    EXPECT_EQ(Alerts().size(), alerts);  // silent with the flag 0
    EXPECT_EQ(fn(6.0f, f.data(), 5, 50, 100, 100, 200, 100, 1, &n), -1.0);
  }
  // No signal: nothing at or above the level; no sky: everything above the threshold.
  n = 5;
  EXPECT_EQ(myQUADPIXCaclRadiusIntensity16BitMono(6.0f, f.data(), 50, 50, 100, 100, 200, 101, 1, &n), -2.0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(myQUADPIXCaclBackgroundRadiusIntensity16BitMono(6.0f, f.data(), 50, 50, 100, 100, 200, 99, 1, &n), -2.0);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(Alerts().size(), 4u);
  EXPECT_EQ(Alerts()[0].title, "User Error");
  EXPECT_EQ(Alerts()[0].message, "Too close");
  EXPECT_EQ(Alerts()[1].message, "Too close");
  EXPECT_EQ(Alerts()[2].message, "No signal");
  EXPECT_EQ(Alerts()[3].message, "No signal");
  EXPECT_TRUE(user.Errors().empty());
}

TEST(PlateSolution, ExactPlatesAndDegenerateDivisors) {
  float A, B, C, res;
  const float x[3] = {100, 200, 100}, y[3] = {100, 100, 200}, q[3] = {1000, 1100, 1000};
  mySolveLineEquations(x, y, q, &A, &B, &C, &res);
  EXPECT_FLOAT_EQ(A, 1);
  EXPECT_NEAR(B, 0, 1e-6);
  EXPECT_FLOAT_EQ(C, 900);
  EXPECT_NEAR(res, 0, 1e-3);

  // 1.5"/px turned 20 degrees; expected values from numpy.linalg.solve on the
  // single-precision inputs.
  const float px[3] = {100, 540, 300}, py[3] = {80, 120, 420};
  const float ra[3] = {273036.75f, 272437.09f, 272929.28f}, dec[3] = {-43787.89f, -43505.78f, -43206.04f};
  mySolveLineEquations(px, py, ra, &A, &B, &C, &res);
  EXPECT_NEAR(A, -1.40949417, 1.5e-5);
  EXPECT_NEAR(B, 0.513029661, 1e-5 * 0.513);
  EXPECT_NEAR(C, 273136.657, 1e-5 * 273136.657);
  EXPECT_NEAR(res, 0, 0.01);
  mySolveLineEquations(px, py, dec, &A, &B, &C, &res);
  EXPECT_NEAR(A, 0.513016419, 1e-5 * 0.513);
  EXPECT_NEAR(B, 1.40955376, 1.5e-5);
  EXPECT_NEAR(C, -43951.9566, 1e-5 * 43951.96);

  // Turns and scales: synthetic linear plates recovered within 1e-5.
  for (double turn = 0; turn < 360; turn += 37) {
    for (double scale : {0.5, 1.5, 4.0}) {
      double a = scale * std::cos(turn * M_PI / 180), b = scale * std::sin(turn * M_PI / 180), c = 500000;
      float qq[3];
      for (int i = 0; i < 3; ++i) qq[i] = float(a * px[i] + b * py[i] + c);
      mySolveLineEquations(px, py, qq, &A, &B, &C, &res);
      // Inputs rounded to single precision near 5e5 carry 0.03" of noise.
      EXPECT_NEAR(A, a, 1e-5 * scale + 2e-4) << turn << " " << scale;
      EXPECT_NEAR(B, b, 1e-5 * scale + 2e-4) << turn << " " << scale;
      EXPECT_NEAR(C, c, 1e-5 * c);
    }
  }

  // b1 exactly 0 (three stars on one line through the first): no NaN.
  const float lx[3] = {100, 200, 300}, ly[3] = {50, 100, 150}, lq[3] = {1, 2, 3};
  mySolveLineEquations(lx, ly, lq, &A, &B, &C, &res);
  EXPECT_FALSE(std::isnan(A) || std::isnan(B) || std::isnan(C) || std::isnan(res));
  EXPECT_EQ(B, 0.0f);
  // |d| <= 1e-6 with b1 non-zero: C is 0.
  const float dx[3] = {100, 200, 300}, dy[3] = {100, 250, 400}, dq[3] = {5, 7, 9};
  mySolveLineEquations(dx, dy, dq, &A, &B, &C, &res);
  EXPECT_EQ(C, 0.0f);
  // 0 < |b1| <= 1e-6: B is 0.
  const float bx[3] = {100, 100, 300}, by[3] = {0.5f, 0.50000006f, 300}, bq[3] = {5, 7, 9};
  mySolveLineEquations(bx, by, bq, &A, &B, &C, &res);
  EXPECT_EQ(B, 0.0f);
}

TEST(PlateSolution, RightAscensionWrap) {
  struct Row {
    std::vector<float> in, out;
  } rows[] = {
      {{1295000, 500, 1000}, {1295000, 1296500, 1297000}},
      {{300000, 400000, 500000}, {300000, 400000, 500000}},
      {{648000, 1295000, 0}, {648000, 1295000, 1296000}},  // 648000 itself never moves
      {{500}, {500}},
      {{}, {}},
  };
  for (Row& r : rows) {
    myAdjustRAArcSeconds(r.in.data(), UInt32(r.in.size()));
    EXPECT_EQ(r.in, r.out);
  }
}

}  // namespace
