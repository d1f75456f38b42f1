#include "platform/quicktime/GraphicsImport.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <jpeglib.h>
#include <png.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/PictureDecoders.h"

namespace {

constexpr long kMaxSide = 32767;             // bounds are 16-bit rectangles
constexpr size_t kMaxSamples = 400u << 20;   // ~800 MB of 16-bit samples
constexpr size_t kMaxFileBytes = size_t(2) << 30;

bool sizeOK(long w, long h, int channels) {
  return w > 0 && h > 0 && w <= kMaxSide && h <= kMaxSide && channels >= 1 && channels <= 4 &&
         size_t(w) * size_t(h) * size_t(channels) <= kMaxSamples;
}

// wholly: the decoder writes every sample (or fails), so no zero-fill.
bool allocate(SkyloomRaster* r, long w, long h, int channels, int bits, bool wholly = false) {
  if (!sizeOK(w, h, channels)) return false;
  try {
    const size_t n = size_t(w) * size_t(h) * size_t(channels);
    if (wholly) {
      r->samples.clear();
      r->samples.resize(n);
    } else {
      r->samples.assign(n, 0);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  r->width = int(w);
  r->height = int(h);
  r->channels = channels;
  r->bits = bits;
  return true;
}

// ---------------------------------------------------------------- TIFF

// A TIFF held in memory, or (fd >= 0) read from an open file of the size
// measured when it was opened: strips then go from the file straight into
// the raster.
struct MemFile {
  const UInt8* data;
  size_t size;
  size_t pos;
  int fd = -1;
};
tsize_t tiffRead(thandle_t h, tdata_t buf, tsize_t n) {
  auto* m = static_cast<MemFile*>(h);
  if (n < 0) return -1;
  size_t avail = m->pos < m->size ? m->size - m->pos : 0;
  size_t k = std::min(avail, size_t(n));
  if (m->fd >= 0) {
    size_t done = 0;
    while (done < k) {
      const ssize_t got = ::pread(m->fd, static_cast<UInt8*>(buf) + done, k - done, off_t(m->pos + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // an error or a file cut short since it was opened
      done += size_t(got);
    }
    k = done;
  } else if (k) {
    std::memcpy(buf, m->data + m->pos, k);
  }
  m->pos += k;
  return tsize_t(k);
}
tsize_t tiffWrite(thandle_t, tdata_t, tsize_t) { return -1; }
toff_t tiffSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemFile*>(h);
  UInt64 base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->size;
  UInt64 p = base + off;
  if (p > (UInt64(1) << 40)) return toff_t(-1);
  m->pos = size_t(p);
  return p;
}
int tiffClose(thandle_t) { return 0; }
toff_t tiffSize(thandle_t h) { return static_cast<MemFile*>(h)->size; }
int tiffMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void tiffUnmap(thandle_t, tdata_t, toff_t) {}

OSErr decodeTIFFFrom(MemFile& m, SkyloomRaster* r) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  // libtiff sizes its own buffers from the file's tags: no single one may
  // outgrow the largest picture we take (a damaged strip size asked for tens
  // of gigabytes).
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return memFullErr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(kMaxSamples * sizeof(UInt16)));
  TIFF* t = TIFFClientOpenExt("picture", "rm", &m, tiffRead, tiffWrite, tiffSeek, tiffClose, tiffSize, tiffMap,
                              tiffUnmap, options);
  TIFFOpenOptionsFree(options);
  if (!t) return codecBadDataErr;
  UInt32 w = 0, h = 0;
  UInt16 bps = 1, spp = 1, photo = 0, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo)) photo = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  OSErr err = noErr;
  const bool direct = (bps == 8 || bps == 16) && planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(t) &&
                      ((photo == PHOTOMETRIC_RGB && (spp == 3 || spp == 4)) ||
                       ((photo == PHOTOMETRIC_MINISBLACK || photo == PHOTOMETRIC_MINISWHITE) && (spp == 1 || spp == 2)));
  if (direct) {
    if (!allocate(r, long(w), long(h), spp, bps, true)) {
      TIFFClose(t);
      return codecBadDataErr;
    }
    tmsize_t line = TIFFScanlineSize(t);
    if (line < tmsize_t(size_t(w) * spp * (bps / 8))) {
      TIFFClose(t);
      *r = SkyloomRaster{};
      return codecBadDataErr;
    }
    const UInt16 invert = photo == PHOTOMETRIC_MINISWHITE ? UInt16(bps == 8 ? 0xFF : 0xFFFF) : 0;
    UInt32 rowsPerStrip = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (bps == 16 && line == tmsize_t(size_t(w) * spp * 2) && rowsPerStrip > 0) {
      // 16-bit rows are the raster's own rows: whole strips decode straight
      // into it (host order), then the grey of a white-is-zero picture flips.
      const size_t rowSamples = size_t(w) * spp;
      for (UInt64 y = 0; y < h; y += rowsPerStrip) {
        const UInt32 rows = UInt32(std::min<UInt64>(rowsPerStrip, h - y));
        const tmsize_t want = tmsize_t(size_t(rows) * size_t(line));
        if (TIFFReadEncodedStrip(t, TIFFComputeStrip(t, UInt32(y), 0), &r->samples[size_t(y) * rowSamples], want) !=
            want) {
          err = codecBadDataErr;
          break;
        }
      }
      if (err == noErr && invert) {
        UInt16* s = r->samples.data();
        const size_t n = r->samples.size();
        for (size_t i = 0; i < n; i += size_t(spp)) s[i] = UInt16(invert - s[i]);
      }
      TIFFClose(t);
      if (err != noErr) *r = SkyloomRaster{};
      return err;
    }
    std::vector<UInt8> buf(static_cast<size_t>(line));
    for (UInt32 y = 0; y < h && err == noErr; ++y) {
      if (TIFFReadScanline(t, buf.data(), y, 0) < 0) {
        err = codecBadDataErr;
        break;
      }
      UInt16* dst = &r->samples[size_t(y) * w * spp];
      const size_t n = size_t(w) * spp;
      for (size_t i = 0; i < n; ++i) {
        UInt16 v;
        if (bps == 8) {
          v = buf[i];
        } else {
          std::memcpy(&v, &buf[2 * i], 2);  // libtiff hands back host order
        }
        // Only the grey channel is inverted, never alpha.
        if (invert && (spp == 1 || i % 2 == 0)) v = UInt16(invert - v);
        dst[i] = v;
      }
    }
  } else {
    // Everything else through libtiff's 8-bit RGBA reader.
    if (!allocate(r, long(w), long(h), 4, 8)) {
      TIFFClose(t);
      return codecBadDataErr;
    }
    std::vector<UInt32> rgba;
    try {
      rgba.resize(size_t(w) * h);
    } catch (const std::bad_alloc&) {
      TIFFClose(t);
      return memFullErr;
    }
    if (!TIFFReadRGBAImageOriented(t, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
      err = codecBadDataErr;
    } else {
      for (size_t i = 0; i < rgba.size(); ++i) {
        r->samples[4 * i] = UInt16(TIFFGetR(rgba[i]));
        r->samples[4 * i + 1] = UInt16(TIFFGetG(rgba[i]));
        r->samples[4 * i + 2] = UInt16(TIFFGetB(rgba[i]));
        r->samples[4 * i + 3] = UInt16(TIFFGetA(rgba[i]));
      }
    }
  }
  TIFFClose(t);
  if (err != noErr) *r = SkyloomRaster{};
  return err;
}

// ---------------------------------------------------------------- PNG

struct PngSource {
  const UInt8* data;
  size_t size;
  size_t pos;
};
void pngRead(png_structp png, png_bytep out, png_size_t n) {
  auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
  if (s->size - s->pos < n) png_error(png, "truncated");
  std::memcpy(out, s->data + s->pos, n);
  s->pos += n;
}
void pngQuiet(png_structp, png_const_charp) {}
void pngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

OSErr decodePNG(const UInt8* data, size_t size, SkyloomRaster* r) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, pngQuiet);
  if (!png) return memFullErr;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return memFullErr;
  }
  PngSource src{data, size, 0};
  // Everything that owns memory lives outside the jump's reach.
  std::vector<UInt8> image;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    *r = SkyloomRaster{};
    return codecBadDataErr;
  }
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_read_fn(png, &src, pngRead);
  png_read_info(png, info);
  png_set_expand(png);  // palettes, low grey depths and transparency become plain samples
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const UInt32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  const int channels = png_get_channels(png, info);
  const int bits = png_get_bit_depth(png, info) == 16 ? 16 : 8;
  if (!allocate(r, long(w), long(h), channels, bits)) png_error(png, "size");
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes < size_t(w) * channels * (bits / 8)) png_error(png, "row size");
  // Interlaced pictures need the whole image at once.
  image.resize(rowBytes * h);
  rows.resize(h);
  for (UInt32 y = 0; y < h; ++y) rows[y] = image.data() + size_t(y) * rowBytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  for (UInt32 y = 0; y < h; ++y) {
    const UInt8* s = rows[y];
    UInt16* d = &r->samples[size_t(y) * w * channels];
    for (size_t i = 0, n = size_t(w) * channels; i < n; ++i)
      d[i] = bits == 16 ? UInt16((s[2 * i] << 8) | s[2 * i + 1]) : s[i];  // PNG is big-endian
  }
  return noErr;
}

// ---------------------------------------------------------------- JPEG

struct JpegErr {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void jpegFail(j_common_ptr c) { longjmp(reinterpret_cast<JpegErr*>(c->err)->jump, 1); }
void jpegQuiet(j_common_ptr, int) {}

OSErr decodeJPEG(const UInt8* data, size_t size, SkyloomRaster* r) {
  jpeg_decompress_struct c;
  JpegErr err;
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.emit_message = jpegQuiet;
  std::vector<UInt8> row;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&c);
    *r = SkyloomRaster{};
    return codecBadDataErr;
  }
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, data, static_cast<unsigned long>(size));
  jpeg_read_header(&c, TRUE);
  c.out_color_space = c.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  if (!sizeOK(long(c.image_width), long(c.image_height), 3)) longjmp(err.jump, 1);
  jpeg_start_decompress(&c);
  const int channels = c.output_components;
  if (!allocate(r, long(c.output_width), long(c.output_height), channels, 8)) longjmp(err.jump, 1);
  row.resize(size_t(c.output_width) * channels);
  while (c.output_scanline < c.output_height) {
    JSAMPROW rows[1] = {row.data()};
    UInt32 y = c.output_scanline;
    if (jpeg_read_scanlines(&c, rows, 1) != 1) longjmp(err.jump, 1);
    std::copy(row.begin(), row.end(), r->samples.begin() + long(size_t(y) * row.size()));
  }
  jpeg_finish_decompress(&c);
  jpeg_destroy_decompress(&c);
  return noErr;
}

// ---------------------------------------------------------------- byte readers

struct Reader {
  const UInt8* p;
  size_t n;
  size_t pos = 0;
  bool ok = true;
  bool need(size_t k) {
    if (!ok || n - pos < k || pos > n) ok = false;
    return ok;
  }
  UInt32 u8() { return need(1) ? p[pos++] : 0; }
  UInt32 be16() { if (!need(2)) return 0; UInt32 v = (p[pos] << 8) | p[pos + 1]; pos += 2; return v; }
  UInt32 be32() { UInt32 hi = be16(); return (hi << 16) | be16(); }
  UInt32 le16() { if (!need(2)) return 0; UInt32 v = p[pos] | (p[pos + 1] << 8); pos += 2; return v; }
  UInt32 le32() { UInt32 lo = le16(); return lo | (le16() << 16); }
  void skip(size_t k) { if (need(k)) pos += k; }
  const UInt8* take(size_t k) { if (!need(k)) return nullptr; const UInt8* q = p + pos; pos += k; return q; }
};

// PackBits into exactly want bytes; false when the data run short or overflow.
bool unpackBits(Reader& in, size_t packedBytes, UInt8* out, size_t want) {
  const UInt8* src = in.take(packedBytes);
  if (!src) return false;
  size_t i = 0, o = 0;
  while (i < packedBytes && o < want) {
    SInt8 h = SInt8(src[i++]);
    if (h >= 0) {
      size_t k = size_t(h) + 1;
      if (i + k > packedBytes || o + k > want) return false;
      std::memcpy(out + o, src + i, k);
      i += k;
      o += k;
    } else if (h != -128) {
      size_t k = size_t(1 - h);
      if (i >= packedBytes || o + k > want) return false;
      std::memset(out + o, src[i++], k);
      o += k;
    }
  }
  return o == want;
}

OSErr decodeBMP(const UInt8* data, size_t size, SkyloomRaster* r) {
  Reader in{data, size};
  if (in.u8() != 'B' || in.u8() != 'M') return codecBadDataErr;
  in.skip(8);
  UInt32 pixelOffset = in.le32();
  UInt32 headerSize = in.le32();
  if (headerSize < 40) return noCodecErr;
  SInt32 w = SInt32(in.le32()), hs = SInt32(in.le32());
  UInt32 planes = in.le16(), bpp = in.le16(), compression = in.le32();
  in.skip(12);
  UInt32 colours = in.le32();
  if (!in.ok || planes != 1 || (compression != 0 && !(compression == 3 && bpp == 32))) return noCodecErr;
  if (bpp != 8 && bpp != 24 && bpp != 32) return noCodecErr;
  const bool topDown = hs < 0;
  const long h = topDown ? -long(hs) : long(hs);
  if (!sizeOK(w, h, 4)) return codecBadDataErr;
  std::vector<UInt8> palette;
  if (bpp == 8) {
    if (colours == 0) colours = 256;
    if (colours > 256) return codecBadDataErr;
    in.pos = 14 + headerSize;
    const UInt8* pal = in.take(size_t(colours) * 4);
    if (!pal) return codecBadDataErr;
    palette.assign(pal, pal + size_t(colours) * 4);
  }
  const size_t rowBytes = ((size_t(w) * bpp + 31) / 32) * 4;
  if (pixelOffset > size || size - pixelOffset < rowBytes * size_t(h)) return codecBadDataErr;
  const bool alpha = bpp == 32;
  if (!allocate(r, w, h, alpha ? 4 : 3, 8)) return codecBadDataErr;
  for (long y = 0; y < h; ++y) {
    const UInt8* row = data + pixelOffset + rowBytes * size_t(topDown ? y : h - 1 - y);
    UInt16* d = &r->samples[size_t(y) * w * r->channels];
    for (long x = 0; x < w; ++x) {
      UInt8 b, g, red, a = 0xFF;
      if (bpp == 8) {
        size_t idx = row[x];
        if (idx >= colours) return *r = SkyloomRaster{}, codecBadDataErr;
        b = palette[idx * 4];
        g = palette[idx * 4 + 1];
        red = palette[idx * 4 + 2];
      } else {
        const UInt8* px = row + x * (bpp / 8);
        b = px[0];
        g = px[1];
        red = px[2];
        if (alpha) a = px[3];
      }
      d[x * r->channels] = red;
      d[x * r->channels + 1] = g;
      d[x * r->channels + 2] = b;
      if (alpha) d[x * r->channels + 3] = a;
    }
  }
  return noErr;
}

OSErr decodePSD(const UInt8* data, size_t size, SkyloomRaster* r) {
  Reader in{data, size};
  if (in.be32() != FOUR_CHAR_CODE("8BPS") || in.be16() != 1) return codecBadDataErr;
  in.skip(6);
  UInt32 fileChannels = in.be16(), h = in.be32(), w = in.be32(), depth = in.be16(), mode = in.be16();
  if (!in.ok) return codecBadDataErr;
  if ((depth != 8 && depth != 16) || (mode != 1 && mode != 3)) return noCodecErr;
  const int colour = mode == 3 ? 3 : 1;
  if (fileChannels < UInt32(colour) || fileChannels > 56) return codecBadDataErr;
  for (int section = 0; section < 3; ++section) in.skip(in.be32());  // mode data, resources, layers
  UInt32 compression = in.be16();
  if (!in.ok || !sizeOK(long(w), long(h), colour)) return codecBadDataErr;
  if (compression > 1) return noCodecErr;
  const size_t bytesPerRow = size_t(w) * (depth / 8);
  std::vector<UInt32> counts;
  if (compression == 1) {
    counts.resize(size_t(fileChannels) * h);
    for (auto& c : counts) c = in.be16();
    if (!in.ok) return codecBadDataErr;
  }
  // The file must hold the picture before a picture of the header's size is
  // allocated: raw rows whole, packed rows in at least the two bytes that
  // every run of up to 128 bytes takes.
  const size_t left = size - in.pos;
  if (compression == 0) {
    if (bytesPerRow * h * size_t(colour) > left) return codecBadDataErr;
  } else {
    const size_t leastPacked = 2 * ((bytesPerRow + 127) / 128);
    size_t packed = 0;
    for (size_t i = 0; i < size_t(colour) * h; ++i) {
      if (counts[i] < leastPacked) return codecBadDataErr;
      packed += counts[i];
    }
    if (packed > left) return codecBadDataErr;
  }
  if (!allocate(r, long(w), long(h), colour, int(depth))) return codecBadDataErr;
  std::vector<UInt8> row(bytesPerRow);
  for (int c = 0; c < colour; ++c) {
    for (UInt32 y = 0; y < h; ++y) {
      if (compression == 0) {
        const UInt8* src = in.take(bytesPerRow);
        if (!src) return *r = SkyloomRaster{}, codecBadDataErr;
        std::memcpy(row.data(), src, bytesPerRow);
      } else if (!unpackBits(in, counts[size_t(c) * h + y], row.data(), bytesPerRow)) {
        return *r = SkyloomRaster{}, codecBadDataErr;
      }
      UInt16* d = &r->samples[size_t(y) * w * colour];
      for (UInt32 x = 0; x < w; ++x)
        d[x * colour + c] = depth == 16 ? UInt16((row[2 * x] << 8) | row[2 * x + 1]) : row[x];
    }
  }
  return noErr;
}

// PICT version 2, as our exporter writes it: direct-bits rectangles of 32-bit
// pixels (pack types 1, 2 and 4); other opcodes are not read.
OSErr decodePICT(const UInt8* data, size_t size, SkyloomRaster* r) {
  Reader in{data, size};
  in.skip(512);
  in.be16();
  SInt16 top = SInt16(in.be16()), left = SInt16(in.be16()), bottom = SInt16(in.be16()), right = SInt16(in.be16());
  if (!in.ok || in.be16() != 0x0011 || in.be16() != 0x02FF) return noCodecErr;
  const long w = long(right) - left, h = long(bottom) - top;
  if (!allocate(r, w, h, 3, 8)) return codecBadDataErr;
  bool drew = false;
  for (int guard = 0; guard < 100000 && in.ok; ++guard) {
    if (in.pos & 1) in.skip(1);
    UInt32 op = in.be16();
    if (!in.ok) break;
    if (op == 0x00FF) {
      if (drew) return noErr;
      break;
    }
    if (op == 0x0000 || op == 0x001E) continue;
    if (op == 0x0C00) { in.skip(24); continue; }
    if (op == 0x0001) { UInt32 n = in.be16(); if (n < 2) break; in.skip(n - 2); continue; }
    if (op != 0x009A && op != 0x009B) break;
    in.skip(4);  // base address
    UInt32 rowBytes = in.be16() & 0x3FFF;
    SInt16 bt = SInt16(in.be16()), bl = SInt16(in.be16()), bb = SInt16(in.be16()), br = SInt16(in.be16());
    in.skip(2);
    UInt32 packType = in.be16();
    in.skip(12);
    UInt32 pixelType = in.be16(), pixelSize = in.be16(), cmpCount = in.be16(), cmpSize = in.be16();
    in.skip(12);
    in.skip(8);  // source rectangle
    SInt16 dt = SInt16(in.be16()), dl = SInt16(in.be16()), db = SInt16(in.be16()), dr = SInt16(in.be16());
    in.skip(2);  // mode
    if (op == 0x009B) { UInt32 n = in.be16(); if (n < 2) break; in.skip(n - 2); }
    const long pw = long(br) - bl, ph = long(bb) - bt;
    if (!in.ok || pixelType != 16 || pixelSize != 32 || cmpSize != 8 || (cmpCount != 3 && cmpCount != 4) ||
        pw <= 0 || ph <= 0 || pw > kMaxSide || rowBytes < size_t(pw) * 4 / 4)
      break;
    // Where the rectangle lands in the picture.
    const long ox = long(dl) - left, oy = long(dt) - top;
    if (long(dr) - dl != pw || long(db) - dt != ph) break;
    std::vector<UInt8> line;
    const size_t planeBytes = size_t(pw) * (packType == 4 ? cmpCount : (packType == 2 ? 3 : 4));
    line.resize(planeBytes);
    for (long y = 0; y < ph; ++y) {
      if (rowBytes < 8 || packType == 1 || packType == 2) {
        const UInt8* src = in.take(planeBytes);
        if (!src) break;
        std::memcpy(line.data(), src, planeBytes);
      } else {
        size_t n = rowBytes > 250 ? in.be16() : in.u8();
        if (!unpackBits(in, n, line.data(), planeBytes)) { in.ok = false; break; }
      }
      const long yy = oy + y;
      if (yy < 0 || yy >= h) continue;
      for (long x = 0; x < pw; ++x) {
        const long xx = ox + x;
        if (xx < 0 || xx >= w) continue;
        UInt8 red, g, b;
        if (packType == 4) {
          const size_t skipAlpha = cmpCount == 4 ? size_t(pw) : 0;
          red = line[skipAlpha + x];
          g = line[skipAlpha + pw + x];
          b = line[skipAlpha + 2 * pw + x];
        } else if (packType == 2) {
          red = line[3 * x];
          g = line[3 * x + 1];
          b = line[3 * x + 2];
        } else {
          red = line[4 * x + 1];
          g = line[4 * x + 2];
          b = line[4 * x + 3];
        }
        UInt16* d = &r->samples[(size_t(yy) * w + xx) * 3];
        d[0] = red;
        d[1] = g;
        d[2] = b;
      }
    }
    drew = true;
  }
  *r = SkyloomRaster{};
  return codecBadDataErr;
}

// FITS primary images as our writer makes them (and other simple ones):
// BITPIX 8, 16 or 32, two axes, rows top to bottom, BZERO applied.
OSErr decodeFITS(const UInt8* data, size_t size, SkyloomRaster* r) {
  if (size < 2880 || std::memcmp(data, "SIMPLE  =", 9) != 0) return codecBadDataErr;
  long bitpix = 0, naxis = -1, n1 = 0, n2 = 0;
  double bzero = 0.0, bscale = 1.0;
  bool ended = false;
  size_t headerEnd = 0;
  for (size_t off = 0; off + 80 <= size && !ended; off += 80) {
    std::string card(reinterpret_cast<const char*>(data + off), 80);
    std::string key = card.substr(0, 8);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key == "END") {
      ended = true;
      headerEnd = (off / 2880 + 1) * 2880;
      break;
    }
    if (card.compare(8, 2, "= ") != 0) continue;
    std::string value = card.substr(10, 70);
    char* endp = nullptr;
    double v = std::strtod(value.c_str(), &endp);
    if (endp == value.c_str() || !std::isfinite(v)) continue;
    // Whole-number keywords far out of range read as -1, which every check refuses.
    const long whole = (v >= -1e9 && v <= 1e9) ? long(v) : -1;
    if (key == "BITPIX") bitpix = whole;
    else if (key == "NAXIS") naxis = whole;
    else if (key == "NAXIS1") n1 = whole;
    else if (key == "NAXIS2") n2 = whole;
    else if (key == "BZERO") bzero = v;
    else if (key == "BSCALE") bscale = v;
  }
  if (!ended || naxis != 2 || (bitpix != 8 && bitpix != 16 && bitpix != 32)) return codecBadDataErr;
  if (!sizeOK(n1, n2, 1)) return codecBadDataErr;
  const size_t bytes = size_t(bitpix / 8);
  const size_t need = size_t(n1) * size_t(n2) * bytes;
  if (headerEnd > size || size - headerEnd < need) return codecBadDataErr;
  if (!allocate(r, n1, n2, 1, 16)) return codecBadDataErr;
  const UInt8* p = data + headerEnd;
  for (size_t i = 0, n = size_t(n1) * size_t(n2); i < n; ++i) {
    double phys;
    if (bitpix == 8) {
      phys = p[i] * bscale + bzero;
      phys *= 256.0;  // 8-bit values << 8
    } else if (bitpix == 16) {
      SInt16 raw = SInt16((p[2 * i] << 8) | p[2 * i + 1]);
      phys = raw * bscale + bzero;
    } else {
      SInt32 raw = SInt32((UInt32(p[4 * i]) << 24) | (UInt32(p[4 * i + 1]) << 16) | (UInt32(p[4 * i + 2]) << 8) | p[4 * i + 3]);
      phys = (raw * bscale + bzero) / 65536.0;  // 32-bit values >> 16
    }
    phys = std::floor(phys);
    r->samples[i] = UInt16(!(phys > 0.0) ? 0 : phys >= 65535.0 ? 65535 : phys);  // NaN reads as 0
  }
  return noErr;
}

OSErr decodeTIFF(const UInt8* data, size_t size, SkyloomRaster* r) {
  MemFile m{data, size, 0};
  return decodeTIFFFrom(m, r);
}

OSType sniff(const UInt8* d, size_t n) {
  auto starts = [&](const char* m, size_t k) { return n >= k && std::memcmp(d, m, k) == 0; };
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4)) return FOUR_CHAR_CODE("TIFF");
  if (starts("\x89PNG\r\n\x1a\n", 8)) return FOUR_CHAR_CODE("PNGf");
  if (starts("\xFF\xD8\xFF", 3)) return FOUR_CHAR_CODE("JPEG");
  if (starts("BM", 2)) return FOUR_CHAR_CODE("BMPf");
  if (starts("8BPS", 4)) return FOUR_CHAR_CODE("8BPS");
  if (starts("SIMPLE  =", 9)) return FOUR_CHAR_CODE("FITS");
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return FOUR_CHAR_CODE("GIFf");
  if (n >= 528 && d[522] == 0x00 && d[523] == 0x11 && d[524] == 0x02 && d[525] == 0xFF) return FOUR_CHAR_CODE("PICT");
  // Targa has no signature: a plausible header, after every signed format.
  if (SkyloomLooksLikeTarga(d, n)) return FOUR_CHAR_CODE("TPIC");
  return 0;
}

OSErr decodeAs(OSType type, const UInt8* data, size_t size, SkyloomRaster* r) {
  switch (type) {
    case FOUR_CHAR_CODE("TIFF"): return decodeTIFF(data, size, r);
    case FOUR_CHAR_CODE("PNGf"): return decodePNG(data, size, r);
    case FOUR_CHAR_CODE("JPEG"): return decodeJPEG(data, size, r);
    case FOUR_CHAR_CODE("BMPf"): return decodeBMP(data, size, r);
    case FOUR_CHAR_CODE("8BPS"): return decodePSD(data, size, r);
    case FOUR_CHAR_CODE("PICT"): return decodePICT(data, size, r);
    case FOUR_CHAR_CODE("FITS"): return decodeFITS(data, size, r);
    case FOUR_CHAR_CODE("GIFf"): return SkyloomDecodeGIF(data, size, r);
    case FOUR_CHAR_CODE("TPIC"): return SkyloomDecodeTarga(data, size, r);
    default: return noCodecErr;
  }
}

// ---------------------------------------------------------------- the component

struct GraphicsImporter : ComponentInstanceRecord {
  SkyloomRaster raster;
  bool loaded = false;
  Rect source{0, 0, 0, 0};
  GWorldPtr port = nullptr;
};

GraphicsImporter* importerOf(ComponentInstance ci) {
  if (!ci || ci->componentType != GraphicsImporterComponentType) return nullptr;
  return static_cast<GraphicsImporter*>(ci);
}

bool knownImporter(OSType t) {
  switch (t) {
    case FOUR_CHAR_CODE("TIFF"): case FOUR_CHAR_CODE("PNGf"): case FOUR_CHAR_CODE("JPEG"):
    case FOUR_CHAR_CODE("BMPf"): case FOUR_CHAR_CODE("8BPS"): case FOUR_CHAR_CODE("PICT"):
    case FOUR_CHAR_CODE("FITS"): case FOUR_CHAR_CODE("GIFf"): case FOUR_CHAR_CODE("TPIC"):
      return true;
    default:
      return false;
  }
}

// The value of channel c of pixel (x, y) at 16 bits (8-bit values widened by 257).
void pixel16(const SkyloomRaster& r, int x, int y, UInt16 rgba[4]) {
  const UInt16* s = &r.samples[(size_t(y) * r.width + x) * r.channels];
  auto wide = [&](UInt16 v) { return r.bits == 8 ? UInt16(v * 257) : v; };
  switch (r.channels) {
    case 1: rgba[0] = rgba[1] = rgba[2] = wide(s[0]); rgba[3] = 0xFFFF; break;
    case 2: rgba[0] = rgba[1] = rgba[2] = wide(s[0]); rgba[3] = wide(s[1]); break;
    case 3: rgba[0] = wide(s[0]); rgba[1] = wide(s[1]); rgba[2] = wide(s[2]); rgba[3] = 0xFFFF; break;
    default: rgba[0] = wide(s[0]); rgba[1] = wide(s[1]); rgba[2] = wide(s[2]); rgba[3] = wide(s[3]); break;
  }
}

}  // namespace

OSErr SkyloomDecodePicture(const UInt8* data, size_t size, OSType* subtype, SkyloomRaster* out) {
  if (!data || !out) return paramErr;
  *out = SkyloomRaster{};
  OSType t = sniff(data, size);
  if (subtype) *subtype = t;
  if (!t) return noCodecErr;
  return decodeAs(t, data, size, out);
}

OSErr SkyloomOpenGraphicsImporter(OSType subtype, ComponentInstance* ci) {
  if (!ci) return paramErr;
  *ci = nullptr;
  if (!knownImporter(subtype)) return invalidComponentID;
  auto* g = new (std::nothrow) GraphicsImporter;
  if (!g) return memFullErr;
  g->componentType = GraphicsImporterComponentType;
  g->componentSubType = subtype;
  *ci = g;
  return noErr;
}

OSErr GetGraphicsImporterForDataRef(Handle dataRef, OSType dataRefType, GraphicsImportComponent* gi) {
  if (!gi) return paramErr;
  *gi = nullptr;
  std::string path = SkyloomDataReferencePath(dataRef, dataRefType);
  if (path.empty()) return paramErr;
  struct Fd {
    int fd;
    ~Fd() {
      if (fd >= 0) ::close(fd);
    }
  } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return fnfErr;
  struct stat st;
  if (::fstat(file.fd, &st) != 0) return ioErr;
  if (!S_ISREG(st.st_mode)) return fnfErr;
  if (st.st_size < 0 || UInt64(st.st_size) > kMaxFileBytes) return codecBadDataErr;
  const size_t size = size_t(st.st_size);
  auto readAt = [&](UInt8* to, size_t n) {
    size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(file.fd, to + done, n - done, off_t(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += size_t(got);
    }
    return true;
  };
  // The head names the format; a TIFF then decodes from the file itself.
  UInt8 head[1024];
  const size_t headBytes = std::min(size, sizeof head);
  if (!readAt(head, headBytes)) return ioErr;
  OSType type = sniff(head, headBytes);
  if (!type) return noCodecErr;
  ComponentInstance ci = nullptr;
  OSErr err = SkyloomOpenGraphicsImporter(type, &ci);
  if (err != noErr) return err;
  GraphicsImporter* g = importerOf(ci);
  if (type == FOUR_CHAR_CODE("TIFF")) {
    MemFile m{nullptr, size, 0, file.fd};
    err = decodeTIFFFrom(m, &g->raster);
  } else {
    std::vector<UInt8, SkyloomUninitialisedAllocator<UInt8>> bytes;
    try {
      bytes.resize(size);  // wholly read below
    } catch (const std::bad_alloc&) {
      CloseComponent(ci);
      return memFullErr;
    }
    if (!readAt(bytes.data(), size)) {
      CloseComponent(ci);
      return ioErr;
    }
    err = decodeAs(type, bytes.data(), bytes.size(), &g->raster);
  }
  if (err != noErr) {
    CloseComponent(ci);
    return err;
  }
  g->loaded = true;
  g->source = Rect{0, 0, SInt16(g->raster.height), SInt16(g->raster.width)};
  *gi = ci;
  return noErr;
}

ComponentResult GraphicsImportGetNaturalBounds(GraphicsImportComponent c, Rect* b) {
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  if (!b || !g->loaded) return paramErr;
  *b = Rect{0, 0, SInt16(g->raster.height), SInt16(g->raster.width)};
  return noErr;
}

ComponentResult GraphicsImportSetSourceRect(GraphicsImportComponent c, const Rect* s) {
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  if (!s || s->left < 0 || s->top < 0 || s->right > g->raster.width || s->bottom > g->raster.height ||
      s->right <= s->left || s->bottom <= s->top)
    return paramErr;
  g->source = *s;
  return noErr;
}

ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent c, GWorldPtr port, GDHandle) {
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  g->port = port;
  return noErr;
}

ComponentResult GraphicsImportDraw(GraphicsImportComponent c) {
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  if (!g->loaded || !g->port) return paramErr;
  PixMapHandle pm = GetGWorldPixMap(g->port);
  if (!pm || !*pm || !(*pm)->baseAddr) return paramErr;
  const PixMap& p = **pm;
  const long dw = long(p.bounds.right) - p.bounds.left, dh = long(p.bounds.bottom) - p.bounds.top;
  const long sw = long(g->source.right) - g->source.left, sh = long(g->source.bottom) - g->source.top;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return paramErr;
  const SkyloomRaster& r = g->raster;
  // Source columns once per draw, not a division a pixel.
  std::vector<int> columns;
  try {
    columns.resize(size_t(dw));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (long x = 0; x < dw; ++x) columns[size_t(x)] = int(g->source.left + x * sw / dw);
  const bool oneToOne = sw == dw && sh == dh;
  // 1:1 into a format of the picture's own layout: whole rows copied.
  const UInt32 sameLayoutBytes =
      !oneToOne || r.bits != 16 ? 0
      : p.pixelFormat == k48RGBPixelFormat && r.channels == 3 ? 6
      : p.pixelFormat == k16GrayPixelFormat && r.channels == 1 ? 2
      : 0;
  for (long y = 0; y < dh; ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(p.baseAddr) + size_t(y) * size_t(p.rowBytes);
    const int sy = oneToOne ? int(g->source.top + y) : int(g->source.top + y * sh / dh);
    if (sameLayoutBytes) {
      std::memcpy(row, &r.samples[(size_t(sy) * r.width + size_t(g->source.left)) * r.channels],
                  size_t(dw) * sameLayoutBytes);
      continue;
    }
    for (long x = 0; x < dw; ++x) {
      const int sx = columns[size_t(x)];
      UInt16 v[4];
      pixel16(r, sx, sy, v);
      switch (p.pixelFormat) {
        case k32ARGBPixelFormat:
          row[4 * x] = UInt8(v[3] >> 8);
          row[4 * x + 1] = UInt8(v[0] >> 8);
          row[4 * x + 2] = UInt8(v[1] >> 8);
          row[4 * x + 3] = UInt8(v[2] >> 8);
          break;
        case k24RGBPixelFormat:
          for (int k = 0; k < 3; ++k) row[3 * x + k] = UInt8(v[k] >> 8);
          break;
        case k48RGBPixelFormat: {
          UInt16 o[3] = {v[0], v[1], v[2]};
          std::memcpy(row + 6 * x, o, 6);
          break;
        }
        case k64ARGBPixelFormat: {
          UInt16 o[4] = {v[3], v[0], v[1], v[2]};
          std::memcpy(row + 8 * x, o, 8);
          break;
        }
        case k16GrayPixelFormat: {
          UInt16 grey = r.channels <= 2 ? v[0] : UInt16((306u * v[0] + 601u * v[1] + 117u * v[2]) >> 10);
          std::memcpy(row + 2 * x, &grey, 2);
          break;
        }
        case FOUR_CHAR_CODE("b32a"): {
          UInt16 grey = r.channels <= 2 ? v[0] : UInt16((306u * v[0] + 601u * v[1] + 117u * v[2]) >> 10);
          UInt16 o[2] = {v[3], grey};
          std::memcpy(row + 4 * x, o, 4);
          break;
        }
        case k8IndexedGrayPixelFormat:
          row[x] = UInt8((r.channels <= 2 ? v[0] : UInt16((306u * v[0] + 601u * v[1] + 117u * v[2]) >> 10)) >> 8);
          break;
        default:
          return paramErr;
      }
    }
  }
  return noErr;
}

ComponentResult GraphicsImportGetImageDescription(GraphicsImportComponent c, ImageDescriptionHandle* desc) {
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  if (!desc || !g->loaded) return paramErr;
  *desc = nullptr;
  const SkyloomRaster& r = g->raster;
  OSType cspc = 0;
  if (r.bits == 16) {
    static const OSType forChannels[5] = {0, FOUR_CHAR_CODE("b16g"), FOUR_CHAR_CODE("b32a"), FOUR_CHAR_CODE("b48r"),
                                          FOUR_CHAR_CODE("b64a")};
    cspc = forChannels[r.channels];
  }
  // The description, then (for 16-bit pictures) one extension atom:
  // size, type, the OSType in host order.
  const Size base = sizeof(ImageDescription);
  const Size total = base + (cspc ? 12 : 0);
  auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(total));
  if (!h) return memFullErr;
  ImageDescription& d = **h;
  d.idSize = SInt32(total);
  d.cType = g->componentSubType;
  d.version = 1;
  d.width = SInt16(r.width);
  d.height = SInt16(r.height);
  d.hRes = d.vRes = Long2Fix(72);
  d.frameCount = 1;
  d.depth = SInt16(r.channels == 4 || r.channels == 2 ? 32 : (r.channels == 1 ? 40 : 24));
  d.clutID = -1;
  if (cspc) {
    UInt32 atom[3] = {12, kColorSpaceImageDescriptionExtension, cspc};
    std::memcpy(reinterpret_cast<char*>(*h) + base, atom, 12);
  }
  *desc = h;
  return noErr;
}

OSErr GetImageDescriptionExtension(ImageDescriptionHandle desc, Handle* extension, OSType idType, long index) {
  if (!desc || !extension) return paramErr;
  *extension = nullptr;
  const Size total = GetHandleSize(reinterpret_cast<Handle>(desc));
  Size pos = sizeof(ImageDescription);
  long seen = 0;
  while (pos + 8 <= total) {
    UInt32 head[2];
    std::memcpy(head, reinterpret_cast<const char*>(*desc) + pos, 8);
    if (head[0] < 8 || Size(head[0]) > total - pos) break;
    if (head[1] == idType && ++seen == index) {
      return PtrToHand(reinterpret_cast<const char*>(*desc) + pos + 8, extension, long(head[0] - 8));
    }
    pos += Size(head[0]);
  }
  return kQTNoExtension;
}

ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent c, CGImageRef* imageOut, UInt32) {
  if (!imageOut) return paramErr;
  *imageOut = nullptr;
  GraphicsImporter* g = importerOf(c);
  if (!g) return badComponentInstance;
  if (!g->loaded) return paramErr;
  const SkyloomRaster& r = g->raster;
  const int w = g->source.right - g->source.left, h = g->source.bottom - g->source.top;
  if (w <= 0 || h <= 0) return paramErr;
  const bool hasAlpha = r.channels == 2 || r.channels == 4;
  const size_t rowBytes = size_t(w) * 4;
  auto* bytes = static_cast<UInt8*>(malloc(rowBytes * size_t(h)));
  if (!bytes) return memFullErr;
  // 8-bit ARGB in memory order, straight alpha; 16-bit pictures keep their
  // high bytes.
  for (int y = 0; y < h; y++) {
    UInt8* out = bytes + size_t(y) * rowBytes;
    for (int x = 0; x < w; x++, out += 4) {
      UInt16 rgba[4];
      pixel16(r, g->source.left + x, g->source.top + y, rgba);
      out[0] = UInt8(rgba[3] >> 8);
      out[1] = UInt8(rgba[0] >> 8);
      out[2] = UInt8(rgba[1] >> 8);
      out[3] = UInt8(rgba[2] >> 8);
    }
  }
  CGDataProviderRef provider = CGDataProviderCreateWithData(
      nullptr, bytes, rowBytes * size_t(h), [](void*, const void* data, size_t) { free(const_cast<void*>(data)); });
  if (!provider) {
    free(bytes);
    return memFullErr;
  }
  CGColorSpaceRef rgb = CGColorSpaceCreateDeviceRGB();
  *imageOut = CGImageCreate(size_t(w), size_t(h), 8, 32, rowBytes, rgb,
                            hasAlpha ? kCGImageAlphaFirst : kCGImageAlphaNoneSkipFirst, provider, nullptr, false,
                            kCGRenderingIntentDefault);
  CGColorSpaceRelease(rgb);
  CGDataProviderRelease(provider);
  return *imageOut ? noErr : memFullErr;
}
