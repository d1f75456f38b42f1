// The stacking engine's side of the align workers: one record a worker,
// allocated and filled from the run's settings, then handed to the framework.
#pragma once
#include <cstddef>

#include "platform/coreservices/MacTypes.h"
#include "stacking/ReaderRecord.h"
#include "stacking/StackAlignJob.h"
#include "tav/AlignThreadObject.h"

// A record for frames of width x height, its four frame buffers and the
// reference block buffers its PIXELALIGN needs, with the worker started; null
// on failure (a failed block buffer is reported in a stop alert). monoFlag 1
// aligns on green; argb32Flag 1 for the 8-bit engine, 0 for the 16-bit one.
AlignThreadObject* myAllocateAndFillInMPThread(const StackAlignJob* job, const MAMF* reader,
                                               UInt32 width, UInt32 height, UInt8 monoFlag,
                                               UInt8 rawBayerFlag, UInt8 quality, UInt8 argb32Flag,
                                               UInt8 altivecFlag, UInt8 prefetchFlag);

// (30 / sharpen) x tolerance as the unsharp mask's threshold: 0 when sharpen
// is not above 0, saturated at the top of the range.
UInt32 myAlignSharpenThreshold(double sharpen, double matchTolerance);

// Test only: the allocator of the record's buffers (malloc when null), so a
// test can make one allocation fail. Whatever it returns goes to free().
void myStackingSetBufferAllocator(void* (*allocate)(size_t bytes));
