// Picture import of Targa files (colour-mapped, grey, 24- and 32-bit, plain and
// run-length, either row order): any bytes must decode or fail cleanly, never
// read or write out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/quicktime/GraphicsImport.h"
#include "platform/quicktime/PictureDecoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkyloomRaster raster;
  SkyloomDecodeTarga(data, size, &raster);
  OSType type = 0;
  SkyloomDecodePicture(data, size, &type, &raster);
  return 0;
}
