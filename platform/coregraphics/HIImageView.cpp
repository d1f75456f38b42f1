// Image views of the view model: they hold a CoreGraphics image, so they are
// made here, where images are owned, on top of the window model.
#include <memory>

#include "platform/coregraphics/CGImage.h"
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
  return noErr;
}

CGImageRef HIImageViewCopyImage(HIViewRef v) {
  if (!isImageView(v) || !v->image) return nullptr;
  return CGImageRetain(static_cast<CGImageRef>(v->image.get()));
}

OSStatus HIImageViewSetOpaque(HIViewRef v, Boolean opaque) {
  if (!isImageView(v)) return errUnknownControl;
  v->opaque = opaque != 0;
  return noErr;
}
Boolean HIImageViewIsOpaque(HIViewRef v) { return isImageView(v) && v->opaque; }

OSStatus HIImageViewSetAlpha(HIViewRef v, CGFloat alpha) {
  if (!isImageView(v)) return errUnknownControl;
  v->alpha = alpha;
  return noErr;
}
CGFloat HIImageViewGetAlpha(HIViewRef v) { return isImageView(v) ? v->alpha : 0.0; }

OSStatus HIImageViewSetScaleToFit(HIViewRef v, Boolean scale) {
  if (!isImageView(v)) return errUnknownControl;
  v->scaleToFit = scale != 0;
  return noErr;
}
Boolean HIImageViewGetScaleToFit(HIViewRef v) { return isImageView(v) && v->scaleToFit; }
