#include "image_windows/ImageWindowRecord.h"

#include <atomic>
#include <cstdlib>

namespace {
// The allocation hook: which allocation fails, and how many were made.
std::atomic<UInt32> gFailAt{0};
std::atomic<UInt32> gMade{0};

void release(UInt16*& p) {
  std::free(p);
  p = nullptr;
}
}  // namespace

void* myAllocateImagePlane(size_t bytes) {
  const UInt32 n = gMade.fetch_add(1) + 1;
  if (gFailAt.load() != 0 && n == gFailAt.load()) return nullptr;
  if (bytes > SIZE_MAX - 32) return nullptr;
  // aligned_alloc wants a size that is a multiple of the alignment.
  const size_t size = (bytes + 16 + 15) & ~size_t(15);
  return std::aligned_alloc(16, size);
}

UInt32 mySetImagePlaneAllocationFailure(UInt32 n) {
  const UInt32 made = gMade.exchange(0);
  gFailAt.store(n);
  return made;
}

OSStatus myAllocateImageWindowPlanes(MyImageWindowDataStruct* record) {
  if (record == nullptr) return paramErr;
  const size_t pixels = size_t(record->mWidth) * record->mHeight;
  const size_t rgb48 = size_t(record->mRowBytes) * record->mHeight;
  record->mWorkRGB48 = static_cast<UInt16*>(myAllocateImagePlane(rgb48));
  if (record->mWorkRGB48 == nullptr) return memFullErr;
  record->mDisplayARGB32 = static_cast<UInt8*>(myAllocateImagePlane(pixels * 4));
  if (record->mDisplayARGB32 == nullptr) return memFullErr;
  record->mRenderRGB48 = static_cast<UInt16*>(myAllocateImagePlane(rgb48));
  if (record->mRenderRGB48 == nullptr) return memFullErr;
  for (UInt16*& plane : record->mDetailLevel) {
    plane = static_cast<UInt16*>(myAllocateImagePlane(pixels * 2));
    if (plane == nullptr) return memFullErr;
  }
  for (UInt16*& plane : record->mBlurLevel) {
    plane = static_cast<UInt16*>(myAllocateImagePlane(pixels * 2));
    if (plane == nullptr) return memFullErr;
  }
  return noErr;
}

void mydumpAllocatedBuffers(MyImageWindowDataStruct* record) {
  if (record == nullptr) return;
  release(record->mSourceRGB48);
  release(record->mSourceLRGB64);
  release(record->mSourceLuma16);
  release(record->mWorkRGB48);
  release(record->mRenderRGB48);
  std::free(record->mDisplayARGB32);
  record->mDisplayARGB32 = nullptr;
  for (UInt16*& plane : record->mBlurLevel) release(plane);
  for (UInt16*& plane : record->mDetailLevel) release(plane);
  release(record->mMeasurePlane);
}

void mySetImageWindowDefaultSettings(MyImageWindowDataStruct* record) {
  if (record == nullptr) return;
  record->mZoom = 1.0f;
  record->mNoiseReduction = 1;
  record->mSharpenActive = 0;
  for (Float32& amount : record->mSharpAmount) amount = 10.0f;
  record->mMinSharpenThreshold = 0;
  record->mMaxSharpenThreshold = 65535;
  record->mSharpenSmooth = 0;
  record->mPreview = 1;
  record->mRedBalance = record->mGreenBalance = record->mBlueBalance = 1.0f;
  record->mCurve = 1.0f;
  record->mSaturation = 0.0f;
  record->mMinRed = record->mMinGreen = record->mMinBlue = 0;
  record->mMaxRed = record->mMaxGreen = record->mMaxBlue = 65535;
  record->mCurveCutoff = 0;
  record->mRedHorzOffset = record->mRedVertOffset = 0;
  record->mBlueHorzOffset = record->mBlueVertOffset = 0;
  record->mGreenHorzOffset = record->mGreenVertOffset = 0;
  record->mOffsetsActive = 0;
  record->mLRGBMode = 1;
  record->mSave16Bit = 0;
  record->mMeasureChannel = 2;
  record->mClickMarkMagnitude = -999.0f;
  record->mStarMagnitude = -999.0f;
}
