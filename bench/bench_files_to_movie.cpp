// Pictures to a 16-bit movie: 3000 x 2000 frames swapped to big-endian into
// the sample and written to a movie file on local disk (the movie's own
// folder under /tmp), and apart from that the picture import of one frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image_windows/FilesToMovie.h"
#include "media/PictureImport.h"
#include "media/RGB48Files.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/Movies.h"

namespace {

constexpr UInt32 kWidth = 3000, kHeight = 2000;
constexpr size_t kFrameBytes = size_t(kWidth) * kHeight * 6;

struct Folder {
  std::string root;
  Folder() {
    char tmpl[] = "/tmp/skyloom-bench-fimo-XXXXXX";
    root = mkdtemp(tmpl);
  }
  ~Folder() {
    const std::string cmd = "rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", root.c_str());
  }
};

std::vector<UInt16> Picture() {
  std::vector<UInt16> px(size_t(kWidth) * kHeight * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = UInt16(i * 2654435761u >> 7);
  return px;
}

// Swap and write, frame after frame, into one movie.
void BM_AddFrames(benchmark::State& state) {
  Folder folder;
  const std::vector<UInt16> picture = Picture();
  const std::string path = folder.root + "/frames.mov";
  Handle ref = nullptr;
  PtrToHand(path.c_str(), &ref, long(path.size() + 1));
  DataHandler dh = nullptr;
  Movie movie = nullptr;
  if (CreateMovieStorage(ref, AliasDataHandlerSubType, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                         createMovieFileDeleteCurFile, &dh, &movie) != noErr) {
    state.SkipWithError("no movie");
    return;
  }
  Track track = NewMovieTrack(movie, Long2Fix(kWidth), Long2Fix(kHeight), 0);
  Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
  Handle desc = NewHandleClear(sizeof(ImageDescription));
  myFillRGB48ImageDescription(reinterpret_cast<ImageDescription*>(*desc), kWidth, kHeight);
  Handle sample = NewHandle(Size(kFrameBytes));
  BeginMediaEdits(media);
  for (auto _ : state) {
    myRGB48ToBigEndianSample(picture.data(), kWidth, kHeight, kWidth * 6, reinterpret_cast<UInt8*>(*sample), kWidth,
                             kHeight);
    if (AddMediaSample(media, sample, 0, kFrameBytes, 40, desc, 1, 0, nullptr) != noErr)
      state.SkipWithError("the write failed");
  }
  state.SetBytesProcessed(SInt64(state.iterations()) * SInt64(kFrameBytes));
  EndMediaEdits(media);
  InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
  AddMovieToStorage(movie, dh);
  DisposeHandle(sample);
  DisposeHandle(desc);
  CloseMovieStorage(dh);
  DisposeMovie(movie);
  DisposeHandle(ref);
}
// 40 frames: about 1.4 GB written.
BENCHMARK(BM_AddFrames)->Iterations(40)->Unit(benchmark::kMillisecond)->UseRealTime();

// The swap alone, into one reused sample.
void BM_SwapFrame(benchmark::State& state) {
  const std::vector<UInt16> picture = Picture();
  std::vector<UInt8> sample(kFrameBytes);
  for (auto _ : state) {
    myRGB48ToBigEndianSample(picture.data(), kWidth, kHeight, kWidth * 6, sample.data(), kWidth, kHeight);
    benchmark::DoNotOptimize(sample.data());
  }
  state.SetBytesProcessed(SInt64(state.iterations()) * SInt64(kFrameBytes));
}
BENCHMARK(BM_SwapFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

// The import of one 3000 x 2000 16-bit TIFF, reported apart.
void BM_ImportFrame(benchmark::State& state) {
  Folder folder;
  const std::vector<UInt16> picture = Picture();
  const std::string path = folder.root + "/in.tif";
  if (FILE* f = fopen(path.c_str(), "w")) fclose(f);
  FSRef input{};
  FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &input, nullptr);
  myRGB48ToFileFSRef(input, FOUR_CHAR_CODE("TIFF"), picture.data(), kWidth, kHeight, 1);
  for (auto _ : state) {
    UInt32 w = 0, h = 0, rowBytes = 0;
    Ptr buffer = nullptr;
    if (ImportFileIntoRGB48Ptr(input, &w, &h, &rowBytes, &buffer) != noErr) state.SkipWithError("import failed");
    std::free(buffer);
  }
}
BENCHMARK(BM_ImportFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
