// Graphics importers ('grip'): a picture file in, drawn into an offscreen
// picture of the caller's pixel format. Formats: TIFF (libtiff: uncompressed,
// PackBits, LZW, Deflate; 8 or 16 bits; grey, RGB, with or without alpha),
// PNG (libpng, every depth), JPEG (libjpeg), GIF (giflib, the first image),
// Targa (colour-mapped, grey, 24- and 32-bit, plain or run-length), BMP, Photoshop and PICT as our
// exporters write them, and FITS as our FITS writer makes them (8-bit values
// << 8, 16-bit with BZERO applied, 32-bit >> 16, grey).
//
// Files are untrusted: every size and offset is checked, and a damaged file
// gives an error with nothing allocated.
//
// The image description of a 16-bit picture carries a 'cspc' extension naming
// the pixel format it keeps its depth in: 'b16g' (grey), 'b32a' (alpha and
// grey), 'b48r' (RGB) or 'b64a' (alpha and RGB). 8-bit pictures have none.
#pragma once
#include <memory>
#include <utility>
#include <vector>

#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCompression.h"

typedef ComponentInstance GraphicsImportComponent;
constexpr OSType GraphicsImporterComponentType = FOUR_CHAR_CODE("grip");
constexpr OSType kColorSpaceImageDescriptionExtension = FOUR_CHAR_CODE("cspc");
enum : OSErr {
  kQTNoExtension = -2026,  // the description has no extension of that type
};

// The importer for the file a data reference names, chosen by the file's
// contents. fnfErr when there is no file; noCodecErr when no importer reads
// it; codecBadDataErr when it is damaged.
OSErr GetGraphicsImporterForDataRef(Handle dataRef, OSType dataRefType, GraphicsImportComponent* gi);
ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent gi, Rect* naturalBounds);
ComponentResult GraphicsImportSetSourceRect(GraphicsImportComponent gi, const Rect* sourceRect);
ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent gi, GWorldPtr port, GDHandle gd);
// Draws the source rectangle into the whole picture (scaled by nearest
// neighbour when the sizes differ).
ComponentResult GraphicsImportDraw(GraphicsImportComponent gi);
ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent gi, ImageDescriptionHandle* desc);
// The source rectangle as a new CoreGraphics image (8-bit ARGB; 16-bit
// pictures keep their high bytes), the caller's to release. The flags are
// accepted and not used.
ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent gi, CGImageRef* imageOut, UInt32 flags);
// The extension's data in a new handle (a 'cspc' extension holds one OSType).
OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, OSType idType, long index);

// Internal: an importer of a format by subtype ('TIFF', 'PNGf', 'JPEG', 'BMPf',
// '8BPS', 'PICT', 'FITS'), before any file is given.
OSErr SkyloomOpenGraphicsImporter(OSType subtype, ComponentInstance* ci);

// A decoded picture: rows top to bottom, channels interleaved (1 grey, 2 grey
// and alpha, 3 RGB, 4 RGB and alpha), 8- or 16-bit values in 16-bit slots.
// Leaves new elements of a vector uninitialised when it grows without a value
// (resize(n)): a buffer a decoder writes whole is never zero-filled first.
template <class T>
struct SkyloomUninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = SkyloomUninitialisedAllocator<U>;
  };
  SkyloomUninitialisedAllocator() = default;
  template <class U>
  SkyloomUninitialisedAllocator(const SkyloomUninitialisedAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

struct SkyloomRaster {
  int width = 0;
  int height = 0;
  int channels = 0;
  int bits = 0;
  std::vector<UInt16, SkyloomUninitialisedAllocator<UInt16>> samples;
};
// Decodes a whole file held in memory; used by the importer and the fuzz targets.
OSErr SkyloomDecodePicture(const UInt8* data, size_t size, OSType* subtype, SkyloomRaster* out);
