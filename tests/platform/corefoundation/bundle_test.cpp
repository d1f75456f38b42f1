// The main bundle's strings table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "platform/corefoundation/CoreFoundation.h"

namespace {

std::string Utf8(CFStringRef s) {
  char buf[512];
  return CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? std::string(buf) : std::string("?");
}

TEST(StringsTable, ParsesEntriesCommentsAndEscapes) {
  std::map<std::string, std::string> t;
  ASSERT_TRUE(SkyloomParseStringsTable(
      "\xEF\xBB\xBF/* head */\n\"A\" = \"x \\\"y\\\"\\n\";  // tail\n\"B\"=\"\\U00e9\\\\\";\n\"A\" = \"again\";", t));
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t["A"], "again");  // the later entry wins
  EXPECT_EQ(t["B"], "\xC3\xA9\\");
  for (const char* bad : {"\"A\" = \"x\"", "\"A\" \"x\";", "\"A\" = x;", "/* open", "\"A\" = \"\\U00g1\";"}) {
    std::map<std::string, std::string> u;
    EXPECT_FALSE(SkyloomParseStringsTable(bad, u)) << bad;
  }
  std::map<std::string, std::string> partial;
  EXPECT_FALSE(SkyloomParseStringsTable("\"K\" = \"v\";\n\"L\" = ", partial));
  EXPECT_EQ(partial.size(), 1u);  // what came before the fault is kept
}

TEST(StringsTable, LocalizedStringOrItsFallback) {
  char tmpl[] = "/tmp/skyloom-bundle-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::ofstream(dir + "/Localizable.strings") << "\"USRER\" = \"User Error\";\n";
  SkyloomSetBundleResourceDirectory(dir);
  CFBundleRef b = CFBundleGetMainBundle();
  long live = SkyloomCFLiveObjectCount();
  CFStringRef s = CFBundleCopyLocalizedString(b, CFSTR("USRER"), CFSTR("USRER"), nullptr);
  EXPECT_EQ(Utf8(s), "User Error");
  CFRelease(s);
  s = CFBundleCopyLocalizedString(b, CFSTR("NOTENOUGHRAM"), CFSTR("NOTENOUGHRAM"), nullptr);
  EXPECT_EQ(Utf8(s), "NOTENOUGHRAM");
  CFRelease(s);
  s = CFBundleCopyLocalizedString(b, CFSTR("NOPE"), nullptr, nullptr);
  EXPECT_EQ(Utf8(s), "NOPE");
  CFRelease(s);
  s = CFBundleCopyLocalizedString(b, CFSTR("USRER"), nullptr, CFSTR("Other"));  // no such table
  EXPECT_EQ(Utf8(s), "USRER");
  CFRelease(s);
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);
  SkyloomSetBundleResourceDirectory("");
  std::string cmd = "rm -rf '" + dir + "'";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST(StringsTable, TheApplicationsTableParsesAndIsFoundFromTheBuildTree) {
  SkyloomSetBundleResourceDirectory("");
  std::string dir = SkyloomBundleResourceDirectory();
  EXPECT_NE(dir.find("resources"), std::string::npos) << dir;
  CFStringRef s = CFBundleCopyLocalizedString(CFBundleGetMainBundle(), CFSTR("USRER"), CFSTR("USRER"), nullptr);
  EXPECT_NE(Utf8(s), "USRER");
  CFRelease(s);
}

}  // namespace
