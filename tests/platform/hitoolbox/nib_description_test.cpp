// The nib description reader.
#include "platform/hitoolbox/NibDescription.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/hitoolbox/HIToolbox.h"

using namespace skyloom::ui;

namespace {

TEST(NibDescription, ReadsWindowsMenusAndMenuBars) {
  const char* text = R"(# comment line
window "Dialog" class=movable-modal title="A \"quoted\" title" bounds=1,2,3,4 attributes=close-box,resizable
  control 'ok  ' 0 push-button title="OK" command='ok  ' default   # trailing comment
  control 'POPU' 0 pop-up value=2 command='POPC'
    item "One"
    item "Two" checked command='TWO2'
    item "-"
  control 'GRUP' 1 group-box hidden
  control 'INNR' -7 edit-text in='GRUP',1 disabled min=-5 max=5 text="x"
  control - static-text title="Units:"
  control - static-text title="More:"
end
menu "Tools" id=10 title="Tools"
  item "Stack..." command='STAK' key="K"
  item "Sub" submenu="Other"
end
menubar "Main"
  menu "File" id=1
    item "Quit" command='quit' disabled
  end
end
)";
  NibDescription nib;
  std::string error;
  ASSERT_TRUE(ParseNibDescription(text, "t.ui", nib, error)) << error;
  const WindowDesc& w = nib.windows.at("Dialog");
  EXPECT_EQ(w.windowClass, kMovableModalWindowClass);
  EXPECT_EQ(w.title, "A \"quoted\" title");
  EXPECT_EQ(w.bounds.top, 1);
  EXPECT_EQ(w.bounds.right, 4);
  EXPECT_EQ(w.attributes, kWindowCloseBoxAttribute | kWindowResizableAttribute);
  ASSERT_EQ(w.controls.size(), 6u);
  EXPECT_EQ(w.controls[0].signature, FOUR_CHAR_CODE("ok  "));
  EXPECT_EQ(w.controls[0].command, kHICommandOK);
  EXPECT_TRUE(w.controls[0].isDefault);
  const ControlDesc& popup = w.controls[1];
  EXPECT_EQ(popup.kind, kControlKindPopupButton);
  ASSERT_EQ(popup.items.size(), 3u);
  EXPECT_TRUE(popup.items[1].checked);
  EXPECT_EQ(popup.items[1].command, FOUR_CHAR_CODE("TWO2"));
  EXPECT_TRUE(popup.items[2].separator);
  EXPECT_FALSE(w.controls[2].visible);
  const ControlDesc& inner = w.controls[3];
  EXPECT_EQ(inner.id, -7);
  EXPECT_TRUE(inner.embedded);
  EXPECT_EQ(inner.parentSignature, FOUR_CHAR_CODE("GRUP"));
  EXPECT_FALSE(inner.enabled);
  EXPECT_EQ(inner.minimum, -5);
  EXPECT_EQ(w.controls[4].signature, 0u);  // unnamed ones may repeat
  const MenuDesc& tools = nib.menus.at("Tools");
  EXPECT_EQ(tools.id, 10);
  EXPECT_EQ(tools.items[0].key, "K");
  EXPECT_EQ(tools.items[1].submenu, "Other");
  const MenuBarDesc& bar = nib.menuBars.at("Main");
  ASSERT_EQ(bar.menus.size(), 1u);
  EXPECT_EQ(bar.menus[0].title, "File");  // the name when no title is given
  EXPECT_FALSE(bar.menus[0].items[0].enabled);
}

TEST(NibDescription, RefusesMalformedTextWithItsLine) {
  struct Case {
    const char* text;
    const char* where;  // expected start of the message
    const char* what;   // part of it
  };
  const Case cases[] = {
      {"window \"W\"\n  control 'ab' 1 push-button\nend\n", "f.ui:2:", "exactly four bytes"},
      {"window \"W\"\n", "f.ui:2:", "missing end"},
      {"end\n", "f.ui:1:", "end without"},
      {"control 'abcd' 1 push-button\n", "f.ui:1:", "outside a window"},
      {"window \"W\"\n control 'abcd' 1 slider\n control 'abcd' 1 slider\nend\n", "f.ui:3:", "same signature"},
      {"window \"W\"\nend\nwindow \"W\"\nend\n", "f.ui:3:", "used twice"},
      {"window \"W\"\n control 'abcd' 1 knob\nend\n", "f.ui:2:", "unknown control kind"},
      {"window \"W\"\n control 'abcd' 1 slider colour=3\nend\n", "f.ui:2:", "unknown control attribute"},
      {"window \"W\"\n control 'abcd' 1 slider in='none',0\nend\n", "f.ui:2:", "no earlier control"},
      {"window \"W\"\n control 'abcd' 1 slider min=5 max=1\nend\n", "f.ui:2:", "min above max"},
      {"window \"W\"\n control 'abcd' 1 slider value=99999999999\nend\n", "f.ui:2:", "whole number"},
      {"window \"W\" bounds=1,2,3\nend\n", "f.ui:1:", "bounds"},
      {"window \"W\" title=\"open\nend\n", "f.ui:1:", "unterminated"},
      {"window \"W\" class=round\nend\n", "f.ui:1:", "window class"},
      {"window \"W\"\n item \"x\"\nend\n", "f.ui:2:", "item belongs"},
      {"window \"W\"\n control 'abcd' 1 slider\n item \"x\"\nend\n", "f.ui:3:", "item belongs"},
      {"menu \"M\" id=40000\nend\n", "f.ui:1:", "out of range"},
      {"menubar \"B\"\n window \"W\"\n", "f.ui:2:", "inside another"},
      {"window \"W\" ; \nend\n", "f.ui:1:", "unexpected character"},
      {"window \"W\" title=\nend\n", "f.ui:1:", "missing value"},
      {"frame \"W\"\n", "f.ui:1:", "unknown keyword"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    NibDescription nib;
    std::string error;
    EXPECT_FALSE(ParseNibDescription(c.text, "f.ui", nib, error));
    EXPECT_EQ(error.rfind(c.where, 0), 0u) << error;
    EXPECT_NE(error.find(c.what), std::string::npos) << error;
  }
}

TEST(NibDescription, TheApplicationsDialogsParse) {
  NibDescription nib;
  std::string error;
  ASSERT_TRUE(LoadNibDescriptionFolder(std::string(SKYLOOM_SOURCE_DIR) + "/resources/ORX_DCAM.nib", nib, error))
      << error;
  for (const char* name : {"Warning", "WarningSheet", "GetAUserValue", "GetAUserValueSheet"}) {
    SCOPED_TRACE(name);
    const WindowDesc& w = nib.windows.at(name);
    bool sheet = std::string(name).find("Sheet") != std::string::npos;
    EXPECT_EQ(w.windowClass, sheet ? kSheetWindowClass : kMovableModalWindowClass);
    int commands = 0;
    for (const ControlDesc& c : w.controls) {
      if (c.command == kHICommandOK || c.command == kHICommandCancel) ++commands;
    }
    EXPECT_EQ(commands, 2);
  }
  EXPECT_FALSE(LoadNibDescriptionFolder("/nonexistent/X.nib", nib, error));
}

}  // namespace
