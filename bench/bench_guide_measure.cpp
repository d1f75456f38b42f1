// The two live measurements of guiding, per frame on one core: the guide-star
// centroid step (plane, hot-pixel filter, histogram and levels, whole-frame
// search; the averaged position handed to calibration every frame) and the
// FWHM/HFD measurement of the overlay. Frames are star fields of the scene
// generator. Floors: 500 frames/s each at 640x480 Mono8, 100 frames/s each at
// 1280x960 Bayer16 (the live pipeline must keep up with 60 frames/s at VGA).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/GuideStar.h"
#include "platform/simcamera/SimScene.h"

namespace {

constexpr double kExposure = 0.3;  // the brightest stars just reach full scale

struct Setup {
  std::unique_ptr<MyCameraWindowDataStruct> record = std::make_unique<MyCameraWindowDataStruct>();
  std::vector<UInt8> plane, fwhmPlane;
  std::vector<UInt32> histogram = std::vector<UInt32>(260), fwhmHistogram = std::vector<UInt32>(256);
  std::vector<UInt8> frame8;
  std::vector<UInt16> frame16;
  const void* frame = nullptr;

  Setup(UInt32 width, UInt32 height, UInt32 bits) {
    SimSceneSettings s;
    s.width = width;
    s.height = height;
    // A guide field after dark subtraction: faint stars, no hot pixels (one
    // at full scale would outweigh every star in the FWHM's unfiltered
    // plane), and the guide star added below.
    s.starCount = 12;
    s.minFlux = 1.0;
    s.maxFlux = 3.0;  // peaks up to about 20 of 255
    s.hotPixelCount = 0;
    SimScene scene(s);
    MyCameraWindowDataStruct& r = *record;
    r.mKind = kMyCameraWindowDataKind;
    r.mWidth = width;
    r.mHeight = height;
    r.mBitsPerPixel = bits;
    r.mDisplayFormatItem = 1;
    r.mScopeControlActive = 1;
    r.mFramesToAverage = 1;
    r.mFullFrameSearch = 1;
    r.mEliminateHotPixels = 1;
    r.mFWHMOn = 1;
    plane.assign(size_t(width) * height * (bits == 8 ? 1 : 2) + 64, 0);
    fwhmPlane.assign(plane.size(), 0);
    r.mSerial8BitBuffer = plane.data();
    r.mSerialHistoGramBuffer = histogram.data();
    r.mFWHMPlane = fwhmPlane.data();
    r.mFWHMHistogram = fwhmHistogram.data();
    frame16.resize(size_t(width) * height);
    if (bits == 8) {
      scene.RenderMono(0, kExposure, 8, frame16.data());
      frame8.assign(frame16.begin(), frame16.end());
      frame = frame8.data();
    } else {
      const double balance[3] = {1.0, 1.0, 1.0};
      scene.RenderBayer(0, kExposure, balance, 1, 16, frame16.data());
      r.mColourSensor = 1;
      r.mBayerFormat = 1;
      frame = frame16.data();
    }
    addGuideStar(width, height, bits);
  }

  // A grey Gaussian star (sigma 1.5 px, peak 180 on the 8-bit scale) at 60 %
  // of the width and 40 % of the height.
  void addGuideStar(UInt32 width, UInt32 height, UInt32 bits) {
    const double x0 = 0.6 * width + 0.3, y0 = 0.4 * height + 0.7;
    for (UInt32 y = UInt32(y0) - 12; y <= UInt32(y0) + 12; ++y)
      for (UInt32 x = UInt32(x0) - 12; x <= UInt32(x0) + 12; ++x) {
        const double v = 180.0 * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2 * 1.5 * 1.5));
        const size_t i = size_t(y) * width + x;
        if (bits == 8)
          frame8[i] = UInt8(std::min(255.0, frame8[i] + v));
        else
          frame16[i] = UInt16(std::min(65535.0, frame16[i] + v * 256.0));
      }
  }
};

void BM_GuideCentroid(benchmark::State& state) {
  Setup s(UInt32(state.range(0)), UInt32(state.range(1)), UInt32(state.range(2)));
  for (auto _ : state) {
    s.record->mTrackingPhase = 1;  // measure every frame
    myGetImageTrackingCentroid(s.record.get(), s.frame);
    benchmark::DoNotOptimize(s.record->mStartX);
  }
  state.counters["x"] = s.record->mStartX;  // -1: nothing was found, the run measured little
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FWHMandHFD(benchmark::State& state) {
  Setup s(UInt32(state.range(0)), UInt32(state.range(1)), UInt32(state.range(2)));
  for (auto _ : state) {
    myGetFWHMandHFD(s.record.get(), s.frame);
    benchmark::DoNotOptimize(s.record->mHFDFound);
  }
  state.counters["HFD"] = s.record->mHFDFound;  // 0: the star was given up
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// width, height, bits (16 = Bayer16 RGGB)
BENCHMARK(BM_GuideCentroid)->Args({640, 480, 8})->Args({1280, 960, 16})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FWHMandHFD)->Args({640, 480, 8})->Args({1280, 960, 16})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
