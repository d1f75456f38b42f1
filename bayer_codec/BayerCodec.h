// The ORX_BAYER image codec component: the instance storage record and the
// routines the Component Manager reaches through the selector table.
//
// The component is a plug-in: it links no library of the project and reaches
// the Component Manager, the Memory Manager and Gestalt by name in the program
// that loads it. Every routine returns a ComponentResult.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

// One per open instance, zero-filled at open and freed at close. DrawBand
// never reads it, so frames may be drawn on several threads at once.
struct BayerCodecGlobals {
  ComponentInstance self;
  ComponentInstance delegate;  // the base image decompressor; null until opened
  ComponentInstance target;    // self at open; replaced by Target
  ImageCodecMPDrawBandUPP drawBandProc;  // set once by GetMPWorkFunction
  UInt32 methodOverride;       // 99: the method follows the frame's spatial quality
  double speedFactor;          // 1.0, or 450 / processor MHz
  Handle wantedPixelFormats;   // four OSType slots offered by Preflight
};

// The per-frame record QuickTime allocates (its size is declared by
// Initialize), filled by BeginBand and read by the same frame's DrawBand.
struct BayerDecompressRecord {
  SInt32 width;           // samples a row, from the image description
  SInt32 height;          // rows
  SInt32 bytesPerSample;  // 1 or 2
  SInt32 dataSize;        // bytes of the frame, trailer included
  UInt32 method;          // demosaic method: 0, 1, 2 (or 255)
  UInt8 hasTrailer;       // the 4-byte pattern code follows the samples
};

// The component's version: interface 2, revision 2.
constexpr ComponentResult kBayerCodecVersion = 0x00020002;
constexpr UInt32 kBayerMethodFromQuality = 99;

extern "C" {
ComponentResult Bayer_ImageCodecComponentDispatch(ComponentParameters* params, Handle storage);
ComponentResult Bayer_ImageCodecOpen(BayerCodecGlobals* storage, ComponentInstance self);
ComponentResult Bayer_ImageCodecClose(BayerCodecGlobals* storage, ComponentInstance self);
ComponentResult Bayer_ImageCodecCanDo(BayerCodecGlobals* storage, SInt16 ftnNumber);
ComponentResult Bayer_ImageCodecVersion(BayerCodecGlobals* storage);
ComponentResult Bayer_ImageCodecTarget(BayerCodecGlobals* storage, ComponentInstance target);
ComponentResult Bayer_ImageCodecGetMPWorkFunction(BayerCodecGlobals* storage, ComponentMPWorkFunctionUPP* workFunction,
                                                  void** refCon);
ComponentResult Bayer_ImageCodecGetCodecInfo(BayerCodecGlobals* storage, CodecInfo* info);
// Offers 32-bit ARGB (and 'b48r', 'b64a' for 16-bit frames), the whole frame
// as one band, and the decode-time estimate of the quality's method.
ComponentResult Bayer_ImageCodecPreflight(BayerCodecGlobals* storage, CodecDecompressParams* p);
ComponentResult Bayer_ImageCodecInitialize(BayerCodecGlobals* storage, ImageSubCodecDecompressCapabilities* cap);
// Sets up one frame; codecBadDataErr (nothing will be drawn) unless width and
// height are positive, the data size is width x height x 1 or 2 bytes (plus
// 4 for the pattern code), the buffer holds it, and the destination's rows
// suit the engine.
ComponentResult Bayer_ImageCodecBeginBand(BayerCodecGlobals* storage, CodecDecompressParams* p,
                                          ImageSubCodecDecompressRecord* drp, SInt32 flags);
ComponentResult Bayer_ImageCodecDrawBand(BayerCodecGlobals* storage, ImageSubCodecDecompressRecord* drp);
ComponentResult Bayer_ImageCodecEndBand(BayerCodecGlobals* storage, ImageSubCodecDecompressRecord* drp, OSErr result,
                                        SInt32 flags);
ComponentResult Bayer_ImageCodecQueueStarting(BayerCodecGlobals* storage);
ComponentResult Bayer_ImageCodecQueueStopping(BayerCodecGlobals* storage);
// The compressor: 32- or 64-bit ARGB pictures to raw Bayer frames ('BGGR').
ComponentResult Bayer_ImageCodecPreCompress(BayerCodecGlobals* storage, CodecCompressParams* p);
ComponentResult Bayer_ImageCodecBandCompress(BayerCodecGlobals* storage, CodecCompressParams* p);
ComponentResult Bayer_ImageCodecGetMaxCompressionSize(BayerCodecGlobals* storage, PixMapHandle src,
                                                      const Rect* srcRect, SInt16 depth, CodecQ quality,
                                                      SInt32* size);
ComponentResult Bayer_ImageCodecGetCompressionTime(BayerCodecGlobals* storage, PixMapHandle src, const Rect* srcRect,
                                                   SInt16 depth, CodecQ* spatialQuality, CodecQ* temporalQuality,
                                                   UInt32* time);
ComponentResult Bayer_ImageCodecGetCompressedImageSize(BayerCodecGlobals* storage, ImageDescriptionHandle desc,
                                                       Ptr data, SInt32 bufferSize, ICMDataProcRecordPtr dataProc,
                                                       SInt32* dataSize);
// Packs one row of width pixels (pixelDepth 32 or 64) into width samples of
// the BGGR mosaic: rowPhase 0 keeps blue, green; 1 keeps green, red.
void myPackRowToBayer(void* destination, const void* sourceRow, UInt32 width, UInt32 pixelDepth, UInt32 rowPhase);
// Spatial quality to demosaic method: up to 256 cells (0), up to 768
// bilinear (1), above that the 5x5 gradients (2).
UInt32 QTQualitytoBayerMethod(UInt32 spatialQuality);
// The destination formats offered for 16-bit frames.
extern const UInt32 kNumPixelFormatsSupported;
}
