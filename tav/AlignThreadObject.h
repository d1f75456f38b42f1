// The align worker record, shared by the framework and the application: the
// stacking engine allocates and fills one record a worker, posts frames into
// it and collects the offsets; the framework owns the worker thread.
//
// Hand-off: a job is pending only while mNeedsFrame is 0 and mDoneFrame is 0.
// The poster writes the frame, then lowers mNeedsFrame and signals mCond under
// mMutex. The worker raises mDoneFrame with release order when the job is
// done; collectors read it with acquire order (that publishes the offsets,
// mNoResult and the processed colour frame), then raise mNeedsFrame BEFORE
// they lower mDoneFrame, so that a worker woken in between never sees the
// collected job as a new one. mNeedsFrame, mDoneFrame, mRunning, mAlive and
// mSFThreadIsSleeping are read outside the mutex: every access to them goes
// through std::atomic_ref.
#pragma once
#include <pthread.h>

#include "platform/coreservices/MacTypes.h"

struct AlignThreadObject {
  UInt8* mWorkFrame;
  UInt8* temp32x32Ptr;
  UInt8* tempTwo32x32Ptr;
  UInt8 mHorzBlockValid;
  UInt8 mVertBlockValid;
  UInt32 mNeedsFrame;  // 1 = no job pending
  UInt32 mDoneFrame;   // 1 = a finished job awaits collection
  UInt8 mIsReference;
  float mRefX, mRefY;
  float mSharpen;
  UInt32 mSharpenThreshold;
  UInt32 mWidth, mHeight;
  UInt32 mRowBytes;
  UInt32 mScaledWidth, mScaledHeight;
  UInt32 mScaledRowBytes;
  UInt32 mMonoRowBytes;
  UInt32 mScale;
  UInt32 mGradLevel;
  UInt32 mHotPixel;
  UInt32 mSpatialSharpness;
  UInt32 mColorChannel;
  UInt32 mPixelTolerance;
  UInt32 mBlockSize;
  UInt32 mLimitPercent;
  UInt32 mPixelAlign;
  UInt32 mGradientStep;
  UInt32 mManualX, mManualY;
  UInt8 mGausBlur, mBcgSubtract, mSharpMatch, mRemoveNoise, mAutoExpAlign, mMethod,
      mAutoAdjBrightness, mBin2x2;
  UInt8 mAltivec;
  UInt8 mPrefetch;
  UInt8 mSharpenOn;
  UInt8 mRawBayer;
  UInt8 mQuality;
  UInt32 mBayerCode;
  SInt32 mHorzBlockDX, mHorzBlockDY, mVertBlockDX, mVertBlockDY;
  UInt32 mFrameMedian;
  UInt32 mRefMedian;
  double mMatchTolerance;
  UInt32 mExpandLow, mExpandHigh;
  SInt32 mErr;
  UInt8* mColorFrame;
  UInt8* mMonoFrame;
  UInt8* mTempFrame;
  pthread_t mThread;
  UInt8 mThreadValid;  // pthread_t is opaque: this says whether mThread names a worker
  pthread_mutex_t mMutex;
  pthread_cond_t mCond;
  pthread_attr_t mAttr;
  UInt32 mRunning;
  UInt32 mAlive;
  UInt32 mSFThreadIsSleeping;
  UInt8 mNoResult;
  float mOffsetX, mOffsetY;
};

// Creates the record's worker (ARGB32 body when argb32Flag is not 0, else the
// RGB48 one) and returns 0 without waiting for it to start; -108 for null,
// else the code of the failing step (nothing is left running then).
OSStatus mySetUpAlignThreadObject(AlignThreadObject* pTAVTSPtr, UInt32 argb32Flag);
// Ends the worker (a running job finishes first), then frees the buffers and
// the record. A worker still running after the poll limit keeps its record.
void myDisposeAlignThreadObject(AlignThreadObject* pTAVTSPtr);

void* myARGB32AlignFrameThread(void* arg);
void* myRGB48AlignFrameThread(void* arg);
