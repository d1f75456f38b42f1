#include "stacking/OutputFiles.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/corefoundation/CFString.h"
#include "platform/quicktime/DataReferences.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"

namespace {

// The sharpening code of a stacked image's name.
const char* sharpenCode(double sharpen) {
  if (sharpen < 0) return "N";
  if (sharpen < 0.51) return "VL";
  if (sharpen < 1.1) return "L";
  if (sharpen < 2.6) return "M";
  if (sharpen < 5.1) return "MH";
  if (sharpen < 7.6) return "H";
  if (sharpen < 10.1) return "VH";
  return "E";
}

// The suffix after the movie's name, in the application's text encoding.
void imageSuffix(const StackAlignJob* job, UInt32 index, char* out, size_t size) {
  char method[32], code[48];
  snprintf(method, sizeof method, job->METHOD == 1 ? "_%uL" : "_%uP", unsigned(job->PERCENTFRAME));
  snprintf(code, sizeof code, "%s%s", method, sharpenCode(job->SHARPEN));
  if (index == 0)
    snprintf(out, size, "%s.tif", code);
  else if (index < 10)
    snprintf(out, size, "%s-00%u.tif", code, unsigned(index));
  else if (index < 100)
    snprintf(out, size, "%s-0%u.tif", code, unsigned(index));
  else
    snprintf(out, size, "%s-%u.tif", code, unsigned(index));
}

// The movie's name followed by suffix (or suffix followed by it when prefix
// is set), or null.
CFStringRef nameWith(const FSRef* movie, const char* piece, bool prefix) {
  CFStringRef name = myFSRefGetCFStringName(movie);
  if (name == nullptr) return nullptr;
  CFMutableStringRef out = nullptr;
  if (prefix) {
    CFStringRef head = CFStringCreateWithCString(nullptr, piece, CFStringGetSystemEncoding());
    if (head) {
      out = CFStringCreateMutableCopy(nullptr, 0, head);
      CFRelease(head);
      if (out) CFStringAppend(out, name);
    }
  } else {
    out = CFStringCreateMutableCopy(nullptr, 0, name);
    if (out) CFStringAppendCString(out, piece, CFStringGetSystemEncoding());
  }
  CFRelease(name);
  return out;
}

// Deletes a file of the name in the folder, then creates it empty.
OSStatus replaceFile(const FSRef* folder, CFStringRef name, FSRef* out) {
  const CFIndex length = CFStringGetLength(name);
  std::vector<UniChar> chars(size_t(length > 0 ? length : 1));
  CFStringGetCharacters(name, CFRangeMake(0, length), chars.data());
  FSRef existing;
  if (FSMakeFSRefUnicode(folder, UniCharCount(length), chars.data(), kTextEncodingUnknown, &existing) == noErr) {
    if (OSStatus err = FSDeleteObject(&existing); err != noErr) return err;
  }
  const OSStatus err = FSCreateFileUnicode(folder, UniCharCount(length), chars.data(), 0, nullptr, out, nullptr);
  // A folder that has gone away must not read as "not found", which the
  // callers of a stacked image's file take for success.
  return err == fnfErr ? OSStatus(dirNFErr) : err;
}

}  // namespace

bool myStackedImageName(const StackAlignJob* job, UInt32 index, char* name, size_t size) {
  if (job == nullptr || name == nullptr || size == 0) return false;
  char suffix[96];
  imageSuffix(job, index, suffix, sizeof suffix);
  CFStringRef full = nameWith(&job->mCurrentMovie, suffix, false);
  if (full == nullptr) return false;
  const bool ok = CFStringGetCString(full, name, CFIndex(size), kCFStringEncodingUTF8);
  CFRelease(full);
  return ok;
}

OSStatus myGenerateExportFileFSRef(StackAlignJob* job, UInt32 index) {
  if (job == nullptr) return paramErr;
  char suffix[96];
  imageSuffix(job, index, suffix, sizeof suffix);
  OSStatus err = memFullErr;
  if (CFStringRef name = nameWith(&job->mCurrentMovie, suffix, false)) {
    err = replaceFile(&job->mOutputFolder, name, &job->mOutputFile);
    CFRelease(name);
    // The file exists now and is empty: callers look for "not found" as
    // the sign that a new file was made.
    if (err == noErr) return fnfErr;
  }
  char message[96];
  snprintf(message, sizeof message, "FSRefFileFailed Err %d / 0x%x", int(err), unsigned(err));
  myPostAlert("", message);
  return err;
}

OSStatus myGenerateNewFSRefMovieName(const FSRef* movie, const FSRef* folder, FSRef* out) {
  OSStatus err = paramErr;
  if (movie && folder && out) {
    err = memFullErr;
    if (CFStringRef name = nameWith(movie, "REF_", true)) {
      err = replaceFile(folder, name, out);
      CFRelease(name);
      if (err == noErr) return noErr;
    }
  }
  char message[96];
  snprintf(message, sizeof message, "myGenerateNewFSRefMovieName Failed 0x%x", unsigned(err));
  myPostAlert("", message);
  return err;
}

UInt32 myCreateSharpnessRefMovie(Movie source, const FSRef* file, SharpnessList list, float cutOff) {
  const UInt32 n = myCountNoiseStruct(list);
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  OSErr err = QTNewDataReferenceFromFSRef(file, 0, &dataRef, &dataRefType);
  DataHandler storage = nullptr;
  Movie movie = nullptr;
  if (err == noErr)
    err = CreateMovieStorage(dataRef, dataRefType, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                             createMovieFileDeleteCurFile, &storage, &movie);
  UInt32 inserted = 0;
  if (err == noErr) {
    const OSType visual = VisualMediaCharacteristic;
    TimeValue at = 0;
    for (UInt32 i = 0; i < n; ++i) {
      NoiseStruct e;
      myGetNoiseStruct(list, i, &e);
      if (double(e.mValue) < double(cutOff)) break;
      const TimeValue start = TimeValue(e.mFrameTime) + 1;
      TimeValue next = 0;
      GetMovieNextInterestingTime(source, nextTimeStep, 1, &visual, start, fixed1, &next, nullptr);
      if (next < 1) next = GetMovieDuration(source);
      TimeValue length = next - TimeValue(e.mFrameTime);
      if (length > 2) length -= 2;
      err = InsertMovieSegment(source, movie, start, length, at);
      if (err != noErr) break;
      at += length;
      ++inserted;
    }
    if (err == noErr) err = AddMovieToStorage(movie, storage);
    CloseMovieStorage(storage);
    DisposeMovie(movie);
  }
  if (dataRef) DisposeHandle(dataRef);
  if (err != noErr) fprintf(stderr, "myCreateSharpnessRefMovie Failed Err %d 0x%X\n", int(err), unsigned(err));
  return inserted;
}
