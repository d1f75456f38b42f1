// View subclasses (HIObject classes based on the view class), the root view
// of a window, and moving views between windows.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

struct OpaqueHIObjectClassRef {
  std::string id;
  EventHandlerUPP proc = nullptr;
  std::vector<EventTypeSpec> events;
  void* constructData = nullptr;
  int instances = 0;
};

namespace skyloom::ui::internal {

HIObjectClassRef findClass(const std::string& id) {
  auto it = model().classes.find(id);
  return it == model().classes.end() ? nullptr : it->second;
}

OSStatus constructView(ControlRef view, HIObjectClassRef cls, EventRef init) {
  // Construct: the class's procedure makes its record and hands it back.
  EventRef e = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassHIObject, kEventHIObjectConstruct, 0, 0, &e);
  if (err) return err;
  SetEventParameter(e, kEventParamHIObjectInstance, typeHIObjectRef, sizeof view, &view);
  err = cls->proc(nullptr, e, cls->constructData);
  void* instance = nullptr;
  if (err == noErr &&
      GetEventParameter(e, kEventParamHIObjectInstance, typeVoidPtr, nullptr, sizeof instance, nullptr, &instance) != noErr)
    instance = nullptr;
  ReleaseEvent(e);
  if (err != noErr) return err;
  view->hiClass = cls;
  view->instance = instance;
  ++cls->instances;
  err = InstallEventHandler(&view->target, cls->proc, ItemCount(cls->events.size()), cls->events.data(), instance,
                            nullptr);
  if (err != noErr) return err;
  // Initialize, with what the creator passed; the base view needs nothing,
  // so an unhandled initialize is fine.
  err = CreateEvent(nullptr, kEventClassHIObject, kEventHIObjectInitialize, 0, 0, &e);
  if (err) return err;
  if (init) e->params = init->params;
  err = SendEventToEventTarget(e, &view->target);
  ReleaseEvent(e);
  if (err != noErr && err != eventNotHandledErr) return err;
  // The base view's own initialization, which subclasses hear as well.
  err = CreateEvent(nullptr, kEventClassControl, kEventControlInitialize, 0, 0, &e);
  if (err) return err;
  SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof view, &view);
  UInt32 features = 0;
  SetEventParameter(e, kEventParamControlFeatures, typeUInt32, sizeof features, &features);
  err = SendEventToEventTarget(e, &view->target);
  if (GetEventParameter(e, kEventParamControlFeatures, typeUInt32, nullptr, sizeof features, nullptr, &features) ==
      noErr)
    view->features = features;
  ReleaseEvent(e);
  return err == eventNotHandledErr ? OSStatus(noErr) : err;
}

void destructView(ControlRef view) {
  if (view->hiClass) {
    EventRef e = nullptr;
    if (CreateEvent(nullptr, kEventClassHIObject, kEventHIObjectDestruct, 0, 0, &e) == noErr) {
      // Only the view's own handlers: the destruct event does not climb.
      for (auto it = view->target.handlers.rbegin(); it != view->target.handlers.rend(); ++it) {
        auto h = *it;
        bool wants = std::any_of(h->types.begin(), h->types.end(), [](const EventTypeSpec& s) {
          return s.eventClass == kEventClassHIObject && s.eventKind == kEventHIObjectDestruct;
        });
        if (wants && !h->removed && h->proc(nullptr, e, h->userData) != eventNotHandledErr) break;
      }
      ReleaseEvent(e);
    }
    --view->hiClass->instances;
    view->hiClass = nullptr;
    view->instance = nullptr;
  }
  clearHandlers(view->target);
}

}  // namespace skyloom::ui::internal

OSStatus HIObjectRegisterSubclass(CFStringRef inClassID, CFStringRef inBaseClassID, OptionBits, EventHandlerUPP proc,
                                  UInt32 numEvents, const EventTypeSpec* events, void* constructData,
                                  HIObjectClassRef* outClassRef) {
  if (outClassRef) *outClassRef = nullptr;
  if (!inClassID || !proc || (numEvents && !events)) return paramErr;
  std::string id = toUtf8(inClassID);
  // Only views can be subclassed here, and only the base view directly.
  if (id.empty() || !inBaseClassID || toUtf8(inBaseClassID) != "com.apple.hiview") return paramErr;
  if (findClass(id)) return hiObjectClassExistsErr;
  if (OSStatus s = takeFailure("HIObjectRegisterSubclass")) return s;
  auto* cls = new OpaqueHIObjectClassRef;
  cls->id = id;
  cls->proc = proc;
  cls->events.assign(events, events + numEvents);
  cls->constructData = constructData;
  model().classes[id] = cls;
  if (outClassRef) *outClassRef = cls;
  return noErr;
}

OSStatus HIObjectUnregisterClass(HIObjectClassRef cls) {
  if (!cls || findClass(cls->id) != cls) return paramErr;
  if (cls->instances > 0) return hiObjectClassHasInstancesErr;
  model().classes.erase(cls->id);
  delete cls;
  return noErr;
}

OSStatus HIObjectCreate(CFStringRef inClassID, EventRef init, HIObjectRef* outObject) {
  if (!inClassID || !outObject) return paramErr;
  *outObject = nullptr;
  std::string id = toUtf8(inClassID);
  HIObjectClassRef cls = findClass(id);
  bool plainView = id == "com.apple.hiview";
  if (!cls && !plainView) return paramErr;
  if (OSStatus s = takeFailure("HIObjectCreate")) return s;
  auto v = std::make_unique<OpaqueControlRef>();
  v->target.owner = v.get();
  v->kind = kControlKindHIView;
  ControlRef view = v.get();
  model().liveControls.insert(view);
  model().looseViews.push_back(std::move(v));
  if (cls) {
    if (OSStatus err = constructView(view, cls, init)) {
      DisposeControl(view);
      return err;
    }
  }
  *outObject = view;
  return noErr;
}

HIViewRef HIViewGetRoot(WindowRef w) {
  if (!isLiveWindow(w)) return nullptr;
  if (!w->root) {
    w->root = std::make_unique<OpaqueControlRef>();
    w->root->target.owner = w->root.get();
    w->root->window = w;
    w->root->kind = kControlKindUserPane;
    w->root->isRoot = true;
    model().liveControls.insert(w->root.get());
  }
  return w->root.get();
}

namespace {

// Takes the view's record out of whatever holds it.
std::unique_ptr<OpaqueControlRef> detach(ControlRef view) {
  auto& from = view->window ? view->window->controls : model().looseViews;
  auto it = std::find_if(from.begin(), from.end(), [&](auto& p) { return p.get() == view; });
  if (it == from.end()) return nullptr;
  std::unique_ptr<OpaqueControlRef> rec = std::move(*it);
  from.erase(it);
  return rec;
}

// The view and everything embedded in it, in their window's order.
std::vector<ControlRef> withSubviews(ControlRef view) {
  std::vector<ControlRef> all{view};
  if (!view->window) return all;
  for (size_t i = 0; i < all.size(); ++i)
    for (auto& o : view->window->controls)
      if (o->parent == all[i]) all.push_back(o.get());
  return all;
}

}  // namespace

OSStatus HIViewAddSubview(HIViewRef parent, HIViewRef child) {
  if (!isLiveControl(parent) || !isLiveControl(child) || child->isRoot) return errUnknownControl;
  WindowRef w = parent->window;
  if (!w) return errControlIsNotEmbedder;  // a view in no window embeds nothing yet
  for (ControlRef p = parent; p; p = p->parent)
    if (p == child) return errCantEmbedIntoSelf;
  std::vector<ControlRef> moving = withSubviews(child);
  if (child->window != w) {
    WindowRef old = child->window;
    for (ControlRef m : moving) {
      if (old && old->focus == m) old->focus = nullptr;
      auto rec = detach(m);
      m->window = w;
      w->controls.push_back(std::move(rec));
    }
  }
  child->parent = parent->isRoot ? nullptr : parent;
  if (parent->kind == kControlKindHIScrollView) fitScrollContent(parent);
  notify(Change::ControlChanged, w, child);
  return noErr;
}

OSStatus HIViewRemoveFromSuperview(HIViewRef view) {
  if (!isLiveControl(view) || view->isRoot) return errUnknownControl;
  if (!view->window) return noErr;
  WindowRef old = view->window;
  for (ControlRef m : withSubviews(view)) {
    if (old->focus == m) old->focus = nullptr;
    auto rec = detach(m);
    m->window = nullptr;
    model().looseViews.push_back(std::move(rec));
  }
  view->parent = nullptr;
  return noErr;
}

HIViewRef HIViewGetSuperview(HIViewRef view) {
  if (!isLiveControl(view) || view->isRoot || !view->window) return nullptr;
  return view->parent ? view->parent : HIViewGetRoot(view->window);
}

OSStatus HIViewFindByID(HIViewRef start, HIViewID id, HIViewRef* out) {
  if (!out) return paramErr;
  *out = nullptr;
  if (!isLiveControl(start) || !start->window) return errUnknownControl;
  // The content view is the root view itself here.
  if (start->isRoot && id.signature == kHIViewWindowContentID.signature && id.id == kHIViewWindowContentID.id) {
    *out = start;
    return noErr;
  }
  for (auto& c : start->window->controls) {
    if (c->signature != id.signature || c->id != id.id) continue;
    // Only views inside the starting one count.
    for (ControlRef p = c.get(); p; p = p->parent)
      if (p == start || start->isRoot) {
        *out = c.get();
        return noErr;
      }
  }
  return errUnknownControl;
}

OSStatus HIViewGetBounds(HIViewRef view, HIRect* out) {
  if (!out) return paramErr;
  if (!isLiveControl(view)) return errUnknownControl;
  Rect b = view->bounds;
  if (view->isRoot) GetWindowPortBounds(view->window, &b);  // the root view is the whole content
  *out = CGRectMake(0, 0, CGFloat(b.right - b.left), CGFloat(b.bottom - b.top));
  return noErr;
}

OSStatus HIViewSetVisible(HIViewRef view, Boolean visible) { return SetControlVisibility(view, visible, false); }
Boolean HIViewIsVisible(HIViewRef view) { return IsControlVisible(view); }

OSStatus GetControlFeatures(ControlRef control, UInt32* out) {
  if (!out) return paramErr;
  if (!isLiveControl(control)) return errUnknownControl;
  *out = control->features;
  return noErr;
}
