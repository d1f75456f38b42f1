#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "tests/support/UiFixture.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace ui = skyloom::ui;
namespace nav = skyloom::nav;

struct Heard {
  std::vector<std::pair<NavEventCallbackMessage, NavUserAction>> calls;
};

void Listen(NavEventCallbackMessage selector, NavCBRecPtr parms, void* ud) {
  static_cast<Heard*>(ud)->calls.emplace_back(selector, parms ? parms->userAction : 999u);
}

std::string Text(WindowRef w, OSType signature) {
  const ControlID id{signature, 0};
  ControlRef c = nullptr;
  if (GetControlByID(w, &id, &c) != noErr) return "<no control>";
  return ui::ControlText(c);
}

class Navigation : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.c_str(), real), nullptr);
    root_ = real;
    SkyloomNavForgetLocations();
    NavGetDefaultDialogCreationOptions(&options_);
  }
  std::string Make(const std::string& name) {
    std::ofstream(root_ + "/" + name) << name;
    return root_ + "/" + name;
  }
  std::string root_;
  NavDialogCreationOptions options_;
  Heard heard_;
};

TEST_F(Navigation, DefaultOptions) {
  EXPECT_EQ(options_.version, 0);
  EXPECT_EQ(options_.optionFlags, kNavDefaultNavDlogOptions);
  EXPECT_EQ(options_.modality, kWindowModalityAppModal);
  EXPECT_EQ(options_.message, nullptr);
  EXPECT_EQ(options_.parentWindow, nullptr);
  EXPECT_EQ(NavGetDefaultDialogCreationOptions(nullptr), paramErr);
}

TEST_F(Navigation, ChooseFileShowsAModalDialogAndTellsTheEventProcedure) {
  const std::string file = Make("frame.fits");
  options_.message = CFSTR("Choose a movie");
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreateChooseFileDialog(&options_, nullptr, Listen, nullptr, nullptr, &heard_, &d), noErr);
  WindowRef w = NavDialogGetWindow(d);
  ASSERT_NE(w, nullptr);
  EXPECT_FALSE(IsWindowVisible(w));
  ScriptedUser user;
  user.Do([&] {
    EXPECT_EQ(ui::ModalWindow(), w);
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_EQ(Text(w, kSkyloomNavMessageSignature), "Choose a movie");
    EXPECT_EQ(NavDialogRun(d), kNavWrongDialogStateErr);
  });
  nav::Choose(user, {file});
  ASSERT_EQ(NavDialogRun(d), noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_EQ(NavDialogGetUserAction(d), kNavUserActionChoose);
  const std::vector<std::pair<NavEventCallbackMessage, NavUserAction>> expected = {
      {kNavCBStart, kNavUserActionNone}, {kNavCBUserAction, kNavUserActionChoose},
      {kNavCBTerminate, kNavUserActionChoose}};
  EXPECT_EQ(heard_.calls, expected);

  NavReplyRecord reply;
  ASSERT_EQ(NavDialogGetReply(d, &reply), noErr);
  EXPECT_TRUE(reply.validRecord);
  EXPECT_FALSE(reply.replacing);
  EXPECT_EQ(reply.saveFileName, nullptr);
  long n = 0;
  ASSERT_EQ(AECountItems(&reply.selection, &n), noErr);
  EXPECT_EQ(n, 1);
  FSRef ref;
  DescType type = 0;
  Size size = 0;
  ASSERT_EQ(AEGetNthPtr(&reply.selection, 1, typeFSRef, nullptr, &type, &ref, sizeof ref, &size), noErr);
  EXPECT_EQ(type, typeFSRef);
  EXPECT_EQ(size, Size(sizeof(FSRef)));
  UInt8 path[PATH_MAX];
  ASSERT_EQ(FSRefMakePath(&ref, path, sizeof path), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), file);
  FSSpec location;
  ASSERT_EQ(AEGetNthPtr(&reply.selection, 1, typeFSS, nullptr, &type, &location, sizeof location, &size), noErr);
  EXPECT_EQ(type, typeFSS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(location.name + 1), location.name[0]), "frame.fits");
  // Wrong requests.
  EXPECT_EQ(AEGetNthPtr(&reply.selection, 0, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr), errAEIllegalIndex);
  EXPECT_EQ(AEGetNthPtr(&reply.selection, 2, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr), errAEIllegalIndex);
  EXPECT_EQ(AEGetNthPtr(&reply.selection, 1, FOUR_CHAR_CODE("TEXT"), nullptr, nullptr, &ref, sizeof ref, nullptr),
            errAECoercionFail);
  // A small buffer gets what fits and learns the full size.
  UInt8 small[8];
  memset(small, 0xEE, sizeof small);
  ASSERT_EQ(AEGetNthPtr(&reply.selection, 1, FOUR_CHAR_CODE("****"), nullptr, &type, small, 4, &size), noErr);
  EXPECT_EQ(size, Size(sizeof(FSRef)));
  EXPECT_EQ(memcmp(small, &ref, 4), 0);
  EXPECT_EQ(small[4], 0xEE);
  ASSERT_EQ(NavDisposeReply(&reply), noErr);
  EXPECT_EQ(reply.selection.descriptorType, typeNull);
  NavDialogDispose(d);
  EXPECT_EQ(SkyloomNavLiveDialogCount(), 0);
}

TEST_F(Navigation, CancelIsHeardAndGivesNoValidReply) {
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreateChooseFolderDialog(&options_, Listen, nullptr, &heard_, &d), noErr);
  ScriptedUser user;
  nav::Cancel(user);
  ASSERT_EQ(NavDialogRun(d), noErr);
  EXPECT_EQ(NavDialogGetUserAction(d), kNavUserActionCancel);
  const std::vector<std::pair<NavEventCallbackMessage, NavUserAction>> expected = {
      {kNavCBStart, kNavUserActionNone}, {kNavCBCancel, kNavUserActionCancel},
      {kNavCBUserAction, kNavUserActionCancel}, {kNavCBTerminate, kNavUserActionCancel}};
  EXPECT_EQ(heard_.calls, expected);
  NavReplyRecord reply;
  ASSERT_EQ(NavDialogGetReply(d, &reply), noErr);
  EXPECT_FALSE(reply.validRecord);
  long n = 0;
  EXPECT_EQ(AECountItems(&reply.selection, &n), errAEWrongDataType);
  NavDisposeReply(&reply);
  EXPECT_EQ(NavCompleteSave(&reply, kNavTranslateInPlace), paramErr);
  NavDialogDispose(d);
}

TEST_F(Navigation, OnlyWhatAUserCouldPickIsAccepted) {
  const std::string a = Make("a.txt"), b = Make("b.txt");
  const struct {
    const char* what;
    bool folderDialog;
    NavDialogOptionFlags flags;
    std::vector<std::string> picks;
    bool accepted;
  } kCases[] = {
      {"a missing file", false, 0, {root_ + "/none.txt"}, false},
      {"a folder in a file dialog", false, 0, {root_}, false},
      {"a file in a folder dialog", true, 0, {a}, false},
      {"two folders", true, 0, {root_, root_}, false},
      {"nothing", false, 0, {""}, false},
      {"two files without multiple selection", false, kNavAllowMultipleFiles, {a, b}, false},
      {"two files", false, 0, {a, b}, true},
      {"a folder", true, 0, {root_}, true},
  };
  for (const auto& c : kCases) {
    NavDialogCreationOptions o = options_;
    // The default flags allow several files; a case that asks for fewer takes the flag away.
    o.optionFlags &= ~c.flags;
    NavDialogRef d = nullptr;
    if (c.folderDialog) ASSERT_EQ(NavCreateChooseFolderDialog(&o, nullptr, nullptr, nullptr, &d), noErr);
    else ASSERT_EQ(NavCreateChooseFileDialog(&o, nullptr, nullptr, nullptr, nullptr, nullptr, &d), noErr);
    const long beeps = SkyloomBeepCount();
    ScriptedUser user;
    nav::Choose(user, c.picks);
    if (!c.accepted) nav::Cancel(user);
    ASSERT_EQ(NavDialogRun(d), noErr);
    EXPECT_TRUE(user.Errors().empty()) << c.what;
    EXPECT_EQ(NavDialogGetUserAction(d), c.accepted ? kNavUserActionChoose : kNavUserActionCancel) << c.what;
    EXPECT_EQ(SkyloomBeepCount(), beeps + (c.accepted ? 0 : 1)) << c.what;
    NavDialogDispose(d);
  }
}

TEST_F(Navigation, PutFileOffersTheDefaultNameAndAsksBeforeReplacing) {
  Make("taken.txt");
  options_.saveFileName = CFSTR("Stack 1.tif");
  options_.preferenceKey = 4;
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreatePutFileDialog(&options_, FOUR_CHAR_CODE("TIFF"), FOUR_CHAR_CODE("ORFW"), nullptr, nullptr, &d),
            noErr);
  ScriptedUser user;
  user.Do([&] {
    EXPECT_EQ(Text(NavDialogGetWindow(d), kSkyloomNavNameSignature), "Stack 1.tif");
    EXPECT_EQ(Text(NavDialogGetWindow(d), kSkyloomNavSelectionSignature), "");
  });
  nav::SaveInto(user, root_);
  ASSERT_EQ(NavDialogRun(d), noErr);
  EXPECT_EQ(NavDialogGetUserAction(d), kNavUserActionSaveAs);
  NavReplyRecord reply;
  ASSERT_EQ(NavDialogGetReply(d, &reply), noErr);
  ASSERT_TRUE(reply.validRecord);
  EXPECT_FALSE(reply.replacing);
  EXPECT_EQ(CFStringCompare(reply.saveFileName, CFSTR("Stack 1.tif"), 0), kCFCompareEqualTo);
  EXPECT_EQ(NavCompleteSave(&reply, kNavTranslateInPlace), noErr);
  NavDisposeReply(&reply);
  NavDialogDispose(d);
  EXPECT_TRUE(ui::Alerts().empty());

  // The next dialog for the same key starts in that folder; a taken name asks.
  ASSERT_EQ(NavCreatePutFileDialog(&options_, 0, 0, nullptr, nullptr, &d), noErr);
  user.Do([&] { EXPECT_EQ(Text(NavDialogGetWindow(d), kSkyloomNavSelectionSignature), root_); })
      .Type(kSkyloomNavNameSignature, 0, "taken.txt")
      .ClickOK()
      .Do([&] {
        ASSERT_EQ(ui::Alerts().size(), 1u);
        EXPECT_EQ(ui::Alerts()[0].buttons, (std::vector<std::string>{"Replace", "Cancel"}));
      })
      .AnswerAlert(kAlertStdAlertOKButton);
  ASSERT_EQ(NavDialogRun(d), noErr);
  ASSERT_EQ(NavDialogGetReply(d, &reply), noErr);
  EXPECT_TRUE(reply.replacing);
  NavDisposeReply(&reply);
  NavDialogDispose(d);

  // Not asked when the caller said so.
  options_.optionFlags |= kNavDontConfirmReplacement;
  ASSERT_EQ(NavCreatePutFileDialog(&options_, 0, 0, nullptr, nullptr, &d), noErr);
  nav::SaveAs(user, root_, "taken.txt");
  ASSERT_EQ(NavDialogRun(d), noErr);
  ASSERT_EQ(NavDialogGetReply(d, &reply), noErr);
  EXPECT_TRUE(reply.replacing);
  NavDisposeReply(&reply);
  NavDialogDispose(d);
  EXPECT_EQ(ui::Alerts().size(), 1u);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(Navigation, PutFileFormatPopUpFromThePopupExtension) {
  const void* names[] = {CFSTR("QuickTime Movie"), CFSTR("Image Sequence")};
  CFArrayRef items = CFArrayCreate(nullptr, names, 2, &kCFTypeArrayCallBacks);
  options_.popupExtension = items;
  options_.saveFileName = CFSTR("out.mov");
  const struct {
    SInt32 choice;  // 0: left as shown
    UInt16 item;
  } kCases[] = {{0, 1}, {2, 2}};
  for (const auto& c : kCases) {
    NavDialogRef d = nullptr;
    ASSERT_EQ(NavCreatePutFileDialog(&options_, 0, 0, nullptr, nullptr, &d), noErr);
    ControlRef popup = ui::FindControl(NavDialogGetWindow(d), kSkyloomNavPopupExtensionSignature, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(ui::ControlItems(popup), (std::vector<std::string>{"QuickTime Movie", "Image Sequence"}));
    EXPECT_EQ(SkyloomNavPopupExtensionItem(d), 0);
    ScriptedUser user;
    if (c.choice) user.ChooseItem(kSkyloomNavPopupExtensionSignature, 0, c.choice);
    nav::SaveInto(user, root_);
    ASSERT_EQ(NavDialogRun(d), noErr);
    EXPECT_EQ(SkyloomNavPopupExtensionItem(d), c.item);
    EXPECT_TRUE(user.Errors().empty());
    // A cancelled run answers no item.
    nav::Cancel(user);
    ASSERT_EQ(NavDialogRun(d), noErr);
    EXPECT_EQ(SkyloomNavPopupExtensionItem(d), 0);
    NavDialogDispose(d);
  }
  CFRelease(items);
  // Without the extension there is no pop-up.
  options_.popupExtension = nullptr;
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreatePutFileDialog(&options_, 0, 0, nullptr, nullptr, &d), noErr);
  EXPECT_EQ(ui::FindControl(NavDialogGetWindow(d), kSkyloomNavPopupExtensionSignature, 0), nullptr);
  NavDialogDispose(d);
}

TEST_F(Navigation, AScriptThatRunsOutCancelsTheDialog) {
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreateChooseFileDialog(&options_, nullptr, nullptr, nullptr, nullptr, nullptr, &d), noErr);
  ScriptedUser user;
  ASSERT_EQ(NavDialogRun(d), noErr);
  EXPECT_EQ(NavDialogGetUserAction(d), kNavUserActionCancel);
  EXPECT_EQ(user.Errors().size(), 1u);
  NavDialogDispose(d);
  NavDialogDispose(d);  // a second dispose is ignored
  EXPECT_EQ(NavDialogRun(d), paramErr);
}

}  // namespace
