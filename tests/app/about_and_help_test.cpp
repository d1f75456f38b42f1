// The about box's handler, opening the help document and closing every
// window at quit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/AboutAndHelp.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/launchservices/LaunchServices.h"
#include "tests/support/UiFixture.h"

namespace {

namespace ui = skyloom::ui;

// Close events seen, with the window each was for, in order.
struct CloseLog {
  std::vector<WindowRef> target;  // the window whose handler saw it
  std::vector<WindowRef> about;   // its direct object
};

OSStatus RecordClose(EventHandlerCallRef, EventRef event, void* data) {
  auto* entry = static_cast<std::pair<CloseLog*, WindowRef>*>(data);
  WindowRef about = nullptr;
  GetEventParameter(event, kEventParamDirectObject, typeWindowRef, nullptr, sizeof about, nullptr, &about);
  entry->first->target.push_back(entry->second);
  entry->first->about.push_back(about);
  return eventNotHandledErr;
}

OSStatus DisposeOnClose(EventHandlerCallRef, EventRef, void* window) {
  DisposeWindow(static_cast<WindowRef>(window));
  return noErr;
}

class AboutAndHelp : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
  }
  void TearDown() override {
    SkyloomSetFileOpener(nullptr);
    UiTest::TearDown();
  }
  void Watch(WindowRef w, CloseLog* log) {
    entries_.push_back(std::make_unique<std::pair<CloseLog*, WindowRef>>(log, w));
    const EventTypeSpec close = {kEventClassWindow, kEventWindowClose};
    ASSERT_EQ(InstallWindowEventHandler(w, RecordClose, 1, &close, entries_.back().get(), nullptr), noErr);
  }
  std::vector<std::unique_ptr<std::pair<CloseLog*, WindowRef>>> entries_;
};

TEST_F(AboutAndHelp, ClosingEveryWindowGoesRearmostFirst) {
  RecursiveCloseWindow(FrontWindow());  // none open: nothing happens
  EXPECT_TRUE(ui::Windows().empty());

  CloseLog log;
  std::vector<WindowRef> made;
  for (int i = 0; i < 3; i++) {
    WindowRef w = MakeWindow("ORX_DCAM", "AboutBox");
    ASSERT_NE(w, nullptr);
    ShowWindow(w);
    Watch(w, &log);
    made.push_back(w);
  }
  const std::vector<WindowRef> frontToBack = ui::Windows();
  ASSERT_EQ(frontToBack.size(), 3u);
  RecursiveCloseWindow(FrontWindow());
  const std::vector<WindowRef> rearFirst(frontToBack.rbegin(), frontToBack.rend());
  EXPECT_EQ(log.target, rearFirst);
  EXPECT_EQ(log.about, rearFirst);  // each event names its own window

  // Windows whose close path disposes them: all go, and a window disposed
  // by a rearmost window's close gets no event.
  const EventTypeSpec close = {kEventClassWindow, kEventWindowClose};
  for (WindowRef w : made) ASSERT_EQ(InstallWindowEventHandler(w, DisposeOnClose, 1, &close, w, nullptr), noErr);
  RecursiveCloseWindow(FrontWindow());
  EXPECT_TRUE(ui::Windows().empty());
}

TEST_F(AboutAndHelp, TheAboutBoxClosesThroughTheFocusOpensThePageAndReEnablesAbout) {
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
  ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
  DisposeNibReference(nib);
  std::vector<std::string> urls;
  ui::SetURLOpener([&](const std::string& url) {
    urls.push_back(url);
    return OSStatus(noErr);
  });

  // As the "abou" command sets it up: the command disabled while it shows.
  DisableMenuCommand(nullptr, FOUR_CHAR_CODE("abou"));
  ASSERT_FALSE(IsMenuItemEnabled(GetMenuRef(1), 1));
  WindowRef about = MakeWindow("ORX_DCAM", "AboutBox");
  ASSERT_NE(about, nullptr);
  const EventTypeSpec events[] = {{kEventClassCommand, kEventCommandProcess}, {kEventClassWindow, kEventWindowClose}};
  ASSERT_EQ(InstallWindowEventHandler(about, myAboutBoxWindowEventHandlerProc, 2, events, about, nullptr), noErr);
  CloseLog log;
  Watch(about, &log);  // newer: sees the events first
  ShowWindow(about);

  ASSERT_EQ(ui::UserClick(ui::FindControl(about, FOUR_CHAR_CODE("GURL"), 0)), noErr);
  EXPECT_EQ(urls, std::vector<std::string>{kMyDownloadPageURL});
  EXPECT_TRUE(log.target.empty());
  EXPECT_FALSE(IsMenuItemEnabled(GetMenuRef(1), 1));

  ASSERT_EQ(ui::UserClick(ui::FindControl(about, FOUR_CHAR_CODE("clos"), 0)), noErr);
  ASSERT_EQ(log.target.size(), 1u);
  EXPECT_EQ(log.about[0], about);
  EXPECT_TRUE(IsMenuItemEnabled(GetMenuRef(1), 1));
  EXPECT_EQ(urls.size(), 1u);

  // Every event, handled or not, is left to the standard handling.
  for (auto [cls, kind] : {std::pair<EventClass, EventKind>{kEventClassWindow, kEventWindowClose},
                           {kEventClassCommand, kEventCommandProcess},
                           {kEventClassWindow, kEventWindowClosed},
                           {kEventClassControl, kEventControlHit}}) {
    EventRef e = nullptr;
    ASSERT_EQ(CreateEvent(nullptr, cls, kind, 0, 0, &e), noErr);
    HICommand command{};
    command.commandID = FOUR_CHAR_CODE("GURL");
    if (cls == kEventClassCommand) SetEventParameter(e, kEventParamDirectObject, typeHICommand, sizeof command, &command);
    EXPECT_EQ(myAboutBoxWindowEventHandlerProc(nullptr, e, about), eventNotHandledErr);
    ReleaseEvent(e);
  }
  EXPECT_EQ(urls.size(), 2u);
  ui::SetURLOpener(nullptr);
}

TEST_F(AboutAndHelp, TheHelpDocumentOpensFromTheBundleOrTheAlertTellsItIsMissing) {
  std::vector<std::string> opened;
  SkyloomSetFileOpener([&](const std::string& path) {
    opened.push_back(path);
    return OSStatus(noErr);
  });
  // A bundle whose resources lack the document.
  const std::string bundle = dir_ + "/Skyloom.app";
  const std::string resources = bundle + "/Contents/Resources";
  mkdir(bundle.c_str(), 0755);
  mkdir((bundle + "/Contents").c_str(), 0755);
  mkdir(resources.c_str(), 0755);
  ui::SetResourceDirectory(resources);
  {
    ui::ScriptedUser user;
    user.AnswerAlert();
    EXPECT_EQ(myOpenHelpDocument(), fnfErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  ASSERT_EQ(ui::Alerts().size(), 1u);
  EXPECT_EQ(ui::Alerts()[0].title, "OSX Err");
  EXPECT_EQ(ui::Alerts()[0].message, "The Skyloom Help.pdf file can not be found.");
  EXPECT_TRUE(opened.empty());

  std::ofstream(resources + "/Skyloom Help.pdf") << "%PDF-1.4\n%%EOF\n";
  EXPECT_EQ(myOpenHelpDocument(), noErr);
  EXPECT_EQ(opened, std::vector<std::string>{resources + "/Skyloom Help.pdf"});
  EXPECT_EQ(ui::Alerts().size(), 1u);

  // The opener's refusal is a failure too.
  SkyloomSetFileOpener([](const std::string&) { return OSStatus(kLSApplicationNotFoundErr); });
  {
    ui::ScriptedUser user;
    user.AnswerAlert();
    EXPECT_EQ(myOpenHelpDocument(), kLSApplicationNotFoundErr);
  }
  EXPECT_EQ(ui::Alerts().size(), 2u);
}

}  // namespace
