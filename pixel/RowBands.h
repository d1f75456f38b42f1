// Splitting a pass over an image into bands of rows run on several threads.
// The image routines of the windows run on whole multi-megapixel images at
// every slider move; a pass over such an image is cut into one band a core.
// Small passes stay on the calling thread, where a thread start would cost
// more than it saves. Every band writes only its own rows.
#pragma once
#include <functional>

#include "platform/coreservices/MacTypes.h"

// Calls band(begin, end) for consecutive ranges that cover [0, rows) exactly
// once, possibly on several threads at the same time, and returns when all
// have finished. workPerRow is a rough cost of one row (samples x operations).
void myRunRowBands(UInt32 rows, UInt64 workPerRow,
                   const std::function<void(UInt32 begin, UInt32 end)>& band);

// Test hook: the most threads a pass may use (0 = one a core, the default).
void mySetRowBandThreadLimit(UInt32 limit);
