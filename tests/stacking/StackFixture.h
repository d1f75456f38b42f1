// A clean model with the application's own nib and menu bar, a private
// configuration directory (preferences, directory ids, dialog locations) and
// helpers for the AlignPref domain.
#pragma once
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/Files.h"
#include "platform/navigation/Navigation.h"
#include "stacking/AlignAndStack.h"
#include "tests/support/UiFixture.h"

class StackTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    char real[PATH_MAX];
    ASSERT_NE(realpath(dir_.c_str(), real), nullptr);
    root_ = real;
    config_ = root_ + "/config";
    ASSERT_EQ(mkdir(config_.c_str(), 0700), 0);
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    SkyloomNavForgetLocations();
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
    ASSERT_EQ(SetMenuBarFromNib(nib, CFSTR("MainMenu")), noErr);
    DisposeNibReference(nib);
  }
  void TearDown() override {
    mySetMovieStackingRunEntry(nullptr);
    EXPECT_FALSE(myMovieStackingRunIsAlive());
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }

  std::string MakeFolder(const std::string& name) {
    const std::string path = root_ + "/" + name;
    mkdir(path.c_str(), 0700);
    return path;
  }
  std::string MakeFile(const std::string& folder, const std::string& name) {
    const std::string path = folder + "/" + name;
    std::ofstream(path) << "movie";
    return path;
  }
  static std::string PathOf(const FSRef& ref) {
    UInt8 path[4096];
    return FSRefMakePath(&ref, path, sizeof path) == noErr ? reinterpret_cast<char*>(path) : "<none>";
  }
  // The folder a location names once its name is emptied, as the run opens it.
  static std::string FolderOf(const FSSpec& location) {
    FSSpec folder;
    FSRef ref;
    const UInt8 empty[1] = {0};
    if (FSMakeFSSpec(location.vRefNum, location.parID, empty, &folder) != noErr ||
        FSpMakeFSRef(&folder, &ref) != noErr)
      return "<none>";
    return PathOf(ref);
  }

  static CFStringRef S(const std::string& text) {
    return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
  }
  // Stores text under the key (null removes it) and synchronises.
  static void Put(const std::string& key, const char* text) {
    CFStringRef d = S(kMyAlignPrefDomain), k = S(key);
    CFStringRef v = text ? S(text) : nullptr;
    CFPreferencesSetAppValue(k, v, d);
    EXPECT_TRUE(CFPreferencesAppSynchronize(d));
    if (v) CFRelease(v);
    CFRelease(k);
    CFRelease(d);
  }
  // The text under the key as a new process would read it, "<none>" when none.
  static std::string Stored(const std::string& key) {
    SkyloomPreferencesForgetAll();
    CFStringRef d = S(kMyAlignPrefDomain), k = S(key);
    CFPropertyListRef v = CFPreferencesCopyAppValue(k, d);
    CFRelease(k);
    CFRelease(d);
    if (!v) return "<none>";
    std::string out = "<other>";
    char text[512];
    if (CFGetTypeID(v) == CFStringGetTypeID() &&
        CFStringGetCString(CFStringRef(v), text, sizeof text, kCFStringEncodingUTF8))
      out = text;
    CFRelease(v);
    return out;
  }
  std::string DomainFile() const { return config_ + "/" + kMyAlignPrefDomain + ".plist"; }
  static std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  // Whether the menu bar's "STAK" item can be chosen.
  static bool StackCommandEnabled() {
    MenuRef menu = nullptr;
    MenuItemIndex item = 0;
    if (GetIndMenuItemWithCommandID(nullptr, FOUR_CHAR_CODE("STAK"), 1, &menu, &item) != noErr) return false;
    return IsMenuItemEnabled(menu, item);
  }

  std::string root_, config_;
};
