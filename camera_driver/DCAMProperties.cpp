// The capability block: the IIDC inquiry registers read once at opening and
// condensed into byte flags, plus where each feature's absolute-value
// registers lie.
#include <cstring>

#include "camera_driver/DCAMInternal.h"

const UInt32 kDCAMFeatureInquiry[kDCAMFeatureCount] = {
    0x500, 0x504, 0x508, 0x50C, 0x510, 0x514, 0x520, 0x518, 0x51C, 0x524,
    0x528, 0x52C, 0x530, 0x580, 0x584, 0x588, 0x58C, 0x534, 0x538, 0x53C};

namespace {

// Feature inquiry 0x404, bits 31..16, and 0x408, bits 31..28: which feature
// each presence bit stands for.
const UInt32 kPresence404[16] = {kDCAMBrightness, kDCAMAutoExposure, kDCAMSharpness, kDCAMWhiteBalance,
                                 kDCAMHue, kDCAMSaturation, kDCAMGamma, kDCAMShutter,
                                 kDCAMGain, kDCAMIris, kDCAMFocus, kDCAMTemperature,
                                 kDCAMTrigger, kDCAMTriggerDelay, kDCAMWhiteShading, kDCAMFrameRate};
const UInt32 kPresence408[4] = {kDCAMZoom, kDCAMPan, kDCAMTilt, kDCAMOpticalFilter};

inline UInt8 Bit(UInt32 value, int bit) { return UInt8((value >> bit) & 1); }

void SetPresence(MyDCAMCameraStruct* camera, UInt32 feature) {
  MyDCAMCameraPropertiesStruct& p = camera->mProperties;
  p.mFeaturePresent[feature] = 1;
  myCheckAbsProperty(camera, kDCAMFeatureInquiry[feature], &camera->mAbsOffset[feature],
                     &p.mAbsoluteCapable[feature]);
}

}  // namespace

void myCheckAbsProperty(MyDCAMCameraStruct* camera, UInt32 featureOffset, UInt32* absoluteOffset,
                        UInt8* absoluteCapable) {
  *absoluteOffset = 0;
  *absoluteCapable = 0;
  if (camera->mIIDCVersion <= 0x101) return;
  UInt32 inquiry;
  if (myGetRegisterQuadlet(camera, featureOffset, &inquiry) != noErr) return;
  if (!Bit(inquiry, 30)) return;
  UInt32 quadletOffset;
  if (myGetRegisterQuadlet(camera, featureOffset + 0x200, &quadletOffset) != noErr) return;
  UInt32 address = (quadletOffset * 4) | 0xF0000000u;
  if (address <= camera->mCommandBase) return;
  *absoluteOffset = address - camera->mCommandBase;
  *absoluteCapable = 1;
}

void myExtractDCAMProperties(MyDCAMCameraStruct* camera) {
  MyDCAMCameraPropertiesStruct& p = camera->mProperties;
  // The identity bytes belong to the opening, not to the inquiry registers.
  UInt32 id = p.mCameraID, vendor = p.mVendor;
  char name[80];
  std::memcpy(name, p.mName, sizeof name);
  std::memset(&p, 0, sizeof p);
  p.mCameraID = id;
  p.mVendor = vendor;
  std::memcpy(p.mName, name, sizeof name);
  std::memset(camera->mAbsOffset, 0, sizeof camera->mAbsOffset);

  UInt32 formats;
  if (myGetRegisterQuadlet(camera, 0x100, &formats) == noErr) {
    p.mVersion = 0x00030000;
    p.mFormat[0].mFormatSupported = Bit(formats, 31);
    p.mFormat[1].mFormatSupported = Bit(formats, 30);
    p.mFormat[2].mFormatSupported = Bit(formats, 29);
    p.mFormat7Supported = Bit(formats, 24);

    for (UInt32 f = 0; f < 3; f++) {
      MyDCAMFormatProperties& fp = p.mFormat[f];
      UInt32 modes;
      if (!fp.mFormatSupported || myGetRegisterQuadlet(camera, 0x180 + 4 * f, &modes) != noErr) continue;
      const UInt32 modeCount = f == 0 ? 7 : 8;
      for (UInt32 m = 0; m < modeCount; m++) {
        if (!Bit(modes, 31 - int(m))) continue;
        UInt32 rates;
        if (myGetRegisterQuadlet(camera, 0x200 + 0x20 * f + 4 * m, &rates) != noErr) continue;
        fp.mModeSupported[m] = 1;
        for (int r = 0; r < 8; r++) fp.mRateSupported[m][r] = Bit(rates, 31 - r);
      }
    }

    UInt32 modes7;
    if (p.mFormat7Supported && myGetRegisterQuadlet(camera, 0x19C, &modes7) == noErr)
      for (int m = 0; m < 32; m++) p.mFormat7ModeSupported[m] = Bit(modes7, 31 - m);

    UInt32 features;
    if (myGetRegisterQuadlet(camera, 0x404, &features) == noErr)
      for (int b = 0; b < 16; b++)
        if (Bit(features, 31 - b)) SetPresence(camera, kPresence404[b]);
    if (myGetRegisterQuadlet(camera, 0x408, &features) == noErr)
      for (int b = 0; b < 4; b++)
        if (Bit(features, 31 - b)) SetPresence(camera, kPresence408[b]);
  }
  camera->mFormat = 9;
  camera->mMode = 32;
  camera->mRate = 9;
}
