// The simulated camera's moving sky: frames drawn at their send time from the
// scene's drift and the mount's offset, the frame-id stamp kept.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/simcamera/SimCamera.h"
#include "platform/simcamera/SimStream.h"
#include "tests/support/TestClock.h"

namespace {

// The brightness-weighted centre of the pixels above half scale, the stamp's
// bytes left out.
void brightCentre(const std::vector<UInt8>& f, double* x, double* y) {
  double sx = 0, sy = 0, sw = 0;
  for (size_t i = 4; i + 4 < f.size(); i++) {
    if (f[i] <= 128) continue;
    sx += double(i % 640) * f[i], sy += double(i / 640) * f[i], sw += f[i];
  }
  *x = sw ? sx / sw : -1.0;
  *y = sw ? sy / sw : -1.0;
}

TEST(SimSkyMotion, FramesFollowTheDriftAndTheMount) {
  SimCamera cam(SimMonoFireWirePersonality());
  SimStream& stream = cam.Stream();
  stream.SetClock(SimClock::Stepped);
  SimStreamGeometry g;
  g.width = 640, g.height = 480, g.bits = 8, g.code = FOUR_CHAR_CODE("raw "), g.bytesPerPacket = 2560;
  stream.SetGeometryOverride(g);
  const std::vector<UInt8> still = stream.ReferenceFrame(7);

  TestClock clock;  // the frames' send times, moved by hand
  SimSkyMotion sky;
  sky.scene.starCount = 1;
  sky.scene.hotPixelCount = 0;
  sky.scene.minFlux = sky.scene.maxFlux = 120.0;
  sky.driftX = 5.0;  // pixels per second
  double mountX = 0.0;
  sky.mountOffset = [&](UInt64, double* dx, double* dy) { *dx = mountX, *dy = -3.0; };
  stream.SetSkyMotion(sky);
  const SimStar star = SimScene(sky.scene).Stars()[0];

  clock.Advance(2.0);
  std::vector<UInt8> a = stream.ReferenceFrame(7);
  double ax = 0, ay = 0, sx = 0, sy = 0;
  brightCentre(a, &ax, &ay);
  ASSERT_TRUE(stream.SkyStarAt(SkyloomMicroseconds(), &sx, &sy));
  EXPECT_NEAR(sx, star.x + 10.0, 1e-9);
  EXPECT_NEAR(sy, star.y - 3.0, 1e-9);
  EXPECT_NEAR(ax, sx, 0.3);
  EXPECT_NEAR(ay, sy, 0.3);
  // The stamp stays in the first and last four bytes.
  EXPECT_EQ((std::vector<UInt8>(a.begin(), a.begin() + 4)), (std::vector<UInt8>{0, 0, 0, 7}));
  EXPECT_EQ((std::vector<UInt8>(a.end() - 4, a.end())), (std::vector<UInt8>{0, 0, 0, 7}));
  EXPECT_NE(a, still);

  // The mount moves the picture.
  mountX = 40.0;
  std::vector<UInt8> b = stream.ReferenceFrame(8);
  double bx = 0, by = 0;
  brightCentre(b, &bx, &by);
  EXPECT_GT(bx - ax, 39.0);
  EXPECT_NEAR(by, ay, 0.5);

  // Back to the still scene.
  stream.SetSkyMotion(std::nullopt);
  EXPECT_EQ(stream.ReferenceFrame(7), still);
}

}  // namespace
