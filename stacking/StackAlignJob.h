// The record of one align-and-stack run. Only the AlignPref settings that the
// align worker records are filled from are here so far; each field holds its
// key's value as the preferences give it (booleans 0 or 1).
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

typedef struct OpaqueWindowPtr* WindowRef;

struct StackAlignJob {
  UInt8 QUALITY;            // 1: decode raw Bayer frames at the highest quality
  UInt8 METHOD;             // gross alignment: 1 lunar-solar, 0 planetary
  UInt8 BCGSUBTRACT;        // subtract the background
  UInt8 REMOVENOISE;        // noise reduction with the frame sharpening
  UInt8 GAUSBLUR;           // Gaussian blur of sharpness and alignment frames
  UInt8 AUTOADJBRIGHTNESS;  // adjust the brightness of the comparison area
  UInt8 BIN2x2MOV;          // bin frames 2 x 2
  UInt32 CTAVLIMITPERCENT;  // minimum share of kept frames an area needs, 1 to 12
  UInt32 REMOVEHOTPIXEL;    // hot and cold pixel cut-off, 0 = off
  UInt32 PIXELALIGN;        // 0 none, 1 horizontal, 2 vertical, 3 both separate, 4 both averaged, 5 manual
  UInt32 SCALE;             // 1 to 4
  UInt32 PIXELBLOCKSIZE;    // block size in units of 32 pixels
  UInt32 COLORCHANNEL;      // 1 luma, 2 red, 3 green, 4 blue
  UInt32 PIXELTOLERANCE;    // 1 to 31
  double SHARPEN;           // frame sharpening strength; negative = none
  UInt8 AUTOEXPALIGN;       // automatic histogram expansion of alignment frames
  UInt32 GRADLEVEL;         // gradient levelling step, 0 = off
  UInt8 SHARPMATCH;         // sharpen alignment frames
  UInt32 SPATIALSHARPNESS;  // 0 small, 1 medium, 2 wide

  // The cut-off window and the run's output files.
  UInt8 PROMPTCI;           // 1: ask for the cut-off ("Histogram" window) for each movie
  UInt32 PERCENTFRAME;      // the cut-off percent, 0 to 100
  WindowRef mProgressWindow;  // the run's "Progress" window, or null
  FSRef mOutputFolder;      // the output folder
  FSRef mCurrentMovie;      // the movie being processed
  FSRef mOutputFile;        // the file being written (reference movie or stacked image)
};
