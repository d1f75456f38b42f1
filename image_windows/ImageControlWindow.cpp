#include "image_windows/ImageControlWindow.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image_windows/ImageWindow.h"
#include "image_windows/RenderPipeline.h"
#include "media/RGB48Files.h"
#include "pixel/LumaRGB48.h"
#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"
#include "utilities/LogFiles.h"

namespace {

constexpr OSType kSliders[kImageWindowLevelCount] = {
    FOUR_CHAR_CODE("SHR1"), FOUR_CHAR_CODE("SHR2"), FOUR_CHAR_CODE("SHR3"), FOUR_CHAR_CODE("SHR4"),
    FOUR_CHAR_CODE("SHR5"), FOUR_CHAR_CODE("SHR6"), FOUR_CHAR_CODE("SHR7")};
constexpr UInt32 kSaveDialogKey = 19;
constexpr UInt32 kLogDialogKey = 20;
constexpr NavDialogOptionFlags kSaveDialogFlags = 5;

ControlRef findControl(WindowRef w, OSType signature, SInt32 id) {
  const ControlID cid{signature, id};
  ControlRef c = nullptr;
  return w != nullptr && GetControlByID(w, &cid, &c) == noErr ? c : nullptr;
}

// The focused edit field of the control window, validated and applied.
void validateFocusedField(MyImageWindowDataStruct* r) {
  ControlRef focus = nullptr;
  if (GetKeyboardFocus(r->mControlWindow, &focus) != noErr || focus == nullptr) return;
  ControlID id{0, 0};
  if (GetControlID(focus, &id) != noErr) return;
  myImageDataProcessEdTextFields(r, id.signature, id.id);
}

// The render, after which the handler lets the event go on.
OSStatus render(MyImageWindowDataStruct* r) {
  myRenderRGB48ToWindow(r);
  return eventNotHandledErr;
}

SInt32* offsetOf(MyImageWindowDataStruct* r, OSType command) {
  switch (command) {
    case FOUR_CHAR_CODE("RDHZ"): return &r->mRedHorzOffset;
    case FOUR_CHAR_CODE("RDVT"): return &r->mRedVertOffset;
    case FOUR_CHAR_CODE("GRHZ"): return &r->mGreenHorzOffset;
    case FOUR_CHAR_CODE("GRVT"): return &r->mGreenVertOffset;
    case FOUR_CHAR_CODE("BLHZ"): return &r->mBlueHorzOffset;
    case FOUR_CHAR_CODE("BLVT"): return &r->mBlueVertOffset;
  }
  return nullptr;
}

OSStatus resetSharpening(MyImageWindowDataStruct* r) {
  r->mWindowReady = 0;
  for (OSType signature : kSliders) {
    ControlRef slider = findControl(r->mControlWindow, signature, 0);
    if (slider == nullptr) continue;
    SetControl32BitValue(slider, 10);
    myLiveSharpnessSliderProc(slider, kControlIndicatorPart);
  }
  r->mWindowReady = 1;
  return render(r);
}

OSStatus resetBalance(MyImageWindowDataStruct* r) {
  r->mWindowReady = 0;
  r->mRedBalance = r->mGreenBalance = r->mBlueBalance = 1.0f;
  for (OSType signature : {FOUR_CHAR_CODE("SRED"), FOUR_CHAR_CODE("SGRN"), FOUR_CHAR_CODE("SBLU")}) {
    myChangeControlTxt(r->mControlWindow, signature, 0, "1.000");
    mySetControlValue(r->mControlWindow, signature, 1, 100);
  }
  r->mWindowReady = 1;
  return render(r);
}

OSStatus resetLevels(MyImageWindowDataStruct* r) {
  r->mWindowReady = 0;
  r->mMinRed = r->mMinGreen = r->mMinBlue = 0;
  r->mMaxRed = r->mMaxGreen = r->mMaxBlue = 65535;
  const struct {
    OSType signature;
    UInt32 value;
  } kFields[] = {{FOUR_CHAR_CODE("MIRD"), 0},     {FOUR_CHAR_CODE("MIGN"), 0},     {FOUR_CHAR_CODE("MIBL"), 0},
                 {FOUR_CHAR_CODE("MXRD"), 65535}, {FOUR_CHAR_CODE("MXGN"), 65535}, {FOUR_CHAR_CODE("MXBL"), 65535}};
  for (const auto& f : kFields) {
    char text[16];
    snprintf(text, sizeof text, "%d", int(f.value));
    myChangeControlTxt(r->mControlWindow, f.signature, 0, text);
    mySetControlValue(r->mControlWindow, f.signature, 1, SInt32(f.value / 100));
  }
  r->mWindowReady = 1;
  return render(r);
}

OSStatus zoom(MyImageWindowDataStruct* r, SInt32 item) {
  const Float32 z = myImageWindowZoomOfItem(item);
  const Float32 previous = r->mZoom > 0.0f ? r->mZoom : 1.0f;
  const Float32 scale = z / previous;
  r->mScrollV = SInt32(Float32(r->mScrollV) * scale);
  r->mScrollH = SInt32(Float32(r->mScrollH) * scale);
  r->mZoom = z;
  r->mZoomChanged = 1;
  r->mImageRect = {0, 0, SInt32(Float32(r->mHeight) * z), SInt32(Float32(r->mWidth) * z)};
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  const SInt32 W = port.right - port.left, H = port.bottom - port.top;
  if (r->mImageRect.right < W || r->mImageRect.bottom < H) {
    // Never larger than the window already is: the window only shrinks to
    // the zoomed picture, it does not grow past the screen.
    const SInt32 width = std::max<SInt32>(1, std::min(W, r->mImageRect.right));
    const SInt32 height = std::max<SInt32>(1, std::min(H, r->mImageRect.bottom));
    SizeWindow(r->mImageWindow, short(width), short(height), true);
  }
  myReSizeImageWindowControls(r->mImageWindow);
  return render(r);
}

// The name of the image's file as a C string, or false.
bool fileName(const MyImageWindowDataStruct* r, char* out, size_t size) {
  CFStringRef name = myFSRefGetCFStringName(&r->mFileRef);
  if (name == nullptr) return false;
  const bool ok = CFStringGetCString(name, out, CFIndex(size), GetApplicationTextEncoding());
  CFRelease(name);
  return ok;
}

OSStatus togglePhotometry(MyImageWindowDataStruct* r) {
  r->mPhotometryShown = r->mPhotometryShown ? 0 : 1;
  if (r->mPhotometryShown && r->mMeasurePlane == nullptr) {
    const size_t pixels = size_t(r->mWidth) * r->mHeight;
    r->mMeasurePlane = static_cast<UInt16*>(myAllocateImagePlane(pixels * 2));
    if (r->mMeasurePlane == nullptr) {
      r->mPhotometryShown = 0;
      myPostAlertByKeyString("OSXER", "NOTENOUGHRAM");
    } else {
      const SInt32 channel = std::clamp<SInt32>(r->mMeasureChannel, 0, 3);
      const UInt16* s = r->mSourceLRGB64 + channel;
      for (size_t i = 0; i < pixels; ++i) r->mMeasurePlane[i] = s[4 * i];
    }
  }
  mySetControlValue(r->mControlWindow, FOUR_CHAR_CODE("ASDW"), 0, r->mPhotometryShown);
  if (!r->mPhotometryShown) {
    if (r->mPhotometryWindow != nullptr) HideWindow(r->mPhotometryWindow);
    std::free(r->mMeasurePlane);
    r->mMeasurePlane = nullptr;
  } else {
    if (!r->mLogOpen) {
      r->mLogFile = myCreateLogFileWriteOnly("Save Photometry-Astrometry Log Data As", "Photom-Astrom Log ",
                                             kLogDialogKey);
      if (r->mLogFile != nullptr) {
        r->mLogOpen = 1;
        char name[256];
        if (fileName(r, name, sizeof name)) {
          fprintf(r->mLogFile, "File Name: %s\r", name);
          fflush(r->mLogFile);
        }
      }
    }
    if (r->mPhotometryWindow != nullptr) ShowWindow(r->mPhotometryWindow);
  }
  Rect port;
  GetWindowPortBounds(r->mImageWindow, &port);
  InvalWindowRect(r->mImageWindow, &port);
  return noErr;
}

std::string pathOf(const FSRef& ref) {
  UInt8 path[4096];
  return FSRefMakePath(&ref, path, sizeof path) == noErr ? std::string(reinterpret_cast<char*>(path)) : std::string();
}

// Writes the picture to a new file beside the target and puts it in the
// target's place only once it is complete: a failed write leaves the file
// that was there (often the picture itself) as it was.
OSStatus writeBesideThenReplace(MyImageWindowDataStruct* r, const FSRef& folder, CFStringRef name, FSRef* saved) {
  const std::string dir = pathOf(folder);
  char leaf[1024];
  if (dir.empty() || !CFStringGetCString(name, leaf, sizeof leaf, kCFStringEncodingUTF8)) return fnfErr;
  const std::string target = dir + "/" + leaf;
  char part[64];
  snprintf(part, sizeof part, ".saving-%ld.tif", long(getpid()));
  CFStringRef partName = CFStringCreateWithCString(kCFAllocatorDefault, part, kCFStringEncodingUTF8);
  FSRef partRef;
  OSStatus err = myAppendFileNameToFolderPath(&folder, partName, 1, &partRef);
  CFRelease(partName);
  if (err != noErr) return err;
  const std::string partPath = dir + "/" + part;
  if (r->mSave16Bit) {
    auto* luma = static_cast<UInt16*>(myAllocateImagePlane(size_t(r->mWidth) * r->mHeight * 2));
    if (luma == nullptr) {
      err = memFullErr;
    } else {
      myRGB48PtrtoLumaPtr(r->mRenderRGB48, luma, r->mWidth, r->mHeight);
      err = myRGB48ToFileFSRef(partRef, FOUR_CHAR_CODE("TIFF"), luma, r->mWidth, r->mHeight, 0);
      std::free(luma);
    }
  } else {
    err = myRGB48ToFileFSRef(partRef, FOUR_CHAR_CODE("TIFF"), r->mRenderRGB48, r->mWidth, r->mHeight, 1);
  }
  if (err == noErr && std::rename(partPath.c_str(), target.c_str()) != 0) err = ioErr;
  if (err != noErr) {
    std::remove(partPath.c_str());
    return err;
  }
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(target.c_str()), saved, nullptr);
}

OSStatus save(MyImageWindowDataStruct* r) {
  CFStringRef message = myGetLocalizedCFString("SAVEFILEAS");
  CFStringRef current = myFSRefGetCFStringName(&r->mFileRef);
  FSRef folder;
  CFStringRef name = nullptr;
  OSStatus err = myNavServSaveFileLocation(nullptr, message, current, &folder, &name, FOUR_CHAR_CODE("TVOD"),
                                           FOUR_CHAR_CODE("TIFF"), kSaveDialogFlags, kSaveDialogKey);
  if (message != nullptr) CFRelease(message);
  if (current != nullptr) CFRelease(current);
  if (err != noErr) return noErr;  // cancelled: the window stays as it was
  FSRef saved;
  err = writeBesideThenReplace(r, folder, name, &saved);
  CFRelease(name);
  if (err != noErr) {
    char text[96];
    snprintf(text, sizeof text, "Saving failed: error %d 0x%X", int(err), unsigned(err));
    myPostAlert("", text);
    return noErr;
  }
  r->mFileRef = saved;
  myDisposeImageWindow(r);
  return noErr;
}

OSStatus command(MyImageWindowDataStruct* r, const HICommand& cmd) {
  WindowRef w = r->mControlWindow;
  const UInt32 id = cmd.commandID;
  if (SInt32* offset = offsetOf(r, id)) {
    const SInt32 value = 9 - myGetControlValue(w, id, 0);
    if (value == *offset) return noErr;
    *offset = value;
    r->mOffsetsActive = 1;
    return render(r);
  }
  switch (id) {
    case FOUR_CHAR_CODE("PREV"):
      r->mPreview = r->mPreview ? 0 : 1;
      return render(r);
    case FOUR_CHAR_CODE("CRGB"):
    case FOUR_CHAR_CODE("CLUM"):
      r->mLRGBMode = id == FOUR_CHAR_CODE("CLUM") ? 1 : 0;
      mySetControlValue(w, FOUR_CHAR_CODE("CRGB"), 0, r->mLRGBMode == 0);
      mySetControlValue(w, FOUR_CHAR_CODE("CLUM"), 0, r->mLRGBMode == 1);
      return render(r);
    case FOUR_CHAR_CODE("NOIS"):
      r->mNoiseReduction = UInt32(std::max<SInt32>(1, myGetControlValue(w, id, 0)));
      return render(r);
    case FOUR_CHAR_CODE("SBCG"):
      r->mSharpenSmooth = r->mSharpenSmooth ? 0 : 1;
      myBuildDetailLevels(r);
      return render(r);
    case FOUR_CHAR_CODE("RESH"): return resetSharpening(r);
    case FOUR_CHAR_CODE("REGN"): return resetBalance(r);
    case FOUR_CHAR_CODE("RELV"): return resetLevels(r);
    case FOUR_CHAR_CODE("ZOOM"): return zoom(r, myGetControlValue(w, id, 0));
    case FOUR_CHAR_CODE("M16T"):
      r->mSave16Bit = r->mSave16Bit ? 0 : 1;
      return noErr;
    case FOUR_CHAR_CODE("ASDW"): return togglePhotometry(r);
    case kHICommandOK: return save(r);
    case kHICommandClose:
    case kHICommandCancel:
      myDisposeImageWindow(r);
      return noErr;
  }
  return eventNotHandledErr;
}

}  // namespace

Float32 myImageWindowZoomOfItem(SInt32 item) {
  if (item == 10) return 1.0f;
  if (item < 10) return 0.1f * Float32(std::max<SInt32>(item, 1));
  return 1.0f + 0.25f * Float32(item - 10);
}

OSStatus myImageControlWindowEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* r = static_cast<MyImageWindowDataStruct*>(userData);
  if (r == nullptr || r->mRecordTag != kImageWindowRecordTag) return eventNotHandledErr;
  const EventClass cls = GetEventClass(event);
  const EventKind kind = GetEventKind(event);
  if (cls == kEventClassKeyboard && kind == kEventRawKeyDown) {
    char c = 0;
    if (GetEventParameter(event, kEventParamKeyMacCharCodes, typeChar, nullptr, sizeof c, nullptr, &c) == noErr &&
        c == '\t')
      validateFocusedField(r);
    return eventNotHandledErr;
  }
  if (cls == kEventClassMouse && kind == kEventMouseDown) {
    validateFocusedField(r);
    return eventNotHandledErr;
  }
  if (cls == kEventClassWindow && kind == kEventWindowClose) {
    WindowRef window = nullptr;
    GetEventParameter(event, kEventParamDirectObject, typeWindowRef, nullptr, sizeof window, nullptr, &window);
    if (window != nullptr && window == r->mPhotometryWindow) {
      // The measurement window's close box hides it, as the check box does;
      // the window itself lives as long as the image window.
      if (r->mPhotometryShown) togglePhotometry(r);
      return noErr;
    }
    myDisposeImageWindow(r);
    return noErr;
  }
  if (cls == kEventClassCommand && kind == kEventCommandProcess) {
    HICommand cmd{};
    if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof cmd, nullptr, &cmd) != noErr)
      return eventNotHandledErr;
    return command(r, cmd);
  }
  return eventNotHandledErr;
}
