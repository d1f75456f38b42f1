#include "media/MediaMemory.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<UInt32> gFailCountdown{0};
}

void* myMediaAlloc(size_t bytes) {
  UInt32 n = gFailCountdown.load(std::memory_order_relaxed);
  while (n != 0) {
    if (gFailCountdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
      if (n == 1) return nullptr;
      break;
    }
  }
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void myMediaFree(void* p) { std::free(p); }

void SkyloomFailMediaAllocation(UInt32 nth) { gFailCountdown.store(nth, std::memory_order_relaxed); }
