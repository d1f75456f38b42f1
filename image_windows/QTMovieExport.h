// The application command "EXPR": any movie exported through the movie
// toolbox's export dialog (format and destination chosen there). Main thread.
#pragma once

// Asks for a movie, then exports it; cancelling either dialog, or stopping
// the export, ends it silently; any other failure is shown in an alert.
void myQTMovieExport();
