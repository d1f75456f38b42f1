// Small helpers the file-writing tests share: a temporary folder that goes
// away with the test, whole-file reads, and running the outside tools
// (ffprobe, tiffinfo, fitsverify, ImageMagick...) that check what we write.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace skyloom::test {

// The fields of s between the separators (an empty text gives one empty field).
inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

// stdout of a shell command (binary output stays clean of messages).
inline std::string RunStdout(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// stdout and stderr of a shell command; its exit status when asked for.
inline std::string Run(const std::string& command, int* status = nullptr) {
  std::string out;
  if (status) *status = -1;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int s = pclose(p);
  if (status) *status = s;
  return out;
}

// The outside checkers are part of the test setup (scripts/deps installs
// them all), so a missing one is a failure, never a reason to pass a file
// unchecked: ASSERT_TRUE(ToolInstalled("tiffinfo")) before using it.
inline ::testing::AssertionResult ToolInstalled(const std::string& tool) {
  if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << tool << " is not installed (scripts/deps installs it)";
}

// The same for a module of Debian's own python3 (the first python3 on PATH
// may be another one without the distribution's modules).
inline ::testing::AssertionResult PythonModuleInstalled(const std::string& module) {
  if (std::system(("/usr/bin/python3 -c 'import " + module + "' >/dev/null 2>&1").c_str()) == 0)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the python3 module " << module
                                       << " is not installed for /usr/bin/python3 (scripts/deps installs it)";
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path.string();
}

// A fresh folder under /tmp, removed (with everything in it) at the end.
struct TempDir {
  std::filesystem::path path;
  explicit TempDir(const std::string& prefix = "skyloom-test") {
    std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
    if (char* made = mkdtemp(tmpl.data())) path = made;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path / name; }
};

}  // namespace skyloom::test
