// Menus: items with text, commands, marks and enable state, submenus, the
// menu bar, and the menus of pop-up controls.
#include <algorithm>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

MenuRef newMenuRecord(MenuID id) {
  auto* m = new OpaqueMenuRef;
  m->target.owner = m;
  m->id = id;
  model().liveMenus.insert(m);
  return m;
}

bool validItem(MenuRef m, MenuItemIndex item) { return isLiveMenu(m) && item >= 1 && item <= m->items.size(); }

}  // namespace

namespace skyloom::ui::internal {

MenuRef submenuOf(const MenuItemRec& item) {
  if (item.submenu) return item.submenu;
  if (item.cmdChar != hMenuCmd) return nullptr;
  for (MenuRef h : model().hierMenus)
    if (h->id == item.mark) return h;
  return nullptr;
}

OSStatus buildMenu(const NibDescription& nib, const MenuDesc& desc, MenuRef* outMenu) {
  // Submenus nest a few levels at most; a description whose submenus name
  // each other in a circle is refused instead of recursing without end.
  static int depth = 0;
  if (depth > 8) return kIBCarbonRuntimeObjectNotOfRequestedType;
  struct Nest {
    Nest() { ++depth; }
    ~Nest() { --depth; }
  } nest;
  MenuRef m = newMenuRecord(desc.id);
  m->name = desc.name;
  m->title = desc.title;
  for (const ItemDesc& d : desc.items) {
    MenuItemRec item;
    item.text = d.separator ? std::string() : d.text;
    item.separator = d.separator;
    item.command = d.command;
    item.mark = d.checked ? checkMark : noMark;
    item.enabled = d.enabled && !d.separator;
    item.key = d.key;
    if (!d.submenu.empty()) {
      auto it = nib.menus.find(d.submenu);
      if (it == nib.menus.end() || it->second.name == desc.name) {
        ReleaseMenu(m);
        return kIBCarbonRuntimeCantFindObject;
      }
      if (OSStatus s = buildMenu(nib, it->second, &item.submenu)) {
        ReleaseMenu(m);
        return s;
      }
    }
    m->items.push_back(std::move(item));
  }
  *outMenu = m;
  return noErr;
}

}  // namespace skyloom::ui::internal

namespace skyloom::ui {

std::string MenuItemText(MenuRef m, MenuItemIndex item) {
  return validItem(m, item) ? m->items[item - 1].text : std::string();
}

std::string MenuTitle(MenuRef m) { return isLiveMenu(m) ? m->title : std::string(); }

std::vector<MenuRef> MenuBar() { return model().menuBar; }

}  // namespace skyloom::ui

OSStatus CreateNewMenu(MenuID id, MenuAttributes, MenuRef* out) {
  if (!out) return paramErr;
  *out = newMenuRecord(id);
  return noErr;
}

OSStatus RetainMenu(MenuRef m) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  ++m->refCount;
  return noErr;
}

OSStatus ReleaseMenu(MenuRef m) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (--m->refCount > 0) return noErr;
  clearHandlers(m->target);
  model().liveMenus.erase(m);
  for (MenuItemRec& i : m->items)
    if (i.submenu) ReleaseMenu(i.submenu);
  delete m;
  return noErr;
}

void DisposeMenu(MenuRef m) { ReleaseMenu(m); }

MenuID GetMenuID(MenuRef m) { return isLiveMenu(m) ? m->id : 0; }

OSStatus SetMenuTitleWithCFString(MenuRef m, CFStringRef s) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!s) return paramErr;
  m->title = toUtf8(s);
  menuChanged(m);
  return noErr;
}

OSStatus CopyMenuTitleAsCFString(MenuRef m, CFStringRef* out) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!out) return paramErr;
  *out = fromUtf8(m->title);
  return *out ? OSStatus(noErr) : memFullErr;
}

UInt16 CountMenuItems(MenuRef m) { return isLiveMenu(m) ? UInt16(std::min<size_t>(m->items.size(), 65535)) : 0; }

OSStatus InsertMenuItemTextWithCFString(MenuRef m, CFStringRef s, MenuItemIndex after, MenuItemAttributes attrs,
                                        MenuCommand cmd) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!s && !(attrs & kMenuItemAttrSeparator)) return paramErr;
  if (m->items.size() >= 65535) return paramErr;
  MenuItemRec item;
  item.text = s ? toUtf8(s) : std::string();
  item.command = cmd;
  item.separator = (attrs & kMenuItemAttrSeparator) != 0;
  item.enabled = !(attrs & kMenuItemAttrDisabled) && !item.separator;
  size_t at = std::min<size_t>(after, m->items.size());
  m->items.insert(m->items.begin() + long(at), std::move(item));
  menuChanged(m);
  return noErr;
}

OSStatus AppendMenuItemTextWithCFString(MenuRef m, CFStringRef s, MenuItemAttributes attrs, MenuCommand cmd,
                                        MenuItemIndex* outNewItem) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  OSStatus st = InsertMenuItemTextWithCFString(m, s, CountMenuItems(m), attrs, cmd);
  if (st == noErr && outNewItem) *outNewItem = CountMenuItems(m);
  return st;
}

OSStatus SetMenuItemTextWithCFString(MenuRef m, MenuItemIndex item, CFStringRef s) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  if (!s) return paramErr;
  m->items[item - 1].text = toUtf8(s);
  menuChanged(m);
  return noErr;
}

OSStatus CopyMenuItemTextAsCFString(MenuRef m, MenuItemIndex item, CFStringRef* out) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  if (!out) return paramErr;
  *out = fromUtf8(m->items[item - 1].text);
  return *out ? OSStatus(noErr) : memFullErr;
}

void DeleteMenuItem(MenuRef m, MenuItemIndex item) { DeleteMenuItems(m, item, 1); }

OSStatus DeleteMenuItems(MenuRef m, MenuItemIndex first, ItemCount count) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, first)) return menuItemNotFoundErr;
  size_t from = first - 1;
  size_t n = std::min<size_t>(count, m->items.size() - from);
  for (size_t i = from; i < from + n; ++i)
    if (m->items[i].submenu) ReleaseMenu(m->items[i].submenu);
  m->items.erase(m->items.begin() + long(from), m->items.begin() + long(from + n));
  menuChanged(m);
  return noErr;
}

void SetItemMark(MenuRef m, MenuItemIndex item, CharParameter mark) {
  if (!validItem(m, item)) return;
  m->items[item - 1].mark = mark;
  menuChanged(m);
}

void SetItemCmd(MenuRef m, MenuItemIndex item, CharParameter cmdChar) {
  if (!validItem(m, item)) return;
  m->items[item - 1].cmdChar = cmdChar;
  menuChanged(m);
}

void GetItemCmd(MenuRef m, MenuItemIndex item, CharParameter* cmdChar) {
  if (!cmdChar) return;
  *cmdChar = validItem(m, item) ? m->items[item - 1].cmdChar : CharParameter(0);
}

void CheckMenuItem(MenuRef m, MenuItemIndex item, Boolean checked) { SetItemMark(m, item, checked ? checkMark : noMark); }

void GetItemMark(MenuRef m, MenuItemIndex item, CharParameter* mark) {
  if (!mark) return;
  *mark = validItem(m, item) ? m->items[item - 1].mark : CharParameter(noMark);
}

void EnableMenuItem(MenuRef m, MenuItemIndex item) {
  if (!isLiveMenu(m)) return;
  if (item == 0) {
    m->enabled = true;
  } else if (validItem(m, item)) {
    m->items[item - 1].enabled = true;
  } else {
    return;
  }
  menuChanged(m);
}

void DisableMenuItem(MenuRef m, MenuItemIndex item) {
  if (!isLiveMenu(m)) return;
  if (item == 0) {
    m->enabled = false;
  } else if (validItem(m, item)) {
    m->items[item - 1].enabled = false;
  } else {
    return;
  }
  menuChanged(m);
}

Boolean IsMenuItemEnabled(MenuRef m, MenuItemIndex item) {
  if (!isLiveMenu(m) || !m->enabled) return false;
  if (item == 0) return true;
  return validItem(m, item) && m->items[item - 1].enabled;
}

OSStatus SetMenuItemCommandID(MenuRef m, MenuItemIndex item, MenuCommand cmd) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  m->items[item - 1].command = cmd;
  return noErr;
}

OSStatus GetMenuItemCommandID(MenuRef m, MenuItemIndex item, MenuCommand* out) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  if (!out) return paramErr;
  *out = m->items[item - 1].command;
  return noErr;
}

namespace {

// Depth-first search of the menu and its submenus for the n-th item (1-based)
// carrying the command. Submenus named by ID may refer back to a menu on
// the way; the search goes a few levels deep at most.
constexpr int kMaxMenuDepth = 8;

bool findCommand(MenuRef m, MenuCommand cmd, UInt32& n, MenuRef* outMenu, MenuItemIndex* outIndex, int depth = 0) {
  if (depth > kMaxMenuDepth) return false;
  for (size_t i = 0; i < m->items.size(); ++i) {
    if (m->items[i].command == cmd && --n == 0) {
      if (outMenu) *outMenu = m;
      if (outIndex) *outIndex = MenuItemIndex(i + 1);
      return true;
    }
    MenuRef sub = submenuOf(m->items[i]);
    if (sub && findCommand(sub, cmd, n, outMenu, outIndex, depth + 1)) return true;
  }
  return false;
}

}  // namespace

OSStatus GetIndMenuItemWithCommandID(MenuRef m, MenuCommand cmd, UInt32 index, MenuRef* outMenu,
                                     MenuItemIndex* outIndex) {
  UInt32 n = index ? index : 1;
  if (m) {
    if (!isLiveMenu(m)) return menuInvalidErr;
    return findCommand(m, cmd, n, outMenu, outIndex) ? OSStatus(noErr) : menuItemNotFoundErr;
  }
  // No menu: search the menu bar.
  for (MenuRef b : model().menuBar)
    if (findCommand(b, cmd, n, outMenu, outIndex)) return noErr;
  return menuItemNotFoundErr;
}

void EnableMenuCommand(MenuRef m, MenuCommand cmd) {
  MenuRef found = nullptr;
  MenuItemIndex idx = 0;
  if (GetIndMenuItemWithCommandID(m, cmd, 1, &found, &idx) == noErr) EnableMenuItem(found, idx);
}

void DisableMenuCommand(MenuRef m, MenuCommand cmd) {
  MenuRef found = nullptr;
  MenuItemIndex idx = 0;
  if (GetIndMenuItemWithCommandID(m, cmd, 1, &found, &idx) == noErr) DisableMenuItem(found, idx);
}

OSStatus SetMenuItemHierarchicalMenu(MenuRef m, MenuItemIndex item, MenuRef sub) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  if (sub && !isLiveMenu(sub)) return menuInvalidErr;
  if (sub == m) return paramErr;
  if (sub) RetainMenu(sub);
  if (m->items[item - 1].submenu) ReleaseMenu(m->items[item - 1].submenu);
  m->items[item - 1].submenu = sub;
  menuChanged(m);
  return noErr;
}

OSStatus GetMenuItemHierarchicalMenu(MenuRef m, MenuItemIndex item, MenuRef* out) {
  if (!isLiveMenu(m)) return menuInvalidErr;
  if (!validItem(m, item)) return menuItemNotFoundErr;
  if (!out) return paramErr;
  *out = submenuOf(m->items[item - 1]);
  return noErr;
}

void InsertMenu(MenuRef m, MenuID beforeID) {
  if (!isLiveMenu(m)) return;
  Model& mdl = model();
  auto& list = beforeID == hierMenu ? mdl.hierMenus : mdl.menuBar;
  if (std::find(list.begin(), list.end(), m) != list.end()) return;
  RetainMenu(m);
  auto at = list.end();
  if (beforeID != 0 && beforeID != hierMenu)
    at = std::find_if(list.begin(), list.end(), [&](MenuRef x) { return x->id == beforeID; });
  list.insert(at, m);
}

void DeleteMenu(MenuID id) {
  Model& mdl = model();
  for (auto* list : {&mdl.menuBar, &mdl.hierMenus}) {
    auto it = std::find_if(list->begin(), list->end(), [&](MenuRef x) { return x->id == id; });
    if (it != list->end()) {
      MenuRef m = *it;
      list->erase(it);
      ReleaseMenu(m);
      return;
    }
  }
}

namespace {

MenuRef findMenuID(MenuRef m, MenuID id, int depth = 0) {
  if (m->id == id) return m;
  if (depth >= kMaxMenuDepth) return nullptr;
  for (MenuItemRec& i : m->items)
    if (MenuRef sub = submenuOf(i))
      if (MenuRef f = findMenuID(sub, id, depth + 1)) return f;
  return nullptr;
}

}  // namespace

MenuRef GetMenuRef(MenuID id) {
  Model& mdl = model();
  for (auto* list : {&mdl.menuBar, &mdl.hierMenus})
    for (MenuRef m : *list)
      if (MenuRef f = findMenuID(m, id)) return f;
  return nullptr;
}

void DrawMenuBar() {}
void InvalMenuBar() {}

void HiliteMenu(MenuID menuID) { model().hilitedMenus.push_back(menuID); }
