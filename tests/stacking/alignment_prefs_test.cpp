#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/hitoolbox/ScriptedUser.h"
#include "stacking/AlignAndStack.h"
#include "tests/stacking/StackFixture.h"

namespace {

using skyloom::ui::ScriptedUser;

// The defaults, written out field by field from the job's table.
StackAlignJob Defaults() {
  StackAlignJob j;
  memset(static_cast<void*>(&j), 0, sizeof j);
  j.POST = 1;
  j.AUTOCLIP = 1;
  j.CTAVLIMITPERCENT = 1;
  j.REMOVEHOTPIXEL = 23;
  j.PIXELALIGN = 3;
  j.PERCENTFRAME = 60;
  j.SCALE = 1;
  j.PIXELBLOCKSIZE = 1;
  j.COLORCHANNEL = 1;
  j.PIXELTOLERANCE = 9;
  j.SHARPEN = -1.0;
  j.mWantsAreaImage = 1;
  return j;
}

// Every field but the movie and file references, which preferences never touch.
::testing::AssertionResult SameBytes(const StackAlignJob& a, const StackAlignJob& b) {
#define SAME(f) \
  if (!(a.f == b.f)) return ::testing::AssertionFailure() << #f << ": " << double(a.f) << " vs " << double(b.f);
  SAME(DFLTFOPICK) SAME(PROMPTCI) SAME(PROMPTAREA) SAME(QUALITY) SAME(METHOD) SAME(SUMIMG) SAME(BCGSUBTRACT)
  SAME(POST) SAME(REMOVENOISE) SAME(AUTOCLIP) SAME(GAUSBLUR) SAME(MANUALFRAMES) SAME(AUTOADJBRIGHTNESS)
  SAME(CTAVIMAGE) SAME(CTAVONLYSAVE) SAME(BIN2x2MOV) SAME(CTAVLIMITPERCENT) SAME(SAVSHARPREFMOV)
  SAME(REMOVEHOTPIXEL) SAME(PIXELALIGN) SAME(PERCENTFRAME) SAME(SCALE) SAME(mMovieCount) SAME(PIXELBLOCKSIZE)
  SAME(COLORCHANNEL) SAME(PIXELTOLERANCE) SAME(SHARPEN) SAME(AUTOEXPALIGN) SAME(mLogOpen) SAME(mWantsAreaImage)
  SAME(WHICHQUADRANT) SAME(GRADLEVEL) SAME(mCancel) SAME(mRunning) SAME(SHARPMATCH) SAME(SPATIALSHARPNESS)
  SAME(mOutputFolderSpec.vRefNum) SAME(mOutputFolderSpec.parID) SAME(mOutputFolderSpec.name[0])
#undef SAME
  if (a.mLogFile != b.mLogFile || a.mProgressWindow != b.mProgressWindow || a.mPumpTimer != b.mPumpTimer ||
      a.mPumpTimerUPP != b.mPumpTimerUPP || a.mThreadEntryUPP != b.mThreadEntryUPP)
    return ::testing::AssertionFailure() << "a run field is set";
  return ::testing::AssertionSuccess();
}

const char* const kEveryKeyButVersion[] = {
    "DFLTFOPICK", "VREFNUM", "PARID", "PROMPTCI", "PROMPTAREA", "SUMIMG", "METHOD", "PIXELALIGN", "POST",
    "CTAVIMAGE", "CTAVONLYSAVE", "CTAVLIMITPERCENT", "MANUALFRAMES", "QUALITY", "SHARPEN", "PERCENTFRAME", "SCALE",
    "PIXELBLOCKSIZE", "REMOVENOISE", "AUTOEXPALIGN", "SAVSHARPREFMOV", "REMOVEHOTPIXEL", "BCGSUBTRACT",
    "BIN2x2MOV", "COLORCHANNEL", "PIXELTOLERANCE", "AUTOCLIP", "AUTOADJBRIGHTNESS", "SPATIALSHARPNESS",
    "GAUSBLUR", "SHARPMATCH", "WHICHQUADRANT", "GRADLEVEL"};

using AlignmentPrefs = StackTest;

TEST_F(AlignmentPrefs, WithoutTheVersionKeyEverySettingKeepsItsDefault) {
  StackAlignJob job;
  myInitStackAlignJob(&job);
  EXPECT_TRUE(SameBytes(job, Defaults()));
  EXPECT_EQ(myReadWriteAlignmentPrefs(&job, 1), -1);  // an empty domain
  EXPECT_TRUE(SameBytes(job, Defaults()));

  for (const char* key : kEveryKeyButVersion) Put(key, "7");
  SkyloomPreferencesForgetAll();
  myInitStackAlignJob(&job);
  EXPECT_EQ(myReadWriteAlignmentPrefs(&job, 1), -1);
  EXPECT_TRUE(SameBytes(job, Defaults()));
}

TEST_F(AlignmentPrefs, StoredTextsBecomeFieldsWithoutRangeChecks) {
  Put("VERS", "67108864.000000");
  struct Case {
    const char* key;
    const char* text;
    std::function<double(const StackAlignJob&)> field;
    double expected;
  };
  const Case cases[] = {
      {"PIXELALIGN", "9.000000", [](const StackAlignJob& j) { return j.PIXELALIGN; }, 9},
      {"SHARPMATCH", "0.7", [](const StackAlignJob& j) { return j.SHARPMATCH; }, 0},
      {"POST", "0.7", [](const StackAlignJob& j) { return j.POST; }, 1},
      {"POST", "-2", [](const StackAlignJob& j) { return j.POST; }, 0},
      {"AUTOCLIP", "257", [](const StackAlignJob& j) { return j.AUTOCLIP; }, 1},
      {"SPATIALSHARPNESS", "2.9", [](const StackAlignJob& j) { return j.SPATIALSHARPNESS; }, 2},
      {"SPATIALSHARPNESS", "258", [](const StackAlignJob& j) { return j.SPATIALSHARPNESS; }, 2},
      {"PERCENTFRAME", "250.75", [](const StackAlignJob& j) { return j.PERCENTFRAME; }, 250},
      {"REMOVEHOTPIXEL", "-3", [](const StackAlignJob& j) { return j.REMOVEHOTPIXEL; }, 0},
      {"SHARPEN", "2.55", [](const StackAlignJob& j) { return j.SHARPEN; }, 2.55},
      {"GRADLEVEL", "1e12", [](const StackAlignJob& j) { return j.GRADLEVEL; }, 4294967295.0},
  };
  for (const Case& c : cases) {
    Put(c.key, c.text);
    StackAlignJob job;
    myInitStackAlignJob(&job);
    myReadWriteAlignmentPrefs(&job, 1);
    EXPECT_EQ(c.field(job), c.expected) << c.key << " = \"" << c.text << "\"";
    Put(c.key, nullptr);
  }
}

TEST_F(AlignmentPrefs, TextThatIsNoNumberKeepsTheFieldAndLaterKeysAreRead) {
  Put("VERS", "67108864.000000");
  Put("PERCENTFRAME", "abc");
  Put("SCALE", "3");
  Put("POST", "");
  Put("GRADLEVEL", "4");
  StackAlignJob job;
  myInitStackAlignJob(&job);
  EXPECT_EQ(myReadWriteAlignmentPrefs(&job, 1), noErr);
  EXPECT_EQ(job.PERCENTFRAME, 60u);
  EXPECT_EQ(job.SCALE, 3u);
  EXPECT_EQ(job.POST, 1);
  EXPECT_EQ(job.GRADLEVEL, 4u);
}

TEST_F(AlignmentPrefs, WritesEveryKeyAsSinglePrecisionText) {
  StackAlignJob job;
  myInitStackAlignJob(&job);
  job.PERCENTFRAME = 77;
  EXPECT_EQ(myReadWriteAlignmentPrefs(&job, 0), noErr);
  EXPECT_EQ(Stored("VERS"), "67108864.000000");
  EXPECT_EQ(Stored("SHARPEN"), "-1.000000");
  EXPECT_EQ(Stored("PERCENTFRAME"), "77.000000");
  EXPECT_EQ(Stored("REMOVEHOTPIXEL"), "23.000000");
  EXPECT_EQ(Stored("DFLTFOPICK"), "0.000000");
  // No folder known: the location keys are not written.
  EXPECT_EQ(Stored("VREFNUM"), "<none>");
  EXPECT_EQ(Stored("PARID"), "<none>");
  for (const char* key : kEveryKeyButVersion) {
    if (std::string(key) == "VREFNUM" || std::string(key) == "PARID") continue;
    EXPECT_NE(Stored(key), "<none>") << key;
  }
}

TEST_F(AlignmentPrefs, ThreeJobsSurviveTheRoundTrip) {
  const std::string folder = MakeFolder("results");
  FSRef ref;
  FSCatalogInfo info;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr), noErr);
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);

  StackAlignJob defaults = Defaults();
  StackAlignJob manyAreas = Defaults();  // like the eleventh preset, with a remembered folder
  manyAreas.QUALITY = manyAreas.METHOD = manyAreas.PROMPTCI = manyAreas.GAUSBLUR = manyAreas.MANUALFRAMES = 1;
  manyAreas.CTAVIMAGE = manyAreas.CTAVONLYSAVE = manyAreas.AUTOEXPALIGN = manyAreas.SHARPMATCH = 1;
  manyAreas.SPATIALSHARPNESS = 0;
  manyAreas.CTAVLIMITPERCENT = 7;
  manyAreas.REMOVEHOTPIXEL = 0;
  manyAreas.PIXELALIGN = 5;
  manyAreas.PERCENTFRAME = 70;
  manyAreas.PIXELTOLERANCE = 13;
  manyAreas.PROMPTAREA = 1;
  manyAreas.DFLTFOPICK = 1;
  manyAreas.mOutputFolderSpec.vRefNum = info.volume;
  manyAreas.mOutputFolderSpec.parID = SInt32(info.nodeID);
  StackAlignJob extremes = Defaults();
  extremes.PIXELALIGN = 5;
  extremes.PERCENTFRAME = 100;
  extremes.SCALE = 4;
  extremes.PIXELBLOCKSIZE = 8;
  extremes.PIXELTOLERANCE = 31;
  extremes.REMOVEHOTPIXEL = 35;
  extremes.GRADLEVEL = 30;
  extremes.WHICHQUADRANT = 5;
  extremes.COLORCHANNEL = 4;
  extremes.SPATIALSHARPNESS = 2;
  extremes.CTAVLIMITPERCENT = 12;
  extremes.SHARPEN = 15.0;
  extremes.POST = extremes.AUTOCLIP = 0;
  extremes.SUMIMG = extremes.BCGSUBTRACT = extremes.BIN2x2MOV = extremes.SAVSHARPREFMOV = 1;
  extremes.REMOVENOISE = extremes.AUTOADJBRIGHTNESS = 1;

  for (const StackAlignJob* written : {&defaults, &manyAreas, &extremes}) {
    StackAlignJob copy = *written;
    ASSERT_EQ(myReadWriteAlignmentPrefs(&copy, 0), noErr);
    SkyloomPreferencesForgetAll();
    StackAlignJob read;
    myInitStackAlignJob(&read);
    myReadWriteAlignmentPrefs(&read, 1);
    EXPECT_TRUE(SameBytes(read, *written));
  }
  // The last job knew no folder: the older location stays in the domain, and
  // the remembered folder is the one written.
  EXPECT_EQ(Stored("DFLTFOPICK"), "0.000000");
  EXPECT_NE(Stored("PARID"), "<none>");
  EXPECT_EQ(FolderOf(manyAreas.mOutputFolderSpec), folder);
}

TEST_F(AlignmentPrefs, AFolderThatIsGoneIsForgotten) {
  const std::string folder = MakeFolder("gone");
  FSRef ref;
  FSCatalogInfo info;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr), noErr);
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
  StackAlignJob job = Defaults();
  job.DFLTFOPICK = 1;
  job.mOutputFolderSpec.vRefNum = info.volume;
  job.mOutputFolderSpec.parID = SInt32(info.nodeID);
  ASSERT_EQ(myReadWriteAlignmentPrefs(&job, 0), noErr);
  ASSERT_EQ(rmdir(folder.c_str()), 0);

  SkyloomPreferencesForgetAll();
  StackAlignJob read;
  myInitStackAlignJob(&read);
  myReadWriteAlignmentPrefs(&read, 1);
  EXPECT_EQ(read.DFLTFOPICK, 0);

  // A location with a key missing is not trusted either.
  Put("PARID", nullptr);
  SkyloomPreferencesForgetAll();
  myInitStackAlignJob(&read);
  myReadWriteAlignmentPrefs(&read, 1);
  EXPECT_EQ(read.DFLTFOPICK, 0);
}

TEST_F(AlignmentPrefs, AFailedSynchronisationIsReported) {
  ScriptedUser user;
  user.AnswerAlert();
  StackAlignJob job = Defaults();
  SkyloomFailPreferenceWrites(1);
  EXPECT_EQ(myReadWriteAlignmentPrefs(&job, 0), noErr);
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, "OSXER");
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, "CFPREFERR");
  EXPECT_TRUE(user.Errors().empty());
}

}  // namespace
