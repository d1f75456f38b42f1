// Turning one 3000 x 2000 layer of an LRGB import into its 4500 x 3000 canvas
// by 2 degrees with a 1.01 scale (float conversion, warp, back, crop), on one
// core (floor 1 s), and on every core for comparison; and a whole mode-3
// import of four 3000 x 2000 pictures (luma, red, green, blue) through the
// scripted user, the three colour layers turned by 2 degrees in the
// alignment window (seconds, every core).
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "image_windows/ImageWindow.h"
#include "image_windows/ImageWindowRecord.h"
#include "image_windows/LRGBImport.h"
#include "media/RGB48Files.h"
#include "pixel/RowBands.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/hitoolbox/UIModel.h"
#include "platform/navigation/NavScript.h"

namespace {

constexpr UInt32 kLayerW = 3000, kLayerH = 2000, kCanvasW = 4500, kCanvasH = 3000;

void BM_WarpLayer(benchmark::State& state) {
  static std::vector<UInt16> layer = [] {
    std::vector<UInt16> p(size_t(kLayerW) * kLayerH);
    for (size_t i = 0; i < p.size(); ++i) p[i] = UInt16((i * 2654435761u) >> 16);
    return p;
  }();
  mySetRowBandThreadLimit(UInt32(state.range(0)));
  for (auto _ : state) {
    UInt16* out = myCreateClippedRotatedScaledImageMono16Image(2.0f, 1.01f, 1.01f, layer.data(), kLayerW, kLayerH, 750,
                                                               500, kCanvasW, kCanvasH, 750, 500, 3750, 2500);
    if (!out) state.SkipWithError("the warp failed");
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_WarpLayer)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImportModeThree(benchmark::State& state) {
  char tmpl[] = "/tmp/skyloom-lrgb-bench-XXXXXX";
  if (!mkdtemp(tmpl)) {
    state.SkipWithError("no folder");
    return;
  }
  const std::string dir = tmpl;
  skyloom::ui::SetResourceDirectory(dir);
  skyloom::ui::ResetModel();
  const std::string src = SKYLOOM_SOURCE_DIR;
  if (symlink((src + "/resources/ORX_DCAM.nib").c_str(), (dir + "/ORX_DCAM.nib").c_str()) != 0 ||
      symlink((src + "/resources/Localizable.strings").c_str(), (dir + "/Localizable.strings").c_str()) != 0) {
    state.SkipWithError("no resources");
    return;
  }
  mkdir((dir + "/config").c_str(), 0700);
  SkyloomSetConfigurationDirectory((dir + "/config").c_str());
  std::vector<std::string> files;
  std::vector<UInt16> rgb(size_t(kLayerW) * kLayerH * 3);
  for (int k = 0; k < 4; ++k) {
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = UInt16((i * 2654435761u + k * 977) >> 16);
    files.push_back(dir + "/layer" + std::to_string(k) + ".tif");
    FILE* f = std::fopen(files.back().c_str(), "w");
    if (f) std::fclose(f);
    FSRef ref{};
    FSPathMakeRef(reinterpret_cast<const UInt8*>(files.back().c_str()), &ref, nullptr);
    if (myRGB48ToFileFSRef(ref, FOUR_CHAR_CODE("TIFF"), rgb.data(), kLayerW, kLayerH, 1) != noErr) {
      state.SkipWithError("the pictures could not be written");
      return;
    }
  }
  for (auto _ : state) {
    skyloom::ui::ScriptedUser user;
    for (const auto& f : files) skyloom::nav::Choose(user, {f});
    for (SInt32 item = 2; item <= 4; ++item)  // the colour layers turned by 2 degrees
      user.ChooseItem(FOUR_CHAR_CODE("SIZL"), 0, item).Type(FOUR_CHAR_CODE("ROAT"), 0, "2\r");
    user.ClickOK("LRGBAlign");
    if (myImportLRGBLayers(3) != noErr) state.SkipWithError("the import failed");
    state.PauseTiming();
    if (WindowRef w = skyloom::ui::FindWindow("ImageWindow"))
      myDisposeImageWindow(reinterpret_cast<MyImageWindowDataStruct*>(GetWRefCon(w)));
    state.ResumeTiming();
  }
  skyloom::ui::ResetModel();
  SkyloomPreferencesForgetAll();
  SkyloomSetConfigurationDirectory(nullptr);
  skyloom::ui::SetResourceDirectory("");
  std::system(("rm -rf '" + dir + "'").c_str());
}
BENCHMARK(BM_ImportModeThree)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
