// Formats, modes and rates: fixed IIDC modes and scalable Format 7 regions,
// the geometry, pixel code and packet size that follow, the registers that
// program them (in a fixed order, 10 ms apart) and the frame ring.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "camera_driver/DCAMInternal.h"
#include "platform/iokit/IIDCTables.h"

UInt32 gDCAMWriteSpacingMicros = 10000;
UInt32 gDCAMValueSettingPollMicros = 30000;

namespace {

// The IIDC tables (fixed modes, rates, Format 7 codings) are shared with the
// other side of the bus.
using iidc::CodingToPixel;
using iidc::FixedMode;
using iidc::kFixedModes;
using iidc::kRates;
using iidc::k2vuy;
using iidc::kRaw;
using iidc::kV308;
using iidc::kY411;

void Pause(UInt32 micros) {
  if (micros) usleep(micros);
}

// Validation with the callers' retry, chosen from where the failed search
// stopped: a downward search ends at 0 and tries again upward from 0 (so a
// mode that offers only faster rates gets the slowest of them), an upward
// search ends at 7 and tries again downward from 5.
OSStatus ValidRate(const MyDCAMCameraPropertiesStruct* p, UInt32 format, UInt32 mode, UInt32 requested,
                   UInt32* rateIndex) {
  *rateIndex = requested;
  OSStatus err = myGetValidCameraRate(p, format, mode, rateIndex);
  if (err == -3) {
    *rateIndex = *rateIndex < 3 ? 0 : 5;
    err = myGetValidCameraRate(p, format, mode, rateIndex);
  }
  return err;
}

// The three-slot ring: 4 pages + 3 frames, slots on page boundaries.
OSStatus AllocateFrameRing(MyDCAMCameraStruct* camera, UInt32 frameBytes) {
  // A USB slot takes a whole bulk read: the frame rounded up to the packet size.
  if (camera->mVendor == kDCAMUSBVendor) frameBytes = myUSBBulkReadSize(frameBytes, camera->mUSBPipeMaxPacketSize);
  std::free(camera->mRingBlock);
  camera->mRingBlock = nullptr;
  camera->mSlot[0] = camera->mSlot[1] = camera->mSlot[2] = nullptr;
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t size = 4 * page + 3 * size_t(frameBytes);
  auto* block = static_cast<UInt8*>(std::malloc(size));
  if (!block) return memFullErr;
  std::memset(block, 0xFF, size);
  auto up = [page](UInt8* p) { return reinterpret_cast<UInt8*>((reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1)); };
  camera->mRingBlock = block;
  camera->mSlot[0] = up(block);
  camera->mSlot[1] = up(camera->mSlot[0] + frameBytes);
  camera->mSlot[2] = up(camera->mSlot[1] + frameBytes);
  return noErr;
}

// Value setting of a Format 7 block: ask, then poll bit 30 (at most five
// reads, 30 ms apart). Error 1 (bit 23) refuses the region.
OSStatus ValueSetting(MyDCAMCameraStruct* camera, UInt32 block) {
  OSStatus err = mySetAddressQuadlet(camera, 0xFFFF, block + 0x7C, 0xC0000000);
  if (err != noErr) return err;
  UInt32 v = 0;
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x7C, &v)) != noErr) return err;
  int reads = 1;
  while ((v & 0x40000000) && reads < 5) {
    Pause(gDCAMValueSettingPollMicros);
    if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x7C, &v)) != noErr) return err;
    reads++;
  }
  if (v & 0x40000000) {
    Pause(gDCAMValueSettingPollMicros);
    return noErr;
  }
  return (v & 0x00800000) ? paramErr : noErr;
}

// Packet unit and maximum clamped to the bus's maximum packet bytes M.
void ClampPacket(UInt32 m, UInt32* unit, UInt32* max) {
  if (*unit > m) {
    *unit = *max = m;
  } else if (*max > m) {
    *max = *unit * (m / *unit);
  }
}

}  // namespace

bool myCameraFMToPixParams(UInt32 format, UInt32 mode, UInt32 rateIndex, UInt32* width, UInt32* height,
                           OSType* code, UInt32* bits, UInt32* bytesPerPacket) {
  if (format > 2 || mode > 7 || (format == 0 && mode > 6)) return false;
  const FixedMode& m = kFixedModes[format][mode];
  *width = m.width;
  *height = m.height;
  *code = m.code;
  *bits = m.bits;
  *bytesPerPacket = rateIndex > m.top ? 0 : m.base >> (m.top - rateIndex);
  return true;
}

UInt32 myRateIndexFromFPS(double fps) {
  for (UInt32 i = 7; i > 0; i--)
    if (fps >= kRates[i]) return i;
  return 0;
}

double myFPSFromRateIndex(UInt32 rateIndex) { return rateIndex < 8 && rateIndex != 4 ? kRates[rateIndex] : 30.0; }

OSStatus myGetValidCameraRate(const MyDCAMCameraPropertiesStruct* p, UInt32 format, UInt32 mode, UInt32* rateIndex) {
  if (format > 2) return -1;
  if (mode > 7 || !p->mFormat[format].mFormatSupported || !p->mFormat[format].mModeSupported[mode]) return -2;
  if (*rateIndex > 7) return -3;
  const UInt8* rates = p->mFormat[format].mRateSupported[mode];
  if (rates[*rateIndex]) return noErr;
  if (*rateIndex > 0) {
    for (int r = int(*rateIndex) - 1; r >= 0; r--) {
      *rateIndex = UInt32(r);
      if (rates[r]) return noErr;
    }
  } else {
    for (UInt32 r = 1; r < 8; r++) {
      *rateIndex = r;
      if (rates[r]) return noErr;
    }
  }
  return -3;
}

UInt32 myPacketsPerSegment(UInt32 n) {
  if (n <= 270) return n;
  for (UInt32 d = 2; d <= 256; d++)
    if (n % d == 0 && n / d <= 270) return n / d;
  return 270;
}

OSStatus myGetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo) {
  if (!camera) return kIOReturnNoDevice;
  if (mode > 31) return paramErr;
  UInt32 quadlets = 0;
  OSStatus err = myGetRegisterQuadlet(camera, 0x2E0 + 4 * mode, &quadlets);
  if (err != noErr) return err;
  *addressLo = (quadlets * 4) | 0xF0000000u;
  return noErr;
}

OSStatus myGetModeSevenCapabilities(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* maxWidth, UInt32* maxHeight,
                                    UInt32* unitWidth, UInt32* unitHeight, UInt32* unitPosWidth,
                                    UInt32* unitPosHeight, UInt32* packetUnit, UInt32* packetMax,
                                    UInt32* codingBits) {
  UInt32 block = 0, v = 0;
  OSStatus err = myGetModeSevenBaseAddress(camera, mode, &block);
  if (err != noErr) return err;
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x00, &v)) != noErr) return err;
  *maxWidth = v >> 16;
  *maxHeight = v & 0xFFFF;
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x04, &v)) != noErr) return err;
  *unitWidth = *unitPosWidth = v >> 16;
  *unitHeight = *unitPosHeight = v & 0xFFFF;
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x14, codingBits)) != noErr) return err;
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x40, &v)) != noErr) return err;
  *packetUnit = v >> 16;
  *packetMax = v & 0xFFFF;
  if (*packetUnit) ClampPacket(camera->mMaxPacketBytes, packetUnit, packetMax);
  if (camera->mIIDCVersion > 0x101) {
    if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x4C, &v)) != noErr) return err;
    if (v >> 16) *unitPosWidth = v >> 16;
    if (v & 0xFFFF) *unitPosHeight = v & 0xFFFF;
  }
  return noErr;
}

OSStatus ORX_DCAM_GetModeSevenBaseAddress(MyDCAMCameraStruct* camera, UInt32 mode, UInt32* addressLo) {
  if (!camera) return kIOReturnNoDevice;
  return myGetModeSevenBaseAddress(camera, mode, addressLo);
}

OSStatus ORX_DCAM_SetFMR(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps) {
  if (!camera) return kIOReturnNoDevice;
  if (format > 2 || mode > 7 || (format == 0 && mode > 6)) return -2201;
  UInt32 rate = 0;
  if (ValidRate(&camera->mProperties, format, mode, myRateIndexFromFPS(fps), &rate) != noErr) return -2201;
  UInt32 width, height, bits, bytesPerPacket;
  OSType code;
  myCameraFMToPixParams(format, mode, rate, &width, &height, &code, &bits, &bytesPerPacket);
  // A camera that claims a rate above its mode's table has no packet size for it.
  if (bytesPerPacket == 0) return -2201;
  if (format == camera->mFormat && mode == camera->mMode && rate == camera->mRate && camera->mRingBlock) return noErr;

  bool wasTransmitting = false, hadChannel = false;
  OSStatus err = myStopForReprogramming(camera, &wasTransmitting, &hadChannel);
  if (err != noErr) return err;  // never free the ring under a running callback

  camera->mF7Left = camera->mF7Top = 0;
  camera->mWidth = width;
  camera->mHeight = height;
  camera->mPixelFormat = code;
  camera->mBitsPerPixel = bits;
  camera->mBytesPerPacket = bytesPerPacket;
  camera->mRecvPacketSize = bytesPerPacket + 4;
  camera->mFormat = format;
  camera->mMode = mode;
  camera->mRate = rate;
  camera->mFrameByteCount = UInt32(UInt64(width) * height * bits / 8);
  const UInt32 packets = (camera->mFrameByteCount + bytesPerPacket - 1) / bytesPerPacket;
  camera->mPacketsPerSegment = myPacketsPerSegment(packets);
  if ((err = AllocateFrameRing(camera, camera->mFrameByteCount)) != noErr) {
    camera->mRate = 9;
    return err;
  }
  const UInt32 writes[3][2] = {{0x608, format << 29}, {0x604, mode << 29}, {0x600, rate << 29}};
  for (const auto& w : writes) {
    if (err == noErr) err = mySetRegisterQuadlet(camera, w[0], w[1]);
    Pause(gDCAMWriteSpacingMicros);
  }
  if (err != noErr) {
    camera->mRate = 9;  // the same call must program the camera again
    return err;
  }
  camera->mFormatSet = 1;
  if ((err = myRestartAfterReprogramming(camera, wasTransmitting, hadChannel)) != noErr) camera->mRate = 9;
  return err;
}

OSStatus ORX_DCAM_SetModeSeven(MyDCAMCameraStruct* camera, UInt32 mode, UInt32 left, UInt32 top, UInt32 width,
                               UInt32 height, UInt32 colorCodingID, UInt32 bytesPerPacket) {
  if (!camera) return kIOReturnNoDevice;
  const MyDCAMCameraPropertiesStruct& p = camera->mProperties;
  if (mode > 31 || !p.mFormat7Supported || !p.mFormat7ModeSupported[mode]) return -2201;

  bool wasTransmitting = false, hadChannel = false;
  OSStatus err = myStopForReprogramming(camera, &wasTransmitting, &hadChannel);
  if (err != noErr) return err;

  UInt32 block = 0, maxW, maxH, unitW, unitH, posW, posH, packetUnit, packetMax, codingBits;
  if ((err = myGetModeSevenBaseAddress(camera, mode, &block)) != noErr) return err;
  if ((err = myGetModeSevenCapabilities(camera, mode, &maxW, &maxH, &unitW, &unitH, &posW, &posH, &packetUnit,
                                        &packetMax, &codingBits)) != noErr)
    return err;
  // Units of 0 from the camera cannot describe any region.
  if (unitW == 0 || unitH == 0 || packetUnit == 0) return paramErr;
  if (width == 0) left = 0, width = maxW;
  if (height == 0) top = 0, height = maxH;
  if (width == 0 || height == 0) return paramErr;
  if (width % unitW || UInt64(left) + width > maxW || (maxW == unitW && width != maxW)) return paramErr;
  if (height % unitH || UInt64(top) + height > maxH || (maxH == unitH && height != maxH)) return paramErr;
  if ((left && left % posW) || (top && top % posH)) return paramErr;
  OSType code;
  UInt32 bits;
  if (!CodingToPixel(colorCodingID, &code, &bits) || !((codingBits >> (31 - colorCodingID)) & 1)) return paramErr;

  UInt32 v = 0;
  const bool valueSetting = camera->mIIDCVersion >= 0x102 &&
                            myGetAddressQuadlet(camera, 0xFFFF, block + 0x7C, &v) == noErr && (v & 0x80000000u);

  // From here on the camera's settings change: until the end, the handle's
  // settings are not to be trusted for the "nothing changed" shortcut.
  camera->mRate = 9;
  UInt32 isoChannel = 0;
  if ((err = myGetRegisterQuadlet(camera, 0x60C, &isoChannel)) != noErr) return err;
  Pause(gDCAMWriteSpacingMicros);
  if ((err = mySetRegisterQuadlet(camera, 0x608, 0xE0000000)) != noErr) return err;
  Pause(gDCAMWriteSpacingMicros);
  const UInt32 modeBank = mode >= 24 ? 3 : mode >= 16 ? 2 : mode >= 8 ? 1 : 0;
  if ((err = mySetRegisterQuadlet(camera, 0x604, (mode << 29) | (modeBank << 24))) != noErr) return err;
  Pause(gDCAMWriteSpacingMicros);
  if ((err = mySetRegisterQuadlet(camera, 0x60C, isoChannel)) != noErr) return err;

  if ((camera->mVendor >> 8) == 0x000168) {
    Pause(gDCAMWriteSpacingMicros);
    if ((err = mySetAddressQuadlet(camera, 0xFFFF, block + 0x08, 0)) != noErr) return err;
    if ((err = mySetAddressQuadlet(camera, 0xFFFF, block + 0x0C, width << 16 | height)) != noErr) return err;
  }
  const UInt32 region[3][2] = {{0x08, left << 16 | top}, {0x0C, width << 16 | height}, {0x10, colorCodingID << 24}};
  for (const auto& r : region) {
    Pause(gDCAMWriteSpacingMicros);
    if ((err = mySetAddressQuadlet(camera, 0xFFFF, block + r[0], r[1])) != noErr) return err;
  }
  if (valueSetting && (err = ValueSetting(camera, block)) != noErr) return err;

  // Packet size, from what the camera allows for this region.
  if ((err = myGetAddressQuadlet(camera, 0xFFFF, block + 0x40, &v)) != noErr) return err;
  packetUnit = v >> 16;
  packetMax = v & 0xFFFF;
  if (packetUnit == 0) return paramErr;
  ClampPacket(camera->mMaxPacketBytes, &packetUnit, &packetMax);
  if (packetUnit == 0 || packetMax < packetUnit) return paramErr;
  UInt32 bpp;
  if (bytesPerPacket == 0 || bytesPerPacket > packetMax)
    bpp = packetUnit * (packetMax / packetUnit);
  else if (bytesPerPacket < packetUnit)
    bpp = packetUnit;
  else
    bpp = bytesPerPacket - bytesPerPacket % packetUnit;
  if ((err = mySetAddressQuadlet(camera, 0xFFFF, block + 0x44, bpp << 16)) != noErr) return err;
  if (valueSetting && myGetAddressQuadlet(camera, 0xFFFF, block + 0x7C, &v) == noErr && !(v & 0x00400000))
    Pause(gDCAMValueSettingPollMicros);

  const UInt64 frameBytes = UInt64(width) * height * bits / 8;
  if (frameBytes == 0 || frameBytes > 0xFFFFFFFFull) return paramErr;
  camera->mF7Left = left;
  camera->mF7Top = top;
  camera->mWidth = width;
  camera->mHeight = height;
  camera->mFormat = 7;
  camera->mMode = mode;
  camera->mPixelFormat = code;
  camera->mBitsPerPixel = bits;
  camera->mBytesPerPacket = bpp;
  camera->mRecvPacketSize = bpp + 4;
  camera->mFrameByteCount = UInt32(frameBytes);
  camera->mPacketsPerSegment = myPacketsPerSegment(UInt32((frameBytes + bpp - 1) / bpp));
  if ((err = AllocateFrameRing(camera, camera->mFrameByteCount)) != noErr) return err;
  camera->mRate = 1;
  camera->mFormatSet = 1;
  if ((err = myRestartAfterReprogramming(camera, wasTransmitting, hadChannel)) != noErr) camera->mRate = 9;
  return err;
}

OSStatus ORX_DCAM_GetFMRProperties(MyDCAMCameraStruct* camera, UInt32 format, UInt32 mode, double fps,
                                   UInt32* maxWidth, UInt32* maxHeight, UInt32* unitWidth, UInt32* unitHeight,
                                   UInt32* unitPosWidth, UInt32* unitPosHeight, UInt32* packetUnit,
                                   UInt32* packetMax, UInt32* codingBits) {
  if (!camera) return kIOReturnNoDevice;
  const MyDCAMCameraPropertiesStruct& p = camera->mProperties;
  if (format > 2) {
    if (mode > 31 || !p.mFormat7Supported || !p.mFormat7ModeSupported[mode]) return -2201;
    return myGetModeSevenCapabilities(camera, mode, maxWidth, maxHeight, unitWidth, unitHeight, unitPosWidth,
                                      unitPosHeight, packetUnit, packetMax, codingBits);
  }
  if (mode > 7 || (format == 0 && mode > 6)) return -2201;
  UInt32 rate = 0;
  OSStatus err = ValidRate(&p, format, mode, myRateIndexFromFPS(fps), &rate);
  if (err != noErr) return err;
  UInt32 width, height, bits, bytesPerPacket;
  OSType code;
  myCameraFMToPixParams(format, mode, rate, &width, &height, &code, &bits, &bytesPerPacket);
  *maxWidth = *unitWidth = *unitPosWidth = width;
  *maxHeight = *unitHeight = *unitPosHeight = height;
  *packetUnit = *packetMax = bytesPerPacket;
  if (code == kY411) *codingBits = 0x40000000;
  else if (code == k2vuy) *codingBits = 0x20000000;
  else if (code == kV308) *codingBits = 0x10000000;
  else *codingBits = bits == 8 ? 0x80000000 : 0x08000000;
  return noErr;
}

OSStatus ORX_DCAM_GetFMRWHOB(MyDCAMCameraStruct* camera, UInt32* format, UInt32* mode, double* fps, UInt32* left,
                             UInt32* top, UInt32* width, UInt32* height, UInt32* pixelFormat, UInt32* bits) {
  if (!camera) return kIOReturnNoDevice;
  if (!camera->mFormatSet) return paramErr;
  *format = camera->mFormat;
  *mode = camera->mMode;
  if (camera->mFormat == 7)
    *fps = camera->mFrameByteCount ? double(camera->mBytesPerPacket) * 8000.0 / camera->mFrameByteCount : 0.0;
  else
    *fps = myFPSFromRateIndex(camera->mRate);
  *left = camera->mF7Left;
  *top = camera->mF7Top;
  *width = camera->mWidth;
  *height = camera->mHeight;
  *pixelFormat = camera->mPixelFormat;
  *bits = camera->mBitsPerPixel;
  return noErr;
}
