#include <gtest/gtest.h>

#include "tests/support/TestTIFF.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <tiffio.h>

#include "media/RGB48Files.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {
class RGB48Files : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::vector<GraphicsExportRecord> seen;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-rgb48-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
    SkyloomSetGraphicsExportRecorder([this](const GraphicsExportRecord& r) {
      seen.push_back(r);
      return OSErr(noErr);
    });
  }
  void TearDown() override {
    SkyloomSetGraphicsExportRecorder(nullptr);
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(SkyloomLiveComponentCount(), 0);
    EXPECT_EQ(SkyloomLiveGWorldCount(), 0);
  }
  FSRef touch(const char* name) {
    std::string path = (dir / name).string();
    { std::ofstream(path) << ""; }
    FSRef ref;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    return ref;
  }
  static std::vector<UInt16> readTIFF(const std::string& path, UInt32* w, UInt32* h, UInt16* spp, UInt16* comp) {
    UInt16 bits = 0;
    auto samples = skyloom::test::ReadTIFF16(path, w, h, spp, comp, &bits);
    EXPECT_EQ(bits, 16);
    return samples;
  }

};
}  // namespace

TEST_F(RGB48Files, TIFFKeepsSixteenBitsWithPackBits) {
  const UInt16 rgb[12] = {0, 1, 2, 0x1234, 0x5678, 0x9ABC, 0xFFFF, 0x8000, 0x7FFF, 10, 20, 30};
  ASSERT_EQ(myRGB48ToFileFSRef(touch("c.tif"), kQTFileTypeTIFF, rgb, 2, 2, 1), noErr);
  UInt32 w = 0, h = 0;
  UInt16 spp = 0, comp = 0;
  EXPECT_EQ(readTIFF((dir / "c.tif").string(), &w, &h, &spp, &comp), std::vector<UInt16>(rgb, rgb + 12));
  EXPECT_EQ(spp, 3);
  EXPECT_EQ(comp, COMPRESSION_PACKBITS);
  const UInt16 grey[4] = {7, 0xFFFF, 0x8001, 0};
  ASSERT_EQ(myRGB48ToFileFSRef(touch("g.tif"), kQTFileTypeTIFF, grey, 2, 2, 0), noErr);
  EXPECT_EQ(readTIFF((dir / "g.tif").string(), &w, &h, &spp, &comp), std::vector<UInt16>(grey, grey + 4));
  EXPECT_EQ(spp, 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].pixelFormat, k48RGBPixelFormat);
  EXPECT_EQ(seen[0].depth, 24);
  EXPECT_EQ(seen[0].compressionMethod, kQTTIFFCompression_PackBits);
  EXPECT_EQ(seen[1].pixelFormat, k16GrayPixelFormat);
  EXPECT_EQ(seen[1].depth, 40);
}

TEST_F(RGB48Files, PNGSetsNoCompressionAndLocationsWork) {
  const UInt16 rgb[3] = {1, 2, 3};
  FSRef folder;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &folder, nullptr), noErr);
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  FSSpec location{};
  const unsigned char name[] = "\x05p.png";
  FSMakeFSSpec(info.volume, SInt32(info.nodeID), name, &location);
  ASSERT_EQ(myRGB48ToFileFSSpec(location, kQTFileTypePNG, rgb, 1, 1, 1), noErr);
  EXPECT_TRUE(std::filesystem::exists(dir / "p.png"));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].compressionMethod, 0);
}

TEST_F(RGB48Files, CropWritesTheRectangle) {
  const UInt32 bw = 640, bh = 100;
  std::vector<UInt16> buf(size_t(bw) * bh * 3);
  for (UInt32 y = 0; y < bh; ++y)
    for (UInt32 x = 0; x < bw; ++x) {
      UInt16* p = &buf[(size_t(y) * bw + x) * 3];
      p[0] = UInt16(x);
      p[1] = UInt16(y);
      p[2] = UInt16(x * y);
    }
  ASSERT_EQ(myRGB48CroppedToFileFSRef(touch("crop.tif"), kQTFileTypeTIFF, buf.data(), bw, bh, 10, 20, 110, 70, 1), noErr);
  UInt32 w = 0, h = 0;
  UInt16 spp = 0, comp = 0;
  auto px = readTIFF((dir / "crop.tif").string(), &w, &h, &spp, &comp);
  EXPECT_EQ(w, 100u);
  EXPECT_EQ(h, 50u);
  ASSERT_EQ(px.size(), 100u * 50 * 3);
  EXPECT_EQ(px[0], 10);
  EXPECT_EQ(px[1], 20);
  EXPECT_EQ(px[(49 * 100 + 99) * 3], 109);
  EXPECT_EQ(px[(49 * 100 + 99) * 3 + 1], 69);
  EXPECT_EQ(myRGB48CroppedToFileFSRef(touch("bad.tif"), kQTFileTypeTIFF, buf.data(), bw, bh, 600, 0, 700, 10, 1), paramErr);
}

// The rectangle must lie inside the buffer on every side. The buffer is
// allocated to its exact size, so a read past its last row shows under ASan.
TEST_F(RGB48Files, CropOutsideTheBufferIsRefusedAndWritesNothing) {
  const UInt32 bw = 7, bh = 5;
  std::vector<UInt16> buf(size_t(bw) * bh * 3);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = UInt16(i * 257 + 1);
  const struct { UInt32 left, top, right, bottom; } refused[] = {
      {0, 0, bw, bh + 1},     // bottom edge one row below the buffer
      {2, 3, 5, 40},          // far below
      {0, bh, bw, bh + 2},    // wholly below
      {0, 0, bw + 1, bh},     // right edge past the buffer
      {3, 1, 3, 4},           // empty
      {1, 4, 6, 4},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(myRGB48CroppedToFileFSRef(touch("out.tif"), kQTFileTypeTIFF, buf.data(), bw, bh, r.left, r.top, r.right,
                                        r.bottom, 1),
              paramErr)
        << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    EXPECT_EQ(std::filesystem::file_size(dir / "out.tif"), 0u);
  }
  EXPECT_TRUE(seen.empty());
  // The largest rectangle, ending on the buffer's last pixel, is written whole.
  ASSERT_EQ(myRGB48CroppedToFileFSRef(touch("edge.tif"), kQTFileTypeTIFF, buf.data(), bw, bh, 4, 2, bw, bh, 1), noErr);
  UInt32 w = 0, h = 0;
  UInt16 spp = 0, comp = 0;
  auto px = readTIFF((dir / "edge.tif").string(), &w, &h, &spp, &comp);
  EXPECT_EQ(w, 3u);
  EXPECT_EQ(h, 3u);
  ASSERT_EQ(px.size(), 27u);
  EXPECT_EQ(px.back(), buf.back());
  EXPECT_EQ(px[0], buf[(2 * bw + 4) * 3]);
}

// Pictures have 16-bit bounds: a buffer of 65538 x 1 must not become a
// 2-pixel-wide file. Every writer refuses above 32767 and leaves no file.
TEST_F(RGB48Files, BuffersAbovePictureSizeAreRefused) {
  std::vector<UInt16> wide(size_t(65538) * 3, 0x1234);
  std::vector<UInt16> tall(size_t(32768) * 3, 0x4321);
  FSRef folder;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.c_str()), &folder, nullptr), noErr);
  FSCatalogInfo info{};
  ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr, nullptr), noErr);
  FSSpec location{};
  FSMakeFSSpec(info.volume, SInt32(info.nodeID), reinterpret_cast<const unsigned char*>("\x06" "big.tf"), &location);
  const struct { const UInt16* data; UInt32 w, h; Boolean is48Bit; } sizes[] = {
      {wide.data(), 65538, 1, 1}, {wide.data(), 32768, 1, 1}, {tall.data(), 1, 32768, 1}, {wide.data(), 65538, 1, 0},
      {tall.data(), 2, 32768, 0}};
  for (const auto& s : sizes) {
    EXPECT_EQ(myRGB48ToFileFSSpec(location, kQTFileTypeTIFF, s.data, s.w, s.h, s.is48Bit), paramErr) << s.w << "x" << s.h;
    EXPECT_FALSE(std::filesystem::exists(dir / "big.tf"));
    EXPECT_EQ(myRGB48ToFileFSRef(touch("big.tif"), kQTFileTypeTIFF, s.data, s.w, s.h, s.is48Bit), paramErr);
    EXPECT_EQ(myRGB48CroppedToFileFSRef(touch("big.tif"), kQTFileTypeTIFF, s.data, s.w, s.h, 0, 0, 1, 1, s.is48Bit),
              paramErr);
    EXPECT_EQ(std::filesystem::file_size(dir / "big.tif"), 0u);
  }
  EXPECT_TRUE(seen.empty());
  // The limit itself is a picture.
  ASSERT_EQ(myRGB48ToFileFSRef(touch("edge.tif"), kQTFileTypeTIFF, wide.data(), 32767, 1, 1), noErr);
  UInt32 w = 0, h = 0;
  UInt16 spp = 0, comp = 0;
  EXPECT_EQ(readTIFF((dir / "edge.tif").string(), &w, &h, &spp, &comp).size(), size_t(32767) * 3);
  EXPECT_EQ(w, 32767u);
}
