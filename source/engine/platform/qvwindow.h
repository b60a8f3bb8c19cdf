// The one GLFW window and its OpenGL context: the small undecorated splash
// window, its growth into the 1024x768 main window with frame and icon, the
// thin operations the main loop needs, and the twelve events that the input
// callbacks fire. Also its pure helpers: the icon decoder and window
// placement.
#pragma once

#include "engine/core/qvevents.h"

#include <GLFW/glfw3.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QvWorld;

// A decoded window icon: RGBA bytes, rows top first, as GLFW takes them.
struct QvIconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;
};

// Decodes the bytes of an icon picture into an upright, unmirrored RGBA image
// of at most 256 x 256, apart (qvDecodeApart) as any picture: a BMP (of any
// info header, its colour masks placing its channels) as one, any other
// picture (a PNG, a GIF...) as its content shows, its size taken from its
// header before any pixel is decoded. On malformed input returns nothing and
// says why in `error`.
std::optional<QvIconImage> decodeIcon(std::span<const std::uint8_t> file, std::string& error);

// Top-left corner that centres a window of the given size on a screen.
struct QvWindowPosition {
    int x = 0;
    int y = 0;
};
QvWindowPosition centredWindowPosition(int screenWidth, int screenHeight, int width, int height);

class QvWindow {
public:
    // Initialises GLFW; throws std::runtime_error("Error! Library GLFW didn't
    // initialized!") when it cannot, followed by a line with GLFW's reason and
    // a line naming the X display when that is what could not be opened.
    QvWindow();
    // Destroys the window and terminates GLFW. Derived windows release their
    // GL objects first, while the context still exists.
    virtual ~QvWindow();
    QvWindow(const QvWindow&) = delete;
    QvWindow& operator=(const QvWindow&) = delete;

    int width = 1024;
    int height = 768;
    int screenWidth = 0;
    int screenHeight = 0;
    std::string title = "QvWindow";
    float glslVersion = std::numeric_limits<float>::quiet_NaN();
    bool vsyncOff = false;  // written by the scene's VSync switch
    bool onTop = false;
    GLFWwindow* handle = nullptr;

    QvEvent<QvWindow, QvEventArgs> onCreate;
    QvEvent<QvWindow, QvCharEventArgs> onChar;
    QvEvent<QvWindow, QvKeyboardEventArgs> onKey;
    QvEvent<QvWindow, QvKeyboardEventArgs> onKeyDown;
    QvEvent<QvWindow, QvKeyboardEventArgs> onKeyUp;
    QvEvent<QvWindow, QvMouseEventArgs> onMouseButtonPress;
    QvEvent<QvWindow, QvMouseEventArgs> onMouseButtonRelease;
    QvEvent<QvWindow, QvCursorEventArgs> onCursorMove;
    QvEvent<QvWindow, QvScrollEventArgs> onScroll;
    QvEvent<QvWindow, QvWindowEventArgs> onResize;
    QvEvent<QvWindow, QvEventArgs> onQuit;
    QvEvent<QvWindow, QvDropEventArgs> onDrop;

    // Opens the 512x256 splash window, makes its context current, reads the
    // GLSL version and shows the splash frame. Throws std::runtime_error
    // ("Error! Window didn't created!") when the window cannot be made.
    virtual void create();
    // Turns the splash into the centred, decorated main window with its icon.
    virtual void restoreWindowDecor();
    virtual void hide();
    virtual void show();
    virtual void close();
    virtual void setAttributeOnTop(bool on);
    virtual float getWindowWidth();
    virtual float getWindowHeight();
    virtual void swapBuffers();
    virtual double getTime();
    virtual int windowShouldClose();
    virtual void clear();
    virtual void setViewport(int width, int height);
    virtual void waitEvents();
    virtual void pollEvents();
    virtual QvWorld* getWorld();

    // One frame of the logo on green into the splash window.
    void drawSplashScreen();

    void _initializeGL();
    void _makeContext();
    void _getGLInfo();
    // Sets the window icon from "icons/icon.bmp", reading no more of it than
    // its header says the picture needs. A missing or malformed file, or
    // anything but a regular file in its place, prints one line with the
    // reason and leaves the window without an icon.
    void _loadIcon();

    void setWindowCloseCallback(GLFWwindowclosefun callback);
    void setWindowSizeCallback(GLFWwindowsizefun callback);
    void setKeyCallback(GLFWkeyfun callback);
    void setCharCallback(GLFWcharfun callback);
    void setMouseButtonCallback(GLFWmousebuttonfun callback);
    void setCursorPosCallback(GLFWcursorposfun callback);
    void setScrollCallback(GLFWscrollfun callback);
    void setDropCallback(GLFWdropfun callback);
};
