// The run's progress window (cancel through its close request, the idle
// timer) and the settings block of the movie-stack log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <functional>
#include <string>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "stacking/AlignAndStack.h"
#include "stacking/StackingProgress.h"
#include "tests/stacking/StackFixture.h"

namespace {

namespace ui = skyloom::ui;

// The block the job gives, as text.
std::string SettingsBlock(const StackAlignJob& job) {
  StackAlignJob copy = job;
  char* text = nullptr;
  size_t size = 0;
  copy.mLogFile = open_memstream(&text, &size);
  myPrintProcessingStats(&copy);
  std::fclose(copy.mLogFile);
  std::string out(text, size);
  std::free(text);
  return out;
}

StackAlignJob Defaults() {
  StackAlignJob job;
  myInitStackAlignJob(&job);
  job.PERCENTFRAME = 60;
  return job;
}

TEST(StackingSettingsBlock, DefaultsGiveTheTwentyLines) {
  EXPECT_EQ(SettingsBlock(Defaults()),
            "CI Cutoff: 60 %\n"
            "Aligned Using: Luma Channel\n"
            "Gross Alignment: Planetary\n"
            "Pixel Alignment: Horizontal and Vertical Separate\n"
            "Pixel Alignment Block Size: 32 x 32 pixels\n"
            "Pixel Matching Tolerance :  4.00\n"
            "Scale Frames by: 1 x\n"
            "Frame Sharpening: None\n"
            "Gaussian Blur sharpness and alignment frames: Off\n"
            "Sharpen alignment frames: Off\n"
            "Auto Histogram Expand alignment frames: Off\n"
            "HighQuality Bayer:Off\n"
            "Auto Clip Area: On\n"
            "Adjust Pixel Comparison Area Brightness: Off\n"
            "Spatial Sharpness Distance: Small\n"
            "Remove Hot & Cold Pixels: Cutoff 23  \n"
            "Binning Frames 2x2: Off\n"
            "Averaging Images\n"
            "Subtracting Background: Off\n"
            "Gradient Leveling: Off\n");
}

TEST(StackingSettingsBlock, VariantsChangeTheirLines) {
  struct Case {
    const char* what;
    std::function<void(StackAlignJob&)> change;
    const char* line;  // expected in the block ("" none)
    const char* gone;  // not expected in the block ("" none)
  };
  const Case cases[] = {
      {"no pixel alignment", [](StackAlignJob& j) { j.PIXELALIGN = 0; }, "Pixel Alignment: None\n",
       "Pixel Alignment Block Size"},
      {"no pixel alignment, no tolerance", [](StackAlignJob& j) { j.PIXELALIGN = 0; }, "", "Pixel Matching"},
      {"vertical", [](StackAlignJob& j) { j.PIXELALIGN = 2; }, "Pixel Alignment: Vertical \n", ""},
      {"block size 2", [](StackAlignJob& j) { j.PIXELBLOCKSIZE = 2; }, "Block Size: 64 x 64 pixels\n", ""},
      {"medium", [](StackAlignJob& j) { j.SHARPEN = 2.5; }, "Frame Sharpening: Medium\n", ""},
      {"medium with noise reduction",
       [](StackAlignJob& j) {
         j.SHARPEN = 2.5;
         j.REMOVENOISE = 1;
       },
       "Frame Sharpening: Medium with Noise Reduction\n", ""},
      {"medium high", [](StackAlignJob& j) { j.SHARPEN = 2.6; }, "Frame Sharpening: Medium High\n", ""},
      {"very light at 0", [](StackAlignJob& j) { j.SHARPEN = 0.0; }, "Frame Sharpening: Very Light\n", ""},
      {"extreme", [](StackAlignJob& j) { j.SHARPEN = 10.1; }, "Frame Sharpening: Extreme\n", ""},
      {"no sharpening, no noise words",
       [](StackAlignJob& j) { j.REMOVENOISE = 1; }, "Frame Sharpening: None\n", "Noise Reduction"},
      {"gradient 6", [](StackAlignJob& j) { j.GRADLEVEL = 6; }, "Gradient Leveling:  30 percent\n", ""},
      {"channel 9", [](StackAlignJob& j) { j.COLORCHANNEL = 9; }, "Aligned Using:  Channel\n", ""},
      {"sharpen match 2", [](StackAlignJob& j) { j.SHARPMATCH = 2; }, "Sharpen alignment frames: Off\n", ""},
      {"sharpen match 1", [](StackAlignJob& j) { j.SHARPMATCH = 1; }, "Sharpen alignment frames: On\n", ""},
      {"auto expand 2", [](StackAlignJob& j) { j.AUTOEXPALIGN = 2; }, "Expand alignment frames: On\n", ""},
      {"lunar", [](StackAlignJob& j) { j.METHOD = 1; }, "Gross Alignment: Lunar - Solar\n", ""},
      {"hot pixels off", [](StackAlignJob& j) { j.REMOVEHOTPIXEL = 0; }, "Remove Hot & Cold Pixels: Off\n", ""},
      {"summing", [](StackAlignJob& j) { j.SUMIMG = 1; }, "Summing Images\n", "Averaging"},
      {"tolerance 1", [](StackAlignJob& j) { j.PIXELTOLERANCE = 1; }, "Pixel Matching Tolerance :  0.00\n", ""},
      {"wide", [](StackAlignJob& j) { j.SPATIALSHARPNESS = 2; }, "Spatial Sharpness Distance: Wide\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StackAlignJob job = Defaults();
    c.change(job);
    const std::string block = SettingsBlock(job);
    if (*c.line) {
      EXPECT_NE(block.find(c.line), std::string::npos) << block;
    }
    if (*c.gone) {
      EXPECT_EQ(block.find(c.gone), std::string::npos) << block;
    }
  }
}

TEST(StackingSettingsBlock, NoLogWritesNothing) {
  StackAlignJob job = Defaults();
  job.mLogFile = nullptr;
  myPrintProcessingStats(&job);  // must not touch a file
  myPrintProcessingStats(nullptr);
}

class StackingProgressWindow : public StackTest {
 protected:
  WindowRef window = nullptr;
  StackAlignJob job{};
  EventHandlerRef handler = nullptr;

  void SetUp() override {
    StackTest::SetUp();
    myInitStackAlignJob(&job);
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Progress"), &window), noErr);
    DisposeNibReference(nib);
    job.mProgressWindow = window;
    const EventTypeSpec kinds[] = {{kEventClassCommand, kEventCommandProcess}, {kEventClassWindow, kEventWindowClose}};
    ASSERT_EQ(InstallEventHandler(GetWindowEventTarget(window), NewEventHandlerUPP(myProgressWindowEventHandler), 2,
                                  kinds, &job, &handler),
              noErr);
    ShowWindow(window);
    SelectWindow(window);
  }
};

TEST_F(StackingProgressWindow, CancelButtonSetsTheCancelFlagAndKeepsTheWindow) {
  ASSERT_NE(ui::FindControl(window, FOUR_CHAR_CODE("note"), 0), nullptr);
  ASSERT_NE(ui::FindControl(window, FOUR_CHAR_CODE("fram"), 0), nullptr);
  ControlRef cancel = ui::FindControl(window, FOUR_CHAR_CODE("clos"), 0);
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(job.mCancel, 0);
  EXPECT_EQ(ui::UserClick(cancel), noErr);
  EXPECT_EQ(job.mCancel, 1);
  const std::vector<WindowRef> live = ui::Windows();
  EXPECT_NE(std::find(live.begin(), live.end(), window), live.end());
  EXPECT_TRUE(IsWindowVisible(window));
  DisposeWindow(window);
}

TEST_F(StackingProgressWindow, OtherCommandsAndNoJobLeaveTheFlag) {
  ui::UserSendCommand(window, FOUR_CHAR_CODE("ok  "));
  EXPECT_EQ(job.mCancel, 0);
  EXPECT_EQ(myProgressWindowEventHandler(nullptr, nullptr, nullptr), eventNotHandledErr);
  DisposeWindow(window);
}

TEST_F(StackingProgressWindow, IdleTimerAnimatesTheWindowsControls) {
  myMovieIdleTaskProc(nullptr, window);
  myMovieIdleTaskProc(nullptr, window);
  myMovieIdleTaskProc(nullptr, nullptr);
  EXPECT_EQ(ui::WindowIdleCount(window), 2);
  DisposeWindow(window);
}

}  // namespace
