#include <gtest/gtest.h>

#include <locale.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/coreservices/CNumericLocale.h"
#include "platform/coreservices/Files.h"

namespace {

std::string Format(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.2f", v);
  return text;
}

TEST(CNumericLocale, ScopeWritesAndReadsWithAPointThenRestores) {
  const char* saved = setlocale(LC_NUMERIC, nullptr);
  const std::string keep = saved ? saved : "C";
  ASSERT_NE(setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr)
      << "the de_DE.UTF-8 locale is missing: scripts/deps generates it";
  EXPECT_EQ(Format(1.5), "1,50");
  {
    SkyloomCLocaleScope c;
    EXPECT_EQ(Format(1.5), "1.50");
    EXPECT_EQ(strtod("2.25", nullptr), 2.25);
    {
      SkyloomCLocaleScope nested;
      EXPECT_EQ(Format(0.5), "0.50");
    }
    EXPECT_EQ(Format(0.5), "0.50");
  }
  EXPECT_EQ(Format(1.5), "1,50");
  EXPECT_EQ(strtod_l("3.75", nullptr, SkyloomCNumericLocale()), 3.75);
  setlocale(LC_NUMERIC, keep.c_str());
}

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
