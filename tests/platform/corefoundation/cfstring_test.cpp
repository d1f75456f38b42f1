#include <gtest/gtest.h>

#include <clocale>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/corefoundation/CoreFoundation.h"

namespace {

std::u16string unitsOf(CFStringRef s) {
  std::u16string u(size_t(CFStringGetLength(s)), u'\0');
  if (!u.empty()) CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)), reinterpret_cast<UniChar*>(u.data()));
  return u;
}

std::string utf8Of(CFStringRef s) {
  char buf[1024];
  EXPECT_TRUE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8));
  return buf;
}

}  // namespace

TEST(CFString, DecodeAndRoundTripTable) {
  struct Case {
    const char* bytes;
    CFStringEncoding encoding;
    std::u16string units;  // empty with valid=false: creation must fail
    bool valid;
  };
  const Case cases[] = {
      {"Skyloom", kCFStringEncodingUTF8, u"Skyloom", true},
      {"", kCFStringEncodingUTF8, u"", true},
      {"\xC3\xA9t\xC3\xA9", kCFStringEncodingUTF8, u"\u00E9t\u00E9", true},
      {"\xE2\x82\xAC", kCFStringEncodingUTF8, u"\u20AC", true},
      {"\xF0\x9F\x98\x80", kCFStringEncodingUTF8, u"\xD83D\xDE00", true},  // two UTF-16 units
      {"\xC3", kCFStringEncodingUTF8, u"", false},                        // cut short
      {"\xC0\xAF", kCFStringEncodingUTF8, u"", false},                    // overlong '/'
      {"\xED\xA0\x80", kCFStringEncodingUTF8, u"", false},                // a surrogate
      {"\xF4\x90\x80\x80", kCFStringEncodingUTF8, u"", false},            // above U+10FFFF
      {"\x8E" "t\x8E", kCFStringEncodingMacRoman, u"\u00E9t\u00E9", true},
      {"\xA5\xB9\xDB\xF0", kCFStringEncodingMacRoman, u"\u2022\u03C0\u20AC\uF8FF", true},
      {"plain", kCFStringEncodingASCII, u"plain", true},
      {"caf\xE9", kCFStringEncodingASCII, u"", false},
      {"caf\xE9", kCFStringEncodingISOLatin1, u"caf\u00E9", true},
  };
  for (const Case& c : cases) {
    CFStringRef s = CFStringCreateWithCString(nullptr, c.bytes, c.encoding);
    if (!c.valid) {
      EXPECT_EQ(s, nullptr) << c.bytes;
      continue;
    }
    ASSERT_NE(s, nullptr) << c.bytes;
    EXPECT_EQ(CFStringGetLength(s), CFIndex(c.units.size())) << c.bytes;
    EXPECT_EQ(unitsOf(s), c.units) << c.bytes;
    if (!c.units.empty()) {
      EXPECT_EQ(CFStringGetCharacterAtIndex(s, 0), c.units[0]);
    }
    char back[64];
    ASSERT_TRUE(CFStringGetCString(s, back, sizeof back, c.encoding)) << c.bytes;
    EXPECT_STREQ(back, c.bytes);
    CFRelease(s);
  }
}

TEST(CFString, GetCStringRespectsBoundsAndEncodings) {
  CFStringRef s = CFStringCreateWithCString(nullptr, "h\xC3\xA9llo", kCFStringEncodingUTF8);  // 6 bytes
  char buf[16];
  memset(buf, 'x', sizeof buf);
  EXPECT_TRUE(CFStringGetCString(s, buf, 7, kCFStringEncodingUTF8));
  EXPECT_STREQ(buf, "h\xC3\xA9llo");
  memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(CFStringGetCString(s, buf, 6, kCFStringEncodingUTF8));  // no room for the terminator
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[6], 'x');  // nothing written past the bound
  EXPECT_FALSE(CFStringGetCString(s, buf, 0, kCFStringEncodingUTF8));
  EXPECT_EQ(buf[0], '\0');
  EXPECT_TRUE(CFStringGetCString(s, buf, 6, kCFStringEncodingMacRoman));  // 5 bytes there
  EXPECT_STREQ(buf, "h\x8Ello");
  EXPECT_FALSE(CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingASCII));
  EXPECT_FALSE(CFStringGetCString(nullptr, buf, sizeof buf, kCFStringEncodingUTF8));
  CFRelease(s);

  // A lone surrogate has no UTF-8 form.
  const UniChar lone[] = {'a', 0xD800};
  CFStringRef bad = CFStringCreateWithCharacters(nullptr, lone, 2);
  EXPECT_EQ(CFStringGetLength(bad), 2);
  EXPECT_FALSE(CFStringGetCString(bad, buf, sizeof buf, kCFStringEncodingUTF8));
  CFRelease(bad);

  // Characters from UTF-16 and out through GetBytes with a loss byte.
  const UniChar chars[] = {'A', 0x2022, 'B', 0x4E2D};
  CFStringRef u = CFStringCreateWithCharacters(nullptr, chars, 4);
  UInt8 bytes[8];
  CFIndex used = 0;
  EXPECT_EQ(CFStringGetBytes(u, CFRangeMake(0, 4), kCFStringEncodingMacRoman, '?', false, bytes, sizeof bytes, &used), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size_t(used)), "A\xA5" "B?");
  EXPECT_EQ(CFStringGetBytes(u, CFRangeMake(0, 4), kCFStringEncodingMacRoman, 0, false, bytes, sizeof bytes, &used), 3);
  CFRelease(u);
}

TEST(CFString, CompareOptionsTable) {
  struct Case {
    const char* a;
    const char* b;
    CFStringCompareFlags options;
    CFComparisonResult expected;
  };
  const Case cases[] = {
      {"abc", "abc", 0, kCFCompareEqualTo},
      {"abc", "abd", 0, kCFCompareLessThan},
      {"abc", "ab", 0, kCFCompareGreaterThan},
      {"", "", 0, kCFCompareEqualTo},
      {"ABC", "abc", 0, kCFCompareLessThan},  // 'A' (0x41) sorts before 'a'
      {"ABC", "abc", kCFCompareCaseInsensitive, kCFCompareEqualTo},
      {"Zeta", "alpha", kCFCompareCaseInsensitive, kCFCompareGreaterThan},
      {"\xC3\x89lan", "\xC3\xA9lan", kCFCompareCaseInsensitive, kCFCompareEqualTo},  // É / é
      {"file2", "file10", 0, kCFCompareGreaterThan},
      {"file2", "file10", kCFCompareNumerically, kCFCompareLessThan},
      {"file010", "file9", kCFCompareNumerically, kCFCompareGreaterThan},
      {"file10b", "file10a", kCFCompareNumerically, kCFCompareGreaterThan},
      {"img7.tif", "img7.tif", kCFCompareNumerically, kCFCompareEqualTo},
      {"A2b", "a10B", kCFCompareCaseInsensitive | kCFCompareNumerically, kCFCompareLessThan},
      {"A2b", "a10B", kCFCompareCaseInsensitive, kCFCompareGreaterThan},
  };
  for (const Case& c : cases) {
    CFStringRef a = CFStringCreateWithCString(nullptr, c.a, kCFStringEncodingUTF8);
    CFStringRef b = CFStringCreateWithCString(nullptr, c.b, kCFStringEncodingUTF8);
    EXPECT_EQ(CFStringCompare(a, b, c.options), c.expected) << c.a << " vs " << c.b << " options " << c.options;
    EXPECT_EQ(CFStringCompare(b, a, c.options), -c.expected) << c.b << " vs " << c.a;
    CFRelease(a);
    CFRelease(b);
  }
}

TEST(CFString, FormatsInTheCLocale) {
  // Whatever the user's locale, numbers use a decimal point.
  const char* previous = setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  ASSERT_TRUE(setlocale(LC_NUMERIC, "de_DE.UTF-8") || setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
      << "no decimal-comma locale installed: scripts/deps generates de_DE.UTF-8";
  CFStringRef num = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%f|%f|%.2f"), double(float(0.1)), 1.0e9, 2.005);
  EXPECT_EQ(utf8Of(num), "0.100000|1000000000.000000|2.00");
  CFRelease(num);
  setlocale(LC_NUMERIC, saved.c_str());

  CFStringRef name = CFSTR("M42");
  CFStringRef s = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%s:%d:%5.1f|%-4d|%04x|%lld|%@|%c|%%|%u"), "cam",
                                           -7, 3.14159, 12, 255, (long long)1 << 40, name, 'Z', 4000000000U);
  EXPECT_EQ(utf8Of(s), "cam:-7:  3.1|12  |00ff|1099511627776|M42|Z|%|4000000000");
  CFRelease(s);

  // Positional arguments, as localized format strings use them; * widths.
  CFStringRef p = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%2$@ before %1$d"), 5, CFSTR("text"));
  EXPECT_EQ(utf8Of(p), "text before 5");
  CFRelease(p);
  CFStringRef w = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("[%*d|%-*s|%.*f]"), 4, 9, 3, "a", 1, 2.25);
  EXPECT_EQ(utf8Of(w), "[   9|a  |2.2]");
  CFRelease(w);

  CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
  CFStringAppendFormat(m, nullptr, CFSTR("%d frames"), 12);
  CFStringAppendFormat(m, nullptr, CFSTR(" at %.1f fps, %@"), 7.5, nullptr);
  EXPECT_EQ(utf8Of(m), "12 frames at 7.5 fps, (null)");
  CFRelease(m);
}

TEST(CFString, MutableStringsAppendInsertAndLimit) {
  CFStringRef base = CFStringCreateWithCString(nullptr, "Jupiter", kCFStringEncodingUTF8);
  CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, base);
  CFStringAppendCString(m, " \xE2\x80\x94 ", kCFStringEncodingUTF8);
  CFStringAppend(m, CFSTR("Io"));
  CFStringAppendCString(m, "\xFF", kCFStringEncodingUTF8);  // invalid: nothing appended
  EXPECT_EQ(utf8Of(m), "Jupiter \xE2\x80\x94 Io");
  EXPECT_EQ(utf8Of(base), "Jupiter");  // the copy is independent
  CFStringAppend(m, m);                // appending a string to itself doubles it
  EXPECT_EQ(CFStringGetLength(m), 2 * 12);
  CFStringDelete(m, CFRangeMake(12, 12));
  CFStringInsert(m, 0, CFSTR(">"));
  EXPECT_EQ(utf8Of(m), ">Jupiter \xE2\x80\x94 Io");
  CFRelease(m);
  CFRelease(base);

  CFMutableStringRef limited = CFStringCreateMutable(nullptr, 4);
  CFStringAppendCString(limited, "abc", kCFStringEncodingASCII);
  CFStringAppendCString(limited, "de", kCFStringEncodingASCII);  // would exceed 4: refused
  CFStringAppendCString(limited, "d", kCFStringEncodingASCII);
  EXPECT_EQ(utf8Of(limited), "abcd");
  CFRelease(limited);

  // Immutable strings refuse changes.
  CFStringRef fixed = CFStringCreateWithCString(nullptr, "fixed", kCFStringEncodingASCII);
  CFStringAppendCString(const_cast<CFMutableStringRef>(fixed), "!", kCFStringEncodingASCII);
  EXPECT_EQ(utf8Of(fixed), "fixed");
  CFRelease(fixed);
}

TEST(CFString, OwnershipOfCreateCopyAndConstants) {
  const long live = SkyloomCFLiveObjectCount();
  CFStringRef s = CFStringCreateWithCString(nullptr, "Saturn", kCFStringEncodingUTF8);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  EXPECT_EQ(CFRetain(s), s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(s);
  EXPECT_EQ(CFGetRetainCount(s), 1);

  CFStringRef copy = CFStringCreateCopy(nullptr, s);  // immutable: the same object, one more owner
  EXPECT_EQ(copy, s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(copy);

  CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, s);
  CFStringRef frozen = CFStringCreateCopy(nullptr, m);  // mutable: a new object
  EXPECT_NE(frozen, static_cast<CFStringRef>(m));
  EXPECT_EQ(CFGetRetainCount(frozen), 1);
  EXPECT_EQ(CFGetRetainCount(m), 1);
  EXPECT_TRUE(CFEqual(frozen, s));
  EXPECT_EQ(CFHash(frozen), CFHash(s));
  EXPECT_EQ(CFGetTypeID(m), CFStringGetTypeID());
  CFRelease(frozen);
  CFRelease(m);
  CFRelease(s);
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);

  // CFSTR: one immortal object per text; retain and release leave it alone.
  CFStringRef k1 = CFSTR("VERS");
  CFStringRef k2 = CFSTR("VERS");
  EXPECT_EQ(k1, k2);
  CFIndex before = CFGetRetainCount(k1);
  CFRelease(k1);
  CFRelease(k1);
  CFRetain(k1);
  EXPECT_EQ(CFGetRetainCount(k1), before);
  EXPECT_EQ(CFStringGetLength(k1), 4);
  CFRelease(nullptr);  // ignored
  EXPECT_EQ(CFRetain(nullptr), nullptr);
}

TEST(CFString, SearchPrefixAndNumbers) {
  CFStringRef s = CFSTR("Capture_0012.mov");
  EXPECT_TRUE(CFStringHasPrefix(s, CFSTR("Capture")));
  EXPECT_FALSE(CFStringHasPrefix(CFSTR("Cap"), CFSTR("Capture")));
  EXPECT_TRUE(CFStringHasSuffix(s, CFSTR(".mov")));
  CFRange r = CFStringFind(s, CFSTR("MOV"), kCFCompareCaseInsensitive);
  EXPECT_EQ(r.location, 13);
  EXPECT_EQ(r.length, 3);
  EXPECT_EQ(CFStringFind(s, CFSTR("MOV"), 0).location, kCFNotFound);
  EXPECT_EQ(CFStringFind(s, CFSTR("_"), kCFCompareAnchored).location, kCFNotFound);
  EXPECT_EQ(CFStringGetIntValue(CFSTR(" 42 stars")), 42);
  EXPECT_EQ(CFStringGetIntValue(CFSTR("none")), 0);
  EXPECT_EQ(CFStringGetIntValue(CFSTR("99999999999")), INT_MAX);
  EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(CFSTR("0.100000")), 0.1);
  EXPECT_EQ(CFStringGetDoubleValue(CFSTR("nan")), 0.0);  // never a number
}

TEST(CFNumber, ConversionsTable) {
  struct Case {
    CFNumberType fromType;
    double from;  // the value, as the creating type holds it
    CFNumberType toType;
    double expected;
    bool lossless;
  };
  const Case cases[] = {
      {kCFNumberSInt32Type, -5, kCFNumberSInt64Type, -5, true},
      {kCFNumberSInt32Type, -5, kCFNumberFloat64Type, -5, true},
      {kCFNumberSInt32Type, -5, kCFNumberSInt8Type, -5, true},
      {kCFNumberSInt32Type, 300, kCFNumberSInt8Type, 127, false},
      {kCFNumberSInt32Type, -70000, kCFNumberSInt16Type, -32768, false},
      {kCFNumberFloat64Type, 2.75, kCFNumberSInt32Type, 2, false},
      {kCFNumberFloat64Type, -2.75, kCFNumberSInt32Type, -2, false},
      {kCFNumberFloat64Type, 1e20, kCFNumberSInt32Type, 2147483647, false},
      {kCFNumberFloat64Type, NAN, kCFNumberSInt32Type, 0, false},
      {kCFNumberFloat64Type, 4096, kCFNumberSInt16Type, 4096, true},
      {kCFNumberFloat64Type, 0.1, kCFNumberFloat32Type, double(0.1f), false},
      {kCFNumberFloat64Type, 0.5, kCFNumberFloat32Type, 0.5, true},
      {kCFNumberFloat32Type, 0.1f, kCFNumberFloat64Type, double(0.1f), true},
      {kCFNumberSInt64Type, 9007199254740993.0, kCFNumberFloat64Type, 9007199254740992.0, false},
  };
  for (const Case& c : cases) {
    CFNumberRef n = nullptr;
    switch (c.fromType) {
      case kCFNumberSInt32Type: { SInt32 v = SInt32(c.from); n = CFNumberCreate(nullptr, c.fromType, &v); break; }
      case kCFNumberSInt64Type: {
        SInt64 v = (c.from == 9007199254740993.0) ? (SInt64(1) << 53) + 1 : SInt64(c.from);
        n = CFNumberCreate(nullptr, c.fromType, &v);
        break;
      }
      case kCFNumberFloat32Type: { Float32 v = Float32(c.from); n = CFNumberCreate(nullptr, c.fromType, &v); break; }
      default: { Float64 v = c.from; n = CFNumberCreate(nullptr, c.fromType, &v); break; }
    }
    ASSERT_NE(n, nullptr);
    double got = 0;
    bool ok = false;
    switch (c.toType) {
      case kCFNumberSInt8Type: { SInt8 v; ok = CFNumberGetValue(n, c.toType, &v); got = v; break; }
      case kCFNumberSInt16Type: { SInt16 v; ok = CFNumberGetValue(n, c.toType, &v); got = v; break; }
      case kCFNumberSInt32Type: { SInt32 v; ok = CFNumberGetValue(n, c.toType, &v); got = v; break; }
      case kCFNumberSInt64Type: { SInt64 v; ok = CFNumberGetValue(n, c.toType, &v); got = double(v); break; }
      case kCFNumberFloat32Type: { Float32 v; ok = CFNumberGetValue(n, c.toType, &v); got = v; break; }
      default: { Float64 v; ok = CFNumberGetValue(n, c.toType, &v); got = v; break; }
    }
    EXPECT_EQ(got, c.expected) << c.from << " type " << c.fromType << " -> " << c.toType;
    EXPECT_EQ(ok, c.lossless) << c.from << " type " << c.fromType << " -> " << c.toType;
    CFRelease(n);
  }
}

TEST(CFNumber, TypesCompareAndEquality) {
  SInt32 three = 3, vendor = 0x1E10;
  Float64 threeF = 3.0, twoHalf = 2.5;
  CFNumberRef a = CFNumberCreate(nullptr, kCFNumberSInt32Type, &three);
  CFNumberRef b = CFNumberCreate(nullptr, kCFNumberFloat64Type, &threeF);
  CFNumberRef c = CFNumberCreate(nullptr, kCFNumberDoubleType, &twoHalf);
  CFNumberRef v = CFNumberCreate(nullptr, kCFNumberIntType, &vendor);
  EXPECT_EQ(CFNumberGetType(a), kCFNumberSInt32Type);
  EXPECT_EQ(CFNumberGetType(c), kCFNumberFloat64Type);
  EXPECT_EQ(CFNumberGetByteSize(a), 4);
  EXPECT_FALSE(CFNumberIsFloatType(a));
  EXPECT_TRUE(CFNumberIsFloatType(b));
  EXPECT_TRUE(CFEqual(a, b));
  EXPECT_EQ(CFHash(a), CFHash(b));
  EXPECT_FALSE(CFEqual(a, c));
  EXPECT_EQ(CFNumberCompare(c, a, nullptr), kCFCompareLessThan);
  EXPECT_EQ(CFNumberCompare(v, a, nullptr), kCFCompareGreaterThan);
  EXPECT_EQ(CFGetTypeID(a), CFNumberGetTypeID());
  EXPECT_EQ(CFNumberCreate(nullptr, 99, &three), nullptr);
  CFStringRef d = CFCopyDescription(v);
  EXPECT_EQ(utf8Of(d), "7696");
  CFRelease(d);
  for (CFNumberRef n : {a, b, c, v}) CFRelease(n);
}
