#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/NavScript.h"
#include "tests/support/UiFixture.h"
#include "utilities/FileDialogs.h"
#include "utilities/LogFiles.h"

namespace {

using skyloom::ui::ScriptedUser;
namespace nav = skyloom::nav;

const OSType kTypes[] = {FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("TIFF")};
const OSType kSig = FOUR_CHAR_CODE("ORFW");

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string PathOf(const FSRef& ref) {
  UInt8 path[4096];
  return FSRefMakePath(&ref, path, sizeof path) == noErr ? reinterpret_cast<char*>(path) : "<none>";
}

FSRef Pattern() {
  FSRef r;
  memset(&r, 0xA5, sizeof r);
  return r;
}

bool IsPattern(const FSRef& r) { return memcmp(&r, &static_cast<const FSRef&>(Pattern()), sizeof r) == 0; }

class FileDialogs : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.c_str(), real), nullptr);
    files_ = std::string(real) + "/files";
    ASSERT_EQ(mkdir(files_.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory((std::string(real) + "/config").c_str());
    SkyloomNavForgetLocations();
    dialogsBefore_ = SkyloomNavLiveDialogCount();
  }
  void TearDown() override {
    // Every routine disposes of its dialog on every path.
    EXPECT_EQ(SkyloomNavLiveDialogCount(), dialogsBefore_);
    SkyloomSetAbsoluteTimeSource(nullptr);
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  std::string Make(const std::string& name, const std::string& content = "") {
    const std::string path = files_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  FSRef Ref(const std::string& path) {
    FSRef r;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &r, nullptr), noErr) << path;
    return r;
  }
  std::string files_;
  long dialogsBefore_ = 0;
};

TEST_F(FileDialogs, TypeListLayout) {
  EXPECT_EQ(myNewOpenHandle(kSig, 0, kTypes), nullptr);
  EXPECT_EQ(myNewOpenHandle(kSig, -3, kTypes), nullptr);
  NavTypeListHandle h = myNewOpenHandle(kSig, 2, kTypes);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(h)), 12 + 4 * 2);
  EXPECT_EQ((*h)->componentSignature, kSig);
  EXPECT_EQ((*h)->reserved, 0);
  EXPECT_EQ((*h)->osTypeCount, 2);
  EXPECT_EQ((*h)->osType[0], kTypes[0]);
  EXPECT_EQ((*h)->osType[1], kTypes[1]);
  DisposeHandle(reinterpret_cast<Handle>(h));
}

TEST_F(FileDialogs, EventProcedureStoresTheUsersAnswer) {
  const struct {
    NavEventCallbackMessage selector;
    NavUserAction action;
    OSStatus stored;
  } kCases[] = {
      {kNavCBUserAction, kNavUserActionCancel, -128}, {kNavCBUserAction, kNavUserActionOpen, 0},
      {kNavCBUserAction, kNavUserActionSaveAs, 0},    {kNavCBUserAction, kNavUserActionChoose, 0},
      {kNavCBUserAction, kNavUserActionNone, 77},     {kNavCBUserAction, kNavUserActionSaveChanges, 77},
      {kNavCBCancel, kNavUserActionCancel, 77},       {kNavCBTerminate, kNavUserActionChoose, 77},
  };
  for (const auto& c : kCases) {
    NavCBRec rec{};
    rec.userAction = c.action;
    OSStatus result = 77;
    myNavEventCallBackWithWindowProc(c.selector, &rec, &result);
    EXPECT_EQ(result, c.stored) << c.selector << " " << c.action;
  }
  myNavEventCallBackWithWindowProc(kNavCBUserAction, nullptr, nullptr);
}

TEST_F(FileDialogs, NoTypesOrNowhereToPutThemShowsNoDialog) {
  ScriptedUser user;
  user.Do([] { ADD_FAILURE() << "a dialog was shown"; });
  FSRef file = Pattern(), many[3];
  UInt32 count = 99;
  EXPECT_EQ(myGetFSRefForReading(nullptr, nullptr, &file, kSig, 0, kTypes, 0, 0), -1);
  EXPECT_EQ(myGetMultipleFSRefForReading(nullptr, nullptr, 3, many, &count, kSig, 0, kTypes, 0, 0), -1);
  EXPECT_EQ(myGetMultipleFSRefForReading(nullptr, nullptr, 0, many, &count, kSig, 2, kTypes, 0, 0), -1);
  EXPECT_EQ(myGetMultipleFSRefForReading(nullptr, nullptr, 3, nullptr, &count, kSig, 2, kTypes, 0, 0), -1);
  EXPECT_TRUE(IsPattern(file));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(user.Pending(), 1u);
}

TEST_F(FileDialogs, CancelLeavesEveryOutParameterAlone) {
  Make("a.txt");
  FSRef ref = Pattern();
  FSRef many[2] = {Pattern(), Pattern()};
  UInt32 count = 99;
  FSSpec location;
  memset(&location, 0x5A, sizeof location);
  FSSpec locationBefore = location;
  {
    ScriptedUser user;
    // Something typed before Cancel must not leak out either.
    user.Type(kSkyloomNavSelectionSignature, 0, files_).ClickCancel();
    EXPECT_EQ(myUseNavServSelectLocationFSSpec(&location, 0), userCanceledErr);
    nav::Cancel(user);
    EXPECT_EQ(myUseNavServSelectLocationFSRef(&ref, 0, 0), userCanceledErr);
    nav::Cancel(user);
    EXPECT_EQ(myGetFSRefForReading(nullptr, CFSTR("Open"), &ref, kSig, 2, kTypes, 0, 1), userCanceledErr);
    nav::Cancel(user);
    EXPECT_EQ(myGetMultipleFSRefForReading(nullptr, nullptr, 2, many, &count, kSig, 2, kTypes, 0, 1),
              userCanceledErr);
    nav::Cancel(user);
    EXPECT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("new.txt"), &ref, FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TEXT"), 0, 0), userCanceledErr);
    EXPECT_TRUE(user.Errors().empty());
  }
  EXPECT_TRUE(IsPattern(ref));
  EXPECT_TRUE(IsPattern(many[0]) && IsPattern(many[1]));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(memcmp(&location, &locationBefore, sizeof location), 0);
  EXPECT_FALSE(Exists(files_ + "/new.txt"));
}

// A dialog whose run fails reports that failure, not a cancel: only the
// user's Cancel is -128.
TEST_F(FileDialogs, ARunThatFailsReportsItsOwnError) {
  FSRef ref = Pattern();
  FSRef many[2] = {Pattern(), Pattern()};
  UInt32 count = 99;
  FSSpec location;
  memset(&location, 0x5A, sizeof location);
  const FSSpec locationBefore = location;
  const std::function<OSStatus()> dialogs[] = {
      [&] { return myUseNavServSelectLocationFSSpec(&location, 0); },
      [&] { return myUseNavServSelectLocationFSRef(&ref, 0, 0); },
      [&] { return myGetFSRefForReading(nullptr, CFSTR("Open"), &ref, kSig, 2, kTypes, 0, 1); },
      [&] { return myGetMultipleFSRefForReading(nullptr, nullptr, 2, many, &count, kSig, 2, kTypes, 0, 1); },
      [&] {
        return myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("new.txt"), &ref, FOUR_CHAR_CODE("ttxt"),
                                      FOUR_CHAR_CODE("TEXT"), 0, 0);
      },
  };
  for (size_t i = 0; i < std::size(dialogs); ++i) {
    SkyloomNavFailNextRun(kNavWrongDialogStateErr);
    EXPECT_EQ(dialogs[i](), kNavWrongDialogStateErr) << i;
  }
  SkyloomNavFailNextRun(noErr);
  EXPECT_TRUE(IsPattern(ref));
  EXPECT_TRUE(IsPattern(many[0]) && IsPattern(many[1]));
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(memcmp(&location, &locationBefore, sizeof location), 0);
  EXPECT_FALSE(Exists(files_ + "/new.txt"));
}

TEST_F(FileDialogs, ChoosingFilesGivesThemInSelectionOrderUpToTheMaximum) {
  std::vector<std::string> chosen;
  for (const char* n : {"e.fits", "b.fits", "d.fits", "a.fits", "c.fits"}) chosen.push_back(Make(n));
  ScriptedUser user;
  nav::Choose(user, chosen);
  FSRef many[4];
  for (auto& r : many) r = Pattern();
  UInt32 count = 0;
  ASSERT_EQ(myGetMultipleFSRefForReading(nullptr, CFSTR("Frames"), 3, many, &count, kSig, 2, kTypes, 0, 7), noErr);
  EXPECT_EQ(count, 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PathOf(many[i]), chosen[size_t(i)]);
  EXPECT_TRUE(IsPattern(many[3]));

  // One file.
  nav::Choose(user, {chosen[2]});
  FSRef one = Pattern();
  ASSERT_EQ(myGetFSRefForReading(nullptr, nullptr, &one, kSig, 1, kTypes, 0, 0), noErr);
  EXPECT_EQ(PathOf(one), chosen[2]);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(FileDialogs, AFileGoneBeforeItIsFetchedEndsTheList) {
  const std::string a = Make("a.txt"), b = Make("b.txt"), c = Make("c.txt");
  ScriptedUser user;
  nav::Choose(user, {a, b, c});
  FSRef many[3];
  UInt32 count = 0;
  NavEventUPP upp = NewNavEventUPP(myNavEventCallBackWithWindowProc);
  NavDialogCreationOptions o;
  NavGetDefaultDialogCreationOptions(&o);
  OSStatus answer = -1;
  NavDialogRef d = nullptr;
  ASSERT_EQ(NavCreateChooseFileDialog(&o, nullptr, upp, nullptr, nullptr, &answer, &d), noErr);
  ASSERT_EQ(NavDialogRun(d), noErr);
  EXPECT_EQ(answer, noErr);
  ASSERT_EQ(unlink(b.c_str()), 0);
  EXPECT_EQ(myVerifyNavDialogResponseFSRefs(d, 3, many, &count), noErr);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(PathOf(many[0]), a);
  // With the first one gone there is nothing to hand back: no success.
  ASSERT_EQ(unlink(a.c_str()), 0);
  count = 42;
  EXPECT_EQ(myVerifyNavDialogResponseFSRefs(d, 3, many, &count), fnfErr);
  EXPECT_EQ(count, 42u);
  NavDialogDispose(d);
}

TEST_F(FileDialogs, ChoosingAFolder) {
  const std::string folder = files_ + "/Saved Frames";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ScriptedUser user;
  nav::Choose(user, {folder});
  FSRef ref;
  ASSERT_EQ(myUseNavServSelectLocationFSRef(&ref, 0, 3), noErr);
  EXPECT_EQ(PathOf(ref), folder);

  // The FSSpec form gives the folder itself, not an item inside it.
  nav::Choose(user, {folder});
  FSSpec location;
  ASSERT_EQ(myUseNavServSelectLocationFSSpec(&location, 3), noErr);
  FSRef back;
  ASSERT_EQ(FSpMakeFSRef(&location, &back), noErr);
  EXPECT_EQ(PathOf(back), folder);
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(FileDialogs, SaveCreatesAnEmptyFileAndReplacesOnlyWhenConfirmed) {
  const std::string old = Make("Stack.tif", std::string(1024, 'x'));
  ScriptedUser user;
  // Asked to replace: first "Cancel" (back to the dialog), then "Replace".
  nav::SaveAs(user, files_, "Stack.tif").AnswerAlert(kAlertStdAlertCancelButton).ClickOK().AnswerAlert(
      kAlertStdAlertOKButton);
  FSRef file = Pattern();
  ASSERT_EQ(myNavServSaveFileFSRef(nullptr, CFSTR("Save the stack"), CFSTR("untitled.tif"), &file, FOUR_CHAR_CODE("ORFW"), FOUR_CHAR_CODE("TIFF"), 0,
                                   9),
            noErr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(PathOf(file), old);
  EXPECT_EQ(Slurp(old), "");
  ASSERT_EQ(skyloom::ui::Alerts().size(), 2u);
  EXPECT_EQ(skyloom::ui::Alerts()[0].title, "\xE2\x80\x9CStack.tif\xE2\x80\x9D already exists. Do you want to replace it?");

  // The dialog starts in the folder last used for the same preference key.
  user.Type(kSkyloomNavNameSignature, 0, "other.tif").ClickOK();
  ASSERT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("untitled.tif"), &file, kSig, kTypes[1], 0, 9), noErr);
  EXPECT_EQ(PathOf(file), files_ + "/other.tif");
  EXPECT_TRUE(Exists(old));
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(FileDialogs, SaveNameProblems) {
  ScriptedUser user;
  FSRef file = Pattern();
  // An empty name.
  user.Type(kSkyloomNavSelectionSignature, 0, files_).Type(kSkyloomNavNameSignature, 0, "\b").ClickOK();
  EXPECT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("x.txt"), &file, FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TEXT"), 0, 0), memFullErr);
  // A name longer than a file name can be.
  nav::SaveAs(user, files_, std::string(256, 'n'));
  EXPECT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("x.txt"), &file, kSig, kTypes[0], 0, 0), bdNamErr);
  // Names that are no names: the dialog beeps and stays up.
  const long beeps = SkyloomBeepCount();
  nav::SaveAs(user, files_, "..").ClickCancel();
  EXPECT_EQ(myNavServSaveFileFSRef(nullptr, nullptr, CFSTR("x.txt"), &file, kSig, kTypes[0], 0, 0), userCanceledErr);
  EXPECT_EQ(SkyloomBeepCount(), beeps + 1);
  EXPECT_TRUE(IsPattern(file));
  EXPECT_TRUE(user.Errors().empty());
}

TEST_F(FileDialogs, AppendFileNameToFolder) {
  const FSRef folder = Ref(files_);
  FSRef file = Pattern();
  EXPECT_EQ(myAppendFileNameToFolderPath(&folder, nullptr, 1, &file), -1);
  EXPECT_EQ(myAppendFileNameToFolderPath(&folder, CFSTR(""), 1, &file), -1);
  EXPECT_TRUE(IsPattern(file));

  const std::string old = Make("log.txt", std::string(1024, 'x'));
  EXPECT_EQ(myAppendFileNameToFolderPath(&folder, CFSTR("log.txt"), 0, &file), dupFNErr);
  EXPECT_EQ(Slurp(old), std::string(1024, 'x'));
  ASSERT_EQ(myAppendFileNameToFolderPath(&folder, CFSTR("log.txt"), 1, &file), noErr);
  EXPECT_EQ(PathOf(file), old);
  EXPECT_EQ(Slurp(old), "");
  ASSERT_EQ(myAppendFileNameToFolderPath(&folder, CFSTR("caf\u00E9.txt"), 0, &file), noErr);
  EXPECT_EQ(PathOf(file), files_ + "/caf\xC3\xA9.txt");
  CFStringRef name = myFSRefGetCFStringName(&file);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(CFStringCompare(name, CFSTR("caf\u00E9.txt"), 0), kCFCompareEqualTo);
  CFRelease(name);
}

TEST_F(FileDialogs, SortByNameIgnoringCase) {
  const struct {
    std::vector<std::string> names;
    std::vector<std::string> sorted;
  } kCases[] = {
      {{"b.txt", "A.txt", "c.txt"}, {"A.txt", "b.txt", "c.txt"}},
      {{"frame10.fits", "Frame2.fits", "frame1.fits"}, {"frame1.fits", "frame10.fits", "Frame2.fits"}},
      {{"z", "y", "x", "w", "v"}, {"v", "w", "x", "y", "z"}},
      {{"only"}, {"only"}},
  };
  int set = 0;
  for (const auto& c : kCases) {
    const std::string folder = files_ + "/set" + std::to_string(set++);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::vector<FSRef> refs;
    for (const auto& n : c.names) {
      std::ofstream(folder + "/" + n) << n;
      refs.push_back(Ref(folder + "/" + n));
    }
    mySortFSRefArray(refs.data(), UInt32(refs.size()));
    for (size_t i = 0; i < refs.size(); ++i) EXPECT_EQ(PathOf(refs[i]), folder + "/" + c.sorted[i]);
  }
  // An item whose name cannot be read stays where it is.
  FSRef refs[3] = {Ref(Make("b")), Ref(Make("gone")), Ref(Make("a"))};
  ASSERT_EQ(unlink((files_ + "/gone").c_str()), 0);
  mySortFSRefArray(refs, 3);
  EXPECT_EQ(PathOf(refs[0]), files_ + "/b");
  EXPECT_EQ(PathOf(refs[1]), files_ + "/gone");
  EXPECT_EQ(PathOf(refs[2]), files_ + "/a");
  mySortFSRefArray(nullptr, 5);
}

TEST_F(FileDialogs, OpeningThroughTheCLibrary) {
  const std::string path = Make("data.txt", "abc");
  const FSRef ref = Ref(path);
  FILE* f = myFSREF_fopenRW(&ref);
  ASSERT_NE(f, nullptr);
  fputs("X", f);  // "r+": writes from the start, keeps the rest
  fclose(f);
  EXPECT_EQ(Slurp(path), "Xbc");
  f = myFSREF_fopenWriteOnly(&ref);
  ASSERT_NE(f, nullptr);
  fputs("d", f);
  fclose(f);
  EXPECT_EQ(Slurp(path), "Xbcd");
  FSSpec location;
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &location, nullptr), noErr);
  f = myFSp_fopenRW(&location);
  ASSERT_NE(f, nullptr);
  fclose(f);

  // A path longer than 1024 bytes.
  std::string deep = files_;
  while (deep.size() <= 1024) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  std::ofstream(deep + "/f.txt") << "x";
  const FSRef far = Ref(deep + "/f.txt");
  EXPECT_EQ(myFSREF_fopenRW(&far), nullptr);
  EXPECT_EQ(myFSREF_fopenWriteOnly(&far), nullptr);
  EXPECT_EQ(myFSREF_fopenRW(nullptr), nullptr);
  EXPECT_EQ(myFSp_fopenRW(nullptr), nullptr);
}

// Seconds from 2001-01-01 00:00:00 UTC to 2026-03-07 04:05:06 UTC, worked out apart.
constexpr CFAbsoluteTime k20260307_040506 = 794549106.0;

class LogFile : public FileDialogs {
 protected:
  void SetUp() override {
    FileDialogs::SetUp();
    const char* tz = getenv("TZ");
    if (tz) oldTZ_ = tz;
    hadTZ_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    CFTimeZoneResetSystem();
    SkyloomSetAbsoluteTimeSource([] { return k20260307_040506; });
  }
  void TearDown() override {
    if (hadTZ_) setenv("TZ", oldTZ_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    CFTimeZoneResetSystem();
    FileDialogs::TearDown();
  }
  std::string oldTZ_;
  bool hadTZ_ = false;
};

TEST_F(LogFile, DefaultNameInTheChosenFolderOpenForAppending) {
  ScriptedUser user;
  std::string shownName;
  user.Type(kSkyloomNavSelectionSignature, 0, files_).Do([&] {
    const ControlID id{kSkyloomNavNameSignature, 0};
    ControlRef c = nullptr;
    ASSERT_EQ(GetControlByID(skyloom::ui::ModalWindow(), &id, &c), noErr);
    shownName = skyloom::ui::ControlText(c);
  });
  user.ClickOK();
  FILE* f = myCreateLogFileWriteOnly("Save the guiding log", "Guiding Log ", 5);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(user.Errors().empty());
  EXPECT_EQ(shownName, "Guiding Log 20260307_040506.txt");
  const std::string path = files_ + "/Guiding Log 20260307_040506.txt";
  fputs("first\r", f);
  fclose(f);
  // Appending: a second open adds to the end.
  const FSRef ref = Ref(path);
  f = myFSREF_fopenWriteOnly(&ref);
  ASSERT_NE(f, nullptr);
  fputs("second\r", f);
  fclose(f);
  EXPECT_EQ(Slurp(path), "first\rsecond\r");
}

TEST_F(LogFile, CancelledDialogCreatesNothing) {
  ScriptedUser user;
  user.Type(kSkyloomNavSelectionSignature, 0, files_).ClickCancel();
  EXPECT_EQ(myCreateLogFileWriteOnly("Save the guiding log", "Guiding Log ", 5), nullptr);
  EXPECT_FALSE(Exists(files_ + "/Guiding Log 20260307_040506.txt"));
  EXPECT_EQ(myCreateLogFileWriteOnly(nullptr, "Guiding Log ", 5), nullptr);  // no dialog without a message
  EXPECT_TRUE(user.Errors().empty());
}

}  // namespace
