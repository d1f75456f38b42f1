// The sharpness cut-off of a stacking run: the percent the user states
// (PERCENTFRAME) turned into a sharpness value from the movie's mean and
// standard deviation, and the modal "Histogram" window in which the user
// chooses it while seeing the frames it keeps.
#pragma once
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "stacking/StackAlignJob.h"

// The cut-off for a percent, after the manner of a normal distribution's
// confidence interval: 50 gives the mean, 68 one deviation above it, 95 1.96
// deviations above it, 100 2.58 above and 0 2.58 below.
double convertPercentToCI(UInt32 percent, double mean, double standardDeviation);

// The window's record; lives only while myGetUsersCIPrefs runs.
struct CIWindowRecord {
  UInt32* mCounts;    // the frequency count, 256 bins
  double mMean;
  double mSTD;
  double mMin;        // start of bin 0
  double mBinWidth;
  UInt32 mScale;      // largest bin count + 1
  UInt32 mPercent;    // the slider's percent
  UInt32 mFrameCount;
  UInt8 mUseForAll;   // state of 'ALL_'
  Rect mHistBounds;   // the drawing area 'HIST'
  SInt32 mResult;     // 0 after OK, -128 after Cancel
  WindowRef mWindow;
};

// Runs the "Histogram" window for one movie, as a sheet on the job's progress
// window when it has one. True when the user pressed OK: the job's
// PERCENTFRAME then holds the chosen percent, and PROMPTCI is 0 when the user
// asked to use it for the remaining movies of this run. False (the job
// unchanged) after Cancel or when the window cannot be shown.
Boolean myGetUsersCIPrefs(StackAlignJob* job, UInt32 counts[256], UInt32 frameCount, double minimum, double maximum,
                          double binWidth, double standardDeviation, double mean, double median);
// The window's handler for {'cmds', 1}, {'wind', 1} and {'wind', 2}.
OSStatus myHandleCIEventsProc(EventHandlerCallRef handler, EventRef event, void* userData);
// The slider's live action: the percent text and the histogram follow it.
void myCIPercentSliderProc(ControlRef control, ControlPartCode part);
// Draws the histogram (bins at or above the cut-off in red) and writes the
// number of frames kept into 'CIAM' 2.
void myDrawCIHistoGram(CIWindowRecord* record);
