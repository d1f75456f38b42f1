// The nib description: our own readable text that stands for the nib file.
//
// The nib "NAME" is the folder resources/NAME.nib; every "*.ui" file in it is
// read (in name order) and together they describe the nib's windows, menus
// and menu bars. Names are unique across the whole folder.
//
// One declaration a line; '#' starts a comment outside quotes; indentation is
// free. Blocks end with "end".
//
//   window "Warning" class=movable-modal title="Warning" bounds=0,0,130,420
//     control 'NAME' 0 static-text bounds=20,20,70,400 text=""
//     control 'ok  ' 0 push-button bounds=90,320,110,400 title="OK" command='ok  ' default
//     control 'MODE' 0 pop-up bounds=... value=2
//       item "Slow"
//       item "Fast" command='FAST'
//     control - static-text bounds=... title="Units:"     # unnamed (signature 0)
//   end
//   menu "ImageAlignment" id=10 title="Image Alignment"
//     item "Align and Stack..." command='STAK' key="K"
//     item "-"                                              # a separator
//     item "Options" submenu="AlignOptions"
//   end
//   menubar "MainMenu"
//     menu "File" id=1 title="File"
//       item "Quit" command='quit' key="Q"
//     end
//   end
//
// Window attributes: class (document, sheet, modal, movable-modal, alert,
// movable-alert, floating, utility, plain, toolbar, overlay, sheet-alert,
// drawer), title, bounds=top,left,bottom,right, attributes=close-box,... (also
// collapse-box, full-zoom, resizable, live-resize, compositing,
// standard-handler, standard-document).
// Control kinds: edit-text, static-text, push-button, bevel-button, check-box,
// radio-button, radio-group, pop-up, slider, little-arrows, user-pane,
// group-box, progress-bar, chasing-arrows, tabs, separator, image-well, view,
// scroll-bar, image-view (an HIImageView, empty until given an image).
// Control attributes: bounds, title, text, value, min, max, viewsize (a
// scroll bar's page), command='xxxx',
// in='SIG ',id (embedded in an earlier control of the window), menu="Name"
// (a pop-up's items from a menu of the nib), class="id" (a view of a
// registered view subclass), and the flags default, cancel,
// hidden, disabled. "item" lines after a pop-up, radio group or tabs control
// give its items (value 1 is the first).
// Item attributes: command, key, submenu="Name", and the flags checked,
// disabled, separator.
// Four-character codes are written in single quotes, exactly four bytes.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/coreservices/MacTypes.h"

namespace skyloom::ui {

struct ItemDesc {
  std::string text;
  UInt32 command = 0;
  bool checked = false;
  bool enabled = true;
  bool separator = false;
  std::string key;
  std::string submenu;
};

struct ControlDesc {
  OSType signature = 0;
  SInt32 id = 0;
  OSType kind = 0;
  Rect bounds{0, 0, 0, 0};
  std::string title;
  std::string text;
  SInt32 value = 0;
  SInt32 minimum = 0;
  SInt32 maximum = 0;
  bool hasValue = false, hasMinimum = false, hasMaximum = false;
  SInt32 viewSize = 0;  // a scroll bar's page
  UInt32 command = 0;
  bool enabled = true;
  bool visible = true;
  bool isDefault = false;
  bool isCancel = false;
  bool embedded = false;
  OSType parentSignature = 0;
  SInt32 parentId = 0;
  std::string menuName;
  std::string className;  // a view's registered class
  std::vector<ItemDesc> items;
  int line = 0;
};

struct WindowDesc {
  std::string name;
  UInt32 windowClass = 6;  // document
  UInt32 attributes = 0;
  std::string title;
  Rect bounds{0, 0, 200, 300};
  std::vector<ControlDesc> controls;
};

struct MenuDesc {
  std::string name;
  SInt16 id = 0;
  std::string title;
  std::vector<ItemDesc> items;
};

struct MenuBarDesc {
  std::string name;
  std::vector<MenuDesc> menus;
};

struct NibDescription {
  std::map<std::string, WindowDesc> windows;
  std::map<std::string, MenuDesc> menus;
  std::map<std::string, MenuBarDesc> menuBars;
};

// Adds the declarations of one description text to nib. On the first error
// returns false with error = "fileName:line: what"; nib then holds what came
// before that line.
bool ParseNibDescription(std::string_view text, const std::string& fileName, NibDescription& nib,
                         std::string& error);

// Reads every *.ui file of the folder into nib; false with a message when the
// folder is missing or a file does not parse.
bool LoadNibDescriptionFolder(const std::string& folder, NibDescription& nib, std::string& error);

}  // namespace skyloom::ui
