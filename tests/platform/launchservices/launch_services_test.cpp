// Opening a document through the desktop's opener (replaced here).
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/launchservices/LaunchServices.h"

namespace {

TEST(LaunchServices, TheOpenerGetsTheFilesPathAndMissingFilesAreRefused) {
  char tmpl[] = "/tmp/skyloom_ls_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  char real[PATH_MAX];
  ASSERT_NE(realpath(tmpl, real), nullptr);
  const std::string dir = real;
  SkyloomSetConfigurationDirectory((dir + "/config").c_str());
  const std::string file = dir + "/movie 1.mov";
  std::ofstream(file) << "x";
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(file.c_str()), &ref, nullptr), noErr);

  std::vector<std::string> opened;
  SkyloomSetFileOpener([&](const std::string& path) {
    opened.push_back(path);
    return opened.size() == 1 ? OSStatus(noErr) : OSStatus(kLSApplicationNotFoundErr);
  });
  EXPECT_EQ(LSOpenFSRef(&ref, nullptr), noErr);
  EXPECT_EQ(LSOpenFSRef(&ref, nullptr), kLSApplicationNotFoundErr);  // the opener's answer
  EXPECT_EQ(LSOpenFSRef(nullptr, nullptr), paramErr);
  unlink(file.c_str());
  EXPECT_EQ(LSOpenFSRef(&ref, nullptr), fnfErr);
  EXPECT_EQ(opened, (std::vector<std::string>{file, file}));
  SkyloomSetFileOpener(nullptr);
  SkyloomSetConfigurationDirectory(nullptr);
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
