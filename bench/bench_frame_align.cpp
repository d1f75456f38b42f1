// Live frame alignment, one core: frames per second through myDoFrameAlign
// for the camera's common cases, and the 32 x 32 block search on its own.
// Floors: 640 x 480 Mono8 at least 240 frames/s; 1280 x 960 16-bit colour
// (demosaiced to RGB48 and summed in colour) at least 30 frames/s. Every
// frame must be added: a run that drops one is reported as an error, since a
// dropped frame skips most of the work.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "app/CameraWindowData.h"
#include "camera_driver/DCAMCameraStruct.h"
#include "guiding/AlignedCapture.h"
#include "pixel/BayerPlanes.h"
#include "pixel/BlockMatch.h"
#include "pixel/StarProfile.h"
#include "platform/simcamera/SimScene.h"

namespace {

constexpr UInt32 kFrames = 8;  // a drifting scene, cycled

MyDCAMCameraStruct* camera() {
  static MyDCAMCameraStruct c{};
  return &c;
}

struct Run {
  UInt32 width, height, bits;
  bool colourSensor, colourDisplay;
};

// kFrames frames of a drifting planet with noise, as the pipeline hands them
// on (8-bit bytes, or 16-bit samples). The planet keeps the reference block
// well inside the frame, so no frame's search square reaches the edge; hot
// pixels are off, as the frame callback has replaced them by now.
std::vector<std::vector<UInt8>> makeFrames(const Run& run) {
  SimSceneSettings s;
  s.kind = SimSceneKind::Planet;
  s.hotPixelCount = 0;
  s.width = run.width;
  s.height = run.height;
  s.driftX = 1.3;
  s.driftY = -0.7;
  SimScene scene(s);
  const double wb[3] = {1.0, 1.0, 1.0};
  std::vector<std::vector<UInt8>> frames;
  std::vector<UInt16> samples(size_t(run.width) * run.height);
  for (UInt32 i = 0; i < kFrames; ++i) {
    if (run.colourSensor)
      scene.RenderBayer(i, 1.0, wb, 1, run.bits, samples.data());
    else
      scene.RenderMono(i, 1.0, run.bits, samples.data());
    if (run.bits > 8) {
      const auto* p = reinterpret_cast<const UInt8*>(samples.data());
      frames.emplace_back(p, p + samples.size() * 2);
    } else {
      frames.emplace_back(samples.begin(), samples.end());
    }
  }
  return frames;
}

void BM_FrameAlign(benchmark::State& state, Run run) {
  const auto frames = makeFrames(run);
  auto* rec = static_cast<MyCameraWindowDataStruct*>(std::calloc(1, sizeof(MyCameraWindowDataStruct)));
  rec->mBitsPerPixel = run.bits;
  rec->mColourSensor = run.colourSensor;
  rec->mColourDisplay = run.colourDisplay;
  rec->mDisplayFormatItem = run.colourDisplay ? 2 : 1;
  rec->mBayerFormat = run.colourSensor ? 1 : 0;
  rec->mDisplayFormat = myDisplayFormatFromBayerFormat(run.colourDisplay, rec->mBayerFormat);
  rec->mCameraHandle = camera();
  if (myStartAlignedFrameCapture(rec, run.width, run.height) != noErr) {
    state.SkipWithError("start");
    std::free(rec);
    return;
  }
  UInt32 i = 0, sent = 0;
  for (auto _ : state) {
    myDoFrameAlign(rec, frames[i].data());
    i = (i + 1) % kFrames;
    ++sent;
  }
  if (rec->mAlignedFrameCount != sent) state.SkipWithError("frames were dropped");
  state.counters["frames/s"] = benchmark::Counter(double(sent), benchmark::Counter::kIsRate);
  state.counters["ms/frame"] =
      benchmark::Counter(double(sent), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  myFinishAlignedFrameCapture(rec, 0, 0);
  std::free(rec);
}

// The block search of one frame: the reference block of frame 0 found in
// frame 1 (640 x 480 Mono8).
void BM_BlockSearchOfAFrame(benchmark::State& state) {
  const auto frames = makeFrames({640, 480, 8, false, false});
  UInt32 hist[256];
  myGetFrequencyMono8(frames[0].data(), hist, 640, 480, 640);
  const SInt32 median = SInt32(myCalcMono8MedianVal(hist, 0.5));
  SInt32 dx = 0, dy = 0;
  findMaxMono8Gradient(frames[0].data(), 640, 480, 640, 8, 0, 320.0f, 240.0f, &dx, &dy);
  std::vector<UInt8> block(32 * 32 + 64);
  const float cx = 320.0f + float(dx), cy = 240.0f + float(dy);
  if (myExtract32BlockPixels(frames[0].data(), block.data(), 640, 480, 640, 1, 10.0, cx, cy) != 0) {
    state.SkipWithError("no reference block");
    return;
  }
  for (auto _ : state) {
    float bx, by;
    benchmark::DoNotOptimize(myCompare32BlockPixels(block.data(), frames[1].data(), 640, 480, 640,
                                                    1, median, median, 10.0f, cx, cy, &bx, &by));
  }
  state.counters["searches/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(BM_FrameAlign, Mono8_640x480, Run{640, 480, 8, false, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FrameAlign, Mono16_1280x960, Run{1280, 960, 16, false, false})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FrameAlign, Bayer16Mono_1280x960, Run{1280, 960, 16, true, false})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FrameAlign, Bayer16Colour_1280x960, Run{1280, 960, 16, true, true})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FrameAlign, Bayer8Colour_1280x960, Run{1280, 960, 8, true, true})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockSearchOfAFrame)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
