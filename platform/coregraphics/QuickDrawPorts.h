// Window ports: every window of the window model has a port whose pixels are
// a backing image (32-bit ARGB, opaque) the size of the window's content, in
// the window's local coordinates (origin top left). Drawing code asks for the
// port, reads its bounds and draws through a CoreGraphics context made for
// it; an on-screen backend shows the backing image, and tests read its
// pixels or save it as a PNG.
//
// A new backing image is filled with the window background colour; it keeps
// its pixels until the window's content changes size or the window goes.
// Main thread only.
#pragma once
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coreservices/MacTypes.h"

typedef struct OpaqueWindowPtr* WindowRef;
typedef struct OpaqueGrafPtr* CGrafPtr;

// Window background of a new backing image (0xAARRGGBB).
constexpr UInt32 kSkyloomWindowBackground = 0xFFECECECu;

// The window's port, null for a null or disposed window.
CGrafPtr GetWindowPort(WindowRef window);
// 0, 0, content height, content width.
Rect* GetPortBounds(CGrafPtr port, Rect* rect);
// A context for the whole port, user space origin at the port's bottom left;
// release it with CGContextRelease. paramErr for a null port or result.
OSStatus CreateCGContextForPort(CGrafPtr inPort, CGContextRef* outContext);

// Window ports are buffered: what is drawn shows when the buffer is flushed.
// Here the backing image is what shows, so flushing has nothing to do.
typedef struct OpaqueRgnHandle* RgnHandle;
Boolean QDIsPortBuffered(CGrafPtr port);
void QDFlushPortBuffer(CGrafPtr port, RgnHandle region);

// ---- Test support ----
// The pixel at local (x, y) as 0xAARRGGBB; 0 outside the port.
UInt32 SkyloomPortPixel(CGrafPtr port, SInt32 x, SInt32 y);
// Writes the backing image as a PNG file; 0 or ioErr.
OSStatus SkyloomWritePortPNG(CGrafPtr port, const char* path);
// The next n-th context creation fails (0 = never).
void SkyloomFailCGContextCreation(int nth);
