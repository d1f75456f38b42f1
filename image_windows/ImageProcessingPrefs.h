// The image windows' processing settings, kept from one window to the next in
// the preference domain "com.brindlemoor.SKYLOOM_App.ImageProcessingPref" as
// 33 numeric texts. One set for all windows: the last window closed wins.
#pragma once
#include "image_windows/ImageWindowRecord.h"
#include "platform/coreservices/MacTypes.h"

// mode 1 reads the domain over the record's settings; any other mode writes
// them. A read does nothing unless "VERS" reads; each other key that is missing
// or unreadable leaves its field alone, and values outside the controls' ranges
// are taken as stored. With green offsets locked the green keys are not read,
// both green offsets become 0 and are written as 0. A write stops at the first
// key that fails, without synchronising; a failed synchronisation posts the
// alert "OSXER" / "CFPREFERR".
// Result: read: the status of "VERS" when it failed, else of "SATURATION";
// write: 0 or the status of the first failed key.
OSStatus myReadWriteImageProcessingPrefs(MyImageWindowDataStruct* record, SInt32 mode);
