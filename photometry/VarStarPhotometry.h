// Variable-star photometry of a movie, the 'BMRP' command: the user picks a
// movie, marks comparison and variable stars on its first frame, and every
// frame is measured into the simple and/or detailed tables. Modal and
// synchronous, on the main thread.
#pragma once
#include "photometry/BatchPhotomData.h"

constexpr char kVarStarPrefDomain[] = "com.brindlemoor.SKYLOOM_App.varStarPref";
constexpr double kVarStarPrefVersion = 67502080.0;

// The 'BMRP' command.
void myDoMovieVARStarProcessing();

// direction 1 reads "REPT", "FWHM" and "SVLO" into the record (each keeps its
// value when missing or out of range; all three when "VERS" is missing);
// any other direction writes "VERS", "REPT", "FWHM" and "SVLO", stopping at
// the first failed write, then synchronises the domain (an alert when that
// fails). The last preference status (0 success).
OSStatus myReadWriteVarStarPrefs(MyBatchPhotomDataStruct* data, SInt32 direction);

// Tests: the nth key written from now on fails with -108 (0 withdraws it).
void SkyloomFailVarStarPrefWrite(int nth);
