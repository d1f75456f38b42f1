// Importing a 16-bit 3000 x 2000 RGB TIFF into RGB48 (files-to-movie and batch import).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "media/PictureImport.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/GraphicsExport.h"

static std::string makeTIFF(SInt32 method) {
  const int w = 3000, h = 2000;
  std::vector<UInt16> px(size_t(w) * h * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = UInt16(i * 2654435761u >> 7);
  Rect b{0, 0, h, w};
  GWorldPtr g = nullptr;
  NewGWorldFromPtr(&g, k48RGBPixelFormat, &b, nullptr, nullptr, 0, reinterpret_cast<Ptr>(px.data()), w * 6);
  ComponentInstance ci = nullptr;
  OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeTIFF, &ci);
  GraphicsExportSetInputGWorld(ci, g);
  GraphicsExportSetDepth(ci, 24);
  if (method) GraphicsExportSetCompressionMethod(ci, method);
  std::string path = "/tmp/skyloom-bench-" + std::to_string(getpid()) + "-" + std::to_string(method) + ".tif";
  SkyloomGraphicsExportSetOutputPath(ci, path);
  GraphicsExportDoExport(ci, nullptr);
  CloseComponent(ci);
  DisposeGWorld(g);
  return path;
}

static void BM_ImportTIFF16(benchmark::State& state) {
  std::string path = makeTIFF(SInt32(state.range(0)));
  FSRef ref;
  FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
  for (auto _ : state) {
    UInt32 w, h, rb;
    Ptr buf = nullptr;
    ImportFileIntoRGB48Ptr(ref, &w, &h, &rb, &buf);
    benchmark::DoNotOptimize(buf);
    std::free(buf);
  }
  state.counters["MP/s"] = benchmark::Counter(double(state.iterations()) * 6.0, benchmark::Counter::kIsRate);
  unlink(path.c_str());
}
BENCHMARK(BM_ImportTIFF16)->Arg(0)->Arg(kQTTIFFCompression_PackBits)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
