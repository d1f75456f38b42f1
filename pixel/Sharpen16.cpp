#include "pixel/Sharpen16.h"

#include <cmath>

#include "pixel/FusedSum.h"
#include "pixel/RowBands.h"

const double kSharpenLevelShare[kImageWindowLevelCount] = {
    5.0 / 17.0, 4.0 / 17.0, 3.0 / 17.0, 2.0 / 17.0, 1.0 / 17.0, 1.0 / 17.0, 1.0 / 17.0};

namespace {

enum class Rule { kPlain, kThreshold, kSmoothed };

struct Band {
  SInt32 lo;
  SInt32 hi;
};

Band effectiveBand(SInt32 minimum, SInt32 maximum) {
  return {minimum == 0 ? -1 : minimum, (maximum == 0 || maximum == 65535) ? 65535 : maximum};
}

Rule chooseRule(const Band& band, UInt8 smooth) {
  if (band.lo <= 0 && band.hi > 65534) return Rule::kPlain;
  return smooth == 1 ? Rule::kSmoothed : Rule::kThreshold;
}

// Truncation toward zero, then the clamp to 0 .. 65535; NaN gives 0.
template <class Real>
inline UInt16 toSample(Real v) {
  if (v >= Real(65535)) return 65535;
  return v > Real(0) ? UInt16(SInt32(v)) : UInt16(0);
}

template <Rule R>
void sharpenDouble(const UInt16* __restrict luma, const UInt16* __restrict blurred,
                   UInt16* __restrict out, size_t count, double strength, double share,
                   Band band) {
  const SInt32 lo = band.lo;
  const SInt32 hi = band.hi;
  for (size_t i = 0; i < count; ++i) {
    const SInt32 s = luma[i];
    const SInt32 b = blurred[i];
    const SInt32 d = s - b;
    const SInt32 a = d < 0 ? -d : d;
    double m = double(s) + strength * double(d);
    if constexpr (R != Rule::kPlain) {
      const bool inside = (lo < a) & (a < hi);
      m = inside ? m : double(R == Rule::kSmoothed ? b : s);
    }
    out[i] = toSample(share * m);
  }
}

template <Rule R, bool ByDouble>
void sharpenSingle(const UInt16* __restrict luma, const UInt16* __restrict blurred,
                   UInt16* __restrict out, UInt32 count, float strength, float share, Band band) {
  const SInt32 lo = band.lo;
  const SInt32 hi = band.hi;
  for (UInt32 i = 0; i < count; ++i) {
    const SInt32 s = luma[i];
    const SInt32 b = blurred[i];
    const SInt32 d = s - b;
    const SInt32 a = d < 0 ? -d : d;
    float t;
    if constexpr (ByDouble)
      t = myFusedSumByDouble(strength, float(d), float(s));
    else
      t = std::fma(strength, float(d), float(s));
    if constexpr (R != Rule::kPlain) {
      const bool inside = (lo < a) & (a < hi);
      t = inside ? t : float(R == Rule::kSmoothed ? b : s);
    }
    out[i] = toSample(t * share);
  }
}

template <Rule R>
void sharpenSingle(const UInt16* luma, const UInt16* blurred, UInt16* out, UInt32 count,
                   float strength, float share, SInt32 minimum, SInt32 maximum) {
  if (luma == nullptr || blurred == nullptr || out == nullptr) return;
  const Band band = effectiveBand(minimum, maximum);
  // The addend is a sample: exponent 0 .. 15, or zero.
  if (myFusedSumFitsDouble(strength, 0, 15))
    sharpenSingle<R, true>(luma, blurred, out, count, strength, share, band);
  else
    sharpenSingle<R, false>(luma, blurred, out, count, strength, share, band);
}

}  // namespace

void mySharpenFilterThresholdSingle16Bit(MyImageWindowDataStruct* record, UInt32 level) {
  if (record == nullptr || level < 1 || level > kImageWindowLevelCount) return;
  const UInt16* luma = record->mSourceLuma16;
  const UInt16* blurred = record->mBlurLevel[level - 1];
  UInt16* out = record->mDetailLevel[level - 1];
  if (luma == nullptr || blurred == nullptr || out == nullptr) return;
  const UInt32 width = record->mWidth;
  const float strength = record->mSharpAmount[level - 1];
  const double share = kSharpenLevelShare[level - 1];
  const Band band = effectiveBand(record->mMinSharpenThreshold, record->mMaxSharpenThreshold);
  const Rule rule = chooseRule(band, record->mSharpenSmooth);
  const bool vectorForm = record->mAltivecFlag == 1;
  myRunRowBands(record->mHeight, UInt64(width) * 8, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* l = luma + first;
    const UInt16* b = blurred + first;
    UInt16* c = out + first;
    if (vectorForm) {
      // The vector forms count samples in 32 bits; a band never needs more.
      const UInt32 n = UInt32(count);
      const float f = float(share);
      switch (rule) {
        case Rule::kPlain:
          myAltivecSharpen16Bit(l, b, c, n, strength, f, record->mPrefetchFlag);
          break;
        case Rule::kThreshold:
          myAltivecSharpenThreshold16Bit(l, b, c, n, band.lo, band.hi, strength, f,
                                         record->mPrefetchFlag);
          break;
        case Rule::kSmoothed:
          myAltivecSharpenThresholdSmoothed16Bit(l, b, c, n, band.lo, band.hi, strength, f,
                                                 record->mPrefetchFlag);
          break;
      }
      return;
    }
    switch (rule) {
      case Rule::kPlain:
        sharpenDouble<Rule::kPlain>(l, b, c, count, strength, share, band);
        break;
      case Rule::kThreshold:
        sharpenDouble<Rule::kThreshold>(l, b, c, count, strength, share, band);
        break;
      case Rule::kSmoothed:
        sharpenDouble<Rule::kSmoothed>(l, b, c, count, strength, share, band);
        break;
    }
  });
}

void myAltivecSharpen16Bit(const UInt16* luma, const UInt16* blurred, UInt16* contribution,
                           UInt32 count, Float32 strength, Float32 share, UInt8) {
  sharpenSingle<Rule::kPlain>(luma, blurred, contribution, count, strength, share, 0, 65535);
}

void myAltivecSharpenThreshold16Bit(const UInt16* luma, const UInt16* blurred,
                                    UInt16* contribution, UInt32 count, SInt32 minimum,
                                    SInt32 maximum, Float32 strength, Float32 share, UInt8) {
  sharpenSingle<Rule::kThreshold>(luma, blurred, contribution, count, strength, share, minimum,
                                  maximum);
}

void myAltivecSharpenThresholdSmoothed16Bit(const UInt16* luma, const UInt16* blurred,
                                            UInt16* contribution, UInt32 count, SInt32 minimum,
                                            SInt32 maximum, Float32 strength, Float32 share,
                                            UInt8) {
  sharpenSingle<Rule::kSmoothed>(luma, blurred, contribution, count, strength, share, minimum,
                                 maximum);
}

void myAltivecSharpenFilterThresholdMulti16Bit(MyImageWindowDataStruct* record) {
  if (record == nullptr || record->mWorkRGB48 == nullptr) return;
  for (UInt16* plane : record->mDetailLevel)
    if (plane == nullptr) return;
  const UInt32 width = record->mWidth;
  UInt16* out = record->mWorkRGB48;
  const UInt16* const* c = record->mDetailLevel;
  myRunRowBands(record->mHeight, UInt64(width) * 8, [&](UInt32 begin, UInt32 end) {
    const size_t first = size_t(begin) * width;
    const size_t count = size_t(end - begin) * width;
    const UInt16* __restrict c0 = c[0] + first;
    const UInt16* __restrict c1 = c[1] + first;
    const UInt16* __restrict c2 = c[2] + first;
    const UInt16* __restrict c3 = c[3] + first;
    const UInt16* __restrict c4 = c[4] + first;
    const UInt16* __restrict c5 = c[5] + first;
    const UInt16* __restrict c6 = c[6] + first;
    UInt16* __restrict o = out + first;
    for (size_t i = 0; i < count; ++i) {
      const UInt32 sum = UInt32(c0[i]) + c1[i] + c2[i] + c3[i] + c4[i] + c5[i] + c6[i];
      o[i] = UInt16(sum > 65535 ? 65535 : sum);
    }
  });
}
