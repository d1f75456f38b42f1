// Preferences: one domain per application ID, kept as an XML property list
// "<domain>.plist" in the configuration directory
// (SkyloomConfigurationDirectory() of the File Manager layer, which tests
// point at a temporary folder).
//
// - A domain is read from its file on first use and held in memory. Set
//   changes the memory copy at once; Synchronize writes the changes made in
//   this process over what the file holds now (another process's changes to
//   other keys survive) and reads back everything else, so a later Copy sees
//   what other processes wrote and synchronized.
// - Files are written whole into a temporary file in the same folder, flushed
//   to disk and renamed over the domain, so a crash never leaves half a domain.
//   A synchronize that writes holds an exclusive flock on "<domain>.plist.lock"
//   from its re-read of the file through the rename, so processes that
//   synchronize one domain at once keep each other's keys.
// - A damaged or unreadable domain file reads as an empty domain (each key
//   missing) and is left alone until a complete new file replaces it; the
//   damaged file is then kept beside it as "<domain>.plist.damaged".
// - Values are property-list objects: strings, numbers, booleans, dates (kept
//   to the whole second, years 0000 to 9999), data, arrays and dictionaries
//   with string keys. Set ignores anything else, with a line on standard error.
// - An application ID that cannot be a file name (empty, "/", "." or "..")
//   stores nothing: Copy gives null, Synchronize false.
//
// Every call is thread-safe.
#pragma once
#include "platform/corefoundation/CFBase.h"

typedef CFTypeRef CFPropertyListRef;

// Null value removes the key.
void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID);
// A new object (the caller releases it), or null when the key holds nothing.
CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
// True when the domain's file now holds this process's changes.
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);

// ---- Tests ----
// Forgets every domain held in memory (unsynchronized changes too), so the next
// call reads the files again, as a new process would.
void SkyloomPreferencesForgetAll();
// The next `count` domain-file writes stop after half the document and fail.
void SkyloomFailPreferenceWrites(UInt32 count);
