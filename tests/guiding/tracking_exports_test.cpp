#include <gtest/gtest.h>
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/ObjectTracking.h"
#include "guiding/TrackingExports.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "tests/support/TestClock.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"
#include "utilities/FileDialogs.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;
namespace nav = skyloom::nav;
namespace test = skyloom::test;

// 2024-01-31 22:05:07.000 UTC.
constexpr CFAbsoluteTime kStart = 728431507.0;

const char kTrackName[] = "RA-Dec Track.txt";
const char kBrightnessName[] = "BrightnessValues.txt";

std::string Text(WindowRef w, OSType signature) {
  const ControlID id{signature, 0};
  ControlRef c = nullptr;
  if (GetControlByID(w, &id, &c) != noErr) return "<no control>";
  return ui::ControlText(c);
}

std::string Slurp(const std::string& path) {
  const std::vector<uint8_t> bytes = test::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

class TrackingExports : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    SkyloomNavForgetLocations();
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.c_str(), real), nullptr);
    folder_ = std::string(real) + "/exports";
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    record_ = std::make_unique<MyCameraWindowDataStruct>();
    record_->mKind = kMyCameraWindowDataKind;
    record_->mBrightnessStartClock = kStart;
  }
  void TearDown() override {
    SkyloomSetSystemTimeZoneMissing(false);
    SkyloomNavForgetLocations();
    UiTest::TearDown();
  }
  // A track as object tracking leaves it: the first sample's position is
  // the start, samples x, y, elapsed seconds.
  void Track(std::vector<float> samples) {
    samples_ = std::move(samples);
    record_->mTrackSamples = samples_.data();
    record_->mTrackSampleCount = UInt32(samples_.size() / kMyTrackSampleFloats);
    record_->mTrackSampleCapacity = kMyTrackSampleCapacity;
    record_->mTrackingArea[0] = samples_[0];
    record_->mTrackingArea[1] = samples_[1];
    record_->mTrackingArea[2] = samples_[samples_.size() - 3];
    record_->mTrackingArea[3] = samples_[samples_.size() - 2];
  }
  // A brightness log of an area of that size: elapsed seconds and values.
  void Brightness(float width, float height, std::vector<float> times, std::vector<float> values) {
    samples_ = std::move(times);
    values_ = std::move(values);
    record_->mTrackSamples = samples_.data();
    record_->mPleezWaitSum = values_.data();
    record_->mTrackSampleCount = UInt32(samples_.size());
    record_->mTrackingArea[0] = 100;
    record_->mTrackingArea[1] = 80;
    record_->mTrackingArea[2] = width;
    record_->mTrackingArea[3] = height;
  }
  std::string In(const std::string& name) const { return folder_ + "/" + name; }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder_)) names.push_back(e.path().filename());
    return names;
  }

  TestClock clock_{kStart};
  std::string folder_;
  std::unique_ptr<MyCameraWindowDataStruct> record_;
  std::vector<float> samples_, values_;
};

TEST_F(TrackingExports, TrackFileColumnsAndRows) {
  Track({100.0f, 200.0f, 0.0f,  //
         103.0f, 195.0f, 0.25f,  //
         98.5f, 201.25f, 62.5f});
  ScriptedUser user;
  user.Do([&] {
    WindowRef w = ui::ModalWindow();
    EXPECT_EQ(Text(w, kSkyloomNavMessageSignature), "Save Tracking Data As");
    EXPECT_EQ(Text(w, kSkyloomNavNameSignature), kTrackName);
  });
  nav::SaveInto(user, folder_);
  mySaveRA_DEC_TrackingInfo(record_.get());
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_EQ(Slurp(In(kTrackName)),
            "Collected 4 samples\r"
            "Starting X:\t100.0\t StartingY:\t200.0\r"
            "Date\tTime\tElapsed\t X(Pixels)\tY(Pixels)\r"
            "20240131\t22:05:07.000\t 0.000\t0.00\t0.00\r"
            "20240131\t22:05:07.250\t 0.250\t3.00\t5.00\r"
            "20240131\t22:06:09.500\t62.500\t-1.50\t-1.25\r");
  EXPECT_TRUE(ui::Alerts().empty());
  // The samples stay for their owner to free.
  EXPECT_EQ(record_->mTrackSamples, samples_.data());
  EXPECT_EQ(record_->mTrackSampleCount, 3u);
}

// Rows are in the system time zone, zero-padded across midnight and the end
// of a month, and numbers keep the point under a decimal-comma locale.
TEST_F(TrackingExports, BrightnessFileInTheSystemZone) {
  TestClock cet(kStart, "CET-1");
  Brightness(64.9f, 48.0f, {0.0f, 0.25f, 3293.875f}, {1234.6f, 7.0f, 99999.4f});
  const std::string oldLocale = setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  ScriptedUser user;
  user.Do([&] {
    WindowRef w = ui::ModalWindow();
    EXPECT_EQ(Text(w, kSkyloomNavMessageSignature), "Save Brightness Values as...");
    EXPECT_EQ(Text(w, kSkyloomNavNameSignature), kBrightnessName);
  });
  nav::SaveInto(user, folder_);
  myExportOutTimeBrightnessValues(record_.get());
  setlocale(LC_NUMERIC, oldLocale.c_str());
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(Slurp(In(kBrightnessName)),
            "Date\t Time\tElapsed Seconds\tBrightness of 64 x 48 Area\r"
            "20240131\t23:05:07.000\t  0.000\t 1235\r"
            "20240131\t23:05:07.250\t  0.250\t 7\r"
            "20240201\t00:00:00.875\t 3293.875\t 99999\r");
}

// Both exports start in the folder last saved into under the same key as
// other save dialogs with key 20, and replace a file already there once the
// user agrees.
TEST_F(TrackingExports, DialogRemembersItsFolderAndReplacesAFile) {
  const std::string other = folder_ + "/other";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  {
    ScriptedUser user;
    nav::SaveAs(user, other, "probe.txt");
    FSRef probe;
    ASSERT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("x.txt"), &probe, FOUR_CHAR_CODE("ttxt"),
                                     FOUR_CHAR_CODE("TEXT"), 0, 20),
              noErr);
  }
  test::WriteFile(other + "/" + kTrackName, std::vector<uint8_t>(5000, 'x'));
  Track({10.0f, 20.0f, 0.0f});
  ScriptedUser user;
  user.Do([&] { EXPECT_EQ(Text(ui::ModalWindow(), kSkyloomNavSelectionSignature), other); })
      .ClickOK()
      .AnswerAlert(kAlertStdAlertOKButton);
  mySaveRA_DEC_TrackingInfo(record_.get());
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(Slurp(other + "/" + kTrackName),
            "Collected 2 samples\rStarting X:\t10.0\t StartingY:\t20.0\r"
            "Date\tTime\tElapsed\t X(Pixels)\tY(Pixels)\r20240131\t22:05:07.000\t 0.000\t0.00\t0.00\r");
}

// Cancel, a file that can't be opened or no time zone: no file is left and
// no alert is shown. Nothing to write: no dialog at all.
TEST_F(TrackingExports, NothingWrittenLeavesNoFile) {
  Track({10.0f, 20.0f, 0.0f, 11.0f, 21.0f, 1.0f});
  values_ = {5.0f, 6.0f};
  record_->mPleezWaitSum = values_.data();
  using Export = void (*)(MyCameraWindowDataStruct*);
  for (Export run : {Export(mySaveRA_DEC_TrackingInfo), Export(myExportOutTimeBrightnessValues)}) {
    {
      ScriptedUser user;
      nav::Cancel(user);
      run(record_.get());
      EXPECT_TRUE(user.Errors().empty());
      EXPECT_EQ(user.Pending(), 0u);
    }
    {
      SkyloomSetSystemTimeZoneMissing(true);
      ScriptedUser user;
      nav::SaveInto(user, folder_);
      run(record_.get());
      SkyloomSetSystemTimeZoneMissing(false);
      EXPECT_TRUE(user.Errors().empty());
      EXPECT_EQ(user.Pending(), 0u);
    }
    {
      // The file is made, but its path is beyond what the C library open takes.
      std::string deep = folder_;
      while (deep.size() < 1100) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
      }
      ScriptedUser user;
      nav::SaveInto(user, deep);
      run(record_.get());
      EXPECT_TRUE(user.Errors().empty());
      EXPECT_EQ(user.Pending(), 0u);
      EXPECT_FALSE(Exists(deep + "/" + kTrackName));
      EXPECT_FALSE(Exists(deep + "/" + kBrightnessName));
      std::filesystem::remove_all(folder_ + "/" + std::string(100, 'd'));
    }
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(ui::Alerts().empty());
  }

  // No record, no samples or no buffer: the user is never asked.
  ScriptedUser user;
  mySaveRA_DEC_TrackingInfo(nullptr);
  myExportOutTimeBrightnessValues(nullptr);
  record_->mTrackSampleCount = 0;
  mySaveRA_DEC_TrackingInfo(record_.get());
  myExportOutTimeBrightnessValues(record_.get());
  record_->mTrackSampleCount = 2;
  record_->mPleezWaitSum = nullptr;
  myExportOutTimeBrightnessValues(record_.get());
  record_->mTrackSamples = nullptr;
  mySaveRA_DEC_TrackingInfo(record_.get());
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(SkyloomNavLiveDialogCount(), 0);
  EXPECT_TRUE(Files().empty());
}

// Outside readers: `file` sees CR line ends, and Python's csv reader (tab,
// '\r') finds every row's columns.
TEST_F(TrackingExports, OutsideToolsReadTheFiles) {
  ASSERT_TRUE(test::ToolInstalled("file"));
  Track({100.0f, 200.0f, 0.0f, 101.0f, 199.0f, 1.0f, 102.0f, 198.0f, 2.0f});
  {
    ScriptedUser user;
    nav::SaveInto(user, folder_);
    mySaveRA_DEC_TrackingInfo(record_.get());
  }
  Brightness(64.0f, 48.0f, {0.0f, 0.5f}, {10.0f, 12.5f});
  {
    ScriptedUser user;
    nav::SaveInto(user, folder_);
    myExportOutTimeBrightnessValues(record_.get());
  }
  const std::string track = In(kTrackName), brightness = In(kBrightnessName);
  for (const std::string& f : {track, brightness}) {
    const std::string kind = test::Run("file -b '" + f + "'");
    EXPECT_NE(kind.find("with CR line terminators"), std::string::npos) << kind;
  }
  const std::string script =
      "import csv, sys\n"
      "for name in sys.argv[1:]:\n"
      "    with open(name, newline=\"\") as f:\n"
      "        rows = list(csv.reader(f, delimiter=\"\\t\", lineterminator=\"\\r\"))\n"
      "    print(\" \".join(str(len(r)) for r in rows), rows[-1][0], rows[-1][-1])\n";
  EXPECT_EQ(test::Run("/usr/bin/python3 -c '" + script + "' '" + track + "' '" + brightness + "'"),
            "1 4 5 5 5 5 20240131 2.00\n"
            "4 4 4 20240131  12\n");
}

}  // namespace
