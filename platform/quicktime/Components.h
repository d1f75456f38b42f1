// Component Manager stand-in. Every instance, whether one of our exporters
// and importers or one reached through a dispatch routine (the built-in base
// image decompressor, a plug-in from a component bundle, a component a test
// registers), shares one record type, so CloseComponent closes any of them.
//
// Plug-ins call this layer by name: the calls below that a component makes
// have C linkage, and programs that load plug-ins export them (see
// skyloom_component_host in bayer_codec/CMakeLists.txt), so host and plug-in
// share one registry and one handle table.
//
// Component bundles: a folder "<name>.component" holding the plug-in library
// and "Component.manifest", the text that stands for the 'thng' resource:
//
//   # comment
//   type: 'imdc'
//   subtype: 'BGGR'
//   manufacturer: 'ORX '
//   entry: Bayer_ImageCodecComponentDispatch
//   library: ORX_BAYER.so
//   resource: 'cdci' 256 cdci_256.rsrc
//
// A resource file is hex text (two digits a byte, blanks and "#" comments
// between them) holding the resource in its big-endian published layout;
// GetComponentResource turns the record types it knows into host order.
// Bundles are looked for in the first "components" folder found beside the
// executable or up to four folders above it (the build tree), then in
// <prefix>/lib/skyloom/components (the executable being <prefix>/bin/...).
// Discovery runs when a component is first asked for; a bundle whose manifest
// is unreadable or incomplete, or whose library or entry symbol cannot be
// loaded, is skipped whole.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/coreservices/MacTypes.h"

struct ComponentInstanceRecord {
  OSType componentType = 0;
  OSType componentSubType = 0;
  ComponentInstanceRecord();
  ComponentInstanceRecord(const ComponentInstanceRecord&) = delete;
  ComponentInstanceRecord& operator=(const ComponentInstanceRecord&) = delete;
  virtual ~ComponentInstanceRecord();
};
typedef ComponentInstanceRecord* ComponentInstance;
typedef SInt32 ComponentResult;
// A registered component; an instance may stand in for its component.
typedef struct ComponentRecord* Component;

enum : OSErr {
  invalidComponentID = -3000,
  badComponentInstance = -2018,
  cantFindHandler = -2003,
  noCodecErr = -8961,
  codecErr = -8960,
  codecBadDataErr = -8969,
  noMediaHandler = -2006,
  resNotFound = -192,
  mapReadErr = -199,
};
// Answer of a component to a selector it does not take.
constexpr ComponentResult badComponentSelector = ComponentResult(0x80008002u);

// The standard selectors every component may take.
enum : SInt16 {
  kComponentOpenSelect = -1,
  kComponentCloseSelect = -2,
  kComponentCanDoSelect = -3,
  kComponentVersionSelect = -4,
  kComponentRegisterSelect = -5,
  kComponentTargetSelect = -6,
  kComponentUnregisterSelect = -7,
  kComponentGetMPWorkFunctionSelect = -8,
};

// One call's parameters: the selector in `what` and the arguments in order,
// each widened to one slot; paramSize counts the bytes of the slots used.
constexpr int kComponentParameterSlots = 8;
struct ComponentParameters {
  UInt8 flags;
  UInt8 paramSize;
  SInt16 what;
  long params[kComponentParameterSlots];
};
typedef ComponentResult (*ComponentRoutineProcPtr)(ComponentParameters* params, Handle storage);
typedef ComponentRoutineProcPtr ComponentRoutineUPP;
typedef void (*ProcPtr)();

// Parameter layouts of the routines a dispatch table names (the storage comes
// first, the result is a ComponentResult). Our own codes: one a signature.
typedef UInt32 ProcInfoType;
enum : ProcInfoType {
  kSkyloomProcInfoStorage = 1,              // (storage)
  kSkyloomProcInfoStoragePtr = 2,           // (storage, pointer or instance)
  kSkyloomProcInfoStorageShort = 3,         // (storage, SInt16)
  kSkyloomProcInfoStoragePtrPtr = 4,        // (storage, pointer, pointer)
  kSkyloomProcInfoStoragePtrPtrLong = 5,    // (storage, pointer, pointer, SInt32)
  kSkyloomProcInfoStoragePtrShortLong = 6,  // (storage, pointer, OSErr, SInt32)
  // (storage, pointer, pointer, SInt16, UInt32, pointer)
  kSkyloomProcInfoStoragePtrPtrShortLongPtr = 7,
  // (storage, pointer, pointer, SInt16, pointer, pointer, pointer)
  kSkyloomProcInfoStoragePtrPtrShortPtrPtrPtr = 8,
  // (storage, pointer, pointer, SInt32, pointer, pointer)
  kSkyloomProcInfoStoragePtrPtrLongPtrPtr = 9,
};

struct ComponentDescription {
  OSType componentType;  // 0 matches any in searches
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};

extern "C" {
// 'grex' opens a graphics exporter of the subtype, 'grip' a graphics importer;
// any other type opens the registered component of that type and subtype.
OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci);
// Closes any instance; a dispatched one first gets its Close call.
OSErr CloseComponent(ComponentInstance ci);

void SetComponentInstanceStorage(ComponentInstance ci, Handle storage);
Handle GetComponentInstanceStorage(ComponentInstance ci);
// Calls the Target selector of ci with target.
ComponentResult ComponentSetTarget(ComponentInstance ci, ComponentInstance target);
ComponentResult CallComponentCanDo(ComponentInstance ci, SInt16 ftnNumber);
ComponentResult CallComponentVersion(ComponentInstance ci);
ComponentResult DelegateComponentCall(ComponentParameters* originalParams, ComponentInstance ci);
ComponentResult CallComponentFunctionWithStorageProcInfo(Handle storage, ComponentParameters* params, ProcPtr func,
                                                         ProcInfoType procInfo);
// A copy of the component's resource in a new handle, in host order.
// aComponent may be an instance of the component.
OSErr GetComponentResource(Component aComponent, OSType resType, SInt16 resID, Handle* theResource);

// Registers a dispatch routine as a component (searched before the bundles
// and the built-in ones, the latest first).
Component RegisterComponent(ComponentDescription* cd, ComponentRoutineUPP componentEntryPoint, SInt16 global,
                            Handle componentName, Handle componentInfo, Handle componentIcon);
OSErr UnregisterComponent(Component aComponent);
long CountComponents(ComponentDescription* looking);

// Sends one call to an instance: the route every packer ends in.
ComponentResult SkyloomCallComponent(ComponentInstance ci, ComponentParameters* params);
}

// Component instances alive now (tests check that every path closes its own).
long SkyloomLiveComponentCount();

// ---- Bundles ----
struct SkyloomComponentManifest {
  OSType type = 0;
  OSType subType = 0;
  OSType manufacturer = 0;
  std::string entry;
  std::string library;
  struct Resource {
    OSType type;
    SInt16 id;
    std::string file;
  };
  std::vector<Resource> resources;
};
// False when the text is not a complete manifest (type, subtype,
// manufacturer, entry and library are required).
bool SkyloomParseComponentManifest(std::string_view text, SkyloomComponentManifest* out);
// The bytes of a resource file's hex text; false when it is malformed.
bool SkyloomParseResourceText(std::string_view text, std::vector<UInt8>* out);
// The folders searched for bundles by a program at exePath, in order.
std::vector<std::string> SkyloomComponentBundlePlaces(const std::string& exePath);
// Tests choose the folders searched (empty: the places of this program);
// discovery runs again at the next request. Libraries already loaded stay.
void SkyloomSetComponentBundlePlaces(const std::vector<std::string>& places);
