// The right ascension and declination fields of a coordinate-entry sheet
// (hours, minutes, seconds of time; hemisphere letter; degrees, minutes and
// seconds of arc): filling them from a position, testing them on Return or
// Enter, and reading them at OK. Shared by every sheet that asks for a sky
// position; each names its own controls. Main thread only.
#pragma once
#include "platform/hitoolbox/HIToolbox.h"

struct MySkyPositionFields {
  OSType hours, minutes, seconds;               // right ascension
  OSType hemisphere, degrees, arcMinutes, arcSeconds;  // declination
};

// Writes ra and dec (arc seconds; Dec negative south) into the seven fields
// (id 0) and gives each the key filter with refCon.
void myFillSkyPositionFields(WindowRef window, const MySkyPositionFields& fields, float ra, float dec,
                             ControlKeyFilterUPP filter, SRefCon refCon);

// The Return/Enter test of one field: true when signature is one of the
// seven (its value tested and, out of range, clamped with a beep; a bad
// hemisphere letter becomes "N" with a beep), false for any other control.
bool myTestSkyPositionFieldOnKey(WindowRef window, const MySkyPositionFields& fields, OSType signature, SInt32 id);

// Reads the fields in order (each out-of-range value clamped with a beep):
// noErr with the position in arc seconds, or paramErr when a field or the
// resulting RA (beyond a full turn) or Dec (beyond a pole) is refused; the
// outputs are then untouched.
OSStatus myReadSkyPositionFields(WindowRef window, const MySkyPositionFields& fields, float* ra, float* dec);
