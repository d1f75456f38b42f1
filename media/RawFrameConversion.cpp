#include "media/RawFrameConversion.h"

#include "media/BayerDemosaic.h"
#include "media/CameraHandleFields.h"
#include "media/MediaMemory.h"
#include "media/PixelFormatKernels.h"
#include "utilities/BayerPhase.h"

namespace {

constexpr UInt32 kRaw = FOUR_CHAR_CODE("raw ");
constexpr UInt32 k2vuy = FOUR_CHAR_CODE("2vuy");
constexpr UInt32 kV308 = FOUR_CHAR_CODE("v308");
constexpr UInt32 kY411 = FOUR_CHAR_CODE("Y411");

// A raw Bayer code: 'b' or 'm', a quality letter, a letter pair.
struct BayerCode {
  bool colour;
  char quality;    // 'l', 'm', 'h' (colour) or 'l', 'm', 'H' (grey)
  bool grbg;       // kernel family GRBG, else RGGB
  UInt8 startRow;  // 1 when row 0 is the family's red row
};

bool parseBayerCode(UInt32 code, BayerCode* out) {
  const char c0 = char(code >> 24), c1 = char(code >> 16), c2 = char(code >> 8), c3 = char(code);
  bool colour;
  if (c0 == 'b' && (c1 == 'l' || c1 == 'm' || c1 == 'h'))
    colour = true;
  else if (c0 == 'm' && (c1 == 'l' || c1 == 'm' || c1 == 'H'))
    colour = false;
  else
    return false;
  const bool rg = c2 == 'R' && c3 == 'G', gr = c2 == 'G' && c3 == 'R';
  const bool gb = c2 == 'G' && c3 == 'B', bg = c2 == 'B' && c3 == 'G';
  if (!(rg || gr || gb || bg)) return false;
  out->colour = colour;
  out->quality = c1;
  // Colour codes read 'BG' as GBRG and 'GB' as BGGR; grey codes name row 0.
  out->grbg = colour ? (gr || gb) : (gr || bg);
  out->startRow = (c2 == 'R' || c3 == 'R') ? 1 : 0;
  return true;
}

// The 12-bit unpack buffer of this thread. Unshared, so a grab on the main
// thread and the live conversion on the delivery thread never meet in it.
struct ThreadScratch {
  void* p = nullptr;
  size_t size = 0;
  ~ThreadScratch() { myMediaFree(p); }
};
thread_local ThreadScratch tScratch;

void* threadScratch(size_t bytes) {
  if (tScratch.size >= bytes) return tScratch.p;
  void* fresh = myMediaAlloc(bytes);
  if (fresh == nullptr) return nullptr;
  myMediaFree(tScratch.p);
  tScratch.p = fresh;
  tScratch.size = bytes;
  return fresh;
}

// The top 8 bits of every 12-bit sample: b0 and b2 of each triple.
void unpack12To8(const UInt8* s, UInt8* d, UInt64 pixels) {
  const UInt64 pairs = pixels / 2;
  for (UInt64 i = 0; i < pairs; ++i) {
    d[0] = s[0];
    d[1] = s[2];
    s += 3;
    d += 2;
  }
  if (pixels & 1) d[0] = s[0];
}

BayerDemosaicKernel colour8Kernel(const BayerCode& c) {
  switch (c.quality) {
    case 'l': return c.grbg ? BayerGRBG8_LQ_ARGB32 : BayerRGGB8_LQ_ARGB32;
    case 'm': return c.grbg ? BayerGRBG8_MQ_ARGB32 : BayerRGGB8_MQ_ARGB32;
    default: return c.grbg ? BayerGRBG8_HQ_ARGB32 : BayerRGGB8_HQ_ARGB32;
  }
}

BayerDemosaicKernel colour16ToRGB48Kernel(const BayerCode& c) {
  switch (c.quality) {
    case 'l': return c.grbg ? BayerGRBG16_LQ_RGB48 : BayerRGGB16_LQ_RGB48;
    case 'm': return c.grbg ? BayerGRBG16_MQ_RGB48 : BayerRGGB16_MQ_RGB48;
    default: return c.grbg ? BayerGRBG16_HQ_RGB48 : BayerRGGB16_HQ_RGB48;
  }
}

// The high-quality rule at full 16-bit precision, reduced to the high bytes
// pixel by pixel; no intermediate RGB48 frame.
void colour16HQToARGB32(const void* src, UInt8* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height,
                        const BayerCode& c) {
  UInt16 nb[25];
  const MyBayerPhase phase = myBayerPhase(c.grbg, c.startRow);
  for (UInt32 y = 0; y < height; ++y) {
    UInt8* d = dst + size_t(y) * dstRowBytes;
    const UInt8 redRow = phase.redRow(y) ? 1 : 0;
    for (UInt32 x = 0; x < width; ++x, d += 4) {
      myEX16PixArrs(src, width, height, x, y, nb);
      UInt16 r, g, b;
      myGRDPixArrs(nb, phase.green(x, y) ? 1 : 0, redRow, 65535, &r, &g, &b);
      d[0] = 0xFF;
      d[1] = UInt8(r >> 8);
      d[2] = UInt8(g >> 8);
      d[3] = UInt8(b >> 8);
    }
  }
}

OSStatus convertBayerToARGB32(const BayerCode& c, const void* src, UInt32 width, UInt32 height,
                              UInt32 bits, void* dst, UInt32 dstRowBytes, UInt64 pixels) {
  if (bits == 12) {
    UInt8* unpacked = static_cast<UInt8*>(threadScratch(size_t(pixels) * 2 + 16));
    if (unpacked == nullptr) return memFullErr;
    unpack12To8(static_cast<const UInt8*>(src), unpacked, pixels);
    src = unpacked;
    bits = 8;
  }
  if (c.colour) {
    if (bits != 16) {
      colour8Kernel(c)(src, dst, dstRowBytes, width, height, c.startRow);
    } else if (c.quality == 'l') {
      (c.grbg ? BayerGRBG16_LQ_ARGB32 : BayerRGGB16_LQ_ARGB32)(src, dst, dstRowBytes, width, height, c.startRow);
    } else if (c.quality == 'm') {
      (c.grbg ? BayerGRBG16_MQ_ARGB32 : BayerRGGB16_MQ_ARGB32)(src, dst, dstRowBytes, width, height, c.startRow);
    } else {
      colour16HQToARGB32(src, static_cast<UInt8*>(dst), dstRowBytes, width, height, c);
    }
  } else if (bits == 8) {
    (c.grbg ? BayerGRBG8_MONO_ARGB32 : BayerRGGB8_MONO_ARGB32)(src, dst, dstRowBytes, width, height, c.startRow);
  } else {
    (c.grbg ? BayerGRBG16_MONO_ARGB32 : BayerRGGB16_MONO_ARGB32)(src, dst, dstRowBytes, width, height, c.startRow);
  }
  return noErr;
}

// n = width x height x bits / 8 must fit the 32-bit byte counts of the kernels.
bool frameBytes(UInt32 width, UInt32 height, UInt32 bits, UInt64* pixels, UInt32* n) {
  *pixels = UInt64(width) * height;
  if (bits > 64) return false;
  const UInt64 bytes = (*pixels * bits) >> 3;
  if (bytes > 0xFFFFFFFFull) return false;
  *n = UInt32(bytes);
  return true;
}

}  // namespace

void myUnpack12BitTo16(const void* src, UInt16* d, UInt32 width, UInt32 height) {
  const UInt8* s = static_cast<const UInt8*>(src);
  const UInt64 pixels = UInt64(width) * height, pairs = pixels / 2;
  for (UInt64 i = 0; i < pairs; ++i) {
    d[0] = UInt16((s[0] << 8) | ((s[1] & 0x0F) << 4));
    d[1] = UInt16((s[2] << 8) | (s[1] & 0xF0));
    s += 3;
    d += 2;
  }
  if (pixels & 1) d[0] = UInt16(s[0] << 8);
}

OSStatus ORXDCAMConvertRawFrameToARGB32(MyDCAMCameraStruct* camera, const void* src, UInt32 width,
                                        UInt32 height, UInt32 pixelFormat, UInt32 bits, void* dst,
                                        UInt32 dstRowBytes) {
  if (camera == nullptr || src == nullptr || dst == nullptr) return paramErr;
  BayerCode c;
  if (parseBayerCode(pixelFormat, &c))
    return convertBayerToARGB32(c, src, width, height, bits, dst, dstRowBytes, UInt64(width) * height);
  UInt64 pixels;
  UInt32 n;
  if (!frameBytes(width, height, bits, &pixels, &n)) return paramErr;
  const UInt8 vec = myCameraVectorUnitFlag(camera), g5 = myCameraPPC970Flag(camera);

  if (pixelFormat == kRaw) {
    switch (bits) {
      case 8:
        Mono8ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
        return noErr;
      case 12: {
        UInt8* unpacked = static_cast<UInt8*>(threadScratch(size_t(pixels) * 2 + 16));
        if (unpacked == nullptr) return memFullErr;
        unpack12To8(static_cast<const UInt8*>(src), unpacked, pixels);
        Mono8ToARGB32(unpacked, dst, UInt32(pixels), width, dstRowBytes, vec, g5);
        return noErr;
      }
      case 16:
        Mono16ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
        return noErr;
      case 24:
        RGB24ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
        return noErr;
      case 32: {
        const UInt8* s = static_cast<const UInt8*>(src);
        UInt8* d = static_cast<UInt8*>(dst);
        for (UInt32 y = 0; y < height; ++y)
          myLocalMWMemCpy(d + size_t(y) * dstRowBytes, s + size_t(y) * width * 4, width * 4);
        return noErr;
      }
      case 48:
        RGB48ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
        return noErr;
      default:
        return paramErr;
    }
  }
  if (pixelFormat == k2vuy) {
    if (bits != 16) return paramErr;
    YUV422ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
    return noErr;
  }
  if (pixelFormat == kV308) {
    if (bits != 24) return paramErr;
    YUV444ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
    return noErr;
  }
  if (pixelFormat == kY411) {
    if (bits != 12) return paramErr;
    YUV411ToARGB32(src, dst, n, width, dstRowBytes, vec, g5);
    return noErr;
  }
  return paramErr;
}

OSStatus ORXDCAMConvertRaw16FrameToRGB48(MyDCAMCameraStruct* camera, const void* src, UInt32 width,
                                         UInt32 height, UInt32 pixelFormat, UInt32 bits, void* dst,
                                         UInt32 dstRowBytes) {
  if (camera == nullptr || src == nullptr || dst == nullptr) return paramErr;
  BayerCode c;
  if (!parseBayerCode(pixelFormat, &c) || !c.colour) return paramErr;
  if (bits != 12 && bits != 16) return paramErr;
  UInt64 pixels;
  UInt32 n;
  if (!frameBytes(width, height, bits, &pixels, &n)) return paramErr;
  if (bits == 12) {
    UInt16* unpacked = static_cast<UInt16*>(threadScratch(size_t(pixels) * 2 + 16));
    if (unpacked == nullptr) return memFullErr;
    myUnpack12BitTo16(src, unpacked, width, height);
    src = unpacked;
  }
  colour16ToRGB48Kernel(c)(src, dst, dstRowBytes, width, height, c.startRow);
  return noErr;
}
