// Astrometry of a recorded movie ("BAST").
#pragma once

// Picks a movie, three reference stars and the moving objects, and writes
// their sky positions frame by frame to "Astrometric_".
void myDoMovieAstrometricProcessing();
