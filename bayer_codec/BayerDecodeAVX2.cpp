// The converters again, compiled for AVX2 (this file alone is built with
// -mavx2): byte swaps by shuffles and wider loops. Bayer_DecodetoPixMap calls
// them only on a processor that has AVX2; the bytes are the same.
#include "bayer_codec/BayerDecodeConverters.h"

#if defined(__AVX2__)
void bayer_codec_detail::decodeWideAVX2(const Frame& f, UInt32 method) { decodeWide(f, method); }
void bayer_codec_detail::decodeNarrowAVX2(const Frame& f, UInt32 method) { decodeNarrow(f, method); }
#endif
