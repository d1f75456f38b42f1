// The trigger submenu's commands.
#include "app/TriggerModes.h"

#include <atomic>
#include <cstdio>

#include "app/ExposureControls.h"
#include "app/FrameGrabs.h"
#include "camera_driver/ORXDCAM.h"
#include "utilities/Controls.h"

OSStatus (*gMyTriggerGrabArm)(MyCameraWindowDataStruct* record, UInt8 timeoutOn) = mySaveAFrameToDisk;

namespace {

constexpr UInt32 kTriggerFeature = 0x530;
constexpr SInt32 kSelOnOff = 2, kSelMode = 9, kSelSource = 12;
constexpr UInt32 kPinReg[4] = {0x1110, 0x1120, 0x1130, 0x1140};
constexpr UInt32 kPinIdle = 0x80000000, kPinInput = 0x80000001, kPinOutputLow = 0x80010000,
                 kPinOutputHigh = 0x80010001;
constexpr MenuItemIndex kModeItem = 4, kPinSetItem = 5;

MyCameraWindowDataStruct* RecordOf(WindowRef window) {
  if (window == nullptr) return nullptr;
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(window));
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return nullptr;
  return r;
}

void WritePin(MyCameraWindowDataStruct* r, int pin, UInt32 value) {
  ORXDCAMSetQuadlet(r->mCameraHandle, 0, kPinReg[pin], 0, value);
}

// The pins of a pin set with the trigger on: the input pin, the output pin
// held high (inactive), the other two idle.
void WritePinSet(MyCameraWindowDataStruct* r, UInt8 pinSet) {
  if (pinSet) {
    WritePin(r, 0, kPinIdle);
    WritePin(r, 1, kPinIdle);
    WritePin(r, 2, kPinOutputHigh);
    WritePin(r, 3, kPinInput);
  } else {
    WritePin(r, 0, kPinInput);
    WritePin(r, 1, kPinOutputHigh);
    WritePin(r, 2, kPinIdle);
    WritePin(r, 3, kPinIdle);
  }
}

void EnableControl(MyCameraWindowDataStruct* r, OSType signature, bool on) {
  if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, signature, 0, on ? 1 : 0);
}

constexpr OSType kGrabFrame = FOUR_CHAR_CODE("GRFR"), kGrabMovie = FOUR_CHAR_CODE("GMOV"),
                 kGrabAverage = FOUR_CHAR_CODE("GRAV"), kGrabSum = FOUR_CHAR_CODE("GRSM");

void SetRunning(MyCameraWindowDataStruct* r, UInt8 value) {
  std::atomic_ref<UInt8>(r->mRunning).store(value, std::memory_order_release);
}

}  // namespace

void myChangeCameraTriggerMenuItem(WindowRef window, UInt32 item) {
  MyCameraWindowDataStruct* r = RecordOf(window);
  if (r == nullptr || item > 3) return;
  MenuRef menu = GetMenuHandle(kMyCameraTriggerMenuID);
  if (menu == nullptr) return;

  if (item == 3) {
    r->mTriggerMode = r->mTriggerMode == 0 ? 14 : 0;
    CheckMenuItem(menu, kModeItem, r->mTriggerMode == 14);
    return;
  }

  if (r->mTriggerItem <= 2) CheckMenuItem(menu, MenuItemIndex(r->mTriggerItem + 1), false);
  r->mTriggerItem = item;
  CheckMenuItem(menu, MenuItemIndex(item + 1), true);
  const UInt8 running = std::atomic_ref<UInt8>(r->mRunning).load(std::memory_order_acquire);
  SetRunning(r, 0);

  if (item == 0) {
    const OSStatus err = ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelOnOff, 0);
    if (err != noErr)
      fprintf(stderr, "myChangeCameraTriggerMenuItem ORX_TRIGGER_REG ON_OFF_CNTL 0x00 failed %d 0x%X\n", int(err),
              UInt32(err));
    const bool grabs = r->mGrabControlsEnabled != 0;
    for (OSType c : {kGrabFrame, kGrabMovie, kGrabAverage, kGrabSum}) EnableControl(r, c, grabs);
    if (r->mIsPointGrey)
      for (int pin = 0; pin < 4; pin++) WritePin(r, pin, kPinOutputLow);
    SetRunning(r, running);
    return;
  }

  if (r->mIsPointGrey) WritePinSet(r, r->mTrigger4Pin);
  OSStatus err = ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelMode, r->mTriggerMode);
  if (err != noErr) {
    fprintf(stderr, "myChangeCameraTriggerMenuItem ORX_TRIGGER_REG TRIG_MODE_CNTL 0x00 failed %d 0x%X\n", int(err),
            UInt32(err));
    SetRunning(r, running);
    return;
  }
  err = ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelOnOff, 1);
  if (err != noErr) {
    fprintf(stderr, "myChangeCameraTriggerMenuItem ORX_TRIGGER_REG ON_OFF_CNTL 0x01 failed %d 0x%X\n", int(err),
            UInt32(err));
    SetRunning(r, running);
    return;
  }
  gMyCameraSettleSleep(100000);
  if (item == 2) {
    auto arm = gMyTriggerGrabArm;
    if (arm == nullptr || arm(r, 0) != noErr) {
      SetRunning(r, running);
      return;
    }
    EnableControl(r, kGrabFrame, false);
    EnableControl(r, kGrabMovie, false);
  }
  EnableControl(r, kGrabAverage, false);
  EnableControl(r, kGrabSum, false);
  SetRunning(r, running);
}

void myChangeTriggerPins(WindowRef window) {
  MyCameraWindowDataStruct* r = RecordOf(window);
  if (r == nullptr) return;
  if (MenuRef menu = GetMenuHandle(kMyCameraTriggerMenuID)) {
    if (r->mTrigger4PinAvailable == 1) {
      r->mTrigger4Pin = r->mTrigger4Pin ? 0 : 1;
      EnableMenuItem(menu, kPinSetItem);
      CheckMenuItem(menu, kPinSetItem, r->mTrigger4Pin != 0);
    } else {
      CheckMenuItem(menu, kPinSetItem, false);
      DisableMenuItem(menu, kPinSetItem);
    }
  }

  UInt32 wasOn = 0;
  OSStatus err = ORXDCAMGetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelOnOff, &wasOn);
  if (err != noErr) {
    fprintf(stderr, "ORXDCAMGetPropertyValue ORX_TRIGGER_REG,ON_OFF_CNTL Failed err 0x%x\n", UInt32(err));
    return;
  }
  if (wasOn == 0) {
    err = ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelOnOff, 1);
    if (err != noErr) {
      fprintf(stderr, "ORXDCAMSetPropertyValue ORX_TRIGGER_REG,TRIG_MODE_CNTL 0x01 Failed err 0x%x\n", UInt32(err));
      return;
    }
  }
  WritePinSet(r, r->mTrigger4Pin);
  err = ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelSource, r->mTrigger4Pin ? 3 : 0);
  if (err != noErr && err != -2201)
    fprintf(stderr, "ORXDCAMSetPropertyValue,ORX_TRIGGER_REG,TRIG_SOURCE_CNTL Failed err 0x%x\n", UInt32(err));
  if (wasOn == 0) ORXDCAMSetPropertyValue(r->mCameraHandle, kTriggerFeature, kSelMode, 0);
}
