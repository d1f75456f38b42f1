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
