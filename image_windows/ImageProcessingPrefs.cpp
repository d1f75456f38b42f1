#include "image_windows/ImageProcessingPrefs.h"

#include <cmath>

#include "platform/corefoundation/CoreFoundation.h"
#include "utilities/Alerts.h"
#include "utilities/PreferenceText.h"

namespace {

const char kDomain[] = "com.brindlemoor.SKYLOOM_App.ImageProcessingPref";
// 0x0301000F; "%f" of its single-precision rounding is "50397200.000000".
constexpr double kVersionMark = 50397199.0;

enum class Kind {
  kFlag,       // UInt8: 1 when the value > 0
  kModeFlag,   // UInt8: 1 when the value > 0.01
  kUnsigned,   // UInt32, truncated
  kThreshold,  // SInt32 field holding an unsigned value
  kOffset,     // SInt32, truncated toward zero
  kGreen,      // a green offset: 0 while green is locked
  kFloat,      // Float32
};

struct Setting {
  const char* key;
  Kind kind;
  double min, max;  // the controls' range, handed to the reader unchecked
  void* field;
};

// Conversions saturate; NaN never reads as a number.
UInt32 toUnsigned(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return UInt32(v);
}
SInt32 toSigned(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 0x7FFFFFFF;
  if (v <= -2147483648.0) return SInt32(-2147483647 - 1);
  return SInt32(v);
}

// The keys after "VERS", in the order they are read and written.
template <class Fn>
void forEachSetting(MyImageWindowDataStruct* r, Fn fn) {
  static const char* const kSharp[kImageWindowLevelCount] = {"SHARP1", "SHARP2", "SHARP3", "SHARP4",
                                                             "SHARP5", "SHARP6", "SHARP7"};
  const Setting head[] = {
      {"SHRPSMOO", Kind::kFlag, 0, 1, &r->mSharpenSmooth},
      {"MINSHRPTHRESH", Kind::kThreshold, 0, 65535, &r->mMinSharpenThreshold},
      {"MAXSHRPTHRESH", Kind::kThreshold, 0, 65535, &r->mMaxSharpenThreshold},
      {"PREVIEW", Kind::kFlag, 0, 1, &r->mPreview},
      {"SAVE16Bit", Kind::kFlag, 0, 1, &r->mSave16Bit},
  };
  for (const Setting& s : head)
    if (!fn(s)) return;
  for (int k = 0; k < kImageWindowLevelCount; ++k)
    if (!fn(Setting{kSharp[k], Kind::kFloat, 0, 211, &r->mSharpAmount[k]})) return;
  const Setting tail[] = {
      {"LOGCURVE", Kind::kFloat, 0.01, 5, &r->mCurve},
      {"LOGCURVECUTOFF", Kind::kUnsigned, 0, 65535, &r->mCurveCutoff},
      {"LRGB", Kind::kModeFlag, 0, 1, &r->mLRGBMode},
      {"SATRED", Kind::kFloat, 0, 100, &r->mRedBalance},
      {"SATGREEN", Kind::kFloat, 0, 100, &r->mGreenBalance},
      {"SATBLUE", Kind::kFloat, 0, 100, &r->mBlueBalance},
      {"MINRED", Kind::kUnsigned, 0, 65535, &r->mMinRed},
      {"MAXRED", Kind::kUnsigned, 0, 65535, &r->mMaxRed},
      {"MINGREEN", Kind::kUnsigned, 0, 65535, &r->mMinGreen},
      {"MAXGREEN", Kind::kUnsigned, 0, 65535, &r->mMaxGreen},
      {"MINBLUE", Kind::kUnsigned, 0, 65535, &r->mMinBlue},
      {"MAXBLUE", Kind::kUnsigned, 0, 65535, &r->mMaxBlue},
      {"NOISEREDUCT", Kind::kUnsigned, 1, 13, &r->mNoiseReduction},
      {"REHORZOFF", Kind::kOffset, -8, 8, &r->mRedHorzOffset},
      {"REDVERTOFF", Kind::kOffset, -8, 8, &r->mRedVertOffset},
      {"BLUHORZOFF", Kind::kOffset, -8, 8, &r->mBlueHorzOffset},
      {"BLUVERTOFF", Kind::kOffset, -8, 8, &r->mBlueVertOffset},
      {"GRNHORZOFF", Kind::kGreen, -8, 8, &r->mGreenHorzOffset},
      {"GRNVERTOFF", Kind::kGreen, -8, 8, &r->mGreenVertOffset},
      {"SATURATION", Kind::kFloat, -1, 7, &r->mSaturation},
  };
  for (const Setting& s : tail)
    if (!fn(s)) return;
}

void store(const Setting& s, double v) {
  switch (s.kind) {
    case Kind::kFlag:
      *static_cast<UInt8*>(s.field) = v > 0.0 ? 1 : 0;
      break;
    case Kind::kModeFlag:
      *static_cast<UInt8*>(s.field) = v > 0.01 ? 1 : 0;
      break;
    case Kind::kUnsigned:
      *static_cast<UInt32*>(s.field) = toUnsigned(v);
      break;
    case Kind::kThreshold: {
      const UInt32 u = toUnsigned(v);
      *static_cast<SInt32*>(s.field) = u > 0x7FFFFFFFu ? 0x7FFFFFFF : SInt32(u);
      break;
    }
    case Kind::kOffset:
    case Kind::kGreen:
      *static_cast<SInt32*>(s.field) = toSigned(v);
      break;
    case Kind::kFloat:
      *static_cast<Float32*>(s.field) = Float32(v);
      break;
  }
}

double value(const Setting& s, bool greenLocked) {
  switch (s.kind) {
    case Kind::kFlag:
    case Kind::kModeFlag:
      return *static_cast<const UInt8*>(s.field) ? 1.0 : 0.0;
    case Kind::kUnsigned:
      return double(*static_cast<const UInt32*>(s.field));
    case Kind::kThreshold:
      return double(UInt32(*static_cast<const SInt32*>(s.field)));
    case Kind::kOffset:
      return double(*static_cast<const SInt32*>(s.field));
    case Kind::kGreen:
      return greenLocked ? 0.0 : double(*static_cast<const SInt32*>(s.field));
    case Kind::kFloat:
      return double(*static_cast<const Float32*>(s.field));
  }
  return 0.0;
}

OSStatus readInto(CFStringRef domain, const Setting& s) {
  CFStringRef key = CFStringCreateWithCString(nullptr, s.key, kCFStringEncodingMacRoman);
  if (key == nullptr) return memFullErr;
  double v = 0.0;
  const OSStatus err = myVerifyCFStrForApplicationID(domain, key, 0, s.min, s.max, &v);
  CFRelease(key);
  if (err == noErr && s.field != nullptr) store(s, v);
  return err;
}

OSStatus write(CFStringRef domain, const char* name, double v) {
  CFStringRef key = CFStringCreateWithCString(nullptr, name, kCFStringEncodingMacRoman);
  if (key == nullptr) return memFullErr;
  const OSStatus err = myWriteOutCFStrForDblApplicationID(domain, key, v);
  CFRelease(key);
  return err;
}

OSStatus readAll(MyImageWindowDataStruct* r, CFStringRef domain) {
  OSStatus err = readInto(domain, Setting{"VERS", Kind::kFloat, 0, 1, nullptr});
  if (err != noErr) return err;
  forEachSetting(r, [&](const Setting& s) {
    if (s.kind == Kind::kGreen && r->mGreenOffsetsLocked) {
      *static_cast<SInt32*>(s.field) = 0;
    } else {
      err = readInto(domain, s);
    }
    // The offsets are all known once the last green one has been seen.
    if (s.field == &r->mGreenVertOffset)
      r->mOffsetsActive = (r->mRedHorzOffset | r->mRedVertOffset | r->mBlueHorzOffset |
                           r->mBlueVertOffset | r->mGreenHorzOffset | r->mGreenVertOffset) != 0;
    return true;
  });
  return err;  // that of "SATURATION", read last
}

OSStatus writeAll(MyImageWindowDataStruct* r, CFStringRef domain) {
  OSStatus err = write(domain, "VERS", kVersionMark);
  if (err != noErr) return err;
  forEachSetting(r, [&](const Setting& s) {
    err = write(domain, s.key, value(s, r->mGreenOffsetsLocked != 0));
    return err == noErr;
  });
  if (err != noErr) return err;
  if (!CFPreferencesAppSynchronize(domain)) myPostAlert("OSXER", "CFPREFERR");
  return noErr;
}

}  // namespace

OSStatus myReadWriteImageProcessingPrefs(MyImageWindowDataStruct* record, SInt32 mode) {
  if (record == nullptr) return paramErr;
  CFStringRef domain = CFStringCreateWithCString(nullptr, kDomain, kCFStringEncodingMacRoman);
  if (domain == nullptr) return noErr;
  const OSStatus err = mode == 1 ? readAll(record, domain) : writeAll(record, domain);
  CFRelease(domain);
  return err;
}
