// The decompression selectors of the ORX_BAYER component: what it draws into
// and at what cost (Preflight), its per-frame record (Initialize), a frame's
// set-up (BeginBand) and its decoding through the demosaic engine (DrawBand).
#include <cstring>

#include "bayer_codec/BayerCodec.h"
#include "bayer_codec/BayerDecode.h"
#include "platform/coreservices/CoreServices.h"

extern "C" const UInt32 kNumPixelFormatsSupported = 3;

namespace {

constexpr OSType kRGGB = FOUR_CHAR_CODE("RGGB");

// Decode cost of each method, for Preflight's time estimate.
double methodCost(UInt32 method) {
  switch (method) {
    case kBayerMethodCells: return 25.0;
    case kBayerMethodBilinear: return 36.0;
    case kBayerMethodGradients: return 1850.0;
    default: return 2.0;  // the raw copy
  }
}

UInt32 bigEndian32(const UInt8* p) {
  return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | UInt32(p[3]);
}

// The frame's pattern: its trailer read big-endian, or 'RGGB' without one.
OSType patternOf(const BayerDecompressRecord& rec, const UInt8* frame) {
  if (!rec.hasTrailer) return kRGGB;
  return bigEndian32(frame + size_t(rec.width) * size_t(rec.height) * size_t(rec.bytesPerSample));
}

void decode(const BayerDecompressRecord& rec, const UInt8* frame, const ImageSubCodecDecompressRecord& drp) {
  Bayer_DecodetoPixMap(frame, drp.baseAddr, patternOf(rec, frame), rec.bytesPerSample, rec.method,
                       UInt32(drp.rowBytes), UInt32(rec.width), UInt32(rec.height));
}

}  // namespace

extern "C" UInt32 QTQualitytoBayerMethod(UInt32 spatialQuality) {
  if (spatialQuality <= codecLowQuality) return kBayerMethodCells;
  if (spatialQuality <= codecHighQuality) return kBayerMethodBilinear;
  return kBayerMethodGradients;
}

extern "C" ComponentResult Bayer_ImageCodecPreflight(BayerCodecGlobals* storage, CodecDecompressParams* p) {
  if (!storage || !p || !p->capabilities || !p->imageDescription || !*p->imageDescription) return paramErr;
  const ImageDescription& d = **p->imageDescription;
  CodecCapabilities& caps = *p->capabilities;
  caps.flags = codecCanFastDither | codecCanAsync | codecRequiresOffscreen;

  const long area = long(d.width) * long(d.height);
  OSType slots[4] = {k32ARGBPixelFormat, 0, 0, 0};
  if (area != 0 && d.depth == 16) {
    slots[1] = k48RGBPixelFormat;
    slots[2] = k64ARGBPixelFormat;
    caps.wantedPixelSize = 48;
  } else {
    caps.wantedPixelSize = 32;
  }
  if (storage->wantedPixelFormats && GetHandleSize(storage->wantedPixelFormats) >= Size(sizeof slots))
    std::memcpy(*storage->wantedPixelFormats, slots, sizeof slots);
  p->wantedDestinationPixelTypes = reinterpret_cast<OSType**>(storage->wantedPixelFormats);

  // The whole frame is one band.
  caps.extendWidth = 0;
  caps.extendHeight = 0;
  caps.bandMin = d.height;
  caps.bandInc = d.height;

  // 0.8 / 1048576 per pixel, scaled by the method's cost and the processor.
  double t = methodCost(QTQualitytoBayerMethod(d.spatialQuality)) * storage->speedFactor * double(d.width) *
             double(d.height) * 7.62939453125e-7;
  if (!(t > 0.0)) t = 0.0;
  if (t > 4294967295.0) t = 4294967295.0;
  caps.time = UInt32(t);
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecInitialize(BayerCodecGlobals*, ImageSubCodecDecompressCapabilities* cap) {
  if (!cap) return paramErr;
  cap->decompressRecordSize = SInt32(sizeof(BayerDecompressRecord));
  cap->canAsync = true;
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecBeginBand(BayerCodecGlobals* storage, CodecDecompressParams* p,
                                                     ImageSubCodecDecompressRecord* drp, SInt32) {
  if (!storage || !p || !drp || !drp->userDecompressRecord || !p->imageDescription || !*p->imageDescription)
    return paramErr;
  auto& rec = *static_cast<BayerDecompressRecord*>(drp->userDecompressRecord);
  // A refused frame leaves a record of no area, which DrawBand does not draw.
  rec = BayerDecompressRecord{};
  const ImageDescription& d = **p->imageDescription;

  // The sizes must describe the sample exactly and the sample must hold them;
  // the engine trusts them.
  const long long w = d.width, h = d.height;
  if (w <= 0 || h <= 0) return codecBadDataErr;
  const long long n = w * h, dataSize = d.dataSize;
  const long long bps = dataSize / n;
  if (bps != 1 && bps != 2) return codecBadDataErr;
  if (dataSize != n * bps && dataSize != n * bps + 4) return codecBadDataErr;
  if (p->bufferSize < dataSize) return codecBadDataErr;
  // The engine draws by rowBytes / width: a 16-bit frame needs the rows of
  // the destination's own depth, an 8-bit one (always ARGB) rows of 4 bytes
  // a pixel at least.
  if (bps == 2 && (drp->rowBytes / w) * 8 != p->dstPixMap.pixelSize) return codecBadDataErr;
  if (bps == 1 && drp->rowBytes < 4 * w) return codecBadDataErr;

  const PixMap& pm = p->dstPixMap;
  drp->baseAddr = pm.baseAddr + (long(p->dstRect.top) - pm.bounds.top) * long(drp->rowBytes) +
                  (long(p->dstRect.left) - pm.bounds.left) * (pm.pixelSize / 8);
  drp->frameType = 1;
  rec.width = SInt32(w);
  rec.height = SInt32(h);
  rec.method = storage->methodOverride != kBayerMethodFromQuality ? storage->methodOverride
                                                                   : QTQualitytoBayerMethod(d.spatialQuality);
  rec.bytesPerSample = SInt32(bps);
  rec.dataSize = SInt32(dataSize);
  rec.hasTrailer = dataSize > n * bps ? 1 : 0;
  return noErr;
}

// Reads only the frame's records and buffers, never the storage: QuickTime
// may run it for several frames at once.
extern "C" ComponentResult Bayer_ImageCodecDrawBand(BayerCodecGlobals*, ImageSubCodecDecompressRecord* drp) {
  if (!drp || !drp->userDecompressRecord) return paramErr;
  const auto& rec = *static_cast<const BayerDecompressRecord*>(drp->userDecompressRecord);
  if (rec.width <= 0 || rec.height <= 0) return noErr;
  if (ICMDataProcUPP load = drp->dataProcRecord.dataProc) {
    // The frame is loaded whole, trailer included, in one request.
    Ptr data = drp->codecData;
    OSErr err = load(&data, long(rec.dataSize), drp->dataProcRecord.dataRefCon);
    if (err != noErr) return err;
    decode(rec, reinterpret_cast<const UInt8*>(data), *drp);
    return noErr;
  }
  decode(rec, reinterpret_cast<const UInt8*>(drp->codecData), *drp);
  return noErr;
}
