#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/coregraphics/CGImage.h"

namespace {

struct Made {
  CGImageRef image = nullptr;
  ~Made() { CGImageRelease(image); }
};

// An image over the bytes, or null; the provider and space are let go at once
// (the image keeps its own references).
CGImageRef makeImage(const void* bytes, size_t size, size_t w, size_t h, size_t bpc, size_t bpp, size_t rowBytes,
                     bool grey, CGBitmapInfo info) {
  CGColorSpaceRef space = grey ? CGColorSpaceCreateDeviceGray() : CGColorSpaceCreateDeviceRGB();
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, bytes, size, nullptr);
  CGImageRef im = CGImageCreate(w, h, bpc, bpp, rowBytes, space, info, provider, nullptr, false,
                                kCGRenderingIntentDefault);
  CGDataProviderRelease(provider);
  CGColorSpaceRelease(space);
  return im;
}

TEST(CGImage, RefusesLayoutsItCannotReadAndProvidersShorterThanTheRows) {
  std::vector<UInt8> bytes(4 * 3 * 4 + 8);
  const long live = SkyloomCGImageLiveObjectCount();
  struct {
    const char* what;
    size_t size, w, h, bpc, bpp, rowBytes;
    bool grey;
    CGBitmapInfo info;
  } refused[] = {
      {"no pixels", bytes.size(), 0, 3, 8, 32, 16, false, kCGImageAlphaNoneSkipFirst},
      {"row bytes shorter than a row", bytes.size(), 4, 3, 8, 32, 15, false, kCGImageAlphaNoneSkipFirst},
      {"provider one byte short of the last row", 4 * 3 * 4 - 1, 4, 3, 8, 32, 16, false, kCGImageAlphaFirst},
      {"padded rows whose last row does not fit", 4 * 2 + 4 * 2 * 4, 4, 3, 8, 32, 24, false, kCGImageAlphaFirst},
      {"pixel size not the channels' size", bytes.size(), 4, 3, 8, 24, 16, false, kCGImageAlphaNoneSkipFirst},
      {"grey with four components", bytes.size(), 4, 3, 8, 32, 16, true, kCGImageAlphaNone},
      {"5-bit components", bytes.size(), 4, 3, 5, 16, 16, false, kCGImageAlphaNoneSkipFirst},
      {"float components", bytes.size(), 4, 3, 16, 64, 32, false, kCGImageAlphaLast | kCGBitmapFloatComponents},
      {"alpha-only mask", bytes.size(), 4, 3, 8, 8, 4, true, kCGImageAlphaOnly},
      {"32-bit byte order on 16-bit samples", bytes.size(), 2, 3, 16, 48, 12, false, kCGBitmapByteOrder32Little},
  };
  for (const auto& c : refused) {
    CGImageRef im = makeImage(bytes.data(), c.size, c.w, c.h, c.bpc, c.bpp, c.rowBytes, c.grey, c.info);
    EXPECT_EQ(im, nullptr) << c.what;
    CGImageRelease(im);
  }
  // Exactly enough: the last row need not be padded.
  Made ok{makeImage(bytes.data(), 24 * 2 + 16, 4, 3, 8, 32, 24, false, kCGImageAlphaFirst)};
  ASSERT_NE(ok.image, nullptr);
  EXPECT_EQ(CGImageGetWidth(ok.image), 4u);
  EXPECT_EQ(CGImageGetHeight(ok.image), 3u);
  EXPECT_EQ(CGImageGetBytesPerRow(ok.image), 24u);
  EXPECT_EQ(CGImageGetAlphaInfo(ok.image), kCGImageAlphaFirst);
  CGImageRelease(ok.image);
  ok.image = nullptr;
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), live);
}

TEST(CGImage, KeepsTheProviderUntilTheLastReleaseThenHandsTheBytesBack) {
  static int released;
  static const void* releasedData;
  released = 0;
  std::vector<UInt8> bytes(16, 7);
  CGDataProviderRef provider = CGDataProviderCreateWithData(
      &released, bytes.data(), bytes.size(), [](void* info, const void* data, size_t size) {
        ++*static_cast<int*>(info);
        releasedData = data;
        EXPECT_EQ(size, 16u);
      });
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGImageRef im = CGImageCreate(2, 2, 8, 32, 8, space, kCGImageAlphaNoneSkipFirst, provider, nullptr, false,
                                kCGRenderingIntentDefault);
  ASSERT_NE(im, nullptr);
  CGDataProviderRelease(provider);
  CGColorSpaceRelease(space);
  EXPECT_EQ(released, 0);
  EXPECT_EQ(CGImageGetDataProvider(im), provider);
  EXPECT_EQ(SkyloomCGImageBytes(im), bytes.data());
  CGImageRetain(im);
  CGImageRelease(im);
  EXPECT_EQ(released, 0);
  CGImageRelease(im);
  EXPECT_EQ(released, 1);
  EXPECT_EQ(releasedData, bytes.data());
}

TEST(CGImage, ThreadsMayRetainAndReleaseOneImageAtOnce) {
  static std::atomic<int> released;
  released = 0;
  std::vector<UInt8> bytes(16);
  CGDataProviderRef provider = CGDataProviderCreateWithData(
      nullptr, bytes.data(), bytes.size(), [](void*, const void*, size_t) { released.fetch_add(1); });
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGImageRef im = CGImageCreate(2, 2, 8, 32, 8, space, kCGImageAlphaNoneSkipFirst, provider, nullptr, false,
                                kCGRenderingIntentDefault);
  CGDataProviderRelease(provider);
  CGColorSpaceRelease(space);
  ASSERT_NE(im, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    CGImageRetain(im);  // each thread ends by letting go of its own reference
    threads.emplace_back([im] {
      for (int i = 0; i < 2000; ++i) {
        CGImageRetain(im);
        CGImageRelease(im);
      }
      CGImageRelease(im);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(released.load(), 0);
  CGImageRelease(im);
  EXPECT_EQ(released.load(), 1);
}

TEST(CGImage, ReadsPixelsOfEveryLayoutAsStraightSamples) {
  // Premultiplied samples are divided back: 64 at alpha 128 is
  // (64 x 255 + 64) / 128 = 128; 200 at alpha 128 would pass 255 and stays 255.
  const UInt8 argb[] = {128, 64, 32, 200};
  const UInt8 rgbaLittle[] = {30, 20, 10, 99};  // an xRGB word stored low byte first: B, G, R, x
  const UInt8 rgb[] = {1, 2, 3};
  const UInt8 grey[] = {77};
  UInt16 rgb48[3] = {0x1234, 0xABCD, 0xFFFF};
  UInt16 grey16Big;
  const UInt8 big[2] = {0x12, 0x34};
  std::memcpy(&grey16Big, big, 2);
  struct {
    const char* what;
    const void* bytes;
    size_t size, bpc, bpp;
    bool grey;
    CGBitmapInfo info;
    UInt16 want[4];
  } cases[] = {
      {"premultiplied ARGB", argb, 4, 8, 32, false, kCGImageAlphaPremultipliedFirst, {128, 64, 255, 128}},
      {"straight ARGB", argb, 4, 8, 32, false, kCGImageAlphaFirst, {64, 32, 200, 128}},
      {"skipped first byte", argb, 4, 8, 32, false, kCGImageAlphaNoneSkipFirst, {64, 32, 200, 255}},
      {"RGBA last, straight", argb, 4, 8, 32, false, kCGImageAlphaLast, {128, 64, 32, 200}},
      {"xRGB in a little-endian word", rgbaLittle, 4, 8, 32, false,
       kCGImageAlphaNoneSkipFirst | kCGBitmapByteOrder32Little, {10, 20, 30, 255}},
      {"RGB", rgb, 3, 8, 24, false, kCGImageAlphaNone, {1, 2, 3, 255}},
      {"grey", grey, 1, 8, 8, true, kCGImageAlphaNone, {77, 77, 77, 255}},
      {"RGB48 host order", rgb48, 6, 16, 48, false, kCGImageAlphaNone, {0x1234, 0xABCD, 0xFFFF, 0xFFFF}},
      {"grey 16 big-endian", &grey16Big, 2, 16, 16, true, kCGImageAlphaNone | kCGBitmapByteOrder16Big,
       {0x1234, 0x1234, 0x1234, 0xFFFF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Made m{makeImage(c.bytes, c.size, 1, 1, c.bpc, c.bpp, c.size, c.grey, c.info)};
    ASSERT_NE(m.image, nullptr);
    UInt16 px[4] = {};
    ASSERT_TRUE(SkyloomCGImagePixel(m.image, 0, 0, px));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(px[i], c.want[i]) << i;
    EXPECT_FALSE(SkyloomCGImagePixel(m.image, 1, 0, px));
    EXPECT_FALSE(SkyloomCGImagePixel(m.image, 0, 1, px));
  }
}

}  // namespace
