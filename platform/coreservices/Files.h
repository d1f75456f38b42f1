// File Manager stand-in: FSRef and FSSpec file references, catalog information,
// data forks and volume space, over POSIX files.
//
// References
// - An FSRef is an 80-byte, trivially copyable record holding an id into a
//   process-wide table of absolute paths (interned, never freed). Copy it by
//   value as freely as the real one; a zeroed FSRef is invalid (errFSBadFSRef).
//   Paths are made canonical (symbolic links resolved) when a reference is
//   made, so one object has one FSRef. An FSRef names a path, not an inode: when
//   the object is deleted, calls that touch it through the reference fail with
//   fnfErr (FSRefMakePath still gives the path).
// - An FSSpec is a volume reference, a parent-directory id and a name (Pascal
//   string, at most 63 bytes of UTF-8). Directory ids come from a small table kept
//   in the configuration directory ("directory-ids"), so a folder id stored in
//   the preferences finds the same folder in a later run. Ids are given out only
//   to folders that an FSSpec or a catalog query needed, they stay below 2^24
//   (exact in single precision), and 2 is always "/". Volume reference numbers
//   are kept in the same table by mount point (-100, -101, ...).
//   A name longer than 63 bytes is shortened to "<start>#<hex id>" in an FSSpec;
//   that form is understood again by FSMakeFSSpec and FSpMakeFSRef in the same
//   run (the id is the run's path id; keep folders, not such names, across runs).
//   The record is laid out naturally (72 bytes); nothing stores it as bytes.
// - Names cross the interface as UTF-16 (HFSUniStr255, UniChar) and are stored
//   as UTF-8, the application's text encoding. "/", NUL, "." and ".." are not
//   names (bdNamErr); unpaired surrogates neither.
//
// Results
//   errno maps to EEXIST -48, ENOENT -43, ENOSPC and EDQUOT -34, EACCES and
//   EPERM -54, anything else -36. A read past the end of a fork gives -39 with
//   the bytes that were there. A write that fills the volume writes what fits
//   and gives -34 with that partial count, as the real system does.
//
// Additions of this layer (not in the system's own File Manager)
// - SkyloomConfigurationDirectory / SkyloomSetConfigurationDirectory: the
//   configuration directory ($XDG_CONFIG_HOME/skyloom, default
//   ~/.config/skyloom); tests point it at a temporary folder.
// - SkyloomGetFreeBytes: free bytes of the volume holding a reference.
// - SkyloomSetFileFaults / SkyloomClearFileFaults: a process-wide fault injector
//   for tests (fail the n-th write, fill the volume after k bytes, refuse a
//   create).
//
// Every call is thread-safe. Calls on one fork are serialised; different forks
// run in parallel.
#pragma once
#include <string>

#include "platform/coreservices/MacTypes.h"

typedef SInt16 FSVolumeRefNum;
typedef SInt16 FSIORefNum;
typedef UInt32 TextEncoding;
typedef UInt32 FSCatalogInfoBitmap;
typedef UInt32 FSVolumeInfoBitmap;

enum : OSStatus {
  rfNumErr = -51,
  notAFileErr = -1302,
  pathTooLongErr = -2110,
};

enum : TextEncoding {
  kTextEncodingUnknown = 0xFFFF,
};

struct FSRef {
  UInt8 hidden[80];
};
typedef FSRef* FSRefPtr;

struct FSSpec {
  FSVolumeRefNum vRefNum;
  SInt32 parID;
  Str63 name;  // Pascal string, UTF-8
};
typedef FSSpec* FSSpecPtr;

struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
};

// Well-known directory ids.
enum : SInt32 {
  fsRtParID = 1,  // parent of the root
  fsRtDirID = 2,  // the root, "/"
};

// Catalog information: the fields this layer fills.
enum : FSCatalogInfoBitmap {
  kFSCatInfoNone = 0x00000000,
  kFSCatInfoNodeFlags = 0x00000002,
  kFSCatInfoVolume = 0x00000004,
  kFSCatInfoParentDirID = 0x00000008,
  kFSCatInfoNodeID = 0x00000010,
  kFSCatInfoDataSizes = 0x00004000,
  kFSCatInfoRsrcSizes = 0x00008000,
};
enum : UInt16 {
  kFSNodeLockedMask = 0x0001,
  kFSNodeIsDirectoryMask = 0x0010,
};
struct FSCatalogInfo {
  UInt16 nodeFlags;
  FSVolumeRefNum volume;
  UInt32 parentDirID;
  UInt32 nodeID;  // directory id for folders; 0 for files
  UInt64 dataLogicalSize;
  UInt64 dataPhysicalSize;
  UInt64 rsrcLogicalSize;  // always 0
  UInt64 rsrcPhysicalSize;  // always 0
};

// Volume information.
enum : FSVolumeInfoBitmap {
  kFSVolInfoNone = 0x0000,
  kFSVolInfoSizes = 0x0040,
  kFSVolInfoBlocks = 0x0080,
};
struct FSVolumeInfo {
  UInt64 totalBytes;
  UInt64 freeBytes;
  UInt32 blockSize;
  UInt32 totalBlocks;  // saturated at 0xFFFFFFFF
  UInt32 freeBlocks;   // saturated at 0xFFFFFFFF
};
constexpr FSVolumeRefNum kFSInvalidVolumeRefNum = 0;

// Fork permissions.
enum : SInt8 {
  fsCurPerm = 0,
  fsRdPerm = 1,
  fsWrPerm = 2,
  fsRdWrPerm = 3,
  fsRdWrShPerm = 4,
};

// Position modes: the low two bits; the cache hints are accepted and ignored.
enum : UInt16 {
  fsAtMark = 0,
  fsFromStart = 1,
  fsFromLEOF = 2,
  fsFromMark = 3,
  pleaseCacheMask = 0x0010,
  noCacheMask = 0x0020,
};

// ---- References ----
// path: a NUL-terminated UTF-8 path, absolute or relative to the working
// directory. isDirectory may be null.
OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
// Writes the absolute path, NUL-terminated; pathTooLongErr when it does not fit.
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
// The existing object called name inside the folder parentRef.
OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding textEncodingHint, FSRef* newRef);
// Creates an empty file; dupFNErr (-48) when the name is taken, leaving that
// object as it was. whichInfo/catalogInfo are accepted and ignored; newRef and
// newLocation may be null.
OSErr FSCreateFileUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                          FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* catalogInfo,
                          FSRef* newRef, FSSpec* newLocation);
// Deletes a file or an empty folder.
OSErr FSDeleteObject(const FSRef* ref);
// ---- renaming (frame grabs' rename sheet)
// Gives the object a new name in the same folder: dupFNErr (-48) when the
// name is taken (nothing changes), bdNamErr for a name that is no name.
// newRef (may be null) names the object under its new name.
OSErr FSRenameUnicode(const FSRef* ref, UniCharCount nameLength, const UniChar* name,
                      TextEncoding textEncodingHint, FSRef* newRef);
// Any output may be null. The root "/" has parent id fsRtParID and a zeroed parentRef.
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       HFSUniStr255* outName, FSSpec* fileLocation, FSRef* parentRef);

// ---- FSSpec ----
// An empty or null fileName gives the FSSpec of the folder dirID itself.
// Otherwise the location is filled whether or not the object exists: noErr when it
// does, fnfErr when it does not (a name for a new file). dirNFErr when the
// folder is unknown or gone. dirID 0 is the working directory; vRefNum is not
// needed to find a folder and is not checked.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* location);
OSErr FSpMakeFSRef(const FSSpec* source, FSRef* newRef);
// Creates the empty file an FSSpec names (its folder must exist): dupFNErr
// when the name is taken, bdNamErr for a name that is not UTF-8. Creator, type
// and script are accepted and ignored.
OSErr FSpCreate(const FSSpec* location, OSType creator, OSType fileType, ScriptCode scriptTag);
// Deletes the file or empty folder an FSSpec names.
OSErr FSpDelete(const FSSpec* location);

// ---- Forks (the data fork only; its name is empty) ----
OSErr FSGetDataForkName(HFSUniStr255* dataForkName);
OSErr FSOpenFork(const FSRef* ref, UniCharCount forkNameLength, const UniChar* forkName,
                 SInt8 permissions, FSIORefNum* forkRefNum);
OSErr FSReadFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                 ByteCount requestCount, void* buffer, ByteCount* actualCount);
OSErr FSWriteFork(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset,
                  ByteCount requestCount, const void* buffer, ByteCount* actualCount);
OSErr FSGetForkPosition(FSIORefNum forkRefNum, SInt64* position);
// A position past the end leaves the mark at the end and gives eofErr.
OSErr FSSetForkPosition(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSGetForkSize(FSIORefNum forkRefNum, SInt64* forkSize);
// Grows (with zeros) or truncates; a mark past the new end moves to it.
OSErr FSSetForkSize(FSIORefNum forkRefNum, UInt16 positionMode, SInt64 positionOffset);
OSErr FSFlushFork(FSIORefNum forkRefNum);
OSErr FSCloseFork(FSIORefNum forkRefNum);

// ---- Volumes ----
// volume: a reference number from an FSSpec or catalog information. Only
// volumeIndex 0 (look up by reference) is supported. Outputs may be null.
OSErr FSGetVolumeInfo(FSVolumeRefNum volume, ItemCount volumeIndex, FSVolumeRefNum* actualVolume,
                      FSVolumeInfoBitmap whichInfo, FSVolumeInfo* info, HFSUniStr255* volumeName,
                      FSRef* rootDirectory);
// Free bytes of the volume holding ref (the injected limit when it is smaller).
OSStatus SkyloomGetFreeBytes(const FSRef* ref, UInt64* freeBytes);

// Makes the directory and every missing one above it (mode 0700): true when
// it is a directory at the end; errno tells why not.
bool SkyloomMakeDirectories(const std::string& dir);

// ---- Configuration directory ----
// $XDG_CONFIG_HOME/skyloom (default ~/.config/skyloom), or the test override.
std::string SkyloomConfigurationDirectory();
// Tests: a directory to use instead, or null for the default. Forgets the
// directory-id table read so far, so the next use reads the new one.
void SkyloomSetConfigurationDirectory(const char* directory);

// ---- Fault injection for tests ----
struct SkyloomFileFaults {
  // The failWriteNumber-th FSWriteFork after installation (1 = the next one)
  // writes nothing and returns failWriteStatus. 0: no such fault.
  UInt32 failWriteNumber = 0;
  OSStatus failWriteStatus = ioErr;
  // The volume takes only this many more bytes of file growth (overwriting
  // existing bytes costs nothing); -1: no limit. Deleting a file gives its
  // bytes back (shortening a fork does not).
  SInt64 volumeBytesLeft = -1;
  // SkyloomGetFreeBytes and FSGetVolumeInfo fail with this status; 0: no fault.
  OSStatus failFreeBytesStatus = noErr;
  // FSCreateFileUnicode fails with refuseCreateStatus without creating: every
  // create when refuseCreateNumber is 0, else only the refuseCreateNumber-th.
  OSStatus refuseCreateStatus = noErr;
  UInt32 refuseCreateNumber = 0;
};
void SkyloomSetFileFaults(const SkyloomFileFaults& faults);
void SkyloomClearFileFaults();
