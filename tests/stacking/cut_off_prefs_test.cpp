// "Use for all" in the cut-off window holds for the rest of the run only: the
// stored AlignPref domain keeps asking.
#include <gtest/gtest.h>

#include "platform/hitoolbox/ScriptedUser.h"
#include "stacking/CutOffWindow.h"
#include "tests/stacking/StackFixture.h"

namespace {

class CutOffPrefs : public StackTest {};

TEST_F(CutOffPrefs, UseForAllLeavesTheStoredPreference) {
  StackAlignJob job;
  myInitStackAlignJob(&job);
  job.PROMPTCI = 1;
  job.PERCENTFRAME = 60;
  ASSERT_EQ(myReadWriteAlignmentPrefs(&job, 0), noErr);

  UInt32 counts[256] = {};
  counts[10] = 5;
  counts[200] = 3;
  skyloom::ui::ScriptedUser user;
  user.SetValue(FOUR_CHAR_CODE("CIAM"), 0, 80).Click(FOUR_CHAR_CODE("ALL_"), 0).ClickOK();
  ASSERT_TRUE(myGetUsersCIPrefs(&job, counts, 8, 0.0, 256.0, 1.0, 50.0, 100.0, 20.0));
  EXPECT_EQ(job.PROMPTCI, 0);
  EXPECT_EQ(job.PERCENTFRAME, 80u);

  StackAlignJob stored;
  myInitStackAlignJob(&stored);
  stored.PROMPTCI = 0;
  stored.PERCENTFRAME = 0;
  myReadWriteAlignmentPrefs(&stored, 1);
  EXPECT_EQ(stored.PROMPTCI, 1);
  EXPECT_EQ(stored.PERCENTFRAME, 60u);
  EXPECT_TRUE(user.Errors().empty());
}

}  // namespace
