#include "pixel/DarkFrame.h"

#include "utilities/LowLevel.h"

namespace {
// Fixed-length blocks let the compiler's cheap vectoriser turn the body into
// saturating vector subtractions; the rest runs one sample at a time.
constexpr UInt32 kBlock = 64;

template <typename T>
inline void subtractRun(T* __restrict image, const T* __restrict dark, UInt32 count) {
  UInt32 i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    T* im = image + i;
    const T* dk = dark + i;
    for (UInt32 k = 0; k < kBlock; ++k) {
      const T a = im[k];
      const T b = dk[k];
      im[k] = a > b ? T(a - b) : T(0);
    }
  }
  for (; i < count; ++i) {
    const T a = image[i];
    const T b = dark[i];
    image[i] = a > b ? T(a - b) : T(0);
  }
}
}  // namespace

void myAltivecSubtractDarkFrame8Bit(UInt8* image, const UInt8* dark, UInt32 count, UInt8) {
  subtractRun(image, dark, count);
}

void myAltivecSubtractDarkFrame16Bit(UInt16* image, const UInt16* dark, UInt32 count, UInt8) {
  subtractRun(image, dark, count);
}

void mySubtractDarkFrame8Bit(UInt8* image, const UInt8* dark, UInt32 count, UInt8 altivecFlag,
                             UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(image) == 1 &&
      myIsBuffer16ByteAligned(dark) == 1) {
    myAltivecSubtractDarkFrame8Bit(image, dark, count, prefetchFlag);
    return;
  }
  subtractRun(image, dark, count);
}

void mySubtractDarkFrame16Bit(UInt16* image, const UInt16* dark, UInt32 count, UInt8 altivecFlag,
                              UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(image) == 1 &&
      myIsBuffer16ByteAligned(dark) == 1) {
    myAltivecSubtractDarkFrame16Bit(image, dark, count, prefetchFlag);
    return;
  }
  subtractRun(image, dark, count);
}
