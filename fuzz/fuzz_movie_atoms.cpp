// The movie-atom parser: any bytes must parse or be refused, never read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/quicktime/MovieAtoms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MovieModel model;
  // The bytes are a 'moov' body; samples may lie anywhere in a 1 MB file.
  if (SkyloomParseMovieAtom(data, size, 1u << 20, &model) == 0) {
    for (const MovieTrackModel& t : model.tracks) {
      SkyloomSampleAtMediaTime(t, 0);
      SkyloomSampleAtMediaTime(t, t.mediaDuration / 2);
      SkyloomMediaTimeForMovieTime(model, t, model.duration / 2);
    }
  }
  return 0;
}
