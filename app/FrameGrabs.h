// Frame grabs to disk, movie recording and the capture log.
//
// A grab names its file, arms the pipeline's grab buffer and turns the
// control window's grab button into a cancel button; the display timer saves
// the filled buffer and calls myDoFileFinnishUp. A recording names its movie,
// creates the recorder with the current mode's geometry and code and lets the
// pipeline hand frames to it until myStopRecordMovie, which detaches the
// recorder from the delivery thread before it closes the movie, stamps the
// time-code track and finishes the file. Finishing a capture: the rename sheet
// (naming mode 4), the capture-log entry with the camera settings and an
// optional note, and opening the file afterwards.
//
// Everything here runs on the main thread.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

// The last note typed into the note sheet (at most 1023 characters); the
// sheet starts with it.
extern char gNoteString[1024];

// Capture kinds of myDoFileFinnishUp.
enum : UInt32 {
  kMyCaptureMovie = 0,
  kMyCaptureFrame = 1,
  kMyCaptureAveraged = 2,
  kMyCaptureSummed = 3,
};

// The save folder: the stored one while it still exists, else the one the
// user chooses (and it is stored). -1 for a null record, -128 when the user
// cancelled the folder dialog.
OSStatus myFindDefaultSaveFileLocation(MyCameraWindowDataStruct* record, SInt16* vRefNum, SInt32* dirID);

// The next single-frame file name into mFrameFileSpec; -43 (no such file) is
// the usual result. Naming mode 3 raises mFileCounter. -50 (nothing named)
// for a picture kind or naming mode outside the tables.
OSStatus myFillInFSSpec(MyCameraWindowDataStruct* record);

// The base name of a capture by the naming mode: "<stamp>_L", "<stamp>_U"
// (stamp with hundredths when fractional is 1, whole seconds otherwise) or
// "<ten digits>_S" (the counter is raised). false for a mode outside 1..4.
bool myMakeCaptureBaseName(MyCameraWindowDataStruct* record, bool fractional, char* out, size_t size);

// Arms a single-frame grab: names the file, allocates the grab buffer, sets
// the hand-off fields and switches the controls. 0, the naming status (with
// an alert), -108 (with an alert) or -9074 while the old buffer is busy.
OSStatus mySaveAFrameToDisk(MyCameraWindowDataStruct* record, UInt8 timeoutOn);

// Finishes a saved capture of `kind` holding `frameCount` frames: rename
// sheet, capture log and note, open afterwards. The file is mMovieFileSpec
// for kind 0, else mFrameFileSpec.
OSStatus myDoFileFinnishUp(MyCameraWindowDataStruct* record, UInt32 kind, UInt32 frameCount);

// Command handlers of the rename and note sheets.
OSStatus myReNameFileProcHandler(EventHandlerCallRef next, EventRef event, void* userData);
OSStatus myAddANoteEventHandlerProc(EventHandlerCallRef next, EventRef event, void* userData);

// Starts a recording: 0 while recording, else the failing status (with an
// alert and the controls left as they were).
OSStatus mySetUpRecordMovie(MyCameraWindowDataStruct* record);
// Stops a recording (and restores the controls; only that when idle).
void myStopRecordMovie(MyCameraWindowDataStruct* record);

// The recorder's pixel-format code and time scale for the record's current
// mode, as a recording would be created with.
UInt32 myRecordPixelFormatCode(const MyCameraWindowDataStruct* record);
SInt32 myRecordTimeScale(const MyCameraWindowDataStruct* record);

// Enables and disables the control window's grab and recording controls and
// menu 2's items for the recording state.
void mySetRecordingControls(MyCameraWindowDataStruct* record, bool recording);
