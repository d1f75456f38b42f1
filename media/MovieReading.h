// Reading movies back: tests on a movie's tracks, the video media of a 16-bit
// or raw Bayer movie, one frame as RGB48 or ARGB32 (or as raw samples), and
// the demosaic quality of raw Bayer media. Samples come back in host order;
// a raw Bayer frame keeps its 4-byte pattern trailer as characters.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/ImageCompression.h"
#include "platform/quicktime/Movies.h"

UInt8 myThisMovieHasThisTrackType(Movie theMovie, OSType mediaType);
// The media of the one enabled video track with a 16-bit description (or,
// with rawBayerOnly 1, only raw Bayer); 0 when none, or when another enabled
// video track follows the match.
Media myGetMovie16BitVideoMedia(Movie theMovie, UInt8 rawBayerOnly);
Media myGetMovieBayer8BitVideoMedia(Movie theMovie);
UInt8 myIsMovieMono(Movie theMovie);

// One frame at a media time as dense RGB48 (width x 6 bytes a row). With
// rawFlag 1 the sample is copied (host order), raw Bayer gaining 'BGGR' when
// it has no trailer. -1 for an empty sample, -2 for a codec with no 16-bit form.
OSErr myGet16BitMediaSampleInRGB48Buff(Media theMedia, Handle sampleH, UInt16* rgb48, UInt32 width, UInt32 height,
                                       TimeValue mediaTime, GWorldPtr gworld48, ImageDescriptionHandle desc,
                                       CodecQ accuracy, UInt8 rawFlag);
// One frame at a movie time as dense ARGB32, drawn by the movie into the
// 32-bit picture; with rawFlag 1 the raw 8-bit sample.
OSErr myGet8BitMediaSampleInARGB32Buffer(Movie theMovie, Media theMedia, Handle sampleH, UInt8* argb,
                                         UInt32 width, UInt32 height, TimeValue movieTime, GWorldPtr gworld32,
                                         UInt8 rawFlag);
// Sets the demosaic quality of every enabled raw Bayer track that differs.
void mySetBayerMediaQuality(Movie theMovie, CodecQ quality);
