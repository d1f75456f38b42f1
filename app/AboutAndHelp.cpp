#include "app/AboutAndHelp.h"

#include <cstring>

#include "platform/launchservices/LaunchServices.h"
#include "platform/launchservices/Processes.h"
#include "utilities/Alerts.h"

const char kMyDownloadPageURL[] = "https://skyloom.org/download/";
const char kMyHelpDocumentPath[] = "/Contents/Resources/Skyloom Help.pdf";

namespace {

constexpr UInt32 kAboutCommand = FOUR_CHAR_CODE("abou");
constexpr UInt32 kCloseCommand = FOUR_CHAR_CODE("clos");
constexpr UInt32 kDownloadCommand = FOUR_CHAR_CODE("GURL");
constexpr size_t kMaxHelpPath = 2048;

// A window-close event for window, sent to target.
OSStatus sendWindowClose(WindowRef window, EventTargetRef target) {
  EventRef event = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, GetCurrentEventTime(),
                             kEventAttributeNone, &event);
  if (err != noErr) return err;
  err = SetEventParameter(event, kEventParamDirectObject, typeWindowRef, sizeof window, &window);
  if (err == noErr) err = SendEventToEventTarget(event, target);
  ReleaseEvent(event);
  return err;
}

}  // namespace

OSStatus myAboutBoxWindowEventHandlerProc(EventHandlerCallRef, EventRef inEvent, void* inWindow) {
  const EventClass eventClass = GetEventClass(inEvent);
  const EventKind kind = GetEventKind(inEvent);
  if (eventClass == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command;
    if (GetEventParameter(inEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) == noErr) {
      if (command.commandID == kCloseCommand)
        sendWindowClose(static_cast<WindowRef>(inWindow), GetUserFocusEventTarget());
      else if (command.commandID == kDownloadCommand)
        mySendBrowserToURL(kMyDownloadPageURL);
    }
  } else if (eventClass == kEventClassWindow && kind == kEventWindowClose) {
    EnableMenuCommand(nullptr, kAboutCommand);
  }
  return eventNotHandledErr;
}

OSStatus myOpenHelpDocument() {
  ProcessSerialNumber self = {0, kCurrentProcess};
  FSRef bundle, help;
  char path[kMaxHelpPath];
  OSStatus err = GetProcessBundleLocation(&self, &bundle);
  if (err == noErr) err = FSRefMakePath(&bundle, reinterpret_cast<UInt8*>(path), sizeof path);
  if (err == noErr) {
    // The whole path, document name included, keeps to the 2048 bytes.
    if (strlen(path) + strlen(kMyHelpDocumentPath) < sizeof path)
      strcat(path, kMyHelpDocumentPath);
    else
      err = bdNamErr;
  }
  if (err == noErr) err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path), &help, nullptr);
  if (err == noErr) err = LSOpenFSRef(&help, nullptr);
  if (err != noErr) myPostAlert("", "The Skyloom Help.pdf file can not be found.");
  return err;
}

void RecursiveCloseWindow(WindowRef window) {
  if (window == nullptr) return;
  if (WindowRef behind = GetNextWindow(window)) RecursiveCloseWindow(behind);
  // A rearmost window's close path may have disposed this one already (the
  // control window's close takes its video window with it): such a window
  // gets no event.
  if (!IsValidWindowPtr(window)) return;
  if (EventTargetRef target = GetWindowEventTarget(window)) sendWindowClose(window, target);
}
