// The manual LRGB alignment window "LRGBAlign": the user lines up the two to
// four layers of an LRGB import by hand on a canvas half again as large as
// the largest layer, the reference layer opaque and the active layer over it
// (half transparent or opaque), moves the active layer with the mouse or the
// arrow keys, gives any layer a new width, height and rotation, and on OK
// gets the rectangle of the canvas that every layer covers. Application-modal;
// main thread only.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/hitoolbox/HIToolbox.h"

constexpr UInt32 kLRGBAlignRecordTag = 0xA9;

// One per import run, made (unzeroed) and freed by the import. The import
// sets mLayerImage, mLayerWidth, mLayerHeight, mLayerRowBytes, mLayerCount,
// mReferenceLayer, mActiveLayer and mOpaque (and mLayerFile); the window
// fills the rest.
struct MyLRGBAlignDataStruct {
  UInt32 mRecordTag;
  WindowRef mWindow;
  EventTargetRef mWindowTarget;
  EventHandlerRef mWindowHandler;
  EventHandlerUPP mWindowHandlerUPP;
  ControlActionUPP mScrollActionUPP;
  ControlRef mHorzScrollBar;
  ControlRef mVertScrollBar;
  SInt16 mScrollV, mScrollH;  // canvas pixels, vertical first
  Rect mCanvasRect;           // 0, 0, canvas height, canvas width
  SInt16 mScrollBarSize;
  UInt8 mHorzBarShown, mVertBarShown;
  Rect mWellRect;  // bounds of 'IMAG'
  Float32 mZoom;   // always 1.0
  UInt32 mLayerCount;
  UInt32 mReferenceLayer;
  UInt32 mActiveLayer;
  UInt32 mSizeLayer;
  UInt8 mOpaque;
  UInt8 mAccepted;
  UInt32 mCropLeft, mCropTop, mCropRight, mCropBottom;  // right and bottom exclusive
  UInt32 mCompositeWidth, mCompositeHeight;
  UInt32 mMaxLayerWidth, mMaxLayerHeight;
  UInt32 mCanvasCenterX, mCanvasCenterY;
  UInt32 mCanvasWidth, mCanvasHeight;
  UInt32 mCanvasRowBytes;
  UInt8* mCanvas;          // ARGB32
  UInt8* mEnlargedBuffer;  // ARGB32, made on first use
  UInt32 mViewCenterX, mViewCenterY;
  UInt32 mShowEnlarged;
  HIObjectClassRef mEnlargedClass;
  EventHandlerUPP mEnlargedUPP;
  HIObjectRef mEnlargedInstance;
  HIObjectRef mEnlargedView;
  FSRef mLayerFile[4];
  UInt32 mLayerWidth[4], mLayerHeight[4], mLayerRowBytes[4];
  UInt32 mScaledWidth[4], mScaledHeight[4];
  Float32 mRotation[4];  // degrees
  SInt32 mOffsetX[4], mOffsetY[4];  // top-left of the unscaled layer in the canvas, top-down
  UInt8* mLayerImage[4];            // ARGB32 display copies (alpha 128); null for absent layers
};

// Runs the window: 0 after OK (crop filled), -128 after Cancel (crop fields
// untouched), -108 when memory runs out (the canvas or the controller), or
// the status of the view-class registration, the nib or the handler
// installation; no window is left in any case. OK is refused with a beep
// while the layers have no area in common.
OSStatus myManualyAlignImages(MyLRGBAlignDataStruct* record);

// Redraws the canvas and the visible part of it in the well, then the 3x view.
void myUpdateTheLRGBPixelArea(MyLRGBAlignDataStruct* record);
// Draws the 3x view around canvas point (x, y) and remembers the point.
void myLRGBAlignBlitEnlargedViewIntoImageWell3X(MyLRGBAlignDataStruct* record, UInt32 x, UInt32 y);
// The window's EnlargedView controller (the shared one, on this record).
OSStatus myLRGBAlignEnlargedViewCustomeControlller(EventHandlerCallRef call, EventRef event, void* userData);
OSStatus myManuallyAlignEventHandler(EventHandlerCallRef call, EventRef event, void* userData);
// Applies the edit field (signature, id) to the size layer; always 0.
OSStatus myAlignImagesProcessEdTextFields(MyLRGBAlignDataStruct* record, OSType signature, SInt32 id);
ControlKeyFilterResult myAlignImageKeyProc(ControlRef control, SInt16* keyCode, SInt16* charCode,
                                           EventModifiers* modifiers);
void myManualyAlignImagesWindowScrollImageUPPProc(ControlRef control, ControlPartCode part);

// Helpers of the window, open to the import and tests.
// Stretches a display copy for viewing (red, green and blue bytes; alpha
// kept) between the 0.5 % and 99.5 % points of its histogram.
void myLRGBAlignStretchDisplayCopy(UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes);
// The same with the levels given: range = hi - lo, at least 64, by 255 /
// range in 16.16; a range of 0 or less leaves the bytes as they are.
void myLRGBAlignStretchBytes(UInt8* image, UInt32 width, UInt32 height, UInt32 rowBytes, SInt32 lo, SInt32 hi);
// Layer k's box on the canvas after its shift, scale and turn (left, top,
// right, bottom; right and bottom exclusive), held inside the canvas.
void myLRGBAlignLayerBox(const MyLRGBAlignDataStruct* record, UInt32 layer, SInt32 box[4]);
// The rectangle every present layer covers; false when they share no area.
bool myLRGBAlignCommonArea(const MyLRGBAlignDataStruct* record, SInt32 box[4]);
