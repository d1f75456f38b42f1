// Which of the listed cameras the application can drive, and which video
// modes of an open camera deliver a raw colour mosaic and which grey frames.
//
// The model lists name cameras that need special treatment (the UBT models
// and the cameras driven with the TSL V1501 exposure scheme); the register
// checks read the Point Grey vendor registers and the Format 7 colour filter;
// the browser lets the user pick a camera when more than one is attached.
// Everything here runs on the main thread; failures print one line on
// standard error and leave the camera rejected or the mode monochrome.
#pragma once
#include "app/CameraWindowData.h"
#include "camera_driver/ORXDCAM.h"
#include "platform/hitoolbox/HIToolbox.h"

// 0 when the name is one of the UBT models, -1 otherwise (exact match).
OSStatus myIsCameraUBT(const char* name);
// 0 when the camera is driven with the TSL V1501 exposure scheme, -1 otherwise.
OSStatus myCheckForTSLV1501Type(const char* name);

// Point Grey vendor registers: the board information (register 0x1F24 >> 20,
// 0x00FFFFFF until it is read) and the Bayer code of the tile-order register
// 0x1040. With setBit7 or clearBit0 the image data format register 0x1048 is
// edited first. 0 or the status of a failed read.
OSStatus myPointGreyCameraCheck(MyDCAMCameraStruct* camera, UInt32* bayerCode, UInt32* boardInfo, UInt32 setBit7,
                                UInt32 clearBit0);

// 0 when the camera offers a grey or raw mode the application can use, else -50.
OSStatus myCheckIIDCAppropriateModes(MyDCAMCameraStruct* camera, MyDCAMCameraPropertiesStruct properties);

// 1 when the mode is colour: the Format 7 colour filter register, else a
// camera that takes a white-balance write back. bayerCode gets 1..4 from the
// filter register, 0 otherwise.
UInt32 myTestForWhiteBalanceColor(MyCameraWindowDataStruct* record, UInt32 format, UInt32 mode, UInt32* bayerCode);

// Appends the item "%dx%d %dbit" (" FMT7" after it for Format 7) to the
// video-size menu and fills entry `index` of the record's video-size table:
// colour or grey, Bayer code, colour coding and the longest frame period.
void myTestCameraColorMonoForFormatMode(MyCameraWindowDataStruct* record, UInt32 index, UInt32 format, UInt32 mode,
                                        UInt32 bitDepth, UInt32 width, UInt32 height, MenuRef menu);

// The 0-based index of the camera to open: the first usable camera, or the
// one picked in the "CameraBrowser" dialog when the list has more than one
// entry. -1 when none can be used, -128 when the user cancels, -108 when
// memory runs out, or the status of a failed nib call.
SInt32 myBrowseCameras(MyDCAMCameraListStruct list);

// The browser's state: the dialog, how it ended and the chosen item (1-based).
struct MyCameraBrowserStruct {
  WindowRef mWindow;
  SInt32 mResult;  // 0 OK, -128 cancelled
  SInt32 mChoice;
};
// The browser's command handler ('ok  ', 'not!' and the 'CAMR' pop-up).
OSStatus myCameraBrowserEventHandler(EventHandlerCallRef handlerCall, EventRef event, void* userData);
