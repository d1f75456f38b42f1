// Picture import of GIF files (global and local colour tables, interlacing,
// transparency, images off the logical screen): any bytes must decode or fail
// cleanly, never read or write out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/quicktime/GraphicsImport.h"
#include "platform/quicktime/PictureDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkyloomRaster raster;
  SkyloomDecodeGIF(data, size, &raster);
  OSType type = 0;
  SkyloomDecodePicture(data, size, &type, &raster);
  return 0;
}
