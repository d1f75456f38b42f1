// Numbers: one immutable value, integer (up to 64 bits) or floating point.
#pragma once
#include "platform/corefoundation/CFBase.h"

typedef CFIndex CFNumberType;
enum : CFIndex {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14,
  kCFNumberNSIntegerType = 15,
  kCFNumberCGFloatType = 16,
  kCFNumberMaxType = 16,
};

CFTypeID CFNumberGetTypeID();
// Null for an unknown type or a null value pointer.
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);
// Stores the value converted to theType. False when the conversion loses
// anything: an integer out of range (stored saturated), a fraction dropped
// (stored truncated toward zero), a float out of range (saturated, NaN gives 0),
// or a 64-bit integer that a double cannot hold exactly.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);
// The type it was created with, kept in its widest form of the same kind.
CFNumberType CFNumberGetType(CFNumberRef number);
CFIndex CFNumberGetByteSize(CFNumberRef number);
Boolean CFNumberIsFloatType(CFNumberRef number);
CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void* context);

// ---- Booleans and null (constants) ----
typedef const struct SkyloomCFNull* CFNullRef;
CFBooleanRef SkyloomCFBooleanTrue();
CFBooleanRef SkyloomCFBooleanFalse();
CFNullRef SkyloomCFNullConstant();
#define kCFBooleanTrue SkyloomCFBooleanTrue()
#define kCFBooleanFalse SkyloomCFBooleanFalse()
#define kCFNull SkyloomCFNullConstant()
CFTypeID CFBooleanGetTypeID();
Boolean CFBooleanGetValue(CFBooleanRef boolean);
CFTypeID CFNullGetTypeID();
