// The Apple Event Manager's handler table and delivery. Events are
// delivered in this process: AESend looks up the handler installed for the
// event's class and id and calls it on the calling thread, with a reply that
// has a data handle when the sender waits for one (kAEWaitReply) and none
// otherwise. A transport that brings events from other processes (scripts)
// would hand them to AESend in the same way.
//
// The handler table is meant for the main thread; it is locked all the same.
#pragma once
#include "platform/appleevents/AEDataModel.h"

typedef long SRefCon;
typedef SInt32 AESendMode;
typedef SInt16 AESendPriority;

typedef OSErr (*AEEventHandlerProcPtr)(const AppleEvent* theAppleEvent, AppleEvent* reply, SRefCon handlerRefcon);
typedef AEEventHandlerProcPtr AEEventHandlerUPP;
inline AEEventHandlerUPP NewAEEventHandlerUPP(AEEventHandlerProcPtr proc) { return proc; }
inline void DisposeAEEventHandlerUPP(AEEventHandlerUPP) {}

enum : AESendMode {
  kAENoReply = 0x00000001,
  kAEQueueReply = 0x00000002,
  kAEWaitReply = 0x00000003,
};
enum : AESendPriority { kAENormalPriority = 0 };
enum : SInt32 { kAEDefaultTimeout = -1, kNoTimeOut = -2 };

// Installs the handler for (class, id), replacing one installed before.
// isSysHandler is accepted and not used: there is one table.
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID, AEEventHandlerUPP handler,
                            SRefCon handlerRefcon, Boolean isSysHandler);
// Tests: the next installation for (class, id) fails with status and
// installs nothing; status 0 withdraws it.
void SkyloomFailNextAEInstall(AEEventClass theAEEventClass, AEEventID theAEEventID, OSErr status);
// Removes every installed handler and pending failure (tests start clean).
void SkyloomRemoveAllAEHandlers();
// Removes it when it is the handler installed for (class, id);
// errAEHandlerNotFound otherwise.
OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID, AEEventHandlerUPP handler,
                           Boolean isSysHandler);
OSErr AEGetEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID, AEEventHandlerUPP* handler,
                        SRefCon* handlerRefcon, Boolean isSysHandler);

// Delivers the event to its handler in this process. With kAEWaitReply the
// reply is a new event (class 'aevt', id 'ansr') holding what the handler
// put into it, the caller disposes of it; otherwise the handler gets a reply
// without a data handle and *reply (may be null) is left empty. Returns the
// handler's status; errAEEventNotHandled when no handler is installed for
// the event. A nonzero handler status is also put into the reply as
// keyErrorNumber ('long'), as the system does. The idle and filter
// procedures and the timeout are accepted and not used.
OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode, AESendPriority sendPriority,
             SInt32 timeOutInTicks, void* idleProc, void* filterProc);
