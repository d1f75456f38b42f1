// The photometry star-selection window "BatchPhotometry": the user marks up
// to 8 variable stars (V0..V7) and 8 comparison stars (C0..C7) on a movie's
// first frame, sets the aperture multiplier and the tables to write, and on
// OK the stars go into the run's record. Application-modal, main thread only:
// every handler here runs from the window's modal loop, one event at a time.
#pragma once
#include "photometry/BatchPhotomData.h"
#include "platform/hitoolbox/HIToolbox.h"

constexpr UInt32 kBatchPhotomSelectionTag = 0xAF;
constexpr UInt32 kBatchPhotomStarsPerKind = 8;

// The window's record: the reference constant of the window, its handlers,
// the little arrows and the magnifier's construction data.
struct TBPS {
  UInt32 mKind;  // 0xAF
  WindowRef mWindow;
  EventTargetRef mWindowTarget;
  EventHandlerRef mWindowHandler;
  EventHandlerUPP mWindowHandlerUPP;
  UInt32 mWidth;
  UInt32 mHeight;
  UInt8* mDisplayImage;     // ARGB32 grey copy (A 0xFF, R = G = B = sample >> 8), owned
  UInt16* mMono16FramePtr;  // the caller's frame, borrowed
  UInt8* mEnlargedBuffer;   // ARGB32 pixels of the 3x view, made on first use
  UInt32 mViewCenterX;      // image point under the mouse
  UInt32 mViewCenterY;
  UInt32 mShowEnlarged;  // the 3x view draws only while it is 1
  HIObjectClassRef mEnlargedClass;
  EventHandlerUPP mEnlargedUPP;
  HIObjectRef mEnlargedInstance;
  HIObjectRef mEnlargedView;
  HIViewRef mScrollView;
  HIViewRef mContentView;
  HIViewRef theImageView;
  UInt8 mMode;  // 0 none, 1 placing variables, 2 placing comparisons, 3 deleting
  UInt8 mSaveLocations;
  UInt8 mAccepted;
  UInt32 mStarsPerKind;  // 8
  UInt32 mVarCount;
  UInt32 mCompCount;
  Float32 mStarX[kBatchPhotomStarSlots];  // -1.0: empty slot
  Float32 mStarY[kBatchPhotomStarSlots];
  Float32 mStarFWHM[kBatchPhotomStarSlots];
  Float32 mFWHMMultiplier;
  UInt8 mStarIsVariable[kBatchPhotomStarSlots];
  UInt32 mOutputMode;
  EventHandlerUPP mViewHandlerUPP;
  EventTargetRef mViewTarget;
  EventHandlerRef mViewHandler;
  ControlActionUPP mArrowsUPP;
};

// Runs the window on the record's frame: 0 after OK (stars, kinds, multiplier
// and output mode handed over, variables first), -128 after Cancel (no stars),
// -108 without memory, else the status of the window-system step that failed;
// nothing made is left behind in any case.
OSStatus myPhotomBatchImageSelectionGUI(MyBatchPhotomDataStruct* data);
// The marked picture: the grey frame with three circles and a label per star.
// 0 and a new image (the caller releases it), or -108 with the image null.
OSStatus myPhotomImageTranferImage(TBPS* record, CGImageRef* outImage);
// Rebuilds the marked picture into the image view.
void myUpdatePhotomImageHIView(TBPS* record);
// Live action of the 'FWHM' little arrows (up 20, down 21).
void myAdjustFWHMValue(ControlRef control, ControlPartCode part);
// Clicks in the image view; always eventNotHandledErr.
OSStatus myPhotomImageViewEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
// Mouse moves, commands and the close box of the window.
OSStatus myPhotomImageWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
// Draws the 3x view of the unmarked frame around (x, y) and remembers the point.
void myBatchPhotomBlitEnlargedViewIntoImageWell3X(TBPS* record, UInt32 x, UInt32 y);
// The window's EnlargedView controller (the shared one, on this record).
OSStatus myBatchPhotomEnlargedViewCustomeControlller(EventHandlerCallRef call, EventRef event, void* userData);
// Writes a complete line to the tables the output mode names (0 simple, 1
// detailed, anything else both); a table that is not open is skipped.
void myOutputStringToPhotomFiles(MyBatchPhotomDataStruct* data, const char* text);

// Test support: the nth allocation of the window's record, display copy or
// picture pixels from now on fails (0 withdraws it).
void SkyloomPhotomSelectionFailAllocation(int nth);
