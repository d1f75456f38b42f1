// Shift recovery end to end: scene-generator frames (a planet disc with
// detail, a star field) moved by known whole and half pixels go through the
// reference job and an ordinary job; the offsets must undo the move, in
// scaled pixels, for every scale, pixel-alignment mode and method.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/simcamera/SimScene.h"
#include "tav/AlignJob.h"
#include "tests/tav/AlignRecordFixture.h"

namespace {

struct Shift {
  double dx, dy;
};

constexpr UInt32 kW = 200, kH = 150;

// The scene is rendered four times finer and each 4 x 4 cell averaged, so
// pixels collect the light that falls on them as a sensor's do and a move of
// half a pixel is a move of two fine pixels.
constexpr UInt32 kFine = 4;

SimSceneSettings sceneSettings(SimSceneKind kind, const Shift& s) {
  SimSceneSettings set;
  set.kind = kind;
  set.width = kW * kFine;
  set.height = kH * kFine;
  set.seed = 17;
  set.noiseSigma = 0.0;
  set.hotPixelCount = 0;
  set.driftX = s.dx * kFine;  // frame 1 is frame 0 moved by (dx, dy)
  set.driftY = s.dy * kFine;
  set.planetRadius = 45.0 * kFine;
  set.starCount = 25;
  set.starSigma = 1.4 * kFine;
  set.minFlux = 60.0 * kFine * kFine;
  set.maxFlux = 300.0 * kFine * kFine;
  return set;
}

// Frame `n` of the scene in the record's layout, packed rows.
void render(const SimScene& scene, UInt32 n, bool argb32, AlignThreadObject* p) {
  const double wb[3] = {1.0, 1.0, 1.0};
  const UInt32 fw = kW * kFine;
  std::vector<UInt16> fine(size_t(3) * fw * kH * kFine);
  scene.RenderRGB(n, 1.0, wb, 16, fine.data());
  std::vector<UInt16> rgb(size_t(3) * kW * kH);
  for (UInt32 y = 0; y < kH; ++y)
    for (UInt32 x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        UInt32 sum = 0;
        for (UInt32 j = 0; j < kFine; ++j)
          for (UInt32 i = 0; i < kFine; ++i)
            sum += fine[(size_t(y * kFine + j) * fw + x * kFine + i) * 3 + c];
        rgb[(size_t(y) * kW + x) * 3 + c] = UInt16(sum / (kFine * kFine));
      }
  if (argb32) {
    std::vector<UInt8> f(size_t(4) * kW * kH);
    for (size_t i = 0; i < size_t(kW) * kH; ++i) {
      f[4 * i] = 255;
      for (int c = 0; c < 3; ++c) f[4 * i + 1 + c] = UInt8(rgb[3 * i + c] >> 8);
    }
    putFrame(p, f);
  } else {
    putFrame(p, rgb);
  }
}

void runJob(AlignThreadObject* p, bool argb32) {
  p->mNoResult = 1;
  argb32 ? myRunARGB32AlignJob(p) : myRunRGB48AlignJob(p);
}

TEST(AlignShift, OffsetsUndoTheMove) {
  const Shift shifts[] = {{3.0, -2.0}, {-1.5, 2.5}};
  for (SimSceneKind kind : {SimSceneKind::Planet, SimSceneKind::StarField})
    for (const Shift& shift : shifts) {
      const SimScene scene(sceneSettings(kind, shift));
      for (bool argb32 : {true, false})
        for (UInt32 scale : {1u, 2u, 4u})
          for (UInt32 pixelAlign = 0; pixelAlign <= 4; ++pixelAlign)
            for (UInt8 method : {0, 1}) {
              AlignSettings s;
              s.argb32 = argb32, s.width = kW, s.height = kH, s.scale = scale;
              s.pixelAlign = pixelAlign, s.method = method, s.gausBlur = 1;
              AlignThreadObject* p = newAlignRecord(s);
              render(scene, 0, argb32, p);
              p->mIsReference = 1;
              runJob(p, argb32);
              const bool refOk = p->mNoResult == 0;
              p->mIsReference = 0;
              render(scene, 1, argb32, p);
              runJob(p, argb32);
              const double wantX = -shift.dx * scale, wantY = -shift.dy * scale;
              const bool ok = refOk && p->mNoResult == 0 &&
                              std::fabs(p->mOffsetX - wantX) <= 0.5 &&
                              std::fabs(p->mOffsetY - wantY) <= 0.5;
              EXPECT_TRUE(ok) << (kind == SimSceneKind::Planet ? "planet" : "stars") << " shift ("
                              << shift.dx << ", " << shift.dy << ") "
                              << (argb32 ? "ARGB32" : "RGB48") << " scale " << scale
                              << " pixelAlign " << pixelAlign << " method " << int(method)
                              << ": result " << (p->mNoResult == 0) << " ref " << refOk
                              << " offsets (" << p->mOffsetX << ", " << p->mOffsetY << ") want ("
                              << wantX << ", " << wantY << ") blocks " << int(p->mHorzBlockValid)
                              << int(p->mVertBlockValid);
              freeAlignRecord(p);
            }
    }
}

}  // namespace
