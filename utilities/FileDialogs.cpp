#include "utilities/FileDialogs.h"

#include <cstring>
#include <vector>

#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Threads.h"

namespace {

constexpr UInt32 kPathBytes = 1024;
constexpr CFIndex kMaxNameUnits = 255;
// The hint for names turned into references: Unicode.
constexpr TextEncoding kNameEncodingHint = 0x100;
// Folder dialogs of the FSSpec form: no type pop-up, no automatic translation,
// no translation items, start at the default location.
constexpr NavDialogOptionFlags kFSLocationFolderFlags =
    kNavNoTypePopup | kNavDontAutoTranslate | kNavDontAddTranslateItems | kNavSelectDefaultLocation;

// The callback's answer before the user acts: neither a choice (0) nor the
// user's Cancel (-128), so a run that ends on an error reports that error.
constexpr OSStatus kNoAnswer = 1;

void SetOptions(NavDialogCreationOptions* o, WindowRef parent, CFStringRef message, NavDialogOptionFlags flags,
                UInt32 preferenceKey) {
  NavGetDefaultDialogCreationOptions(o);
  o->optionFlags |= flags;
  o->message = message;
  o->preferenceKey = preferenceKey;
  o->modality = kWindowModalityAppModal;
  o->parentWindow = parent;
}

// Runs the dialog: its error, unless the user's Cancel came first.
OSStatus Run(NavDialogRef dialog, const OSStatus& answer) {
  const OSStatus err = NavDialogRun(dialog);
  return answer == userCanceledErr ? OSStatus(userCanceledErr) : err;
}

std::vector<UniChar> Units(CFStringRef s) {
  const CFIndex n = CFStringGetLength(s);
  std::vector<UniChar> u(static_cast<size_t>(n));
  if (n > 0) CFStringGetCharacters(s, CFRangeMake(0, n), u.data());
  return u;
}

// Runs a choose-file dialog and fetches up to maxCount items.
OSStatus ChooseFiles(WindowRef parent, CFStringRef message, UInt32 maxCount, FSRef* items, UInt32* count,
                     OSType signature, SInt32 typeCount, const OSType* types, NavDialogOptionFlags flags,
                     UInt32 preferenceKey) {
  NavTypeListHandle typeList = myNewOpenHandle(signature, typeCount, types);
  if (typeList == nullptr) return typeCount < 1 ? -1 : memFullErr;
  NavEventUPP upp = NewNavEventUPP(myNavEventCallBackWithWindowProc);
  if (upp == nullptr) {
    DisposeHandle(reinterpret_cast<Handle>(typeList));
    return memFullErr;
  }
  NavDialogCreationOptions options;
  SetOptions(&options, parent, message, flags, preferenceKey);
  OSStatus answer = kNoAnswer;
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateChooseFileDialog(&options, typeList, upp, nullptr, nullptr, &answer, &dialog);
  if (err == noErr) {
    err = Run(dialog, answer);
    if (err == noErr) err = myVerifyNavDialogResponseFSRefs(dialog, maxCount, items, count);
  }
  if (dialog) NavDialogDispose(dialog);
  DisposeHandle(reinterpret_cast<Handle>(typeList));
  DisposeNavEventUPP(upp);
  return err;
}

}  // namespace

NavTypeListHandle myNewOpenHandle(OSType signature, SInt32 count, const OSType* types) {
  if (count < 1 || count > 0x7FFF || types == nullptr) return nullptr;
  Handle h = NewHandle(Size(12 + 4 * count));
  if (h == nullptr) return nullptr;
  NavTypeList* list = reinterpret_cast<NavTypeList*>(*h);
  list->componentSignature = signature;
  list->reserved = 0;
  list->osTypeCount = SInt16(count);
  memcpy(list->osType, types, size_t(count) * sizeof(OSType));
  return reinterpret_cast<NavTypeListHandle>(h);
}

void myNavEventCallBackWithWindowProc(NavEventCallbackMessage callBackSelector, NavCBRecPtr callBackParms,
                                      void* callBackUD) {
  if (callBackSelector != kNavCBUserAction || callBackParms == nullptr || callBackUD == nullptr) return;
  OSStatus* result = static_cast<OSStatus*>(callBackUD);
  switch (callBackParms->userAction) {
    case kNavUserActionCancel:
      *result = userCanceledErr;
      break;
    case kNavUserActionOpen:
    case kNavUserActionSaveAs:
    case kNavUserActionChoose:
      *result = noErr;
      break;
    default:
      break;
  }
}

OSStatus myVerifySingleNavDialogResponseFSSPec(NavDialogRef dialog, FSSpec* folder) {
  if (NavDialogGetUserAction(dialog) != kNavUserActionChoose) return userCanceledErr;
  NavReplyRecord reply;
  OSStatus err = NavDialogGetReply(dialog, &reply);
  if (err != noErr) return err;
  if (!reply.validRecord) {
    err = userCanceledErr;
  } else {
    FSSpec item;
    err = AEGetNthPtr(&reply.selection, 1, typeFSS, nullptr, nullptr, &item, sizeof item, nullptr);
    FSRef ref;
    if (err == noErr) err = FSpMakeFSRef(&item, &ref);
    FSCatalogInfo info;
    if (err == noErr) err = FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr);
    // The folder itself, by its own directory id.
    FSSpec chosen;
    if (err == noErr) err = FSMakeFSSpec(info.volume, SInt32(info.nodeID), nullptr, &chosen);
    if (err == noErr && folder != nullptr) *folder = chosen;
  }
  NavDisposeReply(&reply);
  return err;
}

OSStatus myVerifyNavDialogResponseFSRefs(NavDialogRef dialog, UInt32 maxCount, FSRef* items, UInt32* count) {
  if (NavDialogGetUserAction(dialog) != kNavUserActionChoose) return userCanceledErr;
  NavReplyRecord reply;
  OSStatus err = NavDialogGetReply(dialog, &reply);
  if (err != noErr) return err;
  long available = 0;
  if (!reply.validRecord) err = userCanceledErr;
  else err = AECountItems(&reply.selection, &available);
  if (err == noErr) {
    UInt32 got = 0;
    OSStatus fetch = available > 0 ? noErr : OSStatus(userCanceledErr);
    while (got < maxCount && long(got) < available) {
      FSRef ref;
      fetch = AEGetNthPtr(&reply.selection, long(got) + 1, typeFSRef, nullptr, nullptr, &ref, sizeof ref, nullptr);
      if (fetch != noErr) break;
      if (items != nullptr) items[got] = ref;
      ++got;
    }
    // Nothing at all to hand back is no success.
    if (got == 0 && maxCount > 0) err = fetch;
    else if (count != nullptr) *count = got;
  }
  NavDisposeReply(&reply);
  return err;
}

OSStatus myUseNavServSelectLocationFSSpec(FSSpec* folder, UInt32 preferenceKey) {
  NavEventUPP upp = NewNavEventUPP(myNavEventCallBackWithWindowProc);
  if (upp == nullptr) return memFullErr;
  NavDialogCreationOptions options;
  SetOptions(&options, nullptr, nullptr, kFSLocationFolderFlags, preferenceKey);
  OSStatus answer = kNoAnswer;
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateChooseFolderDialog(&options, upp, nullptr, &answer, &dialog);
  if (err == noErr) {
    err = Run(dialog, answer);
    if (err == noErr) err = myVerifySingleNavDialogResponseFSSPec(dialog, folder);
  }
  if (dialog) NavDialogDispose(dialog);
  DisposeNavEventUPP(upp);
  return err;
}

OSStatus myUseNavServSelectLocationFSRef(FSRef* folder, NavDialogOptionFlags optionFlags, UInt32 preferenceKey) {
  NavEventUPP upp = NewNavEventUPP(myNavEventCallBackWithWindowProc);
  if (upp == nullptr) return memFullErr;
  NavDialogCreationOptions options;
  SetOptions(&options, nullptr, nullptr, optionFlags, preferenceKey);
  OSStatus answer = kNoAnswer;
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreateChooseFolderDialog(&options, upp, nullptr, &answer, &dialog);
  if (err == noErr) {
    err = Run(dialog, answer);
    UInt32 count = 0;
    if (err == noErr) err = myVerifyNavDialogResponseFSRefs(dialog, 1, folder, &count);
  }
  if (dialog) NavDialogDispose(dialog);
  DisposeNavEventUPP(upp);
  return err;
}

OSStatus myGetFSRefForReading(WindowRef parent, CFStringRef message, FSRef* file, OSType signature, SInt32 typeCount,
                              const OSType* types, NavDialogOptionFlags optionFlags, UInt32 preferenceKey) {
  UInt32 count = 0;
  return ChooseFiles(parent, message, 1, file, &count, signature, typeCount, types, optionFlags, preferenceKey);
}

OSStatus myGetMultipleFSRefForReading(WindowRef parent, CFStringRef message, UInt32 maxCount, FSRef* items,
                                      UInt32* count, OSType signature, SInt32 typeCount, const OSType* types,
                                      NavDialogOptionFlags optionFlags, UInt32 preferenceKey) {
  if (maxCount == 0 || items == nullptr) return -1;
  return ChooseFiles(parent, message, maxCount, items, count, signature, typeCount, types, optionFlags,
                     preferenceKey);
}

namespace {

// The save dialog up to a valid answer: runs it, and when the user saved
// with a name of the right length in a chosen folder, hands both to
// onChosen, whose status is the result. userCanceledErr when cancelled.
template <typename OnChosen>
OSStatus RunPutFileDialog(WindowRef parent, CFStringRef message, CFStringRef defaultName, OSType creator,
                          OSType type, NavDialogOptionFlags optionFlags, UInt32 preferenceKey, OnChosen onChosen) {
  NavEventUPP upp = NewNavEventUPP(myNavEventCallBackWithWindowProc);
  if (upp == nullptr) return memFullErr;
  NavDialogCreationOptions options;
  SetOptions(&options, parent, message, optionFlags, preferenceKey);
  options.saveFileName = defaultName;
  OSStatus answer = kNoAnswer;
  NavDialogRef dialog = nullptr;
  OSStatus err = NavCreatePutFileDialog(&options, type, creator, upp, &answer, &dialog);
  if (err == noErr) err = Run(dialog, answer);
  if (err == noErr) {
    const NavUserAction action = NavDialogGetUserAction(dialog);
    if (action != kNavUserActionSaveAs && action != kNavUserActionSaveChanges) err = userCanceledErr;
  }
  if (err == noErr) {
    NavReplyRecord reply;
    err = NavDialogGetReply(dialog, &reply);
    if (err == noErr) {
      FSRef folder;
      long items = 0;
      if (!reply.validRecord || AECountItems(&reply.selection, &items) != noErr || items < 1 ||
          AEGetNthPtr(&reply.selection, 1, typeFSRef, nullptr, nullptr, &folder, sizeof folder, nullptr) != noErr) {
        err = userCanceledErr;
      } else if (reply.saveFileName == nullptr || CFStringGetLength(reply.saveFileName) == 0) {
        err = memFullErr;
      } else if (CFStringGetLength(reply.saveFileName) > kMaxNameUnits) {
        err = bdNamErr;
      } else {
        err = onChosen(reply, folder);
      }
      NavDisposeReply(&reply);
    }
  }
  if (dialog) NavDialogDispose(dialog);
  DisposeNavEventUPP(upp);
  return err;
}

}  // namespace

OSStatus myNavServSaveFileFSRef(WindowRef parent, CFStringRef message, CFStringRef defaultName, FSRef* file,
                                OSType creator, OSType type, NavDialogOptionFlags optionFlags, UInt32 preferenceKey) {
  return RunPutFileDialog(parent, message, defaultName, creator, type, optionFlags, preferenceKey,
                          [&](NavReplyRecord& reply, const FSRef& folder) {
                            const std::vector<UniChar> name = Units(reply.saveFileName);
                            OSStatus err = noErr;
                            if (reply.replacing) {
                              FSRef existing;
                              err = FSMakeFSRefUnicode(&folder, name.size(), name.data(), kNameEncodingHint,
                                                       &existing);
                              if (err == noErr) err = FSDeleteObject(&existing);
                            }
                            FSRef created;
                            if (err == noErr)
                              err = FSCreateFileUnicode(&folder, name.size(), name.data(), kFSCatInfoNone, nullptr,
                                                        &created, nullptr);
                            if (err == noErr) {
                              if (file != nullptr) *file = created;
                              err = NavCompleteSave(&reply, kNavTranslateInPlace);
                            }
                            return err;
                          });
}

CFStringRef myFSRefGetCFStringName(const FSRef* ref) {
  HFSUniStr255 name;
  if (ref == nullptr || FSGetCatalogInfo(ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr) != noErr) return nullptr;
  return CFStringCreateWithCharacters(kCFAllocatorDefault, name.unicode, name.length);
}

OSErr myAppendFileNameToFolderPath(const FSRef* folder, CFStringRef name, UInt8 replace, FSRef* file) {
  if (name == nullptr || CFStringGetLength(name) == 0) return -1;
  if (CFStringGetLength(name) > kMaxNameUnits) return bdNamErr;
  const std::vector<UniChar> units = Units(name);
  OSErr err = FSCreateFileUnicode(folder, units.size(), units.data(), kFSCatInfoNone, nullptr, file, nullptr);
  if (err == dupFNErr && replace == 1) {
    FSRef existing;
    err = FSMakeFSRefUnicode(folder, units.size(), units.data(), kNameEncodingHint, &existing);
    if (err == noErr) err = FSDeleteObject(&existing);
    if (err == noErr) err = FSCreateFileUnicode(folder, units.size(), units.data(), kFSCatInfoNone, nullptr, file, nullptr);
  }
  return err;
}

void mySortFSRefArray(FSRef* items, UInt32 count) {
  if (items == nullptr || count < 2) return;
  bool swapped = true;
  while (swapped) {
    swapped = false;
    YieldToAnyThread();
    for (UInt32 i = 0; i + 1 < count; ++i) {
      CFStringRef left = myFSRefGetCFStringName(&items[i]);
      CFStringRef right = myFSRefGetCFStringName(&items[i + 1]);
      if (left != nullptr && right != nullptr &&
          CFStringCompare(left, right, kCFCompareCaseInsensitive) == kCFCompareGreaterThan) {
        const FSRef t = items[i];
        items[i] = items[i + 1];
        items[i + 1] = t;
        swapped = true;
      }
      if (left) CFRelease(left);
      if (right) CFRelease(right);
    }
  }
}

namespace {

FILE* OpenThroughPath(const FSRef* ref, const char* mode) {
  UInt8 path[kPathBytes];
  if (ref == nullptr || FSRefMakePath(ref, path, sizeof path) != noErr) return nullptr;
  return fopen(reinterpret_cast<const char*>(path), mode);
}

}  // namespace

FILE* myFSp_fopenRW(const FSSpec* location) {
  FSRef ref;
  if (location == nullptr || FSpMakeFSRef(location, &ref) != noErr) return nullptr;
  return OpenThroughPath(&ref, "r+");
}

FILE* myFSREF_fopenRW(const FSRef* ref) { return OpenThroughPath(ref, "r+"); }

FILE* myFSREF_fopenWriteOnly(const FSRef* ref) { return OpenThroughPath(ref, "a"); }

OSStatus myNavServSaveFileLocation(WindowRef parent, CFStringRef message, CFStringRef defaultName, FSRef* folder,
                                   CFStringRef* name, OSType creator, OSType type, NavDialogOptionFlags optionFlags,
                                   UInt32 preferenceKey) {
  if (folder == nullptr || name == nullptr) return paramErr;
  return RunPutFileDialog(parent, message, defaultName, creator, type, optionFlags, preferenceKey,
                          [&](NavReplyRecord& reply, const FSRef& chosen) {
                            *folder = chosen;
                            *name = CFStringCreateCopy(kCFAllocatorDefault, reply.saveFileName);
                            return *name == nullptr ? OSStatus(memFullErr) : OSStatus(noErr);
                          });
}
