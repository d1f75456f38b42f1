// The base image decompressor ('imdc', 'base'): what a codec delegates to.
// It keeps the codec that set itself as its target, and its multiprocessor
// work function runs that codec's DrawBand for one frame on the calling
// thread, which may be any thread.
#include <new>

#include "platform/quicktime/Components.h"
#include "platform/quicktime/ImageCodec.h"

namespace {

struct BaseDecompressorGlobals {
  ComponentInstance self;
  ComponentInstance target;  // the codec that delegates to this instance
  ImageCodecMPDrawBandUPP drawProc;
  void* drawProcRefCon;
};

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
