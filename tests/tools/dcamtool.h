// A test-only tool around the camera driver: lists the cameras of the
// simulated rig and what their features offer and hold. Not part of the
// product.
//
//   dcamtool [--rig all|default|host] list
//   dcamtool [--rig all|default|host] features [camera id in hex]
//   dcamtool [--rig ...] stream <camera id in hex> <frames> <folder>
//            fixed <format> <mode> <fps> | seven <mode> <colour id> [<width> <height>]
//
// stream writes the frames the driver delivers (host order, as the
// application gets them) to <folder>/frame-0001.raw and on.
//
// --rig all (the default) installs one simulated camera of each kind
// (default colour, FireWire mono, FireWire colour, USB); --rig default keeps
// the simulated bus as the application finds it; --rig host installs nothing,
// so real cameras are used when the host has any (the simulated rig
// otherwise), as the application does.
#pragma once
#include <cstdio>

// Runs the tool and writes its report to `out`; the exit status.
int DCAMToolRun(int argc, const char* const* argv, FILE* out);
