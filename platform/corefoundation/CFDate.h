// Absolute time: seconds since 2001-01-01 00:00:00 UTC, as a double.
#pragma once
#include <functional>

#include "platform/corefoundation/CFBase.h"

constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
constexpr CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;

CFAbsoluteTime CFAbsoluteTimeGetCurrent();
// Tests inject the clock; an empty function restores the system clock.
// Run-loop timers follow this clock.
void SkyloomSetAbsoluteTimeSource(std::function<CFAbsoluteTime()> source);
