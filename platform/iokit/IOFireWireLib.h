// IOFireWireLib stand-in: the FireWire device interface (open and close,
// quadlet transactions, configuration directories, run-loop dispatchers, bus
// generation and speed) over the back ends of IOKitBackend.h.
//
// Exclusive access: a unit opened through one device interface answers
// kIOReturnExclusiveAccess to every other open in this process, and a back
// end answers it for units another program holds.
#pragma once
#include <functional>

#include "platform/iokit/IOKitLib.h"

struct FWAddress {
  UInt16 nodeID;
  UInt16 addressHi;
  UInt32 addressLo;
};

typedef UInt32 IOFWSpeed;
enum : IOFWSpeed { kFWSpeed100MBit = 0, kFWSpeed200MBit = 1, kFWSpeed400MBit = 2, kFWSpeed800MBit = 3 };

// Configuration ROM key types and the keys the camera library reads.
typedef int IOConfigKeyType;
enum : IOConfigKeyType { kConfigImmediateKeyType = 0, kConfigOffsetKeyType = 1, kConfigLeafKeyType = 2, kConfigDirectoryKeyType = 3 };
enum : int {
  kConfigTextualDescriptorKey = 0x01,
  kConfigModuleVendorIdKey = 0x03,
  kConfigUnitDirectoryKey = 0x11,
  kConfigUnitSpecIdKey = 0x12,
  kConfigUnitSwVersionKey = 0x13,
  kConfigUnitDependentInfoKey = 0x14,
};

struct IOFireWireConfigDirectoryInterface;
typedef IOFireWireConfigDirectoryInterface** IOFireWireLibConfigDirectoryRef;
struct IOFireWireDeviceInterface;
typedef IOFireWireDeviceInterface** IOFireWireLibDeviceRef;
// Isochronous objects, filled in with the reception path.
struct IOFireWireIsochChannelInterface;
typedef IOFireWireIsochChannelInterface** IOFireWireLibIsochChannelRef;
struct IOFireWireLocalIsochPortInterface;
typedef IOFireWireLocalIsochPortInterface** IOFireWireLibLocalIsochPortRef;
struct IOFireWireRemoteIsochPortInterface;
typedef IOFireWireRemoteIsochPortInterface** IOFireWireLibRemoteIsochPortRef;
struct IOFireWireDCLCommandPoolInterface;
typedef IOFireWireDCLCommandPoolInterface** IOFireWireLibDCLCommandPoolRef;
struct DCLCommand;
typedef DCLCommand* DCLCommandPtr;
struct DCLLabel;
typedef DCLLabel* DCLLabelPtr;
struct DCLJump;
typedef DCLJump* DCLJumpPtr;
struct DCLCallProc;
typedef DCLCallProc* DCLCallProcPtr;

// ---- DCL programs ----
// A program is a linked list of commands that the bus engine runs: packet
// receives into their own buffers, time stamps, call-procs (posted to the
// isochronous dispatcher's run loop without waiting, as hardware does) and
// jumps, which the running program follows as they are modified.
typedef UInt64 DCLCallProcDataType;
typedef void (*DCLCallCommandProc)(DCLCommandPtr dcl);
enum : UInt32 {
  kDCLLabelOp = 1,
  kDCLReceivePacketStartOp = 2,
  kDCLPtrTimeStampOp = 3,
  kDCLUpdateDCLListOp = 4,
  kDCLCallProcOp = 5,
  kDCLJumpOp = 6,
};
struct DCLCommand {
  DCLCommandPtr pNextDCLCommand;
  UInt32 compilerData;
  UInt32 opcode;
};
struct DCLLabel : DCLCommand {};
struct DCLTransferPacket : DCLCommand {
  void* buffer;
  UInt32 size;  // the packet (header quadlet and payload) is cut to this
};
typedef DCLTransferPacket* DCLTransferPacketPtr;
struct DCLPtrTimeStamp : DCLCommand {
  UInt32* timeStampPtr;  // receives (seconds mod 8) << 25 | cycle << 12
};
struct DCLUpdateDCLList : DCLCommand {
  DCLCommandPtr* dclCommandList;
  UInt32 numDCLCommands;
};
struct DCLCallProc : DCLCommand {
  DCLCallCommandProc proc;  // none: the command is skipped
  DCLCallProcDataType procData;
};
struct DCLJump : DCLCommand {
  DCLLabelPtr pJumpDCLLabel;
};

struct IOVirtualRange {
  UInt64 address;
  UInt64 length;
};

typedef IOReturn (*IOFireWireLibIsochPortGetSupportedCallback)(IOFireWireLibRemoteIsochPortRef port,
                                                               IOFWSpeed* maxSpeed, UInt64* channelsSupported);
typedef IOReturn (*IOFireWireLibIsochPortAllocateCallback)(IOFireWireLibRemoteIsochPortRef port, IOFWSpeed speed,
                                                           UInt32 channel);
typedef IOReturn (*IOFireWireLibIsochPortCallback)(IOFireWireLibRemoteIsochPortRef port);
typedef IOReturn (*IOFireWireLibIsochPortFinalizeCallback)(void* refcon);

struct IOFireWireDCLCommandPoolInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  // Each allocates a command, links it after `dcl` (when not null) and
  // returns it; the pool owns it. Null when out of memory.
  DCLCommandPtr (*AllocateLabelDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl);
  DCLCommandPtr (*AllocateReceivePacketStartDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl,
                                                 void* buffer, UInt32 size);
  DCLCommandPtr (*AllocatePtrTimeStampDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl,
                                           UInt32* timeStampPtr);
  DCLCommandPtr (*AllocateUpdateDCLListDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl,
                                            DCLCommandPtr* list, UInt32 count);
  DCLCommandPtr (*AllocateCallProcDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl,
                                       DCLCallCommandProc proc, DCLCallProcDataType procData);
  DCLCommandPtr (*AllocateJumpDCL)(IOFireWireLibDCLCommandPoolRef self, DCLCommandPtr dcl, DCLLabelPtr label);
};

// The camera's side of the stream: its handlers program and switch the
// camera's transmission.
struct IOFireWireRemoteIsochPortInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  void (*SetRefCon)(IOFireWireLibRemoteIsochPortRef self, void* refCon);
  void* (*GetRefCon)(IOFireWireLibRemoteIsochPortRef self);
  IOFireWireLibIsochPortGetSupportedCallback (*SetGetSupportedHandler)(
      IOFireWireLibRemoteIsochPortRef self, IOFireWireLibIsochPortGetSupportedCallback handler);
  IOFireWireLibIsochPortAllocateCallback (*SetAllocatePortHandler)(IOFireWireLibRemoteIsochPortRef self,
                                                                    IOFireWireLibIsochPortAllocateCallback handler);
  IOFireWireLibIsochPortCallback (*SetReleasePortHandler)(IOFireWireLibRemoteIsochPortRef self,
                                                          IOFireWireLibIsochPortCallback handler);
  IOFireWireLibIsochPortCallback (*SetStartHandler)(IOFireWireLibRemoteIsochPortRef self,
                                                    IOFireWireLibIsochPortCallback handler);
  IOFireWireLibIsochPortCallback (*SetStopHandler)(IOFireWireLibRemoteIsochPortRef self,
                                                   IOFireWireLibIsochPortCallback handler);
};

// Our side: the DCL program over the receive buffers.
struct IOFireWireLocalIsochPortInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  void (*SetRefCon)(IOFireWireLibLocalIsochPortRef self, void* refCon);
  void* (*GetRefCon)(IOFireWireLibLocalIsochPortRef self);
  // Re-points a jump of the program, also while it runs.
  IOReturn (*ModifyJumpDCL)(IOFireWireLibLocalIsochPortRef self, DCLJumpPtr jump, DCLLabelPtr label);
  // Called on the isochronous dispatcher's run loop once the port is
  // released and every call-proc already posted has run.
  IOReturn (*SetFinalizeCallback)(IOFireWireLibLocalIsochPortRef self,
                                  IOFireWireLibIsochPortFinalizeCallback finalize);
};

struct IOFireWireIsochChannelInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  IOReturn (*SetTalker)(IOFireWireLibIsochChannelRef self, IOFireWireLibRemoteIsochPortRef talker);
  IOReturn (*AddListener)(IOFireWireLibIsochChannelRef self, IOFireWireLibLocalIsochPortRef listener);
  // Asks the talker what it supports, allocates channel and bandwidth at the
  // resource manager (kIOReturnNoBandwidth when the bus is full) and tells
  // the talker its channel.
  IOReturn (*AllocateChannel)(IOFireWireLibIsochChannelRef self);
  IOReturn (*ReleaseChannel)(IOFireWireLibIsochChannelRef self);
  IOReturn (*Start)(IOFireWireLibIsochChannelRef self);
  IOReturn (*Stop)(IOFireWireLibIsochChannelRef self);
};

// Which configuration directory GetConfigDirectory returns.
constexpr IOKitUUID kIOFireWireUnitDirectoryID = kIOFireWireConfigDirectoryInterfaceID;

struct IOFireWireConfigDirectoryInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  UInt16 version, revision;
  IOReturn (*GetNumEntries)(IOFireWireLibConfigDirectoryRef self, int* count);
  IOReturn (*GetIndexKey)(IOFireWireLibConfigDirectoryRef self, int index, int* key);
  IOReturn (*GetIndexType)(IOFireWireLibConfigDirectoryRef self, int index, IOConfigKeyType* type);
  IOReturn (*GetIndexValue_UInt32)(IOFireWireLibConfigDirectoryRef self, int index, UInt32* value);
  // The leaf's data quadlets as bytes in bus order, without the leaf header.
  IOReturn (*GetIndexValue_Data)(IOFireWireLibConfigDirectoryRef self, int index, CFDataRef* value);
  IOReturn (*GetIndexValue_ConfigDirectory)(IOFireWireLibConfigDirectoryRef self, int index,
                                            IOFireWireLibConfigDirectoryRef* value, REFIID iid);
  // Offset entries give 0xFFFF:F0000000 + 4 x value; an immediate entry is
  // taken as an address low word (some cameras publish their register base
  // that way).
  IOReturn (*GetIndexOffset_FWAddress)(IOFireWireLibConfigDirectoryRef self, int index, FWAddress* value);
  IOReturn (*GetKeyValue_UInt32)(IOFireWireLibConfigDirectoryRef self, int key, UInt32* value);
  IOReturn (*GetKeyValue_Data)(IOFireWireLibConfigDirectoryRef self, int key, CFDataRef* value);
  IOReturn (*GetKeyValue_ConfigDirectory)(IOFireWireLibConfigDirectoryRef self, int key,
                                          IOFireWireLibConfigDirectoryRef* value, REFIID iid);
  IOReturn (*GetKeyOffset_FWAddress)(IOFireWireLibConfigDirectoryRef self, int key, FWAddress* value);
};

struct IOFireWireDeviceInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* ppv);
  ULONG (*AddRef)(void* self);
  ULONG (*Release)(void* self);
  UInt16 version, revision;
  Boolean (*InterfaceIsInited)(IOFireWireLibDeviceRef self);
  io_object_t (*GetDevice)(IOFireWireLibDeviceRef self);
  IOReturn (*Open)(IOFireWireLibDeviceRef self);
  void (*Close)(IOFireWireLibDeviceRef self);
  IOReturn (*ReadQuadlet)(IOFireWireLibDeviceRef self, io_object_t device, const FWAddress* addr,
                          UInt32* value, Boolean failOnReset, UInt32 generation);
  IOReturn (*WriteQuadlet)(IOFireWireLibDeviceRef self, io_object_t device, const FWAddress* addr,
                           const UInt32 value, Boolean failOnReset, UInt32 generation);
  IOFireWireLibConfigDirectoryRef (*GetConfigDirectory)(IOFireWireLibDeviceRef self, REFIID iid);
  IOReturn (*AddCallbackDispatcherToRunLoop)(IOFireWireLibDeviceRef self, CFRunLoopRef runLoop);
  void (*RemoveCallbackDispatcherFromRunLoop)(IOFireWireLibDeviceRef self);
  Boolean (*AddIsochCallbackDispatcherToRunLoop)(IOFireWireLibDeviceRef self, CFRunLoopRef runLoop);
  // Generation 3 and later only; null in the older interface.
  void (*RemoveIsochCallbackDispatcherFromRunLoop)(IOFireWireLibDeviceRef self);
  IOReturn (*GetBusGeneration)(IOFireWireLibDeviceRef self, UInt32* generation);
  IOReturn (*GetSpeedToNode)(IOFireWireLibDeviceRef self, UInt32 checkGeneration, IOFWSpeed* speed);
  // ---- isochronous objects (null on failure) ----
  // The pool's size is a hint; it never limits the program.
  IOFireWireLibDCLCommandPoolRef (*CreateDCLCommandPool)(IOFireWireLibDeviceRef self, UInt32 size, REFIID iid);
  IOFireWireLibRemoteIsochPortRef (*CreateRemoteIsochPort)(IOFireWireLibDeviceRef self, Boolean talking,
                                                           REFIID iid);
  IOFireWireLibLocalIsochPortRef (*CreateLocalIsochPort)(IOFireWireLibDeviceRef self, Boolean talking,
                                                         DCLCommandPtr program, UInt32 startEvent,
                                                         UInt32 startState, UInt32 startMask,
                                                         IOVirtualRange* programRanges, UInt32 programRangeCount,
                                                         IOVirtualRange* bufferRanges, UInt32 bufferRangeCount,
                                                         REFIID iid);
  IOFireWireLibIsochChannelRef (*CreateIsochChannel)(IOFireWireLibDeviceRef self, Boolean doIRM,
                                                     UInt32 packetSize, IOFWSpeed speed, REFIID iid);
};

// ---- the IOFireWireLib bundle and its version ----
typedef struct SkyloomCFBundle* CFBundleRef;
// Known identifier: "com.apple.IOFireWireLib". Null for any other.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
// 0x01700000 unless a test asks for another version.
UInt32 CFBundleGetVersionNumber(CFBundleRef bundle);
// Tests: the version the bundle reports (0 makes the bundle unknown).
void SkyloomIOFireWireLibSetVersion(UInt32 version);

// ---- dispatchers ----
// The run loops the dispatchers were added to (null when none).
CFRunLoopRef SkyloomIOFireWireCallbackRunLoop(IOFireWireLibDeviceRef device);
CFRunLoopRef SkyloomIOFireWireIsochRunLoop(IOFireWireLibDeviceRef device);
// For the isochronous machinery and the back ends: run `job` on the thread of
// the isochronous (or general) dispatcher's run loop. False when that
// dispatcher is not on a run loop.
bool SkyloomIOFireWirePostIsoch(IOFireWireLibDeviceRef device, std::function<void()> job);
bool SkyloomIOFireWirePostCallback(IOFireWireLibDeviceRef device, std::function<void()> job);

// ---- the bus clock of the isochronous engine ----
// Real time (the default: 8000 cycles a second on a thread per running
// channel) or stepped: channels then run only inside
// SkyloomFireWireBusStepCycles, on the caller's thread. Stepped time keeps
// pace with the handler: each cycle begins once the call-procs posted before
// it have run, and the call returns once every one posted has run.
void SkyloomFireWireBusSetStepped(bool stepped);
// False when the call-procs did not all run within the hang guard (10 s).
bool SkyloomFireWireBusStepCycles(UInt32 cycles);
// Stepped cycles at the bus's own pace, as in real time: the call-procs are
// posted and not waited for (a burst that can overrun a slow handler).
void SkyloomFireWireBusBurstCycles(UInt32 cycles);
// Packets lost so far, in this process, because the bus came round to a
// segment whose call-proc had not yet run.
UInt64 SkyloomFireWireBusOverruns();
// The cycle time at which channels started from now on begin.
void SkyloomFireWireBusSetStartCycleTime(UInt32 seconds, UInt32 cycle);
