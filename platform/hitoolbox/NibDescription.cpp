// Reader of the nib description text (format in NibDescription.h).
#include "platform/hitoolbox/NibDescription.h"

#include <dirent.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/hitoolbox/HIToolbox.h"

namespace skyloom::ui {
namespace {

enum class Tok { Word, String, Code, Equals, Comma };
struct Token {
  Tok kind;
  std::string text;  // word or string contents
  UInt32 code = 0;
};

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '+' || c == '.';
}

// Splits one line into tokens; false with a message on a malformed token.
bool tokenize(std::string_view line, std::vector<Token>& out, std::string& what) {
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '=') {
      out.push_back({Tok::Equals, "="});
      ++i;
    } else if (c == ',') {
      out.push_back({Tok::Comma, ","});
      ++i;
    } else if (c == '"' || c == '\'') {
      char quote = c;
      std::string s;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == quote) {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          char e = line[i++];
          switch (e) {
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'r': s += '\r'; break;
            default: s += e; break;
          }
        } else {
          s += d;
        }
      }
      if (!closed) {
        what = "unterminated quote";
        return false;
      }
      if (quote == '"') {
        out.push_back({Tok::String, s});
      } else {
        if (s.size() != 4) {
          what = "a four-character code needs exactly four bytes: '" + s + "'";
          return false;
        }
        UInt32 code = (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) |
                      UInt32(UInt8(s[3]));
        out.push_back({Tok::Code, s, code});
      }
    } else if (isWordChar(c)) {
      size_t start = i;
      while (i < line.size() && isWordChar(line[i])) ++i;
      out.push_back({Tok::Word, std::string(line.substr(start, i - start))});
    } else {
      what = std::string("unexpected character '") + c + "'";
      return false;
    }
  }
  return true;
}

bool parseInt(const std::string& s, SInt32& v) {
  if (s.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (s[0] == '-' || s[0] == '+') {
    neg = s[0] == '-';
    i = 1;
  }
  if (i >= s.size()) return false;
  long long acc = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    acc = acc * 10 + (s[i] - '0');
    if (acc > 2147483648LL) return false;
  }
  if (neg) acc = -acc;
  if (acc > INT32_MAX || acc < INT32_MIN) return false;
  v = SInt32(acc);
  return true;
}

// An attribute: key, and its value as a list of atoms (empty for a flag).
struct Attr {
  std::string key;
  std::vector<Token> values;
};

bool parseAttrs(const std::vector<Token>& toks, size_t from, std::vector<Attr>& attrs, std::string& what) {
  size_t i = from;
  while (i < toks.size()) {
    if (toks[i].kind != Tok::Word) {
      what = "expected an attribute name";
      return false;
    }
    Attr a{toks[i].text, {}};
    ++i;
    if (i < toks.size() && toks[i].kind == Tok::Equals) {
      ++i;
      while (true) {
        if (i >= toks.size() || toks[i].kind == Tok::Equals || toks[i].kind == Tok::Comma) {
          what = "missing value for " + a.key;
          return false;
        }
        a.values.push_back(toks[i]);
        ++i;
        if (i < toks.size() && toks[i].kind == Tok::Comma) {
          ++i;
          continue;
        }
        break;
      }
    }
    attrs.push_back(std::move(a));
  }
  return true;
}

bool oneString(const Attr& a, std::string& out, std::string& what) {
  if (a.values.size() != 1 || a.values[0].kind != Tok::String) {
    what = a.key + " needs one quoted text";
    return false;
  }
  out = a.values[0].text;
  return true;
}

bool oneInt(const Attr& a, SInt32& out, std::string& what) {
  if (a.values.size() != 1 || a.values[0].kind != Tok::Word || !parseInt(a.values[0].text, out)) {
    what = a.key + " needs one whole number";
    return false;
  }
  return true;
}

bool oneCode(const Attr& a, UInt32& out, std::string& what) {
  if (a.values.size() != 1 || a.values[0].kind != Tok::Code) {
    what = a.key + " needs one four-character code";
    return false;
  }
  out = a.values[0].code;
  return true;
}

bool isFlag(const Attr& a, std::string& what) {
  if (!a.values.empty()) {
    what = a.key + " takes no value";
    return false;
  }
  return true;
}

bool parseBounds(const Attr& a, Rect& r, std::string& what) {
  SInt32 v[4];
  if (a.values.size() != 4) {
    what = "bounds needs top,left,bottom,right";
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    if (a.values[k].kind != Tok::Word || !parseInt(a.values[k].text, v[k]) || v[k] < -32768 || v[k] > 32767) {
      what = "bounds needs four whole numbers in -32768..32767";
      return false;
    }
  }
  r.top = short(v[0]);
  r.left = short(v[1]);
  r.bottom = short(v[2]);
  r.right = short(v[3]);
  return true;
}

struct NamedValue {
  const char* name;
  UInt32 value;
};

constexpr NamedValue kWindowClasses[] = {
    {"alert", kAlertWindowClass},       {"movable-alert", kMovableAlertWindowClass},
    {"modal", kModalWindowClass},       {"movable-modal", kMovableModalWindowClass},
    {"floating", kFloatingWindowClass}, {"document", kDocumentWindowClass},
    {"utility", kUtilityWindowClass},   {"sheet", kSheetWindowClass},
    {"toolbar", kToolbarWindowClass},   {"plain", kPlainWindowClass},
    {"overlay", kOverlayWindowClass},   {"sheet-alert", kSheetAlertWindowClass},
    {"drawer", kDrawerWindowClass},
};

constexpr NamedValue kWindowAttributes[] = {
    {"close-box", kWindowCloseBoxAttribute},
    {"collapse-box", kWindowCollapseBoxAttribute},
    {"full-zoom", kWindowFullZoomAttribute},
    {"resizable", kWindowResizableAttribute},
    {"live-resize", kWindowLiveResizeAttribute},
    {"compositing", kWindowCompositingAttribute},
    {"standard-handler", kWindowStandardHandlerAttribute},
    {"standard-document", kWindowStandardDocumentAttributes},
};

constexpr NamedValue kControlKinds[] = {
    {"edit-text", kControlKindEditUnicodeText},
    {"static-text", kControlKindStaticText},
    {"push-button", kControlKindPushButton},
    {"bevel-button", kControlKindBevelButton},
    {"check-box", kControlKindCheckBox},
    {"radio-button", kControlKindRadioButton},
    {"radio-group", kControlKindRadioGroup},
    {"pop-up", kControlKindPopupButton},
    {"slider", kControlKindSlider},
    {"little-arrows", kControlKindLittleArrows},
    {"user-pane", kControlKindUserPane},
    {"group-box", kControlKindGroupBox},
    {"progress-bar", kControlKindProgressBar},
    {"chasing-arrows", kControlKindChasingArrows},
    {"tabs", kControlKindTabs},
    {"separator", kControlKindSeparator},
    {"image-well", kControlKindImageWell},
    {"view", kControlKindHIView},
    {"image-view", kControlKindHIImageView},
    {"scroll-bar", kControlKindScrollBar},
};

template <size_t N>
bool lookup(const NamedValue (&table)[N], const std::string& name, UInt32& out) {
  for (const auto& e : table) {
    if (name == e.name) {
      out = e.value;
      return true;
    }
  }
  return false;
}

bool takesItems(OSType kind) {
  return kind == kControlKindPopupButton || kind == kControlKindRadioGroup || kind == kControlKindTabs;
}

bool parseItem(const std::vector<Token>& toks, ItemDesc& item, std::string& what) {
  if (toks.size() < 2 || toks[1].kind != Tok::String) {
    what = "item needs its text in quotes";
    return false;
  }
  item.text = toks[1].text;
  item.separator = item.text == "-";
  std::vector<Attr> attrs;
  if (!parseAttrs(toks, 2, attrs, what)) return false;
  for (const Attr& a : attrs) {
    if (a.key == "command") {
      if (!oneCode(a, item.command, what)) return false;
    } else if (a.key == "key") {
      if (!oneString(a, item.key, what)) return false;
    } else if (a.key == "submenu") {
      if (!oneString(a, item.submenu, what)) return false;
    } else if (a.key == "checked") {
      if (!isFlag(a, what)) return false;
      item.checked = true;
    } else if (a.key == "disabled") {
      if (!isFlag(a, what)) return false;
      item.enabled = false;
    } else if (a.key == "separator") {
      if (!isFlag(a, what)) return false;
      item.separator = true;
    } else {
      what = "unknown item attribute " + a.key;
      return false;
    }
  }
  return true;
}

bool parseMenuHeader(const std::vector<Token>& toks, MenuDesc& menu, std::string& what) {
  if (toks.size() < 2 || toks[1].kind != Tok::String || toks[1].text.empty()) {
    what = "menu needs its name in quotes";
    return false;
  }
  menu.name = toks[1].text;
  menu.title = menu.name;
  std::vector<Attr> attrs;
  if (!parseAttrs(toks, 2, attrs, what)) return false;
  for (const Attr& a : attrs) {
    if (a.key == "id") {
      SInt32 v = 0;
      if (!oneInt(a, v, what)) return false;
      if (v < -32768 || v > 32767) {
        what = "menu id out of range";
        return false;
      }
      menu.id = SInt16(v);
    } else if (a.key == "title") {
      if (!oneString(a, menu.title, what)) return false;
    } else {
      what = "unknown menu attribute " + a.key;
      return false;
    }
  }
  return true;
}

bool parseWindowHeader(const std::vector<Token>& toks, WindowDesc& w, std::string& what) {
  if (toks.size() < 2 || toks[1].kind != Tok::String || toks[1].text.empty()) {
    what = "window needs its name in quotes";
    return false;
  }
  w.name = toks[1].text;
  std::vector<Attr> attrs;
  if (!parseAttrs(toks, 2, attrs, what)) return false;
  for (const Attr& a : attrs) {
    if (a.key == "class") {
      if (a.values.size() != 1 || a.values[0].kind != Tok::Word || !lookup(kWindowClasses, a.values[0].text, w.windowClass)) {
        what = "unknown window class";
        return false;
      }
    } else if (a.key == "title") {
      if (!oneString(a, w.title, what)) return false;
    } else if (a.key == "bounds") {
      if (!parseBounds(a, w.bounds, what)) return false;
    } else if (a.key == "attributes") {
      for (const Token& t : a.values) {
        UInt32 bit = 0;
        if (t.kind != Tok::Word || !lookup(kWindowAttributes, t.text, bit)) {
          what = "unknown window attribute " + t.text;
          return false;
        }
        w.attributes |= bit;
      }
    } else {
      what = "unknown window attribute " + a.key;
      return false;
    }
  }
  return true;
}

bool parseControl(const std::vector<Token>& toks, const WindowDesc& w, ControlDesc& c, std::string& what) {
  size_t i = 1;
  if (i < toks.size() && toks[i].kind == Tok::Word && toks[i].text == "-") {
    ++i;  // unnamed: signature 0, id 0
  } else {
    if (i + 1 >= toks.size() || toks[i].kind != Tok::Code || toks[i + 1].kind != Tok::Word ||
        !parseInt(toks[i + 1].text, c.id)) {
      what = "control needs 'SIGN' id (or - for an unnamed one)";
      return false;
    }
    c.signature = toks[i].code;
    i += 2;
  }
  if (i >= toks.size() || toks[i].kind != Tok::Word || !lookup(kControlKinds, toks[i].text, c.kind)) {
    what = "unknown control kind";
    return false;
  }
  ++i;
  std::vector<Attr> attrs;
  if (!parseAttrs(toks, i, attrs, what)) return false;
  for (const Attr& a : attrs) {
    if (a.key == "bounds") {
      if (!parseBounds(a, c.bounds, what)) return false;
    } else if (a.key == "title") {
      if (!oneString(a, c.title, what)) return false;
    } else if (a.key == "text") {
      if (!oneString(a, c.text, what)) return false;
    } else if (a.key == "value") {
      if (!oneInt(a, c.value, what)) return false;
      c.hasValue = true;
    } else if (a.key == "min") {
      if (!oneInt(a, c.minimum, what)) return false;
      c.hasMinimum = true;
    } else if (a.key == "max") {
      if (!oneInt(a, c.maximum, what)) return false;
      c.hasMaximum = true;
    } else if (a.key == "viewsize") {
      if (!oneInt(a, c.viewSize, what)) return false;
    } else if (a.key == "command") {
      if (!oneCode(a, c.command, what)) return false;
    } else if (a.key == "menu") {
      if (!oneString(a, c.menuName, what)) return false;
    } else if (a.key == "class") {
      if (!oneString(a, c.className, what)) return false;
      if (c.kind != kControlKindHIView || c.className.empty()) {
        what = "class belongs to a view";
        return false;
      }
    } else if (a.key == "in") {
      if (a.values.size() != 2 || a.values[0].kind != Tok::Code || a.values[1].kind != Tok::Word ||
          !parseInt(a.values[1].text, c.parentId)) {
        what = "in needs 'SIGN',id";
        return false;
      }
      c.parentSignature = a.values[0].code;
      c.embedded = true;
    } else if (a.key == "default" || a.key == "cancel" || a.key == "hidden" || a.key == "disabled") {
      if (!isFlag(a, what)) return false;
      if (a.key == "default") c.isDefault = true;
      if (a.key == "cancel") c.isCancel = true;
      if (a.key == "hidden") c.visible = false;
      if (a.key == "disabled") c.enabled = false;
    } else {
      what = "unknown control attribute " + a.key;
      return false;
    }
  }
  if (c.embedded) {
    bool found = std::any_of(w.controls.begin(), w.controls.end(), [&](const ControlDesc& p) {
      return p.signature == c.parentSignature && p.id == c.parentId && p.signature != 0;
    });
    if (!found) {
      what = "in names no earlier control of this window";
      return false;
    }
  }
  if (c.signature != 0) {
    bool dup = std::any_of(w.controls.begin(), w.controls.end(),
                           [&](const ControlDesc& p) { return p.signature == c.signature && p.id == c.id; });
    if (dup) {
      what = "two controls of one window with the same signature and id";
      return false;
    }
  }
  if (c.hasMinimum && c.hasMaximum && c.minimum > c.maximum) {
    what = "min above max";
    return false;
  }
  return true;
}

}  // namespace

bool ParseNibDescription(std::string_view text, const std::string& fileName, NibDescription& nib,
                         std::string& error) {
  enum class Ctx { Top, Window, Menu, MenuBar, MenuInBar };
  Ctx ctx = Ctx::Top;
  WindowDesc window;
  MenuDesc menu;
  MenuBarDesc bar;
  int lineNo = 0;
  size_t pos = 0;
  auto fail = [&](const std::string& what) {
    error = fileName + ":" + std::to_string(lineNo) + ": " + what;
    return false;
  };
  auto nameTaken = [&](const std::string& name) {
    return nib.windows.count(name) || nib.menus.count(name) || nib.menuBars.count(name);
  };
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    std::vector<Token> toks;
    std::string what;
    if (!tokenize(line, toks, what)) return fail(what);
    if (toks.empty()) continue;
    if (toks[0].kind != Tok::Word) return fail("a line starts with a keyword");
    const std::string& kw = toks[0].text;

    if (kw == "end") {
      if (toks.size() != 1) return fail("end takes nothing");
      switch (ctx) {
        case Ctx::Top:
          return fail("end without a block");
        case Ctx::Window:
          nib.windows[window.name] = std::move(window);
          window = WindowDesc{};
          ctx = Ctx::Top;
          break;
        case Ctx::Menu:
          nib.menus[menu.name] = std::move(menu);
          menu = MenuDesc{};
          ctx = Ctx::Top;
          break;
        case Ctx::MenuInBar:
          bar.menus.push_back(std::move(menu));
          menu = MenuDesc{};
          ctx = Ctx::MenuBar;
          break;
        case Ctx::MenuBar:
          nib.menuBars[bar.name] = std::move(bar);
          bar = MenuBarDesc{};
          ctx = Ctx::Top;
          break;
      }
    } else if (kw == "window") {
      if (ctx != Ctx::Top) return fail("window inside another block");
      if (!parseWindowHeader(toks, window, what)) return fail(what);
      if (nameTaken(window.name)) return fail("the name \"" + window.name + "\" is used twice");
      ctx = Ctx::Window;
    } else if (kw == "menu") {
      if (ctx != Ctx::Top && ctx != Ctx::MenuBar) return fail("menu inside a window or menu");
      if (!parseMenuHeader(toks, menu, what)) return fail(what);
      if (ctx == Ctx::Top && nameTaken(menu.name)) return fail("the name \"" + menu.name + "\" is used twice");
      ctx = ctx == Ctx::Top ? Ctx::Menu : Ctx::MenuInBar;
    } else if (kw == "menubar") {
      if (ctx != Ctx::Top) return fail("menubar inside another block");
      if (toks.size() != 2 || toks[1].kind != Tok::String || toks[1].text.empty())
        return fail("menubar needs its name in quotes");
      bar.name = toks[1].text;
      if (nameTaken(bar.name)) return fail("the name \"" + bar.name + "\" is used twice");
      ctx = Ctx::MenuBar;
    } else if (kw == "control") {
      if (ctx != Ctx::Window) return fail("control outside a window");
      ControlDesc c;
      c.line = lineNo;
      if (!parseControl(toks, window, c, what)) return fail(what);
      window.controls.push_back(std::move(c));
    } else if (kw == "item") {
      ItemDesc item;
      if (!parseItem(toks, item, what)) return fail(what);
      if (ctx == Ctx::Menu || ctx == Ctx::MenuInBar) {
        menu.items.push_back(std::move(item));
      } else if (ctx == Ctx::Window && !window.controls.empty() && takesItems(window.controls.back().kind) &&
                 window.controls.back().menuName.empty()) {
        window.controls.back().items.push_back(std::move(item));
      } else {
        return fail("item belongs after a menu, or after a pop-up, radio group or tabs control");
      }
    } else {
      return fail("unknown keyword " + kw);
    }
  }
  if (ctx != Ctx::Top) return fail("missing end");
  return true;
}

bool LoadNibDescriptionFolder(const std::string& folder, NibDescription& nib, std::string& error) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    error = folder + ": no such nib";
    return false;
  }
  std::vector<std::string> files;
  while (dirent* e = readdir(dir)) {
    std::string n = e->d_name;
    if (n.size() > 3 && n.compare(n.size() - 3, 3, ".ui") == 0) files.push_back(n);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) {
    std::ifstream in(folder + "/" + f, std::ios::binary);
    if (!in) {
      error = folder + "/" + f + ": cannot be read";
      return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (!ParseNibDescription(ss.str(), f, nib, error)) return false;
  }
  return true;
}

}  // namespace skyloom::ui
