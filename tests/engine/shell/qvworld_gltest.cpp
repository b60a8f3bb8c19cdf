// Input dispatch of the world against a test scene: focus, picking order and
// NDC mapping, release, hidden widgets, key routing, the wheel, resizes.
// Controls are squares in normalised device coordinates (identity camera and
// projection), so every expected hit is computed by hand from pixels.
#include "engine/shell/qvworld.h"

#include "engine/core/qvboundingvolumes.h"
#include "engine/core/qvcamera.h"
#include "engine/gl/qvmaterialobject.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

// A scene without OpenGL that records what the world asks of it.
class TestScene : public QvScene {
public:
    TestScene() : QvScene(Bare{}, kWidth, kHeight, 1920, 1080, 3.3f) {}

    void handlerKeyPress(QvKeyboardEventArgs* args) override
    {
        ++keyPresses;
        QvScene::handlerKeyPress(args);
    }
    void handlerKeyDown(QvKeyboardEventArgs* args) override
    {
        ++keyDowns;
        QvScene::handlerKeyDown(args);
    }
    void handlerKeyUp(QvKeyboardEventArgs* args) override
    {
        ++keyUps;
        QvScene::handlerKeyUp(args);
    }
    void setViewport(int w, int h) override
    {
        QvScene::setViewport(w, h);
        ++viewports;
    }
    void destroy() override { ++destroyed; }

    int keyPresses = 0;
    int keyDowns = 0;
    int keyUps = 0;
    int viewports = 0;
    int destroyed = 0;
};

// A pickable square covering NDC [x0, x1] x [y0, y1], counting its events.
class Square : public QvMaterialObject {
public:
    Square(const std::string& name, float x0, float y0, float x1, float y1) : QvMaterialObject(name)
    {
        const glm::vec4 a(x0, y0, 0, 1), b(x1, y0, 0, 1), c(x1, y1, 0, 1), d(x0, y1, 0, 1);
        aabb = std::make_unique<QvAABB>(std::vector<Triangle>{{a, b, c}, {a, c, d}});
        mcp.camera = glm::mat4(1.0f);
        mcp.projection = glm::mat4(1.0f);
        pickable = true;
        *onMouseButtonPress += [this]() { ++presses; };
        *onMouseButtonRelease += [this]() { ++releases; };
        *onKeyPress += [this](QvMaterialObject*, QvKeyboardEventArgs*) { ++keys; };
        *onChar += [this](QvMaterialObject*, QvCharEventArgs* e) { typed += char(e->codepoint); };
    }
    int presses = 0;
    int releases = 0;
    int keys = 0;
    std::string typed;
};

class WorldDispatch : public ::testing::Test {
protected:
    WorldDispatch()
    {
        auto owned = std::make_unique<TestScene>();
        scene = owned.get();
        world = std::make_unique<QvWorld>(std::move(owned), kWidth, kHeight, 1920, 1080, 3.3f);
        for (auto* widget : {&first, &second}) {
            *widget = std::make_unique<QvWidget3D>(scene);
            (*widget)->onScreen = true;
            scene->widgets.push_back(widget->get());
        }
    }

    Square* add(QvWidget3D* widget, float x0, float y0, float x1, float y1)
    {
        squares.push_back(std::make_unique<Square>("QvModel_Test", x0, y0, x1, y1));
        squares.back()->setId(int(squares.size()));
        widget->showComponent(squares.back().get());
        return squares.back().get();
    }

    void press(int button, int x, int y)
    {
        mouse = {};
        mouse.x = x;
        mouse.y = y;
        mouse.button = button;
        mouse.action = GLFW_PRESS;
        world->onMouseButtonPress(world.get(), &mouse);
    }
    void release(int button, int x, int y)
    {
        mouse.x = x;
        mouse.y = y;
        mouse.button = button;
        mouse.action = GLFW_RELEASE;
        world->onMouseButtonRelease(world.get(), &mouse);
    }
    // A key as the OpenGL window relays it: key-press always, then key-down
    // on a press or key-up on a release.
    void key(int code, int action)
    {
        keyboard = {};
        keyboard.key = code;
        keyboard.action = action;
        world->onKeyPress(world.get(), &keyboard);
        if (action == GLFW_PRESS) world->onKeyDown(world.get(), &keyboard);
        if (action == GLFW_RELEASE) world->onKeyUp(world.get(), &keyboard);
    }
    void wheel(double yoffset)
    {
        scroll.xoffset = 0.0;
        scroll.yoffset = yoffset;
        world->onScroll(world.get(), &scroll);
    }

    TestScene* scene = nullptr;
    std::unique_ptr<QvWorld> world;
    std::unique_ptr<QvWidget3D> first;
    std::unique_ptr<QvWidget3D> second;
    std::vector<std::unique_ptr<Square>> squares;
    QvMouseEventArgs mouse;
    QvKeyboardEventArgs keyboard;
    QvScrollEventArgs scroll;
};

}  // namespace

// Pixel (px, py) of a 1024x768 window is NDC (px/512 - 1, 1 - py/384).
TEST_F(WorldDispatch, LeftPressPicksThroughNormalisedDeviceCoordinates)
{
    Square* square = add(first.get(), 0.0f, 0.0f, 0.5f, 0.5f);  // pixels x 512..768, y 192..384
    press(GLFW_MOUSE_BUTTON_LEFT, 400, 300);                    // NDC (-0.22, 0.22): left of it
    EXPECT_FALSE(square->pressed);
    press(GLFW_MOUSE_BUTTON_LEFT, 600, 150);  // NDC (0.17, 0.61): above it
    EXPECT_FALSE(square->pressed);
    press(GLFW_MOUSE_BUTTON_LEFT, 600, 300);  // NDC (0.17, 0.22): inside
    EXPECT_TRUE(square->pressed);
    EXPECT_TRUE(square->focused);
    EXPECT_EQ(square->presses, 1);
    const glm::vec4 expected(600.0f / 512.0f - 1.0f, 1.0f - 300.0f / 384.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(square->mouseVector.x, expected.x);
    EXPECT_FLOAT_EQ(square->mouseVector.y, expected.y);
}

TEST_F(WorldDispatch, FirstWidgetWithAHitWinsAndEveryOtherControlLosesFocus)
{
    Square* upper = add(first.get(), -0.5f, -0.5f, 0.5f, 0.5f);
    Square* overlapping = add(first.get(), 0.0f, 0.0f, 0.9f, 0.9f);
    Square* lower = add(second.get(), -0.9f, -0.9f, 0.9f, 0.9f);
    Square* elsewhere = add(second.get(), -1.0f, 0.95f, -0.95f, 1.0f);

    press(GLFW_MOUSE_BUTTON_LEFT, 10, 5);  // only `elsewhere`, in the second widget
    EXPECT_TRUE(elsewhere->focused);
    release(GLFW_MOUSE_BUTTON_LEFT, 10, 5);

    press(GLFW_MOUSE_BUTTON_LEFT, 600, 300);  // inside all three big squares
    EXPECT_TRUE(upper->focused && upper->pressed);
    EXPECT_TRUE(overlapping->focused && overlapping->pressed);
    EXPECT_FALSE(lower->pressed);  // the first widget won
    EXPECT_FALSE(lower->focused);
    EXPECT_FALSE(elsewhere->focused);  // focus is cleared in every widget

    release(GLFW_MOUSE_BUTTON_LEFT, 1000, 700);  // released far away: still the click
    EXPECT_EQ(upper->releases, 1);
    EXPECT_EQ(overlapping->releases, 1);
    EXPECT_EQ(lower->releases, 0);
    EXPECT_FALSE(upper->pressed);

    press(GLFW_MOUSE_BUTTON_LEFT, 1020, 760);  // empty space
    for (const auto& square : squares) EXPECT_FALSE(square->focused);
}

TEST_F(WorldDispatch, HiddenWidgetsTakeNoClicksHoverOrKeys)
{
    Square* hidden = add(first.get(), -1.0f, -1.0f, 1.0f, 1.0f);
    Square* shown = add(second.get(), -1.0f, -1.0f, 1.0f, 1.0f);
    press(GLFW_MOUSE_BUTTON_LEFT, 512, 384);
    release(GLFW_MOUSE_BUTTON_LEFT, 512, 384);
    ASSERT_TRUE(hidden->focused);  // the first widget wins while shown

    first->removeFromScreen();
    key(GLFW_KEY_X, GLFW_PRESS);  // hidden's stale focus must not take it
    EXPECT_EQ(hidden->keys, 0);
    EXPECT_EQ(scene->keyPresses, 1);

    press(GLFW_MOUSE_BUTTON_LEFT, 512, 384);
    EXPECT_FALSE(hidden->pressed);
    EXPECT_TRUE(shown->pressed);

    QvCursorEventArgs cursor;
    cursor.x = 512;
    cursor.y = 384;
    world->onCursorMove(world.get(), &cursor);
    EXPECT_FALSE(hidden->hovered);
    EXPECT_TRUE(shown->hovered);
}

TEST_F(WorldDispatch, KeysAndCharactersGoToFocusedControlsElseToTheScene)
{
    Square* edit = add(first.get(), -1.0f, -1.0f, 0.0f, 0.0f);
    QvCharEventArgs character;
    character.codepoint = 'q';
    world->onChar(world.get(), &character);  // nothing focused: dropped
    EXPECT_EQ(edit->typed, "");

    key(GLFW_KEY_W, GLFW_PRESS);
    EXPECT_TRUE(scene->keys[GLFW_KEY_W]);
    EXPECT_EQ(scene->keyDowns, 1);

    press(GLFW_MOUSE_BUTTON_LEFT, 100, 700);  // focus the control while W is held
    key(GLFW_KEY_E, GLFW_PRESS);
    world->onChar(world.get(), &character);
    EXPECT_EQ(edit->keys, 1);
    EXPECT_EQ(edit->typed, "q");
    EXPECT_FALSE(scene->keys[GLFW_KEY_E]);
    EXPECT_EQ(scene->keyDowns, 1);

    // Releasing W while the control has focus must still free the camera key.
    key(GLFW_KEY_W, GLFW_RELEASE);
    EXPECT_FALSE(scene->keys[GLFW_KEY_W]);
    EXPECT_EQ(edit->keys, 2);  // the control saw the E press and the W release

    key(GLFW_KEY_E, GLFW_REPEAT);
    EXPECT_FALSE(scene->keys[GLFW_KEY_E]);
}

// A control that declines focus (a read-only ticker) is still pressed, but
// the keys stay with the scene.
TEST_F(WorldDispatch, ControlThatDeclinesFocusLeavesTheKeysToTheScene)
{
    class Ticker : public Square {
    public:
        using Square::Square;
        bool takesFocus() const override { return false; }
    };
    squares.push_back(std::make_unique<Ticker>("QvModel_LabelLogo", -1.0f, -1.0f, 0.0f, 0.0f));
    first->showComponent(squares.back().get());
    Square* ticker = squares.back().get();
    press(GLFW_MOUSE_BUTTON_LEFT, 100, 700);
    EXPECT_TRUE(ticker->pressed);
    EXPECT_EQ(ticker->presses, 1);
    EXPECT_FALSE(ticker->focused);
    key(GLFW_KEY_W, GLFW_PRESS);
    EXPECT_TRUE(scene->keys[GLFW_KEY_W]);
    EXPECT_EQ(ticker->keys, 0);
}

TEST_F(WorldDispatch, RightAndMiddleDragsDriveTheCameraWithoutTouchingFocus)
{
    Square* square = add(first.get(), -1.0f, -1.0f, 1.0f, 1.0f);
    press(GLFW_MOUSE_BUTTON_LEFT, 512, 384);
    release(GLFW_MOUSE_BUTTON_LEFT, 512, 384);
    ASSERT_TRUE(square->focused);

    Camera& camera = *scene->camera;
    const glm::vec3 front = camera.getTarget();
    press(GLFW_MOUSE_BUTTON_RIGHT, 500, 400);
    EXPECT_TRUE(camera.lookAroundActive);
    EXPECT_EQ(camera.cameraData.lastX, 500.0f);
    QvCursorEventArgs cursor;
    cursor.x = 600;
    cursor.y = 400;
    world->onCursorMove(world.get(), &cursor);
    EXPECT_GT(camera.getTarget().x, front.x);  // dragged right: turned right
    release(GLFW_MOUSE_BUTTON_RIGHT, 600, 400);
    EXPECT_FALSE(camera.lookAroundActive);
    EXPECT_TRUE(square->focused);

    const glm::vec3 before = camera.getPosition();
    press(GLFW_MOUSE_BUTTON_MIDDLE, 600, 400);
    cursor.y = 380;  // dragged up by 20 pixels: up by 20 x 0.05
    world->onCursorMove(world.get(), &cursor);
    EXPECT_NEAR(camera.getPosition().y, before.y + 1.0f, 1e-4f);
    release(GLFW_MOUSE_BUTTON_MIDDLE, 600, 380);
    EXPECT_FALSE(camera.moveStraightActive);
}

TEST_F(WorldDispatch, WheelStepsSaturateAndKeepTheScreenIndexInRange)
{
    const float startY = scene->camera->getPosition().y;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 6; ++i) wheel(-1.0);
    const std::string lines = testing::internal::GetCapturedStdout();
    EXPECT_EQ(scene->currentCanvas, 4);
    EXPECT_NEAR(scene->camera->getPosition().y, startY - 4 * 24.0f, 1e-3f);
    EXPECT_EQ(lines.find("yoffset  -1, currentCanvas 1\n"), 0u);
    EXPECT_NE(lines.find("yoffset  -1, currentCanvas 4\nyoffset  -1, currentCanvas 4\n"), std::string::npos);

    wheel(3.0);  // 4 -> 1
    EXPECT_EQ(scene->currentCanvas, 1);
    wheel(200.0);  // far past 127: saturates, and stops at screen 0
    EXPECT_EQ(scene->currentCanvas, 0);
    EXPECT_NEAR(scene->camera->getPosition().y, startY, 1e-3f);
    wheel(-1000.0);  // would wrap to a positive step as a plain 8-bit narrowing
    EXPECT_EQ(scene->currentCanvas, 4);
    wheel(std::nan(""));
    EXPECT_EQ(scene->currentCanvas, 4);

    EXPECT_EQ(wheelStep(-0.9), 0);
    EXPECT_EQ(wheelStep(-1000.0), -128);
    EXPECT_EQ(wheelStep(1000.0), 127);
    EXPECT_EQ(limitScreenStep(-3, 2, 4), -2);
    EXPECT_EQ(limitScreenStep(5, 2, 4), 2);
    EXPECT_EQ(limitScreenStep(0, 2, 4), 0);
}

// A horizontal scroll commits the camera in place below the first screen
// (its moves reach the HUD) and does nothing on the first screen.
TEST_F(WorldDispatch, HorizontalScrollCommitsTheCameraOnlyBelowTheFirstScreen)
{
    int commits = 0;
    scene->camera->cameraEvent += [&commits]() { ++commits; };
    testing::internal::CaptureStdout();
    wheel(0.0);
    EXPECT_EQ(commits, 0);
    wheel(-2.0);
    const float y = scene->camera->getPosition().y;
    commits = 0;
    wheel(0.0);
    const std::string lines = testing::internal::GetCapturedStdout();
    EXPECT_EQ(commits, 1);
    EXPECT_EQ(scene->currentCanvas, 2);
    EXPECT_FLOAT_EQ(scene->camera->getPosition().y, y);
    EXPECT_NE(lines.find("yoffset  0, currentCanvas 2\n"), std::string::npos);
}

TEST_F(WorldDispatch, MinimisedWindowKeepsPickingOnTheLastRealSize)
{
    Square* square = add(first.get(), 0.0f, 0.0f, 0.5f, 0.5f);
    QvWindowEventArgs size;
    size.width = 512;
    size.height = 384;
    world->onResize(world.get(), &size);
    EXPECT_EQ(scene->width, 512);
    size.width = 0;
    size.height = 0;
    world->onResize(world.get(), &size);
    EXPECT_EQ(scene->viewports, 2);
    EXPECT_EQ(scene->width, 0);  // the scene knows it is minimised
    EXPECT_EQ(world->cartesianWidth, 512);

    press(GLFW_MOUSE_BUTTON_LEFT, 300, 150);  // NDC (0.17, 0.22) of 512x384
    EXPECT_TRUE(square->pressed);
    EXPECT_TRUE(std::isfinite(square->mouseVector.x));
}

TEST_F(WorldDispatch, QuitReachesTheSceneAndDropsAreListed)
{
    world->onQuit(world.get(), nullptr);
    EXPECT_EQ(scene->destroyed, 1);

    const char* paths[] = {"/tmp/a.obj", ""};
    QvDropEventArgs drop;
    drop.count = 2;
    drop.paths = paths;
    testing::internal::CaptureStdout();
    world->onDrop(world.get(), &drop);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Count of files:  2\nFile:  /tmp/a.obj\nFile:  \n");
}
