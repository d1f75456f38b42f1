#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/corefoundation/CoreFoundation.h"
#include "utilities/LogFiles.h"

namespace {

// Seconds from 2001-01-01 00:00:00 UTC, worked out apart from the code under test.
constexpr CFAbsoluteTime k20260307_040506_25 = 794549106.25;
constexpr CFAbsoluteTime k20261231_235959_7 = 820454399.7;
constexpr CFAbsoluteTime k20260102_030405 = 789015845.0;
constexpr CFAbsoluteTime k20260701_120000 = 804600000.0;

// Pins the clock and the system time zone for one test.
class Stamp : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    hadTZ_ = tz != nullptr;
    if (hadTZ_) oldTZ_ = tz;
    Zone("UTC");
  }
  void TearDown() override {
    SkyloomSetAbsoluteTimeSource(nullptr);
    if (hadTZ_) setenv("TZ", oldTZ_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    CFTimeZoneResetSystem();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    CFTimeZoneResetSystem();
  }
  static void At(CFAbsoluteTime t) {
    SkyloomSetAbsoluteTimeSource([t] { return t; });
  }
  static std::string Get(SInt32 useUTC, SInt32 fractional, SInt32 zeroPad) {
    char out[32];
    memset(out, 'Z', sizeof out);
    myGetDateTimePaddedString(out, useUTC, fractional, zeroPad);
    return std::string(out, strnlen(out, sizeof out));
  }
  bool hadTZ_ = false;
  std::string oldTZ_;
};

TEST_F(Stamp, FormsOfOneMoment) {
  At(k20260307_040506_25);
  EXPECT_EQ(Get(1, 0, 0), "2026 3 7_ 4 5 6");
  EXPECT_EQ(Get(1, 0, 1), "20260307_040506");
  EXPECT_EQ(Get(1, 1, 1), "20260307_040506.25");
  EXPECT_EQ(Get(1, 1, 0), "2026 3 7_ 4 5 6.25");
  At(k20260102_030405);
  EXPECT_EQ(Get(1, 0, 0), "2026 1 2_ 3 4 5");
}

TEST_F(Stamp, WholeSecondsRoundUpToSixty) {
  // Kept as the stamp always did: 59.7 s shows as 60 in the same minute.
  At(k20261231_235959_7);
  EXPECT_EQ(Get(0, 0, 1), "20261231_235960");
  EXPECT_EQ(Get(0, 1, 1), "20261231_235959.70");
}

TEST_F(Stamp, LocalTimeFollowsTheSystemZoneAndItsSummerTime) {
  Zone("Europe/Berlin");
  At(k20260307_040506_25);
  EXPECT_EQ(Get(0, 0, 1), "20260307_050506");  // CET, UTC+1
  EXPECT_EQ(Get(1, 0, 1), "20260307_040506");
  At(k20260701_120000);
  EXPECT_EQ(Get(0, 0, 1), "20260701_140000");  // CEST, UTC+2
  EXPECT_EQ(Get(1, 0, 1), "20260701_120000");
}

TEST_F(Stamp, DecimalCommaLocaleKeepsThePoint) {
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  At(k20260307_040506_25);
  const std::string stamp = Get(1, 1, 1);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(stamp, "20260307_040506.25");
}

}  // namespace
