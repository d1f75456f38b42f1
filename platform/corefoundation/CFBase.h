// CoreFoundation stand-in: the object model shared by every CF type.
//
// Ownership follows the usual rule: a function with Create or Copy in its name
// hands the caller a reference it must CFRelease; Get functions do not. Retain
// counts are atomic, so objects may be retained and released on any thread;
// mutable objects are not locked and belong to one thread at a time.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/coreservices/MacTypes.h"

typedef long CFIndex;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;

typedef const void* CFTypeRef;
typedef const struct SkyloomCFAllocator* CFAllocatorRef;
typedef const struct SkyloomCFString* CFStringRef;
typedef struct SkyloomCFString* CFMutableStringRef;
typedef const struct SkyloomCFNumber* CFNumberRef;
typedef const struct SkyloomCFBoolean* CFBooleanRef;
typedef const struct SkyloomCFDictionary* CFDictionaryRef;
typedef struct SkyloomCFDictionary* CFMutableDictionaryRef;
typedef const struct SkyloomCFArray* CFArrayRef;
typedef struct SkyloomCFArray* CFMutableArrayRef;
typedef const struct SkyloomCFData* CFDataRef;
typedef struct SkyloomCFData* CFMutableDataRef;
typedef const struct SkyloomCFTimeZone* CFTimeZoneRef;
typedef struct SkyloomCFRunLoop* CFRunLoopRef;
typedef struct SkyloomCFRunLoopSource* CFRunLoopSourceRef;
typedef struct SkyloomCFRunLoopTimer* CFRunLoopTimerRef;
typedef struct SkyloomCFFileDescriptor* CFFileDescriptorRef;
typedef const struct SkyloomCFURL* CFURLRef;

// Only the default allocator exists; every allocator argument may be null.
#define kCFAllocatorDefault ((CFAllocatorRef) nullptr)
#define kCFAllocatorSystemDefault ((CFAllocatorRef) nullptr)
#define kCFAllocatorMalloc ((CFAllocatorRef) nullptr)

enum : CFIndex { kCFNotFound = -1 };

typedef CFIndex CFComparisonResult;
enum : CFIndex { kCFCompareLessThan = -1, kCFCompareEqualTo = 0, kCFCompareGreaterThan = 1 };

struct CFRange {
  CFIndex location;
  CFIndex length;
};
inline CFRange CFRangeMake(CFIndex location, CFIndex length) { return CFRange{location, length}; }

// Retain and release. A null object is ignored (and CFRetain returns null).
// Constant objects (CFSTR strings, kCFBooleanTrue...) are never freed.
CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFIndex CFGetRetainCount(CFTypeRef cf);

CFTypeID CFGetTypeID(CFTypeRef cf);
Boolean CFEqual(CFTypeRef a, CFTypeRef b);
CFHashCode CFHash(CFTypeRef cf);
// A readable description (the text itself for strings, the value for numbers).
CFStringRef CFCopyDescription(CFTypeRef cf);
CFStringRef CFCopyTypeIDDescription(CFTypeID typeID);
// Writes the description to standard error.
void CFShow(CFTypeRef cf);

// Number of CF objects alive (constants excluded), so tests can see leaks.
long SkyloomCFLiveObjectCount();
