#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pixel/BayerSharpness.h"

namespace {

using Estimator8 = void (*)(const UInt8*, UInt32, UInt32, UInt32, double*);
using Estimator16 = void (*)(const UInt16*, UInt32, UInt32, UInt32, double*);

struct Form {
  const char* name;
  Estimator8 e8;
  Estimator16 e16;
  UInt32 flag;
  UInt32 greenParityRow0;  // column parity of row 0's greens
};
const Form kForms[] = {
    {"RGGB flag 1", myBayer8RGGBSharpnessEstimator, myBayer16RGGBSharpnessEstimator, 1, 1},
    {"RGGB flag 0", myBayer8RGGBSharpnessEstimator, myBayer16RGGBSharpnessEstimator, 0, 0},
    {"BGGR flag 1", myBayer8BGGRSharpnessEstimator, myBayer16BGGRSharpnessEstimator, 1, 0},
    {"BGGR flag 0", myBayer8BGGRSharpnessEstimator, myBayer16BGGRSharpnessEstimator, 0, 1},
};

double run8(const Form& f, const std::vector<UInt8>& m, UInt32 w, UInt32 h) {
  double out = -1.0;
  f.e8(m.data(), w, h, f.flag, &out);
  return out;
}
double run16(const Form& f, const std::vector<UInt16>& m, UInt32 w, UInt32 h) {
  double out = -1.0;
  f.e16(m.data(), w, h, f.flag, &out);
  return out;
}

std::vector<UInt16> widen(const std::vector<UInt8>& m) {
  std::vector<UInt16> out(m.size());
  for (std::size_t i = 0; i < m.size(); ++i) out[i] = UInt16(m[i] * 257);
  return out;
}

TEST(BayerSharpness, ConstantFrameAndColourWithoutDetailScoreZero) {
  const UInt32 w = 20, h = 9;
  for (const Form& f : kForms) {
    EXPECT_EQ(run8(f, std::vector<UInt8>(w * h, 77), w, h), 0.0) << f.name;
    EXPECT_EQ(run16(f, std::vector<UInt16>(w * h, 40000), w, h), 0.0) << f.name;
    // A flat coloured scene: greens 100, reds 200, blues 30. Greens meet
    // greens, so colour alone is no detail.
    std::vector<UInt8> colour(w * h);
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x) {
        const bool green = (x & 1u) == ((f.greenParityRow0 + y) & 1u);
        colour[y * w + x] = green ? 100 : ((y & 1u) == 0 ? 200 : 30);
      }
    EXPECT_EQ(run8(f, colour, w, h), 0.0) << f.name;
    EXPECT_EQ(run16(f, widen(colour), w, h), 0.0) << f.name;
  }
}

TEST(BayerSharpness, TinyFramesScoreZeroWithoutReadingPastThem) {
  // Exactly sized buffers: under ASan any read past them fails the test.
  struct Size { UInt32 w, h; };
  const Size sizes[] = {{4, 2}, {40, 2}, {4, 9}, {5, 9}, {3, 9}, {9, 1}, {0, 0}, {1, 1}};
  for (const Form& f : kForms)
    for (const Size& s : sizes) {
      std::vector<UInt8> m8(std::size_t(s.w) * s.h);
      std::vector<UInt16> m16(m8.size());
      for (std::size_t i = 0; i < m8.size(); ++i) m8[i] = UInt8(i * 37), m16[i] = UInt16(i * 9001);
      EXPECT_EQ(run8(f, m8, s.w, s.h), 0.0) << f.name << " " << s.w << "x" << s.h;
      EXPECT_EQ(run16(f, m16, s.w, s.h), 0.0) << f.name << " " << s.w << "x" << s.h;
    }
}

TEST(BayerSharpness, NarrowFramesStayInsideTheirRows) {
  // Widths 6 and 7 hold fewer than four greens of one parity in a row; the
  // window repeats the last green. Exact buffers, and a finite figure.
  for (const Form& f : kForms)
    for (UInt32 w : {6u, 7u, 8u, 9u}) {
      const UInt32 h = 5;
      std::vector<UInt8> m(w * h);
      for (std::size_t i = 0; i < m.size(); ++i) m[i] = UInt8((i * 97) & 0xFF);
      const double v = run8(f, m, w, h);
      EXPECT_GE(v, 0.0) << f.name << " " << w;
      EXPECT_LE(v, 255.0) << f.name << " " << w;
    }
}

// One row pair worked by hand. Width 8, height 3: P = 2 terms, D = 2, only
// row 0 is measured. Row 0's greens read 10, 20, 30, 41 whichever parity they
// have (their mean is 101 >> 2 = 25); the next row's greens under terms 1 and
// 2 read 5 and 40: (|25 - 5| + |25 - 40|) / 2 = 17.5. On the 16-bit scale
// (samples x 257): mean 25957 >> 2 = 6489, (|6489 - 1285| + |6489 - 10280|) / 2
// = 4497.5.
TEST(BayerSharpness, WorkedRowPair) {
  const std::vector<UInt8> m = {10, 10, 20, 20, 30, 30, 41, 41,  //
                                0,  0,  5,  5,  40, 40, 0,  0,   //
                                9,  9,  9,  9,  9,  9,  9,  9};
  for (const Form& f : kForms) {
    EXPECT_DOUBLE_EQ(run8(f, m, 8, 3), 17.5) << f.name;
    EXPECT_DOUBLE_EQ(run16(f, widen(m), 8, 3), 4497.5) << f.name;
  }
}

// A grey scene with fine detail (hashed noise plus a few hard edges), and
// the same scene through a 3x3 box blur.
std::vector<UInt8> scene(UInt32 w, UInt32 h, bool blurred) {
  std::vector<UInt8> sharp(w * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      UInt32 v = ((x * 73856093u) ^ (y * 19349663u)) * 2654435761u >> 26;  // 0..63
      if ((x / 7 + y / 5) % 2 == 0) v += 150;
      sharp[y * w + x] = UInt8(v);
    }
  if (!blurred) return sharp;
  std::vector<UInt8> out(sharp.size());
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      UInt32 sum = 0, n = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = int(x) + dx, yy = int(y) + dy;
          if (xx < 0 || yy < 0 || xx >= int(w) || yy >= int(h)) continue;
          sum += sharp[yy * w + xx], ++n;
        }
      out[y * w + x] = UInt8(sum / n);
    }
  return out;
}

TEST(BayerSharpness, SharperSceneScoresHigher) {
  for (UInt32 w : {64u, 63u})
    for (const Form& f : kForms) {
      const UInt32 h = 47;
      const std::vector<UInt8> sharp = scene(w, h, false), soft = scene(w, h, true);
      const double s8 = run8(f, sharp, w, h), b8 = run8(f, soft, w, h);
      const double s16 = run16(f, widen(sharp), w, h), b16 = run16(f, widen(soft), w, h);
      EXPECT_GT(s8, 1.5 * b8) << f.name << " w " << w;
      EXPECT_GT(b8, 0.0) << f.name << " w " << w;
      EXPECT_GT(s16, 1.5 * b16) << f.name << " w " << w;
      // The 16-bit figure is on the 16-bit scale.
      EXPECT_NEAR(s16 / s8, 257.0, 257.0 * 0.05) << f.name << " w " << w;
    }
}

TEST(BayerSharpness, NullOutputOrBufferIsHarmless) {
  double out = -1.0;
  myBayer8RGGBSharpnessEstimator(nullptr, 16, 16, 1, &out);
  EXPECT_EQ(out, 0.0);
  const std::vector<UInt8> m(256, 3);
  myBayer8RGGBSharpnessEstimator(m.data(), 16, 16, 1, nullptr);
}

}  // namespace
