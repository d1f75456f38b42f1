#include "platform/corefoundation/CFDate.h"

#include <time.h>

#include <mutex>

namespace {
std::mutex gClockLock;
std::function<CFAbsoluteTime()> gClockSource;
}  // namespace

void SkyloomSetAbsoluteTimeSource(std::function<CFAbsoluteTime()> source) {
  std::lock_guard<std::mutex> lock(gClockLock);
  gClockSource = std::move(source);
}

CFAbsoluteTime CFAbsoluteTimeGetCurrent() {
  {
    std::lock_guard<std::mutex> lock(gClockLock);
    if (gClockSource) return gClockSource();
  }
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double(ts.tv_sec) - kCFAbsoluteTimeIntervalSince1970) + double(ts.tv_nsec) * 1e-9;
}
