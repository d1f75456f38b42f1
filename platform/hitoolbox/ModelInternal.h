// Records of the headless model, shared by the HIToolbox implementation files.
#pragma once
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/NibDescription.h"
#include "platform/hitoolbox/UIModel.h"

struct OpaqueEventHandlerRef {
  EventTargetRef target = nullptr;
  EventHandlerUPP proc = nullptr;
  std::vector<EventTypeSpec> types;
  void* userData = nullptr;
  bool removed = false;
};

struct OpaqueEventTargetRef {
  enum class Kind { Application, Window, Control, Menu };
  Kind kind;
  void* owner;
  // Oldest first; dispatch walks from the newest.
  std::vector<std::shared_ptr<OpaqueEventHandlerRef>> handlers;
};

using PropertyMap = std::map<std::pair<UInt32, UInt32>, std::vector<UInt8>>;

struct MenuItemRec {
  std::string text;
  MenuCommand command = 0;
  CharParameter mark = noMark;
  bool enabled = true;
  bool separator = false;
  std::string key;
  MenuRef submenu = nullptr;  // retained
  CharParameter cmdChar = 0;  // SetItemCmd; hMenuCmd with a menu ID as mark names a submenu
};

struct OpaqueMenuRef {
  OpaqueEventTargetRef target{OpaqueEventTargetRef::Kind::Menu, nullptr, {}};
  MenuID id = 0;
  std::string name;  // nib name, when made from the nib
  std::string title;
  std::vector<MenuItemRec> items;
  bool enabled = true;
  int refCount = 1;
};

struct OpaqueControlRef {
  OpaqueEventTargetRef target{OpaqueEventTargetRef::Kind::Control, nullptr, {}};
  WindowRef window = nullptr;
  ControlRef parent = nullptr;
  OSType signature = 0;
  SInt32 id = 0;
  OSType kind = 0;
  Rect bounds{0, 0, 0, 0};
  std::string title;
  std::string text;
  SInt32 value = 0, minimum = 0, maximum = 0;
  SRefCon reference = 0;
  ControlActionUPP action = nullptr;
  bool enabled = true;
  bool active = true;
  bool visible = true;
  SInt16 selStart = 0, selEnd = 0;
  ControlKeyFilterUPP keyFilter = nullptr;
  ControlUserPaneDrawUPP drawProc = nullptr;
  UInt32 command = 0;
  MenuRef menu = nullptr;            // a pop-up's menu (retained)
  std::vector<std::string> items;    // a radio group's or tabs' items
  bool isDefault = false, isCancel = false;
  long drawCount = 0;
  PropertyMap properties;
  HIObjectClassRef hiClass = nullptr;  // a view of a registered subclass
  void* instance = nullptr;            // the subclass's own record
  bool isRoot = false;
  bool indeterminate = false;
  bool animating = true;
  SInt32 viewSize = 0;  // a scroll bar's page
  UInt32 features = 0;  // control features a view's subclass asked for
  // Scroll views and scrollable image views.
  OptionBits scrollOptions = 0;
  bool autoHide = false;
  std::shared_ptr<void> image;  // an image view's picture, released by its own deleter
  UInt32 imageWidth = 0, imageHeight = 0;
  CGPoint scrollOrigin{0, 0};
  bool opaque = true;
  CGFloat alpha = 1.0;
  bool scaleToFit = false;
};

struct OpaqueWindowPtr {
  OpaqueEventTargetRef target{OpaqueEventTargetRef::Kind::Window, nullptr, {}};
  std::string nibName;
  WindowClass windowClass = kDocumentWindowClass;
  WindowAttributes attributes = 0;
  std::string title;
  Rect bounds{0, 0, 0, 0};
  bool visible = false;
  SRefCon refCon = 0;
  std::vector<std::unique_ptr<OpaqueControlRef>> controls;
  std::unique_ptr<OpaqueControlRef> root;  // made when first asked for
  ControlRef focus = nullptr;
  WindowRef sheet = nullptr;        // the sheet shown on this window
  WindowRef sheetParent = nullptr;  // the window this sheet is shown on
  int modalRuns = 0;                // nested RunAppModalLoopForWindow on it
  bool quitModal = false;
  int modalState = 0;               // BeginAppModalStateForWindow depth
  long drawCount = 0;
  long idleCount = 0;  // IdleControls calls
  PropertyMap properties;
  WindowGroupRef group = nullptr;  // null: its class's group
  long invalidations = 0;          // InvalWindowRect calls
  int updates = 0;                 // BeginUpdate depth
};

struct OpaqueWindowGroupRef {
  WindowGroupAttributes attributes = 0;
  WindowGroupRef parent = nullptr;
  int refCount = 1;
  bool classGroup = false;
};

struct OpaqueIBNibRef {
  std::string name;
  std::shared_ptr<const skyloom::ui::NibDescription> desc;
};

struct EventParam {
  EventParamType type;
  std::vector<UInt8> bytes;
};

struct OpaqueEventRef {
  EventClass eventClass = 0;
  EventKind kind = 0;
  EventTime when = 0;
  std::map<EventParamName, EventParam> params;
  int refCount = 1;
};

struct OpaqueDialogPtr {
  size_t logIndex = 0;  // its record in the alert log
  DialogItemIndex defaultButton = kAlertStdAlertOKButton;
  DialogItemIndex cancelButton = 0;
  bool running = false;
};

struct OpaqueEventLoopTimerRef {
  CFRunLoopTimerRef timer = nullptr;
  EventLoopTimerUPP proc = nullptr;
  void* data = nullptr;
  bool repeats = false;
};

namespace skyloom::ui::internal {

struct Model {
  OpaqueEventTargetRef appTarget{OpaqueEventTargetRef::Kind::Application, nullptr, {}};
  std::vector<WindowRef> windows;  // front first; the model owns them
  std::vector<std::unique_ptr<OpaqueControlRef>> looseViews;  // views in no window yet
  std::map<std::string, HIObjectClassRef> classes;
  std::set<const void*> liveWindows, liveControls, liveMenus, liveEvents, liveDialogs, liveTimers, liveHandlers;
  std::vector<MenuRef> menuBar;    // retained
  std::vector<MenuRef> hierMenus;  // retained
  ThemeCursor cursor = kThemeArrowCursor;
  bool helpTagsDisplayed = true;
  long cursorChanges = 0;
  std::vector<AlertRecord> alerts;
  std::vector<DialogRef> alertStack;
  std::vector<WindowRef> modalStack;
  UserAgent* agent = nullptr;
  std::vector<Observer*> observers;
  DrawContextProvider drawing;
  // Per routine: the status, how many calls still succeed first, how many then fail.
  struct Failure {
    OSStatus status = noErr;
    int pass = 0;
    int count = 0;
  };
  std::map<std::string, Failure> failures;
  std::function<OSStatus(const std::string&)> urlOpener;
  std::vector<std::string> openedURLs;
  std::vector<MenuID> hilitedMenus;  // HiliteMenu calls
  Rect screen{0, 0, 1200, 1920};
  Rect availableScreen{22, 0, 1200, 1920};
  int appLoopRuns = 0;
  long appLoopEntries = 0;  // RunApplicationEventLoop calls since the reset
  std::vector<EventHandlerUPP> disposedHandlerUPPs;
  bool quitAppLoop = false;
  // The drag going on: the points TrackMouseLocation still gives
  // (window-local), and where the mouse was last.
  std::deque<Point> trackFeed;
  Point lastMouse{0, 0};
  // The colour chooser while GetColor waits for the user.
  ColorPickerRecord colorPicker;
  bool colorPickerAnswered = false;
};

Model& model();

bool isLiveWindow(WindowRef w);
bool isLiveControl(ControlRef c);
bool isLiveMenu(MenuRef m);
// The submenu an item shows: the one set on it, else, for an item whose
// command character is hMenuCmd, the menu of the hierarchical list whose ID
// is the item's mark (null when none is inserted).
MenuRef submenuOf(const MenuItemRec& item);

// 0, or the status injected for the next call of that name.
OSStatus takeFailure(const char* call);
void notify(Change change, WindowRef w = nullptr, ControlRef c = nullptr, MenuRef m = nullptr, DialogRef a = nullptr);

// Text held by the model is UTF-8.
std::string toUtf8(CFStringRef s);
CFStringRef fromUtf8(const std::string& s);  // caller releases

// Builds a window from its description; the window is hidden.
OSStatus buildWindow(const NibDescription& nib, const WindowDesc& desc, WindowRef* outWindow);
OSStatus buildMenu(const NibDescription& nib, const MenuDesc& desc, MenuRef* outMenu);

// Sends a command event (kEventClassCommand / kEventCommandProcess) to target.
OSStatus sendCommand(EventTargetRef target, UInt32 commandID, UInt32 attributes, ControlRef control,
                     WindowRef window, MenuRef menu, MenuItemIndex item);
OSStatus sendSimpleEvent(EventTargetRef target, EventClass cls, EventKind kind, EventParamName directName,
                         EventParamType directType, const void* direct, ByteCount directSize);
// Draws what a control of a built-in kind shows by itself (an image view's
// picture) into its window; set by the layer that owns the drawing.
using BuiltInDrawer = void (*)(ControlRef control);
void setBuiltInDrawer(OSType kind, BuiltInDrawer drawer);
BuiltInDrawer builtInDrawer(OSType kind);

// Removes every handler of the target (its owner is going away).
void clearHandlers(OpaqueEventTargetRef& target);

// A view of a registered subclass: construct, install the class's handler,
// initialize (with the parameters of init, when given).
OSStatus constructView(ControlRef view, HIObjectClassRef cls, EventRef init);
// Tells a subclass view that it goes away, then forgets its handlers.
void destructView(ControlRef view);
HIObjectClassRef findClass(const std::string& id);

// Scroll views: a scroll view's embedded views take its bounds.
void fitScrollContent(ControlRef scrollView);
// A new view record of that kind, in no window (the model owns it).
ControlRef newLooseView(OSType kind);
// Gives the view the built-in answers of a scrollable view.
void installScrollableHandler(ControlRef view);

// Keeps the pop-up's range in step with its menu.
void syncPopupRange(ControlRef c);
// Pops the pop-up controls whose menu changed.
void menuChanged(MenuRef m);

// Runs what is ready on the main run loop and returns.
void runReadyWork();
// Lets the user (agent) take one step; returns false when the agent had
// nothing left or there is no agent (after waiting on the run loop a little).
bool letUserAct(const LoopState& state);
// Wakes loops that wait on the run loop (after a quit flag was set).
void wakeMainLoop();

}  // namespace skyloom::ui::internal
