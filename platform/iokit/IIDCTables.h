// Tables of the IIDC 1394-based digital camera standard that both the
// camera library and the simulated camera read: the fixed video modes of
// Formats 0, 1 and 2 (size, pixel code, bits per pixel, and the bytes per
// isochronous packet, base >> (top - rate index)), the frame rates, and the
// Format 7 colour-coding ids.
#pragma once
#include "platform/coreservices/MacTypes.h"

namespace iidc {

constexpr OSType kRaw = FOUR_CHAR_CODE("raw "), k2vuy = FOUR_CHAR_CODE("2vuy"), kY411 = FOUR_CHAR_CODE("Y411"),
                 kV308 = FOUR_CHAR_CODE("v308");

struct FixedMode {
  UInt32 width, height;
  OSType code;
  UInt32 bits, base, top;
};

inline constexpr FixedMode kFixedModes[3][8] = {
    {{160, 120, kV308, 24, 1920, 7},
     {320, 240, k2vuy, 16, 5120, 7},
     {640, 480, kY411, 12, 15360, 7},
     {640, 480, k2vuy, 16, 20480, 7},
     {640, 480, kRaw, 24, 30720, 7},
     {640, 480, kRaw, 8, 10240, 7},
     {640, 480, kRaw, 16, 20480, 7},
     {0, 0, 0, 0, 0, 0}},
    {{800, 600, k2vuy, 16, 32000, 7},
     {800, 600, kRaw, 24, 24000, 6},
     {800, 600, kRaw, 8, 16000, 7},
     {1024, 768, k2vuy, 16, 24576, 6},
     {1024, 768, kRaw, 24, 18432, 5},
     {1024, 768, kRaw, 8, 24576, 7},
     {800, 600, kRaw, 16, 32000, 7},
     {1024, 768, kRaw, 16, 24576, 6}},
    {{1280, 960, k2vuy, 16, 20480, 5},
     {1280, 960, kRaw, 24, 30720, 5},
     {1280, 960, kRaw, 8, 20480, 6},
     {1600, 1200, k2vuy, 16, 32000, 5},
     {1600, 1200, kRaw, 24, 24000, 4},
     {1600, 1200, kRaw, 8, 32000, 6},
     {1280, 960, kRaw, 16, 20480, 5},
     {1600, 1200, kRaw, 16, 32000, 5}},
};

inline constexpr double kRates[8] = {1.875, 3.75, 7.5, 15, 30, 60, 120, 240};

// Format 7 colour coding id -> pixel code and bits; false for unknown ids.
inline bool CodingToPixel(UInt32 id, OSType* code, UInt32* bits) {
  switch (id) {
    case 0: case 9: *code = kRaw, *bits = 8; return true;
    case 1: *code = kY411, *bits = 12; return true;
    case 2: *code = k2vuy, *bits = 16; return true;
    case 3: *code = kV308, *bits = 24; return true;
    case 4: *code = kRaw, *bits = 24; return true;
    case 5: case 10: *code = kRaw, *bits = 16; return true;
    case 6: *code = kRaw, *bits = 48; return true;
    case 11: case 12: *code = kRaw, *bits = 12; return true;
    default: return false;
  }
}

}  // namespace iidc
