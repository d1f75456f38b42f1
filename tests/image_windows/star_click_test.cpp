// Measuring stars by clicking them, the measurement window's commands and
// calibration from known stars, on the headless window model.
#include "image_windows/StarClick.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "image_windows/ImageWindow.h"
#include "pixel/LumaRGB48.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType Sig(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }

struct Star {
  double x, y, sigma, peak;
};
std::vector<Star> gStars;

UInt16 StarField(UInt32 x, UInt32 y, int) {
  double v = 1000.0;
  for (const Star& s : gStars) {
    const double dx = x - s.x, dy = y - s.y;
    v += s.peak * std::exp(-(dx * dx + dy * dy) / (2 * s.sigma * s.sigma));
  }
  return UInt16(std::min(v, 65535.0));
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

using skyloom::test::Split;

// Fields of a tab-separated line; a trailing tab adds no field.
size_t FieldCount(std::string line) {
  if (!line.empty() && line.back() == '\t') line.pop_back();
  return Split(line, '\t').size();
}

class StarClickTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    const std::string config = dir_ + "/config";
    ASSERT_EQ(mkdir(config.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory(config.c_str());
    SkyloomPreferencesForgetAll();
    const std::string file = dir_ + "/Orion.tif";
    std::ofstream(file) << "x";
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &file_, nullptr), noErr);
    // Whatever a step leaves waiting that the test did not script (an alert,
    // a sheet) is escaped and reported here instead of waiting for ever.
    unscripted_ = std::make_unique<ScriptedUser>();
  }
  void TearDown() override {
    if (unscripted_) {
      EXPECT_TRUE(unscripted_->Errors().empty()) << unscripted_->Errors().front();
    }
    unscripted_.reset();
    Close();
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  void Close() {
    if (MyImageWindowDataStruct* r = Record()) myDisposeImageWindow(r);
  }
  static MyImageWindowDataStruct* Record() {
    WindowRef w = FindWindow("ImageWindow");
    return w ? reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  }
  // An image of the stars, measuring on, the green plane cut, a log open.
  MyImageWindowDataStruct* Open(UInt32 w, UInt32 h, std::vector<Star> stars, bool log = true) {
    gStars = std::move(stars);
    const size_t n = size_t(w) * h;
    auto* rgb = static_cast<UInt16*>(myAllocateImagePlane(n * 6));
    auto* lrgb = static_cast<UInt16*>(myAllocateImagePlane(n * 8));
    auto* luma = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = StarField(x, y, c);
    myRGB48ToLRGB64AndLuma16(rgb, lrgb, luma, w, h);
    EXPECT_EQ(myMakeImageWindow(file_, luma, rgb, lrgb, w, h, true), noErr);
    MyImageWindowDataStruct* r = Record();
    if (r == nullptr) return nullptr;
    r->mPhotometryShown = 1;
    ShowWindow(r->mPhotometryWindow);
    r->mMeasurePlane = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
    for (size_t i = 0; i < n; ++i) r->mMeasurePlane[i] = r->mSourceLRGB64[4 * i + size_t(r->mMeasureChannel)];
    log_ = dir_ + "/log.txt";
    if (log) {
      r->mLogFile = fopen(log_.c_str(), "wb");
      r->mLogOpen = 1;
    }
    return r;
  }
  std::string Log() {
    if (MyImageWindowDataStruct* r = Record(); r && r->mLogFile) fflush(r->mLogFile);
    return Slurp(log_);
  }
  static std::string Line(SInt32 id) {
    return ControlText(FindControl(FindWindow("PhotometryWindow"), Sig("TXSP"), id));
  }
  // The click routine's answer to a click at image point (x, y) (zoom 1, not
  // scrolled, so window point and image point agree).
  static OSStatus ClickAt(MyImageWindowDataStruct* r, float x, float y) {
    return myDoMouseClickInImageWindow(Point{short(std::lround(y)), short(std::lround(x))}, r);
  }
  // The user's press in the image window, through its content-click handling.
  static void PressAt(MyImageWindowDataStruct* r, float x, float y) {
    ASSERT_EQ(UserMouseInWindow(r->mImageWindow, kEventMouseDown, Point{short(std::lround(y)), short(std::lround(x))}),
              noErr);
  }
  // The user's entries in the known-star sheet (RA and Dec in arc seconds),
  // then OK.
  static void Enter(ScriptedUser& user, double ra, double dec, float mag) {
    const double t = ra / 15.0;
    const int h = int(t / 3600), m = int((t - h * 3600) / 60);
    const double sec = t - h * 3600 - m * 60, a = std::fabs(dec);
    const int dd = int(a / 3600), dm = int((a - dd * 3600) / 60);
    const double ds = a - dd * 3600 - dm * 60;
    char text[32];
    user.Type(Sig("CRAH"), 0, std::to_string(h)).Type(Sig("CRAM"), 0, std::to_string(m));
    snprintf(text, sizeof text, "%.4f", sec);
    user.Type(Sig("CRAS"), 0, text).Type(Sig("CDEN"), 0, dec < 0 ? "S" : "N");
    user.Type(Sig("CDED"), 0, std::to_string(dd)).Type(Sig("CDEM"), 0, std::to_string(dm));
    snprintf(text, sizeof text, "%.4f", ds);
    user.Type(Sig("CDES"), 0, text);
    snprintf(text, sizeof text, "%.3f", double(mag));
    user.Type(Sig("MAGV"), 0, text).ClickOK();
  }
  std::unique_ptr<ScriptedUser> unscripted_;
  FSRef file_{};
  std::string log_;
};

TEST(LinearRegression, FitsAndRefusals) {
  const float x[] = {1, 2, 3}, y[] = {2, 4, 6.5f};
  float slope = 7, intercept = 7, variance = 7;
  ASSERT_EQ(myDoLinearRegression(x, y, 3, &slope, &intercept, &variance), 0);
  EXPECT_NEAR(slope, 2.25f, 1e-5);
  EXPECT_NEAR(intercept, -1.0f / 3.0f, 1e-5);
  EXPECT_NEAR(variance, 1.0f / 24.0f, 1e-5);
  const float exact[] = {3, 5, 7};
  ASSERT_EQ(myDoLinearRegression(x, exact, 3, &slope, &intercept, &variance), 0);
  EXPECT_NEAR(variance, 0.0f, 1e-6);
  const float flat[] = {2, 2, 2};
  ASSERT_EQ(myDoLinearRegression(flat, y, 3, &slope, &intercept, &variance), 0);
  EXPECT_EQ(slope, 0.0f);  // no spread in x
  slope = intercept = variance = 7;
  EXPECT_EQ(myDoLinearRegression(x, y, 1, &slope, &intercept, &variance), -1);
  EXPECT_EQ(myDoLinearRegression(nullptr, y, 3, &slope, &intercept, &variance), -1);
  EXPECT_EQ(slope, 7.0f);
  EXPECT_EQ(intercept, 7.0f);
  EXPECT_EQ(variance, 7.0f);
}

TEST(MagnitudeCalibration, BaseStarByStarCount) {
  char path[] = "/tmp/magcalXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  auto* r = static_cast<MyImageWindowDataStruct*>(calloc(1, sizeof(MyImageWindowDataStruct)));
  auto reset = [&] {
    for (int i = 0; i < 3; ++i) r->mKnownStarMag[i] = -9999.0f;
    r->mMagCalibrated = 0;
  };
  // One star: the values stored when it was entered.
  r->mLogFile = fopen(path, "wb");
  r->mLogOpen = 1;
  reset();
  r->mKnownStarMag[1] = 9.5f;
  r->mKnownStarSum[1] = 5000;
  r->mBaseMagnitude = 9.5f;
  r->mBaseIntensity = 5000;
  r->mMagStarCount = 1;
  myProcessMagEntries(r);
  EXPECT_EQ(r->mMagCalibrated, 1);
  EXPECT_EQ(r->mBaseMagnitude, 9.5f);
  fclose(r->mLogFile);
  EXPECT_EQ(Slurp(path), "Mag Calc Method: Single Star\rBase Mag:9.500 Base Intensity:  5000.0  Base Deviation:N/A \r");

  // Two stars.
  const struct {
    float mag[2], sum[2];
    float baseMag, baseSum, deviation;
  } kTwo[] = {
      {{10.0f, 11.0f}, {10000, 4000}, 10.0f, 10000, 0.00037f},
      {{10.0f, 10.5f}, {3000, 3000}, 10.0f, 3000, 0.5f},  // equal sums: the first
      {{12.0f, 10.0f}, {1000, 6310}, 10.0f, 6310, 0.0097f},  // 2.512, not 2.5
  };
  for (const auto& c : kTwo) {
    r->mLogFile = fopen(path, "wb");
    reset();
    r->mKnownStarMag[0] = c.mag[0];
    r->mKnownStarSum[0] = c.sum[0];
    r->mKnownStarMag[2] = c.mag[1];
    r->mKnownStarSum[2] = c.sum[1];
    r->mMagStarCount = 2;
    myProcessMagEntries(r);
    EXPECT_EQ(r->mMagCalibrated, 1);
    EXPECT_EQ(r->mBaseMagnitude, c.baseMag);
    EXPECT_EQ(r->mBaseIntensity, c.baseSum);
    EXPECT_NEAR(r->mBaseDeviation, c.deviation, 0.002);
    fclose(r->mLogFile);
    const std::string log = Slurp(path);
    EXPECT_EQ(log.rfind("Mag Calc Method: Two Star\rBase Mag:", 0), 0u) << log;
  }
  EXPECT_NEAR(r->mBaseDeviation, 0.0, 0.01);

  // Three stars: the base whose predictions regress best on the given values.
  r->mLogFile = fopen(path, "wb");
  reset();
  const float mags[] = {10.0f, 11.0f, 12.0f};
  const float sums[] = {10000.0f, 4000.0f, 2500.0f};  // the third is off the others' line
  for (int i = 0; i < 3; ++i) r->mKnownStarMag[i] = mags[i], r->mKnownStarSum[i] = sums[i];
  r->mMagStarCount = 3;
  myProcessMagEntries(r);
  float best = 1e9f;
  int bestK = -1;
  for (int k = 0; k < 3; ++k) {
    float p[3], s, i, v;
    for (int j = 0; j < 3; ++j) p[j] = j == k ? mags[k] : float(mags[k] - 2.512 * std::log10(sums[j] / sums[k]));
    myDoLinearRegression(p, mags, 3, &s, &i, &v);
    if (v < best) best = v, bestK = k;
  }
  EXPECT_EQ(r->mBaseMagnitude, mags[bestK]);
  EXPECT_NEAR(r->mBaseDeviation, best, 1e-4);
  fclose(r->mLogFile);
  EXPECT_NE(Slurp(path).find("Mag Calc Method: Three Star\r"), std::string::npos);
  // Three identical stars tie: the first.
  reset();
  for (int i = 0; i < 3; ++i) r->mKnownStarMag[i] = 10.0f + float(i), r->mKnownStarSum[i] = 1000.0f;
  r->mLogFile = nullptr;
  myProcessMagEntries(r);
  EXPECT_EQ(r->mBaseMagnitude, 10.0f);
  free(r);
  unlink(path);
}

// A click's measurement against the independent reference of
// star_click_golden.py: stars on a checkerboard sky, in the middle (wide case)
// and near the left edge (narrow case, also where the 2.2 r box fits but the
// 2.5 r sky disc does not).
struct ClickGolden {
  double sigma, x0, y0;
  int amp, bg, width, height;
  double clickX, clickY, X, Y;
  int centroidLevel;
  double fwhm;
  int halfMax;
  double hfd;
  int peak, wide, background, backgroundCount;
  double sum;
  int pixels;
  double magError;
};
const ClickGolden kClickGolden[] = {
#include "tests/image_windows/star_click_golden.inc"
};

TEST_F(StarClickTest, ClicksMeasureAsTheReference) {
  for (const ClickGolden& g : kClickGolden) {
    SCOPED_TRACE(g.x0);
    MyImageWindowDataStruct* r = Open(UInt32(g.width), UInt32(g.height), {});
    ASSERT_NE(r, nullptr);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        const double dx = x - g.x0, dy = y - g.y0;
        const double v = g.bg + g.amp * std::exp(-(dx * dx + dy * dy) / (2.0 * g.sigma * g.sigma));
        r->mMeasurePlane[size_t(y) * g.width + x] =
            UInt16(std::clamp(std::floor(v + 0.5), 0.0, 65535.0) + 40 * ((x + y) % 2));
      }
    EXPECT_EQ(ClickAt(r, float(g.clickX), float(g.clickY)), eventNotHandledErr);
    EXPECT_NEAR(r->mStarX, g.X, 1e-4);
    EXPECT_NEAR(r->mStarY, g.Y, 1e-4);
    EXPECT_NEAR(r->mStarFWHM, g.fwhm, 1e-4);
    EXPECT_EQ(r->mStarHalfMax, g.halfMax);
    EXPECT_NEAR(r->mStarHFD, g.hfd, 1e-4);
    EXPECT_EQ(r->mStarPeak, g.peak);
    EXPECT_EQ(r->mStarBackground, g.background);
    EXPECT_EQ(r->mStarBackgroundCount, g.backgroundCount);
    EXPECT_NEAR(r->mStarSum, g.sum, g.sum * 1e-5);
    EXPECT_EQ(r->mStarPixelCount, g.pixels);
    EXPECT_NEAR(r->mStarMagError, g.magError, g.magError * 1e-4);
    EXPECT_EQ(Line(4), "AVG BCG: " + std::to_string(g.background) + " for " + std::to_string(g.backgroundCount) +
                           " pixels");
    if (!g.wide) {
      // The edge margin is exclusive.
      ScriptedUser user;
      user.AnswerAlert();
      EXPECT_EQ(myGetFWHMMagImageWindowClick(16.0f, float(g.clickY), r), 0);
      EXPECT_TRUE(user.Errors().empty());
    }
    Close();
  }
}

TEST_F(StarClickTest, EdgesAndTheNarrowCase) {
  MyImageWindowDataStruct* r = Open(200, 150, {{100, 75, 3.0, 20000}});
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(myGetFWHMMagImageWindowClick(100, 75, r), 1);
  const float radius = r->mStarFWHM * 1.582278481012658f;
  EXPECT_GT(r->mStarBackgroundCount, 0);  // wide case in the middle
  EXPECT_NEAR(r->mStarBackground, 1000, 5);
  EXPECT_NEAR(r->mStarMagError, 1.0875f / (r->mStarSum / std::sqrt(r->mStarSum + float(r->mStarPixelCount) * 1000)),
              r->mStarMagError * 0.1f);
  Close();

  // Stars 2.0 r (inside the 2.2 r box), 2.3 r (between 2.2 r and 2.5 r) and
  // 3.0 r from the left edge.
  const double d20 = 1.0 + 2.0 * radius, d23 = 1.0 + 2.35 * radius, d30 = 2.0 + 3.0 * radius;
  r = Open(200, 150, {{d20, 30, 3.0, 20000}, {d23, 110, 3.0, 20000}, {d30 + 60, 30, 3.0, 20000}});
  ASSERT_NE(r, nullptr);
  const struct {
    float x, y;
    bool wide;
  } kCases[] = {{float(d20), 30, false}, {float(d23), 110, false}, {float(d30 + 60), 30, true}};
  for (const auto& c : kCases) {
    ASSERT_EQ(myGetFWHMMagImageWindowClick(c.x, c.y, r), 1) << c.x;
    EXPECT_EQ(r->mStarBackgroundCount > 0, c.wide) << c.x;
    if (c.wide) {
      EXPECT_NEAR(r->mStarBackground, 1000, 10) << c.x;
    }
    EXPECT_NEAR(r->mStarX, c.x, 0.5) << c.x;
  }
  // The user's press shows the narrow case's zero count in the text lines.
  PressAt(r, float(d23), 110);
  EXPECT_EQ(Line(4), "AVG BCG: " + std::to_string(r->mStarBackground) + " for 0 pixels");

  // 16.0 is refused with the alert; 16.5 is measured.
  const size_t alerts = Alerts().size();
  {
    ScriptedUser user;
    user.AnswerAlert();
    EXPECT_EQ(myGetFWHMMagImageWindowClick(16.0f, 30, r), 0);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(Alerts().size(), alerts + 1);
  EXPECT_EQ(Alerts().back().title, "User Error");
  EXPECT_EQ(Alerts().back().message, "The star is too close to the edge of the frame for this aperture.");
  EXPECT_EQ(myGetFWHMMagImageWindowClick(16.5f, 30, r), 1);
  EXPECT_EQ(Alerts().size(), alerts + 1);

  // No plane: nothing, silently.
  UInt16* plane = r->mMeasurePlane;
  r->mMeasurePlane = nullptr;
  r->mStarX = -5;
  EXPECT_EQ(myGetFWHMMagImageWindowClick(100, 75, r), 0);
  EXPECT_EQ(r->mStarX, -5);
  r->mMeasurePlane = plane;
  // A faint plateau on bright sky: centred, but its half maximum is too
  // close to the sky for a FWHM, so nothing happens, silently.
  for (UInt32 y = 100; y < 140; ++y)
    for (UInt32 x = 130; x < 170; ++x)
      r->mMeasurePlane[y * 200 + x] = (x >= 142 && x < 158 && y >= 112 && y < 128) ? 21800 : 20000;
  EXPECT_EQ(myGetFWHMMagImageWindowClick(150, 120, r), 0);
  EXPECT_EQ(r->mStarX, -5);
  EXPECT_EQ(Alerts().size(), alerts + 1);
  // Flat sky has no centroid: refused with the alert.
  {
    ScriptedUser user;
    user.AnswerAlert();
    EXPECT_EQ(myGetFWHMMagImageWindowClick(60, 120, r), 0);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(Alerts().size(), alerts + 2);
}

// The log table's header and one row per channel, byte for byte, in the four
// forms: with or without a magnitude calibration, with pixel positions or a
// RA/Dec fit (with residuals, so the position carries "±"); and the text
// lines of the measurement window.
TEST_F(StarClickTest, TextsAndLogRowsInEveryForm) {
  MyImageWindowDataStruct* r = Open(200, 150, {{60, 50, 2.0, 20000}, {140, 100, 2.0, 8000}});
  ASSERT_NE(r, nullptr);
  const char* const kRowsA[4] = {
      "Luma \t %s \t %d \t %d \t %5.2f \t %5.2f \t %.0f \t %5.3f \t %5.3f \t %d \t %d \t",
      "Red \t %s \t %d \t %d \t %5.2f \t %5.2f \t %.0f \t %5.3f \t %5.3f \t %d \t %d \t",
      "Green \t %s \t %d \t %d \t %5.2f \t %5.2f \t %.0f \t %5.3f \t %5.3f \t %d \t %d \t",
      "Blue \t %s \t %d \t %d \t %5.2f \t %5.2f \t %.0f \t %5.3f \t %5.3f \t %d \t %d \t"};
  const char* const kRowsB[4] = {"Luma \t %s \t %d \t %d \t%5.2f \t %5.2f \t %.0f \t %d \t %d",
                                 "Red \t %s \t %d \t%d \t%5.2f \t %5.2f \t %.0f \t %d \t %d",
                                 "Green \t %s \t %d \t%d \t%5.2f \t %5.2f \t %.0f \t %d \t %d",
                                 "Blue \t %s \t  %d  \t%d \t%5.2f \t %5.2f \t %.0f \t %d \t %d"};
  const struct {
    bool calibrated, fit;
    const char* header;
  } kForms[] = {
      {false, false, "Channel\t X\t Y\t AvgBCG\t HMVal\t FWHM \t HFD \t SumPixels \t#SumPixels \t #BcgPixels"},
      {false, true, "Channel\t RA\t Dec\t AvgBCG\t HMVal\t FWHM \t HFD \t SumPixels \t#SumPixels \t #BcgPixels"},
      {true, false,
       "Channel\t X\t Y\t AvgBCG\t HMVal\t FWHM \t HFD \t SumPixels \t RelMag \t RMS Err\xB1 \t#SumPixels \t "
       "#BcgPixels"},
      {true, true,
       "Channel\t RA\t Dec\t AvgBCG\t HMVal\t FWHM \t HFD \t SumPixels \t RelMag \t RMS Err\xB1 \t#SumPixels \t "
       "#BcgPixels"},
  };
  const float raFit[4] = {1.5f, 0, 100000, 0.5f}, decFit[4] = {0, -1.5f, 200000, 0.25f};
  for (const auto& form : kForms) {
    SCOPED_TRACE(form.header);
    fclose(r->mLogFile);
    r->mLogFile = fopen(log_.c_str(), "wb");
    r->mLogHeaderWritten = 0;
    r->mMagCalibrated = form.calibrated ? 1 : 0;
    r->mBaseMagnitude = 10.0f;
    r->mBaseIntensity = 150000.0f;
    r->mRADecStarCount = form.fit ? 3 : 0;
    r->mArcSecPerPixel = 1.5f;
    std::copy(raFit, raFit + 4, r->mRAFit);
    std::copy(decFit, decFit + 4, r->mDecFit);
    std::string rows;
    for (SInt32 channel : {0, 1, 2, 3}) {
      r->mMeasureChannel = channel;
      EXPECT_EQ(ClickAt(r, channel % 2 ? 140 : 60, channel % 2 ? 100 : 50), eventNotHandledErr);
      char position[128], row[512];
      myConvertPixelXYtoCoordsString(r, r->mStarX, r->mStarY, false, position);
      std::string bare(position);
      if (form.fit) {
        ASSERT_EQ(bare.back(), '\t');
        bare.pop_back();
      }
      if (form.calibrated)
        snprintf(row, sizeof row, kRowsA[channel], bare.c_str(), int(r->mStarBackground), int(r->mStarHalfMax),
                 double(r->mStarFWHM), double(r->mStarHFD), double(r->mStarSum), double(r->mStarMagnitude),
                 double(r->mStarMagError), int(r->mStarPixelCount), int(r->mStarBackgroundCount));
      else
        snprintf(row, sizeof row, kRowsB[channel], bare.c_str(), int(r->mStarBackground), int(r->mStarHalfMax),
                 double(r->mStarFWHM), double(r->mStarHFD), double(r->mStarSum), int(r->mStarPixelCount),
                 int(r->mStarBackgroundCount));
      rows += std::string(row) + "\r";
    }
    EXPECT_EQ(Log(), std::string(form.header) + "\r" + rows);
    const std::vector<std::string> lines = Split(Log(), '\r');
    for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_EQ(FieldCount(lines[i]), FieldCount(lines[0])) << lines[i];
    EXPECT_EQ(FieldCount(lines[0]), form.calibrated ? 12u : 10u);

    // The text lines of the last click (the fainter star, blue).
    EXPECT_EQ(r->mClickMarkShown, form.calibrated || form.fit ? 1 : 0);
    char text[256];
    snprintf(text, sizeof text, "HM: %d MaxVal: %d", int(r->mStarHalfMax), int(r->mStarPeak));
    EXPECT_EQ(Line(0), text);
    if (form.fit)
      snprintf(text, sizeof text, "FWHM: %.3f pixel, %.3f Arc Sec", double(r->mStarFWHM), double(r->mStarFWHM * 1.5f));
    else
      snprintf(text, sizeof text, "FWHM: %.3f pixel", double(r->mStarFWHM));
    EXPECT_EQ(Line(1), text);
    if (form.fit)
      snprintf(text, sizeof text, "HFD: %.3f pixel, %.3f Arc Sec", double(r->mStarHFD), double(r->mStarHFD * 1.5f));
    else
      snprintf(text, sizeof text, "HFD: %.3f pixel", double(r->mStarHFD));
    EXPECT_EQ(Line(2), text);
    snprintf(text, sizeof text, "STAR SUM: %.0f for %d Pixels", double(r->mStarSum), int(r->mStarPixelCount));
    EXPECT_EQ(Line(3), text);
    snprintf(text, sizeof text, "AVG BCG: %d for %d pixels", int(r->mStarBackground), int(r->mStarBackgroundCount));
    EXPECT_EQ(Line(4), text);
    if (form.calibrated) {
      EXPECT_NEAR(r->mStarMagnitude, 10.0f - 2.512f * std::log10(r->mStarSum / 150000.0f), 1e-4);
      snprintf(text, sizeof text, "MAG: %.3f \xC2\xB1 %.5f", double(r->mStarMagnitude), double(r->mStarMagError));
      EXPECT_EQ(Line(5), text);
    } else {
      EXPECT_EQ(r->mStarMagnitude, -999.0f);
      EXPECT_EQ(Line(5), "MAG: N/A");
    }
    if (form.fit) {
      // Labelled, with the residuals' "±" in the window's encoding.
      EXPECT_EQ(Line(6).rfind("LOC: RA:", 0), 0u) << Line(6);
      EXPECT_NE(Line(6).find("\xC2\xB1"), std::string::npos) << Line(6);
      EXPECT_EQ(Line(6).find("\xB1\xC2"), std::string::npos) << Line(6);
    } else {
      snprintf(text, sizeof text, "LOC: X:%06.1f\tY:%06.1f", double(r->mStarX), double(r->mStarY));
      EXPECT_EQ(Line(6), text);
    }
  }
  // The user's press in the window reaches the same measurement.
  r->mStarX = -5;
  PressAt(r, 60, 50);
  EXPECT_NEAR(r->mStarX, 60.0f, 0.5f);
}

TEST_F(StarClickTest, NoLogWritesNothingAndTheHeaderWaits) {
  MyImageWindowDataStruct* r = Open(200, 150, {{60, 50, 2.0, 20000}}, false);
  ASSERT_NE(r, nullptr);
  r->mMagCalibrated = 1;
  r->mBaseMagnitude = 10;
  r->mBaseIntensity = 1000;
  ClickAt(r, 60, 50);
  EXPECT_EQ(r->mLogHeaderWritten, 0);
  EXPECT_NE(Line(5), "MAG: N/A");
  r->mLogFile = fopen(log_.c_str(), "wb");
  r->mLogOpen = 1;
  ClickAt(r, 60, 50);
  EXPECT_EQ(Log().rfind("Channel\t X\t Y\t", 0), 0u);
}

TEST_F(StarClickTest, MeasurementWindowCommands) {
  MyImageWindowDataStruct* r = Open(200, 150, {{60, 50, 2.0, 20000}});
  ASSERT_NE(r, nullptr);
  WindowRef photometry = r->mPhotometryWindow;
  // Size limits.
  {
    EventRef e = nullptr;
    ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowBoundsChanging, 0, 0, &e), noErr);
    Rect b{100, 50, 600, 450};
    const UInt32 attributes = kWindowBoundsChangeUserResize;
    SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof photometry, &photometry);
    SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
    SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
    SendEventToEventTarget(e, GetWindowEventTarget(photometry));
    GetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b);
    EXPECT_EQ(b.right - b.left, 242);
    EXPECT_EQ(b.bottom - b.top, 189);
    EXPECT_EQ(b.top, 100);
    ReleaseEvent(e);
    ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowGetMaximumSize, 0, 0, &e), noErr);
    SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof photometry, &photometry);
    SendEventToEventTarget(e, GetWindowEventTarget(photometry));
    Point size{0, 0};
    GetEventParameter(e, kEventParamDimensions, typeQDPoint, nullptr, sizeof size, nullptr, &size);
    EXPECT_EQ(size.h, 242);
    EXPECT_EQ(size.v, 189);
    ReleaseEvent(e);
  }

  // Start: no entries, no question.
  ASSERT_EQ(UserClick(FindControl(photometry, Sig("BEMC"), 0)), noErr);
  EXPECT_EQ(r->mKnownStarEntry, 1);
  EXPECT_EQ(Log(), "-------------------Start Entering Magnitude & Location Data\r");
  EXPECT_EQ(GetControl32BitValue(FindControl(photometry, Sig("BEMC"), 0)), 1);
  EXPECT_FALSE(IsControlEnabled(FindControl(photometry, Sig("CHAN"), 0)));
  // Stop with a magnitude star: calibrated.
  r->mMagStarCount = 1;
  r->mKnownStarMag[0] = 9.0f;
  r->mBaseMagnitude = 9.0f;
  UserClick(FindControl(photometry, Sig("BEMC"), 0));
  EXPECT_EQ(r->mKnownStarEntry, 0);
  EXPECT_EQ(r->mMagCalibrated, 1);
  EXPECT_NE(Log().find("Mag Calc Method: Single Star\r"), std::string::npos);
  EXPECT_NE(Log().find("-------------------End Entering Magnitude & Location Data\r"), std::string::npos);
  EXPECT_TRUE(IsControlEnabled(FindControl(photometry, Sig("CHAN"), 0)));

  // Start again with entries: asked; Cancel keeps everything.
  const std::string before = Log();
  {
    ScriptedUser user;
    user.Do([&] {
      WindowRef question = FindWindow("WarningSheet");
      ASSERT_NE(question, nullptr);
      EXPECT_EQ(WindowTitle(question), "Warning!!");
      EXPECT_EQ(ControlText(FindControl(question, Sig("NAME"), 0)),
                "Your previously entered Magnitude or Ra/Dec control information will be lost if you proceed. Click "
                "Okay to begin reentering it or Cancel to abort.");
    });
    user.ClickCancel();
    UserClick(FindControl(photometry, Sig("BEMC"), 0));
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mKnownStarEntry, 0);
  EXPECT_EQ(r->mMagCalibrated, 1);
  EXPECT_EQ(Log(), before);
  // Channel change with entries: Cancel puts the pop-up back.
  {
    ScriptedUser user;
    user.ClickCancel();
    UserChooseItem(FindControl(photometry, Sig("CHAN"), 0), 2);
  }
  EXPECT_EQ(r->mMeasureChannel, 2);
  EXPECT_EQ(GetControl32BitValue(FindControl(photometry, Sig("CHAN"), 0)), 3);
  EXPECT_EQ(r->mMagCalibrated, 1);
  // OK this time: reset and entry on.
  {
    ScriptedUser user;
    user.ClickOK();
    UserClick(FindControl(photometry, Sig("BEMC"), 0));
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mKnownStarEntry, 1);
  EXPECT_EQ(r->mMagCalibrated, 0);
  EXPECT_EQ(r->mMagStarCount, 0);
  EXPECT_EQ(r->mKnownStarMag[0], -9999.0f);
  EXPECT_EQ(Line(0), "HM:");
  UserClick(FindControl(photometry, Sig("BEMC"), 0));
  // Without entries a channel change asks nothing and refills the plane.
  UserChooseItem(FindControl(photometry, Sig("CHAN"), 0), 2);
  EXPECT_EQ(r->mMeasureChannel, 1);
  for (size_t i = 0; i < 200 * 150; i += 997) ASSERT_EQ(r->mMeasurePlane[i], r->mSourceLRGB64[4 * i + 1]);
}

// Known stars on a linear plate: 1.5"/px turned 20 degrees.
TEST_F(StarClickTest, ThreeKnownStarsGiveTheFits) {
  const double scale = 1.5, turn = 20.0 * M_PI / 180.0;
  const double ra0 = 23.0 * 54000.0, dec0 = 40.0 * 3600.0;  // at pixel (0, 0)
  auto sky = [&](double x, double y, double* ra, double* dec) {
    *ra = ra0 + scale * (std::cos(turn) * x - std::sin(turn) * y);
    *dec = dec0 + scale * (-std::sin(turn) * x - std::cos(turn) * y);
  };
  const Star stars[] = {{50, 40, 2.0, 20000}, {250, 60, 2.0, 15000}, {120, 180, 2.0, 10000}, {200, 150, 2.0, 12000}};
  MyImageWindowDataStruct* r = Open(300, 220, {stars, stars + 4});
  ASSERT_NE(r, nullptr);
  UserClick(FindControl(r->mPhotometryWindow, Sig("BEMC"), 0));
  ASSERT_EQ(r->mKnownStarEntry, 1);
  auto enter = [&](ScriptedUser& user, const Star& s, float mag) {
    double ra, dec;
    sky(s.x, s.y, &ra, &dec);
    Enter(user, ra, dec, mag);
  };
  {
    ScriptedUser user;
    // The fields start from the slot's values.
    user.Do([&] {
      WindowRef sheet = FindWindow("GetRADECMag");
      ASSERT_NE(sheet, nullptr);
      const struct {
        OSType sig;
        const char* text;
      } kFields[] = {{Sig("CRAH"), "0"}, {Sig("CRAM"), "0"}, {Sig("CRAS"), "0"}, {Sig("CDEN"), "N"},
                     {Sig("CDED"), "0"}, {Sig("CDEM"), "0"}, {Sig("CDES"), "0"}, {Sig("MAGV"), "0.000"}};
      for (const auto& f : kFields) EXPECT_EQ(ControlText(FindControl(sheet, f.sig, 0)), f.text) << f.text;
      EXPECT_EQ(GetControl32BitValue(FindControl(sheet, Sig("CRDX"), 0)), 1);
      EXPECT_EQ(GetControl32BitValue(FindControl(sheet, Sig("MAGX"), 0)), 1);
    });
    // Out of range at OK: the alert, the sheet stays. The key filter takes a
    // magnitude of -40 that OK refuses.
    long beepsBefore = 0;
    user.Type(Sig("CRAH"), 0, "24").ClickOK().AnswerAlert();
    user.Do([&] { EXPECT_NE(FindWindow("GetRADECMag"), nullptr); });
    user.Do([&] { beepsBefore = SkyloomBeepCount(); });
    user.Type(Sig("CRAH"), 0, "5").Type(Sig("MAGV"), 0, "-60\r");
    user.Do([&] {
      EXPECT_EQ(ControlText(FindControl(FindWindow("GetRADECMag"), Sig("MAGV"), 0)), "-50.000");
      EXPECT_EQ(SkyloomBeepCount(), beepsBefore + 1);
    });
    user.Type(Sig("MAGV"), 0, "-40\r");
    user.Do([&] {
      EXPECT_EQ(ControlText(FindControl(FindWindow("GetRADECMag"), Sig("MAGV"), 0)), "-40");
      EXPECT_EQ(SkyloomBeepCount(), beepsBefore + 1);
    });
    user.ClickOK().AnswerAlert();
    user.Do([&] {
      EXPECT_NE(FindWindow("GetRADECMag"), nullptr);
      EXPECT_EQ(Alerts().back().message,
                "The value is outside the allowed range; the nearest allowed value has been put in its place.");
    });
    enter(user, stars[0], 10.0f);
    EXPECT_EQ(ClickAt(r, 50, 40), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mKnownStarCount, 1);
  EXPECT_EQ(r->mKnownStarMarks, 1);
  EXPECT_EQ(Alerts().back().message, "The value is outside the allowed range; the nearest allowed value has been put in its place.");
  // A duplicate: two beeps, nothing.
  const long beeps = SkyloomBeepCount();
  EXPECT_EQ(ClickAt(r, 55, 45), noErr);
  EXPECT_EQ(SkyloomBeepCount(), beeps + 2);
  EXPECT_EQ(r->mKnownStarCount, 1);
  // A cancelled sheet drops the star and its mark.
  {
    ScriptedUser user;
    user.ClickCancel();
    EXPECT_EQ(ClickAt(r, 250, 60), userCanceledErr);
  }
  EXPECT_EQ(r->mKnownStarCount, 1);
  EXPECT_EQ(r->mKnownStarMarks, 1);
  EXPECT_EQ(r->mKnownStarRA[1], -9999.0f);
  {
    ScriptedUser user;
    enter(user, stars[1], 10.5f);
    ClickAt(r, 250, 60);
    enter(user, stars[2], 11.0f);
    ClickAt(r, 120, 180);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(r->mRADecStarCount, 3);
  EXPECT_EQ(r->mKnownStarEntry, 0);
  EXPECT_EQ(r->mMagCalibrated, 1);
  EXPECT_NEAR(r->mArcSecPerPixel, 1.5f, 0.002f);
  // The fourth star's position.
  double ra, dec;
  sky(stars[3].x, stars[3].y, &ra, &dec);
  r->mRAFit[3] = r->mDecFit[3] = 0.0f;
  char text[128];
  myConvertPixelXYtoCoordsString(r, float(stars[3].x), float(stars[3].y), false, text);
  int h, m, dd, dm;
  double s, ds;
  char letter;
  ASSERT_EQ(sscanf(text, "%d:%d:%lf\t%d:%d:%lf%c", &h, &m, &s, &dd, &dm, &ds, &letter), 7) << text;
  double t = std::fmod(ra / 15.0, 86400.0);
  EXPECT_NEAR(h * 3600 + m * 60 + s, t, 0.01) << text;
  EXPECT_NEAR(dd * 3600 + dm * 60 + ds, dec, 0.1) << text;
  const std::string log = Log();
  EXPECT_NE(log.find("Known Star #:\t1 \t X:\t"), std::string::npos);
  EXPECT_NE(log.find("RA-Dec Three star Calculation coeffcients\r"), std::string::npos);
  EXPECT_NE(log.find("Mag Calc Method: Three Star\r"), std::string::npos);
}

// RA/Dec fits across 0 h, and a third RA/Dec star on the line through the
// first two refused.
TEST_F(StarClickTest, RAWrapAndACollinearThirdStar) {
  MyImageWindowDataStruct* r =
      Open(300, 220, {{50, 50, 2.0, 20000}, {250, 60, 2.0, 15000}, {150, 55, 2.0, 12000}, {150, 180, 2.0, 10000}});
  ASSERT_NE(r, nullptr);
  UserClick(FindControl(r->mPhotometryWindow, Sig("BEMC"), 0));
  ASSERT_EQ(r->mKnownStarEntry, 1);
  {
    ScriptedUser user;
    Enter(user, 23 * 54000.0, 36000, 10.0f);
    EXPECT_EQ(ClickAt(r, 50, 50), noErr);
    Enter(user, 10 * 900.0, 36300, 10.5f);
    EXPECT_EQ(ClickAt(r, 250, 60), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  const std::string before = Log();
  const long beeps = SkyloomBeepCount();
  {
    ScriptedUser user;
    Enter(user, 5 * 900.0, 36150, 11.0f);
    EXPECT_EQ(ClickAt(r, 150, 55), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(SkyloomBeepCount(), beeps + 2);
  EXPECT_EQ(r->mKnownStarCount, 2);
  EXPECT_EQ(r->mKnownStarMarks, 2);
  EXPECT_EQ(r->mRADecStarCount, 2);
  EXPECT_EQ(r->mKnownStarRA[2], -9999.0f);
  EXPECT_EQ(Log(), before);
  {
    ScriptedUser user;
    Enter(user, 54000.0, 36600, 11.0f);
    EXPECT_EQ(ClickAt(r, 150, 180), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(r->mRADecStarCount, 3);
  EXPECT_EQ(r->mKnownStarEntry, 0);
  // The small RAs moved up a full turn before the fits.
  EXPECT_EQ(r->mKnownStarRA[0], 1242000.0f);
  EXPECT_EQ(r->mKnownStarRA[1], 1305000.0f);
  EXPECT_EQ(r->mKnownStarRA[2], 1350000.0f);
  r->mRAFit[3] = r->mDecFit[3] = 0.0f;
  auto raAt = [&](float x, float y) {
    char text[128];
    myConvertPixelXYtoCoordsString(r, x, y, false, text);
    int h = -1, m = -1;
    double s = -1;
    EXPECT_EQ(sscanf(text, "%d:%d:%lf", &h, &m, &s), 3) << text;
    return h * 3600 + m * 60 + s;
  };
  // The first star keeps 23 h; the middle of the three, at RA 1299000",
  // prints reduced by a turn: 0 h 3 m 20 s.
  EXPECT_NEAR(raAt(r->mKnownStarX[0], r->mKnownStarY[0]), 23 * 3600.0, 0.01);
  const float mx = (r->mKnownStarX[0] + r->mKnownStarX[1] + r->mKnownStarX[2]) / 3;
  const float my = (r->mKnownStarY[0] + r->mKnownStarY[1] + r->mKnownStarY[2]) / 3;
  EXPECT_NEAR(raAt(mx, my), 200.0, 0.01);

  // The log: each star's line, then the fits.
  const std::string log = Log();
  char line[256];
  snprintf(line, sizeof line,
           "Known Star #:\t1 \t X:\t%5.1f \tY:\t%5.1f \tRASec:\t %9.2f \t DecSec:\t %9.2f \t\t Mag: \t %4.3f \t "
           "Intensity: \t%8.1f \r",
           double(r->mKnownStarX[0]), double(r->mKnownStarY[0]), 1242000.0, 36000.0, 10.0,
           double(r->mKnownStarSum[0]));
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_NE(log.find("Known Star #:\t3 \t"), std::string::npos);
  std::string fits = "RA-Dec Three star Calculation coeffcients\r";
  const float* a = r->mRAFit;
  const float* d = r->mDecFit;
  r->mRAFit[3] = r->mDecFit[3] = 0.0f;
  snprintf(line, sizeof line, "RA Eqn RA_ACoef:\t%f \tRA_BCoef:\t %f \tRA_CCoef:\t %f \tRA_RMS:\t ", double(a[0]),
           double(a[1]), double(a[2]));
  fits += line;
  EXPECT_NE(log.find(fits), std::string::npos) << log;
  snprintf(line, sizeof line, "DEC Eqn Dec_ACoef:\t %f \tDec_BCoef:\t %f \t Dec_CCoef:\t %f \t Dec_RMS:\t ",
           double(d[0]), double(d[1]), double(d[2]));
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_NE(log.find("Mag Calc Method: Three Star\r"), std::string::npos);
}

// Stars with only a magnitude or only a position; entry stopped after two.
TEST_F(StarClickTest, MagnitudeOnlyAndPositionOnlyStars) {
  MyImageWindowDataStruct* r = Open(200, 150, {{50, 50, 2.0, 20000}, {150, 100, 2.0, 9000}});
  ASSERT_NE(r, nullptr);
  UserClick(FindControl(r->mPhotometryWindow, Sig("BEMC"), 0));
  {
    ScriptedUser user;
    user.Click(Sig("CRDX"), 0).Do([&] {
      WindowRef sheet = FindWindow("GetRADECMag");
      EXPECT_FALSE(IsControlEnabled(FindControl(sheet, Sig("CRAH"), 0)));
      EXPECT_FALSE(IsControlEnabled(FindControl(sheet, Sig("CDEN"), 0)));
      EXPECT_TRUE(IsControlEnabled(FindControl(sheet, Sig("ok  "), 0)));
    });
    user.Type(Sig("MAGV"), 0, "9.5").ClickOK();
    EXPECT_EQ(ClickAt(r, 50, 50), noErr);
    // Both boxes off: no OK; RA/Dec back on.
    user.Click(Sig("MAGX"), 0).Click(Sig("CRDX"), 0).Do([&] {
      WindowRef sheet = FindWindow("GetRADECMag");
      EXPECT_FALSE(IsControlEnabled(FindControl(sheet, Sig("MAGV"), 0)));
      EXPECT_FALSE(IsControlEnabled(FindControl(sheet, Sig("ok  "), 0)));
    });
    user.Click(Sig("CRDX"), 0);
    user.Type(Sig("CRAH"), 0, "5").Type(Sig("CRAM"), 0, "30").Type(Sig("CRAS"), 0, "15.5");
    user.Type(Sig("CDEN"), 0, "S").Type(Sig("CDED"), 0, "12").Type(Sig("CDEM"), 0, "5").Type(Sig("CDES"), 0, "30");
    user.ClickOK();
    EXPECT_EQ(ClickAt(r, 150, 100), noErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mKnownStarCount, 2);
  EXPECT_EQ(r->mMagStarCount, 1);
  EXPECT_EQ(r->mRADecStarCount, 1);
  EXPECT_EQ(r->mKnownStarRA[0], -9999.0f);
  EXPECT_EQ(r->mKnownStarMag[1], -9999.0f);
  EXPECT_EQ(r->mKnownStarRA[1], 297232.5f);
  EXPECT_EQ(r->mKnownStarDec[1], -43530.0f);
  char line[512];
  snprintf(line, sizeof line,
           "-------------------Start Entering Magnitude & Location Data\r"
           "Known Star #:\t1 \t X:\t%5.1f \tY:\t%5.1f \t Mag: \t 9.500 \t Intensity: \t%8.1f \r"
           "Known Star #:\t2 \t X:\t%5.1f \tY:\t%5.1f \tRASec:\t 297232.50 \t DecSec:\t -43530.00 \t\r",
           double(r->mKnownStarX[0]), double(r->mKnownStarY[0]), double(r->mKnownStarSum[0]),
           double(r->mKnownStarX[1]), double(r->mKnownStarY[1]));
  EXPECT_EQ(Log(), line);
  // Stopped early: the one magnitude star is the base.
  UserClick(FindControl(r->mPhotometryWindow, Sig("BEMC"), 0));
  EXPECT_EQ(r->mKnownStarEntry, 0);
  EXPECT_EQ(r->mMagCalibrated, 1);
  EXPECT_EQ(r->mBaseMagnitude, 9.5f);
  EXPECT_EQ(r->mBaseIntensity, r->mKnownStarSum[0]);
  snprintf(line, sizeof line,
           "Mag Calc Method: Single Star\rBase Mag:9.500 Base Intensity:%8.1f  Base Deviation:N/A \r"
           "-------------------End Entering Magnitude & Location Data\r",
           double(r->mKnownStarSum[0]));
  EXPECT_NE(Log().find(line), std::string::npos) << Log();
}

}  // namespace
