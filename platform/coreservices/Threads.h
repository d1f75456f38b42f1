// Thread Manager stand-in: so far only the yield that long loops on the main
// thread call between passes. There are no cooperative threads here; the
// yield hands the processor to any other runnable thread.
#pragma once
#include "platform/coreservices/MacTypes.h"

OSErr YieldToAnyThread();
