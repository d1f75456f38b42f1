// Content clicks, drags followed with TrackMouseLocation, and view frames.
#include <gtest/gtest.h>

#include <vector>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

class MouseTracking : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test",
             "window \"W\" class=movable-modal bounds=100,200,400,700\n"
             "  control 'PANE' 0 user-pane bounds=20,30,220,430\n"
             "  control 'BOX ' 0 user-pane bounds=230,30,260,90\n"
             "end\n");
  }
  // What the window's handler saw.
  struct Seen {
    std::vector<std::pair<EventKind, Point>> events;  // kind and window point
    std::vector<std::pair<MouseTrackingResult, Point>> tracked;
    bool track = false;
    bool takeDown = false;
  };
  static OSStatus handler(EventHandlerCallRef, EventRef e, void* data) {
    auto* seen = static_cast<Seen*>(data);
    Point p{0, 0};
    GetEventParameter(e, kEventParamWindowMouseLocation, typeQDPoint, nullptr, sizeof p, nullptr, &p);
    seen->events.push_back({GetEventKind(e), p});
    if (GetEventKind(e) == kEventMouseDown) return seen->takeDown ? noErr : OSStatus(eventNotHandledErr);
    if (GetEventKind(e) == kEventWindowHandleContentClick && seen->track) {
      MouseTrackingResult r = 0;
      while (r != kMouseTrackingMouseReleased) {
        Point q;
        TrackMouseLocation(nullptr, &q, &r);
        seen->tracked.push_back({r, q});
      }
    }
    return eventNotHandledErr;
  }
  static OSStatus controlClick(EventHandlerCallRef, EventRef, void* data) {
    ++*static_cast<int*>(data);
    return noErr;
  }
  WindowRef Open(Seen* seen, int* controlClicks) {
    WindowRef w = MakeWindow("Test", "W");
    static const EventTypeSpec types[] = {{kEventClassMouse, kEventMouseDown},
                                          {kEventClassMouse, kEventMouseDragged},
                                          {kEventClassMouse, kEventMouseUp},
                                          {kEventClassWindow, kEventWindowHandleContentClick}};
    EXPECT_EQ(InstallWindowEventHandler(w, handler, 4, types, seen, nullptr), noErr);
    ControlRef pane = FindControl(w, FOUR_CHAR_CODE("PANE"), 0);
    static const EventTypeSpec click[] = {{kEventClassControl, kEventControlClick}};
    EXPECT_EQ(InstallControlEventHandler(pane, controlClick, 1, click, controlClicks, nullptr), noErr);
    ShowWindow(w);
    return w;
  }
};

TEST_F(MouseTracking, AnUntakenPressBecomesAContentClickThenAControlClick) {
  Seen seen;
  int clicks = 0;
  WindowRef w = Open(&seen, &clicks);
  ControlRef pane = FindControl(w, FOUR_CHAR_CODE("PANE"), 0);
  ASSERT_EQ(UserMouse(pane, kEventMouseDown, Point{5, 10}), noErr);
  ASSERT_EQ(seen.events.size(), 2u);
  EXPECT_EQ(seen.events[0].first, kEventMouseDown);
  EXPECT_EQ(seen.events[1].first, kEventWindowHandleContentClick);
  EXPECT_EQ(seen.events[1].second.h, 40);  // window point: the pane's left 30 + 10
  EXPECT_EQ(seen.events[1].second.v, 25);
  EXPECT_EQ(clicks, 1);
  // A press the window takes goes no further.
  seen = Seen{};
  seen.takeDown = true;
  ASSERT_EQ(UserMouse(pane, kEventMouseDown, Point{5, 10}), noErr);
  EXPECT_EQ(seen.events.size(), 1u);
  EXPECT_EQ(clicks, 1);
  DisposeWindow(w);
}

TEST_F(MouseTracking, TrackingFollowsTheScriptedDragToTheRelease) {
  Seen seen;
  seen.track = true;
  int clicks = 0;
  WindowRef w = Open(&seen, &clicks);
  ScriptedUser user;
  user.DragPath(FOUR_CHAR_CODE("PANE"), 0, Point{10, 10}, {Point{12, 15}, Point{14, 20}, Point{20, 30}})
      .Do([&] { QuitAppModalLoopForWindow(w); });
  RunAppModalLoopForWindow(w);
  ASSERT_EQ(seen.tracked.size(), 3u);
  EXPECT_EQ(seen.tracked[0].first, kMouseTrackingMouseDragged);
  EXPECT_EQ(seen.tracked[0].second.h, 45);  // pane point (15, 12) in the window
  EXPECT_EQ(seen.tracked[0].second.v, 32);
  EXPECT_EQ(seen.tracked[1].first, kMouseTrackingMouseDragged);
  EXPECT_EQ(seen.tracked[2].first, kMouseTrackingMouseReleased);
  EXPECT_EQ(seen.tracked[2].second.h, 60);
  EXPECT_EQ(seen.tracked[2].second.v, 40);
  // Every step was tracked: no drag events are left over, and the button comes up at the end.
  std::vector<EventKind> kinds;
  for (auto& e : seen.events) kinds.push_back(e.first);
  EXPECT_EQ(kinds, (std::vector<EventKind>{kEventMouseDown, kEventWindowHandleContentClick, kEventMouseUp}));
  // With no drag going on the button is up where the mouse was.
  Point p;
  MouseTrackingResult r = 0;
  TrackMouseLocation(nullptr, &p, &r);
  EXPECT_EQ(r, kMouseTrackingMouseReleased);
  EXPECT_EQ(p.h, 60);
  EXPECT_TRUE(user.Errors().empty());
  DisposeWindow(w);
}

TEST_F(MouseTracking, UntrackedStepsArriveAsDragEvents) {
  Seen seen;
  int clicks = 0;
  WindowRef w = Open(&seen, &clicks);
  ASSERT_EQ(UserDragPath(w, Point{30, 40}, {Point{31, 41}, Point{32, 42}, Point{33, 43}}), noErr);
  std::vector<EventKind> kinds;
  for (auto& e : seen.events) kinds.push_back(e.first);
  EXPECT_EQ(kinds, (std::vector<EventKind>{kEventMouseDown, kEventWindowHandleContentClick, kEventMouseDragged,
                                           kEventMouseDragged, kEventMouseUp}));
  EXPECT_EQ(seen.events.back().second.h, 43);
  DisposeWindow(w);
}

TEST_F(MouseTracking, ViewFramesAreInTheSuperviewAndTheContentViewIsTheRoot) {
  WindowRef w = MakeWindow("Test", "W");
  HIViewRef root = HIViewGetRoot(w), content = nullptr, box = nullptr;
  ASSERT_EQ(HIViewFindByID(root, kHIViewWindowContentID, &content), noErr);
  EXPECT_EQ(content, root);
  ASSERT_EQ(HIViewFindByID(root, HIViewID{FOUR_CHAR_CODE("BOX "), 0}, &box), noErr);
  HIRect frame;
  ASSERT_EQ(HIViewGetFrame(box, &frame), noErr);
  EXPECT_EQ(frame.origin.x, 30);
  EXPECT_EQ(frame.origin.y, 230);
  EXPECT_EQ(frame.size.width, 60);
  EXPECT_EQ(frame.size.height, 30);
  HIObjectRef view = nullptr;
  ASSERT_EQ(HIObjectCreate(kHIViewClassID, nullptr, &view), noErr);
  ASSERT_EQ(HIViewAddSubview(content, view), noErr);
  ASSERT_EQ(HIViewSetFrame(view, &frame), noErr);
  Rect b;
  GetControlBounds(view, &b);
  EXPECT_EQ(b.left, 30);
  EXPECT_EQ(b.top, 230);
  EXPECT_EQ(b.right, 90);
  EXPECT_EQ(b.bottom, 260);
  EXPECT_EQ(HIViewGetFrame(view, nullptr), paramErr);
  DisposeWindow(w);
}

}  // namespace
