// The framework as the application loads it: libtav.so exports exactly its
// seven interface functions (the pixel routines built in, the pause points
// and every helper stay local) and needs nothing beyond the C and C++
// runtimes (and a sanitizer's runtime in those builds). Checked with nm and
// readelf, which must be installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string kLibrary = std::string(SKYLOOM_BINARY_DIR) + "/tav/libtav.so";

// Runs a command; returns its standard output and fails the test on a bad exit.
std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

TEST(FrameworkLibrary, ExportsExactlyTheSevenFunctions) {
  ASSERT_TRUE(std::filesystem::exists(kLibrary)) << kLibrary;
  std::istringstream lines(run("nm -DC --defined-only " + kLibrary));
  std::set<std::string> functions, others;
  std::string line;
  while (std::getline(lines, line)) {
    // "<address> <type> <name>"
    const size_t a = line.find(' ');
    if (a == std::string::npos || a + 3 > line.size()) continue;
    const char type = line[a + 1];
    const std::string name = line.substr(a + 3);
    if (type == 'T' || type == 't' || type == 'W' || type == 'i')
      functions.insert(name.substr(0, name.find('(')));
    else
      others.insert(name);
  }
  const std::set<std::string> expected = {
      "mySetUpAlignThreadObject", "myDisposeAlignThreadObject", "myDoARGB32HotPixel8Bit",
      "myLevelARGB32",            "myCalcMono8MedianVal",       "myGetFrequencyMono8",
      "myDoRGB48HotPixel16Bit"};
  EXPECT_EQ(functions, expected);
  for (const std::string& o : others)  // no data, no pause point, no helper
    ADD_FAILURE() << "also exported: " << o;
}

TEST(FrameworkLibrary, NeedsOnlyTheRuntimes) {
  std::istringstream lines(run("readelf -d " + kLibrary));
  const std::set<std::string> allowed = {"libc.so.6",    "libm.so.6",     "libstdc++.so.6",
                                         "libgcc_s.so.1", "libasan.so.8", "libubsan.so.1",
                                         "libtsan.so.2", "ld-linux-x86-64.so.2",
                                         "ld-linux-aarch64.so.1"};
  std::string line;
  int needed = 0;
  while (std::getline(lines, line)) {
    if (line.find("(NEEDED)") == std::string::npos) continue;
    ++needed;
    const size_t open = line.find('['), close = line.find(']');
    ASSERT_NE(open, std::string::npos) << line;
    const std::string name = line.substr(open + 1, close - open - 1);
    EXPECT_TRUE(allowed.count(name)) << "libtav.so needs " << name;
  }
  EXPECT_GT(needed, 0);
}

}  // namespace
