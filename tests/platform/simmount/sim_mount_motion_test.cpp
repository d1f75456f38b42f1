// The simulated mount's motion: the time each guide line was on, at its
// rate, along the RA axis at its angle on the sensor and the Dec axis across
// it.
#include <gtest/gtest.h>

#include <vector>

#include "platform/simmount/SimMountMotion.h"

namespace {

TEST(SimMountMotion, OffsetFromTheLines) {
  SimMountMotion m;
  m.rate[kSimGuideWest] = 0.01;
  m.rate[kSimGuideEast] = 0.02;
  m.rate[kSimGuideNorth] = 0.008;
  m.rate[kSimGuideSouth] = 0.004;
  // West 1000 ms from 1 s, north 500 ms overlapping it, east from 4 s on.
  const std::vector<SimGuideLineState> lines = {
      {1'000'000, kSimGuideWest, true},  {1'500'000, kSimGuideNorth, true}, {2'000'000, kSimGuideWest, false},
      {2'000'000, kSimGuideNorth, false}, {4'000'000, kSimGuideEast, true},
  };
  struct Case {
    double angle;
    UInt64 at;
    double x, y;
  } cases[] = {
      {0.0, 500'000, 0.0, 0.0},      // before the first change
      {0.0, 1'500'000, 5.0, 0.0},    // half the west move
      {0.0, 3'000'000, 10.0, -4.0},  // west +x, north -y
      {0.0, 4'250'000, 5.0, -4.0},   // east still on: 250 ms at 0.02
      {90.0, 3'000'000, -4.0, -10.0},  // RA along -y, north along -x
      {30.0, 3'000'000, 10.0 * 0.8660254 - 4.0 * 0.5, -10.0 * 0.5 - 4.0 * 0.8660254},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.angle << " deg at " << c.at);
    m.raAngleDegrees = c.angle;
    double x = 1.0, y = 1.0;
    SimMountOffsetAt(m, lines, c.at, &x, &y);
    EXPECT_NEAR(x, c.x, 1e-6);
    EXPECT_NEAR(y, c.y, 1e-6);
  }
}

TEST(SimMountMotion, RepeatedOnAndStrayOffChangeNothing) {
  SimMountMotion m;
  m.rate[kSimGuideSouth] = 0.01;
  const std::vector<SimGuideLineState> lines = {
      {0, kSimGuideWest, false},  // off while off
      {1'000'000, kSimGuideSouth, true},
      {1'500'000, kSimGuideSouth, true},  // on again: the first start counts
      {2'000'000, kSimGuideSouth, false},
  };
  double x = 0.0, y = 0.0;
  SimMountOffsetAt(m, lines, 9'000'000, &x, &y);
  EXPECT_NEAR(x, 0.0, 1e-12);
  EXPECT_NEAR(y, 10.0, 1e-9);
}

}  // namespace
