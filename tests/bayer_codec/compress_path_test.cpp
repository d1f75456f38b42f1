// Colour pictures to raw Bayer frames through the component's compressor
// selectors, and back through its decompressor.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bayer_codec/BayerCodec.h"
#include "media/BayerDemosaic.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

constexpr OSType kBGGR = FOUR_CHAR_CODE("BGGR");
constexpr UInt8 kGuard = 0xA5;

// A picture of 32- or 64-bit ARGB pixels, dense rows unless rowBytes is given.
struct Card {
  int w, h, pixelSize;
  long stride;  // bytes a row, whatever flag bits rowBytes carries
  std::vector<UInt8> bytes;
  PixMap pm{};
  Card(int w_, int h_, int pixelSize_, unsigned seed = 11, long rowBytes = 0) : w(w_), h(h_), pixelSize(pixelSize_) {
    stride = rowBytes ? rowBytes : long(w) * pixelSize / 8;
    pm.rowBytes = SInt32(stride);
    bytes.resize(size_t(stride) * size_t(h));
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = UInt8(rng());
    pm.baseAddr = reinterpret_cast<Ptr>(bytes.data());
    pm.bounds = Rect{0, 0, SInt16(h), SInt16(w)};
    pm.pixelFormat = pixelSize == 32 ? OSType(k32ARGBPixelFormat) : OSType(k64ARGBPixelFormat);
    pm.pixelSize = SInt16(pixelSize);
  }
  void fill(UInt8 a, UInt8 r, UInt8 g, UInt8 b) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        UInt8* p = &bytes[size_t(y) * stride + size_t(x) * 4];
        p[0] = a, p[1] = r, p[2] = g, p[3] = b;
      }
  }
  // The channel (1 R, 2 G, 3 B) of pixel (x, y), 8 or 16 bits.
  unsigned channel(int x, int y, int c) const {
    const UInt8* row = &bytes[size_t(y) * stride];
    if (pixelSize == 32) return row[x * 4 + c];
    UInt16 v;
    std::memcpy(&v, row + x * 8 + c * 2, 2);
    return v;
  }
  // The channel a BGGR mosaic keeps at (x, y).
  unsigned kept(int x, int y) const {
    const bool oddRow = y & 1, oddCol = x & 1;
    return channel(x, y, !oddRow ? (oddCol ? 2 : 3) : (oddCol ? 1 : 2));
  }
};

struct Codec {
  ComponentInstance ci = nullptr;
  Codec() { EXPECT_EQ(OpenADefaultComponent(decompressorComponentType, kBGGR, &ci), noErr); }
  ~Codec() { CloseComponent(ci); }
};

// One band through PreCompress and BandCompress, by hand.
struct Band {
  ImageDescription d{};
  ImageDescription* dp = &d;
  CodecCapabilities caps{};
  CodecCompressParams p{};
  std::vector<UInt8> out;
  Band(const Card& card, long bufferSize, bool last = true) : out(size_t(bufferSize), kGuard) {
    d.idSize = sizeof d;
    d.cType = kBGGR;
    d.width = SInt16(card.w);
    d.height = SInt16(card.h);
    d.depth = SInt16(card.pixelSize);
    p.imageDescription = &dp;
    p.data = reinterpret_cast<Ptr>(out.data());
    p.bufferSize = SInt32(bufferSize);
    p.capabilities = &caps;
    p.srcPixMap = card.pm;
    p.startLine = 0;
    p.stopLine = card.h;
    p.conditionFlags = last ? codecConditionLastBand : 0;
    p.similarity = 0xFF;
  }
};

// Records what the flush and progress procedures were given.
struct Calls {
  std::vector<std::vector<UInt8>> flushed;
  std::vector<Fixed> progress;
  int refuseFlushAt = -1, refuseProgressAt = -1;
};
OSErr recordFlush(Ptr data, long bytes, long refCon) {
  auto* c = reinterpret_cast<Calls*>(refCon);
  c->flushed.emplace_back(reinterpret_cast<UInt8*>(data), reinterpret_cast<UInt8*>(data) + bytes);
  return int(c->flushed.size()) - 1 == c->refuseFlushAt ? OSErr(-1) : OSErr(noErr);
}
OSErr recordProgress(SInt16 message, Fixed completeness, long refCon) {
  auto* c = reinterpret_cast<Calls*>(refCon);
  EXPECT_EQ(message, codecProgressUpdatePercent);
  c->progress.push_back(completeness);
  return int(c->progress.size()) - 1 == c->refuseProgressAt ? OSErr(-1) : OSErr(noErr);
}

std::vector<UInt8> bytesOf(const char* s) { return std::vector<UInt8>(s, s + std::strlen(s)); }

// The card's BGGR mosaic as the demosaic kernels read it: host order.
std::vector<UInt8> mosaic8(const Card& c) {
  std::vector<UInt8> m(size_t(c.w) * c.h);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) m[size_t(y) * c.w + x] = UInt8(c.kept(x, y));
  return m;
}
std::vector<UInt16> mosaic16(const Card& c) {
  std::vector<UInt16> m(size_t(c.w) * c.h);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) m[size_t(y) * c.w + x] = UInt16(c.kept(x, y));
  return m;
}

class CompressPath : public ::testing::Test {
 protected:
  long components0 = 0;
  void SetUp() override {
    SkyloomSetComponentBundlePlaces({});
    components0 = SkyloomLiveComponentCount();
  }
  void TearDown() override { EXPECT_EQ(SkyloomLiveComponentCount(), components0); }

  // Compresses the card, then decodes the frame with the bilinear method
  // into a dense picture of dstFormat.
  std::vector<UInt8> roundTrip(const Card& card, OSType dstFormat, int dstPixelSize, ImageDescription* desc) {
    Ptr data = nullptr;
    EXPECT_EQ(SkyloomCompressImage(&card.pm, nullptr, 768, kBGGR, desc, &data, nullptr), noErr);
    if (!data) return {};
    std::vector<UInt8> out(size_t(card.w) * card.h * dstPixelSize / 8, kGuard);
    PixMap dst{};
    dst.baseAddr = reinterpret_cast<Ptr>(out.data());
    dst.rowBytes = SInt32(card.w * dstPixelSize / 8);
    dst.bounds = Rect{0, 0, SInt16(card.h), SInt16(card.w)};
    dst.pixelFormat = dstFormat;
    dst.pixelSize = SInt16(dstPixelSize);
    SkyloomDecompressSequence seq = nullptr;
    EXPECT_EQ(SkyloomOpenDecompressSequence(kBGGR, &seq), noErr);
    ImageDescription* dp = desc;
    EXPECT_EQ(SkyloomDecompressFrame(seq, &dp, data, desc->dataSize, &dst, nullptr), noErr);
    SkyloomCloseDecompressSequence(seq);
    DisposePtr(data);
    return out;
  }
};

TEST_F(CompressPath, PacksTheBGGRMosaicAndItsPatternCode) {
  Codec codec;
  Card card(4, 2, 32);
  card.fill(255, 10, 20, 30);
  Band b(card, 16);
  ASSERT_EQ(ImageCodecPreCompress(codec.ci, &b.p), noErr);
  EXPECT_EQ(b.caps.wantedPixelSize, 32);
  EXPECT_EQ(b.caps.bandMin, 2);
  EXPECT_EQ(b.caps.bandInc, 2);
  EXPECT_EQ(b.caps.extendWidth, 4);
  EXPECT_EQ(b.caps.extendHeight, 2);
  ASSERT_EQ(ImageCodecBandCompress(codec.ci, &b.p), noErr);
  const std::vector<UInt8> want = {30, 20, 30, 20, 20, 10, 20, 10, 'B', 'G', 'G', 'R', kGuard, kGuard, kGuard, kGuard};
  EXPECT_EQ(b.out, want);
  EXPECT_EQ(b.d.dataSize, 12);
  EXPECT_EQ(b.p.similarity, 0);

  // A band that is not the last leaves the pattern code and the size alone;
  // one starting on an odd line starts with the green-red phase.
  Band mid(card, 16, false);
  mid.p.startLine = 1;
  mid.p.stopLine = 2;
  ASSERT_EQ(ImageCodecBandCompress(codec.ci, &mid.p), noErr);
  EXPECT_EQ(std::vector<UInt8>(mid.out.begin(), mid.out.begin() + 5), (std::vector<UInt8>{20, 10, 20, 10, kGuard}));
  EXPECT_EQ(mid.d.dataSize, 0);
  EXPECT_EQ(mid.p.similarity, 0xFF);
}

TEST_F(CompressPath, PackRowKeepsOneChannelAPixel) {
  // The packer as the plug-in exports it (loaded once a codec is open).
  Codec codec;
  const std::string library = std::string(SKYLOOM_ORX_BAYER_BUNDLE) + "/ORX_BAYER.so";
  void* module = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(module, nullptr);
  auto* pack = reinterpret_cast<decltype(&myPackRowToBayer)>(dlsym(module, "myPackRowToBayer"));
  dlclose(module);
  ASSERT_NE(pack, nullptr);
  // Widths around the packer's groups of four and its final pair.
  for (int w : {1, 2, 3, 4, 5, 6, 7, 9}) {
    for (int depth : {32, 64}) {
      Card card(w, 2, depth, unsigned(w * depth));
      const long bps = depth / 32;
      for (int phase : {0, 1}) {
        std::vector<UInt8> out(size_t(w * bps) + 2, kGuard);
        pack(out.data(), card.bytes.data() + phase * card.stride, UInt32(w), UInt32(depth),
                         UInt32(phase));
        for (int x = 0; x < w; ++x) {
          const unsigned got = bps == 1 ? out[x] : unsigned(out[2 * x] << 8 | out[2 * x + 1]);
          EXPECT_EQ(got, card.kept(x, phase)) << "w " << w << " depth " << depth << " x " << x;
        }
        EXPECT_EQ(out[w * bps], kGuard) << "w " << w << " depth " << depth;
      }
    }
  }
}

TEST_F(CompressPath, SizeAndTimeAnswers) {
  Codec codec;
  const Rect r43{0, 0, 3, 4}, r53{10, 20, 13, 25};
  struct Case {
    const Rect* r;
    SInt16 depth;
    SInt32 size;
  } cases[] = {{&r43, 32, 16}, {&r43, 64, 28}, {&r53, 32, 22}, {&r53, 24, 22}, {&r53, 64, 40}};
  for (const Case& c : cases) {
    SInt32 size = -1;
    EXPECT_EQ(ImageCodecGetMaxCompressionSize(codec.ci, nullptr, c.r, c.depth, 0, &size), noErr);
    EXPECT_EQ(size, c.size) << c.r->right - c.r->left << " depth " << c.depth;
  }

  ImageDescription d{};
  ImageDescription* dp = &d;
  d.width = 640;
  d.height = 480;
  for (auto [depth, want] : {std::pair<SInt16, SInt32>{8, 307204}, {16, 614404}}) {
    d.depth = depth;
    SInt32 size = -1;
    EXPECT_EQ(ImageCodecGetCompressedImageSize(codec.ci, &dp, nullptr, 0, nullptr, &size), noErr);
    EXPECT_EQ(size, want);
  }
  EXPECT_EQ(ImageCodecGetCompressedImageSize(codec.ci, &dp, nullptr, 0, nullptr, nullptr), paramErr);
  SInt32 untouched = -1;
  EXPECT_EQ(ImageCodecGetCompressedImageSize(codec.ci, nullptr, nullptr, 0, nullptr, &untouched), paramErr);
  EXPECT_EQ(untouched, -1);

  CodecQ spatial = 0x123, temporal = 0x200;
  UInt32 time = 0;
  EXPECT_EQ(ImageCodecGetCompressionTime(codec.ci, nullptr, &r43, 32, &spatial, &temporal, &time), noErr);
  EXPECT_EQ(time, 5u);
  EXPECT_EQ(temporal, 0u);
  EXPECT_EQ(spatial, 0x123u);
  EXPECT_EQ(ImageCodecGetCompressionTime(codec.ci, nullptr, &r43, 32, nullptr, nullptr, nullptr), noErr);
  temporal = 0x200;
  EXPECT_EQ(ImageCodecGetCompressionTime(codec.ci, nullptr, &r43, 32, nullptr, &temporal, nullptr), noErr);
  EXPECT_EQ(temporal, 0u);
}

TEST_F(CompressPath, RefusedDepths) {
  Codec codec;
  Card card(4, 2, 32);
  Band b(card, 16);
  for (SInt16 depth : {8, 16, 24, 48}) {
    b.d.depth = depth;
    EXPECT_EQ(ImageCodecPreCompress(codec.ci, &b.p), codecConditionErr) << depth;
  }
  for (SInt16 size : {8, 16, 24, 48}) {
    b.p.srcPixMap.pixelSize = size;
    EXPECT_EQ(ImageCodecBandCompress(codec.ci, &b.p), codecErr) << size;
  }
  EXPECT_EQ(b.out, std::vector<UInt8>(16, kGuard));
}

TEST_F(CompressPath, ProgressReportsEachRowAndMayStop) {
  Codec codec;
  Card card(4, 6, 32);
  {
    Calls calls;
    Band b(card, 28);
    b.p.progressProcRecord = {recordProgress, reinterpret_cast<long>(&calls)};
    ASSERT_EQ(ImageCodecBandCompress(codec.ci, &b.p), noErr);
    std::vector<Fixed> want;
    for (int i = 0; i < 6; ++i) want.push_back(FixDiv(i, 6));
    EXPECT_EQ(calls.progress, want);
    EXPECT_EQ(want[3], 0x8000);
  }
  {
    // Refused at the first call: one row packed, the trailer still written.
    Calls calls;
    calls.refuseProgressAt = 0;
    Band b(card, 28);
    b.p.progressProcRecord = {recordProgress, reinterpret_cast<long>(&calls)};
    EXPECT_EQ(ImageCodecBandCompress(codec.ci, &b.p), codecAbortErr);
    EXPECT_EQ(calls.progress.size(), 1u);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(b.out[x], card.kept(x, 0));
    EXPECT_EQ(std::vector<UInt8>(b.out.begin() + 4, b.out.begin() + 24), std::vector<UInt8>(20, kGuard));
    EXPECT_EQ(std::vector<UInt8>(b.out.begin() + 24, b.out.end()), bytesOf("BGGR"));
    EXPECT_EQ(b.d.dataSize, 28);
  }
}

TEST_F(CompressPath, FlushProcedureTakesEachRow) {
  Codec codec;
  Card card(5, 4, 32);
  {
    // Every row goes through the flush procedure from the same place.
    Calls calls;
    Band b(card, 5);
    b.p.flushProcRecord = {recordFlush, reinterpret_cast<long>(&calls)};
    ASSERT_EQ(ImageCodecBandCompress(codec.ci, &b.p), noErr);
    ASSERT_EQ(calls.flushed.size(), 5u);  // four rows, then the pattern code
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(calls.flushed[y][x], card.kept(x, y)) << x << "," << y;
    EXPECT_EQ(calls.flushed[4], bytesOf("BGGR"));
    EXPECT_EQ(b.d.dataSize, 24);
  }
  {
    // A failing flush stops the packing; the trailer lands where it belongs.
    Calls calls;
    calls.refuseFlushAt = 1;
    Band b(card, 24);
    b.p.flushProcRecord = {recordFlush, reinterpret_cast<long>(&calls)};
    EXPECT_EQ(ImageCodecBandCompress(codec.ci, &b.p), codecSpoolErr);
    EXPECT_EQ(calls.flushed.size(), 2u);
    EXPECT_EQ(std::vector<UInt8>(b.out.begin() + 20, b.out.end()), bytesOf("BGGR"));
    EXPECT_EQ(b.d.dataSize, 24);
  }
  {
    // A buffer shorter than one row is refused before anything is packed.
    Calls calls;
    Band b(card, 4);
    b.p.flushProcRecord = {recordFlush, reinterpret_cast<long>(&calls)};
    EXPECT_EQ(ImageCodecBandCompress(codec.ci, &b.p), codecSpoolErr);
    EXPECT_TRUE(calls.flushed.empty());
    EXPECT_EQ(b.out, std::vector<UInt8>(4, kGuard));
  }
  {
    // Without a flush procedure the buffer must hold the whole frame.
    Band b(card, 23);
    EXPECT_EQ(ImageCodecBandCompress(codec.ci, &b.p), codecErr);
    EXPECT_EQ(b.out, std::vector<UInt8>(23, kGuard));
  }
}

TEST_F(CompressPath, SourceRowsAndRectangle) {
  // Rows with padding and flag bits in rowBytes, and a rectangle inside the
  // picture: each stored sample comes from its own pixel.
  Card card(9, 7, 32, 5, 9 * 4 + 12);
  card.pm.rowBytes |= SInt32(0x80000000u);
  const Rect r{2, 3, 6, 8};
  ImageDescription d{};
  Ptr data = nullptr;
  ASSERT_EQ(SkyloomCompressImage(&card.pm, &r, 512, kBGGR, &d, &data, nullptr), noErr);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(d.width, 5);
  EXPECT_EQ(d.height, 4);
  EXPECT_EQ(d.dataSize, 24);
  const auto* out = reinterpret_cast<const UInt8*>(data);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const unsigned c = (y & 1) ? ((x & 1) ? 1 : 2) : ((x & 1) ? 2 : 3);
      EXPECT_EQ(out[y * 5 + x], card.channel(3 + x, 2 + y, int(c))) << x << "," << y;
    }
  DisposePtr(data);

  const Rect outside{0, 0, 8, 9};
  data = nullptr;
  EXPECT_EQ(SkyloomCompressImage(&card.pm, &outside, 512, kBGGR, &d, &data, nullptr), paramErr);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(SkyloomCompressImage(&card.pm, nullptr, 512, FOUR_CHAR_CODE("none"), &d, &data, nullptr), noCodecErr);
  Card deep(4, 4, 32);
  deep.pm.pixelSize = 16;
  EXPECT_EQ(SkyloomCompressImage(&deep.pm, nullptr, 512, kBGGR, &d, &data, nullptr), codecConditionErr);
  EXPECT_EQ(data, nullptr);
}

TEST_F(CompressPath, OddWidthPacksExactlyWidthSamples) {
  Card card(5, 3, 32);
  ImageDescription d{};
  Ptr data = nullptr;
  ASSERT_EQ(SkyloomCompressImage(&card.pm, nullptr, 768, kBGGR, &d, &data, nullptr), noErr);
  EXPECT_EQ(d.dataSize, 19);
  const auto* out = reinterpret_cast<const UInt8*>(data);
  const std::vector<UInt8> m = mosaic8(card);
  EXPECT_EQ(std::vector<UInt8>(out, out + 15), m);
  EXPECT_EQ(std::vector<UInt8>(out + 15, out + 19), bytesOf("BGGR"));
  DisposePtr(data);

  ImageDescription back{};
  const std::vector<UInt8> decoded = roundTrip(card, k32ARGBPixelFormat, 32, &back);
  std::vector<UInt8> want(size_t(5 * 3 * 4), kGuard);
  BayerGRBG8_MQ_ARGB32(m.data(), want.data(), 5 * 4, 5, 3, 0);
  EXPECT_EQ(decoded, want);
}

TEST_F(CompressPath, RoundTripsThroughTheDecompressor) {
  {
    Card card(64, 48, 32, 3);
    ImageDescription d{};
    const std::vector<UInt8> decoded = roundTrip(card, k32ARGBPixelFormat, 32, &d);
    EXPECT_EQ(d.cType, kBGGR);
    EXPECT_EQ(d.vendor, SInt32(FOUR_CHAR_CODE("ORX ")));
    EXPECT_EQ(d.depth, 8);
    EXPECT_EQ(d.width, 64);
    EXPECT_EQ(d.height, 48);
    EXPECT_EQ(d.spatialQuality, 768u);
    EXPECT_EQ(d.dataSize, 64 * 48 + 4);
    std::vector<UInt8> want(size_t(64 * 48 * 4), kGuard);
    const std::vector<UInt8> m = mosaic8(card);
    BayerGRBG8_MQ_ARGB32(m.data(), want.data(), 64 * 4, 64, 48, 0);
    EXPECT_EQ(decoded, want);
  }
  {
    Card card(38, 26, 64, 4);
    ImageDescription d{};
    const std::vector<UInt8> decoded = roundTrip(card, k48RGBPixelFormat, 48, &d);
    EXPECT_EQ(d.depth, 16);
    EXPECT_EQ(d.dataSize, 2 * 38 * 26 + 4);
    // The decompressor draws 'b48r' values big-endian; the kernel host order.
    std::vector<UInt16> want(size_t(38 * 26 * 3));
    const std::vector<UInt16> m = mosaic16(card);
    BayerGRBG16_MQ_RGB48(m.data(), want.data(), 38 * 6, 38, 26, 0);
    ASSERT_EQ(decoded.size(), want.size() * 2);
    std::vector<UInt16> got(want.size());
    for (size_t i = 0; i < got.size(); ++i) got[i] = UInt16(decoded[2 * i] << 8 | decoded[2 * i + 1]);
    EXPECT_EQ(got, want);
  }
}

}  // namespace
