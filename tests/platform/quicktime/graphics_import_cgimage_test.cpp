// A picture file through a graphics importer into a CoreGraphics image.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsImport.h"

namespace {

// A 3 x 2 Targa, 32 bits with alpha, rows from the top; pixel (x, y) has
// red 10x + 1, green 20y + 2, blue 100 + x + y and alpha 40x + 100y + 50.
std::vector<UInt8> SmallTarga() {
  std::vector<UInt8> f = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 32, 0x28};
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++)
      f.insert(f.end(), {UInt8(100 + x + y), UInt8(20 * y + 2), UInt8(10 * x + 1), UInt8(40 * x + 100 * y + 50)});
  return f;
}

TEST(GraphicsImportCGImage, GivesTheSourceRectangleWithStraightAlpha) {
  char tmpl[] = "/tmp/skyloom-gicg-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string path = std::string(tmpl) + "/small.tga";
  const std::vector<UInt8> bytes = SmallTarga();
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);

  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  ASSERT_EQ(QTNewDataReferenceFromFSRef(&ref, 0, &dataRef, &dataRefType), noErr);
  GraphicsImportComponent gi = nullptr;
  ASSERT_EQ(GetGraphicsImporterForDataRef(dataRef, dataRefType, &gi), noErr);
  const long before = SkyloomCGImageLiveObjectCount();

  CGImageRef image = nullptr;
  ASSERT_EQ(GraphicsImportCreateCGImage(gi, &image, 0), noErr);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(CGImageGetWidth(image), 3u);
  EXPECT_EQ(CGImageGetHeight(image), 2u);
  EXPECT_EQ(CGImageGetAlphaInfo(image), kCGImageAlphaFirst);
  for (int y = 0; y < 2; y++)
    for (int x = 0; x < 3; x++) {
      UInt16 rgba[4];
      ASSERT_TRUE(SkyloomCGImagePixel(image, x, y, rgba));
      EXPECT_EQ(rgba[0], 10 * x + 1) << x << "," << y;
      EXPECT_EQ(rgba[1], 20 * y + 2);
      EXPECT_EQ(rgba[2], 100 + x + y);
      EXPECT_EQ(rgba[3], 40 * x + 100 * y + 50);
    }
  CGImageRelease(image);

  // Only the source rectangle: the right two pixels of the bottom row.
  const Rect source{1, 1, 2, 3};
  ASSERT_EQ(GraphicsImportSetSourceRect(gi, &source), noErr);
  ASSERT_EQ(GraphicsImportCreateCGImage(gi, &image, 0), noErr);
  EXPECT_EQ(CGImageGetWidth(image), 2u);
  EXPECT_EQ(CGImageGetHeight(image), 1u);
  UInt16 rgba[4];
  ASSERT_TRUE(SkyloomCGImagePixel(image, 1, 0, rgba));
  EXPECT_EQ(rgba[0], 21);
  EXPECT_EQ(rgba[3], 230);
  CGImageRelease(image);
  EXPECT_EQ(SkyloomCGImageLiveObjectCount(), before);  // the pixels went with the image

  EXPECT_EQ(GraphicsImportCreateCGImage(gi, nullptr, 0), paramErr);
  CloseComponent(gi);
  DisposeHandle(dataRef);
  std::filesystem::remove_all(tmpl);
}

}  // namespace
