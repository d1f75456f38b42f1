#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "app/CameraWindowData.h"
#include "pixel/BayerPlanes.h"
#include "pixel/FlatField.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/CpuPaths.h"

namespace {

TEST(FlatFactors, EvenFlatGivesNeutralFactorsAndLeavesFramesAlone) {
  const UInt32 w = 6, h = 4;
  std::vector<UInt8> flat8(w * h, 100);
  std::vector<UInt16> flat16(w * h, 40000);
  std::vector<FlattenedFrame8Bit> f8(w * h);
  std::vector<FlattenedFrame16Bit> f16(w * h);
  for (int builder = 0; builder < 3; ++builder) {
    for (UInt32 flag = 0; flag <= 1; ++flag) {
      std::fill(f8.begin(), f8.end(), 0);
      std::fill(f16.begin(), f16.end(), 0.0f);
      if (builder == 0) {
        myCreateFlattenedFrameMono8Bit(flat8.data(), f8.data(), w, h, UInt8(flag));
        myCreateFlattenedFrameMono16Bit(flat16.data(), f16.data(), w, h);
      } else if (builder == 1) {
        myCreateBayerFlattenedFrameRGGB8Bit(flat8.data(), f8.data(), w, h, flag, 0);
        myCreateBayerFlattenedFrameRGGB16Bit(flat16.data(), f16.data(), w, h, flag);
      } else {
        myCreateBayerFlattenedFrameBGGR8Bit(flat8.data(), f8.data(), w, h, flag, 1);
        myCreateBayerFlattenedFrameBGGR16Bit(flat16.data(), f16.data(), w, h, flag);
      }
      for (UInt32 i = 0; i < w * h; ++i) {
        ASSERT_EQ(f8[i], 65536) << builder;
        ASSERT_EQ(f16[i], 1.0f) << builder;
      }
      std::vector<UInt8> image8(w * h);
      std::vector<UInt16> image16(w * h);
      for (UInt32 i = 0; i < w * h; ++i) {
        image8[i] = UInt8(i * 11);
        image16[i] = UInt16(i * 2731);
      }
      const auto before8 = image8;
      const auto before16 = image16;
      myFlattenFrame8Bit(image8.data(), f8.data(), w * h, 0, 0);
      myFlattenFrame16Bit(image16.data(), f16.data(), w * h, 0, 0);
      EXPECT_EQ(image8, before8);
      EXPECT_EQ(image16, before16);
    }
  }
}

// Flat 50, 100, 150, 200 (mean 125): factors 2.5, 1.25, 0.8333, 0.625, and the
// image 100, 100, 100, 255 becomes 250, 125, 83, 159.
TEST(FlatFactors, MonoFlatWorkedExample) {
  const UInt8 flat8[4] = {50, 100, 150, 200};
  const UInt16 flat16[4] = {50, 100, 150, 200};
  FlattenedFrame8Bit f8[4];
  FlattenedFrame16Bit f16[4];
  myCreateFlattenedFrameMono8Bit(flat8, f8, 2, 2, 0);
  myCreateFlattenedFrameMono16Bit(flat16, f16, 4, 1);
  // 16.16 of 2.5, 1.25, 125/150 (54613.33 rounded) and 0.625.
  const Fixed want8[4] = {163840, 81920, 54613, 40960};
  const float want16[4] = {2.5f, 1.25f, float(125.0 / 150.0), 0.625f};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f8[i], want8[i]) << i;
    EXPECT_EQ(f16[i], want16[i]) << i;
  }
  UInt8 image[4] = {100, 100, 100, 255};
  myFlattenFrame8Bit(image, f8, 4, 0, 0);
  const UInt8 wantImage[4] = {250, 125, 83, 159};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(image[i], wantImage[i]) << i;
}

// Rows 100 50 100 50 / 50 200 50 200. RGGB with flag 1: red 100, green 50,
// blue 200, every factor 1.0. With flag 0 row 0 is the blue row (green,
// blue): green mean 150, blue 50, red 50. BGGR with flag 1 reads the same
// rows as green, red / blue, green and gives those factors again; with flag 0
// as blue, green / green, red: all 1.0.
TEST(FlatFactors, MosaicMeansPerColour) {
  const UInt32 w = 4, h = 2;
  const UInt8 flat8[8] = {100, 50, 100, 50, 50, 200, 50, 200};
  const UInt16 flat16[8] = {100, 50, 100, 50, 50, 200, 50, 200};
  const double uneven[8] = {1.5, 1.0, 1.5, 1.0, 1.0, 0.75, 1.0, 0.75};
  const double even[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  struct Case {
    void (*b8)(const UInt8*, FlattenedFrame8Bit*, UInt32, UInt32, UInt32, UInt8);
    void (*b16)(const UInt16*, FlattenedFrame16Bit*, UInt32, UInt32, UInt32);
    UInt32 flag;
    const double* want;
  };
  const Case cases[] = {
      {myCreateBayerFlattenedFrameRGGB8Bit, myCreateBayerFlattenedFrameRGGB16Bit, 1, even},
      {myCreateBayerFlattenedFrameRGGB8Bit, myCreateBayerFlattenedFrameRGGB16Bit, 0, uneven},
      {myCreateBayerFlattenedFrameBGGR8Bit, myCreateBayerFlattenedFrameBGGR16Bit, 1, uneven},
      {myCreateBayerFlattenedFrameBGGR8Bit, myCreateBayerFlattenedFrameBGGR16Bit, 0, even},
  };
  for (const Case& c : cases) {
    FlattenedFrame8Bit f8[8];
    FlattenedFrame16Bit f16[8];
    c.b8(flat8, f8, w, h, c.flag, 0);
    c.b16(flat16, f16, w, h, c.flag);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(f8[i], Fixed(c.want[i] * 65536)) << i << " flag " << c.flag;
      EXPECT_EQ(f16[i], float(c.want[i])) << i << " flag " << c.flag;
    }
  }
}

// The live pipeline's choice: the record's BayerFormat gives builder and flag.
TEST(FlatFactors, RecordBayerFormatChoosesTheMosaicWalk) {
  // Format 2 (GBRG): rows G B / R G. Greens 10, blue 20, red 40.
  const UInt8 flat[8] = {10, 20, 10, 20, 40, 10, 40, 10};
  MyCameraWindowDataStruct record{};
  record.mBayerFormat = 2;
  record.mColourSensor = 1;
  const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(record.mBayerFormat);
  ASSERT_EQ(choice.family, kMyBayerFamilyRGGB);
  FlattenedFrame8Bit f[8];
  myCreateBayerFlattenedFrameRGGB8Bit(flat, f, 4, 2, choice.startRowFlag, record.mHasVectorUnit);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f[i], 65536) << i;
}

TEST(FlatFactors, ZeroSamplesAndZeroMeansAreNeutral) {
  const UInt8 someZero8[4] = {0, 100, 100, 100};
  const UInt16 someZero16[4] = {0, 100, 100, 100};
  const UInt8 allZero8[4] = {};
  const UInt16 allZero16[4] = {};
  FlattenedFrame8Bit f8[4];
  FlattenedFrame16Bit f16[4];
  myCreateFlattenedFrameMono8Bit(someZero8, f8, 4, 1, 0);
  myCreateFlattenedFrameMono16Bit(someZero16, f16, 4, 1);
  EXPECT_EQ(f8[0], 65536);
  EXPECT_EQ(f16[0], 1.0f);
  EXPECT_EQ(f8[1], X2Fix(75.0 / 100.0));
  EXPECT_EQ(f16[1], 0.75f);
  for (auto build8 : {myCreateBayerFlattenedFrameRGGB8Bit, myCreateBayerFlattenedFrameBGGR8Bit}) {
    build8(allZero8, f8, 2, 2, 1, 0);
    for (Fixed v : f8) EXPECT_EQ(v, 65536);
  }
  for (auto build16 : {myCreateBayerFlattenedFrameRGGB16Bit, myCreateBayerFlattenedFrameBGGR16Bit}) {
    build16(allZero16, f16, 2, 2, 0);
    for (float v : f16) EXPECT_EQ(v, 1.0f);
  }
  myCreateFlattenedFrameMono8Bit(allZero8, f8, 2, 2, 0);
  for (Fixed v : f8) EXPECT_EQ(v, 65536);
  // One row: the blue samples of an RGGB flag-1 mosaic have no row, so blue
  // would be neutral; red and green still get their means.
  const UInt16 oneRow[4] = {100, 50, 300, 150};
  myCreateBayerFlattenedFrameRGGB16Bit(oneRow, f16, 4, 1, 1);
  EXPECT_EQ(f16[0], 2.0f);
  EXPECT_EQ(f16[2], float(200.0 / 300.0));
  EXPECT_EQ(f16[3], float(100.0 / 150.0));
}

TEST(FlattenFrame8Bit, SaturationAndIntegerPart) {
  struct Case { UInt8 p; double factor; UInt8 want; };
  const Case cases[] = {
      {200, 1.28, 255},   // 256.0
      {200, 1.2705, 255}, // 254.1: above 254.0 by a fraction
      {127, 2.0, 254},    // exactly 254.0 stays
      {255, 1.0, 255},    {0, 200.0, 0},   {1, 254.5, 255},
      {3, 0.5, 1},        {255, 0.001, 0}, {1, 30000.0, 255},
  };
  for (const Case& c : cases) {
    UInt8 image = c.p;
    const FlattenedFrame8Bit f = X2Fix(c.factor);
    myFlattenFrame8Bit(&image, &f, 1, 0, 0);
    EXPECT_EQ(image, c.want) << int(c.p) << " x " << c.factor;
  }
}

// Every sample value against factors at the 254.0 boundary of each value and
// at the ends of the 16.16 range, in runs long enough for the block loop.
TEST(FlattenFrame8Bit, EverySampleValueAtBoundaryFactors) {
  std::vector<Fixed> factors = {0, 1, 65535, 65536, 65537, 254 * 65536, 254 * 65536 + 1,
                                254 * 65536 + 2, 255 * 65536, 0x7FFFFFFF, -1, -65536,
                                INT32_MIN};
  for (SInt64 p = 1; p <= 255; ++p) {
    factors.push_back(Fixed(254 * 65536 / p));
    factors.push_back(Fixed(254 * 65536 / p + 1));
  }
  for (Fixed f : factors) {
    std::vector<UInt8> image(256);
    for (int p = 0; p < 256; ++p) image[p] = UInt8(p);
    const std::vector<FlattenedFrame8Bit> run(256, f);
    myFlattenFrame8Bit(image.data(), run.data(), 256, 0, 0);
    for (int p = 0; p < 256; ++p) {
      const Fixed r = FixMul(Fixed(p) << 16, f);
      const UInt8 want = r > 254 * 65536 ? 255 : r < 0 ? 0 : UInt8(r >> 16);
      ASSERT_EQ(image[p], want) << p << " x " << f;
    }
  }
}

TEST(FlattenFrame16Bit, SaturationTruncationAndBadFactors) {
  struct Case { UInt16 p; float factor; UInt16 want; };
  const Case cases[] = {
      {60000, 1.1f, 65535},   {1000, 0.0005f, 0},   {65534, 1.0f, 65534},
      {65535, 1.0f, 65535},   {32767, 2.0f, 65534}, {3, 0.5f, 1},
      {100, -1.0f, 0},        {100, std::numeric_limits<float>::quiet_NaN(), 0},
      {100, std::numeric_limits<float>::infinity(), 65535},
  };
  for (const Case& c : cases) {
    UInt16 image = c.p;
    myFlattenFrame16Bit(&image, &c.factor, 1, 0, 0);
    EXPECT_EQ(image, c.want) << c.p << " x " << c.factor;
  }
}

TEST(FlattenFrame16Bit, OddCountCorrectsTheLastSampleToo) {
  for (UInt8 altivec = 0; altivec <= 1; ++altivec) {
    alignas(16) UInt16 image[8] = {100, 200, 300, 400, 500, 7, 7, 7};
    alignas(16) FlattenedFrame16Bit factors[8] = {2, 2, 2, 2, 2, 2, 2, 2};
    myFlattenFrame16Bit(image, factors, 5, altivec, 0);
    const UInt16 want[8] = {200, 400, 600, 800, 1000, 7, 7, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(image[i], want[i]) << i;
  }
}

// Every count and alignment, through both entry points and the vector-named
// forms, against the 16.16 product of the fixed-point layer and the single
// precision product, sample by sample. Factors span neutral, small, large and
// saturating values, and a few negative ones.
TEST(FlattenFrame, EveryFormMatchesTheReferenceProduct) {
  std::mt19937 rng(12345);
  const UInt32 counts[] = {0, 1, 3, 31, 32, 33, 100, 1027};
  for (UInt32 count : counts) {
    for (UInt32 offset : {0u, 1u, 2u}) {
      std::vector<UInt8> image8(count + 40);
      std::vector<UInt16> image16(count + 40);
      std::vector<FlattenedFrame8Bit> f8(count + 40);
      std::vector<FlattenedFrame16Bit> f16(count + 40);
      for (size_t i = 0; i < image8.size(); ++i) {
        image8[i] = UInt8(rng());
        image16[i] = UInt16(rng());
        const double factor = (rng() % 4 == 0) ? 1.0 : std::ldexp(double(rng() % 10000), -13);
        const double scale = (rng() % 50 == 0) ? 300.0 : (rng() % 50 == 0) ? -1.0 : 1.0;
        f8[i] = X2Fix(factor * scale);
        f16[i] = float(factor);
      }
      for (int form = 0; form < 3; ++form) {
        auto i8 = image8;
        auto i16 = image16;
        if (form == 2) {
          myAltivecFlattenFrame8Bit(i8.data() + offset, f8.data() + offset, count, 0);
          myAltivecFlattenFrame16Bit(i16.data() + offset, f16.data() + offset, count, 1);
        } else {
          myFlattenFrame8Bit(i8.data() + offset, f8.data() + offset, count, UInt8(form), 0);
          myFlattenFrame16Bit(i16.data() + offset, f16.data() + offset, count, UInt8(form), 0);
        }
        for (size_t i = 0; i < i8.size(); ++i) {
          const bool inside = i >= offset && i < offset + count;
          UInt8 want8 = image8[i];
          UInt16 want16 = image16[i];
          if (inside) {
            const Fixed r = FixMul(Fixed(image8[i]) << 16, f8[i]);
            // A negative factor (never built, but the buffer is the caller's) gives 0.
            want8 = r > 254 * 65536 ? 255 : r < 0 ? 0 : UInt8(r >> 16);
            const float v = f16[i] * float(image16[i]);
            want16 = v > 65534.0f ? 65535 : UInt16(std::trunc(v));
          }
          ASSERT_EQ(i8[i], want8) << count << " " << offset << " " << form << " at " << i;
          ASSERT_EQ(i16[i], want16) << count << " " << offset << " " << form << " at " << i;
        }
      }
    }
  }
}

// Every instruction-set path the host runs gives the plain path's bytes, on
// frames whose widths (1-67) and odd heights leave every kind of tail, with
// factors at the saturation edges, negative, huge, infinite and NaN.
TEST(FlattenFrame, EveryCpuPathMatchesThePlainPathBitForBit) {
  std::mt19937 rng(777);
  const float specials16[] = {0.0f, 1.0f, -1.0f, 65534.0f / 65535.0f, 2.0f, 1e30f,
                              std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(), -0.0f};
  const Fixed specials8[] = {0, 1, 65536, 254 * 65536, 254 * 65536 + 1, 0x7FFFFFFF, -1, INT32_MIN};
  const MyCpuPath paths[] = {kMyCpuPathSSE2, kMyCpuPathAVX2, kMyCpuPathAVX512};
  for (UInt32 width = 1; width <= 67; ++width) {
    for (UInt32 height : {1u, 3u, 5u}) {
      const UInt32 n = width * height;
      std::vector<UInt8> image8(n);
      std::vector<UInt16> image16(n);
      std::vector<FlattenedFrame8Bit> f8(n);
      std::vector<FlattenedFrame16Bit> f16(n);
      for (UInt32 i = 0; i < n; ++i) {
        image8[i] = UInt8(rng());
        image16[i] = UInt16(rng());
        const UInt32 pick = rng() % 8;
        f8[i] = pick == 0 ? specials8[rng() % 8] : Fixed(rng() % (300u << 16));
        f16[i] = pick == 0 ? specials16[rng() % 9] : float(rng() % 40000) / 16384.0f;
      }
      mySetCpuPathLimit(kMyCpuPathPlain);
      auto plain8 = image8;
      auto plain16 = image16;
      myFlattenFrame8Bit(plain8.data(), f8.data(), n, 0, 0);
      myFlattenFrame16Bit(plain16.data(), f16.data(), n, 0, 0);
      for (MyCpuPath path : paths) {
        mySetCpuPathLimit(path);
        auto i8 = image8;
        auto i16 = image16;
        myFlattenFrame8Bit(i8.data(), f8.data(), n, 0, 0);
        myFlattenFrame16Bit(i16.data(), f16.data(), n, 0, 0);
        ASSERT_EQ(i8, plain8) << "path " << path << " " << width << "x" << height;
        ASSERT_EQ(i16, plain16) << "path " << path << " " << width << "x" << height;
      }
      mySetCpuPathLimit(kMyCpuPathAVX512);
    }
  }
}

}  // namespace
