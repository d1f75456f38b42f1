// Date-time stamps and text log files. The stamp names output files and
// stamps logs in one compact form that sorts in time order as plain text:
// year, month, day, "_", hour, minute, second ("20260307_040506").
#pragma once
#include <cstdio>

#include "platform/coreservices/MacTypes.h"

// Writes the current time's stamp into out (at least 32 bytes). useUTC 0: the
// system time zone. fractionalSeconds not 0: seconds with two decimals
// ("%5.2f"), else rounded to whole seconds, so 59.5 s or more print as 60 in
// the same minute. zeroPad not 0 turns every blank into '0'.
void myGetDateTimePaddedString(char* out, SInt32 useUTC, SInt32 fractionalSeconds, SInt32 zeroPad);

// Creates a text log through the save dialog: the default name is prefix +
// local whole-second stamp + ".txt" ("Guiding Log 20260307_040506.txt").
// Returns the new file open for appending, or null when the user cancelled or
// anything failed. The caller writes tab-separated lines and closes it.
FILE* myCreateLogFileWriteOnly(const char* message, const char* prefix, UInt32 preferenceKey);
