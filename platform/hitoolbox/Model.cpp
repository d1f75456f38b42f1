// The model's state, resource lookup, nib references and the window records.
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/corefoundation/CFBundle.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace skyloom::ui::internal {

Model& model() {
  // Windows belong to the main thread; say so once per thread that forgets it.
  thread_local int checked = 0;
  if (!checked) {
    checked = 1;
    if (pid_t(syscall(SYS_gettid)) != getpid())
      fprintf(stderr, "HIToolbox called off the main thread (thread %ld); the window model is not locked\n",
              long(syscall(SYS_gettid)));
  }
  static Model m;
  return m;
}

bool isLiveWindow(WindowRef w) { return w && model().liveWindows.count(w); }
bool isLiveControl(ControlRef c) { return c && model().liveControls.count(c); }
bool isLiveMenu(MenuRef m) { return m && model().liveMenus.count(m); }

OSStatus takeFailure(const char* call) {
  auto& f = model().failures;
  auto it = f.find(call);
  if (it == f.end()) return noErr;
  Model::Failure& failure = it->second;
  if (failure.count <= 0) {
    f.erase(it);
    return noErr;
  }
  if (failure.pass > 0) {
    --failure.pass;
    return noErr;
  }
  OSStatus s = failure.status;
  if (--failure.count == 0) f.erase(it);
  return s;
}

void notify(Change change, WindowRef w, ControlRef c, MenuRef m, DialogRef a) {
  ChangeNote note{change, w, c, m, a};
  std::vector<Observer*> obs = model().observers;
  for (Observer* o : obs) o->Changed(note);
}

std::string toUtf8(CFStringRef s) {
  if (!s) return {};
  CFIndex len = CFStringGetLength(s);
  CFIndex max = CFStringGetMaximumSizeForEncoding(len, kCFStringEncodingUTF8) + 1;
  std::string buf(size_t(max), '\0');
  if (!CFStringGetCString(s, buf.data(), max, kCFStringEncodingUTF8)) return {};
  buf.resize(strlen(buf.c_str()));
  return buf;
}

CFStringRef fromUtf8(const std::string& s) {
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(s.data()), CFIndex(s.size()),
                                 kCFStringEncodingUTF8, false);
}

}  // namespace skyloom::ui::internal

namespace skyloom::ui {

void SetResourceDirectory(const std::string& folder) { SkyloomSetBundleResourceDirectory(folder); }

std::string ResourceDirectory() { return SkyloomBundleResourceDirectory(); }

void SetScreenBounds(const Rect& full, const Rect& available) {
  model().screen = full;
  model().availableScreen = available;
}

void InjectFailure(const std::string& call, OSStatus status, int count) { InjectFailureAt(call, status, 1, count); }

void InjectFailureAt(const std::string& call, OSStatus status, int nth, int count) {
  if (count <= 0) {
    model().failures.erase(call);
    return;
  }
  model().failures[call] = {status, nth > 1 ? nth - 1 : 0, count};
}

long ApplicationLoopEntries() { return model().appLoopEntries; }
std::vector<EventHandlerUPP> DisposedEventHandlerUPPs() { return model().disposedHandlerUPPs; }

std::vector<WindowRef> Windows() { return model().windows; }

WindowRef FindWindow(const std::string& nibName) {
  for (WindowRef w : model().windows)
    if (w->nibName == nibName) return w;
  return nullptr;
}

std::string WindowName(WindowRef w) { return isLiveWindow(w) ? w->nibName : std::string(); }
std::string WindowTitle(WindowRef w) { return isLiveWindow(w) ? w->title : std::string(); }
WindowRef SheetOf(WindowRef parent) { return isLiveWindow(parent) ? parent->sheet : nullptr; }
WindowRef ModalWindow() { return model().modalStack.empty() ? nullptr : model().modalStack.back(); }
long WindowDrawCount(WindowRef w) { return isLiveWindow(w) ? w->drawCount : 0; }
long WindowIdleCount(WindowRef w) { return isLiveWindow(w) ? w->idleCount : 0; }

ControlRef FindControl(WindowRef w, OSType signature, SInt32 id) {
  ControlID cid{signature, id};
  ControlRef c = nullptr;
  return GetControlByID(w, &cid, &c) == noErr ? c : nullptr;
}

std::vector<ControlRef> Controls(WindowRef w) {
  std::vector<ControlRef> out;
  if (!isLiveWindow(w)) return out;
  for (auto& c : w->controls) out.push_back(c.get());
  return out;
}

OSType ControlKindOf(ControlRef c) { return isLiveControl(c) ? c->kind : 0; }
std::string ControlText(ControlRef c) { return isLiveControl(c) ? c->text : std::string(); }
std::string ControlTitle(ControlRef c) { return isLiveControl(c) ? c->title : std::string(); }
long ControlDrawCount(ControlRef c) { return isLiveControl(c) ? c->drawCount : 0; }
ControlEditTextSelectionRec ControlSelection(ControlRef c) {
  return isLiveControl(c) ? ControlEditTextSelectionRec{c->selStart, c->selEnd} : ControlEditTextSelectionRec{0, 0};
}
ControlKeyFilterUPP ControlKeyFilter(ControlRef c) { return isLiveControl(c) ? c->keyFilter : nullptr; }
ControlRef FocusedControl(WindowRef w) { return isLiveWindow(w) ? w->focus : nullptr; }
UInt32 ControlCommand(ControlRef c) { return isLiveControl(c) ? c->command : 0; }

std::vector<std::string> ControlItems(ControlRef c) {
  std::vector<std::string> out;
  if (!isLiveControl(c)) return out;
  if (c->menu) {
    for (auto& i : c->menu->items) out.push_back(i.text);
    return out;
  }
  return c->items;
}

ThemeCursor CurrentCursor() { return model().cursor; }
long CursorChangeCount() { return model().cursorChanges; }
const std::vector<std::string>& OpenedURLs() { return model().openedURLs; }
const std::vector<MenuID>& HilitedMenus() { return model().hilitedMenus; }

void SetDrawContextProvider(DrawContextProvider provider) { model().drawing = std::move(provider); }

void AddObserver(Observer* o) { model().observers.push_back(o); }
void RemoveObserver(Observer* o) {
  auto& v = model().observers;
  v.erase(std::remove(v.begin(), v.end(), o), v.end());
}

void SetUserAgent(UserAgent* agent) { model().agent = agent; }
UserAgent* GetUserAgent() { return model().agent; }

void SetURLOpener(std::function<OSStatus(const std::string&)> opener) { model().urlOpener = std::move(opener); }

namespace {

std::string codeText(UInt32 c) {
  std::string s = "'";
  for (int sh = 24; sh >= 0; sh -= 8) {
    char ch = char((c >> sh) & 0xFF);
    s += (ch >= 32 && ch < 127) ? ch : '?';
  }
  return s + "'";
}

}  // namespace

std::string DescribeWindow(WindowRef w) {
  if (!isLiveWindow(w)) return "(no window)\n";
  std::string out = "window \"" + w->nibName + "\" title=\"" + w->title + "\"" + (w->visible ? " shown" : " hidden");
  if (w->sheetParent) out += " sheet-on=\"" + w->sheetParent->nibName + "\"";
  if (w->modalRuns) out += " modal";
  out += "\n";
  for (auto& c : w->controls) {
    out += "  " + codeText(c->signature) + " " + std::to_string(c->id) + " " + codeText(c->kind);
    out += " value=" + std::to_string(c->value) + " [" + std::to_string(c->minimum) + "," +
           std::to_string(c->maximum) + "]";
    if (!c->title.empty()) out += " title=\"" + c->title + "\"";
    if (!c->text.empty() || c->kind == kControlKindEditUnicodeText) out += " text=\"" + c->text + "\"";
    if (!IsControlEnabled(c.get())) out += " disabled";
    if (!IsControlVisible(c.get())) out += " hidden";
    if (w->focus == c.get()) out += " focus";
    if (c->command) out += " command=" + codeText(c->command);
    std::vector<std::string> items = ControlItems(c.get());
    for (size_t i = 0; i < items.size(); ++i) {
      out += i ? "|" : " items=";
      out += items[i];
      if (c->menu && c->menu->items[i].mark) out += "*";
    }
    out += "\n";
  }
  return out;
}

std::string DescribeModel() {
  std::string out;
  for (WindowRef w : model().windows) out += DescribeWindow(w);
  for (const AlertRecord& a : model().alerts)
    out += "alert \"" + a.title + "\" \"" + a.message + "\" answer=" + std::to_string(a.answer) + "\n";
  return out;
}

void ResetModel() {
  Model& m = model();
  while (!m.windows.empty()) DisposeWindow(m.windows.back());
  while (!m.looseViews.empty()) DisposeControl(m.looseViews.back().get());
  std::vector<HIObjectClassRef> classes;
  for (auto& [id, cls] : m.classes) classes.push_back(cls);
  for (HIObjectClassRef cls : classes) HIObjectUnregisterClass(cls);
  std::vector<MenuRef> bar = m.menuBar, hier = m.hierMenus;
  m.menuBar.clear();
  m.hierMenus.clear();
  for (MenuRef menu : bar) ReleaseMenu(menu);
  for (MenuRef menu : hier) ReleaseMenu(menu);
  std::vector<EventLoopTimerRef> timers;
  for (const void* t : m.liveTimers) timers.push_back(const_cast<EventLoopTimerRef>(static_cast<const OpaqueEventLoopTimerRef*>(t)));
  for (EventLoopTimerRef t : timers) RemoveEventLoopTimer(t);
  clearHandlers(m.appTarget);
  m.alerts.clear();
  m.cursor = kThemeArrowCursor;
  m.cursorChanges = 0;
  m.helpTagsDisplayed = true;
  m.failures.clear();
  m.openedURLs.clear();
  m.hilitedMenus.clear();
  m.urlOpener = nullptr;
  m.quitAppLoop = false;
  m.appLoopEntries = 0;
  m.disposedHandlerUPPs.clear();
  m.trackFeed.clear();
  m.lastMouse = Point{0, 0};
  m.colorPicker = ColorPickerRecord{};
  m.colorPickerAnswered = false;
}

}  // namespace skyloom::ui

// ---- Nib references ----

TextEncoding GetApplicationTextEncoding() { return kCFStringEncodingUTF8; }

OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef) {
  if (!inNibName || !outNibRef) return paramErr;
  *outNibRef = nullptr;
  if (OSStatus s = takeFailure("CreateNibReference")) return s;
  std::string name = toUtf8(inNibName);
  if (name.empty() || name.find('/') != std::string::npos) return kIBCarbonRuntimeCantFindNibFile;
  std::string folder = ResourceDirectory() + "/" + name + ".nib";
  auto desc = std::make_shared<NibDescription>();
  std::string error;
  if (!LoadNibDescriptionFolder(folder, *desc, error)) {
    fprintf(stderr, "CreateNibReference %s failed: %s\n", name.c_str(), error.c_str());
    return access(folder.c_str(), F_OK) == 0 ? kIBCarbonRuntimeObjectNotOfRequestedType
                                             : kIBCarbonRuntimeCantFindNibFile;
  }
  *outNibRef = new OpaqueIBNibRef{name, std::move(desc)};
  return noErr;
}

OSStatus DisposeNibReference(IBNibRef inNibRef) {
  delete inNibRef;
  return noErr;
}

OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow) {
  if (!inNibRef || !inName || !outWindow) return paramErr;
  *outWindow = nullptr;
  if (OSStatus s = takeFailure("CreateWindowFromNib")) return s;
  std::string name = toUtf8(inName);
  auto it = inNibRef->desc->windows.find(name);
  if (it == inNibRef->desc->windows.end()) {
    bool other = inNibRef->desc->menus.count(name) || inNibRef->desc->menuBars.count(name);
    return other ? kIBCarbonRuntimeObjectNotOfRequestedType : kIBCarbonRuntimeCantFindObject;
  }
  return buildWindow(*inNibRef->desc, it->second, outWindow);
}

OSStatus CreateMenuFromNib(IBNibRef inNibRef, CFStringRef inName, MenuRef* outMenuRef) {
  if (!inNibRef || !inName || !outMenuRef) return paramErr;
  *outMenuRef = nullptr;
  std::string name = toUtf8(inName);
  if (OSStatus s = takeFailure("CreateMenuFromNib")) return s;
  if (OSStatus s = takeFailure(("CreateMenuFromNib:" + name).c_str())) return s;
  auto it = inNibRef->desc->menus.find(name);
  if (it == inNibRef->desc->menus.end()) {
    bool other = inNibRef->desc->windows.count(name) || inNibRef->desc->menuBars.count(name);
    return other ? kIBCarbonRuntimeObjectNotOfRequestedType : kIBCarbonRuntimeCantFindObject;
  }
  return buildMenu(*inNibRef->desc, it->second, outMenuRef);
}

OSStatus SetMenuBarFromNib(IBNibRef inNibRef, CFStringRef inName) {
  if (!inNibRef || !inName) return paramErr;
  if (OSStatus s = takeFailure("SetMenuBarFromNib")) return s;
  std::string name = toUtf8(inName);
  auto it = inNibRef->desc->menuBars.find(name);
  if (it == inNibRef->desc->menuBars.end()) return kIBCarbonRuntimeCantFindObject;
  std::vector<MenuRef> made;
  for (const MenuDesc& md : it->second.menus) {
    MenuRef m = nullptr;
    if (OSStatus s = buildMenu(*inNibRef->desc, md, &m)) {
      for (MenuRef x : made) ReleaseMenu(x);
      return s;
    }
    made.push_back(m);
  }
  Model& mdl = model();
  std::vector<MenuRef> old = mdl.menuBar;
  mdl.menuBar = made;  // the bar keeps the creation reference
  for (MenuRef x : old) ReleaseMenu(x);
  return noErr;
}

// ---- Windows ----

namespace {

WindowRef newWindowRecord(WindowClass cls, WindowAttributes attrs, const Rect& bounds) {
  auto* w = new OpaqueWindowPtr;
  w->target.owner = w;
  w->windowClass = cls;
  w->attributes = attrs;
  w->bounds = bounds;
  Model& m = model();
  m.liveWindows.insert(w);
  // A new window comes behind the others until it is shown.
  m.windows.push_back(w);
  return w;
}

void bringToFront(WindowRef w) {
  auto& v = model().windows;
  auto it = std::find(v.begin(), v.end(), w);
  if (it != v.end()) {
    v.erase(it);
    v.insert(v.begin(), w);
  }
}

}  // namespace

namespace skyloom::ui::internal {

OSStatus buildWindow(const NibDescription& nib, const WindowDesc& desc, WindowRef* outWindow) {
  WindowRef w = newWindowRecord(desc.windowClass, desc.attributes, desc.bounds);
  w->nibName = desc.name;
  w->title = desc.title;
  for (const ControlDesc& cd : desc.controls) {
    ControlID id{cd.signature, cd.id};
    ControlRef c = nullptr;
    OSStatus s = SkyloomCreateControl(w, &cd.bounds, cd.kind, &id, &c);
    if (s == noErr && cd.embedded) {
      for (auto& p : w->controls) {
        if (p->signature == cd.parentSignature && p->id == cd.parentId && p.get() != c) {
          c->parent = p.get();
          break;
        }
      }
    }
    if (s != noErr) {
      DisposeWindow(w);
      return s;
    }
    c->title = cd.title;
    c->text = cd.text;
    c->command = cd.command;
    c->enabled = cd.enabled;
    c->visible = cd.visible;
    c->isDefault = cd.isDefault;
    c->isCancel = cd.isCancel;
    if (!cd.className.empty()) {
      HIObjectClassRef cls = findClass(cd.className);
      OSStatus vs = cls ? constructView(c, cls, nullptr) : OSStatus(kIBCarbonRuntimeCantFindObject);
      if (vs != noErr) {
        fprintf(stderr, "CreateWindowFromNib %s: the view at line %d (class %s) could not be made: %d\n",
                desc.name.c_str(), cd.line, cd.className.c_str(), int(vs));
        DisposeWindow(w);
        return vs;
      }
    }
    if (cd.kind == kControlKindPopupButton) {
      MenuRef menu = nullptr;
      if (!cd.menuName.empty()) {
        auto it = nib.menus.find(cd.menuName);
        if (it == nib.menus.end()) {
          fprintf(stderr, "CreateWindowFromNib %s: the pop-up at line %d names no menu of the nib\n",
                  desc.name.c_str(), cd.line);
          DisposeWindow(w);
          return kIBCarbonRuntimeCantFindObject;
        }
        if (OSStatus ms = buildMenu(nib, it->second, &menu)) {
          DisposeWindow(w);
          return ms;
        }
      } else {
        MenuDesc md;
        md.items = cd.items;
        if (OSStatus ms = buildMenu(nib, md, &menu)) {
          DisposeWindow(w);
          return ms;
        }
      }
      c->menu = menu;  // the control keeps the creation reference
    } else {
      for (const ItemDesc& i : cd.items) c->items.push_back(i.text);
    }
    // Limits first, then the value, which they clamp.
    if (cd.hasMinimum) c->minimum = cd.minimum;
    if (cd.hasMaximum) c->maximum = cd.maximum;
    c->viewSize = cd.viewSize;
    if (c->menu) {
      c->minimum = c->menu->items.empty() ? 0 : 1;
      c->maximum = SInt32(c->menu->items.size());
    } else if (!c->items.empty()) {
      c->minimum = 1;
      c->maximum = SInt32(c->items.size());
    }
    if (c->maximum < c->minimum) c->maximum = c->minimum;
    c->value = cd.hasValue ? cd.value : (c->menu || !c->items.empty() ? c->minimum : c->value);
    c->value = std::clamp(c->value, c->minimum, c->maximum);
  }
  *outWindow = w;
  notify(Change::WindowCreated, w);
  return noErr;
}

}  // namespace skyloom::ui::internal

OSStatus CreateNewWindow(WindowClass windowClass, WindowAttributes attributes, const Rect* contentBounds,
                         WindowRef* outWindow) {
  if (!contentBounds || !outWindow) return paramErr;
  *outWindow = newWindowRecord(windowClass, attributes, *contentBounds);
  notify(Change::WindowCreated, *outWindow);
  return noErr;
}

void DisposeWindow(WindowRef w) {
  if (!isLiveWindow(w)) return;
  Model& m = model();
  if (w->sheet) HideSheetWindow(w->sheet);
  if (w->sheetParent && w->sheetParent->sheet == w) w->sheetParent->sheet = nullptr;
  for (WindowRef other : m.windows)
    if (other->sheetParent == w) other->sheetParent = nullptr;
  // From here on no handler of the window or its controls hears anything;
  // a dispatch still under way finds them dead by the live sets.
  for (auto it = w->controls.rbegin(); it != w->controls.rend(); ++it) destructView(it->get());
  clearHandlers(w->target);
  for (auto it = w->controls.rbegin(); it != w->controls.rend(); ++it) {
    ControlRef c = it->get();
    if (c->menu) ReleaseMenu(c->menu);
    m.liveControls.erase(c);
  }
  if (w->root) {
    clearHandlers(w->root->target);
    m.liveControls.erase(w->root.get());
  }
  m.windows.erase(std::remove(m.windows.begin(), m.windows.end(), w), m.windows.end());
  m.modalStack.erase(std::remove(m.modalStack.begin(), m.modalStack.end(), w), m.modalStack.end());
  m.liveWindows.erase(w);
  notify(Change::WindowDisposed, w);
  delete w;
}

void ShowWindow(WindowRef w) {
  if (!isLiveWindow(w)) return;
  bringToFront(w);
  if (w->visible) return;
  w->visible = true;
  notify(Change::WindowShown, w);
  sendSimpleEvent(&w->target, kEventClassWindow, kEventWindowShown, kEventParamDirectObject, typeWindowRef, &w,
                  sizeof w);
}

void HideWindow(WindowRef w) {
  if (!isLiveWindow(w) || !w->visible) return;
  w->visible = false;
  notify(Change::WindowHidden, w);
  sendSimpleEvent(&w->target, kEventClassWindow, kEventWindowHidden, kEventParamDirectObject, typeWindowRef, &w,
                  sizeof w);
}

Boolean IsWindowVisible(WindowRef w) { return isLiveWindow(w) && w->visible; }

void SelectWindow(WindowRef w) {
  if (!isLiveWindow(w)) return;
  // A group selected as a layer comes forward whole, the chosen window first.
  WindowGroupRef g = w->group;
  if (g != nullptr && (g->attributes & kWindowGroupAttrSelectAsLayer)) {
    std::vector<WindowRef> members;
    for (WindowRef other : model().windows)
      if (other != w && other->group == g) members.push_back(other);
    for (auto it = members.rbegin(); it != members.rend(); ++it) bringToFront(*it);
  }
  bringToFront(w);
}

WindowRef FrontWindow() {
  for (WindowRef w : model().windows)
    if (w->visible) return w;
  return nullptr;
}

WindowRef FrontNonFloatingWindow() {
  for (WindowRef w : model().windows)
    if (w->visible && w->windowClass != kFloatingWindowClass && w->windowClass != kUtilityWindowClass &&
        w->windowClass != kSheetWindowClass && w->windowClass != kSheetAlertWindowClass)
      return w;
  return nullptr;
}

WindowRef ActiveNonFloatingWindow() { return FrontNonFloatingWindow(); }

WindowRef GetFrontWindowOfClass(WindowClass cls, Boolean mustBeVisible) {
  for (WindowRef w : model().windows)
    if (w->windowClass == cls && (!mustBeVisible || w->visible)) return w;
  return nullptr;
}

WindowRef GetNextWindowOfClass(WindowRef inWindow, WindowClass cls, Boolean mustBeVisible) {
  auto& v = model().windows;
  auto it = std::find(v.begin(), v.end(), inWindow);
  if (it == v.end()) return nullptr;
  for (++it; it != v.end(); ++it)
    if ((*it)->windowClass == cls && (!mustBeVisible || (*it)->visible)) return *it;
  return nullptr;
}

OSStatus GetWindowClass(WindowRef w, WindowClass* outClass) {
  if (!isLiveWindow(w) || !outClass) return errInvalidWindowRef;
  *outClass = w->windowClass;
  return noErr;
}

OSStatus GetWindowAttributes(WindowRef w, WindowAttributes* outAttributes) {
  if (!isLiveWindow(w) || !outAttributes) return errInvalidWindowRef;
  *outAttributes = w->attributes;
  return noErr;
}

OSStatus SetWindowTitleWithCFString(WindowRef w, CFStringRef s) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!s) return paramErr;
  w->title = toUtf8(s);
  notify(Change::WindowTitle, w);
  return noErr;
}

OSStatus CopyWindowTitleAsCFString(WindowRef w, CFStringRef* out) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!out) return paramErr;
  *out = fromUtf8(w->title);
  return *out ? OSStatus(noErr) : memFullErr;
}

void SetWRefCon(WindowRef w, SRefCon data) {
  if (isLiveWindow(w)) w->refCon = data;
}

SRefCon GetWRefCon(WindowRef w) { return isLiveWindow(w) ? w->refCon : 0; }

OSStatus GetWindowBounds(WindowRef w, WindowRegionCode, Rect* b) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!b) return paramErr;
  *b = w->bounds;
  return noErr;
}

Rect* GetWindowPortBounds(WindowRef w, Rect* b) {
  if (!b) return b;
  *b = Rect{0, 0, 0, 0};
  if (isLiveWindow(w)) {
    b->bottom = short(w->bounds.bottom - w->bounds.top);
    b->right = short(w->bounds.right - w->bounds.left);
  }
  return b;
}

GDHandle GetMainDevice() {
  static int mainDevice;
  return &mainDevice;
}

OSStatus GetAvailableWindowPositioningBounds(GDHandle device, Rect* out) {
  if (!device || device != GetMainDevice() || !out) return paramErr;
  if (OSStatus s = takeFailure("GetAvailableWindowPositioningBounds")) return s;
  *out = model().availableScreen;
  return noErr;
}

RgnHandle GetGrayRgn() {
  static int desktop;
  return reinterpret_cast<RgnHandle>(&desktop);
}

Rect* GetRegionBounds(RgnHandle region, Rect* bounds) {
  if (!bounds) return nullptr;
  *bounds = Rect{0, 0, 0, 0};
  if (region != GetGrayRgn()) return bounds;
  // The menu bar is the strip above the available area.
  const Rect& full = model().screen;
  *bounds = full;
  bounds->top = std::max(full.top, model().availableScreen.top);
  return bounds;
}

OSStatus SetWindowBounds(WindowRef w, WindowRegionCode, const Rect* b) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!b) return paramErr;
  const Rect before = w->bounds;
  w->bounds = *b;
  notify(Change::WindowBounds, w);
  // What changed, and the new bounds, as the handlers of document windows read them.
  UInt32 attributes = 0;
  if (b->right - b->left != before.right - before.left || b->bottom - b->top != before.bottom - before.top)
    attributes |= kWindowBoundsChangeSizeChanged;
  if (b->left != before.left || b->top != before.top) attributes |= kWindowBoundsChangeOriginChanged;
  EventRef e = nullptr;
  if (CreateEvent(nullptr, kEventClassWindow, kEventWindowBoundsChanged, GetCurrentEventTime(), 0, &e) == noErr) {
    SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
    SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
    SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof *b, b);
    SendEventToEventTarget(e, &w->target);
    ReleaseEvent(e);
  }
  return noErr;
}

void SizeWindow(WindowRef w, short width, short height, Boolean) {
  if (!isLiveWindow(w)) return;
  Rect b = w->bounds;
  b.right = short(b.left + width);
  b.bottom = short(b.top + height);
  SetWindowBounds(w, kWindowContentRgn, &b);
}

void MoveWindow(WindowRef w, short h, short v, Boolean front) {
  if (!isLiveWindow(w)) return;
  Rect b = w->bounds;
  short width = short(b.right - b.left), height = short(b.bottom - b.top);
  b.left = h;
  b.top = v;
  b.right = short(h + width);
  b.bottom = short(v + height);
  SetWindowBounds(w, kWindowContentRgn, &b);
  if (front) bringToFront(w);
}

namespace {

OSStatus setProperty(PropertyMap& map, PropertyCreator creator, PropertyTag tag, ByteCount size, const void* buffer) {
  if (size && !buffer) return paramErr;
  const UInt8* p = static_cast<const UInt8*>(buffer);
  map[{creator, tag}] = std::vector<UInt8>(p, p + size);
  return noErr;
}

OSStatus getProperty(const PropertyMap& map, PropertyCreator creator, PropertyTag tag, ByteCount bufferSize,
                     ByteCount* actualSize, void* buffer) {
  auto it = map.find({creator, tag});
  if (it == map.end()) return controlPropertyNotFoundErr;
  if (actualSize) *actualSize = ByteCount(it->second.size());
  if (buffer) {
    if (bufferSize < it->second.size()) return errDataSizeMismatch;
    if (!it->second.empty()) memcpy(buffer, it->second.data(), it->second.size());
  }
  return noErr;
}

}  // namespace

OSStatus SetWindowProperty(WindowRef w, PropertyCreator creator, PropertyTag tag, ByteCount size, const void* buffer) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  return setProperty(w->properties, creator, tag, size, buffer);
}

OSStatus GetWindowProperty(WindowRef w, PropertyCreator creator, PropertyTag tag, ByteCount bufferSize,
                           ByteCount* actualSize, void* buffer) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  return getProperty(w->properties, creator, tag, bufferSize, actualSize, buffer);
}

OSStatus RemoveWindowProperty(WindowRef w, PropertyCreator creator, PropertyTag tag) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  return w->properties.erase({creator, tag}) ? OSStatus(noErr) : controlPropertyNotFoundErr;
}

OSStatus SetControlProperty(ControlRef c, PropertyCreator creator, PropertyTag tag, ByteCount size,
                            const void* buffer) {
  if (!isLiveControl(c)) return errUnknownControl;
  return setProperty(c->properties, creator, tag, size, buffer);
}

OSStatus GetControlProperty(ControlRef c, PropertyCreator creator, PropertyTag tag, ByteCount bufferSize,
                            ByteCount* actualSize, void* buffer) {
  if (!isLiveControl(c)) return errUnknownControl;
  return getProperty(c->properties, creator, tag, bufferSize, actualSize, buffer);
}

OSStatus RemoveControlProperty(ControlRef c, PropertyCreator creator, PropertyTag tag) {
  if (!isLiveControl(c)) return errUnknownControl;
  return c->properties.erase({creator, tag}) ? OSStatus(noErr) : controlPropertyNotFoundErr;
}

OSStatus HIViewSetNeedsDisplay(HIViewRef v, Boolean needs) {
  if (!isLiveControl(v)) return errUnknownControl;
  if (needs) Draw1Control(v);
  return noErr;
}

void DrawControls(WindowRef w) {
  if (!isLiveWindow(w)) return;
  ++w->drawCount;
  std::vector<ControlRef> cs = Controls(w);
  for (ControlRef c : cs)
    if (isLiveControl(c)) Draw1Control(c);
}

void IdleControls(WindowRef w) {
  if (isLiveWindow(w)) ++w->idleCount;
}
