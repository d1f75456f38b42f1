#include "platform/coreservices/UnicodeText.h"

namespace {
bool isHighSurrogate(UInt32 u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(UInt32 u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

int SkyloomEncodeUTF8(char32_t cp, UInt8 out[4]) {
  if (cp < 0x80) {
    out[0] = UInt8(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = UInt8(0xC0 | (cp >> 6));
    out[1] = UInt8(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = UInt8(0xE0 | (cp >> 12));
    out[1] = UInt8(0x80 | ((cp >> 6) & 0x3F));
    out[2] = UInt8(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = UInt8(0xF0 | (cp >> 18));
  out[1] = UInt8(0x80 | ((cp >> 12) & 0x3F));
  out[2] = UInt8(0x80 | ((cp >> 6) & 0x3F));
  out[3] = UInt8(0x80 | (cp & 0x3F));
  return 4;
}

void SkyloomAppendUTF8(std::string& out, char32_t cp) {
  UInt8 bytes[4];
  const int n = SkyloomEncodeUTF8(cp, bytes);
  out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}

int SkyloomEncodeUTF16(char32_t cp, char16_t out[2]) {
  if (cp < 0x10000) {
    out[0] = char16_t(cp);
    return 1;
  }
  cp -= 0x10000;
  out[0] = char16_t(0xD800 + (cp >> 10));
  out[1] = char16_t(0xDC00 + (cp & 0x3FF));
  return 2;
}

void SkyloomAppendUTF16(std::u16string& out, char32_t cp) {
  char16_t units[2];
  out.append(units, size_t(SkyloomEncodeUTF16(cp, units)));
}

size_t SkyloomDecodeUTF8(const UInt8* b, size_t n, char32_t* codePoint) {
  if (n == 0) return 0;
  const UInt8 c = b[0];
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  }
  int extra;
  char32_t cp, min;
  if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (n <= size_t(extra)) return 0;
  for (int k = 1; k <= extra; ++k) {
    const UInt8 t = b[k];
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return size_t(extra) + 1;
}

size_t SkyloomDecodeUTF16(UInt32 first, UInt32 second, char32_t* codePoint) {
  if (isHighSurrogate(first)) {
    if (!isLowSurrogate(second)) return 0;
    *codePoint = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
    return 2;
  }
  if (isLowSurrogate(first)) return 0;
  *codePoint = first;
  return 1;
}
