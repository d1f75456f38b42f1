// The "STAK" command, the pump timer and the end of a job.
#include "stacking/AlignAndStack.h"
#include "stacking/MovieStackingRun.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "stacking/StackAlignWindow.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr MenuCommand kStackCommand = FOUR_CHAR_CODE("STAK");

ThreadEntryProcPtr gRunEntry = myProcessMovies;

// Jobs whose thread exists and that are not freed yet.
std::vector<const StackAlignJob*>& liveRuns() {
  static std::vector<const StackAlignJob*> runs;
  return runs;
}

// Runs the window on the job's settings: 0 after OK (the settings are then
// back in the job), -128 after Cancel, else the status that kept it from
// running.
OSStatus runSettingsWindow(StackAlignJob* job) {
  auto* state = static_cast<StackAlignDialogState*>(calloc(1, sizeof(StackAlignDialogState)));
  if (state == nullptr) return memFullErr;
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  WindowRef window = nullptr;
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("StackAlign"), &window);
    DisposeNibReference(nib);
  }
  if (err != noErr) {
    free(state);
    return err;
  }
  SetWRefCon(window, 0);
  myCopyJobToStackAlignState(job, state);
  state->mWindow = window;

  ControlActionUPP sliderAction = NewControlActionUPP(myMovieCIPercentage);
  ControlID sliderID{FOUR_CHAR_CODE("CIAM"), 0};
  ControlRef slider = nullptr;
  if (GetControlByID(window, &sliderID, &slider) == noErr) {
    mySetUpControlSlider(slider, 0, 100, SInt32(state->PERCENTFRAME), SRefCon(state), sliderAction);
    myMovieCIPercentage(slider, kControlNoPart);
  }
  myUpdateStackAlignWindowControls(state);

  const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
  EventHandlerUPP handlerUPP = NewEventHandlerUPP(myGetMovieProcessingGUIEventHandlerProc);
  EventHandlerRef handler = nullptr;
  err = InstallWindowEventHandler(window, handlerUPP, 1, commands, state, &handler);
  if (err == noErr) {
    SetThemeCursor(kThemeArrowCursor);
    ShowWindow(window);
    RunAppModalLoopForWindow(window);
    SetThemeCursor(kThemeArrowCursor);
    HideWindow(window);
    RemoveEventHandler(handler);
    err = state->mResult;
    if (err == noErr) myCopyStackAlignStateToJob(state, job);
  }
  DisposeEventHandlerUPP(handlerUPP);
  DisposeControlActionUPP(sliderAction);
  DisposeWindow(window);
  free(state);
  return err;
}

OSStatus startRun() {
  auto* job = static_cast<StackAlignJob*>(malloc(sizeof(StackAlignJob)));
  if (job == nullptr) return memFullErr;
  myInitStackAlignJob(job);
  myReadWriteAlignmentPrefs(job, 1);

  static const OSType kMovieTypes[] = {FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("MPEG"), FOUR_CHAR_CODE("VfW "),
                                       FOUR_CHAR_CODE("MPG ")};
  CFStringRef prompt = myGetLocalizedCFString("OPENMOVFORALIGN");
  UInt32 count = 0;
  OSStatus err = myGetMultipleFSRefForReading(nullptr, prompt, kMyMaxStackMovies, job->mMovies, &count,
                                              FOUR_CHAR_CODE("****"), 4, kMovieTypes, 0xCC7, 5);
  if (prompt) CFRelease(prompt);
  if (err != noErr) {
    free(job);
    return err;
  }
  job->mMovieCount = std::min(count, kMyMaxStackMovies);
  mySortFSRefArray(job->mMovies, job->mMovieCount);

  if (job->DFLTFOPICK == 0) {
    err = myUseNavServSelectLocationFSSpec(&job->mOutputFolderSpec, 21);
    if (err != noErr) {
      free(job);
      return err;
    }
    myFolderItselfFSSpec(&job->mOutputFolderSpec);
    job->DFLTFOPICK = 1;
  }

  err = runSettingsWindow(job);
  if (err != noErr) {
    free(job);
    return err;
  }
  myReadWriteAlignmentPrefs(job, 0);

  job->mPumpTimerUPP = NewEventLoopTimerUPP(myMovieStackingEventLoopTimerProc);
  job->mThreadEntryUPP = NewThreadEntryUPP(gRunEntry);
  if (job->mPumpTimerUPP == nullptr || job->mThreadEntryUPP == nullptr) {
    myStopMovieStacking(job);
    return memFullErr;
  }
  err = InstallEventLoopTimer(GetMainEventLoop(), 0, 0, job->mPumpTimerUPP, job, &job->mPumpTimer);
  if (err == noErr)
    err = NewThread(kCooperativeThread, job->mThreadEntryUPP, job, 0, kCreateIfNeeded, nullptr, nullptr);
  if (err != noErr) {
    myStopMovieStacking(job);
    return err;
  }
  liveRuns().push_back(job);
  return noErr;
}

}  // namespace

OSStatus myAlignAndStackMovies() {
  DisableMenuCommand(nullptr, kStackCommand);
  const OSStatus err = startRun();
  EnableMenuCommand(nullptr, kStackCommand);
  return err;
}

void myStopMovieStacking(StackAlignJob* job) {
  if (job == nullptr) return;
  if (job->mPumpTimer) RemoveEventLoopTimer(job->mPumpTimer);
  if (job->mPumpTimerUPP) DisposeEventLoopTimerUPP(job->mPumpTimerUPP);
  if (job->mThreadEntryUPP) DisposeThreadEntryUPP(job->mThreadEntryUPP);
  job->mPumpTimer = nullptr;
  job->mPumpTimerUPP = nullptr;
  job->mThreadEntryUPP = nullptr;
  auto& runs = liveRuns();
  runs.erase(std::remove(runs.begin(), runs.end(), job), runs.end());
  free(job);
}

void myMovieStackingEventLoopTimerProc(EventLoopTimerRef, void* data) {
  auto* job = static_cast<StackAlignJob*>(data);
  job->mRunning = 1;
  EventTargetRef dispatcher = GetEventDispatcherTarget();
  do {
    EventRef event = nullptr;
    if (ReceiveNextEvent(0, nullptr, kEventDurationNoWait, true, &event) == noErr && event != nullptr) {
      SendEventToEventTarget(event, dispatcher);
      ReleaseEvent(event);
    }
    if (job->mRunning == 1) YieldToAnyThread();
  } while (job->mRunning == 1);
  myStopMovieStacking(job);
}

Boolean myMovieStackingRunIsAlive() { return liveRuns().empty() ? false : true; }

void mySetMovieStackingRunEntry(ThreadEntryProcPtr entry) { gRunEntry = entry ? entry : myProcessMovies; }
