// The cut-off rule and the "Histogram" window, driven by the scripted user and
// read back through the recorded drawing calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "stacking/CutOffWindow.h"
#include "tests/support/UiFixture.h"

namespace {

using skyloom::ui::ScriptedUser;

TEST(ConvertPercentToCI, FollowsTheConfidenceIntervalSteps) {
  const struct {
    UInt32 percent;
    double cutOff;
  } cases[] = {{0, -2.58},          {5, -1.96}, {32, -1.0},           {50, 0.0},  {60, 10.0 / 18.0},
               {68, 1.0},           {69, 1.0 + 0.96 / 27.0},          {95, 1.96}, {96, 2.084},
               {100, 2.58},         {18, -1.0 - 14 * 0.96 / 27.0},    {82, 1.0 + 14 * 0.96 / 27.0}};
  for (const auto& c : cases) EXPECT_NEAR(convertPercentToCI(c.percent, 0.0, 1.0), c.cutOff, 1e-12) << c.percent;
  // Mean and deviation scale and shift the same steps.
  EXPECT_NEAR(convertPercentToCI(95, 10.0, 2.0), 13.92, 1e-12);
  EXPECT_NEAR(convertPercentToCI(32, 10.0, 2.0), 8.0, 1e-12);
}

class CutOffWindow : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    std::memset(&job_, 0, sizeof job_);
    job_.PERCENTFRAME = 60;
    job_.PROMPTCI = 1;
    // Bins of width 1 from 0: bin k stands for the value k.
    for (int k = 0; k < 256; ++k) counts_[k] = UInt32(k % 7 + (k == 100 ? 40 : 0));
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    UiTest::TearDown();
  }
  Boolean Run() { return myGetUsersCIPrefs(&job_, counts_, 1000, 0.0, 255.0, 1.0, 40.0, 128.0, 127.0); }
  static WindowRef Window() { return skyloom::ui::FindWindow("Histogram"); }
  static std::string Text(OSType signature, SInt32 id) {
    return skyloom::ui::ControlText(skyloom::ui::FindControl(Window(), signature, id));
  }

  // The lines drawn since recording began: how many, and the counts of the
  // red ones (line k is bin k).
  struct Lines {
    int total = 0;
    UInt32 redCounts = 0;
    int red = 0;
  };
  Lines DrawnLines() const {
    Lines out;
    bool red = false;
    for (const SkyloomCGCall& c : SkyloomCGRecordedCalls()) {
      if (c.name == "CGContextSetRGBStrokeColor") red = c.args == std::vector<double>{1, 0, 0, 1};
      if (c.name == "CGContextStrokePath") {
        if (red) {
          out.redCounts += counts_[out.total];
          ++out.red;
        }
        ++out.total;
      }
    }
    return out;
  }
  // Kept frames at a percent, computed from the window's own rule: bin values
  // accumulated in single precision, compared with the cut-off as a float.
  UInt32 Expected(UInt32 percent) const {
    const float cutOff = float(convertPercentToCI(percent, 128.0, 40.0));
    float value = 0.0f;
    UInt32 kept = 0;
    for (int k = 0; k < 256; ++k, value += 1.0f)
      if (value >= cutOff) kept += counts_[k];
    return kept;
  }

  StackAlignJob job_;
  UInt32 counts_[256];
};

TEST_F(CutOffWindow, KeptFramesTextMatchesTheRedLines) {
  LinkRealNib();
  ScriptedUser user;
  UInt32 kept[3] = {};
  int i = 0;
  for (SInt32 percent : {0, 50, 100}) {
    user.Do([] { SkyloomCGSetRecording(true); })
        .SetValue(FOUR_CHAR_CODE("CIAM"), 0, percent)
        .Do([&, percent, slot = i] {
          const Lines lines = DrawnLines();
          EXPECT_EQ(lines.total, 256);
          EXPECT_EQ(Text(FOUR_CHAR_CODE("CIAM"), 2), std::to_string(lines.redCounts) + " Frames") << percent;
          EXPECT_EQ(lines.redCounts, Expected(UInt32(percent)));
          EXPECT_EQ(Text(FOUR_CHAR_CODE("CIAM"), 1), std::to_string(percent));
          kept[slot] = lines.redCounts;
        });
    ++i;
  }
  user.ClickCancel();
  EXPECT_FALSE(Run());
  EXPECT_TRUE(user.Errors().empty());
  // At 0 % nearly every bin is red, at 100 % only the top ones.
  EXPECT_GT(kept[0], kept[1]);
  EXPECT_GT(kept[1], kept[2]);
  EXPECT_GT(kept[2], 0u);
  EXPECT_EQ(job_.PERCENTFRAME, 60u) << "Cancel leaves the job's percent";
  EXPECT_EQ(job_.PROMPTCI, 1);
  EXPECT_TRUE(skyloom::ui::Windows().empty());
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

TEST_F(CutOffWindow, ShowsTheStatistics) {
  LinkRealNib();
  ScriptedUser user;
  user.Do([&] {
        EXPECT_EQ(Text(FOUR_CHAR_CODE("NUMS"), 0), "47");  // the largest bin, 46, + 1
        EXPECT_EQ(Text(FOUR_CHAR_CODE("MINV"), 0), "Min: 1.500");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("MAXV"), 0), "Max: 9.250");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("MEAN"), 0), "Mean: 4.125");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("MEDI"), 0), "Median: 3.875");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("ST68"), 0), "STD68: 0.12346");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("ST96"), 0), "STD96: 0.24197");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("ST99"), 0), "#Frames: 321");
        EXPECT_EQ(Text(FOUR_CHAR_CODE("CIAM"), 1), "60");
      })
      .ClickCancel();
  counts_[100] = 46;
  EXPECT_FALSE(myGetUsersCIPrefs(&job_, counts_, 321, 1.5, 9.25, 0.03, 0.123456, 4.125, 3.875));
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(CutOffWindow, OKStoresThePercentAndUseForAllStopsAsking) {
  LinkRealNib();
  {
    ScriptedUser user;
    user.SetValue(FOUR_CHAR_CODE("CIAM"), 0, 72).ClickOK();
    EXPECT_TRUE(Run());
    EXPECT_EQ(job_.PERCENTFRAME, 72u);
    EXPECT_EQ(job_.PROMPTCI, 1) << "without ALL_ the window comes again for the next movie";
  }
  {
    ScriptedUser user;
    user.SetValue(FOUR_CHAR_CODE("CIAM"), 0, 35).Click(FOUR_CHAR_CODE("ALL_"), 0).ClickOK();
    EXPECT_TRUE(Run());
    EXPECT_EQ(job_.PERCENTFRAME, 35u);
    EXPECT_EQ(job_.PROMPTCI, 0);
    EXPECT_TRUE(user.Errors().empty());
  }
  {
    // Ticked and unticked again: the window keeps asking.
    job_.PROMPTCI = 1;
    ScriptedUser user;
    user.Click(FOUR_CHAR_CODE("ALL_"), 0).Click(FOUR_CHAR_CODE("ALL_"), 0).ClickOK();
    EXPECT_TRUE(Run());
    EXPECT_EQ(job_.PROMPTCI, 1);
  }
}

TEST_F(CutOffWindow, ASheetOnTheProgressWindowElseAWindow) {
  LinkRealNib();
  WriteNib("TEST", "window \"Progress\" class=document title=\"Progress\" bounds=40,40,400,640\nend\n");
  WindowRef progress = MakeWindow("TEST", "Progress");
  ASSERT_NE(progress, nullptr);
  ShowWindow(progress);
  job_.mProgressWindow = progress;
  {
    ScriptedUser user;
    user.Do([&] {
          EXPECT_EQ(skyloom::ui::SheetOf(progress), Window());
          EXPECT_TRUE(IsWindowVisible(Window()));
          const std::string dir = std::string(SKYLOOM_BINARY_DIR) + "/test_artifacts";
          std::filesystem::create_directories(dir);
          EXPECT_EQ(SkyloomWritePortPNG(GetWindowPort(Window()), (dir + "/histogram_window.png").c_str()), noErr);
          // The frame of the drawing area is white inside, bins drawn over it.
          const Rect b = [] {
            Rect r;
            GetControlBounds(skyloom::ui::FindControl(Window(), FOUR_CHAR_CODE("HIST"), 0), &r);
            return r;
          }();
          EXPECT_EQ(SkyloomPortPixel(GetWindowPort(Window()), b.right - 6, b.top + 8), 0xFFFFFFFFu);
        })
        .ClickOK();
    EXPECT_TRUE(Run());
    EXPECT_EQ(skyloom::ui::SheetOf(progress), nullptr);
  }
  job_.mProgressWindow = nullptr;
  {
    ScriptedUser user;
    user.Do([&] {
          EXPECT_EQ(skyloom::ui::SheetOf(progress), nullptr);
          EXPECT_TRUE(IsWindowVisible(Window()));
        })
        .ClickOK();
    EXPECT_TRUE(Run());
  }
  EXPECT_EQ(skyloom::ui::Windows().size(), 1u) << "only the progress window stays";
  DisposeWindow(progress);
}

// The window's update and draw-content events both redraw the histogram; the
// draw-content event is left unhandled so that the standard drawing runs too.
TEST_F(CutOffWindow, UpdateAndDrawContentEventsRedraw) {
  LinkRealNib();
  ScriptedUser user;
  OSStatus results[2] = {1, 1};
  int strokes[2] = {};
  user.Do([&] {
        for (int i = 0; i < 2; ++i) {
          const EventKind kind = i == 0 ? EventKind(kEventWindowUpdate) : EventKind(kEventWindowDrawContent);
          EventRef event = nullptr;
          ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kind, 0, 0, &event), noErr);
          WindowRef w = Window();
          SetEventParameter(event, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
          SkyloomCGSetRecording(true);
          results[i] = SendEventToEventTarget(event, GetWindowEventTarget(w));
          strokes[i] = DrawnLines().total;
          ReleaseEvent(event);
        }
      })
      .ClickOK();
  EXPECT_TRUE(Run());
  EXPECT_EQ(results[0], noErr);
  EXPECT_EQ(results[1], eventNotHandledErr);
  EXPECT_EQ(strokes[0], 256);
  EXPECT_EQ(strokes[1], 256);
}

TEST_F(CutOffWindow, AWindowWithoutItsSliderIsNotShown) {
  WriteNib("ORX_DCAM",
           "window \"Histogram\" class=sheet bounds=0,0,300,500\n"
           "  control 'HIST' 0 user-pane bounds=10,10,200,300\n"
           "  control 'ok  ' 0 push-button bounds=260,400,280,480 title=\"OK\" command='ok  ' default\n"
           "end\n");
  const long handles = SkyloomLiveHandleCount();
  const long cursorChanges = skyloom::ui::CursorChangeCount();
  ScriptedUser user;
  EXPECT_FALSE(Run());
  EXPECT_EQ(job_.PERCENTFRAME, 60u);
  EXPECT_TRUE(skyloom::ui::Windows().empty());
  EXPECT_EQ(SkyloomLiveHandleCount(), handles);
  EXPECT_GE(skyloom::ui::CursorChangeCount(), cursorChanges);
  EXPECT_EQ(user.Pending(), 0u);
  EXPECT_TRUE(user.Errors().empty()) << "no loop waited for the user";

  skyloom::ui::ResetModel();
  std::filesystem::remove_all(dir_ + "/ORX_DCAM.nib");
  LinkRealNib();
  skyloom::ui::InjectFailure("CreateWindowFromNib", -1);
  EXPECT_FALSE(Run());
  skyloom::ui::InjectFailure("InstallEventHandler", memFullErr);
  EXPECT_FALSE(Run());
  EXPECT_TRUE(skyloom::ui::Windows().empty());
}

}  // namespace
