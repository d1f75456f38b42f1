// What the batch commands' tests share: random 48-bit pictures written as
// TIFF inputs, a folder with "in" and "out", the real nib and strings, and
// pumping the main loop until the job has finished on it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image_windows/BatchProcessing.h"
#include "media/RGB48Files.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/UIModel.h"
#include "tests/support/TestFiles.h"
#include "tests/support/ThreadCount.h"
#include "tests/support/UiFixture.h"

namespace skyloom::test {

struct Picture {
  UInt32 width, height;
  std::vector<UInt16> rgb;
};

inline Picture RandomPicture(UInt32 w, UInt32 h, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> d(0, 65535);
  Picture p{w, h, std::vector<UInt16>(size_t(w) * h * 3)};
  for (UInt16& v : p.rgb) v = UInt16(d(gen));
  return p;
}

inline FSRef RefOf(const std::string& path) {
  FSRef ref{};
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr) << path;
  return ref;
}

class BatchFolderTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    root_ = std::filesystem::canonical(dir_).string();
    in_ = root_ + "/in";
    out_ = root_ + "/out";
    std::filesystem::create_directory(in_);
    std::filesystem::create_directory(out_);
  }
  std::string WriteInput(const std::string& name, const Picture& p) {
    const std::string path = in_ + "/" + name;
    WriteFile(path, {});
    EXPECT_EQ(myRGB48ToFileFSRef(RefOf(path), FOUR_CHAR_CODE("TIFF"), p.rgb.data(), p.width, p.height, 1), noErr);
    return path;
  }
  // Pumps the main loop until the job has finished on it (hang guard 60 s).
  void WaitUntilFinished() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (myBatchJobRunning() && std::chrono::steady_clock::now() < until) RunCurrentEventLoop(0.005);
    ASSERT_FALSE(myBatchJobRunning()) << "the job did not finish";
  }
  static bool CommandEnabled(MenuCommand command) {
    MenuRef m = nullptr;
    MenuItemIndex i = 0;
    return GetIndMenuItemWithCommandID(nullptr, command, 1, &m, &i) == noErr && IsMenuItemEnabled(m, i);
  }
  // The start handshake against a worker that fails at once: one start with
  // the starter held 50 ms (the job record must outlive its last touch), then
  // 1000 quick cycles; afterwards no thread and no window is left.
  // startAndFail(window) claims, starts and waits for one job.
  template <typename StartAndFail>
  void RunStartAndFailCycles(StartAndFail startAndFail, std::atomic<int>& starterPauseMs) {
    // Some runtimes (the thread sanitizer's) start a helper thread of their
    // own with the process's first thread: let that happen before counting.
    std::thread([] {}).join();
    const int threads = ProcessThreadCount();
    starterPauseMs = 50;
    startAndFail(true);
    if (HasFatalFailure()) return;
    EXPECT_EQ(skyloom::ui::FindWindow("BatchProcessing"), nullptr);
    starterPauseMs = 0;
    for (int i = 0; i < 1000; ++i) {
      startAndFail(i % 100 == 0);
      if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(WaitForThreadCount(threads));
    EXPECT_TRUE(skyloom::ui::Windows().empty());
  }
  std::string root_, in_, out_;
};

}  // namespace skyloom::test
