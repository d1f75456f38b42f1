// A camera frame as the driver hands it to the frame callback: any bytes, any
// byte count, and any small geometry, depth and set of pipeline options in
// the record must run cleanly (a frame shorter than the record needs is
// dropped). The first six input bytes choose the record; the rest is the
// frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/FramePipeline.h"

namespace {
OSErr NoRecorder(MyMovieRecorderStruct*, const void*, double) { return 0; }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const UInt32 w = 1 + data[0] % 40, h = 1 + data[1] % 24;
  const UInt8 a = data[2], b = data[3], c = data[4], d = data[5];
  data += 6;
  size -= 6;
  const UInt32 n = w * h;

  auto* r = static_cast<MyCameraWindowDataStruct*>(std::calloc(1, sizeof(MyCameraWindowDataStruct)));
  r->mKind = kMyCameraWindowDataKind;
  r->mWidth = w;
  r->mHeight = h;
  static const UInt32 kDepths[] = {8, 12, 16, 8};
  r->mBitsPerPixel = kDepths[a & 3];
  r->mIsPointGrey = (a >> 2) & 1;
  r->mIsLongExposureCamera = (a >> 3) & 1;
  r->mShutterByAbsolute = 1;
  r->mLongExposure = (a >> 4) & 1;
  r->mExposureMS = (a >> 5) & 1 ? 300.0 : 10.0;
  r->mLongExpReadout = 1;
  r->mHotPixelFlag = b & 1;
  r->mLiveHotPixelFlag = (b >> 1) & 1;
  r->mHotPixelThreshold = c;
  r->mColourSensor = (b >> 2) & 1;
  r->mBayerFormat = (b >> 3) & 7;
  r->mDisplayFormatItem = 1 + d % 8;
  r->mDisplayFormat = (d >> 3) & 1 ? FOUR_CHAR_CODE("bmRG") : FOUR_CHAR_CODE("ARGB");
  r->mPixelFormat = FOUR_CHAR_CODE("raw ");
  r->mInvert = (d >> 4) & 1;
  r->mFlipHorizontal = (d >> 5) & 1;
  r->mFlipVertical = (d >> 6) & 1;
  r->mShowSharpness = (d >> 7) & 1;
  r->mRunning = 1;
  r->mFrameRate = 30.0;

  std::vector<UInt8> preview(size_t(n) * 4 + 16), pair(n + 16), row(w * 2 + 32), grab(size_t(n) * 2 + 16);
  std::vector<UInt16> work(n + 32);
  std::vector<UInt32> histogram(3 * 256);
  std::vector<UInt16> stretch(65536);
  r->mPreviewBuffer = preview.data();
  r->mWorkBuffer = work.data();
  r->mSecondLongFrameBuffer = pair.data();
  r->mFlipVerticalLinePtr = row.data();
  r->mHistogramOption = c & 1;
  r->mHistogramR = histogram.data();
  r->mHistogramG = histogram.data() + 256;
  r->mHistogramB = histogram.data() + 512;
  r->mHistogramExpand = (c >> 1) & 3;
  r->mStretchRequest = 2;
  r->mStretchLUT = stretch.data();
  r->mGrabBuffer = grab.data();
  r->mGrabWanted = (c >> 3) & 1;
  r->mRecording = (c >> 4) & 1;
  r->mMovie = reinterpret_cast<MyMovieRecorderStruct*>(&r->mKind);
  r->mSoftROIEnabled = r->mSoftROIActive = 1;
  r->mSoftROILeft = c % 5;
  r->mSoftROITop = d % 3;
  r->mSoftROIWidth = w > 2 ? w - 2 : 1;
  r->mSoftROIHeight = h > 1 ? h - 1 : 1;
  gMyAddMovieFrame = NoRecorder;

  // The frame is a copy of exactly the bytes given: the callback may change it
  // in place, and must read no further than the byte count.
  std::vector<UInt8> frame(data, data + size);
  myDisplayCallback(w, h, UInt32(size), size ? frame.data() : nullptr, r, 33.3, 100.0);
  myDisplayCallback(w, h, UInt32(size), size ? frame.data() : nullptr, r, 33.3, 133.3);

  gMyAddMovieFrame = nullptr;
  std::free(r);
  return 0;
}
