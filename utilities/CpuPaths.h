// Which instruction-set path the hot kernels take. Each kernel keeps one plain
// entry point; inside it a wider path runs when the host has the unit, chosen
// once at start-up. Every path gives the plain path's result bit for bit.
#pragma once
#include <atomic>

#include "platform/coreservices/MacTypes.h"

enum MyCpuPath : UInt32 {
  kMyCpuPathPlain = 0,   // portable C++ only
  kMyCpuPathSSE2 = 1,    // the x86-64 baseline
  kMyCpuPathAVX2 = 2,
  kMyCpuPathAVX512 = 3,  // AVX-512 F and BW
};

// The widest path this host runs, found on the first call.
inline MyCpuPath myHostCpuPath() {
  static const MyCpuPath path = [] {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) return kMyCpuPathAVX512;
    if (__builtin_cpu_supports("avx2")) return kMyCpuPathAVX2;
    if (__builtin_cpu_supports("sse2")) return kMyCpuPathSSE2;
#endif
    return kMyCpuPathPlain;
  }();
  return path;
}

inline std::atomic<UInt32>& myCpuPathLimitStore() {
  static std::atomic<UInt32> limit{kMyCpuPathAVX512};
  return limit;
}

// The path the kernels take now: the host's, or narrower under the test hook.
inline MyCpuPath myCpuPath() {
  const UInt32 limit = myCpuPathLimitStore().load(std::memory_order_relaxed);
  const MyCpuPath host = myHostCpuPath();
  return UInt32(host) < limit ? host : MyCpuPath(limit);
}

// Test hook: the widest path the kernels may take (kMyCpuPathAVX512 = no limit).
inline void mySetCpuPathLimit(MyCpuPath limit) {
  myCpuPathLimitStore().store(limit, std::memory_order_relaxed);
}
