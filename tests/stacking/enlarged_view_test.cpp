// The shared EnlargedView controller, its blit steps and the pointer-to-image
// conversion, on a small owner record of the test's own.
#include "stacking/EnlargedView.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

struct Owner {
  HIObjectRef instance = nullptr;
  UInt32 show = 0, x = 0, y = 0;
  std::vector<std::pair<UInt32, UInt32>> blits;
};

EnlargedViewOwner bind(Owner* o) {
  return EnlargedViewOwner{o, &o->instance, &o->show, &o->x, &o->y, [](void* r, UInt32 x, UInt32 y) {
                             static_cast<Owner*>(r)->blits.push_back({x, y});
                           }};
}

OSStatus testController(EventHandlerCallRef call, EventRef e, void* data) {
  auto* o = static_cast<Owner*>(data);
  if (o == nullptr) return myEnlargedViewController(call, e, nullptr);
  EnlargedViewOwner owner = bind(o);
  return myEnlargedViewController(call, e, &owner);
}

class EnlargedView : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("ORX_DCAM",
             "window \"Sel\" class=movable-modal bounds=100,100,200,300\n"
             "  control 'ENLV' 0 user-pane bounds=10,20,40,50\n"
             "end\n");
  }
  EventRef Event(EventClass cls, EventKind kind) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, cls, kind, 0, 0, &e), noErr);
    return e;
  }
};

TEST_F(EnlargedView, ControllerStoresTheInstanceAndDrawsOnlyWhenShown) {
  Owner owner;
  HIObjectClassRef cls = nullptr;
  CFStringRef id = CFSTR("com.skyloom.test.enlargedView");
  ASSERT_EQ(myRegisterEnlargedViewClass(id, testController, &owner, &cls), noErr);
  WindowRef w = MakeWindow("ORX_DCAM", "Sel");
  HIObjectRef view = myCreateEnlargedView(w, id);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(owner.instance, view);
  Rect b;
  GetControlBounds(view, &b);
  EXPECT_EQ(b.left, 20);
  EXPECT_EQ(b.top, 10);
  EXPECT_EQ(b.right, 50);
  EXPECT_TRUE(IsControlVisible(view));
  // Draw, activate and deactivate: nothing while the show flag is 0, the blit
  // at the stored centre once it is set; 0 either way.
  owner.x = 7, owner.y = 9;
  for (EventKind kind : {kEventControlDraw, kEventControlActivate, kEventControlDeactivate}) {
    EventRef e = Event(kEventClassControl, kind);
    owner.show = 0;
    EXPECT_EQ(SendEventToEventTarget(e, GetControlEventTarget(view)), noErr);
    owner.show = 1;
    EXPECT_EQ(SendEventToEventTarget(e, GetControlEventTarget(view)), noErr);
    ReleaseEvent(e);
  }
  ASSERT_EQ(owner.blits.size(), 3u);
  EXPECT_EQ(owner.blits[0], (std::pair<UInt32, UInt32>{7, 9}));
  // The class stays while a view lives; then it goes and the reference is cleared.
  myUnregisterEnlargedViewClass(&cls);
  EXPECT_NE(cls, nullptr);
  DisposeWindow(w);
  myUnregisterEnlargedViewClass(&cls);
  EXPECT_EQ(cls, nullptr);
}

TEST_F(EnlargedView, ControllerAddsEmbeddingAndLeavesOtherEventsAlone) {
  Owner owner;
  EnlargedViewOwner bound = bind(&owner);
  EventRef init = Event(kEventClassControl, kEventControlInitialize);
  UInt32 features = 0x10;
  SetEventParameter(init, kEventParamControlFeatures, typeUInt32, sizeof features, &features);
  EXPECT_EQ(myEnlargedViewController(nullptr, init, &bound), noErr);
  GetEventParameter(init, kEventParamControlFeatures, typeUInt32, nullptr, sizeof features, nullptr, &features);
  EXPECT_EQ(features, 0x12u);
  ReleaseEvent(init);
  init = Event(kEventClassControl, kEventControlInitialize);  // no features yet: 0 plus the bit
  EXPECT_EQ(myEnlargedViewController(nullptr, init, &bound), noErr);
  GetEventParameter(init, kEventParamControlFeatures, typeUInt32, nullptr, sizeof features, nullptr, &features);
  EXPECT_EQ(features, UInt32(kControlSupportsEmbedding));
  ReleaseEvent(init);
  EventRef destruct = Event(kEventClassHIObject, kEventHIObjectDestruct);
  EXPECT_EQ(myEnlargedViewController(nullptr, destruct, &bound), noErr);
  EXPECT_EQ(myEnlargedViewController(nullptr, destruct, nullptr), eventNotHandledErr);
  ReleaseEvent(destruct);
  EventRef click = Event(kEventClassControl, kEventControlClick);
  EXPECT_EQ(myEnlargedViewController(nullptr, click, &bound), eventNotHandledErr);
  ReleaseEvent(click);
  EXPECT_TRUE(owner.blits.empty());
}

TEST_F(EnlargedView, BlitPaintsWhiteThenTheBlockThreeTimesEnlarged) {
  WindowRef w = MakeWindow("ORX_DCAM", "Sel");
  // A 40 x 30 ARGB32 source: red = column x 6, green = row x 8.
  const UInt32 sw = 40, sh = 30;
  std::vector<UInt8> src(sw * sh * 4);
  for (UInt32 y = 0; y < sh; ++y)
    for (UInt32 x = 0; x < sw; ++x) {
      UInt8* p = &src[(y * sw + x) * 4];
      p[0] = 255, p[1] = UInt8(x * 6), p[2] = UInt8(y * 8), p[3] = 0;
    }
  UInt8* buffer = nullptr;
  const EnlargedViewSource source{src.data(), 32, sw, sh, sw * 4};
  CGrafPtr port = GetWindowPort(w);
  // Not shown: the inset area (22..47 x 12..37) is white, the 2-pixel margin untouched.
  myEnlargedViewBlit3X(w, &source, 0, 20, 15, &buffer);
  EXPECT_EQ(SkyloomPortPixel(port, 30, 20), 0xFFFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(port, 21, 20), kSkyloomWindowBackground);
  ASSERT_NE(buffer, nullptr);
  UInt8* const first = buffer;
  // Shown: the 26 x 26 area holds 8 x 8 source pixels around (20, 15): columns 16.., rows 11..
  myEnlargedViewBlit3X(w, &source, 1, 20, 15, &buffer);
  EXPECT_EQ(buffer, first);  // made once
  const UInt32 corner = SkyloomPortPixel(port, 22, 12);
  EXPECT_EQ((corner >> 16) & 0xFF, 16u * 6);
  EXPECT_EQ((corner >> 8) & 0xFF, 11u * 8);
  // Source unavailable: the previous buffer is drawn again.
  const EnlargedViewSource none{nullptr, 32, sw, sh, sw * 4};
  myEnlargedViewBlit3X(w, &none, 1, 0, 0, &buffer);
  EXPECT_EQ(SkyloomPortPixel(port, 22, 12), corner);
  std::free(buffer);
  DisposeWindow(w);
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

TEST_F(EnlargedView, PointerIsClampedIntoTheFrameAndOffsetByTheScroll) {
  struct Case {
    SInt32 coordinate, origin, size;
    UInt32 expected;
  } cases[] = {{5, 10, 100, 0}, {10, 10, 100, 0}, {11, 10, 100, 1}, {109, 10, 100, 99}, {110, 10, 100, 100},
               {500, 10, 100, 100}};
  for (const Case& c : cases)
    EXPECT_EQ(myEnlargedViewClampAxis(c.coordinate, c.origin, c.size), c.expected) << c.coordinate;
  WindowRef w = MakeWindow("ORX_DCAM", "Sel");
  EventRef e = Event(kEventClassMouse, kEventMouseMoved);
  UInt32 x = 99, y = 99;
  const Rect frame{10, 20, 110, 220};
  EXPECT_EQ(myEnlargedViewImagePoint(e, w, frame, 0, 0, 1, &x, &y), eventParameterNotFoundErr);
  EXPECT_EQ(x, 99u);
  Point where{60, 500};  // v 60, h 500: right of the frame
  SetEventParameter(e, kEventParamWindowMouseLocation, typeQDPoint, sizeof where, &where);
  EXPECT_EQ(myEnlargedViewImagePoint(e, w, frame, 30, 7, 1, &x, &y), noErr);
  EXPECT_EQ(x, 200u + 30);
  EXPECT_EQ(y, 50u + 7);
  EXPECT_EQ(myEnlargedViewImagePoint(e, w, frame, 30, 7, 2, &x, &y), noErr);
  EXPECT_EQ(x, 115u);
  EXPECT_EQ(y, 28u);  // 57 / 2 truncated
  ReleaseEvent(e);
  DisposeWindow(w);
}

}  // namespace
