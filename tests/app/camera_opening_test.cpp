// Opening and closing a camera and the control window's set-up, against the
// simulated cameras: family identification, probes, the video-size list,
// register writes, menus, every failure path and the closing's writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/CameraMenus.h"
#include "app/CameraOpening.h"
#include "app/CameraPrefs.h"
#include "app/TriggerModes.h"
#include "platform/atsui/ATSUnicode.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/support/CameraHarness.h"

namespace ui = skyloom::ui;

namespace {

constexpr UInt32 kTriggerFeatureBit = 0x00080000;      // 0x404: trigger present
constexpr UInt32 kTemperatureFeatureBit = 0x00100000;  // 0x404: temperature present

// A camera of another vendor (no family rule of its own) with one grey mode.
SimCameraPersonality OtherVendor(const std::string& name = "Sim Other") { return SimVendorPersonality(0x00A1B2, name); }

// The same with the trigger feature: sources and modes it takes.
SimCameraPersonality WithTrigger(SimCameraPersonality p, std::vector<UInt32> sources, std::vector<UInt32> modes) {
  UInt32 inquiry = 0x80000000;
  for (UInt32 s : sources) inquiry |= 1u << (23 - s);
  for (UInt32 m : modes) inquiry |= 1u << (15 - m);
  p.registers[0x404] |= kTriggerFeatureBit;
  p.registers[0x530] = inquiry;
  p.registers[0x830] = 0x80000000;
  return p;
}

struct Write {
  UInt32 offset, value;
  bool operator==(const Write&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Write& w) {
  return os << std::hex << "0x" << w.offset << " := 0x" << w.value;
}

// The long-exposure kind with the sliders its colour controls refresh
// (sharpness, white balance), under a name of its model lists.
SimCameraPersonality LongExposureKind(SimCameraPersonality p) {
  auto& r = p.registers;
  r[0x404] |= 0x30000000;  // sharpness, white balance
  r[0x508] = 0x890000FF;
  r[0x808] = 0x82000014;
  r[0x50C] = 0x890000FF;
  r[0x80C] = 0x82000000;
  return p;
}
SimCameraPersonality Frostlens() { return LongExposureKind(SimFrostlensPersonality()); }
SimCameraPersonality Api201() { return LongExposureKind(SimLongExposurePersonality()); }

}  // namespace

class Opening : public CameraHarness {
 public:
  void SetUp() override {
    CameraHarness::SetUp();
    MenuBar();
  }
  void MenuBar() {
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
    DisposeNibReference(nib);
  }
  // The real nib again, after NibWithout.
  void LinkFreshNib() {
    const std::string cmd = "rm -rf '" + dir_ + "/ORX_DCAM.nib'";
    ASSERT_EQ(system(cmd.c_str()), 0);
    LinkRealNib();
  }
  SimCamera& Cam(size_t i = 0) { return *cameras_[i]; }
  static bool CommandEnabled(OSType c) {
    MenuRef m = nullptr;
    MenuItemIndex i = 0;
    if (GetIndMenuItemWithCommandID(nullptr, c, 1, &m, &i) != noErr) return false;
    return IsMenuItemEnabled(m, i);
  }
  void TearDown() override {
    SkyloomFailAllocationAfter(-1);
    SkyloomATSUFailStyleCreation(0);
    if (MyCameraWindowDataStruct* r = Record()) myCloseCameraWindows(r);
    CameraHarness::TearDown();
  }

  // The record of the open camera (the control window's reference), or null.
  static MyCameraWindowDataStruct* Record() {
    WindowRef w = ui::FindWindow("ControlWindow");
    return w ? reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  }
  // Opens the rig's camera without alerts; the record or null.
  MyCameraWindowDataStruct* OpenQuietly() {
    testing::internal::CaptureStderr();
    myFindAndOpenCamera(1);
    err_ = testing::internal::GetCapturedStderr();
    return Record();
  }
  void Close(MyCameraWindowDataStruct* r) {
    testing::internal::CaptureStderr();
    myCloseCameraWindows(r);
    err_ = testing::internal::GetCapturedStderr();
  }
  // Accepted register writes of camera i since its log was cleared, limited
  // to the offsets given (all when empty).
  std::vector<Write> Writes(size_t i, std::vector<UInt32> only = {}) {
    std::vector<Write> out;
    for (const SimLogEntry& e : cameras_[i]->Log()) {
      if (e.kind != SimLogKind::FWWrite || e.status != kIOReturnSuccess) continue;
      if (!only.empty() && std::find(only.begin(), only.end(), e.offset) == only.end()) continue;
      out.push_back({e.offset, e.value});
    }
    return out;
  }
  static bool ItemEnabled(MenuID menu, MenuItemIndex item) { return IsMenuItemEnabled(GetMenuRef(menu), item); }
  static bool ItemChecked(MenuID menu, MenuItemIndex item) {
    CharParameter mark = 0;
    GetItemMark(GetMenuRef(menu), item, &mark);
    return mark != 0;
  }
  std::vector<std::string> SizeItems(MyCameraWindowDataStruct* r) {
    ControlID cid = {FOUR_CHAR_CODE("VISZ"), 0};
    ControlRef c = nullptr;
    GetControlByID(r->mControlWindow, &cid, &c);
    return ui::ControlItems(c);
  }
  // A copy of the real nib without the control whose line holds `drop`
  // (and without that control's items).
  void NibWithout(const std::string& drop) {
    const std::string nib = dir_ + "/ORX_DCAM.nib";
    ASSERT_EQ(unlink(nib.c_str()), 0);
    const std::string cmd = "mkdir -p '" + nib + "' && for f in '" + SKYLOOM_SOURCE_DIR +
                            "'/resources/ORX_DCAM.nib/*.ui; do awk -v d=\"" + drop +
                            "\" 'index($0, d) { skip = 1; next } skip && $1 == \"item\" { next } { skip = 0; print }' "
                            "\"$f\" > '" + nib + "'/$(basename \"$f\"); done";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string err_;
};

TEST_F(Opening, TheDefaultRigOpensItsCameraAndShowsTheControlWindow) {
  Rig({SimDefaultColourPersonality()});
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_TRUE(ui::Alerts().empty());
  EXPECT_EQ(ui::FindWindow("CameraBrowser"), nullptr);
  EXPECT_EQ(r->mKind, kMyCameraWindowDataKind);
  EXPECT_EQ(GetWRefCon(r->mVideoWindow), SRefCon(r));
  Rect b;
  ASSERT_EQ(GetWindowBounds(r->mControlWindow, kWindowContentRgn, &b), noErr);
  EXPECT_EQ(b.top, 60);
  EXPECT_EQ(b.left, 4);
  EXPECT_EQ(b.right - b.left, 414);
  EXPECT_EQ(b.bottom - b.top, 566);
  EXPECT_TRUE(IsWindowVisible(r->mControlWindow));
  EXPECT_FALSE(IsWindowVisible(r->mVideoWindow));
  EXPECT_EQ(r->mControlWindowShown, 1);
  EXPECT_EQ(ui::WindowTitle(r->mControlWindow), "Sim IIDC Colour 1280 Controls");
  EXPECT_FALSE(ItemEnabled(kMyCameraMenuID, kMyOpenCameraItem));
  EXPECT_TRUE(CommandEnabled(FOUR_CHAR_CODE("pref")));
  EXPECT_TRUE(HMAreHelpTagsDisplayed());
  // The histogram view sits in the placeholder's frame; its plot area inside.
  ASSERT_NE(r->mHistogramView, nullptr);
  ASSERT_NE(r->myCameraHistogramToolboxObjectClassRef, nullptr);
  ControlID hist = {FOUR_CHAR_CODE("HIST"), 0};
  ControlRef placeholder = nullptr;
  ASSERT_EQ(GetControlByID(r->mControlWindow, &hist, &placeholder), noErr);
  Rect p;
  GetControlBounds(placeholder, &p);
  EXPECT_EQ(r->mHistogramRect.top, p.top + 1);
  EXPECT_EQ(r->mHistogramRect.left, p.left + 1);
  EXPECT_EQ(r->mHistogramRect.bottom, p.bottom - 2);
  EXPECT_EQ(r->mHistogramRect.right, p.right - 1);
  ASSERT_NE(r->mLUT16, nullptr);
  ASSERT_NE(r->mHistogramL, nullptr);
  // Handlers on both windows, the scroll bars hidden with one action.
  EXPECT_NE(r->mPreviewHandlerRef, nullptr);
  EXPECT_NE(r->mControlHandlerRef, nullptr);
  ASSERT_NE(r->mHScrollBar, nullptr);
  EXPECT_FALSE(IsControlVisible(r->mHScrollBar));
  EXPECT_EQ(GetControlAction(r->mHScrollBar), GetControlAction(r->mVScrollBar));
  EXPECT_GT(r->mScrollBarThickness, 0);

  Close(r);
  EXPECT_TRUE(ui::Windows().empty());
  EXPECT_TRUE(ItemEnabled(kMyCameraMenuID, kMyOpenCameraItem));
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);
  // The class went with the record: the next opening registers it again.
  r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_NE(r->mHistogramView, nullptr);
}

// ---- family table ----

struct FamilyCase {
  const char* label;
  std::function<SimCameraPersonality()> camera;
  const char* title;
  UInt8 pointGrey, pointGreyBayer, byAbsolute, vendor50A6, bayerSelectable, ubt, longExposure;
  UInt32 frostlens;
};

TEST_F(Opening, TheFamilyFollowsTheVendorWordAndTheName) {
  const FamilyCase cases[] = {
      {"Point Grey company", SimDefaultColourPersonality, "Sim IIDC Colour 1280 Controls", 1, 0, 0, 0, 0, 0, 0, 0},
      {"Point Grey board 3", SimPointGreyBoardType3Personality, "Sim IIDC Colour 1280 Controls", 1, 1, 0, 0, 0, 0, 0,
       0},
      {"0x000748", [] { return SimVendorPersonality(0x000748, "Sim 748"); }, "Sim 748 Controls", 0, 0, 1, 0, 0, 0, 0,
       0},
      {"0x0050A6", [] { return SimVendorPersonality(0x0050A6, "Sim 50A6"); }, "Sim 50A6 Controls", 0, 0, 1, 1, 0, 0, 0,
       0},
      {"other vendor", [] { return OtherVendor(); }, "Sim Other Controls", 0, 0, 1, 0, 1, 0, 0, 0},
      {"Frostlens", Frostlens, "Frostlens Controls", 0, 0, 0, 0, 0, 1, 1, 1},
      {"UBT list", [] { SimCameraPersonality p = Api201(); p.modelName = "IBOT"; p.guid ^= 0x10; return p; }, "IBOT Controls", 0, 0, 0, 0, 0, 1, 1, 0},
      {"long-exposure list", Api201, "API-201 Controls", 0, 0, 0, 0, 0, 0, 1, 0},
      {"unknown", [] { return OtherVendor("Unknown Camera"); }, "Camera Controls", 0, 0, 1, 0, 1, 0, 0, 0},
  };
  for (const FamilyCase& c : cases) {
    SCOPED_TRACE(c.label);
    Rig({c.camera()});
    cameras_[0]->ClearLog();
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    EXPECT_EQ(ui::WindowTitle(r->mControlWindow), c.title);
    EXPECT_EQ(r->mIsPointGrey, c.pointGrey);
    EXPECT_EQ(r->mPointGreyBayer, c.pointGreyBayer);
    EXPECT_EQ(r->mShutterByAbsolute, c.byAbsolute);
    EXPECT_EQ(r->mIsVendor50A6, c.vendor50A6);
    EXPECT_EQ(r->mBayerSelectable, c.bayerSelectable);
    EXPECT_EQ(r->mIsUBTModel, c.ubt);
    EXPECT_EQ(r->mIsLongExposureCamera, c.longExposure);
    EXPECT_EQ(r->mFrostlensModel, c.frostlens);
    if (c.longExposure) {
      EXPECT_EQ(r->mExposureItemLimit, c.frostlens ? 7u : 6u);
      EXPECT_EQ(r->mAutoShutterAvailable, 1);
    }
    const std::vector<Write> f08 = Writes(0, {0xF08});
    if (c.vendor50A6) {
      EXPECT_EQ(f08, std::vector<Write>({{0xF08, 0}}));
    } else if (!c.longExposure) {
      EXPECT_TRUE(f08.empty());
    }
    Close(r);
    EXPECT_EQ(cameras_[0]->OpenCount(), 0);
  }
}

// ---- probes ----

TEST_F(Opening, TheFourPinTriggerNeedsBothAlternateSources) {
  struct Case {
    std::vector<UInt32> sources;
    UInt8 fourPin;
  } cases[] = {{{0, 2, 3}, 1}, {{0, 3}, 0}, {{0, 2}, 0}, {{0}, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sources.size());
    Rig({WithTrigger(OtherVendor(), c.sources, {0})});
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    EXPECT_EQ(r->mTrigger4PinAvailable, c.fourPin);
    EXPECT_EQ(ItemEnabled(kMyCameraTriggerMenuID, 5), c.fourPin == 1);
    if (!c.fourPin) { EXPECT_EQ(r->mTrigger4Pin, 0); }
    // The source is back at 0.
    EXPECT_EQ(cameras_[0]->Peek(0x830) & 0x00E00000u, 0u);
    Close(r);
  }
}

TEST_F(Opening, PointGreyPinsComeFromTheGPIOInquiryAndModeOneIsWrittenBack) {
  struct Case {
    UInt32 gpio;
    bool modeOne;
    UInt8 fourPin;
  } cases[] = {{0x80040000, true, 1}, {0x80030000, false, 0}, {0x00040000, true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gpio);
    SimCameraPersonality p = SimDefaultColourPersonality();
    p.registers[0x1100] = c.gpio;
    p.registers[0x530] = 0x8E808000 | (c.modeOne ? 0x4000 : 0);
    p.registers[0x830] = 0x80000000;
    Rig({p});
    cameras_[0]->ClearLog();
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    EXPECT_EQ(r->mTrigger4PinAvailable, c.fourPin);
    EXPECT_EQ(r->mTriggerMode1Available, c.modeOne ? 1 : 0);
    // The mode written for the probe went back to the mode read first (0).
    std::vector<Write> modes;
    for (const Write& w : Writes(0, {0x830}))
      if (((w.value >> 16) & 0xF) == 1) modes.push_back(w);
    EXPECT_EQ(modes.size(), c.modeOne ? 1u : 0u);
    EXPECT_EQ((cameras_[0]->Peek(0x830) >> 16) & 0xF, 0u);
    Close(r);
  }
}

TEST_F(Opening, TriggerModeFourteenIsOfferedOnlyWhenTheCameraTakesIt) {
  for (bool fourteen : {true, false}) {
    SCOPED_TRACE(fourteen);
    std::vector<UInt32> modes = {0};
    if (fourteen) modes.push_back(14);
    Rig({WithTrigger(OtherVendor(), {0}, modes)});
    // The preferences ask for mode 14 whatever the camera takes.
    char domain[64];
    snprintf(domain, sizeof domain, "com.brindlemoor.SKYLOOM.CameraPrefs%d",
             int(cameras_[0]->Personality().guid & 0xFFFFFFFF));
    CFStringRef d = CFStringCreateWithCString(nullptr, domain, kCFStringEncodingUTF8);
    CFPreferencesSetAppValue(CFSTR("TRGMD"), CFSTR("14.000000"), d);
    CFPreferencesAppSynchronize(d);
    CFRelease(d);
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    EXPECT_EQ(r->mTriggerMode14Available, fourteen ? 1 : 0);
    if (!fourteen) {
      EXPECT_EQ(r->mTriggerMode, 0u);
      EXPECT_FALSE(ItemChecked(kMyCameraTriggerMenuID, 4));
    }
    EXPECT_EQ(ItemEnabled(kMyCameraTriggerMenuID, 4), fourteen);
    EXPECT_TRUE(ItemChecked(kMyCameraTriggerMenuID, 1));
    EXPECT_TRUE(ItemEnabled(kMyCameraTriggerMenuID, 2));
    EXPECT_EQ(r->mTriggerAvailable, 1);
    Close(r);
  }
}

TEST_F(Opening, TemperatureIsReadAbsoluteThroughTheRegisterOrNotAtAll) {
  const UInt32 absValue = kSimAbsoluteBlockBase + 0x10 * ((0x52C - 0x500) / 4) + 8;
  struct Case {
    const char* label;
    std::function<SimCameraPersonality()> camera;
    bool failAbsoluteRead;
    UInt32 mode, settable;
  } cases[] = {
      {"absolute", SimDefaultColourPersonality, false, 2, 1},
      {"absolute read fails", SimDefaultColourPersonality, true, 0, 0},
      {"register",
       [] {
         SimCameraPersonality p = OtherVendor();
         p.registers[0x404] |= kTemperatureFeatureBit;
         p.registers[0x52C] = 0x89000FFF;  // read-out, manual
         p.registers[0x82C] = 0x82000000;
         return p;
       },
       false, 1, 1},
      {"none", [] { return OtherVendor(); }, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Rig({c.camera()});
    if (c.failAbsoluteRead) cameras_[0]->FailRegister(absValue, SimAccessKind::Read, kIOReturnNotResponding, 1);
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    EXPECT_EQ(r->mTemperatureMode, c.mode);
    EXPECT_EQ(r->mTemperatureSettable, c.settable);
    // Absolute control stays on only while the absolute value is read.
    if (c.failAbsoluteRead) { EXPECT_EQ(cameras_[0]->Peek(0x82C) & 0x40000000u, 0u); }
    if (c.mode == 2) { EXPECT_NE(cameras_[0]->Peek(0x82C) & 0x40000000u, 0u); }
    if (c.mode == 0) { EXPECT_FALSE(ItemEnabled(kMyTemperatureMenuID, 3)); }
    Close(r);
  }
}

TEST_F(Opening, TheAutomaticShutterProbeSwitchesAutoOffAgain) {
  Rig({OtherVendor()});
  cameras_[0]->ClearLog();
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_EQ(r->mAutoShutterAvailable, 1);
  std::vector<bool> autoBits;
  for (const Write& w : Writes(0, {0x81C})) autoBits.push_back((w.value & 0x01000000u) != 0);
  ASSERT_GE(autoBits.size(), 2u);
  EXPECT_TRUE(autoBits[0]);
  EXPECT_FALSE(autoBits[1]);
  EXPECT_EQ(cameras_[0]->Peek(0x81C) & 0x01000000u, 0u);
}

// ---- the video-size list ----

namespace {
// Every fixed mode of the list, and Format 7 modes as asked.
SimCameraPersonality AllFixedModes() {
  SimCameraPersonality p = OtherVendor("Sim Sizes");
  auto& r = p.registers;
  r[0x100] = 0xE0000000;
  r[0x180] = 1u << 26 | 1u << 25;                        // Format 0 modes 5, 6
  r[0x184] = r[0x188] = 1u << 29 | 1u << 26 | 1u << 25 | 1u << 24;  // modes 2, 5, 6, 7
  for (UInt32 base : {0x200u, 0x220u, 0x240u})
    for (UInt32 m = 0; m < 8; m++) r[base + 4 * m] = 0xC0000000;  // 1.875 and 3.75 fps
  return p;
}
void AddFormat7(SimCameraPersonality& p, UInt32 mode, UInt32 codings) {
  p.registers[0x100] |= 0x01000000;
  p.registers[0x19C] |= 1u << (31 - mode);
  SimAddFormat7Mode(p, mode, 640, 480, 4, 2, codings, 0, 0);
}
}  // namespace

TEST_F(Opening, FixedModesAreListedInTheirOrder) {
  Rig({AllFixedModes()});
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  const std::vector<std::string> expected = {"640x480 8bit",   "640x480 16bit",  "800x600 8bit",   "800x600 16bit",
                                             "1024x768 8bit",  "1024x768 16bit", "1280x960 8bit",  "1280x960 16bit",
                                             "1600x1200 8bit", "1600x1200 16bit"};
  EXPECT_EQ(SizeItems(r), expected);
  EXPECT_EQ(r->mVideoSizeCount, 10u);
  EXPECT_EQ(r->mVideoSizes[4].mFormat, 1u);
  EXPECT_EQ(r->mVideoSizes[4].mMode, 5u);
}

TEST_F(Opening, FormatSevenDepthsTakeThePreferredCodings) {
  struct Case {
    const char* label;
    UInt32 codings;
    std::vector<UInt32> ids;
  } cases[] = {
      {"raw 8, mono 8, raw 16, mono 12", 1u << 31 | 1u << 22 | 1u << 21 | 1u << 20, {9, 11, 10}},
      {"mono 8 only", 1u << 31, {0}},
      {"mono 16 and raw 12", 1u << 26 | 1u << 19, {12, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SimCameraPersonality p = OtherVendor("Sim F7");
    p.registers[0x100] = 0;
    AddFormat7(p, 0, c.codings);
    Rig({p});
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    ASSERT_EQ(r->mVideoSizeCount, c.ids.size());
    for (size_t i = 0; i < c.ids.size(); i++) {
      EXPECT_EQ(r->mVideoSizes[i].mColorCoding, c.ids[i]) << i;
      EXPECT_EQ(r->mVideoSizes[i].mFormat, 7u);
      EXPECT_EQ(r->mVideoSizes[i].mRegionAllowed, 1);
    }
    EXPECT_EQ(SizeItems(r)[0].substr(SizeItems(r)[0].size() - 5), " FMT7");
    Close(r);
  }
}

TEST_F(Opening, TheListStopsAtOneHundredEntries) {
  SimCameraPersonality p = AllFixedModes();
  for (UInt32 mode = 0; mode < 32; mode++) AddFormat7(p, mode, 1u << 22 | 1u << 21 | 1u << 19);
  Rig({p});
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  // Ten fixed modes, then Format 7 modes 0 to 29 (three depths each): the
  // last one starts at 97 entries and fills the table.
  EXPECT_EQ(r->mVideoSizeCount, 100u);
  EXPECT_EQ(SizeItems(r).size(), 100u);
  EXPECT_EQ(r->mVideoSizes[99].mMode, 29u);
}

// ---- set-up register writes ----

TEST_F(Opening, TheFrostlensIrisRegistersAreRewrittenBehindTheWriteEnableCode) {
  EXPECT_EQ(kMyEEPROMWriteEnableCode, kSimEEPROMWriteEnableCode);
  Rig({Frostlens()});
  cameras_[0]->ClearLog();
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_EQ(r->mSavedIrisInquiry, 0x890000FFu);
  EXPECT_EQ(r->mSavedIrisControl, 0x82000000u);
  const std::vector<Write> expected = {{0xF00, kMyEEPROMWriteEnableCode},
                                       {0x524, 0x89001004},
                                       {0x824, 0x82001004},
                                       {0xF00, 0},
                                       {0xF1C, 0x10601}};
  std::vector<Write> got = Writes(0, {0xF00, 0x524, 0x824, 0xF1C});
  got.resize(std::min(got.size(), expected.size()));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(cameras_[0]->Peek(0x524), 0x89001004u);  // the EEPROM took it
}

TEST_F(Opening, AFailedIrisReadLeavesTheEEPROMAlone) {
  Rig({Frostlens()});
  cameras_[0]->FailRegister(0x824, SimAccessKind::Read, kIOReturnNotResponding, 1);
  cameras_[0]->ClearLog();
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_EQ(r->mSavedIrisInquiry, kMyIrisReadFailed);
  EXPECT_NE(err_.find("++++++ IR Failed"), std::string::npos);
  EXPECT_TRUE(Writes(0, {0xF00, 0x524}).empty());
  EXPECT_EQ(Writes(0, {0xF1C}).front(), (Write{0xF1C, 0x10601}));
  // Nor does the closing write it.
  cameras_[0]->ClearLog();
  Close(r);
  EXPECT_TRUE(Writes(0, {0xF00, 0x524}).empty());
}

TEST_F(Opening, PointGreyShutterControlGetsTheExtendedBits) {
  for (bool board3 : {false, true}) {
    SCOPED_TRACE(board3);
    Rig({board3 ? SimPointGreyBoardType3Personality() : SimDefaultColourPersonality()});
    const UInt32 before = cameras_[0]->Peek(0x81C);
    cameras_[0]->ClearLog();
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    const UInt32 bits = board3 ? 0x40FFA000u : 0x40000000u;
    bool found = false;
    for (const Write& w : Writes(0, {0x81C})) found = found || w.value == (before | bits);
    EXPECT_TRUE(found);
    Close(r);
  }
}

TEST_F(Opening, GammaGoesToUnityOrOffWhenItsValueIsRefused) {
  const UInt32 absValue = kSimAbsoluteBlockBase + 0x10 * ((0x518 - 0x500) / 4) + 8;
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse);
    SimCameraPersonality p = OtherVendor("Sim Gamma");
    p.registers[0x404] |= 0x02000000;  // gamma
    p.registers[0x518] = 0xCD0003FF;   // absolute, on/off, manual
    p.registers[0x818] = 0x80000001;
    p.registers[0x718] = SimQuadletOffsetFor(p.commandBase, kSimAbsoluteBlockBase + 0x10 * 6);
    p.registers[kSimAbsoluteBlockBase + 0x60] = SimFloatBits(0.5f);
    p.registers[kSimAbsoluteBlockBase + 0x64] = SimFloatBits(4.0f);
    p.registers[kSimAbsoluteBlockBase + 0x68] = SimFloatBits(2.2f);
    Rig({p});
    ASSERT_EQ(absValue, kSimAbsoluteBlockBase + 0x68);
    if (refuse) cameras_[0]->FailRegister(absValue, SimAccessKind::Write, kIOReturnNotResponding);
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    const UInt32 control = cameras_[0]->Peek(0x818);
    EXPECT_EQ((control & 0x02000000u) != 0, !refuse);  // on
    EXPECT_EQ((control & 0x40000000u) != 0, !refuse);  // absolute
    if (!refuse) { EXPECT_EQ(cameras_[0]->Peek(absValue), SimFloatBits(1.0f)); }
    if (refuse) { EXPECT_NE(err_.find("mySetGammaToUnity Setting Gamma to 1.0 failed"), std::string::npos); }
    Close(r);
  }
}

// ---- failures ----

struct FailureCase {
  const char* label;
  std::function<void(Opening*)> arrange;
};

TEST_F(Opening, EveryFailingStepLeavesNothingBehind) {
  const FailureCase cases[] = {
      {"record memory", [](Opening*) { SkyloomFailAllocationAfter(0); }},
      {"style", [](Opening*) { SkyloomATSUFailStyleCreation(2); }},
      {"class", [](Opening*) { ui::InjectFailure("HIObjectRegisterSubclass", paramErr); }},
      {"nib", [](Opening*) { ui::InjectFailure("CreateNibReference", -43); }},
      {"video window", [](Opening*) { ui::InjectFailure("CreateWindowFromNib", -43); }},
      {"control window", [](Opening*) { ui::InjectFailureAt("CreateWindowFromNib", -43, 2); }},
      {"handler", [](Opening*) { ui::InjectFailure("InstallEventHandler", paramErr); }},
      {"view", [](Opening*) { ui::InjectFailure("HIObjectCreate", paramErr); }},
      {"no 'VISZ'", [](Opening* t) { t->NibWithout("'VISZ' 0"); }},
      {"no 'FRAM'", [](Opening* t) { t->NibWithout("'FRAM' 0"); }},
      {"size selection",
       [](Opening* t) { t->Cam().FailRegister(0x608, SimAccessKind::Write, kIOReturnNotResponding); }},
  };
  for (UInt32 automatic : {1u, 0u}) {
    for (const FailureCase& c : cases) {
      SCOPED_TRACE(std::string(c.label) + (automatic ? " automatic" : " manual"));
      ui::ResetModel();
      LinkFreshNib();
      MenuBar();
      Rig({SimDefaultColourPersonality()});
      const long styles = SkyloomATSULiveObjectCount();
      c.arrange(this);
      {
        ui::ScriptedUser user;
        if (!automatic) user.AnswerAlert();
        testing::internal::CaptureStderr();
        myFindAndOpenCamera(automatic);
        err_ = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(user.Errors().empty());
      }
      SkyloomFailAllocationAfter(-1);
      SkyloomATSUFailStyleCreation(0);
      EXPECT_EQ(Record(), nullptr);
      EXPECT_TRUE(ui::Windows().empty()) << ui::DescribeModel();
      EXPECT_EQ(cameras_[0]->OpenCount(), 0);
      EXPECT_EQ(SkyloomATSULiveObjectCount(), styles);
      EXPECT_TRUE(ItemEnabled(kMyCameraMenuID, kMyOpenCameraItem));
      if (automatic) {
        EXPECT_TRUE(ui::Alerts().empty());
      } else {
        ASSERT_EQ(ui::Alerts().size(), 1u);
        EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
        EXPECT_EQ(ui::Alerts()[0].message, "myCreateCameraWindows - Camera Access Failed\n");
      }
    }
  }
}

TEST_F(Opening, EveryFailingAllocationLeavesNothingBehind) {
  Rig({SimDefaultColourPersonality()});
  bool opened = false;
  for (long k = 0; k < 400 && !opened; k++) {
    SCOPED_TRACE(k);
    SkyloomFailAllocationAfter(k);
    MyCameraWindowDataStruct* r = OpenQuietly();
    SkyloomFailAllocationAfter(-1);
    if (r) {
      opened = true;
      Close(r);
    } else {
      EXPECT_TRUE(ui::Windows().empty());
      EXPECT_EQ(cameras_[0]->OpenCount(), 0);
    }
  }
  EXPECT_TRUE(opened);
}

TEST_F(Opening, AClassAlreadyRegisteredOpensWithoutAHistogramView) {
  Rig({SimDefaultColourPersonality()});
  HIObjectClassRef other = nullptr;
  ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.camera.histogram"), kHIViewClassID, 0,
                                     myControlWindowEventHandler, 0, nullptr, nullptr, &other),
            noErr);
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  EXPECT_EQ(r->mHistogramView, nullptr);
  EXPECT_EQ(r->myCameraHistogramToolboxObjectClassRef, nullptr);
  Close(r);
  HIObjectUnregisterClass(other);
}

// ---- the browser's outcomes ----

TEST_F(Opening, WithoutACameraOnlyAManualOpeningSaysSo) {
  Rig({});
  myFindAndOpenCamera(1);
  EXPECT_TRUE(ui::Alerts().empty());
  {
    ui::ScriptedUser user;
    user.AnswerAlert();
    myFindAndOpenCamera(0);
  }
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "USRER");  // the keys: this test has no strings table
  EXPECT_EQ(ui::Alerts()[0].message, "NOCAMERA");
  // A camera that cannot be used is the same to the user.
  SimCameraPersonality unusable = OtherVendor();
  unusable.registers[0x100] = 0;
  Rig({unusable});
  {
    ui::ScriptedUser user;
    user.AnswerAlert();
    myFindAndOpenCamera(0);
  }
  ASSERT_EQ(ui::Alerts().size(), 2u);
  EXPECT_EQ(ui::Alerts()[1].message, "NOCAMERA");
}

TEST_F(Opening, CancellingTheBrowserOpensNothingAndSaysNothing) {
  Rig({SimDefaultColourPersonality(), OtherVendor()});
  {
    ui::ScriptedUser user;
    user.ClickCancel("CameraBrowser");
    myFindAndOpenCamera(0);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_EQ(Record(), nullptr);
  EXPECT_TRUE(ui::Alerts().empty());
  EXPECT_TRUE(ui::Windows().empty());
  // OK takes the camera chosen.
  {
    ui::ScriptedUser user;
    user.ChooseItem(FOUR_CHAR_CODE("CAMR"), 0, 2, "CameraBrowser").ClickOK("CameraBrowser");
    myFindAndOpenCamera(0);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_NE(Record(), nullptr);
  EXPECT_STREQ(Record()->mProperties.mName, "Sim Other");
}

TEST_F(Opening, OtherBrowserErrorsAreShownWithTheirNumber) {
  Rig({SimDefaultColourPersonality(), OtherVendor()});
  ui::InjectFailure("CreateNibReference", -43);
  {
    ui::ScriptedUser user;
    user.AnswerAlert();
    myFindAndOpenCamera(0);
  }
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[0].message, "myBrowseCameras Failed with Err -43\n");
  ui::InjectFailure("CreateNibReference", -43);
  myFindAndOpenCamera(1);
  EXPECT_EQ(ui::Alerts().size(), 1u);
}

// ---- the settings-slot menu ----

TEST_F(Opening, TheSlotMenuShowsTheNamedSlots) {
  for (UInt32 named : {0u, 5u, 20u}) {
    SCOPED_TRACE(named);
    for (UInt32 slot = 0; slot < kMyCameraSettingsSlots; slot++) {
      CFStringRef domain = myCreateCameraSettingsDomain(slot);
      CFPreferencesSetAppValue(CFSTR("MENUNAME"), slot < named ? CFSTR("Jupiter") : nullptr, domain);
      CFPreferencesAppSynchronize(domain);
      CFRelease(domain);
    }
    Rig({SimDefaultColourPersonality()});
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    MenuRef m = GetMenuRef(kMyCameraSettingsMenuID);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(r->mSavedSlotCount, SInt32(named));
    for (UInt32 slot = 0; slot < kMyCameraSettingsSlots; slot++) {
      char none[16];
      snprintf(none, sizeof none, "None %02u", slot + 1);
      EXPECT_EQ(ui::MenuItemText(m, MenuItemIndex(slot + 4)), slot < named ? "Jupiter" : none) << slot;
      EXPECT_EQ(IsMenuItemEnabled(m, MenuItemIndex(slot + 4)), slot < named) << slot;
    }
    EXPECT_EQ(IsMenuItemEnabled(m, 1), named < 20);
    EXPECT_EQ(IsMenuItemEnabled(m, 2), named > 0);
    Close(r);
  }
}

// ---- closing ----

TEST_F(Opening, ClosingALongExposureCameraRestoresItsRegistersAndClosesItLast) {
  struct Case {
    std::function<SimCameraPersonality()> camera;
    UInt32 inquiry, control;
  } cases[] = {{Frostlens, 0x89001004, 0x82001004}, {Api201, 0x09004004, 0x90000004}};
  for (const Case& c : cases) {
    Rig({c.camera()});
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << err_;
    cameras_[0]->ClearLog();
    Close(r);
    const std::vector<Write> eeprom = Writes(0, {0xF00, 0x524, 0x824});
    const std::vector<Write> expected = {
        {0xF00, kMyEEPROMWriteEnableCode}, {0x524, c.inquiry}, {0x824, c.control}, {0xF00, 0}};
    EXPECT_EQ(eeprom, expected);
    const std::vector<Write> all = Writes(0);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), (Write{0x610, 0}));
    EXPECT_EQ(cameras_[0]->OpenCount(), 0);
    EXPECT_TRUE(ui::Windows().empty());
  }
}

TEST_F(Opening, TheControlWindowsPlaceIsKeptForTheNextOpening) {
  Rig({SimDefaultColourPersonality()});
  MyCameraWindowDataStruct* r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  MoveWindow(r->mControlWindow, 120, 90, false);
  SizeWindow(r->mControlWindow, 414, 300, false);
  Close(r);
  r = OpenQuietly();
  ASSERT_NE(r, nullptr) << err_;
  Rect b;
  ASSERT_EQ(GetWindowBounds(r->mControlWindow, kWindowContentRgn, &b), noErr);
  EXPECT_EQ(b.left, 120);
  EXPECT_EQ(b.top, 90);
  EXPECT_EQ(b.bottom - b.top, 300);
  EXPECT_EQ(b.right - b.left, 414);
}

TEST_F(Opening, ClosingWithoutARecordOnlyResetsTheCameraMenu) {
  MenuRef camera = GetMenuRef(kMyCameraMenuID);
  DisableMenuItem(camera, kMyOpenCameraItem);
  EnableMenuItem(camera, 3);
  myCloseCameraWindows(nullptr);
  EXPECT_TRUE(IsMenuItemEnabled(camera, kMyOpenCameraItem));
  for (MenuItemIndex i : {3, 4, 10, 12, 15, 16, 21}) EXPECT_FALSE(IsMenuItemEnabled(camera, i)) << i;
  EXPECT_TRUE(IsMenuItemEnabled(camera, kMyCameraSettingsItem));
}

TEST_F(Opening, RepeatedOpeningAndClosingLeavesNothingBehind) {
  // A TSan build opens a camera some fifty times slower: five cycles there.
#if defined(__SANITIZE_THREAD__)
  constexpr int kCycles = 5;
#else
  constexpr int kCycles = 100;
#endif
  Rig({SimDefaultColourPersonality()});
  const long styles = SkyloomATSULiveObjectCount();
  const long handles = SkyloomLiveHandleCount();
  for (int i = 0; i < kCycles; i++) {
    MyCameraWindowDataStruct* r = OpenQuietly();
    ASSERT_NE(r, nullptr) << i << err_;
    Close(r);
    ASSERT_TRUE(ui::Windows().empty()) << i;
  }
  EXPECT_EQ(SkyloomATSULiveObjectCount(), styles);
  EXPECT_EQ(SkyloomLiveHandleCount(), handles);
  EXPECT_EQ(cameras_[0]->OpenCount(), 0);
}
