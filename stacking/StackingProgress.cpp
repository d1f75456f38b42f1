// The progress window's handler and idle timer, and the log's settings block.
#include "stacking/StackingProgress.h"

#include <cstdio>

namespace {

const char* onOff(UInt32 value) { return value == 1 ? "On\n" : "Off\n"; }

const char* sharpeningWord(double sharpen) {
  if (sharpen < 0.51) return "Very Light";
  if (sharpen < 1.1) return "Light";
  if (sharpen < 2.6) return "Medium";
  if (sharpen < 5.1) return "Medium High";
  if (sharpen < 7.6) return "High";
  if (sharpen < 10.1) return "Very High";
  return "Extreme";
}

}  // namespace

OSStatus myProgressWindowEventHandler(EventHandlerCallRef, EventRef event, void* user) {
  auto* job = static_cast<StackAlignJob*>(user);
  if (job == nullptr || event == nullptr) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand command;
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                          &command) == noErr &&
        command.commandID == FOUR_CHAR_CODE("clos")) {
      EventRef close = nullptr;
      if (CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, GetCurrentEventTime(),
                      kEventAttributeUserEvent, &close) == noErr) {
        WindowRef window = job->mProgressWindow;
        SetEventParameter(close, kEventParamDirectObject, typeWindowRef, sizeof window, &window);
        SendEventToEventTarget(close, GetUserFocusEventTarget());
        ReleaseEvent(close);
      }
    }
  } else if (cls == kEventClassWindow && kind == kEventWindowClose) {
    job->mCancel = 1;
  }
  return eventNotHandledErr;
}

void myMovieIdleTaskProc(EventLoopTimerRef, void* window) {
  if (window != nullptr) IdleControls(static_cast<WindowRef>(window));
}

void myPrintProcessingStats(const StackAlignJob* job) {
  if (job == nullptr || job->mLogFile == nullptr) return;
  FILE* f = job->mLogFile;
  std::fprintf(f, "CI Cutoff: %d %%\n", int(job->PERCENTFRAME));

  static const char* const kChannels[] = {"", "Luma", "Red", "Green", "Blue"};
  std::fprintf(f, "Aligned Using: %s Channel\n", job->COLORCHANNEL <= 4 ? kChannels[job->COLORCHANNEL] : "");
  std::fprintf(f, "Gross Alignment: %s", job->METHOD == 1 ? "Lunar - Solar\n" : "Planetary\n");

  static const char* const kPixelAlign[] = {"None\n",
                                            "Horizontal\n",
                                            "Vertical \n",
                                            "Horizontal and Vertical Separate\n",
                                            "Horizontal and Vertical Average\n",
                                            "Manual Selection\n"};
  std::fprintf(f, "Pixel Alignment: %s", job->PIXELALIGN <= 5 ? kPixelAlign[job->PIXELALIGN] : "");
  if (job->PIXELALIGN != 0) {
    const int side = int(job->PIXELBLOCKSIZE) * 32;
    std::fprintf(f, "Pixel Alignment Block Size: %d x %d pixels\n", side, side);
    const float tolerance = float(SInt32(job->PIXELTOLERANCE) - 1) * 0.5f;
    std::fprintf(f, "Pixel Matching Tolerance : %5.2f\n", double(tolerance));
  }
  std::fprintf(f, "Scale Frames by: %d x\n", int(job->SCALE));

  std::fputs("Frame Sharpening: ", f);
  if (job->SHARPEN < 0.0) {
    std::fputs("None\n", f);
  } else {
    std::fputs(sharpeningWord(job->SHARPEN), f);
    std::fputs(job->REMOVENOISE == 1 ? " with Noise Reduction\n" : "\n", f);
  }
  std::fprintf(f, "Gaussian Blur sharpness and alignment frames: %s", job->GAUSBLUR == 1 ? "On\n" : "Off\n");
  std::fprintf(f, "Sharpen alignment frames: %s", onOff(job->SHARPMATCH));
  std::fprintf(f, "Auto Histogram Expand alignment frames: %s", job->AUTOEXPALIGN != 0 ? "On\n" : "Off\n");
  std::fprintf(f, "HighQuality Bayer:%s", onOff(job->QUALITY));
  std::fprintf(f, "Auto Clip Area: %s", onOff(job->AUTOCLIP));
  std::fprintf(f, "Adjust Pixel Comparison Area Brightness: %s", onOff(job->AUTOADJBRIGHTNESS));

  static const char* const kSpatial[] = {"Small\n", "Medium\n", "Wide\n"};
  std::fprintf(f, "Spatial Sharpness Distance: %s", job->SPATIALSHARPNESS <= 2 ? kSpatial[job->SPATIALSHARPNESS] : "");
  std::fputs("Remove Hot & Cold Pixels: ", f);
  if (job->REMOVEHOTPIXEL != 0)
    std::fprintf(f, "Cutoff %d  \n", int(job->REMOVEHOTPIXEL));
  else
    std::fputs("Off\n", f);
  std::fprintf(f, "Binning Frames 2x2: %s", onOff(job->BIN2x2MOV));
  std::fputs(job->SUMIMG == 1 ? "Summing Images\n" : "Averaging Images\n", f);
  std::fprintf(f, "Subtracting Background: %s", onOff(job->BCGSUBTRACT));
  std::fputs("Gradient Leveling: ", f);
  if (job->GRADLEVEL == 0)
    std::fputs("Off\n", f);
  else
    std::fprintf(f, " %d percent\n", int(job->GRADLEVEL) * 5);
}
