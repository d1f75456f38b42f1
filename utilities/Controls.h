// Controls and menus by id: every control of every window is reached by
// (window, four-character signature, 32-bit id); pop-up menu controls by their
// signature with id 0. Each routine looks the control up, does one thing and
// redraws it. Text passes through the 'cfst' control data as a CFString; C
// strings are in the application text encoding, and at most 255 bytes
// (terminator included) come out.
//
// Routines that look a control up return the lookup's status (0 on success)
// unless they give something else, as documented.
#pragma once
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/hitoolbox/HIToolbox.h"

// a + b as a new mutable string (caller releases); null when it cannot be made.
CFMutableStringRef myCreatCFstrcat(CFStringRef a, CFStringRef b);
// -108 when the text cannot be converted, else the menu call's status.
// A view subclass's control-initialize: adds the feature bits to those the
// event carries (none when it carries no parameter yet) and puts them back.
OSStatus myAddControlFeatures(EventRef event, UInt32 features);
OSStatus myAppendMenuCString(MenuRef menu, const char* text);
OSStatus mySetMenuItemCString(MenuRef menu, SInt32 item, const char* text);
// -108 when the pop-up or its menu is missing or the text cannot be
// converted; -1 when item is past the last item.
OSStatus mySetPopMenuControlString(WindowRef window, OSType signature, SInt32 item, const char* text);
// Enables the control when enable is 1 (else disables it); value 1 when on is 1, else 0.
OSStatus myCheckUncheckControl(WindowRef window, OSType signature, SInt32 id, SInt32 enable, SInt32 on);
// Clears the check marks of every item of the pop-up (id 0).
OSStatus myUncheckAllPopMenuControl(WindowRef window, OSType signature);
// Clears the mark of the item that is the pop-up's current value.
OSStatus myUncheckSelectedControlPopMenu(WindowRef window, OSType signature);
// enable: 1 enables the item, -1 disables it; check: 1 marks the item and
// makes it the pop-up's value, -1 clears its mark; other values leave that
// aspect alone. The pop-up is redrawn in every case. -108 without a menu.
OSStatus myChangePopMenuControl(WindowRef window, OSType signature, SInt32 item, SInt32 enable, SInt32 check);
// 0, also when the pop-up or its menu is missing; -50 when item is past the last.
OSStatus myDeleteAPopMenuItem(WindowRef window, OSType signature, SInt32 item);
OSStatus mySetCWindowTitle(WindowRef window, const char* title);
// Copies the control's text into out (255 bytes); -1 when it does not fit or
// cannot be converted (out is then empty).
OSStatus myGetControlTextCString(WindowRef window, OSType signature, SInt32 id, char out[255]);
// Nothing happens with a null window or text that cannot be converted
// (errInvalidWindowRef, -108).
OSStatus myChangeControlTxt(WindowRef window, OSType signature, SInt32 id, const char* text);
OSStatus mySetControlCFString(WindowRef window, OSType signature, SInt32 id, CFStringRef text);
// The control's text (caller releases); null when the window or control is missing.
CFStringRef myGetControlCFString(WindowRef window, OSType signature, SInt32 id);
// Keyboard focus to the field, all of its text selected.
OSStatus mySetEditTextSelectionAndFocus(WindowRef window, OSType signature, SInt32 id);
OSStatus myEnableDisableControl(WindowRef window, OSType signature, SInt32 id, SInt32 enable);
OSStatus mySetControlValue(WindowRef window, OSType signature, SInt32 id, SInt32 value);
// The control's value; 0 when it is missing.
SInt32 myGetControlValue(WindowRef window, OSType signature, SInt32 id);
// Minimum, maximum, value, reference and live action procedure, in that order.
void mySetUpControlSlider(ControlRef control, SInt32 minimum, SInt32 maximum, SInt32 value, SRefCon reference,
                          ControlActionUPP action);
// The text, then the key filter and the reference; a failing text change
// returns its status and sets neither. -108 when the text cannot be converted.
OSStatus mySetUpKeyFilterEditTextField(WindowRef window, OSType signature, SInt32 id, const char* text,
                                       ControlKeyFilterUPP filter, SRefCon reference);
OSStatus mySetUpLiveArrowControl(WindowRef window, OSType signature, SInt32 id, SInt32 value, ControlActionUPP action,
                                 SRefCon reference);
