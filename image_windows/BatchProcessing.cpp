#include "image_windows/BatchProcessing.h"

#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "image_windows/ImageProcessingPrefs.h"
#include "image_windows/ImageWindow.h"
#include "image_windows/RenderPipeline.h"
#include "media/PictureImport.h"
#include "media/RGB48Files.h"
#include "pixel/LumaRGB48.h"
#include "platform/corefoundation/CFRunLoop.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"
#include "utilities/LowLevel.h"

namespace {

constexpr MenuCommand kProcessImagesCommand = FOUR_CHAR_CODE("PRBI");
constexpr OSType kPictureTypes[] = {FOUR_CHAR_CODE("PICT"), FOUR_CHAR_CODE("JPEG"), FOUR_CHAR_CODE("GIFf"),
                                    FOUR_CHAR_CODE("8BPS"), FOUR_CHAR_CODE("qtif"), FOUR_CHAR_CODE("TPIC"),
                                    FOUR_CHAR_CODE("BMPf"), FOUR_CHAR_CODE("TIFF")};
constexpr NavDialogOptionFlags kOutputFolderOptions = 5;
constexpr UInt32 kOutputFolderPreferenceKey = 19;

std::atomic<bool> gBatchRunning{false};
std::atomic<MyBatchTestHook> gTestHook{nullptr};
std::atomic<OSStatus> gThreadFailure{0};

void testPoint(int point, UInt32 index, const MyBatchProcessDataStruct* job) {
  if (auto hook = gTestHook.load()) hook(point, index, job);
}

// ---- Finishing on the main thread ----
struct Finishing {
  MyBatchWindowStruct* window;
  MenuCommand command;
};
std::mutex gFinishMutex;
std::vector<Finishing> gFinishing;
CFRunLoopSourceRef gFinishSource = nullptr;  // made on the main thread, kept for the process

void performFinishing(void*) {
  std::vector<Finishing> due;
  {
    std::lock_guard<std::mutex> lock(gFinishMutex);
    due.swap(gFinishing);
  }
  for (const Finishing& f : due) {
    if (f.window != nullptr) myBatchWindowSetBusy(f.window, false);
    myFinnishOffBatchWindow(f.window);  // enables 'PRBI'
    if (f.command != kProcessImagesCommand) EnableMenuCommand(nullptr, f.command);
  }
  if (!due.empty()) gBatchRunning.store(false);
}

void makeFinishSource() {
  if (gFinishSource != nullptr) return;
  CFRunLoopSourceContext context{};
  context.perform = performFinishing;
  gFinishSource = CFRunLoopSourceCreate(nullptr, 0, &context);
  if (gFinishSource != nullptr) CFRunLoopAddSource(CFRunLoopGetMain(), gFinishSource, kCFRunLoopCommonModes);
}

void postFinishing(MyBatchWindowStruct* window, MenuCommand command) {
  {
    std::lock_guard<std::mutex> lock(gFinishMutex);
    gFinishing.push_back({window, command});
  }
  CFRunLoopSourceSignal(gFinishSource);
  CFRunLoopWakeUp(CFRunLoopGetMain());
}

std::string utf8(CFStringRef s) {
  if (s == nullptr) return std::string();
  const CFIndex size = CFStringGetMaximumSizeForEncoding(CFStringGetLength(s), kCFStringEncodingUTF8) + 1;
  std::string out(size_t(size), '\0');
  if (!CFStringGetCString(s, out.data(), size, kCFStringEncodingUTF8)) return std::string();
  out.resize(strlen(out.c_str()));
  return out;
}

// True when folder/name exists and is one of the inputs (same device and inode).
bool namesAnInput(const FSRef* folder, CFStringRef name, const FSRef* inputs, UInt32 count) {
  UInt8 path[PATH_MAX];
  if (FSRefMakePath(folder, path, sizeof path) != noErr) return false;
  const std::string target = std::string(reinterpret_cast<char*>(path)) + "/" + utf8(name);
  struct stat there;
  if (stat(target.c_str(), &there) != 0) return false;
  for (UInt32 i = 0; i < count; ++i) {
    struct stat in;
    if (FSRefMakePath(&inputs[i], path, sizeof path) == noErr && stat(reinterpret_cast<char*>(path), &in) == 0 &&
        in.st_dev == there.st_dev && in.st_ino == there.st_ino)
      return true;
  }
  return false;
}

// A plane of the image allocator. The batch needs some 60 bytes a pixel for
// every file; on fresh memory the page faults cost more than the processing,
// so a plane kept from the previous picture of the same size is used again,
// and new large planes ask for huge pages (a hint; nothing depends on it).
template <typename T>
bool allocate(T*& plane, size_t bytes) {
  if (plane != nullptr) return true;
  plane = static_cast<T*>(myAllocateImagePlane(bytes));
  if (plane == nullptr) return false;
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(plane) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(plane) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  return true;
}

}  // namespace

// ---- The batch slot and the worker's start and end ----

Boolean myBatchJobRunning() { return gBatchRunning.load(); }

Boolean myClaimBatchJob() {
  bool idle = false;
  if (!gBatchRunning.compare_exchange_strong(idle, true)) return false;
  makeFinishSource();
  return true;
}

void myReleaseBatchJob() { gBatchRunning.store(false); }

OSStatus myStartBatchWorker(MyBatchProcessDataStruct* job, void* (*entry)(void*)) {
  bool mutexMade = false, condMade = false, attrMade = false;
  OSStatus err = pthread_mutex_init(&job->mMutex, nullptr);
  mutexMade = err == 0;
  if (err == 0) {
    err = pthread_cond_init(&job->mCond, nullptr);
    condMade = err == 0;
  }
  if (err == 0) {
    err = pthread_attr_init(&job->mThreadAttr);
    attrMade = err == 0;
  }
  if (err == 0) {
    err = gThreadFailure.exchange(0);
    if (err == 0) err = pthread_create(&job->mThread, &job->mThreadAttr, entry, job);
  }
  if (err != 0) {
    if (attrMade) pthread_attr_destroy(&job->mThreadAttr);
    if (condMade) pthread_cond_destroy(&job->mCond);
    if (mutexMade) pthread_mutex_destroy(&job->mMutex);
    if (job->mCommand != kProcessImagesCommand) EnableMenuCommand(nullptr, job->mCommand);
    myFinnishOffBatchWindow(job->mBatchWindow);  // enables 'PRBI'
    delete job;
    myReleaseBatchJob();
    if (err != userCanceledErr) {
      char text[96];
      snprintf(text, sizeof text, "API Error -  %d 0x%X error Occured", int(err), unsigned(err));
      myPostAlert("", text);
    }
    return err;
  }
  // A fresh joinable thread; detaching it cannot fail.
  pthread_detach(job->mThread);

  // The handshake. The worker waits for mStarterDone before it frees the
  // record, so nothing here can outlive it.
  pthread_mutex_lock(&job->mMutex);
  while (job->mStarted.load() == 0) pthread_cond_wait(&job->mCond, &job->mMutex);
  testPoint(kBatchPointStarterWoke, 0, job);
  job->mStarterDone = 1;
  pthread_cond_broadcast(&job->mCond);
  pthread_mutex_unlock(&job->mMutex);
  return noErr;
}

void myBatchWorkerStarted(MyBatchProcessDataStruct* job) {
  pthread_mutex_lock(&job->mMutex);
  job->mStarted.store(1);
  pthread_mutex_unlock(&job->mMutex);
  pthread_cond_broadcast(&job->mCond);
}

void myBatchWorkerEnd(MyBatchProcessDataStruct* job) {
  pthread_mutex_lock(&job->mMutex);
  while (job->mStarterDone == 0) pthread_cond_wait(&job->mCond, &job->mMutex);
  pthread_mutex_unlock(&job->mMutex);
  job->mStarted.fetch_sub(1);
  pthread_cond_signal(&job->mCond);
  pthread_attr_destroy(&job->mThreadAttr);
  pthread_cond_destroy(&job->mCond);
  pthread_mutex_destroy(&job->mMutex);
  MyBatchWindowStruct* window = job->mBatchWindow;
  const MenuCommand command = job->mCommand;
  delete job;
  postFinishing(window, command);
}

// ---- 'PRBI' ----

OSErr myProcessMultipleImages() {
  if (!myClaimBatchJob()) return noErr;
  auto* job = new (std::nothrow) MyBatchProcessDataStruct{};
  if (job == nullptr) {
    myReleaseBatchJob();
    return -1;
  }
  job->mCommand = kProcessImagesCommand;
  CFStringRef message = myGetLocalizedCFString("OPENFILES");
  OSStatus err = myGetMultipleFSRefForReading(nullptr, message, kBatchMaxFiles, job->mFiles, &job->mFileCount,
                                              FOUR_CHAR_CODE("****"), SInt32(std::size(kPictureTypes)), kPictureTypes,
                                              kNavDefaultNavDlogOptions, 0);
  if (message != nullptr) CFRelease(message);
  if (err == noErr && job->mFileCount > 0)
    err = myUseNavServSelectLocationFSRef(&job->mOutput, kOutputFolderOptions, kOutputFolderPreferenceKey);
  else
    err = userCanceledErr;
  if (err != noErr || job->mFileCount == 0) {
    delete job;
    EnableMenuCommand(nullptr, kProcessImagesCommand);
    myReleaseBatchJob();
    return noErr;
  }
  job->mBatchWindow = mySetUpBatchWindow("PROCMULTIIMGWINTITLE");
  mySortFSRefArray(job->mFiles, job->mFileCount);
  DisableMenuCommand(nullptr, kProcessImagesCommand);
  return OSErr(myStartBatchWorker(job, myDoBatchImageProcessing));
}

MyImageWindowDataStruct* myNewBatchImageRecord() {
  auto* r = static_cast<MyImageWindowDataStruct*>(std::calloc(1, sizeof(MyImageWindowDataStruct)));
  if (r == nullptr) return nullptr;
  r->mRecordTag = kImageWindowRecordTag;
  mySetImageWindowDefaultSettings(r);
  r->mPreview = 1;
  r->mSharpenActive = 0;
  r->mGreenOffsetsLocked = 1;
  mySkyloomCheckForSIMD(&r->mAltivecFlag, &r->mPrefetchFlag);
  myReadWriteImageProcessingPrefs(r, 1);
  // The luminance comes from the picture itself: green is the reference.
  r->mGreenOffsetsLocked = 1;
  r->mGreenHorzOffset = r->mGreenVertOffset = 0;
  for (Float32& amount : r->mSharpAmount) amount = mySharpnessSliderAmount(SInt32(amount));
  return r;
}

void myDisposeBatchImageRecord(MyImageWindowDataStruct* r) {
  if (r == nullptr) return;
  mydumpAllocatedBuffers(r);
  r->mRecordTag = 0;
  std::free(r);
}

OSErr myBatchRenderImage(MyImageWindowDataStruct* r) {
  const size_t pixels = size_t(r->mWidth) * r->mHeight;
  const size_t rgb48 = size_t(r->mRowBytes) * r->mHeight;
  if (!allocate(r->mWorkRGB48, rgb48) || !allocate(r->mSourceLuma16, pixels * 2) ||
      !allocate(r->mSourceLRGB64, pixels * 8))
    return memFullErr;
  myRGB48ToLRGB64AndLuma16(r->mSourceRGB48, r->mSourceLRGB64, r->mSourceLuma16, r->mWidth, r->mHeight);
  if (!allocate(r->mDisplayARGB32, pixels * 4) || !allocate(r->mRenderRGB48, rgb48)) return memFullErr;
  for (UInt16*& plane : r->mDetailLevel)
    if (!allocate(plane, pixels * 2)) return memFullErr;
  for (UInt16*& plane : r->mBlurLevel)
    if (!allocate(plane, pixels * 2)) return memFullErr;
  myBuildBlurCascade(r);
  myBuildDetailLevels(r);
  r->mWindowReady = 1;
  r->mSharpenActive = 1;
  myRenderSettingsToRGB48(r);
  return noErr;
}

OSErr myBatchSaveImage(MyImageWindowDataStruct* r, const FSRef* folder, CFStringRef name, const FSRef* inputs,
                       UInt32 inputCount) {
  if (name == nullptr || CFStringGetLength(name) == 0) return fnfErr;
  // Never over a picture of the job: the output folder may be the input folder.
  if (namesAnInput(folder, name, inputs, inputCount)) return dupFNErr;
  OSErr err = myAppendFileNameToFolderPath(folder, name, 1, &r->mFileRef);
  if (err != noErr) return err;
  if (r->mSave16Bit == 0)
    return myRGB48ToFileFSRef(r->mFileRef, FOUR_CHAR_CODE("TIFF"), r->mRenderRGB48, r->mWidth, r->mHeight, 1);
  auto* luma = static_cast<UInt16*>(myAllocateImagePlane(size_t(r->mWidth) * r->mHeight * 2));
  if (luma == nullptr) return memFullErr;
  myRGB48PtrtoLumaPtr(r->mRenderRGB48, luma, r->mWidth, r->mHeight);
  err = myRGB48ToFileFSRef(r->mFileRef, FOUR_CHAR_CODE("TIFF"), luma, r->mWidth, r->mHeight, 0);
  std::free(luma);
  return err;
}

void* myDoBatchImageProcessing(void* arg) {
  auto* job = static_cast<MyBatchProcessDataStruct*>(arg);
  myBatchWorkerStarted(job);
  MyBatchWindowStruct* window = job->mBatchWindow;
  const UInt32 count = job->mFileCount;
  if (MyImageWindowDataStruct* r = myNewBatchImageRecord()) {
    myBatchWindowSetBusy(window, true);
    OSErr err = noErr;
    for (UInt32 i = 0; i < count && err == noErr && !myBatchWindowStopRequested(window); ++i) {
      Ptr buffer = nullptr;
      UInt32 width = 0, height = 0, rowBytes = 0;
      err = ImportFileIntoRGB48Ptr(job->mFiles[i], &width, &height, &rowBytes, &buffer);
      // The planes of the previous picture serve this one when the sizes match.
      if (err != noErr || width != r->mWidth || height != r->mHeight || rowBytes != r->mRowBytes)
        mydumpAllocatedBuffers(r);
      r->mWidth = width;
      r->mHeight = height;
      r->mRowBytes = rowBytes;
      r->mSourceRGB48 = reinterpret_cast<UInt16*>(buffer);
      r->mSharpenActive = 0;
      if (err == noErr) {
        r->mOffsetsActive = r->mRedHorzOffset != 0 || r->mRedVertOffset != 0 || r->mBlueHorzOffset != 0 ||
                            r->mBlueVertOffset != 0;
        r->mFileRef = job->mFiles[i];
        CFStringRef name = myFSRefGetCFStringName(&r->mFileRef);
        myBatchWindowReport(window, SInt32((i + 1) * 100.0 / count), name);
        testPoint(kBatchPointFileStarted, i, job);
        err = myBatchRenderImage(r);
        if (err == noErr) err = myBatchSaveImage(r, &job->mOutput, name, job->mFiles, count);
        if (name != nullptr) CFRelease(name);
      }
      std::free(r->mSourceRGB48);
      r->mSourceRGB48 = nullptr;
    }
    myDisposeBatchImageRecord(r);
  }
  myBatchWorkerEnd(job);
  return nullptr;
}

void mySetBatchTestHook(MyBatchTestHook hook) { gTestHook.store(hook); }

void myBatchTestPoint(int point, UInt32 index, const MyBatchProcessDataStruct* job) { testPoint(point, index, job); }

void mySetBatchThreadFailure(OSStatus status) { gThreadFailure.store(status); }
