// Dragging with the button held (TrackMouseLocation fed by the user's drag),
// view frames and the window's content view.
#include <cmath>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui;
using namespace skyloom::ui::internal;

const HIViewID kHIViewWindowContentID = {FOUR_CHAR_CODE("wind"), 1};

OSStatus TrackMouseLocation(struct OpaqueGrafPtr*, Point* outPt, MouseTrackingResult* outResult) {
  Model& m = model();
  MouseTrackingResult result = kMouseTrackingMouseReleased;
  if (!m.trackFeed.empty()) {
    m.lastMouse = m.trackFeed.front();
    m.trackFeed.pop_front();
    if (!m.trackFeed.empty()) result = kMouseTrackingMouseDragged;
  }
  if (outPt) *outPt = m.lastMouse;
  if (outResult) *outResult = result;
  return noErr;
}

OSStatus HIViewGetFrame(HIViewRef view, HIRect* out) {
  if (!out) return paramErr;
  if (!isLiveControl(view)) return errUnknownControl;
  if (view->isRoot) return HIViewGetBounds(view, out);
  Rect b = view->bounds;
  const SInt16 top = view->parent ? view->parent->bounds.top : 0;
  const SInt16 left = view->parent ? view->parent->bounds.left : 0;
  *out = CGRectMake(CGFloat(b.left - left), CGFloat(b.top - top), CGFloat(b.right - b.left),
                    CGFloat(b.bottom - b.top));
  return noErr;
}

OSStatus HIViewSetFrame(HIViewRef view, const HIRect* frame) {
  if (!frame) return paramErr;
  if (!isLiveControl(view) || view->isRoot) return errUnknownControl;
  const SInt16 top = view->parent ? view->parent->bounds.top : 0;
  const SInt16 left = view->parent ? view->parent->bounds.left : 0;
  Rect b;
  // Whole pixels, as the controls' bounds are kept.
  b.left = SInt16(left + std::lround(frame->origin.x));
  b.top = SInt16(top + std::lround(frame->origin.y));
  b.right = SInt16(b.left + std::lround(frame->size.width));
  b.bottom = SInt16(b.top + std::lround(frame->size.height));
  SetControlBounds(view, &b);
  if (view->kind == kControlKindHIScrollView) fitScrollContent(view);
  return noErr;
}

namespace skyloom::ui {

OSStatus UserDragPath(WindowRef w, Point from, const std::vector<Point>& path, ControlRef over) {
  if (!isLiveWindow(w)) return errInvalidWindowRef;
  Model& m = model();
  m.trackFeed.assign(path.begin(), path.end());
  OSStatus s = UserMouseInWindow(w, kEventMouseDown, from, 0, 1, over);
  // Whatever the window did not track goes to it as plain drag events.
  std::deque<Point> rest;
  rest.swap(m.trackFeed);
  if (s != noErr) return s;
  Point last = path.empty() ? from : path.back();
  while (!rest.empty() && isLiveWindow(w)) {
    Point p = rest.front();
    rest.pop_front();
    if (rest.empty()) break;
    UserMouseInWindow(w, kEventMouseDragged, p, 0, 1, over && isLiveControl(over) ? over : nullptr);
  }
  if (isLiveWindow(w)) UserMouseInWindow(w, kEventMouseUp, last, 0, 1, over && isLiveControl(over) ? over : nullptr);
  return noErr;
}

}  // namespace skyloom::ui
