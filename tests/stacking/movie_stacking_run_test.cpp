// The per-movie stacking run on small 16-bit movies: ranking by sharpness,
// the cut-off, the log, the worker count and the failures that stop the run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "stacking/AlignAndStack.h"
#include "stacking/CutOffWindow.h"
#include "stacking/MovieStackingRun.h"
#include "stacking/StackingProgress.h"
#include "tests/stacking/StackFixture.h"
#include "tests/support/Movie16Fixture.h"
#include "utilities/Alerts.h"

namespace {

namespace ui = skyloom::ui;
namespace fs = std::filesystem;

void AnswerCpus(SInt32 cpus, bool fail = false) {
  SkyloomSetGestaltResponder([cpus, fail](OSType selector, SInt32* response) -> OSErr {
    if (selector != FOUR_CHAR_CODE("cpus")) return kGestaltFallThrough;
    if (fail) return gestaltUndefSelectorErr;
    *response = cpus;
    return noErr;
  });
}

TEST(StackingWorkers, CountFollowsProcessorsAndFrames) {
  struct Case {
    SInt32 cpus;
    UInt32 frames;
    UInt32 workers;
  };
  for (const Case& c : {Case{1, 100, 1}, Case{2, 100, 1}, Case{8, 4, 1}, Case{8, 9, 4}, Case{4, 5, 2},
                        Case{8, 1000, 7}, Case{32, 100, 16}}) {
    AnswerCpus(c.cpus);
    EXPECT_EQ(myStackingWorkerCount(c.frames), c.workers) << c.cpus << " processors, " << c.frames << " frames";
  }
  AnswerCpus(0, true);
  EXPECT_EQ(myStackingWorkerCount(100), 1u);
  SkyloomSetGestaltResponder(nullptr);
}

TEST(StackingCutOff, PercentRules) {
  const double minimum = 1.0, maximum = 9.0, mean = 5.0, sd = 1.0;
  EXPECT_DOUBLE_EQ(myStackingCutOff(0, minimum, maximum, mean, sd), minimum - 0.0001);
  EXPECT_DOUBLE_EQ(myStackingCutOff(60, minimum, maximum, mean, sd), convertPercentToCI(60, mean, sd));
  // A level at or beyond the maximum falls back to the linear rule.
  ASSERT_GE(convertPercentToCI(100, mean, 3.0), 9.0);
  EXPECT_DOUBLE_EQ(myStackingCutOff(100, minimum, maximum, mean, 3.0), maximum);
}

// What the area stage was handed, and the list at that moment.
struct AreasSeen {
  int calls = 0;
  UInt32 frames = 0, workers = 0, above = 0, width = 0, scaledWidth = 0, pixelAlign = 0, blockSize = 0;
  double cutOff = 0;
  std::vector<NoiseStruct> list;
};
AreasSeen gAreas;

OSStatus recordAreas(MyMovieStackContext* c) {
  ++gAreas.calls;
  gAreas.frames = c->reader->mFrameCount;
  gAreas.workers = c->reader->mWorkerCount;
  gAreas.above = c->above;
  gAreas.cutOff = c->cutOff;
  gAreas.width = c->width;
  gAreas.scaledWidth = c->scaledWidth;
  gAreas.pixelAlign = c->job->PIXELALIGN;
  gAreas.blockSize = c->job->PIXELBLOCKSIZE;
  gAreas.list.resize(c->reader->mFrameCount);
  for (UInt32 i = 0; i < c->reader->mFrameCount; ++i) myGetNoiseStruct(c->reader->mSharpnessList, i, &gAreas.list[i]);
  for (UInt32 j = 0; j < c->reader->mWorkerCount; ++j) EXPECT_NE(c->reader->mWorkers[j], nullptr);
  return noErr;
}

int g8BitCalls = 0;
OSStatus record8Bit(StackAlignJob*, Movie, UInt8, UInt8) {
  ++g8BitCalls;
  return noErr;
}

// A checkerboard whose contrast is the frame's sharpness: frame 17 the
// sharpest, then the later frames before the earlier ones.
UInt16 Amplitude(UInt32 frame) { return frame == 17 ? 100 : UInt16(20 + frame); }
UInt16 Checker(UInt32 frame, UInt32 x, UInt32 y) {
  return UInt16((100 + (((x + y) & 1) != 0 ? Amplitude(frame) : 0)) << 8);
}

class MovieStackingRun : public StackTest {
 protected:
  StackAlignJob job{};
  std::string movies, output;

  void SetUp() override {
    StackTest::SetUp();
    gAreas = AreasSeen{};
    g8BitCalls = 0;
    mySetMovieStackingStages(recordAreas, record8Bit);
    AnswerCpus(8);
    movies = MakeFolder("movies");
    output = MakeFolder("out");
    myInitStackAlignJob(&job);
    job.PERCENTFRAME = 60;
    job.mRunning = 1;
    FSRef file;
    const std::string probe = MakeFile(output, "probe");
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(probe.c_str()), &file, nullptr), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&file, kFSCatInfoNone, nullptr, nullptr, &job.mOutputFolderSpec, nullptr), noErr);
    fs::remove(probe);
  }
  void TearDown() override {
    mySetMovieStackingStages(nullptr, nullptr);
    SkyloomSetGestaltResponder(nullptr);
    StackTest::TearDown();
  }
  void AddMovie(const std::string& name, UInt32 w, UInt32 h, UInt32 frames, const Test16BitPixel& pixel = {}) {
    const std::string path = movies + "/" + name;
    WriteTest16BitMovie(path, Test16BitFormat::kGrey16, w, h, frames, pixel);
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &job.mMovies[job.mMovieCount], nullptr),
              noErr);
    ++job.mMovieCount;
  }
  void Run() {
    myProcessMovies(&job);
    EXPECT_EQ(job.mRunning, 0);
    EXPECT_EQ(job.mLogFile, nullptr);
    EXPECT_EQ(job.mProgressWindow, nullptr);
    EXPECT_TRUE(ui::Windows().empty());
  }
  std::string Log() {
    for (const auto& e : fs::directory_iterator(output)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("Movie Stack Log ", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".txt") {
        std::ifstream in(e.path());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
      }
    }
    return "<no log>";
  }
};

TEST_F(MovieStackingRun, RanksTheFramesAndLogsTheMovie) {
  AddMovie("sharp.mov", 256, 192, 32, Checker);
  Run();
  ASSERT_EQ(gAreas.calls, 1);
  ASSERT_EQ(gAreas.list.size(), 32u);
  EXPECT_EQ(gAreas.list[0].mFrameTime, 340u);
  EXPECT_FLOAT_EQ(gAreas.list[0].mValue, 100.0f);
  for (UInt32 i = 1; i < 32; ++i) {
    const UInt32 frame = i <= 14 ? 32 - i : 31 - i;  // 31 .. 18, then 16 .. 0
    EXPECT_EQ(gAreas.list[i].mFrameTime, 20 * frame) << i;
    EXPECT_FLOAT_EQ(gAreas.list[i].mValue, float(Amplitude(frame))) << i;
  }
  EXPECT_EQ(gAreas.frames, 32u);
  EXPECT_EQ(gAreas.workers, 7u);

  // The log, with its statistics recomputed from the list.
  SharpnessList list = nullptr;
  for (const NoiseStruct& e : gAreas.list) myAddNoiseStruct(&list, e.mFrameTime, e.mValue);
  NoiseStatistics s;
  ASSERT_EQ(myGetNoiseStatistics(list, &s), 1);
  const double cutOff = myStackingCutOff(60, s.mMinimum, s.mMaximum, s.mMean, s.mStandardDeviation);
  EXPECT_DOUBLE_EQ(gAreas.cutOff, cutOff);
  EXPECT_EQ(gAreas.above, myCountNoiseStructAboveCutoff(list, double(float(cutOff))));
  DisposeHandle(list);

  StackAlignJob settings = job;
  char* block = nullptr;
  size_t size = 0;
  settings.mLogFile = open_memstream(&block, &size);
  myPrintProcessingStats(&settings);
  std::fclose(settings.mLogFile);
  char stats[512];
  std::snprintf(stats, sizeof stats,
                "Sharpness Statistics: Min %f , Max %f , STD%f , Mean %f , Median %f , Mode %f, CutOff  Value %f\n",
                double(float(s.mMinimum)), double(float(s.mMaximum)), double(float(s.mStandardDeviation)),
                double(float(s.mMean)), double(float(s.mMedian)), double(float(s.mMode)), cutOff);
  CFStringRef what = myGetLocalizedCFString("PROCESSINGMOVKEY");
  char title[256] = "";
  if (what != nullptr) {
    CFStringGetCString(what, title, sizeof title, kCFStringEncodingUTF8);
    CFRelease(what);
  }
  const std::string expected = std::string("----") + title + "sharp.mov 1 of 1" + "\nStacking : 16 Bit Movie\n" +
                               std::string(block, size) + stats + "Pixel Matching Value:  4.00\n" +
                               "Total of 32 frames in movie\n\n";
  std::free(block);
  EXPECT_EQ(Log(), expected);
}

TEST_F(MovieStackingRun, OneFrameMovieTakesItsValueAsTheCutOff) {
  AddMovie("one.mov", 64, 64, 1, Checker);
  Run();
  ASSERT_EQ(gAreas.calls, 1);
  EXPECT_EQ(gAreas.frames, 1u);
  EXPECT_EQ(gAreas.workers, 1u);
  EXPECT_DOUBLE_EQ(gAreas.cutOff, 20.0);
  const std::string log = Log();
  EXPECT_NE(log.find("Only 1 frame in movie\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Sharpness Statistics"), std::string::npos) << log;
}

TEST_F(MovieStackingRun, SmallFramesRunWithoutPixelAlignmentAndTheSettingsComeBack) {
  job.PIXELALIGN = 3;
  job.SCALE = 0;  // as a hand-edited preference may give it
  AddMovie("small.mov", 40, 40, 6, Checker);
  AddMovie("wide.mov", 90, 90, 6, Checker);
  job.PIXELBLOCKSIZE = 2;
  Run();
  EXPECT_EQ(gAreas.calls, 2);
  // The last movie seen: 90 x 90 caps the block at 60 / 32 = 1.
  EXPECT_EQ(gAreas.blockSize, 1u);
  EXPECT_EQ(gAreas.pixelAlign, 3u);
  EXPECT_EQ(gAreas.scaledWidth, 90u);
  EXPECT_EQ(job.PIXELALIGN, 3u);
  EXPECT_EQ(job.PIXELBLOCKSIZE, 2u);
  EXPECT_EQ(job.SCALE, 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("Pixel Alignment: None\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Pixel Alignment Block Size: 32 x 32 pixels\n"), std::string::npos) << log;
}

TEST_F(MovieStackingRun, UnreadableMovieStopsTheRunWithItsAlert) {
  const std::string path = MakeFile(movies, "bad.mov");
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &job.mMovies[job.mMovieCount++], nullptr),
            noErr);
  AddMovie("after.mov", 64, 64, 4, Checker);
  ui::ScriptedUser user;
  user.AnswerAlert();
  Run();
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(gAreas.calls, 0);  // the movie after it is not processed
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[0].message.rfind("NewMovieFromFile Err ", 0), 0u) << ui::Alerts()[0].message;
}

TEST_F(MovieStackingRun, CompositeThresholdIsLoggedAsItsPercent) {
  struct Case {
    UInt32 limit;
    const char* line;
  };
  AddMovie("areas.mov", 64, 64, 10, Checker);
  job.CTAVIMAGE = 1;
  job.PERCENTFRAME = 0;  // all 10 frames pass
  for (const Case& c : {Case{1, "TAV: 40 percent is 4 frames \n"}, Case{12, "TAV: 95 percent is 9 frames \n"}}) {
    SCOPED_TRACE(c.limit);
    job.CTAVLIMITPERCENT = c.limit;
    output = MakeFolder("out" + std::to_string(c.limit));
    FSRef file;
    const std::string probe = MakeFile(output, "probe");
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(probe.c_str()), &file, nullptr), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&file, kFSCatInfoNone, nullptr, nullptr, &job.mOutputFolderSpec, nullptr), noErr);
    fs::remove(probe);
    Run();
    const std::string log = Log();
    EXPECT_NE(log.find(std::string("Minimum # frames for each Stack to be added to ") + c.line), std::string::npos)
        << log;
  }
}

// The run as the command starts it: a cooperative thread that yields to the
// main thread, where the user presses Cancel on the progress window.
TEST_F(MovieStackingRun, CancelDuringTheSharpnessPassEndsTheRunWithoutStatistics) {
  AddMovie("long.mov", 64, 64, 300, Checker);
  ThreadID thread = 0;
  ASSERT_EQ(NewThread(kCooperativeThread, myProcessMovies, &job, 0, kCreateIfNeeded, nullptr, &thread), noErr);
  bool pressed = false;
  for (int turns = 0; job.mRunning != 0 && turns < 1000000; ++turns) {
    YieldToAnyThread();
    if (!pressed && job.mProgressWindow != nullptr) {
      EXPECT_FALSE(StackCommandEnabled());
      ui::UserSendCommand(job.mProgressWindow, FOUR_CHAR_CODE("clos"));
      pressed = true;
    }
  }
  YieldToAnyThread();  // the ended thread is freed
  ASSERT_TRUE(pressed);
  EXPECT_EQ(job.mRunning, 0);
  EXPECT_EQ(job.mCancel, 1);
  EXPECT_EQ(gAreas.calls, 0);
  EXPECT_TRUE(ui::Windows().empty());
  EXPECT_TRUE(StackCommandEnabled());
  const std::string log = Log();
  EXPECT_EQ(log.find("Sharpness Statistics"), std::string::npos) << log;
  EXPECT_EQ(log.find("Only 1 frame"), std::string::npos) << log;
}

TEST_F(MovieStackingRun, RefusedDrawingTargetStopsTheRunAndFreesTheMovie) {
  AddMovie("first.mov", 64, 64, 4, Checker);
  AddMovie("second.mov", 64, 64, 4, Checker);
  const long handles = SkyloomLiveHandleCount();
  const long gworlds = SkyloomLiveGWorldCount();
  SkyloomFailGWorldCreation(1);
  ui::ScriptedUser user;
  user.AnswerAlert();
  Run();
  SkyloomFailGWorldCreation(0);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(gAreas.calls, 0);
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].message, "NewGWorld failed");
  EXPECT_EQ(SkyloomLiveHandleCount(), handles);
  EXPECT_EQ(SkyloomLiveGWorldCount(), gworlds);
  EXPECT_EQ(job.PIXELALIGN, 3u);
  EXPECT_EQ(job.SCALE, 1u);
}

}  // namespace
