#include "stacking/CutOffWindow.h"

#include <cstdio>
#include <cstdlib>

#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kHistogramPane = FOUR_CHAR_CODE("HIST");
constexpr OSType kPercentSlider = FOUR_CHAR_CODE("CIAM");
constexpr OSType kUseForAll = FOUR_CHAR_CODE("ALL_");
constexpr UInt32 kCancelCommand = FOUR_CHAR_CODE("not!");
constexpr UInt32 kOKCommand = FOUR_CHAR_CODE("ok  ");

// The nearest doubles to 1/18 and 0.96/27.
constexpr double kOneEighteenth = 0.05555555555555555;
constexpr double kStepAboveOneDeviation = 0.035555555555555556;

void setText(WindowRef window, OSType signature, SInt32 id, const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  myChangeControlTxt(window, signature, id, text);
}

}  // namespace

double convertPercentToCI(UInt32 percent, double m, double s) {
  const double p = double(percent);
  const double d = p - 50.0;
  if (d >= -18.0 && d <= 18.0) return m + d * s * kOneEighteenth;
  if (d > 18.0 && d <= 45.0) return m + s + (p - 68.0) * s * kStepAboveOneDeviation;
  if (d < -18.0 && d >= -45.0) return m - s + (p - 32.0) * s * kStepAboveOneDeviation;
  if (d > 45.0) return m + 1.96 * s + (p - 95.0) * s * 0.124;
  return m - 1.96 * s + (p - 5.0) * s * 0.124;
}

void myDrawCIHistoGram(CIWindowRecord* r) {
  if (r == nullptr || r->mWindow == nullptr) return;
  UInt32 kept = 0;
  CGContextRef context = nullptr;
  CGrafPtr port = GetWindowPort(r->mWindow);
  if (CreateCGContextForPort(port, &context) == noErr && context != nullptr) {
    CGContextSaveGState(context);
    Rect bounds;
    GetPortBounds(port, &bounds);
    const Rect& b = r->mHistBounds;
    const CGRect frame = CGRectMake(b.left + 2, (bounds.bottom - bounds.top) - b.bottom - 2, b.right - b.left - 2,
                                    b.bottom - b.top - 2);
    CGContextSetLineWidth(context, 4);
    CGContextSetRGBStrokeColor(context, 0, 0, 0, 1);
    CGContextStrokeRect(context, frame);
    CGContextSetRGBFillColor(context, 1, 1, 1, 1);
    CGContextFillRect(context, frame);
    CGContextSetLineWidth(context, 1);

    const float cutOff = float(convertPercentToCI(r->mPercent, r->mMean, r->mSTD));
    const float w = float(CGRectGetWidth(frame)), h = float(CGRectGetHeight(frame));
    const float x0 = float(CGRectGetMinX(frame)), y0 = float(CGRectGetMinY(frame));
    const float step = (w - 10.0f) * 0.00390625f;
    const float unit = (h - 10.0f) / float(r->mScale ? r->mScale : 1);
    float binValue = float(r->mMin);
    const float binWidth = float(r->mBinWidth);
    for (UInt32 k = 0; k < 256; ++k) {
      const float x = step * float(k) + (x0 + 5.0f);
      const float top = unit * float(r->mCounts[k]) + y0;
      if (binValue >= cutOff) {
        CGContextSetRGBStrokeColor(context, 1, 0, 0, 1);
        kept += r->mCounts[k];
      } else {
        CGContextSetRGBStrokeColor(context, 0, 0, 0, 1);
      }
      CGContextBeginPath(context);
      CGContextMoveToPoint(context, x, y0);
      CGContextAddLineToPoint(context, x, top);
      CGContextStrokePath(context);
      binValue += binWidth;
    }
    CGContextRestoreGState(context);
    CGContextFlush(context);
    CGContextRelease(context);
  }
  char text[32];
  snprintf(text, sizeof text, "%u Frames", unsigned(kept));
  myChangeControlTxt(r->mWindow, kPercentSlider, 2, text);
}

void myCIPercentSliderProc(ControlRef control, ControlPartCode) {
  auto* r = reinterpret_cast<CIWindowRecord*>(GetControlReference(control));
  if (r == nullptr) return;
  r->mPercent = UInt32(GetControl32BitValue(control));
  char text[16];
  snprintf(text, sizeof text, "%u", unsigned(r->mPercent));
  myChangeControlTxt(r->mWindow, kPercentSlider, 1, text);
  myDrawCIHistoGram(r);
}

OSStatus myHandleCIEventsProc(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<CIWindowRecord*>(userData);
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command;
    const OSStatus err =
        GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command);
    if (err != noErr) return err;
    if (r == nullptr) return noErr;
    switch (command.commandID) {
      case kCancelCommand:
        r->mResult = userCanceledErr;
        QuitAppModalLoopForWindow(r->mWindow);
        return noErr;
      case kOKCommand:
        r->mResult = noErr;
        QuitAppModalLoopForWindow(r->mWindow);
        return noErr;
      case kUseForAll: {
        ControlRef box = nullptr;
        const ControlID id{kUseForAll, 0};
        r->mResult = GetControlByID(r->mWindow, &id, &box);
        if (r->mResult != noErr || box == nullptr) {
          myPostAlert("", "GetControlByID failed");
          return noErr;
        }
        r->mUseForAll = GetControl32BitValue(box) == 1 ? 1 : 0;
        return noErr;
      }
      default:
        return eventNotHandledErr;
    }
  }
  if (cls == kEventClassWindow) {
    WindowRef window = nullptr;
    const OSStatus err =
        GetEventParameter(event, kEventParamDirectObject, typeWindowRef, nullptr, sizeof window, nullptr, &window);
    if (err != noErr) return err;
    if (r == nullptr) return noErr;
    if (kind == kEventWindowUpdate) {
      BeginUpdate(r->mWindow);
      myDrawCIHistoGram(r);
      EndUpdate(r->mWindow);
      return noErr;
    }
    if (kind == kEventWindowDrawContent) {
      myDrawCIHistoGram(r);
      return eventNotHandledErr;  // the standard drawing runs as well
    }
  }
  return eventNotHandledErr;
}

Boolean myGetUsersCIPrefs(StackAlignJob* job, UInt32 counts[256], UInt32 frameCount, double minimum, double maximum,
                          double binWidth, double standardDeviation, double mean, double median) {
  if (job == nullptr || counts == nullptr) return false;
  auto* r = static_cast<CIWindowRecord*>(std::calloc(1, sizeof(CIWindowRecord)));
  if (r == nullptr) return false;
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err == noErr) {
    err = CreateWindowFromNib(nib, CFSTR("Histogram"), &r->mWindow);
    DisposeNibReference(nib);
  }
  if (err != noErr || r->mWindow == nullptr) {
    std::free(r);
    return false;
  }
  SetWRefCon(r->mWindow, 0);
  r->mFrameCount = frameCount;
  r->mBinWidth = binWidth;
  r->mMean = mean;
  r->mSTD = standardDeviation;
  r->mMin = minimum;
  {
    ControlRef pane = nullptr;
    const ControlID id{kHistogramPane, 0};
    if (GetControlByID(r->mWindow, &id, &pane) == noErr && pane != nullptr) GetControlBounds(pane, &r->mHistBounds);
  }
  r->mUseForAll = 0;
  r->mCounts = counts;
  r->mPercent = job->PERCENTFRAME;
  r->mResult = userCanceledErr;

  static const EventTypeSpec events[] = {{kEventClassCommand, kEventCommandProcess},
                                         {kEventClassWindow, kEventWindowUpdate},
                                         {kEventClassWindow, kEventWindowDrawContent}};
  EventHandlerRef handler = nullptr;
  err = InstallWindowEventHandler(r->mWindow, NewEventHandlerUPP(myHandleCIEventsProc),
                                  sizeof events / sizeof events[0], events, r, &handler);
  if (err != noErr) {
    DisposeWindow(r->mWindow);
    std::free(r);
    return false;
  }

  UInt32 largest = 0;
  for (int k = 0; k < 256; ++k)
    if (counts[k] > largest) largest = counts[k];
  r->mScale = largest + 1;
  char text[64];
  snprintf(text, sizeof text, "%u", unsigned(r->mScale));
  myChangeControlTxt(r->mWindow, FOUR_CHAR_CODE("NUMS"), 0, text);
  setText(r->mWindow, FOUR_CHAR_CODE("MINV"), 0, "Min: %.3f", float(minimum));
  setText(r->mWindow, FOUR_CHAR_CODE("MAXV"), 0, "Max: %.3f", float(maximum));
  setText(r->mWindow, FOUR_CHAR_CODE("MEAN"), 0, "Mean: %.3f", float(mean));
  setText(r->mWindow, FOUR_CHAR_CODE("MEDI"), 0, "Median: %.3f", float(median));
  setText(r->mWindow, FOUR_CHAR_CODE("ST68"), 0, "STD68: %.5f", float(standardDeviation));
  setText(r->mWindow, FOUR_CHAR_CODE("ST96"), 0, "STD96: %.5f", float(1.96 * standardDeviation));
  snprintf(text, sizeof text, "#Frames: %u", unsigned(frameCount));
  myChangeControlTxt(r->mWindow, FOUR_CHAR_CODE("ST99"), 0, text);

  SetThemeCursor(kThemeArrowCursor);
  ControlRef slider = nullptr;
  const ControlID sliderID{kPercentSlider, 0};
  if (GetControlByID(r->mWindow, &sliderID, &slider) != noErr || slider == nullptr) {
    RemoveEventHandler(handler);
    DisposeWindow(r->mWindow);
    std::free(r);
    return false;
  }
  SetControl32BitMinimum(slider, 0);
  SetControl32BitMaximum(slider, 100);
  SetControl32BitValue(slider, SInt32(r->mPercent));
  SetControlReference(slider, SRefCon(r));
  SetControlAction(slider, NewControlActionUPP(myCIPercentSliderProc));

  bool asSheet = false;
  if (job->mProgressWindow != nullptr) asSheet = ShowSheetWindow(r->mWindow, job->mProgressWindow) == noErr;
  if (!asSheet) ShowWindow(r->mWindow);
  myCIPercentSliderProc(slider, 0);
  RunAppModalLoopForWindow(r->mWindow);
  if (asSheet)
    HideSheetWindow(r->mWindow);
  else
    HideWindow(r->mWindow);
  RemoveEventHandler(handler);

  const bool ok = r->mResult == noErr;
  if (ok) {
    if (r->mUseForAll == 1) job->PROMPTCI = 0;
    job->PERCENTFRAME = r->mPercent;
  }
  DisposeWindow(r->mWindow);
  std::free(r);
  return ok;
}
