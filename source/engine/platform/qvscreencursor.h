// The pointer's position on the whole screen, also while it is outside the
// window. GLFW 3.3 only reports the cursor relative to its own window, so the
// tracker asks the X server directly.
#pragma once

// The pointer and the area it moves in: the X screen's root window, which
// spans every monitor of the desktop (two 1920 x 1080 monitors side by side
// give 3840 x 1080), not only the primary one.
struct QvScreenCursor {
    double x = 0.0;  // root-window pixels
    double y = 0.0;
    int screenWidth = 0;  // the root window's size, read with the position
    int screenHeight = 0;
};

// The pointer's position in root-window (screen) pixels, with the root
// window's current size, so that a desktop that grew or shrank (a monitor
// plugged in or out) is seen at once. False, with every field 0, when no X
// display is open (GLFW not initialised) or the pointer is on another screen
// of the display.
bool qvGetScreenCursor(QvScreenCursor* cursor);
