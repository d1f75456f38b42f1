// The camera's preference domain: the read pass that fills the record and the
// control window when the control window is set up, and the write pass when
// the camera's windows close.
#include "app/CameraPrefs.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/ExposureControls.h"
#include "app/PreviewDrawing.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/Files.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/PreferenceText.h"

namespace {

constexpr OSType kVideoSize = FOUR_CHAR_CODE("VISZ");
constexpr OSType kExposureBase = FOUR_CHAR_CODE("CCDB");
constexpr OSType kStretch = FOUR_CHAR_CODE("EXPD");

// The feature sliders, in the order they are read.
constexpr OSType kFeatures[] = {FOUR_CHAR_CODE("SAT_"), FOUR_CHAR_CODE("EXPO"), FOUR_CHAR_CODE("VorR"),
                                FOUR_CHAR_CODE("UorB"), FOUR_CHAR_CODE("GAMA"), FOUR_CHAR_CODE("GAIN"),
                                FOUR_CHAR_CODE("BRIT")};

// Picture kinds of single-frame grabs by their stored number 1..7.
constexpr OSType kSaveFileTypes[] = {FOUR_CHAR_CODE("TIFF"), FOUR_CHAR_CODE("PNGf"), FOUR_CHAR_CODE("BMPf"),
                                     FOUR_CHAR_CODE("8BPS"), FOUR_CHAR_CODE("PICT"), FOUR_CHAR_CODE("FITS"),
                                     FOUR_CHAR_CODE("JPEG")};

// A stored number in the field's type: truncated toward zero and held to the
// type's range (a hand-edited or foreign file may hold anything).
template <typename T>
T InType(double v) {
  if (v != v) return T(0);
  const double lo = double(std::numeric_limits<T>::lowest());
  const double hi = double(std::numeric_limits<T>::max());
  if (v <= lo) return std::numeric_limits<T>::lowest();
  if (v >= hi) return std::numeric_limits<T>::max();
  return T(v);
}

// A colour component: the checked range reaches 65536, which is full scale.
UInt16 Component(double v) { return v >= 65535.0 ? UInt16(65535) : InType<UInt16>(v); }

// Frame geometry keys: held to the [0, 8000] their table gives, so that
// sums of position and size cannot wrap.
UInt32 Geometry(double v) { return v > 8000.0 ? 8000u : InType<UInt32>(v); }

CFStringRef MakeString(const char* text) {
  return CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
}

void SignatureKey(OSType signature, char key[5]) {
  key[0] = char(signature >> 24);
  key[1] = char(signature >> 16);
  key[2] = char(signature >> 8);
  key[3] = char(signature);
  key[4] = '\0';
}

// One numeric key: myVerifyCFStrForApplicationID's result, -108 when the key
// cannot be made.
OSStatus ReadKey(CFStringRef app, const char* key, bool checked, double min, double max, double* value) {
  *value = 0.0;
  CFStringRef k = MakeString(key);
  if (!k) return memFullErr;
  OSStatus err = myVerifyCFStrForApplicationID(app, k, checked ? 1 : 0, min, max, value);
  CFRelease(k);
  return err;
}

OSStatus WriteKey(CFStringRef app, const char* key, double value) {
  CFStringRef k = MakeString(key);
  if (!k) return memFullErr;
  OSStatus err = myWriteOutCFStrForDblApplicationID(app, k, value);
  CFRelease(k);
  return err;
}

// A control key read and applied; *accepted tells whether the stored number
// was taken, *readStatus is the reader's result (-1 when the control was not
// read at all).
OSStatus ReadControlKey(CFStringRef app, OSType signature, WindowRef window, double* value, bool* accepted,
                        OSStatus* readStatus) {
  *value = 0.0;
  *accepted = false;
  *readStatus = kPrefTextMissing;
  char key[5];
  SignatureKey(signature, key);
  CFStringRef k = MakeString(key);
  if (!k) return memFullErr;
  ControlID id = {signature, 0};
  ControlRef control = nullptr;
  OSStatus err = window ? GetControlByID(window, &id, &control) : errInvalidWindowRef;
  if (err == noErr && control && IsControlEnabled(control)) {
    double v = 0.0;
    *readStatus = myVerifyCFStrForApplicationID(app, k, 1, double(GetControl32BitMinimum(control)),
                                                double(GetControl32BitMaximum(control)), &v);
    if (*readStatus == noErr) {
      SetControl32BitValue(control, InType<SInt32>(v));
      myLiveDCamControlProc(control, 0);
      *value = v;
      *accepted = true;
    } else {
      *value = double(GetControl32BitValue(control));
    }
  }
  CFRelease(k);
  return err;
}

OSStatus WriteControlKey(CFStringRef app, OSType signature, WindowRef window, bool disabledStoresMinusOne) {
  char key[5];
  SignatureKey(signature, key);
  ControlID id = {signature, 0};
  ControlRef control = nullptr;
  OSStatus err = window ? GetControlByID(window, &id, &control) : errInvalidWindowRef;
  if (err != noErr) return err;
  const double value = disabledStoresMinusOne && !IsControlEnabled(control) ? -1.0
                                                                             : double(GetControl32BitValue(control));
  return WriteKey(app, key, value);
}

bool InsideRect(const Rect& r, Point p) { return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right; }

// "CWTO"/"CWLF" or "VWTO"/"VWLF": a position that lies off the desktop comes
// back near its top left corner.
void ReadWindowPosition(CFStringRef app, const char* topKey, const char* leftKey, const Rect& desktop,
                        Point* position) {
  double v;
  if (ReadKey(app, topKey, false, 0, 0, &v) != noErr) return;
  position->v = InType<SInt16>(v);
  if (ReadKey(app, leftKey, false, 0, 0, &v) != noErr) return;
  position->h = InType<SInt16>(v);
  if (!InsideRect(desktop, *position)) {
    position->v = SInt16(desktop.top + 32);
    position->h = SInt16(desktop.left + 4);
  }
}

SInt16 ZoomItemForScale(float scale) {
  const struct {
    float scale;
    SInt16 item;
  } kItems[] = {{0.25f, 3}, {0.5f, 4}, {0.75f, 5}, {1.0f, 6}, {2.0f, 7}, {4.0f, 8}, {8.0f, 9}};
  for (const auto& z : kItems)
    if (scale == z.scale) return z.item;
  return 10;
}

OSStatus ReadPass(MyCameraWindowDataStruct* r) {
  char domain[96];
  snprintf(domain, sizeof domain, "com.brindlemoor.SKYLOOM.CameraPrefs%d", int(r->mProperties.mCameraID));
  CFStringRef app = MakeString(domain);
  if (!app) return memFullErr;
  double v = 0.0;
  // 1. A camera never saved reads the application's own domain.
  if (ReadKey(app, "VERS", false, 0, 0, &v) != noErr) {
    CFRelease(app);
    app = MakeString("com.brindlemoor.SKYLOOM_App");
    if (!app) return memFullErr;
  }
  // 2. The desktop, for the window positions.
  Rect desktop;
  GetRegionBounds(GetGrayRgn(), &desktop);
  WindowRef w = r->mControlWindow;

  // Plain keys: the number when read, else the fallback (or the field kept).
  auto number = [&](const char* key, bool checked, double min, double max) {
    return ReadKey(app, key, checked, min, max, &v) == noErr;
  };
  auto flag = [&](const char* key, bool checked, UInt8 refused) -> UInt8 {
    return number(key, checked, 0, 1) ? UInt8(v > 0) : refused;
  };
  auto softFlag = [&](const char* key, UInt8* field) {
    if (number(key, false, 0, 1)) *field = v > 0.01;
  };
  auto u32 = [&](const char* key, double min, double max, UInt32 refused) -> UInt32 {
    return number(key, true, min, max) ? InType<UInt32>(v) : refused;
  };
  auto keepU32 = [&](const char* key, double min, double max, UInt32* field) {
    if (number(key, true, min, max)) *field = InType<UInt32>(v);
  };
  double c = 0.0;
  bool accepted = false;
  OSStatus readStatus = noErr;
  auto control = [&](OSType signature) {
    return ReadControlKey(app, signature, w, &c, &accepted, &readStatus);
  };

  // 3. Point Grey long exposures.
  if (number("PGRL", true, 0, 1)) {
    r->mPGRLongExposure = v > 0;
    if (r->mIsPointGrey == 1) {
      r->mPGRLongExposureCapable = 1;
      r->mPGRLongExposureOn = r->mPGRLongExposure;
      mySetUpFrameRate_ExposMenu(r, 1);
    }
  } else {
    r->mPGRLongExposure = 0;
  }
  r->m50HzScale = flag("50HZ", false, 0);
  r->mTriggerMode = number("TRGMD", false, 0, 14) && v >= 14.0 ? 14 : 0;
  r->mTrigger4Pin = flag("TRIG4PIN", false, 0);

  // 4. Frame orientation: control keys whose flag is the value handed back.
  const struct {
    OSType signature;
    UInt8* field;
  } kOrientation[] = {{FOUR_CHAR_CODE("IVFR"), &r->mInvert},
                      {FOUR_CHAR_CODE("FLIH"), &r->mFlipHorizontal},
                      {FOUR_CHAR_CODE("FLIV"), &r->mFlipVertical}};
  for (const auto& o : kOrientation) *o.field = control(o.signature) == noErr && c > 0;

  // 5. The Bayer pattern the user chose.
  r->mUserBayerCode = u32("BAYR", 1, 4, 1);
  if (r->mUserBayerCode != 0 && r->mBayerSelectable == 1 && r->mColourSensor == 1) r->mBayerFormat = r->mUserBayerCode;

  control(FOUR_CHAR_CODE("MOFR"));
  if (accepted) {
    r->mMovieFrameItem = InType<UInt32>(c);
    r->mMovieFrameInterval = myMovieFrameIntervalForItem(r->mMovieFrameItem);
  }
  control(FOUR_CHAR_CODE("FORT"));
  if (accepted) r->mDisplayFormatItem = InType<UInt32>(c);
  if (number("FFMT", true, 1, 7)) r->mSaveFileType = kSaveFileTypes[InType<UInt32>(v) - 1];
  keepU32("FINM", 1, 4, &r->mFileNaming);
  control(FOUR_CHAR_CODE("FRAM"));
  if (accepted) r->mFrameRate = myRateItemFramesPerSecond(InType<UInt32>(c));

  // 6. The exposure base, held to the camera's own items.
  control(kExposureBase);
  SInt64 n = w ? myGetControlValue(w, kExposureBase, 0) : 0;
  if (n >= SInt64(r->mExposureItemLimit)) n = SInt64(r->mExposureItemLimit) - 1;
  if (n < SInt64(r->mFirstExposureItem)) n = r->mFirstExposureItem;
  mySetBaseCCDExposureTime(r, UInt32(n));
  if (w) myChangePopMenuControl(w, kExposureBase, SInt32(n), 0, 1);
  r->mShowSharpness = 0;

  // 7. Window positions and the control window's height.
  ReadWindowPosition(app, "CWTO", "CWLF", desktop, &r->mControlWindowPos);
  r->mControlWindowHeight = number("CWHE", false, 108, 566) ? InType<SInt16>(v) : SInt16(566);
  ReadWindowPosition(app, "VWTO", "VWLF", desktop, &r->mVideoWindowPos);

  // 8. The save folder, kept only while it can still be found.
  if (number("DFLTFOPICK", false, 0, 1)) {
    r->mDefaultFolderValid = v > 0;
    if (r->mDefaultFolderValid) {
      if (number("VREFNUM", false, 0, 0)) {
        r->mDefaultFolderVRefNum = InType<SInt16>(v);
        if (number("PARID", false, 0, 0)) {
          r->mDefaultFolderDirID = InType<SInt32>(v);
          Str255 empty = {0};
          FSSpec folder;
          r->mDefaultFolderValid =
              FSMakeFSSpec(r->mDefaultFolderVRefNum, r->mDefaultFolderDirID, empty, &folder) == noErr;
        } else {
          r->mDefaultFolderValid = 0;
        }
      } else {
        r->mDefaultFolderValid = 0;
      }
    }
  }

  keepU32("MOFM", 0, 1000000, &r->mRecordFrameLimit);
  if (number("SKVA", true, 0.01, 99.99)) r->mSkipSharpnessPercent = v;
  keepU32("SHFM", 1, 256, &r->mSharpFrameCount);
  keepU32("DKFM", 1, 256, &r->mDarkFrameCount);
  keepU32("BRFM", 1, 256, &r->mFlatFrameCount);
  softFlag("HIBY", &r->mHighQualityBayer);
  softFlag("UTCO", &r->mShowTimeCode);
  softFlag("LONO", &r->mAddNoteOn);
  if (number("RESH", false, 0, 1)) {
    r->mShowReticle = v > 0.01;
    if (w) mySetControlValue(w, FOUR_CHAR_CODE("RESH"), 0, r->mShowReticle);
  }
  if (number("SHSATPIX", false, 0, 1)) {
    r->mShowSaturated = v > 0.01;
    if (w) mySetControlValue(w, FOUR_CHAR_CODE("SHSA"), 0, r->mShowSaturated);
  }
  keepU32("SATPIXCUTOFF", 0, 255, &r->mSaturationCutoff);
  keepU32("BRITAREAWIDTH", 2, 8000, &r->mBrightnessAreaWidth);
  keepU32("BRITAREAHEIGHT", 2, 8000, &r->mBrightnessAreaHeight);

  // 9. Zoom.
  if (number("ZOOA", true, 0.01, 8)) {
    r->mZoomScale = InType<float>(v);
    r->mZoomItem = ZoomItemForScale(r->mZoomScale);
  } else {
    r->mZoomScale = 1.0f;
    r->mZoomItem = 6;
  }
  r->mZoomX = number("ZOOX", true, 0, double(r->mWidth)) ? InType<SInt16>(v) : InType<SInt16>(r->mWidth / 2);
  r->mZoomY = number("ZOOY", true, 0, double(r->mHeight)) ? InType<SInt16>(v) : InType<SInt16>(r->mHeight / 2);

  // 10. Colourize, the balance colour and the hot pixels.
  r->mColourizeOn = flag("COLOURIZE_ON", true, 0);
  auto component = [&](const char* key) -> UInt16 {
    return number(key, true, 0, 65536) ? Component(v) : UInt16(65535);
  };
  r->mColourizeColour.red = component("COLOURIZE_R");
  r->mColourizeColour.green = component("COLOURIZE_G");
  r->mColourizeColour.blue = component("COLOURIZE_B");
  myFillInCourizedARGB32Table(r->mColourizeTable, r->mColourizeColour);
  r->mBalanceColour.red = component("SPCR");
  r->mBalanceColour.green = component("SPCG");
  r->mBalanceColour.blue = component("SPCB");
  r->mHotPixelFlag = flag("HTPX", true, 0);
  r->mLiveHotPixelFlag = flag("LHTPX", true, 0);
  r->mHotPixelThreshold = u32("HCRP", 0, 35.01, 23);
  control(FOUR_CHAR_CODE("HIOF"));
  if (accepted) r->mHistogramOption = c >= 1.0 ? InType<UInt32>(c) - 1 : 0;

  // No display stretch until the user asks again.
  r->mHistogramExpand = 0;
  r->mHelpOption = flag("HELP", true, 1);
  r->mOpenFrameAfterSave = flag("OPFD", true, 1);
  r->mOpenMovieAfterSave = flag("OPMO", true, 1);
  r->mAverageFrameCount = u32("GFAV", 1, 10000, 1);
  r->mSumFrameCount = u32("GFSM", 1, 10000, 1);
  r->mImageAlignMode = u32("IMAL", 0, 2, 0);

  // Guiding options.
  r->mDecCalibrationMode = u32("DECTRACKING", 1, 4, 1);
  r->mTrackAccuracy = number("PIXACCURCY", true, 0.1, 10) ? InType<float>(v) : 0.1f;
  r->mMinRAMotionPixels = u32("MAXRAPIX", 5, 50, 30);
  r->mMinDecMotionPixels = u32("MAXDECPIX", 5, 50, 10);
  r->mTurbulenceLimit = flag("USEFWHMHFD", true, 0);
  r->mEliminateHotPixels = flag("ELIMHOTPIX", true, 0);
  r->mMultipleObjects = flag("USESINGLCENTROID", true, 0);
  r->mCalibrationMoveItem = u32("MOTSTRTTIME", 1, 14, 2);
  r->mCorrectionOrder = u32("RAFIRST", 0, 3, 0);
  r->mLunarSolarTracking = flag("LUNSOLTRACK", true, 0);
  r->mSkipLargeChanges = flag("SKIP10TIMES", true, 0);
  r->mPixel16Shift = u32("PIXEL16SHIFT", 0, 7, 0);
  r->mPixel16EndianSwap = flag("PIXEL16ENDIANSWAP", true, 0);

  // Frame geometry, temperature and the regions of interest.
  r->mTop = number("FMT7TOP", false, 0, 8000) ? Geometry(v) : 0;
  r->mLeft = number("FMT7LEFT", false, 0, 8000) ? Geometry(v) : 0;
  if (r->mTemperatureSettable != 0 && number("MAINTAINTEMP", false, 0, 1000)) r->mTargetTemperature = InType<float>(v);
  if (r->mTemperatureMode != 0 && number("SHOWTEMP", false, 0, 1)) r->mShowTemperature = v > 0;
  if (number("FMT7WIDTH", false, 0, 8000)) r->mWidth = Geometry(v);
  if (number("FMT7HEIGHT", false, 0, 8000)) r->mHeight = Geometry(v);
  if (number("FMT7ROI", false, 0, 1)) r->mF7ROIOn = v > 0;
  if (number("SOFTROI", false, 0, 1)) r->mSoftROIEnabled = v > 0;
  if (number("SOFTROIWIDTH", false, 0, 8000)) r->mSoftROIWidth = Geometry(v);
  if (number("SOFTROIHEIGHT", false, 0, 8000)) r->mSoftROIHeight = Geometry(v);
  if (number("SOFTROILEFT", false, 0, 8000)) r->mSoftROILeft = Geometry(v);
  if (number("SOFTROITOP", false, 0, 8000)) r->mSoftROITop = Geometry(v);
  // The software crop applies only to a region smaller than the frame that
  // lies inside it.
  {
    const UInt64 right = UInt64(r->mSoftROILeft) + r->mSoftROIWidth;
    const UInt64 bottom = UInt64(r->mSoftROITop) + r->mSoftROIHeight;
    const bool inside = r->mSoftROIWidth > 0 && r->mSoftROIHeight > 0 && right <= r->mWidth && bottom <= r->mHeight;
    r->mSoftROIActive = r->mSoftROIEnabled && inside && (right < r->mWidth || bottom < r->mHeight);
  }

  // 11. The video size, then the feature sliders of that size.
  if (w) myChangePopMenuControl(w, kVideoSize, SInt32(r->mVideoSizeIndex + 1), 0, -1);
  control(kVideoSize);
  r->mVideoSizeIndex = accepted && c >= 1.0 && c <= double(r->mVideoSizeCount) ? InType<UInt32>(c) - 1 : 0;
  OSStatus err = mySetCameraFMRByIndexItem(r, SInt32(r->mVideoSizeIndex));
  if (err != noErr) {
    CFRelease(app);
    return err;
  }
  if (w) myChangePopMenuControl(w, kVideoSize, SInt32(r->mVideoSizeIndex + 1), 0, 1);
  myRefreshControlsForMono_ColorChanges(r);
  for (OSType f : kFeatures) control(f);

  // 12. The display stretch starts over.
  r->mStretchRequest = 3;
  if (w) {
    myEnableDisableControl(w, kStretch, 0, 1);
    myUncheckAllPopMenuControl(w, kStretch);
    myChangePopMenuControl(w, kStretch, SInt32(r->mHistogramExpand) + 1, 0, 1);
  }
  CFRelease(app);
  return noErr;
}

UInt32 SaveFileTypeNumber(OSType type) {
  for (UInt32 i = 0; i < sizeof kSaveFileTypes / sizeof kSaveFileTypes[0]; i++)
    if (kSaveFileTypes[i] == type) return i + 1;
  return 0;  // not one of the seven: reads back as refused, the kind stays
}

OSStatus WritePass(MyCameraWindowDataStruct* r) {
  char domain[96];
  snprintf(domain, sizeof domain, "com.brindlemoor.SKYLOOM.CameraPrefs%d", int(r->mProperties.mCameraID));
  CFStringRef app = MakeString(domain);
  if (!app) return memFullErr;
  WindowRef w = r->mControlWindow;
  OSStatus err = noErr;
  auto put = [&](const char* key, double value) {
    if (err == noErr) err = WriteKey(app, key, value);
  };
  auto ctl = [&](OSType signature) {
    if (err == noErr) err = myWriteOutControlPref(app, signature, w);
  };

  // 1.
  put("VERS", 4194319);
  put("CAID", double(r->mProperties.mCameraID));
  put("FINM", r->mFileNaming);
  put("DFLTFOPICK", r->mDefaultFolderValid);
  if (r->mDefaultFolderValid == 1) {
    put("VREFNUM", r->mDefaultFolderVRefNum);
    put("PARID", r->mDefaultFolderDirID);
  }
  put("TRGMD", r->mTriggerMode);
  // 2.
  for (OSType s : {FOUR_CHAR_CODE("MOFR"), FOUR_CHAR_CODE("FORT"), FOUR_CHAR_CODE("BRIT"), FOUR_CHAR_CODE("SAT_"),
                   FOUR_CHAR_CODE("EXPO"), FOUR_CHAR_CODE("VorR"), FOUR_CHAR_CODE("UorB"), FOUR_CHAR_CODE("GAMA"),
                   FOUR_CHAR_CODE("GAIN"), FOUR_CHAR_CODE("FRAM"), FOUR_CHAR_CODE("IVFR"), FOUR_CHAR_CODE("FLIH"),
                   FOUR_CHAR_CODE("FLIV"), FOUR_CHAR_CODE("HIOF")})
    ctl(s);
  // 3.
  put("EXPD", r->mHistogramExpand);
  put("FFMT", SaveFileTypeNumber(r->mSaveFileType));
  ctl(kExposureBase);
  put("CWTO", r->mControlWindowPos.v);
  put("CWLF", r->mControlWindowPos.h);
  put("CWHE", r->mControlWindowHeight);
  put("VWTO", r->mVideoWindowPos.v);
  put("VWLF", r->mVideoWindowPos.h);
  put("MOFM", r->mRecordFrameLimit);
  put("SKVA", r->mSkipSharpnessPercent);
  put("SHFM", r->mSharpFrameCount);
  put("DKFM", r->mDarkFrameCount);
  put("BRFM", r->mFlatFrameCount);
  put("HIBY", r->mHighQualityBayer);
  put("RESH", r->mShowReticle);
  put("UTCO", r->mShowTimeCode);
  put("HTPX", r->mHotPixelFlag);
  put("LHTPX", r->mLiveHotPixelFlag);
  put("HCRP", r->mHotPixelThreshold);
  put("LONO", r->mAddNoteOn);
  put("ZOOA", r->mZoomScale);
  put("ZOOX", r->mZoomX);
  put("ZOOY", r->mZoomY);
  put("COLOURIZE_ON", r->mColourizeOn);
  put("COLOURIZE_R", r->mColourizeColour.red);
  put("COLOURIZE_G", r->mColourizeColour.green);
  put("COLOURIZE_B", r->mColourizeColour.blue);
  put("SPCR", r->mBalanceColour.red);
  put("SPCG", r->mBalanceColour.green);
  put("SPCB", r->mBalanceColour.blue);
  put("HIOF", double(r->mHistogramOption) + 1.0);
  put("HELP", r->mHelpOption);
  put("OPFD", r->mOpenFrameAfterSave);
  put("OPMO", r->mOpenMovieAfterSave);
  put("GFAV", r->mAverageFrameCount);
  put("GFSM", r->mSumFrameCount);
  put("PGRL", r->mPGRLongExposure);
  put("IMAL", r->mImageAlignMode);
  ctl(kVideoSize);
  put("BAYR", r->mUserBayerCode);
  put("50HZ", r->m50HzScale);
  put("DECTRACKING", r->mDecCalibrationMode);
  put("RAFIRST", r->mCorrectionOrder);
  put("LUNSOLTRACK", r->mLunarSolarTracking);
  put("SKIP10TIMES", r->mSkipLargeChanges);
  put("MOTSTRTTIME", r->mCalibrationMoveItem);
  put("PIXACCURCY", r->mTrackAccuracy);
  put("MAXRAPIX", r->mMinRAMotionPixels);
  put("MAXDECPIX", r->mMinDecMotionPixels);
  put("USEFWHMHFD", r->mTurbulenceLimit);
  put("ELIMHOTPIX", r->mEliminateHotPixels);
  put("USESINGLCENTROID", r->mMultipleObjects);
  put("PIXEL16SHIFT", r->mPixel16Shift);
  put("PIXEL16ENDIANSWAP", r->mPixel16EndianSwap);
  put("FMT7TOP", r->mTop);
  put("FMT7LEFT", r->mLeft);
  put("FMT7WIDTH", r->mWidth);
  put("FMT7HEIGHT", r->mHeight);
  if (r->mFormat != 7) r->mF7ROIOn = 0;
  put("FMT7ROI", r->mF7ROIOn);
  put("SOFTROI", r->mSoftROIEnabled);
  put("SOFTROIWIDTH", r->mSoftROIWidth);
  put("SOFTROIHEIGHT", r->mSoftROIHeight);
  put("SOFTROILEFT", r->mSoftROILeft);
  put("SOFTROITOP", r->mSoftROITop);
  put("TRIG4PIN", r->mTrigger4Pin);
  put("SHSATPIX", r->mShowSaturated);
  put("SATPIXCUTOFF", r->mSaturationCutoff);
  put("BRITAREAWIDTH", r->mBrightnessAreaWidth);
  put("BRITAREAHEIGHT", r->mBrightnessAreaHeight);
  put("MAINTAINTEMP", r->mTemperatureSettable != 0 ? r->mTargetTemperature : 0.0f);
  put("SHOWTEMP", r->mTemperatureMode != 0 ? r->mShowTemperature : 0);

  // 4. Synchronize only a complete set.
  if (err != noErr) {
    char message[96];
    snprintf(message, sizeof message, "Skyloom Write Preferences Error %d 0x%X", int(err), unsigned(err));
    myPostAlert("", message);
  } else if (!CFPreferencesAppSynchronize(app)) {
    myPostAlertByKeyString("OSXER", "PREFWRITEFAILERR");
  }
  CFRelease(app);
  return err;
}

}  // namespace

double myMovieFrameIntervalForItem(UInt32 item) {
  static const double kIntervals[] = {0,      60000,     30000,     20000,     15000,    12000,     6000,
                                      4000,   3000,      2000,      1000,      500,      266.66667, 133.3333,
                                      66.666667, 33.333333, 16.666667, 8.3333335, 4.16666675};
  return item < sizeof kIntervals / sizeof kIntervals[0] ? kIntervals[item] : 0.0;
}

OSStatus myReadInSetUpControlPref(CFStringRef applicationID, OSType signature, WindowRef window, double* value) {
  double v;
  bool accepted;
  OSStatus status;
  OSStatus err = ReadControlKey(applicationID, signature, window, &v, &accepted, &status);
  if (value) *value = v;
  return err;
}

OSStatus mySpecificReadInSetUpControlPref(CFStringRef applicationID, OSType signature, WindowRef window,
                                          double* value) {
  return myReadInSetUpControlPref(applicationID, signature, window, value);
}

OSStatus myWriteOutControlPref(CFStringRef applicationID, OSType signature, WindowRef window) {
  return WriteControlKey(applicationID, signature, window, false);
}

OSStatus mySpecificWriteOutControlPref(CFStringRef applicationID, OSType signature, WindowRef window) {
  return WriteControlKey(applicationID, signature, window, true);
}

OSStatus myReadWriteCameraPrefs(MyCameraWindowDataStruct* record, UInt32 read) {
  if (!record) return paramErr;
  return read ? ReadPass(record) : WritePass(record);
}

// Shared with the settings slots.
OSStatus myReadControlKeyStatus(CFStringRef applicationID, OSType signature, WindowRef window, double* value,
                                OSStatus* readStatus) {
  bool accepted;
  return ReadControlKey(applicationID, signature, window, value, &accepted, readStatus);
}
