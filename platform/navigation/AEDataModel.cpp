#include "platform/navigation/AEDataModel.h"

#include <algorithm>
#include <cstring>

struct SkyloomAEData {
  std::vector<std::string> paths;
};

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
  if (desiredType == FOUR_CHAR_CODE("****")) desiredType = typeFSRef;
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
  if (keyword) *keyword = FOUR_CHAR_CODE("----");
  if (typeCode) *typeCode = desiredType;
  if (actualSize) *actualSize = size;
  return noErr;
}

OSErr SkyloomAECreateFileList(const std::vector<std::string>& paths, AEDescList* list) {
  if (list == nullptr) return paramErr;
  list->descriptorType = typeAEList;
  list->dataHandle = new SkyloomAEData{paths};
  return noErr;
}
