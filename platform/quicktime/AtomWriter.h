// Building QuickTime atoms: big-endian values appended to a byte vector, and
// atoms whose size is patched in when they close. The recorder's movie atom
// and the movie toolbox's write-back both build with it.
#pragma once
#include <cstring>
#include <vector>

#include "platform/coreservices/MacTypes.h"

struct QTAtomWriter {
  std::vector<UInt8> b;

  void u8(UInt32 v) { b.push_back(UInt8(v)); }
  void u16(UInt32 v) {
    u8(v >> 8);
    u8(v);
  }
  void u32(UInt32 v) {
    u16(v >> 16);
    u16(v);
  }
  void u64(UInt64 v) {
    u32(UInt32(v >> 32));
    u32(UInt32(v));
  }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
  void bytes(const std::vector<UInt8>& v) { b.insert(b.end(), v.begin(), v.end()); }
  void bytes(const UInt8* p, size_t n) { b.insert(b.end(), p, p + n); }
  // A Pascal string, then pad zero bytes.
  void pascal(const char* s, size_t pad = 0) {
    const size_t n = std::strlen(s);
    u8(UInt32(n));
    b.insert(b.end(), s, s + n);
    zeros(pad);
  }
  // An atom header of a known size.
  void header(UInt32 size, OSType type) {
    u32(size);
    u32(type);
  }
  void header(UInt32 size, const char (&type)[5]) { header(size, FOUR_CHAR_CODE(type)); }
  // Opens an atom whose size close() fills in.
  size_t open(OSType type) {
    const size_t at = b.size();
    header(0, type);
    return at;
  }
  void close(size_t at) {
    const UInt32 n = UInt32(b.size() - at);
    b[at] = UInt8(n >> 24);
    b[at + 1] = UInt8(n >> 16);
    b[at + 2] = UInt8(n >> 8);
    b[at + 3] = UInt8(n);
  }
  // A 3 x 3 transformation matrix, row by row (the identity when null).
  void matrix(const Fixed (*m)[3] = nullptr) {
    static const Fixed kIdentity[3][3] = {{0x00010000, 0, 0}, {0, 0x00010000, 0}, {0, 0, 0x40000000}};
    if (!m) m = kIdentity;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) u32(UInt32(m[r][c]));
  }
};
