// Isochronous reception of the IOFireWireLib stand-in: DCL command pools,
// the remote (talker) and local (listener) ports, the channel, and the DCL
// engine that runs a listener's program against the bus.
//
// The engine walks the program one bus cycle at a time: a receive command
// takes the cycle's packet from the back end into its buffer, a time-stamp
// command writes the bus time of the last packet (its arrival, when the back
// end knows it; else the cycle the engine took it in), a call-proc is posted
// to the isochronous dispatcher's run loop and a jump follows its label as
// it is at that moment.
//
// The engine never waits for a call-proc, as hardware does not. Each
// call-proc owns the receives and the time stamp before it (its segment)
// from its posting until it has run, so at most one call per segment is
// queued. When the bus comes round to a segment whose call-proc is still
// queued or running, the handler has been overrun: the segment is skipped
// whole, its packets are lost (counted, SkyloomFireWireBusOverruns) and its
// call-proc is not posted, so a late handler never reads a segment that is
// being written and the segments it does get stay whole. The handler sees a
// skip as a call-proc other than the one it expects next; three skips in a
// row would bring it the one it expects, so the bus never makes a third: it
// holds at that segment instead, losing packets until the segment is free.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/iokit/IOKitInternal.h"

namespace {

// ---------------------------------------------------------------- the bus clock

struct Engine;

struct BusClock {
  std::mutex mutex;
  bool stepped = false;
  UInt64 startCycle = 0;
  std::set<std::shared_ptr<Engine>> running;
};
std::atomic<UInt64> gOverruns{0};
BusClock& Clock() {
  static BusClock clock;
  return clock;
}

// ---------------------------------------------------------------- the engine

struct Engine : std::enable_shared_from_this<Engine> {
  IOFireWireLibDeviceRef device = nullptr;
  IOKitBackend* backend = nullptr;
  IOKitBackendKey key = 0;
  DCLCommandPtr program = nullptr;

  std::mutex mutex;  // the program counter, jumps, running state
  std::condition_variable cond;
  DCLCommandPtr pc = nullptr;
  bool running = false;
  bool quit = false;
  UInt32 channel = 0;
  UInt64 cycle = 0;
  UInt32 lastPacketStamp = 0;  // segment time-stamp word of the last packet
  std::thread thread;

  std::mutex postMutex;
  std::condition_variable postCond;
  UInt64 posted = 0, done = 0;
  std::set<const DCLCommand*> pending;  // call-procs posted and not yet run

  // The call-proc that owns each receive and time stamp: the next one in
  // program order. Built once the program is known; under mutex.
  std::map<const DCLCommand*, const DCLCommand*> owner;
  // The call-proc whose segment the bus is skipping (null: none), and
  // whether a packet was lost to it yet: until then a handler that catches
  // up during idle cycles still gets the segment.
  const DCLCommand* skipping = nullptr;
  bool skipStarted = false;
  int skippedInARow = 0;  // segments skipped since the last one written
  std::vector<UInt8> lost;  // where the packets of a skipped segment go

  void FindOwners() {
    owner.clear();
    std::vector<const DCLCommand*> waiting;
    for (const DCLCommand* c = program; c; c = c->pNextDCLCommand) {
      if (c->opcode == kDCLReceivePacketStartOp || c->opcode == kDCLPtrTimeStampOp) waiting.push_back(c);
      if (c->opcode == kDCLCallProcOp) {
        for (const DCLCommand* w : waiting) owner[w] = c;
        waiting.clear();
      }
    }
  }

  bool Pending(const DCLCommand* callProc) {
    std::lock_guard<std::mutex> lock(postMutex);
    return pending.count(callProc) != 0;
  }

  void Post(DCLCallProc* dcl) {
    DCLCallCommandProc proc = dcl->proc;
    {
      std::lock_guard<std::mutex> lock(postMutex);
      posted++;
      pending.insert(dcl);
    }
    auto self = shared_from_this();
    auto finish = [self, dcl] {
      std::lock_guard<std::mutex> lock(self->postMutex);
      self->done++;
      self->pending.erase(dcl);
      self->postCond.notify_all();
    };
    if (!SkyloomIOFireWirePostIsoch(device, [proc, dcl, finish] {
          proc(dcl);
          finish();
        }))
      finish();
  }

  // Waits until at most `outstanding` call-procs are still to run.
  bool WaitPosted(UInt64 outstanding, int timeoutMs) {
    std::unique_lock<std::mutex> lock(postMutex);
    return postCond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return posted - done <= outstanding; });
  }

  // Runs the commands up to the next receive; call with mutex held.
  void RunControl(std::unique_lock<std::mutex>& lock) {
    for (int guard = 0; pc && guard < 100000; guard++) {
      switch (pc->opcode) {
        case kDCLReceivePacketStartOp: return;
        case kDCLJumpOp: pc = static_cast<DCLJump*>(pc)->pJumpDCLLabel; continue;
        case kDCLPtrTimeStampOp: {
          if (skipping) break;
          UInt32* p = static_cast<DCLPtrTimeStamp*>(pc)->timeStampPtr;
          if (p) *p = lastPacketStamp;
          break;
        }
        case kDCLCallProcOp: {
          auto* call = static_cast<DCLCallProc*>(pc);
          if (skipping == call) {
            skipping = nullptr;  // the segment is over; its call-proc stays unposted
            skipStarted = false;
            skippedInARow++;
            break;
          }
          skippedInARow = 0;
          if (call->proc) {
            lock.unlock();
            Post(call);
            lock.lock();
          }
          break;
        }
        default: break;
      }
      if (pc) pc = pc->pNextDCLCommand;
    }
  }

  // One bus cycle; call with mutex held.
  void RunCycle(std::unique_lock<std::mutex>& lock) {
    if (!running) return;
    RunControl(lock);
    if (pc && pc->opcode == kDCLReceivePacketStartOp) {
      auto* recv = static_cast<DCLTransferPacket*>(pc);
      auto it = owner.find(pc);
      const DCLCommand* segment = it == owner.end() ? nullptr : it->second;
      bool hold = false;
      if (!skipStarted) {
        skipping = nullptr;
        if (segment && Pending(segment)) {  // the handler is behind
          if (skippedInARow < 2)
            skipping = segment;
          else
            hold = true;
        }
      }
      UInt8* to = static_cast<UInt8*>(recv->buffer);
      if (skipping || hold) {
        if (lost.size() < recv->size) lost.resize(recv->size);
        to = lost.data();
      }
      UInt32 stamp = UInt32(((cycle / 8000) & 7) << 25 | (cycle % 8000) << 12);
      const UInt32 n = backend->FWIsochCycle(key, channel, to, recv->size, &stamp);
      if (n && (skipping || hold)) {
        skipStarted = skipping != nullptr;
        gOverruns++;
      }
      if (n && !hold) {
        lastPacketStamp = stamp;
        pc = pc->pNextDCLCommand;
        RunControl(lock);
      }
    }
    cycle++;
  }

  void RealTime() {
    // The bus keeps the pace of the devices' clock (real time, or faster
    // under a test time scale).
    const UInt64 start = SkyloomPacedMicroseconds();
    const UInt64 first = cycle;
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
      const UInt64 now = SkyloomPacedMicroseconds();
      const UInt64 due = first + (now > start ? now - start : 0) / 125;
      while (!quit && running && cycle < due) RunCycle(lock);
      cond.wait_for(lock, std::chrono::milliseconds(1), [this] { return quit; });
    }
  }

  void Start(UInt32 ch) {
    bool stepped;
    {
      std::lock_guard<std::mutex> clockLock(Clock().mutex);
      stepped = Clock().stepped;
      cycle = Clock().startCycle;
      if (stepped) Clock().running.insert(shared_from_this());
    }
    std::lock_guard<std::mutex> lock(mutex);
    channel = ch;
    pc = program;
    if (owner.empty()) FindOwners();
    skipping = nullptr;
    skipStarted = false;
    skippedInARow = 0;
    running = true;
    quit = false;
    if (!stepped) thread = std::thread([this] { RealTime(); });
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> clockLock(Clock().mutex);
      Clock().running.erase(shared_from_this());
    }
    std::thread leaving;
    {
      std::lock_guard<std::mutex> lock(mutex);
      running = false;
      quit = true;
      leaving.swap(thread);
    }
    cond.notify_all();
    if (leaving.joinable()) leaving.join();
  }
};

// ---------------------------------------------------------------- COM plumbing

template <typename Obj>
Obj* Self(void* self) {
  return static_cast<Obj*>(self);
}
template <typename Obj>
ULONG AddRefT(void* self) {
  return ULONG(++Self<Obj>(self)->refs);
}
template <typename Obj>
ULONG ReleaseT(void* self) {
  Obj* o = Self<Obj>(self);
  int left = --o->refs;
  if (left == 0) {
    delete o;
    gIOKitLiveInterfaces--;
  }
  return ULONG(left);
}
template <typename Obj>
HRESULT QueryT(void* self, REFIID, LPVOID* ppv) {
  AddRefT<Obj>(self);
  *ppv = self;
  return S_OK;
}

// ---------------------------------------------------------------- DCL pool

struct Pool {
  const IOFireWireDCLCommandPoolInterface* vtbl;
  std::atomic<int> refs{1};
  // Commands are plain structs of several kinds: each is freed as its own.
  std::deque<std::unique_ptr<DCLCommand, void (*)(DCLCommand*)>> commands;
};

template <typename T>
DCLCommandPtr Link(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr after, T* command, UInt32 opcode) {
  command->pNextDCLCommand = nullptr;
  command->compilerData = 0;
  command->opcode = opcode;
  Self<Pool>(self)->commands.emplace_back(command, [](DCLCommand* c) { delete static_cast<T*>(c); });
  if (after) after->pNextDCLCommand = command;
  return command;
}

DCLCommandPtr AllocLabel(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl) {
  return Link(self, dcl, new DCLLabel{}, kDCLLabelOp);
}
DCLCommandPtr AllocReceive(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, void* buffer, UInt32 size) {
  auto* c = new DCLTransferPacket{};
  c->buffer = buffer;
  c->size = size;
  return Link(self, dcl, c, kDCLReceivePacketStartOp);
}
DCLCommandPtr AllocTimeStamp(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, UInt32* p) {
  auto* c = new DCLPtrTimeStamp{};
  c->timeStampPtr = p;
  return Link(self, dcl, c, kDCLPtrTimeStampOp);
}
DCLCommandPtr AllocUpdate(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, DCLCommandPtr* list, UInt32 n) {
  auto* c = new DCLUpdateDCLList{};
  c->dclCommandList = list;
  c->numDCLCommands = n;
  return Link(self, dcl, c, kDCLUpdateDCLListOp);
}
DCLCommandPtr AllocCallProc(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, DCLCallCommandProc proc,
                            DCLCallProcDataType data) {
  auto* c = new DCLCallProc{};
  c->proc = proc;
  c->procData = data;
  return Link(self, dcl, c, kDCLCallProcOp);
}
DCLCommandPtr AllocJump(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, DCLLabelPtr label) {
  auto* c = new DCLJump{};
  c->pJumpDCLLabel = label;
  return Link(self, dcl, c, kDCLJumpOp);
}

const IOFireWireDCLCommandPoolInterface kPoolTable = {
    nullptr,     QueryT<Pool>,   AddRefT<Pool>, ReleaseT<Pool>, AllocLabel, AllocReceive, AllocTimeStamp,
    AllocUpdate, AllocCallProc, AllocJump};

// ---------------------------------------------------------------- remote port

struct RemotePort {
  const IOFireWireRemoteIsochPortInterface* vtbl;
  std::atomic<int> refs{1};
  std::atomic<void*> refCon{nullptr};
  IOFireWireLibIsochPortGetSupportedCallback getSupported = nullptr;
  IOFireWireLibIsochPortAllocateCallback allocate = nullptr;
  IOFireWireLibIsochPortCallback release = nullptr, start = nullptr, stop = nullptr;
};
IOFireWireLibRemoteIsochPortRef RemoteRef(RemotePort* p) { return reinterpret_cast<IOFireWireLibRemoteIsochPortRef>(p); }

void RemoteSetRefCon(IOFireWireLibRemoteIsochPortRef self, void* r) { Self<RemotePort>(self)->refCon = r; }
void* RemoteGetRefCon(IOFireWireLibRemoteIsochPortRef self) { return Self<RemotePort>(self)->refCon; }
IOFireWireLibIsochPortGetSupportedCallback RemoteSetGetSupported(IOFireWireLibRemoteIsochPortRef self,
                                                                 IOFireWireLibIsochPortGetSupportedCallback h) {
  auto old = Self<RemotePort>(self)->getSupported;
  Self<RemotePort>(self)->getSupported = h;
  return old;
}
IOFireWireLibIsochPortAllocateCallback RemoteSetAllocate(IOFireWireLibRemoteIsochPortRef self,
                                                         IOFireWireLibIsochPortAllocateCallback h) {
  auto old = Self<RemotePort>(self)->allocate;
  Self<RemotePort>(self)->allocate = h;
  return old;
}
IOFireWireLibIsochPortCallback RemoteSetRelease(IOFireWireLibRemoteIsochPortRef self, IOFireWireLibIsochPortCallback h) {
  auto old = Self<RemotePort>(self)->release;
  Self<RemotePort>(self)->release = h;
  return old;
}
IOFireWireLibIsochPortCallback RemoteSetStart(IOFireWireLibRemoteIsochPortRef self, IOFireWireLibIsochPortCallback h) {
  auto old = Self<RemotePort>(self)->start;
  Self<RemotePort>(self)->start = h;
  return old;
}
IOFireWireLibIsochPortCallback RemoteSetStop(IOFireWireLibRemoteIsochPortRef self, IOFireWireLibIsochPortCallback h) {
  auto old = Self<RemotePort>(self)->stop;
  Self<RemotePort>(self)->stop = h;
  return old;
}

const IOFireWireRemoteIsochPortInterface kRemoteTable = {
    nullptr,           QueryT<RemotePort>,    AddRefT<RemotePort>, ReleaseT<RemotePort>, RemoteSetRefCon,
    RemoteGetRefCon,   RemoteSetGetSupported, RemoteSetAllocate,   RemoteSetRelease,     RemoteSetStart,
    RemoteSetStop};

// ---------------------------------------------------------------- local port

struct LocalPort {
  const IOFireWireLocalIsochPortInterface* vtbl;
  std::atomic<int> refs{1};
  std::atomic<void*> refCon{nullptr};
  std::atomic<IOFireWireLibIsochPortFinalizeCallback> finalize{nullptr};
  IOFireWireLibDeviceRef device = nullptr;
  std::shared_ptr<Engine> engine;
};

void LocalSetRefCon(IOFireWireLibLocalIsochPortRef self, void* r) { Self<LocalPort>(self)->refCon = r; }
void* LocalGetRefCon(IOFireWireLibLocalIsochPortRef self) { return Self<LocalPort>(self)->refCon; }
IOReturn LocalModifyJump(IOFireWireLibLocalIsochPortRef self, DCLJumpPtr jump, DCLLabelPtr label) {
  if (!jump) return kIOReturnBadArgument;
  Engine& e = *Self<LocalPort>(self)->engine;
  std::lock_guard<std::mutex> lock(e.mutex);
  jump->pJumpDCLLabel = label;
  return kIOReturnSuccess;
}
IOReturn LocalSetFinalize(IOFireWireLibLocalIsochPortRef self, IOFireWireLibIsochPortFinalizeCallback f) {
  Self<LocalPort>(self)->finalize = f;
  return kIOReturnSuccess;
}
ULONG LocalRelease(void* self) {
  LocalPort* p = Self<LocalPort>(self);
  int left = --p->refs;
  if (left != 0) return ULONG(left);
  p->engine->Stop();
  // The finalize callback comes after every call-proc already posted.
  IOFireWireLibIsochPortFinalizeCallback finalize = p->finalize;
  void* refCon = p->refCon;
  if (finalize && !SkyloomIOFireWirePostIsoch(p->device, [finalize, refCon] { finalize(refCon); }))
    finalize(refCon);
  (*p->device)->Release(p->device);
  delete p;
  gIOKitLiveInterfaces--;
  return 0;
}

const IOFireWireLocalIsochPortInterface kLocalTable = {
    nullptr, QueryT<LocalPort>, AddRefT<LocalPort>, LocalRelease, LocalSetRefCon, LocalGetRefCon, LocalModifyJump,
    LocalSetFinalize};

// ---------------------------------------------------------------- channel

struct Channel {
  const IOFireWireIsochChannelInterface* vtbl;
  std::atomic<int> refs{1};
  IOFireWireLibDeviceRef device = nullptr;
  IOKitBackend* backend = nullptr;
  IOKitBackendKey key = 0;
  UInt32 packetSize = 0;
  UInt32 speed = 0;
  std::mutex mutex;
  RemotePort* talker = nullptr;
  LocalPort* listener = nullptr;
  bool allocated = false;
  bool started = false;
  UInt32 channel = 0;
};

IOReturn ChanSetTalker(IOFireWireLibIsochChannelRef self, IOFireWireLibRemoteIsochPortRef talker) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (c->talker) ReleaseT<RemotePort>(c->talker);
  c->talker = Self<RemotePort>(talker);
  if (c->talker) AddRefT<RemotePort>(c->talker);
  return kIOReturnSuccess;
}
IOReturn ChanAddListener(IOFireWireLibIsochChannelRef self, IOFireWireLibLocalIsochPortRef listener) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (c->listener) return kIOReturnUnsupported;  // one listener is all the library needs
  c->listener = Self<LocalPort>(listener);
  AddRefT<LocalPort>(c->listener);
  return kIOReturnSuccess;
}
IOReturn ChanAllocate(IOFireWireLibIsochChannelRef self) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (c->allocated) return kIOReturnSuccess;
  if (!c->talker || !c->listener) return kIOReturnNotReady;
  IOFWSpeed speed = c->speed;
  UInt64 mask = ~0ull;
  if (c->talker->getSupported) {
    if (IOReturn r = c->talker->getSupported(RemoteRef(c->talker), &speed, &mask)) return r;
  }
  speed = std::min<IOFWSpeed>(speed, c->speed);
  UInt32 channel = 0;
  if (IOReturn r = c->backend->FWAllocateIsochChannel(c->key, mask, c->packetSize, speed, &channel)) return r;
  if (c->talker->allocate) {
    if (IOReturn r = c->talker->allocate(RemoteRef(c->talker), speed, channel)) {
      c->backend->FWReleaseIsochChannel(c->key, channel);
      return r;
    }
  }
  c->channel = channel;
  c->allocated = true;
  return kIOReturnSuccess;
}
IOReturn StopLocked(Channel* c) {
  if (!c->started) return kIOReturnSuccess;
  IOReturn r = kIOReturnSuccess;
  if (c->talker && c->talker->stop) r = c->talker->stop(RemoteRef(c->talker));
  if (c->listener) c->listener->engine->Stop();
  c->started = false;
  return r;
}
IOReturn ReleaseLocked(Channel* c) {
  if (!c->allocated) return kIOReturnSuccess;
  StopLocked(c);
  IOReturn r = kIOReturnSuccess;
  if (c->talker && c->talker->release) r = c->talker->release(RemoteRef(c->talker));
  c->backend->FWReleaseIsochChannel(c->key, c->channel);
  c->allocated = false;
  return r;
}
IOReturn ChanRelease(IOFireWireLibIsochChannelRef self) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  return ReleaseLocked(c);
}
IOReturn ChanStart(IOFireWireLibIsochChannelRef self) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  if (!c->allocated) return kIOReturnNotReady;
  if (c->started) return kIOReturnSuccess;
  c->listener->engine->Start(c->channel);
  if (c->talker->start) {
    if (IOReturn r = c->talker->start(RemoteRef(c->talker))) {
      c->listener->engine->Stop();
      return r;
    }
  }
  c->started = true;
  return kIOReturnSuccess;
}
IOReturn ChanStop(IOFireWireLibIsochChannelRef self) {
  Channel* c = Self<Channel>(self);
  std::lock_guard<std::mutex> lock(c->mutex);
  return StopLocked(c);
}
ULONG ChanReleaseObject(void* self) {
  Channel* c = Self<Channel>(self);
  int left = --c->refs;
  if (left != 0) return ULONG(left);
  {
    std::lock_guard<std::mutex> lock(c->mutex);
    ReleaseLocked(c);
  }
  if (c->talker) ReleaseT<RemotePort>(c->talker);
  if (c->listener) LocalRelease(c->listener);
  (*c->device)->Release(c->device);
  delete c;
  gIOKitLiveInterfaces--;
  return 0;
}

const IOFireWireIsochChannelInterface kChannelTable = {
    nullptr,       QueryT<Channel>, AddRefT<Channel>, ChanReleaseObject, ChanSetTalker, ChanAddListener,
    ChanAllocate,  ChanRelease,     ChanStart,        ChanStop};

}  // namespace

// ---------------------------------------------------------------- factories

IOFireWireLibDCLCommandPoolRef IOKitCreateDCLPool(IOFireWireLibDeviceRef) {
  auto* p = new Pool;
  p->vtbl = &kPoolTable;
  gIOKitLiveInterfaces++;
  return reinterpret_cast<IOFireWireLibDCLCommandPoolRef>(p);
}

IOFireWireLibRemoteIsochPortRef IOKitCreateRemoteIsochPort(IOFireWireLibDeviceRef) {
  auto* p = new RemotePort;
  p->vtbl = &kRemoteTable;
  gIOKitLiveInterfaces++;
  return RemoteRef(p);
}

IOFireWireLibLocalIsochPortRef IOKitCreateLocalIsochPort(IOFireWireLibDeviceRef device, DCLCommandPtr program) {
  auto* p = new LocalPort;
  p->vtbl = &kLocalTable;
  p->device = device;
  (*device)->AddRef(device);
  p->engine = std::make_shared<Engine>();
  p->engine->device = device;
  p->engine->program = program;
  IOKitFireWireDeviceTarget(device, &p->engine->backend, &p->engine->key);
  gIOKitLiveInterfaces++;
  return reinterpret_cast<IOFireWireLibLocalIsochPortRef>(p);
}

IOFireWireLibIsochChannelRef IOKitCreateIsochChannel(IOFireWireLibDeviceRef device, UInt32 packetSize, UInt32 speed) {
  auto* c = new Channel;
  c->vtbl = &kChannelTable;
  c->device = device;
  (*device)->AddRef(device);
  IOKitFireWireDeviceTarget(device, &c->backend, &c->key);
  c->packetSize = packetSize;
  c->speed = speed;
  gIOKitLiveInterfaces++;
  return reinterpret_cast<IOFireWireLibIsochChannelRef>(c);
}

// ---------------------------------------------------------------- the bus clock

void SkyloomFireWireBusSetStepped(bool stepped) {
  std::lock_guard<std::mutex> lock(Clock().mutex);
  Clock().stepped = stepped;
}

void SkyloomFireWireBusSetStartCycleTime(UInt32 seconds, UInt32 cycle) {
  std::lock_guard<std::mutex> lock(Clock().mutex);
  Clock().startCycle = UInt64(seconds) * 8000 + cycle % 8000;
}

namespace {

// Runs `cycles` bus cycles on every running channel; with `paced`, a cycle
// begins only once the call-procs posted before it have run.
bool RunSteppedCycles(UInt32 cycles, bool paced) {
  std::vector<std::shared_ptr<Engine>> engines;
  {
    std::lock_guard<std::mutex> lock(Clock().mutex);
    engines.assign(Clock().running.begin(), Clock().running.end());
  }
  bool ok = true;
  for (UInt32 i = 0; i < cycles; i++) {
    for (auto& e : engines) {
      if (paced) ok = e->WaitPosted(0, 10000) && ok;
      std::unique_lock<std::mutex> lock(e->mutex);
      e->RunCycle(lock);
    }
  }
  if (paced)
    for (auto& e : engines) ok = e->WaitPosted(0, 10000) && ok;
  return ok;
}

}  // namespace

bool SkyloomFireWireBusStepCycles(UInt32 cycles) { return RunSteppedCycles(cycles, true); }

void SkyloomFireWireBusBurstCycles(UInt32 cycles) { RunSteppedCycles(cycles, false); }

UInt64 SkyloomFireWireBusOverruns() { return gOverruns.load(); }
