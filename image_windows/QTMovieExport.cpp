#include "image_windows/QTMovieExport.h"

#include <cstdio>

#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/MovieExport.h"
#include "platform/quicktime/Movies.h"
#include "utilities/Alerts.h"
#include "utilities/FileDialogs.h"

namespace {

void reportFailure(OSErr err) {
  char text[96];
  snprintf(text, sizeof text, "A %d 0x%X error occured in myQTMovieExport", int(err), unsigned(SInt32(err)));
  myPostAlert("", text);
}

}  // namespace

void myQTMovieExport() {
  static const OSType kMovieTypes[] = {FOUR_CHAR_CODE("MooV")};
  FSRef file;
  if (myGetFSRefForReading(nullptr, nullptr, &file, FOUR_CHAR_CODE("****"), 1, kMovieTypes, 0, 0) != noErr) return;
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  OSErr err = QTNewDataReferenceFromFSRef(&file, 0, &dataRef, &dataRefType);
  Movie movie = nullptr;
  if (err == noErr) err = NewMovieFromDataRef(&movie, newMovieActive, nullptr, dataRef, dataRefType);
  if (err == noErr) {
    SetMovieActive(movie, true);
    SetMovieProgressProc(movie, kSkyloomDefaultMovieProgressProc, 0);
    err = ConvertMovieToDataRef(movie, nullptr, dataRef, dataRefType, FOUR_CHAR_CODE("MooV"), FOUR_CHAR_CODE("TVOD"),
                                showUserSettingsDialog | movieToFileOnlyExport | movieFileSpecValid, nullptr);
  }
  if (err != noErr && err != userCanceledErr && err != progressProcAborted) reportFailure(err);
  if (movie != nullptr) {
    SetMovieActive(movie, false);
    DisposeMovie(movie);
  }
  if (dataRef != nullptr) DisposeHandle(dataRef);
}
