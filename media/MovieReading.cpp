#include "media/MovieReading.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/BigEndian.h"

namespace {

// Description 1 of a track in a scratch handle; false when it has none.
struct Description {
  Handle h = NewHandle(0);
  ~Description() {
    if (h) DisposeHandle(h);
  }
  bool read(Media media) {
    if (!h) return false;
    GetMediaSampleDescription(media, 1, h);
    return GetMoviesError() == noErr && GetHandleSize(h) >= Size(sizeof(ImageDescription));
  }
  const ImageDescription& d() const { return *reinterpret_cast<const ImageDescription*>(*h); }
};

bool isVideo(Media media) {
  OSType type = 0;
  GetMediaHandlerDescription(media, &type, nullptr, nullptr);
  return type == VideoMediaType;
}

bool isBayer(const ImageDescription& d) {
  return d.cType == FOUR_CHAR_CODE("BGGR") && OSType(d.vendor) == FOUR_CHAR_CODE("ORX ");
}

bool isSixteenBitFormat(CodecType c) {
  return c == FOUR_CHAR_CODE("b16g") || c == FOUR_CHAR_CODE("b32a") || c == FOUR_CHAR_CODE("b48r") ||
         c == FOUR_CHAR_CODE("b64a");
}

// The first enabled video track that passes wins; any later enabled video
// track undoes the match.
template <typename Test>
Media searchVideo(Movie movie, Test test) {
  Media result = nullptr;
  bool matched = false;
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n; ++i) {
    Track track = GetMovieIndTrack(movie, i);
    if (!track || !GetTrackEnabled(track)) continue;
    Media media = GetTrackMedia(track);
    if (!media || !isVideo(media)) continue;
    Description desc;
    if (!desc.read(media)) continue;
    if (matched) return nullptr;
    if (test(desc.d())) {
      result = media;
      matched = true;
    }
  }
  return result;
}

using qt::be16;

}  // namespace

UInt8 myThisMovieHasThisTrackType(Movie movie, OSType mediaType) {
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n; ++i) {
    Track track = GetMovieIndTrack(movie, i);
    if (!track || !GetTrackEnabled(track)) continue;
    OSType type = 0;
    GetMediaHandlerDescription(GetTrackMedia(track), &type, nullptr, nullptr);
    if (type == mediaType) return 1;
  }
  return 0;
}

Media myGetMovie16BitVideoMedia(Movie movie, UInt8 rawBayerOnly) {
  return searchVideo(movie, [&](const ImageDescription& d) {
    if (!(d.depth > 15 || d.depth < 0)) return false;
    return (!rawBayerOnly && isSixteenBitFormat(d.cType)) || isBayer(d);
  });
}

Media myGetMovieBayer8BitVideoMedia(Movie movie) {
  return searchVideo(movie, [](const ImageDescription& d) { return isBayer(d) && d.depth == 8; });
}

UInt8 myIsMovieMono(Movie movie) {
  return searchVideo(movie, [](const ImageDescription& d) {
           if (d.depth > 15 && (d.cType == FOUR_CHAR_CODE("b16g") || d.cType == FOUR_CHAR_CODE("b32a"))) return true;
           if (d.depth > 15 && d.depth == 40) return true;
           return d.depth <= 15 && d.cType == FOUR_CHAR_CODE("raw ") && d.clutID == 0;
         }) != nullptr
             ? 1
             : 0;
}

OSErr myGet16BitMediaSampleInRGB48Buff(Media media, Handle sampleH, UInt16* dst, UInt32 width, UInt32 height,
                                       TimeValue mediaTime, GWorldPtr gworld48, ImageDescriptionHandle desc,
                                       CodecQ accuracy, UInt8 rawFlag) {
  if (!media || !sampleH || !dst || !desc || !*desc) return paramErr;
  const size_t n = size_t(width) * height;
  long size = 0;
  OSErr err = GetMediaSample(media, sampleH, long(n * 8), &size, mediaTime, nullptr, nullptr, nullptr, nullptr, 0,
                             nullptr, nullptr);
  if (err != noErr && err != eofErr) return err;
  if (size <= 0) return -1;
  HLock(sampleH);
  const UInt8* s = reinterpret_cast<const UInt8*>(*sampleH);
  const size_t bytes = size_t(size);
  // The destination holds width x height RGB48 pixels; nothing is written past it.
  const size_t room = n * 6;
  UInt8* out = reinterpret_cast<UInt8*>(dst);
  auto copySwapped = [&](size_t count) {  // 16-bit samples to host order
    count = std::min(count, room) & ~size_t(1);
    for (size_t i = 0; i < count; i += 2) {
      UInt16 v = be16(s + i);
      std::memcpy(out + i, &v, 2);
    }
    return count;
  };
  const CodecType codec = (*desc)->cType;
  err = noErr;
  switch (codec) {
    case FOUR_CHAR_CODE("b16g"):
      if (rawFlag) {
        copySwapped(bytes);
      } else {
        for (size_t i = 0; i < n && 2 * i + 1 < bytes; ++i) dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = be16(s + 2 * i);
      }
      break;
    case FOUR_CHAR_CODE("b32a"):
      if (rawFlag) {
        copySwapped(bytes);
      } else {
        for (size_t i = 0; i < n && 4 * i + 3 < bytes; ++i) dst[3 * i] = dst[3 * i + 1] = dst[3 * i + 2] = be16(s + 4 * i + 2);
      }
      break;
    case FOUR_CHAR_CODE("b48r"):
      copySwapped(std::min(bytes, n * 6));
      break;
    case FOUR_CHAR_CODE("b64a"):
      if (rawFlag) {
        copySwapped(bytes);
      } else {
        for (size_t i = 0; i < n && 8 * i + 7 < bytes; ++i)
          for (int c = 0; c < 3; ++c) dst[3 * i + c] = be16(s + 8 * i + 2 + 2 * c);
      }
      break;
    case FOUR_CHAR_CODE("BGGR"):
      if (rawFlag) {
        // Samples to host order; a trailer that follows them stays as characters.
        const size_t samples = std::min(bytes, n * 2);
        copySwapped(samples);
        if (bytes > samples) std::memcpy(out + samples, s + samples, std::min(bytes - samples, room - samples));
        if (bytes == n * 2 && room >= n * 2 + 4) std::memcpy(out + n * 2, "BGGR", 4);
      } else {
        (*desc)->spatialQuality = accuracy;
        PixMapHandle pm = GetGWorldPixMap(gworld48);
        if (!pm || !*pm) {
          err = paramErr;
          break;
        }
        MatrixRecord matrix;
        Rect from{0, 0, (*desc)->height, (*desc)->width};
        Rect to{0, 0, SInt16(height), SInt16(width)};
        if (UInt32((*desc)->width) == width && UInt32((*desc)->height) == height) SetIdentityMatrix(&matrix);
        else RectMatrix(&matrix, &from, &to);
        err = FDecompressImage(*sampleH, desc, pm, &from, &matrix, srcCopy, nullptr, nullptr, nullptr, accuracy,
                               nullptr, size, nullptr, nullptr);
        if (err == noErr) {
          LockPixels(pm);
          const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
          const SInt32 rb = GetPixRowBytes(pm);
          for (UInt32 y = 0; y < height; ++y) std::memcpy(out + size_t(y) * width * 6, base + size_t(y) * rb, size_t(width) * 6);
          UnlockPixels(pm);
        }
      }
      break;
    default:
      err = -2;
      break;
  }
  HUnlock(sampleH);
  return err;
}

OSErr myGet8BitMediaSampleInARGB32Buffer(Movie movie, Media media, Handle sampleH, UInt8* dst, UInt32 width,
                                         UInt32 height, TimeValue movieTime, GWorldPtr gworld32, UInt8 rawFlag) {
  if (!movie || !dst) return paramErr;
  const size_t n = size_t(width) * height;
  if (rawFlag) {
    if (!media || !sampleH) return paramErr;
    // The sample at the movie time, found through the track's edits.
    TimeValue mediaTime = TrackTimeToMediaTime(movieTime, GetMediaTrack(media));
    if (mediaTime < 0) return invalidTime;
    long size = 0;
    OSErr err = GetMediaSample(media, sampleH, long(n * 4), &size, mediaTime, nullptr, nullptr, nullptr, nullptr, 0,
                               nullptr, nullptr);
    if (err != noErr && err != eofErr) return err;
    const size_t bytes = std::min(size_t(std::max(size, 0L)), n * 4);
    std::memcpy(dst, *sampleH, bytes);
    if (bytes == n && n * 4 >= n + 4) std::memcpy(dst + n, "BGGR", 4);
    return noErr;
  }
  GWorldPtr savedPort = nullptr;
  GetMovieGWorld(movie, &savedPort, nullptr);
  SetMovieGWorld(movie, gworld32, nullptr);
  SetMovieTimeValue(movie, movieTime);
  UpdateMovie(movie);
  MoviesTask(movie, 0);
  PixMapHandle pm = GetGWorldPixMap(gworld32);
  if (pm && LockPixels(pm)) {
    const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
    const SInt32 rb = GetPixRowBytes(pm);
    if (UInt32(rb) == width * 4) {
      std::memcpy(dst, base, n * 4);
    } else {
      for (UInt32 y = 0; y < height; ++y) std::memcpy(dst + size_t(y) * width * 4, base + size_t(y) * rb, size_t(width) * 4);
    }
    UnlockPixels(pm);
  }
  SetMovieGWorld(movie, savedPort, nullptr);
  return noErr;
}

void mySetBayerMediaQuality(Movie movie, CodecQ quality) {
  for (long i = 1, n = GetMovieTrackCount(movie); i <= n; ++i) {
    Track track = GetMovieIndTrack(movie, i);
    if (!track || !GetTrackEnabled(track)) continue;
    Media media = GetTrackMedia(track);
    if (!media || !isVideo(media)) continue;
    Description desc;
    if (!desc.read(media) || !isBayer(desc.d()) || desc.d().spatialQuality == quality) continue;
    reinterpret_cast<ImageDescription*>(*desc.h)->spatialQuality = quality;
    OSErr err = SetMediaSampleDescription(media, 1, desc.h);
    if (err != noErr) {
      std::fprintf(stderr, "SetMediaSampleDescription accuracy failed %d 0x%X \n", err, unsigned(err));
      return;
    }
  }
}
