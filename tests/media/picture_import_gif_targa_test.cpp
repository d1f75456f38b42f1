// GIF and Targa pictures into RGB48: 8-bit values widened by << 8. The GIF
// files are written with giflib's encoder, the Targa files byte by byte.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/PictureImport.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/GraphicsImport.h"
#include "platform/quicktime/PictureDecoders.h"
#include "tests/support/TestFiles.h"

namespace {

struct RGB {
  UInt8 r, g, b;
};

class GifTargaImport : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-gif-tga-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  // The picture as RGB48, or the import's error.
  OSErr Import(const std::string& name, std::vector<UInt16>* rgb, UInt32* w, UInt32* h) {
    FSRef ref{};
    const std::string path = dir_ + "/" + name;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    UInt32 rowBytes = 0;
    Ptr buffer = nullptr;
    const OSErr err = ImportFileIntoRGB48Ptr(ref, w, h, &rowBytes, &buffer);
    if (err == noErr) {
      EXPECT_EQ(rowBytes, *w * 6);
      const UInt16* p = reinterpret_cast<const UInt16*>(buffer);
      rgb->assign(p, p + size_t(*w) * *h * 3);
    }
    std::free(buffer);
    return err;
  }
  // Writes a GIF of indices (rows top to bottom) with the palette; interlaced
  // files get their rows in the four passes' order.
  void WriteGIF(const std::string& name, int w, int h, const std::vector<RGB>& palette,
                const std::vector<UInt8>& indices, bool interlace, int transparent) {
    int err = 0;
    GifFileType* gif = EGifOpenFileName((dir_ + "/" + name).c_str(), false, &err);
    ASSERT_NE(gif, nullptr);
    std::vector<GifColorType> colours(256, GifColorType{0, 0, 0});
    for (size_t i = 0; i < palette.size(); ++i) colours[i] = {palette[i].r, palette[i].g, palette[i].b};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifSetGifVersion(gif, true);
    ASSERT_EQ(EGifPutScreenDesc(gif, w, h, 8, 0, map), GIF_OK);
    if (transparent >= 0) {
      const GifByteType gce[4] = {1, 0, 0, GifByteType(transparent)};
      ASSERT_EQ(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, gce), GIF_OK);
    }
    ASSERT_EQ(EGifPutImageDesc(gif, 0, 0, w, h, interlace, nullptr), GIF_OK);
    std::vector<int> order;
    if (interlace) {
      for (int y = 0; y < h; y += 8) order.push_back(y);
      for (int y = 4; y < h; y += 8) order.push_back(y);
      for (int y = 2; y < h; y += 4) order.push_back(y);
      for (int y = 1; y < h; y += 2) order.push_back(y);
    } else {
      for (int y = 0; y < h; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::vector<GifPixelType> row(indices.begin() + y * w, indices.begin() + (y + 1) * w);
      ASSERT_EQ(EGifPutLine(gif, row.data(), w), GIF_OK);
    }
    ASSERT_EQ(EGifCloseFile(gif, &err), GIF_OK);
    GifFreeMapObject(map);
  }
  std::string dir_;
};

TEST_F(GifTargaImport, GifPaletteInterlaceAndTransparency) {
  const std::vector<RGB> palette = {{255, 0, 0}, {0, 128, 255}, {10, 20, 30}, {200, 201, 202}};
  for (bool interlace : {false, true}) {
    for (int transparent : {-1, 2}) {
      SCOPED_TRACE(std::to_string(interlace) + " " + std::to_string(transparent));
      const int w = 5, h = 11;
      std::vector<UInt8> idx(size_t(w) * h);
      for (size_t i = 0; i < idx.size(); ++i) idx[i] = UInt8((i * 7 + i / w) % 4);
      WriteGIF("p.gif", w, h, palette, idx, interlace, transparent);
      std::vector<UInt16> rgb;
      UInt32 gw = 0, gh = 0;
      ASSERT_EQ(Import("p.gif", &rgb, &gw, &gh), noErr);
      ASSERT_EQ(gw, UInt32(w));
      ASSERT_EQ(gh, UInt32(h));
      for (size_t i = 0; i < idx.size(); ++i) {
        const RGB c = int(idx[i]) == transparent ? RGB{0, 0, 0} : palette[idx[i]];
        ASSERT_EQ(rgb[i * 3], c.r << 8) << i;
        ASSERT_EQ(rgb[i * 3 + 1], c.g << 8) << i;
        ASSERT_EQ(rgb[i * 3 + 2], c.b << 8) << i;
      }
      SkyloomRaster raster;
      const std::vector<UInt8> bytes = skyloom::test::ReadFile(dir_ + "/p.gif");
      ASSERT_EQ(SkyloomDecodeGIF(bytes.data(), bytes.size(), &raster), noErr);
      EXPECT_EQ(raster.channels, transparent >= 0 ? 4 : 3);
      if (transparent >= 0) {
        for (size_t i = 0; i < idx.size(); ++i) ASSERT_EQ(raster.samples[i * 4 + 3], idx[i] == 2 ? 0 : 255) << i;
      }
      // Cut short: damaged, never a partial picture.
      EXPECT_EQ(SkyloomDecodeGIF(bytes.data(), bytes.size() - 6, &raster), codecBadDataErr);
      EXPECT_TRUE(raster.samples.empty());
    }
  }
}

// A Targa file: 18-byte header, pixels as given.
std::vector<UInt8> Targa(UInt8 type, UInt8 depth, UInt16 w, UInt16 h, UInt8 descriptor,
                         const std::vector<UInt8>& body, const std::vector<UInt8>& map = {}, UInt8 mapBits = 0) {
  const UInt16 mapLength = mapBits ? UInt16(map.size() / (mapBits / 8)) : 0;
  std::vector<UInt8> f = {0,
                          UInt8(map.empty() ? 0 : 1),
                          type,
                          0,
                          0,
                          UInt8(mapLength),
                          UInt8(mapLength >> 8),
                          mapBits,
                          0,
                          0,
                          0,
                          0,
                          UInt8(w),
                          UInt8(w >> 8),
                          UInt8(h),
                          UInt8(h >> 8),
                          depth,
                          descriptor};
  f.insert(f.end(), map.begin(), map.end());
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

TEST_F(GifTargaImport, TargaKinds) {
  // 3 x 2 pixels, expected RGB rows top to bottom.
  const std::vector<RGB> want = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {250, 251, 252}, {0, 0, 0}, {128, 64, 32}};
  auto bgr = [&](int i, bool alpha) {
    std::vector<UInt8> px = {want[i].b, want[i].g, want[i].r};
    if (alpha) px.push_back(UInt8(40 * i));
    return px;
  };
  auto rows = [&](bool bottomUp, bool alpha) {
    std::vector<UInt8> body;
    for (int r = 0; r < 2; ++r) {
      const int y = bottomUp ? 1 - r : r;
      for (int x = 0; x < 3; ++x) {
        auto px = bgr(y * 3 + x, alpha);
        body.insert(body.end(), px.begin(), px.end());
      }
    }
    return body;
  };
  struct Case {
    const char* name;
    std::vector<UInt8> file;
  };
  // RLE, top-down, 32-bit: a raw packet of 4 pixels crossing the row, then a
  // run of 2 equal pixels is not possible with distinct pixels, so the last two
  // come as two runs of one.
  std::vector<UInt8> rle;
  rle.push_back(0x03);
  for (int i = 0; i < 4; ++i) {
    auto px = bgr(i, true);
    rle.insert(rle.end(), px.begin(), px.end());
  }
  for (int i = 4; i < 6; ++i) {
    rle.push_back(0x80);
    auto px = bgr(i, true);
    rle.insert(rle.end(), px.begin(), px.end());
  }
  std::vector<UInt8> map, indices;
  for (int i = 5; i >= 0; --i) {  // the map in reverse order
    auto px = bgr(i, false);
    map.insert(map.end(), px.begin(), px.end());
  }
  for (int i = 0; i < 6; ++i) indices.push_back(UInt8(5 - i));
  const std::vector<Case> cases = {
      {"plain 24-bit, bottom-up", Targa(2, 24, 3, 2, 0x00, rows(true, false))},
      {"plain 32-bit, top-down", Targa(2, 32, 3, 2, 0x28, rows(false, true))},
      {"RLE 32-bit, top-down", Targa(10, 32, 3, 2, 0x28, rle)},
      {"colour-mapped, top-down", Targa(1, 8, 3, 2, 0x20, indices, map, 24)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    skyloom::test::WriteFile(dir_ + "/p.tga", c.file);
    std::vector<UInt16> rgb;
    UInt32 w = 0, h = 0;
    ASSERT_EQ(Import("p.tga", &rgb, &w, &h), noErr);
    ASSERT_EQ(w, 3u);
    ASSERT_EQ(h, 2u);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(rgb[i * 3], want[i].r << 8) << i;
      EXPECT_EQ(rgb[i * 3 + 1], want[i].g << 8) << i;
      EXPECT_EQ(rgb[i * 3 + 2], want[i].b << 8) << i;
    }
  }
  // A run-length packet past the last pixel, a short body and a 16-bit file.
  SkyloomRaster raster;
  std::vector<UInt8> over = Targa(10, 24, 3, 2, 0x20, {0x86, 1, 2, 3});
  EXPECT_EQ(SkyloomDecodeTarga(over.data(), over.size(), &raster), codecBadDataErr);
  std::vector<UInt8> shortBody = Targa(2, 24, 3, 2, 0x20, {1, 2, 3, 4, 5});
  EXPECT_EQ(SkyloomDecodeTarga(shortBody.data(), shortBody.size(), &raster), codecBadDataErr);
  EXPECT_TRUE(raster.samples.empty());
  std::vector<UInt8> sixteen = Targa(2, 16, 1, 1, 0x20, {0, 0});
  EXPECT_EQ(SkyloomDecodeTarga(sixteen.data(), sixteen.size(), &raster), noCodecErr);
}

TEST_F(GifTargaImport, QuickTimeImageFilesHaveNoReader) {
  // An 'idsc' atom wrapping a codec's sample description, then 'idat'.
  std::vector<UInt8> qtif = {0, 0, 0, 0x56, 'i', 'd', 's', 'c'};
  qtif.resize(0x56, 0);
  const std::vector<UInt8> idat = {0, 0, 0, 12, 'i', 'd', 'a', 't', 1, 2, 3, 4};
  qtif.insert(qtif.end(), idat.begin(), idat.end());
  skyloom::test::WriteFile(dir_ + "/picture.qtif", qtif);
  std::vector<UInt16> rgb;
  UInt32 w = 0, h = 0;
  EXPECT_EQ(Import("picture.qtif", &rgb, &w, &h), noCodecErr);
}

}  // namespace
