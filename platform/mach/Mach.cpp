#include "platform/mach/Mach.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {
std::mutex gLock;
std::function<kern_return_t(host_flavor_t, host_info_t, mach_msg_type_number_t*)> gResponder;
std::atomic<long> gHostInfoCalls{0};
SkyloomThreadPolicyRecord gLastPolicy{};
}  // namespace

host_t mach_host_self() { return 1; }

void SkyloomSetHostInfoResponder(
    std::function<kern_return_t(host_flavor_t, host_info_t, mach_msg_type_number_t*)> responder) {
  std::lock_guard<std::mutex> lock(gLock);
  gResponder = std::move(responder);
}

long SkyloomHostInfoCallCount() { return gHostInfoCalls.load(); }

kern_return_t host_info(host_t host, host_flavor_t flavor, host_info_t info,
                        mach_msg_type_number_t* count) {
  ++gHostInfoCalls;
  {
    std::function<kern_return_t(host_flavor_t, host_info_t, mach_msg_type_number_t*)> r;
    {
      std::lock_guard<std::mutex> lock(gLock);
      r = gResponder;
    }
    if (r) return r(flavor, info, count);
  }
  if (host != 1 || !info || !count) return KERN_INVALID_ARGUMENT;
  if (flavor != HOST_BASIC_INFO || *count < HOST_BASIC_INFO_COUNT) return KERN_FAILURE;
  host_basic_info b{};
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  b.max_cpus = b.avail_cpus = b.physical_cpu = b.physical_cpu_max = b.logical_cpu =
      b.logical_cpu_max = int(n > 0 ? n : 1);
  long pages = sysconf(_SC_PHYS_PAGES), psize = sysconf(_SC_PAGESIZE);
  UInt64 mem = (pages > 0 && psize > 0) ? UInt64(pages) * UInt64(psize) : 0;
  b.memory_size = mem > 0x80000000ull ? 0x80000000u : unsigned(mem);
  b.max_mem = mem;
#if defined(__aarch64__)
  b.cpu_type = CPU_TYPE_ARM64;
#else
  b.cpu_type = CPU_TYPE_X86_64;
#endif
  b.cpu_subtype = 3;
  std::memcpy(info, &b, sizeof b);
  *count = HOST_BASIC_INFO_COUNT;
  return KERN_SUCCESS;
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
  if (!info) return KERN_INVALID_ARGUMENT;
  info->numer = 1;
  info->denom = 1;
  return KERN_SUCCESS;
}

UInt64 mach_absolute_time() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return UInt64(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

// Thread ports: each thread handle that is asked for gets a small number of
// its own, the same from every thread, so a policy set through the number
// reaches the thread it names. A handle that a new thread reuses after the
// old one ended names the new thread, as a port name would.
namespace {
std::mutex gPortLock;
std::unordered_map<thread_act_t, pthread_t> gPortThreads;
std::unordered_map<unsigned long, thread_act_t> gThreadPorts;
thread_act_t gNextPort = 0x103;
}  // namespace

thread_act_t mach_thread_self() { return pthread_mach_thread_np(pthread_self()); }

thread_act_t pthread_mach_thread_np(pthread_t thread) {
  static_assert(sizeof(pthread_t) <= sizeof(unsigned long), "thread handles are kept as numbers");
  std::lock_guard<std::mutex> lock(gPortLock);
  auto [it, added] = gThreadPorts.try_emplace((unsigned long)thread, gNextPort);
  if (added) {
    gPortThreads[gNextPort] = thread;
    gNextPort += 0x100;
  }
  return it->second;
}

kern_return_t thread_policy_set(thread_act_t thread, thread_policy_flavor_t flavor,
                                thread_policy_t policy_info, mach_msg_type_number_t count) {
  if (flavor == THREAD_STANDARD_POLICY) return KERN_SUCCESS;
  if (flavor != THREAD_TIME_CONSTRAINT_POLICY || !policy_info ||
      count < THREAD_TIME_CONSTRAINT_POLICY_COUNT)
    return KERN_INVALID_ARGUMENT;
  thread_time_constraint_policy p;
  std::memcpy(&p, policy_info, sizeof p);
  pthread_t target;
  {
    std::lock_guard<std::mutex> lock(gPortLock);
    auto it = gPortThreads.find(thread);
    if (it == gPortThreads.end()) return KERN_INVALID_ARGUMENT;
    target = it->second;
  }
  // Round-robin real-time priority when the caller is allowed to give it;
  // otherwise the thread keeps its normal policy, as an unprivileged user
  // expects, and the call still succeeds.
  sched_param sp{};
  sp.sched_priority = sched_get_priority_min(SCHED_RR);
  (void)pthread_setschedparam(target, SCHED_RR, &sp);
  std::lock_guard<std::mutex> lock(gLock);
  gLastPolicy.thread = thread;
  gLastPolicy.policy = p;
  gLastPolicy.calls++;
  return KERN_SUCCESS;
}

SkyloomThreadPolicyRecord SkyloomLastThreadPolicy() {
  std::lock_guard<std::mutex> lock(gLock);
  return gLastPolicy;
}

vm_size_t SkyloomPageSize() {
  static const vm_size_t size = [] {
    long s = sysconf(_SC_PAGESIZE);
    return vm_size_t(s > 0 ? s : 4096);
  }();
  return size;
}

void SkyloomRequestTimeConstraintMs(double periodMs, double computationMs, double constraintMs) {
  mach_timebase_info_data_t timebase = {0, 0};
  if (mach_timebase_info(&timebase) != KERN_SUCCESS || timebase.numer == 0) return;
  const auto ticks = [&](double ms) {
    return UInt32(ms * 1e6 * double(timebase.denom) / double(timebase.numer));
  };
  thread_time_constraint_policy_data_t policy = {ticks(periodMs), ticks(computationMs),
                                                 ticks(constraintMs), true};
  thread_policy_set(mach_thread_self(), THREAD_TIME_CONSTRAINT_POLICY,
                    reinterpret_cast<thread_policy_t>(&policy), THREAD_TIME_CONSTRAINT_POLICY_COUNT);
}
