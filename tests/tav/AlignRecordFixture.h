// Align worker records built by hand for the job tests: the fields the job
// reads, frame buffers sized as the stacking engine sizes them (Mono8 rows
// included), and block buffers on request. No worker thread unless a test
// sets one up.
#pragma once
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tav/AlignThreadObject.h"

struct AlignSettings {
  bool argb32 = true;
  UInt32 width = 128, height = 96, scale = 1;
  UInt32 pixelAlign = 0, blockSize = 1, pixelTolerance = 9;
  UInt8 method = 0, gausBlur = 0, sharpMatch = 0, autoAdjBrightness = 0, bin2x2 = 0;
  UInt8 rawBayer = 0, quality = 0;
  UInt32 colorChannel = 1;
  float sharpen = 0.0f;
};

inline AlignThreadObject* newAlignRecord(const AlignSettings& s) {
  auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
  const UInt32 bpp = s.argb32 ? 4 : 6;
  p->mNeedsFrame = 1;
  p->mGradientStep = 8;
  p->mRefX = p->mRefY = -2.0f;
  p->mWidth = s.width;
  p->mHeight = s.height;
  p->mRowBytes = bpp * s.width;
  p->mScale = s.scale;
  p->mScaledWidth = s.width * s.scale;
  p->mScaledHeight = s.height * s.scale;
  p->mScaledRowBytes = p->mRowBytes * s.scale;
  p->mMonoRowBytes = (p->mScaledWidth + 15) & ~15u;
  p->mColorChannel = s.colorChannel;
  p->mPixelTolerance = s.pixelTolerance;
  p->mMatchTolerance = (double(s.pixelTolerance) - 1.0) * 0.5;
  p->mBlockSize = s.blockSize;
  p->mPixelAlign = s.pixelAlign;
  p->mMethod = s.method;
  p->mGausBlur = s.gausBlur;
  p->mSharpMatch = s.sharpMatch;
  p->mAutoAdjBrightness = s.autoAdjBrightness;
  p->mBin2x2 = s.bin2x2;
  p->mRawBayer = s.rawBayer;
  p->mQuality = s.quality;
  p->mBayerCode = s.rawBayer ? 0 : 0x58585858u;
  p->mSharpen = s.sharpen;
  p->mSharpenOn = s.sharpen > 0 ? 1 : 0;
  const size_t colour = size_t(bpp) * p->mScaledWidth * p->mScaledHeight;
  const size_t mono = size_t(p->mMonoRowBytes) * p->mScaledHeight;
  const size_t bytes = (colour > mono ? colour : mono) + 64;
  for (UInt8** b : {&p->mColorFrame, &p->mWorkFrame, &p->mTempFrame, &p->mMonoFrame})
    *b = static_cast<UInt8*>(std::calloc(1, bytes));
  const size_t blockBytes = size_t(s.blockSize) * s.blockSize * 1024 + 64;
  const UInt32 m = s.pixelAlign;
  if (m == 1 || m == 3 || m == 4 || m == 5)
    p->temp32x32Ptr = static_cast<UInt8*>(std::calloc(1, blockBytes));
  if (m == 2 || m == 3 || m == 4)
    p->tempTwo32x32Ptr = static_cast<UInt8*>(std::calloc(1, blockBytes));
  p->mHorzBlockValid = p->temp32x32Ptr != nullptr ? 1 : 0;
  p->mVertBlockValid = p->tempTwo32x32Ptr != nullptr ? 1 : 0;
  return p;
}

// Frees a record that has no worker.
inline void freeAlignRecord(AlignThreadObject* p) {
  for (UInt8* b : {p->temp32x32Ptr, p->tempTwo32x32Ptr, p->mColorFrame, p->mWorkFrame,
                   p->mTempFrame, p->mMonoFrame})
    std::free(b);
  std::free(p);
}

// Posts a decoded frame (width x height pixels in the record's layout,
// packed rows) into the work buffer.
template <class T>
void putFrame(AlignThreadObject* p, const std::vector<T>& frame) {
  std::memcpy(p->mWorkFrame, frame.data(), frame.size() * sizeof(T));
}
