// The Process Manager's view of this process: where its application bundle is.
//
// The bundle is the folder whose "Contents/Resources" is the resources folder
// of CFBundle.h: a resources folder that is itself ".../Contents/Resources"
// names its bundle; otherwise the build tree's "Skyloom.app" beside the
// "resources" link, or the installed "<prefix>/lib/skyloom/Skyloom.app" whose
// Resources lead to <prefix>/share/skyloom.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};
enum : UInt32 { kNoProcess = 0, kSystemProcess = 1, kCurrentProcess = 2 };

// The bundle folder of the process (only the current process is known);
// paramErr for another process or a null argument, fnfErr when no bundle
// folder leads to the resources folder.
OSStatus GetProcessBundleLocation(const ProcessSerialNumber* psn, FSRef* location);
