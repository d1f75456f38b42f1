// The AlignPref domain: one key per setting, each the text of a number.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/CNumericLocale.h"
#include "platform/coreservices/Files.h"
#include "stacking/AlignAndStack.h"
#include "utilities/Alerts.h"
#include "utilities/PreferenceText.h"

namespace {

// The reader turns text that is no number into 0.0; a setting keeps its
// value then, as it does for a missing key.
constexpr OSStatus kNotANumber = paramErr;

// Floating values saturate into the integer types (NaN gives 0).
SInt64 truncated(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return SInt64(std::trunc(v));
}
UInt32 asU32(double v) {
  SInt64 t = truncated(v);
  return t < 0 ? 0u : t > SInt64(UINT32_MAX) ? UINT32_MAX : UInt32(t);
}
SInt32 asS32(double v) {
  SInt64 t = truncated(v);
  return t < INT32_MIN ? INT32_MIN : t > INT32_MAX ? INT32_MAX : SInt32(t);
}
SInt16 asS16(double v) {
  SInt64 t = truncated(v);
  return t < INT16_MIN ? SInt16(INT16_MIN) : t > INT16_MAX ? SInt16(INT16_MAX) : SInt16(t);
}
UInt8 lowByte(double v) { return UInt8(UInt64(truncated(v)) & 0xFF); }
UInt8 positive(double v) { return v > 0.0 ? 1 : 0; }

struct Domain {
  CFStringRef name = CFStringCreateWithCString(nullptr, kMyAlignPrefDomain, kCFStringEncodingUTF8);
  ~Domain() {
    if (name) CFRelease(name);
  }
};

bool storedTextIsNumber(CFStringRef domain, CFStringRef key) {
  CFPropertyListRef stored = CFPreferencesCopyAppValue(key, domain);
  if (stored == nullptr) return false;
  char text[256];
  bool number = false;
  if (CFGetTypeID(stored) == CFStringGetTypeID() &&
      CFStringGetCString(static_cast<CFStringRef>(stored), text, sizeof text, kCFStringEncodingUTF8)) {
    char* end = nullptr;
    double v = strtod_l(text, &end, SkyloomCNumericLocale());
    number = end != text && !std::isnan(v);
  }
  CFRelease(stored);
  return number;
}

// One key, without a range check.
OSStatus readKey(CFStringRef domain, const char* key, double* value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  if (k == nullptr) return memFullErr;
  OSStatus err = myVerifyCFStrForApplicationID(domain, k, 0, 0.0, 0.0, value);
  if (err == noErr && !storedTextIsNumber(domain, k)) err = kNotANumber;
  CFRelease(k);
  return err;
}

OSStatus writeKey(CFStringRef domain, const char* key, double value) {
  CFStringRef k = CFStringCreateWithCString(nullptr, key, kCFStringEncodingUTF8);
  if (k == nullptr) return memFullErr;
  OSStatus err = myWriteOutCFStrForDblApplicationID(domain, k, value);
  CFRelease(k);
  return err;
}

enum class Read { Positive, LowByte, U32, Double };

OSStatus readAll(StackAlignJob* job, CFStringRef domain) {
  double v = 0.0;
  OSStatus err = readKey(domain, "VERS", &v);
  if (err != noErr) return err;

  if (readKey(domain, "DFLTFOPICK", &v) == noErr) {
    if (v > 0.0) {
      double vol = 0.0, dir = 0.0;
      const bool haveVol = readKey(domain, "VREFNUM", &vol) == noErr;
      if (haveVol) job->mOutputFolderSpec.vRefNum = asS16(vol);
      const bool haveDir = readKey(domain, "PARID", &dir) == noErr;
      if (haveDir) job->mOutputFolderSpec.parID = asS32(dir);
      job->mOutputFolderSpec.name[0] = 0;
      // The folder must still be there.
      bool found = false;
      if (haveVol && haveDir) {
        FSSpec folder;
        FSRef ref;
        const UInt8 empty[1] = {0};
        found = FSMakeFSSpec(job->mOutputFolderSpec.vRefNum, job->mOutputFolderSpec.parID, empty, &folder) == noErr &&
                FSpMakeFSRef(&folder, &ref) == noErr;
      }
      job->DFLTFOPICK = found ? 1 : 0;
    } else {
      job->DFLTFOPICK = 0;
    }
  }

  struct Key {
    const char* name;
    Read how;
    void* field;
  };
  const Key keys[] = {
      {"PROMPTCI", Read::Positive, &job->PROMPTCI},
      {"PROMPTAREA", Read::Positive, &job->PROMPTAREA},
      {"SUMIMG", Read::Positive, &job->SUMIMG},
      {"METHOD", Read::Positive, &job->METHOD},
      {"PIXELALIGN", Read::U32, &job->PIXELALIGN},
      {"POST", Read::Positive, &job->POST},
      {"CTAVIMAGE", Read::Positive, &job->CTAVIMAGE},
      {"CTAVONLYSAVE", Read::Positive, &job->CTAVONLYSAVE},
      {"CTAVLIMITPERCENT", Read::U32, &job->CTAVLIMITPERCENT},
      {"MANUALFRAMES", Read::Positive, &job->MANUALFRAMES},
      {"QUALITY", Read::Positive, &job->QUALITY},
      {"SHARPEN", Read::Double, &job->SHARPEN},
      {"PERCENTFRAME", Read::U32, &job->PERCENTFRAME},
      {"SCALE", Read::U32, &job->SCALE},
      {"PIXELBLOCKSIZE", Read::U32, &job->PIXELBLOCKSIZE},
      {"REMOVENOISE", Read::Positive, &job->REMOVENOISE},
      {"AUTOEXPALIGN", Read::Positive, &job->AUTOEXPALIGN},
      {"SAVSHARPREFMOV", Read::Positive, &job->SAVSHARPREFMOV},
      {"REMOVEHOTPIXEL", Read::U32, &job->REMOVEHOTPIXEL},
      {"BCGSUBTRACT", Read::Positive, &job->BCGSUBTRACT},
      {"BIN2x2MOV", Read::Positive, &job->BIN2x2MOV},
      {"COLORCHANNEL", Read::U32, &job->COLORCHANNEL},
      {"PIXELTOLERANCE", Read::U32, &job->PIXELTOLERANCE},
      {"AUTOCLIP", Read::LowByte, &job->AUTOCLIP},
      {"AUTOADJBRIGHTNESS", Read::LowByte, &job->AUTOADJBRIGHTNESS},
      {"SPATIALSHARPNESS", Read::U32, &job->SPATIALSHARPNESS},  // low byte, in a 32-bit field
      {"GAUSBLUR", Read::LowByte, &job->GAUSBLUR},
      {"SHARPMATCH", Read::LowByte, &job->SHARPMATCH},
      {"WHICHQUADRANT", Read::U32, &job->WHICHQUADRANT},
      {"GRADLEVEL", Read::U32, &job->GRADLEVEL},
  };
  for (const Key& k : keys) {
    err = readKey(domain, k.name, &v);
    if (err != noErr) continue;
    switch (k.how) {
      case Read::Positive: *static_cast<UInt8*>(k.field) = positive(v); break;
      case Read::LowByte: *static_cast<UInt8*>(k.field) = lowByte(v); break;
      case Read::Double: *static_cast<double*>(k.field) = v; break;
      case Read::U32:
        *static_cast<UInt32*>(k.field) = k.field == &job->SPATIALSHARPNESS ? UInt32(lowByte(v)) : asU32(v);
        break;
    }
  }
  return err;
}

OSStatus writeAll(const StackAlignJob* job, CFStringRef domain) {
  struct Key {
    const char* name;
    double value;
  };
  const Key head[] = {{"VERS", kMyAlignPrefVersion}, {"DFLTFOPICK", double(job->DFLTFOPICK)}};
  const Key location[] = {{"VREFNUM", double(job->mOutputFolderSpec.vRefNum)},
                          {"PARID", double(job->mOutputFolderSpec.parID)}};
  const Key rest[] = {
      {"POST", double(job->POST)},
      {"CTAVIMAGE", double(job->CTAVIMAGE)},
      {"CTAVONLYSAVE", double(job->CTAVONLYSAVE)},
      {"CTAVLIMITPERCENT", double(job->CTAVLIMITPERCENT)},
      {"MANUALFRAMES", double(job->MANUALFRAMES)},
      {"PROMPTCI", double(job->PROMPTCI)},
      {"PROMPTAREA", double(job->PROMPTAREA)},
      {"SUMIMG", double(job->SUMIMG)},
      {"METHOD", double(job->METHOD)},
      {"QUALITY", double(job->QUALITY)},
      {"SHARPEN", job->SHARPEN},
      {"PERCENTFRAME", double(job->PERCENTFRAME)},
      {"PIXELALIGN", double(job->PIXELALIGN)},
      {"SCALE", double(job->SCALE)},
      {"PIXELBLOCKSIZE", double(job->PIXELBLOCKSIZE)},
      {"REMOVENOISE", double(job->REMOVENOISE)},
      {"AUTOEXPALIGN", double(job->AUTOEXPALIGN)},
      {"SAVSHARPREFMOV", double(job->SAVSHARPREFMOV)},
      {"REMOVEHOTPIXEL", double(job->REMOVEHOTPIXEL)},
      {"BIN2x2MOV", double(job->BIN2x2MOV)},
      {"BCGSUBTRACT", double(job->BCGSUBTRACT)},
      {"COLORCHANNEL", double(job->COLORCHANNEL)},
      {"PIXELTOLERANCE", double(job->PIXELTOLERANCE)},
      {"AUTOCLIP", double(job->AUTOCLIP)},
      {"GAUSBLUR", double(job->GAUSBLUR)},
      {"SHARPMATCH", double(job->SHARPMATCH)},
      {"AUTOADJBRIGHTNESS", double(job->AUTOADJBRIGHTNESS)},
      {"SPATIALSHARPNESS", double(job->SPATIALSHARPNESS)},
      {"WHICHQUADRANT", double(job->WHICHQUADRANT)},
      {"GRADLEVEL", double(job->GRADLEVEL)},
  };
  for (const Key& k : head)
    if (OSStatus err = writeKey(domain, k.name, k.value)) return err;
  if (job->DFLTFOPICK == 1)
    for (const Key& k : location)
      if (OSStatus err = writeKey(domain, k.name, k.value)) return err;
  for (const Key& k : rest)
    if (OSStatus err = writeKey(domain, k.name, k.value)) return err;
  if (!CFPreferencesAppSynchronize(domain)) myPostAlert("OSXER", "CFPREFERR");
  return noErr;
}

}  // namespace

void myInitStackAlignJob(StackAlignJob* job) {
  memset(static_cast<void*>(job), 0, sizeof *job);
  job->POST = 1;
  job->AUTOCLIP = 1;
  job->CTAVLIMITPERCENT = 1;
  job->REMOVEHOTPIXEL = 23;
  job->PIXELALIGN = 3;
  job->PERCENTFRAME = 60;
  job->SCALE = 1;
  job->PIXELBLOCKSIZE = 1;
  job->COLORCHANNEL = 1;
  job->PIXELTOLERANCE = 9;
  job->SHARPEN = -1.0;
  job->mWantsAreaImage = 1;
}

OSStatus myReadWriteAlignmentPrefs(StackAlignJob* job, SInt32 direction) {
  if (job == nullptr) return paramErr;
  Domain domain;
  if (domain.name == nullptr) return noErr;
  return direction == 1 ? readAll(job, domain.name) : writeAll(job, domain.name);
}
