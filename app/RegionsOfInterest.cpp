// The soft and hard regions of interest and their shared sheet.
#include "app/RegionsOfInterest.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/ExposureControls.h"
#include "camera_driver/ORXDCAM.h"
#include "utilities/Controls.h"

namespace {

constexpr OSType kLeft = FOUR_CHAR_CODE("LEFT");
constexpr OSType kTop = FOUR_CHAR_CODE("TOP_");
constexpr OSType kWidth = FOUR_CHAR_CODE("WIDT");
constexpr OSType kHeight = FOUR_CHAR_CODE("HEIG");
constexpr OSType kCentre = FOUR_CHAR_CODE("CENT");

MyCameraWindowDataStruct* FrontCameraRecord() {
  WindowRef front = FrontNonFloatingWindow();
  if (front == nullptr) return nullptr;
  auto* r = reinterpret_cast<MyCameraWindowDataStruct*>(GetWRefCon(front));
  if (r == nullptr || r->mKind != kMyCameraWindowDataKind) return nullptr;
  return r;
}

ControlRef Find(WindowRef window, OSType signature) {
  ControlID cid = {signature, 0};
  ControlRef c = nullptr;
  return GetControlByID(window, &cid, &c) == noErr ? c : nullptr;
}

void Label(WindowRef window, OSType signature, UInt32 pixels) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", int(pixels));
  myChangeControlTxt(window, signature, 1, text);
}

// The offset slider's range for a size: (frame - size) / step.
UInt32 OffsetMaximum(UInt32 frame, UInt32 size, UInt32 step) { return size < frame ? (frame - size) / step : 0; }

// A size slider: a size past the range (or none) becomes the frame.
void SetUpSize(MyROIDialogState* s, OSType sizeSignature, UInt32 frame, UInt32 sizeStep, UInt32* size,
               ControlActionUPP action) {
  const UInt32 maximum = frame / sizeStep;
  UInt32 value = *size / sizeStep;
  if (value > maximum || *size > frame || *size == 0) {
    *size = frame;
    value = maximum;
  }
  if (ControlRef c = Find(s->mWindow, sizeSignature))
    mySetUpControlSlider(c, 1, SInt32(maximum), SInt32(value), SRefCon(s), action);
  Label(s->mWindow, sizeSignature, *size);
}

// An offset slider, after its size: the offset is lowered so the region
// stays inside the frame.
void SetUpOffset(MyROIDialogState* s, OSType signature, UInt32 frame, UInt32 size, UInt32 step, UInt32* offset,
                 ControlActionUPP action) {
  if (*offset > frame - size) *offset = frame - size;
  if (ControlRef c = Find(s->mWindow, signature))
    mySetUpControlSlider(c, 0, SInt32(OffsetMaximum(frame, size, step)), SInt32(*offset / step), SRefCon(s), action);
  Label(s->mWindow, signature, *offset);
}

// A step below 2 pixels (a camera that reports 1, or nothing) is used as 2.
UInt32 Step(UInt32 step) { return step < 2 ? 2 : step; }

// Runs the sheet on the front window for the state already filled in; the
// state's result says how it ended (-128 also when it could not be shown).
void RunSheet(MyROIDialogState* s) {
  s->mResult = userCanceledErr;
  WindowRef parent = FrontNonFloatingWindow();
  IBNibRef nib = nullptr;
  if (CreateNibReference(CFSTR("ORX_DCAM"), &nib) != noErr) return;
  OSStatus err = CreateWindowFromNib(nib, CFSTR("SetROI"), &s->mWindow);
  DisposeNibReference(nib);
  if (err != noErr) return;

  ControlActionUPP action = NewControlActionUPP(myLiveROISliderProc);
  SetUpSize(s, kWidth, s->mFrameWidth, s->mWidthStep, &s->mWidth, action);
  SetUpSize(s, kHeight, s->mFrameHeight, s->mHeightStep, &s->mHeight, action);
  SetUpOffset(s, kLeft, s->mFrameWidth, s->mWidth, s->mLeftStep, &s->mLeft, action);
  SetUpOffset(s, kTop, s->mFrameHeight, s->mHeight, s->mTopStep, &s->mTop, action);

  const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(myDoUserROISettingsEventHandler);
  EventHandlerRef handler = nullptr;
  err = InstallWindowEventHandler(s->mWindow, upp, 1, &commandEvent, s, &handler);
  if (err == noErr) {
    err = parent ? ShowSheetWindow(s->mWindow, parent) : (ShowWindow(s->mWindow), noErr);
    if (err == noErr) {
      RunAppModalLoopForWindow(s->mWindow);
      if (parent)
        HideSheetWindow(s->mWindow);
      else
        HideWindow(s->mWindow);
    } else {
      s->mResult = userCanceledErr;
    }
    SetThemeCursor(kThemeArrowCursor);
    RemoveEventHandler(handler);
  }
  DisposeEventHandlerUPP(upp);
  for (OSType signature : {kLeft, kTop, kWidth, kHeight})
    if (ControlRef c = Find(s->mWindow, signature)) SetControlAction(c, nullptr);
  DisposeControlActionUPP(action);
  DisposeWindow(s->mWindow);
  s->mWindow = nullptr;
}

template <typename T>
void Store(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

}  // namespace

bool mySoftROIFitsFrame(UInt32 left, UInt32 top, UInt32 width, UInt32 height, UInt32 frameWidth,
                        UInt32 frameHeight) {
  if (width == 0 || height == 0) return false;
  const UInt64 right = UInt64(left) + width, bottom = UInt64(top) + height;
  if (right > frameWidth || bottom > frameHeight) return false;
  return right < frameWidth || bottom < frameHeight;
}

void myUpdateSoftROIFlags(MyCameraWindowDataStruct* r) {
  if (r == nullptr) return;
  const bool active = r->mSoftROIEnabled != 0 && mySoftROIFitsFrame(r->mSoftROILeft, r->mSoftROITop, r->mSoftROIWidth,
                                                                     r->mSoftROIHeight, r->mWidth, r->mHeight);
  Store(r->mSoftROIActive, UInt8(active ? 1 : 0));
}

void myGetUserSoftROISettings() {
  MyCameraWindowDataStruct* r = FrontCameraRecord();
  if (r == nullptr) return;
  auto* s = static_cast<MyROIDialogState*>(std::calloc(1, sizeof(MyROIDialogState)));
  if (s == nullptr) return;
  s->mFrameWidth = r->mWidth;
  s->mFrameHeight = r->mHeight;
  s->mLeft = r->mSoftROILeft;
  s->mTop = r->mSoftROITop;
  s->mWidth = r->mSoftROIWidth == 0 ? s->mFrameWidth : r->mSoftROIWidth;
  s->mHeight = r->mSoftROIHeight == 0 ? s->mFrameHeight : r->mSoftROIHeight;
  if (UInt64(s->mLeft) + s->mWidth >= s->mFrameWidth) {
    s->mWidth = s->mFrameWidth;
    s->mLeft = 0;
  }
  if (UInt64(s->mTop) + s->mHeight >= s->mFrameHeight) {
    s->mHeight = s->mFrameHeight;
    s->mTop = 0;
  }
  s->mLeftStep = s->mTopStep = s->mWidthStep = s->mHeightStep = 2;

  RunSheet(s);

  if (s->mResult == noErr) {
    // The pipeline reads the region only while both flags are up: drop
    // them before the box changes.
    Store(r->mSoftROIActive, UInt8(0));
    r->mSoftROILeft = s->mLeft;
    r->mSoftROITop = s->mTop;
    r->mSoftROIWidth = s->mWidth;
    r->mSoftROIHeight = s->mHeight;
  }
  // On OK and on Cancel: the region counts only when it is smaller than the
  // frame and lies inside it.
  const bool fits =
      mySoftROIFitsFrame(r->mSoftROILeft, r->mSoftROITop, r->mSoftROIWidth, r->mSoftROIHeight, r->mWidth, r->mHeight);
  r->mSoftROIEnabled = fits ? 1 : 0;
  Store(r->mSoftROIActive, UInt8(fits ? 1 : 0));
  std::free(s);
}

void myGetUserHardROISettings() {
  MyCameraWindowDataStruct* r = FrontCameraRecord();
  if (r == nullptr || r->mFormat != 7) {
    SysBeep(1);
    return;
  }
  auto* s = static_cast<MyROIDialogState*>(std::calloc(1, sizeof(MyROIDialogState)));
  if (s == nullptr) return;
  UInt32 format = 0, mode = 0, pixelFormat = 0, bits = 0;
  double fps = 0.0;
  ORXDCAMGetFMRLTWHCB(r->mCameraHandle, &format, &mode, &fps, &s->mLeft, &s->mTop, &s->mWidth, &s->mHeight,
                      &pixelFormat, &bits);
  if (r->mF7MaxWidth == 0 || r->mF7MaxHeight == 0)
    ORXDCAMGetFMRProperties(r->mCameraHandle, 7, r->mMode, 3.75, &r->mF7MaxWidth, &r->mF7MaxHeight,
                            &r->mF7UnitWidth, &r->mF7UnitHeight, &r->mF7UnitLeft, &r->mF7UnitTop, &r->mF7UnitPacket,
                            &r->mF7MaxPacket, &r->mF7ColorCodingInq);
  s->mFrameWidth = r->mF7MaxWidth;
  s->mFrameHeight = r->mF7MaxHeight;
  s->mLeftStep = Step(r->mF7UnitLeft);
  s->mTopStep = Step(r->mF7UnitTop);
  s->mWidthStep = Step(r->mF7UnitWidth);
  s->mHeightStep = Step(r->mF7UnitHeight);

  RunSheet(s);

  if (s->mResult == noErr) {
    r->mLeft = s->mLeft;
    r->mTop = s->mTop;
    r->mWidth = s->mWidth;
    r->mHeight = s->mHeight;
    // Dark and flat frames of the old size no longer fit.
    Store(r->mUseDarkFrame, UInt8(0));
    Store(r->mDarkFrameAvailable, UInt8(0));
    Store(r->mUseFlatFrame, UInt8(0));
    Store(r->mFlatFrameAvailable, UInt8(0));
    if (r->mControlWindow) {
      mySetControlValue(r->mControlWindow, FOUR_CHAR_CODE("UDKF"), 0, 0);
      mySetControlValue(r->mControlWindow, FOUR_CHAR_CODE("UBRF"), 0, 0);
    }
    r->mF7ROIOn = s->mWidth == r->mF7MaxWidth && s->mHeight == r->mF7MaxHeight ? 0 : 1;
    if (r->mControlWindow) {
      myUncheckSelectedControlPopMenu(r->mControlWindow, FOUR_CHAR_CODE("FRAM"));
      myUncheckSelectedControlPopMenu(r->mControlWindow, FOUR_CHAR_CODE("CCDB"));
    }
    mySetIIDCCameraFmtModeFR(r->mFrameRate, r);
    mySetUpFrameRate_ExposMenu(r, 1);
    myUpdateSoftROIFlags(r);
  }
  std::free(s);
}

void myLiveROISliderProc(ControlRef control, ControlPartCode) {
  auto* s = reinterpret_cast<MyROIDialogState*>(GetControlReference(control));
  ControlID cid{};
  if (s == nullptr || GetControlID(control, &cid) != noErr) return;
  SetThemeCursor(kThemeArrowCursor);
  const UInt32 value = UInt32(GetControl32BitValue(control));
  // The size slider, its offset slider and their fields.
  auto size = [&](UInt32 frame, UInt32 sizeStep, UInt32 offsetStep, UInt32* sizeField, UInt32* offsetField,
                  OSType sizeSignature, OSType offsetSignature) {
    *sizeField = value * sizeStep;
    if (*sizeField > frame) *sizeField = frame;
    Label(s->mWindow, sizeSignature, *sizeField);
    const UInt32 maximum = OffsetMaximum(frame, *sizeField, offsetStep);
    ControlRef offset = Find(s->mWindow, offsetSignature);
    if (offset) SetControl32BitMaximum(offset, SInt32(maximum));
    if (frame - *sizeField <= *offsetField) {
      *offsetField = offsetStep * maximum;
      if (offset) SetControl32BitValue(offset, SInt32(maximum));
      Label(s->mWindow, offsetSignature, *offsetField);
    }
  };
  switch (cid.signature) {
    case kLeft:
      s->mLeft = value * s->mLeftStep;
      Label(s->mWindow, kLeft, s->mLeft);
      break;
    case kTop:
      s->mTop = value * s->mTopStep;
      Label(s->mWindow, kTop, s->mTop);
      break;
    case kWidth:
      size(s->mFrameWidth, s->mWidthStep, s->mLeftStep, &s->mWidth, &s->mLeft, kWidth, kLeft);
      break;
    case kHeight:
      size(s->mFrameHeight, s->mHeightStep, s->mTopStep, &s->mHeight, &s->mTop, kHeight, kTop);
      break;
    default:
      break;
  }
}

OSStatus myDoUserROISettingsEventHandler(EventHandlerCallRef, EventRef event, void* state) {
  auto* s = static_cast<MyROIDialogState*>(state);
  if (s == nullptr || GetEventClass(event) != kEventClassCommand) return eventNotHandledErr;
  HICommand command{};
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
      noErr)
    return eventNotHandledErr;
  switch (command.commandID) {
    case kHICommandCancel:
      s->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(s->mWindow);
      return noErr;
    case kHICommandOK:
      s->mResult = noErr;
      QuitAppModalLoopForWindow(s->mWindow);
      return noErr;
    case kCentre: {
      const UInt32 leftSteps = OffsetMaximum(s->mFrameWidth, s->mWidth, 1) / 2 / s->mLeftStep;
      const UInt32 topSteps = OffsetMaximum(s->mFrameHeight, s->mHeight, 1) / 2 / s->mTopStep;
      s->mLeft = s->mLeftStep * leftSteps;
      s->mTop = s->mTopStep * topSteps;
      mySetControlValue(s->mWindow, kLeft, 0, SInt32(leftSteps));
      mySetControlValue(s->mWindow, kTop, 0, SInt32(topSteps));
      Label(s->mWindow, kLeft, s->mLeft);
      Label(s->mWindow, kTop, s->mTop);
      return noErr;
    }
    default:
      return eventNotHandledErr;
  }
}
