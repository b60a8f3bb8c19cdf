// QvWorld: input dispatch from the window's events to the scene's widgets,
// controls, camera and key handlers.
#include "engine/shell/qvworld.h"

#include "engine/core/qvcamera.h"
#include "engine/gl/qvmaterialobject.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"

#include <GLFW/glfw3.h>
#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kLastScreen = 4;  // monitor screens 0..4: info, route, speed, stops, title
constexpr int kLeftButton = GLFW_MOUSE_BUTTON_LEFT;
constexpr int kRightButton = GLFW_MOUSE_BUTTON_RIGHT;
constexpr int kMiddleButton = GLFW_MOUSE_BUTTON_MIDDLE;

// Hidden widgets are not on screen: they take no clicks, hover, keys or text.
bool takesInput(const QvWidget3D* widget)
{
    return widget->onScreen;
}

// The widget's controls, copied: a handler may show or hide controls while
// the list is walked.
std::vector<QvMaterialObject*> controlsOf(const QvWidget3D* widget)
{
    return widget->components;
}

}  // namespace

int wheelStep(double yoffset)
{
    if (std::isnan(yoffset)) return 0;
    return int(std::trunc(std::clamp(yoffset, -128.0, 127.0)));
}

int limitScreenStep(int step, int currentCanvas, int lastScreen)
{
    if (step < 0) return -std::min(-step, std::max(0, lastScreen - currentCanvas));
    return std::min(step, std::max(0, currentCanvas));
}

QvWorld::QvWorld(int width, int height, int screenWidthValue, int screenHeightValue, float glslVersionValue)
    : QvWorld(nullptr, width, height, screenWidthValue, screenHeightValue, glslVersionValue)
{
    _initializeScene();
}

QvWorld::QvWorld(std::unique_ptr<QvScene> activeScene, int width, int height, int screenWidthValue,
                 int screenHeightValue, float glslVersionValue)
{
    setCartesianLengths(width, height);
    setScreenDimension(screenWidthValue, screenHeightValue);
    glslVersion = glslVersionValue;
    scene = std::move(activeScene);
    _initializeEvents();
}

QvWorld::~QvWorld() = default;

void QvWorld::setCartesianLengths(int width, int height)
{
    cartesianWidth = width;
    cartesianHeight = height;
}

void QvWorld::setScreenDimension(int width, int height)
{
    screenWidth = width;
    screenHeight = height;
}

void QvWorld::setActiveScene(std::unique_ptr<QvScene> newScene)
{
    scene = std::move(newScene);
    saveWindow();
}

void QvWorld::drawRequest(double time)
{
    scene->camera->frameTime = time;
    scene->renderScene();
}

void QvWorld::saveWindow()
{
    if (scene) scene->window = window;
}

void QvWorld::_initializeScene()
{
    scene =
        std::make_unique<QvScene>(cartesianWidth, cartesianHeight, screenWidth, screenHeight, glslVersion);
}

void QvWorld::_initializeEvents()
{
    onResize += [this](QvWorld* s, QvWindowEventArgs* a) { _windowResize(s, a); };
    onChar += [this](QvWorld* s, QvCharEventArgs* a) { _charAdd(s, a); };
    onKeyPress += [this](QvWorld* s, QvKeyboardEventArgs* a) { _keyPress(s, a); };
    onKeyDown += [this](QvWorld* s, QvKeyboardEventArgs* a) { _keyDown(s, a); };
    onKeyUp += [this](QvWorld* s, QvKeyboardEventArgs* a) { _keyUp(s, a); };
    onMouseButtonPress += [this](QvWorld* s, QvMouseEventArgs* a) { _mouseButtonPress(s, a); };
    onMouseButtonRelease += [this](QvWorld* s, QvMouseEventArgs* a) { _mouseButtonRelease(s, a); };
    onCursorMove += [this](QvWorld* s, QvCursorEventArgs* a) { _cursorPositionChange(s, a); };
    onScroll += [this](QvWorld* s, QvScrollEventArgs* a) { _scroll(s, a); };
    onQuit += [this](QvWorld* s, QvEventArgs* a) { _quit(s, a); };
    onDrop += [this](QvWorld* s, QvDropEventArgs* a) { _drop(s, a); };
}

// A minimised window reports 0x0: picking keeps the last real size, since
// normalised device coordinates would divide by zero.
void QvWorld::_windowResize(QvWorld*, QvWindowEventArgs* args)
{
    if (args->width > 0 && args->height > 0) setCartesianLengths(args->width, args->height);
    scene->setViewport(args->width, args->height);
}

void QvWorld::_charAdd(QvWorld*, QvCharEventArgs* args)
{
    for (QvWidget3D* widget : scene->widgets) {
        if (!takesInput(widget)) continue;
        for (QvMaterialObject* control : controlsOf(widget)) {
            if (control->focused) (*control->onChar)(control, args);
        }
    }
}

void QvWorld::_keyPress(QvWorld*, QvKeyboardEventArgs* args)
{
    _routeKey(args, KeyRoute::press);
}

void QvWorld::_keyDown(QvWorld*, QvKeyboardEventArgs* args)
{
    _routeKey(args, KeyRoute::down);
}

void QvWorld::_keyUp(QvWorld*, QvKeyboardEventArgs* args)
{
    _routeKey(args, KeyRoute::up);
}

// Keys go to every focused control; the scene gets them only when no control
// had focus. A release always reaches the scene's key table, so a camera key
// held before a control took focus does not stay held.
void QvWorld::_routeKey(QvKeyboardEventArgs* args, KeyRoute route)
{
    bool handled = false;
    for (QvWidget3D* widget : scene->widgets) {
        if (!takesInput(widget)) continue;
        for (QvMaterialObject* control : controlsOf(widget)) {
            if (!control->focused) continue;
            handled = true;
            switch (route) {
            case KeyRoute::press:
                (*control->onKeyPress)(control, args);
                break;
            case KeyRoute::down:
                (*control->onKeyDown)(control, args);
                break;
            case KeyRoute::up:
                (*control->onKeyUp)(control, args);
                break;
            }
        }
    }
    const bool release = route == KeyRoute::press && args->action == GLFW_RELEASE;
    if (handled && !release) return;
    switch (route) {
    case KeyRoute::press:
        scene->handlerKeyPress(args);
        break;
    case KeyRoute::down:
        scene->handlerKeyDown(args);
        break;
    case KeyRoute::up:
        scene->handlerKeyUp(args);
        break;
    }
}

// The pixel's normalised device x, y (z and w 0), as the picking tests take it.
glm::vec4 QvWorld::_pickingVector(int x, int y)
{
    const glm::vec4 ndc = scene->getWorldCoords(x, y, float(cartesianWidth), float(cartesianHeight));
    return glm::vec4(ndc.x, ndc.y, 0.0f, 0.0f);
}

// A left press clears every control's focus, then focuses and presses the hit
// controls of the first on-screen widget that has a hit.
void QvWorld::_mouseButtonPress(QvWorld*, QvMouseEventArgs* args)
{
    Camera* camera = scene->camera.get();
    if (args->button == kLeftButton) {
        const glm::vec4 p = _pickingVector(args->x, args->y);
        bool hitFound = false;
        for (QvWidget3D* widget : scene->widgets) {
            const bool picking = !hitFound && takesInput(widget);
            for (QvMaterialObject* control : controlsOf(widget)) {
                control->focused = false;
                if (!picking || !control->pickable) continue;
                if (control->findIntersectsWithAABB(p, args)) {
                    widget->updateChildren(control->getTransform());
                    hitFound = true;
                    control->focused = control->takesFocus();
                }
            }
        }
    } else if (args->button == kRightButton) {
        camera->cameraData.lastX = float(args->x);
        camera->cameraData.lastY = float(args->y);
        camera->lookAroundActive = true;
    } else if (args->button == kMiddleButton) {
        camera->cameraData.lastX = float(args->x);
        camera->cameraData.lastY = float(args->y);
        camera->moveStraightActive = true;
    }
}

// Every pressed control gets its release ("click"), wherever the pointer is.
void QvWorld::_mouseButtonRelease(QvWorld*, QvMouseEventArgs* args)
{
    for (QvWidget3D* widget : scene->widgets) {
        for (QvMaterialObject* control : controlsOf(widget)) {
            if (!control->pressed) continue;
            control->pressed = false;
            (*control->onMouseButtonRelease)(control, args);
            widget->updateChildren(control->getTransform());
        }
    }
    Camera* camera = scene->camera.get();
    if (args->button == kRightButton) camera->lookAroundActive = false;
    if (args->button == kMiddleButton) camera->moveStraightActive = false;
}

// Hover is tested afresh on every move; held right or middle buttons turn or
// pan the camera.
void QvWorld::_cursorPositionChange(QvWorld*, QvCursorEventArgs* args)
{
    const glm::vec4 p = _pickingVector(args->x, args->y);
    for (QvWidget3D* widget : scene->widgets) {
        for (QvMaterialObject* control : controlsOf(widget)) {
            control->hovered = false;
            if (takesInput(widget) && control->pickable) {
                control->findIntersectsWithAABBMouseMove(p, args);
            }
        }
    }
    Camera* camera = scene->camera.get();
    if (camera->lookAroundActive) camera->lookAround(double(args->x), double(args->y));
    if (camera->moveStraightActive) camera->moveStraight(double(args->x), double(args->y));
}

// The wheel moves the camera between the monitor screens; a step is cut to
// what keeps the screen index within 0..4, so camera and index stay in step.
// A horizontal scroll (step 0) below the first screen still commits the
// camera where it stands, as any upward step there does.
void QvWorld::_scroll(QvWorld*, QvScrollEventArgs* args)
{
    const int step = wheelStep(args->yoffset);
    const int taken = limitScreenStep(step, scene->currentCanvas, kLastScreen);
    if (taken != 0 || (step == 0 && scene->currentCanvas > 0)) {
        scene->camera->moveUpDown(double(taken));
        scene->currentCanvas -= taken;
    }
    fmt::print("yoffset  {}, currentCanvas {}\n", step, scene->currentCanvas);
}

void QvWorld::_quit(QvWorld*, QvEventArgs*)
{
    scene->destroy();
}

void QvWorld::_drop(QvWorld*, QvDropEventArgs* args)
{
    fmt::print("Count of files:  {}\n", args->count);
    for (int i = 0; i < args->count; ++i) {
        fmt::print("File:  {}\n", args->paths[i] != nullptr ? args->paths[i] : "");
    }
}
