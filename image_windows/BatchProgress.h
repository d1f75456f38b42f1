// The progress window of the background batch jobs ("BatchProcessing"): a bar,
// the name of the file being worked on, and a button that asks the job to
// stop. The job runs on a worker thread and speaks to the window only through
// the record's shared fields, which a 0.3 s timer on the main run loop shows.
//
// Threads: setting up, the timer, the handler and the finishing run on the
// main thread. The worker only sets mBusy and mProgress, offers status texts
// and reads mStopRequested (the helpers below).
#pragma once
#include <atomic>

#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

struct MyBatchWindowStruct {
  WindowRef mWindow;  // "BatchProcessing" from "ORX_DCAM"
  EventHandlerUPP mHandlerUPP;
  EventHandlerRef mHandlerRef;
  std::atomic<UInt8> mBusy;           // 1 while the worker works
  std::atomic<UInt8> mStopRequested;  // a close while busy: stop before the next file
  std::atomic<SInt32> mProgress;      // percent done, 0 .. 100
  // One-slot hand-off of a status text: the worker stores into an empty slot
  // only (release), the timer takes it out (acquire), shows and releases it.
  std::atomic<CFStringRef> mStatusText;
  EventLoopTimerUPP mTimerUPP;
  EventLoopTimerRef mTimer;  // the 0.3 s refresh
};

// Opens the window titled by the localized key (none when empty) and starts its
// refresh timer; null when the window or its timer cannot be made.
MyBatchWindowStruct* mySetUpBatchWindow(const char* titleKey);
// The refresh: the bar takes mProgress, the status line a pending text.
void myBatchBarUpdateTimerProc(EventLoopTimerRef timer, void* userData);
// 'clos' sends a window-close event to the batch window; the close sets the
// stop flag while the worker is busy and is consumed (the window stays until
// the finishing).
OSStatus myDoBatchEventHandlerProc(EventHandlerCallRef call, EventRef event, void* userData);
// Stops and removes the timer, closes the window, releases a pending text and
// frees the record (null is allowed); then enables the menu command 'PRBI'.
void myFinnishOffBatchWindow(MyBatchWindowStruct* window);

// The worker's side. Each accepts null (no window).
void myBatchWindowSetBusy(MyBatchWindowStruct* window, Boolean busy);
Boolean myBatchWindowStopRequested(const MyBatchWindowStruct* window);
// Sets the percentage and, when the slot is empty, offers text (retained for
// the slot; a text offered while another is pending is skipped).
void myBatchWindowReport(MyBatchWindowStruct* window, SInt32 percent, CFStringRef text);
