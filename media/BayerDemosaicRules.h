// The rule code of the Bayer demosaic engines, shared by the frame-conversion
// kernels (media/BayerDemosaic.cpp) and the ORX_BAYER decompressor
// (bayer_codec/), which instantiate it with their own sample loaders and pixel
// sinks. Header only, so the decompressor plug-in links no library for it.
//
// Loaders give the value of sample x of a source row; sinks write one pixel
// from its R, G, B. demosaicLQ / demosaicMQ / demosaicHQ decode a whole frame
// under the size and border rules told in media/BayerDemosaic.h; `simd` lets
// the first two take their SSE2 paths where the build has one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/coreservices/MacTypes.h"
#include "utilities/BayerPhase.h"
#include "utilities/LowLevel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define SKYLOOM_MEDIA_SSE2 1
#endif
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif
#if defined(__AVX2__)
#include <immintrin.h>
#endif

// The rules are compiled once for the build's baseline and, in the
// decompressor, again for AVX2 behind a run-time check: each instruction set
// gets a namespace of its own, so the two never stand in for each other.
#if defined(__AVX2__)
#define SKYLOOM_BAYER_ISA isa_avx2
#else
#define SKYLOOM_BAYER_ISA isa_base
#endif

namespace skyloom_bayer {
inline namespace SKYLOOM_BAYER_ISA {

using u8 = unsigned char;

// ---- Sample loaders: the value of sample x of a source row. ----
struct Load8 {
  static constexpr size_t kBytes = 1;
  static int at(const u8* row, int x) { return row[x]; }
};
struct Load16 {
  static constexpr size_t kBytes = 2;
  static int at(const u8* row, int x) {
    UInt16 v;
    std::memcpy(&v, row + 2 * size_t(x), 2);
    return v;
  }
};
// 16-bit samples seen through their high byte, for the 8-bit display paths.
struct Load16Hi {
  static constexpr size_t kBytes = 2;
  static int at(const u8* row, int x) { return Load16::at(row, x) >> 8; }
};
// Big-endian 16-bit samples (the decompressor's input), swapped as loaded.
inline UInt16 swap16(UInt16 v) { return UInt16((v << 8) | (v >> 8)); }
struct Load16BE {
  static constexpr size_t kBytes = 2;
  static int at(const u8* row, int x) { return swap16(UInt16(Load16::at(row, x))); }
};
// The high (first) byte of a big-endian sample.
struct Load16BEHi {
  static constexpr size_t kBytes = 2;
  static int at(const u8* row, int x) { return row[2 * size_t(x)]; }
};

// ---- Pixel writers. ----
inline void put16(u8* p, int v) {
  const UInt16 s = UInt16(v);
  std::memcpy(p, &s, 2);
}
struct SinkARGB {
  static constexpr size_t kBytes = 4;
  static void put(u8* row, int x, int r, int g, int b) {
    u8* d = row + 4 * size_t(x);
    d[0] = 0xFF;
    d[1] = u8(r);
    d[2] = u8(g);
    d[3] = u8(b);
  }
};
inline void putBE16(u8* p, int v) { put16(p, swap16(UInt16(v))); }
// Three 16-bit samples a pixel, each written by Put.
template <void (*Put)(u8*, int)>
struct Sink48 {
  static constexpr size_t kBytes = 6;
  static void put(u8* row, int x, int r, int g, int b) {
    u8* d = row + 6 * size_t(x);
    Put(d, r);
    Put(d + 2, g);
    Put(d + 4, b);
  }
};
using SinkRGB48 = Sink48<put16>;
// 'b48r': R, G, B big-endian.
using SinkB48r = Sink48<putBE16>;
// 'b64a': A = 65535, R, G, B big-endian.
struct SinkB64a {
  static constexpr size_t kBytes = 8;
  static void put(u8* row, int x, int r, int g, int b) {
    u8* d = row + 8 * size_t(x);
    put16(d, 0xFFFF);
    putBE16(d + 2, r);
    putBE16(d + 4, g);
    putBE16(d + 6, b);
  }
};
inline int luma(int r, int g, int b) { return int((306u * UInt32(r) + 601u * UInt32(g) + 117u * UInt32(b)) >> 10); }
struct SinkMonoARGB {
  static constexpr size_t kBytes = 4;
  static void put(u8* row, int x, int r, int g, int b) {
    const int l = luma(r, g, b);
    SinkARGB::put(row, x, l, l, l);
  }
};
struct SinkMono16 {
  static constexpr size_t kBytes = 2;
  static void put(u8* row, int x, int r, int g, int b) { put16(row + 2 * size_t(x), luma(r, g, b)); }
};

// Which colour each sample carries.
using Phase = MyBayerPhase;

template <class L>
struct Mosaic {
  const u8* base;
  int w, h;
  size_t stride;
  const u8* row(int y) const { return base + size_t(y) * stride; }
  int at(int x, int y) const { return L::at(row(y), x); }
  int cx(int x) const { return x < 0 ? 0 : (x >= w ? w - 1 : x); }
  int cy(int y) const { return y < 0 ? 0 : (y >= h ? h - 1 : y); }
};

// Sets R, G, B of a pixel from its own colour and the two it lacks. At a
// green site `along` is the colour of its row's other samples and `across`
// the other one; at a red or blue site `along` is G and `across` the
// opposite colour.
template <class S>
inline void store(u8* drow, int x, bool green, bool redRow, int own, int along, int across) {
  if (green) {
    if (redRow) S::put(drow, x, along, own, across);
    else S::put(drow, x, across, own, along);
  } else {
    if (redRow) S::put(drow, x, own, along, across);
    else S::put(drow, x, across, along, own);
  }
}

// =====================================================================
// Medium quality (bilinear).
// =====================================================================

// Any pixel, with every border rule; indices clamp into the frame so that
// tiny frames stay inside it.
template <class L, class S>
void mqPixel(const Mosaic<L>& m, const Phase& ph, u8* drow, int x, int y) {
  const bool green = ph.green(x, y), red = ph.redRow(y);
  const int own = m.at(x, y);
  const int W = m.w;
  int along, across;
  if (y == m.h - 1 && m.h >= 2) {
    // Last row: only this row and the one above.
    const int up = y - 1;
    if (green) {
      across = m.at(x, up);
      if (x == 0) along = m.at(m.cx(1), y);
      else if (x == W - 1) along = m.at(m.cx(W - 2), y);
      else along = (m.at(x - 1, y) + m.at(x + 1, y)) >> 1;
    } else {
      if (x == W - 1) along = (m.at(x, up) + m.at(m.cx(x - 1), y)) >> 1;
      else along = (m.at(x, up) + m.at(x + 1, y)) >> 1;
      if (x == 0) across = m.at(m.cx(1), up);
      else if (x == W - 1) across = m.at(m.cx(W - 2), up);
      else across = (m.at(x - 1, up) + m.at(x + 1, up)) >> 1;
    }
  } else {
    // Row 0 takes row 1 for the missing row above.
    const int up = y == 0 ? m.cy(1) : y - 1;
    const int dn = m.cy(y + 1);
    if (x == 0 || x == W - 1) {
      const int in = x == 0 ? m.cx(1) : m.cx(W - 2);
      if (green) {
        along = m.at(in, y);
        across = (m.at(x, up) + m.at(x, dn)) >> 1;
      } else {
        along = (m.at(x, up) + m.at(in, y) + m.at(x, dn)) / 3;
        across = (m.at(in, up) + m.at(in, dn)) >> 1;
      }
    } else {
      if (green) {
        along = (m.at(x - 1, y) + m.at(x + 1, y)) >> 1;
        across = (m.at(x, up) + m.at(x, dn)) >> 1;
      } else {
        along = (m.at(x - 1, y) + m.at(x + 1, y) + m.at(x, up) + m.at(x, dn)) >> 2;
        across = (m.at(x - 1, up) + m.at(x + 1, up) + m.at(x - 1, dn) + m.at(x + 1, dn)) >> 2;
      }
    }
  }
  store<S>(drow, x, green, red, own, along, across);
}

#if SKYLOOM_MEDIA_SSE2
// Sixteen samples from x on as bytes.
template <class L>
inline __m128i load16px(const u8* row, int x) {
  if constexpr (std::is_same_v<L, Load8>) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
  } else {
    const u8* p = row + 2 * size_t(x);
    __m128i a = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 8);
    __m128i b = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), 8);
    return _mm_packus_epi16(a, b);
  }
}

inline __m128i blend(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline void storeRGB16(u8* d, __m128i r, __m128i g, __m128i b) {
  const __m128i ff = _mm_set1_epi8(char(0xFF));
  __m128i arLo = _mm_unpacklo_epi8(ff, r), arHi = _mm_unpackhi_epi8(ff, r);
  __m128i gbLo = _mm_unpacklo_epi8(g, b), gbHi = _mm_unpackhi_epi8(g, b);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(arHi, gbHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(arHi, gbHi));
}

// (306 R + 601 G + 117 B) >> 10 on four 16-bit lanes each, as 32-bit lanes.
inline __m128i luma4(__m128i r16, __m128i g16, __m128i b16, bool hi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i krg = _mm_set1_epi32(306 | (601 << 16));
  const __m128i kb = _mm_set1_epi32(117);
  __m128i rg = hi ? _mm_unpackhi_epi16(r16, g16) : _mm_unpacklo_epi16(r16, g16);
  __m128i b0 = hi ? _mm_unpackhi_epi16(b16, zero) : _mm_unpacklo_epi16(b16, zero);
  return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(rg, krg), _mm_madd_epi16(b0, kb)), 10);
}
inline __m128i luma8(__m128i r, __m128i g, __m128i b, bool hi) {
  const __m128i zero = _mm_setzero_si128();
  __m128i r16 = hi ? _mm_unpackhi_epi8(r, zero) : _mm_unpacklo_epi8(r, zero);
  __m128i g16 = hi ? _mm_unpackhi_epi8(g, zero) : _mm_unpacklo_epi8(g, zero);
  __m128i b16 = hi ? _mm_unpackhi_epi8(b, zero) : _mm_unpacklo_epi8(b, zero);
  return _mm_packs_epi32(luma4(r16, g16, b16, false), luma4(r16, g16, b16, true));
}

inline void storeGrey16(u8* d, __m128i v) {
  const __m128i ff = _mm_set1_epi8(char(0xFF));
  __m128i arLo = _mm_unpacklo_epi8(ff, v), arHi = _mm_unpackhi_epi8(ff, v);
  __m128i gbLo = _mm_unpacklo_epi8(v, v), gbHi = _mm_unpackhi_epi8(v, v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(arLo, gbLo));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(arHi, gbHi));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(arHi, gbHi));
}

// Stores sixteen pixels of 8-bit colours through an ARGB32 sink.
template <class S>
inline void storeBlock(u8* d, __m128i r, __m128i g, __m128i b) {
  if constexpr (std::is_same_v<S, SinkARGB>) {
    storeRGB16(d, r, g, b);
  } else {
    storeGrey16(d, _mm_packus_epi16(luma8(r, g, b, false), luma8(r, g, b, true)));
  }
}

// Lanes whose column x0 + i is a green site of row y.
inline __m128i greenLanes(const Phase& ph, int x0, int y) {
  const bool evenGreen = ph.green(x0, y);
  return evenGreen ? _mm_set1_epi16(0x00FF) : _mm_set1_epi16(short(0xFF00));
}

template <class L, class S>
constexpr bool kHasSIMDPath = (std::is_same_v<L, Load8> || std::is_same_v<L, Load16Hi>) &&
                              (std::is_same_v<S, SinkARGB> || std::is_same_v<S, SinkMonoARGB>);

// Stores sixteen pixels whose colours come as two lane classes of 16-bit
// values: the even columns (e) and the odd columns (o) of the block.
template <class S>
inline void storeClasses(u8* d, __m128i re, __m128i ge, __m128i be, __m128i ro, __m128i go, __m128i bo) {
  if constexpr (std::is_same_v<S, SinkARGB>) {
    storeRGB16(d, _mm_or_si128(re, _mm_slli_epi16(ro, 8)), _mm_or_si128(ge, _mm_slli_epi16(go, 8)),
               _mm_or_si128(be, _mm_slli_epi16(bo, 8)));
  } else {
    const __m128i le = _mm_packs_epi32(luma4(re, ge, be, false), luma4(re, ge, be, true));
    const __m128i lo = _mm_packs_epi32(luma4(ro, go, bo, false), luma4(ro, go, bo, true));
    storeGrey16(d, _mm_or_si128(le, _mm_slli_epi16(lo, 8)));
  }
}

// Bilinear interior of one row, sixteen pixels a step from x = 2; returns
// the first column it did not do. Each block is split into its even and odd
// columns (one a green site, the other not), so every lane computes only the
// means its site needs.
template <class L, class S, bool GreenEven>
int mqRowSIMD(const u8* up, const u8* cur, const u8* dn, u8* drow, bool red, int W) {
  const __m128i lowByte = _mm_set1_epi16(0x00FF);
  auto ev = [&](__m128i v) { return _mm_and_si128(v, lowByte); };
  auto od = [](__m128i v) { return _mm_srli_epi16(v, 8); };
  auto add = [](__m128i a, __m128i b) { return _mm_add_epi16(a, b); };
  int x = 2;
  for (; x + 18 <= W; x += 16) {
    const __m128i cM = load16px<L>(cur, x - 2), c0 = load16px<L>(cur, x), cP = load16px<L>(cur, x + 2);
    const __m128i u0 = load16px<L>(up, x), d0 = load16px<L>(dn, x);
    const __m128i ce = ev(c0), co = od(c0), ue = ev(u0), uo = od(u0), de = ev(d0), dO = od(d0);
    // Per class: own sample, G, and the two other colours as `along` (the
    // row's non-green colour) and `across` (the other one).
    __m128i gG, gAlong, gAcross, nG, nOwn, nAcross, gOwn;
    if constexpr (GreenEven) {
      const __m128i uP = load16px<L>(up, x + 2), dP = load16px<L>(dn, x + 2);
      gOwn = ce;
      gAlong = _mm_srli_epi16(add(od(cM), co), 1);
      gAcross = _mm_srli_epi16(add(ue, de), 1);
      nOwn = co;
      nG = _mm_srli_epi16(add(add(ce, ev(cP)), add(uo, dO)), 2);
      nAcross = _mm_srli_epi16(add(add(ue, ev(uP)), add(de, ev(dP))), 2);
    } else {
      const __m128i uM = load16px<L>(up, x - 2), dM = load16px<L>(dn, x - 2);
      nOwn = ce;
      nG = _mm_srli_epi16(add(add(od(cM), co), add(ue, de)), 2);
      nAcross = _mm_srli_epi16(add(add(od(uM), uo), add(od(dM), dO)), 2);
      gOwn = co;
      gAlong = _mm_srli_epi16(add(ce, ev(cP)), 1);
      gAcross = _mm_srli_epi16(add(uo, dO), 1);
    }
    gG = gOwn;
    // Green site: R/B from along/across; other site: own and across.
    const __m128i gR = red ? gAlong : gAcross, gB = red ? gAcross : gAlong;
    const __m128i nR = red ? nOwn : nAcross, nB = red ? nAcross : nOwn;
    u8* d = drow + 4 * size_t(x);
    if constexpr (GreenEven) storeClasses<S>(d, gR, gG, gB, nR, nG, nB);
    else storeClasses<S>(d, nR, nG, nB, gR, gG, gB);
  }
  return x;
}
#endif

#if SKYLOOM_MEDIA_SSE2
template <class L, class S>
constexpr bool kHas16SIMDPath = (std::is_same_v<L, Load16> || std::is_same_v<L, Load16BE>) &&
                                (std::is_same_v<S, SinkRGB48> || std::is_same_v<S, SinkMono16> ||
                                 std::is_same_v<S, SinkB48r>);

inline __m128i swapLanes16(__m128i v) {
#if defined(__SSSE3__)
  return _mm_shuffle_epi8(v, _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
#else
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
#endif
}

#if defined(__AVX2__)
// Sixteen 16-bit samples from x on, in host order.
template <class L>
inline __m256i load16x16(const u8* row, int x) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * size_t(x)));
  if constexpr (std::is_same_v<L, Load16BE>) {
    const __m256i k = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4, 7, 6, 9,
                                       8, 11, 10, 13, 12, 15, 14);
    return _mm256_shuffle_epi8(v, k);
  } else {
    return v;
  }
}
inline __m128i lowLanes(__m256i v) { return _mm256_castsi256_si128(v); }
inline __m128i highLanes(__m256i v) { return _mm256_extracti128_si256(v, 1); }
#endif

// (306 R + 601 G + 117 B) >> 10 on eight unsigned 16-bit lanes.
inline __m128i luma16x8(__m128i r, __m128i g, __m128i b) {
  auto prod = [](__m128i v, short k, bool hi) {
    const __m128i kk = _mm_set1_epi16(k);
    const __m128i lo16 = _mm_mullo_epi16(v, kk), hi16 = _mm_mulhi_epu16(v, kk);
    return hi ? _mm_unpackhi_epi16(lo16, hi16) : _mm_unpacklo_epi16(lo16, hi16);
  };
  __m128i half[2];
  for (int h = 0; h < 2; ++h) {
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(prod(r, 306, h), prod(g, 601, h)), prod(b, 117, h));
    // Unsigned 16-bit pack with SSE2: bias into the signed range and back.
    half[h] = _mm_sub_epi32(_mm_srli_epi32(sum, 10), _mm_set1_epi32(32768));
  }
  return _mm_xor_si128(_mm_packs_epi32(half[0], half[1]), _mm_set1_epi16(short(0x8000)));
}

#if defined(__SSSE3__)
// Byte shuffle that places 16-bit words of a source at the word slots of an
// output vector: slot i takes word w[i] (-1 leaves zero), its bytes swapped
// when Swap is set.
template <bool Swap>
inline __m128i wordPick(__m128i v, int w0, int w1, int w2, int w3, int w4, int w5, int w6, int w7) {
  const int w[8] = {w0, w1, w2, w3, w4, w5, w6, w7};
  alignas(16) signed char k[16];
  for (int i = 0; i < 8; ++i) {
    const int lo = w[i] < 0 ? -1 : 2 * w[i] + (Swap ? 1 : 0), hi = w[i] < 0 ? -1 : 2 * w[i] + (Swap ? 0 : 1);
    k[2 * i] = static_cast<signed char>(lo);
    k[2 * i + 1] = static_cast<signed char>(hi);
  }
  return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i*>(k)));
}
// Eight pixels R G B from 16-bit lanes, 48 bytes in three stores; Swap
// writes every value big-endian.
template <bool Swap>
inline void storeRGB48x8(u8* d, __m128i r, __m128i g, __m128i b) {
  const __m128i rgLo = _mm_unpacklo_epi16(r, g), rgHi = _mm_unpackhi_epi16(r, g);
  constexpr int Z = -1;
  const __m128i o0 = _mm_or_si128(wordPick<Swap>(rgLo, 0, 1, Z, 2, 3, Z, 4, 5), wordPick<Swap>(b, Z, Z, 0, Z, Z, 1, Z, Z));
  const __m128i o1 = _mm_or_si128(_mm_or_si128(wordPick<Swap>(rgLo, Z, 6, 7, Z, Z, Z, Z, Z),
                                               wordPick<Swap>(rgHi, Z, Z, Z, Z, 0, 1, Z, 2)),
                                  wordPick<Swap>(b, 2, Z, Z, 3, Z, Z, 4, Z));
  const __m128i o2 = _mm_or_si128(wordPick<Swap>(rgHi, 3, Z, 4, 5, Z, 6, 7, Z), wordPick<Swap>(b, Z, 5, Z, Z, 6, Z, Z, 7));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), o0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), o1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), o2);
}
#endif

template <class S>
inline void storeClasses16(u8* d, __m128i re, __m128i ge, __m128i be, __m128i ro, __m128i go, __m128i bo) {
  auto join = [](__m128i e, __m128i o) { return _mm_or_si128(e, _mm_slli_epi32(o, 16)); };
  __m128i r = join(re, ro), g = join(ge, go), b = join(be, bo);
#if defined(__SSSE3__)
  if constexpr (!std::is_same_v<S, SinkMono16>) {
    storeRGB48x8<std::is_same_v<S, SinkB48r>>(d, r, g, b);
    return;
  }
#endif
  if constexpr (std::is_same_v<S, SinkB48r>) {
    r = swapLanes16(r);
    g = swapLanes16(g);
    b = swapLanes16(b);
  }
  if constexpr (std::is_same_v<S, SinkMono16>) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), luma16x8(r, g, b));
  } else {
    // Each pixel goes out as 8 bytes R G B 0 at 6-byte steps; the two extra
    // bytes land on the next pixel, which is written afterwards (by this
    // block, or by the row's tail and edge pixels that always follow it).
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgLo = _mm_unpacklo_epi16(r, g), rgHi = _mm_unpackhi_epi16(r, g);
    const __m128i b0Lo = _mm_unpacklo_epi16(b, zero), b0Hi = _mm_unpackhi_epi16(b, zero);
    const __m128i px[4] = {_mm_unpacklo_epi32(rgLo, b0Lo), _mm_unpackhi_epi32(rgLo, b0Lo),
                           _mm_unpacklo_epi32(rgHi, b0Hi), _mm_unpackhi_epi32(rgHi, b0Hi)};
    for (int i = 0; i < 4; ++i) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12 * i), px[i]);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 12 * i + 6), _mm_srli_si128(px[i], 8));
    }
  }
}

// The bilinear interior of a 16-bit row, eight pixels a step from x = 2,
// the even and odd columns of a block in 32-bit lanes (sums of four samples
// need 18 bits). Returns the first column not done.
template <class L, class S, bool GreenEven>
int mqRow16SIMD(const u8* up, const u8* cur, const u8* dn, u8* drow, bool red, int W) {
  const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
  auto ld = [](const u8* row, int x) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * size_t(x)));
    if constexpr (std::is_same_v<L, Load16BE>) return swapLanes16(v);
    else return v;
  };
  auto ev = [&](__m128i v) { return _mm_and_si128(v, lowHalf); };
  auto od = [](__m128i v) { return _mm_srli_epi32(v, 16); };
  auto add = [](__m128i a, __m128i b) { return _mm_add_epi32(a, b); };
  int x = 2;
#if defined(__AVX2__)
  {
    // Sixteen pixels a step, the same sums in eight 32-bit lanes; each half
    // of a result holds eight pixels and is stored as the loop below does.
    const __m256i lowHalf32 = _mm256_set1_epi32(0xFFFF);
    auto ld8 = [](const u8* row, int x) { return load16x16<L>(row, x); };
    auto ev8 = [&](__m256i v) { return _mm256_and_si256(v, lowHalf32); };
    auto od8 = [](__m256i v) { return _mm256_srli_epi32(v, 16); };
    auto add8 = [](__m256i a, __m256i b) { return _mm256_add_epi32(a, b); };
    for (; x + 18 <= W; x += 16) {
      const __m256i cM = ld8(cur, x - 2), c0 = ld8(cur, x), cP = ld8(cur, x + 2);
      const __m256i u0 = ld8(up, x), d0 = ld8(dn, x);
      const __m256i ce = ev8(c0), co = od8(c0), ue = ev8(u0), uo = od8(u0), de = ev8(d0), dO = od8(d0);
      __m256i gOwn, gAlong, gAcross, nOwn, nG, nAcross;
      if constexpr (GreenEven) {
        const __m256i uP = ld8(up, x + 2), dP = ld8(dn, x + 2);
        gOwn = ce;
        gAlong = _mm256_srli_epi32(add8(od8(cM), co), 1);
        gAcross = _mm256_srli_epi32(add8(ue, de), 1);
        nOwn = co;
        nG = _mm256_srli_epi32(add8(add8(ce, ev8(cP)), add8(uo, dO)), 2);
        nAcross = _mm256_srli_epi32(add8(add8(ue, ev8(uP)), add8(de, ev8(dP))), 2);
      } else {
        const __m256i uM = ld8(up, x - 2), dM = ld8(dn, x - 2);
        nOwn = ce;
        nG = _mm256_srli_epi32(add8(add8(od8(cM), co), add8(ue, de)), 2);
        nAcross = _mm256_srli_epi32(add8(add8(od8(uM), uo), add8(od8(dM), dO)), 2);
        gOwn = co;
        gAlong = _mm256_srli_epi32(add8(ce, ev8(cP)), 1);
        gAcross = _mm256_srli_epi32(add8(uo, dO), 1);
      }
      const __m256i gR = red ? gAlong : gAcross, gB = red ? gAcross : gAlong;
      const __m256i nR = red ? nOwn : nAcross, nB = red ? nAcross : nOwn;
      u8* d = drow + S::kBytes * size_t(x);
      if constexpr (GreenEven) {
        storeClasses16<S>(d, lowLanes(gR), lowLanes(gOwn), lowLanes(gB), lowLanes(nR), lowLanes(nG), lowLanes(nB));
        storeClasses16<S>(d + 8 * S::kBytes, highLanes(gR), highLanes(gOwn), highLanes(gB), highLanes(nR), highLanes(nG),
                          highLanes(nB));
      } else {
        storeClasses16<S>(d, lowLanes(nR), lowLanes(nG), lowLanes(nB), lowLanes(gR), lowLanes(gOwn), lowLanes(gB));
        storeClasses16<S>(d + 8 * S::kBytes, highLanes(nR), highLanes(nG), highLanes(nB), highLanes(gR), highLanes(gOwn),
                          highLanes(gB));
      }
    }
  }
#endif
  for (; x + 10 <= W; x += 8) {
    const __m128i cM = ld(cur, x - 2), c0 = ld(cur, x), cP = ld(cur, x + 2);
    const __m128i u0 = ld(up, x), d0 = ld(dn, x);
    const __m128i ce = ev(c0), co = od(c0), ue = ev(u0), uo = od(u0), de = ev(d0), dO = od(d0);
    __m128i gOwn, gAlong, gAcross, nOwn, nG, nAcross;
    if constexpr (GreenEven) {
      const __m128i uP = ld(up, x + 2), dP = ld(dn, x + 2);
      gOwn = ce;
      gAlong = _mm_srli_epi32(add(od(cM), co), 1);
      gAcross = _mm_srli_epi32(add(ue, de), 1);
      nOwn = co;
      nG = _mm_srli_epi32(add(add(ce, ev(cP)), add(uo, dO)), 2);
      nAcross = _mm_srli_epi32(add(add(ue, ev(uP)), add(de, ev(dP))), 2);
    } else {
      const __m128i uM = ld(up, x - 2), dM = ld(dn, x - 2);
      nOwn = ce;
      nG = _mm_srli_epi32(add(add(od(cM), co), add(ue, de)), 2);
      nAcross = _mm_srli_epi32(add(add(od(uM), uo), add(od(dM), dO)), 2);
      gOwn = co;
      gAlong = _mm_srli_epi32(add(ce, ev(cP)), 1);
      gAcross = _mm_srli_epi32(add(uo, dO), 1);
    }
    const __m128i gR = red ? gAlong : gAcross, gB = red ? gAcross : gAlong;
    const __m128i nR = red ? nOwn : nAcross, nB = red ? nAcross : nOwn;
    u8* d = drow + S::kBytes * size_t(x);
    if constexpr (GreenEven) storeClasses16<S>(d, gR, gOwn, gB, nR, nG, nB);
    else storeClasses16<S>(d, nR, nG, nB, gR, gOwn, gB);
  }
  return x;
}
#endif

// Interior pixels x0 .. x1 of a row with rows up and dn present.
template <class L, class S>
void mqRowScalar(const u8* up, const u8* cur, const u8* dn, u8* drow, const Phase& ph, int y, int x0, int x1) {
  const bool red = ph.redRow(y);
  for (int x = x0; x <= x1; ++x) {
    const bool green = ph.green(x, y);
    const int own = L::at(cur, x);
    const int l = L::at(cur, x - 1), r = L::at(cur, x + 1), u = L::at(up, x), d = L::at(dn, x);
    int along, across;
    if (green) {
      along = (l + r) >> 1;
      across = (u + d) >> 1;
    } else {
      along = (l + r + u + d) >> 2;
      across = (L::at(up, x - 1) + L::at(up, x + 1) + L::at(dn, x - 1) + L::at(dn, x + 1)) >> 2;
    }
    store<S>(drow, x, green, red, own, along, across);
  }
}

template <class L, class S>
void demosaicMQ(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
                UInt8 startRowFlag, bool simd) {
  if (src == nullptr || dst == nullptr || width == 0 || height == 0 || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF)
    return;
  const int W = int(width), H = int(height);
  const Mosaic<L> m{static_cast<const u8*>(src), W, H, size_t(W) * L::kBytes};
  const Phase ph = myBayerPhase(grbg, startRowFlag);
  u8* d = static_cast<u8*>(dst);
  for (int y = 0; y < H; ++y) {
    u8* drow = d + size_t(y) * dstRowBytes;
    if ((y == H - 1 && H >= 2) || W < 3 || H < 2) {
      for (int x = 0; x < W; ++x) mqPixel<L, S>(m, ph, drow, x, y);
      continue;
    }
    const u8* up = m.row(y == 0 ? 1 : y - 1);
    const u8* cur = m.row(y);
    const u8* dn = m.row(y + 1);
    mqPixel<L, S>(m, ph, drow, 0, y);
    int x = 1;
#if SKYLOOM_MEDIA_SSE2
    if constexpr (kHasSIMDPath<L, S>) {
      if (simd) {
        mqRowScalar<L, S>(up, cur, dn, drow, ph, y, 1, 1);
        x = ph.green(2, y) ? mqRowSIMD<L, S, true>(up, cur, dn, drow, ph.redRow(y), W)
                           : mqRowSIMD<L, S, false>(up, cur, dn, drow, ph.redRow(y), W);
      }
    }
    if constexpr (kHas16SIMDPath<L, S>) {
      if (simd) {
        mqRowScalar<L, S>(up, cur, dn, drow, ph, y, 1, 1);
        x = ph.green(2, y) ? mqRow16SIMD<L, S, true>(up, cur, dn, drow, ph.redRow(y), W)
                           : mqRow16SIMD<L, S, false>(up, cur, dn, drow, ph.redRow(y), W);
      }
    }
#endif
    mqRowScalar<L, S>(up, cur, dn, drow, ph, y, x, W - 2);
    mqPixel<L, S>(m, ph, drow, W - 1, y);
  }
}

// =====================================================================
// Low quality (sliding 2x2 cell).
// =====================================================================

// The cell of rows y, y + 1 and columns x0, x1, each colour the mean of its
// samples in the cell (one red, two greens, one blue in any frame of at
// least 2 x 2; clamped duplicates in smaller ones).
template <class L, class S>
void lqCell(const Mosaic<L>& m, const Phase& ph, u8* drow, int x, int x0, int x1, int y0, int y1) {
  int sum[3] = {0, 0, 0}, cnt[3] = {0, 0, 0};
  const int xs[2] = {x0, x1}, ys[2] = {y0, y1};
  for (int j = 0; j < 2; ++j)
    for (int i = 0; i < 2; ++i) {
      const int cx = xs[i], cy = ys[j];
      const int colour = ph.green(cx, cy) ? 1 : (ph.redRow(cy) ? 0 : 2);
      sum[colour] += m.at(cx, cy);
      ++cnt[colour];
    }
  // A frame of one row or column lacks a colour: take the cell's mean.
  const int all = (sum[0] + sum[1] + sum[2]) / 4;
  int v[3];
  for (int c = 0; c < 3; ++c) v[c] = cnt[c] ? sum[c] / cnt[c] : all;
  S::put(drow, x, v[0], v[1], v[2]);
}

#if SKYLOOM_MEDIA_SSE2
// Cells of one row, sixteen pixels a step from x = 1; returns the first
// column not done.
template <class L, class S>
int lqRowSIMD(const u8* top, const u8* bot, u8* drow, const Phase& ph, int y, int W) {
  int x = 1;
  // Lanes whose cell has its green in the top-left corner.
  const __m128i tg = greenLanes(ph, x - 1, y);
  const bool red = ph.redRow(y);
  const __m128i one = _mm_set1_epi8(1);
#if defined(__AVX2__)
  if constexpr (std::is_same_v<L, Load8>) {
    // Thirty-two pixels a step, the same byte steps, stored half by half.
    const __m256i tg8 = _mm256_broadcastsi128_si256(tg), one8 = _mm256_set1_epi8(1);
    auto ld = [](const u8* row, int at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + at)); };
    auto pick = [](__m256i mask, __m256i a, __m256i b) { return _mm256_blendv_epi8(b, a, mask); };
    for (; x + 32 <= W; x += 32) {
      const __m256i a = ld(top, x - 1), b = ld(top, x), c = ld(bot, x - 1), e = ld(bot, x);
      const __m256i gt = pick(tg8, a, b), nt = pick(tg8, b, a);
      const __m256i gb = pick(tg8, e, c), nb = pick(tg8, c, e);
      const __m256i g = _mm256_sub_epi8(_mm256_avg_epu8(gt, gb), _mm256_and_si256(_mm256_xor_si256(gt, gb), one8));
      const __m256i rr = red ? nt : nb, bb = red ? nb : nt;
      storeBlock<S>(drow + 4 * size_t(x), lowLanes(rr), lowLanes(g), lowLanes(bb));
      storeBlock<S>(drow + 4 * size_t(x + 16), highLanes(rr), highLanes(g), highLanes(bb));
    }
  }
#endif
  for (; x + 16 <= W; x += 16) {
    const __m128i a = load16px<L>(top, x - 1), b = load16px<L>(top, x);
    const __m128i c = load16px<L>(bot, x - 1), e = load16px<L>(bot, x);
    const __m128i gt = blend(tg, a, b), nt = blend(tg, b, a);
    const __m128i gb = blend(tg, e, c), nb = blend(tg, c, e);
    // floor((gt + gb) / 2): the rounding average less the dropped odd bit.
    const __m128i g = _mm_sub_epi8(_mm_avg_epu8(gt, gb), _mm_and_si128(_mm_xor_si128(gt, gb), one));
    if (red) storeBlock<S>(drow + 4 * size_t(x), nt, g, nb);
    else storeBlock<S>(drow + 4 * size_t(x), nb, g, nt);
  }
  return x;
}
#endif

#if SKYLOOM_MEDIA_SSE2
// Cells of one 16-bit row, eight pixels a step from x = 1, in 32-bit lanes:
// the pixels at odd columns take columns (x - 1, x) of the pair loaded at
// x - 1, those at even columns the odd half of that pair and the even half
// of the next. Returns the first column not done.
template <class L, class S>
int lqRow16SIMD(const u8* top, const u8* bot, u8* drow, const Phase& ph, int y, int W) {
  const __m128i lowHalf = _mm_set1_epi32(0xFFFF);
  auto ld = [](const u8* row, int x) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * size_t(x)));
    if constexpr (std::is_same_v<L, Load16BE>) return swapLanes16(v);
    else return v;
  };
  auto ev = [&](__m128i v) { return _mm_and_si128(v, lowHalf); };
  auto od = [](__m128i v) { return _mm_srli_epi32(v, 16); };
  const bool red = ph.redRow(UInt32(y));
  const bool tgOdd = ph.green(0, UInt32(y)), tgEven = ph.green(1, UInt32(y));
  // One class of pixels: a, b the top samples of its cell, c, e the bottom.
  auto cell = [&](bool tg, __m128i a, __m128i b, __m128i c, __m128i e, __m128i* r, __m128i* g, __m128i* bl) {
    *g = _mm_srli_epi32(_mm_add_epi32(tg ? a : b, tg ? e : c), 1);
    const __m128i nt = tg ? b : a, nb = tg ? c : e;
    *r = red ? nt : nb;
    *bl = red ? nb : nt;
  };
  int x = 1;
#if defined(__AVX2__)
  {
    // Sixteen pixels a step in eight 32-bit lanes, stored half by half.
    const __m256i lowHalf32 = _mm256_set1_epi32(0xFFFF);
    auto ev8 = [&](__m256i v) { return _mm256_and_si256(v, lowHalf32); };
    auto od8 = [](__m256i v) { return _mm256_srli_epi32(v, 16); };
    auto cell8 = [&](bool tg, __m256i a, __m256i b, __m256i c, __m256i e, __m256i* r, __m256i* g, __m256i* bl) {
      *g = _mm256_srli_epi32(_mm256_add_epi32(tg ? a : b, tg ? e : c), 1);
      const __m256i nt = tg ? b : a, nb = tg ? c : e;
      *r = red ? nt : nb;
      *bl = red ? nb : nt;
    };
    for (; x + 17 <= W; x += 16) {
      const __m256i t0 = load16x16<L>(top, x - 1), t2 = load16x16<L>(top, x + 1);
      const __m256i b0 = load16x16<L>(bot, x - 1), b2 = load16x16<L>(bot, x + 1);
      __m256i r1, g1, b1, r2, g2, b2x;
      cell8(tgOdd, ev8(t0), od8(t0), ev8(b0), od8(b0), &r1, &g1, &b1);
      cell8(tgEven, od8(t0), ev8(t2), od8(b0), ev8(b2), &r2, &g2, &b2x);
      u8* d = drow + S::kBytes * size_t(x);
      storeClasses16<S>(d, lowLanes(r1), lowLanes(g1), lowLanes(b1), lowLanes(r2), lowLanes(g2), lowLanes(b2x));
      storeClasses16<S>(d + 8 * S::kBytes, highLanes(r1), highLanes(g1), highLanes(b1), highLanes(r2), highLanes(g2),
                        highLanes(b2x));
    }
  }
#endif
  for (; x + 9 <= W; x += 8) {
    const __m128i t0 = ld(top, x - 1), t2 = ld(top, x + 1), b0 = ld(bot, x - 1), b2 = ld(bot, x + 1);
    __m128i r1, g1, b1, r2, g2, b2x;
    cell(tgOdd, ev(t0), od(t0), ev(b0), od(b0), &r1, &g1, &b1);
    cell(tgEven, od(t0), ev(t2), od(b0), ev(b2), &r2, &g2, &b2x);
    storeClasses16<S>(drow + S::kBytes * size_t(x), r1, g1, b1, r2, g2, b2x);
  }
  return x;
}
#endif

template <class L, class S>
void lqRowScalar(const u8* top, const u8* bot, u8* drow, const Phase& ph, int y, int x0, int W) {
  const bool red = ph.redRow(y);
  for (int x = x0; x < W; ++x) {
    const bool tg = ph.green(x - 1, y);
    const int a = L::at(top, x - 1), b = L::at(top, x), c = L::at(bot, x - 1), e = L::at(bot, x);
    const int g = ((tg ? a : b) + (tg ? e : c)) >> 1;
    const int nt = tg ? b : a, nb = tg ? c : e;
    if (red) S::put(drow, x, nt, g, nb);
    else S::put(drow, x, nb, g, nt);
  }
}

template <class L, class S>
void demosaicLQ(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
                UInt8 startRowFlag, bool simd) {
  if (src == nullptr || dst == nullptr || width == 0 || height == 0 || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF)
    return;
  const int W = int(width), H = int(height);
  const Mosaic<L> m{static_cast<const u8*>(src), W, H, size_t(W) * L::kBytes};
  const Phase ph = myBayerPhase(grbg, startRowFlag);
  u8* d = static_cast<u8*>(dst);
  const int lastComputed = H >= 2 ? H - 2 : 0;
  for (int y = 0; y <= lastComputed; ++y) {
    u8* drow = d + size_t(y) * dstRowBytes;
    const int y1 = m.cy(y + 1);
    if (W < 2 || y1 == y) {
      for (int x = 0; x < W; ++x) lqCell<L, S>(m, ph, drow, x, x == 0 ? 0 : x - 1, x == 0 ? m.cx(1) : x, y, y1);
      continue;
    }
    int x = 1;
#if SKYLOOM_MEDIA_SSE2
    if constexpr (kHasSIMDPath<L, S>) {
      if (simd) x = lqRowSIMD<L, S>(m.row(y), m.row(y1), drow, ph, y, W);
    }
    if constexpr (kHas16SIMDPath<L, S>) {
      if (simd) x = lqRow16SIMD<L, S>(m.row(y), m.row(y1), drow, ph, y, W);
    }
#endif
    lqRowScalar<L, S>(m.row(y), m.row(y1), drow, ph, y, x, W);
    // Column 0 uses the cell of columns 0 and 1, as column 1 does.
    myMemCpy(drow, drow + S::kBytes, UInt32(S::kBytes));
  }
  if (H >= 2)
    myMemCpy(d + size_t(H - 1) * dstRowBytes, d + size_t(H - 2) * dstRowBytes, UInt32(size_t(W) * S::kBytes));
}

// =====================================================================
// High quality (variable number of gradients).
// =====================================================================

// Mirror about the border sample, then clamp for frames too small to mirror.
inline int mirror(int i, int n) {
  if (i < 0) i = -i;
  if (i >= n) i = 2 * (n - 1) - i;
  return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

template <class L>
SInt32 extract(const void* src, UInt32 width, UInt32 height, UInt32 ux, UInt32 uy, UInt16* out) {
  if (src == nullptr || out == nullptr || ux >= width || uy >= height || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF)
    return -1;
  const int W = int(width), H = int(height), x = int(ux), y = int(uy);
  const u8* base = static_cast<const u8*>(src);
  const size_t stride = size_t(W) * L::kBytes;
  if (x >= 2 && y >= 2 && x + 2 < W && y + 2 < H) {
    for (int j = 0; j < 5; ++j) {
      const u8* row = base + size_t(y - 2 + j) * stride;
      for (int i = 0; i < 5; ++i) out[5 * j + i] = UInt16(L::at(row, x - 2 + i));
    }
    return 0;
  }
  int cols[5];
  for (int i = 0; i < 5; ++i) cols[i] = mirror(x - 2 + i, W);
  for (int j = 0; j < 5; ++j) {
    const u8* row = base + size_t(mirror(y - 2 + j, H)) * stride;
    for (int i = 0; i < 5; ++i) out[5 * j + i] = UInt16(L::at(row, cols[i]));
  }
  return 0;
}

// One high-quality output pixel from a 5x5 neighbourhood (values numbered 1
// to 25 row by row). kHalfDiagAtGreen gives the diagonal gradients at a green
// centre the geometry they have at a red or blue centre (four half-weighted
// terms); without it they take two full terms there instead.
template <bool kHalfDiagAtGreen>
inline void windowToPixels(const UInt16* pixArr, UInt8 isGreenSite, UInt8 isRedRow, UInt32 maxValue, UInt16* red,
                           UInt16* green, UInt16* blue) {
  // P(n) is neighbourhood value n, 1 to 25 row by row.
  auto P = [pixArr](int n) { return SInt32(pixArr[n - 1]); };
  auto D = [&P](int a, int b) {
    const SInt32 v = P(a) - P(b);
    return v < 0 ? -v : v;
  };
  UInt32 grad[8];
  grad[0] = D(8, 18) + D(3, 13) + ((D(7, 17) + D(9, 19) + D(2, 12) + D(4, 14)) >> 1);    // N
  grad[1] = D(14, 12) + D(15, 13) + ((D(9, 7) + D(19, 17) + D(10, 8) + D(20, 18)) >> 1);  // E
  grad[2] = D(18, 8) + D(23, 13) + ((D(19, 9) + D(17, 7) + D(24, 14) + D(22, 12)) >> 1);  // S
  grad[3] = D(12, 14) + D(11, 13) + ((D(17, 19) + D(7, 9) + D(16, 18) + D(6, 8)) >> 1);   // W
  if (!isGreenSite || kHalfDiagAtGreen) {
    grad[4] = D(9, 17) + D(5, 13) + ((D(8, 12) + D(14, 18) + D(4, 8) + D(10, 14)) >> 1);     // NE
    grad[5] = D(19, 7) + D(25, 13) + ((D(14, 8) + D(18, 12) + D(20, 14) + D(24, 18)) >> 1);  // SE
    grad[6] = D(7, 19) + D(1, 13) + ((D(12, 18) + D(8, 14) + D(6, 12) + D(2, 8)) >> 1);      // NW
    grad[7] = D(17, 9) + D(21, 13) + ((D(18, 14) + D(12, 8) + D(22, 18) + D(16, 12)) >> 1);  // SW
  } else {
    grad[4] = D(9, 17) + D(5, 13) + D(4, 12) + D(10, 18);
    grad[5] = D(19, 7) + D(25, 13) + D(20, 8) + D(24, 12);
    grad[6] = D(7, 19) + D(1, 13) + D(6, 18) + D(2, 14);
    grad[7] = D(17, 9) + D(21, 13) + D(22, 14) + D(16, 8);
  }
  UInt32 gMin = grad[0], gMax = grad[0];
  for (int i = 1; i < 8; ++i) {
    if (grad[i] < gMin) gMin = grad[i];
    if (grad[i] > gMax) gMax = grad[i];
  }
  const UInt32 threshold = UInt32(1.5 * double(gMin) + 0.5 * double(gMax - gMin));

  // Per direction (N, E, S, W, NE, SE, NW, SW) the means of the own colour
  // and of the two missing ones.
  SInt32 own[8], m1[8], m2[8];
  if (!isGreenSite) {
    // m1 green, m2 the opposite colour.
    own[0] = (P(3) + P(13)) >> 1;  m1[0] = P(8);  m2[0] = (P(7) + P(9)) >> 1;
    own[1] = (P(13) + P(15)) >> 1; m1[1] = P(14); m2[1] = (P(9) + P(19)) >> 1;
    own[2] = (P(13) + P(23)) >> 1; m1[2] = P(18); m2[2] = (P(17) + P(19)) >> 1;
    own[3] = (P(11) + P(13)) >> 1; m1[3] = P(12); m2[3] = (P(7) + P(17)) >> 1;
    own[4] = (P(5) + P(13)) >> 1;  m1[4] = (P(4) + P(8) + P(10) + P(14)) >> 2;   m2[4] = P(9);
    own[5] = (P(13) + P(25)) >> 1; m1[5] = (P(14) + P(18) + P(20) + P(24)) >> 2; m2[5] = P(19);
    own[6] = (P(1) + P(13)) >> 1;  m1[6] = (P(2) + P(6) + P(8) + P(12)) >> 2;    m2[6] = P(7);
    own[7] = (P(13) + P(21)) >> 1; m1[7] = (P(12) + P(16) + P(18) + P(22)) >> 2; m2[7] = P(17);
  } else {
    // m1 the row's other colour (H), m2 the column's (V).
    own[0] = (P(3) + P(13)) >> 1;  m1[0] = (P(2) + P(4) + P(12) + P(14)) >> 2;   m2[0] = P(8);
    own[1] = (P(13) + P(15)) >> 1; m1[1] = P(14); m2[1] = (P(8) + P(10) + P(18) + P(20)) >> 2;
    own[2] = (P(13) + P(23)) >> 1; m1[2] = (P(12) + P(14) + P(22) + P(24)) >> 2; m2[2] = P(18);
    own[3] = (P(11) + P(13)) >> 1; m1[3] = P(12); m2[3] = (P(6) + P(8) + P(16) + P(18)) >> 2;
    own[4] = (P(5) + P(9) + P(13)) / 3;   m1[4] = (P(4) + P(14)) >> 1;  m2[4] = (P(8) + P(10)) >> 1;
    own[5] = (P(13) + P(19) + P(25)) / 3; m1[5] = (P(14) + P(24)) >> 1; m2[5] = (P(18) + P(20)) >> 1;
    own[6] = (P(1) + P(7) + P(13)) / 3;   m1[6] = (P(2) + P(12)) >> 1;  m2[6] = (P(6) + P(8)) >> 1;
    own[7] = (P(13) + P(17) + P(21)) / 3; m1[7] = (P(12) + P(22)) >> 1; m2[7] = (P(16) + P(18)) >> 1;
  }
  SInt32 sumOwn = 0, sum1 = 0, sum2 = 0, count = 0;
  for (int i = 0; i < 8; ++i) {
    // Without branches: the choice is data-dependent and mispredicts often.
    const SInt32 take = -SInt32(grad[i] <= threshold);
    sumOwn += own[i] & take;
    sum1 += m1[i] & take;
    sum2 += m2[i] & take;
    count -= take;
  }
  const double f = 1.0 / double(count);
  const SInt32 centre = P(13);
  auto finish = [&](SInt32 sum) -> UInt16 {
    const double v = double(centre) + f * double(sum - sumOwn);
    const SInt64 t = SInt64(v);  // toward zero; |v| stays far inside the range
    if (t < 0) return 0;
    if (t > SInt64(maxValue)) return UInt16(maxValue > 65535 ? 65535 : maxValue);
    return UInt16(t);
  };
  const UInt16 c = UInt16(centre), a = finish(sum1), b = finish(sum2);
  if (!isGreenSite) {
    *green = a;
    if (isRedRow) { *red = c; *blue = b; }
    else { *blue = c; *red = b; }
  } else {
    *green = c;
    if (isRedRow) { *red = a; *blue = b; }
    else { *blue = a; *red = b; }
  }
}

#if SKYLOOM_MEDIA_SSE2
// The high-quality rule on several pixels at once: pixels x0, x0 + 2, ... of
// one row, which share their site kind, one to a lane. Source rows come
// widened and split into their even and odd padded columns (padded column
// q = column + 2, mirrored outside the frame), so the sample at any offset of
// the 5x5 window is one unaligned load for all lanes. 8-bit samples run in
// 16-bit lanes (every sum stays below 2048), wider ones in 32-bit lanes; the
// final step is the scalar rule's double arithmetic in both.

// Exact double(centre) + (1.0 / double(count)) * double(diff), truncated
// toward zero and clamped to 0 .. maxValue, on four 32-bit lanes.
inline __m128i hqFinish(__m128i centre, __m128i diff, __m128d fLo, __m128d fHi, __m128i maxValue) {
  auto half = [&](__m128i c, __m128i df, __m128d f) {
    return _mm_cvttpd_epi32(_mm_add_pd(_mm_cvtepi32_pd(c), _mm_mul_pd(f, _mm_cvtepi32_pd(df))));
  };
  const __m128i lo = half(centre, diff, fLo);
  const __m128i hi = half(_mm_srli_si128(centre, 8), _mm_srli_si128(diff, 8), fHi);
  __m128i t = _mm_unpacklo_epi64(lo, hi);
  t = _mm_andnot_si128(_mm_cmplt_epi32(t, _mm_setzero_si128()), t);
  return blend(_mm_cmpgt_epi32(t, maxValue), maxValue, t);
}
inline void hqFinish4(__m128i centre, __m128i sum1, __m128i sum2, __m128i sumOwn, __m128i count, UInt32 maxValue,
                      __m128i* a, __m128i* b) {
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d fLo = _mm_div_pd(one, _mm_cvtepi32_pd(count));
  const __m128d fHi = _mm_div_pd(one, _mm_cvtepi32_pd(_mm_srli_si128(count, 8)));
  const __m128i maxV = _mm_set1_epi32(SInt32(maxValue > 65535 ? 65535 : maxValue));
  *a = hqFinish(centre, _mm_sub_epi32(sum1, sumOwn), fLo, fHi, maxV);
  *b = hqFinish(centre, _mm_sub_epi32(sum2, sumOwn), fLo, fHi, maxV);
}

struct HQLanes32 {
  using T = SInt32;
  using Vec = __m128i;
  static constexpr int kLanes = 4;
  static Vec load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(T* p, Vec v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
  static Vec zero() { return _mm_setzero_si128(); }
  static Vec ones() { return _mm_set1_epi32(-1); }
  static Vec andNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
  static __m128i add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
  static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
  template <int N>
  static __m128i shr(__m128i v) { return _mm_srli_epi32(v, N); }
  static __m128i gt(__m128i a, __m128i b) { return _mm_cmpgt_epi32(a, b); }
  // Only ever taken of samples (0 .. 65535, high halves zero), so the two
  // saturated 16-bit differences give |a - b| exactly.
  static __m128i absDiff(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu16(a, b), _mm_subs_epu16(b, a)); }
  static __m128i min(__m128i a, __m128i b) { return blend(_mm_cmpgt_epi32(a, b), b, a); }
  static __m128i max(__m128i a, __m128i b) { return blend(_mm_cmpgt_epi32(a, b), a, b); }
  // Exact x / 3 for 0 <= x < 2^20: (x + 0.5) / 3 lies at least 1/6 from an integer.
  static __m128i third(__m128i x) {
    const __m128 v = _mm_add_ps(_mm_cvtepi32_ps(x), _mm_set1_ps(0.5f));
    return _mm_cvttps_epi32(_mm_mul_ps(v, _mm_set1_ps(1.0f / 3.0f)));
  }
  static void finish(__m128i centre, __m128i sum1, __m128i sum2, __m128i sumOwn, __m128i count, UInt32 maxValue,
                     __m128i* a, __m128i* b) {
    hqFinish4(centre, sum1, sum2, sumOwn, count, maxValue, a, b);
  }
};

struct HQLanes16 {
  using T = SInt16;
  using Vec = __m128i;
  static constexpr int kLanes = 8;
  static Vec load(const T* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
  static void store(T* p, Vec v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
  static Vec zero() { return _mm_setzero_si128(); }
  static Vec ones() { return _mm_set1_epi32(-1); }
  static Vec andNot(Vec a, Vec b) { return _mm_andnot_si128(a, b); }
  static __m128i add(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
  static __m128i sub(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
  template <int N>
  static __m128i shr(__m128i v) { return _mm_srli_epi16(v, N); }
  static __m128i gt(__m128i a, __m128i b) { return _mm_cmpgt_epi16(a, b); }
  static __m128i absDiff(__m128i a, __m128i b) { return _mm_sub_epi16(_mm_max_epi16(a, b), _mm_min_epi16(a, b)); }
  static __m128i min(__m128i a, __m128i b) { return _mm_min_epi16(a, b); }
  static __m128i max(__m128i a, __m128i b) { return _mm_max_epi16(a, b); }
  // Exact x / 3 for 0 <= x <= 765 (three 8-bit samples).
  static __m128i third(__m128i x) { return _mm_mulhi_epu16(x, _mm_set1_epi16(21846)); }
  static void finish(__m128i centre, __m128i sum1, __m128i sum2, __m128i sumOwn, __m128i count, UInt32 maxValue,
                     __m128i* a, __m128i* b) {
    auto lo = [&](__m128i v) { return _mm_unpacklo_epi16(v, _mm_srai_epi16(v, 15)); };
    auto hi = [&](__m128i v) { return _mm_unpackhi_epi16(v, _mm_srai_epi16(v, 15)); };
    __m128i aLo, bLo, aHi, bHi;
    hqFinish4(lo(centre), lo(sum1), lo(sum2), lo(sumOwn), lo(count), maxValue, &aLo, &bLo);
    hqFinish4(hi(centre), hi(sum1), hi(sum2), hi(sumOwn), hi(count), maxValue, &aHi, &bHi);
    *a = _mm_packs_epi32(aLo, aHi);
    *b = _mm_packs_epi32(bLo, bHi);
  }
};

#if defined(__AVX2__)
// Wide samples eight to a 256-bit register, for builds with AVX2: the same
// integer steps and the same double arithmetic in the final step, so the
// bytes equal those of HQLanes32.
struct HQLanes32x8 {
  using T = SInt32;
  using Vec = __m256i;
  static constexpr int kLanes = 8;
  static Vec load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(T* p, Vec v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec zero() { return _mm256_setzero_si256(); }
  static Vec ones() { return _mm256_set1_epi32(-1); }
  static Vec andNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
  static Vec add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
  template <int N>
  static Vec shr(Vec v) { return _mm256_srli_epi32(v, N); }
  static Vec gt(Vec a, Vec b) { return _mm256_cmpgt_epi32(a, b); }
  static Vec absDiff(Vec a, Vec b) { return _mm256_abs_epi32(_mm256_sub_epi32(a, b)); }
  static Vec min(Vec a, Vec b) { return _mm256_min_epi32(a, b); }
  static Vec max(Vec a, Vec b) { return _mm256_max_epi32(a, b); }
  static Vec third(Vec x) {
    const __m256 v = _mm256_add_ps(_mm256_cvtepi32_ps(x), _mm256_set1_ps(0.5f));
    return _mm256_cvttps_epi32(_mm256_mul_ps(v, _mm256_set1_ps(1.0f / 3.0f)));
  }
  // centre + (1.0 / count) * diff in double, truncated toward zero, clamped.
  static void finish(Vec centre, Vec sum1, Vec sum2, Vec sumOwn, Vec count, UInt32 maxValue, Vec* a, Vec* b) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d fLo = _mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_castsi256_si128(count)));
    const __m256d fHi = _mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_extracti128_si256(count, 1)));
    const __m256d cLo = _mm256_cvtepi32_pd(_mm256_castsi256_si128(centre));
    const __m256d cHi = _mm256_cvtepi32_pd(_mm256_extracti128_si256(centre, 1));
    const Vec maxV = _mm256_set1_epi32(SInt32(maxValue > 65535 ? 65535 : maxValue));
    auto one8 = [&](Vec sum) {
      const Vec diff = _mm256_sub_epi32(sum, sumOwn);
      const __m128i lo = _mm256_cvttpd_epi32(
          _mm256_add_pd(cLo, _mm256_mul_pd(fLo, _mm256_cvtepi32_pd(_mm256_castsi256_si128(diff)))));
      const __m128i hi = _mm256_cvttpd_epi32(
          _mm256_add_pd(cHi, _mm256_mul_pd(fHi, _mm256_cvtepi32_pd(_mm256_extracti128_si256(diff, 1)))));
      const Vec t = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
      return _mm256_min_epi32(_mm256_max_epi32(t, _mm256_setzero_si256()), maxV);
    };
    *a = one8(sum1);
    *b = one8(sum2);
  }
};

// 8-bit samples sixteen to a 256-bit register: the steps of HQLanes16.
struct HQLanes16x16 {
  using T = SInt16;
  using Vec = __m256i;
  static constexpr int kLanes = 16;
  static Vec load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
  static void store(T* p, Vec v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
  static Vec zero() { return _mm256_setzero_si256(); }
  static Vec ones() { return _mm256_set1_epi32(-1); }
  static Vec andNot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
  static Vec add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
  static Vec sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
  template <int N>
  static Vec shr(Vec v) { return _mm256_srli_epi16(v, N); }
  static Vec gt(Vec a, Vec b) { return _mm256_cmpgt_epi16(a, b); }
  static Vec absDiff(Vec a, Vec b) { return _mm256_sub_epi16(_mm256_max_epi16(a, b), _mm256_min_epi16(a, b)); }
  static Vec min(Vec a, Vec b) { return _mm256_min_epi16(a, b); }
  static Vec max(Vec a, Vec b) { return _mm256_max_epi16(a, b); }
  static Vec third(Vec x) { return _mm256_mulhi_epu16(x, _mm256_set1_epi16(21846)); }
  static void finish(Vec centre, Vec sum1, Vec sum2, Vec sumOwn, Vec count, UInt32 maxValue, Vec* a, Vec* b) {
    auto lo = [](Vec v) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(v)); };
    auto hi = [](Vec v) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(v, 1)); };
    Vec aLo, bLo, aHi, bHi;
    HQLanes32x8::finish(lo(centre), lo(sum1), lo(sum2), lo(sumOwn), lo(count), maxValue, &aLo, &bLo);
    HQLanes32x8::finish(hi(centre), hi(sum1), hi(sum2), hi(sumOwn), hi(count), maxValue, &aHi, &bHi);
    // The in-lane pack leaves the quarters 0, 2, 1, 3: put them back in order.
    *a = _mm256_permute4x64_epi64(_mm256_packs_epi32(aLo, aHi), 0xD8);
    *b = _mm256_permute4x64_epi64(_mm256_packs_epi32(bLo, bHi), 0xD8);
  }
};
#endif

template <class V>
struct HQRows {
  const typename V::T* even[5];  // window rows -2 .. +2
  const typename V::T* odd[5];
};

template <class V, bool kGreen, bool kHalfDiagAtGreen>
inline void hqLanes(const HQRows<V>& rows, int x0, UInt32 maxValue, typename V::Vec* ownOut, typename V::Vec* aOut,
                    typename V::Vec* bOut) {
  using Vec = typename V::Vec;
  // Window values by their number 1 .. 25 as the scalar rule counts them.
  Vec w[26];
  for (int n = 1; n <= 25; ++n) {
    const int dr = (n - 1) / 5 - 2, q = x0 + 2 + (n - 1) % 5 - 2;
    const typename V::T* base = (q & 1) ? rows.odd[dr + 2] : rows.even[dr + 2];
    w[n] = V::load(base + (q >> 1));
  }
  // |a - b| = |b - a|: one order for both lets the shared terms of opposite
  // directions be computed once.
  auto D = [&](int a, int b) { return a < b ? V::absDiff(w[a], w[b]) : V::absDiff(w[b], w[a]); };
  auto add = [](Vec a, Vec b) { return V::add(a, b); };
  auto sum4 = [&](Vec a, Vec b, Vec c, Vec d) { return add(add(a, b), add(c, d)); };
  auto halfOf = [](Vec v) { return V::template shr<1>(v); };
  auto quarterOf = [](Vec v) { return V::template shr<2>(v); };
  Vec grad[8];
  grad[0] = add(add(D(8, 18), D(3, 13)), halfOf(sum4(D(7, 17), D(9, 19), D(2, 12), D(4, 14))));
  grad[1] = add(add(D(14, 12), D(15, 13)), halfOf(sum4(D(9, 7), D(19, 17), D(10, 8), D(20, 18))));
  grad[2] = add(add(D(18, 8), D(23, 13)), halfOf(sum4(D(19, 9), D(17, 7), D(24, 14), D(22, 12))));
  grad[3] = add(add(D(12, 14), D(11, 13)), halfOf(sum4(D(17, 19), D(7, 9), D(16, 18), D(6, 8))));
  if (!kGreen || kHalfDiagAtGreen) {
    grad[4] = add(add(D(9, 17), D(5, 13)), halfOf(sum4(D(8, 12), D(14, 18), D(4, 8), D(10, 14))));
    grad[5] = add(add(D(19, 7), D(25, 13)), halfOf(sum4(D(14, 8), D(18, 12), D(20, 14), D(24, 18))));
    grad[6] = add(add(D(7, 19), D(1, 13)), halfOf(sum4(D(12, 18), D(8, 14), D(6, 12), D(2, 8))));
    grad[7] = add(add(D(17, 9), D(21, 13)), halfOf(sum4(D(18, 14), D(12, 8), D(22, 18), D(16, 12))));
  } else {
    grad[4] = sum4(D(9, 17), D(5, 13), D(4, 12), D(10, 18));
    grad[5] = sum4(D(19, 7), D(25, 13), D(20, 8), D(24, 12));
    grad[6] = sum4(D(7, 19), D(1, 13), D(6, 18), D(2, 14));
    grad[7] = sum4(D(17, 9), D(21, 13), D(22, 14), D(16, 8));
  }
  Vec gMin = grad[0], gMax = grad[0];
  if constexpr (std::is_same_v<V, HQLanes32>) {
    // SSE2 has no 32-bit integer min and max: the gradients (below 2^20)
    // are exact as floats, which have both.
    __m128 fMin = _mm_cvtepi32_ps(grad[0]), fMax = fMin;
    for (int i = 1; i < 8; ++i) {
      const __m128 f = _mm_cvtepi32_ps(grad[i]);
      fMin = _mm_min_ps(fMin, f);
      fMax = _mm_max_ps(fMax, f);
    }
    gMin = _mm_cvttps_epi32(fMin);
    gMax = _mm_cvttps_epi32(fMax);
  } else {
    for (int i = 1; i < 8; ++i) {
      gMin = V::min(gMin, grad[i]);
      gMax = V::max(gMax, grad[i]);
    }
  }
  // 1.5 min + 0.5 (max - min) is exactly min + max / 2.
  const Vec threshold = add(gMin, V::template shr<1>(gMax));
  Vec own[8], m1[8], m2[8];
  if (!kGreen) {
    own[0] = halfOf(add(w[3], w[13]));  m1[0] = w[8];  m2[0] = halfOf(add(w[7], w[9]));
    own[1] = halfOf(add(w[13], w[15])); m1[1] = w[14]; m2[1] = halfOf(add(w[9], w[19]));
    own[2] = halfOf(add(w[13], w[23])); m1[2] = w[18]; m2[2] = halfOf(add(w[17], w[19]));
    own[3] = halfOf(add(w[11], w[13])); m1[3] = w[12]; m2[3] = halfOf(add(w[7], w[17]));
    own[4] = halfOf(add(w[5], w[13]));  m1[4] = quarterOf(sum4(w[4], w[8], w[10], w[14]));   m2[4] = w[9];
    own[5] = halfOf(add(w[13], w[25])); m1[5] = quarterOf(sum4(w[14], w[18], w[20], w[24])); m2[5] = w[19];
    own[6] = halfOf(add(w[1], w[13]));  m1[6] = quarterOf(sum4(w[2], w[6], w[8], w[12]));    m2[6] = w[7];
    own[7] = halfOf(add(w[13], w[21])); m1[7] = quarterOf(sum4(w[12], w[16], w[18], w[22])); m2[7] = w[17];
  } else {
    own[0] = halfOf(add(w[3], w[13]));  m1[0] = quarterOf(sum4(w[2], w[4], w[12], w[14]));   m2[0] = w[8];
    own[1] = halfOf(add(w[13], w[15])); m1[1] = w[14]; m2[1] = quarterOf(sum4(w[8], w[10], w[18], w[20]));
    own[2] = halfOf(add(w[13], w[23])); m1[2] = quarterOf(sum4(w[12], w[14], w[22], w[24])); m2[2] = w[18];
    own[3] = halfOf(add(w[11], w[13])); m1[3] = w[12]; m2[3] = quarterOf(sum4(w[6], w[8], w[16], w[18]));
    own[4] = V::third(add(add(w[5], w[9]), w[13]));   m1[4] = halfOf(add(w[4], w[14]));  m2[4] = halfOf(add(w[8], w[10]));
    own[5] = V::third(add(add(w[13], w[19]), w[25])); m1[5] = halfOf(add(w[14], w[24])); m2[5] = halfOf(add(w[18], w[20]));
    own[6] = V::third(add(add(w[1], w[7]), w[13]));   m1[6] = halfOf(add(w[2], w[12]));  m2[6] = halfOf(add(w[6], w[8]));
    own[7] = V::third(add(add(w[13], w[17]), w[21])); m1[7] = halfOf(add(w[12], w[22])); m2[7] = halfOf(add(w[16], w[18]));
  }
  Vec sumOwn = V::zero(), sum1 = sumOwn, sum2 = sumOwn, count = sumOwn;
  for (int i = 0; i < 8; ++i) {
    const Vec skip = V::gt(grad[i], threshold);
    sumOwn = add(sumOwn, V::andNot(skip, own[i]));
    sum1 = add(sum1, V::andNot(skip, m1[i]));
    sum2 = add(sum2, V::andNot(skip, m2[i]));
    count = V::sub(count, V::andNot(skip, V::ones()));
  }
  *ownOut = w[13];
  V::finish(w[13], sum1, sum2, sumOwn, count, maxValue, aOut, bOut);
}

// R, G, B of the lanes of one site kind from the rule's own colour and a, b.
template <bool kGreen, class Vec>
inline void hqColours(bool redRow, Vec own, Vec a, Vec b, Vec* r, Vec* g, Vec* bl) {
  if (!kGreen) {
    *g = a;
    *r = redRow ? own : b;
    *bl = redRow ? b : own;
  } else {
    *g = own;
    *r = redRow ? a : b;
    *bl = redRow ? b : a;
  }
}

// 8-bit samples to ARGB32: sixteen pixels a step from x = 0, both site
// kinds, interleaved and stored whole. Returns the first column not done.
template <class V, bool kGreenEven, bool kHalfDiagAtGreen>
int hqRowARGB8(const HQRows<V>& rows, u8* drow, int W, bool redRow, UInt32 maxValue) {
  constexpr int n = 2 * V::kLanes;
  auto mix = [](__m128i e, __m128i o) { return _mm_unpacklo_epi8(_mm_packus_epi16(e, e), _mm_packus_epi16(o, o)); };
  int x = 0;
  for (; x + n <= W; x += n) {
    typename V::Vec o0, a0, b0, o1, a1, b1, r0, g0, bl0, r1, g1, bl1;
    hqLanes<V, kGreenEven, kHalfDiagAtGreen>(rows, x, maxValue, &o0, &a0, &b0);
    hqLanes<V, !kGreenEven, kHalfDiagAtGreen>(rows, x + 1, maxValue, &o1, &a1, &b1);
    hqColours<kGreenEven>(redRow, o0, a0, b0, &r0, &g0, &bl0);
    hqColours<!kGreenEven>(redRow, o1, a1, b1, &r1, &g1, &bl1);
    if constexpr (V::kLanes == 8) {
      storeRGB16(drow + 4 * size_t(x), mix(r0, r1), mix(g0, g1), mix(bl0, bl1));
    } else {
#if defined(__AVX2__)
      // Each half holds sixteen pixels.
      storeRGB16(drow + 4 * size_t(x), mix(lowLanes(r0), lowLanes(r1)), mix(lowLanes(g0), lowLanes(g1)),
                 mix(lowLanes(bl0), lowLanes(bl1)));
      storeRGB16(drow + 4 * size_t(x + 16), mix(highLanes(r0), highLanes(r1)), mix(highLanes(g0), highLanes(g1)),
                 mix(highLanes(bl0), highLanes(bl1)));
#endif
    }
  }
  return x;
}

// Pixels x0, x0 + 2, ... below `end` of output row y; returns the first x0 not done.
template <class V, class S, bool kGreen, bool kHalfDiagAtGreen>
int hqRowSIMD(const HQRows<V>& rows, u8* drow, int x0, int end, bool redRow, UInt32 maxValue) {
  constexpr int n = V::kLanes;
  alignas(32) typename V::T own[n], a[n], b[n];
  for (; x0 + 2 * (n - 1) < end; x0 += 2 * n) {
    typename V::Vec vo, va, vb;
    hqLanes<V, kGreen, kHalfDiagAtGreen>(rows, x0, maxValue, &vo, &va, &vb);
    V::store(own, vo);
    V::store(a, va);
    V::store(b, vb);
    for (int i = 0; i < n; ++i) {
      // At a red or blue site a is green and b the opposite colour; at a
      // green site a is the row colour and b the column colour.
      const int o = UInt16(own[i]), ai = UInt16(a[i]), bi = UInt16(b[i]);
      if (!kGreen) {
        if (redRow) S::put(drow, x0 + 2 * i, o, ai, bi);
        else S::put(drow, x0 + 2 * i, bi, ai, o);
      } else {
        if (redRow) S::put(drow, x0 + 2 * i, ai, o, bi);
        else S::put(drow, x0 + 2 * i, bi, o, ai);
      }
    }
  }
  return x0;
}
#endif

// Zeroed scratch rows owned by this instruction set's code alone: a standard
// container instantiated here would be shared by name with the other
// instruction set's copy, and the linker could keep the AVX2 one for both.
template <class T>
struct RowStore {
  explicit RowStore(size_t n) : p(new T[n]()) {}
  ~RowStore() { delete[] p; }
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;
  T& operator[](size_t i) { return p[i]; }
  T* p;
};

template <class L, class S, bool kHalfDiagAtGreen = false>
void demosaicHQ(const void* src, void* dst, UInt32 dstRowBytes, UInt32 width, UInt32 height, bool grbg,
                UInt8 startRowFlag, UInt32 maxValue, bool simd) {
  if (src == nullptr || dst == nullptr || width == 0 || height == 0 || width > 0x7FFFFFFF ||
      height > 0x7FFFFFFF)
    return;
  const Phase ph = myBayerPhase(grbg, startRowFlag);
  u8* d = static_cast<u8*>(dst);
  UInt16 nb[25];
  auto scalarPixel = [&](u8* drow, UInt32 x, UInt32 y) {
    extract<L>(src, width, height, x, y, nb);
    UInt16 r, g, b;
    windowToPixels<kHalfDiagAtGreen>(nb, ph.green(int(x), int(y)) ? 1 : 0, ph.redRow(int(y)) ? 1 : 0, maxValue, &r,
                                     &g, &b);
    S::put(drow, int(x), r, g, b);
  };
#if SKYLOOM_MEDIA_SSE2
  // Frames of at least 3 x 3 mirror without clamping, as the padded rows do.
  if (simd && width >= 3 && height >= 3) {
#if defined(__AVX2__)
    using Wide = HQLanes32x8;
    using Narrow = HQLanes16x16;
#else
    using Wide = HQLanes32;
    using Narrow = HQLanes16;
#endif
    using V = std::conditional_t<std::is_same_v<L, Load8>, Narrow, Wide>;
    const int W = int(width), H = int(height);
    const size_t half = size_t(W + 5) / 2 + 2 * V::kLanes;
    // Eight widened rows keyed by source row: the five a window needs at
    // once lie within five consecutive rows, so they never share a slot.
    RowStore<typename V::T> store(8 * 2 * half);
    int tag[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    const u8* base = static_cast<const u8*>(src);
    const size_t stride = size_t(W) * L::kBytes;
    HQRows<V> rows;
    for (int y = 0; y < H; ++y) {
      for (int dr = -2; dr <= 2; ++dr) {
        const int sr = mirror(y + dr, H);
        typename V::T* even = &store[size_t(sr & 7) * 2 * half];
        typename V::T* odd = even + half;
        if (tag[sr & 7] != sr) {
          tag[sr & 7] = sr;
          const u8* row = base + size_t(sr) * stride;
          for (int k = 0; 2 * k < W + 4; ++k) {
            even[k] = typename V::T(L::at(row, mirror(2 * k - 2, W)));
            odd[k] = typename V::T(L::at(row, mirror(2 * k - 1, W)));
          }
        }
        rows.even[dr + 2] = even;
        rows.odd[dr + 2] = odd;
      }
      u8* drow = d + size_t(y) * dstRowBytes;
      const bool red = ph.redRow(y);
      if constexpr (std::is_same_v<V, Narrow> && std::is_same_v<S, SinkARGB>) {
        const int x = ph.green(0, y) ? hqRowARGB8<V, true, kHalfDiagAtGreen>(rows, drow, W, red, maxValue)
                                     : hqRowARGB8<V, false, kHalfDiagAtGreen>(rows, drow, W, red, maxValue);
        for (int t = x; t < W; ++t) scalarPixel(drow, UInt32(t), UInt32(y));
        continue;
      }
      for (int p = 0; p < 2; ++p) {
        int x = ph.green(p, y)
                    ? hqRowSIMD<V, S, true, kHalfDiagAtGreen>(rows, drow, p, W, red, maxValue)
                    : hqRowSIMD<V, S, false, kHalfDiagAtGreen>(rows, drow, p, W, red, maxValue);
        for (; x < W; x += 2) scalarPixel(drow, UInt32(x), UInt32(y));
      }
    }
    return;
  }
#endif
  (void)simd;
  for (UInt32 y = 0; y < height; ++y) {
    u8* drow = d + size_t(y) * dstRowBytes;
    for (UInt32 x = 0; x < width; ++x) scalarPixel(drow, x, y);
  }
}

}  // namespace SKYLOOM_BAYER_ISA
}  // namespace skyloom_bayer
