#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/PictureImport.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsExport.h"
#include "platform/quicktime/GraphicsImport.h"

namespace {

class PictureImport : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-import-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    EXPECT_EQ(SkyloomLiveComponentCount(), 0);
    EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
  }
  FSRef refOf(const std::string& path) {
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr) << path;
    return ref;
  }
  std::string exportPixels(Ptr pixels, OSType format, int w, int h, int rowBytes, OSType type, SInt32 depth,
                           const char* name) {
    Rect b{0, 0, SInt16(h), SInt16(w)};
    GWorldPtr g = nullptr;
    EXPECT_EQ(NewGWorldFromPtr(&g, format, &b, nullptr, nullptr, 0, pixels, rowBytes), noErr);
    ComponentInstance ci = nullptr;
    EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, type, &ci), noErr);
    GraphicsExportSetInputGWorld(ci, g);
    GraphicsExportSetDepth(ci, depth);
    GraphicsExportSetCompressionQuality(ci, 1024);
    if (type == kQTFileTypeTIFF) GraphicsExportSetCompressionMethod(ci, kQTTIFFCompression_PackBits);
    std::string path = (dir / name).string();
    SkyloomGraphicsExportSetOutputPath(ci, path);
    EXPECT_EQ(GraphicsExportDoExport(ci, nullptr), noErr);
    CloseComponent(ci);
    DisposeGWorld(g);
    return path;
  }
  std::vector<UInt16> importRGB48(const std::string& path, UInt32* w = nullptr, UInt32* h = nullptr) {
    UInt32 ww = 0, hh = 0, rb = 0;
    Ptr buf = nullptr;
    OSErr err = ImportFileIntoRGB48Ptr(refOf(path), &ww, &hh, &rb, &buf);
    EXPECT_EQ(err, noErr) << path;
    std::vector<UInt16> out;
    if (buf) {
      EXPECT_EQ(rb, ww * 6);
      out.resize(size_t(ww) * hh * 3);
      std::memcpy(out.data(), buf, out.size() * 2);
      std::free(buf);
    }
    if (w) *w = ww;
    if (h) *h = hh;
    return out;
  }
};

std::vector<UInt8> argbPixels(int w, int h) {
  std::vector<UInt8> p(size_t(w) * h * 4);
  for (int i = 0; i < w * h; ++i) {
    p[4 * i] = 0xFF;
    p[4 * i + 1] = UInt8(i * 37);
    p[4 * i + 2] = UInt8(255 - i * 11);
    p[4 * i + 3] = UInt8(i % 3 ? 200 : 9);
  }
  return p;
}

}  // namespace

TEST_F(PictureImport, EightBitPicturesWidenByShiftNot257) {
  UInt8 px[4] = {0xFF, 0xFF, 0x80, 0x00};
  auto path = exportPixels(reinterpret_cast<Ptr>(px), k32ARGBPixelFormat, 1, 1, 4, kQTFileTypePNG, 24, "one.png");
  auto rgb = importRGB48(path);
  ASSERT_EQ(rgb.size(), 3u);
  EXPECT_EQ(rgb[0], 0xFF00);
  EXPECT_EQ(rgb[1], 0x8000);
  EXPECT_EQ(rgb[2], 0x0000);
}

TEST_F(PictureImport, SixteenBitGreyGivesEqualChannels) {
  UInt16 grey[6] = {0, 1, 0x1234, 0x8001, 0xFFFE, 0xFFFF};
  auto path = exportPixels(reinterpret_cast<Ptr>(grey), k16GrayPixelFormat, 3, 2, 6, kQTFileTypeTIFF, 40, "g.tif");
  auto rgb = importRGB48(path);
  ASSERT_EQ(rgb.size(), 18u);
  for (int i = 0; i < 6; ++i)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(rgb[3 * i + c], grey[i]) << i;
}

TEST_F(PictureImport, ChannelSelectorMasksAndSetsAlpha) {
  UInt8 px[4] = {0x00, 0x12, 0x34, 0x56};
  auto path = exportPixels(reinterpret_cast<Ptr>(px), k32ARGBPixelFormat, 1, 1, 4, kQTFileTypeTIFF, 24, "s.tif");
  struct Case { UInt32 selector; UInt8 alpha; UInt8 want[4]; };
  const Case cases[] = {{2, 0xFF, {0xFF, 0x00, 0x34, 0x00}},
                        {1, 0x80, {0x80, 0x12, 0x00, 0x00}},
                        {3, 0x00, {0x00, 0x00, 0x00, 0x56}},
                        {0, 0x7F, {0x7F, 0x12, 0x34, 0x56}}};
  for (const Case& c : cases) {
    OSErr err = 1;
    UInt32 w, h, rb;
    Ptr buf = myGetAnImageinARGB32Ptr(&err, refOf(path), &w, &h, &rb, c.alpha, c.selector);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(rb, 4u);
    EXPECT_EQ(0, std::memcmp(buf, c.want, 4)) << "selector " << c.selector;
    std::free(buf);
  }
}

TEST_F(PictureImport, ExportedFilesRoundTrip) {
  const int w = 5, h = 3;
  std::vector<UInt16> rgb48(w * h * 3);
  for (size_t i = 0; i < rgb48.size(); ++i) rgb48[i] = UInt16(i * 4099 + 0x0102);
  for (OSType type : {kQTFileTypeTIFF, kQTFileTypePNG}) {
    auto path = exportPixels(reinterpret_cast<Ptr>(rgb48.data()), k48RGBPixelFormat, w, h, w * 6, type, 24,
                             type == kQTFileTypeTIFF ? "rt.tif" : "rt.png");
    EXPECT_EQ(importRGB48(path), rgb48) << path;
  }
  auto argb = argbPixels(w, h);
  std::vector<UInt16> widened(w * h * 3);
  for (int i = 0; i < w * h; ++i)
    for (int c = 0; c < 3; ++c) widened[3 * i + c] = UInt16(argb[4 * i + 1 + c] << 8);
  const struct { OSType type; const char* name; } eight[] = {
      {kQTFileTypeTIFF, "e.tif"}, {kQTFileTypePNG, "e.png"}, {kQTFileTypePhotoShop, "e.psd"},
      {kQTFileTypePicture, "e.pict"}, {kQTFileTypeBMP, "e.bmp"}};
  for (const auto& e : eight) {
    auto path = exportPixels(reinterpret_cast<Ptr>(argb.data()), k32ARGBPixelFormat, w, h, w * 4, e.type, 24, e.name);
    EXPECT_EQ(importRGB48(path), widened) << e.name;
  }
}

TEST_F(PictureImport, FitsFilesAsOurWriterMakesThem) {
  // A 3 x 2 FITS image per BITPIX, written card by card.
  auto fits = [&](int bitpix, const char* bzero, const std::vector<UInt8>& data, const char* name) {
    std::string header(2880, ' ');
    int rec = 0;
    auto card = [&](const std::string& c) { header.replace(size_t(rec++) * 80, c.size(), c); };
    card("SIMPLE  =                    T");
    char b[81];
    std::snprintf(b, sizeof b, "BITPIX  =                  %3d", bitpix);
    card(b);
    card("NAXIS   =                    2");
    card("NAXIS1  =                    3");
    card("NAXIS2  =                    2");
    if (bzero) card(std::string("BZERO   =                     ") + bzero);
    card("END");
    std::string path = (dir / name).string();
    std::ofstream out(path, std::ios::binary);
    out << header;
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    out << std::string(2880 - data.size(), '\0');
    return path;
  };
  auto grey = [](const std::vector<UInt16>& v) {
    std::vector<UInt16> out;
    for (UInt16 s : v) out.insert(out.end(), {s, s, s});
    return out;
  };
  EXPECT_EQ(importRGB48(fits(8, nullptr, {0, 1, 2, 0x80, 0xFE, 0xFF}, "a.fits")),
            grey({0, 0x100, 0x200, 0x8000, 0xFE00, 0xFF00}));
  // 16-bit: stored as s - 32768.
  EXPECT_EQ(importRGB48(fits(16, "32768", {0x80, 0x00, 0x7F, 0xFF, 0x00, 0x00, 0x80, 0x01, 0x12, 0x34, 0xFF, 0xFF}, "b.fits")),
            grey({0, 65535, 32768, 1, 0x9234, 0x7FFF}));
  // 32-bit: stored as s - 2^31, read back >> 16.
  EXPECT_EQ(importRGB48(fits(32, "2147483648",
                             {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x92, 0x34, 0x56, 0x78,
                              0x80, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF},
                             "c.fits")),
            grey({0, 0xFFFF, 0x8000, 0x1234, 0x0001, 0x8000}));
}

TEST_F(PictureImport, ImageMagickFixtures) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("convert"));
  auto make = [&](const std::string& args, const char* name) {
    std::string path = (dir / name).string();
    EXPECT_EQ(std::system(("convert " + args + " " + path).c_str()), 0) << args;
    return path;
  };
  auto lzw = importRGB48(make("-size 4x3 xc:'#FF8000' -depth 16 -compress lzw", "lzw.tif"));
  ASSERT_EQ(lzw.size(), 36u);
  EXPECT_EQ(lzw[0], 0xFFFF);
  EXPECT_EQ(lzw[1], 0x8080);
  EXPECT_EQ(lzw[2], 0x0000);
  auto png16 = importRGB48(make("-size 2x1 xc:'#123456789ABC' -depth 16", "hl.png"));
  ASSERT_EQ(png16.size(), 6u);
  EXPECT_EQ(png16[0], 0x1234);
  EXPECT_EQ(png16[1], 0x5678);
  EXPECT_EQ(png16[2], 0x9ABC);
  auto jpeg = importRGB48(make("-size 8x8 xc:'#FF8000' -quality 100", "x.jpg"));
  ASSERT_EQ(jpeg.size(), 192u);
  EXPECT_NEAR(jpeg[0] >> 8, 0xFF, 2);
  EXPECT_NEAR(jpeg[1] >> 8, 0x80, 2);
  EXPECT_NEAR(jpeg[2] >> 8, 0x00, 2);
  EXPECT_EQ(jpeg[0] & 0xFF, 0);  // 8-bit pictures widen by << 8
}

TEST_F(PictureImport, MissingOrDamagedFilesGiveAnErrorAndNoBuffer) {
  Ptr buf = reinterpret_cast<Ptr>(1);
  UInt32 w, h, rb;
  // Missing: the reference cannot even be made; the importer says fnfErr for a
  // file that vanishes after its reference was made.
  std::string gone = (dir / "gone.tif").string();
  { std::ofstream(gone) << "x"; }
  FSRef ref = refOf(gone);
  std::filesystem::remove(gone);
  EXPECT_NE(ImportFileIntoRGB48Ptr(ref, &w, &h, &rb, &buf), noErr);
  EXPECT_EQ(buf, nullptr);
  // A TIFF cut short, and a file no importer reads.
  UInt16 grey[4] = {1, 2, 3, 4};
  auto good = exportPixels(reinterpret_cast<Ptr>(grey), k16GrayPixelFormat, 2, 2, 4, kQTFileTypeTIFF, 40, "cut.tif");
  std::filesystem::resize_file(good, 12);
  buf = reinterpret_cast<Ptr>(1);
  EXPECT_NE(ImportFileIntoRGB48Ptr(refOf(good), &w, &h, &rb, &buf), noErr);
  EXPECT_EQ(buf, nullptr);
  std::string text = (dir / "notes.txt").string();
  { std::ofstream(text) << "not a picture"; }
  OSErr err = 0;
  EXPECT_EQ(myGetAnImageinARGB32Ptr(&err, refOf(text), &w, &h, &rb, 0xFF, 0), nullptr);
  EXPECT_EQ(err, noCodecErr);
}

// 16-bit pictures with alpha keep their full depth: grey with alpha ('b32a')
// gives its grey in all three channels, RGBA ('b64a') drops the alpha. The
// files come from ImageMagick, fed the big-endian samples below.
TEST_F(PictureImport, SixteenBitAlphaPicturesFromImageMagick) {
  const std::vector<UInt16> greyAlpha = {0x1234, 0xFFFF, 0xFEDC, 0x8000, 0x0001, 0x0010,
                                         0x8000, 0x0000, 0x00FF, 0xFF00, 0xA5A5, 0x5A5A};
  const std::vector<UInt16> rgba = {0x1234, 0x5678, 0x9ABC, 0xFFFF, 0x0001, 0x0002, 0x0003, 0x8000,
                                    0xFFFF, 0x0000, 0x8001, 0x0101, 0x00FF, 0xFF00, 0x7F80, 0x0000,
                                    0xFEDC, 0xBA98, 0x7654, 0x3210, 0x0F0F, 0xF0F0, 0x1111, 0xEEEE};
  std::vector<UInt16> fromGreyAlpha, fromRGBA;
  for (size_t i = 0; i < greyAlpha.size(); i += 2) fromGreyAlpha.insert(fromGreyAlpha.end(), 3, greyAlpha[i]);
  for (size_t i = 0; i < rgba.size(); i += 4) fromRGBA.insert(fromRGBA.end(), rgba.begin() + long(i), rgba.begin() + long(i) + 3);
  auto rawFile = [&](const std::vector<UInt16>& samples, const char* name) {
    std::string path = (dir / name).string();
    std::ofstream out(path, std::ios::binary);
    for (UInt16 s : samples) out.put(char(s >> 8)).put(char(s & 0xFF));
    return path;
  };
  const std::string gaRaw = rawFile(greyAlpha, "ga.raw"), rgbaRaw = rawFile(rgba, "rgba.raw");
  const struct {
    const char* input;  // ImageMagick's raw reader and size
    const char* options;
    const char* name;
    const std::vector<UInt16>* want;
  } cases[] = {
      {"-size 3x2 graya:", "", "ga.png", &fromGreyAlpha},
      {"-size 3x2 graya:", "-compress none", "ga.tif", &fromGreyAlpha},
      {"-size 3x2 graya:", "-compress zip", "ga_zip.tif", &fromGreyAlpha},
      {"-size 3x2 rgba:", "", "rgba.png", &fromRGBA},
      {"-size 3x2 rgba:", "-compress lzw", "rgba.tif", &fromRGBA},
  };
  for (const auto& c : cases) {
    const std::string raw = std::string(c.input).find("graya") != std::string::npos ? gaRaw : rgbaRaw;
    const std::string path = (dir / c.name).string();
    const std::string command =
        std::string("convert -depth 16 -endian MSB ") + c.input + raw + " " + c.options + " " + path;
    ASSERT_EQ(std::system(command.c_str()), 0) << command << " (scripts/deps installs ImageMagick)";
    UInt32 w = 0, h = 0;
    EXPECT_EQ(importRGB48(path, &w, &h), *c.want) << c.name;
    EXPECT_EQ(w, 3u) << c.name;
    EXPECT_EQ(h, 2u) << c.name;
  }
}

// 16-bit TIFFs as other programs lay them out: either byte order, strips of a
// few rows (the last one short), odd widths, white-is-zero grey. Every sample
// arrives as written.
TEST_F(PictureImport, SixteenBitTIFFLayoutsFromImageMagick) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("convert"));
  // whiteIsZero: the samples are stored as given under a white-is-zero tag,
  // so the picture reads back as 65535 - sample.
  struct Case { int w, h; const char* map; const char* extra; bool whiteIsZero; };
  const Case cases[] = {{1, 1, "rgb", "-endian MSB", false},
                        {67, 5, "rgb", "-endian LSB -define tiff:rows-per-strip=2", false},
                        {13, 7, "rgb", "-endian MSB -define tiff:rows-per-strip=3", false},
                        {9, 4, "gray", "-endian LSB", false},
                        {9, 3, "gray", "-endian MSB -define quantum:polarity=min-is-white", true}};
  int n = 0;
  for (const Case& c : cases) {
    const int spp = std::strcmp(c.map, "rgb") == 0 ? 3 : 1;
    std::vector<UInt16> samples(size_t(c.w) * c.h * spp);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = UInt16(i * 40503u + 0x1357);
    const std::string raw = (dir / ("in" + std::to_string(n) + ".raw")).string();
    {
      std::ofstream out(raw, std::ios::binary);
      for (UInt16 s : samples) out.put(char(s >> 8)).put(char(s & 0xFF));
    }
    const std::string tif = (dir / ("l" + std::to_string(n++) + ".tif")).string();
    const std::string cmd = "convert -size " + std::to_string(c.w) + "x" + std::to_string(c.h) + " -depth 16 -endian MSB " +
                            c.map + ":" + raw + " " + c.extra + " -compress none " + tif;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    UInt32 w = 0, h = 0;
    const std::vector<UInt16> got = importRGB48(tif, &w, &h);
    ASSERT_EQ(w, UInt32(c.w)) << cmd;
    ASSERT_EQ(h, UInt32(c.h)) << cmd;
    std::vector<UInt16> want;
    for (size_t i = 0; i < samples.size(); i += size_t(spp)) {
      if (spp == 3) want.insert(want.end(), samples.begin() + long(i), samples.begin() + long(i) + 3);
      else want.insert(want.end(), 3, c.whiteIsZero ? UInt16(65535 - samples[i]) : samples[i]);
    }
    EXPECT_EQ(got, want) << cmd;
  }
}

// Drawing into a picture of another size samples source pixel
// (left + x * sw / dw, top + y * sh / dh); drawing 1:1 copies rows.
TEST_F(PictureImport, DrawsPickTheSameSourcePixelsAtEveryScale) {
  const int w = 23, h = 9;
  std::vector<UInt16> rgb48(size_t(w) * h * 3);
  for (size_t i = 0; i < rgb48.size(); ++i) rgb48[i] = UInt16(i * 7919u + 3);
  auto path = exportPixels(reinterpret_cast<Ptr>(rgb48.data()), k48RGBPixelFormat, w, h, w * 6, kQTFileTypeTIFF,
                           24, "scale.tif");
  Handle dataRef = nullptr;
  OSType refType = 0;
  FSRef ref = refOf(path);
  ASSERT_EQ(QTNewDataReferenceFromFSRef(&ref, 0, &dataRef, &refType), noErr);
  GraphicsImportComponent gi = nullptr;
  ASSERT_EQ(GetGraphicsImporterForDataRef(dataRef, refType, &gi), noErr);
  const Rect sources[] = {{0, 0, SInt16(h), SInt16(w)}, {2, 3, 7, 20}};
  const int sizes[][2] = {{w, h}, {17, 6}, {1, 1}, {40, 13}, {67, 3}};
  for (const Rect& s : sources) {
    ASSERT_EQ(GraphicsImportSetSourceRect(gi, &s), noErr);
    const int sw = s.right - s.left, sh = s.bottom - s.top;
    for (const auto& d : sizes) {
      const int dw = d[0], dh = d[1];
      for (OSType format : {k48RGBPixelFormat, k32ARGBPixelFormat}) {
        const int bpp = format == k48RGBPixelFormat ? 6 : 4;
        std::vector<UInt8> out(size_t(dw) * dh * bpp + 8, 0xEE);
        Rect b{0, 0, SInt16(dh), SInt16(dw)};
        GWorldPtr g = nullptr;
        ASSERT_EQ(NewGWorldFromPtr(&g, format, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(out.data()), dw * bpp),
                  noErr);
        ASSERT_EQ(GraphicsImportSetGWorld(gi, g, nullptr), noErr);
        ASSERT_EQ(GraphicsImportDraw(gi), noErr);
        DisposeGWorld(g);
        for (int y = 0; y < dh; ++y) {
          for (int x = 0; x < dw; ++x) {
            const int sx = s.left + x * sw / dw, sy = s.top + y * sh / dh;
            const UInt16* px = &rgb48[(size_t(sy) * w + sx) * 3];
            const UInt8* o = &out[(size_t(y) * dw + x) * bpp];
            for (int c = 0; c < 3; ++c) {
              if (format == k48RGBPixelFormat) {
                UInt16 v;
                std::memcpy(&v, o + 2 * c, 2);
                ASSERT_EQ(v, px[c]) << dw << "x" << dh << " at " << x << "," << y;
              } else {
                ASSERT_EQ(o[1 + c], px[c] >> 8) << dw << "x" << dh << " at " << x << "," << y;
              }
            }
          }
        }
        EXPECT_EQ(out[size_t(dw) * dh * bpp], 0xEE);  // nothing past the picture
      }
    }
  }
  CloseComponent(gi);
  DisposeHandle(dataRef);
}
