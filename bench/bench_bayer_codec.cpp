// The ORX_BAYER demosaic engine in MP/s beside the frame-conversion kernel of
// the same method, 640x480 (and 1280x960), in the same run: methods 0, 1 and
// 2, 8-bit samples to ARGB32 and 16-bit samples to 'b48r' (the kernels read
// host-order 16-bit samples and write host-order RGB48, the codec big-endian).
//
// BM_Layer rows decode one whole 640x480 frame as a movie reader does: through
// a decompression sequence, the base decompressor driving the ORX_BAYER
// plug-in's Preflight, BeginBand and DrawBand (a trailer names the pattern).
//
// BM_BandCompress packs one 640x480 32-bit ARGB picture into a raw Bayer
// frame through the plug-in's BandCompress selector (the last band, pattern
// code included).
//
// Targets: BM_BandCompress at least 500 MP/s on one core. Each BM_Codec and
// BM_Layer row at least as fast as the BM_Kernel row of its method and sample width (ratio 1.0 or more); method 2 and the HQ
// kernels, which share its code, at least 100 MP/s at 8 bits and 60 MP/s at
// 16 bits on one core.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bayer_codec/BayerDecode.h"
#include "media/BayerDemosaic.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

std::vector<unsigned char> noise(size_t n) {
  std::mt19937 rng(42);
  std::vector<unsigned char> v(n);
  for (auto& b : v) b = (unsigned char)rng();
  return v;
}

void setRate(benchmark::State& state, double pixels) {
  // Printed as pixels=<rate>/s with SI prefixes: 1.25G/s is 1250 MP/s.
  state.counters["pixels"] = benchmark::Counter(pixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

void applySizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1280, 960})->Unit(benchmark::kMicrosecond);
}

template <UInt32 Method, int InBytes, int OutBytes>
void BM_Codec(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<unsigned char> src = noise(size_t(w) * h * InBytes);
  std::vector<unsigned char> dst(size_t(w) * h * OutBytes);
  for (auto _ : state) {
    Bayer_DecodetoPixMap(src.data(), dst.data(), FOUR_CHAR_CODE("RGGB"), InBytes, Method, w * OutBytes, w, h);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setRate(state, double(w) * h);
}

template <BayerDemosaicKernel K, int InBytes, int OutBytes>
void BM_Kernel(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  const std::vector<unsigned char> src = noise(size_t(w) * h * InBytes);
  std::vector<unsigned char> dst(size_t(w) * h * OutBytes);
  for (auto _ : state) {
    K(src.data(), dst.data(), w * OutBytes, w, h, 1);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setRate(state, double(w) * h);
}

// Qualities that select methods 0, 1 and 2.
constexpr CodecQ kQualityOf[3] = {codecLowQuality, codecHighQuality, codecLosslessQuality};

template <UInt32 Method, int InBytes, int OutBytes>
void BM_Layer(benchmark::State& state) {
  const UInt32 w = UInt32(state.range(0)), h = UInt32(state.range(1));
  std::vector<unsigned char> src = noise(size_t(w) * h * InBytes + 4);
  const char* trailer = "RGGB";
  std::copy(trailer, trailer + 4, src.end() - 4);
  std::vector<unsigned char> dst(size_t(w) * h * OutBytes);
  SkyloomDecompressSequence seq = nullptr;
  if (SkyloomOpenDecompressSequence(FOUR_CHAR_CODE("BGGR"), &seq) != noErr) {
    state.SkipWithError("the ORX_BAYER component is not found");
    return;
  }
  ImageDescription d{};
  ImageDescription* dp = &d;
  d.cType = FOUR_CHAR_CODE("BGGR");
  d.width = SInt16(w);
  d.height = SInt16(h);
  d.depth = SInt16(InBytes * 8);
  d.dataSize = SInt32(src.size());
  d.spatialQuality = kQualityOf[Method];
  PixMap pm{};
  pm.baseAddr = reinterpret_cast<Ptr>(dst.data());
  pm.rowBytes = SInt32(w * OutBytes);
  pm.bounds = Rect{0, 0, SInt16(h), SInt16(w)};
  pm.pixelFormat = OutBytes == 4 ? OSType(k32ARGBPixelFormat) : OSType(k48RGBPixelFormat);
  pm.pixelSize = SInt16(OutBytes * 8);
  for (auto _ : state) {
    if (SkyloomDecompressFrame(seq, &dp, reinterpret_cast<Ptr>(src.data()), SInt32(src.size()), &pm, nullptr) !=
        noErr) {
      state.SkipWithError("the frame was refused");
      break;
    }
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SkyloomCloseDecompressSequence(seq);
  setRate(state, double(w) * h);
}

#define PAIR(method, K, in, out)                                                                         \
  BENCHMARK_TEMPLATE(BM_Codec, method, in, out)->Name("BM_Codec_method" #method "_" #in "byte")->Apply(applySizes); \
  BENCHMARK_TEMPLATE(BM_Kernel, K, in, out)->Name("BM_Kernel_" #K)->Apply(applySizes)
PAIR(0, BayerRGGB8_LQ_ARGB32, 1, 4);
PAIR(1, BayerRGGB8_MQ_ARGB32, 1, 4);
PAIR(2, BayerRGGB8_HQ_ARGB32, 1, 4);
PAIR(0, BayerRGGB16_LQ_RGB48, 2, 6);
PAIR(1, BayerRGGB16_MQ_RGB48, 2, 6);
PAIR(2, BayerRGGB16_HQ_RGB48, 2, 6);

#define LAYER(method, in, out) \
  BENCHMARK_TEMPLATE(BM_Layer, method, in, out)->Name("BM_Layer_method" #method "_" #in "byte")->Args({640, 480})->Unit(benchmark::kMicrosecond)
LAYER(0, 1, 4);
LAYER(1, 1, 4);
LAYER(2, 1, 4);
LAYER(0, 2, 6);
LAYER(1, 2, 6);
LAYER(2, 2, 6);

void BM_BandCompress(benchmark::State& state) {
  const SInt16 w = SInt16(state.range(0)), h = SInt16(state.range(1));
  std::vector<unsigned char> src = noise(size_t(w) * h * 4);
  std::vector<unsigned char> out(size_t(w) * h + 4);
  ComponentInstance ci = nullptr;
  if (OpenADefaultComponent(decompressorComponentType, FOUR_CHAR_CODE("BGGR"), &ci) != noErr) {
    state.SkipWithError("the ORX_BAYER component is not found");
    return;
  }
  ImageDescription d{};
  ImageDescription* dp = &d;
  d.cType = FOUR_CHAR_CODE("BGGR");
  d.width = w;
  d.height = h;
  d.depth = 32;
  CodecCapabilities caps{};
  CodecCompressParams p{};
  p.imageDescription = &dp;
  p.data = reinterpret_cast<Ptr>(out.data());
  p.bufferSize = SInt32(out.size());
  p.capabilities = &caps;
  p.srcPixMap.baseAddr = reinterpret_cast<Ptr>(src.data());
  p.srcPixMap.rowBytes = SInt32(w) * 4;
  p.srcPixMap.bounds = Rect{0, 0, h, w};
  p.srcPixMap.pixelFormat = k32ARGBPixelFormat;
  p.srcPixMap.pixelSize = 32;
  p.stopLine = h;
  p.conditionFlags = codecConditionLastBand;
  if (ImageCodecPreCompress(ci, &p) != noErr) state.SkipWithError("the picture was refused");
  for (auto _ : state) {
    if (ImageCodecBandCompress(ci, &p) != noErr) {
      state.SkipWithError("the band was refused");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  CloseComponent(ci);
  setRate(state, double(w) * h);
}
BENCHMARK(BM_BandCompress)->Args({640, 480})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
