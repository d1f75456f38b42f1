// Starting and stopping video on an open simulated camera the way the
// application's start and stop do it, until those steps are built: the
// mode programmed through the format code, the preview and work buffers
// allocated, myDisplayCallback assigned with the record, video started; and
// back. Frames then reach the pipeline on the driver's delivery thread
// (threaded delivery), or a test calls the callback itself with the camera's
// reference frames (synchronous delivery).
#pragma once
#include <cstdlib>
#include <vector>

#include "app/FramePipeline.h"
#include "tests/app/ExposureFixture.h"

class PipelineHarness : public ExposureTest {
 protected:
  void TearDown() override {
    StopVideo();
    ExposureTest::TearDown();
  }

  // Programs video-size item `index` (-1: the first) and the geometry and
  // depth it delivers, allocates the buffers and, with `threaded`, starts
  // delivery to myDisplayCallback.
  OSStatus StartVideo(SInt32 index, bool threaded) {
    MyCameraWindowDataStruct* r = record_;
    OSStatus err = mySetCameraFMRByIndexItem(r, index);
    if (err != noErr) return err;
    UInt32 pixelFormat = 0, bits = 0;
    err = ORXDCAMGetFMRLTWHCB(r->mCameraHandle, &r->mFormat, &r->mMode, &r->mFrameRate, &r->mLeft, &r->mTop,
                              &r->mWidth, &r->mHeight, &pixelFormat, &bits);
    if (err != noErr) return err;
    r->mPixelFormat = pixelFormat;
    r->mBitsPerPixel = bits;
    r->mFrameTimeBase = 0.0;
    const size_t n = size_t(r->mWidth) * r->mHeight;
    r->mPreviewBuffer = malloc(n * 4 + 16);
    r->mWorkBuffer = malloc(n * 2 + 64);
    r->mFlipVerticalLinePtr = malloc(r->mWidth * 2 + 32);
    if (r->mIsLongExposureCamera) r->mSecondLongFrameBuffer = malloc(n + 16);
    if (!r->mPreviewBuffer || !r->mWorkBuffer || !r->mFlipVerticalLinePtr ||
        (r->mIsLongExposureCamera && !r->mSecondLongFrameBuffer))
      return memFullErr;
    r->mRunning = 1;
    if (!threaded) return noErr;
    if ((err = ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 1)) != noErr) return err;
    if ((err = ORXDCAMAssignCallback(r->mCameraHandle, myDisplayCallback, r)) != noErr) return err;
    streaming_ = true;
    return ORXDCAMStartStopVideo(r->mCameraHandle, 1);
  }

  // The stop: delivery ends before anything the callback uses goes away.
  void StopVideo() {
    MyCameraWindowDataStruct* r = record_;
    if (!r) return;
    std::atomic_ref<UInt8>(r->mRunning).store(0);
    if (streaming_) {
      ORXDCAMAssignCallback(r->mCameraHandle, nullptr, nullptr);
      ORXDCAMStartStopVideo(r->mCameraHandle, 0);
      ORXDCAMAllocateReleaseIsochChannel(r->mCameraHandle, 0);
      streaming_ = false;
    }
    if (r->mGrabPending) {
      r->mGrabCancel = 1;
      r->mGrabWanted = 0;
    }
    myFinishGrab(r);
    myStartStopFWHMHFD(r, 0);
    free(r->mPreviewBuffer);
    free(r->mWorkBuffer);
    free(r->mFlipVerticalLinePtr);
    free(r->mSecondLongFrameBuffer);
    r->mPreviewBuffer = r->mWorkBuffer = r->mFlipVerticalLinePtr = r->mSecondLongFrameBuffer = nullptr;
  }

  // The reference frame `id` of the current geometry, as the driver hands
  // it over (16-bit samples in host order).
  std::vector<UInt8> Reference(UInt32 id) {
    std::vector<UInt8> f = Camera().Stream().ReferenceFrame(id);
    if (record_->mBitsPerPixel == 16)
      for (size_t i = 0; i + 1 < f.size(); i += 2) std::swap(f[i], f[i + 1]);
    return f;
  }

  bool streaming_ = false;
};
