// The stacking run's "Progress" window (its close request becomes the job's
// cancel flag; an idle timer animates its progress bar) and the block of
// settings each movie is logged with.
//
// Main thread (the handler, the timer) and the run's cooperative thread (the
// settings block); only one of them runs at any moment.
#pragma once
#include "platform/hitoolbox/HIToolbox.h"
#include "stacking/StackAlignJob.h"

// Installed on the progress window for {'cmds', 1} and {'wind', 72} with the
// job as user data. 'clos' sends a user close event for the window to the
// focus target; the close event sets mCancel. Always -9874, so the window
// stays: the run disposes of it itself.
OSStatus myProgressWindowEventHandler(EventHandlerCallRef call, EventRef event, void* job);

// The progress window's idle timer (user data: the window).
void myMovieIdleTaskProc(EventLoopTimerRef timer, void* window);

// Writes the settings block to the job's mLogFile (nothing without one).
void myPrintProcessingStats(const StackAlignJob* job);
