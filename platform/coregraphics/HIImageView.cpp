// Image views of the view model: they hold a CoreGraphics image, so they are
// made here, where images are owned, on top of the window model.
#include <memory>

#include "platform/coregraphics/CGImage.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

bool isImageView(HIViewRef v) { return isLiveControl(v) && v->kind == kControlKindHIImageView; }

void holdImage(ControlRef v, CGImageRef image) {
  if (image) {
    CGImageRetain(image);
    v->image = std::shared_ptr<void>(image, [](void* p) { CGImageRelease(static_cast<CGImageRef>(p)); });
  } else {
    v->image.reset();
  }
  v->imageWidth = image ? UInt32(CGImageGetWidth(image)) : 0;
  v->imageHeight = image ? UInt32(CGImageGetHeight(image)) : 0;
}

bool shownInWindow(ControlRef v) {
  if (!v->window) return false;
  for (ControlRef c = v; c; c = c->parent)
    if (!c->visible) return false;
  return true;
}

// Paints the picture into the window's port inside the view's bounds: scaled
// to them, or at its own size from the scroll origin, with the view's alpha.
// An empty view leaves what is under it.
void drawImageView(ControlRef v) {
  if (!isImageView(v) || !v->image || !shownInWindow(v)) return;
  CGrafPtr port = GetWindowPort(v->window);
  CGContextRef cg = nullptr;
  if (port == nullptr || CreateCGContextForPort(port, &cg) != noErr) return;
  Rect portBounds;
  GetPortBounds(port, &portBounds);
  const double portHeight = portBounds.bottom;
  const Rect& b = v->bounds;
  const CGRect box = CGRectMake(b.left, portHeight - b.bottom, b.right - b.left, b.bottom - b.top);
  CGRect where = box;
  if (!v->scaleToFit) {
    const double w = v->imageWidth, h = v->imageHeight;
    where = CGRectMake(b.left - v->scrollOrigin.x, portHeight - (b.top - v->scrollOrigin.y + h), w, h);
  }
  CGContextSaveGState(cg);
  CGContextClipToRect(cg, box);
  CGContextSetAlpha(cg, v->alpha);
  CGContextDrawImage(cg, where, static_cast<CGImageRef>(v->image.get()));
  CGContextRestoreGState(cg);
  CGContextRelease(cg);
}

// A change of what the view shows redraws it, as the view's invalidation
// would on screen.
void changed(ControlRef v) {
  setBuiltInDrawer(kControlKindHIImageView, drawImageView);
  if (shownInWindow(v)) Draw1Control(v);
}

}  // namespace

OSStatus HIImageViewCreate(CGImageRef image, HIViewRef* outView) {
  if (!outView) return paramErr;
  *outView = nullptr;
  if (OSStatus s = takeFailure("HIImageViewCreate")) return s;
  ControlRef v = newLooseView(kControlKindHIImageView);
  holdImage(v, image);
  installScrollableHandler(v);
  *outView = v;
  return noErr;
}

OSStatus HIImageViewSetImage(HIViewRef v, CGImageRef image) {
  if (!isImageView(v)) return errUnknownControl;
  holdImage(v, image);
  // The view stays where it was scrolled, as far as the new image allows.
  if (v->parent && v->parent->kind == kControlKindHIScrollView) fitScrollContent(v->parent);
  else v->scrollOrigin = CGPointMake(0, 0);
  notify(Change::ControlChanged, v->window, v);
  changed(v);
  return noErr;
}

CGImageRef HIImageViewCopyImage(HIViewRef v) {
  if (!isImageView(v) || !v->image) return nullptr;
  return CGImageRetain(static_cast<CGImageRef>(v->image.get()));
}

OSStatus HIImageViewSetOpaque(HIViewRef v, Boolean opaque) {
  if (!isImageView(v)) return errUnknownControl;
  v->opaque = opaque != 0;
  changed(v);
  return noErr;
}
Boolean HIImageViewIsOpaque(HIViewRef v) { return isImageView(v) && v->opaque; }

OSStatus HIImageViewSetAlpha(HIViewRef v, CGFloat alpha) {
  if (!isImageView(v)) return errUnknownControl;
  v->alpha = alpha;
  changed(v);
  return noErr;
}
CGFloat HIImageViewGetAlpha(HIViewRef v) { return isImageView(v) ? v->alpha : 0.0; }

OSStatus HIImageViewSetScaleToFit(HIViewRef v, Boolean scale) {
  if (!isImageView(v)) return errUnknownControl;
  v->scaleToFit = scale != 0;
  changed(v);
  return noErr;
}
Boolean HIImageViewGetScaleToFit(HIViewRef v) { return isImageView(v) && v->scaleToFit; }
