// CoreGraphics stand-in: path-and-fill drawing contexts on cairo, with the
// calls our windows' drawing code makes. User space has its origin at the
// bottom left with y growing upwards, as on the system it stands in for;
// contexts for a window's port are made in QuickDrawPorts.h.
//
// Every context call can be recorded (SkyloomCGSetRecording) so that tests
// check the exact sequence of drawing operations and their arguments beside
// the pixels that came out. Main thread only, like the windows it draws into.
#pragma once
#include <string>
#include <vector>

#include "platform/coreservices/MacTypes.h"

typedef double CGFloat;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
struct CGSize {
  CGFloat width;
  CGFloat height;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return CGPoint{x, y}; }
inline CGSize CGSizeMake(CGFloat width, CGFloat height) { return CGSize{width, height}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return CGRect{{x, y}, {width, height}};
}
CGFloat CGRectGetMinX(CGRect rect);
CGFloat CGRectGetMinY(CGRect rect);
CGFloat CGRectGetMaxX(CGRect rect);
CGFloat CGRectGetMaxY(CGRect rect);
CGFloat CGRectGetWidth(CGRect rect);
CGFloat CGRectGetHeight(CGRect rect);

enum CGLineJoin : SInt32 { kCGLineJoinMiter = 0, kCGLineJoinRound = 1, kCGLineJoinBevel = 2 };
enum CGLineCap : SInt32 { kCGLineCapButt = 0, kCGLineCapRound = 1, kCGLineCapSquare = 2 };

typedef struct CGContext* CGContextRef;

CGContextRef CGContextRetain(CGContextRef c);
void CGContextRelease(CGContextRef c);

// Graphics state: line settings, colours and the transformation.
void CGContextSaveGState(CGContextRef c);
void CGContextRestoreGState(CGContextRef c);
void CGContextSetLineWidth(CGContextRef c, CGFloat width);
void CGContextSetLineJoin(CGContextRef c, CGLineJoin join);
void CGContextSetLineCap(CGContextRef c, CGLineCap cap);
void CGContextSetMiterLimit(CGContextRef c, CGFloat limit);
void CGContextSetRGBFillColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha);
void CGContextSetRGBStrokeColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                                CGFloat alpha);

// Painting. FillRect leaves the current path alone; StrokePath and FillPath
// paint it and then clear it.
void CGContextFillRect(CGContextRef c, CGRect rect);
void CGContextStrokeRect(CGContextRef c, CGRect rect);
void CGContextBeginPath(CGContextRef c);
void CGContextMoveToPoint(CGContextRef c, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(CGContextRef c, CGFloat x, CGFloat y);
void CGContextAddRect(CGContextRef c, CGRect rect);
void CGContextClosePath(CGContextRef c);
void CGContextStrokePath(CGContextRef c);
void CGContextFillPath(CGContextRef c);

// Pixels reach the window's backing image at once; these only mark the
// points where the system would push them to the screen.
void CGContextFlush(CGContextRef c);
void CGContextSynchronize(CGContextRef c);

// ---- Test support ----
// One recorded call: the function's name and its numeric arguments in order
// (colours as four components, rectangles as x, y, width, height).
struct SkyloomCGCall {
  std::string name;
  std::vector<double> args;
  std::string text;  // the text of a text call (UTF-8)
};
// Recording is off until turned on; turning it on clears the log.
void SkyloomCGSetRecording(bool on);
std::vector<SkyloomCGCall> SkyloomCGRecordedCalls();
// Contexts alive now (every drawing path must release what it creates).
long SkyloomCGLiveContextCount();

// For the port layer: a context drawing into a cairo image surface of the
// given height, user space flipped so that y grows upwards from the bottom.
// The surface is a cairo_surface_t*; the context keeps a reference to it.
CGContextRef SkyloomCGCreateContextForSurface(void* cairoSurface, CGFloat height);
// Adds a call to the log (the port layer records its own calls here too).
void SkyloomCGRecord(const char* name, std::vector<double> args);

// For the text layer: draws UTF-8 text with its baseline starting at (x, y)
// in the family (fontconfig name), size (user-space units), weight and
// colour given, filled, whatever the context's own font and colours are.
// Logs one call named `name` with `args` and the text when recording.
void SkyloomCGDrawStyledText(CGContextRef c, const char* name, std::vector<double> args, CGFloat x, CGFloat y,
                             const std::string& utf8, const char* family, CGFloat size, bool bold,
                             const double rgba[4]);

// Whether fontconfig knows the family (case does not matter).
bool SkyloomCGFontFamilyExists(const char* family);

// ---- Clipping and images ----
typedef struct CGImage* CGImageRef;
enum CGInterpolationQuality : int32_t {
  kCGInterpolationDefault = 0,
  kCGInterpolationNone = 1,
  kCGInterpolationLow = 2,
  kCGInterpolationHigh = 3,
};
// Narrows the clip to the rectangle (user space).
void CGContextClipToRect(CGContextRef c, CGRect rect);
// None draws scaled images by nearest pixel, the others bilinearly.
void CGContextSetInterpolationQuality(CGContextRef c, CGInterpolationQuality quality);
// Draws the image scaled into rect, its first row at the top of the rect.
// 8-bit RGB images of 32 bits a pixel (alpha or padding first or last, either
// byte order) and 8-bit grey are drawn; others are skipped. Only the part of
// the image that can reach the clip is converted.
void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image);
// Images are drawn with this much opacity (0..1, kept with the state).
void CGContextSetAlpha(CGContextRef c, CGFloat alpha);

// ---- Arcs, dashes and text ----
// Adds an arc of the circle (x, y, radius) from startAngle to endAngle
// (radians), counter-clockwise in user space unless clockwise is 1.
void CGContextAddArc(CGContextRef c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle, CGFloat endAngle,
                     int clockwise);
// count 0 (or no lengths) draws solid lines.
void CGContextSetLineDash(CGContextRef c, CGFloat phase, const CGFloat lengths[], size_t count);
enum CGTextDrawingMode : SInt32 {
  kCGTextFill = 0,
  kCGTextStroke = 1,
  kCGTextFillStroke = 2,
  kCGTextInvisible = 3,
};
enum CGTextEncoding : SInt32 { kCGEncodingFontSpecific = 0, kCGEncodingMacRoman = 1 };
// The font by name (resolved through fontconfig) at size user-space units.
void CGContextSelectFont(CGContextRef c, const char* name, CGFloat size, CGTextEncoding encoding);
void CGContextSetTextDrawingMode(CGContextRef c, CGTextDrawingMode mode);
// Draws length bytes of text (Mac Roman) with its baseline starting at (x, y).
// Recorded with x and y; the text itself is kept in the call's text.
void CGContextShowTextAtPoint(CGContextRef c, CGFloat x, CGFloat y, const char* text, size_t length);
// Where the next text would start: the point after the last text shown
// (its advance added to x). Recorded with the point it answers.
CGPoint CGContextGetTextPosition(CGContextRef c);

// ---- Affine transformations ----
// A point (x, y) maps to (a x + c y + tx, b x + d y + ty). The functions that
// take a transform t and an operation put the operation before t: the point
// is first translated (turned, scaled), then taken through t.
struct CGAffineTransform {
  CGFloat a, b, c, d, tx, ty;
};
extern const CGAffineTransform CGAffineTransformIdentity;
CGAffineTransform CGAffineTransformMake(CGFloat a, CGFloat b, CGFloat c, CGFloat d, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
// Counter-clockwise in a y-up space for a positive angle (radians).
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, CGFloat angle);
// t1 first, then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
CGPoint CGPointApplyAffineTransform(CGPoint point, CGAffineTransform t);
// The axis-aligned bounding box of the transformed rectangle.
CGRect CGRectApplyAffineTransform(CGRect rect, CGAffineTransform t);

// The context's transformation, changed the same way: the new operation
// applies to user-space points before what was there. Recorded with their
// arguments.
void CGContextTranslateCTM(CGContextRef c, CGFloat tx, CGFloat ty);
void CGContextRotateCTM(CGContextRef c, CGFloat angle);
void CGContextScaleCTM(CGContextRef c, CGFloat sx, CGFloat sy);
void CGContextConcatCTM(CGContextRef c, CGAffineTransform t);

// ---- Bitmap contexts ----
// A context drawing into width x height pixels of 8 bits a component, 32 bits
// a pixel, device RGB, alpha (or a skipped byte) first: with the default (or
// 32Big) byte order the bytes of a pixel are A, R, G, B in memory; with
// kCGBitmapByteOrder32Little they are B, G, R, A. Premultiplied alpha first
// and none-skip-first are made; other layouts, a row of fewer than 4 x width
// bytes or row bytes that are not a multiple of 4 give null. With data null
// the context allocates (and frees) its own zeroed pixels. The caller's bytes
// are in the asked layout whenever no drawing call is running: every drawing
// call converts only the area it may touch. User space: origin at the bottom
// left, memory row 0 at the top. Recorded as "CGBitmapContextCreate" with
// width, height and row bytes.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, struct CGColorSpace* space, UInt32 bitmapInfo);
void* CGBitmapContextGetData(CGContextRef c);
size_t CGBitmapContextGetWidth(CGContextRef c);
size_t CGBitmapContextGetHeight(CGContextRef c);
size_t CGBitmapContextGetBytesPerRow(CGContextRef c);
// A new image of the context's pixels as they are now (copied, so later
// drawing does not reach it), in the context's layout; null when the copy
// can't be made. Recorded with width and height.
CGImageRef CGBitmapContextCreateImage(CGContextRef c);
