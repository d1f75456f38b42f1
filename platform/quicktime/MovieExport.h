// Movie export: a movie converted into a file of another layout, with the
// settings dialog standing in for QuickTime's exporter set. The dialog is the
// Navigation save dialog with a format pop-up of the two exporters here:
//
//   "QuickTime Movie": every frame of the first enabled video track decoded
//     and written uncompressed, 'raw ' 32-bit ARGB from 8-bit sources and
//     'b48r' (big-endian RGB48) from 16-bit ones, each frame keeping its
//     time and duration (the source media's time scale);
//   "Image Sequence": one 16-bit RGB TIFF per frame through the graphics
//     exporter, named after the chosen name with the frame number
//     ("Name 0001.tif", ...).
//
// The movie is written beside its destination and put in its place only
// when complete, so that a failed or stopped export leaves nothing behind
// and exporting over the source itself is safe.
#pragma once
#include "platform/quicktime/Movies.h"

enum : long {
  showUserSettingsDialog = 1L << 1,
  movieToFileOnlyExport = 1L << 2,
  movieFileSpecValid = 1L << 3,
};

// Exports the movie to the data reference ("QuickTime Movie"), or, with
// showUserSettingsDialog, where and as the user chooses in the dialog (the
// data reference then names the proposed file). Reports to the movie's
// progress procedure. 0; -128 when the user cancelled; progressProcAborted
// (-2019) when the progress procedure (the default one: its Stop button)
// stopped it; -2010 without a video track; else the status of the step that
// failed. onlyTrack, fileType, creator and userComp are accepted and not used.
OSErr ConvertMovieToDataRef(Movie theMovie, Track onlyTrack, Handle dataRef, OSType dataRefType, OSType fileType,
                            OSType creator, long flags, ComponentInstance userComp);

// The names of the two exporters, in the order of the format pop-up.
constexpr const char* kSkyloomExportMovieName = "QuickTime Movie";
constexpr const char* kSkyloomExportImageSequenceName = "Image Sequence";
// Signatures of the default progress window's controls.
enum : OSType {
  kSkyloomProgressBarSignature = FOUR_CHAR_CODE("PRGB"),
  kSkyloomProgressStopSignature = FOUR_CHAR_CODE("STOP"),
};
