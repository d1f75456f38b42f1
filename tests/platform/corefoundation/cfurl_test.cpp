#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/corefoundation/CoreFoundation.h"

namespace {

std::string text(CFStringRef s) {
  char buf[1024];
  if (!s || !CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<none>";
  return buf;
}

// Takes a created string and gives its text, releasing it.
std::string take(CFStringRef s) {
  std::string t = text(s);
  if (s) CFRelease(s);
  return t;
}

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-bundle-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    SkyloomSetBundleResourceDirectory(dir_);
  }
  void TearDown() override {
    SkyloomSetBundleResourceDirectory("");
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  void write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  std::string dir_;
};

}  // namespace

TEST_F(BundleTest, ResourceURLs) {
  write("About_Image.jpg", "jpeg");
  ASSERT_EQ(mkdir((dir_ + "/English.lproj").c_str(), 0755), 0);
  write("English.lproj/Skyloom Help.pdf", "pdf");
  CFURLRef url = CFBundleCopyResourceURL(CFBundleGetMainBundle(), CFSTR("About_Image"), CFSTR("jpg"), nullptr);
  ASSERT_NE(url, nullptr);
  EXPECT_EQ(take(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle)), dir_ + "/About_Image.jpg");
  EXPECT_EQ(take(CFURLCopyPathExtension(url)), "jpg");
  CFRelease(url);
  // A localized folder is looked in too; a name may carry its extension.
  CFURLRef help = CFBundleCopyResourceURL(CFBundleGetMainBundle(), CFSTR("Skyloom Help.pdf"), nullptr, nullptr);
  EXPECT_EQ(take(CFURLCopyFileSystemPath(help, kCFURLPOSIXPathStyle)), dir_ + "/English.lproj/Skyloom Help.pdf");
  CFRelease(help);
  EXPECT_EQ(CFBundleCopyResourceURL(CFBundleGetMainBundle(), CFSTR("Missing"), CFSTR("pdf"), nullptr), nullptr);
  EXPECT_EQ(CFBundleCopyResourceURL(CFBundleGetMainBundle(), CFSTR("../etc/passwd"), nullptr, nullptr), nullptr);
  CFURLRef res = CFBundleCopyResourcesDirectoryURL(CFBundleGetMainBundle());
  EXPECT_TRUE(CFURLHasDirectoryPath(res));
  EXPECT_EQ(take(CFURLCopyFileSystemPath(res, kCFURLPOSIXPathStyle)), dir_);
  CFRelease(res);
}

TEST(CFURL, FilePathsAndText) {
  CFURLRef u = CFURLCreateWithFileSystemPath(nullptr, CFSTR("/data/Jupiter 2026/\xC3\xA9t\xC3\xA9.mov"),
                                             kCFURLPOSIXPathStyle, false);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(text(CFURLGetString(u)), "file:///data/Jupiter%202026/%C3%A9t%C3%A9.mov");
  UInt8 buf[64];
  ASSERT_TRUE(CFURLGetFileSystemRepresentation(u, true, buf, sizeof buf));
  EXPECT_STREQ(reinterpret_cast<char*>(buf), "/data/Jupiter 2026/\xC3\xA9t\xC3\xA9.mov");
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(u, true, buf, 10));  // too small
  EXPECT_EQ(take(CFURLCopyLastPathComponent(u)), "\xC3\xA9t\xC3\xA9.mov");
  CFURLRef folder = CFURLCreateCopyDeletingLastPathComponent(nullptr, u);
  EXPECT_EQ(text(CFURLGetString(folder)), "file:///data/Jupiter%202026/");
  CFURLRef again = CFURLCreateCopyAppendingPathComponent(nullptr, folder, CFSTR("\xC3\xA9t\xC3\xA9.mov"), false);
  EXPECT_TRUE(CFEqual(again, u));

  // Text back into a URL.
  CFURLRef parsed = CFURLCreateWithString(nullptr, CFURLGetString(u), nullptr);
  EXPECT_EQ(take(CFURLCopyFileSystemPath(parsed, kCFURLPOSIXPathStyle)), "/data/Jupiter 2026/\xC3\xA9t\xC3\xA9.mov");
  CFURLRef web = CFURLCreateWithString(nullptr, CFSTR("https://example.org/help"), nullptr);
  EXPECT_EQ(text(CFURLGetString(web)), "https://example.org/help");
  EXPECT_EQ(CFURLCopyFileSystemPath(web, kCFURLPOSIXPathStyle), nullptr);
  EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR(""), nullptr), nullptr);
  for (CFURLRef r : {u, folder, again, parsed, web}) CFRelease(r);
}
