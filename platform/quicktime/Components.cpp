#include "platform/quicktime/Components.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/GraphicsExport.h"
#include "platform/quicktime/GraphicsImport.h"
#include "platform/quicktime/ImageCodec.h"

extern "C" ComponentResult SkyloomBaseImageDecompressorDispatch(ComponentParameters* params, Handle storage);

struct ComponentRecord {
  ComponentDescription desc{};
  ComponentRoutineProcPtr entry = nullptr;
  std::string bundleDir;  // empty unless the component came from a bundle
  std::vector<SkyloomComponentManifest::Resource> resources;
  long openInstances = 0;
};

namespace {

std::atomic<long> gLiveComponents{0};

struct DispatchedInstance : ComponentInstanceRecord {
  ComponentRecord* component = nullptr;
  Handle storage = nullptr;
};

enum : OSErr { validInstancesExist = -2019 };

struct Registry {
  std::mutex lock;
  std::vector<ComponentRecord*> registered;  // by RegisterComponent, latest first
  std::vector<ComponentRecord*> bundles;     // of the current discovery, in order
  std::vector<ComponentRecord*> builtIns;
  // Every record ever made stays until it is unregistered: instances of a
  // bundle from an earlier discovery keep pointing at theirs.
  std::set<ComponentRecord*> records;
  std::set<ComponentInstanceRecord*> instances;
  bool discovered = false;
  std::vector<std::string> places;  // empty: this program's places
};

Registry& registry() {
  static Registry* r = [] {
    auto* reg = new Registry;
    auto* base = new ComponentRecord;
    base->desc = {decompressorComponentType, kBaseCodecType, FOUR_CHAR_CODE("appl"), 0, 0};
    base->entry = SkyloomBaseImageDecompressorDispatch;
    reg->builtIns.push_back(base);
    reg->records.insert(base);
    return reg;
  }();
  return *r;
}

bool isFolder(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string exePath() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "./program";
  exe[n] = '\0';
  return exe;
}

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

// Loads one bundle; null (and a line on standard error) when any part is missing.
ComponentRecord* loadBundle(const std::string& dir) {
  std::string text;
  SkyloomComponentManifest m;
  if (!readFile(dir + "/Component.manifest", &text) || !SkyloomParseComponentManifest(text, &m)) {
    std::fprintf(stderr, "SkyloomDiscoverComponents skipped %s: no complete Component.manifest\n", dir.c_str());
    return nullptr;
  }
  std::string lib = dir + "/" + m.library;
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    std::fprintf(stderr, "SkyloomDiscoverComponents skipped %s: %s\n", dir.c_str(), dlerror());
    return nullptr;
  }
  auto entry = reinterpret_cast<ComponentRoutineProcPtr>(dlsym(h, m.entry.c_str()));
  if (!entry) {
    std::fprintf(stderr, "SkyloomDiscoverComponents skipped %s: no entry %s\n", dir.c_str(), m.entry.c_str());
    dlclose(h);
    return nullptr;
  }
  // The library stays loaded for the life of the process: instances and the
  // routines they handed out may outlive any later discovery.
  auto* rec = new ComponentRecord;
  rec->desc = {m.type, m.subType, m.manufacturer, 0, 0};
  rec->entry = entry;
  rec->bundleDir = dir;
  rec->resources = m.resources;
  return rec;
}

// Runs discovery once per choice of places; the caller holds the lock.
void discoverLocked(Registry& r) {
  if (r.discovered) return;
  r.discovered = true;
  r.bundles.clear();
  std::vector<std::string> places = r.places.empty() ? SkyloomComponentBundlePlaces(exePath()) : r.places;
  for (const std::string& place : places) {
    DIR* d = opendir(place.c_str());
    if (!d) continue;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 10 && n.compare(n.size() - 10, 10, ".component") == 0 && isFolder(place + "/" + n))
        names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      if (ComponentRecord* rec = loadBundle(place + "/" + n)) {
        r.bundles.push_back(rec);
        r.records.insert(rec);
      }
    }
  }
}

bool matches(const ComponentDescription& want, const ComponentDescription& have) {
  return (want.componentType == 0 || want.componentType == have.componentType) &&
         (want.componentSubType == 0 || want.componentSubType == have.componentSubType) &&
         (want.componentManufacturer == 0 || want.componentManufacturer == have.componentManufacturer);
}

template <class F>
void forEachComponentLocked(Registry& r, F f) {
  for (auto* rec : r.registered)
    if (!f(rec)) return;
  for (auto* rec : r.bundles)
    if (!f(rec)) return;
  for (auto* rec : r.builtIns)
    if (!f(rec)) return;
}

DispatchedInstance* dispatched(ComponentInstance ci) { return dynamic_cast<DispatchedInstance*>(ci); }

template <class T>
long toSlot(T v) {
  if constexpr (std::is_pointer_v<T>)
    return long(reinterpret_cast<intptr_t>(v));
  else
    return long(v);
}

template <class... A>
ComponentResult callSelector(ComponentInstance ci, SInt16 what, A... args) {
  ComponentParameters p{};
  p.what = what;
  p.paramSize = UInt8(sizeof...(A) * sizeof(long));
  [[maybe_unused]] int i = 0;
  ((p.params[i++] = toSlot(args)), ...);
  return SkyloomCallComponent(ci, &p);
}

// The 'cdci' fields wider than a byte, by offset and width, for the turn
// from the resource's big-endian form to host order.
constexpr std::pair<int, int> kCodecInfoWords[] = {{32, 2}, {34, 2}, {36, 4}, {40, 4}, {44, 4}, {48, 4}, {54, 2},
                                                   {56, 2}, {60, 2}, {62, 2}, {64, 2}, {66, 2}, {68, 4}};

void bigEndianToHost(UInt8* p, int width) {
  UInt32 v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | p[i];
  if (width == 2) {
    UInt16 s = UInt16(v);
    std::memcpy(p, &s, 2);
  } else {
    std::memcpy(p, &v, 4);
  }
}

}  // namespace

ComponentInstanceRecord::ComponentInstanceRecord() { ++gLiveComponents; }
ComponentInstanceRecord::~ComponentInstanceRecord() { --gLiveComponents; }

long SkyloomLiveComponentCount() { return gLiveComponents.load(); }

// ---------------------------------------------------------------- bundles

bool SkyloomParseComponentManifest(std::string_view text, SkyloomComponentManifest* out) {
  SkyloomComponentManifest m;
  std::set<std::string> seen;
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
  };
  // A quoted four-character code at the start of s, which is advanced past it.
  auto code = [](std::string_view& s, OSType* c) {
    if (s.size() < 6 || s[0] != '\'' || s[5] != '\'') return false;
    *c = (OSType(UInt8(s[1])) << 24) | (OSType(UInt8(s[2])) << 16) | (OSType(UInt8(s[3])) << 8) | UInt8(s[4]);
    s.remove_prefix(6);
    return true;
  };
  auto plainName = [](std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
      if (c == '/' || c == ' ' || c == '\t' || UInt8(c) < 0x20) return false;
    return s != "." && s != "..";
  };
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    std::string key(trim(line.substr(0, colon)));
    std::string_view value = trim(line.substr(colon + 1));
    if (key != "resource" && !seen.insert(key).second) return false;
    if (key == "type" || key == "subtype" || key == "manufacturer") {
      OSType c;
      if (!code(value, &c) || !value.empty()) return false;
      (key == "type" ? m.type : key == "subtype" ? m.subType : m.manufacturer) = c;
    } else if (key == "entry" || key == "library") {
      if (!plainName(value)) return false;
      (key == "entry" ? m.entry : m.library) = std::string(value);
    } else if (key == "resource") {
      SkyloomComponentManifest::Resource res;
      if (!code(value, &res.type)) return false;
      value = trim(value);
      size_t i = 0;
      bool negative = i < value.size() && value[i] == '-';
      if (negative) ++i;
      long id = 0;
      size_t digits = 0;
      for (; i < value.size() && value[i] >= '0' && value[i] <= '9' && digits < 6; ++i, ++digits)
        id = id * 10 + (value[i] - '0');
      if (digits == 0 || (i < value.size() && value[i] != ' ' && value[i] != '\t')) return false;
      id = negative ? -id : id;
      if (id < -32768 || id > 32767) return false;
      value = trim(value.substr(i));
      if (!plainName(value)) return false;
      res.id = SInt16(id);
      res.file = std::string(value);
      for (const auto& r : m.resources)
        if (r.type == res.type && r.id == res.id) return false;
      m.resources.push_back(std::move(res));
    } else {
      return false;
    }
  }
  if (!seen.count("type") || !seen.count("subtype") || !seen.count("manufacturer") || !seen.count("entry") ||
      !seen.count("library"))
    return false;
  *out = std::move(m);
  return true;
}

bool SkyloomParseResourceText(std::string_view text, std::vector<UInt8>* out) {
  std::vector<UInt8> bytes;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
    } else {
      if (i + 1 >= text.size()) return false;
      int hi = hex(text[i]), lo = hex(text[i + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes.push_back(UInt8(hi * 16 + lo));
      i += 2;
    }
  }
  *out = std::move(bytes);
  return true;
}

std::vector<std::string> SkyloomComponentBundlePlaces(const std::string& exe) {
  std::vector<std::string> places;
  std::string dir = parentOf(exe);
  std::string d = dir;
  for (int up = 0; up < 5; ++up) {
    if (isFolder(d + "/components")) {
      places.push_back(d + "/components");
      break;
    }
    if (d == "/" || d == ".") break;
    d = parentOf(d);
  }
  std::string prefix = parentOf(dir);
  places.push_back((prefix == "/" ? std::string() : prefix) + "/lib/skyloom/components");
  return places;
}

void SkyloomSetComponentBundlePlaces(const std::vector<std::string>& places) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.places = places;
  r.discovered = false;
  r.bundles.clear();
}

// ---------------------------------------------------------------- instances

OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci) {
  if (!ci) return paramErr;
  *ci = nullptr;
  if (componentType == GraphicsExporterComponentType) return SkyloomOpenGraphicsExporter(componentSubType, ci);
  if (componentType == GraphicsImporterComponentType) return SkyloomOpenGraphicsImporter(componentSubType, ci);

  Registry& r = registry();
  auto* inst = new DispatchedInstance;
  {
    std::lock_guard<std::mutex> g(r.lock);
    discoverLocked(r);
    ComponentDescription want{componentType, componentSubType, 0, 0, 0};
    forEachComponentLocked(r, [&](ComponentRecord* rec) {
      if (!matches(want, rec->desc)) return true;
      inst->component = rec;
      return false;
    });
    if (!inst->component) {
      delete inst;
      return invalidComponentID;
    }
    ++inst->component->openInstances;
    r.instances.insert(inst);
  }
  inst->componentType = inst->component->desc.componentType;
  inst->componentSubType = inst->component->desc.componentSubType;
  ComponentResult err = callSelector(inst, kComponentOpenSelect, static_cast<ComponentInstance>(inst));
  if (err != noErr) {
    // A failed open is closed at once, so whatever it built is released.
    CloseComponent(inst);
    return OSErr(err);
  }
  *ci = inst;
  return noErr;
}

OSErr CloseComponent(ComponentInstance ci) {
  if (!ci) return badComponentInstance;
  Registry& r = registry();
  bool isDispatched;
  {
    std::lock_guard<std::mutex> g(r.lock);
    isDispatched = r.instances.erase(ci) != 0;
  }
  if (!isDispatched) {
    delete ci;
    return noErr;
  }
  auto* inst = static_cast<DispatchedInstance*>(ci);
  ComponentResult err = callSelector(ci, kComponentCloseSelect, ci);
  {
    std::lock_guard<std::mutex> g(r.lock);
    --inst->component->openInstances;
  }
  delete inst;
  return OSErr(err);
}

void SetComponentInstanceStorage(ComponentInstance ci, Handle storage) {
  if (DispatchedInstance* d = dispatched(ci)) d->storage = storage;
}

Handle GetComponentInstanceStorage(ComponentInstance ci) {
  DispatchedInstance* d = dispatched(ci);
  return d ? d->storage : nullptr;
}

ComponentResult SkyloomCallComponent(ComponentInstance ci, ComponentParameters* params) {
  if (!params) return paramErr;
  if (!ci) return badComponentInstance;
  DispatchedInstance* d = dispatched(ci);
  if (!d) return badComponentSelector;
  return d->component->entry(params, d->storage);
}

ComponentResult ComponentSetTarget(ComponentInstance ci, ComponentInstance target) {
  return callSelector(ci, kComponentTargetSelect, target);
}

ComponentResult CallComponentCanDo(ComponentInstance ci, SInt16 ftnNumber) {
  return callSelector(ci, kComponentCanDoSelect, ftnNumber);
}

ComponentResult CallComponentVersion(ComponentInstance ci) { return callSelector(ci, kComponentVersionSelect); }

ComponentResult DelegateComponentCall(ComponentParameters* originalParams, ComponentInstance ci) {
  return SkyloomCallComponent(ci, originalParams);
}

// The call goes through a pointer of the ProcInfo's shape, not the entry's
// declared type (its first argument is the component's own globals, its
// pointers typed as the component likes): the same registers either way.
// Clang's function-type check would call that a mismatch.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
ComponentResult CallComponentFunctionWithStorageProcInfo(Handle storage, ComponentParameters* params, ProcPtr func,
                                                         ProcInfoType procInfo) {
  if (!params || !func) return paramErr;
  static constexpr int kSlots[] = {0, 0, 1, 1, 2, 3, 3, 5, 6, 5};
  if (procInfo == 0 || procInfo >= std::size(kSlots) || params->paramSize < kSlots[procInfo] * sizeof(long))
    return paramErr;
  const long* s = params->params;
  auto ptr = [&](int i) { return reinterpret_cast<void*>(s[i]); };
  switch (procInfo) {
    case kSkyloomProcInfoStorage:
      return reinterpret_cast<ComponentResult (*)(Handle)>(func)(storage);
    case kSkyloomProcInfoStoragePtr:
      return reinterpret_cast<ComponentResult (*)(Handle, void*)>(func)(storage, ptr(0));
    case kSkyloomProcInfoStorageShort:
      return reinterpret_cast<ComponentResult (*)(Handle, SInt16)>(func)(storage, SInt16(s[0]));
    case kSkyloomProcInfoStoragePtrPtr:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, void*)>(func)(storage, ptr(0), ptr(1));
    case kSkyloomProcInfoStoragePtrPtrLong:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, void*, SInt32)>(func)(storage, ptr(0), ptr(1),
                                                                                      SInt32(s[2]));
    case kSkyloomProcInfoStoragePtrShortLong:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, OSErr, SInt32)>(func)(storage, ptr(0), OSErr(s[1]),
                                                                                      SInt32(s[2]));
    case kSkyloomProcInfoStoragePtrPtrShortLongPtr:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, void*, SInt16, UInt32, void*)>(func)(
          storage, ptr(0), ptr(1), SInt16(s[2]), UInt32(s[3]), ptr(4));
    case kSkyloomProcInfoStoragePtrPtrShortPtrPtrPtr:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, void*, SInt16, void*, void*, void*)>(func)(
          storage, ptr(0), ptr(1), SInt16(s[2]), ptr(3), ptr(4), ptr(5));
    case kSkyloomProcInfoStoragePtrPtrLongPtrPtr:
      return reinterpret_cast<ComponentResult (*)(Handle, void*, void*, SInt32, void*, void*)>(func)(
          storage, ptr(0), ptr(1), SInt32(s[2]), ptr(3), ptr(4));
    default:
      return paramErr;
  }
}

// ---------------------------------------------------------------- registry

OSErr GetComponentResource(Component aComponent, OSType resType, SInt16 resID, Handle* theResource) {
  if (!theResource) return paramErr;
  *theResource = nullptr;
  Registry& r = registry();
  std::string path;
  {
    std::lock_guard<std::mutex> g(r.lock);
    ComponentRecord* rec = nullptr;
    if (r.records.count(aComponent)) {
      rec = aComponent;
    } else {
      auto* asInstance = reinterpret_cast<ComponentInstanceRecord*>(aComponent);
      if (!r.instances.count(asInstance)) return badComponentInstance;
      rec = static_cast<DispatchedInstance*>(asInstance)->component;
    }
    for (const auto& res : rec->resources)
      if (res.type == resType && res.id == resID) path = rec->bundleDir + "/" + res.file;
  }
  std::string text;
  if (path.empty() || !readFile(path, &text)) return resNotFound;
  std::vector<UInt8> bytes;
  if (!SkyloomParseResourceText(text, &bytes)) return mapReadErr;
  if (resType == codecInfoResourceType) {
    if (bytes.size() != sizeof(CodecInfo)) return mapReadErr;
    for (auto [offset, width] : kCodecInfoWords) bigEndianToHost(bytes.data() + offset, width);
  }
  Handle h = NewHandle(Size(bytes.size()));
  if (!h) return MemError();
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  *theResource = h;
  return noErr;
}

Component RegisterComponent(ComponentDescription* cd, ComponentRoutineUPP componentEntryPoint, SInt16, Handle,
                            Handle, Handle) {
  if (!cd || !componentEntryPoint) return nullptr;
  auto* rec = new ComponentRecord;
  rec->desc = *cd;
  rec->entry = componentEntryPoint;
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.registered.insert(r.registered.begin(), rec);
  r.records.insert(rec);
  return rec;
}

OSErr UnregisterComponent(Component aComponent) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = std::find(r.registered.begin(), r.registered.end(), aComponent);
  if (it == r.registered.end()) return invalidComponentID;
  if (aComponent->openInstances > 0) return validInstancesExist;
  r.registered.erase(it);
  r.records.erase(aComponent);
  delete aComponent;
  return noErr;
}

long CountComponents(ComponentDescription* looking) {
  ComponentDescription any{};
  const ComponentDescription& want = looking ? *looking : any;
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  discoverLocked(r);
  long n = 0;
  forEachComponentLocked(r, [&](ComponentRecord* rec) {
    n += matches(want, rec->desc);
    return true;
  });
  return n;
}

// ---------------------------------------------------------------- packers

ComponentResult ImageCodecGetCodecInfo(ComponentInstance ci, CodecInfo* info) {
  return callSelector(ci, kImageCodecGetCodecInfoSelect, info);
}
ComponentResult ImageCodecGetCompressionTime(ComponentInstance ci, PixMapHandle src, const Rect* srcRect, SInt16 depth,
                                             CodecQ* spatialQuality, CodecQ* temporalQuality, UInt32* time) {
  return callSelector(ci, kImageCodecGetCompressionTimeSelect, src, srcRect, depth, spatialQuality, temporalQuality,
                      time);
}
ComponentResult ImageCodecGetMaxCompressionSize(ComponentInstance ci, PixMapHandle src, const Rect* srcRect,
                                                SInt16 depth, CodecQ quality, SInt32* size) {
  return callSelector(ci, kImageCodecGetMaxCompressionSizeSelect, src, srcRect, depth, quality, size);
}
ComponentResult ImageCodecPreCompress(ComponentInstance ci, CodecCompressParams* params) {
  return callSelector(ci, kImageCodecPreCompressSelect, params);
}
ComponentResult ImageCodecBandCompress(ComponentInstance ci, CodecCompressParams* params) {
  return callSelector(ci, kImageCodecBandCompressSelect, params);
}
ComponentResult ImageCodecGetCompressedImageSize(ComponentInstance ci, ImageDescriptionHandle desc, Ptr data,
                                                 SInt32 bufferSize, ICMDataProcRecordPtr dataProc, SInt32* dataSize) {
  return callSelector(ci, kImageCodecGetCompressedImageSizeSelect, desc, data, bufferSize, dataProc, dataSize);
}
ComponentResult ImageCodecPreflight(ComponentInstance ci, CodecDecompressParams* params) {
  return callSelector(ci, kImageCodecPreflightSelect, params);
}
ComponentResult ImageCodecInitialize(ComponentInstance ci, ImageSubCodecDecompressCapabilities* cap) {
  return callSelector(ci, kImageCodecInitializeSelect, cap);
}
ComponentResult ImageCodecBeginBand(ComponentInstance ci, CodecDecompressParams* params,
                                    ImageSubCodecDecompressRecord* drp, SInt32 flags) {
  return callSelector(ci, kImageCodecBeginBandSelect, params, drp, flags);
}
ComponentResult ImageCodecDrawBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp) {
  return callSelector(ci, kImageCodecDrawBandSelect, drp);
}
ComponentResult ImageCodecEndBand(ComponentInstance ci, ImageSubCodecDecompressRecord* drp, OSErr result,
                                  SInt32 flags) {
  return callSelector(ci, kImageCodecEndBandSelect, drp, result, flags);
}
ComponentResult ImageCodecQueueStarting(ComponentInstance ci) {
  return callSelector(ci, kImageCodecQueueStartingSelect);
}
ComponentResult ImageCodecQueueStopping(ComponentInstance ci) {
  return callSelector(ci, kImageCodecQueueStoppingSelect);
}
ComponentResult ComponentGetMPWorkFunction(ComponentInstance ci, ComponentMPWorkFunctionUPP* workFunction,
                                           void** refCon) {
  return callSelector(ci, kComponentGetMPWorkFunctionSelect, workFunction, refCon);
}
ComponentResult ImageCodecGetBaseMPWorkFunction(ComponentInstance ci, ComponentMPWorkFunctionUPP* workFunction,
                                                void** refCon, ImageCodecMPDrawBandUPP drawProc,
                                                void* drawProcRefCon) {
  return callSelector(ci, kImageCodecGetBaseMPWorkFunctionSelect, workFunction, refCon,
                      reinterpret_cast<void*>(drawProc), drawProcRefCon);
}

// A program that loads plug-ins exports this layer; naming the Memory Manager
// and Gestalt calls a component makes here links them in beside it.
extern "C" const void* const SkyloomComponentHostCalls[] = {
    reinterpret_cast<const void*>(&NewHandle),   reinterpret_cast<const void*>(&NewHandleClear),
    reinterpret_cast<const void*>(&DisposeHandle), reinterpret_cast<const void*>(&GetHandleSize),
    reinterpret_cast<const void*>(&MemError),    reinterpret_cast<const void*>(&NewPtr),
    reinterpret_cast<const void*>(&NewPtrClear), reinterpret_cast<const void*>(&DisposePtr),
    reinterpret_cast<const void*>(&Gestalt),     reinterpret_cast<const void*>(&BlockMoveData),
    reinterpret_cast<const void*>(&FixDiv),
};
