// Dark-subtracted and flat-fielded movies ("DKMO", "FLMO").
#pragma once

// Calibrates a movie the user picks with one picture, frame by frame, into a
// new movie: mode 0 subtracts a dark frame, 1 divides by a flat field. Runs
// to its end on the main thread.
void myDarkSubtractOrFlattenMovie(int mode);
