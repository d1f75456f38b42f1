// Byte buffers.
#pragma once
#include "platform/corefoundation/CFBase.h"

CFTypeID CFDataGetTypeID();
CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
CFDataRef CFDataCreateCopy(CFAllocatorRef allocator, CFDataRef theData);
// capacity 0: unlimited; otherwise growth beyond it is refused.
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef allocator, CFIndex capacity);
CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity, CFDataRef theData);
CFIndex CFDataGetLength(CFDataRef theData);
// Valid until the data is changed or freed.
const UInt8* CFDataGetBytePtr(CFDataRef theData);
UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData);
// Copies a range; nothing when the range lies outside the data.
void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer);
// New bytes from SetLength and IncreaseLength are zero.
void CFDataSetLength(CFMutableDataRef theData, CFIndex length);
void CFDataIncreaseLength(CFMutableDataRef theData, CFIndex extraLength);
void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length);
void CFDataReplaceBytes(CFMutableDataRef theData, CFRange range, const UInt8* newBytes, CFIndex newLength);
void CFDataDeleteBytes(CFMutableDataRef theData, CFRange range);
