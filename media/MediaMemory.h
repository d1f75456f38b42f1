// Temporary buffers of the frame converters and single-frame saving.
//
// Every such buffer comes from myMediaAlloc so that tests can make the next
// allocations fail and check the -108 paths (and, under ASan/LSan, that the
// other temporaries of a failing call are released).
#pragma once
#include <cstddef>

#include "platform/coreservices/MacTypes.h"

// malloc, or null when an injected failure is pending or malloc fails.
void* myMediaAlloc(size_t bytes);
void myMediaFree(void* p);

// Test hook: the nth call of myMediaAlloc from now (1 = the next, on any
// thread) returns null; the others succeed. 0 cancels.
void SkyloomFailMediaAllocation(UInt32 nth);
