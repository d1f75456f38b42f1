// Numbers in preference domains, stored as text: the value rounded to single
// precision and written "%f" (six decimals, no exponent: 0.1 is "0.100000"),
// read back with strtod, always in the C numeric locale whatever the user's
// locale. These two routines are the only way numbers enter and leave the
// domains; callers synchronize the domain after a batch of writes.
#pragma once
#include "platform/corefoundation/CoreFoundation.h"
#include "platform/coreservices/MacTypes.h"

// Results of myVerifyCFStrForApplicationID besides 0 and memFullErr (-108:
// the stored value is not a string, or not one of at most 255 bytes in the
// application text encoding).
enum : OSStatus {
  kPrefTextMissing = -1,    // no application ID, or nothing stored under the key
  kPrefTextEmpty = -2,      // the stored text is empty
  kPrefTextOverflow = -3,   // the number is plus or minus infinity
  kPrefTextOutOfRange = -4, // checkRange is 1 and the number lies outside [min, max]
};

// 0, or -108 when the text cannot be made into a string.
OSStatus myWriteOutCFStrForDblApplicationID(CFStringRef applicationID, CFStringRef key, double value);
// *value is 0.0 unless the result is 0. Trailing characters are not checked,
// so text that is not a number reads as 0.0 (text reading as NaN too).
OSStatus myVerifyCFStrForApplicationID(CFStringRef applicationID, CFStringRef key, SInt32 checkRange, double min,
                                       double max, double* value);
