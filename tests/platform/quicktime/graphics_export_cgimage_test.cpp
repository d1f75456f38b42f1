#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <png.h>

#include "platform/coregraphics/CGImage.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

class ExportCGImage : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-grex-cg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  CGImageRef image(const void* bytes, size_t size, size_t w, size_t h, size_t bpc, size_t bpp, bool grey,
                   CGBitmapInfo info) {
    CGColorSpaceRef space = grey ? CGColorSpaceCreateDeviceGray() : CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, bytes, size, nullptr);
    CGImageRef im = CGImageCreate(w, h, bpc, bpp, size / h, space, info, provider, nullptr, false,
                                  kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
    EXPECT_NE(im, nullptr);
    return im;
  }
  // Exports as PNG (depth 0: none set) and releases the image.
  std::string exportPNG(CGImageRef im, SInt32 depth, const char* name) {
    ComponentInstance ci = nullptr;
    EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypePNG, &ci), noErr);
    EXPECT_EQ(GraphicsExportSetInputCGImage(ci, im), noErr);
    CGImageRelease(im);  // the exporter keeps its own reference
    if (depth) {
      EXPECT_EQ(GraphicsExportSetDepth(ci, depth), noErr);
    }
    const std::string path = (dir / name).string();
    EXPECT_EQ(SkyloomGraphicsExportSetOutputPath(ci, path), noErr);
    EXPECT_EQ(GraphicsExportDoExport(ci, nullptr), noErr);
    EXPECT_EQ(CloseComponent(ci), noErr);
    return path;
  }
};

// The PNG's colour type, bit depth and samples as stored (16-bit samples big-endian).
struct PngFile {
  int colourType = -1, bitDepth = 0;
  std::vector<UInt8> row;
};
bool readFirstRow(FILE* f, PngFile* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  out->colourType = png_get_color_type(png, info);
  out->bitDepth = png_get_bit_depth(png, info);
  out->row.resize(png_get_rowbytes(png, info));
  png_read_row(png, out->row.data(), nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}
PngFile readFirstRow(const std::string& path) {
  PngFile out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  if (!readFirstRow(f, &out)) out = PngFile{};
  fclose(f);
  return out;
}

TEST_F(ExportCGImage, WritesTheImagesOwnChannelsUnlessADepthIsSet) {
  const long live = SkyloomCGImageLiveObjectCount();
  // Two pixels: opaque, then half-transparent premultiplied (64 -> 128).
  const UInt8 argb[] = {255, 10, 20, 30, 128, 64, 32, 0};
  const UInt16 grey16[] = {0x1234, 0xFEDC};
  struct {
    const char* what;
    CGImageRef im;
    SInt32 depth;
    int colourType, bitDepth;
    std::vector<UInt8> row;
  } cases[] = {
      {"alpha: RGBA, straight", image(argb, 8, 2, 1, 8, 32, false, kCGImageAlphaPremultipliedFirst), 0,
       PNG_COLOR_TYPE_RGBA, 8, {10, 20, 30, 255, 128, 64, 0, 128}},
      {"skipped byte: RGB", image(argb, 8, 2, 1, 8, 32, false, kCGImageAlphaNoneSkipFirst), 0, PNG_COLOR_TYPE_RGB,
       8, {10, 20, 30, 64, 32, 0}},
      {"depth 24 drops alpha", image(argb, 8, 2, 1, 8, 32, false, kCGImageAlphaFirst), 24, PNG_COLOR_TYPE_RGB, 8,
       {10, 20, 30, 64, 32, 0}},
      {"16-bit grey stays 16-bit grey", image(grey16, 4, 2, 1, 16, 16, true, kCGImageAlphaNone), 0,
       PNG_COLOR_TYPE_GRAY, 16, {0x12, 0x34, 0xFE, 0xDC}},
  };
  int n = 0;
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    PngFile png = readFirstRow(exportPNG(c.im, c.depth, ("c" + std::to_string(n++) + ".png").c_str()));
    EXPECT_EQ(png.colourType, c.colourType);
    EXPECT_EQ(png.bitDepth, c.bitDepth);
    EXPECT_EQ(png.row, c.row);
  }
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), live) << "the exporter lets go of its image when it closes";
}

TEST_F(ExportCGImage, TheLastInputSetIsTheOneExported) {
  const UInt8 argb[] = {255, 1, 2, 3};
  CGImageRef im = image(argb, 4, 1, 1, 8, 32, false, kCGImageAlphaNoneSkipFirst);
  ComponentInstance ci = nullptr;
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypePNG, &ci), noErr);
  EXPECT_EQ(GraphicsExportSetInputCGImage(ci, nullptr), paramErr);
  EXPECT_EQ(GraphicsExportSetInputCGImage(nullptr, im), badComponentInstance);
  EXPECT_EQ(GraphicsExportSetInputCGImage(ci, im), noErr);
  EXPECT_EQ(GraphicsExportSetInputCGImage(ci, im), noErr);  // again: still one reference kept
  GraphicsExportRecord seen{};
  SkyloomSetGraphicsExportRecorder([&](const GraphicsExportRecord& r) {
    seen = r;
    return OSErr(noErr);
  });
  SkyloomGraphicsExportSetOutputPath(ci, (dir / "one.png").string());
  EXPECT_EQ(GraphicsExportDoExport(ci, nullptr), noErr);
  SkyloomSetGraphicsExportRecorder(nullptr);
  EXPECT_EQ(seen.width, 1);
  EXPECT_EQ(seen.height, 1);
  EXPECT_EQ(seen.pixelFormat, OSType(k32ARGBPixelFormat));
  EXPECT_EQ(CloseComponent(ci), noErr);
  CGImageRelease(im);
}

}  // namespace
