#include "platform/quicktime/GraphicsExport.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/quicktime/DataReferences.h"

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace {
struct GraphicsExporter : ComponentInstanceRecord {
  OSType subtype = 0;
  GWorldPtr input = nullptr;
  CGImageRef image = nullptr;
  SInt32 depth = 0;
  UInt32 quality = 0;
  SInt32 compressionMethod = 0;
  std::string path;
  ~GraphicsExporter() override { CGImageRelease(image); }
};
GraphicsExporter* exporterOf(ComponentInstance ci) {
  if (!ci || ci->componentType != GraphicsExporterComponentType) return nullptr;
  return static_cast<GraphicsExporter*>(ci);
}
}  // namespace

namespace {

std::mutex gRecorderLock;
std::function<OSErr(const GraphicsExportRecord&)> gRecorder;

bool knownSubtype(OSType t) {
  return t == kQTFileTypeTIFF || t == kQTFileTypePNG || t == kQTFileTypeJPEG || t == kQTFileTypeBMP ||
         t == kQTFileTypePhotoShop || t == kQTFileTypePicture;
}

// The picture as plain samples: row-major, channels interleaved (grey, RGB or
// RGBA), 8 or 16 bits a sample held in 16-bit slots.
struct Raster {
  int width = 0, height = 0, channels = 0, bits = 0;
  std::vector<UInt16> s;
  UInt16 at(int x, int y, int c) const { return s[(size_t(y) * width + x) * channels + c]; }
};

UInt16 luma(UInt32 r, UInt32 g, UInt32 b) { return UInt16((306 * r + 601 * g + 117 * b) >> 10); }

OSErr rasterFrom(GWorldPtr gw, SInt32 depth, Raster* out) {
  PixMapHandle pm = GetGWorldPixMap(gw);
  if (!pm || !*pm || !(*pm)->baseAddr) return paramErr;
  const PixMap& p = **pm;
  Raster r;
  r.width = p.bounds.right - p.bounds.left;
  r.height = p.bounds.bottom - p.bounds.top;
  if (r.width <= 0 || r.height <= 0) return paramErr;
  const bool wide = p.pixelFormat == k48RGBPixelFormat || p.pixelFormat == k16GrayPixelFormat;
  r.bits = wide ? 16 : 8;
  r.channels = depth == 40 ? 1 : (depth == 32 && !wide ? 4 : 3);
  r.s.resize(size_t(r.width) * r.height * r.channels);
  for (int y = 0; y < r.height; ++y) {
    const UInt8* row = reinterpret_cast<const UInt8*>(p.baseAddr) + size_t(y) * p.rowBytes;
    for (int x = 0; x < r.width; ++x) {
      UInt32 a = 0xFF, red, green, blue;
      switch (p.pixelFormat) {
        case k32ARGBPixelFormat:
          a = row[4 * x];
          red = row[4 * x + 1];
          green = row[4 * x + 2];
          blue = row[4 * x + 3];
          break;
        case k24RGBPixelFormat:
          red = row[3 * x];
          green = row[3 * x + 1];
          blue = row[3 * x + 2];
          break;
        case k8IndexedGrayPixelFormat:
        case k8IndexedPixelFormat:
          red = green = blue = row[x];
          break;
        case k48RGBPixelFormat: {
          UInt16 v[3];
          std::memcpy(v, row + 6 * x, 6);
          red = v[0];
          green = v[1];
          blue = v[2];
          break;
        }
        case k16GrayPixelFormat: {
          UInt16 v;
          std::memcpy(&v, row + 2 * x, 2);
          red = green = blue = v;
          break;
        }
        default:
          return paramErr;
      }
      UInt16* o = &r.s[(size_t(y) * r.width + x) * r.channels];
      if (r.channels == 1) {
        o[0] = red == green && green == blue ? UInt16(red) : luma(red, green, blue);
      } else {
        o[0] = UInt16(red);
        o[1] = UInt16(green);
        o[2] = UInt16(blue);
        if (r.channels == 4) o[3] = UInt16(a);
      }
    }
  }
  *out = std::move(r);
  return noErr;
}

// The depth a CGImage is written at when none was set: its own channels.
SInt32 naturalDepth(CGImageRef im) {
  if (CGColorSpaceGetNumberOfComponents(CGImageGetColorSpace(im)) == 1) return 40;
  switch (CGImageGetAlphaInfo(im)) {
    case kCGImageAlphaPremultipliedFirst:
    case kCGImageAlphaPremultipliedLast:
    case kCGImageAlphaFirst:
    case kCGImageAlphaLast:
      return 32;
    default:
      return 24;
  }
}

// The QuickDraw format of a CGImage's pixel size, for the export record.
OSType pixelFormatOf(CGImageRef im) {
  switch (CGImageGetBitsPerPixel(im)) {
    case 8: return k8IndexedGrayPixelFormat;
    case 16: return k16GrayPixelFormat;
    case 24: return k24RGBPixelFormat;
    case 32: return k32ARGBPixelFormat;
    case 48: return k48RGBPixelFormat;
    default: return k64ARGBPixelFormat;
  }
}

OSErr rasterFromImage(CGImageRef im, SInt32 depth, Raster* out) {
  Raster r;
  r.width = int(std::min<size_t>(CGImageGetWidth(im), 0x7FFFFFFF));
  r.height = int(std::min<size_t>(CGImageGetHeight(im), 0x7FFFFFFF));
  if (r.width <= 0 || r.height <= 0) return paramErr;
  r.bits = int(CGImageGetBitsPerComponent(im));
  r.channels = depth == 40 ? 1 : depth == 32 ? 4 : 3;
  const bool grey = CGColorSpaceGetNumberOfComponents(CGImageGetColorSpace(im)) == 1;
  r.s.resize(size_t(r.width) * r.height * r.channels);
  UInt16 px[4];
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x) {
      if (!SkyloomCGImagePixel(im, size_t(x), size_t(y), px)) return paramErr;
      UInt16* o = &r.s[(size_t(y) * r.width + x) * r.channels];
      if (r.channels == 1) {
        o[0] = grey ? px[0] : luma(px[0], px[1], px[2]);
      } else {
        for (int c = 0; c < r.channels; ++c) o[c] = px[c];
      }
    }
  *out = std::move(r);
  return noErr;
}

// 8-bit-only formats take the high byte; alpha is dropped where asked.
Raster to8Bit(const Raster& in, bool keepAlpha) {
  Raster r;
  r.width = in.width;
  r.height = in.height;
  r.bits = 8;
  r.channels = (in.channels == 4 && !keepAlpha) ? 3 : in.channels;
  r.s.resize(size_t(r.width) * r.height * r.channels);
  for (size_t i = 0, n = size_t(r.width) * r.height; i < n; ++i)
    for (int c = 0; c < r.channels; ++c) {
      UInt16 v = in.s[i * in.channels + c];
      r.s[i * r.channels + c] = in.bits == 16 ? UInt16(v >> 8) : v;
    }
  return r;
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;



// ---------------------------------------------------------------- TIFF

OSErr writeTIFF(const std::string& path, const Raster& r, SInt32 method) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return OSErr(ioErr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, UInt32(r.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, UInt32(r.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, UInt16(r.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, UInt16(r.channels));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, r.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION,
               method == kQTTIFFCompression_PackBits ? COMPRESSION_PACKBITS : COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0f);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (r.channels == 4) {
    UInt16 extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  const size_t n = size_t(r.width) * r.channels;
  std::vector<UInt8> row8(r.bits == 8 ? n : 0);
  std::vector<UInt16> row16(r.bits == 16 ? n : 0);
  OSErr err = noErr;
  for (int y = 0; y < r.height && err == noErr; ++y) {
    const UInt16* src = &r.s[size_t(y) * n];
    void* buf;
    if (r.bits == 8) {
      for (size_t i = 0; i < n; ++i) row8[i] = UInt8(src[i]);
      buf = row8.data();
    } else {
      std::memcpy(row16.data(), src, n * 2);
      buf = row16.data();
    }
    if (TIFFWriteScanline(t, buf, UInt32(y), 0) < 0) err = ioErr;
  }
  TIFFClose(t);
  return err;
}

// ---------------------------------------------------------------- PNG

OSErr writePNG(const std::string& path, const Raster& r) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return OSErr(ioErr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return memFullErr;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return memFullErr;
  }
  const size_t n = size_t(r.width) * r.channels;
  std::vector<UInt8> row(n * (r.bits / 8));
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return OSErr(ioErr);
  }
  png_init_io(png, f.get());
  png_set_compression_level(png, 6);
  int type = r.channels == 1 ? PNG_COLOR_TYPE_GRAY : r.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA;
  png_set_IHDR(png, info, UInt32(r.width), UInt32(r.height), r.bits, type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < r.height; ++y) {
    const UInt16* src = &r.s[size_t(y) * n];
    if (r.bits == 8) {
      for (size_t i = 0; i < n; ++i) row[i] = UInt8(src[i]);
    } else {
      for (size_t i = 0; i < n; ++i) {  // PNG samples are big-endian
        row[2 * i] = UInt8(src[i] >> 8);
        row[2 * i + 1] = UInt8(src[i]);
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fflush(f.get()) == 0 ? OSErr(noErr) : OSErr(ioErr);
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};
void jpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

OSErr writeJPEG(const std::string& path, const Raster& in, UInt32 quality) {
  Raster r = to8Bit(in, false);
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return OSErr(ioErr);
  jpeg_compress_struct c;
  JpegError jerr;
  c.err = jpeg_std_error(&jerr.mgr);
  jerr.mgr.error_exit = jpegFail;
  std::vector<UInt8> row(size_t(r.width) * r.channels);
  if (setjmp(jerr.jump)) {
    jpeg_destroy_compress(&c);
    return OSErr(ioErr);
  }
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f.get());
  c.image_width = JDIMENSION(r.width);
  c.image_height = JDIMENSION(r.height);
  c.input_components = r.channels;
  c.in_color_space = r.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  // 512 (normal) gives 75, 1024 (lossless) gives 100, linear between.
  int q = int(50 + (std::min<UInt32>(quality, 1024) * 50 + 512) / 1024);
  jpeg_set_quality(&c, q, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    const UInt16* src = &r.s[size_t(c.next_scanline) * row.size()];
    for (size_t i = 0; i < row.size(); ++i) row[i] = UInt8(src[i]);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fflush(f.get()) == 0 ? OSErr(noErr) : OSErr(ioErr);
}

// ---------------------------------------------------------------- byte writers

struct Bytes {
  std::vector<UInt8> b;
  void u8(UInt32 v) { b.push_back(UInt8(v)); }
  void be16(UInt32 v) { u8(v >> 8); u8(v); }
  void be32(UInt32 v) { be16(v >> 16); be16(v); }
  void le16(UInt32 v) { u8(v); u8(v >> 8); }
  void le32(UInt32 v) { le16(v); le16(v >> 16); }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
};

OSErr writeBytes(const std::string& path, const std::vector<UInt8>& b) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) return OSErr(ioErr);
  if (!b.empty() && std::fwrite(b.data(), 1, b.size(), f.get()) != b.size()) return OSErr(ioErr);
  return std::fflush(f.get()) == 0 ? OSErr(noErr) : OSErr(ioErr);
}

// BMP: 24-bit BGR rows padded to 4 bytes, or 32-bit BGRA, bottom row first.
OSErr writeBMP(const std::string& path, const Raster& in) {
  Raster r = to8Bit(in, true);
  const bool alpha = r.channels == 4;
  const UInt32 bpp = alpha ? 4 : 3;
  const UInt32 rowBytes = (UInt32(r.width) * bpp + 3) & ~3u;
  const UInt32 imageBytes = rowBytes * UInt32(r.height);
  Bytes o;
  o.b.reserve(54 + imageBytes);
  o.u8('B');
  o.u8('M');
  o.le32(54 + imageBytes);
  o.le32(0);
  o.le32(54);
  o.le32(40);
  o.le32(UInt32(r.width));
  o.le32(UInt32(r.height));
  o.le16(1);
  o.le16(bpp * 8);
  o.le32(0);  // BI_RGB
  o.le32(imageBytes);
  o.le32(2835);  // 72 dpi in pixels a metre
  o.le32(2835);
  o.le32(0);
  o.le32(0);
  for (int y = r.height - 1; y >= 0; --y) {
    for (int x = 0; x < r.width; ++x) {
      UInt16 red = r.at(x, y, r.channels == 1 ? 0 : 0);
      UInt16 green = r.at(x, y, r.channels == 1 ? 0 : 1);
      UInt16 blue = r.at(x, y, r.channels == 1 ? 0 : 2);
      o.u8(blue);
      o.u8(green);
      o.u8(red);
      if (alpha) o.u8(r.at(x, y, 3));
    }
    o.zeros(rowBytes - UInt32(r.width) * bpp);
  }
  return writeBytes(path, o.b);
}

// Photoshop: uncompressed 8-bit grey or RGB, channels stored as planes.
OSErr writePSD(const std::string& path, const Raster& in) {
  Raster r = to8Bit(in, false);
  Bytes o;
  o.b.reserve(26 + 14 + size_t(r.width) * r.height * r.channels);
  o.u8('8'); o.u8('B'); o.u8('P'); o.u8('S');
  o.be16(1);
  o.zeros(6);
  o.be16(UInt32(r.channels));
  o.be32(UInt32(r.height));
  o.be32(UInt32(r.width));
  o.be16(8);
  o.be16(r.channels == 1 ? 1 : 3);  // grayscale or RGB
  o.be32(0);  // colour mode data
  o.be32(0);  // image resources
  o.be32(0);  // layer and mask information
  o.be16(0);  // raw image data
  for (int c = 0; c < r.channels; ++c)
    for (int y = 0; y < r.height; ++y)
      for (int x = 0; x < r.width; ++x) o.u8(r.at(x, y, c));
  return writeBytes(path, o.b);
}

// PackBits: runs of 3 or more equal bytes as repeat runs, the rest literal.
void packBits(const UInt8* p, size_t n, std::vector<UInt8>* out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && p[i + run] == p[i]) ++run;
    if (run >= 3) {
      out->push_back(UInt8(257 - run));
      out->push_back(p[i]);
      i += run;
      continue;
    }
    size_t start = i, len = 0;
    while (i < n && len < 128) {
      size_t r2 = 1;
      while (i + r2 < n && r2 < 3 && p[i + r2] == p[i]) ++r2;
      if (r2 >= 3) break;
      ++i;
      ++len;
    }
    out->push_back(UInt8(len - 1));
    out->insert(out->end(), p + start, p + start + len);
  }
}

// PICT version 2 with one direct-bits rectangle: 32-bit pixels, each row's
// alpha, red, green and blue planes PackBits-compressed together (alpha is
// opaque).
//
// Readers choose a row's layout by the row width: unpacked rows below 8
// bytes, and a two-byte packed count above 250 row bytes (one byte below).
// ImageMagick takes the width from the components instead of the row bytes
// (4 x width with four components, 3 x width with three) and its count size
// from 200, not 250. Four components make its unpacked rows and ours agree
// (width 1 only); rows of 51 to 62 pixels (204 to 248 bytes) get row bytes
// padded to 252, so both sides read two-byte counts there as well.
constexpr UInt32 kPictComponents = 4;

UInt32 pictRowBytes(UInt32 width) {
  const UInt32 dense = width * kPictComponents;
  return dense > 200 && dense <= 250 ? 252 : dense;
}

OSErr writePICT(const std::string& path, const Raster& in) {
  Raster r = to8Bit(in, false);
  const UInt32 w = UInt32(r.width), h = UInt32(r.height);
  if (w > 0x3FFF / kPictComponents || h > 0x7FFF) return paramErr;
  Bytes o;
  o.zeros(512);  // the file's application header
  o.be16(0);     // picture size, patched below
  auto rect = [&] { o.be16(0); o.be16(0); o.be16(h); o.be16(w); };
  rect();
  o.be16(0x0011);
  o.be16(0x02FF);
  o.be16(0x0C00);  // header: extended version 2
  o.be16(0xFFFE);
  o.be16(0);
  o.be32(0x00480000);
  o.be32(0x00480000);
  rect();
  o.be32(0);
  o.be16(0x001E);  // default highlight
  o.be16(0x0001);  // clip region: the frame
  o.be16(10);
  rect();
  o.be16(0x009A);  // direct bits rectangle
  o.be32(0x000000FF);
  const UInt32 rowBytes = pictRowBytes(w);
  o.be16(rowBytes | 0x8000);
  rect();
  o.be16(0);           // pixel map version
  o.be16(4);           // pack type: components packed separately
  o.be32(0);           // pack size
  o.be32(0x00480000);  // resolution
  o.be32(0x00480000);
  o.be16(16);  // direct RGB
  o.be16(32);  // bits a pixel
  o.be16(kPictComponents);
  o.be16(8);  // bits a component
  o.be32(0);
  o.be32(0);
  o.be32(0);
  rect();        // source
  rect();        // destination
  o.be16(0);     // copy mode
  std::vector<UInt8> planes(size_t(w) * kPictComponents, 0xFF), packed;
  for (UInt32 y = 0; y < h; ++y) {
    for (UInt32 x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        planes[(c + 1) * w + x] = UInt8(r.channels == 1 ? r.at(int(x), int(y), 0) : r.at(int(x), int(y), c));
    if (rowBytes < 8) {
      o.b.insert(o.b.end(), planes.begin(), planes.end());
      continue;
    }
    packed.clear();
    packBits(planes.data(), planes.size(), &packed);
    if (rowBytes > 250) o.be16(UInt32(packed.size()));
    else o.u8(UInt32(packed.size()));
    o.b.insert(o.b.end(), packed.begin(), packed.end());
  }
  if (o.b.size() & 1) o.u8(0);
  o.be16(0x00FF);  // end of picture
  const UInt32 size = UInt32(o.b.size() - 512);
  o.b[512] = UInt8(size >> 8);
  o.b[513] = UInt8(size);
  return writeBytes(path, o.b);
}

}  // namespace

OSErr SkyloomOpenGraphicsExporter(OSType subtype, ComponentInstance* out) {
  if (!out) return paramErr;
  *out = nullptr;
  if (!knownSubtype(subtype)) return invalidComponentID;
  auto* e = new (std::nothrow) GraphicsExporter;
  if (!e) return memFullErr;
  e->componentType = GraphicsExporterComponentType;
  e->componentSubType = subtype;
  e->subtype = subtype;
  *out = e;
  return noErr;
}

ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent c, GWorldPtr gworld) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  if (!gworld) return paramErr;
  ci->input = gworld;
  CGImageRelease(ci->image);
  ci->image = nullptr;
  return noErr;
}

ComponentResult GraphicsExportSetInputCGImage(GraphicsExportComponent c, CGImageRef image) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  if (!image) return paramErr;
  CGImageRetain(image);
  CGImageRelease(ci->image);
  ci->image = image;
  ci->input = nullptr;
  return noErr;
}

ComponentResult GraphicsExportSetDepth(GraphicsExportComponent c, SInt32 depth) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  if (depth != 24 && depth != 32 && depth != 40) return paramErr;
  ci->depth = depth;
  return noErr;
}

ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent c, UInt32 quality) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  ci->quality = quality;
  return noErr;
}

ComponentResult GraphicsExportSetCompressionMethod(GraphicsExportComponent c, SInt32 method) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  ci->compressionMethod = method;
  return noErr;
}

ComponentResult SkyloomGraphicsExportSetOutputPath(GraphicsExportComponent c, const std::string& path) {
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  if (path.empty()) return paramErr;
  ci->path = path;
  return noErr;
}

ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* theFile) {
  if (!exporterOf(ci)) return badComponentInstance;
  if (!theFile) return paramErr;
  std::string path = SkyloomFSSpecPath(theFile);
  if (path.empty()) return dirNFErr;
  return SkyloomGraphicsExportSetOutputPath(ci, path);
}

ComponentResult GraphicsExportSetOutputDataReference(GraphicsExportComponent ci, Handle dataRef, OSType dataRefType) {
  if (!exporterOf(ci)) return badComponentInstance;
  std::string path = SkyloomDataReferencePath(dataRef, dataRefType);
  if (path.empty()) return paramErr;
  return SkyloomGraphicsExportSetOutputPath(ci, path);
}

void SkyloomSetGraphicsExportRecorder(std::function<OSErr(const GraphicsExportRecord&)> recorder) {
  std::lock_guard<std::mutex> lock(gRecorderLock);
  gRecorder = std::move(recorder);
}


ComponentResult GraphicsExportDoExport(GraphicsExportComponent c, UInt32* actualSizeWritten) {
  if (actualSizeWritten) *actualSizeWritten = 0;
  GraphicsExporter* ci = exporterOf(c);
  if (!ci) return badComponentInstance;
  if ((!ci->input && !ci->image) || ci->path.empty()) return paramErr;
  SInt32 depth = ci->depth ? ci->depth : ci->image ? naturalDepth(ci->image) : 32;
  {
    std::function<OSErr(const GraphicsExportRecord&)> recorder;
    {
      std::lock_guard<std::mutex> lock(gRecorderLock);
      recorder = gRecorder;
    }
    if (recorder) {
      GraphicsExportRecord rec{ci->subtype, ci->depth, ci->quality, ci->compressionMethod, 0, 0, 0, ci->path};
      if (ci->image) {
        rec.pixelFormat = pixelFormatOf(ci->image);
        rec.width = SInt32(std::min<size_t>(CGImageGetWidth(ci->image), 0x7FFFFFFF));
        rec.height = SInt32(std::min<size_t>(CGImageGetHeight(ci->image), 0x7FFFFFFF));
      } else {
        PixMapHandle pm = GetGWorldPixMap(ci->input);
        rec.pixelFormat = (*pm)->pixelFormat;
        rec.width = (*pm)->bounds.right - (*pm)->bounds.left;
        rec.height = (*pm)->bounds.bottom - (*pm)->bounds.top;
      }
      OSErr e = recorder(rec);
      if (e != noErr) return e;
    }
  }
  Raster r;
  OSErr err = ci->image ? rasterFromImage(ci->image, depth, &r) : rasterFrom(ci->input, depth, &r);
  if (err != noErr) return err;
  switch (ci->subtype) {
    case kQTFileTypeTIFF: err = writeTIFF(ci->path, r, ci->compressionMethod); break;
    case kQTFileTypePNG: err = writePNG(ci->path, r); break;
    case kQTFileTypeJPEG: err = writeJPEG(ci->path, r, ci->quality ? ci->quality : 512); break;
    case kQTFileTypeBMP: err = writeBMP(ci->path, r); break;
    case kQTFileTypePhotoShop: err = writePSD(ci->path, r); break;
    case kQTFileTypePicture: err = writePICT(ci->path, r); break;
    default: err = invalidComponentID; break;
  }
  if (err == noErr && actualSizeWritten) {
    File f(std::fopen(ci->path.c_str(), "rb"));
    if (f && std::fseek(f.get(), 0, SEEK_END) == 0) *actualSizeWritten = UInt32(std::ftell(f.get()));
  }
  return err;
}
