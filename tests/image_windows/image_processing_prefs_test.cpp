// The processing settings against the preference store's file, with the alert
// of a failed save answered by a scripted user.
#include "image_windows/ImageProcessingPrefs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

const char kDomainName[] = "com.brindlemoor.SKYLOOM_App.ImageProcessingPref";

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ImageProcessingPrefs : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    config_ = dir_ + "/config";
    ASSERT_EQ(mkdir(config_.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    domain_ = CFStringCreateWithCString(nullptr, kDomainName, kCFStringEncodingUTF8);
    mySetImageWindowDefaultSettings(&record_);
  }
  void TearDown() override {
    CFRelease(domain_);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  std::string File() const { return config_ + "/" + kDomainName + ".plist"; }
  void Store(const char* key, const char* text) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFStringRef v = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(k, v, domain_);
    CFRelease(k);
    CFRelease(v);
  }
  std::string Stored(const char* key) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFPropertyListRef v = CFPreferencesCopyAppValue(k, domain_);
    CFRelease(k);
    if (v == nullptr) return "<none>";
    char buf[256] = "";
    CFStringGetCString(static_cast<CFStringRef>(v), buf, sizeof buf, kCFStringEncodingUTF8);
    CFRelease(v);
    return buf;
  }
  // Every key of the table with a value of its own.
  void StoreAll() {
    const char* const kAll[][2] = {
        {"SHRPSMOO", "1"},    {"MINSHRPTHRESH", "100"}, {"MAXSHRPTHRESH", "60000"}, {"PREVIEW", "0"},
        {"SAVE16Bit", "1"},   {"SHARP1", "10"},         {"SHARP2", "21"},           {"SHARP3", "61"},
        {"SHARP4", "1"},      {"SHARP5", "211"},        {"SHARP6", "30"},           {"SHARP7", "45"},
        {"LOGCURVE", "1.5"},  {"LOGCURVECUTOFF", "200"}, {"LRGB", "0"},             {"SATRED", "1"},
        {"SATGREEN", "1.25"}, {"SATBLUE", "0.75"},      {"MINRED", "1000"},         {"MAXRED", "61000"},
        {"MINGREEN", "2000"}, {"MAXGREEN", "62000"},    {"MINBLUE", "3000"},        {"MAXBLUE", "63000"},
        {"NOISEREDUCT", "7"}, {"REHORZOFF", "3"},       {"REDVERTOFF", "-2"},       {"BLUHORZOFF", "-8"},
        {"BLUVERTOFF", "8"},  {"GRNHORZOFF", "1"},      {"GRNVERTOFF", "-1"},       {"SATURATION", "0.5"}};
    for (const auto& kv : kAll) Store(kv[0], kv[1]);
  }
  std::string config_;
  CFStringRef domain_ = nullptr;
  MyImageWindowDataStruct record_{};
};

TEST_F(ImageProcessingPrefs, RoundTripOfEveryKeyThroughTheFile) {
  StoreAll();
  Store("VERS", "1");
  record_.mGreenOffsetsLocked = 0;
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 1), noErr);
  const MyImageWindowDataStruct& r = record_;
  EXPECT_EQ(r.mSharpenSmooth, 1);
  EXPECT_EQ(r.mMinSharpenThreshold, 100);
  EXPECT_EQ(r.mMaxSharpenThreshold, 60000);
  EXPECT_EQ(r.mPreview, 0);
  EXPECT_EQ(r.mSave16Bit, 1);
  const Float32 sharp[] = {10, 21, 61, 1, 211, 30, 45};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(r.mSharpAmount[k], sharp[k]) << k;
  EXPECT_EQ(r.mCurve, 1.5f);
  EXPECT_EQ(r.mCurveCutoff, 200u);
  EXPECT_EQ(r.mLRGBMode, 0);
  EXPECT_EQ(r.mRedBalance, 1.0f);
  EXPECT_EQ(r.mGreenBalance, 1.25f);
  EXPECT_EQ(r.mBlueBalance, 0.75f);
  EXPECT_EQ(r.mMinRed, 1000u);
  EXPECT_EQ(r.mMaxRed, 61000u);
  EXPECT_EQ(r.mMinGreen, 2000u);
  EXPECT_EQ(r.mMaxGreen, 62000u);
  EXPECT_EQ(r.mMinBlue, 3000u);
  EXPECT_EQ(r.mMaxBlue, 63000u);
  EXPECT_EQ(r.mNoiseReduction, 7u);
  EXPECT_EQ(r.mRedHorzOffset, 3);
  EXPECT_EQ(r.mRedVertOffset, -2);
  EXPECT_EQ(r.mBlueHorzOffset, -8);
  EXPECT_EQ(r.mBlueVertOffset, 8);
  EXPECT_EQ(r.mGreenHorzOffset, 1);
  EXPECT_EQ(r.mGreenVertOffset, -1);
  EXPECT_EQ(r.mOffsetsActive, 1);
  EXPECT_EQ(r.mSaturation, 0.5f);

  // Written back into an empty store: the file matches the one written by hand.
  ASSERT_EQ(unlink(File().c_str()), -1);  // nothing synchronised so far
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 0), noErr);
  EXPECT_EQ(Slurp(File()),
            Slurp(std::string(SKYLOOM_SOURCE_DIR) + "/tests/image_windows/image_processing_settings.plist"));

  // And read again as a new window would.
  SkyloomPreferencesForgetAll();
  MyImageWindowDataStruct again{};
  mySetImageWindowDefaultSettings(&again);
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&again, 1), noErr);
  EXPECT_EQ(std::memcmp(&again.mNoiseReduction, &record_.mNoiseReduction,
                        offsetof(MyImageWindowDataStruct, mAltivecFlag) -
                            offsetof(MyImageWindowDataStruct, mNoiseReduction)),
            0);
  EXPECT_TRUE(Alerts().empty());
}

TEST_F(ImageProcessingPrefs, NothingIsReadWithoutTheVersionMark) {
  StoreAll();
  const MyImageWindowDataStruct before = record_;
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 1), -1);
  EXPECT_EQ(std::memcmp(&before, &record_, sizeof before), 0);
}

TEST_F(ImageProcessingPrefs, ValuesAreTakenAsStored) {
  const struct {
    const char* key;
    const char* text;
    UInt8 lrgb;
    UInt32 noise;
    SInt32 redHorz;
    UInt8 offsetsActive;
  } kCases[] = {
      {"LRGB", "0.005", 0, 1, 0, 0},
      {"LRGB", "0.02", 1, 1, 0, 0},
      {"NOISEREDUCT", "20", 1, 20, 0, 0},
      {"REHORZOFF", "12", 1, 1, 12, 1},
      {"REHORZOFF", "-2.7", 1, 1, -2, 1},
      {"BLUVERTOFF", "-1", 1, 1, 0, 1},
      {"NOISEREDUCT", "x", 1, 0, 0, 0},  // not a number reads as 0
  };
  for (const auto& c : kCases) {
    SkyloomPreferencesForgetAll();
    unlink(File().c_str());
    Store("VERS", "50397200.000000");
    Store(c.key, c.text);
    MyImageWindowDataStruct r{};
    mySetImageWindowDefaultSettings(&r);
    r.mLRGBMode = 1;
    r.mOffsetsActive = 1;  // recomputed from the six offsets
    EXPECT_EQ(myReadWriteImageProcessingPrefs(&r, 1), -1) << c.key << c.text;  // no SATURATION
    EXPECT_EQ(r.mLRGBMode, c.lrgb) << c.key << c.text;
    EXPECT_EQ(r.mNoiseReduction, c.noise) << c.key << c.text;
    EXPECT_EQ(r.mRedHorzOffset, c.redHorz) << c.key << c.text;
    EXPECT_EQ(r.mOffsetsActive, c.offsetsActive) << c.key << c.text;
  }
}

TEST_F(ImageProcessingPrefs, LockedGreenIsNeitherReadNorKept) {
  Store("VERS", "1");
  Store("GRNHORZOFF", "3");
  Store("GRNVERTOFF", "-4");
  record_.mGreenOffsetsLocked = 1;
  record_.mGreenHorzOffset = 5;
  record_.mGreenVertOffset = 5;
  record_.mOffsetsActive = 1;
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 1), -1);
  EXPECT_EQ(record_.mGreenHorzOffset, 0);
  EXPECT_EQ(record_.mGreenVertOffset, 0);
  EXPECT_EQ(record_.mOffsetsActive, 0);

  record_.mGreenHorzOffset = 2;  // set behind the disabled pop-ups' back
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 0), noErr);
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(Stored("GRNHORZOFF"), "0.000000");
  EXPECT_EQ(Stored("GRNVERTOFF"), "0.000000");
  EXPECT_EQ(Stored("VERS"), "50397200.000000");
  EXPECT_EQ(Stored("SHARP1"), "10.000000");
  EXPECT_EQ(Stored("SATRED"), "1.000000");
}

TEST_F(ImageProcessingPrefs, AFailedSaveAlertsOnce) {
  ScriptedUser user;
  user.AnswerAlert();
  SkyloomFailPreferenceWrites(1);
  EXPECT_EQ(myReadWriteImageProcessingPrefs(&record_, 0), noErr);
  SkyloomFailPreferenceWrites(0);
  ASSERT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(Alerts()[0].title, "System Error");
  EXPECT_EQ(Alerts()[0].message, "The image-processing settings could not be saved.");
  EXPECT_TRUE(user.Errors().empty());
}

}  // namespace
