#include "app/PreviewDrawing.h"

#include <algorithm>
#include <cstring>

void myFillInCourizedARGB32Table(UInt32* table, RGBColor colour) {
  if (!table) return;
  const double scale = 1.0 / 65535.0;
  const double r = colour.red * scale;
  const double g = colour.green * scale;
  const double b = colour.blue * scale;
  for (int i = 0; i < 256; ++i) {
    const UInt8 bytes[4] = {255, UInt8(std::min(255, int(r * i))), UInt8(std::min(255, int(g * i))),
                            UInt8(std::min(255, int(b * i)))};
    std::memcpy(&table[i], bytes, 4);
  }
}
