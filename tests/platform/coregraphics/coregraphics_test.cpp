#include <gtest/gtest.h>

#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "tests/support/UiFixture.h"

namespace {

class CoreGraphicsPorts : public UiTest {
 protected:
  WindowRef makeWindow(short width, short height) {
    const Rect content{40, 40, short(40 + height), short(40 + width)};
    WindowRef w = nullptr;
    EXPECT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &content, &w), noErr);
    return w;
  }
};

TEST_F(CoreGraphicsPorts, UserSpaceStartsAtTheBottomLeft) {
  WindowRef w = makeWindow(20, 10);
  CGrafPtr port = GetWindowPort(w);
  Rect bounds;
  GetPortBounds(port, &bounds);
  EXPECT_EQ(bounds.bottom, 10);
  EXPECT_EQ(bounds.right, 20);
  CGContextRef c = nullptr;
  ASSERT_EQ(CreateCGContextForPort(port, &c), noErr);
  CGContextSetRGBFillColor(c, 1, 0, 0, 1);
  CGContextFillRect(c, CGRectMake(0, 0, 2, 3));  // bottom-left corner
  CGContextRelease(c);
  EXPECT_EQ(SkyloomPortPixel(port, 0, 9), 0xFFFF0000u);
  EXPECT_EQ(SkyloomPortPixel(port, 1, 7), 0xFFFF0000u);
  EXPECT_EQ(SkyloomPortPixel(port, 1, 6), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, 2, 9), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, 20, 0), 0u);  // outside
}

TEST_F(CoreGraphicsPorts, FillRectKeepsThePathAndRestoreBringsColoursBack) {
  WindowRef w = makeWindow(20, 20);
  CGrafPtr port = GetWindowPort(w);
  CGContextRef c = nullptr;
  ASSERT_EQ(CreateCGContextForPort(port, &c), noErr);
  CGContextSetRGBStrokeColor(c, 0, 0, 1, 1);
  CGContextSetLineWidth(c, 2.0);
  CGContextSaveGState(c);
  CGContextSetRGBStrokeColor(c, 0, 1, 0, 1);
  CGContextMoveToPoint(c, 0, 10);
  CGContextAddLineToPoint(c, 20, 10);
  CGContextSetRGBFillColor(c, 1, 1, 1, 1);
  CGContextFillRect(c, CGRectMake(0, 0, 20, 5));  // between building and stroking
  CGContextRestoreGState(c);                       // blue again, the path survives
  CGContextStrokePath(c);
  CGContextRelease(c);
  EXPECT_EQ(SkyloomPortPixel(port, 10, 9), 0xFF0000FFu);  // y 9..11 in user space
  EXPECT_EQ(SkyloomPortPixel(port, 10, 10), 0xFF0000FFu);
  EXPECT_EQ(SkyloomPortPixel(port, 10, 17), 0xFFFFFFFFu);
}

TEST_F(CoreGraphicsPorts, PortsFollowTheirWindows) {
  EXPECT_EQ(GetWindowPort(nullptr), nullptr);
  CGContextRef c = reinterpret_cast<CGContextRef>(1);
  EXPECT_EQ(CreateCGContextForPort(nullptr, &c), paramErr);
  EXPECT_EQ(c, nullptr);
  WindowRef w = makeWindow(8, 8);
  CGrafPtr port = GetWindowPort(w);
  ASSERT_EQ(CreateCGContextForPort(port, &c), noErr);
  CGContextSetRGBFillColor(c, 0, 0, 0, 1);
  CGContextFillRect(c, CGRectMake(0, 0, 8, 8));
  CGContextRelease(c);
  EXPECT_EQ(SkyloomPortPixel(GetWindowPort(w), 3, 3), 0xFF000000u);  // kept between calls
  SizeWindow(w, 12, 6, false);
  port = GetWindowPort(w);
  Rect bounds;
  GetPortBounds(port, &bounds);
  EXPECT_EQ(bounds.right, 12);
  EXPECT_EQ(bounds.bottom, 6);
  EXPECT_EQ(SkyloomPortPixel(port, 3, 3), kSkyloomWindowBackground);  // a new image
  DisposeWindow(w);
  EXPECT_EQ(GetWindowPort(w), nullptr);
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

}  // namespace
