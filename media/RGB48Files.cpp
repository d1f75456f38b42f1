#include "media/RGB48Files.h"

#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

// Pictures have 16-bit bounds, as in single-frame saving: a larger buffer
// would come out as a picture of its size modulo 65536.
constexpr UInt32 kMaxSide = 0x7FFF;
bool fitsPicture(UInt32 width, UInt32 height) { return width <= kMaxSide && height <= kMaxSide; }

// The output of an export: a file location (FSSpec) or a data reference.
struct Output {
  const FSSpec* location = nullptr;
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
};

OSErr exportPicture(const Output& out, OSType exporterType, const void* base, UInt32 width, UInt32 height,
                    UInt32 rowBytes, Boolean is48Bit) {
  const Rect bounds{0, 0, SInt16(height), SInt16(width)};
  GWorldPtr picture = nullptr;
  OSErr err = NewGWorldFromPtr(&picture, is48Bit ? k48RGBPixelFormat : k16GrayPixelFormat, &bounds, nullptr,
                               nullptr, 0, static_cast<Ptr>(const_cast<void*>(base)), SInt32(rowBytes));
  if (err != noErr) return err;
  if (!picture) return noErr;
  ComponentInstance exporter = nullptr;
  err = OpenADefaultComponent(GraphicsExporterComponentType, exporterType, &exporter);
  if (err == noErr) err = OSErr(GraphicsExportSetInputGWorld(exporter, picture));
  if (err == noErr) err = OSErr(GraphicsExportSetDepth(exporter, is48Bit ? 24 : 40));
  if (err == noErr && exporterType == kQTFileTypeTIFF)
    err = OSErr(GraphicsExportSetCompressionMethod(exporter, kQTTIFFCompression_PackBits));
  if (err == noErr) {
    err = out.location ? OSErr(GraphicsExportSetOutputFile(exporter, out.location))
                   : OSErr(GraphicsExportSetOutputDataReference(exporter, out.dataRef, out.dataRefType));
  }
  if (err == noErr) err = OSErr(GraphicsExportDoExport(exporter, nullptr));
  if (exporter) CloseComponent(exporter);
  DisposeGWorld(picture);
  return err;
}

OSErr exportToRef(const FSRef& ref, OSType exporterType, const void* base, UInt32 width, UInt32 height,
                  UInt32 rowBytes, Boolean is48Bit) {
  Output out;
  OSErr err = QTNewDataReferenceFromFSRef(&ref, 0, &out.dataRef, &out.dataRefType);
  if (err != noErr) return err;
  err = exportPicture(out, exporterType, base, width, height, rowBytes, is48Bit);
  DisposeHandle(out.dataRef);
  return err;
}

}  // namespace

OSErr myRGB48ToFileFSSpec(FSSpec location, OSType exporterType, const void* buffer, UInt32 width, UInt32 height,
                          Boolean is48Bit) {
  if (!buffer || !fitsPicture(width, height)) return paramErr;
  Output out;
  out.location = &location;
  return exportPicture(out, exporterType, buffer, width, height, width * (is48Bit ? 6 : 2), is48Bit);
}

OSErr myRGB48ToFileFSRef(FSRef ref, OSType exporterType, const void* buffer, UInt32 width, UInt32 height,
                         Boolean is48Bit) {
  if (!buffer || !fitsPicture(width, height)) return paramErr;
  return exportToRef(ref, exporterType, buffer, width, height, width * (is48Bit ? 6 : 2), is48Bit);
}

OSErr myRGB48CroppedToFileFSRef(FSRef ref, OSType exporterType, const void* buffer, UInt32 bufferWidth,
                                UInt32 bufferHeight, UInt32 left, UInt32 top, UInt32 right, UInt32 bottom,
                                Boolean is48Bit) {
  // The rectangle must lie inside the buffer on every side: the exporter reads
  // every row of it straight from the caller's memory.
  if (!buffer || !fitsPicture(bufferWidth, bufferHeight) || right <= left || bottom <= top || right > bufferWidth ||
      bottom > bufferHeight)
    return paramErr;
  const UInt32 bytes = is48Bit ? 6 : 2;
  const UInt8* base = static_cast<const UInt8*>(buffer) + (size_t(left) + size_t(top) * bufferWidth) * bytes;
  return exportToRef(ref, exporterType, base, right - left, bottom - top, bufferWidth * bytes, is48Bit);
}
