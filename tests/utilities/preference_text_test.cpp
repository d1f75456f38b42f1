#include <clocale>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "utilities/PreferenceText.h"

namespace {

std::string Utf8(CFStringRef s) {
  char buf[4096];
  return CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? buf : "<unconvertible>";
}

class PreferenceText : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/skyloom-preftext-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    SkyloomSetConfigurationDirectory(dir_.c_str());
    SkyloomPreferencesForgetAll();
  }
  void TearDown() override {
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }
  static CFStringRef App() { return CFSTR("com.brindlemoor.SKYLOOM_App.ImageProcessingPref"); }
  static std::string Stored(CFStringRef key) {
    CFPropertyListRef v = CFPreferencesCopyAppValue(key, App());
    if (v == nullptr) return "<none>";
    std::string s = CFGetTypeID(v) == CFStringGetTypeID() ? Utf8(static_cast<CFStringRef>(v)) : "<?>";
    CFRelease(v);
    return s;
  }
  static void Store(CFStringRef key, const std::string& text) {
    CFStringRef s = CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(key, s, App());
    CFRelease(s);
  }
  std::string dir_;
};

TEST_F(PreferenceText, WritesSinglePrecisionSixDecimals) {
  const struct {
    double value;
    const char* text;
  } kCases[] = {
      {3.14159265, "3.141593"},
      {16777217.0, "16777216.000000"},  // the nearest float
      {0.1, "0.100000"},
      {1.0e9, "1000000000.000000"},
      {-2.5, "-2.500000"},
      {0.0000004, "0.000000"},
      {1e39, "inf"},  // past the float range: reads back as an overflow
  };
  for (const auto& c : kCases) {
    ASSERT_EQ(myWriteOutCFStrForDblApplicationID(App(), CFSTR("VALUE"), c.value), noErr);
    EXPECT_EQ(Stored(CFSTR("VALUE")), c.text) << c.value;
  }
}

TEST_F(PreferenceText, ReadResultsAndValues) {
  const std::string longText(300, '1');
  const std::string fits(255, '0');
  const struct {
    const char* what;
    const char* stored;  // null: nothing stored
    SInt32 checkRange;
    double min, max;
    OSStatus result;
    double value;
  } kCases[] = {
      {"a number", "2.500000", 1, 0, 4, 0, 2.5},
      {"not a number", "abc", 0, 0, 0, 0, 0.0},
      {"trailing text ignored", "2.5xyz", 1, 0, 4, 0, 2.5},
      {"leading blanks", "  7", 0, 0, 0, 0, 7.0},
      {"overflow", "1e400", 0, 0, 0, kPrefTextOverflow, 0.0},
      {"negative overflow", "-1e400", 1, -1, 1, kPrefTextOverflow, 0.0},
      {"infinity spelled out", "inf", 0, 0, 0, kPrefTextOverflow, 0.0},
      {"above the range", "5.0", 1, 0, 4, kPrefTextOutOfRange, 0.0},
      {"below the range", "-0.5", 1, 0, 4, kPrefTextOutOfRange, 0.0},
      {"range at its ends", "4", 1, 0, 4, 0, 4.0},
      {"range not asked", "5.0", 0, 0, 4, 0, 5.0},
      {"only checkRange 1 asks", "5.0", 2, 0, 4, 0, 5.0},
      {"nan is no number", "nan", 0, 0, 0, 0, 0.0},
      {"nan then the range", "-nan(1)", 1, 1, 2, kPrefTextOutOfRange, 0.0},
      {"empty", "", 0, 0, 0, kPrefTextEmpty, 0.0},
      {"missing", nullptr, 0, 0, 0, kPrefTextMissing, 0.0},
      {"300 bytes", longText.c_str(), 0, 0, 0, memFullErr, 0.0},
      {"255 bytes fit", fits.c_str(), 0, 0, 0, 0, 0.0},
  };
  for (const auto& c : kCases) {
    CFPreferencesSetAppValue(CFSTR("VALUE"), nullptr, App());
    if (c.stored) Store(CFSTR("VALUE"), c.stored);
    double value = 99.0;
    EXPECT_EQ(myVerifyCFStrForApplicationID(App(), CFSTR("VALUE"), c.checkRange, c.min, c.max, &value), c.result)
        << c.what;
    EXPECT_EQ(value, c.value) << c.what;
  }
  double value = 99.0;
  EXPECT_EQ(myVerifyCFStrForApplicationID(nullptr, CFSTR("VALUE"), 0, 0, 0, &value), kPrefTextMissing);
  EXPECT_EQ(value, 0.0);
}

TEST_F(PreferenceText, ValuesThatAreNotStringsCannotBeConverted) {
  double d = 2.0;
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberFloat64Type, &d);
  CFArrayRef array = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
  for (CFTypeRef stored : {CFTypeRef(number), CFTypeRef(array), CFTypeRef(kCFBooleanTrue)}) {
    CFPreferencesSetAppValue(CFSTR("VALUE"), stored, App());
    double value = 99.0;
    EXPECT_EQ(myVerifyCFStrForApplicationID(App(), CFSTR("VALUE"), 0, 0, 0, &value), memFullErr);
    EXPECT_EQ(value, 0.0);
  }
  CFRelease(number);
  CFRelease(array);
}

TEST_F(PreferenceText, ValuesSurviveSynchronizeAndANewStart) {
  ASSERT_EQ(myWriteOutCFStrForDblApplicationID(App(), CFSTR("LOW"), 0.1), noErr);
  ASSERT_EQ(myWriteOutCFStrForDblApplicationID(App(), CFSTR("HIGH"), 65535.0), noErr);
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  SkyloomPreferencesForgetAll();
  double low = 0, high = 0;
  EXPECT_EQ(myVerifyCFStrForApplicationID(App(), CFSTR("LOW"), 1, 0, 1, &low), noErr);
  EXPECT_EQ(myVerifyCFStrForApplicationID(App(), CFSTR("HIGH"), 1, 0, 65535, &high), noErr);
  EXPECT_EQ(low, 0.1);  // strtod of "0.100000"
  EXPECT_EQ(high, 65535.0);
}

// A desktop toolkit sets the user's locale; the text in the files must not change.
TEST_F(PreferenceText, DecimalCommaLocaleChangesNothing) {
  ASSERT_NE(setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  ASSERT_STREQ(localeconv()->decimal_point, ",");
  EXPECT_EQ(myWriteOutCFStrForDblApplicationID(App(), CFSTR("VALUE"), 3.14159265), noErr);
  const std::string stored = Stored(CFSTR("VALUE"));
  Store(CFSTR("READ"), "2.75");
  double value = 0;
  const OSStatus r = myVerifyCFStrForApplicationID(App(), CFSTR("READ"), 1, 0, 4, &value);
  Store(CFSTR("COMMA"), "2,75");
  double comma = 0;
  const OSStatus rc = myVerifyCFStrForApplicationID(App(), CFSTR("COMMA"), 0, 0, 0, &comma);
  setlocale(LC_ALL, "C");
  EXPECT_EQ(stored, "3.141593");
  EXPECT_EQ(r, noErr);
  EXPECT_EQ(value, 2.75);
  // A comma is not a decimal point in preference text.
  EXPECT_EQ(rc, noErr);
  EXPECT_EQ(comma, 2.0);
}

}  // namespace
