#include "media/PictureImport.h"

#include <cstdlib>
#include <cstring>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsImport.h"
#include "utilities/LowLevel.h"

namespace {

// The importer, data reference and natural bounds of a file, released together.
struct OpenPicture {
  Handle dataRef = nullptr;
  GraphicsImportComponent importer = nullptr;
  Rect bounds{0, 0, 0, 0};
  ~OpenPicture() {
    if (importer) CloseComponent(importer);
    if (dataRef) DisposeHandle(dataRef);
  }
  OSErr open(const FSRef& ref) {
    OSType type = 0;
    OSErr err = QTNewDataReferenceFromFSRef(&ref, 0, &dataRef, &type);
    if (err != noErr) return err;
    err = GetGraphicsImporterForDataRef(dataRef, type, &importer);
    if (err != noErr) return err;
    err = OSErr(GraphicsImportGetNaturalBounds(importer, &bounds));
    if (err != noErr) return err;
    return OSErr(GraphicsImportSetSourceRect(importer, &bounds));
  }
  UInt32 width() const { return UInt32(bounds.right - bounds.left); }
  UInt32 height() const { return UInt32(bounds.bottom - bounds.top); }
};

struct GWorldHolder {
  GWorldPtr gw = nullptr;
  ~GWorldHolder() {
    if (gw) DisposeGWorld(gw);
  }
};

OSErr draw(OpenPicture& pic, GWorldPtr gw) {
  OSErr err = OSErr(GraphicsImportSetGWorld(pic.importer, gw, nullptr));
  if (err != noErr) return err;
  return OSErr(GraphicsImportDraw(pic.importer));
}

}  // namespace

Ptr myGetAnImageinARGB32Ptr(OSErr* errOut, FSRef fileRef, UInt32* width, UInt32* height, UInt32* rowBytes,
                            UInt8 alpha, UInt32 channelSelector) {
  OSErr dummy;
  OSErr& err = errOut ? *errOut : dummy;
  OpenPicture pic;
  err = pic.open(fileRef);
  if (err != noErr) return nullptr;
  const UInt32 w = pic.width(), h = pic.height();
  if (width) *width = w;
  if (height) *height = h;
  if (rowBytes) *rowBytes = w * 4;
  auto* buffer = static_cast<UInt8*>(std::malloc(size_t(w) * 4 * h + 16));
  if (!buffer) {
    err = memFullErr;
    return nullptr;
  }
  GWorldHolder g;
  err = NewGWorldFromPtr(&g.gw, k32ARGBPixelFormat, &pic.bounds, nullptr, nullptr, 0,
                         reinterpret_cast<Ptr>(buffer), SInt32(w * 4));
  if (err == noErr) err = draw(pic, g.gw);
  if (err != noErr) {
    std::free(buffer);
    return nullptr;
  }
  static const UInt8 kKeep[4][3] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const bool mask = channelSelector >= 1 && channelSelector <= 3;
  for (size_t i = 0, n = size_t(w) * h; i < n; ++i) {
    UInt8* px = buffer + 4 * i;
    px[0] = alpha;
    if (mask)
      for (int c = 0; c < 3; ++c)
        if (!kKeep[channelSelector][c]) px[1 + c] = 0;
  }
  return reinterpret_cast<Ptr>(buffer);
}

void myARGB32GWToRGB48(GWorldPtr gw, UInt16* rgb48) {
  PixMapHandle pm = GetGWorldPixMap(gw);
  if (!pm || !rgb48) return;
  LockPixels(pm);
  Rect b;
  GetPixBounds(pm, &b);
  const long w = long(b.right) - b.left, h = long(b.bottom) - b.top;
  const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
  const SInt32 rb = GetPixRowBytes(pm);
  for (long y = 0; y < h; ++y) {
    const UInt8* src = base + size_t(y) * size_t(rb);
    UInt16* dst = rgb48 + size_t(y) * size_t(w) * 3;
    for (long x = 0; x < w; ++x) {
      dst[3 * x] = UInt16(src[4 * x + 1] << 8);
      dst[3 * x + 1] = UInt16(src[4 * x + 2] << 8);
      dst[3 * x + 2] = UInt16(src[4 * x + 3] << 8);
    }
  }
  UnlockPixels(pm);
}

OSErr ImportFileIntoRGB48Ptr(FSRef fileRef, UInt32* width, UInt32* height, UInt32* rowBytes, Ptr* bufferOut) {
  if (bufferOut) *bufferOut = nullptr;
  OpenPicture pic;
  OSErr err = pic.open(fileRef);
  if (err != noErr) return err;
  const UInt32 w = pic.width(), h = pic.height();
  if (width) *width = w;
  if (height) *height = h;
  if (rowBytes) *rowBytes = w * 6;
  auto* buffer = static_cast<UInt8*>(std::malloc(size_t(w) * 6 * h + 16));
  if (!buffer) return memFullErr;

  // The picture's own pixel format, when it keeps 16 bits.
  OSType format = 0;
  ImageDescriptionHandle desc = nullptr;
  if (GraphicsImportGetImageDescription(pic.importer, &desc) == noErr) {
    Handle ext = nullptr;
    if (GetImageDescriptionExtension(desc, &ext, FOUR_CHAR_CODE("cspc"), 1) == noErr && ext) {
      if (GetHandleSize(ext) >= 4) std::memcpy(&format, *ext, 4);
      DisposeHandle(ext);
    }
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }

  GWorldHolder g;
  const bool wide = format == FOUR_CHAR_CODE("b48r") || format == FOUR_CHAR_CODE("b64a") ||
                    format == FOUR_CHAR_CODE("b16g") || format == FOUR_CHAR_CODE("b32a");
  if (format == FOUR_CHAR_CODE("b48r")) {
    // The picture's own layout: drawn straight into the caller's buffer.
    err = NewGWorldFromPtr(&g.gw, format, &pic.bounds, nullptr, nullptr, 0, reinterpret_cast<Ptr>(buffer),
                           SInt32(w * 6));
    if (err == noErr) err = draw(pic, g.gw);
  } else if (wide) {
    const UInt32 bytesPer = format == FOUR_CHAR_CODE("b48r") ? 6 : format == FOUR_CHAR_CODE("b64a") ? 8
                            : format == FOUR_CHAR_CODE("b16g") ? 2 : 4;
    void* pixels = std::malloc(size_t(w) * bytesPer * h + 16);
    if (!pixels) {
      std::free(buffer);
      return memFullErr;
    }
    err = NewGWorldFromPtr(&g.gw, format, &pic.bounds, nullptr, nullptr, 0, static_cast<Ptr>(pixels),
                           SInt32(w * bytesPer));
    if (err == noErr) err = draw(pic, g.gw);
    if (err == noErr) {
      PixMapHandle pm = GetGWorldPixMap(g.gw);
      LockPixels(pm);
      const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pm));
      const SInt32 rb = GetPixRowBytes(pm);
      for (UInt32 y = 0; y < h; ++y) {
        const UInt8* src = base + size_t(y) * size_t(rb);
        UInt8* dst = buffer + size_t(y) * w * 6;
        if (format == FOUR_CHAR_CODE("b48r")) {
          myMemCpy(dst, src, w * 6);
          continue;
        }
        for (UInt32 x = 0; x < w; ++x) {
          UInt16 px[3];
          if (format == FOUR_CHAR_CODE("b64a")) {
            std::memcpy(px, src + 8 * x + 2, 6);  // alpha dropped
          } else if (format == FOUR_CHAR_CODE("b16g")) {
            std::memcpy(&px[0], src + 2 * x, 2);
            px[1] = px[2] = px[0];
          } else {
            std::memcpy(&px[0], src + 4 * x + 2, 2);  // the grey after alpha
            px[1] = px[2] = px[0];
          }
          myMemCpy(dst + 6 * x, px, 6);
        }
      }
      UnlockPixels(pm);
    }
    DisposeGWorld(g.gw);
    g.gw = nullptr;
    std::free(pixels);
  } else {
    err = NewGWorld(&g.gw, 32, &pic.bounds, nullptr, nullptr, 0);
    if (err == noErr) err = draw(pic, g.gw);
    if (err == noErr) myARGB32GWToRGB48(g.gw, reinterpret_cast<UInt16*>(buffer));
  }
  if (err != noErr) {
    std::free(buffer);
    return err;
  }
  if (bufferOut) *bufferOut = reinterpret_cast<Ptr>(buffer);
  else std::free(buffer);
  return noErr;
}
