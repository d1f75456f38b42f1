// CoreFoundation stand-in: objects, strings, numbers, collections, data,
// absolute time, time zones and Gregorian dates, run loops, file URLs, the
// main bundle's resources and localized strings.
#pragma once
#include "platform/corefoundation/CFArray.h"
#include "platform/corefoundation/CFBase.h"
#include "platform/corefoundation/CFBundle.h"
#include "platform/corefoundation/CFData.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/corefoundation/CFDictionary.h"
#include "platform/corefoundation/CFNumber.h"
#include "platform/corefoundation/CFPreferences.h"
#include "platform/corefoundation/CFRunLoop.h"
#include "platform/corefoundation/CFString.h"
#include "platform/corefoundation/CFURL.h"
