#include "guiding/TrackingExports.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>

#include "guiding/ObjectTracking.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CNumericLocale.h"
#include "platform/coreservices/Files.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr OSType kTextCreator = FOUR_CHAR_CODE("ttxt");
constexpr OSType kTextType = FOUR_CHAR_CODE("TEXT");
// No type pop-up and no translation items: the file is plain text.
constexpr NavDialogOptionFlags kExportDialogFlags = kNavNoTypePopup | kNavDontAddTranslateItems;
// Both exports remember the folder last saved into under one key.
constexpr UInt32 kExportPreferenceKey = 20;

// Truncated towards zero, saturated (NaN gives 0).
int truncatedInt(float v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0f) return 2147483647;
  if (v <= -2147483648.0f) return -2147483647 - 1;
  return int(v);
}

// "yyyymmdd<tab>hh:mm:ss.sss" of an absolute time in the zone, zero-padded.
void dateTimeText(CFAbsoluteTime at, CFTimeZoneRef tz, char* text, size_t size) {
  const CFGregorianDate d = CFAbsoluteTimeGetGregorianDate(at, tz);
  snprintf(text, size, "%4d%2d%2d\t%2d:%2d:%6.3f", int(d.year), int(d.month), int(d.day), int(d.hour),
           int(d.minute), d.second);
  for (char* c = text; *c; ++c)
    if (*c == ' ') *c = '0';
}

// Asks for the file and writes it with `write`. A file the dialog created
// but that can't be filled is removed again.
void exportTo(CFStringRef message, CFStringRef defaultName, const std::function<void(FILE*, CFTimeZoneRef)>& write) {
  FSRef file;
  if (myNavServSaveFileFSRef(nullptr, message, defaultName, &file, kTextCreator, kTextType, kExportDialogFlags,
                             kExportPreferenceKey) != noErr)
    return;
  FILE* out = myFSREF_fopenRW(&file);
  if (out == nullptr) {
    FSDeleteObject(&file);
    return;
  }
  CFTimeZoneRef tz = CFTimeZoneCopySystem();
  if (tz == nullptr) {
    fclose(out);
    FSDeleteObject(&file);
    return;
  }
  {
    SkyloomCLocaleScope cLocale;
    write(out, tz);
  }
  CFRelease(tz);
  fclose(out);
}

UInt32 storedSamples(MyCameraWindowDataStruct& r) {
  return std::atomic_ref<UInt32>(r.mTrackSampleCount).load(std::memory_order_acquire);
}

}  // namespace

void mySaveRA_DEC_TrackingInfo(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return;
  MyCameraWindowDataStruct& r = *record;
  const UInt32 count = storedSamples(r);
  const float* samples = r.mTrackSamples;
  if (count == 0 || samples == nullptr) return;
  exportTo(CFSTR("Save Tracking Data As"), CFSTR("RA-Dec Track.txt"), [&](FILE* out, CFTimeZoneRef tz) {
    const float startX = r.mTrackingArea[0], startY = r.mTrackingArea[1];
    // The count line says one more than the rows that follow.
    fprintf(out, "Collected %lu samples\r", static_cast<unsigned long>(count) + 1);
    fprintf(out, "Starting X:\t%.1f\t StartingY:\t%.1f\r", double(startX), double(startY));
    fputs("Date\tTime\tElapsed\t X(Pixels)\tY(Pixels)\r", out);
    char when[64];
    for (UInt32 i = 0; i < count; ++i) {
      const float* s = samples + size_t(i) * kMyTrackSampleFloats;
      dateTimeText(r.mBrightnessStartClock + double(s[2]), tz, when, sizeof when);
      fprintf(out, "%s\t%6.3f\t%.2f\t%.2f\r", when, double(s[2]), double(s[0] - startX), double(startY - s[1]));
    }
  });
}

void myExportOutTimeBrightnessValues(MyCameraWindowDataStruct* record) {
  if (record == nullptr) return;
  MyCameraWindowDataStruct& r = *record;
  const UInt32 count = storedSamples(r);
  const float* times = r.mTrackSamples;
  const auto* values = static_cast<const float*>(r.mPleezWaitSum);
  if (count == 0 || times == nullptr || values == nullptr) return;
  exportTo(CFSTR("Save Brightness Values as..."), CFSTR("BrightnessValues.txt"), [&](FILE* out, CFTimeZoneRef tz) {
    fprintf(out, "Date\t Time\tElapsed Seconds\tBrightness of %d x %d Area\r", truncatedInt(r.mTrackingArea[2]),
            truncatedInt(r.mTrackingArea[3]));
    char when[64];
    for (UInt32 i = 0; i < count; ++i) {
      dateTimeText(r.mBrightnessStartClock + double(times[i]), tz, when, sizeof when);
      fprintf(out, "%s\t %6.3f\t %.0f\r", when, double(times[i]), double(values[i]));
    }
  });
}
