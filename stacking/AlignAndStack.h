// The align-and-stack command and the alignment preferences.
//
// "STAK" runs myAlignAndStackMovies on the main thread: it builds the
// StackAlignJob (defaults, then the AlignPref domain), lets the user pick the
// movies and, when none is remembered, the output folder, runs the
// "StackAlign" window, writes the settings back and starts the run as a
// cooperative thread of the main thread, plus a one-shot pump timer. The pump
// gives the run its time by yielding to it until the run clears mRunning,
// then frees the job; nothing else frees a job once its thread exists.
//
// While a run is alive "STAK" stays disabled: menu enabling asks
// myMovieStackingRunIsAlive and leaves the command alone, since a second run
// on the same movie would delete and rewrite the files the first is writing.
//
// Main thread only.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/coreservices/Threads.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "stacking/StackAlignJob.h"

// The preference domain of the settings.
#define kMyAlignPrefDomain "com.brindlemoor.SKYLOOM_App.AlignPref"
// The value written under "VERS".
constexpr double kMyAlignPrefVersion = 67108864.0;

// Clears the record and sets the defaults every setting has before the
// preferences are read.
void myInitStackAlignJob(StackAlignJob* job);

// Direction 1 reads the domain into the job; any other value writes the job
// into the domain. Reading: the reader's status of "VERS" when that key cannot
// be read (nothing else is read then), else that of the last key; a key that
// cannot be read, or whose text is no number, leaves its field. Writing: the
// status of the first write that failed, else 0 (a failed synchronisation
// shows the "OSXER"/"CFPREFERR" alert and still gives 0).
OSStatus myReadWriteAlignmentPrefs(StackAlignJob* job, SInt32 direction);

// 0 when the run was started; -108 without memory; -128 when the user
// cancelled a dialog or the window; else the status of the step that failed.
// "STAK" is enabled again when it returns.
OSStatus myAlignAndStackMovies();

// Removes the pump timer, disposes the two procedures and frees the job.
// Null is ignored.
void myStopMovieStacking(StackAlignJob* job);

// The pump timer: sets mRunning, then pumps events and yields to the run while
// mRunning stays 1; frees the job at the end. Returns only when the run ended.
void myMovieStackingEventLoopTimerProc(EventLoopTimerRef timer, void* job);

// True from the moment a run's thread exists until its job is freed.
Boolean myMovieStackingRunIsAlive();

// The entry of the run's thread: myProcessMovies unless tests put a stub run
// in its place. Null restores myProcessMovies.
void mySetMovieStackingRunEntry(ThreadEntryProcPtr entry);
