// What the system does for the user at a window's frame (the size box, the
// zoom box), at a scroll bar's parts, and with update and draw events; the
// window that has the user focus; and the colour chooser.
#include <algorithm>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

OSStatus sendToWindow(WindowRef w, EventKind kind) {
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, kEventClassWindow, kind, GetCurrentEventTime(), 0, &e);
  if (s) return s;
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
  s = SendEventToEventTarget(e, &w->target);
  ReleaseEvent(e);
  return s;
}

// The size a handler gives for kEventWindowGetMinimumSize or ...Maximum; false
// when none does.
bool askSize(WindowRef w, EventKind kind, Point* size) {
  EventRef e = nullptr;
  if (CreateEvent(nullptr, kEventClassWindow, kind, GetCurrentEventTime(), 0, &e) != noErr) return false;
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
  bool answered = SendEventToEventTarget(e, &w->target) == noErr &&
                  GetEventParameter(e, kEventParamDimensions, typeQDPoint, nullptr, sizeof *size, nullptr, size) ==
                      noErr;
  ReleaseEvent(e);
  return answered;
}

// The bounds-changing and bounds-changed pair of a user's resize or zoom.
OSStatus changeBounds(WindowRef w, Rect proposed, UInt32 attributes) {
  const Rect original = w->bounds;
  if (proposed.bottom - proposed.top != original.bottom - original.top ||
      proposed.right - proposed.left != original.right - original.left)
    attributes |= kWindowBoundsChangeSizeChanged;
  EventRef e = nullptr;
  OSStatus s = CreateEvent(nullptr, kEventClassWindow, kEventWindowBoundsChanging, GetCurrentEventTime(), 0, &e);
  if (s) return s;
  SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
  SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
  SetEventParameter(e, kEventParamOriginalBounds, typeQDRectangle, sizeof original, &original);
  SetEventParameter(e, kEventParamPreviousBounds, typeQDRectangle, sizeof original, &original);
  SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof proposed, &proposed);
  SendEventToEventTarget(e, &w->target);
  Rect chosen = proposed;
  GetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, nullptr, sizeof chosen, nullptr, &chosen);
  ReleaseEvent(e);
  if (!isLiveWindow(w)) return noErr;  // a handler closed it
  w->bounds = chosen;
  notify(Change::WindowBounds, w);
  if (CreateEvent(nullptr, kEventClassWindow, kEventWindowBoundsChanged, GetCurrentEventTime(), 0, &e) == noErr) {
    SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof w, &w);
    SetEventParameter(e, kEventParamAttributes, typeUInt32, sizeof attributes, &attributes);
    SetEventParameter(e, kEventParamOriginalBounds, typeQDRectangle, sizeof original, &original);
    SetEventParameter(e, kEventParamPreviousBounds, typeQDRectangle, sizeof original, &original);
    SetEventParameter(e, kEventParamCurrentBounds, typeQDRectangle, sizeof chosen, &chosen);
    SendEventToEventTarget(e, &w->target);
    ReleaseEvent(e);
  }
  return noErr;
}

bool isScrollBar(ControlRef c) { return isLiveControl(c) && c->kind == kControlKindScrollBar; }

}  // namespace

WindowRef GetUserFocusWindow() {
  EventTargetRef t = GetUserFocusEventTarget();
  return t && t->kind == OpaqueEventTargetRef::Kind::Window ? static_cast<WindowRef>(t->owner) : nullptr;
}

Boolean GetColor(Point where, ConstStr255Param prompt, const RGBColor* inColor, RGBColor* outColor) {
  Model& m = model();
  if (m.colorPicker.shown) return false;  // one chooser at a time
  ColorPickerRecord& p = m.colorPicker;
  p.shown = true;
  p.prompt = prompt ? std::string(reinterpret_cast<const char*>(prompt + 1), prompt[0]) : std::string();
  p.where = where;
  p.start = inColor ? *inColor : RGBColor{0, 0, 0};
  p.accepted = false;
  ++p.runs;
  m.colorPickerAnswered = false;
  // Nobody to ask: the chooser is cancelled.
  while (!m.colorPickerAnswered && m.agent) {
    if (!letUserAct(LoopState{LoopKind::ColorPicker, nullptr, nullptr})) break;
  }
  p.shown = false;
  m.colorPickerAnswered = false;
  if (!p.accepted) return false;
  if (outColor) *outColor = p.chosen;
  return true;
}

namespace skyloom::ui {

const ColorPickerRecord& ColorPicker() { return model().colorPicker; }

OSStatus UserAnswerColorPicker(const RGBColor* colour) {
  Model& m = model();
  if (!m.colorPicker.shown || m.colorPickerAnswered) return paramErr;
  m.colorPicker.accepted = colour != nullptr;
  if (colour) m.colorPicker.chosen = *colour;
  m.colorPickerAnswered = true;
  return noErr;
}

OSStatus UserResizeWindow(WindowRef w, const Rect& proposed) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  Rect b = proposed;
  Point size{0, 0};
  if (askSize(w, kEventWindowGetMinimumSize, &size)) {
    b.right = short(std::max<int>(b.right, b.left + size.h));
    b.bottom = short(std::max<int>(b.bottom, b.top + size.v));
  }
  if (isLiveWindow(w) && askSize(w, kEventWindowGetMaximumSize, &size)) {
    b.right = short(std::min<int>(b.right, b.left + size.h));
    b.bottom = short(std::min<int>(b.bottom, b.top + size.v));
  }
  if (!isLiveWindow(w)) return noErr;
  return changeBounds(w, b, kWindowBoundsChangeUserResize);
}

OSStatus UserZoomWindow(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  Rect b = w->bounds;
  Point size{0, 0};
  if (askSize(w, kEventWindowGetMaximumSize, &size)) {
    b.right = short(b.left + size.h);
    b.bottom = short(b.top + size.v);
  }
  if (!isLiveWindow(w)) return noErr;
  return changeBounds(w, b, kWindowBoundsChangeZoom);
}

OSStatus UserClickScrollBarPart(ControlRef c, ControlPartCode part) {
  if (!isScrollBar(c)) return errUnknownControl;
  if (!c->visible || !c->enabled) return errControlHiddenOrDisabled;
  if (part < kControlUpButtonPart || part > kControlPageDownPart) return errInvalidPartCode;
  if (c->action) c->action(c, part);
  return noErr;
}

OSStatus UserDragScrollThumb(ControlRef c, SInt32 value) {
  if (!isScrollBar(c)) return errUnknownControl;
  if (!c->visible || !c->enabled) return errControlHiddenOrDisabled;
  SetControl32BitValue(c, std::clamp(value, c->minimum, std::max(c->minimum, c->maximum)));
  if (c->action) c->action(c, kControlIndicatorPart);
  return noErr;
}

OSStatus SendWindowUpdate(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  return sendToWindow(w, kEventWindowUpdate);
}

OSStatus SendWindowDrawContent(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  return sendToWindow(w, kEventWindowDrawContent);
}

int WindowUpdateDepth(WindowRef w) { return isLiveWindow(w) ? w->updates : 0; }

}  // namespace skyloom::ui
