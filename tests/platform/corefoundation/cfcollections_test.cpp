#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/corefoundation/CoreFoundation.h"

namespace {
CFNumberRef makeInt(SInt32 v) { return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v); }
SInt32 intOf(const void* n) {
  SInt32 v = 0;
  CFNumberGetValue(static_cast<CFNumberRef>(n), kCFNumberSInt32Type, &v);
  return v;
}
}  // namespace

TEST(CFDictionary, TypeCallbacksOwnKeysAndValues) {
  const long live = SkyloomCFLiveObjectCount();
  CFMutableDictionaryRef d =
      CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CFStringRef key = CFStringCreateWithCString(nullptr, "VendorID", kCFStringEncodingUTF8);
  CFNumberRef vendor = makeInt(0x134A);
  CFDictionarySetValue(d, key, vendor);
  EXPECT_EQ(CFGetRetainCount(key), 2);
  EXPECT_EQ(CFGetRetainCount(vendor), 2);

  // Keys are found by value, not by address.
  EXPECT_EQ(intOf(CFDictionaryGetValue(d, CFSTR("VendorID"))), 0x134A);
  const void* got = nullptr;
  EXPECT_TRUE(CFDictionaryGetValueIfPresent(d, CFSTR("VendorID"), &got));
  EXPECT_EQ(got, vendor);
  EXPECT_FALSE(CFDictionaryGetValueIfPresent(d, CFSTR("ProductID"), &got));
  EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("ProductID")), nullptr);

  // Replacing a value releases the old one.
  CFNumberRef product = makeInt(0x9020);
  CFDictionarySetValue(d, CFSTR("VendorID"), product);
  EXPECT_EQ(CFGetRetainCount(vendor), 1);
  EXPECT_EQ(CFDictionaryGetCount(d), 1);
  CFDictionaryAddValue(d, CFSTR("VendorID"), vendor);  // present: no change
  EXPECT_EQ(CFDictionaryGetValue(d, key), product);
  CFDictionaryReplaceValue(d, CFSTR("Missing"), vendor);  // absent: no change
  EXPECT_EQ(CFDictionaryGetCount(d), 1);
  CFDictionaryAddValue(d, CFSTR("ProductID"), product);
  EXPECT_EQ(CFDictionaryGetCount(d), 2);

  struct Seen {
    std::vector<std::string> keys;
  } seen;
  CFDictionaryApplyFunction(
      d,
      [](const void* k, const void*, void* ctx) {
        char buf[32];
        CFStringGetCString(static_cast<CFStringRef>(k), buf, sizeof buf, kCFStringEncodingUTF8);
        static_cast<Seen*>(ctx)->keys.push_back(buf);
      },
      &seen);
  EXPECT_EQ(seen.keys, (std::vector<std::string>{"VendorID", "ProductID"}));

  CFDictionaryRef copy = CFDictionaryCreateCopy(nullptr, d);
  EXPECT_TRUE(CFEqual(copy, d));
  CFDictionaryRemoveValue(d, CFSTR("VendorID"));
  EXPECT_EQ(CFDictionaryGetCount(d), 1);
  EXPECT_EQ(CFGetRetainCount(key), 2);  // the copy still holds it
  EXPECT_FALSE(CFEqual(copy, d));
  CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(copy), CFSTR("X"), vendor);  // immutable: refused
  EXPECT_EQ(CFDictionaryGetCount(copy), 2);

  CFRelease(copy);
  CFRelease(d);
  EXPECT_EQ(CFGetRetainCount(key), 1);
  EXPECT_EQ(CFGetRetainCount(product), 1);
  for (CFTypeRef o : {CFTypeRef(key), CFTypeRef(vendor), CFTypeRef(product)}) CFRelease(o);
  EXPECT_EQ(SkyloomCFLiveObjectCount(), live);
}

TEST(CFDictionary, CreateWithPlainPointersAndCopiedStringKeys) {
  static int a = 1, b = 2;
  const void* keys[] = {&a, &b};
  const void* values[] = {"one", "two"};
  CFDictionaryRef d = CFDictionaryCreate(nullptr, keys, values, 2, nullptr, nullptr);
  EXPECT_EQ(CFDictionaryGetCount(d), 2);
  EXPECT_STREQ(static_cast<const char*>(CFDictionaryGetValue(d, &b)), "two");
  CFRelease(d);

  CFMutableStringRef key = CFStringCreateMutable(nullptr, 0);
  CFStringAppendCString(key, "Gain", kCFStringEncodingASCII);
  CFMutableDictionaryRef m =
      CFDictionaryCreateMutable(nullptr, 0, &kCFCopyStringDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
  CFDictionarySetValue(m, key, kCFBooleanTrue);
  CFStringAppendCString(key, "X", kCFStringEncodingASCII);  // changing the caller's key moves nothing
  EXPECT_EQ(CFDictionaryGetValue(m, CFSTR("Gain")), kCFBooleanTrue);
  EXPECT_TRUE(CFBooleanGetValue(static_cast<CFBooleanRef>(CFDictionaryGetValue(m, CFSTR("Gain")))));
  EXPECT_EQ(CFDictionaryGetValue(m, key), nullptr);
  CFRelease(m);
  CFRelease(key);
}

TEST(CFArray, AppendIndexSortAndOwnership) {
  CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  const SInt32 input[] = {30, 10, 20};
  for (SInt32 v : input) {
    CFNumberRef n = makeInt(v);
    CFArrayAppendValue(a, n);
    EXPECT_EQ(CFGetRetainCount(n), 2);
    CFRelease(n);
  }
  EXPECT_EQ(CFArrayGetCount(a), 3);
  EXPECT_EQ(intOf(CFArrayGetValueAtIndex(a, 1)), 10);
  EXPECT_EQ(CFArrayGetValueAtIndex(a, 3), nullptr);
  EXPECT_EQ(CFArrayGetValueAtIndex(a, -1), nullptr);
  CFNumberRef twenty = makeInt(20);
  EXPECT_EQ(CFArrayGetFirstIndexOfValue(a, CFRangeMake(0, 3), twenty), 2);
  CFArraySortValues(a, CFRangeMake(0, 3),
                    [](const void* x, const void* y, void*) { return CFNumberCompare(static_cast<CFNumberRef>(x), static_cast<CFNumberRef>(y), nullptr); },
                    nullptr);
  EXPECT_EQ(intOf(CFArrayGetValueAtIndex(a, 0)), 10);
  EXPECT_EQ(intOf(CFArrayGetValueAtIndex(a, 2)), 30);

  CFArrayRef frozen = CFArrayCreateCopy(nullptr, a);
  CFArrayRemoveValueAtIndex(a, 0);
  CFArrayInsertValueAtIndex(a, 0, twenty);
  EXPECT_EQ(CFArrayGetCount(frozen), 3);
  EXPECT_EQ(intOf(CFArrayGetValueAtIndex(frozen, 0)), 10);
  EXPECT_EQ(CFGetRetainCount(twenty), 2);
  CFArrayRemoveAllValues(a);
  EXPECT_EQ(CFGetRetainCount(twenty), 1);
  CFRelease(twenty);
  CFRelease(frozen);
  CFRelease(a);

  CFMutableArrayRef limited = CFArrayCreateMutable(nullptr, 1, nullptr);
  static int x, y;
  CFArrayAppendValue(limited, &x);
  CFArrayAppendValue(limited, &y);  // beyond the capacity
  EXPECT_EQ(CFArrayGetCount(limited), 1);
  CFRelease(limited);
}

TEST(CFData, BytesLengthAndChanges) {
  const UInt8 bytes[] = {1, 2, 3, 4};
  CFDataRef d = CFDataCreate(nullptr, bytes, 4);
  EXPECT_EQ(CFDataGetLength(d), 4);
  EXPECT_EQ(CFDataGetBytePtr(d)[3], 4);
  CFMutableDataRef m = CFDataCreateMutableCopy(nullptr, 0, d);
  CFDataAppendBytes(m, CFDataGetBytePtr(m), 2);  // from itself
  CFDataIncreaseLength(m, 2);
  const UInt8 expected[] = {1, 2, 3, 4, 1, 2, 0, 0};
  ASSERT_EQ(CFDataGetLength(m), 8);
  EXPECT_EQ(memcmp(CFDataGetBytePtr(m), expected, 8), 0);
  CFDataReplaceBytes(m, CFRangeMake(1, 2), bytes, 1);
  CFDataDeleteBytes(m, CFRangeMake(5, 2));
  UInt8 out[5] = {0};
  CFDataGetBytes(m, CFRangeMake(0, 5), out);
  const UInt8 after[] = {1, 1, 4, 1, 2};
  EXPECT_EQ(memcmp(out, after, 5), 0);
  EXPECT_EQ(CFDataGetLength(m), 5);
  UInt8 guard[2] = {9, 9};
  CFDataGetBytes(m, CFRangeMake(4, 2), guard);  // outside: nothing copied
  EXPECT_EQ(guard[0], 9);
  EXPECT_FALSE(CFEqual(d, m));
  CFRelease(m);
  CFRelease(d);
}

TEST(CFTypes, TypeIdsAndConstants) {
  EXPECT_EQ(CFGetTypeID(kCFBooleanTrue), CFBooleanGetTypeID());
  EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
  EXPECT_EQ(CFGetTypeID(kCFNull), CFNullGetTypeID());
  EXPECT_FALSE(CFEqual(kCFBooleanTrue, kCFBooleanFalse));
  const CFTypeID ids[] = {CFStringGetTypeID(), CFNumberGetTypeID(), CFBooleanGetTypeID(), CFDictionaryGetTypeID(),
                          CFArrayGetTypeID(), CFDataGetTypeID(), CFTimeZoneGetTypeID(), CFRunLoopGetTypeID(),
                          CFDateGetTypeID(), CFNullGetTypeID()};
  for (size_t i = 0; i < std::size(ids); ++i)
    for (size_t j = i + 1; j < std::size(ids); ++j) EXPECT_NE(ids[i], ids[j]);
  // Objects of different types are never equal, even with the same text.
  CFMutableArrayRef arr = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  CFArrayAppendValue(arr, CFSTR("a"));
  CFStringRef desc = CFCopyDescription(arr);
  char buf[32];
  ASSERT_TRUE(CFStringGetCString(desc, buf, sizeof buf, kCFStringEncodingUTF8));
  EXPECT_STREQ(buf, "(a)");
  EXPECT_FALSE(CFEqual(desc, arr));
  CFRelease(desc);
  CFRelease(arr);
}
