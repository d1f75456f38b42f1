#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "pixel/FrameSums.h"

namespace {

// A frame whose sample at (x, y) is 1 + x + 10 y (so a sum names its source).
template <typename T>
std::vector<T> labelled(UInt32 w, UInt32 h, UInt32 channels) {
  std::vector<T> f(size_t(w) * h * channels);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x)
      for (UInt32 c = 0; c < channels; ++c) f[(size_t(y) * w + x) * channels + c] = T(1 + x + 10 * y + 100 * c);
  return f;
}

// All four shifted adds: the sum at (x, y) holds the frame sample at
// (x - dx, y - dy) when that lies inside the frame, else stays 0.
TEST(ShiftedSums, OffsetsMapFramePixelsIntoTheSums) {
  const UInt32 w = 6, h = 4;
  const SInt32 offsets[][2] = {{3, -2}, {-3, 2}, {0, 0}, {5, 3}, {-5, -3}, {6, 0}, {0, -4},
                               {INT_MIN, 0}, {0, INT_MAX}};
  for (const auto& d : offsets) {
    const SInt32 dx = d[0], dy = d[1];
    const auto mono8 = labelled<UInt8>(w, h, 1);
    const auto mono16 = labelled<UInt16>(w, h, 1);
    const auto rgb48 = labelled<UInt16>(w, h, 3);
    std::vector<UInt8> argb(size_t(w) * h * 4);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
      argb[4 * i] = 0xEE;  // alpha, never added
      for (int c = 0; c < 3; ++c) argb[4 * i + 1 + c] = UInt8(rgb48[3 * i + c]);
    }
    std::vector<UInt32> s8(w * h), s16(w * h), sArgb(3 * w * h), sRgb48(3 * w * h);
    myAdd8Buffto32BuffMono(mono8.data(), s8.data(), w, h, dx, dy);
    myAdd16Buffto32BuffMono(mono16.data(), s16.data(), w, h, dx, dy);
    myAdd8Buffto32BuffRGB(argb.data(), sArgb.data(), w, h, dx, dy);
    myAdd16Buffto32BuffRGB(rgb48.data(), sRgb48.data(), w, h, dx, dy);
    for (SInt64 y = 0; y < h; ++y) {
      for (SInt64 x = 0; x < w; ++x) {
        const SInt64 fx = x - dx, fy = y - dy;
        const bool inside = fx >= 0 && fx < w && fy >= 0 && fy < h;
        const UInt32 want = inside ? UInt32(1 + fx + 10 * fy) : 0;
        const size_t i = size_t(y * w + x);
        ASSERT_EQ(s8[i], want) << dx << "," << dy << " at " << x << "," << y;
        ASSERT_EQ(s16[i], want) << dx << "," << dy;
        for (UInt32 c = 0; c < 3; ++c) {
          const UInt32 wantC = inside ? want + 100 * c : 0;
          ASSERT_EQ(sRgb48[3 * i + c], wantC) << dx << "," << dy;
          ASSERT_EQ(sArgb[3 * i + c], wantC) << dx << "," << dy;
        }
      }
    }
  }
  // The worked case: offset (3, -2) adds frame pixel (0, 2) at sum (3, 0).
  const auto f = labelled<UInt8>(w, h, 1);
  std::vector<UInt32> s(w * h);
  myAdd8Buffto32BuffMono(f.data(), s.data(), w, h, 3, -2);
  EXPECT_EQ(s[3], 1u + 0 + 20);
}

TEST(ShiftedSums, ArgbChannelsAreBytesInMemoryOrder) {
  const UInt8 pixel[4] = {0x11, 0x22, 0x33, 0x44};  // A R G B
  UInt32 sums[3] = {1000, 2000, 3000};
  myAdd8Buffto32BuffRGB(pixel, sums, 1, 1, 0, 0);
  EXPECT_EQ(sums[0], 1000u + 0x22);
  EXPECT_EQ(sums[1], 2000u + 0x33);
  EXPECT_EQ(sums[2], 3000u + 0x44);
}

TEST(WholeFrameSums, TenFramesOf200AverageTo200AtEveryCount) {
  for (UInt32 count = 0; count <= 9; ++count) {
    std::vector<UInt8> frame8(count, 200), out8(count + 4, 0xEE);
    std::vector<UInt16> frame16(count, 50000), out16(count + 4, 0xEEEE);
    std::vector<UInt32> s8(count + 4), s16(count + 4);
    for (int i = 0; i < 10; ++i) {
      myAdd8to32Buff(frame8.data(), s8.data(), count);
      myAdd16to32Buff(frame16.data(), s16.data(), count * 2);
    }
    EXPECT_EQ(my32to8FrameBuff8Bit(s8.data(), out8.data(), count, 10, 1), 0);
    EXPECT_EQ(my32to16FrameBuff16Bit(s16.data(), out16.data(), count * 2, 10, 0), 0);
    for (UInt32 i = 0; i < count + 4; ++i) {
      EXPECT_EQ(s8[i], i < count ? 2000u : 0u) << count;
      EXPECT_EQ(s16[i], i < count ? 500000u : 0u) << count;
      // Every sample of the count, also the last one to three, and no more.
      EXPECT_EQ(out8[i], i < count ? 200 : 0xEE) << count << " " << i;
      EXPECT_EQ(out16[i], i < count ? 50000 : 0xEEEE) << count << " " << i;
    }
  }
}

TEST(WholeFrameSums, ZeroFrameCountWritesNothing) {
  const UInt32 sums[4] = {10, 20, 30, 40};
  UInt8 out8[4] = {1, 2, 3, 4};
  UInt16 out16[4] = {5, 6, 7, 8};
  EXPECT_EQ(my32to8FrameBuff8Bit(sums, out8, 4, 0, 1), -1);
  EXPECT_EQ(my32to16FrameBuff16Bit(sums, out16, 8, 0, 1), -1);
  EXPECT_EQ(out8[3], 4);
  EXPECT_EQ(out16[0], 5);
}

TEST(WholeFrameSums, ModeOneSaturatesOtherModesKeepLowBits) {
  struct Case { UInt32 sum, frames, mode; UInt8 want8; UInt16 want16; };
  const Case cases[] = {
      {2540, 10, 1, 254, 254},        {2545, 10, 1, 255, 254},  // 254.5 > 254.0
      {2560, 10, 1, 255, 256},        {2560, 10, 0, 0, 256},    // 256 keeps its low byte
      {2570, 10, 2, 1, 257},          {196605, 3, 1, 255, 65535},
      {196608, 3, 1, 255, 65535},     {196608, 3, 0, 0, 0},     // 65536 & 0xFFFF
      {196605, 3, 0, 255, 65535},     {7, 2, 1, 3, 3},          // truncated
      {0xFFFFFFFF, 1, 0, 0xFF, 0xFFFF},
  };
  for (const Case& c : cases) {
    UInt8 o8 = 0;
    UInt16 o16 = 0;
    my32to8FrameBuff8Bit(&c.sum, &o8, 1, c.frames, c.mode);
    my32to16FrameBuff16Bit(&c.sum, &o16, 2, c.frames, c.mode);
    EXPECT_EQ(o8, c.want8) << c.sum << "/" << c.frames << " mode " << c.mode;
    EXPECT_EQ(o16, c.want16) << c.sum << "/" << c.frames << " mode " << c.mode;
  }
}

// Crops: scale = 65535 / (frames x maximum); RGB48 truncates, Mono16 rounds
// half to even; a sum at the limit gives 65535.
TEST(CropSums, ScaleTruncateAndRoundHalfToEven) {
  struct Case { UInt32 sum, frames, maximum; UInt16 rgb48, mono16; };
  const Case cases[] = {
      {1, 1, 255, 257, 257},           {10 * 255, 10, 255, 65535, 65535},
      {10 * 255 + 7, 10, 255, 65535, 65535},
      {3, 1, 131070, 1, 2},            {5, 1, 131070, 2, 2},  // 1.5 and 2.5
      {7, 1, 131070, 3, 4},            {0, 4, 65535, 0, 0},
      {2, 3, 1, 43690, 43690},         // 43690.0 exactly
  };
  for (const Case& c : cases) {
    const UInt32 sums[3] = {c.sum, c.sum, c.sum};
    UInt16 rgb[3] = {}, mono = 0;
    myDownSizeRGB96BuffertoRGB48Buffer(sums, rgb, 0, 0, 1, 1, 1, c.frames, c.maximum);
    myDownSizeRGB96BuffertoMono16Buffer(sums, &mono, 0, 0, 1, 1, 1, c.frames, c.maximum);
    EXPECT_EQ(rgb[0], c.rgb48) << c.sum;
    EXPECT_EQ(rgb[2], c.rgb48) << c.sum;
    EXPECT_EQ(mono, c.mono16) << c.sum;
  }
}

TEST(CropSums, CropRectangleAndPackedRows) {
  // 4 x 3 RGB96 buffer; sums R = 10 x + y, G = R + 1000, B = R + 2000.
  const UInt32 sw = 4, sh = 3;
  std::vector<UInt32> sums(3 * sw * sh);
  for (UInt32 y = 0; y < sh; ++y)
    for (UInt32 x = 0; x < sw; ++x)
      for (UInt32 c = 0; c < 3; ++c) sums[3 * (y * sw + x) + c] = 10 * x + y + 1000 * c;
  // maximum 65535, one frame: scale 1.0, values come through unchanged.
  std::vector<UInt16> rgb(3 * 2 * 2 + 3, 0xEEEE), mono(2 * 2 + 1, 0xEEEE);
  myDownSizeRGB96BuffertoRGB48Buffer(sums.data(), rgb.data(), 1, 1, 2, 2, sw, 1, 65535);
  myDownSizeRGB96BuffertoMono16Buffer(sums.data(), mono.data(), 1, 1, 2, 2, sw, 1, 65535);
  const UInt16 wantMono[4] = {11, 21, 12, 22};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(mono[i], wantMono[i]);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(rgb[3 * i + c], wantMono[i] + 1000 * c);
  }
  EXPECT_EQ(mono[4], 0xEEEE);
  EXPECT_EQ(rgb[12], 0xEEEE);

  // No frames, or a rectangle past the buffer's width: nothing written.
  std::vector<UInt16> untouched(12, 0xEEEE);
  myDownSizeRGB96BuffertoRGB48Buffer(sums.data(), untouched.data(), 0, 0, 2, 2, sw, 0, 255);
  myDownSizeRGB96BuffertoMono16Buffer(sums.data(), untouched.data(), 3, 0, 2, 1, sw, 1, 255);
  for (UInt16 v : untouched) EXPECT_EQ(v, 0xEEEE);
}

}  // namespace
