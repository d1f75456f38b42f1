// One star measured as the movie photometry measures it, per frame and star:
// FWHM, HFD at r, apertures at 1.5 r and 2.2 r, the sky disc at 2.5 r and
// the aperture at r, with r = 1.5 x FWHM for a star of FWHM 4. Target: at
// most 100 us a star on one core.
// And one whole movie frame of the photometry run: 16 stars of FWHM 4 on a
// 640 x 480 frame, both tables written. Target: at most 2 ms a frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "photometry/MultiStarPhotometry.h"
#include "photometry/StarMeasure.h"

namespace {

constexpr UInt32 kSize = 200;

std::vector<UInt16> Star() {
  const double sigma = 4.0 / 2.3548, x0 = 100.3, y0 = 100.6;
  std::vector<UInt16> f(size_t(kSize) * kSize);
  for (UInt32 y = 0; y < kSize; ++y)
    for (UInt32 x = 0; x < kSize; ++x)
      f[size_t(y) * kSize + x] = UInt16(
          std::floor(1000 + 10000 * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2 * sigma * sigma)) + 0.5));
  return f;
}

void BM_MeasureOneStar(benchmark::State& state) {
  const std::vector<UInt16> f = Star();
  const UInt32 rb = kSize * 2, bg = 1000;
  for (auto _ : state) {
    double fwhm = 0;
    UInt32 hm = 0, peak = 0, n = 0;
    myCalcFWHM16BitMono(100.3, 100.6, f.data(), kSize, kSize, rb, bg, &fwhm, &hm);
    const float r = float(1.5 * fwhm);
    benchmark::DoNotOptimize(myCalculateHFD16BitMono(r, f.data(), 100, 101, rb, bg, &peak));
    benchmark::DoNotOptimize(
        myQUADPIXCaclRadiusIntensity16BitMono(1.5f * r, f.data(), 100, 101, kSize, kSize, rb, bg, 0, &n));
    benchmark::DoNotOptimize(
        myQUADPIXCaclRadiusIntensity16BitMono(2.2f * r, f.data(), 100, 101, kSize, kSize, rb, bg, 0, &n));
    benchmark::DoNotOptimize(myQUADPIXCaclBackgroundRadiusIntensity16BitMono(2.5f * r, f.data(), 100, 101, kSize,
                                                                             kSize, rb, 1100, 0, &n));
    benchmark::DoNotOptimize(
        myQUADPIXCaclRadiusIntensity16BitMono(r, f.data(), 100, 101, kSize, kSize, rb, bg, 0, &n));
  }
}
BENCHMARK(BM_MeasureOneStar)->Unit(benchmark::kMicrosecond);

void BM_PhotometryFrame16Stars(benchmark::State& state) {
  constexpr UInt32 W = 640, H = 480;
  const double sigma = 4.0 / 2.3548;
  // A sky with a little fixed texture (-3 to +3): on a perfectly flat sky the
  // ring level can leave no sky pixel at or below it, and no star is found.
  std::vector<UInt16> f(size_t(W) * H + 32);
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) f[size_t(y) * W + x] = UInt16(997 + (x * 7 + y * 13) % 7);
  MyBatchPhotomDataStruct d{};
  for (UInt32 s = 0; s < 16; ++s) {
    const double x0 = 60.3 + 160.0 * (s % 4), y0 = 60.6 + 110.0 * (s / 4);
    for (int y = int(y0) - 20; y <= int(y0) + 20; ++y)
      for (int x = int(x0) - 20; x <= int(x0) + 20; ++x)
        f[size_t(y) * W + size_t(x)] = UInt16(std::floor(
            f[size_t(y) * W + size_t(x)] +
            10000 * std::exp(-((x - x0) * (x - x0) + (y - y0) * (y - y0)) / (2 * sigma * sigma)) + 0.5));
    d.mStarIsVariable[s] = UInt8(s % 4 == 0);
    d.mStarX[s] = float(x0);
    d.mStarY[s] = float(y0);
  }
  d.mStarCount = 16;
  d.mMono16FramePtr = f.data();
  d.mWidth = W;
  d.mHeight = H;
  d.mOutputMode = 2;
  d.mFWHMMultiplier = 1.5f;
  d.mSimpleFile = std::fopen("/dev/null", "wb");
  d.mDetailedFile = std::fopen("/dev/null", "wb");
  if (!d.mSimpleFile || !d.mDetailedFile || myGetFWHMMagMultiPositions(&d, 3.3e9, 1, 0) != 0) {
    state.SkipWithError("the first frame did not measure");
  } else {
    int k = 1;
    for (auto _ : state) {
      benchmark::DoNotOptimize(myGetFWHMMagMultiPositions(&d, 3.3e9 + k * 0.04, 1, k));
      ++k;
    }
    // A star lost on the way skips most of its work: the figure would not count.
    for (UInt32 s = 0; s < 16; ++s)
      if (!d.mStarFound[s]) state.SkipWithError("a star was not found");
  }
  if (d.mSimpleFile) std::fclose(d.mSimpleFile);
  if (d.mDetailedFile) std::fclose(d.mDetailedFile);
}
BENCHMARK(BM_PhotometryFrame16Stars)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
