// Carbon events: targets and their handler chains, event records and
// parameters, dispatch, commands, and event-loop timers on the main run loop.
#include <algorithm>
#include <cstring>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

struct OpaqueEventHandlerCallRef {
  std::vector<std::shared_ptr<OpaqueEventHandlerRef>> chain;  // matching handlers, in calling order
  size_t next = 0;
};

struct OpaqueEventLoopRef {
  int unused;
};

namespace {

bool targetIsLive(EventTargetRef t) {
  if (!t) return false;
  switch (t->kind) {
    case OpaqueEventTargetRef::Kind::Application: return true;
    case OpaqueEventTargetRef::Kind::Window: return isLiveWindow(static_cast<WindowRef>(t->owner));
    case OpaqueEventTargetRef::Kind::Control: return isLiveControl(static_cast<ControlRef>(t->owner));
    case OpaqueEventTargetRef::Kind::Menu: return isLiveMenu(static_cast<MenuRef>(t->owner));
  }
  return false;
}

// The target an unhandled event moves on to.
EventTargetRef containingTarget(EventTargetRef t) {
  switch (t->kind) {
    case OpaqueEventTargetRef::Kind::Control: {
      auto c = static_cast<ControlRef>(t->owner);
      if (c->parent) return &c->parent->target;
      return c->window ? &c->window->target : &model().appTarget;
    }
    case OpaqueEventTargetRef::Kind::Window:
    case OpaqueEventTargetRef::Kind::Menu:
      return &model().appTarget;
    case OpaqueEventTargetRef::Kind::Application:
      return nullptr;
  }
  return nullptr;
}

bool wants(const OpaqueEventHandlerRef& h, EventClass cls, EventKind kind) {
  return std::any_of(h.types.begin(), h.types.end(),
                     [&](const EventTypeSpec& s) { return s.eventClass == cls && s.eventKind == kind; });
}

OSStatus runChain(OpaqueEventHandlerCallRef& call, EventRef e) {
  while (call.next < call.chain.size()) {
    std::shared_ptr<OpaqueEventHandlerRef> h = call.chain[call.next++];
    if (h->removed) continue;
    OSStatus s = h->proc(&call, e, h->userData);
    if (s != eventNotHandledErr) return s;
  }
  return eventNotHandledErr;
}

}  // namespace

namespace skyloom::ui::internal {

void clearHandlers(OpaqueEventTargetRef& target) {
  for (auto& h : target.handlers) {
    h->removed = true;
    model().liveHandlers.erase(h.get());
  }
  target.handlers.clear();
}

OSStatus sendSimpleEvent(EventTargetRef target, EventClass cls, EventKind kind, EventParamName directName,
                         EventParamType directType, const void* direct, ByteCount directSize) {
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, cls, kind, GetCurrentEventTime(), 0, &e);
  if (s) return s;
  if (direct) SetEventParameter(e, directName, directType, directSize, direct);
  s = SendEventToEventTarget(e, target);
  ReleaseEvent(e);
  return s;
}

OSStatus sendCommand(EventTargetRef target, UInt32 commandID, UInt32 attributes, ControlRef control, WindowRef window,
                     MenuRef menu, MenuItemIndex item) {
  HICommandExtended cmd;
  memset(&cmd, 0, sizeof cmd);
  cmd.attributes = attributes;
  cmd.commandID = commandID;
  if (attributes & kHICommandFromMenu) {
    cmd.source.menu.menuRef = menu;
    cmd.source.menu.menuItemIndex = item;
  } else if (attributes & kHICommandFromControl) {
    cmd.source.control = control;
  } else if (attributes & kHICommandFromWindow) {
    cmd.source.window = window;
  }
  OSStatus s = sendSimpleEvent(target, kEventClassCommand, kEventCommandProcess, kEventParamDirectObject,
                               typeHICommand, &cmd, sizeof cmd);
  // What the system's standard application handler does with a quit nobody took.
  if (s == eventNotHandledErr && commandID == kHICommandQuit) {
    QuitApplicationEventLoop();
    s = noErr;
  }
  return s;
}

}  // namespace skyloom::ui::internal

namespace skyloom::ui {

std::vector<EventHandlerUPP> InstalledEventHandlers(EventTargetRef target) {
  std::vector<EventHandlerUPP> out;
  if (!targetIsLive(target)) return out;
  for (auto& h : target->handlers)
    if (!h->removed) out.push_back(h->proc);
  return out;
}

}  // namespace skyloom::ui

void DisposeEventHandlerUPP(EventHandlerUPP upp) {
  if (upp) model().disposedHandlerUPPs.push_back(upp);
}

EventTargetRef GetApplicationEventTarget() { return &model().appTarget; }
EventTargetRef GetWindowEventTarget(WindowRef w) { return isLiveWindow(w) ? &w->target : nullptr; }
EventTargetRef GetControlEventTarget(ControlRef c) { return isLiveControl(c) ? &c->target : nullptr; }
EventTargetRef GetMenuEventTarget(MenuRef m) { return isLiveMenu(m) ? &m->target : nullptr; }

EventTargetRef GetUserFocusEventTarget() {
  Model& m = model();
  if (!m.modalStack.empty()) return &m.modalStack.back()->target;
  if (WindowRef w = FrontNonFloatingWindow()) return &w->target;
  return &m.appTarget;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
  if (outRef) *outRef = nullptr;
  if (!targetIsLive(target) || !handler || (numTypes && !list)) return paramErr;
  if (OSStatus s = takeFailure("InstallEventHandler")) return s;
  auto h = std::make_shared<OpaqueEventHandlerRef>();
  h->target = target;
  h->proc = handler;
  h->types.assign(list, list + numTypes);
  h->userData = userData;
  target->handlers.push_back(h);
  model().liveHandlers.insert(h.get());
  if (outRef) *outRef = h.get();
  return noErr;
}

namespace {

// The installed handler behind ref, or null when it was removed (or its
// target went away), so that a stale reference is refused, not followed.
std::shared_ptr<OpaqueEventHandlerRef> findHandler(EventHandlerRef ref, EventTargetRef* where) {
  if (!ref || !model().liveHandlers.count(ref)) return nullptr;
  EventTargetRef t = ref->target;
  for (auto& h : t->handlers)
    if (h.get() == ref) {
      *where = t;
      return h;
    }
  return nullptr;
}

}  // namespace

OSStatus RemoveEventHandler(EventHandlerRef ref) {
  EventTargetRef t = nullptr;
  auto h = findHandler(ref, &t);
  if (!h) return paramErr;
  h->removed = true;
  model().liveHandlers.erase(h.get());
  t->handlers.erase(std::remove(t->handlers.begin(), t->handlers.end(), h), t->handlers.end());
  return noErr;
}

OSStatus AddEventTypesToHandler(EventHandlerRef ref, ItemCount numTypes, const EventTypeSpec* list) {
  EventTargetRef t = nullptr;
  auto h = findHandler(ref, &t);
  if (!h || (numTypes && !list)) return paramErr;
  h->types.insert(h->types.end(), list, list + numTypes);
  return noErr;
}

OSStatus CallNextEventHandler(EventHandlerCallRef call, EventRef e) {
  if (!call || !e) return paramErr;
  return runChain(*call, e);
}

OSStatus CreateEvent(CFAllocatorRef, EventClass cls, EventKind kind, EventTime when, EventAttributes,
                     EventRef* outEvent) {
  if (!outEvent) return paramErr;
  auto* e = new OpaqueEventRef;
  e->eventClass = cls;
  e->kind = kind;
  e->when = when ? when : GetCurrentEventTime();
  model().liveEvents.insert(e);
  *outEvent = e;
  return noErr;
}

EventRef RetainEvent(EventRef e) {
  if (e && model().liveEvents.count(e)) ++e->refCount;
  return e;
}

void ReleaseEvent(EventRef e) {
  if (!e || !model().liveEvents.count(e)) return;
  if (--e->refCount > 0) return;
  model().liveEvents.erase(e);
  delete e;
}

EventClass GetEventClass(EventRef e) { return e ? e->eventClass : 0; }
EventKind GetEventKind(EventRef e) { return e ? e->kind : 0; }
EventTime GetEventTime(EventRef e) { return e ? e->when : 0; }

EventTime GetCurrentEventTime() { return double(SkyloomMicroseconds()) / 1e6; }

OSStatus SetEventParameter(EventRef e, EventParamName name, EventParamType type, ByteCount size, const void* data) {
  if (!e || (size && !data)) return paramErr;
  const UInt8* p = static_cast<const UInt8*>(data);
  e->params[name] = EventParam{type, std::vector<UInt8>(p, p + size)};
  return noErr;
}

OSStatus GetEventParameter(EventRef e, EventParamName name, EventParamType desiredType, EventParamType* outActualType,
                           ByteCount bufferSize, ByteCount* outActualSize, void* outData) {
  if (!e) return paramErr;
  auto it = e->params.find(name);
  if (it == e->params.end()) return eventParameterNotFoundErr;
  const EventParam& p = it->second;
  // No coercions: asking for another type than the one stored finds nothing.
  if (desiredType != typeWildCard && desiredType != p.type) return eventParameterNotFoundErr;
  if (outActualType) *outActualType = p.type;
  ByteCount n = ByteCount(p.bytes.size());
  if (outActualSize) *outActualSize = n;
  if (outData) {
    if (bufferSize < n) {
      // HICommand and HICommandExtended share a size, so a short buffer is
      // the caller's mistake: copy what fits and report it.
      if (bufferSize) memcpy(outData, p.bytes.data(), bufferSize);
      return errDataSizeMismatch;
    }
    if (n) memcpy(outData, p.bytes.data(), n);
  }
  return noErr;
}

OSStatus SendEventToEventTarget(EventRef e, EventTargetRef target) {
  if (!e || !targetIsLive(target)) return paramErr;
  OpaqueEventHandlerCallRef call;
  for (EventTargetRef t = target; t; t = containingTarget(t)) {
    for (auto it = t->handlers.rbegin(); it != t->handlers.rend(); ++it)
      if (wants(**it, e->eventClass, e->kind)) call.chain.push_back(*it);
  }
  RetainEvent(e);
  OSStatus s = runChain(call, e);
  ReleaseEvent(e);
  return s;
}

OSStatus ProcessHICommand(const HICommand* cmd) {
  if (!cmd) return paramErr;
  Model& m = model();
  EventTargetRef target = &m.appTarget;
  if (!m.modalStack.empty())
    target = &m.modalStack.back()->target;
  else if (WindowRef w = FrontNonFloatingWindow())
    target = &w->target;
  return sendCommand(target, cmd->commandID, cmd->attributes, nullptr, nullptr, cmd->menu.menuRef,
                     cmd->menu.menuItemIndex);
}

// ---- Event-loop timers ----

namespace {

OpaqueEventLoopRef gMainLoop{0};

// One-shot timers are kept alive (far-future repeats) so that
// SetEventLoopTimerNextFireTime can arm them again, as the system allows.
constexpr CFTimeInterval kOneShotInterval = 1.0e9;

void timerCallout(CFRunLoopTimerRef, void* info) {
  auto* t = static_cast<OpaqueEventLoopTimerRef*>(info);
  if (!model().liveTimers.count(t)) return;
  t->proc(t, t->data);  // the procedure may remove its own timer: t is not used after this
}

}  // namespace

EventLoopRef GetMainEventLoop() { return &gMainLoop; }
EventLoopRef GetCurrentEventLoop() { return &gMainLoop; }
CFRunLoopRef GetCFRunLoopFromEventLoop(EventLoopRef) { return CFRunLoopGetMain(); }

OSStatus InstallEventLoopTimer(EventLoopRef loop, EventTimerInterval fireDelay, EventTimerInterval interval,
                               EventLoopTimerUPP proc, void* data, EventLoopTimerRef* outTimer) {
  if (outTimer) *outTimer = nullptr;
  if (!loop || !proc || !outTimer) return paramErr;
  auto* t = new OpaqueEventLoopTimerRef;
  t->proc = proc;
  t->data = data;
  t->repeats = interval > 0;
  CFRunLoopTimerContext ctx{0, t, nullptr, nullptr, nullptr};
  CFAbsoluteTime first = CFAbsoluteTimeGetCurrent() + (fireDelay < 0 ? kOneShotInterval : fireDelay);
  t->timer = CFRunLoopTimerCreate(nullptr, first, t->repeats ? interval : kOneShotInterval, 0, 0, timerCallout, &ctx);
  if (!t->timer) {
    delete t;
    return memFullErr;
  }
  model().liveTimers.insert(t);
  CFRunLoopAddTimer(CFRunLoopGetMain(), t->timer, kCFRunLoopCommonModes);
  *outTimer = t;
  return noErr;
}

OSStatus RemoveEventLoopTimer(EventLoopTimerRef t) {
  if (!t || !model().liveTimers.count(t)) return paramErr;
  model().liveTimers.erase(t);
  CFRunLoopTimerInvalidate(t->timer);
  CFRelease(t->timer);
  delete t;
  return noErr;
}

OSStatus SetEventLoopTimerNextFireTime(EventLoopTimerRef t, EventTimerInterval next) {
  if (!t || !model().liveTimers.count(t)) return paramErr;
  CFAbsoluteTime when = CFAbsoluteTimeGetCurrent() + (next < 0 ? kOneShotInterval : next);
  CFRunLoopTimerSetNextFireDate(t->timer, when);
  return noErr;
}
