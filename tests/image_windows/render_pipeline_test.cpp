// The render against values worked out by hand from its rules. Every plane
// here has exactly the size its pixels need, so ASan sees any access past it.
#include "image_windows/RenderPipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "pixel/Filters16.h"
#include "pixel/LumaRGB48.h"
#include "pixel/RowBands.h"

namespace {

typedef std::vector<UInt16> Plane;

// A record over planes it owns, made as a window's creation makes it:
// luminance and LRGB64 split from the image, the cascade and the detail planes.
struct Rendered {
  Rendered(UInt32 w, UInt32 h, const Plane& image, bool locked = true) : rgb(image) {
    r.mRecordTag = kImageWindowRecordTag;
    r.mWidth = w;
    r.mHeight = h;
    r.mRowBytes = w * 6;
    r.mGreenOffsetsLocked = locked;
    mySetImageWindowDefaultSettings(&r);
    for (Float32& a : r.mSharpAmount) a = 1.0f;  // what the sliders make of position 10
    const size_t n = size_t(w) * h;
    lrgb.assign(n * 4, 0);
    luma.assign(n, 0);
    work.assign(n * 3, 0);
    render.assign(n * 3, 0);
    for (auto& p : blur) p.assign(n, 0);
    for (auto& p : detail) p.assign(n, 0);
    r.mSourceRGB48 = rgb.data();
    r.mSourceLRGB64 = lrgb.data();
    r.mSourceLuma16 = luma.data();
    r.mWorkRGB48 = work.data();
    r.mRenderRGB48 = render.data();
    for (int k = 0; k < 7; ++k) {
      r.mBlurLevel[k] = blur[k].data();
      r.mDetailLevel[k] = detail[k].data();
    }
    myRGB48ToLRGB64AndLuma16(rgb.data(), lrgb.data(), luma.data(), w, h);
    myBuildBlurCascade(&r);
    myBuildDetailLevels(&r);
  }
  Rendered(const Rendered&) = delete;
  const Plane& Render() {
    myRenderSettingsToRGB48(&r);
    return render;
  }
  Plane P() const { return Plane(work.begin(), work.begin() + luma.size()); }
  MyImageWindowDataStruct r{};
  Plane rgb, lrgb, luma, work, render;
  std::array<Plane, 7> blur, detail;
};

Plane Random(size_t samples, UInt32 seed, UInt16 lo = 0, UInt16 hi = 65535) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  Plane p(samples);
  for (UInt16& v : p) v = UInt16(d(gen));
  return p;
}

Plane Pixel(UInt16 red, UInt16 green, UInt16 blue) { return Plane{red, green, blue}; }

TEST(RenderPipeline, DefaultsGiveTheSourceBitForBit) {
  for (bool locked : {true, false}) {
    for (auto [w, h] : {std::pair<UInt32, UInt32>{37, 23}, {1, 1}}) {
      Rendered img(w, h, Random(size_t(w) * h * 3, w + locked), locked);
      EXPECT_EQ(img.Render(), img.rgb) << w << " locked " << locked;
      img.r.mAltivecFlag = 1;  // the vector forms agree on the defaults
      EXPECT_EQ(img.Render(), img.rgb) << w << " locked " << locked;
    }
  }
}

TEST(RenderPipeline, RecombinationScalesByTheLuminanceRatio) {
  const struct {
    UInt16 storedLuma, processedLuma, colour, result;
  } kCases[] = {
      {1000, 1500, 2000, 3000},   {3, 2, 100, 66},       {40000, 50000, 60000, 65535},
      {0, 500, 1234, 1234},       {800, 0, 1234, 1234},  {800, 800, 1234, 1234},
  };
  for (const auto& c : kCases) {
    Rendered img(1, 1, Pixel(c.colour, c.colour, c.colour));
    img.lrgb[0] = c.storedLuma;
    img.luma[0] = c.processedLuma;  // with no sharpening P is the luminance
    EXPECT_EQ(img.Render(), Pixel(c.result, c.result, c.result)) << c.storedLuma << " " << c.processedLuma;
  }
}

// The image with one channel shifted as the render's first step shifts it.
Plane Shifted(const Plane& image, UInt32 w, UInt32 h, int channel, int dx, int dy) {
  Plane out = image;
  for (int y = 0; y < int(h); ++y)
    for (int x = 0; x < int(w); ++x) {
      const int sx = x - dx, sy = y + dy;
      if (sx >= 0 && sx < int(w) && sy >= 0 && sy < int(h))
        out[(size_t(y) * w + x) * 3 + channel] = image[(size_t(sy) * w + sx) * 3 + channel];
    }
  return out;
}

TEST(RenderPipeline, OffsetsMoveOneChannel) {
  Plane image(8 * 4 * 3);
  for (size_t i = 0; i < image.size(); ++i) image[i] = UInt16(1000 + 37 * i);
  const struct {
    int channel, dx, dy;
  } kCases[] = {{0, 3, 0}, {2, 0, 2}, {0, -2, -1}, {1, 1, 3}};
  for (const auto& c : kCases) {
    Rendered img(8, 4, image);
    img.r.mGreenOffsetsLocked = c.channel == 1 ? 0 : 1;
    SInt32* fields[3][2] = {{&img.r.mRedHorzOffset, &img.r.mRedVertOffset},
                            {&img.r.mGreenHorzOffset, &img.r.mGreenVertOffset},
                            {&img.r.mBlueHorzOffset, &img.r.mBlueVertOffset}};
    *fields[c.channel][0] = c.dx;
    *fields[c.channel][1] = c.dy;
    img.r.mOffsetsActive = 1;
    const Plane expected = Shifted(image, 8, 4, c.channel, c.dx, c.dy);
    if (img.r.mGreenOffsetsLocked) {
      // Luminance, colour, cascade and detail planes are those of the shifted image.
      EXPECT_EQ(img.Render(), expected) << c.channel << c.dx << c.dy;
      Rendered fresh(8, 4, expected);
      EXPECT_EQ(img.luma, fresh.luma);
      EXPECT_EQ(img.lrgb, fresh.lrgb);
      EXPECT_EQ(img.blur, fresh.blur);
      EXPECT_EQ(img.detail, fresh.detail);
    } else {
      // Only the LRGB64 copy follows the shifted colour, around the old luminance.
      const Rendered before(8, 4, image, false);
      Plane merged(8 * 4 * 4);
      myLuma16AndRGB48ToMergedLRGB64(before.luma.data(), expected.data(), merged.data(), 8, 4);
      img.Render();
      EXPECT_EQ(img.lrgb, merged);
      EXPECT_EQ(img.luma, before.luma);
      EXPECT_EQ(img.blur, before.blur);
      EXPECT_EQ(img.detail, before.detail);
    }
    EXPECT_EQ(img.r.mOffsetsActive, 0);
  }
  // Spot checks of the direction: red +3 lands three columns right, the first
  // three keep their own; blue dy +2 comes from two rows down.
  const Plane red = Shifted(image, 8, 4, 0, 3, 0);
  EXPECT_EQ(red[(1 * 8 + 5) * 3], image[(1 * 8 + 2) * 3]);
  EXPECT_EQ(red[(1 * 8 + 2) * 3], image[(1 * 8 + 2) * 3]);
  const Plane blue = Shifted(image, 8, 4, 2, 0, 2);
  EXPECT_EQ(blue[(0 * 8 + 4) * 3 + 2], image[(2 * 8 + 4) * 3 + 2]);
  EXPECT_EQ(blue[(3 * 8 + 4) * 3 + 2], image[(3 * 8 + 4) * 3 + 2]);
}

TEST(RenderPipeline, OffsetsAsLargeAsTheImageCopyNothing) {
  const struct {
    UInt32 size;
    SInt32 offset;
  } kCases[] = {{5, 8}, {5, -5}, {10, 1000}, {10, -1000}, {1, 1}};
  for (const auto& c : kCases) {
    const Plane image = Random(size_t(c.size) * c.size * 3, c.size);
    Rendered img(c.size, c.size, image);
    img.r.mRedHorzOffset = img.r.mBlueVertOffset = c.offset;
    img.r.mBlueHorzOffset = c.offset;
    img.r.mOffsetsActive = 1;
    EXPECT_EQ(img.Render(), image) << c.size << " " << c.offset;
  }
}

TEST(RenderPipeline, SharpeningSumRunsOnlyWhenAsked) {
  const struct {
    UInt8 active;
    SInt32 min, max;
    bool summed;
  } kCases[] = {{0, 0, 65535, false}, {0, 0, 0, false}, {1, 0, 65535, true},
                {0, 1, 65535, true},  {0, 0, 65534, true}, {0, 0, 1, true}};
  for (const auto& c : kCases) {
    Rendered img(1, 1, Pixel(2000, 2000, 2000));
    img.lrgb[0] = 1000;
    img.luma[0] = 1000;
    for (int k = 0; k < 7; ++k) img.detail[k][0] = UInt16(k == 0 ? 900 : 100);  // sum 1500
    img.r.mSharpenActive = c.active;
    img.r.mMinSharpenThreshold = c.min;
    img.r.mMaxSharpenThreshold = c.max;
    const UInt16 v = c.summed ? 3000 : 2000;
    EXPECT_EQ(img.Render(), Pixel(v, v, v)) << int(c.active) << " " << c.min << " " << c.max;
  }
}

TEST(RenderPipeline, NoiseLevelsRunTheirFilters) {
  typedef void (*Filter)(const UInt16*, UInt16*, UInt32, UInt32, UInt32, UInt32);
  const struct {
    UInt32 level;
    Filter filter;
    std::vector<UInt32> thresholds;
  } kCases[] = {
      {1, nullptr, {}},
      {2, my3by3MedianLuma16, {1275}},
      {4, my3by3MedianLuma16, {1275, 2550}},
      {5, my3by3MedianLuma16, {1275, 2550, 5100}},
      {6, my3by3MinMaxAverageLuma16, {2550}},
      {9, my3by3MinMaxAverageLuma16, {2550, 5100, 10200}},
      {10, my3by3AverageLuma16, {2550}},
      {13, my3by3AverageLuma16, {2550, 5100, 10200}},
      {14, nullptr, {}},
      {20, nullptr, {}},
  };
  const UInt32 w = 37, h = 23;
  const Plane image = Random(w * h * 3, 7, 20000, 32000);
  for (const auto& c : kCases) {
    Rendered img(w, h, image);
    img.r.mNoiseReduction = c.level;
    Plane expected = img.luma, scratch(w * h);
    for (UInt32 t : c.thresholds) {
      c.filter(expected.data(), scratch.data(), w, h, w * 2, t);
      expected = scratch;
    }
    img.Render();
    EXPECT_EQ(img.P(), expected) << c.level;
    if (c.thresholds.empty()) {
      EXPECT_EQ(img.render, image) << c.level;
    }
  }
}

TEST(RenderPipeline, StretchOfTheLuminanceKeepsColourRatios) {
  const Plane image = {20000, 10000, 5000, 40000, 30000, 10000, 60000, 20000, 50000};
  for (UInt8 lrgb : {1, 0}) {
    Rendered img(3, 1, image);
    img.r.mCurve = 1.5f;
    img.r.mLRGBMode = lrgb;
    const Plane out = img.Render();
    for (int px = 0; px < 3; ++px) {
      const double fr = double(out[px * 3]) / image[px * 3];
      const double fg = double(out[px * 3 + 1]) / image[px * 3 + 1];
      const double fb = double(out[px * 3 + 2]) / image[px * 3 + 2];
      EXPECT_LT(fr, 1.0) << px;  // a curve of 1.5 darkens
      if (lrgb) {
        // One factor a pixel, to within one unit of each channel.
        EXPECT_NEAR(fr * image[px * 3 + 1], out[px * 3 + 1], 1.0) << px;
        EXPECT_NEAR(fr * image[px * 3 + 2], out[px * 3 + 2], 1.0) << px;
      } else {
        // Each channel on its own: v' = 65535 (v / 65535)^1.5.
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(out[px * 3 + c], std::floor(65535.0 * std::pow(image[px * 3 + c] / 65535.0, 1.5)), 1.0);
        EXPECT_GT(std::fabs(fr - fg) + std::fabs(fg - fb), 0.05) << px;
      }
    }
  }
}

TEST(RenderPipeline, ColourStepsFollowTheirRules) {
  struct Case {
    const char* what;
    void (*set)(MyImageWindowDataStruct*);
    Plane in, out;
  };
  const Case kCases[] = {
      {"levels 1000..61000", [](MyImageWindowDataStruct* r) { r->mMinRed = 1000, r->mMaxRed = 61000; },
       {999, 7, 7, 31000, 7, 7, 60999, 7, 7, 61000, 7, 7, 65535, 7, 7},
       {0, 7, 7, 32767, 7, 7, 65533, 7, 7, 65535, 7, 7, 65535, 7, 7}},
      {"levels 5000..5000", [](MyImageWindowDataStruct* r) { r->mMinBlue = r->mMaxBlue = 5000; },
       {7, 7, 4999, 7, 7, 5000, 7, 7, 5001}, {7, 7, 0, 7, 7, 0, 7, 7, 65535}},
      {"balance 1.2", [](MyImageWindowDataStruct* r) { r->mRedBalance = 1.2f; },
       {50000, 50000, 50000}, {60000, 50000, 50000}},
      {"balance 1.5", [](MyImageWindowDataStruct* r) { r->mGreenBalance = 1.5f; },
       {50000, 50000, 50000}, {50000, 65535, 50000}},
      {"balance near 1", [](MyImageWindowDataStruct* r) { r->mBlueBalance = 1.0009f; },
       {50000, 50000, 50000}, {50000, 50000, 50000}},
      {"balance 0.5", [](MyImageWindowDataStruct* r) { r->mRedBalance = r->mGreenBalance = r->mBlueBalance = 0.5f; },
       {50001, 3, 1}, {25000, 1, 0}},
      {"saturation 1", [](MyImageWindowDataStruct* r) { r->mSaturation = 1.0f; },
       {30000, 20000, 10000}, {45000, 20000, 0}},
      {"saturation -1", [](MyImageWindowDataStruct* r) { r->mSaturation = -1.0f; },
       {30000, 20000, 10000}, {15000, 20000, 25000}},
      {"saturation 7", [](MyImageWindowDataStruct* r) { r->mSaturation = 7.0f; },
       {10000, 10000, 10100}, {9650, 9650, 10800}},
      {"saturation 9", [](MyImageWindowDataStruct* r) { r->mSaturation = 9.0f; },
       {10000, 10000, 10100}, {9650, 9650, 10800}},
      {"saturation near 0", [](MyImageWindowDataStruct* r) { r->mSaturation = 0.0009f; },
       {30000, 20000, 10000}, {30000, 20000, 10000}},
  };
  for (const Case& c : kCases) {
    Rendered img(UInt32(c.in.size() / 3), 1, c.in);
    c.set(&img.r);
    EXPECT_EQ(img.Render(), c.out) << c.what;
  }
}

TEST(RenderPipeline, EverythingOnStaysInsideItsPlanes) {
  const UInt32 w = 37, h = 23;
  for (UInt8 vector : {0, 1}) {
    Rendered img(w, h, Random(w * h * 3, 11), vector == 0);
    MyImageWindowDataStruct& r = img.r;
    r.mAltivecFlag = vector;
    r.mSharpenActive = 1;
    for (int k = 0; k < 7; ++k) r.mSharpAmount[k] = 1.5f + k;
    r.mMinSharpenThreshold = 10;
    r.mMaxSharpenThreshold = 40000;
    r.mSharpenSmooth = 1;
    myBuildDetailLevels(&r);
    r.mCurve = 1.5f;
    r.mCurveCutoff = 500;
    r.mNoiseReduction = 13;
    r.mMinRed = 1000, r.mMaxRed = 60000, r.mMinGreen = 70000, r.mMaxBlue = 3;
    r.mRedBalance = 1.2f, r.mBlueBalance = 0.8f;
    r.mSaturation = 2.5f;
    r.mRedHorzOffset = -8, r.mBlueVertOffset = 8, r.mGreenHorzOffset = 3, r.mRedVertOffset = 40;
    r.mOffsetsActive = 1;
    img.Render();
    r.mLRGBMode = 0;
    img.Render();
    EXPECT_EQ(r.mOffsetsActive, 0);
  }
}

TEST(RenderPipeline, BandsOnSeveralThreadsGiveTheSameImage) {
  const UInt32 w = 521, h = 387;
  const Plane image = Random(w * h * 3, 5);
  std::array<Plane, 2> out;
  for (int run = 0; run < 2; ++run) {
    mySetRowBandThreadLimit(run == 0 ? 1 : 4);
    Rendered img(w, h, image);
    img.r.mSharpenActive = 1;
    img.r.mSharpAmount[2] = 3.0f;
    myBuildDetailLevels(&img.r);
    img.r.mRedHorzOffset = 2;
    img.r.mOffsetsActive = 1;
    img.r.mMinGreen = 300;
    img.r.mRedBalance = 1.1f;
    img.r.mSaturation = 0.7f;
    out[run] = img.Render();
  }
  mySetRowBandThreadLimit(0);
  EXPECT_EQ(out[0], out[1]);
}

}  // namespace
