// The camera options sheet "PrefOptions" ("pref").
#pragma once

// Runs the sheet on the camera window in front; nothing without one.
void myDoPreferences();
