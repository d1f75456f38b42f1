// The camera-settings block of the capture and guiding logs.
#include "guiding/CameraSettingsLog.h"

#include <atomic>

#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"
#include "utilities/Controls.h"

namespace {

// The text of a control's value label (id 1); false when it cannot be read.
bool controlText(MyCameraWindowDataStruct* record, OSType signature, char text[255], OSStatus* status = nullptr) {
  text[0] = 0;
  OSStatus err = myGetControlTextCString(record->mControlWindow, signature, 1, text);
  if (status) *status = err;
  return err == noErr;
}

const char* binningLine(UInt32 item) {
  switch (item) {
    case 1: return "Binning Off Monochrome\r";
    case 2: return "Binning Off Color\r";
    case 3: return "Binned 2x2 Monochrome On\r";
    case 4: return "Binned 2x2 Color On\r";
    case 5: return "Binning Off Red Color Channel\r";
    case 6: return "Binning Off Green Color Channel\r";
    case 7: return "Binning Off Blue Color Channel\r";
    case 8: return "Binned 4x4 Monochrome On\r";
    default: return nullptr;
  }
}

}  // namespace

void myPrintCameraSettingsToLogFile(MyCameraWindowDataStruct* record, FILE* file) {
  if (!record || !file) return;
  MyCameraWindowDataStruct& r = *record;
  char text[255];

  if (r.mColourSensor == 1)
    fprintf(file, "Color Camera - Model:'%s' SerialNumber: 0x%X\r", r.mProperties.mName,
            unsigned(r.mProperties.mCameraID));
  else
    fprintf(file, "Monochrome Camera = Model:'%s' SerialNumber: 0x%X\r", r.mProperties.mName,
            unsigned(r.mProperties.mCameraID));

  // Rates are kept as doubles but were single precision where they came from.
  if (r.mFormat == 7)
    fprintf(file, "IIDC Format:7 Mode: %d ClrCode: %d MaxFps: %0.2f MaxPacketSize: %d \r", int(r.mMode),
            int(r.mF7ColorCoding), double(float(r.mF7MaxRate)), int(r.mF7MaxPacket));
  else
    fprintf(file, "IIDC Format: %d Mode: %d FrameRate: %0.2f\r", int(r.mFormat), int(r.mMode),
            double(float(r.mFrameRate)));

  if (r.mFormat == 7)
    fprintf(file, "Camera Display Format: %d x %d ", int(r.mF7MaxWidth), int(r.mF7MaxHeight));
  else
    fprintf(file, "Camera Display Format: %d x %d ", int(r.mWidth), int(r.mHeight));
  fprintf(file, "%d bit\r", int(r.mBitsPerPixel));

  if (r.mSoftROIEnabled && r.mSoftROIActive) {
    fprintf(file, "SoftCrop Left: %d\r", int(r.mSoftROILeft));
    fprintf(file, "SoftCrop Top: %d\r", int(r.mSoftROITop));
    fprintf(file, "SoftCrop Width: %d\r", int(r.mSoftROIWidth));
    fprintf(file, "SoftCrop: Height %d\r", int(r.mSoftROIHeight));
  } else {
    fprintf(file, "CCD Image Left: %d\r", int(r.mLeft));
    fprintf(file, "CCD Image Top: %d\r", int(r.mTop));
    fprintf(file, "CCD Image Width: %d\r", int(r.mWidth));
    fprintf(file, "CCD Image: Height %d\r", int(r.mHeight));
  }

  if (controlText(record, FOUR_CHAR_CODE("GAMA"), text)) fprintf(file, "Gamma: %s\r", text);
  if (r.mColourDisplay == 1) {
    if (r.mIsLongExposureCamera == 1) {
      OSStatus status = noErr;
      if (controlText(record, FOUR_CHAR_CODE("SAT_"), text, &status))
        fprintf(file, "Saturation: %s\r", text);
      else
        fprintf(file, "Saturation Control Err: %d\r", int(status));
    }
    if (controlText(record, FOUR_CHAR_CODE("UorB"), text)) fprintf(file, "Blue Gain: %s\r", text);
    if (controlText(record, FOUR_CHAR_CODE("VorR"), text)) fprintf(file, "Red Gain: %s\r", text);
  }
  if (controlText(record, FOUR_CHAR_CODE("GAIN"), text)) fprintf(file, "Brightness: %s\r", text);
  if (controlText(record, FOUR_CHAR_CODE("BRIT"), text)) fprintf(file, "Black Point: %s\r", text);

  if (r.mIsLongExposureCamera == 1 || r.mAbsoluteShutter == 1) {
    const double ms = r.mExposureMS;
    if (ms < 267.0) {
      if (controlText(record, FOUR_CHAR_CODE("EXPO"), text)) fprintf(file, "Exposure: %s\r", text);
    } else if (ms < 1000.0) {
      fprintf(file, "Exposure: %0.2f ms\r", ms);
    } else if (ms < 60000.0) {
      fprintf(file, "Exposure: %.2f seconds\r", double(float(ms * 0.001)));
    } else {
      fprintf(file, "Exposure: %.2f minutes \r", double(float(ms / 60000.0)));
    }
  } else {
    fprintf(file, "Exposure : %d \r", int(r.mShutterValue));
  }

  fprintf(file, "Sharpness Limiting On: %d\r", int(r.mRejectBySharpness));
  fprintf(file, "Dark Frame Subtraction On: %d\r", int(r.mUseDarkFrame));
  fprintf(file, "Flat Frame Correction On: %d\r", int(r.mUseFlatFrame));
  fprintf(file, "Invert Image On: %d\r", int(r.mInvert));
  fprintf(file, "Flip Horizontal On: %d\r", int(r.mFlipHorizontal));
  fprintf(file, "Flip Vertical On: %d\r", int(r.mFlipVertical));
  fprintf(file, "Histogram Expand On: %d\r", int(r.mHistogramExpand));

  if (const char* line = binningLine(r.mDisplayFormatItem)) fputs(line, file);

  const UInt32 longExposure = std::atomic_ref<UInt32>(r.mLongExposure).load(std::memory_order_relaxed);
  if (longExposure != 0 && r.mHotPixelFlag == 1)
    fprintf(file, "Long Exposure Replace Hot / Cold Pixels: On Cutoff Value: %d\r", int(r.mHotPixelThreshold));
  else if (longExposure == 0 && r.mLiveHotPixelFlag == 1)
    fprintf(file, "Live Replace Hot / Cold Pixels: On Cutoff Value: %d\r", int(r.mHotPixelThreshold));
  else
    fprintf(file, "Hot / Cold Pixel Replace: Off\r");

  if (r.mTemperatureMode != 0) {
    // Single precision on purpose: 273.15 K reads 0.0 C, where double
    // arithmetic on the float kelvin value would print -0.0.
    const float kelvin = std::atomic_ref<float>(r.mShownTemperatureK).load(std::memory_order_relaxed);
    const float celsius = kelvin - 273.15f;
    const float fahrenheit = celsius * 1.8f + 32.0f;
    fprintf(file, "Camera Temp: %.1f C / %.1f F\r", double(celsius), double(fahrenheit));
  }
  fflush(file);
}
