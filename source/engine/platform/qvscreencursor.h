// The pointer's position on the whole screen, also while it is outside the
// window. GLFW 3.3 only reports the cursor relative to its own window, so the
// tracker asks the X server directly.
#pragma once

// Writes the pointer's position in root-window (screen) pixels into x and y.
// Returns false, with both set to 0, when no X display is open (GLFW not
// initialised) or the pointer is on another screen of the display.
bool qvGetScreenCursorPos(double* x, double* y);
