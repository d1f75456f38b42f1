// Reading a 1000-frame 640 x 480 recorded movie frame by frame: 'b16g' into
// RGB48 by media time, 8-bit 'raw ' into ARGB32 by movie time, and raw Bayer
// at each demosaic quality.
//
// BM_Read8BitBesideFFmpeg reads a 640 x 480 8-bit grey movie written by the
// movie recorder into ARGB32 and, in the same run, decodes the same file with
// libavformat and libavcodec, alternating batches of frames. "vs_ffmpeg" is
// FFmpeg's time over ours for its decode alone, "vs_ffmpeg_argb" for its
// decode plus the conversion to ARGB32 (libswscale); the floor is 4.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "media/MovieRecorder.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
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

namespace {

// A movie of `frames` 640 x 480 8-bit grey frames at 25 frames/s, written by
// the movie recorder into a fresh folder under /tmp; "" on failure.
std::string recordGreyMovie(UInt32 frames, std::filesystem::path* dirOut) {
  std::string tmpl = "/tmp/skyloom-bench-read-XXXXXX";
  if (!mkdtemp(tmpl.data())) return "";
  const std::filesystem::path dir = tmpl;
  *dirOut = dir;
  std::filesystem::create_directory(dir / "config");
  SkyloomSetConfigurationDirectory((dir / "config").c_str());
  FSRef ref;
  FSCatalogInfo info;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &ref, nullptr) != noErr ||
      FSGetCatalogInfo(&ref, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr) != noErr)
    return "";
  const std::string name = "grey.mov";
  Str255 p;
  p[0] = UInt8(name.size());
  std::memcpy(p + 1, name.data(), name.size());
  FSSpec movieFile;
  FSMakeFSSpec(info.volume, SInt32(info.nodeID), p, &movieFile);
  auto* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
  OSErr err = noErr;
  MyMovieRecorderStruct* rec = ORXDCAMCreateMovie(camera, 40.0, 600, W, H, FOUR_CHAR_CODE("raw "), 8, 0, movieFile, &err);
  if (!rec) {
    std::free(camera);
    return "";
  }
  std::vector<UInt8> frame(size_t(W) * H);
  for (UInt32 k = 0; k < frames; ++k) {
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = UInt8((i * 7 + i / W + k) & 0xFF);
    for (;;) {  // wait for room: every frame is kept
      MyMovieRecorderStats st;
      myMovieRecorderGetStats(rec, &st);
      if (st.framesQueued - st.framesWritten + 2 < st.slotCount) break;
      usleep(100);
    }
    ORXDCAMAddMovieFrame(rec, frame.data(), 1.0 + 40.0 * k);
  }
  ORXDCAMCloseMovie(rec);
  std::free(camera);
  SkyloomSetConfigurationDirectory(nullptr);
  return (dir / name).string();
}

// libavformat and libavcodec reading one file's video stream frame after
// frame, back to the start at its end.
struct FFmpegReader {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* sws = nullptr;
  int stream = -1;
  explicit FFmpegReader(const std::string& path) {
    av_log_set_level(AV_LOG_ERROR);
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return;
    if (avformat_find_stream_info(fmt, nullptr) < 0) return;
    stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return;
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    if (!codec) return;
    ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, fmt->streams[stream]->codecpar);
    ctx->thread_count = 1;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
      avcodec_free_context(&ctx);
      return;
    }
    frame = av_frame_alloc();
    packet = av_packet_alloc();
  }
  ~FFmpegReader() {
    sws_freeContext(sws);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
  }
  bool ok() const { return ctx != nullptr; }
  // The next frame decoded; converted into `argb` (rows of width x 4 bytes)
  // when it is given.
  bool next(UInt8* argb) {
    for (int rewinds = 0; rewinds < 2;) {
      int r = av_read_frame(fmt, packet);
      if (r == AVERROR_EOF) {
        av_seek_frame(fmt, stream, 0, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(ctx);
        ++rewinds;
        continue;
      }
      if (r < 0) return false;
      if (packet->stream_index != stream) {
        av_packet_unref(packet);
        continue;
      }
      r = avcodec_send_packet(ctx, packet);
      av_packet_unref(packet);
      if (r < 0) return false;
      r = avcodec_receive_frame(ctx, frame);
      if (r == AVERROR(EAGAIN)) continue;
      if (r < 0) return false;
      if (argb) {
        sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                                   frame->height, AV_PIX_FMT_ARGB, SWS_POINT, nullptr, nullptr, nullptr);
        if (!sws) return false;
        UInt8* dst[4] = {argb, nullptr, nullptr, nullptr};
        int stride[4] = {frame->width * 4, 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
      }
      benchmark::DoNotOptimize(frame->data[0]);
      return true;
    }
    return false;
  }
};

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double secondsSince(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

}  // namespace

static void BM_Read8BitBesideFFmpeg(benchmark::State& state) {
  constexpr UInt32 kFrames = 200, kBatch = 50;
  std::filesystem::path dir;
  const std::string path = recordGreyMovie(kFrames, &dir);
  if (path.empty()) {
    state.SkipWithError("recording failed");
    return;
  }
  Movie m = openMovie(path);
  FFmpegReader ff(path);
  if (!m || !ff.ok()) {
    state.SkipWithError("open failed");
    if (m) DisposeMovie(m);
    std::filesystem::remove_all(dir);
    return;
  }
  GWorldPtr g = nullptr;
  Rect b{0, 0, SInt16(H), SInt16(W)};
  NewGWorld(&g, 32, &b, nullptr, nullptr, 0);
  std::vector<UInt8> argb(size_t(W) * H * 4);
  // The recorder's frames are 40 ms apart: 24 units of its 600 a second.
  const UInt32 frames = UInt32(GetMovieDuration(m) / 24);
  std::vector<double> ours, decode, decodeArgb;
  UInt32 k = 0;
  for (auto _ : state) {
    auto a = std::chrono::steady_clock::now();
    for (UInt32 i = 0; i < kBatch; ++i, ++k) {
      myGet8BitMediaSampleInARGB32Buffer(m, nullptr, nullptr, argb.data(), W, H, TimeValue(24 * (k % frames)), g, 0);
      benchmark::DoNotOptimize(argb.data());
    }
    const double o = secondsSince(a);
    a = std::chrono::steady_clock::now();
    for (UInt32 i = 0; i < kBatch; ++i)
      if (!ff.next(nullptr)) state.SkipWithError("FFmpeg decode failed");
    const double d = secondsSince(a);
    a = std::chrono::steady_clock::now();
    for (UInt32 i = 0; i < kBatch; ++i)
      if (!ff.next(argb.data())) state.SkipWithError("FFmpeg decode failed");
    const double da = secondsSince(a);
    ours.push_back(o);
    decode.push_back(d);
    decodeArgb.push_back(da);
    state.SetIterationTime(o);
  }
  const double o = medianOf(ours), d = medianOf(decode), da = medianOf(decodeArgb);
  state.counters["frames/s"] = o > 0 ? kBatch / o : 0;
  state.counters["ffmpeg_frames/s"] = d > 0 ? kBatch / d : 0;
  state.counters["ffmpeg_argb_frames/s"] = da > 0 ? kBatch / da : 0;
  state.counters["vs_ffmpeg"] = o > 0 ? d / o : 0;
  state.counters["vs_ffmpeg_argb"] = o > 0 ? da / o : 0;
  DisposeGWorld(g);
  DisposeMovie(m);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Read8BitBesideFFmpeg)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(1.0);

BENCHMARK_MAIN();
