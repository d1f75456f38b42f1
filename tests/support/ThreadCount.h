// Counting this process's threads, for the checks that a camera opened and
// closed (or a worker started and stopped) left no thread behind.
#pragma once
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

// Threads of this process now.
inline int ProcessThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// Waits (hang guard 10 s) until the thread count is back to `baseline`.
inline bool WaitForThreadCount(int baseline) {
  for (int i = 0; i < 10000; i++) {
    if (ProcessThreadCount() <= baseline) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
