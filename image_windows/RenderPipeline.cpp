#include "image_windows/RenderPipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pixel/ColourAdjust.h"
#include "pixel/Filters16.h"
#include "pixel/LumaRGB48.h"
#include "pixel/RowBands.h"
#include "pixel/Sharpen16.h"
#include "utilities/LowLevel.h"

namespace {

bool nearOne(double x) { return std::fabs(x - 1.0) < 0.001; }
bool nearZero(double x) { return std::fabs(x) < 0.001; }

// Integer part clamped to 0 .. 65535 (NaN gives 0): the saturating conversion
// followed by myTruncateU16.
inline UInt16 clampSample(float x) {
  x = std::min(x, 65535.0f);
  return x > 0.0f ? UInt16(SInt32(x)) : UInt16(0);
}
inline UInt16 clampSample(double x) {
  x = std::min(x, 65535.0);
  return x > 0.0 ? UInt16(SInt32(x)) : UInt16(0);
}

// Bands of rows over a packed image: fn(first pixel, pixel count).
template <class Fn>
void overPixels(UInt32 width, UInt32 height, UInt64 workPerPixel, Fn fn) {
  myRunRowBands(height, UInt64(width) * workPerPixel, [&](UInt32 begin, UInt32 end) {
    fn(size_t(begin) * width, size_t(end - begin) * width);
  });
}

// One channel of mWorkRGB48 taken from the source shifted by (dx, dy): dx > 0
// moves it right, dy > 0 up. Counted in signed arithmetic, so a shift of the
// whole width or height or more copies nothing.
void shiftChannel(const MyImageWindowDataStruct* r, int channel, SInt32 dx, SInt32 dy) {
  if (dx == 0 && dy == 0) return;
  const SInt64 width = r->mWidth, height = r->mHeight;
  const SInt64 adx = dx < 0 ? -SInt64(dx) : SInt64(dx);
  const SInt64 ady = dy < 0 ? -SInt64(dy) : SInt64(dy);
  if (adx >= width || ady >= height) return;
  const SInt64 rows = height - ady, cols = width - adx;
  const SInt64 dstRow0 = dy > 0 ? 0 : ady, srcRow0 = dy > 0 ? ady : 0;
  const SInt64 dstCol0 = dx > 0 ? adx : 0, srcCol0 = dx > 0 ? 0 : adx;
  const UInt16* src = r->mSourceRGB48;
  UInt16* dst = r->mWorkRGB48;
  myRunRowBands(UInt32(rows), UInt64(cols) * 2, [&](UInt32 begin, UInt32 end) {
    for (SInt64 i = begin; i < SInt64(end); ++i) {
      const UInt16* __restrict s = src + ((srcRow0 + i) * width + srcCol0) * 3 + channel;
      UInt16* __restrict d = dst + ((dstRow0 + i) * width + dstCol0) * 3 + channel;
      for (SInt64 j = 0; j < cols; ++j) d[3 * j] = s[3 * j];
    }
  });
}

void applyOffsets(MyImageWindowDataStruct* r) {
  myMemCpy(r->mWorkRGB48, r->mSourceRGB48, r->mRowBytes * r->mHeight);
  shiftChannel(r, 0, r->mRedHorzOffset, r->mRedVertOffset);
  shiftChannel(r, 1, r->mGreenHorzOffset, r->mGreenVertOffset);
  shiftChannel(r, 2, r->mBlueHorzOffset, r->mBlueVertOffset);
  if (r->mGreenOffsetsLocked) {
    myRGB48ToLRGB64AndLuma16(r->mWorkRGB48, r->mSourceLRGB64, r->mSourceLuma16, r->mWidth,
                             r->mHeight);
    myBuildBlurCascade(r);
    // The detail planes follow the new luminance at once: otherwise the
    // sharpened picture keeps the unshifted image until a slider moves.
    myBuildDetailLevels(r);
  } else {
    myLuma16AndRGB48ToMergedLRGB64(r->mSourceLuma16, r->mWorkRGB48, r->mSourceLRGB64, r->mWidth,
                                   r->mHeight);
  }
  r->mOffsetsActive = 0;
}

// The filter of a noise level, its passes and its first threshold. Levels 2, 6
// and 10 head their bands and run one pass, as 3, 7 and 11 do.
typedef void (*NoiseFilter)(const UInt16*, UInt16*, UInt32, UInt32, UInt32, UInt32);
struct NoiseChoice {
  NoiseFilter filter;
  UInt32 passes;
  UInt32 threshold;
};
NoiseChoice noiseChoice(UInt32 level) {
  if (level >= 2 && level <= 5) return {my3by3MedianLuma16, level <= 3 ? 1 : level - 2, 1275};
  if (level >= 6 && level <= 9) return {my3by3MinMaxAverageLuma16, level <= 7 ? 1 : level - 6, 2550};
  if (level >= 10 && level <= 13) return {my3by3AverageLuma16, level <= 11 ? 1 : level - 10, 2550};
  return {nullptr, 0, 0};
}

void reduceNoise(MyImageWindowDataStruct* r, UInt16* p) {
  const NoiseChoice choice = noiseChoice(r->mNoiseReduction);
  UInt16* scratch = r->mRenderRGB48;
  const UInt32 bytes = r->mWidth * r->mHeight * 2;
  UInt32 threshold = choice.threshold;
  for (UInt32 pass = 0; pass < choice.passes; ++pass, threshold *= 2) {
    choice.filter(p, scratch, r->mWidth, r->mHeight, r->mWidth * 2, threshold);
    myMemCpy(p, scratch, bytes);
  }
}

// The integer part of a finite value, clamped to 0 .. 65535, in a form the
// vectoriser takes.
inline UInt16 clampFinite(float x) { return UInt16(SInt32(std::min(std::max(x, 0.0f), 65535.0f))); }

// Each colour scaled by processed / stored luminance in single precision;
// black pixels, black results and unchanged luminance keep their colour.
void recombine(const MyImageWindowDataStruct* r, const UInt16* p) {
  const UInt16* lrgb = r->mSourceLRGB64;
  UInt16* out = r->mRenderRGB48;
  overPixels(r->mWidth, r->mHeight, 8, [&](size_t first, size_t count) {
    const UInt16* __restrict q = p + first;
    const UInt16* __restrict s = lrgb + first * 4;
    UInt16* __restrict o = out + first * 3;
    for (size_t i = 0; i < count; ++i) {
      const SInt32 l = s[4 * i], n = q[i];
      // max(L, 1) is L wherever the ratio is used.
      const float ratio = float(n) / std::max(float(l), 1.0f);
      const bool keep = (l == 0) | (n == 0) | (n == l);
      const float f = keep ? 1.0f : ratio;
      o[3 * i] = clampFinite(f * float(SInt32(s[4 * i + 1])));
      o[3 * i + 1] = clampFinite(f * float(SInt32(s[4 * i + 2])));
      o[3 * i + 2] = clampFinite(f * float(SInt32(s[4 * i + 3])));
    }
  });
}

// One channel's black and white point: below lo 0, above hi 65535, between
// the integer part of k (v - lo).
inline UInt16 expandSample(SInt32 v, SInt32 lo, SInt32 hi, float k) {
  const UInt16 mid = clampFinite(k * float(v - lo));
  return v < lo ? UInt16(0) : v > hi ? UInt16(65535) : mid;
}

// k = 65535 / (hi - lo) rounded to single precision, 1 when the two are equal.
// Limits above 65535 act as 65536: no sample reaches them either way.
void expandLevels(MyImageWindowDataStruct* r) {
  const UInt32 lo[3] = {r->mMinRed, r->mMinGreen, r->mMinBlue};
  const UInt32 hi[3] = {r->mMaxRed, r->mMaxGreen, r->mMaxBlue};
  float k[3];
  SInt32 l[3], h[3];
  for (int c = 0; c < 3; ++c) {
    k[c] = hi[c] == lo[c] ? 1.0f : float(65535.0 / (double(hi[c]) - double(lo[c])));
    l[c] = SInt32(std::min<UInt32>(lo[c], 65536));
    h[c] = SInt32(std::min<UInt32>(hi[c], 65536));
  }
  overPixels(r->mWidth, r->mHeight, 9, [&](size_t first, size_t count) {
    UInt16* __restrict px = r->mRenderRGB48 + first * 3;
    for (size_t i = 0; i < count; ++i) {
      px[3 * i] = expandSample(px[3 * i], l[0], h[0], k[0]);
      px[3 * i + 1] = expandSample(px[3 * i + 1], l[1], h[1], k[1]);
      px[3 * i + 2] = expandSample(px[3 * i + 2], l[2], h[2], k[2]);
    }
  });
}

void balance(MyImageWindowDataStruct* r) {
  const float f[3] = {r->mRedBalance, r->mGreenBalance, r->mBlueBalance};
  overPixels(r->mWidth, r->mHeight, 6, [&](size_t first, size_t count) {
    UInt16* __restrict px = r->mRenderRGB48 + first * 3;
    const size_t n = count * 3;
    for (size_t i = 0; i < n; i += 3) {
      // The integer part, then 65535 for anything above 65534.
      px[i] = clampSample(float(SInt32(px[i])) * f[0]);
      px[i + 1] = clampSample(float(SInt32(px[i + 1])) * f[1]);
      px[i + 2] = clampSample(float(SInt32(px[i + 2])) * f[2]);
    }
  });
}

void saturate(MyImageWindowDataStruct* r) {
  const double s = std::clamp(double(r->mSaturation), -2.0, 7.0);
  const double a = s + 1.0, b = -s / 2.0;
  overPixels(r->mWidth, r->mHeight, 12, [&](size_t first, size_t count) {
    UInt16* __restrict px = r->mRenderRGB48 + first * 3;
    for (size_t i = 0; i < count; ++i) {
      const double red = px[3 * i], green = px[3 * i + 1], blue = px[3 * i + 2];
      px[3 * i] = clampSample(a * red + b * (green + blue));
      px[3 * i + 1] = clampSample(a * green + b * (red + blue));
      px[3 * i + 2] = clampSample(a * blue + b * (red + green));
    }
  });
}

}  // namespace

void myBuildBlurCascade(MyImageWindowDataStruct* r) {
  if (r == nullptr || r->mSourceLuma16 == nullptr) return;
  for (UInt16* plane : r->mBlurLevel)
    if (plane == nullptr) return;
  typedef void (*Blur)(const UInt16*, UInt16*, UInt32, UInt32, UInt32);
  static const Blur kBlur[kImageWindowLevelCount] = {
      myLocal2by2GaussianBlurLuma16, myLocal3by3GaussianBlurLuma16, myLocal4by4GaussianBlurLuma16,
      myLocal5by5GaussianBlurLuma16, myLocal6by6GaussianBlurLuma16, myLocal7by7GaussianBlurLuma16,
      myLocal9by9GaussianBlurLuma16};
  const UInt16* from = r->mSourceLuma16;
  for (int k = 0; k < kImageWindowLevelCount; ++k) {
    kBlur[k](from, r->mBlurLevel[k], r->mWidth, r->mHeight, r->mWidth * 2);
    from = r->mBlurLevel[k];
  }
}

void myBuildDetailLevels(MyImageWindowDataStruct* r) {
  if (r == nullptr) return;
  for (UInt32 level = 1; level <= kImageWindowLevelCount; ++level)
    mySharpenFilterThresholdSingle16Bit(r, level);
}

void myRenderSettingsToRGB48(MyImageWindowDataStruct* r) {
  if (r == nullptr || r->mSourceRGB48 == nullptr || r->mWorkRGB48 == nullptr ||
      r->mSourceLRGB64 == nullptr || r->mSourceLuma16 == nullptr || r->mRenderRGB48 == nullptr)
    return;
  const UInt32 width = r->mWidth, height = r->mHeight;
  const bool vector = r->mAltivecFlag != 0;

  if (r->mOffsetsActive) applyOffsets(r);

  // From here the work block holds the processed luminance P.
  UInt16* p = r->mWorkRGB48;
  const bool sharpen = r->mSharpenActive == 1 || r->mMinSharpenThreshold != 0 ||
                       (r->mMaxSharpenThreshold >= 1 && r->mMaxSharpenThreshold <= 65534);
  bool summed = false;
  if (sharpen) {
    summed = true;
    for (const UInt16* plane : r->mDetailLevel) summed = summed && plane != nullptr;
    if (summed) myAltivecSharpenFilterThresholdMulti16Bit(r);
  }
  if (!summed) myMemCpy(p, r->mSourceLuma16, width * height * 2);

  const bool stretch = !nearOne(r->mCurve);
  if (stretch && r->mLRGBMode == 1) {
    if (vector)
      myAltivecNonLinearStretch16BitBuffer(p, width, height, 2.0 * r->mCurve, r->mCurveCutoff,
                                           r->mPrefetchFlag);
    else
      myNonLinearStretch16BitBuffer(p, width, height, 2.0 * r->mCurve, r->mCurveCutoff);
  }

  reduceNoise(r, p);

  if (vector)
    myAltivecLRGB64ToRGB48Adjusted(p, r->mSourceLRGB64, r->mRenderRGB48, width, height);
  else
    recombine(r, p);

  if (stretch && r->mLRGBMode == 0) {
    if (vector)
      myAltivecNonLinearStretch16BitBuffer(r->mRenderRGB48, width * 3, height, 2.0 * r->mCurve,
                                           r->mCurveCutoff, r->mPrefetchFlag);
    else
      myNonLinearStretch16BitBuffer(r->mRenderRGB48, width * 3, height, 2.0 * r->mCurve,
                                    r->mCurveCutoff);
  }

  const bool fullRanges = SInt64(r->mMaxRed) - r->mMinRed == 65535 &&
                          SInt64(r->mMaxGreen) - r->mMinGreen == 65535 &&
                          SInt64(r->mMaxBlue) - r->mMinBlue == 65535;
  if (!fullRanges) {
    if (vector)
      myAltivecExpandRGB48(r->mRenderRGB48, width, height, r->mMinRed, r->mMaxRed, r->mMinGreen,
                           r->mMaxGreen, r->mMinBlue, r->mMaxBlue, r->mPrefetchFlag);
    else
      expandLevels(r);
  }

  if (!(nearOne(r->mRedBalance) && nearOne(r->mGreenBalance) && nearOne(r->mBlueBalance))) {
    if (vector)
      myAltivecChangeColorBalanceRGB48G(r->mRenderRGB48, width, height, r->mRedBalance,
                                        r->mGreenBalance, r->mBlueBalance, r->mPrefetchFlag);
    else
      balance(r);
  }

  if (!nearZero(r->mSaturation) && !std::isnan(r->mSaturation)) {
    if (vector)
      myAltivecChangeSaturationRGB48(r->mRenderRGB48, width, height, double(r->mSaturation),
                                     r->mPrefetchFlag);
    else
      saturate(r);
  }
}
