// The live histogram in the control window: one black curve for a grey frame,
// red, green and blue curves for a mosaic shown in colour, drawn over a white
// plot rectangle inside the record's histogram area. Main thread only; the
// tables are those the live pipeline counts on the delivery thread (see
// Histogram.h for the hand-off).
//
// Geometry is in CoreGraphics coordinates (origin bottom left), single
// precision: the plot rectangle P is the area inset by 3 on every side,
// curves start at (minX(P) + 2, minY(P) + 2) and never rise above
// yTop = y0 + ph - 4. A count c is drawn at y0 + s x (c << (option - 1)),
// s = ph / 307200, so one bin holding a whole 640 x 480 frame reaches the
// full height at option 1.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/coreservices/MacTypes.h"

struct MyHistogramPlotGeometry {
  float x, y, width, height;  // the plot rectangle P
  float x0, y0, yTop;         // curve origin and top limit
  float scale;                // height of one count at option 1
};

struct MyHistogramPlotPoint {
  float x, y;
};

// P and the curve limits for an area (window-local, y down) in a port of the
// given height.
MyHistogramPlotGeometry myHistogramPlotGeometry(const Rect& area, float portHeight);

// The height at which a count is drawn: min(yTop, y0 + s x (count << (option - 1))),
// the shift on 32 bits (bits shifted out are lost). Option 0 acts as 1.
float myHistogramPlotY(const MyHistogramPlotGeometry& g, UInt32 count, UInt32 option);

// The points of one table's curve, first point the path's start. Fine plot:
// 256 points, one a bin, step (pw - 6) / 256. Coarse plot (long-exposure
// cameras): 64 x 2 points, each pair showing the larger of bins 4k and 4k + 2
// and, 2 to the right, of bins 4k + 1 and 4k + 3. Returns the point count;
// `points` must hold 256.
UInt32 myHistogramPlotPoints(const MyHistogramPlotGeometry& g, const UInt32* table,
                             UInt32 option, bool coarse, MyHistogramPlotPoint* points);

// Plots the record's tables when the control window is up, the display option
// is on and the pipeline has finished a frame; otherwise draws nothing.
void myDrawHistoGram(MyCameraWindowDataStruct* record);
// Blanks the plot rectangle (white) while the control window is up.
void myEraseHistoGramArea(MyCameraWindowDataStruct* record);
