// A running camera as the application starts and stops it: the video size
// chosen (mySetCameraFMRByIndexItem), then myStartCamera, which leaves the
// display timer on the main event loop (first firing at once, then every
// 20 ms, the record as user data) and myDisplayCallback assigned; the stop
// is myStopCamera. Without `threaded` the camera's clock (and the FireWire
// bus clock) is stepped, so no frame arrives by itself: the test sends
// frames or hands them to the callback.
#pragma once
#include "app/PleezWait.h"
#include "app/VideoStartStop.h"
#include "platform/iokit/IOFireWireLib.h"
#include "tests/app/PipelineHarness.h"

class DisplayTimerHarness : public PipelineHarness {
 protected:
  void TearDown() override {
    StopCamera();
    if (steppedBus_) SkyloomFireWireBusSetStepped(false);
    steppedBus_ = false;
    PipelineHarness::TearDown();
  }

  OSStatus StartCamera(SInt32 index, bool threaded) {
    MyCameraWindowDataStruct* r = record_;
    if (!threaded) {
      Camera().Stream().SetClock(SimClock::Stepped);
      SkyloomFireWireBusSetStepped(true);
      steppedBus_ = true;
    }
    OSStatus err = mySetCameraFMRByIndexItem(r, index);
    if (err != noErr) return err;
    return myStartCamera(r, r->mFormat, r->mMode, r->mFrameRate);
  }

  void StopCamera() {
    if (record_) myStopCamera(record_);
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

  bool steppedBus_ = false;  // the FireWire bus clock is stepped until TearDown
};
