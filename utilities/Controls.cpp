#include "utilities/Controls.h"

namespace {

// The text as a CFString in the application encoding; null when it cannot be made.
CFStringRef makeText(const char* text) {
  if (!text) return nullptr;
  return CFStringCreateWithCString(kCFAllocatorDefault, text, GetApplicationTextEncoding());
}

OSStatus findControl(WindowRef window, OSType signature, SInt32 id, ControlRef* control) {
  ControlID cid = {signature, id};
  return GetControlByID(window, &cid, control);
}

}  // namespace

CFMutableStringRef myCreatCFstrcat(CFStringRef a, CFStringRef b) {
  if (!a || !b) return nullptr;
  CFMutableStringRef s = CFStringCreateMutableCopy(kCFAllocatorDefault, 0, a);
  if (s) CFStringAppend(s, b);
  return s;
}

OSStatus myAppendMenuCString(MenuRef menu, const char* text) {
  CFStringRef s = makeText(text);
  if (!s) return memFullErr;
  OSStatus err = AppendMenuItemTextWithCFString(menu, s, 0, 0, nullptr);
  CFRelease(s);
  return err;
}

OSStatus mySetMenuItemCString(MenuRef menu, SInt32 item, const char* text) {
  CFStringRef s = makeText(text);
  if (!s) return memFullErr;
  OSStatus err = (item < 1 || item > 65535) ? OSStatus(menuItemNotFoundErr)
                                            : SetMenuItemTextWithCFString(menu, MenuItemIndex(item), s);
  CFRelease(s);
  return err;
}

OSStatus mySetPopMenuControlString(WindowRef window, OSType signature, SInt32 item, const char* text) {
  ControlRef control = nullptr;
  if (findControl(window, signature, 0, &control) != noErr) return memFullErr;
  MenuRef menu = GetControlPopupMenuHandle(control);
  if (!menu) return memFullErr;
  if (item > SInt32(CountMenuItems(menu))) return -1;
  OSStatus err = mySetMenuItemCString(menu, item, text);
  if (err == noErr) Draw1Control(control);
  return err;
}

OSStatus myCheckUncheckControl(WindowRef window, OSType signature, SInt32 id, SInt32 enable, SInt32 on) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  if (enable == 1)
    EnableControl(control);
  else
    DisableControl(control);
  SetControl32BitValue(control, on == 1 ? 1 : 0);
  Draw1Control(control);
  return noErr;
}

OSStatus myUncheckAllPopMenuControl(WindowRef window, OSType signature) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, 0, &control);
  if (err != noErr) return err;
  MenuRef menu = GetControlPopupMenuHandle(control);
  if (!menu) return memFullErr;
  // Every item, the last one too: a mark left on it would show a choice
  // that is no longer made.
  UInt16 count = CountMenuItems(menu);
  for (UInt16 item = 1; item <= count; ++item) CheckMenuItem(menu, item, false);
  Draw1Control(control);
  return noErr;
}

OSStatus myUncheckSelectedControlPopMenu(WindowRef window, OSType signature) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, 0, &control);
  if (err != noErr) return err;
  MenuRef menu = GetControlPopupMenuHandle(control);
  if (!menu) return memFullErr;
  SInt32 item = GetControl32BitValue(control);
  if (item >= 1 && item <= 65535) CheckMenuItem(menu, MenuItemIndex(item), false);
  Draw1Control(control);
  return noErr;
}

OSStatus myChangePopMenuControl(WindowRef window, OSType signature, SInt32 item, SInt32 enable, SInt32 check) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, 0, &control);
  if (err != noErr) return err;
  MenuRef menu = GetControlPopupMenuHandle(control);
  if (!menu) return memFullErr;
  MenuItemIndex index = (item >= 1 && item <= 65535) ? MenuItemIndex(item) : 0;
  if (index) {
    if (enable == -1) DisableMenuItem(menu, index);
    if (enable == 1) EnableMenuItem(menu, index);
    if (check == -1) CheckMenuItem(menu, index, false);
    if (check == 1) {
      CheckMenuItem(menu, index, true);
      SetControl32BitValue(control, item);
    }
  }
  Draw1Control(control);
  return noErr;
}

OSStatus myDeleteAPopMenuItem(WindowRef window, OSType signature, SInt32 item) {
  ControlRef control = nullptr;
  if (findControl(window, signature, 0, &control) != noErr) return noErr;
  MenuRef menu = GetControlPopupMenuHandle(control);
  if (!menu) return noErr;
  if (item > SInt32(CountMenuItems(menu))) return paramErr;
  if (item >= 1) DeleteMenuItem(menu, MenuItemIndex(item));
  Draw1Control(control);
  return noErr;
}

OSStatus mySetCWindowTitle(WindowRef window, const char* title) {
  CFStringRef s = makeText(title);
  if (!s) return memFullErr;
  OSStatus err = SetWindowTitleWithCFString(window, s);
  CFRelease(s);
  return err;
}

OSStatus myGetControlTextCString(WindowRef window, OSType signature, SInt32 id, char out[255]) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  CFStringRef text = nullptr;
  err = GetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof text, &text, nullptr);
  if (err != noErr) return err;
  Boolean fits = CFStringGetCString(text, out, 255, GetApplicationTextEncoding());
  CFRelease(text);
  return fits ? OSStatus(noErr) : OSStatus(-1);
}

OSStatus myChangeControlTxt(WindowRef window, OSType signature, SInt32 id, const char* text) {
  if (!window) return errInvalidWindowRef;
  CFStringRef s = makeText(text);
  if (!s) return memFullErr;
  OSStatus err = mySetControlCFString(window, signature, id, s);
  CFRelease(s);
  return err;
}

OSStatus mySetControlCFString(WindowRef window, OSType signature, SInt32 id, CFStringRef text) {
  if (!window) return errInvalidWindowRef;
  if (!text) return paramErr;
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  err = SetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof text, &text);
  if (err == noErr) Draw1Control(control);
  return err;
}

CFStringRef myGetControlCFString(WindowRef window, OSType signature, SInt32 id) {
  if (!window) return nullptr;
  ControlRef control = nullptr;
  if (findControl(window, signature, id, &control) != noErr) return nullptr;
  CFStringRef text = nullptr;
  if (GetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof text, &text, nullptr) != noErr)
    return nullptr;
  return text;
}

OSStatus mySetEditTextSelectionAndFocus(WindowRef window, OSType signature, SInt32 id) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  SetKeyboardFocus(window, control, kControlFocusNextPart);
  ControlEditTextSelectionRec all = {0, 32767};
  SetControlData(control, kControlEntireControl, kControlEditTextSelectionTag, sizeof all, &all);
  Draw1Control(control);
  return noErr;
}

OSStatus myEnableDisableControl(WindowRef window, OSType signature, SInt32 id, SInt32 enable) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  if (enable == 1)
    EnableControl(control);
  else
    DisableControl(control);
  Draw1Control(control);
  return noErr;
}

OSStatus mySetControlValue(WindowRef window, OSType signature, SInt32 id, SInt32 value) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  SetControl32BitValue(control, value);
  Draw1Control(control);
  return noErr;
}

SInt32 myGetControlValue(WindowRef window, OSType signature, SInt32 id) {
  ControlRef control = nullptr;
  if (findControl(window, signature, id, &control) != noErr) return 0;
  return GetControl32BitValue(control);
}

void mySetUpControlSlider(ControlRef control, SInt32 minimum, SInt32 maximum, SInt32 value, SRefCon reference,
                          ControlActionUPP action) {
  SetControl32BitMinimum(control, minimum);
  SetControl32BitMaximum(control, maximum);
  SetControl32BitValue(control, value);
  SetControlReference(control, reference);
  SetControlAction(control, action);
}

OSStatus mySetUpKeyFilterEditTextField(WindowRef window, OSType signature, SInt32 id, const char* text,
                                       ControlKeyFilterUPP filter, SRefCon reference) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  CFStringRef s = makeText(text);
  if (!s) return memFullErr;
  err = SetControlData(control, kControlEntireControl, kControlEditTextCFStringTag, sizeof s, &s);
  CFRelease(s);
  if (err != noErr) return err;
  SetControlData(control, kControlEntireControl, kControlEditTextKeyFilterTag, sizeof filter, &filter);
  SetControlReference(control, reference);
  Draw1Control(control);
  return noErr;
}

OSStatus mySetUpLiveArrowControl(WindowRef window, OSType signature, SInt32 id, SInt32 value, ControlActionUPP action,
                                 SRefCon reference) {
  ControlRef control = nullptr;
  OSStatus err = findControl(window, signature, id, &control);
  if (err != noErr) return err;
  SetControl32BitValue(control, value);
  SetControlReference(control, reference);
  SetControlAction(control, action);
  return noErr;
}

OSStatus myAddControlFeatures(EventRef event, UInt32 features) {
  UInt32 have = 0;
  if (GetEventParameter(event, kEventParamControlFeatures, typeUInt32, nullptr, sizeof have, nullptr, &have) != noErr)
    have = 0;
  have |= features;
  return SetEventParameter(event, kEventParamControlFeatures, typeUInt32, sizeof have, &have);
}
