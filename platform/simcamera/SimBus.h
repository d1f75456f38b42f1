// The simulated bus: the rig of simulated cameras the IOKit layer sees when
// no real back end is installed, and the test hook that replaces it.
//
// Without a hook the rig is one FireWire colour camera (the default
// personality), so the application finds and opens it without asking.
#pragma once
#include <memory>
#include <vector>

#include "platform/simcamera/SimCamera.h"

// Replaces the rig with cameras built from `personalities`, in registry order
// (tests call this; the cameras returned are live and can be driven).
std::vector<std::shared_ptr<SimCamera>> SimInstallRig(const std::vector<SimCameraPersonality>& personalities);
// Back to the default rig.
void SimRemoveRig();
// True once a test has installed or removed a rig: the layer then serves the
// simulator even when real cameras are plugged in.
bool SimRigPinned();
// The cameras of the current rig, plugged or not.
std::vector<std::shared_ptr<SimCamera>> SimRigCameras();
// Plug and unplug change what enumeration sees; an unplugged camera answers
// kIOReturnNoDevice to every access.
void SimPlug(const std::shared_ptr<SimCamera>& camera);
void SimUnplug(const std::shared_ptr<SimCamera>& camera);
// A bus reset advances the generation.
void SimBusReset();

// The back end that serves the rig to the IOKit layer.
IOKitBackend* SimCameraBackend();
