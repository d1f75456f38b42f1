#include "app/CommandPlaceholders.h"

#include "app/PreferencesDialog.h"
#include "photometry/AutoPhotometry.h"
#include "photometry/MovieAstrometry.h"
#include "stacking/FieldRotation.h"
#include "stacking/FilesToAlignedMovie.h"
#include "stacking/MovieCalibration.h"

std::vector<MyPlaceholderCall>& myPlaceholderCalls() {
  static std::vector<MyPlaceholderCall> calls;
  return calls;
}

namespace {
void record(const char* name, long argument = 0) { myPlaceholderCalls().push_back({name, argument}); }
}  // namespace

void myDoPreferences() { record("myDoPreferences"); }
void myDarkSubtractOrFlattenMovie(int mode) { record("myDarkSubtractOrFlattenMovie", mode); }
void myFieldRotateMovie() { record("myFieldRotateMovie"); }
OSErr myFilesToARGB32AlignedMovie() {
  record("myFilesToARGB32AlignedMovie");
  return noErr;
}
void myDoMovieAstrometricProcessing() { record("myDoMovieAstrometricProcessing"); }
OSStatus myAutoPhotomImageSelectionGUI() {
  record("myAutoPhotomImageSelectionGUI");
  return noErr;
}
