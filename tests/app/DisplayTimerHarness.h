// A running camera as the application's start and stop leave it, until
// those steps are built: video started (PipelineHarness) with the display
// timer on the main event loop (first firing at once, then every 20 ms, the
// record as user data); the stop cancels a pending grab, stops the FWHM
// measurement, takes the callback away and removes the timer.
#pragma once
#include "app/PleezWait.h"
#include "tests/app/PipelineHarness.h"

class DisplayTimerHarness : public PipelineHarness {
 protected:
  void TearDown() override {
    StopCamera();
    PipelineHarness::TearDown();
  }

  OSStatus StartCamera(SInt32 index, bool threaded) {
    OSStatus err = StartVideo(index, threaded);
    if (err != noErr) return err;
    MyCameraWindowDataStruct* r = record_;
    r->mDisplayTimerUPP = NewEventLoopTimerUPP(myDisplayFrameTimer);
    return InstallEventLoopTimer(GetMainEventLoop(), 0.0, 0.02, r->mDisplayTimerUPP, r, &r->mDisplayTimer);
  }

  void StopCamera() {
    MyCameraWindowDataStruct* r = record_;
    if (!r) return;
    if (r->mGrabPending) std::atomic_ref<UInt8>(r->mGrabCancel).store(1);
    StopVideo();
    if (r->mDisplayTimer) RemoveEventLoopTimer(r->mDisplayTimer);
    r->mDisplayTimer = nullptr;
    r->mDisplayTimerUPP = nullptr;
    r->mGrabPending = r->mGrabsInFlight = 0;
    r->mGrabFinishPending = 0;
  }

  // Captures of the open camera go to saveFolder_ without asking.
  void SaveToFolder() {
    MyCameraWindowDataStruct* r = record_;
    FSRef ref;
    FSCatalogInfo info;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(saveFolder_.c_str()), &ref, nullptr), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr), noErr);
    r->mDefaultFolderVRefNum = info.volume;
    r->mDefaultFolderDirID = SInt32(info.nodeID);
    r->mDefaultFolderValid = 1;
    r->mOpenFrameAfterSave = 0;
    r->mOpenMovieAfterSave = 0;
  }

  // One tick of the display timer, as the event loop would fire it.
  void Tick() { myDisplayFrameTimer(nullptr, record_); }
};
