// The image window on the headless window model: creation and its failures,
// the controls' set-up and callbacks, layout, scrolling, the cursor read-out
// and drawing into the window's port.
#include "image_windows/ImageWindow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "image_windows/ImageProcessingPrefs.h"
#include "pixel/LumaRGB48.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

constexpr OSType Sig(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }

// The three buffers a caller hands over, filled by fill(x, y, channel).
struct Buffers {
  UInt16 *rgb = nullptr, *lrgb = nullptr, *luma = nullptr;
  std::vector<UInt16> copy, lumaCopy, lrgbCopy;  // the contents, to see they are untouched
  template <class Fill>
  Buffers(UInt32 w, UInt32 h, Fill fill) {
    const size_t n = size_t(w) * h;
    rgb = static_cast<UInt16*>(myAllocateImagePlane(n * 6));
    lrgb = static_cast<UInt16*>(myAllocateImagePlane(n * 8));
    luma = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = fill(x, y, c);
    myRGB48ToLRGB64AndLuma16(rgb, lrgb, luma, w, h);
    copy.assign(rgb, rgb + n * 3);
    lumaCopy.assign(luma, luma + n);
    lrgbCopy.assign(lrgb, lrgb + n * 4);
  }
  void Free() {
    free(rgb);
    free(lrgb);
    free(luma);
    rgb = lrgb = luma = nullptr;
  }
};

UInt16 Gradient(UInt32 x, UInt32 y, int c) { return UInt16((x * 37 + y * 91 + c * 9000) % 65536); }

class ImageWindowTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    config_ = dir_ + "/config";
    ASSERT_EQ(mkdir(config_.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    const std::string file = dir_ + "/Orion.tif";
    std::ofstream(file) << "x";
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &file_, nullptr), noErr);
    SkyloomCGSetRecording(true);
  }
  void TearDown() override {
    if (MyImageWindowDataStruct* r = Record()) myDisposeImageWindow(r);
    SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});  // the model's default screen
    SkyloomCGSetRecording(false);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  OSStatus Open(UInt32 w, UInt32 h, bool locked = true, UInt16 (*fill)(UInt32, UInt32, int) = Gradient) {
    Buffers b(w, h, fill);
    const OSStatus err = myMakeImageWindow(file_, b.luma, b.rgb, b.lrgb, w, h, locked);
    if (err != noErr) {
      EXPECT_EQ(std::vector<UInt16>(b.rgb, b.rgb + size_t(w) * h * 3), b.copy);
      EXPECT_EQ(std::vector<UInt16>(b.luma, b.luma + size_t(w) * h), b.lumaCopy);
      EXPECT_EQ(std::vector<UInt16>(b.lrgb, b.lrgb + size_t(w) * h * 4), b.lrgbCopy);
      b.Free();
    }
    return err;
  }
  static MyImageWindowDataStruct* Record() {
    WindowRef w = FindWindow("ImageWindow");
    return w ? reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  }
  static WindowRef Controls() { return FindWindow("ImageControls"); }
  static std::string Text(OSType sig, SInt32 id) { return ControlText(FindControl(Controls(), sig, id)); }
  static SInt32 Value(WindowRef w, OSType sig, SInt32 id) { return GetControl32BitValue(FindControl(w, sig, id)); }
  static long Draws() {
    long n = 0;
    for (const SkyloomCGCall& call : SkyloomCGRecordedCalls()) n += call.name == "CGContextDrawImage";
    return n;
  }
  std::string config_;
  FSRef file_{};
};

TEST_F(ImageWindowTest, OpensSizedToTheScreenInOneGroup) {
  const struct {
    UInt32 w, h;
    short width, height;
    bool bars;
  } kCases[] = {{1200, 900, 1200, 900, false}, {3000, 2000, 1550, 1114, true}};
  for (const auto& c : kCases) {
    SkyloomCGSetRecording(true);
    ASSERT_EQ(Open(c.w, c.h), noErr);
    MyImageWindowDataStruct* r = Record();
    ASSERT_NE(r, nullptr);
    WindowRef image = r->mImageWindow;
    Rect b;
    GetWindowBounds(image, kWindowContentRgn, &b);
    EXPECT_EQ(b.left, 370);
    EXPECT_EQ(b.top, 54);
    EXPECT_EQ(b.right - b.left, c.width);
    EXPECT_EQ(b.bottom - b.top, c.height);
    ControlRef h = FindControl(image, Sig("CPHZ"), 0), v = FindControl(image, Sig("CPVT"), 0);
    EXPECT_EQ(IsControlVisible(h), c.bars);
    EXPECT_EQ(IsControlVisible(v), c.bars);
    if (c.bars) {
      EXPECT_EQ(GetControl32BitMaximum(h), 1450);
      EXPECT_EQ(GetControl32BitMaximum(v), 886);
      EXPECT_EQ(GetControl32BitMinimum(h), 0);
      EXPECT_EQ(GetControlViewSize(h), 1550);
      EXPECT_EQ(GetControlViewSize(v), 1114);
    }
    EXPECT_EQ(WindowTitle(image), "Orion.tif");
    WindowGroupRef group = GetWindowGroup(image);
    EXPECT_NE(group, GetWindowGroupOfClass(kDocumentWindowClass));
    EXPECT_EQ(GetWindowGroup(Controls()), group);
    EXPECT_EQ(GetWindowGroup(FindWindow("PhotometryWindow")), group);
    WindowGroupAttributes attributes = 0;
    GetWindowGroupAttributes(group, &attributes);
    EXPECT_EQ(attributes, 0xDu);
    EXPECT_TRUE(IsWindowVisible(image));
    EXPECT_TRUE(IsWindowVisible(Controls()));
    EXPECT_FALSE(IsWindowVisible(FindWindow("PhotometryWindow")));
    EXPECT_EQ(Draws(), 1);
    // Selecting one member brings the others forward with it.
    SelectWindow(Controls());
    EXPECT_EQ(Windows()[0], Controls());
    EXPECT_EQ(myDisposeImageWindow(r), noErr);
    EXPECT_TRUE(Windows().empty());
  }
}

TEST_F(ImageWindowTest, ControlsShowTheSettings) {
  // Saved green offsets do not count for an ordinary image.
  MyImageWindowDataStruct saved{};
  mySetImageWindowDefaultSettings(&saved);
  saved.mGreenHorzOffset = 3;
  saved.mGreenVertOffset = -2;
  myReadWriteImageProcessingPrefs(&saved, 0);
  SkyloomPreferencesForgetAll();
  ASSERT_EQ(Open(64, 48), noErr);
  for (int k = 1; k <= 7; ++k) {
    const OSType s = Sig("SHR1") + UInt32(k - 1);
    EXPECT_EQ(Value(Controls(), s, 0), 10) << k;
    EXPECT_EQ(Text(s, 1), "  1.0") << k;
  }
  EXPECT_EQ(Text(Sig("CURV"), 0), "1.00");
  EXPECT_EQ(Text(Sig("SRED"), 0), "1.000");
  EXPECT_EQ(Text(Sig("SBLU"), 0), "1.000");
  EXPECT_EQ(Text(Sig("SATR"), 0), "0.00");
  EXPECT_EQ(Text(Sig("MIRD"), 0), "0");
  EXPECT_EQ(Text(Sig("MXBL"), 0), "65535");
  EXPECT_EQ(Value(Controls(), Sig("CURV"), 1), 100);
  EXPECT_EQ(Value(Controls(), Sig("MXBL"), 1), 655);
  const struct {
    OSType sig;
    bool green;
  } kOffsets[] = {{Sig("RDHZ"), false}, {Sig("RDVT"), false}, {Sig("BLHZ"), false},
                  {Sig("BLVT"), false}, {Sig("GRHZ"), true},  {Sig("GRVT"), true}};
  for (const auto& o : kOffsets) {
    EXPECT_EQ(Value(Controls(), o.sig, 0), 9) << o.sig;
    EXPECT_EQ(IsControlEnabled(FindControl(Controls(), o.sig, 0)), !o.green) << o.sig;
  }
  EXPECT_EQ(Value(Controls(), Sig("CLUM"), 0), 1);
  EXPECT_EQ(Value(Controls(), Sig("CRGB"), 0), 0);
  EXPECT_EQ(Value(Controls(), Sig("PREV"), 0), 1);
  EXPECT_EQ(Record()->mGreenHorzOffset, 0);
  EXPECT_EQ(Record()->mSharpenActive, 0);
}

TEST_F(ImageWindowTest, ControlWindowHoldsEveryControl) {
  WindowRef w = MakeWindow("ORX_DCAM", "ImageControls");
  ASSERT_NE(w, nullptr);
  auto kind = [&](OSType sig, SInt32 id) {
    ControlRef c = FindControl(w, sig, id);
    ControlKind k{};
    if (c) GetControlKind(c, &k);
    return k.kind;
  };
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(kind(Sig("SHR1") + UInt32(k), 0), kControlKindSlider) << k;
    EXPECT_EQ(kind(Sig("SHR1") + UInt32(k), 1), kControlKindStaticText) << k;
  }
  for (OSType field : {Sig("CURV"), Sig("CURC"), Sig("SRED"), Sig("SGRN"), Sig("SBLU"), Sig("SATR"), Sig("MIRD"),
                       Sig("MXRD"), Sig("MIGN"), Sig("MXGN"), Sig("MIBL"), Sig("MXBL"), Sig("STHR"), Sig("STHX")}) {
    EXPECT_EQ(kind(field, 0), kControlKindEditUnicodeText) << field;
    EXPECT_EQ(kind(field, 1), kControlKindLittleArrows) << field;
  }
  // The controls that send commands: each carries its own signature as its command.
  const struct {
    OSType sig;
    OSType kind;
    int items;  // of a pop-up
  } kCommands[] = {{Sig("PREV"), kControlKindCheckBox, 0},   {Sig("SBCG"), kControlKindCheckBox, 0},
                   {Sig("M16T"), kControlKindCheckBox, 0},   {Sig("ASDW"), kControlKindCheckBox, 0},
                   {Sig("RESH"), kControlKindPushButton, 0}, {Sig("REGN"), kControlKindPushButton, 0},
                   {Sig("RELV"), kControlKindPushButton, 0}, {Sig("ok  "), kControlKindPushButton, 0},
                   {Sig("not!"), kControlKindPushButton, 0}, {Sig("NOIS"), kControlKindPopupButton, 13},
                   {Sig("ZOOM"), kControlKindPopupButton, 22}, {Sig("RDHZ"), kControlKindPopupButton, 17},
                   {Sig("RDVT"), kControlKindPopupButton, 17}, {Sig("GRHZ"), kControlKindPopupButton, 17},
                   {Sig("GRVT"), kControlKindPopupButton, 17}, {Sig("BLHZ"), kControlKindPopupButton, 17},
                   {Sig("BLVT"), kControlKindPopupButton, 17}};
  for (const auto& c : kCommands) {
    ControlRef control = FindControl(w, c.sig, 0);
    ASSERT_NE(control, nullptr) << c.sig;
    EXPECT_EQ(kind(c.sig, 0), c.kind) << c.sig;
    EXPECT_EQ(ControlCommand(control), c.sig) << c.sig;
    if (c.items) {
      EXPECT_EQ(ControlItems(control).size(), size_t(c.items)) << c.sig;
    }
  }
  EXPECT_EQ(kind(Sig("CRGB"), 0), kControlKindRadioButton);
  EXPECT_EQ(kind(Sig("CLUM"), 0), kControlKindRadioButton);
  // Offset items run +8 .. -8, the unmoved one ninth; zoom item 10 is 100 %.
  EXPECT_EQ(ControlItems(FindControl(w, Sig("RDHZ"), 0)).front(), "+8");
  EXPECT_EQ(ControlItems(FindControl(w, Sig("RDHZ"), 0))[8], "0");
  EXPECT_EQ(ControlItems(FindControl(w, Sig("ZOOM"), 0))[9], "100%");
  EXPECT_EQ(ControlItems(FindControl(w, Sig("ZOOM"), 0))[13], "200%");
  EXPECT_EQ(GetControl32BitValue(FindControl(w, Sig("ZOOM"), 0)), 10);
  // Noise reduction: the filter names are headings that cannot be chosen.
  MenuRef noise = GetControlPopupMenuHandle(FindControl(w, Sig("NOIS"), 0));
  for (MenuItemIndex i = 1; i <= 13; ++i) {
    EXPECT_EQ(bool(IsMenuItemEnabled(noise, i)), i != 2 && i != 6 && i != 10) << i;
  }
  // Every control lies inside the window.
  Rect content;
  GetWindowBounds(w, kWindowContentRgn, &content);
  for (ControlRef c : skyloom::ui::Controls(w)) {
    Rect b;
    GetControlBounds(c, &b);
    EXPECT_LE(b.bottom, content.bottom - content.top);
    EXPECT_LE(b.right, content.right - content.left);
  }
  DisposeWindow(w);
}

TEST_F(ImageWindowTest, SliderPositionsAreStoredAndRestored) {
  ASSERT_EQ(Open(40, 30), noErr);
  ASSERT_EQ(UserSetValue(FindControl(Controls(), Sig("SHR2"), 0), 21), noErr);
  EXPECT_EQ(Record()->mSharpAmount[1], 2.2f);
  EXPECT_EQ(Record()->mSharpenActive, 1);
  ASSERT_EQ(myDisposeImageWindow(Record()), noErr);
  SkyloomPreferencesForgetAll();
  CFPropertyListRef stored = CFPreferencesCopyAppValue(CFSTR("SHARP2"), CFSTR("com.brindlemoor.SKYLOOM_App.ImageProcessingPref"));
  ASSERT_NE(stored, nullptr);
  char text[64] = "";
  CFStringGetCString(static_cast<CFStringRef>(stored), text, sizeof text, kCFStringEncodingUTF8);
  CFRelease(stored);
  EXPECT_STREQ(text, "21.000000");
  ASSERT_EQ(Open(40, 30), noErr);
  EXPECT_EQ(Value(Controls(), Sig("SHR2"), 0), 21);
  EXPECT_EQ(Text(Sig("SHR2"), 1), "  2.2");
  EXPECT_EQ(Record()->mSharpAmount[1], 2.2f);
}

TEST_F(ImageWindowTest, FailedCreationLeavesNothing) {
  for (UInt32 n = 1; n <= kImageWindowCreatedPlaneCount; ++n) {
    mySetImagePlaneAllocationFailure(n + 3);  // after the test's own three buffers
    EXPECT_EQ(Open(20, 10), memFullErr) << n;
    mySetImagePlaneAllocationFailure(0);
    EXPECT_TRUE(Windows().empty()) << n;
  }
  // The nib, then each window and each handler in turn, until creation gets
  // past the last of them.
  const struct {
    const char* call;
    OSStatus status;
    int atLeast;  // calls creation makes
  } kFailures[] = {{"CreateNibReference", -43, 1}, {"CreateWindowFromNib", -25, 3}, {"InstallEventHandler", -108, 2}};
  for (const auto& f : kFailures) {
    int n = 1;
    for (;; ++n) {
      InjectFailureAt(f.call, f.status, n);
      const OSStatus err = Open(20, 10);
      InjectFailureAt(f.call, f.status, 1, 0);
      if (err == noErr) break;
      EXPECT_EQ(err, f.status) << f.call << " " << n;
      EXPECT_TRUE(Windows().empty()) << f.call << " " << n;
    }
    EXPECT_GT(n, f.atLeast) << f.call;
    ASSERT_NE(Record(), nullptr) << f.call;
    EXPECT_EQ(myDisposeImageWindow(Record()), noErr);
    EXPECT_TRUE(Windows().empty()) << f.call;
  }
  EXPECT_EQ(myDisposeImageWindow(nullptr), userCanceledErr);
  MyImageWindowDataStruct other{};
  other.mRecordTag = 0xAC;
  EXPECT_EQ(myDisposeImageWindow(&other), userCanceledErr);
}

TEST_F(ImageWindowTest, LayoutFollowsTheWindowSize) {
  ASSERT_EQ(Open(3000, 2000), noErr);
  MyImageWindowDataStruct* r = Record();
  ControlRef h = FindControl(r->mImageWindow, Sig("CPHZ"), 0);
  ControlRef v = FindControl(r->mImageWindow, Sig("CPVT"), 0);
  // Scrolled fully right, then grown: the right edge stays at the image's.
  SetControl32BitValue(h, 1450);
  liveImageWindowScrollImageUPPProc(h, kControlIndicatorPart);
  EXPECT_EQ(r->mScrollH, 1450);
  SizeWindow(r->mImageWindow, 1700, 1000, true);
  EXPECT_EQ(r->mScrollH, 1300);
  EXPECT_EQ(GetControl32BitMaximum(h), 1300);
  EXPECT_EQ(GetControl32BitMaximum(v), 1000);
  // Paging down stops at the bottom.
  SetControl32BitValue(v, 800);
  liveImageWindowScrollImageUPPProc(v, kControlIndicatorPart);
  liveImageWindowScrollImageUPPProc(v, kControlPageDownPart);
  EXPECT_EQ(GetControl32BitValue(v), 1000);
  EXPECT_EQ(r->mScrollV, 1000);
  liveImageWindowScrollImageUPPProc(v, kControlUpButtonPart);
  EXPECT_EQ(r->mScrollV, 995);

  // Resizing is held to the image; the smallest window is a tenth of it.
  EventRef e = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowBoundsChanging, 0, 0, &e), noErr);
  const UInt32 attributes = kWindowBoundsChangeUserResize;
  Rect wanted{100, 50, 2600, 3600};
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof r->mImageWindow, &r->mImageWindow);
  SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
  SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof wanted, &wanted);
  EXPECT_EQ(myImageWindowEventHandler(nullptr, e, r), noErr);
  Rect got{};
  GetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof got, nullptr, &got);
  EXPECT_EQ(got.right, 3050);
  EXPECT_EQ(got.bottom, 2100);
  ReleaseEvent(e);
  ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowGetMinimumSize, 0, 0, &e), noErr);
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof r->mImageWindow, &r->mImageWindow);
  EXPECT_EQ(myImageWindowEventHandler(nullptr, e, r), noErr);
  Point size{};
  GetEventParameter(e, kEventParamDimensions, typeQDPoint, nullptr, sizeof size, nullptr, &size);
  EXPECT_EQ(size.h, 300);
  EXPECT_EQ(size.v, 200);
  EXPECT_EQ(myImageWindowEventHandler(nullptr, e, nullptr), eventNotHandledErr);
  ReleaseEvent(e);

  WindowRef plain = MakeWindow("ORX_DCAM", "PhotometryWindow");
  EXPECT_EQ(myReSizeImageWindowControls(plain), paramErr);
  DisposeWindow(plain);
}

TEST_F(ImageWindowTest, EditFieldsArrowsAndSliders) {
  ASSERT_EQ(Open(40, 30), noErr);
  MyImageWindowDataStruct* r = Record();
  WindowRef w = Controls();
  auto enter = [&](OSType sig, const char* text) {
    SetControlTitleWithCFString(FindControl(w, sig, 0), nullptr);
    CFStringRef s = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    SetControlData(FindControl(w, sig, 0), 0, FOUR_CHAR_CODE("cfst"), sizeof s, &s);
    CFRelease(s);
    SInt16 key = 36, ch = 13;
    EventModifiers mods = 0;
    return myImageDataKeyProc(FindControl(w, sig, 0), &key, &ch, &mods);
  };
  SkyloomCGSetRecording(true);
  EXPECT_EQ(enter(Sig("SATR"), "7.5"), kControlKeyFilterBlockKey);
  EXPECT_EQ(Text(Sig("SATR"), 0), "7.00");
  EXPECT_EQ(Value(w, Sig("SATR"), 1), 700);
  EXPECT_EQ(r->mSaturation, 7.0f);
  EXPECT_EQ(Draws(), 1);
  EXPECT_EQ(enter(Sig("SATR"), "7"), kControlKeyFilterBlockKey);  // unchanged: no render
  EXPECT_EQ(Draws(), 1);
  r->mMaxRed = 40000;
  enter(Sig("MIRD"), "50000");
  EXPECT_EQ(r->mMinRed, 40000u);
  EXPECT_EQ(Text(Sig("MIRD"), 0), "40000");
  SInt16 key = 48, tab = 9;
  EventModifiers mods = 0;
  EXPECT_EQ(myImageDataKeyProc(FindControl(w, Sig("CURV"), 0), &key, &tab, &mods), kControlKeyFilterPassKey);
  EXPECT_EQ(myImageDataProcessEdTextFields(r, Sig("ABCD"), 0), eventNotHandledErr);

  ControlRef arrows = FindControl(w, Sig("MXGN"), 1);
  SetControl32BitValue(arrows, 654);
  r->mMaxGreen = 65400;
  myDoLiveArrowChangeProc(arrows, kControlUpButtonPart);
  EXPECT_EQ(r->mMaxGreen, 65500u);
  myDoLiveArrowChangeProc(arrows, kControlUpButtonPart);  // 65600, limited
  EXPECT_EQ(GetControl32BitValue(arrows), 656);
  EXPECT_EQ(r->mMaxGreen, 65535u);
  EXPECT_EQ(Text(Sig("MXGN"), 0), "65535");
  const long before = Draws();
  myDoLiveArrowChangeProc(arrows, kControlUpButtonPart);  // at its maximum
  EXPECT_EQ(GetControl32BitValue(arrows), 656);
  EXPECT_EQ(Draws(), before);
  myDoLiveArrowChangeProc(arrows, kControlDownButtonPart);
  EXPECT_EQ(r->mMaxGreen, 65500u);
  EXPECT_EQ(Draws(), before + 1);

  // Thresholds rebuild the seven detail planes.
  for (UInt16* plane : r->mDetailLevel) std::fill(plane, plane + 40 * 30, 0);
  enter(Sig("STHR"), "100");
  EXPECT_EQ(r->mMinSharpenThreshold, 100);
  for (UInt16* plane : r->mDetailLevel) EXPECT_NE(plane[40 * 15 + 20], 0);

  const struct {
    SInt32 position;
    const char* text;
    Float32 amount;
  } kSliders[] = {{20, "  2.0", 2.0f}, {21, "  2.2", 2.2f}, {61, " 11.0", 11.0f}, {211, "161.0", 161.0f},
                  {1, "  0.1", 0.1f},  {10, "  1.0", 1.0f}};
  ControlRef slider = FindControl(w, Sig("SHR3"), 0);
  r->mSharpAmount[6] = 1.0f;
  for (const auto& s : kSliders) {
    UserSetValue(slider, s.position);
    EXPECT_EQ(Text(Sig("SHR3"), 1), s.text) << s.position;
    EXPECT_FLOAT_EQ(r->mSharpAmount[2], s.amount) << s.position;
  }
  EXPECT_EQ(r->mSharpenActive, 0);
}

TEST_F(ImageWindowTest, ControlsMoveByOffsets) {
  WindowRef w = MakeWindow("ORX_DCAM", "PhotometryWindow");
  ControlRef c = FindControl(w, Sig("BEMC"), 0);
  Rect before, after;
  GetControlBounds(c, &before);
  myLocalOffsetControl(w, Sig("BEMC"), 0, 7, 0);
  myLocalOffsetControl(w, Sig("BEMC"), 0, 0, -3);
  myLocalOffsetControl(w, Sig("NONE"), 0, 5, 5);
  GetControlBounds(c, &after);
  EXPECT_EQ(after.left, before.left + 7);
  EXPECT_EQ(after.right, before.right + 7);
  EXPECT_EQ(after.top, before.top - 3);
  EXPECT_EQ(after.bottom, before.bottom - 3);
  DisposeWindow(w);
}

TEST_F(ImageWindowTest, CursorReadOut) {
  ASSERT_EQ(Open(1200, 900), noErr);
  MyImageWindowDataStruct* r = Record();
  r->mPhotometryShown = 1;
  ShowWindow(r->mPhotometryWindow);
  r->mZoom = 2.0f;
  std::vector<UInt16> plane(size_t(1200) * 900);  // exactly the image: ASan sees a read past it
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = UInt16(i % 1200);
  r->mMeasurePlane = plane.data();
  auto readOut = [&](short h, short v) {
    UserMouseInWindow(r->mImageWindow, kEventMouseMoved, Point{v, h});
    return ControlText(FindControl(r->mPhotometryWindow, Sig("TXSP"), 7)) + "|" +
           ControlText(FindControl(r->mPhotometryWindow, Sig("TXSP"), 8));
  };
  EXPECT_EQ(readOut(25, 690), "CUR: X:0012.5\tY:0345.0|PIXEL: SPOT 12 AVG 12.0");
  EXPECT_EQ(readOut(1, 1), "CUR: |PIXEL: SPOT 1 AVG 1.0");
  // The last column and row: the block of the last three.
  r->mZoom = 1.0f;
  EXPECT_EQ(readOut(1199, 899), "CUR: X:1199.0\tY:0899.0|PIXEL: SPOT 1198 AVG 1198.0");
  EXPECT_EQ(readOut(1198, 5), "CUR: X:1198.0\tY:0005.0|PIXEL: SPOT 1198 AVG 1198.0");
  EXPECT_EQ(readOut(600, 400), "CUR: X:0600.0\tY:0400.0|PIXEL: SPOT 600 AVG 600.0");
  r->mPhotometryShown = 0;
  EXPECT_EQ(readOut(10, 10), "CUR: X:0600.0\tY:0400.0|PIXEL: SPOT 600 AVG 600.0");
  r->mPhotometryShown = 1;
  EXPECT_EQ(readOut(1, 1), "CUR: |PIXEL: SPOT 1 AVG 1.0");
  r->mMeasurePlane = nullptr;
}

TEST_F(ImageWindowTest, DrawingReducesAndPlacesThePicture) {
  UInt16 in[6] = {0x01FF, 0xFFFF, 0x0000, 0x8000, 0x00FF, 0x7FFF};
  UInt8 out[8];
  myRGB48ToARGB32(in, out, 2, 1);
  const UInt8 expected[8] = {255, 0x01, 0xFF, 0x00, 255, 0x80, 0x00, 0x7F};
  EXPECT_EQ(std::vector<UInt8>(out, out + 8), std::vector<UInt8>(expected, expected + 8));

  // Red marks columns 50 .. 149, green the rows from 20 on.
  ASSERT_EQ(Open(800, 600, true, [](UInt32 x, UInt32 y, int c) -> UInt16 {
              return c == 0 ? (x >= 50 && x < 150 ? 0xFFFF : 0) : c == 1 ? (y >= 20 ? 0xFFFF : 0) : 0x4000;
            }),
            noErr);
  MyImageWindowDataStruct* r = Record();
  CGrafPtr port = GetWindowPort(r->mImageWindow);
  r->mZoom = 2.0f;
  r->mScrollH = 100;
  r->mScrollV = 40;
  myDrawImageWindow(r);
  EXPECT_EQ(SkyloomPortPixel(port, 1, 1), 0xFFFFFF40u);
  EXPECT_EQ(SkyloomPortPixel(port, 197, 1), 0xFFFFFF40u);
  EXPECT_EQ(SkyloomPortPixel(port, 201, 1) & 0xFF0000u, 0u);

  // Preview off shows the source without running the render.
  r->mZoom = 1.0f;
  r->mScrollH = r->mScrollV = 0;
  r->mPreview = 0;
  r->mSaturation = 1.0f;
  myRenderRGB48ToWindow(r);
  EXPECT_TRUE(std::equal(r->mRenderRGB48, r->mRenderRGB48 + 800 * 600 * 3, r->mSourceRGB48));
  EXPECT_EQ(r->mDisplayARGB32[4 * 60 + 1], 0xFF);
  EXPECT_EQ(SkyloomPortPixel(port, 60, 30), 0xFFFFFF40u);

  // Zoomed out, the window is wider than the drawn picture: nothing is read
  // past the display buffer and the rest of the port is left alone.
  r->mZoom = 0.5f;
  SkyloomCGSetRecording(true);
  myDrawImageWindow(r);
  std::vector<double> drawn;
  for (const SkyloomCGCall& call : SkyloomCGRecordedCalls())
    if (call.name == "CGContextDrawImage") drawn = call.args;
  EXPECT_EQ(drawn, (std::vector<double>{0, 0, 400, 300, 800, 600}));
  EXPECT_EQ(SkyloomCGLiveContextCount(), 0);
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), 0);
}

TEST_F(ImageWindowTest, StarMarksFollowTheCalibration) {
  ASSERT_EQ(Open(400, 300), noErr);
  MyImageWindowDataStruct* r = Record();
  r->mPhotometryShown = 1;
  r->mZoom = 1.0f;
  const float x[3] = {50, 150, 250}, y[3] = {100, 150, 200}, mag[3] = {8.5f, -999.0f, 10.25f};
  for (int k = 0; k < 3; ++k) {
    r->mKnownStarX[k] = x[k];
    r->mKnownStarY[k] = y[k];
    r->mKnownStarFWHM[k] = 2.0f;
    r->mKnownStarMag[k] = mag[k];
  }
  r->mClickMarkShown = 1;
  r->mClickMarkX = 300;
  r->mClickMarkY = 50;
  r->mClickMarkFWHM = 3.0f;
  r->mClickMarkMagnitude = -999.0f;
  struct Mark {
    double x, y, radius;
  };
  auto draw = [&](std::vector<Mark>* circles, std::vector<std::string>* labels) {
    SkyloomCGSetRecording(true);
    myDrawImageWindow(r);
    for (const SkyloomCGCall& call : SkyloomCGRecordedCalls()) {
      if (call.name == "CGContextAddArc") circles->push_back({call.args[0], call.args[1], call.args[2]});
      if (call.name == "CGContextShowTextAtPoint")
        labels->push_back(call.text + "@" + std::to_string(int(std::lround(call.args[0]))));
    }
  };
  // Magnitudes: the star without one is skipped; the click mark is labelled anyway.
  r->mMagCalibrated = 1;
  std::vector<Mark> circles;
  std::vector<std::string> labels;
  draw(&circles, &labels);
  ASSERT_EQ(circles.size(), 9u);
  const double r1 = 1.58f * 2.0f;
  EXPECT_NEAR(circles[0].radius, r1, 1e-5);
  EXPECT_NEAR(circles[1].radius, 1.5 * r1, 1e-5);
  EXPECT_NEAR(circles[2].radius, 2.2 * r1, 1e-5);
  EXPECT_EQ(circles[0].x, 50);
  EXPECT_EQ(circles[0].y, 300 - 100);  // from the bottom of the drawn picture
  EXPECT_EQ(circles[3].x, 250);
  EXPECT_EQ(circles[6].x, 300);
  EXPECT_NEAR(circles[6].radius, 1.58f * 3.0f, 1e-5);
  const std::vector<std::string> kLabels = {"8.500@" + std::to_string(int(std::lround(50 + 2.2 * r1 + 4))),
                                            "10.250@" + std::to_string(int(std::lround(250 + 2.2 * r1 + 4))),
                                            "-999.000@" + std::to_string(int(std::lround(300 + 2.2 * 1.58f * 3 + 4)))};
  EXPECT_EQ(labels, kLabels);
  const std::string png = std::string(SKYLOOM_BINARY_DIR) + "/image_window_star_marks.png";
  EXPECT_EQ(SkyloomWritePortPNG(GetWindowPort(r->mImageWindow), png.c_str()), noErr);

  // RA and Dec: every known star and the click mark, one circle each.
  r->mMagCalibrated = 0;
  r->mRADecStarCount = 3;
  circles.clear();
  labels.clear();
  draw(&circles, &labels);
  ASSERT_EQ(circles.size(), 4u);
  EXPECT_EQ(circles[1].x, 150);
  EXPECT_TRUE(labels.empty());
  // Known stars being entered: the first marks only; nothing without the window.
  r->mRADecStarCount = 0;
  r->mKnownStarMarks = 2;
  circles.clear();
  draw(&circles, &labels);
  EXPECT_EQ(circles.size(), 2u);
  r->mPhotometryShown = 0;
  circles.clear();
  draw(&circles, &labels);
  EXPECT_TRUE(circles.empty());
}

TEST_F(ImageWindowTest, TheStripUnderAShownBarIsClipped) {
  SetScreenBounds(Rect{0, 0, 500, 700}, Rect{22, 0, 500, 700});
  ASSERT_EQ(Open(1000, 800), noErr);
  ASSERT_TRUE(Record()->mHorzBarShown && Record()->mVertBarShown);
  MyImageWindowDataStruct* r = Record();
  CGrafPtr port = GetWindowPort(r->mImageWindow);
  Rect b;
  GetPortBounds(port, &b);
  EXPECT_EQ(SkyloomPortPixel(port, 10, b.bottom - 2), kSkyloomWindowBackground);
  EXPECT_EQ(SkyloomPortPixel(port, b.right - 2, 10), kSkyloomWindowBackground);
  EXPECT_NE(SkyloomPortPixel(port, 10, b.bottom - 20), kSkyloomWindowBackground);
}

}  // namespace

namespace {

TEST(PositionText, PixelsAndSkyCoordinates) {
  MyImageWindowDataStruct r{};
  char text[128];
  myConvertPixelXYtoCoordsString(&r, 12.5f, 345.0f, true, text);
  EXPECT_STREQ(text, "X:0012.5\tY:0345.0");
  myConvertPixelXYtoCoordsString(&r, 1234.56f, 7.0f, false, text);
  EXPECT_STREQ(text, "1234.6\t0007.0");
  // A fit that gives the RA and Dec as constants (C) with small residuals.
  r.mRADecStarCount = 3;
  const struct {
    float ra, dec;
    const char* text;
  } kCases[] = {
      {-150.0f, -3600.0f, "RA:23:59:50.00\tDEC:01:00:00.00S\t"},
      {53999.94f, 324000.0f, "RA:01:00:00.00\tDEC:90:00:00.00N\t"},  // 3599.996 s of time
      {1295999.99f, 45.5f, "RA:00:00:00.00\tDEC:00:00:45.50N\t"},
      {1296000.0f * 2 + 15.0f, 0.0f, "RA:00:00:01.00\tDEC:00:00:00.00N\t"},
  };
  for (const auto& c : kCases) {
    r.mRAFit[2] = c.ra;
    r.mDecFit[2] = c.dec;
    myConvertPixelXYtoCoordsString(&r, 10.0f, 20.0f, true, text);
    EXPECT_STREQ(text, c.text) << c.ra;
  }
  r.mRAFit[3] = 0.25f;
  r.mDecFit[3] = 0.5f;
  r.mRAFit[2] = 15.0f * 3661.0f;
  r.mDecFit[2] = -1.0f;
  myConvertPixelXYtoCoordsString(&r, 0.0f, 0.0f, false, text);
  EXPECT_STREQ(text, "01:01:01.0000\xB1" "0.250\t00:00:01.00S\xB1" "0.500\t");  // "  ±" zero-filled
}

}  // namespace
