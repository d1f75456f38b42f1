// The batch progress window on the real nib, with a manual clock for its
// refresh timer.
#include "image_windows/BatchProgress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/hitoolbox/UIModel.h"
#include "tests/support/TestClock.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr MenuCommand kPRBI = FOUR_CHAR_CODE("PRBI");

class BatchProgress : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    MenuRef menu = nullptr;
    ASSERT_EQ(CreateNewMenu(200, 0, &menu), noErr);
    ASSERT_EQ(AppendMenuItemTextWithCFString(menu, CFSTR("Process Pictures"), 0, kPRBI, nullptr), noErr);
    InsertMenu(menu, 0);
    ReleaseMenu(menu);  // the menu bar keeps it
    DisableMenuCommand(nullptr, kPRBI);
  }
  static bool CommandEnabled(MenuCommand command) {
    MenuRef m = nullptr;
    MenuItemIndex i = 0;
    return GetIndMenuItemWithCommandID(nullptr, command, 1, &m, &i) == noErr && IsMenuItemEnabled(m, i);
  }
  static SInt32 Bar(WindowRef w) { return GetControl32BitValue(FindControl(w, FOUR_CHAR_CODE("BARR"), 0)); }
  static std::string Status(WindowRef w) { return ControlText(FindControl(w, FOUR_CHAR_CODE("STTX"), 0)); }
  TestClock clock_;
};

TEST_F(BatchProgress, TicksShowProgressAndOnePendingText) {
  MyBatchWindowStruct* w = mySetUpBatchWindow("PROCMULTIIMGWINTITLE");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(FindWindow("BatchProcessing"), w->mWindow);
  EXPECT_EQ(WindowTitle(w->mWindow), "Processing Pictures");
  RunCurrentEventLoop(0);  // the first tick is due at once

  myBatchWindowReport(w, 33, CFSTR("a.tif"));
  myBatchWindowReport(w, 40, CFSTR("b.tif"));  // the slot is full: skipped
  RunCurrentEventLoop(0);
  EXPECT_EQ(Bar(w->mWindow), 0) << "shown before the next tick";
  EXPECT_EQ(Status(w->mWindow), "");

  clock_.Run(0.31);
  EXPECT_EQ(Bar(w->mWindow), 40);
  EXPECT_EQ(Status(w->mWindow), "a.tif");

  myBatchWindowReport(w, 66, CFSTR("c.tif"));
  myBatchWindowReport(w, 100, nullptr);
  clock_.Run(0.31);
  EXPECT_EQ(Bar(w->mWindow), 100);
  EXPECT_EQ(Status(w->mWindow), "c.tif");

  myBatchWindowReport(w, 100, CFSTR("pending at the end"));  // released by the finishing
  myFinnishOffBatchWindow(w);
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
  // The timer is gone with the record: a firing would touch freed memory.
  clock_.Run(1.0, 0.1);
}

TEST_F(BatchProgress, CloseSetsStopOnlyWhileBusyAndNeverDisposes) {
  MyBatchWindowStruct* w = mySetUpBatchWindow("");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(UserCloseWindow(w->mWindow), noErr);
  EXPECT_EQ(w->mStopRequested.load(), 0) << "idle";
  ASSERT_EQ(FindWindow("BatchProcessing"), w->mWindow);

  myBatchWindowSetBusy(w, true);
  EXPECT_FALSE(myBatchWindowStopRequested(w));
  // The stop button: 'clos' goes to the batch window's own close.
  EXPECT_EQ(UserClick(FindControl(w->mWindow, FOUR_CHAR_CODE("clos"), 0)), noErr);
  EXPECT_TRUE(myBatchWindowStopRequested(w));
  EXPECT_EQ(FindWindow("BatchProcessing"), w->mWindow);
  EXPECT_EQ(UserCloseWindow(w->mWindow), noErr);
  EXPECT_EQ(FindWindow("BatchProcessing"), w->mWindow);

  myBatchWindowSetBusy(w, false);
  myFinnishOffBatchWindow(w);
  EXPECT_EQ(FindWindow("BatchProcessing"), nullptr);
}

TEST_F(BatchProgress, SetUpFailureGivesNoWindowAndEnablesTheCommand) {
  InjectFailure("CreateWindowFromNib", -50);
  EXPECT_EQ(mySetUpBatchWindow("PROCMULTIIMGWINTITLE"), nullptr);
  EXPECT_TRUE(Windows().empty());
  EXPECT_TRUE(CommandEnabled(kPRBI));
  // Without its handler the window's close would dispose it while the job
  // still holds it: no window either.
  InjectFailure("InstallEventHandler", -50);
  EXPECT_EQ(mySetUpBatchWindow("PROCMULTIIMGWINTITLE"), nullptr);
  EXPECT_TRUE(Windows().empty());
  DisableMenuCommand(nullptr, kPRBI);
  myFinnishOffBatchWindow(nullptr);
  EXPECT_TRUE(CommandEnabled(kPRBI));
}

}  // namespace
