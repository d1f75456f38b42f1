// Decoders of the graphics importers for GIF (giflib) and Targa (our own
// reader). Both give 8-bit samples in a SkyloomRaster; files are untrusted.
#pragma once
#include <cstddef>

#include "platform/quicktime/GraphicsImport.h"

// The first image of a GIF on its logical screen: RGB, or RGB and alpha when
// its graphic control names a transparent colour (alpha 0 there and outside
// the image). noCodecErr for no GIF signature; codecBadDataErr when damaged.
OSErr SkyloomDecodeGIF(const UInt8* data, size_t size, SkyloomRaster* out);
// Targa: colour-mapped (8-bit indices into a 24- or 32-bit map), 24- and
// 32-bit true colour and 8-bit grey, each plain or run-length coded; rows
// bottom-up or top-down as the descriptor says. noCodecErr for other kinds.
OSErr SkyloomDecodeTarga(const UInt8* data, size_t size, SkyloomRaster* out);
// A plausible Targa header (the format has no signature).
bool SkyloomLooksLikeTarga(const UInt8* data, size_t size);
