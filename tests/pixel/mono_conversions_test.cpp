#include <gtest/gtest.h>

#include <vector>

#include "pixel/MonoConversions.h"

namespace {

// Luma (306 R + 601 G + 117 B) >> 10, worked by hand.
struct Rgb8Case { UInt8 r, g, b, luma; };
const Rgb8Case kRgb8[] = {{255, 255, 255, 255}, {255, 0, 0, 76}, {10, 200, 30, 123},
                          {0, 0, 255, 29}};

TEST(MonoConversions, ARGB32ToMono8ByChannelWithPaddedRows) {
  // Two rows of the four pixels, each row padded; padding must stay untouched.
  const UInt32 w = 4, h = 2, srcRowBytes = 4 * w + 8, dstRowBytes = w + 3;
  std::vector<UInt8> src(srcRowBytes * h, 0xEE);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const Rgb8Case& c = kRgb8[(x + y) % 4];
      UInt8* p = &src[y * srcRowBytes + 4 * x];
      p[0] = 0x5A, p[1] = c.r, p[2] = c.g, p[3] = c.b;
    }
  for (UInt32 channel = 1; channel <= 4; ++channel) {
    std::vector<UInt8> dst(dstRowBytes * h, 0xA5);
    myARGBuffertoMonoRGB8Ptr(src.data(), dst.data(), w, h, srcRowBytes, dstRowBytes, channel);
    for (UInt32 y = 0; y < h; ++y) {
      for (UInt32 x = 0; x < w; ++x) {
        const Rgb8Case& c = kRgb8[(x + y) % 4];
        const UInt8 want[] = {c.luma, c.r, c.g, c.b};
        EXPECT_EQ(dst[y * dstRowBytes + x], want[channel - 1]) << channel << " " << x << "," << y;
      }
      for (UInt32 x = w; x < dstRowBytes; ++x) EXPECT_EQ(dst[y * dstRowBytes + x], 0xA5);
    }
  }
}

// (R, G, B) 16-bit, luma >> 10 and >> 18 by hand.
struct Rgb16Case { UInt16 r, g, b, luma16; UInt8 luma8; };
const Rgb16Case kRgb16[] = {{65535, 65535, 65535, 65535, 255},
                            {0x12FF, 0x3400, 0xFFFF, 16754, 65},
                            {65535, 0, 0, 19583, 76},
                            {1000, 2000, 3000, 1815, 7},
                            {0, 0, 0, 0, 0}};
constexpr UInt32 kCases16 = sizeof(kRgb16) / sizeof(kRgb16[0]);

std::vector<UInt16> rgb48Row() {
  std::vector<UInt16> src;
  for (const Rgb16Case& c : kRgb16) src.insert(src.end(), {c.r, c.g, c.b});
  return src;
}

TEST(MonoConversions, RGB48ToMono16AndMono8ByChannel) {
  const std::vector<UInt16> src = rgb48Row();
  const UInt32 dstRowBytes = kCases16 + 2;
  for (UInt32 channel = 1; channel <= 4; ++channel) {
    std::vector<UInt16> mono16(kCases16, 0xBEEF);
    std::vector<UInt8> mono8(dstRowBytes, 0xA5);
    myRGB48PtrToMonoRGB16(src.data(), mono16.data(), kCases16, 1, channel);
    myRGB48PtrToMonoRGB8(src.data(), mono8.data(), kCases16, 1, dstRowBytes, channel);
    for (UInt32 i = 0; i < kCases16; ++i) {
      const Rgb16Case& c = kRgb16[i];
      const UInt16 want16[] = {c.luma16, c.r, c.g, c.b};
      const UInt8 want8[] = {c.luma8, UInt8(c.r >> 8), UInt8(c.g >> 8), UInt8(c.b >> 8)};
      EXPECT_EQ(mono16[i], want16[channel - 1]) << channel << " " << i;
      EXPECT_EQ(mono8[i], want8[channel - 1]) << channel << " " << i;
    }
    EXPECT_EQ(mono8[kCases16], 0xA5);
    EXPECT_EQ(mono8[kCases16 + 1], 0xA5);
  }
}

TEST(MonoConversions, UnknownChannelWritesNothing) {
  const std::vector<UInt16> src = rgb48Row();
  const std::vector<UInt8> argb(4 * kCases16, 0x77);
  for (UInt32 channel : {0u, 5u, 0xFFFFFFFFu}) {
    std::vector<UInt16> mono16(kCases16, 0xBEEF);
    std::vector<UInt8> mono8(kCases16, 0xA5), fromArgb(kCases16, 0xA5);
    myRGB48PtrToMonoRGB16(src.data(), mono16.data(), kCases16, 1, channel);
    myRGB48PtrToMonoRGB8(src.data(), mono8.data(), kCases16, 1, kCases16, channel);
    myARGBuffertoMonoRGB8Ptr(argb.data(), fromArgb.data(), kCases16, 1, 4 * kCases16,
                             kCases16, channel);
    EXPECT_EQ(mono16, std::vector<UInt16>(kCases16, 0xBEEF)) << channel;
    EXPECT_EQ(mono8, std::vector<UInt8>(kCases16, 0xA5)) << channel;
    EXPECT_EQ(fromArgb, std::vector<UInt8>(kCases16, 0xA5)) << channel;
  }
}

TEST(MonoConversions, RGB48ToARGB32KeepsHighBytesAndOpaqueAlpha) {
  const std::vector<UInt16> src = rgb48Row();
  std::vector<UInt8> dst(4 * kCases16 + 4, 0xA5);
  myRGB48PtrToARGB32(src.data(), dst.data(), kCases16, 1);
  for (UInt32 i = 0; i < kCases16; ++i) {
    const Rgb16Case& c = kRgb16[i];
    EXPECT_EQ(dst[4 * i], 0xFF);
    EXPECT_EQ(dst[4 * i + 1], c.r >> 8);
    EXPECT_EQ(dst[4 * i + 2], c.g >> 8);
    EXPECT_EQ(dst[4 * i + 3], c.b >> 8);
  }
  // The worked pixel: (0x12FF, 0x3400, 0xFFFF) gives the bytes FF 12 34 FF.
  EXPECT_EQ(dst[4], 0xFF);
  EXPECT_EQ(dst[5], 0x12);
  EXPECT_EQ(dst[6], 0x34);
  EXPECT_EQ(dst[7], 0xFF);
  EXPECT_EQ(dst[4 * kCases16], 0xA5);  // nothing past the frame
}

}  // namespace
