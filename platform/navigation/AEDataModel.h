// Apple Event Manager descriptors, as far as file dialogs need them: a reply's
// selection is a descriptor list of file-system items, read back by index as
// FSRef or FSSpec records.
#pragma once
#include <string>
#include <vector>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;
typedef struct SkyloomAEData* AEDataStorage;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
typedef AEDesc AEDescList;
typedef AEDesc* AEDescPtr;

enum : DescType {
  typeNull = FOUR_CHAR_CODE("null"),
  typeAEList = FOUR_CHAR_CODE("list"),
  typeFSRef = FOUR_CHAR_CODE("fsrf"),
  typeFSS = FOUR_CHAR_CODE("fss "),
};

enum : OSErr {
  errAECoercionFail = -1700,
  errAEDescNotFound = -1701,
  errAEWrongDataType = -1703,
  errAEIllegalIndex = -1719,
};

// An empty descriptor (typeNull).
void AEInitializeDesc(AEDesc* desc);
OSErr AEDisposeDesc(AEDesc* desc);
OSErr AECountItems(const AEDescList* list, long* count);
// Item index (1 = first) as desiredType: typeFSRef, typeFSS, or '****' (the
// item's own type, typeFSRef).
// At most maximumSize bytes are copied; *actualSize is the record's full size.
// The item must still exist (it is looked up now); the File Manager's status
// otherwise.
OSErr AEGetNthPtr(const AEDescList* list, long index, DescType desiredType, AEKeyword* keyword, DescType* typeCode,
                  void* dataPtr, Size maximumSize, Size* actualSize);

// A list of file-system items by absolute path (what a file dialog hands back).
OSErr SkyloomAECreateFileList(const std::vector<std::string>& paths, AEDescList* list);
