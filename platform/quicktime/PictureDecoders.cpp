#include "platform/quicktime/PictureDecoders.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr long kMaxSide = 32767;            // bounds are 16-bit rectangles
constexpr size_t kMaxSamples = 400u << 20;  // as the other importers

bool allocate(SkyloomRaster* r, long w, long h, int channels) {
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || size_t(w) * size_t(h) * size_t(channels) > kMaxSamples)
    return false;
  try {
    r->samples.assign(size_t(w) * size_t(h) * size_t(channels), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  r->width = int(w);
  r->height = int(h);
  r->channels = channels;
  r->bits = 8;
  return true;
}

// ---------------------------------------------------------------- GIF

struct GifSource {
  const UInt8* data;
  size_t size;
  size_t pos;
};

int gifRead(GifFileType* gif, GifByteType* buf, int n) {
  auto* s = static_cast<GifSource*>(gif->UserData);
  if (n <= 0) return 0;
  const size_t k = std::min(size_t(n), s->size - s->pos);
  std::memcpy(buf, s->data + s->pos, k);
  s->pos += k;
  return int(k);
}

struct GifCloser {
  GifFileType* gif;
  ~GifCloser() {
    int err = 0;
    if (gif != nullptr) DGifCloseFile(gif, &err);
  }
};

OSErr decodeGIFImage(GifFileType* gif, SkyloomRaster* r) {
  int transparent = -1;
  for (;;) {
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &record) != GIF_OK) return codecBadDataErr;
    if (record == TERMINATE_RECORD_TYPE) return codecBadDataErr;  // no image
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) != GIF_OK) return codecBadDataErr;
      // Graphic control: flags, delay (2 bytes), transparent index.
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4 && (block[1] & 1))
        transparent = block[4];
      while (block != nullptr)
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return codecBadDataErr;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) return codecBadDataErr;
    if (DGifGetImageDesc(gif) != GIF_OK) return codecBadDataErr;
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr) return codecBadDataErr;
    const long screenW = gif->SWidth > 0 ? gif->SWidth : d.Width;
    const long screenH = gif->SHeight > 0 ? gif->SHeight : d.Height;
    if (d.Width <= 0 || d.Height <= 0 || d.Width > kMaxSide || d.Height > kMaxSide) return codecBadDataErr;
    const int channels = transparent >= 0 ? 4 : 3;
    if (!allocate(r, screenW, screenH, channels)) return codecBadDataErr;
    std::vector<GifPixelType> line(size_t(d.Width));
    // Interlaced images store rows in four passes.
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (long y = start; y < d.Height; y += step) {
        if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return *r = SkyloomRaster{}, codecBadDataErr;
        const long sy = d.Top + y;
        if (sy < 0 || sy >= screenH) continue;
        for (long x = 0; x < d.Width; ++x) {
          const long sx = d.Left + x;
          if (sx < 0 || sx >= screenW) continue;
          const int index = line[size_t(x)];
          UInt16* px = &r->samples[(size_t(sy) * size_t(screenW) + size_t(sx)) * size_t(channels)];
          if (index == transparent) continue;  // stays 0, alpha 0
          if (index >= map->ColorCount) return *r = SkyloomRaster{}, codecBadDataErr;
          px[0] = map->Colors[index].Red;
          px[1] = map->Colors[index].Green;
          px[2] = map->Colors[index].Blue;
          if (channels == 4) px[3] = 0xFF;
        }
      }
    }
    return noErr;
  }
}

// ---------------------------------------------------------------- Targa

UInt32 le16(const UInt8* p) { return UInt32(p[0]) | UInt32(p[1]) << 8; }

}  // namespace

OSErr SkyloomDecodeGIF(const UInt8* data, size_t size, SkyloomRaster* out) {
  if (data == nullptr || out == nullptr) return paramErr;
  *out = SkyloomRaster{};
  if (size < 6 || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0)) return noCodecErr;
  GifSource source{data, size, 0};
  int err = 0;
  GifCloser closer{DGifOpen(&source, gifRead, &err)};
  if (closer.gif == nullptr) return codecBadDataErr;
  if (closer.gif->SWidth > kMaxSide || closer.gif->SHeight > kMaxSide) return codecBadDataErr;
  return decodeGIFImage(closer.gif, out);
}

bool SkyloomLooksLikeTarga(const UInt8* d, size_t size) {
  if (d == nullptr || size < 18) return false;
  const UInt8 mapType = d[1], type = d[2], depth = d[16];
  const bool mapped = type == 1 || type == 9;
  if (mapType > 1 || (mapped && mapType != 1)) return false;
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return false;
  if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
  if (mapType == 1 && d[7] != 15 && d[7] != 16 && d[7] != 24 && d[7] != 32) return false;
  return le16(d + 12) > 0 && le16(d + 14) > 0 && (d[17] & 0xC0) == 0;
}

OSErr SkyloomDecodeTarga(const UInt8* data, size_t size, SkyloomRaster* out) {
  if (data == nullptr || out == nullptr) return paramErr;
  *out = SkyloomRaster{};
  if (!SkyloomLooksLikeTarga(data, size)) return noCodecErr;
  const UInt8 idLength = data[0], mapType = data[1], type = data[2], depth = data[16], descriptor = data[17];
  const UInt32 mapFirst = le16(data + 3), mapLength = le16(data + 5), mapEntryBits = data[7];
  const long w = long(le16(data + 12)), h = long(le16(data + 14));
  const bool mapped = type == 1 || type == 9, grey = type == 3 || type == 11, rle = type >= 9;
  // Kinds read: 8-bit indices into a 24/32-bit map, 8-bit grey, 24/32-bit colour.
  if (mapped && (depth != 8 || (mapEntryBits != 24 && mapEntryBits != 32))) return noCodecErr;
  if (grey && depth != 8) return noCodecErr;
  if (!mapped && !grey && depth != 24 && depth != 32) return noCodecErr;

  size_t pos = 18 + size_t(idLength);
  const UInt8* map = nullptr;
  const size_t mapEntryBytes = (mapEntryBits + 7) / 8;
  if (mapType == 1) {
    const size_t mapBytes = size_t(mapLength) * mapEntryBytes;
    if (pos > size || size - pos < mapBytes) return codecBadDataErr;
    map = data + pos;
    pos += mapBytes;
  }
  const size_t bytesPerPixel = depth / 8;
  const int channels = grey ? 1 : ((mapped ? mapEntryBits : depth) == 32 ? 4 : 3);

  // The body must be able to hold the picture before anything is allocated:
  // every pixel plain, or at least one packet per 128 pixels.
  const size_t total = size_t(w) * size_t(h);
  const size_t leastBody = rle ? (total + 127) / 128 * (1 + bytesPerPixel) : total * bytesPerPixel;
  if (pos > size || size - pos < leastBody) return codecBadDataErr;
  if (!allocate(out, w, h, channels)) return codecBadDataErr;
  const bool topDown = (descriptor & 0x20) != 0, rightToLeft = (descriptor & 0x10) != 0;
  auto store = [&](size_t n, const UInt8* px) -> bool {
    const long y = long(n / size_t(w)), x = long(n % size_t(w));
    const long row = topDown ? y : h - 1 - y, col = rightToLeft ? w - 1 - x : x;
    UInt16* d = &out->samples[(size_t(row) * size_t(w) + size_t(col)) * size_t(channels)];
    const UInt8* c = px;
    if (mapped) {
      if (px[0] < mapFirst || px[0] - mapFirst >= mapLength) return false;
      c = map + size_t(px[0] - mapFirst) * mapEntryBytes;
    }
    if (grey) {
      d[0] = c[0];
      return true;
    }
    d[0] = c[2];  // stored B, G, R (, A)
    d[1] = c[1];
    d[2] = c[0];
    if (channels == 4) d[3] = c[3];
    return true;
  };

  size_t n = 0;
  while (n < total) {
    size_t count = 1;
    bool run = false;
    if (rle) {
      if (pos >= size) return *out = SkyloomRaster{}, codecBadDataErr;
      const UInt8 header = data[pos++];
      run = (header & 0x80) != 0;
      count = size_t(header & 0x7F) + 1;
      if (count > total - n) return *out = SkyloomRaster{}, codecBadDataErr;
    }
    const size_t needed = run ? bytesPerPixel : count * bytesPerPixel;
    if (pos > size || size - pos < needed) return *out = SkyloomRaster{}, codecBadDataErr;
    for (size_t k = 0; k < count; ++k, ++n)
      if (!store(n, data + pos + (run ? 0 : k * bytesPerPixel))) return *out = SkyloomRaster{}, codecBadDataErr;
    pos += needed;
  }
  return noErr;
}
