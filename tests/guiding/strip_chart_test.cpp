// The tracking-area strip chart, checked on the recorded drawing calls: its
// geometry in a port of known height, the statistics and status texts, and
// who draws when.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CameraWindowData.h"
#include "guiding/ScopeControl.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

namespace {

class StripChartTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    // A port 400 high with the chart area at top 10, left 10, bottom 210, right 200.
    WriteNib("Chart",
             "window \"LXControls\" class=document bounds=0,0,400,300\n"
             "  control 'TRBX' 0 user-pane bounds=10,10,210,200\n"
             "  control 'MESG' 0 static-text bounds=220,10,236,290 text=\"\"\n"
             "end\n");
    window_ = MakeWindow("Chart", "LXControls");
    ASSERT_NE(window_, nullptr);
    block_.mKind = kMCBSKind;
    block_.mWindow = window_;
    block_.mTrackBoxBounds[0] = 10;
    block_.mTrackBoxBounds[1] = 10;
    block_.mTrackBoxBounds[2] = 210;
    block_.mTrackBoxBounds[3] = 200;
    block_.mHistoryStart = kMCBSHistoryLength;
    record_.mKind = kMyCameraWindowDataKind;
    record_.mpMCBSPtr = &block_;
    record_.mGuidingActive = 1;
    record_.mGuidingOn = 1;
    record_.mGuideWindowShown = 1;
    contexts_ = SkyloomCGLiveContextCount();
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    EXPECT_EQ(SkyloomCGLiveContextCount(), contexts_);
    DisposeWindow(window_);
    UiTest::TearDown();
  }

  std::vector<SkyloomCGCall> Record(void (*draw)(MyCameraWindowDataStruct*)) {
    SkyloomCGSetRecording(true);
    draw(&record_);
    std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
    SkyloomCGSetRecording(false);
    return calls;
  }
  static std::vector<const SkyloomCGCall*> Named(const std::vector<SkyloomCGCall>& calls, const std::string& name) {
    std::vector<const SkyloomCGCall*> out;
    for (const SkyloomCGCall& c : calls)
      if (c.name == name) out.push_back(&c);
    return out;
  }
  static std::vector<std::string> Texts(const std::vector<SkyloomCGCall>& calls) {
    std::vector<std::string> out;
    for (const SkyloomCGCall* c : Named(calls, "CGContextShowTextAtPoint")) out.push_back(c->text);
    return out;
  }
  std::string Status() {
    return skyloom::ui::ControlText(skyloom::ui::FindControl(window_, FOUR_CHAR_CODE("MESG"), 0));
  }
  void SetNewest(const std::vector<int>& ra, const std::vector<int>& dec) {
    block_.mHistoryStart = kMCBSHistoryLength - UInt32(ra.size());
    for (size_t i = 0; i < ra.size(); i++) {
      block_.mRAHistory[kMCBSHistoryLength - ra.size() + i] = SInt8(ra[i]);
      block_.mDecHistory[kMCBSHistoryLength - dec.size() + i] = SInt8(dec[i]);
    }
  }

  WindowRef window_ = nullptr;
  MCBS block_{};
  MyCameraWindowDataStruct record_{};
  long contexts_ = 0;
};

TEST_F(StripChartTest, GeometryFollowsTheAreaInsetInTheFlippedPort) {
  block_.mRAHistory[0] = 7;
  const auto calls = Record(myDrawTrackingAreaBox);
  const auto fills = Named(calls, "CGContextFillRect");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0]->args, (std::vector<double>{13, 193, 184, 194}));
  const auto moves = Named(calls, "CGContextMoveToPoint");
  // 11 grid lines a band, the two baselines, the two traces.
  ASSERT_EQ(moves.size(), 26u);
  EXPECT_EQ(moves[0]->args, (std::vector<double>{13, 338.5 - 25}));
  EXPECT_EQ(moves[11]->args, (std::vector<double>{13, 241 - 25}));
  EXPECT_EQ(moves[22]->args, (std::vector<double>{13, 338.5}));  // the RA baseline
  EXPECT_EQ(moves[23]->args, (std::vector<double>{13, 241}));    // the DEC baseline
  EXPECT_EQ(moves[24]->args, (std::vector<double>{14, 338.5 + 7}));  // the RA trace starts at x 14
  EXPECT_EQ(moves[25]->args, (std::vector<double>{14, 241}));
  const auto lines = Named(calls, "CGContextAddLineToPoint");
  ASSERT_EQ(lines.size(), 24u + 2 * 179u);
  EXPECT_EQ(lines[0]->args, (std::vector<double>{197, 338.5 - 25}));
  EXPECT_EQ(lines.back()->args, (std::vector<double>{14 + 179, 241}));
  // Labels at 18 points, the trace colours red and blue.
  const auto labels = Named(calls, "CGContextShowTextAtPoint");
  ASSERT_EQ(labels.size(), 2u);  // no statistics with empty histories
  EXPECT_EQ(labels[0]->text, "RA/X");
  EXPECT_EQ(labels[0]->args, (std::vector<double>{17, 338.5 - 6}));
  EXPECT_EQ(labels[1]->text, "DEC/Y");
  EXPECT_EQ(labels[1]->args, (std::vector<double>{17, 241 - 6}));
  EXPECT_EQ(Named(calls, "CGContextSelectFont")[0]->args[0], 18);
  const auto strokes = Named(calls, "CGContextSetRGBStrokeColor");
  bool red = false, blue = false;
  for (auto* s : strokes) {
    red = red || s->args == std::vector<double>{1, 0, 0, 1};
    blue = blue || s->args == std::vector<double>{0, 0, 1, 1};
  }
  EXPECT_TRUE(red && blue);
  EXPECT_EQ(Named(calls, "CGContextSetLineDash").size(), 1u);
  EXPECT_EQ(Named(calls, "CGContextSaveGState").size(), Named(calls, "CGContextRestoreGState").size());
}

TEST_F(StripChartTest, StatisticsNeedMoreThanThreeEntries) {
  SetNewest({5, 10, -5, 0}, {0, 0, 0, 5});
  auto texts = Texts(Record(myDrawTrackingAreaBox));
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[2], "0.50, 1.29, 1.22, -1.0, 2.0");
  EXPECT_EQ(texts[3], "0.25, 0.50, 0.50, 0.0, 1.0");
  SetNewest({10, -5, 0}, {0, 0, 5});
  EXPECT_EQ(Texts(Record(myDrawTrackingAreaBox)).size(), 2u);
  // Equal entries can leave a variance a rounding below zero: the deviation
  // is 0, not "-nan".
  block_.mHistoryStart = 0;
  for (UInt32 i = 0; i < kMCBSHistoryLength; i++) block_.mRAHistory[i] = block_.mDecHistory[i] = 7;
  texts = Texts(Record(myDrawTrackingAreaBox));
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[2], "1.40, 0.00, 1.40, 1.4, 1.4");
}

TEST_F(StripChartTest, StatusShowsTheNewestDriftOrItsClamp) {
  const struct {
    int entry;
    const char* text;
  } cases[] = {{24, "4.8"}, {25, ">5"}, {-25, ">-5"}, {-3, "-0.6"}, {0, "0.0"}};
  for (const auto& c : cases) {
    SetNewest({c.entry}, {-c.entry});
    Record(myDrawTrackingAreaBox);
    char other[16];
    snprintf(other, sizeof other, "%s", c.entry == 24    ? "-4.8"
                                         : c.entry == 25  ? ">-5"
                                         : c.entry == -25 ? ">5"
                                         : c.entry == -3  ? "0.6"
                                                          : "0.0");
    EXPECT_EQ(Status(), std::string("Status: Tracking Delta RA/X: ") + c.text + " DEC/Y: " + other) << c.entry;
  }
}

TEST_F(StripChartTest, WhoDrawsWhat) {
  SetNewest({1, 2, 3, 4}, {1, 2, 3, 4});
  // Not guiding: the draw routine does nothing at all.
  record_.mGuidingActive = 0;
  EXPECT_TRUE(Record(myDrawTrackingAreaBox).empty());
  // Calibrating: the timer draws the empty chart (no traces, no statistics).
  record_.mGuidingActive = 1;
  record_.mGuidingOn = 0;
  SkyloomCGSetRecording(true);
  myUpdateTrackingAreaBox(nullptr, &record_);
  auto calls = SkyloomCGRecordedCalls();
  EXPECT_EQ(Named(calls, "CGContextFillRect").size(), 1u);
  EXPECT_EQ(Named(calls, "CGContextAddLineToPoint").size(), 24u);
  EXPECT_EQ(Texts(calls).size(), 2u);
  // The view draws only while the sheet is up; the timer draws regardless.
  record_.mGuidingOn = 1;
  EventRef draw = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassControl, kEventControlDraw, 0, 0, &draw), noErr);
  record_.mGuideWindowShown = 0;
  SkyloomCGSetRecording(true);
  EXPECT_EQ(myGuideHistogramCustomControlHandler(nullptr, draw, &record_), noErr);
  EXPECT_TRUE(SkyloomCGRecordedCalls().empty());
  myUpdateTrackingAreaBox(nullptr, &record_);
  EXPECT_EQ(Texts(SkyloomCGRecordedCalls()).size(), 4u);
  record_.mGuideWindowShown = 1;
  SkyloomCGSetRecording(true);
  EXPECT_EQ(myGuideHistogramCustomControlHandler(nullptr, draw, &record_), noErr);
  EXPECT_EQ(Texts(SkyloomCGRecordedCalls()).size(), 4u);
  ReleaseEvent(draw);
  // Without a record the view handles nothing.
  EXPECT_EQ(myGuideHistogramCustomControlHandler(nullptr, draw, nullptr), eventNotHandledErr);
  // Without a block the erase does nothing.
  record_.mpMCBSPtr = nullptr;
  EXPECT_TRUE(Record(myEraseTrackingAreaBox).empty());
}

TEST_F(StripChartTest, AFullChartRendersToThePort) {
  block_.mHistoryStart = 0;
  for (UInt32 i = 0; i < kMCBSHistoryLength; i++) {
    block_.mRAHistory[i] = SInt8(std::lround(20.0 * std::sin(i * 0.07)));
    block_.mDecHistory[i] = SInt8(std::lround(8.0 * std::cos(i * 0.11)));
  }
  myDrawTrackingAreaBox(&record_);
  CGrafPtr port = GetWindowPort(window_);
  // White inside the chart, the window background outside it; the RA trace
  // is red where it starts (x 14, y 338.5 up from the bottom: row 61).
  EXPECT_EQ(SkyloomPortPixel(port, 100, 110) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(SkyloomPortPixel(port, 5, 5), kSkyloomWindowBackground);
  const UInt32 start = SkyloomPortPixel(port, 14, 61);
  EXPECT_GT((start >> 16) & 0xFF, 0x80u) << std::hex << start;
  EXPECT_LT((start >> 8) & 0xFF, 0x80u) << std::hex << start;
  const std::string dir = std::string(SKYLOOM_BINARY_DIR) + "/test_artifacts";
  std::filesystem::create_directories(dir);
  EXPECT_EQ(SkyloomWritePortPNG(port, (dir + "/strip_chart.png").c_str()), noErr);
}

}  // namespace
