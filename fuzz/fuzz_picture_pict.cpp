// Picture import of PICT files (direct-bits rectangles, packed and unpacked rows):
// any bytes must decode or fail cleanly, never read or write out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/quicktime/GraphicsImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkyloomRaster raster;
  OSType type = 0;
  SkyloomDecodePicture(data, size, &type, &raster);
  return 0;
}
