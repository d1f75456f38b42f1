// The record of one align-and-stack run: the AlignPref settings (one field
// per preference key, named by the key, holding the key's value as the
// preferences give it; booleans 0 or 1), the chosen movies and output folder,
// and the state the run shares with the main thread.
//
// Made by myAlignAndStackMovies (malloc, cleared, then the defaults of
// myInitStackAlignJob), owned by the run, and freed only by
// myStopMovieStacking. The run is a cooperative thread of the main thread, so
// mCancel (written by the progress window's handler) and mRunning (written by
// the pump timer and by the run) are plain bytes: only one of the two sides
// runs at any moment.
#pragma once
#include <cstdio>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/coreservices/Threads.h"
#include "platform/hitoolbox/HIToolbox.h"

// The most movies one run takes.
constexpr UInt32 kMyMaxStackMovies = 256;

struct StackAlignJob {
  UInt8 DFLTFOPICK;         // 1: the output-folder location below is valid
  UInt8 PROMPTCI;           // 1: show the cut-off window for each movie
  UInt8 PROMPTAREA;         // kept in the preferences only
  UInt8 QUALITY;            // 1: decode raw Bayer frames at the highest quality
  UInt8 METHOD;             // gross alignment: 1 lunar-solar, 0 planetary
  UInt8 SUMIMG;             // 1: sum the aligned frames; 0: average them
  UInt8 BCGSUBTRACT;        // subtract the background (only with SUMIMG 1)
  UInt8 POST;               // 1: write the movie-stack log
  UInt8 REMOVENOISE;        // noise reduction with the frame sharpening
  UInt8 AUTOCLIP;           // crop the stack to the area every aligned frame covers
  UInt8 GAUSBLUR;           // Gaussian blur of sharpness and alignment frames
  UInt8 MANUALFRAMES;       // 1: the user edits the selection of frames
  UInt8 AUTOADJBRIGHTNESS;  // adjust the brightness of the comparison area
  UInt8 CTAVIMAGE;          // 1: build the multiple-area composite image
  UInt8 CTAVONLYSAVE;       // 1: save only the composite of the areas
  UInt8 BIN2x2MOV;          // bin frames 2 x 2
  UInt32 CTAVLIMITPERCENT;  // minimum share of kept frames an area needs, 1 to 12 (x 5 + 35 percent)
  UInt8 SAVSHARPREFMOV;     // 1: write the sharpest-frames reference movie
  UInt32 REMOVEHOTPIXEL;    // hot and cold pixel cut-off, 0 = off
  UInt32 PIXELALIGN;        // 0 none, 1 horizontal, 2 vertical, 3 both separate, 4 both averaged, 5 manual
  UInt32 PERCENTFRAME;      // the cut-off percent, 0 to 100
  UInt32 SCALE;             // 1 to 4
  UInt32 mMovieCount;       // movies in mMovies
  UInt32 PIXELBLOCKSIZE;    // block size in units of 32 pixels
  UInt32 COLORCHANNEL;      // 1 luma, 2 red, 3 green, 4 blue
  UInt32 PIXELTOLERANCE;    // 1 to 31; tolerance = (value - 1) x 0.5
  double SHARPEN;           // frame sharpening strength; negative = none
  UInt8 AUTOEXPALIGN;       // automatic histogram expansion of alignment frames
  FILE* mLogFile;           // the open movie-stack log, or null
  UInt8 mLogOpen;           // 1 while mLogFile is open
  UInt8 mWantsAreaImage;    // the area-image preference
  UInt32 WHICHQUADRANT;     // region of the sharpness measurement, 0 (whole frame) to 5
  UInt32 GRADLEVEL;         // gradient levelling step, 0 = off, else step x 5 percent
  WindowRef mProgressWindow;  // the run's "Progress" window, or null
  UInt8 mCancel;            // 1: the user cancelled; the run stops at its next check
  UInt8 mRunning;           // 1 while the run is alive (set by the pump timer, cleared by the run)
  UInt8 SHARPMATCH;         // sharpen alignment frames
  UInt32 SPATIALSHARPNESS;  // 0 small, 1 medium, 2 wide
  FSSpec mOutputFolderSpec;  // the output folder; its name is empty when it came from the preferences
  FSRef mMovies[kMyMaxStackMovies];  // the chosen movies, sorted by name
  FSRef mOutputFolder;       // made from mOutputFolderSpec by the run
  FSRef mCurrentMovie;       // copy of the movie being processed
  FSRef mOutputFile;         // the file being written
  EventLoopTimerRef mPumpTimer;      // the pump timer, or null
  EventLoopTimerUPP mPumpTimerUPP;   // myMovieStackingEventLoopTimerProc, or null
  ThreadEntryUPP mThreadEntryUPP;    // the run's entry, or null
};
