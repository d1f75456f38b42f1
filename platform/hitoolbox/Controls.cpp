// Controls: lookup by (signature, id), values and limits, text and other
// control data, enable, visibility, keyboard focus and drawing.
#include <algorithm>
#include <cstring>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

bool hasText(OSType kind) {
  return kind == kControlKindEditText || kind == kControlKindEditUnicodeText || kind == kControlKindStaticText;
}

bool isEditText(OSType kind) { return kind == kControlKindEditText || kind == kControlKindEditUnicodeText; }

// Characters (code points) in UTF-8 text.
SInt32 charCount(const std::string& s) {
  SInt32 n = 0;
  for (unsigned char ch : s)
    if ((ch & 0xC0) != 0x80) ++n;
  return n;
}

void changed(ControlRef c) { notify(Change::ControlChanged, c->window, c); }

void sendControlEvent(ControlRef c, EventKind kind) {
  EventRef e = nullptr;
  if (CreateEvent(nullptr, kEventClassControl, kind, GetCurrentEventTime(), 0, &e) != noErr) return;
  SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
  SendEventToEventTarget(e, &c->target);
  ReleaseEvent(e);
}

// Every change of a value is announced, whoever made it.
void valueMayHaveChanged(ControlRef c, SInt32 before) {
  changed(c);
  if (c->value != before) sendControlEvent(c, kEventControlValueFieldChanged);
}

}  // namespace

namespace skyloom::ui::internal {

void syncPopupRange(ControlRef c) {
  if (!c->menu) return;
  SInt32 n = SInt32(c->menu->items.size());
  c->minimum = n ? 1 : 0;
  c->maximum = n;
  c->value = std::clamp(c->value, c->minimum, c->maximum);
}

void menuChanged(MenuRef m) {
  for (const void* p : model().liveControls) {
    ControlRef c = const_cast<ControlRef>(static_cast<const OpaqueControlRef*>(p));
    if (c->menu == m) syncPopupRange(c);
  }
  notify(Change::MenuChanged, nullptr, nullptr, m);
}

}  // namespace skyloom::ui::internal

OSStatus SkyloomCreateControl(WindowRef w, const Rect* bounds, OSType kind, const ControlID* inID,
                              ControlRef* outControl) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!outControl) return paramErr;
  auto c = std::make_unique<OpaqueControlRef>();
  c->target.owner = c.get();
  c->window = w;
  c->kind = kind;
  if (bounds) c->bounds = *bounds;
  if (inID) {
    c->signature = inID->signature;
    c->id = inID->id;
  }
  if (kind == kControlKindCheckBox || kind == kControlKindRadioButton) c->maximum = 1;
  if (kind == kControlKindProgressBar) c->maximum = 100;
  *outControl = c.get();
  model().liveControls.insert(c.get());
  w->controls.push_back(std::move(c));
  return noErr;
}

OSStatus CreateUserPaneControl(WindowRef w, const Rect* bounds, UInt32, ControlRef* out) {
  return SkyloomCreateControl(w, bounds, kControlKindUserPane, nullptr, out);
}

void DisposeControl(ControlRef c) {
  if (!isLiveControl(c) || c->isRoot) return;
  WindowRef w = c->window;
  // Embedded controls go with their embedder.
  std::vector<ControlRef> doomed{c};
  if (w)
    for (size_t i = 0; i < doomed.size(); ++i)
      for (auto& o : w->controls)
        if (o->parent == doomed[i]) doomed.push_back(o.get());
  for (ControlRef d : doomed) destructView(d);
  for (ControlRef d : doomed) {
    if (d->menu) ReleaseMenu(d->menu);
    if (w && w->focus == d) w->focus = nullptr;
    model().liveControls.erase(d);
    notify(Change::ControlDisposed, w, d);
  }
  auto& v = w ? w->controls : model().looseViews;
  v.erase(std::remove_if(v.begin(), v.end(),
                         [&](const std::unique_ptr<OpaqueControlRef>& o) {
                           return std::find(doomed.begin(), doomed.end(), o.get()) != doomed.end();
                         }),
          v.end());
}

OSStatus GetControlByID(WindowRef w, const ControlID* inID, ControlRef* outControl) {
  if (!inID || !outControl) return paramErr;
  *outControl = nullptr;
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  for (auto& c : w->controls) {
    if (c->signature == inID->signature && c->id == inID->id) {
      *outControl = c.get();
      return noErr;
    }
  }
  return errUnknownControl;
}

OSStatus GetControlID(ControlRef c, ControlID* out) {
  if (!isLiveControl(c) || !out) return errUnknownControl;
  *out = ControlID{c->signature, c->id};
  return noErr;
}

OSStatus SetControlID(ControlRef c, const ControlID* in) {
  if (!isLiveControl(c) || !in) return errUnknownControl;
  c->signature = in->signature;
  c->id = in->id;
  return noErr;
}

OSStatus GetControlKind(ControlRef c, ControlKind* out) {
  if (!isLiveControl(c) || !out) return errUnknownControl;
  *out = ControlKind{kControlKindSignatureApple, c->kind};
  return noErr;
}

WindowRef GetControlOwner(ControlRef c) { return isLiveControl(c) ? c->window : nullptr; }

OSStatus GetSuperControl(ControlRef c, ControlRef* out) {
  if (!isLiveControl(c) || !out) return errUnknownControl;
  *out = c->parent;
  return c->parent ? OSStatus(noErr) : errControlIsNotEmbedder;
}

namespace {
std::map<OSType, BuiltInDrawer>& builtInDrawers() {
  static std::map<OSType, BuiltInDrawer> drawers;
  return drawers;
}
}  // namespace

namespace skyloom::ui::internal {
void setBuiltInDrawer(OSType kind, BuiltInDrawer drawer) { builtInDrawers()[kind] = drawer; }
BuiltInDrawer builtInDrawer(OSType kind) {
  auto it = builtInDrawers().find(kind);
  return it == builtInDrawers().end() ? nullptr : it->second;
}
}  // namespace skyloom::ui::internal

void Draw1Control(ControlRef c) {
  if (!isLiveControl(c)) return;
  ++c->drawCount;
  notify(Change::ControlDrawn, c->window, c);
  if (c->drawProc) c->drawProc(c, kControlEntireControl);
  if (!isLiveControl(c)) return;
  if (BuiltInDrawer draw = builtInDrawer(c->kind)) draw(c);
  if (!isLiveControl(c)) return;
  // Only the control's own handlers draw it.
  if (c->target.handlers.empty()) return;
  ControlPartCode part = kControlEntireControl;
  EventRef e = nullptr;
  if (CreateEvent(nullptr, kEventClassControl, kEventControlDraw, GetCurrentEventTime(), 0, &e) != noErr) return;
  SetEventParameter(e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
  SetEventParameter(e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
  DrawContextProvider drawing = model().drawing;
  void* context = drawing.begin ? drawing.begin(c) : nullptr;
  if (context) SetEventParameter(e, kEventParamCGContextRef, typeCGContextRef, sizeof context, &context);
  SendEventToEventTarget(e, &c->target);
  if (context && drawing.end) drawing.end(c, context);
  ReleaseEvent(e);
}

SInt32 GetControl32BitValue(ControlRef c) { return isLiveControl(c) ? c->value : 0; }

void SetControl32BitValue(ControlRef c, SInt32 v) {
  if (!isLiveControl(c)) return;
  SInt32 before = c->value;
  c->value = std::clamp(v, c->minimum, c->maximum);
  valueMayHaveChanged(c, before);
}

SInt32 GetControl32BitMinimum(ControlRef c) { return isLiveControl(c) ? c->minimum : 0; }

void SetControl32BitMinimum(ControlRef c, SInt32 v) {
  if (!isLiveControl(c)) return;
  SInt32 before = c->value;
  c->minimum = v;
  if (c->maximum < v) c->maximum = v;
  if (c->value < v) c->value = v;
  valueMayHaveChanged(c, before);
}

SInt32 GetControl32BitMaximum(ControlRef c) { return isLiveControl(c) ? c->maximum : 0; }

void SetControl32BitMaximum(ControlRef c, SInt32 v) {
  if (!isLiveControl(c)) return;
  SInt32 before = c->value;
  c->maximum = v;
  if (c->minimum > v) c->minimum = v;
  if (c->value > v) c->value = v;
  valueMayHaveChanged(c, before);
}

SRefCon GetControlReference(ControlRef c) { return isLiveControl(c) ? c->reference : 0; }

void SetControlReference(ControlRef c, SRefCon data) {
  if (isLiveControl(c)) c->reference = data;
}

ControlActionUPP GetControlAction(ControlRef c) { return isLiveControl(c) ? c->action : nullptr; }

void SetControlAction(ControlRef c, ControlActionUPP proc) {
  if (isLiveControl(c)) c->action = proc;
}

OSStatus EnableControl(ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  c->enabled = true;
  changed(c);
  return noErr;
}

OSStatus DisableControl(ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  c->enabled = false;
  changed(c);
  return noErr;
}

Boolean IsControlEnabled(ControlRef c) {
  if (!isLiveControl(c)) return false;
  for (ControlRef p = c; p; p = p->parent)
    if (!p->enabled) return false;
  return true;
}

OSStatus ActivateControl(ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  bool was = c->active;
  c->active = true;
  changed(c);
  if (!was) sendControlEvent(c, kEventControlActivate);
  return noErr;
}

OSStatus DeactivateControl(ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  bool was = c->active;
  c->active = false;
  changed(c);
  if (was) sendControlEvent(c, kEventControlDeactivate);
  return noErr;
}

Boolean IsControlActive(ControlRef c) { return isLiveControl(c) && c->active; }

OSStatus SetControlVisibility(ControlRef c, Boolean visible, Boolean doDraw) {
  if (!isLiveControl(c)) return errUnknownControl;
  c->visible = visible;
  if (!visible && c->window && c->window->focus) {
    for (ControlRef f = c->window->focus; f; f = f->parent)
      if (f == c) c->window->focus = nullptr;
  }
  changed(c);
  if (doDraw) Draw1Control(c);
  return noErr;
}

void ShowControl(ControlRef c) { SetControlVisibility(c, true, true); }
void HideControl(ControlRef c) { SetControlVisibility(c, false, false); }

Boolean IsControlVisible(ControlRef c) {
  if (!isLiveControl(c)) return false;
  for (ControlRef p = c; p; p = p->parent)
    if (!p->visible) return false;
  return true;
}

void GetControlBounds(ControlRef c, Rect* b) {
  if (isLiveControl(c) && b) *b = c->bounds;
}

void SetControlBounds(ControlRef c, const Rect* b) {
  if (isLiveControl(c) && b) {
    c->bounds = *b;
    changed(c);
  }
}

void MoveControl(ControlRef c, SInt16 h, SInt16 v) {
  if (!isLiveControl(c)) return;
  const SInt16 width = SInt16(c->bounds.right - c->bounds.left), height = SInt16(c->bounds.bottom - c->bounds.top);
  c->bounds = Rect{v, h, SInt16(v + height), SInt16(h + width)};
  changed(c);
}

void SizeControl(ControlRef c, SInt16 w, SInt16 h) {
  if (!isLiveControl(c)) return;
  c->bounds.right = SInt16(c->bounds.left + w);
  c->bounds.bottom = SInt16(c->bounds.top + h);
  changed(c);
}

OSStatus SetControlTitleWithCFString(ControlRef c, CFStringRef s) {
  if (!isLiveControl(c)) return errUnknownControl;
  if (!s) return paramErr;
  c->title = toUtf8(s);
  changed(c);
  return noErr;
}

OSStatus CopyControlTitleAsCFString(ControlRef c, CFStringRef* out) {
  if (!isLiveControl(c)) return errUnknownControl;
  if (!out) return paramErr;
  *out = fromUtf8(c->title);
  return *out ? OSStatus(noErr) : memFullErr;
}

OSStatus GetControlCommandID(ControlRef c, UInt32* out) {
  if (!isLiveControl(c) || !out) return errUnknownControl;
  *out = c->command;
  return noErr;
}

OSStatus SetControlCommandID(ControlRef c, UInt32 cmd) {
  if (!isLiveControl(c)) return errUnknownControl;
  c->command = cmd;
  return noErr;
}

OSStatus SetControlData(ControlRef c, ControlPartCode, OSType tag, Size size, const void* data) {
  if (!isLiveControl(c)) return errUnknownControl;
  if (!data && size) return paramErr;
  switch (tag) {
    case FOUR_CHAR_CODE("cfst"): {
      if (!hasText(c->kind)) return errDataNotSupported;
      if (size != Size(sizeof(CFStringRef))) return errDataSizeMismatch;
      CFStringRef s = *static_cast<const CFStringRef*>(data);
      if (!s) return paramErr;
      c->text = toUtf8(s);
      c->selStart = c->selEnd = SInt16(std::min<SInt32>(charCount(c->text), 32767));
      changed(c);
      return noErr;
    }
    case FOUR_CHAR_CODE("text"): {
      if (!hasText(c->kind)) return errDataNotSupported;
      if (size < 0) return paramErr;
      c->text.assign(static_cast<const char*>(data), size_t(size));
      c->selStart = c->selEnd = SInt16(std::min<SInt32>(charCount(c->text), 32767));
      changed(c);
      return noErr;
    }
    case FOUR_CHAR_CODE("sele"): {
      if (!isEditText(c->kind)) return errDataNotSupported;
      if (size != Size(sizeof(ControlEditTextSelectionRec))) return errDataSizeMismatch;
      auto sel = *static_cast<const ControlEditTextSelectionRec*>(data);
      c->selStart = sel.selStart;
      c->selEnd = sel.selEnd;
      changed(c);
      return noErr;
    }
    case FOUR_CHAR_CODE("fltr"): {
      if (!isEditText(c->kind)) return errDataNotSupported;
      if (size != Size(sizeof(ControlKeyFilterUPP))) return errDataSizeMismatch;
      c->keyFilter = *static_cast<const ControlKeyFilterUPP*>(data);
      return noErr;
    }
    case FOUR_CHAR_CODE("draw"): {
      if (c->kind != kControlKindUserPane && c->kind != kControlKindHIView) return errDataNotSupported;
      if (size != Size(sizeof(ControlUserPaneDrawUPP))) return errDataSizeMismatch;
      c->drawProc = *static_cast<const ControlUserPaneDrawUPP*>(data);
      return noErr;
    }
    case FOUR_CHAR_CODE("dflt"):
    case FOUR_CHAR_CODE("cncl"): {
      if (c->kind != kControlKindPushButton) return errDataNotSupported;
      if (size != Size(sizeof(Boolean))) return errDataSizeMismatch;
      bool on = *static_cast<const Boolean*>(data) != 0;
      (tag == FOUR_CHAR_CODE("dflt") ? c->isDefault : c->isCancel) = on;
      changed(c);
      return noErr;
    }
    case FOUR_CHAR_CODE("inde"):
    case FOUR_CHAR_CODE("anim"): {
      bool ok = c->kind == kControlKindProgressBar ||
                (tag == FOUR_CHAR_CODE("anim") && c->kind == kControlKindChasingArrows);
      if (!ok) return errDataNotSupported;
      if (size != Size(sizeof(Boolean))) return errDataSizeMismatch;
      bool on = *static_cast<const Boolean*>(data) != 0;
      (tag == FOUR_CHAR_CODE("inde") ? c->indeterminate : c->animating) = on;
      changed(c);
      return noErr;
    }
    case FOUR_CHAR_CODE("mhan"): {
      if (c->kind != kControlKindPopupButton) return errDataNotSupported;
      if (size != Size(sizeof(MenuRef))) return errDataSizeMismatch;
      SetControlPopupMenuHandle(c, *static_cast<const MenuRef*>(data));
      return noErr;
    }
    default:
      return errDataNotSupported;
  }
}

OSStatus GetControlData(ControlRef c, ControlPartCode, OSType tag, Size bufferSize, void* buffer, Size* actualSize) {
  if (!isLiveControl(c)) return errUnknownControl;
  auto fixed = [&](const void* src, Size n) -> OSStatus {
    if (actualSize) *actualSize = n;
    if (!buffer) return noErr;
    if (bufferSize != n) return errDataSizeMismatch;
    memcpy(buffer, src, size_t(n));
    return noErr;
  };
  switch (tag) {
    case FOUR_CHAR_CODE("cfst"): {
      if (!hasText(c->kind)) return errDataNotSupported;
      if (actualSize) *actualSize = sizeof(CFStringRef);
      if (!buffer) return noErr;
      if (bufferSize != Size(sizeof(CFStringRef))) return errDataSizeMismatch;
      CFStringRef s = fromUtf8(c->text);
      if (!s) return memFullErr;
      *static_cast<CFStringRef*>(buffer) = s;
      return noErr;
    }
    case FOUR_CHAR_CODE("text"): {
      if (!hasText(c->kind)) return errDataNotSupported;
      Size n = Size(c->text.size());
      if (actualSize) *actualSize = n;
      if (buffer) memcpy(buffer, c->text.data(), size_t(std::min(n, std::max<Size>(bufferSize, 0))));
      return noErr;
    }
    case FOUR_CHAR_CODE("sele"): {
      if (!isEditText(c->kind)) return errDataNotSupported;
      SInt16 len = SInt16(std::min<SInt32>(charCount(c->text), 32767));
      ControlEditTextSelectionRec sel{std::clamp<SInt16>(c->selStart, 0, len), std::clamp<SInt16>(c->selEnd, 0, len)};
      return fixed(&sel, sizeof sel);
    }
    case FOUR_CHAR_CODE("fltr"):
      if (!isEditText(c->kind)) return errDataNotSupported;
      return fixed(&c->keyFilter, sizeof c->keyFilter);
    case FOUR_CHAR_CODE("draw"):
      if (c->kind != kControlKindUserPane && c->kind != kControlKindHIView) return errDataNotSupported;
      return fixed(&c->drawProc, sizeof c->drawProc);
    case FOUR_CHAR_CODE("dflt"):
    case FOUR_CHAR_CODE("cncl"): {
      if (c->kind != kControlKindPushButton) return errDataNotSupported;
      Boolean b = (tag == FOUR_CHAR_CODE("dflt") ? c->isDefault : c->isCancel) ? 1 : 0;
      return fixed(&b, sizeof b);
    }
    case FOUR_CHAR_CODE("mhan"):
      if (c->kind != kControlKindPopupButton) return errDataNotSupported;
      return fixed(&c->menu, sizeof c->menu);
    case FOUR_CHAR_CODE("inde"):
    case FOUR_CHAR_CODE("anim"): {
      bool ok = c->kind == kControlKindProgressBar ||
                (tag == FOUR_CHAR_CODE("anim") && c->kind == kControlKindChasingArrows);
      if (!ok) return errDataNotSupported;
      Boolean b = (tag == FOUR_CHAR_CODE("inde") ? c->indeterminate : c->animating) ? 1 : 0;
      return fixed(&b, sizeof b);
    }
    default:
      return errDataNotSupported;
  }
}

OSStatus GetControlDataSize(ControlRef c, ControlPartCode part, OSType tag, Size* outMaxSize) {
  if (!outMaxSize) return paramErr;
  return GetControlData(c, part, tag, 0, nullptr, outMaxSize);
}

OSStatus SetKeyboardFocus(WindowRef w, ControlRef c, ControlFocusPart part) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (part == kControlFocusNoPart) return ClearKeyboardFocus(w);
  if (!isLiveControl(c) || c->window != w) return errUnknownControl;
  if (!isEditText(c->kind)) return errControlDoesntSupportFocus;
  if (!IsControlVisible(c) || !IsControlEnabled(c)) return errCouldntSetFocus;
  w->focus = c;
  changed(c);
  return noErr;
}

OSStatus GetKeyboardFocus(WindowRef w, ControlRef* out) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  if (!out) return paramErr;
  *out = w->focus;
  return noErr;
}

OSStatus ClearKeyboardFocus(WindowRef w) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  w->focus = nullptr;
  return noErr;
}

MenuRef GetControlPopupMenuHandle(ControlRef c) { return isLiveControl(c) ? c->menu : nullptr; }

void SetControlPopupMenuHandle(ControlRef c, MenuRef m) {
  if (!isLiveControl(c) || c->kind != kControlKindPopupButton) return;
  if (m && !isLiveMenu(m)) return;
  if (m) RetainMenu(m);
  if (c->menu) ReleaseMenu(c->menu);
  c->menu = m;
  syncPopupRange(c);
  changed(c);
}
