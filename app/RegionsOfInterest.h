// Regions of interest: the soft region, which the pipeline cuts out of every
// full frame, and the hard region, which a Format 7 camera reads out itself.
// Both are chosen in the "SetROI" sheet: four sliders in units of the
// camera's alignment steps ('LEFT', 'TOP_', 'WIDT', 'HEIG', their labels id 1
// in pixels), a centring button 'CENT', OK and Cancel.
//
// Main thread only.
#pragma once
#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// The sheet's state, one heap block while the sheet is up; the sliders carry
// it as their reference and the sheet's handler as its user data.
struct MyROIDialogState {
  UInt32 mLeftStep;     // pixels per slider step of 'LEFT'
  UInt32 mTopStep;      // 'TOP_'
  UInt32 mWidthStep;    // 'WIDT'
  UInt32 mHeightStep;   // 'HEIG'
  UInt32 mFrameWidth;   // the largest width
  UInt32 mFrameHeight;
  UInt32 mLeft;         // the region, pixels
  UInt32 mTop;
  UInt32 mWidth;
  UInt32 mHeight;
  WindowRef mWindow;    // the sheet
  OSStatus mResult;     // 0 OK, -128 cancelled
};

// The soft region of the front window's camera: the sheet over the current
// frame size, steps of 2 pixels. OK stores the region; OK and Cancel both
// recompute the region's flags (myUpdateSoftROIFlags). Nothing happens when
// the front window carries no camera record.
void myGetUserSoftROISettings();

// The hard region of the front window's camera, Format 7 only (otherwise one
// beep): the sheet over the mode's largest size, in the camera's unit steps
// (a step of 1 is taken as 2). OK sets the record's box, switches dark and
// flat frames off, sets mF7ROIOn unless the box is the full size, and
// reprograms the camera and its rate and exposure menus.
void myGetUserHardROISettings();

// Live action of the four sliders: the moved value in pixels, its label,
// and for 'WIDT' / 'HEIG' the range (and if need be the value) of 'LEFT' /
// 'TOP_'.
void myLiveROISliderProc(ControlRef control, ControlPartCode part);

// Command handler of the sheet: 'ok  ' and 'not!' end it with 0 / -128,
// 'CENT' centres the region on the step grid; other commands -9874.
OSStatus myDoUserROISettingsEventHandler(EventHandlerCallRef call, EventRef event, void* state);

// The soft region's flags as the rest of the application reads them:
// mSoftROIActive is 1 only when mSoftROIEnabled is set and the stored region
// is non-empty, lies inside the current frame (mWidth x mHeight) and is
// smaller than it. Called whenever the frame size changes.
void myUpdateSoftROIFlags(MyCameraWindowDataStruct* record);

// True when the region (left, top, width, height) is non-empty, lies inside
// a frame of frameWidth x frameHeight and is smaller than it.
bool mySoftROIFitsFrame(UInt32 left, UInt32 top, UInt32 width, UInt32 height, UInt32 frameWidth,
                        UInt32 frameHeight);
