#include "platform/quicktime/DataReferences.h"

#include <cstring>
#include <vector>

#include "platform/coreservices/CoreServices.h"

namespace {
OSErr handleFromPath(const std::string& path, Handle* out, OSType* type) {
  if (!out) return paramErr;
  *out = nullptr;
  Handle h = nullptr;
  OSErr err = PtrToHand(path.c_str(), &h, long(path.size() + 1));
  if (err != noErr) return err;
  *out = h;
  if (type) *type = AliasDataHandlerSubType;
  return noErr;
}
}  // namespace

OSErr QTNewDataReferenceFromFSRef(const FSRef* fileRef, UInt32, Handle* outDataRef, OSType* outDataRefType) {
  if (!fileRef || !outDataRef) return paramErr;
  std::vector<UInt8> path(4096);
  OSStatus err = FSRefMakePath(fileRef, path.data(), UInt32(path.size()));
  if (err != noErr) return OSErr(err);
  return handleFromPath(reinterpret_cast<const char*>(path.data()), outDataRef, outDataRefType);
}

OSErr QTNewDataReferenceFromFSRefCFString(const FSRef* directoryRef, const char* utf8Name, UInt32,
                                          Handle* outDataRef, OSType* outDataRefType) {
  if (!directoryRef || !utf8Name || !*utf8Name || std::strchr(utf8Name, '/') || !outDataRef) return paramErr;
  std::vector<UInt8> path(4096);
  OSStatus err = FSRefMakePath(directoryRef, path.data(), UInt32(path.size()));
  if (err != noErr) return OSErr(err);
  std::string p = reinterpret_cast<const char*>(path.data());
  if (p.empty() || p.back() != '/') p += '/';
  return handleFromPath(p + utf8Name, outDataRef, outDataRefType);
}

std::string SkyloomDataReferencePath(Handle dataRef, OSType dataRefType) {
  if (!dataRef || dataRefType != AliasDataHandlerSubType) return {};
  Size n = GetHandleSize(dataRef);
  if (n <= 1 || (*dataRef)[n - 1] != '\0') return {};
  return std::string(*dataRef);
}

std::string SkyloomFSSpecPath(const FSSpec* location) {
  if (!location) return {};
  std::vector<UInt8> path(4096);
  FSRef ref;
  if (FSpMakeFSRef(location, &ref) == noErr && FSRefMakePath(&ref, path.data(), UInt32(path.size())) == noErr)
    return reinterpret_cast<const char*>(path.data());
  // A file still to be made: its folder exists, the name is taken as it is.
  FSSpec folder{};
  FSRef parent;
  Str63 empty = {0};
  if (FSMakeFSSpec(location->vRefNum, location->parID, empty, &folder) != noErr) return {};
  if (FSpMakeFSRef(&folder, &parent) != noErr) return {};
  if (FSRefMakePath(&parent, path.data(), UInt32(path.size())) != noErr) return {};
  std::string p = reinterpret_cast<const char*>(path.data());
  if (p.empty() || p.back() != '/') p += '/';
  p.append(reinterpret_cast<const char*>(location->name + 1), location->name[0]);
  return p;
}
