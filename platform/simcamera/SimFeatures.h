// Camera features of the simulated camera: what its feature control
// registers do when written and read, and what they do to the picture.
#pragma once
#include "platform/simcamera/SimCamera.h"

// Installs the feature behaviour on a camera (the constructor does):
// - a control register (0x800 + 4n, 0x880..0x88C) of an absent feature
//   ignores writes; a present one always reads bit 31 set, keeps the auto,
//   one-push and absolute-on bits only when its inquiry offers them, stays
//   on when it cannot be switched off, and keeps its value (both white
//   balance halves) inside the inquiry's range;
// - one-push (bit 26) clears itself: reads show it set
//   SimFeatureOnePushReads() times after the write (or after the bit is
//   first seen), then clear;
// - temperature (0x82C): a write sets the target (bits 23..12) and leaves
//   the current value (bits 11..0) alone; every read answers the current
//   value and then moves it towards the target by a quarter of the
//   distance (at least 1), as a cooled sensor settles;
// - trigger (0x830): polarity, source, mode and parameter are stored as
//   written;
// - the absolute value (block + 8) is clamped to the block's minimum and
//   maximum.
void SimInstallFeatureBehaviour(SimCamera& camera);
// How many reads show a one-push bit set before it clears.
constexpr int SimFeatureOnePushReads() { return 1; }

// What the features do to the picture. Exposure relative to 10 ms at 0 dB:
// the shutter in seconds (the absolute value when its absolute control is
// on, else the raw value in units of 20 µs; 10 ms without a shutter) times
// the gain as a factor (absolute dB, else the raw value mapped linearly from
// the inquiry's maximum onto 24 dB; 0 dB without gain or with gain off).
double SimExposure(const SimCamera& camera);
// The same for an integration time of `seconds` set by something other than
// the shutter (a trigger input held active, transmission held off).
double SimExposureFor(const SimCamera& camera, double seconds);
// White balance as per-channel gains R, G, B: V/R / 512, 1, U/B / 512 while
// the feature is on, else 1, 1, 1.
void SimWhiteBalance(const SimCamera& camera, double gains[3]);
