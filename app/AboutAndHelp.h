// Three small services of the application's commands: the about box's
// event handler ("abou"), opening the help document ("HELP"), and closing
// every window at quit.
#pragma once
#include "platform/hitoolbox/HIToolbox.h"

// The project's download page, opened by the about box's 'GURL' button.
extern const char kMyDownloadPageURL[];
// Where the help document lives inside the application bundle.
extern const char kMyHelpDocumentPath[];

// The about box's handler; its user data is the about window. 'clos' sends
// a window-close event for the about window to the user-focus target,
// 'GURL' opens the download page; the window's close enables the "abou"
// command again. Always eventNotHandledErr, so the standard handling of
// every event still runs.
OSStatus myAboutBoxWindowEventHandlerProc(EventHandlerCallRef inCall, EventRef inEvent, void* inWindow);

// Opens "Skyloom Help.pdf" of the bundle's resources with the desktop's
// opener. 0 when the opener took it; otherwise the alert "The Skyloom
// Help.pdf file can not be found." (titled "OSX Err") and the status of the
// step that failed.
OSStatus myOpenHelpDocument();

// Sends a window-close event to window and to every window behind it, the
// rearmost first, so each window's own handler runs its close path.
void RecursiveCloseWindow(WindowRef window);
