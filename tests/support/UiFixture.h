// A fixture for tests of windows: a private resources folder (nib
// descriptions and strings table written by the test, or the real ones
// linked in), and a model cleared before and after each test.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/hitoolbox/UIModel.h"

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-ui-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    skyloom::ui::SetResourceDirectory(dir_);
    skyloom::ui::ResetModel();
  }
  void TearDown() override {
    skyloom::ui::ResetModel();
    skyloom::ui::SetResourceDirectory("");
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir_.c_str());
  }
  // Writes resources/<nib>.nib/<file> with the description text.
  void WriteNib(const std::string& nib, const std::string& text, const std::string& file = "test.ui") {
    std::string folder = dir_ + "/" + nib + ".nib";
    mkdir(folder.c_str(), 0755);
    std::ofstream(folder + "/" + file) << text;
  }
  void WriteStrings(const std::string& text) { std::ofstream(dir_ + "/Localizable.strings") << text; }
  // The application's own nib "ORX_DCAM" from the source tree.
  void LinkRealNib() {
    std::string from = std::string(SKYLOOM_SOURCE_DIR) + "/resources/ORX_DCAM.nib";
    ASSERT_EQ(symlink(from.c_str(), (dir_ + "/ORX_DCAM.nib").c_str()), 0);
  }
  // A window of the nib, or null (the test fails).
  WindowRef MakeWindow(const char* nib, const char* name) {
    IBNibRef ref = nullptr;
    CFStringRef n = CFStringCreateWithCString(nullptr, nib, kCFStringEncodingUTF8);
    OSStatus err = CreateNibReference(n, &ref);
    CFRelease(n);
    EXPECT_EQ(err, noErr);
    if (err) return nullptr;
    WindowRef w = nullptr;
    CFStringRef wn = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
    EXPECT_EQ(CreateWindowFromNib(ref, wn, &w), noErr);
    CFRelease(wn);
    DisposeNibReference(ref);
    return w;
  }
  std::string dir_;
};
