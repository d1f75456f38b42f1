#include "pixel/FrameNoise.h"

#include <cstring>

#include "pixel/SaturatingMath.h"
#include "platform/coreservices/CoreServices.h"

using skyloom_pixel::saturateTrunc;

void myAltivecNxNCalculateSparseLineNoise(const UInt8* line, const UInt8* right, const UInt8* below,
                                          UInt32 byteCount, UInt32 threshold,
                                          UInt8 /*prefetchControl*/, UInt32* sum, UInt32* count) {
  // Every pixel above the threshold counts on its own, with the neighbour
  // mean (r + b) >> 1: the figure of the plain frame routine.
  UInt32 s = 0, n = 0;
  for (UInt32 i = 0; i < byteCount; ++i) {
    const SInt32 p = line[i];
    if (UInt32(p) > threshold) {
      const SInt32 diff = ((SInt32(right[i]) + SInt32(below[i])) >> 1) - p;
      s += UInt32(diff < 0 ? -diff : diff);
      ++n;
    }
  }
  *sum = s;
  *count = n;
}

void mySIMDNxNCalculateSparseFrameNoise(const UInt8* frame, UInt8* /*scratch*/, UInt32 x0,
                                        UInt32 y0, UInt32 x1, UInt32 y1, UInt32 rowBytes,
                                        UInt32 threshold, UInt32 N, UInt8 prefetchControl,
                                        UInt8 /*altivecFlag*/, double* figure) {
  *figure = 0.0;
  const SInt64 rows = (SInt64(y1) - SInt64(y0)) - SInt64(N);
  const SInt64 cols = (SInt64(x1) - SInt64(x0)) - SInt64(N);
  if (N == 0 || rows <= 15 || cols <= 15) return;
  double total = 0.0;
  UInt64 counted = 0;
  for (SInt64 r = 0; r < rows; ++r) {
    const UInt8* line = frame + size_t(y0 + r) * rowBytes + x0;
    UInt32 sum = 0, count = 0;
    myAltivecNxNCalculateSparseLineNoise(line, line + N, line + size_t(N) * rowBytes, UInt32(cols),
                                         threshold, prefetchControl, &sum, &count);
    total += double(sum);
    counted += count;
  }
  if (counted) *figure = total / double(counted);
}

void myExpandMono8InPlace(UInt8* buffer, UInt32 width, UInt32 height, UInt32 rowBytes, SInt32 low,
                          SInt32 high) {
  const SInt64 range = SInt64(high) - SInt64(low);
  if (range <= 0) return;
  // Shifts as the 32-bit words they are: a range past 32767 wraps as on the
  // original arithmetic instead of overflowing.
  const Fixed factor = FixDiv(Fixed(255u << 16), Fixed(UInt32(range) << 16));
  for (UInt32 r = 0; r < height; ++r) {
    UInt8* row = buffer + size_t(r) * rowBytes;
    for (UInt32 i = 0; i < width; ++i) {
      const SInt32 p = row[i];
      if (p <= low) {
        row[i] = 0;
      } else if (p >= high) {
        row[i] = 255;
      } else {
        const Fixed v = FixMul(factor, Fixed(UInt32(SInt64(p) - low) << 16));
        // 254 and one 65536th or more is written as 255.
        if (v >= 0x00FE0001)
          row[i] = 255;
        else
          row[i] = v < 0 ? 0 : UInt8(v >> 16);
      }
    }
  }
}

void my3by3GaussianBlurMono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                             UInt32 rowBytes) {
  if (width == 0 || height == 0) return;
  // Border rows are copied pixel for pixel; row padding is not image data.
  std::memcpy(dst, src, width);
  if (height > 1) std::memcpy(dst + size_t(height - 1) * rowBytes, src + size_t(height - 1) * rowBytes, width);
  for (UInt32 r = 1; r + 1 < height; ++r) {
    const UInt8* a = src + size_t(r - 1) * rowBytes;
    const UInt8* b = a + rowBytes;
    const UInt8* c = b + rowBytes;
    UInt8* out = dst + size_t(r) * rowBytes;
    out[0] = b[0];
    if (width > 1) out[width - 1] = b[width - 1];
    for (UInt32 i = 1; i + 1 < width; ++i) {
      const UInt32 sum = UInt32(a[i - 1]) + 2u * a[i] + a[i + 1] +
                         2u * (UInt32(b[i - 1]) + 2u * b[i] + b[i + 1]) +
                         UInt32(c[i - 1]) + 2u * c[i] + c[i + 1];
      // The largest sum, 4080, is exactly 255 after the shift.
      out[i] = UInt8(sum >= 4080 ? 255 : sum >> 4);
    }
  }
}

void my3x3SharpenFilterThresholdMono8(const UInt8* src, const UInt8* blurred, UInt8* dst,
                                      UInt32 width, UInt32 height, UInt32 rowBytes, double amount,
                                      SInt32 threshold) {
  const float a = float(amount);
  auto clampByte = [](SInt64 v) -> UInt8 { return v < 0 ? 0 : (v > 254 ? 255 : UInt8(v)); };
  for (UInt32 r = 0; r < height; ++r) {
    const UInt8* s = src + size_t(r) * rowBytes;
    const UInt8* g = blurred + size_t(r) * rowBytes;
    UInt8* out = dst + size_t(r) * rowBytes;
    if (threshold != 0) {
      // |d| > threshold, with the threshold as a 64-bit value so that a
      // negative threshold cannot overflow.
      for (UInt32 i = 0; i < width; ++i) {
        const SInt32 d = SInt32(s[i]) - SInt32(g[i]);
        const SInt64 magnitude = d < 0 ? -d : d;
        if (magnitude > SInt64(threshold))
          out[i] = clampByte(SInt64(s[i]) + saturateTrunc<SInt32>(a * float(d)));
        else
          out[i] = g[i];
      }
    } else {
      for (UInt32 i = 0; i < width; ++i) {
        if (s[i] > g[i]) {
          const float v = a * float(SInt32(s[i]) - SInt32(g[i])) + float(s[i]);
          out[i] = clampByte(saturateTrunc<SInt32>(v));
        } else {
          out[i] = s[i];
        }
      }
    }
  }
}
