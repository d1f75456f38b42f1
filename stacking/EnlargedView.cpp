#include "stacking/EnlargedView.h"

#include <cmath>
#include <cstdlib>

#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/ImageViews.h"
#include "utilities/Controls.h"

const EventTypeSpec kEnlargedViewEvents[kEnlargedViewEventCount] = {
    {kEventClassHIObject, kEventHIObjectConstruct}, {kEventClassHIObject, kEventHIObjectInitialize},
    {kEventClassHIObject, kEventHIObjectDestruct},  {kEventClassControl, kEventControlInitialize},
    {kEventClassControl, kEventControlDraw},        {kEventClassControl, kEventControlActivate},
    {kEventClassControl, kEventControlDeactivate},
};

OSStatus myEnlargedViewController(EventHandlerCallRef call, EventRef event, const EnlargedViewOwner* owner) {
  if (owner == nullptr || owner->record == nullptr || event == nullptr) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassHIObject) {
    switch (kind) {
      case kEventHIObjectConstruct: {
        HIObjectRef instance = nullptr;
        GetEventParameter(event, kEventParamHIObjectInstance, typeHIObjectRef, nullptr, sizeof instance, nullptr,
                          &instance);
        if (owner->instance) *owner->instance = instance;
        void* record = owner->record;
        return SetEventParameter(event, kEventParamHIObjectInstance, typeVoidPtr, sizeof record, &record);
      }
      case kEventHIObjectInitialize:
        return call != nullptr ? CallNextEventHandler(call, event) : OSStatus(eventNotHandledErr);
      case kEventHIObjectDestruct:
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  if (cls == kEventClassControl) {
    switch (kind) {
      case kEventControlInitialize: {
        if (call != nullptr) CallNextEventHandler(call, event);
        return myAddControlFeatures(event, kControlSupportsEmbedding);
      }
      case kEventControlDraw:
      case kEventControlActivate:
      case kEventControlDeactivate:
        if (owner->showFlag && *owner->showFlag != 0 && owner->blit)
          owner->blit(owner->record, owner->centreX ? *owner->centreX : 0, owner->centreY ? *owner->centreY : 0);
        return noErr;
      default:
        return eventNotHandledErr;
    }
  }
  return eventNotHandledErr;
}

OSStatus myRegisterEnlargedViewClass(CFStringRef classID, EventHandlerUPP controller, void* record,
                                     HIObjectClassRef* outClass) {
  return HIObjectRegisterSubclass(classID, kHIViewClassID, 0, controller, kEnlargedViewEventCount,
                                  kEnlargedViewEvents, record, outClass);
}

HIObjectRef myCreateEnlargedView(WindowRef window, CFStringRef classID) {
  if (window == nullptr) return nullptr;
  HIObjectRef view = nullptr;
  if (HIObjectCreate(classID, nullptr, &view) != noErr || view == nullptr) return nullptr;
  HIViewRef content = nullptr;
  HIViewRef place = nullptr;
  HIRect frame;
  const HIViewID placeID = {FOUR_CHAR_CODE("ENLV"), 0};
  if (HIViewFindByID(HIViewGetRoot(window), kHIViewWindowContentID, &content) != noErr ||
      HIViewAddSubview(content, view) != noErr ||
      HIViewFindByID(HIViewGetRoot(window), placeID, &place) != noErr || HIViewGetFrame(place, &frame) != noErr ||
      HIViewSetFrame(view, &frame) != noErr || HIViewSetVisible(view, true) != noErr) {
    DisposeControl(view);
    return nullptr;
  }
  return view;
}

void myUnregisterEnlargedViewClass(HIObjectClassRef* classRef) {
  if (classRef == nullptr || *classRef == nullptr) return;
  if (HIObjectUnregisterClass(*classRef) == noErr) *classRef = nullptr;
}

void myEnlargedViewBlit3X(WindowRef window, const EnlargedViewSource* source, UInt32 show, UInt32 x, UInt32 y,
                          UInt8** buffer) {
  if (window == nullptr || buffer == nullptr) return;
  CGContextRef context = nullptr;
  if (CreateCGContextForPort(GetWindowPort(window), &context) != noErr || context == nullptr) return;
  CGContextSaveGState(context);
  Rect port;
  GetPortBounds(GetWindowPort(window), &port);
  const SInt32 portHeight = port.bottom - port.top;
  ControlRef place = nullptr;
  const ControlID placeID = {FOUR_CHAR_CODE("ENLV"), 0};
  if (GetControlByID(window, &placeID, &place) == noErr && place != nullptr) {
    Rect b;
    GetControlBounds(place, &b);
    const SInt32 left = b.left + 2, top = b.top + 2, right = b.right - 2, bottom = b.bottom - 2;
    const SInt32 w = right - left, h = bottom - top;
    if (w > 0 && h > 0) {
      if (*buffer == nullptr) *buffer = static_cast<UInt8*>(std::malloc(size_t(h) * (4 * size_t(w) + 16) + 64));
      const CGRect where = CGRectMake(left, portHeight - bottom, w, h);
      CGContextSetRGBFillColor(context, 1.0, 1.0, 1.0, 1.0);
      CGContextFillRect(context, where);
      if (*buffer != nullptr && show != 0) {
        if (source != nullptr && source->base != nullptr)
          myExtractARGB32BlockFromImageAndScale3X(source->base, source->bitsPerPixel, source->width, source->height,
                                                  source->rowBytes, SInt32(x), SInt32(y), *buffer, UInt32(w),
                                                  UInt32(h), UInt32(w) * 4);
        CGDataProviderRef provider = CGDataProviderCreateWithData(nullptr, *buffer, size_t(h) * size_t(w) * 4, nullptr);
        CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
        CGImageRef image = nullptr;
        if (provider && space)
          image = CGImageCreate(size_t(w), size_t(h), 8, 32, size_t(w) * 4, space, kCGImageAlphaNoneSkipFirst,
                                provider, nullptr, false, kCGRenderingIntentDefault);
        if (image) CGContextDrawImage(context, where, image);
        CGImageRelease(image);
        CGColorSpaceRelease(space);
        CGDataProviderRelease(provider);
      }
    }
  }
  CGContextRestoreGState(context);
  CGContextSynchronize(context);
  CGContextRelease(context);
}

UInt32 myEnlargedViewClampAxis(SInt32 coordinate, SInt32 origin, SInt32 size) {
  if (coordinate <= origin) return 0;
  if (SInt64(coordinate) >= SInt64(origin) + size) return size < 0 ? 0 : UInt32(size);
  return UInt32(coordinate - origin);
}

OSStatus myEnlargedViewImagePoint(EventRef event, WindowRef window, const Rect& frame, double originX,
                                  double originY, double zoom, UInt32* x, UInt32* y) {
  Point where{0, 0};
  if (GetEventParameter(event, kEventParamWindowMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where) !=
      noErr) {
    if (GetEventParameter(event, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where) !=
        noErr)
      return eventParameterNotFoundErr;
    SkyloomGlobalToLocal(window, &where);
  }
  const UInt32 h = myEnlargedViewClampAxis(where.h, frame.left, frame.right - frame.left);
  const UInt32 v = myEnlargedViewClampAxis(where.v, frame.top, frame.bottom - frame.top);
  if (!(zoom > 0)) zoom = 1.0;
  // Saturating float-to-integer conversions: a negative origin gives 0.
  auto whole = [](double value) -> UInt32 {
    if (!(value > 0)) return 0;
    if (value >= 4294967295.0) return 0xFFFFFFFFu;
    return UInt32(value);
  };
  if (x) *x = whole((double(h) + originX) / zoom);
  if (y) *y = whole((double(v) + originY) / zoom);
  return noErr;
}
