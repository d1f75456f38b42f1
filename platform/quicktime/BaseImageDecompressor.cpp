// The base image decompressor ('imdc', 'base'): what a codec delegates to.
// It keeps the codec that set itself as its target, and its multiprocessor
// work function runs that codec's DrawBand for one frame on the calling
// thread, which may be any thread. Decompression sequences drive a codec
// through the sub-codec selectors frame by frame.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/coreservices/CoreServices.h"

#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

struct BaseDecompressorGlobals {
  ComponentInstance self;
  ComponentInstance target;  // the codec that delegates to this instance
  ImageCodecMPDrawBandUPP drawProc;
  void* drawProcRefCon;
};

// A codec hands over its DrawBand, whose first argument is its own globals
// type: the call passes the same pointer either way, which clang's
// function-type check would call a mismatch.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
ComponentResult baseWorkFunction(void* globalRefCon, ImageSubCodecDecompressRecord* drp) {
  auto* g = static_cast<BaseDecompressorGlobals*>(globalRefCon);
  if (!g || !g->drawProc) return paramErr;
  return g->drawProc(g->drawProcRefCon, drp);
}

bool takes(SInt16 selector) {
  switch (selector) {
    case kComponentOpenSelect:
    case kComponentCloseSelect:
    case kComponentCanDoSelect:
    case kComponentVersionSelect:
    case kComponentTargetSelect:
    case kImageCodecGetBaseMPWorkFunctionSelect:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" ComponentResult SkyloomBaseImageDecompressorDispatch(ComponentParameters* params, Handle storage) {
  auto* g = reinterpret_cast<BaseDecompressorGlobals*>(storage);
  auto slot = [&](int i) { return params->params[i]; };
  auto has = [&](int slots) { return params->paramSize >= slots * sizeof(long); };
  switch (params->what) {
    case kComponentOpenSelect: {
      if (!has(1)) return paramErr;
      auto self = reinterpret_cast<ComponentInstance>(slot(0));
      auto* ng = new (std::nothrow) BaseDecompressorGlobals{self, self, nullptr, nullptr};
      if (!ng) return memFullErr;
      SetComponentInstanceStorage(self, reinterpret_cast<Handle>(ng));
      return noErr;
    }
    case kComponentCloseSelect:
      delete g;
      return noErr;
    case kComponentCanDoSelect:
      return has(1) && takes(SInt16(slot(0))) ? 1 : 0;
    case kComponentVersionSelect:
      return 0x00010001;
    case kComponentTargetSelect:
      if (!g || !has(1)) return paramErr;
      g->target = reinterpret_cast<ComponentInstance>(slot(0));
      return noErr;
    case kImageCodecGetBaseMPWorkFunctionSelect: {
      if (!g || !has(4)) return paramErr;
      auto* workFunction = reinterpret_cast<ComponentMPWorkFunctionUPP*>(slot(0));
      auto* refCon = reinterpret_cast<void**>(slot(1));
      auto drawProc = reinterpret_cast<ImageCodecMPDrawBandUPP>(slot(2));
      if (!workFunction || !refCon || !drawProc) return paramErr;
      g->drawProc = drawProc;
      g->drawProcRefCon = reinterpret_cast<void*>(slot(3));
      *workFunction = baseWorkFunction;
      *refCon = g;
      return noErr;
    }
    default:
      return badComponentSelector;
  }
}

// ---------------------------------------------------------------- sequences

struct SkyloomDecompressSequenceRecord {
  ComponentInstance codec = nullptr;
  std::mutex setUp;  // Initialize, Preflight and BeginBand one at a time
  bool initialized = false;
  SInt32 recordSize = 0;
  ComponentMPWorkFunctionUPP work = nullptr;  // null: DrawBand is called directly
  void* workRefCon = nullptr;
};

namespace {

struct PausePoint {
  void (*pause)(void*);
  void* refCon;
};
std::atomic<const PausePoint*> gPausePoint{nullptr};
PausePoint gPauseSlots[2];
std::mutex gPauseLock;
int gPauseSlot = 0;

// Whether the codec offers the destination's pixel format.
bool offered(const CodecDecompressParams& p, const CodecCapabilities& caps) {
  const OSType format = p.dstPixMap.pixelFormat;
  OSType** types = p.wantedDestinationPixelTypes;
  if (!types || !*types) return p.dstPixMap.pixelSize == caps.wantedPixelSize;
  const long slots = long(GetHandleSize(reinterpret_cast<Handle>(types)) / Size(sizeof(OSType)));
  for (long i = 0; i < slots && (*types)[i] != 0; ++i)
    if ((*types)[i] == format) return true;
  return false;
}

// The whole frame lies inside the pixel map from dstRect's top-left corner.
bool fits(const PixMap& pm, const Rect& at, long w, long h) {
  if (!pm.baseAddr || pm.pixelSize <= 0 || pm.rowBytes <= 0) return false;
  const long x0 = long(at.left) - pm.bounds.left, y0 = long(at.top) - pm.bounds.top;
  const long bw = long(pm.bounds.right) - pm.bounds.left, bh = long(pm.bounds.bottom) - pm.bounds.top;
  if (x0 < 0 || y0 < 0 || x0 + w > bw || y0 + h > bh) return false;
  return (long long)(x0 + w) * pm.pixelSize <= (long long)pm.rowBytes * 8;
}

}  // namespace

OSErr SkyloomOpenDecompressSequence(CodecType codec, SkyloomDecompressSequence* seq) {
  if (!seq) return paramErr;
  *seq = nullptr;
  auto s = std::make_unique<SkyloomDecompressSequenceRecord>();
  OSErr err = OpenADefaultComponent(decompressorComponentType, codec, &s->codec);
  if (err == invalidComponentID) return noCodecErr;
  if (err != noErr) return err;
  *seq = s.release();
  return noErr;
}

void SkyloomCloseDecompressSequence(SkyloomDecompressSequence seq) {
  if (!seq) return;
  if (seq->codec) CloseComponent(seq->codec);
  delete seq;
}

void SkyloomSetDecompressPausePoint(void (*pause)(void*), void* refCon) {
  std::lock_guard<std::mutex> g(gPauseLock);
  if (!pause) {
    gPausePoint.store(nullptr);
    return;
  }
  // Two slots, so that a decoder still reading the previous point reads a
  // whole one.
  gPauseSlot ^= 1;
  gPauseSlots[gPauseSlot] = {pause, refCon};
  gPausePoint.store(&gPauseSlots[gPauseSlot]);
}

OSErr SkyloomDecompressFrame(SkyloomDecompressSequence seq, ImageDescriptionHandle desc, Ptr data,
                             SInt32 bufferSize, const PixMap* dst, const Rect* dstRect) {
  if (!seq || !seq->codec || !desc || !*desc || !data || !dst || bufferSize < 0) return paramErr;
  const Rect at = dstRect ? *dstRect : dst->bounds;
  const long w = (*desc)->width, h = (*desc)->height;
  // A frame of no area is the codec's to refuse; any other must fit.
  if (w > 0 && h > 0 && !fits(*dst, at, w, h)) return paramErr;

  CodecCapabilities caps{};
  CodecDecompressParams p{};
  p.imageDescription = desc;
  p.data = data;
  p.bufferSize = bufferSize;
  p.startLine = 0;
  p.stopLine = SInt32(h);
  p.capabilities = &caps;
  p.dstPixMap = *dst;
  p.srcRect = Rect{0, 0, (*desc)->height, (*desc)->width};
  p.dstRect = at;
  p.accuracy = (*desc)->spatialQuality;
  p.transferMode = 0;

  // The per-frame record: on the stack when it is small.
  alignas(16) UInt8 small[256];
  std::unique_ptr<UInt8[]> large;
  ImageSubCodecDecompressRecord drp{};
  {
    std::lock_guard<std::mutex> g(seq->setUp);
    if (!seq->initialized) {
      ImageSubCodecDecompressCapabilities cap{};
      cap.recordSize = SInt32(sizeof cap);
      ComponentResult err = ImageCodecInitialize(seq->codec, &cap);
      if (err != noErr) return OSErr(err);
      if (cap.decompressRecordSize < 0) return codecErr;
      seq->recordSize = cap.decompressRecordSize;
      // A codec that may draw asynchronously draws through its work function.
      if (!cap.canAsync || ComponentGetMPWorkFunction(seq->codec, &seq->work, &seq->workRefCon) != noErr)
        seq->work = nullptr;
      seq->initialized = true;
    }
    ComponentResult err = ImageCodecPreflight(seq->codec, &p);
    if (err != noErr) return OSErr(err);
    if (!offered(p, caps)) return cDepthErr;
    UInt8* record = small;
    if (size_t(seq->recordSize) > sizeof small) {
      large.reset(new (std::nothrow) UInt8[size_t(seq->recordSize)]);
      if (!large) return memFullErr;
      record = large.get();
    }
    std::memset(record, 0, size_t(seq->recordSize));
    drp.baseAddr = dst->baseAddr;
    drp.rowBytes = dst->rowBytes;
    drp.codecData = data;
    drp.userDecompressRecord = record;
    err = ImageCodecBeginBand(seq->codec, &p, &drp, 0);
    if (err != noErr) return OSErr(err);
  }
  if (const PausePoint* pp = gPausePoint.load()) pp->pause(pp->refCon);
  ComponentResult err = seq->work ? seq->work(seq->workRefCon, &drp) : ImageCodecDrawBand(seq->codec, &drp);
  ComponentResult endErr = ImageCodecEndBand(seq->codec, &drp, OSErr(err), 0);
  return OSErr(err != noErr ? err : endErr);
}
