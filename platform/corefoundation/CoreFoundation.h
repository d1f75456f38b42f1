// CoreFoundation stand-in: objects, strings, numbers, absolute time, run loops.
#pragma once
#include "platform/corefoundation/CFBase.h"
#include "platform/corefoundation/CFDate.h"
#include "platform/corefoundation/CFNumber.h"
#include "platform/corefoundation/CFRunLoop.h"
#include "platform/corefoundation/CFString.h"
