// The layout of the movies the recorder writes: a 16-byte header, frames from
// offset 4096 (one fixed-size frame a chunk), then the movie atom. Everything
// here is a pure builder; the recorder does the file writing. All integers in
// the file are big-endian.
#pragma once
#include <vector>

#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/BigEndian.h"
#include "platform/quicktime/ImageCompression.h"

// ---- Big-endian put/get ----
inline void myPutBE16(UInt8* p, UInt16 v) { qt::putBE16(p, v); }
inline void myPutBE32(UInt8* p, UInt32 v) { qt::putBE32(p, v); }
inline void myPutBE64(UInt8* p, UInt64 v) { qt::putBE64(p, v); }
inline UInt16 myGetBE16(const UInt8* p) { return qt::be16(p); }
inline UInt32 myGetBE32(const UInt8* p) { return qt::be32(p); }
inline UInt64 myGetBE64(const UInt8* p) { return qt::be64(p); }

constexpr UInt32 kMovieFirstFrameOffset = 4096;
constexpr UInt32 kMovieHeaderBytes = 16;
constexpr UInt32 kMovieAtomFixedBytes = 484;  // 'moov' up to the sample-table atoms
constexpr SInt32 kMovieTimeScale = 600;
constexpr long kGreyColorTableBytes = 2056;
constexpr SInt32 kImageDescriptionBytes = 86;

// ---- Grey colour tables ----
// Appends the 256-entry grey table (seed 0, flags 0, size 255, entry i = i,
// i x 257 three times) to the handle. 0, or -108 when memory can't be had.
OSErr myCreateMono8Clut(Handle h);
// Appends the grey table to an image description and marks it as following
// (description size grows to 2142, colour table ID 0).
OSErr myCreateClut(ImageDescriptionHandle desc);

// ---- Sample descriptions ----
// What a stored format code with its bits per pixel becomes in the file.
struct MovieStoredFormat {
  CodecType codec;
  OSType vendor;
  SInt16 version;
  SInt16 revision;
  SInt16 depth;
  Boolean greyTable;  // 8-bit grey: the description carries the grey colour table
  Boolean bayer;      // raw Bayer: frames end in the 4-byte pattern code
};
// storedCode is the recorder's normalised code: 'RGGB' 'GRBG' 'GBRG' 'BGGR',
// 'mmRG' 'mmGB' 'mmGR' 'mmBG', 'raw ', '2vuy', 'Y411', 'v308'.
// -50 for a code or bit count with no stored form.
OSStatus myMovieStoredFormat(UInt32 storedCode, UInt32 bitsPerPixel, MovieStoredFormat* out);
// A new sample description (with the grey table where the format has one).
// Null with *err set on failure.
ImageDescriptionHandle myCreateMovieImageDescription(UInt32 storedCode, UInt32 bitsPerPixel,
                                                     UInt32 spatialQuality, UInt32 width,
                                                     UInt32 height, OSErr* err);
// The description in its file form: big-endian fields, colour table included.
std::vector<UInt8> myFlattenImageDescription(ImageDescriptionHandle desc);

// ---- Sample durations ('stts') ----
struct MovieTimeToSample {
  UInt32 count;
  UInt32 duration;
};
// times: the frame times in ms of the frames counted. One frame: (1, trunc of
// nominalFrameMs x timeScale x 0.001). More: rint of each interval in media
// units, runs merged, the last run one longer. *mediaDuration = the sum.
std::vector<MovieTimeToSample> myBuildSampleDurations(const float* times, UInt32 frameCount,
                                                      SInt32 timeScale, double nominalFrameMs,
                                                      UInt32* mediaDuration);
// rint(D / timeScale x 600): the movie duration in the movie's time scale.
UInt32 myMovieDurationFromMedia(UInt32 mediaDuration, SInt32 timeScale);

// ---- Header and chunk offsets ----
// T = 4096 + N x F, computed in double precision.
UInt64 myMovieDataEnd(UInt32 frameCount, UInt32 frameBytes);
// The 16-byte file header: 'wide' + 32-bit 'mdat' when T fits in 32 bits,
// else a 64-bit 'mdat'.
void myBuildMovieFileHeader(UInt32 frameCount, UInt32 frameBytes, UInt8 header[16]);
// 'co64' when 4096 + N x F is 4,294,967,295 or more.
bool myMovieNeeds64BitOffsets(UInt32 frameCount, UInt32 frameBytes);
// The whole 'stco' or 'co64' atom: offset k = 4096 + k x F.
std::vector<UInt8> myCreateChunkOffsetTable(UInt32 frameCount, UInt32 frameBytes);

// ---- The movie atom ----
struct MovieAtomParams {
  UInt32 width;
  UInt32 height;
  SInt32 timeScale;       // the media time scale
  const float* times;     // frame times in ms, frameCount of them
  UInt32 frameCount;
  UInt32 frameBytes;
  double nominalFrameMs;  // used when there is one frame
  ImageDescriptionHandle desc;
  UInt32 creationTime;    // local time, seconds since 1904
};
// Builds the whole 'moov' atom. -50 for no frames, no description or a zero
// time scale; -108 when memory can't be had.
OSStatus myBuildMovieAtom(const MovieAtomParams& p, std::vector<UInt8>* out);
