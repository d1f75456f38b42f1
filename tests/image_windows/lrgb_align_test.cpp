// The manual LRGB alignment window on the headless window model: its start,
// the pop-up rules, moves by key and drag with their limits, the edit fields,
// the crop on OK, the redraw (recorded calls and canvas bytes), the 3x view
// and the failures while it is built.
#include "image_windows/LRGBAlign.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType Sig(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }
constexpr char kLeft = 28, kRight = 29, kUp = 30, kDown = 31;

// One layer's display copy: every pixel (alpha 128) the same colour, bytes 0
// or 255 only, which the viewing stretch leaves as they are.
std::vector<UInt8> flatLayer(UInt32 w, UInt32 h, UInt8 r, UInt8 g, UInt8 b) {
  std::vector<UInt8> img(size_t(w) * h * 4 + 16, 0);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    img[4 * i] = 128, img[4 * i + 1] = r, img[4 * i + 2] = g, img[4 * i + 3] = b;
  }
  return img;
}

class LRGBAlign : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    // The import hands over an unzeroed record.
    r_ = static_cast<MyLRGBAlignDataStruct*>(std::malloc(sizeof(MyLRGBAlignDataStruct)));
    std::memset(r_, 0xCD, sizeof *r_);
    for (auto& p : r_->mLayerImage) p = nullptr;
    r_->mOpaque = 0;
  }
  void TearDown() override {
    std::free(r_);
    UiTest::TearDown();
  }
  // Layers by slot (width, height, colour); reference and active as the import sets them.
  void Layers(std::vector<std::array<UInt32, 5>> layers, UInt32 reference, UInt32 active) {
    images_.clear();
    for (auto& l : layers) images_.push_back(flatLayer(l[0], l[1], UInt8(l[2]), UInt8(l[3]), UInt8(l[4])));
    for (size_t k = 0; k < layers.size(); ++k) {
      r_->mLayerImage[k] = images_[k].data();
      r_->mLayerWidth[k] = layers[k][0];
      r_->mLayerHeight[k] = layers[k][1];
      r_->mLayerRowBytes[k] = layers[k][0] * 4;
    }
    r_->mLayerCount = UInt32(layers.size());
    r_->mReferenceLayer = reference;
    r_->mActiveLayer = active;
  }
  // Two 400 x 300 layers: a white luma and a red colour layer (active).
  void TwoLayers() { Layers({{400, 300, 255, 255, 255}, {400, 300, 255, 0, 0}}, 0, 1); }
  WindowRef Window() const { return FindWindow("LRGBAlign"); }
  ControlRef Control(const char (&s)[5], SInt32 id = 0) const { return FindControl(Window(), Sig(s), id); }
  void SetCropSentinel() {
    r_->mCropLeft = r_->mCropTop = r_->mCropRight = r_->mCropBottom = 0xDEAD;
    r_->mCompositeWidth = r_->mCompositeHeight = 0xDEAD;
  }
  std::vector<UInt32> Crop() const { return {r_->mCropLeft, r_->mCropTop, r_->mCropRight, r_->mCropBottom}; }
  // Canvas pixel (x, row) as A, R, G, B bytes.
  std::vector<int> CanvasAt(UInt32 x, UInt32 y) const {
    const UInt8* p = r_->mCanvas + size_t(y) * r_->mCanvasRowBytes + 4 * size_t(x);
    return {p[0], p[1], p[2], p[3]};
  }
  MyLRGBAlignDataStruct* r_ = nullptr;
  std::vector<std::vector<UInt8>> images_;
};

TEST_F(LRGBAlign, StartCentresTheLayersOnACanvasHalfAgainAsLarge) {
  Layers({{400, 300, 255, 255, 255}, {300, 200, 0, 255, 0}}, 0, 1);
  SetCropSentinel();
  ScriptedUser user;
  user.Do([&] {
        EXPECT_EQ(r_->mRecordTag, kLRGBAlignRecordTag);
        EXPECT_EQ(r_->mCanvasWidth, 600u);
        EXPECT_EQ(r_->mCanvasHeight, 450u);
        EXPECT_EQ(r_->mCanvasRowBytes, 2400u);
        EXPECT_EQ(r_->mCanvasCenterX, 300u);
        EXPECT_EQ(r_->mCanvasCenterY, 225u);
        EXPECT_EQ(r_->mMaxLayerWidth, 400u);
        EXPECT_EQ(r_->mMaxLayerHeight, 300u);
        EXPECT_EQ(r_->mOffsetX[0], 100);
        EXPECT_EQ(r_->mOffsetY[0], 75);
        EXPECT_EQ(r_->mOffsetX[1], 150);
        EXPECT_EQ(r_->mOffsetY[1], 125);
        EXPECT_EQ(r_->mScaledWidth[1], 300u);
        EXPECT_EQ(r_->mRotation[1], 0.0f);
        EXPECT_EQ(r_->mZoom, 1.0f);
        EXPECT_EQ(r_->mShowEnlarged, 1u);
        EXPECT_NE(r_->mEnlargedView, nullptr);
        EXPECT_EQ(r_->mEnlargedInstance, r_->mEnlargedView);
        EXPECT_EQ(ControlText(Control("WIDL")), "0");
        EXPECT_EQ(ControlText(Control("ROAT")), "0.000");
        EXPECT_EQ(FocusedControl(Window()), Control("WIDL"));
        EXPECT_EQ(ControlKeyFilter(Control("ROAT")), &myAlignImageKeyProc);
        EXPECT_TRUE(IsWindowVisible(Window()));
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_EQ(r_->mAccepted, 0);
  EXPECT_EQ(Crop(), (std::vector<UInt32>{0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD}));
  EXPECT_EQ(r_->mCompositeWidth, 0xDEADu);
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(r_->mCanvas, nullptr);
  EXPECT_EQ(r_->mEnlargedClass, nullptr);  // unregistered
  EXPECT_EQ(r_->mShowEnlarged, 0u);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

TEST_F(LRGBAlign, PopUpsFollowTheLayerCount) {
  // Two layers: luma and RGB.
  TwoLayers();
  ScriptedUser user;
  user.Do([&] {
        ControlRef acly = Control("ACLY"), sizl = Control("SIZL");
        EXPECT_EQ(GetControl32BitValue(acly), 2);
        EXPECT_FALSE(IsControlEnabled(acly));
        MenuRef m = GetControlPopupMenuHandle(sizl);
        EXPECT_TRUE(IsMenuItemEnabled(m, 1));
        EXPECT_TRUE(IsMenuItemEnabled(m, 2));
        EXPECT_FALSE(IsMenuItemEnabled(m, 3));
        EXPECT_FALSE(IsMenuItemEnabled(m, 4));
        EXPECT_EQ(MenuItemText(m, 2), "RGB");
        EXPECT_EQ(GetControl32BitValue(sizl), 1);
      })
      .ChooseItem(Sig("SIZL"), 0, 2)
      .Do([&] { EXPECT_EQ(r_->mSizeLayer, 1u); })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());

  // Three layers: red, green (reference), blue.
  Layers({{40, 30, 255, 0, 0}, {40, 30, 0, 255, 0}, {40, 30, 0, 0, 255}}, 1, 0);
  ScriptedUser three;
  three.Do([&] {
         MenuRef acly = GetControlPopupMenuHandle(Control("ACLY"));
         EXPECT_TRUE(IsControlEnabled(Control("ACLY")));
         EXPECT_TRUE(IsMenuItemEnabled(acly, 1));
         EXPECT_FALSE(IsMenuItemEnabled(acly, 2));
         EXPECT_TRUE(IsMenuItemEnabled(acly, 3));
         EXPECT_EQ(ControlItems(Control("SIZL")), (std::vector<std::string>{"Red Layer", "Green Layer", "Blue Layer"}));
       })
      .ChooseItem(Sig("ACLY"), 0, 3)
      .Do([&] { EXPECT_EQ(r_->mActiveLayer, 2u); })
      .ChooseItem(Sig("SIZL"), 0, 3)
      .Do([&] { EXPECT_EQ(r_->mSizeLayer, 2u); })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(three.Errors().empty());

  // Four layers: the luma is the reference; 'ACLY' item n moves layer n.
  Layers({{40, 30, 255, 255, 255}, {40, 30, 255, 0, 0}, {40, 30, 0, 255, 0}, {40, 30, 0, 0, 255}}, 0, 1);
  ScriptedUser four;
  SInt32 before[4] = {};
  four.Do([&] {
        EXPECT_EQ(GetControl32BitValue(Control("ACLY")), 1);
        EXPECT_EQ(ControlItems(Control("SIZL")).size(), 4u);
        // A 60 x 45 canvas in a larger well: only the canvas is copied.
        CGrafPtr port = GetWindowPort(Window());
        const Rect w = r_->mWellRect;
        ASSERT_GT(w.right - w.left, 100);
        EXPECT_EQ(SkyloomPortPixel(port, w.left + 59, w.top + 44), 0xFF000000u | 0x808080u);
        EXPECT_EQ(SkyloomPortPixel(port, w.left + 60, w.top + 10), kSkyloomWindowBackground);
        EXPECT_EQ(SkyloomPortPixel(port, w.left + 10, w.top + 45), kSkyloomWindowBackground);
      })
      .ChooseItem(Sig("ACLY"), 0, 2)
      .Do([&] { std::copy(r_->mOffsetX, r_->mOffsetX + 4, before); })
      .Key(kRight, 0x7C)
      .Do([&] {
        EXPECT_EQ(r_->mActiveLayer, 2u);
        EXPECT_EQ(r_->mOffsetX[2], before[2] + 1);
        EXPECT_EQ(r_->mOffsetX[1], before[1]);
      })
      .ChooseItem(Sig("ACLY"), 0, 3)
      .Key(kRight, 0x7C)
      .Do([&] { EXPECT_EQ(r_->mOffsetX[3], before[3] + 1); })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(four.Errors().empty());
}

TEST_F(LRGBAlign, ViewingStretchWidensNarrowSpansToSixtyFourLevels) {
  // Levels given: lo 10, hi 200.
  std::vector<UInt8> px = {128, 100, 10, 200, 128, 9, 11, 255};
  myLRGBAlignStretchBytes(px.data(), 2, 1, 8, 10, 200);
  EXPECT_EQ(px, (std::vector<UInt8>{128, 120, 0, 255, 128, 0, 1, 255}));
  // A span of 30 is taken as 64: 255 / 64 in 16.16 up to lo + 64.
  px = {128, 10 + 32, 10 + 63, 10 + 64, 128, 10 + 1, 10 + 30, 0, 7, 7, 7, 7};
  myLRGBAlignStretchBytes(px.data(), 2, 1, 12, 10, 40);
  EXPECT_EQ(px, (std::vector<UInt8>{128, 127, 251, 255, 128, 3, 119, 0, 7, 7, 7, 7}));  // row padding untouched
  // No span: the copy stays as it is.
  px = {128, 50, 60, 70};
  myLRGBAlignStretchBytes(px.data(), 1, 1, 4, 60, 60);
  myLRGBAlignStretchBytes(px.data(), 1, 1, 4, 60, 20);
  EXPECT_EQ(px, (std::vector<UInt8>{128, 50, 60, 70}));
  // Through the histogram: half the bytes 10, half 200, one pixel 100 gives
  // lo 10 and hi 200 at 0.5 % and 99.5 %.
  std::vector<UInt8> img;
  for (int i = 0; i < 200; ++i) {
    const UInt8 v = i == 0 ? 100 : (i % 2 ? 10 : 200);
    img.insert(img.end(), {128, v, v, v});
  }
  myLRGBAlignStretchDisplayCopy(img.data(), 20, 10, 80);
  EXPECT_EQ(img[0], 128);
  EXPECT_EQ(img[1], 120);
  EXPECT_EQ(img[5], 0);    // 10
  EXPECT_EQ(img[9], 255);  // 200
  EXPECT_EQ(img[8], 128);
}

TEST_F(LRGBAlign, ArrowKeysStopAtTheirLimitsWithABeep) {
  TwoLayers();
  long beeps = 0;
  ScriptedUser user;
  user.Do([&] {
        r_->mOffsetX[1] = 1;
        r_->mOffsetY[1] = 1;
        beeps = SkyloomBeepCount();
      })
      .Key(kLeft, 0x7B)
      .Key(kLeft, 0x7B, true)  // held: the repeat stops at 0 as well
      .Key(kUp, 0x7E)
      .Key(kUp, 0x7E)
      .Do([&] {
        EXPECT_EQ(r_->mOffsetX[1], 0);
        EXPECT_EQ(r_->mOffsetY[1], 0);
        EXPECT_EQ(SkyloomBeepCount() - beeps, 2);
        r_->mOffsetX[1] = 399;  // left edge up to mMaxLayerWidth
        r_->mOffsetY[1] = 298;  // top edge up to mMaxLayerHeight - 1
        beeps = SkyloomBeepCount();
      })
      .Key(kRight, 0x7C)
      .Key(kRight, 0x7C, true)
      .Key(kDown, 0x7D)
      .Key(kDown, 0x7D)
      .Do([&] {
        EXPECT_EQ(r_->mOffsetX[1], 400);
        EXPECT_EQ(r_->mOffsetY[1], 299);
        EXPECT_EQ(SkyloomBeepCount() - beeps, 2);
        EXPECT_EQ(r_->mOffsetX[0], 100);  // the reference never moves
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(LRGBAlign, ADragReachesBothMaximaAndLosesStepsPastThem) {
  TwoLayers();
  long beeps = 0;
  ScriptedUser user;
  user.Do([&] {
        beeps = SkyloomBeepCount();
        EXPECT_LE(r_->mWellRect.left, 10);
      })
      // From well point (20, 20): +300 across reaches 400 = mMaxLayerWidth;
      // +225 down reaches 300 = mMaxLayerHeight.
      .DragPath(Sig("IMAG"), 0, Point{20, 20},
                {Point{20, 320}, Point{245, 320}, Point{245, 321}, Point{250, 319}, Point{240, 319}})
      .Do([&] {
        // (20, 320): x 400. (245, 320): y 300. (245, 321) and (250, 319) cross a
        // limit: lost with a beep. (240, 319) is measured from (245, 320): -1, -5.
        EXPECT_EQ(r_->mOffsetX[1], 399);
        EXPECT_EQ(r_->mOffsetY[1], 295);
        EXPECT_EQ(SkyloomBeepCount() - beeps, 2);
        EXPECT_EQ(CurrentCursor(), kThemeOpenHandCursor);
      })
      // A press outside the well (on the 3x view) drags nothing.
      .DragPath(Sig("ENLV"), 0, Point{5, 5}, {Point{50, 50}})
      .Do([&] {
        EXPECT_EQ(r_->mOffsetX[1], 399);
        EXPECT_EQ(CurrentCursor(), kThemeArrowCursor);
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(LRGBAlign, EditFieldsApplyOnReturnTabOrAClickAndRefuseOutOfRange) {
  TwoLayers();
  long beeps = 0;
  ScriptedUser user;
  user.Do([&] { beeps = SkyloomBeepCount(); })
      .Type(Sig("ROAT"), 0, "400\r")
      .Do([&] {
        EXPECT_EQ(ControlText(Control("ROAT")), "360.000");
        EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
        EXPECT_EQ(r_->mRotation[0], 0.0f);
      })
      .Type(Sig("WIDL"), 0, "40\r")
      .Do([&] {
        EXPECT_EQ(r_->mScaledWidth[0], 440u);
        EXPECT_EQ(r_->mScaledWidth[1], 400u);
      })
      .Type(Sig("HETL"), 0, "30")
      .Do([&] { EXPECT_EQ(r_->mScaledHeight[0], 300u); })  // not yet
      .Key(9, 0x30)                                         // Tab
      .Do([&] { EXPECT_EQ(r_->mScaledHeight[0], 330u); })
      .ChooseItem(Sig("SIZL"), 0, 2)
      .Do([&] {
        EXPECT_EQ(ControlText(Control("WIDL")), "0");
        EXPECT_EQ(ControlText(Control("HETL")), "0");
      })
      .Type(Sig("ROAT"), 0, "-12.5")
      .ClickAt(Sig("ENLV"), 0, Point{3, 3})  // a press anywhere applies the focused field
      .Do([&] { EXPECT_EQ(r_->mRotation[1], -12.5f); })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(LRGBAlign, KeyFilterSwallowsReturnAndEnterOnly) {
  TwoLayers();
  ScriptedUser user;
  user.Do([&] {
        ControlRef widl = Control("WIDL");
        SInt16 key = 0;
        EventModifiers mods = 0;
        for (SInt16 ch : {SInt16(13), SInt16(3)}) {
          SInt16 c = ch;
          EXPECT_EQ(myAlignImageKeyProc(widl, &key, &c, &mods), kControlKeyFilterBlockKey);
        }
        for (SInt16 ch : {SInt16('4'), SInt16(9), SInt16(28), SInt16('a')}) {
          SInt16 c = ch;
          EXPECT_EQ(myAlignImageKeyProc(widl, &key, &c, &mods), kControlKeyFilterPassKey);
        }
        // A field whose reference is not this window's record passes everything.
        SetControlReference(widl, 0);
        SInt16 c = 13;
        EXPECT_EQ(myAlignImageKeyProc(widl, &key, &c, &mods), kControlKeyFilterPassKey);
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
}

// Layer boxes on a 600 x 450 canvas (two 400 x 300 layers at (100, 75)).
TEST_F(LRGBAlign, LayerBoxesFollowShiftScaleAndTurn) {
  TwoLayers();
  r_->mCanvasWidth = 600, r_->mCanvasHeight = 450;
  struct Case {
    SInt32 x, y;
    UInt32 sw, sh;
    float rotation;
    std::array<SInt32, 4> box;
  } cases[] = {
      {107, 72, 400, 300, 0.0f, {107, 72, 507, 372}},
      {100, 75, 440, 330, 0.0f, {110, 37, 550, 367}},  // a scale change also moves the layer
      {100, 75, 400, 300, 5.0f, {87, 58, 511, 391}},
      {100, 75, 400, 300, 30.0f, {51, 0, 547, 450}},  // top -4 and bottom 455 held to the canvas
      {400, 75, 400, 300, 0.0f, {400, 75, 600, 375}},  // past the right edge
  };
  for (const Case& c : cases) {
    r_->mOffsetX[1] = c.x, r_->mOffsetY[1] = c.y;
    r_->mScaledWidth[1] = c.sw, r_->mScaledHeight[1] = c.sh;
    r_->mRotation[1] = c.rotation;
    SInt32 box[4];
    myLRGBAlignLayerBox(r_, 1, box);
    EXPECT_EQ((std::array<SInt32, 4>{box[0], box[1], box[2], box[3]}), c.box) << c.x << " " << c.rotation;
  }
}

TEST_F(LRGBAlign, OkCropsToTheAreaEveryLayerCovers) {
  // Untouched layers of different sizes: the smaller one's box.
  Layers({{400, 300, 255, 255, 255}, {300, 200, 0, 255, 0}}, 0, 1);
  ScriptedUser user;
  user.ClickOK();
  EXPECT_EQ(myManualyAlignImages(r_), noErr);
  EXPECT_EQ(Crop(), (std::vector<UInt32>{150, 125, 450, 325}));
  EXPECT_EQ(r_->mCompositeWidth, 300u);
  EXPECT_EQ(r_->mCompositeHeight, 200u);
  EXPECT_TRUE(Windows().empty());

  // The active layer moved 7 right and 3 up with the keys.
  TwoLayers();
  ScriptedUser moved;
  for (int i = 0; i < 7; ++i) moved.Key(kRight, 0x7C);
  for (int i = 0; i < 3; ++i) moved.Key(kUp, 0x7E);
  moved.ClickOK();
  EXPECT_EQ(myManualyAlignImages(r_), noErr);
  EXPECT_EQ(Crop(), (std::vector<UInt32>{107, 75, 500, 372}));
  EXPECT_EQ(r_->mCompositeWidth, 393u);
  EXPECT_EQ(r_->mCompositeHeight, 297u);

  // Turned by 30 degrees: the box held to the canvas, then the common area.
  TwoLayers();
  ScriptedUser turned;
  turned.ChooseItem(Sig("SIZL"), 0, 2).Type(Sig("ROAT"), 0, "30\r").ClickOK();
  EXPECT_EQ(myManualyAlignImages(r_), noErr);
  EXPECT_EQ(Crop(), (std::vector<UInt32>{100, 75, 500, 375}));

  // No area in common: OK beeps and the window stays; Cancel leaves the crop alone.
  TwoLayers();
  SetCropSentinel();
  long beeps = 0;
  ScriptedUser apart;
  apart.Do([&] {
         r_->mOffsetX[1] = 550;
         beeps = SkyloomBeepCount();
       })
      .ClickOK()
      .Do([&] {
        EXPECT_EQ(SkyloomBeepCount() - beeps, 1);
        EXPECT_NE(Window(), nullptr);
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_EQ(r_->mCropLeft, 0xDEADu);
  EXPECT_TRUE(apart.Errors().empty());
}

TEST_F(LRGBAlign, RedrawFillsGreyThenTheReferenceThenTheActiveLayerBlended) {
  // A white luma 400 x 300 and a red 200 x 100 colour layer.
  Layers({{400, 300, 255, 255, 255}, {200, 100, 255, 0, 0}}, 0, 1);
  std::vector<SkyloomCGCall> calls;
  ScriptedUser user;
  user.Do([&] {
        // Canvas 600 x 450; luma at (100, 75), red at (200, 175).
        SkyloomCGSetRecording(true);
        myUpdateTheLRGBPixelArea(r_);
        SkyloomCGSetRecording(false);
        calls = SkyloomCGRecordedCalls();
        const std::vector<int> grey = CanvasAt(10, 10);
        EXPECT_EQ(grey[0], 255);
        EXPECT_NEAR(grey[1], 128, 1);
        EXPECT_EQ(grey[1], grey[2]);
        EXPECT_EQ(grey[1], grey[3]);
        EXPECT_EQ(CanvasAt(110, 80), (std::vector<int>{255, 255, 255, 255}));  // the reference, opaque
        const std::vector<int> mixed = CanvasAt(250, 200);                     // red at 128 over white
        EXPECT_EQ(mixed[0], 255);
        EXPECT_EQ(mixed[1], 255);
        EXPECT_NEAR(mixed[2], 127, 1);
        EXPECT_NEAR(mixed[3], 127, 1);
      })
      .Click(Sig("OPAQ"), 0)
      .Do([&] {
        EXPECT_EQ(r_->mOpaque, 1);
        EXPECT_EQ(CanvasAt(250, 200), (std::vector<int>{255, 255, 0, 0}));
      })
      .Do([&] {
        // The 3x view follows the mouse over the well.
        ControlRef well = Control("IMAG");
        EXPECT_EQ(UserMouse(well, kEventMouseMoved, Point{200, 250}), noErr);
        EXPECT_EQ(r_->mViewCenterX, 250u);
        EXPECT_EQ(r_->mViewCenterY, 200u);
        Rect e;
        GetControlBounds(Control("ENLV"), &e);
        // Around canvas (250, 200): all red, drawn into the view's inset area.
        EXPECT_EQ(SkyloomPortPixel(GetWindowPort(Window()), (e.left + e.right) / 2, (e.top + e.bottom) / 2),
                  0xFFFF0000u);
        EXPECT_EQ(SkyloomPortPixel(GetWindowPort(Window()), e.left + 1, e.top + 1), kSkyloomWindowBackground);
        // The well shows the canvas from its top-left corner.
        Rect w = r_->mWellRect;
        EXPECT_EQ(SkyloomPortPixel(GetWindowPort(Window()), w.left + 250, w.top + 200), 0xFFFF0000u);
        EXPECT_EQ(SkyloomPortPixel(GetWindowPort(Window()), w.left + 110, w.top + 80), 0xFFFFFFFFu);
        const std::string png = std::string(SKYLOOM_BINARY_DIR) + "/lrgb_align_window.png";
        EXPECT_EQ(SkyloomWritePortPNG(GetWindowPort(Window()), png.c_str()), noErr);
      })
      .ChooseItem(Sig("SIZL"), 0, 2)
      .Type(Sig("ROAT"), 0, "5\r")
      .Do([&] {
        SkyloomCGSetRecording(true);
        myUpdateTheLRGBPixelArea(r_);
        SkyloomCGSetRecording(false);
        auto turned = SkyloomCGRecordedCalls();
        std::vector<std::string> names;
        for (auto& c : turned)
          if (c.name.find("CTM") != std::string::npos || c.name == "CGContextDrawImage") names.push_back(c.name);
        ASSERT_GE(names.size(), 6u);
        EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 6),
                  (std::vector<std::string>{"CGContextDrawImage", "CGContextTranslateCTM", "CGContextRotateCTM",
                                            "CGContextTranslateCTM", "CGContextScaleCTM", "CGContextDrawImage"}));
        for (auto& c : turned) {
          if (c.name == "CGContextRotateCTM") {
            EXPECT_FLOAT_EQ(float(c.args[0]), -5.0f * 0.017453292f);
          }
          if (c.name == "CGContextTranslateCTM" && c.args[0] > 0) {
            EXPECT_EQ(c.args[0], 300);  // the centre of (200, 450 - 175 - 100, 200, 100)
            EXPECT_EQ(c.args[1], 225);
          }
          if (c.name == "CGContextScaleCTM") {
            EXPECT_EQ(c.args, (std::vector<double>{1, 1}));
          }
        }
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
  // The recorded redraw: a bitmap context on the canvas, its settings, the grey fill, two images.
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].name, "CGBitmapContextCreate");
  EXPECT_EQ(calls[0].args, (std::vector<double>{600, 450, 2400}));
  std::vector<std::string> names;
  for (auto& c : calls) names.push_back(c.name);
  auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_EQ(calls[size_t(at("CGContextSetLineCap"))].args[0], double(kCGLineCapSquare));
  EXPECT_EQ(calls[size_t(at("CGContextSetRGBFillColor"))].args, (std::vector<double>{0.5, 0.5, 0.5, 1.0}));
  EXPECT_EQ(calls[size_t(at("CGContextFillRect"))].args, (std::vector<double>{0, 0, 600, 450}));
  std::vector<std::vector<double>> images;
  for (auto& c : calls)
    if (c.name == "CGContextDrawImage") images.push_back(c.args);
  ASSERT_GE(images.size(), 3u);  // reference, active, then the well
  EXPECT_EQ(images[0], (std::vector<double>{100, 75, 400, 300, 400, 300}));
  EXPECT_EQ(images[1], (std::vector<double>{200, 175, 200, 100, 200, 100}));
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
}

TEST_F(LRGBAlign, FailuresWhileBuildingLeaveNoWindowAndNoClass) {
  TwoLayers();
  struct Case {
    const char* call;
    OSStatus status;
  } cases[] = {{"CreateNibReference", -10960}, {"CreateWindowFromNib", -10962}, {"InstallEventHandler", -9868}};
  for (const Case& c : cases) {
    InjectFailure(c.call, c.status);
    EXPECT_EQ(myManualyAlignImages(r_), c.status) << c.call;
    EXPECT_TRUE(Windows().empty()) << c.call;
    EXPECT_EQ(r_->mCanvas, nullptr);
    EXPECT_EQ(r_->mEnlargedClass, nullptr);
    InjectFailure(c.call, noErr, 0);
  }
  // The view class taken by someone else: its status, nothing left.
  HIObjectClassRef taken = nullptr;
  ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.lrgbalign.enlargedView"), kHIViewClassID, 0,
                                     myLRGBAlignEnlargedViewCustomeControlller, 0, nullptr, nullptr, &taken),
            noErr);
  EXPECT_EQ(myManualyAlignImages(r_), hiObjectClassExistsErr);
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(r_->mCanvas, nullptr);
  EXPECT_EQ(HIObjectUnregisterClass(taken), noErr);
  // A canvas that cannot be made: -108 before any window.
  Layers({{30000, 2, 255, 255, 255}, {2, 2, 255, 0, 0}}, 0, 1);
  EXPECT_EQ(myManualyAlignImages(r_), memFullErr);
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(r_->mCanvas, nullptr);
  // After every run the class can be registered again.
  HIObjectClassRef again = nullptr;
  EXPECT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.lrgbalign.enlargedView"), kHIViewClassID, 0,
                                     myLRGBAlignEnlargedViewCustomeControlller, 0, nullptr, nullptr, &again),
            noErr);
  HIObjectUnregisterClass(again);
}

TEST_F(LRGBAlign, AMagnifierThatCannotBeMadeLeavesTheWindowWithoutIt) {
  TwoLayers();
  // The second handler installed is the view's own (the first is the window's).
  InjectFailureAt("InstallEventHandler", eventInternalErr, 2);
  ScriptedUser user;
  user.Do([&] {
        EXPECT_EQ(r_->mEnlargedView, nullptr);
        EXPECT_EQ(r_->mShowEnlarged, 0u);
        EXPECT_EQ(UserMouse(Control("IMAG"), kEventMouseMoved, Point{20, 30}), noErr);
        EXPECT_EQ(r_->mViewCenterX, 30u);  // the point is still followed
      })
      .ClickOK();
  EXPECT_EQ(myManualyAlignImages(r_), noErr);
  EXPECT_TRUE(Windows().empty());
  EXPECT_EQ(r_->mEnlargedClass, nullptr);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(LRGBAlign, ScrollBarsMoveTheVisiblePartOfALargeCanvas) {
  // 2000 x 1500 layers: a 3000 x 2250 canvas, larger than the screen allows.
  Layers({{2000, 1500, 255, 255, 255}, {2000, 1500, 0, 0, 255}}, 0, 1);
  ScriptedUser user;
  user.Do([&] {
        ASSERT_EQ(r_->mHorzBarShown, 1);
        ASSERT_EQ(r_->mVertBarShown, 1);
        ControlRef h = Control("SBHZ");
        const SInt32 wellW = r_->mWellRect.right - r_->mWellRect.left;
        EXPECT_EQ(GetControl32BitMaximum(h), 3000 - wellW);
        EXPECT_EQ(GetControlViewSize(h), wellW);
        myManualyAlignImagesWindowScrollImageUPPProc(h, kControlDownButtonPart);
        EXPECT_EQ(r_->mScrollH, 5);
        myManualyAlignImagesWindowScrollImageUPPProc(h, kControlPageDownPart);
        EXPECT_EQ(r_->mScrollH, std::min(5 + wellW, 3000 - wellW));
        myManualyAlignImagesWindowScrollImageUPPProc(h, kControlPageDownPart);
        EXPECT_EQ(r_->mScrollH, 3000 - wellW);  // held to the range
        ControlRef v = Control("SBVT");
        myManualyAlignImagesWindowScrollImageUPPProc(v, kControlUpButtonPart);
        EXPECT_EQ(r_->mScrollV, 0);
        myManualyAlignImagesWindowScrollImageUPPProc(v, kControlDownButtonPart);
        EXPECT_EQ(r_->mScrollV, 5);
        // The well's top-left shows canvas (mScrollH, 5).
        for (UInt32 dx : {0u, 40u}) {
          const UInt32 px = SkyloomPortPixel(GetWindowPort(Window()), r_->mWellRect.left + SInt32(dx), r_->mWellRect.top);
          const std::vector<int> c = CanvasAt(UInt32(r_->mScrollH) + dx, 5);
          EXPECT_EQ(px, 0xFF000000u | UInt32(c[1]) << 16 | UInt32(c[2]) << 8 | UInt32(c[3])) << dx;
        }
      })
      .ClickCancel();
  EXPECT_EQ(myManualyAlignImages(r_), userCanceledErr);
  EXPECT_TRUE(user.Errors().empty());
}

}  // namespace
