// Mach stand-in: host information, time base, time-constraint thread policy
// and page size, answered from Linux.
#pragma once
#include <pthread.h>

#include <functional>

#include "platform/coreservices/MacTypes.h"

typedef int kern_return_t;
typedef unsigned int mach_port_t;
typedef mach_port_t host_t;
typedef mach_port_t thread_act_t;
typedef int host_flavor_t;
typedef int* host_info_t;
typedef unsigned int mach_msg_type_number_t;
typedef int cpu_type_t;
typedef int cpu_subtype_t;
typedef int cpu_threadtype_t;
typedef unsigned int thread_policy_flavor_t;
typedef int* thread_policy_t;
typedef uintptr_t vm_size_t;
typedef uintptr_t vm_address_t;

enum : kern_return_t {
  KERN_SUCCESS = 0,
  KERN_INVALID_ADDRESS = 1,
  KERN_INVALID_ARGUMENT = 4,
  KERN_FAILURE = 5,
  KERN_RESOURCE_SHORTAGE = 6,
};

constexpr host_flavor_t HOST_BASIC_INFO = 1;
constexpr mach_msg_type_number_t HOST_BASIC_INFO_COUNT = 12;
constexpr cpu_type_t CPU_ARCH_ABI64 = 0x01000000;
constexpr cpu_type_t CPU_TYPE_X86 = 7;
constexpr cpu_type_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
constexpr cpu_type_t CPU_TYPE_ARM = 12;
constexpr cpu_type_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
constexpr cpu_type_t CPU_TYPE_POWERPC = 18;
constexpr cpu_subtype_t CPU_SUBTYPE_POWERPC_970 = 100;

// Twelve 32-bit words, as host_info fills them for HOST_BASIC_INFO.
struct host_basic_info {
  int max_cpus;
  int avail_cpus;
  unsigned int memory_size;
  cpu_type_t cpu_type;
  cpu_subtype_t cpu_subtype;
  cpu_threadtype_t cpu_threadtype;
  int physical_cpu;
  int physical_cpu_max;
  int logical_cpu;
  int logical_cpu_max;
  UInt64 max_mem;
};
static_assert(sizeof(host_basic_info) == 48, "host_basic_info is twelve words");
typedef host_basic_info host_basic_info_data_t;

host_t mach_host_self();
kern_return_t host_info(host_t host, host_flavor_t flavor, host_info_t info,
                        mach_msg_type_number_t* count);
// Tests script host_info and count its calls.
void SkyloomSetHostInfoResponder(
    std::function<kern_return_t(host_flavor_t, host_info_t, mach_msg_type_number_t*)> responder);
long SkyloomHostInfoCallCount();

struct mach_timebase_info_data_t {
  UInt32 numer;
  UInt32 denom;
};
typedef mach_timebase_info_data_t* mach_timebase_info_t;
kern_return_t mach_timebase_info(mach_timebase_info_t info);
UInt64 mach_absolute_time();  // nanoseconds on this host (numer = denom = 1)

// Time-constraint policy: best effort real-time scheduling (round robin) of
// the named thread when the caller may give it; refused permission is
// silently ignored. A thread is named by mach_thread_self on itself or
// pthread_mach_thread_np from any thread (the same number); the thread must
// still be running when its policy is set.
constexpr thread_policy_flavor_t THREAD_STANDARD_POLICY = 1;
constexpr thread_policy_flavor_t THREAD_TIME_CONSTRAINT_POLICY = 2;
constexpr mach_msg_type_number_t THREAD_TIME_CONSTRAINT_POLICY_COUNT = 4;
struct thread_time_constraint_policy {
  UInt32 period;
  UInt32 computation;
  UInt32 constraint;
  Boolean preemptible;
};
typedef thread_time_constraint_policy thread_time_constraint_policy_data_t;

thread_act_t mach_thread_self();
thread_act_t pthread_mach_thread_np(pthread_t thread);
kern_return_t thread_policy_set(thread_act_t thread, thread_policy_flavor_t flavor,
                                thread_policy_t policy_info, mach_msg_type_number_t count);
// What the last successful thread_policy_set asked for (tests read it back).
struct SkyloomThreadPolicyRecord {
  thread_act_t thread;
  thread_time_constraint_policy_data_t policy;
  long calls;
};
SkyloomThreadPolicyRecord SkyloomLastThreadPolicy();
// Asks a time-constraint policy for the calling thread, preemptible, with its
// period, computation and constraint in milliseconds. Refused, the thread runs
// on as it was.
void SkyloomRequestTimeConstraintMs(double periodMs, double computationMs, double constraintMs);

vm_size_t SkyloomPageSize();
#define vm_page_size (SkyloomPageSize())
