// Reading a 1000-frame 640 x 480 recorded movie frame by frame: 'b16g' into
// RGB48 by media time, 8-bit 'raw ' into ARGB32 by movie time, and raw Bayer
// at each demosaic quality.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"

namespace {
constexpr UInt32 W = 640, H = 480, N = 1000;

std::string makeMovie(UInt32 code, UInt32 bits, UInt32 quality, UInt32 frameBytes) {
  std::string path = "/tmp/skyloom-bench-movie-" + std::to_string(getpid()) + "-" + std::to_string(code) + "-" +
                     std::to_string(bits) + "-" + std::to_string(quality) + ".mov";
  OSErr err;
  ImageDescriptionHandle d = myCreateMovieImageDescription(code, bits, quality, W, H, &err);
  std::vector<float> times(N);
  for (UInt32 k = 0; k < N; ++k) times[k] = float(1000 + 40 * k);
  MovieAtomParams p{W, H, 1000, times.data(), N, frameBytes, 40.0, d, 0};
  std::vector<UInt8> moov;
  myBuildMovieAtom(p, &moov);
  DisposeHandle(reinterpret_cast<Handle>(d));
  FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<UInt8> header(kMovieFirstFrameOffset, 0);
  myBuildMovieFileHeader(N, frameBytes, header.data());
  std::fwrite(header.data(), 1, header.size(), f);
  std::vector<UInt8> frame(frameBytes);
  for (UInt32 k = 0; k < N; ++k) {
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = UInt8(i * 7 + k);
    if (code == FOUR_CHAR_CODE("RGGB")) std::memcpy(&frame[frameBytes - 4], "RGGB", 4);
    std::fwrite(frame.data(), 1, frame.size(), f);
  }
  std::fwrite(moov.data(), 1, moov.size(), f);
  std::fclose(f);
  return path;
}

Movie openMovie(const std::string& path) {
  Handle ref = nullptr;
  PtrToHand(path.c_str(), &ref, long(path.size() + 1));
  Movie m = nullptr;
  NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType);
  DisposeHandle(ref);
  return m;
}
}  // namespace

static void BM_Read16BitGrey(benchmark::State& state) {
  std::string path = makeMovie(FOUR_CHAR_CODE("raw "), 16, 1024, W * H * 2);
  Movie m = openMovie(path);
  Media media = myGetMovie16BitVideoMedia(m, 0);
  Handle sample = NewHandle(0), desc = NewHandle(0);
  GetMediaSampleDescription(media, 1, desc);
  std::vector<UInt16> rgb(W * H * 3);
  UInt32 k = 0;
  for (auto _ : state) {
    myGet16BitMediaSampleInRGB48Buff(media, sample, rgb.data(), W, H, TimeValue(40 * (k++ % N)), nullptr,
                                     reinterpret_cast<ImageDescriptionHandle>(desc), 0, 0);
    benchmark::DoNotOptimize(rgb.data());
  }
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  DisposeHandle(sample);
  DisposeHandle(desc);
  DisposeMovie(m);
  unlink(path.c_str());
}
BENCHMARK(BM_Read16BitGrey)->Unit(benchmark::kMicrosecond);

// Draws every frame in turn into a 32-bit picture, as the 8-bit readers do.
static void drawFramesARGB32(benchmark::State& state, const std::string& path) {
  Movie m = openMovie(path);
  GWorldPtr g = nullptr;
  Rect b{0, 0, SInt16(H), SInt16(W)};
  NewGWorld(&g, 32, &b, nullptr, nullptr, 0);
  std::vector<UInt8> argb(W * H * 4);
  UInt32 k = 0;
  for (auto _ : state) {
    myGet8BitMediaSampleInARGB32Buffer(m, nullptr, nullptr, argb.data(), W, H, TimeValue(24 * (k++ % N)), g, 0);
    benchmark::DoNotOptimize(argb.data());
  }
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  DisposeGWorld(g);
  DisposeMovie(m);
  unlink(path.c_str());
}

static void BM_Read8BitRaw(benchmark::State& state) {
  drawFramesARGB32(state, makeMovie(FOUR_CHAR_CODE("raw "), 8, 1024, W * H));
}
BENCHMARK(BM_Read8BitRaw)->Unit(benchmark::kMicrosecond);

static void BM_ReadBayer8(benchmark::State& state) {
  drawFramesARGB32(state, makeMovie(FOUR_CHAR_CODE("RGGB"), 8, UInt32(state.range(0)), W * H + 4));
}
BENCHMARK(BM_ReadBayer8)->Arg(256)->Arg(768)->Arg(1024)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
