// Reading QuickTime movie files: the atom tree (32- and 64-bit atoms, 'wide',
// 'free', 'skip', version 0 and 1 headers) into a plain model of tracks,
// edit lists, time scales, sample descriptions and sample tables, with every
// sample's file offset and size resolved. Files are untrusted: every count,
// size and offset is checked, and a damaged movie is refused, never read past.
#pragma once
#include <string>
#include <vector>

#include "platform/coreservices/MacTypes.h"

struct MovieEdit {
  UInt64 trackDuration;  // in the movie's time scale
  SInt64 mediaTime;      // -1: an empty edit
  Fixed rate;
};

struct MovieSampleRun {  // 'stts': count samples of one duration
  UInt32 count;
  UInt32 duration;
};

struct MovieTrackModel {
  UInt32 trackID = 0;
  Boolean enabled = 0;
  UInt32 tkhdFlags = 0;
  UInt64 trackDuration = 0;  // movie time scale
  Fixed width = 0;
  Fixed height = 0;
  std::vector<MovieEdit> edits;
  // Media.
  UInt32 mediaTimeScale = 0;
  UInt64 mediaDuration = 0;
  UInt16 language = 0;
  OSType handlerType = 0;     // 'vide', 'soun', 'tmcd', ...
  // Sample descriptions as stored (big-endian), each with its size field.
  std::vector<std::vector<UInt8>> descriptions;
  std::vector<MovieSampleRun> timeToSample;
  // Every sample: file offset, size, media start time, description index (1-based).
  std::vector<UInt64> sampleOffset;
  std::vector<UInt32> sampleSize;
  std::vector<UInt64> sampleTime;
  std::vector<UInt32> sampleDescription;
  // Sync samples (1-based, from 'stss'); empty when every sample is one.
  std::vector<UInt32> syncSamples;
  // The 'tref' entries.
  std::vector<std::pair<OSType, std::vector<UInt32>>> references;
  // The 'trak' atom's body as the file holds it, so that a movie written back
  // keeps the track byte for byte (empty for a track made in memory).
  std::vector<UInt8> rawTrak;
};

struct MovieModel {
  UInt32 timeScale = 0;
  UInt64 duration = 0;
  UInt32 creationTime = 0;
  UInt32 modificationTime = 0;
  UInt32 nextTrackID = 0;
  std::vector<MovieTrackModel> tracks;
  UInt64 fileSize = 0;
  UInt64 moovOffset = 0;  // where the movie atom starts in the file
  UInt64 moovSize = 0;
  // Whole atoms of the movie atom other than 'mvhd' and 'trak' (user data...),
  // kept as they are for writing the movie back.
  std::vector<std::vector<UInt8>> otherAtoms;
  std::vector<UInt8> rawMvhd;  // the 'mvhd' body
};

// Parses a 'moov' atom's contents (the bytes after its 8- or 16-byte header).
// fileSize bounds the sample offsets. 0, or codecBadDataErr (-8969) for a
// damaged atom tree.
OSErr SkyloomParseMovieAtom(const UInt8* moovBody, size_t size, UInt64 fileSize, MovieModel* out);
// Finds the movie atom of the file (by its top-level atoms) and parses it.
// fnfErr when there is no file; -2048 (invalidMovie) when it is not a movie.
OSErr SkyloomReadMovieFile(const std::string& path, MovieModel* out);
// The sample (0-based) that holds the media time; -1 when none does.
long SkyloomSampleAtMediaTime(const MovieTrackModel& t, UInt64 mediaTime);
// The media time that movie time t maps to through the track's edits; -1 in
// an empty edit or past the end.
SInt64 SkyloomMediaTimeForMovieTime(const MovieModel& m, const MovieTrackModel& t, UInt64 movieTime);
