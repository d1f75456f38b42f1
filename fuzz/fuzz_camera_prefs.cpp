// The camera preference read pass over any domain: the input is lines
// "KEY=TEXT" (a KEY that is a small number names a key of the pass, so that
// mutations reach them all), stored as the camera's domain; the pass must
// read it without a crash, a sanitizer report, or a field outside the values
// its users accept.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/UIModel.h"

namespace {

const char* const kKeys[] = {
    "VERS",         "PGRL",         "CAID",        "50HZ",         "TRGMD",         "TRIG4PIN",    "IVFR",
    "FLIH",         "FLIV",         "BAYR",        "MOFR",         "FORT",          "FFMT",        "FINM",
    "FRAM",         "CCDB",         "CWTO",        "CWLF",         "CWHE",          "VWTO",        "VWLF",
    "DFLTFOPICK",   "VREFNUM",      "PARID",       "MOFM",         "SKVA",          "SHFM",        "DKFM",
    "BRFM",         "HIBY",         "UTCO",        "LONO",         "RESH",          "SHSATPIX",    "SATPIXCUTOFF",
    "BRITAREAWIDTH", "BRITAREAHEIGHT", "ZOOA",     "ZOOX",         "ZOOY",          "COLOURIZE_ON", "COLOURIZE_R",
    "COLOURIZE_G",  "COLOURIZE_B",  "SPCR",        "SPCG",         "SPCB",          "HTPX",        "LHTPX",
    "HCRP",         "HIOF",         "HELP",        "OPFD",         "OPMO",          "GFAV",        "GFSM",
    "IMAL",         "DECTRACKING",  "PIXACCURCY",  "MAXRAPIX",     "MAXDECPIX",     "USEFWHMHFD",  "ELIMHOTPIX",
    "USESINGLCENTROID", "MOTSTRTTIME", "RAFIRST",  "LUNSOLTRACK",  "SKIP10TIMES",   "PIXEL16SHIFT", "PIXEL16ENDIANSWAP",
    "FMT7TOP",      "FMT7LEFT",     "MAINTAINTEMP", "SHOWTEMP",    "FMT7WIDTH",     "FMT7HEIGHT",  "FMT7ROI",
    "SOFTROI",      "SOFTROIWIDTH", "SOFTROIHEIGHT", "SOFTROILEFT", "SOFTROITOP",   "VISZ",        "SAT_",
    "EXPO",         "VorR",         "UorB",        "GAMA",         "GAIN",          "BRIT",        "EXPD"};
constexpr unsigned kKeyCount = sizeof kKeys / sizeof kKeys[0];
constexpr UInt32 kCameraID = 4711;

MyCameraWindowDataStruct* gRecord = nullptr;
MyCameraWindowDataStruct gFresh;

// A record as the camera's opening leaves it (without a camera: the video
// size cannot be programmed, so the pass ends there) and its control window.
void SetUpOnce() {
  if (gRecord) return;
  // The bundle's resources: the build tree's "resources" above the program.
  skyloom::ui::SetResourceDirectory("");
  char dir[] = "/tmp/skyloom-fuzz-prefs-XXXXXX";
  if (!mkdtemp(dir)) abort();
  SkyloomSetConfigurationDirectory(dir);
  gMyCameraSettleSleep = [](UInt64) {};

  gRecord = static_cast<MyCameraWindowDataStruct*>(calloc(1, sizeof(MyCameraWindowDataStruct)));
  MyCameraWindowDataStruct* r = gRecord;
  r->mKind = kMyCameraWindowDataKind;
  r->mProperties.mCameraID = kCameraID;
  r->mBitsPerPixel = 8;
  r->mFrameRate = 30.0;
  r->mWidth = 640;
  r->mHeight = 480;
  r->mDisplayFormatItem = 2;
  r->mFirstExposureItem = 4;
  r->mExposureItemLimit = 8;
  r->mVideoSizeCount = 2;
  r->mVideoSizes[0] = MyVideoSizeStruct{0, 5, 640, 480, 0, 0, 0, 0, 66.7};
  r->mVideoSizes[1] = MyVideoSizeStruct{7, 0, 1280, 960, 9, 1, 1, 1, 533.0};
  r->mTemperatureSettable = 1;
  r->mTemperatureMode = 1;
  r->mFileNaming = 1;
  r->mZoomScale = 1.0f;
  r->mZoomItem = 6;
  r->mUserBayerCode = 1;
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) abort();
  if (CreateWindowFromNib(nib, CFSTR("ControlWindow"), &r->mControlWindow) != noErr) abort();
  DisposeNibReference(nib);
  SetWRefCon(r->mControlWindow, SRefCon(r));
  gFresh = *r;
}

void Check(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "camera preferences: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SetUpOnce();
  SkyloomPreferencesForgetAll();
  char domainText[64];
  snprintf(domainText, sizeof domainText, "com.brindlemoor.SKYLOOM.CameraPrefs%d", int(kCameraID));
  CFStringRef domain = CFStringCreateWithCString(nullptr, domainText, kCFStringEncodingUTF8);
  CFPreferencesSetAppValue(CFSTR("VERS"), CFSTR("4194319.000000"), domain);

  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  while (at < input.size()) {
    size_t end = input.find('\n', at);
    if (end == std::string::npos) end = input.size();
    const std::string line = input.substr(at, end - at);
    at = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string key = line.substr(0, eq);
    if (key.size() <= 3 && key.find_first_not_of("0123456789") == std::string::npos)
      key = kKeys[unsigned(atoi(key.c_str())) % kKeyCount];
    CFStringRef k = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(key.data()), CFIndex(key.size()),
                                            kCFStringEncodingUTF8, false);
    CFStringRef v = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(line.data() + eq + 1),
                                            CFIndex(line.size() - eq - 1), kCFStringEncodingUTF8, false);
    if (k && v) CFPreferencesSetAppValue(k, v, domain);
    if (k) CFRelease(k);
    if (v) CFRelease(v);
  }
  CFRelease(domain);

  MyCameraWindowDataStruct* r = gRecord;
  *r = gFresh;
  myReadWriteCameraPrefs(r, 1);

  // What the rest of the application relies on.
  Check(r->mVideoSizeIndex < r->mVideoSizeCount, "video size index");
  Check(r->mZoomItem >= 3 && r->mZoomItem <= 10, "zoom item");
  Check(r->mZoomScale >= 0.01f && r->mZoomScale <= 8.0f, "zoom scale");
  Check(r->mUserBayerCode >= 1 && r->mUserBayerCode <= 4, "Bayer code");
  Check(r->mTriggerMode == 0 || r->mTriggerMode == 14, "trigger mode");
  Check(r->mMovieFrameInterval >= 0.0 && r->mMovieFrameInterval <= 60000.0, "recording interval");
  Check(r->mFileNaming >= 1 && r->mFileNaming <= 4, "file naming");
  Check(r->mSoftROILeft <= 8000 && r->mSoftROIWidth <= 8000 && r->mLeft <= 8000 && r->mWidth <= 8000,
        "frame geometry");
  Check(!r->mSoftROIActive || (r->mSoftROILeft + r->mSoftROIWidth <= r->mWidth &&
                               r->mSoftROITop + r->mSoftROIHeight <= r->mHeight),
        "software crop inside the frame");
  Check(r->mHotPixelThreshold <= 35, "hot-pixel threshold");
  Check(r->mPixel16Shift <= 7, "16-bit shift");
  return 0;
}
