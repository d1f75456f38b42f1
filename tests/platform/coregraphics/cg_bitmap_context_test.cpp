// Bitmap contexts over the caller's memory, the context transformation and
// affine transforms, and images drawn with straight alpha first.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"

namespace {

// A bitmap context over a buffer of w x h ARGB32 pixels (row bytes 4 w + pad).
struct Canvas {
  size_t w, h, rowBytes;
  std::vector<UInt8> bytes;
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGContextRef c = nullptr;
  Canvas(size_t width, size_t height, CGBitmapInfo info = kCGImageAlphaPremultipliedFirst, size_t pad = 0)
      : w(width), h(height), rowBytes(4 * width + pad), bytes(rowBytes * height + 16, 0x5A) {
    c = CGBitmapContextCreate(bytes.data(), w, h, 8, rowBytes, space, info);
  }
  ~Canvas() {
    CGContextRelease(c);
    CGColorSpaceRelease(space);
  }
  // Bytes of pixel (x, row) in memory order.
  std::vector<int> at(size_t x, size_t row) const {
    const UInt8* p = bytes.data() + row * rowBytes + 4 * x;
    return {p[0], p[1], p[2], p[3]};
  }
};

using Bytes = std::vector<int>;

TEST(CGBitmapContext, KeepsTheCallersBytesInArgbOrderPremultiplied) {
  Canvas canvas(8, 6, kCGImageAlphaPremultipliedFirst, 8);
  ASSERT_NE(canvas.c, nullptr);
  EXPECT_EQ(CGBitmapContextGetData(canvas.c), canvas.bytes.data());
  EXPECT_EQ(CGBitmapContextGetBytesPerRow(canvas.c), 40u);
  CGContextSetRGBFillColor(canvas.c, 1.0, 0.5, 0.0, 1.0);
  CGContextFillRect(canvas.c, CGRectMake(0, 0, 8, 6));
  EXPECT_EQ(canvas.at(0, 0), (Bytes{255, 255, 128, 0}));
  EXPECT_EQ(canvas.at(7, 5), (Bytes{255, 255, 128, 0}));
  // Row padding is never written.
  EXPECT_EQ(canvas.bytes[32], 0x5A);
  // Half-transparent blue over the lower-left 4 x 3 (user space y up: memory rows 3..5).
  CGContextSetRGBFillColor(canvas.c, 0.0, 0.0, 1.0, 0.5);
  CGContextFillRect(canvas.c, CGRectMake(0, 0, 4, 3));
  const Bytes blended = canvas.at(1, 4);
  EXPECT_EQ(blended[0], 255);
  EXPECT_NEAR(blended[1], 128, 1);
  EXPECT_NEAR(blended[2], 64, 1);
  EXPECT_NEAR(blended[3], 128, 1);
  EXPECT_EQ(canvas.at(1, 1), (Bytes{255, 255, 128, 0}));  // above the rectangle
  EXPECT_EQ(canvas.at(5, 4), (Bytes{255, 255, 128, 0}));  // right of it
  // A fully transparent fill over a clear canvas stays premultiplied zero.
  Canvas clear(2, 2);
  std::memset(clear.bytes.data(), 0, clear.bytes.size());
  CGContextSetRGBFillColor(clear.c, 1, 1, 1, 0.5);
  CGContextFillRect(clear.c, CGRectMake(0, 0, 1, 2));
  const Bytes half = clear.at(0, 0);
  EXPECT_NEAR(half[0], 128, 1);
  EXPECT_NEAR(half[1], 128, 1);  // premultiplied: 255 x 0.5
  EXPECT_EQ(clear.at(1, 0), (Bytes{0, 0, 0, 0}));
}

TEST(CGBitmapContext, DrawsOverBytesTheCallerWroteBetweenCalls) {
  Canvas canvas(4, 4);
  CGContextSetRGBFillColor(canvas.c, 0, 0, 0, 1);
  CGContextFillRect(canvas.c, CGRectMake(0, 0, 4, 4));
  // The caller paints one pixel itself, in ARGB order: opaque green.
  UInt8* p = canvas.bytes.data() + 1 * canvas.rowBytes + 2 * 4;
  p[0] = 255, p[1] = 0, p[2] = 255, p[3] = 0;
  CGContextSetRGBFillColor(canvas.c, 1, 0, 0, 0.5);
  CGContextFillRect(canvas.c, CGRectMake(0, 0, 4, 4));
  const Bytes mixed = canvas.at(2, 1);
  EXPECT_EQ(mixed[0], 255);
  EXPECT_NEAR(mixed[1], 128, 1);
  EXPECT_NEAR(mixed[2], 127, 1);
  EXPECT_EQ(mixed[3], 0);
  const Bytes plain = canvas.at(0, 0);
  EXPECT_NEAR(plain[1], 128, 1);
  EXPECT_EQ(plain[2], 0);
}

TEST(CGBitmapContext, ImageOfTheContextIsACopyInItsLayout) {
  const long objects = SkyloomCGImageLiveObjectCount();
  {
    Canvas canvas(5, 3, kCGImageAlphaPremultipliedFirst, 8);
    CGContextSetRGBFillColor(canvas.c, 0, 0, 1, 1);
    CGContextFillRect(canvas.c, CGRectMake(0, 0, 5, 3));
    CGImageRef image = CGBitmapContextCreateImage(canvas.c);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(CGImageGetWidth(image), 5u);
    EXPECT_EQ(CGImageGetHeight(image), 3u);
    EXPECT_EQ(CGImageGetBytesPerRow(image), canvas.rowBytes);
    EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaPremultipliedFirst);
    // Drawing on afterwards does not reach the image.
    CGContextSetRGBFillColor(canvas.c, 1, 0, 0, 1);
    CGContextFillRect(canvas.c, CGRectMake(0, 0, 5, 3));
    UInt16 px[4];
    ASSERT_TRUE(SkyloomCGImagePixel(image, 4, 2, px));
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[2], 255);
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(canvas.at(4, 2), (Bytes{255, 255, 0, 0}));
    CGImageRelease(image);
  }
  EXPECT_EQ(CGBitmapContextCreateImage(nullptr), nullptr);
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), objects);
}

TEST(CGBitmapContext, MakesOnlyTheLayoutsItDrawsAndFreesWhatItMade) {
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  CGColorSpaceRef grey = CGColorSpaceCreateDeviceGray();
  std::vector<UInt8> buffer(64 * 4);
  struct Case {
    size_t bpc, rowBytes;
    CGColorSpaceRef space;
    CGBitmapInfo info;
    bool made;
  } cases[] = {
      {8, 32, rgb, kCGImageAlphaPremultipliedFirst, true},
      {8, 32, rgb, kCGImageAlphaNoneSkipFirst, true},
      {8, 32, rgb, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little, true},
      {8, 32, rgb, kCGImageAlphaFirst, false},  // straight alpha cannot be a destination
      {8, 32, rgb, kCGImageAlphaPremultipliedLast, false},
      {16, 64, rgb, kCGImageAlphaPremultipliedFirst, false},
      {8, 30, rgb, kCGImageAlphaPremultipliedFirst, false},  // shorter than a row
      {8, 34, rgb, kCGImageAlphaPremultipliedFirst, false},  // not whole pixels
      {8, 32, grey, kCGImageAlphaPremultipliedFirst, false},
      {8, 32, nullptr, kCGImageAlphaPremultipliedFirst, false},
  };
  for (const Case& k : cases) {
    CGContextRef c = CGBitmapContextCreate(buffer.data(), 8, 8, k.bpc, k.rowBytes, k.space, k.info);
    EXPECT_EQ(c != nullptr, k.made) << "info " << k.info << " row bytes " << k.rowBytes;
    CGContextRelease(c);
  }
  // Its own memory, cleared; little-endian order gives B, G, R, A.
  CGContextRef own =
      CGBitmapContextCreate(nullptr, 3, 2, 8, 12, rgb, kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
  ASSERT_NE(own, nullptr);
  const UInt8* data = static_cast<const UInt8*>(CGBitmapContextGetData(own));
  EXPECT_EQ(data[0] | data[1] | data[2] | data[3], 0);
  CGContextSetRGBFillColor(own, 1, 0.5, 0, 1);
  CGContextFillRect(own, CGRectMake(0, 0, 3, 2));
  EXPECT_EQ((Bytes{data[0], data[1], data[2], data[3]}), (Bytes{0, 128, 255, 255}));
  CGContextRelease(own);
  CGColorSpaceRelease(rgb);
  CGColorSpaceRelease(grey);
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

TEST(CGAffineTransform, ComposesOperationsBeforeTheTransformAndBoundsTurnedRects) {
  // Translate then scale: the point is scaled first, then moved.
  CGAffineTransform t = CGAffineTransformScale(CGAffineTransformMakeTranslation(10, 20), 2, 3);
  CGPoint p = CGPointApplyAffineTransform(CGPointMake(1, 1), t);
  EXPECT_DOUBLE_EQ(p.x, 12);
  EXPECT_DOUBLE_EQ(p.y, 23);
  // Concat: t1 first, then t2.
  CGAffineTransform both = CGAffineTransformConcat(CGAffineTransformMakeScale(2, 2), CGAffineTransformMakeTranslation(5, 0));
  p = CGPointApplyAffineTransform(CGPointMake(1, 1), both);
  EXPECT_DOUBLE_EQ(p.x, 7);
  EXPECT_DOUBLE_EQ(p.y, 2);
  // A quarter turn counter-clockwise.
  p = CGPointApplyAffineTransform(CGPointMake(1, 0), CGAffineTransformMakeRotation(M_PI / 2));
  EXPECT_NEAR(p.x, 0, 1e-12);
  EXPECT_NEAR(p.y, 1, 1e-12);
  // A 400 x 300 rectangle turned by 30 degrees about its centre (300, 225).
  CGAffineTransform turn = CGAffineTransformIdentity;
  turn = CGAffineTransformTranslate(turn, 300, 225);
  turn = CGAffineTransformRotate(turn, -30 * M_PI / 180);
  turn = CGAffineTransformTranslate(turn, -300, -225);
  const CGRect box = CGRectApplyAffineTransform(CGRectMake(100, 75, 400, 300), turn);
  const double w = 400 * std::cos(M_PI / 6) + 300 * 0.5, h = 400 * 0.5 + 300 * std::cos(M_PI / 6);
  EXPECT_NEAR(box.size.width, w, 1e-9);
  EXPECT_NEAR(box.size.height, h, 1e-9);
  EXPECT_NEAR(box.origin.x, 300 - w / 2, 1e-9);
  EXPECT_NEAR(box.origin.y, 225 - h / 2, 1e-9);
}

TEST(CGBitmapContext, TransformsDrawingAndRecordsTheSteps) {
  Canvas canvas(20, 10);
  CGContextSetRGBFillColor(canvas.c, 1, 1, 1, 1);
  CGContextFillRect(canvas.c, CGRectMake(0, 0, 20, 10));
  SkyloomCGSetRecording(true);
  CGContextSaveGState(canvas.c);
  // A 4 x 2 bar at the left, turned a quarter clockwise about (2, 5), then
  // scaled: it stands upright, 2 wide and 4 tall, centred on (2, 5) before the scale.
  CGContextTranslateCTM(canvas.c, 2, 5);
  CGContextRotateCTM(canvas.c, -M_PI / 2);
  CGContextTranslateCTM(canvas.c, -2, -5);
  CGContextScaleCTM(canvas.c, 1, 1);
  CGContextSetRGBFillColor(canvas.c, 0, 0, 0, 1);
  CGContextFillRect(canvas.c, CGRectMake(0, 4, 4, 2));
  CGContextRestoreGState(canvas.c);
  SkyloomCGSetRecording(false);
  const auto calls = SkyloomCGRecordedCalls();
  ASSERT_GE(calls.size(), 6u);
  EXPECT_EQ(calls[1].name, "CGContextTranslateCTM");
  EXPECT_EQ(calls[2].name, "CGContextRotateCTM");
  EXPECT_NEAR(calls[2].args[0], -M_PI / 2, 1e-12);
  EXPECT_EQ(calls[4].name, "CGContextScaleCTM");
  // Upright bar: x 1..3, y 3..7 in user space = memory rows 3..6.
  EXPECT_EQ(canvas.at(1, 4)[1], 0);
  EXPECT_EQ(canvas.at(2, 6)[1], 0);
  EXPECT_EQ(canvas.at(3, 4)[1], 255);
  EXPECT_EQ(canvas.at(0, 5)[1], 255);
  // After the restore the transformation is plain again.
  CGContextFillRect(canvas.c, CGRectMake(19, 0, 1, 1));
  EXPECT_EQ(canvas.at(19, 9)[1], 255);  // still the white fill colour (restored)
}

TEST(CGBitmapContext, DrawsStraightAlphaBlendedAndSkippedAlphaOpaque) {
  // A 2 x 1 image: red at alpha 128, green at alpha 0 (straight, not premultiplied).
  const UInt8 pixels[8] = {128, 255, 0, 0, 0, 0, 255, 0};
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, pixels, sizeof pixels, nullptr);
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  for (CGImageAlphaInfo alpha : {kCGImageAlphaFirst, kCGImageAlphaNoneSkipFirst}) {
    CGImageRef image = CGImageCreate(2, 1, 8, 32, 8, space, alpha, provider, nullptr, false, kCGRenderingIntentDefault);
    ASSERT_NE(image, nullptr);
    Canvas canvas(2, 1);
    CGContextSetRGBFillColor(canvas.c, 0, 0, 1, 1);
    CGContextFillRect(canvas.c, CGRectMake(0, 0, 2, 1));
    CGContextDrawImage(canvas.c, CGRectMake(0, 0, 2, 1), image);
    if (alpha == kCGImageAlphaFirst) {
      const Bytes half = canvas.at(0, 0);  // about half red, half the blue below
      EXPECT_EQ(half[0], 255);
      EXPECT_NEAR(half[1], 128, 1);
      EXPECT_EQ(half[2], 0);
      EXPECT_NEAR(half[3], 127, 1);
      EXPECT_EQ(canvas.at(1, 0), (Bytes{255, 0, 0, 255}));  // alpha 0 leaves the blue
    } else {
      EXPECT_EQ(canvas.at(0, 0), (Bytes{255, 255, 0, 0}));
      EXPECT_EQ(canvas.at(1, 0), (Bytes{255, 0, 255, 0}));
    }
    CGImageRelease(image);
  }
  CGColorSpaceRelease(space);
  CGDataProviderRelease(provider);
}

TEST(CGBitmapContext, StraightAlphaOfEveryPixelIsMultipliedInExactly) {
  // 37 pixels (whole vector blocks and a tail) of every alpha and colour
  // drawn over a clear canvas come out as (c x a + 127) / 255 with their alpha.
  const size_t n = 37;
  std::vector<UInt8> pixels(n * 4);
  UInt32 seed = 12345;
  for (UInt8& b : pixels) {
    seed = seed * 1664525u + 1013904223u;
    b = UInt8(seed >> 24);
  }
  pixels[0] = 0, pixels[4] = 255, pixels[5] = 255;  // alpha 0, and opaque white red
  CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, pixels.data(), pixels.size(), nullptr);
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGImageRef image = CGImageCreate(n, 1, 8, 32, n * 4, space, kCGImageAlphaFirst, provider, nullptr, false,
                                   kCGRenderingIntentDefault);
  ASSERT_NE(image, nullptr);
  Canvas canvas(n, 1);
  std::memset(canvas.bytes.data(), 0, canvas.bytes.size());
  CGContextDrawImage(canvas.c, CGRectMake(0, 0, double(n), 1), image);
  for (size_t i = 0; i < n; ++i) {
    const UInt8* p = &pixels[4 * i];
    const int a = p[0];
    EXPECT_EQ(canvas.at(i, 0), (Bytes{a, (p[1] * a + 127) / 255, (p[2] * a + 127) / 255, (p[3] * a + 127) / 255}))
        << "pixel " << i;
  }
  CGImageRelease(image);
  CGColorSpaceRelease(space);
  CGDataProviderRelease(provider);
}

}  // namespace
