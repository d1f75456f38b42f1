// Loops that wait for the user (application, app-modal, alerts), sheets,
// standard alerts, the theme cursor, the URL opener, and the actions through
// which a user (scripted or real) changes the model.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "platform/coreservices/Threads.h"
#include "platform/appleevents/AppleEvents.h"
#include "platform/hitoolbox/ModelInternal.h"

extern char** environ;

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace skyloom::ui::internal {

void runReadyWork() { CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0, false); }

bool letUserAct(const LoopState& state) {
  if (UserAgent* a = model().agent) return a->Act(state);
  // Nobody scripted: wait on the run loop for whatever ends the loop.
  if (CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.25, true) == kCFRunLoopRunFinished) usleep(10000);
  return true;
}

void wakeMainLoop() {
  CFRunLoopRef main = CFRunLoopGetMain();
  // Only a run in progress is stopped: a stop kept for later would cut short
  // an unrelated run.
  if (CFStringRef mode = CFRunLoopCopyCurrentMode(main)) {
    CFRelease(mode);
    CFRunLoopStop(main);
  }
}

}  // namespace skyloom::ui::internal

// ---- Application loop ----

void RunApplicationEventLoop() {
  Model& m = model();
  m.quitAppLoop = false;
  ++m.appLoopRuns;
  // As at a launch: the application hears that it was opened once its loop
  // first runs (nothing happens when no handler is installed).
  if (m.appLoopEntries++ == 0) {
    AppleEvent open;
    AEInitializeDesc(&open);
    if (AECreateAppleEvent(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("oapp"), nullptr, 0, 0, &open) == noErr) {
      AESend(&open, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr);
      AEDisposeDesc(&open);
    }
  }
  while (!m.quitAppLoop) {
    runReadyWork();
    if (m.quitAppLoop) break;
    if (!letUserAct(LoopState{LoopKind::Application, nullptr, nullptr})) break;
  }
  --m.appLoopRuns;
  m.quitAppLoop = false;
}

void QuitApplicationEventLoop() {
  model().quitAppLoop = true;
  wakeMainLoop();
}

OSStatus RunCurrentEventLoop(EventTimeout timeout) {
  if (model().agent) model().agent->Act(LoopState{LoopKind::Poll, nullptr, nullptr});
  CFRunLoopRunResult r = CFRunLoopRunInMode(kCFRunLoopDefaultMode, timeout < 0 ? 1.0e10 : timeout, true);
  return r == kCFRunLoopRunTimedOut || r == kCFRunLoopRunFinished ? OSStatus(eventLoopTimedOutErr) : OSStatus(noErr);
}

// ---- Pumping events from a long job ----

OSStatus ReceiveNextEvent(ItemCount, const EventTypeSpec*, EventTimeout timeout, Boolean, EventRef* outEvent) {
  if (outEvent) *outEvent = nullptr;
  if (timeout != 0) {
    RunCurrentEventLoop(timeout);
    return eventLoopTimedOutErr;
  }
  runReadyWork();
  if (model().agent) model().agent->Act(LoopState{LoopKind::Poll, nullptr, nullptr});
  return eventLoopTimedOutErr;
}

EventTargetRef GetEventDispatcherTarget() { return GetApplicationEventTarget(); }

namespace {

// Cooperative threads ask how many modal loops are open, so that a thread
// that opened one is not switched away from while it serves the user.
int openModalLoops() {
  Model& m = model();
  return int(m.modalStack.size() + m.alertStack.size());
}

[[maybe_unused]] const bool gModalProbeInstalled = (SkyloomSetModalLoopDepthProbe(openModalLoops), true);

}  // namespace

OSStatus QuitEventLoop(EventLoopRef) {
  CFRunLoopStop(CFRunLoopGetMain());
  return noErr;
}

// ---- App-modal loops and sheets ----

OSStatus RunAppModalLoopForWindow(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  Model& m = model();
  m.modalStack.push_back(w);
  ++w->modalRuns;
  w->quitModal = false;
  while (isLiveWindow(w) && !w->quitModal) {
    runReadyWork();
    if (!isLiveWindow(w) || w->quitModal) break;
    if (!letUserAct(LoopState{LoopKind::AppModal, w, nullptr})) {
      fprintf(stderr, "RunAppModalLoopForWindow: nobody ended the loop of \"%s\"\n", w->nibName.c_str());
      break;
    }
  }
  if (isLiveWindow(w)) {
    w->quitModal = false;
    --w->modalRuns;
    auto it = std::find(m.modalStack.rbegin(), m.modalStack.rend(), w);
    if (it != m.modalStack.rend()) m.modalStack.erase(std::next(it).base());
  }
  return noErr;
}

OSStatus QuitAppModalLoopForWindow(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (w->modalRuns > 0) {
    w->quitModal = true;
    wakeMainLoop();
  }
  return noErr;
}

OSStatus BeginAppModalStateForWindow(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  ++w->modalState;
  model().modalStack.push_back(w);
  return noErr;
}

OSStatus EndAppModalStateForWindow(WindowRef w) {
  if (!isLiveWindow(w) || w->modalState == 0) return paramErr;
  --w->modalState;
  auto& v = model().modalStack;
  auto it = std::find(v.rbegin(), v.rend(), w);
  if (it != v.rend()) v.erase(std::next(it).base());
  return noErr;
}

OSStatus ShowSheetWindow(WindowRef sheet, WindowRef parent) {
  if (!isLiveWindow(sheet) || !isLiveWindow(parent)) return errInvalidWindowRef;
  if (sheet->windowClass != kSheetWindowClass && sheet->windowClass != kSheetAlertWindowClass) return paramErr;
  if (sheet == parent || (parent->sheet && parent->sheet != sheet) || sheet->sheetParent) return paramErr;
  if (OSStatus s = takeFailure("ShowSheetWindow")) return s;
  parent->sheet = sheet;
  sheet->sheetParent = parent;
  ShowWindow(sheet);
  return noErr;
}

OSStatus HideSheetWindow(WindowRef sheet) {
  if (!isLiveWindow(sheet)) return errInvalidWindowRef;
  if (!sheet->sheetParent) return paramErr;
  if (isLiveWindow(sheet->sheetParent) && sheet->sheetParent->sheet == sheet) sheet->sheetParent->sheet = nullptr;
  sheet->sheetParent = nullptr;
  HideWindow(sheet);
  return noErr;
}

OSStatus GetSheetWindowParent(WindowRef sheet, WindowRef* outParent) {
  if (!isLiveWindow(sheet)) return errInvalidWindowRef;
  if (!outParent) return paramErr;
  *outParent = sheet->sheetParent;
  return noErr;
}

// ---- Standard alerts ----

namespace {

std::string buttonText(CFStringRef s, const char* standard) {
  if (s == reinterpret_cast<CFStringRef>(intptr_t(-1))) return standard;
  return toUtf8(s);
}

}  // namespace

OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec* p, UInt32 version) {
  if (!p || version != kStdCFStringAlertVersionOne) return paramErr;
  *p = AlertStdCFStringAlertParamRec{};
  p->version = version;
  p->movable = false;
  p->defaultText = kAlertDefaultOKText;
  p->defaultButton = kAlertStdAlertOKButton;
  return noErr;
}

OSStatus CreateStandardAlert(AlertType type, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert) {
  if (!outAlert) return paramErr;
  *outAlert = nullptr;
  if (!error) return paramErr;
  if (OSStatus s = takeFailure("CreateStandardAlert")) return s;
  AlertRecord rec;
  rec.type = type;
  rec.title = toUtf8(error);
  rec.message = toUtf8(explanation);
  auto* d = new OpaqueDialogPtr;
  if (param) {
    rec.buttons.push_back(param->defaultText ? buttonText(param->defaultText, "OK") : std::string("OK"));
    rec.buttons.push_back(param->cancelText ? buttonText(param->cancelText, "Cancel") : std::string());
    rec.buttons.push_back(param->otherText ? buttonText(param->otherText, "Don't Save") : std::string());
    while (!rec.buttons.empty() && rec.buttons.back().empty()) rec.buttons.pop_back();
    if (param->defaultButton >= 1) d->defaultButton = param->defaultButton;
    d->cancelButton = param->cancelButton;
  } else {
    rec.buttons.push_back("OK");
  }
  Model& m = model();
  d->logIndex = m.alerts.size();
  m.alerts.push_back(std::move(rec));
  m.liveDialogs.insert(d);
  *outAlert = d;
  return noErr;
}

void DisposeDialog(DialogRef d) {
  if (!d || !model().liveDialogs.count(d) || d->running) return;
  model().liveDialogs.erase(d);
  delete d;
}

OSStatus RunStandardAlert(DialogRef d, ModalFilterUPP, DialogItemIndex* outItemHit) {
  Model& m = model();
  if (!d || !m.liveDialogs.count(d) || d->running) return paramErr;
  d->running = true;
  m.alertStack.push_back(d);
  notify(Change::AlertShown, nullptr, nullptr, nullptr, d);
  auto answer = [&]() -> DialogItemIndex& { return m.alerts[d->logIndex].answer; };
  while (answer() == 0) {
    runReadyWork();
    if (answer() != 0) break;
    if (!letUserAct(LoopState{LoopKind::Alert, nullptr, d})) {
      fprintf(stderr, "RunStandardAlert: nobody answered \"%s\"\n", m.alerts[d->logIndex].title.c_str());
      answer() = d->cancelButton ? d->cancelButton : d->defaultButton;
    }
  }
  m.alertStack.erase(std::find(m.alertStack.begin(), m.alertStack.end(), d));
  if (outItemHit) *outItemHit = answer();
  notify(Change::AlertClosed, nullptr, nullptr, nullptr, d);
  d->running = false;
  DisposeDialog(d);
  return noErr;
}

namespace skyloom::ui {

const std::vector<AlertRecord>& Alerts() { return model().alerts; }

DialogRef CurrentAlert() { return model().alertStack.empty() ? nullptr : model().alertStack.back(); }

const AlertRecord* AlertInfo(DialogRef d) {
  if (!d || !model().liveDialogs.count(d)) return nullptr;
  return &model().alerts[d->logIndex];
}

}  // namespace skyloom::ui

// ---- Cursor ----

OSStatus HMSetHelpTagsDisplayed(Boolean inDisplayTags) {
  model().helpTagsDisplayed = inDisplayTags != 0;
  return noErr;
}

Boolean HMAreHelpTagsDisplayed() { return model().helpTagsDisplayed; }

OSStatus SetThemeCursor(ThemeCursor c) {
  model().cursor = c;
  ++model().cursorChanges;
  notify(Change::CursorChanged);
  return noErr;
}

void InitCursor() { SetThemeCursor(kThemeArrowCursor); }

// ---- URLs ----

OSStatus SkyloomOpenURL(const char* url) {
  if (!url || !*url) return paramErr;
  Model& m = model();
  m.openedURLs.push_back(url);
  if (m.urlOpener) return m.urlOpener(url);
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url), nullptr};
  int err = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
  if (err) {
    fprintf(stderr, "SkyloomOpenURL xdg-open failed Err = 0x%x %d\n", err, err);
    return err == ENOENT ? fnfErr : ioErr;
  }
  // The opener hands the address to the browser and exits; reap it aside.
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  return noErr;
}

// ---- The user's actions ----

namespace {

// Whether the user can reach the window now: no alert is up, and when a
// modal loop runs, the window is the modal one (or a sheet on it).
bool reachable(WindowRef w) {
  Model& m = model();
  if (!m.alertStack.empty()) return false;
  if (!w->visible) return false;
  if (m.modalStack.empty()) return true;
  WindowRef top = m.modalStack.back();
  return w == top || w->sheetParent == top;
}

OSStatus checkUsable(ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  if (!c->window || !IsControlVisible(c) || !IsControlEnabled(c) || !reachable(c->window))
    return errControlHiddenOrDisabled;
  return noErr;
}

OSStatus sendHit(ControlRef c, ControlPartCode part) {
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, kEventClassControl, kEventControlHit, GetCurrentEventTime(), 0, &e);
  if (s) return s;
  SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
  SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
  s = SendEventToEventTarget(e, &c->target);
  ReleaseEvent(e);
  return s;
}

// After the control changed as the user made it: the hit, then the command.
OSStatus hitAndCommand(ControlRef c, ControlPartCode part, UInt32 command) {
  WindowRef w = c->window;
  sendHit(c, part);
  if (command == 0) return noErr;
  if (isLiveControl(c))
    sendCommand(&c->target, command, kHICommandFromControl, c, w, nullptr, 0);
  else if (isLiveWindow(w)) sendCommand(&w->target, command, kHICommandFromWindow, nullptr, w, nullptr, 0);
  return noErr;
}

size_t byteOffset(const std::string& s, SInt32 chars) {
  size_t i = 0;
  SInt32 n = 0;
  while (i < s.size()) {
    if ((UInt8(s[i]) & 0xC0) != 0x80) {
      if (n == chars) return i;
      ++n;
    }
    ++i;
  }
  return s.size();
}

SInt32 charCount(const std::string& s) {
  SInt32 n = 0;
  for (unsigned char ch : s)
    if ((ch & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

namespace skyloom::ui {

OSStatus UserClick(ControlRef c) {
  if (OSStatus s = checkUsable(c)) return s;
  ControlPartCode part = kControlButtonPart;
  switch (c->kind) {
    case kControlKindCheckBox:
      SetControl32BitValue(c, c->value ? 0 : 1);
      part = kControlCheckBoxPart;
      break;
    case kControlKindRadioButton:
      SetControl32BitValue(c, 1);
      break;
    case kControlKindEditText:
    case kControlKindEditUnicodeText:
      SetKeyboardFocus(c->window, c, kControlFocusNextPart);
      part = kControlEditTextPart;
      break;
    case kControlKindUserPane:
    case kControlKindHIView:
    case kControlKindImageWell:
      part = kControlNoPart;
      break;
    default:
      break;
  }
  return hitAndCommand(c, part, c->command);
}

OSStatus UserType(ControlRef c, const std::string& text) {
  if (OSStatus s = checkUsable(c)) return s;
  if (c->kind != kControlKindEditText && c->kind != kControlKindEditUnicodeText) return errDataNotSupported;
  if (OSStatus s = SetKeyboardFocus(c->window, c, kControlFocusNextPart)) return s;
  c->selStart = 0;
  c->selEnd = SInt16(std::min<SInt32>(charCount(c->text), 32767));
  size_t i = 0;
  while (i < text.size() && isLiveControl(c)) {
    size_t len = 1;
    UInt8 lead = UInt8(text[i]);
    if (lead >= 0xF0) len = 4;
    else if (lead >= 0xE0) len = 3;
    else if (lead >= 0xC0) len = 2;
    std::string ch = text.substr(i, len);
    i += len;
    SInt16 keyCode = 0;
    SInt16 charCode = SInt16(len == 1 ? lead : '?');
    EventModifiers mods = 0;
    if (c->keyFilter && c->keyFilter(c, &keyCode, &charCode, &mods) == kControlKeyFilterBlockKey) continue;
    if (!isLiveControl(c)) break;
    if (len == 1) ch = std::string(1, char(charCode));
    SInt32 len32 = charCount(c->text);
    SInt32 a = std::clamp<SInt32>(std::min(c->selStart, c->selEnd), 0, len32);
    SInt32 b = std::clamp<SInt32>(std::max(c->selStart, c->selEnd), 0, len32);
    size_t from = byteOffset(c->text, a), to = byteOffset(c->text, b);
    if (ch == "\b") {
      if (a == b && a > 0) {
        from = byteOffset(c->text, a - 1);
        --a;
      }
      c->text.erase(from, to - from);
    } else {
      c->text.replace(from, to - from, ch);
      ++a;
    }
    c->selStart = c->selEnd = SInt16(std::min<SInt32>(a, 32767));
    notify(Change::ControlChanged, c->window, c);
  }
  return noErr;
}

OSStatus UserChooseItem(ControlRef c, SInt32 item) {
  if (OSStatus s = checkUsable(c)) return s;
  UInt32 command = c->command;
  if (c->kind == kControlKindPopupButton) {
    if (!c->menu || item < 1 || size_t(item) > c->menu->items.size()) return menuItemNotFoundErr;
    const MenuItemRec& it = c->menu->items[size_t(item) - 1];
    if (!it.enabled || !c->menu->enabled) return errControlHiddenOrDisabled;
    if (it.command) command = it.command;
  } else if (c->kind == kControlKindRadioGroup || c->kind == kControlKindTabs) {
    if (item < 1 || item > c->maximum) return menuItemNotFoundErr;
  } else {
    return errDataNotSupported;
  }
  SetControl32BitValue(c, item);
  return hitAndCommand(c, kControlButtonPart, command);
}

OSStatus UserSetValue(ControlRef c, SInt32 value) {
  if (OSStatus s = checkUsable(c)) return s;
  SetControl32BitValue(c, value);
  if (c->action) c->action(c, kControlIndicatorPart);
  if (!isLiveControl(c)) return noErr;
  return hitAndCommand(c, kControlIndicatorPart, c->command);
}

OSStatus UserClickArrow(ControlRef c, bool up) {
  if (OSStatus s = checkUsable(c)) return s;
  if (c->kind != kControlKindLittleArrows) return errDataNotSupported;
  ControlPartCode part = up ? kControlUpButtonPart : kControlDownButtonPart;
  // With a live action procedure the procedure steps the value.
  if (c->action)
    c->action(c, part);
  else
    SetControl32BitValue(c, up ? (c->value < c->maximum ? c->value + 1 : c->value)
                               : (c->value > c->minimum ? c->value - 1 : c->value));
  if (!isLiveControl(c)) return noErr;
  return hitAndCommand(c, part, c->command);
}

namespace {

// The menus the user opens on the way to menu: from the menu bar down.
bool pathTo(MenuRef from, MenuRef menu, std::vector<MenuRef>& path) {
  path.push_back(from);
  if (from == menu) return true;
  if (path.size() <= 8)
    for (MenuItemRec& i : from->items) {
      MenuRef sub = submenuOf(i);
      if (sub && pathTo(sub, menu, path)) return true;
    }
  path.pop_back();
  return false;
}

}  // namespace

OSStatus UserChooseMenuItem(MenuRef menu, MenuItemIndex item) {
  Model& m = model();
  if (!isLiveMenu(menu)) return menuInvalidErr;
  if (!m.alertStack.empty()) return errControlHiddenOrDisabled;
  std::vector<MenuRef> path;
  for (MenuRef top : m.menuBar)
    if (pathTo(top, menu, path)) break;
  if (path.empty()) path.push_back(menu);
  // Each menu on the way is asked to enable its items as it opens; a menu
  // or item it disables stops the way.
  for (size_t k = 0; k < path.size(); ++k) {
    MenuRef p = path[k];
    if (!isLiveMenu(p)) return menuInvalidErr;
    sendSimpleEvent(&p->target, kEventClassMenu, kEventMenuEnableItems, kEventParamDirectObject, typeMenuRef, &p,
                    sizeof p);
    if (!isLiveMenu(p) || !p->enabled) return errControlHiddenOrDisabled;
    if (k + 1 < path.size()) {
      auto it = std::find_if(p->items.begin(), p->items.end(), [&](const MenuItemRec& i) { return submenuOf(i) == path[k + 1]; });
      if (it == p->items.end() || !it->enabled) return errControlHiddenOrDisabled;
    }
  }
  if (!isLiveMenu(menu)) return menuInvalidErr;
  if (item < 1 || item > menu->items.size()) return menuItemNotFoundErr;
  const MenuItemRec& it = menu->items[item - 1];
  if (!menu->enabled || !it.enabled || it.separator || submenuOf(it)) return errControlHiddenOrDisabled;
  EventTargetRef target = &m.appTarget;
  if (!m.modalStack.empty())
    target = &m.modalStack.back()->target;
  else if (WindowRef w = FrontNonFloatingWindow())
    target = &w->target;
  sendCommand(target, it.command, kHICommandFromMenu, nullptr, nullptr, menu, item);
  return noErr;
}

OSStatus UserSendCommand(WindowRef w, UInt32 command) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!reachable(w)) return errControlHiddenOrDisabled;
  for (auto& c : w->controls)
    if (c->command == command && IsControlVisible(c.get()) && IsControlEnabled(c.get())) return UserClick(c.get());
  sendCommand(&w->target, command, kHICommandFromWindow, nullptr, w, nullptr, 0);
  return noErr;
}

OSStatus UserCloseWindow(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!reachable(w)) return errControlHiddenOrDisabled;
  OSStatus s = sendSimpleEvent(&w->target, kEventClassWindow, kEventWindowClose, kEventParamDirectObject,
                               typeWindowRef, &w, sizeof w);
  // The standard window handler closes what nobody else took.
  if (s == eventNotHandledErr && isLiveWindow(w)) DisposeWindow(w);
  return noErr;
}

OSStatus UserMouseInWindow(WindowRef w, EventKind kind, Point where, UInt32 modifiers, UInt32 clickCount,
                           ControlRef over) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!reachable(w)) return errControlHiddenOrDisabled;
  if (kind != kEventMouseDown && kind != kEventMouseDragged && kind != kEventMouseUp && kind != kEventMouseMoved)
    return paramErr;
  if (over && (!isLiveControl(over) || over->window != w)) return errUnknownControl;
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, kEventClassMouse, kind, GetCurrentEventTime(), 0, &e);
  if (s) return s;
  Point global{short(w->bounds.top + where.v), short(w->bounds.left + where.h)};
  EventMouseButton button = kEventMouseButtonPrimary;
  SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, sizeof global, &global);
  SetEventParameter(e, kEventParamWindowMouseLocation, typeQDPoint, sizeof where, &where);
  SetEventParameter(e, kEventParamWindowRef, typeWindowRef, sizeof w, &w);
  SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
  SetEventParameter(e, kEventParamMouseButton, typeMouseButton, sizeof button, &button);
  SetEventParameter(e, kEventParamClickCount, typeUInt32, sizeof clickCount, &clickCount);
  if (over) SetEventParameter(e, kEventParamControlRef, typeControlRef, sizeof over, &over);
  model().lastMouse = where;
  s = SendEventToEventTarget(e, &w->target);
  // What the standard window handler does with a press nobody took: the
  // window hears it again as a click in its content region, then as a
  // content click to handle, then the control under it hears it.
  if (kind == kEventMouseDown && s == eventNotHandledErr && isLiveWindow(w)) {
    e->kind = kEventWindowClickContentRgn;
    e->eventClass = kEventClassWindow;
    s = SendEventToEventTarget(e, &w->target);
  }
  if (kind == kEventMouseDown && s == eventNotHandledErr && isLiveWindow(w)) {
    e->kind = kEventWindowHandleContentClick;
    s = SendEventToEventTarget(e, &w->target);
  }
  ReleaseEvent(e);
  if (kind == kEventMouseDown && s == eventNotHandledErr && over && isLiveControl(over) && isLiveWindow(w)) {
    if (CreateEvent(nullptr, kEventClassControl, kEventControlClick, GetCurrentEventTime(), 0, &e) == noErr) {
      Point local{short(where.v - over->bounds.top), short(where.h - over->bounds.left)};
      SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof over, &over);
      SetEventParameter(e, kEventParamMouseLocation, typeQDPoint, sizeof local, &local);
      SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
      SetEventParameter(e, kEventParamClickCount, typeUInt32, sizeof clickCount, &clickCount);
      SendEventToEventTarget(e, &over->target);
      ReleaseEvent(e);
    }
  }
  return noErr;
}

OSStatus UserMouse(ControlRef c, EventKind kind, Point where, UInt32 modifiers, UInt32 clickCount) {
  if (OSStatus s = checkUsable(c)) return s;
  Point inWindow{short(c->bounds.top + where.v), short(c->bounds.left + where.h)};
  return UserMouseInWindow(c->window, kind, inWindow, modifiers, clickCount, c);
}

OSStatus UserKey(WindowRef w, char charCode, UInt32 keyCode, UInt32 modifiers, bool repeat) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!reachable(w)) return errControlHiddenOrDisabled;
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, kEventClassKeyboard, repeat ? kEventRawKeyRepeat : kEventRawKeyDown,
                           GetCurrentEventTime(), 0, &e);
  if (s) return s;
  SetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, 1, &charCode);
  SetEventParameter(e, kEventParamKeyCode, typeUInt32, sizeof keyCode, &keyCode);
  SetEventParameter(e, kEventParamKeyModifiers, typeUInt32, sizeof modifiers, &modifiers);
  SendEventToEventTarget(e, w->focus ? &w->focus->target : &w->target);
  ReleaseEvent(e);
  return noErr;
}

namespace {

bool findKey(MenuRef m, char key, MenuRef* outMenu, MenuItemIndex* outItem, int depth = 0) {
  if (depth > 8) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItemRec& it = m->items[i];
    if (it.key.size() == 1 && lower(it.key[0]) == lower(key)) {
      *outMenu = m;
      *outItem = MenuItemIndex(i + 1);
      return true;
    }
    MenuRef sub = submenuOf(it);
    if (sub && findKey(sub, key, outMenu, outItem, depth + 1)) return true;
  }
  return false;
}

}  // namespace

OSStatus UserPressMenuKey(char key) {
  for (MenuRef m : model().menuBar) {
    MenuRef found = nullptr;
    MenuItemIndex item = 0;
    if (findKey(m, key, &found, &item)) return UserChooseMenuItem(found, item);
  }
  return menuItemNotFoundErr;
}

OSStatus UserAnswerAlert(DialogRef d, DialogItemIndex item) {
  Model& m = model();
  if (!d || !m.liveDialogs.count(d) || !d->running) return paramErr;
  if (m.alertStack.empty() || m.alertStack.back() != d) return errControlHiddenOrDisabled;
  AlertRecord& rec = m.alerts[d->logIndex];
  if (item < 1 || size_t(item) > rec.buttons.size() || rec.buttons[size_t(item) - 1].empty()) return paramErr;
  rec.answer = item;
  return noErr;
}

}  // namespace skyloom::ui
