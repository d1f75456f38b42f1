// Compressing one picture through a compressor component, as the Image
// Compression Manager does it: the codec sizes the buffer, is told the
// picture, and packs it as one band that is also the last.
#include <cstring>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

// The compressor of the codec type: one registered as a compressor, or a
// decompressor component that answers the compressor's selectors too.
OSErr openCompressor(CodecType cType, ComponentInstance* ci) {
  *ci = nullptr;
  if (OpenADefaultComponent(compressorComponentType, cType, ci) == noErr) return noErr;
  *ci = nullptr;
  if (OpenADefaultComponent(decompressorComponentType, cType, ci) != noErr) {
    *ci = nullptr;
    return noCodecErr;
  }
  if (CallComponentCanDo(*ci, kImageCodecBandCompressSelect) != 1 ||
      CallComponentCanDo(*ci, kImageCodecPreCompressSelect) != 1) {
    CloseComponent(*ci);
    *ci = nullptr;
    return noCodecErr;
  }
  return noErr;
}

}  // namespace

OSErr SkyloomCompressImage(const PixMap* src, const Rect* srcRect, CodecQ quality, CodecType cType,
                           ImageDescription* desc, Ptr* data, const ICMProgressProcRecord* progress) {
  if (!src || !desc || !data) return paramErr;
  *data = nullptr;
  const Rect r = srcRect ? *srcRect : src->bounds;
  const long w = long(r.right) - r.left, h = long(r.bottom) - r.top;
  if (w <= 0 || h <= 0 || !src->baseAddr || src->pixelSize <= 0 || src->pixelSize % 8 != 0) return paramErr;
  // The rectangle must lie inside the pixel map.
  const long bpp = src->pixelSize / 8;
  const long x0 = long(r.left) - src->bounds.left, y0 = long(r.top) - src->bounds.top;
  if (x0 < 0 || y0 < 0 || r.right > src->bounds.right || r.bottom > src->bounds.bottom ||
      (x0 + w) * bpp > long(src->rowBytes & 0x3FFFFFFF))
    return paramErr;

  ComponentInstance ci = nullptr;
  OSErr err = openCompressor(cType, &ci);
  if (err != noErr) return err;

  // The band the codec sees: the rectangle's pixels, bounds at the origin.
  PixMap band = *src;
  band.rowBytes = src->rowBytes & 0x3FFFFFFF;
  band.baseAddr = src->baseAddr + y0 * band.rowBytes + x0 * bpp;
  band.bounds = Rect{0, 0, SInt16(h), SInt16(w)};
  PixMap* bandPtr = &band;
  const Rect bandRect = band.bounds;

  SInt32 maxSize = 0;
  ComponentResult cr = ImageCodecGetMaxCompressionSize(ci, &bandPtr, &bandRect, src->pixelSize, quality, &maxSize);
  if (cr == noErr && maxSize <= 0) cr = codecErr;
  Ptr buffer = nullptr;
  if (cr == noErr) {
    buffer = NewPtr(maxSize);
    if (!buffer) cr = memFullErr;
  }

  CodecInfo info{};
  ImageDescription d{};
  d.idSize = sizeof d;
  d.cType = cType;
  d.version = 1;
  d.spatialQuality = quality;
  d.width = SInt16(w);
  d.height = SInt16(h);
  d.hRes = d.vRes = 72 << 16;
  d.frameCount = 1;
  d.depth = src->pixelSize;
  d.clutID = -1;
  if (cr == noErr && ImageCodecGetCodecInfo(ci, &info) == noErr) d.vendor = info.vendor;
  ImageDescription* dp = &d;

  CodecCapabilities caps{};
  CodecCompressParams p{};
  p.imageDescription = &dp;
  p.data = buffer;
  p.bufferSize = maxSize;
  p.capabilities = &caps;
  p.srcPixMap = band;
  p.spatialQuality = quality;
  if (progress) p.progressProcRecord = *progress;
  if (cr == noErr) cr = ImageCodecPreCompress(ci, &p);
  if (cr == noErr) {
    p.startLine = 0;
    p.stopLine = SInt32(h);
    p.conditionFlags = codecConditionLastBand;
    cr = ImageCodecBandCompress(ci, &p);
  }
  if (cr == noErr && (d.dataSize <= 0 || d.dataSize > maxSize)) cr = codecErr;
  CloseComponent(ci);
  if (cr != noErr) {
    if (buffer) DisposePtr(buffer);
    return OSErr(cr);
  }
  // One stored sample a source pixel: a quarter of its bits.
  d.depth = SInt16(src->pixelSize / 4);
  *desc = d;
  *data = buffer;
  return noErr;
}
