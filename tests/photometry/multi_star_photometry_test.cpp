// Per-frame photometry of the picked stars on synthetic Mono16 frames and the
// bytes of the simple and detailed tables it writes.
#include "photometry/MultiStarPhotometry.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "photometry/MovieRealTime.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr UInt32 W = 200, H = 120;
constexpr double kSigmaFWHM4 = 4.0 / 2.354820045;

struct Star {
  double x, y, amp, sigma;
};

std::vector<UInt16> MakeFrame(const std::vector<Star>& stars, double bg = 1000.0) {
  std::vector<UInt16> px(size_t(W) * H + 32, 0);
  for (UInt32 y = 0; y < H; ++y)
    for (UInt32 x = 0; x < W; ++x) {
      // A little fixed sky texture (-3 to +3), so that the ring level has sky
      // pixels at or below it.
      double v = bg + double((x * 7 + y * 13) % 7) - 3.0;
      for (const Star& s : stars)
        v += s.amp * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / (2.0 * s.sigma * s.sigma));
      px[size_t(y) * W + x] = UInt16(std::min(65535.0, std::floor(v + 0.5)));
    }
  return px;
}

using skyloom::test::Split;

class PhotomTables : public UiTest {
 protected:
  MyBatchPhotomDataStruct d_{};
  std::vector<UInt16> frame_;

  void SetUp() override {
    UiTest::SetUp();
    WriteStrings("\"USRER\" = \"User Error\";\n\"TOCLOSEERR\" = \"Too close\";\n\"NOSIGERR\" = \"No signal\";\n");
    d_.mWidth = W;
    d_.mHeight = H;
    d_.mOutputMode = 2;
    d_.mFWHMMultiplier = 1.5f;
    d_.mSimpleFile = tmpfile();
    d_.mDetailedFile = tmpfile();
    ASSERT_TRUE(d_.mSimpleFile && d_.mDetailedFile);
  }
  void TearDown() override {
    if (d_.mSimpleFile) fclose(d_.mSimpleFile);
    if (d_.mDetailedFile) fclose(d_.mDetailedFile);
    UiTest::TearDown();
  }
  // Slots in order: kind (1 variable) and position.
  void Pick(std::initializer_list<std::tuple<int, float, float>> slots) {
    d_.mStarCount = 0;
    for (auto [variable, x, y] : slots) {
      d_.mStarIsVariable[d_.mStarCount] = UInt8(variable);
      d_.mStarX[d_.mStarCount] = x;
      d_.mStarY[d_.mStarCount] = y;
      ++d_.mStarCount;
    }
  }
  SInt32 Measure(const std::vector<Star>& stars, int k, double t = 1.5, int dateMode = 0) {
    frame_ = MakeFrame(stars);
    d_.mMono16FramePtr = frame_.data();
    return myGetFWHMMagMultiPositions(&d_, t, dateMode, k);
  }
  static std::string Read(FILE* f) {
    fflush(f);
    rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fseek(f, 0, SEEK_END);
    return s;
  }
  std::vector<std::string> SimpleLines() { return Split(Read(d_.mSimpleFile), '\r'); }
  std::vector<std::string> DetailedLines() { return Split(Read(d_.mDetailedFile), '\r'); }
};

const std::vector<Star> kPair = {{60.3, 60.6, 8000, kSigmaFWHM4}, {140.6, 60.2, 16000, kSigmaFWHM4}};

TEST_F(PhotomTables, HeadersInEveryModeAndTimeColumn) {
  const std::string date = "DateUTC\tTimeUTC\tJulian Day Number\t", elapsed = "ElapsedTime\t";
  const std::string simple = "C0 Rel Mag\tV0 Rel Mag\tC1 Rel Mag\tC0 \xB1Mag\tV0 \xB1Mag\tC1 \xB1Mag\t\r";
  const std::string detailed =
      "StarID\tXLoc\tYLoc\tRel Mag\t\xB1Mag\tIntensity\t FWHM (Mult 1.50) \tHFD\tHMVal\tPixel Count\tBackground\t"
      "SNR\tMaxValue\r";
  for (int mode = 0; mode <= 2; ++mode)
    for (int dateMode = 0; dateMode <= 1; ++dateMode) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " date " << dateMode);
      TearDown();
      SetUp();
      d_.mOutputMode = mode;
      Pick({{0, 60.0f, 60.0f}, {1, 140.0f, 60.0f}, {0, 100.0f, 30.0f}});
      // No star at all: only the headers and the skip line are written.
      ASSERT_EQ(Measure({}, 0, dateMode ? 3.3e9 : 0.0, dateMode), -1);
      const std::string title = dateMode ? date : elapsed;
      const std::string skip = "Error - No Variable Stars Identified skipping frame 1\r";
      EXPECT_EQ(Read(d_.mSimpleFile), mode == 1 ? "" : title + simple + skip);
      EXPECT_EQ(Read(d_.mDetailedFile), mode == 0 ? "" : title + detailed + skip);
    }
}

TEST_F(PhotomTables, RelativeMagnitudesAndTheBytesOfBothTables) {
  Pick({{0, 60.0f, 61.0f}, {1, 141.0f, 60.0f}});
  const double start = 3287534829.0;  // 2008-03-05 04:07:09
  for (int k = 0; k < 3; ++k) ASSERT_EQ(Measure(kPair, k, start + 0.05 + k * 20.0 / 600.0, 1), 0);
  const std::vector<std::string> simple = SimpleLines(), detailed = DetailedLines();
  ASSERT_EQ(simple.size(), 5u);  // header, three rows, and nothing after the last CR
  EXPECT_EQ(simple.back(), "");
  for (int k = 1; k <= 3; ++k) {
    const std::vector<std::string> f = Split(simple[k], '\t');
    ASSERT_EQ(f.size(), 3u + 4u + 1u) << simple[k];
    EXPECT_EQ(f[0], "20080305");
    EXPECT_EQ(f[3], "0.0000");  // a lone comparison star
    EXPECT_NEAR(std::atof(f[4].c_str()), -0.7562, 0.002);
    EXPECT_EQ(f[4].substr(0, 4), "-0.7");
    EXPECT_GT(std::atof(f[5].c_str()), 0.0);  // magnitude errors
    EXPECT_LT(std::atof(f[6].c_str()), 0.01);
  }
  EXPECT_EQ(Split(simple[1], '\t')[1], "04:07:09.05");
  EXPECT_EQ(Split(simple[2], '\t')[1], "04:07:09.08");
  EXPECT_EQ(Split(simple[3], '\t')[1], "04:07:09.11");
  ASSERT_EQ(detailed.size(), 8u);
  const size_t headerFields = Split(detailed[0], '\t').size();
  EXPECT_EQ(headerFields, 16u);
  for (size_t i = 1; i < 7; ++i) {
    const std::vector<std::string> f = Split(detailed[i], '\t');
    ASSERT_EQ(f.size(), headerFields) << detailed[i];
    EXPECT_EQ(f[3], i % 2 ? "Const Star#0" : "Var Star#0");
    EXPECT_NEAR(std::atof(f[4].c_str()), i % 2 ? 60.3 : 140.6, 0.3);  // re-centred
    EXPECT_NEAR(std::atof(f[9].c_str()), 3.5, 1.0);    // FWHM, as the profile walks measure it
    EXPECT_NEAR(std::atof(f[13].c_str()), 1000.0, 10.0);  // sky level
  }
  // Only CR ends lines; "±" is one byte.
  const std::string all = Read(d_.mSimpleFile) + Read(d_.mDetailedFile);
  EXPECT_EQ(all.find('\n'), std::string::npos);
  EXPECT_NE(all.find("\xB1Mag"), std::string::npos);
}

TEST_F(PhotomTables, NumbersStayInTheCFormUnderADecimalCommaLocale) {
  Pick({{0, 60.0f, 61.0f}, {1, 141.0f, 60.0f}});
  d_.mFWHMMultiplier = 2.25f;
  const std::string old = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  const SInt32 r = Measure(kPair, 0, 12.25, 0);
  setlocale(LC_NUMERIC, old.c_str());
  ASSERT_EQ(r, 0);
  const std::string detailed = Read(d_.mDetailedFile), simple = Read(d_.mSimpleFile);
  EXPECT_NE(detailed.find(" FWHM (Mult 2.25) "), std::string::npos);
  EXPECT_EQ(simple.find(','), std::string::npos);
  EXPECT_EQ(detailed.find(','), std::string::npos);
  EXPECT_EQ(SimpleLines()[1].substr(0, 9), "   12.25\t");
}

TEST_F(PhotomTables, FirstMeasuredFWHMKeepsTheApertureSize) {
  // C1 appears only from frame 1: its FWHM is taken there, and kept when the
  // frames blur.
  Pick({{0, 60.0f, 61.0f}, {1, 141.0f, 60.0f}, {0, 100.0f, 30.0f}});
  std::vector<Star> stars = kPair;
  ASSERT_EQ(Measure(stars, 0), 0);
  EXPECT_EQ(d_.mStarFound[2], 0);
  stars.push_back({100.4, 30.4, 8000, kSigmaFWHM4});
  ASSERT_EQ(Measure(stars, 1), 0);
  const float first[3] = {d_.mStarFWHM[0], d_.mStarFWHM[1], d_.mStarFWHM[2]};
  EXPECT_NEAR(first[2], 3.5, 1.0);
  for (Star& s : stars) s.sigma *= 2.0;  // FWHM 8
  ASSERT_EQ(Measure(stars, 2), 0);
  const std::vector<std::string> rows = DetailedLines();
  ASSERT_EQ(rows.size(), 1u + 3u * 3u + 1u);
  EXPECT_EQ(rows[3], "Const Star#1 could not be calculated or identified for frame 1");
  for (int s = 0; s < 3; ++s) {
    EXPECT_EQ(d_.mStarFWHM[s], first[s]);
    char expected[16];
    snprintf(expected, sizeof expected, "%6.2f", double(first[s]));
    EXPECT_EQ(Split(rows[7 + s], '\t')[7], expected) << rows[7 + s];
  }
}

TEST_F(PhotomTables, AStarInTheMarginIsLostForGood) {
  // C0 drifts left. With a wide aperture the sky ring stops fitting first (the
  // centroid's level stands in for the sky); once its last position is in the
  // 16-pixel margin it is never found again, even when it returns.
  Pick({{0, 40.0f, 61.0f}, {1, 141.0f, 60.0f}, {0, 100.0f, 60.0f}});
  d_.mFWHMMultiplier = 3.0f;
  auto stars = [](double x) {
    return std::vector<Star>{{x, 60.6, 8000, kSigmaFWHM4}, {140.6, 60.2, 16000, kSigmaFWHM4},
                             {100.3, 60.4, 8000, kSigmaFWHM4}};
  };
  const double path[] = {40.3, 37.3, 33.6, 29.6, 25.6, 21.6, 18.6};
  ::testing::internal::CaptureStderr();
  for (int k = 0; k < 7; ++k) ASSERT_EQ(Measure(stars(path[k]), k), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("too tight\n"), std::string::npos) << err;
  EXPECT_EQ(d_.mStarFound[0], 1);
  EXPECT_GT(d_.mStarBackground[0], 1100u);  // the centroid box's level, star light and all
  d_.mStarX[0] = 16.0f;  // where the last frame left it
  for (int k = 7; k < 9; ++k) {
    ASSERT_EQ(Measure(stars(40.3), k), 0);
    EXPECT_EQ(d_.mStarFound[0], 0);
    EXPECT_EQ(d_.mStarFound[2], 1);
  }
  const std::vector<std::string> rows = DetailedLines();
  EXPECT_EQ(rows[rows.size() - 4], "Const Star#0 could not be calculated or identified for frame 9");
  const std::vector<std::string> simple = SimpleLines();
  EXPECT_EQ(Split(simple[simple.size() - 2], '\t')[1], "---");
}

TEST_F(PhotomTables, FrameVerdicts) {
  Pick({{0, 60.0f, 61.0f}, {1, 141.0f, 60.0f}});
  // Only the comparison star: the frame is skipped.
  EXPECT_EQ(Measure({kPair[0]}, 0), -1);
  // Only the variable star: no reference, the run goes on.
  EXPECT_EQ(Measure({kPair[1]}, 1), 0);
  for (const std::string& table : {Read(d_.mSimpleFile), Read(d_.mDetailedFile)}) {
    EXPECT_NE(table.find("\rError - No Variable Stars Identified skipping frame 1\r"
                         "Error - No Constant Stars Identified Skipping Frame 2\r"),
              std::string::npos);
    EXPECT_EQ(table.find("Star#"), std::string::npos);
  }
  d_.mMono16FramePtr = nullptr;
  EXPECT_EQ(myGetFWHMMagMultiPositions(&d_, 0.0, 0, 2), -108);
  EXPECT_EQ(myGetFWHMMagMultiPositions(nullptr, 0.0, 0, 2), -108);
}

TEST_F(PhotomTables, AStarWithoutSkyOrApertureSumIsNotFound) {
  // Three slots: C0, V0, C1 (C1 as bright as V0).
  const std::vector<Star> stars = {kPair[0], kPair[1], {100.4, 30.4, 16000, kSigmaFWHM4}};
  auto pick = [this] { Pick({{0, 60.0f, 61.0f}, {1, 141.0f, 60.0f}, {0, 100.0f, 30.0f}}); };
  auto noNan = [this] {
    const std::string all = Read(d_.mSimpleFile) + Read(d_.mDetailedFile);
    EXPECT_EQ(all.find("nan"), std::string::npos) << all;
    EXPECT_EQ(all.find("999"), std::string::npos) << all;
  };

  // A failed sum (-1.0 off the frame, -2.0 nothing at or above the sky) of
  // C1: it is not found, and the reference is C0 alone.
  for (double failed : {-1.0, -2.0}) {
    SCOPED_TRACE(failed);
    TearDown();
    SetUp();
    pick();
    SkyloomFailStarApertureSum(3, failed);
    ASSERT_EQ(Measure(stars, 0), 0);
    SkyloomFailStarApertureSum(0, 0.0);
    EXPECT_EQ(d_.mStarFound[2], 0);
    const std::vector<std::string> row = Split(SimpleLines()[1], '\t');
    ASSERT_EQ(row.size(), 1u + 6u + 1u);
    EXPECT_EQ(row[1], "0.0000");
    EXPECT_NEAR(std::atof(row[2].c_str()), -0.7562, 0.002);
    EXPECT_EQ(row[3], "---");
    EXPECT_EQ(row[6], "---");
    EXPECT_EQ(DetailedLines()[3], "Const Star#1 could not be calculated or identified for frame 1");
    noNan();
  }

  // An aperture a fifth of a pixel across: the apertures at 1.5 r and 2.2 r
  // count the same whole pixels, so the ring level is 0 and every pixel of
  // the sky disc lies above it (the disc's "no signal" alert answered). No
  // star has a sky; the frame is skipped.
  TearDown();
  SetUp();
  pick();
  d_.mFWHMMultiplier = 0.05f;
  ScriptedUser user;
  for (int i = 0; i < 3; ++i) user.AnswerAlert();
  EXPECT_EQ(Measure(stars, 0), -1);
  EXPECT_EQ(user.Pending(), 0u);
  ASSERT_EQ(Alerts().size(), 3u);
  EXPECT_EQ(Alerts()[0].message, "No signal");
  for (int s = 0; s < 3; ++s) EXPECT_EQ(d_.mStarFound[s], 0) << s;
  EXPECT_NE(Read(d_.mSimpleFile).find("Error - No Variable Stars Identified skipping frame 1\r"), std::string::npos);
  noNan();
}

}  // namespace
