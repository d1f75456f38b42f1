// The switch between the SSE2 paths of the frame-conversion and demosaic
// kernels and their plain loops. Both give the same bytes; the switch exists
// so tests and benchmarks can run the plain loops on a host that has SSE2.
#pragma once
#include "platform/coreservices/MacTypes.h"

// 1 (the default) lets a kernel use its SSE2 path where the build has one;
// 0 forces the plain loops. Not meant to be flipped while kernels run.
void myMediaSetSIMDEnabled(Boolean enabled);
Boolean myMediaSIMDEnabled();
