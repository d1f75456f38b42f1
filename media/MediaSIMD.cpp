#include "media/MediaSIMD.h"

#include <atomic>

namespace {
std::atomic<bool> gSIMDEnabled{true};
}

void myMediaSetSIMDEnabled(Boolean enabled) { gSIMDEnabled.store(enabled != 0, std::memory_order_relaxed); }

Boolean myMediaSIMDEnabled() { return gSIMDEnabled.load(std::memory_order_relaxed) ? 1 : 0; }
