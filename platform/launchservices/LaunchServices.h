// Launch Services stand-in: opening a document in the application the
// desktop associates with it (xdg-open).
#pragma once
#include <functional>
#include <string>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

enum : OSStatus {
  kLSApplicationNotFoundErr = -10814,
};

// Hands the file to the desktop's opener and returns without waiting for
// it. launchedRef (may be null) is not filled: the opener does not say which
// application it chose. paramErr for a null reference, the File Manager
// status for a reference to nothing, kLSApplicationNotFoundErr when the
// opener cannot be started.
OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);

// ---- tests
// Replaces the desktop opener: it gets the file's absolute path (tests record
// instead of launching). An empty function restores xdg-open.
void SkyloomSetFileOpener(std::function<OSStatus(const std::string& path)> opener);
