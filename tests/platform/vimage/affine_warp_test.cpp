// The planar-float affine warp: the frame and pixel-centre convention, the
// background, where a point lands under a turn, and the argument checks.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/vimage/vImage.h"

namespace {

struct Plane {
  Plane(unsigned long w, unsigned long h, float v = 0.0f) : pixels(w * h, v) {
    buf = vImage_Buffer{pixels.data(), h, w, w * sizeof(float)};
  }
  float& at(unsigned long x, unsigned long y) { return pixels[y * buf.width + x]; }
  std::vector<float> pixels;
  vImage_Buffer buf;
};

constexpr vImage_Flags kFlags = kvImageBackgroundColorFill | kvImageHighQualityResampling;

// The intensity-weighted centre of a plane (column, row).
void Centroid(Plane& p, double* cx, double* cy) {
  double s = 0, sx = 0, sy = 0;
  for (unsigned long y = 0; y < p.buf.height; ++y)
    for (unsigned long x = 0; x < p.buf.width; ++x) {
      const double v = std::max(0.0f, p.at(x, y));
      s += v, sx += v * x, sy += v * y;
    }
  *cx = sx / s, *cy = sy / s;
}

TEST(AffineWarp, WholePixelShiftsMoveSamplesExactlyInAYUpFrame) {
  Plane src(16, 12);
  for (unsigned long i = 0; i < src.pixels.size(); ++i) src.pixels[i] = float(i % 97) * 3.5f;
  // Identity, then 3 right and 2 up (up means towards row 0).
  const struct {
    float tx, ty;
    long dx, dy;
  } kCases[] = {{0, 0, 0, 0}, {3, 2, 3, -2}, {-4, -1, -4, 1}};
  for (const auto& c : kCases) {
    Plane dst(16, 12, -1.0f);
    const vImage_AffineTransform m{1, 0, 0, 1, c.tx, c.ty};
    ASSERT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &m, 7.0f, kFlags), kvImageNoError);
    for (long y = 0; y < 12; ++y)
      for (long x = 0; x < 16; ++x) {
        const long sx = x - c.dx, sy = y - c.dy;
        const float want = (sx >= 0 && sx < 16 && sy >= 0 && sy < 12) ? src.at(sx, sy) : 7.0f;
        ASSERT_EQ(dst.at(x, y), want) << c.tx << "," << c.ty << " at " << x << "," << y;
      }
  }
}

TEST(AffineWarp, TurnedPointLandsWhereTheMapSendsIt) {
  // A 90-degree turn about the plane's centre, and a 30-degree turn with a
  // scale of 1.25 about the bottom-left corner.
  const double kPi = 3.14159265358979;
  const struct {
    double angle, scale, cx, cy;
  } kCases[] = {{kPi / 2, 1.0, 32, 32}, {kPi / 6, 1.25, 0, 0}};
  for (const auto& c : kCases) {
    Plane src(64, 64), dst(64, 64);
    src.at(20, 40) = 1000.0f;  // centre (20.5, 64 - 40.5) in the frame
    const double cs = std::cos(c.angle), sn = std::sin(c.angle);
    vImage_AffineTransform m{float(cs * c.scale), float(sn * c.scale), float(-sn * c.scale), float(cs * c.scale),
                             float(c.cx - cs * c.cx + sn * c.cy), float(c.cy - sn * c.cx - cs * c.cy)};
    ASSERT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &m, 0.0f, kFlags), kvImageNoError);
    const double px = 20.5, py = 23.5;
    const double qx = m.a * px + m.c * py + m.tx, qy = m.b * px + m.d * py + m.ty;
    double cx, cy;
    Centroid(dst, &cx, &cy);
    EXPECT_NEAR(cx + 0.5, qx, 0.1) << c.angle;
    EXPECT_NEAR(64 - (cy + 0.5), qy, 0.1) << c.angle;
  }
}

TEST(AffineWarp, FlatPlaneStaysFlatInsideAndBackgroundOutside) {
  Plane src(40, 30, 500.0f), dst(80, 60, -1.0f);
  const vImage_AffineTransform m{1, 0, 0, 1, 20, 15};  // into the middle of the larger plane
  ASSERT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &m, 0.0f, kFlags), kvImageNoError);
  EXPECT_EQ(dst.at(0, 0), 0.0f);
  EXPECT_EQ(dst.at(79, 59), 0.0f);
  EXPECT_EQ(dst.at(40, 30), 500.0f);
  // A turned flat plane is flat away from its edges (the kernel sums to 1).
  const double a = 0.3, cs = std::cos(a), sn = std::sin(a);
  const vImage_AffineTransform t{float(cs), float(sn), float(-sn), float(cs), 20, 15};
  ASSERT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &t, 0.0f, kFlags), kvImageNoError);
  const double qx = 20 + cs * 20 - sn * 15, qy = 15 + sn * 20 + cs * 15;  // the centre of the layer
  EXPECT_NEAR(dst.at((unsigned long)qx, (unsigned long)(60 - qy)), 500.0f, 0.5f);
}

TEST(AffineWarp, RefusesBadArguments) {
  Plane src(8, 8), dst(8, 8);
  const vImage_AffineTransform id{1, 0, 0, 1, 0, 0}, singular{1, 2, 2, 4, 0, 0};
  EXPECT_EQ(vImageAffineWarp_PlanarF(nullptr, &dst.buf, nullptr, &id, 0, kFlags), kvImageNullPointerArgument);
  EXPECT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, nullptr, 0, kFlags), kvImageNullPointerArgument);
  EXPECT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &singular, 0, kFlags), kvImageInvalidParameter);
  EXPECT_EQ(vImageAffineWarp_PlanarF(&src.buf, &dst.buf, nullptr, &id, 0, 0x100), kvImageUnknownFlagsBit);
  vImage_Buffer shortRows = dst.buf;
  shortRows.rowBytes = 4;
  EXPECT_EQ(vImageAffineWarp_PlanarF(&src.buf, &shortRows, nullptr, &id, 0, kFlags), kvImageInvalidParameter);
}

}  // namespace
