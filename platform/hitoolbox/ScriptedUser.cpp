#include "platform/hitoolbox/ScriptedUser.h"

#include <cstdio>

namespace skyloom::ui {

namespace {

std::string code(UInt32 c) {
  std::string s = "'";
  for (int sh = 24; sh >= 0; sh -= 8) {
    char ch = char((c >> sh) & 0xFF);
    s += (ch >= 32 && ch < 127) ? ch : '?';
  }
  return s + "'";
}

const char* loopName(LoopKind k) {
  switch (k) {
    case LoopKind::Application: return "the application loop";
    case LoopKind::AppModal: return "an app-modal loop";
    case LoopKind::Alert: return "an alert";
    case LoopKind::Poll: return "a poll";
    case LoopKind::ColorPicker: return "the colour chooser";
  }
  return "";
}

}  // namespace

ScriptedUser::ScriptedUser() : previous_(GetUserAgent()) { SetUserAgent(this); }

ScriptedUser::~ScriptedUser() { SetUserAgent(previous_); }

std::string ScriptedUser::Step::Describe() const {
  std::string where = window.empty() ? std::string() : " in \"" + window + "\"";
  std::string control = code(signature) + " " + std::to_string(id);
  switch (kind) {
    case Kind::Type: return "type \"" + text + "\" into " + control + where;
    case Kind::Click: return "click " + control + where;
    case Kind::Command: return "command " + code(UInt32(number)) + where;
    case Kind::ChooseItem: return "choose item " + std::to_string(number) + " of " + control + where;
    case Kind::SetValue: return "set " + control + " to " + std::to_string(number) + where;
    case Kind::ClickArrow: return std::string("click the ") + (number ? "up" : "down") + " arrow of " + control + where;
    case Kind::MenuItem: return "choose item " + std::to_string(number) + " of menu " + std::to_string(id);
    case Kind::MenuCommand: return "choose the menu command " + code(UInt32(number));
    case Kind::MenuKey: return std::string("press command-") + char(number);
    case Kind::ClickAt:
      return "click " + control + " at (" + std::to_string(from.h) + ", " + std::to_string(from.v) + ")" + where;
    case Kind::Drag:
      return "drag in " + control + " from (" + std::to_string(from.h) + ", " + std::to_string(from.v) + ") to (" +
             std::to_string(to.h) + ", " + std::to_string(to.v) + ")" + where;
    case Kind::DragPath:
      return "drag in " + control + " from (" + std::to_string(from.h) + ", " + std::to_string(from.v) + ") through " +
             std::to_string(path.size()) + " points" + where;
    case Kind::Key: return "press key " + std::to_string(number) + where;
    case Kind::Close: return "close the window" + where;
    case Kind::MoveMouse:
      return "move the mouse to (" + std::to_string(from.h) + ", " + std::to_string(from.v) + ")" + where;
    case Kind::Alert: return "answer the alert with button " + std::to_string(number);
    case Kind::Wait: return "wait " + std::to_string(seconds) + " s";
    case Kind::Color:
      return number ? "choose the colour (" + std::to_string(colour.red) + ", " + std::to_string(colour.green) + ", " +
                          std::to_string(colour.blue) + ")"
                    : std::string("cancel the colour chooser");
    case Kind::Do: return "a test step";
  }
  return "";
}

ScriptedUser& ScriptedUser::Add(Step step) {
  steps_.push_back(std::move(step));
  return *this;
}

ScriptedUser& ScriptedUser::Type(OSType sig, SInt32 id, const std::string& text, const std::string& window) {
  Step s = NewStep(Kind::Type, window);
  s.signature = sig;
  s.id = id;
  s.text = text;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::Click(OSType sig, SInt32 id, const std::string& window) {
  Step s = NewStep(Kind::Click, window);
  s.signature = sig;
  s.id = id;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::Command(UInt32 command, const std::string& window) {
  Step s = NewStep(Kind::Command, window);
  s.number = SInt32(command);
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ChooseItem(OSType sig, SInt32 id, SInt32 item, const std::string& window) {
  Step s = NewStep(Kind::ChooseItem, window);
  s.signature = sig;
  s.id = id;
  s.number = item;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::SetValue(OSType sig, SInt32 id, SInt32 value, const std::string& window) {
  Step s = NewStep(Kind::SetValue, window);
  s.signature = sig;
  s.id = id;
  s.number = value;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ClickArrow(OSType sig, SInt32 id, bool up, const std::string& window) {
  Step s = NewStep(Kind::ClickArrow, window);
  s.signature = sig;
  s.id = id;
  s.number = up ? 1 : 0;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ChooseMenuItem(MenuID menuID, MenuItemIndex item) {
  Step s = NewStep(Kind::MenuItem, "");
  s.id = menuID;
  s.number = item;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ChooseMenuCommand(MenuCommand command) {
  Step s = NewStep(Kind::MenuCommand, "");
  s.number = SInt32(command);
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::PressMenuKey(char key) {
  Step s = NewStep(Kind::MenuKey, "");
  s.number = key;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ClickAt(OSType sig, SInt32 id, Point where, UInt32 modifiers, const std::string& window) {
  Step s = NewStep(Kind::ClickAt, window);
  s.signature = sig;
  s.id = id;
  s.from = s.to = where;
  s.number = SInt32(modifiers);
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::Drag(OSType sig, SInt32 id, Point from, Point to, const std::string& window) {
  Step s = NewStep(Kind::Drag, window);
  s.signature = sig;
  s.id = id;
  s.from = from;
  s.to = to;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::DragPath(OSType sig, SInt32 id, Point from, std::vector<Point> path,
                                   const std::string& window) {
  Step s = NewStep(Kind::DragPath, window);
  s.signature = sig;
  s.id = id;
  s.from = from;
  s.path = std::move(path);
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::Key(char charCode, UInt32 keyCode, bool repeat, const std::string& window) {
  Step s = NewStep(Kind::Key, window);
  s.number = SInt32(keyCode);
  s.text = std::string(1, charCode);
  s.seconds = repeat ? 1 : 0;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::CloseWindow(const std::string& window) { return Add(NewStep(Kind::Close, window)); }

ScriptedUser& ScriptedUser::MoveMouse(Point where, const std::string& window) {
  Step s = NewStep(Kind::MoveMouse, window);
  s.from = s.to = where;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::AnswerAlert(DialogItemIndex item) {
  Step s = NewStep(Kind::Alert, "");
  s.number = item;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::ChooseColor(RGBColor colour) {
  Step s = NewStep(Kind::Color, "");
  s.number = 1;
  s.colour = colour;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::CancelColor() { return Add(NewStep(Kind::Color, "")); }

ScriptedUser& ScriptedUser::Wait(double seconds) {
  Step s = NewStep(Kind::Wait, "");
  s.seconds = seconds;
  return Add(std::move(s));
}

ScriptedUser& ScriptedUser::Do(std::function<void()> step) {
  Step s = NewStep(Kind::Do, "");
  s.fn = std::move(step);
  return Add(std::move(s));
}

WindowRef ScriptedUser::Facing(const LoopState& state, const std::string& name) const {
  if (!name.empty()) return FindWindow(name);
  if (state.kind == LoopKind::AppModal && state.window) {
    if (WindowRef sheet = SheetOf(state.window)) return sheet;
    return state.window;
  }
  if (WindowRef modal = ModalWindow()) return modal;
  return FrontWindow();
}

OSStatus ScriptedUser::Perform(const Step& s, const LoopState& state) {
  auto control = [&](ControlRef* out) -> OSStatus {
    WindowRef w = Facing(state, s.window);
    if (!w) return errInvalidWindowRef;
    ControlID id{s.signature, s.id};
    return GetControlByID(w, &id, out);
  };
  ControlRef c = nullptr;
  switch (s.kind) {
    case Kind::Type:
      if (OSStatus st = control(&c)) return st;
      return UserType(c, s.text);
    case Kind::Click:
      if (OSStatus st = control(&c)) return st;
      return UserClick(c);
    case Kind::ChooseItem:
      if (OSStatus st = control(&c)) return st;
      return UserChooseItem(c, s.number);
    case Kind::SetValue:
      if (OSStatus st = control(&c)) return st;
      return UserSetValue(c, s.number);
    case Kind::ClickArrow:
      if (OSStatus st = control(&c)) return st;
      return UserClickArrow(c, s.number != 0);
    case Kind::Command: {
      WindowRef w = Facing(state, s.window);
      if (!w) return errInvalidWindowRef;
      return UserSendCommand(w, UInt32(s.number));
    }
    case Kind::Close: {
      WindowRef w = Facing(state, s.window);
      if (!w) return errInvalidWindowRef;
      return UserCloseWindow(w);
    }
    case Kind::MoveMouse: {
      WindowRef w = Facing(state, s.window);
      if (!w) return errInvalidWindowRef;
      return UserMouseInWindow(w, kEventMouseMoved, s.from);
    }
    case Kind::MenuItem: {
      MenuRef m = GetMenuRef(MenuID(s.id));
      if (!m) return menuNotFoundErr;
      return UserChooseMenuItem(m, MenuItemIndex(s.number));
    }
    case Kind::MenuCommand: {
      MenuRef m = nullptr;
      MenuItemIndex i = 0;
      if (OSStatus st = GetIndMenuItemWithCommandID(nullptr, MenuCommand(s.number), 1, &m, &i)) return st;
      return UserChooseMenuItem(m, i);
    }
    case Kind::MenuKey:
      return UserPressMenuKey(char(s.number));
    case Kind::ClickAt:
    case Kind::Drag: {
      if (OSStatus st = control(&c)) return st;
      UInt32 mods = s.kind == Kind::ClickAt ? UInt32(s.number) : 0;
      if (OSStatus st = UserMouse(c, kEventMouseDown, s.from, mods)) return st;
      // A press may close what was pressed; the rest of the gesture is then moot.
      if (s.kind == Kind::Drag && ControlKindOf(c)) UserMouse(c, kEventMouseDragged, s.to, mods);
      return ControlKindOf(c) ? UserMouse(c, kEventMouseUp, s.to, mods) : OSStatus(noErr);
    }
    case Kind::DragPath: {
      if (OSStatus st = control(&c)) return st;
      Rect b;
      GetControlBounds(c, &b);
      Point from{short(b.top + s.from.v), short(b.left + s.from.h)};
      std::vector<Point> path;
      for (Point p : s.path) path.push_back(Point{short(b.top + p.v), short(b.left + p.h)});
      return UserDragPath(GetControlOwner(c), from, path, c);
    }
    case Kind::Key: {
      WindowRef w = Facing(state, s.window);
      if (!w) return errInvalidWindowRef;
      return UserKey(w, s.text.empty() ? 0 : s.text[0], UInt32(s.number), 0, s.seconds != 0);
    }
    case Kind::Alert: {
      DialogRef a = CurrentAlert();
      if (!a) return paramErr;
      return UserAnswerAlert(a, DialogItemIndex(s.number));
    }
    case Kind::Color:
      return UserAnswerColorPicker(s.number ? &s.colour : nullptr);
    case Kind::Wait:
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, s.seconds, false);
      return noErr;
    case Kind::Do:
      s.fn();
      return noErr;
  }
  return paramErr;
}

bool ScriptedUser::Escape(const LoopState& state) {
  const void* loop = state.kind == LoopKind::Alert         ? static_cast<const void*>(state.alert)
                     : state.kind == LoopKind::ColorPicker ? static_cast<const void*>(&ColorPicker())
                                                           : static_cast<const void*>(state.window);
  if (state.kind == LoopKind::Application) {
    QuitApplicationEventLoop();
    return true;
  }
  if (escaped_ == loop) return false;  // escaping did not end it: give up
  escaped_ = loop;
  errors_.push_back(std::string("nothing left to do in ") + loopName(state.kind));
  fprintf(stderr, "ScriptedUser: %s\n", errors_.back().c_str());
  if (state.kind == LoopKind::ColorPicker) {
    UserAnswerColorPicker(nullptr);
  } else if (state.kind == LoopKind::Alert) {
    const AlertRecord* info = AlertInfo(state.alert);
    DialogItemIndex item = kAlertStdAlertOKButton;
    if (info && info->buttons.size() >= 2 && !info->buttons[1].empty()) item = kAlertStdAlertCancelButton;
    UserAnswerAlert(state.alert, item);
  } else if (state.window) {
    UserSendCommand(SheetOf(state.window) ? SheetOf(state.window) : state.window, kHICommandCancel);
  }
  return true;
}

bool ScriptedUser::Act(const LoopState& state) {
  if (state.kind == LoopKind::Poll) {
    // While the application polls (a long job pumping events), only a step
    // aimed at a menu, or at a named window that is on screen now, is taken.
    if (steps_.empty()) return false;
    const Step& s = steps_.front();
    if (s.kind == Kind::Wait || s.kind == Kind::Do || s.kind == Kind::Alert) return false;
    bool menu = s.kind == Kind::MenuItem || s.kind == Kind::MenuCommand || s.kind == Kind::MenuKey;
    if (!menu && (s.window.empty() || !IsWindowVisible(FindWindow(s.window))))
      return false;
  }
  if (steps_.empty()) return Escape(state);
  Step s = std::move(steps_.front());
  steps_.pop_front();
  ++done_;
  escaped_ = nullptr;
  if (state.kind == LoopKind::Alert && s.kind != Kind::Alert && s.kind != Kind::Wait && s.kind != Kind::Do) {
    errors_.push_back("step " + std::to_string(done_) + " (" + s.Describe() + "): an alert is up");
    fprintf(stderr, "ScriptedUser: %s\n", errors_.back().c_str());
    return true;
  }
  if (state.kind == LoopKind::ColorPicker && s.kind != Kind::Color && s.kind != Kind::Wait && s.kind != Kind::Do) {
    errors_.push_back("step " + std::to_string(done_) + " (" + s.Describe() + "): the colour chooser is up");
    fprintf(stderr, "ScriptedUser: %s\n", errors_.back().c_str());
    return true;
  }
  OSStatus st = Perform(s, state);
  if (st != noErr) {
    errors_.push_back("step " + std::to_string(done_) + " (" + s.Describe() + ") failed: " + std::to_string(st));
    fprintf(stderr, "ScriptedUser: %s\n", errors_.back().c_str());
  }
  return true;
}

}  // namespace skyloom::ui
