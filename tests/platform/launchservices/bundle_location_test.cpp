// Where the process's application bundle is: the folder whose
// Contents/Resources is the resources folder.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/corefoundation/CFBundle.h"
#include "platform/launchservices/Processes.h"

namespace {

std::string Path(const FSRef& ref) {
  UInt8 path[PATH_MAX];
  EXPECT_EQ(FSRefMakePath(&ref, path, sizeof path), noErr);
  return reinterpret_cast<const char*>(path);
}

std::string Real(const std::string& p) {
  char buffer[PATH_MAX];
  return realpath(p.c_str(), buffer) ? buffer : "";
}

class BundleLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom_bundle_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = Real(tmpl);
  }
  void TearDown() override {
    SkyloomSetBundleResourceDirectory("");
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir_.c_str());
  }
  void MakeDirs(const std::string& relative) {
    std::string p = dir_;
    size_t start = 0;
    while (start <= relative.size()) {
      size_t slash = relative.find('/', start);
      if (slash == std::string::npos) slash = relative.size();
      p += "/" + relative.substr(start, slash - start);
      mkdir(p.c_str(), 0755);
      start = slash + 1;
    }
  }
  std::string dir_;
};

TEST_F(BundleLocation, BuildTreeInstalledAndBundleShapedResourceFolders) {
  const ProcessSerialNumber self = {0, kCurrentProcess};
  FSRef ref;

  // The build tree of this test program: the bundle beside the resources
  // link, holding the help document.
  SkyloomSetBundleResourceDirectory("");
  ASSERT_EQ(GetProcessBundleLocation(&self, &ref), noErr);
  const std::string built = Path(ref);
  EXPECT_EQ(Real(built), Real(std::string(SKYLOOM_BINARY_DIR) + "/Skyloom.app"));
  std::ifstream help(built + "/Contents/Resources/Skyloom Help.pdf", std::ios::binary);
  std::string pdf((std::istreambuf_iterator<char>(help)), std::istreambuf_iterator<char>());
  EXPECT_EQ(pdf.rfind("%PDF-1.", 0), 0u);
  EXPECT_NE(pdf.find("%%EOF", pdf.size() - 8), std::string::npos);

  // Resources that are a bundle's own Contents/Resources name that bundle.
  MakeDirs("Some.app/Contents/Resources");
  SkyloomSetBundleResourceDirectory(dir_ + "/Some.app/Contents/Resources/");
  ASSERT_EQ(GetProcessBundleLocation(&self, &ref), noErr);
  EXPECT_EQ(Path(ref), dir_ + "/Some.app");

  // An installed prefix: share/skyloom, reached from lib/skyloom/Skyloom.app.
  MakeDirs("prefix/share/skyloom");
  MakeDirs("prefix/lib/skyloom/Skyloom.app/Contents");
  ASSERT_EQ(symlink("../../../../share/skyloom", (dir_ + "/prefix/lib/skyloom/Skyloom.app/Contents/Resources").c_str()),
            0);
  SkyloomSetBundleResourceDirectory(dir_ + "/prefix/share/skyloom");
  ASSERT_EQ(GetProcessBundleLocation(&self, &ref), noErr);
  EXPECT_EQ(Path(ref), dir_ + "/prefix/lib/skyloom/Skyloom.app");

  // A resources folder no bundle leads to, or none at all.
  MakeDirs("loose/resources");
  SkyloomSetBundleResourceDirectory(dir_ + "/loose/resources");
  EXPECT_EQ(GetProcessBundleLocation(&self, &ref), fnfErr);
  SkyloomSetBundleResourceDirectory(dir_ + "/missing");
  EXPECT_EQ(GetProcessBundleLocation(&self, &ref), fnfErr);

  const ProcessSerialNumber other = {0, 77};
  EXPECT_EQ(GetProcessBundleLocation(&other, &ref), paramErr);
  EXPECT_EQ(GetProcessBundleLocation(nullptr, &ref), paramErr);
  EXPECT_EQ(GetProcessBundleLocation(&self, nullptr), paramErr);
}

}  // namespace
