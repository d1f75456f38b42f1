// The camera's start, stop and close, as the two camera windows' handlers
// call them: starting and stopping video live with the video start-up code,
// closing with the opening code.
#pragma once
#include "app/CameraOpening.h"
#include "app/CameraWindowData.h"
#include "app/VideoStartStop.h"
