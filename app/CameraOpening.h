// Opening and closing a camera, and the control window's set-up.
//
// myFindAndOpenCamera takes a camera from the driver's list (the browser
// asks when more than one is attached), builds its camera control record,
// the "VideoWindow" and "ControlWindow" windows with their handlers and the
// histogram view, identifies the camera family, probes trigger, temperature
// and automatic shutter, sets the control window up and shows it.
// myCloseCameraWindows undoes all of it, from whatever state a failed
// opening left, and writes the camera's preferences. At most one camera is
// open: item 1 of menu 2 is disabled while one is.
//
// Everything here runs on the main thread.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// The long-exposure cameras' EEPROM write-enable code, written to 0xF00
// before their iris registers (0x524, 0x824) are rewritten and cleared after.
// The simulated camera accepts this code; the value real cameras expect has
// not been confirmed, so nothing writes their EEPROM outside the simulation.
constexpr UInt32 kMyEEPROMWriteEnableCode = 0x5EE9A00Du;

// The iris values the closing leaves in the EEPROM of a long-exposure camera.
constexpr UInt32 kMyFrostlensIrisInquiry = 0x89001004u, kMyFrostlensIrisControl = 0x82001004u;
constexpr UInt32 kMyOtherIrisInquiry = 0x09004004u, kMyOtherIrisControl = 0x90000004u;
constexpr UInt32 kMyIrisReadFailed = 0xDEADBEEFu;

// automatic != 0 (start-up, scripting): every failure is silent. Otherwise
// a failure shows one alert.
void myFindAndOpenCamera(UInt32 automatic);

// The family flags by the camera's vendor word: the Point Grey check (and its
// Bayer board), shutters by absolute value, vendor 0x0050A6's register
// 0xF08 := 0, Bayer selectable for the rest.
void myIdentifyCameraVendor(MyCameraWindowDataStruct* record);

// Closes the camera of the record, its windows and the record; null only
// resets the camera menu. Safe on a record that an opening left half built.
void myCloseCameraWindows(MyCameraWindowDataStruct* record);

// The control window's set-up for a freshly opened camera: registers, the
// video-size list, preferences, trigger and temperature menus. 0, or the
// status of a missing 'VISZ' pop-up or of a failing size selection.
OSStatus myInitControlWindow(MyCameraWindowDataStruct* record);

// The handlers the opening installs (the preview window's events, its
// scroll bars, the control window's events and commands) and the video stop
// the closing runs.
OSStatus myPreviewWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
void livePreviewWindowScrollImageUPPProc(ControlRef control, ControlPartCode part);
OSStatus myControlWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
OSStatus myStopCamera(MyCameraWindowDataStruct* record);
