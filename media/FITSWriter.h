// One grey frame as a FITS file: a single 2880-byte primary header of
// 80-column cards, then the samples big-endian (16- and 32-bit samples offset
// to signed with BZERO), padded to whole 2880-byte blocks.
#pragma once
#include <ctime>
#include <functional>
#include <string>

#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"

// samples: packed rows of width samples in host order; bytesPerSample 1, 2 or 4.
// The file must not exist (its creation status is returned and it is left
// alone). Any later failure deletes the file.
OSStatus myMonoToFITSFileFSSPEC(FSSpec location, const void* samples, UInt32 bytesPerSample, UInt32 width,
                                UInt32 height);

// The OBJECT card's value: quotes doubled, bytes outside ASCII 32-126 as '_',
// cut so the card stays within 80 columns.
std::string myFITSObjectValue(const unsigned char* name, size_t length);
// Tests set the UTC clock the DATE card reads; an empty function restores time().
void SkyloomSetFITSClock(std::function<time_t()> clock);
