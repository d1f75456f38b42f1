#include <gtest/gtest.h>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

class ScrollBars : public UiTest {};

TEST_F(ScrollBars, NibViewSizeAndMovingAndSizingControls) {
  WriteNib("Test",
           "window \"W\" class=document bounds=100,200,400,700\n"
           "  control 'CPHZ' 0 scroll-bar bounds=285,0,300,486 min=0 max=0 viewsize=500 hidden\n"
           "  control 'CPVT' 0 scroll-bar bounds=0,485,286,500 min=0 max=0\n"
           "end\n");
  WindowRef w = MakeWindow("Test", "W");
  ASSERT_NE(w, nullptr);
  ControlRef h = skyloom::ui::FindControl(w, FOUR_CHAR_CODE("CPHZ"), 0);
  ControlRef v = skyloom::ui::FindControl(w, FOUR_CHAR_CODE("CPVT"), 0);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(skyloom::ui::ControlKindOf(h), kControlKindScrollBar);
  EXPECT_EQ(GetControlViewSize(h), 500);
  EXPECT_EQ(GetControlViewSize(v), 0);
  EXPECT_FALSE(IsControlVisible(h));

  MoveControl(h, 10, 200);  // keeps the size
  Rect b;
  GetControlBounds(h, &b);
  EXPECT_EQ(b.left, 10);
  EXPECT_EQ(b.top, 200);
  EXPECT_EQ(b.right, 10 + 486);
  EXPECT_EQ(b.bottom, 215);
  SizeControl(h, 300, 16);  // keeps the top left
  GetControlBounds(h, &b);
  EXPECT_EQ(b.left, 10);
  EXPECT_EQ(b.top, 200);
  EXPECT_EQ(b.right, 310);
  EXPECT_EQ(b.bottom, 216);
  MoveControl(nullptr, 1, 1);  // no control: nothing
  SizeControl(nullptr, 1, 1);
  DisposeWindow(w);
}

TEST_F(ScrollBars, TheVideoWindowCarriesItsBars) {
  LinkRealNib();
  WindowRef w = MakeWindow("ORX_DCAM", "VideoWindow");
  ASSERT_NE(w, nullptr);
  for (OSType sig : {FOUR_CHAR_CODE("CPHZ"), FOUR_CHAR_CODE("CPVT")}) {
    ControlRef c = skyloom::ui::FindControl(w, sig, 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(skyloom::ui::ControlKindOf(c), kControlKindScrollBar);
    EXPECT_FALSE(IsControlVisible(c));
  }
  DisposeWindow(w);
}

}  // namespace
