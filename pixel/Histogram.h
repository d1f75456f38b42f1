// Brightness histograms of live frames and the percentile stretch built from
// them.
//
// A HistoGram256 is 256 unsigned 32-bit bins: an 8-bit sample counts in the
// bin of its value, a 16-bit sample in bin (value >> 8). A mosaic shown in
// colour gets three tables (red, green, blue); after counting, green bins are
// doubled and red and blue bins quadrupled (wrapping), so each colour's table
// sums to the frame's pixel count. Every counting routine clears its tables.
// Frames are packed: row stride = width samples.
//
// Threads: the pipeline counts on the delivery thread while the control
// window plots the same tables on the main thread. The pipeline clears the
// record's ready flag (myStoreHistogramReady 0), counts, and sets it to 1;
// the plot reads the flag once (myLoadHistogramReady) and then the tables.
// The counting routines write the finished bins with relaxed atomic stores
// and the plot reads them with myLoadHistogramBin, so a plot that overlaps
// the next count may mix two frames but never reads a torn bin.
#pragma once
#include "app/CameraWindowData.h"
#include "pixel/PixelOps.h"
#include "platform/coreservices/MacTypes.h"

constexpr UInt32 kHistoGram256Bins = 256;

// Mono: every sample of the width x height frame.
void myGetHistogramDataMono8Bit(const UInt8* frame, UInt32 width, UInt32 height,
                                UInt32* histogram);
void myGetHistogramDataMono16Bit(const UInt16* frame, UInt32 width, UInt32 height,
                                 UInt32* histogram);

// Mosaic: colours by BayerFormat (1 RGGB, 2 GBRG, 3 GRBG, 4 and any other
// value BGGR, by the colours of rows 0 and 1). 8-bit rows count whole groups
// of 4 samples (width & ~3 a row), 16-bit rows whole pairs (width & ~1).
void myGetBayerHistogramData8Bit(const UInt8* mosaic, UInt32 width, UInt32 height,
                                 UInt32 bayerFormat, UInt32* red, UInt32* green, UInt32* blue);
void myGetBayerHistogramData16Bit(const UInt16* mosaic, UInt32 width, UInt32 height,
                                  UInt32 bayerFormat, UInt32* red, UInt32* green, UInt32* blue);

// Stretch tables from the 1 % and 99.5 % points of the brightness-weighted
// distribution (weights i + 1). Mode 1 combines three tables (a red, b green,
// c blue): high = the largest high point, low = max(min(low a, low b), low c);
// any other mode uses table a alone. Result 1 when the table was written, 0
// when it was left unchanged (high point not above the low one).
SInt32 myCalculateHistoGram95PercentileLUT8Bit(LUT8Bit* lut, UInt32 mode, const UInt32* a,
                                                const UInt32* b, const UInt32* c);
SInt32 myCalculateHistoGram95PercentileLUT16Bit(LUT16Bit* lut, UInt32 mode, const UInt32* a,
                                                 const UInt32* b, const UInt32* c);

// The low and high points of one table (exposed for the stretch display).
void myHistogramPercentilePoints(const UInt32* histogram, UInt32* low, UInt32* high);

// The record's histogram-ready flag: release store, acquire load.
void myStoreHistogramReady(MyCameraWindowDataStruct* record, UInt32 value);
UInt32 myLoadHistogramReady(MyCameraWindowDataStruct* record);

// One bin of a table that the delivery thread may be rewriting.
UInt32 myLoadHistogramBin(const UInt32* histogram, UInt32 bin);
