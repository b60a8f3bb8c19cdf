// The application object: starts the window, installs the eight GLFW input
// callbacks that turn native input into window events, and runs the main
// loop until the window should close.
#pragma once

#include <memory>

class QvWindow;

class QvApplication {
public:
    // Drives the given window, which the caller owns and keeps alive.
    explicit QvApplication(QvWindow* window);
    // Drives a plain window of its own (no world: the loop clears and swaps).
    QvApplication();
    virtual ~QvApplication();

    // Creates the window, installs the callbacks, restores the main window's
    // decoration, then runs frames until the window should close.
    virtual void start();
    // Asks the window to close.
    virtual void stop();

    // The start-up half of start(): everything before the first frame.
    void _startUp();
    // One frame: poll events, clear, draw the world, swap.
    void _frame();
    void _bindGLFWCallbacks();

private:
    void _initialization(QvWindow* window);

    std::unique_ptr<QvWindow> ownWindow;
};
