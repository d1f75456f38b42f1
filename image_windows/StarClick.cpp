#include "image_windows/StarClick.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_windows/ImageWindow.h"
#include "photometry/SkyPositionFields.h"
#include "photometry/StarMeasure.h"
#include "pixel/Centroids.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/EditText.h"

namespace {

constexpr OSStatus kNotTaken = eventNotHandledErr;  // -9874
constexpr OSType kText = FOUR_CHAR_CODE("TXSP");
constexpr OSType kEntryButton = FOUR_CHAR_CODE("BEMC");
constexpr OSType kChannelPopUp = FOUR_CHAR_CODE("CHAN");
constexpr float kNone = -9999.0f;
constexpr float kNoMagnitude = -999.0f;
constexpr float kApertureFactor = 1.582278481012658f;
constexpr short kPhotometryMaxWidth = 242, kPhotometryMaxHeight = 189;

bool logOpen(const MyImageWindowDataStruct* r) { return r->mLogFile != nullptr && r->mLogOpen == 1; }

void logLine(MyImageWindowDataStruct* r, const char* text) {
  if (!logOpen(r)) return;
  fputs(text, r->mLogFile);
  fflush(r->mLogFile);
}

void invalidate(MyImageWindowDataStruct* r) {
  if (r->mImageWindow == nullptr) return;
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  InvalWindowRect(r->mImageWindow, &port);
}

// The bare position text as a log field: its trailing tab would push every
// later field one column right of its header.
std::string logPosition(const MyImageWindowDataStruct* r, float x, float y) {
  char text[128];
  myConvertPixelXYtoCoordsString(r, x, y, false, text);
  std::string s(text);
  while (!s.empty() && s.back() == '\t') s.pop_back();
  return s;
}

// Window texts are UTF-8; the position text carries the log's single-byte ±.
std::string windowText(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (static_cast<unsigned char>(*p) == 0xB1)
      out += "\xC2\xB1";
    else
      out += *p;
  }
  return out;
}

void clearKnownStars(MyImageWindowDataStruct* r) {
  r->mMagStarCount = 0;
  r->mKnownStarMarks = 0;
  r->mKnownStarCount = 0;
  r->mRADecStarCount = 0;
  r->mMagCalibrated = 0;
  r->mClickMarkShown = 0;
  for (int i = 0; i < 3; ++i) r->mKnownStarRA[i] = r->mKnownStarMag[i] = kNone;
}

void clearTexts(MyImageWindowDataStruct* r) {
  myFillInCoodinates(r, true, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

void setEntryButton(MyImageWindowDataStruct* r) {
  WindowRef w = r->mPhotometryWindow;
  if (w == nullptr) return;
  myEnableDisableControl(w, kChannelPopUp, 0, r->mKnownStarEntry ? 0 : 1);
  mySetControlValue(w, kEntryButton, 0, r->mKnownStarEntry ? 1 : 0);
  mySetControlTitleByKeyString(w, kEntryButton, 0, r->mKnownStarEntry ? "STOPENTMAGCOORD" : "STARENTMAGCOORD");
}

// The sheet's RA and Dec fields.
constexpr MySkyPositionFields kSheetFields = {FOUR_CHAR_CODE("CRAH"), FOUR_CHAR_CODE("CRAM"), FOUR_CHAR_CODE("CRAS"),
                                              FOUR_CHAR_CODE("CDEN"), FOUR_CHAR_CODE("CDED"), FOUR_CHAR_CODE("CDEM"),
                                              FOUR_CHAR_CODE("CDES")};

// The sheet for slot n; its result, or the error that kept it from running.
OSStatus runKnownStarSheet(MyImageWindowDataStruct* r, SInt32 n, MyKnownStarEntryStruct* rec) {
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) return err;
  WindowRef sheet = nullptr;
  err = CreateWindowFromNib(nib, CFSTR("GetRADECMag"), &sheet);
  DisposeNibReference(nib);
  if (err != noErr) return err;
  rec->mSheetWindow = sheet;
  ControlKeyFilterUPP filter = NewControlKeyFilterUPP(myGetCoordsMagUserValuesDataKeyProc);
  mySetControlValue(sheet, FOUR_CHAR_CODE("CRDX"), 0, 1);
  mySetControlValue(sheet, FOUR_CHAR_CODE("MAGX"), 0, 1);
  myFillSkyPositionFields(sheet, kSheetFields, r->mKnownStarRA[n], r->mKnownStarDec[n], filter, SRefCon(rec));
  char text[32];
  snprintf(text, sizeof text, "%.3f", double(r->mKnownStarMag[n]));
  mySetUpKeyFilterEditTextField(sheet, FOUR_CHAR_CODE("MAGV"), 0, text, filter, SRefCon(rec));
  mySetEditTextSelectionAndFocus(sheet, FOUR_CHAR_CODE("CRAH"), 0);
  const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(myGetCoordsMagUserValuesProcHandler);
  EventHandlerRef handler = nullptr;
  err = InstallWindowEventHandler(sheet, upp, 1, &commandEvent, rec, &handler);
  if (err == noErr) {
    rec->mResult = userCanceledErr;
    const bool asSheet = r->mImageWindow != nullptr;
    if (asSheet)
      err = ShowSheetWindow(sheet, r->mImageWindow);
    else
      ShowWindow(sheet);
    if (err == noErr) {
      RunAppModalLoopForWindow(sheet);
      if (asSheet)
        HideSheetWindow(sheet);
      else
        HideWindow(sheet);
      err = rec->mResult;
    }
    RemoveEventHandler(handler);
  }
  DisposeEventHandlerUPP(upp);
  DisposeControlKeyFilterUPP(filter);
  DisposeWindow(sheet);
  return err;
}

// Refuses a third RA/Dec star on the line through the other two: the plate
// solution from three collinear stars is meaningless.
bool collinearWithRADecStars(const MyImageWindowDataStruct* r, SInt32 n) {
  if (r->mRADecStarCount != 2) return false;
  SInt32 a = -1, b = -1;
  for (SInt32 i = 0; i < n; ++i) {
    if (r->mKnownStarRA[i] <= kNone) continue;
    (a < 0 ? a : b) = i;
  }
  if (a < 0 || b < 0) return false;
  const double dx = double(r->mKnownStarX[b]) - r->mKnownStarX[a], dy = double(r->mKnownStarY[b]) - r->mKnownStarY[a];
  const double length = std::hypot(dx, dy);
  if (length <= 0.0) return true;
  const double px = double(r->mKnownStarX[n]) - r->mKnownStarX[a], py = double(r->mKnownStarY[n]) - r->mKnownStarY[a];
  return std::fabs(dx * py - dy * px) / length < 2.0;
}

OSStatus knownStarClick(MyImageWindowDataStruct* r, float x, float y) {
  r->mLogHeaderWritten = 0;
  if (myGetFWHMMagImageWindowClick(x, y, r) == 0) return kNotTaken;
  const SInt32 n = std::clamp<SInt32>(r->mKnownStarCount, 0, 2);
  for (SInt32 i = 0; i < n; ++i) {
    if (std::fabs(r->mKnownStarX[i] - r->mStarX) < 18.0f && std::fabs(r->mKnownStarY[i] - r->mStarY) < 18.0f) {
      SysBeep(1);
      SysBeep(1);
      return noErr;
    }
  }
  SetThemeCursor(kThemeArrowCursor);
  r->mKnownStarMag[n] = 0.0f;
  r->mKnownStarSum[n] = r->mStarSum;
  r->mKnownStarFWHM[n] = r->mStarFWHM;
  r->mKnownStarRA[n] = 0.0f;
  r->mKnownStarDec[n] = 0.0f;
  r->mKnownStarX[n] = r->mStarX;
  r->mKnownStarY[n] = r->mStarY;
  r->mKnownStarMarks += 1;
  invalidate(r);

  auto* rec = static_cast<MyKnownStarEntryStruct*>(std::calloc(1, sizeof(MyKnownStarEntryStruct)));
  OSStatus err = memFullErr;
  if (rec != nullptr) {
    rec->mUseRADec = rec->mUseMagnitude = 1;
    rec->mRA = r->mKnownStarRA[n];
    rec->mDec = r->mKnownStarDec[n];
    rec->mMagnitude = r->mKnownStarMag[n];
    err = runKnownStarSheet(r, n, rec);
  }
  const MyKnownStarEntryStruct entry = rec ? *rec : MyKnownStarEntryStruct{};
  std::free(rec);
  SetThemeCursor(kThemeArrowCursor);
  SetThemeCursor(kThemeCrossCursor);
  if (err == noErr) {
    r->mKnownStarRA[n] = entry.mUseRADec ? entry.mRA : kNone;
    r->mKnownStarDec[n] = entry.mDec;
    r->mKnownStarMag[n] = entry.mUseMagnitude ? entry.mMagnitude : kNone;
  }
  // A third RA/Dec star on the line through the other two is refused like a
  // duplicate once its sheet is done.
  const bool collinear = err == noErr && entry.mUseRADec && collinearWithRADecStars(r, n);
  if (collinear) {
    SysBeep(1);
    SysBeep(1);
  }
  if (err != noErr || collinear) {
    r->mKnownStarRA[n] = r->mKnownStarMag[n] = kNone;
    if (r->mKnownStarMarks > 0) r->mKnownStarMarks -= 1;
    invalidate(r);
    return err;
  }

  r->mKnownStarFWHM[n] = r->mStarFWHM;
  r->mKnownStarX[n] = r->mStarX;
  r->mKnownStarY[n] = r->mStarY;
  char text[256];
  snprintf(text, sizeof text, "Known Star #:\t%d \t X:\t%5.1f \tY:\t%5.1f ", int(n + 1), double(r->mStarX),
           double(r->mStarY));
  logLine(r, text);
  if (entry.mUseRADec) {
    snprintf(text, sizeof text, "\tRASec:\t %9.2f \t DecSec:\t %9.2f \t", double(entry.mRA), double(entry.mDec));
    logLine(r, text);
    r->mRADecStarCount += 1;
  } else {
    r->mKnownStarRA[n] = kNone;
  }
  if (entry.mUseMagnitude) {
    r->mBaseDeviation = r->mStarMagError;
    r->mBaseMagnitude = entry.mMagnitude;
    r->mBaseIntensity = r->mStarSum;
    snprintf(text, sizeof text, "\t Mag: \t %4.3f \t Intensity: \t%8.1f \r", double(entry.mMagnitude),
             double(r->mStarSum));
    logLine(r, text);
    r->mMagStarCount += 1;
  } else {
    logLine(r, "\r");
    r->mKnownStarMag[n] = kNone;
  }

  r->mKnownStarCount = n + 1;
  if (r->mKnownStarCount < 3) return noErr;

  if (r->mRADecStarCount == 3) {
    myAdjustRAArcSeconds(r->mKnownStarRA, 3);
    mySolveLineEquations(r->mKnownStarX, r->mKnownStarY, r->mKnownStarRA, &r->mRAFit[0], &r->mRAFit[1], &r->mRAFit[2],
                         &r->mRAFit[3]);
    mySolveLineEquations(r->mKnownStarX, r->mKnownStarY, r->mKnownStarDec, &r->mDecFit[0], &r->mDecFit[1],
                         &r->mDecFit[2], &r->mDecFit[3]);
    // The scale of an unskewed plate at any rotation: the length of the Dec gradient.
    r->mArcSecPerPixel = std::sqrt(r->mDecFit[0] * r->mDecFit[0] + r->mDecFit[1] * r->mDecFit[1]);
    logLine(r, "RA-Dec Three star Calculation coeffcients\r");
    snprintf(text, sizeof text, "RA Eqn RA_ACoef:\t%f \tRA_BCoef:\t %f \tRA_CCoef:\t %f \tRA_RMS:\t %f \r",
             double(r->mRAFit[0]), double(r->mRAFit[1]), double(r->mRAFit[2]), double(r->mRAFit[3]));
    logLine(r, text);
    snprintf(text, sizeof text, "DEC Eqn Dec_ACoef:\t %f \tDec_BCoef:\t %f \t Dec_CCoef:\t %f \t Dec_RMS:\t %f \r",
             double(r->mDecFit[0]), double(r->mDecFit[1]), double(r->mDecFit[2]), double(r->mDecFit[3]));
    logLine(r, text);
    fprintf(stderr, "Calculated Arc Second Per Pixel\t%5.3f\r", double(r->mArcSecPerPixel));
  }
  if (r->mMagStarCount != 0) myProcessMagEntries(r);
  r->mKnownStarEntry = 0;
  r->mKnownStarMarks = 0;
  setEntryButton(r);
  invalidate(r);
  return noErr;
}

const char* channelName(SInt32 channel) {
  switch (channel) {
    case 0: return "Luma";
    case 1: return "Red";
    case 3: return "Blue";
    default: return "Green";
  }
}

OSStatus measuringClick(MyImageWindowDataStruct* r, float x, float y) {
  if (myGetFWHMMagImageWindowClick(x, y, r) == 0) return kNotTaken;
  const bool calibrated = r->mMagCalibrated == 1;
  const bool fit = r->mRADecStarCount == 3;
  r->mClickMarkSum = r->mStarSum;
  r->mClickMarkX = r->mStarX;
  r->mClickMarkY = r->mStarY;
  r->mClickMarkFWHM = r->mStarFWHM;
  if (calibrated) {
    const float magnitude = myCalculateMagnitude(r->mBaseMagnitude, r->mBaseIntensity, r->mStarSum);
    r->mClickMarkShown = 1;
    r->mClickMarkMagnitude = r->mStarMagnitude = magnitude;
    r->mClickMarkMagError = r->mStarMagError;
  } else {
    r->mClickMarkMagError = 0.0f;
    r->mClickMarkMagnitude = r->mStarMagnitude = kNoMagnitude;
    r->mClickMarkShown = fit ? 1 : 0;
  }
  if (logOpen(r)) {
    if (r->mLogHeaderWritten == 0) {
      std::string header = "Channel\t ";
      header += fit ? "RA\t Dec" : "X\t Y";
      header += "\t AvgBCG\t HMVal\t FWHM \t HFD \t SumPixels \t";
      if (calibrated) header += " RelMag \t RMS Err\xB1 \t";
      header += "#SumPixels \t #BcgPixels";
      fprintf(r->mLogFile, "%s\r", header.c_str());
      fflush(r->mLogFile);
      r->mLogHeaderWritten = 1;
    }
    const std::string position = logPosition(r, r->mStarX, r->mStarY);
    const char* name = channelName(r->mMeasureChannel);
    char row[512];
    if (calibrated) {
      snprintf(row, sizeof row, "%s \t %s \t %d \t %d \t %5.2f \t %5.2f \t %.0f \t %5.3f \t %5.3f \t %d \t %d \t",
               name, position.c_str(), int(r->mStarBackground), int(r->mStarHalfMax), double(r->mStarFWHM),
               double(r->mStarHFD), double(r->mStarSum), double(r->mStarMagnitude), double(r->mStarMagError),
               int(r->mStarPixelCount), int(r->mStarBackgroundCount));
    } else {
      const char* form = "%s \t %s \t %d \t%d \t%5.2f \t %5.2f \t %.0f \t %d \t %d";
      if (r->mMeasureChannel == 0) form = "%s \t %s \t %d \t %d \t%5.2f \t %5.2f \t %.0f \t %d \t %d";
      if (r->mMeasureChannel == 3) form = "%s \t %s \t  %d  \t%d \t%5.2f \t %5.2f \t %.0f \t %d \t %d";
      snprintf(row, sizeof row, form, name, position.c_str(), int(r->mStarBackground), int(r->mStarHalfMax),
               double(r->mStarFWHM), double(r->mStarHFD), double(r->mStarSum), int(r->mStarPixelCount),
               int(r->mStarBackgroundCount));
    }
    fprintf(r->mLogFile, "%s\r", row);
    fflush(r->mLogFile);
  }
  if (calibrated)
    myFillInCoodinates(r, false, r->mStarX, r->mStarY, r->mStarHalfMax, r->mStarFWHM, r->mStarHFD,
                       r->mStarBackground, r->mStarBackgroundCount, r->mStarSum, r->mStarPixelCount,
                       r->mStarMagnitude, r->mStarMagError, r->mStarPeak);
  else
    myFillInCoodinates(r, false, r->mClickMarkX, r->mClickMarkY, r->mStarHalfMax, r->mStarFWHM, r->mStarHFD,
                       r->mStarBackground, r->mStarBackgroundCount, r->mStarSum, r->mStarPixelCount, kNoMagnitude,
                       0.0f, r->mStarPeak);
  SetThemeCursor(kThemeCrossCursor);
  invalidate(r);
  return kNotTaken;
}

void refillPlane(MyImageWindowDataStruct* r) {
  if (r->mMeasurePlane == nullptr || r->mSourceLRGB64 == nullptr) return;
  const size_t n = size_t(r->mWidth) * r->mHeight;
  const SInt32 c = std::clamp<SInt32>(r->mMeasureChannel, 0, 3);
  for (size_t i = 0; i < n; ++i) r->mMeasurePlane[i] = r->mSourceLRGB64[4 * i + size_t(c)];
}

bool knownStarsExist(const MyImageWindowDataStruct* r) { return r->mRADecStarCount != 0 || r->mMagStarCount != 0; }

void entryCommand(MyImageWindowDataStruct* r) {
  if (r->mKnownStarEntry) {
    if (r->mMagStarCount != 0) myProcessMagEntries(r);
    logLine(r, "-------------------End Entering Magnitude & Location Data\r");
    r->mKnownStarEntry = 0;
    r->mKnownStarMarks = 0;
  } else {
    if (knownStarsExist(r) &&
        myGetUserOkayCancel(r->mPhotometryWindow, "Warning!!",
                            "Your previously entered Magnitude or Ra/Dec control information will be lost if you "
                            "proceed. Click Okay to begin reentering it or Cancel to abort.") != noErr) {
      setEntryButton(r);
      return;
    }
    r->mKnownStarEntry = 1;
    clearKnownStars(r);
    clearTexts(r);
    logLine(r, "-------------------Start Entering Magnitude & Location Data\r");
  }
  setEntryButton(r);
  invalidate(r);
}

void channelCommand(MyImageWindowDataStruct* r) {
  WindowRef w = r->mPhotometryWindow;
  const SInt32 channel = myGetControlValue(w, kChannelPopUp, 0) - 1;
  if (channel == r->mMeasureChannel || channel < 0 || channel > 3) return;
  if (knownStarsExist(r) &&
      myGetUserOkayCancel(w, "Warning!!",
                          "Changing color channels will result in a loss of the Magnitude or Ra/Dec control "
                          "information you have previously entered. Click Okay to re-enter it or Cancel to "
                          "abort.") != noErr) {
    myChangePopMenuControl(w, kChannelPopUp, 1, 1, 0);
    myChangePopMenuControl(w, kChannelPopUp, channel + 1, 1, 0);
    myChangePopMenuControl(w, kChannelPopUp, r->mMeasureChannel + 1, 1, 1);
    mySetControlValue(w, kChannelPopUp, 0, r->mMeasureChannel + 1);
    return;
  }
  clearKnownStars(r);
  r->mMeasureChannel = channel;
  clearTexts(r);
  refillPlane(r);
  SetThemeCursor(kThemeCrossCursor);
  invalidate(r);
}

}  // namespace

OSStatus myDoMouseClickInImageWindow(Point where, MyImageWindowDataStruct* r) {
  if (r == nullptr || r->mImageWindow == nullptr) return kNotTaken;
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  if (r->mHorzBarShown) port.bottom = short(port.bottom - r->mScrollBarSize);
  if (r->mVertBarShown) port.right = short(port.right - r->mScrollBarSize);
  if (where.h < port.left || where.h >= port.right || where.v < port.top || where.v >= port.bottom) {
    SetThemeCursor(kThemeCrossCursor);
    return kNotTaken;
  }
  if (r->mPhotometryShown != 1) return kNotTaken;
  const float scale = 1.0f / r->mZoom;
  const float x = (float(where.h) + float(r->mScrollH)) * scale;
  const float y = (float(where.v) + float(r->mScrollV)) * scale;
  if (r->mKnownStarEntry == 1) return knownStarClick(r, x, y);
  return measuringClick(r, x, y);
}

SInt32 myGetFWHMMagImageWindowClick(float x, float y, MyImageWindowDataStruct* r) {
  const float W = float(r->mWidth), H = float(r->mHeight);
  if (!(x > 16.0f && x < W - 16.0f && y > 16.0f && y < H - 16.0f)) {
    myPostAlertByKeyString("USRER", "TOCLOSEERR");
    return 0;
  }
  const UInt16* plane = r->mMeasurePlane;
  if (plane == nullptr) return 0;
  const UInt32 rowBytes = r->mWidth * 2;
  float cx = -1.0f, cy = -1.0f;
  UInt32 centroidLevel = 0;
  myCalculateImageSubCentroidClipped16Bit(plane, UInt32(std::lround(x - 16.0f)), UInt32(std::lround(y - 16.0f)), 32,
                                          32, rowBytes, &cx, &cy, &centroidLevel, r->mWidth, r->mHeight);
  if (!(cx > 15.0f)) {
    myPostAlertByKeyString("USRER", "TOCLOSEERR");
    return 0;
  }
  double fwhm = 0.0;
  UInt32 halfMax = 0;
  if (myCalcFWHM16BitMono(cx, cy, plane, r->mWidth, r->mHeight, rowBytes, centroidLevel, &fwhm, &halfMax) != noErr)
    return 0;
  const long ix = std::lround(cx), iy = std::lround(cy);
  const float radius = float(fwhm) * kApertureFactor;
  auto fits = [&](float reach) {
    return float(ix) - reach > 1.0f && float(ix) + reach < W && float(iy) - reach > 1.0f && float(iy) + reach < H;
  };
  if (!fits(radius)) {
    myPostAlertByKeyString("USRER", "TOCLOSEERR");
    return 0;
  }
  UInt32 peak = 0;
  const float hfd = myCalculateHFD16BitMono(radius, plane, UInt32(ix), UInt32(iy), rowBytes, centroidLevel, &peak);

  double starSum = 0.0, skySum = 0.0;
  UInt32 nStar = 0, nSky = 0, background = 0;
  bool wide = false;
  // The sky disc reaches 2.5 r: the wide case needs all of it inside the image.
  if (fits(2.5f * radius)) {
    UInt32 n1 = 0, n2 = 0;
    const double i1 = myQUADPIXCaclRadiusIntensity16BitMono(1.5f * radius, plane, UInt32(ix), UInt32(iy), r->mWidth,
                                                            r->mHeight, rowBytes, 0, 0, &n1);
    const double i2 = myQUADPIXCaclRadiusIntensity16BitMono(2.2f * radius, plane, UInt32(ix), UInt32(iy), r->mWidth,
                                                            r->mHeight, rowBytes, 0, 0, &n2);
    const UInt32 ring = n2 == n1 ? 0 : UInt32(std::fabs(i2 - i1) / std::fabs(double(n2) - double(n1)));
    skySum = myQUADPIXCaclBackgroundRadiusIntensity16BitMono(2.5f * radius, plane, UInt32(ix), UInt32(iy), r->mWidth,
                                                            r->mHeight, rowBytes, ring, 0, &nSky);
    if (skySum >= 0.0 && i1 >= 0.0 && i2 >= 0.0) {
      wide = true;
      background = nSky == 0 ? 0 : UInt32(skySum / double(nSky));
      starSum = myQUADPIXCaclRadiusIntensity16BitMono(radius, plane, UInt32(ix), UInt32(iy), r->mWidth, r->mHeight,
                                                      rowBytes, background, 0, &nStar);
    }
  }
  if (!wide) {
    background = centroidLevel;
    starSum = myQUADPIXCaclRadiusIntensity16BitMono(radius, plane, UInt32(ix), UInt32(iy), r->mWidth, r->mHeight,
                                                    rowBytes, background, 0, &nStar);
    skySum = double(nStar) * double(background);
    nSky = 0;
  }
  const float snr = myCalculateStarSNR(float(starSum), nStar, float(skySum), wide ? nSky : nStar);
  r->mStarMagnitude = 0.0f;
  r->mStarPeak = SInt32(peak);
  r->mStarX = cx;
  r->mStarY = cy;
  r->mStarPixelCount = SInt32(nStar);
  r->mStarFWHM = float(fwhm);
  r->mStarBackground = SInt32(background);
  r->mStarSum = float(starSum);
  r->mStarMagError = snr > 0.0f ? 1.0875f / snr : 0.0f;
  r->mStarBackgroundCount = wide ? SInt32(nSky) : 0;
  r->mStarHFD = hfd;
  r->mStarHalfMax = SInt32(halfMax);
  return 1;
}

void myFillInCoodinates(MyImageWindowDataStruct* r, Boolean clear, float x, float y, SInt32 halfMax, float fwhm,
                        float hfd, SInt32 background, SInt32 backgroundCount, float starSum, SInt32 starPixels,
                        float magnitude, float magError, SInt32 peak) {
  WindowRef w = r->mPhotometryWindow;
  if (w == nullptr) return;
  if (clear) {
    static const char* const kEmpty[8] = {"HM:", "FWHM:", "HFD:", "STAR SUM:", "BCG:", "MAG:", "LOC:", "CUR:"};
    for (SInt32 i = 0; i < 8; ++i) myChangeControlTxt(w, kText, i, kEmpty[i]);
    return;
  }
  const bool fit = r->mRADecStarCount == 3;
  char text[256];
  snprintf(text, sizeof text, "HM: %d MaxVal: %d", int(halfMax), int(peak));
  myChangeControlTxt(w, kText, 0, text);
  if (fit)
    snprintf(text, sizeof text, "FWHM: %.3f pixel, %.3f Arc Sec", double(fwhm), double(fwhm * r->mArcSecPerPixel));
  else
    snprintf(text, sizeof text, "FWHM: %.3f pixel", double(fwhm));
  myChangeControlTxt(w, kText, 1, text);
  if (fit)
    snprintf(text, sizeof text, "HFD: %.3f pixel, %.3f Arc Sec", double(hfd), double(hfd * r->mArcSecPerPixel));
  else
    snprintf(text, sizeof text, "HFD: %.3f pixel", double(hfd));
  myChangeControlTxt(w, kText, 2, text);
  snprintf(text, sizeof text, "STAR SUM: %.0f for %d Pixels", double(starSum), int(starPixels));
  myChangeControlTxt(w, kText, 3, text);
  snprintf(text, sizeof text, "AVG BCG: %d for %d pixels", int(background), int(backgroundCount));
  myChangeControlTxt(w, kText, 4, text);
  if (magnitude >= -100.0f)
    snprintf(text, sizeof text, "MAG: %.3f \xC2\xB1 %.5f", double(magnitude), double(magError));
  else
    snprintf(text, sizeof text, "MAG: N/A");
  myChangeControlTxt(w, kText, 5, text);
  char position[128];
  myConvertPixelXYtoCoordsString(r, x, y, true, position);
  snprintf(text, sizeof text, "LOC: %s", windowText(position).c_str());
  myChangeControlTxt(w, kText, 6, text);
}

OSStatus myImagePhotoAstroMetricsWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<MyImageWindowDataStruct*>(userData);
  if (r == nullptr) return kNotTaken;
  const UInt32 eventClass = GetEventClass(event), kind = GetEventKind(event);
  if (eventClass == kEventClassWindow && kind == kEventWindowBoundsChanging) {
    UInt32 attributes = 0;
    GetEventParameter(event, kEventParamAttributes, typeUInt32, nullptr, sizeof attributes, nullptr, &attributes);
    if (attributes & (kWindowBoundsChangeSizeChanged | kWindowBoundsChangeUserResize | kWindowBoundsChangeZoom)) {
      Rect b;
      if (GetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof b, nullptr, &b) ==
          noErr) {
        if (b.right - b.left > kPhotometryMaxWidth) b.right = short(b.left + kPhotometryMaxWidth);
        if (b.bottom - b.top > kPhotometryMaxHeight) b.bottom = short(b.top + kPhotometryMaxHeight);
        SetEventParameter(event, kEventParamCurrentBounds, typeQDRectangle, sizeof b, &b);
      }
    }
  } else if (eventClass == kEventClassWindow && kind == kEventWindowGetMaximumSize) {
    const Point size{kPhotometryMaxHeight, kPhotometryMaxWidth};
    SetEventParameter(event, kEventParamDimensions, typeQDPoint, sizeof size, &size);
  } else if (eventClass == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) == noErr) {
      if (command.commandID == kEntryButton) entryCommand(r);
      if (command.commandID == kChannelPopUp) channelCommand(r);
    }
  }
  return kNotTaken;
}

OSStatus myGetCoordsMagUserValuesProcHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* rec = static_cast<MyKnownStarEntryStruct*>(userData);
  HICommand command;
  if (rec == nullptr || GetEventClass(event) != kEventClassCommand ||
      GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command))
    return kNotTaken;
  WindowRef w = rec->mSheetWindow;
  static const OSType kRADecFields[] = {FOUR_CHAR_CODE("CRAH"), FOUR_CHAR_CODE("CRAM"), FOUR_CHAR_CODE("CRAS"),
                                        FOUR_CHAR_CODE("CDED"), FOUR_CHAR_CODE("CDEM"), FOUR_CHAR_CODE("CDES"),
                                        FOUR_CHAR_CODE("CDEN")};
  switch (command.commandID) {
    case FOUR_CHAR_CODE("MAGX"):
      rec->mUseMagnitude = rec->mUseMagnitude ? 0 : 1;
      mySetControlValue(w, FOUR_CHAR_CODE("MAGX"), 0, rec->mUseMagnitude);
      myEnableDisableControl(w, FOUR_CHAR_CODE("MAGV"), 0, rec->mUseMagnitude);
      if (!rec->mUseMagnitude && rec->mUseRADec) mySetEditTextSelectionAndFocus(w, FOUR_CHAR_CODE("CRAH"), 0);
      break;
    case FOUR_CHAR_CODE("CRDX"):
      rec->mUseRADec = rec->mUseRADec ? 0 : 1;
      mySetControlValue(w, FOUR_CHAR_CODE("CRDX"), 0, rec->mUseRADec);
      for (OSType f : kRADecFields) myEnableDisableControl(w, f, 0, rec->mUseRADec);
      if (!rec->mUseRADec && rec->mUseMagnitude) mySetEditTextSelectionAndFocus(w, FOUR_CHAR_CODE("MAGV"), 0);
      if (rec->mUseRADec && !rec->mUseMagnitude) mySetEditTextSelectionAndFocus(w, FOUR_CHAR_CODE("CRAH"), 0);
      break;
    case kHICommandCancel:
      rec->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(w);
      return noErr;
    case kHICommandOK: {
      float ra = 0.0f, dec = 0.0f, magnitude = 0.0f;
      bool ok = true;
      if (rec->mUseRADec) ok = myReadSkyPositionFields(w, kSheetFields, &ra, &dec) == noErr;
      if (ok && rec->mUseMagnitude)
        ok = myTestFloatEditTxt(w, FOUR_CHAR_CODE("MAGV"), 0, 3, 1, -35.0f, 50.0f, &magnitude) == noErr;
      if (!ok) {
        myPostAlertByKeyString("USRER", "OUTOFRANGEERR");
        return noErr;
      }
      if (rec->mUseRADec) {
        rec->mRA = ra;
        rec->mDec = dec;
      }
      if (rec->mUseMagnitude) rec->mMagnitude = magnitude;
      rec->mResult = noErr;
      QuitAppModalLoopForWindow(w);
      return noErr;
    }
    default:
      return kNotTaken;
  }
  myEnableDisableControl(w, kHICommandOK, 0, (rec->mUseRADec || rec->mUseMagnitude) ? 1 : 0);
  return noErr;
}

ControlKeyFilterResult myGetCoordsMagUserValuesDataKeyProc(ControlRef control, SInt16*, SInt16* charCode,
                                                           EventModifiers*) {
  if (control == nullptr || charCode == nullptr || (*charCode != 13 && *charCode != 3))
    return kControlKeyFilterPassKey;
  WindowRef w = GetControlOwner(control);
  ControlID id{0, 0};
  GetControlID(control, &id);
  if (myTestSkyPositionFieldOnKey(w, kSheetFields, id.signature, id.id)) return kControlKeyFilterBlockKey;
  if (id.signature != FOUR_CHAR_CODE("MAGV")) return kControlKeyFilterPassKey;
  float value = 0.0f;
  myTestFloatEditTxt(w, id.signature, id.id, 3, 1, -50.0f, 50.0f, &value);
  return kControlKeyFilterBlockKey;
}

void myProcessMagEntries(MyImageWindowDataStruct* r) {
  SInt32 slots[3], m = 0;
  for (SInt32 i = 0; i < 3 && m < r->mMagStarCount; ++i)
    if (r->mKnownStarMag[i] > kNone) slots[m++] = i;
  if (m != r->mMagStarCount || m < 1 || m > 3) return;
  char text[256];
  if (m == 1) {
    r->mMagCalibrated = 1;
    logLine(r, "Mag Calc Method: Single Star\r");
    snprintf(text, sizeof text, "Base Mag:%4.3f Base Intensity:%8.1f  Base Deviation:N/A \r",
             double(r->mBaseMagnitude), double(r->mBaseIntensity));
    logLine(r, text);
    return;
  }
  const float* mag = r->mKnownStarMag;
  const float* sum = r->mKnownStarSum;
  if (m == 2) {
    const SInt32 a = slots[0], b = slots[1];
    const float predicted = myCalculateMagnitude(mag[a], sum[a], sum[b]);
    r->mBaseDeviation = std::fabs(predicted - mag[b]);
    const SInt32 base = sum[b] > sum[a] ? b : a;
    r->mBaseMagnitude = mag[base];
    r->mBaseIntensity = sum[base];
    r->mMagCalibrated = 1;
    logLine(r, "Mag Calc Method: Two Star\r");
  } else {
    float given[3], best = 0.0f;
    SInt32 bestK = -1;
    for (SInt32 j = 0; j < 3; ++j) given[j] = mag[slots[j]];
    for (SInt32 k = 0; k < 3; ++k) {
      float predicted[3];
      for (SInt32 j = 0; j < 3; ++j)
        predicted[j] = j == k ? mag[slots[k]] : myCalculateMagnitude(mag[slots[k]], sum[slots[k]], sum[slots[j]]);
      float slope = 0.0f, intercept = 0.0f, variance = 0.0f;
      myDoLinearRegression(predicted, given, 3, &slope, &intercept, &variance);
      if (bestK < 0 || variance < best) {
        best = variance;
        bestK = k;
      }
    }
    r->mBaseMagnitude = mag[slots[bestK]];
    r->mBaseIntensity = sum[slots[bestK]];
    r->mBaseDeviation = best;
    r->mMagCalibrated = 1;
    logLine(r, "Mag Calc Method: Three Star\r");
  }
  snprintf(text, sizeof text, "Base Mag:%4.3f Base Intensity:%8.1f  Base Deviation:%4.3f\r", double(r->mBaseMagnitude),
           double(r->mBaseIntensity), double(r->mBaseDeviation));
  logLine(r, text);
}

SInt32 myDoLinearRegression(const float* x, const float* y, SInt32 n, float* slope, float* intercept,
                            float* variance) {
  if (x == nullptr || y == nullptr || n < 2 || slope == nullptr || intercept == nullptr || variance == nullptr)
    return -1;
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  for (SInt32 i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += double(x[i]) * x[i];
    sxy += double(x[i]) * y[i];
  }
  const double inv = double(1.0f / float(n));
  const double d = sxx - inv * sx * sx;
  const double b = std::fabs(d) > 0.0001 ? (sxy - inv * sx * sy) / d : 0.0;
  const double a = inv * sy - b * inv * sx;
  double v = 0.0;
  if (n >= 3) {
    for (SInt32 i = 0; i < n; ++i) {
      const double e = b * x[i] + a - y[i];
      v += e * e;
    }
    v /= double(n - 2);
  }
  *slope = float(b);
  *intercept = float(a);
  *variance = float(v);
  return 0;
}
