#include "platform/appleevents/AppleEvents.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/appleevents/AEInternal.h"

namespace {

struct Installed {
  AEEventHandlerUPP handler;
  SRefCon refcon;
};

struct HandlerTable {
  std::mutex lock;
  std::map<std::pair<AEEventClass, AEEventID>, Installed> handlers;
  std::map<std::pair<AEEventClass, AEEventID>, OSErr> failures;
};

HandlerTable& table() {
  static HandlerTable t;
  return t;
}

}  // namespace

OSErr AEInstallEventHandler(AEEventClass eventClass, AEEventID eventID, AEEventHandlerUPP handler, SRefCon refcon,
                            Boolean) {
  if (handler == nullptr) return paramErr;
  std::lock_guard<std::mutex> g(table().lock);
  auto failure = table().failures.find({eventClass, eventID});
  if (failure != table().failures.end()) {
    const OSErr status = failure->second;
    table().failures.erase(failure);
    return status;
  }
  table().handlers[{eventClass, eventID}] = Installed{handler, refcon};
  return noErr;
}

void SkyloomFailNextAEInstall(AEEventClass eventClass, AEEventID eventID, OSErr status) {
  std::lock_guard<std::mutex> g(table().lock);
  if (status == noErr)
    table().failures.erase({eventClass, eventID});
  else
    table().failures[{eventClass, eventID}] = status;
}

void SkyloomRemoveAllAEHandlers() {
  std::lock_guard<std::mutex> g(table().lock);
  table().handlers.clear();
  table().failures.clear();
}

OSErr AERemoveEventHandler(AEEventClass eventClass, AEEventID eventID, AEEventHandlerUPP handler, Boolean) {
  std::lock_guard<std::mutex> g(table().lock);
  auto it = table().handlers.find({eventClass, eventID});
  if (it == table().handlers.end() || it->second.handler != handler) return errAEHandlerNotFound;
  table().handlers.erase(it);
  return noErr;
}

OSErr AEGetEventHandler(AEEventClass eventClass, AEEventID eventID, AEEventHandlerUPP* handler, SRefCon* refcon,
                        Boolean) {
  std::lock_guard<std::mutex> g(table().lock);
  auto it = table().handlers.find({eventClass, eventID});
  if (it == table().handlers.end()) return errAEHandlerNotFound;
  if (handler) *handler = it->second.handler;
  if (refcon) *refcon = it->second.refcon;
  return noErr;
}

OSErr AESend(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode, AESendPriority, SInt32, void*, void*) {
  if (reply) AEInitializeDesc(reply);
  if (event == nullptr || event->descriptorType != typeAppleEvent || event->dataHandle == nullptr)
    return errAENotAEDesc;
  const bool waits = (sendMode & kAEWaitReply) == kAEWaitReply;
  if (waits && reply == nullptr) return paramErr;
  Installed found{};
  {
    std::lock_guard<std::mutex> g(table().lock);
    auto it = table().handlers.find({event->dataHandle->eventClass, event->dataHandle->eventID});
    if (it == table().handlers.end()) return errAEEventNotHandled;
    found = it->second;
  }
  // The handler runs unlocked: it may install or remove handlers itself.
  AppleEvent answer;
  AEInitializeDesc(&answer);
  if (waits) AECreateAppleEvent(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("ansr"), nullptr, 0, 0, &answer);
  const OSErr err = found.handler(event, &answer, found.refcon);
  if (waits) {
    if (err != noErr) {
      const SInt32 code = err;
      AEPutParamPtr(&answer, keyErrorNumber, typeSInt32, &code, sizeof code);
    }
    *reply = answer;
  }
  return err;
}
