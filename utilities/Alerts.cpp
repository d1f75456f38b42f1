#include "utilities/Alerts.h"

#include <cstdlib>
#include <cstring>

#include "utilities/Controls.h"
#include "utilities/EditText.h"

namespace {

constexpr OSType kNameSignature = FOUR_CHAR_CODE("NAME");
constexpr OSType kUnitSignature = FOUR_CHAR_CODE("UNIT");
constexpr OSType kValueSignature = FOUR_CHAR_CODE("VALU");

void showStopAlert(CFStringRef title, CFStringRef message) {
  DialogRef alert = nullptr;
  if (CreateStandardAlert(kAlertStopAlert, title, message, nullptr, &alert) == noErr) {
    DialogItemIndex hit = 0;
    RunStandardAlert(alert, nullptr, &hit);
  }
}

OSStatus myOkayCancelEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* rec = static_cast<MyUserDialogStruct*>(userData);
  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
      noErr)
    return eventNotHandledErr;
  if (command.commandID == kHICommandOK) {
    rec->mResult = noErr;
  } else if (command.commandID == kHICommandCancel) {
    rec->mResult = userCanceledErr;
  } else {
    return eventNotHandledErr;
  }
  QuitAppModalLoopForWindow(rec->mWindow);
  return noErr;
}

OSStatus myGetAUserValueEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* rec = static_cast<MyUserDialogStruct*>(userData);
  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
      noErr)
    return eventNotHandledErr;
  if (command.commandID == kHICommandOK) {
    if (myTestFloatEditTxt(rec->mWindow, kValueSignature, 0, rec->mDecimals, rec->mCheckRange, rec->mMin, rec->mMax,
                           &rec->mValue) != noErr) {
      // The field already shows the nearest allowed value; the user looks again.
      myPostAlertByKeyString("USRER", "OUTOFRANGEERR");
      return noErr;
    }
    rec->mResult = noErr;
  } else if (command.commandID == kHICommandCancel) {
    rec->mResult = userCanceledErr;
  } else {
    return eventNotHandledErr;
  }
  QuitAppModalLoopForWindow(rec->mWindow);
  return noErr;
}

// What the two questions share: the window from the nib with the command
// handler, the modal run and the clean-up. Before the handler sees anything
// the record learns its window, the question beeps when asked to, and fill
// sets the window's texts.
template <typename Fill>
OSStatus runQuestion(WindowRef parent, CFStringRef sheetName, CFStringRef windowName, bool beep,
                     EventHandlerProcPtr handler, MyUserDialogStruct* rec, Fill fill) {
  SetThemeCursor(kThemeArrowCursor);
  return myRunNibWindowModally(parent, sheetName, windowName, handler, rec, nullptr, [&](WindowRef window) {
    rec->mWindow = window;
    if (beep) SysBeep(1);
    SetWRefCon(window, 0);
    fill(window);
  });
}

}  // namespace

OSStatus myRunNibWindowModally(WindowRef parent, CFStringRef sheetName, CFStringRef windowName,
                               EventHandlerProcPtr handler, void* userData, WindowRef* windowOut,
                               const std::function<void(WindowRef)>& fill) {
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) return err;
  WindowRef window = nullptr;
  err = CreateWindowFromNib(nib, parent ? sheetName : windowName, &window);
  DisposeNibReference(nib);
  if (err != noErr) return err;
  if (!window) return paramErr;
  if (windowOut) *windowOut = window;
  EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(handler);
  EventHandlerRef handlerRef = nullptr;
  err = InstallWindowEventHandler(window, upp, 1, &commandEvent, userData, &handlerRef);
  if (err == noErr) {
    if (fill) fill(window);
    if (parent) {
      err = ShowSheetWindow(window, parent);
    } else {
      ShowWindow(window);
    }
    if (err == noErr) {
      RunAppModalLoopForWindow(window);
      if (parent)
        HideSheetWindow(window);
      else
        HideWindow(window);
    }
    RemoveEventHandler(handlerRef);
  }
  DisposeEventHandlerUPP(upp);
  DisposeWindow(window);
  return err;
}

CFStringRef myGetLocalizedCFString(const char* key) {
  if (!key) return nullptr;
  CFStringRef k = CFStringCreateWithCString(kCFAllocatorDefault, key, GetApplicationTextEncoding());
  if (!k) return nullptr;
  CFStringRef s = CFBundleCopyLocalizedString(CFBundleGetMainBundle(), k, k, nullptr);
  CFRelease(k);
  return s;
}

void myPostAlert(const char* titleKey, const char* message) {
  CFStringRef title = nullptr;
  CFStringRef text = nullptr;
  if (!titleKey || titleKey[0] == '\0') {
    title = CFStringCreateWithCString(kCFAllocatorDefault, "OSX Err", GetApplicationTextEncoding());
    text = message ? CFStringCreateWithCString(kCFAllocatorDefault, message, GetApplicationTextEncoding()) : nullptr;
  } else {
    title = myGetLocalizedCFString(titleKey);
    text = myGetLocalizedCFString(message);
  }
  if (title && text) {
    SysBeep(1);
    showStopAlert(title, text);
  }
  if (title) CFRelease(title);
  if (text) CFRelease(text);
}

void myPostAlertByKeyString(const char* titleKey, const char* messageKey) {
  CFStringRef title = myGetLocalizedCFString(titleKey);
  CFStringRef text = myGetLocalizedCFString(messageKey);
  if (title && text) showStopAlert(title, text);
  if (title) CFRelease(title);
  if (text) CFRelease(text);
}

void mySetCWindowTitleByKeyString(WindowRef window, const char* key) {
  if (!window) return;
  CFStringRef s = myGetLocalizedCFString(key);
  if (!s) return;
  SetWindowTitleWithCFString(window, s);
  CFRelease(s);
}

OSStatus mySetControlTitleByKeyString(WindowRef window, OSType signature, SInt32 id, const char* key) {
  ControlID cid = {signature, id};
  ControlRef control = nullptr;
  OSStatus err = GetControlByID(window, &cid, &control);
  if (err != noErr) return err;
  CFStringRef s = myGetLocalizedCFString(key);
  if (!s) return memFullErr;
  err = SetControlTitleWithCFString(control, s);
  CFRelease(s);
  Draw1Control(control);
  return err;
}

OSStatus myChangeControlTxtKeyString(WindowRef window, OSType signature, SInt32 id, const char* key) {
  ControlID cid = {signature, id};
  ControlRef control = nullptr;
  OSStatus err = GetControlByID(window, &cid, &control);
  if (err != noErr) return err;
  CFStringRef s = myGetLocalizedCFString(key);
  if (!s) return memFullErr;
  err = SetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof s, &s);
  CFRelease(s);
  Draw1Control(control);
  return err;
}

OSStatus myGetUserOkayCancel(WindowRef parent, const char* title, const char* message) {
  auto* rec = static_cast<MyUserDialogStruct*>(calloc(1, sizeof(MyUserDialogStruct)));
  if (!rec) return memFullErr;
  // A question closed any other way than by its buttons counts as cancelled.
  rec->mResult = userCanceledErr;
  OSStatus err = runQuestion(parent, CFSTR("WarningSheet"), CFSTR("Warning"), true, myOkayCancelEventHandler, rec,
                             [&](WindowRef window) {
                               mySetCWindowTitle(window, title ? title : "");
                               myChangeControlTxt(window, kNameSignature, 0, message ? message : "");
                             });
  OSStatus result = err != noErr ? err : rec->mResult;
  free(rec);
  SetThemeCursor(kThemeArrowCursor);
  return result;
}

OSStatus myGetAUserValue(WindowRef parent, const char* title, const char* prompt, const char* units, float* value,
                         float min, float max, UInt8 decimals, UInt8 checkRange) {
  if (!value) return paramErr;
  auto* rec = static_cast<MyUserDialogStruct*>(calloc(1, sizeof(MyUserDialogStruct)));
  if (!rec) return memFullErr;
  rec->mValue = *value;
  rec->mMin = min;
  rec->mMax = max;
  rec->mDecimals = decimals;
  rec->mCheckRange = checkRange;
  rec->mResult = userCanceledErr;
  OSStatus err = runQuestion(parent, CFSTR("GetAUserValueSheet"), CFSTR("GetAUserValue"), false,
                             myGetAUserValueEventHandler, rec, [&](WindowRef window) {
                               // A sheet has no title bar.
                               if (!parent) mySetCWindowTitle(window, title ? title : "");
                               myChangeControlTxt(window, kNameSignature, 0, prompt ? prompt : "");
                               myChangeControlTxt(window, kUnitSignature, 0, units ? units : "");
                               char text[64];
                               myFormatEditTextValue(*value, decimals, text, sizeof text);
                               myChangeControlTxt(window, kValueSignature, 0, text);
                               mySetEditTextSelectionAndFocus(window, kValueSignature, 0);
                             });
  OSStatus result = err != noErr ? err : rec->mResult;
  if (result == noErr) *value = rec->mValue;
  free(rec);
  SetThemeCursor(kThemeArrowCursor);
  return result;
}

OSStatus mySendBrowserToURL(const char* address) {
  if (!address || address[0] == '\0') return -1;
  Handle h = nullptr;
  OSErr err = PtrToHand(address, &h, long(strlen(address) + 1));
  if (err != noErr) return err;
  OSStatus status = SkyloomOpenURL(*h);
  DisposeHandle(h);
  return status;
}
