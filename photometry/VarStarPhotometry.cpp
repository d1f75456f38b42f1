#include "photometry/VarStarPhotometry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "photometry/MovieFrameWalk.h"
#include "photometry/MovieRealTime.h"
#include "photometry/MultiStarPhotometry.h"
#include "photometry/PhotomSelection.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"
#include "utilities/LogFiles.h"
#include "utilities/PreferenceText.h"

namespace {

int gFailWriteIn = 0;

constexpr SInt32 kDefaultOutputMode = 2;
constexpr float kDefaultFWHMMultiplier = 1.5f;
constexpr UInt8 kDefaultSaveLocations = 1;

OSStatus readKey(CFStringRef domain, const char* key, bool checkRange, double min, double max, double* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  if (k == nullptr) return memFullErr;
  const OSStatus err = myVerifyCFStrForApplicationID(domain, k, checkRange ? 1 : 0, min, max, value);
  CFRelease(k);
  return err;
}

OSStatus writeKey(CFStringRef domain, const char* key, double value) {
  if (gFailWriteIn > 0 && --gFailWriteIn == 0) return memFullErr;
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  if (k == nullptr) return memFullErr;
  const OSStatus err = myWriteOutCFStrForDblApplicationID(domain, k, value);
  CFRelease(k);
  return err;
}

OSStatus readPrefs(MyBatchPhotomDataStruct* d, CFStringRef domain) {
  double v = 0.0;
  OSStatus err = readKey(domain, "VERS", false, 0.0, 0.0, &v);
  if (err != noErr) return err;
  err = readKey(domain, "REPT", true, 0.0, 2.0, &v);
  d->mOutputMode = err == noErr ? SInt32(UInt32(v)) : kDefaultOutputMode;
  err = readKey(domain, "FWHM", true, 0.2, 6.0, &v);
  d->mFWHMMultiplier = err == noErr ? float(v) : kDefaultFWHMMultiplier;
  err = readKey(domain, "SVLO", true, 0.0, 1.0, &v);
  d->mSaveLocations = err == noErr ? UInt8(v > 0.0 ? 1 : 0) : kDefaultSaveLocations;
  return err;
}

OSStatus writePrefs(const MyBatchPhotomDataStruct* d, CFStringRef domain) {
  const struct {
    const char* key;
    double value;
  } keys[] = {
      {"VERS", kVarStarPrefVersion},
      {"REPT", double(d->mOutputMode)},
      {"FWHM", double(d->mFWHMMultiplier)},
      {"SVLO", double(d->mSaveLocations)},
  };
  for (const auto& k : keys)
    if (OSStatus err = writeKey(domain, k.key, k.value)) return err;
  if (!CFPreferencesAppSynchronize(domain)) myPostAlert("OSXER", "CFPREFERR");
  return noErr;
}

void postRunError(SInt32 status) {
  char text[128];
  std::snprintf(text, sizeof text, "An err of  %d / 0x%x has Occured. Processing cannot continue.\n", int(status),
                unsigned(status));
  myPostAlert("", text);
}

// Everything a run holds, released when the run ends, whichever way.
struct Run {
  MyBatchPhotomDataStruct* d = nullptr;
  MyMovieFrameWalk walk{};

  ~Run() {
    if (d != nullptr) {
      for (FILE* f : {d->mSimpleFile, d->mDetailedFile})
        if (f != nullptr) {
          std::fflush(f);
          std::fclose(f);
        }
      std::free(d->mMono16FramePtr);
      std::free(d);
    }
    myCloseMovieFrameWalk(&walk);
  }
};

}  // namespace

void SkyloomFailVarStarPrefWrite(int nth) { gFailWriteIn = nth; }

OSStatus myReadWriteVarStarPrefs(MyBatchPhotomDataStruct* d, SInt32 direction) {
  if (d == nullptr) return paramErr;
  CFStringRef domain = CFStringCreateWithCString(nullptr, kVarStarPrefDomain, kCFStringEncodingUTF8);
  if (domain == nullptr) return memFullErr;
  const OSStatus err = direction == 1 ? readPrefs(d, domain) : writePrefs(d, domain);
  CFRelease(domain);
  return err;
}

void myDoMovieVARStarProcessing() {
  Run run;
  run.d = static_cast<MyBatchPhotomDataStruct*>(std::calloc(1, sizeof(MyBatchPhotomDataStruct)));
  MyBatchPhotomDataStruct* d = run.d;
  if (d == nullptr) {
    myPostAlert("", "pMyBatchPhotomDataStructPtr malloc failed");
    return;
  }
  d->mOutputMode = kDefaultOutputMode;
  d->mSaveLocations = kDefaultSaveLocations;

  static const OSType kMovieTypes[] = {FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("MPEG"), FOUR_CHAR_CODE("VfW "),
                                       FOUR_CHAR_CODE("MPG ")};
  FSRef file;
  if (myGetFSRefForReading(nullptr, CFSTR("Select Movie to perform PhotoMetric Analysis on:"), &file,
                           FOUR_CHAR_CODE("****"), 4, kMovieTypes, 0, 0) != noErr)
    return;
  // Opening posts its own alerts for a movie without a picture or a
  // description that can't be read; everything else ends silently.
  if (myOpenMovieFrameWalk(&file, &run.walk) != noErr) return;
  MyMovieFrameWalk& walk = run.walk;

  const double start = myExtractRealTimeFromMovieTimeCodeData(walk.mMovie);
  const int dateMode = start > 0.0 ? 1 : 0;
  d->mWidth = SInt32(walk.mWidth);
  d->mHeight = SInt32(walk.mHeight);
  d->mMono16FramePtr = static_cast<UInt16*>(std::malloc(size_t(walk.mWidth) * walk.mHeight * 2 + 64));
  if (d->mMono16FramePtr == nullptr) return;
  for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) {
    d->mStarX[s] = d->mStarY[s] = -1.0f;
    d->mStarIsVariable[s] = 0;
    d->mStarFound[s] = 0;
  }
  d->mStarCount = 0;
  d->mFWHMMultiplier = kDefaultFWHMMultiplier;

  // The first frame, for the selection window.
  if (myReadMovieFrameWalk(&walk, 1, d->mMono16FramePtr) != noErr) return;
  myReadWriteVarStarPrefs(d, 1);
  if (myPhotomBatchImageSelectionGUI(d) != noErr) return;
  myReadWriteVarStarPrefs(d, 0);

  if (d->mOutputMode == 0 || d->mOutputMode == 2) {
    d->mSimpleFile = myCreateLogFileWriteOnly("Save photometric data as:", "SimplePhotomVar_", 0);
    if (d->mSimpleFile == nullptr) return;
  }
  if (d->mOutputMode == 1 || d->mOutputMode == 2) {
    d->mDetailedFile = myCreateLogFileWriteOnly("Save photometric data as:", "DetailedPhotomVar_", 0);
    if (d->mDetailedFile == nullptr) return;
  }

  // Each frame is stamped with the moment its successor begins, formed from
  // the movie time so that no rounding accumulates over a long movie.
  const double scale = walk.mTimeScale > 0 ? double(walk.mTimeScale) : 1.0;
  TimeValue c = 0;
  for (int k = 0; c < walk.mDuration; ++k) {
    OSErr err = myReadMovieFrameWalk(&walk, c + 1, d->mMono16FramePtr);
    if (err != noErr) {
      postRunError(err);
      break;
    }
    TimeValue n = myNextMovieFrameWalkTime(&walk, c + 1);
    if (n <= c) n = walk.mDuration;
    const double t = start + double(n) / scale;
    SInt32 r = myGetFWHMMagMultiPositions(d, t, dateMode, k);
    if (r == -1) r = 0;
    if (r != 0) {
      postRunError(r);
      break;
    }
    c = n;
  }
}
