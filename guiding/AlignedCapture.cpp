#include "guiding/AlignedCapture.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "media/RGB48Files.h"
#include "media/RawFrameConversion.h"
#include "pixel/BayerPlanes.h"
#include "pixel/BlockMatch.h"
#include "pixel/Centroids.h"
#include "pixel/FrameSums.h"
#include "pixel/StarProfile.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/GraphicsExport.h"

void (*volatile gMyTestAlignPausePoint)(int where) = nullptr;

namespace {

constexpr UInt32 kHistogramBytes = 1040;
constexpr double kMinBlockContrast = 10.0;  // levels between the block's extremes
constexpr float kMaxMeanDifference = 10.0f;  // per pixel, for a match to count
constexpr UInt32 kGradientStep = 8;
constexpr UInt32 kFinishPolls = 1000;        // x 5 ms: about 5 s
constexpr UInt64 kFinishPollMicros = 5000;

std::atomic<UInt32> gFailAllocationAt{0};

void pausePoint(int where) {
  if (auto hook = __atomic_load_n(&gMyTestAlignPausePoint, __ATOMIC_SEQ_CST)) hook(where);
}

void* alignAlloc(size_t bytes, bool zeroed) {
  UInt32 n = gFailAllocationAt.load();
  while (n != 0 && !gFailAllocationAt.compare_exchange_weak(n, n - 1)) {
  }
  if (n == 1) return nullptr;
  return zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
}

template <class T>
void freeField(T*& field) {
  std::free(field);
  field = nullptr;
}

void freeAll(MyCameraWindowDataStruct* r) {
  freeField(r->mAlignHistogram);
  freeField(r->mAlignWork);
  freeField(r->mAlignBlock);
  freeField(r->mAlignConvert);
  freeField(r->mAlignSum);
}

UInt8 captureOpen(MyCameraWindowDataStruct* r) {
  return std::atomic_ref<UInt8>(r->mAlignCaptureOpen).load(std::memory_order_seq_cst);
}

// The Mono8 greens of a mosaic (8 or 16-bit) by the camera's BayerFormat.
void greensToMono8(const void* frame, bool deep, UInt32 bayerFormat, UInt8* out, UInt32 w,
                   UInt32 h) {
  const MyBayerRoutineChoice c = myBayerRoutineChoiceFromBayerFormat(bayerFormat);
  if (deep) {
    const auto* src = static_cast<const UInt16*>(frame);
    if (c.family == kMyBayerFamilyRGGB)
      myBayerRGGB16_Mono8(src, out, w, h, w, c.startRowFlag);
    else
      myBayerBGGR16_Mono8(src, out, w, h, w, c.startRowFlag);
  } else {
    const auto* src = static_cast<const UInt8*>(frame);
    if (c.family == kMyBayerFamilyRGGB)
      myBayerRGGB8_Mono8(src, out, w, h, w, c.startRowFlag);
    else
      myBayerBGGR8_Mono8(src, out, w, h, w, c.startRowFlag);
  }
}

// Centre of the block myExtract32BlockPixels copied around (bcx, bcy): the
// whole pixel it starts at plus half a side. Shifts are measured from here,
// so a frame moved by whole pixels comes back with exactly that shift (the
// centroid's fraction would otherwise cost a pixel on one side).
SInt32 blockCentre(float at, UInt32 scale) {
  const double half = double(16 * scale);
  return SInt32(std::trunc(double(at) - half)) + SInt32(half);
}

// Steps 2 to 7 for a frame of an open run: the frame is dropped by returning
// before the count.
void alignFrame(MyCameraWindowDataStruct* r, const void* frame) {
  const UInt32 w = r->mAlignWidth, h = r->mAlignHeight;
  const bool deep = r->mBitsPerPixel > 8;
  if (!r->mAlignHistogram || w == 0 || h == 0) return;

  // Working image. 16-bit frames of a mono mode have no mosaic: their high
  // bytes are the image.
  const UInt8* work = static_cast<const UInt8*>(frame);
  auto* workBuf = static_cast<UInt8*>(r->mAlignWork);
  if (r->mAlignNeedsMono) {
    if (!workBuf) return;
    if (r->mBayerFormat != 0)
      greensToMono8(frame, deep, r->mBayerFormat, workBuf, w, h);
    else if (deep)
      myMono16_Mono8(static_cast<const UInt16*>(frame), workBuf, w, h, w);
    else
      std::memcpy(workBuf, frame, size_t(w) * h);
    work = workBuf;
  }

  // Object centroid.
  UInt32* hist = r->mAlignHistogram;
  myGetFrequencyMono8(work, hist, w, h, w);
  const UInt32 median = myCalcMono8MedianVal(hist, 0.5);
  const UInt32 threshold = myAlignThreshold(hist, r->mImageAlignMode, r->mBitsPerPixel);
  float cx = -1.0f, cy = -1.0f;
  if (r->mImageAlignMode == 1) {
    UInt32 boxW = 0, boxH = 0;
    myCalcDeltaMultipleCentroids(work, w, h, w, threshold, 1, &cx, &cy, &boxW, &boxH);
  } else {
    myCalcImageSubCentroid(work, w, h, w, UInt8(threshold), r->mHasVectorUnit, r->mIsG5, &cx, &cy);
  }
  if (cx < 0.0f) return;

  // Reference or match.
  SInt32 dx = 0, dy = 0;
  const UInt32 scale = r->mAlignBlockScale;
  if (r->mAlignReady && r->mAlignBlock) {
    if (r->mAlignedFrameCount == 0) {
      r->mAlignRefX = cx;
      r->mAlignRefY = cy;
      r->mAlignRefMedian = median;
      SInt32 offX = 0, offY = 0;
      findMaxMono8Gradient(work, w, h, w, kGradientStep, r->mImageAlignMode == 2 ? 1 : 0, cx, cy,
                           &offX, &offY);
      r->mAlignBlockOffsetX = offX;
      r->mAlignBlockOffsetY = offY;
      if (myExtract32BlockPixels(work, r->mAlignBlock, w, h, w, scale, kMinBlockContrast,
                                 cx + float(offX), cy + float(offY)) != 0)
        r->mAlignReady = 0;
    } else {
      const float sx = cx + float(r->mAlignBlockOffsetX), sy = cy + float(r->mAlignBlockOffsetY);
      float bx = sx, by = sy;
      const SInt32 match =
          r->mHasVectorUnit == 1
              ? myAltivecCompare32BlockPixels(r->mAlignBlock, work, w, h, w, scale,
                                              SInt32(r->mAlignRefMedian), SInt32(median),
                                              kMaxMeanDifference, sx, sy, r->mIsG5, &bx, &by)
              : myCompare32BlockPixels(r->mAlignBlock, work, w, h, w, scale,
                                       SInt32(r->mAlignRefMedian), SInt32(median),
                                       kMaxMeanDifference, sx, sy, &bx, &by);
      if (match >= -16 && match <= -1) return;
      dx = blockCentre(r->mAlignRefX + float(r->mAlignBlockOffsetX), scale) - SInt32(bx);
      dy = blockCentre(r->mAlignRefY + float(r->mAlignBlockOffsetY), scale) - SInt32(by);
    }
  }

  // Add into the sum. Deep frames are 16-bit whatever the camera's depth
  // (12-bit frames were widened before the pipeline), so the converters are
  // told 16.
  UInt32* sums = r->mAlignSum;
  if (!sums) return;
  if (r->mAlignColour) {
    void* convert = r->mAlignConvert;
    if (!convert) return;
    if (!deep) {
      if (ORXDCAMConvertRawFrameToARGB32(r->mCameraHandle, frame, w, h, r->mDisplayFormat, 8,
                                         convert, w * 4) != noErr)
        return;
      myAdd8Buffto32BuffRGB(static_cast<const UInt8*>(convert), sums, w, h, dx, dy);
    } else {
      if (ORXDCAMConvertRaw16FrameToRGB48(r->mCameraHandle, frame, w, h, r->mDisplayFormat, 16,
                                          convert, w * 6) != noErr)
        return;
      myAdd16Buffto32BuffRGB(static_cast<const UInt16*>(convert), sums, w, h, dx, dy);
    }
  } else if (!deep) {
    myAdd8Buffto32BuffMono(r->mAlignUseGreens ? work : static_cast<const UInt8*>(frame), sums, w,
                           h, dx, dy);
  } else if (r->mAlignUseGreens && r->mBayerFormat != 0) {
    // The Mono8 image has served its purpose; the 16-bit greens take its place.
    auto* greens = static_cast<UInt16*>(r->mAlignWork);
    const MyBayerRoutineChoice c = myBayerRoutineChoiceFromBayerFormat(r->mBayerFormat);
    const auto* src = static_cast<const UInt16*>(frame);
    if (c.family == kMyBayerFamilyRGGB)
      myBayerRGGB16_MONO16(src, greens, w * 2, w, h, c.startRowFlag);
    else
      myBayerBGGR16_MONO16(src, greens, w * 2, w, h, c.startRowFlag);
    myAdd16Buffto32BuffMono(greens, sums, w, h, dx, dy);
  } else {
    myAdd16Buffto32BuffMono(static_cast<const UInt16*>(frame), sums, w, h, dx, dy);
  }
  ++r->mAlignedFrameCount;
}

}  // namespace

void SkyloomFailAlignAllocation(UInt32 nth) { gFailAllocationAt.store(nth); }

UInt32 myAlignThreshold(const UInt32* histogram, UInt32 method, UInt32 bitsPerPixel) {
  if (method == 1) {
    // Levels only grow with the fraction, so the range is never negative.
    const UInt32 hi = myCalcMono8MedianVal(histogram, 0.8);
    const UInt32 lo = myCalcMono8MedianVal(histogram, 0.2);
    const double t = std::trunc(double(hi - lo) * 0.2);
    return (t < 10.0 || t > 200.0) ? 10 : UInt32(t);
  }
  const UInt32 a = myCalcMono8MedianVal(histogram, 0.9999);
  const UInt32 b = myCalcMono8MedianVal(histogram, 0.95);
  const UInt32 c = myCalcMono8MedianVal(histogram, 0.8);
  const UInt32 upper = b - c > 29 ? b : a;
  const UInt32 t = ((upper + c) / 2) & 0xFF;
  if (t > 200) return bitsPerPixel > 8 ? 200 : 10;
  return t;
}

OSStatus myStartAlignedFrameCapture(MyCameraWindowDataStruct* r, UInt32 width, UInt32 height) {
  if (!r) return paramErr;
  r->mAlignRefX = 0.0f;
  r->mAlignRefY = 0.0f;
  r->mAlignBlockScale = 1;
  r->mAlignWidth = width;
  r->mAlignHeight = height;
  r->mAlignReady = 0;
  r->mAlignHistogram = nullptr;
  r->mAlignWork = nullptr;
  r->mAlignSum = nullptr;
  r->mAlignBlock = nullptr;
  r->mAlignConvert = nullptr;
  r->mAlignedFrameCount = 0;
  // mAlignBusy is left as it is: it is balanced by every frame, and zeroing
  // it under a frame still running from an abandoned run would unbalance it.
  r->mAlignColour = r->mColourDisplay;
  const bool deep = r->mBitsPerPixel > 8;
  r->mAlignNeedsMono = (r->mColourSensor == 1 || deep) ? 1 : 0;
  r->mAlignUseGreens = (r->mColourSensor == 1 && r->mDisplayFormatItem == 1) ? 1 : 0;

  const size_t pixels = size_t(width) * height;
  const UInt32 scale = r->mAlignBlockScale;
  bool ok = true;
  if (r->mAlignNeedsMono) ok = (r->mAlignWork = alignAlloc((pixels + 64) * (deep ? 2 : 1), false));
  if (ok && r->mAlignColour) {
    ok = (r->mAlignSum = static_cast<UInt32*>(alignAlloc(pixels * 12 + 16, true)));
    if (ok) ok = (r->mAlignConvert = alignAlloc(pixels * (deep ? 6 : 4) + 16, false));
  } else if (ok) {
    ok = (r->mAlignSum = static_cast<UInt32*>(alignAlloc(pixels * 4 + 16, true)));
  }
  if (ok) ok = (r->mAlignHistogram = static_cast<UInt32*>(alignAlloc(kHistogramBytes, false)));
  if (ok)
    ok = (r->mAlignBlock =
              static_cast<UInt8*>(alignAlloc(size_t(32 * scale) * (32 * scale) + 64, false)));
  if (!ok) {
    freeAll(r);
    return memFullErr;
  }
  r->mAlignReady = 1;
  // Last: from here on frames may use everything above.
  std::atomic_ref<UInt8>(r->mAlignCaptureOpen).store(1, std::memory_order_seq_cst);
  return noErr;
}

OSStatus myDoFrameAlign(MyCameraWindowDataStruct* r, const void* frame) {
  if (!r) return noErr;
  IncrementAtomic(&r->mAlignBusy);
  // Re-read after raising busy: finish clears the flag before it looks at
  // busy, so either it sees this frame or this frame sees the run closed.
  if (captureOpen(r) && frame) {
    pausePoint(kMyAlignPauseInFrame);
    alignFrame(r, frame);
  }
  DecrementAtomic(&r->mAlignBusy);
  return noErr;
}

OSStatus myFinishAlignedFrameCapture(MyCameraWindowDataStruct* r, UInt8 save, UInt8 sum) {
  if (!r) return noErr;
  std::atomic_ref<UInt8>(r->mAlignCaptureOpen).store(0, std::memory_order_seq_cst);
  std::atomic_ref<SInt32> busy(r->mAlignBusy);
  for (UInt32 polls = 0; busy.load(std::memory_order_seq_cst) != 0; ++polls) {
    // A frame stuck this long still holds the buffers: leave them to it.
    if (polls == kFinishPolls) return noErr;
    pausePoint(kMyAlignPauseFinishWait);
    SkyloomSleepMicroseconds(kFinishPollMicros);
  }
  freeField(r->mAlignHistogram);
  freeField(r->mAlignWork);
  freeField(r->mAlignBlock);
  freeField(r->mAlignConvert);
  r->mAlignReady = 0;

  const UInt64 n = sum ? 1 : r->mAlignedFrameCount;
  OSStatus status = noErr;
  const UInt32* sums = r->mAlignSum;
  if (save && n != 0 && sums) {
    const UInt32 w = r->mAlignWidth, h = r->mAlignHeight;
    const UInt32 full = r->mBitsPerPixel > 8 ? 65535 : 255;
    const bool colour = r->mAlignColour != 0;
    const size_t pixels = size_t(w) * h;
    auto* image = static_cast<UInt16*>(std::malloc(pixels * (colour ? 6 : 2) + 16));
    if (!image) {
      status = memFullErr;
    } else {
      if (colour) {
        myDownSizeRGB96BuffertoRGB48Buffer(sums, image, 0, 0, w, h, w, UInt32(n), full);
      } else {
        // 64-bit: s x 65535 leaves 32 bits for any sum above 65536.
        const UInt64 top = n * full;
        for (size_t i = 0; i < pixels; ++i) {
          const UInt64 s = sums[i];
          image[i] = s >= top ? UInt16(65535) : UInt16(s * 65535 / top);
        }
      }
      status = myRGB48ToFileFSSpec(r->mFrameFileSpec, kQTFileTypeTIFF, image, w, h, colour ? 1 : 0);
      std::free(image);
    }
  }
  freeField(r->mAlignSum);
  return status;
}
