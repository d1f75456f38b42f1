#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <tiffio.h>

#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"
#include "platform/quicktime/GraphicsImport.h"

namespace {



class GraphicsExport : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-grex-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    SkyloomSetGraphicsExportRecorder(nullptr);
    std::filesystem::remove_all(dir);
  }
  // Exports the picture; returns the file's path.
  std::string exportPicture(GWorldPtr gw, OSType type, SInt32 depth, UInt32 quality, SInt32 method, const char* name) {
    ComponentInstance ci = nullptr;
    EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, type, &ci), noErr);
    EXPECT_EQ(GraphicsExportSetInputGWorld(ci, gw), noErr);
    EXPECT_EQ(GraphicsExportSetDepth(ci, depth), noErr);
    GraphicsExportSetCompressionQuality(ci, quality);
    if (method) GraphicsExportSetCompressionMethod(ci, method);
    std::string path = (dir / name).string();
    EXPECT_EQ(SkyloomGraphicsExportSetOutputPath(ci, path), noErr);
    UInt32 written = 0;
    EXPECT_EQ(GraphicsExportDoExport(ci, &written), noErr);
    EXPECT_GT(written, 0u);
    EXPECT_EQ(CloseComponent(ci), noErr);
    return path;
  }
};

}  // namespace

TEST_F(GraphicsExport, SixteenBitTIFFKeepsEverySample) {
  const int w = 3, h = 2;
  std::vector<UInt16> rgb(w * h * 3), grey(w * h);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = UInt16(i * 5000 + 123);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = UInt16(65535 - i * 9000);
  Rect b{0, 0, h, w};
  GWorldPtr g48 = nullptr, g16 = nullptr;
  ASSERT_EQ(NewGWorldFromPtr(&g48, k48RGBPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(rgb.data()), w * 6), noErr);
  ASSERT_EQ(NewGWorldFromPtr(&g16, k16GrayPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(grey.data()), w * 2), noErr);
  auto p48 = exportPicture(g48, kQTFileTypeTIFF, 24, 1024, kQTTIFFCompression_PackBits, "rgb48.tif");
  auto p16 = exportPicture(g16, kQTFileTypeTIFF, 40, 1024, kQTTIFFCompression_PackBits, "grey16.tif");
  struct Want { std::string path; int spp; const std::vector<UInt16>* samples; };
  for (const Want& want : {Want{p48, 3, &rgb}, Want{p16, 1, &grey}}) {
    TIFF* t = TIFFOpen(want.path.c_str(), "r");
    ASSERT_NE(t, nullptr);
    UInt16 bits = 0, spp = 0, comp = 0, photo = 0;
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(spp, want.spp);
    EXPECT_EQ(comp, COMPRESSION_PACKBITS);
    EXPECT_EQ(photo, want.spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    std::vector<UInt16> row(w * want.spp);
    for (int y = 0; y < h; ++y) {
      ASSERT_EQ(TIFFReadScanline(t, row.data(), UInt32(y), 0), 1);
      for (int i = 0; i < w * want.spp; ++i) EXPECT_EQ(row[i], (*want.samples)[y * w * want.spp + i]);
    }
    TIFFClose(t);
  }
  EXPECT_TRUE(skyloom::test::ToolInstalled("tiffinfo"));
  std::string info = skyloom::test::Run("tiffinfo " + p48);
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos);
  EXPECT_NE(info.find("PackBits"), std::string::npos);
  EXPECT_NE(info.find("RGB color"), std::string::npos);
  DisposeGWorld(g48);
  DisposeGWorld(g16);
}

TEST_F(GraphicsExport, EveryFormatReadsBackInStandardTools) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("identify"));
  ASSERT_TRUE(skyloom::test::ToolInstalled("convert"));
  ASSERT_TRUE(skyloom::test::ToolInstalled("pngcheck"));
  const int w = 37, h = 11;  // odd sizes exercise row padding
  GWorldPtr g = nullptr;
  Rect b{0, 0, h, w};
  ASSERT_EQ(NewGWorld(&g, 32, &b, nullptr, nullptr, 0), noErr);
  PixMapHandle pm = GetGWorldPixMap(g);
  ASSERT_TRUE(LockPixels(pm));
  for (int y = 0; y < h; ++y) {
    UInt8* row = reinterpret_cast<UInt8*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm);
    for (int x = 0; x < w; ++x) {
      row[4 * x] = 0xFF;
      row[4 * x + 1] = UInt8(x * 7);
      row[4 * x + 2] = UInt8(y * 20);
      row[4 * x + 3] = UInt8((x < 20) ? 200 : 50);  // runs for PackBits
    }
  }
  UnlockPixels(pm);
  struct Case { OSType type; SInt32 depth; const char* name; const char* format; };
  const Case cases[] = {
      {kQTFileTypeTIFF, 24, "a.tif", "TIFF"},   {kQTFileTypePNG, 32, "a.png", "PNG"},
      {kQTFileTypePNG, 40, "g.png", "PNG"},     {kQTFileTypeJPEG, 32, "a.jpg", "JPEG"},
      {kQTFileTypeBMP, 24, "a.bmp", "BMP"},     {kQTFileTypeBMP, 32, "a32.bmp", "BMP"},
      {kQTFileTypePhotoShop, 32, "a.psd", "PSD"}, {kQTFileTypePhotoShop, 40, "g.psd", "PSD"},
      {kQTFileTypePicture, 32, "a.pict", "PICT"},
  };
  for (const Case& c : cases) {
    auto path = exportPicture(g, c.type, c.depth, 512, 0, c.name);
    std::string out = skyloom::test::Run(std::string("identify -format '%m %w %h %[bit-depth]' ") + c.format + ":" + path);
    // A BMP with the 40-byte info header is what ImageMagick calls BMP3.
    std::string magick = std::string(c.format) == "BMP" ? "BMP3" : c.format;
    EXPECT_EQ(out, magick + " 37 11 8") << c.name;
  }
  // The pixels survive the lossless formats: compare with ImageMagick's reading.
  for (const char* name : {"a.tif", "a.png", "a.bmp", "a.psd", "a.pict"}) {
    std::string fmt = std::string(name).substr(std::string(name).find('.') + 1);
    std::string rgb = skyloom::test::Run("convert " + (dir / name).string() + " -depth 8 rgb:-");
    ASSERT_EQ(rgb.size(), size_t(w * h * 3)) << name << rgb.substr(0, 200);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y * w + x) * 3;
        ASSERT_EQ(UInt8(rgb[i]), UInt8(x * 7)) << name << " " << x << "," << y;
        ASSERT_EQ(UInt8(rgb[i + 1]), UInt8(y * 20)) << name;
        ASSERT_EQ(UInt8(rgb[i + 2]), x < 20 ? 200 : 50) << name;
      }
  }
  int status = -1;
  std::string out = skyloom::test::Run("pngcheck " + (dir / "a.png").string() + " " + (dir / "g.png").string(), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  DisposeGWorld(g);
}

TEST_F(GraphicsExport, RecorderSeesTheSettingsAndCanRefuse) {
  std::vector<GraphicsExportRecord> seen;
  SkyloomSetGraphicsExportRecorder([&](const GraphicsExportRecord& r) {
    seen.push_back(r);
    return OSErr(r.subtype == kQTFileTypeJPEG ? ioErr : noErr);
  });
  GWorldPtr g = nullptr;
  Rect b{0, 0, 4, 6};
  ASSERT_EQ(NewGWorld(&g, 32, &b, nullptr, nullptr, 0), noErr);
  exportPicture(g, kQTFileTypePNG, 40, 512, 0, "r.png");
  ComponentInstance ci;
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ci), noErr);
  GraphicsExportSetInputGWorld(ci, g);
  SkyloomGraphicsExportSetOutputPath(ci, (dir / "r.jpg").string());
  EXPECT_EQ(GraphicsExportDoExport(ci, nullptr), ioErr);
  CloseComponent(ci);
  EXPECT_FALSE(std::filesystem::exists(dir / "r.jpg"));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].subtype, kQTFileTypePNG);
  EXPECT_EQ(seen[0].depth, 40);
  EXPECT_EQ(seen[0].quality, 512u);
  EXPECT_EQ(seen[0].pixelFormat, k32ARGBPixelFormat);
  EXPECT_EQ(seen[0].width, 6);
  EXPECT_EQ(seen[0].height, 4);
  DisposeGWorld(g);
  EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, FOUR_CHAR_CODE("GIFf"), &ci), invalidComponentID);
  EXPECT_EQ(SkyloomLiveComponentCount(), 0);
  EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
}

// PICT rows are PackBits-compressed with a one- or two-byte count, and very
// narrow rows are stored unpacked; readers choose by the row width. Every
// width from 1 to 80 (the thresholds lie at a few pixels and around 50 to 70)
// must read back the same pixels in our importer and in ImageMagick.
TEST_F(GraphicsExport, PictRowsReadBackAtEveryWidth) {
  const int h = 3;
  UInt32 seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return UInt8(seed >> 16);
  };
  std::vector<std::vector<UInt8>> want(81);
  std::vector<int> oursFailed, magickFailed;
  for (int w = 1; w <= 80; ++w) {
    // Row 0 noise (literal runs), row 1 long runs of one colour (repeat
    // runs), row 2 a mix of both.
    std::vector<UInt8> argb(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        UInt8* p = &argb[(size_t(y) * w + x) * 4];
        p[0] = 0xFF;
        for (int c = 1; c < 4; ++c) {
          const UInt8 noise = next();
          p[c] = y == 0 ? noise : y == 1 ? UInt8(x / 5 * 40 + c) : (x % 7 < 3 ? UInt8(c * 60) : noise);
        }
      }
    Rect b{0, 0, SInt16(h), SInt16(w)};
    GWorldPtr g = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&g, k32ARGBPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(argb.data()), w * 4),
              noErr);
    const std::string name = "w" + std::to_string(w) + ".pict";
    const std::string path = exportPicture(g, kQTFileTypePicture, 32, 1024, 0, name.c_str());
    DisposeGWorld(g);
    for (size_t i = 0; i < size_t(w) * h; ++i)
      for (int c = 0; c < 3; ++c) want[w].push_back(argb[4 * i + 1 + c]);

    const std::vector<uint8_t> file = skyloom::test::ReadFile(path);
    SkyloomRaster r;
    OSType type = 0;
    std::vector<UInt8> ours;
    if (SkyloomDecodePicture(file.data(), file.size(), &type, &r) == noErr && r.channels == 3)
      for (UInt16 v : r.samples) ours.push_back(UInt8(v));
    if (ours != want[w]) oursFailed.push_back(w);
  }
  // ImageMagick's reading of every file, three at a time.
  const std::string command = "cd " + dir.string() +
                              " && ls w*.pict | xargs -P 3 -I{} convert pict:{} -depth 8 rgb:{}.rgb";
  EXPECT_EQ(std::system(command.c_str()), 0) << command << " (scripts/deps installs ImageMagick)";
  for (int w = 1; w <= 80; ++w) {
    const std::vector<uint8_t> magick = skyloom::test::ReadFile((dir / ("w" + std::to_string(w) + ".pict.rgb")).string());
    if (magick != want[w]) magickFailed.push_back(w);
  }
  auto list = [](const std::vector<int>& v) {
    std::string s;
    for (int w : v) s += std::to_string(w) + " ";
    return s;
  };
  EXPECT_TRUE(oursFailed.empty()) << "our importer misreads widths " << list(oursFailed);
  EXPECT_TRUE(magickFailed.empty()) << "ImageMagick misreads widths " << list(magickFailed);

  // Row bytes are a 14-bit field: 4095 pixels of four components fit, 4096
  // would wrap to 0 (read as unpacked rows) and are refused.
  for (int w : {4095, 4096}) {
    std::vector<UInt8> argb(size_t(w) * 4);
    for (int x = 0; x < w; ++x) argb[4 * size_t(x) + 1] = UInt8(x / 300);
    Rect b{0, 0, 1, SInt16(w)};
    GWorldPtr g = nullptr;
    ASSERT_EQ(NewGWorldFromPtr(&g, k32ARGBPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(argb.data()), w * 4),
              noErr);
    ComponentInstance ci = nullptr;
    ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypePicture, &ci), noErr);
    GraphicsExportSetInputGWorld(ci, g);
    GraphicsExportSetDepth(ci, 32);
    const std::string path = (dir / ("wide" + std::to_string(w) + ".pict")).string();
    SkyloomGraphicsExportSetOutputPath(ci, path);
    const OSErr err = OSErr(GraphicsExportDoExport(ci, nullptr));
    CloseComponent(ci);
    DisposeGWorld(g);
    if (w == 4096) {
      EXPECT_EQ(err, paramErr);
      EXPECT_FALSE(std::filesystem::exists(path));
      continue;
    }
    ASSERT_EQ(err, noErr);
    const std::vector<uint8_t> file = skyloom::test::ReadFile(path);
    SkyloomRaster r;
    OSType type = 0;
    ASSERT_EQ(SkyloomDecodePicture(file.data(), file.size(), &type, &r), noErr);
    ASSERT_EQ(r.width, w);
    for (int x = 0; x < w; x += 97) EXPECT_EQ(r.samples[3 * size_t(x)], x / 300) << x;
  }
}
