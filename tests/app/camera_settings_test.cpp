// The named camera settings: the slots' domains, menu 12, saving, deleting
// and applying a slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "camera_driver/DCAMCameraStruct.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "tests/app/PrefsFixture.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kGain = FOUR_CHAR_CODE("GAIN");
constexpr OSType kBright = FOUR_CHAR_CODE("BRIT");

void SentinelCallback(UInt32, UInt32, UInt32, void*, void*, double, double) {}
void LiveCallback(UInt32, UInt32, UInt32, void*, void*, double, double) {}

std::string SlotDomain(int slot) {
  char d[64];
  snprintf(d, sizeof d, "com.brindlemoor.SKYLOOM.CameraSettings%02d", slot);
  return d;
}

class CameraSettings : public PrefsTest {
 protected:
  void SetUp() override {
    PrefsTest::SetUp();
    savedCallback_ = gMyLiveFrameCallback;
    gMyLiveFrameCallback = LiveCallback;
  }
  void TearDown() override {
    PrefsTest::TearDown();
    gMyLiveFrameCallback = savedCallback_;
  }
  MenuRef Settings() { return GetMenuRef(kMyCameraSettingsMenuID); }
  std::string Item(int item) { return skyloom::ui::MenuItemText(Settings(), MenuItemIndex(item)); }
  bool ItemOn(int item) { return IsMenuItemEnabled(Settings(), MenuItemIndex(item)); }
  SInt32 ControlValue(OSType signature) { return GetControl32BitValue(Control(signature)); }

  // A camera that streams, ready to take a slot.
  MyCameraWindowDataStruct* OpenStreaming(const SimCameraPersonality& p) {
    MyCameraWindowDataStruct* r = OpenReady(p);
    if (!r) return nullptr;
    r->mGrabControlsEnabled = 1;
    r->mRunning = 1;
    return r;
  }
  // A slot as a save would leave it.
  static void StoreSlot(int slot, const char* name, const char* gain, const char* fort) {
    const std::string d = SlotDomain(slot);
    Put(d, "MENUNAME", name);
    Put(d, "GAIN", gain);
    Put(d, "BRIT", "40.000000");
    Put(d, "FRAM", "5.000000");
    Put(d, "CCDB", "4.000000");
    Put(d, "FORT", fort);
  }
  OSStatus Apply(UInt32 slot) {
    testing::internal::CaptureStderr();
    OSStatus err = myApplyCameraSettings(record_, slot);
    testing::internal::GetCapturedStderr();
    return err;
  }
  MyDCAMFrameCallback CurrentCallback() { return record_->mCameraHandle->mFrameCallback; }

 private:
  MyDCAMFrameCallback savedCallback_ = nullptr;
};

TEST_F(CameraSettings, SlotDomainsAndFreeItemTexts) {
  const struct {
    UInt32 slot;
    const char* domain;
    const char* text;
  } kCases[] = {{0, "com.brindlemoor.SKYLOOM.CameraSettings00", "None 01"},
                {8, "com.brindlemoor.SKYLOOM.CameraSettings08", "None 09"},
                {9, "com.brindlemoor.SKYLOOM.CameraSettings09", "None 10"},
                {10, "com.brindlemoor.SKYLOOM.CameraSettings10", "None 11"},
                {19, "com.brindlemoor.SKYLOOM.CameraSettings19", "None 20"}};
  for (const auto& c : kCases) {
    CFStringRef d = myCreateCameraSettingsDomain(c.slot);
    ASSERT_NE(d, nullptr);
    char text[64];
    CFStringGetCString(d, text, sizeof text, kCFStringEncodingUTF8);
    CFRelease(d);
    EXPECT_STREQ(text, c.domain);
    myFreeCameraSettingsText(c.slot, text);
    EXPECT_STREQ(text, c.text);
  }
  EXPECT_EQ(myCreateCameraSettingsDomain(20), nullptr);
}

TEST_F(CameraSettings, OpeningListsTheSlotsInUse) {
  Put(SlotDomain(3), "MENUNAME", "Jupiter");
  Put(SlotDomain(12), "MENUNAME", "");  // deleted: free
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mSavedSlotCount, 1);
  EXPECT_EQ(Item(7), "Jupiter");
  EXPECT_TRUE(ItemOn(7));
  EXPECT_EQ(Item(4), "None 01");
  EXPECT_FALSE(ItemOn(4));
  EXPECT_EQ(Item(13), "None 10");
  EXPECT_EQ(Item(16), "None 13");
  EXPECT_FALSE(ItemOn(16));
  EXPECT_TRUE(ItemOn(1));
  EXPECT_TRUE(ItemOn(2));
}

TEST_F(CameraSettings, SavingStoresTheControlsInTheLowestFreeSlot) {
  Put(SlotDomain(0), "MENUNAME", "Moon");
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_FALSE(ItemOn(2) && r->mSavedSlotCount == 0);
  SetControl32BitValue(Control(kBright), 33);
  SetControl32BitValue(Control(kGain), 21);
  DisableControl(Control(kGain));
  skyloom::ui::ScriptedUser user;
  user.Do([&] { EXPECT_NE(skyloom::ui::SheetOf(r->mControlWindow), nullptr); })
      .Type(FOUR_CHAR_CODE("NAME"), 0, "Saturn")
      .ClickOK();
  EXPECT_EQ(myCreateCameraSettings(r, r->mControlWindow), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(skyloom::ui::SheetOf(r->mControlWindow), nullptr);
  EXPECT_EQ(r->mSavedSlotCount, 2);
  EXPECT_EQ(Item(5), "Saturn");
  EXPECT_TRUE(ItemOn(5));
  SkyloomPreferencesForgetAll();
  const std::string d = SlotDomain(1);
  EXPECT_EQ(Stored(d, "VERS"), "1.00.00");
  EXPECT_EQ(Stored(d, "MENUNAME"), "Saturn");
  EXPECT_EQ(Stored(d, "BRIT"), "33.000000");
  EXPECT_EQ(Stored(d, "GAIN"), "-1.000000");
  for (const char* key : {"SAT_", "EXPO", "VorR", "UorB", "GAMA", "FRAM", "CCDB", "FORT"})
    EXPECT_NE(Stored(d, key), "<none>") << key;
  // Cancelled: nothing more.
  user.ClickCancel();
  EXPECT_EQ(myCreateCameraSettings(r, nullptr), userCanceledErr);
  EXPECT_EQ(r->mSavedSlotCount, 2);
  EXPECT_EQ(Item(6), "None 03");
}

TEST_F(CameraSettings, AnEmptyNameKeepsTheSheetOpen) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  skyloom::ui::ScriptedUser user;
  user.Type(FOUR_CHAR_CODE("NAME"), 0, "")
      .ClickOK()
      .AnswerAlert()
      .Do([&] { EXPECT_NE(skyloom::ui::SheetOf(r->mControlWindow), nullptr); })
      .Type(FOUR_CHAR_CODE("NAME"), 0, "Mars")
      .ClickOK();
  EXPECT_EQ(myCreateCameraSettings(r, r->mControlWindow), noErr);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  CFStringRef title = myGetLocalizedCFString("USRER"), message = myGetLocalizedCFString("NOCAMSETTINGNAME");
  char t[256], m[256];
  CFStringGetCString(title, t, sizeof t, kCFStringEncodingUTF8);
  CFStringGetCString(message, m, sizeof m, kCFStringEncodingUTF8);
  CFRelease(title);
  CFRelease(message);
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, t);
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, m);
  EXPECT_EQ(Item(4), "Mars");
}

TEST_F(CameraSettings, TwentySlotsDisableSavingUntilOneIsDeleted) {
  for (int s = 0; s < 20; s++) Put(SlotDomain(s), "MENUNAME", ("Set " + std::to_string(s)).c_str());
  Put(SlotDomain(9), "GAIN", "50.000000");
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mSavedSlotCount, 20);
  EXPECT_FALSE(ItemOn(1));
  EXPECT_TRUE(ItemOn(2));

  // Saving with all twenty in use stores nothing and leaves the count.
  {
    skyloom::ui::ScriptedUser user;
    user.Type(FOUR_CHAR_CODE("NAME"), 0, "Extra").ClickOK();
    EXPECT_EQ(myCreateCameraSettings(r, nullptr), noErr);
    EXPECT_EQ(r->mSavedSlotCount, 20);
    for (int item = 4; item <= 23; item++) EXPECT_NE(Item(item), "Extra");
  }

  // Deleting slot 9: the dialog lists the slots, the first one chosen.
  skyloom::ui::ScriptedUser user;
  user.Do([&] {
        WindowRef dialog = skyloom::ui::SheetOf(r->mControlWindow);
        ASSERT_NE(dialog, nullptr);
        ControlRef list = skyloom::ui::FindControl(dialog, FOUR_CHAR_CODE("LIST"), 0);
        EXPECT_EQ(GetControl32BitValue(list), 1);
        EXPECT_EQ(skyloom::ui::ControlItems(list)[9], "Set 9");
      })
      .ChooseItem(FOUR_CHAR_CODE("LIST"), 0, 10)
      .ClickOK();
  EXPECT_EQ(myDeleteCameraSettings(r->mControlWindow, &r->mSavedSlotCount), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(r->mSavedSlotCount, 19);
  EXPECT_EQ(Item(13), "None 10");
  EXPECT_FALSE(ItemOn(13));
  EXPECT_TRUE(ItemOn(1));
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(Stored(SlotDomain(9), "MENUNAME"), "");
  EXPECT_EQ(Stored(SlotDomain(9), "GAIN"), "50.000000");  // the other keys stay

  // Slot 0, chosen as the first in the list.
  user.ClickOK();
  EXPECT_EQ(myDeleteCameraSettings(nullptr, &r->mSavedSlotCount), noErr);
  EXPECT_EQ(Item(4), "None 01");
  EXPECT_EQ(r->mSavedSlotCount, 18);
  // Cancel deletes nothing.
  user.ClickCancel();
  EXPECT_EQ(myDeleteCameraSettings(nullptr, &r->mSavedSlotCount), userCanceledErr);
  EXPECT_EQ(r->mSavedSlotCount, 18);
}

TEST_F(CameraSettings, ApplyingIsRefusedWithoutTouchingTheCamera) {
  StoreSlot(0, "Moon", "10.000000", "2.000000");
  MyCameraWindowDataStruct* r = OpenStreaming(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  const struct {
    const char* label;
    void (*set)(MyCameraWindowDataStruct*);
    UInt32 slot;
  } kCases[] = {
      {"grab controls disabled", [](MyCameraWindowDataStruct* x) { x->mGrabControlsEnabled = 0; }, 0},
      {"recording", [](MyCameraWindowDataStruct* x) { x->mRecording = 1; }, 0},
      {"grab wanted", [](MyCameraWindowDataStruct* x) { x->mGrabWanted = 1; }, 0},
      {"stopped", [](MyCameraWindowDataStruct* x) { x->mRunning = 0; }, 0},
      {"slot 20", [](MyCameraWindowDataStruct*) {}, 20},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    r->mGrabControlsEnabled = 1;
    r->mRecording = 0;
    r->mGrabWanted = 0;
    r->mRunning = 1;
    c.set(r);
    Camera().ClearLog();
    EXPECT_EQ(Apply(c.slot), paramErr);
    EXPECT_TRUE(Camera().Log().empty());
  }
  // A slot never saved has no name: -1, still without a camera access.
  r->mRunning = 1;
  Camera().ClearLog();
  EXPECT_EQ(Apply(5), -1);
  EXPECT_TRUE(Camera().Log().empty());
  EXPECT_EQ(myApplyCameraSettings(nullptr, 0), paramErr);
}

TEST_F(CameraSettings, ApplyingSetsTheStoredControlsAndLeavesTheOthers) {
  StoreSlot(0, "Moon", "-1.000000", "2.000000");
  MyCameraWindowDataStruct* r = OpenStreaming(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  SetControl32BitValue(Control(kGain), 21);
  SetControl32BitValue(Control(kBright), 5);
  ASSERT_EQ(r->mDisplayFormatItem, 2u);
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, SentinelCallback, nullptr), noErr);
  EXPECT_EQ(Apply(0), noErr);
  EXPECT_EQ(ControlValue(kGain), 21);  // -1.0 lies below the slider
  EXPECT_EQ(ControlValue(kBright), 40);
  EXPECT_EQ(r->mFrameRate, 30.0);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("CCDB")), 4);
  // The same display format: the frame callback is left alone.
  EXPECT_EQ(CurrentCallback(), SentinelCallback);
  EXPECT_EQ(r->mCameraHandle->mCallbackRefCon, nullptr);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_EQ(Item(4), "Moon");
  ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
}

TEST_F(CameraSettings, AnotherDisplayFormatRestartsDeliveryWithTheLiveCallback) {
  StoreSlot(0, "Moon", "10.000000", "3.000000");
  MyCameraWindowDataStruct* r = OpenStreaming(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, SentinelCallback, nullptr), noErr);
  EXPECT_EQ(Apply(0), noErr);
  EXPECT_EQ(r->mDisplayFormatItem, 3u);
  EXPECT_EQ(r->mDisplayFormat, FOUR_CHAR_CODE("ARGB"));
  EXPECT_EQ(r->mColourDisplay, 0);
  EXPECT_EQ(CurrentCallback(), LiveCallback);
  EXPECT_EQ(r->mCameraHandle->mCallbackRefCon, r);
  EXPECT_EQ(r->mRunning, 1);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("FORT")), 3);
  ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
}

TEST_F(CameraSettings, AMonoCameraKeepsItsFormatForAColourSlot) {
  StoreSlot(0, "Moon", "10.000000", "2.000000");
  MyCameraWindowDataStruct* r = OpenStreaming(SimMonoPersonality());
  ASSERT_NE(r, nullptr);
  const UInt32 item = r->mDisplayFormatItem;
  const OSType format = r->mDisplayFormat;
  ASSERT_EQ(ORXDCAMAssignCallback(r->mCameraHandle, SentinelCallback, nullptr), noErr);
  EXPECT_EQ(Apply(0), noErr);
  EXPECT_EQ(r->mDisplayFormatItem, item);
  EXPECT_EQ(r->mDisplayFormat, format);
  EXPECT_EQ(CurrentCallback(), SentinelCallback);
  EXPECT_EQ(ControlValue(FOUR_CHAR_CODE("FORT")), SInt32(item));
  ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
}

TEST_F(CameraSettings, ADeletedSlotStillAppliesWithAnEmptyItem) {
  StoreSlot(4, "", "10.000000", "2.000000");
  MyCameraWindowDataStruct* r = OpenStreaming(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Item(8), "None 05");
  EXPECT_EQ(Apply(4), noErr);
  EXPECT_EQ(Item(8), "");
  EXPECT_EQ(ControlValue(kGain), 10);
}

TEST_F(CameraSettings, ARefusedExposureBaseEndsTheApply) {
  StoreSlot(0, "Moon", "10.000000", "3.000000");
  Put(SlotDomain(0), "CCDB", nullptr);
  MyCameraWindowDataStruct* r = OpenStreaming(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Apply(0), kPrefTextMissing);
  EXPECT_EQ(ControlValue(kGain), 10);  // set before the refusal
  EXPECT_EQ(r->mDisplayFormatItem, 2u);
}

TEST_F(CameraSettings, TheDialogHandlersTakeOnlyTheirCommands) {
  EventRef command = nullptr, other = nullptr, bare = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &command), noErr);
  HICommand hc{};
  hc.commandID = FOUR_CHAR_CODE("ZZZZ");
  SetEventParameter(command, kEventParamDirectObject, typeHICommand, sizeof hc, &hc);
  ASSERT_EQ(CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, 0, 0, &other), noErr);
  ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &bare), noErr);
  int state[8] = {};
  for (auto handler : {myGetSettingsNameUPPProc, myDeleteSettingsUPPProc}) {
    EXPECT_EQ(handler(nullptr, other, state), eventNotHandledErr);
    EXPECT_EQ(handler(nullptr, command, nullptr), noErr);
    EXPECT_EQ(handler(nullptr, command, state), eventNotHandledErr);
    EXPECT_NE(handler(nullptr, bare, state), noErr);  // no command to read
  }
  ReleaseEvent(command);
  ReleaseEvent(other);
  ReleaseEvent(bare);
}

TEST_F(CameraSettings, ANameTooLongForTheMenuKeepsTheSheetOpen) {
  MyCameraWindowDataStruct* r = OpenReady(SimDefaultColourPersonality());
  ASSERT_NE(r, nullptr);
  skyloom::ui::ScriptedUser user;
  user.Type(FOUR_CHAR_CODE("NAME"), 0, std::string(300, 'x'))
      .ClickOK()
      .AnswerAlert()
      .Type(FOUR_CHAR_CODE("NAME"), 0, std::string(255, 'z'))
      .ClickOK();
  EXPECT_EQ(myCreateCameraSettings(r, nullptr), noErr);
  EXPECT_TRUE(user.Errors().empty());
  ASSERT_EQ(skyloom::ui::Alerts().size(), 1u);
  EXPECT_EQ(skyloom::ui::Alerts()[0].message, "Bad String");
  EXPECT_EQ(Item(4), std::string(255, 'z'));
}

}  // namespace
