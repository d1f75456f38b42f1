#include "stacking/SharpnessList.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/coreservices/Threads.h"

UInt32 myCountNoiseStruct(SharpnessList list) {
  return list ? UInt32(GetHandleSize(list) / Size(sizeof(NoiseStruct))) : 0;
}

void myAddNoiseStruct(SharpnessList* list, UInt32 frameTime, double value) {
  if (list == nullptr) return;
  const NoiseStruct entry{frameTime, float(value)};
  if (*list == nullptr) {
    Handle h = NewHandle(sizeof(NoiseStruct));
    if (h == nullptr || MemError() != noErr) return;
    std::memcpy(*h, &entry, sizeof entry);
    *list = h;
    return;
  }
  const Size old = GetHandleSize(*list);
  SetHandleSize(*list, old + Size(sizeof(NoiseStruct)));
  if (MemError() != noErr) return;
  std::memcpy(*(*list) + old, &entry, sizeof entry);
}

void myGetNoiseStruct(SharpnessList list, UInt32 index, NoiseStruct* out) {
  if (out == nullptr || index >= myCountNoiseStruct(list)) return;
  std::memcpy(out, *list + size_t(index) * sizeof(NoiseStruct), sizeof(NoiseStruct));
}

UInt32 myCountNoiseStructAboveCutoff(SharpnessList list, double cutOff) {
  const UInt32 n = myCountNoiseStruct(list);
  if (n == 0) return 0;
  HLock(list);
  const auto* e = reinterpret_cast<const NoiseStruct*>(*list);
  UInt32 count = 0;
  for (UInt32 i = 0; i < n; ++i)
    if (double(e[i].mValue) >= cutOff) ++count;
  HUnlock(list);
  return count;
}

void mySortNoiseStruct(SharpnessList list) {
  const UInt32 n = myCountNoiseStruct(list);
  if (n < 2) return;
  HLock(list);
  // The passes of an exchange sort keep equal values in order, so a stable
  // sort gives the same order without its quadratic number of comparisons;
  // the one yield stands for the passes' yields.
  YieldToAnyThread();
  auto* e = reinterpret_cast<NoiseStruct*>(*list);
  std::stable_sort(e, e + n, [](const NoiseStruct& a, const NoiseStruct& b) { return a.mValue > b.mValue; });
  HUnlock(list);
}

int myGetNoiseStatistics(SharpnessList list, UInt32 counts[256], double* minimum, double* maximum, double* binWidth,
                         double* standardDeviation, double* mean, double* median, double* mode) {
  double lo = 0, hi = 0, width = 0, sd = 0, mu = 0, med = 0, mo = 0;
  if (counts) std::memset(counts, 0, 256 * sizeof(UInt32));
  UInt32 local[256] = {};
  UInt32* bins = counts ? counts : local;
  const UInt32 n = myCountNoiseStruct(list);
  int result = 0;
  if (n == 1) {
    NoiseStruct e;
    myGetNoiseStruct(list, 0, &e);
    lo = hi = mu = med = mo = double(e.mValue);
  } else if (n > 1) {
    HLock(list);
    const auto* e = reinterpret_cast<const NoiseStruct*>(*list);
    hi = double(e[0].mValue);
    lo = double(e[n - 1].mValue);
    width = (hi - lo) * 0.00390625;
    double sum = 0, squares = 0;
    for (UInt32 i = 0; i < n; ++i) {
      const double v = double(e[i].mValue);
      UInt32 bin = 0;
      if (width != 0) {
        const double q = (v - lo) / width;
        bin = q < 0 ? 0 : q > 254 ? 255 : UInt32(q);
      }
      ++bins[bin];
      sum += v;
      squares += v * v;
    }
    HUnlock(list);
    mu = sum / n;
    sd = std::sqrt((squares - sum * sum / n) / (n - 1));
    const UInt32 half = n / 2;
    UInt32 cumulative = 0, largest = 0, modeBin = 0;
    bool anchored = false;
    UInt32 anchorBin = 0, anchorCount = 0, anchorCumulative = 0;
    for (UInt32 k = 0; k < 256; ++k) {
      const UInt32 c = bins[k];
      if (c == 0) continue;
      if (c > largest) {
        largest = c;
        modeBin = k;
      }
      cumulative += c;
      if (half > cumulative) {
        anchored = true;
        anchorBin = k;
        anchorCount = c;
        anchorCumulative = cumulative;
      }
    }
    mo = lo + modeBin * width;
    // The anchor's cumulative count is below half, so the quotient is whole
    // and not negative.
    med = anchored ? lo + (anchorBin + (half - anchorCumulative) / anchorCount) * width : lo;
    result = 1;
  }
  if (minimum) *minimum = lo;
  if (maximum) *maximum = hi;
  if (binWidth) *binWidth = width;
  if (standardDeviation) *standardDeviation = sd;
  if (mean) *mean = mu;
  if (median) *median = med;
  if (mode) *mode = mo;
  return result;
}

int myGetNoiseStatistics(SharpnessList list, NoiseStatistics* s) {
  if (s == nullptr) return 0;
  return myGetNoiseStatistics(list, s->mCounts, &s->mMinimum, &s->mMaximum, &s->mBinWidth, &s->mStandardDeviation,
                              &s->mMean, &s->mMedian, &s->mMode);
}
