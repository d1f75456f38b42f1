// The ORX_BAYER compressor: colour pictures to raw Bayer frames.
//
// Each source pixel keeps the one channel its place in a BGGR mosaic keeps:
// even rows blue, green; odd rows green, red. A 32-bit ARGB pixel gives one
// 8-bit sample; a 64-bit ARGB pixel (16-bit channels in host order) gives one
// 16-bit sample, stored big-endian. Rows are exactly width samples long, so
// the frame is the one the decompressor reads (stride width, no padding),
// and the last band ends with the pattern code 'B' 'G' 'G' 'R'.
#include <cstring>

#include "bayer_codec/BayerCodec.h"
#include "platform/coreservices/CoreServices.h"

namespace {

constexpr UInt32 kRowBytesFlags = 0xC0000000u;  // flag bits a pixel map may carry in rowBytes

// Offsets within an ARGB pixel of the channel a BGGR mosaic keeps, by row
// phase: even columns first, then odd ones.
constexpr int kEvenChannel[2] = {3, 2};  // blue, green
constexpr int kOddChannel[2] = {2, 1};   // green, red

long evenWidth(long width) { return (width + 1) & ~1L; }

void pack32(UInt8* dst, const UInt8* src, long width, int phase) {
  const int e = kEvenChannel[phase], o = kOddChannel[phase];
  long x = 0;
  // Groups of four pixels give four samples.
  for (; x + 4 <= width; x += 4, src += 16, dst += 4) {
    dst[0] = src[e];
    dst[1] = src[4 + o];
    dst[2] = src[8 + e];
    dst[3] = src[12 + o];
  }
  // Then a pair, and a last single sample of an odd width.
  for (; x + 2 <= width; x += 2, src += 8, dst += 2) {
    dst[0] = src[e];
    dst[1] = src[4 + o];
  }
  if (x < width) dst[0] = src[e];
}

void put16(UInt8* dst, UInt16 v) {
  dst[0] = UInt8(v >> 8);
  dst[1] = UInt8(v);
}

void pack64(UInt8* dst, const UInt8* src, long width, int phase) {
  const int e = kEvenChannel[phase], o = kOddChannel[phase];
  const auto* px = reinterpret_cast<const UInt16*>(src);
  long x = 0;
  for (; x + 2 <= width; x += 2, px += 8, dst += 4) {
    put16(dst, px[e]);
    put16(dst + 2, px[4 + o]);
  }
  if (x < width) put16(dst, px[e]);
}

// Bytes of one stored sample for a source of this many bits a pixel.
long sampleBytes(long pixelSize) { return pixelSize == 64 ? 2 : 1; }

}  // namespace

extern "C" void myPackRowToBayer(void* destination, const void* sourceRow, UInt32 width, UInt32 pixelDepth,
                                 UInt32 rowPhase) {
  const int phase = rowPhase & 1;
  if (pixelDepth == 64)
    pack64(static_cast<UInt8*>(destination), static_cast<const UInt8*>(sourceRow), long(width), phase);
  else if (pixelDepth == 32)
    pack32(static_cast<UInt8*>(destination), static_cast<const UInt8*>(sourceRow), long(width), phase);
}

extern "C" ComponentResult Bayer_ImageCodecPreCompress(BayerCodecGlobals*, CodecCompressParams* p) {
  if (!p || !p->imageDescription || !*p->imageDescription || !p->capabilities) return paramErr;
  const ImageDescription& d = **p->imageDescription;
  if (d.depth != 32 && d.depth != 64) return codecConditionErr;
  CodecCapabilities& cap = *p->capabilities;
  cap.wantedPixelSize = d.depth;
  // The whole picture is one band.
  cap.bandMin = d.height;
  cap.bandInc = d.height;
  cap.extendWidth = d.width;
  cap.extendHeight = d.height;
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecBandCompress(BayerCodecGlobals*, CodecCompressParams* p) {
  if (!p || !p->imageDescription || !*p->imageDescription) return paramErr;
  const PixMap& src = p->srcPixMap;
  if (src.pixelSize % 16 != 0 || (src.pixelSize != 32 && src.pixelSize != 64)) return codecErr;
  ImageDescription& d = **p->imageDescription;
  const long width = d.width, height = d.height;
  if (width <= 0 || height <= 0 || !src.baseAddr || !p->data) return codecErr;

  const long bpp = src.pixelSize / 8;
  const long srcStride = long(UInt32(src.rowBytes) & ~kRowBytesFlags);
  if (srcStride < width * bpp) return codecErr;
  const UInt8* in = reinterpret_cast<const UInt8*>(src.baseAddr) + long(src.bounds.left) * bpp +
                    long(src.bounds.top) * srcStride;

  long rows = long(p->stopLine) - p->startLine;
  if (rows > height) rows = height;
  if (rows < 0) rows = 0;
  const long bps = sampleBytes(src.pixelSize);
  const long rowBytes = width * bps;
  const long frameBytes = width * height * bps;
  const bool lastBand = (p->conditionFlags & codecConditionLastBand) != 0;
  const ICMFlushProcUPP flush = p->flushProcRecord.flushProc;
  const ICMProgressProcUPP progress = p->progressProcRecord.progressProc;
  const long bufferSize = p->bufferSize;

  // The buffer must hold what is written into it: one row when a flush
  // procedure takes each row, else the band's rows, and the pattern code
  // after the frame on the last band.
  if (flush) {
    if (rowBytes > bufferSize) return codecSpoolErr;
  } else if (rows * rowBytes > bufferSize) {
    return codecErr;
  }
  if (lastBand && !flush && frameBytes + 4 > bufferSize) return codecErr;

  UInt8* out = reinterpret_cast<UInt8*>(p->data);
  int phase = p->startLine & 1;
  ComponentResult result = noErr;
  for (long r = 0; r < rows; ++r) {
    myPackRowToBayer(out, in, UInt32(width), UInt32(src.pixelSize), UInt32(phase));
    phase ^= 1;
    in += srcStride;
    if (flush) {
      if (flush(reinterpret_cast<Ptr>(out), rowBytes, p->flushProcRecord.flushRefCon) != noErr) {
        result = codecSpoolErr;
        break;
      }
    } else {
      out += rowBytes;
    }
    if (progress && progress(codecProgressUpdatePercent, FixDiv(Fixed(r), Fixed(rows)),
                             p->progressProcRecord.progressRefCon) != noErr) {
      result = codecAbortErr;
      break;
    }
  }

  if (lastBand) {
    d.dataSize = SInt32(frameBytes + 4);
    static const UInt8 kPattern[4] = {'B', 'G', 'G', 'R'};
    UInt8* base = reinterpret_cast<UInt8*>(p->data);
    if (frameBytes + 4 <= bufferSize) {
      std::memcpy(base + frameBytes, kPattern, 4);
    } else if (result == noErr) {
      // A flushed frame whose buffer holds a row only: the pattern code
      // follows the rows through the flush procedure.
      std::memcpy(base, kPattern, 4);
      if (flush(reinterpret_cast<Ptr>(base), 4, p->flushProcRecord.flushRefCon) != noErr) result = codecSpoolErr;
    }
    p->similarity = 0;
  }
  return result;
}

extern "C" ComponentResult Bayer_ImageCodecGetMaxCompressionSize(BayerCodecGlobals*, PixMapHandle, const Rect* srcRect,
                                                                 SInt16 depth, CodecQ, SInt32* size) {
  if (!srcRect || !size) return paramErr;
  const long w = evenWidth(long(srcRect->right) - srcRect->left);
  const long h = long(srcRect->bottom) - srcRect->top;
  if (w < 0 || h < 0) return paramErr;
  *size = SInt32((depth <= 32 ? 1 : 2) * w * h + 4);
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecGetCompressionTime(BayerCodecGlobals*, PixMapHandle, const Rect*, SInt16,
                                                              CodecQ*, CodecQ* temporalQuality, UInt32* time) {
  if (time) *time = 5;
  if (temporalQuality) *temporalQuality = 0;
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecGetCompressedImageSize(BayerCodecGlobals*, ImageDescriptionHandle desc, Ptr,
                                                                  SInt32, ICMDataProcRecordPtr, SInt32* dataSize) {
  if (!dataSize) return paramErr;
  if (!desc || !*desc) return paramErr;
  const ImageDescription& d = **desc;
  const long samples = long(d.width) * d.height;
  *dataSize = SInt32((d.depth == 8 ? 1 : 2) * samples + 4);
  return noErr;
}
