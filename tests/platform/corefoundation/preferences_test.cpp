#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"

extern char** environ;

namespace {

std::string Utf8(CFStringRef s) {
  char buf[4096];
  return CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8) ? buf : "<unconvertible>";
}

const char kDomain[] = "com.brindlemoor.SKYLOOM_App.AlignPref";

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

struct CF {
  explicit CF(CFTypeRef o = nullptr) : obj(o) {}
  ~CF() {
    if (obj) CFRelease(obj);
  }
  CF(const CF&) = delete;
  CF& operator=(const CF&) = delete;
  CFTypeRef obj;
};

CFStringRef Str(const char* s) { return CFStringCreateWithCString(nullptr, s, kCFStringEncodingUTF8); }

class Preferences : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/skyloom-prefs-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    config_ = dir_ + "/config/skyloom";
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    domain_ = Str(kDomain);
    file_ = config_ + "/" + kDomain + ".plist";
  }
  void TearDown() override {
    SkyloomFailPreferenceWrites(0);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    CFRelease(domain_);
    ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
  }
  void Set(const char* key, CFTypeRef value) {
    CF k(Str(key));
    CFPreferencesSetAppValue(static_cast<CFStringRef>(k.obj), value, domain_);
  }
  CFTypeRef Copy(const char* key) {
    CF k(Str(key));
    return CFPreferencesCopyAppValue(static_cast<CFStringRef>(k.obj), domain_);
  }
  std::string CopyText(const char* key) {
    CF v(Copy(key));
    if (v.obj == nullptr || CFGetTypeID(v.obj) != CFStringGetTypeID()) return "<none>";
    return Utf8(static_cast<CFStringRef>(v.obj));
  }
  // Files in the configuration folder other than the domain and its lock file.
  std::set<std::string> Strays() {
    std::set<std::string> names;
    DIR* d = opendir(config_.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != ".." && n != std::string(kDomain) + ".plist" && n != std::string(kDomain) + ".plist.lock")
        names.insert(n);
    }
    closedir(d);
    return names;
  }
  std::string dir_, config_, file_;
  CFStringRef domain_ = nullptr;
};

TEST_F(Preferences, EveryKindOfValueSurvivesTheFileUnchanged) {
  // Strings must come back code unit for code unit, whatever they hold.
  const UniChar lone[] = {'x', 0xD800, 'y'};
  CF text(Str("0.100000"));
  CF markup(Str("a<b>&c \r\n\ttab\x01 caf\xC3\xA9 \xF0\x9F\x94\xAD"));
  CF surrogate(CFStringCreateWithCharacters(nullptr, lone, 3));
  SInt64 big = INT64_MIN;
  double real = 0.1, inf = 1.0 / 0.0;
  CF integer(CFNumberCreate(nullptr, kCFNumberSInt64Type, &big));
  CF number(CFNumberCreate(nullptr, kCFNumberFloat64Type, &real));
  CF infinity(CFNumberCreate(nullptr, kCFNumberFloat64Type, &inf));
  CF date(CFDateCreate(nullptr, 794549106.0));
  const UInt8 bytes[] = {0, 0xFF, 0x10, 'A'};
  CF data(CFDataCreate(nullptr, bytes, 4));
  CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  CF arrayHold(array);
  CFArrayAppendValue(array, text.obj);
  CFArrayAppendValue(array, kCFBooleanFalse);
  CFMutableDictionaryRef dict =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CF dictHold(dict);
  CFDictionarySetValue(dict, CFSTR("inner"), array);
  CFDictionarySetValue(dict, CFSTR("n"), number.obj);

  const std::vector<std::pair<const char*, CFTypeRef>> values = {
      {"text", text.obj},       {"markup", markup.obj},     {"surrogate", surrogate.obj}, {"", text.obj},
      {"integer", integer.obj}, {"real", number.obj},       {"inf", infinity.obj},        {"yes", kCFBooleanTrue},
      {"date", date.obj},       {"data", data.obj},         {"array", array},             {"dict", dict},
      {"k\r&<", markup.obj},
  };
  for (const auto& [k, v] : values) Set(k, v);
  // Seen at once, before any file exists.
  CF early(Copy("markup"));
  EXPECT_TRUE(CFEqual(early.obj, markup.obj));
  EXPECT_FALSE(Exists(file_));

  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  ASSERT_TRUE(Exists(file_));
  SkyloomPreferencesForgetAll();
  for (const auto& [k, v] : values) {
    CF back(Copy(k));
    ASSERT_NE(back.obj, nullptr) << k;
    EXPECT_TRUE(CFEqual(back.obj, v)) << k;
  }
  const std::string file = Slurp(file_);
  EXPECT_NE(file.find("<key>text</key>\n\t<string>0.100000</string>"), std::string::npos) << file;
  struct stat st;
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(Strays().empty());
}

TEST_F(Preferences, RemovingAKeyAndValuesThatCannotBeStored) {
  CF one(Str("1.000000"));
  Set("keep", one.obj);
  Set("drop", one.obj);
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  Set("drop", nullptr);
  EXPECT_EQ(CF(Copy("drop")).obj, nullptr);
  // Not property-list values: ignored, the key keeps what it had.
  Set("keep", kCFNull);
  CFMutableArrayRef holder = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  CFArrayAppendValue(holder, kCFNull);
  Set("keep", holder);
  CFRelease(holder);
  CF farDate(CFDateCreate(nullptr, 1e15));
  Set("keep", farDate.obj);
  EXPECT_EQ(CopyText("keep"), "1.000000");
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(CF(Copy("drop")).obj, nullptr);
  EXPECT_EQ(CopyText("keep"), "1.000000");
  // Null arguments do nothing.
  CFPreferencesSetAppValue(nullptr, one.obj, domain_);
  CFPreferencesSetAppValue(CFSTR("keep"), one.obj, nullptr);
  EXPECT_EQ(CFPreferencesCopyAppValue(nullptr, domain_), nullptr);
  EXPECT_EQ(CFPreferencesCopyAppValue(CFSTR("keep"), nullptr), nullptr);
  EXPECT_FALSE(CFPreferencesAppSynchronize(nullptr));
}

TEST_F(Preferences, ApplicationIdsThatAreNoFileNamesStoreNothing) {
  CF v(Str("1"));
  for (const char* id : {"", ".", "..", "../escape", "a/b", "/abs"}) {
    CF app(Str(id));
    CFPreferencesSetAppValue(CFSTR("k"), v.obj, static_cast<CFStringRef>(app.obj));
    EXPECT_EQ(CFPreferencesCopyAppValue(CFSTR("k"), static_cast<CFStringRef>(app.obj)), nullptr) << id;
    EXPECT_FALSE(CFPreferencesAppSynchronize(static_cast<CFStringRef>(app.obj))) << id;
  }
  EXPECT_FALSE(Exists(dir_ + "/config/escape.plist"));
  EXPECT_FALSE(Exists(config_ + "/.plist"));
  EXPECT_FALSE(Exists(config_ + "/...plist"));
}

TEST_F(Preferences, ADamagedFileReadsAsMissingAndIsKeptUntilAWholeNewFileReplacesIt) {
  ASSERT_EQ(system(("mkdir -p '" + config_ + "'").c_str()), 0);
  const std::string damaged = "<?xml version=\"1.0\"?><plist><dict><key>PIXELALIGN</key><string>4.000000</str";
  Spit(file_, damaged);
  EXPECT_EQ(CF(Copy("PIXELALIGN")).obj, nullptr);
  // Reading and synchronizing without changes leave the file alone.
  EXPECT_TRUE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(Slurp(file_), damaged);

  // A write that fails halfway leaves the damaged file in place and no debris.
  CF two(Str("2.000000"));
  Set("PIXELALIGN", two.obj);
  SkyloomFailPreferenceWrites(1);
  EXPECT_FALSE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(Slurp(file_), damaged);
  EXPECT_TRUE(Strays().empty());
  EXPECT_EQ(CopyText("PIXELALIGN"), "2.000000");

  // The next one succeeds; the old bytes stay beside the new domain.
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(Slurp(file_ + ".damaged"), damaged);
  EXPECT_EQ((Strays()), (std::set<std::string>{std::string(kDomain) + ".plist.damaged"}));
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(CopyText("PIXELALIGN"), "2.000000");

  // A domain that is well formed but not a dictionary is damaged too.
  SkyloomPreferencesForgetAll();
  Spit(file_, "<plist><array/></plist>");
  EXPECT_EQ(CF(Copy("PIXELALIGN")).obj, nullptr);
}

TEST_F(Preferences, AFailedWriteLeavesTheLastGoodDomain) {
  CF a(Str("a")), b(Str("b"));
  Set("k", a.obj);
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  const std::string good = Slurp(file_);
  Set("k", b.obj);
  SkyloomFailPreferenceWrites(1);
  EXPECT_FALSE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(Slurp(file_), good);
  EXPECT_TRUE(Strays().empty());
  // The change is still pending and goes out with the next synchronize.
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(CopyText("k"), "b");
}

TEST_F(Preferences, ConfigurationFolderThatCannotBeMadeFailsTheSynchronize) {
  ASSERT_EQ(system(("mkdir -p '" + dir_ + "/config'").c_str()), 0);
  Spit(config_, "a file where the folder should be");
  CF a(Str("a"));
  Set("k", a.obj);
  EXPECT_FALSE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(CopyText("k"), "a");
}

TEST_F(Preferences, ThreadsShareTheStore) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string key = "t" + std::to_string(t) + "k" + std::to_string(i % 5);
        CF v(Str(std::to_string(i).c_str()));
        Set(key.c_str(), v.obj);
        CF back(Copy(key.c_str()));
        EXPECT_TRUE(CFEqual(back.obj, v.obj));
        if (i % 10 == t) {
          EXPECT_TRUE(CFPreferencesAppSynchronize(domain_));
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  SkyloomPreferencesForgetAll();
  for (int t = 0; t < 4; ++t)
    for (int k = 0; k < 5; ++k) EXPECT_EQ(CopyText(("t" + std::to_string(t) + "k" + std::to_string(k)).c_str()), std::to_string(45 + k));
}

// Two processes synchronize one domain at once, each after every one of its
// own 200 keys: neither loses the other's keys.
TEST_F(Preferences, ProcessesSynchronizingOneDomainAtOnceKeepEachOthersKeys) {
  constexpr int kKeys = 200;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = ::fork();
    ASSERT_GE(writers[w], 0);
    if (writers[w] == 0) {
      close(start[1]);
      char c;
      // Both begin when the parent closes its end of the pipe.
      if (read(start[0], &c, 1) != 0) _exit(2);
      for (int i = 0; i < kKeys; ++i) {
        const std::string key = "w" + std::to_string(w) + "k" + std::to_string(i);
        CF v(Str(std::to_string(i).c_str()));
        Set(key.c_str(), v.obj);
        if (!CFPreferencesAppSynchronize(domain_)) _exit(1);
      }
      _exit(0);
    }
  }
  close(start[0]);
  close(start[1]);
  for (pid_t pid : writers) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  SkyloomPreferencesForgetAll();
  int missing = 0;
  for (int w = 0; w < 2; ++w)
    for (int i = 0; i < kKeys; ++i)
      missing += CopyText(("w" + std::to_string(w) + "k" + std::to_string(i)).c_str()) != std::to_string(i);
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(Strays().empty());
}

// Child half of ADomainWrittenByAnotherProcessIsReadBack: this program started
// again with SKYLOOM_PREFS_TEST_CHILD set runs only this, before the tests, and
// exits with the number of the check that failed (0: all held).
int RunChild() {
  const char* config = getenv("SKYLOOM_PREFS_TEST_CONFIG");
  if (config == nullptr) return 1;
  SkyloomSetConfigurationDirectory(config);
  CFStringRef domain = Str(kDomain);
  if (CFPreferencesCopyAppValue(CFSTR("fromParent"), domain) == nullptr) return 2;
  CFStringRef v = Str("written by the child");
  CFPreferencesSetAppValue(CFSTR("fromChild"), v, domain);
  CFPreferencesSetAppValue(CFSTR("shared"), v, domain);
  if (!CFPreferencesAppSynchronize(domain)) return 3;
  CFRelease(v);
  CFRelease(domain);
  return 0;
}

const bool kRanAsChild = [] {
  if (getenv("SKYLOOM_PREFS_TEST_CHILD") != nullptr) _exit(RunChild());
  return false;
}();

TEST_F(Preferences, ADomainWrittenByAnotherProcessIsReadBack) {
  CF mine(Str("parent"));
  Set("fromParent", mine.obj);
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  // Changed here but not yet written when the child writes.
  Set("shared", mine.obj);
  Set("pending", mine.obj);

  std::vector<std::string> env = {"SKYLOOM_PREFS_TEST_CHILD=1", "SKYLOOM_PREFS_TEST_CONFIG=" + config_};
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string self = "preferences_test_child";
  char* argv[] = {self.data(), nullptr};
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data()), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed in the child";

  // Not seen before this process synchronizes, then merged: the child's keys
  // arrive, and this process's own pending change wins over the child's.
  EXPECT_EQ(CopyText("fromChild"), "<none>");
  ASSERT_TRUE(CFPreferencesAppSynchronize(domain_));
  EXPECT_EQ(CopyText("fromChild"), "written by the child");
  EXPECT_EQ(CopyText("shared"), "parent");
  EXPECT_EQ(CopyText("pending"), "parent");
  SkyloomPreferencesForgetAll();
  EXPECT_EQ(CopyText("fromChild"), "written by the child");
  EXPECT_EQ(CopyText("shared"), "parent");
  EXPECT_EQ(CopyText("fromParent"), "parent");
}

}  // namespace
