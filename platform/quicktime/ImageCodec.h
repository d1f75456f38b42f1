// Image codec components: the codec information record, the image-codec
// selectors, and the calls that pack them for the Component Manager.
//
// The base image decompressor ('imdc', 'base') is built in. A codec opens it
// as its delegate and hands it its own instance with ComponentSetTarget; the
// base calls back into that target. Its multiprocessor work function runs a
// codec's DrawBand on whatever thread calls it.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCompression.h"

constexpr OSType decompressorComponentType = FOUR_CHAR_CODE("imdc");
constexpr OSType compressorComponentType = FOUR_CHAR_CODE("imco");
constexpr OSType kBaseCodecType = FOUR_CHAR_CODE("base");
constexpr OSType codecInfoResourceType = FOUR_CHAR_CODE("cdci");

// The codec information record in its published layout: 72 bytes, stored
// big-endian in a codec's 'cdci' resource and host order in memory.
#pragma pack(push, 2)
struct CodecInfo {
  Str31 typeName;
  SInt16 version;
  SInt16 revisionLevel;
  SInt32 vendor;
  SInt32 decompressFlags;
  SInt32 compressFlags;
  SInt32 formatFlags;
  UInt8 compressionAccuracy;
  UInt8 decompressionAccuracy;
  UInt16 compressionSpeed;
  UInt16 decompressionSpeed;
  UInt8 compressionLevel;
  UInt8 resvd;
  SInt16 minimumHeight;
  SInt16 minimumWidth;
  SInt16 decompressPipelineLatency;
  SInt16 compressPipelineLatency;
  SInt32 privateData;
};
#pragma pack(pop)
static_assert(sizeof(CodecInfo) == 72, "a codec information record is 72 bytes");

enum : SInt16 {
  kImageCodecGetCodecInfoSelect = 0x0000,
  kImageCodecGetCompressionTimeSelect = 0x0001,
  kImageCodecGetMaxCompressionSizeSelect = 0x0002,
  kImageCodecPreCompressSelect = 0x0003,
  kImageCodecBandCompressSelect = 0x0004,
  kImageCodecPreDecompressSelect = 0x0005,
  kImageCodecBandDecompressSelect = 0x0006,
  kImageCodecBusySelect = 0x0007,
  kImageCodecGetCompressedImageSizeSelect = 0x0008,
  kImageCodecGetBaseMPWorkFunctionSelect = 0x0032,
  kImageCodecPreflightSelect = 0x0200,
  kImageCodecInitializeSelect = 0x0201,
  kImageCodecBeginBandSelect = 0x0202,
  kImageCodecDrawBandSelect = 0x0203,
  kImageCodecEndBandSelect = 0x0204,
  kImageCodecQueueStartingSelect = 0x0205,
  kImageCodecQueueStoppingSelect = 0x0206,
  kImageCodecDroppingFrameSelect = 0x0207,
};

// Records of the decompression and compression paths.
struct CodecDecompressParams;
struct CodecCompressParams;
struct ImageSubCodecDecompressCapabilities;
struct ImageSubCodecDecompressRecord;
struct ICMDataProcRecord;
typedef ICMDataProcRecord* ICMDataProcRecordPtr;

// DrawBand as the work function calls it: the codec's storage and the frame.
typedef ComponentResult (*ImageCodecMPDrawBandProcPtr)(void* refcon, ImageSubCodecDecompressRecord* drp);
typedef ImageCodecMPDrawBandProcPtr ImageCodecMPDrawBandUPP;
// The base decompressor's work function: runs one frame's DrawBand.
typedef ComponentResult (*ComponentMPWorkFunctionProcPtr)(void* globalRefCon, ImageSubCodecDecompressRecord* drp);
typedef ComponentMPWorkFunctionProcPtr ComponentMPWorkFunctionUPP;

extern "C" {
ComponentResult ImageCodecGetCodecInfo(ComponentInstance ci, CodecInfo* info);
ComponentResult ImageCodecGetCompressionTime(ComponentInstance ci, PixMapHandle src, const Rect* srcRect, SInt16 depth,
                                             CodecQ* spatialQuality, CodecQ* temporalQuality, UInt32* time);
ComponentResult ImageCodecGetMaxCompressionSize(ComponentInstance ci, PixMapHandle src, const Rect* srcRect,
                                                SInt16 depth, CodecQ quality, SInt32* size);
ComponentResult ImageCodecPreCompress(ComponentInstance ci, CodecCompressParams* params);
ComponentResult ImageCodecBandCompress(ComponentInstance ci, CodecCompressParams* params);
ComponentResult ImageCodecGetCompressedImageSize(ComponentInstance ci, ImageDescriptionHandle desc, Ptr data,
                                                 SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize);
ComponentResult ImageCodecPreflight(ComponentInstance ci, CodecDecompressParams* params);
ComponentResult ImageCodecInitialize(ComponentInstance ci, ImageSubCodecDecompressCapabilities* cap);
ComponentResult ImageCodecBeginBand(ComponentInstance ci, CodecDecompressParams* params,
                                    ImageSubCodecDecompressRecord* drp, SInt32 flags);
ComponentResult ImageCodecDrawBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp);
ComponentResult ImageCodecEndBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp, OSErr result,
                                  SInt32 flags);
ComponentResult ImageCodecQueueStarting(ComponentInstance ci);
ComponentResult ImageCodecQueueStopping(ComponentInstance ci);
ComponentResult ComponentGetMPWorkFunction(ComponentInstance ci, ComponentMPWorkFunctionUPP* workFunction,
                                           void** refCon);
// Asks the base decompressor for a work function that calls drawProc with
// drawProcRefCon and the frame's record.
ComponentResult ImageCodecGetBaseMPWorkFunction(ComponentInstance ci, ComponentMPWorkFunctionUPP* workFunction,
                                                void** refCon, ImageCodecMPDrawBandUPP drawProc,
                                                void* drawProcRefCon);
}
