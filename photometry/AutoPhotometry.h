// Automatic star photometry of one picture ("AMSP").
#pragma once
#include "platform/coreservices/MacTypes.h"

// Measures every star of a picture the user picks against one star of known
// magnitude ("AutoPhotometryData_"). 0 after OK, -128 after Cancel, else the
// failing status.
OSStatus myAutoPhotomImageSelectionGUI();
