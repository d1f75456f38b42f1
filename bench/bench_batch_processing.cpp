// One 3000 x 2000 16-bit TIFF through the batch worker's steps on one core:
// the whole file (import, processing, TIFF write) as the worker runs it on
// every file after the first of a size, the first file of a run (a new record
// and new planes), and the processing alone (split, cascade, detail planes,
// render) on the planes the worker keeps from file to file.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_windows/BatchProcessing.h"
#include "media/PictureImport.h"
#include "media/RGB48Files.h"
#include "image_windows/RenderPipeline.h"
#include "pixel/LumaRGB48.h"
#include "pixel/RowBands.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"

namespace {

constexpr UInt32 kWidth = 3000, kHeight = 2000;

struct Folder {
  std::string root, in, out, config;
  FSRef input{}, output{};
  Folder() {
    char tmpl[] = "/tmp/skyloom-bench-batch-XXXXXX";
    root = mkdtemp(tmpl);
    in = root + "/in.tif";
    out = root + "/out";
    config = root + "/config";
    mkdir(out.c_str(), 0700);
    mkdir(config.c_str(), 0700);
    SkyloomSetConfigurationDirectory(config.c_str());
    std::vector<UInt16> px(size_t(kWidth) * kHeight * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = UInt16(i * 2654435761u >> 7);
    if (FILE* f = fopen(in.c_str(), "w")) fclose(f);
    FSPathMakeRef(reinterpret_cast<const UInt8*>(in.c_str()), &input, nullptr);
    FSPathMakeRef(reinterpret_cast<const UInt8*>(out.c_str()), &output, nullptr);
    myRGB48ToFileFSRef(input, FOUR_CHAR_CODE("TIFF"), px.data(), kWidth, kHeight, 1);
  }
  ~Folder() {
    SkyloomSetConfigurationDirectory(nullptr);
    const std::string cmd = "rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", root.c_str());
  }
};

// The worker's loop body: one record for the run, the planes of the previous
// file kept while the size stays.
void BM_BatchFile(benchmark::State& state) {
  mySetRowBandThreadLimit(1);
  Folder folder;
  CFStringRef name = CFSTR("in.tif");
  MyImageWindowDataStruct* r = myNewBatchImageRecord();
  // The first file of the run (new planes) is BM_BatchFirstFile's.
  bool warm = false;
  auto oneFile = [&] {
    Ptr buffer = nullptr;
    UInt32 w = 0, h = 0, rowBytes = 0;
    OSErr err = ImportFileIntoRGB48Ptr(folder.input, &w, &h, &rowBytes, &buffer);
    if (w != r->mWidth || h != r->mHeight || rowBytes != r->mRowBytes) mydumpAllocatedBuffers(r);
    r->mWidth = w;
    r->mHeight = h;
    r->mRowBytes = rowBytes;
    r->mSourceRGB48 = reinterpret_cast<UInt16*>(buffer);
    if (err == noErr) err = myBatchRenderImage(r);
    if (err == noErr) err = myBatchSaveImage(r, &folder.output, name, &folder.input, 1);
    if (err != noErr) state.SkipWithError("the file failed");
    std::free(r->mSourceRGB48);
    r->mSourceRGB48 = nullptr;
  };
  for (auto _ : state) {
    if (!warm) {
      state.PauseTiming();
      oneFile();
      warm = true;
      state.ResumeTiming();
    }
    oneFile();
  }
  myDisposeBatchImageRecord(r);
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_BatchFile)->MinTime(3.0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first file of a run: a new record, every plane new.
void BM_BatchFirstFile(benchmark::State& state) {
  mySetRowBandThreadLimit(1);
  Folder folder;
  CFStringRef name = CFSTR("in.tif");
  for (auto _ : state) {
    MyImageWindowDataStruct* r = myNewBatchImageRecord();
    Ptr buffer = nullptr;
    OSErr err = ImportFileIntoRGB48Ptr(folder.input, &r->mWidth, &r->mHeight, &r->mRowBytes, &buffer);
    r->mSourceRGB48 = reinterpret_cast<UInt16*>(buffer);
    if (err == noErr) err = myBatchRenderImage(r);
    if (err == noErr) err = myBatchSaveImage(r, &folder.output, name, &folder.input, 1);
    if (err != noErr) state.SkipWithError("the file failed");
    myDisposeBatchImageRecord(r);
  }
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_BatchFirstFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BatchProcessing(benchmark::State& state) {
  mySetRowBandThreadLimit(1);
  Folder folder;
  MyImageWindowDataStruct* r = myNewBatchImageRecord();
  Ptr source = nullptr;
  UInt32 w = 0, h = 0, rowBytes = 0;
  if (ImportFileIntoRGB48Ptr(folder.input, &w, &h, &rowBytes, &source) != noErr) {
    state.SkipWithError("import failed");
    return;
  }
  // The planes as the worker has them after its first file.
  r->mWidth = w;
  r->mHeight = h;
  r->mRowBytes = rowBytes;
  r->mSourceRGB48 = static_cast<UInt16*>(std::malloc(size_t(rowBytes) * h + 16));
  std::memcpy(r->mSourceRGB48, source, size_t(rowBytes) * h);
  if (myBatchRenderImage(r) != noErr) state.SkipWithError("no memory");
  std::free(r->mSourceRGB48);
  r->mSourceRGB48 = nullptr;
  for (auto _ : state) {
    state.PauseTiming();
    r->mWidth = w;
    r->mHeight = h;
    r->mRowBytes = rowBytes;
    r->mSourceRGB48 = static_cast<UInt16*>(std::malloc(size_t(rowBytes) * h + 16));
    std::memcpy(r->mSourceRGB48, source, size_t(rowBytes) * h);
    state.ResumeTiming();
    if (myBatchRenderImage(r) != noErr) state.SkipWithError("no memory");
    benchmark::DoNotOptimize(r->mRenderRGB48);
    state.PauseTiming();
    std::free(r->mSourceRGB48);  // the planes stay for the next file, as in the worker
    r->mSourceRGB48 = nullptr;
    state.ResumeTiming();
  }
  std::free(source);
  myDisposeBatchImageRecord(r);
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_BatchProcessing)->MinTime(3.0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The processing's parts, on the planes a first pass made.
void BM_BatchProcessingParts(benchmark::State& state) {
  mySetRowBandThreadLimit(1);
  Folder folder;
  MyImageWindowDataStruct* r = myNewBatchImageRecord();
  Ptr source = nullptr;
  if (ImportFileIntoRGB48Ptr(folder.input, &r->mWidth, &r->mHeight, &r->mRowBytes, &source) != noErr) {
    state.SkipWithError("import failed");
    return;
  }
  r->mSourceRGB48 = reinterpret_cast<UInt16*>(source);
  myBatchRenderImage(r);
  for (auto _ : state) {
    switch (state.range(0)) {
      case 0: myRGB48ToLRGB64AndLuma16(r->mSourceRGB48, r->mSourceLRGB64, r->mSourceLuma16, r->mWidth, r->mHeight); break;
      case 1: myBuildBlurCascade(r); break;
      case 2: myBuildDetailLevels(r); break;
      default: myRenderSettingsToRGB48(r); break;
    }
  }
  myDisposeBatchImageRecord(r);
  mySetRowBandThreadLimit(0);
}
BENCHMARK(BM_BatchProcessingParts)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
