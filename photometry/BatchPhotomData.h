// The record of one variable-star photometry run of a movie: the current
// frame, the table files and settings, and sixteen star slots as parallel
// arrays indexed by slot number. The star-selection window fills the kinds and
// positions, the per-frame measurement the rest. One per run, main thread only.
#pragma once
#include <cstdio>

#include "platform/coreservices/MacTypes.h"

constexpr UInt32 kBatchPhotomStarSlots = 16;

struct MyBatchPhotomDataStruct {
  UInt16* mMono16FramePtr;  // width x height samples plus 64 bytes
  SInt32 mWidth;
  SInt32 mHeight;
  SInt32 mOutputMode;  // "REPT": 0 simple table only, 1 detailed only, 2 both
  FILE* mSimpleFile;    // "SimplePhotomVar_" table, or null
  FILE* mDetailedFile;  // "DetailedPhotomVar_" table, or null
  UInt8 mSaveLocations;  // "SVLO": save the picture of the picked stars
  UInt32 mStarCount;     // slots in use, 0 to 16
  UInt8 mStarIsVariable[kBatchPhotomStarSlots];  // 1 variable, 0 comparison
  UInt8 mStarFound[kBatchPhotomStarSlots];       // measured in the current frame
  Float32 mStarX[kBatchPhotomStarSlots];         // -1.0: empty
  Float32 mStarY[kBatchPhotomStarSlots];
  Float32 mStarFWHM[kBatchPhotomStarSlots];  // measured on the first frame
  Float32 mStarHFD[kBatchPhotomStarSlots];
  Float32 mStarIntensity[kBatchPhotomStarSlots];
  Float32 mStarMagError[kBatchPhotomStarSlots];
  Float32 mStarSNR[kBatchPhotomStarSlots];
  Float32 mStarRelMag[kBatchPhotomStarSlots];
  UInt32 mStarPixelCount[kBatchPhotomStarSlots];
  UInt32 mStarBackground[kBatchPhotomStarSlots];
  UInt32 mStarHMVal[kBatchPhotomStarSlots];
  SInt32 mStarMaxValue[kBatchPhotomStarSlots];
  Float32 mFWHMMultiplier;  // "FWHM": aperture radius in FWHMs, 0.2 to 6.0
};
