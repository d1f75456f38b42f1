// Picture files to an aligned movie ("IMAM").
#pragma once
#include "platform/coreservices/MacTypes.h"

// Aligns the chosen pictures on their object and writes them as one 32-bit
// movie. Main thread, to its end; errors end in one alert.
OSErr myFilesToARGB32AlignedMovie();
