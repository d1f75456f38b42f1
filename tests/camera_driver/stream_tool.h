// The streaming tool of the camera tests (stream_tool_support.cpp).
#pragma once
#include <cstdio>
#include <cstring>
#include <string>

#include "camera_driver/DCAMCameraStruct.h"

// Lists the cameras to `out` (when not null), opens list entry `index`,
// sets Format 0 `mode` at `fps` and writes `frames` delivered frames as
// dir/frame_NNNN.pgm. 0, or the first failure.
OSStatus StreamFramesToFiles(UInt32 index, int frames, const std::string& dir, UInt32 mode, double fps,
                             std::FILE* out);
