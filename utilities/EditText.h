// Numeric edit-text fields, checked when the user confirms a dialog: the text
// is read as a number (C numeric locale, whatever the user's locale), checked
// against a range when asked, and a refusal beeps and, with a range, puts the
// nearer limit back into the field.
#pragma once
#include <cstddef>

#include "platform/hitoolbox/HIToolbox.h"

// 1 when the control's text is a number (and, with checkRange 1, inside
// [min, max]; the number is written even when it is outside), else 0.
// Text that reads as NaN or overflows to an infinity is not a number.
SInt32 myIsStringOkay(ControlRef control, SInt32 checkRange, double min, double max, double* value);

// 0 accepted (value stored); -50 refused; the lookup's status when the
// control is missing. Refused with checkRange 0: beep, field and value left
// alone. Refused otherwise: value and field get min when the number read
// (0 for text that is no number) is not above min, else max; then a beep.
OSStatus myTestFloatEditTxt(WindowRef window, OSType signature, SInt32 id, UInt32 decimals, SInt32 checkRange,
                            float min, float max, float* value);
// As the float tester; the number is first held to the type's range, then
// truncated toward zero when stored; the field is written as a whole number.
OSStatus myTestU32EditTxt(WindowRef window, OSType signature, SInt32 id, SInt32 checkRange, UInt32 min, UInt32 max,
                          UInt32* value);
OSStatus myTestS32EditTxt(WindowRef window, OSType signature, SInt32 id, SInt32 checkRange, SInt32 min, SInt32 max,
                          SInt32* value);

// The field text of a value: "%d" of the truncated value for 0 decimals,
// "%.1f" to "%.6f" for 1 to 6, "%f" above; C numeric locale.
void myFormatEditTextValue(double value, UInt32 decimals, char* out, size_t outSize);
