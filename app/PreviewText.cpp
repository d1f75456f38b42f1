// The preview's texts (styles, one routine that draws a line of text) and
// the tracked object's path.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/PreviewDrawing.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/CoreServices.h"

namespace {

template <class T>
T shared(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

// Segments of the tracking path drawn at most in one redraw.
constexpr UInt32 kMaxPathSegments = 4096;

UInt32 toU32(double v) {
  if (!(v > 0)) return 0;
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return UInt32(v);
}

}  // namespace

OSStatus myCreateATSUISTyle(SInt32 size, UInt8 bold, UInt16 red, UInt16 green, UInt16 blue, ATSUStyle* style) {
  if (style == nullptr) return paramErr;
  *style = nullptr;
  ATSUStyle made = nullptr;
  OSStatus err = ATSUCreateStyle(&made);
  if (err != noErr) return err;
  static const char kFontName[] = "Lucida Grande";
  ATSUFontID font = kATSUInvalidFontID;
  err = ATSUFindFontFromName(kFontName, sizeof kFontName - 1, kFontFullName, kFontNoPlatformCode, kFontNoScriptCode,
                             kFontNoLanguageCode, &font);
  if (err == noErr) {
    Fixed fixedSize = Long2Fix(size);
    RGBColor colour{red, green, blue};
    Boolean isBold = 1;
    const ATSUAttributeTag tags[4] = {kATSUFontTag, kATSUSizeTag, kATSUColorTag, kATSUQDBoldfaceTag};
    const ByteCount sizes[4] = {sizeof font, sizeof fixedSize, sizeof colour, sizeof isBold};
    const ATSUAttributeValuePtr values[4] = {&font, &fixedSize, &colour, &isBold};
    err = ATSUSetAttributes(made, bold == 1 ? 4 : 3, tags, sizes, values);
  }
  if (err != noErr) {
    ATSUDisposeStyle(made);
    return err;
  }
  *style = made;
  return noErr;
}

OSStatus myCreatePreviewTextStyles(MyCameraWindowDataStruct* r) {
  struct Style {
    ATSUStyle* field;
    SInt32 size;
    UInt16 red, green, blue;
  };
  const Style styles[4] = {{&r->mStatusTextStyle, 18, 0xBFFF, 0xBFFF, 0xBFFF},
                           {&r->mRedTextStyle, 40, 0xFFFF, 0, 0},
                           {&r->mYellowTextStyle, 40, 0xFFFF, 0xFFFF, 0},
                           {&r->mGreenTextStyle, 40, 0, 0xFFFF, 0}};
  for (const Style& s : styles) {
    const OSStatus err = myCreateATSUISTyle(s.size, 1, s.red, s.green, s.blue, s.field);
    if (err != noErr) {
      myDisposePreviewTextStyles(r);
      return err;
    }
  }
  return noErr;
}

void myDisposePreviewTextStyles(MyCameraWindowDataStruct* r) {
  for (ATSUStyle* s : {&r->mStatusTextStyle, &r->mRedTextStyle, &r->mYellowTextStyle, &r->mGreenTextStyle}) {
    if (*s) ATSUDisposeStyle(*s);
    *s = nullptr;
  }
}

void myDrawATSUIText(CGContextRef context, ATSUStyle style, float x, float y, const char* text) {
  if (text == nullptr || *text == 0) return;
  ATSUTextLayout layout = nullptr;
  if (ATSUCreateTextLayout(&layout) != noErr) return;
  CFStringRef string = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
  UniChar* buffer = nullptr;
  if (string != nullptr) {
    const CFIndex length = CFStringGetLength(string);
    buffer = static_cast<UniChar*>(malloc(size_t(length) * sizeof(UniChar) + sizeof(UniChar)));
    if (buffer != nullptr) {
      CFStringGetCharacters(string, CFRangeMake(0, length), buffer);
      const UniCharCount count = UniCharCount(length);
      const ATSUAttributeTag tags[1] = {kATSUCGContextTag};
      const ByteCount sizes[1] = {sizeof context};
      const ATSUAttributeValuePtr values[1] = {&context};
      if (ATSUSetTextPointerLocation(layout, buffer, 0, count, count) == noErr &&
          ATSUSetRunStyle(layout, style, 0, count) == noErr &&
          ATSUSetLayoutControls(layout, 1, tags, sizes, values) == noErr)
        ATSUDrawText(layout, kATSUFromTextBeginning, kATSUToTextEnd, X2Fix(x), X2Fix(y));
    }
  }
  free(buffer);
  if (string != nullptr) CFRelease(string);
  ATSUDisposeTextLayout(layout);
}

void myDrawPreviewWindowText(MyCameraWindowDataStruct* r, CGContextRef context, CGRect rect) {
  const UInt8 recording = shared(r->mRecording);
  if (recording != 1 && r->mShowSharpness != 1) return;
  const double minX = CGRectGetMinX(rect), minY = CGRectGetMinY(rect), height = CGRectGetHeight(rect);
  char text[64];
  if (recording == 1) {
    const UInt32 counter = shared(r->mRecordFrameCounter);
    snprintf(text, sizeof text, r->mRecordFrameLimit != 0 ? "Rec: #%u Left" : "Rec: #%u", counter);
    myDrawATSUIText(context, r->mStatusTextStyle, float(minX + 12.0), 40.0f, text);
  }
  if (r->mShowSharpness == 1) {
    const double sharpness = shared(r->mSharpness);
    const double average = shared(r->mSharpnessAverage);
    const bool rejected =
        r->mRejectBySharpness == 1 && !(std::fabs(r->mSharpnessReference - sharpness) < r->mSharpnessTolerance);
    snprintf(text, sizeof text, rejected ? "S:%u %u REJECTED" : "S:%u %u", toU32(sharpness), toU32(average));
    myDrawATSUIText(context, r->mStatusTextStyle, float(minX + 12.0), float(minY + height - 40.0), text);
  }
}

void myDrawTrackingAnalysis(MyCameraWindowDataStruct* r, CGContextRef c, CGRect rect) {
  if (shared(r->mTrackingAnalysisOn) != 1) return;
  // The delivery thread appends samples meanwhile: those below the count
  // read now are complete.
  const UInt32 n = std::atomic_ref<UInt32>(r->mTrackSampleCount).load(std::memory_order_acquire);
  const double minX = CGRectGetMinX(rect), minY = CGRectGetMinY(rect), height = CGRectGetHeight(rect);
  if (n == 0) {
    myDrawATSUIText(c, r->mRedTextStyle, float(minX + 12.0), float(minY + height - 40.0),
                    "Lost Track of  Star, trying to re-acquire..");
    return;
  }
  const double z = r->mZoomScale, sh = r->mScrollOffset.h, sv = r->mScrollOffset.v;
  auto view = [&](double x, double y) { return CGPoint{x * z - sh, height - y * z + sv}; };
  const CGPoint first = view(shared(r->mTrackingArea[0]), shared(r->mTrackingArea[1]));
  CGContextSetLineWidth(c, 3.0);
  CGContextBeginPath(c);
  myDrawCross(c, float(first.x), float(first.y), 16.0f, 1);
  CGContextSetRGBStrokeColor(c, 0.0, 1.0, 0.0, 1.0);
  CGContextStrokePath(c);
  const float* samples = r->mTrackSamples;
  if (n > 2 && samples != nullptr) {
    CGContextSetLineWidth(c, 2.0);
    const double last = double(n - 1);
    // Segment k joins sample k (the first point for k = 0) to sample k + 1
    // and goes from green towards red by k / (n - 1); sample n - 1 is not
    // joined. The analysis keeps up to 32,768 samples and this runs on every
    // redraw, so a long path is drawn through every stride-th sample (at
    // most kMaxPathSegments segments, always ending at sample n - 2), and
    // neighbouring segments whose colours are the same on the 8-bit display
    // are stroked as one line.
    const UInt32 segments = n - 2;
    const UInt32 stride = segments > kMaxPathSegments ? (segments + kMaxPathSegments - 1) / kMaxPathSegments : 1;
    long shownRed = -1, shownGreen = -1;
    CGPoint from = first;
    for (UInt32 k = 0; k < segments; k += stride) {
      const size_t end = std::min<size_t>(size_t(k) + stride, segments);
      const CGPoint to = view(samples[3 * end], samples[3 * end + 1]);
      const double f = double(k) / last;
      const long red = std::lround(f * 255.0), green = std::lround((1.0 - f) * 255.0);
      if (red != shownRed || green != shownGreen) {
        if (shownRed >= 0) CGContextStrokePath(c);
        CGContextSetRGBStrokeColor(c, f, 1.0 - f, 0.0, 1.0);
        CGContextBeginPath(c);
        CGContextMoveToPoint(c, from.x, from.y);
        shownRed = red;
        shownGreen = green;
      }
      CGContextAddLineToPoint(c, to.x, to.y);
      from = to;
    }
    CGContextStrokePath(c);
    CGContextSetLineWidth(c, 3.0);
  }
  const CGPoint current = view(shared(r->mTrackingArea[2]), shared(r->mTrackingArea[3]));
  CGContextBeginPath(c);
  myDrawCross(c, float(current.x), float(current.y), 16.0f, 1);
  CGContextSetRGBStrokeColor(c, 1.0, 0.0, 0.0, 1.0);
  CGContextStrokePath(c);
  CGContextSetRGBStrokeColor(c, 1.0, 1.0, 1.0, 1.0);
  CGContextSetLineWidth(c, 1.0);
}
