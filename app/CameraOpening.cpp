// Opening and closing a camera: the record, its windows, handlers and view,
// the family identification and the probes of trigger, temperature and
// automatic shutter.
#include "app/CameraOpening.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CameraIdentification.h"
#include "app/CameraMenus.h"
#include "app/CameraPrefs.h"
#include "app/ExposureControls.h"
#include "app/HistogramViews.h"
#include "app/LongExposure.h"
#include "app/PreviewDrawing.h"
#include "app/TriggerModes.h"
#include "camera_driver/ORXDCAM.h"
#include "guiding/ScopeControl.h"
#include "platform/atsui/ATSUnicode.h"
#include "platform/corefoundation/CFString.h"
#include "platform/coreservices/CoreServices.h"
#include "utilities/LowLevel.h"
#include "utilities/Alerts.h"

namespace {

constexpr UInt32 kShutter = 0x51C, kTemperature = 0x52C, kTrigger = 0x530;
constexpr SInt32 kSelAuto = 1, kSelOnOff = 2, kSelTemperatureNow = 7, kSelTriggerMode = 9, kSelAbsolute = 11,
                 kSelTriggerSource = 12;
constexpr Size kLUT16Bytes = 131134;    // a LUT16Bit with slack
constexpr Size kHistogramBytes = 1088;  // HistoGram256 plus 64 bytes
constexpr SInt16 kControlWindowWidth = 414;

const char* const kHistogramClassID = "com.skyloom.camera.histogram";

void setTitle(WindowRef window, const char* title) {
  CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, title, kCFStringEncodingUTF8);
  if (s == nullptr) return;
  SetWindowTitleWithCFString(window, s);
  CFRelease(s);
}

ControlRef findControl(WindowRef window, OSType signature, SInt32 id) {
  if (window == nullptr) return nullptr;
  const ControlID cid = {signature, id};
  ControlRef c = nullptr;
  return GetControlByID(window, &cid, &c) == noErr ? c : nullptr;
}


// Whether the alternate (four-pin) trigger input is offered and, on Point
// Grey cameras, whether mode 1 takes. The trigger is left off.
void probeTrigger(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  if (r->mProperties.mFeaturePresent[kDCAMTrigger]) {
    ORXDCAMSetPropertyValue(cam, kTrigger, kSelOnOff, 0);
    if (!r->mIsPointGrey) {
      if (ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerSource, 3) == noErr &&
          ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerSource, 2) == noErr)
        r->mTrigger4PinAvailable = 1;
      ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerSource, 0);
    } else {
      UInt32 pins = 0, mode = 0;
      if (ORXDCAMGetQuadlet(cam, 0, 0x1100, 0, &pins) == noErr && (pins & 0x80000000u))
        r->mTrigger4PinAvailable = ((pins >> 16) & 0xF) > 3;
      if (ORXDCAMGetPropertyValue(cam, kTrigger, kSelTriggerMode, &mode) == noErr) {
        r->mTriggerMode1Available = ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerMode, 1) == noErr;
        ORXDCAMSetPropertyValue(cam, kTrigger, kSelTriggerMode, mode);
      }
    }
  }
  if (!r->mTrigger4PinAvailable) r->mTrigger4Pin = 0;
}

// 2: read as an absolute value (absolute control left on), 1: through the
// register, 0: no temperature.
void probeTemperature(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  r->mTemperatureMode = 0;
  r->mTemperatureSettable = 0;
  if (r->mProperties.mAbsoluteCapable[kDCAMTemperature]) {
    float lo = 0, hi = 0, kelvin = 0;
    UInt8 readOut = 0, manual = 0;
    OSStatus err = ORXDCAMGetABSPropertyCapability(cam, kTemperature, &lo, &hi, &readOut, &manual);
    if (err != noErr) {
      fprintf(stderr, "ORXDCAMGetABSPropertyCapability failed %d 0x%X \n", int(err), unsigned(err));
      return;
    }
    err = ORXDCAMSetABSPropertyValue(cam, kTemperature, kSelAbsolute, 1.0);
    if (err != noErr) {
      fprintf(stderr, "ORXDCAMSetABSPropertyValue  ORX_TEMPERATURE_REG,ON_OFF_ABS_CNTL to turn ON failed %d 0x%X \n \r \n \r",
              int(err), unsigned(err));
      return;
    }
    if (ORXDCAMGetABSPropertyValue(cam, kTemperature, 0, &kelvin) == noErr) {
      r->mTemperatureMode = 2;
      r->mTemperatureSettable = manual;
      return;
    }
    err = ORXDCAMSetABSPropertyValue(cam, kTemperature, kSelAbsolute, 0.0);
    if (err != noErr)
      fprintf(stderr, "ORXDCAMSetABSPropertyValue  ORX_TEMPERATURE_REG,ON_OFF_ABS_CNTL to turn OFF failed %d 0x%X\n",
              int(err), unsigned(err));
  } else if (r->mProperties.mFeaturePresent[kDCAMTemperature]) {
    UInt32 lo = 0, hi = 0, now = 0;
    UInt8 onePush = 0, readOut = 0, onOff = 0, autoMode = 0, manual = 0;
    OSStatus err =
        ORXDCAMGetPropertyCapability(cam, kTemperature, &lo, &hi, &onePush, &readOut, &onOff, &autoMode, &manual);
    if (err != noErr) {
      fprintf(stderr, "ORXDCAMGetPropertyCapability failed %d 0x%X \n", int(err), unsigned(err));
      return;
    }
    err = ORXDCAMGetPropertyValue(cam, kTemperature, kSelTemperatureNow, &now);
    if (err != noErr) {
      fprintf(stderr, "ORXDCAMGetPropertyValue failed %d 0x%X \n \r \n \r", int(err), unsigned(err));
      return;
    }
    r->mTemperatureMode = 1;
    r->mTemperatureSettable = manual;
  }
}

void probeAutoShutter(MyCameraWindowDataStruct* r) {
  if (r->mAbsoluteShutter) {
    r->mAutoShutterAvailable = 1;
  } else if (ORXDCAMSetPropertyValue(r->mCameraHandle, kShutter, kSelAuto, 1) == noErr) {
    r->mAutoShutterAvailable = 1;
    ORXDCAMSetPropertyValue(r->mCameraHandle, kShutter, kSelAuto, 0);
  }
}

// Steps 10 to 13: title, long-exposure kind, family and probes. 0, or the
// status that fails the opening.
OSStatus identifyCamera(MyCameraWindowDataStruct* r, OSStatus propertiesErr) {
  const char* name = r->mProperties.mName;
  if (strcmp(name, "Unknown Camera") == 0) {
    r->mIsUBTModel = 0;
  } else if (strcmp(name, "QRV-00000001") == 0 || strcmp(name, "QRV-00000000") == 0) {
    setTitle(r->mControlWindow, "Frostlens Controls");
    r->mIsUBTModel = 1;
    r->mFrostlensModel = 1;
  } else {
    char title[128];
    snprintf(title, sizeof title, "%s Controls", name);
    setTitle(r->mControlWindow, title);
    r->mIsUBTModel = myIsCameraUBT(name) == noErr;
  }
  r->mIsLongExposureCamera = r->mIsUBTModel ? 1 : myCheckForTSLV1501Type(name) == noErr;
  if (r->mIsLongExposureCamera) {
    r->mExposureItemLimit = 7;
    r->mAutoShutterAvailable = 1;
    return propertiesErr;
  }
  if (myCheckIIDCAppropriateModes(r->mCameraHandle, r->mProperties) != noErr) {
    fprintf(stderr, "''%s' Camera does not support neccessary Mono or Color modes\n", name);
    return paramErr;
  }
  r->mAbsoluteShutter = r->mProperties.mAbsoluteCapable[kDCAMShutter];
  r->m50HzCapable = r->mProperties.mFeaturePresent[kDCAMFrameRate];
  myIdentifyCameraVendor(r);
  probeTrigger(r);
  probeTemperature(r);
  probeAutoShutter(r);
  return noErr;
}

// Step 6: the histogram view class with the record as its user data. A class
// already registered leaves the reference null, so no view is made.
OSStatus registerHistogramClass(MyCameraWindowDataStruct* r) {
  static const EventTypeSpec kEvents[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                          {kEventClassHIObject, kEventHIObjectInitialize},
                                          {kEventClassHIObject, kEventHIObjectDestruct},
                                          {kEventClassControl, kEventControlInitialize},
                                          {kEventClassControl, kEventControlDraw},
                                          {kEventClassControl, kEventControlActivate},
                                          {kEventClassControl, kEventControlDeactivate}};
  r->mHistogramHandlerUPP = NewEventHandlerUPP(myCameraHistogramCustomControlHandler);
  if (r->mHistogramHandlerUPP == nullptr) return memFullErr;
  CFStringRef id = CFStringCreateWithCString(kCFAllocatorDefault, kHistogramClassID, kCFStringEncodingUTF8);
  if (id == nullptr) return memFullErr;
  OSStatus err = HIObjectRegisterSubclass(id, kHIViewClassID, 0, r->mHistogramHandlerUPP,
                                          UInt32(sizeof kEvents / sizeof kEvents[0]), kEvents, r,
                                          &r->myCameraHistogramToolboxObjectClassRef);
  CFRelease(id);
  if (err == hiObjectClassExistsErr) {
    r->myCameraHistogramToolboxObjectClassRef = nullptr;
    return noErr;
  }
  if (err != noErr) {
    r->myCameraHistogramToolboxObjectClassRef = nullptr;
    fprintf(stderr, "-------------- myCameraHistogramCustomControlHandler Installed %d err\n", int(err));
  }
  return err;
}

// Step 17: one view of the class in the frame of 'HIST' 0.
OSStatus makeHistogramView(MyCameraWindowDataStruct* r) {
  if (r->myCameraHistogramToolboxObjectClassRef == nullptr) return noErr;
  CFStringRef id = CFStringCreateWithCString(kCFAllocatorDefault, kHistogramClassID, kCFStringEncodingUTF8);
  if (id == nullptr) return memFullErr;
  HIObjectRef view = nullptr;
  HIViewRef placeholder = nullptr;
  HIViewRef content = nullptr;
  HIRect frame{};
  const HIViewID hist = {FOUR_CHAR_CODE("HIST"), 0};
  OSStatus err = HIObjectCreate(id, nullptr, &view);
  CFRelease(id);
  if (err == noErr) err = HIViewFindByID(HIViewGetRoot(r->mControlWindow), kHIViewWindowContentID, &content);
  if (err == noErr) err = HIViewAddSubview(content, view);
  if (err == noErr) err = HIViewFindByID(HIViewGetRoot(r->mControlWindow), hist, &placeholder);
  if (err == noErr) err = HIViewGetFrame(placeholder, &frame);
  if (err == noErr) err = HIViewSetFrame(view, &frame);
  if (err == noErr) err = HIViewSetVisible(view, true);
  if (err != noErr) fprintf(stderr, "HIObjectCreate(CFSTR (com.skyloom.camera.histogram) %d\n", int(err));
  return err;
}

// Steps 15 and 16: buffers, counters and the preview window's handler.
OSStatus allocateBuffers(MyCameraWindowDataStruct* r) {
  r->mLUT16 = reinterpret_cast<UInt8*>(NewPtrClear(kLUT16Bytes));
  if (r->mLUT16) r->mHistogramR = reinterpret_cast<UInt32*>(NewPtrClear(kHistogramBytes));
  if (r->mHistogramR) r->mHistogramG = reinterpret_cast<UInt32*>(NewPtrClear(kHistogramBytes));
  if (r->mHistogramG) r->mHistogramB = reinterpret_cast<UInt32*>(NewPtrClear(kHistogramBytes));
  if (r->mHistogramB) r->mLUT16b = reinterpret_cast<UInt8*>(NewPtrClear(kLUT16Bytes));
  if (r->mLUT16b) r->mHistogramL = reinterpret_cast<UInt32*>(NewPtrClear(kHistogramBytes));
  return r->mHistogramL ? noErr : memFullErr;
}

OSStatus installPreviewHandler(MyCameraWindowDataStruct* r) {
  static const EventTypeSpec kEvents[] = {{kEventClassWindow, kEventWindowUpdate},
                                          {kEventClassWindow, kEventWindowDrawContent},
                                          {kEventClassWindow, kEventWindowClose},
                                          {kEventClassWindow, 27},
                                          {kEventClassWindow, 26},
                                          {kEventClassWindow, 81},
                                          {kEventClassWindow, 82},
                                          {kEventClassWindow, 37},
                                          {kEventClassKeyboard, kEventRawKeyDown}};
  r->mVideoWindowTarget = GetWindowEventTarget(r->mVideoWindow);
  r->mPreviewHandlerUPP = NewEventHandlerUPP(myPreviewWindowEventHandler);
  if (r->mPreviewHandlerUPP == nullptr) return memFullErr;
  return InstallEventHandler(r->mVideoWindowTarget, r->mPreviewHandlerUPP, UInt32(sizeof kEvents / sizeof kEvents[0]), kEvents, r,
                             &r->mPreviewHandlerRef);
}

OSStatus installControlHandler(MyCameraWindowDataStruct* r) {
  static const EventTypeSpec kEvents[] = {{kEventClassCommand, kEventCommandProcess},
                                          {kEventClassWindow, kEventWindowClose},
                                          {kEventClassWindow, 26},
                                          {kEventClassWindow, 81},
                                          {kEventClassWindow, 82},
                                          {kEventClassWindow, kEventWindowUpdate},
                                          {kEventClassWindow, kEventWindowDrawContent}};
  r->mControlWindowTarget = GetWindowEventTarget(r->mControlWindow);
  r->mControlHandlerUPP = NewEventHandlerUPP(myControlWindowEventHandler);
  if (r->mControlHandlerUPP == nullptr) return memFullErr;
  return InstallEventHandler(r->mControlWindowTarget, r->mControlHandlerUPP, UInt32(sizeof kEvents / sizeof kEvents[0]), kEvents, r,
                             &r->mControlHandlerRef);
}

// Step 18's scroll bars of the preview, hidden, with one action for both.
void setUpScrollBars(MyCameraWindowDataStruct* r) {
  r->mVScrollBar = findControl(r->mVideoWindow, FOUR_CHAR_CODE("CPVT"), 0);
  r->mHScrollBar = findControl(r->mVideoWindow, FOUR_CHAR_CODE("CPHZ"), 0);
  r->mScrollActionUPP = NewControlActionUPP(livePreviewWindowScrollImageUPPProc);
  for (ControlRef bar : {r->mVScrollBar, r->mHScrollBar}) {
    if (bar == nullptr) continue;
    HideControl(bar);
    SetControlAction(bar, r->mScrollActionUPP);
  }
  if (r->mHScrollBar) {
    Rect b{0, 0, 0, 0};
    GetControlBounds(r->mHScrollBar, &b);
    r->mScrollBarThickness = SInt16(b.bottom - b.top);
  }
}

// Steps 4 to 18 on a record just allocated; 0 when the camera is open and its
// windows are shown.
OSStatus buildCamera(MyCameraWindowDataStruct* r, UInt32 cameraID) {
  OSStatus err = myCreatePreviewTextStyles(r);
  if (err != noErr) return err;
  if ((err = registerHistogramClass(r)) != noErr) return err;
  mySkyloomCheckForSIMD(&r->mHasVectorUnit, &r->mIsG5);
  mySetUpCameraSettingsMenu(r);  // without menu 12 (no menu bar yet) there is nothing to fill

  IBNibRef nib = nullptr;
  SetThemeCursor(kThemeArrowCursor);
  if ((err = CreateNibReference(CFSTR("ORX_DCAM"), &nib)) != noErr) return err;
  OSStatus videoErr = CreateWindowFromNib(nib, CFSTR("VideoWindow"), &r->mVideoWindow);
  OSStatus controlErr = videoErr == noErr ? CreateWindowFromNib(nib, CFSTR("ControlWindow"), &r->mControlWindow)
                                          : noErr;
  DisposeNibReference(nib);
  if (videoErr != noErr) return videoErr;
  if (controlErr != noErr) return controlErr;
  SetWRefCon(r->mVideoWindow, 0);
  SetWRefCon(r->mControlWindow, 0);
  r->mCameraHandle = ORXDCAMOpenACamera(cameraID);
  if (r->mCameraHandle == nullptr) return ioErr;
  const OSStatus propertiesErr =
      ORXDCAMGetCameraProperties3(r->mCameraHandle, reinterpret_cast<UInt8*>(&r->mProperties));

  const OSStatus identified = identifyCamera(r, propertiesErr);
  // Step 14: the record's defaults are in place since allocation; the
  // histogram's plot area is inside the frame of 'HIST' 0.
  if (ControlRef hist = findControl(r->mControlWindow, FOUR_CHAR_CODE("HIST"), 0)) {
    Rect b{0, 0, 0, 0};
    GetControlBounds(hist, &b);
    r->mHistogramRect = Rect{SInt16(b.top + 1), SInt16(b.left + 1), SInt16(b.bottom - 2), SInt16(b.right - 1)};
  }
  if (identified != noErr) return identified;

  if ((err = allocateBuffers(r)) != noErr) return err;
  r->mFrameRate = 30.0;
  r->mRecording = 0;
  r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
  if ((err = installPreviewHandler(r)) != noErr) return err;
  if ((err = makeHistogramView(r)) != noErr) return err;

  setUpScrollBars(r);
  if ((err = installControlHandler(r)) != noErr) return err;
  if ((err = myInitControlWindow(r)) != noErr) return err;
  HMSetHelpTagsDisplayed(r->mHelpOption != 0);
  if ((err = mySetFMRMenus(r)) != noErr) return err;
  myChangeIIDCFrameRateMenuItems(r);
  SetWRefCon(r->mVideoWindow, SRefCon(r));
  SetWRefCon(r->mControlWindow, SRefCon(r));
  MoveWindow(r->mControlWindow, r->mControlWindowPos.h, r->mControlWindowPos.v, true);
  SizeWindow(r->mControlWindow, kControlWindowWidth, r->mControlWindowHeight, true);
  r->mControlWindowShown = 1;
  ShowWindow(r->mControlWindow);
  EnableMenuCommand(nullptr, FOUR_CHAR_CODE("pref"));
  return noErr;
}

void freeBlock(void* p) { DisposePtr(static_cast<Ptr>(p)); }

template <typename T>
void freeField(T*& field) {
  freeBlock(field);
  field = nullptr;
}

// Closing step 4's EEPROM write: the long-exposure camera's iris registers
// get fixed values behind the write-enable code.
void restoreIrisRegisters(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  OSStatus err = ORXDCAMSetQuadlet(cam, 0, 0xF00, 0, kMyEEPROMWriteEnableCode);
  if (err == noErr) {
    const bool frostlens = r->mFrostlensModel == 1;
    r->mSavedIrisInquiry = frostlens ? kMyFrostlensIrisInquiry : kMyOtherIrisInquiry;
    r->mSavedIrisControl = frostlens ? kMyFrostlensIrisControl : kMyOtherIrisControl;
    err = ORXDCAMSetQuadlet(cam, 0, 0x524, 0, r->mSavedIrisInquiry);
    if (err == noErr) err = ORXDCAMSetQuadlet(cam, 0, 0x824, 0, r->mSavedIrisControl);
    const OSStatus zeroErr = ORXDCAMSetQuadlet(cam, 0, 0xF00, 0, 0);
    if (err == noErr) err = zeroErr;
  }
  if (err != noErr) fprintf(stderr, "++++++ EEP Write Err 0x%x %d\n", unsigned(err), int(err));
}

// Closing step 4: everything that still needs the camera.
void closeCamera(MyCameraWindowDataStruct* r) {
  MyDCAMCameraStruct* cam = r->mCameraHandle;
  myStopLXScopeControl(r);
  myStopCamera(r);
  if (r->mIsLongExposureCamera && r->mIrisValuesRead && r->mSavedIrisInquiry != kMyIrisReadFailed)
    restoreIrisRegisters(r);
  if (r->mIsPointGrey && r->mAbsoluteShutter) {
    mySetAbsoluteShutter(r, 0);
  } else if (r->mShutterByAbsolute && r->mAbsoluteShutter) {
    mySetAbsoluteShutter(r, 0);
    OSStatus err = ORXDCAMSetABSPropertyValue(cam, kShutter, kSelAbsolute, 0.0);
    if (err != noErr)
      fprintf(stderr, "ORXDCAMSetABSPropertyValue ORX_SHUTTER_REG,ON_OFF_ABS_CNTL Err 0x%x %d\n", unsigned(err),
              int(err));
  }
  if (r->mControlWindow) {
    Rect b{0, 0, 0, 0};
    if (GetWindowBounds(r->mControlWindow, kWindowContentRgn, &b) == noErr) {
      r->mControlWindowPos = Point{b.top, b.left};
      r->mControlWindowHeight = SInt16(b.bottom - b.top);
    }
  }
  if (r->mTriggerAvailable && r->mTriggerItem != 0) {
    ORXDCAMSetPropertyValue(cam, kTrigger, kSelOnOff, 0);
    r->mTriggerItem = 0;
  }
  // An opening that failed before the preferences were read would replace
  // them with the record's defaults: only what was read is written back.
  if (r->mPreferencesRead) myReadWriteCameraPrefs(r, 0);
  r->mShowTemperature = 0;
  myRemoveTemperatureTimer(r);
  myChangeImageAlignMenuItem(r->mControlWindow, 0);
  if (r->mIsLongExposureCamera) ORXDCAMSetQuadlet(cam, 0, 0x610, 0, 0);
  ORXDCAMCloseACamera(cam);
  r->mCameraHandle = nullptr;
}

void closeLog(UInt8& open, FILE*& file) {
  if (open && file) {
    fflush(file);
    fclose(file);
  }
  open = 0;
  file = nullptr;
}

}  // namespace

void myIdentifyCameraVendor(MyCameraWindowDataStruct* r) {
  const UInt32 vendor = r->mProperties.mVendor;
  if ((vendor >> 8) == 0x00B09D || vendor == 0x1E10) {
    UInt32 board = 0;
    if (myPointGreyCameraCheck(r->mCameraHandle, &r->mBayerFormat, &board, 1, 0) == noErr) {
      r->mIsPointGrey = 1;
      r->mPointGreyBayer = board == 3;
    }
  } else if ((vendor >> 8) == 0x000748) {
    r->mShutterByAbsolute = 1;
  } else if ((vendor >> 8) == 0x0050A6) {
    r->mIsVendor50A6 = 1;
    r->mShutterByAbsolute = 1;
    ORXDCAMSetQuadlet(r->mCameraHandle, 0, 0xF08, 0, 0);
  } else {
    r->mShutterByAbsolute = 1;
    r->mBayerSelectable = 1;
  }
}

void myFindAndOpenCamera(UInt32 automatic) {
  MyDCAMCameraListStruct list;
  memset(&list, 0, sizeof list);
  if (ORXDCAMGetListOfCameras(&list) != noErr || list.mCount == 0) {
    if (!automatic) myPostAlertByKeyString("USRER", "NOCAMERA");
    return;
  }
  const SInt32 index = myBrowseCameras(list);
  if (index == userCanceledErr) return;
  if (index < 0) {
    if (automatic) return;
    if (index == -1) {
      myPostAlertByKeyString("USRER", "NOCAMERA");
    } else {
      char text[96];
      snprintf(text, sizeof text, "myBrowseCameras Failed with Err %d\n", int(index));
      myPostAlert("", text);
    }
    return;
  }
  const UInt32 cameraID = list.mEntries[index].mCameraID;

  OSStatus err = memFullErr;
  MyCameraWindowDataStruct* r = myNewCameraWindowData();
  if (r != nullptr) {
    err = buildCamera(r, cameraID);
    if (err != noErr) {
      // A failed opening leaves the camera's stored preferences as they were.
      r->mPreferencesRead = 0;
      myCloseCameraWindows(r);
    }
  }
  myMenuEventHandler(nullptr, nullptr, nullptr);
  if (err == noErr) {
    DisableMenuItem(GetMenuRef(kMyCameraMenuID), kMyOpenCameraItem);
  } else if (!automatic) {
    myPostAlert("", "myCreateCameraWindows - Camera Access Failed\n");
  }
}

void myCloseCameraWindows(MyCameraWindowDataStruct* r) {
  if (MenuRef camera = GetMenuRef(kMyCameraMenuID)) {
    EnableMenuItem(camera, kMyOpenCameraItem);
    for (MenuItemIndex i : {3, 4, 5, 6, 7, 8, 9, 10, 12, 15, 16, 21}) DisableMenuItem(camera, i);
    EnableMenuItem(camera, kMyCameraSettingsItem);
  }
  if (r == nullptr) {
    myMenuEventHandler(nullptr, nullptr, nullptr);
    return;
  }
  r->mControlWindowShown = 0;
  r->mHistogramValid = 0;
  closeLog(r->mCaptureLogOpen, r->mCaptureLogFile);
  closeLog(r->mGuideLogOpen, r->mpGuideLogFile);
  if (r->mZoomItem > 0) CheckMenuItem(GetMenuRef(kMyCameraMenuID), MenuItemIndex(r->mZoomItem), false);
  CheckMenuItem(GetMenuRef(kMyImageAlignMenuID), MenuItemIndex(r->mImageAlignMode + 1), false);
  CheckMenuItem(GetMenuRef(kMyCameraTriggerMenuID), MenuItemIndex(r->mTriggerItem + 1), false);

  if (r->mCameraHandle) closeCamera(r);
  // A long-exposure thread that outlived the stop still reads the record:
  // it is left allocated rather than freed under the thread.
  const bool keepRecord = myLongExposureThreadHoldsRecord(r);

  if (r->mControlWindow) {
    HideWindow(r->mControlWindow);
    if (r->mControlHandlerRef) RemoveEventHandler(r->mControlHandlerRef);
    DisposeWindow(r->mControlWindow);
  }
  r->mControlWindow = nullptr;
  r->mControlHandlerRef = nullptr;
  freeField(r->mSecondLongFrameBuffer);
  freeField(r->mLUT16);
  freeField(r->mLUT16b);
  freeField(r->mHistogramL);
  freeField(r->mFlipVerticalLinePtr);
  if (r->mLiveControlActionUPP) DisposeControlActionUPP(r->mLiveControlActionUPP);
  if (r->mExposureArrowActionUPP) DisposeControlActionUPP(r->mExposureArrowActionUPP);
  r->mLiveControlActionUPP = r->mExposureArrowActionUPP = nullptr;
  if (r->mControlHandlerUPP) DisposeEventHandlerUPP(r->mControlHandlerUPP);
  r->mControlHandlerUPP = nullptr;
  if (r->mPreviewHandlerRef) RemoveEventHandler(r->mPreviewHandlerRef);
  r->mPreviewHandlerRef = nullptr;
  if (r->mPreviewHandlerUPP) DisposeEventHandlerUPP(r->mPreviewHandlerUPP);
  r->mPreviewHandlerUPP = nullptr;
  if (r->mScrollActionUPP) DisposeControlActionUPP(r->mScrollActionUPP);
  r->mScrollActionUPP = nullptr;
  // The view belongs to the control window's content and went with it.
  r->mHistogramView = nullptr;
  if (r->mVideoWindow) DisposeWindow(r->mVideoWindow);
  r->mVideoWindow = nullptr;
  r->mHScrollBar = r->mVScrollBar = nullptr;

  if (r->myCameraHistogramToolboxObjectClassRef) {
    OSStatus err = HIObjectUnregisterClass(r->myCameraHistogramToolboxObjectClassRef);
    if (err != noErr)
      fprintf(stderr, "HIObjectUnregisterClass for myCameraHistogramToolboxObjectClassRef failed %d\n", int(err));
    else
      r->myCameraHistogramToolboxObjectClassRef = nullptr;
  }
  if (r->mHistogramHandlerUPP) DisposeEventHandlerUPP(r->mHistogramHandlerUPP);
  r->mHistogramHandlerUPP = nullptr;

  if (!keepRecord) {
    freeField(r->mGrabBuffer);
    freeField(r->mLongExposureFrame);
    freeField(r->mPreviewBuffer);
    freeField(r->mWorkBuffer);
    freeField(r->mDarkFrame);
    freeField(r->mFlatFrame);
    freeField(r->mHistogramR);
    freeField(r->mHistogramG);
    freeField(r->mHistogramB);
  }
  myDisposePreviewTextStyles(r);
  if (keepRecord)
    fprintf(stderr, "myCloseCameraWindows: the long-exposure thread still runs; its record is kept\n");
  else
    freeBlock(r);
  myMenuEventHandler(nullptr, nullptr, nullptr);
}
