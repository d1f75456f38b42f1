// User messages and small modal questions: texts by key from the localized
// strings table (the key itself when the table lacks it), stop alerts, titles
// by key, the okay/cancel question and the value question (each a sheet on a
// parent window when one is given, else an application-modal window), and
// opening a web address in the user's browser.
#pragma once
#include <functional>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/hitoolbox/HIToolbox.h"

// The localized text of key (caller releases); null when the key cannot be made.
CFStringRef myGetLocalizedCFString(const char* key);
// Beeps, then a stop alert. With an empty title key the title is "OSX Err" and
// the message is shown as given; otherwise both are keys.
void myPostAlert(const char* titleKey, const char* message);
// A stop alert whose title and message are both keys; no beep.
void myPostAlertByKeyString(const char* titleKey, const char* messageKey);
void mySetCWindowTitleByKeyString(WindowRef window, const char* key);
OSStatus mySetControlTitleByKeyString(WindowRef window, OSType signature, SInt32 id, const char* key);
OSStatus myChangeControlTxtKeyString(WindowRef window, OSType signature, SInt32 id, const char* key);

// The record of one open question, from its opening to its closing.
struct MyUserDialogStruct {
  WindowRef mWindow;
  float mValue;
  float mMin;
  float mMax;
  UInt8 mDecimals;
  UInt8 mCheckRange;
  SInt32 mResult;
};

// 0 OK, -128 Cancel, -108 no memory, or the status of the call that failed.
// Beeps once as it opens.
OSStatus myGetUserOkayCancel(WindowRef parent, const char* title, const char* message);
// 0 with the accepted value stored through value; -128 Cancel (value
// unchanged); -108 no memory; or the status of the call that failed. OK runs
// the float tester on the field; a refusal shows the alert USRER /
// OUTOFRANGEERR and keeps the question open.
OSStatus myGetAUserValue(WindowRef parent, const char* title, const char* prompt, const char* units, float* value,
                         float min, float max, UInt8 decimals, UInt8 checkRange);
// Runs the window of the "ORX_DCAM" nib modally, as the sheet sheetName on
// parent, else as the window windowName, with handler taking its command
// events (userData handed to it). fill runs once the handler is in place,
// before the window shows; *windowOut (may be null) gets the window. The
// window is disposed before returning. 0 after the modal run, else the status
// of the step that failed (nothing shown).
OSStatus myRunNibWindowModally(WindowRef parent, CFStringRef sheetName, CFStringRef windowName,
                               EventHandlerProcPtr handler, void* userData, WindowRef* windowOut,
                               const std::function<void(WindowRef)>& fill);
// 0 when the address went to the browser, -1 for an empty address, else the
// opener's status.
OSStatus mySendBrowserToURL(const char* address);
