#include <gtest/gtest.h>

#include <vector>

#include "tests/support/UiFixture.h"
#include "utilities/ImageViews.h"

namespace {

// ---------------------------------------------------------------- window fitting

// The window's content is 700 x 500 with a 600 x 400 image view; the second
// window is 800 x 1000 with a 700 x 900 view. The screen's available bounds
// are 1920 x 1178 starting at (100, 22).
const char* kWindows =
    "window \"Fit\" class=document bounds=100,100,600,800\n"
    "  control 'SCUM' 0 view bounds=20,20,420,620\n"
    "end\n"
    "window \"Tall\" class=document bounds=0,0,1000,800\n"
    "  control 'SCUM' 0 view bounds=50,50,950,750\n"
    "end\n";

constexpr OSType kView = FOUR_CHAR_CODE("SCUM");

class WindowFitting : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    skyloom::ui::SetScreenBounds(Rect{0, 0, 1200, 2020}, Rect{22, 100, 1200, 2020});
    WriteNib("Test", kWindows);
  }
  void TearDown() override {
    skyloom::ui::SetScreenBounds(Rect{0, 0, 1200, 1920}, Rect{22, 0, 1200, 1920});
    UiTest::TearDown();
  }
};

struct FitCase {
  const char* what;
  const char* window;
  UInt32 imageWidth, imageHeight;
  SInt32 result;
  UInt32 width, height, left, top;  // when result is 1
};

TEST_F(WindowFitting, SizesAndPlacesTheWindowForTheImage) {
  // Worked by hand. "Fit": a = trunc(1178 / 500 x 400) = 942 and
  // b = trunc(1920 / 700 x 600) = 1645. "Tall": a = trunc(1178 / 1000 x 900)
  // = 1060. Usable height 1178 - 48 = 1130; top 22 + 24 = 46.
  const FitCase cases[] = {
      {"image smaller than the view", "Fit", 320, 240, 0, 0, 0, 0, 0},
      {"image as large as the view", "Fit", 600, 400, 0, 0, 0, 0, 0},
      {"image larger than the screen both ways", "Fit", 4000, 3000, 1, 1920, 1130, 100, 46},
      {"width >= b: the screen's width; view taller than the image: H", "Fit", 2000, 300, 1, 1920, 500, 100, 46},
      {"view narrower and image below b: W grows by the difference", "Fit", 1000, 500, 1, 1100, 600, 510, 46},
      {"view wider than the image: W; a <= height: usable height", "Fit", 500, 1000, 1, 700, 1130, 710, 46},
      {"height grows by the difference but at most the usable height", "Tall", 600, 1045, 1, 800, 1130, 660, 46},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(c.what);
    WindowRef w = MakeWindow("Test", c.window);
    ASSERT_NE(w, nullptr);
    UInt32 width = 7, height = 7, left = 7, top = 7;
    EXPECT_EQ(myCalcOptimumWindowSizeforHIView(w, kView, 0, c.imageWidth, c.imageHeight, &width, &height, &left,
                                               &top),
              c.result);
    if (c.result) {
      EXPECT_EQ(width, c.width);
      EXPECT_EQ(height, c.height);
      EXPECT_EQ(left, c.left);
      EXPECT_EQ(top, c.top);
    } else {
      EXPECT_EQ(width + height + left + top, 28u) << "outputs must stay untouched";
    }
    DisposeWindow(w);
  }
}

TEST_F(WindowFitting, GivesNothingWithoutWindowViewScreenOrContent) {
  WindowRef w = MakeWindow("Test", "Fit");
  ASSERT_NE(w, nullptr);
  UInt32 width = 7, height = 7, left = 7, top = 7;
  EXPECT_EQ(myCalcOptimumWindowSizeforHIView(nullptr, kView, 0, 1000, 500, &width, &height, &left, &top), 0);
  EXPECT_EQ(myCalcOptimumWindowSizeforHIView(w, kView, 1, 1000, 500, &width, &height, &left, &top), 0);
  EXPECT_EQ(myCalcOptimumWindowSizeforHIView(w, kView, 0, 1000, 500, nullptr, &height, &left, &top), 0);
  // A window without content area: no scale is computed (no division by 0),
  // while an image larger than the screen still gets the whole screen.
  SizeWindow(w, 0, 0, false);
  EXPECT_EQ(myCalcOptimumWindowSizeforHIView(w, kView, 0, 1000, 500, &width, &height, &left, &top), 0);
  EXPECT_EQ(width + height + left + top, 28u);
  EXPECT_EQ(myCalcOptimumWindowSizeforHIView(w, kView, 0, 4000, 3000, &width, &height, &left, &top), 1);
  EXPECT_EQ(width, 1920u);
  EXPECT_EQ(height, 1130u);
  DisposeWindow(w);
}

// ---------------------------------------------------------------- magnifier

// An ARGB32 picture in a buffer of exactly its size (ASan sees any read past it).
struct Picture {
  UInt32 width, height;
  std::vector<UInt8> bytes;
  Picture(UInt32 w, UInt32 h, UInt8 fill = 0) : width(w), height(h), bytes(size_t(w) * h * 4, fill) {}
  UInt8* at(UInt32 x, UInt32 y) { return &bytes[(size_t(y) * width + x) * 4]; }
  void set(UInt32 x, UInt32 y, UInt8 r, UInt8 g, UInt8 b) {
    UInt8* p = at(x, y);
    p[0] = 0x40;  // a source alpha that must not come through
    p[1] = r;
    p[2] = g;
    p[3] = b;
  }
  UInt32 argb(UInt32 x, UInt32 y) {
    const UInt8* p = at(x, y);
    return UInt32(p[0]) << 24 | UInt32(p[1]) << 16 | UInt32(p[2]) << 8 | p[3];
  }
};

// Source pixels that name their own place: red x, green y, blue x + y.
Picture coordinatePicture(UInt32 w, UInt32 h) {
  Picture p(w, h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) p.set(x, y, UInt8(x), UInt8(y), UInt8(x + y));
  return p;
}

void blit(Picture& src, SInt32 cx, SInt32 cy, Picture& dst) {
  myExtractARGB32BlockFromImageAndScale3X(src.bytes.data(), 32, src.width, src.height, src.width * 4, cx, cy,
                                          dst.bytes.data(), dst.width, dst.height, dst.width * 4);
}

UInt32 opaque(UInt32 r, UInt32 g, UInt32 b) { return 0xFF000000u | r << 16 | g << 8 | b; }

TEST(Magnifier, TakesTheSourceWindowAroundTheCentreKeptInsideTheImage) {
  struct {
    const char* what;
    SInt32 cx, cy;
    UInt32 x0, y0;
  } cases[] = {
      {"near the top left: origin 0 (10 < 96 / 6)", 10, 10, 0, 0},
      {"inside: centre - 16", 300, 200, 284, 184},
      {"at the right and bottom edges: the window ends one pixel inside", 635, 470, 607, 447},
      {"far outside", 100000, -5, 607, 0},
  };
  Picture src = coordinatePicture(640, 480);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Picture dst(96, 96, 0x5A);
    blit(src, c.cx, c.cy, dst);
    // Each of the 32 x 32 source pixels starts its block with its own value.
    for (UInt32 j = 0; j < 32; ++j)
      for (UInt32 i = 0; i < 32; ++i) {
        const UInt32 x = c.x0 + i, y = c.y0 + j;
        ASSERT_EQ(dst.argb(3 * i, 3 * j), opaque(x & 0xFF, y & 0xFF, (x + y) & 0xFF)) << i << "," << j;
      }
  }
}

TEST(Magnifier, InterpolatesEachBlockTowardsRightLowerAndDiagonalNeighbours) {
  // One channel each: red steps 0 -> 255 to the right, green downwards, blue
  // diagonally. Weights (8,0), (5,3), (3,5) in eighths, rows mixed downwards
  // first, then across: e.g. red in the middle row is 0 and (5 x 255) >> 3 =
  // 159 mixed across: 0, (3 x 159) >> 3 = 59, (5 x 159) >> 3 = 99.
  Picture src(4, 4);
  src.set(1, 0, 255, 0, 0);
  src.set(0, 1, 0, 255, 0);
  src.set(1, 1, 0, 0, 255);
  Picture dst(6, 6, 0x5A);
  blit(src, 1, 1, dst);
  const UInt32 red[3][3] = {{0, 95, 159}, {0, 59, 99}, {0, 35, 59}};
  const UInt32 green[3][3] = {{0, 0, 0}, {95, 59, 35}, {159, 99, 59}};
  const UInt32 blue[3][3] = {{0, 0, 0}, {0, 35, 59}, {0, 59, 99}};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(dst.argb(UInt32(i), UInt32(j)), opaque(red[j][i], green[j][i], blue[j][i])) << i << "," << j;

  // Where the two roundings part: 7, 1 over 3, 0. Down first, the middle row's
  // columns are (35 + 9) >> 3 = 5 and 5 >> 3 = 0, so its second pixel is
  // 25 >> 3 = 3 and its third 15 >> 3 = 1 (across first would give 2 and 2).
  Picture small(4, 4);
  small.set(0, 0, 7, 0, 0);
  small.set(1, 0, 1, 0, 0);
  small.set(0, 1, 3, 0, 0);
  Picture out(6, 6, 0x5A);
  blit(small, 1, 1, out);
  EXPECT_EQ(out.argb(0, 0), opaque(7, 0, 0));
  EXPECT_EQ(out.argb(1, 0), opaque(4, 0, 0));
  EXPECT_EQ(out.argb(1, 1), opaque(3, 0, 0));
  EXPECT_EQ(out.argb(2, 1), opaque(1, 0, 0));
}

TEST(Magnifier, SixteenBitSourcesShowTheirHighByte) {
  const UInt32 w = 12, h = 9;
  std::vector<UInt16> mono(size_t(w) * h, 0xABCD);
  std::vector<UInt16> rgb48(size_t(w) * h * 3);
  for (size_t i = 0; i < rgb48.size(); i += 3) {
    rgb48[i] = 0x12FF;
    rgb48[i + 1] = 0x5680;
    rgb48[i + 2] = 0x9A01;
  }
  Picture a(9, 9, 0x5A), b(9, 9, 0x5A);
  myExtractARGB32BlockFromImageAndScale3X(mono.data(), 16, w, h, w * 2, 5, 4, a.bytes.data(), 9, 9, 36);
  myExtractARGB32BlockFromImageAndScale3X(rgb48.data(), 48, w, h, w * 6, 5, 4, b.bytes.data(), 9, 9, 36);
  for (UInt32 y = 0; y < 9; ++y)
    for (UInt32 x = 0; x < 9; ++x) {
      ASSERT_EQ(a.argb(x, y), 0xFFABABABu);
      ASSERT_EQ(b.argb(x, y), 0xFF12569Au);
    }
}

TEST(Magnifier, LeavesTheDestinationAloneWhenItCannotWork) {
  Picture src = coordinatePicture(64, 64);
  const std::vector<UInt8> canary(size_t(30) * 30 * 4, 0x5A);
  Picture dst(30, 30, 0x5A);
  for (SInt32 depth : {0, 8, 24, 64}) {
    myExtractARGB32BlockFromImageAndScale3X(src.bytes.data(), depth, 64, 64, 256, 32, 32, dst.bytes.data(), 30, 30,
                                            120);
    EXPECT_EQ(dst.bytes, canary) << depth;
  }
  myExtractARGB32BlockFromImageAndScale3X(nullptr, 32, 64, 64, 256, 32, 32, dst.bytes.data(), 30, 30, 120);
  myExtractARGB32BlockFromImageAndScale3X(src.bytes.data(), 32, 64, 64, 255, 32, 32, dst.bytes.data(), 30, 30, 120);
  myExtractARGB32BlockFromImageAndScale3X(src.bytes.data(), 32, 64, 64, 256, 32, 32, dst.bytes.data(), 30, 30, 119);
  EXPECT_EQ(dst.bytes, canary);
  myExtractARGB32BlockFromImageAndScale3X(src.bytes.data(), 32, 64, 64, 256, 32, 32, nullptr, 30, 30, 120);
}

TEST(Magnifier, AnImageSmallerThanAThirdOfTheDestinationIsClampedAndTheRestCleared) {
  // 8 x 6 pixels shown in 30 x 24: a third of the destination (10 x 8) is
  // more than the image, so the window is pixels 0..6 by 0..4 (each needs its
  // right and lower neighbour): 21 x 15 destination pixels, the rest cleared.
  Picture src = coordinatePicture(8, 6);
  for (auto [cx, cy] : {std::pair{4, 3}, std::pair{-50, 900}}) {
    Picture dst(30, 24, 0x5A);
    blit(src, cx, cy, dst);
    for (UInt32 y = 0; y < 24; ++y)
      for (UInt32 x = 0; x < 30; ++x) {
        if (x < 21 && y < 15) {
          if (x % 3 == 0 && y % 3 == 0) {
            ASSERT_EQ(dst.argb(x, y), opaque(x / 3, y / 3, x / 3 + y / 3));
          }
          ASSERT_EQ(dst.at(x, y)[0], 0xFF) << x << "," << y;
        } else {
          ASSERT_EQ(dst.argb(x, y), 0u) << x << "," << y;
        }
      }
  }
  // One pixel, or none: nothing to magnify, all cleared.
  Picture one = coordinatePicture(1, 1);
  Picture dst(9, 9, 0x5A);
  blit(one, 0, 0, dst);
  EXPECT_EQ(dst.bytes, std::vector<UInt8>(dst.bytes.size(), 0));
  Picture tall = coordinatePicture(1, 40);  // narrow only: the clamp is along x
  Picture dst2(9, 9, 0x5A);
  blit(tall, 0, 20, dst2);
  EXPECT_EQ(dst2.bytes, std::vector<UInt8>(dst2.bytes.size(), 0));
}

}  // namespace
