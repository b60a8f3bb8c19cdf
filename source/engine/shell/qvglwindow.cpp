// QvGLWindow: world creation and the relays from window events to the world.
#include "engine/shell/qvglwindow.h"

#include "engine/shell/qvworld.h"

#include <GLFW/glfw3.h>

QvGLWindow::QvGLWindow(std::string windowTitle)
{
    title = std::move(windowTitle);
    onCreate += [this](QvWindow* s, QvEventArgs* a) { _windowCreate(s, a); };
    onResize += [this](QvWindow* s, QvWindowEventArgs* a) { _windowResize(s, a); };
    onChar += [this](QvWindow* s, QvCharEventArgs* a) { _charAdd(s, a); };
    onKey += [this](QvWindow* s, QvKeyboardEventArgs* a) { _keyPress(s, a); };
    onMouseButtonPress += [this](QvWindow* s, QvMouseEventArgs* a) { _mouseButtonPress(s, a); };
    onMouseButtonRelease += [this](QvWindow* s, QvMouseEventArgs* a) { _mouseButtonRelease(s, a); };
    onCursorMove += [this](QvWindow* s, QvCursorEventArgs* a) { _cursorPositionChange(s, a); };
    onScroll += [this](QvWindow* s, QvScrollEventArgs* a) { _scrollWindow(s, a); };
    onQuit += [this](QvWindow* s, QvEventArgs* a) { _quit(s, a); };
    onDrop += [this](QvWindow* s, QvDropEventArgs* a) { _drop(s, a); };
}

QvGLWindow::~QvGLWindow()
{
    // The scene's GL objects need the context: make sure it is current.
    if (handle != nullptr) glfwMakeContextCurrent(handle);
    world.reset();
}

void QvGLWindow::create()
{
    QvWindow::create();
    _initializeWorld();
}

QvWorld* QvGLWindow::getWorld()
{
    return world.get();
}

void QvGLWindow::_initializeWorld()
{
    world = std::make_unique<QvWorld>(width, height, screenWidth, screenHeight, glslVersion);
    world->window = this;
    world->saveWindow();
}

void QvGLWindow::_windowCreate(QvWindow*, QvEventArgs*) {}

void QvGLWindow::_windowResize(QvWindow*, QvWindowEventArgs* args)
{
    setViewport(args->width, args->height);
    if (world) world->onResize(world.get(), args);
}

// A key becomes key-press always, plus key-down on press or key-up on release;
// a repeat is only a key-press.
void QvGLWindow::_keyPress(QvWindow*, QvKeyboardEventArgs* args)
{
    if (!world) return;
    world->onKeyPress(world.get(), args);
    if (args->action == GLFW_PRESS) world->onKeyDown(world.get(), args);
    if (args->action == GLFW_RELEASE) world->onKeyUp(world.get(), args);
}

void QvGLWindow::_charAdd(QvWindow*, QvCharEventArgs* args)
{
    if (world) world->onChar(world.get(), args);
}

void QvGLWindow::_mouseButtonPress(QvWindow*, QvMouseEventArgs* args)
{
    if (world) world->onMouseButtonPress(world.get(), args);
}

void QvGLWindow::_mouseButtonRelease(QvWindow*, QvMouseEventArgs* args)
{
    if (world) world->onMouseButtonRelease(world.get(), args);
}

void QvGLWindow::_cursorPositionChange(QvWindow*, QvCursorEventArgs* args)
{
    if (world) world->onCursorMove(world.get(), args);
}

void QvGLWindow::_scrollWindow(QvWindow*, QvScrollEventArgs* args)
{
    if (world) world->onScroll(world.get(), args);
}

void QvGLWindow::_quit(QvWindow*, QvEventArgs* args)
{
    if (world) world->onQuit(world.get(), args);
}

void QvGLWindow::_drop(QvWindow*, QvDropEventArgs* args)
{
    if (world) world->onDrop(world.get(), args);
}
