// 'FIMO' from the user's choices to the movie file: the pictures and the movie
// name are answered by a scripted user, the worker runs on its own thread and
// the test pumps the main run loop until the job has finished. FFmpeg reads
// every movie made.
#include "image_windows/FilesToMovie.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "media/MovieReading.h"
#include "media/RGB48Files.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieAtoms.h"
#include "platform/quicktime/Movies.h"
#include "tests/image_windows/BatchFixture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ThreadCount.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;
namespace nav = skyloom::nav;
namespace fs = std::filesystem;

namespace {

using skyloom::test::Picture;
using skyloom::test::RandomPicture;
using skyloom::test::RefOf;

constexpr MenuCommand kFIMO = FOUR_CHAR_CODE("FIMO");
constexpr MenuCommand kPRBI = FOUR_CHAR_CODE("PRBI");

// The picture fitted into a W x H frame (cropped, or zero at the right and
// bottom), host order.
std::vector<UInt16> Fitted(const Picture& p, UInt32 W, UInt32 H) {
  std::vector<UInt16> out(size_t(W) * H * 3, 0);
  for (UInt32 y = 0; y < std::min(H, p.height); ++y)
    for (UInt32 x = 0; x < std::min(W, p.width) * 3; ++x) out[size_t(y) * W * 3 + x] = p.rgb[size_t(y) * p.width * 3 + x];
  return out;
}

std::string BigEndianBytes(const std::vector<UInt16>& v) {
  std::string s;
  for (UInt16 x : v) {
    s.push_back(char(x >> 8));
    s.push_back(char(x & 0xFF));
  }
  return s;
}

// What the hook sees of the running job, for the test thread.
std::atomic<int> gFileStarted{-1};
std::atomic<SInt32> gProgressAt[16];
std::atomic<long> gMostPending{0};
std::atomic<int> gHoldAt{-1};
std::atomic<bool> gRelease{false};
std::atomic<int> gStarterPauseMs{0};

void Hook(int point, UInt32 index, const MyBatchProcessDataStruct* job) {
  if (point == kBatchPointStarterWoke) {
    if (int ms = gStarterPauseMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  if (index < 16 && job->mBatchWindow != nullptr) gProgressAt[index] = job->mBatchWindow->mProgress.load();
  gMostPending = std::max(gMostPending.load(), SkyloomPendingMediaSamples());
  gFileStarted = int(index);
  if (int(index) == gHoldAt.load()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!gRelease.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class FilesToMovie : public skyloom::test::BatchFolderTest {
 protected:
  void SetUp() override {
    BatchFolderTest::SetUp();
    if (HasFatalFailure()) return;
    movie_ = out_ + "/Untitled.mov";
    MenuRef menu = nullptr;
    ASSERT_EQ(CreateNewMenu(200, 0, &menu), noErr);
    ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("Process Pictures"), 0, kPRBI, nullptr), noErr);
    ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("Pictures to Movie"), 0, kFIMO, nullptr), noErr);
    InsertMenu(menu, 0);
    ReleaseMenu(menu);
    gFileStarted = -1;
    for (auto& p : gProgressAt) p = -1;
    gMostPending = 0;
    gHoldAt = -1;
    gRelease = false;
    gStarterPauseMs = 0;
    mySetBatchTestHook(Hook);
  }
  void TearDown() override {
    gRelease = true;
    WaitUntilFinished();
    mySetBatchTestHook(nullptr);
    mySetBatchThreadFailure(0);
    BatchFolderTest::TearDown();
  }
  std::string WriteCorrupt(const std::string& name) {
    const std::string path = in_ + "/" + name;
    skyloom::test::WriteFile(path, {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
    return path;
  }
  // Runs 'FIMO': the user picks the files, then saves as "Untitled.mov" in out_.
  OSErr Run(const std::vector<std::string>& files, ScriptedUser& user, bool answerAlert = false) {
    fs::remove(movie_);  // no question about replacing the last run's movie
    nav::Choose(user, files);
    nav::SaveInto(user, out_);
    if (answerAlert) user.AnswerAlert();
    DisableMenuCommand(nullptr, kFIMO);  // as the menu shows it while the command runs
    return myFilesTo16BitRGB48Movie();
  }
  void ExpectIdle() {
    EXPECT_FALSE(myBatchJobRunning());
    EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
    EXPECT_TRUE(CommandEnabled(kFIMO));
    EXPECT_TRUE(CommandEnabled(kPRBI));
  }
  // ffprobe's view of the video stream, "key=value" lines.
  std::string Probe() {
    EXPECT_TRUE(skyloom::test::ToolInstalled("ffprobe"));
    return skyloom::test::Run(
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=codec_name,codec_tag_string,pix_fmt,width,height,r_frame_rate,time_base,nb_frames "
        "-of default=noprint_wrappers=1 '" + movie_ + "'");
  }
  // The frames as FFmpeg decodes them, big-endian RGB48.
  std::string Decoded() {
    EXPECT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
    return skyloom::test::RunStdout("ffmpeg -v error -i '" + movie_ + "' -f rawvideo -pix_fmt rgb48be -");
  }
  std::string movie_;
};

TEST_F(FilesToMovie, PicturesBecomeB48rFramesInNameOrderFittedToTheFirst) {
  const Picture a = RandomPicture(8, 6, 1), b = RandomPicture(10, 4, 2), c = RandomPicture(6, 8, 3);
  // Chosen out of order.
  const std::vector<std::string> files = {WriteInput("c.tif", c), WriteInput("a.tif", a), WriteInput("b.tif", b)};
  ScriptedUser user;
  ASSERT_EQ(Run(files, user), noErr);
  WaitUntilFinished();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_TRUE(Alerts().empty());
  ExpectIdle();
  EXPECT_EQ(gProgressAt[0], 33);
  EXPECT_EQ(gProgressAt[1], 66);
  EXPECT_EQ(gProgressAt[2], 100);
  EXPECT_EQ(gMostPending.load(), 0) << "the movie held frame data in memory";

  const std::string probe = Probe();
  for (const char* line : {"codec_name=rawvideo", "codec_tag_string=b48r", "pix_fmt=rgb48be", "width=8", "height=6",
                           "r_frame_rate=15/1", "time_base=1/600", "nb_frames=3"})
    EXPECT_NE(probe.find(line), std::string::npos) << line << " not in\n" << probe;
  const std::vector<UInt16> frames[3] = {Fitted(a, 8, 6), Fitted(b, 8, 6), Fitted(c, 8, 6)};
  EXPECT_EQ(Decoded(), BigEndianBytes(frames[0]) + BigEndianBytes(frames[1]) + BigEndianBytes(frames[2]));
  // Spot checks of the fitting itself: b keeps 8 of its 10 columns and has
  // no rows 4 and 5; c has no columns 6 and 7.
  EXPECT_EQ(frames[1][3 * 8 * 3 + 7 * 3], b.rgb[3 * 10 * 3 + 7 * 3]);
  EXPECT_EQ(frames[1][4 * 8 * 3], 0);
  EXPECT_EQ(frames[2][0 * 8 * 3 + 6 * 3], 0);

  // The stored description, byte for byte.
  MovieModel model;
  ASSERT_EQ(SkyloomReadMovieFile(movie_, &model), noErr);
  ASSERT_EQ(model.tracks.size(), 1u);
  ASSERT_EQ(model.tracks[0].descriptions.size(), 1u);
  std::vector<UInt8> want(86, 0);
  const UInt8 head[] = {0, 0, 0, 86, 'b', '4', '8', 'r', 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 'a', 'p', 'p', 'l',
                        0, 0, 0, 0, 0, 0, 4, 0, 0, 8, 0, 6, 0, 0x48, 0, 0, 0, 0x48, 0, 0, 0, 0, 0, 0, 0, 1};
  std::memcpy(want.data(), head, sizeof head);
  want[82] = 0;
  want[83] = 48;
  want[84] = want[85] = 0xFF;
  EXPECT_EQ(model.tracks[0].descriptions[0], want);
  EXPECT_EQ(model.tracks[0].mediaTimeScale, 600u);

  // The movie reader gives the pictures back in host order.
  Handle ref = nullptr;
  OSType refType = 0;
  const FSRef movieRef = RefOf(movie_);
  ASSERT_EQ(QTNewDataReferenceFromFSRef(&movieRef, 0, &ref, &refType), noErr);
  Movie m = nullptr;
  ASSERT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, refType), noErr);
  DisposeHandle(ref);
  Media media = myGetMovie16BitVideoMedia(m, 0);
  ASSERT_NE(media, nullptr);
  GWorldPtr g = nullptr;
  Rect box{0, 0, 6, 8};
  ASSERT_EQ(QTNewGWorld(&g, k48RGBPixelFormat, &box, nullptr, nullptr, 0), noErr);
  Handle sample = NewHandle(0), desc = NewHandle(0);
  GetMediaSampleDescription(media, 1, desc);
  for (int k = 0; k < 3; ++k) {
    std::vector<UInt16> got(8 * 6 * 3 + 8, 0);
    EXPECT_EQ(myGet16BitMediaSampleInRGB48Buff(media, sample, got.data(), 8, 6, 40 * k, g,
                                               reinterpret_cast<ImageDescriptionHandle>(desc), codecLosslessQuality, 0),
              noErr);
    got.resize(8 * 6 * 3);
    EXPECT_EQ(got, frames[k]) << "frame " << k;
  }
  DisposeHandle(sample);
  DisposeHandle(desc);
  DisposeGWorld(g);
  DisposeMovie(m);
}

TEST_F(FilesToMovie, FrameCountAndProgressFollowTheFiles) {
  struct Case {
    int files;
    std::vector<SInt32> progress;
  };
  for (const Case& k : {Case{1, {100}}, Case{10, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}}}) {
    SCOPED_TRACE(k.files);
    std::vector<std::string> files;
    for (int i = 0; i < k.files; ++i) files.push_back(WriteInput("p" + std::to_string(i) + ".tif", RandomPicture(4, 3, unsigned(i))));
    for (auto& p : gProgressAt) p = -1;
    ScriptedUser user;
    ASSERT_EQ(Run(files, user), noErr);
    WaitUntilFinished();
    for (size_t i = 0; i < k.progress.size(); ++i) EXPECT_EQ(gProgressAt[i], k.progress[i]) << i;
    EXPECT_NE(Probe().find("nb_frames=" + std::to_string(k.files)), std::string::npos);
    EXPECT_EQ(Decoded().size(), size_t(k.files) * 4 * 3 * 6);
    ExpectIdle();
  }
}

TEST_F(FilesToMovie, AStopAfterTheSecondFrameGivesATwoFrameMovie) {
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) files.push_back(WriteInput("p" + std::to_string(i) + ".tif", RandomPicture(5, 5, unsigned(i))));
  gHoldAt = 1;
  ScriptedUser user;
  ASSERT_EQ(Run(files, user), noErr);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (gFileStarted.load() != 1 && std::chrono::steady_clock::now() < until) RunCurrentEventLoop(0.001);
  ASSERT_EQ(gFileStarted.load(), 1);

  // One batch at a time: neither command starts while this one runs.
  EXPECT_EQ(myFilesTo16BitRGB48Movie(), noErr);
  EXPECT_EQ(myProcessMultipleImages(), noErr);
  EXPECT_EQ(SkyloomNavLiveDialogCount(), 0);

  WindowRef w = FindWindow("BatchProcessing");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(UserClick(FindControl(w, FOUR_CHAR_CODE("clos"), 0)), noErr);
  gRelease = true;
  WaitUntilFinished();
  ExpectIdle();
  EXPECT_NE(Probe().find("nb_frames=2"), std::string::npos);
  EXPECT_EQ(Decoded().size(), 2u * 5 * 5 * 6);
}

TEST_F(FilesToMovie, AnUnreadableFirstPictureWritesNothing) {
  const std::vector<std::string> files = {WriteCorrupt("a.tif"), WriteInput("b.tif", RandomPicture(4, 4, 1))};
  ScriptedUser user;
  ASSERT_EQ(Run(files, user), noErr);
  WaitUntilFinished();
  ASSERT_TRUE(fs::exists(movie_)) << "the save dialog makes the file";
  EXPECT_EQ(fs::file_size(movie_), 0u);
  EXPECT_EQ(gFileStarted.load(), -1);
  EXPECT_TRUE(Alerts().empty());
  ExpectIdle();
}

TEST_F(FilesToMovie, ALaterUnreadablePictureKeepsTheFramesBeforeIt) {
  const Picture a = RandomPicture(4, 4, 1);
  const std::vector<std::string> files = {WriteInput("a.tif", a), WriteCorrupt("b.tif"),
                                          WriteInput("c.tif", RandomPicture(4, 4, 2))};
  ScriptedUser user;
  ASSERT_EQ(Run(files, user), noErr);
  WaitUntilFinished();
  EXPECT_NE(Probe().find("nb_frames=1"), std::string::npos);
  EXPECT_EQ(Decoded(), BigEndianBytes(a.rgb));
  EXPECT_TRUE(Alerts().empty());
  ExpectIdle();
}

TEST_F(FilesToMovie, SetUpFailuresAlertUnlessCancelledAndEnableBothCommands) {
  const std::string a = WriteInput("a.tif", RandomPicture(4, 4, 1));
  {  // The worker cannot be made.
    mySetBatchThreadFailure(11);
    ScriptedUser user;
    EXPECT_EQ(Run({a}, user, true), 11);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(Alerts()[0].message, "API Error -  11 0xB error Occured");
  ExpectIdle();
  {  // No progress window.
    InjectFailure("CreateWindowFromNib", -50);
    ScriptedUser user;
    EXPECT_EQ(Run({a}, user, true), memFullErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(Alerts().size(), 2u);
  EXPECT_EQ(Alerts()[1].message, "API Error -  -108 0xFFFFFF94 error Occured");
  ExpectIdle();
  {  // Cancelled: the thread set-up, then the save dialog.
    mySetBatchThreadFailure(userCanceledErr);
    ScriptedUser user;
    EXPECT_EQ(Run({a}, user), userCanceledErr);
    ScriptedUser user2;
    nav::Choose(user2, {a});
    nav::Cancel(user2);
    EXPECT_EQ(myFilesTo16BitRGB48Movie(), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_TRUE(user2.Errors().empty());
  }
  EXPECT_EQ(Alerts().size(), 2u);
  ExpectIdle();
  EXPECT_FALSE(fs::exists(movie_) && fs::file_size(movie_) > 0);
}

// The worker fails at once while the starter still holds the handshake; then
// many quick start-and-fail cycles: no leak, no hang, no thread left, both
// commands enabled after each.
TEST_F(FilesToMovie, StartHandshakeSurvivesAWorkerThatFailsAtOnce) {
  const std::string bad = WriteCorrupt("bad.tif");
  auto startAndFail = [&](bool window) {
    ASSERT_TRUE(myClaimBatchJob());
    auto* job = new MyBatchProcessDataStruct{};
    job->mFiles[0] = RefOf(bad);
    job->mFileCount = 1;
    job->mOutput = RefOf(in_);
    job->mCommand = kFIMO;
    DisableMenuCommand(nullptr, kPRBI);
    job->mBatchWindow = window ? mySetUpBatchWindow("CONVFILETOMOVWINTITLE") : nullptr;
    DisableMenuCommand(nullptr, kFIMO);
    ASSERT_EQ(myStartBatchWorker(job, myAddFramesToMovie), noErr);
    WaitUntilFinished();
    ASSERT_TRUE(CommandEnabled(kFIMO));
    ASSERT_TRUE(CommandEnabled(kPRBI));
  };
  RunStartAndFailCycles(startAndFail, gStarterPauseMs);
  if (HasFatalFailure()) return;
}

}  // namespace
