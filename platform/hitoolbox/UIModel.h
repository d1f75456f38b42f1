// The user-interface model behind HIToolbox.h, seen from outside the
// application: tests inspect it and act on it as a user would; an on-screen
// backend mirrors it (Observer) and feeds the real user's input into it (the
// User* actions and UserAgent). Application code never includes this header.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/hitoolbox/HIToolbox.h"

namespace skyloom::ui {

// ---- Set-up ----
// Folder of the bundle's resources (the nib folders and the strings table).
// Empty restores the search from the executable (a "resources" folder beside
// it or above it in the build tree, else <prefix>/share/skyloom).
void SetResourceDirectory(const std::string& folder);
std::string ResourceDirectory();
// Disposes every window, view, menu-bar menu and timer the model still holds,
// unregisters the view classes, and clears the alert log, cursor record,
// failure injections, opened URLs and any drag still to be tracked.
void ResetModel();
// The next `count` calls of the named function fail with `status`. Names:
// "CreateNibReference", "CreateWindowFromNib", "CreateMenuFromNib",
// "SetMenuBarFromNib", "InstallEventHandler", "CreateStandardAlert",
// "ShowSheetWindow", "HIObjectRegisterSubclass", "HIObjectCreate".
// "CreateMenuFromNib:<menu name>" fails only the creation of that menu.
void InjectFailure(const std::string& call, OSStatus status, int count = 1);
// The named function's calls from the nth on (counting from 1 at this call)
// fail `count` times; the calls before pass. A count of 0 withdraws what is
// still pending for that function.
void InjectFailureAt(const std::string& call, OSStatus status, int nth, int count = 1);
// Replaces the desktop's URL opener (tests record instead of launching).
// An empty function restores xdg-open.
void SetURLOpener(std::function<OSStatus(const std::string& url)> opener);

// The main screen's full and available bounds (default 1920 x 1200 with a
// 22-pixel menu bar).
void SetScreenBounds(const Rect& full, const Rect& available);

// ---- Inspection ----
std::vector<WindowRef> Windows();  // live windows, front first
// The frontmost live window made from that nib name (null when none).
WindowRef FindWindow(const std::string& nibName);
std::string WindowName(WindowRef window);  // the nib name it was made from
std::string WindowTitle(WindowRef window);
WindowRef SheetOf(WindowRef parent);        // the sheet shown on it, or null
WindowRef ModalWindow();                    // innermost window in an app-modal loop
long WindowDrawCount(WindowRef window);
long WindowIdleCount(WindowRef window);          // IdleControls calls
long WindowInvalidationCount(WindowRef window);  // InvalWindowRect calls
ControlRef FindControl(WindowRef window, OSType signature, SInt32 id);
std::vector<ControlRef> Controls(WindowRef window);  // creation order
OSType ControlKindOf(ControlRef control);
std::string ControlText(ControlRef control);  // the 'cfst' text
std::string ControlTitle(ControlRef control);
long ControlDrawCount(ControlRef control);  // Draw1Control calls on it
ControlEditTextSelectionRec ControlSelection(ControlRef control);
ControlKeyFilterUPP ControlKeyFilter(ControlRef control);
ControlRef FocusedControl(WindowRef window);
UInt32 ControlCommand(ControlRef control);
// Items of a pop-up (its menu), a radio group or tabs.
std::vector<std::string> ControlItems(ControlRef control);
std::string MenuItemText(MenuRef menu, MenuItemIndex item);
std::string MenuTitle(MenuRef menu);
std::vector<MenuRef> MenuBar();

struct AlertRecord {
  AlertType type = kAlertStopAlert;
  std::string title;    // the error text
  std::string message;  // the explanation
  std::vector<std::string> buttons;  // buttons[i] is item i + 1
  DialogItemIndex answer = 0;        // 0 while it is up
};
// Every alert run since the last ResetModel, oldest first.
const std::vector<AlertRecord>& Alerts();
// The alert waiting for an answer, or null.
DialogRef CurrentAlert();
const AlertRecord* AlertInfo(DialogRef alert);

// Readable dumps of what the user would see, for test messages:
// one window with its controls, or every window and the alert log.
std::string DescribeWindow(WindowRef window);
std::string DescribeModel();

// RunApplicationEventLoop calls since the last ResetModel. The first of
// them delivers the launch's open-application Apple event ('aevt'/'oapp').
long ApplicationLoopEntries();
// The handler procedures passed to DisposeEventHandlerUPP since the last
// ResetModel, in order.
std::vector<EventHandlerUPP> DisposedEventHandlerUPPs();
// The procedures of the handlers installed on the target, oldest first.
std::vector<EventHandlerUPP> InstalledEventHandlers(EventTargetRef target);

ThemeCursor CurrentCursor();
long CursorChangeCount();  // SetThemeCursor calls
const std::vector<std::string>& OpenedURLs();
// The menu IDs given to HiliteMenu since the last ResetModel, oldest first.
const std::vector<MenuID>& HilitedMenus();

// ---- Acting as the user ----
// Each returns 0 when the action was possible, else a status saying why
// (errControlHiddenOrDisabled, errUnknownControl, menuItemNotFoundErr...).
// Clicking sends what the control's kind sends: a push button its command;
// a check box toggles first; a radio button is set to 1.
OSStatus UserClick(ControlRef control);
// Focuses the field, selects all its text and types text key by key through
// the field's key filter.
OSStatus UserType(ControlRef control, const std::string& text);
OSStatus UserChooseItem(ControlRef control, SInt32 item);  // pop-up, radio group, tabs
OSStatus UserSetValue(ControlRef control, SInt32 value);    // slider: drag the thumb
OSStatus UserClickArrow(ControlRef control, bool up);       // little arrows
// Sends the menu-enabling event, then the item's command.
OSStatus UserChooseMenuItem(MenuRef menu, MenuItemIndex item);
// Sends a command as from a window's button bar or keyboard ('ok  ' for
// Return, 'not!' for Escape): the button carrying it is clicked when there is
// one, else the command goes to the window.
OSStatus UserSendCommand(WindowRef window, UInt32 command);
OSStatus UserCloseWindow(WindowRef window);  // the close box
OSStatus UserAnswerAlert(DialogRef alert, DialogItemIndex item);
// The mouse over a window: kind kEventMouseDown, kEventMouseUp,
// kEventMouseDragged or kEventMouseMoved at a point of the window's content
// (0, 0 at its top left; control bounds are in the same coordinates). The
// mouse event goes to the window's handlers (then the application's) with
// kEventParamMouseLocation (typeQDPoint, global: the window's bounds give its
// place on the screen), kEventParamWindowMouseLocation (typeQDPoint, the
// content point), kEventParamWindowRef, kEventParamKeyModifiers (typeUInt32),
// kEventParamMouseButton (typeMouseButton), kEventParamClickCount (typeUInt32)
// and, over a control, kEventParamControlRef. A mouse-down nobody took becomes
// kEventControlClick on that control (climbing like other control events),
// with kEventParamDirectObject, kEventParamMouseLocation (typeQDPoint, in the
// control's own coordinates) and kEventParamKeyModifiers.
OSStatus UserMouseInWindow(WindowRef window, EventKind kind, Point where, UInt32 modifiers = 0, UInt32 clickCount = 1,
                           ControlRef over = nullptr);
// A drag: the button goes down at from (window content point), the mouse
// moves through the points of path and the button comes up at the last one.
// The mouse-down's handlers may follow the drag with TrackMouseLocation,
// which gives the points in turn (the last as the release); the steps they
// did not take then come as kEventMouseDragged, and kEventMouseUp ends it.
OSStatus UserDragPath(WindowRef window, Point from, const std::vector<Point>& path, ControlRef over = nullptr);
// The same at a point of the control's own coordinates (0, 0 at its top left).
OSStatus UserMouse(ControlRef control, EventKind kind, Point where, UInt32 modifiers = 0, UInt32 clickCount = 1);
// A key: kEventRawKeyDown (or kEventRawKeyRepeat) to the focused control of
// the window, climbing to the window and the application, with
// kEventParamKeyMacCharCodes (typeChar), kEventParamKeyCode and
// kEventParamKeyModifiers (typeUInt32).
OSStatus UserKey(WindowRef window, char charCode, UInt32 keyCode, UInt32 modifiers = 0, bool repeat = false);
// The command key with that letter: the menu-bar item carrying it.
OSStatus UserPressMenuKey(char key);

// ---- Window actions and the events the system sends on its own ----
// The user drags the size box to `proposed` (global content bounds): the
// window's minimum and maximum sizes are asked for (kEventWindowGetMinimumSize
// and kEventWindowGetMaximumSize, kEventParamDimensions as typeQDPoint v =
// height, h = width) and the proposal kept within them, then
// kEventWindowBoundsChanging goes out with kEventParamAttributes (user resize
// and size changed), kEventParamOriginalBounds, kEventParamPreviousBounds and
// a writable kEventParamCurrentBounds; the bounds the handlers leave there
// become the window's, announced by kEventWindowBoundsChanged with the same
// attributes.
OSStatus UserResizeWindow(WindowRef window, const Rect& proposed);
// The zoom box: the proposal is the window at its maximum size (its current
// size when no handler gives one), attributes zoom (and size changed when the
// size changes); otherwise as UserResizeWindow.
OSStatus UserZoomWindow(WindowRef window);
// A click on a part of a scroll bar (kControlUpButtonPart ..
// kControlPageDownPart): the bar's action procedure is called with the part,
// as the system's tracking does while the button is held (once here).
OSStatus UserClickScrollBarPart(ControlRef scrollBar, ControlPartCode part);
// A drag of the thumb to `value`: the value is set (within the bar's range)
// and the action procedure called with kControlIndicatorPart.
OSStatus UserDragScrollThumb(ControlRef scrollBar, SInt32 value);
// The window's update event (kEventWindowUpdate), as the system sends it to
// a window whose content was invalidated; the handler brackets its drawing
// with BeginUpdate and EndUpdate. Returns what the handlers returned.
OSStatus SendWindowUpdate(WindowRef window);
// The draw-content event (kEventWindowDrawContent) of a compositing window.
OSStatus SendWindowDrawContent(WindowRef window);
// BeginUpdate calls on the window that have no EndUpdate yet.
int WindowUpdateDepth(WindowRef window);

// ---- The colour chooser (GetColor) ----
struct ColorPickerRecord {
  bool shown = false;        // GetColor waits for the user
  std::string prompt;
  Point where{0, 0};
  RGBColor start{0, 0, 0};   // the colour it was opened with
  bool accepted = false;     // the last answer
  RGBColor chosen{0, 0, 0};
  int runs = 0;              // GetColor calls since ResetModel
};
const ColorPickerRecord& ColorPicker();
// Answers the chooser that is up: a colour accepts it, null cancels.
OSStatus UserAnswerColorPicker(const RGBColor* colour);

// ---- Who acts ----
enum class LoopKind { Application, AppModal, Alert, Poll, ColorPicker };
struct LoopState {
  LoopKind kind;
  WindowRef window;  // the modal window (AppModal)
  DialogRef alert;   // the alert (Alert)
};
// Asked for one step of user activity whenever a loop waits for the user.
// Act returns false when it has nothing left to do; Poll is asked from
// RunCurrentEventLoop, where an agent acts only if it wants to.
class UserAgent {
 public:
  virtual ~UserAgent() = default;
  virtual bool Act(const LoopState& state) = 0;
};
// The agent in charge (null: none; loops then wait on the run loop alone).
void SetUserAgent(UserAgent* agent);
UserAgent* GetUserAgent();

// ---- Drawing ----
// The drawing layer plugs in here (the window model does not draw): when set,
// Draw1Control asks begin for a context to draw the control with, passes it
// to the control's handlers in kEventControlDraw as kEventParamCGContextRef
// (typeCGContextRef), then hands it back to end. A null context from begin
// means the draw event carries none.
struct DrawContextProvider {
  std::function<void*(ControlRef control)> begin;
  std::function<void(ControlRef control, void* context)> end;
};
void SetDrawContextProvider(DrawContextProvider provider);

// ---- Watching ----
enum class Change {
  WindowCreated, WindowDisposed, WindowShown, WindowHidden, WindowTitle, WindowBounds,
  ControlChanged, ControlDrawn, ControlDisposed, MenuChanged, AlertShown, AlertClosed, CursorChanged,
};
struct ChangeNote {
  Change change;
  WindowRef window = nullptr;
  ControlRef control = nullptr;
  MenuRef menu = nullptr;
  DialogRef alert = nullptr;
};
class Observer {
 public:
  virtual ~Observer() = default;
  virtual void Changed(const ChangeNote& note) = 0;
};
void AddObserver(Observer* observer);
void RemoveObserver(Observer* observer);

}  // namespace skyloom::ui
