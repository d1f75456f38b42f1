#include "app/FrameGrabs.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/FramePipeline.h"
#include "app/HistogramViews.h"
#include "app/RecordAtomics.h"
#include "guiding/CameraSettingsLog.h"
#include "media/MovieRecorder.h"
#include "media/TimeCode.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/launchservices/LaunchServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"
#include "utilities/LogFiles.h"

char gNoteString[1024];

namespace {

using record_atomics::ld;
using record_atomics::st;

constexpr OSType kValueSignature = FOUR_CHAR_CODE("VALU");
constexpr OSType kNoteSignature = FOUR_CHAR_CODE("NOTE");
constexpr UInt32 kSaveLocationPrefKey = 17;
constexpr MenuID kCameraMenu = 2;
constexpr UniCharCount kMaxNameUnits = 255;  // the file system's longest name

// The rename sheet's record, one block for the sheet's life.
struct MyRenameFileStruct {
  WindowRef mWindow;
  FSRef mNewRef;   // the file under its new name
  FSRef mOldRef;   // the file as saved
  SInt32 mResult;  // 0 renamed, -128 cancelled, -1 name too short, else the File Manager's
};

// The note sheet's record.
struct MyAddANoteStruct {
  WindowRef mWindow;
  SInt32 mResult;  // 0 accepted, -128 cancelled or empty, -1 not convertible
  char mNote[1024];
};

void zeroPad(char* s) {
  for (; *s; ++s)
    if (*s == ' ') *s = '0';
}

const char* extensionPattern(OSType kind) {
  switch (kind) {
    case FOUR_CHAR_CODE("TIFF"): return "%s.tiff";
    case FOUR_CHAR_CODE("PNGf"): return "%s.png";
    case FOUR_CHAR_CODE("BMPf"): return "%s.bmp";
    case FOUR_CHAR_CODE("8BPS"): return "%s.psd";
    case FOUR_CHAR_CODE("PICT"): return "%s.pict";
    case FOUR_CHAR_CODE("JPEG"): return "%s.jpeg";
    case FOUR_CHAR_CODE("FITS"): return "%s.fits";
    default: return nullptr;
  }
}

// A C string into a Pascal string (cut to 255 bytes; the File Manager
// shortens long names itself).
void toPascal(const char* s, Str255 out) {
  size_t n = strlen(s);
  if (n > 255) n = 255;
  out[0] = UInt8(n);
  memcpy(out + 1, s, n);
}

void setMenu2Items(MyCameraWindowDataStruct* r, bool recording) {
  MenuRef menu = GetMenuHandle(kCameraMenu);
  if (menu == nullptr) return;
  if (recording) {
    for (MenuItemIndex i = 15; i <= 17; i++) DisableMenuItem(menu, i);
    return;
  }
  EnableMenuItem(menu, 15);
  if (r->mPGRLongExposureOn == 1 && r->mLongExposure != 0)
    DisableMenuItem(menu, 16);
  else
    EnableMenuItem(menu, 16);
  EnableMenuItem(menu, 17);
}

void enable(WindowRef w, OSType signature, bool on) {
  myEnableDisableControl(w, signature, 0, on ? 1 : 0);
}

// The front window a sheet is shown on, or null (then a window of its own).
WindowRef sheetParent() {
  WindowRef front = FrontNonFloatingWindow();
  return front;
}

// Runs a command-handled window from the nib modally, as a sheet on the front
// window when there is one. fill runs once the handler is installed. false
// when the window could not be had (nothing shown).
template <typename Fill>
bool runSheet(CFStringRef sheetName, CFStringRef windowName, EventHandlerProcPtr handler, void* rec,
              WindowRef* windowOut, Fill fill) {
  return myRunNibWindowModally(sheetParent(), sheetName, windowName, handler, rec, windowOut, fill) == noErr;
}

HICommand commandOf(EventRef event, bool* ok) {
  HICommand command{};
  *ok = GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) == noErr;
  return command;
}

// Step 2 of finishing: the rename sheet. On a rename, *ref names the file
// under its new name. The sheet is skipped when it cannot be had.
void runRenameSheet(FSRef* ref, CFStringRef name) {
  auto* rec = static_cast<MyRenameFileStruct*>(calloc(1, sizeof(MyRenameFileStruct)));
  if (rec == nullptr) return;
  rec->mOldRef = *ref;
  rec->mResult = userCanceledErr;  // closed any other way: the old name stays
  SetThemeCursor(kThemeArrowCursor);
  bool shown = runSheet(CFSTR("RenameFileSheet"), CFSTR("RenameFile"), myReNameFileProcHandler, rec,
                        &rec->mWindow, [&](WindowRef window) {
                          mySetControlCFString(window, kValueSignature, 0, name);
                          mySetEditTextSelectionAndFocus(window, kValueSignature, 0);
                        });
  if (shown && rec->mResult == noErr) *ref = rec->mNewRef;
  free(rec);
}

// Step 4d: the note sheet. true with the note in gNoteString.
bool runNoteSheet() {
  auto* rec = static_cast<MyAddANoteStruct*>(calloc(1, sizeof(MyAddANoteStruct)));
  if (rec == nullptr) return false;
  rec->mResult = userCanceledErr;
  SetThemeCursor(kThemeIBeamCursor);
  bool shown = runSheet(CFSTR("AddANote"), CFSTR("AddANote"), myAddANoteEventHandlerProc, rec, &rec->mWindow,
                        [&](WindowRef window) {
                          gNoteString[sizeof gNoteString - 1] = '\0';
                          myChangeControlTxt(window, kNoteSignature, 0, gNoteString);
                          mySetEditTextSelectionAndFocus(window, kNoteSignature, 0);
                        });
  SetThemeCursor(kThemeArrowCursor);
  bool accepted = shown && rec->mResult == noErr;
  if (accepted) {
    memcpy(gNoteString, rec->mNote, sizeof gNoteString);
    gNoteString[sizeof gNoteString - 1] = '\0';
  }
  free(rec);
  return accepted;
}

// The entry title, at most 255 bytes: the file name is cut (at a character
// boundary) so that the frame count always shows.
void entryTitle(UInt32 kind, const char* name, UInt32 count, char title[256]) {
  char tail[64];
  if (kind == kMyCaptureAveraged)
    snprintf(tail, sizeof tail, " # averaged frames %d", int(count));
  else if (kind == kMyCaptureSummed)
    snprintf(tail, sizeof tail, " # summed frames %d", int(count));
  else
    snprintf(tail, sizeof tail, " #frames %d", int(count));
  size_t room = 255 - strlen(tail);
  size_t n = strlen(name);
  if (n > room) {
    n = room;
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) n--;
  }
  memcpy(title, name, n);
  strcpy(title + n, tail);
}

// Step 4b: opens a new capture log (an existing one of the name is
// replaced). true when the log is open.
bool openCaptureLog(MyCameraWindowDataStruct* r) {
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
  if (myFindDefaultSaveFileLocation(r, &vRefNum, &dirID) != noErr) return false;
  char stamp[32];
  char name[64];
  if (r->mFileNaming == 1) {
    myGetDateTimePaddedString(stamp, 0, 0, 1);
    snprintf(name, sizeof name, "CAP_%s_L.txt", stamp);
  } else {
    myGetDateTimePaddedString(stamp, 1, 0, 1);
    snprintf(name, sizeof name, "CAP_%s_U.txt", stamp);
  }
  Str255 pname;
  toPascal(name, pname);
  FSSpec fileSpec;
  OSErr err = FSMakeFSSpec(vRefNum, dirID, pname, &fileSpec);
  if (err != noErr && err != fnfErr) return false;
  err = FSpCreate(&fileSpec, FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TEXT"), smSystemScript);
  if (err == dupFNErr) {
    err = FSpDelete(&fileSpec);
    if (err == noErr) err = FSpCreate(&fileSpec, FOUR_CHAR_CODE("ttxt"), FOUR_CHAR_CODE("TEXT"), smSystemScript);
  }
  if (err != noErr) return false;
  FILE* file = myFSp_fopenRW(&fileSpec);
  if (file == nullptr) return false;
  r->mCaptureLogFile = file;
  r->mCaptureLogOpen = 1;
  return true;
}

}  // namespace

bool myMakeCaptureBaseName(MyCameraWindowDataStruct* r, bool fractional, char* out, size_t size) {
  char stamp[32];
  switch (r->mFileNaming) {
    case 1:
      myGetDateTimePaddedString(stamp, 0, fractional ? 1 : 0, 1);
      snprintf(out, size, "%s_L", stamp);
      return true;
    case 2:
    case 4:
      myGetDateTimePaddedString(stamp, 1, fractional ? 1 : 0, 1);
      snprintf(out, size, "%s_U", stamp);
      return true;
    case 3:
      snprintf(out, size, "%10u_S", unsigned(r->mFileCounter));
      zeroPad(out);
      r->mFileCounter++;
      return true;
    default:
      return false;
  }
}

OSStatus myFindDefaultSaveFileLocation(MyCameraWindowDataStruct* r, SInt16* vRefNum, SInt32* dirID) {
  if (r == nullptr) return -1;
  if (r->mDefaultFolderValid == 1) {
    if (vRefNum) *vRefNum = r->mDefaultFolderVRefNum;
    if (dirID) *dirID = r->mDefaultFolderDirID;
    FSSpec folder;
    Str255 empty = {0};
    r->mDefaultFolderValid =
        FSMakeFSSpec(r->mDefaultFolderVRefNum, r->mDefaultFolderDirID, empty, &folder) == noErr ? 1 : 0;
  }
  if (r->mDefaultFolderValid == 0) {
    FSSpec folder;
    if (myUseNavServSelectLocationFSSpec(&folder, kSaveLocationPrefKey) != noErr) return userCanceledErr;
    // The chosen folder's own volume and id: the folder the FSSpec names.
    FSRef ref;
    FSCatalogInfo info;
    if (FSpMakeFSRef(&folder, &ref) != noErr ||
        FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr) != noErr ||
        info.nodeID == 0)
      return userCanceledErr;
    r->mDefaultFolderVRefNum = info.volume;
    r->mDefaultFolderDirID = SInt32(info.nodeID);
    r->mDefaultFolderValid = 1;
    if (vRefNum) *vRefNum = r->mDefaultFolderVRefNum;
    if (dirID) *dirID = r->mDefaultFolderDirID;
  }
  return noErr;
}

OSStatus myFillInFSSpec(MyCameraWindowDataStruct* r) {
  if (r == nullptr) return paramErr;
  const char* pattern = extensionPattern(r->mSaveFileType);
  if (pattern == nullptr || r->mFileNaming < 1 || r->mFileNaming > 4) return paramErr;
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
  OSStatus err = myFindDefaultSaveFileLocation(r, &vRefNum, &dirID);
  if (err != noErr) return err;
  char base[64];
  char name[80];
  myMakeCaptureBaseName(r, true, base, sizeof base);
  snprintf(name, sizeof name, pattern, base);
  Str255 pname;
  toPascal(name, pname);
  return FSMakeFSSpec(vRefNum, dirID, pname, &r->mFrameFileSpec);
}

OSStatus mySaveAFrameToDisk(MyCameraWindowDataStruct* r, UInt8 timeoutOn) {
  if (r == nullptr) return paramErr;
  OSStatus err = myFillInFSSpec(r);
  if (err != noErr && err != fnfErr) {
    char text[128];
    snprintf(text, sizeof text, "FSMakeFSSpec Failed with Err = %d 0x%x - Frame not saved", int(err),
             unsigned(err));
    myPostAlert(nullptr, text);
    return err;
  }
  err = myArmGrabBuffer(r, timeoutOn);
  if (err == memFullErr) {
    myPostAlert(nullptr, "mySaveAFrameToDisk Failed - Not enough memory left");
    return memFullErr;
  }
  if (err != noErr) return err;
  WindowRef w = r->mControlWindow;
  if (w != nullptr) {
    mySetControlTitleByKeyString(w, FOUR_CHAR_CODE("GRFR"), 0, "CANCELGRABKEY");
    enable(w, FOUR_CHAR_CODE("GMOV"), false);
    enable(w, FOUR_CHAR_CODE("GRAV"), false);
    enable(w, FOUR_CHAR_CODE("GRSM"), false);
  }
  if (MenuRef menu = GetMenuHandle(kCameraMenu))
    for (MenuItemIndex i = 15; i <= 17; i++) DisableMenuItem(menu, i);
  return noErr;
}

OSStatus myReNameFileProcHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* rec = static_cast<MyRenameFileStruct*>(userData);
  bool ok = false;
  HICommand command = commandOf(event, &ok);
  if (!ok) return eventNotHandledErr;
  if (command.commandID == kHICommandCancel) {
    rec->mResult = userCanceledErr;
    QuitAppModalLoopForWindow(rec->mWindow);
    return noErr;
  }
  if (command.commandID != kHICommandOK) return eventNotHandledErr;
  CFStringRef text = myGetControlCFString(rec->mWindow, kValueSignature, 0);
  if (text == nullptr) return noErr;  // nothing to read: the sheet stays
  const CFIndex length = CFStringGetLength(text);
  if (length <= 4 || UniCharCount(length) > kMaxNameUnits) {
    CFRelease(text);
    rec->mResult = -1;
    myPostAlertByKeyString("USRER", "BADFILENAME");
    return noErr;
  }
  UniChar units[kMaxNameUnits];
  CFStringGetCharacters(text, CFRangeMake(0, length), units);
  CFRelease(text);
  OSErr err = FSRenameUnicode(&rec->mOldRef, UniCharCount(length), units, kTextEncodingUnknown, &rec->mNewRef);
  rec->mResult = err;
  if (err == dupFNErr) {
    myPostAlertByKeyString("USRER", "DUPLICATEFILENAME");
    return noErr;
  }
  if (err != noErr) {
    myPostAlertByKeyString("USRER", "BADFILENAME");
    return noErr;
  }
  QuitAppModalLoopForWindow(rec->mWindow);
  return noErr;
}

OSStatus myAddANoteEventHandlerProc(EventHandlerCallRef, EventRef event, void* userData) {
  auto* rec = static_cast<MyAddANoteStruct*>(userData);
  bool ok = false;
  HICommand command = commandOf(event, &ok);
  if (!ok) return eventNotHandledErr;
  if (command.commandID == kHICommandCancel) {
    rec->mResult = userCanceledErr;
    QuitAppModalLoopForWindow(rec->mWindow);
    return noErr;
  }
  if (command.commandID != kHICommandOK) return noErr;  // swallowed: the sheet stays
  CFStringRef text = nullptr;
  ControlID id = {kNoteSignature, 0};
  ControlRef control = nullptr;
  if (GetControlByID(rec->mWindow, &id, &control) == noErr)
    GetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof text, &text, nullptr);
  if (text == nullptr || !CFStringGetCString(text, rec->mNote, sizeof rec->mNote, GetApplicationTextEncoding())) {
    rec->mResult = -1;
  } else {
    rec->mResult = rec->mNote[0] == '\0' ? userCanceledErr : noErr;
  }
  if (text) CFRelease(text);
  QuitAppModalLoopForWindow(rec->mWindow);
  return noErr;
}

OSStatus myDoFileFinnishUp(MyCameraWindowDataStruct* r, UInt32 kind, UInt32 count) {
  if (r == nullptr) return paramErr;
  FSRef ref;
  const FSSpec* fileSpec = kind == kMyCaptureMovie ? &r->mMovieFileSpec : &r->mFrameFileSpec;
  OSErr err = FSpMakeFSRef(fileSpec, &ref);
  if (err != noErr) {
    fprintf(stderr, "FSpMakeFSRef failed Err = %d 0x%x\n", int(err), unsigned(err));
    return err;
  }
  CFStringRef name = myFSRefGetCFStringName(&ref);
  if (name == nullptr) {
    fprintf(stderr, "theFileNameCF == NULL\n");
    return noErr;
  }
  if (r->mFileNaming == 4) {
    runRenameSheet(&ref, name);
    if (CFStringRef renamed = myFSRefGetCFStringName(&ref)) {
      CFRelease(name);
      name = renamed;
    }
  }
  char cname[254];
  if (!CFStringGetCString(name, cname, sizeof cname, GetApplicationTextEncoding())) {
    CFRelease(name);
    return noErr;
  }
  if (r->mCaptureLogOn == 1) {
    char title[256];
    entryTitle(kind, cname, count, title);
    if (r->mCaptureLogOpen == 0) openCaptureLog(r);
    if (r->mCaptureLogOpen == 1 && r->mCaptureLogFile != nullptr) {
      FILE* log = r->mCaptureLogFile;
      fprintf(log, "=================== File:%s\r", title);
      if (r->mTemperatureMode != 0 && r->mShowTemperature == 0) {
        float kelvin = 0.0f;
        if (myGetCurrentTemperature(r->mCameraHandle, r->mTemperatureMode, &kelvin) == noErr)
          r->mShownTemperatureK = kelvin;
      }
      myPrintCameraSettingsToLogFile(r, log);
      if (r->mAddNoteOn == 1 && runNoteSheet()) fprintf(log, "Note: %s\r", gNoteString);
      fflush(log);
    }
  }
  const UInt8 openAfter = kind == kMyCaptureMovie ? r->mOpenMovieAfterSave : r->mOpenFrameAfterSave;
  if (openAfter == 1) LSOpenFSRef(&ref, nullptr);
  CFRelease(name);
  return noErr;
}

// ---- recording

UInt32 myRecordPixelFormatCode(const MyCameraWindowDataStruct* r) {
  if (r->mDisplayFormat == FOUR_CHAR_CODE("ARGB")) return r->mPixelFormat;
  if (r->mColourDisplay == 1 && r->mHighQualityBayer == 1) {
    switch (r->mBayerFormat) {
      case 1: return FOUR_CHAR_CODE("bhRG");
      case 2: return FOUR_CHAR_CODE("bhBG");
      case 3: return FOUR_CHAR_CODE("bhGR");
      case 4: return FOUR_CHAR_CODE("bhGB");
      default: break;
    }
  }
  return r->mDisplayFormat;
}

SInt32 myRecordTimeScale(const MyCameraWindowDataStruct* r) {
  if (r->mExposureMS >= 300.0) return 600;
  return SInt32(r->mFrameRate * 100.0);
}

void mySetRecordingControls(MyCameraWindowDataStruct* r, bool recording) {
  if (r == nullptr) return;
  WindowRef w = r->mControlWindow;
  if (w != nullptr) {
    const bool on = !recording;
    const bool grabs = recording ? false : r->mGrabControlsEnabled != 0;
    if (r->mLongExposure == 0) enable(w, FOUR_CHAR_CODE("FRAM"), grabs);
    enable(w, FOUR_CHAR_CODE("GRFR"), grabs);
    enable(w, FOUR_CHAR_CODE("GRAV"), grabs);
    enable(w, FOUR_CHAR_CODE("GRSM"), grabs);
    enable(w, FOUR_CHAR_CODE("FORT"), on);
    enable(w, FOUR_CHAR_CODE("STRT"), on);
    enable(w, FOUR_CHAR_CODE("CCDB"), on);
    enable(w, FOUR_CHAR_CODE("GSHR"), on);
    enable(w, FOUR_CHAR_CODE("GDKF"), on);
    enable(w, FOUR_CHAR_CODE("GBRF"), on);
    if (r->mSharpnessAvailable) enable(w, FOUR_CHAR_CODE("USHR"), on);
    if (r->mDarkFrameAvailable) enable(w, FOUR_CHAR_CODE("UDKF"), on);
    if (r->mFlatFrameAvailable) enable(w, FOUR_CHAR_CODE("UBRF"), on);
  }
  setMenu2Items(r, recording);
  if (recording)
    DisableMenuCommand(nullptr, FOUR_CHAR_CODE("SROI"));
  else
    EnableMenuCommand(nullptr, FOUR_CHAR_CODE("SROI"));
}

OSStatus mySetUpRecordMovie(MyCameraWindowDataStruct* r) {
  if (r == nullptr) return paramErr;
  st(r->mRecordStatus, OSErr(noErr));
  r->mRecordFirstFrame = 1;
  r->mRecordFrameCounter = 0;
  st(r->mRecording, UInt8(0));
  st(r->mRecordStopRequested, UInt8(0));
  r->mFrameTimeBase = 0.0;
  r->mRecordNextFrameTime = -1.0;

  OSStatus err = noErr;
  SInt16 vRefNum = 0;
  SInt32 dirID = 0;
  char base[64];
  char name[80];
  MyMovieRecorderStruct* movie = nullptr;
  if (ld(r->mMovie) != nullptr) {
    err = -9074;  // the last recording's recorder is still to be closed
  } else if (r->mFileNaming < 1 || r->mFileNaming > 4) {
    err = paramErr;
  } else {
    err = myFindDefaultSaveFileLocation(r, &vRefNum, &dirID);
  }
  if (err == noErr) {
    myMakeCaptureBaseName(r, false, base, sizeof base);
    snprintf(name, sizeof name, "%s.mov", base);
    Str255 pname;
    toPascal(name, pname);
    err = FSMakeFSSpec(vRefNum, dirID, pname, &r->mMovieFileSpec);
    if (err == noErr)
      err = FSpDelete(&r->mMovieFileSpec);
    else if (err == fnfErr)
      err = noErr;
  }
  if (err == noErr) {
    const UInt32 code = myRecordPixelFormatCode(r);
    const SInt32 timeScale = myRecordTimeScale(r);
    UInt32 width = r->mWidth;
    UInt32 height = r->mHeight;
    // The crop applies as the pipeline applies it: only when it lies inside
    // the frame.
    if (r->mSoftROIEnabled != 0 && r->mSoftROIActive != 0 &&
        UInt64(r->mSoftROILeft) + r->mSoftROIWidth <= r->mWidth &&
        UInt64(r->mSoftROITop) + r->mSoftROIHeight <= r->mHeight) {
      width = r->mSoftROIWidth;
      height = r->mSoftROIHeight;
    }
    const UInt32 rowBytes = r->mBitsPerPixel == 12 ? r->mWidth * 2 : r->mWidth * r->mBitsPerPixel / 8;
    const UInt32 depth = r->mBitsPerPixel == 12 ? 16 : r->mBitsPerPixel;
    OSErr createErr = noErr;
    movie = ORXDCAMCreateMovie(r->mCameraHandle, 0.0, timeScale, width, height, code, depth, rowBytes,
                               r->mMovieFileSpec, &createErr);
    err = createErr;
    if (err == noErr && movie == nullptr) err = memFullErr;
  }
  r->mRecordFrameCounter = r->mRecordFrameLimit + 1;
  if (err == noErr) {
    r->mRecordWidth = r->mWidth;
    r->mRecordHeight = r->mHeight;
    r->mRecordBitsPerPixel = r->mBitsPerPixel;
    st(r->mMovie, movie);
    st(r->mRecording, UInt8(1));
    if (r->mControlWindow != nullptr)
      mySetControlTitleByKeyString(r->mControlWindow, FOUR_CHAR_CODE("GMOV"), 0, "STOPRECORDKEY");
    mySetRecordingControls(r, true);
    return noErr;
  }
  char text[96];
  snprintf(text, sizeof text, "ORXDCAMCreateMovie Failed with Err = %d\n", int(err));
  myPostAlert(nullptr, text);
  mySetRecordingControls(r, false);
  return err;
}

void myStopRecordMovie(MyCameraWindowDataStruct* r) {
  if (r == nullptr) return;
  // A recorder that an earlier stop could not detach yet is closed now.
  if (ld(r->mRecording) == 1 || ld(r->mMovie) != nullptr) {
    const OSErr status = ld(r->mRecordStatus);
    if (status != noErr) fprintf(stderr, "Recording Failed Err = %d 0x%x\n", int(status), unsigned(status));
    MyMovieRecorderStruct* movie = myDetachMovieFromFrames(r);
    if (movie == nullptr && ld(r->mMovie) != nullptr) return;  // still in use: the next stop closes it
    if (movie != nullptr) {
      const OSErr err = ORXDCAMCloseMovie(movie);
      if (err == noErr) {
        char stamp[32];
        myMakeStartStampUTC(r->mRecordStartUTC, stamp);
        SInt32 frames = 0;
        const OSErr tc = myAddInATC(r->mRecordStartUTC, r->mMovieFileSpec, stamp, r->mShowTimeCode, &frames);
        if (tc != noErr) {
          fprintf(stderr, "Adding TimeCode failed Err = %d 0x%x\n", int(tc), unsigned(tc));
        } else {
          const OSStatus fin = myDoFileFinnishUp(r, kMyCaptureMovie, UInt32(frames));
          if (fin != noErr) fprintf(stderr, "myDoFileFinnishUp failed Err = %d 0x%x\n", int(fin), unsigned(fin));
        }
      }
    }
  }
  if (r->mControlWindow != nullptr)
    mySetControlTitleByKeyString(r->mControlWindow, FOUR_CHAR_CODE("GMOV"), 0, "STARTRECORDKEY");
  mySetRecordingControls(r, false);
}
