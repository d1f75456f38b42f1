// The body of an align-and-stack run: every chosen movie in turn is opened,
// its frames ranked by sharpness on the frame-reader thread, the ranking cut
// off, and the frames above the cut-off handed to the align workers and
// stacked area by area. 8-bit movies go to the 8-bit run.
//
// The run is the job's cooperative thread (installed with
// mySetMovieStackingRunEntry); it owns the "Progress" window and the
// movie-stack log while it lives, and clears mRunning when it ends.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/Movies.h"
#include "stacking/ReaderRecord.h"
#include "stacking/SharpnessList.h"
#include "stacking/StackAlignJob.h"

// The run's thread entry; the parameter is the StackAlignJob.
void* myProcessMovies(void* job);

// What the area stacking of one 16-bit movie is handed.
struct MyMovieStackContext {
  StackAlignJob* job;
  MAMF* reader;          // mKind 1 for the stacking passes; its workers are made
  Movie movie;
  UInt32 width, height, rowBytes16;
  UInt32 scaledWidth, scaledHeight, scaledRowBytes16;
  UInt8 mono, altivec, prefetch;
  UInt32* sum;           // RGB96 sum, 12 x scaledRowBytes16 x scaledHeight + 64 bytes, zeroed
  UInt16* composite;     // RGB48 composite (CTAVIMAGE), or null
  UInt8 compositeOnly;   // CTAVONLYSAVE
  UInt32 compositeMargins[4];
  UInt32 minFramesPerArea;
  UInt32 above;          // entries at or above the cut-off
  UInt32 areaCount;      // pixel areas chosen (0: the whole frame once)
  double cutOff;
};

// The stages that other parts of the engine supply: stacking the areas of a
// 16-bit movie and the whole run of an 8-bit movie. Until one is installed
// its stage does nothing and succeeds. Null restores that default.
using MyStackAreasProc = OSStatus (*)(MyMovieStackContext* context);
using MyProcessMovie8BitProc = OSStatus (*)(StackAlignJob* job, Movie movie, UInt8 altivec, UInt8 prefetch);
void mySetMovieStackingStages(MyStackAreasProc areas, MyProcessMovie8BitProc movie8Bit);

// The consumer side of the sharpness pass: measures every slot the running
// reader (kind 0) fills, in time order, and appends {slot time, figure} to
// the list, until the reader has read the whole movie (0), it failed (its
// error) or the user cancelled (0 with mCancel set). The noise region is
// {x0, y0, x1, y1} of the unscaled frame; `scratch` is the noise routine's.
// *counter gets 1 + the frames measured. Shows the count in the progress
// window every fifth frame and yields to the main thread.
OSStatus myMeasureMovieSharpness(StackAlignJob* job, MAMF* reader, const UInt32 region[4], UInt32 sampling,
                                 UInt8* scratch, UInt8 altivec, UInt8 prefetch, SharpnessList* list,
                                 UInt32* counter);

// Workers for a movie of `frames` frames: Gestalt('cpus') p (0 when Gestalt
// fails); 1 when p < 3 or frames < 5, else min(p - 1, 16) and at most
// frames / 2.
UInt32 myStackingWorkerCount(UInt32 frames);
// The cut-off of a ranked movie: PERCENTFRAME 0 keeps every frame; else the
// percent's confidence level, falling back to the linear rule when that
// reaches the maximum.
double myStackingCutOff(UInt32 percent, double minimum, double maximum, double mean, double standardDeviation);
