// The named camera settings: twenty slots, one preference domain each, listed
// by the "CameraSettings" submenu (menu 12).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "camera_driver/ORXDCAM.h"
#include "pixel/BayerPlanes.h"
#include "app/FramePipeline.h"
#include "platform/corefoundation/CFPreferences.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/PreferenceText.h"

MyDCAMFrameCallback gMyLiveFrameCallback = myDisplayCallback;

namespace {

constexpr OSType kName = FOUR_CHAR_CODE("NAME");
constexpr OSType kList = FOUR_CHAR_CODE("LIST");
constexpr OSType kRate = FOUR_CHAR_CODE("FRAM");
constexpr OSType kExposureBase = FOUR_CHAR_CODE("CCDB");
constexpr OSType kDisplay = FOUR_CHAR_CODE("FORT");
constexpr OSType kExposure = FOUR_CHAR_CODE("EXPO");
constexpr MenuItemIndex kCreateItem = 1;
constexpr MenuItemIndex kDeleteItem = 2;
constexpr MenuItemIndex kFirstSlotItem = 4;

// The sliders a slot keeps, in the order they are applied.
constexpr OSType kFeatures[] = {FOUR_CHAR_CODE("SAT_"), FOUR_CHAR_CODE("EXPO"), FOUR_CHAR_CODE("VorR"),
                                FOUR_CHAR_CODE("UorB"), FOUR_CHAR_CODE("GAMA"), FOUR_CHAR_CODE("GAIN"),
                                FOUR_CHAR_CODE("BRIT")};

// The name sheet's state.
struct MySettingsNameStruct {
  WindowRef mWindow;
  OSStatus mResult;  // 0 OK, -128 cancel, -1 empty, -2 unconvertible, or a toolbox status
  CFStringRef mName;
};

// The delete dialog's state.
struct MyDeleteSettingsStruct {
  WindowRef mWindow;
  SInt32 mItem;  // the "LIST" item, 1..20
  OSStatus mResult;
};

MenuRef SettingsMenu() { return GetMenuRef(kMyCameraSettingsMenuID); }

// Items 1 and 2 follow the number of slots in use.
void EnableCreateDelete(MenuRef menu, SInt32 count) {
  if (!menu) return;
  if (count < SInt32(kMyCameraSettingsSlots))
    EnableMenuItem(menu, kCreateItem);
  else
    DisableMenuItem(menu, kCreateItem);
  if (count != 0)
    EnableMenuItem(menu, kDeleteItem);
  else
    DisableMenuItem(menu, kDeleteItem);
}

void SetFreeSlotItem(MenuRef menu, UInt32 slot) {
  char text[16];
  myFreeCameraSettingsText(slot, text);
  mySetMenuItemCString(menu, SInt32(slot + kFirstSlotItem), text);
  DisableMenuItem(menu, MenuItemIndex(slot + kFirstSlotItem));
}

// Only command events reach the dialogs' handlers; 0 with the command.
OSStatus CommandOf(EventRef event, HICommand* command) {
  if (GetEventClass(event) != kEventClassCommand || GetEventKind(event) != kEventCommandProcess)
    return eventNotHandledErr;
  return GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof *command, nullptr, command);
}

// Opens a window of the nib with its command handler and runs it
// application-modal, as a sheet on parent when one is given. fill runs after
// the handler is in place and returns false when the window is not to be
// shown. The window is gone on return.
template <typename Fill>
OSStatus RunDialog(WindowRef parent, CFStringRef name, EventHandlerProcPtr handler, void* state, WindowRef* window,
                   Fill fill) {
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) return err;
  err = CreateWindowFromNib(nib, name, window);
  DisposeNibReference(nib);
  if (err != noErr) return err;
  const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(handler);
  EventHandlerRef ref = nullptr;
  err = InstallWindowEventHandler(*window, upp, 1, &commandEvent, state, &ref);
  if (err == noErr) {
    if (fill(*window)) {
      if (parent)
        err = ShowSheetWindow(*window, parent);
      else
        ShowWindow(*window);
      if (err == noErr) {
        RunAppModalLoopForWindow(*window);
        if (parent)
          HideSheetWindow(*window);
        else
          HideWindow(*window);
      }
    } else {
      err = -1;
    }
    RemoveEventHandler(ref);
  }
  DisposeEventHandlerUPP(upp);
  DisposeWindow(*window);
  *window = nullptr;
  return err;
}

}  // namespace

CFStringRef myCreateCameraSettingsDomain(UInt32 slot) {
  if (slot >= kMyCameraSettingsSlots) return nullptr;
  char domain[64];
  snprintf(domain, sizeof domain,
           slot < 10 ? "com.brindlemoor.SKYLOOM.CameraSettings0%d" : "com.brindlemoor.SKYLOOM.CameraSettings%d",
           int(slot));
  return CFStringCreateWithCString(kCFAllocatorDefault, domain, kCFStringEncodingASCII);
}

void myFreeCameraSettingsText(UInt32 slot, char text[16]) {
  const int n = int(slot % 100) + 1;
  snprintf(text, 16, n < 10 ? "None 0%d" : "None %d", n);
}

OSStatus mySetUpCameraSettingsMenu(MyCameraWindowDataStruct* record) {
  MenuRef menu = SettingsMenu();
  if (!record || !menu) return -1;
  record->mSavedSlotCount = 0;
  for (UInt32 slot = 0; slot < kMyCameraSettingsSlots; slot++) {
    CFStringRef domain = myCreateCameraSettingsDomain(slot);
    CFPropertyListRef name = domain ? CFPreferencesCopyAppValue(CFSTR("MENUNAME"), domain) : nullptr;
    if (name && CFGetTypeID(name) == CFStringGetTypeID() && CFStringGetLength(CFStringRef(name)) > 0) {
      SetMenuItemTextWithCFString(menu, MenuItemIndex(slot + kFirstSlotItem), CFStringRef(name));
      EnableMenuItem(menu, MenuItemIndex(slot + kFirstSlotItem));
      record->mSavedSlotCount++;
    } else {
      SetFreeSlotItem(menu, slot);
    }
    if (name) CFRelease(name);
    if (domain) CFRelease(domain);
  }
  EnableCreateDelete(menu, record->mSavedSlotCount);
  return noErr;
}

OSStatus myApplyCameraSettings(MyCameraWindowDataStruct* r, UInt32 slot) {
  // 1. Only while the camera streams and nothing is being captured.
  if (!r || !r->mGrabControlsEnabled || r->mRecording || r->mGrabWanted || !r->mRunning || slot > 19)
    return paramErr;
  // 2. The slot's name.
  CFStringRef app = myCreateCameraSettingsDomain(slot);
  if (!app) return memFullErr;
  CFPropertyListRef name = CFPreferencesCopyAppValue(CFSTR("MENUNAME"), app);
  if (!name || CFGetTypeID(name) != CFStringGetTypeID()) {
    if (name) CFRelease(name);
    CFRelease(app);
    return -1;
  }
  if (MenuRef menu = SettingsMenu())
    SetMenuItemTextWithCFString(menu, MenuItemIndex(slot + kFirstSlotItem), CFStringRef(name));
  CFRelease(name);

  // 3. Whether the camera offers automatic exposure.
  if (r->mIsLongExposureCamera || r->mAbsoluteShutter) {
    r->mAutoShutterAvailable = 1;
  } else if (ORXDCAMSetPropertyValue(r->mCameraHandle, 0x51C, 1, 1) == noErr) {
    r->mAutoShutterAvailable = 1;
    ORXDCAMSetPropertyValue(r->mCameraHandle, 0x51C, 1, 0);
  } else {
    r->mAutoShutterAvailable = 0;
  }

  // 4. The sliders.
  WindowRef w = r->mControlWindow;
  double value = 0.0;
  for (OSType f : kFeatures) mySpecificReadInSetUpControlPref(app, f, w, &value);

  // 5. The frame rate, the exposure label and the exposure items it allows.
  OSStatus status = noErr;
  if (w) myUncheckSelectedControlPopMenu(w, kRate);
  myReadControlKeyStatus(app, kRate, w, &value, &status);
  if (status == noErr) {
    r->mFrameRate = myRateItemFramesPerSecond(UInt32(value));
    mySetUpFrameRate_ExposMenu(r, 1);
    bool skip = false;
    if (mySetIIDCCameraFmtModeFR(r->mFrameRate, r) != noErr) {
      myChangeControlTxt(w, kExposure, 1, "err");
      skip = true;
    }
    if (!skip && r->mIsLongExposureCamera) {
      char text[32];
      snprintf(text, sizeof text, "%5.2f ms",
               myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, r->mExposureRateItem));
      myChangeControlTxt(w, kExposure, 1, text);
    } else if (!skip) {
      myAdjustFor50HzFrameRate(r);
      if (r->mIsPointGrey || r->mShutterByAbsolute) {
        if (myGetIIDCMinMaxExposureTime(r) != noErr) {
          skip = true;
        } else {
          ControlID id = {kExposure, 0};
          ControlRef slider = nullptr;
          if (w && GetControlByID(w, &id, &slider) == noErr) myLiveDCamControlProc(slider, 0);
        }
      }
    }
    ControlID id = {kExposureBase, 0};
    ControlRef popup = nullptr;
    MenuRef items = w && GetControlByID(w, &id, &popup) == noErr ? GetControlPopupMenuHandle(popup) : nullptr;
    if (!skip && items) {
      SInt32 n = CountMenuItems(items);
      const SInt32 limit = SInt32(r->mExposureItemLimit);
      if (r->mLongExposureMenu == 1) {
        if (!r->mPGRLongExposureOn) n = SInt32(myfindLongestIIDCExposuretime(r->mSizeLongestExposureMS + 1.0));
        for (SInt32 i = limit; i <= n - 1; i++) myChangePopMenuControl(w, kExposureBase, i, 1, 0);
      } else if (r->mIsLongExposureCamera) {
        myChangePopMenuControl(w, kExposureBase, n, 1, 0);
      } else {
        for (SInt32 i = limit; i <= n - 1; i++) myChangePopMenuControl(w, kExposureBase, i, 1, 0);
      }
      if (r->mIsPointGrey || r->mShutterByAbsolute) myChangePopMenuControl(w, kExposureBase, n, -1, 0);
    }
  }

  // 6. The exposure base.
  if (w) myUncheckSelectedControlPopMenu(w, kExposureBase);
  myReadControlKeyStatus(app, kExposureBase, w, &value, &status);
  if (status != noErr) {
    CFRelease(app);
    return status;
  }
  UInt32 n = UInt32(value);
  if (n < r->mFirstExposureItem) n = r->mFirstExposureItem;
  if (w) myChangePopMenuControl(w, kExposureBase, SInt32(n), 1, 1);
  if (r->mLongExposureMenu == 1 && std::atomic_ref<UInt32>(r->mLongExposure).load() == 1 &&
      n >= r->mExposureItemLimit) {
    UInt32 base = r->mFirstExposureItem;
    if (!r->mIsLongExposureCamera && r->mExposureRateItem == r->mFirstExposureItem) base++;
    mySetBaseCCDExposureTime(r, base);
  }
  OSStatus err = mySetBaseCCDExposureTime(r, n);
  if (err != noErr) {
    CFRelease(app);
    return err;
  }
  mySetExposureArrowControllerMinMaxValue(r);

  // 7. The display format.
  myReadControlKeyStatus(app, kDisplay, w, &value, &status);
  CFRelease(app);
  if (status != noErr) return status;
  if (r->mRecording || std::atomic_ref<SInt32>(r->mGrabPending).load() != 0) {
    mySetControlValue(w, kDisplay, 0, SInt32(r->mDisplayFormatItem));
    return noErr;
  }
  UInt32 v = UInt32(value);
  if (!r->mColourSensor && v != 1 && v != 3 && v != 8) v = r->mDisplayFormatItem;
  if (v == r->mDisplayFormatItem) {
    // The pop-up shows the format in force.
    mySetControlValue(w, kDisplay, 0, SInt32(v));
    return noErr;
  }
  myChangePopMenuControl(w, kDisplay, SInt32(r->mDisplayFormatItem), 0, -1);
  myChangePopMenuControl(w, kDisplay, SInt32(v), 0, 1);
  r->mDisplayFormatItem = v;
  const bool streaming = r->mRunning != 0;
  if (streaming) {
    r->mRunning = 0;
    ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
    ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
  }
  switch (v) {
    case 2:
    case 4:
      r->mDisplayFormat = myDisplayFormatFromBayerFormat(1, r->mBayerFormat);
      r->mColourDisplay = 1;
      break;
    case 1:
      r->mDisplayFormat =
          r->mColourSensor ? myDisplayFormatFromBayerFormat(0, r->mBayerFormat) : FOUR_CHAR_CODE("ARGB");
      r->mColourDisplay = 0;
      break;
    default:
      r->mDisplayFormat = FOUR_CHAR_CODE("ARGB");
      r->mColourDisplay = 0;
      break;
  }
  if (streaming) {
    r->mRunning = 1;
    ORXDCAMAssignCallback(r->mCameraHandle, gMyLiveFrameCallback, r);
    ORXDCAMResumePauseVideo(r->mCameraHandle, 1);
  }
  myRefreshControls(r);
  myRefreshControlsForMono_ColorChanges(r);
  return noErr;
}

OSStatus myGetSettingsNameUPPProc(EventHandlerCallRef, EventRef event, void* state) {
  if (GetEventClass(event) != kEventClassCommand || GetEventKind(event) != kEventCommandProcess)
    return eventNotHandledErr;
  auto* s = static_cast<MySettingsNameStruct*>(state);
  if (!s) return noErr;
  HICommand command;
  OSStatus err = CommandOf(event, &command);
  if (err != noErr) return err;
  switch (command.commandID) {
    case kHICommandCancel:
      s->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(s->mWindow);
      return noErr;
    case kHICommandOK: {
      if (s->mName) {
        CFRelease(s->mName);
        s->mName = nullptr;
      }
      ControlID id = {kName, 0};
      ControlRef field = nullptr;
      OSStatus found = GetControlByID(s->mWindow, &id, &field);
      if (found != noErr) {
        s->mResult = found;
        return noErr;
      }
      CFStringRef text = myGetControlCFString(s->mWindow, kName, 0);
      char bytes[256];
      if (!text || CFStringGetLength(text) == 0) {
        myPostAlertByKeyString("USRER", "NOCAMSETTINGNAME");
        s->mResult = -1;
      } else if (!CFStringGetCString(text, bytes, sizeof bytes, GetApplicationTextEncoding())) {
        myPostAlertByKeyString("OSXER", "Bad String");
        s->mResult = -2;
      } else {
        s->mResult = noErr;
        s->mName = text;
        QuitAppModalLoopForWindow(s->mWindow);
        return noErr;
      }
      if (text) CFRelease(text);
      return noErr;
    }
    case kName:
      return noErr;
    default:
      return eventNotHandledErr;
  }
}

OSStatus myCreateCameraSettings(MyCameraWindowDataStruct* r, WindowRef parent) {
  if (!r) return paramErr;
  auto* s = static_cast<MySettingsNameStruct*>(calloc(1, sizeof(MySettingsNameStruct)));
  if (!s) return memFullErr;
  s->mResult = userCanceledErr;
  // 1. The name.
  OSStatus err = RunDialog(parent, CFSTR("GetCamSetName"), myGetSettingsNameUPPProc, s, &s->mWindow,
                           [](WindowRef window) {
                             mySetEditTextSelectionAndFocus(window, kName, 0);
                             return true;
                           });
  if (err == noErr) err = s->mResult;
  MenuRef menu = SettingsMenu();
  if (err == noErr && s->mName && menu) {
    // 2. The lowest free slot; with all twenty in use nothing is stored.
    UInt32 slot = 0;
    while (slot < kMyCameraSettingsSlots && IsMenuItemEnabled(menu, MenuItemIndex(slot + kFirstSlotItem))) slot++;
    if (slot < kMyCameraSettingsSlots) {
      EnableMenuItem(menu, MenuItemIndex(slot + kFirstSlotItem));
      SetMenuItemTextWithCFString(menu, MenuItemIndex(slot + kFirstSlotItem), s->mName);
      // 3. The slot's domain.
      CFStringRef app = myCreateCameraSettingsDomain(slot);
      OSStatus store = app ? noErr : memFullErr;
      if (app) {
        CFPreferencesSetAppValue(CFSTR("VERS"), CFSTR("1.00.00"), app);
        CFPreferencesSetAppValue(CFSTR("MENUNAME"), s->mName, app);
        for (OSType c : {FOUR_CHAR_CODE("SAT_"), FOUR_CHAR_CODE("EXPO"), FOUR_CHAR_CODE("VorR"), FOUR_CHAR_CODE("UorB"),
                         FOUR_CHAR_CODE("GAMA"), FOUR_CHAR_CODE("GAIN"), FOUR_CHAR_CODE("BRIT"), kRate, kExposureBase,
                         kDisplay}) {
          store = mySpecificWriteOutControlPref(app, c, r->mControlWindow);
          if (store != noErr) break;
        }
      }
      if (store != noErr) {
        char message[96];
        snprintf(message, sizeof message, "Skyloom Write Camera Settings  Error %d 0x%X", int(store),
                 unsigned(store));
        myPostAlert("", message);
        err = store;
      } else if (!CFPreferencesAppSynchronize(app)) {
        myPostAlertByKeyString("OSXER", "PREFWRITEFAILERR");
      }
      if (app) CFRelease(app);
      // 4. The count, also after a failed store: the item is taken.
      r->mSavedSlotCount++;
    }
    EnableCreateDelete(menu, r->mSavedSlotCount);
  }
  // 5.
  if (s->mName) CFRelease(s->mName);
  free(s);
  return err;
}

OSStatus myDeleteSettingsUPPProc(EventHandlerCallRef, EventRef event, void* state) {
  if (GetEventClass(event) != kEventClassCommand || GetEventKind(event) != kEventCommandProcess)
    return eventNotHandledErr;
  auto* s = static_cast<MyDeleteSettingsStruct*>(state);
  if (!s) return noErr;
  HICommand command;
  OSStatus err = CommandOf(event, &command);
  if (err != noErr) return err;
  switch (command.commandID) {
    case kHICommandCancel:
      s->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(s->mWindow);
      return noErr;
    case kHICommandOK:
      s->mResult = noErr;
      QuitAppModalLoopForWindow(s->mWindow);
      return noErr;
    case kList: {
      ControlID id = {kList, 0};
      ControlRef popup = nullptr;
      err = GetControlByID(s->mWindow, &id, &popup);
      if (err != noErr) return err;
      s->mItem = GetControl32BitValue(popup);
      return noErr;
    }
    case kName:
      return noErr;
    default:
      return eventNotHandledErr;
  }
}

OSStatus myDeleteCameraSettings(WindowRef parent, SInt32* slotCount) {
  // 1.
  SetThemeCursor(kThemeArrowCursor);
  MenuRef menu = SettingsMenu();
  if (!menu || !slotCount) return paramErr;
  auto* s = static_cast<MyDeleteSettingsStruct*>(calloc(1, sizeof(MyDeleteSettingsStruct)));
  if (!s) return memFullErr;
  s->mItem = 1;
  s->mResult = noErr;
  // 2. The pop-up copies the slot items; 3. the dialog.
  OSStatus err = RunDialog(parent, CFSTR("DeleteCamSettings"), myDeleteSettingsUPPProc, s, &s->mWindow,
                           [&](WindowRef window) {
                             ControlID id = {kList, 0};
                             ControlRef popup = nullptr;
                             if (GetControlByID(window, &id, &popup) != noErr) return false;
                             MenuRef list = GetControlPopupMenuHandle(popup);
                             if (!list) return false;
                             myChangePopMenuControl(window, kList, 1, 0, -1);
                             SInt32 first = 0;
                             for (SInt32 i = 1; i <= SInt32(kMyCameraSettingsSlots); i++) {
                               CFStringRef text = nullptr;
                               if (CopyMenuItemTextAsCFString(menu, MenuItemIndex(i + 3), &text) != noErr || !text)
                                 return false;
                               SetMenuItemTextWithCFString(list, MenuItemIndex(i), text);
                               CFRelease(text);
                               if (IsMenuItemEnabled(menu, MenuItemIndex(i + 3))) {
                                 EnableMenuItem(list, MenuItemIndex(i));
                                 if (first == 0) first = i;
                               } else {
                                 DisableMenuItem(list, MenuItemIndex(i));
                               }
                             }
                             if (first != 0) {
                               myChangePopMenuControl(window, kList, first, 0, 1);
                               s->mItem = first;
                             }
                             return true;
                           });
  if (err == noErr) err = s->mResult;
  // 4. Only a slot in use is freed: the count never counts a slot twice.
  const UInt32 slot = UInt32(s->mItem - 1);
  if (err == noErr && s->mItem >= 1 && slot < kMyCameraSettingsSlots &&
      IsMenuItemEnabled(menu, MenuItemIndex(slot + kFirstSlotItem))) {
    CFStringRef app = myCreateCameraSettingsDomain(slot);
    if (app) {
      CFPreferencesSetAppValue(CFSTR("MENUNAME"), CFSTR(""), app);
      if (!CFPreferencesAppSynchronize(app)) myPostAlertByKeyString("OSXER", "PREFWRITEFAILERR");
      CFRelease(app);
    }
    SetFreeSlotItem(menu, slot);
    (*slotCount)--;
    EnableCreateDelete(menu, *slotCount);
  }
  // 5.
  free(s);
  SetThemeCursor(kThemeArrowCursor);
  return err;
}
