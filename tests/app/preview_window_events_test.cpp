// The preview window's events on an open simulated camera: the grab and
// record keys over the camera's states, the measuring-point pick, the size
// limits of the zoomed image, the close box, redraws and scrolling.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/FrameGrabs.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "utilities/Controls.h"
#include "tests/app/CameraWindowsFixture.h"

namespace {

namespace ui = skyloom::ui;

class PreviewWindowTest : public CameraWindowsTest {
 protected:
  // Video on with synchronous delivery; captures go to the test's folder.
  MyCameraWindowDataStruct* Running(const SimCameraPersonality& p = SimUSBPersonality()) {
    MyCameraWindowDataStruct* r = OpenWindows(p);
    EXPECT_EQ(StartVideo(-1, false), noErr);
    SaveToFolder();
    return r;
  }
  void TearDown() override {
    if (record_ && record_->mMovie) myStopRecordMovie(record_);
    CameraWindowsTest::TearDown();
  }

  OSStatus Key(char code) {
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassKeyboard, kEventRawKeyDown, 0, 0, &e), noErr);
    SetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, 1, &code);
    const OSStatus s = myPreviewWindowEventHandler(nullptr, e, record_);
    ReleaseEvent(e);
    return s;
  }
  // A click at a point of the preview's content, as the window's handler
  // gets it from the system (the location is global).
  OSStatus Click(Point local) {
    Rect b = ContentBounds(record_->mVideoWindow);
    Point global{SInt16(b.top + local.v), SInt16(b.left + local.h)};
    EventRef e = nullptr;
    EXPECT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowClickContentRgn, 0, 0, &e), noErr);
    SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, sizeof global, &global);
    const OSStatus s = myPreviewWindowEventHandler(nullptr, e, record_);
    ReleaseEvent(e);
    return s;
  }
  // Fills the preview buffer with one ARGB colour.
  void FillPreview(UInt8 red, UInt8 green, UInt8 blue) {
    auto* p = static_cast<UInt8*>(record_->mPreviewBuffer);
    for (size_t i = 0; i < size_t(record_->mWidth) * record_->mHeight; i++) {
      p[i * 4] = 255;
      p[i * 4 + 1] = red;
      p[i * 4 + 2] = green;
      p[i * 4 + 3] = blue;
    }
  }
  UInt32 PortPixel() { return SkyloomPortPixel(GetWindowPort(record_->mVideoWindow), 20, 20); }
};

TEST_F(PreviewWindowTest, GrabAndRecordKeysOverTheCameraStates) {
  MyCameraWindowDataStruct* r = Running();
  const struct {
    const char* name;
    char key;
    bool grabPending;
    bool recording;
    UInt32 trigger;
    bool grabRequested;   // a new grab was armed
    UInt8 timeoutOn;      // its time-out flag
    bool cancelAsked;
  } cases[] = {
      {"return, idle, free running", 13, false, false, 0, true, 1, false},
      {"enter, idle, triggered", 3, false, false, 1, true, 0, false},
      {"return during a grab", 13, true, false, 0, false, 0, true},
      {"return during a recording", 13, false, true, 0, false, 0, false},
      {"space during a grab", ' ', true, false, 0, false, 0, false},
      {"another key", 'g', false, false, 0, false, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    r->mGrabPending = r->mGrabsInFlight = c.grabPending ? 1 : 0;
    r->mGrabWanted = 0;
    r->mGrabCancel = 0;
    r->mGrabTimeoutOn = 7;
    r->mRecording = c.recording ? 1 : 0;
    r->mTriggerItem = c.trigger;
    EXPECT_EQ(Key(c.key), eventNotHandledErr);
    EXPECT_EQ(r->mGrabWanted, c.grabRequested ? 1 : 0);
    if (c.grabRequested) {
      EXPECT_EQ(r->mGrabTimeoutOn, c.timeoutOn);
    }
    EXPECT_EQ(r->mGrabCancel, c.cancelAsked ? 1 : 0);
    EXPECT_EQ(r->mMovie, nullptr);  // no recording started
  }
  r->mRecording = 0;
  r->mGrabPending = r->mGrabsInFlight = 0;
  r->mGrabWanted = 0;
}

TEST_F(PreviewWindowTest, SpaceStartsAndStopsARecording) {
  MyCameraWindowDataStruct* r = Running();
  EXPECT_EQ(Key(' '), eventNotHandledErr);
  ASSERT_NE(r->mMovie, nullptr);
  r->mRecording = 1;  // as the first recorded frame leaves it
  EXPECT_EQ(Key(' '), eventNotHandledErr);
  EXPECT_EQ(r->mRecording, 0);
  EXPECT_EQ(r->mMovie, nullptr);
}

TEST_F(PreviewWindowTest, SpotPickClampsIntoTheFrameAndRunsTheSpotBalance) {
  MyCameraWindowDataStruct* r = Running(SimWhiteBalanceColourPersonality());
  ASSERT_EQ(r->mWidth, 640u);
  ASSERT_EQ(r->mHeight, 480u);
  r->mZoomScale = 1.0f;
  r->mScrollOffset = Point{0, 0};
  r->mHScrollShown = r->mVScrollShown = 0;
  const struct {
    Point at;  // v, h
    UInt32 x, y;
  } cases[] = {{{100, 3}, 16, 100}, {{475, 630}, 624, 464}, {{5, 320}, 320, 16}, {{464, 624}, 624, 464}};
  ui::ScriptedUser user;
  StopPleezWaitRuns(user, int(std::size(cases)));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.at.h) + ", " + std::to_string(c.at.v));
    r->mSpotWhiteBalance = 1;
    myCheckUncheckControl(r->mControlWindow, FOUR_CHAR_CODE("SWHB"), 0, 0, 1);
    EXPECT_EQ(Click(c.at), noErr);
    EXPECT_EQ(r->mSpotBalanceX, c.x);
    EXPECT_EQ(r->mSpotBalanceY, c.y);
    EXPECT_EQ(r->mSpotWhiteBalance, 0);
    EXPECT_EQ(GetControl32BitValue(Control(FOUR_CHAR_CODE("SWHB"))), 0);
    EXPECT_TRUE(IsControlEnabled(Control(FOUR_CHAR_CODE("SWHB"))));
  }
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(pleezWaitModes_, std::vector<UInt32>(std::size(cases), 5));
}

TEST_F(PreviewWindowTest, SpotCoordinatesOfFramesNarrowerThanTheMargins) {
  const struct {
    UInt32 value, size, want;
  } cases[] = {{3, 640, 16}, {630, 640, 624}, {624, 640, 624}, {16, 32, 16}, {0, 20, 10}, {19, 20, 10}, {5, 0, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(myClampSpotCoordinate(c.value, c.size, kMySpotBalanceMargin), c.want) << c.value << " of " << c.size;
}

TEST_F(PreviewWindowTest, BrightnessPickTakesTheZoomedScrolledPoint) {
  MyCameraWindowDataStruct* r = Running();
  r->mZoomScale = 2.0f;
  r->mScrollOffset = Point{40, 100};  // v, h
  r->mPickBrightnessArea = 1;
  ui::ScriptedUser user;
  StopPleezWaitRuns(user, 1, "PleezWaitTwo");
  EXPECT_EQ(Click(Point{60, 50}), noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(r->mBrightnessAreaX, 75.0f);
  EXPECT_EQ(r->mBrightnessAreaY, 50.0f);
  EXPECT_EQ(r->mPickBrightnessArea, 0);
  EXPECT_EQ(pleezWaitModes_, std::vector<UInt32>{11});
}

TEST_F(PreviewWindowTest, ClicksLeftToTheStandardHandling) {
  MyCameraWindowDataStruct* r = Running();
  // Nothing armed.
  r->mSpotWhiteBalance = r->mPickBrightnessArea = 0;
  EXPECT_EQ(Click(Point{100, 100}), eventNotHandledErr);
  // On a shown scroll bar: the bar's click, with the cross cursor.
  r->mSpotWhiteBalance = 1;
  r->mHScrollShown = 1;
  r->mScrollBarThickness = 15;
  const Rect b = ContentBounds(r->mVideoWindow);
  const SInt16 height = SInt16(b.bottom - b.top);
  SetThemeCursor(kThemeArrowCursor);
  EXPECT_EQ(Click(Point{SInt16(height - 5), 100}), eventNotHandledErr);
  EXPECT_EQ(ui::CurrentCursor(), kThemeCrossCursor);
  EXPECT_EQ(r->mSpotWhiteBalance, 1);
  r->mVScrollShown = 1;
  EXPECT_EQ(Click(Point{100, SInt16(b.right - b.left - 1)}), eventNotHandledErr);
  EXPECT_EQ(r->mSpotWhiteBalance, 1);
  r->mSpotWhiteBalance = 0;
}

TEST_F(PreviewWindowTest, TheUsersClickReachesThePick) {
  MyCameraWindowDataStruct* r = Running(SimWhiteBalanceColourPersonality());
  r->mZoomScale = 1.0f;
  r->mScrollOffset = Point{0, 0};
  r->mSpotWhiteBalance = 1;
  ui::ScriptedUser user;
  StopPleezWaitRuns(user, 1);
  ASSERT_EQ(ui::UserMouseInWindow(r->mVideoWindow, kEventMouseDown, Point{200, 300}), noErr);
  EXPECT_EQ(r->mSpotBalanceX, 300u);
  EXPECT_EQ(r->mSpotBalanceY, 200u);
  EXPECT_EQ(pleezWaitModes_, std::vector<UInt32>{5});
}

TEST_F(PreviewWindowTest, ResizingStaysWithinTheZoomedImageAndTheScreen) {
  MyCameraWindowDataStruct* r = Running();
  r->mPreviewRect = Rect{0, 0, 480, 640};
  WindowRef w = r->mVideoWindow;
  Rect b = ContentBounds(w);
  ASSERT_EQ(ui::UserResizeWindow(w, Rect{b.top, b.left, SInt16(b.top + 600), SInt16(b.left + 800)}), noErr);
  b = ContentBounds(w);
  EXPECT_EQ(b.right - b.left, 640);
  EXPECT_EQ(b.bottom - b.top, 480);
  ASSERT_EQ(ui::UserResizeWindow(w, Rect{b.top, b.left, SInt16(b.top + 50), SInt16(b.left + 60)}), noErr);
  b = ContentBounds(w);
  EXPECT_EQ(b.right - b.left, 120);
  EXPECT_EQ(b.bottom - b.top, 120);

  // A proposal larger than the image, straight to the handler.
  Rect proposal{10, 20, 710, 920};
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowBoundsChanging, kWindowBoundsChangeZoom, &proposal),
            noErr);
  EXPECT_EQ(proposal.right, 20 + 640);
  EXPECT_EQ(proposal.bottom, 10 + 480);
  proposal = Rect{10, 20, 710, 920};
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowBoundsChanging, kWindowBoundsChangeUserDrag,
                        &proposal),
            eventNotHandledErr);
  EXPECT_EQ(proposal.right, 920);
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowBoundsChanging, kWindowBoundsChangeUserResize),
            eventParameterNotFoundErr);

  // The maximum: the image, within the screen's positioning area.
  Point dims{};
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowGetMaximumSize, 0, nullptr, &dims), noErr);
  EXPECT_EQ(dims.h, 640);
  EXPECT_EQ(dims.v, 480);
  ui::SetScreenBounds(Rect{0, 0, 400, 500}, Rect{22, 0, 400, 500});
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowGetMaximumSize, 0, nullptr, &dims), noErr);
  EXPECT_EQ(dims.h, 500);
  EXPECT_EQ(dims.v, 400);
  ui::SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});
  EXPECT_EQ(WindowEvent(myPreviewWindowEventHandler, kEventWindowGetMinimumSize, 0, nullptr, &dims), noErr);
  EXPECT_EQ(dims.h, 120);
  EXPECT_EQ(dims.v, 120);
}

TEST_F(PreviewWindowTest, CloseBoxStopsTheCameraAndKeepsTheWindow) {
  MyCameraWindowDataStruct* r = Running();
  r->mRunning = 1;
  EXPECT_EQ(ui::UserCloseWindow(r->mVideoWindow), noErr);
  EXPECT_EQ(r->mRunning, 0);
  EXPECT_EQ(ui::FindWindow("VideoWindow"), r->mVideoWindow);
  EXPECT_EQ(record_, r);
}

TEST_F(PreviewWindowTest, UpdateDrawsTheLongExposureFrameOnlyWhileRunning) {
  MyCameraWindowDataStruct* r = Running();
  void* frame = calloc(size_t(r->mWidth) * r->mHeight * 4, 1);
  r->mLongExposureFrame = nullptr;
  EXPECT_EQ(ui::SendWindowUpdate(r->mVideoWindow), eventNotHandledErr);
  EXPECT_EQ(ui::SendWindowDrawContent(r->mVideoWindow), eventNotHandledErr);
  r->mLongExposureFrame = frame;
  EXPECT_EQ(ui::SendWindowUpdate(r->mVideoWindow), noErr);
  EXPECT_EQ(ui::WindowUpdateDepth(r->mVideoWindow), 0);
  EXPECT_EQ(ui::SendWindowDrawContent(r->mVideoWindow), noErr);
  r->mRunning = 0;
  EXPECT_EQ(ui::SendWindowUpdate(r->mVideoWindow), eventNotHandledErr);
  r->mRunning = 1;
  // The record frees its long-exposure frame when the camera closes.
}

TEST_F(PreviewWindowTest, ScrollPartsMoveWithinTheBarAndSetTheOffset) {
  MyCameraWindowDataStruct* r = Running();
  WindowRef w = r->mVideoWindow;
  SizeWindow(w, 200, 150, false);
  ControlRef h = r->mHScrollBar, v = r->mVScrollBar;
  ASSERT_NE(h, nullptr);
  ASSERT_NE(v, nullptr);
  ShowControl(h);
  ShowControl(v);
  SetControl32BitMinimum(h, 10);
  SetControl32BitMaximum(h, 700);
  SetControl32BitMinimum(v, 0);
  SetControl32BitMaximum(v, 330);
  const struct {
    bool horizontal;
    SInt32 start;
    ControlPartCode part;
    SInt32 value;
  } cases[] = {
      {true, 300, kControlUpButtonPart, 295},   {true, 300, kControlDownButtonPart, 305},
      {true, 300, kControlPageUpPart, 100},     {true, 300, kControlPageDownPart, 500},
      {true, 12, kControlUpButtonPart, 10},     {true, 698, kControlDownButtonPart, 700},
      {true, 150, kControlPageUpPart, 10},      {true, 650, kControlPageDownPart, 700},
      {false, 100, kControlPageDownPart, 250},  {false, 200, kControlPageDownPart, 330},
      {false, 100, kControlPageUpPart, 0},      {false, 3, kControlUpButtonPart, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.horizontal) + " " + std::to_string(c.start) + " part " + std::to_string(c.part));
    ControlRef bar = c.horizontal ? h : v;
    SetControl32BitValue(bar, c.start);
    r->mScrollOffset = Point{7, 7};
    ASSERT_EQ(ui::UserClickScrollBarPart(bar, c.part), noErr);
    EXPECT_EQ(GetControl32BitValue(bar), c.value);
    const SInt16 offset = SInt16(c.value - GetControl32BitMinimum(bar));
    EXPECT_EQ(c.horizontal ? r->mScrollOffset.h : r->mScrollOffset.v, offset);
    EXPECT_EQ(c.horizontal ? r->mScrollOffset.v : r->mScrollOffset.h, 7);  // the other stays
  }
  // The thumb: the value the drag left.
  ASSERT_EQ(ui::UserDragScrollThumb(h, 420), noErr);
  EXPECT_EQ(GetControl32BitValue(h), 420);
  EXPECT_EQ(r->mScrollOffset.h, 410);
  // Part 0 does nothing.
  const long invalidations = ui::WindowInvalidationCount(w);
  livePreviewWindowScrollImageUPPProc(h, kControlNoPart);
  EXPECT_EQ(ui::WindowInvalidationCount(w), invalidations);
}

TEST_F(PreviewWindowTest, ScrollRedrawWaitsForAConversionInProgress) {
  MyCameraWindowDataStruct* r = Running();
  ControlRef h = r->mHScrollBar;
  ShowControl(h);
  SetControl32BitMinimum(h, 0);
  SetControl32BitMaximum(h, 100);
  SetControl32BitValue(h, 50);
  FillPreview(255, 0, 0);
  ASSERT_EQ(ui::UserClickScrollBarPart(h, kControlUpButtonPart), noErr);
  const UInt32 red = PortPixel();
  FillPreview(0, 0, 255);
  r->mPreviewConverting = 1;
  const long invalidations = ui::WindowInvalidationCount(r->mVideoWindow);
  ASSERT_EQ(ui::UserClickScrollBarPart(h, kControlUpButtonPart), noErr);
  EXPECT_EQ(PortPixel(), red);
  EXPECT_EQ(ui::WindowInvalidationCount(r->mVideoWindow), invalidations + 1);
  EXPECT_EQ(r->mDisplayBusy, 0);
  r->mPreviewConverting = 0;
  ASSERT_EQ(ui::UserClickScrollBarPart(h, kControlUpButtonPart), noErr);
  EXPECT_NE(PortPixel(), red);
  EXPECT_EQ(r->mDisplayBusy, 0);
  EXPECT_EQ(ui::WindowUpdateDepth(r->mVideoWindow), 0);
}

// The redraw holds the display's busy counter while it draws, so frames
// converted meanwhile back off instead of writing the buffer being drawn
// (a race the thread sanitizer reports otherwise).
TEST_F(PreviewWindowTest, ScrollingWhileFramesArriveLeavesThePreviewToOneSideAtATime) {
  MyCameraWindowDataStruct* r = OpenWindows();
  ControlRef h = r->mHScrollBar;
  ShowControl(h);
  SetControl32BitMaximum(h, 100);
  SetControl32BitValue(h, 50);
  ASSERT_EQ(StartVideo(-1, true), noErr);
  for (int i = 0; i < 200; i++)
    ASSERT_EQ(ui::UserClickScrollBarPart(h, i % 2 ? kControlUpButtonPart : kControlDownButtonPart), noErr);
  StopVideo();
  EXPECT_EQ(r->mDisplayBusy, 0);
  EXPECT_EQ(r->mPreviewConverting, 0);
}

}  // namespace
