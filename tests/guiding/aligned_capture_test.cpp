// Aligned capture: frames followed by block matching and added into one sum,
// the sum written as a 16-bit TIFF at the end, and the hand-off between the
// delivery thread's frames and the main thread's finish.
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/CameraWindowData.h"
#include "camera_driver/DCAMCameraStruct.h"
#include "guiding/AlignedCapture.h"
#include "pixel/BayerPlanes.h"
#include "pixel/StarProfile.h"
#include "platform/coreservices/Files.h"
#include "platform/simcamera/SimScene.h"
#include "tests/support/TestFiles.h"

namespace {

using skyloom::test::ToolInstalled;

struct Star {
  double x, y, peak, sigma;
};

// A frame of samples of type T: a flat background with Gaussian stars.
template <class T>
std::vector<T> starFrame(UInt32 w, UInt32 h, double background, const std::vector<Star>& stars,
                         double top) {
  std::vector<T> f(size_t(w) * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      double v = background;
      for (const Star& s : stars) {
        const double r2 = (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        v += s.peak * std::exp(-r2 / (2 * s.sigma * s.sigma));
      }
      f[size_t(y) * w + x] = T(std::min(top, std::floor(v + 0.5)));
    }
  return f;
}

// The frame moved by (sx, sy); uncovered pixels get `fill`.
template <class T>
std::vector<T> shifted(const std::vector<T>& ref, UInt32 w, UInt32 h, int sx, int sy, T fill) {
  std::vector<T> out(ref.size(), fill);
  for (int y = 0; y < int(h); ++y)
    for (int x = 0; x < int(w); ++x) {
      const int fx = x - sx, fy = y - sy;
      if (fx >= 0 && fy >= 0 && fx < int(w) && fy < int(h))
        out[size_t(y) * w + x] = ref[size_t(fy) * w + fx];
    }
  return out;
}

// A colour mosaic of one value per channel (BayerFormat's row phases), with
// a white star drawn into every channel.
std::vector<UInt16> mosaic(UInt32 w, UInt32 h, UInt32 bayerFormat, const UInt16 rgb[3],
                           const Star& star, double top) {
  // Colour of (x, y) for rows 0 and 1, per BayerFormat 1..4.
  static const int phase[5][2][2] = {{{0, 0}, {0, 0}},
                                     {{0, 1}, {1, 2}},   // RGGB
                                     {{1, 2}, {0, 1}},   // GBRG
                                     {{1, 0}, {2, 1}},   // GRBG
                                     {{2, 1}, {1, 0}}};  // BGGR
  std::vector<UInt16> f(size_t(w) * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) {
      const double r2 = (x - star.x) * (x - star.x) + (y - star.y) * (y - star.y);
      const double v = rgb[phase[bayerFormat][y & 1][x & 1]] +
                       star.peak * std::exp(-r2 / (2 * star.sigma * star.sigma));
      f[size_t(y) * w + x] = UInt16(std::min(top, std::floor(v + 0.5)));
    }
  return f;
}

MyDCAMCameraStruct* testCamera() {
  static MyDCAMCameraStruct camera{};
  return &camera;
}

// Reads a TIFF back with python3-tifffile: "dtype shape min-max" of the
// samples outside the box (x0, y0)-(x1, y1), channel by channel.
std::string readBack(const std::string& path, UInt32 x0, UInt32 y0, UInt32 x1, UInt32 y1) {
  const std::string script = path + ".py";
  skyloom::test::WriteFile(script, [] {
    const std::string text =
        "import sys, tifffile, numpy as np\n"
        "a = tifffile.imread(sys.argv[1])\n"
        "x0, y0, x1, y1 = map(int, sys.argv[2:6])\n"
        "m = np.ones(a.shape[:2], bool); m[y0:y1, x0:x1] = False\n"
        "v = a[m].reshape(-1, 1 if a.ndim == 2 else a.shape[2])\n"
        "print(a.dtype, 'x'.join(map(str, a.shape)),\n"
        "      ' '.join('%d-%d' % (v[:, c].min(), v[:, c].max()) for c in range(v.shape[1])))\n";
    return std::vector<uint8_t>(text.begin(), text.end());
  }());
  const std::string out = skyloom::test::Run("/usr/bin/python3 " + script + " " + path + " " +
                                             std::to_string(x0) + " " + std::to_string(y0) + " " +
                                             std::to_string(x1) + " " + std::to_string(y1));
  std::filesystem::remove(script);
  return out;
}

class AlignedCapture : public ::testing::Test {
 protected:
  MyCameraWindowDataStruct* rec = nullptr;
  skyloom::test::TempDir dir{"skyloom-align"};

  void SetUp() override {
    rec = static_cast<MyCameraWindowDataStruct*>(std::calloc(1, sizeof *rec));
    rec->mKind = kMyCameraWindowDataKind;
    rec->mBitsPerPixel = 8;
    rec->mDisplayFormatItem = 1;
    rec->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
    rec->mCameraHandle = testCamera();
    std::filesystem::create_directory(dir / "config");
    SkyloomSetConfigurationDirectory((dir / "config").c_str());
    setFile("result.tif");
  }
  void TearDown() override {
    SkyloomFailAlignAllocation(0);
    gMyTestAlignPausePoint = nullptr;
    if (rec->mAlignCaptureOpen || rec->mAlignSum) myFinishAlignedFrameCapture(rec, 0, 0);
    std::free(rec);
    SkyloomSetConfigurationDirectory(nullptr);
  }

  void setFile(const std::string& name) {
    FSRef folder;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(dir.path.c_str()), &folder, nullptr), noErr);
    FSCatalogInfo info{};
    ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoNodeID | kFSCatInfoVolume, &info, nullptr, nullptr,
                               nullptr),
              noErr);
    Str255 pname;
    pname[0] = UInt8(name.size());
    std::memcpy(pname + 1, name.data(), name.size());
    FSMakeFSSpec(info.volume, SInt32(info.nodeID), pname, &rec->mFrameFileSpec);
  }
  std::string file() const { return (dir / "result.tif").string(); }

  void expectAllFreed() {
    EXPECT_EQ(rec->mAlignSum, nullptr);
    EXPECT_EQ(rec->mAlignWork, nullptr);
    EXPECT_EQ(rec->mAlignHistogram, nullptr);
    EXPECT_EQ(rec->mAlignBlock, nullptr);
    EXPECT_EQ(rec->mAlignConvert, nullptr);
    EXPECT_EQ(rec->mAlignCaptureOpen, 0);
  }
  std::vector<UInt32> sums() const {
    const size_t n = size_t(rec->mAlignWidth) * rec->mAlignHeight * (rec->mAlignColour ? 3 : 1);
    return std::vector<UInt32>(rec->mAlignSum, rec->mAlignSum + n);
  }
};

// ---------------------------------------------------------------- alignment

struct ShiftCase {
  UInt32 alignMode;
  UInt8 vectorUnit;
};

class ShiftedScene : public AlignedCapture, public ::testing::WithParamInterface<ShiftCase> {};

// A noise-free star field moved by whole pixels: every frame lands back on
// the reference, so the sum is exactly 4 x the reference wherever all four
// frames have data, and the average comes out as reference x 65535 / 255.
TEST_P(ShiftedScene, SumIsFourTimesTheReferenceWhereAllFramesOverlap) {
  constexpr UInt32 W = 640, H = 480;
  SimSceneSettings s;
  s.noiseSigma = 0;
  s.hotPixelCount = 0;
  SimScene scene(s);
  std::vector<UInt16> rendered(size_t(W) * H);
  scene.RenderMono(0, 1.0, 8, rendered.data());
  std::vector<UInt8> ref(rendered.begin(), rendered.end());
  const UInt8 background = ref[0];

  rec->mImageAlignMode = GetParam().alignMode;
  rec->mHasVectorUnit = GetParam().vectorUnit;
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  const int shifts[4][2] = {{0, 0}, {3, -2}, {-5, 4}, {7, 1}};
  for (const auto& sh : shifts) {
    const auto frame = shifted(ref, W, H, sh[0], sh[1], background);
    EXPECT_EQ(myDoFrameAlign(rec, frame.data()), 0);
  }
  ASSERT_EQ(rec->mAlignedFrameCount, 4u);
  EXPECT_EQ(rec->mAlignReady, 1);
  // Frame k moved by (sx, sy) has data for reference pixels x + sx in 0..W-1:
  // all four cover x 5..632, y 2..475.
  const auto sum = sums();
  size_t bad = 0;
  for (UInt32 y = 2; y < H - 4; ++y)
    for (UInt32 x = 5; x < W - 7; ++x)
      bad += sum[size_t(y) * W + x] != 4u * ref[size_t(y) * W + x];
  EXPECT_EQ(bad, 0u);

  ASSERT_EQ(myFinishAlignedFrameCapture(rec, 1, 0), noErr);
  expectAllFreed();
  ASSERT_TRUE(ToolInstalled("tiffinfo"));
  ASSERT_TRUE(skyloom::test::PythonModuleInstalled("tifffile"));
  const std::string refPath = (dir / "ref.u8").string();
  skyloom::test::WriteFile(refPath, std::vector<uint8_t>(ref.begin(), ref.end()));
  const std::string script =
      "import sys, tifffile, numpy as np\n"
      "a = tifffile.imread(sys.argv[1]).astype(np.int64)\n"
      "r = np.fromfile(sys.argv[2], np.uint8).reshape(480, 640).astype(np.int64)\n"
      "print(a.shape, int((a[2:476, 5:633] != r[2:476, 5:633] * 257).sum()))\n";
  EXPECT_EQ(skyloom::test::Run("/usr/bin/python3 -c '" + script + "' " + file() + " " + refPath), "(480, 640) 0\n");
}

INSTANTIATE_TEST_SUITE_P(Methods, ShiftedScene,
                         ::testing::Values(ShiftCase{0, 0}, ShiftCase{0, 1}, ShiftCase{1, 0}),
                         [](const auto& info) {
                           return "method" + std::to_string(info.param.alignMode) +
                                  (info.param.vectorUnit ? "Vector" : "");
                         });

// A 16-bit frame of a mono mode reduces to its high bytes: a star drawn only
// on the sites a mosaic would call red and blue still counts, where the
// greens of a mosaic would see a flat frame and drop it.
TEST_F(AlignedCapture, Mono16FramesUseTheirHighBytes) {
  constexpr UInt32 W = 192, H = 160;
  std::vector<UInt16> frame(size_t(W) * H, 1000);
  for (UInt32 y = 76; y < 85; ++y)
    for (UInt32 x = 92; x < 101; ++x)
      if ((x + y) % 2 == 0) frame[size_t(y) * W + x] = 60000;
  rec->mBitsPerPixel = 16;
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  myDoFrameAlign(rec, frame.data());
  myDoFrameAlign(rec, frame.data());
  EXPECT_EQ(rec->mAlignedFrameCount, 2u);
  EXPECT_EQ(sums()[0], 2000u);
  EXPECT_EQ(sums()[size_t(76) * W + 92], 120000u);
}

// Thresholds from crafted histograms. Each histogram has its weighted levels
// worked out by hand (weights i + 1; a level is the first bin whose running
// weight reaches fraction x total).
TEST(AlignThreshold, FromTheHistogramLevels) {
  struct Case {
    const char* what;
    std::vector<std::pair<int, UInt32>> bins;  // bin, count
    UInt32 method, bits;
    std::vector<std::pair<double, UInt32>> levels;  // the crafted levels
    UInt32 threshold;
  } cases[] = {
      // 141000 + 15747: L(0.8) = 140 (0.90 of the total), L(0.95) = 180.
      {"upper level from L(0.95)", {{140, 1000}, {180, 87}}, 0, 8, {{0.8, 140}, {0.95, 180}}, 160},
      // 1410000 + 151000 + 251: L(0.95) - L(0.8) = 10, so L(0.9999) = 250 is the upper level.
      {"upper level from L(0.9999)",
       {{140, 10000}, {150, 1000}, {250, 1}},
       2,
       8,
       {{0.8, 140}, {0.95, 150}, {0.9999, 250}},
       195},
      // 2010000 + 221000 + 256: (255 + 200) / 2 = 227 is above 200.
      {"above 200, 8-bit",
       {{200, 10000}, {220, 1000}, {255, 1}},
       0,
       8,
       {{0.8, 200}, {0.95, 220}, {0.9999, 255}},
       10},
      {"above 200, 16-bit", {{200, 10000}, {220, 1000}, {255, 1}}, 0, 16, {}, 200},
      // 210000 + 201000: L(0.2) = 20, L(0.8) = 200; 180 x 0.2 = 36.
      {"edge method", {{20, 10000}, {200, 1000}}, 1, 8, {{0.2, 20}, {0.8, 200}}, 36},
      // 210000 + 61000: 40 x 0.2 = 8 is below 10.
      {"edge method, small range", {{20, 10000}, {60, 1000}}, 1, 8, {{0.2, 20}, {0.8, 60}}, 10},
  };
  for (const Case& c : cases) {
    UInt32 hist[256] = {};
    for (auto [bin, count] : c.bins) hist[bin] = count;
    for (auto [f, level] : c.levels) ASSERT_EQ(myCalcMono8MedianVal(hist, f), level) << c.what << " " << f;
    EXPECT_EQ(myAlignThreshold(hist, c.method, c.bits), c.threshold) << c.what;
  }
}

// ---------------------------------------------------------------- frames dropped

constexpr UInt32 kW = 640, kH = 480;
const Star kStar{100, 240, 200, 2.0};

TEST_F(AlignedCapture, FrameWithNothingAboveTheThresholdIsNeitherAddedNorCounted) {
  const auto flat = std::vector<UInt8>(size_t(kW) * kH, 40);
  const auto ref = starFrame<UInt8>(kW, kH, 10, {kStar}, 255);
  ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
  myDoFrameAlign(rec, flat.data());
  EXPECT_EQ(rec->mAlignedFrameCount, 0u);
  myDoFrameAlign(rec, ref.data());
  myDoFrameAlign(rec, flat.data());
  EXPECT_EQ(rec->mAlignedFrameCount, 1u);
  EXPECT_EQ(sums(), std::vector<UInt32>(ref.begin(), ref.end()));
}

// Matching is switched off by a reference block without 10 levels of
// contrast, or one that would reach past the frame's edge (the block placed
// within 64 pixels of an object at the top): later frames go in unshifted.
TEST_F(AlignedCapture, UnusableReferenceBlockSumsLaterFramesUnshifted) {
  struct Case {
    const char* what;
    UInt32 alignMode;
    std::vector<UInt8> first;
  } cases[] = {
      {"contrast 5", 0, std::vector<UInt8>(size_t(kW) * kH, 50)},
      {"past the top edge", 2, std::vector<UInt8>(size_t(kW) * kH, 10)},
  };
  for (UInt32 y = 238; y < 241; ++y)
    for (UInt32 x = 318; x < 321; ++x) cases[0].first[size_t(y) * kW + x] = 55;
  for (UInt32 y = 2; y < 7; ++y)
    for (UInt32 x = 300; x < 311; ++x) cases[1].first[size_t(y) * kW + x] = 250;

  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec->mImageAlignMode = c.alignMode;
    ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
    const auto second = shifted<UInt8>(c.first, kW, kH, 3, 2, c.first[0]);
    myDoFrameAlign(rec, c.first.data());
    EXPECT_EQ(rec->mAlignReady, 0);
    myDoFrameAlign(rec, second.data());
    EXPECT_EQ(rec->mAlignedFrameCount, 2u);
    std::vector<UInt32> expected(c.first.size());
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = UInt32(c.first[i]) + second[i];
    EXPECT_EQ(sums(), expected);
    myFinishAlignedFrameCapture(rec, 0, 0);
  }
}

// A block search that fails drops the frame: the search square leaving the
// frame (-1), or two equally good matches far apart (-2).
TEST_F(AlignedCapture, FailedBlockSearchDropsTheFrame) {
  const auto ref = starFrame<UInt8>(kW, kH, 10, {kStar}, 255);
  struct Case {
    const char* what;
    std::vector<UInt8> later;
  } cases[] = {
      {"search square leaves the frame", starFrame<UInt8>(kW, kH, 10, {{60, 240, 200, 2.0}}, 255)},
      {"two equal matches", starFrame<UInt8>(kW, kH, 10, {kStar, {140, 240, 200, 2.0}}, 255)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
    myDoFrameAlign(rec, ref.data());
    myDoFrameAlign(rec, c.later.data());
    EXPECT_EQ(rec->mAlignReady, 1);
    EXPECT_EQ(rec->mAlignedFrameCount, 1u);
    EXPECT_EQ(sums(), std::vector<UInt32>(ref.begin(), ref.end()));
    myFinishAlignedFrameCapture(rec, 0, 0);
  }
}

// ---------------------------------------------------------------- colour runs

struct ColourCase {
  const char* what;
  UInt32 bits;
  UInt8 colourDisplay;
  UInt32 displayFormatItem;
  UInt32 channels;
  UInt32 expected[3];  // sum of two frames away from the star
};

class ColourRun : public AlignedCapture, public ::testing::WithParamInterface<ColourCase> {};

// A mosaic of R, G, B levels 200, 100, 50 (x 200 at 16 bits) with a white
// star: in colour its two frames sum to twice those levels per channel; shown
// mono, to twice its green level.
TEST_P(ColourRun, SumsThroughTheConversionOrTheGreens) {
  const ColourCase& c = GetParam();
  constexpr UInt32 W = 192, H = 160;
  const bool deep = c.bits > 8;
  const UInt16 rgb8[3] = {200, 100, 50}, rgb16[3] = {40000, 20000, 10000};
  const double top = deep ? 65535 : 255;
  const auto m = mosaic(W, H, 1, deep ? rgb16 : rgb8, {96, 80, top, 1.5}, top);
  std::vector<UInt8> bytes(m.begin(), m.end());
  const void* frame = deep ? static_cast<const void*>(m.data()) : bytes.data();

  rec->mBitsPerPixel = c.bits;
  rec->mColourSensor = 1;
  rec->mColourDisplay = c.colourDisplay;
  rec->mDisplayFormatItem = c.displayFormatItem;
  rec->mBayerFormat = 1;
  rec->mDisplayFormat = myDisplayFormatFromBayerFormat(c.colourDisplay, 1);
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  EXPECT_EQ(rec->mAlignUseGreens, c.displayFormatItem == 1);
  myDoFrameAlign(rec, frame);
  myDoFrameAlign(rec, frame);
  ASSERT_EQ(rec->mAlignedFrameCount, 2u);
  const auto sum = sums();
  size_t bad = 0;
  for (UInt32 y = 4; y < H - 4; ++y)
    for (UInt32 x = 4; x < W - 4; ++x) {
      if (x >= 80 && x < 112 && y >= 64 && y < 96) continue;
      for (UInt32 k = 0; k < c.channels; ++k)
        bad += sum[(size_t(y) * W + x) * c.channels + k] != c.expected[k];
    }
  EXPECT_EQ(bad, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ColourRun,
    ::testing::Values(ColourCase{"ARGB32", 8, 1, 2, 3, {400, 200, 100}},
                      ColourCase{"RGB48", 16, 1, 2, 3, {80000, 40000, 20000}},
                      // 12-bit frames arrive widened to 16 bits: converted as 16-bit samples.
                      ColourCase{"RGB48from12bit", 12, 1, 2, 3, {80000, 40000, 20000}},
                      ColourCase{"greens8", 8, 0, 1, 1, {200}},
                      ColourCase{"greens16", 16, 0, 1, 1, {40000}}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(AlignedCapture, FailingConversionDropsTheFrame) {
  const auto frame = starFrame<UInt8>(kW, kH, 10, {kStar}, 255);
  rec->mColourSensor = 1;
  rec->mColourDisplay = 1;
  rec->mDisplayFormatItem = 2;
  rec->mBayerFormat = 1;
  rec->mDisplayFormat = FOUR_CHAR_CODE("nope");
  ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
  myDoFrameAlign(rec, frame.data());
  EXPECT_EQ(rec->mAlignedFrameCount, 0u);
  EXPECT_EQ(sums(), std::vector<UInt32>(size_t(kW) * kH * 3, 0));
}

// ---------------------------------------------------------------- the TIFF

struct TIFFCase {
  const char* what;
  UInt32 bits;
  UInt32 background;
  UInt8 sum;
  const char* readBack;
};

class TIFFResult : public AlignedCapture, public ::testing::WithParamInterface<TIFFCase> {};

// 100 frames of one level (with a star to follow, boxed out of the check):
// 128 x 100 x 65535 / (100 x 255) = 32896; the sum 12800 is over 255: white;
// 100 x 1 x 65535 / 255 = 25700; 40000 x 100 x 65535 / (100 x 65535) = 40000,
// where s x 65535 is far beyond 32 bits.
TEST_P(TIFFResult, WrittenValuesAndFormat) {
  const TIFFCase& c = GetParam();
  constexpr UInt32 W = 192, H = 160;
  const bool deep = c.bits > 8;
  const double top = deep ? 65535 : 255;
  const Star star{96, 80, top - c.background, 1.5};
  const auto f16 = starFrame<UInt16>(W, H, c.background, {star}, top);
  const std::vector<UInt8> f8(f16.begin(), f16.end());
  rec->mBitsPerPixel = c.bits;
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  for (int i = 0; i < 100; ++i)
    myDoFrameAlign(rec, deep ? static_cast<const void*>(f16.data()) : f8.data());
  ASSERT_EQ(rec->mAlignedFrameCount, 100u);
  ASSERT_EQ(myFinishAlignedFrameCapture(rec, 1, c.sum), noErr);
  expectAllFreed();

  ASSERT_TRUE(ToolInstalled("tiffinfo"));
  const std::string info = skyloom::test::Run("tiffinfo " + file());
  EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
  EXPECT_NE(info.find("Compression Scheme: PackBits"), std::string::npos) << info;
  EXPECT_NE(info.find("Samples/Pixel: 1"), std::string::npos) << info;
  ASSERT_TRUE(skyloom::test::PythonModuleInstalled("tifffile"));
  EXPECT_EQ(readBack(file(), 80, 64, 112, 96), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TIFFResult,
    ::testing::Values(TIFFCase{"average128", 8, 128, 0, "uint16 160x192 32896-32896\n"},
                      TIFFCase{"sum128", 8, 128, 1, "uint16 160x192 65535-65535\n"},
                      TIFFCase{"sum1", 8, 1, 1, "uint16 160x192 25700-25700\n"},
                      TIFFCase{"averageMono16", 16, 40000, 0, "uint16 160x192 40000-40000\n"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(AlignedCapture, ColourAverageIsAnRGB48TIFF) {
  constexpr UInt32 W = 192, H = 160;
  const UInt16 rgb[3] = {200, 100, 50};
  const auto m = mosaic(W, H, 1, rgb, {96, 80, 255, 1.5}, 255);
  const std::vector<UInt8> frame(m.begin(), m.end());
  rec->mColourSensor = 1;
  rec->mColourDisplay = 1;
  rec->mDisplayFormatItem = 2;
  rec->mBayerFormat = 1;
  rec->mDisplayFormat = myDisplayFormatFromBayerFormat(1, 1);
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  myDoFrameAlign(rec, frame.data());
  myDoFrameAlign(rec, frame.data());
  ASSERT_EQ(myFinishAlignedFrameCapture(rec, 1, 0), noErr);
  expectAllFreed();
  ASSERT_TRUE(ToolInstalled("tiffinfo"));
  const std::string info = skyloom::test::Run("tiffinfo " + file());
  EXPECT_NE(info.find("Samples/Pixel: 3"), std::string::npos) << info;
  EXPECT_NE(info.find("Compression Scheme: PackBits"), std::string::npos) << info;
  ASSERT_TRUE(skyloom::test::PythonModuleInstalled("tifffile"));
  // 200, 100, 50 x 257; the frame's outer rows and columns are left in.
  const std::string got = skyloom::test::Run("/usr/bin/python3 -c 'import sys, tifffile; a = tifffile.imread(sys.argv[1]); "
                              "print(a.shape, a[4:60, 4:188].reshape(-1, 3).min(0).tolist(), "
                              "a[4:60, 4:188].reshape(-1, 3).max(0).tolist())' " +
                              file());
  EXPECT_EQ(got, "(160, 192, 3) [51400, 25700, 12850] [51400, 25700, 12850]\n");
}

TEST_F(AlignedCapture, NoFrameAddedOrNothingToSave) {
  constexpr UInt32 W = 64, H = 48;
  // An average of nothing: no file.
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  EXPECT_EQ(myFinishAlignedFrameCapture(rec, 1, 0), noErr);
  expectAllFreed();
  EXPECT_FALSE(std::filesystem::exists(file()));
  // A sum of nothing: a black image.
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  EXPECT_EQ(myFinishAlignedFrameCapture(rec, 1, 1), noErr);
  expectAllFreed();
  ASSERT_TRUE(skyloom::test::PythonModuleInstalled("tifffile"));
  EXPECT_EQ(readBack(file(), 0, 0, 0, 0), "uint16 48x64 0-0\n");
  std::filesystem::remove(file());

  const auto frame = starFrame<UInt8>(W, H, 10, {{32, 24, 200, 1.5}}, 255);
  // Save 0: nothing written.
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  myDoFrameAlign(rec, frame.data());
  EXPECT_EQ(rec->mAlignedFrameCount, 1u);
  EXPECT_EQ(myFinishAlignedFrameCapture(rec, 0, 1), noErr);
  expectAllFreed();
  EXPECT_FALSE(std::filesystem::exists(file()));
  // A name in a folder that is gone: the write's error, everything freed.
  rec->mFrameFileSpec.parID = 0x00FFFFF0;
  ASSERT_EQ(myStartAlignedFrameCapture(rec, W, H), noErr);
  myDoFrameAlign(rec, frame.data());
  EXPECT_NE(myFinishAlignedFrameCapture(rec, 1, 1), noErr);
  expectAllFreed();
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);  // config only
}

// ---------------------------------------------------------------- start

// Every allocation of start, failed in turn, for the three buffer sets.
TEST_F(AlignedCapture, AllocationFailureAtEachStepGivesEverythingBack) {
  struct Case {
    const char* what;
    UInt32 bits;
    UInt8 colourSensor, colourDisplay;
    UInt32 allocations;
  } cases[] = {{"mono 8-bit", 8, 0, 0, 3}, {"mono 16-bit", 16, 0, 0, 4}, {"colour", 8, 1, 1, 5}};
  for (const Case& c : cases) {
    rec->mBitsPerPixel = c.bits;
    rec->mColourSensor = c.colourSensor;
    rec->mColourDisplay = c.colourDisplay;
    for (UInt32 nth = 1; nth <= c.allocations + 1; ++nth) {
      SCOPED_TRACE(std::string(c.what) + " allocation " + std::to_string(nth));
      SkyloomFailAlignAllocation(nth);
      const OSStatus status = myStartAlignedFrameCapture(rec, 320, 240);
      SkyloomFailAlignAllocation(0);
      if (nth <= c.allocations) {
        EXPECT_EQ(status, memFullErr);
        expectAllFreed();
        EXPECT_EQ(rec->mAlignReady, 0);
      } else {
        EXPECT_EQ(status, noErr);
        EXPECT_EQ(rec->mAlignCaptureOpen, 1);
        myFinishAlignedFrameCapture(rec, 0, 0);
      }
    }
  }
}

// ---------------------------------------------------------------- finish against frames

// Holds frames at the pause point until released; tells when finish waits.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool inFrame = false, finishWaiting = false, release = false;
};
Gate* gGate = nullptr;

void gatePause(int where) {
  Gate& g = *gGate;
  std::unique_lock<std::mutex> lock(g.m);
  if (where == kMyAlignPauseInFrame) {
    g.inFrame = true;
    g.cv.notify_all();
    g.cv.wait(lock, [&] { return g.release; });
  } else if (where == kMyAlignPauseFinishWait) {
    g.finishWaiting = true;
    g.cv.notify_all();
  }
}

class FinishRace : public AlignedCapture {
 protected:
  Gate gate;
  std::vector<UInt8> frame = starFrame<UInt8>(kW, kH, 10, {kStar}, 255);
  void SetUp() override {
    AlignedCapture::SetUp();
    gGate = &gate;
    gMyTestAlignPausePoint = gatePause;
  }
  void TearDown() override {
    gMyTestAlignPausePoint = nullptr;
    gGate = nullptr;
    AlignedCapture::TearDown();
  }
  void waitFor(bool Gate::*flag) {
    std::unique_lock<std::mutex> lock(gate.m);
    gate.cv.wait(lock, [&] { return gate.*flag; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(gate.m);
    gate.release = true;
    gate.cv.notify_all();
  }
};

TEST_F(FinishRace, FinishWaitsForTheFrameInsideThenFrees) {
  ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
  std::thread delivery([&] { myDoFrameAlign(rec, frame.data()); });
  waitFor(&Gate::inFrame);
  OSStatus status = 1;
  std::thread main([&] { status = myFinishAlignedFrameCapture(rec, 1, 0); });
  waitFor(&Gate::finishWaiting);
  // Finish has closed the run and is waiting: nothing is freed yet.
  EXPECT_NE(rec->mAlignSum, nullptr);
  EXPECT_NE(rec->mAlignBlock, nullptr);
  release();
  delivery.join();
  main.join();
  EXPECT_EQ(status, noErr);
  EXPECT_EQ(rec->mAlignedFrameCount, 1u);
  expectAllFreed();
  EXPECT_TRUE(std::filesystem::exists(file()));

  // A frame arriving after finish leaves everything alone.
  gMyTestAlignPausePoint = nullptr;
  EXPECT_EQ(myDoFrameAlign(rec, frame.data()), 0);
  EXPECT_EQ(rec->mAlignedFrameCount, 1u);
  EXPECT_EQ(rec->mAlignBusy, 0);
  expectAllFreed();
}

// A frame held past the wait (about 5 s): finish gives up without freeing
// what the frame still uses, and writes nothing.
TEST_F(FinishRace, FinishThatTimesOutLeavesTheBuffersToTheFrame) {
  ASSERT_EQ(myStartAlignedFrameCapture(rec, kW, kH), noErr);
  std::thread delivery([&] { myDoFrameAlign(rec, frame.data()); });
  waitFor(&Gate::inFrame);
  EXPECT_EQ(myFinishAlignedFrameCapture(rec, 1, 0), noErr);
  EXPECT_NE(rec->mAlignSum, nullptr);
  EXPECT_NE(rec->mAlignHistogram, nullptr);
  EXPECT_NE(rec->mAlignBlock, nullptr);
  release();
  delivery.join();
  EXPECT_EQ(rec->mAlignedFrameCount, 1u);
  EXPECT_FALSE(std::filesystem::exists(file()));
  // The test owns what finish let go of.
  std::free(rec->mAlignSum);
  std::free(rec->mAlignWork);
  std::free(rec->mAlignHistogram);
  std::free(rec->mAlignBlock);
  std::free(rec->mAlignConvert);
  rec->mAlignSum = nullptr;
  rec->mAlignWork = nullptr;
  rec->mAlignHistogram = nullptr;
  rec->mAlignBlock = nullptr;
  rec->mAlignConvert = nullptr;
}

}  // namespace
