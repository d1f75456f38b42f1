// The "StackAlign" settings window: it works on a copy of the job's settings
// (StackAlignDialogState); nothing reaches the job or the preferences unless
// the user presses OK. myAlignAndStackMovies makes the window, runs it
// application-modal and copies the result back.
#pragma once
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "stacking/StackAlignJob.h"

struct StackAlignDialogState {
  UInt8 DFLTFOPICK;  // output folder known
  UInt8 QUALITY;
  UInt8 METHOD;
  UInt8 SUMIMG;
  UInt8 BCGSUBTRACT;
  UInt8 PROMPTCI;
  UInt8 POST;
  UInt8 REMOVENOISE;
  UInt8 AUTOCLIP;
  UInt8 GAUSBLUR;
  UInt8 MANUALFRAMES;
  UInt8 AUTOADJBRIGHTNESS;
  UInt8 CTAVIMAGE;
  UInt8 CTAVONLYSAVE;
  UInt8 BIN2x2MOV;
  UInt8 SAVSHARPREFMOV;
  UInt8 AUTOEXPALIGN;
  UInt8 SHARPMATCH;
  UInt32 SPATIALSHARPNESS;  // the pop-up item: the job's value + 1
  UInt32 CTAVLIMITPERCENT;
  UInt32 REMOVEHOTPIXEL;
  UInt32 PIXELALIGN;
  UInt32 PERCENTFRAME;
  UInt32 SCALE;
  UInt32 PIXELBLOCKSIZE;
  UInt32 COLORCHANNEL;
  UInt32 PIXELTOLERANCE;
  SInt32 mResult;  // 0 while open and after OK; -128 after Cancel
  UInt32 WHICHQUADRANT;
  double SHARPEN;
  UInt32 GRADLEVEL;
  FSSpec mOutputFolderSpec;
  WindowRef mWindow;
};

// The job's settings into the window's copy, and back after OK. Back, the
// background subtraction holds only with summing, and the composite only
// with manual selection and no summing; PROMPTAREA is not the window's.
void myCopyJobToStackAlignState(const StackAlignJob* job, StackAlignDialogState* state);
void myCopyStackAlignStateToJob(const StackAlignDialogState* state, StackAlignJob* job);

// The window's handler of {'cmds', 1}; userData is the state.
OSStatus myGetMovieProcessingGUIEventHandlerProc(EventHandlerCallRef call, EventRef event, void* userData);
// Sets every control from the state.
void myUpdateStackAlignWindowControls(StackAlignDialogState* state);
// The cut-off slider's live action: the state is the control's reference.
void myMovieCIPercentage(ControlRef control, ControlPartCode part);

// A chosen folder as the location of the folder itself: its own directory
// id with an empty name, the form the preferences keep and the run opens.
// False (location unchanged) when the folder cannot be found.
bool myFolderItselfFSSpec(FSSpec* location);
