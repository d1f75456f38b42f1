// Opening and closing an ORX_BAYER instance and the selectors answered by the
// component itself rather than by the base image decompressor.
#include "bayer_codec/BayerCodec.h"
#include "platform/coreservices/CoreServices.h"

namespace {

constexpr SInt16 kCodecInfoResourceID = 256;
constexpr Size kWantedPixelFormatsBytes = 16;

// A 450 MHz processor is the unit of the decode-time estimate.
double speedFactorFor(OSErr err, SInt32 response) {
  if (err != noErr) return 1.0;
  double mhz = double(UInt32(response)) * 1e-6;
  if (mhz < 1.0) return 1.0;
  return 450.0 / mhz;
}

}  // namespace

extern "C" ComponentResult Bayer_ImageCodecOpen(BayerCodecGlobals*, ComponentInstance self) {
  auto* glob = reinterpret_cast<BayerCodecGlobals*>(NewPtrClear(sizeof(BayerCodecGlobals)));
  if (!glob) return memFullErr;
  // From here on a failure leaves the record to Close, which takes it apart.
  SetComponentInstanceStorage(self, reinterpret_cast<Handle>(glob));
  glob->self = self;
  glob->target = self;

  glob->wantedPixelFormats = NewHandle(kWantedPixelFormatsBytes);
  if (!glob->wantedPixelFormats) {
    OSErr err = MemError();
    return err != noErr ? err : OSErr(memFullErr);
  }
  OSErr err = OpenADefaultComponent(decompressorComponentType, kBaseCodecType, &glob->delegate);
  if (err != noErr) return err;

  glob->methodOverride = kBayerMethodFromQuality;
  SInt32 clock = 0;
  OSErr clockErr = Gestalt(FOUR_CHAR_CODE("pclk"), &clock);
  glob->speedFactor = speedFactorFor(clockErr, clock);

  ComponentSetTarget(glob->delegate, self);
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecClose(BayerCodecGlobals* storage, ComponentInstance) {
  if (!storage) return noErr;
  if (storage->delegate) {
    CloseComponent(storage->delegate);
    storage->delegate = nullptr;
  }
  if (storage->wantedPixelFormats) {
    DisposeHandle(storage->wantedPixelFormats);
    storage->wantedPixelFormats = nullptr;
  }
  storage->drawBandProc = nullptr;
  DisposePtr(reinterpret_cast<Ptr>(storage));
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecVersion(BayerCodecGlobals*) { return kBayerCodecVersion; }

extern "C" ComponentResult Bayer_ImageCodecTarget(BayerCodecGlobals* storage, ComponentInstance target) {
  storage->target = target;
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecGetMPWorkFunction(BayerCodecGlobals* storage,
                                                             ComponentMPWorkFunctionUPP* workFunction, void** refCon) {
  if (!storage->drawBandProc)
    storage->drawBandProc = reinterpret_cast<ImageCodecMPDrawBandUPP>(Bayer_ImageCodecDrawBand);
  return ImageCodecGetBaseMPWorkFunction(storage->delegate, workFunction, refCon, storage->drawBandProc, storage);
}

extern "C" ComponentResult Bayer_ImageCodecGetCodecInfo(BayerCodecGlobals* storage, CodecInfo* info) {
  if (!info) return paramErr;
  Handle h = nullptr;
  OSErr err = GetComponentResource(reinterpret_cast<Component>(storage->self), codecInfoResourceType,
                                   kCodecInfoResourceID, &h);
  if (err != noErr) return err;
  if (GetHandleSize(h) < Size(sizeof(CodecInfo))) {
    DisposeHandle(h);
    return resNotFound;
  }
  BlockMoveData(*h, info, sizeof(CodecInfo));
  DisposeHandle(h);
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecEndBand(BayerCodecGlobals*, ImageSubCodecDecompressRecord*, OSErr, SInt32) {
  return noErr;
}

extern "C" ComponentResult Bayer_ImageCodecQueueStarting(BayerCodecGlobals*) { return noErr; }

extern "C" ComponentResult Bayer_ImageCodecQueueStopping(BayerCodecGlobals*) { return noErr; }
