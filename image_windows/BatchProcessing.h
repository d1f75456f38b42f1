// Background batch jobs over picture files: the command 'PRBI' runs the image
// windows' saved processing settings over a set of pictures and writes one
// TIFF file per picture into a folder. The job record, its start handshake,
// its finishing on the main thread and the one-job-at-a-time guard serve every
// batch command.
//
// Threads: the command runs on the main thread, asks for the files and the
// folder, opens the progress window and starts one detached worker. The
// starter waits until the worker has set mStarted and then acknowledges
// (mStarterDone); the worker frees the record, and destroys its mutex and
// condition variable, only after that acknowledgement. At its end the worker
// signals a run-loop source on the main run loop, which clears the window's
// busy flag, finishes the window and enables the commands again.
#pragma once
#include <pthread.h>

#include <atomic>

#include "image_windows/BatchProgress.h"
#include "image_windows/ImageWindowRecord.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

enum { kBatchMaxFiles = 1000 };

struct MyBatchProcessDataStruct {
  FSRef mFiles[kBatchMaxFiles];  // the chosen inputs, sorted by name
  FSRef mOutput;                 // the output folder (or the file a job writes)
  UInt32 mFileCount;
  pthread_t mThread;
  pthread_mutex_t mMutex;  // guards mStarted and mStarterDone during the handshake
  pthread_cond_t mCond;
  pthread_attr_t mThreadAttr;
  std::atomic<UInt32> mStarted;  // 1 once the worker runs; lowered again as it ends
  UInt32 mStarterDone;           // 1 once the starter is done with the record
  MyBatchWindowStruct* mBatchWindow;  // the progress window, or null
  MenuCommand mCommand;               // the command that started the job
};

// 'PRBI': 0 when the worker was started, the user cancelled or a batch is
// already running; -1 without memory for the job; else the failed thread
// set-up's code (shown in an alert unless it is -128).
OSErr myProcessMultipleImages();
// The worker of 'PRBI' (the thread's entry; job is the record). Returns null.
void* myDoBatchImageProcessing(void* job);

// ---- Shared by the batch commands ----
// 1 while a batch job runs (from its command's start to its finishing on the
// main thread).
Boolean myBatchJobRunning();
// Claims the one batch slot for a starting command; false when a job runs.
Boolean myClaimBatchJob();
// Gives back a slot claimed by a command that does not start its worker.
void myReleaseBatchJob();
// Starts the detached worker on the job and waits until it runs. On failure
// everything made is undone, the window finished, the job freed, the job's
// command (and 'PRBI') enabled and the slot released; the alert
// "API Error -  %d 0x%X error Occured" shows the code unless it is -128.
OSStatus myStartBatchWorker(MyBatchProcessDataStruct* job, void* (*entry)(void*));
// The worker's first step: mStarted = 1 under the mutex, broadcast.
void myBatchWorkerStarted(MyBatchProcessDataStruct* job);
// The worker's last step: waits for the starter's acknowledgement, lowers
// mStarted, destroys the mutex, condition and attributes, hands the window to
// the main thread for finishing and frees the job.
void myBatchWorkerEnd(MyBatchProcessDataStruct* job);

// ---- The per-picture steps of 'PRBI' ----
// A window-less image record with the batch defaults, the saved settings (green
// offsets forced locked at 0) and the slider positions turned into gains; null
// without memory. Release with myDisposeBatchImageRecord.
MyImageWindowDataStruct* myNewBatchImageRecord();
void myDisposeBatchImageRecord(MyImageWindowDataStruct* record);
// With mSourceRGB48, mWidth, mHeight and mRowBytes set: the work planes, the
// split into LRGB64 and luminance, the cascade and detail planes, and the
// render with sharpening on. -108 when a plane cannot be had. Planes already
// in the record are used again: they must have been made for a picture of
// the same width, height and row bytes (else mydumpAllocatedBuffers first).
OSErr myBatchRenderImage(MyImageWindowDataStruct* record);
// Writes mRenderRGB48 (48-bit colour, or 16-bit grey with mSave16Bit) as TIFF
// under name in folder, replacing a file of that name unless it is one of the
// job's inputs (then dupFNErr, nothing touched). mFileRef names the new file.
OSErr myBatchSaveImage(MyImageWindowDataStruct* record, const FSRef* folder, CFStringRef name,
                       const FSRef* inputs, UInt32 inputCount);

// ---- Test hooks ----
enum {
  kBatchPointStarterWoke = 1,  // the starter's wait returned, the mutex still held
  kBatchPointFileStarted = 2,  // the worker reported file index (0-based), before its work
};
// Called at each point with the point, the file index and the job; null
// removes it.
typedef void (*MyBatchTestHook)(int point, UInt32 index, const MyBatchProcessDataStruct* job);
void mySetBatchTestHook(MyBatchTestHook hook);
// Calls the hook, when one is set, at a point of a batch worker.
void myBatchTestPoint(int point, UInt32 index, const MyBatchProcessDataStruct* job);
// The next worker creation fails with status (0: none).
void mySetBatchThreadFailure(OSStatus status);
