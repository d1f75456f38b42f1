// Cooperative threads meet the window model: their toolbox calls are
// main-thread calls, and a thread serving the user in a modal loop it opened
// is not switched away from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/coreservices/Threads.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;

const char* kNib = R"(
window "Job" class=movable-modal title="Job" bounds=0,0,100,200
  control 'ok  ' 0 push-button bounds=60,100,80,180 title="OK" command='ok  ' default
end
)";

class CooperativeToolbox : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test", kNib);
  }
};

struct Shared {
  std::vector<std::string> trace;
  WindowRef window = nullptr;
  int yieldsInModal = 0;
};

OSStatus quitOnOK(EventHandlerCallRef, EventRef event, void* data) {
  HICommand cmd;
  GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd);
  if (cmd.commandID != kHICommandOK) return eventNotHandledErr;
  QuitAppModalLoopForWindow(static_cast<WindowRef>(data));
  return noErr;
}

void* modalJob(void* p) {
  auto* s = static_cast<Shared*>(p);
  s->trace.push_back("job starts");
  IBNibRef nib = nullptr;
  CreateNibReference(CFSTR("Test"), &nib);
  CreateWindowFromNib(nib, CFSTR("Job"), &s->window);
  DisposeNibReference(nib);
  const EventTypeSpec eventSpec = {kEventClassCommand, kEventCommandProcess};
  InstallWindowEventHandler(s->window, quitOnOK, 1, &eventSpec, s->window, nullptr);
  ShowWindow(s->window);
  RunAppModalLoopForWindow(s->window);  // the user's steps yield inside it
  DisposeWindow(s->window);
  s->trace.push_back("job after its window");
  YieldToAnyThread();
  s->trace.push_back("job ends");
  return nullptr;
}

TEST_F(CooperativeToolbox, AThreadInItsOwnModalLoopIsNotSwitchedAway) {
  Shared s;
  ScriptedUser user;
  // Inside the thread's modal loop, whatever the user's actions yield stays
  // on that thread.
  user.Do([&] {
        s.trace.push_back("in the window");
        YieldToAnyThread();
        YieldToAnyThread();
        s.trace.push_back("still in the window");
      })
      .ClickOK("Job");
  ASSERT_EQ(NewThread(kCooperativeThread, modalJob, &s, 0, kCreateIfNeeded, nullptr, nullptr), noErr);
  s.trace.push_back("main yields");
  YieldToAnyThread();
  s.trace.push_back("main again");
  YieldToAnyThread();
  s.trace.push_back("main last");
  const std::vector<std::string> expected = {"main yields",        "job starts",  "in the window",
                                             "still in the window", "job after its window", "main again",
                                             "job ends",           "main last"};
  EXPECT_EQ(s.trace, expected);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(SkyloomCooperativeThreadCount(), 0u);
}

void* makeAWindow(void* p) {
  auto* made = static_cast<WindowRef*>(p);
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("Test"), &nib) == noErr) {
    CreateWindowFromNib(nib, CFSTR("Job"), made);
    DisposeNibReference(nib);
  }
  return nullptr;
}

TEST_F(CooperativeToolbox, ToolboxCallsOfAThreadAreMainThreadCalls) {
  WindowRef made = nullptr;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(NewThread(kCooperativeThread, makeAWindow, &made, 0, 0, nullptr, nullptr), noErr);
  YieldToAnyThread();
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(ui::FindWindow("Job"), made);
  EXPECT_EQ(said.find("off the main thread"), std::string::npos) << said;
}

TEST_F(CooperativeToolbox, ReceivingAnEventRunsReadyWorkAndLetsTheUserPoll) {
  bool fired = false;
  EventLoopTimerRef timer = nullptr;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0,
                                  [](EventLoopTimerRef, void* f) { *static_cast<bool*>(f) = true; }, &fired, &timer),
            noErr);
  EventRef event = reinterpret_cast<EventRef>(1);
  EXPECT_EQ(ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &event), eventLoopTimedOutErr);
  EXPECT_EQ(event, nullptr);
  EXPECT_TRUE(fired);
  RemoveEventLoopTimer(timer);
  EXPECT_EQ(GetEventDispatcherTarget(), GetApplicationEventTarget());

  // A step aimed at a window on screen is taken by the poll; a step for no
  // window in particular waits for a loop that asks.
  WindowRef w = MakeWindow("Test", "Job");
  ShowWindow(w);
  bool clicked = false;
  const EventTypeSpec eventSpec = {kEventClassCommand, kEventCommandProcess};
  InstallWindowEventHandler(
      w,
      [](EventHandlerCallRef, EventRef, void* c) -> OSStatus {
        *static_cast<bool*>(c) = true;
        return noErr;
      },
      1, &eventSpec, &clicked, nullptr);
  ScriptedUser user;
  user.ClickOK("Job").ClickOK();
  ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &event);
  EXPECT_TRUE(clicked);
  EXPECT_EQ(user.Pending(), 1u);
  ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &event);
  EXPECT_EQ(user.Pending(), 1u);
}

}  // namespace
