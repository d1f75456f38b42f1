// The sharpness list of a stacking run: one entry a frame (the movie time at
// which the frame starts, its sharpness), sorted sharpest first before its
// statistics and 256-bin frequency count are taken. The run that makes a list
// owns it and disposes of the handle.
#pragma once
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/MacTypes.h"

struct NoiseStruct {
  UInt32 mFrameTime;  // movie time of the frame's start, in the movie's time scale
  float mValue;       // sharpness; larger is sharper
};
static_assert(sizeof(NoiseStruct) == 8, "a sharpness entry is 8 bytes");

// A Memory Manager handle of packed NoiseStruct entries; null is the empty list.
typedef Handle SharpnessList;

// The frequency count: bins 0 to 253 hold q = (value - minimum) / bin width
// in [k, k + 1), bin 254 only q = 254 exactly, bin 255 everything above.
typedef UInt32 FrequencyCountCI[256];

struct NoiseStatistics {
  double mMinimum;
  double mMaximum;
  double mBinWidth;
  double mStandardDeviation;
  double mMean;
  double mMedian;
  double mMode;
  FrequencyCountCI mCounts;
};

// Entries in the list (0 for a null list).
UInt32 myCountNoiseStruct(SharpnessList list);
// Appends one entry, the value stored in single precision. When memory cannot
// be had the list stays as it was.
void myAddNoiseStruct(SharpnessList* list, UInt32 frameTime, double value);
// Copies entry index (below the entry count) to out.
void myGetNoiseStruct(SharpnessList list, UInt32 index, NoiseStruct* out);
// Entries whose value, widened to double, is at or above the cut-off.
UInt32 myCountNoiseStructAboveCutoff(SharpnessList list, double cutOff);
// Sorts in place, largest value first; equal values keep their order.
void mySortNoiseStruct(SharpnessList list);
// Statistics of a list sorted by mySortNoiseStruct: 0 when it has at most one
// entry (minimum, maximum, mean, median and mode then hold that entry's
// value), else 1. When no bin lies wholly below half the entries (the first
// occupied bin already holds half or more), the median is the minimum.
int myGetNoiseStatistics(SharpnessList list, UInt32 counts[256], double* minimum, double* maximum,
                         double* binWidth, double* standardDeviation, double* mean, double* median, double* mode);
// The same into a NoiseStatistics record.
int myGetNoiseStatistics(SharpnessList list, NoiseStatistics* stats);
