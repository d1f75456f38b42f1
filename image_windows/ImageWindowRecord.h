// The record of one image window: the image, its intermediate planes, the
// settings, the window references and the measurement state. One heap block
// per window, the reference constant of its three windows and the user data
// of every callback that belongs to them; the batch worker fills a record of
// the same layout without windows.
//
// Buffers: every plane holds mWidth x mHeight samples in packed rows, comes
// from myAllocateImagePlane (16-byte aligned, 16 spare bytes after the last
// pixel, released by free) and belongs to the record; the three source buffers
// become the record's once the window exists.
#pragma once
#include <cstddef>
#include <cstdio>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"

// Levels of the Gaussian cascade, and of the sharpening made against them.
enum { kImageWindowLevelCount = 7 };

enum : UInt32 { kImageWindowRecordTag = 0xAD };

typedef struct OpaqueWindowGroupRef* WindowGroupRef;

// The image's area in window pixels. 32-bit sides: a 10,000-pixel image at
// zoom 4 is wider than 16 bits can hold.
struct MyImageWindowRect {
  SInt32 top;
  SInt32 left;
  SInt32 bottom;
  SInt32 right;
};

struct MyImageWindowDataStruct {
  UInt32 mRecordTag;  // kImageWindowRecordTag; disposal and handlers test it
  FSRef mFileRef;     // the image's file; its name is the window title

  // The image window and its callbacks.
  WindowRef mImageWindow;
  EventTargetRef mImageWindowTarget;
  EventHandlerUPP mImageWindowHandlerUPP;
  EventHandlerRef mImageWindowHandlerRef;
  ControlActionUPP mScrollActionUPP;  // on both scroll bars
  ControlRef mHorzScrollBar;          // 'CPHZ'
  ControlRef mVertScrollBar;          // 'CPVT'
  SInt16 mWindowTop;
  SInt16 mWindowLeft;
  // Scroll position in window pixels (v then h), 32 bits for large zoomed images.
  SInt32 mScrollV;
  SInt32 mScrollH;
  MyImageWindowRect mImageRect;  // 0, 0, height, width
  SInt16 mScrollBarSize;         // thickness of the bars: the height of 'CPHZ'
  UInt8 mHorzBarShown;
  UInt8 mVertBarShown;

  // The control window ("ImageControls").
  WindowRef mControlWindow;
  EventTargetRef mControlWindowTarget;
  EventHandlerRef mControlWindowHandlerRef;
  EventHandlerUPP mControlWindowHandlerUPP;

  // The photometry window; every use tests it for null.
  WindowRef mPhotometryWindow;
  EventTargetRef mPhotometryWindowTarget;
  EventHandlerRef mPhotometryWindowHandlerRef;
  EventHandlerUPP mPhotometryWindowHandlerUPP;

  WindowGroupRef mWindowGroup;  // the three windows together
  ControlKeyFilterUPP mKeyFilterUPP;
  ControlActionUPP mSliderActionUPP;
  ControlActionUPP mArrowActionUPP;

  UInt32 mWidth;     // image size in pixels
  UInt32 mHeight;
  UInt32 mRowBytes;  // RGB48 row stride, mWidth x 6

  UInt16* mSourceRGB48;   // the image as handed in
  UInt16* mWorkRGB48;     // render work copy; from the sharpening sum on the block
                          // holds the processed Luma16 plane
  UInt16* mSourceLRGB64;  // L, R, G, B a pixel; its colour is what the render keeps
  UInt16* mSourceLuma16;  // the luminance; input of blur level 1
  UInt16* mBlurLevel[kImageWindowLevelCount];    // 2x2, 3x3, 4x4, 5x5, 6x6, 7x7, 9x9
  UInt16* mDetailLevel[kImageWindowLevelCount];  // sharpening contribution per level
  UInt16* mRenderRGB48;   // the render's result; its scratch plane before that
  UInt8* mDisplayARGB32;  // the drawn pixels, A R G B bytes

  UInt8 mWindowReady;  // renders to the window do nothing while 0
  UInt8 mZoomChanged;
  Float32 mZoom;  // window pixels per image pixel

  UInt32 mNoiseReduction;  // NOISEREDUCT 1 .. 13
  UInt8 mSharpenActive;    // a sharpening amount differs from 1.0
  Float32 mSharpAmount[kImageWindowLevelCount];  // SHARP1 .. SHARP7
  // MINSHRPTHRESH, MAXSHRPTHRESH, read as signed values: a minimum of 0 sets no
  // lower bound, a maximum of 0 or 65535 no upper bound.
  SInt32 mMinSharpenThreshold;
  SInt32 mMaxSharpenThreshold;
  UInt8 mSharpenSmooth;  // SHRPSMOO: 1 = the blurred value outside the band
  UInt8 mPreview;        // PREVIEW: show the processed image

  Float32 mRedBalance;  // SATRED, SATGREEN, SATBLUE
  Float32 mGreenBalance;
  Float32 mBlueBalance;
  Float32 mCurve;       // LOGCURVE
  Float32 mSaturation;  // SATURATION
  UInt32 mMinRed;       // black and white point per channel
  UInt32 mMaxRed;
  UInt32 mMinGreen;
  UInt32 mMaxGreen;
  UInt32 mMinBlue;
  UInt32 mMaxBlue;
  UInt32 mCurveCutoff;  // LOGCURVECUTOFF, the stretch's black level

  // Channel shifts in pixels; positive moves right and up.
  SInt32 mRedHorzOffset;
  SInt32 mRedVertOffset;
  SInt32 mBlueHorzOffset;
  SInt32 mBlueVertOffset;
  SInt32 mGreenHorzOffset;
  SInt32 mGreenVertOffset;
  UInt8 mOffsetsActive;  // the next render shifts the channels first
  UInt8 mLRGBMode;       // 1 = stretch the luminance, 0 = stretch the colour

  UInt8 mAltivecFlag;   // vector unit present (mySkyloomCheckForSIMD)
  UInt8 mPrefetchFlag;  // PowerPC 970: the vector forms skip their prefetches

  // Measurement.
  UInt8 mPhotometryShown;
  SInt32 mMeasureChannel;  // 0 luma, 1 red, 2 green, 3 blue
  UInt8 mMagCalibrated;
  Float32 mBaseIntensity;
  Float32 mBaseMagnitude;
  Float32 mBaseDeviation;
  UInt8 mClickMarkShown;
  Float32 mClickMarkX;
  Float32 mClickMarkY;
  Float32 mClickMarkFWHM;
  Float32 mClickMarkSum;
  Float32 mClickMarkMagnitude;  // -999.0 when none
  Float32 mClickMarkMagError;
  Float32 mStarX;
  Float32 mStarY;
  Float32 mStarFWHM;
  Float32 mStarHFD;
  Float32 mStarSum;
  Float32 mStarMagnitude;  // -999.0 when none
  Float32 mStarMagError;
  SInt32 mStarPixelCount;
  SInt32 mStarBackground;
  SInt32 mStarHalfMax;
  SInt32 mStarBackgroundCount;

  // Known stars and the calibrations made from them.
  UInt8 mKnownStarEntry;
  SInt32 mKnownStarMarks;
  SInt32 mStarPeak;
  Float32 mArcSecPerPixel;
  SInt32 mKnownStarCount;
  SInt32 mMagStarCount;
  SInt32 mRADecStarCount;  // 3: the RA/Dec fit is valid
  Float32 mKnownStarSum[3];
  Float32 mKnownStarX[3];
  Float32 mKnownStarY[3];
  Float32 mKnownStarMag[3];  // -9999.0 when none
  Float32 mKnownStarFWHM[3];
  Float32 mKnownStarRA[3];   // arc seconds, -9999.0 when none
  Float32 mKnownStarDec[3];
  Float32 mRAFit[4];   // A, B, C, residual of RA = A x + B y + C
  Float32 mDecFit[4];

  FILE* mLogFile;  // the photometry-astrometry log
  UInt8 mLogOpen;
  UInt8 mSave16Bit;  // SAVE16Bit
  // 1 when the luminance came from the colour image itself: green is the
  // reference channel and its offsets stay 0.
  UInt8 mGreenOffsetsLocked;
  UInt8 mLogHeaderWritten;
  UInt16* mMeasurePlane;  // Mono16 copy of the measured channel, or null
};

// The image planes of all image-window code: bytes + 16 spare bytes, 16-byte
// aligned, released by free(). Null when memory runs out.
void* myAllocateImagePlane(size_t bytes);
// Test hook: the n-th plane allocation from now on fails (counting from 1);
// 0 lets every allocation through. Returns how many allocations were made
// since the previous call.
UInt32 mySetImagePlaneAllocationFailure(UInt32 n);

// The creator's planes, in their order: mWorkRGB48, mDisplayARGB32,
// mRenderRGB48, the seven detail planes, the seven blur planes. The first
// allocation that fails ends it with -108, the planes made so far staying in
// the record for mydumpAllocatedBuffers.
enum { kImageWindowCreatedPlaneCount = 17 };
OSStatus myAllocateImageWindowPlanes(MyImageWindowDataStruct* record);

// Frees every buffer pointer of the record that is set (the three source
// buffers, the work, render and display buffers, the fourteen planes and
// mMeasurePlane) and clears it. Safe on a partly built record and twice.
void mydumpAllocatedBuffers(MyImageWindowDataStruct* record);

// The settings a new image window starts from, before the saved preferences
// are read over them: amounts 10 (slider positions), thresholds 0 and 65535,
// balances and curve 1, saturation 0, levels 0 .. 65535, no offsets, noise
// level 1, LRGB and preview on; measurement channel green, zoom 1.
void mySetImageWindowDefaultSettings(MyImageWindowDataStruct* record);
