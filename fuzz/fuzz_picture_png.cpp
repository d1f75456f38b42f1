// Picture import of PNG files: any bytes must decode or fail cleanly.
#include <cstddef>
#include <cstdint>

#include "platform/quicktime/GraphicsImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkyloomRaster raster;
  OSType type = 0;
  SkyloomDecodePicture(data, size, &type, &raster);
  return 0;
}
