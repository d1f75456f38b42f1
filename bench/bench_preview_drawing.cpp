// The preview window's redraw, which the display timer runs for every frame
// (every 20 ms): a 1280 x 960 frame at zoom 1 with saturation marks,
// reticle, guiding marks, status and FWHM texts (floor 8 ms), the same pass
// for 640 x 480 at zoom 1 and 2 and 1280 x 960 at zoom 0.5, and a redraw
// carrying a tracking path of 32,768 samples (floor: one 20 ms tick).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/PreviewDrawing.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

struct PreviewRig {
  WindowRef window = nullptr;
  MyCameraWindowDataStruct* r = nullptr;
  std::vector<UInt8> frame;

  bool Make(UInt32 width, UInt32 height, float zoom, SInt16 windowW, SInt16 windowH) {
    const Rect bounds{40, 40, SInt16(40 + windowH), SInt16(40 + windowW)};
    if (CreateNewWindow(kDocumentWindowClass, 0, &bounds, &window) != noErr) return false;
    r = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    r->mKind = kMyCameraWindowDataKind;
    r->mVideoWindow = window;
    SetWRefCon(window, SRefCon(r));
    r->mWidth = width;
    r->mHeight = height;
    r->mBitsPerPixel = 8;
    r->mZoomScale = zoom;
    r->mPreviewRect = Rect{0, 0, SInt16(height * zoom), SInt16(width * zoom)};
    if (myCreatePreviewTextStyles(r) != noErr) return false;
    frame.resize(size_t(width) * height * 4);
    for (size_t i = 0; i < frame.size(); i += 4) {
      const UInt8 v = UInt8((i * 2654435761u) >> 24);
      frame[i] = 0xFF;
      frame[i + 1] = frame[i + 2] = frame[i + 3] = v;
    }
    return true;
  }
  void Marks() {
    r->mShowSaturated = 1;
    r->mSaturationCutoff = 250;
    r->mShowReticle = 1;
    r->mRecording = 1;
    r->mRecordFrameCounter = 100;
    r->mShowSharpness = 1;
    r->mSharpness = 1200;
    r->mScopeControlActive = 1;
    r->mGuidingActive = 1;
    r->mGuidingOn = 1;
    r->mStartX = 300;
    r->mStartY = 200;
    r->mTrackBoxWidth = 32;
    r->mTrackBoxHeight = 32;
    r->mCurrentX = 305;
    r->mCurrentY = 203;
    r->Orientation = 0;
    r->MSlopeFloat = 0.3f;
    r->mFWHMOn = 1;
    r->mFWHMFound = 2.5f;
    r->mFWHM = 2.5f;
    r->mPrevFWHM = 2.6f;
    r->mHFD = 3.0f;
    r->mPrevHFD = 3.1f;
    r->mStarPeak = 180;
    r->mPrevStarPeak = 170;
    r->mSoftROIEnabled = 1;
    r->mSoftROIActive = 1;
    r->mSoftROILeft = 100;
    r->mSoftROITop = 100;
    r->mSoftROIWidth = 400;
    r->mSoftROIHeight = 300;
  }
  ~PreviewRig() {
    if (r) {
      myDisposePreviewTextStyles(r);
      free(r->mTrackSamples);
      free(r);
    }
    if (window) DisposeWindow(window);
  }
};

// range(0): frame width; range(1): zoom x 4. The window shows at most a
// 1280 x 960 part of the zoomed frame.
void BM_PreviewRedraw(benchmark::State& state) {
  const UInt32 width = UInt32(state.range(0)), height = width * 3 / 4;
  const float zoom = float(state.range(1)) / 4.0f;
  PreviewRig rig;
  const SInt16 ww = SInt16(std::min(1280.0f, width * zoom)), wh = SInt16(std::min(960.0f, height * zoom));
  if (!rig.Make(width, height, zoom, ww, wh)) {
    state.SkipWithError("no window");
    return;
  }
  rig.Marks();
  for (auto _ : state) {
    myDrawVideoPreview(rig.r, rig.frame.data());
    benchmark::DoNotOptimize(rig.frame[0]);
  }
}
BENCHMARK(BM_PreviewRedraw)
    ->Args({1280, 4})
    ->Args({640, 4})
    ->Args({640, 8})
    ->Args({1280, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PreviewTrackingPath(benchmark::State& state) {
  const UInt32 n = UInt32(state.range(0));
  PreviewRig rig;
  if (!rig.Make(1280, 960, 1.0f, 1280, 960)) {
    state.SkipWithError("no window");
    return;
  }
  rig.r->mTrackingAnalysisOn = 1;
  rig.r->mTrackSamples = static_cast<float*>(calloc(size_t(n) * 3, sizeof(float)));
  // A slow drift with jitter across the frame.
  for (UInt32 i = 0; i < n; ++i) {
    rig.r->mTrackSamples[3 * i] = 200.0f + 800.0f * float(i) / float(n) + float(i % 7);
    rig.r->mTrackSamples[3 * i + 1] = 300.0f + 400.0f * float(i) / float(n) + float(i % 5);
    rig.r->mTrackSamples[3 * i + 2] = float(i);
  }
  rig.r->mTrackSampleCount = n;
  rig.r->mTrackingArea[0] = 200;
  rig.r->mTrackingArea[1] = 300;
  rig.r->mTrackingArea[2] = rig.r->mTrackSamples[3 * (n - 1)];
  rig.r->mTrackingArea[3] = rig.r->mTrackSamples[3 * (n - 1) + 1];
  for (auto _ : state) {
    myDrawVideoPreview(rig.r, rig.frame.data());
    benchmark::DoNotOptimize(rig.frame[0]);
  }
}
BENCHMARK(BM_PreviewTrackingPath)->Arg(32768)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
