// The moment of exposure of a movie's frames: the recorder's UTC start stamp
// read back from the time-code track, Julian Days, and the time column that
// the photometry and astrometry tables print for every frame.
//
// A real time is a double count of seconds since 1904-01-01 00:00:00 UTC;
// 0.0 means that no real time is known. Whole seconds are counted in 64 bits,
// so dates past 2040-02-06 06:28:16 stay right.
#pragma once
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Movies.h"

// Real time of the first frame from the movie's start stamp
// ("STARTED%4d%2d%2d_%2d%2d%2d.%2dUTC"); 0.0 without a time-code track or
// when the text is not a stamp.
double myExtractRealTimeFromMovieTimeCodeData(Movie movie);

// The same reading of a stamp text (NUL-terminated): it needs "STARTED" and
// "UTC"; blanks read as '0'; fields sit at fixed positions from the text's
// start (year 7-10, month 11-12, day 13-14, hour 16-17, minute 18-19, seconds
// 20-21, or 20-24 with the hundredths when the text has 28 characters or
// more). A field that does not start with a digit reads 0; no range checks.
// 0.0 when the text is not a stamp or names a moment not after 1904.
double myRealTimeFromStartStamp(const char* text);

// Julian Day of a calendar date and time (the seconds plus `fraction`), by
// the Gregorian rule with B = 2 - A + trunc(A / 4).
double myCalculateJDNFromUTC(double fraction, const LongDateRec* date);

// The time column of a table row, without a trailing tab. Date mode (1):
// "YYYYMMDD\tHH:MM:SS.hh\tJD" with "%.8f" Julian Day; else "%8.2f" of the
// elapsed seconds, leading blanks kept. Numbers in the C form.
// The hundredths come from the fraction rounded to the microsecond and then
// truncated, so .06 prints 06 and .999 prints 99; a fraction that rounds to a
// whole second carries into the seconds.
constexpr size_t kTableTimeStampSize = 64;
void myMakeTableTimeStamp(double t, int dateMode, char stamp[kTableTimeStampSize]);
