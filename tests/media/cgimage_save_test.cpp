#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <png.h>
#include <tiffio.h>

#include "media/CGImageSave.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

std::string run(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  return out;
}

class SaveCGImage : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-cgsave-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  // An empty file and its reference, as the save dialog leaves them.
  FSRef existingFile(const char* name) {
    std::string path = (dir / name).string();
    std::ofstream(path).put('x');
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
  }
};

// 64 x 48 premultiplied ARGB, every pixel opaque, each sample different.
struct OpaqueImage {
  static constexpr size_t kWidth = 64, kHeight = 48;
  std::vector<UInt8> bytes = std::vector<UInt8>(kWidth * kHeight * 4);
  CGImageRef image = nullptr;
  static UInt8 red(size_t x, size_t y) { return UInt8(x * 4 + y); }
  static UInt8 green(size_t x, size_t y) { return UInt8(y * 5 + x * 3); }
  static UInt8 blue(size_t x, size_t y) { return UInt8(255 - x - y); }
  OpaqueImage() {
    for (size_t y = 0; y < kHeight; ++y)
      for (size_t x = 0; x < kWidth; ++x) {
        UInt8* p = &bytes[(y * kWidth + x) * 4];
        p[0] = 255;
        p[1] = red(x, y);
        p[2] = green(x, y);
        p[3] = blue(x, y);
      }
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, bytes.data(), bytes.size(), nullptr);
    image = CGImageCreate(kWidth, kHeight, 8, 32, kWidth * 4, space, kCGImageAlphaPremultipliedFirst, provider,
                          nullptr, false, kCGRenderingIntentDefault);
    CGDataProviderRelease(provider);
    CGColorSpaceRelease(space);
  }
  ~OpaqueImage() { CGImageRelease(image); }
};

// Reads a PNG with libpng as 8-bit RGBA.
std::vector<UInt8> readPNG(const std::string& path, UInt32* w, UInt32* h) {
  png_image im{};
  im.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&im, path.c_str())) return {};
  im.format = PNG_FORMAT_RGBA;
  std::vector<UInt8> out(PNG_IMAGE_SIZE(im));
  if (!png_image_finish_read(&im, nullptr, out.data(), 0, nullptr)) return {};
  *w = im.width;
  *h = im.height;
  return out;
}

// Reads a TIFF with libtiff as 8-bit RGBA, top row first.
std::vector<UInt8> readTIFF(const std::string& path, UInt32* w, UInt32* h) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return {};
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, h);
  std::vector<uint32_t> px(size_t(*w) * *h);
  std::vector<UInt8> out;
  if (TIFFReadRGBAImageOriented(t, *w, *h, px.data(), ORIENTATION_TOPLEFT, 0)) {
    for (uint32_t v : px) {
      out.push_back(UInt8(TIFFGetR(v)));
      out.push_back(UInt8(TIFFGetG(v)));
      out.push_back(UInt8(TIFFGetB(v)));
      out.push_back(UInt8(TIFFGetA(v)));
    }
  }
  TIFFClose(t);
  return out;
}

TEST_F(SaveCGImage, AnOpaqueImageReadsBackExactlyAsPNGAndTIFF) {
  OpaqueImage src;
  ASSERT_NE(src.image, nullptr);
  const long components = SkyloomLiveComponentCount();
  struct {
    OSType type;
    const char* name;
    std::vector<UInt8> (*read)(const std::string&, UInt32*, UInt32*);
    const char* checker;
  } formats[] = {{kQTFileTypePNG, "frame.png", readPNG, "pngcheck -v"}, {kQTFileTypeTIFF, "frame.tif", readTIFF, "tiffinfo"}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    FSRef ref = existingFile(f.name);
    ASSERT_EQ(mySaveCGImageRefToFileFSRef(ref, f.type, src.image), noErr);
    EXPECT_EQ(SkyloomLiveComponentCount(), components);
    const std::string path = (dir / f.name).string();
    UInt32 w = 0, h = 0;
    std::vector<UInt8> rgba = f.read(path, &w, &h);
    ASSERT_EQ(w, OpaqueImage::kWidth);
    ASSERT_EQ(h, OpaqueImage::kHeight);
    ASSERT_EQ(rgba.size(), size_t(w) * h * 4);
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x) {
        const UInt8* p = &rgba[(y * w + x) * 4];
        ASSERT_EQ(p[0], OpaqueImage::red(x, y)) << x << "," << y;
        ASSERT_EQ(p[1], OpaqueImage::green(x, y)) << x << "," << y;
        ASSERT_EQ(p[2], OpaqueImage::blue(x, y)) << x << "," << y;
        ASSERT_EQ(p[3], 255) << x << "," << y;
      }
    // The outside checkers come with the test command's packages.
    int status = -1;
    const std::string out = run(std::string(f.checker) + " '" + path + "'", &status);
    EXPECT_EQ(status, 0) << out;
    if (f.type == kQTFileTypePNG) {
      EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    }
    if (f.type == kQTFileTypeTIFF) {
      EXPECT_NE(out.find("Image Width: 64 Image Length: 48"), std::string::npos) << out;
      EXPECT_EQ(out.find("rror"), std::string::npos) << out;
    }
  }
}

TEST_F(SaveCGImage, ReturnsTheFirstFailingStatusAndLeavesNothingOpen) {
  OpaqueImage src;
  const long components = SkyloomLiveComponentCount();
  FSRef ref = existingFile("a.png");
  EXPECT_EQ(mySaveCGImageRefToFileFSRef(ref, FOUR_CHAR_CODE("GIFf"), src.image), invalidComponentID);
  EXPECT_EQ(mySaveCGImageRefToFileFSRef(ref, kQTFileTypePNG, nullptr), paramErr);
  FSRef invalid{};
  EXPECT_NE(mySaveCGImageRefToFileFSRef(invalid, kQTFileTypePNG, src.image), noErr);
  // The exporter's own failure comes back as it is.
  SkyloomSetGraphicsExportRecorder([](const GraphicsExportRecord& r) -> OSErr {
    EXPECT_EQ(r.subtype, kQTFileTypeTIFF);
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 48);
    return dskFulErr;
  });
  EXPECT_EQ(mySaveCGImageRefToFileFSRef(ref, kQTFileTypeTIFF, src.image), dskFulErr);
  SkyloomSetGraphicsExportRecorder(nullptr);
  EXPECT_EQ(SkyloomLiveComponentCount(), components);
}

}  // namespace
