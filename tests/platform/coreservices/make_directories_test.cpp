#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/coreservices/Files.h"

namespace {

TEST(MakeDirectories, MakesEveryMissingLevelAndRefusesAFileInTheWay) {
  char tmpl[] = "/tmp/skyloom-mkdirs-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::filesystem::path root = tmpl;
  const std::string deep = (root / "a" / "b" / "c").string();
  EXPECT_TRUE(SkyloomMakeDirectories(deep));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  struct stat st;
  ASSERT_EQ(stat(deep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Again: everything exists already. A trailing slash changes nothing.
  EXPECT_TRUE(SkyloomMakeDirectories(deep));
  EXPECT_TRUE(SkyloomMakeDirectories(deep + "/"));

  std::ofstream((root / "file").string()).put('x');
  EXPECT_FALSE(SkyloomMakeDirectories((root / "file").string()));
  EXPECT_FALSE(SkyloomMakeDirectories((root / "file" / "below").string()));
  std::filesystem::remove_all(root);
}

}  // namespace
