// The movie reading path past the atom parser: a file in our own layout is
// opened as a movie and every video track's samples are fetched and decoded
// the ways the readers of recorded movies do (16-bit samples to RGB48, raw
// samples, frames drawn at a movie time into a 32-bit picture). Any bytes must
// decode or fail cleanly, never read or write outside a buffer.
//
// Files our parser refuses would go to FFmpeg, which is not ours to fuzz;
// they, and tracks whose codec only FFmpeg decodes, are left out.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/MovieReading.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieAtoms.h"
#include "platform/quicktime/Movies.h"

namespace {

// The readers' buffers and pictures; a description that claims another size
// is decoded at its own size and scaled.
constexpr long kMaxSide = 64;

// The movie layer reads files by path. The file lives in memory (tmpfs when
// there is one): rewriting a disk file thousands of times is mostly waiting.
char gScratch[64];

const char* scratchPath() {
  if (!gScratch[0]) {
    std::strcpy(gScratch, access("/dev/shm", W_OK) == 0 ? "/dev/shm/skyloom-fuzz-movie-XXXXXX"
                                                        : "/tmp/skyloom-fuzz-movie-XXXXXX");
    const int fd = mkstemp(gScratch);
    if (fd >= 0) close(fd);
    std::atexit([] { unlink(gScratch); });
  }
  return gScratch;
}

bool writeAll(const char* path, const uint8_t* data, size_t size) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
    if (n <= 0) break;
    done += size_t(n);
  }
  const bool ok = done == size && ftruncate(fd, off_t(size)) == 0;
  close(fd);
  return ok;
}

// The media has descriptions, each a whole image description of a codec
// decoded here.
bool nativeOnly(Media media, SampleDescriptionHandle desc) {
  const long n = GetMediaSampleDescriptionCount(media);
  if (n < 1) return false;
  for (long i = 1; i <= n; ++i) {
    GetMediaSampleDescription(media, i, desc);
    if (GetHandleSize(desc) < Size(sizeof(ImageDescription))) return false;
    if (!SkyloomCanDecompress(reinterpret_cast<ImageDescription*>(*desc)->cType)) return false;
  }
  return true;
}

void readTrack(Movie movie, Track track, bool drawMovie) {
  Media media = GetTrackMedia(track);
  OSType type = 0;
  GetMediaHandlerDescription(media, &type, nullptr, nullptr);
  if (type != VideoMediaType) return;
  SampleDescriptionHandle desc = NewHandle(0);
  Handle sample = NewHandle(0);
  if (!desc || !sample || !nativeOnly(media, desc)) {
    DisposeHandle(desc);
    DisposeHandle(sample);
    return;
  }
  GetMediaSampleDescription(media, 1, desc);
  auto idh = reinterpret_cast<ImageDescriptionHandle>(desc);
  const long w = std::clamp<long>((*idh)->width, 1, kMaxSide), h = std::clamp<long>((*idh)->height, 1, kMaxSide);
  const Rect bounds{0, 0, SInt16(h), SInt16(w)};
  GWorldPtr g48 = nullptr, g32 = nullptr;
  QTNewGWorld(&g48, k48RGBPixelFormat, &bounds, nullptr, nullptr, 0);
  NewGWorld(&g32, 32, &bounds, nullptr, nullptr, 0);
  std::vector<UInt16> rgb48(size_t(w) * h * 3);
  std::vector<UInt8> argb(size_t(w) * h * 4);
  const TimeValue duration = GetMediaDuration(media);
  for (TimeValue t : {TimeValue(0), duration / 2, duration > 0 ? duration - 1 : 0}) {
    for (UInt8 raw : {UInt8(0), UInt8(1)}) {
      if (g48)
        myGet16BitMediaSampleInRGB48Buff(media, sample, rgb48.data(), UInt32(w), UInt32(h), t, g48, idh,
                                         raw ? codecLowQuality : codecMaxQuality, raw);
      if (g32 && (raw || drawMovie))
        myGet8BitMediaSampleInARGB32Buffer(movie, media, sample, argb.data(), UInt32(w), UInt32(h), t, g32, raw);
    }
  }
  if (g48) DisposeGWorld(g48);
  if (g32) DisposeGWorld(g32);
  DisposeHandle(desc);
  DisposeHandle(sample);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = scratchPath();
  if (!writeAll(path.c_str(), data, size)) return 0;
  MovieModel model;
  if (SkyloomReadMovieFile(path, &model) != noErr) return 0;
  Handle ref = nullptr;
  if (PtrToHand(path.c_str(), &ref, long(path.size() + 1)) != noErr) return 0;
  Movie movie = nullptr;
  NewMovieFromDataRef(&movie, 0, nullptr, ref, AliasDataHandlerSubType);
  DisposeHandle(ref);
  if (!movie) return 0;
  // Drawing the movie decodes the first enabled video track; only when every
  // video track is decoded here.
  bool drawMovie = true;
  SampleDescriptionHandle probe = NewHandle(0);
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n && probe; ++i) {
    Media media = GetTrackMedia(GetMovieIndTrack(movie, i));
    OSType type = 0;
    GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    if (type == VideoMediaType && !nativeOnly(media, probe)) drawMovie = false;
  }
  DisposeHandle(probe);
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n; ++i) readTrack(movie, GetMovieIndTrack(movie, i), drawMovie);
  DisposeMovie(movie);
  return 0;
}
