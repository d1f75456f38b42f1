// Controls and menus by id.
#include "utilities/Controls.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/hitoolbox/UIModel.h"
#include "tests/support/UiFixture.h"

using namespace skyloom::ui;

namespace {

const char* kForm = R"(
window "Form" bounds=0,0,300,400
  control 'POPU' 0 pop-up value=1
    item "A"
    item "B"
    item "C" checked
  control 'EDIT' 1 edit-text text="start"
  control 'STAT' 1 static-text text="label"
  control 'PUSH' 1 push-button title="Go"
  control 'NOMN' 0 push-button title="no menu"
  control 'SLID' 1 slider min=0 max=10 value=5
  control 'ARRO' 1 little-arrows min=0 max=10
end
)";

constexpr OSType kPopup = FOUR_CHAR_CODE("POPU");
constexpr OSType kEdit = FOUR_CHAR_CODE("EDIT");
constexpr OSType kPush = FOUR_CHAR_CODE("PUSH");

class ControlsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    WriteNib("Test", kForm);
    w_ = MakeWindow("Test", "Form");
    ASSERT_NE(w_, nullptr);
    menu_ = GetControlPopupMenuHandle(FindControl(w_, kPopup, 0));
    ASSERT_NE(menu_, nullptr);
  }
  CharParameter Mark(MenuItemIndex i) {
    CharParameter m = 0;
    GetItemMark(menu_, i, &m);
    return m;
  }
  long Draws(OSType sig, SInt32 id) { return ControlDrawCount(FindControl(w_, sig, id)); }
  WindowRef w_ = nullptr;
  MenuRef menu_ = nullptr;
};

TEST_F(ControlsTest, PopupItemBoundsAndMissingMenus) {
  EXPECT_EQ(mySetPopMenuControlString(w_, kPopup, 4, "D"), -1);  // one past the last
  EXPECT_EQ(mySetPopMenuControlString(w_, kPopup, 3, "Cee"), noErr);
  EXPECT_EQ(MenuItemText(menu_, 3), "Cee");
  EXPECT_EQ(mySetPopMenuControlString(w_, FOUR_CHAR_CODE("NONE"), 1, "x"), memFullErr);
  EXPECT_EQ(mySetPopMenuControlString(w_, FOUR_CHAR_CODE("NOMN"), 1, "x"), memFullErr);

  EXPECT_EQ(myDeleteAPopMenuItem(w_, kPopup, 4), paramErr);
  EXPECT_EQ(myDeleteAPopMenuItem(w_, FOUR_CHAR_CODE("NONE"), 1), noErr);
  EXPECT_EQ(myDeleteAPopMenuItem(w_, FOUR_CHAR_CODE("NOMN"), 1), noErr);
  EXPECT_EQ(CountMenuItems(menu_), 3);
  long before = Draws(kPopup, 0);
  EXPECT_EQ(myDeleteAPopMenuItem(w_, kPopup, 1), noErr);
  EXPECT_EQ(CountMenuItems(menu_), 2);
  EXPECT_EQ(MenuItemText(menu_, 1), "B");
  EXPECT_EQ(Draws(kPopup, 0), before + 1);
}

TEST_F(ControlsTest, ChangePopMenuControlTable) {
  struct Case {
    SInt32 enable, check;
    bool enabledAfter;
    CharParameter markAfter;
    SInt32 valueAfter;
  };
  // From: item 2 enabled and unmarked, the pop-up's value 1.
  const Case cases[] = {
      {-1, -1, false, noMark, 1}, {-1, 0, false, noMark, 1}, {-1, 1, false, checkMark, 2},
      {0, -1, true, noMark, 1},   {0, 0, true, noMark, 1},   {0, 1, true, checkMark, 2},
      {1, -1, true, noMark, 1},   {1, 0, true, noMark, 1},   {1, 1, true, checkMark, 2},
      {2, 2, true, noMark, 1},  // other values leave both alone
  };
  ControlRef popup = FindControl(w_, kPopup, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.enable) + "," + std::to_string(c.check));
    EnableMenuItem(menu_, 2);
    CheckMenuItem(menu_, 2, false);
    SetControl32BitValue(popup, 1);
    long before = ControlDrawCount(popup);
    EXPECT_EQ(myChangePopMenuControl(w_, kPopup, 2, c.enable, c.check), noErr);
    EXPECT_EQ(bool(IsMenuItemEnabled(menu_, 2)), c.enabledAfter);
    EXPECT_EQ(Mark(2), c.markAfter);
    EXPECT_EQ(GetControl32BitValue(popup), c.valueAfter);
    EXPECT_EQ(ControlDrawCount(popup), before + 1);  // redrawn whatever changed
  }
  EXPECT_EQ(myChangePopMenuControl(w_, FOUR_CHAR_CODE("NONE"), 2, 1, 1), errUnknownControl);
}

TEST_F(ControlsTest, UncheckAllClearsTheLastItemToo) {
  CheckMenuItem(menu_, 1, true);
  ASSERT_EQ(Mark(3), checkMark);
  EXPECT_EQ(myUncheckAllPopMenuControl(w_, kPopup), noErr);
  for (MenuItemIndex i = 1; i <= 3; ++i) EXPECT_EQ(Mark(i), noMark) << i;

  CheckMenuItem(menu_, 2, true);
  CheckMenuItem(menu_, 3, true);
  SetControl32BitValue(FindControl(w_, kPopup, 0), 2);
  EXPECT_EQ(myUncheckSelectedControlPopMenu(w_, kPopup), noErr);
  EXPECT_EQ(Mark(2), noMark);
  EXPECT_EQ(Mark(3), checkMark);
}

TEST_F(ControlsTest, ControlTextFitsIn255BytesOrNotAtAll) {
  char out[255];
  ASSERT_EQ(myChangeControlTxt(w_, kEdit, 1, std::string(254, 'x').c_str()), noErr);
  long live = SkyloomCFLiveObjectCount();
  EXPECT_EQ(myGetControlTextCString(w_, kEdit, 1, out), noErr);
  EXPECT_EQ(std::string(out), std::string(254, 'x'));
  for (size_t n : {255u, 300u}) {
    ASSERT_EQ(myChangeControlTxt(w_, kEdit, 1, std::string(n, 'y').c_str()), noErr);
    EXPECT_EQ(myGetControlTextCString(w_, kEdit, 1, out), -1) << n;
    EXPECT_EQ(out[0], '\0');
  }
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);  // each copy was released
  EXPECT_EQ(myGetControlTextCString(w_, FOUR_CHAR_CODE("NONE"), 1, out), errUnknownControl);
  EXPECT_EQ(myGetControlTextCString(w_, kPush, 1, out), errDataNotSupported);
}

TEST_F(ControlsTest, NullWindowsAndBadTextChangeNothing) {
  EXPECT_EQ(myChangeControlTxt(nullptr, kEdit, 1, "x"), errInvalidWindowRef);
  EXPECT_EQ(mySetControlCFString(nullptr, kEdit, 1, CFSTR("x")), errInvalidWindowRef);
  EXPECT_EQ(myGetControlCFString(nullptr, kEdit, 1), nullptr);
  EXPECT_EQ(myChangeControlTxt(w_, kEdit, 1, "\xff\xfe"), memFullErr);  // not UTF-8
  EXPECT_EQ(ControlText(FindControl(w_, kEdit, 1)), "start");
  CFStringRef s = myGetControlCFString(w_, FOUR_CHAR_CODE("STAT"), 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringCompare(s, CFSTR("label"), 0), kCFCompareEqualTo);
  CFRelease(s);
}

TEST_F(ControlsTest, KeyFilterFieldSetsTextThenFilterThenReference) {
  ControlKeyFilterUPP filter = [](ControlRef, SInt16*, SInt16*, EventModifiers*) -> ControlKeyFilterResult {
    return kControlKeyFilterPassKey;
  };
  // A control without text refuses the text, and gets neither filter nor reference.
  EXPECT_EQ(mySetUpKeyFilterEditTextField(w_, kPush, 1, "1", filter, 77), errDataNotSupported);
  EXPECT_EQ(GetControlReference(FindControl(w_, kPush, 1)), 0);
  EXPECT_EQ(mySetUpKeyFilterEditTextField(w_, kEdit, 1, "\xff", filter, 77), memFullErr);
  EXPECT_EQ(ControlKeyFilter(FindControl(w_, kEdit, 1)), nullptr);
  ASSERT_EQ(mySetUpKeyFilterEditTextField(w_, kEdit, 1, "2.5", filter, 77), noErr);
  ControlRef edit = FindControl(w_, kEdit, 1);
  EXPECT_EQ(ControlText(edit), "2.5");
  EXPECT_EQ(ControlKeyFilter(edit), filter);
  EXPECT_EQ(GetControlReference(edit), 77);
}

TEST_F(ControlsTest, EnableValueFocusAndTheirLookupStatus) {
  ControlRef push = FindControl(w_, kPush, 1);
  EXPECT_EQ(myCheckUncheckControl(w_, kPush, 1, 0, 1), noErr);
  EXPECT_FALSE(IsControlEnabled(push));
  EXPECT_EQ(GetControl32BitValue(push), 0);  // a push button's range is 0..0
  ControlRef arrows = FindControl(w_, FOUR_CHAR_CODE("ARRO"), 1);
  EXPECT_EQ(myCheckUncheckControl(w_, FOUR_CHAR_CODE("ARRO"), 1, 1, 1), noErr);
  EXPECT_EQ(GetControl32BitValue(arrows), 1);
  EXPECT_EQ(myCheckUncheckControl(w_, FOUR_CHAR_CODE("ARRO"), 1, 1, 2), noErr);  // only 1 means on
  EXPECT_EQ(GetControl32BitValue(arrows), 0);
  EXPECT_EQ(myEnableDisableControl(w_, kPush, 1, 1), noErr);
  EXPECT_TRUE(IsControlEnabled(push));

  EXPECT_EQ(mySetControlValue(w_, FOUR_CHAR_CODE("SLID"), 1, 7), noErr);
  EXPECT_EQ(myGetControlValue(w_, FOUR_CHAR_CODE("SLID"), 1), 7);
  EXPECT_EQ(myGetControlValue(w_, FOUR_CHAR_CODE("NONE"), 1), 0);

  for (OSStatus st : {myCheckUncheckControl(w_, FOUR_CHAR_CODE("NONE"), 1, 1, 1),
                      myEnableDisableControl(w_, FOUR_CHAR_CODE("NONE"), 1, 1),
                      mySetControlValue(w_, FOUR_CHAR_CODE("NONE"), 1, 1),
                      mySetEditTextSelectionAndFocus(w_, FOUR_CHAR_CODE("NONE"), 1),
                      mySetUpLiveArrowControl(w_, FOUR_CHAR_CODE("NONE"), 1, 0, nullptr, 0)})
    EXPECT_EQ(st, errUnknownControl);

  long before = Draws(kEdit, 1);
  EXPECT_EQ(mySetEditTextSelectionAndFocus(w_, kEdit, 1), noErr);
  ControlRef edit = FindControl(w_, kEdit, 1);
  EXPECT_EQ(FocusedControl(w_), edit);
  ControlEditTextSelectionRec sel{};
  GetControlData(edit, 0, kControlEditTextSelectionTag, sizeof sel, &sel, nullptr);
  EXPECT_EQ(sel.selStart, 0);
  EXPECT_EQ(sel.selEnd, 5);  // all of "start"
  EXPECT_EQ(Draws(kEdit, 1), before + 1);
}

TEST_F(ControlsTest, SliderAndArrowsSetUp) {
  ControlActionUPP action = [](ControlRef, ControlPartCode) {};
  ControlRef slider = FindControl(w_, FOUR_CHAR_CODE("SLID"), 1);
  // Limits first, then the value inside them.
  mySetUpControlSlider(slider, 20, 40, 30, 5, action);
  EXPECT_EQ(GetControl32BitMinimum(slider), 20);
  EXPECT_EQ(GetControl32BitMaximum(slider), 40);
  EXPECT_EQ(GetControl32BitValue(slider), 30);
  EXPECT_EQ(GetControlReference(slider), 5);
  EXPECT_EQ(GetControlAction(slider), action);

  ASSERT_EQ(mySetUpLiveArrowControl(w_, FOUR_CHAR_CODE("ARRO"), 1, 4, action, 9), noErr);
  ControlRef arrows = FindControl(w_, FOUR_CHAR_CODE("ARRO"), 1);
  EXPECT_EQ(GetControl32BitValue(arrows), 4);
  EXPECT_EQ(GetControlReference(arrows), 9);
  EXPECT_EQ(GetControlAction(arrows), action);
}

TEST_F(ControlsTest, MenuAndStringHelpers) {
  EXPECT_EQ(myAppendMenuCString(menu_, "Dee"), noErr);
  EXPECT_EQ(MenuItemText(menu_, 4), "Dee");
  EXPECT_EQ(myAppendMenuCString(menu_, "\xc3"), memFullErr);
  EXPECT_EQ(mySetMenuItemCString(menu_, 1, "Ay"), noErr);
  EXPECT_EQ(MenuItemText(menu_, 1), "Ay");
  EXPECT_EQ(mySetMenuItemCString(menu_, 9, "x"), menuItemNotFoundErr);

  CFMutableStringRef s = myCreatCFstrcat(CFSTR("Movie "), CFSTR("Stack"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(CFStringCompare(s, CFSTR("Movie Stack"), 0), kCFCompareEqualTo);
  CFRelease(s);
  EXPECT_EQ(myCreatCFstrcat(nullptr, CFSTR("x")), nullptr);

  EXPECT_EQ(mySetCWindowTitle(w_, "Settings"), noErr);
  EXPECT_EQ(WindowTitle(w_), "Settings");
}

}  // namespace
