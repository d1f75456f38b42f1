#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/CameraMenus.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "stacking/AlignAndStack.h"
#include "tests/stacking/StackFixture.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;
namespace nav = skyloom::nav;

// A stand-in for the per-movie run: it takes the movies in the job's order
// (as mCurrentMovie), keeps a copy of the settings, then yields a number of
// times before it ends, disabling "STAK" meanwhile as the real run does.
struct StubRun {
  int yields = 0;
  int ran = 0;
  std::vector<std::string> movies;
  StackAlignJob settings{};
  std::string outputFolder;
  EventLoopTimerRef pumpTimer = nullptr;
  std::function<void(StackAlignJob*)> atEachYield;
};
StubRun gStub;

void* stubRun(void* param) {
  auto* job = static_cast<StackAlignJob*>(param);
  ++gStub.ran;
  DisableMenuCommand(nullptr, FOUR_CHAR_CODE("STAK"));
  gStub.settings = *job;
  gStub.pumpTimer = job->mPumpTimer;
  gStub.outputFolder = StackTest::FolderOf(job->mOutputFolderSpec);
  for (UInt32 i = 0; i < job->mMovieCount; ++i) {
    job->mCurrentMovie = job->mMovies[i];
    gStub.movies.push_back(StackTest::PathOf(job->mCurrentMovie));
  }
  for (int i = 0; i < gStub.yields; ++i) {
    if (gStub.atEachYield) gStub.atEachYield(job);
    YieldToAnyThread();
  }
  EnableMenuCommand(nullptr, FOUR_CHAR_CODE("STAK"));
  job->mRunning = 0;
  return nullptr;
}

class AlignAndStack : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    gStub = StubRun{};
    mySetMovieStackingRunEntry(stubRun);
    movies_ = MakeFolder("movies");
    out_ = MakeFolder("out");
    venus_ = MakeFile(movies_, "Venus.mov");
    mars_ = MakeFile(movies_, "Mars.mov");
    jupiter_ = MakeFile(movies_, "jupiter.mov");
  }

  // Notes which dialog or window the user faces at that step.
  void Note(ScriptedUser& user) {
    user.Do([this] {
      WindowRef w = ui::ModalWindow();
      if (ui::WindowName(w) == "StackAlign") {
        faced_.push_back("StackAlign");
        return;
      }
      ControlRef message = ui::FindControl(w, kSkyloomNavMessageSignature, 0);
      std::string text = message ? ui::ControlText(message) : "";
      faced_.push_back(text == "OPENMOVFORALIGN" ? "movies" : "folder");
    });
  }
  // The whole command up to the window's OK, the folder dialog answered when
  // it comes (the script then holds a step for it), the window steps given.
  OSStatus Run(bool folderDialog, const std::function<void(ScriptedUser&)>& inWindow) {
    ScriptedUser user;
    Note(user);
    nav::Choose(user, {venus_, mars_, jupiter_});
    if (folderDialog) {
      Note(user);
      nav::Choose(user, {out_});
    }
    Note(user);
    inWindow(user);
    const OSStatus r = myAlignAndStackMovies();
    EXPECT_TRUE(user.Errors().empty()) << user.Errors().front();
    EXPECT_EQ(user.Pending(), 0u);
    return r;
  }
  // Lets the application loop run until the pump has ended the run.
  void RunTheLoop() {
    ScriptedUser idle;  // nothing to do: the loop ends once the ready work is done
    RunApplicationEventLoop();
  }

  std::string movies_, out_, venus_, mars_, jupiter_;
  std::vector<std::string> faced_;
};

TEST_F(AlignAndStack, CancelsAndOKsThroughTheScriptedUser) {
  // A domain from an earlier run with a stored PROMPTAREA.
  StackAlignJob earlier;
  myInitStackAlignJob(&earlier);
  earlier.PROMPTAREA = 1;
  earlier.PERCENTFRAME = 77;
  ASSERT_EQ(myReadWriteAlignmentPrefs(&earlier, 0), noErr);
  const std::string before = Slurp(DomainFile());
  ASSERT_FALSE(before.empty());

  {  // Cancel in the movie dialog.
    ScriptedUser user;
    nav::Cancel(user);
    EXPECT_EQ(myAlignAndStackMovies(), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(Slurp(DomainFile()), before);
    EXPECT_TRUE(StackCommandEnabled());
  }
  {  // Cancel in the folder dialog.
    ScriptedUser user;
    nav::Choose(user, {venus_});
    nav::Cancel(user);
    EXPECT_EQ(myAlignAndStackMovies(), userCanceledErr);
    EXPECT_EQ(Slurp(DomainFile()), before);
    EXPECT_TRUE(StackCommandEnabled());
  }
  // Cancel in the window, after the folder dialog (no folder is remembered).
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickCancel("StackAlign"); }), userCanceledErr);
  EXPECT_EQ(faced_, (std::vector<std::string>{"movies", "folder", "StackAlign"}));
  EXPECT_EQ(Slurp(DomainFile()), before);
  EXPECT_TRUE(StackCommandEnabled());
  RunTheLoop();
  EXPECT_EQ(gStub.ran, 0);

  // OK with manual selection, summing, the composite and the background: the
  // composite is not stored, the background is.
  faced_.clear();
  EXPECT_EQ(Run(true,
                [](ScriptedUser& u) {
                  u.Do([] { EXPECT_EQ(ui::ControlText(ui::FindControl(ui::ModalWindow(), FOUR_CHAR_CODE("CIAM"), 1)), "77"); })
                      .ChooseItem(FOUR_CHAR_CODE("PIXL"), 0, 6, "StackAlign")
                      .Click(FOUR_CHAR_CODE("TAVI"), 0, "StackAlign")
                      .Click(FOUR_CHAR_CODE("SUMM"), 0, "StackAlign")
                      .Click(FOUR_CHAR_CODE("SBCG"), 0, "StackAlign")
                      .ClickOK("StackAlign");
                }),
            noErr);
  EXPECT_EQ(faced_, (std::vector<std::string>{"movies", "folder", "StackAlign"}));
  EXPECT_TRUE(StackCommandEnabled());
  EXPECT_TRUE(myMovieStackingRunIsAlive());
  RunTheLoop();
  EXPECT_EQ(gStub.ran, 1);
  EXPECT_EQ(Stored("PIXELALIGN"), "5.000000");
  EXPECT_EQ(Stored("SUMIMG"), "1.000000");
  EXPECT_EQ(Stored("CTAVIMAGE"), "0.000000");
  EXPECT_EQ(Stored("BCGSUBTRACT"), "1.000000");
  EXPECT_EQ(Stored("PROMPTAREA"), "1.000000");
  EXPECT_EQ(Stored("PERCENTFRAME"), "77.000000");
  EXPECT_EQ(Stored("DFLTFOPICK"), "1.000000");
  EXPECT_EQ(gStub.settings.CTAVIMAGE, 0);
  EXPECT_EQ(gStub.settings.BCGSUBTRACT, 1);
  EXPECT_EQ(gStub.settings.PROMPTAREA, 1);
  // The run writes into the folder the user chose.
  EXPECT_EQ(gStub.outputFolder, out_);

  // The window opens on those settings, the background ticked with
  // summing; summing off, and the background is not stored. The folder is
  // remembered now: no folder dialog.
  faced_.clear();
  gStub.ran = 0;
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(Run(false,
                [](ScriptedUser& u) {
                  u.Do([] {
                     EXPECT_EQ(GetControl32BitValue(ui::FindControl(ui::ModalWindow(), FOUR_CHAR_CODE("SBCG"), 0)), 1);
                   })
                      .Click(FOUR_CHAR_CODE("SUMM"), 0, "StackAlign")
                      .ClickOK("StackAlign");
                }),
            noErr);
  EXPECT_EQ(faced_, (std::vector<std::string>{"movies", "StackAlign"}));
  RunTheLoop();
  EXPECT_EQ(gStub.ran, 1);
  EXPECT_EQ(Stored("SUMIMG"), "0.000000");
  EXPECT_EQ(Stored("BCGSUBTRACT"), "0.000000");
  EXPECT_EQ(Stored("PROMPTAREA"), "1.000000");
  EXPECT_EQ(gStub.outputFolder, out_);
  EXPECT_TRUE(StackCommandEnabled());

  // The remembered folder is deleted: the folder dialog comes back.
  ASSERT_EQ(rmdir(out_.c_str()), 0);
  out_ = MakeFolder("elsewhere");
  faced_.clear();
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickOK("StackAlign"); }), noErr);
  EXPECT_EQ(faced_, (std::vector<std::string>{"movies", "folder", "StackAlign"}));
  RunTheLoop();
  EXPECT_EQ(gStub.outputFolder, out_);
}

TEST_F(AlignAndStack, MoviesReachTheRunInNameOrder) {
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickOK("StackAlign"); }), noErr);
  RunTheLoop();
  EXPECT_EQ(gStub.movies, (std::vector<std::string>{jupiter_, mars_, venus_}));
  EXPECT_EQ(gStub.settings.mMovieCount, 3u);
}

TEST_F(AlignAndStack, ThePumpGivesTheRunItsTimeAndFreesTheJobOnce) {
  gStub.yields = 100;
  int turns = 0;
  bool timerFired = false;
  bool stackEverEnabled = false;
  bool sawRunning = true;
  EventLoopTimerRef mainTimer = nullptr;
  gStub.atEachYield = [&](StackAlignJob* job) {
    if (turns++ == 0) {
      ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0,
                                      [](EventLoopTimerRef, void* fired) { *static_cast<bool*>(fired) = true; },
                                      &timerFired, &mainTimer),
                noErr);
    }
    sawRunning = sawRunning && job->mRunning == 1;
    // A menu opened while the run works.
    myMenuEventHandler(nullptr, nullptr, nullptr);
    stackEverEnabled = stackEverEnabled || StackCommandEnabled();
  };
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickOK("StackAlign"); }), noErr);
  RunTheLoop();
  EXPECT_EQ(gStub.ran, 1);
  EXPECT_EQ(turns, 100);
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(timerFired);
  EXPECT_FALSE(stackEverEnabled);
  // The run is over and its job gone, with its timer.
  EXPECT_FALSE(myMovieStackingRunIsAlive());
  EXPECT_EQ(RemoveEventLoopTimer(gStub.pumpTimer), paramErr);
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);
  EXPECT_TRUE(StackCommandEnabled());
  RemoveEventLoopTimer(mainTimer);
  // Menu enabling treats "STAK" like the other processing commands again.
  DisableMenuCommand(nullptr, FOUR_CHAR_CODE("STAK"));
  myMenuEventHandler(nullptr, nullptr, nullptr);
  EXPECT_TRUE(StackCommandEnabled());
}

TEST_F(AlignAndStack, AThreadThatCannotBeMadeFreesTheJobAtOnce) {
  SkyloomInjectNewThreadFailure(threadTooManyReqsErr);
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickOK("StackAlign"); }), threadTooManyReqsErr);
  EXPECT_FALSE(myMovieStackingRunIsAlive());
  EXPECT_TRUE(StackCommandEnabled());
  // The pump timer went with the job: nothing fires on a freed job.
  RunTheLoop();
  EXPECT_EQ(gStub.ran, 0);
  // The settings were written before.
  EXPECT_EQ(Stored("DFLTFOPICK"), "1.000000");
}

TEST_F(AlignAndStack, WithoutAnInstalledRunTheJobEndsAtOnce) {
  mySetMovieStackingRunEntry(nullptr);
  EXPECT_EQ(Run(true, [](ScriptedUser& u) { u.ClickOK("StackAlign"); }), noErr);
  RunTheLoop();
  EXPECT_FALSE(myMovieStackingRunIsAlive());
  EXPECT_EQ(gStub.ran, 0);
}

TEST_F(AlignAndStack, AtMostTheMoviesAJobHolds) {
  std::vector<std::string> many;
  for (int i = 0; i < 260; ++i) many.push_back(MakeFile(movies_, "m" + std::to_string(1000 + i) + ".mov"));
  ScriptedUser user;
  nav::Choose(user, many);
  nav::Choose(user, {out_});
  user.ClickOK("StackAlign");
  EXPECT_EQ(myAlignAndStackMovies(), noErr);
  RunTheLoop();
  ASSERT_EQ(gStub.movies.size(), 256u);
  EXPECT_EQ(gStub.movies.front(), many.front());
  EXPECT_EQ(gStub.movies.back(), many[255]);
}

}  // namespace
