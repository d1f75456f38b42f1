// Image Compression Manager stand-in: the image description record and colour
// tables that movie sample descriptions carry. Records live in memory in host
// order, as the rest of the system's data does; they are turned into the
// big-endian file form only where they are written.
#pragma once
#include "platform/coreservices/MacTypes.h"

typedef OSType CodecType;
typedef UInt32 CodecQ;

enum : CodecQ {
  codecMinQuality = 0x000,
  codecLowQuality = 0x100,
  codecNormalQuality = 0x200,
  codecHighQuality = 0x300,
  codecMaxQuality = 0x3FF,
  codecLosslessQuality = 0x400,
};

#pragma pack(push, 2)
struct ImageDescription {
  SInt32 idSize;  // this record plus whatever follows it (a colour table)
  CodecType cType;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  CodecQ temporalQuality;
  CodecQ spatialQuality;
  SInt16 width;
  SInt16 height;
  Fixed hRes;
  Fixed vRes;
  SInt32 dataSize;
  SInt16 frameCount;
  Str31 name;
  SInt16 depth;
  SInt16 clutID;
};
#pragma pack(pop)
static_assert(sizeof(ImageDescription) == 86, "an image description is 86 bytes");
typedef ImageDescription* ImageDescriptionPtr;
typedef ImageDescriptionPtr* ImageDescriptionHandle;

struct ColorSpec {
  SInt16 value;
  RGBColor rgb;
};
struct ColorTable {
  SInt32 ctSeed;
  SInt16 ctFlags;
  SInt16 ctSize;  // entries less one
  ColorSpec ctTable[1];
};
static_assert(sizeof(ColorSpec) == 8, "a colour entry is 8 bytes");
constexpr long kColorTableHeaderBytes = 8;
typedef ColorTable* CTabPtr;
typedef CTabPtr* CTabHandle;
