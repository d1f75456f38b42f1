#include "pixel/PixelOps.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "utilities/LowLevel.h"

namespace {

// ---- gamma

template <typename T, UInt32 kFull>
OSStatus buildGamma(MyCameraWindowDataStruct* record, double gamma) {
  std::atomic_ref<void*> published(record->mGammaLUT);
  std::atomic_ref<UInt8> on(record->mGammaOn);
  void* current = published.load(std::memory_order_relaxed);  // written only here
  if (gamma == 1.0 || gamma <= 0.0 || current == nullptr || record->mGammaLUTSpare[0] == nullptr ||
      record->mGammaLUTSpare[1] == nullptr) {
    record->mGamma = gamma;
    on.store(0, std::memory_order_release);
    return 0;
  }
  if (!(gamma <= 5.11)) return paramErr;  // also a gamma that is not a number
  record->mGamma = gamma;

  // A frame may still be applying the table published before this one (a
  // slider dragged quickly rebuilds several times during one frame), so the
  // new table goes into a spare that the pipeline has not taken. Of the two
  // spares at most one is taken. The load pairs with the pipeline's store of
  // the table it took and its re-check of the published one: either this
  // load sees that table, or the pipeline sees the newer publication and
  // takes that instead.
  void* taken = std::atomic_ref<void*>(record->mGammaLUTTaken).load(std::memory_order_seq_cst);
  const int spare = record->mGammaLUTSpare[0] != taken ? 0 : 1;
  void* target = record->mGammaLUTSpare[spare];
  T* table = static_cast<T*>(target);
  const double full = double(kFull);
  const double step = 1.0 / full;
  for (UInt32 i = 0; i <= kFull; ++i) {
    const double x = full * std::pow(double(i) * step + step, gamma) + 0.5;
    table[i] = x > full ? T(kFull) : T(UInt32(x));  // x >= 0.5, finite here
  }
  record->mGammaLUTSpare[spare] = current;
  published.store(target, std::memory_order_seq_cst);
  on.store(1, std::memory_order_release);
  return 0;
}

// ---- inversion

template <typename T>
void invertRun(T* __restrict buffer, UInt32 count) {
  constexpr UInt32 kBlock = 64;
  UInt32 i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    T* p = buffer + i;
    for (UInt32 k = 0; k < kBlock; ++k) p[k] = T(~p[k]);
  }
  for (; i < count; ++i) buffer[i] = T(~buffer[i]);
}

// ---- flips

// Reverses p[0 .. len-1]: eight bytes from each end a step, turned with a
// byte swap, then the middle one pair at a time.
void reverseBytes(UInt8* p, UInt32 len) {
  UInt32 i = 0, j = len;
  while (j - i >= 16) {
    UInt64 a, b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + j - 8, 8);
    a = __builtin_bswap64(a);
    b = __builtin_bswap64(b);
    std::memcpy(p + i, &b, 8);
    std::memcpy(p + j - 8, &a, 8);
    i += 8;
    j -= 8;
  }
  while (j - i >= 2) {
    --j;
    const UInt8 t = p[i];
    p[i] = p[j];
    p[j] = t;
    ++i;
  }
}

// The four 16-bit lanes of a 64-bit word in reverse order (memory order, on
// either host byte order).
inline UInt64 reverseLanes16(UInt64 x) {
  x = ((x >> 16) & 0x0000FFFF0000FFFFull) | ((x & 0x0000FFFF0000FFFFull) << 16);
  return (x >> 32) | (x << 32);
}

void reverseSamples(UInt16* p, UInt32 len) {
  UInt32 i = 0, j = len;
  while (j - i >= 8) {
    UInt64 a, b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + j - 4, 8);
    a = reverseLanes16(a);
    b = reverseLanes16(b);
    std::memcpy(p + i, &b, 8);
    std::memcpy(p + j - 4, &a, 8);
    i += 4;
    j -= 4;
  }
  while (j - i >= 2) {
    --j;
    const UInt16 t = p[i];
    p[i] = p[j];
    p[j] = t;
    ++i;
  }
}

template <typename T, void (*Reverse)(T*, UInt32)>
void flipHorizontal(T* buffer, UInt32 n, UInt32 height, UInt8 bayerFlag) {
  if (n < 2) return;
  for (UInt32 y = 0; y < height; ++y) {
    T* row = buffer + size_t(y) * n;
    if (bayerFlag == 1) {
      if (n < 3) continue;
      Reverse(row, n - 1);
      row[n - 1] = row[n - 3];
    } else {
      Reverse(row, n);
    }
  }
}

void flipVertical(UInt8* buffer, void* scratch, UInt32 rowBytes, UInt32 height, UInt8 bayerFlag) {
  if (rowBytes == 0 || height < 2) return;
  const bool bayer = bayerFlag == 1;
  const UInt32 last = bayer ? height - 2 : height - 1;
  for (UInt32 i = 0; i < height / 2; ++i) {
    const UInt32 k = last - i;
    if (k == i) continue;
    UInt8* a = buffer + size_t(i) * rowBytes;
    UInt8* b = buffer + size_t(k) * rowBytes;
    myMemCpy(scratch, a, rowBytes);
    myMemCpy(a, b, rowBytes);
    myMemCpy(b, scratch, rowBytes);
  }
  if (bayer && height >= 3)
    myMemCpy(buffer + size_t(height - 1) * rowBytes, buffer + size_t(height - 3) * rowBytes,
             rowBytes);
}

}  // namespace

UInt32 myCalculatePixelSum8Bit(const void* buffer, UInt32 rowBytes, UInt32 height) {
  const UInt64 n = UInt64(rowBytes) * height;
  const UInt8* p = static_cast<const UInt8*>(buffer);
  const UInt64 words = n / 4;
  UInt32 sum = 0;
  for (UInt64 w = 0; w < words; ++w) {
    const UInt8* q = p + w * 4;
    sum += UInt32(q[0]) + q[1] + q[2] + q[3];
  }
  return sum;
}

void (*volatile gMyTestLUTPassPausePoint)() = nullptr;

namespace {

// Halfway through every table pass, so a test can hold a frame inside it.
void lutPassPausePoint() {
  if (auto hook = __atomic_load_n(&gMyTestLUTPassPausePoint, __ATOMIC_SEQ_CST)) hook();
}

void apply8BitLUTRun(UInt8* buffer, const LUT8Bit* lut, UInt32 count) {
  UInt32 i = 0;
  for (; i + 8 <= count; i += 8) {
    UInt8* p = buffer + i;
    const UInt8 a0 = lut[p[0]], a1 = lut[p[1]], a2 = lut[p[2]], a3 = lut[p[3]];
    const UInt8 a4 = lut[p[4]], a5 = lut[p[5]], a6 = lut[p[6]], a7 = lut[p[7]];
    p[0] = a0; p[1] = a1; p[2] = a2; p[3] = a3;
    p[4] = a4; p[5] = a5; p[6] = a6; p[7] = a7;
  }
  for (; i < count; ++i) buffer[i] = lut[buffer[i]];
}

void apply16BitLUTRun(UInt16* buffer, const LUT16Bit* lut, UInt32 sampleCount) {
  UInt32 i = 0;
  for (; i + 4 <= sampleCount; i += 4) {
    UInt16* p = buffer + i;
    const UInt16 a0 = lut[p[0]], a1 = lut[p[1]], a2 = lut[p[2]], a3 = lut[p[3]];
    p[0] = a0; p[1] = a1; p[2] = a2; p[3] = a3;
  }
  for (; i < sampleCount; ++i) buffer[i] = lut[buffer[i]];
}

}  // namespace

void myApply8BitLUT(UInt8* buffer, const LUT8Bit* lut, UInt32 count) {
  const UInt32 half = count / 2;
  apply8BitLUTRun(buffer, lut, half);
  lutPassPausePoint();
  apply8BitLUTRun(buffer + half, lut, count - half);
}

void myApply16BitLUT(UInt16* buffer, const LUT16Bit* lut, UInt32 sampleCount) {
  const UInt32 half = sampleCount / 2;
  apply16BitLUTRun(buffer, lut, half);
  lutPassPausePoint();
  apply16BitLUTRun(buffer + half, lut, sampleCount - half);
}

OSStatus myCalculateGamma8Bit(MyCameraWindowDataStruct* record, double gamma) {
  return buildGamma<UInt8, 255>(record, gamma);
}

OSStatus myCalculateGamma16Bit(MyCameraWindowDataStruct* record, double gamma) {
  return buildGamma<UInt16, 65535>(record, gamma);
}

const void* myGammaTableForFrame(MyCameraWindowDataStruct* record) {
  std::atomic_ref<void*> taken(record->mGammaLUTTaken);
  if (std::atomic_ref<UInt8>(record->mGammaOn).load(std::memory_order_acquire) != 1) {
    taken.store(nullptr, std::memory_order_seq_cst);
    return nullptr;
  }
  // Say which table this frame takes, then make sure it is still the
  // published one: a table published over in between may already be the
  // builder's target.
  std::atomic_ref<void*> published(record->mGammaLUT);
  void* table = published.load(std::memory_order_seq_cst);
  for (;;) {
    taken.store(table, std::memory_order_seq_cst);
    void* again = published.load(std::memory_order_seq_cst);
    if (again == table) return table;
    table = again;
  }
}

void myAltivecInvertPixels8Bit(UInt8* buffer, UInt32 count, UInt8) { invertRun(buffer, count); }

void myAltivecInvertPixels16Bit(UInt16* buffer, UInt32 sampleCount, UInt8) {
  invertRun(buffer, sampleCount);
}

void myInvertPixels8Bit(UInt8* buffer, UInt32 count, UInt8 altivecFlag, UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(buffer) == 1) {
    myAltivecInvertPixels8Bit(buffer, count, prefetchFlag);
    return;
  }
  invertRun(buffer, count);
}

void myInvertPixels16Bit(UInt16* buffer, UInt32 sampleCount, UInt8 altivecFlag,
                         UInt8 prefetchFlag) {
  if (altivecFlag == 1 && myIsBuffer16ByteAligned(buffer) == 1) {
    myAltivecInvertPixels16Bit(buffer, sampleCount, prefetchFlag);
    return;
  }
  invertRun(buffer, sampleCount);
}

void myFlipVerticalImage8Bit(UInt8* buffer, void* scratchRow, UInt32 rowBytes, UInt32 height,
                             UInt8 bayerFlag) {
  flipVertical(buffer, scratchRow, rowBytes, height, bayerFlag);
}

void myFlipVerticalImage16Bit(UInt16* buffer, void* scratchRow, UInt32 width, UInt32 height,
                              UInt8 bayerFlag) {
  if (width > 0x7FFFFFFFu) return;
  flipVertical(reinterpret_cast<UInt8*>(buffer), scratchRow, width * 2, height, bayerFlag);
}

void myFlipHorizontalImage8Bit(UInt8* buffer, UInt32 rowBytes, UInt32 height, UInt8 bayerFlag) {
  flipHorizontal<UInt8, reverseBytes>(buffer, rowBytes, height, bayerFlag);
}

void myFlipHorizontalImage16Bit(UInt16* buffer, UInt32 width, UInt32 height, UInt8 bayerFlag) {
  flipHorizontal<UInt16, reverseSamples>(buffer, width, height, bayerFlag);
}

void myGet8BitPercentage(const UInt8* buffer, UInt32 rowBytes, UInt32 height, float* out) {
  const UInt32 used = rowBytes & ~3u;
  float total = 0.0f;
  for (UInt32 y = 0; y < height; ++y) {
    const UInt8* row = buffer + size_t(y) * rowBytes;
    UInt64 sum = 0;
    for (UInt32 x = 0; x < used; ++x) sum += row[x];
    total += float(sum);
  }
  const float den = float(height) * float(used) * 256.0f;
  *out = den > 0.0f ? total * 100.0f / den : 0.0f;
}

// Sums and divides by the same W' samples a row, so widths that are not a
// multiple of 4 do not read low.
void myGet16BitPercentage(const UInt16* buffer, UInt32 width, UInt32 height, float* out) {
  const UInt32 used = width & ~3u;
  float total = 0.0f;
  for (UInt32 y = 0; y < height; ++y) {
    const UInt16* row = buffer + size_t(y) * width;
    UInt64 sum = 0;
    for (UInt32 x = 0; x < used; ++x) sum += row[x];
    total += float(sum);
  }
  const float den = float(height) * float(used) * 65536.0f;
  *out = den > 0.0f ? total * 100.0f / den : 0.0f;
}
