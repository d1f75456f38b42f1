#include "platform/coregraphics/QuickDrawPorts.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/hitoolbox/HIToolbox.h"
#include "platform/hitoolbox/UIModel.h"

struct OpaqueGrafPtr {
  WindowRef window = nullptr;
  cairo_surface_t* surface = nullptr;
  SInt32 width = 0;
  SInt32 height = 0;
  ~OpaqueGrafPtr() {
    if (surface != nullptr) cairo_surface_destroy(surface);
  }
};

namespace {

std::map<WindowRef, std::unique_ptr<OpaqueGrafPtr>> gPorts;
int gFailContextIn = 0;

void fillBackground(cairo_surface_t* s) {
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, ((kSkyloomWindowBackground >> 16) & 0xFF) / 255.0,
                       ((kSkyloomWindowBackground >> 8) & 0xFF) / 255.0,
                       (kSkyloomWindowBackground & 0xFF) / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
}

// Ports of windows that are gone are dropped, so a new window that happens to
// get a disposed window's address starts with a fresh image.
void dropPortsOfDisposedWindows() {
  const std::vector<WindowRef> live = skyloom::ui::Windows();
  for (auto it = gPorts.begin(); it != gPorts.end();) {
    if (std::find(live.begin(), live.end(), it->first) == live.end())
      it = gPorts.erase(it);
    else
      ++it;
  }
}

}  // namespace

CGrafPtr GetWindowPort(WindowRef window) {
  if (window == nullptr) return nullptr;
  dropPortsOfDisposedWindows();
  Rect content;
  if (GetWindowBounds(window, kWindowContentRgn, &content) != noErr) return nullptr;
  const SInt32 w = std::max(0, content.right - content.left);
  const SInt32 h = std::max(0, content.bottom - content.top);
  std::unique_ptr<OpaqueGrafPtr>& port = gPorts[window];
  if (!port) {
    port = std::make_unique<OpaqueGrafPtr>();
    port->window = window;
  }
  if (port->surface == nullptr || port->width != w || port->height != h) {
    if (port->surface != nullptr) cairo_surface_destroy(port->surface);
    port->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    port->width = w;
    port->height = h;
    fillBackground(port->surface);
  }
  return port.get();
}

Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
  if (rect == nullptr) return nullptr;
  *rect = Rect{0, 0, 0, 0};
  if (port != nullptr) {
    rect->bottom = short(port->height);
    rect->right = short(port->width);
  }
  SkyloomCGRecord("GetPortBounds", {double(rect->top), double(rect->left), double(rect->bottom),
                                    double(rect->right)});
  return rect;
}

OSStatus CreateCGContextForPort(CGrafPtr inPort, CGContextRef* outContext) {
  if (outContext == nullptr) return paramErr;
  *outContext = nullptr;
  if (inPort == nullptr || inPort->surface == nullptr) return paramErr;
  if (gFailContextIn > 0 && --gFailContextIn == 0) return memFullErr;
  *outContext = SkyloomCGCreateContextForSurface(inPort->surface, inPort->height);
  if (*outContext == nullptr) return memFullErr;
  SkyloomCGRecord("CreateCGContextForPort", {});
  return noErr;
}

Boolean QDIsPortBuffered(CGrafPtr port) { return port != nullptr; }

void QDFlushPortBuffer(CGrafPtr, RgnHandle) {}

UInt32 SkyloomPortPixel(CGrafPtr port, SInt32 x, SInt32 y) {
  if (port == nullptr || port->surface == nullptr || x < 0 || y < 0 || x >= port->width ||
      y >= port->height)
    return 0;
  cairo_surface_flush(port->surface);
  const unsigned char* data = cairo_image_surface_get_data(port->surface);
  const int stride = cairo_image_surface_get_stride(port->surface);
  // cairo keeps ARGB32 as native 32-bit words, premultiplied; the image is
  // opaque, so the word is the colour.
  UInt32 word;
  std::memcpy(&word, data + size_t(y) * stride + size_t(x) * 4, 4);
  return word;
}

OSStatus SkyloomWritePortPNG(CGrafPtr port, const char* path) {
  if (port == nullptr || port->surface == nullptr || path == nullptr) return paramErr;
  return cairo_surface_write_to_png(port->surface, path) == CAIRO_STATUS_SUCCESS ? noErr : ioErr;
}

void SkyloomFailCGContextCreation(int nth) { gFailContextIn = nth; }
