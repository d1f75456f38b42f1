// Time-code tracks: every finished recording gets a 'tmcd' track holding the
// time of day its recording started, with a UTC start stamp as its source
// name ("STARTED%4d%2d%2d_%2d%2d%2d.%2dUTC", blanks as '0'). Photometry reads
// the stamp back; processed movies get a hidden copy of the track; the user
// can show or hide it.
#pragma once
#include "platform/coreservices/CoreServices.h"
#include "platform/coreservices/Files.h"
#include "platform/quicktime/Movies.h"

// The start stamp of a UTC date-time, rounded to hundredths of a second
// first so that a carry reaches the seconds, minutes and the date.
void myMakeStartStampUTC(const UTCDateTime& start, char stamp[32]);

// Adds the time-code track to a finished recording and writes it back into
// the file. -1 without a video track, -2 for a movie shorter than 2 time
// units, -108 when no movie can be made from the file (a recording that ended
// before its first frame holds none), -61 for a movie that is read but not
// kept in QuickTime's atom layout (an AVI): the file is untouched in all these
// cases.
OSErr myAddInATC(UTCDateTime start, FSSpec file, const char* stamp, UInt8 show, SInt32* frames);
// The first time-code track's definition, start record and source name
// (at most 254 bytes, NUL-terminated); -1 when the movie has none.
OSErr myExtractTimeCodeData(Movie movie, TimeCodeDef* def, TimeCodeRecord* record, char text[255]);
// A hidden copy of a time-code track for a processed movie (written with it).
OSErr myCopyTCToMovie(Movie movie, Track videoTrack, const TimeCodeDef* def, const TimeCodeRecord* record,
                      const char* text);
// The "STCT" (1) and "HTCT" (0) commands: the user picks a movie, and every
// time-code track of it is shown or hidden; a movie without one, or an error
// other than a cancelled dialog, is reported in an alert.
void myHideShowTCT(UInt8 show);
// The same on a given file: 0, -1 when it has no time-code track, or the error.
OSErr myHideShowTCTForFile(const FSRef& file, UInt8 show);
