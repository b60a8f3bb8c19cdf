// Screen cursor: XQueryPointer and XGetGeometry on the root window of GLFW's
// own X display.
#include "engine/platform/qvscreencursor.h"

#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>

bool qvGetScreenCursor(QvScreenCursor* cursor)
{
    *cursor = QvScreenCursor{};
    // Before glfwInit (or after glfwTerminate) GLFW has no display open.
    Display* display = glfwGetX11Display();
    if (display == nullptr) {
        return false;
    }
    Window root = DefaultRootWindow(display);
    Window rootReturn = 0;
    Window childReturn = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, root, &rootReturn, &childReturn, &rootX, &rootY, &windowX, &windowY, &mask)) {
        return false;
    }
    // Asked of the server each time: Xlib's DisplayWidth keeps the size the
    // connection opened with and misses a monitor plugged in later.
    int originX = 0;
    int originY = 0;
    unsigned int rootWidth = 0;
    unsigned int rootHeight = 0;
    unsigned int border = 0;
    unsigned int depth = 0;
    if (!XGetGeometry(display, root, &rootReturn, &originX, &originY, &rootWidth, &rootHeight, &border,
                      &depth)) {
        return false;
    }
    cursor->x = rootX;
    cursor->y = rootY;
    cursor->screenWidth = int(rootWidth);
    cursor->screenHeight = int(rootHeight);
    return true;
}
