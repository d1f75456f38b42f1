// Scroll views, scrollable image views and the scripted mouse move.
#include <gtest/gtest.h>

#include <vector>

#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

class ScrollImageView : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test",
             "window \"W\" class=document bounds=100,200,500,800\n"
             "  control 'ok  ' 0 push-button bounds=360,500,380,580 title=\"OK\" command='ok  '\n"
             "end\n");
    objects_ = SkyloomCGImageLiveObjectCount();
  }
  void TearDown() override {
    skyloom::ui::ResetModel();
    EXPECT_EQ(SkyloomCGImageLiveObjectCount(), objects_);  // the views released their images
    UiTest::TearDown();
  }
  // A 300 x 200 image of its own bytes.
  CGImageRef NewImage(size_t w = 300, size_t h = 200) {
    pixels_.assign(w * h * 4, 0x80);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, pixels_.data(), pixels_.size(), nullptr);
    CGImageRef image = CGImageCreate(w, h, 8, 32, w * 4, space, kCGImageAlphaNoneSkipFirst, p, nullptr, false,
                                     kCGRenderingIntentDefault);
    CGDataProviderRelease(p);
    CGColorSpaceRelease(space);
    return image;
  }
  struct Info {
    HISize image, view;
    HIPoint origin;
  };
  static Info GetInfo(HIViewRef view) {
    Info info{};
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassScrollable, kEventScrollableGetInfo, 0, 0, &e), noErr);
    EXPECT_EQ(SendEventToControl(e, view), noErr);
    GetEventParameter(e, kEventParamImageSize, typeHISize, nullptr, sizeof info.image, nullptr, &info.image);
    GetEventParameter(e, kEventParamViewSize, typeHISize, nullptr, sizeof info.view, nullptr, &info.view);
    EXPECT_EQ(GetEventParameter(e, kEventParamOrigin, typeHIPoint, nullptr, sizeof info.origin, nullptr, &info.origin),
              noErr);
    ReleaseEvent(e);
    return info;
  }
  static void ScrollTo(HIViewRef view, double x, double y) {
    EventRef e = nullptr;
    CreateEvent(nullptr, kEventClassScrollable, kEventScrollableScrollTo, 0, 0, &e);
    HIPoint p = CGPointMake(x, y);
    SetEventParameter(e, kEventParamOrigin, typeHIPoint, sizeof p, &p);
    EXPECT_EQ(SendEventToControl(e, view), noErr);
    ReleaseEvent(e);
  }
  std::vector<UInt8> pixels_;
  long objects_ = 0;
};

TEST_F(ScrollImageView, ContentFillsTheScrollViewAndScrollsInsideTheImage) {
  WindowRef w = MakeWindow("Test", "W");
  ASSERT_NE(w, nullptr);
  HIViewRef scroll = nullptr, image = nullptr, content = nullptr;
  ASSERT_EQ(HIScrollViewCreate(kHIScrollViewOptionsVertScroll | kHIScrollViewOptionsHorizScroll, &scroll), noErr);
  ASSERT_EQ(HIViewFindByID(HIViewGetRoot(w), kHIViewWindowContentID, &content), noErr);
  ASSERT_EQ(HIViewAddSubview(content, scroll), noErr);
  const HIRect frame = CGRectMake(20, 30, 120, 80);
  ASSERT_EQ(HIViewSetFrame(scroll, &frame), noErr);
  CGImageRef picture = NewImage();
  ASSERT_EQ(HIImageViewCreate(picture, &image), noErr);
  CGImageRelease(picture);  // the view keeps its own reference
  ASSERT_EQ(HIViewAddSubview(scroll, image), noErr);
  EXPECT_EQ(HIViewGetSuperview(image), scroll);

  HIRect bounds;
  HIViewGetBounds(image, &bounds);
  EXPECT_EQ(bounds.size.width, 120);
  EXPECT_EQ(bounds.size.height, 80);
  Info info = GetInfo(image);
  EXPECT_EQ(info.image.width, 300);
  EXPECT_EQ(info.image.height, 200);
  EXPECT_EQ(info.view.width, 120);
  EXPECT_EQ(info.origin.x, 0);

  // The origin is held between 0 and image - view on each axis.
  struct Case {
    double x, y, wantX, wantY;
  } cases[] = {{50, 40, 50, 40}, {-5, 500, 0, 120}, {1000, -1, 180, 0}, {179.7, 119.2, 179, 119}};
  for (const Case& c : cases) {
    ScrollTo(image, c.x, c.y);
    info = GetInfo(image);
    EXPECT_EQ(info.origin.x, c.wantX) << c.x;
    EXPECT_EQ(info.origin.y, c.wantY) << c.y;
  }
  // A larger scroll view resizes the content and pulls the origin back.
  const HIRect wide = CGRectMake(20, 30, 250, 150);
  HIViewSetFrame(scroll, &wide);
  info = GetInfo(image);
  EXPECT_EQ(info.view.width, 250);
  EXPECT_EQ(info.origin.x, 50);
  EXPECT_EQ(info.origin.y, 50);

  // A new image of the same size keeps the place; a smaller one pulls it
  // back. The copy is the caller's reference.
  CGImageRef same = NewImage();
  ASSERT_EQ(HIImageViewSetImage(image, same), noErr);
  CGImageRelease(same);
  EXPECT_EQ(GetInfo(image).origin.x, 50);
  CGImageRef other = NewImage(40, 30);
  ASSERT_EQ(HIImageViewSetImage(image, other), noErr);
  CGImageRelease(other);
  EXPECT_EQ(GetInfo(image).origin.x, 0);
  CGImageRef copy = HIImageViewCopyImage(image);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(CGImageGetWidth(copy), 40u);
  CGImageRelease(copy);
  EXPECT_TRUE(HIImageViewIsOpaque(image));
  HIImageViewSetOpaque(image, false);
  EXPECT_FALSE(HIImageViewIsOpaque(image));
  EXPECT_EQ(HIImageViewCopyImage(scroll), nullptr);  // not an image view
  DisposeWindow(w);  // takes both views and the image with it
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), objects_);
}

TEST_F(ScrollImageView, CreationCanBeMadeToFailAndLooseViewsGoWithTheModel) {
  HIViewRef v = nullptr;
  skyloom::ui::InjectFailure("HIScrollViewCreate", memFullErr);
  EXPECT_EQ(HIScrollViewCreate(0, &v), memFullErr);
  EXPECT_EQ(v, nullptr);
  skyloom::ui::InjectFailure("HIImageViewCreate", memFullErr);
  CGImageRef picture = NewImage();
  EXPECT_EQ(HIImageViewCreate(picture, &v), memFullErr);
  EXPECT_EQ(v, nullptr);
  ASSERT_EQ(HIImageViewCreate(picture, &v), noErr);  // never placed in a window
  CGImageRelease(picture);
  // TearDown's reset must release the image the loose view holds.
}

TEST_F(ScrollImageView, ScriptedMouseMoveReachesTheWindowWithBothLocations) {
  WindowRef w = MakeWindow("Test", "W");
  ASSERT_NE(w, nullptr);
  struct Seen {
    int moves = 0;
    Point global{0, 0}, local{0, 0};
  } seen;
  const EventTypeSpec moved{kEventClassMouse, kEventMouseMoved};
  InstallWindowEventHandler(
      w,
      [](EventHandlerCallRef, EventRef e, void* data) -> OSStatus {
        auto* s = static_cast<Seen*>(data);
        ++s->moves;
        GetEventParameter(e, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof s->global, nullptr, &s->global);
        GetEventParameter(e, kEventParamWindowMouseLocation, typeQDPoint, nullptr, sizeof s->local, nullptr,
                          &s->local);
        return eventNotHandledErr;
      },
      1, &moved, &seen, nullptr);
  ShowWindow(w);
  skyloom::ui::ScriptedUser user;
  user.MoveMouse(Point{15, 25}).Do([&] { QuitAppModalLoopForWindow(w); });
  RunAppModalLoopForWindow(w);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(seen.moves, 1);
  EXPECT_EQ(seen.local.v, 15);
  EXPECT_EQ(seen.local.h, 25);
  EXPECT_EQ(seen.global.v, 100 + 15);
  EXPECT_EQ(seen.global.h, 200 + 25);
  DisposeWindow(w);
}

// An image view of the nib draws its picture into the window's port: at its
// own size from the view's corner, or scaled to the view, with the view's
// alpha; an empty or hidden view leaves the window as it was.
TEST_F(ScrollImageView, ImageViewsPaintTheirPictureIntoThePort) {
  WriteNib("Test",
           "window \"V\" class=document bounds=100,200,200,400\n"
           "  control 'IMGV' 0 image-view bounds=10,20,30,60\n"
           "end\n",
           "view.ui");
  // 4 x 2: the left half red, the right half blue.
  std::vector<UInt8> bytes;
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 4; x++) bytes.insert(bytes.end(), {0xFF, UInt8(x < 2 ? 255 : 0), 0, UInt8(x < 2 ? 0 : 255)});
  CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
  CGDataProviderRef p = CGDataProviderCreateWithData(nullptr, bytes.data(), bytes.size(), nullptr);
  CGImageRef image = CGImageCreate(4, 2, 8, 32, 16, space, kCGImageAlphaNoneSkipFirst, p, nullptr, false,
                                   kCGRenderingIntentDefault);
  CGDataProviderRelease(p);
  CGColorSpaceRelease(space);
  ASSERT_NE(image, nullptr);

  auto pixel = [](WindowRef w, int x, int y) { return SkyloomPortPixel(GetWindowPort(w), x, y) & 0xFFFFFF; };
  const UInt32 background = kSkyloomWindowBackground & 0xFFFFFF, red = 0xFF0000, blue = 0x0000FF;

  WindowRef w = MakeWindow("Test", "V");
  ASSERT_NE(w, nullptr);
  ControlRef view = skyloom::ui::FindControl(w, FOUR_CHAR_CODE("IMGV"), 0);
  ASSERT_NE(view, nullptr);
  Draw1Control(view);  // empty
  EXPECT_EQ(pixel(w, 21, 11), background);

  ASSERT_EQ(HIImageViewSetImage(view, image), noErr);  // its own size, from the corner
  EXPECT_EQ(pixel(w, 20, 10), red);
  EXPECT_EQ(pixel(w, 23, 11), blue);
  EXPECT_EQ(pixel(w, 30, 20), background);
  EXPECT_EQ(pixel(w, 19, 10), background);

  ASSERT_EQ(HIImageViewSetScaleToFit(view, true), noErr);  // 40 x 20
  EXPECT_EQ(pixel(w, 25, 25), red);
  EXPECT_EQ(pixel(w, 55, 25), blue);
  EXPECT_EQ(pixel(w, 61, 25), background);
  EXPECT_EQ(pixel(w, 55, 31), background);

  // Half transparent, on a fresh window: half the window's grey shows through.
  WindowRef faint = MakeWindow("Test", "V");
  ControlRef faintView = skyloom::ui::FindControl(faint, FOUR_CHAR_CODE("IMGV"), 0);
  ASSERT_EQ(HIImageViewSetAlpha(faintView, 0.5), noErr);
  ASSERT_EQ(HIImageViewSetScaleToFit(faintView, true), noErr);
  ASSERT_EQ(HIImageViewSetImage(faintView, image), noErr);
  const UInt32 mixed = pixel(faint, 25, 25);
  const int grey = int(background & 0xFF);
  EXPECT_NEAR(int(mixed >> 16), (255 + grey) / 2, 2);
  EXPECT_NEAR(int((mixed >> 8) & 0xFF), grey / 2, 2);

  // A hidden view draws nothing.
  WindowRef hidden = MakeWindow("Test", "V");
  ControlRef hiddenView = skyloom::ui::FindControl(hidden, FOUR_CHAR_CODE("IMGV"), 0);
  HIViewSetVisible(hiddenView, false);
  ASSERT_EQ(HIImageViewSetImage(hiddenView, image), noErr);
  Draw1Control(hiddenView);
  EXPECT_EQ(pixel(hidden, 21, 11), background);
  CGImageRelease(image);
}

}  // namespace
