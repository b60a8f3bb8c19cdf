// Screen cursor: XQueryPointer on the root window of GLFW's own X display.
#include "engine/platform/qvscreencursor.h"

#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>

bool qvGetScreenCursorPos(double* x, double* y)
{
    *x = 0.0;
    *y = 0.0;
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
    *x = rootX;
    *y = rootY;
    return true;
}
