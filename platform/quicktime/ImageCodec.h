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

// A destination depth the decompressor does not draw.
enum : OSErr { cDepthErr = -157 };

// Capability flags a decompressor sets in Preflight.
enum : SInt32 {
  codecCanFastDither = 1 << 10,
  codecCanAsync = 1 << 13,
  codecRequiresOffscreen = 1 << 27,
};

// Records of the decompression and compression paths. They live in memory in
// host order; only the fields this system's codecs use are kept.
struct CodecCompressParams;

// Errors of the compression path.
enum : OSErr {
  codecSpoolErr = -8966,      // the flush procedure failed, or a row does not fit its buffer
  codecAbortErr = -8967,      // the progress procedure asked to stop
  codecConditionErr = -8972,  // the codec does not take this source
};

// Takes the bytesAdded bytes just written at data (a compressor then writes
// its next bytes at the same place). Non-zero stops the compression.
typedef OSErr (*ICMFlushProcPtr)(Ptr data, long bytesAdded, long refCon);
typedef ICMFlushProcPtr ICMFlushProcUPP;
struct ICMFlushProcRecord {
  ICMFlushProcUPP flushProc;  // null: the whole frame goes to the data buffer
  long flushRefCon;
};
typedef ICMFlushProcRecord* ICMFlushProcRecordPtr;

// Progress messages; with codecProgressUpdatePercent the completeness is the
// part done as a 16.16 fraction. Non-zero stops the compression.
enum : SInt16 {
  codecProgressOpen = 0,
  codecProgressUpdatePercent = 1,
  codecProgressClose = 2,
};
typedef OSErr (*ICMProgressProcPtr)(SInt16 message, Fixed completeness, long refCon);
typedef ICMProgressProcPtr ICMProgressProcUPP;
struct ICMProgressProcRecord {
  ICMProgressProcUPP progressProc;  // null: no progress is reported
  long progressRefCon;
};
typedef ICMProgressProcRecord* ICMProgressProcRecordPtr;

// Condition flags of a band.
enum : SInt32 { codecConditionLastBand = 1 << 1 };

// Loads more of a frame: makes bytesNeeded bytes available at *dataP.
typedef OSErr (*ICMDataProcPtr)(Ptr* dataP, long bytesNeeded, long refCon);
typedef ICMDataProcPtr ICMDataProcUPP;
struct ICMDataProcRecord {
  ICMDataProcUPP dataProc;  // null: the whole frame is in memory already
  long dataRefCon;
};
typedef ICMDataProcRecord* ICMDataProcRecordPtr;

// One band of a picture to compress, as the compressing host hands it to
// the codec. srcPixMap's base address is the address of its bounds'
// coordinate origin, so a codec finds the band's first pixel at base +
// bounds.left x bytes a pixel + bounds.top x rowBytes (the hosts of this
// layer pass bounds at the origin). The data buffer holds bufferSize bytes.
struct CodecCompressParams {
  SInt32 sequenceID;
  ImageDescriptionHandle imageDescription;  // width, height, depth; the codec sets dataSize
  Ptr data;
  SInt32 bufferSize;
  SInt32 frameNumber;
  SInt32 startLine;
  SInt32 stopLine;
  SInt32 conditionFlags;  // codecConditionLastBand on the picture's last band
  UInt16 callerFlags;
  struct CodecCapabilities* capabilities;  // answered by PreCompress
  ICMProgressProcRecord progressProcRecord;
  ICMFlushProcRecord flushProcRecord;
  PixMap srcPixMap;
  CodecQ spatialQuality;
  CodecQ temporalQuality;
  UInt8 similarity;  // 0: nothing of the previous frame was kept
};

// What a decompressor answers in Preflight.
struct CodecCapabilities {
  SInt32 flags;
  SInt16 wantedPixelSize;
  SInt16 extendWidth;
  SInt16 extendHeight;
  SInt16 bandMin;
  SInt16 bandInc;
  SInt16 pipelineLatency;
  UInt32 time;  // the decoder's estimate of one frame's cost
  SInt32 flags2;
};

// One frame to decompress, as the base decompressor hands it to the codec.
struct CodecDecompressParams {
  SInt32 sequenceID;
  ImageDescriptionHandle imageDescription;
  Ptr data;
  SInt32 bufferSize;  // bytes of the frame present at data
  SInt32 frameNumber;
  SInt32 startLine;
  SInt32 stopLine;
  SInt32 conditionFlags;
  UInt16 callerFlags;
  CodecCapabilities* capabilities;
  ICMDataProcRecord dataProcRecord;
  PixMap dstPixMap;
  Rect srcRect;
  Rect dstRect;
  CodecQ accuracy;
  SInt16 transferMode;
  // Set by Preflight: a handle of zero-terminated OSType slots naming the
  // destination pixel formats the codec draws. The codec keeps ownership.
  OSType** wantedDestinationPixelTypes;
};

// Answered by the codec's Initialize, once per sequence.
struct ImageSubCodecDecompressCapabilities {
  SInt32 recordSize;            // bytes of this record, set by the caller
  SInt32 decompressRecordSize;  // bytes of the codec's own per-frame record
  Boolean canAsync;             // DrawBand may run later, on another thread
};

// One frame between BeginBand and DrawBand.
struct ImageSubCodecDecompressRecord {
  Ptr baseAddr;  // where the frame is drawn (BeginBand may move it)
  SInt32 rowBytes;
  Ptr codecData;  // the frame's bytes
  ICMDataProcRecord dataProcRecord;
  void* userDecompressRecord;  // the codec's per-frame record, zero-filled
  UInt8 frameType;
};

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

// ---- Decompression sequences: the base image decompressor's frame loop ----
//
// A sequence holds one open decompressor for a codec type. Each frame goes
// through it as QuickTime drives an image sub-codec: Initialize (once per
// sequence: the per-frame record's size and whether DrawBand may run
// asynchronously), Preflight, the destination's pixel format checked against
// those the codec offers, BeginBand with a zero-filled per-frame record, then
// DrawBand (through the codec's multiprocessor work function when it can run
// asynchronously, else directly) and EndBand. The frame's bytes are passed
// whole, with their true size as the buffer size and no data procedure.
//
// Frames may be decompressed through one sequence from several threads at
// once: the codec's set-up calls (Preflight, BeginBand) are taken one at a
// time, DrawBand and EndBand run on the caller's thread unlocked.
struct SkyloomDecompressSequenceRecord;
typedef SkyloomDecompressSequenceRecord* SkyloomDecompressSequence;

// noCodecErr when no decompressor of the codec type is registered.
OSErr SkyloomOpenDecompressSequence(CodecType codec, SkyloomDecompressSequence* seq);
void SkyloomCloseDecompressSequence(SkyloomDecompressSequence seq);
// Decodes the frame of `desc` held in the bufferSize bytes at data into dst,
// its top-left pixel at dstRect's top-left (the whole frame must fit in the
// pixel map: paramErr otherwise). Returns the codec's error, or cDepthErr
// when the codec does not draw into dst's pixel format.
OSErr SkyloomDecompressFrame(SkyloomDecompressSequence seq, ImageDescriptionHandle desc, Ptr data,
                             SInt32 bufferSize, const PixMap* dst, const Rect* dstRect);
// ---- Compressing one picture ----
//
// Compresses the srcRect part of src (the whole pixel map when srcRect is
// null) into a new block through the compressor of the codec type, as the
// Image Compression Manager compresses one image: the codec's
// GetMaxCompressionSize sizes the block, PreCompress is given the picture's
// description (its depth the source's), then one BandCompress covers the
// whole picture as its last band. The codec is looked up as a compressor
// ('imco') first, then as a decompressor component that also answers the
// compressor selectors; noCodecErr when neither is registered.
//
// On success *data is a new pointer block (DisposePtr) holding desc's
// dataSize bytes of frame, and desc describes it: the codec type, the
// codec's vendor, the picture's size and quality, and the depth of one
// stored sample (a quarter of the source's bits a pixel). progress may be
// null.
OSErr SkyloomCompressImage(const PixMap* src, const Rect* srcRect, CodecQ quality, CodecType cType,
                           ImageDescription* desc, Ptr* data, const ICMProgressProcRecord* progress);

// Tests only: a routine called on the decoding thread between a frame's
// BeginBand and its DrawBand (null to remove it).
void SkyloomSetDecompressPausePoint(void (*pause)(void* refCon), void* refCon);
