// The application's window: a QvWindow with a title that, once its context
// exists, creates the world and relays every window event to it.
#pragma once

#include "engine/platform/qvwindow.h"

#include <memory>
#include <string>

class QvWorld;

class QvGLWindow : public QvWindow {
public:
    explicit QvGLWindow(std::string title);
    // Releases the world (and with it the scene's GL objects) before the base
    // class destroys the context.
    ~QvGLWindow() override;

    std::unique_ptr<QvWorld> world;

    // The splash window, then the world and through it the scene.
    void create() override;
    QvWorld* getWorld() override;

    void _initializeWorld();

    // Relays: each fires the world's matching event with the same arguments.
    void _windowCreate(QvWindow* sender, QvEventArgs* args);
    void _windowResize(QvWindow* sender, QvWindowEventArgs* args);
    void _charAdd(QvWindow* sender, QvCharEventArgs* args);
    void _keyPress(QvWindow* sender, QvKeyboardEventArgs* args);
    void _mouseButtonPress(QvWindow* sender, QvMouseEventArgs* args);
    void _mouseButtonRelease(QvWindow* sender, QvMouseEventArgs* args);
    void _cursorPositionChange(QvWindow* sender, QvCursorEventArgs* args);
    void _scrollWindow(QvWindow* sender, QvScrollEventArgs* args);
    void _quit(QvWindow* sender, QvEventArgs* args);
    void _drop(QvWindow* sender, QvDropEventArgs* args);
};
