// The camera's preferences and its named settings.
//
// Every camera keeps its own preference domain,
// "com.brindlemoor.SKYLOOM.CameraPrefs<serial number>": window positions,
// capture counts, file choices, display and guiding options, regions of
// interest, the temperature set point and the control window's controls.
// Numbers are stored as numeric preference text (utilities/PreferenceText.h).
// A control key is the four characters of a control-window signature, most
// significant byte first, holding the control's 32-bit value; reading one sets
// the control and runs its live action, which applies it to the camera.
//
// Up to 20 named settings ("slots") keep ten controls each, one domain a slot:
// "com.brindlemoor.SKYLOOM.CameraSettings00" .. "...CameraSettings19". The
// "CameraSettings" submenu (menu 12) mirrors them: item 1 saves a new set,
// item 2 deletes one, items 4 to 23 are slots 0 to 19 (a slot in use shows
// its name and is enabled; a free one shows "None 01" .. "None 20").
//
// Everything here runs on the main thread.
#pragma once
#include "app/CameraWindowData.h"
#include "camera_driver/ORX_DCAM.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/hitoolbox/HIToolbox.h"

// ---- camera preferences ----
// read 1 reads the camera's domain into the record and onto the control
// window (a camera without its own domain reads the application's domain);
// read 0 writes it. 0; -108 when the domain name cannot be made; on reading,
// the status of the video-size choice when it fails; on writing, the first
// failing store (after the "Write Preferences Error" alert).
OSStatus myReadWriteCameraPrefs(MyCameraWindowDataStruct* record, UInt32 read);
// Reads the control key of control (signature, 0) and applies it. *value is
// 0 for a missing or disabled control; the number read when it lay in the
// control's range; else the control's current value. The status of finding
// the control, or -108 when the key cannot be made.
OSStatus myReadInSetUpControlPref(CFStringRef applicationID, OSType signature, WindowRef window, double* value);
// The same, for the settings slots.
OSStatus mySpecificReadInSetUpControlPref(CFStringRef applicationID, OSType signature, WindowRef window,
                                          double* value);
// Stores the control's value (also of a disabled control). The status of
// finding the control, -108 when the key or text cannot be made, else 0. Does
// not synchronize.
OSStatus myWriteOutControlPref(CFStringRef applicationID, OSType signature, WindowRef window);
// The same, but a disabled control stores -1.0.
OSStatus mySpecificWriteOutControlPref(CFStringRef applicationID, OSType signature, WindowRef window);
// As myReadInSetUpControlPref, also giving the reader's own result
// (*readStatus: 0 when the stored number was taken; -1 when the control was
// missing or disabled).
OSStatus myReadControlKeyStatus(CFStringRef applicationID, OSType signature, WindowRef window, double* value,
                                OSStatus* readStatus);
// 'MOFR' value -> ms between recorded frames (0 = every frame).
double myMovieFrameIntervalForItem(UInt32 item);

// ---- settings slots ----
constexpr MenuID kMyCameraSettingsMenuID = 12;
constexpr UInt32 kMyCameraSettingsSlots = 20;
// The slot's domain name (caller releases); null for a slot above 19 or when
// the name cannot be made.
CFStringRef myCreateCameraSettingsDomain(UInt32 slot);
// The text of a free slot's menu item: "None 01" .. "None 20".
void myFreeCameraSettingsText(UInt32 slot, char text[16]);
// The opening's step: every slot's "MENUNAME" gives its item of menu 12;
// the record's slot count follows; items 1 and 2 are enabled by the count.
// -1 without menu 12.
OSStatus mySetUpCameraSettingsMenu(MyCameraWindowDataStruct* record);
// Applies slot 0..19 to the camera and the control window. 0; -50 while
// applying is not allowed (grab controls disabled, recording, a grab wanted,
// video stopped, slot above 19); -108 when the domain name cannot be made; -1
// when the slot has no name; or the failing exposure-base or display-format
// step's status.
OSStatus myApplyCameraSettings(MyCameraWindowDataStruct* record, UInt32 slot);
// The "CRST" command: asks for a name ("GetCamSetName", a sheet on parent
// when one is given) and stores the controls in the lowest free slot. 0, -128
// when cancelled, or the failing store's status.
OSStatus myCreateCameraSettings(MyCameraWindowDataStruct* record, WindowRef parent);
// The "DEST" command: the "DeleteCamSettings" dialog frees the chosen slot and
// lowers *slotCount. 0, -128 when cancelled, or the status that stopped it.
OSStatus myDeleteCameraSettings(WindowRef parent, SInt32* slotCount);
// Command handlers of the two dialogs (state: their heap blocks).
OSStatus myGetSettingsNameUPPProc(EventHandlerCallRef call, EventRef event, void* state);
OSStatus myDeleteSettingsUPPProc(EventHandlerCallRef call, EventRef event, void* state);

// The frame callback that video runs with (myDisplayCallback; tests put a
// spy here); a display-format change that stops delivery assigns it again
// (with the record as reference value).
extern MyDCAMFrameCallback gMyLiveFrameCallback;
