// The control window of an image window ("ImageControls"): its commands turn
// into changes of the image-window record and a new render, zoom, the
// measurement window with its text log, saving the processed picture as a
// TIFF file, and closing. Main thread only.
#pragma once
#include "image_windows/ImageWindowRecord.h"
#include "platform/hitoolbox/HIToolbox.h"

// The control window's handler (command process, window close, mouse down,
// raw key down); userData is the record. 0 when the event was consumed,
// -9874 otherwise (also after a render, and for Tab and clicks, which go on
// to the system after the focused edit field was validated).
OSStatus myImageControlWindowEventHandler(EventHandlerCallRef call, EventRef event, void* userData);

// The zoom of a "ZOOM" pop-up item: 1.0 for item 10, 0.1 x item below it,
// 1 + 0.25 x (item - 10) above it.
Float32 myImageWindowZoomOfItem(SInt32 item);
