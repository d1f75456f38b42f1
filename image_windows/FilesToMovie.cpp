#include "image_windows/FilesToMovie.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "image_windows/BatchProgress.h"
#include "media/PictureImport.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/Movies.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr MenuCommand kFilesToMovieCommand = FOUR_CHAR_CODE("FIMO");
constexpr MenuCommand kProcessImagesCommand = FOUR_CHAR_CODE("PRBI");
constexpr OSType kPictureTypes[] = {FOUR_CHAR_CODE("PICT"), FOUR_CHAR_CODE("JPEG"), FOUR_CHAR_CODE("GIFf"),
                                    FOUR_CHAR_CODE("8BPS"), FOUR_CHAR_CODE("qtif"), FOUR_CHAR_CODE("TPIC"),
                                    FOUR_CHAR_CODE("BMPf"), FOUR_CHAR_CODE("TIFF")};
constexpr OSType kMovieCreator = FOUR_CHAR_CODE("TVOD");
constexpr TimeScale kMediaTimeScale = 600;
constexpr TimeValue kFrameDuration = 40;  // 15 frames a second at 600

// A start that did not reach the worker: the window finished (which enables
// 'PRBI'), 'FIMO' enabled, the job freed and the batch slot given back.
OSErr abandonStart(MyBatchProcessDataStruct* job, OSStatus err) {
  myFinnishOffBatchWindow(job->mBatchWindow);
  EnableMenuCommand(nullptr, kFilesToMovieCommand);
  delete job;
  myReleaseBatchJob();
  if (err != userCanceledErr) {
    char text[96];
    snprintf(text, sizeof text, "API Error -  %d 0x%X error Occured", int(err), unsigned(err));
    myPostAlert("", text);
  }
  return OSErr(err);
}

void report(MyBatchWindowStruct* window, UInt32 done, UInt32 count, const FSRef* file) {
  CFStringRef name = myFSRefGetCFStringName(file);
  myBatchWindowReport(window, SInt32(done * 100.0 / count), name);
  if (name != nullptr) CFRelease(name);
}

// The movie of the job's pictures. Nothing is written unless the first
// picture imports and the movie can be made; after a later failure or a stop
// the movie keeps the frames added before it.
void makeMovie(MyBatchProcessDataStruct* job, MyBatchWindowStruct* window) {
  const UInt32 count = job->mFileCount;
  UInt32 width = 0, height = 0, rowBytes = 0;
  Ptr picture = nullptr;
  OSErr err = ImportFileIntoRGB48Ptr(job->mFiles[0], &width, &height, &rowBytes, &picture);
  if (err != noErr) return;
  // The description holds the size in 16 bits (the importers stop there too).
  if (width == 0 || height == 0 || width > 0x7FFF || height > 0x7FFF) {
    std::free(picture);
    return;
  }
  const size_t frameBytes = size_t(width) * height * 6;

  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  DataHandler storage = nullptr;
  Movie movie = nullptr;
  Track track = nullptr;
  Media media = nullptr;
  ImageDescriptionHandle desc = nullptr;
  Handle sample = nullptr;
  err = QTNewDataReferenceFromFSRef(&job->mOutput, 0, &dataRef, &dataRefType);
  if (err == noErr)
    err = CreateMovieStorage(dataRef, dataRefType, kMovieCreator, smSystemScript,
                             createMovieFileDeleteCurFile | createMovieFileDontCreateResFile, &storage, &movie);
  if (err == noErr) {
    track = NewMovieTrack(movie, Long2Fix(SInt32(width)), Long2Fix(SInt32(height)), 0);
    if (track == nullptr) err = memFullErr;
  }
  if (err == noErr) {
    media = NewTrackMedia(track, VideoMediaType, kMediaTimeScale, nullptr, 0);
    if (media == nullptr) err = memFullErr;
  }
  if (err == noErr) {
    desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
    sample = NewHandle(Size(frameBytes));
    if (desc == nullptr || sample == nullptr) err = memFullErr;
  }
  if (err == noErr) {
    myFillRGB48ImageDescription(*desc, width, height);
    report(window, 1, count, &job->mFiles[0]);
    myBatchTestPoint(kBatchPointFileStarted, 0, job);
    err = BeginMediaEdits(media);
  }
  if (err == noErr) {
    myRGB48ToBigEndianSample(reinterpret_cast<const UInt16*>(picture), width, height, rowBytes,
                             reinterpret_cast<UInt8*>(*sample), width, height);
    err = AddMediaSample(media, sample, 0, frameBytes, kFrameDuration, reinterpret_cast<Handle>(desc), 1, 0,
                         nullptr);
  }
  std::free(picture);
  picture = nullptr;

  for (UInt32 i = 1; i < count && err == noErr && !myBatchWindowStopRequested(window); ++i) {
    UInt32 w = 0, h = 0, rb = 0;
    err = ImportFileIntoRGB48Ptr(job->mFiles[i], &w, &h, &rb, &picture);
    if (err != noErr) break;
    report(window, i + 1, count, &job->mFiles[i]);
    myBatchTestPoint(kBatchPointFileStarted, i, job);
    myRGB48ToBigEndianSample(reinterpret_cast<const UInt16*>(picture), w, h, rb, reinterpret_cast<UInt8*>(*sample),
                             width, height);
    err = AddMediaSample(media, sample, 0, frameBytes, kFrameDuration, reinterpret_cast<Handle>(desc), 1, 0,
                         nullptr);
    std::free(picture);
    picture = nullptr;
  }

  if (sample != nullptr) DisposeHandle(sample);
  // The frames added so far make the movie, also after an error.
  if (media != nullptr && GetMediaSampleCount(media) > 0) {
    if (EndMediaEdits(media) == noErr)
      InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1);
    AddMovieToStorage(movie, storage);
  }
  if (desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(desc));
  if (storage != nullptr) CloseMovieStorage(storage);
  if (movie != nullptr) DisposeMovie(movie);
  if (dataRef != nullptr) DisposeHandle(dataRef);
}

}  // namespace

void myFillRGB48ImageDescription(ImageDescription* d, UInt32 width, UInt32 height) {
  std::memset(d, 0, sizeof *d);
  d->idSize = sizeof(ImageDescription);
  d->cType = FOUR_CHAR_CODE("b48r");
  d->dataRefIndex = 0;
  d->version = 1;
  d->revisionLevel = 1;
  d->vendor = SInt32(FOUR_CHAR_CODE("appl"));
  d->temporalQuality = 0;
  d->spatialQuality = codecLosslessQuality;
  d->width = SInt16(width);
  d->height = SInt16(height);
  d->hRes = d->vRes = 72 << 16;
  d->dataSize = 0;
  d->frameCount = 1;
  d->depth = 48;
  d->clutID = -1;
}

void myRGB48ToBigEndianSample(const UInt16* picture, UInt32 pictureWidth, UInt32 pictureHeight, UInt32 srcRowBytes,
                              UInt8* sample, UInt32 width, UInt32 height) {
  const size_t sampleRow = size_t(width) * 6;
  if (pictureWidth < width || pictureHeight < height) std::memset(sample, 0, sampleRow * height);
  const UInt32 rows = pictureHeight < height ? pictureHeight : height;
  const size_t values = size_t(pictureWidth < width ? pictureWidth : width) * 3;
  for (UInt32 y = 0; y < rows; ++y) {
    const UInt16* src = reinterpret_cast<const UInt16*>(reinterpret_cast<const UInt8*>(picture) + size_t(y) * srcRowBytes);
    UInt16* dst = reinterpret_cast<UInt16*>(sample + size_t(y) * sampleRow);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    std::memcpy(dst, src, values * 2);
#else
    for (size_t k = 0; k < values; ++k) dst[k] = __builtin_bswap16(src[k]);
#endif
  }
}

OSErr myFilesTo16BitRGB48Movie() {
  if (!myClaimBatchJob()) return noErr;
  auto* job = new (std::nothrow) MyBatchProcessDataStruct{};
  if (job == nullptr) {
    myReleaseBatchJob();
    return -1;
  }
  job->mCommand = kFilesToMovieCommand;
  OSStatus err = myGetMultipleFSRefForReading(nullptr, CFSTR("Select files to create 16 bit movie from:"),
                                              kBatchMaxFiles, job->mFiles, &job->mFileCount, FOUR_CHAR_CODE("****"),
                                              SInt32(std::size(kPictureTypes)), kPictureTypes,
                                              kNavDefaultNavDlogOptions, 0);
  if (err == noErr && job->mFileCount == 0) err = userCanceledErr;
  if (err == noErr)
    err = myNavServSaveFileFSRef(nullptr, CFSTR("Save movie as:"), CFSTR("Untitled.mov"), &job->mOutput,
                                 kMovieCreator, FOUR_CHAR_CODE("MooV"), kNavDefaultNavDlogOptions, 0);
  if (err != noErr) return abandonStart(job, err);
  DisableMenuCommand(nullptr, kProcessImagesCommand);
  job->mBatchWindow = mySetUpBatchWindow("CONVFILETOMOVWINTITLE");
  if (job->mBatchWindow == nullptr) return abandonStart(job, memFullErr);
  mySortFSRefArray(job->mFiles, job->mFileCount);
  // Off before the worker exists: a worker that ends at once enables it again.
  DisableMenuCommand(nullptr, kFilesToMovieCommand);
  return OSErr(myStartBatchWorker(job, myAddFramesToMovie));
}

void* myAddFramesToMovie(void* arg) {
  auto* job = static_cast<MyBatchProcessDataStruct*>(arg);
  myBatchWorkerStarted(job);
  myBatchWindowSetBusy(job->mBatchWindow, true);
  makeMovie(job, job->mBatchWindow);
  myBatchWorkerEnd(job);
  return nullptr;
}
