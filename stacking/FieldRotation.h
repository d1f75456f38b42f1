// Field rotation of a recorded movie ("FRMO").
#pragma once

// Marks two stars on the first and last frame and writes the de-rotated
// movie "FIELDROT_" + the source's name. Main thread, to its end.
void myFieldRotateMovie();
