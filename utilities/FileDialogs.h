// File dialogs and files: choosing folders, choosing files to read, naming a
// file to save, and small File Manager helpers (a file's name, creating a file
// in a folder, opening through the C library, sorting by name).
//
// Every dialog is application-modal and returns a status: 0, -128 when the
// user cancelled (the out-parameters are then left as they were), -108 when
// no event procedure could be made, else the status of the call that failed.
#pragma once
#include <cstdio>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/navigation/Navigation.h"

// A type list of 12 + 4 x count bytes: signature, a reserved word, the count,
// the types. Null when count < 1 (or above what the list can count) or there is
// no memory. The caller disposes of it (DisposeHandle).
NavTypeListHandle myNewOpenHandle(OSType signature, SInt32 count, const OSType* types);

// The event procedure of every dialog here. callBackUD is an OSStatus*: a
// user action stores -128 for Cancel and 0 for Open, Save As or Choose.
void myNavEventCallBackWithWindowProc(NavEventCallbackMessage callBackSelector, NavCBRecPtr callBackParms,
                                      void* callBackUD);

// After a choose dialog ran: 0 with the first chosen item turned into the
// FSSpec of that folder itself; -128 unless the user chose and the reply is valid.
OSStatus myVerifySingleNavDialogResponseFSSPec(NavDialogRef dialog, FSSpec* folder);
// 0 with up to maxCount chosen items in selection order and their count
// (stopping at the first item that cannot be had); -128 as above; the fetch's
// status when not even the first item can be had.
OSStatus myVerifyNavDialogResponseFSRefs(NavDialogRef dialog, UInt32 maxCount, FSRef* items, UInt32* count);

// Choose-folder dialogs. The FSSpec form uses the option flags 0x407.
OSStatus myUseNavServSelectLocationFSSpec(FSSpec* folder, UInt32 preferenceKey);
OSStatus myUseNavServSelectLocationFSRef(FSRef* folder, NavDialogOptionFlags optionFlags, UInt32 preferenceKey);

// Choose-file dialogs filtered by the type list; -1 (no dialog shown) when
// typeCount < 1, and for several files also when maxCount is 0 or items is null.
OSStatus myGetFSRefForReading(WindowRef parent, CFStringRef message, FSRef* file, OSType signature, SInt32 typeCount,
                              const OSType* types, NavDialogOptionFlags optionFlags, UInt32 preferenceKey);
OSStatus myGetMultipleFSRefForReading(WindowRef parent, CFStringRef message, UInt32 maxCount, FSRef* items,
                                      UInt32* count, OSType signature, SInt32 typeCount, const OSType* types,
                                      NavDialogOptionFlags optionFlags, UInt32 preferenceKey);

// Save dialog that creates the (empty) file: a name already there is deleted
// first when the user confirmed replacing it. -108 for a missing or empty
// name. Type and creator serve the dialog only.
OSStatus myNavServSaveFileFSRef(WindowRef parent, CFStringRef message, CFStringRef defaultName, FSRef* file,
                                OSType creator, OSType type, NavDialogOptionFlags optionFlags, UInt32 preferenceKey);

// The item's name as a new string (the caller releases it), null on failure.
CFStringRef myFSRefGetCFStringName(const FSRef* ref);

// Creates the file name in folder: -1 for a null or empty name; with replace 1
// a file already there is deleted and the file made again. The last File
// Manager status.
OSErr myAppendFileNameToFolderPath(const FSRef* folder, CFStringRef name, UInt8 replace, FSRef* file);

// Sorts by name, case-insensitive, in place (a bubble sort that yields to
// other threads every pass). Items whose names cannot be read stay put.
void mySortFSRefArray(FSRef* items, UInt32 count);

// The C library's FILE on a file through its path (at most 1024 bytes): "r+"
// (the file must exist) or "a" (append, created when missing). Null on failure.
FILE* myFSp_fopenRW(const FSSpec* location);
FILE* myFSREF_fopenRW(const FSRef* ref);
FILE* myFSREF_fopenWriteOnly(const FSRef* ref);

// Save dialog that only asks: the folder and the name (a new string the
// caller releases) the user chose, touching no file, so that the caller can
// write beside an existing file and replace it only once the write is
// complete. Statuses as myNavServSaveFileFSRef.
OSStatus myNavServSaveFileLocation(WindowRef parent, CFStringRef message, CFStringRef defaultName, FSRef* folder,
                                   CFStringRef* name, OSType creator, OSType type, NavDialogOptionFlags optionFlags,
                                   UInt32 preferenceKey);
