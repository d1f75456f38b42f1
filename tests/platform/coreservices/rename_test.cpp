// Renaming a file in its folder: a taken name is refused and left alone.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/coreservices/Files.h"

namespace {

class Rename : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom_rename_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    char real[PATH_MAX];
    ASSERT_NE(realpath(tmpl, real), nullptr);
    dir_ = real;
    SkyloomSetConfigurationDirectory((dir_ + "/config").c_str());
  }
  void TearDown() override {
    SkyloomSetConfigurationDirectory(nullptr);
    ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }
  FSRef Make(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name) << text;
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>((dir_ + "/" + name).c_str()), &ref, nullptr), noErr);
    return ref;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  OSErr RenameTo(const FSRef& ref, const std::u16string& name, FSRef* out) {
    std::vector<UniChar> u(name.begin(), name.end());
    return FSRenameUnicode(&ref, u.size(), u.data(), kTextEncodingUnknown, out);
  }
  std::string dir_;
};

TEST_F(Rename, ANewNameMovesTheFileAndTheNewReferenceNamesIt) {
  FSRef ref = Make("0000000001_S.tiff", "pixels");
  FSRef renamed;
  ASSERT_EQ(RenameTo(ref, u"M42 \u00e9t\u00e9.tiff", &renamed), noErr);
  UInt8 path[1024];
  ASSERT_EQ(FSRefMakePath(&renamed, path, sizeof path), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(path)), dir_ + "/M42 \xc3\xa9t\xc3\xa9.tiff");
  EXPECT_EQ(Read("M42 \xc3\xa9t\xc3\xa9.tiff"), "pixels");
  EXPECT_NE(access((dir_ + "/0000000001_S.tiff").c_str(), F_OK), 0);
  // The same name again is no change.
  EXPECT_EQ(RenameTo(renamed, u"M42 \u00e9t\u00e9.tiff", nullptr), noErr);
}

TEST_F(Rename, TakenAndImpossibleNamesAreRefusedAndNothingChanges) {
  FSRef ref = Make("a.tiff", "mine");
  Make("b.tiff", "theirs");
  FSRef out;
  struct Case {
    std::u16string name;
    OSErr status;
  } cases[] = {{u"b.tiff", dupFNErr}, {u"x/y", bdNamErr}, {u"..", bdNamErr}, {u"", errFSMissingName}};
  for (const Case& c : cases) {
    EXPECT_EQ(RenameTo(ref, c.name, &out), c.status);
    EXPECT_EQ(Read("a.tiff"), "mine");
    EXPECT_EQ(Read("b.tiff"), "theirs");
  }
  // A reference to nothing.
  ASSERT_EQ(unlink((dir_ + "/a.tiff").c_str()), 0);
  EXPECT_EQ(RenameTo(ref, u"c.tiff", &out), fnfErr);
}

}  // namespace
