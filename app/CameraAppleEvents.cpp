#include "app/CameraAppleEvents.h"

#include <atomic>
#include <cstdio>

#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "app/FrameGrabs.h"
#include "app/PleezWait.h"
#include "app/RecordAtomics.h"
#include "platform/hitoolbox/HIToolbox.h"

namespace {

using record_atomics::ld;

constexpr OSType kExposureBase = FOUR_CHAR_CODE("CCDB");
constexpr OSType kUseFlatBox = FOUR_CHAR_CODE("UBRF");
constexpr OSType kUseDarkBox = FOUR_CHAR_CODE("UDKF");
constexpr UInt32 kAverageMode = 7;
constexpr UInt32 kFlatMode = 3;
constexpr UInt32 kDarkMode = 2;

// Grab controls enabled and video running.
bool isReady(MyCameraWindowDataStruct* r) { return r->mGrabControlsEnabled == 1 && r->mRunning == 1; }

// Ready, and free for a collection or a settings change: not recording and
// no grab waiting for a frame.
bool isIdle(MyCameraWindowDataStruct* r) {
  return r->mGrabControlsEnabled == 1 && r->mRecording == 0 && ld(r->mGrabWanted) == 0 && r->mRunning == 1;
}

ControlRef controlOf(MyCameraWindowDataStruct* r, OSType signature) {
  const ControlID id = {signature, 0};
  ControlRef c = nullptr;
  if (r->mControlWindow == nullptr || GetControlByID(r->mControlWindow, &id, &c) != noErr) return nullptr;
  return c;
}

// The exposure of the 'CCDB' pop-up, then the collection; the exposure's
// status (or errUnknownControl without the pop-up).
OSStatus collect(MyCameraWindowDataStruct* r, UInt32 mode) {
  ControlRef exposure = controlOf(r, kExposureBase);
  if (exposure == nullptr) return errUnknownControl;
  const OSStatus err = myToggleExposureTimes(r, UInt32(GetControl32BitValue(exposure)));
  if (err == noErr) myDoPleezWait(r, mode);
  return err;
}

// After a dark or flat run: use a frame that exists, and show it on the box.
void showCalibration(MyCameraWindowDataStruct* r, OSType box, UInt8 available, UInt8* use) {
  if (available == 1) *use = 1;
  ControlRef c = controlOf(r, box);
  if (c == nullptr) return;
  if (available == 1)
    EnableControl(c);
  else
    DisableControl(c);
  SetControl32BitValue(c, *use ? 1 : 0);
}

}  // namespace

MyCameraWindowDataStruct* myFindCameraControlWindowDataPtr() {
  for (WindowRef w = FrontWindow(); w != nullptr; w = GetNextWindow(w)) {
    const SRefCon refcon = GetWRefCon(w);
    if (refcon == 0) continue;
    auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(refcon);
    if (r->mKind == kMyCameraWindowDataKind) return r;
  }
  return nullptr;
}

OSErr myAEStartRecordMovie(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  bool started = false;
  OSStatus err = noErr;
  if (r != nullptr && isReady(r) && r->mRecording == 0) {
    err = mySetUpRecordMovie(r);
    started = err == noErr;
  }
  myReportCameraEventError("myAEStartRecordMovie", myAnswerCameraEvent(reply, started, err));
  return noErr;
}

OSErr myAEStopRecordMovie(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  const bool ready = r != nullptr && isReady(r);
  if (ready && r->mRecording == 1) myStopRecordMovie(r);
  myReportCameraEventError("myAEStopRecordMovie", myAnswerCameraEvent(reply, ready, noErr));
  return noErr;
}

OSErr myAEGrabFrame(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  bool armed = false;
  OSStatus err = noErr;
  if (r != nullptr && isReady(r) && ld(r->mGrabWanted) == 0 && ld(r->mGrabPending) == 0) {
    // A trigger that grabs to disk waits for its pulse as long as it takes.
    err = mySaveAFrameToDisk(r, r->mTriggerItem == 0 ? 1 : 0);
    armed = err == noErr;
  }
  myReportCameraEventError("myAEGrabFrame", myAnswerCameraEvent(reply, armed, err));
  return noErr;
}

OSErr myAEGrabFrameCompleted(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  bool done = false;
  if (r != nullptr) done = !isReady(r) || ld(r->mGrabsInFlight) == 0;
  myReportCameraEventError("myAEGrabFrameisDone", myAnswerCameraEvent(reply, done, noErr));
  return noErr;
}

OSErr myAEDoGrabAverageFrame(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  OSStatus err = noErr;
  bool ran = false;
  if (r != nullptr && isIdle(r)) {
    err = collect(r, kAverageMode);
    ran = err == noErr;
  }
  myReportCameraEventError("myAEDoGrabAverageFrame", myAnswerCameraEvent(reply, ran, err));
  return noErr;
}

OSErr myAEDoFlatFrame(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  OSStatus err = noErr;
  bool ran = false;
  if (r != nullptr && isIdle(r)) {
    err = collect(r, kFlatMode);
    ran = err == noErr;
    if (ran) showCalibration(r, kUseFlatBox, r->mFlatFrameAvailable, &r->mUseFlatFrame);
  }
  myReportCameraEventError("myAEDoFlatFrame", myAnswerCameraEvent(reply, ran, err));
  return noErr;
}

OSErr myAEDoDarkFrame(const AppleEvent*, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  OSStatus err = noErr;
  bool ran = false;
  if (r != nullptr && isIdle(r)) {
    err = collect(r, kDarkMode);
    ran = err == noErr;
    if (ran) showCalibration(r, kUseDarkBox, r->mDarkFrameAvailable, &r->mUseDarkFrame);
  }
  myReportCameraEventError("myAEDoDarkFrame", myAnswerCameraEvent(reply, ran, err));
  return noErr;
}

OSErr myAEApplyCameraSettings(const AppleEvent* event, AppleEvent* reply, SRefCon) {
  MyCameraWindowDataStruct* r = myFindCameraControlWindowDataPtr();
  OSStatus err = noErr;
  bool applied = false;
  if (r != nullptr && isIdle(r)) {
    SInt32 slot = 0;
    err = AEGetParamPtr(event, keyDirectObject, typeLongInteger, nullptr, &slot, sizeof slot, nullptr);
    MenuRef settings = GetMenuRef(kMyCameraSettingsMenuID);
    if (err == noErr && slot >= 1 && slot <= SInt32(kMyCameraSettingsSlots) && settings != nullptr &&
        IsMenuItemEnabled(settings, 0)) {
      err = myApplyCameraSettings(r, UInt32(slot - 1));
      applied = err == noErr;
    }
  }
  myReportCameraEventError("myAEApplyCameraSettings", myAnswerCameraEvent(reply, applied, err));
  return noErr;
}

const MyCameraAppleEventEntry kMyCameraAppleEvents[8] = {
    {FOUR_CHAR_CODE("viSR"), myAEStartRecordMovie},   {FOUR_CHAR_CODE("viHR"), myAEStopRecordMovie},
    {FOUR_CHAR_CODE("viGF"), myAEGrabFrame},          {FOUR_CHAR_CODE("viCF"), myAEGrabFrameCompleted},
    {FOUR_CHAR_CODE("viAS"), myAEApplyCameraSettings}, {FOUR_CHAR_CODE("viDF"), myAEDoDarkFrame},
    {FOUR_CHAR_CODE("viFF"), myAEDoFlatFrame},        {FOUR_CHAR_CODE("viAF"), myAEDoGrabAverageFrame},
};

OSErr myInstallCameraAppleEventHandlers() {
  for (const MyCameraAppleEventEntry& e : kMyCameraAppleEvents)
    if (OSErr err = AEInstallEventHandler(kMyCameraEventClass, e.mEventID, NewAEEventHandlerUPP(e.mHandler), 0, false))
      return err;
  return noErr;
}

OSErr myRemoveCameraAppleEventHandlers() {
  OSErr first = noErr;
  for (const MyCameraAppleEventEntry& e : kMyCameraAppleEvents) {
    const OSErr err = AERemoveEventHandler(kMyCameraEventClass, e.mEventID, e.mHandler, false);
    if (first == noErr) first = err;
  }
  return first;
}

OSStatus myAnswerCameraEvent(AppleEvent* reply, bool yes, OSStatus actionStatus) {
  if (reply == nullptr || reply->dataHandle == nullptr) return actionStatus;
  const Boolean value = yes ? 1 : 0;
  return AEPutParamPtr(reply, keyDirectObject, typeBoolean, &value, sizeof value);
}

void myReportCameraEventError(const char* name, OSStatus err) {
  if (err != noErr) fprintf(stderr, "ERR %s %d 0x%X\n", name, int(err), unsigned(err));
}
