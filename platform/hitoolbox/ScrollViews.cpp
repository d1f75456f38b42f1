// Scroll views and the scrollable-view protocol that their content answers.
#include <algorithm>
#include <cmath>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

namespace {

CGFloat viewWidth(ControlRef v) { return CGFloat(v->bounds.right - v->bounds.left); }
CGFloat viewHeight(ControlRef v) { return CGFloat(v->bounds.bottom - v->bounds.top); }

// The origin held so that the view never shows past the image's far edges.
CGPoint heldOrigin(ControlRef v, CGPoint want) {
  const CGFloat maxX = std::max<CGFloat>(0, CGFloat(v->imageWidth) - viewWidth(v));
  const CGFloat maxY = std::max<CGFloat>(0, CGFloat(v->imageHeight) - viewHeight(v));
  return CGPointMake(std::clamp<CGFloat>(std::floor(want.x), 0, maxX), std::clamp<CGFloat>(std::floor(want.y), 0, maxY));
}

OSStatus scrollableHandler(EventHandlerCallRef, EventRef e, void* userData) {
  ControlRef v = static_cast<ControlRef>(userData);
  if (!isLiveControl(v)) return eventNotHandledErr;
  switch (GetEventKind(e)) {
    case kEventScrollableGetInfo: {
      HISize image = CGSizeMake(v->imageWidth, v->imageHeight);
      HISize view = CGSizeMake(viewWidth(v), viewHeight(v));
      HISize line = CGSizeMake(1, 1);
      HIPoint origin = v->scrollOrigin;
      SetEventParameter(e, kEventParamImageSize, typeHISize, sizeof image, &image);
      SetEventParameter(e, kEventParamViewSize, typeHISize, sizeof view, &view);
      SetEventParameter(e, kEventParamLineSize, typeHISize, sizeof line, &line);
      SetEventParameter(e, kEventParamOrigin, typeHIPoint, sizeof origin, &origin);
      return noErr;
    }
    case kEventScrollableScrollTo: {
      HIPoint want;
      if (OSStatus s = GetEventParameter(e, kEventParamOrigin, typeHIPoint, nullptr, sizeof want, nullptr, &want))
        return s;
      v->scrollOrigin = heldOrigin(v, want);
      notify(Change::ControlChanged, v->window, v);
      return noErr;
    }
    default:
      return eventNotHandledErr;
  }
}

}  // namespace

namespace skyloom::ui::internal {

void fitScrollContent(ControlRef scrollView) {
  if (!scrollView->window) return;
  for (auto& c : scrollView->window->controls)
    if (c->parent == scrollView) {
      c->bounds = scrollView->bounds;
      c->scrollOrigin = heldOrigin(c.get(), c->scrollOrigin);
      notify(Change::ControlChanged, c->window, c.get());
    }
}

ControlRef newLooseView(OSType kind) {
  auto v = std::make_unique<OpaqueControlRef>();
  v->target.owner = v.get();
  v->kind = kind;
  ControlRef view = v.get();
  model().liveControls.insert(view);
  model().looseViews.push_back(std::move(v));
  return view;
}

void installScrollableHandler(ControlRef view) {
  // Built in, like the system's own view classes: not an installation the
  // model can be told to fail, and the oldest handler of the view, so that
  // handlers the application adds hear the events first.
  static const EventTypeSpec kTypes[] = {{kEventClassScrollable, kEventScrollableGetInfo},
                                         {kEventClassScrollable, kEventScrollableScrollTo}};
  auto h = std::make_shared<OpaqueEventHandlerRef>();
  h->target = &view->target;
  h->proc = scrollableHandler;
  h->types.assign(std::begin(kTypes), std::end(kTypes));
  h->userData = view;
  view->target.handlers.insert(view->target.handlers.begin(), h);
  model().liveHandlers.insert(h.get());
}

}  // namespace skyloom::ui::internal

OSStatus HIScrollViewCreate(OptionBits options, HIViewRef* outView) {
  if (!outView) return paramErr;
  *outView = nullptr;
  if (OSStatus s = takeFailure("HIScrollViewCreate")) return s;
  ControlRef v = newLooseView(kControlKindHIScrollView);
  v->scrollOptions = options;
  v->features = kControlSupportsEmbedding;
  *outView = v;
  return noErr;
}

OSStatus HIScrollViewSetScrollBarAutoHide(HIViewRef v, Boolean autoHide) {
  if (!isLiveControl(v) || v->kind != kControlKindHIScrollView) return errUnknownControl;
  v->autoHide = autoHide != 0;
  return noErr;
}

Boolean HIScrollViewGetScrollBarAutoHide(HIViewRef v) {
  return isLiveControl(v) && v->kind == kControlKindHIScrollView && v->autoHide;
}

OSStatus SendEventToControl(EventRef e, ControlRef c) {
  if (!isLiveControl(c)) return errUnknownControl;
  return SendEventToEventTarget(e, GetControlEventTarget(c));
}
