// Basic types and result codes shared by every platform stand-in and by the
// system's own code. Integer widths are fixed; samples are host order.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef unsigned char Boolean;
typedef float Float32;
typedef double Float64;
typedef int32_t OSStatus;
typedef int16_t OSErr;
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;
typedef FourCharCode ResType;
typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;
typedef int32_t Fixed;
typedef Fixed* FixedPtr;
typedef int32_t Fract;
typedef uint32_t UnsignedFixed;
typedef int16_t ShortFixed;
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char Str31[32];
typedef unsigned char Str32[33];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;
typedef const unsigned char* ConstStr255Param;
typedef const unsigned char* ConstStr63Param;
typedef uint16_t UniChar;
typedef uint32_t UniCharCount;
typedef uint32_t ItemCount;
typedef uint32_t ByteCount;
typedef uint32_t OptionBits;
typedef int16_t ScriptCode;
typedef int16_t LangCode;
typedef int32_t TimeValue;
typedef int32_t TimeScale;
typedef int64_t TimeValue64;
typedef void* LogicalAddress;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Two 32-bit halves; laid out in host order so a memcpy to UInt64 gives the value.
struct UnsignedWide {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  UInt32 hi;
  UInt32 lo;
#else
  UInt32 lo;
  UInt32 hi;
#endif
};
struct wide {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  SInt32 hi;
  UInt32 lo;
#else
  UInt32 lo;
  SInt32 hi;
#endif
};

struct Point {
  short v;
  short h;
};
struct Rect {
  short top;
  short left;
  short bottom;
  short right;
};
// QuickDraw's colour: 16 bits a component, full scale 65535.
struct RGBColor {
  UInt16 red;
  UInt16 green;
  UInt16 blue;
};

// Four-character codes as integers: 'abcd' has 'a' in the most significant byte.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5]) {
  return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
         (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

enum : OSStatus {
  noErr = 0,
  paramErr = -50,
  memFullErr = -108,
  nilHandleErr = -109,
  memWZErr = -111,
  memLockedErr = -117,
  userCanceledErr = -128,
  dskFulErr = -34,
  nsvErr = -35,
  ioErr = -36,
  bdNamErr = -37,
  fnOpnErr = -38,
  eofErr = -39,
  posErr = -40,
  tmfoErr = -42,
  fnfErr = -43,
  wPrErr = -44,
  fLckdErr = -45,
  vLckdErr = -46,
  fBsyErr = -47,
  dupFNErr = -48,
  opWrErr = -49,
  permErr = -54,
  wrPermErr = -61,
  dirNFErr = -120,
  errFSBadFSRef = -1401,
  errFSBadForkRef = -1402,
  errFSBadBuffer = -1403,
  errFSBadForkName = -1405,
  errFSNotAFolder = -1407,
  errFSBadPosMode = -1408,
  errFSBadAllocFlags = -1410,
  errFSMissingName = -1411,
  errFSNameTooLong = -1412,
  gestaltUndefSelectorErr = -5551,
  eventNotHandledErr = -9874,
  unimpErr = -4,
};
