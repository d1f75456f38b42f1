// The text files written at the end of the RA/Dec motion record and of the
// brightness monitor: tab-separated columns, carriage-return line ends, one
// row a sample with its date and time in the system time zone. Both run on
// the main thread once the delivery thread has stopped adding samples, and
// leave the samples for the caller to free.
//
// The user names the file in a save dialog; a cancelled dialog, a file that
// can't be opened or a system without a time zone writes nothing and leaves
// no file behind. No alert is shown.
#pragma once
#include "app/CameraWindowData.h"

// "RA-Dec Track.txt": the object's path in pixels from its first position,
// Y growing upwards in the image.
void mySaveRA_DEC_TrackingInfo(MyCameraWindowDataStruct* record);

// "BrightnessValues.txt": the monitored area's brightness over time.
void myExportOutTimeBrightnessValues(MyCameraWindowDataStruct* record);
