// The frame's moment of exposure: the start stamp read back from a movie,
// Julian Days against astropy, and the time column of the tables.
#include "photometry/MovieRealTime.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/MovieLayout.h"
#include "media/MovieRecorder.h"
#include "media/TimeCode.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/Movies.h"
#include "tests/support/MovieFolder.h"
#include "tests/support/TestDates.h"

namespace {

using skyloom::test::Secs;

std::string Stamp(double t, int dateMode) {
  char s[kTableTimeStampSize];
  myMakeTableTimeStamp(t, dateMode, s);
  return s;
}

}  // namespace

// Expected values from astropy Time(..., scale='utc').jd.
TEST(JulianDay, MatchesAstropy) {
  struct Case {
    short y, mo, d, h, mi, s;
    double fraction, jd;
  } cases[] = {
      {2000, 1, 1, 12, 0, 0, 0.0, 2451545.0},
      {2008, 3, 5, 4, 7, 9, 0.05, 2454530.67163252},
      {2007, 3, 5, 3, 4, 5, 0.06, 2454164.62783634},
      {1900, 2, 28, 0, 0, 0, 0.0, 2415078.5},
      {2024, 2, 29, 6, 30, 0, 0.5, 2460369.77083912},
      {2100, 3, 1, 23, 59, 59, 0.99, 2488129.49999988},
  };
  for (const Case& c : cases) {
    LongDateRec r{};
    r.year = c.y;
    r.month = c.mo;
    r.day = c.d;
    r.hour = c.h;
    r.minute = c.mi;
    r.second = c.s;
    EXPECT_NEAR(myCalculateJDNFromUTC(c.fraction, &r), c.jd, 6e-9) << c.y << "-" << c.mo << "-" << c.d;
  }
}

TEST(StartStamp, ReadsTheFieldsAtTheirPlaces) {
  const double t2008 = double(Secs(2008, 3, 5, 4, 7, 9));
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"STARTED2008 3 5_ 4 7 9. 5UTC", t2008 + 0.05},
      {"STARTED20080305_040709.05UTC", t2008 + 0.05},
      {"STARTED20080305_040709.5UTC", t2008},  // 27 characters: no hundredths
      {"STARTED20080305_xx0709.05UTC", double(Secs(2008, 3, 5, 0, 7, 9)) + 0.05},
      {"STARTED20080305_04-709.05UTC", double(Secs(2008, 3, 5, 4, 0, 9)) + 0.05},
      {"STARTED20080305_0407x9.05UTC", double(Secs(2008, 3, 5, 4, 7, 0))},
      {"STARTED20410101_000000.00UTC", double(Secs(2041, 1, 1, 0, 0, 0))},
      {"STARTED20080305_040709.05", 0.0},  // no "UTC"
      {"20080305_040709.05UTC", 0.0},       // no "STARTED"
      {"STARTED0000", 0.0},                 // not after 1904
      {"STARTED20080305_040799999UTC", 0.0},  // seconds beyond any record
      {"", 0.0},
  };
  for (const Case& c : cases) EXPECT_NEAR(myRealTimeFromStartStamp(c.text), c.expected, 1e-6) << c.text;
  EXPECT_EQ(myRealTimeFromStartStamp(nullptr), 0.0);
}

class MovieStartTime : public ::testing::Test {
 protected:
  MovieFolder folder_;
  void SetUp() override { MakeMovieFolder("skyloom-rt", &folder_); }
  void TearDown() override {
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(folder_.dir);
  }
  // A ten-frame 8-bit grey recording, frames 40 ms apart at time scale 600.
  std::string Recording(const char* name) {
    constexpr UInt32 W = 4, H = 2, n = 10;
    OSErr err;
    ImageDescriptionHandle d = myCreateMovieImageDescription(FOUR_CHAR_CODE("raw "), 8, 1024, W, H, &err);
    std::vector<float> times;
    for (UInt32 k = 0; k < n; ++k) times.push_back(1000.0f + 40.0f * float(k));
    MovieAtomParams p{W, H, 600, times.data(), n, W * H, 40.0, d, 3029529600u};
    std::vector<UInt8> moov;
    EXPECT_EQ(myBuildMovieAtom(p, &moov), noErr);
    DisposeHandle(reinterpret_cast<Handle>(d));
    std::vector<UInt8> file(kMovieFirstFrameOffset, 0);
    myBuildMovieFileHeader(n, W * H, file.data());
    file.resize(file.size() + W * H * n, 7);
    file.insert(file.end(), moov.begin(), moov.end());
    const std::string path = (folder_.dir / "movies" / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return path;
  }
  void Stamp(const std::string& path, const char* stamp) {
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    FSSpec fileSpec{};
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fileSpec, nullptr), noErr);
    UTCDateTime start{0, UInt32(Secs(2008, 3, 5, 4, 7, 9)), 3277};
    ASSERT_EQ(myAddInATC(start, fileSpec, stamp, 1, nullptr), noErr);
  }
  double StartOf(const std::string& path) {
    Handle h = nullptr;
    PtrToHand(path.c_str(), &h, long(path.size() + 1));
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, h, AliasDataHandlerSubType), noErr);
    DisposeHandle(h);
    if (m == nullptr) return -1.0;
    const double t = myExtractRealTimeFromMovieTimeCodeData(m);
    DisposeMovie(m);
    return t;
  }
};

TEST_F(MovieStartTime, ReadsTheRecordersStamp) {
  const double t2008 = double(Secs(2008, 3, 5, 4, 7, 9));
  const std::string blanks = Recording("blanks.mov"), made = Recording("made.mov"), other = Recording("other.mov"),
                    none = Recording("none.mov");
  Stamp(blanks, "STARTED2008 3 5_ 4 7 9. 5UTC");
  char stamp[32];
  myMakeStartStampUTC(UTCDateTime{0, UInt32(Secs(2008, 3, 5, 4, 7, 9)), 3277}, stamp);  // .05 of a second
  Stamp(made, stamp);
  Stamp(other, "Camera 1");
  EXPECT_NEAR(StartOf(blanks), t2008 + 0.05, 1e-6);
  EXPECT_NEAR(StartOf(made), t2008 + 0.05, 1e-6);
  EXPECT_EQ(StartOf(other), 0.0);
  EXPECT_EQ(StartOf(none), 0.0);  // no time-code track
  EXPECT_EQ(myExtractRealTimeFromMovieTimeCodeData(nullptr), 0.0);
}

TEST(TableTimeStamp, DateTimeAndJulianDay) {
  const double t2008 = double(Secs(2008, 3, 5, 4, 7, 9));
  const double t2007 = double(Secs(2007, 3, 5, 3, 4, 5));
  EXPECT_EQ(Stamp(t2008 + 0.05, 1), "20080305\t04:07:09.05\t2454530.67163252");
  EXPECT_EQ(Stamp(t2007 + 0.06, 1), "20070305\t03:04:05.06\t2454164.62783634");
  EXPECT_EQ(Stamp(t2007 + 0.99, 1).substr(9, 11), "03:04:05.99");
  EXPECT_EQ(Stamp(t2007 + 0.999, 1).substr(9, 11), "03:04:05.99");
  // A fraction within half a microsecond of the next second belongs to it.
  EXPECT_EQ(Stamp(double(Secs(2007, 12, 31, 23, 59, 59)) + 0.9999996, 1).substr(0, 20), "20080101\t00:00:00.00");
  EXPECT_EQ(Stamp(double(Secs(2041, 1, 1, 0, 0, 0)), 1), "20410101\t00:00:00.00\t2466520.50000000");
}

TEST(TableTimeStamp, FramesAFractionOfASecondApart) {
  // Frames 20/600 s apart, each stamped start + movie time / scale.
  const double start = double(Secs(2008, 3, 5, 21, 30, 0));
  const char* expected[] = {".00", ".03", ".06", ".10", ".13", ".16", ".20"};
  for (int k = 0; k <= 6; ++k) EXPECT_EQ(Stamp(start + 20.0 * k / 600.0, 1).substr(17, 3), expected[k]) << k;
}

TEST(TableTimeStamp, ElapsedSecondsKeepTheirBlanksAndThePoint) {
  EXPECT_EQ(Stamp(0.05, 0), "    0.05");
  EXPECT_EQ(Stamp(12345.678, 0), "12345.68");
  const std::string old = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  const std::string elapsed = Stamp(1.5, 0), dated = Stamp(double(Secs(2000, 1, 1, 12, 0, 0)), 1);
  setlocale(LC_NUMERIC, old.c_str());
  EXPECT_EQ(elapsed, "    1.50");
  EXPECT_EQ(dated, "20000101\t12:00:00.00\t2451545.00000000");
}
