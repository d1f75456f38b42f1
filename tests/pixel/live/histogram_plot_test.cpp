// The histogram plot in the control window, checked twice: on the drawing
// calls it makes (geometry, order, colours) and on the pixels that reach the
// window's backing image, which is also saved as a PNG beside the build.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "pixel/Histogram.h"
#include "pixel/live/HistogramPlot.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "tests/support/UiFixture.h"

namespace {

class HistogramPlot : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    // Content 300 wide and 400 high; the port is in local coordinates.
    const Rect content{50, 100, 450, 400};
    ASSERT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &content, &window), noErr);
    record.mKind = kMyCameraWindowDataKind;
    record.mControlWindow = window;
    record.mControlWindowShown = 1;
    record.mHistogramOption = 1;
    record.mHistogramRect = Rect{10, 20, 110, 276};
    record.mDisplayFormatItem = 1;
    record.mHistogramR = red.data();
    record.mHistogramG = green.data();
    record.mHistogramB = blue.data();
    red.fill(0);
    green.fill(0);
    blue.fill(0);
    myStoreHistogramReady(&record, 1);
    contextsBefore = SkyloomCGLiveContextCount();
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    EXPECT_EQ(SkyloomCGLiveContextCount(), contextsBefore) << "a context was not released";
    UiTest::TearDown();
  }
  std::vector<SkyloomCGCall> drawRecorded() {
    SkyloomCGSetRecording(true);
    myDrawHistoGram(&record);
    std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
    SkyloomCGSetRecording(false);
    return calls;
  }
  static std::vector<std::string> names(const std::vector<SkyloomCGCall>& calls) {
    std::vector<std::string> n;
    for (const SkyloomCGCall& c : calls) n.push_back(c.name);
    return n;
  }
  static std::vector<const SkyloomCGCall*> named(const std::vector<SkyloomCGCall>& calls,
                                                 const std::string& name) {
    std::vector<const SkyloomCGCall*> found;
    for (const SkyloomCGCall& c : calls)
      if (c.name == name) found.push_back(&c);
    return found;
  }
  std::string artifact(const std::string& file) {
    const std::string dir = std::string(SKYLOOM_BINARY_DIR) + "/test_artifacts";
    std::filesystem::create_directories(dir);
    return dir + "/" + file;
  }

  WindowRef window = nullptr;
  MyCameraWindowDataStruct record{};
  std::array<UInt32, 256> red{}, green{}, blue{};
  long contextsBefore = 0;
};

TEST_F(HistogramPlot, GeometryOfTheWorkedExample) {
  const MyHistogramPlotGeometry g = myHistogramPlotGeometry(Rect{10, 20, 110, 276}, 400.0f);
  EXPECT_EQ(g.x, 23.0f);
  EXPECT_EQ(g.y, 293.0f);
  EXPECT_EQ(g.width, 250.0f);
  EXPECT_EQ(g.height, 94.0f);
  EXPECT_EQ(g.x0, 25.0f);
  EXPECT_EQ(g.y0, 295.0f);
  EXPECT_EQ(g.yTop, 385.0f);

  const std::vector<SkyloomCGCall> calls = drawRecorded();
  const std::vector<std::string> expectedStart = {
      "CreateCGContextForPort", "CGContextSaveGState",   "CGContextSetLineJoin",
      "CGContextSetMiterLimit", "GetPortBounds",         "CGContextSetLineWidth",
      "CGContextSetRGBFillColor", "CGContextFillRect",   "CGContextMoveToPoint"};
  const std::vector<std::string> n = names(calls);
  ASSERT_GE(n.size(), expectedStart.size());
  EXPECT_EQ(std::vector<std::string>(n.begin(), n.begin() + expectedStart.size()), expectedStart);
  EXPECT_EQ(calls[2].args, std::vector<double>{double(kCGLineJoinMiter)});
  EXPECT_EQ(calls[3].args, std::vector<double>{5000.0});
  EXPECT_EQ(calls[4].args, (std::vector<double>{0, 0, 400, 300}));
  EXPECT_EQ(calls[5].args, std::vector<double>{1.0});
  EXPECT_EQ(calls[6].args, (std::vector<double>{1, 1, 1, 1}));
  EXPECT_EQ(calls[7].args, (std::vector<double>{23, 293, 250, 94}));
  EXPECT_EQ(calls[8].args, (std::vector<double>{25, 295}));
  const auto lines = named(calls, "CGContextAddLineToPoint");
  ASSERT_EQ(lines.size(), 255u);
  EXPECT_EQ(lines[0]->args[0], 25.953125);
  EXPECT_EQ(lines[254]->args[0], 25 + 255 * 0.953125);
  const std::vector<std::string> expectedEnd = {
      "CGContextAddLineToPoint", "CGContextSetRGBStrokeColor", "CGContextStrokePath",
      "CGContextSetRGBStrokeColor", "CGContextRestoreGState", "CGContextSynchronize",
      "CGContextRelease"};
  EXPECT_EQ(std::vector<std::string>(n.end() - expectedEnd.size(), n.end()), expectedEnd);
}

TEST_F(HistogramPlot, HeightsZoomAndClip) {
  const MyHistogramPlotGeometry g = myHistogramPlotGeometry(Rect{10, 20, 110, 276}, 400.0f);
  struct Case {
    UInt32 count, option;
    float y;
  };
  const Case cases[] = {
      {0, 1, 295.0f},
      {307200, 1, 385.0f},      // y0 + ph is above yTop
      {153600, 1, 342.0f},      // half the full height
      {76800, 2, 342.0f},       // doubled before the clip
      {153600, 2, 385.0f},
      {0x80000000u, 2, 295.0f}, // the shift loses the only bit
      {5, 33, 295.0f},          // shifted past 32 bits
      {1, 1, 295.0f + 94.0f * 3.2552084e-06f},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(myHistogramPlotY(g, c.count, c.option), c.y, 1e-3) << c.count << " << " << c.option;
}

TEST_F(HistogramPlot, NothingIsDrawnUnlessEverythingIsReady) {
  red.fill(50000);
  CGrafPtr port = GetWindowPort(window);
  const UInt32 before = SkyloomPortPixel(port, 100, 60);
  struct Case {
    const char* what;
    void (*change)(MyCameraWindowDataStruct&);
  };
  const Case cases[] = {
      {"option 0", [](MyCameraWindowDataStruct& r) { r.mHistogramOption = 0; }},
      {"ready 0", [](MyCameraWindowDataStruct& r) { myStoreHistogramReady(&r, 0); }},
      {"ready 2", [](MyCameraWindowDataStruct& r) { myStoreHistogramReady(&r, 2); }},
      {"windows-ready 0", [](MyCameraWindowDataStruct& r) { r.mControlWindowShown = 0; }},
      {"windows-ready 2", [](MyCameraWindowDataStruct& r) { r.mControlWindowShown = 2; }},
      {"no control window", [](MyCameraWindowDataStruct& r) { r.mControlWindow = nullptr; }},
      {"no table", [](MyCameraWindowDataStruct& r) { r.mHistogramR = nullptr; }},
  };
  for (const Case& c : cases) {
    MyCameraWindowDataStruct saved = record;
    c.change(record);
    EXPECT_TRUE(drawRecorded().empty()) << c.what;
    record = saved;
  }
  SkyloomCGSetRecording(true);
  myDrawHistoGram(nullptr);
  myEraseHistoGramArea(nullptr);
  EXPECT_TRUE(SkyloomCGRecordedCalls().empty());
  EXPECT_EQ(SkyloomPortPixel(port, 100, 60), before);
  // No context: nothing drawn, nothing leaked.
  SkyloomFailCGContextCreation(1);
  EXPECT_TRUE(drawRecorded().empty());
}

TEST_F(HistogramPlot, OneBlackCurveForGreyThreeForColour) {
  green.fill(1000);
  blue.fill(2000);
  auto strokes = [this] {
    std::vector<std::vector<double>> colours;
    const std::vector<SkyloomCGCall> calls = drawRecorded();
    for (size_t i = 0; i + 1 < calls.size(); ++i)
      if (calls[i + 1].name == "CGContextStrokePath") colours.push_back(calls[i].args);
    return colours;
  };
  EXPECT_EQ(strokes(), (std::vector<std::vector<double>>{{0, 0, 0, 1}}));
  for (UInt32 item : {2u, 4u}) {
    record.mDisplayFormatItem = item;
    EXPECT_EQ(strokes(),
              (std::vector<std::vector<double>>{{1, 0, 0, 1}, {0, 0.7, 0, 1}, {0, 0, 1, 1}}))
        << item;
  }
}

TEST_F(HistogramPlot, CoarsePlotShowsTheLargerOfBinsTwoApart) {
  record.mIsLongExposureCamera = 1;
  red[0] = 1000;
  red[2] = 153600;  // wins over bin 0
  red[1] = 76800;
  red[3] = 10;
  red[253] = 153600;  // last pair: max(h[253], h[255])
  const std::vector<SkyloomCGCall> calls = drawRecorded();
  const auto moves = named(calls, "CGContextMoveToPoint");
  const auto lines = named(calls, "CGContextAddLineToPoint");
  ASSERT_EQ(moves.size(), 1u);
  ASSERT_EQ(lines.size(), 127u);
  const double step = (250 - 6) * 0.015625;  // 3.8125
  EXPECT_EQ(moves[0]->args[0], 25.0);
  EXPECT_NEAR(moves[0]->args[1], 342.0, 1e-3);
  EXPECT_EQ(lines[0]->args[0], 27.0);
  EXPECT_NEAR(lines[0]->args[1], 318.5, 1e-3);
  EXPECT_EQ(lines[1]->args[0], 25.0 + step);
  EXPECT_EQ(lines[1]->args[1], 295.0);
  EXPECT_EQ(lines[126]->args[0], 25.0 + 63 * step + 2);
  EXPECT_NEAR(lines[126]->args[1], 342.0, 1e-3);
}

// Looks around (x, y) for the pixel that the curve covers most and returns it.
UInt32 strongestNear(CGrafPtr port, SInt32 x, SInt32 y) {
  UInt32 best = 0xFFFFFFFF;
  int bestInk = -1;
  for (SInt32 dy = -2; dy <= 2; ++dy) {
    const UInt32 p = SkyloomPortPixel(port, x, y + dy);
    const int ink = 3 * 255 - int((p >> 16) & 0xFF) - int((p >> 8) & 0xFF) - int(p & 0xFF);
    if (ink > bestInk) bestInk = ink, best = p;
  }
  return best;
}

int channel(UInt32 p, int shift) { return int((p >> shift) & 0xFF); }

TEST_F(HistogramPlot, RenderedGreyAndColourCurves) {
  // Grey: bins 0..127 empty (curve on the floor, y 295, row 105), bins
  // 128..255 at half a frame (y 342, row 58).
  for (UInt32 i = 128; i < 256; ++i) red[i] = 153600;
  myDrawHistoGram(&record);
  CGrafPtr port = GetWindowPort(window);
  ASSERT_EQ(SkyloomWritePortPNG(port, artifact("histogram_grey.png").c_str()), noErr);
  // P covers columns 23..272 and rows 13..106 (CG y 293..387).
  EXPECT_EQ(SkyloomPortPixel(port, 5, 5), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, 22, 60), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, 24, 14), 0xFFFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(port, 200, 80), 0xFFFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(port, 200, 30), 0xFFFFFFFFu);
  for (SInt32 x : {60, 120}) {
    const UInt32 p = strongestNear(port, x, 105);
    EXPECT_LT(channel(p, 16), 160) << x;
    EXPECT_EQ(channel(p, 16), channel(p, 8)) << x;  // grey: black ink on white
    EXPECT_EQ(channel(p, 8), channel(p, 0)) << x;
  }
  for (SInt32 x : {170, 250}) {
    const UInt32 p = strongestNear(port, x, 58);
    EXPECT_LT(channel(p, 16), 160) << x;
    EXPECT_EQ(channel(p, 16), channel(p, 0)) << x;
    EXPECT_EQ(SkyloomPortPixel(port, x, 105), 0xFFFFFFFFu) << x;  // the floor line ends at bin 128
  }

  // Colour: red at half a frame (row 58), green everywhere at a quarter
  // (y 318.5, row 81), blue at three quarters over bins 64..127 (y 365.5, row 34).
  record.mDisplayFormatItem = 2;
  red.fill(153600);
  green.fill(76800);
  blue.fill(0);
  for (UInt32 i = 64; i < 128; ++i) blue[i] = 230400;
  myDrawHistoGram(&record);
  ASSERT_EQ(SkyloomWritePortPNG(port, artifact("histogram_colour.png").c_str()), noErr);
  const UInt32 r = strongestNear(port, 200, 58);
  EXPECT_GT(channel(r, 16), 200);
  EXPECT_LT(channel(r, 8), 160);
  EXPECT_EQ(channel(r, 8), channel(r, 0));
  const UInt32 g = SkyloomPortPixel(port, 200, 81);  // a whole pixel row: full colour
  EXPECT_EQ(channel(g, 16), 0);
  EXPECT_NEAR(channel(g, 8), 178, 1);  // 0.7 x 255
  EXPECT_EQ(channel(g, 0), 0);
  const UInt32 b = SkyloomPortPixel(port, 120, 34);
  EXPECT_EQ(b & 0xFFFFFFu, 0x0000FFu);
  // The grey floor line of the first plot is gone under the new fill (blue
  // is up at row 34 over this column).
  EXPECT_EQ(SkyloomPortPixel(port, 120, 104), 0xFFFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(port, 120, 105), 0xFFFFFFFFu);
}

TEST_F(HistogramPlot, EraseBlanksThePlotRectangle) {
  red.fill(153600);
  myDrawHistoGram(&record);
  CGrafPtr port = GetWindowPort(window);
  ASSERT_NE(strongestNear(port, 100, 58), 0xFFFFFFFFu);
  record.mControlWindowShown = 0;
  myEraseHistoGramArea(&record);
  ASSERT_NE(strongestNear(port, 100, 58), 0xFFFFFFFFu);
  record.mControlWindowShown = 2;  // erase needs the flag only non-zero
  myStoreHistogramReady(&record, 0);
  SkyloomCGSetRecording(true);
  myEraseHistoGramArea(&record);
  const std::vector<std::string> n = names(SkyloomCGRecordedCalls());
  EXPECT_EQ(n, (std::vector<std::string>{"CreateCGContextForPort", "CGContextSaveGState",
                                         "GetPortBounds", "CGContextSetLineWidth",
                                         "CGContextSetRGBFillColor", "CGContextFillRect",
                                         "CGContextRestoreGState", "CGContextSynchronize",
                                         "CGContextRelease"}));
  for (SInt32 y = 13; y <= 106; ++y)
    for (SInt32 x = 23; x <= 272; ++x) ASSERT_EQ(SkyloomPortPixel(port, x, y), 0xFFFFFFFFu) << x << "," << y;
  EXPECT_EQ(SkyloomPortPixel(port, 22, 60), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, 100, 107), kSkyloomWindowBackground);
}

}  // namespace
