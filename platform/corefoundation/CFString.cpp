#include "platform/corefoundation/CFString.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/corefoundation/CFInternal.h"
#include "platform/coreservices/CNumericLocale.h"
#include "platform/coreservices/UnicodeText.h"

namespace {

// The upper half of the Mac OS Roman character set, 0x80..0xFF.
const UniChar kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool decodeUTF8(const UInt8* b, size_t n, std::u16string& out) {
  size_t i = 0;
  while (i < n) {
    char32_t cp;
    const size_t used = SkyloomDecodeUTF8(b + i, n - i, &cp);
    if (used == 0) return false;
    SkyloomAppendUTF16(out, cp);
    i += used;
  }
  return true;
}

bool decodeBytes(const UInt8* b, size_t n, CFStringEncoding enc, bool external, std::u16string& out) {
  switch (enc) {
    case kCFStringEncodingUTF8:
      if (external && n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) { b += 3; n -= 3; }
      return decodeUTF8(b, n, out);
    case kCFStringEncodingASCII:
      for (size_t i = 0; i < n; ++i) {
        if (b[i] >= 0x80) return false;
        out.push_back(b[i]);
      }
      return true;
    case kCFStringEncodingMacRoman:
      for (size_t i = 0; i < n; ++i) out.push_back(b[i] < 0x80 ? char16_t(b[i]) : kMacRomanHigh[b[i] - 0x80]);
      return true;
    case kCFStringEncodingISOLatin1:
      for (size_t i = 0; i < n; ++i) out.push_back(b[i]);
      return true;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE: {
      if (n % 2) return false;
      bool big;
      if (enc == kCFStringEncodingUTF16BE) big = true;
      else if (enc == kCFStringEncodingUTF16LE) big = false;
      else {
        big = true;  // without a byte-order mark, big-endian as the external form says
        if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) { big = false; b += 2; n -= 2; }
        else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) { b += 2; n -= 2; }
        else if (!external) big = (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
      }
      for (size_t i = 0; i + 1 < n; i += 2)
        out.push_back(big ? char16_t((b[i] << 8) | b[i + 1]) : char16_t((b[i + 1] << 8) | b[i]));
      return true;
    }
    default:
      return false;
  }
}

// One UTF-16 unit (or a surrogate pair, for UTF-8) into bytes. Returns the
// units consumed, 0 when the character has no form in the encoding.
int encodeOne(const char16_t* u, size_t avail, CFStringEncoding enc, UInt8* out, int* outLen) {
  char16_t c = u[0];
  switch (enc) {
    case kCFStringEncodingUTF8: {
      char32_t cp;
      const size_t used = SkyloomDecodeUTF16(c, avail >= 2 ? u[1] : 0, &cp);
      if (used == 0) return 0;
      *outLen = SkyloomEncodeUTF8(cp, out);
      return int(used);
    }
    case kCFStringEncodingASCII:
      if (c >= 0x80) return 0;
      out[0] = UInt8(c); *outLen = 1;
      return 1;
    case kCFStringEncodingISOLatin1:
      if (c >= 0x100) return 0;
      out[0] = UInt8(c); *outLen = 1;
      return 1;
    case kCFStringEncodingMacRoman:
      if (c < 0x80) { out[0] = UInt8(c); *outLen = 1; return 1; }
      for (int k = 0; k < 128; ++k)
        if (kMacRomanHigh[k] == c) { out[0] = UInt8(0x80 + k); *outLen = 1; return 1; }
      return 0;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE: {
      bool big = enc == kCFStringEncodingUTF16BE ||
                 (enc == kCFStringEncodingUTF16 && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
      out[big ? 0 : 1] = UInt8(c >> 8);
      out[big ? 1 : 0] = UInt8(c & 0xFF);
      *outLen = 2;
      return 1;
    }
    default:
      return 0;
  }
}

bool encodingKnown(CFStringEncoding enc) {
  switch (enc) {
    case kCFStringEncodingUTF8: case kCFStringEncodingASCII: case kCFStringEncodingMacRoman:
    case kCFStringEncodingISOLatin1: case kCFStringEncodingUTF16: case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
      return true;
    default:
      return false;
  }
}

// Whole string into bytes; false when a character has no form.
bool encodeAll(const std::u16string& s, CFStringEncoding enc, std::string& out) {
  size_t i = 0;
  UInt8 buf[4];
  while (i < s.size()) {
    int len = 0;
    int used = encodeOne(s.data() + i, s.size() - i, enc, buf, &len);
    if (!used) return false;
    out.append(reinterpret_cast<const char*>(buf), size_t(len));
    i += size_t(used);
  }
  return true;
}

SkyloomCFString* newString(std::u16string units, bool isMutable = false, CFIndex maxLength = 0) {
  auto* s = new SkyloomCFString;
  s->units = std::move(units);
  s->isMutable = isMutable;
  s->maxLength = maxLength;
  return s;
}

bool canAppend(CFMutableStringRef s, size_t extra) {
  return s && s->isMutable && (s->maxLength <= 0 || s->units.size() + extra <= size_t(s->maxLength));
}

// Simple case folding for the scripts the application's text uses: Latin,
// Greek and Cyrillic. Other characters compare as they are.
char16_t foldCase(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  if (c >= 0x100 && c <= 0x137) return char16_t(c | 1);
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? char16_t(c + 1) : c;
  if (c >= 0x14A && c <= 0x177) return char16_t(c | 1);
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? char16_t(c + 1) : c;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return char16_t(c + 32);
  if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
  if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
  return c;
}

bool isDigit(char16_t c) { return c >= '0' && c <= '9'; }

CFComparisonResult compareUnits(const char16_t* a, size_t na, const char16_t* b, size_t nb, CFOptionFlags options) {
  const bool fold = options & kCFCompareCaseInsensitive;
  const bool numeric = options & kCFCompareNumerically;
  size_t i = 0, j = 0;
  while (i < na && j < nb) {
    if (numeric && isDigit(a[i]) && isDigit(b[j])) {
      // Compare the digit runs by value: skip leading zeros, then the longer
      // run is larger, then the first differing digit decides.
      size_t ia = i, jb = j;
      while (ia < na && a[ia] == '0') ++ia;
      while (jb < nb && b[jb] == '0') ++jb;
      size_t ea = ia, eb = jb;
      while (ea < na && isDigit(a[ea])) ++ea;
      while (eb < nb && isDigit(b[eb])) ++eb;
      if (ea - ia != eb - jb) return (ea - ia) < (eb - jb) ? kCFCompareLessThan : kCFCompareGreaterThan;
      for (size_t k = 0; k < ea - ia; ++k)
        if (a[ia + k] != b[jb + k]) return a[ia + k] < b[jb + k] ? kCFCompareLessThan : kCFCompareGreaterThan;
      i = ea;
      j = eb;
      continue;
    }
    char16_t x = fold ? foldCase(a[i]) : a[i];
    char16_t y = fold ? foldCase(b[j]) : b[j];
    if (x != y) return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
    ++i;
    ++j;
  }
  if (i < na) return kCFCompareGreaterThan;
  if (j < nb) return kCFCompareLessThan;
  return kCFCompareEqualTo;
}

// ---- printf-style formatting ----
enum class ArgKind { None, Int, Long, LongLong, SizeT, PtrDiff, IntMax, Double, LongDouble, CString, UniString, Pointer, Object };

struct Arg {
  ArgKind kind = ArgKind::None;
  long long i = 0;
  double d = 0;
  long double ld = 0;
  const void* p = nullptr;
};

struct Conversion {
  std::string literalBefore;
  std::string flags;
  int width = -1;          // -1: none
  int widthArg = -1;       // argument index for '*'
  int precision = -1;      // -1: none
  int precisionArg = -1;
  std::string length;
  char conversion = 0;
  int argIndex = -1;
};

ArgKind kindFor(const std::string& len, char conv) {
  switch (conv) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X': case 'D': case 'O': case 'U':
      if (len == "l") return ArgKind::Long;
      if (len == "ll" || len == "q") return ArgKind::LongLong;
      if (len == "z") return ArgKind::SizeT;
      if (len == "t") return ArgKind::PtrDiff;
      if (len == "j") return ArgKind::IntMax;
      if (conv == 'D' || conv == 'O' || conv == 'U') return ArgKind::Long;
      return ArgKind::Int;
    case 'c': case 'C':
      return ArgKind::Int;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
      return len == "L" ? ArgKind::LongDouble : ArgKind::Double;
    case 's': return ArgKind::CString;
    case 'S': return ArgKind::UniString;
    case 'p': case 'n': return ArgKind::Pointer;
    case '@': return ArgKind::Object;
    default: return ArgKind::None;
  }
}

void fetch(Arg& a, va_list& ap) {
  switch (a.kind) {
    case ArgKind::Int: a.i = va_arg(ap, int); break;
    case ArgKind::Long: a.i = va_arg(ap, long); break;
    case ArgKind::LongLong: a.i = va_arg(ap, long long); break;
    case ArgKind::SizeT: a.i = (long long)va_arg(ap, size_t); break;
    case ArgKind::PtrDiff: a.i = va_arg(ap, ptrdiff_t); break;
    case ArgKind::IntMax: a.i = va_arg(ap, intmax_t); break;
    case ArgKind::Double: a.d = va_arg(ap, double); break;
    case ArgKind::LongDouble: a.ld = va_arg(ap, long double); break;
    case ArgKind::CString: case ArgKind::UniString: case ArgKind::Pointer: case ArgKind::Object:
      a.p = va_arg(ap, const void*);
      break;
    case ArgKind::None: va_arg(ap, int); break;
  }
}

int readNumber(const std::string& f, size_t& i) {
  long v = 0;
  while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
    v = std::min<long>(v * 10 + (f[i] - '0'), 100000);
    ++i;
  }
  return int(v);
}

// Reads "n$" after a number; returns n-1 or -1 when absent (i is left alone then).
int readPosition(const std::string& f, size_t& i) {
  size_t k = i;
  if (k < f.size() && f[k] >= '1' && f[k] <= '9') {
    int n = readNumber(f, k);
    if (k < f.size() && f[k] == '$') {
      i = k + 1;
      return n - 1;
    }
  }
  return -1;
}

std::string pad(std::string text, const std::string& flags, int width, int precision) {
  if (precision >= 0 && text.size() > size_t(precision)) text.resize(size_t(precision));
  if (width > 0 && text.size() < size_t(width)) {
    std::string fill(size_t(width) - text.size(), ' ');
    text = flags.find('-') != std::string::npos ? text + fill : fill + text;
  }
  return text;
}

std::string formatText(const std::string& f, va_list ap) {
  std::vector<Conversion> conversions;
  std::string tail;
  int nextArg = 0;
  size_t i = 0;
  std::string literal;
  while (i < f.size()) {
    char c = f[i];
    if (c != '%') { literal.push_back(c); ++i; continue; }
    if (i + 1 < f.size() && f[i + 1] == '%') { literal.push_back('%'); i += 2; continue; }
    size_t start = i++;
    Conversion s;
    int pos = readPosition(f, i);
    while (i < f.size() && strchr("-+ #0'", f[i])) s.flags.push_back(f[i++]);
    if (i < f.size() && f[i] == '*') {
      ++i;
      int p = readPosition(f, i);
      s.widthArg = p >= 0 ? p : nextArg++;
    } else if (i < f.size() && f[i] >= '1' && f[i] <= '9') {
      s.width = readNumber(f, i);
    }
    if (i < f.size() && f[i] == '.') {
      ++i;
      if (i < f.size() && f[i] == '*') {
        ++i;
        int p = readPosition(f, i);
        s.precisionArg = p >= 0 ? p : nextArg++;
      } else {
        s.precision = readNumber(f, i);
      }
    }
    while (i < f.size() && strchr("hlqLzjt", f[i])) s.length.push_back(f[i++]);
    if (i >= f.size() || kindFor(s.length, f[i]) == ArgKind::None) {
      // Not a conversion we know: keep the text as written.
      literal.append(f, start, i - start);
      continue;
    }
    s.conversion = f[i++];
    s.argIndex = pos >= 0 ? pos : nextArg++;
    s.literalBefore = std::move(literal);
    literal.clear();
    conversions.push_back(std::move(s));
  }
  tail = std::move(literal);

  // Arguments are fetched in position order once their kinds are known.
  int argCount = 0;
  for (const Conversion& s : conversions) argCount = std::max({argCount, s.argIndex + 1, s.widthArg + 1, s.precisionArg + 1});
  std::vector<Arg> args(static_cast<size_t>(argCount));
  for (const Conversion& s : conversions) {
    args[size_t(s.argIndex)].kind = kindFor(s.length, s.conversion);
    if (s.widthArg >= 0) args[size_t(s.widthArg)].kind = ArgKind::Int;
    if (s.precisionArg >= 0) args[size_t(s.precisionArg)].kind = ArgKind::Int;
  }
  va_list copy;
  va_copy(copy, ap);
  for (Arg& a : args) fetch(a, copy);
  va_end(copy);

  SkyloomCLocaleScope cLocale;
  std::string out;
  std::vector<char> buf(256);
  for (const Conversion& s : conversions) {
    out += s.literalBefore;
    int width = s.widthArg >= 0 ? int(args[size_t(s.widthArg)].i) : s.width;
    int precision = s.precisionArg >= 0 ? int(args[size_t(s.precisionArg)].i) : s.precision;
    std::string flags = s.flags;
    if (width < 0 && s.widthArg >= 0) { flags.push_back('-'); width = -width; }
    const Arg& a = args[size_t(s.argIndex)];
    switch (s.conversion) {
      case '@': {
        std::string text = a.p ? SkyloomCFDescribe(a.p) : std::string("(null)");
        out += pad(std::move(text), flags, width, precision);
        continue;
      }
      case 'S': {
        std::u16string u;
        if (a.p) for (const UniChar* q = static_cast<const UniChar*>(a.p); *q; ++q) u.push_back(*q);
        SkyloomCFString tmp;
        tmp.units = std::move(u);
        out += pad(tmp.describe(), flags, width, precision);
        continue;
      }
      case 'C': {
        SkyloomCFString tmp;
        tmp.units.push_back(char16_t(a.i));
        out += pad(tmp.describe(), flags, width, -1);
        continue;
      }
      case 'n':
        continue;  // never writes through an argument
      default:
        break;
    }
    std::string format = "%" + flags;
    if (width >= 0) format += std::to_string(width);
    if (precision >= 0) format += "." + std::to_string(precision);
    char conv = s.conversion;
    std::string len = s.length == "q" ? "ll" : s.length;
    if (conv == 'D' || conv == 'O' || conv == 'U') { conv = char(conv + 32); len = "l"; }
    format += len;
    format.push_back(conv);
    for (;;) {
      int n = 0;
      switch (a.kind) {
        case ArgKind::Int:
          if (conv == 'c') n = snprintf(buf.data(), buf.size(), format.c_str(), int(a.i));
          else if (len == "hh") n = snprintf(buf.data(), buf.size(), format.c_str(), int(a.i));
          else n = snprintf(buf.data(), buf.size(), format.c_str(), int(a.i));
          break;
        case ArgKind::Long: n = snprintf(buf.data(), buf.size(), format.c_str(), long(a.i)); break;
        case ArgKind::LongLong: n = snprintf(buf.data(), buf.size(), format.c_str(), a.i); break;
        case ArgKind::SizeT: n = snprintf(buf.data(), buf.size(), format.c_str(), size_t(a.i)); break;
        case ArgKind::PtrDiff: n = snprintf(buf.data(), buf.size(), format.c_str(), ptrdiff_t(a.i)); break;
        case ArgKind::IntMax: n = snprintf(buf.data(), buf.size(), format.c_str(), intmax_t(a.i)); break;
        case ArgKind::Double: n = snprintf(buf.data(), buf.size(), format.c_str(), a.d); break;
        case ArgKind::LongDouble: n = snprintf(buf.data(), buf.size(), format.c_str(), a.ld); break;
        case ArgKind::CString:
          n = snprintf(buf.data(), buf.size(), format.c_str(), a.p ? static_cast<const char*>(a.p) : "(null)");
          break;
        case ArgKind::Pointer: n = snprintf(buf.data(), buf.size(), format.c_str(), a.p); break;
        default: n = 0; break;
      }
      if (n < 0) break;
      if (size_t(n) < buf.size()) { out.append(buf.data(), size_t(n)); break; }
      buf.resize(size_t(n) + 1);
    }
  }
  out += tail;
  return out;
}

std::string formatFromCF(CFStringRef format, va_list ap) {
  return formatText(SkyloomCFStringUTF8(format), ap);
}

std::mutex gConstantsLock;

}  // namespace

// ---- Shared helpers ----
bool SkyloomCFString::equals(const SkyloomCFObject& other) const {
  return units == static_cast<const SkyloomCFString&>(other).units;
}

CFHashCode SkyloomCFString::hash() const { return std::hash<std::u16string>()(units); }

std::string SkyloomCFString::describe() const { return SkyloomCFStringUTF8(this); }

CFStringRef SkyloomCFStringCreateFromUTF8(const std::string& utf8) {
  std::u16string units;
  if (!decodeUTF8(reinterpret_cast<const UInt8*>(utf8.data()), utf8.size(), units)) return nullptr;
  return newString(std::move(units));
}

std::string SkyloomCFStringUTF8(CFStringRef s) {
  std::string out;
  if (!s) return out;
  const std::u16string& u = s->units;
  UInt8 buf[4];
  for (size_t i = 0; i < u.size();) {
    int len = 0;
    int used = encodeOne(u.data() + i, u.size() - i, kCFStringEncodingUTF8, buf, &len);
    if (!used) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    out.append(reinterpret_cast<const char*>(buf), size_t(len));
    i += size_t(used);
  }
  return out;
}

// ---- Public calls ----
CFTypeID CFStringGetTypeID() { return kSkyloomCFTypeString; }

CFStringRef SkyloomCFSTR(const char* utf8) {
  static std::unordered_map<std::string, CFStringRef>* table = new std::unordered_map<std::string, CFStringRef>;
  std::lock_guard<std::mutex> lock(gConstantsLock);
  std::string key(utf8 ? utf8 : "");
  auto it = table->find(key);
  if (it != table->end()) return it->second;
  std::u16string units;
  if (!decodeUTF8(reinterpret_cast<const UInt8*>(key.data()), key.size(), units)) {
    // A literal that is not UTF-8 is read as Mac OS Roman, as old sources were.
    units.clear();
    decodeBytes(reinterpret_cast<const UInt8*>(key.data()), key.size(), kCFStringEncodingMacRoman, false, units);
  }
  SkyloomCFString* s = newString(std::move(units));
  s->makeImmortal();
  table->emplace(std::move(key), s);
  return s;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr, CFStringEncoding encoding) {
  if (!cStr) return nullptr;
  std::u16string units;
  if (!decodeBytes(reinterpret_cast<const UInt8*>(cStr), strlen(cStr), encoding, false, units)) return nullptr;
  return newString(std::move(units));
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean isExternalRepresentation) {
  if (numBytes < 0 || (!bytes && numBytes > 0)) return nullptr;
  std::u16string units;
  if (!decodeBytes(bytes, size_t(numBytes), encoding, isExternalRepresentation, units)) return nullptr;
  return newString(std::move(units));
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
  if (numChars < 0 || (!chars && numChars > 0)) return nullptr;
  std::u16string units;
  if (numChars > 0) units.assign(reinterpret_cast<const char16_t*>(chars), size_t(numChars));
  return newString(std::move(units));
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) {
  if (!theString) return nullptr;
  // An immutable string is its own copy.
  if (!theString->isMutable) return static_cast<CFStringRef>(CFRetain(theString));
  return newString(theString->units);
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef, CFStringRef str, CFRange range) {
  if (!str || range.location < 0 || range.length < 0 ||
      size_t(range.location) + size_t(range.length) > str->units.size())
    return nullptr;
  return newString(str->units.substr(size_t(range.location), size_t(range.length)));
}

CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions, CFStringRef format, ...) {
  va_list ap;
  va_start(ap, format);
  CFStringRef s = CFStringCreateWithFormatAndArguments(alloc, formatOptions, format, ap);
  va_end(ap);
  return s;
}

CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef, CFDictionaryRef, CFStringRef format,
                                                 va_list arguments) {
  if (!format) return nullptr;
  std::string text = formatFromCF(format, arguments);
  std::u16string units;
  if (!decodeUTF8(reinterpret_cast<const UInt8*>(text.data()), text.size(), units)) {
    units.clear();
    decodeBytes(reinterpret_cast<const UInt8*>(text.data()), text.size(), kCFStringEncodingMacRoman, false, units);
  }
  return newString(std::move(units));
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex maxLength) {
  return newString(std::u16string(), true, maxLength < 0 ? 0 : maxLength);
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex maxLength, CFStringRef theString) {
  std::u16string units = theString ? theString->units : std::u16string();
  if (maxLength > 0 && units.size() > size_t(maxLength)) return nullptr;
  return newString(std::move(units), true, maxLength < 0 ? 0 : maxLength);
}

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) {
  if (!appendedString) return;
  std::u16string copy = appendedString->units;  // the string may be appended to itself
  if (canAppend(theString, copy.size())) theString->units += copy;
}

void CFStringAppendCString(CFMutableStringRef theString, const char* cStr, CFStringEncoding encoding) {
  if (!cStr) return;
  std::u16string units;
  if (!decodeBytes(reinterpret_cast<const UInt8*>(cStr), strlen(cStr), encoding, false, units)) return;
  if (canAppend(theString, units.size())) theString->units += units;
}

void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar* chars, CFIndex numChars) {
  if (!chars || numChars <= 0 || !canAppend(theString, size_t(numChars))) return;
  theString->units.append(reinterpret_cast<const char16_t*>(chars), size_t(numChars));
}

void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions, CFStringRef format, ...) {
  va_list ap;
  va_start(ap, format);
  CFStringAppendFormatAndArguments(theString, formatOptions, format, ap);
  va_end(ap);
}

void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                                      CFStringRef format, va_list arguments) {
  if (!theString || !theString->isMutable) return;
  CFStringRef s = CFStringCreateWithFormatAndArguments(nullptr, formatOptions, format, arguments);
  if (!s) return;
  CFStringAppend(theString, s);
  CFRelease(s);
}

void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr) {
  if (!insertedStr || !str || idx < 0 || size_t(idx) > str->units.size()) return;
  std::u16string copy = insertedStr->units;
  if (canAppend(str, copy.size())) str->units.insert(size_t(idx), copy);
}

void CFStringDelete(CFMutableStringRef theString, CFRange range) {
  if (!theString || !theString->isMutable || range.location < 0 || range.length < 0 ||
      size_t(range.location) + size_t(range.length) > theString->units.size())
    return;
  theString->units.erase(size_t(range.location), size_t(range.length));
}

void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement) {
  if (!theString || !theString->isMutable || !replacement) return;
  if (theString->maxLength > 0 && replacement->units.size() > size_t(theString->maxLength)) return;
  theString->units = std::u16string(replacement->units);
}

void CFStringTrimWhitespace(CFMutableStringRef theString) {
  if (!theString || !theString->isMutable) return;
  auto space = [](char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0 || c == 0x3000; };
  std::u16string& u = theString->units;
  size_t b = 0, e = u.size();
  while (b < e && space(u[b])) ++b;
  while (e > b && space(u[e - 1])) --e;
  u = u.substr(b, e - b);
}

CFIndex CFStringGetLength(CFStringRef theString) { return theString ? CFIndex(theString->units.size()) : 0; }

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) {
  if (!theString || idx < 0 || size_t(idx) >= theString->units.size()) return 0;
  return theString->units[size_t(idx)];
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
  if (!theString || !buffer || range.location < 0 || range.length <= 0 ||
      size_t(range.location) + size_t(range.length) > theString->units.size())
    return;
  memcpy(buffer, theString->units.data() + range.location, size_t(range.length) * sizeof(UniChar));
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (!buffer || bufferSize <= 0) return false;
  buffer[0] = 0;
  if (!theString) return false;
  std::string bytes;
  if (!encodeAll(theString->units, encoding, bytes)) return false;
  if (bytes.size() + 1 > size_t(bufferSize)) return false;
  memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = 0;
  return true;
}

const char* CFStringGetCStringPtr(CFStringRef, CFStringEncoding) { return nullptr; }
const UniChar* CFStringGetCharactersPtr(CFStringRef) { return nullptr; }

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen) {
  if (usedBufLen) *usedBufLen = 0;
  if (!theString || range.location < 0 || range.length < 0 ||
      size_t(range.location) + size_t(range.length) > theString->units.size() || !encodingKnown(encoding))
    return 0;
  const char16_t* u = theString->units.data() + range.location;
  size_t n = size_t(range.length);
  CFIndex used = 0;
  std::string bom;
  if (isExternalRepresentation && encoding == kCFStringEncodingUTF16)
    bom = (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) ? "\xFE\xFF" : "\xFF\xFE";
  if (!bom.empty()) {
    if (buffer && maxBufLen < CFIndex(bom.size())) return 0;
    if (buffer) memcpy(buffer, bom.data(), bom.size());
    used = CFIndex(bom.size());
  }
  size_t i = 0;
  UInt8 tmp[4];
  while (i < n) {
    int len = 0;
    int step = encodeOne(u + i, n - i, encoding, tmp, &len);
    if (!step) {
      if (!lossByte) break;
      tmp[0] = lossByte;
      len = 1;
      step = 1;
    }
    if (buffer && used + len > maxBufLen) break;
    if (buffer) memcpy(buffer + used, tmp, size_t(len));
    used += len;
    i += size_t(step);
  }
  if (usedBufLen) *usedBufLen = used;
  return CFIndex(i);
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (length < 0) return kCFNotFound;
  switch (encoding) {
    case kCFStringEncodingUTF8: return length * 3;
    case kCFStringEncodingUTF16: case kCFStringEncodingUTF16BE: case kCFStringEncodingUTF16LE: return length * 2;
    default: return length;
  }
}

CFStringEncoding CFStringGetSystemEncoding() { return kCFStringEncodingUTF8; }
Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding) { return encodingKnown(encoding); }

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFStringCompareFlags options) {
  if (a == b) return kCFCompareEqualTo;
  if (!a) return kCFCompareLessThan;
  if (!b) return kCFCompareGreaterThan;
  return compareUnits(a->units.data(), a->units.size(), b->units.data(), b->units.size(), options);
}

CFComparisonResult CFStringCompareWithOptions(CFStringRef a, CFStringRef b, CFRange range, CFStringCompareFlags options) {
  if (!a || !b || range.location < 0 || range.length < 0 ||
      size_t(range.location) + size_t(range.length) > a->units.size())
    return CFStringCompare(a, b, options);
  return compareUnits(a->units.data() + range.location, size_t(range.length), b->units.data(), b->units.size(),
                      options);
}

CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind, CFStringCompareFlags options) {
  CFRange none = {kCFNotFound, 0};
  if (!theString || !stringToFind || stringToFind->units.empty()) return none;
  const std::u16string& h = theString->units;
  const std::u16string& n = stringToFind->units;
  if (n.size() > h.size()) return none;
  const bool fold = options & kCFCompareCaseInsensitive;
  auto matchAt = [&](size_t at) {
    for (size_t k = 0; k < n.size(); ++k) {
      char16_t x = fold ? foldCase(h[at + k]) : h[at + k];
      char16_t y = fold ? foldCase(n[k]) : n[k];
      if (x != y) return false;
    }
    return true;
  };
  const size_t last = h.size() - n.size();
  if (options & kCFCompareBackwards) {
    for (size_t at = last + 1; at-- > 0;) {
      if (matchAt(at)) return CFRange{CFIndex(at), CFIndex(n.size())};
      if (options & kCFCompareAnchored) break;
    }
  } else {
    for (size_t at = 0; at <= last; ++at) {
      if (matchAt(at)) return CFRange{CFIndex(at), CFIndex(n.size())};
      if (options & kCFCompareAnchored) break;
    }
  }
  return none;
}

Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) {
  if (!theString || !prefix) return false;
  return theString->units.compare(0, prefix->units.size(), prefix->units) == 0 &&
         prefix->units.size() <= theString->units.size();
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) {
  if (!theString || !suffix) return false;
  const std::u16string& s = theString->units;
  const std::u16string& x = suffix->units;
  return x.size() <= s.size() && s.compare(s.size() - x.size(), x.size(), x) == 0;
}

SInt32 CFStringGetIntValue(CFStringRef str) {
  std::string text = SkyloomCFStringUTF8(str);
  SkyloomCLocaleScope cLocale;
  errno = 0;
  long long v = strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return SInt32(v);
}

double CFStringGetDoubleValue(CFStringRef str) {
  std::string text = SkyloomCFStringUTF8(str);
  SkyloomCLocaleScope cLocale;
  char* end = nullptr;
  double v = strtod(text.c_str(), &end);
  // Text that reads as NaN is not a number.
  if (std::isnan(v)) return 0.0;
  return v;
}
