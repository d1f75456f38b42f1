#include <gtest/gtest.h>

#include "tests/support/TestFiles.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bayer_codec/BayerDecode.h"
#include "media/BayerDemosaic.h"
#include "media/MovieLayout.h"
#include "media/MovieReading.h"
#include "media/PixelFormatKernels.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/ImageCodec.h"
#include "platform/quicktime/Movies.h"

namespace {

constexpr UInt32 W = 6, H = 4;

// A movie in the recorder's layout: frames given as stored bytes.
std::vector<UInt8> recordedMovie(UInt32 code, UInt32 bits, UInt32 quality, const std::vector<std::vector<UInt8>>& frames,
                                 UInt32 w = W, UInt32 h = H) {
  OSErr err;
  ImageDescriptionHandle d = myCreateMovieImageDescription(code, bits, quality, w, h, &err);
  EXPECT_EQ(err, noErr);
  const UInt32 F = UInt32(frames[0].size());
  std::vector<float> times;
  for (size_t k = 0; k < frames.size(); ++k) times.push_back(float(1000 + 100 * k));
  MovieAtomParams p{w, h, 1000, times.data(), UInt32(frames.size()), F, 100.0, d, 3029529600u};
  std::vector<UInt8> moov;
  EXPECT_EQ(myBuildMovieAtom(p, &moov), noErr);
  DisposeHandle(reinterpret_cast<Handle>(d));
  std::vector<UInt8> file(kMovieFirstFrameOffset, 0);
  myBuildMovieFileHeader(UInt32(frames.size()), F, file.data());
  for (const auto& f : frames) file.insert(file.end(), f.begin(), f.end());
  file.insert(file.end(), moov.begin(), moov.end());
  return file;
}

std::vector<UInt8> be16Bytes(const std::vector<UInt16>& v) {
  std::vector<UInt8> out;
  for (UInt16 s : v) {
    out.push_back(UInt8(s >> 8));
    out.push_back(UInt8(s));
  }
  return out;
}

class MovieReading : public ::testing::Test {
 protected:
  std::filesystem::path dir;
  std::vector<Movie> movies;
  void SetUp() override {
    char tmpl[] = "/tmp/skyloom-read-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    for (Movie m : movies) DisposeMovie(m);
    std::filesystem::remove_all(dir);
  }
  std::string write(const char* name, const std::vector<UInt8>& bytes) {
    std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }
  Movie open(const std::string& path) {
    Handle ref = nullptr;
    EXPECT_EQ(PtrToHand(path.c_str(), &ref, long(path.size() + 1)), noErr);
    Movie m = nullptr;
    EXPECT_EQ(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << path;
    DisposeHandle(ref);
    if (m) movies.push_back(m);
    return m;
  }
  // Wraps raw frames into a container with ffmpeg.
  std::string ffmpegMovie(const std::vector<UInt8>& raw, const char* inFormat, int w, int h, const std::string& outArgs,
                          const char* name) {
    std::string in = write("in.raw", raw);
    std::string out = (dir / name).string();
    std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt " + std::string(inFormat) + " -s " + std::to_string(w) +
                      "x" + std::to_string(h) + " -r 10 -i " + in + " " + outArgs + " " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
  }
  // Frame k of the first video track, drawn at its movie time into ARGB32.
  std::vector<UInt8> drawFrame(Movie m, int w, int h, TimeValue movieTime) {
    std::vector<UInt8> argb(size_t(w) * h * 4 + 16, 0);
    GWorldPtr g = nullptr;
    Rect b{0, 0, SInt16(h), SInt16(w)};
    EXPECT_EQ(NewGWorld(&g, 32, &b, nullptr, nullptr, 0), noErr);
    EXPECT_EQ(myGet8BitMediaSampleInARGB32Buffer(m, nullptr, nullptr, argb.data(), UInt32(w), UInt32(h), movieTime, g, 0), noErr);
    DisposeGWorld(g);
    argb.resize(size_t(w) * h * 4);
    return argb;
  }
  std::vector<UInt16> read16(Media media, TimeValue t, UInt8 raw, CodecQ accuracy = codecLosslessQuality, size_t extra = 0) {
    std::vector<UInt16> out(W * H * 3 + extra / 2, 0);
    Handle sample = NewHandle(0);
    Handle desc = NewHandle(0);
    GetMediaSampleDescription(media, 1, desc);
    GWorldPtr g = nullptr;
    Rect b{0, 0, SInt16(H), SInt16(W)};
    QTNewGWorld(&g, k48RGBPixelFormat, &b, nullptr, nullptr, 0);
    last16 = myGet16BitMediaSampleInRGB48Buff(media, sample, out.data(), W, H, t, g, reinterpret_cast<ImageDescriptionHandle>(desc), accuracy, raw);
    DisposeGWorld(g);
    DisposeHandle(sample);
    DisposeHandle(desc);
    return out;
  }
  OSErr last16 = 0;
};

}  // namespace

TEST_F(MovieReading, TrackTests) {
  std::vector<UInt8> frame48(W * H * 6, 1), grey(W * H, 7), bayer8(W * H + 4, 9);
  Movie m48 = open(write("a.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 48, 1024, {frame48})));
  Movie mGrey = open(write("g.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 8, 1024, {grey})));
  Movie mBayer = open(write("b.mov", recordedMovie(FOUR_CHAR_CODE("RGGB"), 8, 768, {bayer8})));
  ASSERT_TRUE(m48 && mGrey && mBayer);
  EXPECT_NE(myGetMovie16BitVideoMedia(m48, 0), nullptr);
  EXPECT_EQ(myGetMovie16BitVideoMedia(m48, 1), nullptr);
  EXPECT_EQ(myIsMovieMono(m48), 0);
  EXPECT_EQ(myIsMovieMono(mGrey), 1);
  EXPECT_NE(myGetMovieBayer8BitVideoMedia(mBayer), nullptr);
  EXPECT_EQ(myIsMovieMono(mBayer), 0);
  EXPECT_EQ(myGetMovieBayer8BitVideoMedia(mGrey), nullptr);
  EXPECT_EQ(myThisMovieHasThisTrackType(m48, VideoMediaType), 1);
  EXPECT_EQ(myThisMovieHasThisTrackType(m48, TimeCodeMediaType), 0);
  SetTrackEnabled(GetMovieIndTrack(m48, 1), 0);
  EXPECT_EQ(myThisMovieHasThisTrackType(m48, VideoMediaType), 0);
  EXPECT_EQ(myGetMovie16BitVideoMedia(m48, 0), nullptr);
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
  // Two enabled video tracks: the second undoes the match.
  std::vector<UInt8> raw(W * H * 6 * 2, 0x40);
  std::string two = (dir / "two.mov").string();
  std::string in = write("in48.raw", raw);
  std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt rgb48be -s 6x4 -r 10 -i " + in +
                    " -f rawvideo -pix_fmt rgb48be -s 6x4 -r 10 -i " + in +
                    " -map 0 -map 1 -c:v rawvideo -pix_fmt rgb48be -disposition:v:0 default -disposition:v:1 default " + two;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  Movie mTwo = open(two);
  ASSERT_NE(mTwo, nullptr);
  ASSERT_EQ(GetMovieTrackCount(mTwo), 2);
  ASSERT_TRUE(GetTrackEnabled(GetMovieIndTrack(mTwo, 1)) && GetTrackEnabled(GetMovieIndTrack(mTwo, 2)));
  EXPECT_EQ(myGetMovie16BitVideoMedia(mTwo, 0), nullptr);
  SetTrackEnabled(GetMovieIndTrack(mTwo, 2), 0);
  EXPECT_NE(myGetMovie16BitVideoMedia(mTwo, 0), nullptr);
}

TEST_F(MovieReading, SixteenBitFramesRoundTripByMediaTime) {
  std::vector<UInt16> g0(W * H), g1(W * H), rgb(W * H * 3);
  for (size_t i = 0; i < g0.size(); ++i) {
    g0[i] = UInt16(i * 2011 + 3);
    g1[i] = UInt16(65535 - i * 997);
  }
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = UInt16(i * 769 + 0x0102);
  Movie mg = open(write("g16.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 16, 1024, {be16Bytes(g0), be16Bytes(g1)})));
  Movie mc = open(write("c48.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 48, 1024, {be16Bytes(rgb)})));
  ASSERT_TRUE(mg && mc);
  Media media = myGetMovie16BitVideoMedia(mg, 0);
  ASSERT_NE(media, nullptr);
  EXPECT_EQ(GetMediaTimeScale(media), 1000);
  for (int k = 0; k < 2; ++k) {
    const auto& g = k ? g1 : g0;
    auto out = read16(media, TimeValue(100 * k), 0);
    ASSERT_EQ(last16, noErr);
    for (size_t i = 0; i < g.size(); ++i)
      ASSERT_TRUE(out[3 * i] == g[i] && out[3 * i + 1] == g[i] && out[3 * i + 2] == g[i]) << k << " " << i;
    auto raw = read16(media, TimeValue(100 * k + 50), 1);  // inside the frame's duration
    EXPECT_TRUE(std::equal(g.begin(), g.end(), raw.begin())) << "raw copy in host order";
  }
  EXPECT_EQ(read16(myGetMovie16BitVideoMedia(mc, 0), 0, 0), rgb);
  read16(media, 5000, 0);
  EXPECT_NE(last16, noErr);  // past the end
}

TEST_F(MovieReading, RawBayerSamplesTrailersAndDemosaic) {
  std::vector<UInt16> mosaic(W * H);
  for (size_t i = 0; i < mosaic.size(); ++i) mosaic[i] = UInt16(i * 3001 + 77);
  auto withTrailer = be16Bytes(mosaic);
  for (char c : std::string("GRBG")) withTrailer.push_back(UInt8(c));
  Movie m = open(write("b16.mov", recordedMovie(FOUR_CHAR_CODE("GRBG"), 16, 768, {withTrailer})));
  ASSERT_NE(m, nullptr);
  Media media = myGetMovie16BitVideoMedia(m, 1);
  ASSERT_NE(media, nullptr);
  auto raw = read16(media, 0, 1);
  EXPECT_TRUE(std::equal(mosaic.begin(), mosaic.end(), raw.begin()));
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<UInt8*>(raw.data()) + W * H * 2, "GRBG", 4));
  // Raw Bayer decodes through the decompressor component, by the method of
  // the quality: 768 bilinear (the GRBG family with row 0 red).
  std::vector<UInt16> want(W * H * 3);
  BayerGRBG16_MQ_RGB48(mosaic.data(), want.data(), W * 6, W, H, 1);
  EXPECT_EQ(read16(media, 0, 0, codecHighQuality), want);
  // 0x400: the component's method 2, its big-endian 'b48r' in host order.
  std::vector<UInt8> b48r(W * H * 6);
  Bayer_DecodetoPixMap(withTrailer.data(), b48r.data(), FOUR_CHAR_CODE("GRBG"), 2, 2, W * 6, W, H);
  for (size_t i = 0; i < want.size(); ++i) want[i] = UInt16(b48r[2 * i] << 8 | b48r[2 * i + 1]);
  EXPECT_EQ(read16(media, 0, 0, codecLosslessQuality), want);
  // Descriptions that do not fit the sample: the decoder's errors come back.
  struct Bad {
    SInt16 depth;
    SInt32 dataSize;
    OSErr err;
  };
  const Bad bad[] = {{12, 0, cDepthErr},
                     {16, SInt32(W * H * 2 + 2), codecBadDataErr},
                     {16, SInt32(W * H * 2 + 8), codecBadDataErr},  // more than the sample holds
                     {8, 0, codecBadDataErr}};                        // 16-bit samples under an 8-bit depth
  Handle d = NewHandle(0);
  for (const Bad& b : bad) {
    GetMediaSampleDescription(media, 1, d);
    reinterpret_cast<ImageDescription*>(*d)->depth = b.depth;
    reinterpret_cast<ImageDescription*>(*d)->dataSize = b.dataSize;
    ASSERT_EQ(SetMediaSampleDescription(media, 1, d), noErr);
    read16(media, 0, 0);
    EXPECT_EQ(last16, b.err) << b.depth << " " << b.dataSize;
  }
  DisposeHandle(d);
  // A sample with no trailer gets 'BGGR' appended when read raw.
  Movie bare = open(write("bare.mov", recordedMovie(FOUR_CHAR_CODE("BGGR"), 16, 256, {be16Bytes(mosaic)})));
  auto raw2 = read16(myGetMovie16BitVideoMedia(bare, 1), 0, 1);
  EXPECT_TRUE(std::equal(mosaic.begin(), mosaic.end(), raw2.begin()));
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<UInt8*>(raw2.data()) + W * H * 2, "BGGR", 4));
}

TEST_F(MovieReading, EightBitFramesByMovieTime) {
  std::vector<UInt8> g0(W * H), g1(W * H), argb(W * H * 4), yuv(W * H * 2), bayer(W * H + 4);
  for (size_t i = 0; i < g0.size(); ++i) {
    g0[i] = UInt8(i * 9);
    g1[i] = UInt8(255 - i * 5);
    bayer[i] = UInt8(i * 11);
  }
  std::memcpy(&bayer[W * H], "RGGB", 4);
  for (size_t i = 0; i < argb.size(); ++i) argb[i] = (i % 4 == 0) ? 0xFF : UInt8(i * 7);
  for (size_t i = 0; i < yuv.size(); ++i) yuv[i] = UInt8(40 + i * 5);
  Movie grey = open(write("g8.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 8, 1024, {g0, g1})));
  ASSERT_NE(grey, nullptr);
  // Movie time scale 600, 100 ms frames: frame 1 starts at movie time 60.
  for (int k = 0; k < 2; ++k) {
    auto px = drawFrame(grey, W, H, TimeValue(60 * k));
    const auto& g = k ? g1 : g0;
    for (size_t i = 0; i < g.size(); ++i)
      ASSERT_TRUE(px[4 * i] == 0xFF && px[4 * i + 1] == g[i] && px[4 * i + 2] == g[i] && px[4 * i + 3] == g[i]) << k;
  }
  Movie m32 = open(write("a32.mov", recordedMovie(FOUR_CHAR_CODE("v308"), 32, 1024, {argb})));
  EXPECT_EQ(drawFrame(m32, W, H, 0), argb);
  // 'yuv2' (from 2vuy frames): the 4:2:2 conversion's own rounding.
  std::vector<UInt8> stored(yuv.size()), want(W * H * 4);
  for (size_t i = 0; i < yuv.size(); i += 4) {  // Cb Y0 Cr Y1 -> Y0 Cb' Y1 Cr'
    stored[i] = yuv[i + 1];
    stored[i + 1] = UInt8(yuv[i] ^ 0x80);
    stored[i + 2] = yuv[i + 3];
    stored[i + 3] = UInt8(yuv[i + 2] ^ 0x80);
  }
  YUV422ToARGB32(yuv.data(), want.data(), UInt32(yuv.size()), W, W * 4, 0, 0);
  Movie my = open(write("y.mov", recordedMovie(FOUR_CHAR_CODE("2vuy"), 16, 1024, {stored})));
  EXPECT_EQ(drawFrame(my, W, H, 0), want);
  // Raw Bayer drawn: the 8-bit kernels at the description's quality (768: medium).
  Movie mb = open(write("b8.mov", recordedMovie(FOUR_CHAR_CODE("RGGB"), 8, 768, {bayer})));
  BayerRGGB8_MQ_ARGB32(bayer.data(), want.data(), W * 4, W, H, 1);
  EXPECT_EQ(drawFrame(mb, W, H, 0), want);
  // Raw 8-bit samples: copied with their trailer, or gaining 'BGGR'.
  Media media = myGetMovieBayer8BitVideoMedia(mb);
  std::vector<UInt8> raw(W * H * 4, 0);
  Handle sample = NewHandle(0);
  ASSERT_EQ(myGet8BitMediaSampleInARGB32Buffer(mb, media, sample, raw.data(), W, H, 0, nullptr, 1), noErr);
  EXPECT_TRUE(std::equal(bayer.begin(), bayer.end(), raw.begin()));
  Movie bare = open(write("bare8.mov", recordedMovie(FOUR_CHAR_CODE("BGGR"), 8, 256, {g0})));
  ASSERT_EQ(myGet8BitMediaSampleInARGB32Buffer(bare, myGetMovieBayer8BitVideoMedia(bare), sample, raw.data(), W, H, 0, nullptr, 1), noErr);
  EXPECT_EQ(0, std::memcmp(raw.data() + W * H, "BGGR", 4));
  DisposeHandle(sample);
}

// Grey frames of every width that leaves a tail of the row kernels, odd
// heights: each sample v drawn as FF v v v, as the grey palette says.
TEST_F(MovieReading, GreyFramesOfEveryWidthDrawAsTheirPalette) {
  for (UInt32 w = 1; w <= 67; ++w) {
    for (UInt32 h : {1u, 3u}) {
      std::vector<UInt8> g(size_t(w) * h);
      for (size_t i = 0; i < g.size(); ++i) g[i] = UInt8(i * 29 + w);
      const std::string name = "grey" + std::to_string(w) + "x" + std::to_string(h) + ".mov";
      Movie m = open(write(name.c_str(), recordedMovie(FOUR_CHAR_CODE("raw "), 8, 1024, {g}, w, h)));
      ASSERT_NE(m, nullptr) << w;
      auto px = drawFrame(m, int(w), int(h), 0);
      for (size_t i = 0; i < g.size(); ++i)
        ASSERT_TRUE(px[4 * i] == 0xFF && px[4 * i + 1] == g[i] && px[4 * i + 2] == g[i] && px[4 * i + 3] == g[i])
            << w << "x" << h << " at " << i;
    }
  }
}

// A frame drawn 1:1 into a 32-bit picture goes into the picture's own rows:
// wider pictures and padded rows get the frame at the top left and keep
// every other byte, for each 8-bit decoder (raw Bayer at both a row length
// the decompressor takes and one it would read as another depth).
TEST_F(MovieReading, FramesDrawnOneToOneKeepThePictureAroundThem) {
  std::vector<UInt8> grey(W * H), argb(W * H * 4), rgb(W * H * 3), yuv(W * H * 2), stored(W * H * 2), bayer(W * H + 4);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = bayer[i] = UInt8(i * 37 + 11);
  std::memcpy(&bayer[W * H], "RGGB", 4);
  for (size_t i = 0; i < argb.size(); ++i) argb[i] = UInt8(i * 13 + 1);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = UInt8(i * 17 + 3);
  for (size_t i = 0; i < yuv.size(); ++i) yuv[i] = UInt8(i * 23 + 40);
  for (size_t i = 0; i < yuv.size(); i += 4) {  // Cb Y0 Cr Y1 -> Y0 Cb' Y1 Cr'
    stored[i] = yuv[i + 1];
    stored[i + 1] = UInt8(yuv[i] ^ 0x80);
    stored[i + 2] = yuv[i + 3];
    stored[i + 3] = UInt8(yuv[i + 2] ^ 0x80);
  }
  std::vector<UInt8> wantGrey(W * H * 4), wantRGB(W * H * 4), wantYUV(W * H * 4), wantBayer(W * H * 4);
  Mono8ToARGB32(grey.data(), wantGrey.data(), W * H, W, W * 4, 0, 0);
  RGB24ToARGB32(rgb.data(), wantRGB.data(), W * H * 3, W, W * 4, 0, 0);
  YUV422ToARGB32(yuv.data(), wantYUV.data(), W * H * 2, W, W * 4, 0, 0);
  BayerRGGB8_MQ_ARGB32(bayer.data(), wantBayer.data(), W * 4, W, H, 1);
  struct Case {
    const char* name;
    UInt32 code, bits;
    const std::vector<UInt8>* frame;
    const std::vector<UInt8>* want;
  };
  const Case cases[] = {{"grey", FOUR_CHAR_CODE("raw "), 8, &grey, &wantGrey},
                        {"argb", FOUR_CHAR_CODE("raw "), 32, &argb, &argb},
                        {"rgb", FOUR_CHAR_CODE("raw "), 24, &rgb, &wantRGB},
                        {"yuv", FOUR_CHAR_CODE("2vuy"), 16, &stored, &wantYUV},
                        {"bayer", FOUR_CHAR_CODE("RGGB"), 8, &bayer, &wantBayer}};
  // Pictures: wider and taller with padded rows; the frame's size with rows
  // padded by one pixel.
  const struct {
    int w, h, rowBytes;
  } pictures[] = {{W + 3, H + 2, (W + 3) * 4 + 8}, {W, H, W * 4 + 4}};
  for (const Case& c : cases) {
    Movie m = open(write((std::string(c.name) + ".mov").c_str(), recordedMovie(c.code, c.bits, 768, {*c.frame})));
    ASSERT_NE(m, nullptr) << c.name;
    const std::vector<UInt8>& want = *c.want;
    EXPECT_EQ(drawFrame(m, W, H, 0), want) << c.name;
    for (const auto& pic : pictures) {
      std::vector<UInt8> px(size_t(pic.rowBytes) * pic.h, 0x5A);
      GWorldPtr g = nullptr;
      Rect b{0, 0, SInt16(pic.h), SInt16(pic.w)};
      ASSERT_EQ(NewGWorldFromPtr(&g, k32ARGBPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(px.data()),
                                 pic.rowBytes),
                noErr);
      SetMovieGWorld(m, g, nullptr);
      SetMovieTimeValue(m, 0);
      MoviesTask(m, 0);
      EXPECT_EQ(GetMoviesError(), noErr) << c.name;
      SetMovieGWorld(m, nullptr, nullptr);
      DisposeGWorld(g);
      for (int y = 0; y < pic.h; ++y)
        for (int x = 0; x < pic.rowBytes; ++x) {
          const UInt8 got = px[size_t(y) * pic.rowBytes + x];
          const UInt8 expect = y < int(H) && x < int(W) * 4 ? want[size_t(y) * W * 4 + x] : 0x5A;
          ASSERT_EQ(got, expect) << c.name << " picture " << pic.w << "x" << pic.h << " row " << y << " byte " << x;
        }
    }
  }
}

TEST_F(MovieReading, QualityWritesOnlyWhatChanges) {
  std::vector<UInt8> bayer(W * H + 4, 3);
  Movie m = open(write("q.mov", recordedMovie(FOUR_CHAR_CODE("RGGB"), 8, 768, {bayer})));
  long before = SkyloomSampleDescriptionWrites();
  mySetBayerMediaQuality(m, 768);
  EXPECT_EQ(SkyloomSampleDescriptionWrites(), before);
  mySetBayerMediaQuality(m, codecLosslessQuality);
  EXPECT_EQ(SkyloomSampleDescriptionWrites(), before + 1);
  Handle d = NewHandle(0);
  GetMediaSampleDescription(GetTrackMedia(GetMovieIndTrack(m, 1)), 1, d);
  EXPECT_EQ(reinterpret_cast<ImageDescription*>(*d)->spatialQuality, UInt32(codecLosslessQuality));
  DisposeHandle(d);
}

TEST_F(MovieReading, UnknownCodecAndEmptySample) {
  std::vector<UInt8> rgb24(W * H * 3, 5);
  Movie m = open(write("r24.mov", recordedMovie(FOUR_CHAR_CODE("raw "), 24, 1024, {rgb24})));
  read16(GetTrackMedia(GetMovieIndTrack(m, 1)), 0, 0);
  EXPECT_EQ(last16, -2);
  // An empty sample: the sample-size table says 0 bytes.
  auto file = recordedMovie(FOUR_CHAR_CODE("raw "), 16, 1024, {std::vector<UInt8>(W * H * 2, 1)});
  // Find 'stsz' and make its one sample 0 bytes long: constant size 0 plus a table.
  size_t moov = file.size();
  for (size_t i = kMovieFirstFrameOffset; i + 8 < file.size(); ++i)
    if (std::memcmp(&file[i + 4], "moov", 4) == 0) { moov = i; break; }
  ASSERT_LT(moov, file.size());
  size_t stsz = moov;
  while (std::memcmp(&file[stsz + 4], "stsz", 4) != 0) ++stsz;
  std::vector<UInt8> newStsz = {0, 0, 0, 24, 's', 't', 's', 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
  file.erase(file.begin() + long(stsz), file.begin() + long(stsz + 20));
  file.insert(file.begin() + long(stsz), newStsz.begin(), newStsz.end());
  for (size_t parent : {0u, 116u, 252u, 352u, 476u}) myPutBE32(&file[moov + parent], myGetBE32(&file[moov + parent]) + 4);
  Movie empty = open(write("empty.mov", file));
  ASSERT_NE(empty, nullptr);
  read16(GetTrackMedia(GetMovieIndTrack(empty, 1)), 0, 0);
  EXPECT_EQ(last16, -1);
}

TEST_F(MovieReading, MoviesMadeByFFmpeg) {
  ASSERT_TRUE(skyloom::test::ToolInstalled("ffmpeg"));
  const int w = 16, h = 8, frames = 3;
  std::vector<UInt8> rgb(size_t(w) * h * 3 * frames);
  for (int k = 0; k < frames; ++k)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        UInt8* p = &rgb[((size_t(k) * h + y) * w + x) * 3];
        p[0] = UInt8(x * 12 + k * 30);
        p[1] = UInt8(y * 25);
        p[2] = UInt8(200 - k * 40);
      }
  auto expectFrames = [&](Movie m, int tolerance) {
    ASSERT_NE(m, nullptr);
    for (int k = 0; k < frames; ++k) {
      auto px = drawFrame(m, w, h, TimeValue(GetMovieTimeScale(m) * k / 10));
      double err = 0;
      for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c) err += std::abs(int(px[4 * i + 1 + c]) - int(rgb[(size_t(k) * w * h + i) * 3 + c]));
      err /= w * h * 3;
      EXPECT_LE(err, tolerance) << "frame " << k;
    }
  };
  expectFrames(open(ffmpegMovie(rgb, "rgb24", w, h, "-c:v rawvideo -pix_fmt rgb24", "rgb24.mov")), 0);
  expectFrames(open(ffmpegMovie(rgb, "rgb24", w, h, "-c:v mjpeg -q:v 2", "mjpeg.avi")), 8);
  expectFrames(open(ffmpegMovie(rgb, "rgb24", w, h, "-c:v libx264 -qp 0 -pix_fmt yuv444p", "h264.mp4")), 3);
  // 16-bit grey and 48-bit colour through the 16-bit path, exactly.
  std::vector<UInt16> g(size_t(w) * h);
  for (size_t i = 0; i < g.size(); ++i) g[i] = UInt16(i * 509 + 0x1234);
  std::vector<UInt8> gbytes = be16Bytes(g);
  Movie mg = open(ffmpegMovie(gbytes, "gray16be", w, h, "-c:v rawvideo -pix_fmt gray16be", "g16.mov"));
  ASSERT_NE(mg, nullptr);
  Media media = myGetMovie16BitVideoMedia(mg, 0);
  ASSERT_NE(media, nullptr);
  Handle sample = NewHandle(0), desc = NewHandle(0);
  GetMediaSampleDescription(media, 1, desc);
  std::vector<UInt16> out(size_t(w) * h * 3);
  ASSERT_EQ(myGet16BitMediaSampleInRGB48Buff(media, sample, out.data(), w, h, 0, nullptr,
                                             reinterpret_cast<ImageDescriptionHandle>(desc), 0, 0), noErr);
  for (size_t i = 0; i < g.size(); ++i) ASSERT_EQ(out[3 * i + 1], g[i]);
  DisposeHandle(sample);
  DisposeHandle(desc);
  // 4:2:2 ('yuv2' as ffmpeg writes yuyv422) decodes close to the source.
  expectFrames(open(ffmpegMovie(rgb, "rgb24", w, h, "-c:v rawvideo -pix_fmt yuyv422", "yuv2.mov")), 12);
}

TEST_F(MovieReading, DamagedFilesAreRefused) {
  std::vector<UInt8> grey(W * H, 7);
  auto good = recordedMovie(FOUR_CHAR_CODE("raw "), 8, 1024, {grey, grey});
  Movie m = nullptr;
  Handle ref = nullptr;
  for (size_t cut : {size_t(10), size_t(4100), good.size() - 40, good.size() - 1}) {
    std::string path = write("cut.mov", std::vector<UInt8>(good.begin(), good.begin() + long(cut)));
    PtrToHand(path.c_str(), &ref, long(path.size() + 1));
    EXPECT_NE(NewMovieFromDataRef(&m, 0, nullptr, ref, AliasDataHandlerSubType), noErr) << cut;
    EXPECT_EQ(m, nullptr);
    DisposeHandle(ref);
  }
}
