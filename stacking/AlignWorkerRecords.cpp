#include "stacking/AlignWorkerRecords.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "utilities/Alerts.h"

namespace {

std::atomic<void* (*)(size_t)> gAllocate{nullptr};

void* allocateBuffer(size_t bytes) {
  void* (*allocate)(size_t) = gAllocate.load();
  return allocate != nullptr ? allocate(bytes) : std::malloc(bytes);
}

}  // namespace

void myStackingSetBufferAllocator(void* (*allocate)(size_t bytes)) { gAllocate.store(allocate); }

UInt32 myAlignSharpenThreshold(double sharpen, double matchTolerance) {
  if (!(sharpen > 0.0)) return 0;
  const double q = 30.0 / sharpen * matchTolerance;
  if (!(q > 0.0)) return 0;
  if (q >= 4294967296.0) return 0xFFFFFFFFu;
  if (q >= 2147483648.0) return UInt32(UInt32(q - 2147483648.0) | 0x80000000u);
  return UInt32(q);
}

AlignThreadObject* myAllocateAndFillInMPThread(const StackAlignJob* job, const MAMF* reader,
                                               UInt32 width, UInt32 height, UInt8 monoFlag,
                                               UInt8 rawBayerFlag, UInt8 quality, UInt8 argb32Flag,
                                               UInt8 altivecFlag, UInt8 prefetchFlag) {
  if (job == nullptr || reader == nullptr) return nullptr;
  auto* p = static_cast<AlignThreadObject*>(std::calloc(1, sizeof(AlignThreadObject)));
  if (p == nullptr) return nullptr;
  p->mNeedsFrame = 1;
  p->mGradientStep = 8;
  p->mRefX = p->mRefY = -2.0f;
  p->mBayerCode = rawBayerFlag != 0 ? 0 : FOUR_CHAR_CODE("XXXX");

  p->mMatchTolerance = (double(job->PIXELTOLERANCE) - 1.0) * 0.5;
  p->mSharpen = float(job->SHARPEN);
  p->mSharpenOn = job->SHARPEN > 0.0 ? 1 : 0;
  p->mSharpenThreshold = myAlignSharpenThreshold(job->SHARPEN, p->mMatchTolerance);
  const UInt32 bytesPerPixel = argb32Flag != 0 ? 4 : 6;
  p->mWidth = width;
  p->mHeight = height;
  p->mRowBytes = bytesPerPixel * width;
  p->mScale = job->SCALE;
  p->mScaledWidth = width * job->SCALE;
  p->mScaledHeight = height * job->SCALE;
  p->mScaledRowBytes = p->mRowBytes * job->SCALE;
  p->mMonoRowBytes = (p->mScaledWidth + 15) & ~15u;
  p->mGradLevel = job->GRADLEVEL;
  p->mHotPixel = job->REMOVEHOTPIXEL;
  p->mSpatialSharpness = job->SPATIALSHARPNESS;
  p->mColorChannel = monoFlag != 0 ? 3 : job->COLORCHANNEL;
  p->mPixelTolerance = job->PIXELTOLERANCE;
  p->mBlockSize = job->PIXELBLOCKSIZE;
  p->mLimitPercent = job->CTAVLIMITPERCENT;
  p->mPixelAlign = job->PIXELALIGN;
  p->mGausBlur = job->GAUSBLUR;
  p->mBcgSubtract = job->BCGSUBTRACT;
  p->mSharpMatch = job->SHARPMATCH;
  p->mRemoveNoise = job->REMOVENOISE;
  p->mAutoExpAlign = job->AUTOEXPALIGN;
  p->mMethod = job->METHOD;
  p->mAutoAdjBrightness = job->AUTOADJBRIGHTNESS;
  p->mBin2x2 = job->BIN2x2MOV;
  p->mAltivec = altivecFlag;
  p->mPrefetch = prefetchFlag;
  p->mRawBayer = rawBayerFlag;
  p->mQuality = quality;
  p->mExpandLow = reader->mExpandLow;
  p->mExpandHigh = reader->mExpandHigh;

  bool ok = true;
  // The buffers also hold Mono8 images with rows mMonoRowBytes apart, which
  // for frames only a few pixels wide are longer than their colour rows.
  const size_t colourBytes = size_t(bytesPerPixel) * p->mScaledWidth * p->mScaledHeight;
  const size_t monoBytes = size_t(p->mMonoRowBytes) * p->mScaledHeight;
  const size_t frameBytes = (colourBytes > monoBytes ? colourBytes : monoBytes) + 64;
  for (UInt8** buffer : {&p->mColorFrame, &p->mWorkFrame, &p->mTempFrame, &p->mMonoFrame}) {
    *buffer = static_cast<UInt8*>(allocateBuffer(frameBytes));
    if (*buffer == nullptr) {
      ok = false;
      break;
    }
  }
  const UInt32 method = job->PIXELALIGN;
  const size_t blockBytes = size_t(p->mBlockSize) * p->mBlockSize * 1024 + 64;
  if (ok && (method == 1 || method == 3 || method == 4 || method == 5)) {
    p->temp32x32Ptr = static_cast<UInt8*>(allocateBuffer(blockBytes));
    if (p->temp32x32Ptr == nullptr) {
      myPostAlert("", "malloc failed temp32x32Ptr");
      ok = false;
    }
  }
  if (ok && (method == 2 || method == 3 || method == 4)) {
    p->tempTwo32x32Ptr = static_cast<UInt8*>(allocateBuffer(blockBytes));
    if (p->tempTwo32x32Ptr == nullptr) {
      myPostAlert("", "malloc failed tempTwo32x32Ptr");
      ok = false;
    }
  }
  // Each block flag says whether its buffer exists; the poster sets both
  // again before the reference job.
  p->mHorzBlockValid = p->temp32x32Ptr != nullptr ? 1 : 0;
  p->mVertBlockValid = p->tempTwo32x32Ptr != nullptr ? 1 : 0;
  if (ok && mySetUpAlignThreadObject(p, argb32Flag) != 0) ok = false;
  if (!ok) {
    myDisposeAlignThreadObject(p);
    return nullptr;
  }
  return p;
}
