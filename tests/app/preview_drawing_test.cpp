// The preview window's redraw, checked on the recorded drawing calls and on
// the pixels of the window, its scroll bars, zoom factors, texts, tracking
// path and the automatic-exposure step.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ExposureControls.h"
#include "app/PreviewDrawing.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/simcamera/SimScene.h"
#include "tests/support/CameraHarness.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"
#include "utilities/Controls.h"

namespace {

using Bytes = std::array<UInt8, 4>;

std::vector<const SkyloomCGCall*> named(const std::vector<SkyloomCGCall>& calls, const std::string& name) {
  std::vector<const SkyloomCGCall*> found;
  for (const SkyloomCGCall& c : calls)
    if (c.name == name) found.push_back(&c);
  return found;
}

std::vector<std::string> texts(const std::vector<SkyloomCGCall>& calls) {
  std::vector<std::string> t;
  for (const SkyloomCGCall* c : named(calls, "ATSUDrawText")) t.push_back(c->text);
  return t;
}

// ---------------------------------------------------------------- saturation

// A 4 x 3 frame whose visible region is the 3 x 2 pixels at the top left.
struct SaturationFixture {
  std::array<Bytes, 12> px{};
  void Fill(const Bytes& b) { px.fill(b); }
  Bytes At(int x, int y) const { return px[size_t(y) * 4 + size_t(x)]; }
  void Mark(UInt32 cutoff) { myMarkSaturatedPixels(px[0].data(), 3, 2, 16, cutoff); }
};

constexpr Bytes kRed{0xFF, 0xFF, 0x00, 0x00};

TEST(PreviewSaturation, CutOffsMarkTheVisibleRegionOnly) {
  const Bytes dark{0x00, 0x10, 0x20, 0x30};
  for (UInt32 cutoff : {0u, 1u}) {
    SaturationFixture f;
    f.Fill(dark);
    f.Mark(cutoff);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(f.At(x, y), (x < 3 && y < 2) ? kRed : dark) << cutoff << " " << x << y;
  }
  // 256: only a channel at 255; 257 and beyond: nothing.
  SaturationFixture f;
  f.Fill({0xFF, 254, 254, 254});
  f.px[1] = {0x00, 254, 255, 0};
  f.px[4 + 2] = {0x00, 0, 0, 255};
  f.px[3] = {0x00, 255, 255, 255};  // outside the region
  f.px[8] = {0x00, 255, 0, 0};      // the row below the region
  auto before = f.px;
  f.Mark(257);
  EXPECT_EQ(f.px, before);
  f.Mark(0xFFFFFFFFu);
  EXPECT_EQ(f.px, before);
  f.Mark(256);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(f.px[i], (i == 1 || i == 6) ? kRed : before[i]) << i;
}

TEST(PreviewSaturation, AnyColourChannelCountsAndAlphaNever) {
  SaturationFixture f;
  f.Fill({0x00, 0, 0, 0});
  f.px[0] = {0x00, 0, 0, 200};    // blue alone at the threshold (cut-off 201)
  f.px[1] = {0xFF, 199, 199, 199};  // alpha at full, colours just below
  f.px[2] = {0x00, 0, 200, 0};
  f.px[4] = {0x00, 200, 0, 0};
  f.Mark(201);
  EXPECT_EQ(f.At(0, 0), kRed);
  EXPECT_EQ(f.At(1, 0), (Bytes{0xFF, 199, 199, 199}));
  EXPECT_EQ(f.At(2, 0), kRed);
  EXPECT_EQ(f.At(0, 1), kRed);
  EXPECT_EQ(f.At(1, 1), (Bytes{0x00, 0, 0, 0}));
}

// ---------------------------------------------------------------- window fixture

class PreviewWindow : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    window = MakeWindow("ORX_DCAM", "VideoWindow");
    ASSERT_NE(window, nullptr);
    r = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
    r->mKind = kMyCameraWindowDataKind;
    r->mVideoWindow = window;
    r->mBitsPerPixel = 8;
    r->mZoomScale = 1.0f;
    r->mSaturationCutoff = 255;
    SetWRefCon(window, SRefCon(r));
    ASSERT_EQ(myCreatePreviewTextStyles(r), noErr);
    ControlID h = {FOUR_CHAR_CODE("CPHZ"), 0}, v = {FOUR_CHAR_CODE("CPVT"), 0};
    ASSERT_EQ(GetControlByID(window, &h, &r->mHScrollBar), noErr);
    ASSERT_EQ(GetControlByID(window, &v, &r->mVScrollBar), noErr);
    Rect b;
    GetControlBounds(r->mHScrollBar, &b);
    r->mScrollBarThickness = SInt16(b.bottom - b.top);
    contextsBefore = SkyloomCGLiveContextCount();
    imagesBefore = SkyloomCGImageLiveObjectCount();
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    EXPECT_EQ(SkyloomCGLiveContextCount(), contextsBefore);
    EXPECT_EQ(SkyloomCGImageLiveObjectCount(), imagesBefore);
    myDisposePreviewTextStyles(r);
    free(r->mTrackSamples);
    free(r);
    UiTest::TearDown();
  }

  // A frame of w x h dark grey ARGB32 pixels and a window showing it at zoom z.
  void Frame(UInt32 w, UInt32 h, float z = 1.0f, SInt16 windowW = 0, SInt16 windowH = 0) {
    r->mWidth = w;
    r->mHeight = h;
    r->mZoomScale = z;
    r->mPreviewRect = Rect{0, 0, SInt16(h * z), SInt16(w * z)};
    frame.assign(size_t(w) * h, Bytes{0xFF, 0x10, 0x10, 0x10});
    SizeWindow(window, windowW ? windowW : SInt16(w * z), windowH ? windowH : SInt16(h * z), false);
  }

  std::vector<SkyloomCGCall> Draw() {
    SkyloomCGSetRecording(true);
    myDrawVideoPreview(r, frame.data());
    std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
    SkyloomCGSetRecording(false);
    return calls;
  }

  WindowRef window = nullptr;
  MyCameraWindowDataStruct* r = nullptr;
  std::vector<Bytes> frame;
  long contextsBefore = 0, imagesBefore = 0;
};

// ---------------------------------------------------------------- zoom and scroll bars

TEST_F(PreviewWindow, ZoomItemsAndFitToScreen) {
  const float expected[] = {0.25f, 0.5f, 0.75f, 1.0f, 2.0f, 4.0f, 8.0f};
  for (SInt16 item = 3; item <= 9; ++item) EXPECT_EQ(myZoomMenuToScaleValue(r, item), expected[item - 3]) << item;
  // The model's default screen: 1920 x 1200, 22-point menu bar, available height 1178.
  r->mWidth = 1280;
  r->mHeight = 960;
  EXPECT_EQ(myZoomMenuToScaleValue(r, 10), 1146.0f / 960.0f);
  EXPECT_NEAR(myZoomMenuToScaleValue(r, 10), 1.19375, 1e-6);
  // A narrow frame is fitted by its width.
  r->mWidth = 3840;
  r->mHeight = 100;
  EXPECT_EQ(myZoomMenuToScaleValue(r, 10), 0.5f);
  skyloom::ui::InjectFailure("GetAvailableWindowPositioningBounds", paramErr);
  EXPECT_EQ(myZoomMenuToScaleValue(r, 10), 1.0f);
}

TEST_F(PreviewWindow, ScrollBarsFollowTheWindowAndTheZoomedFrame) {
  // A 640 x 480 window over a 1280 x 960 zoomed frame: both bars, centred.
  Frame(1280, 960, 1.0f, 640, 480);
  const long invalidations = skyloom::ui::WindowInvalidationCount(window);
  ASSERT_EQ(myReSizePreviewWindowControls(window), noErr);
  EXPECT_EQ(skyloom::ui::WindowInvalidationCount(window), invalidations + 1);
  EXPECT_EQ(GetControl32BitMaximum(r->mHScrollBar), 640);
  EXPECT_EQ(GetControl32BitMinimum(r->mHScrollBar), 0);
  EXPECT_EQ(GetControlViewSize(r->mHScrollBar), 640);
  EXPECT_EQ(r->mScrollOffset.h, 320);
  EXPECT_EQ(GetControl32BitValue(r->mHScrollBar), 320);
  EXPECT_EQ(GetControl32BitMaximum(r->mVScrollBar), 480);
  EXPECT_EQ(r->mScrollOffset.v, 240);
  EXPECT_TRUE(IsControlVisible(r->mHScrollBar));
  EXPECT_TRUE(IsControlVisible(r->mVScrollBar));
  EXPECT_EQ(r->mHScrollShown, 1);
  EXPECT_EQ(r->mVScrollShown, 1);
  EXPECT_EQ(r->mDrawStateReset, 1);
  const SInt16 t = r->mScrollBarThickness;
  EXPECT_EQ(t, 15);
  Rect hb, vb;
  GetControlBounds(r->mHScrollBar, &hb);
  GetControlBounds(r->mVScrollBar, &vb);
  EXPECT_EQ(hb.left, 0);
  EXPECT_EQ(hb.top, 480 - t);
  EXPECT_EQ(hb.right - hb.left, 640 - t + 1);
  EXPECT_EQ(hb.bottom - hb.top, t);
  EXPECT_EQ(vb.left, 640 - t);
  EXPECT_EQ(vb.top, 0);
  EXPECT_EQ(vb.right - vb.left, t);
  EXPECT_EQ(vb.bottom - vb.top, 480 - t + 1);

  // An offset beyond the zoomed frame is pulled back; a set offset stays.
  r->mScrollOffset = Point{100, 1000};
  ASSERT_EQ(myReSizePreviewWindowControls(window), noErr);
  EXPECT_EQ(r->mScrollOffset.h, 640);
  EXPECT_EQ(r->mScrollOffset.v, 100);

  // A window exactly as wide as the zoomed frame hides the horizontal bar.
  SizeWindow(window, 1280, 480, false);
  ASSERT_EQ(myReSizePreviewWindowControls(window), noErr);
  EXPECT_FALSE(IsControlVisible(r->mHScrollBar));
  EXPECT_EQ(r->mHScrollShown, 0);
  EXPECT_EQ(r->mScrollOffset.h, 0);
  EXPECT_EQ(r->mVScrollShown, 1);
}

TEST_F(PreviewWindow, AWindowLargerThanTheZoomedFrameNeverScrollsBeforeIt) {
  // After a zoom out the window can briefly be larger than the image: the
  // offsets stay at 0 rather than going negative.
  Frame(320, 240, 1.0f, 640, 480);
  ASSERT_EQ(myReSizePreviewWindowControls(window), noErr);
  EXPECT_EQ(r->mScrollOffset.h, 0);
  EXPECT_EQ(r->mScrollOffset.v, 0);
  EXPECT_EQ(r->mHScrollShown, 0);
  EXPECT_EQ(r->mVScrollShown, 0);
  // The redraw keeps the region inside the frame.
  const auto calls = Draw();
  const auto images = named(calls, "CGContextDrawImage");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0]->args[4], 320.0);
  EXPECT_EQ(images[0]->args[5], 240.0);
}

TEST_F(PreviewWindow, ResizingAWindowWithoutACameraRecord) {
  EXPECT_EQ(myReSizePreviewWindowControls(nullptr), paramErr);
  SetWRefCon(window, 0);
  EXPECT_EQ(myReSizePreviewWindowControls(window), paramErr);
  r->mKind = 2;
  SetWRefCon(window, SRefCon(r));
  EXPECT_EQ(myReSizePreviewWindowControls(window), paramErr);
  EXPECT_EQ(r->mDrawStateReset, 0);
  r->mKind = kMyCameraWindowDataKind;
}

// ---------------------------------------------------------------- the picture

TEST_F(PreviewWindow, TheVisibleRegionIsDrawnInPlaceAndClippedAwayFromTheBars) {
  Frame(1280, 960, 2.0f, 640, 480);
  r->mScrollOffset = Point{100, 200};  // v, h: first row 50, first column 100
  r->mHScrollShown = 1;
  r->mVScrollShown = 1;
  r->mDrawStateReset = 1;
  const auto calls = Draw();
  const auto images = named(calls, "CGContextDrawImage");
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(images[0]->args, (std::vector<double>{0, 0, 640, 480, 320, 240}));
  const auto clips = named(calls, "CGContextClipToRect");
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0]->args, (std::vector<double>{0, 15, 625, 465}));
  EXPECT_EQ(r->mDrawStateReset, 0);
  // The reset state: fill-and-stroke text, square caps, miter joins, no dash.
  ASSERT_EQ(named(calls, "CGContextSetTextDrawingMode").size(), 1u);
  EXPECT_EQ(named(calls, "CGContextSetTextDrawingMode")[0]->args[0], double(kCGTextFillStroke));
  EXPECT_EQ(named(calls, "CGContextSetLineCap")[0]->args[0], double(kCGLineCapSquare));
  EXPECT_EQ(named(calls, "CGContextSynchronize").size(), 1u);
  EXPECT_EQ(named(calls, "CGContextSaveGState").size(), named(calls, "CGContextRestoreGState").size());
  // A second redraw leaves the state alone.
  EXPECT_TRUE(named(Draw(), "CGContextSetTextDrawingMode").empty());
}

TEST_F(PreviewWindow, ANullFrameOrNoContextDrawsNothingButTheStepsAfter) {
  Frame(64, 48);
  r->mAutoExposureOn = 1;
  r->mAutoShutterAvailable = 1;
  r->mAutoExposurePending = 1;
  r->mAutoExposureFrameCount = 7;
  r->mAutoExposureTarget = 50;
  r->mAutoExposureMeasured = 25;
  r->mAbsShutterMin = 1;
  r->mAbsShutterMax = 1;  // one value only: nothing to move
  r->mAbsShutterValue = 1;
  SkyloomCGSetRecording(true);
  myDrawVideoPreview(r, nullptr);
  EXPECT_TRUE(SkyloomCGRecordedCalls().empty());
  SkyloomCGSetRecording(false);
  EXPECT_EQ(r->mAutoExposurePending, 0);
  EXPECT_EQ(r->mShutterValue, 0u);

  SkyloomFailCGContextCreation(1);
  r->mShowSaturated = 1;
  r->mSaturationCutoff = 0;
  const auto calls = Draw();
  EXPECT_TRUE(named(calls, "CGContextDrawImage").empty());
  EXPECT_EQ(frame[0], (Bytes{0xFF, 0x10, 0x10, 0x10}));  // no marks without a context
}

TEST_F(PreviewWindow, SoftRegionAndBrightnessAreaRectangles) {
  Frame(640, 480, 2.0f, 640, 480);
  r->mScrollOffset = Point{40, 100};
  r->mSoftROIEnabled = 1;
  r->mSoftROIActive = 1;
  r->mSoftROILeft = 100;
  r->mSoftROITop = 50;
  r->mSoftROIWidth = 60;
  r->mSoftROIHeight = 30;
  r->mBrightnessMonitorOn = 1;
  r->mTrackingArea[0] = 10;
  r->mTrackingArea[1] = 20;
  r->mTrackingArea[2] = 30;
  r->mTrackingArea[3] = 40;
  const auto calls = Draw();
  const auto rects = named(calls, "CGContextStrokeRect");
  ASSERT_EQ(rects.size(), 2u);
  // Hd = 240 x 2 = 480. Region: (100 x 2 - 100, 480 - 80 x 2 + 40), 120 x 60.
  EXPECT_EQ(rects[0]->args, (std::vector<double>{100, 360, 120, 60}));
  // Area: (10 x 2 - 100, 480 - 60 x 2 + 40), 60 x 80.
  EXPECT_EQ(rects[1]->args, (std::vector<double>{-80, 400, 60, 80}));
  const auto widths = named(calls, "CGContextSetLineWidth");
  bool sawFour = false, sawThree = false;
  for (auto* w : widths) sawFour |= w->args[0] == 4.0, sawThree |= w->args[0] == 3.0;
  EXPECT_TRUE(sawFour && sawThree);
}

std::vector<double> arcRadii(const std::vector<SkyloomCGCall>& calls) {
  std::vector<double> radii;
  for (auto* a : named(calls, "CGContextAddArc")) radii.push_back(a->args[2]);
  return radii;
}

TEST_F(PreviewWindow, ReticleCirclesDashAndTicks) {
  r->mShowReticle = 1;
  Frame(80, 80);
  EXPECT_EQ(arcRadii(Draw()), (std::vector<double>{20}));

  Frame(1280, 960, 1.0f, 640, 480);
  r->mScrollOffset = Point{0, 0};
  const auto calls = Draw();
  EXPECT_EQ(arcRadii(calls), (std::vector<double>{20, 40, 80, 160, 320}));
  const auto arcs = named(calls, "CGContextAddArc");
  // Centre: Cx = 640, Cy = (Yb + Hd) / 2 with Hd = 480, Yb = 480 - 960.
  EXPECT_EQ(arcs[0]->args[0], 640.0);
  EXPECT_EQ(arcs[0]->args[1], 0.0);
  const auto dashes = named(calls, "CGContextSetLineDash");
  ASSERT_EQ(dashes.size(), 2u);
  EXPECT_EQ(dashes[0]->args, (std::vector<double>{0, 9, 6}));
  EXPECT_EQ(dashes[1]->args, (std::vector<double>{0}));
  // Eight tick segments between the solid dash and the next stroke.
  size_t i = size_t(dashes[1] - calls.data());
  int moves = 0, lines = 0;
  std::vector<double> firstTick;
  for (; i < calls.size() && calls[i].name != "CGContextStrokePath"; ++i) {
    if (calls[i].name == "CGContextMoveToPoint") {
      if (moves == 0) firstTick = calls[i].args;
      ++moves;
    }
    lines += calls[i].name == "CGContextAddLineToPoint";
  }
  EXPECT_EQ(moves, 8);
  EXPECT_EQ(lines, 8);
  EXPECT_EQ(firstTick, (std::vector<double>{0, -5}));
}

TEST_F(PreviewWindow, GuidingMarksAndTheRALineByOrientation) {
  Frame(640, 480);
  r->mScopeControlActive = 1;
  r->mGuidingActive = 1;
  r->mGuidingOn = 1;
  r->mStartX = 100;
  r->mStartY = 80;
  r->mTrackBoxWidth = 20;
  r->mTrackBoxHeight = 10;
  r->mCurrentX = 200;
  r->mCurrentY = 180;  // view point (200, 300)
  r->MSlopeFloat = 0.5f;
  struct Case {
    UInt32 orientation;
    std::vector<double> points;  // move, line, move, line
  } cases[] = {
      {1, {194, 300, 136, 300, 206, 300, 264, 300}},
      {0, {194, 297, 136, 268, 206, 303, 264, 332}},
      {2, {200, 294, 200, 236, 200, 306, 200, 364}},
  };
  const std::vector<double> kYellow{1, 1, 0, 0.7};
  for (const Case& c : cases) {
    r->Orientation = c.orientation;
    const auto calls = Draw();
    // The red start cross and box.
    const auto rects = named(calls, "CGContextStrokeRect");
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0]->args, (std::vector<double>{90, 395, 20, 10}));
    // The four points before the yellow stroke colour.
    size_t yellow = 0;
    for (size_t i = 0; i < calls.size(); ++i)
      if (calls[i].name == "CGContextSetRGBStrokeColor" && calls[i].args == kYellow) yellow = i;
    ASSERT_GE(yellow, 4u) << c.orientation;
    std::vector<double> points;
    for (size_t i = yellow - 4; i < yellow; ++i) points.insert(points.end(), calls[i].args.begin(), calls[i].args.end());
    EXPECT_EQ(points, c.points) << c.orientation;
    EXPECT_EQ(calls[yellow + 1].name, "CGContextStrokePath");
  }
  // Before calibration is complete there is no RA line.
  r->mGuidingOn = 0;
  const auto calls = Draw();
  const std::vector<double> yellow{1, 1, 0, 0.7};
  for (const SkyloomCGCall& c : calls) EXPECT_FALSE(c.name == "CGContextSetRGBStrokeColor" && c.args == yellow);
}

// ---------------------------------------------------------------- FWHM / HFD

TEST_F(PreviewWindow, StarMeasureTextsAndCircles) {
  Frame(640, 480);
  r->mFWHMOn = 1;
  r->mFWHMFound = -1;
  r->mStartX = 100;
  r->mStartY = 100;
  auto calls = Draw();
  EXPECT_EQ(texts(calls), (std::vector<std::string>{"Lost Track of  Star, trying to re-acquire.."}));
  EXPECT_TRUE(named(calls, "CGContextAddArc").empty());
  ASSERT_EQ(named(calls, "ATSUDrawText").size(), 1u);
  EXPECT_EQ(named(calls, "ATSUDrawText")[0]->args[0], 12.0);
  EXPECT_EQ(named(calls, "ATSUDrawText")[0]->args[1], 440.0);

  r->mFWHMFound = 3.0f;
  r->mFWHM = 2.5f;
  r->mPrevFWHM = 3.0f;
  r->mHFD = 4.0f;
  r->mPrevHFD = 0.0f;  // no earlier HFD: one yellow circle
  r->mStarPeak = 200.0f;
  r->mPrevStarPeak = 190.5f;
  struct Case {
    UInt32 bits;
    const char* max;
  } cases[] = {{8, "Max: 200.0 10"}, {12, "Max: 51400.0 2442"}, {16, "Max: 51400.0 2442"}};
  for (const Case& c : cases) {
    r->mBitsPerPixel = c.bits;
    calls = Draw();
    EXPECT_EQ(texts(calls), (std::vector<std::string>{"FWHM:  2.50    0.5", "HFD:  4.00   -4.0", c.max})) << c.bits;
    EXPECT_EQ(arcRadii(calls), (std::vector<double>{30, 25, 40})) << c.bits;
    const auto drawn = named(calls, "ATSUDrawText");
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[1]->args[1], 480.0 - 85.0);
    EXPECT_EQ(drawn[2]->args[1], 480.0 - 130.0);
    // Red, yellow and green 40-point bold styles.
    EXPECT_EQ(std::vector<double>(drawn[0]->args.begin() + 2, drawn[0]->args.end()),
              (std::vector<double>{40, 1, 1, 0, 0}));
    EXPECT_EQ(std::vector<double>(drawn[1]->args.begin() + 4, drawn[1]->args.end()), (std::vector<double>{1, 1, 0}));
    EXPECT_EQ(std::vector<double>(drawn[2]->args.begin() + 4, drawn[2]->args.end()), (std::vector<double>{0, 1, 0}));
  }
  // The circles are centred on the star's view point, not zoomed.
  const auto arcs = named(calls, "CGContextAddArc");
  EXPECT_EQ(arcs[0]->args[0], 100.0);
  EXPECT_EQ(arcs[0]->args[1], 380.0);
}

// ---------------------------------------------------------------- status lines

TEST_F(PreviewWindow, RecordingAndSharpnessLines) {
  Frame(640, 480);
  r->mRecording = 1;
  r->mRecordFrameLimit = 100;
  r->mRecordFrameCounter = 101;
  auto calls = Draw();
  ASSERT_EQ(texts(calls), (std::vector<std::string>{"Rec: #101 Left"}));
  auto drawn = named(calls, "ATSUDrawText");
  EXPECT_EQ(drawn[0]->args[0], 12.0);
  EXPECT_EQ(drawn[0]->args[1], 40.0);
  EXPECT_EQ(drawn[0]->args[2], 18.0);  // the grey status style
  EXPECT_NEAR(drawn[0]->args[4], 49151.0 / 65535.0, 1e-9);
  r->mRecordFrameLimit = 0;
  r->mRecordFrameCounter = 7;
  EXPECT_EQ(texts(Draw()), (std::vector<std::string>{"Rec: #7"}));

  r->mRecording = 0;
  r->mShowSharpness = 1;
  r->mRejectBySharpness = 1;
  r->mSharpnessReference = 1000.0;
  r->mSharpnessTolerance = 50.0;
  r->mSharpnessAverage = 1234.9;
  struct Case {
    double sharpness;
    const char* text;
  } cases[] = {
      {1050.0, "S:1050 1234 REJECTED"},  // exactly the tolerance away
      {950.0, "S:950 1234 REJECTED"},
      {1049.75, "S:1049 1234"},
      {1000.0, "S:1000 1234"},
  };
  for (const Case& c : cases) {
    r->mSharpness = c.sharpness;
    calls = Draw();
    EXPECT_EQ(texts(calls), (std::vector<std::string>{c.text})) << c.sharpness;
  }
  drawn = named(calls, "ATSUDrawText");
  EXPECT_EQ(drawn[0]->args[1], 480.0 - 40.0);
  r->mRejectBySharpness = 0;
  r->mSharpness = 5000.0;
  EXPECT_EQ(texts(Draw()), (std::vector<std::string>{"S:5000 1234"}));
}

// ---------------------------------------------------------------- tracking path

class PreviewTrackingPath : public PreviewWindow {
 protected:
  void Samples(UInt32 n) {
    free(r->mTrackSamples);
    r->mTrackSamples = static_cast<float*>(calloc(size_t(n) * 3 + 3, sizeof(float)));
    for (UInt32 i = 0; i < n; ++i) {
      r->mTrackSamples[3 * i] = 10.0f + float(i);
      r->mTrackSamples[3 * i + 1] = 20.0f + 2.0f * float(i);
      r->mTrackSamples[3 * i + 2] = float(i);
    }
    r->mTrackSampleCount = n;
    r->mTrackingArea[0] = 10;
    r->mTrackingArea[1] = 20;
    r->mTrackingArea[2] = 10.0f + float(n ? n - 1 : 0);
    r->mTrackingArea[3] = 20.0f + 2.0f * float(n ? n - 1 : 0);
  }
  // The stroke colours of the path segments (line width 2).
  static std::vector<std::vector<double>> SegmentColours(const std::vector<SkyloomCGCall>& calls) {
    std::vector<std::vector<double>> colours;
    bool inPath = false;
    std::vector<double> colour;
    for (const SkyloomCGCall& c : calls) {
      if (c.name == "CGContextSetLineWidth") inPath = c.args[0] == 2.0;
      if (inPath && c.name == "CGContextSetRGBStrokeColor") colour = c.args;
      if (inPath && c.name == "CGContextStrokePath") colours.push_back(colour);
    }
    return colours;
  }
  static int Crosses(const std::vector<SkyloomCGCall>& calls) {
    return int(named(calls, "CGContextMoveToPoint").size());
  }
};

TEST_F(PreviewTrackingPath, TwoThreeAndManySamples) {
  Frame(640, 480);
  r->mTrackingAnalysisOn = 1;
  Samples(2);
  auto calls = Draw();
  EXPECT_TRUE(SegmentColours(calls).empty());
  EXPECT_EQ(Crosses(calls), 8);  // two crosses of four strokes
  // The first cross at the first point's view point (10, 460).
  EXPECT_EQ(named(calls, "CGContextMoveToPoint")[0]->args, (std::vector<double>{-6, 460}));

  Samples(3);
  calls = Draw();
  EXPECT_EQ(SegmentColours(calls), (std::vector<std::vector<double>>{{0, 1, 0, 1}}));
  const auto moves = named(calls, "CGContextMoveToPoint");
  const auto lines = named(calls, "CGContextAddLineToPoint");
  ASSERT_EQ(moves.size(), 9u);
  EXPECT_EQ(moves[4]->args, (std::vector<double>{10, 460}));  // first point to sample 1
  EXPECT_EQ(lines[4]->args, (std::vector<double>{11, 458}));

  Samples(6);
  const auto colours = SegmentColours(Draw());
  ASSERT_EQ(colours.size(), 4u);
  for (size_t k = 0; k < 4; ++k)
    EXPECT_EQ(colours[k], (std::vector<double>{k / 5.0, 1.0 - k / 5.0, 0, 1})) << k;
}

TEST_F(PreviewTrackingPath, ALongPathIsStrokedByDisplayedColour) {
  Frame(640, 480);
  r->mTrackingAnalysisOn = 1;
  Samples(1000);
  const auto calls = Draw();
  // Every one of the 998 segments is on the path, in strokes whose colours
  // differ on the 8-bit display, from green to red.
  const auto colours = SegmentColours(calls);
  ASSERT_GE(colours.size(), 200u);
  ASSERT_LE(colours.size(), 256u);
  EXPECT_EQ(colours.front(), (std::vector<double>{0, 1, 0, 1}));
  long previous = -1;
  for (const auto& c : colours) {
    const long red = std::lround(c[0] * 255.0);
    EXPECT_GT(red, previous);
    EXPECT_DOUBLE_EQ(c[0] + c[1], 1.0);
    previous = red;
  }
  EXPECT_GE(previous, 254);
  int lines = 0;
  bool inPath = false;
  for (const SkyloomCGCall& c : calls) {
    if (c.name == "CGContextSetLineWidth") inPath = c.args[0] == 2.0;
    lines += inPath && c.name == "CGContextAddLineToPoint";
  }
  EXPECT_EQ(lines, 998);
}

TEST_F(PreviewTrackingPath, AVeryLongPathIsDrawnThroughEveryStridethSample) {
  Frame(640, 480);
  r->mTrackingAnalysisOn = 1;
  Samples(10000);  // 9,998 segments: every third sample, ending at sample 9,998
  const auto calls = Draw();
  std::vector<const SkyloomCGCall*> lines;
  bool inPath = false;
  for (const SkyloomCGCall& c : calls) {
    if (c.name == "CGContextSetLineWidth") inPath = c.args[0] == 2.0;
    if (inPath && c.name == "CGContextAddLineToPoint") lines.push_back(&c);
  }
  ASSERT_EQ(lines.size(), 3333u);
  EXPECT_EQ(lines[0]->args, (std::vector<double>{13, 480 - 26}));
  EXPECT_EQ(lines.back()->args, (std::vector<double>{10 + 9998, 480 - (20 + 2 * 9998)}));
  EXPECT_EQ(SegmentColours(calls).front(), (std::vector<double>{0, 1, 0, 1}));
}

TEST_F(PreviewTrackingPath, ALostObjectShowsOnlyTheMessage) {
  Frame(640, 480);
  r->mTrackingAnalysisOn = 1;
  Samples(0);
  const auto calls = Draw();
  EXPECT_EQ(texts(calls), (std::vector<std::string>{"Lost Track of  Star, trying to re-acquire.."}));
  EXPECT_TRUE(named(calls, "CGContextMoveToPoint").empty());
  r->mTrackingAnalysisOn = 0;
  EXPECT_TRUE(texts(Draw()).empty());
}

// ---------------------------------------------------------------- text styles

TEST_F(PreviewWindow, TextStylesAndTheirFailures) {
  SkyloomCGSetRecording(true);
  CGrafPtr port = GetWindowPort(window);
  CGContextRef c = nullptr;
  ASSERT_EQ(CreateCGContextForPort(port, &c), noErr);
  myDrawATSUIText(c, r->mRedTextStyle, 1.5f, 2.25f, "");
  myDrawATSUIText(c, r->mRedTextStyle, 1.5f, 2.25f, nullptr);
  myDrawATSUIText(c, r->mRedTextStyle, 1.5f, 2.25f, "abc");
  CGContextRelease(c);
  const std::vector<SkyloomCGCall> recorded = SkyloomCGRecordedCalls();
  const auto calls = named(recorded, "ATSUDrawText");
  SkyloomCGSetRecording(false);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]->text, "abc");
  EXPECT_EQ(calls[0]->args[0], 1.5);
  EXPECT_EQ(calls[0]->args[1], 2.25);

  // Creation failures come back and leave nothing made.
  const long live = SkyloomATSULiveObjectCount();
  ATSUStyle s = nullptr;
  SkyloomATSUFailStyleCreation(1);
  EXPECT_EQ(myCreateATSUISTyle(18, 1, 1, 2, 3, &s), memFullErr);
  EXPECT_EQ(s, nullptr);
  MyCameraWindowDataStruct other{};
  SkyloomATSUFailStyleCreation(3);
  EXPECT_EQ(myCreatePreviewTextStyles(&other), memFullErr);
  EXPECT_EQ(other.mStatusTextStyle, nullptr);
  EXPECT_EQ(other.mRedTextStyle, nullptr);
  EXPECT_EQ(SkyloomATSULiveObjectCount(), live);
}

// ---------------------------------------------------------------- automatic exposure

TEST(PreviewAutoExposure, LongExposureKindSliderTable) {
  struct Case {
    double e;
    UInt32 rate;
    double v;
  } cases[] = {
      {0.3, 4, 0},         {2.0, 4, 128},     {2.01, 4, 128.21333333333334}, {5.0, 9, 192},
      {9.0, 4, 243.2},     {9.01, 4, 255.16}, {10.0, 4, 271},                {17.0, 4, 383},
      {33.33, 4, 511},     {9.01, 3, 255.05}, {33.33, 3, 383},               {33.34, 3, 383.0384038403841},
      {66.66, 3, 511},     {33.33, 7, 383},   {66.66, 7, 447},               {66.67, 7, 447.00384},
      {133.332, 7, 511},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(myTSLV1501ExposureToSliderValue(c.e, c.rate), c.v, 0.02) << c.e << " " << c.rate;
}

class PreviewExposureStep : public CameraHarness {
 protected:
  void Arm(float target, float measured) {
    record_->mAutoExposureOn = 1;
    record_->mAutoExposurePending = 1;
    record_->mAutoExposureFrameCount = 9;
    record_->mAutoExposureTarget = target;
    record_->mAutoExposureMeasured = measured;
  }
  SInt32 Slider() { return GetControl32BitValue(Control(FOUR_CHAR_CODE("EXPO"), 0)); }
};

TEST_F(PreviewExposureStep, LongExposureKindAtRateCodeFour) {
  Rig({SimLongExposurePersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  ASSERT_EQ(record_->mIsLongExposureCamera, 1);
  SetControl32BitMaximum(Control(FOUR_CHAR_CODE("EXPO"), 0), 511);
  record_->mExposureRateItem = 4;
  record_->mShutterValue = 192;  // 5 ms
  Arm(50, 25);                   // twice as bright wanted: 10 ms
  myDrawVideoPreview(record_, nullptr);
  EXPECT_EQ(record_->mShutterValue, 271u);  // mySetCCDExposTime ran
  EXPECT_EQ(Slider(), 271);
  EXPECT_EQ(record_->mAutoExposurePending, 0);
  EXPECT_EQ(record_->mAutoExposureFrameCount, 0u);
  // Far too dark: clamped to the slider's end.
  Arm(100, 0.02f);
  myDrawVideoPreview(record_, nullptr);
  EXPECT_EQ(record_->mShutterValue, 511u);
}

TEST_F(PreviewExposureStep, AbsoluteShutterSliderIsClamped) {
  Rig({SimDefaultColourPersonality()});
  ASSERT_EQ(OpenCamera(), noErr);
  ASSERT_EQ(record_->mAbsoluteShutter, 1);
  SetControl32BitMaximum(Control(FOUR_CHAR_CODE("EXPO"), 0), 400);
  record_->mAbsShutterMin = 0.0f;
  record_->mAbsShutterMax = 100.0f;
  record_->mAbsShutterValue = 10.0f;
  struct Case {
    float target, measured;
    SInt32 v;
  } cases[] = {{50, 25, 80}, {100, 0.02f, 400}, {0.01f, 90, 1}};
  for (const Case& c : cases) {
    record_->mAbsShutterValue = 10.0f;
    Arm(c.target, c.measured);
    myDrawVideoPreview(record_, nullptr);
    EXPECT_EQ(record_->mShutterValue, UInt32(c.v)) << c.target;
    EXPECT_EQ(Slider(), c.v) << c.target;
    EXPECT_EQ(record_->mAutoExposurePending, 0);
  }
  // Nothing pending, or automatic exposure off: nothing happens.
  record_->mShutterValue = 5;
  Arm(50, 25);
  record_->mAutoExposureOn = 0;
  myDrawVideoPreview(record_, nullptr);
  EXPECT_EQ(record_->mShutterValue, 5u);
  EXPECT_EQ(record_->mAutoExposurePending, 1);
}

TEST_F(PreviewExposureStep, OpeningMakesTheFourTextStylesOrFails) {
  Rig({SimDefaultColourPersonality()});
  const long live = SkyloomATSULiveObjectCount();
  ASSERT_EQ(OpenCamera(), noErr);
  EXPECT_NE(record_->mStatusTextStyle, nullptr);
  EXPECT_NE(record_->mGreenTextStyle, nullptr);
  EXPECT_NE(record_->mHScrollBar, nullptr);
  EXPECT_NE(record_->mVScrollBar, nullptr);
  EXPECT_EQ(SkyloomATSULiveObjectCount(), live + 4);
  CloseCamera();
  EXPECT_EQ(SkyloomATSULiveObjectCount(), live);
  SkyloomATSUFailStyleCreation(4);
  EXPECT_EQ(OpenCamera(), memFullErr);
  EXPECT_EQ(record_, nullptr);
  EXPECT_TRUE(skyloom::ui::Windows().empty());
  EXPECT_EQ(SkyloomATSULiveObjectCount(), live);
}

// ---------------------------------------------------------------- rendered

TEST_F(PreviewWindow, RenderedSimFrameWithMarksReticleAndText) {
  Frame(640, 480);
  SimSceneSettings settings;
  settings.starCount = 12;
  settings.seed = 7;
  SimScene scene(settings);
  std::vector<UInt16> mono(640 * 480);
  scene.RenderMono(0, 1.0, 8, mono.data());
  for (size_t i = 0; i < mono.size(); ++i) {
    const UInt8 g = UInt8(std::min<UInt16>(mono[i], 200));  // nothing saturates by itself
    frame[i] = Bytes{0xFF, g, g, g};
  }
  // A saturated patch away from the centre.
  for (int y = 100; y < 110; ++y)
    for (int x = 500; x < 510; ++x) frame[size_t(y) * 640 + size_t(x)] = Bytes{0xFF, 255, 255, 255};
  r->mShowSaturated = 1;
  r->mSaturationCutoff = 255;
  r->mShowReticle = 1;
  r->mRecording = 1;
  r->mRecordFrameCounter = 12;
  r->mDrawStateReset = 1;
  const auto calls = Draw();
  EXPECT_EQ(texts(calls), (std::vector<std::string>{"Rec: #12"}));
  CGrafPtr port = GetWindowPort(window);
  const std::string dir = std::string(SKYLOOM_BINARY_DIR) + "/test_artifacts";
  std::filesystem::create_directories(dir);
  const std::string png = dir + "/preview_window.png";
  ASSERT_EQ(SkyloomWritePortPNG(port, png.c_str()), noErr);
  ASSERT_TRUE(skyloom::test::ToolInstalled("pngcheck"));
  int status = -1;
  const std::string out = skyloom::test::Run("pngcheck " + png, &status);
  EXPECT_EQ(status, 0) << out;

  // Red where the frame saturates (the frame row is the window row at zoom 1).
  EXPECT_EQ(SkyloomPortPixel(port, 505, 105), 0xFFFF0000u);
  EXPECT_EQ(frame[105 * 640 + 505], kRed);
  // The radius-20 circle crosses the horizontal through the centre (320, 240)
  // at x = 340: grey there, the frame dark.
  UInt32 best = 0;
  for (SInt32 y = 238; y <= 242; ++y) {
    const UInt32 p = SkyloomPortPixel(port, 340, y);
    if ((p & 0xFF) > (best & 0xFF)) best = p;
  }
  EXPECT_GE(int(best & 0xFF), 80);
  EXPECT_EQ((best >> 16) & 0xFF, best & 0xFF);
  EXPECT_EQ((best >> 8) & 0xFF, best & 0xFF);
  // A dark frame pixel far from every mark stays as drawn.
  const Bytes corner = frame[470 * 640 + 600];
  EXPECT_EQ(SkyloomPortPixel(port, 600, 470), 0xFF000000u | UInt32(corner[1]) << 16 | UInt32(corner[2]) << 8 | corner[3]);
}

}  // namespace
