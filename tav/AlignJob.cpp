#include "tav/AlignJob.h"

#include <cstring>

#include "pixel/BlockMatch.h"
#include "pixel/Centroids.h"
#include "pixel/FrameNoise.h"
#include "pixel/HotPixels.h"
#include "pixel/MonoConversions.h"
#include "pixel/StarProfile.h"
#include "tav/AlignThreadObject.h"
#include "tav/BayerDecode.h"
#include "tav/BlockSearch.h"
#include "tav/FrameFilters.h"

namespace {

// The two frame layouts: ARGB32 (alpha, then R, G, B bytes) and RGB48.
struct ARGB32 {
  using T = UInt8;
  static constexpr UInt32 kStep = 4, kFirst = 1, kBytes = 4, kDepth = 1;
};
struct RGB48 {
  using T = UInt16;
  static constexpr UInt32 kStep = 3, kFirst = 0, kBytes = 6, kDepth = 2;
};

template <class F>
void setAlpha(typename F::T* px) {
  if constexpr (F::kFirst == 1) px[0] = 0xFF;
}

template <class F>
void enlarge(const typename F::T* src, UInt32 srcRowBytes, typename F::T* dst, UInt32 dstRowBytes,
             UInt32 W, UInt32 H, UInt32 scale) {
  using T = typename F::T;
  if (W == 0 || H == 0) return;
  auto srcRow = [&](UInt32 y) {
    return reinterpret_cast<const T*>(reinterpret_cast<const UInt8*>(src) + size_t(y) * srcRowBytes);
  };
  auto dstRow = [&](UInt64 y) {
    return reinterpret_cast<T*>(reinterpret_cast<UInt8*>(dst) + size_t(y) * dstRowBytes);
  };
  if (scale <= 1) {
    for (UInt32 y = 0; y < H; ++y) std::memcpy(dstRow(y), srcRow(y), size_t(W) * F::kBytes);
    return;
  }
  if (scale == 2) {
    for (UInt32 y = 0; y < H; ++y) {
      const T* a = srcRow(y);
      const T* b = srcRow(y + 1 < H ? y + 1 : y);
      T* o0 = dstRow(2 * UInt64(y));
      T* o1 = dstRow(2 * UInt64(y) + 1);
      for (UInt32 x = 0; x < W; ++x) {
        const size_t i = size_t(x) * F::kStep, r = size_t(x + 1 < W ? x + 1 : x) * F::kStep;
        T* p00 = o0 + 2 * i;
        T* p01 = p00 + F::kStep;
        T* p10 = o1 + 2 * i;
        T* p11 = p10 + F::kStep;
        setAlpha<F>(p00);
        setAlpha<F>(p01);
        setAlpha<F>(p10);
        setAlpha<F>(p11);
        for (UInt32 c = F::kFirst; c < F::kStep; ++c) {
          const UInt32 s = a[i + c], sr = a[r + c], sb = b[i + c], sbr = b[r + c];
          p00[c] = T(s);
          p01[c] = T((s + sr) >> 1);
          p10[c] = T((s + sb) >> 1);
          p11[c] = T((s + sr + sb + sbr) >> 2);
        }
      }
    }
    return;
  }
  // Weights of a and b and the shift, for each output between two samples.
  static constexpr UInt32 k3[3][2] = {{8, 0}, {5, 3}, {3, 5}};
  static constexpr UInt32 k4[4][2] = {{4, 0}, {3, 1}, {2, 2}, {1, 3}};
  const UInt32 n = scale == 3 ? 3 : 4, shift = scale == 3 ? 3 : 2;
  const UInt32(*k)[2] = scale == 3 ? k3 : k4;
  for (UInt32 y = 0; y < H; ++y) {
    const T* a = srcRow(y);
    const T* b = srcRow(y + 1 < H ? y + 1 : y);
    for (UInt32 j = 0; j < n; ++j) {
      T* o = dstRow(UInt64(y) * n + j);
      const UInt32 va = k[j][0], vb = k[j][1];
      for (UInt32 x = 0; x < W; ++x) {
        const size_t i = size_t(x) * F::kStep, r = size_t(x + 1 < W ? x + 1 : x) * F::kStep;
        UInt32 left[4], right[4];
        for (UInt32 c = F::kFirst; c < F::kStep; ++c) {
          left[c] = (va * a[i + c] + vb * b[i + c]) >> shift;
          right[c] = (va * a[r + c] + vb * b[r + c]) >> shift;
        }
        T* out = o + size_t(x) * n * F::kStep;
        for (UInt32 m = 0; m < n; ++m, out += F::kStep) {
          setAlpha<F>(out);
          for (UInt32 c = F::kFirst; c < F::kStep; ++c)
            out[c] = T((k[m][0] * left[c] + k[m][1] * right[c]) >> shift);
        }
      }
    }
  }
}

UInt32 readBigEndian32(const UInt8* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

// A block search around (x, y): the ordinary compare, then the whole-window
// form when that one gives up with -1. True with the block's centre on a
// match.
bool findBlock(AlignThreadObject* p, const UInt8* block, float x, float y, float* bx, float* by) {
  const SInt32 refMean = SInt32(p->mRefMedian), frameMean = SInt32(p->mFrameMedian);
  const float tolerance = float(p->mMatchTolerance);
  SInt32 r;
  if (p->mAltivec == 1)
    r = myAltivecCompare32BlockPixels(block, p->mMonoFrame, p->mScaledWidth, p->mScaledHeight,
                                      p->mMonoRowBytes, p->mBlockSize, refMean, frameMean,
                                      tolerance, x, y, p->mPrefetch, bx, by);
  else
    r = myCompare32BlockPixels(block, p->mMonoFrame, p->mScaledWidth, p->mScaledHeight,
                               p->mMonoRowBytes, p->mBlockSize, refMean, frameMean, tolerance, x,
                               y, bx, by);
  if (r == -1) {
    if (p->mAltivec == 1)
      r = myAltivecCompare32BlockPixelsALL(block, p->mMonoFrame, p->mScaledWidth,
                                           p->mScaledHeight, p->mMonoRowBytes, p->mBlockSize,
                                           refMean, frameMean, p->mMatchTolerance, bx, by,
                                           p->mPrefetch);
    else
      r = myCompare32BlockPixelsALL(block, p->mMonoFrame, p->mScaledWidth, p->mScaledHeight,
                                    p->mMonoRowBytes, p->mBlockSize, refMean, frameMean,
                                    p->mMatchTolerance, bx, by);
  }
  return r != -1 && r != -2;
}

template <class F>
void runJob(AlignThreadObject* p) {
  using T = typename F::T;
  // A record without its frame buffers or with an unknown scale has nothing
  // to work on: no result.
  if (p->mWorkFrame == nullptr || p->mColorFrame == nullptr || p->mMonoFrame == nullptr ||
      p->mWidth == 0 || p->mHeight == 0 || p->mScale < 1 || p->mScale > 4)
    return;
  const UInt32 W = p->mWidth, H = p->mHeight, SW = p->mScaledWidth, SH = p->mScaledHeight;
  const UInt32 monoRB = p->mMonoRowBytes;
  T* work = reinterpret_cast<T*>(p->mWorkFrame);
  T* colour = reinterpret_cast<T*>(p->mColorFrame);

  // 1. Demosaic; the pattern code comes from the first raw frame's trailer.
  if (p->mRawBayer == 1) {
    if (p->mBayerCode == 0)
      p->mBayerCode = readBigEndian32(p->mColorFrame + size_t(W) * H * F::kDepth);
    Bayer_DecodetoRGB_8or16Buffer(p->mColorFrame, p->mWorkFrame, p->mBayerCode, F::kDepth,
                                  p->mQuality, p->mRowBytes, W, H);
  }
  // 2 - 4. Levels, hot pixels, background cut on the unscaled frame.
  const float strength = float(SInt64(p->mGradLevel) - 1) * 0.05f;
  if constexpr (F::kDepth == 1) {
    if (p->mGradLevel != 0) myLevelARGB32(work, work, W, H, p->mRowBytes, strength);
    if (p->mHotPixel != 0) myDoARGB32HotPixel8Bit(work, W, H, p->mRowBytes, p->mHotPixel);
    if (p->mBcgSubtract == 1) myIterativelyChangeAverageCutPixelARGB32(work, W, H, p->mRowBytes, 20);
  } else {
    if (p->mGradLevel != 0) myLevelRGB48(work, work, W, H, p->mRowBytes, strength);
    if (p->mHotPixel != 0) myDoRGB48HotPixel16Bit(work, W, H, p->mRowBytes, p->mHotPixel * 256);
    if (p->mBcgSubtract == 1) myIterativelyChangeAverageCutPixelRGB48(work, W, H, p->mRowBytes, 20);
  }
  // 5. Enlargement into the colour frame.
  enlarge<F>(work, p->mRowBytes, colour, p->mScaledRowBytes, W, H, p->mScale);

  // 6. The Mono8 alignment image.
  auto toMono = [&](UInt8* out) {
    if constexpr (F::kDepth == 1)
      myARGBuffertoMonoRGB8Ptr(colour, out, SW, SH, p->mScaledRowBytes, monoRB, p->mColorChannel);
    else
      myRGB48PtrToMonoRGB8(colour, out, SW, SH, monoRB, p->mColorChannel);
    if (p->mAutoExpAlign == 1)
      myExpandMono8InPlace(out, SW, SH, monoRB, SInt32(p->mExpandLow), SInt32(p->mExpandHigh));
  };
  if (p->mGausBlur == 0 && p->mSharpMatch == 0) {
    toMono(p->mMonoFrame);
  } else {
    toMono(p->mWorkFrame);
    my3by3GaussianBlurMono8(p->mWorkFrame, p->mMonoFrame, SW, SH, monoRB);
    if (p->mSharpMatch == 1) {
      my3by3GaussianBlurMono8(p->mMonoFrame, p->mWorkFrame, SW, SH, monoRB);
      my3x3SharpenFilterThresholdMono8(p->mMonoFrame, p->mWorkFrame, p->mWorkFrame, SW, SH, monoRB,
                                       8.0, 0);
      my3by3GaussianBlurMono8(p->mWorkFrame, p->mMonoFrame, SW, SH, monoRB);
    }
  }

  // 7. Statistics of the alignment image.
  UInt32 histogram[256];
  myGetFrequencyMono8(p->mMonoFrame, histogram, SW, SH, monoRB);
  auto level = [&](double f) { return myCalcMono8MedianVal(histogram, f); };
  p->mFrameMedian = level(0.5);
  UInt32 binLevel = 0;
  if (p->mBin2x2 == 1) binLevel = level(0.005) * (F::kDepth == 1 ? 1u : 255u);

  // 8. The frame's centroid.
  float cx = -1.0f, cy = -1.0f;
  if (p->mMethod == 1)
    myCalRectImageDeltaCentroid(p->mMonoFrame, 0, 0, SW, SH, monoRB,
                                myAlignThresholdT1(level(0.2), level(0.8)), p->mScale, &cx, &cy);
  else
    myCalcImageSubCentroid(p->mMonoFrame, SW, SH, monoRB,
                           UInt8(myAlignThresholdT2(level(0.9999), level(0.95), level(0.8))),
                           p->mAltivec, p->mPrefetch, &cx, &cy);

  if (p->mIsReference == 1) {
    // 9. The reference: its position and its blocks.
    p->mOffsetX = p->mOffsetY = 0.0f;
    if (p->mAutoAdjBrightness != 0) p->mRefMedian = p->mFrameMedian;
    else p->mFrameMedian = p->mRefMedian = 0;
    p->mRefX = cx;
    p->mRefY = cy;
    if (p->mRefX <= -1.0f) return;
    if (p->mHorzBlockValid != 0 || p->mVertBlockValid != 0) {
      if (p->mPixelAlign == 5) {
        p->mHorzBlockDX = SInt32(float(p->mManualX) - p->mRefX);
        p->mHorzBlockDY = SInt32(float(p->mManualY) - p->mRefY);
      } else {
        findMaxHorzVertMono8Gradient(p->mMonoFrame, SW, SH, monoRB, p->mRefX, p->mRefY,
                                     p->mMethod == 0 ? 1 : 0, SInt32(p->mGradientStep),
                                     &p->mHorzBlockDX, &p->mHorzBlockDY, &p->mVertBlockDX,
                                     &p->mVertBlockDY);
      }
      const double minContrast = p->mMatchTolerance + 1.0;
      auto cut = [&](UInt8* block, SInt32 dx, SInt32 dy) -> UInt8 {
        if (block == nullptr) return 0;
        const float x = p->mRefX + float(dx), y = p->mRefY + float(dy);
        p->mOffsetX = float(SInt32(x));
        p->mOffsetY = float(SInt32(y));
        return myExtract32BlockPixels(p->mMonoFrame, block, SW, SH, monoRB, p->mBlockSize,
                                      minContrast, x, y) == 0
                   ? 1
                   : 0;
      };
      if (p->mHorzBlockValid != 0)
        p->mHorzBlockValid = cut(p->temp32x32Ptr, p->mHorzBlockDX, p->mHorzBlockDY);
      if (p->mVertBlockValid != 0)
        p->mVertBlockValid = cut(p->tempTwo32x32Ptr, p->mVertBlockDX, p->mVertBlockDY);
    }
  } else {
    // 10. An ordinary frame against the reference.
    if (p->mAutoAdjBrightness == 0) p->mFrameMedian = p->mRefMedian = 0;
    if (p->mRefX <= -1.0f || cx <= -1.0f) return;
    const bool horz = p->mHorzBlockValid != 0 && p->temp32x32Ptr != nullptr;
    const bool vert = p->mVertBlockValid != 0 && p->tempTwo32x32Ptr != nullptr;
    if (!horz && !vert) {
      p->mOffsetX = p->mRefX - cx;
      p->mOffsetY = p->mRefY - cy;
    } else {
      // A block's place in the reference is the truncated centre it was cut
      // at (the position the reference job reports), not the fractional
      // reference position plus its offset: that would bias every offset by
      // the reference's fraction of a pixel.
      auto cutAt = [](SInt32 d, float ref) { return float(SInt32(float(d) + ref)); };
      float bx, by;
      bool horzMatch = false, vertMatch = false;
      float hx = 0, hy = 0, vx = 0, vy = 0;
      if (horz && findBlock(p, p->temp32x32Ptr, cx + float(p->mHorzBlockDX),
                            cy + float(p->mHorzBlockDY), &bx, &by)) {
        horzMatch = true;
        hx = cutAt(p->mHorzBlockDX, p->mRefX) - bx;
        hy = cutAt(p->mHorzBlockDY, p->mRefY) - by;
      }
      if (vert && findBlock(p, p->tempTwo32x32Ptr, cx + float(p->mVertBlockDX),
                            cy + float(p->mVertBlockDY), &bx, &by)) {
        vertMatch = true;
        vx = cutAt(p->mVertBlockDX, p->mRefX) - bx;
        vy = cutAt(p->mVertBlockDY, p->mRefY) - by;
      }
      if (!horzMatch && !vertMatch) return;
      if (horzMatch && vertMatch) {
        if (p->mPixelAlign == 3) {
          p->mOffsetX = hx;
          p->mOffsetY = vy;
        } else {
          p->mOffsetX = (hx + vx) * 0.5f;
          p->mOffsetY = (hy + vy) * 0.5f;
        }
      } else {
        p->mOffsetX = horzMatch ? hx : vx;
        p->mOffsetY = horzMatch ? hy : vy;
      }
    }
  }

  // 11. Colour finishing for the sum.
  const UInt32 scaledRB = p->mScaledRowBytes;
  T* temp = reinterpret_cast<T*>(p->mTempFrame);
  if (p->mSharpenOn == 1 && temp != nullptr) {
    if constexpr (F::kDepth == 1) {
      if (p->mRemoveNoise == 1) {
        if (p->mScale > 1) my5by5GaussianBlurARGB32(colour, temp, SW, SH, scaledRB);
        else my3by3GaussianBlurARGB32(colour, temp, SW, SH, scaledRB);
        std::memcpy(colour, temp, size_t(scaledRB) * SH);
      }
      my5by5GaussianBlurARGB32(colour, temp, SW, SH, scaledRB);
      mySharpenFilterThresholdARGB32(colour, temp, colour, SW, SH, scaledRB, p->mSharpen,
                                     p->mSharpenThreshold, p->mRemoveNoise);
    } else {
      if (p->mRemoveNoise == 1) {
        if (p->mScale > 1) my5by5GaussianBlurRGB48(colour, temp, SW, SH, scaledRB);
        else my3by3GaussianBlurRGB48(colour, temp, SW, SH, scaledRB);
        std::memcpy(colour, temp, size_t(scaledRB) * SH);
      }
      my5by5GaussianBlurRGB48(colour, temp, SW, SH, scaledRB);
      mySharpenFilterThresholdRGB48(colour, temp, colour, SW, SH, scaledRB, p->mSharpen,
                                    p->mSharpenThreshold, p->mRemoveNoise);
    }
  }
  if (p->mBin2x2 == 1) {
    if constexpr (F::kDepth == 1) myBin2x2ARGB32(colour, SW, SH, scaledRB, binLevel);
    else myBin2x2RGB48(colour, SW, SH, scaledRB, binLevel);
  }
  p->mNoResult = 0;
}

}  // namespace

void myEnlargeARGB32(const UInt8* src, UInt32 srcRowBytes, UInt8* dst, UInt32 dstRowBytes,
                     UInt32 width, UInt32 height, UInt32 scale) {
  enlarge<ARGB32>(src, srcRowBytes, dst, dstRowBytes, width, height, scale);
}

void myEnlargeRGB48(const UInt16* src, UInt32 srcRowBytes, UInt16* dst, UInt32 dstRowBytes,
                    UInt32 width, UInt32 height, UInt32 scale) {
  enlarge<RGB48>(src, srcRowBytes, dst, dstRowBytes, width, height, scale);
}

UInt32 myAlignThresholdT1(UInt32 level20, UInt32 level80) {
  const SInt32 t = SInt32(float(SInt64(level80) - SInt64(level20)) * 0.05f);
  return t < 10 ? 10u : (t > 200 ? 200u : UInt32(t));
}

UInt32 myAlignThresholdT2(UInt32 level9999, UInt32 level95, UInt32 level80) {
  const SInt64 gap = SInt64(level95) - SInt64(level80);
  const UInt64 t = (gap <= 29 && gap >= -29) ? (UInt64(level9999) + level80) / 2
                                             : (UInt64(level95) + level80) / 2;
  return t > 200 ? 200u : UInt32(t);
}

void myRunARGB32AlignJob(AlignThreadObject* p) { runJob<ARGB32>(p); }
void myRunRGB48AlignJob(AlignThreadObject* p) { runJob<RGB48>(p); }
