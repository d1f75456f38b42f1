#include <gtest/gtest.h>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
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

TEST_F(ViewBounds, FrameIsThePlaceInTheWindowAndCanBeSet) {
  WriteNib("Test",
           "window \"W\" class=document bounds=100,200,400,700\n"
           "  control 'SCUM' 0 view bounds=20,30,220,430\n"
           "end\n");
  WindowRef w = MakeWindow("Test", "W");
  ASSERT_NE(w, nullptr);
  HIViewRef view = nullptr;
  ASSERT_EQ(HIViewFindByID(HIViewGetRoot(w), HIViewID{FOUR_CHAR_CODE("SCUM"), 0}, &view), noErr);
  HIRect f{};
  ASSERT_EQ(HIViewGetFrame(view, &f), noErr);
  EXPECT_EQ(f.origin.x, 30);
  EXPECT_EQ(f.origin.y, 20);
  EXPECT_EQ(f.size.width, 400);
  EXPECT_EQ(f.size.height, 200);
  const HIRect moved = CGRectMake(5, 6, 70, 80);
  ASSERT_EQ(HIViewSetFrame(view, &moved), noErr);
  Rect b{};
  GetControlBounds(view, &b);
  EXPECT_EQ(b.top, 6);
  EXPECT_EQ(b.left, 5);
  EXPECT_EQ(b.bottom, 86);
  EXPECT_EQ(b.right, 75);
  EXPECT_EQ(HIViewSetFrame(view, nullptr), paramErr);
  EXPECT_EQ(HIViewSetFrame(HIViewGetRoot(w), &moved), errUnknownControl);
  DisposeWindow(w);
  EXPECT_EQ(HIViewSetFrame(view, &moved), errUnknownControl);
}

OSStatus EmbeddingView(EventHandlerCallRef call, EventRef e, void*) {
  if (GetEventClass(e) == kEventClassHIObject && GetEventKind(e) == kEventHIObjectConstruct) return noErr;
  if (GetEventClass(e) != kEventClassControl || GetEventKind(e) != kEventControlInitialize) return eventNotHandledErr;
  UInt32 features = 0;
  EXPECT_EQ(GetEventParameter(e, kEventParamControlFeatures, typeUInt32, nullptr, sizeof features, nullptr, &features),
            noErr);
  features |= kControlSupportsEmbedding;
  (void)call;
  return SetEventParameter(e, kEventParamControlFeatures, typeUInt32, sizeof features, &features);
}

TEST_F(ViewBounds, ControlInitializeCarriesTheFeaturesASubclassAddsTo) {
  const EventTypeSpec events[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                  {kEventClassControl, kEventControlInitialize}};
  HIObjectClassRef cls = nullptr;
  ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.example.embedding"), kHIViewClassID, 0, EmbeddingView, 2, events,
                                     nullptr, &cls),
            noErr);
  HIObjectRef view = nullptr;
  ASSERT_EQ(HIObjectCreate(CFSTR("com.example.embedding"), nullptr, &view), noErr);
  UInt32 features = 0;
  EXPECT_EQ(GetControlFeatures(view, &features), noErr);
  EXPECT_EQ(features, UInt32(kControlSupportsEmbedding));
  HIObjectRef plain = nullptr;
  ASSERT_EQ(HIObjectCreate(kHIViewClassID, nullptr, &plain), noErr);
  EXPECT_EQ(GetControlFeatures(plain, &features), noErr);
  EXPECT_EQ(features, 0u);
  DisposeControl(view);
  DisposeControl(plain);
  EXPECT_EQ(HIObjectUnregisterClass(cls), noErr);
}

TEST_F(ViewBounds, UserFocusIsTheModalWindowElseTheFrontOneElseTheApplication) {
  EXPECT_EQ(GetUserFocusEventTarget(), GetApplicationEventTarget());
  WriteNib("Test",
           "window \"W\" class=document bounds=100,200,400,700\nend\n"
           "window \"M\" class=movable-modal bounds=100,200,200,400\nend\n");
  WindowRef w = MakeWindow("Test", "W");
  WindowRef m = MakeWindow("Test", "M");
  ShowWindow(w);
  EXPECT_EQ(GetUserFocusEventTarget(), GetWindowEventTarget(w));
  skyloom::ui::ScriptedUser user;
  EventTargetRef during = nullptr;
  user.Do([&] {
    during = GetUserFocusEventTarget();
    QuitAppModalLoopForWindow(m);
  });
  ShowWindow(m);
  RunAppModalLoopForWindow(m);
  EXPECT_EQ(during, GetWindowEventTarget(m));
  DisposeWindow(m);
  DisposeWindow(w);
}

}  // namespace
