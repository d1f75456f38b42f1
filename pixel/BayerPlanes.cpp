#include "pixel/BayerPlanes.h"

#include "utilities/BayerPhase.h"
#include "utilities/LowLevel.h"

MyBayerRoutineChoice myBayerRoutineChoiceFromBayerFormat(UInt32 bayerFormat) {
  if (bayerFormat == 2) return {kMyBayerFamilyRGGB, 0};
  if (bayerFormat > 2) return {kMyBayerFamilyBGGR, bayerFormat == 3 ? 1u : 0u};
  if (bayerFormat == 1) return {kMyBayerFamilyRGGB, 1};
  return {kMyBayerFamilyBGGR, 0};
}

OSType myDisplayFormatFromBayerFormat(UInt8 colourFlag, UInt32 bayerFormat) {
  // The converter decodes colour and grey pairs with different tables, so the
  // colour pair of codes 2 and 4 is not the first two colours of row 0.
  static const OSType colour[4] = {FOUR_CHAR_CODE("bmRG"), FOUR_CHAR_CODE("bmBG"),
                                   FOUR_CHAR_CODE("bmGR"), FOUR_CHAR_CODE("bmGB")};
  static const OSType grey[4] = {FOUR_CHAR_CODE("mmRG"), FOUR_CHAR_CODE("mmGB"),
                                 FOUR_CHAR_CODE("mmGR"), FOUR_CHAR_CODE("mmBG")};
  if (bayerFormat < 1 || bayerFormat > 4) return FOUR_CHAR_CODE("ARGB");
  return colourFlag != 0 ? colour[bayerFormat - 1] : grey[bayerFormat - 1];
}

namespace {

// A row is described by the column parity of its samples of the wanted colour
// (0 even, 1 odd) and a shift: the RGGB routines move a plane whose colour
// sits in the odd columns one column to the left, so output column x shows
// mosaic column x + 1. Other columns take the mean of their two neighbouring
// colour columns, or the nearest one at the frame's edges.
struct RowShape {
  UInt32 parity;
  UInt32 shift;
};

// The colour columns that output column x draws from: one (lo == hi) or two.
inline void colourNeighbours(UInt32 x, UInt32 width, RowShape shape, UInt32* lo, UInt32* hi) {
  const UInt32 c = x + shape.shift;
  if (c < width && (c & 1u) == shape.parity) {
    *lo = *hi = c;
    return;
  }
  if (c >= width) {
    // Beyond the last column: the last colour column of the row.
    UInt32 last = width - 1;
    if ((last & 1u) != shape.parity) --last;
    *lo = *hi = last;
    return;
  }
  const bool hasLeft = c >= 1;
  const bool hasRight = c + 1 < width;
  if (hasLeft && hasRight) {
    *lo = c - 1;
    *hi = c + 1;
  } else {
    *lo = *hi = hasLeft ? c - 1 : c + 1;
  }
}

// Spreads one own row. `drop` is the extra right shift of the 16-to-8 forms.
// Safe in place: every read lies at or ahead of the column being written,
// or on a colour column whose value is rewritten unchanged.
template <typename S, typename D>
void spreadRow(const S* in, D* out, UInt32 width, RowShape shape, UInt32 drop) {
  for (UInt32 x = 0; x < width; ++x) {
    UInt32 lo, hi;
    colourNeighbours(x, width, shape, &lo, &hi);
    const UInt32 a = in[lo];
    const UInt32 b = in[hi];
    out[x] = D(lo == hi ? a >> drop : (a + b) >> (1 + drop));
  }
}

// Fills a row between two own rows: `above` is the already spread row (its
// colour samples sit at column c - shift), `below` the untouched mosaic row.
template <typename T>
void fillBetweenRow(const T* above, const T* below, T* out, UInt32 width, RowShape shape) {
  for (UInt32 x = 0; x < width; ++x) {
    UInt32 lo, hi;
    colourNeighbours(x, width, shape, &lo, &hi);
    const UInt32 uLo = above[lo - shape.shift];
    const UInt32 dLo = below[lo];
    if (lo == hi) {
      out[x] = T((uLo + dLo) >> 1);
    } else {
      const UInt32 uHi = above[hi - shape.shift];
      const UInt32 dHi = below[hi];
      out[x] = T((uLo + uHi + dLo + dHi) >> 2);
    }
  }
}

inline bool tooSmall(UInt32 width, UInt32 height) { return width < 4 || height < 2; }

// Red or blue plane: ownRow0 says whether row 0 holds the colour.
template <typename T>
void colourPlane(T* buf, UInt32 width, UInt32 height, bool ownRow0, RowShape shape) {
  if (tooSmall(width, height)) return;
  const UInt32 first = ownRow0 ? 0 : 1;
  // A row between own rows needs a row below it; when the walk from row 1
  // would end on such a row (odd height), that row is copied like row 0.
  UInt32 last = ownRow0 ? height - 2 : height - 1;
  if (!ownRow0 && ((last - first) & 1u)) --last;
  for (UInt32 r = first; r <= last; ++r) {
    T* row = buf + size_t(r) * width;
    if (((r - first) & 1u) == 0) {
      spreadRow(row, row, width, shape, 0);
    } else {
      fillBetweenRow(row - width, row + width, row, width, shape);
    }
  }
  const UInt32 rowBytes = UInt32(width * sizeof(T));
  if (ownRow0) {
    myMemCpy(buf + size_t(height - 1) * width, buf + size_t(height - 2) * width, rowBytes);
  } else {
    for (UInt32 r = last + 1; r < height; ++r)
      myMemCpy(buf + size_t(r) * width, buf + size_t(r - 1) * width, rowBytes);
    myMemCpy(buf, buf + width, rowBytes);
  }
}

inline RowShape greenShape(MyBayerFamily family, UInt32 startRowFlag, UInt32 row) {
  const UInt32 parity = myBayerPhase(family != kMyBayerFamilyRGGB, startRowFlag).greenParity(row);
  return {parity, family == kMyBayerFamilyRGGB ? parity : 0u};
}

template <typename T>
void greenPlane(T* buf, UInt32 width, UInt32 height, MyBayerFamily family, UInt32 flag) {
  if (tooSmall(width, height)) return;
  for (UInt32 r = 0; r < height; ++r) {
    T* row = buf + size_t(r) * width;
    spreadRow(row, row, width, greenShape(family, flag, r), 0);
  }
}

template <typename S, typename D>
void greensToMono(const S* src, D* dst, UInt32 width, UInt32 height, UInt32 dstRowBytes,
                  MyBayerFamily family, UInt32 flag, UInt32 drop) {
  if (tooSmall(width, height)) return;
  auto* dstBytes = reinterpret_cast<unsigned char*>(dst);
  for (UInt32 r = 0; r < height; ++r) {
    D* out = reinterpret_cast<D*>(dstBytes + size_t(r) * dstRowBytes);
    spreadRow(src + size_t(r) * width, out, width, greenShape(family, flag, r), drop);
  }
}

// Which rows hold red: row 0 when the flag is 1, row 1 when it is 0.
inline bool redInRow0(UInt32 flag) { return flag != 0; }

}  // namespace

// RGGB: red in the even columns of the R G row, blue in the odd columns of the
// G B row. BGGR: red in the odd columns of the G R row, blue in the even
// columns of the B G row.
#define SKYLOOM_PLANES(T, BITS)                                                              \
  void myRedBayer##BITS##ChannelRGGB(T* b, UInt32 w, UInt32 h, UInt32 f) {                   \
    colourPlane(b, w, h, redInRow0(f), RowShape{0, 0});                                      \
  }                                                                                          \
  void myBlueBayer##BITS##ChannelRGGB(T* b, UInt32 w, UInt32 h, UInt32 f) {                  \
    colourPlane(b, w, h, !redInRow0(f), RowShape{1, 1});                                     \
  }                                                                                          \
  void myRedBayer##BITS##ChannelBGGR(T* b, UInt32 w, UInt32 h, UInt32 f) {                   \
    colourPlane(b, w, h, redInRow0(f), RowShape{1, 0});                                      \
  }                                                                                          \
  void myBlueBayer##BITS##ChannelBGGR(T* b, UInt32 w, UInt32 h, UInt32 f) {                  \
    colourPlane(b, w, h, !redInRow0(f), RowShape{0, 0});                                     \
  }                                                                                          \
  void myGreenBayer##BITS##ChannelRGGB(T* b, UInt32 w, UInt32 h, UInt32 f) {                 \
    greenPlane(b, w, h, kMyBayerFamilyRGGB, f);                                              \
  }                                                                                          \
  void myGreenBayer##BITS##ChannelBGGR(T* b, UInt32 w, UInt32 h, UInt32 f) {                 \
    greenPlane(b, w, h, kMyBayerFamilyBGGR, f);                                              \
  }

SKYLOOM_PLANES(UInt8, 8)
SKYLOOM_PLANES(UInt16, 16)
#undef SKYLOOM_PLANES

void myBayerRGGB8_Mono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                        UInt32 dstRowBytes, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyRGGB, startRowFlag, 0);
}
void myBayerBGGR8_Mono8(const UInt8* src, UInt8* dst, UInt32 width, UInt32 height,
                        UInt32 dstRowBytes, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyBGGR, startRowFlag, 0);
}
void myBayerRGGB16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                         UInt32 dstRowBytes, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyRGGB, startRowFlag, 8);
}
void myBayerBGGR16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                         UInt32 dstRowBytes, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyBGGR, startRowFlag, 8);
}
void myBayerRGGB16_MONO16(const UInt16* src, UInt16* dst, UInt32 dstRowBytes, UInt32 width,
                          UInt32 height, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyRGGB, startRowFlag, 0);
}
void myBayerBGGR16_MONO16(const UInt16* src, UInt16* dst, UInt32 dstRowBytes, UInt32 width,
                          UInt32 height, UInt32 startRowFlag) {
  greensToMono(src, dst, width, height, dstRowBytes, kMyBayerFamilyBGGR, startRowFlag, 0);
}

void myMono16_Mono8(const UInt16* src, UInt8* dst, UInt32 width, UInt32 height,
                    UInt32 dstRowBytes) {
  for (UInt32 r = 0; r < height; ++r) {
    const UInt16* in = src + size_t(r) * width;
    UInt8* out = dst + size_t(r) * dstRowBytes;
    for (UInt32 x = 0; x < width; ++x) out[x] = UInt8(in[x] >> 8);
  }
}
