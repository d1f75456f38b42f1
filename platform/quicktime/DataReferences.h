// Data references: a handle naming where a movie or picture lives. Ours hold
// the absolute path of a file (type 'alis'), made from a file reference.
#pragma once
#include <string>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

constexpr OSType AliasDataHandlerSubType = FOUR_CHAR_CODE("alis");

// A new data reference for the file (which need not exist yet for output).
OSErr QTNewDataReferenceFromFSRef(const FSRef* fileRef, UInt32 flags, Handle* outDataRef,
                                  OSType* outDataRefType);
// A data reference for a file named by a parent folder and a name.
OSErr QTNewDataReferenceFromFSRefCFString(const FSRef* directoryRef, const char* utf8Name, UInt32 flags,
                                          Handle* outDataRef, OSType* outDataRefType);
// The path a data reference names; empty when it is not one of ours.
std::string SkyloomDataReferencePath(Handle dataRef, OSType dataRefType);
// The path of a file location (the file need not exist); empty on failure.
std::string SkyloomFSSpecPath(const FSSpec* location);
