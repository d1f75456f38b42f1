// The camera-settings block: a fixed run of text lines ("\r" line ends) that
// records how the camera was set up, written under each capture-log entry
// and into the header of a guiding run.
#pragma once
#include <cstdio>

struct MyCameraWindowDataStruct;

// Writes the block to the open file and flushes it; the caller keeps the
// file. Control texts are read from the record's control window as the user
// sees them; lines of unreadable controls are left out.
void myPrintCameraSettingsToLogFile(MyCameraWindowDataStruct* record, FILE* file);
