// A raw Bayer movie frame as the stacking engine posts it to an align worker
// (samples, then the 4-byte pattern code) through one whole worker job: any
// bytes, any small frame size and settings must run cleanly. The first four
// input bytes choose the frame: width, height, and two bytes of settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "tav/AlignJob.h"
#include "tav/AlignThreadObject.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const UInt32 w = 1 + data[0] % 48, h = 1 + data[1] % 48;
  const UInt8 a = data[2], b = data[3];
  data += 4;
  size -= 4;
  const bool argb32 = (a & 1) == 0;
  const UInt32 scale = 1 + ((a >> 1) & 1);

  auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
  const UInt32 bpp = argb32 ? 4 : 6;
  p->mWidth = w;
  p->mHeight = h;
  p->mRowBytes = bpp * w;
  p->mScale = scale;
  p->mScaledWidth = w * scale;
  p->mScaledHeight = h * scale;
  p->mScaledRowBytes = p->mRowBytes * scale;
  p->mMonoRowBytes = (p->mScaledWidth + 15) & ~15u;
  p->mRawBayer = 1;
  p->mQuality = (a >> 3) & 1;
  p->mBayerCode = 0;
  p->mColorChannel = 1 + ((a >> 4) & 3);
  p->mPixelAlign = b % 5;
  p->mMethod = (b >> 3) & 1;
  p->mGausBlur = (b >> 4) & 1;
  p->mSharpMatch = (b >> 5) & 1;
  p->mBin2x2 = (b >> 6) & 1;
  p->mSharpen = (b >> 7) ? 1.5f : 0.0f;
  p->mSharpenOn = b >> 7;
  p->mBcgSubtract = (a >> 6) & 1;
  p->mGradLevel = (a >> 7) * 3;
  p->mHotPixel = (a >> 7) * 20;
  p->mMatchTolerance = 4.0;
  p->mBlockSize = 1;
  p->mGradientStep = 8;
  p->mRefX = p->mRefY = -2.0f;
  const size_t colour = size_t(bpp) * p->mScaledWidth * p->mScaledHeight;
  const size_t mono = size_t(p->mMonoRowBytes) * p->mScaledHeight;
  const size_t bytes = (colour > mono ? colour : mono) + 64;
  for (UInt8** buf : {&p->mColorFrame, &p->mWorkFrame, &p->mTempFrame, &p->mMonoFrame})
    *buf = static_cast<UInt8*>(std::calloc(1, bytes));
  p->temp32x32Ptr = static_cast<UInt8*>(std::calloc(1, 1024 + 64));
  p->tempTwo32x32Ptr = static_cast<UInt8*>(std::calloc(1, 1024 + 64));
  p->mHorzBlockValid = p->mVertBlockValid = p->mPixelAlign != 0;

  // The posted frame: as many bytes as the samples and the trailer take.
  const size_t frameBytes = size_t(w) * h * (argb32 ? 1 : 2) + 4;
  std::memcpy(p->mColorFrame, data, size < frameBytes ? size : frameBytes);
  auto job = argb32 ? myRunARGB32AlignJob : myRunRGB48AlignJob;
  p->mIsReference = 1;
  p->mNoResult = 1;
  job(p);
  // The same frame again against that reference.
  p->mIsReference = 0;
  p->mNoResult = 1;
  std::memcpy(p->mColorFrame, data, size < frameBytes ? size : frameBytes);
  job(p);

  for (UInt8* buf : {p->temp32x32Ptr, p->tempTwo32x32Ptr, p->mColorFrame, p->mWorkFrame,
                     p->mTempFrame, p->mMonoFrame})
    std::free(buf);
  std::free(p);
  return 0;
}
