// HIToolbox stand-in: windows built by name from the nib description, controls
// reached by (signature, id), menus, Carbon events and event-loop timers on the
// main run loop, sheets, application-modal loops, standard alerts and the
// theme cursor.
//
// Threading: like the system it stands in for, every call here belongs to the
// main thread (the thread of CFRunLoopGetMain). Other threads hand work to the
// main thread through run-loop sources, timers or counters.
//
// The model is headless: what a user would see is kept in plain records that
// tests inspect (platform/hitoolbox/UIModel.h), and what a user would do comes
// from the installed user agent (the scripted user in tests,
// platform/hitoolbox/ScriptedUser.h). An on-screen backend attaches to the same
// model, so application code only ever calls the functions below.
//
// A window of the application: describe it in a file of the nib folder
// resources/ORX_DCAM.nib (format in NibDescription.h), then
//   IBNibRef nib;  CreateNibReference(CFSTR("ORX_DCAM"), &nib);
//   CreateWindowFromNib(nib, CFSTR("StackAlign"), &window);  DisposeNibReference(nib);
//   InstallWindowEventHandler(window, NewEventHandlerUPP(myHandler), n, events, record, &ref);
//   ShowWindow(window);  RunAppModalLoopForWindow(window);  // or leave it to the application loop
// and reach its controls with GetControlByID (utilities/Controls.h wraps the
// usual steps). Tests drive it with skyloom::ui::ScriptedUser and inspect it
// through UIModel.h; tests/support/UiFixture.h gives them a private resources
// folder and a clean model.
#pragma once
#include "platform/appleevents/AEDataModel.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/MacTypes.h"

// ---- Opaque references ----
typedef struct OpaqueWindowPtr* WindowRef;
typedef WindowRef WindowPtr;
typedef struct OpaqueControlRef* ControlRef;
typedef ControlRef ControlHandle;
typedef ControlRef HIViewRef;
typedef struct OpaqueMenuRef* MenuRef;
typedef MenuRef MenuHandle;
typedef struct OpaqueIBNibRef* IBNibRef;
typedef struct OpaqueEventRef* EventRef;
typedef struct OpaqueEventTargetRef* EventTargetRef;
typedef struct OpaqueEventHandlerRef* EventHandlerRef;
typedef struct OpaqueEventHandlerCallRef* EventHandlerCallRef;
typedef struct OpaqueEventLoopRef* EventLoopRef;
typedef struct OpaqueEventLoopTimerRef* EventLoopTimerRef;
typedef struct OpaqueDialogPtr* DialogRef;

// ---- Scalars ----
typedef long SRefCon;
typedef SInt16 MenuID;
typedef UInt16 MenuItemIndex;
typedef UInt32 MenuCommand;
typedef UInt32 MenuAttributes;
typedef UInt32 MenuItemAttributes;
typedef SInt16 CharParameter;
typedef SInt16 ControlPartCode;
typedef SInt16 ControlFocusPart;
typedef SInt16 ControlKeyFilterResult;
typedef UInt32 WindowClass;
typedef UInt32 WindowAttributes;
typedef UInt16 WindowRegionCode;
typedef SInt16 DialogItemIndex;
typedef SInt16 AlertType;
typedef UInt32 ThemeCursor;
typedef UInt32 EventClass;
typedef UInt32 EventKind;
typedef OSType EventParamName;
typedef OSType EventParamType;
typedef UInt32 EventAttributes;
typedef UInt16 EventModifiers;
typedef double EventTime;
typedef EventTime EventTimeout;
typedef EventTime EventTimerInterval;
typedef UInt32 TextEncoding;
typedef UInt32 PropertyCreator;
typedef UInt32 PropertyTag;

struct ControlID {
  OSType signature;
  SInt32 id;
};
struct ControlKind {
  OSType signature;  // 'appl' for the system's own kinds
  OSType kind;
};
struct EventTypeSpec {
  EventClass eventClass;
  EventKind eventKind;
};
struct HICommand {
  UInt32 attributes;
  UInt32 commandID;
  struct {
    MenuRef menuRef;
    MenuItemIndex menuItemIndex;
  } menu;
};
// The same record with the source it came from; a control or window source
// sits where the menu's reference sits in HICommand.
struct HICommandExtended {
  UInt32 attributes;
  UInt32 commandID;
  union {
    ControlRef control;
    WindowRef window;
    struct {
      MenuRef menuRef;
      MenuItemIndex menuItemIndex;
    } menu;
  } source;
};
struct ControlEditTextSelectionRec {
  SInt16 selStart;
  SInt16 selEnd;
};

// ---- Callbacks (a UPP is the procedure itself) ----
typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent, void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;
typedef void (*EventLoopTimerProcPtr)(EventLoopTimerRef inTimer, void* inUserData);
typedef EventLoopTimerProcPtr EventLoopTimerUPP;
typedef void (*ControlActionProcPtr)(ControlRef theControl, ControlPartCode partCode);
typedef ControlActionProcPtr ControlActionUPP;
typedef ControlKeyFilterResult (*ControlKeyFilterProcPtr)(ControlRef theControl, SInt16* keyCode, SInt16* charCode,
                                                          EventModifiers* modifiers);
typedef ControlKeyFilterProcPtr ControlKeyFilterUPP;
typedef void (*ControlUserPaneDrawProcPtr)(ControlRef control, ControlPartCode part);
typedef ControlUserPaneDrawProcPtr ControlUserPaneDrawUPP;
typedef Boolean (*ModalFilterProcPtr)(DialogRef theDialog, EventRef theEvent, DialogItemIndex* itemHit);
typedef ModalFilterProcPtr ModalFilterUPP;

inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr p) { return p; }
// Disposing is recorded by the model (UIModel.h, DisposedEventHandlerUPPs).
void DisposeEventHandlerUPP(EventHandlerUPP inUserUPP);
inline EventLoopTimerUPP NewEventLoopTimerUPP(EventLoopTimerProcPtr p) { return p; }
inline void DisposeEventLoopTimerUPP(EventLoopTimerUPP) {}
inline ControlActionUPP NewControlActionUPP(ControlActionProcPtr p) { return p; }
inline void DisposeControlActionUPP(ControlActionUPP) {}
inline ControlKeyFilterUPP NewControlKeyFilterUPP(ControlKeyFilterProcPtr p) { return p; }
inline void DisposeControlKeyFilterUPP(ControlKeyFilterUPP) {}
inline ControlUserPaneDrawUPP NewControlUserPaneDrawUPP(ControlUserPaneDrawProcPtr p) { return p; }
inline void DisposeControlUserPaneDrawUPP(ControlUserPaneDrawUPP) {}

// ---- Result codes ----
enum : OSStatus {
  errInvalidWindowRef = -5600,
  errInvalidWindowPtr = -5600,
  menuPropertyNotFoundErr = -5604,
  menuNotFoundErr = -5620,
  menuItemNotFoundErr = -5622,
  menuInvalidErr = -5623,
  errDataNotSupported = -30581,
  errControlDoesntSupportFocus = -30582,
  errUnknownControl = -30584,
  errCouldntSetFocus = -30585,
  errInvalidPartCode = -30588,
  errControlIsNotEmbedder = -30590,
  errDataSizeMismatch = -30591,
  errControlHiddenOrDisabled = -30592,
  errCantEmbedIntoSelf = -30594,
  controlPropertyNotFoundErr = -5604,
  eventHandlerAlreadyInstalledErr = -9866,
  eventInternalErr = -9868,
  eventKindIncorrectErr = -9869,
  eventParameterNotFoundErr = -9870,
  eventLoopTimedOutErr = -9875,
  eventLoopQuitErr = -9876,
  kIBCarbonRuntimeCantFindNibFile = -10960,
  kIBCarbonRuntimeObjectNotOfRequestedType = -10961,
  kIBCarbonRuntimeCantFindObject = -10962,
};

// ---- Event classes, kinds, parameters and types ----
enum : EventClass {
  kEventClassMouse = FOUR_CHAR_CODE("mous"),
  kEventClassKeyboard = FOUR_CHAR_CODE("keyb"),
  kEventClassTextInput = FOUR_CHAR_CODE("text"),
  kEventClassApplication = FOUR_CHAR_CODE("appl"),
  kEventClassMenu = FOUR_CHAR_CODE("menu"),
  kEventClassWindow = FOUR_CHAR_CODE("wind"),
  kEventClassControl = FOUR_CHAR_CODE("cntl"),
  kEventClassCommand = FOUR_CHAR_CODE("cmds"),
};
enum : EventKind {
  kEventCommandProcess = 1,
  kEventCommandUpdateStatus = 2,
  kEventControlHit = 1,
  kEventControlDraw = 4,
  kEventControlActivate = 9,
  kEventControlDeactivate = 10,
  kEventControlClick = 13,
  kEventControlValueFieldChanged = 151,
  kEventControlInitialize = 1000,
  kEventWindowDrawContent = 2,
  kEventWindowActivated = 5,
  kEventWindowDeactivated = 6,
  kEventWindowShown = 24,
  kEventWindowHidden = 25,
  kEventWindowBoundsChanged = 27,
  kEventWindowClose = 72,
  kEventWindowClosed = 73,
  kEventMenuEnableItems = 8,
  kEventRawKeyDown = 1,
  kEventRawKeyRepeat = 2,
  kEventRawKeyUp = 3,
  kEventMouseDown = 1,
  kEventMouseUp = 2,
  kEventMouseMoved = 5,
  kEventMouseDragged = 6,
};
enum : EventParamName {
  kEventParamDirectObject = FOUR_CHAR_CODE("----"),
  kEventParamWindowRef = FOUR_CHAR_CODE("wind"),
  kEventParamControlRef = FOUR_CHAR_CODE("ctrl"),
  kEventParamMenuRef = FOUR_CHAR_CODE("menu"),
  kEventParamControlPart = FOUR_CHAR_CODE("cprt"),
  kEventParamMouseLocation = FOUR_CHAR_CODE("mloc"),
  kEventParamKeyMacCharCodes = FOUR_CHAR_CODE("kchr"),
  kEventParamKeyCode = FOUR_CHAR_CODE("kcod"),
  kEventParamKeyModifiers = FOUR_CHAR_CODE("kmod"),
  kEventParamCGContextRef = FOUR_CHAR_CODE("cntx"),
  kEventParamEnableMenuForKeyEvent = FOUR_CHAR_CODE("fork"),
  kEventParamWindowMouseLocation = FOUR_CHAR_CODE("wmou"),
  kEventParamMouseButton = FOUR_CHAR_CODE("mbtn"),
  kEventParamClickCount = FOUR_CHAR_CODE("ccnt"),
};
// typeWildCard, typeUInt32, typeSInt32, typeBoolean and typeChar are the
// Apple Event Manager's descriptor types (AEDataModel.h).
enum : EventParamType {
  typeHICommand = FOUR_CHAR_CODE("hcmd"),
  typeWindowRef = FOUR_CHAR_CODE("wind"),
  typeControlRef = FOUR_CHAR_CODE("ctrl"),
  typeMenuRef = FOUR_CHAR_CODE("menu"),
  typeControlPartCode = FOUR_CHAR_CODE("cprt"),
  typeQDPoint = FOUR_CHAR_CODE("QDpt"),
  typeCGContextRef = FOUR_CHAR_CODE("cntx"),
  typeCFStringRef = FOUR_CHAR_CODE("cfst"),
  typeMouseButton = FOUR_CHAR_CODE("mbtn"),
};
typedef UInt16 EventMouseButton;
enum : EventMouseButton { kEventMouseButtonPrimary = 1, kEventMouseButtonSecondary = 2 };
enum : UInt32 { shiftKey = 1u << 9, optionKey = 1u << 11, controlKey = 1u << 12, cmdKey = 1u << 8 };
enum : EventAttributes { kEventAttributeNone = 0, kEventAttributeUserEvent = 1 };

// ---- Commands ----
enum : UInt32 {
  kHICommandOK = FOUR_CHAR_CODE("ok  "),
  kHICommandCancel = FOUR_CHAR_CODE("not!"),
  kHICommandQuit = FOUR_CHAR_CODE("quit"),
  kHICommandClose = FOUR_CHAR_CODE("clos"),
  kHICommandAbout = FOUR_CHAR_CODE("abou"),
  kHICommandPreferences = FOUR_CHAR_CODE("pref"),
};
enum : UInt32 {
  kHICommandFromMenu = 1u << 0,
  kHICommandFromControl = 1u << 1,
  kHICommandFromWindow = 1u << 2,
};

// ---- Windows ----
enum : WindowClass {
  kAlertWindowClass = 1,
  kMovableAlertWindowClass = 2,
  kModalWindowClass = 3,
  kMovableModalWindowClass = 4,
  kFloatingWindowClass = 5,
  kDocumentWindowClass = 6,
  kUtilityWindowClass = 8,
  kSheetWindowClass = 11,
  kToolbarWindowClass = 12,
  kPlainWindowClass = 13,
  kOverlayWindowClass = 14,
  kSheetAlertWindowClass = 15,
  kDrawerWindowClass = 20,
};
enum : WindowAttributes {
  kWindowNoAttributes = 0,
  kWindowCloseBoxAttribute = 1u << 0,
  kWindowHorizontalZoomAttribute = 1u << 1,
  kWindowVerticalZoomAttribute = 1u << 2,
  kWindowFullZoomAttribute = (1u << 1) | (1u << 2),
  kWindowCollapseBoxAttribute = 1u << 3,
  kWindowResizableAttribute = 1u << 4,
  kWindowCompositingAttribute = 1u << 19,
  kWindowStandardHandlerAttribute = 1u << 25,
  kWindowLiveResizeAttribute = 1u << 28,
  kWindowStandardDocumentAttributes = (1u << 0) | (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4),
};
enum : WindowRegionCode { kWindowStructureRgn = 32, kWindowContentRgn = 33 };

// ---- Controls ----
enum : OSType {
  kControlKindSignatureApple = FOUR_CHAR_CODE("appl"),
  kControlKindEditText = FOUR_CHAR_CODE("etxt"),
  kControlKindEditUnicodeText = FOUR_CHAR_CODE("eutx"),
  kControlKindStaticText = FOUR_CHAR_CODE("stxt"),
  kControlKindPushButton = FOUR_CHAR_CODE("push"),
  kControlKindBevelButton = FOUR_CHAR_CODE("bevl"),
  kControlKindCheckBox = FOUR_CHAR_CODE("cbox"),
  kControlKindRadioButton = FOUR_CHAR_CODE("rdio"),
  kControlKindRadioGroup = FOUR_CHAR_CODE("rgrp"),
  kControlKindPopupButton = FOUR_CHAR_CODE("popb"),
  kControlKindSlider = FOUR_CHAR_CODE("sldr"),
  kControlKindLittleArrows = FOUR_CHAR_CODE("larr"),
  kControlKindUserPane = FOUR_CHAR_CODE("upan"),
  kControlKindGroupBox = FOUR_CHAR_CODE("grpb"),
  kControlKindProgressBar = FOUR_CHAR_CODE("prgb"),
  kControlKindChasingArrows = FOUR_CHAR_CODE("carr"),
  kControlKindTabs = FOUR_CHAR_CODE("tabs"),
  kControlKindSeparator = FOUR_CHAR_CODE("sepa"),
  kControlKindImageWell = FOUR_CHAR_CODE("well"),
  kControlKindHIView = FOUR_CHAR_CODE("hivw"),  // a custom view drawn by its owner
};
enum : OSType {
  kControlEditTextCFStringTag = FOUR_CHAR_CODE("cfst"),
  kControlStaticTextCFStringTag = FOUR_CHAR_CODE("cfst"),
  kControlEditTextTextTag = FOUR_CHAR_CODE("text"),
  kControlStaticTextTextTag = FOUR_CHAR_CODE("text"),
  kControlEditTextSelectionTag = FOUR_CHAR_CODE("sele"),
  kControlEditTextKeyFilterTag = FOUR_CHAR_CODE("fltr"),
  kControlUserPaneDrawProcTag = FOUR_CHAR_CODE("draw"),
  kControlPushButtonDefaultTag = FOUR_CHAR_CODE("dflt"),
  kControlPushButtonCancelTag = FOUR_CHAR_CODE("cncl"),
  kControlPopupButtonMenuRefTag = FOUR_CHAR_CODE("mhan"),
  kControlProgressBarIndeterminateTag = FOUR_CHAR_CODE("inde"),
  kControlProgressBarAnimatingTag = FOUR_CHAR_CODE("anim"),
  kControlChasingArrowsAnimatingTag = FOUR_CHAR_CODE("anim"),
};
enum : ControlPartCode {
  kControlNoPart = 0,
  kControlEntireControl = 0,
  kControlEditTextPart = 5,
  kControlButtonPart = 10,
  kControlCheckBoxPart = 11,
  kControlUpButtonPart = 20,
  kControlDownButtonPart = 21,
  kControlPageUpPart = 22,
  kControlPageDownPart = 23,
  kControlIndicatorPart = 129,
};
enum : ControlFocusPart { kControlFocusNoPart = 0, kControlFocusNextPart = -1, kControlFocusPrevPart = -2 };
enum : ControlKeyFilterResult { kControlKeyFilterBlockKey = 0, kControlKeyFilterPassKey = 1 };

// ---- Menus ----
enum : CharParameter { noMark = 0, checkMark = 0x12 };
enum : MenuItemAttributes { kMenuItemAttrSeparator = 1u << 6, kMenuItemAttrDisabled = 1u << 0 };
enum : MenuID { hierMenu = -1 };

// ---- Alerts ----
enum : AlertType { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2, kAlertPlainAlert = 3 };
enum : DialogItemIndex {
  kAlertStdAlertOKButton = 1,
  kAlertStdAlertCancelButton = 2,
  kAlertStdAlertOtherButton = 3,
  kAlertStdAlertHelpButton = 4,
};
enum : UInt32 { kStdCFStringAlertVersionOne = 1 };
// A button text of kAlertDefaultOKText or kAlertDefaultCancelText asks for the
// standard "OK" or "Cancel"; null means no such button.
#define kAlertDefaultOKText ((CFStringRef)(intptr_t)-1)
#define kAlertDefaultCancelText ((CFStringRef)(intptr_t)-1)
#define kAlertDefaultOtherText ((CFStringRef)(intptr_t)-1)
struct AlertStdCFStringAlertParamRec {
  UInt32 version;
  Boolean movable;
  Boolean helpButton;
  CFStringRef defaultText;
  CFStringRef cancelText;
  CFStringRef otherText;
  SInt16 defaultButton;
  SInt16 cancelButton;
  UInt16 position;
  OptionBits flags;
};

// ---- Cursor ----
enum : ThemeCursor {
  kThemeArrowCursor = 0,
  kThemeCopyArrowCursor = 1,
  kThemeIBeamCursor = 4,
  kThemeCrossCursor = 5,
  kThemePlusCursor = 6,
  kThemeWatchCursor = 7,
  kThemeClosedHandCursor = 8,
  kThemeOpenHandCursor = 9,
  kThemePointingHandCursor = 10,
  kThemeSpinningCursor = 14,
};

// ---- Time ----
constexpr EventTime kEventDurationSecond = 1.0;
constexpr EventTime kEventDurationMillisecond = 0.001;
constexpr EventTime kEventDurationMicrosecond = 0.000001;
constexpr EventTime kEventDurationNoWait = 0.0;
constexpr EventTime kEventDurationForever = -1.0;

// ---- Text encoding: UTF-8 on this system ----
TextEncoding GetApplicationTextEncoding();

// ---- Nib files ----
// The nib "X" is the folder resources/X.nib of window and menu descriptions.
OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef);
OSStatus DisposeNibReference(IBNibRef inNibRef);
OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow);
OSStatus CreateMenuFromNib(IBNibRef inNibRef, CFStringRef inName, MenuRef* outMenuRef);
OSStatus SetMenuBarFromNib(IBNibRef inNibRef, CFStringRef inName);

// ---- Windows ----
OSStatus CreateNewWindow(WindowClass windowClass, WindowAttributes attributes, const Rect* contentBounds,
                         WindowRef* outWindow);
void DisposeWindow(WindowRef window);
void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);
void SelectWindow(WindowRef window);
WindowRef FrontWindow();
WindowRef FrontNonFloatingWindow();
WindowRef ActiveNonFloatingWindow();
WindowRef GetFrontWindowOfClass(WindowClass inWindowClass, Boolean mustBeVisible);
WindowRef GetNextWindowOfClass(WindowRef inWindow, WindowClass inWindowClass, Boolean mustBeVisible);
OSStatus GetWindowClass(WindowRef inWindow, WindowClass* outClass);
OSStatus GetWindowAttributes(WindowRef window, WindowAttributes* outAttributes);
OSStatus SetWindowTitleWithCFString(WindowRef inWindow, CFStringRef inString);
OSStatus CopyWindowTitleAsCFString(WindowRef inWindow, CFStringRef* outString);
void SetWRefCon(WindowRef window, SRefCon data);
SRefCon GetWRefCon(WindowRef window);
OSStatus GetWindowBounds(WindowRef window, WindowRegionCode regionCode, Rect* globalBounds);
OSStatus SetWindowBounds(WindowRef window, WindowRegionCode regionCode, const Rect* globalBounds);
void SizeWindow(WindowRef window, short w, short h, Boolean fUpdate);
void MoveWindow(WindowRef window, short hGlobal, short vGlobal, Boolean front);
OSStatus SetWindowProperty(WindowRef window, PropertyCreator creator, PropertyTag tag, ByteCount size,
                           const void* buffer);
OSStatus GetWindowProperty(WindowRef window, PropertyCreator creator, PropertyTag tag, ByteCount bufferSize,
                           ByteCount* actualSize, void* buffer);
OSStatus RemoveWindowProperty(WindowRef window, PropertyCreator creator, PropertyTag tag);
// The content area in the window's own coordinates (0, 0 at the top left).
Rect* GetWindowPortBounds(WindowRef window, Rect* bounds);
// The screen: one main device; its available bounds leave out the menu bar.
typedef void* GDHandle;  // as QuickDraw has it
GDHandle GetMainDevice();
OSStatus GetAvailableWindowPositioningBounds(GDHandle inDevice, Rect* outAvailableRect);
// The desktop ("gray") region: every screen less the menu bar. One region
// lives as long as the process; callers never dispose of it. Its bounds are
// the full screen's with the top at the menu bar's bottom.
typedef struct OpaqueRgnHandle* RgnHandle;
RgnHandle GetGrayRgn();
// The region's bounding box; a null region gives an empty box.
Rect* GetRegionBounds(RgnHandle region, Rect* bounds);
// Marks the window's content for redrawing (counted by the model).
OSStatus HIViewSetNeedsDisplay(HIViewRef inView, Boolean inNeedsDisplay);
void DrawControls(WindowRef window);
// Gives the window's animated controls (indeterminate progress bars) their
// next step; the model counts the calls.
void IdleControls(WindowRef window);

// ---- Sheets and modal loops ----
OSStatus ShowSheetWindow(WindowRef inSheet, WindowRef inParentWindow);
OSStatus HideSheetWindow(WindowRef inSheet);
OSStatus GetSheetWindowParent(WindowRef inSheet, WindowRef* outParentWindow);
// Runs the main run loop, and the user, until QuitAppModalLoopForWindow.
OSStatus RunAppModalLoopForWindow(WindowRef inWindow);
OSStatus QuitAppModalLoopForWindow(WindowRef inWindow);
OSStatus BeginAppModalStateForWindow(WindowRef inWindow);
OSStatus EndAppModalStateForWindow(WindowRef inWindow);

// ---- Controls ----
OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl);
OSStatus GetControlID(ControlRef inControl, ControlID* outID);
OSStatus SetControlID(ControlRef inControl, const ControlID* inID);
OSStatus GetControlKind(ControlRef inControl, ControlKind* outKind);
WindowRef GetControlOwner(ControlRef inControl);
OSStatus GetSuperControl(ControlRef inControl, ControlRef* outParent);
void DisposeControl(ControlRef theControl);
void Draw1Control(ControlRef theControl);
SInt32 GetControl32BitValue(ControlRef theControl);
void SetControl32BitValue(ControlRef theControl, SInt32 newValue);
SInt32 GetControl32BitMinimum(ControlRef theControl);
void SetControl32BitMinimum(ControlRef theControl, SInt32 newMinimum);
SInt32 GetControl32BitMaximum(ControlRef theControl);
void SetControl32BitMaximum(ControlRef theControl, SInt32 newMaximum);
inline SInt16 GetControlValue(ControlRef c) { return SInt16(GetControl32BitValue(c)); }
inline void SetControlValue(ControlRef c, SInt16 v) { SetControl32BitValue(c, v); }
SRefCon GetControlReference(ControlRef theControl);
void SetControlReference(ControlRef theControl, SRefCon data);
ControlActionUPP GetControlAction(ControlRef theControl);
void SetControlAction(ControlRef theControl, ControlActionUPP actionProc);
OSStatus EnableControl(ControlRef inControl);
OSStatus DisableControl(ControlRef inControl);
Boolean IsControlEnabled(ControlRef inControl);
OSStatus ActivateControl(ControlRef inControl);
OSStatus DeactivateControl(ControlRef inControl);
Boolean IsControlActive(ControlRef inControl);
void ShowControl(ControlRef inControl);
void HideControl(ControlRef inControl);
OSStatus SetControlVisibility(ControlRef inControl, Boolean inIsVisible, Boolean inDoDraw);
Boolean IsControlVisible(ControlRef inControl);
void GetControlBounds(ControlRef control, Rect* bounds);
void SetControlBounds(ControlRef control, const Rect* bounds);
// Moves the control's top left to (h, v) in window coordinates, keeping its size.
void MoveControl(ControlRef theControl, SInt16 h, SInt16 v);
// Keeps the top left; the control becomes w wide and h high.
void SizeControl(ControlRef theControl, SInt16 w, SInt16 h);
OSStatus SetControlTitleWithCFString(ControlRef inControl, CFStringRef inString);
OSStatus CopyControlTitleAsCFString(ControlRef inControl, CFStringRef* outString);
OSStatus GetControlCommandID(ControlRef inControl, UInt32* outCommandID);
OSStatus SetControlCommandID(ControlRef inControl, UInt32 inCommandID);
// Tags: 'cfst' (CFStringRef in and out; the copy read out is the caller's to
// release), 'text' (bytes in the application encoding), 'sele'
// (ControlEditTextSelectionRec), 'fltr' (ControlKeyFilterUPP), 'draw'
// (ControlUserPaneDrawUPP), 'dflt' and 'cncl' (Boolean), 'mhan' (MenuRef),
// 'inde' and 'anim' (Boolean; progress bars, and 'anim' for chasing arrows).
OSStatus SetControlData(ControlRef inControl, ControlPartCode inPart, OSType inTagName, Size inSize, const void* inData);
OSStatus GetControlData(ControlRef inControl, ControlPartCode inPart, OSType inTagName, Size inBufferSize,
                        void* inBuffer, Size* outActualSize);
OSStatus GetControlDataSize(ControlRef inControl, ControlPartCode inPart, OSType inTagName, Size* outMaxSize);
OSStatus SetControlProperty(ControlRef control, PropertyCreator creator, PropertyTag tag, ByteCount size,
                            const void* buffer);
OSStatus GetControlProperty(ControlRef control, PropertyCreator creator, PropertyTag tag, ByteCount bufferSize,
                            ByteCount* actualSize, void* buffer);
OSStatus RemoveControlProperty(ControlRef control, PropertyCreator creator, PropertyTag tag);
// Keyboard focus: part -1 (next) or any non-zero part focuses the control,
// 0 clears the focus.
OSStatus SetKeyboardFocus(WindowRef inWindow, ControlRef inControl, ControlFocusPart inPart);
OSStatus GetKeyboardFocus(WindowRef inWindow, ControlRef* outControl);
OSStatus ClearKeyboardFocus(WindowRef inWindow);
MenuRef GetControlPopupMenuHandle(ControlRef control);
inline MenuRef GetControlPopupMenuRef(ControlRef control) { return GetControlPopupMenuHandle(control); }
void SetControlPopupMenuHandle(ControlRef control, MenuRef popupMenu);
inline void SetControlPopupMenuRef(ControlRef control, MenuRef popupMenu) { SetControlPopupMenuHandle(control, popupMenu); }
// A control made in code (the nib description makes the rest).
OSStatus SkyloomCreateControl(WindowRef window, const Rect* bounds, OSType kind, const ControlID* inID,
                              ControlRef* outControl);
OSStatus CreateUserPaneControl(WindowRef window, const Rect* boundsRect, UInt32 features, ControlRef* outControl);

// ---- Views and their subclasses ----
// A view is a control; a subclass of the base view class "com.apple.hiview"
// gets the construct, initialize and destruct events and whatever events it
// registered, with its own record (set in the construct event's
// kEventParamHIObjectInstance as typeVoidPtr) as the handler's user data.
// The nib makes one with: control 'SIGN' id view class="com.example.view".
typedef ControlRef HIObjectRef;
typedef struct OpaqueHIObjectClassRef* HIObjectClassRef;
typedef ControlID HIViewID;
#define kHIViewClassID CFSTR("com.apple.hiview")
enum : EventClass { kEventClassHIObject = FOUR_CHAR_CODE("hiob") };
enum : EventKind { kEventHIObjectConstruct = 1, kEventHIObjectInitialize = 2, kEventHIObjectDestruct = 3 };
enum : EventParamName { kEventParamHIObjectInstance = FOUR_CHAR_CODE("hioi") };
enum : EventParamType { typeHIObjectRef = FOUR_CHAR_CODE("hiob"), typeVoidPtr = FOUR_CHAR_CODE("void") };
enum : OSStatus {
  hiObjectClassExistsErr = -22080,
  hiObjectClassHasInstancesErr = -22081,
};
OSStatus HIObjectRegisterSubclass(CFStringRef inClassID, CFStringRef inBaseClassID, OptionBits inOptions,
                                  EventHandlerUPP inConstructProc, UInt32 inNumEvents, const EventTypeSpec* inEventList,
                                  void* inConstructData, HIObjectClassRef* outClassRef);
OSStatus HIObjectUnregisterClass(HIObjectClassRef inClassRef);
// A new view of the class, in no window until HIViewAddSubview; dispose of it
// with DisposeControl (or with its window).
OSStatus HIObjectCreate(CFStringRef inClassID, EventRef inConstructData, HIObjectRef* outObject);
// The window's root view: the top-level controls are its subviews.
HIViewRef HIViewGetRoot(WindowRef inWindow);
OSStatus HIViewAddSubview(HIViewRef inParent, HIViewRef inNewChild);
OSStatus HIViewRemoveFromSuperview(HIViewRef inView);
HIViewRef HIViewGetSuperview(HIViewRef inView);
OSStatus HIViewFindByID(HIViewRef inStartView, HIViewID inID, HIViewRef* outControl);
typedef CGRect HIRect;
// The view's bounds in its own coordinates: origin (0, 0), its width and height.
OSStatus HIViewGetBounds(HIViewRef inView, HIRect* outRect);
OSStatus HIViewSetVisible(HIViewRef inView, Boolean inVisible);
Boolean HIViewIsVisible(HIViewRef inView);
// The view's frame in its superview's coordinates (for a view at the top of
// a window, the content's: 0, 0 at the top left, y down).
OSStatus HIViewGetFrame(HIViewRef inView, HIRect* outRect);
OSStatus HIViewSetFrame(HIViewRef inView, const HIRect* inRect);
// Control features: the base view's control-initialize event carries
// kEventParamControlFeatures (typeUInt32); a subclass adds its bits to it,
// and what it leaves there becomes the view's features.
enum : EventParamName { kEventParamControlFeatures = FOUR_CHAR_CODE("cftr") };
enum : UInt32 { kControlSupportsEmbedding = 1u << 1 };
OSStatus GetControlFeatures(ControlRef inControl, UInt32* outFeatures);

// ---- Menus ----
OSStatus CreateNewMenu(MenuID inMenuID, MenuAttributes inMenuAttributes, MenuRef* outMenuRef);
void DisposeMenu(MenuRef theMenu);
OSStatus RetainMenu(MenuRef inMenu);
OSStatus ReleaseMenu(MenuRef inMenu);
MenuID GetMenuID(MenuRef menu);
OSStatus SetMenuTitleWithCFString(MenuRef inMenu, CFStringRef inString);
OSStatus CopyMenuTitleAsCFString(MenuRef inMenu, CFStringRef* outString);
UInt16 CountMenuItems(MenuRef theMenu);
OSStatus AppendMenuItemTextWithCFString(MenuRef inMenu, CFStringRef inString, MenuItemAttributes inAttributes,
                                        MenuCommand inCommandID, MenuItemIndex* outNewItem);
OSStatus InsertMenuItemTextWithCFString(MenuRef inMenu, CFStringRef inString, MenuItemIndex inAfterItem,
                                        MenuItemAttributes inAttributes, MenuCommand inCommandID);
OSStatus SetMenuItemTextWithCFString(MenuRef inMenu, MenuItemIndex inItem, CFStringRef inString);
OSStatus CopyMenuItemTextAsCFString(MenuRef inMenu, MenuItemIndex inItem, CFStringRef* outString);
void DeleteMenuItem(MenuRef theMenu, MenuItemIndex item);
OSStatus DeleteMenuItems(MenuRef inMenu, MenuItemIndex inFirstItem, ItemCount inNumItems);
void CheckMenuItem(MenuRef theMenu, MenuItemIndex item, Boolean checked);
inline void CheckItem(MenuRef m, MenuItemIndex i, Boolean c) { CheckMenuItem(m, i, c); }
void SetItemMark(MenuRef theMenu, MenuItemIndex item, CharParameter markChar);
void GetItemMark(MenuRef theMenu, MenuItemIndex item, CharParameter* markChar);
// The item's command character. hMenuCmd (0x1B) with a menu ID as the item's
// mark makes the item show that menu as its submenu once the menu is in the
// hierarchical list (InsertMenu(menu, hierMenu)).
enum : CharParameter { hMenuCmd = 0x1B };
void SetItemCmd(MenuRef theMenu, MenuItemIndex item, CharParameter cmdChar);
void GetItemCmd(MenuRef theMenu, MenuItemIndex item, CharParameter* cmdChar);
// Item 0 stands for the whole menu.
void EnableMenuItem(MenuRef theMenu, MenuItemIndex item);
void DisableMenuItem(MenuRef theMenu, MenuItemIndex item);
Boolean IsMenuItemEnabled(MenuRef menu, MenuItemIndex item);
OSStatus SetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem, MenuCommand inCommandID);
OSStatus GetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem, MenuCommand* outCommandID);
OSStatus GetIndMenuItemWithCommandID(MenuRef inMenu, MenuCommand inCommandID, UInt32 inItemIndex,
                                     MenuRef* outMenu, MenuItemIndex* outIndex);
void EnableMenuCommand(MenuRef inMenu, MenuCommand inCommandID);
void DisableMenuCommand(MenuRef inMenu, MenuCommand inCommandID);
OSStatus SetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem, MenuRef inHierMenu);
OSStatus GetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem, MenuRef* outHierMenu);
// The menu bar: InsertMenu before the menu beforeID (0 = at the end, hierMenu
// = among the submenus that GetMenuRef finds without showing them in the bar).
void InsertMenu(MenuRef theMenu, MenuID beforeID);
void DeleteMenu(MenuID menuID);
MenuRef GetMenuRef(MenuID menuID);
inline MenuRef GetMenuHandle(MenuID menuID) { return GetMenuRef(menuID); }
void DrawMenuBar();
void InvalMenuBar();
// Highlights the title of the menu (0: none); the model records each call.
void HiliteMenu(MenuID menuID);

// ---- Carbon events ----
EventTargetRef GetApplicationEventTarget();
EventTargetRef GetWindowEventTarget(WindowRef inWindow);
EventTargetRef GetControlEventTarget(ControlRef inControl);
EventTargetRef GetMenuEventTarget(MenuRef inMenu);
// The target of the window the user works in: the window of the innermost
// app-modal loop, else the front window, else the application.
EventTargetRef GetUserFocusEventTarget();
// The window of that target; null when the application has the focus.
WindowRef GetUserFocusWindow();
OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef);
inline OSStatus InstallWindowEventHandler(WindowRef w, EventHandlerUPP h, ItemCount n, const EventTypeSpec* l,
                                          void* u, EventHandlerRef* o) {
  return InstallEventHandler(GetWindowEventTarget(w), h, n, l, u, o);
}
inline OSStatus InstallControlEventHandler(ControlRef c, EventHandlerUPP h, ItemCount n, const EventTypeSpec* l,
                                           void* u, EventHandlerRef* o) {
  return InstallEventHandler(GetControlEventTarget(c), h, n, l, u, o);
}
inline OSStatus InstallApplicationEventHandler(EventHandlerUPP h, ItemCount n, const EventTypeSpec* l, void* u,
                                               EventHandlerRef* o) {
  return InstallEventHandler(GetApplicationEventTarget(), h, n, l, u, o);
}
inline OSStatus InstallMenuEventHandler(MenuRef m, EventHandlerUPP h, ItemCount n, const EventTypeSpec* l, void* u,
                                        EventHandlerRef* o) {
  return InstallEventHandler(GetMenuEventTarget(m), h, n, l, u, o);
}
OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef);
OSStatus AddEventTypesToHandler(EventHandlerRef inHandlerRef, ItemCount inNumTypes, const EventTypeSpec* inList);
OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent);

OSStatus CreateEvent(CFAllocatorRef inAllocator, EventClass inClassID, EventKind kind, EventTime when,
                     EventAttributes flags, EventRef* outEvent);
EventRef RetainEvent(EventRef inEvent);
void ReleaseEvent(EventRef inEvent);
EventClass GetEventClass(EventRef inEvent);
EventKind GetEventKind(EventRef inEvent);
EventTime GetEventTime(EventRef inEvent);
EventTime GetCurrentEventTime();
OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType, ByteCount inSize,
                           const void* inDataPtr);
OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData);
// Handlers of the target run newest first; an unhandled event (-9874) moves
// on to the next handler, then to the containing target (control, embedding
// control, window, application).
OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget);
// Sends the command to the focused window's target (the application's when
// no window is up).
OSStatus ProcessHICommand(const HICommand* inCommand);

// ---- Event loop and timers (on the main run loop) ----
EventLoopRef GetMainEventLoop();
EventLoopRef GetCurrentEventLoop();
CFRunLoopRef GetCFRunLoopFromEventLoop(EventLoopRef inEventLoop);
OSStatus InstallEventLoopTimer(EventLoopRef inEventLoop, EventTimerInterval inFireDelay, EventTimerInterval inInterval,
                               EventLoopTimerUPP inTimerProc, void* inTimerData, EventLoopTimerRef* outTimer);
OSStatus RemoveEventLoopTimer(EventLoopTimerRef inTimer);
OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef inTimer, EventTimerInterval inNextFire);
// Runs the application until QuitApplicationEventLoop.
void RunApplicationEventLoop();
void QuitApplicationEventLoop();
// Runs the current run loop for up to inTimeout seconds (0: what is ready);
// the user may act meanwhile. eventLoopTimedOutErr when the time ran out.
OSStatus RunCurrentEventLoop(EventTimeout inTimeout);
OSStatus QuitEventLoop(EventLoopRef inEventLoop);

// ---- Pumping events from a long job (the stacking run's pump timer) ----
// The model dispatches the user's actions as they happen, so it keeps no
// queue of events: ReceiveNextEvent runs the main run loop's ready work and
// lets the user agent take one Poll step (with timeout 0; a longer timeout
// runs the loop that long, as RunCurrentEventLoop), then gives
// eventLoopTimedOutErr with *outEvent null. The type list is not looked at.
typedef struct OpaqueEventQueueRef* EventQueueRef;
OSStatus ReceiveNextEvent(ItemCount inNumTypes, const EventTypeSpec* inList, EventTimeout inTimeout,
                          Boolean inPullEvent, EventRef* outEvent);
// Where a received event is sent to be handled: the application target.
EventTargetRef GetEventDispatcherTarget();

// ---- Standard alerts ----
OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec* param, UInt32 version);
OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// Shows the alert application-modally, waits for a button and disposes it.
OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP filterProc, DialogItemIndex* outItemHit);
void DisposeDialog(DialogRef theDialog);

// ---- Cursor ----
OSStatus SetThemeCursor(ThemeCursor inCursor);
void InitCursor();

// ---- Help tags ----
// Whether help tags show when the mouse rests over a control (on at start).
OSStatus HMSetHelpTagsDisplayed(Boolean inDisplayTags);
Boolean HMAreHelpTagsDisplayed();

// ---- Opening addresses in the user's browser ----
// Hands the address to the desktop's opener (xdg-open); 0 when it started.
OSStatus SkyloomOpenURL(const char* url);

// ---- Scroll bars, window groups and window events of document windows ----
enum : OSType { kControlKindScrollBar = FOUR_CHAR_CODE("sbar") };
// A scroll bar's view size: how much of the scrolled content one page shows.
SInt32 GetControlViewSize(ControlRef theControl);
void SetControlViewSize(ControlRef theControl, SInt32 newViewSize);

typedef struct OpaqueWindowGroupRef* WindowGroupRef;
typedef UInt32 WindowGroupAttributes;
enum : WindowGroupAttributes {
  kWindowGroupAttrSelectAsLayer = 1u << 0,  // selecting a member brings the group forward
  kWindowGroupAttrMoveTogether = 1u << 1,
  kWindowGroupAttrLayerTogether = 1u << 2,
  kWindowGroupAttrSharedActivation = 1u << 3,
};
// A new group (one reference, released with ReleaseWindowGroup).
OSStatus CreateWindowGroup(WindowGroupAttributes inAttributes, WindowGroupRef* outGroup);
OSStatus SetWindowGroupParent(WindowGroupRef inGroup, WindowGroupRef inNewGroup);
OSStatus GetWindowGroupAttributes(WindowGroupRef inGroup, WindowGroupAttributes* outAttributes);
// The system's group of the windows of a class (never released).
WindowGroupRef GetWindowGroupOfClass(WindowClass windowClass);
OSStatus SetWindowGroup(WindowRef inWindow, WindowGroupRef inNewGroup);
WindowGroupRef GetWindowGroup(WindowRef inWindow);
// The group goes with its last reference; its windows fall back to their class's group.
OSStatus ReleaseWindowGroup(WindowGroupRef inGroup);

enum : EventKind {
  kEventWindowUpdate = 1,
  kEventWindowBoundsChanging = 26,
  kEventWindowClickContentRgn = 37,
  kEventWindowGetMinimumSize = 81,
  kEventWindowGetMaximumSize = 82,
};
enum : EventParamName {
  kEventParamAttributes = FOUR_CHAR_CODE("attr"),
  kEventParamCurrentBounds = FOUR_CHAR_CODE("crct"),
  kEventParamDimensions = FOUR_CHAR_CODE("dims"),
  kEventParamOriginalBounds = FOUR_CHAR_CODE("orct"),
  kEventParamPreviousBounds = FOUR_CHAR_CODE("prct"),
};
enum : EventParamType { typeQDRectangle = FOUR_CHAR_CODE("qdrt") };
enum : UInt32 {
  kWindowBoundsChangeUserDrag = 1u << 0,
  kWindowBoundsChangeUserResize = 1u << 1,
  kWindowBoundsChangeSizeChanged = 1u << 2,
  kWindowBoundsChangeOriginChanged = 1u << 3,
  kWindowBoundsChangeZoom = 1u << 4,
};
// Marks the rectangle of the window's content (local coordinates) for redrawing.
OSStatus InvalWindowRect(WindowRef window, const Rect* bounds);
// Between the two, drawing goes to the window as an update.
void BeginUpdate(WindowRef window);
void EndUpdate(WindowRef window);
// Global (screen) to the window's local coordinates: GlobalToLocalInWindow
// takes the window; the QuickDraw form uses the current port's window.
void SkyloomGlobalToLocal(WindowRef window, Point* point);

// ---- View frames, features and the window's content view ----
// The content view: HIViewFindByID(HIViewGetRoot(window), kHIViewWindowContentID, ...)
// gives the root view, whose subviews are the window's top-level controls.
extern const HIViewID kHIViewWindowContentID;
// HIViewGetFrame and HIViewSetFrame: with the view bounds above.

// ---- Content clicks and mouse tracking ----
// A mouse-down that the window's handlers leave alone is offered to them
// again as kEventWindowHandleContentClick (the same parameters) before it
// becomes a control click.
enum : EventKind { kEventWindowHandleContentClick = 85 };
typedef UInt16 MouseTrackingResult;
enum : MouseTrackingResult {
  kMouseTrackingMouseDown = 1,
  kMouseTrackingMouseUp = 2,
  kMouseTrackingMouseExited = 3,
  kMouseTrackingMouseEntered = 4,
  kMouseTrackingMouseDragged = 5,
  kMouseTrackingKeyModifiersChanged = 6,
  kMouseTrackingUserCancelled = 7,
  kMouseTrackingTimedOut = 8,
  kMouseTrackingMouseMoved = 9,
  kMouseTrackingMousePressed = kMouseTrackingMouseDown,
  kMouseTrackingMouseReleased = kMouseTrackingMouseUp,
};
// Waits for the mouse to move or its button to change while a button is
// held: the next point of the user's drag (window-local, the port being the
// window's), kMouseTrackingMouseDragged for each step and
// kMouseTrackingMouseReleased for the last; with no drag going on, the
// button is up where the mouse last was (kMouseTrackingMouseReleased).
// inPort is accepted and not used (the current drag knows its window).
OSStatus TrackMouseLocation(struct OpaqueGrafPtr* inPort, Point* outPt, MouseTrackingResult* outResult);

// ---- The window list, front to back ----
// The window behind inWindow in the window list, shown or hidden; null for
// the last window or a window that is not live.
WindowRef GetNextWindow(WindowRef inWindow);
// True while the window exists (not yet disposed).
Boolean IsValidWindowPtr(WindowRef inWindow);

// ---- Scroll views, image views and the scrollable-view protocol ----
// A scroll view embeds one scrollable view, which it sizes to its own
// bounds; the scrollable view answers kEventScrollableGetInfo with its image
// size, view size, line size and scroll origin (typeHISize / typeHIPoint) and
// moves its origin on kEventScrollableScrollTo (held so that the view stays
// over the image). The headless model draws no scroll bars; the options and
// auto-hiding are kept for the on-screen backend and for inspection.
typedef CGPoint HIPoint;
typedef CGSize HISize;
enum : EventClass { kEventClassScrollable = FOUR_CHAR_CODE("scrl") };
enum : EventKind { kEventScrollableGetInfo = 1, kEventScrollableInfoChanged = 2, kEventScrollableScrollTo = 10 };
enum : EventParamName {
  kEventParamImageSize = FOUR_CHAR_CODE("imsz"),
  kEventParamViewSize = FOUR_CHAR_CODE("vwsz"),
  kEventParamLineSize = FOUR_CHAR_CODE("lnsz"),
  kEventParamOrigin = FOUR_CHAR_CODE("orgn"),
};
enum : EventParamType { typeHIPoint = FOUR_CHAR_CODE("hipt"), typeHISize = FOUR_CHAR_CODE("hisz") };
enum : OptionBits {
  kHIScrollViewOptionsVertScroll = 1u << 0,
  kHIScrollViewOptionsHorizScroll = 1u << 1,
  kHIScrollViewOptionsAllowGrow = 1u << 2,
};
enum : OSType {
  kControlKindHIScrollView = FOUR_CHAR_CODE("scrl"),
  kControlKindHIImageView = FOUR_CHAR_CODE("imag"),
};
// A new scroll view in no window (add it with HIViewAddSubview). The model
// can be told to fail it ("HIScrollViewCreate").
OSStatus HIScrollViewCreate(OptionBits inOptions, HIViewRef* outView);
OSStatus HIScrollViewSetScrollBarAutoHide(HIViewRef inView, Boolean inAutoHide);
Boolean HIScrollViewGetScrollBarAutoHide(HIViewRef inView);
// Sends the event to the control's target (climbing as SendEventToEventTarget).
OSStatus SendEventToControl(EventRef inEvent, ControlRef inControl);
// Image views hold one retained image (null allowed) and are scrollable.
// They live in the CoreGraphics library, which owns images; the model can be
// told to fail the creation ("HIImageViewCreate"). Defaults: opaque, alpha
// 1.0, not scaled to fit.
OSStatus HIImageViewCreate(CGImageRef inImage, HIViewRef* outView);
// Replaces the image (retained; the old one released); the origin stays,
// held inside the new image.
OSStatus HIImageViewSetImage(HIViewRef inView, CGImageRef inImage);
// The view's image with one more reference for the caller; null when none.
CGImageRef HIImageViewCopyImage(HIViewRef inView);
OSStatus HIImageViewSetOpaque(HIViewRef inView, Boolean inOpaque);
Boolean HIImageViewIsOpaque(HIViewRef inView);
OSStatus HIImageViewSetAlpha(HIViewRef inView, CGFloat inAlpha);
CGFloat HIImageViewGetAlpha(HIViewRef inView);
OSStatus HIImageViewSetScaleToFit(HIViewRef inView, Boolean inScaleToFit);
Boolean HIImageViewGetScaleToFit(HIViewRef inView);

// ---- Color Picker ----
// Asks the user for a colour, starting from *inColor, with the prompt (a
// Pascal string) over the chooser; where (-1, -1) centres it on the main
// screen. true with *outColor set when the user accepts, false (and *outColor
// untouched) when the user cancels. The user (agent) answers it as a modal
// loop of its own (skyloom::ui::UserAnswerColorPicker).
Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor, RGBColor* outColor);
