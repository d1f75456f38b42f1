#include "app/CameraIdentification.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/iokit/IIDCTables.h"

namespace {

constexpr OSType kCameraPopupSignature = FOUR_CHAR_CODE("CAMR");

// Point Grey vendor registers, offsets from the command base.
constexpr UInt32 kPGRMainBoardInfo = 0x1F24;
constexpr UInt32 kPGRImageDataFormat = 0x1048;
constexpr UInt32 kPGRBayerTileMapping = 0x1040;

// Registers every camera of the model lists answers (the browser's check
// that it really is one of them).
constexpr UInt32 kEEPRegister = 0xF00;
constexpr UInt32 kTestConfigRegister = 0xF04;
constexpr UInt32 kStatusConfigRegister = 0xF1C;
constexpr UInt32 kIrisInquiryRegister = 0x524;

constexpr UInt32 kWhiteBalanceFeature = 0x50C;
constexpr UInt32 kShutterFeature = 0x51C;
constexpr SInt32 kWhiteBalanceUBSelector = 4;
constexpr UInt32 kColorFilterIDOffset = 0x58;

bool nameInList(const char* name, const char* const* list, size_t count) {
  if (!name) return false;
  for (size_t i = 0; i < count; i++)
    if (strcmp(name, list[i]) == 0) return true;
  return false;
}

// "DF" followed somewhere by 'A' or 'B' with an 'F' right after it.
bool isDFColourName(const char* name) {
  if (strncmp(name, "DF", 2) != 0) return false;
  for (const char* p = name + 2; p[0] && p[1]; p++)
    if ((p[0] == 'A' || p[0] == 'B') && p[1] == 'F') return true;
  return false;
}

bool knownModel(const char* name) { return myIsCameraUBT(name) == 0 || myCheckForTSLV1501Type(name) == 0; }

}  // namespace

OSStatus myIsCameraUBT(const char* name) {
  static const char* const kNames[] = {"Fire-i 1.2", "Fire-i BCL 1.2", "Fire-i BBW 1.3", "Fire-I 400 1.2",
                                       "IBOT",       "C102T V1.0.2",   "Fire-i400"};
  return nameInList(name, kNames, sizeof kNames / sizeof kNames[0]) ? 0 : -1;
}

OSStatus myCheckForTSLV1501Type(const char* name) {
  static const char* const kNames[] = {"API-200",      "API-201",     "API-202",   "API-203",   "XLT-00000000",
                                       "XLT-00000001", "1394 Camera", "DFx 21F04", "DBx 21F04", "DMx 21F04"};
  return nameInList(name, kNames, sizeof kNames / sizeof kNames[0]) ? 0 : -1;
}

OSStatus myPointGreyCameraCheck(MyDCAMCameraStruct* camera, UInt32* bayerCode, UInt32* boardInfo, UInt32 setBit7,
                                UInt32 clearBit0) {
  *boardInfo = 0x00FFFFFF;
  *bayerCode = 0;
  UInt32 value = 0;
  OSStatus err = ORXDCAMGetQuadlet(camera, 0, kPGRMainBoardInfo, 0, &value);
  if (err != noErr) {
    fprintf(stderr, "Reading PGR_Main_Board_Info_Reg Failed Err: %d 0x%x \n", int(err), unsigned(err));
    return err;
  }
  *boardInfo = value >> 20;

  if (setBit7 == 1 || clearBit0 == 1) {
    // The image data format register is edited only when the camera says
    // it has one (bit 31); a failure here does not reject the camera.
    UInt32 format = 0;
    err = ORXDCAMGetQuadlet(camera, 0, kPGRImageDataFormat, 0, &format);
    if (err != noErr || !(format & 0x80000000u)) {
      fprintf(stderr, "PGR_IMAGE_DATA_FORMAT failed err %d  0x%x Returned Value = Value = 0x%X\n", int(err),
              unsigned(err), unsigned(format));
    } else {
      format = setBit7 ? (format | 0x80u) : (format & ~0x80u);
      format = clearBit0 ? (format & ~0x1u) : (format | 0x1u);
      err = ORXDCAMSetQuadlet(camera, 0, kPGRImageDataFormat, 0, format);
      if (err != noErr)
        fprintf(stderr, "ORXDCAMSetQuadlet failed  for PGR_IMAGE_DATA_FORMAT err %d  0x%x\n", int(err),
                unsigned(err));
    }
  }

  UInt32 tiles = 0;
  err = ORXDCAMGetQuadlet(camera, 0, kPGRBayerTileMapping, 0, &tiles);
  if (err != noErr) {
    fprintf(stderr, "Reading PGR_BAYER_TILE_MAPPING_REG Failed Err: %d 0x%x \n", int(err), unsigned(err));
    return err;
  }
  switch (tiles) {
    case FOUR_CHAR_CODE("RGGB"): *bayerCode = 1; break;
    case FOUR_CHAR_CODE("GBRG"): *bayerCode = 2; break;
    case FOUR_CHAR_CODE("GRBG"): *bayerCode = 3; break;
    case FOUR_CHAR_CODE("BGGR"): *bayerCode = 4; break;
    default: *bayerCode = 0; break;  // 'YYYY' (monochrome) and anything unknown
  }
  return noErr;
}

OSStatus myCheckIIDCAppropriateModes(MyDCAMCameraStruct* camera, MyDCAMCameraPropertiesStruct properties) {
  // The fixed grey modes of 640x480 up to 1600x1200, 8 and 16 bits.
  static const struct {
    UInt32 format, mode;
  } kGreyModes[] = {{0, 5}, {0, 6}, {1, 2}, {1, 5}, {1, 6}, {1, 7}, {2, 2}, {2, 5}, {2, 6}, {2, 7}};
  for (const auto& m : kGreyModes)
    if (properties.mFormat[m.format].mModeSupported[m.mode] == 1) return noErr;
  if (!properties.mFormat7Supported) return paramErr;
  // Raw8, Mono8, Raw16, Mono16, Mono12, Raw12 (bit 31 - id).
  constexpr UInt32 kUsableCodings = 1u << 22 | 1u << 31 | 1u << 21 | 1u << 26 | 1u << 20 | 1u << 19;
  for (UInt32 mode = 0; mode < 32; mode++) {
    if (properties.mFormat7ModeSupported[mode] != 1) continue;
    UInt32 maxW, maxH, unitW, unitH, unitL, unitT, packetUnit, packetMax, codings = 0;
    if (ORXDCAMGetFMRProperties(camera, 7, mode, 3.75, &maxW, &maxH, &unitW, &unitH, &unitL, &unitT, &packetUnit,
                                &packetMax, &codings) != noErr)
      continue;
    if (codings & kUsableCodings) return noErr;
  }
  return paramErr;
}

UInt32 myTestForWhiteBalanceColor(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, UInt32* bayerCode) {
  *bayerCode = 0;
  if (!record->mProperties.mFeaturePresent[kDCAMWhiteBalance]) return 0;
  MyDCAMCameraStruct* camera = record->mCameraHandle;
  if (format == 7) {
    UInt32 block = 0;
    OSStatus err = ORXDCAMGetModeSevenBaseAddress(camera, mode, &block);
    if (err != noErr) {
      fprintf(stderr, "myGetModeSevenBaseAddress  failed Err = 0x%x %d\n", unsigned(err), int(err));
    } else {
      UInt32 filter = 0;
      err = ORXDCAMGetQuadlet(camera, 0xFFFF, block + kColorFilterIDOffset, 1, &filter);
      if (err != noErr) {
        fprintf(stderr, "ORXDCAMGetQuadlet COLOR_FILTER_ID failed Err = 0x%x %d\n", unsigned(err), int(err));
      } else {
        UInt32 id = filter >> 24;
        if (id <= 3) {
          *bayerCode = id + 1;
          return 1;
        }
        fprintf(stderr, "val %d , so setting it to GEN_BAYR_NONE\n", int(id));
      }
    }
  }
  // A camera that takes a white-balance value back is a colour camera.
  UInt32 value = 0;
  if (ORXDCAMGetPropertyValue(camera, kWhiteBalanceFeature, kWhiteBalanceUBSelector, &value) != noErr) return 0;
  return ORXDCAMSetPropertyValue(camera, kWhiteBalanceFeature, kWhiteBalanceUBSelector, value) == noErr ? 1 : 0;
}

void myTestCameraColorMonoForFormatMode(MyCameraWindowDataStruct* record, UInt32 index, UInt32 format, UInt32 mode,
                                        UInt32 bitDepth, UInt32 width, UInt32 height, MenuRef menu) {
  if (!record || index >= kMyMaxVideoSizes) return;
  MyVideoSizeStruct* entry = &record->mVideoSizes[index];
  MyDCAMCameraStruct* camera = record->mCameraHandle;
  const MyDCAMCameraPropertiesStruct& properties = record->mProperties;
  entry->mBayerCode = 0;
  entry->mIsColor = 0;
  entry->mFormat = format;
  entry->mMode = mode;
  entry->mWidth = width;
  entry->mHeight = height;

  char text[64];
  snprintf(text, sizeof text, format == 7 ? "%dx%d %dbit FMT7" : "%dx%d %dbit", int(width), int(height),
           int(bitDepth));
  if (menu) {
    CFStringRef item = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
    if (item) {
      AppendMenuItemTextWithCFString(menu, item, 0, 0, nullptr);
      CFRelease(item);
    }
  }

  // The longest frame period the mode allows (ms).
  double period = 0.0;
  bool decided = false;  // the long-exposure rule settled the colour
  if (record->mIsLongExposureCamera) {
    period = record->mFrostlensModel ? 3600000.0 : 1029.0;
    // A camera of this kind that offers the 640x480 RGB mode has a colour sensor.
    entry->mIsColor = properties.mFormat[0].mModeSupported[4] ? 1 : 0;
    entry->mBayerCode = entry->mIsColor ? 4 : 0;
    decided = true;
  } else if (properties.mAbsoluteCapable[kDCAMShutter]) {
    float minimum = 0, maximum = 0;
    UInt8 readOut = 0, manual = 0;
    if (ORXDCAMGetABSPropertyCapability(camera, kShutterFeature, &minimum, &maximum, &readOut, &manual) == noErr)
      period = double(maximum) * 1000.0;
    else
      period = 1.0;
  } else if (format <= 2) {
    if (mode < 8)
      for (int rate = 0; rate < 8; rate++)
        if (properties.mFormat[format].mRateSupported[mode][rate]) {
          period = std::trunc(1000.0 / iidc::kRates[rate]);
          break;
        }
  } else if (format == 7) {
    period = 1.0;  // unless the mode answers
    if (ORXDCAMGetFMRProperties(camera, 7, mode, 3.75, &record->mF7MaxWidth, &record->mF7MaxHeight,
                                &record->mF7UnitWidth, &record->mF7UnitHeight, &record->mF7UnitLeft,
                                &record->mF7UnitTop, &record->mF7UnitPacket, &record->mF7MaxPacket,
                                &record->mF7ColorCodingInq) == noErr) {
      const bool region = record->mF7ROIOn;
      const double w = region ? record->mWidth : record->mF7MaxWidth;
      const double h = region ? record->mHeight : record->mF7MaxHeight;
      const double frameBytes = w * h * (bitDepth == 8 ? 1 : 2);
      // A camera that reports no packet step, or a region of no pixels, has
      // no rate to derive a period from.
      if (frameBytes > 0 && record->mF7UnitPacket > 0) {
        const double rate = record->mF7UnitPacket * 8000.0 / frameBytes;
        period = std::trunc(1000.0 / rate);
      }
    }
  }

  bool vendorRule = false;
  const UInt32 vendor = properties.mVendor >> 8;
  const char* name = properties.mName;
  if (vendor == 0x0050A6) {
    const size_t n = strnlen(name, sizeof properties.mName);
    if (n >= 3 && strcmp(name + n - 2, "_C") == 0) {
      UInt32 found = 0;
      myTestForWhiteBalanceColor(record, format, mode, &found);
      entry->mBayerCode = 3;
      entry->mIsColor = 1;
    }
    vendorRule = true;
  } else if (vendor == 0x000748) {
    record->mExposureItemLimit = 8;
    record->mShutterByAbsolute = 1;
    if (strncmp(name, "DM", 2) == 0) {
      entry->mBayerCode = 0;
    } else if (strncmp(name, "DB", 2) == 0 || isDFColourName(name)) {
      entry->mBayerCode = 2;
    } else if (!decided) {
      entry->mBayerCode = 0;
      myTestForWhiteBalanceColor(record, format, mode, &entry->mBayerCode);
    }
    entry->mIsColor = entry->mBayerCode != 0;
    vendorRule = true;
  }

  if (record->mIsPointGrey) {
    UInt32 board = 0;
    myPointGreyCameraCheck(camera, &entry->mBayerCode, &board, 1, 0);
    entry->mIsColor = entry->mBayerCode != 0;
  } else if (!decided && !vendorRule) {
    record->mBayerSelectable = 1;
    entry->mIsColor = UInt8(myTestForWhiteBalanceColor(record, format, mode, &entry->mBayerCode));
  }

  if (entry->mIsColor)
    entry->mColorCoding = bitDepth == 8 ? 9 : bitDepth == 12 ? 12 : 10;
  else
    entry->mColorCoding = bitDepth == 8 ? 0 : bitDepth == 12 ? 11 : 5;
  entry->mMaxFramePeriodMs = period;
  if (period > record->mLongestExposureMS) record->mLongestExposureMS = period;
}

OSStatus myCameraBrowserEventHandler(EventHandlerCallRef, EventRef event, void* userData) {
  auto* browser = static_cast<MyCameraBrowserStruct*>(userData);
  HICommand command;
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command, nullptr, &command) !=
      noErr)
    return eventNotHandledErr;
  switch (command.commandID) {
    case kHICommandCancel:
      browser->mResult = userCanceledErr;
      QuitAppModalLoopForWindow(browser->mWindow);
      return noErr;
    case kHICommandOK:
      browser->mResult = noErr;
      QuitAppModalLoopForWindow(browser->mWindow);
      return noErr;
    case kCameraPopupSignature: {
      ControlID id = {kCameraPopupSignature, 0};
      ControlRef popup = nullptr;
      if (GetControlByID(browser->mWindow, &id, &popup) == noErr) browser->mChoice = GetControl32BitValue(popup);
      return noErr;
    }
    default:
      return eventNotHandledErr;
  }
}

namespace {

// Opens the entry and decides whether the application can drive it; the
// camera is closed again either way.
bool cameraUsable(const MyDCAMCameraListEntry& entry) {
  MyDCAMCameraStruct* camera = ORXDCAMOpenACamera(entry.mCameraID);
  if (!camera) {
    fprintf(stderr, "Camera in use \n");
    return false;
  }
  bool usable = false;
  MyDCAMCameraPropertiesStruct properties;
  memset(&properties, 0, sizeof properties);
  OSStatus err = ORXDCAMGetCameraProperties3(camera, reinterpret_cast<UInt8*>(&properties));
  const char* name = entry.mName;
  const UInt32 vendor = properties.mVendor;
  if (err != noErr) {
    fprintf(stderr, "Camera '%s' failed status checks Err#: %d 0x%X\n", name, int(err), unsigned(err));
  } else {
    const bool known = knownModel(name);
    bool go = true;
    if (!known && ((vendor >> 8) == 0x00B09D || vendor == 0x1E10)) {
      UInt32 bayer = 0, board = 0;
      OSStatus r = myPointGreyCameraCheck(camera, &bayer, &board, 0, 0);
      if (r != noErr) {
        if (r == -1)
          fprintf(stderr, " PointGrey Camera - Model '%s' is unknown type 0x%X  and unsupported \n", name,
                  unsigned(board));
        else
          fprintf(stderr, "myPointGreyCameraCheck for  '%s' failed! Err#: %d 0x%X\n", name, int(r), unsigned(r));
        fprintf(stderr, "Camera model '%s'  Vendor 0x%X Unknown'\n", name, unsigned(vendor));
        go = false;
      }
    }
    if (go && myCheckIIDCAppropriateModes(camera, properties) != noErr) {
      fprintf(stderr,
              "Camera model '%s'  Vendor 0x%X Rejected!  Does not support Bayer or Monochrome  needed Formats and "
              "Modes \n",
              name, unsigned(vendor));
      go = false;
    }
    if (go && known) {
      static const struct {
        UInt32 offset;
        const char* message;
      } kChecks[] = {{kEEPRegister, "Camera '%s' failed EEP check Err#: %d 0x%X\n"},
                     {kTestConfigRegister, "Camera '%s' failed TSTCFG check Err#: %d 0x%X\n"},
                     {kStatusConfigRegister, "Camera '%s' failed STATCFG check Err#: %d 0x%X\n"},
                     {kIrisInquiryRegister, "Camera '%s' failed IRTST check Err#: %d 0x%X\n"}};
      for (const auto& check : kChecks) {
        UInt32 value = 0;
        OSStatus r = ORXDCAMGetQuadlet(camera, 0, check.offset, 0, &value);
        if (r != noErr) {
          fprintf(stderr, check.message, name, int(r), unsigned(r));
          go = false;
          break;
        }
      }
    } else if (go && !properties.mAbsoluteCapable[kDCAMShutter]) {
      fprintf(stderr, "Camera model '%s'  Vendor 0x%X does not support Absolute Shutter. Grudgingly supporting it.\n",
              name, unsigned(vendor));
    }
    usable = go;
  }
  ORXDCAMCloseACamera(camera);
  return usable;
}

}  // namespace

SInt32 myBrowseCameras(MyDCAMCameraListStruct list) {
  const UInt32 count = list.mCount < kDCAMMaxCameras ? list.mCount : kDCAMMaxCameras;
  if (count == 0) return -1;
  SInt32 found = -1;
  // Only the entries up to the first usable camera are tried; the rest are
  // offered as the driver listed them.
  for (UInt32 i = 0; i < count && found < 0; i++) {
    MyDCAMCameraListEntry& entry = list.mEntries[i];
    if (entry.mInUse) continue;
    if (cameraUsable(entry))
      found = SInt32(i);
    else
      entry.mInUse = 1;
  }
  if (found < 0) return -1;
  if (list.mCount == 1) return found;

  auto* browser = static_cast<MyCameraBrowserStruct*>(calloc(1, sizeof(MyCameraBrowserStruct)));
  if (!browser) return memFullErr;
  IBNibRef nib = nullptr;
  OSStatus err = CreateNibReference(CFSTR("ORX_DCAM"), &nib);
  if (err != noErr) {
    free(browser);
    return err;
  }
  err = CreateWindowFromNib(nib, CFSTR("CameraBrowser"), &browser->mWindow);
  DisposeNibReference(nib);
  if (err != noErr) {
    free(browser);
    return err;
  }
  browser->mChoice = found + 1;
  browser->mResult = userCanceledErr;  // a dialog closed any other way counts as cancelled

  ControlID id = {kCameraPopupSignature, 0};
  ControlRef popup = nullptr;
  err = GetControlByID(browser->mWindow, &id, &popup);
  if (err == noErr) {
    MenuRef menu = GetControlPopupMenuHandle(popup);
    SetControl32BitMaximum(popup, SInt32(count));
    if (menu) {
      for (UInt32 i = 0; i < count; i++) {
        char text[128];
        snprintf(text, sizeof text, "%s - #0x%X", list.mEntries[i].mName, unsigned(list.mEntries[i].mCameraID));
        CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8);
        if (!s) continue;
        if (i == 0 && CountMenuItems(menu) > 0)
          SetMenuItemTextWithCFString(menu, 1, s);
        else
          AppendMenuItemTextWithCFString(menu, s, 0, 0, nullptr);
        CFRelease(s);
        if (list.mEntries[i].mInUse)
          DisableMenuItem(menu, MenuItemIndex(i + 1));
        else
          EnableMenuItem(menu, MenuItemIndex(i + 1));
      }
    }
    SetControl32BitValue(popup, browser->mChoice);
  }
  if (err == noErr) {
    EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    EventHandlerUPP upp = NewEventHandlerUPP(myCameraBrowserEventHandler);
    EventHandlerRef handler = nullptr;
    err = InstallWindowEventHandler(browser->mWindow, upp, 1, &commandEvent, browser, &handler);
    if (err == noErr) {
      ShowWindow(browser->mWindow);
      RunAppModalLoopForWindow(browser->mWindow);
      HideWindow(browser->mWindow);
      RemoveEventHandler(handler);
    }
    DisposeEventHandlerUPP(upp);
  }
  SInt32 result = err != noErr ? err : browser->mResult == noErr ? browser->mChoice - 1 : browser->mResult;
  DisposeWindow(browser->mWindow);
  free(browser);
  return result;
}
