// The application's one handler of menu commands. Every item of the menu bar
// carries a four-character command; the handler turns it into a call. Camera
// and settings-slot commands act on the camera control record of the front
// window; the processing commands (stacking, movies, images, photometry) need
// no camera. The control window's own buttons are handled by its window.
//
// Main thread only, inside the application event loop.
#pragma once
#include "app/CameraWindowData.h"
#include "camera_driver/ORX_DCAM.h"
#include "platform/hitoolbox/HIToolbox.h"

// The process-command handler of the application target. noErr for every
// command it knows, whether or not it found something to act on (a camera
// command with no camera in front does nothing); eventNotHandledErr for any
// other command, so the standard handlers run. The menu titles are never
// left highlighted (HiliteMenu(0) on every return).
OSStatus myCommandHandler(EventHandlerCallRef call, EventRef event, void* userData);

// The "abou" command: the "AboutBox" window with the bundle's
// "About_Image.jpg" in its image view; "abou" stays disabled while it shows.
void myShowAboutBox();

// The routines the commands reach. They start as the real ones; a test may
// put spies in their place and restore them with myResetCommandRoutines.
struct MyCommandRoutines {
  void (*findAndOpenCamera)(UInt32 automatic);
  void (*doPreferences)();
  void (*showAboutBox)();
  void (*recursiveCloseWindow)(WindowRef window);
  void (*quitApplicationEventLoop)();
  OSStatus (*openHelpDocument)();
  void (*changeZoomMenuItem)(WindowRef window, SInt16 item);
  void (*changeImageAlignMenuItem)(WindowRef window, UInt32 mode);
  void (*doPleezWait)(MyCameraWindowDataStruct* record, UInt32 mode);
  OSStatus (*startControlLXScope)(MyCameraWindowDataStruct* record);
  void (*getUserSoftROISettings)();
  void (*getUserHardROISettings)();
  void (*changeCameraTriggerMenuItem)(WindowRef window, UInt32 item);
  void (*changeTriggerPins)(WindowRef window);
  OSStatus (*installTemperatureTimer)(MyCameraWindowDataStruct* record);
  void (*removeTemperatureTimer)(MyCameraWindowDataStruct* record);
  OSStatus (*setMaintainTemperature)(MyDCAMCameraStruct* handle, UInt32 mode, double targetKelvin, UInt8 on);
  OSStatus (*getMaintainTemperatureGUI)(MyCameraWindowDataStruct* record);
  OSStatus (*createCameraSettings)(MyCameraWindowDataStruct* record, WindowRef parent);
  OSStatus (*applyCameraSettings)(MyCameraWindowDataStruct* record, UInt32 slot);
  OSStatus (*deleteCameraSettings)(WindowRef parent, SInt32* slotCount);
  OSStatus (*alignAndStackMovies)();
  void (*darkSubtractOrFlattenMovie)(int mode);
  void (*fieldRotateMovie)();
  OSErr (*filesToARGB32AlignedMovie)();
  OSErr (*filesTo16BitRGB48Movie)();
  void (*qtMovieExport)();
  OSErr (*processMultipleImages)();
  OSStatus (*importLRGBLayers)(UInt32 mode);
  void (*doMovieVARStarProcessing)();
  void (*doMovieAstrometricProcessing)();
  OSStatus (*autoPhotomImageSelectionGUI)();
  void (*hideShowTCT)(UInt8 show);
};
extern MyCommandRoutines gMyCommandRoutines;
void myResetCommandRoutines();
