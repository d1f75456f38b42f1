// Importing a 16-bit 3000 x 2000 RGB TIFF into RGB48 (files-to-movie and batch
// import), timed in the same run beside libtiff's own TIFFReadEncodedStrip of
// the same file into a fresh buffer. "vs_libtiff" is libtiff's time over ours
// (1.0: as fast as libtiff; the floor is 0.5).
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/PictureImport.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

std::string makeTIFF(SInt32 method) {
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

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// libtiff alone: open, every strip into one fresh buffer, close.
bool libtiffRead(const std::string& path) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return false;
  const tmsize_t stripBytes = TIFFStripSize(t);
  const tstrip_t strips = TIFFNumberOfStrips(t);
  auto* out = static_cast<UInt8*>(std::malloc(size_t(stripBytes) * strips));
  bool ok = out != nullptr;
  tmsize_t at = 0;
  for (tstrip_t s = 0; ok && s < strips; ++s) {
    const tmsize_t n = TIFFReadEncodedStrip(t, s, out + at, stripBytes);
    ok = n > 0;
    at += n;
  }
  benchmark::DoNotOptimize(out);
  std::free(out);
  TIFFClose(t);
  return ok;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ImportTIFF16(benchmark::State& state) {
  std::string path = makeTIFF(SInt32(state.range(0)));
  FSRef ref;
  FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    // Alternating runs: ours, then libtiff's, on the same file.
    const auto a = std::chrono::steady_clock::now();
    UInt32 w, h, rb;
    Ptr buf = nullptr;
    if (ImportFileIntoRGB48Ptr(ref, &w, &h, &rb, &buf) != noErr) state.SkipWithError("import failed");
    benchmark::DoNotOptimize(buf);
    std::free(buf);
    const auto b = std::chrono::steady_clock::now();
    if (!libtiffRead(path)) state.SkipWithError("libtiff failed");
    const auto c = std::chrono::steady_clock::now();
    ours.push_back(seconds(a, b));
    theirs.push_back(seconds(b, c));
    state.SetIterationTime(seconds(a, b));
  }
  const double o = median(ours), t = median(theirs);
  state.counters["MP/s"] = o > 0 ? 6.0 / o : 0;
  state.counters["libtiff_ms"] = t * 1e3;
  state.counters["vs_libtiff"] = o > 0 ? t / o : 0;
  unlink(path.c_str());
}

}  // namespace

BENCHMARK(BM_ImportTIFF16)->Arg(0)->Arg(kQTTIFFCompression_PackBits)->Unit(benchmark::kMillisecond)
    ->UseManualTime()->MinTime(2.0);

BENCHMARK_MAIN();
