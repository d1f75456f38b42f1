#include "media/MediaMemory.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<UInt32> gFailuresPending{0};
}

void* myMediaAlloc(size_t bytes) {
  UInt32 pending = gFailuresPending.load(std::memory_order_relaxed);
  while (pending != 0) {
    if (gFailuresPending.compare_exchange_weak(pending, pending - 1, std::memory_order_relaxed)) return nullptr;
  }
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void myMediaFree(void* p) { std::free(p); }

void SkyloomFailMediaAllocations(UInt32 count) { gFailuresPending.store(count, std::memory_order_relaxed); }
