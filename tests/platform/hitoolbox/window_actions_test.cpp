// What the model does for the user at a window's frame and scroll bars, the
// focus window, and the colour chooser.
#include <gtest/gtest.h>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

namespace ui = skyloom::ui;

class WindowActions : public UiTest {
 protected:
  WindowRef Window() {
    WriteNib("Test",
             "window \"W\" class=document bounds=100,200,400,700\n"
             "  control 'CPHZ' 0 scroll-bar bounds=285,0,300,486 min=0 max=100\n"
             "end\n");
    return MakeWindow("Test", "W");
  }
};

struct SizeLog {
  std::vector<EventKind> kinds;
  std::vector<UInt32> attributes;
  Point minimum{50, 60}, maximum{200, 300};  // v, h
  SInt16 forcedBottom = 0;  // written back by the changing handler when set
};

OSStatus SizeHandler(EventHandlerCallRef, EventRef e, void* data) {
  auto* log = static_cast<SizeLog*>(data);
  log->kinds.push_back(GetEventKind(e));
  UInt32 attributes = 0;
  GetEventParameter(e, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
  switch (GetEventKind(e)) {
    case kEventWindowGetMinimumSize:
      return SetEventParameter(e, kEventParamDimensions, typeQDPoint, sizeof log->minimum, &log->minimum);
    case kEventWindowGetMaximumSize:
      return SetEventParameter(e, kEventParamDimensions, typeQDPoint, sizeof log->maximum, &log->maximum);
    case kEventWindowBoundsChanging: {
      log->attributes.push_back(attributes);
      if (!log->forcedBottom) return eventNotHandledErr;
      Rect b;
      GetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b);
      b.bottom = log->forcedBottom;
      return SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
    }
    case kEventWindowBoundsChanged:
      log->attributes.push_back(attributes);
      return noErr;
  }
  return eventNotHandledErr;
}

TEST_F(WindowActions, ResizeAndZoomAskTheLimitsAndKeepWhatTheHandlersWrite) {
  WindowRef w = Window();
  SizeLog log;
  const EventTypeSpec types[] = {{kEventClassWindow, kEventWindowGetMinimumSize},
                                 {kEventClassWindow, kEventWindowGetMaximumSize},
                                 {kEventClassWindow, kEventWindowBoundsChanging},
                                 {kEventClassWindow, kEventWindowBoundsChanged}};
  ASSERT_EQ(InstallWindowEventHandler(w, SizeHandler, 4, types, &log, nullptr), noErr);
  Rect b;
  ASSERT_EQ(ui::UserResizeWindow(w, Rect{100, 200, 110, 900}), noErr);  // too low, too wide
  GetWindowBounds(w, kWindowContentRgn, &b);
  EXPECT_EQ(b.bottom - b.top, 50);
  EXPECT_EQ(b.right - b.left, 300);
  EXPECT_EQ(log.kinds, (std::vector<EventKind>{kEventWindowGetMinimumSize, kEventWindowGetMaximumSize,
                                               kEventWindowBoundsChanging, kEventWindowBoundsChanged}));
  const UInt32 resized = kWindowBoundsChangeUserResize | kWindowBoundsChangeSizeChanged;
  EXPECT_EQ(log.attributes, (std::vector<UInt32>{resized, resized}));

  log = SizeLog{};
  log.forcedBottom = 180;
  ASSERT_EQ(ui::UserZoomWindow(w), noErr);
  GetWindowBounds(w, kWindowContentRgn, &b);
  EXPECT_EQ(b.bottom, 180);
  EXPECT_EQ(b.right - b.left, 300);
  ASSERT_EQ(log.attributes.size(), 2u);
  EXPECT_TRUE(log.attributes[0] & kWindowBoundsChangeZoom);
  EXPECT_EQ(ui::UserZoomWindow(nullptr), errInvalidWindowRef);
}

ControlRef gActed = nullptr;
std::vector<ControlPartCode> gParts;
void Action(ControlRef c, ControlPartCode part) {
  gActed = c;
  gParts.push_back(part);
}

TEST_F(WindowActions, ScrollBarPartsAndTheThumbCallTheAction) {
  WindowRef w = Window();
  ControlRef bar = ui::FindControl(w, FOUR_CHAR_CODE("CPHZ"), 0);
  gParts.clear();
  SetControlAction(bar, Action);
  EXPECT_EQ(ui::UserClickScrollBarPart(bar, kControlPageDownPart), noErr);
  EXPECT_EQ(ui::UserClickScrollBarPart(bar, kControlButtonPart), errInvalidPartCode);
  EXPECT_EQ(ui::UserDragScrollThumb(bar, 500), noErr);  // kept within the range
  EXPECT_EQ(GetControl32BitValue(bar), 100);
  EXPECT_EQ(gParts, (std::vector<ControlPartCode>{kControlPageDownPart, kControlIndicatorPart}));
  EXPECT_EQ(gActed, bar);
  HideControl(bar);
  EXPECT_EQ(ui::UserClickScrollBarPart(bar, kControlUpButtonPart), errControlHiddenOrDisabled);
  WindowRef other = Window();
  EXPECT_EQ(ui::UserClickScrollBarPart(HIViewGetRoot(other), kControlUpButtonPart), errUnknownControl);
}

TEST_F(WindowActions, TheFocusWindowIsTheFrontWindowOrNone) {
  EXPECT_EQ(GetUserFocusWindow(), nullptr);
  WindowRef w = Window();
  ShowWindow(w);
  SelectWindow(w);
  EXPECT_EQ(GetUserFocusWindow(), w);
}

TEST_F(WindowActions, TheColourChooserIsAnsweredByTheUserOrCancelled) {
  const RGBColor start{1, 2, 3};
  RGBColor out{9, 9, 9};
  // Nobody to answer: cancelled, the colour untouched.
  EXPECT_FALSE(GetColor(Point{-1, -1}, reinterpret_cast<const unsigned char*>("\x03Hue"), &start, &out));
  EXPECT_EQ(out.red, 9);
  {
    ui::ScriptedUser user;
    user.Do([] {
          EXPECT_TRUE(ui::ColorPicker().shown);
          EXPECT_EQ(ui::ColorPicker().prompt, "Hue");
          EXPECT_EQ(ui::ColorPicker().start.blue, 3);
        })
        .ChooseColor(RGBColor{10, 20, 30});
    EXPECT_TRUE(GetColor(Point{-1, -1}, reinterpret_cast<const unsigned char*>("\x03Hue"), &start, &out));
    EXPECT_EQ(out.green, 20);
    // A script with nothing left escapes by cancelling, and says so.
    EXPECT_FALSE(GetColor(Point{0, 0}, nullptr, &start, &out));
    EXPECT_EQ(out.green, 20);
    EXPECT_EQ(user.Errors().size(), 1u);
  }
  EXPECT_FALSE(ui::ColorPicker().shown);
  EXPECT_EQ(ui::UserAnswerColorPicker(&start), paramErr);  // none up
}

}  // namespace
