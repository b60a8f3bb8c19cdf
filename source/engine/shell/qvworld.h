// The world stands between the window and the scene: it owns the active
// scene, receives the relayed window events and turns them into work on the
// scene's HUD widgets and their controls (focus, picking, pressed and hovered
// states, keys and characters) or on the scene and its camera (look-around,
// panning, the wheel's screen steps, the per-frame draw request).
#pragma once

#include "engine/core/qvevents.h"

#include <glm/vec4.hpp>

#include <cstdint>
#include <memory>

class QvScene;
class QvWindow;

class QvWorld {
public:
    // Creates the tracker scene, which builds the whole interface.
    QvWorld(int width, int height, int screenWidth, int screenHeight, float glslVersion);
    // Takes a scene that is already built (another scene, or a test's).
    QvWorld(std::unique_ptr<QvScene> scene, int width, int height, int screenWidth, int screenHeight,
            float glslVersion);
    virtual ~QvWorld();
    QvWorld(const QvWorld&) = delete;
    QvWorld& operator=(const QvWorld&) = delete;

    QvWindow* window = nullptr;
    std::unique_ptr<QvScene> scene;
    std::int32_t cartesianWidth = 0;
    std::int32_t cartesianHeight = 0;
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;
    float glslVersion = 0.0f;

    QvEvent<QvWorld, QvEventArgs> onCreate;
    QvEvent<QvWorld, QvCharEventArgs> onChar;
    QvEvent<QvWorld, QvKeyboardEventArgs> onKeyPress;
    QvEvent<QvWorld, QvKeyboardEventArgs> onKeyDown;
    QvEvent<QvWorld, QvKeyboardEventArgs> onKeyUp;
    QvEvent<QvWorld, QvMouseEventArgs> onMouseButtonPress;
    QvEvent<QvWorld, QvMouseEventArgs> onMouseButtonRelease;
    QvEvent<QvWorld, QvCursorEventArgs> onCursorMove;
    QvEvent<QvWorld, QvScrollEventArgs> onScroll;
    QvEvent<QvWorld, QvWindowEventArgs> onResize;
    QvEvent<QvWorld, QvEventArgs> onQuit;
    QvEvent<QvWorld, QvDropEventArgs> onDrop;

    virtual void setCartesianLengths(int width, int height);
    virtual void setScreenDimension(int width, int height);
    // Replaces the active scene; the old one is released.
    virtual void setActiveScene(std::unique_ptr<QvScene> newScene);
    // Stores the frame time in the scene's camera and renders the scene.
    virtual void drawRequest(double time);
    // Hands the window to the scene (VSync and always-on-top switches).
    virtual void saveWindow();

    void _initializeScene();
    void _initializeEvents();

    void _windowResize(QvWorld* sender, QvWindowEventArgs* args);
    void _charAdd(QvWorld* sender, QvCharEventArgs* args);
    void _keyPress(QvWorld* sender, QvKeyboardEventArgs* args);
    void _keyDown(QvWorld* sender, QvKeyboardEventArgs* args);
    void _keyUp(QvWorld* sender, QvKeyboardEventArgs* args);
    void _mouseButtonPress(QvWorld* sender, QvMouseEventArgs* args);
    void _mouseButtonRelease(QvWorld* sender, QvMouseEventArgs* args);
    void _cursorPositionChange(QvWorld* sender, QvCursorEventArgs* args);
    void _scroll(QvWorld* sender, QvScrollEventArgs* args);
    void _quit(QvWorld* sender, QvEventArgs* args);
    void _drop(QvWorld* sender, QvDropEventArgs* args);

private:
    enum class KeyRoute { press, down, up };
    void _routeKey(QvKeyboardEventArgs* args, KeyRoute route);
    glm::vec4 _pickingVector(int x, int y);
};

// The wheel's y offset as a screen step: truncated toward zero and saturated
// to a signed 8-bit value (0 for NaN).
int wheelStep(double yoffset);
// The part of `step` that keeps the screen index within 0..lastScreen; a
// negative step goes down the screens and raises the index by its size.
int limitScreenStep(int step, int currentCanvas, int lastScreen);
