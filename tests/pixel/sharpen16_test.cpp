#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pixel/RowBands.h"
#include "pixel/Sharpen16.h"

namespace {

// A record whose planes are owned by the fixture; every plane starts filled.
struct SharpenRecord {
  MyImageWindowDataStruct r{};
  std::vector<UInt16> luma, work;
  std::vector<UInt16> blur[7], detail[7];

  SharpenRecord(UInt32 w, UInt32 h) {
    const size_t n = size_t(w) * h;
    r.mWidth = w;
    r.mHeight = h;
    luma.assign(n, 0);
    work.assign(n * 3, 0x5A5A);
    r.mSourceLuma16 = luma.data();
    r.mWorkRGB48 = work.data();
    for (int k = 0; k < 7; ++k) {
      blur[k].assign(n, 0);
      detail[k].assign(n, 0xA5A5);
      r.mBlurLevel[k] = blur[k].data();
      r.mDetailLevel[k] = detail[k].data();
      r.mSharpAmount[k] = 1.0f;
    }
    r.mMaxSharpenThreshold = 65535;
  }
  void sharpenAll() {
    for (UInt32 level = 1; level <= 7; ++level) mySharpenFilterThresholdSingle16Bit(&r, level);
  }
};

}  // namespace

TEST(Sharpen16, RulesOfOneLevel) {
  struct Case {
    const char* name;
    UInt32 level;
    UInt16 s, b;
    float strength;
    SInt32 minimum, maximum;
    UInt8 smooth;
    UInt16 want;
  };
  // Expected values: trunc(w x (s + g (s - b))), w x s or w x b, by hand.
  const Case cases[] = {
      {"plain", 1, 11000, 10000, 2, 0, 65535, 0, 3823},
      {"maximum 0 is no maximum", 1, 11000, 10000, 2, 0, 0, 1, 3823},
      {"negative minimum is no minimum", 1, 11000, 10000, 2, -5, 65535, 0, 3823},
      {"band lower edge excluded", 1, 10500, 10000, 2, 500, 2000, 0, 3088},
      {"just inside the band", 1, 10501, 10000, 2, 500, 2000, 0, 3383},
      {"below the band, negative difference inside", 1, 9499, 10000, 2, 500, 2000, 0, 2499},
      {"band upper edge excluded", 1, 12000, 10000, 2, 500, 2000, 0, 3529},
      {"smoothed outside the band takes b", 1, 10300, 10000, 2, 500, 0, 1, 2941},
      {"threshold outside the band takes s", 1, 10300, 10000, 2, 500, 0, 0, 3029},
      {"smoothed inside the band", 1, 11000, 10000, 2, 500, 0, 1, 3823},
      {"no bound: plain whatever the switch", 1, 10300, 10000, 2, 0, 65535, 1, 3205},
      {"dark halo clamps to 0", 1, 1000, 30000, 5, 0, 65535, 0, 0},
      {"bright result clamps to 65535", 1, 65535, 0, 10, 0, 65535, 0, 65535},
      {"level 7 share", 7, 17000, 17000, 3, 0, 65535, 0, 1000},
      {"level 2 share", 2, 17000, 0, 0, 0, 65535, 0, 4000},
      {"NaN strength gives 0", 1, 11000, 10000, NAN, 0, 65535, 0, 0},
  };
  for (const Case& c : cases) {
    SharpenRecord rec(3, 2);
    rec.luma.assign(6, c.s);
    rec.blur[c.level - 1].assign(6, c.b);
    rec.r.mSharpAmount[c.level - 1] = c.strength;
    rec.r.mMinSharpenThreshold = c.minimum;
    rec.r.mMaxSharpenThreshold = c.maximum;
    rec.r.mSharpenSmooth = c.smooth;
    mySharpenFilterThresholdSingle16Bit(&rec.r, c.level);
    for (UInt16 v : rec.detail[c.level - 1]) EXPECT_EQ(v, c.want) << c.name;
    for (int k = 0; k < 7; ++k)
      if (k != int(c.level) - 1) {
        EXPECT_EQ(rec.detail[k][0], 0xA5A5) << c.name << " level " << k + 1;
      }
  }
}

TEST(Sharpen16, LevelsOutsideOneToSevenChangeNothing) {
  SharpenRecord rec(4, 4);
  rec.luma.assign(16, 30000);
  for (UInt32 level : {0u, 8u, 0xFFFFFFFFu}) mySharpenFilterThresholdSingle16Bit(&rec.r, level);
  for (int k = 0; k < 7; ++k)
    for (UInt16 v : rec.detail[k]) ASSERT_EQ(v, 0xA5A5);
}

TEST(Sharpen16, AllStrengthsZeroGiveTheLumaLessTruncation) {
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> d(0, 65535);
  SharpenRecord rec(37, 23);
  for (auto& v : rec.luma) v = UInt16(d(rng));
  for (auto& plane : rec.blur)
    for (auto& v : plane) v = UInt16(d(rng));
  for (float& g : rec.r.mSharpAmount) g = 0.0f;
  rec.sharpenAll();
  myAltivecSharpenFilterThresholdMulti16Bit(&rec.r);
  for (size_t i = 0; i < rec.luma.size(); ++i) {
    ASSERT_LE(rec.work[i], rec.luma[i]) << i;
    ASSERT_GE(int(rec.work[i]), int(rec.luma[i]) - 6) << i;
    ASSERT_EQ(rec.detail[0][i], UInt16(std::trunc(5.0 / 17.0 * rec.luma[i]))) << i;
  }
  EXPECT_EQ(rec.work[rec.luma.size()], 0x5A5A);  // the sum writes one luma plane only
}

TEST(Sharpen16, SumIsClampedAt65535) {
  SharpenRecord rec(5, 3);
  for (int k = 0; k < 7; ++k) rec.detail[k].assign(15, UInt16(1000 * (k + 1)));
  rec.detail[6][14] = 60000;
  myAltivecSharpenFilterThresholdMulti16Bit(&rec.r);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(rec.work[i], 28000);
  EXPECT_EQ(rec.work[14], 65535);
}

// The vector-named forms use single precision with a fused multiply-add: the
// same rules, within one unit of the double-precision form.
TEST(Sharpen16, VectorFormsFollowTheSameRulesWithinOneUnit) {
  std::mt19937 rng(9);
  std::uniform_int_distribution<int> d(0, 65535);
  const UInt32 n = 1000 + 3;
  struct Setting { SInt32 minimum, maximum; UInt8 smooth; };
  const Setting settings[] = {{0, 65535, 0}, {0, 0, 1}, {500, 2000, 0}, {300, 40000, 1}, {0, 1200, 1}};
  for (const Setting& s : settings) {
    SharpenRecord scalar(n, 1), vector(n, 1);
    for (UInt32 i = 0; i < n; ++i) {
      scalar.luma[i] = vector.luma[i] = UInt16(d(rng));
      for (int k = 0; k < 7; ++k)
        scalar.blur[k][i] = vector.blur[k][i] =
            UInt16(std::clamp(int(scalar.luma[i]) + d(rng) % 5001 - 2500, 0, 65535));
    }
    for (SharpenRecord* rec : {&scalar, &vector}) {
      for (int k = 0; k < 7; ++k) rec->r.mSharpAmount[k] = 0.37f * float(k) + 0.5f;
      rec->r.mMinSharpenThreshold = s.minimum;
      rec->r.mMaxSharpenThreshold = s.maximum;
      rec->r.mSharpenSmooth = s.smooth;
    }
    vector.r.mAltivecFlag = 1;
    scalar.sharpenAll();
    vector.sharpenAll();
    for (int k = 0; k < 7; ++k)
      for (UInt32 i = 0; i < n; ++i)
        ASSERT_LE(std::abs(int(scalar.detail[k][i]) - int(vector.detail[k][i])), 1)
            << "level " << k + 1 << " sample " << i << " min " << s.minimum;
  }
  // The worked case is exact in both precisions.
  const UInt16 s = 11000, b = 10000;
  UInt16 c = 0;
  myAltivecSharpen16Bit(&s, &b, &c, 1, 2.0f, float(5.0 / 17.0), 0);
  EXPECT_EQ(c, 3823);
  myAltivecSharpenThreshold16Bit(&s, &b, &c, 1, 1000, 2000, 2.0f, float(5.0 / 17.0), 0);
  EXPECT_EQ(c, 3235);  // |d| = 1000 is on the band's edge: w x s
  myAltivecSharpenThresholdSmoothed16Bit(&s, &b, &c, 1, 1000, 2000, 2.0f, float(5.0 / 17.0), 0);
  EXPECT_EQ(c, 2941);  // w x b
}

TEST(Sharpen16, VectorFormsAreTheFusedFormulaForAnyStrength) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<int> d(0, 65535);
  const UInt32 n = 5000;
  std::vector<UInt16> luma(n), blur(n), out(n);
  for (UInt32 i = 0; i < n; ++i) {
    luma[i] = UInt16(d(rng));
    blur[i] = UInt16(i % 3 ? d(rng) : luma[i] ^ (d(rng) & 0xFF));
  }
  const float share = float(3.0 / 17.0);
  for (float strength : {0.0f, 1.0f, 2.5f, 0.3f, -0.7f, 1e-5f, 3e11f, 12.0f}) {
    for (int rule = 0; rule < 3; ++rule) {
      if (rule == 0) myAltivecSharpen16Bit(luma.data(), blur.data(), out.data(), n, strength, share, 0);
      if (rule == 1)
        myAltivecSharpenThreshold16Bit(luma.data(), blur.data(), out.data(), n, 100, 30000,
                                       strength, share, 0);
      if (rule == 2)
        myAltivecSharpenThresholdSmoothed16Bit(luma.data(), blur.data(), out.data(), n, 100,
                                               30000, strength, share, 0);
      for (UInt32 i = 0; i < n; ++i) {
        const int s = luma[i], b = blur[i], diff = std::abs(s - b);
        const bool inside = rule == 0 || (100 < diff && diff < 30000);
        const float t = inside ? std::fma(strength, float(s - b), float(s))
                               : float(rule == 2 ? b : s);
        const float v = t * share;
        const UInt16 want = v >= 65535.0f ? 65535 : (v > 0.0f ? UInt16(v) : 0);
        ASSERT_EQ(out[i], want) << strength << " rule " << rule << " sample " << i;
      }
    }
  }
}

// A plane large enough to be cut into bands gives what one band gives.
TEST(Sharpen16, BandsOfALargePlaneGiveTheSameAsOne) {
  std::mt19937 rng(23);
  std::uniform_int_distribution<int> d(0, 65535);
  SharpenRecord rec(613, 480);
  for (auto& v : rec.luma) v = UInt16(d(rng));
  for (auto& plane : rec.blur)
    for (auto& v : plane) v = UInt16(d(rng));
  for (int k = 0; k < 7; ++k) rec.r.mSharpAmount[k] = 0.25f * float(k + 1);
  rec.r.mMinSharpenThreshold = 1000;
  rec.r.mSharpenSmooth = 1;
  rec.sharpenAll();
  myAltivecSharpenFilterThresholdMulti16Bit(&rec.r);
  const std::vector<UInt16> threaded = rec.work;
  const std::vector<UInt16> level3 = rec.detail[2];
  mySetRowBandThreadLimit(1);
  rec.sharpenAll();
  myAltivecSharpenFilterThresholdMulti16Bit(&rec.r);
  mySetRowBandThreadLimit(0);
  EXPECT_EQ(rec.work, threaded);
  EXPECT_EQ(rec.detail[2], level3);
  for (size_t i = 0; i < rec.luma.size(); i += 101) {
    const int s = rec.luma[i], b = rec.blur[2][i], diff = std::abs(s - b);
    const double v = diff > 1000 ? 3.0 / 17.0 * (s + 0.75 * (s - b)) : 3.0 / 17.0 * b;
    ASSERT_EQ(level3[i], UInt16(std::clamp(v, 0.0, 65535.0))) << i;
  }
}
