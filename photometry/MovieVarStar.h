// Variable-star photometry of a recorded movie ("BMRP").
#pragma once

// Picks a movie and its comparison and variable stars, measures them in every
// frame and writes the tables "SimplePhotomVar_" / "DetailedPhotomVar_".
void myDoMovieVARStarProcessing();
