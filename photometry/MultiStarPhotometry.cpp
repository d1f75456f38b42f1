#include "photometry/MultiStarPhotometry.h"

#include <cmath>
#include <cstdio>

#include "photometry/MovieRealTime.h"
#include "photometry/PhotomSelection.h"
#include "photometry/StarMeasure.h"
#include "pixel/Centroids.h"
#include "platform/coreservices/CNumericLocale.h"

namespace {

constexpr double kMargin = 16.0;

int gFailApertureIn = 0;
double gFailApertureResult = 0.0;

// The star's aperture sum above `level`, or the failure a test asked for.
double ApertureSum(float r, const UInt16* px, UInt32 cx, UInt32 cy, UInt32 w, UInt32 h, UInt32 rowBytes, UInt32 level,
                   UInt32* pixels) {
  if (gFailApertureIn > 0 && --gFailApertureIn == 0) {
    *pixels = 0;
    return gFailApertureResult;
  }
  return myQUADPIXCaclRadiusIntensity16BitMono(r, px, cx, cy, w, h, rowBytes, level, 0, pixels);
}

struct FrameView {
  const UInt16* px;
  UInt32 w, h, rowBytes;
};

// The clipped centroid over a square box centred on (x, y). False (with the
// message) when it finds no star: a box that does not fit gives -1.0.
bool Recentre(const FrameView& f, UInt32 box, float* x, float* y, UInt32* bg) {
  const double left = std::rint(double(*x) - box / 2.0), top = std::rint(double(*y) - box / 2.0);
  float cx = -1.0f, cy = -1.0f;
  UInt32 level = 0;
  if (left >= 0.0 && top >= 0.0 && left < f.w && top < f.h)
    myCalculateImageSubCentroidClipped16Bit(f.px, UInt32(left), UInt32(top), box, box, f.rowBytes, &cx, &cy, &level,
                                            f.w, f.h);
  if (cx <= 15.0f) {
    std::fprintf(stderr, "myCalculateImageSubCentroidClipped16Bit xClick %f No Star found\n", double(cx));
    return false;
  }
  *x = cx;
  *y = cy;
  *bg = level;
  return true;
}

// Measures slot s; true when the star was found and its fields stored.
bool MeasureSlot(MyBatchPhotomDataStruct* d, const FrameView& f, UInt32 s, bool useStoredFWHM) {
  float x = d->mStarX[s], y = d->mStarY[s];
  if (!(x > kMargin && x < double(f.w) - kMargin && y > kMargin && y < double(f.h) - kMargin)) return false;

  UInt32 bg = 0;
  if (!Recentre(f, 8, &x, &y, &bg)) return false;
  if (!myIsStarAtCentroid(x, y, f.px, f.w, f.h, f.rowBytes, bg)) {
    if (!Recentre(f, 16, &x, &y, &bg)) return false;
    if (!myIsStarAtCentroid(x, y, f.px, f.w, f.h, f.rowBytes, bg) && !Recentre(f, 32, &x, &y, &bg)) return false;
  }

  double fwhm = 0.0;
  UInt32 halfMax = 0;
  const OSErr fwhmErr = myCalcFWHM16BitMono(x, y, f.px, f.w, f.h, f.rowBytes, bg, &fwhm, &halfMax);
  if (fwhmErr != noErr) {
    std::fprintf(stderr, "myCalcFWHM16BitMono failed Err %d which means it could not locate a good star\n",
                 int(fwhmErr));
    return false;
  }
  if (useStoredFWHM) fwhm = d->mStarFWHM[s];

  const double cxD = std::rint(double(x)), cyD = std::rint(double(y));
  const float r = d->mFWHMMultiplier * float(fwhm);
  if (!(cxD - r > 1.0 && cxD + r < f.w && cyD - r > 1.0 && cyD + r < f.h)) {
    std::fprintf(stderr,
                 "if (leftX - apertureRadius) >1.00  failed  - to Close to Image Edges for HFD caclulation\n");
    return false;
  }
  const UInt32 cx = UInt32(cxD), cy = UInt32(cyD);
  UInt32 peak = 0;
  const float hfd = myCalculateHFD16BitMono(r, f.px, cx, cy, f.rowBytes, bg, &peak);

  double intensity = 0.0;
  UInt32 pixels = 0, background = 0;
  float snr = 0.0f;
  const double ring = 2.5 * double(r);
  if (cxD - ring <= 1.0 || cxD + ring >= f.w || cyD - ring <= 1.0 || cyD + ring >= f.h) {
    // No room for the sky ring: the centroid's level stands in for the sky.
    intensity = ApertureSum(r, f.px, cx, cy, f.w, f.h, f.rowBytes, bg, &pixels);
    snr = myCalculateStarSNR(float(intensity), pixels, float(pixels) * float(bg), pixels);
    std::fprintf(stderr, "too tight\n");
    background = bg;
  } else {
    UInt32 ca = 0, cb = 0;
    const double Ia = myQUADPIXCaclRadiusIntensity16BitMono(1.5f * r, f.px, cx, cy, f.w, f.h, f.rowBytes, 0, 0, &ca);
    const double Ib = myQUADPIXCaclRadiusIntensity16BitMono(2.2f * r, f.px, cx, cy, f.w, f.h, f.rowBytes, 0, 0, &cb);
    const UInt32 level =
        cb == ca ? 0u : UInt32(std::fabs(Ib - Ia) / std::fabs(double(cb) - double(ca)));
    UInt32 nB = 0;
    const double B = myQUADPIXCaclBackgroundRadiusIntensity16BitMono(float(ring), f.px, cx, cy, f.w, f.h, f.rowBytes,
                                                                     level, 1, &nB);
    // A sky disc with no pixel at or below the ring level gives no sky.
    if (B < 0.0 || nB == 0) return false;
    background = UInt32(B / nB);
    intensity = ApertureSum(r, f.px, cx, cy, f.w, f.h, f.rowBytes, background, &pixels);
    if (intensity >= 0.0) snr = myCalculateStarSNR(float(intensity), pixels, float(B), nB);
  }
  // An aperture that failed (-1.0, -2.0), or found nothing above the sky, has
  // no intensity to compare and no magnitude.
  if (!(intensity > 0.0)) return false;

  d->mStarFound[s] = 1;
  d->mStarX[s] = x;
  d->mStarY[s] = y;
  if (!useStoredFWHM) d->mStarFWHM[s] = float(fwhm);
  d->mStarHFD[s] = hfd;
  d->mStarIntensity[s] = float(intensity);
  d->mStarMagError[s] = snr > 0.0f ? 1.0875f / snr : 0.0f;
  d->mStarSNR[s] = snr;
  d->mStarRelMag[s] = 0.0f;
  d->mStarPixelCount[s] = pixels;
  d->mStarBackground[s] = background;
  d->mStarHMVal[s] = halfMax;
  d->mStarMaxValue[s] = SInt32(peak);
  return true;
}

// The number of slot s among the slots of its kind (C0, C1, ... and V0, ...).
int KindNumber(const MyBatchPhotomDataStruct* d, UInt32 s) {
  int n = 0;
  for (UInt32 i = 0; i < s; ++i) n += (d->mStarIsVariable[i] != 0) == (d->mStarIsVariable[s] != 0);
  return n;
}

void WriteHeaders(MyBatchPhotomDataStruct* d, UInt32 count, int dateMode) {
  myOutputStringToPhotomFiles(d, dateMode == 1 ? "DateUTC\tTimeUTC\tJulian Day Number\t" : "ElapsedTime\t");
  if ((d->mOutputMode == 0 || d->mOutputMode == 2) && d->mSimpleFile) {
    for (UInt32 s = 0; s < count; ++s)
      if (d->mStarX[s] > 0.0f)
        std::fprintf(d->mSimpleFile, "%c%d Rel Mag\t", d->mStarIsVariable[s] ? 'V' : 'C', KindNumber(d, s));
    for (UInt32 s = 0; s < count; ++s)
      if (d->mStarX[s] > 0.0f)
        std::fprintf(d->mSimpleFile, "%c%d \xB1Mag\t", d->mStarIsVariable[s] ? 'V' : 'C', KindNumber(d, s));
    std::fputs("\r", d->mSimpleFile);
  }
  if ((d->mOutputMode == 1 || d->mOutputMode == 2) && d->mDetailedFile)
    std::fprintf(d->mDetailedFile,
                 "StarID\tXLoc\tYLoc\tRel Mag\t\xB1Mag\tIntensity\t FWHM (Mult %4.2f) \tHFD\tHMVal\tPixel Count\t"
                 "Background\tSNR\tMaxValue\r",
                 double(d->mFWHMMultiplier));
}

void WriteRows(MyBatchPhotomDataStruct* d, UInt32 count, double t, int dateMode, int k) {
  char stamp[kTableTimeStampSize];
  myMakeTableTimeStamp(t, dateMode, stamp);
  if ((d->mOutputMode == 0 || d->mOutputMode == 2) && d->mSimpleFile) {
    FILE* out = d->mSimpleFile;
    std::fprintf(out, "%s\t", stamp);
    for (UInt32 s = 0; s < count; ++s)
      d->mStarFound[s] ? std::fprintf(out, "%5.4f\t", double(d->mStarRelMag[s])) : std::fputs("---\t", out);
    for (UInt32 s = 0; s < count; ++s)
      d->mStarFound[s] ? std::fprintf(out, "%5.4f\t", double(d->mStarMagError[s])) : std::fputs("---\t", out);
    std::fputs("\r", out);
  }
  if ((d->mOutputMode == 1 || d->mOutputMode == 2) && d->mDetailedFile) {
    FILE* out = d->mDetailedFile;
    for (UInt32 s = 0; s < count; ++s) {
      const char* kind = d->mStarIsVariable[s] ? "Var Star#" : "Const Star#";
      if (!d->mStarFound[s]) {
        std::fprintf(out, "%s%d could not be calculated or identified for frame %d\r", kind, KindNumber(d, s), k + 1);
        continue;
      }
      std::fprintf(out, "%s\t%s%d\t", stamp, kind, KindNumber(d, s));
      std::fprintf(out, "%6.1f\t%6.1f\t", double(d->mStarX[s]), double(d->mStarY[s]));
      std::fprintf(out, "%5.4f\t%5.4f\t%8.1f\t", double(d->mStarRelMag[s]), double(d->mStarMagError[s]),
                   double(d->mStarIntensity[s]));
      std::fprintf(out, "%6.2f\t%6.2f\t%u\t", double(d->mStarFWHM[s]), double(d->mStarHFD[s]),
                   unsigned(d->mStarHMVal[s]));
      std::fprintf(out, "%u\t%u\t%6.2f\t%d\r", unsigned(d->mStarPixelCount[s]), unsigned(d->mStarBackground[s]),
                   double(d->mStarSNR[s]), int(d->mStarMaxValue[s]));
    }
  }
}

}  // namespace

void SkyloomFailStarApertureSum(int nth, double result) {
  gFailApertureIn = nth;
  gFailApertureResult = result;
}

SInt32 myGetFWHMMagMultiPositions(MyBatchPhotomDataStruct* d, double t, int dateMode, int k) {
  if (d == nullptr || d->mMono16FramePtr == nullptr) return -108;
  if (d->mWidth <= 0 || d->mHeight <= 0) return -108;
  SkyloomCLocaleScope cLocale;
  const UInt32 count = d->mStarCount < kBatchPhotomStarSlots ? d->mStarCount : kBatchPhotomStarSlots;
  const FrameView f{d->mMono16FramePtr, UInt32(d->mWidth), UInt32(d->mHeight), UInt32(d->mWidth) * 2};

  if (k == 0) {
    WriteHeaders(d, count, dateMode);
    // No slot has an aperture size yet: each takes it from the first frame it is measured in.
    for (UInt32 s = 0; s < kBatchPhotomStarSlots; ++s) d->mStarFWHM[s] = 0.0f;
  }

  bool variableFound = false;
  for (UInt32 s = 0; s < count; ++s) {
    d->mStarFound[s] = 0;
    MeasureSlot(d, f, s, k > 0 && d->mStarFWHM[s] > 0.0f);
    variableFound |= d->mStarFound[s] && d->mStarIsVariable[s];
  }

  char line[128];
  if (!variableFound) {
    std::snprintf(line, sizeof line, "Error - No Variable Stars Identified skipping frame %d\r", k + 1);
    myOutputStringToPhotomFiles(d, line);
    return -1;
  }
  float sum = 0.0f;
  UInt32 comparisons = 0;
  for (UInt32 s = 0; s < count; ++s)
    if (d->mStarFound[s] && !d->mStarIsVariable[s]) {
      sum += d->mStarIntensity[s];
      ++comparisons;
    }
  if (comparisons == 0) {
    std::snprintf(line, sizeof line, "Error - No Constant Stars Identified Skipping Frame %d\r", k + 1);
    myOutputStringToPhotomFiles(d, line);
    return 0;
  }
  const float reference = sum / float(comparisons);
  for (UInt32 s = 0; s < count; ++s)
    if (d->mStarFound[s]) d->mStarRelMag[s] = myCalculateMagnitude(0.0, reference, d->mStarIntensity[s]);

  WriteRows(d, count, t, dateMode, k);
  return 0;
}
