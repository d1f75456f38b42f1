// Scroll-bar view sizes, window groups, invalidation and updates, and the
// local coordinates of a window.
#include <map>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

std::map<WindowClass, OpaqueWindowGroupRef>& classGroups() {
  static std::map<WindowClass, OpaqueWindowGroupRef> groups;
  return groups;
}

}  // namespace

SInt32 GetControlViewSize(ControlRef c) { return isLiveControl(c) ? c->viewSize : 0; }

void SetControlViewSize(ControlRef c, SInt32 size) {
  if (!isLiveControl(c)) return;
  c->viewSize = size;
  notify(Change::ControlChanged, c->window, c);
}

OSStatus CreateWindowGroup(WindowGroupAttributes attributes, WindowGroupRef* out) {
  if (out == nullptr) return paramErr;
  *out = new OpaqueWindowGroupRef;
  (*out)->attributes = attributes;
  return noErr;
}

OSStatus SetWindowGroupParent(WindowGroupRef group, WindowGroupRef parent) {
  if (group == nullptr || group == parent) return paramErr;
  group->parent = parent;
  return noErr;
}

OSStatus GetWindowGroupAttributes(WindowGroupRef group, WindowGroupAttributes* out) {
  if (group == nullptr || out == nullptr) return paramErr;
  *out = group->attributes;
  return noErr;
}

WindowGroupRef GetWindowGroupOfClass(WindowClass windowClass) {
  OpaqueWindowGroupRef& g = classGroups()[windowClass];
  g.classGroup = true;
  return &g;
}

OSStatus SetWindowGroup(WindowRef w, WindowGroupRef group) {
  if (!isLiveWindow(w) || group == nullptr) return paramErr;
  w->group = group->classGroup ? nullptr : group;
  return noErr;
}

WindowGroupRef GetWindowGroup(WindowRef w) {
  if (!isLiveWindow(w)) return nullptr;
  return w->group ? w->group : GetWindowGroupOfClass(w->windowClass);
}

OSStatus ReleaseWindowGroup(WindowGroupRef group) {
  if (group == nullptr) return paramErr;
  if (group->classGroup || --group->refCount > 0) return noErr;
  for (WindowRef w : model().windows)
    if (w->group == group) w->group = nullptr;
  delete group;
  return noErr;
}

OSStatus InvalWindowRect(WindowRef w, const Rect* bounds) {
  if (!isLiveWindow(w) || bounds == nullptr) return paramErr;
  ++w->invalidations;
  return noErr;
}

void BeginUpdate(WindowRef w) {
  if (isLiveWindow(w)) ++w->updates;
}

void EndUpdate(WindowRef w) {
  if (isLiveWindow(w) && w->updates > 0) --w->updates;
}

void SkyloomGlobalToLocal(WindowRef w, Point* point) {
  if (!isLiveWindow(w) || point == nullptr) return;
  point->h = short(point->h - w->bounds.left);
  point->v = short(point->v - w->bounds.top);
}

long skyloom::ui::WindowInvalidationCount(WindowRef w) { return isLiveWindow(w) ? w->invalidations : 0; }
