// The record of one image window: the image, its intermediate planes, the
// settings and the window references. One heap block per window; the batch
// worker fills a record of the same layout without windows.
//
// Fields keep the record's order. So far it holds what the luma sharpening
// reads and writes; the other groups (window references, colour settings,
// measurement state, ...) join in their places.
#pragma once
#include "platform/coreservices/MacTypes.h"

// Levels of the Gaussian cascade, and of the sharpening made against them.
enum { kImageWindowLevelCount = 7 };

struct MyImageWindowDataStruct {
  UInt32 mWidth;  // image size in pixels
  UInt32 mHeight;

  // Every plane below holds mWidth x mHeight samples in packed rows, starts on
  // a 16-byte boundary and has 16 spare bytes at its end.
  UInt16* mWorkRGB48;     // render work copy; from the sharpening sum on the block
                          // holds the processed Luma16 plane
  UInt16* mSourceLuma16;  // the luminance; input of blur level 1
  UInt16* mBlurLevel[kImageWindowLevelCount];    // 2x2, 3x3, 4x4, 5x5, 6x6, 7x7, 9x9
  UInt16* mDetailLevel[kImageWindowLevelCount];  // sharpening contribution per level

  Float32 mSharpAmount[kImageWindowLevelCount];  // SHARP1 .. SHARP7
  // MINSHRPTHRESH, MAXSHRPTHRESH, read as signed values: a minimum of 0 sets no
  // lower bound, a maximum of 0 or 65535 no upper bound.
  SInt32 mMinSharpenThreshold;
  SInt32 mMaxSharpenThreshold;
  UInt8 mSharpenSmooth;  // SHRPSMOO: 1 = the blurred value outside the band

  UInt8 mAltivecFlag;   // vector unit present (mySkyloomCheckForSIMD)
  UInt8 mPrefetchFlag;  // PowerPC 970: the vector forms skip their prefetches
};
