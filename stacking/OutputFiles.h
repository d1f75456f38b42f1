// The files a stacking run writes into its output folder: the names and
// creation of the stacked images and of the sharpest-frames reference movie
// ("REF_" + the movie's name), and that movie itself, made of the frames that
// pass the cut-off, sharpest first.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/Movies.h"
#include "stacking/SharpnessList.h"
#include "stacking/StackAlignJob.h"

// The name of stacked image `index` of the job's current movie: the movie's
// name, "_<PERCENTFRAME>L" (lunar-solar) or "P", the sharpening code, the
// index ("", "-007", "-012", "-250") and ".tif". False when the movie's name
// cannot be had.
bool myStackedImageName(const StackAlignJob* job, UInt32 index, char* name, size_t size);

// Makes the empty file for stacked image `index` in mOutputFolder (an existing
// file of the name is deleted first) and leaves it in mOutputFile. Returns -43
// when the file has been created: callers take -43 as success. Any other
// value is a failure, reported by an alert.
OSStatus myGenerateExportFileFSRef(StackAlignJob* job, UInt32 index);
// Makes the empty file "REF_" + the movie's name in the folder (replacing one
// of that name) into out: 0, else the failing status after an alert.
OSStatus myGenerateNewFSRefMovieName(const FSRef* movie, const FSRef* folder, FSRef* out);
// Writes the reference movie into file: the source's frames whose sharpness is
// at or above the cut-off, in the list's (sorted) order, each lasting its time
// in the source less 2 units. The number of frames put into it; after a
// failure the file holds no movie and a line goes to standard error.
UInt32 myCreateSharpnessRefMovie(Movie source, const FSRef* file, SharpnessList list, float cutOff);
