// Strings: immutable and mutable, held as UTF-16 code units. C strings in and
// out go through an explicit encoding; UTF-8 is the application's text encoding.
#pragma once
#include "platform/corefoundation/CFBase.h"

typedef UInt32 CFStringEncoding;
enum : CFStringEncoding {
  kCFStringEncodingMacRoman = 0,
  kCFStringEncodingWindowsLatin1 = 0x0500,
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingNextStepLatin = 0x0B01,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingUnicode = 0x0100,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingNonLossyASCII = 0x0BFF,
  kCFStringEncodingUTF16 = 0x0100,
  kCFStringEncodingUTF16BE = 0x10000100,
  kCFStringEncodingUTF16LE = 0x14000100,
  kCFStringEncodingInvalidId = 0xffffffffU,
};

typedef CFOptionFlags CFStringCompareFlags;
enum : CFOptionFlags {
  kCFCompareCaseInsensitive = 1,
  kCFCompareBackwards = 4,
  kCFCompareAnchored = 8,
  kCFCompareNonliteral = 16,
  kCFCompareLocalized = 32,
  kCFCompareNumerically = 64,
};

CFTypeID CFStringGetTypeID();

// A constant string from a literal: never freed, retain and release are no-ops,
// the same text always gives the same object. The literal is UTF-8.
CFStringRef SkyloomCFSTR(const char* utf8);
#define CFSTR(cStr) ([]() -> CFStringRef { static const CFStringRef s_ = SkyloomCFSTR("" cStr ""); return s_; }())

// Creation. Invalid bytes for the encoding give null.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr, CFStringEncoding encoding);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar* chars, CFIndex numChars);
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString);
CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str, CFRange range);
// printf formats, numbers always in the C locale; %@ inserts an object's
// description; positional arguments (%1$d) are accepted. Options are ignored.
CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions, CFStringRef format, ...);
CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                                 CFStringRef format, va_list arguments);

// maxLength 0 means unlimited; appends beyond a nonzero maxLength are refused.
CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength);
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength, CFStringRef theString);
void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString);
void CFStringAppendCString(CFMutableStringRef theString, const char* cStr, CFStringEncoding encoding);
void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar* chars, CFIndex numChars);
void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions, CFStringRef format, ...);
void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                                      CFStringRef format, va_list arguments);
void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr);
void CFStringDelete(CFMutableStringRef theString, CFRange range);
void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement);
void CFStringTrimWhitespace(CFMutableStringRef theString);

// Access. Lengths and indexes count UTF-16 code units.
CFIndex CFStringGetLength(CFStringRef theString);
UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);
void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer);
// Copies the text and a terminating zero into buffer (bufferSize bytes in all).
// False, with an empty string in the buffer, when it does not fit or a
// character has no form in the encoding.
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize, CFStringEncoding encoding);
// Never available: callers fall back to CFStringGetCString, as they must anyway.
const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
const UniChar* CFStringGetCharactersPtr(CFStringRef theString);
// Converts a range; returns the characters converted and the bytes used
// (*usedBufLen). lossByte 0 stops at the first character without a form.
CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                         Boolean isExternalRepresentation, UInt8* buffer, CFIndex maxBufLen, CFIndex* usedBufLen);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
CFStringEncoding CFStringGetSystemEncoding();
Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding);

// Comparison. Case-insensitive folds Latin, Greek and Cyrillic letters;
// numerically compares runs of decimal digits by their value ("2" < "10").
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2, CFStringCompareFlags compareOptions);
CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2, CFRange rangeToCompare,
                                              CFStringCompareFlags compareOptions);
Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix);
Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix);
CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind, CFStringCompareFlags compareOptions);

// Numbers from text, in the C locale; 0 when the text does not start with one.
SInt32 CFStringGetIntValue(CFStringRef str);
double CFStringGetDoubleValue(CFStringRef str);
