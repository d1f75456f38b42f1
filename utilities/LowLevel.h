// Leaf helpers of the image code: the small-copy routine, integer clamps, the
// alignment test, the data-stream prefetch word and vector-unit detection.
#pragma once
#include <cstring>

#include "platform/coreservices/MacTypes.h"

namespace skyloom_detail {
// Counts of 64 bytes or less are copied inline as 8-byte units then single
// bytes; fixed-size memcpy keeps unaligned access well defined.
inline void inlineSmallCopy(unsigned char* d, const unsigned char* s, UInt32 count) {
  UInt32 units = count >> 3;
  for (UInt32 i = 0; i < units; ++i) {
    UInt32 w0, w1;
    std::memcpy(&w0, s, 4);
    std::memcpy(&w1, s + 4, 4);
    std::memcpy(d, &w0, 4);
    std::memcpy(d + 4, &w1, 4);
    d += 8;
    s += 8;
  }
  for (UInt32 i = 0; i < (count & 7u); ++i) d[i] = s[i];
}
}  // namespace skyloom_detail

// The copy routine of all image code. The areas must not overlap. Inline for
// the many per-row call sites; LowLevel.cpp also emits an out-of-line copy.
inline void myMemCpy(void* dst, const void* src, UInt32 count) {
  if (count > 64) {
    std::memcpy(dst, src, count);
    return;
  }
  skyloom_detail::inlineSmallCopy(static_cast<unsigned char*>(dst),
                                  static_cast<const unsigned char*>(src), count);
}

SInt32 myAbsU32(SInt32 value);
SInt32 myTruncateU16(SInt32 value);
UInt8 myIsBuffer16ByteAligned(const void* p);
UInt32 mySkyloomPrefetch(UInt32 blockSize, SInt32 blockCount, UInt32 blockStride);
OSStatus mySkyloomCheckForSIMD(UInt8* hasVector, UInt8* isG5);
