// Raw Bayer movies from the recorder, read back the ways the application
// reads them: every frame decoded by the ORX_BAYER component.
#include <gtest/gtest.h>

#include "tests/support/MovieFolder.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bayer_codec/BayerDecode.h"
#include "camera_driver/DCAMCameraStruct.h"
#include "media/MovieReading.h"
#include "media/MovieRecorder.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/Movies.h"
#include "platform/simcamera/SimScene.h"

namespace {

constexpr UInt32 W = 640, H = 480;

class BayerMovieDecode : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  FSVolumeRefNum volume = 0;
  SInt32 dirID = 0;
  std::vector<Movie> movies;

  void SetUp() override {
    MovieFolder folder;
    MakeMovieFolder("skyloom-bayer-movie", &folder);
    if (HasFatalFailure()) return;
    dir = folder.dir;
    volume = folder.volume;
    dirID = folder.dirID;
    std::filesystem::create_directory(dir / "no-components");
  }
  void TearDown() override {
    SkyloomSetComponentBundlePlaces({});
    for (Movie m : movies) DisposeMovie(m);
    SkyloomSetConfigurationDirectory(nullptr);
    std::filesystem::remove_all(dir);
  }

  // Records two frames of the scene (the first is only the time origin) and
  // opens the movie; `stored` is the sample the second became.
  Movie record(const char* name, UInt32 code, UInt32 bits, std::vector<UInt8>* stored) {
    static MyDCAMCameraStruct* camera = static_cast<MyDCAMCameraStruct*>(std::calloc(1, sizeof(MyDCAMCameraStruct)));
    Str255 pname;
    pname[0] = UInt8(std::strlen(name));
    std::memcpy(pname + 1, name, pname[0]);
    FSSpec fileSpec;
    FSMakeFSSpec(volume, dirID, pname, &fileSpec);
    OSErr err = 1;
    MyMovieRecorderStruct* rec = ORXDCAMCreateMovie(camera, 0, 600, W, H, code, bits, 0, fileSpec, &err);
    EXPECT_EQ(err, noErr);
    if (!rec) return nullptr;
    SimSceneSettings settings;
    settings.width = W;
    settings.height = H;
    SimScene scene(settings);
    const double wb[3] = {1.0, 1.0, 1.0};
    const int pattern = (code & 0xFFFF) == ('G' << 8 | 'R') ? 3 : 1;
    std::vector<UInt16> samples(size_t(W) * H);
    for (UInt32 k = 0; k < 2; ++k) {
      scene.RenderBayer(k, 1.0, wb, pattern, bits, samples.data());
      std::vector<UInt8> in;
      stored->clear();
      for (UInt16 s : samples) {
        if (bits == 8) {
          in.push_back(UInt8(s));
          stored->push_back(UInt8(s));
        } else {
          in.insert(in.end(), {UInt8(s), UInt8(s >> 8)});
          if (std::endian::native == std::endian::big) std::swap(in[in.size() - 2], in[in.size() - 1]);
          stored->insert(stored->end(), {UInt8(s >> 8), UInt8(s)});
        }
      }
      EXPECT_EQ(ORXDCAMAddMovieFrame(rec, in.data(), 1000.0 + 100.0 * k), noErr);
    }
    EXPECT_EQ(ORXDCAMCloseMovie(rec), noErr);
    const char* trailer = pattern == 3 ? "GRBG" : "RGGB";
    stored->insert(stored->end(), trailer, trailer + 4);

    const std::string path = (dir / "movies" / name).string();
    Handle ref = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &ref, long(path.size() + 1)), noErr);
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << path;
    DisposeHandle(ref);
    if (m) movies.push_back(m);
    return m;
  }

  // The frame at media time 0 as RGB48 at the accuracy.
  OSErr read16(Movie m, std::vector<UInt16>* out) {
    Media media = myGetMovie16BitVideoMedia(m, 1);
    EXPECT_NE(media, nullptr);
    out->assign(size_t(W) * H * 3, 0);
    Handle sample = NewHandle(0);
    Handle desc = NewHandle(0);
    GetMediaSampleDescription(media, 1, desc);
    GWorldPtr g = nullptr;
    Rect b{0, 0, SInt16(H), SInt16(W)};
    QTNewGWorld(&g, k48RGBPixelFormat, &b, nullptr, nullptr, 0);
    OSErr err = myGet16BitMediaSampleInRGB48Buff(media, sample, out->data(), W, H, 0, g,
                                                 reinterpret_cast<ImageDescriptionHandle>(desc),
                                                 codecLosslessQuality, 0);
    DisposeGWorld(g);
    DisposeHandle(sample);
    DisposeHandle(desc);
    return err;
  }
};

TEST_F(BayerMovieDecode, SixteenBitMovieAtLosslessQualityIsTheGradientMethod) {
  std::vector<UInt8> stored;
  Movie m = record("stars16.mov", FOUR_CHAR_CODE("bmGR"), 16, &stored);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(stored.size(), size_t(W) * H * 2 + 4);
  // The movie commands set 0x400 first: the 5x5 gradients.
  mySetBayerMediaQuality(m, codecLosslessQuality);
  std::vector<UInt16> got;
  ASSERT_EQ(read16(m, &got), noErr);
  std::vector<UInt8> b48r(size_t(W) * H * 6);
  Bayer_DecodetoPixMap(stored.data(), b48r.data(), FOUR_CHAR_CODE("GRBG"), 2, 2, W * 6, W, H);
  std::vector<UInt16> want(got.size());
  for (size_t i = 0; i < want.size(); ++i) want[i] = UInt16(b48r[2 * i] << 8 | b48r[2 * i + 1]);
  EXPECT_TRUE(got == want);
  // The scene's stars are in the frame: the decode is not flat.
  EXPECT_NE(*std::max_element(got.begin(), got.end()), *std::min_element(got.begin(), got.end()));

  // Without the component's bundle there is no decoder for it.
  SkyloomSetComponentBundlePlaces({(dir / "no-components").string()});
  EXPECT_FALSE(SkyloomCanDecompress(FOUR_CHAR_CODE("BGGR")));
  EXPECT_EQ(read16(m, &got), noCodecErr);
}

TEST_F(BayerMovieDecode, EightBitMovieDrawnAtItsStoredQuality) {
  std::vector<UInt8> stored;
  // 'bl': stored at quality 256, the 2x2 cells.
  Movie m = record("stars8.mov", FOUR_CHAR_CODE("blRG"), 8, &stored);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(stored.size(), size_t(W) * H + 4);
  GWorldPtr g = nullptr;
  Rect b{0, 0, SInt16(H), SInt16(W)};
  ASSERT_EQ(NewGWorld(&g, 32, &b, nullptr, nullptr, 0), noErr);
  std::vector<UInt8> got(size_t(W) * H * 4);
  ASSERT_EQ(myGet8BitMediaSampleInARGB32Buffer(m, nullptr, nullptr, got.data(), W, H, 0, g, 0), noErr);
  EXPECT_EQ(GetMoviesError(), noErr);
  std::vector<UInt8> want(got.size());
  Bayer_DecodetoPixMap(stored.data(), want.data(), FOUR_CHAR_CODE("RGGB"), 1, 0, W * 4, W, H);
  EXPECT_TRUE(got == want);

  SkyloomSetComponentBundlePlaces({(dir / "no-components").string()});
  SetMovieGWorld(m, g, nullptr);
  MoviesTask(m, 0);
  EXPECT_EQ(GetMoviesError(), noCodecErr);
  DisposeGWorld(g);
}

}  // namespace
