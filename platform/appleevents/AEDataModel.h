// Apple Event Manager descriptors: plain descriptors, lists of file-system
// items (what a file dialog's reply carries, read back by index as FSRef or
// FSSpec records), and Apple events with their typed parameters.
//
// A descriptor owns its data handle; AEDisposeDesc frees it. A descriptor
// whose data handle is null holds nothing: an event's reply is such a
// descriptor when the sender asked for no reply.
#pragma once
#include <string>
#include <vector>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

typedef FourCharCode DescType;
typedef FourCharCode AEKeyword;
typedef FourCharCode AEEventClass;
typedef FourCharCode AEEventID;
typedef SInt16 AEReturnID;
typedef SInt32 AETransactionID;
typedef struct SkyloomAEData* AEDataStorage;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
typedef AEDesc AEDescList;
typedef AEDesc* AEDescPtr;
typedef AEDesc AERecord;
typedef AEDesc AEAddressDesc;
typedef AEDesc AppleEvent;
typedef AppleEvent* AppleEventPtr;

enum : DescType {
  typeNull = FOUR_CHAR_CODE("null"),
  typeAEList = FOUR_CHAR_CODE("list"),
  typeAERecord = FOUR_CHAR_CODE("reco"),
  typeAppleEvent = FOUR_CHAR_CODE("aevt"),
  typeWildCard = FOUR_CHAR_CODE("****"),
  typeFSRef = FOUR_CHAR_CODE("fsrf"),
  typeFSS = FOUR_CHAR_CODE("fss "),
  typeBoolean = FOUR_CHAR_CODE("bool"),
  typeTrue = FOUR_CHAR_CODE("true"),
  typeFalse = FOUR_CHAR_CODE("fals"),
  typeSInt16 = FOUR_CHAR_CODE("shor"),
  typeSInt32 = FOUR_CHAR_CODE("long"),
  typeUInt32 = FOUR_CHAR_CODE("magn"),
  typeSInt64 = FOUR_CHAR_CODE("comp"),
  typeChar = FOUR_CHAR_CODE("TEXT"),
  typeType = FOUR_CHAR_CODE("type"),
  typeProcessSerialNumber = FOUR_CHAR_CODE("psn "),
  typeShortInteger = typeSInt16,
  typeLongInteger = typeSInt32,
  typeInteger = typeSInt32,
  typeMagnitude = typeUInt32,
};

enum : AEKeyword {
  keyDirectObject = FOUR_CHAR_CODE("----"),
  keyErrorNumber = FOUR_CHAR_CODE("errn"),
  keyEventClassAttr = FOUR_CHAR_CODE("evcl"),
  keyEventIDAttr = FOUR_CHAR_CODE("evid"),
};

enum : AEReturnID { kAutoGenerateReturnID = -1 };
enum : AETransactionID { kAnyTransactionID = 0 };

enum : OSErr {
  errAECoercionFail = -1700,
  errAEDescNotFound = -1701,
  errAEWrongDataType = -1703,
  errAENotAEDesc = -1704,
  errAEEventNotHandled = -1708,
  errAEHandlerNotFound = -1717,
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

// ---- Apple events and their parameters ----
// A new event of that class and id, with no parameters. The target is not
// used: every event is delivered in this process (AESend).
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc* target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent* result);
// Stores (or replaces) the parameter under keyword, as dataSize bytes of
// typeCode. Works on an event or a reply; errAENotAEDesc when the descriptor
// has no data handle (a reply nobody waits for) or is no event.
OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode, const void* dataPtr,
                    Size dataSize);
// Reads the parameter as desiredType: copies at most maximumSize bytes and
// gives the type and the full size of the data in that type. '****' reads
// the stored type as it is. Coercions: between the integer types ('shor',
// 'long', 'magn', 'comp') and 'bool' when the value fits, 'true'/'fals' to
// the others, and 'TEXT' holding a decimal integer to them; otherwise
// errAECoercionFail. errAEDescNotFound when the parameter is missing.
OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* actualType, void* dataPtr, Size maximumSize, Size* actualSize);
// The event's class (keyEventClassAttr) or id (keyEventIDAttr), of typeType.
OSErr AEGetAttributePtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize);
