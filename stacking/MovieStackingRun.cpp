// The per-movie stacking run.
#include "stacking/MovieStackingRun.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "media/MovieReading.h"
#include "pixel/FrameNoise.h"
#include "pixel/StarProfile.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/DataReferences.h"
#include "stacking/AlignWorkerRecords.h"
#include "stacking/CutOffWindow.h"
#include "stacking/OutputFiles.h"
#include "stacking/StackingProgress.h"
#include "tav/AlignThreadObject.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"
#include "utilities/LogFiles.h"
#include "utilities/LowLevel.h"

namespace {

OSStatus noAreas(MyMovieStackContext*) { return noErr; }
OSStatus no8BitRun(StackAlignJob*, Movie, UInt8, UInt8) { return noErr; }

std::atomic<MyStackAreasProc> gAreas{noAreas};
std::atomic<MyProcessMovie8BitProc> gMovie8Bit{no8BitRun};


void alertf(const char* format, long a, long b) {
  char text[256];
  std::snprintf(text, sizeof text, format, int(a), unsigned(b));
  myPostAlert("", text);
}

void showCount(WindowRef window, UInt32 count) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", int(count));
  myChangeControlTxt(window, FOUR_CHAR_CODE("fram"), 0, text);
}

std::string cString(CFStringRef s) {
  if (s == nullptr) return {};
  char buffer[1024];
  if (!CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8)) return {};
  return buffer;
}

// The log "Movie Stack Log <stamp>.txt" in the output folder, open for writing.
OSStatus createLog(StackAlignJob* job) {
  char stamp[64];
  myGetDateTimePaddedString(stamp, 0, 0, 1);
  char name[128];
  std::snprintf(name, sizeof name, "Movie Stack Log %s.txt", stamp);
  CFStringRef s = CFStringCreateWithCString(nullptr, name, kCFStringEncodingUTF8);
  if (s == nullptr) return memFullErr;
  const CFIndex length = CFStringGetLength(s);
  UniChar unicode[128];
  CFStringGetCharacters(s, CFRangeMake(0, length), unicode);
  CFRelease(s);
  FSRef file;
  OSStatus err = FSCreateFileUnicode(&job->mOutputFolder, UniCharCount(length), unicode, kFSCatInfoNone, nullptr,
                                     &file, nullptr);
  if (err == noErr) {
    job->mLogFile = myFSREF_fopenRW(&file);
    if (job->mLogFile == nullptr) err = ioErr;
  }
  job->mLogOpen = job->mLogFile != nullptr ? 1 : 0;
  return err;
}

// The noise region on the unscaled frame: the whole frame, a quarter-size
// window (1 to 4) or the centred three-quarter window (5).
void noiseRegion(UInt32 which, UInt32 w, UInt32 h, UInt32 r[4]) {
  switch (which) {
    case 1: r[0] = 0, r[1] = 0, r[2] = w / 2, r[3] = h / 2; break;
    case 2: r[0] = w / 4, r[1] = 0, r[2] = w / 4 + w / 2, r[3] = h / 2; break;
    case 3: r[0] = 0, r[1] = h / 4, r[2] = w / 2, r[3] = h / 4 + h / 2; break;
    case 4: r[0] = w / 4, r[1] = h / 4, r[2] = w / 4 + w / 2, r[3] = h / 4 + h / 2; break;
    case 5: r[0] = w / 8, r[1] = h / 8, r[2] = w / 8 + 3 * w / 4, r[3] = h / 8 + 3 * h / 4; break;
    default: r[0] = 0, r[1] = 0, r[2] = w, r[3] = h; break;
  }
}

void clearTimeCode(Movie movie) {
  if (!myThisMovieHasThisTrackType(movie, FOUR_CHAR_CODE("tmcd"))) return;
  const long tracks = GetMovieTrackCount(movie);
  for (long i = 1; i <= tracks; ++i) {
    Track track = GetMovieIndTrack(movie, i);
    Media media = track != nullptr ? GetTrackMedia(track) : nullptr;
    if (media == nullptr) continue;
    OSType type = 0;
    GetMediaHandlerDescription(media, &type, nullptr, nullptr);
    if (type != FOUR_CHAR_CODE("tmcd")) continue;
    if (TCSetTimeCodeFlags(GetMediaHandler(media), 0, tcdfShowTimeCode) == noErr) SetTrackEnabled(track, false);
  }
}

// Everything one 16-bit movie owns; freed by release() whatever happened.
struct Movie16 {
  StackAlignJob* job;
  Movie movie;
  Media media;
  UInt8 altivec, prefetch;
  ImageDescriptionHandle desc = nullptr;
  Handle sampleData = nullptr;
  NoiseStatistics* stats = nullptr;
  UInt32* sum = nullptr;
  UInt8* blur = nullptr;
  UInt16* composite = nullptr;
  GWorldPtr gworld = nullptr;
  MAMF* reader = nullptr;
  SharpnessList list = nullptr;
  UInt32 savedAlign = 0, savedBlock = 0, savedScale = 0;

  void freeReader() {
    if (reader == nullptr) return;
    for (UInt32 j = 0; j < kMyMaxAlignWorkers; ++j) {
      if (reader->mWorkers[j] != nullptr) myDisposeAlignThreadObject(reader->mWorkers[j]);
      reader->mWorkers[j] = nullptr;
    }
    for (int s = 0; s < 3; ++s) {
      std::free(reader->mRGBSlot[s]);
      std::free(reader->mMonoSlot[s]);
    }
    std::free(reader->mFrameBuffer);
    delete reader;
    reader = nullptr;
  }
  void release() {
    freeReader();
    std::free(stats);
    if (sampleData != nullptr) DisposeHandle(sampleData);
    if (desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(desc));
    std::free(sum);
    std::free(blur);
    std::free(composite);
    if (gworld != nullptr) DisposeGWorld(gworld);
    if (list != nullptr) DisposeHandle(list);
    job->PIXELALIGN = savedAlign;
    job->PIXELBLOCKSIZE = savedBlock;
    job->SCALE = savedScale;
    if (job->POST != 0 && job->mLogFile != nullptr) std::fflush(job->mLogFile);
  }
};

OSStatus process16(Movie16& m) {
  StackAlignJob* job = m.job;
  WindowRef progress = job->mProgressWindow;
  const UInt8 mono = myIsMovieMono(m.movie);
  m.savedAlign = job->PIXELALIGN;
  m.savedBlock = job->PIXELBLOCKSIZE;
  m.savedScale = job->SCALE;
  // A hand-edited preference must not size the buffers wrong: the movie runs
  // at a scale of 1 to 4 and a block size of 1 to 8.
  job->SCALE = std::clamp<UInt32>(job->SCALE, 1, 4);
  job->PIXELBLOCKSIZE = std::clamp<UInt32>(job->PIXELBLOCKSIZE, 1, 8);

  Rect box;
  GetMovieBox(m.movie, &box);
  const UInt32 width = UInt32(std::max(0, box.right - box.left));
  const UInt32 height = UInt32(std::max(0, box.bottom - box.top));
  const UInt32 scale = job->SCALE;
  const UInt32 rowBytes16 = (width + 15) & ~15u;
  const UInt32 scaledWidth = width * scale, scaledHeight = height * scale;
  const UInt32 scaledRowBytes16 = (scaledWidth + 15) & ~15u;
  const size_t n = size_t(scaledWidth) * scaledHeight;
  static const UInt32 kSampling[] = {1, 4, 9};
  const UInt32 sampling = kSampling[std::min<UInt32>(job->SPATIALSHARPNESS, 2)];

  if (job->PIXELALIGN != 0) {
    const UInt32 m23 = UInt32(2.0 / 3.0 * double(std::min(scaledWidth, scaledHeight)));
    if (m23 <= 32 * job->PIXELBLOCKSIZE) {
      job->PIXELBLOCKSIZE = m23 / 32;
      if (job->PIXELBLOCKSIZE == 0) job->PIXELALIGN = 0;
    }
  }

  Handle desc = NewHandle(86);
  if (desc == nullptr) return memFullErr;
  m.desc = reinterpret_cast<ImageDescriptionHandle>(desc);
  GetMediaSampleDescription(m.media, 1, desc);
  if (GetMoviesError() != noErr || GetHandleSize(desc) < Size(sizeof(ImageDescription))) {
    myPostAlert("", "GetMediaSampleDescription failed");
    return GetMoviesError() != noErr ? GetMoviesError() : OSStatus(-1);
  }
  const bool rawBayer = (**m.desc).cType == FOUR_CHAR_CODE("BGGR");
  Handle probe = NewHandle(Size(8 * n));
  if (probe == nullptr) {
    myPostAlert("", "NewHandle RGB48 failed");
    return memFullErr;
  }
  DisposeHandle(probe);
  m.sampleData = NewHandle(0);
  if (m.sampleData == nullptr) return memFullErr;
  m.stats = static_cast<NoiseStatistics*>(std::calloc(1, sizeof(NoiseStatistics)));
  if (m.stats == nullptr) {
    myPostAlert("", "pFrequencyCountCIPtr allocate failed");
    return -1;
  }
  m.sum = static_cast<UInt32*>(std::calloc(1, size_t(12) * scaledRowBytes16 * scaledHeight + 64));
  if (m.sum == nullptr) {
    myPostAlert("", "SumStackPixels malloc failed");
    return memFullErr;
  }
  m.blur = static_cast<UInt8*>(std::malloc(size_t(scaledRowBytes16) * scaledHeight + 64));
  if (m.blur == nullptr) {
    myPostAlert("", "malloc failed pMono8GausBlurPtr");
    return memFullErr;
  }
  Rect bounds{0, 0, SInt16(height), SInt16(width)};
  OSStatus err = QTNewGWorld(&m.gworld, k48RGBPixelFormat, &bounds, nullptr, nullptr, 0);
  if (err != noErr || m.gworld == nullptr) {
    myPostAlert("", "NewGWorld failed");
    m.gworld = nullptr;
    return err != noErr ? err : OSStatus(memFullErr);
  }
  if (job->CTAVIMAGE != 0) {
    m.composite = static_cast<UInt16*>(std::calloc(1, size_t(6) * scaledRowBytes16 * scaledHeight + 64));
    if (m.composite == nullptr) return memFullErr;
  }
  SetMovieGWorld(m.movie, m.gworld, nullptr);
  SetMovieActive(m.movie, true);

  // The reader record and its thread.
  m.reader = new (std::nothrow) MAMF{};
  if (m.reader == nullptr) return -6666;
  MAMF* r = m.reader;
  r->mGWorld = m.gworld;
  r->mMovie = m.movie;
  r->mSampleDesc = m.desc;
  r->mSampleData = m.sampleData;
  r->mScale = scale;
  r->mChannel = mono != 0 ? 3 : job->COLORCHANNEL;
  r->mGausBlur = job->GAUSBLUR;
  r->mBcgSubtract = job->BCGSUBTRACT;
  r->mQuality = 0x100;
  r->mWidth = width;
  r->mHeight = height;
  r->mMonoRowBytes = rowBytes16;
  r->mScaledWidth = scaledWidth;
  r->mScaledHeight = scaledHeight;
  r->mScaledMonoRowBytes = scaledRowBytes16;
  r->mKind = 0;
  r->mHotPixel = job->REMOVEHOTPIXEL;
  r->mSharpMatch = job->SHARPMATCH;
  r->mRemoveNoise = job->REMOVENOISE;
  r->mMatchTolerance = (double(job->PIXELTOLERANCE) - 1.0) * 0.5;
  r->mSharpen = SInt32(job->SHARPEN);
  r->mAutoExpAlign = job->AUTOEXPALIGN;
  r->mGradLevel = job->GRADLEVEL;
  bool buffers = true;
  for (int s = 0; s < 3; ++s) {
    r->mRGBSlot[s] = static_cast<UInt16*>(std::calloc(1, size_t(6) * scaledRowBytes16 * scaledHeight + 64));
    r->mMonoSlot[s] = static_cast<UInt8*>(std::calloc(1, size_t(scaledRowBytes16) * scaledHeight + 64));
    buffers = buffers && r->mRGBSlot[s] != nullptr && r->mMonoSlot[s] != nullptr;
  }
  r->mFrameBuffer = static_cast<UInt8*>(std::calloc(1, size_t(6) * scaledRowBytes16 * scaledHeight + 64));
  if (!buffers || r->mFrameBuffer == nullptr || myAllocateAlignThread(r) != noErr) {
    m.freeReader();
    return -6666;
  }

  // The sharpness pass: the run measures each slot the reader fills.
  UInt32 region[4];
  noiseRegion(job->WHICHQUADRANT, width, height, region);
  myChangeControlTxtKeyString(progress, FOUR_CHAR_CODE("note"), 0, "CALSHARP16BITKEY");
  UInt32 c = 1;
  err = myMeasureMovieSharpness(job, r, region, sampling, reinterpret_cast<UInt8*>(m.sum), m.altivec, m.prefetch,
                                &m.list, &c);
  myDeallocateAlignThread(r);
  if (err != noErr) return err;
  if (job->mCancel != 0) return userCanceledErr;

  // Ranking and cut-off.
  myChangeControlTxtKeyString(progress, FOUR_CHAR_CODE("note"), 0, "SORT16BITFRAMEKEY");
  showCount(progress, c);
  mySortNoiseStruct(m.list);
  const UInt32 frames = myCountNoiseStruct(m.list);
  NoiseStatistics& s = *m.stats;
  double cutOff;
  UInt32 areaCount = 0;
  if (myGetNoiseStatistics(m.list, &s) == 0) {
    if (job->POST != 0 && job->mLogFile != nullptr) std::fprintf(job->mLogFile, "Only 1 frame in movie\n");
    cutOff = s.mMinimum;
  } else {
    if (job->PROMPTCI != 0 &&
        !myGetUsersCIPrefs(job, s.mCounts, frames, s.mMinimum, s.mMaximum, s.mBinWidth, s.mStandardDeviation,
                           s.mMean, s.mMedian))
      return userCanceledErr;
    cutOff = myStackingCutOff(job->PERCENTFRAME, s.mMinimum, s.mMaximum, s.mMean, s.mStandardDeviation);
    if (job->POST != 0 && job->mLogFile != nullptr) {
      FILE* f = job->mLogFile;
      std::fprintf(f, "\nStacking : 16 Bit Movie\n");
      myPrintProcessingStats(job);
      std::fprintf(f, "Sharpness Statistics: Min %f , Max %f , STD%f , Mean %f , Median %f , Mode %f, ",
                   double(float(s.mMinimum)), double(float(s.mMaximum)), double(float(s.mStandardDeviation)),
                   double(float(s.mMean)), double(float(s.mMedian)), double(float(s.mMode)));
      std::fprintf(f, "CutOff  Value %f\n", cutOff);
      std::fprintf(f, "Pixel Matching Value: %5.2f\n", (double(job->PIXELTOLERANCE) - 1.0) * 0.5);
      std::fprintf(f, "Total of %d frames in movie\n", int(frames));
    }
  }

  // The sharpest-frames reference movie.
  if (job->SAVSHARPREFMOV != 0 &&
      myGenerateNewFSRefMovieName(&job->mCurrentMovie, &job->mOutputFolder, &job->mOutputFile) == noErr) {
    const UInt32 exported = myCreateSharpnessRefMovie(m.movie, &job->mOutputFile, m.list, float(cutOff));
    if (job->POST != 0 && job->mLogFile != nullptr && exported != 0)
      std::fprintf(job->mLogFile, "Exported %d frames to Sharpest Reference Movie\n", int(exported));
  }

  // Stacking quality, threshold of the composite, workers.
  SetMovieActive(m.movie, false);
  r->mQuality = job->QUALITY != 0 ? 0x400 : 0x300;
  if (rawBayer) mySetBayerMediaQuality(m.movie, CodecQ(r->mQuality));
  SetMovieActive(m.movie, true);
  r->mCutOff = cutOff;
  r->mFrameCount = frames;
  r->mSharpnessList = m.list;

  MyMovieStackContext context{};
  if (job->CTAVIMAGE != 0) {
    const UInt32 k = myCountNoiseStructAboveCutoff(m.list, double(float(cutOff)));
    context.minFramesPerArea = UInt32(float(k) * (float(job->CTAVLIMITPERCENT) * 0.05f + 0.35f));
    if (job->POST != 0 && job->mLogFile != nullptr)
      std::fprintf(job->mLogFile, "Minimum # frames for each Stack to be added to TAV: %d percent is %d frames \n",
                   int(job->CTAVLIMITPERCENT * 5 + 35), int(context.minFramesPerArea));
  }
  if (job->POST != 0 && job->mLogFile != nullptr) std::fprintf(job->mLogFile, "\n");

  r->mWorkerCount = myStackingWorkerCount(frames);
  for (UInt32 j = 0; j < kMyMaxAlignWorkers; ++j) r->mWorkers[j] = nullptr;
  for (UInt32 j = 0; j < r->mWorkerCount; ++j) {
    r->mWorkers[j] = myAllocateAndFillInMPThread(job, r, width, height, mono, rawBayer ? 1 : 0, job->QUALITY, 0,
                                                 m.altivec, m.prefetch);
    if (r->mWorkers[j] == nullptr) return memFullErr;  // the clean-up disposes of those made
  }

  context.job = job;
  context.reader = r;
  context.movie = m.movie;
  context.width = width;
  context.height = height;
  context.rowBytes16 = rowBytes16;
  context.scaledWidth = scaledWidth;
  context.scaledHeight = scaledHeight;
  context.scaledRowBytes16 = scaledRowBytes16;
  context.mono = mono;
  context.altivec = m.altivec;
  context.prefetch = m.prefetch;
  context.sum = m.sum;
  context.composite = m.composite;
  context.compositeOnly = job->CTAVIMAGE != 0 ? job->CTAVONLYSAVE : 0;
  context.above = myCountNoiseStructAboveCutoff(m.list, double(float(cutOff)));
  context.areaCount = areaCount;
  context.cutOff = cutOff;
  return gAreas.load()(&context);
}

}  // namespace

OSStatus myMeasureMovieSharpness(StackAlignJob* job, MAMF* r, const UInt32 region[4], UInt32 sampling,
                                 UInt8* scratch, UInt8 altivec, UInt8 prefetch, SharpnessList* list,
                                 UInt32* counter) {
  WindowRef progress = job->mProgressWindow;
  const UInt32 width = r->mWidth, height = r->mHeight, rowBytes16 = r->mMonoRowBytes;
  UInt32 c = 1, d = 0, e = 0;
  bool complete = false;
  OSStatus err = noErr;
  while (err == noErr && !complete && job->mCancel == 0) {
    SInt32 read = r->mReadSlot.load();
    if (read == kMyNoSlot || r->mFilled.load(std::memory_order_acquire) == 0) {
      if (r->mSleeping.load() == 1) {
        pthread_cond_broadcast(&r->mCond);
      } else {
        // Up to 2 ms, ended early by the reader filling a slot.
        pthread_mutex_lock(&r->mMutex);
        if (r->mFilled.load(std::memory_order_acquire) == 0 && r->mEndOfMovie.load() == 0) {
          timespec until;
          clock_gettime(CLOCK_REALTIME, &until);
          until.tv_nsec += 2 * 1000 * 1000;
          if (until.tv_nsec >= 1000000000L) {
            until.tv_nsec -= 1000000000L;
            until.tv_sec += 1;
          }
          pthread_cond_timedwait(&r->mCond, &r->mMutex, &until);
        }
        pthread_mutex_unlock(&r->mMutex);
        if (++e >= 6) {
          YieldToAnyThread();
          e = 0;
        }
      }
    } else {
      if (d < 4) {
        ++d;
      } else {
        if (progress != nullptr) showCount(progress, c);
        d = e = 0;
        YieldToAnyThread();
        read = r->mReadSlot.load();
      }
      r->mCurrentSlot.store(read);
      const SInt32 time = r->mSlotTime[read];
      UInt32 level = 0;
      if (job->METHOD != 1) {
        UInt32 histogram[256] = {};
        myGetFrequencyMono8(r->mMonoSlot[read], histogram, width, height, rowBytes16);
        level = std::min<UInt32>(myCalcMono8MedianVal(histogram, 0.3), 200);
      }
      // A region too small to measure gives 0.
      double figure = 0.0;
      mySIMDNxNCalculateSparseFrameNoise(r->mMonoSlot[read], scratch, region[0], region[1], region[2], region[3],
                                         rowBytes16, level, sampling, prefetch, altivec, &figure);
      myAlignReaderSlotMeasured(r);
      // The reader decodes the next frame while this one is filed.
      if (r->mSleeping.load() == 1) pthread_cond_broadcast(&r->mCond);
      ++c;
      const UInt32 before = myCountNoiseStruct(*list);
      myAddNoiseStruct(list, UInt32(time), figure);
      if (myCountNoiseStruct(*list) != before + 1) err = memFullErr;
    }
    if (r->mEndOfMovie.load() == 1) {
      if (r->mReadSlot.load() == kMyNoSlot) complete = true;
      if (r->mError.load() != 0) err = r->mError.load();
    }
  }
  if (counter != nullptr) *counter = c;
  return err;
}

void mySetMovieStackingStages(MyStackAreasProc areas, MyProcessMovie8BitProc movie8Bit) {
  gAreas.store(areas != nullptr ? areas : noAreas);
  gMovie8Bit.store(movie8Bit != nullptr ? movie8Bit : no8BitRun);
}

UInt32 myStackingWorkerCount(UInt32 frames) {
  SInt32 cpus = 0;
  if (Gestalt(FOUR_CHAR_CODE("cpus"), &cpus) != noErr) cpus = 0;
  if (cpus < 3 || frames < 5) return 1;
  return std::min<UInt32>({UInt32(cpus - 1), kMyMaxAlignWorkers, frames / 2});
}

double myStackingCutOff(UInt32 percent, double minimum, double maximum, double mean, double standardDeviation) {
  if (percent == 0) return minimum - 0.0001;
  const double ci = convertPercentToCI(percent, mean, standardDeviation);
  if (ci >= maximum) return minimum + (maximum - minimum) * double(percent) * 0.01;
  return ci;
}

void* myProcessMovies(void* param) {
  auto* job = static_cast<StackAlignJob*>(param);
  DisableMenuCommand(nullptr, FOUR_CHAR_CODE("STAK"));
  UInt8 altivec = 0, prefetch = 0;
  mySkyloomCheckForSIMD(&altivec, &prefetch);
  job->mCancel = 0;
  job->mLogOpen = 0;
  job->mLogFile = nullptr;
  job->mProgressWindow = nullptr;

  // The progress window, its handler and idle timer.
  WindowRef window = nullptr;
  EventHandlerRef handler = nullptr;
  EventLoopTimerRef timer = nullptr;
  EventHandlerUPP handlerUPP = NewEventHandlerUPP(myProgressWindowEventHandler);
  EventLoopTimerUPP timerUPP = NewEventLoopTimerUPP(myMovieIdleTaskProc);
  OSStatus err = noErr;
  IBNibRef nib = nullptr;
  err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("Progress"), &window);
    DisposeNibReference(nib);
  }
  if (err == noErr) {
    SetWRefCon(window, 0);
    job->mProgressWindow = window;
    const EventTypeSpec kinds[] = {{kEventClassCommand, kEventCommandProcess},
                                   {kEventClassWindow, kEventWindowClose}};
    err = InstallEventHandler(GetWindowEventTarget(window), handlerUPP, 2, kinds, job, &handler);
  }
  if (err == noErr) err = InstallEventLoopTimer(GetMainEventLoop(), 0, 0.2, timerUPP, window, &timer);
  if (err == noErr) {
    mySetCWindowTitleByKeyString(window, "PROCESSINGMOVKEY");
    // The bar only shows that the run is alive: the idle timer animates it.
    const ControlID barID{FOUR_CHAR_CODE("BARR"), 0};
    ControlRef bar = nullptr;
    if (GetControlByID(window, &barID, &bar) == noErr && bar != nullptr) {
      Boolean on = true;
      SetControlData(bar, kControlEntireControl, kControlProgressBarIndeterminateTag, sizeof(on), &on);
    }
    ShowWindow(window);
    SelectWindow(window);
    showCount(window, 0);
    // The output folder itself: its location with the name emptied.
    FSSpec folder;
    const UInt8 empty[1] = {0};
    err = FSMakeFSSpec(job->mOutputFolderSpec.vRefNum, job->mOutputFolderSpec.parID, empty, &folder);
    if (err == noErr) err = FSpMakeFSRef(&folder, &job->mOutputFolder);
  }
  if (err == noErr && job->POST != 0) {
    const OSStatus logErr = createLog(job);
    if (logErr != noErr) {
      alertf("myGenerateStackMovieLogFile FSRefFileFailed Err %d / 0x%x", logErr, logErr);
      err = logErr;
    }
  }

  for (UInt32 i = 0; err == noErr && job->mCancel == 0 && i < job->mMovieCount && i < kMyMaxStackMovies; ++i) {
    job->mCurrentMovie = job->mMovies[i];
    // Title: what, which movie, how far.
    CFStringRef what = myGetLocalizedCFString("PROCESSINGMOVKEY");
    CFStringRef movieName = myFSRefGetCFStringName(&job->mCurrentMovie);
    char count[32];
    std::snprintf(count, sizeof count, " %d of %d", int(i + 1), int(job->mMovieCount));
    std::string title = cString(what) + cString(movieName) + count;
    if (what != nullptr) CFRelease(what);
    if (movieName != nullptr) CFRelease(movieName);
    if (title.size() > 255) title.resize(255);
    CFStringRef titleRef = CFStringCreateWithCString(nullptr, title.c_str(), kCFStringEncodingUTF8);
    if (titleRef != nullptr) {
      SetWindowTitleWithCFString(window, titleRef);
      CFRelease(titleRef);
    }
    if (job->POST != 0 && job->mLogFile != nullptr) std::fprintf(job->mLogFile, "----%s", title.c_str());

    Handle dataRef = nullptr;
    OSType dataRefType = 0;
    err = QTNewDataReferenceFromFSRef(&job->mCurrentMovie, 0, &dataRef, &dataRefType);
    if (err != noErr) {
      alertf("OpenMovieFile Err %d / 0x%x", err, err);
      break;
    }
    Movie movie = nullptr;
    err = NewMovieFromDataRef(&movie, 0, nullptr, dataRef, dataRefType);
    if (err == noErr && movie == nullptr) err = memFullErr;
    if (err != noErr) {
      alertf("NewMovieFromFile Err %d / 0x%x", err, err);
      DisposeHandle(dataRef);
      break;
    }
    Media media = myGetMovie16BitVideoMedia(movie, 0);
    if (media == nullptr && !myThisMovieHasThisTrackType(movie, FOUR_CHAR_CODE("vide")) &&
        !myThisMovieHasThisTrackType(movie, FOUR_CHAR_CODE("MPEG"))) {
      myPostAlert("", "This movie has no Video Tracks to process");
      err = -1;
    } else {
      clearTimeCode(movie);
      if (media == nullptr) {
        err = gMovie8Bit.load()(job, movie, altivec, prefetch);
      } else {
        Movie16 m{job, movie, media, altivec, prefetch};
        err = process16(m);
        m.release();
      }
    }
    DisposeMovie(movie);
    DisposeHandle(dataRef);
  }

  // Run end.
  if (job->mLogFile != nullptr) {
    std::fflush(job->mLogFile);
    std::fclose(job->mLogFile);
    job->mLogFile = nullptr;
  }
  job->mLogOpen = 0;
  EnableMenuCommand(nullptr, FOUR_CHAR_CODE("STAK"));
  if (window != nullptr) HideWindow(window);
  if (handler != nullptr) RemoveEventHandler(handler);
  if (timer != nullptr) RemoveEventLoopTimer(timer);
  DisposeEventHandlerUPP(handlerUPP);
  DisposeEventLoopTimerUPP(timerUPP);
  if (window != nullptr) DisposeWindow(window);
  job->mProgressWindow = nullptr;
  job->mRunning = 0;
  return nullptr;
}
