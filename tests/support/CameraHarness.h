// The camera's opening and closing for tests of the live side, until the
// application's own start-up replaces them: a rig of simulated cameras, a
// private preference directory and save folder, the real nib, and a camera
// control record made as the application's opening makes it.
//
//   class MyTest : public CameraHarness {};
//   TEST_F(MyTest, ...) {
//     Rig({SimDefaultColourPersonality()});
//     ASSERT_EQ(OpenCamera(), noErr);
//     ... record_->mVideoSizes[0] ...
//     CloseCamera();                      // TearDown closes one left open
//   }
//
// Opening lists the cameras, picks one with myBrowseCameras (scripted users
// answer its dialog), opens it, allocates the record (cleared, kind 1, the
// defaults the live side reads), copies the capability block, identifies the
// camera family, creates "ControlWindow" and "VideoWindow" (with the preview's
// text styles and scroll bars) with the record as
// their reference constant and fills the video-size table with
// myTestCameraColorMonoForFormatMode for every mode the block offers, and
// installs the Apple-event handlers of class 'ORFW'. Closing stops video a
// start left running (myStopCamera) and undoes all of it.
#pragma once
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/CameraAppleEvents.h"
#include "app/CameraIdentification.h"
#include "app/CameraOpening.h"
#include "app/CameraPrefs.h"
#include "app/CameraWindowData.h"
#include "app/HistogramViews.h"
#include "app/LongExposure.h"
#include "app/PreviewDrawing.h"
#include "app/VideoStartStop.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/coreservices/Files.h"
#include "platform/iokit/IIDCTables.h"
#include "platform/simcamera/SimBus.h"
#include "tests/support/UiFixture.h"

class CameraHarness : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    LinkRealNib();
    preferences_ = dir_ + "/config";
    saveFolder_ = dir_ + "/Captures";
    mkdir(preferences_.c_str(), 0755);
    mkdir(saveFolder_.c_str(), 0755);
    SkyloomSetConfigurationDirectory(preferences_.c_str());
    SkyloomPreferencesForgetAll();
  }
  void TearDown() override {
    CloseCamera();
    SimRemoveRig();
    cameras_.clear();
    SkyloomPreferencesForgetAll();
    SkyloomSetConfigurationDirectory(nullptr);
    UiTest::TearDown();
  }

  // Replaces the rig; the cameras returned can be driven and inspected.
  std::vector<std::shared_ptr<SimCamera>> Rig(const std::vector<SimCameraPersonality>& personalities) {
    cameras_ = SimInstallRig(personalities);
    return cameras_;
  }

  // Opens a camera as the application does; 0, or the status that stopped
  // the opening (-1 no usable camera, -128 the browser was cancelled), with
  // nothing left behind.
  OSStatus OpenCamera() {
    if (record_) return paramErr;
    MyDCAMCameraListStruct list;
    memset(&list, 0, sizeof list);
    OSStatus err = ORXDCAMGetListOfCameras(&list);
    if (err != noErr) return err;
    if (list.mCount == 0) return -1;
    SInt32 index = myBrowseCameras(list);
    if (index < 0) return index;
    const UInt32 cameraID = list.mEntries[index].mCameraID;

    auto* r = static_cast<MyCameraWindowDataStruct*>(malloc(sizeof(MyCameraWindowDataStruct)));
    if (!r) return memFullErr;
    memset(r, 0, sizeof *r);
    record_ = r;
    StoreDefaults(r);

    IBNibRef nib = nullptr;
    if ((err = CreateNibReference(CFSTR("ORX_DCAM"), &nib)) != noErr) return Fail(err);
    OSStatus e1 = CreateWindowFromNib(nib, CFSTR("VideoWindow"), &r->mVideoWindow);
    OSStatus e2 = CreateWindowFromNib(nib, CFSTR("ControlWindow"), &r->mControlWindow);
    DisposeNibReference(nib);
    if (e1 != noErr) return Fail(e1);
    if (e2 != noErr) return Fail(e2);
    SetWRefCon(r->mVideoWindow, 0);
    SetWRefCon(r->mControlWindow, 0);
    if ((err = myCreatePreviewTextStyles(r)) != noErr) return Fail(err);
    FindPreviewScrollBars(r);
    ControlRef histogram = Control(FOUR_CHAR_CODE("HIST"));
    if (histogram) {
      Rect b;
      GetControlBounds(histogram, &b);
      r->mHistogramRect = Rect{SInt16(b.top + 1), SInt16(b.left + 1), SInt16(b.bottom - 2), SInt16(b.right - 1)};
    }

    r->mCameraHandle = ORXDCAMOpenACamera(cameraID);
    if (!r->mCameraHandle) return Fail(-1);
    OSStatus propertiesErr = ORXDCAMGetCameraProperties3(r->mCameraHandle, reinterpret_cast<UInt8*>(&r->mProperties));
    if ((err = IdentifyFamily(r, propertiesErr)) != noErr) return Fail(err);

    FillVideoSizes(r);
    // The settings submenu, as start-up inserts it, with the slots' names.
    if (!GetMenuRef(kMyCameraSettingsMenuID)) {
      IBNibRef menus = nullptr;
      MenuRef settings = nullptr;
      if (CreateNibReference(CFSTR("ORX_DCAM"), &menus) == noErr) {
        if (CreateMenuFromNib(menus, CFSTR("CameraSettings"), &settings) == noErr) {
          InsertMenu(settings, hierMenu);
          ReleaseMenu(settings);
        }
        DisposeNibReference(menus);
      }
    }
    mySetUpCameraSettingsMenu(r);
    if (!GetMenuRef(kMyTemperatureMenuID)) {
      IBNibRef menus = nullptr;
      MenuRef temperature = nullptr;
      if (CreateNibReference(CFSTR("ORX_DCAM"), &menus) == noErr) {
        if (CreateMenuFromNib(menus, CFSTR("CameraTemperature"), &temperature) == noErr) {
          InsertMenu(temperature, hierMenu);
          ReleaseMenu(temperature);
        }
        DisposeNibReference(menus);
      }
    }
    if ((err = MakeHistogramView(r)) != noErr) return Fail(err);
    SetWRefCon(r->mVideoWindow, SRefCon(r));
    SetWRefCon(r->mControlWindow, SRefCon(r));
    r->mControlWindowShown = 1;
    ShowWindow(r->mVideoWindow);
    ShowWindow(r->mControlWindow);
    // Scripts reach the camera as start-up lets them: the 'ORFW' handlers.
    if ((err = myInstallCameraAppleEventHandlers()) != noErr) return Fail(err);
    return noErr;
  }

  // The histogram view class, registered with the record, and one view of it
  // in the frame of 'HIST' 0. A class already registered makes no view.
  OSStatus MakeHistogramView(MyCameraWindowDataStruct* r) {
    static const EventTypeSpec events[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                           {kEventClassHIObject, kEventHIObjectInitialize},
                                           {kEventClassHIObject, kEventHIObjectDestruct},
                                           {kEventClassControl, kEventControlInitialize},
                                           {kEventClassControl, kEventControlDraw},
                                           {kEventClassControl, kEventControlActivate},
                                           {kEventClassControl, kEventControlDeactivate}};
    OSStatus err = HIObjectRegisterSubclass(CFSTR("com.skyloom.camera.histogram"), kHIViewClassID, 0,
                                            myCameraHistogramCustomControlHandler, 7, events, r,
                                            &histogramClass_);
    if (err == hiObjectClassExistsErr) {
      histogramClass_ = nullptr;
      return noErr;
    }
    if (err != noErr) return err;
    HIObjectRef view = nullptr;
    HIViewRef placeholder = nullptr;
    const HIViewID hist = {FOUR_CHAR_CODE("HIST"), 0};
    HIRect frame{};
    if ((err = HIObjectCreate(CFSTR("com.skyloom.camera.histogram"), nullptr, &view)) == noErr &&
        (err = HIViewAddSubview(HIViewGetRoot(r->mControlWindow), view)) == noErr &&
        (err = HIViewFindByID(HIViewGetRoot(r->mControlWindow), hist, &placeholder)) == noErr &&
        (err = HIViewGetFrame(placeholder, &frame)) == noErr && (err = HIViewSetFrame(view, &frame)) == noErr)
      err = HIViewSetVisible(view, true);
    if (err != noErr) fprintf(stderr, "HIObjectCreate(CFSTR (com.skyloom.camera.histogram) %d\n", int(err));
    return err;
  }

  // Closes the open camera (if any), its windows and the record.
  void CloseCamera() {
    MyCameraWindowDataStruct* r = record_;
    if (!r) return;
    record_ = nullptr;
    myRemoveCameraAppleEventHandlers();
    r->mControlWindowShown = 0;
    // Video a start left running (or half started) stops first.
    if (r->mCallbackAssigned || r->mIsochChannelHeld || r->mVideoStreaming || r->mDisplayTimer)
      myStopCamera(r);
    // A long-exposure thread that outlives its stop still uses the record
    // and the camera: neither is closed or freed then.
    myRemoveLongExposureTimer(r);
    if (r->mTemperatureTimer) myRemoveTemperatureTimer(r);
    if (myLongExposureThreadHoldsRecord(r)) {
      fprintf(stderr, "CloseCamera: the long-exposure thread still runs; the record is kept\n");
      return;
    }
    if (r->mCameraHandle) {
      ORXDCAMCloseACamera(r->mCameraHandle);
      r->mCameraHandle = nullptr;
    }
    if (r->mControlWindow) {
      HideWindow(r->mControlWindow);
      DisposeWindow(r->mControlWindow);
    }
    if (r->mVideoWindow) DisposeWindow(r->mVideoWindow);
    if (histogramClass_) {
      HIObjectUnregisterClass(histogramClass_);
      histogramClass_ = nullptr;
    }
    free(r->mLongExposureFrame);  // the last long exposure's preview
    myDisposePreviewTextStyles(r);
    free(r);
  }

  // A control of the open camera's control window (null when none).
  ControlRef Control(OSType signature, SInt32 id = 0) {
    if (!record_ || !record_->mControlWindow) return nullptr;
    ControlID cid = {signature, id};
    ControlRef c = nullptr;
    return GetControlByID(record_->mControlWindow, &cid, &c) == noErr ? c : nullptr;
  }

  MyCameraWindowDataStruct* record_ = nullptr;
  HIObjectClassRef histogramClass_ = nullptr;
  std::vector<std::shared_ptr<SimCamera>> cameras_;
  std::string preferences_;  // the private preference directory
  std::string saveFolder_;   // where grabs and recordings may go

 private:
  OSStatus Fail(OSStatus err) {
    CloseCamera();
    return err;
  }

  // The values a new record holds before preferences are read.
  static void StoreDefaults(MyCameraWindowDataStruct* r) {
    r->mKind = kMyCameraWindowDataKind;
    r->mBitsPerPixel = 8;
    r->mFrameRate = 30.0;
    r->mDisplayFormatItem = 2;
    r->mBalanceColour = RGBColor{65535, 65535, 65535};
    r->mDarkFrameCount = 1;
    r->mFlatFrameCount = 1;
    // What the preferences find before they are read.
    r->mMovieFrameItem = 19;
    r->mFileNaming = 1;
    r->mSaveFileType = FOUR_CHAR_CODE("TIFF");
    r->mZoomScale = 1.0f;
    r->mZoomItem = 6;
    r->mZoomX = 320;
    r->mZoomY = 240;
    r->mControlWindowPos = Point{60, 4};
    r->mVideoWindowPos = Point{60, 4};
    r->mControlWindowHeight = 566;
    r->mSkipSharpnessPercent = 10.0;
    r->mSharpFrameCount = 1;
    r->mHotPixelThreshold = 23;
    r->mHelpOption = 1;
    r->mOpenFrameAfterSave = 1;
    r->mOpenMovieAfterSave = 1;
    r->mAverageFrameCount = 1;
    r->mSumFrameCount = 1;
    r->mDecCalibrationMode = 1;
    r->mCalibrationMoveItem = 2;
    r->mTrackAccuracy = 0.1f;
    r->mMinRAMotionPixels = 30;
    r->mMinDecMotionPixels = 10;
    r->mSaturationCutoff = 255;
    r->mBrightnessAreaWidth = 64;
    r->mBrightnessAreaHeight = 64;
    r->mShowTemperature = 1;
    r->mColourizeColour = RGBColor{65535, 65535, 65535};
  }

  // The video window's scroll bars; the thickness is the height of the
  // horizontal bar.
  static void FindPreviewScrollBars(MyCameraWindowDataStruct* r) {
    ControlID h = {FOUR_CHAR_CODE("CPHZ"), 0}, v = {FOUR_CHAR_CODE("CPVT"), 0};
    GetControlByID(r->mVideoWindow, &h, &r->mHScrollBar);
    GetControlByID(r->mVideoWindow, &v, &r->mVScrollBar);
    Rect b{0, 0, 0, 0};
    GetControlBounds(r->mHScrollBar, &b);
    r->mScrollBarThickness = SInt16(b.bottom - b.top);
  }

  // Names, the long-exposure kind and the family flags.
  static OSStatus IdentifyFamily(MyCameraWindowDataStruct* r, OSStatus propertiesErr) {
    const char* name = r->mProperties.mName;
    if (strcmp(name, "Unknown Camera") == 0) {
      r->mIsUBTModel = 0;
    } else if (strcmp(name, "QRV-00000001") == 0 || strcmp(name, "QRV-00000000") == 0) {
      SetTitle(r->mControlWindow, "Frostlens Controls");
      r->mIsUBTModel = 1;
      r->mFrostlensModel = 1;
    } else {
      char title[128];
      snprintf(title, sizeof title, "%s Controls", name);
      SetTitle(r->mControlWindow, title);
      r->mIsUBTModel = myIsCameraUBT(name) == 0;
    }
    r->mIsLongExposureCamera = r->mIsUBTModel ? 1 : myCheckForTSLV1501Type(name) == 0;
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
    if (r->mAbsoluteShutter) {
      r->mAutoShutterAvailable = 1;
    } else if (ORXDCAMSetPropertyValue(r->mCameraHandle, 0x51C, 1, 1) == noErr) {
      r->mAutoShutterAvailable = 1;
      ORXDCAMSetPropertyValue(r->mCameraHandle, 0x51C, 1, 0);
    }
    ProbeTemperature(r);
    ProbeTrigger(r);
    return noErr;
  }

  // ---- trigger probe (trigger modes and regions of interest) ----
  // With the trigger feature: trigger off; whether the alternate pin set is
  // offered (other cameras: sources 3 and 2 both take; Point Grey: the GPIO
  // inquiry 0x1100 reports more than 3 pins) and, on Point Grey cameras,
  // whether mode 1 takes (the mode is written back); the trigger is left
  // off. Without the alternate pin set the stored pin set is cleared.
  static void ProbeTrigger(MyCameraWindowDataStruct* r) {
    constexpr UInt32 kTrigger = 0x530;
    MyDCAMCameraStruct* cam = r->mCameraHandle;
    if (r->mProperties.mFeaturePresent[kDCAMTrigger]) {
      ORXDCAMSetPropertyValue(cam, kTrigger, 2, 0);
      if (!r->mIsPointGrey) {
        if (ORXDCAMSetPropertyValue(cam, kTrigger, 12, 3) == noErr &&
            ORXDCAMSetPropertyValue(cam, kTrigger, 12, 2) == noErr)
          r->mTrigger4PinAvailable = 1;
        ORXDCAMSetPropertyValue(cam, kTrigger, 12, 0);
      } else {
        UInt32 pins = 0, mode = 0;
        if (ORXDCAMGetQuadlet(cam, 0, 0x1100, 0, &pins) == noErr && (pins & 0x80000000u))
          r->mTrigger4PinAvailable = ((pins >> 16) & 0xF) > 3;
        if (ORXDCAMGetPropertyValue(cam, kTrigger, 9, &mode) == noErr) {
          r->mTriggerMode1Available = ORXDCAMSetPropertyValue(cam, kTrigger, 9, 1) == noErr;
          ORXDCAMSetPropertyValue(cam, kTrigger, 9, mode);
        }
      }
      // The driver marks every control write "on": the trigger goes off
      // again, as the control window's set-up leaves it.
      ORXDCAMSetPropertyValue(cam, kTrigger, 2, 0);
    }
    if (!r->mTrigger4PinAvailable) r->mTrigger4Pin = 0;
  }
  // ---- end of the trigger probe ----

  // How the camera reports its temperature: 2 through the absolute value
  // (absolute control switched on), else 1 through the register, else 0.
  static void ProbeTemperature(MyCameraWindowDataStruct* r) {
    r->mTemperatureMode = 0;
    r->mTemperatureSettable = 0;
    if (r->mProperties.mAbsoluteCapable[kDCAMTemperature]) {
      float lo = 0, hi = 0, k = 0;
      UInt8 readOut = 0, manual = 0;
      if (ORXDCAMGetABSPropertyCapability(r->mCameraHandle, 0x52C, &lo, &hi, &readOut, &manual) == noErr &&
          ORXDCAMSetABSPropertyValue(r->mCameraHandle, 0x52C, 11, 1.0) == noErr) {
        if (ORXDCAMGetABSPropertyValue(r->mCameraHandle, 0x52C, 0, &k) == noErr) {
          r->mTemperatureMode = 2;
          r->mTemperatureSettable = manual;
        } else {
          ORXDCAMSetABSPropertyValue(r->mCameraHandle, 0x52C, 11, 0.0);
        }
      }
    } else if (r->mProperties.mFeaturePresent[kDCAMTemperature]) {
      UInt32 lo = 0, hi = 0, v = 0;
      UInt8 onePush, readOut, onOff, autoMode, manual = 0;
      if (ORXDCAMGetPropertyCapability(r->mCameraHandle, 0x52C, &lo, &hi, &onePush, &readOut, &onOff, &autoMode,
                                       &manual) == noErr &&
          ORXDCAMGetPropertyValue(r->mCameraHandle, 0x52C, 7, &v) == noErr) {
        r->mTemperatureMode = 1;
        r->mTemperatureSettable = manual;
      }
    }
  }

  // One video-size entry for every grey fixed mode of the block, and for
  // every depth of every Format 7 mode.
  static void FillVideoSizes(MyCameraWindowDataStruct* r) {
    ControlID cid = {FOUR_CHAR_CODE("VISZ"), 0};
    ControlRef popup = nullptr;
    GetControlByID(r->mControlWindow, &cid, &popup);
    MenuRef menu = popup ? GetControlPopupMenuHandle(popup) : nullptr;
    UInt32 count = 0;
    auto add = [&](UInt32 format, UInt32 mode, UInt32 bits, UInt32 width, UInt32 height) {
      if (count >= kMyMaxVideoSizes) return;
      myTestCameraColorMonoForFormatMode(r, count, format, mode, bits, width, height, menu);
      count++;
    };
    for (UInt32 format = 0; format < 3; format++)
      for (UInt32 mode = 0; mode < 8; mode++) {
        const iidc::FixedMode& m = iidc::kFixedModes[format][mode];
        if (r->mProperties.mFormat[format].mModeSupported[mode] != 1 || m.code != iidc::kRaw) continue;
        if (m.bits == 8 || m.bits == 16) add(format, mode, m.bits, m.width, m.height);
      }
    if (r->mProperties.mFormat7Supported)
      for (UInt32 mode = 0; mode < 32; mode++) {
        if (r->mProperties.mFormat7ModeSupported[mode] != 1) continue;
        UInt32 w, h, uw, uh, ul, ut, unit, max, codings = 0;
        if (ORXDCAMGetFMRProperties(r->mCameraHandle, 7, mode, 3.75, &w, &h, &uw, &uh, &ul, &ut, &unit, &max,
                                    &codings) != noErr)
          continue;
        const UInt8 region = uw && uh && ul && ut;
        const struct {
          UInt32 bits, codings;
        } kDepths[] = {{8, 1u << 31 | 1u << 22}, {12, 1u << 20 | 1u << 19}, {16, 1u << 26 | 1u << 21}};
        for (const auto& d : kDepths)
          if (codings & d.codings) {
            if (count < kMyMaxVideoSizes) r->mVideoSizes[count].mRegionAllowed = region;
            add(7, mode, d.bits, w, h);
          }
      }
    r->mVideoSizeCount = count;
    r->mVideoSizeIndex = 0;
    if (count) r->mSizeLongestExposureMS = r->mVideoSizes[0].mMaxFramePeriodMs;
    if (popup) SetControl32BitValue(popup, 1);
  }

  static void SetTitle(WindowRef window, const char* title) {
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, title, kCFStringEncodingUTF8);
    if (!s) return;
    SetWindowTitleWithCFString(window, s);
    CFRelease(s);
  }
};
