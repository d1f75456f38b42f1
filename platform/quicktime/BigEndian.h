// Big-endian values in byte buffers: movie files, sample descriptions and
// sample data keep this order on disk, whatever the host's.
#pragma once
#include "platform/coreservices/MacTypes.h"

namespace qt {
inline UInt16 be16(const UInt8* p) { return UInt16((p[0] << 8) | p[1]); }
inline UInt32 be32(const UInt8* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}
inline UInt64 be64(const UInt8* p) { return (UInt64(be32(p)) << 32) | be32(p + 4); }
inline void putBE16(UInt8* p, UInt16 v) {
  p[0] = UInt8(v >> 8);
  p[1] = UInt8(v);
}
inline void putBE32(UInt8* p, UInt32 v) {
  p[0] = UInt8(v >> 24);
  p[1] = UInt8(v >> 16);
  p[2] = UInt8(v >> 8);
  p[3] = UInt8(v);
}
inline void putBE64(UInt8* p, UInt64 v) {
  putBE32(p, UInt32(v >> 32));
  putBE32(p + 4, UInt32(v));
}
}  // namespace qt
