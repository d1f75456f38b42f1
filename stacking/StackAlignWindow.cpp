#include "stacking/StackAlignWindow.h"

#include <algorithm>
#include <cstdio>

#include "utilities/Alerts.h"
#include "utilities/Controls.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr UInt32 code(const char (&s)[5]) {
  return (UInt32(UInt8(s[0])) << 24) | (UInt32(UInt8(s[1])) << 16) | (UInt32(UInt8(s[2])) << 8) | UInt32(UInt8(s[3]));
}

// The sharpening strength of the 'SHRP' items 1 to 8.
constexpr double kSharpenOfItem[8] = {-1.0, 0.5, 1.0, 2.5, 5.0, 7.5, 10.0, 15.0};

SInt32 sharpenItem(double sharpen) {
  const double below[7] = {0.0, 0.51, 1.1, 2.51, 5.1, 7.6, 10.1};
  for (SInt32 i = 0; i < 7; ++i)
    if (sharpen < below[i]) return i + 1;
  return 8;
}

// The preset rows of the 'PSET' items 2 to 13; -1 leaves the field.
struct Preset {
  int QUALITY, METHOD, PROMPTCI, GAUSBLUR, MANUALFRAMES, AUTOADJBRIGHTNESS, CTAVIMAGE, CTAVONLYSAVE, AUTOEXPALIGN,
      SHARPMATCH, SPATIALSHARPNESS, CTAVLIMITPERCENT, REMOVEHOTPIXEL, PIXELALIGN, PERCENTFRAME, SCALE,
      PIXELBLOCKSIZE, PIXELTOLERANCE;
};
constexpr Preset kPresets[12] = {
    {0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 2, -1, 0, 3, 60, 1, 1, 17},    // 2
    {0, 1, 0, 0, 0, 0, 0, -1, 0, 0, 1, -1, 0, 3, 80, 1, 1, 13},    // 3
    {0, 1, 0, 1, 0, 0, 0, -1, 0, 1, 2, -1, 0, 3, 80, 1, 2, 15},    // 4
    {0, 0, 0, 1, 0, 1, 0, -1, 0, 0, 1, -1, 15, 4, 0, 1, 1, 19},    // 5
    {1, 0, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 3, 60, 1, 1, 15},    // 6
    {1, 1, 1, 0, 1, 0, 0, -1, 1, 1, 1, -1, 0, 3, 70, 1, 1, 13},    // 7
    {1, 1, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 3, 80, 1, 2, 15},    // 8
    {1, 0, 0, 1, 1, 1, 0, -1, 0, 0, 1, -1, 15, 4, 0, 1, 1, 19},    // 9
    {1, 0, 1, 1, 1, 0, 0, -1, 0, 1, 2, -1, 0, 5, 60, 3, 3, 15},    // 10
    {1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 7, 0, 5, 70, 1, 1, 13},      // 11
    {1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 2, 7, 0, 5, 80, 1, 2, 15},      // 12
    {1, 0, 0, 1, 1, 1, 0, -1, 0, 1, 2, -1, 15, 5, 0, 3, 3, 19},    // 13
};

template <typename T>
void take(T& field, int value) {
  if (value >= 0) field = T(value);
}

void applyPreset(StackAlignDialogState* s, SInt32 item) {
  if (item < 2 || item > 13) return;
  s->SUMIMG = 0;
  s->BCGSUBTRACT = 0;
  s->REMOVENOISE = 0;
  s->AUTOCLIP = 1;
  s->BIN2x2MOV = 0;
  s->SAVSHARPREFMOV = 0;
  s->COLORCHANNEL = 1;
  s->WHICHQUADRANT = 0;
  s->SHARPEN = -1.0;
  s->GRADLEVEL = 0;
  const Preset& p = kPresets[item - 2];
  take(s->QUALITY, p.QUALITY);
  take(s->METHOD, p.METHOD);
  take(s->PROMPTCI, p.PROMPTCI);
  take(s->GAUSBLUR, p.GAUSBLUR);
  take(s->MANUALFRAMES, p.MANUALFRAMES);
  take(s->AUTOADJBRIGHTNESS, p.AUTOADJBRIGHTNESS);
  take(s->CTAVIMAGE, p.CTAVIMAGE);
  take(s->CTAVONLYSAVE, p.CTAVONLYSAVE);
  take(s->AUTOEXPALIGN, p.AUTOEXPALIGN);
  take(s->SHARPMATCH, p.SHARPMATCH);
  take(s->SPATIALSHARPNESS, p.SPATIALSHARPNESS);
  take(s->CTAVLIMITPERCENT, p.CTAVLIMITPERCENT);
  take(s->REMOVEHOTPIXEL, p.REMOVEHOTPIXEL);
  take(s->PIXELALIGN, p.PIXELALIGN);
  take(s->PERCENTFRAME, p.PERCENTFRAME);
  take(s->SCALE, p.SCALE);
  take(s->PIXELBLOCKSIZE, p.PIXELBLOCKSIZE);
  take(s->PIXELTOLERANCE, p.PIXELTOLERANCE);
}

// A pop-up moves its check mark to the item, which it shows (and enables).
void setPopup(WindowRef w, OSType signature, SInt32 item) {
  myUncheckSelectedControlPopMenu(w, signature);
  myChangePopMenuControl(w, signature, item, 1, 1);
}

void setCheck(WindowRef w, OSType signature, UInt8 on) { mySetControlValue(w, signature, 0, on == 1 ? 1 : 0); }

// Rule 1: the pixel-alignment options only with pixel alignment.
void enablePixelOptions(const StackAlignDialogState* s) {
  const SInt32 on = s->PIXELALIGN != 0 ? 1 : 0;
  for (OSType sig : {code("PXSZ"), code("TOLR"), code("AUAJ"), code("SHAR")}) myEnableDisableControl(s->mWindow, sig, 0, on);
}

bool compositeAllowed(const StackAlignDialogState* s) { return s->PIXELALIGN == 5 && s->SUMIMG == 0; }

// Rule 2: the composite box only with manual selection and no summing. With
// keepMarks it is only disabled.
void enableComposite(const StackAlignDialogState* s, bool keepMarks) {
  if (compositeAllowed(s))
    myCheckUncheckControl(s->mWindow, code("TAVI"), 0, 1, s->CTAVIMAGE == 1 ? 1 : 0);
  else if (keepMarks)
    myEnableDisableControl(s->mWindow, code("TAVI"), 0, 0);
  else
    myCheckUncheckControl(s->mWindow, code("TAVI"), 0, 0, 0);
}

// Rule 3: the composite's options only while the composite is on.
void enableCompositeOptions(const StackAlignDialogState* s, bool keepMarks) {
  if (compositeAllowed(s) && s->CTAVIMAGE == 1) {
    myEnableDisableControl(s->mWindow, code("NOCR"), 0, 1);
    myCheckUncheckControl(s->mWindow, code("NOSI"), 0, 1, s->CTAVONLYSAVE == 1 ? 1 : 0);
  } else {
    myEnableDisableControl(s->mWindow, code("NOCR"), 0, 0);
    if (keepMarks)
      myEnableDisableControl(s->mWindow, code("NOSI"), 0, 0);
    else
      myCheckUncheckControl(s->mWindow, code("NOSI"), 0, 0, 0);
  }
}

// Rule 4: background subtraction only with summing.
void enableBackground(const StackAlignDialogState* s) {
  myCheckUncheckControl(s->mWindow, code("SBCG"), 0, s->SUMIMG == 1 ? 1 : 0,
                        s->SUMIMG == 1 && s->BCGSUBTRACT == 1 ? 1 : 0);
}

// Rule 5: noise reduction only with sharpening.
void enableNoise(const StackAlignDialogState* s) {
  const bool sharpening = s->SHARPEN >= 0.0;
  myCheckUncheckControl(s->mWindow, code("SMOO"), 0, sharpening ? 1 : 0, sharpening && s->REMOVENOISE == 1 ? 1 : 0);
}

UInt8 boxValue(ControlRef c) { return GetControl32BitValue(c) == 1 ? 1 : 0; }
UInt32 itemLessOne(ControlRef c) { return UInt32(std::max<SInt32>(GetControl32BitValue(c) - 1, 0)); }
UInt32 itemValue(ControlRef c) { return UInt32(std::max<SInt32>(GetControl32BitValue(c), 0)); }

}  // namespace

bool myFolderItselfFSSpec(FSSpec* location) {
  FSRef ref;
  FSCatalogInfo info;
  FSSpec itself;
  if (FSpMakeFSRef(location, &ref) != noErr ||
      FSGetCatalogInfo(&ref, kFSCatInfoVolume | kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr) != noErr)
    return false;
  itself.vRefNum = info.volume;
  itself.parID = SInt32(info.nodeID);
  itself.name[0] = 0;
  *location = itself;
  return true;
}

void myCopyJobToStackAlignState(const StackAlignJob* j, StackAlignDialogState* s) {
  s->DFLTFOPICK = j->DFLTFOPICK;
  s->QUALITY = j->QUALITY;
  s->METHOD = j->METHOD;
  s->SUMIMG = j->SUMIMG;
  s->BCGSUBTRACT = j->BCGSUBTRACT;
  s->PROMPTCI = j->PROMPTCI;
  s->POST = j->POST;
  s->REMOVENOISE = j->REMOVENOISE;
  s->AUTOCLIP = j->AUTOCLIP;
  s->GAUSBLUR = j->GAUSBLUR;
  s->MANUALFRAMES = j->MANUALFRAMES;
  s->AUTOADJBRIGHTNESS = j->AUTOADJBRIGHTNESS;
  s->CTAVIMAGE = j->CTAVIMAGE;
  s->CTAVONLYSAVE = j->CTAVONLYSAVE;
  s->BIN2x2MOV = j->BIN2x2MOV;
  s->SAVSHARPREFMOV = j->SAVSHARPREFMOV;
  s->AUTOEXPALIGN = j->AUTOEXPALIGN;
  s->SHARPMATCH = j->SHARPMATCH;
  s->SPATIALSHARPNESS = j->SPATIALSHARPNESS + 1;
  s->CTAVLIMITPERCENT = j->CTAVLIMITPERCENT;
  s->REMOVEHOTPIXEL = j->REMOVEHOTPIXEL;
  s->PIXELALIGN = j->PIXELALIGN;
  s->PERCENTFRAME = j->PERCENTFRAME;
  s->SCALE = j->SCALE;
  s->PIXELBLOCKSIZE = j->PIXELBLOCKSIZE;
  s->COLORCHANNEL = j->COLORCHANNEL;
  s->PIXELTOLERANCE = j->PIXELTOLERANCE;
  s->WHICHQUADRANT = j->WHICHQUADRANT;
  s->SHARPEN = j->SHARPEN;
  s->GRADLEVEL = j->GRADLEVEL;
  s->mOutputFolderSpec = j->mOutputFolderSpec;
}

void myCopyStackAlignStateToJob(const StackAlignDialogState* s, StackAlignJob* j) {
  j->DFLTFOPICK = s->DFLTFOPICK;
  j->QUALITY = s->QUALITY;
  j->METHOD = s->METHOD;
  j->SUMIMG = s->SUMIMG;
  j->BCGSUBTRACT = s->BCGSUBTRACT == 1 && s->SUMIMG == 1 ? 1 : 0;
  j->PROMPTCI = s->PROMPTCI;
  j->POST = s->POST;
  j->REMOVENOISE = s->REMOVENOISE;
  j->AUTOCLIP = s->AUTOCLIP;
  j->GAUSBLUR = s->GAUSBLUR;
  j->MANUALFRAMES = s->MANUALFRAMES;
  j->AUTOADJBRIGHTNESS = s->AUTOADJBRIGHTNESS;
  j->CTAVIMAGE = s->CTAVIMAGE == 1 && s->PIXELALIGN == 5 && s->SUMIMG == 0 ? 1 : 0;
  j->CTAVONLYSAVE = s->CTAVONLYSAVE;
  j->BIN2x2MOV = s->BIN2x2MOV;
  j->SAVSHARPREFMOV = s->SAVSHARPREFMOV;
  j->AUTOEXPALIGN = s->AUTOEXPALIGN;
  j->SHARPMATCH = s->SHARPMATCH;
  j->SPATIALSHARPNESS = s->SPATIALSHARPNESS - 1;
  j->CTAVLIMITPERCENT = s->CTAVLIMITPERCENT;
  j->REMOVEHOTPIXEL = s->REMOVEHOTPIXEL;
  j->PIXELALIGN = s->PIXELALIGN;
  j->PERCENTFRAME = s->PERCENTFRAME;
  j->SCALE = s->SCALE;
  j->PIXELBLOCKSIZE = s->PIXELBLOCKSIZE;
  j->COLORCHANNEL = s->COLORCHANNEL;
  j->PIXELTOLERANCE = s->PIXELTOLERANCE;
  j->WHICHQUADRANT = s->WHICHQUADRANT;
  j->SHARPEN = s->SHARPEN;
  j->GRADLEVEL = s->GRADLEVEL;
  j->mOutputFolderSpec = s->mOutputFolderSpec;
}

void myMovieCIPercentage(ControlRef control, ControlPartCode) {
  auto* s = reinterpret_cast<StackAlignDialogState*>(GetControlReference(control));
  if (s == nullptr) return;
  s->PERCENTFRAME = UInt32(GetControl32BitValue(control));
  ControlID id{0, 0};
  GetControlID(control, &id);
  char text[16];
  snprintf(text, sizeof text, "%d", int(s->PERCENTFRAME));
  myChangeControlTxt(GetControlOwner(control), id.signature, 1, text);
}

void myUpdateStackAlignWindowControls(StackAlignDialogState* s) {
  if (s == nullptr) return;
  WindowRef w = s->mWindow;
  setPopup(w, code("PSET"), 1);
  setPopup(w, code("SHRP"), sharpenItem(s->SHARPEN));
  setCheck(w, code("AUEX"), s->AUTOEXPALIGN);
  enableNoise(s);
  setCheck(w, code("SREF"), s->SAVSHARPREFMOV);
  setPopup(w, code("RHCP"), SInt32(s->REMOVEHOTPIXEL + 1));
  enableBackground(s);
  setPopup(w, code("PIXL"), SInt32(s->PIXELALIGN + 1));
  mySetControlValue(w, code("SCAL"), 0, SInt32(s->SCALE));
  setPopup(w, code("METH"), s->METHOD + 1);
  setPopup(w, code("GRLV"), SInt32(s->GRADLEVEL + 1));
  setPopup(w, code("CHAN"), SInt32(s->COLORCHANNEL));
  setPopup(w, code("TOLR"), SInt32(s->PIXELTOLERANCE));
  setCheck(w, code("BAYR"), s->QUALITY);
  setCheck(w, code("SUMM"), s->SUMIMG);
  setCheck(w, code("BIN2"), s->BIN2x2MOV);
  setCheck(w, code("SHOC"), s->PROMPTCI);
  setCheck(w, code("POST"), s->POST);
  setCheck(w, code("MASL"), s->MANUALFRAMES);
  setPopup(w, code("NOCR"), SInt32(s->CTAVLIMITPERCENT));
  enableComposite(s, false);
  enableCompositeOptions(s, false);
  setPopup(w, code("SHSP"), SInt32(s->SPATIALSHARPNESS));
  setCheck(w, code("AUAJ"), s->AUTOADJBRIGHTNESS);
  setCheck(w, code("AUCL"), s->AUTOCLIP);
  setCheck(w, code("BLUR"), s->GAUSBLUR);
  setCheck(w, code("SHAR"), s->SHARPMATCH);
  setPopup(w, code("PXSZ"), SInt32(s->PIXELBLOCKSIZE));
  setPopup(w, code("QUAD"), SInt32(s->WHICHQUADRANT + 1));
  enablePixelOptions(s);
  ControlID slider{code("CIAM"), 0};
  ControlRef c = nullptr;
  if (GetControlByID(w, &slider, &c) == noErr) {
    SetControl32BitValue(c, SInt32(s->PERCENTFRAME));
    Draw1Control(c);
    myMovieCIPercentage(c, kControlNoPart);
  }
}

OSStatus myGetMovieProcessingGUIEventHandlerProc(EventHandlerCallRef, EventRef event, void* userData) {
  HICommand command;
  OSStatus err = GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr,
                                   &command);
  if (err != noErr) return err;
  auto* s = static_cast<StackAlignDialogState*>(userData);
  if (s == nullptr) return noErr;
  WindowRef w = s->mWindow;
  const UInt32 cmd = command.commandID;

  if (cmd == code("DFFL")) {
    FSSpec chosen = s->mOutputFolderSpec;
    err = myUseNavServSelectLocationFSSpec(&chosen, 18);
    if (err != noErr) return err;
    myFolderItselfFSSpec(&chosen);
    s->DFLTFOPICK = 1;
    s->mOutputFolderSpec = chosen;
    return noErr;
  }
  if (cmd == kHICommandOK || cmd == kHICommandCancel) {
    s->mResult = cmd == kHICommandOK ? 0 : userCanceledErr;
    QuitAppModalLoopForWindow(w);
    return noErr;
  }

  static const UInt32 kSettings[] = {
      code("PSET"), code("SHRP"), code("SMOO"), code("AUEX"), code("SREF"), code("RHCP"), code("SBCG"), code("PIXL"),
      code("SCAL"), code("METH"), code("GRLV"), code("CHAN"), code("TOLR"), code("BAYR"), code("SUMM"), code("BIN2"),
      code("SHOC"), code("POST"), code("MASL"), code("NOCR"), code("TAVI"), code("NOSI"), code("SHSP"), code("AUAJ"),
      code("AUCL"), code("BLUR"), code("SHAR"), code("PXSZ"), code("QUAD")};
  if (std::find(std::begin(kSettings), std::end(kSettings), cmd) == std::end(kSettings)) return eventNotHandledErr;

  ControlID id{cmd, 0};
  ControlRef c = nullptr;
  if (GetControlByID(w, &id, &c) != noErr || c == nullptr) {
    if (cmd == code("SHRP") || cmd == code("QUAD") || cmd == code("PSET") || cmd == code("PIXL"))
      myPostAlert("", "GetControlByID failed");
    return noErr;
  }

  switch (cmd) {
    case code("PSET"): {
      applyPreset(s, GetControl32BitValue(c));
      myUpdateStackAlignWindowControls(s);
      break;
    }
    case code("SHRP"): {
      const SInt32 item = GetControl32BitValue(c);
      if (item >= 1 && item <= 8) s->SHARPEN = kSharpenOfItem[item - 1];
      enableNoise(s);
      break;
    }
    case code("SMOO"): s->REMOVENOISE = boxValue(c); break;
    case code("AUEX"): s->AUTOEXPALIGN = boxValue(c); break;
    case code("SREF"): s->SAVSHARPREFMOV = boxValue(c); break;
    case code("RHCP"): s->REMOVEHOTPIXEL = itemLessOne(c); break;
    case code("SBCG"): s->BCGSUBTRACT = boxValue(c); break;
    case code("PIXL"): {
      s->PIXELALIGN = itemLessOne(c);
      // Choosing None only greys the composite boxes: their marks stay.
      const bool keep = s->PIXELALIGN == 0;
      enablePixelOptions(s);
      enableComposite(s, keep);
      enableCompositeOptions(s, keep);
      break;
    }
    case code("SCAL"): s->SCALE = itemValue(c); break;
    case code("METH"): s->METHOD = UInt8(itemLessOne(c)); break;
    case code("GRLV"): s->GRADLEVEL = itemLessOne(c); break;
    case code("CHAN"): s->COLORCHANNEL = itemValue(c); break;
    case code("TOLR"): s->PIXELTOLERANCE = itemValue(c); break;
    case code("BAYR"): s->QUALITY = boxValue(c); break;
    case code("SUMM"): {
      s->SUMIMG = boxValue(c);
      enableComposite(s, false);
      enableCompositeOptions(s, false);
      enableBackground(s);
      break;
    }
    case code("BIN2"): s->BIN2x2MOV = boxValue(c); break;
    case code("SHOC"): s->PROMPTCI = boxValue(c); break;
    case code("POST"): s->POST = boxValue(c); break;
    case code("MASL"): s->MANUALFRAMES = boxValue(c); break;
    case code("NOCR"): s->CTAVLIMITPERCENT = itemValue(c); break;
    case code("TAVI"): {
      s->CTAVIMAGE = boxValue(c);
      enableCompositeOptions(s, false);
      break;
    }
    case code("NOSI"): s->CTAVONLYSAVE = boxValue(c); break;
    case code("SHSP"): s->SPATIALSHARPNESS = itemValue(c); break;
    case code("AUAJ"): s->AUTOADJBRIGHTNESS = boxValue(c); break;
    case code("AUCL"): s->AUTOCLIP = boxValue(c); break;
    case code("BLUR"): s->GAUSBLUR = boxValue(c); break;
    case code("SHAR"): s->SHARPMATCH = boxValue(c); break;
    case code("PXSZ"): s->PIXELBLOCKSIZE = itemValue(c); break;
    case code("QUAD"): s->WHICHQUADRANT = itemLessOne(c); break;
    default: break;
  }
  return noErr;
}
