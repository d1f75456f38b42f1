#include "app/CommandHandler.h"

#include <cstdlib>
#include <cstring>

#include "app/AboutAndHelp.h"
#include "app/CameraMenus.h"
#include "app/CameraOpening.h"
#include "app/CameraPrefs.h"
#include "app/HistogramViews.h"
#include "app/PleezWait.h"
#include "app/PreferencesDialog.h"
#include "app/RecordAtomics.h"
#include "app/RegionsOfInterest.h"
#include "app/TriggerModes.h"
#include "guiding/ScopeControl.h"
#include "image_windows/BatchProcessing.h"
#include "image_windows/FilesToMovie.h"
#include "image_windows/LRGBImport.h"
#include "image_windows/QTMovieExport.h"
#include "media/TimeCode.h"
#include "photometry/AutoPhotometry.h"
#include "photometry/MovieAstrometry.h"
#include "photometry/VarStarPhotometry.h"
#include "platform/coregraphics/CGImage.h"
#include "platform/launchservices/Processes.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsImport.h"
#include "stacking/AlignAndStack.h"
#include "stacking/FieldRotation.h"
#include "stacking/FilesToAlignedMovie.h"
#include "stacking/MovieCalibration.h"

using record_atomics::ld;

namespace {

constexpr UInt32 C(const char (&s)[5]) { return FOUR_CHAR_CODE(s); }

constexpr const char kAboutImagePath[] = "/Contents/Resources/About_Image.jpg";
constexpr size_t kMaxBundlePath = 2048;

const MyCommandRoutines kRealRoutines = {
    myFindAndOpenCamera,
    myDoPreferences,
    myShowAboutBox,
    RecursiveCloseWindow,
    QuitApplicationEventLoop,
    myOpenHelpDocument,
    myChangeZoomMenuItem,
    myChangeImageAlignMenuItem,
    myDoPleezWait,
    myStartControlLXScope,
    myGetUserSoftROISettings,
    myGetUserHardROISettings,
    myChangeCameraTriggerMenuItem,
    myChangeTriggerPins,
    myInstallTemperatureTimer,
    myRemoveTemperatureTimer,
    mySetMaintainTemperature,
    myGetMaintainTemperatureGUI,
    myCreateCameraSettings,
    myApplyCameraSettings,
    myDeleteCameraSettings,
    myAlignAndStackMovies,
    myDarkSubtractOrFlattenMovie,
    myFieldRotateMovie,
    myFilesToARGB32AlignedMovie,
    myFilesTo16BitRGB48Movie,
    myQTMovieExport,
    myProcessMultipleImages,
    myImportLRGBLayers,
    myDoMovieVARStarProcessing,
    myDoMovieAstrometricProcessing,
    myAutoPhotomImageSelectionGUI,
    myHideShowTCT,
};

// The camera control record of the front window, or null. Every window
// record begins with its kind tag, so the tag can be read from any of them.
MyCameraWindowDataStruct* cameraRecordOf(WindowRef front) {
  if (!front) return nullptr;
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(front));
  return r && r->mKind == kMyCameraWindowDataKind ? r : nullptr;
}

bool runningWithVideoWindow(const MyCameraWindowDataStruct* r) {
  return r && r->mVideoWindow && ld(r->mRunning) == 1;
}

// The next preview click picks the brightness monitor's centre; a second
// command abandons the pick.
void toggleBrightnessPick(MyCameraWindowDataStruct* r) {
  if (r->mPickBrightnessArea == 1) {
    r->mPickBrightnessArea = 0;
    return;
  }
  r->mPickBrightnessArea = 1;
  r->mWhiteBalanceRunning = 0;
  r->mSpotWhiteBalance = 0;
  SetThemeCursor(kThemeCrossCursor);
  SelectWindow(r->mVideoWindow);
}

void toggleMaintainTemperature(MyCameraWindowDataStruct* r, const MyCommandRoutines& call) {
  if (r->mTargetTemperature > 1.0f) {
    r->mMaintainTemperature = r->mMaintainTemperature == 0 ? 1 : 0;
    call.setMaintainTemperature(r->mCameraHandle, r->mTemperatureMode, double(r->mTargetTemperature),
                                r->mMaintainTemperature);
  } else {
    call.getMaintainTemperatureGUI(r);
  }
}

// The camera commands that need the record; false for any other command.
bool dispatchCameraCommand(UInt32 id, WindowRef front, MyCameraWindowDataStruct* r,
                           const MyCommandRoutines& call) {
  switch (id) {
    case C("REST"):
      if (runningWithVideoWindow(r)) SizeWindow(r->mVideoWindow, short(UInt16(r->mWidth)), short(UInt16(r->mHeight)), true);
      return true;
    case C("MOBR"):
      if (runningWithVideoWindow(r)) toggleBrightnessPick(r);
      return true;
    case C("RADE"):
      if (r) call.doPleezWait(r, 6);
      return true;
    case C("LXCT"):
      if (r) call.startControlLXScope(r);
      return true;
    case C("DTEM"):
      if (r) {
        if (r->mShowTemperature == 1)
          call.removeTemperatureTimer(r);
        else
          call.installTemperatureTimer(r);
      }
      return true;
    case C("MTEM"):
      if (r && r->mTemperatureSettable == 1) toggleMaintainTemperature(r, call);
      return true;
    case C("STEM"):
      if (r && r->mTemperatureSettable != 0) call.getMaintainTemperatureGUI(r);
      return true;
    case C("CRST"):
      if (r) call.createCameraSettings(r, front);
      return true;
    case C("DEST"):
      if (r) call.deleteCameraSettings(front, &r->mSavedSlotCount);
      return true;
    default:
      break;
  }
  // 'CS01'..'CS20': apply slot n - 1.
  if ((id >> 16) == (C("CS01") >> 16)) {
    const int tens = int((id >> 8) & 0xFF) - '0', units = int(id & 0xFF) - '0';
    if (tens >= 0 && tens <= 9 && units >= 0 && units <= 9) {
      const int n = tens * 10 + units;
      if (n >= 1 && n <= 20) {
        if (r) call.applyCameraSettings(r, UInt32(n - 1));
        return true;
      }
    }
  }
  return false;
}

OSStatus dispatch(UInt32 id, WindowRef front, MyCameraWindowDataStruct* r) {
  const MyCommandRoutines& call = gMyCommandRoutines;
  switch (id) {
    case C("open"): call.findAndOpenCamera(0); return noErr;
    case C("pref"): call.doPreferences(); return noErr;
    case C("abou"): call.showAboutBox(); return noErr;
    case C("quit"):
      if (front) call.recursiveCloseWindow(front);
      call.quitApplicationEventLoop();
      return noErr;
    case C("HELP"): call.openHelpDocument(); return noErr;
    case C("1XZM"): case C("2XZM"): case C("3XZM"): case C("4XZM"):
    case C("5XZM"): case C("6XZM"): case C("7XZM"): case C("8XZM"):
      call.changeZoomMenuItem(front, SInt16(((id >> 24) & 0xFF) - '1' + 3));
      return noErr;
    case C("IMA0"): case C("IMA1"): case C("IMA2"):
      call.changeImageAlignMenuItem(front, (id & 0xFF) - '0');
      return noErr;
    case C("SROI"): call.getUserSoftROISettings(); return noErr;
    case C("HROI"): call.getUserHardROISettings(); return noErr;
    case C("TRG0"): case C("TRG1"): case C("TRG2"): case C("TRG3"):
      call.changeCameraTriggerMenuItem(front, (id & 0xFF) - '0');
      return noErr;
    case C("TRG4"): call.changeTriggerPins(front); return noErr;
    case C("STAK"): call.alignAndStackMovies(); return noErr;
    case C("DKMO"): call.darkSubtractOrFlattenMovie(0); return noErr;
    case C("FLMO"): call.darkSubtractOrFlattenMovie(1); return noErr;
    case C("FRMO"): call.fieldRotateMovie(); return noErr;
    case C("IMAM"): call.filesToARGB32AlignedMovie(); return noErr;
    case C("FIMO"): call.filesTo16BitRGB48Movie(); return noErr;
    case C("EXPR"): call.qtMovieExport(); return noErr;
    case C("PRBI"): call.processMultipleImages(); return noErr;
    case C("PRI0"): case C("PRI1"): case C("PRI2"): case C("PRI3"):
      call.importLRGBLayers((id & 0xFF) - '0');
      return noErr;
    case C("BMRP"): call.doMovieVARStarProcessing(); return noErr;
    case C("BAST"): call.doMovieAstrometricProcessing(); return noErr;
    case C("AMSP"): call.autoPhotomImageSelectionGUI(); return noErr;
    case C("HTCT"): call.hideShowTCT(0); return noErr;
    case C("STCT"): call.hideShowTCT(1); return noErr;
    default:
      return dispatchCameraCommand(id, front, r, call) ? OSStatus(noErr) : OSStatus(eventNotHandledErr);
  }
}

// The bundle's about picture as an image, or null.
CGImageRef copyAboutImage() {
  ProcessSerialNumber self = {0, kCurrentProcess};
  FSRef bundle, file;
  char path[kMaxBundlePath];
  if (GetProcessBundleLocation(&self, &bundle) != noErr ||
      FSRefMakePath(&bundle, reinterpret_cast<UInt8*>(path), sizeof path) != noErr ||
      strlen(path) + strlen(kAboutImagePath) >= sizeof path)
    return nullptr;
  strcat(path, kAboutImagePath);
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path), &file, nullptr) != noErr) return nullptr;
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  if (QTNewDataReferenceFromFSRef(&file, 0, &dataRef, &dataRefType) != noErr) return nullptr;
  GraphicsImportComponent importer = nullptr;
  CGImageRef image = nullptr;
  if (GetGraphicsImporterForDataRef(dataRef, dataRefType, &importer) == noErr) {
    if (GraphicsImportCreateCGImage(importer, &image, 0) != noErr) image = nullptr;
    CloseComponent(importer);
  }
  DisposeHandle(dataRef);
  return image;
}

}  // namespace

MyCommandRoutines gMyCommandRoutines = kRealRoutines;

void myResetCommandRoutines() { gMyCommandRoutines = kRealRoutines; }

void myShowAboutBox() {
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) return;
  WindowRef window = nullptr;
  const OSStatus err = CreateWindowFromNib(nib, CFSTR("AboutBox"), &window);
  DisposeNibReference(nib);
  if (err != noErr || !window) return;
  SetWRefCon(window, 0);

  // Without the picture the view stays empty; the box opens all the same.
  HIViewRef view = nullptr;
  const HIViewID imageID = {C("ABIM"), 0};
  if (HIViewFindByID(HIViewGetRoot(window), imageID, &view) == noErr && view) {
    if (CGImageRef image = copyAboutImage()) {
      HIImageViewSetImage(view, image);
      HIImageViewSetOpaque(view, false);
      HIImageViewSetAlpha(view, 1.0);
      HIImageViewSetScaleToFit(view, true);
      HIViewSetVisible(view, true);
      CGImageRelease(image);
    }
  }

  // The handler enables "abou" again when the box closes; a box without it
  // would leave the command disabled for good.
  static const EventTypeSpec events[] = {{kEventClassCommand, kEventCommandProcess},
                                         {kEventClassWindow, kEventWindowClose}};
  if (InstallWindowEventHandler(window, myAboutBoxWindowEventHandlerProc, 2, events, window, nullptr) != noErr) {
    DisposeWindow(window);
    return;
  }
  DisableMenuCommand(nullptr, C("abou"));
  ShowWindow(window);
}

OSStatus myCommandHandler(EventHandlerCallRef, EventRef event, void*) {
  OSStatus result = eventNotHandledErr;
  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                        &command) == noErr) {
    WindowRef front = FrontNonFloatingWindow();
    result = dispatch(command.commandID, front, cameraRecordOf(front));
  }
  HiliteMenu(0);
  return result;
}
