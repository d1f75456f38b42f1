// Navigation Services stand-in: choose-folder, choose-file and put-file
// dialogs over the window model.
//
// A dialog is an application-modal window of the model (movable-modal class)
// that NavDialogRun shows and runs until the user acts, so whoever answers the
// model's windows answers these too: the scripted user in tests, an on-screen
// backend later. Its controls:
//   'NAVm' 0  static text: the message
//   'NAVs' 0  edit text: the chosen items, absolute paths one a line (choose
//             dialogs), or the folder to save into (put-file dialog; it starts
//             at the last folder chosen for the same preference key)
//   'NAVn' 0  edit text: the file name (put-file dialog; the default name)
//   'ok  ' 0  the action button (command kHICommandOK): Choose, Open or Save
//   'not!' 0  Cancel (command kHICommandCancel)
// The action button accepts only what the real dialog would let a user pick:
// existing folders (choose-folder, one), existing files (choose-file; several
// only with kNavAllowMultipleFiles), an existing folder to save into; anything
// else beeps and the dialog stays up. The put-file dialog lets any name
// through but "/", "." and ".." (even an empty one); when that name is taken it asks "Replace" (button 1) or "Cancel"
// (button 2, the default, back to the dialog) in a standard alert, unless
// kNavDontConfirmReplacement is set. Type lists do not filter: files here
// carry no types.
// The scripted user answers with ordinary steps, for example
//   user.Type('NAVs', 0, "/data/a.fits\n/data/b.fits").ClickOK();
//   user.Type('NAVs', 0, "/data").Type('NAVn', 0, "log.txt").ClickOK().AnswerAlert(1);
// (platform/navigation/NavScript.h has these as helpers).
//
// The event procedure hears kNavCBStart when the dialog runs, kNavCBCancel
// and then kNavCBUserAction (userAction kNavUserActionCancel) on Cancel,
// kNavCBUserAction (Choose, or SaveAs for put-file) on the action button, and
// kNavCBTerminate when the run ends. Main thread only, like the window model.
#pragma once
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/appleevents/AEDataModel.h"

typedef struct OpaqueNavDialogRef* NavDialogRef;
typedef SInt32 NavEventCallbackMessage;
typedef UInt32 NavUserAction;
typedef UInt32 NavDialogOptionFlags;
typedef UInt32 WindowModality;
typedef UInt32 NavTranslationOptions;

enum : NavEventCallbackMessage {
  kNavCBEvent = 0,
  kNavCBCustomize = 1,
  kNavCBStart = 2,
  kNavCBTerminate = 3,
  kNavCBAdjustRect = 4,
  kNavCBNewLocation = 5,
  kNavCBShowDesktop = 6,
  kNavCBSelectEntry = 7,
  kNavCBPopupMenuSelect = 8,
  kNavCBAccept = 9,
  kNavCBCancel = 10,
  kNavCBAdjustPreview = 11,
  kNavCBUserAction = 12,
};

enum : NavUserAction {
  kNavUserActionNone = 0,
  kNavUserActionCancel = 1,
  kNavUserActionOpen = 2,
  kNavUserActionSaveAs = 3,
  kNavUserActionChoose = 4,
  kNavUserActionNewFolder = 5,
  kNavUserActionSaveChanges = 6,
  kNavUserActionDontSaveChanges = 7,
  kNavUserActionDiscardChanges = 8,
};

enum : NavDialogOptionFlags {
  kNavNoTypePopup = 0x00000001,
  kNavDontAutoTranslate = 0x00000002,
  kNavDontAddTranslateItems = 0x00000004,
  kNavAllFilesInPopup = 0x00000010,
  kNavAllowStationery = 0x00000020,
  kNavAllowPreviews = 0x00000040,
  kNavAllowMultipleFiles = 0x00000080,
  kNavAllowInvisibleFiles = 0x00000100,
  kNavDontResolveAliases = 0x00000200,
  kNavSelectDefaultLocation = 0x00000400,
  kNavSelectAllReadableItem = 0x00000800,
  kNavSupportPackages = 0x00001000,
  kNavAllowOpenPackages = 0x00002000,
  kNavDontAddRecents = 0x00004000,
  kNavDontUseCustomFrame = 0x00008000,
  kNavDontConfirmReplacement = 0x00010000,
  kNavPreserveSaveFileExtension = 0x00020000,
  kNavDefaultNavDlogOptions = 0x000000E4,
};

enum : WindowModality {
  kWindowModalityNone = 0,
  kWindowModalitySystemModal = 1,
  kWindowModalityAppModal = 2,
  kWindowModalityWindowModal = 3,
};

enum : NavTranslationOptions { kNavTranslateInPlace = 0, kNavTranslateCopy = 1 };

enum : OSStatus {
  kNavWrongDialogStateErr = -5694,
  kNavWrongDialogClassErr = -5695,
};

enum : UInt16 { kNavDialogCreationOptionsVersion = 0, kNavReplyRecordVersion = 2, kNavCBRecVersion = 1 };

struct NavDialogCreationOptions {
  UInt16 version;
  NavDialogOptionFlags optionFlags;
  Point location;
  CFStringRef clientName;
  CFStringRef windowTitle;
  CFStringRef actionButtonLabel;
  CFStringRef cancelButtonLabel;
  CFStringRef saveFileName;
  CFStringRef message;
  UInt32 preferenceKey;
  CFArrayRef popupExtension;
  WindowModality modality;
  WindowRef parentWindow;
  char reserved[16];
};

// A type list: the application signature, then osTypeCount types.
struct NavTypeList {
  OSType componentSignature;
  SInt16 reserved;
  SInt16 osTypeCount;
  OSType osType[1];
};
typedef NavTypeList* NavTypeListPtr;
typedef NavTypeListPtr* NavTypeListHandle;

struct NavEventData {
  void* param;
  SInt16 itemHit;
};

struct NavCBRec {
  UInt16 version;
  NavDialogRef context;
  WindowRef window;
  Rect customRect;
  Rect previewRect;
  NavEventData eventData;
  NavUserAction userAction;
  char reserved[218];
};
typedef NavCBRec* NavCBRecPtr;

typedef void (*NavEventProcPtr)(NavEventCallbackMessage callBackSelector, NavCBRecPtr callBackParms, void* callBackUD);
typedef NavEventProcPtr NavEventUPP;
typedef Boolean (*NavPreviewProcPtr)(NavCBRecPtr callBackParms, void* callBackUD);
typedef NavPreviewProcPtr NavPreviewUPP;
typedef Boolean (*NavObjectFilterProcPtr)(AEDesc* theItem, void* info, void* callBackUD, SInt16 filterMode);
typedef NavObjectFilterProcPtr NavObjectFilterUPP;
inline NavEventUPP NewNavEventUPP(NavEventProcPtr p) { return p; }
inline void DisposeNavEventUPP(NavEventUPP) {}

struct NavReplyRecord {
  UInt16 version;
  Boolean validRecord;
  Boolean replacing;  // the user confirmed replacing the file of that name
  Boolean isStationery;
  Boolean translationNeeded;
  AEDescList selection;  // chosen items; for put-file the folder to save into
  ScriptCode keyScript;
  Handle fileTranslation;  // always null: no translation here
  UInt32 reserved1;
  CFStringRef saveFileName;  // put-file: the name typed (the reply owns it)
  Boolean saveFileExtensionHidden;
  UInt8 reserved2;
  char reserved[225];
};

// Version 0, kNavDefaultNavDlogOptions, application-modal, no strings, no parent.
OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* outOptions);
// The preview and filter procedures are accepted and not called.
OSStatus NavCreateChooseFolderDialog(const NavDialogCreationOptions* inOptions, NavEventUPP inEventProc,
                                     NavObjectFilterUPP inFilterProc, void* inClientData, NavDialogRef* outDialog);
OSStatus NavCreateChooseFileDialog(const NavDialogCreationOptions* inOptions, NavTypeListHandle inTypeList,
                                   NavEventUPP inEventProc, NavPreviewUPP inPreviewProc,
                                   NavObjectFilterUPP inFilterProc, void* inClientData, NavDialogRef* outDialog);
OSStatus NavCreatePutFileDialog(const NavDialogCreationOptions* inOptions, OSType inFileType, OSType inFileCreator,
                                NavEventUPP inEventProc, void* inClientData, NavDialogRef* outDialog);
// Shows the dialog and waits for the user; kNavWrongDialogStateErr when it is
// already running.
OSStatus NavDialogRun(NavDialogRef inDialog);
NavUserAction NavDialogGetUserAction(NavDialogRef inDialog);
// The answer of the last run (validRecord false unless the user accepted).
// Dispose of it with NavDisposeReply.
OSStatus NavDialogGetReply(NavDialogRef inDialog, NavReplyRecord* outReply);
OSStatus NavDisposeReply(NavReplyRecord* inReply);
// Nothing to translate here: checks the reply and returns.
OSStatus NavCompleteSave(NavReplyRecord* inReply, NavTranslationOptions inHowToTranslate);
WindowRef NavDialogGetWindow(NavDialogRef inDialog);
void NavDialogDispose(NavDialogRef inDialog);

// Control signatures of the dialogs' window.
enum : OSType {
  kSkyloomNavMessageSignature = FOUR_CHAR_CODE("NAVm"),
  kSkyloomNavSelectionSignature = FOUR_CHAR_CODE("NAVs"),
  kSkyloomNavNameSignature = FOUR_CHAR_CODE("NAVn"),
  // Put-file dialogs with a popupExtension (an array of item names): the pop-up.
  kSkyloomNavPopupExtensionSignature = FOUR_CHAR_CODE("NAVf"),
};
// After a put-file dialog with a popupExtension was accepted: the 1-based item
// of the pop-up the user left chosen; 0 without a pop-up or an accepted run.
UInt16 SkyloomNavPopupExtensionItem(NavDialogRef inDialog);
// Dialogs created and not yet disposed (tests check that callers dispose).
long SkyloomNavLiveDialogCount();
// Forgets the folders remembered per preference key.
void SkyloomNavForgetLocations();
// The next NavDialogRun fails with err at once, without showing its dialog
// (the callback hears nothing); noErr clears a failure not yet used.
void SkyloomNavFailNextRun(OSStatus err);
