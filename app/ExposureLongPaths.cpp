// The exposure paths that need the long-exposure thread.
#include <stdlib.h>

#include <atomic>
#include <cstdio>

#include "app/ExposureControls.h"
#include "app/ExposureLongPaths.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kExpo = FOUR_CHAR_CODE("EXPO");

void Enable(MyCameraWindowDataStruct* r, OSType signature, SInt32 id, bool on) {
  if (r->mControlWindow) myEnableDisableControl(r->mControlWindow, signature, id, on ? 1 : 0);
}

}  // namespace

OSStatus myLongExposureKindRateItem(MyCameraWindowDataStruct* r, UInt32 item) {
  Enable(r, FOUR_CHAR_CODE("AUEX"), 0, r->mAutoShutterAvailable);
  UInt32 code;
  if (item >= 1 && item <= 4) {
    code = 4;
    r->mFrameRate = 30.0;
  } else if (item == 5) {
    code = 3;
    if (r->mFrameRate > 15.0) r->mFrameRate = 15.0;
  } else {
    code = 2;
    if (r->mFrameRate > 7.5) r->mFrameRate = 7.5;
  }
  r->mExposureRateItem = code;
  r->mExposureMS = 1000.0 / r->mFrameRate;
  ORXDCAMSetPropertyValue(r->mCameraHandle, 0x524, 0, code);
  mySetFMRMenus(r);
  OSStatus err = mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
  char text[64];
  snprintf(text, sizeof text, "%5.2f ms",
           double(float(myCalcTSLV1501SliderValToExposTimeMS(r->mShutterValue, code))));
  if (r->mControlWindow) myChangeControlTxt(r->mControlWindow, kExpo, 1, text);
  return err;
}

OSStatus myLongExposureKindLongItem(MyCameraWindowDataStruct*, UInt32) { return -2201; }

OSStatus myPointGreyTriggerLongExposure(MyCameraWindowDataStruct*) { return -2201; }
