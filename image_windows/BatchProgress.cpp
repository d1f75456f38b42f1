#include "image_windows/BatchProgress.h"

#include <new>

#include "utilities/Alerts.h"

namespace {

constexpr OSType kBar = FOUR_CHAR_CODE("BARR");
constexpr OSType kStatus = FOUR_CHAR_CODE("STTX");
constexpr UInt32 kStopCommand = FOUR_CHAR_CODE("clos");
constexpr MenuCommand kProcessImagesCommand = FOUR_CHAR_CODE("PRBI");
constexpr EventTimerInterval kRefreshInterval = 0.3;

ControlRef findControl(WindowRef w, OSType signature) {
  const ControlID id{signature, 0};
  ControlRef c = nullptr;
  return w != nullptr && GetControlByID(w, &id, &c) == noErr ? c : nullptr;
}

OSStatus sendCloseToWindow(WindowRef window) {
  EventRef close = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, GetCurrentEventTime(), 0, &close);
  if (err != noErr) return err;
  err = SetEventParameter(close, kEventParamDirectObject, typeWindowRef, sizeof window, &window);
  // To the batch window itself: the focused window's own close handler could
  // close it.
  if (err == noErr) err = SendEventToEventTarget(close, GetWindowEventTarget(window));
  ReleaseEvent(close);
  return err;
}

}  // namespace

MyBatchWindowStruct* mySetUpBatchWindow(const char* titleKey) {
  auto* w = new (std::nothrow) MyBatchWindowStruct{};
  if (w == nullptr) return nullptr;
  w->mBusy.store(0);
  w->mStopRequested.store(0);
  w->mProgress.store(0);
  w->mStatusText.store(nullptr);

  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("BatchProcessing"), &w->mWindow);
    DisposeNibReference(nib);
  }
  if (err != noErr || w->mWindow == nullptr) {
    myFinnishOffBatchWindow(w);
    return nullptr;
  }
  SetWRefCon(w->mWindow, 0);
  if (titleKey != nullptr && titleKey[0] != '\0') mySetCWindowTitleByKeyString(w->mWindow, titleKey);

  static const EventTypeSpec kEvents[] = {{kEventClassCommand, kEventCommandProcess},
                                          {kEventClassWindow, kEventWindowClose}};
  w->mHandlerUPP = NewEventHandlerUPP(myDoBatchEventHandlerProc);
  // Without its handler a close would leave the window to the standard
  // handler, which disposes it under the job's feet: no window then.
  if (InstallWindowEventHandler(w->mWindow, w->mHandlerUPP, 2, kEvents, w, &w->mHandlerRef) != noErr) {
    w->mHandlerRef = nullptr;
    myFinnishOffBatchWindow(w);
    return nullptr;
  }
  ShowWindow(w->mWindow);
  SelectWindow(w->mWindow);

  w->mTimerUPP = NewEventLoopTimerUPP(myBatchBarUpdateTimerProc);
  if (w->mTimerUPP == nullptr) return w;  // shown without refreshes
  err = InstallEventLoopTimer(GetMainEventLoop(), kEventDurationNoWait, kRefreshInterval, w->mTimerUPP, w, &w->mTimer);
  if (err != noErr) {
    DisposeEventLoopTimerUPP(w->mTimerUPP);
    w->mTimerUPP = nullptr;
    w->mTimer = nullptr;
    myFinnishOffBatchWindow(w);
    return nullptr;
  }
  SetEventLoopTimerNextFireTime(w->mTimer, kEventDurationNoWait);
  return w;
}

void myBatchBarUpdateTimerProc(EventLoopTimerRef, void* userData) {
  auto* w = static_cast<MyBatchWindowStruct*>(userData);
  if (w == nullptr || w->mWindow == nullptr) return;
  if (ControlRef bar = findControl(w->mWindow, kBar)) {
    SetControl32BitValue(bar, w->mProgress.load(std::memory_order_relaxed));
    Draw1Control(bar);
  }
  CFStringRef text = w->mStatusText.exchange(nullptr, std::memory_order_acquire);
  if (text != nullptr) {
    if (ControlRef status = findControl(w->mWindow, kStatus)) {
      SetControlData(status, 0, kControlStaticTextCFStringTag, sizeof text, &text);
      Draw1Control(status);
    }
    CFRelease(text);
  }
}

OSStatus myDoBatchEventHandlerProc(EventHandlerCallRef, EventRef event, void* userData) {
  auto* w = static_cast<MyBatchWindowStruct*>(userData);
  if (w == nullptr) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command{};
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) == noErr &&
        command.commandID == kStopCommand && w->mWindow != nullptr)
      sendCloseToWindow(w->mWindow);
    return eventNotHandledErr;
  }
  if (cls == kEventClassWindow && kind == kEventWindowClose) {
    if (w->mBusy.load() == 1) w->mStopRequested.store(1);
    // Taken here: the window goes only when the job finishes it.
    return noErr;
  }
  return eventNotHandledErr;
}

void myFinnishOffBatchWindow(MyBatchWindowStruct* w) {
  if (w != nullptr) {
    if (w->mTimer != nullptr) {
      SetEventLoopTimerNextFireTime(w->mTimer, kEventDurationForever);
      RemoveEventLoopTimer(w->mTimer);
      w->mTimer = nullptr;
    }
    if (w->mTimerUPP != nullptr) DisposeEventLoopTimerUPP(w->mTimerUPP);
    w->mTimerUPP = nullptr;
    if (w->mHandlerRef != nullptr) RemoveEventHandler(w->mHandlerRef);
    w->mHandlerRef = nullptr;
    if (w->mHandlerUPP != nullptr) DisposeEventHandlerUPP(w->mHandlerUPP);
    w->mHandlerUPP = nullptr;
    if (CFStringRef text = w->mStatusText.exchange(nullptr, std::memory_order_acquire)) CFRelease(text);
    if (w->mWindow != nullptr) {
      HideWindow(w->mWindow);
      DisposeWindow(w->mWindow);
      w->mWindow = nullptr;
    }
    delete w;
  }
  EnableMenuCommand(nullptr, kProcessImagesCommand);
}

void myBatchWindowSetBusy(MyBatchWindowStruct* w, Boolean busy) {
  if (w != nullptr) w->mBusy.store(busy ? 1 : 0);
}

Boolean myBatchWindowStopRequested(const MyBatchWindowStruct* w) {
  return w != nullptr && w->mStopRequested.load() == 1;
}

void myBatchWindowReport(MyBatchWindowStruct* w, SInt32 percent, CFStringRef text) {
  if (w == nullptr) return;
  w->mProgress.store(percent, std::memory_order_relaxed);
  if (text == nullptr) return;
  CFStringRef empty = nullptr;
  CFRetain(text);
  if (!w->mStatusText.compare_exchange_strong(empty, text, std::memory_order_release, std::memory_order_relaxed))
    CFRelease(text);
}
