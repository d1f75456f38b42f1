// 'PRBI' from the user's choices to the TIFF files in the output folder: the
// files and the folder are answered by a scripted user, the worker runs on its
// own thread and the test pumps the main run loop until the job has finished.
#include "image_windows/BatchProcessing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image_windows/RenderPipeline.h"
#include "media/RGB48Files.h"
#include "pixel/LumaRGB48.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "tests/image_windows/BatchFixture.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestTIFF.h"
#include "tests/support/ThreadCount.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;
namespace nav = skyloom::nav;
namespace fs = std::filesystem;

namespace {

using skyloom::test::Picture;
using skyloom::test::RandomPicture;
using skyloom::test::RefOf;

constexpr MenuCommand kPRBI = FOUR_CHAR_CODE("PRBI");
const char kDomainName[] = "com.brindlemoor.SKYLOOM_App.ImageProcessingPref";

// What the worker must make of a picture: the render of a record with the same
// settings, built step by step here.
std::vector<UInt16> ExpectedRender(const Picture& p, float curve, UInt32 minRed, UInt32 maxRed) {
  MyImageWindowDataStruct r{};
  r.mRecordTag = kImageWindowRecordTag;
  mySetImageWindowDefaultSettings(&r);
  r.mGreenOffsetsLocked = 1;
  for (Float32& a : r.mSharpAmount) a = 1.0f;  // slider position 10
  r.mCurve = curve;
  r.mMinRed = minRed;
  r.mMaxRed = maxRed;
  r.mWidth = p.width;
  r.mHeight = p.height;
  r.mRowBytes = p.width * 6;
  const size_t pixels = size_t(p.width) * p.height;
  r.mSourceRGB48 = static_cast<UInt16*>(myAllocateImagePlane(pixels * 6));
  r.mSourceLuma16 = static_cast<UInt16*>(myAllocateImagePlane(pixels * 2));
  r.mSourceLRGB64 = static_cast<UInt16*>(myAllocateImagePlane(pixels * 8));
  EXPECT_EQ(myAllocateImageWindowPlanes(&r), noErr);
  memcpy(r.mSourceRGB48, p.rgb.data(), pixels * 6);
  myRGB48ToLRGB64AndLuma16(r.mSourceRGB48, r.mSourceLRGB64, r.mSourceLuma16, p.width, p.height);
  myBuildBlurCascade(&r);
  myBuildDetailLevels(&r);
  r.mWindowReady = 1;
  r.mSharpenActive = 1;
  myRenderSettingsToRGB48(&r);
  std::vector<UInt16> out(r.mRenderRGB48, r.mRenderRGB48 + pixels * 3);
  mydumpAllocatedBuffers(&r);
  return out;
}

// The hook's view of the running job, for the test thread.
std::atomic<int> gFileStarted{-1};
std::atomic<SInt32> gProgressAt[8];
std::atomic<bool> gHoldFirstFile{false};
std::atomic<bool> gReleaseFirstFile{false};
std::atomic<int> gStarterPauseMs{0};

void Hook(int point, UInt32 index, const MyBatchProcessDataStruct* job) {
  if (point == kBatchPointStarterWoke) {
    if (int ms = gStarterPauseMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  if (index < 8 && job->mBatchWindow != nullptr) gProgressAt[index] = job->mBatchWindow->mProgress.load();
  gFileStarted = int(index);
  if (index == 0 && gHoldFirstFile.load()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!gReleaseFirstFile.load() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class BatchProcessing : public skyloom::test::BatchFolderTest {
 protected:
  void SetUp() override {
    BatchFolderTest::SetUp();
    if (HasFatalFailure()) return;
    fs::create_directory(root_ + "/config");
    SkyloomSetConfigurationDirectory((root_ + "/config").c_str());
    SkyloomPreferencesForgetAll();
    domain_ = CFStringCreateWithCString(nullptr, kDomainName, kCFStringEncodingUTF8);
    MenuRef menu = nullptr;
    ASSERT_EQ(CreateNewMenu(200, 0, &menu), noErr);
    ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("Process Pictures"), 0, kPRBI, nullptr), noErr);
    InsertMenu(menu, 0);
    ReleaseMenu(menu);  // the menu bar keeps it
    gFileStarted = -1;
    for (auto& p : gProgressAt) p = -1;
    gHoldFirstFile = false;
    gReleaseFirstFile = false;
    gStarterPauseMs = 0;
    mySetBatchTestHook(Hook);
  }
  void TearDown() override {
    WaitUntilFinished();
    mySetBatchTestHook(nullptr);
    mySetBatchThreadFailure(0);
    CFRelease(domain_);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    BatchFolderTest::TearDown();
  }
  void Store(const char* key, const char* text) {
    CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
    CFStringRef v = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(k, v, domain_);
    CFRelease(k);
    CFRelease(v);
  }
  // Sliders at 10, curve 1.5, red levels 1000 .. 60000.
  void StoreSettings(bool save16) {
    Store("VERS", "50397200.000000");
    for (const char* k : {"SHARP1", "SHARP2", "SHARP3", "SHARP4", "SHARP5", "SHARP6", "SHARP7"}) Store(k, "10");
    Store("LOGCURVE", "1.5");
    Store("MINRED", "1000");
    Store("MAXRED", "60000");
    Store("SAVE16Bit", save16 ? "1" : "0");
  }
  // Runs 'PRBI' with the user choosing the files and the folder.
  // An alert, when one is expected, is answered after the two choices.
  OSErr Run(const std::vector<std::string>& files, const std::string& folder, ScriptedUser& user,
            bool answerAlert = false) {
    nav::Choose(user, files);
    nav::Choose(user, {folder});
    if (answerAlert) user.AnswerAlert();
    DisableMenuCommand(nullptr, kPRBI);  // as the menu shows it while the command runs
    return myProcessMultipleImages();
  }
  CFStringRef domain_ = nullptr;
};

TEST_F(BatchProcessing, RendersEachPictureInNameOrderUnderItsOwnName) {
  StoreSettings(false);
  const Picture pics[3] = {RandomPicture(37, 23, 1), RandomPicture(16, 9, 2), RandomPicture(5, 7, 3)};
  // Chosen out of order; "moon.jpg" holds TIFF data.
  const std::vector<std::string> names = {"c.tif", "a.tif", "moon.jpg"};
  std::vector<std::string> files;
  for (int i = 0; i < 3; ++i) files.push_back(WriteInput(names[i], pics[i]));
  ScriptedUser user;
  ASSERT_EQ(Run(files, out_, user), noErr);
  WaitUntilFinished();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(gProgressAt[0], 33);
  EXPECT_EQ(gProgressAt[1], 66);
  EXPECT_EQ(gProgressAt[2], 100);
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
  EXPECT_TRUE(Alerts().empty());

  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(names[i]);
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bits = 0;
    const auto got = skyloom::test::ReadTIFF16(out_ + "/" + names[i], &w, &h, &spp, nullptr, &bits);
    EXPECT_EQ(w, pics[i].width);
    EXPECT_EQ(h, pics[i].height);
    EXPECT_EQ(spp, 3);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(got, ExpectedRender(pics[i], 1.5f, 1000, 60000));
  }
  ASSERT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  const std::string info = skyloom::test::Run("tiffinfo '" + out_ + "/moon.jpg'");
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
}

// The worker keeps its planes from one picture to the next of the same size:
// what a picture leaves in them never shows in the next one's output.
TEST_F(BatchProcessing, PlanesKeptBetweenPicturesLeaveNoTrace) {
  StoreSettings(false);
  const Picture pics[4] = {RandomPicture(16, 9, 21), RandomPicture(16, 9, 22), RandomPicture(5, 7, 23),
                           RandomPicture(16, 9, 24)};
  const char* names[4] = {"a.tif", "b.tif", "c.tif", "d.tif"};
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) files.push_back(WriteInput(names[i], pics[i]));
  ScriptedUser user;
  ASSERT_EQ(Run(files, out_, user), noErr);
  WaitUntilFinished();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(skyloom::test::ReadTIFF16(out_ + "/" + names[i], nullptr, nullptr, nullptr, nullptr, nullptr),
              ExpectedRender(pics[i], 1.5f, 1000, 60000));
  }
}

TEST_F(BatchProcessing, Save16BitWritesTheGreyOfTheRender) {
  StoreSettings(true);
  const Picture p = RandomPicture(12, 10, 4);
  ScriptedUser user;
  ASSERT_EQ(Run({WriteInput("grey.tif", p)}, out_, user), noErr);
  WaitUntilFinished();
  const std::vector<UInt16> rgb = ExpectedRender(p, 1.5f, 1000, 60000);
  std::vector<UInt16> grey(size_t(p.width) * p.height);
  myRGB48PtrtoLumaPtr(rgb.data(), grey.data(), p.width, p.height);
  uint16_t spp = 0, bits = 0;
  EXPECT_EQ(skyloom::test::ReadTIFF16(out_ + "/grey.tif", nullptr, nullptr, &spp, nullptr, &bits), grey);
  EXPECT_EQ(spp, 1);
  EXPECT_EQ(bits, 16);
  ASSERT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  const std::string info = skyloom::test::Run("tiffinfo '" + out_ + "/grey.tif'");
  EXPECT_NE(info.find("Samples/Pixel: 1"), std::string::npos) << info;
}

TEST_F(BatchProcessing, ACorruptFileEndsTheBatchWithoutAMessage) {
  StoreSettings(false);
  const std::string a = WriteInput("a.tif", RandomPicture(8, 8, 5));
  const std::string b = in_ + "/b.tif";
  skyloom::test::WriteFile(b, {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
  const std::string c = WriteInput("c.tif", RandomPicture(8, 8, 6));
  ScriptedUser user;
  ASSERT_EQ(Run({c, b, a}, out_, user), noErr);
  WaitUntilFinished();
  EXPECT_TRUE(fs::exists(out_ + "/a.tif"));
  EXPECT_FALSE(fs::exists(out_ + "/b.tif"));
  EXPECT_FALSE(fs::exists(out_ + "/c.tif"));
  EXPECT_TRUE(Alerts().empty());
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
}

TEST_F(BatchProcessing, AStopDuringTheFirstFileLeavesTheRestUnwritten) {
  StoreSettings(false);
  const std::string a = WriteInput("a.tif", RandomPicture(8, 8, 7));
  const std::string b = WriteInput("b.tif", RandomPicture(8, 8, 8));
  gHoldFirstFile = true;
  ScriptedUser user;
  ASSERT_EQ(Run({a, b}, out_, user), noErr);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (gFileStarted.load() != 0 && std::chrono::steady_clock::now() < until) RunCurrentEventLoop(0.001);
  ASSERT_EQ(gFileStarted.load(), 0);

  // One batch at a time: a second start asks nothing and does nothing.
  EXPECT_EQ(myProcessMultipleImages(), noErr);
  EXPECT_EQ(SkyloomNavLiveDialogCount(), 0);

  WindowRef w = FindWindow("BatchProcessing");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(UserClick(FindControl(w, FOUR_CHAR_CODE("clos"), 0)), noErr);
  EXPECT_EQ(FindWindow("BatchProcessing"), w) << "the close waits for the job";
  gReleaseFirstFile = true;
  WaitUntilFinished();
  EXPECT_TRUE(fs::exists(out_ + "/a.tif"));
  EXPECT_FALSE(fs::exists(out_ + "/b.tif"));
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
}

TEST_F(BatchProcessing, NeverWritesOverAnInput) {
  StoreSettings(false);
  const std::string a = WriteInput("a.tif", RandomPicture(8, 8, 9));
  const std::string b = WriteInput("b.tif", RandomPicture(8, 8, 10));
  const auto before = std::make_pair(skyloom::test::ReadFile(a), skyloom::test::ReadFile(b));
  ScriptedUser user;
  ASSERT_EQ(Run({a, b}, in_, user), noErr);
  WaitUntilFinished();
  EXPECT_EQ(skyloom::test::ReadFile(a), before.first);
  EXPECT_EQ(skyloom::test::ReadFile(b), before.second);
  EXPECT_EQ(gFileStarted.load(), 0) << "the batch ends at the first input it would replace";
  EXPECT_TRUE(CommandEnabled(kPRBI));
}

TEST_F(BatchProcessing, ThreadSetUpFailureAlertsUnlessCancelled) {
  StoreSettings(false);
  const std::string a = WriteInput("a.tif", RandomPicture(4, 4, 11));
  {
    mySetBatchThreadFailure(11);
    ScriptedUser user;
    EXPECT_EQ(Run({a}, out_, user, true), 11);
    EXPECT_EQ(user.Pending(), 0u);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(Alerts().size(), 1u);
  EXPECT_EQ(Alerts()[0].message, "API Error -  11 0xB error Occured");
  EXPECT_FALSE(myBatchJobRunning());
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
  {
    mySetBatchThreadFailure(userCanceledErr);
    ScriptedUser user;
    EXPECT_EQ(Run({a}, out_, user), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(Alerts().size(), 1u);
  EXPECT_TRUE(CommandEnabled(kPRBI));
  EXPECT_FALSE(fs::exists(out_ + "/a.tif"));
}

TEST_F(BatchProcessing, CancellingAChoiceStartsNothing) {
  ScriptedUser user;
  nav::Cancel(user);
  DisableMenuCommand(nullptr, kPRBI);
  EXPECT_EQ(myProcessMultipleImages(), noErr);
  EXPECT_FALSE(myBatchJobRunning());
  EXPECT_TRUE(CommandEnabled(kPRBI));
  EXPECT_TRUE(Windows().empty());
}

// The worker fails at once while the starter still holds the handshake: the
// record must outlive the starter's last touch. Then many quick start-and-fail
// cycles: no leak (LSan), no hang, no thread left.
TEST_F(BatchProcessing, StartHandshakeSurvivesAWorkerThatFailsAtOnce) {
  const std::string bad = in_ + "/bad.tif";
  skyloom::test::WriteFile(bad, {1, 2, 3});
  auto startAndFail = [&](bool window) {
    ASSERT_TRUE(myClaimBatchJob());
    auto* job = new MyBatchProcessDataStruct{};
    job->mFiles[0] = RefOf(bad);
    job->mFileCount = 1;
    job->mOutput = RefOf(out_);
    job->mCommand = kPRBI;
    job->mBatchWindow = window ? mySetUpBatchWindow("PROCMULTIIMGWINTITLE") : nullptr;
    DisableMenuCommand(nullptr, kPRBI);
    ASSERT_EQ(myStartBatchWorker(job, myDoBatchImageProcessing), noErr);
    WaitUntilFinished();
    ASSERT_TRUE(CommandEnabled(kPRBI));
  };
  RunStartAndFailCycles(startAndFail, gStarterPauseMs);
  if (HasFatalFailure()) return;
  EXPECT_FALSE(fs::exists(out_ + "/bad.tif"));
}

}  // namespace
