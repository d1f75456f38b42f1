#include "platform/appleevents/AEDataModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/appleevents/AEInternal.h"

void AEInitializeDesc(AEDesc* desc) {
  if (desc == nullptr) return;
  desc->descriptorType = typeNull;
  desc->dataHandle = nullptr;
}

OSErr AEDisposeDesc(AEDesc* desc) {
  if (desc == nullptr) return paramErr;
  delete desc->dataHandle;
  AEInitializeDesc(desc);
  return noErr;
}

OSErr AECountItems(const AEDescList* list, long* count) {
  if (list == nullptr || count == nullptr) return paramErr;
  if (list->descriptorType != typeAEList || list->dataHandle == nullptr) return errAEWrongDataType;
  *count = long(list->dataHandle->paths.size());
  return noErr;
}

OSErr AEGetNthPtr(const AEDescList* list, long index, DescType desiredType, AEKeyword* keyword, DescType* typeCode,
                  void* dataPtr, Size maximumSize, Size* actualSize) {
  if (list == nullptr || maximumSize < 0 || (dataPtr == nullptr && maximumSize > 0)) return paramErr;
  if (list->descriptorType != typeAEList || list->dataHandle == nullptr) return errAEWrongDataType;
  const auto& paths = list->dataHandle->paths;
  if (index < 1 || size_t(index) > paths.size()) return errAEIllegalIndex;
  if (desiredType == typeWildCard) desiredType = typeFSRef;
  if (desiredType != typeFSRef && desiredType != typeFSS) return errAECoercionFail;

  FSRef ref;
  OSErr err = OSErr(FSPathMakeRef(reinterpret_cast<const UInt8*>(paths[size_t(index - 1)].c_str()), &ref, nullptr));
  if (err != noErr) return err;
  FSSpec location;
  const void* record = &ref;
  Size size = sizeof ref;
  if (desiredType == typeFSS) {
    err = FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &location, nullptr);
    if (err != noErr) return err;
    record = &location;
    size = sizeof location;
  }
  if (maximumSize > 0) memcpy(dataPtr, record, size_t(std::min(size, maximumSize)));
  if (keyword) *keyword = keyDirectObject;
  if (typeCode) *typeCode = desiredType;
  if (actualSize) *actualSize = size;
  return noErr;
}

OSErr SkyloomAECreateFileList(const std::vector<std::string>& paths, AEDescList* list) {
  if (list == nullptr) return paramErr;
  list->descriptorType = typeAEList;
  list->dataHandle = new SkyloomAEData{};
  list->dataHandle->paths = paths;
  return noErr;
}

// ---- Apple events ----

OSErr AECreateAppleEvent(AEEventClass eventClass, AEEventID eventID, const AEAddressDesc*, AEReturnID,
                         AETransactionID, AppleEvent* result) {
  if (result == nullptr) return paramErr;
  result->descriptorType = typeAppleEvent;
  result->dataHandle = new SkyloomAEData{};
  result->dataHandle->eventClass = eventClass;
  result->dataHandle->eventID = eventID;
  return noErr;
}

namespace {

bool isEvent(const AppleEvent* e) {
  return e != nullptr && e->descriptorType == typeAppleEvent && e->dataHandle != nullptr;
}

// The value of an integer-like parameter, when it has one.
bool integerValue(const SkyloomAEParam& p, SInt64* out) {
  const auto& b = p.bytes;
  auto load = [&](auto v) {
    if (b.size() != sizeof v) return false;
    memcpy(&v, b.data(), sizeof v);
    *out = SInt64(v);
    return true;
  };
  switch (p.type) {
    case typeSInt16: return load(SInt16{});
    case typeSInt32: return load(SInt32{});
    case typeUInt32: return load(UInt32{});
    case typeSInt64: return load(SInt64{});
    case typeBoolean: return load(UInt8{});
    case typeTrue: *out = 1; return true;
    case typeFalse: *out = 0; return true;
    case typeChar: {
      std::string text(b.begin(), b.end());
      if (text.empty() || text.size() > 32) return false;
      errno = 0;
      char* end = nullptr;
      long long v = strtoll(text.c_str(), &end, 10);
      if (errno != 0 || end == text.c_str() || *end != '\0') return false;
      *out = SInt64(v);
      return true;
    }
    default: return false;
  }
}

// The value as bytes of an integer type; false when it does not fit.
template <typename T>
bool store(SInt64 v, std::vector<UInt8>* bytes) {
  if (v < SInt64(std::numeric_limits<T>::min()) || (v > 0 && UInt64(v) > UInt64(std::numeric_limits<T>::max())))
    return false;
  T t = T(v);
  bytes->resize(sizeof t);
  memcpy(bytes->data(), &t, sizeof t);
  return true;
}

OSErr coerce(const SkyloomAEParam& p, DescType desired, std::vector<UInt8>* bytes) {
  if (desired == typeWildCard || desired == p.type) {
    *bytes = p.bytes;
    return noErr;
  }
  SInt64 v = 0;
  if (!integerValue(p, &v)) return errAECoercionFail;
  bool fits = false;
  switch (desired) {
    case typeSInt16: fits = store<SInt16>(v, bytes); break;
    case typeSInt32: fits = store<SInt32>(v, bytes); break;
    case typeUInt32: fits = store<UInt32>(v, bytes); break;
    case typeSInt64: fits = store<SInt64>(v, bytes); break;
    case typeBoolean: fits = (v == 0 || v == 1) && store<UInt8>(v, bytes); break;
    default: break;
  }
  return fits ? OSErr(noErr) : OSErr(errAECoercionFail);
}

}  // namespace

OSErr AEPutParamPtr(AppleEvent* event, AEKeyword keyword, DescType typeCode, const void* dataPtr, Size dataSize) {
  if (event == nullptr || dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) return paramErr;
  if (!isEvent(event)) return errAENotAEDesc;
  const auto* p = static_cast<const UInt8*>(dataPtr);
  SkyloomAEParam param{keyword, typeCode, std::vector<UInt8>(p, p + dataSize)};
  auto& params = event->dataHandle->params;
  auto it = std::find_if(params.begin(), params.end(), [&](const SkyloomAEParam& q) { return q.keyword == keyword; });
  if (it != params.end())
    *it = std::move(param);
  else
    params.push_back(std::move(param));
  return noErr;
}

OSErr AEGetParamPtr(const AppleEvent* event, AEKeyword keyword, DescType desiredType, DescType* actualType,
                    void* dataPtr, Size maximumSize, Size* actualSize) {
  if (event == nullptr || maximumSize < 0 || (dataPtr == nullptr && maximumSize > 0)) return paramErr;
  if (!isEvent(event)) return errAENotAEDesc;
  const auto& params = event->dataHandle->params;
  auto it = std::find_if(params.begin(), params.end(), [&](const SkyloomAEParam& q) { return q.keyword == keyword; });
  if (it == params.end()) return errAEDescNotFound;
  std::vector<UInt8> bytes;
  if (OSErr err = coerce(*it, desiredType, &bytes)) return err;
  if (maximumSize > 0 && !bytes.empty()) memcpy(dataPtr, bytes.data(), std::min(bytes.size(), size_t(maximumSize)));
  if (actualType) *actualType = desiredType == typeWildCard ? it->type : desiredType;
  if (actualSize) *actualSize = Size(bytes.size());
  return noErr;
}

OSErr AEGetAttributePtr(const AppleEvent* event, AEKeyword keyword, DescType desiredType, DescType* typeCode,
                        void* dataPtr, Size maximumSize, Size* actualSize) {
  if (event == nullptr || maximumSize < 0 || (dataPtr == nullptr && maximumSize > 0)) return paramErr;
  if (!isEvent(event)) return errAENotAEDesc;
  FourCharCode value;
  if (keyword == keyEventClassAttr)
    value = event->dataHandle->eventClass;
  else if (keyword == keyEventIDAttr)
    value = event->dataHandle->eventID;
  else
    return errAEDescNotFound;
  if (desiredType != typeType && desiredType != typeWildCard) return errAECoercionFail;
  if (maximumSize > 0) memcpy(dataPtr, &value, std::min(sizeof value, size_t(maximumSize)));
  if (typeCode) *typeCode = typeType;
  if (actualSize) *actualSize = Size(sizeof value);
  return noErr;
}
