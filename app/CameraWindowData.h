// The camera control record: one per open camera, allocated zeroed when the
// camera opens and freed when its windows close. Both camera windows carry it
// as their reference constant; the frame callback gets it as its reference
// value, so the live pipeline on the delivery thread and the handlers on the
// main thread read and write the same fields.
//
// The record is a plain block (malloc + clear): keep every field trivially
// copyable and make zero a valid "nothing yet" value. Fields are added here as
// the parts of the application that use them are built; one header only.
#pragma once
#include <pthread.h>

#include <cstdio>
#include <type_traits>

#include "camera_driver/ORX_DCAM.h"  // MyDCAMCameraPropertiesStruct
#include "platform/coreservices/CoreServices.h"  // UTCDateTime
#include "platform/coreservices/Files.h"  // FSSpec
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"  // RGBColor

struct MyDCAMCameraStruct;  // the driver's camera handle
struct MountCntlDevice;     // the open mount-control device (guiding)
struct MCBS;                // the scope-control block of a run (guiding)
struct MyMovieRecorderStruct;  // the movie recorder of a recording (media)
typedef struct OpaqueWindowPtr* WindowRef;
typedef struct OpaqueControlRef* ControlRef;
typedef struct OpaqueATSUStyle* ATSUStyle;

// Kind tag in the first word; handlers that find a record through a window
// test it before they touch anything else.
constexpr UInt32 kMyCameraWindowDataKind = 1;

// "No value sent yet" in the previous-value fields of the white balance.
constexpr UInt32 kMyWhiteBalanceNoValue = 0xFFFFFFFFu;

// Room in the video-size table: one entry per item of the 'VISZ' pop-up.
constexpr UInt32 kMyMaxVideoSizes = 100;

// One item of the video-size pop-up: the format and mode it programs and
// what the camera delivers in it.
struct MyVideoSizeStruct {
  UInt32 mFormat;             // IIDC format 0, 1, 2 or 7
  UInt32 mMode;
  UInt32 mWidth;
  UInt32 mHeight;
  UInt32 mColorCoding;        // 0 Mono8, 5 Mono16, 9 Raw8, 10 Raw16, 11 Mono12, 12 Raw12
  UInt32 mBayerCode;          // 0 mono, 1 RGGB, 2 GBRG, 3 GRBG, 4 BGGR
  UInt8 mIsColor;             // 1: the mode delivers a raw colour mosaic
  UInt8 mRegionAllowed;       // Format 7 mode whose region may be kept
  double mMaxFramePeriodMs;   // longest exposure or frame period the mode allows
};

struct MyCameraWindowDataStruct {
  // ---- identity and camera
  UInt32 mKind;                        // kMyCameraWindowDataKind
  UInt8 mHasVectorUnit;                // vector-unit answer, passed as altivecFlag
  UInt8 mIsG5;                         // PowerPC 970 answer, passed as prefetchFlag
  MyDCAMCameraStruct* mCameraHandle;   // null before opening and after closing
  UInt8 mRunning;                      // 1 while video runs
  UInt32 mBitsPerPixel;                // 8, 12 or 16
  UInt32 mFormat;                      // IIDC format (0, 1, 2 or 7) and mode in use
  UInt32 mMode;
  double mFrameRate;                   // frames per second
  UInt32 mLeft;                        // frame geometry of the current mode
  UInt32 mTop;
  UInt32 mWidth;                       // frame width; row bytes of an 8-bit frame
  UInt32 mHeight;

  // ---- windows
  WindowRef mVideoWindow;              // "VideoWindow"

  // ---- display options
  UInt32 mDisplayFormatItem;           // 'FORT' item; 2 and 4 show a mosaic in colour
  UInt32 mDisplayFormat;               // four-character display code, 'ARGB' if not Bayer
  UInt8 mColourDisplay;                // 1 when a colour mosaic is decoded, shown and summed in colour
  UInt8 mColourSensor;                 // 1 when the camera delivers a raw colour mosaic

  // ---- sharpness (the pipeline keeps a running mean over at most 30 frames)
  double mSharpness;                   // written by the Bayer sharpness estimators
  double mSharpnessSum;                // sum of mSharpness x 1000.0
  UInt32 mSharpnessCount;              // frames in mSharpnessSum

  // ---- calibration
  UInt8 mUseDarkFrame;                 // 1 = subtract mDarkFrame from every frame
  UInt8 mDarkFrameAvailable;
  UInt32 mDarkFrameCount;              // frames summed into a master dark
  void* mDarkFrame;                    // master dark, 8 or 16-bit samples of the frame size
  UInt8 mUseFlatFrame;                 // 1 = flatten every frame with mFlatFrame
  UInt8 mFlatFrameAvailable;           // 1 once the factor buffer is built
  UInt32 mFlatFrameCount;              // frames summed into a master flat
  void* mFlatFrame;                    // flat factors, width x height x 4 + 16 bytes

  UInt8 mInvert;                       // 1 = frames are inverted
  UInt8 mFlipHorizontal;
  UInt8 mFlipVertical;
  void* mFlipVerticalLinePtr;          // one row of scratch for the vertical flip

  // ---- white balance
  UInt8 mWhiteBalanceRunning;
  RGBColor mBalanceColour;             // target colour, full scale 65535
  UInt8 mBalanceR;                     // measured averages, 8-bit scale
  UInt8 mBalanceG;
  UInt8 mBalanceB;
  UInt8 mRedBalanceDone;               // 1 = red within tolerance
  UInt8 mBlueBalanceDone;
  UInt32 mRedBalanceValue;             // value last sent to the camera
  UInt32 mRedBalancePrevious;          // value sent before it, kMyWhiteBalanceNoValue = none
  UInt32 mRedBalanceLower;             // bounds of the component
  UInt32 mRedBalanceUpper;
  UInt32 mBlueBalanceValue;
  UInt32 mBlueBalancePrevious;
  UInt32 mBlueBalanceLower;
  UInt32 mBlueBalanceUpper;

  // ---- gamma
  UInt8 mGammaOn;                      // 1 = the pipeline applies mGammaLUT
  double mGamma;                       // kept while gamma is off
  void* mGammaLUT;                     // LUT8Bit or LUT16Bit; null = no table
  void* mGammaLUTSpare[2];             // two more tables of the same size; new tables are
                                       // built in one, then swapped with mGammaLUT
  void* mGammaLUTTaken;                // the table the pipeline took for its frame
                                       // (delivery thread; null = none)

  // ---- histogram
  WindowRef mControlWindow;            // null = none
  UInt32 mHistogramOption;             // 0 off; n >= 1 plots counts x 2^(n-1)
  UInt8 mControlWindowShown;           // 1 once control and video windows are set up
  UInt32 mHistogramValid;              // 0 while a frame is counted, 1 after
  UInt32* mHistogramR;                 // HistoGram256: red, or the mono frame
  UInt32* mHistogramG;
  UInt32* mHistogramB;
  Rect mHistogramRect;                 // plot area in the control window
  UInt8 mIsLongExposureCamera;         // 1 selects the coarse 64-step plot

  // ---- percentile stretch
  UInt8 mHistogramExpand;              // 0 off, 1 every frame, else on request
  UInt8 mStretchRequest;               // 8-bit: 1 = once; 16-bit: frames left
  void* mStretchLUT;                   // LUT8Bit or LUT16Bit; null = no stretch

  // ---- the camera's capability block, copied at opening; its mCameraID,
  // mVendor and mName are the camera's serial number, vendor word and name
  MyDCAMCameraPropertiesStruct mProperties;

  // ---- camera family
  UInt32 mBayerFormat;                 // 1 RGGB, 2 GBRG, 3 GRBG, 4 BGGR
  UInt8 mAutoShutterAvailable;         // automatic exposure may be offered
  UInt8 m50HzCapable;                  // the camera offers the 50 Hz setting
  UInt8 mIsUBTModel;                   // a name of the UBT list (or a Frostlens model)
  UInt8 mIsPointGrey;                  // the Point Grey register check passed at opening
  UInt8 mPointGreyBayer;               // that check reported board type 3
  UInt8 mSoftLongExposure;             // exposures beyond the camera's range timed here
  UInt8 mTriggerMode1Available;
  UInt8 mIsVendor50A6;
  UInt8 mAbsoluteShutter;              // the block's absolute-shutter flag
  UInt8 mShutterByAbsolute;            // the family's exposure goes through the absolute shutter
  UInt8 mBayerSelectable;              // colour decided by the white-balance probe; the user
                                       // may choose the pattern
  UInt32 mExposureItemLimit;           // first exposure-base item beyond the camera's range
  UInt32 mFrostlensModel;              // 1: long exposure times up to one hour
  double mLongestExposureMS;           // longest exposure over all video sizes
  double mSizeLongestExposureMS;       // that of the video size in use

  // ---- what the camera-settings block of the capture and guiding logs
  // reads besides the fields above
  double mExposureMS;                  // exposure in ms
  UInt32 mShutterValue;                // shutter register value
  UInt32 mLongExposure;                // non-zero while the long-exposure thread times exposures
  UInt8 mRejectBySharpness;            // 'USHR': frames outside the sharpness tolerance are dropped
  UInt8 mHotPixelFlag;                 // "HTPX": hot/cold pixel replacement in long exposures
  UInt8 mLiveHotPixelFlag;             // "LHTPX": the same on live frames
  UInt32 mHotPixelThreshold;           // "HCRP": replacement cut-off
  double mF7MaxRate;                   // Format 7 frame rate at the largest packet
  UInt8 mSoftROIEnabled;               // "SOFTROI": software crop; applies when both flags are set
  UInt8 mSoftROIActive;
  UInt32 mSoftROILeft;
  UInt32 mSoftROITop;
  UInt32 mSoftROIWidth;
  UInt32 mSoftROIHeight;
  UInt32 mTemperatureMode;             // 0: the camera reports no temperature
  float mShownTemperatureK;            // the temperature last shown, kelvin

  // ---- Format 7 (the mode last asked about)
  UInt32 mF7MaxWidth;
  UInt32 mF7MaxHeight;
  UInt32 mF7UnitWidth;
  UInt32 mF7UnitHeight;
  UInt32 mF7UnitLeft;
  UInt32 mF7UnitTop;
  UInt32 mF7UnitPacket;                // bytes-per-packet step, the smallest packet
  UInt32 mF7MaxPacket;
  UInt32 mF7ColorCodingInq;            // bit 31 - id for each coding offered
  UInt32 mF7ColorCoding;
  UInt8 mF7ROIOn;                      // a region of interest is in force

  // ---- exposure, frame rate and feature sliders (main thread, except the
  // automatic-exposure measurement, which the delivery thread writes and the
  // preview redraw reads and clears: atomic accesses only)
  UInt32 mExposureRateItem;            // rate item 1..8 of the exposure; long-exposure kind: the
                                       // iris rate code 2 (7.5 fps), 3 (15) or 4 (30)
  UInt32 mLastRateItem;                // 'FRAM' items the mode offers: mFirstRateItem ..
  UInt32 mFirstExposureItem;           // first frame-rate item of 'CCDB'; the last one is
                                       // mExposureItemLimit
  UInt32 mUserBayerCode;               // "BAYR": the pattern the user chose, 0 none
  UInt8 m50HzScale;                    // "50HZ": rates scaled by 0.833333
  UInt8 mAutoExposureOn;               // 'AUEX' is checked
  float mAbsShutterMin;                // absolute-shutter range and value, ms
  float mAbsShutterMax;
  float mAbsShutterValue;
  UInt32 mSavedTSLExposure;            // 0x504 of the long-exposure kind while an exposure runs
  void* mLongExposureFrame;            // width x height x 4: ARGB32 of the last long exposure
  UInt32 mPairSum;                     // frame pairing of the long-exposure kind
  UInt32 mPairCount;
  UInt8 mAutoExposureReady;            // the target brightness has been learnt
  UInt8 mAutoExposurePending;          // a new exposure is asked for
  UInt32 mAutoExposureFrameCount;      // frames counted by the measurement
  float mAutoExposureTarget;           // target mean brightness, % of full scale
  float mAutoExposureMeasured;         // mean brightness of the frame that asked, %
  double mF7MinRate;                   // Format 7 frame rate at the smallest packet

  // ---- video sizes
  UInt32 mVideoSizeIndex;              // 'VISZ' item - 1
  UInt32 mVideoSizeCount;              // at most kMyMaxVideoSizes
  MyVideoSizeStruct mVideoSizes[kMyMaxVideoSizes];

  // ---- scope control and guide pulses (the pulse thread, the delivery
  // thread and the main thread share the counters: atomics only)
  UInt8 mScopeControlActive;           // non-zero while scope control runs
  UInt32 mMountCntlDeviceKind;         // MountCntlDeviceKind of the open device
  MountCntlDevice* mpMountCntlDevicePtr;  // null while no device is open
  SInt32 mPulseInProgress;             // 1 from a pulse's start to the end of its settle
  SInt32 mPulsesPending;               // pulses started and not yet settled or cancelled
  SInt32 mTrackingPhase;               // cleared by every pulse start, end and cancel
  UInt8 mGuidingOn;                    // 1 while guiding sends corrections

  // ---- guiding: the guide-star centroid and the correction step run on the
  // delivery thread; calibration and the guiding window on the main thread.
  // mTrackingPhase hands each averaged position over: -1 is stored (release)
  // only after mStartX/Y and the box averages, and read with acquire.
  MCBS* mpMCBSPtr;                     // the scope-control block; null while no run is open
  UInt8 mGuideWindowShown;             // 1 while the "LXControls" sheet is up
  UInt8 mGuidingActive;                // 1 while calibration or tracking runs
  SInt32 mGuideBusy;                   // raised while the centroid step runs; the stop waits for 0
  UInt8 mFullFrameSearch;              // 1 = the centroid step searches the whole frame
  UInt32 mLostFrames;                  // consecutive failed local searches
  UInt8* mSerial8BitBuffer;            // the centroid step's Mono8 plane (owned by the run)
  UInt32* mSerialHistoGramBuffer;      // its HistoGram256 (owned by the run)
  float MSlopeFloat;                   // calibrated RA line y' = M x + B, with y' = -Y
  float B_YinterceptFloat;
  UInt32 Orientation;                  // 0 RA along that line, 1 along X, 2 along Y
  UInt8 mCorrectRA;                    // 1 = the axis is calibrated and corrected
  UInt8 mCorrectDec;
  UInt32 mDecTrackingMode;             // 1 off, 2 both, 3 up only, 4 down only
  UInt32 mDecCalibrationMode;          // "DECTRACKING"
  UInt32 mCorrectionOrder;             // "RAFIRST": 0 Dec first, 1 RA first, 2 largest, 3 both
  UInt8 mLunarSolarTracking;           // "LUNSOLTRACK": limb (edge) tracking
  UInt8 mSkipLargeChanges;             // "SKIP10TIMES": clamp errors to 10 x accuracy
  UInt32 mCalibrationMoveItem;         // "MOTSTRTTIME"
  float mTrackAccuracy;                // "PIXACCURCY": dead band, pixels
  double mPixelPerMillSecXLeft;        // calibrated rates, pixels per ms: RA command 0
  double mPixelPerMillSecXRight;       // RA command 1
  double mPixelPerMillSecYUp;
  double mPixelPerMillSecYDown;
  float mStartX;                       // start of a guiding run (< 0 = not set); while
  float mStartY;                       // calibrating, the last averaged position
  float mCurrentX;                     // last position corrected; centre of the local search
  float mCurrentY;
  float mTrackBoxWidth;                // search-box size averaged with the last position
  float mTrackBoxHeight;
  float mGuideSumX;                    // sums of the frames being averaged
  float mGuideSumY;
  float mGuideSumBoxWidth;
  float mGuideSumBoxHeight;
  UInt32 mMinRAMotionPixels;           // "MAXRAPIX"
  UInt32 mMinDecMotionPixels;          // "MAXDECPIX"
  double mMinPulseMs;                  // shorter pulses are not sent
  float mCalibratedDeclination;        // degrees
  float mObjectDeclination;            // degrees
  float mRADurationFactor;             // cos(calibrated dec) / cos(object dec), RA pulses
  UInt8 mPosAZMIsPositive;             // calibrated direction flags
  UInt8 mPosALTIsPositive;
  UInt32 mFramesToAverage;             // N, frames averaged per position
  UInt32 mFramesAveraged;              // frames summed so far (shared with the FWHM overlay)
  UInt8 mMultipleObjects;              // "USESINGLCENTROID": several objects tracked as one
  UInt8 mGuideLogOpen;                 // the guiding log is open
  FILE* mpGuideLogFile;
  UInt8 mEliminateHotPixels;           // "ELIMHOTPIX": hot-pixel filter and local search
  UInt8 mTurbulenceLimit;              // "USEFWHMHFD": reject frames above 1.3 x the reference
  UInt8 mFWHMAveraging;                // 1 while the reference FWHM is averaged
  float mFWHMSum;                      // reference FWHM: the sum, then the average
  UInt32 mFWHMCount;                   // frames in mFWHMSum
  UInt32 mFWHMFrames;                  // frames to sum

  // ---- live FWHM/HFD for the preview overlay (written on the delivery
  // thread, read on the main thread: atomic accesses)
  SInt32 mFWHMBusy;                    // raised while the measurement runs
  UInt8 mFWHMOn;                       // the measurement is on
  UInt8* mFWHMPlane;                   // its Mono8 plane
  UInt32* mFWHMHistogram;              // its HistoGram256
  float mFWHMFound;                    // this frame's FWHM; 0 when no star was measured
  float mHFDFound;                     // this frame's HFD
  float mFWHM;                         // running averages
  float mHFD;
  float mStarPeak;                     // 8-bit scale
  float mPrevFWHM;                     // the averages before them
  float mPrevHFD;
  float mPrevStarPeak;
  float mFWHMRunningSum;               // sums towards the next averages
  float mHFDRunningSum;
  float mStarPeakRunningSum;

  // ---- please-wait collection: the fields object tracking (mode 6) and the
  // brightness monitor (mode 11) share
  void* mPleezWaitSum;                 // mode 6: Mono8 copy of deep frames; mode 11: brightness
                                       // values, one float a sample
  UInt8 mPleezWaitDone;                // 1: the running mode is to end

  // ---- object tracking (mode 6) and the brightness monitor (mode 11). The
  // delivery thread appends samples and raises mTrackSampleCount (release)
  // only once a sample is complete; the main thread reads the count
  // (acquire) and the samples below it. mTrackBusy is raised around every
  // tracked frame; the buffers are freed only while it is 0.
  UInt8 mTrackingAnalysisOn;           // tracking has seen (and set itself up on) its first frame
  UInt8 mTrackSlowExposure;            // exposure below 1000 ms: one averaged sample a second
  float mTrackingArea[4];              // mode 11: area left, top, width, height; mode 6: first x,
                                       // first y, current x, current y
  float mBrightnessMin;                // mode 11: lowest and highest brightness seen
  float mBrightnessMax;
  float mTrackSumX;                    // mode 6: sums of positions towards the next averaged sample
  float mTrackSumY;
  UInt32 mTrackSumCount;               // positions in the sums
  float mBrightnessStartTime;          // elapsed seconds at which the next averaged sample is due
  float mBrightnessElapsed;            // elapsed seconds of the last sample
  UInt32 mTrackThreshold;              // tracking box threshold, taken at the first frame
  UInt32 mTrackLostCount;              // consecutive frames the tracked object was not found
  UInt32 mTrackSampleCapacity;         // 32768 (mode 6) or 10000000 (mode 11)
  UInt32 mTrackSampleCount;            // samples stored
  float* mTrackSamples;                // mode 6: x, y, elapsed seconds a sample; mode 11: elapsed
                                       // seconds
  UInt64 mBrightnessStartMicros;       // Microseconds at the first frame
  double mBrightnessStartClock;        // absolute time of the first frame
  SInt32 mTrackBusy;                   // raised around every tracked frame (atomics only)

  // ---- aligned capture (please-wait modes 9 and 10). The delivery thread
  // reads these between raising and lowering mAlignBusy, and only while
  // mAlignCaptureOpen is set; the main thread changes them only while it is
  // clear and mAlignBusy is 0.
  UInt32 mImageAlignMode;              // "IMAL": 0, 1 edge centroid, 2 block placed near the object
  FSSpec mFrameFileSpec;               // file of the next or last saved frame
  float mAlignRefX;                    // object centroid of the reference frame
  float mAlignRefY;
  UInt32 mAlignBlockScale;             // the block is 32 x scale pixels square; always 1
  SInt32 mAlignBlockOffsetX;           // reference block centre less the reference centroid
  SInt32 mAlignBlockOffsetY;
  UInt32 mAlignWidth;                  // frame size of the run
  UInt32 mAlignHeight;
  UInt32 mAlignRefMedian;              // 50 % level of the reference working image
  UInt8 mAlignReady;                   // 1: frames are matched against the reference block
  UInt8 mAlignCaptureOpen;             // 1 from the end of start to the start of finish
  UInt8 mAlignNeedsMono;               // frames go through a Mono8 working image first
  UInt8 mAlignUseGreens;               // a colour mosaic shown as mono: its greens are summed
  UInt8 mAlignColour;                  // copy of mColourDisplay at start: the run sums in colour
  UInt32* mAlignHistogram;             // 256 bins
  void* mAlignWork;                    // Mono8 working image (greens at 16 bits too)
  UInt32* mAlignSum;                   // RGB96 for colour runs, else Sum32Buff
  UInt8* mAlignBlock;                  // the reference block
  void* mAlignConvert;                 // ARGB32 or RGB48 frame of colour runs
  UInt32 mAlignedFrameCount;           // frames added so far
  SInt32 mAlignBusy;                   // raised around every aligned frame (atomics only)

  // ---- long exposures: the exposure settings the timing thread reads
  UInt8 mPGRLongExposureOn;            // Point Grey: long exposures by the trigger scheme
  UInt8 mTrigger4Pin;                  // trigger pin set: 0 input 0 / output 1, 1 input 3 / output 2
  UInt32 mLongExposureMenu;            // long times offered; long-exposure kind: 1 = STA pins
  UInt32 mFirstRateItem;               // slowest rate item offered (1 = 1.875 fps)
  UInt32 mF7BytesPerPacket;            // Format 7 bytes per packet in use

  // ---- the long-exposure timing thread (one per record). The mutex and
  // condition variable serve the start handshake and wake the thread's
  // timed waits at a stop; mLongExposRun and mLongExposAlive are atomics.
  // The record must outlive the thread: while mLongExposAlive is set it is
  // not freed (myLongExposureThreadHoldsRecord).
  pthread_t mLongExposPthread;         // non-zero while a thread exists
  pthread_mutex_t mLongExposMutex;
  pthread_cond_t mLongExposCond;
  pthread_attr_t mLongExposAttr;
  SInt32 mLongExposRun;                // 1 while the thread shall run
  SInt32 mLongExposAlive;              // 1 from the thread's first step until it leaves
  float mLongExposTimerValue;          // value given at start, ms

  // ---- the long-exposure cycle's hand-off (timing thread, delivery thread
  // and display timer; atomics only)
  SInt32 mLongExpFrameDone;            // raised when the next exposure is due
  SInt32 mLongExpShowPending;          // raised at an exposure start, lowered by the display
  SInt32 mLongExpReadout;              // raised when the exposure has ended
  UInt64 mExposureStartTime;           // Microseconds at the exposure's start
  UInt64 mCountdownTime;               // Microseconds of the last countdown update

  // ---- the preview window: zoom, scrolling, marks and overlay texts (main
  // thread; the recording and sharpness values are written by the pipeline)
  float mZoomScale;                    // window points per frame pixel
  SInt16 mZoomItem;                    // checked zoom item of menu 2, 3 to 10
  Point mScrollOffset;                 // v, h: the zoomed-image point at the content's top left
  Rect mPreviewRect;                   // 0, 0, height x zoom, width x zoom
  ControlRef mHScrollBar;              // 'CPHZ' and 'CPVT' of the video window
  ControlRef mVScrollBar;
  SInt16 mScrollBarThickness;          // height of the horizontal bar's bounds
  UInt8 mHScrollShown;
  UInt8 mVScrollShown;
  UInt8 mDrawStateReset;               // set by a resize or zoom, cleared by the next redraw
  UInt8 mShowSaturated;                // 'SHSA': pixels at or above the cut-off minus 1 in red
  UInt32 mSaturationCutoff;            // "SATPIXCUTOFF", 8-bit scale
  UInt8 mShowReticle;                  // 'RESH': centring circles and cross hair
  ATSUStyle mStatusTextStyle;          // 18-point grey: recording counter and sharpness
  ATSUStyle mRedTextStyle;             // 40-point: FWHM and the lost-star message
  ATSUStyle mYellowTextStyle;          // 40-point: HFD
  ATSUStyle mGreenTextStyle;           // 40-point: the star peak
  RGBColor mColourizeColour;

  // ---- scope control: the run's open byte (read by the menu enabling) and
  // the camera settings that decide whether its GPIO lines are offered
  UInt8 mScopeControlOpen;             // 1 from the run's block being stored until it is freed
  UInt8 mPGRLongExposure;              // "PGRL": Point Grey long exposures by trigger and output pin
  UInt32 mTriggerItem;                 // checked trigger item: 0 off, 1 on, 2 on with grab to disk

  // ---- the frame pipeline: hand-off between the delivery thread, the
  // display timer and the main thread's commands. Counters change only by
  // atomic increment and decrement (plain stores of 0 only where the owner
  // says so); a field one thread writes while another reads goes through
  // std::atomic_ref. Every buffer the main thread frees while frames flow has
  // a busy counter: the pipeline raises it, then re-reads the enabling flag
  // and the pointer, uses the buffer and lowers the counter; the main thread
  // clears the flag, waits (bounded) for 0 and never frees while it is up.
  UInt32 mPixelFormat;                 // camera pixel-format code of the current mode
  void* mPreviewBuffer;                // ARGB32 preview, width x height x 4 + 16 bytes
  void* mWorkBuffer;                   // 16-bit samples of a widened 12-bit frame, w x h x 2 + 64
  void* mSecondLongFrameBuffer;        // long-exposure kind: the brighter frame of a pair
  SInt32 mDisplayBusy;                 // display timer inside its preview step
  SInt32 mPreviewConverting;           // pipeline writing mPreviewBuffer
  SInt32 mPreviewReady;                // 1: mPreviewBuffer holds a frame not yet drawn
  double mFrameTime;                   // time and interval of the frame last handed to the preview
  double mFrameInterval;
  double mFrameTimeBase;               // long exposures: the sum of their intervals, ms
  UInt8 mGrabWanted;                   // the next eligible frame goes into mGrabBuffer
  UInt8 mGrabFilled;                   // set after the pipeline's copy, cleared by a request
  UInt8 mGrabCancel;                   // complete the pending grab without saving
  UInt8 mGrabTimeoutOn;                // the display timer applies the grab time-out
  SInt32 mGrabPending;                 // 1 while a grab is requested and not completed
  SInt32 mGrabsInFlight;               // 0 once the last requested grab has completed
  SInt32 mGrabBufferBusy;              // pipeline inside its grab-buffer step
  void* mGrabBuffer;                   // w x h bytes (x 2 above 8 bits) + 16
  UInt64 mGrabRequestTime;             // Microseconds of the request
  SInt32 mCalibrationBusy;             // pipeline inside the dark and flat steps
  SInt32 mPleezWaitBusy;               // pipeline using mPleezWaitSum or mTrackSamples
  SInt32 mMovieBusy;                   // pipeline inside the recorder call
  UInt32 mPreviewSkip8Bit;             // preview thinning while recording, per depth
  UInt32 mPreviewSkip16Bit;
  UInt8 mColourizeOn;                  // mono frames shown through mColourizeTable
  UInt8 mShowSharpness;                // compute the live sharpness
  double mSharpnessAverage;            // published every 30 frames
  double mSharpnessReference;          // frame selection by sharpness
  double mSharpnessTolerance;
  // please-wait per-frame work (the mode is set up on the main thread)
  UInt8 mPleezWaitActive;
  UInt32 mPleezWaitMode;               // 1..11
  UInt32 mPleezWaitFramesLeft;
  SInt32 mPleezWaitProgress;           // percent
  SInt32 mPleezWaitError;
  UInt32 mAverageFrameCount;           // frame counts of modes 7, 8 and 1
  UInt32 mSumFrameCount;
  UInt32 mSharpFrameCount;
  UInt32 mSpotBalanceX;                // spot white balance area (mode 5)
  UInt32 mSpotBalanceY;
  UInt8 mBrightnessMonitorOn;          // mode 11 samples frames
  float mLastBrightness;
  // recording
  MyMovieRecorderStruct* mMovie;       // null while not recording
  UInt8 mRecording;
  UInt8 mRecordFirstFrame;             // 1 until the first frame has stamped mRecordStartUTC
  UInt8 mRecordStopRequested;          // the display timer ends the recording
  OSErr mRecordStatus;                 // last recorder status
  UTCDateTime mRecordStartUTC;
  UInt32 mRecordFrameLimit;            // 0: no limit (the counter counts up)
  UInt32 mRecordFrameCounter;
  double mMovieFrameInterval;          // ms between recorded frames; <= 1.0 records all
  double mRecordNextFrameTime;         // ms; 0 before the first recorded frame
  // ---- camera preferences and settings slots: the fields the camera's
  // preference domain and the named settings slots keep (main thread)
  UInt8 mPGRLongExposureCapable;       // the camera takes that trigger setting
  UInt32 mTriggerMode;                 // "TRGMD": IIDC trigger mode of the trigger, 0 or 14
  UInt32 mMovieFrameItem;              // 'MOFR' pop-up value (19 = every frame)
  OSType mSaveFileType;                // "FFMT": picture kind of single-frame grabs ('TIFF' ...)
  UInt32 mFileNaming;                  // "FINM" 1..4: naming of grabs and recordings
  Point mControlWindowPos;             // "CWTO", "CWLF": top, left
  SInt16 mControlWindowHeight;         // "CWHE"
  Point mVideoWindowPos;               // "VWTO", "VWLF"
  UInt8 mDefaultFolderValid;           // "DFLTFOPICK": the save folder below is valid
  SInt16 mDefaultFolderVRefNum;        // "VREFNUM"
  SInt32 mDefaultFolderDirID;          // "PARID"
  double mSkipSharpnessPercent;        // "SKVA": per cent of the mean sharpness
  UInt8 mHighQualityBayer;             // "HIBY"
  UInt8 mShowTimeCode;                 // "UTCO": recordings get a time-code track
  UInt8 mAddNoteOn;                    // "LONO": each capture-log entry asks for a note
  UInt32 mBrightnessAreaWidth;         // "BRITAREAWIDTH"
  UInt32 mBrightnessAreaHeight;        // "BRITAREAHEIGHT"
  SInt16 mZoomX;                       // "ZOOX", "ZOOY": zoom centre in frame pixels
  SInt16 mZoomY;
  UInt32 mColourizeTable[256];         // grey level -> tinted ARGB32 pixel
  UInt8 mHelpOption;                   // "HELP": help tags shown
  UInt8 mOpenFrameAfterSave;           // "OPFD"
  UInt8 mOpenMovieAfterSave;           // "OPMO"
  UInt32 mPixel16Shift;                // "PIXEL16SHIFT" 0..7
  UInt8 mPixel16EndianSwap;            // "PIXEL16ENDIANSWAP"
  UInt32 mTemperatureSettable;         // the camera takes a target temperature
  float mTargetTemperature;            // "MAINTAINTEMP", kelvin
  UInt8 mShowTemperature;              // "SHOWTEMP"
  SInt32 mSavedSlotCount;              // settings slots in use; menu 12 items 1 and 2 follow it
  UInt8 mGrabControlsEnabled;          // the grab controls are enabled

  // ---- the rest of the record as the opening fills it: frame rectangle,
  // preview text placement, capture log, option bytes and the camera-family
  // and temperature fields the handlers and the menu enabling read. Values
  // given at allocation are listed in myNewCameraWindowData.
  Rect mFrameRect;                     // 0, 0, height, width
  Point mTextOrigin;                   // h 10, v 40: overlay text origin (set again at start)
  SInt16 mTextSpacing[3];              // 6, 4, 0
  UInt8 mCaptureLogOn;                 // each saved capture gets a capture-log entry
  UInt8 mCaptureLogOpen;
  FILE* mCaptureLogFile;
  UInt8 mShowPeak;                     // peak-value overlay ('FHRP' item 2)
  UInt8 mSharpnessAvailable;           // a reference sharpness has been measured ('GSHR')
  double mRecordRateScale;             // 1.0
  float mGuideGain;                    // 1.0 (guiding state)
  UInt32 mGuideFrameStep;              // 1 (guiding state)
  UInt32 mSavedIrisInquiry;            // long-exposure kind: 0x524 and 0x824 as read at set-up,
  UInt32 mSavedIrisControl;            // 0xDEADBEEF when a read failed
  UInt32 mSavedTSLRegisters[3];        // 0xF20, 0xF0C, 0xF08
  UInt8 mSpotWhiteBalance;             // 'SWHB' mode
  UInt8 mTriggerAvailable;
  UInt8 mTriggerMode14Available;
  UInt8 mTrigger4PinAvailable;
  float mTSLFramePeriodMs;             // 33.333
  UInt8 mPickBrightnessArea;           // the next preview click sets the monitored area's centre
  float mBrightnessAreaX;
  float mBrightnessAreaY;
  UInt32 mBrightnessSampleStep;        // 1
  UInt8 mMaintainTemperature;
  float mLastTemperatureK;             // the latest reading, kelvin (mShownTemperatureK is the one shown)
  UInt32* mHistogramL;                 // fourth HistoGram256 buffer (1,088 bytes)

  // ---- histogram view, brightness graph and sensor temperature (main
  // thread; the brightness samples are appended on the delivery thread)
  ControlRef mHistogramView;           // the control window's histogram view
  UInt8 mHistogramShown;               // the histogram slot is visible
  ControlRef mBrightnessGraphView;     // the brightness monitor's graph view
  Rect mBrightnessGraphRect;           // its frame in the sheet, top-down
  WindowRef mPleezWaitWindow;          // the please-wait sheet; null = none
  UInt32 mBrightnessGraphMode;         // column reduction: 1 mean, 2 minimum, 3 maximum
  struct OpaqueEventLoopTimerRef* mTemperatureTimer;  // the 1 s temperature display timer
  void (*mTemperatureTimerUPP)(struct OpaqueEventLoopTimerRef*, void*);

  // ---- frame grabs, recordings and the capture log (main thread; the
  // recording geometry is read by the pipeline while mMovieBusy is up)
  FSSpec mMovieFileSpec;               // file of the current or last recording
  UInt32 mFileCounter;                 // next number of naming mode 3 (frames and movies)
  UInt32 mRecordWidth;                 // frame geometry the recorder was created for:
  UInt32 mRecordHeight;                //   only frames of this size and depth are recorded
  UInt32 mRecordBitsPerPixel;

  // ---- the display timer and the please-wait window (main thread)
  struct OpaqueEventLoopTimerRef* mDisplayTimer;       // the 20 ms display timer of a running camera
  void (*mDisplayTimerUPP)(struct OpaqueEventLoopTimerRef*, void*);
  struct OpaqueEventLoopTimerRef* mBrightnessGraphTimer;  // the 1 s graph refresh of the brightness monitor
  void (*mBrightnessGraphTimerUPP)(struct OpaqueEventLoopTimerRef*, void*);
  UInt8 mGrabFinishPending;            // a completed grab whose buffer the pipeline still held:
                                       // freed (and the grab controls restored) at a later tick

  // ---- what the last video start acquired and the stop still has to give
  // back, whether or not the start got as far as running (main thread; the
  // display timer and the buffers are held while their pointers are set)
  UInt8 mIsochChannelHeld;             // the receive channel is allocated
  UInt8 mVideoStreaming;               // the camera was told to transmit
  UInt8 mCallbackAssigned;             // myDisplayCallback was handed to the driver

  // ---- opening and closing (main thread): what the opening made and the
  // closing takes away again; each is null until made and after removal
  UInt8* mLUT16;                       // two LUT16Bit tables with slack (131,134 bytes each)
  UInt8* mLUT16b;
  struct OpaqueEventTargetRef* mVideoWindowTarget;
  OSStatus (*mPreviewHandlerUPP)(struct OpaqueEventHandlerCallRef*, struct OpaqueEventRef*, void*);
  struct OpaqueEventHandlerRef* mPreviewHandlerRef;
  void (*mScrollActionUPP)(ControlRef, SInt16);      // both preview scroll bars
  struct OpaqueEventTargetRef* mControlWindowTarget;
  OSStatus (*mControlHandlerUPP)(struct OpaqueEventHandlerCallRef*, struct OpaqueEventRef*, void*);
  struct OpaqueEventHandlerRef* mControlHandlerRef;
  void (*mLiveControlActionUPP)(ControlRef, SInt16);      // the camera sliders and 'EXPO'
  void (*mExposureArrowActionUPP)(ControlRef, SInt16);    // 'EXPO' id 2
  struct OpaqueHIObjectClassRef* myCameraHistogramToolboxObjectClassRef;  // null: no histogram view
  OSStatus (*mHistogramHandlerUPP)(struct OpaqueEventHandlerCallRef*, struct OpaqueEventRef*, void*);
  UInt8 mIrisValuesRead;               // the long-exposure kind's iris registers were rewritten at set-up
  UInt8 mPreferencesRead;              // the camera's preferences were read at set-up: closing may write them
};

// Allocated by malloc and cleared, copied and freed as a plain block.
// Allocates a cleared record and stores the opening's defaults; null when
// memory is short. Freed with free().
MyCameraWindowDataStruct* myNewCameraWindowData();

static_assert(std::is_trivially_copyable_v<MyCameraWindowDataStruct> &&
                  std::is_standard_layout_v<MyCameraWindowDataStruct>,
              "the camera record must stay a plain block");
