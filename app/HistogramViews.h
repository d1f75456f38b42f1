// The control window's histogram view, the brightness monitor's graph and
// the sensor temperature shown in the histogram slot. Main thread only; the
// brightness samples are appended by the frame pipeline on the delivery
// thread, and a repaint reads their count once.
#pragma once
#include <cstddef>

#include "app/CameraWindowData.h"
#include "platform/hitoolbox/HIToolbox.h"

// ---- the two custom views ("com.skyloom.camera.histogram",
// "com.skyloom.brightness.graph"); user data = the camera control record
OSStatus myCameraHistogramCustomControlHandler(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData);
OSStatus myBrighnessGraphCustomControlHandler(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData);

// ---- brightness graph
// The layout of one repaint: the box (bottom-up), samples per column p and
// columns m. empty is set when the box is too narrow for a curve.
struct MyBrightnessGraphLayout {
  float minX, minY, maxX, maxY;
  UInt32 last;
  UInt32 perColumn;  // p
  UInt32 columns;    // m
  float scale;       // q
  bool empty;
};
MyBrightnessGraphLayout myBrightnessGraphLayout(const Rect& frame, float portHeight, UInt32 count, float lowest,
                                                float highest);
// The label of the time axis at tau seconds ("%.2fh", "%.1fm" or "%.0fs").
void myBrightnessTimeLabel(double tau, char* out, size_t outSize);
// The value of column i: its group of samples reduced by mode (1 mean,
// 2 minimum, 3 maximum; others the mean). *start moves to the next group.
float myBrightnessColumnValue(const float* samples, const MyBrightnessGraphLayout& g, UInt32 i, UInt32* start,
                              UInt32 mode);

void myUpdateBrighnessGraphBox(EventLoopTimerRef inTimer, void* inUserData);
void myDrawBrightnessGraphAreaBox(MyCameraWindowDataStruct* record);
void myEraseBrightnessGraphAreaBox(MyCameraWindowDataStruct* record);

// ---- sensor temperature (feature 0x52C); kelvin throughout
constexpr UInt32 kMyTemperatureFeature = 0x52C;
constexpr MenuID kMyTemperatureMenuID = 13;
OSStatus myGetCurrentTemperature(MyDCAMCameraStruct* handle, UInt32 mode, float* kelvin);
OSStatus mySetMaintainTemperature(MyDCAMCameraStruct* handle, UInt32 mode, double targetKelvin, UInt8 on);
OSStatus myInstallTemperatureTimer(MyCameraWindowDataStruct* record);
void myPostTemperatureTimer(EventLoopTimerRef inTimer, void* inUserData);
void myRemoveTemperatureTimer(MyCameraWindowDataStruct* record);
OSStatus myGetMaintainTemperatureGUI(MyCameraWindowDataStruct* record);
OSStatus myGetMaintainTemperatureProcHandler(EventHandlerCallRef inCall, EventRef inEvent, void* inUserData);
void myDrawTemperatureInHistogramSlot(MyCameraWindowDataStruct* record);
// Celsius or Fahrenheit as kelvin, in single precision.
float myCelsiusToKelvin(float celsius);
float myFahrenheitToKelvin(float fahrenheit);
