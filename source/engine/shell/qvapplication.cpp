// QvApplication: the GLFW callbacks, each refilling one shared argument
// object and firing the matching window event, and the main loop.
#include "engine/shell/qvapplication.h"

#include "engine/core/qvevents.h"
#include "engine/platform/qvwindow.h"
#include "engine/shell/qvworld.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The callbacks are plain functions, so the window they feed and the shared
// argument objects live here. Each callback completes its whole event road
// before GLFW calls the next one, so one object per kind suffices.
QvWindow* qvWindow = nullptr;
QvEventArgs _ea;
QvWindowEventArgs _wea;
QvCharEventArgs _chea;
QvKeyboardEventArgs _kea;
QvMouseEventArgs _mea;
QvCursorEventArgs _cea;
QvScrollEventArgs _sea;
QvDropEventArgs _dea;

// Cursor positions are handed on as whole pixels, truncated toward zero; a
// value beyond the 32-bit range saturates (converting it is undefined).
std::int32_t truncatePixel(double v)
{
    if (std::isnan(v)) return 0;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    return std::int32_t(std::trunc(std::clamp(v, lowest, highest)));
}

void _windowCloseCallback(GLFWwindow*)
{
    qvWindow->onQuit(qvWindow, &_ea);
}

void _windowSizeCallback(GLFWwindow*, int width, int height)
{
    _wea.width = width;
    _wea.height = height;
    qvWindow->onResize(qvWindow, &_wea);
}

void _keyCallback(GLFWwindow*, int key, int scancode, int action, int mods)
{
    _kea.key = key;
    _kea.scancode = scancode;
    _kea.action = action;
    _kea.mods = mods;
    qvWindow->onKey(qvWindow, &_kea);
}

void _charCallback(GLFWwindow*, unsigned int codepoint)
{
    _chea.codepoint = codepoint;
    qvWindow->onChar(qvWindow, &_chea);
}

void _mouseButtonCallback(GLFWwindow* window, int button, int action, int mods)
{
    double x = 0.0;
    double y = 0.0;
    glfwGetCursorPos(window, &x, &y);
    _mea.x = truncatePixel(x);
    _mea.y = truncatePixel(y);
    _mea.button = button;
    _mea.action = action;
    _mea.mods = mods;
    if (action == GLFW_PRESS) {
        qvWindow->onMouseButtonPress(qvWindow, &_mea);
    } else if (action == GLFW_RELEASE) {
        qvWindow->onMouseButtonRelease(qvWindow, &_mea);
    }
}

void _cursorPositionCallback(GLFWwindow*, double x, double y)
{
    _cea.x = truncatePixel(x);
    _cea.y = truncatePixel(y);
    qvWindow->onCursorMove(qvWindow, &_cea);
}

void _scrollCallback(GLFWwindow*, double xoffset, double yoffset)
{
    _sea.xoffset = xoffset;
    _sea.yoffset = yoffset;
    qvWindow->onScroll(qvWindow, &_sea);
}

void _dropCallback(GLFWwindow*, int count, const char** paths)
{
    _dea.count = count;
    _dea.paths = paths;
    qvWindow->onDrop(qvWindow, &_dea);
}

}  // namespace

QvApplication::QvApplication(QvWindow* window)
{
    _initialization(window);
}

QvApplication::QvApplication() : ownWindow(std::make_unique<QvWindow>())
{
    _initialization(ownWindow.get());
}

QvApplication::~QvApplication() = default;

void QvApplication::_initialization(QvWindow* window)
{
    qvWindow = window;
    _ea = {};
    _wea = {};
    _chea = {};
    _kea = {};
    _mea = {};
    _cea = {};
    _sea = {};
    _dea = {};
}

void QvApplication::start()
{
    _startUp();
    while (qvWindow->windowShouldClose() == 0) _frame();
}

void QvApplication::stop()
{
    qvWindow->close();
}

void QvApplication::_startUp()
{
    qvWindow->create();
    // Installed before the window grows, so that this resize reaches the world.
    _bindGLFWCallbacks();
    qvWindow->restoreWindowDecor();
}

void QvApplication::_frame()
{
    qvWindow->pollEvents();
    qvWindow->clear();
    QvWorld* world = qvWindow->getWorld();
    const double t = qvWindow->getTime();
    if (world != nullptr) world->drawRequest(t);
    qvWindow->swapBuffers();
}

void QvApplication::_bindGLFWCallbacks()
{
    qvWindow->setWindowCloseCallback(_windowCloseCallback);
    qvWindow->setWindowSizeCallback(_windowSizeCallback);
    qvWindow->setKeyCallback(_keyCallback);
    qvWindow->setCharCallback(_charCallback);
    qvWindow->setMouseButtonCallback(_mouseButtonCallback);
    qvWindow->setCursorPosCallback(_cursorPositionCallback);
    qvWindow->setScrollCallback(_scrollCallback);
    qvWindow->setDropCallback(_dropCallback);
}
