#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "stacking/StackAlignWindow.h"
#include "tests/stacking/StackFixture.h"
#include "utilities/Controls.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;
namespace nav = skyloom::nav;

OSType Sig(const char* s) {
  return (OSType(UInt8(s[0])) << 24) | (OSType(UInt8(s[1])) << 16) | (OSType(UInt8(s[2])) << 8) | OSType(UInt8(s[3]));
}

// Every flag 1 and odd numbers everywhere, so that a preset shows each
// field it sets and each it leaves.
StackAlignDialogState Dirty() {
  StackAlignDialogState s;
  memset(static_cast<void*>(&s), 0, sizeof s);
  s.DFLTFOPICK = s.QUALITY = s.METHOD = s.SUMIMG = s.BCGSUBTRACT = s.PROMPTCI = s.POST = s.REMOVENOISE = 1;
  s.AUTOCLIP = s.GAUSBLUR = s.MANUALFRAMES = s.AUTOADJBRIGHTNESS = s.CTAVIMAGE = s.CTAVONLYSAVE = 1;
  s.BIN2x2MOV = s.SAVSHARPREFMOV = s.AUTOEXPALIGN = s.SHARPMATCH = 1;
  s.SPATIALSHARPNESS = 3;
  s.CTAVLIMITPERCENT = 11;
  s.REMOVEHOTPIXEL = 31;
  s.PIXELALIGN = 1;
  s.PERCENTFRAME = 33;
  s.SCALE = 3;
  s.PIXELBLOCKSIZE = 7;
  s.COLORCHANNEL = 3;
  s.PIXELTOLERANCE = 29;
  s.WHICHQUADRANT = 5;
  s.SHARPEN = 7.5;
  s.GRADLEVEL = 27;
  s.mOutputFolderSpec.vRefNum = -100;
  s.mOutputFolderSpec.parID = 12345;
  return s;
}

class StackAlignWindow : public StackTest {
 protected:
  void Open(const StackAlignDialogState& initial, const char* nib = "ORX_DCAM", const char* windowName = "StackAlign") {
    state_ = initial;
    window_ = MakeWindow(nib, windowName);
    ASSERT_NE(window_, nullptr);
    state_.mWindow = window_;
    if (ControlRef slider = ui::FindControl(window_, Sig("CIAM"), 0))
      mySetUpControlSlider(slider, 0, 100, SInt32(state_.PERCENTFRAME), SRefCon(&state_), myMovieCIPercentage);
    myUpdateStackAlignWindowControls(&state_);
    const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
    ASSERT_EQ(InstallWindowEventHandler(window_, myGetMovieProcessingGUIEventHandlerProc, 1, commands, &state_,
                                        nullptr),
              noErr);
    ShowWindow(window_);
  }
  ControlRef C(const char* sig) { return ui::FindControl(window_, Sig(sig), 0); }
  SInt32 Value(const char* sig) { return GetControl32BitValue(C(sig)); }
  bool Enabled(const char* sig) { return IsControlEnabled(C(sig)); }

  StackAlignDialogState state_;
  WindowRef window_ = nullptr;
};

TEST_F(StackAlignWindow, TheNibHoldsEveryControlWithItsItems) {
  Open(Dirty());
  const struct {
    const char* sig;
    size_t items;  // 0: not a pop-up
  } controls[] = {{"PSET", 13}, {"SHRP", 8}, {"SMOO", 0}, {"AUEX", 0}, {"SREF", 0}, {"RHCP", 36}, {"SBCG", 0},
                  {"PIXL", 6},  {"SCAL", 4}, {"METH", 2}, {"GRLV", 31}, {"CHAN", 4}, {"TOLR", 31}, {"BAYR", 0},
                  {"SUMM", 0},  {"BIN2", 0}, {"SHOC", 0}, {"POST", 0}, {"MASL", 0},  {"NOCR", 12}, {"TAVI", 0},
                  {"NOSI", 0},  {"SHSP", 3}, {"AUAJ", 0}, {"AUCL", 0}, {"BLUR", 0},  {"SHAR", 0},  {"PXSZ", 8},
                  {"QUAD", 6},  {"CIAM", 0}, {"DFFL", 0}, {"ok  ", 0}, {"not!", 0}};
  for (const auto& c : controls) {
    ControlRef control = ui::FindControl(window_, Sig(c.sig), 0);
    ASSERT_NE(control, nullptr) << c.sig;
    if (std::string(c.sig) != "CIAM") {
      EXPECT_EQ(ui::ControlCommand(control), Sig(c.sig)) << c.sig;
    }
    if (c.items) {
      EXPECT_EQ(ui::ControlItems(control).size(), c.items) << c.sig;
    }
  }
  EXPECT_EQ(ui::ControlItems(C("PIXL"))[0], "None");
  EXPECT_NE(ui::FindControl(window_, Sig("CIAM"), 1), nullptr);
}

TEST_F(StackAlignWindow, PresetsSetTheirRowAndTheCommonFields) {
  // The rows, as the preset table gives them (-1: left as it was). Columns:
  // QUALITY METHOD PROMPTCI GAUSBLUR MANUALFRAMES AUTOADJBRIGHTNESS CTAVIMAGE
  // CTAVONLYSAVE AUTOEXPALIGN SHARPMATCH SPATIALSHARPNESS-item CTAVLIMITPERCENT
  // REMOVEHOTPIXEL PIXELALIGN PERCENTFRAME SCALE PIXELBLOCKSIZE PIXELTOLERANCE
  const int rows[12][18] = {
      {0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 2, -1, 0, 3, 60, 1, 1, 17},
      {0, 1, 0, 0, 0, 0, 0, -1, 0, 0, 1, -1, 0, 3, 80, 1, 1, 13},
      {0, 1, 0, 1, 0, 0, 0, -1, 0, 1, 2, -1, 0, 3, 80, 1, 2, 15},
      {0, 0, 0, 1, 0, 1, 0, -1, 0, 0, 1, -1, 15, 4, 0, 1, 1, 19},
      {1, 0, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 3, 60, 1, 1, 15},
      {1, 1, 1, 0, 1, 0, 0, -1, 1, 1, 1, -1, 0, 3, 70, 1, 1, 13},
      {1, 1, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 3, 80, 1, 2, 15},
      {1, 0, 0, 1, 1, 1, 0, -1, 0, 0, 1, -1, 15, 4, 0, 1, 1, 19},
      {1, 0, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 5, 60, 3, 3, 15},
      {1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 7, 0, 5, 70, 1, 1, 13},
      {1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 2, 7, 0, 5, 80, 1, 2, 15},
      {1, 0, 0, 1, 1, 1, 0, -1, 0, 1, 2, -1, 15, 5, 0, 3, 3, 19},
  };
  for (int item = 2; item <= 13; ++item) {
    ui::ResetModel();
    const StackAlignDialogState dirty = Dirty();
    Open(dirty);
    ASSERT_EQ(ui::UserChooseItem(C("PSET"), item), noErr);
    const StackAlignDialogState& s = state_;
    const int* r = rows[item - 2];
    auto want = [](int row, double old) { return row < 0 ? old : double(row); };
    SCOPED_TRACE("preset " + std::to_string(item));
    // The common fields.
    EXPECT_EQ(s.SUMIMG, 0);
    EXPECT_EQ(s.BCGSUBTRACT, 0);
    EXPECT_EQ(s.REMOVENOISE, 0);
    EXPECT_EQ(s.AUTOCLIP, 1);
    EXPECT_EQ(s.BIN2x2MOV, 0);
    EXPECT_EQ(s.SAVSHARPREFMOV, 0);
    EXPECT_EQ(s.COLORCHANNEL, 1u);
    EXPECT_EQ(s.WHICHQUADRANT, 0u);
    EXPECT_EQ(s.SHARPEN, -1.0);
    EXPECT_EQ(s.GRADLEVEL, 0u);
    // The row.
    EXPECT_EQ(s.QUALITY, want(r[0], dirty.QUALITY));
    EXPECT_EQ(s.METHOD, want(r[1], dirty.METHOD));
    EXPECT_EQ(s.PROMPTCI, want(r[2], dirty.PROMPTCI));
    EXPECT_EQ(s.GAUSBLUR, want(r[3], dirty.GAUSBLUR));
    EXPECT_EQ(s.MANUALFRAMES, want(r[4], dirty.MANUALFRAMES));
    EXPECT_EQ(s.AUTOADJBRIGHTNESS, want(r[5], dirty.AUTOADJBRIGHTNESS));
    EXPECT_EQ(s.CTAVIMAGE, want(r[6], dirty.CTAVIMAGE));
    EXPECT_EQ(s.CTAVONLYSAVE, want(r[7], dirty.CTAVONLYSAVE));
    EXPECT_EQ(s.AUTOEXPALIGN, want(r[8], dirty.AUTOEXPALIGN));
    EXPECT_EQ(s.SHARPMATCH, want(r[9], dirty.SHARPMATCH));
    EXPECT_EQ(s.SPATIALSHARPNESS, want(r[10], dirty.SPATIALSHARPNESS));
    EXPECT_EQ(s.CTAVLIMITPERCENT, want(r[11], dirty.CTAVLIMITPERCENT));
    EXPECT_EQ(s.REMOVEHOTPIXEL, want(r[12], dirty.REMOVEHOTPIXEL));
    EXPECT_EQ(s.PIXELALIGN, want(r[13], dirty.PIXELALIGN));
    EXPECT_EQ(s.PERCENTFRAME, want(r[14], dirty.PERCENTFRAME));
    EXPECT_EQ(s.SCALE, want(r[15], dirty.SCALE));
    EXPECT_EQ(s.PIXELBLOCKSIZE, want(r[16], dirty.PIXELBLOCKSIZE));
    EXPECT_EQ(s.PIXELTOLERANCE, want(r[17], dirty.PIXELTOLERANCE));
    // Never the log switch or the folder; the pop-up is back on its first item
    // and the controls show the preset.
    EXPECT_EQ(s.POST, 1);
    EXPECT_EQ(s.DFLTFOPICK, 1);
    EXPECT_EQ(s.mOutputFolderSpec.parID, 12345);
    EXPECT_EQ(Value("PSET"), 1);
    EXPECT_EQ(Value("PIXL"), SInt32(s.PIXELALIGN + 1));
    EXPECT_EQ(Value("TOLR"), SInt32(s.PIXELTOLERANCE));
    EXPECT_EQ(ui::ControlText(ui::FindControl(window_, Sig("CIAM"), 1)), std::to_string(s.PERCENTFRAME));
  }
}

TEST_F(StackAlignWindow, EnablingRules) {
  // The eleventh preset turns the composite on with its options.
  Open(Dirty());
  ASSERT_EQ(ui::UserChooseItem(C("PSET"), 11), noErr);
  EXPECT_TRUE(Enabled("TAVI"));
  EXPECT_EQ(Value("TAVI"), 1);
  EXPECT_TRUE(Enabled("NOSI"));
  EXPECT_EQ(Value("NOSI"), 1);
  EXPECT_TRUE(Enabled("NOCR"));
  EXPECT_EQ(Value("NOCR"), 7);
  EXPECT_TRUE(Enabled("PXSZ"));

  // Summing greys and clears the composite boxes, and the working copy keeps
  // the composite choice.
  ASSERT_EQ(ui::UserClick(C("SUMM")), noErr);
  EXPECT_EQ(state_.SUMIMG, 1);
  EXPECT_FALSE(Enabled("TAVI"));
  EXPECT_EQ(Value("TAVI"), 0);
  EXPECT_FALSE(Enabled("NOSI"));
  EXPECT_EQ(Value("NOSI"), 0);
  EXPECT_FALSE(Enabled("NOCR"));
  EXPECT_EQ(state_.CTAVIMAGE, 1);
  EXPECT_TRUE(Enabled("SBCG"));

  // Back off: the composite shows again; then pixel alignment None only greys
  // the boxes, keeping their marks, and greys the pixel options.
  ASSERT_EQ(ui::UserClick(C("SUMM")), noErr);
  EXPECT_TRUE(Enabled("TAVI"));
  EXPECT_EQ(Value("TAVI"), 1);
  EXPECT_FALSE(Enabled("SBCG"));
  ASSERT_EQ(ui::UserChooseItem(C("PIXL"), 1), noErr);
  EXPECT_EQ(state_.PIXELALIGN, 0u);
  EXPECT_FALSE(Enabled("TAVI"));
  EXPECT_EQ(Value("TAVI"), 1);
  EXPECT_FALSE(Enabled("NOSI"));
  EXPECT_EQ(Value("NOSI"), 1);
  EXPECT_FALSE(Enabled("NOCR"));
  for (const char* sig : {"PXSZ", "TOLR", "AUAJ", "SHAR"})
    EXPECT_FALSE(IsControlEnabled(ui::FindControl(window_, Sig(sig), 0))) << sig;
  // Horizontal alignment is no manual selection: the boxes are cleared now.
  ASSERT_EQ(ui::UserChooseItem(C("PIXL"), 2), noErr);
  EXPECT_EQ(Value("TAVI"), 0);
  EXPECT_TRUE(Enabled("PXSZ"));

  // Unticking the composite greys its options.
  ASSERT_EQ(ui::UserChooseItem(C("PIXL"), 6), noErr);
  ASSERT_EQ(ui::UserClick(C("TAVI")), noErr);
  EXPECT_EQ(state_.CTAVIMAGE, 0);
  EXPECT_FALSE(Enabled("NOCR"));
  EXPECT_FALSE(Enabled("NOSI"));
}

TEST_F(StackAlignWindow, SharpeningItemsAndTheNoiseBox) {
  const struct {
    double sharpen;
    SInt32 item;
  } shown[] = {{-1.0, 1}, {-0.01, 1}, {0.0, 2}, {0.5, 2}, {1.0, 3}, {2.5, 4}, {2.55, 5}, {7.5, 6}, {10.0, 7}, {40.0, 8}};
  for (const auto& c : shown) {
    ui::ResetModel();
    StackAlignDialogState s = Dirty();
    s.SHARPEN = c.sharpen;
    Open(s);
    EXPECT_EQ(Value("SHRP"), c.item) << c.sharpen;
    EXPECT_EQ(Enabled("SMOO"), c.sharpen >= 0) << c.sharpen;
    EXPECT_EQ(Value("SMOO"), c.sharpen >= 0 ? 1 : 0) << c.sharpen;
  }
  ASSERT_EQ(ui::UserChooseItem(C("SHRP"), 1), noErr);
  EXPECT_EQ(state_.SHARPEN, -1.0);
  EXPECT_FALSE(Enabled("SMOO"));
  ASSERT_EQ(ui::UserChooseItem(C("SHRP"), 6), noErr);
  EXPECT_EQ(state_.SHARPEN, 7.5);
  EXPECT_TRUE(Enabled("SMOO"));
}

TEST_F(StackAlignWindow, ControlsReadBackIntoTheCopy) {
  StackAlignDialogState s = Dirty();
  s.SUMIMG = 0;
  Open(s);
  const struct {
    const char* sig;
    SInt32 item;
    std::function<double(const StackAlignDialogState&)> field;
    double expected;
  } pops[] = {
      {"RHCP", 1, [](const StackAlignDialogState& x) { return x.REMOVEHOTPIXEL; }, 0},
      {"RHCP", 24, [](const StackAlignDialogState& x) { return x.REMOVEHOTPIXEL; }, 23},
      {"METH", 1, [](const StackAlignDialogState& x) { return x.METHOD; }, 0},
      {"GRLV", 3, [](const StackAlignDialogState& x) { return x.GRADLEVEL; }, 2},
      {"CHAN", 2, [](const StackAlignDialogState& x) { return x.COLORCHANNEL; }, 2},
      {"TOLR", 9, [](const StackAlignDialogState& x) { return x.PIXELTOLERANCE; }, 9},
      {"SHSP", 1, [](const StackAlignDialogState& x) { return x.SPATIALSHARPNESS; }, 1},
      {"PXSZ", 4, [](const StackAlignDialogState& x) { return x.PIXELBLOCKSIZE; }, 4},
      {"QUAD", 1, [](const StackAlignDialogState& x) { return x.WHICHQUADRANT; }, 0},
      {"SCAL", 2, [](const StackAlignDialogState& x) { return x.SCALE; }, 2},
      {"NOCR", 12, [](const StackAlignDialogState& x) { return x.CTAVLIMITPERCENT; }, 12},
  };
  ASSERT_EQ(ui::UserChooseItem(C("PIXL"), 6), noErr);  // lets 'NOCR' be used
  for (const auto& p : pops) {
    ASSERT_EQ(ui::UserChooseItem(ui::FindControl(window_, Sig(p.sig), 0), p.item),
              noErr)
        << p.sig;
    EXPECT_EQ(p.field(state_), p.expected) << p.sig << " item " << p.item;
  }
  const struct {
    const char* sig;
    std::function<UInt8(const StackAlignDialogState&)> field;
  } boxes[] = {
      {"AUEX", [](const StackAlignDialogState& x) { return x.AUTOEXPALIGN; }},
      {"SREF", [](const StackAlignDialogState& x) { return x.SAVSHARPREFMOV; }},
      {"BAYR", [](const StackAlignDialogState& x) { return x.QUALITY; }},
      {"BIN2", [](const StackAlignDialogState& x) { return x.BIN2x2MOV; }},
      {"SHOC", [](const StackAlignDialogState& x) { return x.PROMPTCI; }},
      {"POST", [](const StackAlignDialogState& x) { return x.POST; }},
      {"MASL", [](const StackAlignDialogState& x) { return x.MANUALFRAMES; }},
      {"AUAJ", [](const StackAlignDialogState& x) { return x.AUTOADJBRIGHTNESS; }},
      {"AUCL", [](const StackAlignDialogState& x) { return x.AUTOCLIP; }},
      {"BLUR", [](const StackAlignDialogState& x) { return x.GAUSBLUR; }},
      {"SHAR", [](const StackAlignDialogState& x) { return x.SHARPMATCH; }},
      {"NOSI", [](const StackAlignDialogState& x) { return x.CTAVONLYSAVE; }},
      {"SMOO", [](const StackAlignDialogState& x) { return x.REMOVENOISE; }},
  };
  for (const auto& b : boxes) {
    ControlRef c = ui::FindControl(window_, Sig(b.sig), 0);
    ASSERT_EQ(ui::UserClick(c), noErr) << b.sig;  // every flag started at 1
    EXPECT_EQ(b.field(state_), 0) << b.sig;
  }
}

TEST_F(StackAlignWindow, TheSliderTextFollowsEveryMove) {
  Open(Dirty());
  ControlRef slider = C("CIAM");
  ControlRef text = ui::FindControl(window_, Sig("CIAM"), 1);
  EXPECT_EQ(ui::ControlText(text), "33");
  for (SInt32 v : {0, 42, 100}) {
    ASSERT_EQ(ui::UserSetValue(slider, v), noErr);
    EXPECT_EQ(ui::ControlText(text), std::to_string(v));
    EXPECT_EQ(state_.PERCENTFRAME, UInt32(v));
  }
  // Without a state behind it the action does nothing.
  SetControlReference(slider, 0);
  ASSERT_EQ(ui::UserSetValue(slider, 7), noErr);
  EXPECT_EQ(ui::ControlText(text), "100");
}

TEST_F(StackAlignWindow, MissingControlsAndOtherCommands) {
  // A nib of its own: the application's is the source tree's.
  WriteNib("Bare", "window \"Bare\" class=movable-modal title=\"Bare\" bounds=0,0,100,100\nend\n");
  Open(Dirty(), "Bare", "Bare");
  ScriptedUser user;
  user.AnswerAlert();
  // Settings commands whose control is missing change nothing; four of them
  // say so.
  for (const char* sig : {"PIXL", "SUMM"})
    ui::UserSendCommand(window_, Sig(sig));
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[0].message, "GetControlByID failed");
  EXPECT_EQ(state_.PIXELALIGN, 1u);
  EXPECT_EQ(state_.SUMIMG, 1);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(StackAlignWindow, TheFolderButtonTakesAChosenFolderAndKeepsTheOldOnCancel) {
  const std::string folder = MakeFolder("picked");
  StackAlignDialogState s = Dirty();
  s.DFLTFOPICK = 0;
  Open(s);
  {
    ScriptedUser user;
    nav::Cancel(user);
    ui::UserClick(C("DFFL"));
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(state_.DFLTFOPICK, 0);
  EXPECT_EQ(state_.mOutputFolderSpec.parID, 12345);
  {
    ScriptedUser user;
    nav::Choose(user, {folder});
    ui::UserClick(C("DFFL"));
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(state_.DFLTFOPICK, 1);
  // The location is the folder itself, with no name to drop.
  EXPECT_EQ(state_.mOutputFolderSpec.name[0], 0);
  EXPECT_EQ(FolderOf(state_.mOutputFolderSpec), folder);
}

TEST_F(StackAlignWindow, CopiesBackAdjustTheCompositeAndTheBackground) {
  StackAlignJob job;
  myInitStackAlignJob(&job);
  job.PROMPTAREA = 1;
  job.SPATIALSHARPNESS = 2;
  StackAlignDialogState s;
  memset(static_cast<void*>(&s), 0, sizeof s);
  myCopyJobToStackAlignState(&job, &s);
  EXPECT_EQ(s.SPATIALSHARPNESS, 3u);
  const struct {
    UInt32 pixelAlign;
    UInt8 sum, composite, background;
    UInt8 storedComposite, storedBackground;
  } cases[] = {
      {5, 0, 1, 1, 1, 0}, {5, 1, 1, 1, 0, 1}, {4, 0, 1, 0, 0, 0}, {5, 0, 0, 1, 0, 0}, {0, 1, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    s.PIXELALIGN = c.pixelAlign;
    s.SUMIMG = c.sum;
    s.CTAVIMAGE = c.composite;
    s.BCGSUBTRACT = c.background;
    myCopyStackAlignStateToJob(&s, &job);
    EXPECT_EQ(job.CTAVIMAGE, c.storedComposite) << c.pixelAlign << " " << int(c.sum);
    EXPECT_EQ(job.BCGSUBTRACT, c.storedBackground) << c.pixelAlign << " " << int(c.sum);
    EXPECT_EQ(job.SPATIALSHARPNESS, 2u);
    EXPECT_EQ(job.PROMPTAREA, 1);
  }
}

}  // namespace
