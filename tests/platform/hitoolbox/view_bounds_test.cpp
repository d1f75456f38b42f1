#include <gtest/gtest.h>

#include "platform/hitoolbox/HIToolbox.h"
#include "tests/support/UiFixture.h"

namespace {

class ViewBounds : public UiTest {};

TEST_F(ViewBounds, AreTheViewsSizeAtItsOwnOrigin) {
  WriteNib("Test",
           "window \"W\" class=document bounds=100,200,400,700\n"
           "  control 'SCUM' 0 view bounds=20,30,220,430\n"
           "end\n");
  WindowRef w = MakeWindow("Test", "W");
  ASSERT_NE(w, nullptr);
  HIViewRef view = nullptr;
  ASSERT_EQ(HIViewFindByID(HIViewGetRoot(w), HIViewID{FOUR_CHAR_CODE("SCUM"), 0}, &view), noErr);
  HIRect r{};
  ASSERT_EQ(HIViewGetBounds(view, &r), noErr);
  EXPECT_EQ(r.origin.x, 0);
  EXPECT_EQ(r.origin.y, 0);
  EXPECT_EQ(r.size.width, 400);
  EXPECT_EQ(r.size.height, 200);
  // The root view is the window's whole content.
  ASSERT_EQ(HIViewGetBounds(HIViewGetRoot(w), &r), noErr);
  EXPECT_EQ(r.size.width, 500);
  EXPECT_EQ(r.size.height, 300);
  EXPECT_EQ(HIViewGetBounds(view, nullptr), paramErr);
  DisposeWindow(w);
  EXPECT_EQ(HIViewGetBounds(view, &r), errUnknownControl);
}

}  // namespace
