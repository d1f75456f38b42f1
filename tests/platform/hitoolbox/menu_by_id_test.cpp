// Submenus named by ID (command character 0x1B, the menu ID as mark), the
// failures the start-up's calls can be made to meet, and what the
// application loop does and records when it starts.
#include <gtest/gtest.h>

#include <vector>

#include "platform/appleevents/AppleEvents.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

const char* kMenus = R"(
menubar "MainMenu"
  menu "Camera" id=2 title="Camera"
    item "Open" command='open'
    item "Trigger"
    item "Quit" command='quit' key="Q"
  end
end
menu "Trigger" id=11 title="Trigger"
  item "Off" command='TRG0'
  item "On" command='TRG1' key="T"
end
)";

struct Heard {
  std::vector<UInt32> commands;
  int opened = 0;
};
Heard* gHeard = nullptr;

OSStatus commandRecorder(EventHandlerCallRef, EventRef e, void*) {
  HICommand cmd{};
  GetEventParameter(e, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd);
  gHeard->commands.push_back(cmd.commandID);
  return cmd.commandID == kHICommandQuit ? OSStatus(eventNotHandledErr) : OSStatus(noErr);
}

OSErr openRecorder(const AppleEvent*, AppleEvent* reply, SRefCon) {
  ++gHeard->opened;
  EXPECT_EQ(reply->dataHandle, nullptr);  // nobody waits for the launch's answer
  return noErr;
}

class MenuByIDTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    gHeard = &heard_;
    SkyloomRemoveAllAEHandlers();
    WriteNib("Test", kMenus);
    ASSERT_EQ(CreateNibReference(CFSTR("Test"), &nib_), noErr);
  }
  void TearDown() override {
    if (nib_) DisposeNibReference(nib_);
    SkyloomRemoveAllAEHandlers();
    gHeard = nullptr;
    UiTest::TearDown();
  }
  IBNibRef nib_ = nullptr;
  Heard heard_;
};

}  // namespace

TEST_F(MenuByIDTest, AnItemShowsTheMenuOfItsMarkOnceThatMenuIsInserted) {
  ASSERT_EQ(SetMenuBarFromNib(nib_, CFSTR("MainMenu")), noErr);
  MenuRef camera = GetMenuRef(2);
  MenuRef trigger = nullptr;
  ASSERT_EQ(CreateMenuFromNib(nib_, CFSTR("Trigger"), &trigger), noErr);
  SetItemCmd(camera, 2, hMenuCmd);
  SetItemMark(camera, 2, 11);
  CharParameter cmd = 0;
  GetItemCmd(camera, 2, &cmd);
  EXPECT_EQ(cmd, 0x1B);

  // Not inserted yet: the item has no submenu and the menu is not found.
  MenuRef sub = trigger;
  EXPECT_EQ(GetMenuItemHierarchicalMenu(camera, 2, &sub), noErr);
  EXPECT_EQ(sub, nullptr);
  EXPECT_EQ(GetMenuRef(11), nullptr);

  InsertMenu(trigger, hierMenu);
  ReleaseMenu(trigger);
  EXPECT_EQ(GetMenuItemHierarchicalMenu(camera, 2, &sub), noErr);
  EXPECT_EQ(sub, trigger);
  EXPECT_EQ(GetMenuRef(11), trigger);
  // Commands and keys are found through it from the menu bar.
  MenuRef found = nullptr;
  MenuItemIndex item = 0;
  ASSERT_EQ(GetIndMenuItemWithCommandID(nullptr, FOUR_CHAR_CODE("TRG1"), 1, &found, &item), noErr);
  EXPECT_EQ(found, trigger);
  EXPECT_EQ(item, 2);

  // The user opens menu 2 then the submenu: both are asked to enable items;
  // the item holding a submenu is no command of its own; a disabled holder
  // keeps its submenu shut.
  std::vector<MenuID> asked;
  static std::vector<MenuID>* gAsked;
  gAsked = &asked;
  const EventTypeSpec enable = {kEventClassMenu, kEventMenuEnableItems};
  auto enabler = [](EventHandlerCallRef, EventRef e, void*) -> OSStatus {
    MenuRef m = nullptr;
    GetEventParameter(e, kEventParamDirectObject, typeMenuRef, nullptr, sizeof m, nullptr, &m);
    gAsked->push_back(GetMenuID(m));
    return noErr;
  };
  ASSERT_EQ(InstallMenuEventHandler(camera, enabler, 1, &enable, nullptr, nullptr), noErr);
  ASSERT_EQ(InstallMenuEventHandler(trigger, enabler, 1, &enable, nullptr, nullptr), noErr);
  const EventTypeSpec command = {kEventClassCommand, kEventCommandProcess};
  ASSERT_EQ(InstallApplicationEventHandler(commandRecorder, 1, &command, nullptr, nullptr), noErr);
  EXPECT_EQ(UserPressMenuKey('T'), noErr);
  EXPECT_EQ(asked, (std::vector<MenuID>{2, 11}));
  EXPECT_EQ(heard_.commands, std::vector<UInt32>{FOUR_CHAR_CODE("TRG1")});
  EXPECT_EQ(UserChooseMenuItem(camera, 2), errControlHiddenOrDisabled);
  DisableMenuItem(camera, 2);
  EXPECT_EQ(UserChooseMenuItem(trigger, 1), errControlHiddenOrDisabled);
  EXPECT_EQ(heard_.commands.size(), 1u);

  // A menu whose item names the menu itself is searched without end.
  SetItemCmd(trigger, 1, hMenuCmd);
  SetItemMark(trigger, 1, 11);
  EXPECT_EQ(GetMenuRef(12), nullptr);
  EXPECT_NE(GetIndMenuItemWithCommandID(nullptr, FOUR_CHAR_CODE("none"), 1, &found, &item), noErr);
}

TEST_F(MenuByIDTest, MenuCallsCanBeMadeToFailByCallOrByMenuName) {
  InjectFailure("SetMenuBarFromNib", -50);
  EXPECT_EQ(SetMenuBarFromNib(nib_, CFSTR("MainMenu")), -50);
  EXPECT_TRUE(MenuBar().empty());
  EXPECT_EQ(SetMenuBarFromNib(nib_, CFSTR("MainMenu")), noErr);

  MenuRef m = nullptr;
  InjectFailure("CreateMenuFromNib:Trigger", -108);
  EXPECT_EQ(CreateMenuFromNib(nib_, CFSTR("Trigger"), &m), -108);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(CreateMenuFromNib(nib_, CFSTR("Trigger"), &m), noErr);
  ReleaseMenu(m);
}

TEST_F(MenuByIDTest, TheFirstLoopDeliversTheLaunchEventAndQuitEndsIt) {
  ASSERT_EQ(SetMenuBarFromNib(nib_, CFSTR("MainMenu")), noErr);
  ASSERT_EQ(AEInstallEventHandler(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("oapp"), openRecorder, 0, false), noErr);
  const EventTypeSpec command = {kEventClassCommand, kEventCommandProcess};
  ASSERT_EQ(InstallApplicationEventHandler(commandRecorder, 1, &command, nullptr, nullptr), noErr);
  EXPECT_EQ(ApplicationLoopEntries(), 0);
  {
    ScriptedUser user;
    user.Do([&] { EXPECT_EQ(heard_.opened, 1); }).PressMenuKey('Q');
    RunApplicationEventLoop();
    EXPECT_TRUE(user.Errors().empty());
    EXPECT_EQ(user.Pending(), 0u);
  }
  EXPECT_EQ(heard_.commands, std::vector<UInt32>{kHICommandQuit});
  {
    ScriptedUser user;  // nothing to do: the loop ends
    RunApplicationEventLoop();
  }
  EXPECT_EQ(heard_.opened, 1);  // once per launch
  EXPECT_EQ(ApplicationLoopEntries(), 2);

  DisposeEventHandlerUPP(commandRecorder);
  EXPECT_EQ(DisposedEventHandlerUPPs(), std::vector<EventHandlerUPP>{commandRecorder});
  EXPECT_EQ(InstalledEventHandlers(GetApplicationEventTarget()), std::vector<EventHandlerUPP>{commandRecorder});
  ResetModel();
  EXPECT_EQ(ApplicationLoopEntries(), 0);
  EXPECT_TRUE(DisposedEventHandlerUPPs().empty());
}
