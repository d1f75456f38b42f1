// The frame callback, the per-frame pipeline and the main thread's side of
// the frame hand-off. See FramePipeline.h for the threading rules.
#include "app/FramePipeline.h"

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "app/ExposureControls.h"  // myAnalyzeCCDExposure
#include "app/RecordAtomics.h"
#include "guiding/AlignedCapture.h"
#include "guiding/GuideStar.h"
#include "guiding/ObjectTracking.h"
#include "media/MovieRecorder.h"
#include "media/RawFrameConversion.h"
#include "pixel/BayerBinning.h"
#include "pixel/BayerPlanes.h"
#include "pixel/BayerSharpness.h"
#include "pixel/BayerWhiteBalance.h"
#include "pixel/DarkFrame.h"
#include "pixel/FlatField.h"
#include "pixel/FrameSums.h"
#include "pixel/Histogram.h"
#include "pixel/HotPixels.h"
#include "pixel/PixelOps.h"
#include "pixel/live/WhiteBalanceStep.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/LowLevel.h"

void (*volatile gMyPipelineTestPausePoint)(MyCameraWindowDataStruct*, int) = nullptr;
void (*volatile gMyFrameProcessorSpy)(MyCameraWindowDataStruct*, void*, UInt32, double, double) = nullptr;
void* (*volatile gMyFWHMAllocate)(size_t) = nullptr;
void* (*volatile gMyGrabAllocate)(size_t) = nullptr;
OSErr (*volatile gMyAddMovieFrame)(MyMovieRecorderStruct*, const void*, double) = nullptr;

namespace {

using record_atomics::ld;
using record_atomics::st;
using record_atomics::lowerIfUp;

constexpr OSType kARGB = FOUR_CHAR_CODE("ARGB");
constexpr OSType kRaw = FOUR_CHAR_CODE("raw ");
constexpr double kPairingExposureMs = 267.0;  // long-exposure kind: frames pair from here on
constexpr UInt32 kFWHMHistogramBytes = 1040;
constexpr UInt32 kSharpnessWindow = 30;

// Bounded waits of the main thread (polls x sleep): grabs and the recorder
// 5,000 x 1 ms, FWHM/HFD 20 x 100 ms. Tests shorten them.
std::atomic<UInt32> gWaitPolls{0};
UInt32 polls(UInt32 normal) {
  const UInt32 p = gWaitPolls.load(std::memory_order_relaxed);
  return p ? p : normal;
}

void raise(SInt32& c) { IncrementAtomic(&c); }
void lower(SInt32& c) { DecrementAtomic(&c); }

void pause(MyCameraWindowDataStruct* r, int where) {
  if (auto p = gMyPipelineTestPausePoint) p(r, where);
}

// Raises a busy counter for a scope.
class Busy {
 public:
  explicit Busy(SInt32& c) : c_(c) { raise(c_); }
  ~Busy() { lower(c_); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  SInt32& c_;
};

// After a copy into the grab buffer: filled only while the request still
// stands (a finish that came during the copy has ended it), and before
// mGrabWanted drops, so a completion that sees the frame taken also sees it
// filled.
void markGrabFilled(MyCameraWindowDataStruct& r) {
  if (ld(r.mGrabWanted) == 1) st(r.mGrabFilled, UInt8(1));
}

bool validBayer(UInt32 code) { return code >= 1 && code <= 4; }

// ---- the depth-dependent routines, one overload per sample type ----

void hotPixels(UInt8* f, UInt32 w, UInt32 h, bool bayer, UInt32 t) {
  bayer ? myDoBayerHotPixel8Bit(f, w, h, t) : myDoMonoHotPixel8Bit(f, w, h, t);
}
void hotPixels(UInt16* f, UInt32 w, UInt32 h, bool bayer, UInt32 t) {
  bayer ? myDoBayerHotPixel16Bit(f, w, h, t) : myDoMonoHotPixel16Bit(f, w, h, t);
}
void subtractDark(UInt8* f, const void* d, UInt32 n, UInt8 a, UInt8 p) {
  mySubtractDarkFrame8Bit(f, static_cast<const UInt8*>(d), n, a, p);
}
void subtractDark(UInt16* f, const void* d, UInt32 n, UInt8 a, UInt8 p) {
  mySubtractDarkFrame16Bit(f, static_cast<const UInt16*>(d), n, a, p);
}
void flatten(UInt8* f, const void* k, UInt32 n, UInt8 a, UInt8 p) {
  myFlattenFrame8Bit(f, static_cast<const FlattenedFrame8Bit*>(k), n, a, p);
}
void flatten(UInt16* f, const void* k, UInt32 n, UInt8 a, UInt8 p) {
  myFlattenFrame16Bit(f, static_cast<const FlattenedFrame16Bit*>(k), n, a, p);
}
void addToSums(const UInt8* f, void* s, UInt32 n) { myAdd8to32Buff(f, static_cast<UInt32*>(s), n); }
void addToSums(const UInt16* f, void* s, UInt32 n) { myAdd16to32Buff(f, static_cast<UInt32*>(s), n * 2); }
SInt32 sumsToFrame(const void* s, UInt8* dst, UInt32 n, UInt32 divisor, UInt32 flag) {
  return my32to8FrameBuff8Bit(static_cast<const UInt32*>(s), dst, n, divisor, flag);
}
SInt32 sumsToFrame(const void* s, UInt16* dst, UInt32 n, UInt32 divisor, UInt32 flag) {
  return my32to16FrameBuff16Bit(static_cast<const UInt32*>(s), dst, n * 2, divisor, flag);
}
void applyLUT(UInt8* f, const void* lut, UInt32 n) { myApply8BitLUT(f, static_cast<const LUT8Bit*>(lut), n); }
void applyLUT(UInt16* f, const void* lut, UInt32 n) { myApply16BitLUT(f, static_cast<const LUT16Bit*>(lut), n); }
void invert(UInt8* f, UInt32 n, UInt8 a, UInt8 p) { myInvertPixels8Bit(f, n, a, p); }
void invert(UInt16* f, UInt32 n, UInt8 a, UInt8 p) { myInvertPixels16Bit(f, n, a, p); }
void flipH(UInt8* f, UInt32 w, UInt32 h, UInt8 c) { myFlipHorizontalImage8Bit(f, w, h, c); }
void flipH(UInt16* f, UInt32 w, UInt32 h, UInt8 c) { myFlipHorizontalImage16Bit(f, w, h, c); }
void flipV(UInt8* f, void* row, UInt32 w, UInt32 h, UInt8 c) { myFlipVerticalImage8Bit(f, row, w, h, c); }
void flipV(UInt16* f, void* row, UInt32 w, UInt32 h, UInt8 c) { myFlipVerticalImage16Bit(f, row, w, h, c); }
void sharpness(const UInt8* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, double* out) {
  c.family == kMyBayerFamilyRGGB ? myBayer8RGGBSharpnessEstimator(f, w, h, c.startRowFlag, out)
                                 : myBayer8BGGRSharpnessEstimator(f, w, h, c.startRowFlag, out);
}
void sharpness(const UInt16* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, double* out) {
  c.family == kMyBayerFamilyRGGB ? myBayer16RGGBSharpnessEstimator(f, w, h, c.startRowFlag, out)
                                 : myBayer16BGGRSharpnessEstimator(f, w, h, c.startRowFlag, out);
}
void bin2x2(UInt8* f, UInt32 w, UInt32 h) { myBin2x2BufferMono8(f, w, h); }
void bin2x2(UInt16* f, UInt32 w, UInt32 h) { myBin2x2BufferMono16(f, w, h); }
void bin4x4(UInt8* f, UInt32 w, UInt32 h) { myBin4x4BufferMono8(f, w, h); }
void bin4x4(UInt16* f, UInt32 w, UInt32 h) { myBin4x4BufferMono16(f, w, h); }
void binColour(UInt8* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c) {
  c.family == kMyBayerFamilyRGGB ? myBinBufferLRGBtoBayer8FixedRGGB(f, w, h, c.startRowFlag)
                                 : myBinBufferLRGBtoBayer8FixedBGGR(f, w, h, c.startRowFlag);
}
void binColour(UInt16* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c) {
  c.family == kMyBayerFamilyRGGB ? myBinBufferLRGBtoBayer16FloatRGGB(f, w, h, c.startRowFlag)
                                 : myBinBufferLRGBtoBayer16FloatBGGR(f, w, h, c.startRowFlag);
}
// channel 0 red, 1 green, 2 blue
void channel(UInt8* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, int which) {
  const bool rggb = c.family == kMyBayerFamilyRGGB;
  const UInt32 s = c.startRowFlag;
  switch (which) {
    case 0: rggb ? myRedBayer8ChannelRGGB(f, w, h, s) : myRedBayer8ChannelBGGR(f, w, h, s); break;
    case 1: rggb ? myGreenBayer8ChannelRGGB(f, w, h, s) : myGreenBayer8ChannelBGGR(f, w, h, s); break;
    default: rggb ? myBlueBayer8ChannelRGGB(f, w, h, s) : myBlueBayer8ChannelBGGR(f, w, h, s); break;
  }
}
void channel(UInt16* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, int which) {
  const bool rggb = c.family == kMyBayerFamilyRGGB;
  const UInt32 s = c.startRowFlag;
  switch (which) {
    case 0: rggb ? myRedBayer16ChannelRGGB(f, w, h, s) : myRedBayer16ChannelBGGR(f, w, h, s); break;
    case 1: rggb ? myGreenBayer16ChannelRGGB(f, w, h, s) : myGreenBayer16ChannelBGGR(f, w, h, s); break;
    default: rggb ? myBlueBayer16ChannelRGGB(f, w, h, s) : myBlueBayer16ChannelBGGR(f, w, h, s); break;
  }
}
void histogram(const UInt8* f, UInt32 w, UInt32 h, bool colour, UInt32 code, UInt32* R, UInt32* G,
               UInt32* B) {
  colour ? myGetBayerHistogramData8Bit(f, w, h, code, R, G, B) : myGetHistogramDataMono8Bit(f, w, h, R);
}
void histogram(const UInt16* f, UInt32 w, UInt32 h, bool colour, UInt32 code, UInt32* R, UInt32* G,
               UInt32* B) {
  colour ? myGetBayerHistogramData16Bit(f, w, h, code, R, G, B) : myGetHistogramDataMono16Bit(f, w, h, R);
}
SInt32 stretchTable(UInt8*, void* lut, UInt32 mode, const UInt32* a, const UInt32* b, const UInt32* c) {
  return myCalculateHistoGram95PercentileLUT8Bit(static_cast<LUT8Bit*>(lut), mode, a, b, c);
}
SInt32 stretchTable(UInt16*, void* lut, UInt32 mode, const UInt32* a, const UInt32* b, const UInt32* c) {
  return myCalculateHistoGram95PercentileLUT16Bit(static_cast<LUT16Bit*>(lut), mode, a, b, c);
}
void averages(const UInt8* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, UInt8* R, UInt8* G, UInt8* B) {
  c.family == kMyBayerFamilyRGGB ? myGetBayerRGGBAverages8Bit(f, w, h, c.startRowFlag, R, G, B)
                                 : myGetBayerBGGRBAverages8Bit(f, w, h, c.startRowFlag, R, G, B);
}
void averages(const UInt16* f, UInt32 w, UInt32 h, MyBayerRoutineChoice c, UInt8* R, UInt8* G, UInt8* B) {
  c.family == kMyBayerFamilyRGGB ? myGetBayerRGGBAverages16Bit(f, w, h, c.startRowFlag, R, G, B)
                                 : myGetBayerBGGRBAverages16Bit(f, w, h, c.startRowFlag, R, G, B);
}
void spotAverages(const UInt8* f, UInt32 w, UInt32 h, UInt32 x, UInt32 y, MyBayerRoutineChoice c, UInt8* R,
                  UInt8* G, UInt8* B) {
  c.family == kMyBayerFamilyRGGB ? myGetBayerRGGBSpotAverages8Bit(f, w, h, x, y, 16, c.startRowFlag, R, G, B)
                                 : myGetBayerBGGRSpotAverages8Bit(f, w, h, x, y, 16, c.startRowFlag, R, G, B);
}
void spotAverages(const UInt16* f, UInt32 w, UInt32 h, UInt32 x, UInt32 y, MyBayerRoutineChoice c, UInt8* R,
                  UInt8* G, UInt8* B) {
  c.family == kMyBayerFamilyRGGB ? myGetBayerRGGBSpotAverages16Bit(f, w, h, x, y, 16, c.startRowFlag, R, G, B)
                                 : myGetBayerBGGRSpotAverages16Bit(f, w, h, x, y, 16, c.startRowFlag, R, G, B);
}

// Progress of a count-down: 100 - trunc(left / count x 100).
SInt32 countDownProgress(UInt32 left, UInt32 count) {
  if (count == 0) return 100;
  return 100 - SInt32(std::trunc(double(left) / double(count) * 100.0));
}

// The sharpness selection: true when the frame lies within the tolerance.
bool withinTolerance(const MyCameraWindowDataStruct& r) {
  return std::fabs(r.mSharpnessReference - r.mSharpness) < r.mSharpnessTolerance;
}

// Sum of the samples of the monitored area, row by row, each row's integer
// sum added as a float. The area is clipped to the frame.
template <typename T>
float areaBrightness(const T* frame, UInt32 w, UInt32 h, const float area[4]) {
  auto toU = [](float v) -> UInt32 {
    if (!(v > 0.0f)) return 0;
    return v >= 4294967295.0f ? 0xFFFFFFFFu : UInt32(v);
  };
  const UInt32 left = toU(area[0]), top = toU(area[1]);
  UInt32 aw = toU(area[2]), ah = toU(area[3]);
  if (left >= w || top >= h) return 0.0f;
  if (aw > w - left) aw = w - left;
  if (ah > h - top) ah = h - top;
  float b = 0.0f;
  for (UInt32 y = top; y < top + ah; y++) {
    const T* row = frame + size_t(y) * w + left;
    UInt64 s = 0;
    for (UInt32 x = 0; x < aw; x++) s += row[x];
    b += float(s);
  }
  return b;
}

// Step 13: the running please-wait mode's work on this frame; returns whether
// the frame may be recorded and grabbed. Called with mPleezWaitBusy raised.
template <typename T>
bool pleezWaitFrame(MyCameraWindowDataStruct& r, T* frame, double frameTime) {
  constexpr bool k16 = std::is_same_v<T, UInt16>;
  const UInt32 w = r.mWidth, h = r.mHeight, n = w * h;
  const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(r.mBayerFormat);
  const UInt32 mode = r.mPleezWaitMode;
  UInt32 left = r.mPleezWaitFramesLeft;
  if (left > 0) left--;
  bool eligible = true;
  void* sums = ld(r.mPleezWaitSum);

  switch (mode) {
    case 1:
      if (r.mShowSharpness != 1 && r.mRejectBySharpness != 1) sharpness(frame, w, h, choice, &r.mSharpness);
      r.mSharpnessReference += r.mSharpness;
      st(r.mPleezWaitProgress, countDownProgress(left, r.mSharpFrameCount));
      break;
    case 4:
    case 5: {
      if (left % 4 == 0) {
        if (validBayer(r.mBayerFormat)) {
          UInt8 R = 0, G = 0, B = 0;
          if (mode == 4)
            averages(frame, w, h, choice, &R, &G, &B);
          else
            spotAverages(frame, w, h, r.mSpotBalanceX, r.mSpotBalanceY, choice, &R, &G, &B);
          r.mBalanceR = R;
          r.mBalanceG = G;
          r.mBalanceB = B;
          // Only a measured frame can balance: without a pattern the averages
          // are stale or zero and would pass as balanced at once.
          if (myBalanceBayer_RB8Bit(&r) == 1) st(r.mPleezWaitDone, UInt8(1));
        }
      }
      const double base = mode == 5 && !k16 ? 63.0 : 83.0;
      st(r.mPleezWaitProgress, SInt32(std::trunc((base - double(left)) * 1.6667)));
      break;
    }
    case 6: {
      const OSStatus err = myDoImageTracking(&r, frame, w, h, w);
      if (err == -128) {
        r.mTrackLostCount++;
        st(r.mPleezWaitError, SInt32(0));
        if (r.mTrackLostCount > 5) st(r.mPleezWaitDone, UInt8(1));
      } else {
        r.mTrackLostCount = 0;
        st(r.mPleezWaitError, SInt32(err));
      }
      break;
    }
    case 7:
    case 8: {
      eligible = false;
      const UInt32 count = mode == 7 ? r.mAverageFrameCount : r.mSumFrameCount;
      if (r.mRejectBySharpness == 1 && !withinTolerance(r)) {
        left++;  // a rejected frame does not count
        break;
      }
      if (sums) addToSums(frame, sums, n);
      st(r.mPleezWaitProgress, countDownProgress(left, count));
      if (left == 0 && ld(r.mGrabWanted) == 1) {
        Busy busy(r.mGrabBufferBusy);
        if (ld(r.mGrabWanted) == 1) {
          void* grab = ld(r.mGrabBuffer);
          if (grab && sums) {
            sumsToFrame(sums, static_cast<T*>(grab), n, mode == 7 ? count : 1, mode == 7 ? 0 : 1);
            markGrabFilled(r);
          }
          st(r.mGrabWanted, UInt8(0));
        }
      }
      break;
    }
    case 9:
    case 10:
      eligible = false;
      if (!(r.mRejectBySharpness == 1 && !withinTolerance(r))) myDoFrameAlign(&r, frame);
      break;
    case 11: {
      if (ld(r.mBrightnessMonitorOn) != 1) break;
      const UInt32 count = r.mTrackSampleCount;
      if (count >= r.mTrackSampleCapacity) {
        st(r.mPleezWaitDone, UInt8(1));
        break;
      }
      auto* values = static_cast<float*>(sums);
      float* times = ld(r.mTrackSamples);
      if (!values || !times) break;
      const float b = areaBrightness(frame, w, h, r.mTrackingArea);
      values[count] = b;
      st(r.mLastBrightness, b);
      double elapsed = 0.0;
      if (count == 0) {
        st(r.mBrightnessMin, b);
        st(r.mBrightnessMax, b);
        r.mBrightnessStartTime = float(frameTime);
        r.mBrightnessStartMicros = SkyloomMicroseconds();
        r.mBrightnessStartClock = CFAbsoluteTimeGetCurrent();
      } else {
        if (b < r.mBrightnessMin) st(r.mBrightnessMin, b);
        if (b > r.mBrightnessMax) st(r.mBrightnessMax, b);
        elapsed = frameTime - double(r.mBrightnessStartTime);
      }
      st(r.mBrightnessElapsed, float(elapsed * 0.001));
      times[count] = float(elapsed * 0.001);
      std::atomic_ref<UInt32>(r.mTrackSampleCount).store(count + 1, std::memory_order_release);
      break;
    }
    default:
      break;
  }
  r.mPleezWaitFramesLeft = left;
  if (left == 0) st(r.mPleezWaitDone, UInt8(1));
  return eligible;
}

// Step 15: the recorded frame. Called for an eligible frame while recording.
template <typename T>
void recordFrame(MyCameraWindowDataStruct& r, T* frame, double frameTime) {
  constexpr bool k16 = std::is_same_v<T, UInt16>;
  Busy busy(r.mMovieBusy);
  if (ld(r.mRecording) != 1) return;
  MyMovieRecorderStruct* movie = ld(r.mMovie);
  if (!movie) return;
  // The recorder takes only frames of the geometry it was created for; a
  // video-size change while recording ends the recording (through the
  // display timer) instead of feeding it frames of another size.
  if (r.mWidth != r.mRecordWidth || r.mHeight != r.mRecordHeight || r.mBitsPerPixel != r.mRecordBitsPerPixel) {
    st(r.mRecordStatus, OSErr(paramErr));
    return;
  }

  const double interval = r.mMovieFrameInterval;
  if (interval > 1.0) {
    if (r.mRecordNextFrameTime > 0.0 && frameTime < r.mRecordNextFrameTime) return;
    if (r.mRecordNextFrameTime > 0.0)
      r.mRecordNextFrameTime += interval;
    else
      r.mRecordNextFrameTime = frameTime + interval;
  }
  if (r.mRecordFirstFrame == 1) {
    r.mRecordFirstFrame = 0;
    GetUTCDateTime(&r.mRecordStartUTC, 0);
  }
  const UInt8* p = reinterpret_cast<const UInt8*>(frame);
  // The crop moves the frame pointer only when its region lies inside the
  // frame; otherwise the recorder would read past the frame's end.
  if (r.mSoftROIEnabled != 0 && r.mSoftROIActive != 0 &&
      UInt64(r.mSoftROILeft) + r.mSoftROIWidth <= r.mWidth &&
      UInt64(r.mSoftROITop) + r.mSoftROIHeight <= r.mHeight) {
    const UInt64 samples = UInt64(r.mWidth) * r.mSoftROITop + r.mSoftROILeft;
    p += k16 ? samples * 2 : samples * r.mBitsPerPixel / 8;
  }
  pause(&r, kPipelinePauseInRecord);
  auto add = gMyAddMovieFrame;
  const OSErr status = add ? add(movie, p, frameTime) : ORXDCAMAddMovieFrame(movie, p, frameTime);
  st(r.mRecordStatus, status);
  // The display timer reads the counter to end a limited recording.
  const UInt32 counter = r.mRecordFrameCounter;
  if (r.mRecordFrameLimit == 0)
    st(r.mRecordFrameCounter, counter + 1);
  else if (counter != 0)
    st(r.mRecordFrameCounter, counter - 1);
  if (status == -34) st(r.mRecordStopRequested, UInt8(1));
}

// Step 17: the preview hand-off.
template <typename T>
void handOffPreview(MyCameraWindowDataStruct& r, T* frame, double frameTime, double intervalMs) {
  constexpr bool k16 = std::is_same_v<T, UInt16>;
  if (ld(r.mRunning) != 1 || ld(r.mDisplayBusy) != 0) return;
  if (ld(r.mRecording) == 1 && ld(r.mLongExposure) == 0 && r.mFrameRate > 7.5) {
    const double kd = std::trunc(r.mFrameRate * 0.13333333333333333);
    const UInt32 k = kd >= 4294967295.0 ? 0xFFFFFFFFu : UInt32(kd);
    UInt32& skip = k16 ? r.mPreviewSkip16Bit : r.mPreviewSkip8Bit;
    if (skip < k) {
      skip++;
      return;
    }
    skip = 0;
  }
  raise(r.mPreviewConverting);
  pause(&r, kPipelinePausePreviewCheck);
  // The timer raised mDisplayBusy before it looks at mPreviewConverting: one
  // of the two sides always sees the other and backs off.
  if (ld(r.mDisplayBusy) != 0) {
    lower(r.mPreviewConverting);
    return;
  }
  lowerIfUp(r.mPreviewReady);
  auto* preview = static_cast<UInt8*>(r.mPreviewBuffer);
  if (preview) {
    const UInt32 w = r.mWidth, h = r.mHeight;
    const UInt32 depth = k16 ? 16 : r.mBitsPerPixel;
    if (r.mDisplayFormat != kARGB) {
      ORXDCAMConvertRawFrameToARGB32(r.mCameraHandle, frame, w, h, r.mDisplayFormat, depth, preview, w * 4);
    } else if (r.mColourizeOn == 1 && r.mPixelFormat == kRaw &&
               (k16 || r.mBitsPerPixel == 8)) {
      const UInt32* table = r.mColourizeTable;
      const size_t n = size_t(w) * h;
      for (size_t i = 0; i < n; i++) {
        const UInt32 index = k16 ? UInt32(frame[i] >> 8) : UInt32(frame[i]);
        std::memcpy(preview + i * 4, &table[index], 4);
      }
    } else {
      ORXDCAMConvertRawFrameToARGB32(r.mCameraHandle, frame, w, h, r.mPixelFormat, depth, preview, w * 4);
    }
    st(r.mFrameTime, frameTime);
    st(r.mFrameInterval, intervalMs);
    if (r.mLongExposureFrame && ld(r.mLongExposure) == 1)
      myMemCpy(r.mLongExposureFrame, preview, w * h * 4);
  }
  raise(r.mPreviewReady);
  lower(r.mPreviewConverting);
}

template <typename T>
void processFrame(MyCameraWindowDataStruct* record, T* frame, double frameTime, double intervalMs) {
  if (!record || !frame) return;
  constexpr bool k16 = std::is_same_v<T, UInt16>;
  MyCameraWindowDataStruct& r = *record;
  const UInt32 w = r.mWidth, h = r.mHeight, n = w * h;
  const UInt8 vec = r.mHasVectorUnit, pre = r.mIsG5;
  const MyBayerRoutineChoice choice = myBayerRoutineChoiceFromBayerFormat(r.mBayerFormat);

  // 1. automatic exposure
  // Possible for the long-exposure kind and for cameras with an absolute shutter.
  if (ld(r.mAutoExposureOn) == 1 && r.mAutoShutterAvailable != 0) myAnalyzeCCDExposure(&r, frame);
  // 2. the histogram's colour flag
  const bool colourFlag = r.mDisplayFormatItem == 2 || r.mDisplayFormatItem == 4;

  // 3, 4. dark and flat
  {
    Busy busy(r.mCalibrationBusy);
    pause(&r, kPipelinePauseInCalibration);
    if (ld(r.mUseDarkFrame) == 1) {
      if (const void* dark = ld(r.mDarkFrame)) subtractDark(frame, dark, n, vec, pre);
    }
    if (ld(r.mUseFlatFrame) == 1) {
      if (const void* flat = ld(r.mFlatFrame)) flatten(frame, flat, n, vec, pre);
    }
  }

  // 5. dark and flat collection, after the calibration above
  if (ld(r.mPleezWaitActive) == 1) {
    const UInt32 mode = r.mPleezWaitMode;
    if ((mode == 2 || mode == 3) && ld(r.mPleezWaitDone) == 0 && ld(r.mPleezWaitError) == 0) {
      Busy busy(r.mPleezWaitBusy);
      if (ld(r.mPleezWaitActive) == 1) {
        UInt32 left = r.mPleezWaitFramesLeft;
        if (left > 0) left--;
        r.mPleezWaitFramesLeft = left;
        if (void* sums = ld(r.mPleezWaitSum)) addToSums(frame, sums, n);
        st(r.mPleezWaitProgress, countDownProgress(left, mode == 2 ? r.mDarkFrameCount : r.mFlatFrameCount));
        if (left == 0) st(r.mPleezWaitDone, UInt8(1));
      }
    }
  }

  // 6. gamma (the table taken stays this frame's)
  if (const void* lut = myGammaTableForFrame(&r)) applyLUT(frame, lut, n);
  // 7. invert
  if (r.mInvert == 1) invert(frame, n, vec, pre);
  // 8. flips, horizontal first
  if (r.mFlipHorizontal == 1) flipH(frame, w, h, r.mColourSensor);
  if (r.mFlipVertical == 1 && r.mFlipVerticalLinePtr) flipV(frame, r.mFlipVerticalLinePtr, w, h, r.mColourSensor);

  // 9. guiding or FWHM/HFD
  if (ld(r.mScopeControlActive) == 1 && ld(r.mGuidingActive) == 1) {
    myGetImageTrackingCentroid(&r, frame);
  } else if (ld(r.mFWHMOn) == 1) {
    Busy busy(r.mFWHMBusy);
    if (ld(r.mFWHMOn) == 1) {
      pause(&r, kPipelinePauseInFWHM);
      myGetFWHMandHFD(&r, frame);
    }
  }

  // 10. sharpness and its running mean
  const bool sharpnessComputed = r.mShowSharpness == 1 || r.mRejectBySharpness == 1;
  if (sharpnessComputed) {
    double s = 0.0;
    sharpness(frame, w, h, choice, &s);
    if (!k16) s *= 1000.0;
    st(r.mSharpness, s);
    if (r.mSharpnessCount < kSharpnessWindow) {
      r.mSharpnessCount++;
      r.mSharpnessSum += s;
    } else {
      st(r.mSharpnessAverage, r.mSharpnessSum * 0.03333333334);
      r.mSharpnessCount = 0;
      r.mSharpnessSum = 0.0;
    }
  }

  // 11. binning and channel split; the frame keeps its size
  switch (r.mDisplayFormatItem) {
    case 3: bin2x2(frame, w, h); break;
    case 4:
      if (validBayer(r.mBayerFormat)) binColour(frame, w, h, choice);
      break;
    case 5:
    case 6:
    case 7:
      if (validBayer(r.mBayerFormat)) channel(frame, w, h, choice, int(r.mDisplayFormatItem) - 5);
      break;
    case 8: bin4x4(frame, w, h); break;
    default: break;
  }

  // 12. histogram and stretch
  const UInt8 stretchMode = ld(r.mHistogramExpand);
  if ((ld(r.mHistogramOption) != 0 || stretchMode != 0) && r.mHistogramR &&
      (!colourFlag || (r.mHistogramG && r.mHistogramB))) {
    myStoreHistogramReady(&r, 0);
    histogram(frame, w, h, colourFlag, r.mBayerFormat, r.mHistogramR, r.mHistogramG, r.mHistogramB);
    myStoreHistogramReady(&r, 1);
    if (stretchMode != 0 && r.mStretchLUT) {
      const UInt32 m = colourFlag ? 1 : 0;
      if (stretchMode == 1) {
        if (stretchTable(frame, r.mStretchLUT, m, r.mHistogramR, r.mHistogramG, r.mHistogramB) == 1)
          applyLUT(frame, r.mStretchLUT, n);
      } else {
        const UInt8 request = ld(r.mStretchRequest);
        if (request != 0) {
          st(r.mStretchRequest, UInt8(request - 1));
          stretchTable(frame, r.mStretchLUT, m, r.mHistogramR, r.mHistogramG, r.mHistogramB);
        }
        applyLUT(frame, r.mStretchLUT, n);
      }
    }
  }

  // 13. please-wait work of the other modes
  bool eligible = true;
  if (ld(r.mPleezWaitActive) == 1 && ld(r.mPleezWaitDone) == 0 && ld(r.mPleezWaitError) == 0 &&
      r.mPleezWaitMode != 2 && r.mPleezWaitMode != 3) {
    Busy busy(r.mPleezWaitBusy);
    pause(&r, kPipelinePauseInPleezWait);
    if (ld(r.mPleezWaitActive) == 1) eligible = pleezWaitFrame(r, frame, frameTime);
  }

  // 14. selection by sharpness
  if (eligible && r.mRejectBySharpness == 1) eligible = withinTolerance(r);

  // 15. recording
  if (eligible && ld(r.mRecording) == 1) recordFrame(r, frame, frameTime);

  // 16. grab copy: the counter goes up before the request is looked at again,
  // so a finishing grab never frees the buffer under the copy.
  if (eligible && ld(r.mGrabWanted) == 1) {
    pause(&r, kPipelinePauseBeforeGrabCopy);
    Busy busy(r.mGrabBufferBusy);
    if (ld(r.mGrabWanted) == 1) {
      pause(&r, kPipelinePauseInGrabCopy);
      if (void* grab = ld(r.mGrabBuffer)) {
        myMemCpy(grab, frame, k16 ? n * 2 : n);
        markGrabFilled(r);
      }
      st(r.mGrabWanted, UInt8(0));
    }
  }

  // 17. preview
  handOffPreview(r, frame, frameTime, intervalMs);
}

void applyHotPixels(const MyHotPixelChoice& c, void* frame, UInt32 w, UInt32 h) {
  if (!c.apply) return;
  if (c.sixteenBit)
    hotPixels(static_cast<UInt16*>(frame), w, h, c.bayer, c.threshold);
  else
    hotPixels(static_cast<UInt8*>(frame), w, h, c.bayer, c.threshold);
}

void process(MyCameraWindowDataStruct* r, void* frame, bool sixteen, double time, double interval) {
  if (auto spy = gMyFrameProcessorSpy) {
    spy(r, frame, sixteen ? 16 : 8, time, interval);
    return;
  }
  if (sixteen)
    myProcessFrame16Bit(r, static_cast<UInt16*>(frame), time, interval);
  else
    myProcessFrame8Bit(r, static_cast<UInt8*>(frame), time, interval);
}

// Milliseconds since `start` on the Microseconds clock (unsigned difference).
double msSince(UInt64 start, UInt64 now) { return double(now - start) * 0.001; }

}  // namespace

// ---------------------------------------------------------------- delivery thread

void myWiden12BitFrame(const UInt8* packed, UInt16* samples, UInt32 pixelCount) {
  const UInt32 pairs = pixelCount / 2;
  const UInt32 single = pairs % 4;
  UInt32 i = 0;
  for (; i < single; i++) {
    const UInt8* b = packed + size_t(i) * 3;
    samples[2 * i] = UInt16(((UInt32(b[0]) << 4) | (b[1] & 0x0F)) << 4);
    samples[2 * i + 1] = UInt16(((UInt32(b[2]) << 4) | (b[1] >> 4)) << 4);
  }
  // Four pairs at a time: 12 bytes to 16.
  for (; i < pairs; i += 4) {
    const UInt8* b = packed + size_t(i) * 3;
    UInt16* s = samples + size_t(i) * 2;
    for (int k = 0; k < 4; k++) {
      const UInt8* q = b + k * 3;
      s[2 * k] = UInt16((UInt32(q[0]) << 8) | (UInt32(q[1] & 0x0F) << 4));
      s[2 * k + 1] = UInt16((UInt32(q[2]) << 8) | (q[1] & 0xF0));
    }
  }
}

MyHotPixelChoice myHotPixelChoice(const MyCameraWindowDataStruct* r, bool longExposure) {
  MyHotPixelChoice c{0, 0, 0, 0};
  if (!r) return c;
  c.apply = (longExposure ? r->mHotPixelFlag : r->mLiveHotPixelFlag) == 1;
  if (r->mIsLongExposureCamera == 1) {
    c.bayer = r->mColourSensor == 1;
  } else {
    c.sixteenBit = r->mBitsPerPixel != 8;
    c.bayer = longExposure ? r->mDisplayFormat != kARGB : r->mColourSensor == 1;
  }
  const UInt64 t = c.sixteenBit ? UInt64(r->mHotPixelThreshold) * 256 : r->mHotPixelThreshold;
  c.threshold = t > 0xFFFFFFFFu ? 0xFFFFFFFFu : UInt32(t);
  return c;
}

void myDisplayCallback(UInt32, UInt32, UInt32 byteCount, void* frame, void* refCon, double interval,
                       double accumulated) {
  auto* r = static_cast<MyCameraWindowDataStruct*>(refCon);
  if (!r || !frame) return;
  const UInt32 w = r->mWidth, h = r->mHeight;
  const UInt64 n = UInt64(w) * h;

  if (r->mIsLongExposureCamera == 1) {
    if (byteCount < n) return;
    if (ld(r->mLongExposure) != 0 && r->mExposureMS >= kPairingExposureMs) {
      if (ld(r->mLongExpShowPending) != 0 || ld(r->mLongExpReadout) == 0 || ld(r->mLongExpFrameDone) != 0) return;
      auto* pair = static_cast<UInt8*>(r->mSecondLongFrameBuffer);
      if (!pair) return;
      r->mPairCount += 1;
      const UInt32 sum = myCalculatePixelSum8Bit(frame, w, h);
      if (r->mPairCount == 1) {
        myMemCpy(pair, frame, UInt32(n));
        r->mPairSum = sum;
      } else if (sum > r->mPairSum) {
        myMemCpy(pair, frame, UInt32(n));
      }
      applyHotPixels(myHotPixelChoice(r, true), pair, w, h);
      if (r->mPairCount < 2) return;
      r->mPairCount = 0;
      const double iv = msSince(ld(r->mExposureStartTime), SkyloomMicroseconds());
      r->mFrameTimeBase += iv;
      process(r, pair, false, r->mFrameTimeBase, iv);
      raise(r->mLongExpFrameDone);
      return;
    }
    applyHotPixels(myHotPixelChoice(r, false), frame, w, h);
    process(r, frame, false, accumulated, interval);
    return;
  }

  if (r->mIsPointGrey != 1 && r->mShutterByAbsolute != 1) return;
  const UInt32 depth = r->mBitsPerPixel;
  const UInt64 need = depth == 8 ? n : depth == 12 ? (n / 2) * 3 : n * 2;
  if (byteCount < need) return;
  void* work = frame;
  if (depth == 12) {
    if (!r->mWorkBuffer) return;
    myWiden12BitFrame(static_cast<const UInt8*>(frame), static_cast<UInt16*>(r->mWorkBuffer), UInt32(n));
    work = r->mWorkBuffer;
  }
  const bool sixteen = depth != 8;

  if (ld(r->mLongExposure) != 0) {
    applyHotPixels(myHotPixelChoice(r, true), work, w, h);
    r->mPairCount = 0;
    const UInt64 now = SkyloomMicroseconds();
    const double iv = msSince(ld(r->mExposureStartTime), now);
    st(r->mExposureStartTime, now);
    r->mFrameTimeBase += iv;
    process(r, work, sixteen, r->mFrameTimeBase, iv);
    if (ld(r->mLongExpFrameDone) == 0) {
      if (ld(r->mLongExpShowPending) == 0) raise(r->mLongExpShowPending);
      st(r->mLongExpReadout, SInt32(0));
      raise(r->mLongExpFrameDone);
    }
    return;
  }
  applyHotPixels(myHotPixelChoice(r, false), work, w, h);
  process(r, work, sixteen, accumulated, interval);
}

void myProcessFrame8Bit(MyCameraWindowDataStruct* record, UInt8* frame, double frameTimeMs, double intervalMs) {
  processFrame(record, frame, frameTimeMs, intervalMs);
}

void myProcessFrame16Bit(MyCameraWindowDataStruct* record, UInt16* frame, double frameTimeMs, double intervalMs) {
  processFrame(record, frame, frameTimeMs, intervalMs);
}

// ---------------------------------------------------------------- main thread

void mySetFrameWorkWaitPolls(UInt32 p) { gWaitPolls.store(p, std::memory_order_relaxed); }

bool myWaitForFrameWork(SInt32* busy, UInt32 pollCount, UInt64 pollMicros) {
  for (UInt32 i = 0;; i++) {
    if (std::atomic_ref<SInt32>(*busy).load(std::memory_order_seq_cst) == 0) return true;
    if (i >= pollCount) return false;
    usleep(useconds_t(pollMicros));
  }
}

bool myDisableFrameWork(UInt8* flag, SInt32* busy) {
  std::atomic_ref<UInt8>(*flag).store(0, std::memory_order_seq_cst);
  return myWaitForFrameWork(busy, polls(5000), 1000);
}

OSStatus myStartStopFWHMHFD(MyCameraWindowDataStruct* r, UInt32 start) {
  if (!r) return paramErr;
  // Off first, whichever way: the measurement sees the switch after raising
  // its counter, so once the counter is 0 nobody uses the buffers.
  st(r->mFWHMOn, UInt8(0));
  st(r->mStartX, -1.0f);
  const bool idle = myWaitForFrameWork(&r->mFWHMBusy, polls(20), 100000);
  if (idle) {
    free(r->mFWHMPlane);
    free(r->mFWHMHistogram);
    st(r->mFWHMPlane, static_cast<UInt8*>(nullptr));
    st(r->mFWHMHistogram, static_cast<UInt32*>(nullptr));
  }
  if (start != 1) return noErr;
  if (!idle) return memFullErr;  // the old buffers are still in use: not replaced

  st(r->mStartY, -1.0f);
  r->mFramesToAverage = 8;
  r->mFramesAveraged = 0;
  r->mFWHMFound = r->mHFDFound = 0.0f;
  r->mFWHM = r->mHFD = r->mStarPeak = 0.0f;
  r->mPrevFWHM = r->mPrevHFD = r->mPrevStarPeak = 0.0f;
  r->mFWHMRunningSum = r->mHFDRunningSum = r->mStarPeakRunningSum = 0.0f;

  void* (*alloc)(size_t) = gMyFWHMAllocate;
  if (!alloc) alloc = malloc;
  void* histogram = alloc(kFWHMHistogramBytes);
  void* plane = alloc(size_t(r->mWidth) * r->mHeight + 16);
  if (!histogram || !plane) {
    free(histogram);
    free(plane);
    return memFullErr;
  }
  st(r->mFWHMHistogram, static_cast<UInt32*>(histogram));
  st(r->mFWHMPlane, static_cast<UInt8*>(plane));
  st(r->mFWHMOn, UInt8(1));
  return noErr;
}

OSStatus myArmGrabBuffer(MyCameraWindowDataStruct* r, UInt8 timeoutOn) {
  if (!r) return paramErr;
  st(r->mGrabWanted, UInt8(0));
  if (!myWaitForFrameWork(&r->mGrabBufferBusy, polls(5000), 1000)) return -9074;
  free(r->mGrabBuffer);
  st(r->mGrabBuffer, static_cast<void*>(nullptr));
  const size_t bytes = size_t(r->mWidth) * r->mHeight * (r->mBitsPerPixel == 8 ? 1 : 2) + 16;
  void* (*alloc)(size_t) = gMyGrabAllocate;
  void* buffer = alloc ? alloc(bytes) : malloc(bytes);
  if (!buffer) return memFullErr;
  st(r->mGrabBuffer, buffer);
  r->mGrabTimeoutOn = timeoutOn;
  st(r->mGrabsInFlight, SInt32(0));
  st(r->mGrabPending, SInt32(0));
  r->mGrabRequestTime = SkyloomMicroseconds();
  st(r->mGrabFilled, UInt8(0));
  st(r->mGrabCancel, UInt8(0));
  st(r->mGrabWanted, UInt8(1));
  raise(r->mGrabsInFlight);
  raise(r->mGrabPending);
  return noErr;
}

bool myGrabReadyToComplete(MyCameraWindowDataStruct* r) {
  return r && (ld(r->mGrabWanted) == 0 || ld(r->mGrabCancel) == 1);
}

bool myGrabShouldSave(MyCameraWindowDataStruct* r) {
  return r && ld(r->mGrabFilled) == 1 && ld(r->mGrabCancel) == 0 && ld(r->mGrabBuffer) != nullptr;
}

bool myFinishGrab(MyCameraWindowDataStruct* r) {
  if (!r) return true;
  st(r->mGrabWanted, UInt8(0));
  st(r->mGrabCancel, UInt8(0));
  if (!myWaitForFrameWork(&r->mGrabBufferBusy, polls(5000), 1000)) return false;
  free(r->mGrabBuffer);
  st(r->mGrabBuffer, static_cast<void*>(nullptr));
  st(r->mGrabFilled, UInt8(0));
  return true;
}

MyMovieRecorderStruct* myDetachMovieFromFrames(MyCameraWindowDataStruct* r) {
  if (!r) return nullptr;
  st(r->mRecording, UInt8(0));
  if (!myWaitForFrameWork(&r->mMovieBusy, polls(5000), 1000)) return nullptr;
  MyMovieRecorderStruct* movie = ld(r->mMovie);
  st(r->mMovie, static_cast<MyMovieRecorderStruct*>(nullptr));
  return movie;
}
