// The LRGB import on the headless window model: mode 0 straight into a
// window, modes 1-3 through the file dialogs and the alignment window with
// pictures whose channels carry different marks, the failures, and the warp
// of one layer into the canvas.
#include "image_windows/LRGBImport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image_windows/ImageWindow.h"
#include "image_windows/ImageWindowRecord.h"
#include "image_windows/LRGBAlign.h"
#include "media/RGB48Files.h"
#include "pixel/LumaRGB48.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"
#include "tests/support/TestFiles.h"
#include "tests/support/UiFixture.h"

using namespace skyloom;
using namespace skyloom::ui;
using skyloom::test::WriteFile;

namespace {

// Sample c of pixel (x, y) of picture `id`: the channel is in the top bits,
// the picture in the next, the place in the rest, so every value tells where
// it came from.
UInt16 Mark(UInt32 id, UInt32 x, UInt32 y, UInt32 c) {
  return UInt16((c << 14) | (id << 12) | ((y * 37 + x * 11) & 0xFFF));
}

std::vector<UInt16> MarkedPicture(UInt32 id, UInt32 w, UInt32 h) {
  std::vector<UInt16> rgb(size_t(w) * h * 3);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x)
      for (UInt32 c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = Mark(id, x, y, c);
  return rgb;
}

class LRGBImport : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    const std::string strings = std::string(SKYLOOM_SOURCE_DIR) + "/resources/Localizable.strings";
    ASSERT_EQ(symlink(strings.c_str(), (dir_ + "/Localizable.strings").c_str()), 0);
    config_ = dir_ + "/config";
    std::filesystem::create_directory(config_);
    SkyloomSetConfigurationDirectory(config_.c_str());
    SkyloomPreferencesForgetAll();
    root_ = std::filesystem::canonical(dir_).string();
    // Menu 2 with seven items; the import turns the seventh off around its dialogs.
    ASSERT_EQ(CreateNewMenu(2, 0, &menu_), noErr);
    for (int i = 0; i < 7; ++i) AppendMenuItemTextWithCFString(menu_, CFSTR("item"), 0, 0, nullptr);
    InsertMenu(menu_, 0);
  }
  void TearDown() override {
    if (MyImageWindowDataStruct* r = Record()) myDisposeImageWindow(r);
    DeleteMenu(2);
    DisposeMenu(menu_);
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }
  std::string Write(const std::string& name, UInt32 id, UInt32 w, UInt32 h) {
    const std::string path = root_ + "/" + name;
    WriteFile(path, {});
    FSRef ref{};
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr), noErr);
    const std::vector<UInt16> rgb = MarkedPicture(id, w, h);
    EXPECT_EQ(myRGB48ToFileFSRef(ref, FOUR_CHAR_CODE("TIFF"), rgb.data(), w, h, 1), noErr);
    return path;
  }
  static MyImageWindowDataStruct* Record() {
    WindowRef w = FindWindow("ImageWindow");
    return w ? reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w)) : nullptr;
  }
  // The prompt of the open file dialog, then choose the file.
  void ChooseWithPrompt(ScriptedUser& user, const std::string& path, std::vector<std::string>* prompts) {
    user.Do([this, prompts] {
      prompts->push_back(ControlText(FindControl(FrontWindow(), kSkyloomNavMessageSignature, 0)));
      EXPECT_FALSE(IsMenuItemEnabled(menu_, 7));
    });
    nav::Choose(user, {path});
  }
  bool ItemEnabled() const { return IsMenuItemEnabled(menu_, 7); }
  std::string config_, root_;
  MenuRef menu_ = nullptr;
};

TEST_F(LRGBImport, ModeZeroOpensThePictureAsItIs) {
  const std::string path = Write("M42.tif", 1, 64, 48);
  ScriptedUser user;
  std::vector<std::string> prompts;
  ChooseWithPrompt(user, path, &prompts);
  ASSERT_EQ(myImportLRGBLayers(0), noErr);
  EXPECT_EQ(prompts, (std::vector<std::string>{"Select Image:"}));
  EXPECT_TRUE(ItemEnabled());
  EXPECT_EQ(FindWindow("LRGBAlign"), nullptr);
  MyImageWindowDataStruct* r = Record();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->mWidth, 64u);
  EXPECT_EQ(r->mHeight, 48u);
  EXPECT_EQ(r->mGreenOffsetsLocked, 1);
  EXPECT_EQ(WindowTitle(r->mImageWindow), "M42.tif");
  const std::vector<UInt16> want = MarkedPicture(1, 64, 48);
  EXPECT_EQ(std::vector<UInt16>(r->mSourceRGB48, r->mSourceRGB48 + want.size()), want);
  std::vector<UInt16> luma(64 * 48);
  myRGB48PtrtoLumaPtr(want.data(), luma.data(), 64, 48);
  EXPECT_EQ(std::vector<UInt16>(r->mSourceLuma16, r->mSourceLuma16 + luma.size()), luma);
}

// Untouched layers of 400 x 300 and 300 x 200: every mode's composite is the
// 300 x 200 middle of every picture, each channel from the file the table says.
TEST_F(LRGBImport, UntouchedLayersComposeTheMiddleOfEachInTheModesOrder) {
  struct Case {
    UInt32 mode;
    std::vector<std::string> prompts;
    UInt32 reference, active, count;
    UInt8 locked;
    UInt32 rgbPicture[3];  // which picture (slot) gives red, green and blue
    int lumaPicture;       // the slot of the luma picture, or -1 when derived
    UInt32 displayChannel[4];
  };
  const Case kCases[] = {
      {1, {"Select Luma Image:", "Select RGB Image:"}, 0, 1, 2, 0, {1, 1, 1}, 0, {0, 2}},
      {2, {"Select Red Image:", "Select Green Image:", "Select Blue Image:"}, 1, 0, 3, 1, {0, 1, 2}, -1, {1, 2, 3}},
      {3,
       {"Select Luma Image:", "Select Red Image:", "Select Green Image:", "Select Blue Image:"},
       0,
       1,
       4,
       0,
       {1, 2, 3},
       0,
       {0, 1, 2, 3}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.mode);
    std::vector<std::string> paths;
    std::vector<std::array<UInt32, 2>> sizes;
    for (UInt32 k = 0; k < c.count; ++k) {
      const UInt32 w = k == 0 ? 400 : 300, h = k == 0 ? 300 : 200;
      sizes.push_back({w, h});
      paths.push_back(Write("layer" + std::to_string(c.mode) + std::to_string(k) + ".tif", k, w, h));
    }
    ScriptedUser user;
    std::vector<std::string> prompts;
    for (const auto& p : paths) ChooseWithPrompt(user, p, &prompts);
    user.Do([&] {
      WindowRef align = FindWindow("LRGBAlign");
      ASSERT_NE(align, nullptr);
      EXPECT_TRUE(ItemEnabled());
      const auto* a = reinterpret_cast<const MyLRGBAlignDataStruct*>(GetWRefCon(align));
      EXPECT_EQ(a->mLayerCount, c.count);
      EXPECT_EQ(a->mReferenceLayer, c.reference);
      EXPECT_EQ(a->mActiveLayer, c.active);
      EXPECT_EQ(a->mOpaque, 0);
      // Each display copy: alpha 128, and only its channel when it has one.
      for (UInt32 k = 0; k < c.count; ++k) {
        ASSERT_NE(a->mLayerImage[k], nullptr);
        EXPECT_EQ(a->mLayerWidth[k], sizes[k][0]);
        EXPECT_EQ(a->mLayerHeight[k], sizes[k][1]);
        const UInt32 only = c.displayChannel[k];
        bool alpha = true, others = true;
        for (UInt32 i = 0; i < sizes[k][0] * sizes[k][1]; ++i) {
          const UInt8* px = a->mLayerImage[k] + 4 * size_t(i);
          alpha &= px[0] == 128;
          for (UInt32 ch = 1; ch <= 3; ++ch) others &= only == 0 || ch == only || px[ch] == 0;
        }
        EXPECT_TRUE(alpha) << k;
        EXPECT_TRUE(others) << k;
      }
    });
    user.ClickOK("LRGBAlign");
    ASSERT_EQ(myImportLRGBLayers(c.mode), noErr);
    EXPECT_EQ(prompts, c.prompts);
    MyImageWindowDataStruct* r = Record();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mWidth, 300u);
    EXPECT_EQ(r->mHeight, 200u);
    EXPECT_EQ(r->mGreenOffsetsLocked, c.locked);
    EXPECT_EQ(WindowTitle(r->mImageWindow), "layer" + std::to_string(c.mode) + "0.tif");
    // Pixel (x, y) of the composite is the picture's pixel around the middle.
    bool same = true;
    for (UInt32 y = 0; y < 200 && same; ++y)
      for (UInt32 x = 0; x < 300 && same; ++x) {
        const size_t i = size_t(y) * 300 + x;
        for (UInt32 ch = 0; ch < 3; ++ch) {
          const UInt32 k = c.rgbPicture[ch];
          const UInt32 dx = (sizes[k][0] - 300) / 2, dy = (sizes[k][1] - 200) / 2;
          same &= r->mSourceRGB48[3 * i + ch] == Mark(k, x + dx, y + dy, ch);
          EXPECT_TRUE(same) << x << "," << y << " channel " << ch;
        }
        if (c.lumaPicture >= 0) {
          same &= r->mSourceLuma16[i] == Mark(0, x + 50, y + 50, 0);
          EXPECT_TRUE(same) << "luma at " << x << "," << y;
        }
      }
    myDisposeImageWindow(r);
  }
}

TEST_F(LRGBImport, AMovedLayerIsComposedWhereTheUserPutIt) {
  // Mode 2, the red layer (active) moved 7 right and 3 up with the keys.
  std::vector<std::string> paths;
  for (UInt32 k = 0; k < 3; ++k) paths.push_back(Write("c" + std::to_string(k) + ".tif", k, 100, 80));
  ScriptedUser user;
  for (const auto& p : paths) nav::Choose(user, {p});
  for (int i = 0; i < 7; ++i) user.Key(29, 0x7C);
  for (int i = 0; i < 3; ++i) user.Key(30, 0x7E);
  user.ClickOK("LRGBAlign");
  ASSERT_EQ(myImportLRGBLayers(2), noErr);
  MyImageWindowDataStruct* r = Record();
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->mWidth, 93u);
  ASSERT_EQ(r->mHeight, 77u);
  bool same = true;
  for (UInt32 y = 0; y < 77 && same; ++y)
    for (UInt32 x = 0; x < 93 && same; ++x) {
      const UInt16* px = r->mSourceRGB48 + 3 * (size_t(y) * 93 + x);
      same = px[0] == Mark(0, x, y + 3, 0) && px[1] == Mark(1, x + 7, y, 1) && px[2] == Mark(2, x + 7, y, 2);
      EXPECT_TRUE(same) << x << "," << y;
    }
}

TEST_F(LRGBImport, CancelOrFailureOpensNothingAndReenablesTheItem) {
  const std::string a = Write("a.tif", 0, 40, 30), b = Write("b.tif", 1, 40, 30);
  // Cancelling the first, second, third or fourth dialog of mode 3.
  for (int cancelAt = 0; cancelAt < 4; ++cancelAt) {
    ScriptedUser user;
    for (int k = 0; k < cancelAt; ++k) nav::Choose(user, {k % 2 ? b : a});
    nav::Cancel(user);
    EXPECT_EQ(myImportLRGBLayers(3), userCanceledErr) << cancelAt;
    EXPECT_TRUE(ItemEnabled());
    EXPECT_EQ(Record(), nullptr);
    EXPECT_EQ(SkyloomNavLiveDialogCount(), 0);
  }
  // Cancelling the alignment window.
  ScriptedUser user;
  nav::Choose(user, {a});
  nav::Choose(user, {b});
  user.ClickCancel("LRGBAlign");
  EXPECT_EQ(myImportLRGBLayers(1), userCanceledErr);
  EXPECT_EQ(Record(), nullptr);
  EXPECT_EQ(FindWindow("LRGBAlign"), nullptr);

  // A file that is no picture: the import's error passes through.
  const std::string junk = root_ + "/junk.tif";
  WriteFile(junk, {'n', 'o', 't'});
  ScriptedUser bad;
  nav::Choose(bad, {junk});
  const OSStatus err = myImportLRGBLayers(0);
  EXPECT_NE(err, noErr);
  EXPECT_NE(err, userCanceledErr);
  EXPECT_EQ(Record(), nullptr);
  EXPECT_EQ(myImportLRGBLayers(4), paramErr);
}

TEST_F(LRGBImport, FailedAllocationsGiveMemFullAndFreeEverything) {
  const std::string a = Write("a.tif", 0, 40, 30), b = Write("b.tif", 1, 40, 30);
  // Each plane allocation of a mode-1 run in turn, until the run gets through.
  for (UInt32 n = 1; n < 40; ++n) {
    ScriptedUser user;
    nav::Choose(user, {a});
    nav::Choose(user, {b});
    user.ClickOK("LRGBAlign");
    mySetImagePlaneAllocationFailure(n);
    const OSStatus err = myImportLRGBLayers(1);
    mySetImagePlaneAllocationFailure(0);
    if (err == noErr) {
      ASSERT_GT(n, 6u);  // channel planes, crops, RGB48, LRGB64 come first
      return;
    }
    EXPECT_EQ(err, memFullErr) << n;
    EXPECT_EQ(Record(), nullptr);
  }
  FAIL() << "the run never got through";
}

// ---- the warp of one layer ----

std::vector<UInt16> Ramp(UInt32 w, UInt32 h) {
  std::vector<UInt16> p(size_t(w) * h);
  for (size_t i = 0; i < p.size(); ++i) p[i] = UInt16(i * 7919 % 65536);
  return p;
}

TEST(LRGBWarp, UntouchedOrBarelyTurnedLayersAreCopiedBitForBit) {
  const std::vector<UInt16> layer = Ramp(30, 20);
  for (float rotation : {0.0f, 0.01f, -0.01f}) {
    UInt16* out = myCreateClippedRotatedScaledImageMono16Image(rotation, 1.0f, 1.0f, layer.data(), 30, 20, 5, 4, 45,
                                                               30, 5, 4, 35, 24);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<UInt16>(out, out + layer.size()), layer) << rotation;
    std::free(out);
  }
  // Past the canvas's edges: clipped, the rest zero.
  UInt16* out = myCreateClippedRotatedScaledImageMono16Image(0, 1, 1, layer.data(), 30, 20, 30, -5, 45, 30, 0, 0,
                                                             100, 100);
  ASSERT_NE(out, nullptr);  // the crop held to the 45 x 30 canvas
  EXPECT_EQ(out[0 * 45 + 30], layer[5 * 30 + 0]);
  EXPECT_EQ(out[14 * 45 + 44], layer[19 * 30 + 14]);
  EXPECT_EQ(out[15 * 45 + 30], 0);
  EXPECT_EQ(out[0], 0);
  std::free(out);
  EXPECT_EQ(myCreateClippedRotatedScaledImageMono16Image(0, 1, 1, layer.data(), 30, 20, 0, 0, 45, 30, 10, 0, 10,
                                                         30),
            nullptr);  // an empty rectangle
}

TEST(LRGBWarp, APointLandsWhereTheMapSendsIt) {
  // A point of a layer turned by 25 degrees and scaled by 1.2 x 0.9.
  const UInt32 w = 60, h = 40, ox = 30, oy = 20, cw = 120, ch = 90;
  std::vector<UInt16> layer(w * h, 0);
  const UInt32 px = 15, py = 10;
  layer[py * w + px] = 60000;
  const float rot = 25.0f, sx = 1.2f, sy = 0.9f;
  UInt16* out = myCreateClippedRotatedScaledImageMono16Image(rot, sx, sy, layer.data(), w, h, ox, oy, cw, ch, 0, 0,
                                                             cw, ch);
  ASSERT_NE(out, nullptr);
  // Where the map sends the point's centre (y up from the canvas's bottom).
  const double phi = rot * -0.01745329252;
  const double cx = ox + w / 2.0, cy = ch - oy - h / 2.0;
  const double x0 = (ox + px + 0.5) * sx, y0 = (ch - oy - py - 0.5) * sy;
  const double xr = cx + std::cos(phi) * (x0 - cx) - std::sin(phi) * (y0 - cy);
  const double yr = cy + std::sin(phi) * (x0 - cx) + std::cos(phi) * (y0 - cy);
  double s = 0, mx = 0, my = 0;
  for (UInt32 y = 0; y < ch; ++y)
    for (UInt32 x = 0; x < cw; ++x) s += out[y * cw + x], mx += out[y * cw + x] * (x + 0.5), my += out[y * cw + x] * (y + 0.5);
  EXPECT_NEAR(mx / s, xr, 0.5);
  EXPECT_NEAR(ch - my / s, yr, 0.5);
  // A crop of the turned layer is the same rectangle of the whole canvas.
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x) layer[y * w + x] = UInt16(1000 + x * 300 + y * 500);
  UInt16* whole = myCreateClippedRotatedScaledImageMono16Image(rot, sx, sy, layer.data(), w, h, ox, oy, cw, ch, 0, 0,
                                                               cw, ch);
  UInt16* part = myCreateClippedRotatedScaledImageMono16Image(rot, sx, sy, layer.data(), w, h, ox, oy, cw, ch, 37, 21,
                                                              81, 70);
  ASSERT_NE(whole, nullptr);
  ASSERT_NE(part, nullptr);
  int worst = 0;
  for (UInt32 y = 0; y < 49; ++y)
    for (UInt32 x = 0; x < 44; ++x) worst = std::max(worst, std::abs(part[y * 44 + x] - whole[(y + 21) * cw + x + 37]));
  EXPECT_LE(worst, 1);
  std::free(whole);
  std::free(part);
  std::free(out);
}

TEST(LRGBWarp, ValuesAreClampedAndFailuresLeakNothing) {
  // A hard edge rings under the kernel: under 1 gives 0, over 65534 gives 65535.
  const UInt32 w = 40, h = 40;
  std::vector<UInt16> layer(w * h, 0);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 20; x < w; ++x) layer[y * w + x] = 65535;
  UInt16* out = myCreateClippedRotatedScaledImageMono16Image(0.0f, 1.5f, 1.0f, layer.data(), w, h, 0, 0, w * 2, h, 0,
                                                             0, w * 2, h);
  ASSERT_NE(out, nullptr);
  // Row 20 after the stretch: the edge sits between columns 29 and 30.
  const UInt16* row = out + 20 * w * 2;
  EXPECT_EQ(row[28], 0);       // undershoot
  EXPECT_EQ(*std::max_element(row, row + 2 * w), 65535);  // overshoot
  std::free(out);

  // No float plane: nothing comes back, nothing is left behind (LSan).
  const MyPlaneAllocator before = mySetFloatPlaneAllocator([](size_t) -> void* { return nullptr; });
  EXPECT_EQ(myCreateClippedRotatedScaledImageMono16Image(3.0f, 1, 1, layer.data(), w, h, 0, 0, w, h, 0, 0, w, h),
            nullptr);
  static int calls;
  calls = 0;
  mySetFloatPlaneAllocator([](size_t bytes) -> void* {
    if (++calls == 2) return nullptr;
    void* p = nullptr;
    return posix_memalign(&p, 4096, bytes) == 0 ? p : nullptr;
  });
  EXPECT_EQ(myCreateClippedRotatedScaledImageMono16Image(3.0f, 1, 1, layer.data(), w, h, 0, 0, w, h, 0, 0, w, h),
            nullptr);
  mySetFloatPlaneAllocator(before);
}


// What the alignment canvas shows is what the import composes: a bright point
// of a turned and scaled layer lands in the warped plane where the canvas
// drew it.
TEST(LRGBWarp, LandsWhereTheAlignmentCanvasDrewIt) {
  const UInt32 w = 60, h = 40, cw = 90, ch = 60, px = 15, py = 10;
  const float rot = 25.0f;
  const UInt32 sw = 72, sh = 36;  // 1.2 x 0.9
  std::vector<UInt8> layers[2];
  auto* r = static_cast<MyLRGBAlignDataStruct*>(std::calloc(1, sizeof(MyLRGBAlignDataStruct)));
  ASSERT_NE(r, nullptr);
  for (int k = 0; k < 2; ++k) {
    layers[k].assign(size_t(w) * h * 4 + 16, 0);
    for (size_t i = 0; i < size_t(w) * h; ++i) layers[k][4 * i] = 128;
    r->mLayerImage[k] = layers[k].data();
    r->mLayerWidth[k] = r->mScaledWidth[k] = w;
    r->mLayerHeight[k] = r->mScaledHeight[k] = h;
    r->mLayerRowBytes[k] = w * 4;
    r->mOffsetX[k] = 15;
    r->mOffsetY[k] = 10;
  }
  r->mRecordTag = kLRGBAlignRecordTag;
  r->mLayerCount = 2;
  r->mReferenceLayer = 0;
  r->mActiveLayer = 1;
  r->mOpaque = 1;
  r->mZoom = 1.0f;
  r->mCanvasWidth = cw;
  r->mCanvasHeight = ch;
  r->mCanvasRowBytes = cw * 4;
  r->mScaledWidth[1] = sw;
  r->mScaledHeight[1] = sh;
  r->mRotation[1] = rot;
  std::vector<UInt8> canvas(size_t(cw) * ch * 4 + 16);
  r->mCanvas = canvas.data();
  myUpdateTheLRGBPixelArea(r);
  const std::vector<UInt8> dark(canvas);
  UInt8* bright = layers[1].data() + (size_t(py) * w + px) * 4;
  bright[1] = bright[2] = bright[3] = 255;
  myUpdateTheLRGBPixelArea(r);
  double s = 0, mx = 0, my = 0;
  for (UInt32 y = 0; y < ch; ++y)
    for (UInt32 x = 0; x < cw; ++x) {
      const double d = std::abs(int(canvas[(size_t(y) * cw + x) * 4 + 2]) - int(dark[(size_t(y) * cw + x) * 4 + 2]));
      s += d, mx += d * x, my += d * y;
    }
  std::free(r);
  ASSERT_GT(s, 0.0);

  std::vector<UInt16> layer(size_t(w) * h, 0);
  layer[size_t(py) * w + px] = 60000;
  UInt16* out = myCreateClippedRotatedScaledImageMono16Image(rot, float(sw) / float(w), float(sh) / float(h),
                                                             layer.data(), w, h, 15, 10, cw, ch, 0, 0, cw, ch);
  ASSERT_NE(out, nullptr);
  double t = 0, tx = 0, ty = 0;
  for (UInt32 y = 0; y < ch; ++y)
    for (UInt32 x = 0; x < cw; ++x) t += out[y * cw + x], tx += out[y * cw + x] * double(x), ty += out[y * cw + x] * double(y);
  std::free(out);
  EXPECT_NEAR(tx / t, mx / s, 0.5);
  EXPECT_NEAR(ty / t, my / s, 0.5);
}

// Against OpenCV's warpAffine (Lanczos, constant border 0) on a 2-degree turn,
// run by Debian's python3: RMS within 2 % of full scale inside the layer and
// point centroids within 0.1 px.
TEST(LRGBWarp, AgreesWithOpenCVOnATwoDegreeTurn) {
  const UInt32 w = 200, h = 150, cw = 300, ch = 225, ox = 50, oy = 37;
  std::vector<UInt16> layer(size_t(w) * h);
  for (UInt32 y = 0; y < h; ++y)
    for (UInt32 x = 0; x < w; ++x)
      layer[size_t(y) * w + x] = UInt16(20000 + 12000 * std::sin(x * 0.07) * std::cos(y * 0.05));
  const UInt32 points[][2] = {{40, 30}, {150, 60}, {90, 120}};
  for (const auto& p : points)
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx)
        layer[size_t(p[1] + dy) * w + p[0] + dx] =
            UInt16(std::min(65535.0, layer[size_t(p[1] + dy) * w + p[0] + dx] +
                                         40000 * std::exp(-(dx * dx + dy * dy) / 2.0)));
  UInt16* untouched = myCreateClippedRotatedScaledImageMono16Image(0, 1, 1, layer.data(), w, h, ox, oy, cw, ch, 0, 0,
                                                                   cw, ch);
  UInt16* ours = myCreateClippedRotatedScaledImageMono16Image(2.0f, 1, 1, layer.data(), w, h, ox, oy, cw, ch, 0, 0,
                                                              cw, ch);
  ASSERT_NE(untouched, nullptr);
  ASSERT_NE(ours, nullptr);
  char tmpl[] = "/tmp/skyloom-warp-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const auto dump = [&](const std::string& name, const UInt16* p) {
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(p, 2, size_t(cw) * ch, f), size_t(cw) * ch);
    std::fclose(f);
  };
  dump("canvas.u16", untouched);
  dump("ours.u16", ours);
  std::free(untouched);
  std::free(ours);
  // The map as the import builds it: a turn by -2 degrees about the layer's centre.
  const double phi = double(2.0f * -0.01745329252f), cs = std::cos(phi), sn = std::sin(phi);
  const double cx = ox + w / 2.0, cy = ch - oy - h / 2.0;
  FILE* f = std::fopen((dir + "/warp.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "%u %u %.17g %.17g %.17g %.17g %.17g %.17g %u %u %u %u", cw, ch, cs, sn, -sn, cs,
               cx - cs * cx + sn * cy, cy - sn * cx - cs * cy, ox, oy, w, h);
  for (const auto& p : points) std::fprintf(f, " %u %u", p[0] + ox, p[1] + oy);
  std::fclose(f);
  int status = 0;
  const std::string out = skyloom::test::Run("/usr/bin/python3 '" + std::string(SKYLOOM_SOURCE_DIR) +
                                                 "/tests/image_windows/check_warp_opencv.py' '" + dir + "'",
                                             &status);
  EXPECT_EQ(status, 0) << out;
  std::filesystem::remove_all(dir);
}

}  // namespace
