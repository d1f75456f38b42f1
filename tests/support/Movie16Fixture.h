// Small 16-bit movies in the recorder's layout for the stacking tests: time
// scale 600, 20 units a frame, frame k starting at 20 k. Every sample of
// frame k holds k + 1 (so no frame is black), a raw Bayer frame ends in its
// 'BGGR' trailer.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/Movies.h"

enum class Test16BitFormat { kGrey16, kRGB48, kBayer16 };  // 'b16g', 'b48r', raw Bayer 16-bit

inline UInt16 Test16BitFrameValue(UInt32 frame) { return UInt16(frame + 1); }

// A sample of frame `frame` at (x, y); empty gives Test16BitFrameValue.
using Test16BitPixel = std::function<UInt16(UInt32 frame, UInt32 x, UInt32 y)>;

// The whole file of a movie of `frames` frames of width x height.
inline std::vector<UInt8> MakeTest16BitMovie(Test16BitFormat format, UInt32 width, UInt32 height, UInt32 frames,
                                             const Test16BitPixel& pixel = {}) {
  const UInt32 code = format == Test16BitFormat::kBayer16 ? FOUR_CHAR_CODE("BGGR") : FOUR_CHAR_CODE("raw ");
  const UInt32 bits = format == Test16BitFormat::kRGB48 ? 48 : 16;
  const UInt32 samplesPerPixel = format == Test16BitFormat::kRGB48 ? 3 : 1;
  const UInt32 trailer = format == Test16BitFormat::kBayer16 ? 4 : 0;
  const UInt32 frameBytes = width * height * samplesPerPixel * 2 + trailer;
  OSErr err = noErr;
  ImageDescriptionHandle desc = myCreateMovieImageDescription(code, bits, 1024, width, height, &err);
  EXPECT_EQ(err, noErr);
  std::vector<float> times;
  for (UInt32 k = 0; k < frames; ++k) times.push_back(float(k) * 100.0f / 3.0f);
  // 33.34 ms: one frame lasts 20 units too (truncated from 20.004).
  MovieAtomParams p{width, height, 600, times.data(), frames, frameBytes, 33.34, desc, 3029529600u};
  std::vector<UInt8> moov;
  EXPECT_EQ(myBuildMovieAtom(p, &moov), noErr);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  std::vector<UInt8> file(kMovieFirstFrameOffset, 0);
  myBuildMovieFileHeader(frames, frameBytes, file.data());
  file.reserve(file.size() + size_t(frames) * frameBytes + moov.size());
  for (UInt32 k = 0; k < frames; ++k) {
    for (UInt32 i = 0; i < width * height * samplesPerPixel; ++i) {
      const UInt32 p = i / samplesPerPixel;
      const UInt16 v = pixel ? pixel(k, p % width, p / width) : Test16BitFrameValue(k);
      file.push_back(UInt8(v >> 8));
      file.push_back(UInt8(v));
    }
    if (trailer != 0) file.insert(file.end(), {'B', 'G', 'G', 'R'});
  }
  file.insert(file.end(), moov.begin(), moov.end());
  return file;
}

// Writes the movie to `path` and opens it; null (with a test failure) when
// that fails. The caller disposes of the movie.
inline void WriteTest16BitMovie(const std::filesystem::path& path, Test16BitFormat format, UInt32 width,
                                UInt32 height, UInt32 frames, const Test16BitPixel& pixel = {}) {
  const std::vector<UInt8> bytes = MakeTest16BitMovie(format, width, height, frames, pixel);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Movie WriteAndOpenTest16BitMovie(const std::filesystem::path& path, Test16BitFormat format, UInt32 width,
                                       UInt32 height, UInt32 frames) {
  const std::vector<UInt8> bytes = MakeTest16BitMovie(format, width, height, frames);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  const std::string name = path.string();
  Handle ref = nullptr;
  EXPECT_EQ(PtrToHand(name.c_str(), &ref, long(name.size() + 1)), noErr);
  Movie m = nullptr;
  EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << name;
  DisposeHandle(ref);
  return m;
}
