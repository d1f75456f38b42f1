// The image window's control window on the headless window model: its
// commands and their renders, zoom, the measurement window with its log,
// saving the processed picture, and closing.
#include "image_windows/ImageControlWindow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "image_windows/ImageProcessingPrefs.h"
#include "image_windows/ImageWindow.h"
#include "image_windows/RenderPipeline.h"
#include "pixel/LumaRGB48.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "tests/support/TestTIFF.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;
namespace nav = skyloom::nav;

namespace {

constexpr OSType Sig(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }
OSType SigOf(const char* s) {
  return OSType(UInt8(s[0])) << 24 | OSType(UInt8(s[1])) << 16 | OSType(UInt8(s[2])) << 8 | OSType(UInt8(s[3]));
}

UInt16 Gradient(UInt32 x, UInt32 y, int c) { return UInt16((x * 523 + y * 911 + c * 9000) % 65536); }

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The text a command-line tool prints; the check fails when the tool is missing.
std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

class ImageControlWindowTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    config_ = dir_ + "/config";
    out_ = dir_ + "/out";
    ASSERT_EQ(mkdir(config_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(out_.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    const std::string file = dir_ + "/Orion.tif";
    std::ofstream(file) << "x";
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &file_, nullptr), noErr);
    SkyloomCGSetRecording(true);
  }
  void TearDown() override {
    SkyloomClearFileFaults();
    mySetImagePlaneAllocationFailure(0);
    if (MyImageWindowDataStruct* r = Record()) myDisposeImageWindow(r);
    SkyloomCGSetRecording(false);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  MyImageWindowDataStruct* Open(UInt32 w, UInt32 h) {
    const size_t n = size_t(w) * h;
    auto* rgb = static_cast<UInt16*>(myAllocateImagePlane(n * 6));
    auto* lrgb = static_cast<UInt16*>(myAllocateImagePlane(n * 8));
    auto* luma = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
    for (UInt32 y = 0; y < h; ++y)
      for (UInt32 x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = Gradient(x, y, c);
    myRGB48ToLRGB64AndLuma16(rgb, lrgb, luma, w, h);
    EXPECT_EQ(myMakeImageWindow(file_, luma, rgb, lrgb, w, h, true), noErr);
    return Record();
  }
  static MyImageWindowDataStruct* Record() {
    WindowRef w = FindWindow("ImageWindow");
    return w ? reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  }
  static WindowRef Controls() { return FindWindow("ImageControls"); }
  static ControlRef Ctl(OSType sig, SInt32 id = 0) { return FindControl(Controls(), sig, id); }
  static std::string Text(OSType sig, SInt32 id = 0) { return ControlText(Ctl(sig, id)); }
  static SInt32 Value(OSType sig, SInt32 id = 0) { return GetControl32BitValue(Ctl(sig, id)); }
  // Renders: each ends in one drawing of the picture.
  static long Renders() {
    long n = 0;
    for (const SkyloomCGCall& call : SkyloomCGRecordedCalls()) n += call.name == "CGContextDrawImage";
    return n;
  }
  std::vector<std::string> LogFiles() const {
    std::vector<std::string> names;
    for (const std::string& line : Lines(Shell("ls '" + out_ + "'")))
      if (line.rfind("Photom-Astrom Log ", 0) == 0) names.push_back(line);
    return names;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);)
      if (!line.empty()) lines.push_back(line);
    return lines;
  }
  std::string config_, out_;
  FSRef file_{};
};

TEST_F(ImageControlWindowTest, CommandsChangeTheSettingsAndRender) {
  MyImageWindowDataStruct* r = Open(48, 32);
  ASSERT_NE(r, nullptr);
  long renders = Renders();
  auto rendered = [&](long expected) {
    const long now = Renders();
    const long made = now - renders;
    renders = now;
    return made == expected;
  };

  ASSERT_EQ(UserClick(Ctl(Sig("PREV"))), noErr);
  EXPECT_EQ(r->mPreview, 0);
  EXPECT_TRUE(rendered(1));
  UserClick(Ctl(Sig("PREV")));
  EXPECT_EQ(r->mPreview, 1);
  EXPECT_TRUE(rendered(1));

  UserClick(Ctl(Sig("CRGB")));
  EXPECT_EQ(r->mLRGBMode, 0);
  EXPECT_EQ(Value(Sig("CRGB")), 1);
  EXPECT_EQ(Value(Sig("CLUM")), 0);
  EXPECT_TRUE(rendered(1));
  UserClick(Ctl(Sig("CLUM")));
  EXPECT_EQ(r->mLRGBMode, 1);
  EXPECT_EQ(Value(Sig("CRGB")), 0);
  EXPECT_EQ(Value(Sig("CLUM")), 1);
  EXPECT_TRUE(rendered(1));

  // Offsets: item 12 is -3; choosing the value already set renders nothing.
  const struct {
    const char* sig;
    SInt32 MyImageWindowDataStruct::*field;
  } kOffsets[] = {{"RDHZ", &MyImageWindowDataStruct::mRedHorzOffset},
                  {"RDVT", &MyImageWindowDataStruct::mRedVertOffset},
                  {"BLHZ", &MyImageWindowDataStruct::mBlueHorzOffset},
                  {"BLVT", &MyImageWindowDataStruct::mBlueVertOffset}};
  r->mPreview = 0;  // the processing render would use up mOffsetsActive
  for (const auto& o : kOffsets) {
    const OSType sig = SigOf(o.sig);
    r->mOffsetsActive = 0;
    ASSERT_EQ(UserChooseItem(Ctl(sig), 12), noErr) << o.sig;
    EXPECT_EQ(r->*o.field, -3) << o.sig;
    EXPECT_EQ(r->mOffsetsActive, 1) << o.sig;
    EXPECT_TRUE(rendered(1)) << o.sig;
    r->mOffsetsActive = 0;
    UserChooseItem(Ctl(sig), 12);
    EXPECT_EQ(r->mOffsetsActive, 0) << o.sig;
    EXPECT_TRUE(rendered(0)) << o.sig;
    UserChooseItem(Ctl(sig), 1);
    EXPECT_EQ(r->*o.field, 8) << o.sig;
    EXPECT_TRUE(rendered(1)) << o.sig;
  }

  r->mPreview = 1;
  UserChooseItem(Ctl(Sig("NOIS")), 4);
  EXPECT_EQ(r->mNoiseReduction, 4u);
  EXPECT_TRUE(rendered(1));

  // Smoothing outside the band changes the seven planes (a lower bound makes
  // the band matter).
  r->mMinSharpenThreshold = 2000;
  myBuildDetailLevels(r);
  std::vector<std::vector<UInt16>> before;
  for (UInt16* plane : r->mDetailLevel) before.emplace_back(plane, plane + 48 * 32);
  UserClick(Ctl(Sig("SBCG")));
  EXPECT_EQ(r->mSharpenSmooth, 1);
  EXPECT_TRUE(rendered(1));
  for (int k = 0; k < kImageWindowLevelCount; ++k)
    EXPECT_NE(std::vector<UInt16>(r->mDetailLevel[k], r->mDetailLevel[k] + 48 * 32), before[size_t(k)]) << k;

  // The resets render once, not once per control.
  for (int k = 0; k < kImageWindowLevelCount; ++k) UserSetValue(Ctl(Sig("SHR1") + UInt32(k)), 30 + k);
  renders = Renders();
  UserClick(Ctl(Sig("RESH")));
  EXPECT_TRUE(rendered(1));
  for (int k = 0; k < kImageWindowLevelCount; ++k) {
    EXPECT_EQ(Value(Sig("SHR1") + UInt32(k)), 10) << k;
    EXPECT_FLOAT_EQ(r->mSharpAmount[k], 1.0f) << k;
  }
  EXPECT_EQ(r->mSharpenActive, 0);
  EXPECT_EQ(r->mWindowReady, 1);

  r->mRedBalance = 2.5f;
  r->mBlueBalance = 0.5f;
  UserClickArrow(Ctl(Sig("SGRN"), 1), true);
  renders = Renders();
  UserClick(Ctl(Sig("REGN")));
  EXPECT_TRUE(rendered(1));
  for (const char* sig : {"SRED", "SGRN", "SBLU"}) {
    EXPECT_EQ(Text(SigOf(sig)), "1.000") << sig;
    EXPECT_EQ(Value(SigOf(sig), 1), 100) << sig;
  }
  EXPECT_EQ(r->mRedBalance, 1.0f);
  EXPECT_EQ(r->mGreenBalance, 1.0f);
  EXPECT_EQ(r->mBlueBalance, 1.0f);

  r->mMinGreen = 300;
  r->mMaxBlue = 1000;
  UserClick(Ctl(Sig("RELV")));
  EXPECT_TRUE(rendered(1));
  for (const char* sig : {"MIRD", "MIGN", "MIBL"}) {
    EXPECT_EQ(Text(SigOf(sig)), "0") << sig;
    EXPECT_EQ(Value(SigOf(sig), 1), 0) << sig;
  }
  for (const char* sig : {"MXRD", "MXGN", "MXBL"}) {
    EXPECT_EQ(Text(SigOf(sig)), "65535") << sig;
    EXPECT_EQ(Value(SigOf(sig), 1), 655) << sig;
  }
  EXPECT_EQ(r->mMinGreen, 0u);
  EXPECT_EQ(r->mMaxBlue, 65535u);

  const long draws = WindowDrawCount(r->mImageWindow);
  UserClick(Ctl(Sig("M16T")));
  EXPECT_EQ(r->mSave16Bit, 1);
  EXPECT_TRUE(rendered(0));
  EXPECT_EQ(WindowDrawCount(r->mImageWindow), draws);
  UserClick(Ctl(Sig("M16T")));
  EXPECT_EQ(r->mSave16Bit, 0);
}

TEST_F(ImageControlWindowTest, TabAndClicksValidateTheFocusedField) {
  MyImageWindowDataStruct* r = Open(40, 30);
  ASSERT_NE(r, nullptr);
  auto typeWithoutReturn = [&](OSType sig, const char* text) {
    ControlRef c = Ctl(sig);
    SetKeyboardFocus(Controls(), c, kControlFocusNextPart);
    CFStringRef s = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    SetControlData(c, 0, kControlEditTextCFStringTag, sizeof s, &s);
    CFRelease(s);
  };
  // The handler itself lets both events go on, so the focus still moves.
  auto send = [&](EventClass cls, EventKind kind) {
    EventRef e = nullptr;
    CreateEvent(nullptr, cls, kind, GetCurrentEventTime(), 0, &e);
    const char tab = '\t';
    SetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, 1, &tab);
    const OSStatus s = myImageControlWindowEventHandler(nullptr, e, r);
    ReleaseEvent(e);
    return s;
  };
  typeWithoutReturn(Sig("SRED"), "2.5");
  const long renders = Renders();
  EXPECT_EQ(send(kEventClassKeyboard, kEventRawKeyDown), eventNotHandledErr);
  EXPECT_FLOAT_EQ(r->mRedBalance, 2.5f);
  EXPECT_EQ(Value(Sig("SRED"), 1), 250);
  EXPECT_EQ(Renders(), renders + 1);

  typeWithoutReturn(Sig("MIRD"), "1234");
  EXPECT_EQ(send(kEventClassMouse, kEventMouseDown), eventNotHandledErr);
  EXPECT_EQ(r->mMinRed, 1234u);

  // Through the model: a Tab typed into the field, and a click elsewhere.
  typeWithoutReturn(Sig("SBLU"), "0.75");
  UserKey(Controls(), '\t', 48);
  EXPECT_FLOAT_EQ(r->mBlueBalance, 0.75f);
  typeWithoutReturn(Sig("CURV"), "2.5");
  UserMouseInWindow(Controls(), kEventMouseDown, Point{5, 5});
  EXPECT_FLOAT_EQ(r->mCurve, 2.5f);
  // Other keys are left alone.
  typeWithoutReturn(Sig("SATR"), "3");
  UserKey(Controls(), 'a', 0);
  EXPECT_FLOAT_EQ(r->mSaturation, 0.0f);
  EXPECT_EQ(myImageControlWindowEventHandler(nullptr, nullptr, nullptr), eventNotHandledErr);
}

TEST_F(ImageControlWindowTest, ZoomScalesTheScrollAndTheWindow) {
  const struct {
    SInt32 item;
    Float32 zoom;
  } kItems[] = {{10, 1.0f}, {5, 0.5f}, {14, 2.0f}, {1, 0.1f}, {22, 4.0f}};
  for (const auto& k : kItems) EXPECT_FLOAT_EQ(myImageWindowZoomOfItem(k.item), k.zoom) << k.item;

  MyImageWindowDataStruct* r = Open(600, 400);
  ASSERT_NE(r, nullptr);
  SizeWindow(r->mImageWindow, 300, 200, true);
  myReSizeImageWindowControls(r->mImageWindow);
  r->mScrollH = 100;
  r->mScrollV = 40;
  const long renders = Renders();
  ASSERT_EQ(UserChooseItem(Ctl(Sig("ZOOM")), 14), noErr);
  EXPECT_FLOAT_EQ(r->mZoom, 2.0f);
  EXPECT_EQ(r->mScrollH, 200);
  EXPECT_EQ(r->mScrollV, 80);
  EXPECT_EQ(r->mImageRect.top, 0);
  EXPECT_EQ(r->mImageRect.left, 0);
  EXPECT_EQ(r->mImageRect.bottom, 800);
  EXPECT_EQ(r->mImageRect.right, 1200);
  EXPECT_EQ(Renders(), renders + 1);
  EXPECT_EQ(GetControl32BitMaximum(r->mHorzScrollBar), 1200 - 300);
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  EXPECT_EQ(port.right - port.left, 300);

  // Down to 0.25 of it: the window shrinks to the zoomed picture.
  UserChooseItem(Ctl(Sig("ZOOM")), 3);
  EXPECT_FLOAT_EQ(r->mZoom, 0.3f);
  EXPECT_EQ(r->mScrollH, 0);
  EXPECT_EQ(r->mImageRect.right, 180);
  EXPECT_EQ(r->mImageRect.bottom, 120);
  GetWindowPortBounds(r->mImageWindow, &port);
  EXPECT_EQ(port.right - port.left, 180);
  EXPECT_EQ(port.bottom - port.top, 120);
  EXPECT_FALSE(IsControlVisible(r->mHorzScrollBar));
  EXPECT_FALSE(IsControlVisible(r->mVertScrollBar));
}

TEST_F(ImageControlWindowTest, MeasurementWindowWithItsLog) {
  MyImageWindowDataStruct* r = Open(24, 16);
  ASSERT_NE(r, nullptr);
  WindowRef photometry = FindWindow("PhotometryWindow");
  ASSERT_FALSE(IsWindowVisible(photometry));
  ScriptedUser user;
  nav::SaveInto(user, out_);
  const long invalidations = WindowInvalidationCount(r->mImageWindow);
  ASSERT_EQ(UserClick(Ctl(Sig("ASDW"))), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mPhotometryShown, 1);
  EXPECT_EQ(Value(Sig("ASDW")), 1);
  EXPECT_TRUE(IsWindowVisible(photometry));
  EXPECT_GT(WindowInvalidationCount(r->mImageWindow), invalidations);
  ASSERT_NE(r->mMeasurePlane, nullptr);
  EXPECT_EQ(r->mMeasureChannel, 2);
  for (size_t i = 0; i < 24 * 16; ++i) ASSERT_EQ(r->mMeasurePlane[i], r->mSourceLRGB64[4 * i + 2]) << i;
  ASSERT_EQ(LogFiles().size(), 1u);
  EXPECT_EQ(r->mLogOpen, 1);
  const std::string log = out_ + "/" + LogFiles()[0];
  EXPECT_EQ(Slurp(log), "File Name: Orion.tif\r");

  // Hidden: the plane goes, the log stays open.
  UserClick(Ctl(Sig("ASDW")));
  EXPECT_EQ(r->mPhotometryShown, 0);
  EXPECT_FALSE(IsWindowVisible(photometry));
  EXPECT_EQ(r->mMeasurePlane, nullptr);
  EXPECT_EQ(r->mLogOpen, 1);
  // Shown again, from another channel: no second log.
  r->mMeasureChannel = 0;
  UserClick(Ctl(Sig("ASDW")));
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(LogFiles().size(), 1u);
  ASSERT_NE(r->mMeasurePlane, nullptr);
  EXPECT_EQ(r->mMeasurePlane[5], r->mSourceLRGB64[4 * 5]);
  EXPECT_EQ(Slurp(log), "File Name: Orion.tif\r");

  // Its close box hides it as the check box does; the window stays for the
  // next showing.
  ASSERT_EQ(UserCloseWindow(photometry), noErr);
  EXPECT_EQ(FindWindow("PhotometryWindow"), photometry);
  EXPECT_FALSE(IsWindowVisible(photometry));
  EXPECT_EQ(r->mPhotometryShown, 0);
  EXPECT_EQ(Value(Sig("ASDW")), 0);
  EXPECT_EQ(r->mMeasurePlane, nullptr);
  UserClick(Ctl(Sig("ASDW")));
  EXPECT_TRUE(IsWindowVisible(photometry));
  EXPECT_EQ(LogFiles().size(), 1u);
}

TEST_F(ImageControlWindowTest, ACancelledLogAsksAgainAndAFailedPlaneAlerts) {
  MyImageWindowDataStruct* r = Open(24, 16);
  ASSERT_NE(r, nullptr);
  WindowRef photometry = FindWindow("PhotometryWindow");
  {
    ScriptedUser user;
    nav::Cancel(user);
    UserClick(Ctl(Sig("ASDW")));
    EXPECT_EQ(user.Pending(), 0u);
  }
  EXPECT_TRUE(IsWindowVisible(photometry));
  EXPECT_EQ(r->mLogOpen, 0);
  EXPECT_EQ(r->mLogFile, nullptr);
  UserClick(Ctl(Sig("ASDW")));
  {
    ScriptedUser user;
    nav::SaveInto(user, out_);
    UserClick(Ctl(Sig("ASDW")));
    EXPECT_EQ(user.Pending(), 0u);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(r->mLogOpen, 1);
  EXPECT_EQ(LogFiles().size(), 1u);
  UserClick(Ctl(Sig("ASDW")));

  // No memory for the plane: the alert, the window stays hidden.
  const size_t alerts = Alerts().size();
  mySetImagePlaneAllocationFailure(1);
  {
    ScriptedUser user;
    user.AnswerAlert();
    UserClick(Ctl(Sig("ASDW")));
  }
  ASSERT_EQ(Alerts().size(), alerts + 1);
  EXPECT_EQ(Alerts().back().title, "System Error");
  EXPECT_EQ(Alerts().back().message, "There is not enough memory for this operation.");
  EXPECT_EQ(r->mPhotometryShown, 0);
  EXPECT_EQ(Value(Sig("ASDW")), 0);
  EXPECT_FALSE(IsWindowVisible(photometry));
  EXPECT_EQ(r->mMeasurePlane, nullptr);
}

class SaveTest : public ImageControlWindowTest {
 protected:
  // OK with the name typed into the save dialog.
  void Save(const std::string& folder, const std::string& name) {
    ScriptedUser user;
    nav::SaveAs(user, folder, name);
    if (expectAlert_) user.AnswerAlert();
    ASSERT_EQ(UserClick(Ctl(kHICommandOK)), noErr);
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(user.Pending(), 0u);
  }
  bool expectAlert_ = false;
};

TEST_F(SaveTest, WritesTheRenderAsA48BitTIFFAndCloses) {
  MyImageWindowDataStruct* r = Open(40, 30);
  ASSERT_NE(r, nullptr);
  UserClick(Ctl(Sig("CRGB")));
  r->mRedBalance = 1.3f;
  myRenderRGB48ToWindow(r);
  const std::vector<UInt16> render(r->mRenderRGB48, r->mRenderRGB48 + 40 * 30 * 3);
  ASSERT_NE(render, std::vector<UInt16>(r->mSourceRGB48, r->mSourceRGB48 + 40 * 30 * 3));
  UserChooseItem(Ctl(Sig("NOIS")), 3);
  const std::vector<UInt16> shown(r->mRenderRGB48, r->mRenderRGB48 + 40 * 30 * 3);
  Save(out_, "result.tif");
  EXPECT_EQ(Record(), nullptr);
  EXPECT_EQ(Controls(), nullptr);
  EXPECT_EQ(FindWindow("PhotometryWindow"), nullptr);
  const std::string path = out_ + "/result.tif";
  uint32_t w = 0, h = 0;
  uint16_t spp = 0, bits = 0;
  EXPECT_EQ(skyloom::test::ReadTIFF16(path, &w, &h, &spp, nullptr, &bits), shown);
  EXPECT_EQ(w, 40u);
  EXPECT_EQ(h, 30u);
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(bits, 16);
  const std::string info = Shell("tiffinfo '" + path + "'");
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
  EXPECT_EQ(Shell("ls -A '" + out_ + "'"), "result.tif\n");  // nothing left beside it
  // The settings were written as the window closed.
  MyImageWindowDataStruct stored{};
  mySetImageWindowDefaultSettings(&stored);
  myReadWriteImageProcessingPrefs(&stored, 1);
  EXPECT_EQ(stored.mNoiseReduction, 3u);
  EXPECT_EQ(stored.mLRGBMode, 0);
}

TEST_F(SaveTest, SixteenBitGreyAndPreviewOff) {
  const struct {
    bool grey, preview;
  } kCases[] = {{true, true}, {false, false}, {true, false}};
  for (const auto& c : kCases) {
    MyImageWindowDataStruct* r = Open(36, 20);
    ASSERT_NE(r, nullptr);
    r->mRedBalance = 1.4f;
    r->mSaturation = 0.5f;
    // The settings of the window closed before carry over.
    if (bool(r->mSave16Bit) != c.grey) UserClick(Ctl(Sig("M16T")));
    if (bool(r->mPreview) != c.preview) UserClick(Ctl(Sig("PREV")));
    myRenderRGB48ToWindow(r);
    const size_t n = 36 * 20;
    std::vector<UInt16> rgb(r->mRenderRGB48, r->mRenderRGB48 + n * 3);
    if (!c.preview) {
      EXPECT_EQ(rgb, std::vector<UInt16>(r->mSourceRGB48, r->mSourceRGB48 + n * 3));
    }
    std::vector<UInt16> expected = rgb;
    if (c.grey) {
      expected.assign(n, 0);
      myRGB48PtrtoLumaPtr(rgb.data(), expected.data(), 36, 20);
    }
    const std::string name = "shot" + std::to_string(c.grey) + std::to_string(c.preview) + ".tif";
    Save(out_, name);
    EXPECT_EQ(Record(), nullptr);
    uint16_t spp = 0;
    EXPECT_EQ(skyloom::test::ReadTIFF16(out_ + "/" + name, nullptr, nullptr, &spp), expected) << name;
    EXPECT_EQ(spp, c.grey ? 1 : 3) << name;
    if (c.grey) {
      const std::string info = Shell("tiffinfo '" + out_ + "/" + name + "'");
      EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
      EXPECT_NE(info.find("min-is-black"), std::string::npos) << info;
    }
    SkyloomPreferencesForgetAll();
  }
}

TEST_F(SaveTest, CancelAndFailuresKeepTheWindowAndTheFile) {
  MyImageWindowDataStruct* r = Open(30, 20);
  ASSERT_NE(r, nullptr);
  {
    ScriptedUser user;
    nav::Cancel(user);
    UserClick(Ctl(kHICommandOK));
  }
  EXPECT_EQ(Record(), r);
  EXPECT_TRUE(Alerts().empty());

  // Saving over a file whose replacement can't be written leaves the file as
  // it was and says so.
  const std::string original = out_ + "/keep.tif";
  std::ofstream(original) << "the original picture";
  const struct {
    const char* what;
    bool grey;
    bool refuseCreate;
    UInt32 failPlane;
  } kFailures[] = {{"folder refuses files", false, true, 0},
                   {"no memory for the grey plane", true, false, 1}};
  for (const auto& f : kFailures) {
    if (f.grey != bool(r->mSave16Bit)) UserClick(Ctl(Sig("M16T")));
    SkyloomFileFaults faults;
    if (f.refuseCreate) faults.refuseCreateStatus = permErr;
    SkyloomSetFileFaults(faults);
    mySetImagePlaneAllocationFailure(f.failPlane);
    const size_t alerts = Alerts().size();
    expectAlert_ = true;
    {
      ScriptedUser user;
      nav::SaveAs(user, out_, "keep.tif").AnswerAlert(1);  // replace
      user.AnswerAlert();
      UserClick(Ctl(kHICommandOK));
      EXPECT_TRUE(user.Errors().empty()) << f.what;
    }
    SkyloomClearFileFaults();
    mySetImagePlaneAllocationFailure(0);
    ASSERT_EQ(Record(), r) << f.what;
    ASSERT_EQ(Alerts().size(), alerts + 2) << f.what;  // the replace question, then the failure
    const int status = f.refuseCreate ? permErr : memFullErr;
    char text[64];
    snprintf(text, sizeof text, "Saving failed: error %d 0x%X", status, unsigned(status));
    EXPECT_EQ(Alerts().back().message, text) << f.what;
    EXPECT_EQ(Slurp(original), "the original picture") << f.what;
    EXPECT_EQ(Shell("ls -A '" + out_ + "'"), "keep.tif\n") << f.what;
  }
  // The folder that refused the file takes it now, over the original.
  expectAlert_ = false;
  {
    ScriptedUser user;
    nav::SaveAs(user, out_, "keep.tif").AnswerAlert(1);
    UserClick(Ctl(kHICommandOK));
  }
  EXPECT_EQ(Record(), nullptr);
  uint16_t spp = 0;
  EXPECT_EQ(skyloom::test::ReadTIFF16(original, nullptr, nullptr, &spp).size(), 30u * 20u);
  EXPECT_EQ(spp, 1);
}

TEST_F(ImageControlWindowTest, CloseCommandsAndCloseBoxesDisposeOnce) {
  const struct {
    const char* how;
    std::function<void()> close;
  } kWays[] = {
      {"clos", [] { UserSendCommand(Controls(), kHICommandClose); }},
      {"not!", [] { UserClick(Ctl(kHICommandCancel)); }},
      {"control window's close", [] { UserCloseWindow(Controls()); }},
      {"image window's close box", [] { UserCloseWindow(FindWindow("ImageWindow")); }},
  };
  for (const auto& way : kWays) {
    MyImageWindowDataStruct* r = Open(20, 10);
    ASSERT_NE(r, nullptr) << way.how;
    UserChooseItem(Ctl(Sig("NOIS")), 7);
    way.close();
    EXPECT_TRUE(Windows().empty()) << way.how << DescribeModel();
    MyImageWindowDataStruct stored{};
    mySetImageWindowDefaultSettings(&stored);
    myReadWriteImageProcessingPrefs(&stored, 1);
    EXPECT_EQ(stored.mNoiseReduction, 7u) << way.how;
    SkyloomPreferencesForgetAll();
  }
}

}  // namespace
