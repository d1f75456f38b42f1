// The photometry star-selection window, driven by the scripted user on a
// synthetic frame of Gaussian stars.
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "photometry/PhotomSelection.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "platform/quicktime/GraphicsExport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"
#include "utilities/ImageViews.h"

namespace {

using skyloom::ui::ScriptedUser;

constexpr UInt32 kW = 200, kH = 160;
constexpr UInt16 kSky = 0x2000;
constexpr OSType kSVAR = FOUR_CHAR_CODE("SVAR"), kSCON = FOUR_CHAR_CODE("SCON"), kDELS = FOUR_CHAR_CODE("DELS");
constexpr OSType kSVLO = FOUR_CHAR_CODE("SVLO"), kREPT = FOUR_CHAR_CODE("REPT"), kFWHM = FOUR_CHAR_CODE("FWHM");
constexpr OSType kOKSig = FOUR_CHAR_CODE("ok  ");

struct Star {
  double x, y;
};
// Far enough apart that one 32 x 32 centroid box never holds two.
const Star kStars[] = {{50, 40}, {100, 40}, {150, 45}, {50, 100}, {100, 110}, {150, 115}, {32, 80}};

class PhotomSelection : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    frame_.assign(size_t(kW) * kH + 32, kSky);
    for (const Star& s : kStars)
      for (UInt32 y = 0; y < kH; ++y)
        for (UInt32 x = 0; x < kW; ++x) {
          const double d2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
          frame_[y * kW + x] = UInt16(std::min(65535.0, frame_[y * kW + x] + 30000.0 * std::exp(-d2 / (2 * 1.5 * 1.5))));
        }
    std::memset(&data_, 0, sizeof data_);
    data_.mMono16FramePtr = frame_.data();
    data_.mWidth = kW;
    data_.mHeight = kH;
    data_.mOutputMode = 2;
    data_.mSaveLocations = 0;
    data_.mFWHMMultiplier = 1.5f;
    contexts_ = SkyloomCGLiveContextCount();
    images_ = SkyloomCGImageLiveObjectCount();
  }
  void TearDown() override {
    // Everything the window made is gone, whichever way it ended.
    EXPECT_EQ(SkyloomCGLiveContextCount(), contexts_);
    EXPECT_EQ(SkyloomCGImageLiveObjectCount(), images_);
    EXPECT_TRUE(skyloom::ui::Windows().empty());
    SkyloomCGSetRecording(false);
    UiTest::TearDown();
  }
  static TBPS* Rec() {
    WindowRef w = skyloom::ui::FindWindow("BatchPhotometry");
    return w ? reinterpret_cast<TBPS*>(GetWRefCon(w)) : nullptr;
  }
  static ControlRef Find(OSType sig, SInt32 id = 0) {
    return skyloom::ui::FindControl(skyloom::ui::FindWindow("BatchPhotometry"), sig, id);
  }
  // A click at an image point (the view is not scrolled).
  static void ClickImage(double x, double y) {
    ControlRef view = Rec()->theImageView;
    Point p{short(std::lround(y)), short(std::lround(x))};
    skyloom::ui::UserMouse(view, kEventMouseDown, p);
    skyloom::ui::UserMouse(view, kEventMouseUp, p);
  }
  static void ClickStar(int i) { ClickImage(kStars[i].x + 1, kStars[i].y - 1); }
  OSStatus Run() { return myPhotomBatchImageSelectionGUI(&data_); }

  std::vector<UInt16> frame_;
  MyBatchPhotomDataStruct data_;
  long contexts_ = 0, images_ = 0;
};

TEST_F(PhotomSelection, OpensWithItsControlsAndCancelHandsOverNoStars) {
  data_.mStarCount = 5;
  for (float& x : data_.mStarX) x = 33.0f;
  ScriptedUser user;
  user.Do([&] {
        ASSERT_NE(Rec(), nullptr);
        EXPECT_EQ(Rec()->mKind, 0xAFu);
        EXPECT_EQ(GetControl32BitValue(Find(kFWHM, 1)), 15);
        EXPECT_EQ(skyloom::ui::ControlText(Find(kFWHM)), "1.50");
        EXPECT_TRUE(IsControlEnabled(Find(kSVAR)) && IsControlEnabled(Find(kSCON)));
        EXPECT_FALSE(IsControlEnabled(Find(kDELS)));
        EXPECT_FALSE(IsControlEnabled(Find(kOKSig)));
        EXPECT_EQ(GetControl32BitValue(Find(kSVLO)), 0);
        EXPECT_EQ(GetControl32BitValue(Find(kREPT)), 3);
        EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeArrowCursor);
        EXPECT_EQ(Rec()->mShowEnlarged, 1u);
        EXPECT_NE(Rec()->mEnlargedInstance, nullptr);
        // The view shows the whole small frame, scroll bars hiding themselves.
        HIRect frame;
        HIViewGetFrame(Rec()->mScrollView, &frame);
        EXPECT_EQ(frame.size.width, kW);
        EXPECT_EQ(frame.size.height, kH);
        EXPECT_TRUE(HIScrollViewGetScrollBarAutoHide(Rec()->mScrollView));
        EXPECT_FALSE(HIImageViewIsOpaque(Rec()->theImageView));
      })
      .Command(kSVAR)
      .Do([] { ClickStar(0); })
      .Command(kSCON)
      .Do([] { ClickStar(1); })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(data_.mStarCount, 0u);
  for (float x : data_.mStarX) EXPECT_EQ(x, -1.0f);
}

TEST_F(PhotomSelection, OKNeedsOneStarOfEachKindAndHandsOverVariablesFirst) {
  ScriptedUser user;
  auto okEnabled = [] { return bool(IsControlEnabled(Find(kOKSig))); };
  user.Command(kSCON)
      .Do([] { ClickStar(3); })
      .Do([&] { EXPECT_FALSE(okEnabled()); })
      .Command(kSVAR)
      .Do([] { ClickStar(0); })
      .Do([&] {
        EXPECT_TRUE(okEnabled());
        EXPECT_EQ(GetControl32BitValue(Find(kSVAR)), 1);
        EXPECT_EQ(GetControl32BitValue(Find(kSCON)), 0);
        EXPECT_TRUE(IsControlEnabled(Find(kDELS)));
      })
      // Deleting the only comparison star takes OK away again.
      .Command(kDELS)
      .Do([] { ClickStar(3); })
      .Do([&] {
        EXPECT_FALSE(okEnabled());
        EXPECT_EQ(Rec()->mCompCount, 0u);
        EXPECT_EQ(Rec()->mStarX[8], -1.0f);
      })
      // Two variables and three comparisons, placed in a mixed order.
      .Command(kSCON)
      .Do([] {
        ClickStar(4);
        ClickStar(5);
      })
      .Command(kSVAR)
      .Do([] { ClickStar(1); })
      .Command(kSCON)
      .Do([] { ClickStar(6); })
      .ClickArrow(kFWHM, 1, true)
      .ChooseItem(kREPT, 0, 1)
      .ClickOK();
  ASSERT_EQ(Run(), noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  ASSERT_EQ(data_.mStarCount, 5u);
  const int expected[] = {0, 1, 4, 5, 6};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(data_.mStarIsVariable[i], i < 2 ? 1 : 0) << i;
    EXPECT_NEAR(data_.mStarX[i], kStars[expected[i]].x, 0.3) << i;
    EXPECT_NEAR(data_.mStarY[i], kStars[expected[i]].y, 0.3) << i;
  }
  EXPECT_FLOAT_EQ(data_.mFWHMMultiplier, 1.6f);
  EXPECT_EQ(data_.mOutputMode, 0);
}

TEST_F(PhotomSelection, NinthVariableLeavesPlacingQuietlyAndAFullGroupRefusesItsMode) {
  ScriptedUser user;
  long beeps = 0;
  user.Command(kSVAR)
      .Do([] {
        for (int i = 0; i < 8; ++i) ClickStar(i % 6);
      })
      .Do([&] {
        EXPECT_EQ(Rec()->mVarCount, 8u);
        EXPECT_EQ(Rec()->mMode, 1);
        EXPECT_FALSE(IsControlEnabled(Find(kSVAR)));
        beeps = SkyloomBeepCount();
        ClickStar(0);
        EXPECT_EQ(SkyloomBeepCount(), beeps);
        EXPECT_EQ(Rec()->mMode, 0);
        EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeArrowCursor);
        EXPECT_EQ(Rec()->mVarCount, 8u);
        for (int s = 8; s < 16; ++s) EXPECT_EQ(Rec()->mStarX[s], -1.0f);
      })
      // The box is disabled, so the command comes from the keyboard.
      .Command(kSVAR)
      .Do([] { EXPECT_EQ(Rec()->mMode, 0); })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(PhotomSelection, EdgeMarginDependsOnTheMode) {
  struct Case {
    OSType command;  // 0: stay in mode 0
    Point click;     // v, h: 20 pixels from an edge
    bool beeps;
  };
  const Case cases[] = {
      {kSVAR, {80, 20}, true},           {kSCON, {80, 20}, true},
      {kSVAR, {short(kH - 20), 100}, true}, {kSCON, {20, 100}, true},
      {kDELS, {80, 20}, false},          {0, {80, 20}, false},
  };
  for (const Case& c : cases) {
    skyloom::ui::ResetModel();
    ScriptedUser user;
    long beeps = 0;
    // A star 32 pixels from the left edge, placed first, for deletion to find.
    user.Command(kSVAR).Do([] { ClickStar(6); }).Command(kSVAR);
    if (c.command) user.Command(c.command);
    user.Do([&] {
          beeps = SkyloomBeepCount();
          ClickImage(c.click.h, c.click.v);
          EXPECT_EQ(SkyloomBeepCount() - beeps, c.beeps ? 1 : 0) << c.command << " " << c.click.h;
          if (c.command == kDELS)
            EXPECT_EQ(Rec()->mVarCount, 0u);  // the click 12 pixels from it took it away
          else
            EXPECT_EQ(Rec()->mVarCount, 1u);
          EXPECT_EQ(Rec()->mCompCount, 0u);
        })
        .ClickCancel();
    EXPECT_EQ(Run(), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
  }
}

TEST_F(PhotomSelection, DeletingAVariableRelabelsTheLaterOnesAndLeavesComparisons) {
  ScriptedUser user;
  std::vector<SkyloomCGCall> calls;
  user.Command(kSVAR)
      .Do([] {
        for (int i = 0; i < 4; ++i) ClickStar(i);
      })
      .Command(kSCON)
      .Do([] {
        ClickStar(4);
        ClickStar(5);
      })
      .Command(kDELS)
      .Do([&] {
        EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemePointingHandCursor);
        SkyloomCGSetRecording(true);
        ClickStar(1);
        calls = SkyloomCGRecordedCalls();
        SkyloomCGSetRecording(false);
        TBPS* r = Rec();
        EXPECT_EQ(r->mVarCount, 3u);
        EXPECT_NEAR(r->mStarX[1], kStars[2].x, 0.3);
        EXPECT_NEAR(r->mStarX[2], kStars[3].x, 0.3);
        EXPECT_EQ(r->mStarX[3], -1.0f);
        EXPECT_EQ(r->mStarY[3], -1.0f);
        EXPECT_NEAR(r->mStarX[8], kStars[4].x, 0.3);
        EXPECT_NEAR(r->mStarX[9], kStars[5].x, 0.3);
      })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
  // The rebuilt picture labels every star by its new slot.
  std::vector<std::pair<std::string, double>> labels;  // text, x
  for (const auto& c : calls)
    if (c.name == "CGContextShowTextAtPoint") labels.emplace_back(c.text, c.args[0]);
  ASSERT_EQ(labels.size(), 5u);
  const char* names[] = {"V0", "V1", "V2", "C0", "C1"};
  const int stars[] = {0, 2, 3, 4, 5};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(labels[i].first, names[i]);
    EXPECT_GT(labels[i].second, kStars[stars[i]].x) << names[i];
    EXPECT_LT(labels[i].second, kStars[stars[i]].x + 20) << names[i];
  }
}

TEST_F(PhotomSelection, ModeCommandsArrowsAndPopUp) {
  ScriptedUser user;
  user.Command(kSVAR)
      .Do([] { EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeCrossCursor); })
      .Command(kSCON)
      .Do([] {
        EXPECT_EQ(Rec()->mMode, 2);
        EXPECT_EQ(GetControl32BitValue(Find(kSVAR)), 0);
        EXPECT_EQ(GetControl32BitValue(Find(kSCON)), 1);
        EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeCrossCursor);
      })
      .Command(kSCON)
      .Do([] {
        EXPECT_EQ(Rec()->mMode, 0);
        EXPECT_EQ(skyloom::ui::CurrentCursor(), kThemeArrowCursor);
      })
      .ClickArrow(kFWHM, 1, true)
      .Do([] {
        EXPECT_EQ(GetControl32BitValue(Find(kFWHM, 1)), 16);
        EXPECT_FLOAT_EQ(Rec()->mFWHMMultiplier, 1.6f);
        EXPECT_EQ(skyloom::ui::ControlText(Find(kFWHM)), "1.60");
        SetControl32BitValue(Find(kFWHM, 1), GetControl32BitMaximum(Find(kFWHM, 1)));
      })
      .ClickArrow(kFWHM, 1, true)  // past the top: refused
      .Do([] {
        EXPECT_EQ(GetControl32BitValue(Find(kFWHM, 1)), GetControl32BitMaximum(Find(kFWHM, 1)));
        EXPECT_FLOAT_EQ(Rec()->mFWHMMultiplier, 1.6f);
      })
      .ClickArrow(kFWHM, 1, false)
      .Do([] { EXPECT_FLOAT_EQ(Rec()->mFWHMMultiplier, 0.1f * (GetControl32BitMaximum(Find(kFWHM, 1)) - 1)); })
      .ChooseItem(kREPT, 0, 2)
      .Do([] { EXPECT_EQ(Rec()->mOutputMode, 1u); })
      .Click(kSVLO, 0)
      .Do([] { EXPECT_EQ(Rec()->mSaveLocations, 1); })
      .Click(kSVLO, 0)
      .Do([] { EXPECT_EQ(Rec()->mSaveLocations, 0); })
      .CloseWindow();  // the close box cancels
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

// The marked picture on a record of its own: circles at r, 1.5 r and 2.2 r
// around (x, height - y), red for variables and blue for comparisons.
TEST_F(PhotomSelection, MarkedPictureDrawsThreeCirclesAndALabelPerStar) {
  TBPS r;
  std::memset(&r, 0, sizeof r);
  r.mKind = 0xAF;
  r.mWidth = kW;
  r.mHeight = kH;
  r.mStarsPerKind = 8;
  r.mFWHMMultiplier = 1.5f;
  for (int s = 0; s < 16; ++s) r.mStarX[s] = r.mStarY[s] = -1.0f;
  std::vector<UInt8> grey(size_t(kW) * kH * 4 + 64);
  for (size_t i = 0; i < size_t(kW) * kH; ++i) {
    grey[4 * i] = 0xFF;
    grey[4 * i + 1] = grey[4 * i + 2] = grey[4 * i + 3] = 0x20;
  }
  r.mDisplayImage = grey.data();
  r.mStarX[0] = 60;
  r.mStarY[0] = 50;
  r.mStarFWHM[0] = 4;
  r.mStarIsVariable[0] = 1;
  r.mStarX[8] = 140;
  r.mStarY[8] = 110;
  r.mStarFWHM[8] = 4;

  SkyloomCGSetRecording(true);
  CGImageRef image = nullptr;
  ASSERT_EQ(myPhotomImageTranferImage(&r, &image), noErr);
  const auto calls = SkyloomCGRecordedCalls();
  SkyloomCGSetRecording(false);
  std::vector<std::vector<double>> arcs, strokes;
  std::vector<SkyloomCGCall> texts;
  for (const auto& c : calls) {
    if (c.name == "CGContextAddArc") arcs.push_back(c.args);
    if (c.name == "CGContextSetRGBStrokeColor") strokes.push_back(c.args);
    if (c.name == "CGContextShowTextAtPoint") texts.push_back(c);
  }
  ASSERT_EQ(arcs.size(), 6u);
  const double radii[] = {6, 9, 13.2};
  for (int k = 0; k < 3; ++k) {
    EXPECT_DOUBLE_EQ(arcs[k][0], 60);
    EXPECT_DOUBLE_EQ(arcs[k][1], kH - 50.0);
    EXPECT_NEAR(arcs[k][2], radii[k], 1e-5);
    EXPECT_NEAR(arcs[3 + k][0], 140, 1e-9);
    EXPECT_NEAR(arcs[3 + k][1], kH - 110.0, 1e-9);
  }
  ASSERT_EQ(strokes.size(), 2u);
  EXPECT_EQ(strokes[0], (std::vector<double>{1.0, 0.1, 0.1, 1.0}));
  EXPECT_EQ(strokes[1], (std::vector<double>{0.0, 0.0, 1.0, 1.0}));
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "V0");
  EXPECT_NEAR(texts[0].args[0], 60 + 13.2 + 4, 1e-5);
  EXPECT_NEAR(texts[0].args[1], kH - 50.0 - 6, 1e-9);
  EXPECT_EQ(texts[1].text, "C0");

  // Pixels: red on the radius-6 circle, the grey frame between the circles.
  UInt16 px[4];
  for (auto [dx, dy] : {std::pair{6, 0}, {-6, 0}, {0, 6}, {0, -6}}) {
    int best = 0;
    for (int e = -1; e <= 0; ++e) {
      ASSERT_TRUE(SkyloomCGImagePixel(image, 60 + dx + (dx ? e : 0), 50 + dy + (dy ? e : 0), px));
      best = std::max(best, int(px[0]) - int(px[1]));
    }
    EXPECT_GT(best, 60) << dx << "," << dy;
  }
  ASSERT_TRUE(SkyloomCGImagePixel(image, 60 + 3, 50, px));
  EXPECT_EQ(px[0], 0x20);
  EXPECT_EQ(px[1], 0x20);
  ASSERT_TRUE(SkyloomCGImagePixel(image, 10, 150, px));
  EXPECT_EQ(px[2], 0x20);
  CGImageRelease(image);
}

class PhotomSelectionFiles : public PhotomSelection {
 protected:
  void SetUp() override {
    PhotomSelection::SetUp();
    char tmpl[] = "/tmp/skyloom-photsel-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    out_ = tmpl;
    data_.mSaveLocations = 1;
  }
  void TearDown() override {
    SkyloomSetGraphicsExportRecorder(nullptr);
    std::filesystem::remove_all(out_);
    PhotomSelection::TearDown();
  }
  void PickAndAccept(ScriptedUser& user) {
    user.Command(kSVAR).Do([] { ClickStar(0); }).Command(kSCON).Do([] { ClickStar(4); }).ClickOK();
    skyloom::nav::SaveInto(user, out_);
  }
  std::string out_;
};

TEST_F(PhotomSelectionFiles, SavesThePickedStarsAsAnRGBATIFF) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  ScriptedUser user;
  PickAndAccept(user);
  ASSERT_EQ(Run(), noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  const std::string file = out_ + "/Photom Picked Stars.tiff";
  const std::string info = skyloom::test::Run("tiffinfo '" + file + "' 2>&1");
  EXPECT_NE(info.find("Bits/Sample: 8"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 4"), std::string::npos) << info;
  EXPECT_EQ(info.find("rror"), std::string::npos) << info;

  TIFF* t = TIFFOpen(file.c_str(), "r");
  ASSERT_NE(t, nullptr);
  std::vector<uint32_t> rgba(size_t(kW) * kH);
  ASSERT_EQ(TIFFReadRGBAImageOriented(t, kW, kH, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
  TIFFClose(t);
  auto at = [&](int x, int y) { return rgba[size_t(y) * kW + x]; };
  // The radius-6 circle (FWHM about 3.5 x 1.5 gives r about 5.3) around V0.
  const double r = 1.5 * 2.3548 * 1.5;
  int reds = 0;
  for (int a = 0; a < 16; ++a) {
    const double th = a * 2 * 3.14159265 / 16;
    const int x = int(std::lround(kStars[0].x + r * std::cos(th))), y = int(std::lround(kStars[0].y + r * std::sin(th)));
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        uint32_t p = at(x + dx, y + dy);
        if (int(TIFFGetR(p)) - int(TIFFGetG(p)) > 60) {
          ++reds;
          dy = dx = 2;
        }
      }
  }
  EXPECT_GE(reds, 14);
  // The grey frame where nothing is drawn.
  uint32_t p = at(10, 150);
  EXPECT_EQ(int(TIFFGetR(p)), kSky >> 8);
  EXPECT_EQ(int(TIFFGetG(p)), kSky >> 8);
  EXPECT_EQ(int(TIFFGetB(p)), kSky >> 8);
}

TEST_F(PhotomSelectionFiles, AFailingWriteIsReportedAndTheSelectionStands) {
  SkyloomSetGraphicsExportRecorder([](const GraphicsExportRecord&) -> OSErr { return dskFulErr; });
  ScriptedUser user;
  PickAndAccept(user);
  user.AnswerAlert();
  ASSERT_EQ(Run(), noErr);
  EXPECT_TRUE(user.Errors().empty()) << user.Errors()[0];
  EXPECT_EQ(data_.mStarCount, 2u);
  ASSERT_FALSE(skyloom::ui::Alerts().empty());
  EXPECT_EQ(skyloom::ui::Alerts().back().title, "OSX Err");
  EXPECT_EQ(skyloom::ui::Alerts().back().message,
            "mySaveCGImageRefToFileFSRef Saving tiff file of selectiosn points failed");
}

TEST_F(PhotomSelection, MouseMovesFeedTheMagnifierFromTheFrame) {
  ScriptedUser user;
  std::vector<UInt8> expected;
  user.MoveMouse(Point{short(20 + 40), short(20 + 50)})  // over image point (50, 40)
      .Do([&] {
        TBPS* r = Rec();
        EXPECT_EQ(r->mViewCenterX, 50u);
        EXPECT_EQ(r->mViewCenterY, 40u);
        ASSERT_NE(r->mEnlargedBuffer, nullptr);
        Rect b;
        GetControlBounds(Find(FOUR_CHAR_CODE("ENLV")), &b);
        const UInt32 w = UInt32(b.right - b.left - 4), h = UInt32(b.bottom - b.top - 4);
        expected.assign(size_t(w) * h * 4, 0);
        myExtractARGB32BlockFromImageAndScale3X(r->mMono16FramePtr, 16, kW, kH, kW * 2, 50, 40, expected.data(), w,
                                                h, w * 4);
        // The 3 x 3 cells cover 3 (w / 3) columns of 3 (h / 3) rows.
        for (UInt32 row = 0; row < 3 * (h / 3); ++row)
          ASSERT_EQ(std::memcmp(r->mEnlargedBuffer + row * w * 4, expected.data() + row * w * 4, 3 * (w / 3) * 4), 0)
              << row;
      })
      // Beyond the view's right and bottom edges: the view's size.
      .MoveMouse(Point{short(20 + kH + 30), short(20 + kW + 30)})
      .Do([] {
        EXPECT_EQ(Rec()->mViewCenterX, kW);
        EXPECT_EQ(Rec()->mViewCenterY, kH);
      })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

// A frame larger than the screen: the window is fitted to the screen, the
// view scrolls, and clicks and mouse moves add the scroll origin.
TEST_F(PhotomSelection, ScrolledViewAddsItsOriginToClicksAndMoves) {
  constexpr UInt32 W = 1000, H = 700;
  constexpr double SX = 800, SY = 600;
  std::vector<UInt16> big(size_t(W) * H + 32, kSky);
  for (UInt32 y = 580; y < 620; ++y)
    for (UInt32 x = 780; x < 820; ++x) {
      const double d2 = (x - SX) * (x - SX) + (y - SY) * (y - SY);
      big[y * W + x] = UInt16(kSky + 30000.0 * std::exp(-d2 / 4.5));
    }
  data_.mMono16FramePtr = big.data();
  data_.mWidth = W;
  data_.mHeight = H;
  skyloom::ui::SetScreenBounds(Rect{0, 0, 800, 1000}, Rect{22, 0, 800, 1000});
  ScriptedUser user;
  HIPoint origin{0, 0};
  user.Do([&] {
        TBPS* r = Rec();
        HIRect frame;
        HIViewGetFrame(r->mScrollView, &frame);
        EXPECT_LT(frame.size.width, W);
        EXPECT_LT(frame.size.height, H);
        Rect bounds;
        GetWindowBounds(r->mWindow, kWindowStructureRgn, &bounds);
        EXPECT_LE(bounds.bottom, 800);
        // Scroll as far as the view goes towards the star.
        EventRef e = nullptr;
        CreateEvent(nullptr, kEventClassScrollable, kEventScrollableScrollTo, 0, 0, &e);
        HIPoint to = CGPointMake(SX - 100, SY - 100);
        SetEventParameter(e, kEventParamOrigin, typeHIPoint, sizeof to, &to);
        SendEventToControl(e, r->theImageView);
        ReleaseEvent(e);
        CreateEvent(nullptr, kEventClassScrollable, kEventScrollableGetInfo, 0, 0, &e);
        SendEventToControl(e, r->theImageView);
        GetEventParameter(e, kEventParamOrigin, typeHIPoint, nullptr, sizeof origin, nullptr, &origin);
        ReleaseEvent(e);
        EXPECT_GT(origin.y, 0);
      })
      .Command(kSVAR)
      .Do([&] {
        Point p{short(SY - origin.y - 1), short(SX - origin.x + 1)};
        skyloom::ui::UserMouse(Rec()->theImageView, kEventMouseDown, p);
        skyloom::ui::UserMouse(Rec()->theImageView, kEventMouseUp, p);
        EXPECT_NEAR(Rec()->mStarX[0], SX, 0.3);
        EXPECT_NEAR(Rec()->mStarY[0], SY, 0.3);
      })
      .Do([&] {
        Rect b;
        GetControlBounds(Rec()->mScrollView, &b);
        skyloom::ui::UserMouseInWindow(Rec()->mWindow, kEventMouseMoved, Point{short(b.top + 10), short(b.left + 20)});
        EXPECT_EQ(Rec()->mViewCenterX, UInt32(origin.x + 20));
        EXPECT_EQ(Rec()->mViewCenterY, UInt32(origin.y + 10));
      })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

// The controller bound to this window's record: the shared table of events.
TEST_F(PhotomSelection, MagnifierControllerDrawsOnlyWhileShown) {
  ScriptedUser user;
  user.Do([] {
        TBPS* r = Rec();
        ControlRef view = r->mEnlargedView;
        ASSERT_NE(view, nullptr);
        r->mViewCenterX = 70;
        r->mViewCenterY = 60;
        auto send = [&](EventClass cls, EventKind kind) {
          EventRef e = nullptr;
          CreateEvent(nullptr, cls, kind, 0, 0, &e);
          SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof view, &view);
          OSStatus s = myBatchPhotomEnlargedViewCustomeControlller(nullptr, e, r);
          ReleaseEvent(e);
          return s;
        };
        SkyloomCGSetRecording(true);
        EXPECT_EQ(send(kEventClassControl, kEventControlDraw), noErr);
        auto blits = [] {
          long n = 0;
          for (const auto& c : SkyloomCGRecordedCalls()) n += c.name == "CGContextDrawImage";
          return n;
        };
        EXPECT_EQ(blits(), 1);
        r->mShowEnlarged = 0;
        SkyloomCGSetRecording(true);
        EXPECT_EQ(send(kEventClassControl, kEventControlActivate), noErr);
        EXPECT_EQ(blits(), 0);
        EXPECT_EQ(send(kEventClassControl, kEventControlHit), eventNotHandledErr);
        SkyloomCGSetRecording(false);
        r->mShowEnlarged = 1;
        EXPECT_EQ(r->mViewCenterX, 70u);
        EXPECT_EQ(myBatchPhotomEnlargedViewCustomeControlller(nullptr, nullptr, nullptr), eventNotHandledErr);
      })
      .ClickCancel();
  EXPECT_EQ(Run(), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

// Every failing step returns its status with nothing left over; the view
// class is unregistered, so the next run registers it again.
TEST_F(PhotomSelection, FailuresReturnTheirStatusAndReleaseEverything) {
  struct Case {
    const char* call;
    int nth;
    OSStatus status;
  };
  const Case cases[] = {
      {"HIObjectRegisterSubclass", 1, -22080},
      {"CreateWindowFromNib", 1, kIBCarbonRuntimeCantFindObject},
      {"InstallEventHandler", 1, eventInternalErr},  // the window's handler
      {"HIScrollViewCreate", 1, memFullErr},
      {"HIImageViewCreate", 1, memFullErr},
      {"InstallEventHandler", 2, eventInternalErr},  // the view's click handler
      {"alloc", 1, memFullErr},                      // the record
      {"alloc", 2, memFullErr},                      // the display copy
      {"alloc", 3, memFullErr},                      // the picture's pixels
  };
  for (const Case& c : cases) {
    skyloom::ui::ResetModel();
    if (std::string(c.call) == "alloc")
      SkyloomPhotomSelectionFailAllocation(c.nth);
    else
      skyloom::ui::InjectFailureAt(c.call, c.status, c.nth);
    data_.mStarCount = 3;
    EXPECT_EQ(Run(), c.status) << c.call << " " << c.nth;
    SkyloomPhotomSelectionFailAllocation(0);
    EXPECT_EQ(data_.mStarCount, 0u);
    EXPECT_TRUE(skyloom::ui::Windows().empty()) << c.call;
    EXPECT_EQ(SkyloomCGLiveContextCount(), contexts_) << c.call;
    EXPECT_EQ(SkyloomCGImageLiveObjectCount(), images_) << c.call;
    // Nothing of the failed run stands in the way of the next one.
    ScriptedUser user;
    user.ClickCancel();
    EXPECT_EQ(Run(), userCanceledErr) << c.call << " " << c.nth;
    EXPECT_TRUE(user.Errors().empty()) << c.call;
  }
}

TEST(PhotomFiles, OutputModeChoosesTheTablesAndSkipsClosedOnes) {
  struct Case {
    SInt32 mode;
    bool simpleOpen, detailedOpen;
    const char* simple;
    const char* detailed;
  };
  const Case cases[] = {
      {0, true, true, "a\r", ""},   {1, true, true, "", "a\r"},   {2, true, true, "a\r", "a\r"},
      {7, true, true, "a\r", "a\r"}, {2, false, true, "", "a\r"}, {1, true, false, "", ""},
  };
  for (const Case& c : cases) {
    MyBatchPhotomDataStruct d;
    std::memset(&d, 0, sizeof d);
    d.mOutputMode = c.mode;
    char* simpleText = nullptr;
    char* detailedText = nullptr;
    size_t simpleSize = 0, detailedSize = 0;
    FILE* simple = open_memstream(&simpleText, &simpleSize);
    FILE* detailed = open_memstream(&detailedText, &detailedSize);
    d.mSimpleFile = c.simpleOpen ? simple : nullptr;
    d.mDetailedFile = c.detailedOpen ? detailed : nullptr;
    myOutputStringToPhotomFiles(&d, "a\r");
    fclose(simple);
    fclose(detailed);
    EXPECT_EQ(std::string(simpleText, simpleSize), c.simple) << c.mode;
    EXPECT_EQ(std::string(detailedText, detailedSize), c.detailed) << c.mode;
    free(simpleText);
    free(detailedText);
  }
}

}  // namespace
