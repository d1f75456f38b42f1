#include "platform/navigation/Navigation.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

enum class NavKind { ChooseFolder, ChooseFile, PutFile };

struct OpaqueNavDialogRef {
  NavKind kind = NavKind::ChooseFile;
  NavDialogOptionFlags flags = kNavDefaultNavDlogOptions;
  UInt32 preferenceKey = 0;
  std::string message;
  std::string saveFileName;
  std::vector<OSType> types;  // kept for completeness; files here carry no types
  OSType fileType = 0, fileCreator = 0;
  NavEventUPP eventProc = nullptr;
  void* clientData = nullptr;
  WindowRef window = nullptr;
  EventHandlerRef handler = nullptr;
  bool running = false;
  // The answer of the last run.
  NavUserAction action = kNavUserActionNone;
  std::vector<std::string> items;  // chosen items, or the folder to save into
  std::string name;                // put-file: the file name
  bool replacing = false;
  UInt16 popupItem = 0;  // put-file with a pop-up extension: the item chosen
};

namespace {

std::set<NavDialogRef>& LiveDialogs() {
  static auto* live = new std::set<NavDialogRef>;
  return *live;
}

// The folder last accepted per preference key (0: not remembered).
std::map<UInt32, std::string>& Locations() {
  static auto* locations = new std::map<UInt32, std::string>;
  return *locations;
}

bool IsLive(NavDialogRef d) { return d != nullptr && LiveDialogs().count(d) != 0; }

OSStatus gFailNextRun = noErr;

std::string Utf8(CFStringRef s) {
  if (s == nullptr) return "";
  const CFIndex n = CFStringGetLength(s);
  std::string out(size_t(CFStringGetMaximumSizeForEncoding(n, kCFStringEncodingUTF8)) + 1, '\0');
  if (!CFStringGetCString(s, out.data(), CFIndex(out.size()), kCFStringEncodingUTF8)) return "";
  out.resize(strlen(out.c_str()));
  return out;
}

CFStringRef NewString(const std::string& s) {
  return CFStringCreateWithCString(kCFAllocatorDefault, s.c_str(), kCFStringEncodingUTF8);
}

void SetText(ControlRef c, const std::string& text) {
  CFStringRef s = NewString(text);
  if (s == nullptr) return;
  SetControlData(c, kControlEntireControl, kControlEditTextCFStringTag, sizeof s, &s);
  CFRelease(s);
}

std::string GetText(WindowRef w, OSType signature) {
  const ControlID id{signature, 0};
  ControlRef c = nullptr;
  if (GetControlByID(w, &id, &c) != noErr) return "";
  CFStringRef s = nullptr;
  if (GetControlData(c, kControlEntireControl, kControlEditTextCFStringTag, sizeof s, &s, nullptr) != noErr) return "";
  std::string text = Utf8(s);
  if (s) CFRelease(s);
  return text;
}

void Notify(NavDialogRef d, NavEventCallbackMessage message, NavUserAction action) {
  if (d->eventProc == nullptr) return;
  NavCBRec rec;
  memset(&rec, 0, sizeof rec);
  rec.version = kNavCBRecVersion;
  rec.context = d;
  rec.window = d->window;
  rec.userAction = action;
  d->eventProc(message, &rec, d->clientData);
}

// The absolute, symlink-free path of an existing object; empty when there is none.
std::string Existing(const std::string& path, bool* isDirectory) {
  if (path.empty()) return "";
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return "";
  struct stat st;
  if (stat(resolved, &st) != 0) return "";
  *isDirectory = S_ISDIR(st.st_mode);
  return resolved;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

void Finish(NavDialogRef d, NavUserAction action) {
  d->action = action;
  if (action == kNavUserActionCancel) Notify(d, kNavCBCancel, action);
  Notify(d, kNavCBUserAction, action);
  QuitAppModalLoopForWindow(d->window);
}

// "Replace" (1) or "Cancel" (2, the default).
bool ConfirmReplace(const std::string& name, const std::string& folder) {
  AlertStdCFStringAlertParamRec params;
  GetStandardAlertDefaultParams(&params, kStdCFStringAlertVersionOne);
  CFStringRef replace = NewString("Replace");
  params.defaultText = replace;
  params.cancelText = kAlertDefaultCancelText;
  params.defaultButton = kAlertStdAlertCancelButton;
  params.cancelButton = kAlertStdAlertCancelButton;
  const size_t slash = folder.rfind('/');
  const std::string folderName = slash == std::string::npos || slash + 1 == folder.size() ? folder : folder.substr(slash + 1);
  CFStringRef title = NewString("\xE2\x80\x9C" + name + "\xE2\x80\x9D already exists. Do you want to replace it?");
  CFStringRef text = NewString("A file or folder with the same name already exists in the folder \xE2\x80\x9C" +
                               folderName + "\xE2\x80\x9D. Replacing it will overwrite its current contents.");
  DialogRef alert = nullptr;
  DialogItemIndex hit = kAlertStdAlertCancelButton;
  if (title && CreateStandardAlert(kAlertCautionAlert, title, text, &params, &alert) == noErr)
    RunStandardAlert(alert, nullptr, &hit);
  if (replace) CFRelease(replace);
  if (title) CFRelease(title);
  if (text) CFRelease(text);
  return hit == kAlertStdAlertOKButton;
}

// The action button: accept what a user could have picked, else beep.
void Accept(NavDialogRef d) {
  const std::vector<std::string> lines = Lines(GetText(d->window, kSkyloomNavSelectionSignature));
  std::vector<std::string> items;
  bool ok = !lines.empty();
  for (const auto& line : lines) {
    bool isDirectory = false;
    const std::string path = Existing(line, &isDirectory);
    if (path.empty() || isDirectory != (d->kind != NavKind::ChooseFile)) ok = false;
    items.push_back(path);
  }
  if (d->kind != NavKind::ChooseFile || !(d->flags & kNavAllowMultipleFiles)) ok = ok && items.size() == 1;
  if (!ok) {
    SysBeep(1);
    return;
  }
  d->replacing = false;
  d->name.clear();
  if (d->kind == NavKind::PutFile) {
    d->name = GetText(d->window, kSkyloomNavNameSignature);
    if (d->name.find('/') != std::string::npos || d->name == "." || d->name == "..") {
      SysBeep(1);
      return;
    }
    struct stat st;
    if (!d->name.empty() && lstat((items[0] + "/" + d->name).c_str(), &st) == 0) {
      if (!(d->flags & kNavDontConfirmReplacement) && !ConfirmReplace(d->name, items[0])) return;
      d->replacing = true;
    }
  }
  d->items = items;
  const ControlID popupID{kSkyloomNavPopupExtensionSignature, 0};
  ControlRef popup = nullptr;
  if (GetControlByID(d->window, &popupID, &popup) == noErr)
    d->popupItem = UInt16(GetControl32BitValue(popup));
  if (d->preferenceKey != 0) {
    const std::string& first = items[0];
    Locations()[d->preferenceKey] = d->kind == NavKind::PutFile ? first : first.substr(0, first.rfind('/'));
  }
  Finish(d, d->kind == NavKind::PutFile ? kNavUserActionSaveAs : kNavUserActionChoose);
}

OSStatus CommandHandler(EventHandlerCallRef, EventRef event, void* userData) {
  NavDialogRef d = static_cast<NavDialogRef>(userData);
  HICommand command;
  if (!IsLive(d) || !d->running ||
      GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
          noErr)
    return eventNotHandledErr;
  if (command.commandID == kHICommandOK) {
    Accept(d);
    return noErr;
  }
  if (command.commandID == kHICommandCancel) {
    Finish(d, kNavUserActionCancel);
    return noErr;
  }
  return eventNotHandledErr;
}

OSStatus AddControl(WindowRef w, OSType kind, OSType signature, const Rect& bounds, ControlRef* out) {
  const ControlID id{signature, 0};
  return SkyloomCreateControl(w, &bounds, kind, &id, out);
}

OSStatus AddButton(WindowRef w, OSType signature, const Rect& bounds, const std::string& title, UInt32 command,
                   OSType roleTag) {
  ControlRef c = nullptr;
  if (OSStatus err = AddControl(w, kControlKindPushButton, signature, bounds, &c)) return err;
  CFStringRef t = NewString(title);
  SetControlTitleWithCFString(c, t);
  if (t) CFRelease(t);
  SetControlCommandID(c, command);
  const Boolean yes = true;
  return SetControlData(c, kControlEntireControl, roleTag, sizeof yes, &yes);
}

OSStatus BuildWindow(NavDialogRef d, const NavDialogCreationOptions& o) {
  const bool put = d->kind == NavKind::PutFile;
  const CFIndex popupItems = put && o.popupExtension ? CFArrayGetCount(o.popupExtension) : 0;
  const SInt16 extra = popupItems > 0 ? 30 : 0;
  const Rect bounds{0, 0, SInt16((put ? 190 : 160) + extra), 480};
  if (OSStatus err = CreateNewWindow(kMovableModalWindowClass, kWindowNoAttributes, &bounds, &d->window)) return err;
  std::string title = o.windowTitle ? Utf8(o.windowTitle)
                      : d->kind == NavKind::ChooseFolder ? "Choose a Folder"
                      : put ? "Save" : "Choose a File";
  if (o.clientName && !o.windowTitle) title = Utf8(o.clientName) + ": " + title;
  CFStringRef t = NewString(title);
  SetWindowTitleWithCFString(d->window, t);
  if (t) CFRelease(t);

  ControlRef c = nullptr;
  OSStatus err = AddControl(d->window, kControlKindStaticText, kSkyloomNavMessageSignature, Rect{10, 20, 40, 460}, &c);
  if (err == noErr) SetText(c, d->message);
  if (err == noErr)
    err = AddControl(d->window, kControlKindEditUnicodeText, kSkyloomNavSelectionSignature, Rect{50, 20, 100, 460}, &c);
  if (err == noErr && put) {
    auto it = Locations().find(d->preferenceKey);
    if (d->preferenceKey != 0 && it != Locations().end()) SetText(c, it->second);
    err = AddControl(d->window, kControlKindEditUnicodeText, kSkyloomNavNameSignature, Rect{110, 20, 130, 460}, &c);
    if (err == noErr) SetText(c, d->saveFileName);
  }
  if (err == noErr && popupItems > 0) {
    // The format pop-up: the caller's items, the first one chosen.
    err = AddControl(d->window, kControlKindPopupButton, kSkyloomNavPopupExtensionSignature, Rect{140, 20, 160, 300},
                     &c);
    MenuRef menu = nullptr;
    if (err == noErr) err = CreateNewMenu(0, 0, &menu);
    for (CFIndex i = 0; err == noErr && i < popupItems; ++i) {
      auto item = static_cast<CFStringRef>(CFArrayGetValueAtIndex(o.popupExtension, i));
      err = AppendMenuItemTextWithCFString(menu, item, 0, 0, nullptr);
    }
    if (err == noErr) {
      SetControlPopupMenuHandle(c, menu);
      SetControl32BitValue(c, 1);
    }
    if (menu) ReleaseMenu(menu);
  }
  const SInt16 top = SInt16((put ? 150 : 120) + extra);
  const std::string action = o.actionButtonLabel ? Utf8(o.actionButtonLabel) : put ? "Save" : "Choose";
  const std::string cancel = o.cancelButtonLabel ? Utf8(o.cancelButtonLabel) : "Cancel";
  if (err == noErr)
    err = AddButton(d->window, kHICommandOK, Rect{top, 380, SInt16(top + 20), 460}, action, kHICommandOK,
                    kControlPushButtonDefaultTag);
  if (err == noErr)
    err = AddButton(d->window, kHICommandCancel, Rect{top, 290, SInt16(top + 20), 370}, cancel, kHICommandCancel,
                    kControlPushButtonCancelTag);
  static const EventTypeSpec kCommands[] = {{kEventClassCommand, kEventCommandProcess}};
  if (err == noErr) err = InstallWindowEventHandler(d->window, CommandHandler, 1, kCommands, d, &d->handler);
  return err;
}

OSStatus Create(NavKind kind, const NavDialogCreationOptions* o, NavEventUPP proc, void* clientData,
                NavDialogRef* outDialog) {
  if (outDialog == nullptr) return paramErr;
  *outDialog = nullptr;
  NavDialogCreationOptions defaults;
  if (o == nullptr) {
    NavGetDefaultDialogCreationOptions(&defaults);
    o = &defaults;
  }
  auto* d = new OpaqueNavDialogRef;
  d->kind = kind;
  d->flags = o->optionFlags;
  d->preferenceKey = o->preferenceKey;
  d->message = Utf8(o->message);
  d->saveFileName = Utf8(o->saveFileName);
  d->eventProc = proc;
  d->clientData = clientData;
  if (OSStatus err = BuildWindow(d, *o)) {
    if (d->window) DisposeWindow(d->window);
    delete d;
    return err;
  }
  LiveDialogs().insert(d);
  *outDialog = d;
  return noErr;
}

}  // namespace

OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* o) {
  if (o == nullptr) return paramErr;
  memset(o, 0, sizeof *o);
  o->version = kNavDialogCreationOptionsVersion;
  o->optionFlags = kNavDefaultNavDlogOptions;
  o->location = Point{-1, -1};
  o->modality = kWindowModalityAppModal;
  return noErr;
}

OSStatus NavCreateChooseFolderDialog(const NavDialogCreationOptions* o, NavEventUPP proc, NavObjectFilterUPP,
                                     void* clientData, NavDialogRef* outDialog) {
  return Create(NavKind::ChooseFolder, o, proc, clientData, outDialog);
}

OSStatus NavCreateChooseFileDialog(const NavDialogCreationOptions* o, NavTypeListHandle typeList, NavEventUPP proc,
                                   NavPreviewUPP, NavObjectFilterUPP, void* clientData, NavDialogRef* outDialog) {
  OSStatus err = Create(NavKind::ChooseFile, o, proc, clientData, outDialog);
  if (err == noErr && typeList != nullptr && *typeList != nullptr) {
    const NavTypeList* list = *typeList;
    for (SInt16 i = 0; i < list->osTypeCount; ++i) (*outDialog)->types.push_back(list->osType[i]);
  }
  return err;
}

OSStatus NavCreatePutFileDialog(const NavDialogCreationOptions* o, OSType fileType, OSType fileCreator,
                                NavEventUPP proc, void* clientData, NavDialogRef* outDialog) {
  OSStatus err = Create(NavKind::PutFile, o, proc, clientData, outDialog);
  if (err == noErr) {
    (*outDialog)->fileType = fileType;
    (*outDialog)->fileCreator = fileCreator;
  }
  return err;
}

OSStatus NavDialogRun(NavDialogRef d) {
  if (!IsLive(d)) return paramErr;
  if (d->running) return kNavWrongDialogStateErr;
  if (const OSStatus failure = gFailNextRun) {
    gFailNextRun = noErr;
    return failure;
  }
  d->running = true;
  d->action = kNavUserActionNone;
  d->items.clear();
  d->name.clear();
  d->replacing = false;
  d->popupItem = 0;
  ShowWindow(d->window);
  Notify(d, kNavCBStart, kNavUserActionNone);
  const OSStatus err = RunAppModalLoopForWindow(d->window);
  if (IsLive(d)) {
    HideWindow(d->window);
    d->running = false;
    Notify(d, kNavCBTerminate, d->action);
  }
  return err;
}

NavUserAction NavDialogGetUserAction(NavDialogRef d) { return IsLive(d) ? d->action : kNavUserActionNone; }

OSStatus NavDialogGetReply(NavDialogRef d, NavReplyRecord* reply) {
  if (!IsLive(d) || reply == nullptr) return paramErr;
  memset(reply, 0, sizeof *reply);
  reply->version = kNavReplyRecordVersion;
  AEInitializeDesc(&reply->selection);
  const bool accepted = d->action == kNavUserActionChoose || d->action == kNavUserActionOpen ||
                        d->action == kNavUserActionSaveAs;
  reply->validRecord = accepted;
  if (!accepted) return noErr;
  if (OSErr err = SkyloomAECreateFileList(d->items, &reply->selection)) return err;
  reply->replacing = d->replacing;
  if (d->kind == NavKind::PutFile) reply->saveFileName = NewString(d->name);
  return noErr;
}

OSStatus NavDisposeReply(NavReplyRecord* reply) {
  if (reply == nullptr) return paramErr;
  AEDisposeDesc(&reply->selection);
  if (reply->saveFileName) CFRelease(reply->saveFileName);
  reply->saveFileName = nullptr;
  reply->validRecord = false;
  return noErr;
}

OSStatus NavCompleteSave(NavReplyRecord* reply, NavTranslationOptions) {
  if (reply == nullptr || !reply->validRecord) return paramErr;
  return noErr;
}

WindowRef NavDialogGetWindow(NavDialogRef d) { return IsLive(d) ? d->window : nullptr; }

void NavDialogDispose(NavDialogRef d) {
  if (!IsLive(d) || d->running) return;
  LiveDialogs().erase(d);
  DisposeWindow(d->window);
  delete d;
}

long SkyloomNavLiveDialogCount() { return long(LiveDialogs().size()); }

void SkyloomNavForgetLocations() { Locations().clear(); }

void SkyloomNavFailNextRun(OSStatus err) { gFailNextRun = err; }

UInt16 SkyloomNavPopupExtensionItem(NavDialogRef d) { return IsLive(d) ? d->popupItem : 0; }
