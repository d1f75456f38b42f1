// Raw Bayer frames through the decompression layer: the component's
// Preflight, Initialize, BeginBand and DrawBand as the base decompressor
// drives them, against direct calls of the demosaic engine.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <barrier>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bayer_codec/BayerCodec.h"
#include "bayer_codec/BayerDecode.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

constexpr OSType kBGGR = FOUR_CHAR_CODE("BGGR");
constexpr UInt8 kGuard = 0xA5;
const OSType kPatterns[] = {FOUR_CHAR_CODE("RGGB"), FOUR_CHAR_CODE("GBRG"), FOUR_CHAR_CODE("GRBG"),
                            FOUR_CHAR_CODE("BGGR")};

struct Description {
  ImageDescription d{};
  ImageDescription* p = &d;
  Description(int w, int h, int depth, long dataSize, CodecQ quality) {
    d.idSize = sizeof d;
    d.cType = kBGGR;
    d.vendor = SInt32(FOUR_CHAR_CODE("ORX "));
    d.width = SInt16(w);
    d.height = SInt16(h);
    d.depth = SInt16(depth);
    d.dataSize = SInt32(dataSize);
    d.spatialQuality = quality;
  }
  ImageDescriptionHandle handle() { return &p; }
};

// A mosaic of w x h samples of bps bytes (16-bit ones big-endian), with the
// pattern's four letters after it when trailer is set.
std::vector<UInt8> frameBytes(int w, int h, int bps, OSType pattern, bool trailer, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::vector<UInt8> f(size_t(w) * h * bps);
  for (auto& b : f) b = UInt8(rng());
  if (trailer)
    for (int k = 0; k < 4; ++k) f.push_back(UInt8(pattern >> (24 - 8 * k)));
  return f;
}

// A picture of its own memory, every byte a guard until drawn.
struct Picture {
  std::vector<UInt8> bytes;
  PixMap pm{};
  Picture(int w, int h, OSType format, int pixelSize, long rowBytes = 0) {
    pm.rowBytes = SInt32(rowBytes ? rowBytes : long(w) * pixelSize / 8);
    bytes.assign(size_t(pm.rowBytes) * size_t(h), kGuard);
    pm.baseAddr = reinterpret_cast<Ptr>(bytes.data());
    pm.bounds = Rect{0, 0, SInt16(h), SInt16(w)};
    pm.pixelFormat = format;
    pm.pixelSize = SInt16(pixelSize);
  }
  bool untouched() const {
    for (UInt8 b : bytes)
      if (b != kGuard) return false;
    return true;
  }
};

// What the engine itself draws for the frame into a dense picture of the depth.
std::vector<UInt8> direct(const std::vector<UInt8>& frame, int w, int h, int bps, OSType pattern, UInt32 method,
                          int pixelSize) {
  std::vector<UInt8> out(size_t(w) * h * pixelSize / 8, kGuard);
  Bayer_DecodetoPixMap(frame.data(), out.data(), pattern, bps, method, UInt32(w * pixelSize / 8), UInt32(w),
                       UInt32(h));
  return out;
}

OSType formatOf(int pixelSize) {
  return pixelSize == 32 ? OSType(k32ARGBPixelFormat) : pixelSize == 48 ? OSType(k48RGBPixelFormat)
                                                                         : OSType(k64ARGBPixelFormat);
}

class DecompressPath : public ::testing::Test {
 protected:
  long components0 = 0;
  SkyloomDecompressSequence seq = nullptr;
  void SetUp() override {
    SkyloomSetComponentBundlePlaces({});
    components0 = SkyloomLiveComponentCount();
    ASSERT_EQ(SkyloomOpenDecompressSequence(kBGGR, &seq), noErr);
  }
  void TearDown() override {
    SkyloomSetDecompressPausePoint(nullptr, nullptr);
    SkyloomCloseDecompressSequence(seq);
    EXPECT_EQ(SkyloomLiveComponentCount(), components0);
  }
  OSErr decode(Description& d, std::vector<UInt8>& frame, Picture& pic, const Rect* at = nullptr) {
    return SkyloomDecompressFrame(seq, d.handle(), reinterpret_cast<Ptr>(frame.data()), SInt32(frame.size()), &pic.pm,
                                  at);
  }
};

// The plug-in's own exported symbol (it is loaded once a codec is open).
void* moduleSymbol(const char* name) {
  const std::string library = std::string(SKYLOOM_ORX_BAYER_BUNDLE) + "/ORX_BAYER.so";
  void* h = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!h) return nullptr;
  void* s = dlsym(h, name);
  dlclose(h);
  return s;
}

// The component opened by itself, for calling its selectors one by one.
struct Codec {
  ComponentInstance ci = nullptr;
  Codec() { EXPECT_EQ(OpenADefaultComponent(decompressorComponentType, kBGGR, &ci), noErr); }
  ~Codec() { CloseComponent(ci); }
  BayerCodecGlobals* globals() const { return reinterpret_cast<BayerCodecGlobals*>(GetComponentInstanceStorage(ci)); }
};

TEST(BayerDecompressSelectors, PreflightAndInitialize) {
  Codec codec;
  ASSERT_NE(codec.ci, nullptr);
  codec.globals()->speedFactor = 1.0;
  struct Case {
    int w, h, depth;
    CodecQ quality;
    UInt32 time;
    std::vector<OSType> formats;
    SInt16 wantedPixelSize;
  };
  const std::vector<OSType> wide = {32, k48RGBPixelFormat, k64ARGBPixelFormat, 0}, argb = {32, 0};
  const Case cases[] = {
      {640, 480, 16, 256, 5, wide, 48},  {640, 480, 16, 768, 8, wide, 48}, {640, 480, 16, 1024, 433, wide, 48},
      {640, 480, 8, 1024, 433, argb, 32}, {0, 480, 16, 1024, 0, argb, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + " bits, quality " + std::to_string(c.quality) + ", width " +
                 std::to_string(c.w));
    Description d(c.w, c.h, c.depth, long(c.w) * c.h * (c.depth / 8), c.quality);
    CodecCapabilities caps{};
    CodecDecompressParams p{};
    p.imageDescription = d.handle();
    p.capabilities = &caps;
    caps.extendWidth = caps.extendHeight = 9;
    ASSERT_EQ(ImageCodecPreflight(codec.ci, &p), noErr);
    EXPECT_EQ(UInt32(caps.flags), 0x08002400u);
    EXPECT_EQ(caps.time, c.time);
    EXPECT_EQ(caps.wantedPixelSize, c.wantedPixelSize);
    EXPECT_EQ(caps.bandMin, c.h);
    EXPECT_EQ(caps.bandInc, c.h);
    EXPECT_EQ(caps.extendWidth, 0);
    EXPECT_EQ(caps.extendHeight, 0);
    // The handle stays the component's own.
    ASSERT_EQ(reinterpret_cast<Handle>(p.wantedDestinationPixelTypes), codec.globals()->wantedPixelFormats);
    std::vector<OSType> slots(*p.wantedDestinationPixelTypes, *p.wantedDestinationPixelTypes + c.formats.size());
    EXPECT_EQ(slots, c.formats);
  }
  ImageSubCodecDecompressCapabilities cap{};
  cap.recordSize = sizeof cap;
  ASSERT_EQ(ImageCodecInitialize(codec.ci, &cap), noErr);
  EXPECT_EQ(cap.decompressRecordSize, SInt32(sizeof(BayerDecompressRecord)));
  EXPECT_TRUE(cap.canAsync);
  EXPECT_EQ(CallComponentCanDo(codec.ci, kImageCodecBeginBandSelect), 1);
}

TEST(BayerDecompressSelectors, BeginBandGeometryAndMethods) {
  Codec codec;
  ASSERT_NE(codec.ci, nullptr);
  struct Case {
    int depth;
    long dataSize;
    CodecQ quality;
    SInt32 bps;
    UInt32 method;
    UInt8 trailer;
  };
  const Case cases[] = {
      {8, 307204, 256, 1, 0, 1},   {8, 307200, 257, 1, 1, 0},   {16, 614404, 768, 2, 1, 1},
      {16, 614400, 769, 2, 2, 0},  {16, 614404, 1024, 2, 2, 1}, {8, 307204, 0, 1, 0, 1},
      {8, 307200, 0xFFFFFFFF, 1, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dataSize) + " bytes, quality " + std::to_string(c.quality));
    Description d(640, 480, c.depth, c.dataSize, c.quality);
    CodecCapabilities caps{};
    CodecDecompressParams p{};
    p.imageDescription = d.handle();
    p.capabilities = &caps;
    p.bufferSize = SInt32(c.dataSize);
    const int pixelSize = c.bps == 2 ? 48 : 32;
    p.dstPixMap.pixelSize = SInt16(pixelSize);
    p.dstPixMap.bounds = Rect{0, 0, 480, 640};
    p.dstPixMap.baseAddr = reinterpret_cast<Ptr>(0x10000);
    p.dstRect = p.dstPixMap.bounds;
    BayerDecompressRecord rec;
    std::memset(&rec, 0xEE, sizeof rec);
    ImageSubCodecDecompressRecord drp{};
    drp.rowBytes = 640 * pixelSize / 8;
    drp.userDecompressRecord = &rec;
    ASSERT_EQ(ImageCodecBeginBand(codec.ci, &p, &drp, 0), noErr);
    EXPECT_EQ(rec.width, 640);
    EXPECT_EQ(rec.height, 480);
    EXPECT_EQ(rec.bytesPerSample, c.bps);
    EXPECT_EQ(rec.dataSize, SInt32(c.dataSize));
    EXPECT_EQ(rec.method, c.method);
    EXPECT_EQ(rec.hasTrailer, c.trailer);
    EXPECT_EQ(drp.frameType, 1);
    EXPECT_EQ(drp.baseAddr, reinterpret_cast<Ptr>(0x10000));
  }
  auto* formats = static_cast<const UInt32*>(moduleSymbol("kNumPixelFormatsSupported"));
  ASSERT_NE(formats, nullptr);
  EXPECT_EQ(*formats, 3u);
  auto method = reinterpret_cast<UInt32 (*)(UInt32)>(moduleSymbol("QTQualitytoBayerMethod"));
  ASSERT_NE(method, nullptr);
  const std::pair<UInt32, UInt32> qualities[] = {{0, 0},   {256, 0},  {257, 1},        {768, 1},
                                                 {769, 2}, {1024, 2}, {0xFFFFFFFF, 2}};
  for (auto [q, m] : qualities) EXPECT_EQ(method(q), m) << q;
}

TEST_F(DecompressPath, FrameDrawnAtTheDestinationRectangle) {
  const int w = 24, h = 16;
  auto frame = frameBytes(w, h, 1, FOUR_CHAR_CODE("GRBG"), true);
  Description d(w, h, 8, long(frame.size()), 768);
  Picture pic(60, 40, k32ARGBPixelFormat, 32);
  const Rect at{10, 20, SInt16(10 + h), SInt16(20 + w)};
  ASSERT_EQ(decode(d, frame, pic, &at), noErr);
  const auto want = direct(frame, w, h, 1, FOUR_CHAR_CODE("GRBG"), 1, 32);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      const UInt8* got = &pic.bytes[size_t(y) * pic.pm.rowBytes + 4 * x];
      const bool inside = y >= 10 && y < 10 + h && x >= 20 && x < 20 + w;
      for (int k = 0; k < 4; ++k) {
        const UInt8 expected = inside ? want[(size_t(y - 10) * w + (x - 20)) * 4 + k] : kGuard;
        ASSERT_EQ(got[k], expected) << x << "," << y;
      }
    }
}

TEST_F(DecompressPath, ThroughTheLayerEqualsTheEngine) {
  const int w = 14, h = 10;
  struct Depth {
    int bps, pixelSize;
  };
  const Depth depths[] = {{1, 32}, {2, 32}, {2, 48}, {2, 64}};
  const std::pair<CodecQ, UInt32> methods[] = {{256, 0}, {768, 1}, {1024, 2}};
  for (const Depth& dp : depths)
    for (bool trailer : {true, false})
      for (OSType pattern : kPatterns)
        for (auto [quality, method] : methods) {
          SCOPED_TRACE(std::to_string(dp.bps * 8) + " bits to depth " + std::to_string(dp.pixelSize) +
                       (trailer ? " with trailer " : " without trailer ") + std::to_string(pattern) + " method " +
                       std::to_string(method));
          auto frame = frameBytes(w, h, dp.bps, pattern, trailer, pattern + method);
          Description d(w, h, dp.bps * 8, long(frame.size()), quality);
          Picture pic(w, h, formatOf(dp.pixelSize), dp.pixelSize);
          ASSERT_EQ(decode(d, frame, pic), noErr);
          EXPECT_EQ(pic.bytes, direct(frame, w, h, dp.bps, trailer ? pattern : FOUR_CHAR_CODE("RGGB"), method,
                                      dp.pixelSize));
        }
}

TEST_F(DecompressPath, WholeFramesOfTheMovieSize) {
  for (int bps : {1, 2}) {
    auto frame = frameBytes(640, 480, bps, FOUR_CHAR_CODE("GBRG"), true);
    Description d(640, 480, bps * 8, long(frame.size()), 1024);
    const int pixelSize = bps == 1 ? 32 : 48;
    Picture pic(640, 480, formatOf(pixelSize), pixelSize);
    ASSERT_EQ(decode(d, frame, pic), noErr);
    EXPECT_EQ(pic.bytes, direct(frame, 640, 480, bps, FOUR_CHAR_CODE("GBRG"), 2, pixelSize)) << bps;
  }
}

// The data procedure hands over the frame from a store of its own.
struct Loader {
  const std::vector<UInt8>* frame;
  long asked = 0;
  int calls = 0;
  OSErr answer = noErr;
};
OSErr loadFrame(Ptr* dataP, long bytesNeeded, long refCon) {
  auto* l = reinterpret_cast<Loader*>(refCon);
  l->asked = bytesNeeded;
  ++l->calls;
  if (l->answer != noErr) return l->answer;
  *dataP = reinterpret_cast<Ptr>(const_cast<UInt8*>(l->frame->data()));
  return noErr;
}

TEST(BayerDecompressSelectors, DataProcedureFramesKeepTheirPattern) {
  Codec codec;
  ASSERT_NE(codec.ci, nullptr);
  const int w = 12, h = 8;
  for (int bps : {1, 2}) {
    const OSType gbrg = FOUR_CHAR_CODE("GBRG");
    const auto frame = frameBytes(w, h, bps, gbrg, true);
    const int pixelSize = bps == 1 ? 32 : 48;
    Description d(w, h, bps * 8, long(frame.size()), 768);
    Picture pic(w, h, formatOf(pixelSize), pixelSize);
    CodecCapabilities caps{};
    CodecDecompressParams p{};
    p.imageDescription = d.handle();
    p.capabilities = &caps;
    p.bufferSize = SInt32(frame.size());
    p.dstPixMap = pic.pm;
    p.dstRect = pic.pm.bounds;
    BayerDecompressRecord rec{};
    ImageSubCodecDecompressRecord drp{};
    drp.baseAddr = pic.pm.baseAddr;
    drp.rowBytes = pic.pm.rowBytes;
    drp.userDecompressRecord = &rec;
    Loader loader{&frame};
    drp.dataProcRecord = {loadFrame, reinterpret_cast<long>(&loader)};
    ASSERT_EQ(ImageCodecBeginBand(codec.ci, &p, &drp, 0), noErr);
    // A failing load is returned and draws nothing.
    loader.answer = -39;
    EXPECT_EQ(ImageCodecDrawBand(codec.ci, &drp), -39);
    EXPECT_TRUE(pic.untouched());
    loader.answer = noErr;
    ASSERT_EQ(ImageCodecDrawBand(codec.ci, &drp), noErr);
    EXPECT_EQ(loader.asked, long(frame.size()));
    EXPECT_EQ(loader.calls, 2);
    EXPECT_EQ(pic.bytes, direct(frame, w, h, bps, gbrg, 1, pixelSize)) << bps;
    EXPECT_NE(pic.bytes, direct(frame, w, h, bps, FOUR_CHAR_CODE("RGGB"), 1, pixelSize)) << bps;
  }
}

TEST_F(DecompressPath, SizesThatDoNotDescribeTheSampleAreRefused) {
  const int w = 16, h = 12;
  const long n = long(w) * h;
  struct Case {
    const char* what;
    int width, bps;
    long dataSize;
    long sampleBytes;  // the buffer handed over, exactly this long
    int pixelSize;
    long rowBytes;  // 0: dense
    OSErr want;
  };
  const Case cases[] = {
      {"8-bit, data size short by 1", w, 1, n - 1, n - 1, 32, 0, codecBadDataErr},
      {"16-bit, data size short by 1", w, 2, 2 * n - 1, 2 * n - 1, 48, 0, codecBadDataErr},
      {"8-bit, data size w x h + 2", w, 1, n + 2, n + 2, 32, 0, codecBadDataErr},
      {"16-bit, data size 2 w x h + 2", w, 2, 2 * n + 2, 2 * n + 2, 48, 0, codecBadDataErr},
      {"3 bytes a sample", w, 3, 3 * n, 3 * n, 48, 0, codecBadDataErr},
      {"width 0", 0, 1, 0, 16, 32, 64, codecBadDataErr},
      {"sample shorter than the data size", w, 1, n + 4, n, 32, 0, codecBadDataErr},
      {"16-bit sample shorter than the data size", w, 2, 2 * n + 4, 2 * n + 2, 48, 0, codecBadDataErr},
      {"16-bit frame into a wider picture", w, 2, 2 * n, 2 * n, 48, 6 * (w + 4), codecBadDataErr},
      {"8-bit frame into 'b48r'", w, 1, n, n, 48, 0, cDepthErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Description d(c.width, h, c.bps == 1 ? 8 : 16, c.dataSize, 1024);
    std::vector<UInt8> sample = frameBytes(1, int(c.sampleBytes), 1, 0, false);
    const int picWidth = c.rowBytes ? int(c.rowBytes * 8 / c.pixelSize) : w;
    Picture pic(picWidth, h, formatOf(c.pixelSize), c.pixelSize, c.rowBytes);
    EXPECT_EQ(decode(d, sample, pic), c.want);
    EXPECT_TRUE(pic.untouched());
  }
  // A frame that does not fit the picture from the destination rectangle.
  auto frame = frameBytes(w, h, 1, 0, false);
  Description d(w, h, 8, n, 1024);
  Picture pic(w, h, k32ARGBPixelFormat, 32);
  const Rect at{1, 0, SInt16(h + 1), SInt16(w)};
  EXPECT_EQ(decode(d, frame, pic, &at), paramErr);
  EXPECT_TRUE(pic.untouched());
}

TEST_F(DecompressPath, FramesFromSeveralThreadsInterleaved) {
  constexpr int kThreads = 4, kPerThread = 2;
  const int w = 40, h = 30;
  struct Job {
    std::vector<UInt8> frame;
    int bps, pixelSize;
    CodecQ quality;
    std::vector<UInt8> alone, together;
  };
  std::vector<Job> jobs;
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    Job j;
    j.bps = 1 + i % 2;
    j.pixelSize = j.bps == 1 ? 32 : (i % 4 == 1 ? 48 : 64);
    j.quality = CodecQ(256 + 384 * (i % 3));
    j.frame = frameBytes(w, h, j.bps, kPatterns[i % 4], true, unsigned(100 + i));
    jobs.push_back(std::move(j));
  }
  auto run = [&](Job& j, std::vector<UInt8>* out) {
    Description d(w, h, j.bps * 8, long(j.frame.size()), j.quality);
    Picture pic(w, h, formatOf(j.pixelSize), j.pixelSize);
    EXPECT_EQ(decode(d, j.frame, pic), noErr);
    *out = pic.bytes;
  };
  for (Job& j : jobs) run(j, &j.alone);

  // Every thread stops after its BeginBand until all four have begun, so
  // that four frames are begun before any is drawn.
  std::barrier<> meet(kThreads);
  SkyloomSetDecompressPausePoint([](void* b) { static_cast<std::barrier<>*>(b)->arrive_and_wait(); }, &meet);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < kPerThread; ++k) run(jobs[size_t(t * kPerThread + k)], &jobs[size_t(t * kPerThread + k)].together);
    });
  for (auto& th : threads) th.join();
  for (size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(jobs[i].together, jobs[i].alone) << "frame " << i;
}

TEST(BayerDecompressSequence, NoDecompressorWithoutTheBundle) {
  char tmpl[] = "/tmp/skyloom-nobundle-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  SkyloomSetComponentBundlePlaces({tmpl});
  SkyloomDecompressSequence seq = reinterpret_cast<SkyloomDecompressSequence>(1);
  EXPECT_EQ(SkyloomOpenDecompressSequence(kBGGR, &seq), noCodecErr);
  EXPECT_EQ(seq, nullptr);
  SkyloomSetComponentBundlePlaces({});
  rmdir(tmpl);
}

}  // namespace
